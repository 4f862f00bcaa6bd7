// Mutation fuzzing of the state reader, seeded from states the processor
// saved itself: no crash, no hang, no allocation out of proportion to the
// blob, and a blob the reader refuses leaves the state as it was.

#include "StateTestUtils.h"

#include "../codecs/AllocationProbe.h"
#include "../codecs/MutationFuzzer.h"

using namespace qvn::test;
using namespace qvn::fuzz;

namespace
{
class StateFuzz : public ProcessorTest
{
};

std::vector<std::string> seedStates()
{
    std::vector<std::string> seeds;

    {
        QuorvaneProcessor p;
        seeds.push_back (blobOf (p));
    }

    for (unsigned s : { 3u, 11u })
    {
        QuorvaneProcessor p;
        fillRichState (p, s);
        seeds.push_back (blobOf (p));
    }

    {
        // A small state whose text mutations hit the interesting keys often.
        QuorvaneProcessor p;
        std::mt19937 rng (5);
        fillMeasuredSection (p.sections[2], rng, 1, 3);
        p.measMode = 2;
        p.instHistory = { 1.0e-3, 2.0e-3 };
        seeds.push_back (blobOf (p));
    }

    return seeds;
}

/** The framing and the XML parse alone: does the reader accept the blob? */
bool parses (const std::string& blob)
{
    if (blob.size() < 9 || blob.compare (0, 4, "\x56\x43\x32\x21", 4) != 0)
        return false;

    std::int32_t length = 0;
    std::memcpy (&length, blob.data() + 4, 4);
    return length > 0;
}
} // namespace

TEST_F (StateFuzz, SetStateInformationSurvivesMutatedStates)
{
    const auto seeds = seedStates();

    MutationFuzzer::Options options;
    options.alphabet = "<>/=\" 0123456789.-eE+abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    options.binaryLengthFields = { { 0, 4 }, { 4, 4 } };
    options.dictionary = { "<applied>", "</applied>", "<applied/>", "<section idx=\"3\"/>", "idx=\"16\"", "idx=\"-1\"",
                           "<abSlotA>", "<abSlotB/>", "\"nan\"", "\"inf\"", "\"-1e308\"", "\"1e99999999999\"",
                           "\"99999999999999999999\"", "\"-2147483649\"", "<customWeightedRms/>", "<slot/>",
                           "measMode=\"2\"", "customSettingsGeneration=\"0\"", "\"4294967295.AAAA\"", "\"8.\"",
                           "<PARAM id=\"offset_A\" value=\"nan\"/>", "<PARAM id=\"role\" value=\"2\"/>",
                           "<!DOCTYPE a [<!ENTITY e \"x\">]>", "<?pi?>", "&amp;", "&#0;", "\xff\xfe", "\xe3\x83",
                           std::string ("\0", 1) };
    options.maxLength = 4u << 20;
    const MutationFuzzer fuzzer (options);

    QuorvaneProcessor p;
    std::uint64_t refused = 0, applied = 0;

    const auto stats = runFuzzLoop ("setStateInformation", 20261211, { 1000000, 25.0, 20.0 },
        [&] (std::uint64_t, Rng& rng)
        {
            // Start most iterations from a known state, so that a refused blob
            // can be checked for leaving it untouched.
            const bool check = rng.chance (30);

            if (check)
                restore (p, rng.pick (seeds));

            const auto blob = fuzzer.mutate (rng.pick (seeds), rng);

            if (isReplay())
                dumpInput (blob);

            const auto before = check ? blobOf (p) : std::string();

            {
                AllocationScope scope;
                restore (p, blob);
                p.handleUpdateNowIfNeeded();
                ASSERT_LE (scope.largestRequest(), 64 * blob.size() + (1u << 20));
            }

            // Everything the reader restored is usable.
            for (int i = 0; i < 16; ++i)
            {
                ASSERT_TRUE (std::isfinite (p.getSectionOffset (i)));
                ASSERT_TRUE (std::isfinite (p.sections[(size_t) i].gainDb.load()));
                ASSERT_LE (p.sections[(size_t) i].trimStart.load(), p.sections[(size_t) i].trimEnd.load());
                ASSERT_GE (p.sections[(size_t) i].linkGroup.load(), 0);
                ASSERT_LE (p.sections[(size_t) i].linkGroup.load(), 3);
            }

            ASSERT_TRUE (std::isfinite (p.getTargetLufs()));
            ASSERT_TRUE (std::isfinite (p.getInstOffsetDb()));
            ASSERT_TRUE (p.rmsTimeSec.load() >= 0.5f && p.rmsTimeSec.load() <= 10.0f);
            ASSERT_TRUE (p.measMode.load() >= 0 && p.measMode.load() <= 2);
            ASSERT_GE (p.customSettingsGeneration.load(), 1u);

            if (check && ! parses (blob))
            {
                ASSERT_EQ (xmlOf (blobOf (p)), xmlOf (before));
                ++refused;
            }
            else
            {
                ++applied;
            }

            // A/B and undo keep working on whatever was restored.
            if (rng.chance (5))
            {
                p.selectABSlot (1 - p.currentAB.load());
                p.undo();
                p.undoStack.clear();
                p.redoStack.clear();
            }
        },
        [] { return ::testing::Test::HasFailure(); });

    std::printf ("setStateInformation fuzz: %llu iterations in %.1f s (seed %llu), %llu refused by framing and checked unchanged\n",
                 (unsigned long long) stats.iterations, stats.seconds, (unsigned long long) stats.seed,
                 (unsigned long long) refused);
    EXPECT_GT (stats.iterations, 50u);
    EXPECT_GT (applied, 0u);
}
