#pragma once

#include "dsp/CustomWeightedRmsMeter.h"
#include "dsp/LoudnessMeter.h"

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

/** One published section measurement: one side (the Vocal's own audio, or the
    instrumental audio the Inst instance measured for that Vocal) of one section.

    Scalars are atomics; the lists are immutable and replaced whole through
    atomic shared-pointer stores, so a reader takes its own reference and reads
    without locking. A reader that needs the lists tests `done` first: the
    writer sets it only after every list is in place.
*/
struct SectionSlot
{
    using History = std::vector<double>;
    using Frames = std::vector<AnalysisFrame>;
    using CustomFrames = std::vector<CustomRmsFrame>;

    std::atomic<bool> measuring { false };
    std::atomic<bool> done { false };
    std::atomic<float> lufs { -120.0f };
    std::atomic<float> elapsedSeconds { 0.0f };
    std::atomic<std::shared_ptr<const History>> history;
    std::atomic<std::shared_ptr<const Frames>> frames;
    std::atomic<std::shared_ptr<const CustomFrames>> customFrames;
};

/** Drops a slot's published measurement (the `measuring` flag is left alone). */
void clearSlotMeasurement (SectionSlot& slot) noexcept;

/** The record an instance publishes for its partners. One per instance, shared:
    partners keep references on their audio threads, so a slot can outlive its
    owner until the partners drop it.
*/
struct LinkSlot
{
    static constexpr int numSections = 16;

    std::atomic<float> liveShortTerm { -120.0f };
    std::atomic<float> liveMomentary { -120.0f };
    std::atomic<int> startCounter { 0 };
    std::atomic<int> stopCounter { 0 };
    std::atomic<int> cancelMarker { -1 };
    std::atomic<int> measuringSection { 0 };
    std::atomic<int> currentSection { 0 };
    std::atomic<float> liveIntegrated { -120.0f };
    std::atomic<float> liveShortTermPostGain { -120.0f };
    std::atomic<float> liveMomentaryPostGain { -120.0f };
    std::atomic<float> liveIntegratedPostGain { -120.0f };
    std::atomic<float> liveHistogram { -120.0f };
    std::atomic<float> liveHistogramPostGain { -120.0f };
    std::atomic<float> liveKRms { -120.0f };
    std::atomic<float> liveCustomRms { -120.0f };
    std::atomic<float> liveRmsPostGain { -120.0f };
    std::atomic<bool> hasResult { false };
    std::atomic<int> role { 0 };
    std::atomic<int> vocalNumber { 0 };
    std::atomic<int> meterResetCounter { 0 };
    std::atomic<float> peakLeftDb { -120.0f };
    std::atomic<float> peakRightDb { -120.0f };
    std::atomic<std::shared_ptr<const std::string>> name;
    std::array<SectionSlot, numSections> ownSections;
    std::array<SectionSlot, numSections> instSections;

    /** Ends this slot's running section measurement so that both sides discard
        it: the cancel marker is written first, then the stop counter moves onto
        it by compare-and-swap.
    */
    void cancelByCounter() noexcept;
};
