#pragma once

#include "../processor/MeasurementHarness.h"

#include <cmath>

namespace qvn::test
{
inline float dbToGain (float db) { return db > -100.0f ? std::pow (10.0f, db / 20.0f) : 0.0f; }

/** Fills every channel with the same constant, so each output sample is the
    gain applied to it. */
inline void fillDc (juce::AudioBuffer<float>& buffer, float value = 1.0f)
{
    for (int c = 0; c < buffer.getNumChannels(); ++c)
        juce::FloatVectorOperations::fill (buffer.getWritePointer (c), value, buffer.getNumSamples());
}

/** Checks a DC block sample by sample: `from` before `start`, a linear ramp
    (sample start + k gets from + k (to - from) / length) and `to` after. */
inline ::testing::AssertionResult hasGainProfile (const juce::AudioBuffer<float>& buffer, float from, float to,
                                                 int start, int length, float dc = 1.0f)
{
    for (int c = 0; c < buffer.getNumChannels(); ++c)
    {
        for (int i = 0; i < buffer.getNumSamples(); ++i)
        {
            float expected = to;

            if (i < start)
                expected = from;
            else if (i < start + length)
                expected = from + (float) (i - start) * (to - from) / (float) length;

            expected *= dc;
            const auto actual = buffer.getSample (c, i);

            if (std::abs (actual - expected) > 1.0e-5f * std::max (1.0f, std::abs (expected)))
                return ::testing::AssertionFailure() << "channel " << c << " sample " << i << ": " << actual
                                                     << " instead of " << expected;
        }
    }

    return ::testing::AssertionSuccess();
}

/** One instance processing DC blocks by itself. */
struct DcRig
{
    explicit DcRig (int role, double rate = 48000.0, int block = 512)
        : sampleRate (rate), blockSize (block), buffer (2, block)
    {
        setRole (p, role);
        p.setPlayHead (&head);
        head.playing = true;
        p.prepareToPlay (sampleRate, blockSize);
    }

    /** One block of DC; with `announce` the sink is told about the block first
        and `points` run before it. */
    juce::AudioBuffer<float>& block (bool announce = false, std::function<void()> points = {}, float dc = 1.0f)
    {
        fillDc (buffer, dc);

        if (announce)
        {
            p.beginSectionAutomationBlock();

            if (points)
                points();
        }

        p.processBlock (buffer, midi);
        head.position += blockSize;
        return buffer;
    }

    void blocks (int count)
    {
        for (int i = 0; i < count; ++i)
            block();
    }

    void sectionPoint (int sampleOffset, int section) { p.pushSectionAutomationPoint (sampleOffset, (float) section / 15.0f); }

    void offsetPoint (int section, int sampleOffset, float db)
    {
        p.pushOffsetAutomationPoint (section, sampleOffset, (db + 12.0f) / 24.0f);
    }

    double sampleRate;
    int blockSize;
    QuorvaneProcessor p;
    TestPlayHead head;
    juce::AudioBuffer<float> buffer;
    juce::MidiBuffer midi;
};
} // namespace qvn::test
