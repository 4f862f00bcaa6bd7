#pragma once

#include "settings/StoredXml.h"

#include <juce_core/juce_core.h>
#include <juce_data_structures/juce_data_structures.h>

#include "dsp/CustomWeightedRmsMeter.h"
#include "dsp/CustomWeightedRmsSettings.h"
#include "dsp/LoudnessMeter.h"

#include <cstdint>
#include <memory>
#include <vector>

// Value codecs of the plug-in state: measurement data and the custom weighting
// as XML property text or as a node, and back.
//
// Binary values are stored in the framework's base-64 form
// ("<byte count>.<characters>", see juce::MemoryBlock::toBase64Encoding).
// Decoding is strict: the count must be plain decimal digits, every character
// must belong to the alphabet, and there must be exactly as many characters
// as that count needs. Anything else is treated as unusable, so a decoder
// never allocates more than a small multiple of the text it was given.
//
// No function throws, logs or keeps state; all may run on any thread.
namespace qvn
{
    using AnalysisFrameList = std::shared_ptr<const std::vector<AnalysisFrame>>;
    using CustomRmsFrameList = std::shared_ptr<const std::vector<CustomRmsFrame>>;

    // Block histories: packed little-endian float64, no header. An empty
    // vector gives the empty string; unusable text gives an empty vector.
    juce::String encodeHistory (const std::vector<double>& values);
    std::vector<double> decodeHistory (const juce::var& value);

    // AnalysisFrame series: 36-byte records (energy, 24 reserved bytes,
    // numSamples). Null or empty gives the empty string; unusable text null.
    juce::String encodeFrames (const AnalysisFrameList& frames);
    AnalysisFrameList decodeFrames (const juce::var& value);

    // CustomRmsFrame series: 20-byte records (energy, numSamples, generation).
    // Unusable energies and sample counts are written as 0. On reading, a
    // record with an unusable energy or a negative sample count drops the
    // whole series; a count of 0 (which the encoder writes) is kept.
    juce::String encodeCustomFrames (const CustomRmsFrameList& frames);
    CustomRmsFrameList decodeCustomFrames (const juce::var& value);

    // The custom weighting as a "customWeightedRms" node with six "slot"
    // children; decoding always gives normalized settings or the default.
    juce::ValueTree encodeCustomWeightedRmsSettings (CustomWeightedRmsSettings settings);
    CustomWeightedRmsSettings decodeCustomWeightedRmsSettings (const juce::ValueTree& node);

    // The framework's var-to-number conversions (the leading number of a
    // text, 0 when there is none), except that a decimal exponent too long
    // for the framework's parser (which overflows on "1e99999999999")
    // saturates to infinity or zero, and a double too large for the integer
    // saturates instead of being cast. For values read from stored state.
    int varToInt (const juce::var& value) noexcept;
    juce::int64 varToInt64 (const juce::var& value) noexcept;
    double varToDouble (const juce::var& value);
} // namespace qvn
