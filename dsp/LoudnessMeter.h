#pragma once

#include "RecordList.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>
#include <vector>

// One 100 ms frame of K-weighted energy.
struct AnalysisFrame
{
    double energy = 0.0;       // sum of the per-sample energies (squared K-weighted channels)
    int32_t numSamples = 0;    // samples summed
};

// BS.1770 K-weighted loudness meter of up to two channels: a sliding window,
// 400 ms gating blocks every 100 ms with their history and gated integrated
// loudness, a histogram for a cheap integrated value and 100 ms analysis
// frames. All levels are float dB, -120 meaning "no value".
class LoudnessMeter
{
public:
    // One second-order section, transposed direct form II.
    struct Biquad
    {
        double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
        double z1 = 0.0, z2 = 0.0;
    };

    LoudnessMeter() = default;
    ~LoudnessMeter();

    // numChannels is ignored: the meter always measures two channels.
    void prepare (double sampleRate, int numChannels, double windowSeconds);
    void processBlock (const juce::AudioBuffer<float>& buffer);

    float getIntegratedLUFS() const;
    float getHistogramIntegratedLUFS();
    float getWindowLUFS() const;
    float getMomentaryLUFS() const;
    float getLiveKRmsDb (double rmsSeconds) const;

    int64_t getSamplesProcessed() const                        { return samplesProcessed; }
    const RecordList<double>& getBlockEnergies() const         { return blockEnergies; }
    const RecordList<AnalysisFrame>& getRecordedFrames() const { return recordedFrames; }
    AnalysisFrame getCurrentFrame() const                      { return currentFrame; }

    // True when a recorded gating block since the last resetGating holds any
    // energy: false for a measurement of nothing but digital silence.
    bool hasRecordedSignal() const                             { return recordedSignalBlocks > 0; }

    void setFramesEnabled (bool shouldBeEnabled) { framesEnabled = shouldBeEnabled ? 1 : 0; }
    void setRecordFrames (bool shouldRecord)     { recordFrames = shouldRecord; }
    void setRecordBlocks (bool shouldRecord)     { recordBlocks = shouldRecord; }

    // Keeps the gating blocks since the last resetGating in a fine histogram
    // (0.01 LU bins) from which getIntegratedLUFS is computed in a bounded
    // time, however long the meter runs; meant for a meter that does not
    // record its blocks. Allocates: call it off the audio thread.
    void setGatingHistogram (bool enabled);

    void resetGating();
    void resetHistogram();
    void reset();

    // Gated integrated loudness over the part [start, end] (fractions 0..1 of
    // the list, in either order) of a block history.
    static float computeLUFSFromRange (const std::vector<double>& blocks, float start, float end);

    // Mean K-weighted RMS in dB over a trimmed part of a frame list, each
    // position averaged over rmsSeconds.
    static float computeWindowedKRmsDbFromFrames (const std::vector<AnalysisFrame>& frames,
                                                  float start, float end, double rmsSeconds);

    // K-weighted RMS in dB over rmsSeconds at every frame of the list.
    static std::vector<float> windowedKRmsDbSeries (const std::vector<AnalysisFrame>& frames, double seconds);

private:
    friend struct LoudnessMeterInspector;   // white-box checks in the tests

    static constexpr int frameRingSize = 128;
    static constexpr int histogramBins = 800;
    static constexpr int chunkSize = 256;

    // 0.01 LU bins from -70 LUFS up to +390 LUFS: above every level a block
    // can have (its per-sample energies are float32), so no block is ever
    // clamped into the top bin, however hot the input.
    static constexpr int gatingBins = 46000;
    static constexpr double gatingBinWidth = 0.01;

    void emitBlock();
    void addToGatingHistogram (double energy);
    void clearGatingHistogram();
    float gatingHistogramLUFS() const;
    void finishFrame();

    double sampleRate = 44100.0;
    int32_t numChannels = 2;
    int32_t windowSamples = 0;
    int32_t framesEnabled = 1;
    std::vector<Biquad> shelfFilters;
    std::vector<Biquad> highPassFilters;
    std::vector<float> windowRing;
    int32_t windowPos = 0;
    double windowSum = 0.0;
    int64_t samplesProcessed = 0;
    std::vector<float> blockRing;
    int32_t blockPos = 0;
    double blockSum = 0.0;
    int32_t blockFill = 0;
    int32_t blockSamples = 0;
    int32_t hopSamples = 0;
    int32_t hopCountdown = 0;
    RecordList<double> blockEnergies;
    uint64_t recordedSignalBlocks = 0;
    mutable float cachedIntegratedLUFS = -120.0f;
    mutable uint64_t cachedIntegratedKey = 0;
    uint64_t blockCount = 0;
    std::vector<double> histogramEnergy;
    std::vector<int32_t> histogramCount;
    uint64_t histogramBlockCount = 0;
    uint64_t cachedHistogramKey = 0;
    float cachedHistogramLUFS = -120.0f;
    std::vector<AnalysisFrame> frameRing;
    int32_t frameRingWrite = 0;
    int32_t frameRingCount = 0;
    int32_t frameSamples = 0;
    AnalysisFrame currentFrame;
    bool recordFrames = true;
    bool recordBlocks = true;
    RecordList<AnalysisFrame> recordedFrames;
    std::vector<double> gatingEnergy;       // empty unless the gating histogram is on
    std::vector<uint32_t> gatingCount;
    double gatingTotalEnergy = 0.0;         // over the blocks at or above the absolute gate
    uint64_t gatingTotalCount = 0;
    int32_t gatingLowBin = gatingBins;      // bins in use, so that a reset clears only those
    int32_t gatingHighBin = -1;
};
