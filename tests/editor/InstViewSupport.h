#pragma once

// Shared pieces of the Target LUFS view tests: typing into the inline values,
// a play head, the Inst's audio with its libebur128 reference and the fixture.

#include "EditorTestSupport.h"

#include <ebur128.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <map>
#include <thread>

using namespace qvn::test;

namespace
{
constexpr double rate = 48000.0;
constexpr int blockSize = 480;
const juce::String dash = juce::String::fromUTF8 ("\xe2\x80\x94");

/** A press at one x of the chart's plot, a drag to another and the release. */
/** Double-click on a value, type the keys one by one, press Return. */
void typeInto (juce::Label& label, const juce::String& keys)
{
    const auto centre = label.getLocalBounds().getCentre().toFloat();
    static_cast<juce::Component&> (label).mouseDoubleClick (mouseEvent (label, centre, juce::ModifierKeys::leftButtonModifier, 2));
    auto* editor = label.getCurrentTextEditor();
    ASSERT_NE (editor, nullptr) << "a double-click opens the inline editor";
    editor->selectAll();
    for (auto ch : keys)
        editor->keyPressed (juce::KeyPress (ch, juce::ModifierKeys(), ch));
    editor->keyPressed (juce::KeyPress (juce::KeyPress::returnKey));
    pump();
}

float dbToGain (float db) { return std::pow (10.0f, db / 20.0f); }

struct PlayHead : juce::AudioPlayHead
{
    juce::Optional<PositionInfo> getPosition() const override
    {
        if (! known.load())
            return {};
        PositionInfo info;
        info.setIsPlaying (playing.load());
        info.setTimeInSamples (position.load());
        return info;
    }
    std::atomic<bool> known { false }, playing { false };
    std::atomic<std::int64_t> position { 0 };
};

/** Runs the Inst processor block by block on the calling thread with a 997 Hz
    sine, keeps the last block's input and output, and feeds libebur128 with
    the input while it records. */
class InstAudio
{
public:
    explicit InstAudio (QuorvaneProcessor& processor) : p (processor)
    {
        p.setPlayConfigDetails (2, 2, rate, blockSize);
        p.setPlayHead (&head);
        p.prepareToPlay (rate, blockSize);
    }

    ~InstAudio()
    {
        p.setPlayHead (nullptr);
        if (reference != nullptr)
            ebur128_destroy (&reference);
    }

    void run (int blocks, float levelDb)
    {
        const float a = dbToGain (levelDb);
        juce::AudioBuffer<float> buffer (2, blockSize);
        juce::MidiBuffer midi;

        for (int b = 0; b < blocks; ++b)
        {
            for (int i = 0; i < blockSize; ++i)
            {
                const float s = a * (float) std::sin (phase);
                phase += 2.0 * juce::MathConstants<double>::pi * 997.0 / rate;
                buffer.setSample (0, i, s);
                buffer.setSample (1, i, s);
            }
            in.assign (buffer.getReadPointer (0), buffer.getReadPointer (0) + blockSize);
            if (reference != nullptr)
            {
                std::vector<float> interleaved ((size_t) blockSize * 2);
                for (int i = 0; i < blockSize; ++i)
                    interleaved[(size_t) i * 2] = interleaved[(size_t) i * 2 + 1] = in[(size_t) i];
                ebur128_add_frames_float (reference, interleaved.data(), (size_t) blockSize);
            }
            head.position = head.position.load() + blockSize;
            p.processBlock (buffer, midi);
            out.assign (buffer.getReadPointer (0), buffer.getReadPointer (0) + blockSize);
        }
    }

    void startReference()
    {
        if (reference != nullptr)
            ebur128_destroy (&reference);
        reference = ebur128_init (2, (unsigned long) rate, EBUR128_MODE_I);
    }

    double referenceLoudness()
    {
        double lufs = -HUGE_VAL;
        ebur128_loudness_global (reference, &lufs);
        ebur128_destroy (&reference);
        reference = nullptr;
        return lufs;
    }

    /** Largest deviation of the last block's output/input ratio from g over
        samples [from, to), on samples where the input is not near zero. */
    float deviation (float g, int from = 0, int to = blockSize) const
    {
        float worst = 0.0f;
        const float peak = *std::max_element (in.begin(), in.end());
        for (int i = from; i < to; ++i)
            if (std::abs (in[(size_t) i]) > 0.2f * peak)
                worst = std::max (worst, std::abs (out[(size_t) i] / in[(size_t) i] - g));
        return worst;
    }

    QuorvaneProcessor& p;
    PlayHead head;
    std::vector<float> in, out;

private:
    double phase = 0.0;
    ebur128_state* reference = nullptr;
};

/** libebur128's integrated loudness of a steady 997 Hz sine in both channels. */
double sineLoudness (float levelDb, double seconds)
{
    auto* st = ebur128_init (2, (unsigned long) rate, EBUR128_MODE_I);
    const float a = dbToGain (levelDb);
    const auto n = (size_t) (seconds * rate);
    std::vector<float> interleaved (n * 2);
    for (size_t i = 0; i < n; ++i)
        interleaved[i * 2] = interleaved[i * 2 + 1] = a * (float) std::sin (2.0 * juce::MathConstants<double>::pi * 997.0 * (double) i / rate);
    ebur128_add_frames_float (st, interleaved.data(), n);
    double lufs = -HUGE_VAL;
    ebur128_loudness_global (st, &lufs);
    ebur128_destroy (&st);
    return lufs;
}

float shownNumber (const juce::Label& l) { return l.getText().getFloatValue(); }

class EditorInstView : public EditorFixture
{
protected:
    QuorvaneEditor& openInst (QuorvaneProcessor*& out)
    {
        out = &addProcessor (1);
        auto& e = open (*out);
        e.timerCallback();
        return e;
    }

    /** The Inst window with its Target LUFS view opened by its button. */
    QuorvaneEditor& openTargetView (QuorvaneProcessor*& out)
    {
        auto& e = openInst (out);
        click (e.setInstTargetButton);
        e.timerCallback();
        return e;
    }

    void tick (QuorvaneEditor& e, int n = 1)
    {
        for (int i = 0; i < n; ++i)
            e.timerCallback();
    }

    /** One INST measurement through the button: 3 s loud, 2 s quiet. Returns
        libebur128's loudness of exactly the blocks the run measured. */
    double measureThroughButton (QuorvaneEditor& e, InstAudio& audio, float loud = -14.0f, float quiet = -26.0f)
    {
        click (e.instMeasureButton);
        audio.startReference();
        for (int i = 0; i < 50; ++i)
        {
            audio.run (10, i < 30 ? loud : quiet);
            tick (e);
        }
        const auto reference = audio.referenceLoudness();
        click (e.instMeasureButton);
        audio.run (1, quiet);
        tick (e);
        return reference;
    }
};
} // namespace
