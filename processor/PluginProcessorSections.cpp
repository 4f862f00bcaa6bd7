// Section tracking: the automation sink fed by the VST3 wrapper, the commit of
// the current section, the run that follows it, and the operations that start,
// reset and group section measurements.

#include "processor/PluginProcessor.h"

#include <cmath>

//==============================================================================
void QuorvaneProcessor::beginSectionAutomationBlock()
{
    // A request deferred in a call that never reached the end of processBlock
    // (the host had the instance suspended) is posted now.
    if (processCallThread.load() != std::thread::id {} && asyncUpdateDeferred.exchange (false))
        triggerAsyncUpdate();

    processCallThread.store (std::this_thread::get_id());
    sectionAutomationQueue.clear();
    offsetAutomationQueue.clear();
    sectionChangeCount = 0;
    blockAnnounced = true;
}

void QuorvaneProcessor::pushSectionAutomationPoint (int sampleOffset, float normalisedValue)
{
    const auto section = juce::jlimit (0, numSectionSlots - 1, juce::roundToInt (normalisedValue * 15.0f));

    if (section != editorSectionEcho.load())
        ++sectionChangeCount;

    sectionAutomationQueue.push ({ std::max (sampleOffset, 0), section });
}

void QuorvaneProcessor::pushOffsetAutomationPoint (int section, int sampleOffset, float normalisedValue)
{
    offsetAutomationQueue.push ({ std::max (sampleOffset, 0),
                                  juce::jlimit (0, numSectionSlots - 1, section),
                                  normalisedValue * 24.0f - 12.0f });
}

void QuorvaneProcessor::setHostAutomationState (int state)
{
    hostAutomationState.store (state);
    hostStateReports.fetch_add (1);
}

//==============================================================================
int QuorvaneProcessor::runSectionCommit (int target, bool playing, bool wasPlaying, bool looping,
                                         std::int64_t position, int numSamples)
{
    const auto sr = preparedSampleRate;
    const auto srGuard = sr > 0.0 ? sr : 48000.0;
    const auto n = numSamples;
    const auto nGuard = std::max (1, n);
    const bool continuation = playing && wasPlaying;

    // Follow flag: does the current section follow host automation?
    if (! continuation)
        editorSectionEcho.store (-1);

    const auto changes = blockAnnounced ? sectionChangeCount : 0;

    if (! continuation)
    {
        playbackSamples = 0;
        pointFollow = false;
    }
    else
    {
        playbackSamples += std::max (n, 0);

        if (changes > 0 && (double) playbackSamples >= (sr > 0.0 ? 0.25 * sr : 12000.0))
            pointFollow = true;
    }

    bool follow = pointFollow;

    if (hostStateReports.load() > 0)
    {
        const auto state = hostAutomationState.load();
        follow = playing && (state & 1) != 0 && (state & 2) == 0;
    }

    followAutomation.store (follow);
    followAutomationTicks.fetch_add (1);

    // Editor request
    auto& c = sectionCommit;
    bool requestCommits = false;
    bool requestPending = false;

    const auto serial = uiSectionRequestSerial.load();

    if (serial != c.seenRequestSerial)
    {
        c.seenRequestSerial = serial;
        c.requestTimeout = std::max (1, (int) std::trunc (0.5 * sr));
        c.requestMatched = false;
        c.requestHeldSamples = 0;
    }

    auto request = uiSectionRequest.load();

    const auto dropRequest = [&]
    {
        auto expected = request;
        uiSectionRequest.compare_exchange_strong (expected, -1);
        c.requestTimeout = 0;
        c.requestMatched = false;
        c.requestHeldSamples = 0;
    };

    if (request >= 0 && c.requestTimeout > 0)
    {
        if (follow)
        {
            dropRequest();
        }
        else if (target == request)
        {
            c.requestMatched = true;
            c.requestHeldSamples += n;

            if (! playing || c.requestHeldSamples >= std::max (1, (int) std::trunc (0.12 * sr)))
            {
                requestCommits = true;
                uiCommitThisBlock = true;
                auto expected = target;
                uiSectionRequest.compare_exchange_strong (expected, -1);
                c.requestTimeout = 0;
            }
            else
            {
                requestPending = true;
            }
        }
        else if (c.requestMatched)
        {
            dropRequest();
        }
        else
        {
            c.requestTimeout -= n;
        }
    }

    // Loop-wrap memory: after the loop wraps, stale automation of the section
    // before the wrap must persist before it takes the section back.
    const auto tc = juce::jlimit (0, numSectionSlots - 1, target);

    if (! c.initialised)
    {
        c = SectionCommit {};
        c.committed = tc;
        c.seenRequestSerial = serial;
        c.initialised = true;
    }

    bool jumpBack = false;
    bool memoryActive = false;

    if (playing && looping && position >= 0)
    {
        if (c.lastPosition >= 0 && position + nGuard < c.lastPosition)
        {
            jumpBack = true;
            c.preWrapSection = c.committed;
            c.wrapPosition = c.lastPosition;
            c.firstPostWrapSection = -1;
            c.wrapCandidate = -1;
            c.wrapCandidateSamples = 0;
        }

        memoryActive = c.wrapPosition >= 0 && position + (std::int64_t) std::trunc (10.0 * srGuard) < c.wrapPosition;
    }

    if (! memoryActive)
    {
        c.preWrapSection = -1;
        c.wrapPosition = -1;
        c.firstPostWrapSection = -1;
        c.wrapCandidate = -1;
        c.wrapCandidateSamples = 0;
    }

    // Commit decision
    const auto clearCandidates = [&c]
    {
        c.pendingSection = -1;
        c.pendingSamples = 0;
        c.wrapCandidate = -1;
        c.wrapCandidateSamples = 0;
    };

    const auto wrapHold = std::max (1, (int) std::trunc (0.25 * srGuard));

    const auto holdWrapCandidate = [&] (bool clearsMemory)
    {
        if (tc != c.wrapCandidate)
        {
            c.wrapCandidate = tc;
            c.wrapCandidateSamples = 0;
        }

        c.wrapCandidateSamples += nGuard;

        if (c.wrapCandidateSamples >= wrapHold)
        {
            c.committed = tc;
            c.wrapCandidate = -1;
            c.wrapCandidateSamples = 0;

            if (clearsMemory)
            {
                c.preWrapSection = -1;
                c.wrapPosition = -1;
            }
        }

        c.pendingSection = -1;
        c.pendingSamples = 0;
    };

    if (requestCommits)
    {
        c.committed = tc;
        clearCandidates();

        if (tc == c.preWrapSection)
        {
            c.preWrapSection = -1;
            c.wrapPosition = -1;
        }
    }
    else if (tc == c.committed || requestPending)
    {
        clearCandidates();
    }
    else if (memoryActive && tc == c.preWrapSection)
    {
        holdWrapCandidate (true);
    }
    else if (memoryActive && c.firstPostWrapSection >= 0 && c.firstPostWrapSection != c.committed
             && tc == c.firstPostWrapSection)
    {
        holdWrapCandidate (false);
    }
    else if (jumpBack || (memoryActive && c.preWrapSection >= 0))
    {
        c.committed = tc;
        clearCandidates();

        if (c.firstPostWrapSection < 0 && tc != c.preWrapSection)
            c.firstPostWrapSection = tc;
    }
    else
    {
        c.committed = tc;
        clearCandidates();
    }

    if (position >= 0)
        c.lastPosition = position;

    committedSection.store (c.committed);
    return c.committed;
}

//==============================================================================
void QuorvaneProcessor::runVocalRunSwitch (int committed, int numSamples, bool playing)
{
    auto& run = sectionRun;
    const auto sr = preparedSampleRate;
    const auto hold = std::max (1, (int) std::trunc (0.12 * sr));

    const auto settle = [&run, committed]
    {
        run.runSection = committed;
        run.candidate = -1;
        run.candidateSamples = 0;
        run.candidateFromEditor = false;
    };

    if (run.runSection < 0 || run.runSection == committed)
    {
        settle();
        return;
    }

    if (run.candidate != committed)
    {
        run.candidate = committed;
        run.candidateSamples = 0;
        run.candidateFromEditor = false;
    }

    if (! run.candidateFromEditor)
        run.candidateFromEditor = uiCommitThisBlock;

    run.candidateSamples += numSamples;

    if (run.candidateSamples < hold)
        return;

    // While the host reports a stopped transport only the editor moves the run;
    // a change from automation waits for the first block of playback.
    if (! (run.candidateFromEditor || playing || ! playHeadSeen.load()))
    {
        run.candidateSamples = hold;
        return;
    }

    const auto old = run.runSection;
    const bool wasMeasuring = ownSlot->ownSections[(size_t) old].measuring.exchange (false);

    // The old run's flag goes before its stop, as the STOP button does it.
    if (wasMeasuring)
        ownSlot->signalStop();

    if (wasMeasuring || runHeldOpen.load())
    {
        if (sections[(size_t) committed].locked.load())
        {
            runHeldOpen.store (true);
        }
        else
        {
            runHeldOpen.store (false);
            sections[(size_t) committed].frozen.store (false);
            kickSectionMeasurement (committed);
        }
    }

    settle();
}

//==============================================================================
void QuorvaneProcessor::kickSectionMeasurement (int section)
{
    auto& slot = *ownSlot;

    for (int j = 0; j < numSectionSlots; ++j)
    {
        if (j == section)
            continue;

        auto& other = slot.ownSections[(size_t) j];

        if (other.measuring.exchange (false))
            other.elapsedSeconds.store (0.0f);
    }

    auto& own = slot.ownSections[(size_t) section];
    clearSlotMeasurement (own);
    own.measuring.store (true);

    auto& inst = slot.instSections[(size_t) section];
    clearSlotMeasurement (inst);
    inst.measuring.store (false);

    slot.measuringSection.store (section);
    slot.startCounter.fetch_add (1);
}

void QuorvaneProcessor::beginSectionMeasurement (int section)
{
    // One hold of the lock from the dropped result to the moved start
    // counter: the audio thread never takes over what lies in the slots
    // between the two (a stopped run published at this very moment).
    const std::lock_guard<std::mutex> lock (analysisMutex);
    dropSectionResultLocked (section);
    resetSectionAnalysisLocked (section, false);
    kickSectionMeasurement (section);
}

void QuorvaneProcessor::dropSectionResultLocked (int section)
{
    auto& s = sections[(size_t) section];

    // The audio thread takes a finished run over only while the section is
    // not frozen, and only under this lock: the run's slots go first.
    clearSlotMeasurement (ownSlot->ownSections[(size_t) section]);
    clearSlotMeasurement (ownSlot->instSections[(size_t) section]);

    s.frozen.store (false);
    s.selfLufs.store (-120.0f);
    s.partnerLufs.store (-120.0f);
    s.gainDb.store (0.0f);
    s.seconds.store (0.0f);
}

void QuorvaneProcessor::resetSectionMeasurementNoUndo (int section)
{
    if (section < 0 || section >= numSectionSlots)
        return;

    auto& s = sections[(size_t) section];

    if (s.locked.load())
        return;

    // A reset section must not receive the result of the run it interrupts:
    // both sides discard it instead of publishing.
    if (ownSlot->ownSections[(size_t) section].measuring.load())
        ownSlot->cancelByCounter();

    runHeldOpen.store (false);

    {
        // One hold of the lock, as for a start: nothing a finished run left
        // in the slots is taken over between the dropped result and the
        // cleared analysis.
        const std::lock_guard<std::mutex> lock (analysisMutex);
        dropSectionResultLocked (section);
        resetSectionAnalysisLocked (section, true);
    }

    s.linkGroup.store (0);

    internalParamWrite.store (true);

    if (auto* param = parameters.getParameter (offsetParameterId (section)))
        param->setValueNotifyingHost (param->convertTo0to1 (0.0f));

    storedOffsets[(size_t) section].store (0.0f);
    internalParamWrite.store (false);
}

void QuorvaneProcessor::resetSectionAnalysis (int section, bool resetTrim)
{
    if (section < 0 || section >= numSectionSlots)
        return;

    const std::lock_guard<std::mutex> lock (analysisMutex);
    resetSectionAnalysisLocked (section, resetTrim);
}

void QuorvaneProcessor::resetSectionAnalysisLocked (int section, bool resetTrim)
{
    auto& s = sections[(size_t) section];
    s.analysisSeconds.store (0.0f);

    if (resetTrim)
    {
        s.trimStart.store (0.0f);
        s.trimEnd.store (1.0f);
    }

    s.selfHistory.clear();
    s.partnerHistory.clear();
    s.selfFrames.reset();
    s.partnerFrames.reset();
    s.customSelfFrames.reset();
    s.customPartnerFrames.reset();
    s.needsRemeasure.store (false);
    renewHistoryRevision (section);
}

void QuorvaneProcessor::setAllSectionLinkGroup (int group)
{
    const auto g = juce::jlimit (0, 3, group);
    const auto count = juce::jlimit (0, numSectionSlots, numSections.load());
    bool anyDiffers = false;

    for (int i = 0; i < count; ++i)
        if (! sections[(size_t) i].locked.load() && sections[(size_t) i].linkGroup.load() != g)
            anyDiffers = true;

    if (! anyDiffers)
        return;

    pushUndoSnapshot();

    for (int i = 0; i < count; ++i)
        if (! sections[(size_t) i].locked.load())
            sections[(size_t) i].linkGroup.store (g);
}

bool slotMeasurementWouldChange (const SectionSlot& slot)
{
    if (slot.measuring.load() || slot.done.load())
        return true;

    if (std::abs (slot.lufs.load() + 120.0f) > 1.0e-4f || std::abs (slot.elapsedSeconds.load()) > 1.0e-4f)
        return true;

    return slot.history.load() != nullptr || slot.customFrames.load() != nullptr;
}
