// Helper of the Ardour section test: compares the session's export through
// QUORVANE with the export of the same session with the plug-in deactivated,
// sample by sample, against the gain the section automation should give.
//
//   qvn_ardour_render_check OUT.wav REF.wav FROM_DB TO_DB POINT [POINT ...]
//
// Before the first point the gain is FROM_DB; each point switches between the
// two gains, holding the old one on the point's own sample and reaching the
// new one by a linear ramp of 3 ms (144 samples at 48 kHz). Prints, per
// point, the last sample at the old gain, the first at the new one and the
// ramp length seen in the render; exits 0 when every sample matches.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace
{
/** A 32-bit float WAV file (what the export writes with -b float): its
    samples, channels interleaved. */
struct Render
{
    int channels = 0;
    std::vector<float> samples;

    long length() const { return channels > 0 ? (long) samples.size() / channels : 0; }
    float at (int channel, long t) const { return samples[(size_t) (t * channels + channel)]; }
};

bool readWav (const char* path, Render& render)
{
    std::ifstream in (path, std::ios::binary);
    const std::vector<char> d ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char>());

    if (d.size() < 12 || std::memcmp (d.data(), "RIFF", 4) != 0 || std::memcmp (d.data() + 8, "WAVE", 4) != 0)
        return false;

    const auto u16 = [&] (size_t at) { std::uint16_t v; std::memcpy (&v, d.data() + at, 2); return v; };
    const auto u32 = [&] (size_t at) { std::uint32_t v; std::memcpy (&v, d.data() + at, 4); return v; };
    bool isFloat = false;

    for (size_t at = 12; at + 8 <= d.size();)
    {
        const auto size = (size_t) u32 (at + 4);

        if (at + 8 + size > d.size())
            return false;

        if (std::memcmp (d.data() + at, "fmt ", 4) == 0 && size >= 16)
        {
            const auto format = u16 (at + 8);
            render.channels = u16 (at + 10);
            isFloat = (format == 3 || format == 0xfffe) && u16 (at + 22) == 32;
        }
        else if (std::memcmp (d.data() + at, "data", 4) == 0)
        {
            if (! isFloat || render.channels <= 0)
                return false;

            render.samples.resize (size / 4);
            std::memcpy (render.samples.data(), d.data() + at + 8, render.samples.size() * 4);
            return true;
        }

        at += 8 + size + (size & 1);
    }

    return false;
}

float gainOf (float db) { return std::pow (10.0f, db / 20.0f); }
} // namespace

int main (int argc, char** argv)
{
    if (argc < 6)
    {
        std::fprintf (stderr, "usage: %s OUT.wav REF.wav FROM_DB TO_DB POINT...\n", argv[0]);
        return 2;
    }

    Render outRender, refRender;
    const auto* out = &outRender;
    const auto* ref = &refRender;

    if (! readWav (argv[1], outRender) || ! readWav (argv[2], refRender) || out->length() != ref->length()
        || out->channels != ref->channels || out->length() == 0)
    {
        std::printf ("FAIL: renders missing or of different lengths\n");
        return 1;
    }

    const float gains[2] = { gainOf ((float) std::atof (argv[3])), gainOf ((float) std::atof (argv[4])) };
    std::vector<long> points;

    for (int i = 5; i < argc; ++i)
        points.push_back (std::atol (argv[i]));

    constexpr int rampLength = 144;
    const auto n = out->length();

    // The expected gain of sample t: the ramp of the last point at or before t.
    const auto expectedGain = [&] (long t)
    {
        float g = gains[0];

        for (size_t k = 0; k < points.size(); ++k)
        {
            if (t < points[k])
                break;

            const auto from = gains[k % 2], to = gains[(k + 1) % 2];
            const auto into = t - points[k];
            g = into < rampLength ? from + (float) into * (to - from) / (float) rampLength : to;
        }

        return g;
    };

    // The measured gain: the ratio of the two renders where the input is not
    // too small for it.
    const auto measured = [&] (long t) -> float
    {
        const auto r = ref->at (0, t);
        return std::abs (r) > 1.0e-3f ? out->at (0, t) / r : std::nanf ("");
    };

    bool ok = true;
    float worst = 0.0f;
    long worstAt = -1;

    // The first blocks settle the gain from the one prepareToPlay leaves.
    for (long t = 4096; t < n; ++t)
    {
        const auto g = expectedGain (t);

        for (int c = 0; c < out->channels; ++c)
        {
            const auto d = std::abs (out->at (c, t) - g * ref->at (c, t));

            if (d > worst)
            {
                worst = d;
                worstAt = t;
            }
        }
    }

    if (worst > 1.0e-5f)
        ok = false;

    for (size_t k = 0; k < points.size(); ++k)
    {
        const auto from = gains[k % 2], to = gains[(k + 1) % 2];
        long lastOld = -1, firstNew = -1;

        for (long t = points[k] - 400; t < points[k] + 400 && t < n; ++t)
        {
            const auto g = measured (t);

            if (std::isnan (g))
                continue;

            if (std::abs (g - from) < 1.0e-4f)
                lastOld = t;

            if (firstNew < 0 && std::abs (g - to) < 1.0e-4f)
                firstNew = t;
        }

        const auto ramp = firstNew - lastOld; // 1 would be a step between two samples
        std::printf ("point %ld: last sample at the old gain %ld, first at the new gain %ld, ramp %ld samples\n",
                     points[k], lastOld, firstNew, ramp);

        if (lastOld != points[k] || ramp != rampLength)
            ok = false;
    }

    std::printf ("largest difference from the expected output %g at sample %ld\n", (double) worst, worstAt);
    std::printf (ok ? "PASS\n" : "FAIL\n");
    return ok ? 0 : 1;
}
