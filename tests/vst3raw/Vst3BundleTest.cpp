// The built plug-in bundle, loaded with dlopen and driven only through the
// VST3 interfaces, as a host drives it.

#include "BundleFactory.h"

#include <pluginterfaces/vst/ivstautomationstate.h>

#include <gtest/gtest.h>

#include <cmath>

using namespace qvntest;

namespace
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 512;


    class Bundle : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            factory = bundleFactory();
            ASSERT_NE (factory, nullptr);
        }

        std::unique_ptr<RawVst3Plugin> makePlugin (bool connect = true)
        {
            auto plugin = std::make_unique<RawVst3Plugin> (*factory, connect);
            EXPECT_TRUE (plugin->isValid());
            EXPECT_EQ (plugin->isConnected(), connect);
            return plugin;
        }

        Steinberg::IPluginFactory* factory = nullptr;
    };

    std::string toAscii (const char* text) { return text; }
}

TEST_F (Bundle, FactoryDescribesTheEffect)
{
    Steinberg::PFactoryInfo info {};
    ASSERT_EQ (factory->getFactoryInfo (&info), Steinberg::kResultOk);
    EXPECT_EQ (toAscii (info.vendor), "BROLLTANE");

    bool hasComponent = false, hasController = false;

    for (Steinberg::int32 i = 0; i < factory->countClasses(); ++i)
    {
        Steinberg::PClassInfo classInfo {};
        ASSERT_EQ (factory->getClassInfo (i, &classInfo), Steinberg::kResultOk);
        hasComponent |= std::string (classInfo.category) == kVstAudioEffectClass;
        hasController |= std::string (classInfo.category) == kVstComponentControllerClass;

        if (std::string (classInfo.category) == kVstAudioEffectClass)
            EXPECT_EQ (toAscii (classInfo.name), "QUORVANE");
    }

    EXPECT_TRUE (hasComponent);
    EXPECT_TRUE (hasController);
}

TEST_F (Bundle, InstancesLoadConnectAndProcess)
{
    auto plugin = makePlugin();
    ASSERT_TRUE (plugin->prepare (sampleRate, blockSize));

    std::vector<std::vector<float>> audio (2, std::vector<float> (blockSize, 0.25f));
    std::int64_t position = 0;

    for (int block = 0; block < 8; ++block, position += blockSize)
    {
        const auto context = makeProcessContext (sampleRate, position, block > 2);
        ASSERT_EQ (plugin->process (audio, blockSize, nullptr, &context), Steinberg::kResultOk);
    }

    for (auto& channel : audio)
        for (float sample : channel)
            ASSERT_TRUE (std::isfinite (sample));

    // A second instance alongside the first.
    auto other = makePlugin();
    ASSERT_TRUE (other->prepare (sampleRate, blockSize, 1));
    std::vector<std::vector<float>> mono (1, std::vector<float> (blockSize, 0.1f));
    const auto context = makeProcessContext (sampleRate, 0, false);
    EXPECT_EQ (other->process (mono, blockSize, nullptr, &context), Steinberg::kResultOk);
}

TEST_F (Bundle, StateRoundTripsThroughTheStream)
{
    auto plugin = makePlugin();
    std::vector<char> state;
    ASSERT_TRUE (plugin->getState (state));
    EXPECT_FALSE (state.empty());

    auto restored = makePlugin();
    ASSERT_TRUE (restored->setState (state));

    std::vector<char> again;
    ASSERT_TRUE (restored->getState (again));
    EXPECT_EQ (again.size(), state.size());
}

TEST_F (Bundle, SectionAndOffsetParametersAreAutomatable)
{
    auto plugin = makePlugin();

    std::vector<std::string> titles { "Section" };
    for (char letter = 'A'; letter <= 'P'; ++letter)
        titles.push_back (std::string ("Offset ") + letter);

    for (auto& title : titles)
    {
        SCOPED_TRACE (title);
        const auto id = plugin->findParameter (title);
        ASSERT_TRUE (id.has_value());

        Steinberg::Vst::ParameterInfo info {};
        bool found = false;
        for (Steinberg::int32 i = 0; i < plugin->getController()->getParameterCount() && ! found; ++i)
            found = plugin->getController()->getParameterInfo (i, info) == Steinberg::kResultOk && info.id == *id;

        ASSERT_TRUE (found);
        EXPECT_NE (info.flags & Steinberg::Vst::ParameterInfo::kCanAutomate, 0);

        // Sections A to P are the 16 steps of one choice.
        if (title == "Section")
            EXPECT_EQ (info.stepCount, 15);
    }
}

TEST_F (Bundle, SeveralPointsPerBlockWithSampleOffsetsAreAccepted)
{
    auto plugin = makePlugin();
    ASSERT_TRUE (plugin->prepare (sampleRate, blockSize));

    const auto section = plugin->findParameter ("Section");
    const auto offsetB = plugin->findParameter ("Offset B");
    const auto offsetD = plugin->findParameter ("Offset D");
    ASSERT_TRUE (section && offsetB && offsetD);

    std::vector<std::vector<float>> audio (2, std::vector<float> (blockSize, 0.25f));
    std::int64_t position = 0;

    for (int block = 0; block < 16; ++block, position += blockSize)
    {
        ParameterChanges changes;
        const double a = (block % 16) / 15.0, b = ((block + 5) % 16) / 15.0;

        // Up to more points than a block has room for in the sink's queues,
        // including two at one sample and one at the block's last sample.
        auto& sectionQueue = changes.queue (*section);
        for (int i = 0; i < (block == 7 ? 80 : 3); ++i)
            sectionQueue.point (std::min (i * 100, blockSize - 1), i % 2 == 0 ? a : b);
        sectionQueue.point (blockSize - 1, b);

        changes.queue (*offsetB).point (0, 0.25).point (0, 0.75).point (256, 0.5);
        changes.queue (*offsetD).point (block * 31 % blockSize, 1.0);

        const auto context = makeProcessContext (sampleRate, position, true);
        ASSERT_EQ (plugin->process (audio, blockSize, &changes, &context), Steinberg::kResultOk) << "block " << block;
    }

    for (auto& channel : audio)
        for (float sample : channel)
            ASSERT_TRUE (std::isfinite (sample));
}

TEST_F (Bundle, ControllerAnswersTheHostAutomationState)
{
    using Steinberg::Vst::IAutomationState;

    auto plugin = makePlugin (false);

    // The controller learns its processor when the host connects the two.
    EXPECT_EQ (plugin->queryController<IAutomationState> (Steinberg::Vst::IAutomationState_iid), nullptr);
    ASSERT_TRUE (plugin->connect());

    auto* state = plugin->queryController<IAutomationState> (Steinberg::Vst::IAutomationState_iid);
    ASSERT_NE (state, nullptr);

    ASSERT_TRUE (plugin->prepare (sampleRate, blockSize));
    std::vector<std::vector<float>> audio (2, std::vector<float> (blockSize, 0.0f));

    for (int s : { IAutomationState::kReadState, IAutomationState::kWriteState,
                   IAutomationState::kReadWriteState, IAutomationState::kNoAutomation })
    {
        EXPECT_EQ (state->setAutomationState (s), Steinberg::kResultOk);
        const auto context = makeProcessContext (sampleRate, 0, true);
        EXPECT_EQ (plugin->process (audio, blockSize, nullptr, &context), Steinberg::kResultOk);
    }

    // The host's reference is its own: releasing it leaves the object the
    // instance keeps.
    EXPECT_EQ (state->release(), 1u);
}
