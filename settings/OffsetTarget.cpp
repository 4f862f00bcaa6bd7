#include "settings/OffsetTarget.h"

namespace qvn
{

juce::String normaliseOffsetTargetName (const juce::String& name)
{
    return name.trim().substring (0, kMaxOffsetTargetNameLength);
}

bool isValidOffsetTargetName (const juce::String& name,
                              const std::vector<OffsetTarget>& targets,
                              int skipIndex)
{
    const auto candidate = normaliseOffsetTargetName (name);

    if (candidate.isEmpty() || candidate.equalsIgnoreCase ("None"))
        return false;

    for (size_t i = 0; i < targets.size(); ++i)
    {
        if ((int) i == skipIndex)
            continue;

        if (normaliseOffsetTargetName (targets[i].name).equalsIgnoreCase (candidate))
            return false;
    }

    return true;
}

} // namespace qvn
