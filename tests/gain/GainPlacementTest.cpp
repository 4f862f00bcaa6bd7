// Where and how the section gain and the Inst gain change, sample by sample,
// on DC input.

#include "GainTestUtils.h"

using namespace qvn::test;

namespace
{
class Gain : public ProcessorTest
{
};

/** A Vocal on section A with Offset A = -6 dB and Offset B = +6 dB, settled. */
struct VocalAB : DcRig
{
    VocalAB() : DcRig (2)
    {
        setParam (p, QuorvaneProcessor::offsetParameterId (0), -6.0f);
        setParam (p, QuorvaneProcessor::offsetParameterId (1), 6.0f);
        p.handleUpdateNowIfNeeded();
        blocks (3);
        EXPECT_TRUE (hasGainProfile (block(), dbToGain (-6.0f), dbToGain (-6.0f), 0, 0));
    }
};
} // namespace

TEST_F (Gain, SectionChangeIsPlacedAtItsAutomationPoint)
{
    struct Case
    {
        const char* name;
        bool announce;
        std::vector<std::pair<int, int>> points; // sample offset, section
        int start, length;
    };

    const Case cases[] = {
        { "point at 300", true, { { 300, 1 } }, 300, 144 },
        { "point at 500: the ramp goes on into the next block", true, { { 500, 1 } }, 500, 144 },
        { "point at the last sample", true, { { 511, 1 } }, 511, 144 },
        { "point one past the last sample: the next block's start", true, { { 512, 1 } }, 512, 144 },
        { "point far past the block: the next block's start", true, { { 9000, 1 } }, 512, 144 },
        { "first point of the new section counts", true, { { 100, 2 }, { 300, 1 }, { 400, 1 } }, 300, 144 },
        { "announced block without a point", true, {}, 0, 144 },
        { "block not announced", false, {}, 0, 144 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        VocalAB rig;
        setParam (rig.p, ids::section, 1.0f);

        auto& out = rig.block (c.announce, [&]
        {
            for (auto [offset, section] : c.points)
                rig.sectionPoint (offset, section);
        });

        EXPECT_TRUE (hasGainProfile (out, dbToGain (-6.0f), dbToGain (6.0f), c.start, c.length));

        // The rest of a ramp that started near the end carries on from where
        // it got to, so the change still takes its full 3 ms.
        const auto carried = juce::jmax (0, c.start + c.length - rig.blockSize);
        const auto from = carried > 0 ? dbToGain (-6.0f) + (float) (rig.blockSize - c.start) * (dbToGain (6.0f) - dbToGain (-6.0f)) / (float) c.length
                                      : dbToGain (6.0f);
        EXPECT_TRUE (hasGainProfile (rig.block(), from, dbToGain (6.0f), 0, carried));
        EXPECT_TRUE (hasGainProfile (rig.block(), dbToGain (6.0f), dbToGain (6.0f), 0, 0));
    }
}

TEST_F (Gain, RampLengthFollowsTheSampleRate)
{
    for (auto [rate, length] : { std::pair { 44100.0, 132 }, std::pair { 96000.0, 288 } })
    {
        SCOPED_TRACE (rate);
        DcRig rig (2, rate, 1024);
        setParam (rig.p, QuorvaneProcessor::offsetParameterId (1), 6.0f);
        rig.blocks (2);
        setParam (rig.p, ids::section, 1.0f);
        auto& out = rig.block (true, [&] { rig.sectionPoint (100, 1); });
        EXPECT_TRUE (hasGainProfile (out, 1.0f, dbToGain (6.0f), 100, length));
    }
}

TEST_F (Gain, OffsetMoveIsPlacedAtTheOffsetPointThatSetIt)
{
    struct Case
    {
        const char* name;
        int section;
        float pointDb;
        int start;
    };

    const Case cases[] = {
        { "matching point", 0, -3.0f, 200 },
        { "within 0.05 dB", 0, -3.04f, 200 },
        { "another value", 0, -4.0f, 0 },
        { "another section", 1, -3.0f, 0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        VocalAB rig;
        setParam (rig.p, QuorvaneProcessor::offsetParameterId (0), -3.0f);
        auto& out = rig.block (true, [&] { rig.offsetPoint (c.section, 200, c.pointDb); });
        EXPECT_TRUE (hasGainProfile (out, dbToGain (-6.0f), dbToGain (-3.0f), c.start, 144));
    }
}

TEST_F (Gain, TinyMovesAreSmoothedNotRamped)
{
    DcRig rig (2);
    auto& s = rig.p.sections[0];
    s.selfLufs = -20.0f;
    s.partnerLufs = -20.0f;
    s.frozen = true;
    rig.blocks (3);
    ASSERT_NEAR (rig.p.sectionGainDb, 0.0f, 1.0e-7f);

    // The result's gain moves by 0.00005 dB: no ramp, a one-pole step of
    // 30 ms time constant over the block, spread linearly over the block.
    s.partnerLufs = -20.0f + 0.00005f;
    const auto target = s.partnerLufs.load() - s.selfLufs.load();
    auto& out = rig.block();
    const auto a = std::exp (-(512.0 / 48000.0) / 0.03);
    const auto expected = (float) ((1.0 - a) * target);
    EXPECT_NEAR (rig.p.sectionGainDb, expected, 1.0e-9f);
    EXPECT_TRUE (hasGainProfile (out, 1.0f, dbToGain (expected), 0, 512));

    // A move above 0.0001 dB is a ramp again.
    s.partnerLufs = -19.9f;
    auto& jump = rig.block();
    EXPECT_NEAR (rig.p.sectionGainDb, 0.1f, 1.0e-5f);
    EXPECT_TRUE (hasGainProfile (jump, dbToGain (expected), dbToGain (0.1f), 0, 144));
}

TEST_F (Gain, TargetOfTheCurrentSection)
{
    struct Case
    {
        const char* name;
        std::function<void (QuorvaneProcessor&)> set;
        float gainDb;
    };

    const Case cases[] = {
        { "no result: the Offset Gain", [] (QuorvaneProcessor&) {}, 4.0f },
        { "result: Offset + INST - VOCAL",
          [] (QuorvaneProcessor& p) { p.sections[0].selfLufs = -23.0f; p.sections[0].partnerLufs = -20.0f; p.sections[0].frozen = true; },
          7.0f },
        { "result with an absent level: 0 dB",
          [] (QuorvaneProcessor& p) { p.sections[0].selfLufs = -120.0f; p.sections[0].partnerLufs = -20.0f; p.sections[0].frozen = true; },
          0.0f },
        { "bypassed", [] (QuorvaneProcessor& p) { p.sections[0].bypass = true; }, 0.0f },
        { "locked: its stored offset",
          [] (QuorvaneProcessor& p) { p.storedOffsets[0] = -2.0f; p.sections[0].locked = true; },
          -2.0f },
        { "locked with a result",
          [] (QuorvaneProcessor& p) { p.storedOffsets[0] = -2.0f; p.sections[0].locked = true;
                                      p.sections[0].selfLufs = -23.0f; p.sections[0].partnerLufs = -20.0f; p.sections[0].frozen = true; },
          1.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        DcRig rig (2);
        setParam (rig.p, QuorvaneProcessor::offsetParameterId (0), 4.0f);
        c.set (rig.p);
        rig.blocks (2);
        EXPECT_TRUE (hasGainProfile (rig.block(), dbToGain (c.gainDb), dbToGain (c.gainDb), 0, 0));
    }

    // Without the Vocal role nothing is applied.
    for (int role : { 0, 1 })
    {
        DcRig rig (role);
        setParam (rig.p, QuorvaneProcessor::offsetParameterId (0), 4.0f);
        rig.blocks (2);
        EXPECT_TRUE (hasGainProfile (rig.block(), 1.0f, 1.0f, 0, 0)) << "role " << role;
    }
}

TEST_F (Gain, MeasuringTheCurrentSectionRampsToUnityAtTheBlockStart)
{
    VocalAB rig;

    // Even with an offset point in the block, the start of the measurement
    // ramps from sample 0.
    startMeasuring (rig.p, 0);
    auto& start = rig.block (true, [&] { rig.offsetPoint (0, 300, -6.0f); });
    EXPECT_TRUE (hasGainProfile (start, dbToGain (-6.0f), 1.0f, 0, 144));
    EXPECT_TRUE (hasGainProfile (rig.block(), 1.0f, 1.0f, 0, 0));

    // Its end returns to the Offset Gain (no partner: no result comes).
    stopMeasuring (rig.p);
    EXPECT_TRUE (hasGainProfile (rig.block(), 1.0f, dbToGain (-6.0f), 0, 144));
}

TEST_F (Gain, ResultPickupRampsToTheResultGain)
{
    Session s (1, 48000.0, 480);
    s.instLevelDb = -20.0f;
    s.vocalLevelDb = -26.0f;
    auto& v = s.vocal();
    setParam (v, QuorvaneProcessor::offsetParameterId (0), 1.0f);
    v.handleUpdateNowIfNeeded();
    s.run (2);

    startMeasuring (v, 0);
    s.run (s.blocksFor (2.0));
    EXPECT_EQ (v.sectionGainDb, 0.0f);
    stopMeasuring (v);
    s.run (3);

    ASSERT_TRUE (v.sections[0].frozen.load());
    EXPECT_NEAR (v.sections[0].gainDb.load(), 7.0f, 0.01f);
    EXPECT_NEAR (v.sectionGainDb, v.sections[0].gainDb.load(), 1.0e-6f);

    // The offset in force stays part of the result's gain.
    setParam (v, QuorvaneProcessor::offsetParameterId (0), -2.0f);
    s.run (1);
    EXPECT_NEAR (v.sections[0].gainDb.load(), 4.0f, 0.01f);
    EXPECT_NEAR (v.sectionGainDb, 4.0f, 0.01f);
    EXPECT_TRUE (v.ownSlot->hasResult.load());
}

TEST_F (Gain, MatchGainOfTheInstInstance)
{
    struct Case
    {
        const char* name;
        float instLufs, targetLufs, instOffset, matchGain;
    };

    const Case cases[] = {
        { "target -18, INST -20.5", -20.5f, -18.0f, 0.0f, 2.5f },
        { "with Inst Offset", -20.5f, -18.0f, 1.5f, 2.5f },
        { "very quiet INST: limited to +24", -50.0f, -18.0f, 0.0f, 24.0f },
        { "very loud INST: limited to -24", 0.0f, -30.0f, 0.0f, -24.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        DcRig rig (1);
        setParam (rig.p, ids::targetLufs, c.targetLufs);
        setParam (rig.p, ids::instOffset, c.instOffset);
        rig.p.handleUpdateNowIfNeeded();
        rig.p.instMeasuredLufs = c.instLufs;
        rig.p.instTargetUiOpen = true;

        auto& first = rig.block (false, {}, 0.25f);
        EXPECT_FLOAT_EQ (rig.p.instMatchGain.load(), c.matchGain);
        const auto g = dbToGain (c.matchGain + c.instOffset);
        EXPECT_TRUE (hasGainProfile (first, 1.0f, g, 0, 144, 0.25f));
        EXPECT_TRUE (hasGainProfile (rig.block (false, {}, 0.25f), g, g, 0, 0, 0.25f));
    }
}

TEST_F (Gain, InstGainOnlyWhileTheTargetViewIsOpenAndNoInstMeasurementRuns)
{
    DcRig rig (1);
    rig.p.instMeasuredLufs = -20.5f;

    // Closed view: the instrumental passes unchanged, but the Match Gain
    // follows Target LUFS all the same.
    EXPECT_TRUE (hasGainProfile (rig.block(), 1.0f, 1.0f, 0, 0));
    EXPECT_FLOAT_EQ (rig.p.instMatchGain.load(), 2.5f);

    rig.p.instTargetUiOpen = true;
    rig.blocks (1);
    const auto g = dbToGain (2.5f);
    EXPECT_TRUE (hasGainProfile (rig.block(), g, g, 0, 0));

    // Closing the view ramps to 0 dB within 3 ms.
    rig.p.instTargetUiOpen = false;
    EXPECT_TRUE (hasGainProfile (rig.block(), g, 1.0f, 0, 144));

    rig.p.instTargetUiOpen = true;
    rig.blocks (1);

    // So does the start of an INST measurement, and its end ramps back.
    rig.p.instMeasuring = true;
    EXPECT_TRUE (hasGainProfile (rig.block(), g, 1.0f, 0, 144));
    rig.p.instMeasuring = false;
    EXPECT_TRUE (hasGainProfile (rig.block(), 1.0f, g, 0, 144));

    // Without an INST level the Match Gain keeps its value.
    rig.p.instMeasuredLufs = -120.0f;
    setParam (rig.p, ids::targetLufs, -10.0f);
    rig.blocks (1);
    EXPECT_FLOAT_EQ (rig.p.instMatchGain.load(), 2.5f);
}

TEST_F (Gain, AnInstStartDropsTheMatchGainOfTheResultItReplaces)
{
    // A start clears the INST result; a run that then ends without one (here
    // stopped before any block saw it) must not bring the replaced result's
    // Match Gain back onto the instrumental, by either way of starting.
    for (const bool armed : { false, true })
    {
        SCOPED_TRACE (armed ? "armed start, made when playback begins" : "start at once");
        DcRig rig (1);
        rig.p.instMeasuredLufs = -20.5f;
        rig.p.instFrozen = true;
        rig.p.instTargetUiOpen = true;
        rig.blocks (2);
        const auto g = dbToGain (2.5f);
        ASSERT_TRUE (hasGainProfile (rig.block(), g, g, 0, 0));

        if (armed)
        {
            rig.p.linkMeasurementToTransport = true;
            rig.head.playing = false;
            rig.blocks (1);
            rig.p.armedInstStart = true;
            rig.head.playing = true;
            EXPECT_TRUE (hasGainProfile (rig.block(), g, g, 0, 0));
            rig.p.handleUpdateNowIfNeeded();
            ASSERT_TRUE (rig.p.instMeasuring.load());
        }
        else
        {
            rig.p.startInstMeasurement();
        }

        if (rig.p.instMeasuring.exchange (false))
            rig.p.stopInstMeasurement();

        EXPECT_TRUE (hasGainProfile (rig.block(), g, 1.0f, 0, 144));
        EXPECT_TRUE (hasGainProfile (rig.block(), 1.0f, 1.0f, 0, 0));
        EXPECT_FALSE (rig.p.instFrozen.load());
        EXPECT_FLOAT_EQ (rig.p.instMatchGain.load(), 0.0f);
        EXPECT_LE (rig.p.instMeasuredLufs.load(), -119.5f);
    }
}

TEST_F (Gain, PrepareToPlayStartsTheInstGainWhereTheViewStatePutsIt)
{
    // Match Gain +18 dB (INST -36 LUFS against Target -18): a reactivation,
    // sample-rate or block-size change must not send the instrumental through
    // a gain its view state does not give it.
    struct Case
    {
        const char* name;
        bool viewOpen, measuring;
        float gainDb;
    };

    const Case cases[] = {
        { "view closed", false, false, 0.0f },
        { "view open", true, false, 18.0f },
        { "view open, INST measurement running", true, true, 0.0f },
    };

    for (const auto& c : cases)
    {
        for (auto [rate, block] : { std::pair { 48000.0, 512 }, std::pair { 44100.0, 1 }, std::pair { 96000.0, 4097 } })
        {
            SCOPED_TRACE (juce::String (c.name) + " at " + juce::String (rate) + " Hz, " + juce::String (block) + " samples");
            DcRig rig (1, rate, block);
            rig.p.instMeasuredLufs = -36.0f;
            rig.p.instTargetUiOpen = true;
            rig.blocks (rate > 0 ? (int) (0.01 * rate / block) + 2 : 2); // settled on the open view's gain

            rig.p.instTargetUiOpen = c.viewOpen;
            rig.p.instMeasuring = c.measuring;
            rig.p.instMatchGain = 18.0f;
            rig.p.prepareToPlay (rate, block);

            const auto g = dbToGain (c.gainDb);
            EXPECT_TRUE (hasGainProfile (rig.block (false, {}, 0.1f), g, g, 0, 0, 0.1f));
            EXPECT_TRUE (hasGainProfile (rig.block (false, {}, 0.1f), g, g, 0, 0, 0.1f));
        }
    }
}

TEST_F (Gain, RampsLastTheirFullLengthWhateverTheBlockSize)
{
    // A Vocal section change and an Inst view change, at blocks of 1, 32 and
    // 4097 samples: each sample of the stream follows one 144-sample ramp
    // from the sample of the change on, however the blocks cut it.
    for (int block : { 1, 32, 100, 4097 })
    {
        SCOPED_TRACE (block);

        for (int role : { 1, 2 })
        {
            DcRig rig (role, 48000.0, block);
            setParam (rig.p, QuorvaneProcessor::offsetParameterId (1), 6.0f);
            rig.p.instMeasuredLufs = -12.0f; // Match Gain -6 dB
            rig.blocks (1 + 300 / block);

            const auto from = 1.0f;
            const auto to = dbToGain (role == 2 ? 6.0f : -6.0f);
            // The section point on the last sample of the block; the Inst's
            // change always starts at a block's first sample.
            const int point = role == 2 ? block - 1 : 0;
            std::vector<float> stream;

            if (role == 2)
                setParam (rig.p, ids::section, 1.0f);
            else
                rig.p.instTargetUiOpen = true;

            for (int b = 0; (int) stream.size() < point + 400; ++b)
            {
                auto& out = rig.block (b == 0, [&]
                {
                    if (role == 2)
                        rig.sectionPoint (point, 1);
                });

                stream.insert (stream.end(), out.getReadPointer (0), out.getReadPointer (0) + block);
            }

            int first = -1, last = -1;

            for (int i = 0; i < (int) stream.size(); ++i)
            {
                auto expected = i < point ? from : (i < point + 144 ? from + (float) (i - point) * (to - from) / 144.0f : to);
                ASSERT_NEAR (stream[(size_t) i], expected, 2.0e-5f) << "role " << role << " sample " << i;

                if (std::abs (stream[(size_t) i] - from) > 1.0e-6f && first < 0)
                    first = i;
                if (std::abs (stream[(size_t) i] - to) > 1.0e-6f)
                    last = i;
            }

            EXPECT_EQ (first, point + 1);
            EXPECT_EQ (last, point + 143);
        }
    }
}

TEST_F (Gain, SectionPointsAtEveryOffsetFollowOneRampPerChange)
{
    // A host that sends the lane's value at each block's start (offset 0) and
    // end (offset n) besides the point itself, for a point at every sample of
    // two blocks; then a second change 50 samples after the first, inside its
    // ramp: the new ramp starts from the gain the first had reached.
    for (int n : { 1, 7, 64, 143, 145 })
    {
        for (int secondAfter : { 0, 50 })
        {
            for (int offset = 0; offset <= 2 * n; ++offset)
            {
                // Two changes in one block (the block's end point carries the
                // value after both): only the last section counts there.
                if (secondAfter > 0 && offset + secondAfter <= (offset / n + 1) * n)
                    continue;

                SCOPED_TRACE (juce::String (n) + "-sample blocks, point " + juce::String (offset) + ", second change after "
                              + juce::String (secondAfter));
                DcRig rig (2, 48000.0, n);
                setParam (rig.p, QuorvaneProcessor::offsetParameterId (0), -6.0f);
                setParam (rig.p, QuorvaneProcessor::offsetParameterId (1), 6.0f);
                setParam (rig.p, QuorvaneProcessor::offsetParameterId (2), 0.0f);
                rig.p.handleUpdateNowIfNeeded();
                rig.blocks (1 + 200 / n);

                const std::int64_t origin = rig.head.position;
                const auto first = origin + offset;
                const auto second = secondAfter > 0 ? first + secondAfter : std::int64_t { -1 };
                const auto sectionAt = [&] (std::int64_t t) { return second >= 0 && t >= second ? 2 : (t >= first ? 1 : 0); };

                const auto gA = dbToGain (-6.0f), gB = dbToGain (6.0f), gC = 1.0f;
                const auto expected = [&] (std::int64_t t)
                {
                    if (t < first)
                        return gA;

                    const auto rampB = [&] (std::int64_t u) { return u - first < 144 ? gA + (float) (u - first) * (gB - gA) / 144.0f : gB; };

                    if (second < 0 || t < second)
                        return rampB (t);

                    const auto from = rampB (second);
                    return t - second < 144 ? from + (float) (t - second) * (gC - from) / 144.0f : gC;
                };

                for (std::int64_t a = origin; a < origin + 2 * n + 400; a += n)
                {
                    setParam (rig.p, ids::section, (float) sectionAt (a + n));
                    auto& out = rig.block (true, [&]
                    {
                        rig.sectionPoint (0, sectionAt (a));

                        for (auto t : { first, second })
                            if (t > a && t < a + n)
                                rig.sectionPoint ((int) (t - a), sectionAt (t));

                        rig.sectionPoint (n, sectionAt (a + n));
                    });

                    for (int i = 0; i < n; ++i)
                        ASSERT_NEAR (out.getSample (0, i), expected (a + i), 2.0e-5f) << "sample " << (a + i - origin);
                }
            }
        }
    }
}

TEST_F (Gain, ZeroSampleRateRampsOverOneSample)
{
    DcRig rig (2, 0.0, 64);
    setParam (rig.p, QuorvaneProcessor::offsetParameterId (1), 6.0f);
    rig.blocks (1);
    setParam (rig.p, ids::section, 1.0f);
    EXPECT_TRUE (hasGainProfile (rig.block (true, [&] { rig.sectionPoint (10, 1); }), 1.0f, dbToGain (6.0f), 10, 1));
}
