// Counts heap allocations made on the calling thread while a flag is set, to
// show that linking a new partner costs the audio thread no allocation.

#include "MeasurementHarness.h"

#include "../support/AllocationCounter.h"

using namespace qvn::test;

TEST (RealtimeAllocation, AdoptingANewPartnerDoesNotAllocateOnTheAudioThread)
{
    juce::ScopedJuceInitialiser_GUI juceInit;
    Session s (1);
    s.run (5);

    auto second = std::make_unique<QuorvaneProcessor>();
    second->prepareToPlay (48000.0, 480);
    setRole (*second, 2); // relinks on this (message) thread

    juce::AudioBuffer<float> buffer (2, 480);
    juce::MidiBuffer midi;
    fillSine (buffer, 0, 48000.0, -20.0f);

    {
        AllocationCountScope scope;
        s.inst->processBlock (buffer, midi);
        s.vocal().processBlock (buffer, midi);
        second->processBlock (buffer, midi);
        EXPECT_EQ (scope.count(), 0);
    }

    EXPECT_EQ (s.inst->partnerCount.load(), 2);

    // The new partner's measurement runs against the adopted state.
    s.vocals.push_back (std::move (second));
    s.run (2);
    s.startAndRun (*s.vocals.back(), 0, 1.0);
    s.stopAndSettle (*s.vocals.back());
    EXPECT_NEAR (s.vocals.back()->sections[0].gainDb.load(), 6.0f, 0.01f);

    // Steady state without measurements allocates nothing either.
    {
        AllocationCountScope scope;
        for (int i = 0; i < 50; ++i)
        {
            s.inst->processBlock (buffer, midi);
            s.vocal().processBlock (buffer, midi);
        }
        EXPECT_EQ (scope.count(), 0);
    }
}
