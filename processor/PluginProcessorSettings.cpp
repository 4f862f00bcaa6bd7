// The measurement settings every instance holds (mode, RMS time, custom
// weighting): applying them locally, the editors' entry points that cancel
// and broadcast through the registry, and the cancel of running section
// measurements that every settings change goes through. Message thread, or
// the host thread that creates, destroys or restores an instance.

#include "processor/PluginProcessor.h"

#include "processor/LinkRegistry.h"

#include <cmath>

namespace
{
float clampRmsTime (float seconds) noexcept
{
    return std::isfinite (seconds) ? juce::jlimit (0.5f, 10.0f, seconds) : 3.0f;
}
} // namespace

//==============================================================================
void QuorvaneProcessor::applyMeasurementSettings (int mode, float rmsTime)
{
    const auto t = clampRmsTime (rmsTime);
    const auto previous = rmsTimeSec.exchange (t);

    const auto recomputeFrozen = [this]
    {
        const std::lock_guard<std::mutex> lock (analysisMutex);

        for (int i = 0; i < numSectionSlots; ++i)
            if (sections[(size_t) i].frozen.load())
                recomputeSectionFromTrim (i);
    };

    if (std::abs (t - previous) > 0.001f)
    {
        const auto current = measMode.load();

        if (current == 1 || current == 2)
            recomputeFrozen();
    }

    const auto m = juce::jlimit (0, 2, mode);

    if (m != measMode.load() && measuringSectionIndex() < 0 && ! runHeldOpen.load())
    {
        measMode.store (m);
        recomputeFrozen();
    }
}

void QuorvaneProcessor::setRmsTimeSecFromUi (float seconds)
{
    const auto t = clampRmsTime (seconds);

    if (std::abs (t - rmsTimeSec.load()) <= 0.001f)
        return;

    // One drag records one step, before its first change; typed values record
    // one each.
    if (! rmsTimeDragActive.load() || rmsTimeDragUndoPending.exchange (false))
        pushUndoSnapshot();

    LinkRegistry::get().cancelMeasurementsForSettingsChange();
    applyMeasurementSettings (measMode.load(), t);
    LinkRegistry::get().broadcastMeasurementSettings (this, measMode.load(), rmsTimeSec.load());
}

void QuorvaneProcessor::setCustomWeightedRmsSettingsFromUi (const CustomWeightedRmsSettings& settings, float rmsTime)
{
    auto s = settings;
    s.normalize();
    const auto t = clampRmsTime (rmsTime);

    const auto current = [this]
    {
        const std::lock_guard<std::mutex> lock (settingsMutex);
        return customSettings;
    };

    if (current() == s && std::abs (t - rmsTimeSec.load()) <= 0.001f)
        return;

    if (current() == s)
    {
        // Only the RMS time changed: the weighting keeps its generation.
        setRmsTimeSecFromUi (t);
        return;
    }

    pushUndoSnapshot();
    LinkRegistry::get().cancelMeasurementsForSettingsChange();

    const auto generation = customSettingsGeneration.fetch_add (1) + 1;
    applyCustomWeightedRmsSettings (s, rmsTime, generation);
    LinkRegistry::get().broadcastCustomWeightedRmsSettings (this, s, rmsTimeSec.load(), generation);
}

void QuorvaneProcessor::applyCustomWeightedRmsSettings (const CustomWeightedRmsSettings& settings,
                                                        float rmsTime,
                                                        std::uint64_t generation)
{
    auto s = settings;
    s.normalize();
    const auto t = clampRmsTime (rmsTime);

    {
        const std::lock_guard<std::mutex> lock (settingsMutex);

        if (customSettings == s && customSettingsGeneration.load() == generation
            && std::abs (rmsTimeSec.load() - t) <= 0.001f)
            return;

        customSettings = s;
        customSettingsGeneration.store (generation);

        // The generation can go back (undo, restore, relink) and so be reused
        // for a different weighting; the audio thread hands weightings to the
        // partner meters on this counter, which only grows.
        customSettingsSerial.fetch_add (1);
    }

    ownSlot->liveCustomRms.store (-120.0f);

    if (measMode.load() == 2)
        ownSlot->liveRmsPostGain.store (-120.0f);

    applyMeasurementSettings (measMode.load(), t);

    for (auto& meter : sectionCustomMeters)
        meter.publishSettings (s, generation);

    liveCustomMeter.publishSettings (s, generation);

    const std::lock_guard<std::mutex> lock (analysisMutex);

    for (auto& section : sections)
    {
        if (section.customSelfFrames == nullptr && section.customPartnerFrames == nullptr)
            continue;

        section.customSelfFrames.reset();
        section.customPartnerFrames.reset();

        if (measMode.load() == 2)
        {
            section.selfLufs.store (-120.0f);
            section.partnerLufs.store (-120.0f);
            section.gainDb.store (0.0f);
            section.needsRemeasure.store (section.frozen.load());
        }
    }
}

bool QuorvaneProcessor::hasAnyCustomMeasurementResults() const
{
    const std::lock_guard<std::mutex> lock (analysisMutex);

    for (auto& section : sections)
        if (section.customSelfFrames != nullptr || section.customPartnerFrames != nullptr)
            return true;

    return false;
}

void QuorvaneProcessor::cancelActiveMeasurementsForSettingsChange()
{
    auto& slot = *ownSlot;

    // A stop the audio threads have not handled yet is discarded too.
    slot.cancelMarker.store (slot.stopCounter.load());

    armedSectionStart.store (false);
    deferredSectionIndex.store (-1);
    armedInstStart.store (false);
    deferredSectionStart.store (false);
    deferredInstStart.store (false);

    bool anything = runHeldOpen.exchange (false);

    for (int j = 0; j < numSectionSlots; ++j)
    {
        auto& own = slot.ownSections[(size_t) j];

        if (own.measuring.exchange (false))
        {
            own.elapsedSeconds.store (0.0f);
            anything = true;
        }

        clearSlotMeasurement (own);

        auto& inst = slot.instSections[(size_t) j];

        if (inst.measuring.exchange (false))
            anything = true;

        clearSlotMeasurement (inst);
    }

    if (anything)
        slot.cancelByCounter();
}
