#include <gtest/gtest.h>
#include "dsp/LoudnessMeter.h"

#include <cmath>

namespace
{
    juce::AudioBuffer<float> sine (int channels, int activeChannels, double fs, double hz, double amplitude, int numSamples)
    {
        juce::AudioBuffer<float> b (channels, numSamples);
        b.clear();

        for (int c = 0; c < activeChannels; ++c)
            for (int n = 0; n < numSamples; ++n)
                b.setSample (c, n, (float) (amplitude * std::sin (2.0 * juce::MathConstants<double>::pi * hz * n / fs)));

        return b;
    }
}

TEST (LoudnessMeter, FullScaleSineInOneChannelReadsMinus3054)
{
    LoudnessMeter m;
    m.prepare (48000.0, 2, 0.4);
    m.processBlock (sine (2, 1, 48000.0, 997.0, 1.0, 3 * 48000));

    EXPECT_EQ (m.getBlockEnergies().size(), 27u);
    EXPECT_NEAR (m.getIntegratedLUFS(), -3.054f, 0.0005f);
}
