#pragma once

#include <juce_core/juce_core.h>

#include <memory>

namespace qvn
{
    // True when the framework's XML parser can take the text safely: no
    // DOCTYPE (entity expansion without bounds), no processing instruction
    // after the XML declaration (the parser loops forever on one followed by
    // text inside an element), no element nested deeper than maxDepth
    // (unbounded recursion). The framework's writer never produces any of
    // these, so text this system stored always passes.
    bool isSafeStoredMarkup (const juce::String& text, int maxDepth = 64) noexcept;

    // Parses XML text that this system stored (a plug-in state, a settings
    // value, a value written with the state codecs). Returns null for text
    // that isSafeStoredMarkup refuses or that does not parse.
    std::unique_ptr<juce::XmlElement> parseStoredXml (const juce::String& text, int maxDepth = 64);
} // namespace qvn
