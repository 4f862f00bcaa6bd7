#pragma once

namespace juce { class AudioProcessor; }

namespace qvn
{

/** Receives what the VST3 wrapper knows beyond a parameter's last value per
    block: every automation point of the "section" and "offset_" parameters
    with its sample offset, and the host's automation read/write state.

    The block and point calls are made on the audio thread inside the host's
    process call, before processBlock. setHostAutomationState is called on
    whichever thread the host uses for the edit controller.
*/
class SectionAutomationSink
{
public:
    virtual ~SectionAutomationSink() = default;

    /** Starts a new block: the points of the previous block are discarded. */
    virtual void beginSectionAutomationBlock() = 0;

    /** One point of the "section" parameter. */
    virtual void pushSectionAutomationPoint (int sampleOffset, float normalisedValue) = 0;

    /** One point of an "offset_" parameter; section 0 is "offset_A". */
    virtual void pushOffsetAutomationPoint (int section, int sampleOffset, float normalisedValue) = 0;

    /** The host's automation state as VST3 flags: 1 reading, 2 writing. */
    virtual void setHostAutomationState (int state) = 0;
};

/** The sink of a processor, or nullptr when there is none (or no processor). */
SectionAutomationSink* sinkFor (juce::AudioProcessor* processor) noexcept;

} // namespace qvn
