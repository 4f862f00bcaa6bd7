// Measurement mode, RMS time and custom weighting across linked instances.

#include "GainTestUtils.h"

using namespace qvn::test;

namespace
{
/** One Inst, two Vocals and one instance without a role (not active). */
class Settings : public ProcessorTest
{
protected:
    Settings()
    {
        idle.prepareToPlay (48000.0, 480);
        s.run (3); // the Inst instance joins measurements started from now on
    }

    std::vector<QuorvaneProcessor*> active() { return s.all(); }

    /** What the editor's measurement-mode menu does. */
    bool editorSetsMode (QuorvaneProcessor& p, int mode)
    {
        if (LinkRegistry::get().anyMeasurementActive())
            return false;

        p.applyMeasurementSettings (mode, p.rmsTimeSec.load());
        LinkRegistry::get().broadcastMeasurementSettings (&p, p.measMode.load(), p.rmsTimeSec.load());
        return true;
    }

    static CustomWeightedRmsSettings bell (double gainDb)
    {
        CustomWeightedRmsSettings w;
        w.slots[3].enabled = true;
        w.slots[3].type = (int32_t) CustomSlotType::Bell;
        w.slots[3].frequencyHz = 1000.0;
        w.slots[3].gainDb = gainDb;
        w.slots[3].q = 1.0;
        return w;
    }

    static CustomWeightedRmsSettings weightingOf (QuorvaneProcessor& p)
    {
        const std::lock_guard<std::mutex> lock (p.settingsMutex);
        return p.customSettings;
    }

    QuorvaneProcessor idle;
    Session s { 2 };
};
} // namespace

TEST_F (Settings, ModeChangeIsRefusedWhileASectionMeasuresAnywhere)
{
    auto& measuring = s.vocal (1);
    startMeasuring (measuring, 0);
    s.run (2);

    EXPECT_TRUE (LinkRegistry::get().anyMeasurementActive());
    EXPECT_FALSE (editorSetsMode (s.vocal (0), 1));

    // The measuring instance refuses by itself too; its RMS time still applies.
    measuring.applyMeasurementSettings (1, 4.0f);
    EXPECT_EQ (measuring.measMode.load(), 0);
    EXPECT_FLOAT_EQ (measuring.rmsTimeSec.load(), 4.0f);
    measuring.applyMeasurementSettings (0, 3.0f);

    // A run held open across a locked section counts as measuring.
    stopMeasuring (measuring);
    s.run (3);
    EXPECT_FALSE (LinkRegistry::get().anyMeasurementActive());
    s.vocal (0).runHeldOpen = true;
    EXPECT_TRUE (LinkRegistry::get().anyMeasurementActive());
    s.vocal (0).runHeldOpen = false;

    ASSERT_TRUE (editorSetsMode (s.vocal (0), 1));

    for (auto* p : active())
        EXPECT_EQ (p->measMode.load(), 1);

    EXPECT_EQ (idle.measMode.load(), 0);
}

TEST_F (Settings, RmsTimeChangeCancelsEverywhereAndReachesEveryActiveInstance)
{
    setParam (s.vocal (1), ids::section, 2.0f);
    s.run (s.blocksFor (0.2));
    startMeasuring (s.vocal (1), 2);
    s.run (s.blocksFor (1.0));
    ASSERT_GT (s.vocal (1).ownSlot->instSections[2].elapsedSeconds.load(), 0.5f);
    const auto undoSteps = s.vocal (0).undoStack.size();

    s.vocal (0).setRmsTimeSecFromUi (5.0f);

    EXPECT_EQ (s.vocal (0).undoStack.size(), undoSteps + 1);
    EXPECT_FALSE (s.vocal (1).ownSlot->ownSections[2].measuring.load());

    for (auto* p : active())
        EXPECT_FLOAT_EQ (p->rmsTimeSec.load(), 5.0f);

    EXPECT_FLOAT_EQ (idle.rmsTimeSec.load(), 3.0f);

    // Neither side publishes what it measured under the old time.
    s.run (5);
    auto& slot = *s.vocal (1).ownSlot;
    EXPECT_FALSE (slot.ownSections[2].done.load());
    EXPECT_FALSE (slot.instSections[2].done.load());
    EXPECT_FALSE (slot.instSections[2].measuring.load());
    EXPECT_FALSE (s.vocal (1).sections[2].frozen.load());
}

TEST_F (Settings, WeightingChangeCancelsEverywhereAndReachesEveryActiveInstance)
{
    startMeasuring (s.vocal (0), 0);
    s.run (s.blocksFor (0.5));
    const auto undoSteps = s.inst->undoStack.size();

    s.inst->setCustomWeightedRmsSettingsFromUi (bell (6.0), 2.0f);

    EXPECT_EQ (s.inst->undoStack.size(), undoSteps + 1);
    EXPECT_FALSE (s.vocal (0).ownSlot->ownSections[0].measuring.load());

    auto expected = bell (6.0);
    expected.normalize();

    for (auto* p : active())
    {
        EXPECT_EQ (p->customSettingsGeneration.load(), 2u);
        EXPECT_EQ (weightingOf (*p), expected);
        EXPECT_FLOAT_EQ (p->rmsTimeSec.load(), 2.0f);
    }

    EXPECT_EQ (idle.customSettingsGeneration.load(), 1u);
    EXPECT_EQ (weightingOf (idle), CustomWeightedRmsSettings {});

    s.run (3);
    EXPECT_FALSE (s.vocal (0).ownSlot->instSections[0].done.load());
}

TEST_F (Settings, UnchangedValuesDoNothing)
{
    auto& v = s.vocal (0);
    startMeasuring (v, 0);
    s.run (2);

    const auto undoSteps = v.undoStack.size();
    const auto stops = v.ownSlot->stopCounter.load();
    const auto serial = v.customSettingsSerial.load();

    v.setRmsTimeSecFromUi (3.0005f);
    v.setCustomWeightedRmsSettingsFromUi (CustomWeightedRmsSettings {}, 3.0f);
    v.applyCustomWeightedRmsSettings (CustomWeightedRmsSettings {}, 3.0f, 1);

    EXPECT_EQ (v.undoStack.size(), undoSteps);
    EXPECT_EQ (v.ownSlot->stopCounter.load(), stops);
    EXPECT_TRUE (v.ownSlot->ownSections[0].measuring.load());
    EXPECT_EQ (v.customSettingsSerial.load(), serial);
    EXPECT_FLOAT_EQ (v.rmsTimeSec.load(), 3.0f);

    // The same weighting with another time is an RMS time change: the
    // generation stays.
    v.setCustomWeightedRmsSettingsFromUi (CustomWeightedRmsSettings {}, 6.0f);
    EXPECT_EQ (v.undoStack.size(), undoSteps + 1);
    EXPECT_FALSE (v.ownSlot->ownSections[0].measuring.load());
    for (auto* p : active())
    {
        EXPECT_EQ (p->customSettingsGeneration.load(), 1u);
        EXPECT_FLOAT_EQ (p->rmsTimeSec.load(), 6.0f);
    }
}

TEST_F (Settings, RmsTimeIsClampedAndADragRecordsOneStep)
{
    auto& v = s.vocal (0);
    const auto base = v.undoStack.size();

    v.setRmsTimeSecFromUi (0.2f);
    EXPECT_FLOAT_EQ (v.rmsTimeSec.load(), 0.5f);
    v.setRmsTimeSecFromUi (12.0f);
    EXPECT_FLOAT_EQ (v.rmsTimeSec.load(), 10.0f);
    v.setRmsTimeSecFromUi (std::numeric_limits<float>::quiet_NaN());
    EXPECT_FLOAT_EQ (v.rmsTimeSec.load(), 3.0f);
    EXPECT_EQ (v.undoStack.size(), base + 3);

    v.rmsTimeDragActive = true;
    v.rmsTimeDragUndoPending = true;
    for (int i = 0; i < 20; ++i)
        v.setRmsTimeSecFromUi (1.0f + 0.2f * (float) i);
    v.rmsTimeDragActive = false;
    v.rmsTimeDragUndoPending = false;

    EXPECT_EQ (v.undoStack.size(), base + 4);
    EXPECT_FLOAT_EQ (s.inst->rmsTimeSec.load(), 4.8f);
}

TEST_F (Settings, NewWeightingRetiresCustomResults)
{
    auto& v = s.vocal (0);
    startMeasuring (v, 0);
    s.run (s.blocksFor (1.0));
    stopMeasuring (v);
    s.run (3);
    ASSERT_TRUE (v.sections[0].frozen.load());
    ASSERT_TRUE (v.hasAnyCustomMeasurementResults());
    const auto gain = v.sections[0].gainDb.load();

    // LUFS mode: only the Custom RMS lists go.
    v.setCustomWeightedRmsSettingsFromUi (bell (3.0), 3.0f);
    EXPECT_FALSE (v.hasAnyCustomMeasurementResults());
    EXPECT_EQ (v.sections[0].gainDb.load(), gain);
    EXPECT_FALSE (v.sections[0].needsRemeasure.load());

    // Custom Weighted RMS mode: the result needs a new measurement.
    setParam (v, ids::section, 1.0f);
    s.run (s.blocksFor (0.2));
    startMeasuring (v, 1);
    s.run (s.blocksFor (1.0));
    stopMeasuring (v);
    s.run (3);
    ASSERT_TRUE (v.sections[1].frozen.load());
    ASSERT_TRUE (editorSetsMode (v, 2));
    v.setCustomWeightedRmsSettingsFromUi (bell (-3.0), 3.0f);
    EXPECT_EQ (v.sections[1].selfLufs.load(), -120.0f);
    EXPECT_EQ (v.sections[1].gainDb.load(), 0.0f);
    EXPECT_TRUE (v.sections[1].needsRemeasure.load());
}

TEST_F (Settings, PartnerMetersFollowAWeightingThatReusesAGeneration)
{
    // Both tracks carry the same sine, so with equal weightings on both sides
    // the Custom RMS levels match and the gain is 0 dB.
    s.vocalLevelDb = -20.0f;
    s.instLevelDb = -20.0f;
    auto& v = s.vocal (0);
    ASSERT_TRUE (editorSetsMode (v, 2));

    v.setCustomWeightedRmsSettingsFromUi (bell (12.0), 3.0f);
    s.run (3);
    ASSERT_EQ (s.inst->customSettingsGeneration.load(), 2u);

    // An undo puts generation 1 back everywhere, and the next weighting from
    // the editor takes generation 2 again, all before the audio threads run.
    v.applyCustomWeightedRmsSettings (CustomWeightedRmsSettings {}, 3.0f, 1);
    LinkRegistry::get().broadcastCustomWeightedRmsSettings (&v, CustomWeightedRmsSettings {}, 3.0f, 1);
    v.setCustomWeightedRmsSettingsFromUi (bell (-12.0), 3.0f);
    ASSERT_EQ (s.inst->customSettingsGeneration.load(), 2u);
    s.run (3);

    startMeasuring (v, 0);
    s.run (s.blocksFor (2.0));
    stopMeasuring (v);
    s.run (3);

    ASSERT_TRUE (v.sections[0].frozen.load());
    EXPECT_FALSE (v.sections[0].needsRemeasure.load());
    EXPECT_NEAR (v.sections[0].gainDb.load(), 0.0f, 0.1f);
    EXPECT_NEAR (v.sections[0].selfLufs.load(), v.sections[0].partnerLufs.load(), 0.1f);
}
