#include "MeasurementHarness.h"

#include <random>
#include <thread>

using namespace qvn::test;

namespace
{
using LifecycleTest = ProcessorTest;

void setRoleNoUpdate (QuorvaneProcessor& p, int role)
{
    auto* param = p.parameters.getParameter (ids::role);
    param->setValueNotifyingHost (param->convertTo0to1 ((float) role));
}

void rebuild()
{
    auto& r = LinkRegistry::get();
    const std::lock_guard<std::mutex> lock (r.mutex);
    r.rebuildLinks();
}
} // namespace

// Hosts create, restore and destroy instances on several threads at once while
// other instances keep processing. The registry must neither race nor deadlock,
// and the links must be consistent once the churn is over.
TEST_F (LifecycleTest, ConcurrentConstructionAndDestructionKeepLinksConsistent)
{
    QuorvaneProcessor inst, vocal;
    setRole (inst, 1);
    setRole (vocal, 2);

    for (auto* p : { &inst, &vocal })
        p->prepareToPlay (48000.0, 128);

    std::atomic<bool> stop { false };
    std::thread audio ([&]
    {
        juce::AudioBuffer<float> buffer (2, 128);
        juce::MidiBuffer midi;

        while (! stop.load())
        {
            buffer.clear();
            inst.processBlock (buffer, midi);
            vocal.processBlock (buffer, midi);
        }
    });

    constexpr int numThreads = 4;
    std::vector<std::thread> hosts;
    std::mutex churnedMutex;
    std::vector<std::weak_ptr<LinkSlot>> churnedSlots;

    for (int t = 0; t < numThreads; ++t)
    {
        hosts.emplace_back ([t, &churnedMutex, &churnedSlots]
        {
            std::mt19937 rng ((unsigned) t + 1);

            for (int round = 0; round < 12; ++round)
            {
                std::vector<std::unique_ptr<QuorvaneProcessor>> mine;
                const int count = 1 + (int) (rng() % 3);

                for (int k = 0; k < count; ++k)
                    mine.push_back (std::make_unique<QuorvaneProcessor>());

                for (auto& p : mine)
                {
                    setRoleNoUpdate (*p, (int) (rng() % 3));
                    if (rng() % 2 == 0)
                        markMeasuring (*p, (int) (rng() % 16));
                }

                rebuild();
                auto& r = LinkRegistry::get();
                (void) r.anyMeasurementActive();

                if (rng() % 3 == 0)
                    r.cancelMeasurementsForSettingsChange();

                if (rng() % 3 == 0)
                    r.broadcastMeasurementSettings (mine.front().get(), 0, 2.0f + (float) (rng() % 5));

                for (auto& p : mine)
                {
                    (void) p->partnerCount.load();
                    const std::lock_guard<std::mutex> lock (churnedMutex);
                    churnedSlots.push_back (p->ownSlot);
                }

                // Destroy in a shuffled order.
                std::shuffle (mine.begin(), mine.end(), rng);
                mine.clear();
            }
        });
    }

    for (auto& h : hosts)
        h.join();

    stop = true;
    audio.join();

    rebuild();
    auto& r = LinkRegistry::get();
    {
        const std::lock_guard<std::mutex> lock (r.mutex);
        EXPECT_EQ (r.instances, (std::vector<QuorvaneProcessor*> { &inst, &vocal }));
        EXPECT_EQ (r.inst, &inst);
        EXPECT_EQ (r.vocals, (std::vector<QuorvaneProcessor*> { &vocal }));
    }
    EXPECT_EQ (partnersOf (inst), (std::vector<std::shared_ptr<LinkSlot>> { vocal.ownSlot }));
    EXPECT_EQ (partnersOf (vocal), (std::vector<std::shared_ptr<LinkSlot>> { inst.ownSlot }));
    EXPECT_TRUE (otherVocalsOf (vocal).empty());
    EXPECT_EQ (vocal.ownSlot->vocalNumber.load(), 1);
    EXPECT_FALSE (inst.roleConflict.load());
    EXPECT_FALSE (vocal.roleConflict.load());

    // Once the partners' audio threads have let go (they hand dropped slots back
    // to be freed on the message thread), no slot of a destroyed instance lives on.
    juce::AudioBuffer<float> buffer (2, 128);
    juce::MidiBuffer midi;
    inst.processBlock (buffer, midi);
    vocal.processBlock (buffer, midi);
    inst.handleUpdateNowIfNeeded();
    vocal.handleUpdateNowIfNeeded();

    for (auto& w : churnedSlots)
        EXPECT_TRUE (w.expired());
}

// Two audio threads (the Inst and a Vocal) while the message thread starts,
// stops, resets and cancels section measurements and reads their results.
TEST_F (LifecycleTest, MeasurementControlRacesWithTwoAudioThreads)
{
    Session s (1);
    auto& v = s.vocal();
    std::atomic<bool> done { false };

    std::thread message ([&]
    {
        std::mt19937 rng (7);

        while (! done.load())
        {
            switch (rng() % 7)
            {
                case 0: startMeasuring (v, 0); break;
                case 1: stopMeasuring (v); break;
                case 2: LinkRegistry::get().cancelMeasurementsForSettingsChange(); break;
                case 3: v.resetSectionMeasurementNoUndo (0); break;
                case 4: (void) v.getLearnHistorySnapshot (0); (void) v.captureSnapshot(); break;
                case 5: v.applyMeasurementSettings ((int) (rng() % 3), 1.0f + (float) (rng() % 4)); break;
                default:
                    s.inst->instMeasuring = true;
                    s.inst->instStartCounter.fetch_add (1);
                    std::this_thread::sleep_for (std::chrono::milliseconds (1));
                    s.inst->instMeasuring = false;
                    s.inst->instStopCounter.fetch_add (1);
                    s.inst->finalizeInst();
                    break;
            }

            (void) LinkRegistry::get().anyMeasurementActive();
            std::this_thread::sleep_for (std::chrono::microseconds (300));
        }
    });

    s.runThreaded (s.blocksFor (6.0));
    done = true;
    message.join();

    // A final clean run still gives the expected result.
    v.measMode = 0;
    s.startAndRun (v, 0, 1.0);
    s.stopAndSettle (v);
    EXPECT_TRUE (v.sections[0].frozen.load());
    EXPECT_NEAR (v.sections[0].gainDb.load(), 6.0f, 0.01f);
    EXPECT_EQ (v.measuringSectionIndex(), -1);
    EXPECT_FALSE (v.ownSlot->instSections[0].measuring.load());
}
