#include "processor/PluginProcessor.h"

QuorvaneProcessor::QuorvaneProcessor()
    : juce::AudioProcessor (BusesProperties()
                                .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                                .withOutput ("Output", juce::AudioChannelSet::stereo(), true))
{
}

QuorvaneProcessor::~QuorvaneProcessor() = default;

void QuorvaneProcessor::prepareToPlay (double, int) {}

bool QuorvaneProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    const auto in = layouts.getMainInputChannelSet();
    const auto out = layouts.getMainOutputChannelSet();
    if (in != out)
        return false;
    return in == juce::AudioChannelSet::mono() || in == juce::AudioChannelSet::stereo();
}

void QuorvaneProcessor::processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) {}

juce::AudioProcessorEditor* QuorvaneProcessor::createEditor()
{
    return new juce::GenericAudioProcessorEditor (*this);
}

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new QuorvaneProcessor();
}
