// The plug-in's own processor behind the patched VST3 wrapper, both compiled
// into this program and driven through the raw VST3 host: the automation
// points of a block and the host's automation state arrive in the
// processor's queues and fields, exactly as the host sent them.

#include "RawVst3Host.h"

#include "processor/LinkRegistry.h"
#include "processor/PluginProcessor.h"

#include <pluginterfaces/vst/ivstautomationstate.h>

#include <gtest/gtest.h>

#include <algorithm>

extern "C" Steinberg::IPluginFactory* PLUGIN_API GetPluginFactory();

using namespace qvntest;

namespace
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 512;

    using SectionPoints = std::vector<std::pair<int, int>>;                  // offset, section
    using OffsetPoints = std::vector<std::tuple<int, int, float>>;           // offset, section, dB

    class ProcessorBehindWrapper : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            factory = GetPluginFactory();
            ASSERT_NE (factory, nullptr);

            const auto before = registered();
            plugin = std::make_unique<RawVst3Plugin> (*factory);
            ASSERT_TRUE (plugin->isValid());

            // The instance the wrapper created is the one the registry gained.
            for (auto* p : registered())
                if (std::find (before.begin(), before.end(), p) == before.end())
                    processor = p;

            ASSERT_NE (processor, nullptr);
            ASSERT_TRUE (plugin->prepare (sampleRate, blockSize));
        }

        void TearDown() override
        {
            plugin.reset();
            if (factory != nullptr)
                factory->release();
        }

        static std::vector<QuorvaneProcessor*> registered()
        {
            auto& registry = LinkRegistry::get();
            const std::lock_guard<std::mutex> lock (registry.mutex);
            return registry.instances;
        }

        Steinberg::Vst::ParamID idOf (const std::string& title)
        {
            const auto id = plugin->findParameter (title);
            EXPECT_TRUE (id.has_value()) << title;
            return id.value_or (0);
        }

        void process (ParameterChanges* changes)
        {
            const auto context = makeProcessContext (sampleRate, position, true);
            ASSERT_EQ (plugin->process (audio, blockSize, changes, &context), Steinberg::kResultOk);
            position += blockSize;
        }

        SectionPoints sectionQueue() const
        {
            SectionPoints result;
            const auto& q = processor->sectionAutomationQueue;
            for (int i = 0; i < q.count; ++i)
                result.push_back ({ q.points[(size_t) i].sampleOffset, q.points[(size_t) i].section });
            return result;
        }

        OffsetPoints offsetQueue() const
        {
            OffsetPoints result;
            const auto& q = processor->offsetAutomationQueue;
            for (int i = 0; i < q.count; ++i)
                result.push_back ({ q.points[(size_t) i].sampleOffset, q.points[(size_t) i].section, q.points[(size_t) i].offsetDb });
            return result;
        }

        Steinberg::IPluginFactory* factory = nullptr;
        std::unique_ptr<RawVst3Plugin> plugin;
        QuorvaneProcessor* processor = nullptr;
        std::vector<std::vector<float>> audio { std::vector<float> (blockSize), std::vector<float> (blockSize) };
        std::int64_t position = 0;
    };

    double choice (int section) { return section / 15.0; }
}

TEST_F (ProcessorBehindWrapper, SectionPointsOfABlockArriveWithTheirSampleOffsets)
{
    const auto section = idOf ("Section");

    struct Case
    {
        const char* what;
        std::vector<std::pair<int, double>> sent;
        SectionPoints queued;
    };

    const Case cases[] = {
        { "B at 100, D at 300", { { 100, choice (1) }, { 300, choice (3) } }, { { 100, 1 }, { 300, 3 } } },
        { "same offset: the later point wins", { { 50, choice (2) }, { 50, choice (9) }, { 400, choice (4) } }, { { 50, 9 }, { 400, 4 } } },
        { "a negative offset counts as 0", { { -8, choice (5) }, { 511, choice (15) } }, { { 0, 5 }, { 511, 15 } } },
        { "values between steps round to the nearest section", { { 10, 0.51 }, { 20, 0.0 } }, { { 10, 8 }, { 20, 0 } } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        ParameterChanges changes;
        auto& queue = changes.queue (section);
        for (auto& [offset, value] : c.sent)
            queue.point (offset, value);

        process (&changes);
        EXPECT_EQ (sectionQueue(), c.queued);
        EXPECT_TRUE (offsetQueue().empty());
    }

    // The next block empties the queue, with or without changes.
    process (nullptr);
    EXPECT_TRUE (sectionQueue().empty());
}

TEST_F (ProcessorBehindWrapper, MoreThanAQueueOfPointsKeepsTheFirstAndTheLast)
{
    ParameterChanges changes;
    auto& queue = changes.queue (idOf ("Section"));
    for (int i = 0; i < 80; ++i)
        queue.point (i * 6, choice (i % 16));

    process (&changes);

    const auto queued = sectionQueue();
    ASSERT_EQ (queued.size(), 64u);
    for (int i = 0; i < 63; ++i)
        EXPECT_EQ (queued[(size_t) i], std::make_pair (i * 6, i % 16));
    EXPECT_EQ (queued.back(), std::make_pair (79 * 6, 79 % 16));
}

TEST_F (ProcessorBehindWrapper, OffsetPointsArriveForTheirSection)
{
    ParameterChanges changes;
    changes.queue (idOf ("Offset C")).point (0, 0.75).point (128, 0.25);
    changes.queue (idOf ("Offset P")).point (64, 1.0);
    changes.queue (idOf ("Offset A")).point (300, 0.5);
    changes.queue (idOf ("Target LUFS")).point (10, 0.5);

    process (&changes);

    const OffsetPoints expected {
        { 0, 2, 6.0f }, { 128, 2, -6.0f }, { 64, 15, 12.0f }, { 300, 0, 0.0f },
    };
    EXPECT_EQ (offsetQueue(), expected);
    EXPECT_TRUE (sectionQueue().empty());
}

TEST_F (ProcessorBehindWrapper, HostAutomationStateReachesTheProcessor)
{
    using Steinberg::Vst::IAutomationState;

    auto* state = plugin->queryController<IAutomationState> (Steinberg::Vst::IAutomationState_iid);
    ASSERT_NE (state, nullptr);

    const int reportsBefore = processor->hostStateReports.load();

    for (int s : { IAutomationState::kReadState, IAutomationState::kReadWriteState, IAutomationState::kNoAutomation, IAutomationState::kWriteState })
    {
        EXPECT_EQ (state->setAutomationState (s), Steinberg::kResultOk);
        EXPECT_EQ (processor->hostAutomationState.load(), s);
    }

    EXPECT_EQ (processor->hostStateReports.load(), reportsBefore + 4);
    state->release();
}
