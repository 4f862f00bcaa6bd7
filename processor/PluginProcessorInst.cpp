// The Inst instance's measurement of its own track.

#include "processor/PluginProcessor.h"

void QuorvaneProcessor::runInstMeasurement (const juce::AudioBuffer<float>& view)
{
    // The INST meter belongs to whichever thread holds the finishing guard.
    // While another thread finishes a stop from the meter's blocks, this block
    // leaves the INST measurement alone; its counters wait for the next block.
    bool expected = false;

    if (! instFinalizeBusy.compare_exchange_strong (expected, true))
        return;

    const auto stop = instStopCounter.load();

    if (stop != seenInstStopCounter)
    {
        seenInstStopCounter = stop;

        // A start made before this stop that no block has seen yet: that run
        // begins and ends here, in the order the two were made, so the stop is
        // never lost behind it.
        const auto ends = instStopEndsStart.load();

        if (counterIsAfter (ends, seenInstStartCounter) && ends == instStartCounter.load())
            startInstRun (ends);

        if (instMeterActive)
            finishInstStop();

        instMeterActive = false;
    }

    const auto start = instStartCounter.load();

    if (start != seenInstStartCounter)
        startInstRun (start);

    if (instMeterActive)
    {
        instMeter.processBlock (view);
        const auto sr = preparedSampleRate;
        instAnalysisSeconds.store (sr > 0.0 ? (float) ((double) instMeter.getSamplesProcessed() / sr) : 0.0f);
        instLiveMomentary.store (instMeter.getMomentaryLUFS());
    }

    instFinalizeBusy.store (false);
}

void QuorvaneProcessor::startInstRun (int start)
{
    seenInstStartCounter = start;
    instMeter.reset(); // no filter state left over from an earlier run
    instMeterActive = true;
    instAnalysisSeconds.store (0.0f);

    // The gain stage of this thread writes the Match Gain back every block;
    // dropping the earlier result here, on the same thread, means no block
    // can restore it after the start cleared it.
    instMeasuredLufs.store (-120.0f);
    instMatchGain.store (0.0f);
}
