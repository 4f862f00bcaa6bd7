#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

namespace qvn
{

/** Lets the VST3 edit controller answer the host's automation read/write
    state (Steinberg::Vst::IAutomationState) and pass it to the processor's
    SectionAutomationSink.

    The audio processor derives from this class: the framework's wrapper asks
    a processor that is a juce::VST3ClientExtensions for extra controller
    interfaces. It can only do so once the host has connected component and
    controller, because only then does the controller know its processor.
*/
class Vst3ControllerExtensions : public juce::VST3ClientExtensions
{
public:
    Vst3ControllerExtensions();
    ~Vst3ControllerExtensions() override;

    int32_t queryIEditController (const Steinberg::TUID iid, void** obj) override;

private:
    class AutomationState;

    // Reference-counted; this object holds one reference and the host one per
    // successful query. It may outlive the processor, so it is cut off from
    // the sink when this object goes.
    AutomationState* automationState = nullptr;

    JUCE_DECLARE_NON_COPYABLE (Vst3ControllerExtensions)
};

} // namespace qvn
