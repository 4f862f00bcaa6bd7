// Live values, display values and peaks of linked instances.

#include "GainTestUtils.h"

using namespace qvn::test;

namespace
{
class LiveMeters : public ProcessorTest
{
};

float decayDb (int n, double sr) { return 20.0f * std::log10 ((float) std::exp (-((double) n / sr) / 0.35)); }
} // namespace

TEST_F (LiveMeters, PeaksHoldAndDecay)
{
    DcRig rig (2);
    rig.block (false, {}, 0.5f);
    const auto peak = 20.0f * std::log10 (0.5f);
    EXPECT_NEAR (rig.p.vocalPeakLeftDb.load(), peak, 1.0e-4f);
    EXPECT_NEAR (rig.p.vocalPeakRightDb.load(), peak, 1.0e-4f);
    EXPECT_NEAR (rig.p.ownSlot->peakLeftDb.load(), peak, 1.0e-4f);

    // A silent block leaves the hold times the decay.
    rig.block (false, {}, 0.0f);
    EXPECT_NEAR (rig.p.vocalPeakLeftDb.load(), peak + decayDb (512, 48000.0), 1.0e-3f);

    // Long silence falls below 1e-7 and reads as no value.
    for (int i = 0; i < 700; ++i)
        rig.block (false, {}, 0.0f);
    EXPECT_EQ (rig.p.vocalPeakLeftDb.load(), -120.0f);

    // The peaks are those of the output, after the gain.
    DcRig quieter (2);
    setParam (quieter.p, QuorvaneProcessor::offsetParameterId (0), -6.0f);
    quieter.block (false, {}, 0.0f);
    quieter.block (false, {}, 0.5f);
    EXPECT_NEAR (quieter.p.vocalPeakLeftDb.load(), peak - 6.0f, 1.0e-3f);

    // Without a role no peak moves.
    DcRig none (0);
    none.block (false, {}, 0.5f);
    EXPECT_EQ (none.p.vocalPeakLeftDb.load(), -120.0f);
    EXPECT_EQ (none.p.instPeakLeftDb.load(), -120.0f);
}

TEST_F (LiveMeters, PeakResetClearsTheHeldPeaks)
{
    for (int role : { 1, 2 })
    {
        SCOPED_TRACE (role);
        DcRig rig (role);
        rig.block (false, {}, 0.5f);
        auto& shown = role == 2 ? rig.p.vocalPeakLeftDb : rig.p.instPeakLeftDb;
        ASSERT_GT (shown.load(), -7.0f);

        // What the editor's Shift-click on its own bar does.
        rig.p.ownSlot->meterResetCounter.fetch_add (1);
        for (auto* v : { &rig.p.vocalPeakLeftDb, &rig.p.vocalPeakRightDb, &rig.p.instPeakLeftDb, &rig.p.instPeakRightDb })
            v->store (-120.0f);

        rig.block (false, {}, 0.0f);
        EXPECT_EQ (shown.load(), -120.0f);
        EXPECT_EQ (rig.p.ownSlot->peakLeftDb.load(), -120.0f);
        EXPECT_EQ (rig.p.ownSlot->peakRightDb.load(), -120.0f);

        // New audio is held again from scratch.
        rig.block (false, {}, 0.25f);
        EXPECT_NEAR (shown.load(), 20.0f * std::log10 (0.25f), 1.0e-3f);
    }
}

TEST_F (LiveMeters, DisplayValuesOfVocalAndInst)
{
    Session s (1, 48000.0, 480);
    s.instLevelDb = -20.0f;
    s.vocalLevelDb = -26.0f;
    auto& v = s.vocal();
    auto& inst = *s.inst;
    setParam (v, QuorvaneProcessor::offsetParameterId (0), 2.0f);
    v.handleUpdateNowIfNeeded();
    s.run (s.blocksFor (3.5));

    const auto& vs = *v.ownSlot;
    const auto& is = *inst.ownSlot;

    // Live values: a steady 1 kHz sine reads the same on every window, and
    // the two tracks differ by their level difference.
    EXPECT_NEAR (vs.liveShortTerm.load(), vs.liveMomentary.load(), 0.05f);
    EXPECT_NEAR (vs.liveIntegrated.load(), vs.liveMomentary.load(), 0.05f);
    EXPECT_NEAR (vs.liveHistogram.load(), vs.liveMomentary.load(), 0.6f);
    EXPECT_NEAR (vs.liveKRms.load() - vs.liveShortTerm.load(), 0.691f, 0.05f); // RMS has no -0.691 offset
    EXPECT_NEAR (vs.liveCustomRms.load(), vs.liveKRms.load(), 0.1f);  // default weighting is K
    EXPECT_NEAR (is.liveShortTerm.load() - vs.liveShortTerm.load(), 6.0f, 0.05f);

    // Vocal: own values, post-gain values at its Offset Gain, INST values
    // from the Inst instance and the target level INST + Offset.
    EXPECT_NEAR (v.sectionGainDb, 2.0f, 1.0e-5f);
    EXPECT_EQ (v.meterVocalShortTerm.load(), vs.liveShortTerm.load());
    EXPECT_NEAR (v.meterVocalShortTermPostGain.load(), vs.liveShortTerm.load() + 2.0f, 1.0e-4f);
    EXPECT_NEAR (v.meterVocalMomentaryPostGain.load(), vs.liveMomentary.load() + 2.0f, 1.0e-4f);
    EXPECT_NEAR (v.meterVocalRmsPostGain.load(), vs.liveKRms.load() + 2.0f, 1.0e-4f);
    EXPECT_NEAR (v.meterVocalIntegratedPostGain.load(), vs.liveIntegrated.load() + 2.0f, 1.0e-4f);
    EXPECT_EQ (v.meterInstMomentary.load(), is.liveMomentary.load());
    EXPECT_EQ (v.meterInstIntegrated.load(), is.liveIntegrated.load());
    EXPECT_NEAR (v.meterTargetLevel.load(), is.liveIntegrated.load() + 2.0f, 1.0e-4f);
    EXPECT_EQ (vs.liveShortTermPostGain.load(), v.meterVocalShortTermPostGain.load());
    EXPECT_FALSE (vs.hasResult.load());
    EXPECT_NEAR (v.instPeakLeftDb.load(), -20.0f, 0.01f);
    EXPECT_NEAR (v.vocalPeakLeftDb.load(), -24.0f, 0.01f);

    // Inst: the reference Vocal's values on the Vocal side, its own on the
    // INST side, no post-gain values.
    EXPECT_EQ (inst.meterVocalShortTerm.load(), vs.liveShortTerm.load());
    EXPECT_EQ (inst.meterInstMomentary.load(), is.liveMomentary.load());
    EXPECT_EQ (inst.meterVocalShortTermPostGain.load(), -120.0f);
    EXPECT_EQ (inst.meterVocalIntegratedPostGain.load(), vs.liveIntegrated.load());
    EXPECT_EQ (inst.meterTargetLevel.load(), -120.0f);
    EXPECT_EQ (is.liveShortTermPostGain.load(), -120.0f);
    EXPECT_NEAR (inst.instPeakLeftDb.load(), -20.0f, 0.01f);

    // In Custom Weighted RMS mode the RMS displays show the custom values.
    v.measMode = 2;
    s.run (1);
    EXPECT_EQ (v.meterVocalRms.load(), vs.liveCustomRms.load());
    EXPECT_EQ (v.meterInstRms.load(), is.liveCustomRms.load());
}

TEST_F (LiveMeters, IntegratedRestartsWithTheSectionAndTheMeterReset)
{
    Session s (1, 48000.0, 480);
    auto& v = s.vocal();
    s.run (s.blocksFor (1.0));
    const auto integrated = v.ownSlot->liveIntegrated.load();
    ASSERT_GT (integrated, -60.0f);

    // A new section restarts the gated value; the histogram goes on.
    setParam (v, ids::section, 1.0f);
    s.run (s.blocksFor (0.2));
    EXPECT_EQ (v.ownSlot->liveIntegrated.load(), -120.0f);
    EXPECT_NEAR (v.ownSlot->liveHistogram.load(), integrated, 0.6f);
    // The Inst follows its reference Vocal's section.
    EXPECT_EQ (s.inst->ownSlot->liveIntegrated.load(), -120.0f);

    s.run (s.blocksFor (0.5));
    EXPECT_NEAR (v.ownSlot->liveIntegrated.load(), integrated, 0.05f);

    // A meter reset restarts the histogram too.
    v.ownSlot->meterResetCounter.fetch_add (1);
    s.run (1);
    EXPECT_EQ (v.ownSlot->liveHistogram.load(), -120.0f);
    EXPECT_EQ (v.ownSlot->liveIntegrated.load(), -120.0f);
}

TEST_F (LiveMeters, NoRoleShowsNoValues)
{
    DcRig rig (0);
    rig.blocks (50);
    EXPECT_EQ (rig.p.meterVocalShortTerm.load(), -120.0f);
    EXPECT_EQ (rig.p.meterInstMomentary.load(), -120.0f);
    EXPECT_EQ (rig.p.ownSlot->liveIntegrated.load(), -120.0f);
    // The live meters still run.
    EXPECT_GT (rig.p.ownSlot->liveShortTerm.load(), -119.0f);
}
