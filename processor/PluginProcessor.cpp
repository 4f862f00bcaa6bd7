#include "processor/PluginProcessor.h"
#include "editor/PluginEditor.h"

#include "processor/LinkRegistry.h"
#include "settings/AppSettings.h"

#include <algorithm>

//==============================================================================
QuorvaneProcessor::SectionState::SectionState (const SectionState& other)
{
    *this = other;
}

QuorvaneProcessor::SectionState& QuorvaneProcessor::SectionState::operator= (const SectionState& other)
{
    if (this == &other)
        return *this;

    frozen.store (other.frozen.load());
    selfLufs.store (other.selfLufs.load());
    partnerLufs.store (other.partnerLufs.load());
    gainDb.store (other.gainDb.load());
    seconds.store (other.seconds.load());
    analysisSeconds.store (other.analysisSeconds.load());
    trimStart.store (other.trimStart.load());
    trimEnd.store (other.trimEnd.load());
    selfHistory = other.selfHistory;
    partnerHistory = other.partnerHistory;
    selfFrames = other.selfFrames;
    partnerFrames = other.partnerFrames;
    customSelfFrames = other.customSelfFrames;
    customPartnerFrames = other.customPartnerFrames;
    needsRemeasure.store (other.needsRemeasure.load());
    bypass.store (other.bypass.load());
    locked.store (other.locked.load());
    linkGroup.store (other.linkGroup.load());
    return *this;
}

//==============================================================================
juce::String QuorvaneProcessor::offsetParameterId (int section)
{
    return "offset_" + juce::String::charToString ((juce::juce_wchar) ('A' + juce::jlimit (0, numSectionSlots - 1, section)));
}

juce::AudioProcessorValueTreeState::ParameterLayout QuorvaneProcessor::createParameterLayout()
{
    juce::AudioProcessorValueTreeState::ParameterLayout layout;

    layout.add (std::make_unique<juce::AudioParameterChoice> (juce::ParameterID { ids::role, 1 }, "Role",
                                                              juce::StringArray { juce::String (juce::CharPointer_UTF8 ("\xe2\x80\x94")), "Inst", "Vocal" },
                                                              0));

    juce::StringArray letters;
    for (int i = 0; i < numSectionSlots; ++i)
        letters.add (juce::String::charToString ((juce::juce_wchar) ('A' + i)));

    layout.add (std::make_unique<juce::AudioParameterChoice> (juce::ParameterID { ids::section, 1 }, "Section", letters, 0));

    for (int i = 0; i < numSectionSlots; ++i)
        layout.add (std::make_unique<juce::AudioParameterFloat> (juce::ParameterID { offsetParameterId (i), 1 },
                                                                 "Offset " + letters[i],
                                                                 juce::NormalisableRange<float> (-12.0f, 12.0f, 0.1f, 1.0f),
                                                                 0.0f,
                                                                 juce::AudioParameterFloatAttributes().withLabel ("dB")));

    layout.add (std::make_unique<juce::AudioParameterFloat> (juce::ParameterID { ids::targetLufs, 1 }, "Target LUFS",
                                                             juce::NormalisableRange<float> (-36.0f, -6.0f, 0.1f, 1.0f),
                                                             -18.0f,
                                                             juce::AudioParameterFloatAttributes().withLabel ("LUFS")));

    layout.add (std::make_unique<juce::AudioParameterFloat> (juce::ParameterID { ids::instOffset, 1 }, "Inst Offset",
                                                             juce::NormalisableRange<float> (-6.0f, 6.0f, 0.1f, 1.0f),
                                                             0.0f,
                                                             juce::AudioParameterFloatAttributes().withLabel ("dB")));
    return layout;
}

//==============================================================================
QuorvaneProcessor::QuorvaneProcessor()
    : juce::AudioProcessor (BusesProperties()
                                .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                                .withOutput ("Output", juce::AudioChannelSet::stereo(), true)),
      parameters (*this, nullptr, "params", createParameterLayout()),
      ownSlot (std::make_shared<LinkSlot>())
{
    parameters.addParameterListener (ids::role, this);
    parameters.addParameterListener (ids::section, this);
    parameters.addParameterListener (ids::targetLufs, this);
    parameters.addParameterListener (ids::instOffset, this);

    for (int i = 0; i < numSectionSlots; ++i)
        parameters.addParameterListener (offsetParameterId (i), this);

    // Room for the partner lists the audio thread keeps, so that relinking does
    // not allocate there.
    constexpr size_t partnerRoom = 64;
    audioPartnerSlots.reserve (partnerRoom);
    perVocalStates.reserve (partnerRoom);
    retiredPartnerSlots.reserve (partnerRoom);
    retiredVocalStates.reserve (partnerRoom);

    instOffsetValue = parameters.getRawParameterValue (ids::instOffset);
    targetLufsValue = parameters.getRawParameterValue (ids::targetLufs);
    roleValue = parameters.getRawParameterValue (ids::role);
    sectionValue = parameters.getRawParameterValue (ids::section);

    for (int i = 0; i < numSectionSlots; ++i)
        offsetValues[(size_t) i] = parameters.getRawParameterValue (offsetParameterId (i));

    {
        auto& registry = LinkRegistry::get();
        const std::lock_guard<std::mutex> lock (registry.mutex);

        if (std::find (registry.instances.begin(), registry.instances.end(), this) == registry.instances.end())
            registry.instances.push_back (this);

        registry.rebuildLinks();
    }

    linkMeasurementToTransport.store (AppSettings::get().linkMeasurementToTransport());
}

QuorvaneProcessor::~QuorvaneProcessor()
{
    {
        auto& registry = LinkRegistry::get();
        const std::lock_guard<std::mutex> lock (registry.mutex);
        auto& list = registry.instances;
        list.erase (std::remove (list.begin(), list.end(), this), list.end());
        registry.rebuildLinks();
    }

    for (int i = numSectionSlots; --i >= 0;)
        parameters.removeParameterListener (offsetParameterId (i), this);

    parameters.removeParameterListener (ids::instOffset, this);
    parameters.removeParameterListener (ids::targetLufs, this);
    parameters.removeParameterListener (ids::section, this);
    parameters.removeParameterListener (ids::role, this);

    // With the listeners gone nothing can ask for an update any more; one still
    // pending must not run on members that are about to be destroyed (the base
    // class would cancel it only after they are gone).
    cancelPendingUpdate();
}

//==============================================================================
bool QuorvaneProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    if (layouts.inputBuses.isEmpty() || layouts.outputBuses.isEmpty())
        return false;

    const auto out = layouts.getMainOutputChannelSet();
    const auto in = layouts.getMainInputChannelSet();

    if (out != juce::AudioChannelSet::mono() && out != juce::AudioChannelSet::stereo())
        return false;

    return in == out;
}

juce::AudioProcessorEditor* QuorvaneProcessor::createEditor()
{
    return new QuorvaneEditor (*this);
}

//==============================================================================
int QuorvaneProcessor::getRole() const noexcept
{
    return roleValue != nullptr ? (int) roleValue->load() : 0;
}

float QuorvaneProcessor::getSectionOffset (int section) const
{
    const auto* value = offsetValues[(size_t) juce::jlimit (0, numSectionSlots - 1, section)];
    return value != nullptr ? value->load() : 0.0f;
}

float QuorvaneProcessor::getInstOffsetDb() const noexcept
{
    return instOffsetValue != nullptr ? instOffsetValue->load() : 0.0f;
}

float QuorvaneProcessor::getTargetLufs() const noexcept
{
    return targetLufsValue != nullptr ? targetLufsValue->load() : -18.0f;
}

int QuorvaneProcessor::measuringSectionIndex() const
{
    for (int i = 0; i < numSectionSlots; ++i)
        if (ownSlot->ownSections[(size_t) i].measuring.load())
            return i;

    return -1;
}

void QuorvaneProcessor::setOffsetTargetName (const juce::String& name)
{
    const auto t = name.trim().substring (0, 24);
    const std::lock_guard<std::mutex> lock (partnerMutex);
    offsetTarget = t;
}

void QuorvaneProcessor::setPartnerSlots (std::vector<std::shared_ptr<LinkSlot>> slots)
{
    std::vector<std::shared_ptr<LinkSlot>> newSlots;
    double sampleRate = 0.0;

    {
        const std::lock_guard<std::mutex> lock (partnerMutex);

        if (slots == partnerSlots)
            return;

        for (auto& s : slots)
        {
            bool known = std::find (partnerSlots.begin(), partnerSlots.end(), s) != partnerSlots.end();

            for (auto& prepared : preparedVocalStates)
                known = known || (prepared != nullptr && prepared->slot == s);

            if (! known)
                newSlots.push_back (s);
        }

        sampleRate = preparedSampleRate;
    }

    // The measuring state for a new partner holds 32 meters: it is built and
    // prepared here, off the audio thread, which then only adopts it.
    CustomWeightedRmsSettings settings;
    std::uint64_t generation = 1, serial = 0;

    if (! newSlots.empty())
    {
        const std::lock_guard<std::mutex> lock (settingsMutex);
        settings = customSettings;
        generation = customSettingsGeneration.load();
        serial = customSettingsSerial.load();
    }

    std::vector<std::unique_ptr<PerVocalState>> built;

    for (auto& s : newSlots)
    {
        built.push_back (makePerVocalState (s, sampleRate, settings, generation));
        built.back()->settingsSerial = serial;
    }

    std::vector<std::shared_ptr<LinkSlot>> oldSlots;
    std::vector<std::unique_ptr<PerVocalState>> dropped;

    {
        const std::lock_guard<std::mutex> lock (partnerMutex);

        oldSlots.swap (partnerSlots);
        partnerSlots = std::move (slots);
        partnerCount.store ((int) partnerSlots.size());
        hasPartner.store (! partnerSlots.empty());
        partnerGeneration.fetch_add (1);

        for (auto& state : built)
        {
            if (preparedSampleRate != sampleRate)
            {
                for (int i = 0; i < numSectionSlots; ++i)
                {
                    state->meters[(size_t) i].prepare (preparedSampleRate, 2, 0.4);
                    state->customMeters[(size_t) i].prepare (preparedSampleRate, 2, settings, generation);
                }
            }

            preparedVocalStates.push_back (std::move (state));
        }

        // Prepared states for partners that left before the audio thread took them.
        for (auto& prepared : preparedVocalStates)
            if (prepared != nullptr && std::find (partnerSlots.begin(), partnerSlots.end(), prepared->slot) == partnerSlots.end())
                dropped.push_back (std::move (prepared));

        preparedVocalStates.erase (std::remove (preparedVocalStates.begin(), preparedVocalStates.end(), nullptr),
                                   preparedVocalStates.end());
    }
    // The old references and dropped states go outside the lock: a slot whose
    // owner is gone may be destroyed here.
}

void QuorvaneProcessor::releaseRetiredPartnerState()
{
    std::vector<std::shared_ptr<LinkSlot>> slots;
    std::vector<std::unique_ptr<PerVocalState>> states;

    {
        const std::lock_guard<std::mutex> lock (partnerMutex);

        for (auto& s : retiredPartnerSlots)
            slots.push_back (std::move (s));

        for (auto& s : retiredVocalStates)
            states.push_back (std::move (s));

        // clear() keeps the capacity, so the audio thread can retire without allocating.
        retiredPartnerSlots.clear();
        retiredVocalStates.clear();
    }
}

void QuorvaneProcessor::setInstanceName (const juce::String& name)
{
    const auto t = name.trim();

    {
        const std::lock_guard<std::mutex> lock (partnerMutex);
        instanceName = t;
    }

    ownSlot->name.store (std::make_shared<const std::string> (t.toStdString()));
}

void QuorvaneProcessor::renewHistoryRevision (int index) noexcept
{
    historyRevision[(size_t) index].store (revisionCounter.fetch_add (1) + 1);
}

//==============================================================================
void QuorvaneProcessor::prepareToPlay (double sampleRate, int)
{
    cancelRunningMeasurementsForRestart();

    processCallThread.store (std::thread::id {});
    samplesSinceAsyncUpdate = 0;

    if (asyncUpdateDeferred.exchange (false))
        triggerAsyncUpdate();

    {
        const std::lock_guard<std::mutex> lock (partnerMutex);
        preparedSampleRate = sampleRate;
    }

    // Section tracking restarts from the section parameter.
    const auto maxSection = std::max (numSections.load(), 1) - 1;
    const auto target = juce::jlimit (0, maxSection, sectionValue != nullptr ? juce::roundToInt (sectionValue->load()) : 0);
    sectionCommit = SectionCommit {};
    sectionCommit.committed = juce::jlimit (0, numSectionSlots - 1, target);
    sectionCommit.initialised = true;
    committedSection.store (sectionCommit.committed);
    playbackSamples = 0;
    pointFollow = false;
    followAutomation.store (false);
    playHeadSeen.store (false);
    uiCommitThisBlock = false;
    sectionRun.candidateFromEditor = false;

    CustomWeightedRmsSettings settings;
    std::uint64_t generation = 1, serial = 0;

    {
        const std::lock_guard<std::mutex> lock (settingsMutex);
        settings = customSettings;
        generation = customSettingsGeneration.load();
        serial = customSettingsSerial.load();
    }

    const auto prepareSectionMeters = [&] (LoudnessMeter& meter, CustomWeightedRmsMeter& custom)
    {
        meter.prepare (sampleRate, 2, 0.4);
        meter.setFramesEnabled (true);
        custom.prepare (sampleRate, 2, settings, generation);
        custom.setRecordFrames (true);
    };

    for (int i = 0; i < numSectionSlots; ++i)
        prepareSectionMeters (sectionMeters[(size_t) i], sectionCustomMeters[(size_t) i]);

    {
        const std::lock_guard<std::mutex> lock (partnerMutex);

        for (auto* list : { &perVocalStates, &preparedVocalStates })
        {
            for (auto& state : *list)
            {
                if (state == nullptr)
                    continue;

                for (int i = 0; i < numSectionSlots; ++i)
                    prepareSectionMeters (state->meters[(size_t) i], state->customMeters[(size_t) i]);

                state->settingsSerial = serial;
            }
        }

        seenSettingsSerial = ~std::uint64_t {};
    }

    liveShortTermMeter.prepare (sampleRate, 2, 3.0);
    liveShortTermMeter.setFramesEnabled (true);
    liveShortTermMeter.setRecordFrames (false);
    liveShortTermMeter.setRecordBlocks (false);

    liveMomentaryMeter.prepare (sampleRate, 2, 0.4);
    liveMomentaryMeter.setFramesEnabled (false);
    liveMomentaryMeter.setRecordFrames (false);
    // The live integrated value may run for hours on one section: it comes
    // from a histogram of bounded size, not from a list of every block.
    liveMomentaryMeter.setRecordBlocks (false);
    liveMomentaryMeter.setGatingHistogram (true);
    liveMomentaryMeter.resetGating();
    liveIntegratedSection = -1;

    liveCustomMeter.prepare (sampleRate, 2, settings, generation);
    liveCustomMeter.setRecordFrames (false);

    instMeter.prepare (sampleRate, 2, 0.4);
    instMeter.setFramesEnabled (false);
    instMeter.resetGating();

    instMeterActive = false;
    // The gain starts where the current view state puts it, so a reactivation
    // never ramps the instrumental from a gain it is not meant to have.
    instMeasuringLastBlock = instMeasuring.load();
    instGainDb = instGainTargetDb (instMeasuringLastBlock);
    instGainRamp = { GainRamp::linear (instGainDb), GainRamp::linear (instGainDb), 0, 0 };

    sectionGainDb = 0.0f;
    sectionGainRamp = {};
    gainSection = -1;
    gainSectionWasMeasured = false;

    sectionAutomationQueue.clear();
    blockAnnounced = false;

    ownMeasuringSection = -1;
    sectionRun.runSection = -1;
    sectionRun.candidate = -1;
    sectionRun.candidateSamples = 0;
}

//==============================================================================
void QuorvaneProcessor::parameterChanged (const juce::String& parameterID, float newValue)
{
    if (parameterID == ids::role)
    {
        // Only a flag here: this may be the audio thread, and relinking takes
        // the registry mutex. The rebuild happens on the message thread.
        roleChangePending.store (true);
        triggerAsyncUpdate();
        return;
    }

    if (parameterID == ids::section)
        return;

    if (parameterID == ids::targetLufs)
    {
        targetLufsChanged.store (true);
        return;
    }

    if (parameterID == ids::instOffset)
    {
        if (internalParamWrite.load())
            return;

        instOffsetChangePending.store (true);
        requestUpdateFromListener();
        return;
    }

    if (parameterID.startsWith ("offset_"))
    {
        if (internalParamWrite.load())
            return;

        const auto letter = parameterID.getLastCharacter();
        const auto i = juce::jlimit (0, numSectionSlots - 1, (int) (letter - 'A'));
        const auto bit = (std::uint32_t) 1 << i;

        if (sections[(size_t) i].locked.load())
        {
            if (std::abs (storedOffsets[(size_t) i].load() - newValue) > 0.0001f)
            {
                offsetRevertMask.fetch_or (bit);
                triggerAsyncUpdate();
            }
        }
        else
        {
            offsetChangedMask.fetch_or (bit);
            requestUpdateFromListener();
        }
    }
}

void QuorvaneProcessor::requestUpdateFromListener()
{
    // Host automation reaches the listener on the audio thread inside a
    // process call, in every block while a lane moves. Posting there would
    // take the framework's message-queue lock and make a system call per
    // block; the request is kept and posted at most every 25 ms of audio by
    // the end of the block (the flags and masks it serves are already set).
    if (processCallThread.load() == std::this_thread::get_id())
        asyncUpdateDeferred.store (true);
    else
        triggerAsyncUpdate();
}

void QuorvaneProcessor::postDeferredUpdate (int numSamples, bool playing)
{
    samplesSinceAsyncUpdate = (int) std::min<std::int64_t> ((std::int64_t) samplesSinceAsyncUpdate + std::max (numSamples, 0),
                                                            1 << 30);
    const auto interval = preparedSampleRate > 0.0 ? (int) (0.025 * preparedSampleRate) : 0;

    if (asyncUpdateDeferred.load() && (samplesSinceAsyncUpdate >= interval || ! playing))
    {
        asyncUpdateDeferred.store (false);
        samplesSinceAsyncUpdate = 0;
        triggerAsyncUpdate();
    }

    processCallThread.store (std::thread::id {});
}

void QuorvaneProcessor::releaseResources()
{
    processCallThread.store (std::thread::id {});

    if (asyncUpdateDeferred.exchange (false))
        triggerAsyncUpdate();
}

void QuorvaneProcessor::processBlockBypassed (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    juce::AudioProcessor::processBlockBypassed (buffer, midi);
    processCallThread.store (std::thread::id {});

    if (asyncUpdateDeferred.exchange (false))
        triggerAsyncUpdate();
}

void QuorvaneProcessor::handleAsyncUpdate()
{
    releaseRetiredPartnerState();

    if (roleChangePending.exchange (false))
    {
        auto& registry = LinkRegistry::get();
        const std::lock_guard<std::mutex> lock (registry.mutex);
        registry.rebuildLinks();
    }

    // Starts that waited for playback.
    if (deferredSectionStart.exchange (false))
    {
        const auto s = deferredSectionIndex.exchange (-1);

        if (s >= 0 && s < numSectionSlots && ! sections[(size_t) s].locked.load())
            beginSectionMeasurement (s);
    }

    if (deferredInstStart.exchange (false))
        startInstMeasurement();

    handleOffsetEdits();
}

//==============================================================================
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new QuorvaneProcessor();
}
