#include "ui/ChartHelpers.h"
#include "ui/UiTheme.h"

#include <cmath>

namespace qvn::chart
{
juce::Font monoFont (float size, bool bold)
{
    return FlatLookAndFeel::font (size, bold ? juce::Font::bold : juce::Font::plain);
}

std::vector<float> multiplesOfSixBetween (float from, float to, int maxCount)
{
    std::vector<float> out;
    const double first = std::floor ((double) from / 6.0) + 1.0;
    const double last = std::ceil ((double) to / 6.0) - 1.0;
    if (! (last >= first) || last - first + 1.0 > (double) maxCount)
        return out;
    for (double k = first; k <= last; k += 1.0)
    {
        const auto v = (float) (k * 6.0);
        if (v > from && v < to)
            out.push_back (v);
    }
    return out;
}
} // namespace qvn::chart
