// A finished section run is handed from both audio threads to the Vocal's
// section once. These sessions try to lose that result or get it twice: a
// reactivation between STOP and the take-over, STOP and MATCH pressed while
// the audio threads run flat out, odd block sizes and sample rates. Levels
// are checked against libebur128, gains against numbers worked by hand
// (gain = Offset + INST - VOCAL for the same sine at two levels). Run under
// the thread sanitizer too.

#include "VocalActionsSupport.h"

#include <array>
#include <tuple>

namespace
{
/** Integrated loudness, as libebur128 measures it, of a stereo 997 Hz sine
    of the given peak level, n samples long at the given rate. */
double oracleLufs (float peakDb, double sampleRate, std::int64_t samples)
{
    auto* st = ebur128_init (2, (unsigned long) sampleRate, EBUR128_MODE_I);
    const float a = std::pow (10.0f, peakDb / 20.0f);
    std::vector<float> frames (2 * 1024);
    double phase = 0.0;
    for (std::int64_t done = 0; done < samples;)
    {
        const auto n = (size_t) std::min<std::int64_t> (1024, samples - done);
        for (size_t i = 0; i < n; ++i)
        {
            const float v = a * (float) std::sin (phase);
            phase += 2.0 * juce::MathConstants<double>::pi * 997.0 / sampleRate;
            frames[2 * i] = v;
            frames[2 * i + 1] = v;
        }
        ebur128_add_frames_float (st, frames.data(), n);
        done += (std::int64_t) n;
    }
    double out = 0.0;
    ebur128_loudness_global (st, &out);
    ebur128_destroy (&st);
    return out;
}

/** Plays a 997 Hz sine of its own level through each processor, block by
    block on the test's thread, and keeps the gain the last block applied. */
struct Player
{
    struct Track
    {
        QuorvaneProcessor* proc;
        float peakDb;
        double phase = 0.0;
        float gainDb = -200.0f;
    };

    Player (std::vector<Track> t, double rate, int size) : tracks (std::move (t)), sampleRate (rate), blockSize (size) {}

    void prepare()
    {
        for (auto& t : tracks)
        {
            t.proc->setPlayConfigDetails (2, 2, sampleRate, blockSize);
            t.proc->prepareToPlay (sampleRate, blockSize);
        }
    }

    /** Blocks through every track. */
    void play (int blocks)
    {
        std::vector<size_t> all;
        for (size_t i = 0; i < tracks.size(); ++i)
            all.push_back (i);
        playOnly (blocks, all);
    }

    /** Blocks that cover the given time. */
    int blocksFor (double seconds) const { return (int) std::ceil (seconds * sampleRate / blockSize); }

    /** Blocks through the given tracks only. */
    void playOnly (int blocks, const std::vector<size_t>& only)
    {
        juce::AudioBuffer<float> buffer (2, blockSize);
        juce::MidiBuffer midi;
        for (int b = 0; b < blocks; ++b)
            for (auto i : only)
            {
                auto& t = tracks[i];
                const float a = std::pow (10.0f, t.peakDb / 20.0f);
                fillSine (buffer, a, t.phase, sampleRate);
                const double in = buffer.getRMSLevel (0, 0, blockSize);
                t.proc->processBlock (buffer, midi);
                if (in > 1.0e-4) // a one-sample block may land on a zero crossing
                    t.gainDb = (float) (20.0 * std::log10 (std::max (1.0e-12, (double) buffer.getRMSLevel (0, 0, blockSize)) / in));
            }
    }

    std::vector<Track> tracks;
    double sampleRate;
    int blockSize;
};

/** What a finished run of the Vocal against the Inst must leave in section
    0: both levels as libebur128 measures the two sines over the run's
    length, the hand-worked gain, and that gain at the output. */
void expectTakenOver (QuorvaneProcessor& vocal, Player& player, float vocalDb, float instDb, size_t track = 1, bool lufs = true)
{
    auto& sec = vocal.sections[0];
    ASSERT_TRUE (sec.frozen.load()) << "the stopped run's result arrives";
    const auto samples = (std::int64_t) std::llround ((double) sec.analysisSeconds.load() * player.sampleRate);
    if (lufs)
    {
        EXPECT_NEAR (sec.selfLufs.load(), oracleLufs (vocalDb, player.sampleRate, samples), 0.05);
        EXPECT_NEAR (sec.partnerLufs.load(), oracleLufs (instDb, player.sampleRate, samples), 0.05);
    }
    else
    {
        // The same sine at two levels: any weighting gives their difference.
        EXPECT_NEAR (sec.partnerLufs.load() - sec.selfLufs.load(), instDb - vocalDb, 0.02f);
    }
    EXPECT_NEAR (sec.gainDb.load(), instDb - vocalDb, 0.02f);
    player.play (std::max (2, player.blocksFor (0.2)));
    EXPECT_NEAR (player.tracks[track].gainDb, sec.gainDb.load(), 0.02f) << "the stored gain is applied";
}
} // namespace

// The host reactivates one instance or both after STOP, before the audio
// threads have handed the run over (or after only one side has published).
// The run ended at STOP with all its audio measured: its result must
// arrive, not be cancelled as a run cut short by the reactivation.
TEST_F (EditorVocalActions, AReactivationAfterStopKeepsTheStoppedRun)
{
    struct Case
    {
        const char* name;
        std::vector<size_t> sawStop;    // tracks that play a block between STOP and the reactivation
        std::vector<size_t> reactivate; // 0 Inst, 1 Vocal
    };
    const Case cases[] = {
        { "no block, Vocal reactivated", {}, { 1 } },
        { "no block, Inst reactivated", {}, { 0 } },
        { "no block, both reactivated", {}, { 0, 1 } },
        { "Vocal published, Inst reactivated", { 1 }, { 0 } },
        { "Vocal published, both reactivated", { 1 }, { 0, 1 } },
        { "Inst published, Vocal reactivated", { 0 }, { 1 } },
        { "Inst published, both reactivated", { 0 }, { 0, 1 } },
    };

    auto& e = openVocal();
    Player player ({ { inst, -14.0f }, { vocal, -20.0f } }, 48000.0, 480);
    player.prepare();
    player.play (5);

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        click (e.matchButton);
        ASSERT_TRUE (vocal->ownSlot->ownSections[0].measuring.load());
        player.play (250);
        click (e.matchButton);
        player.playOnly (1, c.sawStop);
        for (auto i : c.reactivate)
            player.tracks[i].proc->prepareToPlay (48000.0, 480);
        player.play (3);
        e.timerCallback();
        expectTakenOver (*vocal, player, -20.0f, -14.0f);
        EXPECT_FALSE (vocal->ownSlot->ownSections[0].measuring.load()) << "no run left measuring";
        EXPECT_EQ (e.matchButton.getButtonText(), "MATCH TO INST");
    }
}

// STOP and at once MATCH again, hundreds of times, while both audio threads
// run flat out: a block may be publishing the stopped run at the very moment
// the new start clears the slots. Every new start must go on measuring (not
// be swallowed by the old run's publication), and its STOP must bring its
// own result.
TEST_F (EditorVocalActions, StopThenMatchAtOnceNeverSwallowsTheNewRun)
{
    auto& e = openVocal();
    std::atomic<bool> running { true };
    std::array<std::atomic<int>, 2> blocksDone {};
    std::vector<std::thread> threads;
    for (auto [p, db, count] : { std::tuple { inst, -14.0f, &blocksDone[0] }, std::tuple { vocal, -20.0f, &blocksDone[1] } })
        threads.emplace_back ([p = p, db = db, count = count, &running]
        {
            juce::AudioBuffer<float> buffer (2, 480);
            juce::MidiBuffer midi;
            const float a = std::pow (10.0f, db / 20.0f);
            double phase = 0.0;
            while (running.load())
            {
                fillSine (buffer, a, phase);
                p->processBlock (buffer, midi);
                count->fetch_add (1);
            }
        });
    ASSERT_TRUE (tickUntil ({ &e }, [&] { return vocal->hasPartner.load() && inst->ownSlot->role.load() == 1; }));

    // Both threads have begun a block after the click: a block that was
    // running at the click may still show the stopped run's length for a
    // moment, which is not the new run's.
    const auto blocksSeen = [&]
    {
        const int inst0 = blocksDone[0].load() + 2, vocal0 = blocksDone[1].load() + 2;
        ASSERT_TRUE (tickUntil ({ &e }, [&] { return blocksDone[0].load() >= inst0 && blocksDone[1].load() >= vocal0; }, 3000));
    };

    auto& sec = vocal->sections[0];
    auto& own = vocal->ownSlot->ownSections[0];
    auto& inst0 = vocal->ownSlot->instSections[0];
    const auto selfRef = oracleLufs (-20.0f, 48000.0, 48000), instRef = oracleLufs (-14.0f, 48000.0, 48000);
    int swallowed = 0, lost = 0, wrong = 0;
    click (e.matchButton);
    for (int round = 0; round < 300; ++round)
    {
        ASSERT_TRUE (tickUntil ({ &e }, [&] { return own.elapsedSeconds.load() >= 0.5f || ! own.measuring.load(); }, 3000));
        if (! own.measuring.load())
        {
            // The last MATCH was swallowed: start again to go on.
            ++swallowed;
            click (e.matchButton);
            continue;
        }
        click (e.matchButton); // STOP
        click (e.matchButton); // MATCH at once
        if (! own.measuring.load())
            ++swallowed;
        blocksSeen();
        // The new run's own result, after a short run.
        // Both sides long enough for a gating block: the two threads run
        // flat out, not in step, so the Inst may be behind the Vocal.
        if (! tickUntil ({ &e }, [&] { return (own.elapsedSeconds.load() >= 0.5f && inst0.elapsedSeconds.load() >= 0.5f) || ! own.measuring.load(); }, 3000)
            || ! own.measuring.load())
        {
            ++swallowed;
            click (e.matchButton);
            continue;
        }
        click (e.matchButton);
        if (! tickUntil ({ &e }, [&] { return sec.frozen.load(); }, 3000))
            ++lost;
        else if (std::abs (sec.selfLufs.load() - selfRef) > 0.05 || std::abs (sec.partnerLufs.load() - instRef) > 0.05
                 || std::abs (sec.gainDb.load() - 6.0f) > 0.02f)
            ++wrong;
        click (e.matchButton);
    }
    running = false;
    for (auto& t : threads)
        t.join();
    EXPECT_EQ (swallowed, 0) << "MATCH presses that started no run";
    EXPECT_EQ (lost, 0) << "STOPs whose result never arrived";
    EXPECT_EQ (wrong, 0) << "results unlike the oracle";
}

// One run in each weighting mode at odd block sizes and sample rates, then
// Undo and Redo of its STOP while audio goes on: the result arrives once,
// equal to the oracle, the undone section stays without a result (and at
// 0 dB at the output), and Redo brings the same numbers back.
TEST_F (EditorVocalActions, EachModeRateAndBlockSizeTakesOverOnceAndUndoes)
{
    struct Case
    {
        int mode;
        double rate;
        int block;
    };
    const Case cases[] = { { 0, 44100.0, 1 }, { 0, 44100.0, 33 }, { 0, 96000.0, 4097 }, { 1, 44100.0, 33 },
                           { 1, 96000.0, 4097 }, { 2, 48000.0, 1 }, { 2, 96000.0, 4097 }, { 2, 44100.0, 33 } };

    auto& e = openVocal();
    auto& sec = vocal->sections[0];
    for (const auto& c : cases)
    {
        SCOPED_TRACE ("mode " + std::to_string (c.mode) + ", " + std::to_string ((int) c.rate) + " Hz, block " + std::to_string (c.block));
        vocal->applyMeasurementSettings (c.mode, 3.0f);
        LinkRegistry::get().broadcastMeasurementSettings (vocal, vocal->measMode.load(), vocal->rmsTimeSec.load());
        ASSERT_EQ (inst->measMode.load(), c.mode);
        Player player ({ { inst, -14.0f }, { vocal, -20.0f } }, c.rate, c.block);
        player.prepare();
        player.play (std::max (3, player.blocksFor (0.05)));

        click (e.matchButton);
        player.play (player.blocksFor (2.5));
        click (e.matchButton);
        player.play (3);
        e.timerCallback();
        expectTakenOver (*vocal, player, -20.0f, -14.0f, 1, c.mode == 0);
        const float self = sec.selfLufs.load(), partner = sec.partnerLufs.load(), gain = sec.gainDb.load();

        click (*e.undoButton);
        player.play (std::max (3, player.blocksFor (0.2)));
        e.timerCallback();
        EXPECT_FALSE (sec.frozen.load()) << "the undone result does not come back";
        EXPECT_EQ (sec.selfLufs.load(), -120.0f);
        EXPECT_EQ (sec.gainDb.load(), 0.0f);
        EXPECT_NEAR (player.tracks[1].gainDb, 0.0f, 0.02f);
        EXPECT_EQ (e.matchButton.getButtonText(), "MATCH TO INST");

        click (*e.redoButton);
        player.play (3);
        EXPECT_TRUE (sec.frozen.load());
        EXPECT_EQ (sec.selfLufs.load(), self);
        EXPECT_EQ (sec.partnerLufs.load(), partner);
        EXPECT_EQ (sec.gainDb.load(), gain);
        player.play (std::max (2, player.blocksFor (0.2)));
        EXPECT_NEAR (player.tracks[1].gainDb, gain, 0.02f);
    }
}

// Two Vocals measure against one Inst. One of them undoes its STOP before
// any block saw it, the other keeps its run: each gets exactly its own
// result (or none), and the undoing Vocal's next run measures as usual.
TEST_F (EditorVocalActions, TwoVocalsOneUndoesItsStopTheOtherKeepsItsResult)
{
    auto& e1 = openVocal();
    auto* vocal2 = &addProcessor (2);
    auto& e2 = open (*vocal2);
    e2.setSize (1092, 612);
    Player player ({ { inst, -14.0f }, { vocal, -20.0f }, { vocal2, -26.0f } }, 48000.0, 480);
    player.prepare();
    player.play (5);
    e1.timerCallback();
    e2.timerCallback();
    ASSERT_TRUE (vocal2->hasPartner.load());

    for (int round = 0; round < 3; ++round)
    {
        SCOPED_TRACE (round);
        click (e1.matchButton);
        click (e2.matchButton);
        player.play (200);
        click (e1.matchButton);
        click (e2.matchButton);
        e1.timerCallback();
        click (*e1.undoButton); // the first Vocal's STOP, undone at once
        player.play (5);
        e1.timerCallback();
        e2.timerCallback();

        EXPECT_FALSE (vocal->sections[0].frozen.load());
        EXPECT_EQ (vocal->sections[0].selfLufs.load(), -120.0f);
        EXPECT_FALSE (vocal->ownSlot->ownSections[0].measuring.load());
        EXPECT_EQ (e1.matchButton.getButtonText(), "MATCH TO INST");
        expectTakenOver (*vocal2, player, -26.0f, -14.0f, 2);
        EXPECT_NEAR (player.tracks[1].gainDb, 0.0f, 0.02f) << "no gain on the Vocal without a result";

        // The first Vocal measures again while the second one's result stays.
        click (e1.matchButton);
        player.play (200);
        click (e1.matchButton);
        player.play (5);
        expectTakenOver (*vocal, player, -20.0f, -14.0f, 1);
        expectTakenOver (*vocal2, player, -26.0f, -14.0f, 2);

        // Both start from no result for the next round.
        vocal->resetSectionMeasurementNoUndo (0);
        vocal2->resetSectionMeasurementNoUndo (0);
        player.play (5);
        EXPECT_FALSE (vocal->sections[0].frozen.load());
        EXPECT_FALSE (vocal2->sections[0].frozen.load());
    }
}

namespace
{
/** The host's transport as every instance sees it: one playing flag, each
    instance's own position. */
struct Transport
{
    struct Head : juce::AudioPlayHead
    {
        juce::Optional<PositionInfo> getPosition() const override
        {
            PositionInfo info;
            info.setIsPlaying (transport->playing.load());
            info.setTimeInSamples (position);
            return info;
        }
        const Transport* transport = nullptr;
        std::int64_t position = 0;
    };

    explicit Transport (std::vector<QuorvaneProcessor*> p) : procs (std::move (p)), heads (procs.size())
    {
        for (size_t i = 0; i < procs.size(); ++i)
        {
            heads[i].transport = this;
            procs[i]->setPlayHead (&heads[i]);
        }
    }

    ~Transport()
    {
        for (auto* p : procs)
            p->setPlayHead (nullptr);
    }

    std::atomic<bool> playing { false };
    std::vector<QuorvaneProcessor*> procs;
    std::vector<Head> heads;
};
} // namespace

// MATCH with the run linked to the transport: the start waits for playback,
// the host's stop ends the run. Between that stop and the take-over the
// session goes on: nothing, a reactivation of the Inst before its next
// block, or an Undo of the MATCH. The result arrives once (or, undone,
// never), and the next linked run measures as usual.
TEST_F (EditorVocalActions, TransportLinkedRunsEndedByTheHostStop)
{
    enum class After { nothing, instReactivated, undo };
    const std::pair<After, const char*> cases[] = { { After::nothing, "nothing" }, { After::instReactivated, "Inst reactivated" },
                                                    { After::undo, "Undo" }, { After::nothing, "nothing again" } };

    auto& e = openVocal();
    Transport transport ({ inst, vocal });
    Player player ({ { inst, -14.0f }, { vocal, -20.0f } }, 48000.0, 480);
    player.prepare();
    vocal->linkMeasurementToTransport = true;
    const auto playAndAdvance = [&] (int blocks, std::vector<size_t> only)
    {
        for (int b = 0; b < blocks; ++b)
        {
            player.playOnly (1, only);
            for (auto i : only)
                transport.heads[i].position += transport.playing.load() ? 480 : 0;
            vocal->handleUpdateNowIfNeeded();
        }
    };
    playAndAdvance (5, { 0, 1 });
    auto& sec = vocal->sections[0];

    for (const auto& [after, name] : cases)
    {
        SCOPED_TRACE (name);
        // The undone run is louder: taken over after all, it would show.
        const bool frozenBefore = sec.frozen.load();
        const float selfBefore = sec.selfLufs.load(), gainBefore = sec.gainDb.load();
        player.tracks[1].peakDb = after == After::undo ? -26.0f : -20.0f;
        click (e.matchButton);
        ASSERT_TRUE (vocal->armedSectionStart.load()) << "the start waits for playback";
        playAndAdvance (20, { 0, 1 });
        EXPECT_FALSE (vocal->ownSlot->ownSections[0].measuring.load());

        transport.playing = true;
        playAndAdvance (250, { 0, 1 });
        ASSERT_TRUE (vocal->ownSlot->ownSections[0].measuring.load()) << "playback began the run";
        transport.playing = false;
        playAndAdvance (1, { 1 }); // the Vocal's block sees the host stop first

        if (after == After::instReactivated)
            inst->prepareToPlay (48000.0, 480);
        if (after == After::undo)
        {
            e.timerCallback();
            click (*e.undoButton);
        }
        playAndAdvance (5, { 0, 1 });
        e.timerCallback();

        EXPECT_FALSE (vocal->ownSlot->ownSections[0].measuring.load()) << "no run left measuring";
        EXPECT_EQ (e.matchButton.getButtonText(), "MATCH TO INST");
        if (after == After::undo)
        {
            // Back to what the section held before that MATCH, for good.
            playAndAdvance (30, { 0, 1 });
            EXPECT_EQ (sec.frozen.load(), frozenBefore) << "the undone run does not arrive later";
            EXPECT_EQ (sec.selfLufs.load(), selfBefore);
            EXPECT_EQ (sec.gainDb.load(), gainBefore);
            EXPECT_NEAR (player.tracks[1].gainDb, gainBefore, 0.02f);
        }
        else
        {
            EXPECT_NEAR (sec.analysisSeconds.load(), 2.5f, 0.02f) << "the run lasted from playback to the host stop";
            expectTakenOver (*vocal, player, -20.0f, -14.0f);
        }
    }
}
