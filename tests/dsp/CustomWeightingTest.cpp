#include <gtest/gtest.h>
#include "dsp/CustomWeightedRmsSettings.h"
#include "dsp/CustomWeightingDesigner.h"
#include "dsp/LoudnessMeter.h"

#include <cmath>
#include <limits>

struct LoudnessMeterInspector
{
    static const LoudnessMeter::Biquad& shelf (const LoudnessMeter& m)    { return m.shelfFilters[0]; }
    static const LoudnessMeter::Biquad& highPass (const LoudnessMeter& m) { return m.highPassFilters[0]; }
};

namespace
{
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInf = std::numeric_limits<double>::infinity();

    // Settings with every slot off except one.
    CustomWeightedRmsSettings single (CustomSlotType type, double hz, double gainDb = 0.0,
                                      double q = 0.7071067811865476, double slope = 12.0)
    {
        CustomWeightedRmsSettings s;
        for (auto& slot : s.slots)
            slot.enabled = false;

        s.slots[2] = { true, (int32_t) type, hz, gainDb, q, slope };
        return s;
    }

    double magnitude (const CustomWeightedRmsSettings& s, double hz, double fs = 48000.0)
    {
        return CustomWeightingDesigner::magnitudeDb (CustomWeightingDesigner::design (s, fs), hz);
    }

    int stagesOf (const CustomWeightedRmsSettings& s)
    {
        return CustomWeightingDesigner::design (s, 48000.0).slots[2].numStages;
    }

    template <typename A, typename B>
    void expectSameStage (const A& a, const B& b)
    {
        EXPECT_NEAR (a.b0, b.b0, 1e-14);
        EXPECT_NEAR (a.b1, b.b1, 1e-14);
        EXPECT_NEAR (a.b2, b.b2, 1e-14);
        EXPECT_NEAR (a.a1, b.a1, 1e-14);
        EXPECT_NEAR (a.a2, b.a2, 1e-14);
    }
}

//==============================================================================
TEST (CustomWeightingSettings, DefaultsAreTheKWeightingBands)
{
    const CustomWeightedRmsSettings s;
    EXPECT_EQ (s.schemaVersion, 1);
    ASSERT_EQ (s.slots.size(), 6u);

    struct Row { bool enabled; CustomSlotType type; double hz, gain, q, slope; };
    const Row rows[] = {
        { true,  CustomSlotType::HighPass,  38.13547087602444, 0.0, 0.5003270373238773, 12.0 },
        { false, CustomSlotType::LowShelf,  120.0, 0.0, 0.7071067811865476, 12.0 },
        { false, CustomSlotType::FlatTilt,  500.0, 0.0, 0.7071067811865476, 12.0 },
        { false, CustomSlotType::Bell,      1000.0, 0.0, 1.0, 12.0 },
        { true,  CustomSlotType::HighShelf, 1681.974450955533, 3.999843853973347, 0.7071752369554196, 12.0 },
        { false, CustomSlotType::LowPass,   18000.0, 0.0, 0.7071067811865476, 12.0 },
    };

    for (size_t i = 0; i < 6; ++i)
    {
        SCOPED_TRACE (i);
        EXPECT_EQ (s.slots[i].enabled, rows[i].enabled);
        EXPECT_EQ (s.slots[i].type, (int32_t) rows[i].type);
        EXPECT_EQ (s.slots[i].frequencyHz, rows[i].hz);
        EXPECT_EQ (s.slots[i].gainDb, rows[i].gain);
        EXPECT_EQ (s.slots[i].q, rows[i].q);
        EXPECT_EQ (s.slots[i].slopeDbPerOct, rows[i].slope);
    }

    EXPECT_EQ ((int) CustomSlotType::HighPass, 0);
    EXPECT_EQ ((int) CustomSlotType::FlatTilt, 5);
}

TEST (CustomWeightingSettings, NormalizeBringsFieldsIntoRange)
{
    CustomWeightedRmsSettings s;
    s.schemaVersion = 7;
    s.slots[0].slopeDbPerOct = 12.34;
    s.slots[1].slopeDbPerOct = 12.35;
    s.slots[2].slopeDbPerOct = -5.0;
    s.slots[3].slopeDbPerOct = kNaN;
    s.slots[4].slopeDbPerOct = 200.0;
    s.slots[0].frequencyHz = 5.0;
    s.slots[1].frequencyHz = kInf;
    s.slots[2].frequencyHz = 1.0e6;
    s.slots[0].type = 9;
    s.slots[1].type = -3;
    s.slots[0].gainDb = kNaN;
    s.slots[1].gainDb = -100.0;
    s.slots[0].q = kNaN;
    s.slots[1].q = 0.0;
    s.slots[2].q = 50.0;
    s.slots[5].enabled = true;

    s.normalize();

    EXPECT_EQ (s.schemaVersion, 1);
    EXPECT_DOUBLE_EQ (s.slots[0].slopeDbPerOct, 12.3);
    EXPECT_DOUBLE_EQ (s.slots[1].slopeDbPerOct, 12.4);
    EXPECT_EQ (s.slots[2].slopeDbPerOct, 0.0);
    EXPECT_EQ (s.slots[3].slopeDbPerOct, 12.0);
    EXPECT_EQ (s.slots[4].slopeDbPerOct, 96.0);
    EXPECT_EQ (s.slots[0].frequencyHz, 20.0);
    EXPECT_EQ (s.slots[1].frequencyHz, 1000.0);
    EXPECT_EQ (s.slots[2].frequencyHz, 20000.0);
    EXPECT_EQ (s.slots[0].type, 5);
    EXPECT_EQ (s.slots[1].type, 0);
    EXPECT_EQ (s.slots[0].gainDb, 0.0);
    EXPECT_EQ (s.slots[1].gainDb, -24.0);
    EXPECT_EQ (s.slots[0].q, 0.7071067811865476);
    EXPECT_EQ (s.slots[1].q, 0.1);
    EXPECT_EQ (s.slots[2].q, 10.0);
    EXPECT_TRUE (s.slots[5].enabled);
    EXPECT_FALSE (s.slots[1].enabled);
}

TEST (CustomWeightingSettings, EqualityIsExactAndNaNNeverEqual)
{
    CustomWeightedRmsSettings a, b;
    EXPECT_TRUE (a == b);

    b.slots[3].q = std::nextafter (b.slots[3].q, 2.0);
    EXPECT_FALSE (a == b);

    b = a;
    b.slots[5].enabled = true;
    EXPECT_FALSE (a == b);

    b = a;
    b.schemaVersion = 2;
    EXPECT_FALSE (a == b);

    b = a;
    b.slots[1].gainDb = kNaN;
    EXPECT_FALSE (b == b);
    auto c = b;
    EXPECT_FALSE (b == c);
}

//==============================================================================
TEST (CustomWeightingDesign, DefaultIsTheKWeightingPreFilter)
{
    LoudnessMeter meter;
    meter.prepare (48000.0, 2, 0.4);

    const auto d = CustomWeightingDesigner::design (CustomWeightedRmsSettings(), 48000.0);
    EXPECT_EQ (d.sampleRate, 48000.0);
    ASSERT_EQ (d.slots[0].numStages, 1);
    ASSERT_EQ (d.slots[4].numStages, 1);
    EXPECT_TRUE (d.slots[0].enabled);
    EXPECT_FALSE (d.slots[1].enabled);
    EXPECT_EQ (d.slots[1].numStages, 0);

    expectSameStage (d.slots[0].stages[0], LoudnessMeterInspector::highPass (meter));
    expectSameStage (d.slots[4].stages[0], LoudnessMeterInspector::shelf (meter));

    EXPECT_NEAR (CustomWeightingDesigner::magnitudeDb (d, 997.0), 0.648, 0.0005);

    // Unused stages stay identity stages.
    EXPECT_EQ (d.slots[0].stages[1].b0, 1.0);
    EXPECT_EQ (d.slots[0].stages[1].a1, 0.0);
}

TEST (CustomWeightingDesign, PassFilterStageCounts)
{
    struct Case { double slope; int stages; };
    const Case cases[] = { { 12.0, 1 }, { 18.0, 7 }, { 24.0, 2 }, { 30.0, 8 }, { 96.0, 8 }, { 0.0, 0 }, { 6.0, 6 }, { 90.0, 13 } };

    for (auto type : { CustomSlotType::HighPass, CustomSlotType::LowPass })
    {
        for (auto c : cases)
        {
            SCOPED_TRACE (testing::Message() << "type " << (int) type << " slope " << c.slope);
            EXPECT_EQ (stagesOf (single (type, 1000.0, 0.0, 0.7071067811865476, c.slope)), c.stages);
        }
    }
}

TEST (CustomWeightingDesign, PassFilterResponses)
{
    const auto hp = single (CustomSlotType::HighPass, 100.0);
    EXPECT_NEAR (magnitude (hp, 100.0), -3.01, 0.005);
    EXPECT_NEAR (magnitude (hp, 25.0), -24.1, 0.05);
    EXPECT_NEAR (magnitude (hp, 10000.0), 0.0, 0.001);

    const auto lp = single (CustomSlotType::LowPass, 1000.0);
    EXPECT_NEAR (magnitude (lp, 1000.0), -3.01, 0.01);
    EXPECT_NEAR (magnitude (lp, 20.0), 0.0, 0.001);

    // Every slope falls at roughly its nominal rate one to two octaves into
    // the stop band, fractional slopes included.
    for (double slope : { 12.0, 18.0, 24.0, 30.0, 48.0, 96.0 })
    {
        SCOPED_TRACE (slope);
        const auto s = single (CustomSlotType::HighPass, 1000.0, 0.0, 0.7071067811865476, slope);
        const auto perOctave = magnitude (s, 500.0) - magnitude (s, 250.0);
        EXPECT_NEAR (perOctave, slope, 0.15 * slope + 1.0);
        EXPECT_NEAR (magnitude (s, 16000.0), 0.0, 0.05);
    }
}

TEST (CustomWeightingDesign, ShelvesAndBell)
{
    const auto lowShelf = single (CustomSlotType::LowShelf, 200.0, 6.0);
    EXPECT_EQ (stagesOf (lowShelf), 1);
    EXPECT_NEAR (magnitude (lowShelf, 10.0), 6.0, 0.05);
    EXPECT_NEAR (magnitude (lowShelf, -1.0), 6.0, 1e-9);   // DC
    EXPECT_NEAR (magnitude (lowShelf, 200.0), 3.0, 0.05);
    EXPECT_NEAR (magnitude (lowShelf, 10000.0), 0.0, 0.01);

    const auto bell = single (CustomSlotType::Bell, 1000.0, -9.0, 2.0);
    EXPECT_NEAR (magnitude (bell, 1000.0), -9.0, 1e-6);
    EXPECT_NEAR (magnitude (bell, 50.0), 0.0, 0.05);

    const auto highShelf = single (CustomSlotType::HighShelf, 1681.974450955533, 3.999843853973347, 0.7071752369554196);
    EXPECT_NEAR (magnitude (highShelf, 20000.0), 4.0, 0.1);
    EXPECT_NEAR (magnitude (highShelf, 20.0), 0.0, 0.01);
}

TEST (CustomWeightingDesign, FlatTilt)
{
    EXPECT_EQ (stagesOf (single (CustomSlotType::FlatTilt, 1000.0, 0.0)), 0);
    EXPECT_EQ (stagesOf (single (CustomSlotType::FlatTilt, 1000.0, 5e-7)), 0);
    EXPECT_EQ (magnitude (single (CustomSlotType::FlatTilt, 1000.0, 0.0), 20.0), 0.0);

    const auto up = single (CustomSlotType::FlatTilt, 1000.0, 6.0);
    EXPECT_EQ (stagesOf (up), 13);
    EXPECT_NEAR (magnitude (up, 1000.0), 0.0, 1e-9);
    EXPECT_NEAR (magnitude (up, 20.0), -3.40, 0.005);
    EXPECT_NEAR (magnitude (up, 20000.0), 2.66, 0.005);

    const auto down = single (CustomSlotType::FlatTilt, 1000.0, -6.0);
    EXPECT_EQ (stagesOf (down), 13);
    EXPECT_NEAR (magnitude (down, 1000.0), 0.0, 1e-9);
    EXPECT_NEAR (magnitude (down, 20.0), 3.40, 0.005);
    EXPECT_NEAR (magnitude (down, 20000.0), -2.66, 0.005);

    // Another pivot still passes through 0 dB there.
    EXPECT_NEAR (magnitude (single (CustomSlotType::FlatTilt, 150.0, -18.0), 150.0), 0.0, 1e-9);
    EXPECT_NEAR (magnitude (single (CustomSlotType::FlatTilt, 150.0, 12.0), 150.0, 8000.0), 0.0, 1e-9);
}

TEST (CustomWeightingDesign, SampleRateIsKeptInRange)
{
    struct Case { double in, out; };
    for (auto c : { Case { kNaN, 48000.0 }, Case { kInf, 48000.0 }, Case { 0.0, 8000.0 }, Case { 4000.0, 8000.0 },
                    Case { 1.0e6, 768000.0 }, Case { 96000.0, 96000.0 } })
    {
        SCOPED_TRACE (c.in);
        const auto d = CustomWeightingDesigner::design (CustomWeightedRmsSettings(), c.in);
        EXPECT_EQ (d.sampleRate, c.out);
        EXPECT_EQ (CustomWeightingDesigner::magnitudeDb (d, 997.0),
                   CustomWeightingDesigner::magnitudeDb (CustomWeightingDesigner::design (CustomWeightedRmsSettings(), c.out), 997.0));
    }

    // A corner far above Nyquist is pulled below it and stays a usable filter.
    const auto lp = CustomWeightingDesigner::design (single (CustomSlotType::LowPass, 20000.0, 0.0, 0.7071067811865476, 24.0), 8000.0);
    EXPECT_TRUE (std::isfinite (CustomWeightingDesigner::magnitudeDb (lp, 1000.0)));
    EXPECT_NEAR (CustomWeightingDesigner::magnitudeDb (lp, 100.0), 0.0, 0.01);
}

TEST (CustomWeightingDesign, MagnitudeOfEmptyAndBrokenDesigns)
{
    const DesignedCustomWeighting empty;
    EXPECT_EQ (empty.sampleRate, 48000.0);
    for (double hz : { -5.0, 0.0, 20.0, 1000.0, 23999.0, 1.0e6, kNaN })
        EXPECT_EQ (CustomWeightingDesigner::magnitudeDb (empty, hz), 0.0);

    // A high-pass has no DC response at all: the floor, not a number near 0.
    const auto d = CustomWeightingDesigner::design (CustomWeightedRmsSettings(), 48000.0);
    EXPECT_EQ (CustomWeightingDesigner::magnitudeDb (d, -1.0), -240.0);

    // A stage without a finite response gives no usable level: it reads as
    // the floor instead of a flat 0 dB that hides the broken band.
    auto broken = d;
    broken.slots[4].stages[0].b1 = kNaN;
    EXPECT_EQ (CustomWeightingDesigner::magnitudeDb (broken, 1000.0), -240.0);

    auto pole = d;   // a pole exactly on the unit circle at DC
    pole.slots[3].enabled = true;
    pole.slots[3].numStages = 1;
    pole.slots[3].stages[0] = { 1.0, 0.0, 0.0, -2.0, 1.0 };
    EXPECT_EQ (CustomWeightingDesigner::magnitudeDb (pole, -1.0), -240.0);

    // A stage count beyond the array is limited to the stages that exist.
    auto tooMany = d;
    tooMany.slots[0].numStages = 1000;
    EXPECT_NEAR (CustomWeightingDesigner::magnitudeDb (tooMany, 997.0), 0.648, 0.0005);
}
