// Section results over their trim range and the Learn History chart data.

#include "processor/PluginProcessor.h"

#include <cmath>

namespace
{
constexpr double absoluteGateEnergy = 1.1724653045822981e-7; // a -70 LUFS block

float blockLevel (double energy)
{
    return energy <= 1.0e-12 ? -120.0f : (float) (10.0 * std::log10 (energy) - 0.691);
}

/** Brings a stored trim into order and widens it to at least one of n items. */
void normaliseTrim (std::atomic<float>& start, std::atomic<float>& end, size_t n, float& lo, float& hi)
{
    const auto clamp01 = [] (float v) { return std::isfinite (v) ? juce::jlimit (0.0f, 1.0f, v) : 0.0f; };
    const auto s = clamp01 (start.load());
    const auto e = clamp01 (end.load());
    lo = std::min (s, e);
    hi = std::max (s, e);

    const auto w = 1.0f / (float) std::max<size_t> (n, 1);

    if (hi - lo < w)
        hi = std::min (lo + w, 1.0f);

    if (hi - lo < w)
        lo = std::max (hi - w, 0.0f);

    start.store (lo);
    end.store (hi);
}

struct ItemRange
{
    size_t first = 0, last = 0;
};

ItemRange itemRange (float lo, float hi, size_t n)
{
    ItemRange r;
    r.first = std::min ((size_t) std::floor ((double) lo * (double) n + 1.0e-5), n - 1);
    const auto end = (size_t) std::max (0.0, std::ceil ((double) hi * (double) n - 1.0e-5));
    r.last = r.first >= end ? r.first + 1 : std::min (end, n);
    return r;
}

template <typename Frame>
bool hasItems (const std::shared_ptr<const std::vector<Frame>>& list)
{
    return list != nullptr && ! list->empty();
}

void fillLufsSnapshotSeries (QuorvaneProcessor::LearnHistorySnapshot& snap,
                             const std::vector<double>& self,
                             const std::vector<double>* partner,
                             size_t count)
{
    snap.selfSeries.reserve (count);
    snap.belowGate.reserve (count);

    for (size_t k = 0; k < count; ++k)
    {
        snap.selfSeries.push_back (blockLevel (self[k]));

        if (partner != nullptr)
            snap.partnerSeries.push_back (blockLevel ((*partner)[k]));

        snap.belowGate.push_back (self[k] < absoluteGateEnergy);
    }
}
} // namespace

//==============================================================================
bool QuorvaneProcessor::recomputeSectionFromTrim (int index)
{
    if (index < 0 || index >= numSectionSlots)
        return false;

    auto& s = sections[(size_t) index];
    const auto mode = juce::jlimit (0, 2, measMode.load());
    const auto generation = customSettingsGeneration.load();

    const bool hasKFrames = hasItems (s.selfFrames) && hasItems (s.partnerFrames);

    const auto allCurrent = [generation] (const std::vector<CustomRmsFrame>& frames)
    {
        for (const auto& f : frames)
            if (f.generation != generation)
                return false;

        return true;
    };

    const bool customCurrent = hasItems (s.customSelfFrames) && hasItems (s.customPartnerFrames)
                               && allCurrent (*s.customSelfFrames) && allCurrent (*s.customPartnerFrames);
    const bool usable = mode != 2 || customCurrent;
    const bool kRmsWithoutFrames = mode == 1 && ! hasKFrames;
    const bool frozen = s.frozen.load();

    const auto clearLevels = [&s]
    {
        s.selfLufs.store (-120.0f);
        s.partnerLufs.store (-120.0f);
        s.gainDb.store (0.0f);
    };

    if (! usable)
    {
        s.needsRemeasure.store (frozen);
        clearLevels();
        return frozen;
    }

    if (kRmsWithoutFrames)
    {
        s.needsRemeasure.store (frozen);
        return frozen;
    }

    s.needsRemeasure.store (false);

    size_t n = 0;

    if (mode == 2)
    {
        n = std::min (s.customSelfFrames->size(), s.customPartnerFrames->size());
    }
    else
    {
        n = std::min (s.selfHistory.size(), s.partnerHistory.size());
        s.selfHistory.resize (n);
        s.partnerHistory.resize (n);
    }

    if (n == 0)
        return false;

    float lo = 0.0f, hi = 1.0f;
    normaliseTrim (s.trimStart, s.trimEnd, n, lo, hi);
    const auto range = itemRange (lo, hi, n);

    float selfLevel = -120.0f, partnerLevel = -120.0f;

    if (mode == 0)
    {
        selfLevel = LoudnessMeter::computeLUFSFromRange (s.selfHistory, lo, hi);

        // The INST level is the instrumental energy over exactly the blocks in
        // which the vocal passes both gates.
        double gatedSum = 0.0;
        size_t gatedCount = 0;

        for (auto k = range.first; k < range.last; ++k)
        {
            if (s.selfHistory[k] >= absoluteGateEnergy)
            {
                gatedSum += s.selfHistory[k];
                ++gatedCount;
            }
        }

        if (gatedCount > 0)
        {
            const auto threshold = std::max (gatedSum / (double) gatedCount / 10.0, absoluteGateEnergy);
            double partnerSum = 0.0;
            size_t passing = 0;

            for (auto k = range.first; k < range.last; ++k)
            {
                if (s.selfHistory[k] >= threshold)
                {
                    partnerSum += s.partnerHistory[k];
                    ++passing;
                }
            }

            if (passing > 0)
            {
                const auto mean = partnerSum / (double) passing;
                partnerLevel = mean <= 1.0e-12 ? -120.0f : (float) (10.0 * std::log10 (mean) - 0.691);
            }
        }
    }
    else if (mode == 1)
    {
        selfLevel = LoudnessMeter::computeWindowedKRmsDbFromFrames (*s.selfFrames, lo, hi, rmsTimeSec.load());
        partnerLevel = LoudnessMeter::computeWindowedKRmsDbFromFrames (*s.partnerFrames, lo, hi, rmsTimeSec.load());
    }
    else
    {
        selfLevel = CustomWeightedRmsMeter::computeWindowedRmsDbFromFrames (*s.customSelfFrames, lo, hi, rmsTimeSec.load(), n);
        partnerLevel = CustomWeightedRmsMeter::computeWindowedRmsDbFromFrames (*s.customPartnerFrames, lo, hi, rmsTimeSec.load(), n);
    }

    // Length of the kept range. Gating blocks are 400 ms long and start every
    // 100 ms, so k blocks span (k - 1) x 0.1 + 0.4 s; custom frames are 100 ms
    // each and do not overlap, so k frames span k x 0.1 s.
    const auto kept = (int) (range.last - range.first);
    float seconds = 0.0f;

    if (kept > 0)
        seconds = mode == 2 ? (float) kept * 0.1f : (float) (kept - 1) * 0.1f + 0.4f;

    const auto analysed = s.analysisSeconds.load();

    if (analysed > 0.05f)
        seconds = std::min (seconds, analysed);

    s.selfLufs.store (selfLevel);
    s.partnerLufs.store (partnerLevel);
    s.seconds.store (seconds);
    s.gainDb.store (selfLevel > -119.5f && partnerLevel > -119.5f ? getSectionOffset (index) + partnerLevel - selfLevel
                                                                  : 0.0f);
    s.frozen.store (true);
    return true;
}

//==============================================================================
QuorvaneProcessor::LearnHistorySnapshot QuorvaneProcessor::getLearnHistorySnapshot (int index) const
{
    LearnHistorySnapshot snap;

    if (index < 0 || index >= numSectionSlots)
        return snap;

    const auto& s = sections[(size_t) index];
    std::vector<double> self, partner;
    std::shared_ptr<const std::vector<AnalysisFrame>> selfFrames, partnerFrames;
    std::shared_ptr<const std::vector<CustomRmsFrame>> customSelf, customPartner;
    bool frozen = false, locked = false, remeasure = false;
    float trimStart = 0.0f, trimEnd = 1.0f, length = 0.0f;

    {
        const std::lock_guard<std::mutex> lock (analysisMutex);
        self = s.selfHistory;
        partner = s.partnerHistory;
        selfFrames = s.selfFrames;
        partnerFrames = s.partnerFrames;
        customSelf = s.customSelfFrames;
        customPartner = s.customPartnerFrames;
        frozen = s.frozen.load();
        locked = s.locked.load();
        remeasure = s.needsRemeasure.load();
        trimStart = s.trimStart.load();
        trimEnd = s.trimEnd.load();
        const auto analysed = s.analysisSeconds.load();
        length = analysed > 0.05f ? analysed : s.seconds.load();
    }

    const auto mode = juce::jlimit (0, 2, measMode.load());

    if (mode == 2 && frozen && remeasure)
        return snap;

    const bool useCustom = mode == 2 && hasItems (customSelf) && hasItems (customPartner);
    const bool useKFrames = mode == 1 && hasItems (selfFrames) && hasItems (partnerFrames);

    if (useCustom || useKFrames)
    {
        const double t = rmsTimeSec.load();
        snap.selfSeries = useCustom ? CustomWeightedRmsMeter::windowedRmsDbSeries (*customSelf, t)
                                    : LoudnessMeter::windowedKRmsDbSeries (*selfFrames, t);
        snap.partnerSeries = useCustom ? CustomWeightedRmsMeter::windowedRmsDbSeries (*customPartner, t)
                                       : LoudnessMeter::windowedKRmsDbSeries (*partnerFrames, t);
        const auto m = std::min (snap.selfSeries.size(), snap.partnerSeries.size());

        if (m == 0)
            return {};

        snap.selfSeries.resize (m);
        snap.partnerSeries.resize (m);

        if (useCustom)
            length = std::min (length, (float) m * 0.1f);

        for (auto v : snap.selfSeries)
            snap.belowGate.push_back (v < -70.0f);
    }
    else
    {
        const auto n = std::min (self.size(), partner.size());

        if (n == 0)
            return snap;

        fillLufsSnapshotSeries (snap, self, &partner, n);
    }

    snap.valid = true;
    snap.finalised = frozen && ! locked;
    snap.trimStart = trimStart;
    snap.trimEnd = trimEnd;
    snap.lengthSeconds = length;
    return snap;
}

QuorvaneProcessor::LearnHistorySnapshot QuorvaneProcessor::getInstLearnHistorySnapshot() const
{
    LearnHistorySnapshot snap;
    std::vector<double> history;
    bool frozen = false;
    float trimStart = 0.0f, trimEnd = 1.0f, length = 0.0f;

    {
        const std::lock_guard<std::mutex> lock (analysisMutex);
        history = instHistory;
        frozen = instFrozen.load();
        trimStart = instTrimStart.load();
        trimEnd = instTrimEnd.load();
        length = instAnalysisSeconds.load();
    }

    if (history.empty())
        return snap;

    fillLufsSnapshotSeries (snap, history, nullptr, history.size());
    snap.valid = true;
    snap.finalised = frozen;
    snap.trimStart = trimStart;
    snap.trimEnd = trimEnd;
    snap.lengthSeconds = length;
    return snap;
}

//==============================================================================
void QuorvaneProcessor::finalizeInst()
{
    bool expected = false;

    if (! instFinalizeBusy.compare_exchange_strong (expected, true))
        return;

    finishInstStop();
    instFinalizeBusy.store (false);
}

// The caller holds the finishing guard, which also keeps the audio thread off
// the INST meter while its blocks are read here.
void QuorvaneProcessor::finishInstStop()
{
    const auto stop = instStopCounter.load();

    if (stop == instFinalizedStop.load())
        return;

    bool finished = false;

    {
        const std::lock_guard<std::mutex> lock (analysisMutex);
        const auto& recorded = instMeter.getBlockEnergies();

        // A run of nothing but digital silence measured nothing: the
        // previous result stays, as for a run without any block.
        if (! recorded.empty() && instMeter.hasRecordedSignal())
        {
            instHistory = recorded;
        }
        else if (! instHistory.empty())
        {
            // The run counted its own time while it lasted; the history
            // that stays is an earlier run's and spans its own blocks
            // (400 ms, then one every 100 ms), so the chart keeps its
            // time axis.
            instAnalysisSeconds.store ((float) ((double) (instHistory.size() - 1) * 0.1 + 0.4));
        }

        if (! instHistory.empty())
        {
            float lo = 0.0f, hi = 1.0f;
            normaliseTrim (instTrimStart, instTrimEnd, instHistory.size(), lo, hi);
            const auto level = LoudnessMeter::computeLUFSFromRange (instHistory, lo, hi);
            instMeasuredLufs.store (level);

            if (level > -119.5f)
                instMatchGain.store (juce::jlimit (-24.0f, 24.0f, getTargetLufs() - level));

            finished = true;
        }
    }

    if (finished)
        instFrozen.store (true);

    instFinalizedStop.store (stop);
    renewHistoryRevision (numSectionSlots);
}

void QuorvaneProcessor::stopInstMeasurement() noexcept
{
    instMeasuring.store (false);
    instStopEndsStart.store (instStartCounter.load());
    instStopCounter.fetch_add (1);
}

void QuorvaneProcessor::startInstMeasurement()
{
    instFrozen.store (false);

    {
        const std::lock_guard<std::mutex> lock (analysisMutex);
        instAnalysisSeconds.store (0.0f);
        instHistory.clear();
        renewHistoryRevision (numSectionSlots);
    }

    instStartCounter.fetch_add (1);
    instMeasuring.store (true);

    // The level and the Match Gain belong to the result just dropped; left in
    // place they would come back as the gain of a run that ends without a
    // result. Cleared after instMeasuring is set, so no block in between
    // applies a gain of neither the old nor the new state.
    instMeasuredLufs.store (-120.0f);
    instMatchGain.store (0.0f);
}
