#pragma once

#include "processor/PluginProcessor.h"
#include "processor/StateCodecs.h"

#include "../processor/ProcessorTestUtils.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <type_traits>

namespace qvn::test
{
using Snapshot = QuorvaneProcessor::UndoSnapshot;
using Section = QuorvaneProcessor::SectionState;

inline std::string blobOf (QuorvaneProcessor& p)
{
    juce::MemoryBlock block;
    p.getStateInformation (block);
    return std::string ((const char*) block.getData(), block.getSize());
}

inline void restore (QuorvaneProcessor& p, const std::string& blob)
{
    p.setStateInformation (blob.data(), (int) blob.size());
}

/** Frames XML text the way the framework's writer does: magic, length, text, NUL. */
inline std::string frame (const std::string& xml)
{
    std::string out (8, '\0');
    const auto put = [&out] (size_t at, std::uint32_t v)
    {
        for (int k = 0; k < 4; ++k)
            out[at + (size_t) k] = (char) ((v >> (8 * k)) & 0xff);
    };
    put (0, 0x21324356);
    put (4, (std::uint32_t) xml.size());
    out += xml;
    out.push_back ('\0');
    return out;
}

/** The XML text inside a blob written by the processor. */
inline std::string xmlOf (const std::string& blob)
{
    return blob.size() > 9 ? blob.substr (8, blob.size() - 9) : std::string();
}

template <typename Frame>
std::shared_ptr<const std::vector<Frame>> frameList (std::vector<Frame> frames)
{
    return std::make_shared<const std::vector<Frame>> (std::move (frames));
}

/** Both lists absent, or equal frame by frame in every field. */
template <typename Frame>
void expectFramesEqual (const std::shared_ptr<const std::vector<Frame>>& a,
                        const std::shared_ptr<const std::vector<Frame>>& b, const char* what)
{
    ASSERT_EQ (a == nullptr, b == nullptr) << what;

    if (a == nullptr)
        return;

    ASSERT_EQ (a->size(), b->size()) << what;

    for (size_t k = 0; k < a->size(); ++k)
    {
        EXPECT_EQ ((*a)[k].energy, (*b)[k].energy) << what << " " << k;
        EXPECT_EQ ((*a)[k].numSamples, (*b)[k].numSamples) << what << " " << k;

        if constexpr (std::is_same_v<Frame, CustomRmsFrame>)
            EXPECT_EQ ((*a)[k].generation, (*b)[k].generation) << what << " " << k;
    }
}

/** Every stored field of a section; needsRemeasure is derived on loading and
    compared only when asked. */
inline void expectSectionsEqual (const Section& a, const Section& b, int index, bool withRemeasure = true)
{
    SCOPED_TRACE ("section " + std::to_string (index));
    EXPECT_EQ (a.frozen.load(), b.frozen.load());
    EXPECT_EQ (a.selfLufs.load(), b.selfLufs.load());
    EXPECT_EQ (a.partnerLufs.load(), b.partnerLufs.load());
    EXPECT_EQ (a.gainDb.load(), b.gainDb.load());
    EXPECT_EQ (a.seconds.load(), b.seconds.load());
    EXPECT_EQ (a.analysisSeconds.load(), b.analysisSeconds.load());
    EXPECT_EQ (a.trimStart.load(), b.trimStart.load());
    EXPECT_EQ (a.trimEnd.load(), b.trimEnd.load());
    EXPECT_EQ (a.selfHistory, b.selfHistory);
    EXPECT_EQ (a.partnerHistory, b.partnerHistory);
    expectFramesEqual (a.selfFrames, b.selfFrames, "selfFrames");
    expectFramesEqual (a.partnerFrames, b.partnerFrames, "partnerFrames");
    expectFramesEqual (a.customSelfFrames, b.customSelfFrames, "customSelfFrames");
    expectFramesEqual (a.customPartnerFrames, b.customPartnerFrames, "customPartnerFrames");

    if (withRemeasure)
        EXPECT_EQ (a.needsRemeasure.load(), b.needsRemeasure.load());

    EXPECT_EQ (a.bypass.load(), b.bypass.load());
    EXPECT_EQ (a.locked.load(), b.locked.load());
    EXPECT_EQ (a.linkGroup.load(), b.linkGroup.load());
}

inline void expectSnapshotsEqual (const Snapshot& a, const Snapshot& b, bool withRemeasure = true)
{
    for (int i = 0; i < 16; ++i)
        expectSectionsEqual (a.sections[(size_t) i], b.sections[(size_t) i], i, withRemeasure);

    EXPECT_EQ (a.linkOffsets, b.linkOffsets);
    EXPECT_EQ (a.sectionIdx, b.sectionIdx);
    EXPECT_EQ (a.measMode, b.measMode);
    EXPECT_EQ (a.rmsTime, b.rmsTime);
    EXPECT_TRUE (a.customSettings == b.customSettings);
    EXPECT_EQ (a.customSettingsGeneration, b.customSettingsGeneration);

    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR (a.offsets[(size_t) i], b.offsets[(size_t) i], 1.0e-5) << "offset " << i;

    EXPECT_NEAR (a.targetLufs, b.targetLufs, 1.0e-5);
    EXPECT_NEAR (a.instOffset, b.instOffset, 1.0e-5);
    EXPECT_EQ (a.instMatchGain, b.instMatchGain);
    EXPECT_EQ (a.instFrozen, b.instFrozen);
    EXPECT_EQ (a.instMeasuredLufs, b.instMeasuredLufs);
    EXPECT_EQ (a.instTrimStart, b.instTrimStart);
    EXPECT_EQ (a.instTrimEnd, b.instTrimEnd);
    EXPECT_EQ (a.instAnalysisSeconds, b.instAnalysisSeconds);
    EXPECT_EQ (a.instHistory, b.instHistory);
}

/** A custom weighting other than the default: a bell at 2 kHz and a tilt. */
inline CustomWeightedRmsSettings customWeighting()
{
    CustomWeightedRmsSettings s;
    s.slots[3].enabled = true;
    s.slots[3].frequencyHz = 2000.0;
    s.slots[3].gainDb = 3.5;
    s.slots[3].q = 1.4;
    s.slots[2].enabled = true;
    s.slots[2].gainDb = -2.0;
    s.normalize();
    return s;
}

/** Fills one section with a finished measurement made in every mode. */
inline void fillMeasuredSection (Section& s, std::mt19937& rng, std::uint64_t generation, int blocks)
{
    std::uniform_real_distribution<double> energy (1.0e-4, 2.0e-2);
    std::uniform_real_distribution<float> level (-40.0f, -10.0f);

    s.frozen = true;
    s.selfLufs = level (rng);
    s.partnerLufs = level (rng);
    s.gainDb = s.partnerLufs.load() - s.selfLufs.load() + 1.5f;
    s.seconds = 0.1f * (float) blocks;
    s.analysisSeconds = 0.1f * (float) blocks + 0.3f;
    s.trimStart = 0.125f;
    s.trimEnd = 0.875f;
    s.selfHistory.clear();
    s.partnerHistory.clear();

    std::vector<AnalysisFrame> self, partner;
    std::vector<CustomRmsFrame> customSelf, customPartner;

    for (int k = 0; k < blocks; ++k)
    {
        s.selfHistory.push_back (energy (rng));
        s.partnerHistory.push_back (energy (rng));
        self.push_back ({ energy (rng) * 4800.0, 4800 });
        partner.push_back ({ energy (rng) * 4800.0, 4800 });
        customSelf.push_back ({ energy (rng) * 4800.0, 4800, generation });
        customPartner.push_back ({ energy (rng) * 4800.0, 4800, generation });
    }

    s.selfFrames = frameList (self);
    s.partnerFrames = frameList (partner);
    s.customSelfFrames = frameList (customSelf);
    s.customPartnerFrames = frameList (customPartner);
}

/** Gives an instance a state that uses every stored field: measured, bypassed,
    locked and linked sections, Offset Gains, INST data, names, UI settings, a
    custom weighting with its own generation and two different A/B slots. */
inline void fillRichState (QuorvaneProcessor& p, unsigned seed = 7)
{
    std::mt19937 rng (seed);
    constexpr std::uint64_t generation = 7;

    p.applyCustomWeightedRmsSettings (customWeighting(), 4.5f, generation);
    p.measMode = 2;

    {
        const std::lock_guard<std::mutex> lock (p.analysisMutex);

        for (int i = 0; i < 6; ++i)
            fillMeasuredSection (p.sections[(size_t) i], rng, generation, 20 + 7 * i);

        p.instHistory.clear();

        for (int k = 0; k < 50; ++k)
            p.instHistory.push_back (1.0e-3 * (1 + k % 7));

        p.instTrimStart = 0.25f;
        p.instTrimEnd = 0.75f;
        p.instAnalysisSeconds = 5.3f;
    }

    p.sections[3].bypass = true;

    setParam (p, ids::targetLufs, -23.0f);
    setParam (p, ids::instOffset, 1.5f);
    setParam (p, ids::section, 4.0f);

    for (int i = 0; i < 16; ++i)
        setParam (p, "offset_" + juce::String::charToString ((juce::juce_wchar) ('A' + i)), -6.0f + 0.7f * (float) i);

    p.handleUpdateNowIfNeeded();

    // A finished section's gain holds the Offset Gain in force (VOCAL + gain =
    // INST + Offset), as the audio thread keeps it on a Vocal instance.
    for (int i = 0; i < 6; ++i)
    {
        auto& s = p.sections[(size_t) i];
        s.gainDb = p.getSectionOffset (i) + s.partnerLufs.load() - s.selfLufs.load();
    }
    p.sections[4].locked = true;
    p.sections[1].linkGroup = 2;
    p.sections[2].linkGroup = 2;
    p.sections[5].linkGroup = 3;

    p.instFrozen = true;
    p.instMeasuredLufs = -19.25f;
    p.instMatchGain = -3.75f;
    p.instTargetUiOpen = false;
    p.linkOffsets = true;
    p.showTooltips = true;
    p.tooltipLang = 0;
    p.meterDispMode = 2;
    p.hiddenVocalMask = 0x5;
    p.setInstanceName (juce::String (juce::CharPointer_UTF8 ("  Lead vocal \xe3\x83\x9c\xe3\x83\xbc\xe3\x82\xab\xe3\x83\xab ")));
    p.setOffsetTargetName ("Pop ballad");

    // Slot A holds an older take of the state; B is active, so the live
    // state is what B is saved as.
    auto older = p.captureSnapshot();
    older.offsets[0] = 3.0f;
    older.targetLufs = -14.0f;
    older.sections[7].frozen = true;
    older.sections[7].gainDb = 2.25f;
    older.sections[7].selfHistory = { 1.0e-3, 2.0e-3 };
    older.measMode = 1;
    older.rmsTime = 2.0f;

    const std::lock_guard<std::mutex> lock (p.abMutex);
    p.abSlots[0] = older;
    p.currentAB = 1;
}
} // namespace qvn::test
