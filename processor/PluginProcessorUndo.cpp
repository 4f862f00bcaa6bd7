// Undo snapshots, undo and redo, the A/B slots, and the message-thread handling
// of Offset Gain and Inst Offset edits (undo steps, link propagation, put-backs
// of locked sections).

#include "processor/PluginProcessor.h"

#include "processor/LinkRegistry.h"

#include <cmath>
#include <thread>

namespace
{
constexpr size_t maxUndoSteps = 50;
constexpr std::uint32_t undoSpacingMs = 501;
constexpr std::uint32_t revertSpacingMs = 249;
constexpr float offsetTolerance = 0.0001f;

/** Clamps a value read from a snapshot; a value that is not a number at all
    takes the fallback instead of reaching a parameter. */
float clampFinite (float v, float lo, float hi, float fallback) noexcept
{
    return std::isfinite (v) ? juce::jlimit (lo, hi, v) : fallback;
}

/** Sets a flag for the lifetime of the object. */
struct ScopedFlag
{
    explicit ScopedFlag (std::atomic<bool>& f) : flag (f) { flag.store (true); }
    ~ScopedFlag() { flag.store (false); }
    std::atomic<bool>& flag;
};
} // namespace

//==============================================================================
QuorvaneProcessor::UndoSnapshot QuorvaneProcessor::captureSnapshot() const
{
    return captureSnapshotBefore (0, false);
}

QuorvaneProcessor::UndoSnapshot QuorvaneProcessor::captureSnapshotBefore (std::uint32_t heldOffsetMask,
                                                                          bool holdInstOffset) const
{
    UndoSnapshot snap;

    {
        const std::lock_guard<std::mutex> lock (analysisMutex);

        for (int i = 0; i < numSectionSlots; ++i)
            snap.sections[(size_t) i] = sections[(size_t) i];

        snap.instHistory = instHistory;
        snap.instTrimStart = instTrimStart.load();
        snap.instTrimEnd = instTrimEnd.load();
        snap.instAnalysisSeconds = instAnalysisSeconds.load();
    }

    // Sections whose edit is being recorded contribute the Offset Gain that was
    // in force before it; every other section its parameter as it stands.
    for (int i = 0; i < numSectionSlots; ++i)
        snap.offsets[(size_t) i] = (heldOffsetMask & (1u << i)) != 0 ? storedOffsets[(size_t) i].load()
                                                                      : getSectionOffset (i);

    snap.linkOffsets = linkOffsets.load();
    snap.sectionIdx = sectionValue != nullptr ? (int) sectionValue->load() : 0;
    snap.measMode = juce::jlimit (0, 2, measMode.load());
    snap.rmsTime = juce::jlimit (0.5f, 10.0f, rmsTimeSec.load());

    {
        const std::lock_guard<std::mutex> lock (settingsMutex);
        snap.customSettings = customSettings;
    }

    snap.customSettingsGeneration = customSettingsGeneration.load();
    snap.targetLufs = getTargetLufs();
    snap.instOffset = holdInstOffset ? storedInstOffset.load() : getInstOffsetDb();
    snap.instMatchGain = instMatchGain.load();
    snap.instFrozen = instFrozen.load();
    snap.instMeasuredLufs = instMeasuredLufs.load();
    return snap;
}

void QuorvaneProcessor::pushUndoStep (UndoSnapshot snap)
{
    undoStack.push_back (std::move (snap));

    if (undoStack.size() > maxUndoSteps)
        undoStack.erase (undoStack.begin());

    redoStack.clear();
}

void QuorvaneProcessor::pushUndoSnapshot()
{
    pushUndoStep (captureSnapshot());
}

//==============================================================================
void QuorvaneProcessor::setParameterNotifying (const juce::String& id, float value)
{
    if (auto* param = parameters.getParameter (id))
        param->setValueNotifyingHost (param->convertTo0to1 (value));
}

void QuorvaneProcessor::restoreSnapshot (const UndoSnapshot& snap)
{
    const auto mode = juce::jlimit (0, 2, snap.measMode);
    const auto rmsTime = clampFinite (snap.rmsTime, 0.5f, 10.0f, 3.0f);
    auto settings = snap.customSettings;
    settings.normalize();
    const auto generation = std::max<std::uint64_t> (snap.customSettingsGeneration, 1);

    const bool measurementChanged = mode != measMode.load() || std::abs (rmsTime - rmsTimeSec.load()) > 0.001f;
    bool weightingChanged = generation != customSettingsGeneration.load();

    {
        const std::lock_guard<std::mutex> lock (settingsMutex);
        weightingChanged = weightingChanged || ! (settings == customSettings);
    }

    if (measurementChanged || weightingChanged)
        LinkRegistry::get().cancelMeasurementsForSettingsChange();

    if (mode != measMode.load())
        measMode.store (mode);

    if (std::abs (rmsTime - rmsTimeSec.load()) > 0.001f)
        rmsTimeSec.store (rmsTime);

    if (weightingChanged)
        applyCustomWeightedRmsSettings (settings, rmsTime, generation);

    if (measurementChanged)
        LinkRegistry::get().broadcastMeasurementSettings (this, mode, rmsTime);

    if (weightingChanged)
        LinkRegistry::get().broadcastCustomWeightedRmsSettings (this, settings, rmsTime, generation);

    {
        const std::lock_guard<std::mutex> lock (analysisMutex);

        for (int i = 0; i < numSectionSlots; ++i)
            sections[(size_t) i] = snap.sections[(size_t) i];

        instHistory = snap.instHistory;
        instTrimStart.store (snap.instTrimStart);
        instTrimEnd.store (snap.instTrimEnd);
        instAnalysisSeconds.store (snap.instAnalysisSeconds);
    }

    linkOffsets.store (snap.linkOffsets);
    instFrozen.store (snap.instFrozen);
    instMeasuredLufs.store (snap.instMeasuredLufs);
    instMatchGain.store (snap.instMatchGain);

    setParameterNotifying (ids::targetLufs, clampFinite (snap.targetLufs, -36.0f, -6.0f, -18.0f));
    setParameterNotifying (ids::section, (float) juce::jlimit (0, numSectionSlots - 1, snap.sectionIdx));

    {
        // The listener ignores these writes: they record no undo step and are
        // not passed on to linked sections.
        const ScopedFlag internal (internalParamWrite);

        for (int i = 0; i < numSectionSlots; ++i)
        {
            if (parameters.getParameter (offsetParameterId (i)) == nullptr)
                continue;

            const auto v = clampFinite (snap.offsets[(size_t) i], -12.0f, 12.0f, 0.0f);
            setParameterNotifying (offsetParameterId (i), v);
            storedOffsets[(size_t) i].store (getSectionOffset (i));
        }

        setParameterNotifying (ids::instOffset, clampFinite (snap.instOffset, -6.0f, 6.0f, 0.0f));
        storedInstOffset.store (getInstOffsetDb());
    }

    for (int i = 0; i <= numSectionSlots; ++i)
        renewHistoryRevision (i);
}

//==============================================================================
void QuorvaneProcessor::endRunsBeforeRestore()
{
    // A section run (or an armed or held-open one) does not belong to the
    // state being put back: its result would be refused by the restored
    // section and lost while the window still offered STOP. Both sides drop
    // it, and so is a run stopped a moment ago whose result no block has
    // taken over yet: it would land in the restored state.
    cancelActiveMeasurementsForSettingsChange();

    // The same for the Inst's own run: it would go on measuring behind the
    // restored result (the window still offering STOP), and its stop would
    // then replace that result. It ends here and keeps nothing, and a start
    // waiting for playback is dropped. A stop no thread has finished yet (the
    // end of playback may stop the run at this moment) is dropped too, as on
    // the section side.
    armedInstStart.store (false);
    deferredInstStart.store (false);

    if (! instMeasuring.load() && instStopCounter.load() == instFinalizedStop.load())
        return;

    // The finishing guard keeps the audio thread and the window's fallback
    // finish off the INST meter while the run is ended and marked finished
    // without a result; a block holds it only briefly.
    bool expected = false;

    while (! instFinalizeBusy.compare_exchange_weak (expected, true))
    {
        expected = false;
        std::this_thread::yield();
    }

    if (instMeasuring.exchange (false))
        stopInstMeasurement();

    const auto stop = instStopCounter.load();

    if (stop != instFinalizedStop.load())
    {
        // Seen as started and stopped, so no block begins the run after the
        // restore (a start clears the level and Match Gain) or finishes it.
        seenInstStartCounter = instStartCounter.load();
        seenInstStopCounter = stop;
        instMeterActive = false;
        instFinalizedStop.store (stop);
    }

    instFinalizeBusy.store (false);
}

void QuorvaneProcessor::undo()
{
    if (undoStack.empty())
        return;

    endRunsBeforeRestore();

    redoStack.push_back (captureSnapshot());
    auto snap = std::move (undoStack.back());
    undoStack.pop_back();
    restoreSnapshot (snap);

    offsetDragActive = false;
    offsetUndoTimeMs = juce::Time::getMillisecondCounter();
}

void QuorvaneProcessor::redo()
{
    if (redoStack.empty())
        return;

    endRunsBeforeRestore();

    undoStack.push_back (captureSnapshot());
    auto snap = std::move (redoStack.back());
    redoStack.pop_back();
    restoreSnapshot (snap);

    offsetDragActive = false;
    offsetUndoTimeMs = juce::Time::getMillisecondCounter();
}

void QuorvaneProcessor::selectABSlot (int slot)
{
    if (slot != 0 && slot != 1)
        return;

    if (slot == currentAB.load())
        return;

    // The other slot's state replaces the live one as an undo does: a run
    // going on now belongs to neither and ends without a result.
    endRunsBeforeRestore();

    pushUndoSnapshot();
    auto live = captureSnapshot();
    UndoSnapshot chosen;

    {
        const std::lock_guard<std::mutex> lock (abMutex);
        const auto active = currentAB.load();

        // A state restore on a host thread may have switched the slot since.
        if (slot == active)
            return;

        abSlots[(size_t) active] = std::move (live);
        currentAB.store (slot);
        chosen = abSlots[(size_t) slot];
    }

    restoreSnapshot (chosen);
}

void QuorvaneProcessor::copyToOtherABSlot()
{
    pushUndoSnapshot();
    auto live = captureSnapshot();

    const std::lock_guard<std::mutex> lock (abMutex);
    abSlots[(size_t) (1 - currentAB.load())] = std::move (live);
}

QuorvaneProcessor::UndoSnapshot QuorvaneProcessor::getABSlot (int slot) const
{
    const std::lock_guard<std::mutex> lock (abMutex);
    return abSlots[(size_t) juce::jlimit (0, 1, slot)];
}

//==============================================================================
void QuorvaneProcessor::applyLinkedOffset (int section, float offsetDb)
{
    if (section < 0 || section >= numSectionSlots || sections[(size_t) section].locked.load())
        return;

    const auto id = offsetParameterId (section);

    if (parameters.getParameter (id) == nullptr)
        return;

    setParameterNotifying (id, clampFinite (offsetDb, -12.0f, 12.0f, 0.0f));
    storedOffsets[(size_t) section].store (getSectionOffset (section));
}

void QuorvaneProcessor::handleOffsetEdits()
{
    // A restore running on a host thread moves parameters and the accepted
    // offsets in several steps; its changes are looked at once it is complete
    // (it asks for another update when it ends).
    if (stateRestoresInFlight.load() > 0)
        return;

    if (instOffsetChangePending.exchange (false))
    {
        const auto v = getInstOffsetDb();
        const auto before = storedInstOffset.load();

        if (std::abs (v - before) > offsetTolerance)
        {
            const auto t = juce::Time::getMillisecondCounter();

            // The step holds the Inst Offset from before the edit, so undoing
            // it gives that value back.
            if (! instOffsetDragActive && t - instOffsetUndoTimeMs >= undoSpacingMs)
            {
                instOffsetUndoTimeMs = t;
                pushUndoStep (captureSnapshotBefore (0, true));
            }

            storedInstOffset.store (v);
        }
    }

    const auto changed = offsetChangedMask.exchange (0);

    for (int i = 0; i < numSectionSlots; ++i)
    {
        const auto bit = (std::uint32_t) 1 << i;

        if ((changed & bit) == 0)
            continue;

        auto& section = sections[(size_t) i];

        if (section.locked.load())
        {
            offsetRevertMask.fetch_or (bit);
            continue;
        }

        const auto v = getSectionOffset (i);
        const auto d = v - storedOffsets[(size_t) i].load();

        if (std::abs (d) <= offsetTolerance)
            continue;

        const auto t = juce::Time::getMillisecondCounter();

        if (! offsetDragActive && t - offsetUndoTimeMs >= undoSpacingMs)
        {
            offsetUndoTimeMs = t;
            pushUndoStep (captureSnapshotBefore (changed, false));
        }

        {
            const ScopedFlag internal (internalParamWrite);

            if (linkOffsets.load() || offsetDragAllSections.load())
            {
                for (int j = 0; j < numSectionSlots; ++j)
                    if (j != i)
                        applyLinkedOffset (j, getSectionOffset (j) + d);
            }
            else if (const auto group = section.linkGroup.load(); group >= 1)
            {
                for (int j = 0; j < numSectionSlots; ++j)
                    if (j != i && sections[(size_t) j].linkGroup.load() == group)
                        applyLinkedOffset (j, v);
            }
        }

        storedOffsets[(size_t) i].store (v);
    }

    const auto revert = offsetRevertMask.exchange (0);

    if (revert == 0)
        return;

    const bool playing = hostPlaying.load();
    const auto t = juce::Time::getMillisecondCounter();

    for (int i = 0; i < numSectionSlots; ++i)
    {
        const auto bit = (std::uint32_t) 1 << i;

        if ((revert & bit) == 0)
            continue;

        const auto id = offsetParameterId (i);

        if (! sections[(size_t) i].locked.load() || parameters.getParameter (id) == nullptr
            || std::abs (getSectionOffset (i) - storedOffsets[(size_t) i].load()) <= offsetTolerance)
            continue;

        if (playing || t - lastRevertTimeMs[(size_t) i] <= revertSpacingMs)
        {
            offsetRevertMask.fetch_or (bit);
            continue;
        }

        lastRevertTimeMs[(size_t) i] = t;
        const ScopedFlag internal (internalParamWrite);
        setParameterNotifying (id, storedOffsets[(size_t) i].load());
    }
}
