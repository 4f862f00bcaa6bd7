// The host saves and restores on its own thread while the editor works the
// A/B slots and the undo stack on the message thread.

#include "StateTestUtils.h"

#include <thread>

using namespace qvn::test;

namespace
{
class StateConcurrencyTest : public ProcessorTest
{
};
} // namespace

TEST_F (StateConcurrencyTest, HostSaveAndRestoreRaceTheABSlots)
{
    QuorvaneProcessor p;
    fillRichState (p);
    const auto blob = blobOf (p);

    std::atomic<bool> stop { false };
    std::atomic<int> hostRounds { 0 };

    std::thread host ([&] {
        while (! stop.load())
        {
            juce::MemoryBlock saved;
            p.getStateInformation (saved);
            p.setStateInformation (hostRounds.load() % 2 == 0 ? saved.getData() : (const void*) blob.data(),
                                   hostRounds.load() % 2 == 0 ? (int) saved.getSize() : (int) blob.size());
            ++hostRounds;
        }
    });

    for (int round = 0; round < 60 || hostRounds.load() < 10; ++round)
    {
        p.selectABSlot (round % 2);
        p.copyToOtherABSlot();
        p.instMatchGain = (float) round;
        p.undo();
        p.redo();
        p.handleUpdateNowIfNeeded();
    }

    stop = true;
    host.join();

    // Both slots still hold whole snapshots of one of the states.
    for (int k = 0; k < 2; ++k)
    {
        const auto slot = p.getABSlot (k);
        EXPECT_TRUE (slot.customSettings == customWeighting() || slot.customSettings == CustomWeightedRmsSettings {});
        EXPECT_GE (slot.customSettingsGeneration, 1u);
    }

    EXPECT_TRUE (p.currentAB.load() == 0 || p.currentAB.load() == 1);
}
