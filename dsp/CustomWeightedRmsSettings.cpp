#include "CustomWeightedRmsSettings.h"

#include <algorithm>
#include <cmath>

namespace
{
    double finiteOr (double value, double fallback)
    {
        return std::isfinite (value) ? value : fallback;
    }
}

void CustomWeightedRmsSettings::normalize()
{
    schemaVersion = 1;

    for (auto& slot : slots)
    {
        slot.type = std::clamp (slot.type, (int32_t) 0, (int32_t) 5);
        slot.frequencyHz = std::clamp (finiteOr (slot.frequencyHz, 1000.0), 20.0, 20000.0);
        slot.gainDb = std::clamp (finiteOr (slot.gainDb, 0.0), -24.0, 24.0);
        slot.q = std::clamp (finiteOr (slot.q, 0.7071067811865476), 0.1, 10.0);

        const auto slope = std::round (10.0 * finiteOr (slot.slopeDbPerOct, 12.0)) / 10.0;
        slot.slopeDbPerOct = std::clamp (slope, 0.0, 96.0);
    }
}

bool CustomWeightedRmsSettings::operator== (const CustomWeightedRmsSettings& other) const
{
    if (schemaVersion != other.schemaVersion)
        return false;

    for (size_t i = 0; i < slots.size(); ++i)
    {
        const auto& a = slots[i];
        const auto& b = other.slots[i];

        if (a.enabled != b.enabled || a.type != b.type
            || ! (a.frequencyHz == b.frequencyHz) || ! (a.gainDb == b.gainDb)
            || ! (a.q == b.q) || ! (a.slopeDbPerOct == b.slopeDbPerOct))
            return false;
    }

    return true;
}
