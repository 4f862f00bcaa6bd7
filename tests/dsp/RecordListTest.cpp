// The chunked list the meters record into: contents survive chunk
// boundaries, clear keeps the storage, and the growth thread hands the audio
// thread its next chunk while it appends (run under ThreadSanitizer).
#include <gtest/gtest.h>
#include "dsp/LoudnessMeter.h"
#include "dsp/RecordList.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace
{
    using List = RecordList<double>;
    constexpr auto chunk = List::chunkSize;
}

TEST (RecordList, KeepsEveryEntryInOrderAcrossChunks)
{
    List list;
    list.reserve (100);
    EXPECT_EQ (list.capacity(), chunk);

    for (size_t i = 0; i < 3 * chunk + 17; ++i)
        list.push_back ((double) i);

    ASSERT_EQ (list.size(), 3 * chunk + 17);
    EXPECT_EQ (list.capacity(), 4 * chunk);

    const auto copy = list.toVector();
    ASSERT_EQ (copy.size(), list.size());
    for (size_t i = 0; i < copy.size(); ++i)
        ASSERT_EQ (copy[i], (double) i) << i;

    size_t k = 0;
    for (auto v : list)
        ASSERT_EQ (v, (double) k++);
    EXPECT_EQ (list.back(), (double) (3 * chunk + 16));

    const List twin (list);
    EXPECT_EQ (twin.toVector(), copy);

    // Clearing keeps the storage for the next recording.
    list.clear();
    EXPECT_TRUE (list.empty());
    EXPECT_EQ (list.capacity(), 4 * chunk);
    list.push_back (7.0);
    EXPECT_EQ (list.toVector(), std::vector<double> { 7.0 });
}

TEST (RecordList, TheGrowthThreadReadiesTheNextChunkAhead)
{
    List list;
    list.reserve (1);

    // Up to half a chunk before the end nothing is asked for.
    for (size_t i = 0; i < chunk / 2 - 1; ++i)
        list.push_back (1.0);
    RecordListGrowth::growAllNow();
    EXPECT_EQ (list.capacity(), chunk);

    // From there on the growth thread (here: a round run at once) prepares
    // the next chunk, which the list takes when the first one is full.
    list.push_back (1.0);
    RecordListGrowth::growAllNow();
    for (size_t i = list.size(); i < chunk + 1; ++i)
        list.push_back (2.0);
    EXPECT_EQ (list.capacity(), 2 * chunk);
    EXPECT_EQ (list.size(), chunk + 1);
}

TEST (RecordList, AppendingWhileTheGrowthThreadRuns)
{
    // A writer appends ten chunks' worth at about 40 entries per millisecond
    // (far faster than a meter's ten per second) while the background growth
    // thread keeps the next chunk ready; every entry arrives intact.
    LoudnessMeter meter; // its own lists keep the growth thread running too
    List list;
    list.reserve (1);
    const auto total = 10 * chunk;

    std::thread writer ([&]
    {
        for (size_t i = 0; i < total; ++i)
        {
            list.push_back ((double) i);
            if (i % 40 == 0)
                std::this_thread::sleep_for (std::chrono::milliseconds (1));
        }
    });

    writer.join();
    ASSERT_EQ (list.size(), total);
    for (size_t i = 0; i < total; i += 997)
        ASSERT_EQ (list[i], (double) i);
}

// A list at its last chunk: further entries are dropped, what it holds stays
// in order, the growth thread is asked for nothing more, and after clear it
// records again into the storage it has.
TEST (RecordList, AtItsChunkCapDropsFurtherEntriesAndKeepsTheRest)
{
    constexpr auto cap = List::chunkSize * List::maxChunks;
    List list;

    for (size_t i = 0; i < cap + 1000; ++i)
    {
        list.push_back ((double) i);

        if ((i & (chunk - 1)) == 0)
            RecordListGrowth::growAllNow();
    }

    ASSERT_EQ (list.size(), cap);
    EXPECT_EQ (list.capacity(), cap);
    EXPECT_EQ (list.back(), (double) (cap - 1));
    EXPECT_EQ (list[cap / 2], (double) (cap / 2));

    list.clear();
    for (size_t i = 0; i < 3 * chunk; ++i)
        list.push_back (-(double) i);
    EXPECT_EQ (list.size(), 3 * chunk);
    EXPECT_EQ (list.back(), -(double) (3 * chunk - 1));
    EXPECT_EQ (list.capacity(), cap);
}

// Lists made, filled past a chunk and destroyed on several threads at once,
// as plug-in instances come and go while others record: the growth thread
// stops whenever the last list goes and starts again with the next one, and
// every list keeps what was appended to it.
TEST (RecordList, ListsComingAndGoingOnSeveralThreads)
{
    std::atomic<int> wrong { 0 };
    std::vector<std::thread> threads;

    for (int t = 0; t < 6; ++t)
    {
        threads.emplace_back ([&wrong, t]
        {
            for (int round = 0; round < 12; ++round)
            {
                LoudnessMeter meter;   // two more lists coming and going
                List list;

                const auto n = chunk + chunk / 2 + (size_t) (t * 37 + round);
                for (size_t i = 0; i < n; ++i)
                {
                    list.push_back ((double) i);
                    if ((i & 1023) == 0)
                        std::this_thread::yield();
                }

                if (list.size() != n || list.back() != (double) (n - 1) || list[chunk] != (double) chunk)
                    ++wrong;
            }
        });
    }

    for (auto& t : threads)
        t.join();

    EXPECT_EQ (wrong.load(), 0);
}
