// Throughput of the loudness meters on ten minutes of stereo 48 kHz audio in
// 512-sample blocks, side by side with libebur128 (modes I, M and S) on the
// same signal and the same blocks. The last line printed is the ratio of the
// frames per second.
#include <benchmark/benchmark.h>
#include "dsp/CustomWeightedRmsMeter.h"
#include "dsp/LoudnessMeter.h"

#include <ebur128.h>

#include <ctime>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 512;
    constexpr int64_t totalFrames = 10 * 60 * 48000;
    constexpr int sourceFrames = 30 * 48000;   // the signal loops over 30 s of material

    // Music-like material: noise with a tone and a slow level change.
    struct Source
    {
        std::vector<float> left, right, interleaved;

        Source()
        {
            std::mt19937 rng (7);
            std::uniform_real_distribution<float> dist (-1.0f, 1.0f);
            left.resize (sourceFrames + blockSize);
            right.resize (sourceFrames + blockSize);

            for (int i = 0; i < sourceFrames; ++i)
            {
                const auto t = (double) i / sampleRate;
                const auto env = 0.3 + 0.25 * std::sin (2.0 * M_PI * 0.2 * t);
                const auto tone = 0.2 * std::sin (2.0 * M_PI * 220.0 * t);
                left[(size_t) i] = (float) (env * (0.5 * dist (rng) + tone));
                right[(size_t) i] = (float) (env * (0.5 * dist (rng) - tone));
            }

            // Blocks that run over the end wrap around to the start.
            for (int i = 0; i < blockSize; ++i)
            {
                left[(size_t) (sourceFrames + i)] = left[(size_t) i];
                right[(size_t) (sourceFrames + i)] = right[(size_t) i];
            }

            interleaved.resize (2 * left.size());
            for (size_t i = 0; i < left.size(); ++i)
            {
                interleaved[2 * i] = left[i];
                interleaved[2 * i + 1] = right[i];
            }
        }
    };

    const Source& source()
    {
        static const Source s;
        return s;
    }

    // Calls f (startInSource, numFrames) for each block of the ten minutes.
    template <typename F>
    void forEachBlock (F&& f)
    {
        int64_t done = 0;
        int pos = 0;

        while (done < totalFrames)
        {
            const auto num = (int) std::min<int64_t> (blockSize, totalFrames - done);
            f (pos, num);
            done += num;
            pos += num;
            if (pos >= sourceFrames)
                pos -= sourceFrames;
        }
    }

    double framesPerSecondLoudnessMeter = 0.0;
    double framesPerSecondLibebur128 = 0.0;

    // CPU time of this thread, so that a busy machine does not skew the ratio.
    double threadSeconds()
    {
        timespec ts {};
        clock_gettime (CLOCK_THREAD_CPUTIME_ID, &ts);
        return (double) ts.tv_sec + 1.0e-9 * (double) ts.tv_nsec;
    }

    template <typename F>
    void runTimed (benchmark::State& state, double& framesPerSecond, F&& oneRun)
    {
        double seconds = 0.0;
        int64_t runs = 0;

        for (auto _ : state)
        {
            const auto t0 = threadSeconds();
            oneRun();
            seconds += threadSeconds() - t0;
            ++runs;
        }

        framesPerSecond = seconds > 0.0 ? (double) (runs * totalFrames) / seconds : 0.0;
        state.SetItemsProcessed (runs * totalFrames);
        state.counters["frames_per_s"] = benchmark::Counter ((double) (runs * totalFrames), benchmark::Counter::kIsRate);
        state.counters["x_realtime"] = framesPerSecond / sampleRate;
    }

    void BM_LoudnessMeter (benchmark::State& state)
    {
        const auto& src = source();
        double discard = 0.0;

        runTimed (state, framesPerSecondLoudnessMeter, [&]
        {
            LoudnessMeter meter;
            meter.prepare (sampleRate, 2, 0.4);

            forEachBlock ([&] (int pos, int num)
            {
                float* channels[] = { const_cast<float*> (src.left.data() + pos), const_cast<float*> (src.right.data() + pos) };
                const juce::AudioBuffer<float> buffer (channels, 2, num);
                meter.processBlock (buffer);
            });

            benchmark::DoNotOptimize (meter.getIntegratedLUFS());
        });

        benchmark::DoNotOptimize (discard);
    }

    void BM_Libebur128 (benchmark::State& state)
    {
        const auto& src = source();

        runTimed (state, framesPerSecondLibebur128, [&]
        {
            auto* st = ebur128_init (2, (unsigned long) sampleRate, EBUR128_MODE_I | EBUR128_MODE_M | EBUR128_MODE_S);

            forEachBlock ([&] (int pos, int num)
            {
                ebur128_add_frames_float (st, src.interleaved.data() + 2 * pos, (size_t) num);
            });

            double out = 0.0;
            ebur128_loudness_global (st, &out);
            benchmark::DoNotOptimize (out);
            ebur128_destroy (&st);
        });
    }

    CustomWeightedRmsSettings sixBands()
    {
        CustomWeightedRmsSettings s;
        s.slots[0] = { true, (int32_t) CustomSlotType::HighPass, 40.0, 0.0, 0.7071067811865476, 12.0 };
        s.slots[1] = { true, (int32_t) CustomSlotType::LowShelf, 120.0, -3.0, 0.7, 12.0 };
        s.slots[2] = { true, (int32_t) CustomSlotType::FlatTilt, 1000.0, 4.5, 0.7, 12.0 };
        s.slots[3] = { true, (int32_t) CustomSlotType::Bell, 3000.0, 2.0, 1.5, 12.0 };
        s.slots[4] = { true, (int32_t) CustomSlotType::HighShelf, 8000.0, -2.0, 0.7, 12.0 };
        s.slots[5] = { true, (int32_t) CustomSlotType::LowPass, 16000.0, 0.0, 0.7071067811865476, 24.0 };
        return s;
    }

    double framesPerSecondCustom = 0.0;

    void BM_CustomWeightedRmsMeterSixBands (benchmark::State& state)
    {
        const auto& src = source();
        const auto settings = sixBands();

        runTimed (state, framesPerSecondCustom, [&]
        {
            CustomWeightedRmsMeter meter;
            meter.prepare (sampleRate, 2, settings, 1);
            meter.setRecordFrames (true);

            forEachBlock ([&] (int pos, int num)
            {
                float* channels[] = { const_cast<float*> (src.left.data() + pos), const_cast<float*> (src.right.data() + pos) };
                const juce::AudioBuffer<float> buffer (channels, 2, num);
                meter.processBlock (buffer);
            });

            benchmark::DoNotOptimize (meter.getLiveRmsDb (3.0));
        });
    }
}

BENCHMARK (BM_LoudnessMeter)->Unit (benchmark::kMillisecond);
BENCHMARK (BM_Libebur128)->Unit (benchmark::kMillisecond);
BENCHMARK (BM_CustomWeightedRmsMeterSixBands)->Unit (benchmark::kMillisecond);

int main (int argc, char** argv)
{
    benchmark::Initialize (&argc, argv);
    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    if (framesPerSecondLoudnessMeter > 0.0 && framesPerSecondLibebur128 > 0.0)
        std::printf ("LoudnessMeter / libebur128 (I|M|S) frames per second: %.2fx\n",
                     framesPerSecondLoudnessMeter / framesPerSecondLibebur128);

    if (framesPerSecondCustom > 0.0 && framesPerSecondLibebur128 > 0.0)
        std::printf ("CustomWeightedRmsMeter (six bands) / libebur128 (I|M|S) frames per second: %.2fx\n",
                     framesPerSecondCustom / framesPerSecondLibebur128);

    return 0;
}
