#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

class QuorvaneProcessor;
struct CustomWeightedRmsSettings;

/** The one place in the process where instances find each other.

    It lists every live processor, decides which is the Inst instance, which
    are Vocal instances (numbered in registration order) and which are extra
    Inst instances in conflict, hands each instance its partners' link slots
    and keeps the measurement settings of all active instances equal.

    Used on the message thread and on the host threads that create, destroy or
    restore instances; never on an audio thread. While `mutex` is held the
    registry takes processor mutexes one at a time; no processor mutex is ever
    held while `mutex` is taken.
*/
class LinkRegistry
{
public:
    /** The single registry, created on first use and destroyed at exit. */
    static LinkRegistry& get();

    /** Recomputes the links. The caller holds `mutex`. */
    void rebuildLinks();

    /** Applies mode and RMS time to every other active instance when the
        sender is active. */
    void broadcastMeasurementSettings (QuorvaneProcessor* sender, int mode, float rmsTimeSec);

    /** Applies a custom weighting to every other active instance when the
        sender is active. */
    void broadcastCustomWeightedRmsSettings (QuorvaneProcessor* sender,
                                             const CustomWeightedRmsSettings& settings,
                                             float rmsTimeSec,
                                             std::uint64_t generation);

    /** Cancels the running section measurements of every active instance. */
    void cancelMeasurementsForSettingsChange();

    /** True while an active instance measures a section or holds a run open. */
    bool anyMeasurementActive();

    std::mutex mutex;
    std::vector<QuorvaneProcessor*> instances;   // registration order
    std::vector<QuorvaneProcessor*> vocals;      // from the last rebuild
    QuorvaneProcessor* inst = nullptr;           // from the last rebuild

private:
    LinkRegistry() = default;
};
