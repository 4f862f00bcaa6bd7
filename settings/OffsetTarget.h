#pragma once

#include <juce_core/juce_core.h>

#include <vector>

namespace qvn
{

// A named guide range for the Offset Gain slider, shared by every instance
// through the user settings file.
struct OffsetTarget
{
    juce::String name; // trimmed, at most kMaxOffsetTargetNameLength characters
    float lo = 0.0f;   // dB
    float hi = 0.0f;   // dB
};

inline constexpr int kMaxOffsetTargetNameLength = 24;

// The name as it is stored: trimmed and cut to its first 24 characters.
juce::String normaliseOffsetTargetName (const juce::String& name);

// True when `name`, trimmed and cut to 24 characters, is not empty, is not
// "None" (ignoring case) and equals, ignoring case, the name of no other
// target in `targets`. `skipIndex` is the entry being edited (or -1).
// The settings reader and the editor's target popup both use this one rule.
bool isValidOffsetTargetName (const juce::String& name,
                              const std::vector<OffsetTarget>& targets,
                              int skipIndex);

} // namespace qvn
