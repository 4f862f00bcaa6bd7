// Undo, redo and A/B switches pressed in the window while the Inst and a
// Vocal measure on audio threads of their own: the runs end, the restored
// results stay, and nothing the audio threads do afterwards replaces them.
// Run under the thread sanitizer too.

#include "VocalActionsSupport.h"

#include <array>

TEST_F (EditorVocalActions, UndoAndABSwitchWhileAudioThreadsMeasure)
{
    auto& ev = openVocal();
    auto& ei = open (*inst);
    ei.setSize (1092, 612);
    click (ei.setInstTargetButton);
    ei.timerCallback();

    std::atomic<float> instLevel { -18.0f }, vocalLevel { -20.0f };
    AudioThreads audio ({ inst, vocal }, { [&] { return instLevel.load(); }, [&] { return vocalLevel.load(); } });
    ASSERT_TRUE (tickUntil ({ &ev, &ei }, [&] { return vocal->hasPartner.load() && inst->ownSlot->role.load() == 1; }));

    // First results for both.
    click (ev.matchButton);
    ASSERT_TRUE (tickUntil ({ &ev, &ei }, [&] { return vocal->ownSlot->ownSections[0].elapsedSeconds.load() >= 1.5f; }));
    click (ev.matchButton);
    ASSERT_TRUE (tickUntil ({ &ev, &ei }, [&] { return vocal->sections[0].frozen.load(); }));
    click (ei.instMeasureButton);
    ASSERT_TRUE (tickUntil ({ &ev, &ei }, [&] { return inst->instAnalysisSeconds.load() >= 1.5f; }));
    click (ei.instMeasureButton);
    ASSERT_TRUE (tickUntil ({ &ev, &ei }, [&] { return inst->instFrozen.load(); }));
    const float vocalFirst = vocal->sections[0].selfLufs.load(), instFirst = inst->instMeasuredLufs.load();
    const auto instBlocks = inst->instHistory.size();

    for (int round = 0; round < 3; ++round)
    {
        SCOPED_TRACE (round);
        // Louder runs, undone (round 0, 2) or switched away from (round 1)
        // while the audio threads measure.
        instLevel = -8.0f;
        vocalLevel = -10.0f;
        click (ev.matchButton);
        click (ei.instMeasureButton);
        ASSERT_TRUE (tickUntil ({ &ev, &ei }, [&] { return vocal->ownSlot->ownSections[0].elapsedSeconds.load() >= 0.5f
                                                           && inst->instAnalysisSeconds.load() >= 0.5f; }));
        if (round == 1)
        {
            click (ev.abToggle);
            click (ei.abToggle);
            tickUntil ({ &ev, &ei }, [] { return false; }, 20);
            click (ev.abToggle);
            click (ei.abToggle);
        }
        // Undo back to the first results.
        for (auto* e : { &ev, &ei })
            for (int k = 0; k < 6 && ! (e == &ev ? vocal->sections[0].frozen.load() : inst->instFrozen.load()); ++k)
            {
                click (*e->undoButton);
                e->timerCallback();
            }
        tickUntil ({ &ev, &ei }, [] { return false; }, 30);

        EXPECT_FALSE (vocal->ownSlot->ownSections[0].measuring.load());
        EXPECT_FALSE (inst->instMeasuring.load());
        EXPECT_EQ (vocal->sections[0].selfLufs.load(), vocalFirst);
        EXPECT_EQ (inst->instMeasuredLufs.load(), instFirst);
        {
            std::lock_guard<std::mutex> lock (inst->analysisMutex);
            EXPECT_EQ (inst->instHistory.size(), instBlocks);
        }
        EXPECT_EQ (ev.matchButton.getButtonText(), "MATCH TO INST");
        EXPECT_EQ (ei.instMeasureButton.getButtonText(), "MATCH TO TARGET LUFS");
        EXPECT_TRUE (tickUntil ({ &ev, &ei }, [&] { return std::abs (audio.gainDb (0) - inst->instMatchGain.load()) < 0.05f; }))
            << "the Inst applies the restored Match Gain";
        instLevel = -18.0f;
        vocalLevel = -20.0f;
    }
    audio.stop();
}

// A finished run is handed from the measuring side to the section once. An
// undone result, a reset section or the next MATCH must not get it back from
// what the audio thread once handed over.
TEST_F (EditorVocalActions, AResultIsTakenOverOnceAndNeverComesBack)
{
    auto& e = openVocal();
    runBlocks ({ inst, vocal }, 5);
    auto& sec = vocal->sections[0];

    click (e.matchButton);
    runBlocks ({ inst, vocal }, 300);
    click (e.matchButton);
    runBlocks ({ inst, vocal }, 3);
    ASSERT_TRUE (sec.frozen.load());
    const float self = sec.selfLufs.load(), gain = sec.gainDb.load();
    ASSERT_GT (self, -40.0f);

    // Undo of the STOP: the section is back to no result, and stays there
    // while the audio goes on.
    e.timerCallback();
    ASSERT_TRUE (e.undoButton->isEnabled());
    click (*e.undoButton);
    runBlocks ({ inst, vocal }, 10);
    e.timerCallback();
    EXPECT_FALSE (sec.frozen.load());
    EXPECT_EQ (sec.selfLufs.load(), -120.0f);
    EXPECT_EQ (sec.gainDb.load(), 0.0f);
    EXPECT_EQ (e.matchButton.getButtonText(), "MATCH TO INST");

    // Redo brings exactly that result back.
    ASSERT_TRUE (e.redoButton->isEnabled());
    click (*e.redoButton);
    runBlocks ({ inst, vocal }, 10);
    EXPECT_TRUE (sec.frozen.load());
    EXPECT_EQ (sec.selfLufs.load(), self);
    EXPECT_EQ (sec.gainDb.load(), gain);

    // A reset section stays empty too.
    vocal->resetSectionMeasurementNoUndo (0);
    runBlocks ({ inst, vocal }, 10);
    EXPECT_FALSE (sec.frozen.load());
    EXPECT_EQ (sec.selfLufs.load(), -120.0f);

    // STOP undone before any block saw the stop: that run's result does not
    // arrive afterwards, and the next run measures as usual.
    click (e.matchButton);
    runBlocks ({ inst, vocal }, 300);
    click (e.matchButton);
    e.timerCallback();
    click (*e.undoButton);
    runBlocks ({ inst, vocal }, 10);
    e.timerCallback();
    EXPECT_FALSE (sec.frozen.load());
    EXPECT_EQ (sec.selfLufs.load(), -120.0f);
    EXPECT_EQ (e.matchButton.getButtonText(), "MATCH TO INST");
    click (e.matchButton);
    runBlocks ({ inst, vocal }, 300);
    click (e.matchButton);
    runBlocks ({ inst, vocal }, 3);
    EXPECT_TRUE (sec.frozen.load());
    EXPECT_NEAR (sec.selfLufs.load(), self, 0.01f);
}

// MATCH pressed again and again while both audio threads run flat out: every
// start leaves the section unmeasured for the new run (an earlier run's
// result taken over again at the wrong moment would freeze it, and the new
// run's result would then be refused at STOP).
TEST_F (EditorVocalActions, EveryMatchStartBeginsFromNoResultWhileAudioThreadsRun)
{
    auto& e = openVocal();

    // Both processors run block after block without pause; joined however
    // the test ends.
    struct FlatOut
    {
        explicit FlatOut (std::initializer_list<QuorvaneProcessor*> procs)
        {
            size_t i = 0;
            for (auto* p : procs)
                threads.emplace_back ([p, this, count = &blocks[i++]]
                {
                    juce::AudioBuffer<float> buffer (2, 480);
                    juce::MidiBuffer midi;
                    double phase = 0.0;
                    while (running.load())
                    {
                        fillSine (buffer, 0.1f, phase);
                        p->processBlock (buffer, midi);
                        count->fetch_add (1);
                    }
                });
        }
        ~FlatOut()
        {
            running = false;
            for (auto& t : threads)
                t.join();
        }
        std::atomic<bool> running { true };
        std::array<std::atomic<int>, 2> blocks {};
        std::vector<std::thread> threads;
    } audio { inst, vocal };
    ASSERT_TRUE (tickUntil ({ &e }, [&] { return vocal->hasPartner.load() && inst->ownSlot->role.load() == 1; }));
    // The Inst takes a new Vocal up in its next block; a start made before
    // that is not one it measures. A host has played blocks long before.
    const int linkedAt = audio.blocks[0].load();
    ASSERT_TRUE (tickUntil ({ &e }, [&] { return audio.blocks[0].load() > linkedAt + 2; }));

    auto& sec = vocal->sections[0];
    auto& own = vocal->ownSlot->ownSections[0];
    auto& instSide = vocal->ownSlot->instSections[0];
    int frozenWhileMeasuring = 0;
    for (int round = 0; round < 60; ++round)
    {
        SCOPED_TRACE (round);
        click (e.matchButton);
        ASSERT_TRUE (own.measuring.load());
        if (sec.frozen.load())
            ++frozenWhileMeasuring;
        // Both sides past their first gating block (the threads run at their
        // own pace, unlike a host's).
        ASSERT_TRUE (tickUntil ({ &e }, [&] { return (own.elapsedSeconds.load() >= 0.6f && instSide.elapsedSeconds.load() >= 0.6f)
                                                     || sec.frozen.load(); }))
            << "Vocal side " << own.measuring.load() << " " << own.elapsedSeconds.load() << " s, Inst side "
            << instSide.measuring.load() << " " << instSide.elapsedSeconds.load() << " s";
        if (sec.frozen.load())
            ++frozenWhileMeasuring;
        click (e.matchButton);
        ASSERT_TRUE (tickUntil ({ &e }, [&] { return sec.frozen.load(); })) << "the run's result arrives";
        EXPECT_GT (sec.selfLufs.load(), -40.0f);
    }
    EXPECT_EQ (frozenWhileMeasuring, 0) << "runs that went on behind an earlier result";
}
