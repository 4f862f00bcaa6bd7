// Sample placement of the section gain through the built plug-in bundle,
// driven only through the VST3 interfaces with automation points at sample
// offsets, as a host drives it.

#include "BundleFactory.h"

#include <gtest/gtest.h>

#include <cmath>

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
        const auto from = dbToGain (fromDb), to = dbToGain (toDb);

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

    // Near the block's end the ramp is shortened to what is left.
    ParameterChanges back;
    back.queue (section()).point (500, sectionValue (0));
    process (&back);
    EXPECT_TRUE (profile (6.0f, -6.0f, 500, 12));
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
