#pragma once

namespace juce
{
    class AudioProcessor;
    class AudioProcessorParameter;
    class String;
}

namespace Steinberg { namespace Vst { class IParamValueQueue; } }

namespace qvn
{

class SectionAutomationSink;

/*  Entry points called from the VST3 wrapper's process call (audio thread).
    They reach the processor's SectionAutomationSink through sinkFor and do
    nothing when the processor has none.
*/

/** Announces a new process call, before any parameter queue is read. */
void vst3BeginAutomationBlock (juce::AudioProcessor* processor) noexcept;

/** Passes every point of one input parameter queue on to the sink when the
    parameter is "section" or one of the "offset_" parameters. Called before
    the wrapper applies the queue's last point as the parameter's value.
*/
void vst3ForwardAutomationPoints (juce::AudioProcessor* processor,
                                  juce::AudioProcessorParameter* parameter,
                                  Steinberg::Vst::IParamValueQueue& queue) noexcept;

/** The forwarding itself, for a parameter identifier and a sink. */
void forwardAutomationPoints (SectionAutomationSink* sink,
                              const juce::String& parameterID,
                              Steinberg::Vst::IParamValueQueue& queue) noexcept;

} // namespace qvn
