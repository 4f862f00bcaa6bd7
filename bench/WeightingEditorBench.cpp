// Cost of dragging a node of the custom weighting graph: one drag event
// (the band moves, the working copy is normalised and every control
// refreshed) followed by the repaint it causes, at 100 % and 200 %. Measured
// for the graph alone and, as an upper bound, for the whole panel. The
// "of_frame_pct" counter is the share of one 60 Hz frame (16.7 ms).

#include <benchmark/benchmark.h>

#include "processor/PluginProcessor.h"
#include "settings/AppSettings.h"
#include "weighting_editor/CustomWeightedRmsEditor.h"

#include <cstdlib>

namespace
{
struct Session
{
    Session()
    {
        const auto home = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("qvn_bench_weighting_home");
        home.createDirectory();
        ::setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
        AppSettings::get().setUpdateChecksEnabled (false);
        host.setBounds (0, 0, 972, 612);
        host.setVisible (true);
        auto& panel = CustomWeightedRmsEditor::openOver (host, holder, processor);

        // A six-band design: every redesign builds all seven curves in full.
        const CustomSlotSettings bands[] = {
            { true, 0, 45.0, 0.0, 0.7071067811865476, 24.0 },   { true, 1, 140.0, 4.5, 0.7071067811865476, 12.0 },
            { true, 5, 700.0, -3.0, 0.7071067811865476, 12.0 }, { true, 2, 2500.0, -8.0, 2.2, 12.0 },
            { true, 3, 6500.0, 6.0, 0.7071067811865476, 12.0 }, { true, 4, 15000.0, 0.0, 0.9, 36.0 },
        };
        for (size_t i = 0; i < 6; ++i)
            panel.workingCopy.slots[i] = bands[i];
        panel.workingCopyChanged (true);
    }

    ~Session() { holder.reset(); }

    CustomWeightedRmsEditor& panel() { return *holder; }

    juce::ScopedJuceInitialiser_GUI init;
    QuorvaneProcessor processor;
    juce::Component host;
    std::unique_ptr<CustomWeightedRmsEditor> holder;
};

std::unique_ptr<Session>& sessionHolder()
{
    static std::unique_ptr<Session> s;
    return s;
}

Session& session()
{
    auto& s = sessionHolder();
    if (s == nullptr)
        s = std::make_unique<Session>();
    return *s;
}

juce::MouseEvent eventAt (juce::Component& c, juce::Point<float> p)
{
    return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), p,
                             juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier),
                             juce::MouseInputSource::defaultPressure, 0.0f, 0.0f, 0.0f, 0.0f, &c, &c,
                             juce::Time::getCurrentTime(), p, juce::Time::getCurrentTime(), 1, false);
}

void dragBench (benchmark::State& state, bool wholePanel)
{
    auto& s = session();
    auto& panel = s.panel();
    auto& graph = panel.responseGraph;
    juce::Component& painted = wholePanel ? static_cast<juce::Component&> (panel) : graph;
    const float scale = (float) state.range (0) / 100.0f;
    juce::Image image (juce::Image::ARGB, juce::roundToInt ((float) painted.getWidth() * scale),
                       juce::roundToInt ((float) painted.getHeight() * scale), true);

    const auto start = graph.nodePosition (3, graph.currentMap());
    graph.mouseDown (eventAt (graph, start));
    int step = 0;
    for (auto _ : state)
    {
        // Back and forth over 200 px and 60 px: a new frequency and gain each time.
        const float phase = (float) (step++ % 40) / 40.0f;
        const float swing = phase < 0.5f ? phase * 2.0f : 2.0f - phase * 2.0f;
        graph.mouseDrag (eventAt (graph, start + juce::Point<float> (-100.0f + 200.0f * swing, 30.0f - 60.0f * swing)));

        juce::Graphics g (image);
        g.addTransform (juce::AffineTransform::scale (scale));
        painted.paintEntireComponent (g, true);
        benchmark::DoNotOptimize (image.getPixelAt (10, 10));
    }
    graph.mouseUp (eventAt (graph, start));

    state.counters["of_frame_pct"] = benchmark::Counter ((double) state.iterations() / 6000.0,
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_GraphNodeDrag (benchmark::State& state)      { dragBench (state, false); }
void BM_GraphNodeDragPanel (benchmark::State& state) { dragBench (state, true); }
BENCHMARK (BM_GraphNodeDrag)->Arg (100)->Arg (200)->Unit (benchmark::kMillisecond);
BENCHMARK (BM_GraphNodeDragPanel)->Arg (100)->Arg (200)->Unit (benchmark::kMillisecond);
} // namespace

int main (int argc, char** argv)
{
    benchmark::Initialize (&argc, argv);
    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    sessionHolder().reset();
    return 0;
}
