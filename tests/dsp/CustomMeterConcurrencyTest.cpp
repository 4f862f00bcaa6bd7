// The publisher thread hands new weightings to a meter that the audio thread
// is running; run under ThreadSanitizer as well.
#include <gtest/gtest.h>
#include "dsp/CustomWeightedRmsMeter.h"
#include "dsp/CustomWeightingDesigner.h"

#include <atomic>
#include <thread>

struct CustomWeightedRmsMeterInspector
{
    static const DesignedCustomWeighting& active (const CustomWeightedRmsMeter& m)   { return m.activeDesign; }
    static const DesignedCustomWeighting& incoming (const CustomWeightedRmsMeter& m) { return m.incomingDesign; }
    static uint64_t incomingGeneration (const CustomWeightedRmsMeter& m)             { return m.incomingGeneration; }
};

namespace
{
    // Every generation gets a weighting of its own, so a design can be
    // matched to the generation it arrived with.
    CustomWeightedRmsSettings settingsFor (uint64_t generation)
    {
        CustomWeightedRmsSettings s;
        s.slots[3] = { true, (int32_t) CustomSlotType::Bell, 100.0 + (double) generation, -12.0 + (double) (generation % 240) / 10.0, 1.0, 12.0 };
        s.slots[5].enabled = true;
        s.slots[5].slopeDbPerOct = 6.0 * (double) (generation % 16 + 1);
        return s;
    }

    bool sameDesign (const DesignedCustomWeighting& a, const DesignedCustomWeighting& b)
    {
        if (a.sampleRate != b.sampleRate)
            return false;

        for (size_t k = 0; k < a.slots.size(); ++k)
        {
            const auto& x = a.slots[k];
            const auto& y = b.slots[k];

            if (x.enabled != y.enabled || x.numStages != y.numStages)
                return false;

            for (size_t i = 0; i < x.stages.size(); ++i)
                if (x.stages[i].b0 != y.stages[i].b0 || x.stages[i].b1 != y.stages[i].b1 || x.stages[i].b2 != y.stages[i].b2
                    || x.stages[i].a1 != y.stages[i].a1 || x.stages[i].a2 != y.stages[i].a2)
                    return false;
        }

        return true;
    }
}

TEST (CustomMeterConcurrency, PublisherAgainstAudioThread)
{
    constexpr uint64_t lastGeneration = 600;
    constexpr double fs = 48000.0;

    CustomWeightedRmsMeter meter;
    meter.prepare (fs, 2, settingsFor (1), 1);
    meter.setRecordFrames (true);

    std::atomic<bool> publisherDone { false };
    std::atomic<uint64_t> observedByOtherThread { 0 };

    std::thread publisher ([&]
    {
        for (uint64_t g = 2; g <= lastGeneration; ++g)
        {
            meter.publishSettings (settingsFor (g), g);
            observedByOtherThread = std::max (observedByOtherThread.load(), meter.getActiveGeneration());

            if (g % 8 == 0)
                std::this_thread::yield();
        }

        publisherDone = true;
    });

    juce::AudioBuffer<float> block (2, 64);
    for (int n = 0; n < 64; ++n)
        for (int c = 0; c < 2; ++c)
            block.setSample (c, n, (float) std::sin (0.05 * n + c));

    using Inspector = CustomWeightedRmsMeterInspector;
    uint64_t previous = 1;
    int blocks = 0;
    int checked = 0;

    auto runBlock = [&]
    {
        meter.processBlock (block);
        ++blocks;

        const auto active = meter.getActiveGeneration();
        EXPECT_GE (active, previous);
        previous = active;

        // Now and then: the designs in use are exactly the ones published
        // with their generations (a torn hand-over would mix two).
        if (blocks % 16 == 0)
        {
            ++checked;
            EXPECT_TRUE (sameDesign (Inspector::active (meter), CustomWeightingDesigner::design (settingsFor (active), fs))) << active;
            const auto inc = Inspector::incomingGeneration (meter);
            EXPECT_TRUE (sameDesign (Inspector::incoming (meter), CustomWeightingDesigner::design (settingsFor (inc), fs))) << inc;
        }

        for (const auto& f : meter.getRecordedFrames())
            ASSERT_EQ (f.generation, active);
    };

    while (! publisherDone.load())
        runBlock();

    publisher.join();

    // The last publication is always delivered and takes over after settling.
    for (int i = 0; i < 40; ++i)
        runBlock();

    EXPECT_EQ (meter.getActiveGeneration(), lastGeneration);
    EXPECT_GT (checked, 0);
    EXPECT_LE (observedByOtherThread.load(), lastGeneration);
}
