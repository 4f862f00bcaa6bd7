#include "processor/Vst3Hooks.h"

#include "processor/SectionAutomationSink.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <pluginterfaces/vst/ivstparameterchanges.h>

namespace qvn
{

void vst3BeginAutomationBlock (juce::AudioProcessor* processor) noexcept
{
    if (auto* sink = sinkFor (processor))
        sink->beginSectionAutomationBlock();
}

void vst3ForwardAutomationPoints (juce::AudioProcessor* processor,
                                  juce::AudioProcessorParameter* parameter,
                                  Steinberg::Vst::IParamValueQueue& queue) noexcept
{
    auto* withID = dynamic_cast<juce::AudioProcessorParameterWithID*> (parameter);

    if (withID == nullptr)
        return;

    if (auto* sink = sinkFor (processor))
        forwardAutomationPoints (sink, withID->paramID, queue);
}

void forwardAutomationPoints (SectionAutomationSink* sink,
                              const juce::String& parameterID,
                              Steinberg::Vst::IParamValueQueue& queue) noexcept
{
    if (sink == nullptr)
        return;

    const bool isSection = parameterID == "section";
    const bool isOffset = ! isSection && parameterID.startsWith ("offset_");

    if (! isSection && ! isOffset)
        return;

    const int offsetSection = isOffset ? (int) (parameterID.getLastCharacter() - 'A') : 0;
    const auto numPoints = queue.getPointCount();

    for (Steinberg::int32 i = 0; i < numPoints; ++i)
    {
        Steinberg::int32 sampleOffset = 0;
        Steinberg::Vst::ParamValue value = 0.0;

        // A point the host's queue cannot hand out is left out; the rest still count.
        if (queue.getPoint (i, sampleOffset, value) != Steinberg::kResultTrue)
            continue;

        if (isSection)
            sink->pushSectionAutomationPoint ((int) sampleOffset, (float) value);
        else
            sink->pushOffsetAutomationPoint (offsetSection, (int) sampleOffset, (float) value);
    }
}

} // namespace qvn
