#include "editor/PluginEditor.h"

#include "processor/LinkRegistry.h"
#include "settings/AppSettings.h"

#include <thread>

#include <algorithm>

//==============================================================================
std::vector<QuorvaneEditor*>& QuorvaneEditor::liveEditors()
{
    static std::vector<QuorvaneEditor*> editors;
    return editors;
}

QuorvaneEditor::~QuorvaneEditor()
{
    auto& live = liveEditors();
    live.erase (std::remove (live.begin(), live.end(), this), live.end());

    // A call-out box still open must never draw with a look destroyed below.
    if (auto* box = dynamic_cast<juce::CallOutBox*> (openCallOut.getComponent()))
    {
        box->setLookAndFeel (nullptr);
        box->dismiss();
    }
    // Boxes dismissed a moment ago (their deletion is still queued) too.
    for (auto* child : getChildren())
        if (auto* box = dynamic_cast<juce::CallOutBox*> (child))
            box->setLookAndFeel (nullptr);

    if (updateChecker != nullptr)
        updateChecker->removeChangeListener (this);

    for (int i = 0; i < 16; ++i)
        for (auto* b : { &rowBypassButtons[(size_t) i], &rowResetButtons[(size_t) i],
                         &rowLinkButtons[(size_t) i], &rowLockButtons[(size_t) i] })
            b->setLookAndFeel (nullptr);

    for (juce::Component* c : std::initializer_list<juce::Component*> {
             &updateBell, &englishToggle, &japaneseToggle, &offsetSlider, &instOffsetSlider, &offsetTargetButton,
             &linkAllButton, &abToggle, &abCopyButton, &vocalTab, &instTab })
        c->setLookAndFeel (nullptr);

    for (auto* b : { undoButton.get(), redoButton.get(), sidebarButton.get() })
        if (b != nullptr)
            b->setLookAndFeel (nullptr);

    juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
    setLookAndFeel (nullptr);
    stopTimer();
}

//==============================================================================
void QuorvaneEditor::ClickCatcher::mouseDown (const juce::MouseEvent&)
{
    if (onMouseDown)
        onMouseDown();
}

QuorvaneEditor::HoverEditLabel::HoverEditLabel()
{
    setMouseCursor (juce::MouseCursor::IBeamCursor);
}

void QuorvaneEditor::HoverEditLabel::mouseEnter (const juce::MouseEvent&)
{
    hovered = true;
    repaint();
}

void QuorvaneEditor::HoverEditLabel::mouseExit (const juce::MouseEvent&)
{
    hovered = false;
    repaint();
}

void QuorvaneEditor::HoverEditLabel::paint (juce::Graphics& g)
{
    if (hovered && ! isBeingEdited())
    {
        g.setColour (juce::Colour (0x14ffffff));
        g.fillRoundedRectangle (getLocalBounds().toFloat(), 4.0f);
    }
    juce::Label::paint (g);
}

//==============================================================================
int QuorvaneEditor::currentRole() const
{
    // The parameter's own value: the role listener runs before the processor's
    // raw copy of the value has moved.
    if (roleParameter != nullptr)
        return (int) roleParameter->convertFrom0to1 (roleParameter->getValue());
    return proc.getRole();
}

juce::String QuorvaneEditor::ownVocalTitle() const
{
    juce::String name;
    bool hasOthers = false;
    {
        std::lock_guard<std::mutex> lock (proc.partnerMutex);
        name = proc.instanceName;
        hasOthers = ! proc.otherVocalSlots.empty();
    }

    if (name.isNotEmpty())
        return name;

    const int number = proc.ownSlot != nullptr ? proc.ownSlot->vocalNumber.load() : 0;
    if (number >= 1 && hasOthers)
        return "VOCAL" + juce::String (number);

    return "VOCAL";
}

void QuorvaneEditor::refreshRoleTabText()
{
    if (renameEditor.isVisible())
        return;

    // The title depends on the name, the Vocal number and whether other Vocal
    // instances are linked; it is only worked out again when one of them moved,
    // so that the periodic refresh takes no lock and builds no text otherwise.
    TitleKey key;
    key.valid = true;
    key.role = currentRole();
    if (key.role == 2 && proc.ownSlot != nullptr)
    {
        auto name = proc.ownSlot->name.load();
        key.name = name.get();
        key.number = proc.ownSlot->vocalNumber.load();
        key.others = proc.otherVocalGeneration.load();
        titleNameSource = std::move (name);
    }

    if (! (key == titleKey) || vocalTab.getButtonText().isEmpty())
    {
        titleKey = key;
        juce::String vocalCaption ("VOCAL");
        if (key.role == 2)
        {
            const auto title = ownVocalTitle();
            vocalCaption = title.length() <= 6 ? title : title.substring (0, 5) + "...";
        }

        if (vocalTab.getButtonText() != vocalCaption)
            vocalTab.setButtonText (vocalCaption);
    }

    if (instTab.getButtonText() != "INST")
        instTab.setButtonText ("INST");
}

void QuorvaneEditor::updateRoleVisibility()
{
    const int r = currentRole();
    const bool conflict = proc.roleConflict.load();
    const bool instView = proc.instTargetUiOpen.load();
    const bool V = r == 2;
    const bool S = V && sidebarVisible;
    const int n = proc.numSections.load();
    const bool IT = r == 1 && ! conflict && instView;
    const bool IS = r == 1 && ! conflict && ! instView;

    offsetSlider.setVisible (V);
    linkAllButton.setVisible (V);
    abToggle.setVisible (true);
    abCopyButton.setVisible (true);
    if (sidebarButton != nullptr)
        sidebarButton->setVisible (V);
    sectionCaption.setVisible (V);

    for (juce::Component* c : std::initializer_list<juce::Component*> {
             &sectionsHeader, &allCaption, &allBypassButton, &allResetButton, &allLinkButton, &allLockButton })
        c->setVisible (S);

    if (! V)
        for (auto& column : sectionCells)
            for (auto& cell : column)
                cell.setText ({}, juce::dontSendNotification);

    for (int i = 0; i < 16; ++i)
    {
        const bool show = V && i < n;
        sectionRows[(size_t) i].setVisible (show);
        for (auto& column : sectionCells)
            column[(size_t) i].setVisible (show);
        rowBypassButtons[(size_t) i].setVisible (show);
        rowResetButtons[(size_t) i].setVisible (show);
        rowLinkButtons[(size_t) i].setVisible (show);
        rowLockButtons[(size_t) i].setVisible (show);
    }

    for (auto& c : columnCaptions)
        c.setVisible (V);

    matchButton.setVisible (V);
    prevSectionButton.setVisible (V);
    nextSectionButton.setVisible (V);

    ownMeter.setVisible (V || IT);
    partnerMeter.setVisible (V || IT);
    railModeButton.setVisible (V || IT);

    for (juce::Component* c : std::initializer_list<juce::Component*> {
             &instMeasureButton, &instTargetCaption, &instLufsCardCaption, &instMatchCaption, &instOffsetCaption,
             &instTotalCaption, &targetLufsValue, &instCardLufsValue, &instMatchValue, &instOffsetValue, &instTotalValue,
             &targetLufsUnit, &instCardLufsUnit, &instMatchUnit, &instOffsetUnit, &instTotalUnit, &instOffsetSlider,
             &instChart, &backToInstStatusButton })
        c->setVisible (IT);

    setInstTargetButton.setVisible (IS);

    statusLabel.setVisible (true);
    instTab.setVisible (true);
    vocalTab.setVisible (true);

    const bool langShown = r != 2 && ! IT;
    englishToggle.setVisible (langShown);
    japaneseToggle.setVisible (langShown);
    const bool japanese = proc.tooltipLang.load() == 1;
    englishToggle.setToggleState (! japanese, juce::dontSendNotification);
    japaneseToggle.setToggleState (japanese, juce::dontSendNotification);

    refreshRoleTabText();
    applyLayoutForNumSections (n);
    resized();
    repaint();
}

//==============================================================================
void QuorvaneEditor::changeListenerCallback (juce::ChangeBroadcaster*)
{
    refreshUpdateUI();
}

//==============================================================================
// Menus of the settings button, the meter mode button and the update bell.

namespace
{
juce::String utf8 (const char* text) { return juce::String::fromUTF8 (text); }

juce::String oneDecimal (float v) { return juce::String (v, 1); }

const char* const kMeasuringNoteEn = "The measurement mode and RMS Time cannot be changed while measuring";
const char* const kMeasuringNoteJa = "測定中は測定モードとRMS時間を変更できません";

/** Starts the desktop's opener for an address without a shell, so that no
    character of the address is ever interpreted; the child is reaped in the
    background. */
void launchWithDesktopOpener (const juce::String& url)
{
    if (url.isEmpty())
        return;
    std::thread ([address = url.toStdString()]
                 {
                     juce::ChildProcess opener;
                     if (opener.start (juce::StringArray { "xdg-open", juce::String (address) }, 0))
                         opener.waitForProcessToFinish (60000);
                 }).detach();
}
} // namespace

std::function<void (const juce::String&)>& QuorvaneEditor::browserLauncher()
{
    static std::function<void (const juce::String&)> launcher = launchWithDesktopOpener;
    return launcher;
}

juce::String QuorvaneEditor::manualUrl()
{
    const auto url = juce::String (QVN_MANUAL_URL).trim();
    return qvn::isOpenableReleasePageUrl (url) ? url : juce::String();
}

juce::PopupMenu QuorvaneEditor::buildMeasurementModeMenu() const
{
    const bool ja = proc.tooltipLang.load() == 1;
    const int m = juce::jlimit (0, 2, proc.measMode.load());
    const bool measuring = LinkRegistry::get().anyMeasurementActive();

    juce::PopupMenu menu;
    menu.setLookAndFeel (const_cast<SettingsMenuLF*> (&menuLook));
    menu.addSectionHeader (ja ? utf8 ("測定モード") : juce::String ("Measurement Mode"));
    menu.addItem (300, "LUFS", ! measuring, m == 0);
    menu.addItem (301, "K-weighted RMS", ! measuring, m == 1);
    menu.addItem (302, "Custom Weighted RMS", ! measuring, m == 2);
    if (measuring)
        menu.addItem (399, ja ? utf8 (kMeasuringNoteJa) : juce::String (kMeasuringNoteEn), false, false);
    if (m > 0)
    {
        menu.addSeparator();
        menu.addItem (400, "RMS Time: " + oneDecimal (proc.rmsTimeSec.load()) + " s ...", ! measuring, false);
    }
    if (m == 2)
        menu.addItem (401, ja ? utf8 ("Custom設定...") : juce::String ("Custom Settings..."), true, false);
    return menu;
}

void QuorvaneEditor::showMeasurementModePopupMenu()
{
    juce::Component::SafePointer<QuorvaneEditor> safe (this);
    buildMeasurementModeMenu().showMenuAsync (juce::PopupMenu::Options().withTargetComponent (&settingsButton).withDeletionCheck (*this),
                                              [safe] (int result)
                                              {
                                                  if (auto* e = safe.getComponent())
                                                      e->handleMeasurementModeMenuResult (result);
                                              });
}

void QuorvaneEditor::handleMeasurementModeMenuResult (int itemId)
{
    if (itemId >= 300 && itemId <= 302)
    {
        const int n = itemId - 300;
        if (n == juce::jlimit (0, 2, proc.measMode.load()))
            return;
        // A measurement that started after the menu opened refuses the change silently.
        if (LinkRegistry::get().anyMeasurementActive())
            return;
        proc.applyMeasurementSettings (n, proc.rmsTimeSec.load());
        LinkRegistry::get().broadcastMeasurementSettings (&proc, proc.measMode.load(), proc.rmsTimeSec.load());
        refreshMeterModeUi();
        repaint();
    }
    else if (itemId == 400)
    {
        showRmsTimePopup (settingsButton.getScreenBounds());
    }
    else if (itemId == 401)
    {
        openCustomWeightingPanel();
    }
}

void QuorvaneEditor::openCustomWeightingPanel()
{
    // Created over the window on first use, then only shown again; the
    // opening sequence takes the applied weighting and the current language.
    CustomWeightedRmsEditor::openOver (*this, customWeightingPanel, proc);
}

juce::PopupMenu QuorvaneEditor::buildMeterModeMenu() const
{
    const bool ja = proc.tooltipLang.load() == 1;
    const int d = proc.meterDispMode.load();
    const int m = juce::jlimit (0, 2, proc.measMode.load());

    juce::PopupMenu menu;
    menu.setLookAndFeel (const_cast<SettingsMenuLF*> (&menuLook));
    if (m > 0)
    {
        const bool measuring = LinkRegistry::get().anyMeasurementActive();
        menu.addItem (400, "RMS Time: " + oneDecimal (proc.rmsTimeSec.load()) + " s ...", ! measuring, false);
        if (measuring)
            menu.addItem (399, ja ? utf8 (kMeasuringNoteJa) : juce::String (kMeasuringNoteEn), false, false);
    }
    else
    {
        menu.addItem (1, ja ? utf8 ("Momentary LUFS（400ミリ秒）") : juce::String ("Momentary LUFS (400 ms)"), true, d == 1);
        menu.addItem (2, ja ? utf8 ("Short-term LUFS（3秒）") : juce::String ("Short-term LUFS (3 s)"), true, d == 0);
        menu.addItem (3, ja ? utf8 ("Integrated LUFS（積分値）") : juce::String ("Integrated LUFS"), true, d == 2);
    }
    menu.addSeparator();
    menu.addItem (200, ja ? utf8 ("表示範囲を設定...") : juce::String ("Set display range..."), true, false);

    if (currentRole() == 2)
    {
        std::vector<std::shared_ptr<LinkSlot>> slots;
        {
            std::lock_guard<std::mutex> lock (proc.partnerMutex);
            slots = proc.otherVocalSlots;
        }
        if (! slots.empty())
            menu.addSeparator();

        const auto mask = (std::uint32_t) proc.hiddenVocalMask.load();
        for (const auto& slot : slots)
        {
            const int n = slot != nullptr ? slot->vocalNumber.load() : 0;
            if (n < 1)
                continue;
            auto name = slot->name.load();
            auto label = name != nullptr ? juce::String::fromUTF8 (name->c_str()) : juce::String();
            if (label.isEmpty())
                label = "Vo" + juce::String (n);
            const bool hidden = n <= 32 && (mask & (1u << (n - 1))) != 0;
            menu.addItem (100 + n, ja ? label + utf8 (" を表示") : "Show " + label, true, ! hidden);
        }
    }
    return menu;
}

void QuorvaneEditor::showMeterModeMenu()
{
    juce::Component::SafePointer<QuorvaneEditor> safe (this);
    buildMeterModeMenu().showMenuAsync (juce::PopupMenu::Options().withTargetComponent (&railModeButton),
                                        [safe] (int result)
                                        {
                                            if (auto* e = safe.getComponent())
                                                e->handleMeterModeMenuResult (result);
                                        });
}

void QuorvaneEditor::handleMeterModeMenuResult (int itemId)
{
    if (itemId == 0)
        return;
    if (itemId == 400)
    {
        showRmsTimePopup (railModeButton.getScreenBounds());
    }
    else if (itemId == 200)
    {
        showRangeEditPopup (true, railModeButton.getScreenBounds());
    }
    else if (itemId >= 101 && itemId <= 132)
    {
        const int bit = 1 << (itemId - 101);
        if ((proc.hiddenVocalMask.load() & bit) != 0)
            proc.hiddenVocalMask.fetch_and (~bit);
        else
            proc.hiddenVocalMask.fetch_or (bit);
        repaint();
    }
    else if (itemId < 100)
    {
        proc.meterDispMode.exchange (itemId == 1 ? 1 : (itemId == 2 ? 0 : 2));
        refreshMeterModeUi();
        repaint();
    }
}

juce::PopupMenu QuorvaneEditor::buildSettingsMenu() const
{
    const bool ja = proc.tooltipLang.load() == 1;
    auto& user = *AppSettings::get().properties.getUserSettings();
    auto* look = const_cast<SettingsMenuLF*> (&menuLook);

    juce::PopupMenu language;
    language.setLookAndFeel (look);
    language.addItem (11, "English", true, proc.tooltipLang.load() == 0);
    language.addItem (12, "Japanese", true, proc.tooltipLang.load() == 1);

    juce::PopupMenu zoom;
    zoom.setLookAndFeel (look);
    const int z = (int) std::nearbyint (userZoom * 100.0f);
    zoom.addSectionHeader ((ja ? utf8 ("現在") : juce::String ("Current")) + ": " + juce::String (z) + "%");
    for (int i = 0; i < 8; ++i)
        zoom.addItem (20 + i, juce::String ((int) std::nearbyint (kZoomPresets[i] * 100.0f)) + "%", true,
                      std::abs (userZoom - kZoomPresets[i]) < 0.01f);
    zoom.addSeparator();
    zoom.addItem (41, ja ? utf8 ("全インスタンスに反映") : juce::String ("Apply to all instances"), true,
                  user.getBoolValue (qvn::settingsKeys::zoomLinked, true));

    juce::PopupMenu menu;
    menu.setLookAndFeel (look);
    menu.addSubMenu (ja ? utf8 ("ツールチップ言語") : juce::String ("Tooltip Language"), language);
    menu.addItem (2, ja ? utf8 ("ツールチップを表示") : juce::String ("Show tooltips"), true, proc.showTooltips.load());
    menu.addItem (43, ja ? utf8 ("測定を再生・停止に連動") : juce::String ("Link measurement to transport"), true,
                  proc.linkMeasurementToTransport.load());
    menu.addItem (3, ja ? utf8 ("マニュアルを開く") : juce::String ("Open manual"), manualUrl().isNotEmpty(), false);
    menu.addSubMenu (ja ? utf8 ("表示サイズ") : juce::String ("UI Zoom"), zoom);
    menu.addSeparator();
    if (updateChecker != nullptr && updateChecker->hasNewVersion())
        menu.addItem (8, ja ? utf8 ("リリースページを開く") : juce::String ("Open release page"), true, false);
    menu.addItem (4, ja ? utf8 ("起動時に更新を確認") : juce::String ("Check for updates on launch"), true,
                  user.getBoolValue (qvn::settingsKeys::updateChecksEnabled, true));
    menu.addSeparator();
    menu.addItem (6, ja ? utf8 ("バージョン情報  Version：") + qvn::kCurrentVersion
                        : juce::String ("Version info  Version: ") + qvn::kCurrentVersion,
                  false, false);
    return menu;
}

void QuorvaneEditor::showSettingsPopupMenu()
{
    juce::Component::SafePointer<QuorvaneEditor> safe (this);
    buildSettingsMenu().showMenuAsync (juce::PopupMenu::Options().withTargetComponent (&settingsButton).withDeletionCheck (*this),
                                       [safe] (int result)
                                       {
                                           if (auto* e = safe.getComponent())
                                               e->handleSettingsMenuResult (result);
                                       });
}

void QuorvaneEditor::handleSettingsMenuResult (int itemId)
{
    auto& settings = AppSettings::get();
    auto& user = *settings.properties.getUserSettings();

    if (itemId == 11 || itemId == 12)
    {
        const int lang = itemId == 12 ? 1 : 0;
        proc.tooltipLang.exchange (lang);
        applyTooltips (lang);
        englishToggle.setToggleState (lang != 1, juce::dontSendNotification);
        japaneseToggle.setToggleState (lang == 1, juce::dontSendNotification);
        repaint();
    }
    else if (itemId == 2)
    {
        const bool nowShown = ! proc.showTooltips.exchange (! proc.showTooltips.load());
        if (nowShown && tooltipWindow == nullptr)
            tooltipWindow = std::make_unique<juce::TooltipWindow> (this, 700);
        else if (! nowShown)
            tooltipWindow.reset();
    }
    else if (itemId == 43)
    {
        const bool linked = ! proc.linkMeasurementToTransport.load();
        user.setValue (qvn::settingsKeys::linkMeasurementToTransport, linked);
        user.saveIfNeeded();

        auto relink = [linked] (QuorvaneProcessor& p)
        {
            const bool was = p.linkMeasurementToTransport.exchange (linked);
            if (was && ! linked)
            {
                // Starts that wait for playback would never come once the link is off.
                p.armedSectionStart.exchange (false);
                p.deferredSectionIndex.exchange (-1);
                p.armedInstStart.exchange (false);
                p.deferredSectionStart.exchange (false);
                p.deferredInstStart.exchange (false);
            }
        };
        relink (proc);
        auto& registry = LinkRegistry::get();
        std::lock_guard<std::mutex> lock (registry.mutex);
        for (auto* other : registry.instances)
            if (other != nullptr && other != &proc)
                relink (*other);
    }
    else if (itemId == 3)
    {
        const auto url = manualUrl();
        if (url.isNotEmpty() && browserLauncher())
            browserLauncher() (url);
    }
    else if (itemId >= 20 && itemId <= 27)
    {
        applyUserZoom (kZoomPresets[itemId - 20]);
    }
    else if (itemId == 41)
    {
        const bool wasLinked = user.getBoolValue (qvn::settingsKeys::zoomLinked, true);
        user.setValue (qvn::settingsKeys::zoomLinked, ! wasLinked);
        user.saveIfNeeded();
        if (! wasLinked)
            applyUserZoom (userZoom);
    }
    else if (itemId == 8)
    {
        if (updateChecker != nullptr)
        {
            const auto url = UpdateChecker::openableReleasePageUrl();
            if (url.isNotEmpty() && browserLauncher())
                browserLauncher() (url);
        }
    }
    else if (itemId == 4)
    {
        toggleUpdateChecks();
    }
}

juce::PopupMenu QuorvaneEditor::buildBellMenu() const
{
    const bool ja = proc.tooltipLang.load() == 1;
    juce::PopupMenu menu;
    menu.setLookAndFeel (const_cast<SettingsMenuLF*> (&menuLook));
    menu.addItem (1, ja ? utf8 ("リリースページを開く") : juce::String ("Open release page"), true, false);
    menu.addSeparator();
    menu.addItem (3, ja ? utf8 ("起動時に更新を確認") : juce::String ("Check for updates on launch"), true,
                  AppSettings::get().properties.getUserSettings()->getBoolValue (qvn::settingsKeys::updateChecksEnabled, true));
    return menu;
}

void QuorvaneEditor::showBellPopupMenu()
{
    if (updateChecker == nullptr)
        return;
    // Only an address that may be handed to a browser is kept with the menu.
    const auto url = UpdateChecker::openableReleasePageUrl();
    juce::Component::SafePointer<QuorvaneEditor> safe (this);
    buildBellMenu().showMenuAsync (juce::PopupMenu::Options().withTargetComponent (&updateBell).withDeletionCheck (*this),
                                   [safe, url] (int result)
                                   {
                                       if (auto* e = safe.getComponent())
                                           e->handleBellMenuResult (result, url);
                                   });
}

void QuorvaneEditor::handleBellMenuResult (int itemId, const juce::String& releaseUrl)
{
    if (itemId == 1)
    {
        if (releaseUrl.isNotEmpty() && browserLauncher())
            browserLauncher() (releaseUrl);
    }
    else if (itemId == 3)
    {
        toggleUpdateChecks();
    }
}

void QuorvaneEditor::toggleUpdateChecks()
{
    auto& settings = AppSettings::get();
    const bool old = settings.properties.getUserSettings()->getBoolValue (qvn::settingsKeys::updateChecksEnabled, true);
    settings.setUpdateChecksEnabled (! old);
    if (! old && updateChecker != nullptr)
        updateChecker->maybeStartCheck();
    refreshUpdateUI();
}

void QuorvaneEditor::initMenuAndPopupHandlers()
{
    settingsButton.onClick = [this] { showSettingsPopupMenu(); };
    settingsButton.onRightClick = [this] { showMeasurementModePopupMenu(); };
    updateBell.onClick = [this] { showBellPopupMenu(); };
    updateBell.onRightClick = [this] { showBellPopupMenu(); };
    railModeButton.onClick = [this] { showMeterModeMenu(); };
    offsetTargetButton.onClick = [this] { showOffsetTargetMenu(); };
    sectionChart.onRangePillClicked = [this] { showRangeEditPopup (false, sectionChart.rangePillScreenBounds()); };
    instChart.onRangePillClicked = [this] { showRangeEditPopup (false, instChart.rangePillScreenBounds()); };
}

std::vector<std::shared_ptr<LinkSlot>> QuorvaneEditor::visibleOtherVocalSlots() const
{
    std::vector<std::shared_ptr<LinkSlot>> slots;
    {
        std::lock_guard<std::mutex> lock (proc.partnerMutex);
        slots = proc.otherVocalSlots;
    }

    const auto mask = (std::uint32_t) proc.hiddenVocalMask.load();
    slots.erase (std::remove_if (slots.begin(), slots.end(), [mask] (const std::shared_ptr<LinkSlot>& s)
                 {
                     const int n = s != nullptr ? s->vocalNumber.load() : 0;
                     return n >= 1 && n <= 32 && (mask & (1u << (n - 1))) != 0;
                 }),
                 slots.end());
    return slots;
}

void QuorvaneEditor::rebuildOtherVocalMeters (int k)
{
    static const juce::uint32 palette[7] = { 0xff5ab4f0, 0xfff5d54a, 0xffe0922f, 0xffb98cf2,
                                             0xfff28cba, 0xff8cf2a8, 0xfff2c08c };
    k = juce::jmax (0, k);
    otherVocalMeterCount = k;

    while ((int) otherVocalMeters.size() > k)
        otherVocalMeters.pop_back();

    const auto range = AppSettings::get().meterRange();
    while ((int) otherVocalMeters.size() < k)
    {
        auto bar = std::make_unique<VocalMeterBar>();
        bar->setLayout (1);
        bar->setShowScale (false);
        bar->setMarkerText ({});
        bar->setRange (range.low, range.high);
        addAndMakeVisible (*bar);
        otherVocalMeters.push_back (std::move (bar));
    }

    otherVocalNames.assign ((size_t) k, {});
    otherVocalNameSources.assign ((size_t) k, nullptr);

    for (int i = 0; i < k; ++i)
    {
        auto& bar = *otherVocalMeters[(size_t) i];
        bar.setLabel ("Vo" + juce::String (i + 2));
        bar.setCustomFill (juce::Colour (palette[i % 7]), true);
        bar.onClick = [this, i] (bool shift)
        {
            if (shift)
                resetOtherVocalMeter (i);
            else
                resetAllMeters();
        };
    }

    layoutFixCount = 0;
    const int w = windowWidthFor (k);
    if (getWidth() == w && getHeight() == kWindowHeight)
        resized();
    else
        setBounds (getX(), getY(), w, kWindowHeight);
}
