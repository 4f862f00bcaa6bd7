// The plug-in state the host stores, and the undo snapshots.

#include "processor/PluginProcessor.h"

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
QuorvaneProcessor::UndoSnapshot QuorvaneProcessor::captureSnapshot() const
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

    for (int i = 0; i < numSectionSlots; ++i)
        snap.offsets[(size_t) i] = getSectionOffset (i);

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
    snap.instOffset = getInstOffsetDb();
    snap.instMatchGain = instMatchGain.load();
    snap.instFrozen = instFrozen.load();
    snap.instMeasuredLufs = instMeasuredLufs.load();
    return snap;
}

void QuorvaneProcessor::pushUndoSnapshot()
{
    undoStack.push_back (captureSnapshot());

    if (undoStack.size() > 50)
        undoStack.erase (undoStack.begin());

    redoStack.clear();
}
