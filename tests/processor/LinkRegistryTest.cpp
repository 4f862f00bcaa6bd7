#include "ProcessorTestUtils.h"

using namespace qvn::test;

namespace
{
using LinkTest = ProcessorTest;

int vocalNumber (QuorvaneProcessor& p) { return p.ownSlot->vocalNumber.load(); }

/** True when a measurement of the processor's slot was cancelled since the
    given stop count: the counter moved onto the cancel marker. */
bool wasCancelled (QuorvaneProcessor& p, int stopBefore)
{
    const auto stop = p.ownSlot->stopCounter.load();
    return stop != stopBefore && p.ownSlot->cancelMarker.load() == stop;
}

void rebuild()
{
    auto& r = LinkRegistry::get();
    const std::lock_guard<std::mutex> lock (r.mutex);
    r.rebuildLinks();
}
} // namespace

TEST_F (LinkTest, ConstructionRegistersAndDestructionUnregisters)
{
    auto& r = LinkRegistry::get();
    const auto before = r.instances.size();
    {
        QuorvaneProcessor a, b;
        EXPECT_EQ (r.instances.size(), before + 2);
        EXPECT_EQ (r.instances[before], &a);
        EXPECT_EQ (r.instances[before + 1], &b);
        EXPECT_FALSE (a.hasPartner.load());
        EXPECT_TRUE (partnersOf (a).empty());
    }
    EXPECT_EQ (r.instances.size(), before);
}

TEST_F (LinkTest, InstAndVocalsPartnerListsAndNumbers)
{
    QuorvaneProcessor v1, inst, v2, v3, none;
    setRole (v1, 2);
    setRole (inst, 1);
    setRole (v2, 2);
    setRole (v3, 2);

    EXPECT_EQ (LinkRegistry::get().inst, &inst);
    EXPECT_EQ (partnersOf (inst), (std::vector<std::shared_ptr<LinkSlot>> { v1.ownSlot, v2.ownSlot, v3.ownSlot }));
    EXPECT_EQ (inst.partnerCount.load(), 3);
    EXPECT_TRUE (inst.hasPartner.load());
    EXPECT_TRUE (otherVocalsOf (inst).empty());
    EXPECT_EQ (vocalNumber (inst), 0);

    for (auto* v : { &v1, &v2, &v3 })
    {
        EXPECT_EQ (partnersOf (*v), (std::vector<std::shared_ptr<LinkSlot>> { inst.ownSlot }));
        EXPECT_EQ (v->partnerCount.load(), 1);
        EXPECT_FALSE (v->roleConflict.load());
    }

    EXPECT_EQ (vocalNumber (v1), 1);
    EXPECT_EQ (vocalNumber (v2), 2);
    EXPECT_EQ (vocalNumber (v3), 3);
    EXPECT_EQ (otherVocalsOf (v2), (std::vector<std::shared_ptr<LinkSlot>> { v1.ownSlot, v3.ownSlot }));
    EXPECT_EQ (otherVocalsOf (v1), (std::vector<std::shared_ptr<LinkSlot>> { v2.ownSlot, v3.ownSlot }));

    EXPECT_TRUE (partnersOf (none).empty());
    EXPECT_TRUE (otherVocalsOf (none).empty());
    EXPECT_EQ (vocalNumber (none), 0);
    EXPECT_FALSE (none.hasPartner.load());
}

TEST_F (LinkTest, DestroyingAVocalRenumbersAndCancelsEverywhere)
{
    QuorvaneProcessor inst;
    auto v1 = std::make_unique<QuorvaneProcessor>();
    QuorvaneProcessor v2, v3, none;
    setRole (inst, 1);
    setRole (*v1, 2);
    setRole (v2, 2);
    setRole (v3, 2);
    ASSERT_EQ (vocalNumber (v3), 3);

    markMeasuring (v2, 5);
    markMeasuring (none, 1);
    const auto stopV2 = v2.ownSlot->stopCounter.load();
    const auto stopNone = none.ownSlot->stopCounter.load();
    const auto instGen = inst.partnerGeneration.load();
    const std::weak_ptr<LinkSlot> v1Slot = v1->ownSlot;

    v1.reset();
    EXPECT_EQ (vocalNumber (v2), 1);
    EXPECT_EQ (vocalNumber (v3), 2);
    EXPECT_TRUE (wasCancelled (v2, stopV2));
    EXPECT_TRUE (wasCancelled (none, stopNone)); // every registered instance, role or not
    EXPECT_NE (inst.partnerGeneration.load(), instGen);
    EXPECT_EQ (partnersOf (inst), (std::vector<std::shared_ptr<LinkSlot>> { v2.ownSlot, v3.ownSlot }));
    EXPECT_EQ (otherVocalsOf (v2), (std::vector<std::shared_ptr<LinkSlot>> { v3.ownSlot }));
    EXPECT_TRUE (v1Slot.expired()); // nobody holds the slot of a destroyed instance

    // A role change out of the Vocal set relinks the same way.
    const auto stopV3 = v3.ownSlot->stopCounter.load();
    markMeasuring (v3, 2);
    setRole (v2, 0);
    EXPECT_TRUE (wasCancelled (v3, stopV3));
    EXPECT_EQ (vocalNumber (v3), 1);
    EXPECT_EQ (vocalNumber (v2), 0);
    EXPECT_TRUE (partnersOf (v2).empty());
    EXPECT_FALSE (v2.hasPartner.load());
    EXPECT_EQ (partnersOf (inst), (std::vector<std::shared_ptr<LinkSlot>> { v3.ownSlot }));
    EXPECT_TRUE (otherVocalsOf (v3).empty());
}

TEST_F (LinkTest, LinkedInstKeepsTheRoleOverAnEarlierRegisteredOne)
{
    QuorvaneProcessor early, late, vocal;
    setRole (late, 1);
    setRole (vocal, 2);
    setRole (early, 1);

    EXPECT_EQ (LinkRegistry::get().inst, &late);
    EXPECT_TRUE (early.roleConflict.load());
    EXPECT_FALSE (late.roleConflict.load());
    EXPECT_TRUE (partnersOf (early).empty());
    EXPECT_TRUE (otherVocalsOf (early).empty());
    EXPECT_EQ (vocalNumber (early), 0);
    EXPECT_EQ (partnersOf (vocal), (std::vector<std::shared_ptr<LinkSlot>> { late.ownSlot }));

    // Removing the Inst hands the role to the remaining Inst-role instance and
    // cancels section measurements everywhere.
    markMeasuring (vocal, 0);
    const auto stop = vocal.ownSlot->stopCounter.load();
    setRole (late, 0);
    EXPECT_EQ (LinkRegistry::get().inst, &early);
    EXPECT_FALSE (early.roleConflict.load());
    EXPECT_EQ (partnersOf (vocal), (std::vector<std::shared_ptr<LinkSlot>> { early.ownSlot }));
    EXPECT_TRUE (wasCancelled (vocal, stop));
}

TEST_F (LinkTest, WithoutAKeptInstTheEarlierRegisteredWins)
{
    QuorvaneProcessor a, b;
    // Both become Inst before a rebuild runs.
    setParam (a, ids::role, 1.0f);
    setParam (b, ids::role, 1.0f);
    rebuild();
    EXPECT_EQ (LinkRegistry::get().inst, &a);
    EXPECT_TRUE (b.roleConflict.load());
}

TEST_F (LinkTest, DestroyingTheInstPromotesTheNextAndCancels)
{
    QuorvaneProcessor vocal;
    auto first = std::make_unique<QuorvaneProcessor>();
    QuorvaneProcessor second;
    setRole (*first, 1);
    setRole (second, 1);
    setRole (vocal, 2);
    EXPECT_TRUE (second.roleConflict.load());

    markMeasuring (vocal, 3);
    const auto stop = vocal.ownSlot->stopCounter.load();
    first.reset();
    EXPECT_EQ (LinkRegistry::get().inst, &second);
    EXPECT_FALSE (second.roleConflict.load());
    EXPECT_EQ (partnersOf (second), (std::vector<std::shared_ptr<LinkSlot>> { vocal.ownSlot }));
    EXPECT_TRUE (wasCancelled (vocal, stop));
}

TEST_F (LinkTest, UnchangedRebuildCancelsNothingAndKeepsGenerationsButAlignsSettings)
{
    QuorvaneProcessor inst, vocal;
    setRole (inst, 1);
    setRole (vocal, 2);

    const auto genInst = inst.partnerGeneration.load();
    const auto genVocal = vocal.partnerGeneration.load();
    markMeasuring (vocal, 2);
    const auto stop = vocal.ownSlot->stopCounter.load();

    // Within 0.001 s counts as equal: nothing cancelled, the Inst's value applied.
    vocal.rmsTimeSec.store (3.0005f);
    rebuild();
    EXPECT_EQ (vocal.ownSlot->stopCounter.load(), stop);
    EXPECT_TRUE (vocal.ownSlot->ownSections[2].measuring.load());
    EXPECT_EQ (inst.partnerGeneration.load(), genInst);
    EXPECT_EQ (vocal.partnerGeneration.load(), genVocal);
    EXPECT_FLOAT_EQ (vocal.rmsTimeSec.load(), 3.0f);
}

TEST_F (LinkTest, DifferingSettingsCancelEveryActiveInstanceThenAlign)
{
    struct Case { const char* what; std::function<void (QuorvaneProcessor&)> change; };
    const Case cases[] = {
        { "rms time 0.01 s off", [] (QuorvaneProcessor& v) { v.rmsTimeSec.store (3.01f); } },
        { "other generation", [] (QuorvaneProcessor& v) { v.customSettingsGeneration.store (7); } },
        { "other weighting", [] (QuorvaneProcessor& v) { const std::lock_guard<std::mutex> l (v.settingsMutex); v.customSettings.slots[3].enabled = true; } },
        { "other mode", [] (QuorvaneProcessor& v) { v.measMode.store (2); } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        QuorvaneProcessor inst, vocal, idle;
        inst.rmsTimeSec.store (5.0f);
        inst.measMode.store (1);
        setRole (inst, 1);
        setRole (vocal, 2);
        ASSERT_FLOAT_EQ (vocal.rmsTimeSec.load(), 5.0f);
        ASSERT_EQ (vocal.measMode.load(), 1);

        c.change (vocal);
        markMeasuring (inst, 4);
        markMeasuring (idle, 4);
        const auto stopInst = inst.ownSlot->stopCounter.load();
        const auto stopIdle = idle.ownSlot->stopCounter.load();
        idle.rmsTimeSec.store (9.0f);

        rebuild();
        EXPECT_TRUE (wasCancelled (inst, stopInst));
        EXPECT_FALSE (inst.ownSlot->ownSections[4].measuring.load());
        // An instance without a role is not part of the alignment.
        EXPECT_EQ (idle.ownSlot->stopCounter.load(), stopIdle);
        EXPECT_FLOAT_EQ (idle.rmsTimeSec.load(), 9.0f);

        EXPECT_FLOAT_EQ (vocal.rmsTimeSec.load(), 5.0f);
        EXPECT_EQ (vocal.measMode.load(), 1);
        EXPECT_EQ (vocal.customSettingsGeneration.load(), 1u);
        const std::lock_guard<std::mutex> l (vocal.settingsMutex);
        EXPECT_EQ (vocal.customSettings, CustomWeightedRmsSettings {});
    }
}

TEST_F (LinkTest, FirstVocalIsTheReferenceWithoutAnInst)
{
    QuorvaneProcessor v1, v2;
    v1.rmsTimeSec.store (7.5f);
    v2.rmsTimeSec.store (1.0f);
    setRole (v1, 2);
    setRole (v2, 2);
    EXPECT_FLOAT_EQ (v2.rmsTimeSec.load(), 7.5f);
    EXPECT_FLOAT_EQ (v1.rmsTimeSec.load(), 7.5f);
    EXPECT_TRUE (partnersOf (v1).empty());
    EXPECT_EQ (otherVocalsOf (v1), (std::vector<std::shared_ptr<LinkSlot>> { v2.ownSlot }));
}

TEST_F (LinkTest, ConflictingInstIsLeftOutOfAlignmentAndBroadcasts)
{
    QuorvaneProcessor inst, extra, vocal;
    setRole (inst, 1);
    setRole (extra, 1);
    setRole (vocal, 2);
    extra.rmsTimeSec.store (8.0f);
    rebuild();
    EXPECT_FLOAT_EQ (extra.rmsTimeSec.load(), 8.0f);

    auto& r = LinkRegistry::get();
    r.broadcastMeasurementSettings (&inst, 1, 4.0f);
    EXPECT_FLOAT_EQ (vocal.rmsTimeSec.load(), 4.0f);
    EXPECT_EQ (vocal.measMode.load(), 1);
    EXPECT_FLOAT_EQ (extra.rmsTimeSec.load(), 8.0f);
    EXPECT_FLOAT_EQ (inst.rmsTimeSec.load(), 3.0f); // the sender applies its own

    // Inactive or null senders do nothing.
    r.broadcastMeasurementSettings (&extra, 0, 2.0f);
    r.broadcastMeasurementSettings (nullptr, 0, 2.0f);
    EXPECT_FLOAT_EQ (vocal.rmsTimeSec.load(), 4.0f);

    CustomWeightedRmsSettings w;
    w.slots[2].enabled = true;
    w.slots[2].gainDb = 3.0;
    r.broadcastCustomWeightedRmsSettings (&vocal, w, 6.0f, 42);
    EXPECT_EQ (inst.customSettingsGeneration.load(), 42u);
    EXPECT_FLOAT_EQ (inst.rmsTimeSec.load(), 6.0f);
    EXPECT_EQ (extra.customSettingsGeneration.load(), 1u);
    EXPECT_EQ (vocal.customSettingsGeneration.load(), 1u);
}

TEST_F (LinkTest, SettingsCancelAndMeasurementActivity)
{
    QuorvaneProcessor inst, vocal, idle;
    setRole (inst, 1);
    setRole (vocal, 2);
    auto& r = LinkRegistry::get();

    EXPECT_FALSE (r.anyMeasurementActive());
    inst.instMeasuring.store (true); // an INST run does not count
    EXPECT_FALSE (r.anyMeasurementActive());
    markMeasuring (idle, 0);          // neither does an instance without a role
    EXPECT_FALSE (r.anyMeasurementActive());
    vocal.runHeldOpen.store (true);
    EXPECT_TRUE (r.anyMeasurementActive());
    vocal.runHeldOpen.store (false);
    markMeasuring (vocal, 9);
    EXPECT_TRUE (r.anyMeasurementActive());

    const auto stop = vocal.ownSlot->stopCounter.load();
    vocal.armedSectionStart.store (true);
    r.cancelMeasurementsForSettingsChange();
    EXPECT_TRUE (wasCancelled (vocal, stop));
    EXPECT_FALSE (vocal.armedSectionStart.load());
    EXPECT_FALSE (r.anyMeasurementActive());
    EXPECT_TRUE (idle.ownSlot->ownSections[0].measuring.load());
    EXPECT_TRUE (inst.instMeasuring.load());
}

TEST_F (LinkTest, CancelWithNothingRunningOnlyMarks)
{
    QuorvaneProcessor p;
    p.ownSlot->stopCounter.store (5);
    p.deferredSectionIndex.store (3);
    p.deferredInstStart.store (true);
    p.ownSlot->instSections[2].done.store (true);
    p.cancelActiveMeasurementsForSettingsChange();
    EXPECT_EQ (p.ownSlot->stopCounter.load(), 5);
    EXPECT_EQ (p.ownSlot->cancelMarker.load(), 5);
    EXPECT_EQ (p.deferredSectionIndex.load(), -1);
    EXPECT_FALSE (p.deferredInstStart.load());
    EXPECT_FALSE (p.ownSlot->instSections[2].done.load());
}

TEST_F (LinkTest, RoleChangeOnTheAudioThreadNeverWaitsForTheRegistry)
{
    QuorvaneProcessor p;
    p.prepareToPlay (48000.0, 256);
    juce::AudioBuffer<float> buffer (2, 256);
    juce::MidiBuffer midi;
    auto& r = LinkRegistry::get();

    std::unique_lock<std::mutex> held (r.mutex);
    std::atomic<bool> finished { false };
    std::thread audio ([&]
    {
        auto* role = p.parameters.getParameter (ids::role);
        role->setValueNotifyingHost (role->convertTo0to1 (2.0f));
        p.processBlock (buffer, midi);
        finished = true;
    });

    for (int i = 0; i < 500 && ! finished; ++i)
        std::this_thread::sleep_for (std::chrono::milliseconds (2));

    const bool finishedWhileHeld = finished.load();
    held.unlock();
    audio.join();
    EXPECT_TRUE (finishedWhileHeld);
    EXPECT_EQ (p.ownSlot->role.load(), 2);
    EXPECT_TRUE (p.roleChangePending.load());

    p.handleUpdateNowIfNeeded();
    EXPECT_FALSE (p.roleChangePending.load());
    EXPECT_EQ (vocalNumber (p), 1);
}
