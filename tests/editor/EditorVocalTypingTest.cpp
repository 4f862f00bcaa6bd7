// Typing into the Vocal view's OFFSET value. The framework's label takes the
// keyboard focus for its inline editor, which a window that is not on screen
// cannot have (a debug-build assertion), so these run in the release build only.

#include "VocalActionsSupport.h"

TEST_F (EditorVocalActions, TypedOffsetIsReadClampedOrRefused)
{
    auto& e = openVocal();
    auto* param = vocal->parameters.getParameter ("offset_A");
    ASSERT_NE (param, nullptr);

    struct Case
    {
        const char* text;
        bool accepted;
        float db;
    };
    const Case cases[] = {
        { "+3", true, 3.0f },       { "3", true, 3.0f },         { "-4.5", true, -4.5f },
        { "13", true, 12.0f },      { "-20", true, -12.0f },     { "2.5 dB", true, 2.5f },
        { "  -1.5dB", true, -1.5f }, { "1e1", true, 10.0f },      { "1e300", true, 12.0f },
        { "abc", true, 0.0f },      { "dB 5", true, 0.0f },      { "", true, 0.0f },
        { "nan", false, 0.0f },     { "NaN", false, 0.0f },      { "inf", false, 0.0f },
        { "-inf", false, 0.0f },    { "1e999", false, 0.0f },    { "-1e999", false, 0.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String ("text '") + c.text + "'");
        setParameter (*vocal, "offset_A", 7.0f);
        e.timerCallback();
        ASSERT_EQ (e.offsetValue.getText(), "+7.0");
        const auto undo = vocal->undoStack.size();
        GestureCounter counter (*param);

        typeOffset (e, c.text);
        vocal->handleUpdateNowIfNeeded();

        const float now = vocal->getSectionOffset (0);
        EXPECT_TRUE (std::isfinite (now));
        if (c.accepted)
        {
            EXPECT_NEAR (now, c.db, 0.001f);
            EXPECT_EQ (counter.begins, 1);
            EXPECT_EQ (counter.ends, 1);
            EXPECT_GE (vocal->undoStack.size(), undo) << "the processor records the typed change (close ones merge)";
        }
        else
        {
            EXPECT_EQ (now, 7.0f);
            EXPECT_EQ (counter.changes, 0);
            EXPECT_EQ (counter.begins, 0);
            EXPECT_EQ (vocal->undoStack.size(), undo);
        }
        EXPECT_EQ (e.offsetValue.getText(), QuorvaneEditor::fmtSigned (now)) << "a refused entry does not stay on screen";
        e.timerCallback();
        EXPECT_EQ (e.offsetValue.getText(), QuorvaneEditor::fmtSigned (now));
    }

    // The inline editor types over the number: same font, no box, at the bottom.
    static_cast<juce::Component&> (e.offsetValue).mouseDoubleClick (mouseEvent (e.offsetValue, { 5.0f, 5.0f }, juce::ModifierKeys::leftButtonModifier, 2));
    auto* ed = e.offsetValue.getCurrentTextEditor();
    ASSERT_NE (ed, nullptr);
    EXPECT_EQ (ed->getJustificationType().getFlags(), juce::Justification::bottomRight);
    EXPECT_EQ (ed->getBottom(), e.offsetValue.getHeight());
    EXPECT_EQ (ed->getWidth(), e.offsetValue.getWidth());
    EXPECT_EQ (ed->findColour (juce::TextEditor::backgroundColourId), juce::Colour (0x00000000));
    EXPECT_EQ (ed->findColour (juce::TextEditor::outlineColourId), juce::Colour (0x00000000));
    EXPECT_EQ (ed->findColour (juce::TextEditor::focusedOutlineColourId), juce::Colour (0x00000000));
    EXPECT_EQ (ed->getTooltip(), e.offsetValue.getTooltip());
    EXPECT_FALSE (ed->getTooltip().isEmpty());
    e.offsetValue.hideEditor (true);

    // A locked section takes nothing, and the refresh stops offering the edit.
    setParameter (*vocal, "offset_A", 2.0f);
    vocal->sections[0].locked = true;
    e.timerCallback();
    EXPECT_FALSE (e.offsetValue.isEditableOnDoubleClick());
    e.offsetValue.setEditable (false, true, false);   // an edit opened just before the lock
    const auto undo = vocal->undoStack.size();
    typeOffset (e, "-5");
    vocal->handleUpdateNowIfNeeded();
    EXPECT_EQ (vocal->getSectionOffset (0), 2.0f);
    EXPECT_EQ (vocal->undoStack.size(), undo);
    EXPECT_EQ (e.offsetValue.getText(), "+2.0");
}


TEST_F (EditorVocalActions, ActionsFollowTheSectionOnScreenNotTheUncommittedHostValue)
{
    // The host moved "section" to C while no audio runs: the processor has
    // not committed it, and the window still shows A.
    auto& e = openVocal();
    storeResult (*vocal, 0, 100, -20.0f, -14.0f);
    storeResult (*vocal, 2, 100, -24.0f, -14.0f);
    setParameter (*vocal, ids::section, 2.0f);
    e.timerCallback();
    ASSERT_EQ (vocal->committedSection.load(), 0);
    ASSERT_EQ (e.sectionTitle.getText(), "SECTION A");

    typeOffset (e, "+3");
    vocal->handleUpdateNowIfNeeded();
    EXPECT_EQ (vocal->getSectionOffset (0), 3.0f) << "the shown section takes the typed value";
    EXPECT_EQ (vocal->getSectionOffset (2), 0.0f);

    e.timerCallback();
    dragTrim (e.sectionChart, 0.0f, 0.5f);
    EXPECT_NEAR (vocal->sections[0].trimStart.load(), 0.5f, 0.02f);
    EXPECT_EQ (vocal->sections[2].trimStart.load(), 0.0f);

    click (e.matchButton);
    EXPECT_TRUE (vocal->ownSlot->ownSections[0].measuring.load());
    EXPECT_FALSE (vocal->ownSlot->ownSections[2].measuring.load());
    EXPECT_TRUE (vocal->sections[2].frozen.load()) << "the unseen section keeps its result";
}

