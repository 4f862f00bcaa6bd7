#include "editor/PluginEditor.h"

#include "settings/AppSettings.h"

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
