#pragma once

#include <juce_graphics/juce_graphics.h>

#include <algorithm>
#include <cmath>
#include <vector>

// Pieces shared by the meter bars and the learn-history chart: clamping of
// levels into their drawing range, the monospace font and the 6 dB grid.
namespace qvn::chart
{
// A clamp that tolerates an inverted interval (tiny components) without asserting.
inline float clampf (float v, float lo, float hi) noexcept { return std::max (lo, std::min (v, hi)); }

// 0..1; a non-finite value (a level not yet measured) counts as 0.
inline float clamp01 (float v) noexcept { return std::isfinite (v) ? clampf (v, 0.0f, 1.0f) : 0.0f; }

juce::Font monoFont (float size, bool bold);

// Multiples of 6 strictly inside (from, to); none when there would be more than
// maxCount of them (a degenerate range must not cost unbounded drawing time).
std::vector<float> multiplesOfSixBetween (float from, float to, int maxCount);
} // namespace qvn::chart
