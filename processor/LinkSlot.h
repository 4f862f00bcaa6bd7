#pragma once

#include "dsp/CustomWeightedRmsMeter.h"
#include "dsp/LoudnessMeter.h"

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

/** A shared pointer that one thread may replace while others take copies of
    it. A tiny spin lock guards only the copy or swap of the pointer itself
    (a reference-count step), so a reader never sees a torn pointer and never
    holds the writer up for long; a replaced object is released outside it.
*/
template <typename T>
class AtomicSharedPtr
{
public:
    AtomicSharedPtr() = default;
    AtomicSharedPtr (const AtomicSharedPtr&) = delete;
    AtomicSharedPtr& operator= (const AtomicSharedPtr&) = delete;

    std::shared_ptr<T> load() const noexcept
    {
        lock();
        auto copy = ptr;
        unlock();
        return copy;
    }

    void store (std::shared_ptr<T> desired) noexcept
    {
        lock();
        ptr.swap (desired);
        unlock();
        // The previous object, now in `desired`, goes here, outside the lock.
    }

private:
    void lock() const noexcept
    {
        while (busy.exchange (true, std::memory_order_acquire))
            while (busy.load (std::memory_order_relaxed))
                std::this_thread::yield();
    }

    void unlock() const noexcept { busy.store (false, std::memory_order_release); }

    mutable std::atomic<bool> busy { false };
    std::shared_ptr<T> ptr;
};

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
    AtomicSharedPtr<const History> history;
    AtomicSharedPtr<const Frames> frames;
    AtomicSharedPtr<const CustomFrames> customFrames;
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
    std::atomic<int> stopEndsStart { 0 };   // the start count the last stop ends
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
    AtomicSharedPtr<const std::string> name;
    std::array<SectionSlot, numSections> ownSections;
    std::array<SectionSlot, numSections> instSections;

    /** Ends this slot's running section measurement so that both sides discard
        it: the cancel marker is written first, then the stop counter moves onto
        it by compare-and-swap.
    */
    void cancelByCounter() noexcept;

    /** Ends the running section measurement as an ordinary stop: both sides
        publish. The start it ends is recorded before the stop counter moves,
        so a start and a stop that reach the audio threads together are
        handled in the order they were made. */
    void signalStop() noexcept;
};

/** Whether counter value a was moved to after b (wrap-safe). */
inline bool counterIsAfter (int a, int b) noexcept
{
    return (int) ((unsigned) a - (unsigned) b) > 0;
}
