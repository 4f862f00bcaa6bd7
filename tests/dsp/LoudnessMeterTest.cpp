#include <gtest/gtest.h>
#include "dsp/LoudnessMeter.h"
#include "TestSignals.h"

#include <cmath>
#include <limits>

struct LoudnessMeterInspector
{
    static const LoudnessMeter::Biquad& shelf (const LoudnessMeter& m, int c)    { return m.shelfFilters[(size_t) c]; }
    static const LoudnessMeter::Biquad& highPass (const LoudnessMeter& m, int c) { return m.highPassFilters[(size_t) c]; }

    static void emitBlockWithLoudness (LoudnessMeter& m, double lufs)
    {
        m.blockSum = std::pow (10.0, (lufs + 0.691) / 10.0) * m.blockSamples;
        m.emitBlock();
    }

    static LoudnessMeter::Biquad& shelfMutable (LoudnessMeter& m, int c)    { return m.shelfFilters[(size_t) c]; }

    static int histogramCount (const LoudnessMeter& m, int bin) { return m.histogramCount[(size_t) bin]; }
    static int histogramTotal (const LoudnessMeter& m)
    {
        int n = 0;
        for (auto c : m.histogramCount) n += c;
        return n;
    }
};

using namespace testsig;

namespace
{
    // A one-channel full-scale 997 Hz sine inside a stereo buffer.
    juce::AudioBuffer<float> sineBuffer (int channels, int activeChannels, double fs, double hz, double amplitude, int numSamples)
    {
        juce::AudioBuffer<float> b (channels, numSamples);
        b.clear();

        for (int c = 0; c < activeChannels; ++c)
            for (int n = 0; n < numSamples; ++n)
                b.setSample (c, n, (float) (amplitude * std::sin (2.0 * juce::MathConstants<double>::pi * hz * n / fs)));

        return b;
    }

    LoudnessMeter preparedMeter (double fs = 48000.0, double window = 0.4)
    {
        LoudnessMeter m;
        m.prepare (fs, 2, window);
        return m;
    }

    void expectAllLevelsAbsent (LoudnessMeter& m)
    {
        EXPECT_EQ (m.getIntegratedLUFS(), -120.0f);
        EXPECT_EQ (m.getHistogramIntegratedLUFS(), -120.0f);
        EXPECT_EQ (m.getWindowLUFS(), -120.0f);
        EXPECT_EQ (m.getMomentaryLUFS(), -120.0f);
        EXPECT_EQ (m.getLiveKRmsDb (3.0), -120.0f);
    }
}

//==============================================================================
TEST (LoudnessMeter, KWeightingCoefficientsAt48kHz)
{
    auto m = preparedMeter();

    for (int c = 0; c < 2; ++c)
    {
        const auto& s = LoudnessMeterInspector::shelf (m, c);
        EXPECT_NEAR (s.b0, 1.5351248595869702, 1e-15);
        EXPECT_NEAR (s.b1, -2.6916961894063807, 1e-15);
        EXPECT_NEAR (s.b2, 1.19839281085285, 1e-15);
        EXPECT_NEAR (s.a1, -1.6906592931824103, 1e-15);
        EXPECT_NEAR (s.a2, 0.7324807742158501, 1e-15);

        const auto& h = LoudnessMeterInspector::highPass (m, c);
        EXPECT_NEAR (h.b0, 0.9950299263000474, 1e-15);
        EXPECT_NEAR (h.b1, -1.9900598526000948, 1e-15);
        EXPECT_NEAR (h.b2, 0.9950299263000474, 1e-15);
        EXPECT_NEAR (h.a1, -1.9900474548339797, 1e-15);
        EXPECT_NEAR (h.a2, 0.9900722503662099, 1e-15);

        EXPECT_EQ (s.z1, 0.0);
        EXPECT_EQ (h.z2, 0.0);
    }
}

TEST (LoudnessMeter, FullScaleSineInOneChannelReadsMinus3054From27Blocks)
{
    auto m = preparedMeter();
    m.processBlock (sineBuffer (2, 1, 48000.0, 997.0, 1.0, 3 * 48000));

    EXPECT_EQ (m.getBlockEnergies().size(), 27u);
    EXPECT_NEAR (m.getIntegratedLUFS(), -3.054f, 0.0005f);
    EXPECT_NEAR (m.getHistogramIntegratedLUFS(), -3.054f, 0.0005f);
    EXPECT_NEAR (m.getMomentaryLUFS(), -3.054f, 0.002f);
    // K-weighted RMS is the same energy without the -0.691 term.
    EXPECT_NEAR (m.getLiveKRmsDb (1.0), -3.054f + 0.691f, 0.002f);
    EXPECT_EQ (m.getSamplesProcessed(), 3 * 48000);
}

TEST (LoudnessMeter, GatingBlocksStartWhenTheRingFillsThenEveryHop)
{
    struct Case { double fs; int block; int hop; };

    for (auto c : { Case { 48000.0, 19200, 4800 }, Case { 44100.0, 17640, 4410 } })
    {
        SCOPED_TRACE (c.fs);
        auto m = preparedMeter (c.fs);
        const auto tone = sineBuffer (2, 2, c.fs, 440.0, 0.5, c.block + 2 * c.hop);

        auto feedSamples = [&] (int start, int num)
        {
            juce::AudioBuffer<float> part (2, num);
            for (int ch = 0; ch < 2; ++ch)
                part.copyFrom (ch, 0, tone, ch, start, num);
            m.processBlock (part);
        };

        feedSamples (0, c.block - 1);
        EXPECT_TRUE (m.getBlockEnergies().empty());
        EXPECT_EQ (m.getIntegratedLUFS(), -120.0f);

        feedSamples (c.block - 1, 1);
        EXPECT_EQ (m.getBlockEnergies().size(), 1u);
        EXPECT_GT (m.getIntegratedLUFS(), -20.0f);

        feedSamples (c.block, c.hop - 1);
        EXPECT_EQ (m.getBlockEnergies().size(), 1u);
        feedSamples (c.block + c.hop - 1, 1);
        EXPECT_EQ (m.getBlockEnergies().size(), 2u);
    }
}

TEST (LoudnessMeter, SilenceKeepsItsPlaceAndEveryLevelIsAbsent)
{
    // Silent blocks are recorded where they fall (blocks end at 0.4 s, 0.5 s
    // .. 1.0 s), so that the history stays true to time; they pass no gate.
    auto m = preparedMeter();
    juce::AudioBuffer<float> silence (2, 48000);
    silence.clear();
    m.processBlock (silence);

    ASSERT_EQ (m.getBlockEnergies().size(), 7u);
    for (auto e : m.getBlockEnergies())
        EXPECT_EQ (e, 0.0);
    EXPECT_FALSE (m.hasRecordedSignal());
    EXPECT_EQ (m.getRecordedFrames().size(), 10u);
    expectAllLevelsAbsent (m);
}

TEST (LoudnessMeter, HistogramBinEdges)
{
    auto m = preparedMeter();

    LoudnessMeterInspector::emitBlockWithLoudness (m, -70.05);
    EXPECT_EQ (m.getBlockEnergies().size(), 1u);
    EXPECT_EQ (LoudnessMeterInspector::histogramTotal (m), 0);
    EXPECT_EQ (m.getHistogramIntegratedLUFS(), -120.0f);

    LoudnessMeterInspector::emitBlockWithLoudness (m, -70.0);
    EXPECT_EQ (LoudnessMeterInspector::histogramCount (m, 0), 1);

    LoudnessMeterInspector::emitBlockWithLoudness (m, 20.0);
    EXPECT_EQ (LoudnessMeterInspector::histogramCount (m, 799), 1);
    EXPECT_EQ (LoudnessMeterInspector::histogramTotal (m), 2);
    EXPECT_EQ (m.getBlockEnergies().size(), 3u);
}

TEST (LoudnessMeter, IntegratedValueIsCachedUntilTheNextBlock)
{
    auto m = preparedMeter();
    LoudnessMeterInspector::emitBlockWithLoudness (m, -20.0);
    EXPECT_NEAR (m.getIntegratedLUFS(), -20.0f, 1e-4f);

    // Gating: the quiet block is more than 10 LU below the loud one.
    LoudnessMeterInspector::emitBlockWithLoudness (m, -40.0);
    EXPECT_NEAR (m.getIntegratedLUFS(), -20.0f, 1e-4f);
    EXPECT_NEAR (m.getHistogramIntegratedLUFS(), -20.0f, 0.1f);

    LoudnessMeterInspector::emitBlockWithLoudness (m, -25.0);
    const auto expected = 10.0 * std::log10 ((std::pow (10.0, -2.0) + std::pow (10.0, -2.5)) / 2.0);
    EXPECT_NEAR (m.getIntegratedLUFS(), (float) expected, 1e-4f);

    m.resetGating();
    EXPECT_EQ (m.getIntegratedLUFS(), -120.0f);
    m.resetHistogram();
    EXPECT_EQ (m.getHistogramIntegratedLUFS(), -120.0f);
}

TEST (LoudnessMeter, LUFSFromRangeUsesTheTrimmedBlocks)
{
    // Block i has loudness -30 + i LUFS, so each range has a distinct result.
    std::vector<double> blocks;
    for (int i = 0; i < 10; ++i)
        blocks.push_back (std::pow (10.0, (-30.0 + i + 0.691) / 10.0));

    auto expectedFor = [&] (int first, int last)
    {
        std::vector<double> part (blocks.begin() + first, blocks.begin() + last + 1);
        return LoudnessMeter::computeLUFSFromRange (part, 0.0f, 1.0f);
    };

    EXPECT_EQ (LoudnessMeter::computeLUFSFromRange (blocks, 0.25f, 0.75f), expectedFor (2, 7));
    EXPECT_EQ (LoudnessMeter::computeLUFSFromRange (blocks, 0.75f, 0.25f), expectedFor (2, 7));
    EXPECT_NEAR (LoudnessMeter::computeLUFSFromRange (blocks, 0.5f, 0.5f), -25.0f, 1e-4f);
    EXPECT_NEAR (LoudnessMeter::computeLUFSFromRange (blocks, 1.0f, 1.0f), -21.0f, 1e-4f);
    EXPECT_NEAR (LoudnessMeter::computeLUFSFromRange (blocks, -3.0f, 0.0f), -30.0f, 1e-4f);
    EXPECT_EQ (LoudnessMeter::computeLUFSFromRange (blocks, 0.0f, 1.0f), expectedFor (0, 9));
    EXPECT_EQ (LoudnessMeter::computeLUFSFromRange ({}, 0.0f, 1.0f), -120.0f);

    // Everything under the absolute gate.
    EXPECT_EQ (LoudnessMeter::computeLUFSFromRange ({ 1e-9, 1e-8 }, 0.0f, 1.0f), -120.0f);
}

TEST (LoudnessMeter, NonFiniteSamplesNeitherStopNorPoisonTheMeter)
{
    auto clean = preparedMeter();
    auto dirty = preparedMeter();

    auto tone = sineBuffer (2, 2, 48000.0, 1000.0, 0.25, 4 * 48000);
    clean.processBlock (tone);

    tone.setSample (0, 1000, std::numeric_limits<float>::quiet_NaN());
    tone.setSample (1, 2000, std::numeric_limits<float>::infinity());
    tone.setSample (0, 3000, -std::numeric_limits<float>::infinity());
    dirty.processBlock (tone);

    const auto ref = clean.getIntegratedLUFS();
    EXPECT_TRUE (std::isfinite (dirty.getIntegratedLUFS()));
    EXPECT_NEAR (dirty.getIntegratedLUFS(), ref, 0.01f);
    EXPECT_NEAR (dirty.getMomentaryLUFS(), clean.getMomentaryLUFS(), 1e-4f);
    EXPECT_NEAR (dirty.getLiveKRmsDb (1.0), clean.getLiveKRmsDb (1.0), 1e-4f);
    for (auto b : dirty.getBlockEnergies())
        EXPECT_TRUE (std::isfinite (b));

    // Full-scale floats whose K-weighted energy overflows the float ring entries
    // count as silence instead of wrecking the running sums.
    auto hot = preparedMeter();
    juce::AudioBuffer<float> huge (2, 48000);
    for (int n = 0; n < huge.getNumSamples(); ++n)
        for (int c = 0; c < 2; ++c)
            huge.setSample (c, n, (n & 1) ? 3.0e38f : -3.0e38f);
    hot.processBlock (huge);
    hot.processBlock (tone);
    EXPECT_TRUE (std::isfinite (hot.getMomentaryLUFS()));
    EXPECT_TRUE (std::isfinite (hot.getWindowLUFS()));
}

TEST (LoudnessMeter, AFilterStateThatStopsBeingFiniteRestartsFromRest)
{
    for (int channels : { 1, 2 })
    {
        SCOPED_TRACE (channels);
        auto clean = preparedMeter();
        auto broken = preparedMeter();
        const auto tone = sineBuffer (channels, channels, 48000.0, 1000.0, 0.5, 2 * 48000);

        LoudnessMeterInspector::shelfMutable (broken, 0).z1 = std::numeric_limits<double>::quiet_NaN();
        LoudnessMeterInspector::shelfMutable (broken, 0).z2 = std::numeric_limits<double>::infinity();
        broken.processBlock (tone);
        clean.processBlock (tone);

        EXPECT_TRUE (std::isfinite (LoudnessMeterInspector::shelf (broken, 0).z1));
        EXPECT_TRUE (std::isfinite (LoudnessMeterInspector::shelf (broken, 0).z2));
        EXPECT_NEAR (broken.getMomentaryLUFS(), clean.getMomentaryLUFS(), 1e-4f);
        EXPECT_NEAR (broken.getIntegratedLUFS(), clean.getIntegratedLUFS(), 0.01f);
    }
}

TEST (LoudnessMeter, UnpreparedMeterIgnoresAudio)
{
    LoudnessMeter m;
    m.processBlock (sineBuffer (2, 2, 48000.0, 1000.0, 0.5, 48000));

    EXPECT_EQ (m.getSamplesProcessed(), 0);
    EXPECT_TRUE (m.getBlockEnergies().empty());
    EXPECT_TRUE (m.getRecordedFrames().empty());
    expectAllLevelsAbsent (m);

    m.resetGating();
    m.reset();
    expectAllLevelsAbsent (m);
}

TEST (LoudnessMeter, ChannelLayouts)
{
    auto stereo = preparedMeter();
    stereo.processBlock (sineBuffer (2, 1, 48000.0, 997.0, 1.0, 3 * 48000));

    // One channel: measured on that channel alone.
    auto mono = preparedMeter();
    mono.processBlock (sineBuffer (1, 1, 48000.0, 997.0, 1.0, 3 * 48000));
    EXPECT_EQ (mono.getIntegratedLUFS(), stereo.getIntegratedLUFS());

    // More than two channels: only the first two count.
    auto multi = preparedMeter();
    auto six = sineBuffer (6, 1, 48000.0, 997.0, 1.0, 3 * 48000);
    for (int c = 2; c < 6; ++c)
        for (int n = 0; n < six.getNumSamples(); ++n)
            six.setSample (c, n, 0.9f);
    multi.processBlock (six);
    EXPECT_EQ (multi.getIntegratedLUFS(), stereo.getIntegratedLUFS());

    // Two equal channels add their energies (+3.01 dB).
    auto both = preparedMeter();
    both.processBlock (sineBuffer (2, 2, 48000.0, 997.0, 1.0, 3 * 48000));
    EXPECT_NEAR (both.getIntegratedLUFS() - stereo.getIntegratedLUFS(), 3.0103f, 0.001f);

    // An empty buffer does nothing.
    juce::AudioBuffer<float> empty (2, 0);
    both.processBlock (empty);
    EXPECT_EQ (both.getSamplesProcessed(), 3 * 48000);
}

TEST (LoudnessMeter, ResetGatingRestartsTheMeasurementButKeepsTheFilters)
{
    auto m = preparedMeter (48000.0, 3.0);
    const auto tone = sineBuffer (2, 2, 48000.0, 1000.0, 0.5, 4 * 48000);
    m.processBlock (tone);
    const auto windowBefore = m.getWindowLUFS();

    m.resetGating();
    EXPECT_EQ (m.getSamplesProcessed(), 0);
    EXPECT_EQ (m.getMomentaryLUFS(), -120.0f);
    EXPECT_TRUE (m.getBlockEnergies().empty());
    EXPECT_TRUE (m.getRecordedFrames().empty());
    EXPECT_EQ (m.getCurrentFrame().numSamples, 0);
    EXPECT_EQ (m.getWindowLUFS(), windowBefore);   // the sliding window is kept

    // The filters keep running: the first new block (after 400 ms) already
    // reads the settled level.
    juce::AudioBuffer<float> part (2, 19200);
    for (int c = 0; c < 2; ++c)
        part.copyFrom (c, 0, tone, c, 0, 19200);
    m.processBlock (part);
    ASSERT_EQ (m.getBlockEnergies().size(), 1u);
    EXPECT_NEAR (m.getIntegratedLUFS(), windowBefore, 0.01f);

    m.reset();
    expectAllLevelsAbsent (m);
    EXPECT_EQ (LoudnessMeterInspector::shelf (m, 0).z1, 0.0);
}

TEST (LoudnessMeter, FramesAndRecordingSwitches)
{
    auto m = preparedMeter();
    m.setRecordFrames (false);
    m.setRecordBlocks (false);
    const auto tone = sineBuffer (2, 2, 48000.0, 1000.0, 0.5, 48000 + 100);
    m.processBlock (tone);

    EXPECT_TRUE (m.getRecordedFrames().empty());
    EXPECT_TRUE (m.getBlockEnergies().empty());
    EXPECT_EQ (m.getCurrentFrame().numSamples, 100);
    EXPECT_GT (m.getLiveKRmsDb (0.5), -10.0f);
    EXPECT_GT (m.getHistogramIntegratedLUFS(), -10.0f);   // the histogram still counts

    auto noFrames = preparedMeter();
    noFrames.setFramesEnabled (false);
    noFrames.processBlock (tone);
    EXPECT_TRUE (noFrames.getRecordedFrames().empty());
    EXPECT_EQ (noFrames.getLiveKRmsDb (0.5), -120.0f);
    EXPECT_EQ (noFrames.getBlockEnergies().size(), 7u);

    auto rec = preparedMeter();
    rec.processBlock (tone);
    ASSERT_EQ (rec.getRecordedFrames().size(), 10u);
    for (const auto& f : rec.getRecordedFrames())
        EXPECT_EQ (f.numSamples, 4800);
}

TEST (LoudnessMeter, LiveKRmsFollowsTheNewestSamples)
{
    auto m = preparedMeter();
    auto s = makeSignal (48000.0, 2);
    addTone (s, 5.0, 1000.0, -6.0);
    addTone (s, 1.05, 1000.0, -26.0);
    feed (m, s, 512);

    auto reference = preparedMeter();
    auto q = makeSignal (48000.0, 2);
    addTone (q, 2.0, 1000.0, -26.0);
    feed (reference, q, 512);

    // The last second is entirely the quiet stretch, the last 3 s mostly loud.
    EXPECT_NEAR (m.getLiveKRmsDb (1.0), reference.getLiveKRmsDb (1.0), 0.02f);
    EXPECT_GT (m.getLiveKRmsDb (3.0), m.getLiveKRmsDb (1.0) + 10.0f);
}

TEST (LoudnessMeter, WindowedKRmsFromFrames)
{
    EXPECT_TRUE (LoudnessMeter::windowedKRmsDbSeries ({}, 3.0).empty());
    EXPECT_TRUE (LoudnessMeter::windowedKRmsDbSeries ({ AnalysisFrame { 1.0, 0 }, AnalysisFrame { 2.0, 0 } }, 3.0).empty());
    EXPECT_EQ (LoudnessMeter::computeWindowedKRmsDbFromFrames ({}, 0.0f, 1.0f, 3.0), -120.0f);

    // Ten loud frames then ten quiet ones, one second window.
    std::vector<AnalysisFrame> frames;
    for (int i = 0; i < 20; ++i)
        frames.push_back ({ (i < 10 ? 0.1 : 0.001) * 4800.0, 4800 });

    const auto series = LoudnessMeter::windowedKRmsDbSeries (frames, 1.0);
    ASSERT_EQ (series.size(), 20u);
    EXPECT_NEAR (series[0], -10.0f, 1e-4f);
    EXPECT_NEAR (series[9], -10.0f, 1e-4f);
    EXPECT_NEAR (series[19], -30.0f, 1e-4f);
    EXPECT_NEAR (series[14], (float) (10.0 * std::log10 ((5 * 0.1 + 5 * 0.001) / 10.0)), 1e-4f);

    // A half-second window over frames of 0.1 s prorates nothing; over the
    // quiet half alone the mean is -30 dB.
    EXPECT_NEAR (LoudnessMeter::computeWindowedKRmsDbFromFrames (frames, 0.5f, 1.0f, 0.5), -30.0f, 1e-4f);
    EXPECT_NEAR (LoudnessMeter::computeWindowedKRmsDbFromFrames (frames, 0.0f, 0.5f, 0.5), -10.0f, 1e-4f);

    // A window of 0.15 s prorates the oldest frame: half of it counts.
    std::vector<AnalysisFrame> two { { 0.1 * 4800.0, 4800 }, { 0.001 * 4800.0, 4800 } };
    const auto prorated = LoudnessMeter::windowedKRmsDbSeries (two, 0.15);
    EXPECT_NEAR (prorated[1], (float) (10.0 * std::log10 ((0.5 * 0.1 + 0.001) / 1.5)), 1e-4f);

    // Silent frames are skipped by the range mean but not by the series.
    std::vector<AnalysisFrame> silent (5, AnalysisFrame { 0.0, 4800 });
    EXPECT_EQ (LoudnessMeter::computeWindowedKRmsDbFromFrames (silent, 0.0f, 1.0f, 1.0), -120.0f);
    EXPECT_EQ (LoudnessMeter::windowedKRmsDbSeries (silent, 1.0), std::vector<float> (5, -120.0f));
}
