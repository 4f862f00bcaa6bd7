// The audio path and the section measurements that run between a Vocal
// instance and the Inst instance.

#include "processor/PluginProcessor.h"

#include "processor/LinkRegistry.h"

#include <cmath>

namespace
{
/** Publishes one side of a finished section measurement: the level and the
    lists first, `done` after them, then (on the Inst's side, which owns it)
    the measuring flag goes. The Vocal's measuring flag belongs to whoever
    starts and stops the run: every stop clears it before it is signalled,
    and a MATCH pressed while this publishes sets it again, which must stand. */
void finalizeIntegration (SectionSlot& slot, LoudnessMeter& meter, CustomWeightedRmsMeter* custom, bool endMeasuring)
{
    slot.lufs.store (meter.getIntegratedLUFS());

    // A side that heard nothing but digital silence hands in no blocks: the
    // measurement has no result and the section keeps its Offset Gain.
    slot.history.store (meter.hasRecordedSignal() ? std::make_shared<const SectionSlot::History> (meter.getBlockEnergies().toVector())
                                                  : std::make_shared<const SectionSlot::History>());

    auto frames = std::make_shared<SectionSlot::Frames> (meter.getRecordedFrames().toVector());
    const auto current = meter.getCurrentFrame();

    if (current.numSamples > 0)
        frames->push_back (current);

    slot.frames.store (std::move (frames));

    if (custom != nullptr)
    {
        auto customFrames = std::make_shared<SectionSlot::CustomFrames> (custom->getRecordedFrames());
        const auto currentCustom = custom->getCurrentFrame();

        if (currentCustom.numSamples > 0)
            customFrames->push_back (currentCustom);

        slot.customFrames.store (std::move (customFrames));
    }
    else
    {
        slot.customFrames.store (nullptr);
    }

    slot.done.store (true);

    if (endMeasuring)
        slot.measuring.store (false);
}

float secondsOf (std::int64_t samples, double sampleRate)
{
    return sampleRate > 0.0 ? (float) ((double) samples / sampleRate) : 0.0f;
}

bool contains (const std::vector<std::shared_ptr<LinkSlot>>& list, const LinkSlot* slot)
{
    for (auto& s : list)
        if (s.get() == slot)
            return true;

    return false;
}

// Whether the stop just taken ends a start that the reader has not handled
// yet, with no later start: the two were made in that order before one block
// saw either. The stop counter is read before this, and the stopper records
// the start count before it moves that counter.
bool startEndedByStop (const LinkSlot& slot, int seenStart)
{
    const auto ends = slot.stopEndsStart.load();
    return counterIsAfter (ends, seenStart) && ends == slot.startCounter.load();
}

// A start not yet handled that names the same section as the run being
// stopped. The start counter is read first: the editor writes the section
// and the measuring flag before it moves the counter.
bool restartPending (const LinkSlot& slot, int seenStart, int section)
{
    return slot.startCounter.load() != seenStart && slot.measuringSection.load() == section;
}
} // namespace

//==============================================================================
void QuorvaneProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    juce::ScopedNoDenormals noDenormals;

    auto view = getBusBuffer (buffer, true, 0);
    const auto n = view.getNumSamples();
    const auto sampleRate = preparedSampleRate;

    const auto role = getRole();
    ownSlot->role.store (role);

    const auto resetCount = ownSlot->meterResetCounter.load();

    if (resetCount != seenMeterResetCounter)
    {
        seenMeterResetCounter = resetCount;
        resetLiveMeters();
    }

    uiCommitThisBlock = false;

    const auto maxSection = std::max (numSections.load(), 1) - 1;
    const auto target = juce::jlimit (0, maxSection, sectionValue != nullptr ? juce::roundToInt (sectionValue->load()) : 0);

    bool playing = false, looping = false;
    std::int64_t position = -1;

    if (auto* playHead = getPlayHead())
    {
        if (const auto info = playHead->getPosition())
        {
            playing = info->getIsPlaying();
            looping = info->getIsLooping();

            if (const auto samples = info->getTimeInSamples())
            {
                position = *samples;
                playHeadSeen.store (true);
            }
        }
    }

    const bool wasPlaying = hostPlaying.exchange (playing);

    if (wasPlaying && ! playing && offsetRevertMask.load() != 0)
        triggerAsyncUpdate();

    runTransportLink (playing, wasPlaying);

    const auto committed = runSectionCommit (target, playing, wasPlaying, looping, position, n);

    if (role == 2)
        runVocalRunSwitch (committed, n, playing);
    else
        sectionRun.runSection = committed;

    if (role == 1)
    {
        runInstMeasurement (view);
        runInstGainStage (view);
    }

    runLiveMeters (view);

    syncPartnersAndSettings();

    const auto* reference = chooseReferencePartner (role);

    if (role == 1 || role == 2)
        runLiveIntegrated (view, role, reference);

    if (role == 2 && sectionRun.runSection >= 0)
        ownSlot->currentSection.store (sectionRun.runSection);

    if (role == 2)
    {
        measureOwnSide (view, sampleRate);
        pickUpSectionResults();
        refreshSectionGains();
    }
    else if (role == 1)
    {
        measureInstSide (view, sampleRate);
    }

    runSectionGainStage (view, role, committed);
    publishDisplayValues (view, role, committed, reference);

    blockAnnounced = false;
    postDeferredUpdate (n, playing);
}

//==============================================================================
void QuorvaneProcessor::runTransportLink (bool playing, bool wasPlaying)
{
    if (playing == wasPlaying || ! linkMeasurementToTransport.load())
        return;

    if (playing)
    {
        if (armedSectionStart.exchange (false))
        {
            deferredSectionStart.store (true);
            triggerAsyncUpdate();
        }

        if (armedInstStart.exchange (false))
        {
            deferredInstStart.store (true);
            triggerAsyncUpdate();
        }

        return;
    }

    if (const auto m = measuringSectionIndex(); m >= 0 || runHeldOpen.load())
    {
        runHeldOpen.store (false);

        // The run's flag goes before the stop, as the STOP button does it.
        if (m >= 0)
            ownSlot->ownSections[(size_t) m].measuring.store (false);

        ownSlot->signalStop();
    }

    if (instMeasuring.exchange (false))
        stopInstMeasurement();
}

//==============================================================================
std::unique_ptr<QuorvaneProcessor::PerVocalState> QuorvaneProcessor::makePerVocalState (std::shared_ptr<LinkSlot> slot,
                                                                                       double sampleRate,
                                                                                       const CustomWeightedRmsSettings& settings,
                                                                                       std::uint64_t generation) const
{
    auto state = std::make_unique<PerVocalState>();
    state->slot = std::move (slot);

    for (int i = 0; i < numSectionSlots; ++i)
    {
        state->meters[(size_t) i].prepare (sampleRate, 2, 0.4);
        state->customMeters[(size_t) i].prepare (sampleRate, 2, settings, generation);
        state->customMeters[(size_t) i].setRecordFrames (true);
    }

    return state;
}

void QuorvaneProcessor::syncPartnersAndSettings()
{
    const auto partnerGen = partnerGeneration.load();

    if (partnerGen == seenPartnerGeneration && customSettingsSerial.load() == seenSettingsSerial)
        return;

    const bool partnersChanged = partnerGen != seenPartnerGeneration;

    // The weighting, its generation and its hand-over serial are copied
    // together, so a partner meter never gets one weighting stamped with
    // another's generation; and first, so the partner and settings mutexes
    // are never held together.
    CustomWeightedRmsSettings settings;
    std::uint64_t settingsGen = 1, settingsSerial = 0;
    {
        const std::lock_guard<std::mutex> settingsLock (settingsMutex);
        settings = customSettings;
        settingsGen = customSettingsGeneration.load();
        settingsSerial = customSettingsSerial.load();
    }

    // Entries for new partners were built off the audio thread when the links
    // changed; adopting them moves pointers only. Dropped entries and slots go
    // back under the same lock to be freed off the audio thread.
    std::unique_lock<std::mutex> partnerLock (partnerMutex);

    for (auto& s : audioPartnerSlots)
        retiredPartnerSlots.push_back (std::move (s));

    audioPartnerSlots.clear();

    for (auto& s : partnerSlots)
        audioPartnerSlots.push_back (s);

    if (partnersChanged)
    {
        size_t kept = 0;

        for (size_t i = 0; i < perVocalStates.size(); ++i)
        {
            if (contains (audioPartnerSlots, perVocalStates[i]->slot.get()))
                perVocalStates[kept++] = std::move (perVocalStates[i]);
            else
                retiredVocalStates.push_back (std::move (perVocalStates[i]));
        }

        perVocalStates.resize (kept);

        for (auto& slot : audioPartnerSlots)
        {
            bool present = false;

            for (auto& state : perVocalStates)
                present = present || state->slot == slot;

            if (present)
                continue;

            std::unique_ptr<PerVocalState> state;

            for (auto& prepared : preparedVocalStates)
            {
                if (prepared != nullptr && prepared->slot == slot)
                {
                    state = std::move (prepared);
                    break;
                }
            }

            if (state == nullptr)
            {
                // Not prepared ahead (should not happen): build it here.
                state = makePerVocalState (slot, preparedSampleRate, settings, settingsGen);
                state->settingsSerial = settingsSerial;
            }

            // A new entry never joins a measurement that is already running.
            state->seenStartCounter = slot->startCounter.load();
            state->seenStopCounter = slot->stopCounter.load();
            state->measuringSection = -1;
            perVocalStates.push_back (std::move (state));
        }

        preparedVocalStates.erase (std::remove (preparedVocalStates.begin(), preparedVocalStates.end(), nullptr),
                                   preparedVocalStates.end());
    }

    const bool anythingRetired = ! retiredPartnerSlots.empty() || ! retiredVocalStates.empty();
    partnerLock.unlock();

    if (anythingRetired)
        triggerAsyncUpdate();

    seenPartnerGeneration = partnerGen;
    seenSettingsSerial = settingsSerial;

    for (auto& state : perVocalStates)
    {
        if (state->settingsSerial != settingsSerial)
        {
            for (auto& meter : state->customMeters)
                meter.publishSettings (settings, settingsGen);

            state->settingsSerial = settingsSerial;
        }
    }
}

//==============================================================================
void QuorvaneProcessor::beginOwnRun (int start, bool endedAlready)
{
    auto& slot = *ownSlot;
    seenStartCounter = start;
    const auto s = slot.measuringSection.load();

    // A run begun and ended before this block shows its flag cleared by the
    // stop; as on the Inst's side it is measured (for no time) all the same,
    // so that both sides publish it and the take-over consumes both.
    if (s >= 0 && s < numSectionSlots && (endedAlready || slot.ownSections[(size_t) s].measuring.load()))
    {
        ownMeasuringSection = s;
        sectionMeters[(size_t) s].reset(); // no filter state left over from an earlier run
        sectionCustomMeters[(size_t) s].resetMeasurement();
        // The records go whole, `done` included: an earlier run published
        // while this start was being made must not pass for this run's.
        clearSlotMeasurement (slot.ownSections[(size_t) s]);
    }
}

void QuorvaneProcessor::handleOwnStop()
{
    auto& slot = *ownSlot;
    const auto stop = slot.stopCounter.load();

    if (stop == seenStopCounter)
        return;

    seenStopCounter = stop;

    // A start made before this stop that no block has seen yet: that run
    // begins and ends here, in the order the two were made. (A stop that
    // came first leaves an older start count, and the restart below
    // supersedes the old run as before.)
    if (startEndedByStop (slot, seenStartCounter))
        beginOwnRun (slot.stopEndsStart.load(), true);

    // A stop made before the run measured now began ended an earlier run,
    // which that start has already superseded: STOP and MATCH fell between
    // this thread's reads of the stop and the start counters, so the start
    // was seen first. It must not end the new run a block after it began.
    if (counterIsAfter (seenStartCounter, slot.stopEndsStart.load()))
        return;

    const auto s = ownMeasuringSection;

    if (s >= 0)
    {
        auto& own = slot.ownSections[(size_t) s];

        // The section was started again before this block saw the stop
        // (STOP or a reset, then MATCH on the same section, faster than
        // one block): the new start has already cleared the records and
        // set them measuring, so the old run is dropped without touching
        // them. Publishing or clearing here would lose the new run.
        if (restartPending (slot, seenStartCounter, s))
        {
        }
        else if (slot.cancelMarker.load() == stop)
        {
            clearSlotMeasurement (own);
            own.measuring.store (false);
        }
        else
        {
            // Kept for the take-over: a reactivation may prepare the meter
            // again before a block takes the result over.
            stoppedRunSeconds[(size_t) s] = secondsOf (sectionMeters[(size_t) s].getSamplesProcessed(), preparedSampleRate);
            finalizeIntegration (own, sectionMeters[(size_t) s], &sectionCustomMeters[(size_t) s], false);
        }

        ownMeasuringSection = -1;
    }
    else if (slot.startCounter.load() == seenStartCounter)
    {
        const auto m = slot.measuringSection.load();

        if (m >= 0 && m < numSectionSlots)
        {
            slot.ownSections[(size_t) m].measuring.store (false);
            slot.ownSections[(size_t) m].elapsedSeconds.store (0.0f);
        }
    }
}

void QuorvaneProcessor::measureOwnSide (const juce::AudioBuffer<float>& view, double sampleRate)
{
    auto& slot = *ownSlot;

    handleOwnStop();

    // Start
    const auto start = slot.startCounter.load();

    if (start != seenStartCounter)
        beginOwnRun (start, false);

    // Feed
    const auto s = ownMeasuringSection;

    if (s >= 0 && s != sectionRun.runSection)
    {
        // A measured section that is not the run's section is cancelled: the
        // Inst side discards its part too.
        auto& own = slot.ownSections[(size_t) s];
        own.measuring.store (false);
        own.elapsedSeconds.store (0.0f);
        ownMeasuringSection = -1;
        slot.cancelByCounter();
    }
    else if (s >= 0)
    {
        auto& meter = sectionMeters[(size_t) s];
        meter.setFramesEnabled (true);
        meter.processBlock (view);
        sectionCustomMeters[(size_t) s].processBlock (view);
        slot.ownSections[(size_t) s].elapsedSeconds.store (secondsOf (meter.getSamplesProcessed(), sampleRate));
    }
}

void QuorvaneProcessor::beginInstSideRun (PerVocalState& e, int start, bool endedAlready)
{
    auto& p = *e.slot;
    e.seenStartCounter = start;
    const auto s = p.measuringSection.load();

    // A run that the Vocal has already begun and ended may show its
    // measuring flag cleared; it is measured (for no time) all the same
    // so that both sides publish it.
    if (s >= 0 && s < numSectionSlots && (endedAlready || p.ownSections[(size_t) s].measuring.load()))
    {
        e.measuringSection = s;
        e.meters[(size_t) s].reset(); // no filter state left over from an earlier run
        e.customMeters[(size_t) s].resetMeasurement();
        auto& inst = p.instSections[(size_t) s];
        clearSlotMeasurement (inst);
        inst.measuring.store (true);
    }
}

void QuorvaneProcessor::handleInstSideStop (PerVocalState& e)
{
    auto& p = *e.slot;
    const auto stop = p.stopCounter.load();

    if (stop == e.seenStopCounter)
        return;

    e.seenStopCounter = stop;

    // As on the Vocal's side: a start made before this stop and not
    // seen yet begins and ends here.
    if (startEndedByStop (p, e.seenStartCounter))
        beginInstSideRun (e, p.stopEndsStart.load(), true);

    // As on the Vocal's side: a stop of a run that a start seen first has
    // already superseded leaves the new run alone.
    if (counterIsAfter (e.seenStartCounter, p.stopEndsStart.load()))
        return;

    const auto s = e.measuringSection;

    if (s >= 0)
    {
        auto& inst = p.instSections[(size_t) s];

        // As on the Vocal's side: a restart of the same section
        // supersedes the old run, whose data is not published.
        if (restartPending (p, e.seenStartCounter, s))
        {
        }
        else if (p.cancelMarker.load() == stop)
        {
            clearSlotMeasurement (inst);
            inst.measuring.store (false);
        }
        else
        {
            finalizeIntegration (inst, e.meters[(size_t) s], &e.customMeters[(size_t) s], true);
        }

        e.measuringSection = -1;
    }
    else
    {
        const auto m = p.measuringSection.load();

        if (m >= 0 && m < numSectionSlots)
        {
            p.instSections[(size_t) m].measuring.store (false);
            p.instSections[(size_t) m].elapsedSeconds.store (0.0f);
        }
    }
}

void QuorvaneProcessor::measureInstSide (const juce::AudioBuffer<float>& view, double sampleRate)
{
    for (auto& entry : perVocalStates)
    {
        auto& e = *entry;
        auto& p = *e.slot;

        handleInstSideStop (e);

        const auto start = p.startCounter.load();

        if (start != e.seenStartCounter)
            beginInstSideRun (e, start, false);

        if (const auto s = e.measuringSection; s >= 0)
        {
            auto& meter = e.meters[(size_t) s];
            meter.setFramesEnabled (true);
            meter.processBlock (view);
            e.customMeters[(size_t) s].processBlock (view);
            p.instSections[(size_t) s].elapsedSeconds.store (secondsOf (meter.getSamplesProcessed(), sampleRate));
        }
    }
}

void QuorvaneProcessor::pickUpSectionResults()
{
    auto& slot = *ownSlot;

    for (int i = 0; i < numSectionSlots; ++i)
    {
        auto& section = sections[(size_t) i];
        auto& own = slot.ownSections[(size_t) i];
        auto& inst = slot.instSections[(size_t) i];

        // A start no block has begun yet is dropping this section's result:
        // what lies in its slots may be the stopped run published just as
        // that start cleared them, and waits for the start to clear it.
        const auto ready = [&]
        {
            return ! section.frozen.load() && ! section.locked.load() && own.done.load() && inst.done.load()
                   && slot.startCounter.load() == seenStartCounter;
        };

        if (! ready())
            continue;

        std::unique_lock<std::mutex> lock (analysisMutex, std::try_to_lock);

        // Asked again under the lock: a new start or a reset drops the slots
        // and the result under it, and what it dropped must not come back.
        if (! lock.owns_lock() || ! ready())
            continue;

        const auto ownHistory = own.history.load();
        const auto instHistory_ = inst.history.load();

        if (ownHistory != nullptr && instHistory_ != nullptr && ! ownHistory->empty() && ! instHistory_->empty())
        {
            const auto elapsed = own.elapsedSeconds.load();
            section.analysisSeconds.store (elapsed > 0.05f ? elapsed : stoppedRunSeconds[(size_t) i]);
            section.selfHistory = *ownHistory;
            section.partnerHistory = *instHistory_;
            section.selfFrames = own.frames.load();
            section.partnerFrames = inst.frames.load();
            section.customSelfFrames = own.customFrames.load();
            section.customPartnerFrames = inst.customFrames.load();
            recomputeSectionFromTrim (i);
        }
        else if (! section.selfHistory.empty() && ! section.partnerHistory.empty())
        {
            recomputeSectionFromTrim (i);
        }

        // Taken over once: an undo or a state that brings back an unfrozen
        // section must not receive this run again.
        own.done.store (false);
        inst.done.store (false);
        renewHistoryRevision (i);
    }
}

//==============================================================================
void QuorvaneProcessor::cancelRunningMeasurementsForRestart()
{
    // The meters are about to be prepared again, which throws away what a
    // running measurement has gathered. Publishing the rest would give a result
    // over part of the run (and, on the Inst side, over a different stretch of
    // time than the Vocal's), so the run is cancelled on both sides instead.
    // A stop that no block has handled yet is different: that run ended with
    // all its audio measured, and it is published here as the next block
    // would have published it (cancelling it would lose the result the user
    // stopped for, on both sides).
    handleOwnStop();

    for (auto& entry : perVocalStates)
        handleInstSideStop (*entry);

    if (ownMeasuringSection >= 0)
    {
        auto& own = ownSlot->ownSections[(size_t) ownMeasuringSection];
        own.measuring.store (false);
        own.elapsedSeconds.store (0.0f);
        ownSlot->cancelByCounter();
    }

    runHeldOpen.store (false);

    for (auto& entry : perVocalStates)
    {
        if (entry->measuringSection >= 0)
        {
            entry->slot->cancelByCounter();
            entry->measuringSection = -1;
        }
    }
}
