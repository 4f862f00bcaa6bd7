// A hostile user's sessions with the Vocal view's MATCH button, trim and
// cards, and with the Target LUFS view's typed values: vocals that start late
// and have gaps of digital silence, odd block sizes and sample rates, a trim
// kept over a second measurement, the state carried into a fresh instance, a
// window reopened during a run. Levels come from libebur128 run on the same
// samples; gains and trims are worked out by hand.

#include "VocalActionsSupport.h"

#include <optional>

namespace
{
/** A 997 Hz stereo sine whose peak level changes in steps; a level at or
    below -200 dBFS is digital silence. Its phase runs on with the sample
    count, so the reference and the processors receive the same samples. */
class SteppedSine
{
public:
    SteppedSine (double rate, std::vector<std::pair<float, double>> steps) : sampleRate (rate), parts (std::move (steps)) {}

    double totalSeconds() const
    {
        double t = 0.0;
        for (const auto& p : parts)
            t += p.second;
        return t;
    }

    int64_t totalSamples() const { return (int64_t) std::llround (totalSeconds() * sampleRate); }

    /** The next sample; past the last step the last level goes on. */
    float next()
    {
        double end = 0.0;
        float db = parts.back().first;
        for (const auto& p : parts)
        {
            end += p.second;
            if ((double) position < end * sampleRate - 0.5)
            {
                db = p.first;
                break;
            }
        }
        const double phase = 2.0 * juce::MathConstants<double>::pi * 997.0 * (double) position / sampleRate;
        ++position;
        return db <= -200.0f ? 0.0f : std::pow (10.0f, db / 20.0f) * (float) std::sin (phase);
    }

    double sampleRate;
    std::vector<std::pair<float, double>> parts;
    int64_t position = 0;
};

/** Integrated loudness that libebur128 gives for a whole stepped sine. */
double ebur128Of (SteppedSine sine)
{
    sine.position = 0;
    auto* st = ebur128_init (2, (unsigned long) sine.sampleRate, EBUR128_MODE_I);
    std::vector<float> frames;
    const auto total = sine.totalSamples();
    for (int64_t done = 0; done < total;)
    {
        const auto n = (size_t) std::min<int64_t> (4096, total - done);
        frames.resize (2 * n);
        for (size_t i = 0; i < n; ++i)
            frames[2 * i] = frames[2 * i + 1] = sine.next();
        ebur128_add_frames_float (st, frames.data(), n);
        done += (int64_t) n;
    }
    double out = -120.0;
    ebur128_loudness_global (st, &out);
    ebur128_destroy (&st);
    return out;
}

/** Feeds samples of one source per processor in blocks of the given size on
    the test's thread, for the given number of samples. */
void feed (std::vector<std::pair<QuorvaneProcessor*, SteppedSine*>> procs, int blockSize, int64_t samples)
{
    juce::AudioBuffer<float> buffer (2, blockSize);
    juce::MidiBuffer midi;
    for (int64_t done = 0; done < samples; done += blockSize)
    {
        const int n = (int) std::min<int64_t> (blockSize, samples - done);
        for (auto& [p, sine] : procs)
        {
            buffer.setSize (2, n, false, false, true);
            for (int i = 0; i < n; ++i)
            {
                const float v = sine->next();
                buffer.setSample (0, i, v);
                buffer.setSample (1, i, v);
            }
            p->processBlock (buffer, midi);
        }
    }
}

float shownNumber (const juce::Label& l) { return l.getText().getFloatValue(); }

class EditorMatchBreak : public EditorVocalActions
{
protected:
    QuorvaneEditor& openPair (double rate, int block)
    {
        inst = &addProcessor (1);
        vocal = &addProcessor (2);
        for (auto* p : { inst, vocal })
        {
            p->setPlayConfigDetails (2, 2, rate, block);
            p->prepareToPlay (rate, block);
        }
        auto& e = open (*vocal);
        e.setSize (1092, 612);
        e.timerCallback();
        return e;
    }

    /** A fresh instance of the given role, prepared at 48 kHz / 480 as the
        host prepares it, that loads a saved state. */
    QuorvaneProcessor& restoredInstance (int role, const juce::MemoryBlock& state)
    {
        auto& fresh = addProcessor (role);
        fresh.setPlayConfigDetails (2, 2, 48000.0, 480);
        fresh.prepareToPlay (48000.0, 480);
        fresh.setStateInformation (state.getData(), (int) state.getSize());
        fresh.handleUpdateNowIfNeeded();
        return fresh;
    }

    /** A short lead-in through both instances so they link up, then a tick. */
    void leadIn (QuorvaneEditor& e, double rate, int block)
    {
        SteppedSine lead (rate, { { -18.0f, 0.2 } });
        SteppedSine lead2 = lead;
        feed ({ { inst, &lead }, { vocal, &lead2 } }, block, lead.totalSamples());
        e.timerCallback();
    }

    /** The pair opened and already linked by a lead-in. */
    QuorvaneEditor& openLinkedPair (double rate, int block)
    {
        auto& e = openPair (rate, block);
        leadIn (e, rate, block);
        return e;
    }

    /** One MATCH run through the window: click, the given audio, click, then
        loud audio that must not count, and the ticks that show the result. */
    void matchRun (QuorvaneEditor& e, SteppedSine& vocalSig, SteppedSine& instSig, int block)
    {
        click (e.matchButton);
        e.timerCallback();
        feed ({ { inst, &instSig }, { vocal, &vocalSig } }, block, vocalSig.totalSamples());
        click (e.matchButton);
        SteppedSine loudV (vocalSig.sampleRate, { { -3.0f, 1.0 } }), loudI (vocalSig.sampleRate, { { -3.0f, 1.0 } });
        feed ({ { inst, &loudI }, { vocal, &loudV } }, block, (int64_t) (0.3 * vocalSig.sampleRate));
        for (int i = 0; i < 4; ++i)
            e.timerCallback();
    }
};
} // namespace

TEST_F (EditorMatchBreak, LateAndGappedVocalAtOddBlockSizesAndRatesMeasuresWhatLibebur128Measures)
{
    struct Case
    {
        double rate;
        int block;
    };
    const Case cases[] = { { 48000.0, 33 }, { 48000.0, 4097 }, { 44100.0, 1000 }, { 96000.0, 4097 }, { 44100.0, 1 } };

    // Late start, a gap, a quieter phrase, a silent end.
    const std::vector<std::pair<float, double>> vocalSteps = { { -300.0f, 1.3 }, { -20.0f, 2.0 }, { -300.0f, 0.75 },
                                                               { -28.0f, 1.5 }, { -300.0f, 0.45 } };
    const std::vector<std::pair<float, double>> instSteps = { { -18.0f, 6.0 } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE ("rate " + juce::String (c.rate) + ", block " + juce::String (c.block));
        editors.clear();
        processors.clear();
        auto& e = openLinkedPair (c.rate, c.block);

        SteppedSine v (c.rate, vocalSteps), i (c.rate, instSteps);
        matchRun (e, v, i, c.block);

        const auto& sec = vocal->sections[0];
        ASSERT_TRUE (sec.frozen.load());
        const double vocalRef = ebur128Of (SteppedSine (c.rate, vocalSteps));
        const double instRef = ebur128Of (SteppedSine (c.rate, { { -18.0f, 6.0 } }));
        EXPECT_NEAR (sec.selfLufs.load(), vocalRef, 0.1);
        EXPECT_NEAR (sec.partnerLufs.load(), instRef, 0.1);
        EXPECT_NEAR (sec.gainDb.load(), instRef - vocalRef, 0.15);
        EXPECT_NEAR (sec.seconds.load(), 6.0f, 0.15f) << "the whole run, silence included";

        EXPECT_NEAR (shownNumber (e.vocalLufsValue), vocalRef, 0.16);
        EXPECT_NEAR (shownNumber (e.instLufsValue), instRef, 0.16);
        EXPECT_EQ (e.sectionChart.historyData.selfSeries.size(), sec.selfHistory.size());
        EXPECT_NEAR ((double) sec.selfHistory.size(), 6.0 / 0.1 - 3.0, 1.5) << "one gating block per 100 ms";
    }
}

TEST_F (EditorMatchBreak, TrimIsKeptOverASecondRunAndTravelsWithTheState)
{
    auto& e = openLinkedPair (48000.0, 480);

    // A first, loud run, trimmed to its second half by the chart's handle.
    SteppedSine v1 (48000.0, { { -10.0f, 4.0 } }), i1 (48000.0, { { -18.0f, 4.0 } });
    matchRun (e, v1, i1, 480);
    auto& sec = vocal->sections[0];
    ASSERT_TRUE (sec.frozen.load());
    dragTrim (e.sectionChart, 0.0f, 0.5f);
    e.timerCallback();
    ASSERT_NEAR (sec.trimStart.load(), 0.5f, 0.03f);

    // A second run: -30 dBFS for 2 s then -20 dBFS for 4 s. Its second half
    // (from 3 s) is all -20 dBFS, and the kept range applies to it.
    SteppedSine v2 (48000.0, { { -30.0f, 2.0 }, { -20.0f, 4.0 } }), i2 (48000.0, { { -18.0f, 6.0 } });
    matchRun (e, v2, i2, 480);
    ASSERT_TRUE (sec.frozen.load());
    const double keptRef = ebur128Of (SteppedSine (48000.0, { { -20.0f, 3.0 } }));
    const double wholeRef = ebur128Of (SteppedSine (48000.0, { { -30.0f, 2.0 }, { -20.0f, 4.0 } }));
    const double instRef = ebur128Of (SteppedSine (48000.0, { { -18.0f, 3.0 } }));
    ASSERT_GT (std::abs (keptRef - wholeRef), 0.5) << "the case tells the two apart";
    EXPECT_NEAR (sec.trimStart.load(), 0.5f, 0.03f);
    EXPECT_NEAR (sec.selfLufs.load(), keptRef, 0.1);
    EXPECT_NEAR (sec.partnerLufs.load(), instRef, 0.1);
    EXPECT_NEAR (e.sectionChart.trimStart, sec.trimStart.load(), 1.0e-4f);
    EXPECT_NEAR (shownNumber (e.vocalLufsValue), keptRef, 0.16);

    // An Offset Gain, then the state into a fresh instance with its window.
    setParameter (*vocal, "offset_A", -2.5f);
    feed ({ { inst, &i2 }, { vocal, &v2 } }, 480, 480);
    e.timerCallback();
    juce::MemoryBlock state;
    vocal->getStateInformation (state);

    auto& fresh = restoredInstance (2, state);
    SteppedSine after (48000.0, { { -20.0f, 1.0 } });
    feed ({ { &fresh, &after } }, 480, 480);
    auto& e2 = open (fresh);
    e2.setSize (1092, 612);
    for (int i = 0; i < 3; ++i)
    {
        e.timerCallback();
        e2.timerCallback();
    }

    const auto& sec2 = fresh.sections[0];
    EXPECT_TRUE (sec2.frozen.load());
    EXPECT_NEAR (sec2.gainDb.load(), sec.gainDb.load(), 0.01f);
    EXPECT_NEAR (sec2.gainDb.load(), instRef - keptRef - 2.5, 0.15);
    for (auto [a, b] : { std::pair<juce::Label*, juce::Label*> { &e.vocalLufsValue, &e2.vocalLufsValue },
                         { &e.instLufsValue, &e2.instLufsValue }, { &e.matchValue, &e2.matchValue },
                         { &e.offsetValue, &e2.offsetValue }, { &e.totalValue, &e2.totalValue } })
        EXPECT_EQ (a->getText(), b->getText());
    EXPECT_EQ (e2.offsetValue.getText(), "-2.5");
    EXPECT_NEAR (e2.sectionChart.trimStart, e.sectionChart.trimStart, 1.0e-4f);
    EXPECT_NEAR (e2.sectionChart.trimEnd, e.sectionChart.trimEnd, 1.0e-4f);
    EXPECT_EQ (e2.sectionChart.historyData.selfSeries.size(), e.sectionChart.historyData.selfSeries.size());
    EXPECT_TRUE (e2.sectionChart.trimEditable);
    EXPECT_NEAR (e2.sectionChart.totalGainDb, e.sectionChart.totalGainDb, 0.01f);
}

TEST_F (EditorMatchBreak, StateSavedDuringARunAndAWindowReopenedDuringIt)
{
    auto& e = openLinkedPair (48000.0, 480);
    const auto idleCaption = e.matchButton.getButtonText();

    SteppedSine v (48000.0, { { -22.0f, 10.0 } }), i (48000.0, { { -18.0f, 10.0 } });
    click (e.matchButton);
    feed ({ { inst, &i }, { vocal, &v } }, 480, 48000 * 2);
    e.timerCallback();
    const auto runCaption = e.matchButton.getButtonText();
    ASSERT_NE (runCaption, idleCaption);

    // The window closed and opened again while the run goes on: the new
    // window shows the run and follows it with live points.
    editors.erase (editors.begin());
    auto& e2 = open (*vocal);
    e2.setSize (1092, 612);
    e2.timerCallback();
    EXPECT_EQ (e2.matchButton.getButtonText(), runCaption);
    for (int k = 0; k < 20; ++k)
    {
        feed ({ { inst, &i }, { vocal, &v } }, 480, 4800);
        e2.timerCallback();
    }
    EXPECT_GE (e2.sectionChart.historyData.selfSeries.size(), 20u);
    EXPECT_FALSE (e2.sectionChart.trimEditable);

    click (e2.matchButton);
    feed ({ { inst, &i }, { vocal, &v } }, 480, 4800);
    for (int k = 0; k < 4; ++k)
        e2.timerCallback();
    const auto& sec = vocal->sections[0];
    ASSERT_TRUE (sec.frozen.load());
    EXPECT_NEAR (sec.seconds.load(), 4.0f, 0.15f);
    EXPECT_NEAR (sec.selfLufs.load(), ebur128Of (SteppedSine (48000.0, { { -22.0f, 4.0 } })), 0.1);
    EXPECT_EQ (e2.matchButton.getButtonText(), idleCaption);
    EXPECT_EQ (e2.sectionChart.historyData.selfSeries.size(), sec.selfHistory.size());
    EXPECT_TRUE (e2.sectionChart.trimEditable);

    // A second run, and the state saved in the middle of it.
    click (e2.matchButton);
    feed ({ { inst, &i }, { vocal, &v } }, 480, 48000);
    e2.timerCallback();
    ASSERT_EQ (e2.matchButton.getButtonText(), runCaption);
    // It loads into a fresh instance as a section without a half result, and
    // that instance is not measuring.
    juce::MemoryBlock state;
    vocal->getStateInformation (state);
    {
        auto& fresh = restoredInstance (2, state);
        auto& ef = open (fresh);
        ef.setSize (1092, 612);
        ef.timerCallback();
        EXPECT_FALSE (fresh.ownSlot->ownSections[0].measuring.load());
        EXPECT_EQ (ef.matchButton.getButtonText(), idleCaption);
        EXPECT_FALSE (fresh.sections[0].frozen.load() && fresh.sections[0].selfLufs.load() > -119.5f)
            << "no half-measured result from a state saved during a run";
    }

    // Loading a state cancels the runs of every linked instance and keeps
    // none of their data: the window shows that at once, and no half result
    // turns up later.
    e2.timerCallback();
    EXPECT_FALSE (vocal->ownSlot->ownSections[0].measuring.load());
    EXPECT_EQ (e2.matchButton.getButtonText(), idleCaption);
    feed ({ { inst, &i }, { vocal, &v } }, 480, 48000);
    for (int k = 0; k < 4; ++k)
        e2.timerCallback();
    EXPECT_FALSE (vocal->sections[0].frozen.load());
    EXPECT_EQ (e2.matchButton.getButtonText(), idleCaption);
    EXPECT_TRUE (e2.sectionChart.historyData.selfSeries.empty()) << "no curve of discarded data";
}

namespace
{
/** Types into an INST value as a user does: double-click, keys (through the
    editor's input filter), then the focus leaves. */
void typeInto (QuorvaneEditor::HoverEditLabel& label, const juce::String& text)
{
    static_cast<juce::Component&> (label).mouseDoubleClick (
        mouseEvent (label, label.getLocalBounds().getCentre().toFloat(), juce::ModifierKeys::leftButtonModifier, 2));
    auto* ed = label.getCurrentTextEditor();
    ASSERT_NE (ed, nullptr);
    ed->selectAll();
    ed->insertTextAtCaret (text);
    ed->focusLost (juce::Component::focusChangedByMouseClick);
    pump();
}
} // namespace

TEST_F (EditorMatchBreak, TypedTargetLufsAndInstOffsetTakeOnlyANumberAtTheStart)
{
    inst = &addProcessor (1);
    inst->setPlayConfigDetails (2, 2, 48000.0, 480);
    inst->prepareToPlay (48000.0, 480);
    auto& e = open (*inst);
    e.setSize (1092, 612);
    e.timerCallback();
    click (e.setInstTargetButton);
    e.timerCallback();
    ASSERT_TRUE (e.targetLufsValue.isShowing() || e.targetLufsValue.isVisible());

    struct Case
    {
        const char* text;
        std::optional<float> target;  // none: left at -18
        std::optional<float> offset;  // none: left at +1
    };
    const Case cases[] = {
        { "-20", -20.0f, -6.0f },      { "+12.05", -6.0f, 6.0f },   { "-0", -6.0f, 0.0f },
        { "  3", -6.0f, 3.0f },        { "1e1", -6.0f, 6.0f },      { ".5", -6.0f, 0.5f },
        { "5.", -6.0f, 5.0f },         { "-.5", -6.0f, -0.5f },      { "-23.", -23.0f, -6.0f },
        { "-", {}, {} },               { ".", {}, {} },              { "+-.", {}, {} },
        { "--3", {}, {} },             { "+-2", {}, {} },            { "-+2", {}, {} },
        { "..5", {}, {} },             { "99999999", -6.0f, 6.0f },  { "-9999999", -36.0f, -6.0f },
    };

    auto* target = inst->parameters.getRawParameterValue (ids::targetLufs);
    auto* offset = inst->parameters.getRawParameterValue (ids::instOffset);
    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String ("text '") + c.text + "'");
        setParameter (*inst, ids::targetLufs, -18.0f);
        setParameter (*inst, ids::instOffset, 1.0f);
        e.timerCallback();

        typeInto (e.targetLufsValue, c.text);
        EXPECT_NEAR (target->load(), c.target.value_or (-18.0f), 0.051f);
        typeInto (e.instOffsetValue, c.text);
        EXPECT_NEAR (offset->load(), c.offset.value_or (1.0f), 0.051f);
        e.timerCallback();

        // What was typed never stays on screen in place of the value in force.
        EXPECT_EQ (e.targetLufsValue.getText(), QuorvaneEditor::fmtOneDecimal (target->load()));
        EXPECT_EQ (e.instOffsetValue.getText(), QuorvaneEditor::fmtSigned (offset->load()));
    }

    // A clamped entry that leaves the value where it was.
    setParameter (*inst, ids::targetLufs, -36.0f);
    setParameter (*inst, ids::instOffset, 6.0f);
    e.timerCallback();
    typeInto (e.targetLufsValue, "-50");
    typeInto (e.instOffsetValue, "9");
    e.timerCallback();
    EXPECT_EQ (e.targetLufsValue.getText(), "-36.0");
    EXPECT_EQ (e.instOffsetValue.getText(), "+6.0");
}

namespace
{
/** The gain the Vocal applies now: blocks of a -20 dBFS sine through it,
    output against input RMS of the last one, in dB. */
float appliedGainDb (QuorvaneProcessor& p, int blocks = 40)
{
    juce::AudioBuffer<float> buffer (2, 480);
    juce::MidiBuffer midi;
    double rms = 0.0;
    for (int b = 0; b < blocks; ++b)
    {
        for (int n = 0; n < 480; ++n)
        {
            const float v = 0.1f * (float) std::sin (2.0 * juce::MathConstants<double>::pi * 1000.0 * n / 48000.0);
            buffer.setSample (0, n, v);
            buffer.setSample (1, n, v);
        }
        p.processBlock (buffer, midi);
        rms = buffer.getRMSLevel (0, 0, 480);
    }
    return (float) (20.0 * std::log10 (rms / (0.1 / std::sqrt (2.0))));
}
} // namespace

TEST_F (EditorMatchBreak, TrimsInSequenceUndoRedoAndABKeepLevelsGainAndHandlesTogether)
{
    auto& e = openLinkedPair (48000.0, 480);

    // 2 s at -30, 2 s at -20, 2 s at -26 dBFS against a steady -18 dBFS Inst.
    SteppedSine v (48000.0, { { -30.0f, 2.0 }, { -20.0f, 2.0 }, { -26.0f, 2.0 } }), i (48000.0, { { -18.0f, 6.0 } });
    matchRun (e, v, i, 480);
    auto& sec = vocal->sections[0];
    ASSERT_TRUE (sec.frozen.load());
    const auto n = sec.selfHistory.size();
    ASSERT_NEAR ((double) n, 57.0, 1.5);

    // Each kept range lies inside one step (block k spans k x 0.1 .. k x 0.1 + 0.4 s).
    const double l20 = ebur128Of (SteppedSine (48000.0, { { -20.0f, 2.0 } }));
    const double l26 = ebur128Of (SteppedSine (48000.0, { { -26.0f, 2.0 } }));
    const double l18 = ebur128Of (SteppedSine (48000.0, { { -18.0f, 2.0 } }));
    const double whole = sec.selfLufs.load();

    struct Step
    {
        const char* what;
        std::function<void()> act;
        double self;
    };
    const auto trimTo = [&] (float a, float b) { return [&e, a, b] { dragTrim (e.sectionChart, a, b); e.timerCallback(); }; };
    const auto press = [&] (juce::Button* b) { return [&e, b] { click (*b); e.timerCallback(); }; };
    const Step steps[] = {
        { "start handle to 0.4", trimTo (0.0f, 0.4f), std::numeric_limits<double>::quiet_NaN() },
        { "end handle to 0.6", trimTo (1.0f, 0.6f), l20 },
        { "end handle back to 1", trimTo (0.6f, 1.0f), std::numeric_limits<double>::quiet_NaN() },
        { "start handle on to 0.76", trimTo (0.4f, 0.76f), l26 },
        { "undo", press (e.undoButton.get()), std::numeric_limits<double>::quiet_NaN() },
        { "undo", press (e.undoButton.get()), l20 },
        { "redo", press (e.redoButton.get()), std::numeric_limits<double>::quiet_NaN() },
        { "redo", press (e.redoButton.get()), l26 },
        { "undo", press (e.undoButton.get()), std::numeric_limits<double>::quiet_NaN() },
    };
    for (const auto& s : steps)
    {
        SCOPED_TRACE (s.what);
        s.act();
        e.timerCallback();
        if (! std::isnan (s.self))
            EXPECT_NEAR (sec.selfLufs.load(), s.self, 0.1);
        EXPECT_NEAR (sec.partnerLufs.load(), l18, 0.1);
        EXPECT_NEAR (sec.gainDb.load(), sec.partnerLufs.load() - sec.selfLufs.load(), 0.01);
        EXPECT_NEAR (appliedGainDb (*vocal), sec.gainDb.load(), 0.05) << "the audio follows";
        e.timerCallback();
        EXPECT_NEAR (shownNumber (e.vocalLufsValue), sec.selfLufs.load(), 0.051);
        EXPECT_NEAR (e.sectionChart.trimStart, sec.trimStart.load(), 1.0e-4f);
        EXPECT_NEAR (e.sectionChart.trimEnd, sec.trimEnd.load(), 1.0e-4f);
        EXPECT_EQ (e.sectionChart.historyData.selfSeries.size(), n);
    }

    // Undo back to the untrimmed result.
    while (sec.trimStart.load() > 0.0f || sec.trimEnd.load() < 1.0f)
    {
        ASSERT_TRUE (e.undoButton->isEnabled());
        click (*e.undoButton);
        e.timerCallback();
    }
    EXPECT_NEAR (sec.selfLufs.load(), whole, 1.0e-4);

    // A trim on A, then over to B and back: A keeps its trim, levels and gain.
    dragTrim (e.sectionChart, 1.0f, 0.6f);
    dragTrim (e.sectionChart, 0.0f, 0.4f);
    e.timerCallback();
    EXPECT_NEAR (sec.selfLufs.load(), l20, 0.1);
    const float trimA = sec.trimStart.load(), trimB = sec.trimEnd.load(), gainA = sec.gainDb.load();
    click (e.abToggle);
    e.timerCallback();
    click (e.abToggle);
    e.timerCallback();
    e.timerCallback();
    EXPECT_EQ (sec.trimStart.load(), trimA);
    EXPECT_EQ (sec.trimEnd.load(), trimB);
    EXPECT_NEAR (sec.gainDb.load(), gainA, 1.0e-4f);
    EXPECT_NEAR (appliedGainDb (*vocal), gainA, 0.05);
    EXPECT_NEAR (e.sectionChart.trimStart, trimA, 1.0e-4f);
    EXPECT_NEAR (e.sectionChart.trimEnd, trimB, 1.0e-4f);
    EXPECT_NEAR (shownNumber (e.vocalLufsValue), l20, 0.16);
}

TEST_F (EditorMatchBreak, ASectionOfOneBlockCanBeMeasuredAndTrimmedWithoutHarm)
{
    auto& e = openLinkedPair (48000.0, 480);

    SteppedSine v (48000.0, { { -20.0f, 0.45 } }), i (48000.0, { { -18.0f, 0.45 } });
    matchRun (e, v, i, 480);
    auto& sec = vocal->sections[0];
    ASSERT_TRUE (sec.frozen.load());
    ASSERT_EQ (sec.selfHistory.size(), 1u);
    const float self = sec.selfLufs.load();
    EXPECT_NEAR (self, ebur128Of (SteppedSine (48000.0, { { -20.0f, 0.45 } })), 0.1);
    const auto undo = vocal->undoStack.size();
    for (auto [a, b] : { std::pair { 0.0f, 0.5f }, { 1.0f, 0.2f }, { 0.0f, 1.0f }, { 1.0f, 0.0f } })
    {
        dragTrim (e.sectionChart, a, b);
        e.timerCallback();
        EXPECT_EQ (sec.selfLufs.load(), self);
        EXPECT_EQ (sec.trimStart.load(), 0.0f);
        EXPECT_EQ (sec.trimEnd.load(), 1.0f);
        EXPECT_EQ (e.sectionChart.trimStart, 0.0f);
        EXPECT_EQ (e.sectionChart.trimEnd, 1.0f);
    }
    EXPECT_EQ (vocal->undoStack.size(), undo) << "nothing changed, nothing to undo";
}

TEST_F (EditorMatchBreak, TwoHourSectionThenTrimsKeepsItsNumbers)
{
    auto& e = openLinkedPair (48000.0, 4097);

    // An hour at -20 dBFS, an hour at -30 dBFS. Worked by hand from the level
    // L of the -20 dBFS part: the two halves' mean energy is 0.55 of the loud
    // one's, both pass the relative gate (0.055 < 0.1), so the whole is
    // L + 10 log10 (0.55); the last quarter is L - 10; the middle half is the
    // whole again.
    SteppedSine v (48000.0, { { -20.0f, 3600.0 }, { -30.0f, 3600.0 } }), i (48000.0, { { -18.0f, 7200.0 } });
    click (e.matchButton);
    e.timerCallback();
    const int64_t minute = 48000 * 60;
    for (int m = 0; m < 120; ++m)
    {
        feed ({ { inst, &i }, { vocal, &v } }, 4097, minute);
        if (m % 10 == 0)
            e.timerCallback();
    }
    click (e.matchButton);
    SteppedSine tailV (48000.0, { { -3.0f, 1.0 } }), tailI (48000.0, { { -3.0f, 1.0 } });
    feed ({ { inst, &tailI }, { vocal, &tailV } }, 4097, 4097 * 3);
    for (int k = 0; k < 4; ++k)
        e.timerCallback();

    auto& sec = vocal->sections[0];
    ASSERT_TRUE (sec.frozen.load());
    const double l = ebur128Of (SteppedSine (48000.0, { { -20.0f, 3.0 } }));
    const double l18 = ebur128Of (SteppedSine (48000.0, { { -18.0f, 3.0 } }));
    const double whole = l + 10.0 * std::log10 (0.55);
    EXPECT_NEAR (sec.selfLufs.load(), whole, 0.1);
    EXPECT_NEAR (sec.partnerLufs.load(), l18, 0.1);
    EXPECT_NEAR (sec.seconds.load(), 7200.0f, 0.5f);
    EXPECT_NEAR ((double) sec.selfHistory.size(), 71997.0, 2.0);
    EXPECT_EQ (e.sectionChart.historyData.selfSeries.size(), sec.selfHistory.size());
    EXPECT_NEAR (shownNumber (e.vocalLufsValue), sec.selfLufs.load(), 0.051);

    struct Trim
    {
        float from, to;
        double self, seconds;
    };
    const Trim trims[] = { { 0.0f, 0.75f, l - 10.0, 1800.0 },
                           { 0.75f, 0.25f, l + 10.0 * std::log10 (0.4), 5400.0 },  // 1800 s loud, 3600 s quiet
                           { 1.0f, 0.75f, whole, 3600.0 } };
    // Differences between kept ranges are checked closer than the levels
    // themselves: they must hold to the hundredth whatever the meter's
    // calibration.
    const double measuredWhole = sec.selfLufs.load();
    for (const auto& t : trims)
    {
        SCOPED_TRACE (juce::String (t.from) + " -> " + juce::String (t.to));
        dragTrim (e.sectionChart, t.from, t.to);
        e.timerCallback();
        EXPECT_NEAR (sec.selfLufs.load(), t.self, 0.1);
        EXPECT_NEAR (sec.selfLufs.load() - measuredWhole, t.self - whole, 0.01);
        EXPECT_NEAR (sec.partnerLufs.load(), l18, 0.1);
        EXPECT_NEAR (sec.seconds.load(), t.seconds, 1.0);
        EXPECT_NEAR (e.sectionChart.trimStart, sec.trimStart.load(), 1.0e-4f);
        EXPECT_NEAR (e.sectionChart.trimEnd, sec.trimEnd.load(), 1.0e-4f);
        EXPECT_EQ (e.sectionChart.historyData.selfSeries.size(), sec.selfHistory.size());
        EXPECT_NEAR (e.sectionChart.totalGainDb, sec.gainDb.load(), 0.01f);
    }
}

TEST_F (EditorMatchBreak, InstMeasuresWithItsViewOpenWhileAVocalMatchesThenTrimsWhileTheTargetIsTyped)
{
    auto& ev = openPair (48000.0, 512);
    auto& ei = open (*inst);
    ei.setSize (1092, 612);
    ei.timerCallback();
    click (ei.setInstTargetButton);
    ei.timerCallback();
    leadIn (ev, 48000.0, 512);
    ei.timerCallback();

    // The instrumental: 3 s at -24, 3 s at -14 dBFS; the vocal steady at -20.
    // Worked by hand from the level L14 of the loud part: mean energy 0.55 of
    // the loud part's, both pass the relative gate, so the whole is
    // L14 + 10 log10 (0.55).
    SteppedSine iSig (48000.0, { { -24.0f, 3.0 }, { -14.0f, 3.0 } }), vSig (48000.0, { { -20.0f, 6.0 } });
    click (ev.matchButton);
    click (ei.instMeasureButton);
    ev.timerCallback();
    ei.timerCallback();
    feed ({ { inst, &iSig }, { vocal, &vSig } }, 512, vSig.totalSamples());
    click (ei.instMeasureButton);
    click (ev.matchButton);
    SteppedSine tailV (48000.0, { { -3.0f, 1.0 } }), tailI (48000.0, { { -3.0f, 1.0 } });
    feed ({ { inst, &tailI }, { vocal, &tailV } }, 512, 512 * 20);
    for (int k = 0; k < 4; ++k)
    {
        ev.timerCallback();
        ei.timerCallback();
    }

    const double l14 = ebur128Of (SteppedSine (48000.0, { { -14.0f, 3.0 } }));
    const double l20 = ebur128Of (SteppedSine (48000.0, { { -20.0f, 3.0 } }));
    const double wholeInst = l14 + 10.0 * std::log10 (0.55);
    ASSERT_TRUE (inst->instFrozen.load());
    EXPECT_NEAR (inst->instMeasuredLufs.load(), wholeInst, 0.1);
    EXPECT_NEAR (inst->instMatchGain.load(), -18.0 - inst->instMeasuredLufs.load(), 0.01);
    EXPECT_NEAR (shownNumber (ei.instCardLufsValue), inst->instMeasuredLufs.load(), 0.051);
    EXPECT_EQ (ei.instChart.historyData.selfSeries.size(), inst->instHistory.size());

    const auto& sec = vocal->sections[0];
    ASSERT_TRUE (sec.frozen.load());
    EXPECT_NEAR (sec.selfLufs.load(), l20, 0.1);
    EXPECT_NEAR (sec.partnerLufs.load(), wholeInst, 0.1);

    // The Target LUFS is being typed when the INST chart's start handle is
    // dragged past the quiet part; then the typed value is committed.
    auto& label = ei.targetLufsValue;
    static_cast<juce::Component&> (label).mouseDoubleClick (
        mouseEvent (label, label.getLocalBounds().getCentre().toFloat(), juce::ModifierKeys::leftButtonModifier, 2));
    auto* ed = label.getCurrentTextEditor();
    ASSERT_NE (ed, nullptr);
    ed->selectAll();
    ed->insertTextAtCaret ("-21.5");
    ei.timerCallback();
    dragTrim (ei.instChart, 0.0f, 0.6f);
    ei.timerCallback();
    EXPECT_NEAR (inst->instMeasuredLufs.load(), l14, 0.1);
    EXPECT_NEAR (inst->instMatchGain.load(), -18.0 - inst->instMeasuredLufs.load(), 0.01) << "the old target until the commit";
    ed->focusLost (juce::Component::focusChangedByMouseClick);
    pump();
    for (int k = 0; k < 2; ++k)
        ei.timerCallback();

    auto* target = inst->parameters.getRawParameterValue (ids::targetLufs);
    EXPECT_NEAR (target->load(), -21.5f, 0.051f);
    EXPECT_EQ (label.getText(), "-21.5");
    EXPECT_NEAR (inst->instMatchGain.load(), -21.5 - inst->instMeasuredLufs.load(), 0.01);
    EXPECT_EQ (ei.instMatchValue.getText(),
               QuorvaneEditor::fmtSigned (QuorvaneEditor::round1 (-21.5f) - QuorvaneEditor::round1 (inst->instMeasuredLufs.load())));
    EXPECT_NEAR (ei.instChart.trimStart, inst->instTrimStart.load(), 1.0e-4f);
    EXPECT_NEAR (appliedGainDb (*inst), inst->instMatchGain.load(), 0.05) << "the open view applies the gain";

    // The Vocal's result is untouched by what the Inst did with its own.
    EXPECT_NEAR (sec.partnerLufs.load(), wholeInst, 0.1);
}

TEST_F (EditorMatchBreak, AVocalRunWhoseInstIsRemovedEndsCleanly)
{
    auto& e = openLinkedPair (48000.0, 480);
    const auto idleCaption = e.matchButton.getButtonText();

    SteppedSine v (48000.0, { { -20.0f, 6.0 } }), i (48000.0, { { -18.0f, 6.0 } });
    click (e.matchButton);
    feed ({ { inst, &i }, { vocal, &v } }, 480, 48000 * 2);
    e.timerCallback();

    // The Inst's track is deleted in the middle of the run.
    inst->releaseResources();
    processors.erase (processors.begin());
    inst = nullptr;
    // The link changes, which cancels the run and keeps none of its data:
    // the window goes back to idle by itself, no half result arrives, and
    // the vocal passes unchanged.
    for (int k = 0; k < 10; ++k)
    {
        feed ({ { vocal, &v } }, 480, 4800);
        e.timerCallback();
    }
    EXPECT_FALSE (vocal->ownSlot->ownSections[0].measuring.load());
    EXPECT_EQ (e.matchButton.getButtonText(), idleCaption);
    const auto& sec = vocal->sections[0];
    EXPECT_FALSE (sec.frozen.load() && sec.selfLufs.load() > -119.5f);
    EXPECT_NEAR (appliedGainDb (*vocal), 0.0f, 0.05);
    EXPECT_TRUE (e.sectionChart.historyData.selfSeries.empty());

    // A new Inst: the next run measures normally.
    auto& inst2 = addProcessor (1);
    inst2.setPlayConfigDetails (2, 2, 48000.0, 480);
    inst2.prepareToPlay (48000.0, 480);
    inst = &inst2;
    SteppedSine i2 (48000.0, { { -18.0f, 6.0 } });
    feed ({ { inst, &i2 }, { vocal, &v } }, 480, 4800);
    e.timerCallback();
    SteppedSine v3 (48000.0, { { -20.0f, 3.0 } }), i3 (48000.0, { { -18.0f, 3.0 } });
    matchRun (e, v3, i3, 480);
    ASSERT_TRUE (sec.frozen.load());
    EXPECT_NEAR (sec.selfLufs.load(), ebur128Of (SteppedSine (48000.0, { { -20.0f, 3.0 } })), 0.1);
    EXPECT_NEAR (sec.partnerLufs.load(), ebur128Of (SteppedSine (48000.0, { { -18.0f, 3.0 } })), 0.1);
    EXPECT_NEAR (appliedGainDb (*vocal), sec.gainDb.load(), 0.05);
    EXPECT_EQ (e.sectionChart.historyData.selfSeries.size(), sec.selfHistory.size());
}

TEST_F (EditorMatchBreak, MatchOnBThenOnAKeepsEachSectionsResultCardAndChart)
{
    auto& e = openLinkedPair (48000.0, 480);

    const auto select = [&] (int s)
    {
        click (e.sectionRows[(size_t) s]);
        SteppedSine a (48000.0, { { -18.0f, 0.3 } }), b (48000.0, { { -18.0f, 0.3 } });
        feed ({ { inst, &a }, { vocal, &b } }, 480, a.totalSamples());
        for (int k = 0; k < 2; ++k)
            e.timerCallback();
        ASSERT_EQ (vocal->committedSection.load(), s);
    };

    select (1);
    SteppedSine vB (48000.0, { { -20.0f, 3.0 } }), iB (48000.0, { { -18.0f, 3.0 } });
    matchRun (e, vB, iB, 480);
    select (0);
    SteppedSine vA (48000.0, { { -27.0f, 4.0 } }), iA (48000.0, { { -18.0f, 4.0 } });
    matchRun (e, vA, iA, 480);

    const auto& a = vocal->sections[0];
    const auto& b = vocal->sections[1];
    ASSERT_TRUE (a.frozen.load());
    ASSERT_TRUE (b.frozen.load());
    const double l20 = ebur128Of (SteppedSine (48000.0, { { -20.0f, 3.0 } }));
    const double l27 = ebur128Of (SteppedSine (48000.0, { { -27.0f, 4.0 } }));
    EXPECT_NEAR (b.selfLufs.load(), l20, 0.1);
    EXPECT_NEAR (b.seconds.load(), 3.0f, 0.15f);
    EXPECT_NEAR (a.selfLufs.load(), l27, 0.1);
    EXPECT_NEAR (a.seconds.load(), 4.0f, 0.15f);
    EXPECT_NEAR (shownNumber (e.vocalLufsValue), a.selfLufs.load(), 0.051);
    EXPECT_EQ (e.sectionChart.historyData.selfSeries.size(), a.selfHistory.size());
    EXPECT_NEAR (appliedGainDb (*vocal), a.gainDb.load(), 0.05);

    // Back on B: its card, chart and gain; a trim there leaves A alone.
    select (1);
    EXPECT_NEAR (shownNumber (e.vocalLufsValue), b.selfLufs.load(), 0.051);
    EXPECT_EQ (e.sectionChart.historyData.selfSeries.size(), b.selfHistory.size());
    EXPECT_NEAR (appliedGainDb (*vocal), b.gainDb.load(), 0.05);
    const float aSelf = a.selfLufs.load();
    dragTrim (e.sectionChart, 0.0f, 0.5f);
    e.timerCallback();
    EXPECT_NEAR (b.trimStart.load(), 0.5f, 0.03f);
    EXPECT_EQ (a.trimStart.load(), 0.0f);
    EXPECT_EQ (a.selfLufs.load(), aSelf);
    EXPECT_NEAR (b.selfLufs.load(), l20, 0.1);
}

TEST_F (EditorMatchBreak, ReactivationInTheMiddleOfARunLeavesNoWrongResult)
{
    for (const double newRate : { 48000.0, 96000.0 })
    {
        SCOPED_TRACE ("reactivated at " + juce::String (newRate));
        editors.clear();
        processors.clear();
        auto& e = openLinkedPair (48000.0, 480);
        const auto idleCaption = e.matchButton.getButtonText();

        SteppedSine v1 (48000.0, { { -20.0f, 2.0 } }), i1 (48000.0, { { -18.0f, 2.0 } });
        click (e.matchButton);
        feed ({ { inst, &i1 }, { vocal, &v1 } }, 480, v1.totalSamples());
        e.timerCallback();

        for (auto* p : { inst, vocal })
        {
            p->releaseResources();
            p->setPlayConfigDetails (2, 2, newRate, 1024);
            p->prepareToPlay (newRate, 1024);
        }
        e.timerCallback();
        SteppedSine v2 (newRate, { { -20.0f, 2.0 } }), i2 (newRate, { { -18.0f, 2.0 } });
        feed ({ { inst, &i2 }, { vocal, &v2 } }, 1024, v2.totalSamples());
        e.timerCallback();
        const bool stillRunning = vocal->ownSlot->ownSections[0].measuring.load();
        if (stillRunning)
            click (e.matchButton);
        SteppedSine tailV (newRate, { { -3.0f, 1.0 } }), tailI (newRate, { { -3.0f, 1.0 } });
        feed ({ { inst, &tailI }, { vocal, &tailV } }, 1024, 1024 * 10);
        for (int k = 0; k < 4; ++k)
            e.timerCallback();

        EXPECT_EQ (e.matchButton.getButtonText(), idleCaption);
        const auto& sec = vocal->sections[0];
        if (sec.frozen.load() && sec.selfLufs.load() > -119.5f)
        {
            // What is kept is the steady signal on both sides, over no more
            // time than was played.
            EXPECT_NEAR (sec.selfLufs.load(), ebur128Of (SteppedSine (48000.0, { { -20.0f, 2.0 } })), 0.1);
            EXPECT_NEAR (sec.partnerLufs.load(), ebur128Of (SteppedSine (48000.0, { { -18.0f, 2.0 } })), 0.1);
            EXPECT_LE (sec.seconds.load(), 4.1f);
            EXPECT_EQ (e.sectionChart.historyData.selfSeries.size(), sec.selfHistory.size());
        }
        std::printf ("[ info ] reactivated at %g: %s, %.2f s kept\n", newRate,
                     stillRunning ? "the run went on" : "the run ended", sec.seconds.load());
    }
}

TEST_F (EditorMatchBreak, InstResultTrimAndTargetTravelWithTheStateIntoAFreshInstance)
{
    inst = &addProcessor (1);
    inst->setPlayConfigDetails (2, 2, 48000.0, 480);
    inst->prepareToPlay (48000.0, 480);
    auto& e = open (*inst);
    e.setSize (1092, 612);
    click (e.setInstTargetButton);
    e.timerCallback();

    SteppedSine lead (48000.0, { { -18.0f, 0.2 } });
    feed ({ { inst, &lead } }, 480, lead.totalSamples());
    SteppedSine sig (48000.0, { { -24.0f, 3.0 }, { -14.0f, 3.0 } });
    click (e.instMeasureButton);
    feed ({ { inst, &sig } }, 480, sig.totalSamples());
    click (e.instMeasureButton);
    feed ({ { inst, &lead } }, 480, 4800);
    for (int k = 0; k < 4; ++k)
        e.timerCallback();
    ASSERT_TRUE (inst->instFrozen.load());
    dragTrim (e.instChart, 0.0f, 0.6f);
    setParameter (*inst, ids::targetLufs, -23.0f);
    setParameter (*inst, ids::instOffset, 1.5f);
    feed ({ { inst, &lead } }, 480, 480);
    for (int k = 0; k < 2; ++k)
        e.timerCallback();
    const double l14 = ebur128Of (SteppedSine (48000.0, { { -14.0f, 3.0 } }));
    EXPECT_NEAR (inst->instMeasuredLufs.load(), l14, 0.1);
    const float gain = inst->instMatchGain.load();
    EXPECT_NEAR (gain, -23.0 - inst->instMeasuredLufs.load(), 0.01);

    juce::MemoryBlock state;
    inst->getStateInformation (state);
    const float level = inst->instMeasuredLufs.load(), trimStart = inst->instTrimStart.load();
    const auto blocks = inst->instHistory.size();

    // The session is closed and opened again: the one Inst comes back from
    // its state.
    editors.clear();
    processors.clear();
    inst = nullptr;
    auto& fresh = restoredInstance (1, state);
    SteppedSine after (48000.0, { { -18.0f, 0.1 } });
    feed ({ { &fresh, &after } }, 480, 480);
    auto& e2 = open (fresh);
    e2.setSize (1092, 612);
    for (int k = 0; k < 3; ++k)
        e2.timerCallback();

    EXPECT_TRUE (fresh.instFrozen.load());
    EXPECT_NEAR (fresh.instMeasuredLufs.load(), level, 1.0e-3f);
    EXPECT_NEAR (fresh.instMatchGain.load(), gain, 1.0e-3f);
    EXPECT_NEAR (fresh.instTrimStart.load(), trimStart, 1.0e-5f);
    EXPECT_EQ (fresh.instHistory.size(), blocks);
    EXPECT_EQ (e2.instCardLufsValue.getText(), QuorvaneEditor::fmtOneDecimal (level));
    EXPECT_EQ (e2.targetLufsValue.getText(), "-23.0");
    EXPECT_EQ (e2.instOffsetValue.getText(), "+1.5");
    EXPECT_EQ (e2.instChart.historyData.selfSeries.size(), blocks);
    EXPECT_NEAR (e2.instChart.trimStart, trimStart, 1.0e-4f);
    EXPECT_TRUE (e2.instChart.trimEditable);
    if (fresh.instTargetUiOpen.load())
        EXPECT_NEAR (appliedGainDb (fresh), gain + 1.5f, 0.05) << "the open view applies Match Gain and Inst Offset";
}

TEST_F (EditorMatchBreak, UndoAndRedoAroundInstRuns)
{
    inst = &addProcessor (1);
    inst->setPlayConfigDetails (2, 2, 48000.0, 480);
    inst->prepareToPlay (48000.0, 480);
    auto& e = open (*inst);
    e.setSize (1092, 612);
    click (e.setInstTargetButton);
    e.timerCallback();
    const auto idleCaption = e.instMeasureButton.getButtonText();

    SteppedSine lead (48000.0, { { -18.0f, 0.2 } });
    feed ({ { inst, &lead } }, 480, lead.totalSamples());
    const auto run = [&] (float db, double seconds, bool stop)
    {
        SteppedSine sig (48000.0, { { db, seconds } });
        click (e.instMeasureButton);
        feed ({ { inst, &sig } }, 480, sig.totalSamples());
        if (stop)
            click (e.instMeasureButton);
        SteppedSine tail (48000.0, { { -3.0f, 0.1 } });
        feed ({ { inst, &tail } }, 480, 4800);
        for (int k = 0; k < 4; ++k)
            e.timerCallback();
    };

    run (-20.0f, 3.0, true);
    ASSERT_TRUE (inst->instFrozen.load());
    const float first = inst->instMeasuredLufs.load();
    EXPECT_NEAR (first, ebur128Of (SteppedSine (48000.0, { { -20.0f, 3.0 } })), 0.1);
    const auto firstBlocks = inst->instHistory.size();

    // A second run, undone while it is still measuring: the first result
    // comes back whole, and the run does not go on behind it.
    run (-10.0f, 2.0, false);
    ASSERT_TRUE (inst->instMeasuring.load());
    click (*e.undoButton);
    SteppedSine more (48000.0, { { -10.0f, 2.0 } });
    feed ({ { inst, &more } }, 480, more.totalSamples());
    for (int k = 0; k < 4; ++k)
        e.timerCallback();
    EXPECT_FALSE (inst->instMeasuring.load());
    EXPECT_EQ (e.instMeasureButton.getButtonText(), idleCaption);
    EXPECT_TRUE (inst->instFrozen.load());
    EXPECT_EQ (inst->instMeasuredLufs.load(), first);
    EXPECT_NEAR (inst->instMatchGain.load(), -18.0f - first, 0.01f);
    EXPECT_EQ (inst->instHistory.size(), firstBlocks);
    EXPECT_EQ (e.instChart.historyData.selfSeries.size(), firstBlocks);
    EXPECT_EQ (e.instCardLufsValue.getText(), QuorvaneEditor::fmtOneDecimal (first));
    EXPECT_NEAR (appliedGainDb (*inst), -18.0f - first, 0.05);

    // Redo gives the state right after the press (no result, no run), undo
    // the first result again.
    click (*e.redoButton);
    for (int k = 0; k < 2; ++k)
        e.timerCallback();
    EXPECT_FALSE (inst->instMeasuring.load());
    EXPECT_FALSE (inst->instFrozen.load());
    EXPECT_EQ (e.instMeasureButton.getButtonText(), idleCaption);
    EXPECT_NEAR (appliedGainDb (*inst), 0.0f, 0.05);
    click (*e.undoButton);
    for (int k = 0; k < 2; ++k)
        e.timerCallback();
    EXPECT_TRUE (inst->instFrozen.load());
    EXPECT_EQ (inst->instMeasuredLufs.load(), first);
    EXPECT_NEAR (appliedGainDb (*inst), -18.0f - first, 0.05);

    // STOP pressed and undone before any block finished the stop: the stop's
    // data does not arrive behind the restored state; one more undo gives
    // the first result back.
    run (-10.0f, 1.0, false);
    click (e.instMeasureButton);
    click (*e.undoButton);
    feed ({ { inst, &more } }, 480, 4800);
    for (int k = 0; k < 6; ++k)
        e.timerCallback();
    EXPECT_FALSE (inst->instMeasuring.load());
    EXPECT_FALSE (inst->instFrozen.load() && inst->instMeasuredLufs.load() > -119.5f) << "nothing of the undone run";
    EXPECT_EQ (e.instMeasureButton.getButtonText(), idleCaption);
    click (*e.undoButton);
    for (int k = 0; k < 2; ++k)
        e.timerCallback();
    EXPECT_TRUE (inst->instFrozen.load());
    EXPECT_EQ (inst->instMeasuredLufs.load(), first);
    EXPECT_EQ (e.instChart.historyData.selfSeries.size(), firstBlocks);

    // A later run still measures normally.
    run (-16.0f, 2.0, true);
    ASSERT_TRUE (inst->instFrozen.load());
    EXPECT_NEAR (inst->instMeasuredLufs.load(), ebur128Of (SteppedSine (48000.0, { { -16.0f, 2.0 } })), 0.1);
    EXPECT_EQ (e.instChart.historyData.selfSeries.size(), inst->instHistory.size());
}

TEST_F (EditorMatchBreak, ABSwitchDuringRunsEndsThemAndUndoBringsTheResultsBack)
{
    auto& ev = openPair (48000.0, 480);
    auto& ei = open (*inst);
    ei.setSize (1092, 612);
    click (ei.setInstTargetButton);
    SteppedSine lead (48000.0, { { -18.0f, 0.2 } });
    SteppedSine lead2 = lead;
    feed ({ { inst, &lead }, { vocal, &lead2 } }, 480, lead.totalSamples());
    ev.timerCallback();
    ei.timerCallback();
    const auto vocalIdle = ev.matchButton.getButtonText();
    const auto instIdle = ei.instMeasureButton.getButtonText();

    // Results on A for both.
    SteppedSine v1 (48000.0, { { -20.0f, 3.0 } }), i1 (48000.0, { { -18.0f, 3.0 } });
    click (ei.instMeasureButton);
    matchRun (ev, v1, i1, 480);
    click (ei.instMeasureButton);
    feed ({ { inst, &lead } }, 480, 480 * 3);
    for (int k = 0; k < 4; ++k)
        ei.timerCallback();
    ASSERT_TRUE (vocal->sections[0].frozen.load());
    ASSERT_TRUE (inst->instFrozen.load());
    const float vocalA = vocal->sections[0].selfLufs.load(), instA = inst->instMeasuredLufs.load();

    // New runs on both, and each window switches to B in the middle of them.
    SteppedSine v2 (48000.0, { { -12.0f, 5.0 } }), i2 (48000.0, { { -8.0f, 5.0 } });
    click (ev.matchButton);
    click (ei.instMeasureButton);
    feed ({ { inst, &i2 }, { vocal, &v2 } }, 480, 48000 * 2);
    ev.timerCallback();
    ei.timerCallback();
    click (ev.abToggle);
    click (ei.abToggle);
    feed ({ { inst, &i2 }, { vocal, &v2 } }, 480, 48000 * 2);
    for (int k = 0; k < 4; ++k)
    {
        ev.timerCallback();
        ei.timerCallback();
    }
    EXPECT_EQ (vocal->currentAB.load(), 1);
    EXPECT_FALSE (vocal->ownSlot->ownSections[0].measuring.load());
    EXPECT_FALSE (inst->instMeasuring.load());
    EXPECT_EQ (ev.matchButton.getButtonText(), vocalIdle);
    EXPECT_EQ (ei.instMeasureButton.getButtonText(), instIdle);

    // Back on A: the state it had at the switch (the presses had cleared its
    // results), and nothing of the runs arrives later.
    click (ev.abToggle);
    click (ei.abToggle);
    feed ({ { inst, &i2 }, { vocal, &v2 } }, 480, 4800);
    for (int k = 0; k < 4; ++k)
    {
        ev.timerCallback();
        ei.timerCallback();
    }
    EXPECT_EQ (vocal->currentAB.load(), 0);
    EXPECT_EQ (inst->currentAB.load(), 0);
    EXPECT_FALSE (vocal->ownSlot->ownSections[0].measuring.load());
    EXPECT_FALSE (inst->instMeasuring.load());
    EXPECT_FALSE (inst->instFrozen.load());
    EXPECT_FALSE (vocal->sections[0].frozen.load());
    EXPECT_TRUE (ei.instChart.historyData.selfSeries.empty());
    EXPECT_TRUE (ev.sectionChart.historyData.selfSeries.empty());
    EXPECT_NEAR (appliedGainDb (*vocal), 0.0f, 0.05);
    EXPECT_NEAR (appliedGainDb (*inst), 0.0f, 0.05);

    // Undo of the two switches and of the presses brings A's results back.
    for (auto* e : { &ev, &ei })
        while (e->undoButton->isEnabled() && ! (e == &ev ? vocal->sections[0].frozen.load() : inst->instFrozen.load()))
        {
            click (*e->undoButton);
            e->timerCallback();
        }
    feed ({ { inst, &i2 }, { vocal, &v2 } }, 480, 4800);
    for (int k = 0; k < 2; ++k)
    {
        ev.timerCallback();
        ei.timerCallback();
    }
    EXPECT_EQ (vocal->sections[0].selfLufs.load(), vocalA);
    EXPECT_EQ (inst->instMeasuredLufs.load(), instA);
    EXPECT_NEAR (shownNumber (ev.vocalLufsValue), vocalA, 0.051);
    EXPECT_NEAR (shownNumber (ei.instCardLufsValue), instA, 0.051);
    EXPECT_EQ (ei.instChart.historyData.selfSeries.size(), inst->instHistory.size());
    EXPECT_EQ (ev.sectionChart.historyData.selfSeries.size(), vocal->sections[0].selfHistory.size());
}
