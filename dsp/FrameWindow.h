#pragma once

#include <algorithm>
#include <cstdint>

namespace qvn
{
struct FrameWindowSum
{
    double energy = 0.0;
    int64_t samples = 0;
};

// The newest `window` samples of a meter's analysis frames: the frame being
// filled, then the finished frames of the ring from the newest back, the
// oldest frame taken counted in proportion. `write` is the ring slot the next
// finished frame goes to and `count` how many slots hold frames.
template <typename Frame, typename Ring>
FrameWindowSum newestFrameSamples (const Frame& current, const Ring& ring, int32_t write, int32_t count, int64_t window)
{
    FrameWindowSum sum;

    auto take = [&] (const auto& f)
    {
        const auto n = (int64_t) f.numSamples;
        const auto part = std::min (window - sum.samples, n);
        sum.energy += f.energy * ((double) part / (double) n);
        sum.samples += part;
    };

    if (current.numSamples > 0)
        take (current);

    const auto size = (int32_t) ring.size();
    auto index = write;

    for (int32_t i = 0; size > 0 && i < count && sum.samples < window; ++i)
    {
        index = index <= 0 ? size - 1 : index - 1;
        const auto& f = ring[(size_t) index];

        if (f.numSamples > 0)
            take (f);
    }

    return sum;
}
} // namespace qvn
