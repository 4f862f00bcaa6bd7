// A start and a stop that reach the audio thread together, before any block
// has seen the start: the run they describe must end, on every side, and the
// INST meter must not be touched by two threads at once.

#include "MeasurementHarness.h"

#include <atomic>
#include <random>
#include <thread>

using namespace qvn::test;

namespace
{
class StartStopOrder : public ProcessorTest
{
};

/** What the editor does to start the INST measurement. */
void startInst (QuorvaneProcessor& inst)
{
    inst.instFrozen = false;
    {
        const std::lock_guard<std::mutex> lock (inst.analysisMutex);
        inst.instAnalysisSeconds = 0.0f;
        inst.instHistory.clear();
    }
    inst.instStartCounter.fetch_add (1);
    inst.instMeasuring = true;
}

bool hasResult (QuorvaneProcessor& v, int section) { return v.sections[(size_t) section].frozen.load(); }

/** Puts the Vocal on a section and lets the change take hold. */
void onSection (Session& s, QuorvaneProcessor& v, int section)
{
    setParam (v, ids::section, (float) section);
    s.run (2);
}

/** Nothing of a section run is left running anywhere. */
void expectNoSectionRun (Session& s, QuorvaneProcessor& v, int section)
{
    EXPECT_EQ (v.measuringSectionIndex(), -1);
    EXPECT_EQ (v.ownMeasuringSection, -1);
    EXPECT_FALSE (v.ownSlot->ownSections[(size_t) section].measuring.load());
    EXPECT_FALSE (v.ownSlot->instSections[(size_t) section].measuring.load());

    for (auto& e : s.inst->perVocalStates)
        EXPECT_EQ (e->measuringSection, -1);
}
} // namespace

TEST_F (StartStopOrder, InstStartAndStopInOneBlockEndTheRun)
{
    Session s (1);
    auto& inst = *s.inst;
    s.run (2);

    for (int round = 0; round < 20; ++round)
    {
        SCOPED_TRACE (round);
        startInst (inst);
        inst.stopInstMeasurement();
        s.run (1);

        EXPECT_FALSE (inst.instMeterActive);
        EXPECT_EQ (inst.instFinalizedStop.load(), inst.instStopCounter.load());
        EXPECT_FALSE (inst.instFrozen.load()); // a run of no time gives no result

        // Nothing keeps measuring.
        s.run (5);
        EXPECT_EQ (inst.instMeter.getSamplesProcessed(), 0);
        EXPECT_EQ (inst.instAnalysisSeconds.load(), 0.0f);
    }

    // A stop and then a new start in one block still restart the meter.
    startInst (inst);
    s.run (s.blocksFor (1.0));
    inst.stopInstMeasurement();
    startInst (inst);
    s.run (s.blocksFor (2.0));
    EXPECT_TRUE (inst.instMeterActive);
    EXPECT_EQ (inst.instFinalizedStop.load(), inst.instStopCounter.load());
    EXPECT_NEAR (inst.instAnalysisSeconds.load(), 2.0f, 0.02f);
    inst.stopInstMeasurement();
    s.run (1);
    EXPECT_TRUE (inst.instFrozen.load());
    EXPECT_GT (inst.instMeasuredLufs.load(), -30.0f);
    EXPECT_FALSE (inst.instMeterActive);
}

TEST_F (StartStopOrder, SectionStartAndStopInOneBlockEndTheRunOnBothSides)
{
    // Which instances get a block between MATCH and STOP: none, or only the
    // Inst (it has begun its side when the Vocal sees both at once).
    for (bool instInBetween : { false, true })
    {
        SCOPED_TRACE (instInBetween ? "Inst runs a block in between" : "both see both");
        Session s (1);
        auto& v = s.vocal();
        onSection (s, v, 0);

        for (int round = 0; round < 10; ++round)
        {
            SCOPED_TRACE (round);
            startMeasuring (v, 0);

            if (instInBetween)
            {
                juce::AudioBuffer<float> buffer (2, s.blockSize);
                juce::MidiBuffer midi;
                fillSine (buffer, s.samplePosition, s.sampleRate, s.instLevelDb);
                s.inst->processBlock (buffer, midi);
            }

            stopMeasuring (v);
            s.run (3);
            expectNoSectionRun (s, v, 0);
            EXPECT_FALSE (v.sections[0].frozen.load());
            EXPECT_FALSE (v.ownSlot->ownSections[0].done.load());
            EXPECT_FALSE (v.ownSlot->instSections[0].done.load());
        }

        // The same section measured for real afterwards gives its result.
        s.startAndRun (v, 0, 1.0);
        s.stopAndSettle (v);
        EXPECT_TRUE (hasResult (v, 0));
        EXPECT_NEAR (v.sections[0].gainDb.load(), 6.0f, 0.01f);
        expectNoSectionRun (s, v, 0);
    }
}

TEST_F (StartStopOrder, StopThenMatchInOneBlockStillRestarts)
{
    Session s (1);
    auto& v = s.vocal();
    onSection (s, v, 0);
    s.startAndRun (v, 0, 1.0);

    stopMeasuring (v);
    startMeasuring (v, 0);
    s.run (s.blocksFor (1.0));
    EXPECT_EQ (v.ownMeasuringSection, 0);
    EXPECT_TRUE (v.ownSlot->instSections[0].measuring.load());
    s.stopAndSettle (v);
    EXPECT_TRUE (hasResult (v, 0));
    EXPECT_NEAR (v.sections[0].gainDb.load(), 6.0f, 0.01f);
    EXPECT_NEAR (v.sections[0].analysisSeconds.load(), 1.0f, 0.02f);
}

TEST_F (StartStopOrder, TransportStopInTheBlockOfTheStartEndsBothRuns)
{
    // Playback starts and stops before the block that would begin the runs
    // the asynchronous update started.
    Session s (1);
    auto& v = s.vocal();
    auto& inst = *s.inst;

    for (auto* p : s.all())
        p->linkMeasurementToTransport = true;

    onSection (s, v, 0);
    s.run (2);

    startMeasuring (v, 0);
    startInst (inst);
    s.setPlaying (false);
    s.run (3);

    expectNoSectionRun (s, v, 0);
    EXPECT_FALSE (inst.instMeasuring.load());
    EXPECT_FALSE (inst.instMeterActive);
    EXPECT_EQ (inst.instFinalizedStop.load(), inst.instStopCounter.load());
}

TEST_F (StartStopOrder, EditorFallbackFinishesAStartAndStopOfOneBlockWhileTheInstPlays)
{
    // The start and the STOP reach the Inst before its next block; meanwhile
    // the editor's fallback finishes the stop on the message thread while the
    // audio thread goes on processing.
    Session s (0);
    auto& inst = *s.inst;
    s.run (2);
    startInst (inst);
    inst.stopInstMeasurement();

    std::atomic<bool> done { false };
    std::thread message ([&]
    {
        while (! done.load())
        {
            inst.finalizeInst();
            std::this_thread::sleep_for (std::chrono::microseconds (200));
        }
    });

    s.runThreaded (s.blocksFor (1.0));
    done = true;
    message.join();

    EXPECT_FALSE (inst.instMeterActive);
    EXPECT_EQ (inst.instFinalizedStop.load(), inst.instStopCounter.load());
    EXPECT_EQ (inst.instMeter.getSamplesProcessed(), 0);
}

TEST_F (StartStopOrder, MessageThreadFinishingRacesWithInstStartsAndStops)
{
    // The Inst's audio thread gets starts and stops in every combination
    // while the message thread keeps finishing the INST measurement and
    // reading its history, as the editor's fallback does.
    Session s (1);
    auto& inst = *s.inst;
    std::atomic<bool> done { false };
    std::atomic<int> finishing { 0 };

    std::thread message ([&]
    {
        while (! done.load())
        {
            inst.finalizeInst();
            (void) inst.getInstLearnHistorySnapshot();
            finishing.fetch_add (1);
            std::this_thread::yield();
        }
    });

    std::thread editor ([&]
    {
        std::mt19937 rng (11);

        while (! done.load())
        {
            switch (rng() % 4)
            {
                case 0: startInst (inst); inst.stopInstMeasurement(); break;
                case 1: inst.stopInstMeasurement(); startInst (inst); break;
                case 2: startInst (inst); break;
                default: inst.stopInstMeasurement(); break;
            }

            std::this_thread::sleep_for (std::chrono::microseconds (200 + rng() % 800));
        }
    });

    s.runThreaded (s.blocksFor (3.0));
    done = true;
    message.join();
    editor.join();
    EXPECT_GT (finishing.load(), 0);

    // Whatever happened, a run started now is ended and finished by its stop.
    startInst (inst);
    s.run (2);
    EXPECT_TRUE (inst.instMeterActive);
    inst.stopInstMeasurement();
    s.run (1);
    EXPECT_FALSE (inst.instMeterActive);
    EXPECT_EQ (inst.instFinalizedStop.load(), inst.instStopCounter.load());
}
