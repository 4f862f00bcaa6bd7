// Undo, redo and A/B switches pressed in the window while the Inst and a
// Vocal measure on audio threads of their own: the runs end, the restored
// results stay, and nothing the audio threads do afterwards replaces them.
// Run under the thread sanitizer too.

#include "VocalActionsSupport.h"

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
