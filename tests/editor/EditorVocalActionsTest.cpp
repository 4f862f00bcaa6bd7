// The Vocal view's MATCH button, the trim of the section chart and the
// chart's refresh, driven through the real widgets on real processors. Levels
// are checked against libebur128.

#include "VocalActionsSupport.h"

//==============================================================================
TEST_F (EditorVocalActions, MatchThroughTheWindowMeasuresAppliesTrimsAndUndoes)
{
    auto& instP = addProcessor (1);
    auto& v1 = addProcessor (2);
    auto& v2 = addProcessor (2);
    auto& e1 = open (v1);
    auto& e2 = open (v2);
    for (auto* e : { &e1, &e2 })
    {
        e->setSize (1092, 612);
        e->timerCallback();
    }

    // The Inst plays -18 dBFS throughout. The first Vocal plays -20 dBFS for
    // the first 4 s of its measurement and -26 after; each Vocal holds (stops
    // processing) once 8 s are measured, until the test has pressed STOP.
    std::atomic<bool> v1Hold { true }, v2Hold { true };
    auto vocalLevel = [] (QuorvaneProcessor& v, std::atomic<bool>& hold, bool steps)
    {
        return [&v, &hold, steps]
        {
            const auto& own = v.ownSlot->ownSections[0];
            const float t = own.elapsedSeconds.load();
            if (own.measuring.load() && t >= 7.995f && hold.load())
                return -200.0f;
            return steps && own.measuring.load() && t < 3.995f ? -20.0f : -26.0f;
        };
    };
    // The Inst holds too once it has measured 8 s for the first Vocal, so that
    // both sides of that measurement cover the same 8 s however the threads run.
    auto instLevel = [&]
    {
        const auto& side = v1.ownSlot->instSections[0];
        return side.measuring.load() && side.elapsedSeconds.load() >= 7.995f && v1Hold.load() ? -200.0f : -18.0f;
    };
    AudioThreads audio ({ &instP, &v1, &v2 }, { instLevel, vocalLevel (v1, v1Hold, true), vocalLevel (v2, v2Hold, false) });

    // Both Vocals linked and running before the press.
    ASSERT_TRUE (tickUntil ({ &e1, &e2 }, [&] { return v1.hasPartner.load() && v2.hasPartner.load() && instP.ownSlot->role.load() == 1; }));
    const auto undoBefore = v1.undoStack.size();

    click (e1.matchButton);
    click (e2.matchButton);   // the second Vocal measures against the same Inst at the same time
    EXPECT_EQ (v1.undoStack.size(), undoBefore + 1);
    e1.timerCallback();
    EXPECT_EQ (e1.matchButton.getButtonText(), "STOP");
    EXPECT_EQ (e1.vocalLufsValue.getText(), "Learning");

    const auto& own1 = v1.ownSlot->ownSections[0];
    const auto& own2 = v2.ownSlot->ownSections[0];
    ASSERT_TRUE (tickUntil ({ &e1, &e2 }, [&] { return own1.elapsedSeconds.load() >= 7.995f && own2.elapsedSeconds.load() >= 7.995f
                                                         && v1.ownSlot->instSections[0].elapsedSeconds.load() >= 7.995f; }));
    saveSnapshot (e1, "vocal_measuring.png");
    const auto livePoints = e1.sectionChart.historyData.selfSeries.size();
    EXPECT_GT (livePoints, 10u) << "one live point per tick while measuring";

    click (e1.matchButton);
    click (e2.matchButton);
    v1Hold = false;
    v2Hold = false;
    EXPECT_EQ (v1.undoStack.size(), undoBefore + 2);

    auto& sec = v1.sections[0];
    ASSERT_TRUE (tickUntil ({ &e1, &e2 }, [&] { return sec.frozen.load() && v2.sections[0].frozen.load(); }));
    tickUntil ({ &e1, &e2 }, [] { return false; }, 3);

    // Levels against libebur128 on the same signals.
    const double vocalRef = referenceLufs ({ { -20.0f, 4.0 }, { -26.0f, 4.0 } });
    const double instRef = referenceLufs ({ { -18.0f, 8.0 } });
    EXPECT_NEAR (sec.selfLufs.load(), vocalRef, 0.1);
    EXPECT_NEAR (sec.partnerLufs.load(), instRef, 0.15);
    EXPECT_NEAR (v2.sections[0].selfLufs.load(), referenceLufs ({ { -26.0f, 8.0 } }), 0.1);
    EXPECT_NEAR (v2.sections[0].partnerLufs.load(), instRef, 0.15);
    EXPECT_NEAR (sec.gainDb.load(), sec.partnerLufs.load() - sec.selfLufs.load(), 0.001);

    // The cards show the result in the window's format.
    const float self = sec.selfLufs.load(), partner = sec.partnerLufs.load();
    const float match = QuorvaneEditor::round1 (partner) - QuorvaneEditor::round1 (self);
    EXPECT_EQ (e1.matchButton.getButtonText(), "MATCH TO INST");
    EXPECT_EQ (e1.vocalLufsValue.getText(), QuorvaneEditor::fmtOneDecimal (self));
    EXPECT_EQ (e1.instLufsValue.getText(), QuorvaneEditor::fmtOneDecimal (partner));
    EXPECT_EQ (e1.matchValue.getText(), QuorvaneEditor::fmtSigned (match));
    EXPECT_EQ (e1.offsetValue.getText(), "+0.0");
    EXPECT_EQ (e1.totalValue.getText(), QuorvaneEditor::fmtSigned (match));

    // The chart holds the stored history with its gain curve.
    EXPECT_TRUE (e1.sectionChart.trimEditable);
    EXPECT_EQ (e1.sectionChart.historyData.selfSeries.size(), sec.selfHistory.size());
    EXPECT_TRUE (e1.sectionChart.showGainCurve);
    EXPECT_NEAR (e1.sectionChart.totalGainDb, sec.gainDb.load(), 0.01);

    // The Vocal's output carries the gain.
    ASSERT_TRUE (tickUntil ({ &e1 }, [&] { return std::abs (audio.gainDb (1) - sec.gainDb.load()) < 0.05f; }))
        << audio.gainDb (1) << " vs " << sec.gainDb.load();

    // The left trim handle dragged to 60 %: only the -26 dBFS part is kept.
    const float gainBefore = sec.gainDb.load(), selfBefore = sec.selfLufs.load();
    const float trimStartBefore = sec.trimStart.load(), trimEndBefore = sec.trimEnd.load();
    const auto undoBeforeTrim = v1.undoStack.size();
    dragTrim (e1.sectionChart, 0.0f, 0.6f);
    EXPECT_EQ (v1.undoStack.size(), undoBeforeTrim + 1);
    EXPECT_NEAR (sec.trimStart.load(), 0.6f, 0.01f);
    EXPECT_EQ (sec.trimEnd.load(), 1.0f);
    EXPECT_NEAR (sec.selfLufs.load(), referenceLufs ({ { -26.0f, 3.0 } }), 0.1);
    EXPECT_NEAR (sec.gainDb.load(), sec.partnerLufs.load() - referenceLufs ({ { -26.0f, 3.0 } }), 0.1)
        << "the louder first half no longer counts";
    EXPECT_GT (sec.gainDb.load(), gainBefore + 3.0f);
    EXPECT_NEAR (e1.sectionChart.trimStart, sec.trimStart.load(), 1.0e-6f);
    tickUntil ({ &e1 }, [] { return false; }, 2);
    EXPECT_EQ (e1.vocalLufsValue.getText(), QuorvaneEditor::fmtOneDecimal (sec.selfLufs.load()));
    ASSERT_TRUE (tickUntil ({ &e1 }, [&] { return std::abs (audio.gainDb (1) - sec.gainDb.load()) < 0.05f; }));
    EXPECT_NEAR (e1.sectionChart.totalGainDb, sec.gainDb.load(), 0.01);
    saveSnapshot (e1, "vocal_trimmed.png");

    // The header's undo button puts the untrimmed result back exactly.
    e1.timerCallback();
    ASSERT_TRUE (e1.undoButton->isEnabled());
    click (*e1.undoButton);
    EXPECT_EQ (sec.trimStart.load(), trimStartBefore);
    EXPECT_EQ (sec.trimEnd.load(), trimEndBefore);
    EXPECT_EQ (sec.selfLufs.load(), selfBefore);
    EXPECT_EQ (sec.gainDb.load(), gainBefore);
    tickUntil ({ &e1 }, [] { return false; }, 2);
    EXPECT_EQ (e1.sectionChart.trimStart, trimStartBefore);
    EXPECT_EQ (e1.vocalLufsValue.getText(), QuorvaneEditor::fmtOneDecimal (selfBefore));
    ASSERT_TRUE (tickUntil ({ &e1 }, [&] { return std::abs (audio.gainDb (1) - gainBefore) < 0.05f; }));
    audio.stop();
}

//==============================================================================
TEST_F (EditorVocalActions, MatchButtonStatesCaptionsUndoStepsAndCounters)
{
    struct Case
    {
        const char* what;
        std::function<void (QuorvaneProcessor&)> setUp;
        // expected after one press
        bool measuring, armed, heldOpen;
        int undoSteps, starts, stops;
        const char* caption;
    };

    auto measure = [] (QuorvaneProcessor& p) { p.kickSectionMeasurement (0); };
    const Case cases[] = {
        { "idle: starts at once", [] (QuorvaneProcessor&) {}, true, false, false, 1, 1, 0, "STOP" },
        { "measuring: stops", measure, false, false, false, 1, 0, 1, "MATCH TO INST" },
        { "transport link, host known and stopped: arms",
          [] (QuorvaneProcessor& p) { p.linkMeasurementToTransport = true; p.playHeadSeen = true; p.hostPlaying = false; },
          false, true, false, 1, 0, 0, "WAITING FOR PLAY" },
        { "armed: cancels the arm and still stops",
          [] (QuorvaneProcessor& p) { p.linkMeasurementToTransport = true; p.playHeadSeen = true; p.deferredSectionIndex = 0; p.armedSectionStart = true; },
          false, false, false, 1, 0, 1, "MATCH TO INST" },
        { "transport link, host playing: starts",
          [] (QuorvaneProcessor& p) { p.linkMeasurementToTransport = true; p.playHeadSeen = true; p.hostPlaying = true; },
          true, false, false, 1, 1, 0, "STOPS WITH PLAYBACK" },
        { "transport link, play head never reported: starts",
          [] (QuorvaneProcessor& p) { p.linkMeasurementToTransport = true; p.playHeadSeen = false; },
          true, false, false, 1, 1, 0, "STOPS WITH PLAYBACK" },
        { "locked: holds the run open", [] (QuorvaneProcessor& p) { p.sections[0].locked = true; },
          false, false, true, 0, 0, 0, "STOP" },
        { "locked and held open: lets it go",
          [] (QuorvaneProcessor& p) { p.sections[0].locked = true; p.runHeldOpen = true; },
          false, false, false, 0, 0, 0, "MATCH TO INST" },
        { "held open on an unlocked section: stops", [] (QuorvaneProcessor& p) { p.runHeldOpen = true; },
          false, false, false, 1, 0, 1, "MATCH TO INST" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        editors.clear();
        processors.clear();
        auto& e = openVocal();
        auto& p = *vocal;
        c.setUp (p);
        e.timerCallback();
        const auto undo = p.undoStack.size();
        const int starts = p.ownSlot->startCounter.load(), stops = p.ownSlot->stopCounter.load();

        click (e.matchButton);

        EXPECT_EQ (p.ownSlot->ownSections[0].measuring.load(), c.measuring);
        EXPECT_EQ (p.armedSectionStart.load(), c.armed);
        EXPECT_EQ (p.deferredSectionIndex.load(), c.armed ? 0 : (c.undoSteps > 0 ? -1 : p.deferredSectionIndex.load()));
        EXPECT_EQ (p.runHeldOpen.load(), c.heldOpen);
        EXPECT_EQ ((int) (p.undoStack.size() - undo), c.undoSteps);
        EXPECT_EQ (p.ownSlot->startCounter.load() - starts, c.starts);
        EXPECT_EQ (p.ownSlot->stopCounter.load() - stops, c.stops);
        if (c.stops > 0)
            EXPECT_EQ (p.ownSlot->stopEndsStart.load(), p.ownSlot->startCounter.load()) << "the stop names the start it ends";
        e.timerCallback();
        EXPECT_EQ (e.matchButton.getButtonText(), juce::String (c.caption));
    }

    // A start clears the section's result and analysis but keeps its trim.
    editors.clear();
    processors.clear();
    auto& e = openVocal();
    storeResult (*vocal, 0, 50, -20.0f, -14.0f);
    {
        std::lock_guard<std::mutex> lock (vocal->analysisMutex);
        vocal->sections[0].trimStart = 0.25f;
    }
    click (e.matchButton);
    const auto& s = vocal->sections[0];
    EXPECT_FALSE (s.frozen.load());
    EXPECT_EQ (s.selfLufs.load(), -120.0f);
    EXPECT_EQ (s.partnerLufs.load(), -120.0f);
    EXPECT_EQ (s.gainDb.load(), 0.0f);
    EXPECT_EQ (s.seconds.load(), 0.0f);
    EXPECT_TRUE (s.selfHistory.empty());
    EXPECT_EQ (s.trimStart.load(), 0.25f);
}

//==============================================================================
TEST_F (EditorVocalActions, TrimHandlerKeepsOneBlockAndSpringsBackWhereNothingMayChange)
{
    auto& e = openVocal();
    storeResult (*vocal, 0, 20, -20.0f, -14.0f);
    e.timerCallback();
    auto& chart = e.sectionChart;
    auto& sec = vocal->sections[0];
    ASSERT_EQ (chart.historyData.selfSeries.size(), 20u);
    ASSERT_TRUE (chart.trimEditable);

    struct Case
    {
        const char* what;
        float start, end;
        float wantLo, wantHi;
        int undoSteps;
    };
    const Case cases[] = {
        { "kept part", 0.25f, 0.75f, 0.25f, 0.75f, 1 },
        { "same place again", 0.25f, 0.75f, 0.25f, 0.75f, 0 },
        { "reversed", 0.8f, 0.3f, 0.3f, 0.8f, 1 },
        { "narrower than one block widens to the end", 0.5f, 0.51f, 0.5f, 0.55f, 1 },
        { "at the end widens back from it", 1.0f, 1.0f, 0.95f, 1.0f, 1 },
        { "outside 0..1", -3.0f, 4.0f, 0.0f, 1.0f, 1 },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const auto undo = vocal->undoStack.size();
        const auto revision = vocal->historyRevision[0].load();
        chart.onTrimChanged (c.start, c.end);
        EXPECT_NEAR (sec.trimStart.load(), c.wantLo, 1.0e-5f);
        EXPECT_NEAR (sec.trimEnd.load(), c.wantHi, 1.0e-5f);
        EXPECT_EQ ((int) (vocal->undoStack.size() - undo), c.undoSteps);
        EXPECT_EQ (vocal->historyRevision[0].load() != revision, c.undoSteps > 0);
        EXPECT_NEAR (chart.trimStart, c.wantLo, 1.0e-5f);
        EXPECT_NEAR (chart.trimEnd, c.wantHi, 1.0e-5f);
    }

    // Locked: a drag changes nothing and the handles return.
    sec.locked = true;
    e.timerCallback();
    const float lo = sec.trimStart.load(), hi = sec.trimEnd.load();
    chart.trimEditable = true;   // a drag that began before the lock
    const auto undo = vocal->undoStack.size();
    dragTrim (chart, lo, 0.5f);
    EXPECT_EQ (sec.trimStart.load(), lo);
    EXPECT_EQ (sec.trimEnd.load(), hi);
    EXPECT_EQ (chart.trimStart, lo);
    EXPECT_FALSE (chart.trimEditable) << "a locked result is not finalised for the chart";
    EXPECT_EQ (vocal->undoStack.size(), undo);

    // A result whose history is empty: nothing changes, nothing crashes.
    sec.locked = false;
    {
        std::lock_guard<std::mutex> lock (vocal->analysisMutex);
        sec.selfHistory.clear();
        sec.partnerHistory.clear();
    }
    chart.onTrimChanged (0.1f, 0.2f);
    EXPECT_EQ (sec.trimStart.load(), lo);
    EXPECT_EQ (vocal->undoStack.size(), undo);

    // No result at all.
    sec.frozen = false;
    chart.onTrimChanged (0.1f, 0.2f);
    EXPECT_EQ (sec.trimStart.load(), lo);
    EXPECT_EQ (vocal->undoStack.size(), undo);
}

TEST_F (EditorVocalActions, LearnHistoryReloadsOnlyWhenWhatItShowsChanged)
{
    auto& e = openVocal();
    auto& p = *vocal;
    storeResult (p, 0, 40, -20.0f, -14.0f);
    e.timerCallback();
    auto& chart = e.sectionChart;
    ASSERT_EQ (chart.historyData.selfSeries.size(), 40u);
    EXPECT_TRUE (chart.showGainCurve);
    EXPECT_NEAR (chart.totalGainDb, 6.0f, 0.01f);

    // A mark in the chart's copy shows whether the tick copied the snapshot again.
    auto mark = [&] { chart.historyData.selfSeries[0] = -99.0f; };
    auto reloaded = [&] { return chart.historyData.selfSeries[0] != -99.0f; };

    struct Case
    {
        const char* what;
        std::function<void()> change;
        bool reload;
    };
    const Case cases[] = {
        { "nothing changed", [] {}, false },
        { "level meters moved", [&] { p.meterVocalMomentary = -30.0f; }, false },
        { "revision renewed", [&] { p.historyRevision[0] = p.revisionCounter.fetch_add (1) + 1; }, true },
        { "locked", [&] { p.sections[0].locked = true; }, true },
        { "unlocked", [&] { p.sections[0].locked = false; }, true },
        { "measurement mode", [&] { p.measMode = 1; }, true },
        { "back to LUFS", [&] { p.measMode = 0; }, true },
        { "RMS time", [&] { p.rmsTimeSec = 2.0f; }, true },
        { "RMS time within 0.001", [&] { p.rmsTimeSec = 2.0005f; }, false },
        { "custom weighting generation", [&] { p.customSettingsGeneration.fetch_add (1); }, true },
        { "another section's revision", [&] { p.historyRevision[3] = p.revisionCounter.fetch_add (1) + 1; }, false },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        e.timerCallback();
        mark();
        c.change();
        e.timerCallback();
        EXPECT_EQ (reloaded(), c.reload);
        EXPECT_EQ (chart.trimEditable, ! p.sections[0].locked.load());
    }

    // A handle held by the user: no reload even though the data changed.
    mark();
    chart.dragMode = 1;
    p.historyRevision[0] = p.revisionCounter.fetch_add (1) + 1;
    e.timerCallback();
    EXPECT_FALSE (reloaded());
    chart.dragMode = 0;
    e.timerCallback();
    EXPECT_TRUE (reloaded());

    // A snapshot with a reversed, too narrow range is shown ordered and one block wide.
    p.sections[0].trimStart = 0.99f;
    p.sections[0].trimEnd = 0.98f;
    p.historyRevision[0] = p.revisionCounter.fetch_add (1) + 1;
    e.timerCallback();
    EXPECT_NEAR (chart.trimStart, 0.975f, 1.0e-5f);
    EXPECT_EQ (chart.trimEnd, 1.0f);

    // Live points while measuring: the chart starts empty, one point per
    // tick, each limited to -100..0, and no gain curve.
    p.kickSectionMeasurement (0);
    const float values[] = { -150.0f, 5.0f, -23.5f };
    for (int i = 0; i < 20; ++i)
    {
        p.meterVocalMomentaryPostGain = values[i % 3];
        p.meterInstMomentary = -14.0f;
        p.meterVocalMomentary = i < 10 ? -80.0f : -20.0f;
        e.timerCallback();
    }
    ASSERT_EQ (chart.historyData.selfSeries.size(), 20u);
    EXPECT_EQ (chart.historyData.selfSeries[0], -100.0f);
    EXPECT_EQ (chart.historyData.selfSeries[1], 0.0f);
    EXPECT_EQ (chart.historyData.selfSeries[2], -23.5f);
    EXPECT_EQ (chart.historyData.partnerSeries[5], -14.0f);
    EXPECT_TRUE (chart.historyData.belowGate[9]);
    EXPECT_FALSE (chart.historyData.belowGate[10]);
    EXPECT_FALSE (chart.showGainCurve);
    EXPECT_FALSE (chart.trimEditable);

    // Stopped, nothing stored yet: the live points stay until the result is there.
    p.ownSlot->ownSections[0].measuring = false;
    {
        std::lock_guard<std::mutex> lock (p.analysisMutex);
        p.sections[0].selfHistory.clear();
        p.sections[0].partnerHistory.clear();
    }
    e.timerCallback();
    EXPECT_EQ (chart.historyData.selfSeries.size(), 20u);
    storeResult (p, 0, 30, -22.0f, -14.0f);
    e.timerCallback();
    EXPECT_EQ (chart.historyData.selfSeries.size(), 30u);
    EXPECT_TRUE (chart.showGainCurve);

    // Another role: the chart lets go of the section.
    setParameter (p, ids::role, 0.0f);
    e.timerCallback();
    EXPECT_EQ (e.chartSection, -1);
    EXPECT_FALSE (chart.showGainCurve);
}

//==============================================================================
TEST_F (EditorVocalActions, SessionsThatTryToBreakIt)
{
    {
        SCOPED_TRACE ("MATCH twice before the audio thread saw the start: a run of no length");
        auto& e = openVocal();
        runBlocks ({ inst, vocal }, 5);
        const auto undo = vocal->undoStack.size();
        click (e.matchButton);
        click (e.matchButton);
        runBlocks ({ inst, vocal }, 20);
        e.timerCallback();
        EXPECT_EQ (vocal->undoStack.size(), undo + 2);
        EXPECT_FALSE (vocal->ownSlot->ownSections[0].measuring.load());
        EXPECT_FALSE (vocal->ownSlot->instSections[0].measuring.load());
        EXPECT_TRUE (vocal->ownSlot->ownSections[0].elapsedSeconds.load() == 0.0f);
        EXPECT_FALSE (vocal->sections[0].frozen.load() && vocal->sections[0].selfLufs.load() > -119.5f)
            << "no level from no audio";
        EXPECT_EQ (e.matchButton.getButtonText(), "MATCH TO INST");

        // The next ordinary run still measures.
        click (e.matchButton);
        runBlocks ({ inst, vocal }, 300);
        click (e.matchButton);
        runBlocks ({ inst, vocal }, 5);
        e.timerCallback();
        EXPECT_TRUE (vocal->sections[0].frozen.load());
        EXPECT_NEAR (vocal->sections[0].gainDb.load(), 0.0f, 0.05f) << "the same signal on both";
        EXPECT_EQ (e.sectionChart.historyData.selfSeries.size(), vocal->sections[0].selfHistory.size());
    }
    {
        SCOPED_TRACE ("MATCH while another Vocal measures");
        editors.clear();
        processors.clear();
        auto& e = openVocal();
        auto& other = addProcessor (2);
        other.setPlayConfigDetails (2, 2, 48000.0, 480);
        other.prepareToPlay (48000.0, 480);
        auto& eOther = open (other);
        eOther.timerCallback();
        runBlocks ({ inst, vocal, &other }, 5);
        click (eOther.matchButton);
        runBlocks ({ inst, vocal, &other }, 100);
        click (e.matchButton);
        runBlocks ({ inst, vocal, &other }, 300);
        click (eOther.matchButton);
        click (e.matchButton);
        runBlocks ({ inst, vocal, &other }, 5);
        e.timerCallback();
        eOther.timerCallback();
        EXPECT_NEAR (other.sections[0].seconds.load(), 4.0f, 0.05f);
        EXPECT_NEAR (vocal->sections[0].seconds.load(), 3.0f, 0.05f);
        EXPECT_NEAR (vocal->sections[0].gainDb.load(), 0.0f, 0.05f);
    }
    {
        SCOPED_TRACE ("undo during a measurement");
        editors.clear();
        processors.clear();
        auto& e = openVocal();
        storeResult (*vocal, 0, 50, -20.0f, -14.0f);
        runBlocks ({ inst, vocal }, 5);
        click (e.matchButton);
        runBlocks ({ inst, vocal }, 100);
        e.timerCallback();
        ASSERT_TRUE (e.undoButton->isEnabled());
        click (*e.undoButton);
        runBlocks ({ inst, vocal }, 20);
        for (int i = 0; i < 3; ++i)
            e.timerCallback();
        // Undo gives the state before the press back: the old result and no
        // run (its data dropped on both sides, so nothing stale arrives later).
        EXPECT_FALSE (vocal->ownSlot->ownSections[0].measuring.load());
        EXPECT_FALSE (vocal->ownSlot->instSections[0].measuring.load());
        EXPECT_TRUE (vocal->sections[0].frozen.load());
        EXPECT_NEAR (vocal->sections[0].gainDb.load(), 6.0f, 0.01f);
        EXPECT_EQ (e.matchButton.getButtonText(), "MATCH TO INST");
        EXPECT_EQ (e.sectionChart.historyData.selfSeries.size(), 50u);

        // Redo brings back the cleared section; a new run then measures normally.
        e.redoButton->setEnabled (true);
        click (*e.redoButton);
        EXPECT_FALSE (vocal->sections[0].frozen.load());
        click (e.matchButton);
        runBlocks ({ inst, vocal }, 200);
        click (e.matchButton);
        runBlocks ({ inst, vocal }, 5);
        for (int i = 0; i < 3; ++i)
            e.timerCallback();
        EXPECT_TRUE (vocal->sections[0].frozen.load());
        EXPECT_NEAR (vocal->sections[0].gainDb.load(), 0.0f, 0.05f);
        EXPECT_EQ (e.sectionChart.historyData.selfSeries.size(), vocal->sections[0].selfHistory.size());
    }
    {
        SCOPED_TRACE ("reset while measuring");
        editors.clear();
        processors.clear();
        auto& e = openVocal();
        runBlocks ({ inst, vocal }, 5);
        click (e.matchButton);
        runBlocks ({ inst, vocal }, 100);
        e.timerCallback();
        click (e.rowResetButtons[0]);
        runBlocks ({ inst, vocal }, 20);
        for (int i = 0; i < 3; ++i)
            e.timerCallback();
        EXPECT_FALSE (vocal->ownSlot->ownSections[0].measuring.load());
        EXPECT_FALSE (vocal->sections[0].frozen.load());
        EXPECT_TRUE (e.sectionChart.historyData.selfSeries.empty());
        EXPECT_EQ (e.matchButton.getButtonText(), "MATCH TO INST");
    }
}
