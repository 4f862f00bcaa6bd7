// Drawing cost of the Learn History chart against the length of its history
// (a three-minute take up to ten hours of 100 ms blocks), and of a meter
// column at the editor's refresh.

#include <benchmark/benchmark.h>

#include "ui/LearnHistoryChart.h"
#include "ui/MeterComponents.h"

#include <cmath>

namespace
{
struct Gui
{
    juce::ScopedJuceInitialiser_GUI init;
};

Gui& gui()
{
    static Gui g;
    return g;
}

void fill (LearnHistoryChart& chart, int n)
{
    auto& h = chart.historyData;
    h.selfSeries.clear();
    h.partnerSeries.clear();
    h.belowGate.clear();
    for (int i = 0; i < n; ++i)
    {
        h.selfSeries.push_back (-20.0f + 6.0f * std::sin ((float) i * 0.013f) + 2.0f * std::sin ((float) i * 0.7f));
        h.partnerSeries.push_back (-16.0f + std::sin ((float) i * 0.002f));
        h.belowGate.push_back ((i / 40) % 9 == 0);
    }
    chart.lengthSeconds = (float) n * 0.1f;
}
} // namespace

static void BM_LearnHistoryPaint (benchmark::State& state)
{
    gui();
    LearnHistoryChart chart;
    chart.setSize (700, 260);
    fill (chart, (int) state.range (0));
    chart.trimStart = 0.1f;
    chart.trimEnd = 0.9f;
    chart.showGainCurve = true;
    chart.totalGainDb = 3.0f;
    juce::Image img (juce::Image::ARGB, 700, 260, true);
    for (auto _ : state)
    {
        juce::Graphics g (img);
        chart.paint (g);
    }
    state.SetItemsProcessed (state.iterations() * state.range (0));
}
BENCHMARK (BM_LearnHistoryPaint)->Arg (1800)->Arg (36000)->Arg (360000)->Unit (benchmark::kMillisecond);

static void BM_MeterColumnPaint (benchmark::State& state)
{
    gui();
    VocalMeterBar bar;
    bar.setSize (80, 260);
    bar.setLayout (1);
    bar.setShowScale (true);
    bar.setLevels (-16.0f, -12.0f);
    bar.setIntegratedLufs (-13.0f);
    bar.setPeaks (-3.0f, -5.0f);
    juce::Image img (juce::Image::ARGB, 80, 260, true);
    for (auto _ : state)
    {
        juce::Graphics g (img);
        bar.paint (g);
    }
}
BENCHMARK (BM_MeterColumnPaint)->Unit (benchmark::kMicrosecond);

BENCHMARK_MAIN();
