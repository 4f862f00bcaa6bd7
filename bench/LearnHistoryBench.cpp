// The section Learn History chart of the plug-in window: building a snapshot
// of a stored result and copying it into the chart, painting the chart, and a
// refresh tick with a long result on screen where nothing changed (which
// takes no snapshot) against one whose stored result was renewed (which does).
// Arguments are the length of the stored section in minutes; the history has
// one entry per 100 ms.

#include <benchmark/benchmark.h>

#include "editor/PluginEditor.h"
#include "settings/AppSettings.h"

#include <cmath>
#include <cstdlib>

namespace
{
struct ChartSession
{
    ChartSession()
    {
        const auto home = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("qvn_bench_chart_home");
        home.createDirectory();
        ::setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
        AppSettings::get().setUpdateChecksEnabled (false);
        AppSettings::get().setEditorZoom (1.0);

        for (int role : { 1, 2 })
        {
            auto p = std::make_unique<QuorvaneProcessor>();
            auto* param = p->parameters.getParameter (ids::role);
            param->setValueNotifyingHost (param->convertTo0to1 ((float) role));
            p->handleUpdateNowIfNeeded();
            processors.push_back (std::move (p));
        }
        editor = std::make_unique<QuorvaneEditor> (vocal());
        editor->setSize (1092, 612);
        editor->timerCallback();
    }

    ~ChartSession()
    {
        editor.reset();
        processors.clear();
    }

    QuorvaneProcessor& vocal() { return *processors[1]; }

    /** A stored result of the given length: a slowly varying vocal over a steady instrumental. */
    void store (int minutes)
    {
        auto& p = vocal();
        auto& s = p.sections[0];
        const auto n = (size_t) minutes * 600;
        {
            std::lock_guard<std::mutex> lock (p.analysisMutex);
            s.selfHistory.resize (n);
            s.partnerHistory.assign (n, std::pow (10.0, (-14.0 + 0.691) / 10.0));
            for (size_t i = 0; i < n; ++i)
                s.selfHistory[i] = std::pow (10.0, (-22.0 + 4.0 * std::sin ((double) i * 0.01) + 0.691) / 10.0);
            s.analysisSeconds = (float) n * 0.1f;
            p.recomputeSectionFromTrim (0);
        }
        renew();
        editor->timerCallback();
    }

    void renew() { vocal().historyRevision[0] = vocal().revisionCounter.fetch_add (1) + 1; }

    juce::ScopedJuceInitialiser_GUI init;
    std::vector<std::unique_ptr<QuorvaneProcessor>> processors;
    std::unique_ptr<QuorvaneEditor> editor;
};

ChartSession& session()
{
    static ChartSession s;
    return s;
}

void BM_SnapshotBuildAndApply (benchmark::State& state)
{
    auto& s = session();
    s.store ((int) state.range (0));
    for (auto _ : state)
    {
        const auto snap = s.vocal().getLearnHistorySnapshot (0);
        applyHistorySnapshot (s.editor->sectionChart, snap);
        benchmark::DoNotOptimize (snap.selfSeries.data());
    }
    state.counters["points"] = (double) s.editor->sectionChart.historyData.selfSeries.size();
}
BENCHMARK (BM_SnapshotBuildAndApply)->Arg (10)->Arg (120)->Unit (benchmark::kMicrosecond);

void BM_SectionChartPaint (benchmark::State& state)
{
    auto& s = session();
    s.store ((int) state.range (0));
    auto& chart = s.editor->sectionChart;
    juce::Image image (juce::Image::ARGB, juce::jmax (1, chart.getWidth()), juce::jmax (1, chart.getHeight()), true);
    for (auto _ : state)
    {
        juce::Graphics g (image);
        chart.paint (g);
    }
    state.counters["width"] = chart.getWidth();
    state.counters["height"] = chart.getHeight();
}
BENCHMARK (BM_SectionChartPaint)->Arg (10)->Arg (120)->Unit (benchmark::kMicrosecond);

void BM_TickTwoHourSectionNothingChanged (benchmark::State& state)
{
    auto& s = session();
    s.store (120);
    s.editor->timerCallback();
    for (auto _ : state)
        s.editor->timerCallback();
}
BENCHMARK (BM_TickTwoHourSectionNothingChanged)->Unit (benchmark::kMicrosecond);

void BM_TickTwoHourSectionRenewed (benchmark::State& state)
{
    auto& s = session();
    s.store (120);
    for (auto _ : state)
    {
        s.renew();
        s.editor->timerCallback();
    }
}
BENCHMARK (BM_TickTwoHourSectionRenewed)->Unit (benchmark::kMicrosecond);
} // namespace

BENCHMARK_MAIN();
