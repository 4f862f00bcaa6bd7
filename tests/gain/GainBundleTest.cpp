// Sample placement of the section gain through the built plug-in bundle,
// driven only through the VST3 interfaces with automation points at sample
// offsets, as a host drives it.

#include "BundleFactory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

using namespace qvntest;

namespace
{
constexpr double sampleRate = 48000.0;
constexpr int blockSize = 512;

float dbToGain (float db) { return std::pow (10.0f, db / 20.0f); }
double offsetValue (float db) { return (db + 12.0) / 24.0; }
double sectionValue (int section) { return section / 15.0; }

/** A Vocal instance of the bundle fed with DC, so every output sample is the
    gain applied to it. */
class BundleGain : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto* factory = bundleFactory();
        ASSERT_NE (factory, nullptr);
        plugin = std::make_unique<RawVst3Plugin> (*factory);
        ASSERT_TRUE (plugin->isValid());
        ASSERT_TRUE (plugin->prepare (sampleRate, blockSize));

        for (auto* name : { "Role", "Section", "Offset A", "Offset B" })
        {
            const auto id = plugin->findParameter (name);
            ASSERT_TRUE (id.has_value()) << name;
            ids.push_back (*id);
        }

        // Vocal, Offset A -6 dB, Offset B +6 dB, section A.
        ParameterChanges changes;
        changes.queue (role()).point (0, 1.0);
        changes.queue (offsetA()).point (0, offsetValue (-6.0f));
        changes.queue (offsetB()).point (0, offsetValue (6.0f));
        changes.queue (section()).point (0, sectionValue (0));
        process (&changes);

        for (int i = 0; i < 4; ++i)
            process();

        ASSERT_NEAR (audio[0][0], dbToGain (-6.0f), 1.0e-5f);
    }

    Steinberg::Vst::ParamID role() const    { return ids[0]; }
    Steinberg::Vst::ParamID section() const { return ids[1]; }
    Steinberg::Vst::ParamID offsetA() const { return ids[2]; }
    Steinberg::Vst::ParamID offsetB() const { return ids[3]; }

    void process (ParameterChanges* changes = nullptr)
    {
        audio.assign (2, std::vector<float> (blockSize, 1.0f));
        const auto context = makeProcessContext (sampleRate, position, true);
        ASSERT_EQ (plugin->process (audio, blockSize, changes, &context), Steinberg::kResultOk);
        position += blockSize;
    }

    ::testing::AssertionResult profile (float fromDb, float toDb, int start, int length) const
    {
        return profileGain (dbToGain (fromDb), dbToGain (toDb), start, length);
    }

    ::testing::AssertionResult profileGain (float from, float to, int start, int length) const
    {

        for (size_t c = 0; c < audio.size(); ++c)
        {
            for (int i = 0; i < blockSize; ++i)
            {
                auto expected = to;

                if (i < start)
                    expected = from;
                else if (i < start + length)
                    expected = from + (float) (i - start) * (to - from) / (float) length;

                if (std::abs (audio[c][(size_t) i] - expected) > 1.0e-5f)
                    return ::testing::AssertionFailure() << "channel " << c << " sample " << i << ": "
                                                         << audio[c][(size_t) i] << " instead of " << expected;
            }
        }

        return ::testing::AssertionSuccess();
    }

    std::unique_ptr<RawVst3Plugin> plugin;
    std::vector<Steinberg::Vst::ParamID> ids;
    std::vector<std::vector<float>> audio;
    std::int64_t position = 0;
};
} // namespace

TEST_F (BundleGain, SectionAutomationPointPlacesTheRamp)
{
    ParameterChanges changes;
    changes.queue (section()).point (300, sectionValue (1));
    process (&changes);
    EXPECT_TRUE (profile (-6.0f, 6.0f, 300, 144));

    process();
    EXPECT_TRUE (profile (6.0f, 6.0f, 0, 0));

    // Near the block's end the ramp keeps its 144 samples: what does not fit
    // goes on in the next block from where it got to.
    ParameterChanges back;
    back.queue (section()).point (500, sectionValue (0));
    process (&back);
    EXPECT_TRUE (profile (6.0f, -6.0f, 500, 144));

    process();
    const auto reached = dbToGain (6.0f) + 12.0f * (dbToGain (-6.0f) - dbToGain (6.0f)) / 144.0f;
    EXPECT_TRUE (profileGain (reached, dbToGain (-6.0f), 0, 132));
}

TEST_F (BundleGain, SeveralSectionPointsInOneBlock)
{
    // The section in force at the block's end is B; its first point places
    // the change.
    ParameterChanges changes;
    changes.queue (section()).point (64, sectionValue (3)).point (256, sectionValue (1)).point (400, sectionValue (1));
    process (&changes);
    EXPECT_TRUE (profile (-6.0f, 6.0f, 256, 144));
}

TEST_F (BundleGain, OffsetAutomationPointPlacesTheRamp)
{
    ParameterChanges changes;
    changes.queue (offsetA()).point (200, offsetValue (-3.0f));
    process (&changes);
    EXPECT_TRUE (profile (-6.0f, -3.0f, 200, 144));

    // An offset point of another section does not move the current gain.
    ParameterChanges other;
    other.queue (offsetB()).point (100, offsetValue (2.0f));
    process (&other);
    EXPECT_TRUE (profile (-3.0f, -3.0f, 0, 0));

    // That section's new offset arrives with it, placed at its section point.
    ParameterChanges toB;
    toB.queue (section()).point (128, sectionValue (1));
    process (&toB);
    EXPECT_TRUE (profile (-3.0f, 2.0f, 128, 144));
}

namespace
{
/** How a host delivers the section lane's points. Ardour, like other VST3
    hosts, gives every cycle a point at offset 0 with the value at the cycle's
    start and one at offset n (one past the last sample) with the value at its
    end, besides the points inside; a plain host sends only the point itself. */
enum class HostStyle
{
    cycleEnds,
    plain
};

struct PointCase
{
    const char* name;
    int distance;        // samples before the block end
    bool asNextBlockStart; // a point on the boundary sent at offset 0 of the next block
};

struct RampMeasure
{
    std::int64_t point = 0, firstMoved = -1, lastBeforeSettled = -1;
    float worstError = 0.0f;
};

/** A Vocal of the bundle on section A (Offset A -6 dB, Offset B +6 dB) fed DC
    in blocks of n samples; the section lane switches to B at sample P, a
    distance before a block end. Returns how the output followed it. */
RampMeasure runSectionChange (int n, const PointCase& c, HostStyle style)
{
    RampMeasure m;
    auto* factory = bundleFactory();

    if (factory == nullptr)
        return m;

    RawVst3Plugin plugin (*factory);
    EXPECT_TRUE (plugin.prepare (sampleRate, n));
    const auto role = *plugin.findParameter ("Role");
    const auto section = *plugin.findParameter ("Section");
    const auto offsetA = *plugin.findParameter ("Offset A");
    const auto offsetB = *plugin.findParameter ("Offset B");

    // Settled on A after 600 samples at least; the change falls on a block end
    // at least 200 samples later.
    const std::int64_t warm = (600 + n - 1) / n * n;
    const std::int64_t end = warm + (std::int64_t) ((200 + n - 1) / n) * n;
    const auto distance = c.distance < 0 ? n / 2 : c.distance;
    const std::int64_t point = end - distance;
    m.point = point;

    const auto valueAt = [&] (std::int64_t t) { return sectionValue (t >= point ? 1 : 0); };
    const auto from = dbToGain (-6.0f), to = dbToGain (6.0f);
    std::vector<std::vector<float>> audio;

    for (std::int64_t a = 0; a < point + 144 + 2 * (std::int64_t) n; a += n)
    {
        ParameterChanges changes;

        if (a == 0)
        {
            changes.queue (role).point (0, 1.0);
            changes.queue (offsetA).point (0, offsetValue (-6.0f));
            changes.queue (offsetB).point (0, offsetValue (6.0f));
        }

        auto& q = changes.queue (section);

        if (style == HostStyle::cycleEnds)
        {
            q.point (0, valueAt (a));

            if (point > a && point < a + n)
                q.point ((int32) (point - a), valueAt (point));

            q.point (n, valueAt (a + n));
        }
        else if (point == a + n && ! c.asNextBlockStart)
        {
            q.point (n, valueAt (point));
        }
        else if (point >= a && point < a + n && ! (point == a && ! c.asNextBlockStart))
        {
            q.point ((int32) (point - a), valueAt (point));
        }

        audio.assign (2, std::vector<float> ((size_t) n, 1.0f));
        const auto context = makeProcessContext (sampleRate, a, true);
        EXPECT_EQ (plugin.process (audio, n, &changes, &context), Steinberg::kResultOk);

        if (a < warm)
            continue;

        for (int i = 0; i < n; ++i)
        {
            const auto t = a + i;
            const auto k = t - point;
            const auto expected = k < 0 ? from : (k < 144 ? from + (float) k * (to - from) / 144.0f : to);

            for (auto& ch : audio)
                m.worstError = std::max (m.worstError, std::abs (ch[(size_t) i] - expected));

            const auto y = audio[0][(size_t) i];

            if (m.firstMoved < 0 && std::abs (y - from) > 1.0e-6f)
                m.firstMoved = t;

            if (std::abs (y - to) > 1.0e-6f)
                m.lastBeforeSettled = t;
        }
    }

    return m;
}
} // namespace

TEST (BundleGainTable, SectionPointsAroundBlockEndsRampOverTheirFullLength)
{
    // Every change holds the old gain up to and including its point's sample,
    // then ramps linearly over 144 samples (3 ms at 48 kHz), whatever the
    // block size, wherever the point falls and however the host sends it.
    const PointCase cases[] = {
        { "middle", -1, false },
        { "n-144", 144, false },
        { "n-72", 72, false },
        { "n-1", 1, false },
        { "n", 0, false },
        { "0 of next block", 0, true },
    };

    for (int n : { 32, 128, 1024, 4097 })
    {
        for (const auto& c : cases)
        {
            for (auto style : { HostStyle::cycleEnds, HostStyle::plain })
            {
                const auto styleName = style == HostStyle::cycleEnds ? "cycle-end points" : "plain";
                SCOPED_TRACE (std::to_string (n) + " samples, point at " + c.name + ", " + styleName);
                const auto m = runSectionChange (n, c, style);
                EXPECT_LT (m.worstError, 2.0e-5f);
                EXPECT_EQ (m.firstMoved, m.point + 1);
                EXPECT_EQ (m.lastBeforeSettled, m.point + 143);
                std::printf ("block %4d  point %-16s %-16s P %6lld  first moved %6lld  ramp %3lld  worst error %.2g\n",
                             n, c.name, styleName, (long long) m.point, (long long) m.firstMoved,
                             (long long) (m.lastBeforeSettled - m.point + 1), (double) m.worstError);
            }
        }
    }
}
