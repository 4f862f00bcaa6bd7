// Counts the heap allocations of whole processBlock calls (a replaced global
// operator new, counting only on this thread and only around the calls) and
// checks that every one of them is a growth step of a recorded measurement
// list, the only allocation the audio path may make in steady state; and that
// steady blocks never wait for a processor mutex.

#include "GainTestUtils.h"

#include "../support/AllocationCounter.h"

#include <future>

using namespace qvn::test;

namespace
{
/** The capacities of every list a processor's meters record into. */
std::vector<std::size_t> recordedListCapacities (QuorvaneProcessor& p)
{
    std::vector<std::size_t> caps;

    const auto addMeter = [&caps] (const LoudnessMeter& m)
    {
        caps.push_back (m.getBlockEnergies().capacity());
        caps.push_back (m.getRecordedFrames().capacity());
    };

    for (auto& m : p.sectionMeters)
        addMeter (m);

    for (auto& m : p.sectionCustomMeters)
        caps.push_back (m.getRecordedFrames().capacity());

    addMeter (p.liveShortTermMeter);
    addMeter (p.liveMomentaryMeter);
    addMeter (p.instMeter);
    caps.push_back (p.liveCustomMeter.getRecordedFrames().capacity());

    for (auto& state : p.perVocalStates)
    {
        for (auto& m : state->meters)
            addMeter (m);

        for (auto& m : state->customMeters)
            caps.push_back (m.getRecordedFrames().capacity());
    }

    return caps;
}

long growthSteps (const std::vector<std::size_t>& before, const std::vector<std::size_t>& after)
{
    if (before.size() != after.size())
        return -1;

    long steps = 0;

    for (size_t i = 0; i < before.size(); ++i)
        steps += before[i] != after[i] ? 1 : 0;

    return steps;
}

struct Tally
{
    long allocations = 0;
    long growthSteps = 0;
    long blocksWithStrayAllocations = 0;
};

/** Runs the session block by block, counting the allocations of each
    processBlock and the list growth it explains. */
Tally runCounted (Session& s, int blocks, int blockSize)
{
    Tally t;
    juce::AudioBuffer<float> buffer (2, blockSize);
    juce::MidiBuffer midi;

    for (int b = 0; b < blocks; ++b)
    {
        for (auto* p : s.all())
        {
            fillSine (buffer, s.samplePosition, s.sampleRate, p == s.inst.get() ? s.instLevelDb : s.vocalLevelDb);
            const auto before = recordedListCapacities (*p);

            long counted = 0;
            {
                AllocationCountScope scope;
                p->processBlock (buffer, midi);
                counted = scope.count();
            }

            const auto steps = growthSteps (before, recordedListCapacities (*p));
            t.allocations += counted;
            t.growthSteps += steps;
            t.blocksWithStrayAllocations += counted > steps ? 1 : 0;
        }

        s.advance();
    }

    return t;
}

class BlockAllocation : public ProcessorTest
{
};
} // namespace

TEST_F (BlockAllocation, IdleVocalAndInstAllocateNothing)
{
    Session s (1, 48000.0, 512);
    s.run (10);

    const auto t = runCounted (s, 3000, 512);
    EXPECT_EQ (t.allocations, 0);
    EXPECT_EQ (t.blocksWithStrayAllocations, 0);
}

TEST_F (BlockAllocation, MeasuringAllocatesOnlyForListGrowth)
{
    Session s (2, 48000.0, 512);
    s.run (10);
    startMeasuring (s.vocal (0), 0);
    startMeasuring (s.vocal (1), 0);
    s.run (2);

    // Half a minute of measuring stays inside the room the lists reserve.
    const auto shortRun = runCounted (s, s.blocksFor (30.0), 512);
    EXPECT_EQ (shortRun.allocations, 0);
    EXPECT_EQ (shortRun.blocksWithStrayAllocations, 0);

    // Half an hour: the block and frame lists grow well past the room they
    // reserve, but the storage they grow into is made ready ahead on the
    // growth thread, so the audio thread allocates nothing at all.
    const auto longRun = runCounted (s, s.blocksFor (30.0 * 60.0), 512);
    EXPECT_GT (longRun.growthSteps, 0);
    EXPECT_EQ (longRun.allocations, 0);
    EXPECT_EQ (longRun.blocksWithStrayAllocations, 0);

    // The measurements are still intact and cover the whole run.
    EXPECT_GT (s.vocal (0).ownSlot->instSections[0].elapsedSeconds.load(), 30.0f * 60.0f);
    EXPECT_EQ (s.vocal (0).sectionMeters[0].getBlockEnergies().size(),
               s.inst->perVocalStates[0]->meters[0].getBlockEnergies().size());
    EXPECT_GT (s.vocal (0).sectionMeters[0].getBlockEnergies().size(), 30u * 600u - 10u);
}

TEST_F (BlockAllocation, SteadyBlocksRunWhileEveryProcessorMutexIsHeld)
{
    // With no partner or weighting change pending, the audio path takes no
    // processor mutex but the result pickup's try-lock, so blocks go on while
    // the message thread holds all of them.
    Session s (2, 48000.0, 512);
    s.run (10);
    startMeasuring (s.vocal (0), 0);
    s.run (s.blocksFor (0.5));

    std::vector<std::unique_lock<std::mutex>> held;

    for (auto* p : s.all())
    {
        held.emplace_back (p->partnerMutex);
        held.emplace_back (p->settingsMutex);
        held.emplace_back (p->analysisMutex);
    }

    auto audio = std::async (std::launch::async, [&s] { s.run (s.blocksFor (1.0)); });
    const auto finished = audio.wait_for (std::chrono::seconds (20)) == std::future_status::ready;

    held.clear();
    audio.get();
    EXPECT_TRUE (finished);

    stopMeasuring (s.vocal (0));
    s.run (3);
    EXPECT_TRUE (s.vocal (0).sections[0].frozen.load());
}

TEST_F (BlockAllocation, HoursOnOneSectionKeepTheLiveIntegratedValueBoundedAndRight)
{
    // Two hours of playback on one section without a measurement, the way
    // loop playback or a project without section automation runs: the live
    // integrated value costs no allocation, keeps no list of blocks, and
    // still reads the gated loudness of everything since the section began.
    Session s (1, 48000.0, 512);
    s.run (10);

    const auto t = runCounted (s, s.blocksFor (2.0 * 3600.0), 512);
    EXPECT_EQ (t.allocations, 0);
    EXPECT_TRUE (s.vocal().liveMomentaryMeter.getBlockEnergies().empty());
    EXPECT_TRUE (s.inst->liveMomentaryMeter.getBlockEnergies().empty());

    // A steady sine: every block has the same level, so the gated value is
    // that of any block; an exactly gated meter on a minute of it agrees.
    LoudnessMeter exact;
    exact.prepare (48000.0, 2, 0.4);
    juce::AudioBuffer<float> buffer (2, 512);
    for (int b = 0; b < s.blocksFor (60.0); ++b)
    {
        fillSine (buffer, (std::int64_t) b * 512, 48000.0, s.vocalLevelDb);
        exact.processBlock (buffer);
    }

    EXPECT_NEAR (s.vocal().ownSlot->liveIntegrated.load(), exact.getIntegratedLUFS(), 0.01f);
    EXPECT_NEAR (s.inst->ownSlot->liveIntegrated.load(), exact.getIntegratedLUFS() + (s.instLevelDb - s.vocalLevelDb), 0.01f);
}
