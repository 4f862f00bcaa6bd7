// Undo and redo, the A/B slots, and the undo steps, link propagation and
// put-backs that Offset Gain and Inst Offset edits cause.

#include "StateTestUtils.h"

#include <thread>

using namespace qvn::test;

namespace
{
class UndoTest : public ProcessorTest
{
};

juce::String offsetId (int i)
{
    return "offset_" + juce::String::charToString ((juce::juce_wchar) ('A' + i));
}

/** Makes the next processor-recorded Offset Gain and Inst Offset steps due,
    as if 600 ms had passed since the last one. */
void letUndoSpacingPass (QuorvaneProcessor& p)
{
    const auto now = juce::Time::getMillisecondCounter();
    p.offsetUndoTimeMs = now - 600;
    p.instOffsetUndoTimeMs = now - 600;
}

/** An edit as the host or a typed value makes it, then the update. */
void edit (QuorvaneProcessor& p, const juce::String& id, float value)
{
    setParam (p, id, value);
    p.handleUpdateNowIfNeeded();
}
} // namespace

TEST_F (UndoTest, UndoAndRedoGiveBackTheExactSnapshots)
{
    QuorvaneProcessor p;
    fillRichState (p);
    p.undoStack.clear();
    const auto before = p.captureSnapshot();

    // An editor action: record, then change sections, settings and parameters.
    p.pushUndoSnapshot();
    {
        const std::lock_guard<std::mutex> lock (p.analysisMutex);
        p.sections[0] = Section {};
        p.sections[9].frozen = true;
        p.sections[9].selfHistory = { 0.5 };
        p.instHistory.clear();
    }
    p.measMode = 1;
    p.rmsTimeSec = 8.0f;
    p.instMatchGain = 4.0f;
    setParam (p, ids::targetLufs, -10.0f);
    setParam (p, ids::section, 11.0f);
    p.internalParamWrite = true;
    setParam (p, offsetId (3), 9.0f);
    p.internalParamWrite = false;
    const auto after = p.captureSnapshot();

    p.undo();
    expectSnapshotsEqual (p.captureSnapshot(), before);
    EXPECT_EQ (p.undoStack.size() + p.redoStack.size(), 1u);
    EXPECT_EQ (p.storedOffsets[3].load(), before.offsets[3]);

    p.redo();
    expectSnapshotsEqual (p.captureSnapshot(), after);
    EXPECT_EQ (p.undoStack.size(), 1u);
    EXPECT_TRUE (p.redoStack.empty());

    // The restores were internal writes: nothing to pass on, no new step.
    p.handleUpdateNowIfNeeded();
    EXPECT_EQ (p.undoStack.size(), 1u);

    // Empty stacks do nothing.
    QuorvaneProcessor fresh;
    fresh.undo();
    fresh.redo();
    EXPECT_TRUE (fresh.undoStack.empty() && fresh.redoStack.empty());
}

TEST_F (UndoTest, SixtyStepsKeepTheNewestFiftyAndANewStepClearsRedo)
{
    QuorvaneProcessor p;

    for (int step = 0; step < 60; ++step)
    {
        p.instMatchGain = (float) step;
        p.pushUndoSnapshot();
    }

    ASSERT_EQ (p.undoStack.size(), 50u);
    EXPECT_EQ (p.undoStack.front().instMatchGain, 10.0f);
    EXPECT_EQ (p.undoStack.back().instMatchGain, 59.0f);

    p.instMatchGain = 60.0f;
    p.undo();
    p.undo();
    EXPECT_EQ (p.instMatchGain.load(), 58.0f);
    EXPECT_EQ (p.undoStack.size(), 48u);
    EXPECT_EQ (p.redoStack.size(), 2u);

    p.pushUndoSnapshot();
    EXPECT_TRUE (p.redoStack.empty());
    EXPECT_EQ (p.undoStack.size(), 49u);
    EXPECT_EQ (p.undoStack.back().instMatchGain, 58.0f);
}

TEST_F (UndoTest, SnapshotClampsWhatItPutsBack)
{
    QuorvaneProcessor p;
    Snapshot s;
    s.sectionIdx = 20;
    s.offsets[2] = 14.0f;
    s.offsets[3] = std::numeric_limits<float>::quiet_NaN();
    s.customSettingsGeneration = 0;
    s.targetLufs = -50.0f;
    s.instOffset = 9.0f;
    s.rmsTime = 0.0f;
    p.restoreSnapshot (s);

    EXPECT_EQ ((int) p.parameters.getRawParameterValue (ids::section)->load(), 15);
    EXPECT_EQ (p.getSectionOffset (2), 12.0f);
    EXPECT_EQ (p.getSectionOffset (3), 0.0f);
    EXPECT_EQ (p.customSettingsGeneration.load(), 1u);
    EXPECT_EQ (p.getTargetLufs(), -36.0f);
    EXPECT_EQ (p.getInstOffsetDb(), 6.0f);
    EXPECT_EQ (p.rmsTimeSec.load(), 0.5f);
}

TEST_F (UndoTest, ABSelectAndCopy)
{
    QuorvaneProcessor p;
    setParam (p, ids::role, 0.0f);
    p.instMatchGain = 2.0f;
    p.tooltipLang = 0;

    // Selecting the active slot does nothing.
    p.selectABSlot (0);
    EXPECT_TRUE (p.undoStack.empty());

    // Selecting B on a fresh instance: the live state goes into A and B, the
    // default snapshot, comes back.
    const auto liveA = p.captureSnapshot();
    p.selectABSlot (1);
    EXPECT_EQ (p.currentAB.load(), 1);
    EXPECT_EQ (p.undoStack.size(), 1u);
    expectSnapshotsEqual (p.getABSlot (0), liveA);
    expectSnapshotsEqual (p.captureSnapshot(), Snapshot {});
    EXPECT_EQ (p.tooltipLang.load(), 0); // not part of a snapshot

    // Copy: the other slot (A) gets the live state, B stays active.
    p.instMatchGain = -1.0f;
    p.copyToOtherABSlot();
    EXPECT_EQ (p.currentAB.load(), 1);
    EXPECT_EQ (p.getABSlot (0).instMatchGain, -1.0f);
    EXPECT_EQ (p.undoStack.size(), 2u);

    // Back to A, which now holds the copy; B keeps the live state.
    p.instMatchGain = 5.0f;
    p.selectABSlot (0);
    EXPECT_EQ (p.instMatchGain.load(), -1.0f);
    EXPECT_EQ (p.getABSlot (1).instMatchGain, 5.0f);

    // Undo of the select gives back the state before it.
    p.undo();
    EXPECT_EQ (p.instMatchGain.load(), 5.0f);
}

TEST_F (UndoTest, LinkAllMovesEveryUnlockedSectionWithOneUndoStep)
{
    QuorvaneProcessor p;

    for (int i = 0; i < 16; ++i)
        setParam (p, offsetId (i), i == 5 ? 11.0f : 1.0f);

    p.handleUpdateNowIfNeeded();
    p.sections[7].locked = true;
    p.linkOffsets = true;
    p.undoStack.clear();
    letUndoSpacingPass (p);

    edit (p, offsetId (0), 2.5f);

    for (int i = 1; i < 16; ++i)
        EXPECT_NEAR (p.getSectionOffset (i), i == 5 ? 12.0f : (i == 7 ? 1.0f : 2.5f), 1.0e-4) << i;

    ASSERT_EQ (p.undoStack.size(), 1u);
    p.undo();

    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR (p.getSectionOffset (i), i == 5 ? 11.0f : 1.0f, 1.0e-4) << i;
}

TEST_F (UndoTest, LinkGroupSharesTheValue)
{
    QuorvaneProcessor p;
    for (int i : { 0, 3, 5 })
        p.sections[(size_t) i].linkGroup = 2;
    p.sections[1].linkGroup = 1;
    p.sections[5].locked = true;

    edit (p, offsetId (0), -3.0f);

    EXPECT_EQ (p.getSectionOffset (3), -3.0f);
    EXPECT_EQ (p.getSectionOffset (5), 0.0f); // locked
    EXPECT_EQ (p.getSectionOffset (1), 0.0f); // other group
    EXPECT_EQ (p.storedOffsets[3].load(), -3.0f);
}

TEST_F (UndoTest, OffsetEditsAreRecordedOncePer501MsAndNotDuringADrag)
{
    QuorvaneProcessor p;
    letUndoSpacingPass (p);

    edit (p, offsetId (2), 1.0f);
    ASSERT_EQ (p.undoStack.size(), 1u);
    EXPECT_EQ (p.undoStack.back().offsets[2], 0.0f); // the value before the edit

    edit (p, offsetId (2), 2.0f); // within 501 ms
    EXPECT_EQ (p.undoStack.size(), 1u);

    letUndoSpacingPass (p);
    p.offsetDragActive = true;
    edit (p, offsetId (2), 3.0f);
    EXPECT_EQ (p.undoStack.size(), 1u);

    p.offsetDragActive = false;
    edit (p, offsetId (2), 4.0f);
    ASSERT_EQ (p.undoStack.size(), 2u);
    EXPECT_EQ (p.undoStack.back().offsets[2], 3.0f);
    EXPECT_EQ (p.storedOffsets[2].load(), 4.0f);
}

TEST_F (UndoTest, InstOffsetStepHoldsTheValueBeforeTheEdit)
{
    QuorvaneProcessor p;
    letUndoSpacingPass (p);
    edit (p, ids::instOffset, 2.0f);
    letUndoSpacingPass (p);
    edit (p, ids::instOffset, -1.5f);

    ASSERT_EQ (p.undoStack.size(), 2u);
    EXPECT_EQ (p.undoStack[0].instOffset, 0.0f);
    EXPECT_EQ (p.undoStack[1].instOffset, 2.0f);

    p.undo();
    EXPECT_EQ (p.getInstOffsetDb(), 2.0f);
    p.undo();
    EXPECT_EQ (p.getInstOffsetDb(), 0.0f);

    // The undo's own write is no edit.
    letUndoSpacingPass (p);
    p.handleUpdateNowIfNeeded();
    EXPECT_TRUE (p.undoStack.empty());

    // Coalescing, and none during a drag.
    edit (p, ids::instOffset, 1.0f);
    edit (p, ids::instOffset, 1.2f);
    EXPECT_EQ (p.undoStack.size(), 1u);
    letUndoSpacingPass (p);
    p.instOffsetDragActive = true;
    edit (p, ids::instOffset, 1.4f);
    EXPECT_EQ (p.undoStack.size(), 1u);
}

TEST_F (UndoTest, LockedSectionIsPutBackOnceTheHostStops)
{
    QuorvaneProcessor p;
    edit (p, offsetId (4), 2.0f);
    p.sections[4].locked = true;
    p.hostPlaying = true;

    edit (p, offsetId (4), -5.0f);
    EXPECT_EQ (p.getSectionOffset (4), -5.0f); // kept while playing
    EXPECT_EQ (p.storedOffsets[4].load(), 2.0f);
    EXPECT_NE (p.offsetRevertMask.load() & (1u << 4), 0u);

    p.hostPlaying = false;
    p.triggerAsyncUpdate();
    p.handleUpdateNowIfNeeded();
    EXPECT_EQ (p.getSectionOffset (4), 2.0f);
    EXPECT_EQ (p.offsetRevertMask.load(), 0u);

    // A second put-back within 250 ms waits for a later update.
    edit (p, offsetId (4), 7.0f);
    EXPECT_EQ (p.getSectionOffset (4), 7.0f);
    p.lastRevertTimeMs[4] -= 300;
    p.triggerAsyncUpdate();
    p.handleUpdateNowIfNeeded();
    EXPECT_EQ (p.getSectionOffset (4), 2.0f);
}

// A host restores on its own thread while the message thread handles updates:
// whatever the interleaving, the restored offsets are no edit.
TEST_F (UndoTest, RestoreOnAHostThreadIsNeverTakenForAnEdit)
{
    QuorvaneProcessor source;
    for (int i = 0; i < 16; ++i)
        setParam (source, offsetId (i), 0.5f * (float) (i - 8));
    setParam (source, ids::instOffset, 2.5f);
    source.handleUpdateNowIfNeeded();
    source.linkOffsets = true;
    source.sections[2].linkGroup = 1;
    source.sections[3].linkGroup = 1;
    const auto blob = blobOf (source);

    QuorvaneProcessor empty;
    empty.linkOffsets = true;
    const auto emptyBlob = blobOf (empty);

    QuorvaneProcessor p;

    for (int round = 0; round < 200; ++round)
    {
        restore (p, emptyBlob);
        p.handleUpdateNowIfNeeded();
        p.undoStack.clear();
        letUndoSpacingPass (p);

        std::atomic<bool> done { false };
        std::thread host ([&] {
            restore (p, blob);
            done = true;
        });

        while (! done.load())
        {
            p.handleUpdateNowIfNeeded();
            p.handleAsyncUpdate();
        }

        host.join();
        p.handleUpdateNowIfNeeded();

        ASSERT_TRUE (p.undoStack.empty()) << "round " << round;

        for (int i = 0; i < 16; ++i)
            ASSERT_NEAR (p.getSectionOffset (i), 0.5f * (float) (i - 8), 1.0e-4) << "round " << round << " section " << i;

        ASSERT_NEAR (p.getInstOffsetDb(), 2.5f, 1.0e-4);
    }
}
