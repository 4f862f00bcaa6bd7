#pragma once

// The test host's loader: the built VST3 bundle, found and instantiated
// through the framework's VST3 hosting as a host does it.

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_events/juce_events.h>

#include <gtest/gtest.h>

#include <functional>

namespace juce
{
// Runs one pending message of this process's message queue.
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

namespace qvn::test
{
/** The host keeps a VST3 instance's state as XML holding the plug-in's own
    component state in base 64: that inner blob, empty where there is none. */
inline juce::MemoryBlock componentStateOf (juce::AudioPluginInstance& p)
{
    juce::MemoryBlock hostState, inner;
    p.getStateInformation (hostState);

    if (auto xml = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), (int) hostState.getSize()))
        if (auto* component = xml->getChildByName ("IComponent"))
            if (! inner.fromBase64Encoding (component->getAllSubText()))
                inner.reset();

    return inner;
}

class HostTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        formats.addFormat (new juce::VST3PluginFormat());
        juce::OwnedArray<juce::PluginDescription> found;
        formats.getFormat (0)->findAllTypesForFile (found, QVN_VST3_BUNDLE);
        ASSERT_EQ (found.size(), 1) << "bundle: " << QVN_VST3_BUNDLE;
        description = *found[0];
    }

    std::unique_ptr<juce::AudioPluginInstance> load (double sampleRate = 48000.0, int blockSize = 512)
    {
        juce::String error;
        auto instance = formats.createPluginInstance (description, sampleRate, blockSize, error);
        EXPECT_NE (instance, nullptr) << error;
        return instance;
    }

    static void pumpMessages (int milliseconds)
    {
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) milliseconds;

        while (juce::Time::getMillisecondCounter() < end)
            if (! juce::dispatchNextMessageOnSystemQueue (true))
                juce::Thread::sleep (1);
    }

    // Handles messages until the condition holds (or the time is up): a
    // loaded machine may need longer than any fixed wait.
    static void pumpUntil (const std::function<bool()>& done, int timeoutMs)
    {
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
        while (! done() && juce::Time::getMillisecondCounter() < end)
            pumpMessages (10);
    }

    static void setParameterValue (juce::AudioPluginInstance& p, int index, float normalised)
    {
        auto* param = p.getParameters()[index];
        param->beginChangeGesture();
        param->setValueNotifyingHost (normalised);
        param->endChangeGesture();
    }

    juce::ScopedJuceInitialiser_GUI juceInit;
    juce::AudioPluginFormatManager formats;
    juce::PluginDescription description;
};
} // namespace qvn::test
