#include "EditorTestSupport.h"

namespace juce
{
// The platform's one-message dispatcher: the text editor posts its Return,
// Escape and focus-loss notifications as messages.
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
} // namespace juce

using qvn::test::EditorFixture;
using qvn::test::setParameter;

namespace
{
/** Mouse and key input sent to a widget the way the window's peer would. */
juce::MouseEvent mouseEvent (juce::Component& c, juce::ModifierKeys mods = juce::ModifierKeys::leftButtonModifier, int clicks = 1)
{
    auto source = juce::Desktop::getInstance().getMainMouseSource();
    const juce::Point<float> pos (3.0f, 3.0f);
    return juce::MouseEvent (source, pos, mods, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, &c, &c, juce::Time::getCurrentTime(), pos,
                             juce::Time::getCurrentTime(), clicks, false);
}

void click (juce::Component& c)
{
    c.mouseDown (mouseEvent (c));
    c.mouseUp (mouseEvent (c));
}

void doubleClick (juce::Component& c)
{
    click (c);
    c.mouseDoubleClick (mouseEvent (c, juce::ModifierKeys::leftButtonModifier, 2));
}

void type (juce::TextEditor& ed, const juce::String& text)
{
    for (auto ch : text)
        ed.keyPressed (juce::KeyPress (0, juce::ModifierKeys(), ch));
}

void pump()
{
    for (int i = 0; i < 1000; ++i)
        if (! juce::dispatchNextMessageOnSystemQueue (true))
            break;
}

void press (juce::TextEditor& ed, int keyCode)
{
    ed.keyPressed (juce::KeyPress (keyCode));
    pump();
}

/** Counts the gestures and value changes of one parameter. */
struct GestureCounter : juce::AudioProcessorParameter::Listener
{
    explicit GestureCounter (juce::AudioProcessorParameter& p) : param (p) { param.addListener (this); }
    ~GestureCounter() override { param.removeListener (this); }
    void parameterValueChanged (int, float) override { ++changes; }
    void parameterGestureChanged (int, bool starting) override { (starting ? begins : ends)++; }

    juce::AudioProcessorParameter& param;
    int changes = 0, begins = 0, ends = 0;
};

bool shown (const juce::Component& c) { return c.isVisible() && ! c.getBounds().isEmpty(); }
} // namespace

class EditorHeader : public EditorFixture
{
};

TEST_F (EditorHeader, EachRoleStateShowsItsControlsAndParksTheRest)
{
    // Columns: unassigned, INST status, INST target view, role conflict, Vocal with and without sidebar.
    enum { U, IS, IT, C, VS, VN, numStates };
    auto& inst = addProcessor (1);
    auto& vocal = addProcessor (2);
    auto& none = addProcessor (0);
    auto& second = addProcessor (1);
    ASSERT_TRUE (second.roleConflict.load());

    auto& eNone = open (none);
    auto& eInst = open (inst);
    auto& eConflict = open (second);
    auto& eVocal = open (vocal);
    for (auto* e : { &eNone, &eInst, &eConflict, &eVocal })
        e->timerCallback();

    struct Row
    {
        const char* name;
        std::function<juce::Component& (QuorvaneEditor&)> get;
        std::array<bool, numStates> expected;
    };
    const auto V = std::array<bool, numStates> { false, false, false, false, true, true };
    const auto S = std::array<bool, numStates> { false, false, false, false, true, false };
    const auto all = std::array<bool, numStates> { true, true, true, true, true, true };
    const auto meters = std::array<bool, numStates> { false, false, true, false, true, true };
    const auto itOnly = std::array<bool, numStates> { false, false, true, false, false, false };
    const auto isOnly = std::array<bool, numStates> { false, true, false, false, false, false };
    const auto lang = std::array<bool, numStates> { true, true, false, true, false, false };

    const std::vector<Row> table {
        { "offset slider", [] (QuorvaneEditor& e) -> juce::Component& { return e.offsetSlider; }, V },
        { "A/B", [] (QuorvaneEditor& e) -> juce::Component& { return e.abToggle; }, all },
        { "A > B", [] (QuorvaneEditor& e) -> juce::Component& { return e.abCopyButton; }, all },
        { "sidebar button", [] (QuorvaneEditor& e) -> juce::Component& { return *e.sidebarButton; }, V },
        { "SECTIONS", [] (QuorvaneEditor& e) -> juce::Component& { return e.sectionsHeader; }, S },
        { "ALL", [] (QuorvaneEditor& e) -> juce::Component& { return e.allCaption; }, S },
        { "all-lock", [] (QuorvaneEditor& e) -> juce::Component& { return e.allLockButton; }, S },
        { "section list", [] (QuorvaneEditor& e) -> juce::Component& { return e.sectionListViewport; }, S },
        { "MATCH", [] (QuorvaneEditor& e) -> juce::Component& { return e.matchButton; }, V },
        { "stepper prev", [] (QuorvaneEditor& e) -> juce::Component& { return e.prevSectionButton; }, V },
        { "stepper next", [] (QuorvaneEditor& e) -> juce::Component& { return e.nextSectionButton; }, V },
        { "own meter", [] (QuorvaneEditor& e) -> juce::Component& { return e.ownMeter; }, meters },
        { "partner meter", [] (QuorvaneEditor& e) -> juce::Component& { return e.partnerMeter; }, meters },
        { "rail mode", [] (QuorvaneEditor& e) -> juce::Component& { return e.railModeButton; }, meters },
        { "INST measure", [] (QuorvaneEditor& e) -> juce::Component& { return e.instMeasureButton; }, itOnly },
        { "Target LUFS value", [] (QuorvaneEditor& e) -> juce::Component& { return e.targetLufsValue; }, itOnly },
        { "Inst Offset slider", [] (QuorvaneEditor& e) -> juce::Component& { return e.instOffsetSlider; }, itOnly },
        { "INST chart", [] (QuorvaneEditor& e) -> juce::Component& { return e.instChart; }, itOnly },
        { "BACK TO INST STATUS", [] (QuorvaneEditor& e) -> juce::Component& { return e.backToInstStatusButton; }, itOnly },
        { "SET INST TARGET LUFS", [] (QuorvaneEditor& e) -> juce::Component& { return e.setInstTargetButton; }, isOnly },
        { "status line", [] (QuorvaneEditor& e) -> juce::Component& { return e.statusLabel; }, all },
        { "INST tab", [] (QuorvaneEditor& e) -> juce::Component& { return e.instTab; }, all },
        { "VOCAL tab", [] (QuorvaneEditor& e) -> juce::Component& { return e.vocalTab; }, all },
        { "English", [] (QuorvaneEditor& e) -> juce::Component& { return e.englishToggle; }, lang },
        { "Japanese", [] (QuorvaneEditor& e) -> juce::Component& { return e.japaneseToggle; }, lang },
    };

    auto check = [&] (QuorvaneEditor& e, int state)
    {
        for (const auto& row : table)
            EXPECT_EQ (shown (row.get (e)), row.expected[(size_t) state]) << row.name << " in state " << state;
        // Link All is placed by the section actions' layout; its visibility follows the role here.
        EXPECT_EQ (e.linkAllButton.isVisible(), V[(size_t) state]) << "Link All in state " << state;
    };

    check (eNone, U);
    check (eInst, IS);
    check (eConflict, C);
    check (eVocal, VS);

    // Rows 0..n-1 are there for a Vocal, none else; the cells of a non-Vocal are empty.
    vocal.numSections = 5;
    eVocal.timerCallback();
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ (eVocal.sectionRows[(size_t) i].isVisible(), i < 5) << i;
    EXPECT_FALSE (eInst.sectionRows[0].isVisible());

    // The sidebar button, pressed like a user would, hides the sidebar and stores the choice.
    click (*eVocal.sidebarButton);
    EXPECT_FALSE (eVocal.sidebarVisible);
    EXPECT_FALSE (AppSettings::get().properties.getUserSettings()->getBoolValue ("sidebarVisible", true));
    check (eVocal, VN);
    click (*eVocal.sidebarButton);
    check (eVocal, VS);

    // The INST status screen's button opens the target view: the next tick follows.
    inst.instTargetUiOpen = true;
    eInst.timerCallback();
    check (eInst, IT);
    inst.instTargetUiOpen = false;
    eInst.timerCallback();
    check (eInst, IS);

    // A role conflict shows neither INST view even with the target view stored open.
    second.instTargetUiOpen = true;
    eConflict.timerCallback();
    check (eConflict, C);
}

TEST_F (EditorHeader, StatusLineFollowsTheLinkState)
{
    struct Case
    {
        const char* what;
        QuorvaneProcessor* proc;
        juce::String text;
        juce::uint32 colour;
    };

    auto& lone = addProcessor (0);
    auto& e = open (lone);
    e.timerCallback();
    EXPECT_EQ (e.statusLabel.getText(), "Not connected (set roles on both sides)");
    EXPECT_EQ (e.statusLabel.findColour (juce::Label::textColourId).getARGB(), 0xffe0922fu);

    auto& inst = addProcessor (1);
    auto& eInst = open (inst);
    eInst.timerCallback();
    EXPECT_EQ (eInst.statusLabel.getText(), "Not connected (set roles on both sides)");

    auto& v1 = addProcessor (2);
    auto& eV1 = open (v1);
    auto& second = addProcessor (1);
    auto& eSecond = open (second);
    const Case oneVocal[] = {
        { "Inst with one Vocal", &inst, "Connected to 1 Vocal", 0xff3ecf82 },
        { "Vocal", &v1, "Connected to partner instance", 0xff3ecf82 },
        { "second Inst", &second, "another instance already uses Inst", 0xffcc4444 },
    };
    QuorvaneEditor* editorsFor[] = { &eInst, &eV1, &eSecond };
    for (size_t i = 0; i < 3; ++i)
    {
        SCOPED_TRACE (oneVocal[i].what);
        editorsFor[i]->timerCallback();
        EXPECT_EQ (editorsFor[i]->statusLabel.getText(), oneVocal[i].text);
        EXPECT_EQ (editorsFor[i]->statusLabel.findColour (juce::Label::textColourId).getARGB(), oneVocal[i].colour);
    }

    // Two more Vocal instances join: the count follows at the next tick.
    addProcessor (2);
    addProcessor (2);
    eInst.timerCallback();
    EXPECT_EQ (eInst.statusLabel.getText(), "Connected to 3 Vocals");

    // The Inst leaves: the Vocal is no longer connected; the second Inst takes over.
    setParameter (inst, ids::role, 0.0f);
    eInst.timerCallback();
    eV1.timerCallback();
    eSecond.timerCallback();
    EXPECT_EQ (eInst.statusLabel.getText(), "Not connected (set roles on both sides)");
    EXPECT_EQ (eSecond.statusLabel.getText(), "Connected to 3 Vocals");
    EXPECT_EQ (eV1.statusLabel.getText(), "Connected to partner instance");
}

TEST_F (EditorHeader, RoleTabsSetTheRoleAsOneCompleteGesture)
{
    auto& p = addProcessor (0);
    auto& e = open (p);
    e.timerCallback();
    GestureCounter counter (*p.parameters.getParameter (ids::role));

    click (e.vocalTab);
    EXPECT_EQ (p.getRole(), 2);
    EXPECT_EQ (counter.begins, 1);
    EXPECT_EQ (counter.ends, 1);
    EXPECT_EQ (counter.changes, 1);
    EXPECT_TRUE (e.vocalTab.getToggleState());
    EXPECT_FALSE (e.instTab.getToggleState());
    EXPECT_TRUE (shown (e.matchButton)) << "the role listener switched the view at once";

    click (e.vocalTab);
    EXPECT_EQ (counter.begins, 1) << "the value it already has sends nothing";
    EXPECT_EQ (counter.changes, 1);

    click (e.instTab);
    EXPECT_EQ (p.getRole(), 1);
    EXPECT_EQ (counter.begins, 2);
    EXPECT_EQ (counter.ends, 2);
    EXPECT_TRUE (e.instTab.getToggleState());
    EXPECT_FALSE (e.vocalTab.getToggleState());

    // A change from the host moves the tabs too; role 0 leaves both off.
    setParameter (p, ids::role, 0.0f);
    EXPECT_FALSE (e.instTab.getToggleState());
    EXPECT_FALSE (e.vocalTab.getToggleState());
    EXPECT_TRUE (shown (e.englishToggle));
}

TEST_F (EditorHeader, RenameCommitsOncePerEditThroughTheRealWidgets)
{
    auto& inst = addProcessor (1);
    auto& p = addProcessor (2);
    auto& e = open (p);
    e.timerCallback();
    ASSERT_EQ (e.vocalTab.getButtonText(), "VOCAL") << "a single Vocal is titled VOCAL although it is number 1";

    // Each setInstanceName publishes a new name record: count the records.
    int calls = 0;
    auto last = p.ownSlot->name.load();
    auto countCalls = [&]
    {
        auto now = p.ownSlot->name.load();
        if (now != last)
            ++calls;
        last = now;
    };
    auto name = [&] { std::lock_guard<std::mutex> l (p.partnerMutex); return p.instanceName; };

    struct Case
    {
        const char* what;
        juce::String typed;
        int ending;   // 0 Return, 1 Escape, 2 click outside, 3 focus lost, 4 Return then focus lost
        int calls;
        juce::String nameAfter;
        juce::String caption;
    };
    const Case cases[] = {
        { "Return", "Lead", 0, 1, "Lead", "Lead" },
        { "same text", "Lead", 0, 0, "Lead", "Lead" },
        { "Escape", "Harmony", 1, 0, "Lead", "Lead" },
        { "click outside", "  Backing 2  ", 2, 1, "Backing 2", "Backi..." },
        { "focus lost", "Dbl", 3, 1, "Dbl", "Dbl" },
        { "Return then focus loss", "Solo", 4, 1, "Solo", "Solo" },
        { "spaces only", "   ", 0, 1, "", "VOCAL" },
        { "Japanese", juce::String::fromUTF8 ("\xe3\x83\xaa\xe3\x83\xbc\xe3\x83\x89\xe3\x83\x9c\xe3\x83\xbc\xe3\x82\xab\xe3\x83\xab"), 0, 1,
          juce::String::fromUTF8 ("\xe3\x83\xaa\xe3\x83\xbc\xe3\x83\x89\xe3\x83\x9c\xe3\x83\xbc\xe3\x82\xab\xe3\x83\xab"),
          juce::String::fromUTF8 ("\xe3\x83\xaa\xe3\x83\xbc\xe3\x83\x89\xe3\x83\x9c\xe3\x83\xbc...") },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        calls = 0;
        doubleClick (e.vocalTab);
        ASSERT_TRUE (e.renameEditor.isVisible());
        EXPECT_TRUE (e.clickCatcher.isVisible());
        EXPECT_EQ (e.renameEditor.getBounds(), e.vocalTab.getBounds());
        EXPECT_EQ (e.vocalTab.getButtonText(), "");
        EXPECT_EQ (e.renameEditor.getHighlightedText(), e.renameStartText) << "the whole title is selected";
        e.timerCallback();
        EXPECT_EQ (e.vocalTab.getButtonText(), "") << "the tick leaves the caption alone while renaming";

        type (e.renameEditor, c.typed);   // replaces the selection
        EXPECT_EQ (e.renameEditor.getText(), c.typed);
        switch (c.ending)
        {
            case 0: press (e.renameEditor, juce::KeyPress::returnKey); break;
            case 1: press (e.renameEditor, juce::KeyPress::escapeKey); break;
            case 2: e.clickCatcher.mouseDown (mouseEvent (e.clickCatcher)); break;
            case 3: e.renameEditor.focusLost (juce::Component::focusChangedByMouseClick); pump(); break;
            default:
                press (e.renameEditor, juce::KeyPress::returnKey);
                e.renameEditor.focusLost (juce::Component::focusChangedByMouseClick);
                pump();
                break;
        }
        countCalls();
        EXPECT_EQ (calls, c.calls);
        EXPECT_EQ (name(), c.nameAfter);
        EXPECT_FALSE (e.renameEditor.isVisible());
        EXPECT_FALSE (e.clickCatcher.isVisible());
        EXPECT_EQ (e.vocalTab.getButtonText(), c.caption);
        e.timerCallback();
        EXPECT_EQ (e.vocalTab.getButtonText(), c.caption);
    }

    // In another role the double-click does nothing (its first click would
    // choose the Vocal role, so the double-click event comes alone here).
    setParameter (p, ids::role, 1.0f);
    e.timerCallback();
    e.vocalTab.mouseDoubleClick (mouseEvent (e.vocalTab, juce::ModifierKeys::leftButtonModifier, 2));
    EXPECT_FALSE (e.renameEditor.isVisible());
    (void) inst;
}

TEST_F (EditorHeader, TabCaptionFollowsTheTitleRules)
{
    addProcessor (1);
    auto& v1 = addProcessor (2);
    auto& e = open (v1);
    e.timerCallback();
    EXPECT_EQ (e.vocalTab.getButtonText(), "VOCAL");

    auto& v2 = addProcessor (2);
    auto& e2 = open (v2);
    e.timerCallback();
    e2.timerCallback();
    EXPECT_EQ (e.vocalTab.getButtonText(), "VOCAL1") << "another Vocal is linked now";
    EXPECT_EQ (e2.vocalTab.getButtonText(), "VOCAL2");

    v2.ownSlot->vocalNumber = 12;   // as a later registration would number it
    e2.timerCallback();
    EXPECT_EQ (e2.vocalTab.getButtonText(), "VOCAL...") << "VOCAL12 has seven code points";

    v1.setInstanceName (juce::String::fromUTF8 ("\xe6\xad\x8c\xe3\x81\x86\xe4\xba\xba\xe3\x81\xae\xe5\xa3\xb0\xe3\x81\xa7\xe3\x81\x99"));
    e.timerCallback();
    EXPECT_EQ (e.vocalTab.getButtonText(), juce::String::fromUTF8 ("\xe6\xad\x8c\xe3\x81\x86\xe4\xba\xba\xe3\x81\xae\xe5\xa3\xb0..."));
    v1.setInstanceName ("Lead 1");
    e.timerCallback();
    EXPECT_EQ (e.vocalTab.getButtonText(), "Lead 1") << "six code points show whole";
}

TEST_F (EditorHeader, LanguageTogglesSwitchTooltipsAndTheLookTogether)
{
    auto& p = addProcessor (0);
    auto& e = open (p);
    e.timerCallback();
    ASSERT_EQ (p.tooltipLang.load(), 0);
    EXPECT_FALSE (e.baseLook.tooltipJapanese);
    EXPECT_TRUE (e.englishToggle.getToggleState());

    click (e.japaneseToggle);
    EXPECT_EQ (p.tooltipLang.load(), 1);
    EXPECT_TRUE (e.baseLook.tooltipJapanese);
    EXPECT_TRUE (e.japaneseToggle.getToggleState());
    EXPECT_FALSE (e.englishToggle.getToggleState());
    EXPECT_TRUE (e.sectionChart.rangePillTooltip.containsNonWhitespaceChars());
    EXPECT_NE (e.sectionChart.rangePillTooltip, "Change the displayed LUFS range");
    EXPECT_EQ (e.englishToggle.getButtonText(), "English") << "captions keep their language";

    click (e.englishToggle);
    EXPECT_EQ (p.tooltipLang.load(), 0);
    EXPECT_FALSE (e.baseLook.tooltipJapanese);
    EXPECT_EQ (e.sectionChart.rangePillTooltip, "Change the displayed LUFS range");
    EXPECT_EQ (p.undoStack.size(), 0u);
}

TEST_F (EditorHeader, EachHeaderActionRecordsTheUndoStepsItShould)
{
    auto& inst = addProcessor (1);
    auto& p = addProcessor (2);
    auto& e = open (p);
    e.timerCallback();

    // Something to undo: a section result and an Offset Gain.
    p.sections[2].frozen = true;
    p.sections[2].selfLufs = -22.0f;
    setParameter (p, "offset_C", 1.5f);
    p.undoStack.clear();
    p.redoStack.clear();

    struct Step
    {
        const char* what;
        std::function<void()> act;
        int undoDelta, redoDelta;
    };
    const Step steps[] = {
        { "undo with nothing to undo", [&] { click (*e.undoButton); }, 0, 0 },
        { "A/B to B", [&] { click (e.abToggle); }, 1, 0 },
        { "A/B back to A", [&] { click (e.abToggle); }, 1, 0 },
        { "copy A > B", [&] { click (e.abCopyButton); }, 1, 0 },
        { "undo", [&] { e.timerCallback(); click (*e.undoButton); }, -1, 1 },
        { "undo", [&] { e.timerCallback(); click (*e.undoButton); }, -1, 1 },
        { "redo", [&] { e.timerCallback(); click (*e.redoButton); }, 1, -1 },
        { "sidebar", [&] { click (*e.sidebarButton); click (*e.sidebarButton); }, 0, 0 },
        { "rename", [&] { doubleClick (e.vocalTab); type (e.renameEditor, "X"); press (e.renameEditor, juce::KeyPress::returnKey); }, 0, 0 },
        { "role tab", [&] { click (e.instTab); click (e.vocalTab); }, 0, 0 },
        { "copy after an undo empties redo", [&] { click (e.abCopyButton); }, 1, -1 },
    };

    for (const auto& s : steps)
    {
        SCOPED_TRACE (s.what);
        const auto undoBefore = (int) p.undoStack.size();
        const auto redoBefore = (int) p.redoStack.size();
        s.act();
        EXPECT_EQ ((int) p.undoStack.size() - undoBefore, s.undoDelta);
        EXPECT_EQ ((int) p.redoStack.size() - redoBefore, s.redoDelta);
    }
    (void) inst;
}

TEST_F (EditorHeader, UndoRedoAndABRestoreTheStateAndTheButtonsFollow)
{
    addProcessor (1);
    auto& p = addProcessor (2);
    auto& e = open (p);
    e.timerCallback();
    p.undoStack.clear();
    EXPECT_FALSE (e.undoButton->isEnabled());
    EXPECT_FALSE (e.redoButton->isEnabled());

    setParameter (p, "offset_A", 2.0f);
    click (e.abToggle);   // to B: B is still the state the processor started with
    e.timerCallback();
    EXPECT_EQ (p.currentAB.load(), 1);
    EXPECT_NEAR (p.getSectionOffset (0), 0.0f, 1e-4);
    EXPECT_TRUE (e.abToggle.getToggleState());
    EXPECT_EQ (e.abCopyButton.getButtonText(), "B > A");
    EXPECT_TRUE (e.undoButton->isEnabled());
    EXPECT_FALSE (e.redoButton->isEnabled());

    click (*e.undoButton);   // the step of the A/B switch: back to A's values
    e.timerCallback();
    EXPECT_NEAR (p.getSectionOffset (0), 2.0f, 1e-4);
    EXPECT_TRUE (e.redoButton->isEnabled());

    click (*e.redoButton);
    e.timerCallback();
    EXPECT_NEAR (p.getSectionOffset (0), 0.0f, 1e-4);
    click (*e.undoButton);
    e.timerCallback();
    EXPECT_NEAR (p.getSectionOffset (0), 2.0f, 1e-4) << "undo right after a redo restores the state before the redo";

    // The slot stays B (undo does not restore A/B), so the next toggle click goes to A.
    EXPECT_EQ (p.currentAB.load(), 1);
    click (e.abToggle);
    e.timerCallback();
    EXPECT_EQ (p.currentAB.load(), 0);
    EXPECT_FALSE (e.abToggle.getToggleState());
    EXPECT_EQ (e.abCopyButton.getButtonText(), "A > B");
}
