#include "processor/PluginProcessor.h"

#include "processor/LinkRegistry.h"

#include <algorithm>

namespace
{
// Until the settings store is in place an instance starts with the transport
// link off, which is also the value of a missing or unreadable setting.
bool readLinkMeasurementToTransportSetting()
{
    return false;
}
} // namespace

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

    linkMeasurementToTransport.store (readLinkMeasurementToTransportSetting());
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
    return new juce::GenericAudioProcessorEditor (*this);
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
    std::vector<std::shared_ptr<LinkSlot>> old;

    {
        const std::lock_guard<std::mutex> lock (partnerMutex);

        if (slots == partnerSlots)
            return;

        old.swap (partnerSlots);
        partnerSlots = std::move (slots);
        partnerCount.store ((int) partnerSlots.size());
        hasPartner.store (! partnerSlots.empty());
        partnerGeneration.fetch_add (1);
    }
    // The old references go outside the lock: a slot whose owner is gone may be
    // destroyed here.
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
    std::uint64_t generation = 1;

    {
        const std::lock_guard<std::mutex> lock (settingsMutex);
        settings = customSettings;
        generation = customSettingsGeneration.load();
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

        for (auto& state : perVocalStates)
            for (int i = 0; i < numSectionSlots; ++i)
                prepareSectionMeters (state->meters[(size_t) i], state->customMeters[(size_t) i]);

        seenSettingsGeneration = ~std::uint64_t {};
    }

    liveShortTermMeter.prepare (sampleRate, 2, 3.0);
    liveShortTermMeter.setFramesEnabled (true);
    liveShortTermMeter.setRecordFrames (false);
    liveShortTermMeter.setRecordBlocks (false);

    liveMomentaryMeter.prepare (sampleRate, 2, 0.4);
    liveMomentaryMeter.setFramesEnabled (false);
    liveMomentaryMeter.setRecordFrames (false);
    liveMomentaryMeter.resetGating();
    liveIntegratedSection = -1;

    liveCustomMeter.prepare (sampleRate, 2, settings, generation);
    liveCustomMeter.setRecordFrames (false);

    instMeter.prepare (sampleRate, 2, 0.4);
    instMeter.setFramesEnabled (false);
    instMeter.resetGating();

    instMeterActive = false;
    instGainDb = instMatchGain.load() + getInstOffsetDb();
    instMeasuringLastBlock = instMeasuring.load();

    sectionGainDb = 0.0f;
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
// The audio path. Until the measurement and gain stages are in place the block
// passes through unchanged; the instance publishes its role and follows its
// partner list.
void QuorvaneProcessor::processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&)
{
    juce::ScopedNoDenormals noDenormals;
    ownSlot->role.store (getRole());
}

//==============================================================================
void QuorvaneProcessor::beginSectionAutomationBlock()
{
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
        triggerAsyncUpdate();
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
            triggerAsyncUpdate();
        }
    }
}

void QuorvaneProcessor::handleAsyncUpdate()
{
    if (roleChangePending.exchange (false))
    {
        auto& registry = LinkRegistry::get();
        const std::lock_guard<std::mutex> lock (registry.mutex);
        registry.rebuildLinks();
    }
}

//==============================================================================
void QuorvaneProcessor::applyMeasurementSettings (int mode, float rmsTime)
{
    const auto t = juce::jlimit (0.5f, 10.0f, rmsTime);
    rmsTimeSec.store (t);

    const auto m = juce::jlimit (0, 2, mode);

    if (m != measMode.load() && measuringSectionIndex() < 0 && ! runHeldOpen.load())
        measMode.store (m);
}

void QuorvaneProcessor::applyCustomWeightedRmsSettings (const CustomWeightedRmsSettings& settings,
                                                        float rmsTime,
                                                        std::uint64_t generation)
{
    auto s = settings;
    s.normalize();
    const auto t = juce::jlimit (0.5f, 10.0f, rmsTime);

    {
        const std::lock_guard<std::mutex> lock (settingsMutex);

        if (customSettings == s && customSettingsGeneration.load() == generation
            && std::abs (rmsTimeSec.load() - t) <= 0.001f)
            return;

        customSettings = s;
        customSettingsGeneration.store (generation);
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

void QuorvaneProcessor::cancelActiveMeasurementsForSettingsChange()
{
    auto& slot = *ownSlot;
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

//==============================================================================
void QuorvaneProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    if (auto xml = parameters.copyState().createXml())
        copyXmlToBinary (*xml, destData);
}

void QuorvaneProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    if (auto xml = getXmlFromBinary (data, sizeInBytes))
        if (xml->hasTagName (parameters.state.getType()))
            parameters.replaceState (juce::ValueTree::fromXml (*xml));
}

//==============================================================================
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new QuorvaneProcessor();
}
