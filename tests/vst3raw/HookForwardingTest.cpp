// The hook functions the patched VST3 wrapper calls, exercised directly with
// host-style parameter queues and a recording sink.

#include "RawVst3Host.h"
#include "RecordingProcessor.h"

#include "processor/SectionAutomationSink.h"
#include "processor/Vst3Hooks.h"

#include <gtest/gtest.h>

using qvntest::ParamQueue;
using qvntest::RecordingSink;
using qvntest::SinkEvent;

namespace
{
    ParamQueue threePoints()
    {
        ParamQueue queue (1);
        queue.point (100, 1.0 / 15.0).point (300, 3.0 / 15.0).point (300, 0.5);
        return queue;
    }
}

TEST (Vst3Hooks, ParameterIdentifiersSelectTheSinkOperation)
{
    struct Case { const char* id; SinkEvent::Kind kind; int section; };

    const Case forwarded[] = {
        { "section",  SinkEvent::sectionPoint, 0 },
        { "offset_A", SinkEvent::offsetPoint,  0 },
        { "offset_C", SinkEvent::offsetPoint,  2 },
        { "offset_P", SinkEvent::offsetPoint,  15 },
    };

    for (const auto& c : forwarded)
    {
        SCOPED_TRACE (c.id);
        RecordingSink sink;
        auto queue = threePoints();
        qvn::forwardAutomationPoints (&sink, c.id, queue);

        // Every point, in queue order, with its own offset and value, even
        // two points at the same offset: the sink decides what to keep.
        const std::vector<SinkEvent> expected {
            { c.kind, c.section, 100, (float) (1.0 / 15.0) },
            { c.kind, c.section, 300, (float) (3.0 / 15.0) },
            { c.kind, c.section, 300, 0.5f },
        };
        EXPECT_EQ (sink.events, expected);
    }

    for (const char* id : { "role", "Section", "sections", "offset", "offsetA", "targetLufs", "instOffset", "" })
    {
        SCOPED_TRACE (id);
        RecordingSink sink;
        auto queue = threePoints();
        qvn::forwardAutomationPoints (&sink, id, queue);
        EXPECT_TRUE (sink.events.empty());
    }
}

TEST (Vst3Hooks, OffsetsAreHandedOnAsTheHostSentThem)
{
    // Negative offsets and values outside the choice grid are the sink's to
    // clamp and round; the hook passes them through.
    RecordingSink sink;
    ParamQueue queue (1);
    queue.point (-5, 0.0).point (0, 0.51).point (4095, 1.0);
    qvn::forwardAutomationPoints (&sink, "section", queue);

    const std::vector<SinkEvent> expected {
        { SinkEvent::sectionPoint, 0, -5, 0.0f },
        { SinkEvent::sectionPoint, 0, 0, 0.51f },
        { SinkEvent::sectionPoint, 0, 4095, 1.0f },
    };
    EXPECT_EQ (sink.events, expected);
}

TEST (Vst3Hooks, PointsTheQueueCannotDeliverAreSkipped)
{
    for (int failing : { 0, 1, 2 })
    {
        SCOPED_TRACE (failing);
        RecordingSink sink;
        auto queue = threePoints();
        queue.failPoint (failing);
        qvn::forwardAutomationPoints (&sink, "offset_B", queue);

        std::vector<SinkEvent> expected {
            { SinkEvent::offsetPoint, 1, 100, (float) (1.0 / 15.0) },
            { SinkEvent::offsetPoint, 1, 300, (float) (3.0 / 15.0) },
            { SinkEvent::offsetPoint, 1, 300, 0.5f },
        };
        expected.erase (expected.begin() + failing);
        EXPECT_EQ (sink.events, expected);
    }

    RecordingSink sink;
    ParamQueue empty (1);
    qvn::forwardAutomationPoints (&sink, "section", empty);
    EXPECT_TRUE (sink.events.empty());
}

TEST (Vst3Hooks, NothingHappensWithoutASink)
{
    auto queue = threePoints();
    qvn::forwardAutomationPoints (nullptr, "section", queue);
    qvn::vst3BeginAutomationBlock (nullptr);
    qvn::vst3ForwardAutomationPoints (nullptr, nullptr, queue);

    EXPECT_EQ (qvn::sinkFor (nullptr), nullptr);

    qvntest::PlainProcessor plain;
    EXPECT_EQ (qvn::sinkFor (&plain), nullptr);
    qvn::vst3BeginAutomationBlock (&plain);

    juce::AudioParameterFloat section ({ "section", 1 }, "Section", 0.0f, 1.0f, 0.0f);
    qvn::vst3ForwardAutomationPoints (&plain, &section, queue);
}

TEST (Vst3Hooks, ProcessorEntryPointsReachTheProcessorsSink)
{
    auto& recorder = qvntest::sinkRecorder();
    recorder.events.clear();

    qvntest::RecordingProcessor processor;
    ASSERT_EQ (qvn::sinkFor (&processor), static_cast<qvn::SectionAutomationSink*> (&processor));

    qvn::vst3BeginAutomationBlock (&processor);

    auto& params = processor.getParameters();
    juce::AudioProcessorParameter* offsetD = nullptr;
    for (auto* p : params)
        if (auto* withID = dynamic_cast<juce::AudioProcessorParameterWithID*> (p); withID != nullptr && withID->paramID == "offset_D")
            offsetD = p;
    ASSERT_NE (offsetD, nullptr);

    ParamQueue queue (1);
    queue.point (7, 0.25);
    qvn::vst3ForwardAutomationPoints (&processor, processor.sectionParameter, queue);
    qvn::vst3ForwardAutomationPoints (&processor, offsetD, queue);

    // A parameter without an identifier is passed over.
    struct Anonymous : juce::AudioProcessorParameter
    {
        float getValue() const override { return 0.0f; }
        void setValue (float) override {}
        float getDefaultValue() const override { return 0.0f; }
        juce::String getName (int) const override { return "section"; }
        juce::String getLabel() const override { return {}; }
        float getValueForText (const juce::String&) const override { return 0.0f; }
    } anonymous;
    qvn::vst3ForwardAutomationPoints (&processor, &anonymous, queue);
    qvn::vst3ForwardAutomationPoints (&processor, nullptr, queue);

    const std::vector<SinkEvent> expected {
        { SinkEvent::begin },
        { SinkEvent::sectionPoint, 0, 7, 0.25f },
        { SinkEvent::offsetPoint, 3, 7, 0.25f },
    };
    EXPECT_EQ (recorder.events, expected);
}
