// The worst block of the meters that run for as long as one section lasts,
// after 10 minutes, 1 hour and 24 hours on that section, at 48 kHz in blocks
// of 64 samples (a 1.33 ms budget):
// - "live": the live integrated meter as the processor runs it (gating
//   histogram, no block list), with the integrated and histogram values read
//   after every block;
// - "list": the same meter gating its whole block list instead, as it did
//   before (for comparison);
// - "section": a section measurement's meter, recording blocks and frames.
// The hours before the timed stretch are filled in directly (gating blocks
// and frames of varied level), then 20000 real blocks (about 27 s) are timed
// one by one, in several runs. Counters: worst_us (the smallest of the
// runs' worst blocks), worst_any_us (the largest), p9999_us (99.99th
// percentile), mean_us.
#include <benchmark/benchmark.h>
#include "dsp/LoudnessMeter.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <vector>

struct LoudnessMeterInspector
{
    // Appends one gating block of the given energy and one 100 ms frame, as
    // 100 ms of audio at that level would.
    static void addHop (LoudnessMeter& m, double energy)
    {
        m.blockSum = energy * (double) m.blockSamples;
        m.emitBlock();

        if (m.framesEnabled != 0)
        {
            m.currentFrame = { energy * (double) m.frameSamples, m.frameSamples };
            m.finishFrame();
        }

        m.blockSum = 0.0;
        m.samplesProcessed += m.hopSamples;
    }
};

namespace
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 64;
    constexpr int timedBlocks = 20000;

    enum class Kind { live, list, section };

    void configure (LoudnessMeter& m, Kind kind)
    {
        m.prepare (sampleRate, 2, 0.4);

        if (kind == Kind::section)
        {
            m.setFramesEnabled (true);
            m.setRecordFrames (true);
            m.setRecordBlocks (true);
        }
        else
        {
            m.setFramesEnabled (false);
            m.setRecordFrames (false);
            m.setRecordBlocks (kind == Kind::list);
            m.setGatingHistogram (kind == Kind::live);
        }

        m.resetGating();
    }

    void worstBlock (benchmark::State& state, Kind kind)
    {
        const auto hours = (double) state.range (0) / 60.0;
        std::mt19937 rng (3);
        std::normal_distribution<double> level (-23.0, 6.0);

        juce::AudioBuffer<float> audio (2, blockSize);
        std::vector<double> times, all, worsts;
        times.reserve (timedBlocks);

        for (auto _ : state)
        {
            LoudnessMeter m;
            configure (m, kind);

            const auto hops = (int64_t) (hours * 3600.0 * 10.0);
            for (int64_t i = 0; i < hops; ++i)
                LoudnessMeterInspector::addHop (m, std::pow (10.0, (level (rng) + 0.691) / 10.0));

            times.clear();
            int64_t pos = 0;

            for (int b = 0; b < timedBlocks; ++b)
            {
                for (int i = 0; i < blockSize; ++i, ++pos)
                {
                    const auto v = (float) (0.1 * std::sin (2.0 * M_PI * 440.0 * (double) pos / sampleRate));
                    audio.setSample (0, i, v);
                    audio.setSample (1, i, v);
                }

                const auto t0 = std::chrono::steady_clock::now();
                m.processBlock (audio);

                if (kind != Kind::section)
                {
                    benchmark::DoNotOptimize (m.getIntegratedLUFS());
                    benchmark::DoNotOptimize (m.getHistogramIntegratedLUFS());
                }

                const auto t1 = std::chrono::steady_clock::now();
                times.push_back (std::chrono::duration<double, std::micro> (t1 - t0).count());
            }

            state.SetIterationTime (1.0e-6 * [&] { double s = 0; for (auto t : times) s += t; return s; }());
            worsts.push_back (*std::max_element (times.begin(), times.end()));
            all.insert (all.end(), times.begin(), times.end());
        }

        std::sort (all.begin(), all.end());
        double sum = 0.0;
        for (auto t : all)
            sum += t;

        // On a shared machine a single block can lose the processor for
        // milliseconds; the smallest per-run worst block is the meter's own
        // worst case, the largest shows the scheduler's.
        state.counters["worst_us"] = *std::min_element (worsts.begin(), worsts.end());
        state.counters["worst_any_us"] = *std::max_element (worsts.begin(), worsts.end());
        state.counters["p9999_us"] = all[(size_t) ((double) all.size() * 0.9999)];
        state.counters["mean_us"] = sum / (double) all.size();
    }

    void BM_Live (benchmark::State& s)    { worstBlock (s, Kind::live); }
    void BM_List (benchmark::State& s)    { worstBlock (s, Kind::list); }
    void BM_Section (benchmark::State& s) { worstBlock (s, Kind::section); }
}

// Argument: minutes on the section before the timed stretch.
BENCHMARK (BM_Live)->Arg (10)->Arg (60)->Arg (24 * 60)->Iterations (9)->UseManualTime()->Unit (benchmark::kMillisecond);
BENCHMARK (BM_List)->Arg (10)->Arg (60)->Arg (24 * 60)->Iterations (2)->UseManualTime()->Unit (benchmark::kMillisecond);
BENCHMARK (BM_Section)->Arg (10)->Arg (60)->Arg (24 * 60)->Iterations (9)->UseManualTime()->Unit (benchmark::kMillisecond);

BENCHMARK_MAIN();
