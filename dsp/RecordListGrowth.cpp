#include "RecordListGrowth.h"

#include <algorithm>
#include <chrono>

RecordListGrowth& RecordListGrowth::instance()
{
    // Never destroyed: lists may outlive static destruction order in a host
    // that unloads the plug-in late; the thread is joined when the last list
    // goes away instead.
    static auto* growth = new RecordListGrowth();
    return *growth;
}

void RecordListGrowth::add (GrowableRecord* record)
{
    auto& g = instance();
    const std::lock_guard<std::mutex> lock (g.mutex);
    g.records.push_back (record);

    if (! g.thread.joinable())
    {
        const auto generation = g.generation;
        g.thread = std::thread ([&g, generation] { g.run (generation); });
    }
}

void RecordListGrowth::remove (GrowableRecord* record)
{
    auto& g = instance();
    std::thread finished;

    {
        const std::lock_guard<std::mutex> lock (g.mutex);
        g.records.erase (std::remove (g.records.begin(), g.records.end(), record), g.records.end());

        if (g.records.empty() && g.thread.joinable())
        {
            // The running thread ends; a list added meanwhile starts another.
            ++g.generation;
            finished = std::move (g.thread);
        }
    }

    g.wake.notify_all();

    if (finished.joinable())
        finished.join();
}

void RecordListGrowth::growAllNow()
{
    auto& g = instance();
    const std::lock_guard<std::mutex> lock (g.mutex);

    for (auto* r : g.records)
        r->growAhead();
}

void RecordListGrowth::run (uint64_t ownGeneration)
{
    std::unique_lock<std::mutex> lock (mutex);

    while (generation == ownGeneration)
    {
        // The lists are touched only under the mutex, which their owners
        // take to unregister before they go away.
        for (auto* r : records)
            r->growAhead();

        wake.wait_for (lock, std::chrono::milliseconds (250), [this, ownGeneration] { return generation != ownGeneration; });
    }
}
