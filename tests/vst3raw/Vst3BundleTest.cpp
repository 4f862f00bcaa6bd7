// The built plug-in bundle, loaded with dlopen and driven only through the
// VST3 interfaces, as a host drives it.

#include "RawVst3Host.h"

#include <pluginterfaces/vst/ivstautomationstate.h>

#include <gtest/gtest.h>

#include <cmath>

using namespace qvntest;

namespace
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 512;

    // The bundle stays loaded for the whole program, as in a host.
    Steinberg::IPluginFactory* bundleFactory()
    {
        static Steinberg::IPluginFactory* factory = []() -> Steinberg::IPluginFactory*
        {
            std::string error;
            auto module = Vst3Module::openBundle (QVN_VST3_BUNDLE_LIBRARY, error);

            if (module.getFactory == nullptr)
            {
                ADD_FAILURE() << error;
                return nullptr;
            }

            if (module.moduleEntry != nullptr && ! module.moduleEntry (module.handle))
            {
                ADD_FAILURE() << "ModuleEntry failed";
                return nullptr;
            }

            return module.getFactory();
        }();

        return factory;
    }

    class Bundle : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            factory = bundleFactory();
            ASSERT_NE (factory, nullptr);
        }

        std::unique_ptr<RawVst3Plugin> makePlugin()
        {
            auto plugin = std::make_unique<RawVst3Plugin> (*factory);
            EXPECT_TRUE (plugin->isValid());
            EXPECT_TRUE (plugin->isConnected());
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
