// Cost of the state value codecs on the largest values a state holds: a
// 30-minute measurement (4500 gating blocks, 18000 frames of 100 ms).

#include "processor/StateCodecs.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace
{
    std::vector<double> history()
    {
        std::vector<double> v (4500);
        for (size_t i = 0; i < v.size(); ++i)
            v[i] = -23.0 + std::sin ((double) i * 0.1);
        return v;
    }

    qvn::AnalysisFrameList frames()
    {
        std::vector<AnalysisFrame> v (18000);
        for (size_t i = 0; i < v.size(); ++i)
            v[i] = { 12.5 + (double) i, 4800 };
        return std::make_shared<const std::vector<AnalysisFrame>> (std::move (v));
    }

    qvn::CustomRmsFrameList customFrames()
    {
        std::vector<CustomRmsFrame> v (18000);
        for (size_t i = 0; i < v.size(); ++i)
            v[i] = { 12.5 + (double) i, 4800, 3 };
        return std::make_shared<const std::vector<CustomRmsFrame>> (std::move (v));
    }

    void encodeHistory (benchmark::State& state)
    {
        const auto v = history();
        for (auto _ : state)
            benchmark::DoNotOptimize (qvn::encodeHistory (v));
    }

    void decodeHistory (benchmark::State& state)
    {
        const juce::var text (qvn::encodeHistory (history()));
        for (auto _ : state)
            benchmark::DoNotOptimize (qvn::decodeHistory (text));
    }

    void encodeFrames (benchmark::State& state)
    {
        const auto f = frames();
        for (auto _ : state)
            benchmark::DoNotOptimize (qvn::encodeFrames (f));
    }

    void decodeFrames (benchmark::State& state)
    {
        const juce::var text (qvn::encodeFrames (frames()));
        for (auto _ : state)
            benchmark::DoNotOptimize (qvn::decodeFrames (text));
        state.SetBytesProcessed ((int64_t) state.iterations() * text.toString().getNumBytesAsUTF8());
    }

    void encodeCustomFrames (benchmark::State& state)
    {
        const auto f = customFrames();
        for (auto _ : state)
            benchmark::DoNotOptimize (qvn::encodeCustomFrames (f));
    }

    void decodeCustomFrames (benchmark::State& state)
    {
        const juce::var text (qvn::encodeCustomFrames (customFrames()));
        for (auto _ : state)
            benchmark::DoNotOptimize (qvn::decodeCustomFrames (text));
        state.SetBytesProcessed ((int64_t) state.iterations() * text.toString().getNumBytesAsUTF8());
    }

    void frameworkDecodeOfTheSameText (benchmark::State& state)
    {
        const auto text = qvn::encodeCustomFrames (customFrames());
        for (auto _ : state)
        {
            juce::MemoryBlock block;
            benchmark::DoNotOptimize (block.fromBase64Encoding (text));
        }
        state.SetBytesProcessed ((int64_t) state.iterations() * text.getNumBytesAsUTF8());
    }
} // namespace

BENCHMARK (encodeHistory)->Unit (benchmark::kMicrosecond);
BENCHMARK (decodeHistory)->Unit (benchmark::kMicrosecond);
BENCHMARK (encodeFrames)->Unit (benchmark::kMicrosecond);
BENCHMARK (decodeFrames)->Unit (benchmark::kMicrosecond);
BENCHMARK (encodeCustomFrames)->Unit (benchmark::kMicrosecond);
BENCHMARK (decodeCustomFrames)->Unit (benchmark::kMicrosecond);
BENCHMARK (frameworkDecodeOfTheSameText)->Unit (benchmark::kMicrosecond);

BENCHMARK_MAIN();
