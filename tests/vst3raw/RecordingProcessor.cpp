#include "RecordingProcessor.h"

namespace qvntest
{

SinkRecorder& sinkRecorder()
{
    static SinkRecorder recorder;
    return recorder;
}

RecordingProcessor::RecordingProcessor()
    : juce::AudioProcessor (BusesProperties()
                                .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                                .withOutput ("Output", juce::AudioChannelSet::stereo(), true))
{
    juce::StringArray letters;
    for (char c = 'A'; c <= 'P'; ++c)
        letters.add (juce::String::charToString (c));

    addParameter (new juce::AudioParameterChoice ({ "role", 1 }, "Role", juce::StringArray { "-", "Inst", "Vocal" }, 0));
    addParameter (sectionParameter = new juce::AudioParameterChoice ({ "section", 1 }, "Section", letters, 0));

    for (auto& letter : letters)
        addParameter (new juce::AudioParameterFloat ({ "offset_" + letter, 1 }, "Offset " + letter,
                                                     juce::NormalisableRange<float> (-12.0f, 12.0f, 0.1f), 0.0f));

    ++sinkRecorder().liveProcessors;
}

RecordingProcessor::~RecordingProcessor()
{
    --sinkRecorder().liveProcessors;
}

void RecordingProcessor::beginSectionAutomationBlock()
{
    sinkRecorder().events.push_back ({ SinkEvent::begin });
}

void RecordingProcessor::pushSectionAutomationPoint (int sampleOffset, float normalisedValue)
{
    sinkRecorder().events.push_back ({ SinkEvent::sectionPoint, 0, sampleOffset, normalisedValue });
}

void RecordingProcessor::pushOffsetAutomationPoint (int section, int sampleOffset, float normalisedValue)
{
    sinkRecorder().events.push_back ({ SinkEvent::offsetPoint, section, sampleOffset, normalisedValue });
}

void RecordingProcessor::setHostAutomationState (int state)
{
    sinkRecorder().events.push_back ({ SinkEvent::hostState, state });
}

void RecordingProcessor::processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&)
{
    sinkRecorder().events.push_back ({ SinkEvent::block, 0, 0, static_cast<juce::AudioProcessorParameter*> (sectionParameter)->getValue() });
}

} // namespace qvntest

// The wrapper compiled into the test program creates its instances here.
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new qvntest::RecordingProcessor();
}
