// The window's menus read item by item (text, id, enabled, ticked) and
// answered through their handlers; the Offset Target and display-range popups
// driven through their fields and buttons; the tooltips of every control in
// both languages; the update bell fed by a real HTTP server on 127.0.0.1.

#include "EditorTestSupport.h"

#include "../settings/LoopbackHttpServer.h"
#include "ui/OffsetTargetEditPopup.h"
#include "ui/RangeEditPopup.h"

namespace juce { bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages); }

using qvn::test::EditorFixture;
using qvntest::LoopbackHttpServer;
using Lines = std::vector<juce::String>;

namespace
{
juce::String ja (const char* s) { return juce::String::fromUTF8 (s); }

bool pumpUntil (const std::function<bool()>& done, int timeoutMs)
{
    const auto end = juce::Time::getMillisecondCounterHiRes() + timeoutMs;
    for (;;)
    {
        if (done())
            return true;
        if (juce::Time::getMillisecondCounterHiRes() > end)
            return false;
        if (! juce::dispatchNextMessageOnSystemQueue (true))
            juce::Thread::sleep (2);
    }
}

/** One line per item: "id text [E][T] | right column", headers as "# text",
    separators as "---", sub-menu items indented by two spaces. */
void flatten (const juce::PopupMenu& menu, Lines& out, const juce::String& indent = {})
{
    for (juce::PopupMenu::MenuItemIterator it (menu); it.next();)
    {
        const auto& item = it.getItem();
        if (item.isSeparator)
            out.push_back (indent + "---");
        else if (item.isSectionHeader)
            out.push_back (indent + "# " + item.text);
        else if (item.subMenu != nullptr)
        {
            out.push_back (indent + "> " + item.text);
            flatten (*item.subMenu, out, indent + "  ");
        }
        else
            out.push_back (indent + juce::String (item.itemID) + " " + item.text + (item.isEnabled ? " E" : "")
                           + (item.isTicked ? " T" : "")
                           + (item.shortcutKeyDescription.isNotEmpty() ? " | " + item.shortcutKeyDescription : ""));
    }
}

Lines lines (const juce::PopupMenu& menu)
{
    Lines out;
    flatten (menu, out);
    return out;
}

std::string show (const Lines& l)
{
    std::string s;
    for (auto& x : l)
        s += "\n    " + x.toStdString();
    return s;
}

class EditorMenus : public EditorFixture
{
protected:
    void SetUp() override
    {
        EditorFixture::SetUp();
        auto& user = *AppSettings::get().properties.getUserSettings();
        user.removeValue ("offsetTargets");
        user.saveIfNeeded();
        AppSettings::get().setMeterRange (-36.0f, 0.0f);
        AppSettings::get().setLearnRange (-30.0f, -6.0f);
        launched.clear();
        QuorvaneEditor::browserLauncher() = [this] (const juce::String& url) { launched.add (url); };
    }

    void TearDown() override
    {
        editors.clear();
        pumpUntil ([] { return false; }, 30); // boxes dismissed with their editor go now
        EditorFixture::TearDown();
    }

    template <typename PopupType>
    PopupType* openPopup (QuorvaneEditor& e)
    {
        if (auto* box = dynamic_cast<juce::CallOutBox*> (e.openCallOut.getComponent()))
            for (auto* child : box->getChildren())
                if (auto* p = dynamic_cast<PopupType*> (child))
                    return p;
        return nullptr;
    }

    static juce::String selection (QuorvaneProcessor& p)
    {
        std::lock_guard<std::mutex> lock (p.partnerMutex);
        return p.offsetTarget;
    }

    static juce::String storedTargets()
    {
        juce::String s;
        for (auto& t : AppSettings::get().offsetTargets())
            s << t.name << " " << juce::String (t.lo, 1) << ".." << juce::String (t.hi, 1) << "; ";
        return s.trimEnd();
    }

    juce::StringArray launched;
};
} // namespace

//==============================================================================
TEST_F (EditorMenus, MeasurementModeMenuPerModeLanguageAndMeasuringState)
{
    addProcessor (1);
    auto& v = addProcessor (2);
    auto& e = open (v);

    struct Case
    {
        int mode;
        int lang;
        bool measuring;
        Lines expected;
    };
    const juce::String note = "399 The measurement mode and RMS Time cannot be changed while measuring";
    const Case cases[] = {
        { 0, 0, false, { "# Measurement Mode", "300 LUFS E T", "301 K-weighted RMS E", "302 Custom Weighted RMS E" } },
        { 1, 0, false, { "# Measurement Mode", "300 LUFS E", "301 K-weighted RMS E T", "302 Custom Weighted RMS E", "---",
                         "400 RMS Time: 0.5 s ... E" } },
        { 2, 0, false, { "# Measurement Mode", "300 LUFS E", "301 K-weighted RMS E", "302 Custom Weighted RMS E T", "---",
                         "400 RMS Time: 0.5 s ... E", "401 Custom Settings... E" } },
        { 2, 0, true, { "# Measurement Mode", "300 LUFS", "301 K-weighted RMS", "302 Custom Weighted RMS T", note, "---",
                        "400 RMS Time: 0.5 s ...", "401 Custom Settings... E" } },
        { 0, 1, true, { "# " + ja ("測定モード"), "300 LUFS T", "301 K-weighted RMS", "302 Custom Weighted RMS",
                        "399 " + ja ("測定中は測定モードとRMS時間を変更できません") } },
        { 2, 1, false, { "# " + ja ("測定モード"), "300 LUFS E", "301 K-weighted RMS E", "302 Custom Weighted RMS E T", "---",
                         "400 RMS Time: 0.5 s ... E", "401 " + ja ("Custom設定...") + " E" } },
    };

    for (const auto& c : cases)
    {
        v.runHeldOpen = false;
        v.applyMeasurementSettings (c.mode, 0.5f);
        v.tooltipLang = c.lang;
        v.runHeldOpen = c.measuring;
        EXPECT_EQ (lines (e.buildMeasurementModeMenu()), c.expected) << "mode " << c.mode << " lang " << c.lang
                                                                     << show (lines (e.buildMeasurementModeMenu()));
    }
    v.runHeldOpen = false;

    v.applyMeasurementSettings (1, 10.0f);
    EXPECT_EQ (lines (e.buildMeasurementModeMenu()).back(), "400 RMS Time: 10.0 s ... E");
}

TEST_F (EditorMenus, MeasurementModeResultReachesLinkedInstancesAndIsRefusedWhileMeasuring)
{
    auto& inst = addProcessor (1);
    auto& v = addProcessor (2);
    auto& e = open (v);
    v.applyMeasurementSettings (0, 3.0f);
    LinkRegistry::get().broadcastMeasurementSettings (&v, 0, 3.0f);

    e.handleMeasurementModeMenuResult (301);
    EXPECT_EQ (v.measMode.load(), 1);
    EXPECT_EQ (inst.measMode.load(), 1) << "the linked Inst follows";
    EXPECT_EQ (e.railModeButton.getButtonText(), "K-weighted RMS");
    EXPECT_EQ (e.vocalLufsCaption.getText(), "VOCAL K-RMS");

    // A measurement that started after the menu opened: silently refused.
    inst.runHeldOpen = true;
    e.handleMeasurementModeMenuResult (302);
    EXPECT_EQ (v.measMode.load(), 1);
    EXPECT_EQ (inst.measMode.load(), 1);
    inst.runHeldOpen = false;

    // The current mode again touches nobody.
    inst.measMode = 2;
    e.handleMeasurementModeMenuResult (301);
    EXPECT_EQ (inst.measMode.load(), 2);
    inst.measMode = 1;

    e.handleMeasurementModeMenuResult (302);
    EXPECT_EQ (e.railModeButton.getButtonText(), "Custom RMS");
    EXPECT_EQ (e.columnCaptions[1].getText(), "Inst Custom RMS");

    // The panel's fourteen tooltips exist in both languages.
    for (int lang : { 0, 1 })
    {
        const auto t = qvn::uiText::cwrmsTooltips (lang);
        for (auto* s : { &t.graph, &t.filterType, &t.flatTilt, &t.freq, &t.gain, &t.q, &t.slope, &t.bandPower,
                         &t.factoryPreset, &t.presetName, &t.save, &t.deletePreset, &t.apply, &t.cancel })
            EXPECT_TRUE (s->isNotEmpty());
        EXPECT_EQ (t.cancel, lang == 1 ? ja ("何も適用せずに閉じます。") : juce::String ("Close without applying anything."));
    }

    // "Custom Settings..." creates the panel over the whole window once and
    // then shows that same panel again.
    EXPECT_EQ (e.customWeightingPanel, nullptr);
    e.handleMeasurementModeMenuResult (401);
    ASSERT_NE (e.customWeightingPanel, nullptr);
    auto* panel = e.customWeightingPanel.get();
    EXPECT_EQ (panel->getParentComponent(), &e);
    EXPECT_TRUE (panel->isVisible());
    EXPECT_EQ (panel->getBounds(), e.getLocalBounds());
    panel->setVisible (false);
    e.handleMeasurementModeMenuResult (401);
    EXPECT_EQ (e.customWeightingPanel.get(), panel);
    EXPECT_TRUE (panel->isVisible());
    e.handleMeasurementModeMenuResult (0);
}

TEST_F (EditorMenus, MeterMenuPerModeRoleAndOtherVocals)
{
    addProcessor (1);
    auto& v = addProcessor (2);
    auto& unnamed = addProcessor (2);
    auto& lead = addProcessor (2);
    lead.setInstanceName ("Lead");
    juce::ignoreUnused (unnamed);
    auto& e = open (v);
    e.timerCallback();

    v.applyMeasurementSettings (0, 3.0f);
    v.meterDispMode = 1;
    EXPECT_EQ (lines (e.buildMeterModeMenu()),
               (Lines { "1 Momentary LUFS (400 ms) E T", "2 Short-term LUFS (3 s) E", "3 Integrated LUFS E", "---",
                        "200 Set display range... E", "---", "102 Show Vo2 E T", "103 Show Lead E T" }))
        << show (lines (e.buildMeterModeMenu()));

    v.tooltipLang = 1;
    v.hiddenVocalMask = 1 << 1;
    EXPECT_EQ (lines (e.buildMeterModeMenu()),
               (Lines { "1 " + ja ("Momentary LUFS（400ミリ秒）") + " E T", "2 " + ja ("Short-term LUFS（3秒）") + " E",
                        "3 " + ja ("Integrated LUFS（積分値）") + " E", "---", "200 " + ja ("表示範囲を設定...") + " E", "---",
                        "102 Vo2" + ja (" を表示") + " E", "103 Lead" + ja (" を表示") + " E T" }))
        << show (lines (e.buildMeterModeMenu()));
    v.tooltipLang = 0;

    // Show / hide through the handler flips exactly one bit.
    e.handleMeterModeMenuResult (102);
    EXPECT_EQ (v.hiddenVocalMask.load(), 0);
    e.handleMeterModeMenuResult (103);
    EXPECT_EQ (v.hiddenVocalMask.load(), 1 << 2);
    e.handleMeterModeMenuResult (133);
    e.handleMeterModeMenuResult (100);
    EXPECT_EQ (v.hiddenVocalMask.load(), 1 << 2) << "numbers above 32 cannot be hidden";

    // Display modes.
    for (auto [id, mode, caption] : { std::tuple { 3, 2, "Integrated LUFS" }, std::tuple { 2, 0, "Short-term LUFS" },
                                      std::tuple { 1, 1, "Momentary LUFS" } })
    {
        e.handleMeterModeMenuResult (id);
        EXPECT_EQ (v.meterDispMode.load(), mode);
        EXPECT_EQ (e.railModeButton.getButtonText(), caption);
    }

    // RMS modes: the RMS Time item instead of display modes; the note while measuring.
    v.applyMeasurementSettings (1, 3.0f);
    v.runHeldOpen = true;
    EXPECT_EQ (lines (e.buildMeterModeMenu()),
               (Lines { "400 RMS Time: 3.0 s ...", "399 The measurement mode and RMS Time cannot be changed while measuring",
                        "---", "200 Set display range... E", "---", "102 Show Vo2 E T", "103 Show Lead E" }))
        << show (lines (e.buildMeterModeMenu()));
    v.runHeldOpen = false;

    // An Inst instance shows no "Show" items and no second separator.
    auto& instEditor = open (*processors[0]);
    EXPECT_EQ (lines (instEditor.buildMeterModeMenu()).back(), "200 Set display range... E");
}

TEST_F (EditorMenus, RmsTimePopupClearsItsDragFlagsWhenClosedMidDrag)
{
    addProcessor (1);
    auto& v = addProcessor (2);
    auto& e = open (v);
    e.setVisible (true);
    v.applyMeasurementSettings (1, 3.0f);

    e.handleMeterModeMenuResult (400);
    auto* box = dynamic_cast<juce::CallOutBox*> (e.openCallOut.getComponent());
    ASSERT_NE (box, nullptr);
    juce::Slider* slider = nullptr;
    for (auto* c : box->getChildren())
        for (auto* cc : c->getChildren())
            if (auto* s = dynamic_cast<juce::Slider*> (cc))
                slider = s;
    ASSERT_NE (slider, nullptr);
    EXPECT_DOUBLE_EQ (slider->getValue(), 3.0);
    EXPECT_EQ (box->getParentComponent(), &e);
    EXPECT_TRUE (e.getLocalBounds().contains (box->getBounds()));

    // A drag from 3.0 to 5.0 records one undo step.
    const auto undoBefore = v.undoStack.size();
    slider->onDragStart();
    for (double x = 3.1; x <= 5.0001; x += 0.1)
        slider->setValue (x, juce::sendNotificationSync);
    EXPECT_FLOAT_EQ (v.rmsTimeSec.load(), 5.0f);
    EXPECT_EQ (v.undoStack.size(), undoBefore + 1);
    EXPECT_TRUE (v.rmsTimeDragActive.load());

    // The next call-out closes this one while the slider is still held.
    e.handleMeterModeMenuResult (200);
    ASSERT_TRUE (pumpUntil ([&] { return ! v.rmsTimeDragActive.load(); }, 2000));
    EXPECT_FALSE (v.rmsTimeDragUndoPending.load());
    EXPECT_NE (openPopup<RangeEditPopup> (e), nullptr);

    // Refused while measuring: nothing opens.
    auto* before = e.openCallOut.getComponent();
    v.runHeldOpen = true;
    e.showRmsTimePopup (e.railModeButton.getScreenBounds());
    EXPECT_EQ (e.openCallOut.getComponent(), before);
    EXPECT_NE (openPopup<RangeEditPopup> (e), nullptr);
    v.runHeldOpen = false;
}

//==============================================================================
TEST_F (EditorMenus, SettingsMenuInBothLanguagesAndItsResults)
{
    auto& inst = addProcessor (1);
    auto& v = addProcessor (2);
    auto& e = open (v);
    e.applyUserZoom (1.25f);
    AppSettings::get().setLatestSeen ("1.0.0", "https://example.invalid/r");
    v.showTooltips = true;
    v.linkMeasurementToTransport = false;

    EXPECT_EQ (lines (e.buildSettingsMenu()),
               (Lines { "> Tooltip Language", "  11 English E T", "  12 Japanese E", "2 Show tooltips E T",
                        "43 Link measurement to transport E", "3 Open manual E", "> UI Zoom", "  # Current: 125%",
                        "  20 50% E", "  21 75% E", "  22 90% E", "  23 100% E", "  24 110% E", "  25 125% E T", "  26 150% E",
                        "  27 200% E", "  ---", "  41 Apply to all instances E T", "---", "4 Check for updates on launch E",
                        "---", "6 Version info  Version: 1.0.1" }))
        << show (lines (e.buildSettingsMenu()));

    // Japanese, a known newer release, zoom 0.625 (62.5 rounds to even), checks off.
    v.tooltipLang = 1;
    e.applyUserZoom (0.625f);
    AppSettings::get().setLatestSeen ("1.2.0", "https://example.invalid/r");
    AppSettings::get().setUpdateChecksEnabled (false);
    v.showTooltips = false;
    EXPECT_EQ (lines (e.buildSettingsMenu()),
               (Lines { "> " + ja ("ツールチップ言語"), "  11 English E", "  12 Japanese E T", "2 " + ja ("ツールチップを表示") + " E",
                        "43 " + ja ("測定を再生・停止に連動") + " E", "3 " + ja ("マニュアルを開く") + " E", "> " + ja ("表示サイズ"),
                        "  # " + ja ("現在") + ": 62%", "  20 50% E", "  21 75% E", "  22 90% E", "  23 100% E", "  24 110% E",
                        "  25 125% E", "  26 150% E", "  27 200% E", "  ---", "  41 " + ja ("全インスタンスに反映") + " E T", "---",
                        "8 " + ja ("リリースページを開く") + " E", "4 " + ja ("起動時に更新を確認") + " E", "---",
                        "6 " + ja ("バージョン情報  Version：1.0.1") }))
        << show (lines (e.buildSettingsMenu()));

    // Language: processor, header toggles and tooltips follow.
    e.handleSettingsMenuResult (11);
    EXPECT_EQ (v.tooltipLang.load(), 0);
    EXPECT_TRUE (e.englishToggle.getToggleState());
    EXPECT_FALSE (e.japaneseToggle.getToggleState());
    EXPECT_TRUE (e.settingsButton.getTooltip().startsWith ("Open the settings menu"));

    // Tooltips on and off: the window exists exactly while they are shown.
    e.handleSettingsMenuResult (2);
    EXPECT_TRUE (v.showTooltips.load());
    ASSERT_NE (e.tooltipWindow, nullptr);
    EXPECT_EQ (e.tooltipWindow->getParentComponent(), &e);
    e.handleSettingsMenuResult (2);
    EXPECT_EQ (e.tooltipWindow, nullptr);

    // Transport link: switching it off drops the starts waiting for playback everywhere.
    e.handleSettingsMenuResult (43);
    EXPECT_TRUE (v.linkMeasurementToTransport.load());
    EXPECT_TRUE (inst.linkMeasurementToTransport.load());
    EXPECT_TRUE (AppSettings::get().linkMeasurementToTransport());
    inst.armedSectionStart = true;
    inst.deferredSectionIndex = 3;
    inst.armedInstStart = true;
    inst.deferredSectionStart = true;
    inst.deferredInstStart = true;
    e.handleSettingsMenuResult (43);
    EXPECT_FALSE (inst.linkMeasurementToTransport.load());
    EXPECT_FALSE (AppSettings::get().linkMeasurementToTransport());
    EXPECT_FALSE (inst.armedSectionStart.load());
    EXPECT_EQ (inst.deferredSectionIndex.load(), -1);
    EXPECT_FALSE (inst.armedInstStart.load() || inst.deferredSectionStart.load() || inst.deferredInstStart.load());

    // Zoom presets and "Apply to all instances".
    auto& other = open (inst);
    e.handleSettingsMenuResult (26);
    EXPECT_FLOAT_EQ (e.userZoom, 1.5f);
    EXPECT_FLOAT_EQ (other.userZoom, 1.5f);
    e.handleSettingsMenuResult (41);
    EXPECT_FALSE (AppSettings::get().zoomLinked());
    e.handleSettingsMenuResult (20);
    EXPECT_FLOAT_EQ (e.userZoom, 0.5f);
    EXPECT_FLOAT_EQ (other.userZoom, 1.5f) << "unlinked: the other window keeps its zoom";
    e.handleSettingsMenuResult (41);
    EXPECT_TRUE (AppSettings::get().zoomLinked());
    EXPECT_FLOAT_EQ (other.userZoom, 0.5f) << "linking again carries this window's zoom";

    // Web pages only through the launcher: the manual, and the release page only when openable.
    e.handleSettingsMenuResult (3);
    e.handleSettingsMenuResult (8);
    AppSettings::get().setLatestSeen ("1.2.0", "javascript:alert(1)");
    e.handleSettingsMenuResult (8);
    EXPECT_EQ (launched.joinIntoString ("|"), QuorvaneEditor::manualUrl() + "|https://example.invalid/r");
    EXPECT_TRUE (QuorvaneEditor::manualUrl().startsWith ("https://"));

    // Update checks switch, also from the settings menu; the version line does nothing.
    e.handleSettingsMenuResult (4);
    EXPECT_TRUE (AppSettings::get().updateChecksEnabled());
    e.handleSettingsMenuResult (4);
    EXPECT_FALSE (AppSettings::get().updateChecksEnabled());
    e.handleSettingsMenuResult (6);
    e.applyUserZoom (1.0f);
}

TEST_F (EditorMenus, BellMenuOpensOnlyTheAddressReadWhenItOpened)
{
    addProcessor (1);
    auto& v = addProcessor (2);
    auto& e = open (v);
    AppSettings::get().setUpdateChecksEnabled (true);
    EXPECT_EQ (lines (e.buildBellMenu()),
               (Lines { "1 Open release page E", "---", "3 Check for updates on launch E T" }));
    v.tooltipLang = 1;
    EXPECT_EQ (lines (e.buildBellMenu()),
               (Lines { "1 " + ja ("リリースページを開く") + " E", "---", "3 " + ja ("起動時に更新を確認") + " E T" }));

    e.handleBellMenuResult (1, "https://example.invalid/release");
    e.handleBellMenuResult (1, {});
    EXPECT_EQ (launched.joinIntoString ("|"), "https://example.invalid/release");
    e.handleBellMenuResult (3, {});
    EXPECT_FALSE (AppSettings::get().updateChecksEnabled());
    AppSettings::get().setUpdateChecksEnabled (false);
}

//==============================================================================
namespace
{
/** Types into the open Offset Target popup of an editor and presses OK;
    returns whether the popup accepted (a refusal marks the name field red). */
bool typeAndConfirm (OffsetTargetEditPopup& p, const juce::String& name, const juce::String& lo, const juce::String& hi)
{
    p.nameField.setText (name, false);
    p.minField.setText (lo, false);
    p.maxField.setText (hi, false);
    p.okButton.onClick();
    return p.nameField.findColour (juce::TextEditor::outlineColourId) != juce::Colour (0xffcc4444);
}
} // namespace

TEST_F (EditorMenus, OffsetTargetCommitsThroughThePopup)
{
    addProcessor (1);
    auto& v = addProcessor (2);
    auto& e = open (v);

    struct Case
    {
        const char* label;
        const char* select;   // selection before the edit ("" none)
        int index;            // -1 new
        const char* name;
        const char* lo;
        const char* hi;
        bool accepted;
        const char* stored;   // "" = nothing stored (the key stays absent)
        const char* selectionAfter;
    };
    const Case cases[] = {
        { "first new stores all three", "", -1, "Lead", "-3", "1", true, "Main -2.0..2.0; Harmony -10.0..-5.0; Lead -3.0..1.0;", "Lead" },
        { "None in any case is refused", "", -1, " nOnE ", "-2", "2", false, "", "" },
        { "a used name is refused", "", -1, "harmony", "-2", "2", false, "", "" },
        { "an empty name is refused", "", -1, "   ", "-2", "2", false, "", "" },
        { "own name in another case", "Main", 0, "main", "-2", "2", true, "main -2.0..2.0; Harmony -10.0..-5.0;", "main" },
        { "30 characters are cut to 24", "", -1, "ABCDEFGHIJKLMNOPQRSTUVWXYZ1234", "0", "1", true,
          "Main -2.0..2.0; Harmony -10.0..-5.0; ABCDEFGHIJKLMNOPQRSTUVWX 0.0..1.0;", "ABCDEFGHIJKLMNOPQRSTUVWX" },
        { "reversed ends are ordered", "", 1, "Harmony", "5", "1", true, "Main -2.0..2.0; Harmony 1.0..5.0;", "" },
        { "minimum 12", "", 1, "Harmony", "12", "12", true, "Main -2.0..2.0; Harmony 11.5..12.0;", "" },
        { "far below", "", 1, "Harmony", "-20", "-19", true, "Main -2.0..2.0; Harmony -12.0..-11.5;", "" },
        { "fields without a number keep the initial ends", "", 1, "Harmony", "abc", "", true, "Main -2.0..2.0; Harmony -10.0..-5.0;", "" },
        { "renaming the selected target keeps it selected", "Main", 0, "Lead", "-2", "2", true, "Lead -2.0..2.0; Harmony -10.0..-5.0;", "Lead" },
        { "renaming another target leaves the selection", "Main", 1, "Backing", "-10", "-5", true, "Main -2.0..2.0; Backing -10.0..-5.0;", "Main" },
    };

    for (const auto& c : cases)
    {
        auto& user = *AppSettings::get().properties.getUserSettings();
        user.removeValue ("offsetTargets");
        v.setOffsetTargetName (c.select);
        e.reloadOffsetTargets();

        e.showOffsetTargetEditPopup (c.index, e.offsetTargetButton.getScreenBounds());
        auto* p = openPopup<OffsetTargetEditPopup> (e);
        ASSERT_NE (p, nullptr) << c.label;
        EXPECT_EQ (p->getWidth(), 272);
        EXPECT_EQ (p->getHeight(), p->titlePx() + 166);
        EXPECT_EQ (typeAndConfirm (*p, c.name, c.lo, c.hi), c.accepted) << c.label;
        EXPECT_EQ (user.containsKey ("offsetTargets"), juce::String (c.stored).isNotEmpty()) << c.label;
        if (juce::String (c.stored).isNotEmpty())
            EXPECT_EQ (storedTargets(), juce::String (c.stored)) << c.label;
        EXPECT_EQ (selection (v), juce::String (c.selectionAfter)) << c.label;
        pumpUntil ([] { return false; }, 20);
    }

    // The selection shows on the button and the slider.
    EXPECT_EQ (e.offsetTargetButton.getButtonText(), "Main");
    EXPECT_TRUE (e.offsetTargetButton.getToggleState());
    EXPECT_TRUE (e.offsetSlider.showTargetBand);
    EXPECT_FLOAT_EQ (e.offsetSlider.targetBandLo, -2.0f);
    EXPECT_FLOAT_EQ (e.offsetSlider.targetBandHi, 2.0f);
    EXPECT_TRUE (e.offsetTargetButton.getTooltip().startsWith ("Selected target: Main (-2.0 " + ja ("～") + " +2.0 dB). Pick"));

    // Deleting the selected target clears the selection; deleting every target keeps the list empty.
    e.showOffsetTargetEditPopup (0, {});
    openPopup<OffsetTargetEditPopup> (e)->deleteButton.onClick();
    EXPECT_EQ (selection (v), "");
    EXPECT_EQ (e.offsetTargetButton.getButtonText(), "TARGET");
    EXPECT_FALSE (e.offsetSlider.showTargetBand);
    e.showOffsetTargetEditPopup (0, {});
    openPopup<OffsetTargetEditPopup> (e)->deleteButton.onClick();
    EXPECT_TRUE (AppSettings::get().offsetTargets().empty());
    EXPECT_EQ (lines (e.buildOffsetTargetMenu()),
               (Lines { "# OFFSET TARGET", "1 None E T", "---", "2 New target... E", "3 Edit selected..." }));
    pumpUntil ([] { return false; }, 20);
}

TEST_F (EditorMenus, OffsetTargetMenuAndAStoredSelectionThatNoLongerExists)
{
    addProcessor (1);
    auto& v = addProcessor (2);
    v.setOffsetTargetName ("Gone");
    auto& e = open (v);
    EXPECT_EQ (selection (v), "") << "opening the window clears a selection without target";
    EXPECT_EQ (e.offsetTargetButton.getButtonText(), "TARGET");

    const auto tilde = ja (" ～ ");
    EXPECT_EQ (lines (e.buildOffsetTargetMenu()),
               (Lines { "# OFFSET TARGET", "1 None E T", "100 Main E | -2.0" + tilde + "+2.0 dB",
                        "101 Harmony E | -10.0" + tilde + "-5.0 dB", "---", "2 New target... E", "3 Edit selected..." }));

    e.handleOffsetTargetMenuResult (101);
    EXPECT_EQ (selection (v), "Harmony");
    v.tooltipLang = 1;
    EXPECT_EQ (lines (e.buildOffsetTargetMenu()),
               (Lines { "# OFFSET TARGET", "1 None E", "100 Main E | -2.0" + tilde + "+2.0 dB",
                        "101 Harmony E T | -10.0" + tilde + "-5.0 dB", "---", "2 " + ja ("新しいターゲット...") + " E",
                        "3 \"Harmony\"" + ja (" を編集...") + " E" }));
    v.tooltipLang = 0;
    EXPECT_EQ (lines (e.buildOffsetTargetMenu()).back(), "3 Edit \"Harmony\"... E");

    // A restored state naming another target reaches the button on the next tick.
    v.setOffsetTargetName ("Main");
    e.timerCallback();
    EXPECT_EQ (e.offsetTargetButton.getButtonText(), "Main");
    e.handleOffsetTargetMenuResult (1);
    EXPECT_EQ (selection (v), "");
    EXPECT_EQ (e.offsetTargetButton.getButtonText(), "TARGET");
}

TEST_F (EditorMenus, TwoEditorsEditingTheTargetListInTurn)
{
    auto& instProc = addProcessor (1);
    auto& v = addProcessor (2);

    // Each case: editor 1 opens its popup on a target, editor 2 changes the list
    // meanwhile, then editor 1 confirms or deletes.
    struct Case
    {
        const char* label;
        int firstIndex;                                    // target editor 1 opens (-1 new)
        std::function<void (QuorvaneEditor&)> secondEditor; // what editor 2 does meanwhile
        std::function<bool (OffsetTargetEditPopup&)> firstFinishes;
        const char* stored;
    };
    auto edit2 = [this] (int index, const char* name, const char* lo, const char* hi)
    {
        return [this, index, name, lo, hi] (QuorvaneEditor& e2)
        {
            e2.showOffsetTargetEditPopup (index, {});
            ASSERT_TRUE (typeAndConfirm (*openPopup<OffsetTargetEditPopup> (e2), name, lo, hi));
        };
    };
    auto delete2 = [this] (int index)
    {
        return [this, index] (QuorvaneEditor& e2)
        {
            e2.showOffsetTargetEditPopup (index, {});
            openPopup<OffsetTargetEditPopup> (e2)->deleteButton.onClick();
        };
    };
    auto confirm1 = [] (const char* name, const char* lo, const char* hi)
    { return [=] (OffsetTargetEditPopup& p) { return typeAndConfirm (p, name, lo, hi); }; };
    auto delete1 = [] (OffsetTargetEditPopup& p) { p.deleteButton.onClick(); return true; };

    const Case cases[] = {
        { "a rename made meanwhile is kept", 0, edit2 (1, "Backing", "-9", "-4"), confirm1 ("Lead", "-1", "1"),
          "Lead -1.0..1.0; Backing -9.0..-4.0;" },
        { "a target deleted meanwhile does not come back", 1, delete2 (0), confirm1 ("Harmony 2", "-10", "-5"),
          "Harmony 2 -10.0..-5.0;" },
        { "deleting after the list moved removes the right target", 1, delete2 (0), delete1, "" },
        { "deleting a target already deleted keeps the rest", 0, delete2 (0), delete1, "Harmony -10.0..-5.0;" },
        { "deleting a target renamed meanwhile keeps it", 0, edit2 (0, "Lead", "-2", "2"), delete1,
          "Lead -2.0..2.0; Harmony -10.0..-5.0;" },
        { "a new name taken meanwhile is refused", -1, edit2 (-1, "Lead", "0", "1"),
          [] (OffsetTargetEditPopup& p) { return ! typeAndConfirm (p, "lead", "0", "1"); },
          "Main -2.0..2.0; Harmony -10.0..-5.0; Lead 0.0..1.0;" },
        { "a target edited after it was deleted elsewhere is kept as the user typed it", 0, delete2 (0),
          confirm1 ("Main", "-3", "3"), "Harmony -10.0..-5.0; Main -3.0..3.0;" },
    };

    for (const auto& c : cases)
    {
        AppSettings::get().properties.getUserSettings()->removeValue ("offsetTargets");
        auto& e1 = open (v);
        auto& e2 = open (instProc);

        e1.showOffsetTargetEditPopup (c.firstIndex, {});
        auto* p1 = openPopup<OffsetTargetEditPopup> (e1);
        ASSERT_NE (p1, nullptr) << c.label;
        c.secondEditor (e2);
        EXPECT_TRUE (c.firstFinishes (*p1)) << c.label;
        EXPECT_EQ (storedTargets(), juce::String (c.stored)) << c.label;
        if (! juce::String (c.label).contains ("refused"))
            EXPECT_EQ (AppSettings::get().offsetTargets().size(), e1.offsetTargets.size()) << c.label << ": editor 1 reloaded";

        editors.clear();
        pumpUntil ([] { return false; }, 20);
    }
}

//==============================================================================
TEST_F (EditorMenus, DisplayRangePopupsStoreLimitedRanges)
{
    addProcessor (1);
    auto& v = addProcessor (2);
    auto& e = open (v);
    auto& user = *AppSettings::get().properties.getUserSettings();

    struct Case
    {
        bool meter;
        const char* lo;
        const char* hi;
        bool reset;
        bool ok;
        float storedLo, storedHi;
    };
    const Case cases[] = {
        { true, "-10", "-9", false, true, -10.0f, -7.0f },
        { true, "0", "0", false, true, -3.0f, 0.0f },
        { true, "-200", "-150", false, true, -100.0f, -97.0f },
        { true, "-6", "-30", false, true, -30.0f, -6.0f },
        { true, "-20", "-10", true, true, -36.0f, 0.0f },
        { true, "-20", "-10", true, false, -36.0f, 0.0f },   // cancel: nothing stored (the previous case's defaults)
        { true, "x", "-12", false, true, -36.0f, -12.0f },   // not a number keeps the current value
        { false, "-40", "-20", false, true, -40.0f, -20.0f },
        { false, "-20", "-10", true, true, -30.0f, -6.0f },
    };

    for (const auto& c : cases)
    {
        e.showRangeEditPopup (c.meter, e.railModeButton.getScreenBounds());
        auto* p = openPopup<RangeEditPopup> (e);
        ASSERT_NE (p, nullptr);
        EXPECT_EQ (p->getWidth(), 232);
        EXPECT_EQ (p->getHeight(), p->titlePx() + 134);
        p->minField.setText (c.lo, false);
        p->maxField.setText (c.hi, false);
        if (c.reset)
            p->resetButton.onClick();
        (c.ok ? p->okButton : p->cancelButton).onClick();
        const auto* lo = c.meter ? "meterRangeMin" : "learnRangeMin";
        const auto* hi = c.meter ? "meterRangeMax" : "learnRangeMax";
        EXPECT_FLOAT_EQ ((float) user.getDoubleValue (lo), c.storedLo) << c.lo << " " << c.hi;
        EXPECT_FLOAT_EQ ((float) user.getDoubleValue (hi), c.storedHi) << c.lo << " " << c.hi;
        if (c.meter)
        {
            EXPECT_FLOAT_EQ (e.ownMeter.rangeMinLufs, c.storedLo);
            EXPECT_FLOAT_EQ (e.partnerMeter.rangeMaxLufs, c.storedHi);
        }
        else
        {
            EXPECT_FLOAT_EQ (e.sectionChart.displayMinLufs, c.storedLo);
            EXPECT_FLOAT_EQ (e.instChart.displayMaxLufs, c.storedHi);
        }
        pumpUntil ([] { return false; }, 20);
    }

    // The INST chart's range pill edits the Learn History range of both charts.
    e.instChart.onRangePillClicked();
    auto* p = openPopup<RangeEditPopup> (e);
    ASSERT_NE (p, nullptr);
    p->minField.setText ("-50", false);
    p->maxField.setText ("-10", false);
    p->okButton.onClick();
    EXPECT_FLOAT_EQ (e.sectionChart.displayMinLufs, -50.0f);
    EXPECT_FLOAT_EQ (e.instChart.displayMinLufs, -50.0f);

    // One call-out at a time.
    e.showRangeEditPopup (true, {});
    auto* first = e.openCallOut.getComponent();
    e.showOffsetTargetEditPopup (-1, {});
    pumpUntil ([] { return false; }, 50);
    int boxes = 0;
    for (auto* c : e.getChildren())
        boxes += dynamic_cast<juce::CallOutBox*> (c) != nullptr ? 1 : 0;
    EXPECT_EQ (boxes, 1);
    EXPECT_NE (e.openCallOut.getComponent(), first);
}

//==============================================================================
TEST_F (EditorMenus, EveryControlHasATooltipInBothLanguages)
{
    addProcessor (1);
    auto& v = addProcessor (2);
    auto& e = open (v);

    std::vector<std::pair<juce::String, juce::SettableTooltipClient*>> controls {
        { "offset slider", &e.offsetSlider }, { "offset value", &e.offsetValue }, { "TARGET", &e.offsetTargetButton },
        { "INST tab", &e.instTab }, { "VOCAL tab", &e.vocalTab }, { "MATCH", &e.matchButton },
        { "meter mode", &e.railModeButton }, { "section chart", &e.sectionChart }, { "INST chart", &e.instChart },
        { "INST measure", &e.instMeasureButton }, { "A/B", &e.abToggle }, { "A/B copy", &e.abCopyButton },
        { "Link All", &e.linkAllButton }, { "all bypass", &e.allBypassButton }, { "all reset", &e.allResetButton },
        { "all link", &e.allLinkButton }, { "all lock", &e.allLockButton }, { "settings", &e.settingsButton },
        { "grip", &e.zoomGrip },
    };
    for (auto* b : { e.undoButton.get(), e.redoButton.get(), e.sidebarButton.get() })
        if (b != nullptr)
            controls.push_back ({ b->getName(), b });
    for (int i = 0; i < 16; ++i)
    {
        const auto s = juce::String (i);
        controls.push_back ({ "row " + s, &e.sectionRows[(size_t) i] });
        controls.push_back ({ "reset " + s, &e.rowResetButtons[(size_t) i] });
        controls.push_back ({ "bypass " + s, &e.rowBypassButtons[(size_t) i] });
        controls.push_back ({ "link " + s, &e.rowLinkButtons[(size_t) i] });
        controls.push_back ({ "lock " + s, &e.rowLockButtons[(size_t) i] });
    }

    auto texts = [&] (int lang)
    {
        e.applyTooltips (lang);
        std::vector<juce::String> t;
        for (auto& [name, c] : controls)
            t.push_back (c->getTooltip());
        t.push_back (e.sectionChart.rangePillTooltip);
        t.push_back (e.instChart.rangePillTooltip);
        return t;
    };
    const auto en = texts (0);
    const auto jp = texts (1);
    EXPECT_EQ (texts (2), en) << "any language other than 1 is English";

    auto hasWide = [] (const juce::String& s)
    {
        for (auto p = s.getCharPointer(); ! p.isEmpty(); ++p)
            if (*p >= 0x3000)
                return true;
        return false;
    };
    for (size_t i = 0; i < controls.size(); ++i)
    {
        EXPECT_TRUE (en[i].isNotEmpty()) << controls[i].first;
        EXPECT_TRUE (jp[i].isNotEmpty()) << controls[i].first;
        EXPECT_FALSE (hasWide (en[i])) << controls[i].first;
        EXPECT_TRUE (hasWide (jp[i])) << controls[i].first;
    }
    EXPECT_EQ (e.sectionChart.emptyText, "Not measured");
    EXPECT_EQ (e.instChart.emptyText, "Not measured");

    // A few texts word for word, in both languages.
    EXPECT_EQ (en[3], "Measures loudness only and does not change gain. Only one INST instance can be assigned.");
    EXPECT_EQ (jp[3], ja ("ラウドネス測定のみ行い、ゲインは変更しません。1つのみ指定できます。"));
    EXPECT_EQ (en[17], "Open the settings menu (tooltip language, UI zoom, updates, version info, and more).");
    EXPECT_EQ (jp[18], ja ("ドラッグして表示サイズを変更します。"));
    EXPECT_EQ (jp[12], ja ("ON にすると、オフセットスライダーの変更が全セクションに同時適用されます。"));
    EXPECT_EQ (jp.back(), ja ("表示するLUFS範囲を変更"));

    // Without undo, redo and sidebar buttons the rest still changes.
    e.undoButton.reset();
    e.redoButton.reset();
    e.sidebarButton.reset();
    e.applyTooltips (0);
    EXPECT_EQ (e.settingsButton.getTooltip(), en[17]);
}

//==============================================================================
TEST_F (EditorMenus, UpdateBellFromALoopbackServer)
{
    addProcessor (1);
    auto& v = addProcessor (2);

    struct Case
    {
        const char* label;
        int status;
        std::string body;
        bool refused;
        bool bell;
    };
    const Case cases[] = {
        { "newer", 200, R"({"version":"1.0.2","url":"https://example.invalid/quorvane/1.0.2"})", false, true },
        { "same", 200, R"({"version":"1.0.1","url":"https://example.invalid/quorvane/1.0.1"})", false, false },
        { "older", 200, R"({"version":"0.9.7","url":"https://example.invalid/quorvane/0.9.7"})", false, false },
        { "malformed", 200, R"({"version":"1.0.2")", false, false },
        { "server error", 500, R"({"version":"9.0"})", false, false },
        { "refused", 200, "", true, false },
    };

    for (const auto& c : cases)
    {
        auto& s = AppSettings::get();
        s.setLatestSeen ("", "");
        s.setLastUpdateCheckUnix (0);
        s.setUpdateChecksEnabled (false); // the window's own checker must not start on the built-in address
        v.tooltipLang = 0;

        std::unique_ptr<LoopbackHttpServer> server;
        juce::String url;
        if (c.refused)
        {
            // A port that was just free: nothing listens there any more.
            server = std::make_unique<LoopbackHttpServer> (LoopbackHttpServer::Answer {});
            url = server->url();
            server.reset();
        }
        else
        {
            server = std::make_unique<LoopbackHttpServer> (LoopbackHttpServer::Answer { c.status, c.body });
            url = server->url();
        }

        auto& e = open (v);
        EXPECT_FALSE (e.updateBell.isVisible()) << c.label;
        // The window takes the process's shared checker again whenever its
        // layout changes (the first tick does): settle it, then give it a
        // checker that asks the loopback server.
        e.timerCallback();
        e.stopTimer();
        s.setUpdateChecksEnabled (true);
        e.updateChecker->removeChangeListener (&e);
        e.updateChecker = std::make_shared<UpdateChecker> (url);
        e.updateChecker->addChangeListener (&e);
        e.updateChecker->maybeStartCheck();

        if (c.bell)
        {
            ASSERT_TRUE (pumpUntil ([&] { return e.updateBell.isVisible(); }, 20000))
                << c.label << " " << AppSettings::get().properties.getUserSettings()->getValue ("lastFetchStatus")
                << " " << AppSettings::get().latestSeenVersion() << " " << e.updateChecker->hasNewVersion() << " " << url
                << " requests " << server->requestCount();
            EXPECT_EQ (e.updateBell.getButtonText(), ja ("● Update available"));
            EXPECT_EQ (e.updateBell.getTooltip(), "An update is available.");
            EXPECT_FALSE (e.updateBell.getBounds().isEmpty()) << "laid out in the footer";
            EXPECT_EQ (lines (e.buildSettingsMenu())[19], "8 Open release page E");

            // Switching to Japanese gives the bell a Japanese tooltip too.
            e.handleSettingsMenuResult (12);
            EXPECT_EQ (e.updateBell.getTooltip(), ja ("更新が利用可能です。"));

            // A second window of the process sees the same release.
            auto& second = open (v);
            EXPECT_TRUE (second.updateBell.isVisible());
        }
        else
        {
            ASSERT_TRUE (pumpUntil ([&] { return ! e.updateChecker->isThreadRunning(); }, 20000)) << c.label;
            pumpUntil ([] { return false; }, 200);
            EXPECT_FALSE (e.updateBell.isVisible()) << c.label;
            EXPECT_EQ (lines (e.buildSettingsMenu())[19], "4 Check for updates on launch E T") << c.label;
        }
        editors.clear();
    }
    AppSettings::get().setUpdateChecksEnabled (false);
    AppSettings::get().setLatestSeen ("", "");
}

TEST_F (EditorMenus, TargetsAnotherHostSavedMeanwhileStayWhenTargetsAreEditedHere)
{
    auto& v = addProcessor (2);
    auto& e = open (v);
    AppSettings::get().setOffsetTargets ({ { "Main", -2.0f, 2.0f } });

    // Another host process, with its own store on the same file, adds a
    // target to the list it read.
    const auto addElsewhere = [] (const char* name)
    {
        SettingsFile other (AppSettings::settingsFileLocation(), { "offsetTargets" });
        auto list = juce::parseXML (other.getValue ("offsetTargets"));
        ASSERT_NE (list, nullptr);
        auto* t = list->createNewChildElement ("target");
        t->setAttribute ("name", name);
        t->setAttribute ("lo", -1.0);
        t->setAttribute ("hi", 1.0);
        other.setValue ("offsetTargets", list->toString (juce::XmlElement::TextFormat().singleLine().withoutHeader()));
        ASSERT_TRUE (other.saveIfNeeded());
    };

    addElsewhere ("Theirs");
    e.showOffsetTargetEditPopup (-1, {});
    ASSERT_TRUE (typeAndConfirm (*openPopup<OffsetTargetEditPopup> (e), "Lead", "-3", "1"));
    EXPECT_EQ (storedTargets(), "Main -2.0..2.0; Theirs -1.0..1.0; Lead -3.0..1.0;");
    pumpUntil ([] { return false; }, 20);

    addElsewhere ("Backing");
    e.reloadOffsetTargets();
    e.showOffsetTargetEditPopup (0, {});
    openPopup<OffsetTargetEditPopup> (e)->deleteButton.onClick();
    EXPECT_EQ (storedTargets(), "Theirs -1.0..1.0; Lead -3.0..1.0; Backing -1.0..1.0;");
    pumpUntil ([] { return false; }, 20);
}
