#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// A list that the audio thread appends to and that needs its storage grown
// ahead of time by another thread.
class GrowableRecord
{
public:
    virtual ~GrowableRecord() = default;

    // Called on the growth thread only: allocates the next piece of storage
    // when the list is about to need it. Never blocks the audio thread.
    virtual void growAhead() = 0;
};

// One background thread per process that keeps every registered list's
// next piece of storage ready, so the audio thread never allocates while
// recording a long measurement. The thread runs while at least one list is
// registered; it looks at the lists several times a second.
class RecordListGrowth
{
public:
    static void add (GrowableRecord* record);
    static void remove (GrowableRecord* record);

    // Runs one round at once on the calling thread (tests and benchmarks use
    // it to stand in for the background thread deterministically).
    static void growAllNow();

private:
    static RecordListGrowth& instance();
    void run (uint64_t ownGeneration);

    std::mutex mutex;
    std::condition_variable wake;
    std::vector<GrowableRecord*> records;
    std::thread thread;
    uint64_t generation = 0;
};
