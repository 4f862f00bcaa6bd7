// The stages of the audio path that change the audio or produce live values:
// the Inst instance's Target LUFS gain, a Vocal instance's section gain with
// its sample-placed ramp, the live meters, the values published for partners
// and editors, and the decaying peaks. Audio thread only.

#include "processor/PluginProcessor.h"

#include <cmath>

namespace
{
constexpr float noLevel = -120.0f;

float gainFromDb (float db) noexcept
{
    return QuorvaneProcessor::GainRamp::linear (db);
}

using GainRamp = QuorvaneProcessor::GainRamp;

/** Multiplies samples [begin, end) of every channel by what the ramp gives
    there: constant before and after it, the linear ramp in between. */
void applyRampSegment (juce::AudioBuffer<float>& buffer, int begin, int end, const GainRamp& ramp)
{
    const auto channels = buffer.getNumChannels();

    const auto apply = [&] (int from, int to, auto&& each)
    {
        if (to > from)
            for (int ch = 0; ch < channels; ++ch)
                each (ch, from, to - from);
    };

    const auto rampBegin = juce::jlimit (begin, end, ramp.start);
    const auto rampEnd = juce::jlimit (rampBegin, end, ramp.start + juce::jmax (0, ramp.length));

    apply (begin, rampBegin, [&] (int ch, int s, int num) { buffer.applyGain (ch, s, num, ramp.from); });
    apply (rampBegin, rampEnd, [&] (int ch, int s, int num)
    {
        buffer.applyGainRamp (ch, s, num, ramp.gainAt (s), ramp.gainAt (s + num));
    });
    apply (rampEnd, end, [&] (int ch, int s, int num) { buffer.applyGain (ch, s, num, ramp.to); });
}

/** Moves the ramp on past a block of n samples; once it has run its course
    it is kept as the settled gain, so its position never grows without
    bound over hours of playback. */
void advanceRamp (GainRamp& ramp, int n)
{
    if (ramp.start + juce::jmax (0, ramp.length) <= n)
        ramp = { ramp.to, ramp.to, 0, 0 };
    else
        ramp.start -= n;
}

/** Applies one block of a gain stage to every channel and moves its ramp on.
    A sample-accurate change starts a 3 ms linear ramp at startSample (the
    sample itself still gets the old gain); a start at the block's end begins
    the ramp with the next block, and a ramp that runs past the block's end is
    carried into the following blocks, so the change takes its full length
    whatever the host's block size. Before startSample the previous ramp, if
    one is still running, goes on, and the new one starts from where it got
    to. Otherwise the gain moves linearly over the whole block. */
void applyBlockGain (juce::AudioBuffer<float>& buffer, int numSamples, double sampleRate, GainRamp& ramp,
                     float toDb, bool sampleAccurate, int startSample)
{
    const auto n = juce::jmin (numSamples, buffer.getNumSamples());

    if (n <= 0)
        return;

    const auto to = gainFromDb (toDb);

    if (! sampleAccurate)
    {
        if (ramp.start + ramp.length > 0)
        {
            // A ramp is still under way: it ends on the smoothed value.
            ramp.to = to;
            applyRampSegment (buffer, 0, n, ramp);
            advanceRamp (ramp, n);
            return;
        }

        const auto from = ramp.to;

        for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
            buffer.applyGainRamp (ch, 0, n, from, to);

        ramp = { to, to, 0, 0 };
        return;
    }

    const auto start = juce::jlimit (0, n, startSample);
    auto length = sampleRate > 0.0 ? juce::roundToInt (0.003 * sampleRate) : 1;
    length = juce::jmax (1, length);

    applyRampSegment (buffer, 0, start, ramp);
    ramp = { ramp.gainAt (start), to, start, length };
    applyRampSegment (buffer, start, n, ramp);
    advanceRamp (ramp, n);
}

struct GainStep
{
    float value = 0.0f;
    bool ramp = false;
};

/** One block of a gain stage: any real move (or a forced change) is reached
    at once with a ramp; residual differences of at most 0.0001 dB are
    followed with a one-pole smoothing of 30 ms. */
GainStep nextGain (int numSamples, double sampleRate, float current, float target, bool changed) noexcept
{
    if (! std::isfinite (target))
        target = 0.0f;

    if (! std::isfinite (current))
        current = 0.0f;

    if (changed || std::abs (target - current) > 0.0001f)
        return { target, true };

    const auto a = sampleRate > 0.0 ? std::exp (-((double) numSamples / sampleRate) / 0.03) : 1.0;
    return { (float) (current + (1.0 - a) * (double) (target - current)), false };
}

float postGain (float gainDb, float level) noexcept
{
    return level > -119.0f ? gainDb + level : noLevel;
}

float blockPeak (const juce::AudioBuffer<float>& buffer, int channel, int numSamples) noexcept
{
    if (numSamples <= 0 || channel < 0 || channel >= buffer.getNumChannels())
        return 0.0f;

    return buffer.getMagnitude (channel, 0, numSamples);
}

float holdToDb (float hold) noexcept
{
    return hold > 1.0e-7f ? 20.0f * std::log10 (hold) : noLevel;
}
} // namespace

//==============================================================================
void QuorvaneProcessor::resetLiveMeters() noexcept
{
    liveMomentaryMeter.resetGating();
    liveMomentaryMeter.resetHistogram();
    liveShortTermMeter.reset();
    liveCustomMeter.resetMeasurement();
    liveIntegratedSection = -1;

    // The peak displays follow the holds: a reset that left the holds would
    // put the old peaks back on the next block.
    peakHold.fill (0.0f);
}

float QuorvaneProcessor::currentMatchGainDb() const noexcept
{
    const auto measured = instMeasuredLufs.load();
    return measured > -119.5f ? juce::jlimit (-24.0f, 24.0f, getTargetLufs() - measured) : instMatchGain.load();
}

float QuorvaneProcessor::instGainTargetDb (bool measuring) const noexcept
{
    // The instrumental changes only while the Target LUFS view is open and no
    // INST measurement runs.
    return (instTargetUiOpen.load() && ! measuring) ? currentMatchGainDb() + getInstOffsetDb() : 0.0f;
}

void QuorvaneProcessor::runInstGainStage (juce::AudioBuffer<float>& view)
{
    instMatchGain.store (currentMatchGainDb());

    const bool measuring = instMeasuring.load();
    const auto target = instGainTargetDb (measuring);
    const auto n = view.getNumSamples();

    if (n <= 0)
        return;

    const bool changed = measuring != instMeasuringLastBlock;
    instMeasuringLastBlock = measuring;

    const auto step = nextGain (n, preparedSampleRate, instGainDb, target, changed);
    applyBlockGain (view, n, preparedSampleRate, instGainRamp, step.value, step.ramp, 0);
    instGainDb = step.value;
}

void QuorvaneProcessor::runLiveMeters (const juce::AudioBuffer<float>& view)
{
    const auto rmsTime = (double) rmsTimeSec.load();

    liveShortTermMeter.processBlock (view);
    ownSlot->liveShortTerm.store (liveShortTermMeter.getWindowLUFS());
    ownSlot->liveMomentary.store (liveShortTermMeter.getMomentaryLUFS());

    liveCustomMeter.processBlock (view);
    ownSlot->liveKRms.store (liveShortTermMeter.getLiveKRmsDb (rmsTime));
    ownSlot->liveCustomRms.store (liveCustomMeter.getLiveRmsDb (rmsTime));
}

const LinkSlot* QuorvaneProcessor::chooseReferencePartner (int role) const noexcept
{
    if (role == 2)
    {
        for (auto& s : audioPartnerSlots)
            if (s != nullptr && s->role.load() == 1)
                return s.get();

        return nullptr;
    }

    if (role == 1)
    {
        for (auto& s : audioPartnerSlots)
            if (s != nullptr && s->role.load() == 2)
                return s.get();

        return audioPartnerSlots.empty() ? nullptr : audioPartnerSlots.front().get();
    }

    return nullptr;
}

void QuorvaneProcessor::runLiveIntegrated (const juce::AudioBuffer<float>& view, int role, const LinkSlot* reference)
{
    if (reference == nullptr)
        return;

    const auto section = role == 2 ? sectionRun.runSection : reference->currentSection.load();

    if (section < 0)
        return;

    if (section != liveIntegratedSection)
    {
        // The gated value restarts with the section; the histogram goes on.
        liveMomentaryMeter.resetGating();
        liveIntegratedSection = section;
    }

    liveMomentaryMeter.processBlock (view);
    ownSlot->liveIntegrated.store (liveMomentaryMeter.getIntegratedLUFS());
    ownSlot->liveHistogram.store (liveMomentaryMeter.getHistogramIntegratedLUFS());
}

void QuorvaneProcessor::refreshSectionGains()
{
    // The Offset Gain in force is part of every finished section's gain, so an
    // offset move reaches the audio at once.
    for (int i = 0; i < numSectionSlots; ++i)
    {
        auto& s = sections[(size_t) i];

        if (! s.frozen.load())
            continue;

        const auto self = s.selfLufs.load();
        const auto partner = s.partnerLufs.load();

        if (self <= -119.5f || partner <= -119.5f)
        {
            s.gainDb.store (0.0f);
            continue;
        }

        const auto offset = s.locked.load() ? storedOffsets[(size_t) i].load() : getSectionOffset (i);
        s.gainDb.store (offset + partner - self);
    }
}

float QuorvaneProcessor::offsetInForce (int section) const noexcept
{
    return sections[(size_t) section].locked.load() ? storedOffsets[(size_t) section].load() : getSectionOffset (section);
}

void QuorvaneProcessor::runSectionGainStage (juce::AudioBuffer<float>& view, int role, int committed)
{
    const auto k = juce::jlimit (0, numSectionSlots - 1, committed);
    const auto& section = sections[(size_t) k];
    const bool measured = ownMeasuringSection == k;

    auto target = 0.0f;

    if (role == 2 && ! section.bypass.load() && ! measured)
        target = section.frozen.load() ? section.gainDb.load() : offsetInForce (k);

    // Where the change sits in the block: the automation point that selected
    // the section, or the offset point whose value set the Offset Gain now in
    // force. Points are only trusted in a block the sink announced.
    int sectionPoint = 0, offsetPoint = 0;

    if (blockAnnounced)
    {
        for (int i = 0; i < sectionAutomationQueue.count; ++i)
        {
            const auto& p = sectionAutomationQueue.points[(size_t) i];

            if (p.section == k)
            {
                sectionPoint = p.sampleOffset;
                break;
            }
        }

        const auto parameterOffset = getSectionOffset (k);

        for (int i = 0; i < offsetAutomationQueue.count; ++i)
        {
            const auto& p = offsetAutomationQueue.points[(size_t) i];

            if (p.section == k && std::abs (p.offsetDb - parameterOffset) <= 0.05f)
            {
                offsetPoint = p.sampleOffset;
                break;
            }
        }
    }

    const auto n = view.getNumSamples();

    if (n <= 0)
        return;

    const bool sectionChanged = gainSection != k;
    const bool measuredChanged = gainSectionWasMeasured != measured;
    gainSection = k;
    gainSectionWasMeasured = measured;

    const auto step = nextGain (n, preparedSampleRate, sectionGainDb, target, sectionChanged || measuredChanged);

    int start = 0;

    if (sectionChanged && ! measuredChanged)
        start = sectionPoint;
    else if (! sectionChanged && ! measuredChanged && step.ramp)
        start = offsetPoint;

    // A point at or past the block's end belongs to the start of the next block.
    start = juce::jlimit (0, n, start);

    applyBlockGain (view, n, preparedSampleRate, sectionGainRamp, step.value, step.ramp, start);
    sectionGainDb = step.value;
}

void QuorvaneProcessor::publishDisplayValues (const juce::AudioBuffer<float>& view, int role, int committed,
                                              const LinkSlot* reference)
{
    auto& own = *ownSlot;
    const auto k = juce::jlimit (0, numSectionSlots - 1, committed);
    const bool rmsCustom = juce::jlimit (0, 2, measMode.load()) == 2;
    const auto g = sectionGainDb;

    const auto ref = [reference] (std::atomic<float> LinkSlot::* field)
    {
        return reference != nullptr ? (reference->*field).load() : noLevel;
    };

    const auto rmsField = rmsCustom ? &LinkSlot::liveCustomRms : &LinkSlot::liveKRms;

    const auto ownShortTerm = own.liveShortTerm.load();
    const auto ownMomentary = own.liveMomentary.load();
    const auto ownRms = (own.*rmsField).load();
    const auto ownIntegrated = own.liveIntegrated.load();
    const auto ownHistogram = own.liveHistogram.load();

    if (role == 2)
    {
        const auto refIntegrated = ref (&LinkSlot::liveIntegrated);

        meterVocalShortTerm.store (ownShortTerm);
        meterVocalShortTermPostGain.store (postGain (g, ownShortTerm));
        meterVocalMomentary.store (ownMomentary);
        meterInstMomentary.store (ref (&LinkSlot::liveMomentary));
        meterVocalMomentaryPostGain.store (postGain (g, ownMomentary));
        meterVocalRms.store (ownRms);
        meterInstRms.store (ref (rmsField));
        meterVocalRmsPostGain.store (postGain (g, ownRms));
        meterVocalIntegratedPostGain.store (postGain (g, ownIntegrated));
        meterInstIntegrated.store (refIntegrated);
        meterTargetLevel.store (refIntegrated > -119.0f ? refIntegrated + offsetInForce (k) : noLevel);
        meterVocalHistogramPostGain.store (postGain (g, ownHistogram));
        meterVocalHistogram.store (ownHistogram);
    }
    else if (role == 1)
    {
        meterVocalShortTerm.store (ref (&LinkSlot::liveShortTerm));
        meterVocalShortTermPostGain.store (noLevel);
        meterVocalMomentary.store (ref (&LinkSlot::liveMomentary));
        meterInstMomentary.store (ownMomentary);
        meterVocalMomentaryPostGain.store (noLevel);
        meterVocalRms.store (ref (rmsField));
        meterInstRms.store (ownRms);
        meterVocalRmsPostGain.store (noLevel);
        meterVocalIntegratedPostGain.store (ref (&LinkSlot::liveIntegrated));
        meterInstIntegrated.store (ownIntegrated);
        meterTargetLevel.store (noLevel);
        meterVocalHistogramPostGain.store (ref (&LinkSlot::liveHistogram));
        meterVocalHistogram.store (ref (&LinkSlot::liveHistogram));
    }
    else
    {
        for (auto* m : { &meterVocalShortTerm, &meterVocalShortTermPostGain, &meterVocalMomentary, &meterInstMomentary,
                         &meterVocalMomentaryPostGain, &meterVocalRms, &meterInstRms, &meterVocalRmsPostGain,
                         &meterVocalIntegratedPostGain, &meterInstIntegrated, &meterTargetLevel,
                         &meterVocalHistogramPostGain, &meterVocalHistogram })
            m->store (noLevel);
    }

    if (role == 2)
    {
        const auto& s = sections[(size_t) k];
        own.liveShortTermPostGain.store (meterVocalShortTermPostGain.load());
        own.liveMomentaryPostGain.store (meterVocalMomentaryPostGain.load());
        own.liveRmsPostGain.store (meterVocalRmsPostGain.load());
        own.liveIntegratedPostGain.store (meterVocalIntegratedPostGain.load());
        own.liveHistogramPostGain.store (meterVocalHistogramPostGain.load());
        own.hasResult.store (s.frozen.load() && s.selfLufs.load() > -119.5f && s.partnerLufs.load() > -119.5f);
    }
    else
    {
        own.liveShortTermPostGain.store (noLevel);
        own.liveMomentaryPostGain.store (noLevel);
        own.liveRmsPostGain.store (noLevel);
        own.liveIntegratedPostGain.store (noLevel);
        own.liveHistogramPostGain.store (noLevel);
        own.hasResult.store (false);
    }

    // Peaks of the output, after every gain stage.
    if (role != 1 && role != 2)
        return;

    const auto n = view.getNumSamples();
    const auto sr = preparedSampleRate;
    const auto decay = (n > 0 && sr > 0.0) ? (float) std::exp (-((double) n / sr) / 0.35) : 1.0f;
    const auto channels = view.getNumChannels();
    const auto left = blockPeak (view, 0, n);
    const auto right = blockPeak (view, juce::jmin (1, channels - 1), n);
    const size_t first = role == 2 ? 0 : 2;

    peakHold[first] = juce::jmax (peakHold[first] * decay, left);
    peakHold[first + 1] = juce::jmax (peakHold[first + 1] * decay, right);

    const auto leftDb = holdToDb (peakHold[first]);
    const auto rightDb = holdToDb (peakHold[first + 1]);
    own.peakLeftDb.store (leftDb);
    own.peakRightDb.store (rightDb);

    if (role == 2)
    {
        vocalPeakLeftDb.store (leftDb);
        vocalPeakRightDb.store (rightDb);

        if (reference != nullptr)
        {
            instPeakLeftDb.store (reference->peakLeftDb.load());
            instPeakRightDb.store (reference->peakRightDb.load());
        }
    }
    else
    {
        instPeakLeftDb.store (leftDb);
        instPeakRightDb.store (rightDb);
    }
}
