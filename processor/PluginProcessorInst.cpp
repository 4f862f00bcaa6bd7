// The Inst instance's measurement of its own track.

#include "processor/PluginProcessor.h"

void QuorvaneProcessor::runInstMeasurement (const juce::AudioBuffer<float>& view)
{
    const auto stop = instStopCounter.load();

    if (stop != seenInstStopCounter)
    {
        seenInstStopCounter = stop;

        if (instMeterActive)
            finalizeInst();

        instMeterActive = false;
    }

    const auto start = instStartCounter.load();

    if (start != seenInstStartCounter)
    {
        seenInstStartCounter = start;
        instMeter.reset(); // no filter state left over from an earlier run
        instMeterActive = true;
        instAnalysisSeconds.store (0.0f);
    }

    if (instMeterActive)
    {
        instMeter.processBlock (view);
        const auto sr = preparedSampleRate;
        instAnalysisSeconds.store (sr > 0.0 ? (float) ((double) instMeter.getSamplesProcessed() / sr) : 0.0f);
        instLiveMomentary.store (instMeter.getMomentaryLUFS());
    }
}
