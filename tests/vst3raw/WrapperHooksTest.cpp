// The framework's VST3 wrapper as patched by the build, compiled into this
// program around a recording processor and driven through the raw VST3 host:
// what reaches the sink, in which order, and what the edit controller
// answers for the host's automation state.

#include "RawVst3Host.h"
#include "RecordingProcessor.h"

#include <pluginterfaces/vst/ivstautomationstate.h>

#include <gtest/gtest.h>

extern "C" Steinberg::IPluginFactory* PLUGIN_API GetPluginFactory();

using namespace qvntest;
using Steinberg::Vst::IAutomationState;
using Steinberg::Vst::IAutomationState_iid;

namespace
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 512;

    class PatchedWrapper : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            factory = GetPluginFactory();
            ASSERT_NE (factory, nullptr);
            sinkRecorder().events.clear();
        }

        void TearDown() override
        {
            if (factory != nullptr)
                factory->release();
        }

        std::unique_ptr<RawVst3Plugin> makePlugin (bool connect = true)
        {
            auto plugin = std::make_unique<RawVst3Plugin> (*factory, connect);
            EXPECT_TRUE (plugin->isValid());
            return plugin;
        }

        Steinberg::Vst::ParamID idOf (RawVst3Plugin& plugin, const std::string& title)
        {
            auto id = plugin.findParameter (title);
            EXPECT_TRUE (id.has_value()) << title;
            return id.value_or (0);
        }

        std::vector<SinkEvent> takeEvents()
        {
            auto events = std::move (sinkRecorder().events);
            sinkRecorder().events.clear();
            return events;
        }

        Steinberg::IPluginFactory* factory = nullptr;
        std::vector<std::vector<float>> audio { std::vector<float> (blockSize), std::vector<float> (blockSize) };
    };

    float choice (int index) { return (float) (index / 15.0); }
}

TEST_F (PatchedWrapper, EveryPointReachesTheSinkBeforeTheBlockIsProcessed)
{
    auto plugin = makePlugin();
    ASSERT_TRUE (plugin->prepare (sampleRate, blockSize));
    takeEvents();

    const auto section = idOf (*plugin, "Section");
    const auto offsetC = idOf (*plugin, "Offset C");
    const auto role = idOf (*plugin, "Role");

    ParameterChanges changes;
    changes.queue (section).point (100, choice (1)).point (300, choice (3));
    changes.queue (role).point (10, 0.5);
    changes.queue (offsetC).point (0, 0.25).point (64, 0.75).point (64, 0.8);

    const auto context = makeProcessContext (sampleRate, 0, true);
    ASSERT_EQ (plugin->process (audio, blockSize, &changes, &context), Steinberg::kResultOk);

    auto events = takeEvents();
    ASSERT_EQ (events.size(), 7u);
    EXPECT_EQ (events[0], (SinkEvent { SinkEvent::begin }));
    EXPECT_EQ (events[1], (SinkEvent { SinkEvent::sectionPoint, 0, 100, choice (1) }));
    EXPECT_EQ (events[2], (SinkEvent { SinkEvent::sectionPoint, 0, 300, choice (3) }));
    EXPECT_EQ (events[3], (SinkEvent { SinkEvent::offsetPoint, 2, 0, 0.25f }));
    EXPECT_EQ (events[4], (SinkEvent { SinkEvent::offsetPoint, 2, 64, 0.75f }));
    EXPECT_EQ (events[5], (SinkEvent { SinkEvent::offsetPoint, 2, 64, 0.8f }));

    // The framework still applies each queue's last point as the value.
    EXPECT_EQ (events[6].kind, SinkEvent::block);
    EXPECT_NEAR (events[6].value, choice (3), 1.0e-6);

    // Queue order is the host's: offsets first this time.
    ParameterChanges reordered;
    reordered.queue (offsetC).point (5, 0.5);
    reordered.queue (section).point (511, choice (15));
    ASSERT_EQ (plugin->process (audio, blockSize, &reordered, &context), Steinberg::kResultOk);

    events = takeEvents();
    ASSERT_EQ (events.size(), 4u);
    EXPECT_EQ (events[0], (SinkEvent { SinkEvent::begin }));
    EXPECT_EQ (events[1], (SinkEvent { SinkEvent::offsetPoint, 2, 5, 0.5f }));
    EXPECT_EQ (events[2], (SinkEvent { SinkEvent::sectionPoint, 0, 511, choice (15) }));
    EXPECT_NEAR (events[3].value, 1.0f, 1.0e-6);
}

TEST_F (PatchedWrapper, EveryProcessCallIsAnnounced)
{
    auto plugin = makePlugin();
    ASSERT_TRUE (plugin->prepare (sampleRate, blockSize));
    takeEvents();

    const auto stopped = makeProcessContext (sampleRate, 0, false);
    ParameterChanges none;

    // Without a parameter change list, with an empty one, and without a
    // process context: each call announces its block before processing it.
    ASSERT_EQ (plugin->process (audio, blockSize, nullptr, &stopped), Steinberg::kResultOk);
    ASSERT_EQ (plugin->process (audio, blockSize, &none, &stopped), Steinberg::kResultOk);
    ASSERT_EQ (plugin->process (audio, 64, &none, nullptr), Steinberg::kResultOk);

    const auto events = takeEvents();
    ASSERT_EQ (events.size(), 6u);
    for (size_t i = 0; i < events.size(); i += 2)
    {
        EXPECT_EQ (events[i].kind, SinkEvent::begin);
        EXPECT_EQ (events[i + 1].kind, SinkEvent::block);
    }
}

TEST_F (PatchedWrapper, AnUndeliverablePointIsSkippedAndTheRestStillArrive)
{
    auto plugin = makePlugin();
    ASSERT_TRUE (plugin->prepare (sampleRate, blockSize));
    takeEvents();

    ParameterChanges changes;
    changes.queue (idOf (*plugin, "Section")).point (10, choice (2)).point (20, choice (4)).point (30, choice (6)).failPoint (1);

    const auto context = makeProcessContext (sampleRate, 0, true);
    ASSERT_EQ (plugin->process (audio, blockSize, &changes, &context), Steinberg::kResultOk);

    const std::vector<SinkEvent> expectedPoints {
        { SinkEvent::begin },
        { SinkEvent::sectionPoint, 0, 10, choice (2) },
        { SinkEvent::sectionPoint, 0, 30, choice (6) },
    };
    auto events = takeEvents();
    ASSERT_EQ (events.size(), 4u);
    events.pop_back();
    EXPECT_EQ (events, expectedPoints);
}

TEST_F (PatchedWrapper, ControllerPassesTheHostAutomationStateToTheSink)
{
    auto plugin = makePlugin (false);

    // Until component and controller are connected the controller does not
    // know its processor and cannot answer.
    EXPECT_EQ (plugin->queryController<IAutomationState> (IAutomationState_iid), nullptr);

    ASSERT_TRUE (plugin->connect());
    auto* state = plugin->queryController<IAutomationState> (IAutomationState_iid);
    ASSERT_NE (state, nullptr);

    takeEvents();
    for (int s : { IAutomationState::kReadState, IAutomationState::kWriteState,
                   IAutomationState::kReadWriteState, IAutomationState::kNoAutomation })
        EXPECT_EQ (state->setAutomationState (s), Steinberg::kResultOk);

    const std::vector<SinkEvent> expected {
        { SinkEvent::hostState, 1 }, { SinkEvent::hostState, 2 }, { SinkEvent::hostState, 3 }, { SinkEvent::hostState, 0 },
    };
    EXPECT_EQ (takeEvents(), expected);

    // The object answers for itself as a COM object does.
    void* again = nullptr;
    ASSERT_EQ (state->queryInterface (IAutomationState_iid, &again), Steinberg::kResultOk);
    EXPECT_EQ (again, state);
    static_cast<IAutomationState*> (again)->release();

    void* unknown = nullptr;
    ASSERT_EQ (state->queryInterface (Steinberg::FUnknown_iid, &unknown), Steinberg::kResultOk);
    static_cast<Steinberg::FUnknown*> (unknown)->release();

    void* other = reinterpret_cast<void*> (1);
    EXPECT_NE (state->queryInterface (Steinberg::Vst::IEditController_iid, &other), Steinberg::kResultOk);
    EXPECT_EQ (other, nullptr);

    state->release();
}

TEST_F (PatchedWrapper, HostReferencesToTheAutomationStateAreCountedAndMayOutliveThePlugin)
{
    auto plugin = makePlugin();
    ASSERT_EQ (sinkRecorder().liveProcessors, 1);

    auto* first = plugin->queryController<IAutomationState> (IAutomationState_iid);
    auto* second = plugin->queryController<IAutomationState> (IAutomationState_iid);
    ASSERT_NE (first, nullptr);
    ASSERT_EQ (first, second);

    // Two host references plus the one the processor keeps.
    EXPECT_EQ (second->release(), 2u);

    plugin.reset();
    ASSERT_EQ (sinkRecorder().liveProcessors, 0);
    takeEvents();

    // A host that calls after the instance is gone reaches no processor.
    EXPECT_EQ (first->setAutomationState (IAutomationState::kReadState), Steinberg::kResultOk);
    EXPECT_TRUE (takeEvents().empty());
    EXPECT_EQ (first->release(), 0u);
}

TEST_F (PatchedWrapper, InstancesHaveTheirOwnAutomationState)
{
    auto a = makePlugin();
    auto b = makePlugin();

    auto* stateA = a->queryController<IAutomationState> (IAutomationState_iid);
    auto* stateB = b->queryController<IAutomationState> (IAutomationState_iid);
    ASSERT_NE (stateA, nullptr);
    ASSERT_NE (stateB, nullptr);
    EXPECT_NE (stateA, stateB);

    stateA->release();
    stateB->release();
}
