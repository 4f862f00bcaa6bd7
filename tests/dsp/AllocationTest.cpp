// The audio-thread paths allocate nothing in steady state. A replaced global
// operator new counts allocations while a test has armed it.
#include <gtest/gtest.h>
#include "dsp/CustomWeightedRmsMeter.h"
#include "dsp/LoudnessMeter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace
{
    std::atomic<bool> armed { false };
    std::atomic<int> allocations { 0 };

    void* countedAlloc (std::size_t size)
    {
        if (armed.load (std::memory_order_relaxed))
            allocations.fetch_add (1, std::memory_order_relaxed);

        if (auto* p = std::malloc (size == 0 ? 1 : size))
            return p;

        throw std::bad_alloc();
    }

    // Counts the allocations made by f.
    template <typename F>
    int allocationsDuring (F&& f)
    {
        allocations = 0;
        armed = true;
        f();
        armed = false;
        return allocations.load();
    }

    juce::AudioBuffer<float> noiseBlock (int channels, int num)
    {
        juce::AudioBuffer<float> b (channels, num);
        juce::Random r (42);
        for (int c = 0; c < channels; ++c)
            for (int n = 0; n < num; ++n)
                b.setSample (c, n, r.nextFloat() - 0.5f);
        return b;
    }

    CustomWeightedRmsSettings sixBands()
    {
        CustomWeightedRmsSettings s;
        s.slots[0] = { true, (int32_t) CustomSlotType::HighPass, 40.0, 0.0, 0.7, 30.0 };
        s.slots[1] = { true, (int32_t) CustomSlotType::LowShelf, 120.0, -3.0, 0.7, 12.0 };
        s.slots[2] = { true, (int32_t) CustomSlotType::FlatTilt, 1000.0, 4.5, 0.7, 12.0 };
        s.slots[3] = { true, (int32_t) CustomSlotType::Bell, 3000.0, 2.0, 1.5, 12.0 };
        s.slots[4] = { true, (int32_t) CustomSlotType::HighShelf, 8000.0, -2.0, 0.7, 12.0 };
        s.slots[5] = { true, (int32_t) CustomSlotType::LowPass, 16000.0, 0.0, 0.7, 42.0 };
        return s;
    }
}

void* operator new (std::size_t size)                               { return countedAlloc (size); }
void* operator new[] (std::size_t size)                             { return countedAlloc (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept
{
    try { return countedAlloc (size); } catch (...) { return nullptr; }
}
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept
{
    try { return countedAlloc (size); } catch (...) { return nullptr; }
}
void operator delete (void* p) noexcept                             { std::free (p); }
void operator delete[] (void* p) noexcept                           { std::free (p); }
void operator delete (void* p, std::size_t) noexcept                { std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept              { std::free (p); }

TEST (Allocation, CounterSeesAllocations)
{
    EXPECT_EQ (allocationsDuring ([] { delete new int (3); }), 1);
}

TEST (Allocation, LoudnessMeterProcessBlockInEveryConfiguration)
{
    const auto block = noiseBlock (2, 512);

    struct Config { double window; bool frames, recordFrames, recordBlocks; };
    for (auto c : { Config { 0.4, true, true, true }, Config { 3.0, true, false, false },
                    Config { 0.4, false, false, true }, Config { 0.4, false, true, true } })
    {
        LoudnessMeter m;
        m.prepare (48000.0, 2, c.window);
        m.setFramesEnabled (c.frames);
        m.setRecordFrames (c.recordFrames);
        m.setRecordBlocks (c.recordBlocks);

        // Five minutes of audio including the level queries the processor
        // makes between blocks; the recorded lists have room for that.
        const auto n = allocationsDuring ([&]
        {
            for (int i = 0; i < 5 * 60 * 48000 / 512; ++i)
            {
                m.processBlock (block);
                m.getIntegratedLUFS();
                m.getHistogramIntegratedLUFS();
                m.getMomentaryLUFS();
                m.getWindowLUFS();
                m.getLiveKRmsDb (3.0);
            }

            m.resetGating();
            m.resetHistogram();
            m.reset();
            m.processBlock (block);
        });

        EXPECT_EQ (n, 0) << "window " << c.window;
    }
}

TEST (Allocation, CustomMeterWithSixBandsAndNewDesigns)
{
    const auto block = noiseBlock (2, 512);

    CustomWeightedRmsMeter m;
    m.prepare (48000.0, 2, sixBands(), 1);
    m.setRecordFrames (true);

    auto other = sixBands();
    other.slots[3].gainDb = -6.0;

    int total = 0;

    for (uint64_t g = 2; g < 6; ++g)
    {
        total += allocationsDuring ([&]
        {
            for (int i = 0; i < 60 * 48000 / 512; ++i)
            {
                m.processBlock (block);
                m.getLiveRmsDb (3.0);
            }
        });

        EXPECT_GE (m.getRecordedFrames().size(), 599u);

        // Publishing designs and copies a weighting by value.
        total += allocationsDuring ([&] { m.publishSettings (g % 2 == 0 ? other : sixBands(), g); });
        total += allocationsDuring ([&] { m.resetMeasurement(); });
    }

    total += allocationsDuring ([&] { for (int i = 0; i < 4; ++i) m.processBlock (block); });

    EXPECT_EQ (total, 0);
    EXPECT_EQ (m.getActiveGeneration(), 5u);
}
