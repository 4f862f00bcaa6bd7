#pragma once

#include <array>
#include <cstdint>

// Filter shape of one band of the custom weighting. The numeric values are
// stored in plug-in state and presets, so they must never change.
enum class CustomSlotType : int32_t
{
    HighPass  = 0,
    LowShelf  = 1,
    Bell      = 2,
    HighShelf = 3,
    LowPass   = 4,
    FlatTilt  = 5
};

// One band ("slot") of the custom weighting.
struct CustomSlotSettings
{
    bool enabled = false;
    int32_t type = (int32_t) CustomSlotType::Bell;   // a CustomSlotType value
    double frequencyHz = 1000.0;                     // corner, centre or pivot
    double gainDb = 0.0;                             // shelf/bell gain, total tilt
    double q = 0.7071067811865476;                   // shelves, bells, first pass section
    double slopeDbPerOct = 12.0;                     // pass filters only
};

// The user's six-band weighting. The default reproduces the K-weighting
// pre-filter (high-pass and high shelf with the same constants), so the
// Custom Weighted RMS mode starts out equal to K-weighted RMS.
struct CustomWeightedRmsSettings
{
    static constexpr int numSlots = 6;

    int32_t schemaVersion = 1;
    std::array<CustomSlotSettings, numSlots> slots {{
        { true,  (int32_t) CustomSlotType::HighPass,  38.13547087602444,  0.0,               0.5003270373238773, 12.0 },
        { false, (int32_t) CustomSlotType::LowShelf,  120.0,              0.0,               0.7071067811865476, 12.0 },
        { false, (int32_t) CustomSlotType::FlatTilt,  500.0,              0.0,               0.7071067811865476, 12.0 },
        { false, (int32_t) CustomSlotType::Bell,      1000.0,             0.0,               1.0,                12.0 },
        { true,  (int32_t) CustomSlotType::HighShelf, 1681.974450955533,  3.999843853973347, 0.7071752369554196, 12.0 },
        { false, (int32_t) CustomSlotType::LowPass,   18000.0,            0.0,               0.7071067811865476, 12.0 }
    }};

    // Brings every field into its legal range in place (non-finite values get
    // their defaults, the slope is rounded to 0.1 dB/oct).
    void normalize();

    // Exact field-by-field equality; a NaN field never compares equal.
    bool operator== (const CustomWeightedRmsSettings& other) const;
};

// The designed second-order stages of one band, normalised so that a0 = 1.
struct CustomSlotCoefficients
{
    static constexpr int maxStages = 16;

    struct Stage
    {
        double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
    };

    bool enabled = false;
    int32_t numStages = 0;                     // only the first numStages count
    std::array<Stage, maxStages> stages {};    // the rest stay identity stages
};

// A custom weighting designed for one sample rate: one cascade per band.
struct DesignedCustomWeighting
{
    DesignedCustomWeighting() = default;

    double sampleRate = 48000.0;
    std::array<CustomSlotCoefficients, CustomWeightedRmsSettings::numSlots> slots {};
};
