// The section list, the gain card and the section actions of the plug-in
// window, driven through the real widgets on real processors.

#include "EditorTestSupport.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <locale>
#include <thread>

using namespace qvn::test;

namespace
{
const juce::String dash = juce::String::fromUTF8 ("\xe2\x80\x94");
const juce::Colour light (0xffeaefe9), grey (0xff7e7f83), orange (0xffe0922f), teal (0xff7cf2c8);

void rightClick (juce::Component& c) { click (c, juce::ModifierKeys::rightButtonModifier); }

/** A comma as decimal separator for the whole process while it lives. */
struct CommaLocale
{
    struct Punct : std::numpunct<char>
    {
        char do_decimal_point() const override { return ','; }
    };
    CommaLocale() : previous (std::locale::global (std::locale (std::locale::classic(), new Punct))) {}
    ~CommaLocale() { std::locale::global (previous); }
    std::locale previous;
};

struct SectionValues
{
    bool frozen, bypass, locked;
    float self, partner, gain, seconds, offset;
    int group;
    bool operator== (const SectionValues&) const = default;
};

std::vector<SectionValues> sectionValues (QuorvaneProcessor& p)
{
    std::vector<SectionValues> v;
    for (int i = 0; i < 16; ++i)
    {
        const auto& s = p.sections[(size_t) i];
        v.push_back ({ s.frozen.load(), s.bypass.load(), s.locked.load(), s.selfLufs.load(), s.partnerLufs.load(),
                       s.gainDb.load(), s.seconds.load(), p.getSectionOffset (i), s.linkGroup.load() });
    }
    return v;
}

void giveResult (QuorvaneProcessor& p, int i, float self, float partner, float seconds = 12.34f)
{
    auto& s = p.sections[(size_t) i];
    s.frozen = true;
    s.selfLufs = self;
    s.partnerLufs = partner;
    s.gainDb = partner - self;
    s.seconds = seconds;
}

juce::String letter (int i) { return juce::String::charToString ((juce::juce_wchar) ('A' + i)); }

class EditorSections : public EditorFixture
{
protected:
    /** A linked Inst and Vocal, the window open on the Vocal. */
    QuorvaneEditor& openVocal()
    {
        editors.clear();
        processors.clear();
        addProcessor (1);
        auto& v = addProcessor (2);
        auto& e = open (v);
        e.setSize (1092, 612);
        e.timerCallback();
        return e;
    }

    QuorvaneProcessor& vocal() { return *processors.back(); }
    void tick (QuorvaneEditor& e, int n = 1)
    {
        for (int i = 0; i < n; ++i)
            e.timerCallback();
    }
};
} // namespace

//==============================================================================
TEST_F (EditorSections, NumbersHaveOneDecimalAndAPointWhateverTheLocale)
{
    struct Case
    {
        double value;
        const char* plain;
        const char* sign;
    };
    const Case cases[] = {
        { 0.0, "0.0", "+0.0" },       { -0.0, "-0.0", "+0.0" },     { 0.04, "0.0", "+0.0" },
        { -0.04, "-0.0", "-0.0" },    { -18.0, "-18.0", "-18.0" },  { 12.34, "12.3", "+12.3" },
        { -14.26, "-14.3", "-14.3" }, { 2.96, "3.0", "+3.0" },       { 11.95, "11.9", "+11.9" },
        { -119.4, "-119.4", "-119.4" }, { 1234.56, "1234.6", "+1234.6" },
    };

    auto checkTable = [&]
    {
        for (const auto& c : cases)
        {
            SCOPED_TRACE (c.value);
            EXPECT_EQ (QuorvaneEditor::fmtOneDecimal (c.value), juce::String (c.plain));
            EXPECT_EQ (QuorvaneEditor::fmtSigned (c.value), juce::String (c.sign));
        }
        EXPECT_EQ (QuorvaneEditor::fmtGain (1.0f), "+1.0 dB");
        EXPECT_EQ (QuorvaneEditor::fmtGain (-0.04f), "-0.0 dB");
        EXPECT_EQ (QuorvaneEditor::fmtGain (0.0f), "+0.0 dB");
        // round1: ties go to the even tenth.
        EXPECT_FLOAT_EQ (QuorvaneEditor::round1 (-14.25f), -14.2f);
        EXPECT_FLOAT_EQ (QuorvaneEditor::round1 (-14.75f), -14.8f);
        EXPECT_FLOAT_EQ (QuorvaneEditor::round1 (-14.26f), -14.3f);
    };

    {
        SCOPED_TRACE ("classic locale");
        checkTable();
    }
    {
        SCOPED_TRACE ("comma-decimal global locale");
        CommaLocale comma;
        std::cout << "[ info ] under the comma locale the framework writes -14.26 as \""
                  << juce::String (-14.26, 1) << "\"" << std::endl;
        checkTable();

        // The window's cells under that locale.
        auto& e = openVocal();
        giveResult (vocal(), 0, -14.26f, -12.04f);
        setParameter (vocal(), "offset_A", 1.0f);
        tick (e);
        EXPECT_EQ (e.sectionCells[QuorvaneEditor::cellInst][0].getText(), "-12.0");
        EXPECT_EQ (e.sectionCells[QuorvaneEditor::cellTotal][0].getText(), "+3.3");
        EXPECT_EQ (e.sectionCells[QuorvaneEditor::cellLearnTime][0].getText(), "12.3 s");
        EXPECT_EQ (e.vocalLufsValue.getText(), "-14.3");
        EXPECT_EQ (e.learnStatus.getText(), "Learned in 12.3 s");
    }
}

TEST_F (EditorSections, CellsAndGainCardOfAFinishedSection)
{
    auto& e = openVocal();
    auto& p = vocal();
    giveResult (p, 0, -14.26f, -12.04f);
    setParameter (p, "offset_A", 1.0f);
    tick (e);

    auto cell = [&] (int column) -> juce::Label& { return e.sectionCells[(size_t) column][0]; };
    EXPECT_EQ (cell (QuorvaneEditor::cellMatch).getText(), "+2.3");
    EXPECT_EQ (cell (QuorvaneEditor::cellMatchGain).getText(), "+2.3 dB");
    EXPECT_EQ (cell (QuorvaneEditor::cellMatchGain).findColour (juce::Label::textColourId), orange);
    EXPECT_EQ (cell (QuorvaneEditor::cellOffsetGain).getText(), "+1.0 dB");
    EXPECT_EQ (cell (QuorvaneEditor::cellOffsetGain).findColour (juce::Label::textColourId), teal);
    EXPECT_EQ (cell (QuorvaneEditor::cellTotal).getText(), "+3.3");
    EXPECT_EQ (cell (QuorvaneEditor::cellTotal).findColour (juce::Label::textColourId), light);
    EXPECT_EQ (e.matchValue.getText(), "+2.3");
    EXPECT_EQ (e.offsetValue.getText(), "+1.0");
    EXPECT_EQ (e.totalValue.getText(), "+3.3");
    for (auto* unit : { &e.matchUnit, &e.offsetUnit, &e.totalUnit })
        EXPECT_EQ (unit->getText(), "dB");
    EXPECT_EQ (e.sectionTitle.getText(), "SECTION A");
    EXPECT_EQ (e.instLufsValue.getText(), "-12.0");
    EXPECT_EQ (e.vocalLufsUnit.getText(), "LUFS");
    EXPECT_FLOAT_EQ (e.sectionChart.lengthSeconds, 12.34f);
    p.sections[0].analysisSeconds = 10.0f;     // a trimmed range is what the chart spans
    tick (e);
    EXPECT_FLOAT_EQ (e.sectionChart.lengthSeconds, 10.0f);
    EXPECT_EQ (e.learnStatus.getText(), "Learned in 10.0 s");

    // An unmeasured section, a Japanese re-measure note, a link badge.
    EXPECT_EQ (e.sectionCells[QuorvaneEditor::cellLearnTime][1].getText(), "--");
    p.committedSection = 1;
    tick (e);
    EXPECT_EQ (e.learnStatus.getText(), "Not learned yet");
    EXPECT_EQ (e.sectionTitle.getText(), "SECTION B");
    EXPECT_EQ (e.boundOffsetSection, 1);
    p.sections[1].needsRemeasure = true;
    p.measMode = 1;
    tick (e);
    EXPECT_EQ (e.learnStatus.getText(), "Re-measure for K-RMS");
    p.tooltipLang = 1;
    tick (e);
    EXPECT_EQ (e.learnStatus.getText(), juce::String::fromUTF8 ("K-RMS \xe3\x81\xa7\xe3\x81\xae\xe5\x86\x8d\xe6\xb8\xac\xe5\xae\x9a\xe3\x81\x8c\xe5\xbf\x85\xe8\xa6\x81\xe3\x81\xa7\xe3\x81\x99"));
    p.sections[1].linkGroup = 2;
    tick (e);
    EXPECT_EQ (e.sectionStatusBadge.getText(), juce::String::fromUTF8 ("\xc2\xb7 LINK"));
    EXPECT_EQ (e.sectionCells[QuorvaneEditor::cellOffset][1].findColour (juce::Label::textColourId), juce::Colour (0xff3ecf82));

    // A frozen section whose INST level drops out keeps its match for 3 ticks.
    p.sections[0].partnerLufs = -120.0f;
    for (int t = 0; t < 3; ++t)
    {
        tick (e);
        EXPECT_EQ (cell (QuorvaneEditor::cellMatch).getText(), "+2.3") << t;
    }
    tick (e);
    EXPECT_EQ (cell (QuorvaneEditor::cellMatch).getText(), dash);
}

TEST_F (EditorSections, TotalCellPerState)
{
    struct Case
    {
        const char* name;
        bool frozen, withInst, bypass, measuring;
        float offset;
        const char* text;
        juce::Colour colour;
    };
    const Case cases[] = {
        { "bypassed, complete", true, true, true, false, 1.0f, "+3.3", grey },
        { "bypassed, not complete, offset", true, false, true, false, 1.0f, "+1.0", grey },
        { "bypassed, not complete, no offset", true, false, true, false, 0.0f, "\xe2\x80\x94", grey },
        { "complete", true, true, false, false, 1.0f, "+3.3", light },
        { "not complete, frozen", true, false, false, false, 1.0f, "\xe2\x80\x94", grey },
        { "not frozen, offset", false, false, false, false, -2.0f, "-2.0", light },
        { "not frozen, no offset", false, false, false, false, 0.0f, "\xe2\x80\x94", grey },
        { "measuring", false, false, false, true, 1.0f, "Learning", orange },
    };

    auto& e = openVocal();
    auto& p = vocal();
    for (int i = 0; i < (int) std::size (cases); ++i)
    {
        const auto& c = cases[i];
        if (c.frozen)
            giveResult (p, i, -14.26f, c.withInst ? -12.04f : -120.0f);
        p.sections[(size_t) i].bypass = c.bypass;
        p.ownSlot->ownSections[(size_t) i].measuring = c.measuring;
        setParameter (p, "offset_" + letter (i), c.offset);
    }
    tick (e);
    for (int i = 0; i < (int) std::size (cases); ++i)
    {
        SCOPED_TRACE (cases[i].name);
        const auto& total = e.sectionCells[QuorvaneEditor::cellTotal][(size_t) i];
        EXPECT_EQ (total.getText(), juce::String::fromUTF8 (cases[i].text));
        EXPECT_EQ (total.findColour (juce::Label::textColourId), cases[i].colour);
    }

    // The shown (bypassed, complete) section's card TOTAL is grey.
    p.ownSlot->ownSections[7].measuring = false;
    p.committedSection = 0;
    tick (e);
    EXPECT_EQ (e.totalValue.getText(), "+3.3");
    EXPECT_EQ (e.totalValue.findColour (juce::Label::textColourId), grey);

    // After a measurement stops without a result, "Learning" stays 9 more ticks.
    for (int t = 0; t < 9; ++t)
    {
        EXPECT_EQ (e.sectionCells[QuorvaneEditor::cellTotal][7].getText(), "Learning") << t;
        tick (e);
    }
    EXPECT_EQ (e.sectionCells[QuorvaneEditor::cellTotal][7].getText(), "+1.0");
}

//==============================================================================
TEST_F (EditorSections, LockedSectionActionsAndTheirUndoSteps)
{
    // Section C is locked (bypass off, group 1, a result, Offset Gain +3.0);
    // section D is unlocked with a result and group 2. Each action is clicked
    // on its real button; undo of the step it records puts everything back.
    enum Target { rowOfC, allButton };
    struct Case
    {
        const char* name;
        std::function<void (QuorvaneEditor&)> act;
        SectionValues lockedAfter;
        int undoSteps;
    };
    const SectionValues lockedBefore { true, false, true, -14.0f, -12.0f, 2.0f, 12.34f, 3.0f, 1 };
    auto lockedWith = [&] (auto change)
    {
        auto v = lockedBefore;
        change (v);
        return v;
    };
    const Case cases[] = {
        { "row bypass", [] (QuorvaneEditor& e) { click (e.rowBypassButtons[2]); }, lockedBefore, 0 },
        { "row reset", [] (QuorvaneEditor& e) { click (e.rowResetButtons[2]); }, lockedBefore, 0 },
        { "row link", [] (QuorvaneEditor& e) { click (e.rowLinkButtons[2]); }, lockedBefore, 0 },
        { "row unlink", [] (QuorvaneEditor& e) { rightClick (e.rowLinkButtons[2]); }, lockedBefore, 0 },
        { "row lock (unlocks)", [] (QuorvaneEditor& e) { click (e.rowLockButtons[2]); },
          lockedWith ([] (SectionValues& v) { v.locked = false; }), 1 },
        { "bypass all", [] (QuorvaneEditor& e) { click (e.allBypassButton); }, lockedBefore, 1 },
        { "reset all", [] (QuorvaneEditor& e) { click (e.allResetButton); }, lockedBefore, 1 },
        { "link all sections", [] (QuorvaneEditor& e) { click (e.allLinkButton); }, lockedBefore, 1 },
        { "unlink all sections", [] (QuorvaneEditor& e) { rightClick (e.allLinkButton); }, lockedBefore, 1 },
        { "lock all", [] (QuorvaneEditor& e) { click (e.allLockButton); }, lockedBefore, 1 },
        { "Link All toggle", [] (QuorvaneEditor& e) { e.linkAllButton.setBounds (0, 0, 60, 20); click (e.linkAllButton); }, lockedBefore, 1 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        auto& e = openVocal();
        auto& p = vocal();
        giveResult (p, 2, -14.0f, -12.0f);
        setParameter (p, "offset_C", 3.0f);
        p.sections[2].linkGroup = 1;
        giveResult (p, 3, -20.0f, -15.0f);
        p.sections[3].linkGroup = 2;
        p.sections[2].locked = true;
        tick (e);
        p.undoStack.clear();

        const auto before = sectionValues (p);
        const bool linkAllBefore = p.linkOffsets.load();
        c.act (e);
        p.handleUpdateNowIfNeeded();
        tick (e);

        EXPECT_EQ (sectionValues (p)[2], c.lockedAfter);
        EXPECT_EQ ((int) p.undoStack.size(), c.undoSteps);
        EXPECT_EQ (e.rowBypassButtons[2].getToggleState(), p.sections[2].bypass.load());
        EXPECT_EQ (e.rowLockButtons[2].getToggleState(), p.sections[2].locked.load());
        if (c.undoSteps > 0)
        {
            EXPECT_TRUE (sectionValues (p) != before || p.linkOffsets.load() != linkAllBefore) << "the step changed something";
            p.restoreSnapshot (p.undoStack.back());
            p.handleUpdateNowIfNeeded();
            EXPECT_EQ (sectionValues (p), before) << "undo restores exactly";
            EXPECT_EQ (p.linkOffsets.load(), linkAllBefore);
        }
        else
        {
            EXPECT_EQ (sectionValues (p), before);
        }
    }
}

TEST_F (EditorSections, UnlockedRowActionsRecordOneStepEach)
{
    auto& e = openVocal();
    auto& p = vocal();
    p.undoStack.clear();

    // Link cycles 0 -> 1 -> 2 -> 3 -> 0 and tints the icon.
    for (int expected : { 1, 2, 3, 0 })
    {
        click (e.rowLinkButtons[4]);
        tick (e);
        EXPECT_EQ (p.sections[4].linkGroup.load(), expected);
    }
    EXPECT_EQ (p.undoStack.size(), 4u);
    click (e.rowLinkButtons[4]);
    tick (e);
    EXPECT_EQ (e.sectionStatusBadge.getText(), juce::String()) << "section A is shown, not E";
    rightClick (e.rowLinkButtons[4]);
    EXPECT_EQ (p.sections[4].linkGroup.load(), 0);
    EXPECT_EQ (p.undoStack.size(), 6u);
    rightClick (e.rowLinkButtons[4]);
    EXPECT_EQ (p.undoStack.size(), 6u) << "unlinking an unlinked section records nothing";

    // Bypass toggles the section and the icon follows.
    click (e.rowBypassButtons[4]);
    EXPECT_TRUE (p.sections[4].bypass.load());
    EXPECT_EQ (p.undoStack.size(), 7u);

    // A per-section reset always records a step, even on an empty section.
    click (e.rowResetButtons[9]);
    EXPECT_EQ (p.undoStack.size(), 8u);

    // Reset all with nothing to reset records none.
    for (int i = 0; i < 16; ++i)
        p.resetSectionMeasurementNoUndo (i);
    p.handleUpdateNowIfNeeded();
    p.undoStack.clear();
    click (e.allResetButton);
    EXPECT_TRUE (p.undoStack.empty());
}

TEST_F (EditorSections, ResetWhileMeasuringLeavesTheSectionWithoutResult)
{
    auto& e = openVocal();
    auto& inst = *processors.front();
    auto& v = vocal();
    struct Head : juce::AudioPlayHead
    {
        juce::Optional<PositionInfo> getPosition() const override
        {
            PositionInfo info;
            info.setIsPlaying (true);
            info.setTimeInSamples (position);
            return info;
        }
        std::int64_t position = 0;
    } instHead, vocalHead;
    inst.setPlayHead (&instHead);
    v.setPlayHead (&vocalHead);
    inst.prepareToPlay (48000.0, 480);
    v.prepareToPlay (48000.0, 480);

    juce::AudioBuffer<float> buffer (2, 480);
    juce::MidiBuffer midi;
    std::int64_t pos = 0;
    auto run = [&] (int blocks)
    {
        for (int b = 0; b < blocks; ++b)
        {
            for (int i = 0; i < 480; ++i)
                for (int ch = 0; ch < 2; ++ch)
                    buffer.setSample (ch, i, 0.25f * (float) std::sin (2.0 * juce::MathConstants<double>::pi * 1000.0 * (double) (pos + i) / 48000.0));
            v.processBlock (buffer, midi);
            inst.processBlock (buffer, midi);
            pos += 480;
            instHead.position = vocalHead.position = pos;
            if (b % 5 == 0)
            {
                inst.handleUpdateNowIfNeeded();
                v.handleUpdateNowIfNeeded();
                tick (e);
            }
        }
    };

    run (10);
    v.kickSectionMeasurement (0);
    run (300);
    tick (e);
    ASSERT_TRUE (v.ownSlot->ownSections[0].measuring.load());
    EXPECT_EQ (e.sectionCells[QuorvaneEditor::cellTotal][0].getText(), "Learning");
    EXPECT_NE (e.sectionCells[QuorvaneEditor::cellLearnTime][0].getText(), "--");

    v.undoStack.clear();
    click (e.rowResetButtons[0]);
    EXPECT_EQ (v.undoStack.size(), 1u);
    run (300);
    v.ownSlot->signalStop();
    run (100);
    tick (e, 12);

    EXPECT_FALSE (v.ownSlot->ownSections[0].measuring.load());
    EXPECT_FALSE (v.sections[0].frozen.load());
    EXPECT_FLOAT_EQ (v.sections[0].selfLufs.load(), -120.0f);
    EXPECT_FLOAT_EQ (v.sections[0].partnerLufs.load(), -120.0f);
    EXPECT_EQ (e.sectionCells[QuorvaneEditor::cellTotal][0].getText(), dash);
    EXPECT_EQ (e.sectionCells[QuorvaneEditor::cellLearnTime][0].getText(), "--");
    EXPECT_EQ (e.learnStatus.getText(), "Not learned yet");
    v.releaseResources();
    inst.releaseResources();
}

//==============================================================================
TEST_F (EditorSections, DragOfTheOffsetSliderWithTheRightButtonMovesAllUnlockedSections)
{
    auto& e = openVocal();
    auto& p = vocal();
    setParameter (p, "offset_B", 2.0f);
    p.sections[1].locked = true;                // keeps its +2.0
    p.sections[2].linkGroup = 1;
    p.sections[3].linkGroup = 1;
    setParameter (p, "offset_D", 1.0f);
    setParameter (p, "offset_E", -1.0f);
    tick (e);
    ASSERT_FLOAT_EQ (p.getSectionOffset (2), 1.0f);
    ASSERT_EQ (e.boundOffsetSection, 0);
    ASSERT_GT (e.offsetSlider.getWidth(), 50);
    p.undoStack.clear();
    const auto before = sectionValues (p);

    auto& s = e.offsetSlider;
    const float y = (float) s.getHeight() / 2.0f, x0 = (float) s.getWidth() / 2.0f;
    s.mouseDown (mouseEvent (s, { x0, y }, juce::ModifierKeys::rightButtonModifier));
    EXPECT_TRUE (p.offsetDragAllSections.load());
    for (int step = 1; step <= 5; ++step)
    {
        // The message loop runs the processor's update between mouse events,
        // but not necessarily between the last move and the release.
        s.mouseDrag (mouseEvent (s, { x0 + 8.0f * (float) step, y }, juce::ModifierKeys::rightButtonModifier));
        if (step < 5)
            p.handleUpdateNowIfNeeded();
    }
    s.mouseUp (mouseEvent (s, { x0 + 40.0f, y }, juce::ModifierKeys::rightButtonModifier));
    p.handleUpdateNowIfNeeded();
    tick (e);

    EXPECT_FALSE (p.offsetDragAllSections.load());
    const float delta = p.getSectionOffset (0);
    EXPECT_GT (delta, 0.5f);
    EXPECT_FLOAT_EQ (p.getSectionOffset (1), 2.0f) << "locked keeps its offset";
    EXPECT_NEAR (p.getSectionOffset (2), 1.0f + delta, 0.051f) << "D's +1.0 went to its group partner C before";
    EXPECT_NEAR (p.getSectionOffset (3), 1.0f + delta, 0.051f);
    EXPECT_NEAR (p.getSectionOffset (4), -1.0f + delta, 0.051f);
    EXPECT_NEAR (p.getSectionOffset (15), delta, 0.051f);
    EXPECT_EQ (p.undoStack.size(), 1u) << "one step for the whole drag";
    p.restoreSnapshot (p.undoStack.back());
    p.handleUpdateNowIfNeeded();
    EXPECT_EQ (sectionValues (p), before);

    // A plain drag on a linked section moves its link group only, to the same value.
    p.committedSection = 2;
    tick (e);
    ASSERT_EQ (e.boundOffsetSection, 2);
    p.undoStack.clear();
    s.mouseDown (mouseEvent (s, { x0, y }, juce::ModifierKeys::leftButtonModifier));
    EXPECT_FALSE (p.offsetDragAllSections.load());
    s.mouseDrag (mouseEvent (s, { x0 - 30.0f, y }, juce::ModifierKeys::leftButtonModifier));
    p.handleUpdateNowIfNeeded();
    s.mouseUp (mouseEvent (s, { x0 - 30.0f, y }, juce::ModifierKeys::leftButtonModifier));
    p.handleUpdateNowIfNeeded();
    const float d2 = p.getSectionOffset (2);
    EXPECT_LT (d2, -0.5f);
    EXPECT_FLOAT_EQ (p.getSectionOffset (3), d2) << "the group takes the edited value";
    EXPECT_FLOAT_EQ (p.getSectionOffset (4), -1.0f);
    EXPECT_FLOAT_EQ (p.getSectionOffset (0), 0.0f);
    EXPECT_EQ (p.undoStack.size(), 1u);

    // A locked shown section disables the slider.
    p.committedSection = 1;
    tick (e);
    EXPECT_EQ (e.boundOffsetSection, 1);
    EXPECT_FALSE (s.isEnabled());
}

TEST_F (EditorSections, SectionChoiceAgainstARunningAudioThread)
{
    auto& e = openVocal();
    auto& p = vocal();
    struct Head : juce::AudioPlayHead
    {
        juce::Optional<PositionInfo> getPosition() const override
        {
            PositionInfo info;
            info.setIsPlaying (true);
            info.setTimeInSamples (position.load());
            return info;
        }
        std::atomic<std::int64_t> position { 0 };
    } head;
    p.setPlayHead (&head);
    p.prepareToPlay (48000.0, 480);

    std::atomic<bool> stop { false };
    std::atomic<int> blocks { 0 };
    std::thread audio ([&]
    {
        juce::AudioBuffer<float> buffer (2, 480);
        juce::MidiBuffer midi;
        while (! stop.load())
        {
            buffer.clear();
            p.processBlock (buffer, midi);
            head.position += 480;
            blocks.fetch_add (1);
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
        }
    });
    auto waitBlocks = [&] (int n)
    {
        const int target = blocks.load() + n;
        while (blocks.load() < target)
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
    };
    auto sectionParam = [&] { return (int) std::lround (p.parameters.getRawParameterValue (ids::section)->load()); };

    waitBlocks (5);
    tick (e);
    ASSERT_EQ (p.committedSection.load(), 0);

    // Playing: the row click writes the request, the echo and the parameter;
    // the commit follows after 120 ms (12 blocks) of agreement.
    const int serial = p.uiSectionRequestSerial.load();
    const int atClick = blocks.load();
    click (e.sectionRows[5]);
    EXPECT_EQ (p.uiSectionRequestSerial.load(), serial + 1);
    EXPECT_EQ (sectionParam(), 5);
    int atCommit = -1;
    for (int spin = 0; spin < 5000 && atCommit < 0; ++spin)
    {
        if (p.committedSection.load() == 5)
            atCommit = blocks.load();
        std::this_thread::sleep_for (std::chrono::milliseconds (1));
    }
    ASSERT_GE (atCommit, 0) << "never committed";
    EXPECT_GE (atCommit - atClick, 11) << "committed before the agreement time";
    std::cout << "[ info ] commit " << (atCommit - atClick) << " blocks of 10 ms after the click" << std::endl;
    tick (e);
    EXPECT_EQ (e.shownSection, 5);
    EXPECT_TRUE (e.sectionRows[5].getToggleState());

    // The stepper moves one section the same way.
    click (e.nextSectionButton);
    EXPECT_EQ (sectionParam(), 6);
    for (int spin = 0; spin < 5000 && p.committedSection.load() != 6; ++spin)
        std::this_thread::sleep_for (std::chrono::milliseconds (1));
    EXPECT_EQ (p.committedSection.load(), 6);

    // Following the host's automation (reading, playing): a click changes nothing.
    p.setHostAutomationState (1);
    waitBlocks (3);
    ASSERT_TRUE (p.followAutomation.load());
    const int serialBefore = p.uiSectionRequestSerial.load();
    click (e.sectionRows[9]);
    click (e.prevSectionButton);
    waitBlocks (20);
    EXPECT_EQ (p.uiSectionRequestSerial.load(), serialBefore);
    EXPECT_EQ (sectionParam(), 6);
    EXPECT_EQ (p.committedSection.load(), 6);
    EXPECT_TRUE (e.sectionRows[6].getToggleState());
    EXPECT_FALSE (e.sectionRows[9].getToggleState());

    // The tick disables rows and stepper while the processor follows.
    tick (e);
    waitBlocks (2);
    tick (e);
    EXPECT_FALSE (e.sectionRows[9].isEnabled());
    EXPECT_FALSE (e.prevSectionButton.isEnabled());
    EXPECT_FALSE (e.nextSectionButton.isEnabled());

    stop = true;
    audio.join();

    // A processor that processes no audio is not followed.
    tick (e);
    EXPECT_TRUE (e.sectionRows[9].isEnabled());
    EXPECT_TRUE (e.nextSectionButton.isEnabled());
    p.releaseResources();
}

//==============================================================================
TEST_F (EditorSections, MeasureButtonTextsAndTheInstView)
{
    auto& e = openVocal();
    auto& p = vocal();
    EXPECT_EQ (e.matchButton.getButtonText(), "MATCH TO INST");
    p.armedSectionStart = true;
    tick (e);
    EXPECT_EQ (e.matchButton.getButtonText(), "WAITING FOR PLAY");
    EXPECT_TRUE (e.matchButton.isMeasuring);
    p.armedSectionStart = false;
    p.ownSlot->ownSections[3].measuring = true;
    p.linkMeasurementToTransport = true;
    tick (e);
    EXPECT_EQ (e.matchButton.getButtonText(), "STOPS WITH PLAYBACK");
    EXPECT_EQ (e.shownSection, 3);
    EXPECT_EQ (e.vocalLufsValue.getText(), "Learning");
    EXPECT_EQ (e.vocalLufsUnit.getText(), "");
    EXPECT_EQ (e.vocalLufsValue.getWidth(), 182) << "the value takes the whole block while measuring";
    p.linkMeasurementToTransport = false;
    tick (e);
    EXPECT_EQ (e.matchButton.getButtonText(), "STOP");
    p.ownSlot->ownSections[3].measuring = false;
    tick (e);
    EXPECT_EQ (e.matchButton.getButtonText(), "MATCH TO INST");
    EXPECT_EQ (e.vocalLufsValue.getWidth(), 138);

    EXPECT_EQ (e.abCopyButton.getButtonText(), "A > B");
    p.currentAB = 1;
    tick (e);
    EXPECT_EQ (e.abCopyButton.getButtonText(), "B > A");
    EXPECT_TRUE (e.abToggle.getToggleState());

    // The Inst instance's Target LUFS view.
    editors.clear();
    auto& inst = *processors.front();
    inst.instTargetUiOpen = true;
    auto& ie = open (inst);
    inst.instFrozen = true;
    inst.instMeasuredLufs = -130.0f;
    inst.instMatchGain = 0.0f;
    ie.timerCallback();
    EXPECT_EQ (ie.instCardLufsValue.getText(), "-inf");
    EXPECT_EQ (ie.instMatchValue.getText(), dash);
    EXPECT_EQ (ie.targetLufsValue.getText(), "-18.0");
    inst.instMeasuredLufs = -21.04f;
    inst.instMatchGain = 3.04f;
    setParameter (inst, ids::instOffset, -1.5f);
    ie.timerCallback();
    EXPECT_EQ (ie.instCardLufsValue.getText(), "-21.0");
    EXPECT_EQ (ie.instMatchValue.getText(), "+3.0");
    EXPECT_EQ (ie.instOffsetValue.getText(), "-1.5");
    EXPECT_EQ (ie.instTotalValue.getText(), "+1.5");
    EXPECT_EQ (ie.instMeasureButton.getButtonText(), "MATCH TO TARGET LUFS");
    inst.instMeasuring = true;
    ie.timerCallback();
    EXPECT_EQ (ie.instCardLufsValue.getText(), "Learning");
    EXPECT_EQ (ie.instCardLufsValue.findColour (juce::Label::textColourId), orange);
    EXPECT_EQ (ie.instCardLufsUnit.getText(), "");
    EXPECT_FALSE (ie.instCardLufsUnit.isVisible());
    EXPECT_EQ (ie.instTotalValue.getText(), dash);
    EXPECT_EQ (ie.instMeasureButton.getButtonText(), "STOP");
    inst.instMeasuring = false;
}
