#pragma once

// A plug-in processor for the wrapper tests: it implements the automation
// sink and records, in order, every call the wrapper makes on it.

#include "processor/SectionAutomationSink.h"
#include "processor/Vst3ControllerExtensions.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <ostream>
#include <vector>

namespace qvntest
{

struct SinkEvent
{
    enum Kind { begin, sectionPoint, offsetPoint, hostState, block };

    Kind kind;
    int section = 0;      // offset points: the section; hostState: the state
    int sampleOffset = 0;
    float value = 0.0f;   // block: the "section" parameter's value seen by processBlock

    bool operator== (const SinkEvent& other) const
    {
        return kind == other.kind && section == other.section
            && sampleOffset == other.sampleOffset && value == other.value;
    }
};

inline void PrintTo (const SinkEvent& e, std::ostream* os)
{
    static const char* names[] = { "begin", "sectionPoint", "offsetPoint", "hostState", "block" };
    *os << "{" << names[e.kind] << " s=" << e.section << " at=" << e.sampleOffset << " v=" << e.value << "}";
}

/** What the processors created through createPluginFilter record into. */
struct SinkRecorder
{
    std::vector<SinkEvent> events;
    int liveProcessors = 0;
};

/** Set by a test before it creates instances; read by every RecordingProcessor. */
SinkRecorder& sinkRecorder();

/** Records sink calls; used directly by unit tests. */
class RecordingSink : public qvn::SectionAutomationSink
{
public:
    std::vector<SinkEvent> events;

    void beginSectionAutomationBlock() override                   { events.push_back ({ SinkEvent::begin }); }
    void pushSectionAutomationPoint (int offset, float v) override { events.push_back ({ SinkEvent::sectionPoint, 0, offset, v }); }
    void pushOffsetAutomationPoint (int s, int offset, float v) override { events.push_back ({ SinkEvent::offsetPoint, s, offset, v }); }
    void setHostAutomationState (int state) override              { events.push_back ({ SinkEvent::hostState, state }); }
};

/** A processor with the product's "section" and "offset_" parameters plus
    one unrelated parameter, recording into sinkRecorder(). */
class RecordingProcessor : public juce::AudioProcessor,
                           public qvn::SectionAutomationSink,
                           public qvn::Vst3ControllerExtensions
{
public:
    RecordingProcessor();
    ~RecordingProcessor() override;

    void beginSectionAutomationBlock() override;
    void pushSectionAutomationPoint (int sampleOffset, float normalisedValue) override;
    void pushOffsetAutomationPoint (int section, int sampleOffset, float normalisedValue) override;
    void setHostAutomationState (int state) override;

    void prepareToPlay (double, int) override {}
    void releaseResources() override {}
    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;

    juce::AudioProcessorEditor* createEditor() override { return nullptr; }
    bool hasEditor() const override { return false; }
    const juce::String getName() const override { return "Recording"; }
    bool acceptsMidi() const override { return false; }
    bool producesMidi() const override { return false; }
    double getTailLengthSeconds() const override { return 0.0; }
    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int) override {}
    const juce::String getProgramName (int) override { return {}; }
    void changeProgramName (int, const juce::String&) override {}
    void getStateInformation (juce::MemoryBlock&) override {}
    void setStateInformation (const void*, int) override {}

    juce::AudioParameterChoice* sectionParameter = nullptr;
};

/** A processor that is not a sink. */
class PlainProcessor : public juce::AudioProcessor
{
public:
    PlainProcessor() : juce::AudioProcessor (BusesProperties()) {}
    void prepareToPlay (double, int) override {}
    void releaseResources() override {}
    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override {}
    juce::AudioProcessorEditor* createEditor() override { return nullptr; }
    bool hasEditor() const override { return false; }
    const juce::String getName() const override { return "Plain"; }
    bool acceptsMidi() const override { return false; }
    bool producesMidi() const override { return false; }
    double getTailLengthSeconds() const override { return 0.0; }
    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int) override {}
    const juce::String getProgramName (int) override { return {}; }
    void changeProgramName (int, const juce::String&) override {}
    void getStateInformation (juce::MemoryBlock&) override {}
    void setStateInformation (const void*, int) override {}
};

} // namespace qvntest
