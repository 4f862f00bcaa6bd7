// Integrated loudness against an independent implementation (libebur128) on
// the same synthesised signals, fed in the same blocks.
#include <gtest/gtest.h>
#include "dsp/LoudnessMeter.h"
#include "TestSignals.h"

#include <ebur128.h>

#include <cmath>
#include <functional>
#include <iomanip>
#include <iostream>
#include <map>
#include <string>

using namespace testsig;

namespace
{
    double referenceLoudness (const Signal& s, int blockSize)
    {
        const auto nc = (unsigned) s.channels.size();
        auto* st = ebur128_init (nc, (unsigned long) s.sampleRate, EBUR128_MODE_I);
        std::vector<float> interleaved;

        for (int pos = 0; pos < s.numSamples(); pos += blockSize)
        {
            const auto num = std::min (blockSize, s.numSamples() - pos);
            interleaved.resize ((size_t) num * nc);

            for (int i = 0; i < num; ++i)
                for (unsigned c = 0; c < nc; ++c)
                    interleaved[(size_t) i * nc + c] = s.channels[c][(size_t) (pos + i)];

            ebur128_add_frames_float (st, interleaved.data(), (size_t) num);
        }

        double out = 0.0;
        ebur128_loudness_global (st, &out);
        ebur128_destroy (&st);
        return out;
    }

    double ourLoudness (const Signal& s, int blockSize)
    {
        LoudnessMeter m;
        m.prepare (s.sampleRate, 2, 0.4);
        feed (m, s, blockSize);
        return m.getIntegratedLUFS();
    }

    struct Material
    {
        std::string name;
        std::function<void (Signal&)> build;
    };

    const std::vector<Material>& materials()
    {
        static const std::vector<Material> list {
            { "1 kHz -20 dBFS",            [] (Signal& s) { addTone (s, 6.0, 1000.0, -20.0); } },
            { "1 kHz -3 dBFS",             [] (Signal& s) { addTone (s, 6.0, 1000.0, -3.0); } },
            { "997 Hz 0 dBFS left only",   [] (Signal& s) { addTone (s, 6.0, 997.0, 0.0, { 0 }); } },
            { "60 Hz -12 dBFS",            [] (Signal& s) { addTone (s, 6.0, 60.0, -12.0); } },
            { "25 Hz -6 dBFS",             [] (Signal& s) { addTone (s, 6.0, 25.0, -6.0); } },
            { "5 kHz -30 dBFS",            [] (Signal& s) { addTone (s, 6.0, 5000.0, -30.0); } },
            { "15 kHz -40 dBFS right",     [] (Signal& s) { addTone (s, 6.0, 15000.0, -40.0, { 1 }); } },
            { "1 kHz -65 dBFS",            [] (Signal& s) { addTone (s, 6.0, 1000.0, -65.0); } },
            { "relative gate: loud and quiet",
              [] (Signal& s) { addTone (s, 5.0, 1000.0, -10.0); addTone (s, 5.0, 1000.0, -35.0); addTone (s, 3.0, 1000.0, -15.0); } },
            { "relative gate: near the threshold",
              [] (Signal& s) { addTone (s, 4.0, 440.0, -18.0); addTone (s, 4.0, 440.0, -27.5); addTone (s, 4.0, 440.0, -28.5); } },
            { "absolute gate: tone and near silence",
              [] (Signal& s) { addTone (s, 4.0, 2000.0, -24.0); addTone (s, 6.0, 2000.0, -85.0); addTone (s, 2.0, 2000.0, -24.0); } },
            { "white noise -20 dBFS",      [] (Signal& s) { addNoise (s, 6.0, -20.0, 1); } },
            { "white noise bursts",
              [] (Signal& s) { addNoise (s, 2.0, -12.0, 2); addNoise (s, 3.0, -50.0, 3); addNoise (s, 2.0, -30.0, 4); addTone (s, 2.0, 300.0, -80.0); } },
        };
        return list;
    }

    std::map<double, double>& maxDifferences()
    {
        static std::map<double, double> m;
        return m;
    }
}

class LoudnessReference : public testing::TestWithParam<double>
{
public:
    static void TearDownTestSuite()
    {
        for (auto [fs, diff] : maxDifferences())
            std::cout << "max |ours - libebur128| at " << (int) fs << " Hz: "
                      << std::fixed << std::setprecision (4) << diff << " LU" << std::endl;
    }
};

TEST_P (LoudnessReference, IntegratedLoudnessWithinATenthOfALU)
{
    const auto fs = GetParam();
    double worst = 0.0;

    for (const auto& mat : materials())
    {
        SCOPED_TRACE (mat.name);
        auto s = makeSignal (fs, 2);
        mat.build (s);

        for (int blockSize : { 512, 441 })
        {
            const auto ours = ourLoudness (s, blockSize);
            const auto ref = referenceLoudness (s, blockSize);
            ASSERT_TRUE (std::isfinite (ref));
            EXPECT_NEAR (ours, ref, 0.1) << "block size " << blockSize;
            worst = std::max (worst, std::abs (ours - ref));
        }
    }

    maxDifferences()[fs] = worst;
    RecordProperty ("maxDifferenceLU", std::to_string (worst));
}

INSTANTIATE_TEST_SUITE_P (SampleRates, LoudnessReference, testing::Values (44100.0, 48000.0, 96000.0, 192000.0),
                          [] (const testing::TestParamInfo<double>& info) { return std::to_string ((int) info.param) + "Hz"; });

// The sliding windows at the end of each signal: Momentary (400 ms) and
// Short-term (3 s) against the reference's values at the same moment.
TEST_P (LoudnessReference, MomentaryAndShortTermWindows)
{
    const auto fs = GetParam();

    for (const auto& mat : materials())
    {
        SCOPED_TRACE (mat.name);
        auto s = makeSignal (fs, 2);
        mat.build (s);

        LoudnessMeter momentary, shortTerm;
        momentary.prepare (fs, 2, 0.4);
        shortTerm.prepare (fs, 2, 3.0);
        feed (momentary, s, 512);
        feed (shortTerm, s, 512);

        auto* st = ebur128_init (2, (unsigned long) fs, EBUR128_MODE_S);
        std::vector<float> interleaved ((size_t) s.numSamples() * 2);
        for (int i = 0; i < s.numSamples(); ++i)
            for (int c = 0; c < 2; ++c)
                interleaved[(size_t) i * 2 + (size_t) c] = s.channels[(size_t) c][(size_t) i];
        ebur128_add_frames_float (st, interleaved.data(), (size_t) s.numSamples());

        double refM = 0.0, refS = 0.0;
        ebur128_loudness_momentary (st, &refM);
        ebur128_loudness_shortterm (st, &refS);
        ebur128_destroy (&st);

        // Below -70 LUFS the reference reports -inf or tiny values; ours
        // still measures there, so only audible windows are compared.
        if (refM > -70.0)
        {
            EXPECT_NEAR (momentary.getMomentaryLUFS(), refM, 0.1);
            EXPECT_NEAR (momentary.getWindowLUFS(), refM, 0.1);
        }

        if (refS > -70.0)
            EXPECT_NEAR (shortTerm.getWindowLUFS(), refS, 0.1);
    }
}

// Silence and everything under the absolute gate: both report no loudness.
TEST (LoudnessReferenceEdges, NothingAboveTheAbsoluteGate)
{
    auto s = makeSignal (48000.0, 2);
    addTone (s, 3.0, 1000.0, -90.0);
    EXPECT_EQ (ourLoudness (s, 512), -120.0);
    const auto ref = referenceLoudness (s, 512);
    EXPECT_TRUE (std::isinf (ref) && ref < 0.0);
}

// The live integrated value comes from a fine histogram of the gating blocks,
// not from their list. After every second of each signal, and after a
// restart of the gating in the middle, it stays within 0.1 LU of the exact
// gated value over the list (and, at the end, of libebur128).
TEST (LiveIntegrated, WithinATenthOfALUOfTheExactGatedValue)
{
    auto signals = materials();
    signals.push_back ({ "digital silence gaps",
                         [] (Signal& s) { addTone (s, 2.0, 1000.0, -200.0); addNoise (s, 3.0, -18.0, 5); addTone (s, 2.0, 1000.0, -200.0);
                                          addNoise (s, 2.0, -24.0, 6); } });
    signals.push_back ({ "many levels around the relative gate",
                         [] (Signal& s) { for (int k = 0; k < 12; ++k) addTone (s, 0.7, 1000.0, -20.0 - 1.0 * (k % 13)); } });
    signals.push_back ({ "slow fade over 60 dB",
                         [] (Signal& s) { for (int k = 0; k < 60; ++k) addNoise (s, 0.25, -10.0 - k, (uint32_t) (10 + k)); } });

    constexpr double fs = 48000.0;
    double worst = 0.0;

    for (const auto& mat : signals)
    {
        SCOPED_TRACE (mat.name);
        auto s = makeSignal (fs, 2);
        mat.build (s);

        LoudnessMeter live, exact;
        live.prepare (fs, 2, 0.4);
        live.setFramesEnabled (false);
        live.setRecordBlocks (false);
        live.setGatingHistogram (true);
        exact.prepare (fs, 2, 0.4);
        exact.setFramesEnabled (false);

        const auto second = (int) fs;
        juce::AudioBuffer<float> part;

        for (int pos = 0; pos < s.numSamples(); pos += 480)
        {
            const auto num = std::min (480, s.numSamples() - pos);
            fillBuffer (s, pos, num, part);
            live.processBlock (part);
            exact.processBlock (part);

            // A section change after 4 s restarts both.
            if (pos < 4 * second && pos + num >= 4 * second)
            {
                live.resetGating();
                exact.resetGating();
            }

            if ((pos + num) % second == 0 || pos + num == s.numSamples())
            {
                const auto l = live.getIntegratedLUFS();
                const auto e = exact.getIntegratedLUFS();
                ASSERT_EQ (l <= -119.5f, e <= -119.5f) << "at sample " << pos + num;
                if (e > -119.5f)
                {
                    EXPECT_NEAR (l, e, 0.1) << "at sample " << pos + num;
                    worst = std::max (worst, (double) std::abs (l - e));
                }
            }
        }

        EXPECT_TRUE (exact.getBlockEnergies().size() > 0);
        EXPECT_TRUE (live.getBlockEnergies().empty());
    }

    std::cout << "max |live - exact| = " << std::fixed << std::setprecision (5) << worst << " LU" << std::endl;
}

namespace
{
    void addSilence (Signal& s, double seconds)
    {
        const auto n = (size_t) std::lround (seconds * s.sampleRate);
        for (auto& ch : s.channels)
            ch.insert (ch.end(), n, 0.0f);
    }

    // One sample of the given value at the start of every second, zeros between.
    void addClicks (Signal& s, double seconds, float value)
    {
        const auto n = (size_t) std::lround (seconds * s.sampleRate);
        for (auto& ch : s.channels)
            for (size_t i = 0; i < n; ++i)
                ch.push_back (i % (size_t) s.sampleRate == 0 ? value : 0.0f);
    }

    // The live integrated value as the processor runs it: no block list, the
    // fine gating histogram.
    double liveLoudness (const Signal& s, int blockSize)
    {
        LoudnessMeter live;
        live.prepare (s.sampleRate, 2, 0.4);
        live.setFramesEnabled (false);
        live.setRecordBlocks (false);
        live.setGatingHistogram (true);
        feed (live, s, blockSize);
        return live.getIntegratedLUFS();
    }
}

// The live integrated value against libebur128 at the edges of its range:
// floating-point input far above full scale (the relative gate then lies
// above +10 LUFS), tiny signals next to digital silence, single clicks,
// silence on the hop grid, the bottom of the absolute gate; at several
// sample rates and odd host block sizes.
TEST (LiveIntegrated, EdgesOfTheLevelRangeAgainstLibebur128)
{
    const std::vector<Material> signals {
        { "+30 then -5 dBFS",  [] (Signal& s) { addTone (s, 3.0, 1000.0, 30.0); addTone (s, 3.0, 1000.0, -5.0); } },
        { "+25 then +12 dBFS", [] (Signal& s) { addTone (s, 3.0, 1000.0, 25.0); addTone (s, 3.0, 1000.0, 12.0); } },
        { "+15 then +2 dBFS",  [] (Signal& s) { addTone (s, 3.0, 1000.0, 15.0); addTone (s, 3.0, 1000.0, 2.0); } },
        { "+60 then +45 dBFS", [] (Signal& s) { addTone (s, 2.0, 1000.0, 60.0); addTone (s, 2.0, 1000.0, 45.0); } },
        { "+40 dBFS",          [] (Signal& s) { addTone (s, 3.0, 1000.0, 40.0); } },
        { "-200 dBFS, digital silence, -20 dBFS",
          [] (Signal& s) { addTone (s, 2.0, 1000.0, -200.0); addSilence (s, 1.0); addTone (s, 2.0, 1000.0, -20.0); } },
        { "one click per second", [] (Signal& s) { addClicks (s, 10.0, 0.5f); } },
        { "-69 dBFS",          [] (Signal& s) { addTone (s, 3.0, 1000.0, -69.0); } },
        { "0.4 s tones, 0.1 s silence",
          [] (Signal& s) { for (int k = 0; k < 8; ++k) { addTone (s, 0.4, 1000.0, -20.0 - k); addSilence (s, 0.1); } } },
        { "full scale, then 20 s at -25 dBFS", [] (Signal& s) { addTone (s, 1.0, 1000.0, 0.0); addTone (s, 20.0, 1000.0, -25.0); } },
    };

    double worst = 0.0;

    for (double fs : { 44100.0, 88200.0, 96000.0, 192000.0 })
    {
        for (const auto& mat : signals)
        {
            auto s = makeSignal (fs, 2);
            mat.build (s);

            // One-sample blocks at one rate only: they take long.
            for (int bs : { 1, 7, 4097 })
            {
                if (bs == 1 && fs != 44100.0)
                    continue;

                SCOPED_TRACE (mat.name + " at " + std::to_string ((int) fs) + " Hz, blocks of " + std::to_string (bs));
                const auto ref = referenceLoudness (s, bs);
                const auto live = liveLoudness (s, bs);
                ASSERT_TRUE (std::isfinite (ref));
                EXPECT_NEAR (live, ref, 0.1);
                EXPECT_NEAR (ourLoudness (s, bs), ref, 0.1);
                worst = std::max (worst, std::abs (live - ref));
            }
        }
    }

    std::cout << "max |live - libebur128| = " << std::fixed << std::setprecision (4) << worst << " LU" << std::endl;
}
