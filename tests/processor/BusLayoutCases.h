#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <vector>

namespace qvn::test
{
/** A main-bus layout offered to the plug-in and whether it must accept it:
    only equal mono or stereo input and output. */
struct BusLayoutCase
{
    juce::AudioChannelSet in, out;
    bool ok;

    juce::AudioProcessor::BusesLayout layout() const
    {
        juce::AudioProcessor::BusesLayout l;
        l.inputBuses.add (in);
        l.outputBuses.add (out);
        return l;
    }

    juce::String description() const { return in.getDescription() + " -> " + out.getDescription(); }
};

inline std::vector<BusLayoutCase> busLayoutCases()
{
    using CS = juce::AudioChannelSet;
    return {
        { CS::mono(), CS::mono(), true },
        { CS::stereo(), CS::stereo(), true },
        { CS::mono(), CS::stereo(), false },
        { CS::stereo(), CS::mono(), false },
        { CS::create5point1(), CS::create5point1(), false },
        { CS::quadraphonic(), CS::quadraphonic(), false },
    };
}
} // namespace qvn::test
