#include "ProcessorTestUtils.h"

#include <cmath>

using namespace qvn::test;

namespace
{
using ResultTest = ProcessorTest;

double energyOf (float lufs) { return std::pow (10.0, ((double) lufs + 0.691) / 10.0); }

/** A history of block energies from the loudness of each block. */
std::vector<double> levels (std::initializer_list<float> lufs)
{
    std::vector<double> out;
    for (auto l : lufs)
        out.push_back (energyOf (l));
    return out;
}

std::vector<double> levels (size_t blocks, float lufs) { return std::vector<double> (blocks, energyOf (lufs)); }

/** Stores a finished result's histories and recomputes it, as the pickup does. */
bool recompute (QuorvaneProcessor& p, int i)
{
    const std::lock_guard<std::mutex> lock (p.analysisMutex);
    return p.recomputeSectionFromTrim (i);
}

std::shared_ptr<const std::vector<CustomRmsFrame>> customFrames (size_t n, double energy, std::uint64_t generation)
{
    return std::make_shared<const std::vector<CustomRmsFrame>> (n, CustomRmsFrame { energy, 4800, generation });
}

std::shared_ptr<const std::vector<AnalysisFrame>> kFrames (size_t n, double energy)
{
    return std::make_shared<const std::vector<AnalysisFrame>> (n, AnalysisFrame { energy, 4800 });
}
} // namespace

TEST_F (ResultTest, TrimIsOrderedClampedAndWidenedToOneBlock)
{
    struct Case { float start, end, lo, hi; };
    const Case cases[] = {
        { 0.95f, 0.95f, 0.9f, 1.0f },
        { 0.7f, 0.3f, 0.3f, 0.7f },
        { -0.5f, 1.5f, 0.0f, 1.0f },
        { 0.0f, 0.0f, 0.0f, 0.1f },
    };

    for (const auto& c : cases)
    {
        QuorvaneProcessor p;
        auto& s = p.sections[0];
        s.selfHistory = levels (10, -20.0f);
        s.partnerHistory = levels (10, -14.0f);
        s.trimStart = c.start;
        s.trimEnd = c.end;
        ASSERT_TRUE (recompute (p, 0));
        EXPECT_NEAR (s.trimStart.load(), c.lo, 1.0e-6f) << c.start << ".." << c.end;
        EXPECT_NEAR (s.trimEnd.load(), c.hi, 1.0e-6f) << c.start << ".." << c.end;
    }
}

TEST_F (ResultTest, LevelsAndGainComeFromTheHistories)
{
    struct Case
    {
        const char* what;
        int section;
        float offsetDb;
        std::vector<double> self, partner;
        size_t kept;
        float selfLufs, partnerLufs, gainDb, tolerance;
    };

    const Case cases[] = {
        { "histories are cut to the shorter one", 3, -2.0f, levels (12, -20.0f), levels (10, -14.0f), 10, -20.0f, -14.0f, 4.0f, 1.0e-3f },
        // Vocal: 4 loud blocks, 2 blocks 15 LU lower (fail the relative gate)
        // and 2 silent blocks (fail the absolute gate). The instrumental is
        // much louder in the blocks the vocal does not pass: they must not count.
        { "the Inst level counts only blocks where the Vocal passes the gates", 0, 0.0f,
          levels ({ -20, -20, -35, -20, -80, -35, -20, -80 }), levels ({ -14, -14, -3, -14, -3, -3, -14, -3 }), 8, -20.0f, -14.0f, 6.0f, 1.0e-3f },
        { "a silent Vocal gives no levels and no gain but a result", 0, 0.0f, levels (6, -75.0f), levels (6, -14.0f), 6, -120.0f, -120.0f, 0.0f, 0.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        QuorvaneProcessor p;
        auto& s = p.sections[(size_t) c.section];
        s.selfHistory = c.self;
        s.partnerHistory = c.partner;
        setParam (p, "offset_" + juce::String::charToString ((juce::juce_wchar) ('A' + c.section)), c.offsetDb);
        ASSERT_TRUE (recompute (p, c.section));
        EXPECT_TRUE (s.frozen.load());
        EXPECT_EQ (s.selfHistory.size(), c.kept);
        EXPECT_EQ (s.partnerHistory.size(), c.kept);
        EXPECT_NEAR (s.selfLufs.load(), c.selfLufs, c.tolerance);
        EXPECT_NEAR (s.partnerLufs.load(), c.partnerLufs, c.tolerance);
        EXPECT_NEAR (s.gainDb.load(), c.gainDb, c.tolerance);
    }
}

TEST_F (ResultTest, LengthOfTheKeptRange)
{
    struct Case { float analysis; float expected; };
    const Case cases[] = { { 0.0f, 1.1f }, { 0.9f, 0.9f }, { 0.04f, 1.1f } };

    for (const auto& c : cases)
    {
        QuorvaneProcessor p;
        auto& s = p.sections[0];
        s.selfHistory = levels (8, -20.0f);
        s.partnerHistory = levels (8, -14.0f);
        s.analysisSeconds = c.analysis;
        ASSERT_TRUE (recompute (p, 0));
        EXPECT_NEAR (s.seconds.load(), c.expected, 1.0e-5f) << c.analysis;
    }
}

TEST_F (ResultTest, CustomModeLengthCountsFrames)
{
    QuorvaneProcessor p;
    p.measMode = 2;
    auto& s = p.sections[0];
    s.customSelfFrames = customFrames (100, 4800 * 1.0e-3, 1);
    s.customPartnerFrames = customFrames (100, 4800 * 4.0e-3, 1);
    s.analysisSeconds = 10.0f;
    s.trimStart = 0.0f;
    s.trimEnd = 0.5f;
    ASSERT_TRUE (recompute (p, 0));
    // 50 frames of 100 ms each are 5 s of audio.
    EXPECT_NEAR (s.seconds.load(), 5.0f, 1.0e-4f);
    EXPECT_NEAR (s.gainDb.load(), 10.0f * std::log10 (4.0f), 1.0e-3f);

    s.trimEnd = 1.0f;
    ASSERT_TRUE (recompute (p, 0));
    EXPECT_NEAR (s.seconds.load(), 10.0f, 1.0e-4f);
}

TEST_F (ResultTest, StaleCustomFramesNeedARemeasure)
{
    QuorvaneProcessor p;
    p.measMode = 2;
    auto& s = p.sections[0];
    s.frozen = true;
    s.gainDb = 3.0f;
    s.selfLufs = -20.0f;
    s.customSelfFrames = customFrames (20, 1.0, 1);
    s.customPartnerFrames = customFrames (20, 2.0, 1);
    p.customSettingsGeneration = 2;

    EXPECT_TRUE (recompute (p, 0));
    EXPECT_TRUE (s.needsRemeasure.load());
    EXPECT_EQ (s.selfLufs.load(), -120.0f);
    EXPECT_EQ (s.gainDb.load(), 0.0f);
    EXPECT_TRUE (s.frozen.load());
    EXPECT_FALSE (p.getLearnHistorySnapshot (0).valid);
}

TEST_F (ResultTest, KRmsModeWithoutFramesKeepsTheResult)
{
    QuorvaneProcessor p;
    p.measMode = 1;
    auto& s = p.sections[0];
    s.frozen = true;
    s.gainDb = 3.0f;
    s.selfLufs = -20.0f;
    s.partnerLufs = -17.0f;
    s.seconds = 4.0f;
    s.selfHistory = levels (10, -20.0f);
    s.partnerHistory = levels (10, -17.0f);

    EXPECT_TRUE (recompute (p, 0));
    EXPECT_TRUE (s.needsRemeasure.load());
    EXPECT_EQ (s.gainDb.load(), 3.0f);
    EXPECT_EQ (s.seconds.load(), 4.0f);

    // With frames the K-weighted RMS levels are used.
    s.selfFrames = kFrames (40, 4800 * 1.0e-3);
    s.partnerFrames = kFrames (40, 4800 * 2.0e-3);
    EXPECT_TRUE (recompute (p, 0));
    EXPECT_FALSE (s.needsRemeasure.load());
    EXPECT_NEAR (s.selfLufs.load(), -30.0f, 1.0e-3f);
    EXPECT_NEAR (s.gainDb.load(), 10.0f * std::log10 (2.0f), 1.0e-3f);
    const auto snap = p.getLearnHistorySnapshot (0);
    EXPECT_TRUE (snap.valid);
    EXPECT_EQ (snap.selfSeries.size(), 40u);
}

TEST_F (ResultTest, OutOfRangeSectionsAndEmptyData)
{
    QuorvaneProcessor p;
    EXPECT_FALSE (recompute (p, -1));
    EXPECT_FALSE (recompute (p, 16));
    EXPECT_FALSE (recompute (p, 0)); // no blocks
    EXPECT_FALSE (p.sections[0].frozen.load());
    EXPECT_FALSE (p.getLearnHistorySnapshot (16).valid);
    EXPECT_FALSE (p.getLearnHistorySnapshot (0).valid);
    EXPECT_FALSE (p.getInstLearnHistorySnapshot().valid);
    p.resetSectionAnalysis (-1, true);
    p.resetSectionMeasurementNoUndo (99);
}

TEST_F (ResultTest, LinkGroupOfAllSections)
{
    QuorvaneProcessor p;
    p.sections[2].locked = true;
    p.sections[2].linkGroup = 1;

    p.setAllSectionLinkGroup (7);
    EXPECT_EQ (p.sections[0].linkGroup.load(), 3);
    EXPECT_EQ (p.sections[15].linkGroup.load(), 3);
    EXPECT_EQ (p.sections[2].linkGroup.load(), 1);
    EXPECT_EQ (p.undoStack.size(), 1u);

    p.setAllSectionLinkGroup (3);
    EXPECT_EQ (p.undoStack.size(), 1u); // nothing changes, no step

    p.setAllSectionLinkGroup (-1);
    EXPECT_EQ (p.sections[5].linkGroup.load(), 0);
    EXPECT_EQ (p.undoStack.size(), 2u);
    EXPECT_EQ (p.undoStack.back().sections[5].linkGroup.load(), 3); // the state before
}

TEST_F (ResultTest, LockedSectionIsNotReset)
{
    QuorvaneProcessor p;
    p.sections[1].locked = true;
    p.sections[1].frozen = true;
    p.sections[1].gainDb = 2.0f;
    p.resetSectionMeasurementNoUndo (1);
    EXPECT_TRUE (p.sections[1].frozen.load());
    EXPECT_EQ (p.sections[1].gainDb.load(), 2.0f);
}

TEST_F (ResultTest, SlotChangeTest)
{
    SectionSlot slot;
    EXPECT_FALSE (slotMeasurementWouldChange (slot));
    slot.elapsedSeconds = 0.5f;
    EXPECT_TRUE (slotMeasurementWouldChange (slot));
    clearSlotMeasurement (slot);
    EXPECT_FALSE (slotMeasurementWouldChange (slot));
    slot.history.store (std::make_shared<const SectionSlot::History>());
    EXPECT_TRUE (slotMeasurementWouldChange (slot));
    clearSlotMeasurement (slot);
    slot.measuring = true;
    EXPECT_TRUE (slotMeasurementWouldChange (slot));
}

TEST_F (ResultTest, InstFinalizeKeepsTheTrimAndGuardsAgainstAnEmptyRun)
{
    QuorvaneProcessor p;
    p.prepareToPlay (48000.0, 480);

    // A stop without any recorded block finishes nothing but is handled.
    p.instStopCounter = 1;
    p.finalizeInst();
    EXPECT_FALSE (p.instFrozen.load());
    EXPECT_EQ (p.instFinalizedStop.load(), 1);

    // An earlier history is measured again with the trim carried over.
    {
        const std::lock_guard<std::mutex> lock (p.analysisMutex);
        p.instHistory.assign (10, energyOf (-20.0f));
    }
    p.instTrimStart = 0.95f;
    p.instTrimEnd = 0.95f;
    p.instMatchGain = 5.0f;
    p.instStopCounter = 2;
    p.finalizeInst();
    EXPECT_TRUE (p.instFrozen.load());
    EXPECT_NEAR (p.instTrimStart.load(), 0.9f, 1.0e-6f);
    EXPECT_NEAR (p.instTrimEnd.load(), 1.0f, 1.0e-6f);
    EXPECT_NEAR (p.instMeasuredLufs.load(), -20.0f, 1.0e-3f);
    EXPECT_NEAR (p.instMatchGain.load(), 2.0f, 1.0e-3f);
}
