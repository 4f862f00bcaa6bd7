#pragma once

#include "CustomWeightedRmsSettings.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

// One 100 ms frame of custom-weighted energy.
struct CustomRmsFrame
{
    double energy = 0.0;        // sum of the per-sample energies (squared weighted channels)
    int32_t numSamples = 0;     // samples summed
    uint64_t generation = 0;    // generation of the weighting the frame was measured with
};

// RMS meter of up to two channels through a user-designed weighting, in 100 ms
// frames stamped with the weighting's generation. New weightings arrive from
// one publishing thread through a lock-free three-entry mailbox; the audio
// thread takes them at the start of a block, lets the new cascade settle for
// 20 ms on the live input and then measures with it.
class CustomWeightedRmsMeter
{
public:
    struct ConfigMailbox
    {
        enum EntryState : uint8_t { stateFree = 0, stateWriting = 1, statePublished = 2, stateReading = 3 };

        struct Entry
        {
            DesignedCustomWeighting design;
            uint64_t generation = 1;
            std::atomic<uint8_t> state { stateFree };
        };

        ConfigMailbox();

        std::array<Entry, 3> entries;
        std::atomic<int32_t> latest { -1 };   // newest published entry, -1 when none
        int32_t cursor = 0;                   // entry the publisher tries first
    };

    CustomWeightedRmsMeter();

    // numChannels is ignored: the meter always measures two channels.
    void prepare (double sampleRate, int numChannels, const CustomWeightedRmsSettings& settings, uint64_t generation);

    // Designs the settings and hands them to the audio thread. One publishing
    // thread at a time per meter.
    void publishSettings (const CustomWeightedRmsSettings& settings, uint64_t generation);

    void processBlock (const juce::AudioBuffer<float>& buffer);

    void resetMeasurement();
    void setRecordFrames (bool shouldRecord)                      { recordFrames = shouldRecord; }
    const std::vector<CustomRmsFrame>& getRecordedFrames() const  { return recordedFrames; }
    CustomRmsFrame getCurrentFrame() const                        { return currentFrame; }
    float getLiveRmsDb (double rmsSeconds) const;

    // Generation of the weighting being measured; readable from any thread.
    uint64_t getActiveGeneration() const { return activeGeneration.load (std::memory_order_acquire); }

    // Weighted RMS in dB over rmsSeconds at every frame of the list.
    static std::vector<float> windowedRmsDbSeries (const std::vector<CustomRmsFrame>& frames, double rmsSeconds);

    // Mean windowed RMS in dB over the part [start, end] (fractions 0..1, in
    // either order) of the first `count` frames of the list.
    static float computeWindowedRmsDbFromFrames (const std::vector<CustomRmsFrame>& frames,
                                                 float start, float end, double rmsSeconds, uint64_t count);

private:
    friend struct CustomWeightedRmsMeterInspector;   // white-box checks in the tests

    static constexpr int frameRingSize = 128;

    struct StatePair { double s1 = 0.0, s2 = 0.0; };
    using SlotStates = std::array<StatePair, CustomSlotCoefficients::maxStages>;
    using ChannelStates = std::array<SlotStates, CustomWeightedRmsSettings::numSlots>;
    using StateSet = std::array<ChannelStates, 2>;

    void takePublishedDesign();

    double sampleRate = 48000.0;
    int32_t numChannels = 2;
    int32_t frameSamples = 4800;
    DesignedCustomWeighting activeDesign;
    DesignedCustomWeighting incomingDesign;
    std::atomic<uint64_t> activeGeneration { 1 };
    uint64_t incomingGeneration = 1;
    StateSet activeStates {};
    StateSet incomingStates {};
    ConfigMailbox mailbox;
    int32_t transitionSamples = 1;
    int32_t transitionRemaining = 0;
    std::array<CustomRmsFrame, frameRingSize> frameRing {};
    int32_t frameRingWrite = 0;
    int32_t frameRingCount = 0;
    CustomRmsFrame currentFrame;
    bool recordFrames = false;
    std::vector<CustomRmsFrame> recordedFrames;
};
