// The custom weighting panel over a real plug-in window, with real linked
// processors (one Inst, two Vocals) running audio: opening and reopening, the
// Apply decision with and without results and running measurements, the
// weighting reaching every instance's meter, control availability per filter
// type and typed values, all through the panel's own widgets.

#include "../processor/MeasurementHarness.h"
#include "../ui/UiTestUtils.h"
#include "../ui2/Ui2TestSupport.h"

#include "dsp/CustomWeightingDesigner.h"
#include "editor/PluginEditor.h"
#include "settings/AppSettings.h"
#include "weighting_editor/CustomWeightedRmsEditor.h"

#include <cstdlib>

using namespace qvn::test;
using namespace qvn::uitest;

namespace
{
const bool panelTestHome = []
{
    const auto home = juce::File::getSpecialLocation (juce::File::tempDirectory)
                          .getChildFile ("qvn_cwrms_test_home_" + juce::String (juce::Time::currentTimeMillis()));
    home.createDirectory();
    ::setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
    return true;
}();

CustomWeightedRmsSettings appliedOf (QuorvaneProcessor& p)
{
    const std::lock_guard<std::mutex> lock (p.settingsMutex);
    return p.customSettings;
}

/** A click as the window delivers it: the component under the point (so a
    control that ignores clicks lets them through), pressed and released; a
    double click sends the second press and release and the double click.
    (Without a native window a label never sees the release inside itself, so
    value fields are opened with a double click, which they also take.) */
juce::Component* clickAt (juce::Component& root, juce::Point<int> pointInRoot, juce::ModifierKeys mods = kLeft,
                          bool doubleClick = false)
{
    auto* target = root.getComponentAt (pointInRoot);
    if (target == nullptr)
        return nullptr;
    const auto local = target->getLocalPoint (&root, pointInRoot).toFloat();
    const auto now = juce::Time::getCurrentTime();
    auto event = [&] (juce::ModifierKeys m)
    {
        return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), local, m,
                                 juce::MouseInputSource::defaultPressure, 0.0f, 0.0f, 0.0f, 0.0f,
                                 target, target, now, local, now, 1, false);
    };
    juce::Component::SafePointer<juce::Component> alive (target);
    target->mouseDown (event (mods));
    if (alive != nullptr)
        target->mouseUp (event (mods.withoutMouseButtons()));
    if (doubleClick && alive != nullptr)
    {
        target->mouseDown (event (mods));
        if (alive != nullptr)
            target->mouseUp (event (mods.withoutMouseButtons()));
        if (alive != nullptr)
            target->mouseDoubleClick (event (mods));
    }
    return target;
}

juce::Point<int> centreIn (juce::Component& root, juce::Component& c)
{
    return root.getLocalPoint (&c, c.getLocalBounds().getCentre());
}

void pressKey (juce::Component& c, int keyCode, juce::ModifierKeys mods = {}, juce::juce_wchar ch = 0)
{
    c.keyPressed (juce::KeyPress (keyCode, mods, ch));
}

class PanelTest : public ::testing::Test
{
public:
    PanelTest()
    {
        auto& settings = AppSettings::get();
        settings.setUpdateChecksEnabled (false);
        settings.setEditorZoom (1.0);
        settings.setSidebarVisible (true);

        for (auto* p : s.all())
            p->tooltipLang = 0;

        // Custom Weighted RMS mode on every linked instance, as the mode menu sets it.
        own().applyMeasurementSettings (2, 3.0f);
        LinkRegistry::get().broadcastMeasurementSettings (&own(), 2, 3.0f);
        s.run (3);

        editor = std::make_unique<QuorvaneEditor> (own());
        editor->setVisible (true);   // as a host shows it; hit testing needs it
        editor->timerCallback();
    }

    ~PanelTest() override
    {
        editor.reset();
    }

    QuorvaneProcessor& own() { return s.vocal (0); }

    CustomWeightedRmsEditor& open()
    {
        return CustomWeightedRmsEditor::openOver (*editor, editor->customWeightingPanel, own());
    }

    void click (juce::Component& c)
    {
        ASSERT_NE (clickAt (*editor, centreIn (*editor, c)), nullptr);
    }

    /** Clicks into a value field, types the text key by key and presses Return. */
    void typeInto (CustomWeightedRmsEditor::KnobCell& cell, const juce::String& text)
    {
        auto* hit = clickAt (*editor, centreIn (*editor, cell.valueField), kLeft, true);
        ASSERT_EQ (hit, &cell.valueField);
        auto* ed = cell.valueField.getCurrentTextEditor();
        ASSERT_NE (ed, nullptr);
        ed->selectAll();
        pressKey (*ed, juce::KeyPress::deleteKey);
        for (auto c : text)
            pressKey (*ed, (int) c, {}, c);
        pressKey (*ed, juce::KeyPress::returnKey);
        qvn::ui2test::pump();   // the text editor reports Return through a queued message
        ASSERT_EQ (cell.valueField.getCurrentTextEditor(), nullptr);
    }

    /** A section measured with Custom RMS frame lists on one Vocal. */
    void leaveCustomResults (QuorvaneProcessor& v)
    {
        s.startAndRun (v, 0, 1.0);
        s.stopAndSettle (v);
        ASSERT_TRUE (v.hasAnyCustomMeasurementResults());
    }

    juce::ScopedJuceInitialiser_GUI gui;
    Session s { 2 };
    std::unique_ptr<QuorvaneEditor> editor;
};

CustomWeightedRmsSettings bellAt1k (double gainDb)
{
    auto w = CustomWeightedRmsSettings {};
    w.slots[3].enabled = true;
    w.slots[3].gainDb = gainDb;
    return w;
}
} // namespace

//==============================================================================
TEST_F (PanelTest, OpensOverTheWholeWindowOnceAndReopensOnTheAppliedWeighting)
{
    EXPECT_EQ (editor->customWeightingPanel, nullptr) << "nothing before the first opening";

    auto& panel = open();
    auto* first = &panel;
    EXPECT_EQ (panel.getParentComponent(), editor.get());
    EXPECT_EQ (panel.getBounds(), editor->getLocalBounds());
    EXPECT_TRUE (panel.isVisible());
    EXPECT_EQ (editor->getIndexOfChildComponent (&panel), editor->getNumChildComponents() - 1) << "on top";
    EXPECT_TRUE (panel.workingCopy == appliedOf (own()));
    EXPECT_EQ (panel.presetSelection, 1) << "the default weighting is the Standard K layout";
    EXPECT_TRUE (panel.standardKChip.getToggleState());
    EXPECT_FALSE (panel.deleteButton.isEnabled());
    EXPECT_EQ (panel.typeButtons[0].getButtonText(), "High Pass");
    EXPECT_EQ (panel.typeButtons[5].getTooltip(), qvn::uiText::cwrmsTooltips (0).flatTilt);
    EXPECT_EQ (panel.applyButton.getTooltip(), qvn::uiText::cwrmsTooltips (0).apply);

    // Edit, change the range, Cancel through the button, then reopen in Japanese.
    click (*panel.bandRows[3]);
    click (panel.bandRows[3]->powerSwitch);
    EXPECT_TRUE (panel.workingCopy.slots[3].enabled);
    EXPECT_EQ (panel.presetSelection, 0);
    panel.displayRangeDb = 12.0f;
    click (panel.cancelButton);
    EXPECT_FALSE (panel.isVisible());
    EXPECT_TRUE (appliedOf (own()) == CustomWeightedRmsSettings {}) << "Cancel applies nothing";

    own().tooltipLang = 1;
    auto& again = open();
    EXPECT_EQ (&again, first) << "created once, then shown and hidden";
    EXPECT_FALSE (again.workingCopy.slots[3].enabled);
    EXPECT_EQ (again.selectedBand, 0);
    EXPECT_EQ (again.dragBand, -1);
    EXPECT_EQ (again.displayRangeDb, 12.0f) << "the graph's range carries over";
    EXPECT_EQ (again.typeButtons[2].getButtonText(), juce::String::fromUTF8 ("ベル"));
    EXPECT_EQ (again.applyButton.getButtonText(), juce::String::fromUTF8 ("適用"));
    EXPECT_EQ (again.freqCell.title, juce::String::fromUTF8 ("周波数"));

    // Escape with a modifier is not the panel's; plain Escape closes it.
    EXPECT_FALSE (again.keyPressed (juce::KeyPress (juce::KeyPress::escapeKey, juce::ModifierKeys::shiftModifier, 0)));
    EXPECT_TRUE (again.isVisible());
    EXPECT_TRUE (again.keyPressed (juce::KeyPress (juce::KeyPress::escapeKey)));
    EXPECT_FALSE (again.isVisible());

    // The window's layout keeps a visible panel over its whole area.
    open();
    AppSettings::get().setZoomLinked (false);
    editor->applyUserZoomLocal (1.5f);
    editor->resized();
    EXPECT_EQ (again.getBounds(), editor->getLocalBounds());
}

//==============================================================================
// The decision table of Apply with the linked instances in each state.
TEST_F (PanelTest, ApplyDecisionTable)
{
    const juce::String cleared = "Existing Custom RMS results will be cleared.";
    const juce::String stops = "A measurement in progress will stop.";
    const juce::String undoable = "This can be undone.";

    enum Answer { none, confirmButton, cancelButton, returnKey, escapeKey };
    struct Row
    {
        const char* what;
        std::function<void (PanelTest&)> prepare;
        bool changeBack;
        juce::String message;   // empty: no card
        Answer answer;
        bool applied;
    };

    const Row table[] = {
        { "unchanged: just closes", {}, false, {}, none, false },
        { "changed and changed back: unchanged", {}, true, {}, none, false },
        { "no results, nothing running: applies at once", {}, false, {}, none, true },
        { "results on an instance without a role do not count",
          [] (PanelTest& t)
          {
              t.leaveCustomResults (t.s.vocal (1));
              setRole (t.s.vocal (1), 0);
          }, false, {}, none, true },
        { "results on the other Vocal, cancelled",
          [] (PanelTest& t) { t.leaveCustomResults (t.s.vocal (1)); }, false, cleared + "\n" + undoable, cancelButton, false },
        { "results on the own instance, confirmed",
          [] (PanelTest& t) { t.leaveCustomResults (t.own()); }, false, cleared + "\n" + undoable, confirmButton, true },
        { "a measurement running, Return confirms",
          [] (PanelTest& t) { t.s.startAndRun (t.s.vocal (1), 0, 0.3); }, false, stops + "\n" + undoable, returnKey, true },
        { "results and a measurement, Escape closes only the card",
          [] (PanelTest& t)
          {
              t.leaveCustomResults (t.s.vocal (1));
              t.s.startAndRun (t.own(), 0, 0.3);
          }, false, cleared + "\n" + stops + "\n" + undoable, escapeKey, false },
    };

    double gain = 1.0;
    for (const auto& row : table)
    {
        SCOPED_TRACE (row.what);
        if (row.prepare)
            row.prepare (*this);

        auto& panel = open();
        const auto before = appliedOf (own());
        const auto undoDepth = own().undoStack.size();
        const bool unchanged = juce::String (row.what).startsWith ("unchanged");

        if (! unchanged)
        {
            // A Bell on band 4 through the real widgets: select, switch on, type the gain.
            click (*panel.bandRows[3]);
            const bool wasOn = panel.workingCopy.slots[3].enabled;
            if (! wasOn)
                click (panel.bandRows[3]->powerSwitch);
            typeInto (panel.gainCell, juce::String (gain, 1));
            ASSERT_EQ (panel.workingCopy.slots[3].gainDb, gain);
            if (row.changeBack)
            {
                typeInto (panel.gainCell, juce::String (before.slots[3].gainDb, 1));
                if (! wasOn)
                    click (panel.bandRows[3]->powerSwitch);
                ASSERT_TRUE (panel.workingCopy == before);
            }
        }
        const auto wanted = panel.workingCopy;
        const bool wasMeasuring = LinkRegistry::get().anyMeasurementActive();

        click (panel.applyButton);

        EXPECT_EQ (panel.confirmDialog.isVisible(), row.message.isNotEmpty());
        if (row.message.isNotEmpty())
        {
            EXPECT_TRUE (panel.isVisible()) << "the panel stays behind the card";
            EXPECT_EQ (panel.confirmDialog.titleLabel.getText(), "Apply Custom RMS settings?");
            EXPECT_EQ (panel.confirmDialog.messageLabel.getText(), row.message);
            EXPECT_EQ (panel.confirmDialog.confirmButton.getButtonText(), "Apply");
            EXPECT_EQ (panel.confirmDialog.cancelButton.getButtonText(), "Cancel");
            EXPECT_EQ (panel.confirmDialog.getBounds(), panel.getLocalBounds());
            EXPECT_TRUE (appliedOf (own()) == before) << "nothing applied before the answer";

            switch (row.answer)
            {
                case confirmButton: click (panel.confirmDialog.confirmButton); break;
                case cancelButton:  click (panel.confirmDialog.cancelButton); break;
                case returnKey:     pressKey (panel.confirmDialog, juce::KeyPress::returnKey); break;
                case escapeKey:     pressKey (panel.confirmDialog, juce::KeyPress::escapeKey); break;
                case none:          break;
            }
            qvn::ui2test::pump();   // a key press clicks the button through a queued message
            EXPECT_FALSE (panel.confirmDialog.isVisible());
        }

        EXPECT_EQ (panel.isVisible(), ! row.applied && row.message.isNotEmpty()) << "closed unless the card was refused";
        for (auto* p : s.all())
            if (p->getRole() != 0)
                EXPECT_TRUE (appliedOf (*p) == (row.applied ? wanted : before)) << "every linked instance";
        EXPECT_EQ (own().undoStack.size(), undoDepth + (row.applied ? 1u : 0u));

        if (row.applied)
        {
            EXPECT_FALSE (LinkRegistry::get().anyMeasurementActive()) << "a running measurement is stopped";
            for (auto* p : s.all())
                if (p->getRole() != 0)
                    EXPECT_FALSE (p->hasAnyCustomMeasurementResults()) << "old results are cleared";
        }
        else if (! row.message.isEmpty())
        {
            EXPECT_TRUE (panel.workingCopy == wanted) << "a refused card keeps the working copy";
            EXPECT_EQ (LinkRegistry::get().anyMeasurementActive(), wasMeasuring);
        }

        // Back to a quiet session for the next row.
        panel.setVisible (false);
        LinkRegistry::get().cancelMeasurementsForSettingsChange();
        if (s.vocal (1).getRole() != 2)
            setRole (s.vocal (1), 2);
        s.run (3);
        for (auto* p : s.all())
            for (int i = 0; i < 16; ++i)
                p->resetSectionMeasurementNoUndo (i);
        for (auto* p : s.all())
            ASSERT_FALSE (p->hasAnyCustomMeasurementResults());
        ASSERT_FALSE (LinkRegistry::get().anyMeasurementActive());
        gain += 1.0;
    }
}

//==============================================================================
// After Apply the level of a 1 kHz tone on every instance moves by exactly the
// change of the weighting's response at 1 kHz, as the designer computes it.
TEST_F (PanelTest, AfterApplyEveryInstanceMeasuresWithTheNewWeighting)
{
    s.run (s.blocksFor (4.0));
    std::vector<float> before;
    for (auto* p : s.all())
        before.push_back (p->ownSlot->liveCustomRms.load());

    auto& panel = open();
    // Band 2: a Low Shelf at 2 kHz, +6 dB; band 6: a 24 dB/oct Low Pass at 1.5 kHz.
    click (*panel.bandRows[1]);
    click (panel.bandRows[1]->powerSwitch);
    typeInto (panel.freqCell, "2000");
    typeInto (panel.gainCell, "6");
    click (*panel.bandRows[5]);
    click (panel.bandRows[5]->powerSwitch);
    typeInto (panel.freqCell, "1500 Hz");
    typeInto (panel.slopeCell, "24");
    const auto wanted = panel.workingCopy;
    click (panel.applyButton);
    ASSERT_FALSE (panel.isVisible());

    const double expected = CustomWeightingDesigner::magnitudeDb (CustomWeightingDesigner::design (wanted, 48000.0), 1000.0)
                          - CustomWeightingDesigner::magnitudeDb (CustomWeightingDesigner::design ({}, 48000.0), 1000.0);
    ASSERT_GT (std::abs (expected), 1.0) << "the new weighting must change the tone's level";
    RecordProperty ("responseChangeAt1kHzDb", std::to_string (expected));

    s.run (s.blocksFor (4.0));
    const auto all = s.all();
    for (size_t i = 0; i < all.size(); ++i)
    {
        SCOPED_TRACE (i == 0 ? "Inst" : "Vocal " + std::to_string (i));
        EXPECT_TRUE (appliedOf (*all[i]) == wanted);
        const auto delta = all[i]->ownSlot->liveCustomRms.load() - before[i];
        EXPECT_NEAR (delta, expected, 0.01);
        RecordProperty ("levelChangeDb" + std::to_string (i), std::to_string (delta));
    }

    // A section measured now on the Vocal uses it on both sides: equal tones
    // at -26 and -20 dB give a 6 dB gain whatever the weighting.
    s.startAndRun (own(), 0, 2.0);
    s.stopAndSettle (own());
    ASSERT_TRUE (own().sections[0].frozen.load());
    EXPECT_NEAR (own().sections[0].gainDb.load(), 6.0f, 0.1f);
}

//==============================================================================
// Which knobs and value fields work for each filter type, switched through the
// type buttons and the band's power switch.
TEST_F (PanelTest, ControlAvailabilityPerFilterType)
{
    auto& panel = open();
    click (*panel.bandRows[2]);
    ASSERT_EQ (panel.selectedBand, 2);
    ASSERT_FALSE (panel.workingCopy.slots[2].enabled);

    auto inUse = [&]
    {
        juce::String s;
        for (auto* cell : { &panel.freqCell, &panel.gainCell, &panel.qCell, &panel.slopeCell })
        {
            const bool use = cell->isInUse();
            EXPECT_EQ (cell->knob.isEnabled(), use);
            EXPECT_EQ (cell->valueField.isEnabled(), use);
            // A dimmed field lets a click through to the cell: it cannot be edited.
            const bool hit = panel.getComponentAt (panel.getLocalPoint (&cell->valueField, juce::Point<int> (5, 5)))
                             == &cell->valueField;
            EXPECT_EQ (hit, use);
            s << (use ? "1" : "0");
        }
        return s;
    };

    // Bypassed: every type button and every knob is off.
    EXPECT_EQ (inUse(), "0000");
    for (auto& b : panel.typeButtons)
        EXPECT_FALSE (b.isEnabled());
    EXPECT_EQ ((juce::int64) panel.typeButtons[0].getProperties()["bandColour"], (juce::int64) 0xfff5d54a);
    EXPECT_EQ ((juce::int64) panel.freqCell.knob.getProperties()["bandColour"], (juce::int64) 0xfff5d54a);

    // A click on the dimmed field does not open it.
    clickAt (*editor, centreIn (*editor, panel.gainCell.valueField), kLeft, true);
    EXPECT_EQ (panel.gainCell.valueField.getCurrentTextEditor(), nullptr);

    click (panel.bandRows[2]->powerSwitch);
    EXPECT_EQ (panel.selectedBand, 2) << "the switch does not select";
    for (auto& b : panel.typeButtons)
        EXPECT_TRUE (b.isEnabled());

    const struct { int type; const char* freqGainQSlope; } table[] = {
        { 0, "1011" },   // High Pass
        { 1, "1110" },   // Low Shelf
        { 2, "1110" },   // Bell
        { 3, "1110" },   // High Shelf
        { 4, "1011" },   // Low Pass
        { 5, "1100" },   // Flat Tilt
    };
    for (const auto& row : table)
    {
        SCOPED_TRACE (row.type);
        click (panel.typeButtons[(size_t) row.type]);
        EXPECT_EQ (panel.workingCopy.slots[2].type, row.type);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ (panel.typeButtons[(size_t) i].getToggleState(), i == row.type);
        EXPECT_EQ (inUse(), row.freqGainQSlope);
    }

    // Bypassing the band again dims everything; the type stays.
    click (panel.bandRows[2]->powerSwitch);
    EXPECT_EQ (inUse(), "0000");
    EXPECT_EQ (panel.workingCopy.slots[2].type, 5);

    // Selecting another band shows its own state and colour.
    click (*panel.bandRows[0]);
    EXPECT_EQ (panel.selectedBand, 0);
    EXPECT_EQ (inUse(), "1011") << "band 1 is the K-weighting high pass, on";
    EXPECT_EQ ((juce::int64) panel.typeButtons[3].getProperties()["bandColour"], (juce::int64) 0xff7cf2c8);

    // Any edit unlights a lit preset chip, also a click on the lit type button.
    open();
    ASSERT_EQ (panel.presetSelection, 1);
    click (panel.typeButtons[0]);
    EXPECT_EQ (panel.workingCopy.slots[0].type, 0);
    EXPECT_EQ (panel.presetSelection, 0);
    EXPECT_FALSE (panel.standardKChip.getToggleState());
}

//==============================================================================
// Typed values: accepted, limited to the knob's range, or read as 0.
TEST_F (PanelTest, TypedValueTable)
{
    auto& panel = open();
    // Band 4 (a Bell) switched on for FREQ, GAIN and Q; band 1 (High Pass) for SLOPE.
    click (*panel.bandRows[3]);
    click (panel.bandRows[3]->powerSwitch);

    using Field = double CustomSlotSettings::*;
    const struct { int band; const char* cell; const char* typed; const char* shown; double stored; } table[] = {
        { 3, "freq",  "1000",       "1000",  1000.0 },
        { 3, "freq",  "632.4",      "632",   632.0 },     // whole hertz
        { 3, "freq",  "1.5 kHz",    "20",    20.0 },      // only the number counts, limited
        { 3, "freq",  "1e3",        "20",    20.0 },      // reads 13
        { 3, "freq",  "25000",      "20000", 20000.0 },
        { 3, "freq",  "nan",        "20",    20.0 },      // nothing readable: 0, limited
        { 3, "freq",  "inf",        "20",    20.0 },
        { 3, "freq",  "",           "20",    20.0 },
        { 3, "gain",  "-3dB",       "-3.0",  -3.0 },
        { 3, "gain",  "+4.2",       "4.2",   4.2 },
        { 3, "gain",  "25",         "24.0",  24.0 },
        { 3, "gain",  "-99 dB",     "-24.0", -24.0 },
        { 3, "gain",  "abc",        "0.0",   0.0 },
        { 3, "gain",  "-inf",       "0.0",   0.0 },
        { 3, "gain",  "1,5",        "15.0",  15.0 },      // a comma is not a decimal point
        { 3, "q",     "abc",        "0.10",  0.1 },
        { 3, "q",     "0.7071",     "0.71",  0.71 },
        { 3, "q",     "12",         "10.00", 10.0 },
        { 0, "slope", "24 dB/oct",  "24.0",  24.0 },
        { 0, "slope", "-5",         "0.0",   0.0 },
        { 0, "slope", "100",        "96.0",  96.0 },
        { 0, "slope", "NaN",        "0.0",   0.0 },
    };

    for (const auto& row : table)
    {
        SCOPED_TRACE (juce::String (row.cell) + " <- \"" + row.typed + "\"");
        if (panel.selectedBand != row.band)
            click (*panel.bandRows[(size_t) row.band]);

        const juce::String name (row.cell);
        auto& cell = name == "freq" ? panel.freqCell : name == "gain" ? panel.gainCell : name == "q" ? panel.qCell : panel.slopeCell;
        const Field field = name == "freq" ? &CustomSlotSettings::frequencyHz
                          : name == "gain" ? &CustomSlotSettings::gainDb
                          : name == "q"    ? &CustomSlotSettings::q
                                           : &CustomSlotSettings::slopeDbPerOct;
        // Start from a value the row does not produce, so every commit is an edit.
        cell.setValue (cell.knob.getMinimum() == row.stored ? cell.knob.getMaximum() : cell.knob.getMinimum());
        typeInto (cell, row.typed);

        EXPECT_EQ (cell.valueField.getText(), row.shown);
        EXPECT_NEAR (panel.workingCopy.slots[(size_t) row.band].*field, row.stored, 1.0e-9);
        EXPECT_TRUE (std::isfinite (panel.workingCopy.slots[(size_t) row.band].*field));
    }

    // Text formats: whole hertz, one decimal for dB, two for Q.
    EXPECT_EQ (panel.freqCell.textFor (38.5), "39");
    EXPECT_EQ (panel.freqCell.textFor (-0.5), "-1");
    EXPECT_EQ (panel.gainCell.textFor (-3.0), "-3.0");
    EXPECT_EQ (panel.qCell.textFor (0.7071), "0.71");
}

//==============================================================================
// The knob's mouse wheel while the value field is open leaves the typed text;
// the commit then sets the knob to the typed value.
TEST_F (PanelTest, KnobMovesWhileTypingKeepTheTypedText)
{
    auto& panel = open();
    click (*panel.bandRows[3]);
    click (panel.bandRows[3]->powerSwitch);
    clickAt (*editor, centreIn (*editor, panel.gainCell.valueField), kLeft, true);
    auto* ed = panel.gainCell.valueField.getCurrentTextEditor();
    ASSERT_NE (ed, nullptr);
    ed->setText ("5", false);

    juce::MouseWheelDetails wheel {};
    wheel.deltaY = 0.5f;
    MouseSim knobMouse (panel.gainCell.knob);
    panel.gainCell.knob.mouseWheelMove (knobMouse.make ({ 10.0f, 10.0f }, {}), wheel);
    EXPECT_NE (panel.gainCell.knob.getValue(), 0.0) << "the wheel moved the knob";
    EXPECT_EQ (ed->getText(), "5");
    EXPECT_EQ (panel.workingCopy.slots[3].gainDb, panel.gainCell.knob.getValue());

    pressKey (*ed, juce::KeyPress::returnKey);
    qvn::ui2test::pump();
    EXPECT_EQ (panel.gainCell.knob.getValue(), 5.0);
    EXPECT_EQ (panel.workingCopy.slots[3].gainDb, 5.0);
    EXPECT_EQ (panel.gainCell.valueField.getText(), "5.0");
}

//==============================================================================
// The panel's looks: fills by state, the band colour property and the
// disabled factor of 0.45 (alpha 0x73 on a fixed colour).
TEST (PanelLooks, FillsByStateBandColourAndDisabledAlpha)
{
    juce::ScopedJuceInitialiser_GUI gui;
    CustomWeightedRmsEditor::TypeButtonLF typeLook;
    CustomWeightedRmsEditor::ChipLF chipLook;
    CustomWeightedRmsEditor::PanelButtonLF applyLook (0), secondaryLook (1), saveLook (2);

    const struct
    {
        const char* what;
        juce::LookAndFeel* look;
        bool toggled, enabled;
        juce::int64 bandColour;   // 0: no property
        juce::uint32 fill;        // ARGB at the inner left edge
    } table[] = {
        { "Save",                       &saveLook,      false, true,  0, 0xff2a322c },
        { "Save disabled",              &saveLook,      false, false, 0, 0x732a322c },
        { "Apply",                      &applyLook,     false, true,  0, 0xff3ecf82 },
        { "Apply disabled",             &applyLook,     false, false, 0, 0x733ecf82 },
        { "Delete: outline only",       &secondaryLook, false, false, 0, 0x00000000 },
        { "chip",                       &chipLook,      false, true,  0, 0xff1b2225 },
        { "chip disabled: the same",    &chipLook,      false, false, 0, 0xff1b2225 },
        { "lit chip",                   &chipLook,      true,  true,  0, 0x1f7cf2c8 },
        { "type button",                &typeLook,      false, true,  0xffe0922f, 0xff2a322c },
        { "type button disabled",       &typeLook,      false, false, 0xffe0922f, 0x732a322c },
        { "lit type button, band 4",    &typeLook,      true,  true,  0xffe0922f, 0x1fe0922f },
        { "lit, bypassed band",         &typeLook,      true,  false, 0xffe0922f, 0x0ee0922f },
        { "lit, no property: accent",   &typeLook,      true,  true,  0, 0x1f7cf2c8 },
    };

    for (const auto& row : table)
    {
        SCOPED_TRACE (row.what);
        juce::TextButton b ("Caption");
        b.setLookAndFeel (row.look);
        b.setBounds (0, 0, 120, 28);
        b.setToggleState (row.toggled, juce::dontSendNotification);
        b.setEnabled (row.enabled);
        if (row.bandColour != 0)
            b.getProperties().set ("bandColour", row.bandColour);

        juce::Image image (juce::Image::ARGB, 120, 28, true);
        {
            juce::Graphics g (image);
            b.paintEntireComponent (g, false);
        }
        const auto px = image.getPixelAt (4, 14);
        const juce::Colour want (row.fill);
        EXPECT_NEAR (px.getAlpha(), want.getAlpha(), 1);
        if (want.getAlpha() > 0)
        {
            // The image stores premultiplied colour: a faint fill keeps its hue only roughly.
            const int tolerance = juce::jmax (3, 2 * 255 / (int) want.getAlpha());
            EXPECT_NEAR (px.getRed(), want.getRed(), tolerance);
            EXPECT_NEAR (px.getGreen(), want.getGreen(), tolerance);
            EXPECT_NEAR (px.getBlue(), want.getBlue(), tolerance);
        }
        b.setLookAndFeel (nullptr);
    }
}

//==============================================================================
// The window closes while the panel shows its card: the pending apply never
// runs and nothing is left behind.
TEST_F (PanelTest, WindowClosesWithTheCardOpen)
{
    leaveCustomResults (own());
    auto& panel = open();
    click (*panel.bandRows[3]);
    click (panel.bandRows[3]->powerSwitch);
    click (panel.applyButton);
    ASSERT_TRUE (panel.confirmDialog.isVisible());

    const auto depth = own().undoStack.size();
    editor.reset();
    qvn::ui2test::pump();
    for (auto* p : s.all())
        EXPECT_TRUE (appliedOf (*p) == CustomWeightedRmsSettings {});
    EXPECT_EQ (own().undoStack.size(), depth);
    EXPECT_TRUE (own().hasAnyCustomMeasurementResults());
}

//==============================================================================
// The panel on its own, over a plain parent component: it covers the parent,
// and a band switched on and applied reaches the linked instances.
TEST_F (PanelTest, WorksStandaloneOverAnyParent)
{
    juce::Component host;
    host.setBounds (0, 0, 1100, 700);
    host.setVisible (true);
    std::unique_ptr<CustomWeightedRmsEditor> holder;

    auto& panel = CustomWeightedRmsEditor::openOver (host, holder, own());
    EXPECT_EQ (panel.getParentComponent(), &host);
    EXPECT_EQ (panel.getBounds(), host.getLocalBounds());
    EXPECT_TRUE (panel.isVisible());

    // Band 6 (Low Pass) on, its slope typed through the field.
    clickAt (host, centreIn (host, *panel.bandRows[5]));
    clickAt (host, centreIn (host, panel.bandRows[5]->powerSwitch));
    auto* hit = clickAt (host, centreIn (host, panel.slopeCell.valueField), kLeft, true);
    ASSERT_EQ (hit, &panel.slopeCell.valueField);
    auto* ed = panel.slopeCell.valueField.getCurrentTextEditor();
    ASSERT_NE (ed, nullptr);
    ed->selectAll();
    for (auto c : juce::String ("36"))
        pressKey (*ed, (int) c, {}, c);
    pressKey (*ed, juce::KeyPress::returnKey);
    qvn::ui2test::pump();
    EXPECT_EQ (panel.workingCopy.slots[5].slopeDbPerOct, 36.0);
    EXPECT_TRUE (panel.workingCopy.slots[5].enabled);

    clickAt (host, centreIn (host, panel.applyButton));
    EXPECT_FALSE (panel.isVisible());
    for (auto* p : s.all())
    {
        EXPECT_TRUE (appliedOf (*p).slots[5].enabled);
        EXPECT_EQ (appliedOf (*p).slots[5].slopeDbPerOct, 36.0);
    }
    holder.reset();
}
