// Audio-thread cost of one block on the Inst instance while a number of linked
// Vocal instances measure a section (the Inst feeds one set of meters per
// measuring Vocal), and on a Vocal while it measures.

#include "processor/LinkRegistry.h"
#include "processor/PluginProcessor.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace
{
constexpr double rate = 48000.0;
constexpr int block = 512;

void setRole (QuorvaneProcessor& p, int role)
{
    auto* param = p.parameters.getParameter (ids::role);
    param->setValueNotifyingHost (param->convertTo0to1 ((float) role));
    p.handleUpdateNowIfNeeded();
}

juce::AudioBuffer<float> noise()
{
    juce::AudioBuffer<float> b (2, block);
    juce::Random r (1);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < block; ++i)
            b.setSample (c, i, r.nextFloat() * 0.2f - 0.1f);
    return b;
}

/** Seconds of audio per second of processing, shown as x_realtime; 100 over
    it is the share of one core in percent. */
void reportRealtime (benchmark::State& state)
{
    state.SetItemsProcessed (state.iterations() * block);
    state.counters["x_realtime"] = benchmark::Counter ((double) state.iterations() * block / rate,
                                                       benchmark::Counter::kIsRate);
}

struct Rig
{
    explicit Rig (int vocals, bool measuring)
    {
        setRole (inst, 1);
        for (int i = 0; i < vocals; ++i)
        {
            voc.push_back (std::make_unique<QuorvaneProcessor>());
            setRole (*voc.back(), 2);
        }

        inst.prepareToPlay (rate, block);
        for (auto& v : voc)
            v->prepareToPlay (rate, block);

        juce::MidiBuffer midi;
        auto b = noise();
        inst.processBlock (b, midi);

        if (measuring)
            for (auto& v : voc)
                v->kickSectionMeasurement (0);

        for (auto& v : voc)
            v->processBlock (b, midi);
    }

    juce::ScopedJuceInitialiser_GUI juce;
    QuorvaneProcessor inst;
    std::vector<std::unique_ptr<QuorvaneProcessor>> voc;
};

void BM_InstBlock (benchmark::State& state)
{
    Rig rig ((int) state.range (0), state.range (1) != 0);
    auto b = noise();
    juce::MidiBuffer midi;

    for (auto _ : state)
    {
        rig.inst.processBlock (b, midi);
        benchmark::DoNotOptimize (b.getReadPointer (0));
    }

    reportRealtime (state);
}

void BM_VocalBlock (benchmark::State& state)
{
    Rig rig (1, state.range (0) != 0);
    auto b = noise();
    juce::MidiBuffer midi;

    for (auto _ : state)
    {
        rig.voc.front()->processBlock (b, midi);
        benchmark::DoNotOptimize (b.getReadPointer (0));
    }

    reportRealtime (state);
}
} // namespace

// Measuring runs are bounded in length: a run longer than the recorded lists'
// reserve grows them, which is part of the measured cost.
BENCHMARK (BM_InstBlock)->Args ({ 1, 0 })->Args ({ 1, 1 })->Args ({ 4, 1 })->Args ({ 8, 1 })->Iterations (2000);
BENCHMARK (BM_VocalBlock)->Arg (0)->Arg (1)->Iterations (2000);
BENCHMARK_MAIN();
