#include <gtest/gtest.h>
#include "dsp/CustomWeightedRmsMeter.h"
#include "dsp/LoudnessMeter.h"
#include "TestSignals.h"

#include <cmath>
#include <limits>

struct CustomWeightedRmsMeterInspector
{
    static int entryState (const CustomWeightedRmsMeter& m, int i) { return m.mailbox.entries[(size_t) i].state.load(); }
    static int latest (const CustomWeightedRmsMeter& m)            { return m.mailbox.latest.load(); }
    static int transitionRemaining (const CustomWeightedRmsMeter& m) { return m.transitionRemaining; }
    static int frameRingCount (const CustomWeightedRmsMeter& m)    { return m.frameRingCount; }
    static uint64_t entryGeneration (const CustomWeightedRmsMeter& m, int i) { return m.mailbox.entries[(size_t) i].generation; }
    static DesignedCustomWeighting& activeDesign (CustomWeightedRmsMeter& m) { return m.activeDesign; }

    // True when every filter state of the active cascade is exactly zero.
    static bool activeStatesAtRest (const CustomWeightedRmsMeter& m)
    {
        for (const auto& channel : m.activeStates)
            for (const auto& slot : channel)
                for (const auto& st : slot)
                    if (st.s1 != 0.0 || st.s2 != 0.0)
                        return false;
        return true;
    }

    // True when every state is zero or at least 1e-30 in magnitude and all are
    // below `ceiling`: decayed, but never drifting towards denormals.
    static bool activeStatesFlushed (const CustomWeightedRmsMeter& m, double ceiling)
    {
        for (const auto& channel : m.activeStates)
            for (const auto& slot : channel)
                for (const auto& st : slot)
                    for (auto v : { st.s1, st.s2 })
                        if ((v != 0.0 && std::abs (v) < 1e-30) || std::abs (v) >= ceiling)
                            return false;
        return true;
    }

    static bool activeStatesFinite (const CustomWeightedRmsMeter& m)
    {
        for (const auto& channel : m.activeStates)
            for (const auto& slot : channel)
                for (const auto& st : slot)
                    if (! std::isfinite (st.s1) || ! std::isfinite (st.s2))
                        return false;
        return true;
    }
};

using Inspector = CustomWeightedRmsMeterInspector;
using namespace testsig;

namespace
{
    CustomWeightedRmsSettings allOff()
    {
        CustomWeightedRmsSettings s;
        for (auto& slot : s.slots)
            slot.enabled = false;
        return s;
    }

    // A weighting that is clearly different from K-weighting: -12 dB flat bell
    // at 1 kHz, wide.
    CustomWeightedRmsSettings quieter()
    {
        auto s = allOff();
        s.slots[3] = { true, (int32_t) CustomSlotType::Bell, 1000.0, -12.0, 0.3, 12.0 };
        return s;
    }

    juce::AudioBuffer<float> toneBuffer (int channels, int active, double fs, double hz, double amp, int num, int offset = 0)
    {
        juce::AudioBuffer<float> b (channels, num);
        b.clear();
        for (int c = 0; c < active; ++c)
            for (int n = 0; n < num; ++n)
                b.setSample (c, n, (float) (amp * std::sin (2.0 * juce::MathConstants<double>::pi * hz * (n + offset) / fs)));
        return b;
    }

    void feedSamples (CustomWeightedRmsMeter& m, int num, double amp = 0.5, int blockSize = 512)
    {
        for (int pos = 0; pos < num; pos += blockSize)
            m.processBlock (toneBuffer (2, 2, 48000.0, 1000.0, amp, std::min (blockSize, num - pos), pos));
    }
}

//==============================================================================
TEST (CustomWeightedRmsMeter, ConstructionAndPrepareState)
{
    CustomWeightedRmsMeter m;
    EXPECT_EQ (m.getActiveGeneration(), 1u);
    EXPECT_EQ (Inspector::latest (m), -1);
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_EQ (Inspector::entryState (m, i), 0);
        EXPECT_EQ (Inspector::entryGeneration (m, i), 1u);
    }

    // Until prepare it runs the empty weighting and records nothing.
    m.setRecordFrames (true);
    m.processBlock (toneBuffer (2, 1, 48000.0, 997.0, 1.0, 48000));
    EXPECT_TRUE (m.getRecordedFrames().empty());
    EXPECT_NEAR (m.getLiveRmsDb (0.5), -3.0103f, 0.01f);

    m.prepare (48000.0, 1, CustomWeightedRmsSettings(), 7);
    EXPECT_EQ (m.getActiveGeneration(), 7u);
    EXPECT_EQ (m.getCurrentFrame().generation, 7u);
    EXPECT_EQ (m.getLiveRmsDb (0.5), -120.0f);
    EXPECT_EQ (m.getRecordedFrames().capacity(), 18000u);
}

TEST (CustomWeightedRmsMeter, AllSlotsOffMeasuresThePlainSumOfSquares)
{
    CustomWeightedRmsMeter m;
    m.prepare (48000.0, 2, allOff(), 1);
    m.processBlock (toneBuffer (2, 1, 48000.0, 997.0, 1.0, 48000));
    EXPECT_NEAR (m.getLiveRmsDb (0.5), -3.0103f, 0.001f);

    // Mono buffers measure their one channel; more than two channels count only the first two.
    CustomWeightedRmsMeter mono, multi;
    mono.prepare (48000.0, 2, allOff(), 1);
    multi.prepare (48000.0, 2, allOff(), 1);
    mono.processBlock (toneBuffer (1, 1, 48000.0, 997.0, 1.0, 48000));
    auto four = toneBuffer (4, 1, 48000.0, 997.0, 1.0, 48000);
    four.applyGain (2, 0, 48000, 0.0f);
    for (int c = 2; c < 4; ++c)
        juce::FloatVectorOperations::fill (four.getWritePointer (c), 0.7f, 48000);
    multi.processBlock (four);
    EXPECT_EQ (mono.getLiveRmsDb (0.5), m.getLiveRmsDb (0.5));
    EXPECT_EQ (multi.getLiveRmsDb (0.5), m.getLiveRmsDb (0.5));
}

TEST (CustomWeightedRmsMeter, DefaultWeightingEqualsKWeightedRms)
{
    auto s = makeSignal (48000.0, 2);
    addNoise (s, 2.0, -20.0, 11);
    addTone (s, 2.0, 60.0, -10.0);
    addTone (s, 2.0, 8000.0, -30.0, { 1 });

    LoudnessMeter k;
    k.prepare (48000.0, 2, 0.4);
    CustomWeightedRmsMeter c;
    c.prepare (48000.0, 2, CustomWeightedRmsSettings(), 1);
    c.setRecordFrames (true);

    feed (k, s, 480);
    feed (c, s, 480);

    const auto& kf = k.getRecordedFrames();
    const auto& cf = c.getRecordedFrames();
    ASSERT_EQ (kf.size(), 60u);
    ASSERT_EQ (cf.size(), 60u);

    for (size_t i = 0; i < kf.size(); ++i)
    {
        EXPECT_EQ (cf[i].numSamples, kf[i].numSamples);
        EXPECT_NEAR (cf[i].energy / kf[i].energy, 1.0, 1e-9) << i;
        EXPECT_EQ (cf[i].generation, 1u);
    }

    for (double t : { 0.5, 1.0, 3.0 })
        EXPECT_NEAR (c.getLiveRmsDb (t), k.getLiveKRmsDb (t), 1e-6f);
}

TEST (CustomWeightedRmsMeter, NewDesignSettlesForTwentyMillisecondsThenMeasures)
{
    CustomWeightedRmsMeter m;
    m.prepare (48000.0, 2, CustomWeightedRmsSettings(), 1);
    m.setRecordFrames (true);
    feedSamples (m, 48000);
    ASSERT_EQ (m.getRecordedFrames().size(), 10u);

    m.publishSettings (quieter(), 2);
    EXPECT_EQ (m.getActiveGeneration(), 1u);

    // The design is taken even by an empty block: old frames are gone.
    m.processBlock (juce::AudioBuffer<float> (2, 0));
    EXPECT_TRUE (m.getRecordedFrames().empty());
    EXPECT_EQ (Inspector::frameRingCount (m), 0);
    EXPECT_EQ (m.getLiveRmsDb (1.0), -120.0f);
    EXPECT_EQ (Inspector::transitionRemaining (m), 960);

    feedSamples (m, 959, 0.5, 100);
    EXPECT_EQ (m.getCurrentFrame().numSamples, 0);
    EXPECT_EQ (m.getActiveGeneration(), 1u);

    feedSamples (m, 1);
    EXPECT_EQ (m.getCurrentFrame().numSamples, 0);
    EXPECT_EQ (m.getActiveGeneration(), 2u);
    EXPECT_EQ (m.getCurrentFrame().generation, 2u);

    feedSamples (m, 4799);
    EXPECT_TRUE (m.getRecordedFrames().empty());
    feedSamples (m, 1);
    ASSERT_EQ (m.getRecordedFrames().size(), 1u);
    EXPECT_EQ (m.getRecordedFrames()[0].generation, 2u);
    EXPECT_EQ (m.getRecordedFrames()[0].numSamples, 4800);

    // The settled cascade measures the new weighting: 12 dB below the old
    // plain level (the tone sits at the bell's centre).
    CustomWeightedRmsMeter reference;
    reference.prepare (48000.0, 2, quieter(), 2);
    feedSamples (reference, 48000);
    EXPECT_NEAR (m.getLiveRmsDb (0.1), reference.getLiveRmsDb (0.5), 0.01f);
}

TEST (CustomWeightedRmsMeter, PublishingTwiceDeliversOnlyTheSecondDesign)
{
    CustomWeightedRmsMeter m;
    m.prepare (48000.0, 2, CustomWeightedRmsSettings(), 1);

    m.publishSettings (allOff(), 2);
    m.publishSettings (quieter(), 3);
    EXPECT_EQ (Inspector::entryState (m, 0), 0);   // superseded entry is free again
    EXPECT_EQ (Inspector::entryState (m, 1), 2);
    EXPECT_EQ (Inspector::latest (m), 1);

    feedSamples (m, 960 + 48000);
    EXPECT_EQ (m.getActiveGeneration(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ (Inspector::entryState (m, i), 0);
    EXPECT_EQ (Inspector::latest (m), -1);

    CustomWeightedRmsMeter reference;
    reference.prepare (48000.0, 2, quieter(), 3);
    feedSamples (reference, 48000);
    EXPECT_NEAR (m.getLiveRmsDb (0.5), reference.getLiveRmsDb (0.5), 0.01f);

    // A newer design taken while one settles restarts the settle period.
    m.publishSettings (allOff(), 4);
    feedSamples (m, 500);
    m.publishSettings (CustomWeightedRmsSettings(), 5);
    feedSamples (m, 500);
    EXPECT_EQ (m.getActiveGeneration(), 3u);
    EXPECT_EQ (Inspector::transitionRemaining (m), 460);
    feedSamples (m, 460);
    EXPECT_EQ (m.getActiveGeneration(), 5u);
}

TEST (CustomWeightedRmsMeter, ResetDuringSettlingCompletesTheTakeover)
{
    CustomWeightedRmsMeter m;
    m.prepare (48000.0, 2, CustomWeightedRmsSettings(), 1);
    m.setRecordFrames (true);
    feedSamples (m, 4800);

    m.publishSettings (quieter(), 2);
    feedSamples (m, 300);
    ASSERT_GT (Inspector::transitionRemaining (m), 0);

    // A measurement starts while the new weighting settles: it must be
    // measured with the new weighting, not silently with the old one.
    m.resetMeasurement();
    EXPECT_EQ (Inspector::transitionRemaining (m), 0);
    EXPECT_EQ (m.getActiveGeneration(), 2u);
    EXPECT_EQ (m.getCurrentFrame().generation, 2u);

    feedSamples (m, 48000);
    ASSERT_EQ (m.getRecordedFrames().size(), 10u);
    for (const auto& f : m.getRecordedFrames())
        EXPECT_EQ (f.generation, 2u);

    CustomWeightedRmsMeter reference;
    reference.prepare (48000.0, 2, quieter(), 2);
    feedSamples (reference, 48000);
    EXPECT_NEAR (m.getLiveRmsDb (0.5), reference.getLiveRmsDb (0.5), 0.01f);

    // A reset outside the settle period keeps the active weighting and clears the frames.
    m.resetMeasurement();
    EXPECT_TRUE (m.getRecordedFrames().empty());
    EXPECT_EQ (m.getActiveGeneration(), 2u);
    EXPECT_EQ (m.getLiveRmsDb (0.5), -120.0f);
}

TEST (CustomWeightedRmsMeter, RecordingStopsAtThirtyMinutesWhileTheRingGoesOn)
{
    CustomWeightedRmsMeter m;
    m.prepare (8000.0, 2, allOff(), 1);
    m.setRecordFrames (true);

    juce::AudioBuffer<float> loud (1, 8000);
    juce::FloatVectorOperations::fill (loud.getWritePointer (0), 0.5f, 8000);

    for (int second = 0; second < 1800; ++second)
        m.processBlock (loud);
    EXPECT_EQ (m.getRecordedFrames().size(), 18000u);

    juce::AudioBuffer<float> quiet (1, 8000);
    juce::FloatVectorOperations::fill (quiet.getWritePointer (0), 0.05f, 8000);
    m.processBlock (quiet);
    m.processBlock (quiet);

    EXPECT_EQ (m.getRecordedFrames().size(), 18000u);
    EXPECT_EQ (m.getRecordedFrames().capacity(), 18000u);
    EXPECT_NEAR (m.getLiveRmsDb (1.0), (float) (20.0 * std::log10 (0.05)), 0.001f);
    EXPECT_NEAR (m.getLiveRmsDb (3.0), (float) (10.0 * std::log10 ((2 * 0.0025 + 0.25) / 3.0)), 0.001f);
}

TEST (CustomWeightedRmsMeter, NonFiniteInputCountsAsSilence)
{
    CustomWeightedRmsMeter clean, dirty;
    for (auto* m : { &clean, &dirty })
    {
        m->prepare (48000.0, 2, CustomWeightedRmsSettings(), 1);
        m->setRecordFrames (true);
    }

    auto tone = toneBuffer (2, 2, 48000.0, 1000.0, 0.5, 48000);
    auto spoiled = tone;
    for (int n : { 100, 2000, 30000 })
    {
        tone.setSample (0, n, 0.0f);
        tone.setSample (1, n + 1, 0.0f);
        spoiled.setSample (0, n, std::numeric_limits<float>::quiet_NaN());
        spoiled.setSample (1, n + 1, -std::numeric_limits<float>::infinity());
    }

    clean.processBlock (tone);
    dirty.processBlock (spoiled);

    ASSERT_EQ (dirty.getRecordedFrames().size(), 10u);
    for (size_t i = 0; i < 10; ++i)
        EXPECT_EQ (dirty.getRecordedFrames()[i].energy, clean.getRecordedFrames()[i].energy);
    EXPECT_TRUE (std::isfinite (dirty.getLiveRmsDb (1.0)));
}

TEST (CustomWeightedRmsMeter, TinyStatesAreFlushedAndRunawayStagesRestart)
{
    for (int channels : { 1, 2 })
    {
        SCOPED_TRACE (channels);

        // After a tone and two seconds of silence the 38 Hz high-pass would
        // hold states around 1e-200; tiny states are flushed instead.
        CustomWeightedRmsMeter m;
        m.prepare (48000.0, 2, CustomWeightedRmsSettings(), 1);
        m.processBlock (toneBuffer (channels, channels, 48000.0, 1000.0, 0.5, 4800));
        EXPECT_FALSE (Inspector::activeStatesAtRest (m));
        juce::AudioBuffer<float> silence (channels, 2 * 48000);
        silence.clear();
        m.processBlock (silence);
        EXPECT_TRUE (Inspector::activeStatesFlushed (m, 1e-25));

        // An unstable stage (poles outside the unit circle) grows until it
        // overflows, restarts from rest and never poisons the measurement.
        CustomWeightedRmsMeter wild;
        wild.prepare (48000.0, 2, allOff(), 1);
        auto& slot = Inspector::activeDesign (wild).slots[2];
        slot.enabled = true;
        slot.numStages = 2;
        slot.stages[0] = { 1.0, 0.0, 0.0, -2.2, 1.3 };
        for (int block = 0; block < 40; ++block)
            wild.processBlock (toneBuffer (channels, channels, 48000.0, 1000.0, 0.5, 4800, block * 4800));
        EXPECT_TRUE (Inspector::activeStatesFinite (wild));
        const auto level = wild.getLiveRmsDb (3.0);
        EXPECT_FALSE (std::isnan (level));
        EXPECT_LE (level, 7000.0f);
    }
}

TEST (CustomWeightedRmsMeter, WindowedSeriesAndRangeLevels)
{
    std::vector<CustomRmsFrame> frames;
    for (int i = 0; i < 40; ++i)
        frames.push_back ({ (i < 20 ? 0.1 : 0.001) * 4800.0, 4800, 1 });

    EXPECT_TRUE (CustomWeightedRmsMeter::windowedRmsDbSeries ({}, 1.0).empty());
    EXPECT_TRUE (CustomWeightedRmsMeter::windowedRmsDbSeries ({ CustomRmsFrame { 1.0, 0, 1 } }, 1.0).empty());

    // Out-of-range and non-finite RMS times.
    EXPECT_EQ (CustomWeightedRmsMeter::windowedRmsDbSeries (frames, 0.1), CustomWeightedRmsMeter::windowedRmsDbSeries (frames, 0.5));
    EXPECT_EQ (CustomWeightedRmsMeter::windowedRmsDbSeries (frames, std::nan ("")), CustomWeightedRmsMeter::windowedRmsDbSeries (frames, 3.0));
    EXPECT_EQ (CustomWeightedRmsMeter::windowedRmsDbSeries (frames, 99.0), CustomWeightedRmsMeter::windowedRmsDbSeries (frames, 10.0));
    EXPECT_NE (CustomWeightedRmsMeter::windowedRmsDbSeries (frames, 0.5), CustomWeightedRmsMeter::windowedRmsDbSeries (frames, 1.0));

    const auto series = CustomWeightedRmsMeter::windowedRmsDbSeries (frames, 1.0);
    ASSERT_EQ (series.size(), 40u);
    EXPECT_NEAR (series[5], -10.0f, 1e-4f);
    EXPECT_NEAR (series[39], -30.0f, 1e-4f);
    EXPECT_NEAR (series[24], (float) (10.0 * std::log10 ((5 * 0.1 + 5 * 0.001) / 10.0)), 1e-4f);

    // A negative sample count adds nothing to the window.
    auto odd = frames;
    odd[30].numSamples = -4800;
    odd[30].energy = 0.0;
    EXPECT_TRUE (std::isfinite (CustomWeightedRmsMeter::windowedRmsDbSeries (odd, 1.0)[31]));

    EXPECT_EQ (CustomWeightedRmsMeter::computeWindowedRmsDbFromFrames (frames, 0.0f, 1.0f, 1.0, 0), -120.0f);
    EXPECT_EQ (CustomWeightedRmsMeter::computeWindowedRmsDbFromFrames ({}, 0.0f, 1.0f, 1.0, 100), -120.0f);
    EXPECT_NEAR (CustomWeightedRmsMeter::computeWindowedRmsDbFromFrames (frames, 0.0f, 0.5f, 1.0, 40), -10.0f, 1e-4f);

    // Frames before the range never count: the quiet half reads -30 dB throughout.
    EXPECT_NEAR (CustomWeightedRmsMeter::computeWindowedRmsDbFromFrames (frames, 0.5f, 1.0f, 1.0, 40), -30.0f, 1e-4f);
    EXPECT_NEAR (CustomWeightedRmsMeter::computeWindowedRmsDbFromFrames (frames, 1.0f, 0.5f, 1.0, 40), -30.0f, 1e-4f);

    // start = end still uses one frame; count limits the list.
    EXPECT_NEAR (CustomWeightedRmsMeter::computeWindowedRmsDbFromFrames (frames, 0.75f, 0.75f, 1.0, 40), -30.0f, 1e-4f);
    EXPECT_NEAR (CustomWeightedRmsMeter::computeWindowedRmsDbFromFrames (frames, 0.0f, 1.0f, 1.0, 20), -10.0f, 1e-4f);
    EXPECT_NEAR (CustomWeightedRmsMeter::computeWindowedRmsDbFromFrames (frames, std::nanf (""), std::nanf (""), 1.0, 20), -10.0f, 1e-4f);

    // Silent frames are skipped.
    std::vector<CustomRmsFrame> silent (10, CustomRmsFrame { 0.0, 4800, 1 });
    EXPECT_EQ (CustomWeightedRmsMeter::computeWindowedRmsDbFromFrames (silent, 0.0f, 1.0f, 1.0, 10), -120.0f);
}
