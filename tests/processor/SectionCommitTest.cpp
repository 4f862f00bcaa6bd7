#include "MeasurementHarness.h"

using namespace qvn::test;

namespace
{
constexpr double rate = 48000.0;
constexpr int blockSize = 480; // 10 ms

float sectionValue (int section) { return (float) section / 15.0f; }

/** One instance with its own play head, driven block by block. */
struct CommitRig
{
    CommitRig()
    {
        p.setPlayHead (&head);
        p.prepareToPlay (rate, blockSize);
    }

    /** One block: the wrapper announces it, passes the section points, then
        applies the last one as the parameter value, then processes. */
    void block (std::vector<std::pair<int, int>> points = {})
    {
        p.beginSectionAutomationBlock();

        for (auto [offset, section] : points)
            p.pushSectionAutomationPoint (offset, sectionValue (section));

        if (! points.empty())
            setParam (p, ids::section, (float) points.back().second);

        buffer.clear();
        p.processBlock (buffer, midi);

        if (head.playing)
            head.position += blockSize;
    }

    void blocks (int count, int section = -1)
    {
        for (int i = 0; i < count; ++i)
            block (section >= 0 ? std::vector<std::pair<int, int>> { { 0, section } } : std::vector<std::pair<int, int>> {});
    }

    void editorStep (int section)
    {
        p.editorSectionEcho = section;
        p.uiSectionRequest = section;
        p.uiSectionRequestSerial.fetch_add (1);
    }

    juce::ScopedJuceInitialiser_GUI juce;
    QuorvaneProcessor p;
    TestPlayHead head;
    juce::AudioBuffer<float> buffer { 2, blockSize };
    juce::MidiBuffer midi;
};
} // namespace

TEST (SectionCommit, QueueKeepsOnePointPerOffsetAndTheLastOfTooMany)
{
    CommitRig r;
    auto& q = r.p.sectionAutomationQueue;
    r.p.beginSectionAutomationBlock();
    r.p.pushSectionAutomationPoint (-5, sectionValue (2));
    r.p.pushSectionAutomationPoint (0, sectionValue (4));
    ASSERT_EQ (q.count, 1);
    EXPECT_EQ (q.points[0].sampleOffset, 0);
    EXPECT_EQ (q.points[0].section, 4);

    r.p.pushSectionAutomationPoint (10, 2.0f);   // clamped to P
    EXPECT_EQ (q.points[1].section, 15);

    for (int i = 0; i < 100; ++i)
        r.p.pushSectionAutomationPoint (20 + i, sectionValue (i % 16));

    EXPECT_EQ (q.count, 64);
    EXPECT_EQ (q.points[62].sampleOffset, 20 + 60);
    EXPECT_EQ (q.points[63].sampleOffset, 20 + 99);

    r.p.pushOffsetAutomationPoint (20, 7, 0.75f);
    EXPECT_EQ (r.p.offsetAutomationQueue.count, 1);
    EXPECT_EQ (r.p.offsetAutomationQueue.points[0].section, 15);
    EXPECT_FLOAT_EQ (r.p.offsetAutomationQueue.points[0].offsetDb, 6.0f);

    r.p.beginSectionAutomationBlock();
    EXPECT_EQ (q.count, 0);
    EXPECT_EQ (r.p.offsetAutomationQueue.count, 0);
}

TEST (SectionCommit, PointsInOneBlockCommitTheLastSection)
{
    CommitRig r;
    r.blocks (2);
    r.block ({ { 100, 1 }, { 300, 3 } });
    EXPECT_EQ (r.p.committedSection.load(), 3);
    r.block ({ { 100, 1 }, { 300, 3 } });
    EXPECT_EQ (r.p.committedSection.load(), 3);
    r.block ({ { 100, 1 }, { 300, 0 } });
    EXPECT_EQ (r.p.committedSection.load(), 0);
}

TEST (SectionCommit, FollowFlagFromTheHostAutomationState)
{
    struct Case { int state; bool playing; bool follows; };
    const Case cases[] = { { 1, true, true }, { 2, true, false }, { 3, true, false }, { 1, false, false }, { 0, true, false } };

    for (const auto& c : cases)
    {
        CommitRig r;
        r.p.setHostAutomationState (c.state);
        r.head.playing = c.playing;
        const auto ticks = r.p.followAutomationTicks.load();
        r.blocks (3);
        EXPECT_EQ (r.p.followAutomation.load(), c.follows) << c.state << " " << c.playing;
        EXPECT_EQ (r.p.followAutomationTicks.load(), ticks + 3);
        EXPECT_EQ (r.p.hostAutomationState.load(), c.state);
        EXPECT_EQ (r.p.hostStateReports.load(), 1);
    }
}

TEST (SectionCommit, WithoutHostStateAPointAfterAQuarterSecondOfPlaybackFollows)
{
    CommitRig r;
    r.blocks (10, 0);               // 0.1 s: points too early do not count
    r.block ({ { 0, 2 } });
    EXPECT_FALSE (r.p.followAutomation.load());
    r.blocks (20);
    EXPECT_FALSE (r.p.followAutomation.load());
    r.block ({ { 50, 4 } });         // after 0.3 s of playback
    EXPECT_TRUE (r.p.followAutomation.load());
    r.blocks (5);
    EXPECT_TRUE (r.p.followAutomation.load());

    r.head.playing = false;
    r.blocks (1);
    EXPECT_FALSE (r.p.followAutomation.load());
}

TEST (SectionCommit, EditorEchoesDoNotMakeTheSectionFollow)
{
    CommitRig r;
    r.blocks (40);
    r.editorStep (6);
    r.block ({ { 0, 6 } });
    r.blocks (15);
    EXPECT_FALSE (r.p.followAutomation.load());
    EXPECT_EQ (r.p.committedSection.load(), 6);
}

TEST (SectionCommit, EditorRequests)
{
    {
        SCOPED_TRACE ("stopped: commits as soon as the parameter shows it");
        CommitRig r;
        r.head.playing = false;
        r.blocks (2);
        r.editorStep (5);
        r.blocks (1);
        EXPECT_EQ (r.p.committedSection.load(), 0);
        setParam (r.p, ids::section, 5.0f);
        r.blocks (1);
        EXPECT_EQ (r.p.committedSection.load(), 5);
        EXPECT_EQ (r.p.uiSectionRequest.load(), -1);
    }
    {
        SCOPED_TRACE ("playing: held for 120 ms first");
        CommitRig r;
        r.blocks (2);
        r.editorStep (5);
        setParam (r.p, ids::section, 5.0f);
        r.blocks (11);
        EXPECT_EQ (r.p.committedSection.load(), 0);
        r.blocks (1);
        EXPECT_EQ (r.p.committedSection.load(), 5);
    }
    {
        SCOPED_TRACE ("playing: a third section after matching drops the request");
        CommitRig r;
        r.blocks (2);
        r.editorStep (5);
        setParam (r.p, ids::section, 5.0f);
        r.blocks (3);
        setParam (r.p, ids::section, 9.0f);
        r.blocks (1);
        EXPECT_EQ (r.p.committedSection.load(), 9);
        EXPECT_EQ (r.p.uiSectionRequest.load(), -1);
    }
    {
        SCOPED_TRACE ("followed automation drops a request");
        CommitRig r;
        r.p.setHostAutomationState (1);
        r.blocks (2);
        r.editorStep (5);
        r.blocks (1);
        EXPECT_EQ (r.p.uiSectionRequest.load(), -1);
    }
}

TEST (SectionCommit, LoopWrapMemoryGuardsAgainstStaleAutomation)
{
    CommitRig r;
    r.head.looping = true;
    const auto secondsToBlocks = [] (double s) { return (int) std::lround (s * rate / blockSize); };

    // Loop 0..30 s: B at the start, A near the end.
    r.blocks (secondsToBlocks (25.0), 1);
    r.blocks (secondsToBlocks (5.0), 0);
    EXPECT_EQ (r.p.committedSection.load(), 0);

    r.head.position = 0; // the wrap
    r.block ({ { 0, 1 } });
    EXPECT_EQ (r.p.committedSection.load(), 1);

    // Stale A early in the loop needs 0.25 s to commit.
    r.blocks (secondsToBlocks (1.0), 1);
    r.blocks (secondsToBlocks (0.2), 0);
    EXPECT_EQ (r.p.committedSection.load(), 1);
    r.blocks (secondsToBlocks (0.06), 0);
    EXPECT_EQ (r.p.committedSection.load(), 0);

    // In the last 10 s before the wrap point the memory is off.
    r.blocks (secondsToBlocks (20.0), 1);
    r.block ({ { 0, 0 } });
    EXPECT_EQ (r.p.committedSection.load(), 0);
}

TEST (SectionCommit, ShortLoopsHaveNoWrapMemory)
{
    CommitRig r;
    r.head.looping = true;
    r.blocks (400, 1);  // 4 s
    r.blocks (400, 0);  // 4 s
    r.head.position = 0;
    r.block ({ { 0, 1 } });
    EXPECT_EQ (r.p.committedSection.load(), 1);
    r.block ({ { 0, 0 } });
    EXPECT_EQ (r.p.committedSection.load(), 0);
}
