// Cost of one 50 ms refresh tick of the plug-in window with 1 Inst and 8 linked
// Vocal instances, all Vocals measuring: with new levels from the audio
// threads on every tick (the usual case while playing) and with nothing new.
// "of_interval_pct" is the tick's share of the 50 ms interval.

#include <benchmark/benchmark.h>

#include "editor/PluginEditor.h"
#include "settings/AppSettings.h"

#include <cstdlib>

namespace
{
struct TickSession
{
    TickSession()
    {
        const auto home = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("qvn_bench_tick_home");
        home.createDirectory();
        ::setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
        AppSettings::get().setUpdateChecksEnabled (false);
        AppSettings::get().setEditorZoom (1.0);

        for (int role : { 1, 2, 2, 2, 2, 2, 2, 2, 2 })
        {
            auto p = std::make_unique<QuorvaneProcessor>();
            auto* param = p->parameters.getParameter (ids::role);
            param->setValueNotifyingHost (param->convertTo0to1 ((float) role));
            p->handleUpdateNowIfNeeded();
            processors.push_back (std::move (p));
        }

        for (size_t i = 1; i < processors.size(); ++i)
            processors[i]->kickSectionMeasurement (0);
        processors[0]->instTargetUiOpen = true;

        vocalEditor = std::make_unique<QuorvaneEditor> (*processors[1]);
        instEditor = std::make_unique<QuorvaneEditor> (*processors[0]);
        for (int i = 0; i < 3; ++i)
        {
            vocalEditor->timerCallback();
            instEditor->timerCallback();
        }
    }

    ~TickSession()
    {
        vocalEditor.reset();
        instEditor.reset();
        processors.clear();
    }

    // New levels everywhere, as the audio threads publish them every block.
    void publishLevels (float v)
    {
        for (auto& p : processors)
        {
            for (auto* a : { &p->meterVocalShortTerm, &p->meterVocalShortTermPostGain, &p->meterVocalMomentary,
                             &p->meterInstMomentary, &p->meterVocalMomentaryPostGain, &p->meterVocalIntegratedPostGain,
                             &p->meterInstIntegrated, &p->meterTargetLevel, &p->vocalPeakLeftDb, &p->vocalPeakRightDb,
                             &p->instPeakLeftDb, &p->instPeakRightDb })
                a->store (v);
            auto& s = *p->ownSlot;
            for (auto* a : { &s.liveShortTerm, &s.liveMomentary, &s.liveMomentaryPostGain, &s.liveShortTermPostGain,
                             &s.liveIntegratedPostGain, &s.peakLeftDb, &s.peakRightDb })
                a->store (v);
        }
    }

    juce::ScopedJuceInitialiser_GUI init;
    std::vector<std::unique_ptr<QuorvaneProcessor>> processors;
    std::unique_ptr<QuorvaneEditor> vocalEditor, instEditor;
};

TickSession& session()
{
    static TickSession s;
    return s;
}

void reportShare (benchmark::State& state)
{
    // seconds per tick / 0.05 s x 100
    state.counters["of_interval_pct"] = benchmark::Counter ((double) state.iterations() / 2000.0,
                                                            benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_TickVocalNewLevels (benchmark::State& state)
{
    auto& s = session();
    float v = -30.0f;
    for (auto _ : state)
    {
        v = v > -10.0f ? -30.0f : v + 0.01f;
        s.publishLevels (v);
        s.vocalEditor->timerCallback();
    }
    reportShare (state);
}
BENCHMARK (BM_TickVocalNewLevels);

void BM_TickVocalNothingNew (benchmark::State& state)
{
    auto& s = session();
    s.vocalEditor->timerCallback();
    for (auto _ : state)
        s.vocalEditor->timerCallback();
    reportShare (state);
}
BENCHMARK (BM_TickVocalNothingNew);

void BM_TickInstTargetViewNewLevels (benchmark::State& state)
{
    auto& s = session();
    float v = -30.0f;
    for (auto _ : state)
    {
        v = v > -10.0f ? -30.0f : v + 0.01f;
        s.publishLevels (v);
        s.instEditor->timerCallback();
    }
    reportShare (state);
}
BENCHMARK (BM_TickInstTargetViewNewLevels);
} // namespace

BENCHMARK_MAIN();
