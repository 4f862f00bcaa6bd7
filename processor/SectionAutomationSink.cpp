#include "processor/SectionAutomationSink.h"

#include <juce_audio_processors/juce_audio_processors.h>

namespace qvn
{

SectionAutomationSink* sinkFor (juce::AudioProcessor* processor) noexcept
{
    // A cross-cast: the wrapper needs no knowledge of the concrete processor.
    return dynamic_cast<SectionAutomationSink*> (processor);
}

} // namespace qvn
