#include "MeasurementHarness.h"

using namespace qvn::test;

namespace
{
using FlowTest = ProcessorTest;

void setSection (QuorvaneProcessor& p, int section) { setParam (p, ids::section, (float) section); }

bool hasResult (QuorvaneProcessor& v, int section) { return v.sections[(size_t) section].frozen.load(); }

/** Puts the Vocal on a section, lets the change take hold, then MATCH there
    and the given stretch of audio. */
void startOnSection (Session& s, QuorvaneProcessor& v, int section, double seconds)
{
    setSection (v, section);
    s.run (2);
    s.startAndRun (v, section, seconds);
}
} // namespace

TEST_F (FlowTest, VocalGetsInstPlusOffsetMinusVocal)
{
    for (const bool threaded : { false, true })
    {
        SCOPED_TRACE (threaded ? "one thread per instance" : "one thread");
        Session s (1);
        auto& v = s.vocal();
        setParam (v, "offset_C", -2.0f);
        setSection (v, 2);
        s.run (2);

        startMeasuring (v, 2);

        if (threaded)
            s.runThreaded (s.blocksFor (4.0));
        else
            s.run (s.blocksFor (4.0));

        EXPECT_TRUE (v.ownSlot->ownSections[2].measuring.load());
        EXPECT_TRUE (v.ownSlot->instSections[2].measuring.load());
        EXPECT_NEAR (v.ownSlot->ownSections[2].elapsedSeconds.load(), 4.0f, 0.02f);
        EXPECT_NEAR (v.ownSlot->instSections[2].elapsedSeconds.load(), 4.0f, 0.02f);

        s.stopAndSettle (v);

        auto& sec = v.sections[2];
        ASSERT_TRUE (sec.frozen.load());
        EXPECT_NEAR (sec.partnerLufs.load() - sec.selfLufs.load(), 6.0f, 0.01f);
        EXPECT_NEAR (sec.gainDb.load(), 4.0f, 0.01f);
        EXPECT_NEAR (sec.seconds.load(), 4.0f, 0.02f);
        EXPECT_EQ (sec.selfHistory.size(), sec.partnerHistory.size());
        EXPECT_FALSE (v.ownSlot->ownSections[2].measuring.load());
        EXPECT_GT (v.historyRevision[2].load(), 0u);

        const auto snap = v.getLearnHistorySnapshot (2);
        EXPECT_TRUE (snap.valid);
        EXPECT_TRUE (snap.finalised);
        EXPECT_EQ (snap.selfSeries.size(), sec.selfHistory.size());
        EXPECT_NEAR (snap.partnerSeries.back() - snap.selfSeries.back(), 6.0f, 0.01f);
    }
}

TEST_F (FlowTest, SeveralVocalsMeasureAgainstOneInst)
{
    Session s (3);
    setSection (s.vocal (2), 5);
    s.run (2);
    startMeasuring (s.vocal (0), 0);
    s.startAndRun (s.vocal (2), 5, 1.5);
    s.instLevelDb = -23.0f; // the Inst changes level while Vocal 2 runs on
    stopMeasuring (s.vocal (0));
    s.run (s.blocksFor (1.5));
    s.stopAndSettle (s.vocal (2));

    ASSERT_TRUE (hasResult (s.vocal (0), 0));
    EXPECT_NEAR (s.vocal (0).sections[0].gainDb.load(), 6.0f, 0.01f);
    ASSERT_TRUE (hasResult (s.vocal (2), 5));
    // Half the blocks at +6, half at +3: energy mean of the two.
    const auto expected = 10.0f * std::log10 (0.5f * (std::pow (10.0f, 0.6f) + std::pow (10.0f, 0.3f)));
    EXPECT_NEAR (s.vocal (2).sections[5].gainDb.load(), expected, 0.15f);
    EXPECT_FALSE (hasResult (s.vocal (1), 0));
}

TEST_F (FlowTest, RunFollowsTheCurrentSectionAfterItHolds)
{
    Session s (1);
    auto& v = s.vocal();
    startOnSection (s, v, 0, 1.0);

    // A change shorter than 120 ms does not move the run.
    setSection (v, 1);
    s.run (s.blocksFor (0.05));
    setSection (v, 0);
    s.run (s.blocksFor (0.2));
    EXPECT_TRUE (v.ownSlot->ownSections[0].measuring.load());
    EXPECT_FALSE (hasResult (v, 0));

    setSection (v, 1);
    s.run (s.blocksFor (0.11));
    EXPECT_TRUE (v.ownSlot->ownSections[0].measuring.load());
    s.run (s.blocksFor (0.02) + 2);
    EXPECT_TRUE (hasResult (v, 0));
    EXPECT_TRUE (v.ownSlot->ownSections[1].measuring.load());
    EXPECT_EQ (v.measuringSectionIndex(), 1);

    s.run (s.blocksFor (1.0));
    s.stopAndSettle (v);
    EXPECT_TRUE (hasResult (v, 1));
    EXPECT_NEAR (v.sections[0].gainDb.load(), 6.0f, 0.01f);
    EXPECT_NEAR (v.sections[1].gainDb.load(), 6.0f, 0.01f);
    EXPECT_EQ (v.measuringSectionIndex(), -1);
}

TEST_F (FlowTest, LockedSectionHoldsTheRunOpenUntilAnUnlockedOne)
{
    Session s (1);
    auto& v = s.vocal();
    v.sections[1].locked = true;
    startOnSection (s, v, 0, 1.0);

    setSection (v, 1);
    s.run (s.blocksFor (0.3));
    EXPECT_TRUE (hasResult (v, 0));
    EXPECT_TRUE (v.runHeldOpen.load());
    EXPECT_EQ (v.measuringSectionIndex(), -1);
    EXPECT_TRUE (LinkRegistry::get().anyMeasurementActive());

    setSection (v, 2);
    s.run (s.blocksFor (0.3));
    EXPECT_FALSE (v.runHeldOpen.load());
    EXPECT_EQ (v.measuringSectionIndex(), 2);
    s.run (s.blocksFor (1.0));
    s.stopAndSettle (v);
    EXPECT_TRUE (hasResult (v, 2));
    EXPECT_FALSE (hasResult (v, 1));
}

TEST_F (FlowTest, StoppedTransportOnlyMovesTheRunOnEditorRequests)
{
    Session s (1);
    auto& v = s.vocal();
    startOnSection (s, v, 0, 1.0);

    s.setPlaying (false);
    setSection (v, 3); // host automation while stopped
    s.run (s.blocksFor (0.5));
    EXPECT_EQ (v.measuringSectionIndex(), 0);

    s.setPlaying (true);
    s.run (1);
    EXPECT_EQ (v.measuringSectionIndex(), 3); // moves in the first block of playback
    EXPECT_TRUE (hasResult (v, 0) || v.ownSlot->ownSections[0].done.load());

    // While stopped, a section chosen in the editor moves the run after 120 ms.
    s.setPlaying (false);
    v.editorSectionEcho = 5;
    v.uiSectionRequest = 5;
    v.uiSectionRequestSerial.fetch_add (1);
    setSection (v, 5);
    s.run (s.blocksFor (0.05));
    EXPECT_EQ (v.measuringSectionIndex(), 3);
    s.run (s.blocksFor (0.1));
    EXPECT_EQ (v.measuringSectionIndex(), 5);
}

TEST_F (FlowTest, TransportLinkArmsStartsAndEndsWithPlayback)
{
    Session s (1);
    auto& v = s.vocal();
    auto& inst = *s.inst;

    for (auto* p : s.all())
        p->linkMeasurementToTransport = true;

    s.setPlaying (false);
    setSection (v, 4);
    s.run (3);

    // Armed while stopped: nothing runs until playback starts.
    v.deferredSectionIndex = 4;
    v.armedSectionStart = true;
    inst.armedInstStart = true;
    s.run (5);
    EXPECT_EQ (v.measuringSectionIndex(), -1);

    s.setPlaying (true);
    s.run (1);
    EXPECT_TRUE (v.deferredSectionStart.load());
    v.handleUpdateNowIfNeeded();
    inst.handleUpdateNowIfNeeded();
    EXPECT_EQ (v.measuringSectionIndex(), 4);
    EXPECT_TRUE (inst.instMeasuring.load());

    s.run (s.blocksFor (2.0));
    s.setPlaying (false);
    s.run (3);
    EXPECT_TRUE (hasResult (v, 4));
    EXPECT_NEAR (v.sections[4].gainDb.load(), 6.0f, 0.01f);
    EXPECT_FALSE (inst.instMeasuring.load());
    EXPECT_TRUE (inst.instFrozen.load());
    EXPECT_EQ (inst.instFinalizedStop.load(), inst.instStopCounter.load());
}

TEST_F (FlowTest, WithoutTransportLinkStoppingPlaybackKeepsMeasuring)
{
    Session s (1);
    auto& v = s.vocal();
    startOnSection (s, v, 4, 1.0);
    s.setPlaying (false);
    s.run (s.blocksFor (0.5));
    EXPECT_EQ (v.measuringSectionIndex(), 4);
    EXPECT_FALSE (hasResult (v, 4));
}

TEST_F (FlowTest, CancelDiscardsBothSidesWhereStopPublishes)
{
    Session s (1);
    auto& v = s.vocal();
    s.run (2);
    s.startAndRun (v, 0, 1.0);
    LinkRegistry::get().cancelMeasurementsForSettingsChange();
    s.run (3);

    EXPECT_FALSE (hasResult (v, 0));
    for (auto* side : { &v.ownSlot->ownSections[0], &v.ownSlot->instSections[0] })
    {
        EXPECT_FALSE (side->measuring.load());
        EXPECT_FALSE (side->done.load());
        EXPECT_EQ (side->history.load(), nullptr);
    }

    // The next run is unaffected.
    s.startAndRun (v, 0, 1.0);
    s.stopAndSettle (v);
    EXPECT_TRUE (hasResult (v, 0));
}

// STOP or a reset followed by MATCH on the same section before the audio
// threads run a block: the new run must start and give the only result.
TEST_F (FlowTest, RestartOfTheSameSectionWithinOneBlockMeasuresTheNewRun)
{
    struct Case { const char* name; bool cancel; };
    for (const auto& c : { Case { "stop, then MATCH", false }, Case { "reset, then MATCH", true } })
    {
        SCOPED_TRACE (c.name);
        Session s (1);
        auto& v = s.vocal();
        s.run (2);
        s.startAndRun (v, 0, 2.0);

        if (c.cancel)
            v.resetSectionMeasurementNoUndo (0);
        else
            stopMeasuring (v);

        s.startAndRun (v, 0, 1.0);

        EXPECT_TRUE (v.ownSlot->ownSections[0].measuring.load());
        EXPECT_TRUE (v.ownSlot->instSections[0].measuring.load());
        EXPECT_FALSE (hasResult (v, 0));

        s.stopAndSettle (v);

        ASSERT_TRUE (hasResult (v, 0));
        EXPECT_NEAR (v.sections[0].seconds.load(), 1.0f, 0.02f);
        EXPECT_NEAR (v.sections[0].gainDb.load(), 6.0f, 0.01f);
    }
}

TEST_F (FlowTest, ResettingAMeasuredSectionLeavesNoResult)
{
    Session s (1);
    auto& v = s.vocal();
    setParam (v, "offset_A", 3.0f);
    v.sections[0].bypass = true;
    s.run (2);
    s.startAndRun (v, 0, 1.0);
    v.resetSectionMeasurementNoUndo (0);
    s.run (5);

    EXPECT_FALSE (hasResult (v, 0));
    EXPECT_FALSE (v.ownSlot->ownSections[0].done.load());
    EXPECT_FALSE (v.ownSlot->instSections[0].done.load());
    EXPECT_FALSE (v.ownSlot->ownSections[0].measuring.load());
    EXPECT_FALSE (v.ownSlot->instSections[0].measuring.load());
    EXPECT_EQ (v.getSectionOffset (0), 0.0f);
    EXPECT_EQ (v.storedOffsets[0].load(), 0.0f);
    EXPECT_TRUE (v.sections[0].bypass.load());
}

TEST_F (FlowTest, PrepareToPlayDuringAMeasurementCancelsItOnBothSides)
{
    for (const bool preparingInst : { false, true })
    {
        SCOPED_TRACE (preparingInst ? "Inst prepared again" : "Vocal prepared again");
        Session s (1);
        auto& v = s.vocal();
        s.run (2);
        s.startAndRun (v, 0, 1.0);

        (preparingInst ? *s.inst : v).prepareToPlay (48000.0, 480);
        s.run (s.blocksFor (1.0));
        stopMeasuring (v);
        s.run (5);

        EXPECT_FALSE (hasResult (v, 0));
        EXPECT_FALSE (v.ownSlot->ownSections[0].measuring.load());
        EXPECT_FALSE (v.ownSlot->instSections[0].measuring.load());
        EXPECT_FALSE (v.ownSlot->instSections[0].done.load());
    }
}

TEST_F (FlowTest, StartOfASectionOffTheRunIsCancelled)
{
    Session s (1);
    auto& v = s.vocal();
    setSection (v, 0);
    s.run (3);
    startMeasuring (v, 7);
    s.run (3);
    EXPECT_EQ (v.measuringSectionIndex(), -1);
    EXPECT_FALSE (v.ownSlot->instSections[7].measuring.load());
    s.stopAndSettle (v);
    EXPECT_FALSE (hasResult (v, 7));
}

TEST_F (FlowTest, NewPartnerJoinsOnlyTheNextStart)
{
    Session s (1);
    s.run (2);

    // A Vocal starts measuring after it is linked but before the Inst's audio
    // thread has seen the new partner list.
    auto late = std::make_unique<QuorvaneProcessor>();
    late->prepareToPlay (48000.0, 480);
    juce::AudioBuffer<float> buffer (2, 480);
    juce::MidiBuffer midi;
    setRole (*late, 2);
    startMeasuring (*late, 0);
    late->processBlock (buffer, midi);
    s.vocals.push_back (std::move (late));
    auto& v = *s.vocals.back();

    s.run (s.blocksFor (0.5));
    EXPECT_TRUE (v.ownSlot->ownSections[0].measuring.load());
    EXPECT_FALSE (v.ownSlot->instSections[0].measuring.load());
    s.stopAndSettle (v);
    EXPECT_FALSE (hasResult (v, 0)); // the Inst side never took part

    s.startAndRun (v, 0, 1.0);
    EXPECT_TRUE (v.ownSlot->instSections[0].measuring.load());
    s.stopAndSettle (v);
    EXPECT_TRUE (hasResult (v, 0));
}

TEST_F (FlowTest, InstMeasurementGivesLevelAndMatchGain)
{
    Session s (1);
    auto& inst = *s.inst;
    setParam (inst, ids::targetLufs, -14.0f);
    s.run (2);
    inst.instMeasuring = true;
    inst.instStartCounter.fetch_add (1);
    s.run (s.blocksFor (3.0));
    EXPECT_NEAR (inst.instAnalysisSeconds.load(), 3.0f, 0.02f);
    EXPECT_GT (inst.instLiveMomentary.load(), -30.0f);
    inst.instMeasuring = false;
    inst.instStopCounter.fetch_add (1);
    s.run (1);

    ASSERT_TRUE (inst.instFrozen.load());
    const auto level = inst.instMeasuredLufs.load();
    EXPECT_NEAR (inst.instMatchGain.load(), -14.0f - level, 1.0e-4f);
    const auto snap = inst.getInstLearnHistorySnapshot();
    EXPECT_TRUE (snap.valid);
    EXPECT_TRUE (snap.partnerSeries.empty());
    EXPECT_EQ (snap.belowGate.size(), snap.selfSeries.size());

    // A second call for the same stop changes nothing.
    const auto revision = inst.historyRevision[16].load();
    inst.finalizeInst();
    EXPECT_EQ (inst.historyRevision[16].load(), revision);
}
