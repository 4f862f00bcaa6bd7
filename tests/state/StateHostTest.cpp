// The plug-in state through the built bundle: a host saves an instance and
// restores it into a fresh one.

#include "../host/HostFixture.h"
#include "StateTestUtils.h"

using namespace qvn::test;

namespace
{
/** What the framework's VST3 host stores: the component and controller states
    as base-64 children of an XML document in the binary framing. */
std::string hostBlobFor (const std::string& componentState)
{
    juce::XmlElement state ("VST3PluginState");
    juce::MemoryBlock component (componentState.data(), componentState.size());
    state.createNewChildElement ("IComponent")->addTextElement (component.toBase64Encoding());
    juce::MemoryBlock out;
    juce::AudioProcessor::copyXmlToBinary (state, out);
    return std::string ((const char*) out.getData(), out.getSize());
}

/** The processor's own blob inside what the host stored (the wrapper may
    append data of its own after it). */
std::string processorBlobOf (juce::AudioPluginInstance& instance)
{
    const auto component = componentStateOf (instance);

    if (component.getSize() < 9)
        return {};

    std::uint32_t length = 0;
    std::memcpy (&length, (const char*) component.getData() + 4, 4);

    if ((size_t) length + 9 > component.getSize())
        return {};

    return std::string ((const char*) component.getData(), (size_t) length + 9);
}

std::string hostStateOf (juce::AudioPluginInstance& instance)
{
    juce::MemoryBlock hostState;
    instance.getStateInformation (hostState);
    return std::string ((const char*) hostState.getData(), hostState.getSize());
}

/** Runs the same noise through an instance with the section parameter
    stepping through all sections; returns the output. */
std::vector<float> render (juce::AudioPluginInstance& p, int blocks)
{
    constexpr int blockSize = 480;
    p.setPlayConfigDetails (2, 2, 48000.0, blockSize);
    p.prepareToPlay (48000.0, blockSize);

    std::mt19937 rng (99);
    std::uniform_real_distribution<float> dist (-0.5f, 0.5f);
    juce::MidiBuffer midi;
    std::vector<float> out;

    for (int b = 0; b < blocks; ++b)
    {
        p.getParameters()[1]->setValueNotifyingHost ((float) ((b / 20) % 16) / 15.0f);
        juce::AudioBuffer<float> buffer (2, blockSize);

        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < blockSize; ++i)
                buffer.setSample (c, i, dist (rng));

        p.processBlock (buffer, midi);

        for (int c = 0; c < 2; ++c)
            out.insert (out.end(), buffer.getReadPointer (c), buffer.getReadPointer (c) + blockSize);
    }

    p.releaseResources();
    return out;
}
} // namespace

TEST_F (HostTest, RichStateSurvivesSaveAndRestoreIntoAFreshInstance)
{
    // The state to start from: measured sections, INST data, names, a custom
    // weighting, two different A/B slots, made by the processor itself.
    QuorvaneProcessor made;
    fillRichState (made);
    setParam (made, ids::role, 2.0f);
    made.handleUpdateNowIfNeeded();
    const auto original = blobOf (made);

    auto first = load();
    ASSERT_NE (first, nullptr);
    first->setStateInformation (hostBlobFor (original).data(), (int) hostBlobFor (original).size());
    pumpMessages (50);

    const auto savedByFirst = processorBlobOf (*first);
    ASSERT_FALSE (savedByFirst.empty());
    EXPECT_EQ (xmlOf (savedByFirst), xmlOf (original));

    // Host round trip: what the host stored goes into a fresh instance.
    const auto hostState = hostStateOf (*first);
    auto second = load();
    ASSERT_NE (second, nullptr);
    second->setStateInformation (hostState.data(), (int) hostState.size());
    pumpMessages (50);

    EXPECT_EQ (xmlOf (processorBlobOf (*second)), xmlOf (savedByFirst));

    // What the host sees: every parameter.
    const auto& a = first->getParameters();
    const auto& b = second->getParameters();
    ASSERT_EQ (a.size(), b.size());

    for (int i = 0; i < a.size(); ++i)
        EXPECT_EQ (a[i]->getValue(), b[i]->getValue()) << a[i]->getName (32);

    EXPECT_NEAR (a[2]->getValue(), made.parameters.getParameter ("offset_A")->getValue(), 1.0e-6);

    // Field by field: the second instance's save, read back by a processor,
    // gives every field of the state that was made.
    QuorvaneProcessor check;
    restore (check, processorBlobOf (*second));
    expectSnapshotsEqual (check.captureSnapshot(), made.captureSnapshot());
    expectSnapshotsEqual (check.getABSlot (0), made.getABSlot (0), false);
    expectSnapshotsEqual (check.getABSlot (1), made.captureSnapshot(), false);
    EXPECT_EQ (check.instanceName, made.instanceName);
    EXPECT_EQ (check.offsetTarget, made.offsetTarget);
    EXPECT_EQ (check.currentAB.load(), 1);
    EXPECT_EQ (check.tooltipLang.load(), made.tooltipLang.load());
    EXPECT_EQ (check.meterDispMode.load(), made.meterDispMode.load());
    EXPECT_EQ (check.hiddenVocalMask.load(), made.hiddenVocalMask.load());
    EXPECT_EQ (check.showTooltips.load(), made.showTooltips.load());
    EXPECT_EQ (check.instTargetUiOpen.load(), made.instTargetUiOpen.load());

    // The same audio through both instances comes out the same.
    const auto outFirst = render (*first, 400);
    const auto outSecond = render (*second, 400);
    ASSERT_EQ (outFirst.size(), outSecond.size());

    for (size_t k = 0; k < outFirst.size(); ++k)
        ASSERT_EQ (outFirst[k], outSecond[k]) << "sample " << k;
}

TEST_F (HostTest, HostileStateLeavesTheInstanceUsable)
{
    auto p = load();
    ASSERT_NE (p, nullptr);
    const auto before = hostStateOf (*p);

    const std::vector<std::string> blobs {
        std::string ("\x56\x43\x32\x21\xff\xff\xff\x7f<params>", 16),
        frame ("<params><PARAM id=\"offset_A\" value=\"nan\"/><applied measMode=\"99\"><section idx=\"0\" gainDb=\"inf\"/></applied></params>"),
        frame ("<!DOCTYPE a [<!ENTITY e \"x\">]><params/>"),
    };

    for (const auto& blob : blobs)
    {
        const auto wrapped = hostBlobFor (blob);
        p->setStateInformation (wrapped.data(), (int) wrapped.size());
        pumpMessages (20);
    }

    for (auto* param : p->getParameters())
        EXPECT_TRUE (std::isfinite (param->getValue()));

    // It still saves and restores normally.
    p->setStateInformation (before.data(), (int) before.size());
    EXPECT_EQ (xmlOf (processorBlobOf (*p)), xmlOf (processorBlobOf (*load())));
}

TEST_F (HostTest, RestoredInstAppliesItsMatchGainOnlyWithItsViewOpenFromTheFirstSample)
{
    // An Inst with a Match Gain of +18 dB, saved with its Target LUFS view
    // closed and open, restored into the bundle and activated (again, at
    // other rates and block sizes): the first block after activation already
    // has the gain the view state gives, with no ramp from another one.
    for (bool viewOpen : { false, true })
    {
        SCOPED_TRACE (viewOpen ? "view open" : "view closed");
        QuorvaneProcessor made;
        setParam (made, ids::role, 1.0f);
        made.handleUpdateNowIfNeeded();
        made.instMeasuredLufs = -36.0f;
        made.instMatchGain = 18.0f;
        made.instFrozen = true;
        made.instTargetUiOpen = viewOpen;
        const auto blob = hostBlobFor (blobOf (made));

        auto p = load();
        ASSERT_NE (p, nullptr);
        p->setStateInformation (blob.data(), (int) blob.size());
        pumpMessages (50);

        const auto expected = 0.1f * (viewOpen ? std::pow (10.0f, 18.0f / 20.0f) : 1.0f);

        for (auto [rate, block] : { std::pair { 48000.0, 512 }, std::pair { 44100.0, 4097 }, std::pair { 96000.0, 1 } })
        {
            SCOPED_TRACE (juce::String (rate) + " Hz, " + juce::String (block));
            p->releaseResources();
            p->setPlayConfigDetails (2, 2, rate, block);
            p->prepareToPlay (rate, block);
            juce::MidiBuffer midi;

            // The first 3 ms after activation, whatever the block size.
            for (int done = 0; done < 300; done += block)
            {
                juce::AudioBuffer<float> buffer (2, block);

                for (int c = 0; c < 2; ++c)
                    juce::FloatVectorOperations::fill (buffer.getWritePointer (c), 0.1f, block);

                p->processBlock (buffer, midi);

                for (int c = 0; c < 2; ++c)
                    for (int i = 0; i < block; ++i)
                        ASSERT_NEAR (buffer.getSample (c, i), expected, 1.0e-5f) << "sample " << done + i;
            }
        }
    }
}
