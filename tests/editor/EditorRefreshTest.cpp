#include "EditorTestSupport.h"

#include <atomic>
#include <cmath>
#include <thread>

using qvn::test::EditorFixture;
using qvn::test::setParameter;

namespace
{
juce::MouseEvent mouseEvent (juce::Component& c, juce::ModifierKeys mods)
{
    auto source = juce::Desktop::getInstance().getMainMouseSource();
    const juce::Point<float> pos ((float) c.getWidth() * 0.5f, (float) c.getHeight() * 0.5f);
    return juce::MouseEvent (source, pos, mods, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, &c, &c, juce::Time::getCurrentTime(), pos,
                             juce::Time::getCurrentTime(), 1, false);
}

void clickBar (juce::Component& bar, bool shift)
{
    const auto mods = shift ? juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier | juce::ModifierKeys::shiftModifier)
                            : juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier);
    bar.mouseDown (mouseEvent (bar, mods));
    bar.mouseUp (mouseEvent (bar, mods));
}

/** One audio thread per processor, playing a sine at a level that can be
    changed while it runs (at most about 4x real time). */
class AudioThreads
{
public:
    explicit AudioThreads (const std::vector<QuorvaneProcessor*>& procs)
    {
        for (auto* p : procs)
        {
            p->setPlayConfigDetails (2, 2, 48000.0, 480);
            p->prepareToPlay (48000.0, 480);
            levels.push_back (std::make_unique<std::atomic<float>> (-20.0f));
        }
        for (size_t i = 0; i < procs.size(); ++i)
            threads.emplace_back ([this, p = procs[i], level = levels[i].get()]
            {
                juce::AudioBuffer<float> buffer (2, 480);
                juce::MidiBuffer midi;
                double phase = 0.0;
                while (running.load())
                {
                    const float a = level->load() <= -119.0f ? 0.0f : std::pow (10.0f, level->load() / 20.0f);
                    qvn::test::fillSine (buffer, a, phase);
                    p->processBlock (buffer, midi);
                    std::this_thread::sleep_for (std::chrono::microseconds (2500));
                }
            });
    }

    ~AudioThreads() { stop(); }

    void stop()
    {
        running = false;
        for (auto& t : threads)
            if (t.joinable())
                t.join();
    }

    void setLevel (size_t i, float db) { levels[i]->store (db); }

private:
    std::atomic<bool> running { true };
    std::vector<std::unique_ptr<std::atomic<float>>> levels;
    std::vector<std::thread> threads;
};

/** Runs the window's refresh by hand, as the message loop would every 50 ms. */
template <typename Condition>
bool tickUntil (std::initializer_list<QuorvaneEditor*> editors, Condition done, int maxTicks = 400)
{
    for (int i = 0; i < maxTicks; ++i)
    {
        for (auto* e : editors)
            e->timerCallback();
        if (done())
            return true;
        std::this_thread::sleep_for (std::chrono::milliseconds (25));
    }
    return false;
}
} // namespace

class EditorRefresh : public EditorFixture
{
};

TEST_F (EditorRefresh, MeterBarsFollowTheAudioOfEveryLinkedInstance)
{
    auto& inst = addProcessor (1);
    auto& v1 = addProcessor (2);
    auto& v2 = addProcessor (2);
    auto& v3 = addProcessor (2);
    auto& e1 = open (v1);
    auto& e2 = open (v2);
    e1.timerCallback();
    e2.timerCallback();
    ASSERT_EQ (e1.otherVocalMeters.size(), 2u);
    ASSERT_EQ (e1.getWidth(), 972 + 2 * 40);

    AudioThreads audio ({ &inst, &v1, &v2, &v3 });
    audio.setLevel (0, -14.0f);   // the Inst louder than the Vocals
    audio.setLevel (3, -30.0f);   // the third Vocal quieter

    // Bars move with the audio: own bar, partner bar and both other-Vocal bars.
    // Levels settle within the meters' windows; a loaded machine may run the
    // audio threads slower than real time, hence the generous limit.
    ASSERT_TRUE (tickUntil ({ &e1, &e2 }, [&]
    {
        return e1.ownMeter.valueLufs > -40.0f && e1.partnerMeter.valueLufs > e1.ownMeter.compareLufs + 3.0f
               && e1.otherVocalMeters[0]->valueLufs > -40.0f && e1.otherVocalMeters[1]->valueLufs > -50.0f
               && e1.otherVocalMeters[1]->valueLufs < e1.otherVocalMeters[0]->valueLufs - 5.0f
               && e1.ownMeter.peakLeftDb > -30.0f && e1.partnerMeter.peakLeftDb > -20.0f;
    }, 600));
    EXPECT_GT (e1.partnerMeter.valueLufs, e1.ownMeter.compareLufs + 3.0f) << "the Inst plays 6 dB louder";
    EXPECT_GT (e1.ownMeter.peakLeftDb, -30.0f);
    EXPECT_GT (e1.partnerMeter.peakLeftDb, -20.0f);
    EXPECT_EQ (e1.otherVocalNumbers, (std::vector<int> { 2, 3 }));
    EXPECT_EQ (e2.otherVocalNumbers, (std::vector<int> { 1, 3 }));
    EXPECT_LT (e1.otherVocalMeters[1]->valueLufs, e1.otherVocalMeters[0]->valueLufs - 5.0f) << "Vocal 3 is 10 dB down";

    // Silence on the Inst: its bar falls while the Vocal bars stay.
    audio.setLevel (0, -120.0f);
    EXPECT_TRUE (tickUntil ({ &e1 }, [&] { return e1.partnerMeter.valueLufs < -60.0f; }));
    EXPECT_GT (e1.ownMeter.valueLufs, -40.0f);

    // Hiding Vocal 3 in the first window narrows that window only.
    v1.hiddenVocalMask.fetch_or (1 << 2);
    e1.timerCallback();
    e2.timerCallback();
    EXPECT_EQ (e1.otherVocalMeters.size(), 1u);
    EXPECT_EQ (e1.getWidth(), 972 + 40);
    EXPECT_EQ (e2.otherVocalMeters.size(), 2u);
    EXPECT_EQ (e2.getWidth(), 972 + 80);
    EXPECT_TRUE (tickUntil ({ &e1 }, [&] { return e1.otherVocalNumbers == std::vector<int> { 2 }; }));

    // Vocal 3 leaves the set: the second window rebuilds its bars and narrows.
    setParameter (v3, ids::role, 0.0f);
    e2.timerCallback();
    EXPECT_EQ (e2.otherVocalMeters.size(), 1u);
    EXPECT_EQ (e2.getWidth(), 972 + 40);
    EXPECT_EQ (e2.otherVocalMeters[0]->label, "Vo2");
    EXPECT_TRUE (tickUntil ({ &e2 }, [&] { return e2.otherVocalMeters[0]->valueLufs > -40.0f; }));
    EXPECT_EQ (e2.otherVocalNumbers, (std::vector<int> { 1 }));

    // Leaving the Vocal role removes every other-Vocal bar and returns to 972.
    setParameter (v2, ids::role, 0.0f);
    e2.timerCallback();
    EXPECT_TRUE (e2.otherVocalMeters.empty());
    EXPECT_EQ (e2.getWidth(), 972);
    audio.stop();
}

TEST_F (EditorRefresh, BarClicksResetTheRightInstances)
{
    auto& inst = addProcessor (1);
    auto& v1 = addProcessor (2);
    auto& v2 = addProcessor (2);
    auto& v3 = addProcessor (2);
    auto& e = open (v1);
    e.timerCallback();
    v1.hiddenVocalMask = 1 << 1;   // Vocal 2 hidden: the only other bar shows Vocal 3
    e.timerCallback();
    ASSERT_EQ (e.otherVocalMeters.size(), 1u);

    QuorvaneProcessor* all[] = { &inst, &v1, &v2, &v3 };
    {
        // One block each: the audio threads publish their roles in their link records.
        AudioThreads audio ({ &inst, &v1, &v2, &v3 });
        ASSERT_TRUE (tickUntil ({ &e }, [&] { return inst.ownSlot->role.load() == 1 && v3.ownSlot->role.load() == 2; }));
    }
    std::array<int, 4> before {};
    auto snapshot = [&] { for (size_t i = 0; i < 4; ++i) before[i] = all[i]->ownSlot->meterResetCounter.load(); };
    auto moved = [&]
    {
        std::array<int, 4> d {};
        for (size_t i = 0; i < 4; ++i)
            d[i] = all[i]->ownSlot->meterResetCounter.load() - before[i];
        return d;
    };

    struct Case
    {
        const char* what;
        juce::Component* bar;
        bool shift;
        std::array<int, 4> expected;   // Inst, Vocal 1 (this), Vocal 2, Vocal 3
    };
    const Case cases[] = {
        { "own bar", &e.ownMeter, false, { 1, 1, 1, 1 } },
        { "partner bar", &e.partnerMeter, false, { 1, 1, 1, 1 } },
        { "other bar", e.otherVocalMeters[0].get(), false, { 1, 1, 1, 1 } },
        { "shift own bar", &e.ownMeter, true, { 0, 1, 0, 0 } },
        { "shift partner bar", &e.partnerMeter, true, { 1, 0, 0, 0 } },
        { "shift other bar", e.otherVocalMeters[0].get(), true, { 0, 0, 0, 1 } },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        v1.vocalPeakLeftDb = -6.0f;
        snapshot();
        clickBar (*c.bar, c.shift);
        EXPECT_EQ (moved(), c.expected);
        if (c.shift && c.bar == &e.ownMeter)
            EXPECT_EQ (v1.vocalPeakLeftDb.load(), -120.0f);
    }

    // The audio threads see the reset: the Integrated display starts again.
    (void) inst;
}

TEST_F (EditorRefresh, InstDutiesMatchGainAndUnfinishedMeasurement)
{
    auto& inst = addProcessor (1);
    addProcessor (2);
    auto& e = open (inst);
    e.timerCallback();

    // No INST level: a Target LUFS change leaves the Match Gain alone.
    inst.instMatchGain = 1.0f;
    setParameter (inst, ids::targetLufs, -20.0f);
    e.timerCallback();
    EXPECT_FALSE (inst.targetLufsChanged.load()) << "consumed by the tick";
    EXPECT_EQ (inst.instMatchGain.load(), 1.0f);

    // With a finished INST measurement the next tick recomputes it, clamped to +-24.
    inst.instMeasuredLufs = -26.0f;
    setParameter (inst, ids::targetLufs, -16.0f);
    e.timerCallback();
    EXPECT_NEAR (inst.instMatchGain.load(), 10.0f, 1e-4);
    inst.instMeasuredLufs = -60.0f;
    setParameter (inst, ids::targetLufs, -10.0f);
    e.timerCallback();
    EXPECT_EQ (inst.instMatchGain.load(), 24.0f);

    // A stop the audio thread did not finish is finished on the fourth tick that sees it.
    inst.instMeasuredLufs = -120.0f;
    inst.instFrozen = false;
    inst.instStopCounter.fetch_add (1);
    for (int tick = 1; tick <= 3; ++tick)
    {
        e.timerCallback();
        EXPECT_NE (inst.instStopCounter.load(), inst.instFinalizedStop.load()) << tick;
    }
    const auto revision = inst.historyRevision[16].load();
    e.timerCallback();
    EXPECT_EQ (inst.instStopCounter.load(), inst.instFinalizedStop.load());
    EXPECT_NE (inst.historyRevision[16].load(), revision) << "the INST data were finished";
    EXPECT_EQ (inst.instFinalizeWaitTicks, 0);

    // A running INST measurement restarts the count.
    inst.instStopCounter.fetch_add (1);
    e.timerCallback();
    e.timerCallback();
    inst.instMeasuring = true;
    e.timerCallback();
    EXPECT_EQ (inst.instFinalizeWaitTicks, 0);
    inst.instMeasuring = false;
    for (int tick = 1; tick <= 3; ++tick)
        e.timerCallback();
    EXPECT_NE (inst.instStopCounter.load(), inst.instFinalizedStop.load());
    e.timerCallback();
    EXPECT_EQ (inst.instStopCounter.load(), inst.instFinalizedStop.load());
}

TEST_F (EditorRefresh, InstTargetViewMetersShowTheGainApplied)
{
    auto& inst = addProcessor (1);
    auto& v = addProcessor (2);
    auto& e = open (inst);
    inst.instTargetUiOpen = true;
    inst.instMatchGain = 3.0f;
    setParameter (inst, ids::instOffset, 1.0f);
    e.timerCallback();

    AudioThreads audio ({ &inst, &v });
    ASSERT_TRUE (tickUntil ({ &e }, [&] { return e.ownMeter.valueLufs > -40.0f && e.partnerMeter.valueLufs > -40.0f; }));
    audio.stop();
    e.timerCallback();
    EXPECT_NEAR (e.ownMeter.compareLufs, e.ownMeter.valueLufs - 4.0f, 1e-3) << "level before gain = level - (match + offset)";
    EXPECT_EQ (e.partnerMeter.targetLineLufs, -120.0f);

    // While the INST measurement runs no gain applies.
    inst.instMeasuring = true;
    e.timerCallback();
    EXPECT_EQ (e.ownMeter.compareLufs, e.ownMeter.valueLufs);
}

TEST_F (EditorRefresh, OwnBarShowsMeasuringSkippedAndHeldRuns)
{
    addProcessor (1);
    auto& v = addProcessor (2);
    auto& e = open (v);
    e.timerCallback();
    EXPECT_EQ (e.ownMeter.measureState, qvn_meter::MeasureState::Normal);

    v.kickSectionMeasurement (0);
    v.meterVocalShortTerm = -80.0f;
    e.timerCallback();
    EXPECT_EQ (e.shownSection, 0);
    EXPECT_EQ (e.ownMeter.measureState, qvn_meter::MeasureState::Skipped) << "below -70: the block is skipped";
    v.meterVocalShortTerm = -20.0f;
    e.timerCallback();
    EXPECT_EQ (e.ownMeter.measureState, qvn_meter::MeasureState::Measuring);
    v.meterVocalShortTerm = std::numeric_limits<float>::quiet_NaN();
    e.timerCallback();
    EXPECT_EQ (e.ownMeter.measureState, qvn_meter::MeasureState::Skipped);

    v.ownSlot->ownSections[0].measuring = false;
    v.runHeldOpen = true;
    e.timerCallback();
    EXPECT_EQ (e.ownMeter.measureState, qvn_meter::MeasureState::Skipped) << "a run held open across a locked section";
    v.runHeldOpen = false;
    e.timerCallback();
    EXPECT_EQ (e.ownMeter.measureState, qvn_meter::MeasureState::Normal);

    // A frozen shown section with both levels tints the value header.
    v.committedSection = 4;
    v.sections[4].frozen = true;
    v.sections[4].selfLufs = -20.0f;
    v.sections[4].partnerLufs = -18.0f;
    e.timerCallback();
    EXPECT_EQ (e.shownSection, 4);
    EXPECT_EQ (e.ownMeter.markerColour.getARGB(), 0xffe0922fu);

    // A measurement-mode change made elsewhere refreshes the captions at the next tick.
    v.measMode = 1;
    e.timerCallback();
    EXPECT_EQ (e.railModeButton.getButtonText(), "K-weighted RMS");
    EXPECT_EQ (e.ownMeter.integratedLufs, -120.0f);
}
