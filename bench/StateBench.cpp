// Saving and restoring the plug-in state, and recording an undo step, for an
// instance whose sixteen sections each hold five minutes of measurement (and
// whose A/B slots hold the same again).

#include "processor/PluginProcessor.h"

#include <benchmark/benchmark.h>

#include <random>

namespace
{
void fill (QuorvaneProcessor& p)
{
    constexpr int blocks = 3000; // five minutes in 100 ms steps
    std::mt19937 rng (1);
    std::uniform_real_distribution<double> energy (1.0e-4, 2.0e-2);
    const std::lock_guard<std::mutex> lock (p.analysisMutex);

    for (auto& s : p.sections)
    {
        std::vector<AnalysisFrame> a, b;
        std::vector<CustomRmsFrame> c, d;
        s.frozen = true;
        s.selfHistory.resize (blocks);
        s.partnerHistory.resize (blocks);

        for (int k = 0; k < blocks; ++k)
        {
            s.selfHistory[(size_t) k] = energy (rng);
            s.partnerHistory[(size_t) k] = energy (rng);
            a.push_back ({ energy (rng), 4800 });
            b.push_back ({ energy (rng), 4800 });
            c.push_back ({ energy (rng), 4800, 1 });
            d.push_back ({ energy (rng), 4800, 1 });
        }

        s.selfFrames = std::make_shared<const std::vector<AnalysisFrame>> (std::move (a));
        s.partnerFrames = std::make_shared<const std::vector<AnalysisFrame>> (std::move (b));
        s.customSelfFrames = std::make_shared<const std::vector<CustomRmsFrame>> (std::move (c));
        s.customPartnerFrames = std::make_shared<const std::vector<CustomRmsFrame>> (std::move (d));
    }
}

struct Fixture
{
    Fixture()
    {
        fill (p);
        p.abSlots[1] = p.captureSnapshot();
        p.getStateInformation (blob);
    }

    juce::ScopedJuceInitialiser_GUI juce;
    QuorvaneProcessor p;
    juce::MemoryBlock blob;
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

void BM_GetStateInformation (benchmark::State& state)
{
    auto& f = fixture();

    for (auto _ : state)
    {
        juce::MemoryBlock out;
        f.p.getStateInformation (out);
        benchmark::DoNotOptimize (out.getData());
    }

    state.counters["blobMB"] = (double) f.blob.getSize() / 1.0e6;
}

void BM_SetStateInformation (benchmark::State& state)
{
    auto& f = fixture();
    QuorvaneProcessor target;

    for (auto _ : state)
        target.setStateInformation (f.blob.getData(), (int) f.blob.getSize());
}

// What the framework's own reader alone takes for the same blob: the parse
// that a restore cannot avoid.
void BM_FrameworkXmlFromBinary (benchmark::State& state)
{
    auto& f = fixture();

    for (auto _ : state)
    {
        auto xml = juce::AudioProcessor::getXmlFromBinary (f.blob.getData(), (int) f.blob.getSize());
        benchmark::DoNotOptimize (xml.get());
    }
}

void BM_PushUndoSnapshot (benchmark::State& state)
{
    auto& f = fixture();

    for (auto _ : state)
        f.p.pushUndoSnapshot();

    f.p.undoStack.clear();
}
} // namespace

BENCHMARK (BM_GetStateInformation)->Unit (benchmark::kMillisecond);
BENCHMARK (BM_SetStateInformation)->Unit (benchmark::kMillisecond);
BENCHMARK (BM_FrameworkXmlFromBinary)->Unit (benchmark::kMillisecond);
BENCHMARK (BM_PushUndoSnapshot)->Unit (benchmark::kMillisecond);
BENCHMARK_MAIN();
