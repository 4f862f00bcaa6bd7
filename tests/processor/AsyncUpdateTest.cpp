// How often automation playback of the Offset Gains makes the audio thread
// post an asynchronous update (a lock and a system call in the framework),
// and that every edit still reaches the message-thread side.

#include "MeasurementHarness.h"

#include <cstdio>

using namespace qvn::test;

namespace
{
class AsyncUpdates : public ProcessorTest
{
};

/** Counts the updates that ran, that is the posts that were made. */
struct CountingProcessor : QuorvaneProcessor
{
    void handleAsyncUpdate() override
    {
        ++updates;
        QuorvaneProcessor::handleAsyncUpdate();
    }

    int updates = 0;
};

/** Moves the parameter the way the VST3 wrapper applies a host's automation
    point: inside the process call, before processBlock. */
void automate (QuorvaneProcessor& p, const juce::String& id, float value)
{
    auto* param = p.parameters.getParameter (id);
    param->setValueNotifyingHost (param->convertTo0to1 (value));
}

struct Run
{
    int blocks = 0, listenerCalls = 0, updates = 0;
};

/** A Vocal playing `seconds` of audio in blocks of `block` samples, all 16
    Offset Gains (or the Inst Offset) automated with a new value in every
    block; the message thread runs any pending update after every block, so
    every request the audio thread makes is a post of its own. */
Run automateOffsets (int block, double seconds, bool instOffset, bool playing = true)
{
    CountingProcessor p;
    TestPlayHead head;
    head.playing = playing;
    setRole (p, instOffset ? 1 : 2);
    p.setPlayHead (&head);
    p.prepareToPlay (48000.0, block);
    p.handleUpdateNowIfNeeded();
    p.updates = 0;

    juce::AudioBuffer<float> buffer (2, block);
    juce::MidiBuffer midi;
    Run run;
    run.blocks = (int) (seconds * 48000.0 / block);

    for (int b = 0; b < run.blocks; ++b)
    {
        p.beginSectionAutomationBlock();
        const auto value = -6.0f + 12.0f * (float) (b % 100) / 100.0f;

        if (instOffset)
        {
            automate (p, ids::instOffset, value * 0.5f);
            ++run.listenerCalls;
        }
        else
        {
            for (int i = 0; i < 16; ++i)
            {
                automate (p, QuorvaneProcessor::offsetParameterId (i), value);
                ++run.listenerCalls;
            }
        }

        buffer.clear();
        p.processBlock (buffer, midi);
        head.position += block;
        p.handleUpdateNowIfNeeded();
    }

    // The last values reach the message-thread side: they are the accepted
    // offsets once the updates have run.
    p.releaseResources();
    p.handleUpdateNowIfNeeded();
    run.updates = p.updates;

    if (instOffset)
        EXPECT_NEAR (p.storedInstOffset.load(), p.getInstOffsetDb(), 1.0e-4f);
    else
        for (int i = 0; i < 16; ++i)
            EXPECT_NEAR (p.storedOffsets[(size_t) i].load(), p.getSectionOffset (i), 1.0e-4f) << i;

    return run;
}
} // namespace

TEST_F (AsyncUpdates, OffsetAutomationPostsAFewUpdatesPerSecondNotOnePerBlock)
{
    for (int block : { 32, 64, 512, 4097 })
    {
        for (bool instOffset : { false, true })
        {
            SCOPED_TRACE (juce::String (block) + (instOffset ? " Inst Offset" : " 16 offsets"));
            const auto run = automateOffsets (block, 10.0, instOffset);
            const auto perSecond = run.updates / 10.0;
            std::printf ("%4d-sample blocks, %s: %d listener calls, %d blocks, %d updates posted (%.1f per second)\n",
                         block, instOffset ? "Inst Offset" : "16 offsets", run.listenerCalls, run.blocks, run.updates,
                         perSecond);

            // At most one per 25 ms of audio, or one per block where blocks
            // are longer; at least one in every such stretch.
            const auto blockSeconds = block / 48000.0;
            const auto most = 10.0 / std::max (0.025, blockSeconds) + 2.0;
            EXPECT_LE (run.updates, most);
            EXPECT_GE (run.updates, 10.0 / std::max (0.025, blockSeconds) / 2.0);
        }
    }
}

TEST_F (AsyncUpdates, EditsOutsideAProcessCallOrWhileStoppedPostAtOnce)
{
    // Stopped: every block that moved an offset posts, so the edit is handled
    // without waiting.
    const auto stopped = automateOffsets (512, 1.0, false, false);
    EXPECT_EQ (stopped.updates, stopped.blocks);

    // An edit from the message thread, outside any process call, is handled
    // by the next update without a block in between.
    CountingProcessor p;
    setRole (p, 2);
    p.prepareToPlay (48000.0, 512);
    p.handleUpdateNowIfNeeded();
    setParam (p, QuorvaneProcessor::offsetParameterId (3), 4.0f);
    p.handleUpdateNowIfNeeded();
    EXPECT_NEAR (p.storedOffsets[3].load(), 4.0f, 1.0e-4f);
}
