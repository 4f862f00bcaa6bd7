#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_events/juce_events.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "../processor/BusLayoutCases.h"
#include "HostFixture.h"

namespace
{
using qvn::test::busLayoutCases;
using qvn::test::componentStateOf;
using qvn::test::HostTest;

/** The XML text inside the component state (the blob starts with a binary header). */
juce::String componentStateText (juce::AudioPluginInstance& p)
{
    const auto inner = componentStateOf (p);
    const std::string bytes (static_cast<const char*> (inner.getData()), inner.getSize());
    const auto start = bytes.find ("<?xml");
    return start == std::string::npos ? juce::String() : juce::String::fromUTF8 (bytes.data() + start, (int) (bytes.size() - start));
}

/** Replaces text of equal length inside the component state (rewriting the
    host's XML around it) and loads it back. */
bool patchComponentState (juce::AudioPluginInstance& p, const juce::String& from, const juce::String& to)
{
    juce::MemoryBlock hostState;
    p.getStateInformation (hostState);
    auto xml = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), (int) hostState.getSize());
    auto* component = xml != nullptr ? xml->getChildByName ("IComponent") : nullptr;

    if (component == nullptr || from.getNumBytesAsUTF8() != to.getNumBytesAsUTF8())
        return false;

    juce::MemoryBlock inner;
    inner.fromBase64Encoding (component->getAllSubText());
    auto* bytes = static_cast<char*> (inner.getData());
    const std::string haystack (bytes, inner.getSize());
    const auto at = haystack.find (from.toStdString());

    if (at == std::string::npos)
        return false;

    std::memcpy (bytes + at, to.toRawUTF8(), to.getNumBytesAsUTF8());
    component->deleteAllTextElements();
    component->addTextElement (inner.toBase64Encoding());

    juce::MemoryBlock patched;
    juce::AudioProcessor::copyXmlToBinary (*xml, patched);
    p.setStateInformation (patched.getData(), (int) patched.getSize());
    return true;
}

struct HostedParam
{
    const char* name;
    const char* label;
    float defaultNormalised;
    const char* textAt0;
    const char* textAt1;
};

/** Runs noise through the instance block by block and checks that every output
    sample equals its input sample. */
void expectPassThrough (juce::AudioPluginInstance& p, int channels, double sampleRate, const std::vector<int>& blockSizes, unsigned seed)
{
    const int maxBlock = *std::max_element (blockSizes.begin(), blockSizes.end());
    p.setPlayConfigDetails (channels, channels, sampleRate, maxBlock);
    p.prepareToPlay (sampleRate, maxBlock);

    std::mt19937 rng (seed);
    std::uniform_real_distribution<float> dist (-0.9f, 0.9f);
    juce::MidiBuffer midi;

    for (int round = 0; round < 3; ++round)
    {
        for (auto n : blockSizes)
        {
            juce::AudioBuffer<float> buffer (channels, n), input (channels, n);

            for (int c = 0; c < channels; ++c)
                for (int i = 0; i < n; ++i)
                    input.setSample (c, i, dist (rng));

            buffer.makeCopyOf (input);
            p.processBlock (buffer, midi);

            for (int c = 0; c < channels; ++c)
                for (int i = 0; i < n; ++i)
                    ASSERT_EQ (buffer.getSample (c, i), input.getSample (c, i))
                        << "rate " << sampleRate << " block " << n << " channel " << c << " sample " << i;
        }
    }

    p.releaseResources();
}
} // namespace

TEST_F (HostTest, BundleDescribesAnFxPluginOfTheVendor)
{
    EXPECT_EQ (description.name, "QUORVANE");
    EXPECT_EQ (description.manufacturerName, "BROLLTANE");
    EXPECT_EQ (description.version, "1.0.1");
    EXPECT_EQ (description.pluginFormatName, "VST3");
    EXPECT_TRUE (description.category.contains ("Fx")) << description.category;
    EXPECT_FALSE (description.isInstrument);
    EXPECT_EQ (description.numInputChannels, 2);
    EXPECT_EQ (description.numOutputChannels, 2);

    auto p = load();
    ASSERT_NE (p, nullptr);
    EXPECT_EQ (p->getName(), "QUORVANE");
    EXPECT_FALSE (p->acceptsMidi());
    EXPECT_FALSE (p->producesMidi());
    EXPECT_EQ (p->getTailLengthSeconds(), 0.0);
    EXPECT_EQ (p->getTotalNumInputChannels(), 2);
    EXPECT_EQ (p->getTotalNumOutputChannels(), 2);
}

TEST_F (HostTest, HostSeesTheTwentyParametersInOrder)
{
    auto p = load();
    ASSERT_NE (p, nullptr);
    const auto& params = p->getParameters();

    std::vector<HostedParam> expected;
    expected.push_back ({ "Role", "", 0.0f, "\xe2\x80\x94", "Vocal" });
    expected.push_back ({ "Section", "", 0.0f, "A", "P" });
    std::vector<std::string> names;
    for (int i = 0; i < 16; ++i)
        names.push_back (std::string ("Offset ") + char ('A' + i));
    for (int i = 0; i < 16; ++i)
        expected.push_back ({ names[(size_t) i].c_str(), "dB", 0.5f, "-12.0", "12.0" });
    expected.push_back ({ "Target LUFS", "LUFS", 0.6f, "-36.0", "-6.0" });
    expected.push_back ({ "Inst Offset", "dB", 0.5f, "-6.0", "6.0" });

    // The framework's VST3 wrapper adds its own bypass parameter after ours.
    ASSERT_GE (params.size(), 20);
    for (int i = 20; i < params.size(); ++i)
        EXPECT_TRUE (params[i]->getName (64).containsIgnoreCase ("bypass")) << params[i]->getName (64);

    for (size_t i = 0; i < expected.size(); ++i)
    {
        auto* param = params[(int) i];
        const auto& e = expected[i];
        SCOPED_TRACE (e.name);
        EXPECT_EQ (param->getName (64), juce::String (juce::CharPointer_UTF8 (e.name)));
        EXPECT_EQ (param->getLabel(), e.label);
        EXPECT_NEAR (param->getDefaultValue(), e.defaultNormalised, 1.0e-6);
        EXPECT_NEAR (param->getValue(), e.defaultNormalised, 1.0e-6);
        EXPECT_EQ (param->getText (0.0f, 64), juce::String (juce::CharPointer_UTF8 (e.textAt0)));
        EXPECT_EQ (param->getText (1.0f, 64), juce::String (juce::CharPointer_UTF8 (e.textAt1)));
        EXPECT_TRUE (param->isAutomatable());
    }

    EXPECT_EQ (params[0]->getText (0.5f, 64), "Inst");
    EXPECT_EQ (params[0]->getNumSteps(), 3);
    EXPECT_EQ (params[1]->getNumSteps(), 16);
    EXPECT_EQ (params[1]->getText (1.0f / 15.0f, 64), "B");
    EXPECT_EQ (params[2]->getText (0.5f, 64), "0.0");
    EXPECT_EQ (params[18]->getText (0.6f, 64), "-18.0");
}

TEST_F (HostTest, OnlyEqualMonoOrStereoLayoutsAreAccepted)
{
    auto p = load();
    ASSERT_NE (p, nullptr);
    for (const auto& c : busLayoutCases())
    {
        EXPECT_EQ (p->setBusesLayout (c.layout()), c.ok) << c.description();

        if (c.ok)
        {
            EXPECT_EQ (p->getMainBusNumInputChannels(), c.in.size());
            EXPECT_EQ (p->getMainBusNumOutputChannels(), c.out.size());
        }
    }
}

TEST_F (HostTest, AudioPassesUnchangedAtCommonRatesAndOddBlockSizes)
{
    const std::vector<int> blocks { 1, 17, 441, 512, 1000, 4097, 64 };

    for (const double rate : { 44100.0, 48000.0, 96000.0 })
    {
        auto p = load (rate, 4097);
        ASSERT_NE (p, nullptr);
        expectPassThrough (*p, 2, rate, blocks, (unsigned) rate);

        juce::AudioProcessor::BusesLayout mono;
        mono.inputBuses.add (juce::AudioChannelSet::mono());
        mono.outputBuses.add (juce::AudioChannelSet::mono());
        ASSERT_TRUE (p->setBusesLayout (mono));
        expectPassThrough (*p, 1, rate, blocks, (unsigned) rate + 1);
    }
}

TEST_F (HostTest, SeveralInstancesWithRolesProcessSideBySide)
{
    std::vector<std::unique_ptr<juce::AudioPluginInstance>> instances;

    for (int i = 0; i < 4; ++i)
    {
        instances.push_back (load());
        ASSERT_NE (instances.back(), nullptr);
    }

    // One Inst, two Vocals and an extra Inst that the registry must refuse.
    const float roles[] = { 0.5f, 1.0f, 1.0f, 0.5f };

    for (size_t i = 0; i < instances.size(); ++i)
        setParameterValue (*instances[i], 0, roles[i]);

    pumpMessages (200);

    for (size_t i = 0; i < instances.size(); ++i)
    {
        EXPECT_EQ (instances[i]->getParameters()[0]->getValue(), roles[i]);
        expectPassThrough (*instances[i], 2, 48000.0, { 480, 333 }, (unsigned) i);
    }

    // Destroy the Inst first, while the others live on and keep processing.
    instances.erase (instances.begin());
    pumpMessages (100);

    for (size_t i = 0; i < instances.size(); ++i)
        expectPassThrough (*instances[i], 2, 44100.0, { 128 }, (unsigned) i + 10);
}

TEST_F (HostTest, LinkedInstancesShareTheInstsMeasurementSettings)
{
    // The instances of one process link through the registry inside the
    // bundle: a Vocal takes the RMS time of the Inst it links to, an instance
    // without a role keeps its own. What the host sees is the saved state.
    auto inst = load();
    auto vocal = load();
    auto idle = load();
    ASSERT_TRUE (inst != nullptr && vocal != nullptr && idle != nullptr);

    setParameterValue (*inst, 0, 0.5f);
    pumpMessages (100);
    ASSERT_TRUE (componentStateText (*inst).contains ("rmsTimeSec=\"3.0\""));
    ASSERT_TRUE (patchComponentState (*inst, "rmsTimeSec=\"3.0\"", "rmsTimeSec=\"5.0\""));
    ASSERT_TRUE (componentStateText (*inst).contains ("rmsTimeSec=\"5.0\""));
    EXPECT_TRUE (componentStateText (*vocal).contains ("rmsTimeSec=\"3.0\""));

    setParameterValue (*vocal, 0, 1.0f);
    pumpUntil ([&] { return componentStateText (*vocal).contains ("rmsTimeSec=\"5.0\""); }, 5000);
    EXPECT_TRUE (componentStateText (*vocal).contains ("rmsTimeSec=\"5.0\""));
    EXPECT_TRUE (componentStateText (*idle).contains ("rmsTimeSec=\"3.0\""));

    // With the Inst gone the Vocal keeps what it has; a new Vocal follows the
    // first Vocal, now the reference.
    inst.reset();
    setParameterValue (*idle, 0, 1.0f);
    pumpUntil ([&] { return componentStateText (*idle).contains ("rmsTimeSec=\"5.0\""); }, 5000);
    EXPECT_TRUE (componentStateText (*idle).contains ("rmsTimeSec=\"5.0\""));
}
