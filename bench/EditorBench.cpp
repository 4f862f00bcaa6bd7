// Cost of opening the plug-in window (construction plus the first full paint)
// and of repainting all of it at 100 % and 200 %, the latter also as a share
// of the 50 ms refresh interval ("of_refresh_pct").

#include <benchmark/benchmark.h>

#include "editor/PluginEditor.h"
#include "settings/AppSettings.h"

#include <cstdlib>

namespace
{
struct Session
{
    Session()
    {
        const auto home = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("qvn_bench_editor_home");
        home.createDirectory();
        ::setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
        AppSettings::get().setUpdateChecksEnabled (false);
        AppSettings::get().setEditorZoom (1.0);

        for (int role : { 1, 2, 2, 2, 2 })
        {
            auto p = std::make_unique<QuorvaneProcessor>();
            auto* param = p->parameters.getParameter (ids::role);
            param->setValueNotifyingHost (param->convertTo0to1 ((float) role));
            p->handleUpdateNowIfNeeded();
            processors.push_back (std::move (p));
        }
    }

    QuorvaneProcessor& vocal() { return *processors[1]; }

    juce::ScopedJuceInitialiser_GUI init;
    std::vector<std::unique_ptr<QuorvaneProcessor>> processors;
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

void paintAll (QuorvaneEditor& e, juce::Image& image, float scale)
{
    juce::Graphics g (image);
    g.addTransform (juce::AffineTransform::scale (scale));
    e.paintEntireComponent (g, true);
}

void BM_EditorOpenAndFirstPaint (benchmark::State& state)
{
    auto& s = session();
    juce::Image image (juce::Image::ARGB, 1132, 612, true);
    for (auto _ : state)
    {
        QuorvaneEditor e (s.vocal());
        e.timerCallback();
        paintAll (e, image, 1.0f);
        benchmark::DoNotOptimize (image.getPixelAt (400, 300));
    }
}
BENCHMARK (BM_EditorOpenAndFirstPaint)->Unit (benchmark::kMillisecond);

void BM_EditorFullRepaint (benchmark::State& state)
{
    auto& s = session();
    const float scale = (float) state.range (0) / 100.0f;
    QuorvaneEditor e (s.vocal());
    e.timerCallback();
    juce::Image image (juce::Image::ARGB, juce::roundToInt ((float) e.getWidth() * scale),
                       juce::roundToInt ((float) e.getHeight() * scale), true);

    for (auto _ : state)
    {
        paintAll (e, image, scale);
        benchmark::DoNotOptimize (image.getPixelAt (10, 10));
    }

    state.counters["of_refresh_pct"] = benchmark::Counter ((double) state.iterations() / 2000.0,
                                                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK (BM_EditorFullRepaint)->Arg (100)->Arg (200)->Unit (benchmark::kMillisecond);

// One refresh tick of the Vocal view with 16 finished sections: steady (nothing
// changed) and with every section's levels moving, so every cell gets a new text.
void BM_EditorTick (benchmark::State& state)
{
    auto& s = session();
    auto& p = s.vocal();
    for (int i = 0; i < 16; ++i)
    {
        auto& sec = p.sections[(size_t) i];
        sec.frozen = true;
        sec.selfLufs = -20.0f + (float) i * 0.3f;
        sec.partnerLufs = -16.0f;
        sec.seconds = 10.0f + (float) i;
    }
    QuorvaneEditor e (p);
    e.setSize (1092, 612);
    e.timerCallback();
    const bool moving = state.range (0) != 0;
    int n = 0;
    for (auto _ : state)
    {
        if (moving)
            for (int i = 0; i < 16; ++i)
                p.sections[(size_t) i].partnerLufs = -16.0f + (float) (++n % 50) * 0.1f;
        e.timerCallback();
    }
    state.counters["of_refresh_pct"] = benchmark::Counter ((double) state.iterations() / 2000.0,
                                                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    for (int i = 0; i < 16; ++i)
        p.resetSectionMeasurementNoUndo (i);
}
BENCHMARK (BM_EditorTick)->Arg (0)->Arg (1)->Unit (benchmark::kMicrosecond);
} // namespace

int main (int argc, char** argv)
{
    benchmark::Initialize (&argc, argv);
    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The processors go before the process-wide registry they are linked in.
    sessionHolder().reset();
    return 0;
}
