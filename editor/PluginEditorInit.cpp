#include "editor/PluginEditor.h"

#include "processor/LinkRegistry.h"
#include "settings/AppSettings.h"
#include "ui/OffsetTargetEditPopup.h"
#include "ui/RangeEditPopup.h"

#include <BinaryData.h>

#include <cmath>
#include <optional>

namespace
{
std::unique_ptr<juce::Drawable> svgDrawable (const char* data, int size, juce::Colour blackBecomes)
{
    auto d = juce::Drawable::createFromImageData (data, (size_t) size);
    if (d != nullptr)
        d->replaceColour (juce::Colours::black, blackBecomes);
    return d;
}

std::unique_ptr<juce::Drawable> svgIcon (const char* data, int size)
{
    return juce::Drawable::createFromImageData (data, (size_t) size);
}

void styleLabel (juce::Label& l, juce::Justification j, juce::Font f, juce::Colour c)
{
    l.setJustificationType (j);
    l.setFont (f);
    l.setColour (juce::Label::textColourId, c);
}

void valueStyle (juce::Label& l, float size)
{
    styleLabel (l, juce::Justification::bottomRight, FlatLookAndFeel::font (size, juce::Font::bold), qvn::theme::kTextCol);
    l.setMinimumHorizontalScale (0.6f);
}

void unitStyle (juce::Label& l, float size)
{
    styleLabel (l, juce::Justification::bottomLeft, FlatLookAndFeel::font (size, juce::Font::bold), qvn::theme::kMutedCol);
}

juce::String offsetParamId (int section)
{
    return "offset_" + juce::String::charToString ((juce::juce_wchar) ('A' + juce::jlimit (0, 15, section)));
}
} // namespace

//==============================================================================
QuorvaneEditor::QuorvaneEditor (QuorvaneProcessor& p)
    : juce::AudioProcessorEditor (p), proc (p)
{
    initOffsetAndRoleControls();
    initMeterBars();
    initSectionListAndStepper();
    initMatchAndMeterLabels();
    initSectionLabels();
    initDetailCard();
    initOffsetTargetButton();
    initInstCard();
    initInstHandlers();
    initSectionIconsAndFooter();
    initHeaderButtons();
    initStatusAndUtility();
    initHeaderActions();
    initMenuAndPopupHandlers();
    initSectionActions();
    initVocalGainActions();

    // Children without a look of their own draw with the base look, through
    // the editor and as the process default.
    setLookAndFeel (&baseLook);
    juce::LookAndFeel::setDefaultLookAndFeel (&baseLook);

    {
        float v = 0.0f;
        if (auto* raw = proc.parameters.getRawParameterValue (ids::section))
            v = raw->load();
        const int r = (int) std::nearbyint (v);
        const int n = juce::jmax (1, proc.numSections.load());
        shownSection = r < 0 ? 0 : juce::jmin (r, n - 1);
    }

    applyTooltips (proc.tooltipLang.load());
    applyLayoutForNumSections (proc.numSections.load());
    updateRoleVisibility();
    refreshMeterModeUi();

    {
        auto& settings = *AppSettings::get().properties.getUserSettings();
        float z = (float) settings.getDoubleValue ("editorZoom", 1.0);
        z = (z < 0.5f || std::isnan (z)) ? 0.5f : juce::jmin (z, 2.0f);
        userZoom = z;
        if (z != 1.0f)
            juce::AudioProcessorEditor::setScaleFactor (hostScale * z);
    }

    liveEditors().push_back (this);
    startTimer (50);
}

//==============================================================================
void QuorvaneEditor::initCaptionLabel (juce::Label& l, const juce::String& text, bool makeVisible)
{
    l.setText (text, juce::dontSendNotification);
    styleLabel (l, juce::Justification::centredLeft, FlatLookAndFeel::font (16.0f, juce::Font::bold), qvn::theme::kMutedCol);
    if (makeVisible)
        addAndMakeVisible (l);
    else
        addChildComponent (l);
}

void QuorvaneEditor::initOffsetAndRoleControls()
{
    offsetSlider.setSliderStyle (juce::Slider::LinearHorizontal);
    offsetSlider.setTextBoxStyle (juce::Slider::NoTextBox, true, 0, 0);
    offsetSlider.setTextValueSuffix (" dB");
    offsetSlider.setLookAndFeel (&sliderLook);
    addAndMakeVisible (offsetSlider);

    for (auto* tab : { &instTab, &vocalTab })
    {
        tab->setClickingTogglesState (true);
        tab->setRadioGroupId (1);
        tab->setLookAndFeel (&roleTabLook);
    }
    vocalTab.setMouseCursor (juce::MouseCursor::IBeamCursor);
    addAndMakeVisible (instTab);
    addAndMakeVisible (vocalTab);

    roleParameter = proc.parameters.getParameter (ids::role);
    if (auto* roleParam = roleParameter)
    {
        roleAttachment = std::make_unique<juce::ParameterAttachment> (*roleParam, [this] (float v)
        {
            const int r = (int) v;
            instTab.setToggleState (r == 1, juce::dontSendNotification);
            vocalTab.setToggleState (r == 2, juce::dontSendNotification);
            updateRoleVisibility();
        });
        instTab.onClick = [this] { if (roleAttachment != nullptr) roleAttachment->setValueAsCompleteGesture (1.0f); };
        vocalTab.onClick = [this] { if (roleAttachment != nullptr) roleAttachment->setValueAsCompleteGesture (2.0f); };
    }

    renameEditor.setColour (juce::TextEditor::backgroundColourId, juce::Colours::transparentBlack);
    renameEditor.setColour (juce::TextEditor::outlineColourId, juce::Colours::transparentBlack);
    renameEditor.setColour (juce::TextEditor::focusedOutlineColourId, juce::Colours::transparentBlack);
    renameEditor.setColour (juce::TextEditor::textColourId, qvn::theme::kTextCol);
    renameEditor.setJustification (juce::Justification::centred);
    renameEditor.setBorder ({});
    renameEditor.setIndents (0, 0);
    renameEditor.setTextToShowWhenEmpty ("name", qvn::theme::kMutedCol);
    addChildComponent (renameEditor);
    addChildComponent (clickCatcher);

    for (auto* t : { &englishToggle, &japaneseToggle })
    {
        t->setClickingTogglesState (true);
        t->setRadioGroupId (3);
        t->setLookAndFeel (&langLook);
        addChildComponent (*t);
    }
}

void QuorvaneEditor::initMeterBars()
{
    ownMeter.setLayout (1);
    ownMeter.setShowScale (true);
    partnerMeter.setLayout (1);
    ownMeter.setLabel ("Vocal");
    partnerMeter.setLabel ("Inst");
    ownMeter.setMarkerText ({});
    partnerMeter.setMarkerText ({});
    ownMeter.onClick = [this] (bool shift) { if (shift) resetOwnMeterOnly(); else resetAllMeters(); };
    partnerMeter.onClick = [this] (bool shift) { if (shift) resetInstPartnerMeter(); else resetAllMeters(); };
    addAndMakeVisible (ownMeter);
    addAndMakeVisible (partnerMeter);
    applyMeterRange();
}

void QuorvaneEditor::initSectionListAndStepper()
{
    styleLabel (sectionCaption, juce::Justification::centredRight, FlatLookAndFeel::font (10.5f), qvn::theme::kMutedCol);
    sectionCaption.attachToComponent (&sectionRows[0], true);

    sectionListViewport.setViewedComponent (&sectionListContent, false);
    sectionListViewport.setScrollBarsShown (true, false);
    sectionListViewport.setScrollBarThickness (8);
    sectionListViewport.getVerticalScrollBar().setColour (juce::ScrollBar::thumbColourId, qvn::theme::kMutedCol);
    addAndMakeVisible (sectionListViewport);

    sectionListContent.onPaint = [this] (juce::Graphics& g) { paintSectionRows (g); };

    for (auto& row : sectionRows)
    {
        row.setClickingTogglesState (true);
        row.setRadioGroupId (2);
        sectionListContent.addAndMakeVisible (row);
    }

    addAndMakeVisible (prevSectionButton);
    addAndMakeVisible (nextSectionButton);
}

void QuorvaneEditor::initMatchAndMeterLabels()
{
    styleLabel (sectionsHeader, juce::Justification::centredLeft, FlatLookAndFeel::font (18.0f, juce::Font::bold), qvn::theme::kTextCol);
    addAndMakeVisible (sectionsHeader);
    matchButton.setButtonText ("Learn");
    addAndMakeVisible (matchButton);
    addAndMakeVisible (railModeButton);
    refreshMeterModeUi();
}

void QuorvaneEditor::initSectionLabels()
{
    for (auto& column : sectionCells)
        for (auto& cell : column)
        {
            styleLabel (cell, juce::Justification::centred, FlatLookAndFeel::font (10.5f), qvn::theme::kTextCol);
            sectionListContent.addAndMakeVisible (cell);
        }

    static const char* const captions[10] = { "Vocal LUFS", "Inst LUFS", "Learn Time", "Match Gain", "Offset Gain",
                                              "Gain", "Bypass", "Reset", "Offset Link", "Lock" };
    for (int i = 0; i < 10; ++i)
    {
        auto& l = columnCaptions[(size_t) i];
        l.setText (captions[i], juce::dontSendNotification);
        styleLabel (l, juce::Justification::centredRight, FlatLookAndFeel::font (10.5f),
                    i >= 6 ? qvn::theme::kTextCol : qvn::theme::kMutedCol);
        addAndMakeVisible (l);
    }
}

void QuorvaneEditor::initDetailCard()
{
    initCaptionLabel (vocalLufsCaption, "VOCAL LUFS", true);
    initCaptionLabel (instLufsCaption, "INST LUFS", true);

    styleLabel (sectionTitle, juce::Justification::centredLeft, FlatLookAndFeel::font (18.0f, juce::Font::bold), qvn::theme::kTextCol);
    styleLabel (sectionStatusBadge, juce::Justification::centredLeft, FlatLookAndFeel::font (12.0f, juce::Font::bold), qvn::theme::kAccentCol);
    styleLabel (learnStatus, juce::Justification::topLeft, FlatLookAndFeel::font (16.0f), qvn::theme::kMutedCol);
    learnStatus.setMinimumHorizontalScale (1.0f);
    addAndMakeVisible (sectionTitle);
    addAndMakeVisible (sectionStatusBadge);
    addAndMakeVisible (learnStatus);

    for (auto* v : { &vocalLufsValue, &instLufsValue })
    {
        styleLabel (*v, juce::Justification::bottomRight, FlatLookAndFeel::font (39.0f, juce::Font::bold), qvn::theme::kTextCol);
        addAndMakeVisible (*v);
    }
    for (auto* u : { &vocalLufsUnit, &instLufsUnit })
    {
        unitStyle (*u, 16.0f);
        addAndMakeVisible (*u);
    }

    initCaptionLabel (gainDetailCaption, "GAIN DETAIL", true);
    initCaptionLabel (matchGainCaption, "MATCH GAIN", true);
    styleLabel (matchValue, juce::Justification::bottomRight, FlatLookAndFeel::font (36.0f, juce::Font::bold), qvn::theme::kTextCol);
    addAndMakeVisible (matchValue);
    unitStyle (matchUnit, 17.0f);
    addAndMakeVisible (matchUnit);
    initCaptionLabel (offsetGainCaption, "OFFSET GAIN", true);
    unitStyle (offsetUnit, 17.0f);
    addAndMakeVisible (offsetUnit);
    styleLabel (offsetValue, juce::Justification::bottomRight, FlatLookAndFeel::font (36.0f, juce::Font::bold), qvn::theme::kTextCol);
    offsetValue.setEditable (false, true, false);
    addAndMakeVisible (offsetValue);
    initCaptionLabel (totalGainCaption, "TOTAL GAIN", true);
    styleLabel (totalValue, juce::Justification::bottomRight, FlatLookAndFeel::font (36.0f, juce::Font::bold), qvn::theme::kTextCol);
    addAndMakeVisible (totalValue);
    unitStyle (totalUnit, 17.0f);
    addAndMakeVisible (totalUnit);

    sectionChart.rangePillTooltip = proc.tooltipLang.load() == 1
                                        ? juce::String::fromUTF8 ("\xe8\xa1\xa8\xe7\xa4\xba\xe3\x81\x99\xe3\x82\x8b" "LUFS"
                                                                  "\xe7\xaf\x84\xe5\x9b\xb2\xe3\x82\x92\xe5\xa4\x89\xe6\x9b\xb4")
                                        : juce::String ("Change the displayed LUFS range");
    addAndMakeVisible (sectionChart);
    applyLearnRange();
}

void QuorvaneEditor::initOffsetTargetButton()
{
    offsetTargetButton.setClickingTogglesState (false);
    offsetTargetButton.setLookAndFeel (&targetButtonLook);
    addAndMakeVisible (offsetTargetButton);
    reloadOffsetTargets();
}

void QuorvaneEditor::initInstCard()
{
    setInstTargetButton.style = 0;
    backToInstStatusButton.style = 1;
    addChildComponent (setInstTargetButton);
    addChildComponent (backToInstStatusButton);
    instMeasureButton.setButtonText ("Learn");
    addChildComponent (instMeasureButton);

    initCaptionLabel (instTargetCaption, "TARGET LUFS", false);
    initCaptionLabel (instLufsCardCaption, "INST LUFS", false);
    valueStyle (targetLufsValue, 39.0f);
    targetLufsValue.setEditable (false, true, false);
    addChildComponent (targetLufsValue);
    unitStyle (targetLufsUnit, 16.0f);
    addChildComponent (targetLufsUnit);
    unitStyle (instCardLufsUnit, 16.0f);
    addChildComponent (instCardLufsUnit);
    valueStyle (instCardLufsValue, 39.0f);
    addChildComponent (instCardLufsValue);

    initCaptionLabel (instMatchCaption, "MATCH GAIN", false);
    valueStyle (instMatchValue, 36.0f);
    addChildComponent (instMatchValue);
    unitStyle (instMatchUnit, 17.0f);
    addChildComponent (instMatchUnit);
    initCaptionLabel (instOffsetCaption, "OFFSET GAIN", false);
    unitStyle (instOffsetUnit, 17.0f);
    addChildComponent (instOffsetUnit);
    valueStyle (instOffsetValue, 36.0f);
    instOffsetValue.setEditable (false, true, false);
    addChildComponent (instOffsetValue);
    initCaptionLabel (instTotalCaption, "TOTAL GAIN", false);
    valueStyle (instTotalValue, 36.0f);
    addChildComponent (instTotalValue);
    unitStyle (instTotalUnit, 17.0f);
    addChildComponent (instTotalUnit);

    instOffsetSlider.setSliderStyle (juce::Slider::LinearHorizontal);
    instOffsetSlider.setTextBoxStyle (juce::Slider::NoTextBox, true, 0, 0);
    instOffsetSlider.setTextValueSuffix (" dB");
    instOffsetSlider.setLookAndFeel (&sliderLook);
    addChildComponent (instOffsetSlider);
    if (proc.parameters.getParameter (ids::instOffset) != nullptr)
        instOffsetAttachment = std::make_unique<juce::AudioProcessorValueTreeState::SliderAttachment> (
            proc.parameters, ids::instOffset, instOffsetSlider);

    instChart.instView = true;
    addChildComponent (instChart);
}

void QuorvaneEditor::initSectionIconsAndFooter()
{
    for (int i = 0; i < 16; ++i)
    {
        auto& bypass = rowBypassButtons[(size_t) i];
        bypass.setOffDrawable (svgIcon (BinaryData::icon_bypass_svg, BinaryData::icon_bypass_svgSize));
        bypass.setOffColour (qvn::theme::kTextCol);
        bypass.setOnColour (qvn::theme::kMutedCol);
        bypass.setClickingTogglesState (true);
        bypass.hoverBrighten = false;

        auto& reset = rowResetButtons[(size_t) i];
        reset.setOffDrawable (svgIcon (BinaryData::icon_reset_svg, BinaryData::icon_reset_svgSize));
        reset.setOffColour (qvn::theme::kMutedCol);

        auto& link = rowLinkButtons[(size_t) i];
        link.setOffDrawable (svgIcon (BinaryData::icon_link_svg, BinaryData::icon_link_svgSize));
        link.setOffColour (qvn::theme::kMutedCol);
        link.hoverBrighten = false;

        auto& lock = rowLockButtons[(size_t) i];
        lock.setOffDrawable (svgIcon (BinaryData::icon_unlock_svg, BinaryData::icon_unlock_svgSize));
        lock.setOnDrawable (svgIcon (BinaryData::icon_lock_svg, BinaryData::icon_lock_svgSize));
        lock.setOffColour (qvn::theme::kMutedCol);
        lock.setOnColour (qvn::theme::kTextCol);
        lock.setClickingTogglesState (true);
        lock.hoverBrighten = false;

        for (auto* b : { &bypass, &reset, &link, &lock })
            sectionListContent.addAndMakeVisible (*b);
    }

    styleLabel (allCaption, juce::Justification::centredRight, FlatLookAndFeel::font (14.0f, juce::Font::bold), qvn::theme::kMutedCol);
    addAndMakeVisible (allCaption);

    allBypassButton.setOffDrawable (svgIcon (BinaryData::icon_bypass_svg, BinaryData::icon_bypass_svgSize));
    allResetButton.setOffDrawable (svgIcon (BinaryData::icon_reset_svg, BinaryData::icon_reset_svgSize));
    allLinkButton.setOffDrawable (svgIcon (BinaryData::icon_link_svg, BinaryData::icon_link_svgSize));
    allLockButton.setOffDrawable (svgIcon (BinaryData::icon_unlock_svg, BinaryData::icon_unlock_svgSize));
    for (auto* b : { &allBypassButton, &allResetButton, &allLinkButton, &allLockButton })
    {
        b->setOffColour (qvn::theme::kMutedCol);
        addAndMakeVisible (*b);
    }
}

void QuorvaneEditor::initHeaderButtons()
{
    abToggle.setClickingTogglesState (true);
    abToggle.setLookAndFeel (&abLook);
    addAndMakeVisible (abToggle);
    abCopyButton.setLookAndFeel (&titleButtonLook);
    addAndMakeVisible (abCopyButton);

    logoDrawable = svgDrawable (BinaryData::brand_logo_svg, BinaryData::brand_logo_svgSize, qvn::theme::kMutedCol);
    titleDrawable = svgDrawable (BinaryData::title_text_svg, BinaryData::title_text_svgSize, qvn::theme::kTextCol);

    auto makeIconButton = [this] (const char* name, const char* data, int size)
    {
        auto b = std::make_unique<juce::DrawableButton> (name, juce::DrawableButton::ImageFitted);
        auto normal = svgDrawable (data, size, juce::Colour (0xff828d85));
        auto over = svgDrawable (data, size, qvn::theme::kTextCol);
        auto on = svgDrawable (data, size, qvn::theme::kAccentCol);
        b->setImages (normal.get(), over.get(), nullptr, nullptr, on.get(), on.get());
        b->setLookAndFeel (&titleButtonLook);
        addAndMakeVisible (*b);
        return b;
    };
    undoButton = makeIconButton ("Undo", BinaryData::undo_icon_svg, BinaryData::undo_icon_svgSize);
    redoButton = makeIconButton ("Redo", BinaryData::redo_icon_svg, BinaryData::redo_icon_svgSize);
    sidebarButton = makeIconButton ("Sidebar", BinaryData::panelleft_svg, BinaryData::panelleft_svgSize);
    undoButton->setEnabled (false);
    redoButton->setEnabled (false);

    sidebarVisible = AppSettings::get().properties.getUserSettings()->getBoolValue ("sidebarVisible", true);
    sidebarButton->setClickingTogglesState (true);
    sidebarButton->setToggleState (sidebarVisible, juce::dontSendNotification);

    statusLabel.setJustificationType (juce::Justification::centredLeft);
    statusLabel.setFont (FlatLookAndFeel::dinFont (11.5f).withExtraKerningFactor (0.07f));
    statusLabel.setBorderSize ({});
    addAndMakeVisible (statusLabel);
}

void QuorvaneEditor::initStatusAndUtility()
{
    linkAllButton.setClickingTogglesState (true);
    addAndMakeVisible (linkAllButton);

    {
        float v = 0.0f;
        if (auto* raw = proc.parameters.getRawParameterValue (ids::section))
            v = raw->load();
        const int r = (int) std::nearbyint (v);
        const int n = juce::jmax (1, proc.numSections.load());
        rebindOffsetSlider (r < 0 ? 0 : juce::jmin (r, n - 1));
    }

    settingsButton.kind = 6;
    addAndMakeVisible (settingsButton);

    if (proc.showTooltips.load())
        tooltipWindow = std::make_unique<juce::TooltipWindow> (this, 700);

    updateBell.setLookAndFeel (&bellLook);
    updateBell.setColour (juce::TextButton::textColourOffId, qvn::theme::kOrangeCol);
    offsetSlider.setLookAndFeel (&sliderLook);
    linkAllButton.setLookAndFeel (&linkAllLook);
    addAndMakeVisible (updateBell);

    zoomGrip.onDragStart = [this]
    {
        zoomDragStartZoom = userZoom;
        zoomDragStartWidth = (float) getWidth() * (userZoom * hostScale);
        zoomDragStartHeight = (float) getHeight() * (userZoom * hostScale);
    };
    zoomGrip.onDrag = [this] (int dx, int dy)
    {
        if (zoomDragStartWidth <= 1.0f || zoomDragStartHeight <= 1.0f)
            return;
        float z = zoomDragStartZoom * 0.5f * ((zoomDragStartWidth + (float) dx) / zoomDragStartWidth
                                              + (zoomDragStartHeight + (float) dy) / zoomDragStartHeight);
        const float q = z < 0.5f ? 100.0f : juce::jmin (z, 2.0f) / 0.005f;
        z = (float) std::nearbyint (q) * 0.005f;
        applyUserZoomLocal (z);
    };
    zoomGrip.onDragEnd = [this] { applyUserZoom (userZoom); };
    zoomGrip.setMouseCursor (juce::MouseCursor::BottomRightCornerResizeCursor);
    addAndMakeVisible (zoomGrip);
}

//==============================================================================
void QuorvaneEditor::applyMeterRange()
{
    const auto range = AppSettings::get().meterRange();
    ownMeter.setRange (range.low, range.high);
    partnerMeter.setRange (range.low, range.high);
    for (auto& m : otherVocalMeters)
        m->setRange (range.low, range.high);
}

void QuorvaneEditor::applyLearnRange()
{
    const auto range = AppSettings::get().learnRange();
    for (auto* chart : { &sectionChart, &instChart })
    {
        chart->displayMinLufs = range.low;
        chart->displayMaxLufs = range.high;
        chart->repaint();
    }
}

void QuorvaneEditor::reloadOffsetTargets()
{
    offsetTargets = AppSettings::get().offsetTargets();

    juce::String stored;
    {
        std::lock_guard<std::mutex> lock (proc.partnerMutex);
        stored = proc.offsetTarget;
    }
    if (stored.isNotEmpty()
        && std::none_of (offsetTargets.begin(), offsetTargets.end(),
                         [&] (const qvn::OffsetTarget& t) { return t.name.equalsIgnoreCase (stored); }))
        proc.setOffsetTargetName ({});

    offsetTargetSelected = false;
    applyOffsetTargetSelection();
}

//==============================================================================
// Offset Targets, display ranges and the RMS Time popup.

namespace
{
juce::String fromUtf8 (const char* text) { return juce::String::fromUTF8 (text); }

int findTargetByName (const std::vector<qvn::OffsetTarget>& list, const juce::String& name)
{
    if (name.isEmpty())
        return -1;
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].name.equalsIgnoreCase (name))
            return (int) i;
    return -1;
}

void normaliseTargetRange (float& lo, float& hi)
{
    if (! std::isfinite (lo)) lo = -2.0f;
    if (! std::isfinite (hi)) hi = 2.0f;
    const float l = juce::jlimit (-12.0f, 11.5f, juce::jmin (lo, hi));
    const float h = juce::jmax (l + 0.5f, juce::jmin (juce::jmax (lo, hi), 12.0f));
    lo = l;
    hi = h;
}
} // namespace

juce::String qvn::uiText::offsetTargetButtonTooltip (int language, const juce::String& name, const juce::String& rangeText)
{
    if (language == 1)
        return (name.isNotEmpty() ? fromUtf8 ("選択中のターゲット: ") + name + " (" + rangeText + fromUtf8 (")。")
                                  : fromUtf8 ("ターゲット未選択。"))
               + fromUtf8 ("Offset Gain の目安範囲 (ターゲット) を選びます。選ぶとその範囲がスライダー上で光ります。"
                           "メニューから新しいターゲットの作成、選択中の名前・範囲の編集、削除ができます。"
                           "ターゲットは全インスタンス共通で、どれを選んでいるかはインスタンスごとにプロジェクトへ保存されます。"
                           "表示のみで、値には影響しません。");
    return (name.isNotEmpty() ? "Selected target: " + name + " (" + rangeText + "). " : juce::String ("No target selected. "))
           + "Pick an Offset Gain guide range (target); the chosen range lights up on the slider. The menu also creates a "
             "new target and renames, re-ranges or deletes the selected one. Targets are shared by every instance; the "
             "selection is saved per instance with the project. Display only - the value is never changed.";
}

juce::String QuorvaneEditor::offsetTargetRangeText (const qvn::OffsetTarget& t)
{
    auto end = [] (float v) { return (v > 0.0f ? "+" : "") + juce::String (v, 1); };
    return end (t.lo) + fromUtf8 (" ～ ") + end (t.hi) + " dB";
}

juce::String QuorvaneEditor::offsetTargetButtonTooltipText (int language) const
{
    juce::String stored;
    {
        std::lock_guard<std::mutex> lock (proc.partnerMutex);
        stored = proc.offsetTarget;
    }
    const int i = findTargetByName (offsetTargets, stored);
    if (i < 0)
        return qvn::uiText::offsetTargetButtonTooltip (language, {}, {});
    const auto& t = offsetTargets[(size_t) i];
    return qvn::uiText::offsetTargetButtonTooltip (language, t.name, offsetTargetRangeText (t));
}

void QuorvaneEditor::applyOffsetTargetSelection()
{
    juce::String n;
    {
        std::lock_guard<std::mutex> lock (proc.partnerMutex);
        n = proc.offsetTarget;
    }
    if (offsetTargetSelected && selectedOffsetTarget == n)
        return;
    selectedOffsetTarget = n;
    offsetTargetSelected = true;

    const int i = findTargetByName (offsetTargets, n);
    offsetTargetButton.setToggleState (i >= 0, juce::dontSendNotification);
    if (i >= 0)
    {
        const auto& t = offsetTargets[(size_t) i];
        offsetSlider.targetBandLo = t.lo;
        offsetSlider.targetBandHi = t.hi;
        offsetSlider.showTargetBand = true;
        offsetSlider.repaint();
        if (offsetTargetButton.getButtonText() != t.name)
            offsetTargetButton.setButtonText (t.name);
    }
    else
    {
        if (offsetSlider.showTargetBand)
        {
            offsetSlider.showTargetBand = false;
            offsetSlider.repaint();
        }
        if (offsetTargetButton.getButtonText() != "TARGET")
            offsetTargetButton.setButtonText ("TARGET");
    }
    offsetTargetButton.setTooltip (offsetTargetButtonTooltipText (proc.tooltipLang.load()));
}

juce::PopupMenu QuorvaneEditor::buildOffsetTargetMenu()
{
    reloadOffsetTargets();
    const bool ja = proc.tooltipLang.load() == 1;
    juce::String stored;
    {
        std::lock_guard<std::mutex> lock (proc.partnerMutex);
        stored = proc.offsetTarget;
    }
    const int selected = findTargetByName (offsetTargets, stored);

    juce::PopupMenu menu;
    menu.setLookAndFeel (&menuLook);
    menu.addSectionHeader ("OFFSET TARGET");
    menu.addItem (1, "None", true, selected < 0);
    for (size_t k = 0; k < offsetTargets.size(); ++k)
    {
        juce::PopupMenu::Item item (offsetTargets[k].name);
        item.itemID = 100 + (int) k;
        item.shortcutKeyDescription = offsetTargetRangeText (offsetTargets[k]);
        item.isTicked = (int) k == selected;
        menu.addItem (item);
    }
    menu.addSeparator();
    menu.addItem (2, ja ? fromUtf8 ("新しいターゲット...") : juce::String ("New target..."), true, false);
    juce::String editText;
    if (selected >= 0)
        editText = ja ? "\"" + stored + "\"" + fromUtf8 (" を編集...") : "Edit \"" + stored + "\"...";
    else
        editText = ja ? fromUtf8 ("選択中を編集...") : juce::String ("Edit selected...");
    menu.addItem (3, editText, selected >= 0, false);
    return menu;
}

void QuorvaneEditor::showOffsetTargetMenu()
{
    juce::Component::SafePointer<QuorvaneEditor> safe (this);
    buildOffsetTargetMenu().showMenuAsync (juce::PopupMenu::Options().withTargetComponent (&offsetTargetButton).withMinimumWidth (232),
                                           [safe] (int result)
                                           {
                                               if (auto* e = safe.getComponent())
                                                   e->handleOffsetTargetMenuResult (result);
                                           });
}

void QuorvaneEditor::handleOffsetTargetMenuResult (int itemId)
{
    if (itemId == 1)
    {
        proc.setOffsetTargetName ({});
        applyOffsetTargetSelection();
    }
    else if (itemId == 2)
    {
        showOffsetTargetEditPopup (-1, offsetTargetButton.getScreenBounds());
    }
    else if (itemId == 3)
    {
        juce::String stored;
        {
            std::lock_guard<std::mutex> lock (proc.partnerMutex);
            stored = proc.offsetTarget;
        }
        const int k = findTargetByName (offsetTargets, stored);
        if (k >= 0)
            showOffsetTargetEditPopup (k, offsetTargetButton.getScreenBounds());
    }
    else if (itemId >= 100 && itemId - 100 < (int) offsetTargets.size())
    {
        proc.setOffsetTargetName (offsetTargets[(size_t) (itemId - 100)].name);
        applyOffsetTargetSelection();
    }
}

void QuorvaneEditor::showOffsetTargetEditPopup (int index, juce::Rectangle<int> anchorScreenBounds)
{
    reloadOffsetTargets();
    const bool editing = index >= 0;
    if (index >= (int) offsetTargets.size())
        return;

    const bool ja = proc.tooltipLang.load() == 1;
    OffsetTargetEditPopup::Strings s;
    s.title = editing ? (ja ? fromUtf8 ("ターゲットを編集") : juce::String ("Edit Target"))
                      : (ja ? fromUtf8 ("新しいターゲット") : juce::String ("New Target"));
    s.nameLabel = ja ? fromUtf8 ("名前") : juce::String ("Name");
    s.minLabel = ja ? fromUtf8 ("最小") : juce::String ("Min");
    s.maxLabel = ja ? fromUtf8 ("最大") : juce::String ("Max");
    s.deleteLabel = ja ? fromUtf8 ("削除") : juce::String ("Delete");
    s.cancelLabel = ja ? fromUtf8 ("キャンセル") : juce::String ("Cancel");
    s.okLabel = "OK";

    const qvn::OffsetTarget initial = editing ? offsetTargets[(size_t) index] : qvn::OffsetTarget { {}, -2.0f, 2.0f };
    auto popup = std::make_unique<OffsetTargetEditPopup> (initial.name, initial.lo, initial.hi, editing, s);

    // The entry is remembered by its name: another editor may reorder, rename
    // or delete targets while this popup is open.
    juce::Component::SafePointer<QuorvaneEditor> safe (this);
    const auto oldName = initial.name;
    popup->onCommit = [safe, oldName, editing] (const juce::String& name, float lo, float hi)
    {
        auto* e = safe.getComponent();
        return e == nullptr || e->commitOffsetTargetEdit (oldName, editing, name, lo, hi);
    };
    popup->onDelete = [safe, oldName, editing]
    {
        if (auto* e = safe.getComponent(); e != nullptr && editing)
            e->deleteOffsetTarget (oldName);
    };

    popup->setSize (272, popup->titlePx() + 166);
    auto* nameField = &popup->nameField;
    launchCallOut (std::move (popup), anchorScreenBounds);
    if (nameField->isShowing())
        nameField->grabKeyboardFocus();
}

bool QuorvaneEditor::commitOffsetTargetEdit (const juce::String& oldName, bool editing, const juce::String& name, float lo, float hi)
{
    // The stored list, not the copy taken when the popup opened: edits made
    // meanwhile in other editors, here or in another host process, are kept.
    AppSettings::get().properties.getUserSettings()->takeOverValuesOnDisk();
    auto list = AppSettings::get().offsetTargets();
    const int index = editing ? findTargetByName (list, oldName) : -1;
    if (! qvn::isValidOffsetTargetName (name, list, index))
        return false;

    const auto n = qvn::normaliseOffsetTargetName (name);
    normaliseTargetRange (lo, hi);
    if (index >= 0)
        list[(size_t) index] = { n, lo, hi };
    else
        list.push_back ({ n, lo, hi }); // new, or edited while another editor deleted it

    AppSettings::get().setOffsetTargets (list);

    juce::String stored;
    {
        std::lock_guard<std::mutex> lock (proc.partnerMutex);
        stored = proc.offsetTarget;
    }
    if (! editing || stored.equalsIgnoreCase (oldName))
        proc.setOffsetTargetName (n);

    reloadOffsetTargets();
    return true;
}

void QuorvaneEditor::deleteOffsetTarget (const juce::String& oldName)
{
    AppSettings::get().properties.getUserSettings()->takeOverValuesOnDisk();
    auto list = AppSettings::get().offsetTargets();
    const int index = findTargetByName (list, oldName);
    if (index < 0)
    {
        reloadOffsetTargets();
        return;
    }
    list.erase (list.begin() + index);
    AppSettings::get().setOffsetTargets (list);

    juce::String stored;
    {
        std::lock_guard<std::mutex> lock (proc.partnerMutex);
        stored = proc.offsetTarget;
    }
    if (stored.equalsIgnoreCase (oldName))
        proc.setOffsetTargetName ({});
    reloadOffsetTargets();
}

juce::CallOutBox* QuorvaneEditor::launchCallOut (std::unique_ptr<juce::Component> content, juce::Rectangle<int> anchorScreenBounds)
{
    if (auto* previous = dynamic_cast<juce::CallOutBox*> (openCallOut.getComponent()))
        previous->dismiss();

    // Owns the popup and its box for as long as the box is modal, like the
    // framework's own launcher, but takes the keyboard focus only when the
    // window is on screen (a window not shown cannot hold it). The modal
    // manager deletes this holder when the box closes.
    struct CallOutHolder : public juce::ModalComponentManager::Callback
    {
        CallOutHolder (std::unique_ptr<juce::Component> c, juce::Rectangle<int> area, juce::Component* parent)
            : popup (std::move (c)), box (*popup, area, parent)
        {
            box.setVisible (true);
            box.enterModalState (parent->isShowing(), this);
        }
        void modalStateFinished (int) override {}

        std::unique_ptr<juce::Component> popup;
        juce::CallOutBox box;
    };

    const auto anchor = getLocalArea (nullptr, anchorScreenBounds);
    auto& box = (new CallOutHolder (std::move (content), anchor, this))->box;
    box.setLookAndFeel (&callOutLook);
    box.setArrowSize (0.0f);
    box.updatePosition (anchor, getLocalBounds());
    box.repaint();
    openCallOut = &box;
    return &box;
}

void QuorvaneEditor::showRangeEditPopup (bool meterRange, juce::Rectangle<int> anchorScreenBounds)
{
    const bool ja = proc.tooltipLang.load() == 1;
    RangeEditPopup::Strings s;
    s.title = ja ? fromUtf8 ("LUFS表示範囲") : juce::String ("LUFS Display Range");
    s.minLabel = ja ? fromUtf8 ("最小") : juce::String ("Min");
    s.maxLabel = ja ? fromUtf8 ("最大") : juce::String ("Max");
    s.resetLabel = ja ? fromUtf8 ("リセット") : juce::String ("Reset");
    s.cancelLabel = ja ? fromUtf8 ("キャンセル") : juce::String ("Cancel");
    s.okLabel = "OK";

    const auto current = meterRange ? AppSettings::get().meterRange() : AppSettings::get().learnRange();
    const float defMin = meterRange ? qvn::kDefaultMeterRangeMin : qvn::kDefaultLearnRangeMin;
    const float defMax = meterRange ? qvn::kDefaultMeterRangeMax : qvn::kDefaultLearnRangeMax;
    auto popup = std::make_unique<RangeEditPopup> (current.low, current.high, defMin, defMax, s);

    juce::Component::SafePointer<QuorvaneEditor> safe (this);
    popup->onCommit = [safe, meterRange] (float lo, float hi)
    {
        if (auto* e = safe.getComponent())
            e->commitRangeEdit (meterRange, lo, hi);
    };
    popup->setSize (232, popup->titlePx() + 134);
    launchCallOut (std::move (popup), anchorScreenBounds);
}

void QuorvaneEditor::commitRangeEdit (bool meterRange, float lo, float hi)
{
    // The store limits the pair with the defaults of the edited range and
    // saves the file at once.
    if (meterRange)
    {
        AppSettings::get().setMeterRange (lo, hi);
        applyMeterRange();
    }
    else
    {
        AppSettings::get().setLearnRange (lo, hi);
        applyLearnRange();
    }
}

void QuorvaneEditor::showRmsTimePopup (juce::Rectangle<int> anchorScreenBounds)
{
    if (LinkRegistry::get().anyMeasurementActive())
        return;

    struct RmsTimePopup : public juce::Component
    {
        void resized() override
        {
            auto area = getLocalBounds().reduced (10, 8);
            title.setBounds (area.removeFromTop (juce::jmin (18, area.getHeight())));
            slider.setBounds (area);
        }
        juce::Label title;
        juce::Slider slider { juce::Slider::LinearHorizontal, juce::Slider::TextBoxRight };
    };

    const bool ja = proc.tooltipLang.load() == 1;
    auto popup = std::make_unique<RmsTimePopup>();
    popup->title.setText ("RMS Time", juce::dontSendNotification);
    popup->title.setFont (FlatLookAndFeel::font (12.0f, juce::Font::bold));
    popup->title.setColour (juce::Label::textColourId, juce::Colour (0xffeaefe9));
    popup->addAndMakeVisible (popup->title);

    auto& slider = popup->slider;
    slider.setRange (0.5, 10.0, 0.1);
    slider.setValue (proc.rmsTimeSec.load(), juce::dontSendNotification);
    slider.setTextValueSuffix (" s");
    slider.setNumDecimalPlacesToDisplay (1);
    slider.setTooltip (ja ? fromUtf8 ("RMS TimeはK-RMSとCustom RMSの平均化時間です（0.5〜10秒、短いほど速く反応）。"
                                      "変更するとK-RMSは保存履歴から再計算され、Custom RMSは履歴を消去して再測定が必要になります。")
                          : juce::String ("RMS Time is the averaging time for K-RMS and Custom RMS (0.5-10 s; shorter reacts faster). "
                                          "Changing it re-evaluates K-RMS from stored history and clears Custom RMS history, "
                                          "which then requires a re-measure."));
    popup->addAndMakeVisible (slider);

    juce::Component::SafePointer<QuorvaneEditor> safe (this);
    slider.onDragStart = [safe]
    {
        if (auto* e = safe.getComponent())
        {
            e->proc.rmsTimeDragActive = true;
            e->proc.rmsTimeDragUndoPending = true;
        }
    };
    slider.onDragEnd = [safe]
    {
        if (auto* e = safe.getComponent())
        {
            e->proc.rmsTimeDragActive = false;
            e->proc.rmsTimeDragUndoPending = false;
        }
    };
    slider.onValueChange = [safe, s = &slider]
    {
        auto* e = safe.getComponent();
        if (e == nullptr)
            return;
        if (LinkRegistry::get().anyMeasurementActive())
        {
            s->setValue (e->proc.rmsTimeSec.load(), juce::dontSendNotification);
            return;
        }
        e->proc.setRmsTimeSecFromUi ((float) s->getValue());
        e->refreshMeterModeUi();
    };

    // A box closed while the slider is held (Escape, a click elsewhere, the
    // next popup) never sends the drag's end: the flags are cleared with it.
    struct DragFlagGuard : public juce::ComponentListener
    {
        explicit DragFlagGuard (juce::Component::SafePointer<QuorvaneEditor> e) : editor (e) {}
        void componentBeingDeleted (juce::Component& c) override
        {
            if (auto* e = editor.getComponent())
            {
                e->proc.rmsTimeDragActive = false;
                e->proc.rmsTimeDragUndoPending = false;
            }
            c.removeComponentListener (this);
            delete this;
        }
        juce::Component::SafePointer<QuorvaneEditor> editor;
    };
    popup->addComponentListener (new DragFlagGuard (safe));

    popup->setSize (260, 64);
    launchCallOut (std::move (popup), anchorScreenBounds);
}


void QuorvaneEditor::refreshMeterModeUi()
{
    const int d = proc.meterDispMode.load();
    const int m = juce::jlimit (0, 2, proc.measMode.load());
    const float t = proc.rmsTimeSec.load();
    meterModeCache = { d, m, t };

    juce::String caption, unit;
    if (m == 0)
    {
        caption = d == 2 ? "Integrated LUFS" : (d == 1 ? "Momentary LUFS" : "Short-term LUFS");
        unit = "LUFS";
    }
    else if (m == 1)
    {
        caption = "K-weighted RMS";
        unit = "K-RMS";
    }
    else
    {
        caption = "Custom RMS";
        unit = "Custom RMS";
    }

    if (railModeButton.getButtonText() != caption)
        railModeButton.setButtonText (caption);

    columnCaptions[0].setText ("Vocal " + unit, juce::dontSendNotification);
    columnCaptions[1].setText ("Inst " + unit, juce::dontSendNotification);
    vocalLufsCaption.setText ("VOCAL " + unit, juce::dontSendNotification);
    instLufsCaption.setText ("INST " + unit, juce::dontSendNotification);
}

void QuorvaneEditor::rebindOffsetSlider (int section)
{
    section = juce::jlimit (0, 15, section);
    if (section == boundOffsetSection && offsetAttachment != nullptr)
        return;

    offsetAttachment.reset();
    const auto id = offsetParamId (section);
    if (proc.parameters.getParameter (id) != nullptr)
        offsetAttachment = std::make_unique<juce::AudioProcessorValueTreeState::SliderAttachment> (proc.parameters, id, offsetSlider);
    boundOffsetSection = section;
}

void QuorvaneEditor::applyTooltips (int lang)
{
    const bool ja = lang == 1;
    auto t = [ja] (const char* en, const char* jp) { return ja ? juce::String::fromUTF8 (jp) : juce::String (en); };

    const auto offsetTip = t ("VOCAL LUFS = INST LUFS + Offset Gain. The default is 0 dB. Drag or type from -12 to +12 dB; -6 to +6 dB uses the middle two thirds of the slider. Shift-drag for fine adjustment; double-click the value to type. Right-drag applies the change to all unlocked sections regardless of link state. Use the TARGET button below to light a guide range on the slider.",
                              "VOCAL LUFS = INST LUFS + Offset Gain。初期値は0 dBです。ドラッグ・数値入力ともに-12〜+12 dB。中央の-6〜+6 dBはスライダー幅の2/3です。Shift＋ドラッグで微調整、数値をダブルクリックして直接入力できます。右ドラッグはリンク状態に関わらず、ロックされていない全セクションに変化量を反映します。下の TARGET ボタンで目安の範囲を選ぶと、スライダー上で光ります。");
    offsetSlider.setTooltip (offsetTip);
    offsetValue.setTooltip (offsetTip);
    offsetTargetButton.setTooltip (offsetTargetButtonTooltipText (lang));

    instTab.setTooltip (t ("Measures loudness only and does not change gain. Only one INST instance can be assigned.",
                           "ラウドネス測定のみ行い、ゲインは変更しません。1つのみ指定できます。"));
    vocalTab.setTooltip (t ("Adjusts gain to match the INST loudness. You can use it on multiple tracks, such as lead vocal layers, harmonies, and chorus parts, and manage them together. Double-click to rename.",
                            "INSTのラウドネスに合わせてゲインを調整します。複数トラックに利用できますので、メインボーカル（前段・後段）・ハモリ・コーラスなどに挿して、一括管理が可能です。ダブルクリックで名前を変更できます。"));

    const auto rowTip = t ("Measurement slot for each section. Use timeline automation to switch sections when the VOCAL level should change, such as in a chorus, or when the INST loudness changes.",
                           "セクションごとの測定スロット。サビなどでVOCALの音量を変化させたい場合や、INSTのラウドネスが変化する場合、タイムラインでオートメーション設定して切替えてください。");
    for (auto& row : sectionRows)
        row.setTooltip (rowTip);

    matchButton.setTooltip (t ("Start measuring the current section. Press again to stop and commit the gain.",
                               "現在のセクションの測定を開始します。もう一度押すと停止してゲインが確定します。"));
    railModeButton.setTooltip (t ("Switch the live meter display: Momentary (400 ms), Short-term (3 s), or Integrated (cumulative until the meter is click-reset; the \"I\" marker shows the current section value). You can also show or hide other instance bars from this menu. Display only; measurement results are unaffected.",
                                  "ライブメーターの表示を切替: Momentary（400ミリ秒）/ Short-term（3秒）/ Integrated（メータークリックでリセットされるまでの累積。\"I\" マーカーは現在セクションの値）。他インスタンスバーの表示/非表示もこのメニューから選べます。表示のみで、計測結果には影響しません。"));

    const auto pillTip = t ("Change the displayed LUFS range", "表示するLUFS範囲を変更");
    sectionChart.setTooltip (t ("Adjust the Learn History trim range. Drag the left or right handle to recalculate VOCAL / INST LUFS and Gain using only the kept range. Use this to exclude silence, unwanted sections at the beginning or end, or local sections where the volume changes significantly. The trim range is preserved when re-measuring.",
                                "Learn Historyのトリミング範囲を調整します。左右のハンドルをドラッグすると、残した範囲だけでVOCAL / INST のLUFSとGainを再計算します。前後の無音や不要な区間、局所的に音量が大きく変化する区間を除外したい場合にご利用ください。再測定時において、トリミング範囲は維持されます。"));
    sectionChart.rangePillTooltip = pillTip;
    if (sectionChart.emptyText != "Not measured")
    {
        sectionChart.emptyText = "Not measured";
        sectionChart.repaint();
    }
    instChart.setTooltip (t ("Adjust the Learn History trim range. Drag the left or right handle to recalculate INST LUFS and Match Gain using only the kept range. Use this to exclude silence or unwanted sections. The trim range is preserved when re-measuring.",
                             "Learn Historyのトリミング範囲を調整します。左右のハンドルをドラッグすると、残した範囲だけでINSTのLUFSとMatch Gainを再計算します。前後の無音や不要な区間を除外したい場合にご利用ください。再測定時において、トリミング範囲は維持されます。"));
    instChart.rangePillTooltip = pillTip;
    if (instChart.emptyText != "Not measured")
    {
        instChart.emptyText = "Not measured";
        instChart.repaint();
    }
    instMeasureButton.setTooltip (t ("Measure the INST loudness and apply the Match Gain needed to hit the Target LUFS. Press again to stop measuring.",
                                     "INSTのLUFSを測定し、Target LUFSに合わせるMatch Gainを自動適用します。もう一度押すと測定を停止します。"));

    const auto resetTip = t ("Reset the analysis result for this section. Bypass is preserved.",
                             "このセクションの解析結果をリセットします。Bypassは保持されます。");
    const auto bypassTip = t ("Bypass gain correction for this section for comparison.",
                              "このセクションのゲイン補正をバイパスします（比較用）。");
    const auto linkTip = t ("Sync Offset Gain across sections in the same colour group. Left-click cycles through No Link, Link1 (red), Link2 (green), Link3 (blue), then back to No Link. Right-click clears the link. Use this when you want to link chorus sections and adjust their Offset Gain together.",
                            "同色グループ内のセクションで Offset Gain を同期します。左クリックで Linkなし → Link1 (赤) → Link2 (緑) → Link3 (青) → Linkなし を循環し、右クリックでLinkなしになります。サビのセクションをリンクさせて、Offset Gainをまとめて調整したい場合などにご利用ください。");
    const auto lockTip = t ("Lock this section. While locked, MATCH TO INST results are skipped, and Reset / Offset Gain / Link changes are blocked. When re-measuring only one section, lock the sections before and after it so you can re-measure without affecting other sections.",
                            "セクションをロックします。ロック中は MATCH TO INSTの結果がスキップされ、Reset / Offset Gain / Linkの変更ができません。単一セクションのみを再測定する場合は、前後のセクションをロックしておくことで、他のセクションに影響を与えずに再測定できます。");
    for (size_t i = 0; i < 16; ++i)
    {
        rowResetButtons[i].setTooltip (resetTip);
        rowBypassButtons[i].setTooltip (bypassTip);
        rowLinkButtons[i].setTooltip (linkTip);
        rowLockButtons[i].setTooltip (lockTip);
    }

    abToggle.setTooltip (t ("Switch between slot A and B. Current settings are auto-saved when switching.",
                            "スロット A / B を切替。切替時に現在の設定が自動保存されます。"));
    abCopyButton.setTooltip (t ("Copy the current slot into the other slot.", "現在のスロットを反対側へコピーします。"));
    if (undoButton != nullptr)
        undoButton->setTooltip (t ("Undo the last action (up to 50 steps).", "直前の操作を取り消します（最大 50 回）。"));
    if (redoButton != nullptr)
        redoButton->setTooltip (t ("Redo the previously undone action.", "取り消した操作をやり直します。"));
    if (sidebarButton != nullptr)
        sidebarButton->setTooltip (t ("Show or hide the left section sidebar.",
                                      "左サイドバー（セクション一覧）の表示／非表示を切替えます。"));
    linkAllButton.setTooltip (t ("When on, a change of the Offset Gain slider is applied to every section at once.",
                                 "ON にすると、オフセットスライダーの変更が全セクションに同時適用されます。"));
    allBypassButton.setTooltip (t ("Bypass or un-bypass gain correction for all sections at once. Locked sections are not changed.",
                                   "全セクションのゲイン補正をまとめてバイパス／解除します。ロック中のセクションは変更されません。"));
    allResetButton.setTooltip (t ("Reset the analysis results for all sections at once. Locked sections are not reset.",
                                  "全セクションの解析結果をまとめてリセットします。ロック中のセクションはリセットされません。"));
    allLinkButton.setTooltip (t ("Change the Link group for all sections at once. Click to cycle through Link1 (red), Link2 (green), Link3 (blue), then No Link. Locked sections are not changed.",
                                 "全セクションの Link グループをまとめて切替えます。クリックで Link1 (赤) → Link2 (緑) → Link3 (青) → Linkなし を循環します。ロック中のセクションは変更されません。"));
    allLockButton.setTooltip (t ("Lock or unlock all sections.", "全セクションをロック／解除します。"));
    settingsButton.setTooltip (t ("Open the settings menu (tooltip language, UI zoom, updates, version info, and more).",
                                  "設定メニューを開きます（ツールチップ言語・表示サイズ・アップデート・バージョン情報など）。"));
    zoomGrip.setTooltip (t ("Drag to resize the interface.", "ドラッグして表示サイズを変更します。"));

    refreshUpdateUI();
}

void QuorvaneEditor::refreshUpdateUI()
{
    const bool show = updateChecker != nullptr && updateChecker->hasNewVersion();
    if (show)
    {
        const auto caption = juce::String::fromUTF8 ("● Update available");
        if (updateBell.getButtonText() != caption)
            updateBell.setButtonText (caption);
        updateBell.setTooltip (proc.tooltipLang.load() == 1 ? juce::String::fromUTF8 ("更新が利用可能です。")
                                                            : juce::String ("An update is available."));
    }
    if (updateBell.isVisible() != show)
        updateBell.setVisible (show);
    resized();
    repaint();
}

//==============================================================================
void QuorvaneEditor::initHeaderActions()
{
    vocalTab.hoverHighlight = true;
    vocalTab.onDoubleClick = [this] { startInstanceRename(); };

    renameEditor.onTextChange = [this] { updateRenameEditorFont(); };
    renameEditor.onReturnKey = [this] { commitInstanceRename (true); };
    renameEditor.onEscapeKey = [this] { commitInstanceRename (false); };
    renameEditor.onFocusLost = [this] { commitInstanceRename (true); };
    clickCatcher.onMouseDown = [this] { commitInstanceRename (true); };

    englishToggle.onClick = [this] { selectLanguage (0); };
    japaneseToggle.onClick = [this] { selectLanguage (1); };
    baseLook.tooltipJapanese = proc.tooltipLang.load() == 1;

    if (undoButton != nullptr)
        undoButton->onClick = [this] { proc.undo(); };
    if (redoButton != nullptr)
        redoButton->onClick = [this] { proc.redo(); };

    abToggle.onClick = [this]
    {
        const int wanted = abToggle.getToggleState() ? 1 : 0;
        if (wanted != proc.currentAB.load())
            proc.selectABSlot (wanted);
        refreshABControls();
    };
    abCopyButton.onClick = [this] { proc.copyToOtherABSlot(); };

    if (sidebarButton != nullptr)
        sidebarButton->onClick = [this] { toggleSidebar(); };
}

void QuorvaneEditor::startInstanceRename()
{
    if (currentRole() != 2)
        return;

    renameStartText = ownVocalTitle();
    const float h = (float) vocalTab.getHeight();
    renameEditor.setFont (FlatLookAndFeel::dinFont (juce::jmin (0.5f * h, 15.0f), juce::Font::bold).withExtraKerningFactor (0.12f));
    renameEditor.setBounds (vocalTab.getBounds());
    renameEditor.setIndents (0, 0);
    renameEditor.setText (renameStartText, false);
    updateRenameEditorFont();
    vocalTab.setButtonText ({});

    clickCatcher.setBounds (getLocalBounds());
    clickCatcher.setVisible (true);
    clickCatcher.toFront (false);
    renameEditor.setVisible (true);
    renameEditor.toFront (true);
    if (renameEditor.isShowing())   // a window not on screen cannot take the keyboard
        renameEditor.grabKeyboardFocus();
    renameEditor.selectAll();
}

void QuorvaneEditor::updateRenameEditorFont()
{
    renameEditor.applyFontToAllText (FlatLookAndFeel::roleTabFontFor (renameEditor.getText(), (float) vocalTab.getHeight(), 0.12f));
}

void QuorvaneEditor::commitInstanceRename (bool commit)
{
    if (! renameEditor.isVisible())
        return;

    clickCatcher.setVisible (false);
    const auto text = renameEditor.getText().trim();
    if (commit && text != renameStartText)
        proc.setInstanceName (text);

    renameEditor.setVisible (false);
    refreshRoleTabText();
    repaint();
}

void QuorvaneEditor::selectLanguage (int lang)
{
    proc.tooltipLang.store (lang);
    applyTooltips (lang);
    baseLook.tooltipJapanese = lang == 1;
    englishToggle.setToggleState (lang != 1, juce::dontSendNotification);
    japaneseToggle.setToggleState (lang == 1, juce::dontSendNotification);
    repaint();
}

void QuorvaneEditor::toggleSidebar()
{
    sidebarVisible = sidebarButton != nullptr && sidebarButton->getToggleState();
    if (auto* settings = AppSettings::get().properties.getUserSettings())
    {
        settings->setValue ("sidebarVisible", sidebarVisible);
        settings->saveIfNeeded();
    }
    updateRoleVisibility();
    resized();
    repaint();
}

//==============================================================================
// Section choice, section actions, Link All and the Offset Gain slider.

int QuorvaneEditor::currentSectionParam() const
{
    float v = 0.0f;
    if (auto* raw = proc.parameters.getRawParameterValue (ids::section))
        v = raw->load();
    const int r = (int) std::nearbyint (v);
    const int n = juce::jmax (1, proc.numSections.load());
    return juce::jlimit (0, n - 1, r);
}

void QuorvaneEditor::requestSection (int target)
{
    // Written three ways: the request the audio thread commits, the value
    // incoming automation is compared with, and the host parameter.
    if (sectionAttachment == nullptr)
        return;
    proc.editorSectionEcho.store (target);
    proc.uiSectionRequest.store (target);
    proc.uiSectionRequestSerial.fetch_add (1);
    sectionAttachment->setValueAsCompleteGesture ((float) target);
}

void QuorvaneEditor::initSectionActions()
{
    if (auto* param = proc.parameters.getParameter (ids::section))
    {
        sectionAttachment = std::make_unique<juce::ParameterAttachment> (*param, [this] (float value)
        {
            const int s = juce::jlimit (0, 15, (int) std::nearbyint (value));
            for (int i = 0; i < 16; ++i)
                sectionRows[(size_t) i].setToggleState (i == s, juce::dontSendNotification);
            resized();
        });
        sectionAttachment->sendInitialUpdate();
    }

    for (int i = 0; i < 16; ++i)
    {
        sectionRows[(size_t) i].onClick = [this, i]
        {
            // A radio row that a click turns off is told as well; only the
            // row that is now on chooses.
            if (! sectionRows[(size_t) i].getToggleState())
                return;
            if (proc.followAutomation.load())
            {
                const int cur = currentSectionParam();
                for (int j = 0; j < 16; ++j)
                    sectionRows[(size_t) j].setToggleState (j == cur, juce::dontSendNotification);
                return;
            }
            requestSection (i);
        };

        auto& sec = proc.sections[(size_t) i];
        rowBypassButtons[(size_t) i].onClick = [this, i, &sec]
        {
            auto& button = rowBypassButtons[(size_t) i];
            if (sec.locked.load())
            {
                button.setToggleState (sec.bypass.load(), juce::dontSendNotification);
                return;
            }
            const bool b = button.getToggleState();
            if (sec.bypass.load() != b)
            {
                proc.pushUndoSnapshot();
                sec.bypass.store (b);
            }
        };
        rowResetButtons[(size_t) i].onClick = [this, i, &sec]
        {
            if (sec.locked.load())
                return;
            proc.pushUndoSnapshot();
            proc.resetSectionMeasurementNoUndo (i);
        };
        rowLinkButtons[(size_t) i].onClick = [this, &sec]
        {
            if (sec.locked.load())
                return;
            const int g = (sec.linkGroup.load() + 1) % 4;
            if (g != sec.linkGroup.load())
            {
                proc.pushUndoSnapshot();
                sec.linkGroup.store (g);
            }
        };
        rowLinkButtons[(size_t) i].onRightClick = [this, i, &sec]
        {
            if (sec.locked.load())
                return;
            if (sec.linkGroup.load() != 0)
            {
                proc.pushUndoSnapshot();
                sec.linkGroup.store (0);
            }
            auto& button = rowLinkButtons[(size_t) i];
            button.setOffColour (juce::Colour (0xff7e7f83));
            button.getProperties().set ("tint", juce::Colour (0xff7e7f83).toString());
            button.repaint();
        };
        rowLockButtons[(size_t) i].onClick = [this, i, &sec]
        {
            const bool b = rowLockButtons[(size_t) i].getToggleState();
            if (sec.locked.load() != b)
            {
                proc.pushUndoSnapshot();
                sec.locked.store (b);
            }
        };
    }

    auto step = [this] (int delta)
    {
        if (proc.followAutomation.load())
            return;
        const int n = juce::jmax (1, proc.numSections.load());
        const int cur = currentSectionParam();
        const int target = juce::jlimit (0, n - 1, cur + delta);
        if (target != cur)
            requestSection (target);
    };
    prevSectionButton.onClick = [step] { step (-1); };
    nextSectionButton.onClick = [step] { step (1); };

    allBypassButton.onClick = [this]
    {
        const int n = juce::jlimit (0, 16, proc.numSections.load());
        bool target = false;
        for (int i = 0; i < n; ++i)
            if (! proc.sections[(size_t) i].locked.load() && ! proc.sections[(size_t) i].bypass.load())
                target = true;
        bool differs = false;
        for (int i = 0; i < n; ++i)
            if (! proc.sections[(size_t) i].locked.load() && proc.sections[(size_t) i].bypass.load() != target)
                differs = true;
        if (! differs)
            return;
        proc.pushUndoSnapshot();
        for (int i = 0; i < n; ++i)
            if (! proc.sections[(size_t) i].locked.load())
                proc.sections[(size_t) i].bypass.store (target);
    };

    allLockButton.onClick = [this]
    {
        const int n = juce::jlimit (0, 16, proc.numSections.load());
        bool target = false;
        for (int i = 0; i < n; ++i)
            if (! proc.sections[(size_t) i].locked.load())
                target = true;
        bool differs = false;
        for (int i = 0; i < n; ++i)
            if (proc.sections[(size_t) i].locked.load() != target)
                differs = true;
        if (! differs)
            return;
        proc.pushUndoSnapshot();
        for (int i = 0; i < n; ++i)
            proc.sections[(size_t) i].locked.store (target);
    };

    allResetButton.onClick = [this]
    {
        const int n = juce::jlimit (0, 16, proc.numSections.load());
        const auto slot = proc.ownSlot;
        auto hasSomething = [&] (int i)
        {
            const auto& s = proc.sections[(size_t) i];
            if (s.locked.load())
                return false;
            if (s.frozen.load() || std::abs (s.selfLufs.load() + 120.0f) > 0.0001f || std::abs (s.partnerLufs.load() + 120.0f) > 0.0001f
                || std::abs (s.gainDb.load()) > 0.0001f || std::abs (s.seconds.load()) > 0.0001f || s.linkGroup.load() != 0
                || std::abs (proc.getSectionOffset (i)) > 0.0001f)
                return true;
            if (slot != nullptr
                && (slotMeasurementWouldChange (slot->ownSections[(size_t) i]) || slotMeasurementWouldChange (slot->instSections[(size_t) i])))
                return true;
            const std::lock_guard<std::mutex> lock (proc.analysisMutex);
            return std::abs (s.analysisSeconds.load()) > 0.0001f || std::abs (s.trimStart.load()) > 0.0001f
                   || std::abs (s.trimEnd.load() - 1.0f) > 0.0001f || ! s.selfHistory.empty() || ! s.partnerHistory.empty();
        };
        for (int i = 0; i < n; ++i)
            if (hasSomething (i))
            {
                proc.pushUndoSnapshot();
                for (int j = 0; j < n; ++j)
                    proc.resetSectionMeasurementNoUndo (j);
                return;
            }
    };

    auto applyAllLink = [this] (int group)
    {
        allLinkGroupCycle = group;
        proc.setAllSectionLinkGroup (group);
        const juce::Colour colours[4] = { juce::Colour (0xff7e7f83), juce::Colour (0xffc04a4a), juce::Colour (0xff3ecf82), juce::Colour (0xff4a82c0) };
        allLinkButton.setOffColour (colours[group]);
        allLinkButton.repaint();
    };
    allLinkButton.onClick = [this, applyAllLink] { applyAllLink ((allLinkGroupCycle + 1) % 4); };
    allLinkButton.onRightClick = [applyAllLink] { applyAllLink (0); };

    linkAllButton.onClick = [this]
    {
        const bool b = linkAllButton.getToggleState();
        if (proc.linkOffsets.load() != b)
        {
            proc.pushUndoSnapshot();
            proc.linkOffsets.store (b);
        }
    };

    offsetSlider.onAllSectionsDrag = [this] (bool on)
    {
        // The processor passes Offset Gain changes on from its message-thread
        // update; the last change of the drag is handed over before the flag
        // goes, so it still moves every section.
        if (! on)
            proc.handleUpdateNowIfNeeded();
        proc.offsetDragAllSections.store (on);
    };
    offsetSlider.onDragStart = [this]
    {
        const auto now = juce::Time::getMillisecondCounter();
        if (proc.offsetDragActive)
            return;
        proc.offsetDragActive = true;
        proc.offsetUndoTimeMs = now;
        proc.pushUndoSnapshot();
    };
    offsetSlider.onDragEnd = [this]
    {
        proc.offsetDragActive = false;
        proc.offsetUndoTimeMs = juce::Time::getMillisecondCounter();
    };
}

//==============================================================================
// The value labels' inline editors, the Vocal view's MATCH button, typed
// Offset Gain and chart trim, and the Target LUFS view's handlers.

void styleInlineValueEditor (juce::Label& label, juce::TextEditor& editor)
{
    editor.setJustification (juce::Justification::bottomRight);
    if (editor.getLeftIndent() != 0 || editor.getTopIndent() != 0)
        editor.setIndents (0, 0);

    const auto border = label.getBorderSize();
    editor.setBorder (juce::BorderSize<int> (border.getTop(), border.getLeft(), border.getBottom(),
                                             juce::jmax (0, border.getRight() - 2)));

    const auto font = label.getFont();
    editor.applyFontToAllText (font);

    const int h = juce::jmin (label.getHeight(),
                              border.getTop() + border.getBottom() + (int) std::ceil (font.getHeight()));
    editor.setBounds (0, label.getHeight() - h, label.getWidth(), h);

    for (auto id : { juce::TextEditor::backgroundColourId, juce::TextEditor::outlineColourId,
                     juce::TextEditor::focusedOutlineColourId })
        editor.setColour (id, juce::Colour (0x00000000));
}

namespace
{
/** The decimal number at the start of a typed text (one sign, then digits or
    a point followed by a digit), or nothing when the text does not start with
    one or reads as a number that is not finite. Text made of signs and
    points such as "--3" or "+-2" holds no number at its start: it is not read
    as 0, which would move the value to the end of its range. */
std::optional<float> typedNumber (const juce::String& text)
{
    const auto t = text.trim();
    auto p = t.getCharPointer();

    if (*p == '+' || *p == '-')
        ++p;

    const bool startsWithNumber = p.isDigit() || (*p == '.' && (p + 1).isDigit());

    if (! startsWithNumber)
        return std::nullopt;

    const auto v = (float) t.getDoubleValue();

    if (! std::isfinite (v))
        return std::nullopt;

    return v;
}
} // namespace

int QuorvaneEditor::displayedSection() const
{
    // The same rule the refresh uses for what the Vocal view shows, so that
    // the buttons, the typed value and the chart act on the section on screen
    // and not on a host value the processor has not committed yet.
    const int measuring = proc.measuringSectionIndex();
    return measuring >= 0 ? juce::jlimit (0, 15, measuring) : juce::jlimit (0, 15, proc.committedSection.load());
}

void QuorvaneEditor::initVocalGainActions()
{
    matchButton.onClick = [this] { handleMatchClick(); };

    offsetValue.setEditable (false, true, false);
    offsetValue.onEditorShow = [this]
    {
        if (auto* ed = offsetValue.getCurrentTextEditor())
        {
            styleInlineValueEditor (offsetValue, *ed);
            ed->setTooltip (offsetValue.getTooltip());
        }
    };
    offsetValue.onTextChange = [this] { commitTypedOffset(); };

    sectionChart.onTrimChanged = [this] (float start, float end) { handleSectionTrim (start, end); };
}

void QuorvaneEditor::handleMatchClick()
{
    auto& slot = *proc.ownSlot;
    const int s = displayedSection();
    auto& section = proc.sections[(size_t) s];
    auto& own = slot.ownSections[(size_t) s];

    // A locked section only holds the run open (or lets it go): the run then
    // moves on to the next unlocked section that becomes current.
    if (section.locked.load())
    {
        proc.runHeldOpen.store (! proc.runHeldOpen.load());
        return;
    }

    if (own.measuring.load() || proc.runHeldOpen.load() || proc.armedSectionStart.load())
    {
        proc.pushUndoSnapshot();
        proc.runHeldOpen.store (false);
        proc.armedSectionStart.store (false);
        proc.deferredSectionIndex.store (-1);
        own.measuring.store (false);
        own.elapsedSeconds.store (0.0f);
        slot.signalStop();   // both audio threads publish what they measured
        return;
    }

    proc.pushUndoSnapshot();

    // Stopped with the transport link on: the start waits for playback. The
    // section goes in before the flag that the audio thread tests.
    if (proc.linkMeasurementToTransport.load() && proc.playHeadSeen.load() && ! proc.hostPlaying.load())
    {
        proc.deferredSectionIndex.store (s);
        proc.armedSectionStart.store (true);
        return;
    }

    proc.beginSectionMeasurement (s);
}

void QuorvaneEditor::commitTypedOffset()
{
    // Read as the framework reads a number (leading number, rest ignored,
    // letters give 0), but never let a non-finite value through: "nan",
    // "inf" or an overflowing exponent leave the parameter as it is.
    const double typed = offsetValue.getText().getDoubleValue();
    const int s = displayedSection();

    // Whatever was typed, the label shows the section's value afterwards: the
    // refresh rewrites it only when the value moves, and a refused or clamped
    // entry would otherwise stay on screen.
    const juce::ScopeGuard showValue { [this, s] { offsetValue.setText (fmtSigned (proc.getSectionOffset (s)), juce::dontSendNotification); } };

    if (! std::isfinite (typed) || proc.sections[(size_t) s].locked.load())
        return;

    auto* param = proc.parameters.getParameter (QuorvaneProcessor::offsetParameterId (s));
    if (param == nullptr)
        return;

    const float v = (float) juce::jlimit (-12.0, 12.0, typed);
    param->beginChangeGesture();
    param->setValueNotifyingHost (param->convertTo0to1 (v));
    param->endChangeGesture();
}

void QuorvaneEditor::handleSectionTrim (float start, float end)
{
    const int r = displayedSection();
    auto& section = proc.sections[(size_t) r];

    if (! section.locked.load() && section.frozen.load())
    {
        std::unique_lock<std::mutex> lock (proc.analysisMutex);
        const auto n = std::min (section.selfHistory.size(), section.partnerHistory.size());
        if (n > 0)
        {
            const auto trim = qvn::historyChart::draggedTrim (start, end, n);
            const float lo = trim.getStart(), hi = trim.getEnd();

            if (std::abs (section.trimStart.load() - lo) >= 0.0001f || std::abs (section.trimEnd.load() - hi) >= 0.0001f)
            {
                // The undo snapshot takes the same (non-recursive) mutex.
                lock.unlock();
                proc.pushUndoSnapshot();
                lock.lock();
                section.trimStart.store (lo);
                section.trimEnd.store (hi);
                if (proc.recomputeSectionFromTrim (r))
                    proc.historyRevision[(size_t) r].store (proc.revisionCounter.fetch_add (1) + 1);
            }
        }
    }

    // Also for a locked section or one without a result: the handles go back
    // to what the processor holds.
    const auto snap = proc.getLearnHistorySnapshot (r);
    if (snap.valid)
        qvn::historyChart::syncTrim (sectionChart, snap);
}

void QuorvaneEditor::initInstHandlers()
{
    setInstTargetButton.onClick = [this]
    {
        proc.instTargetUiOpen.store (true);
        updateRoleVisibility();
    };
    backToInstStatusButton.onClick = [this]
    {
        proc.instTargetUiOpen.store (false);
        updateRoleVisibility();
    };

    instMeasureButton.onClick = [this] { clickInstMeasureButton(); };

    instOffsetSlider.onDragStart = [this]
    {
        const auto now = juce::Time::getMillisecondCounter();
        if (proc.instOffsetDragActive)
            return;
        proc.instOffsetDragActive = true;
        proc.instOffsetUndoTimeMs = now;
        proc.pushUndoSnapshot();
    };
    instOffsetSlider.onDragEnd = [this]
    {
        proc.instOffsetDragActive = false;
        proc.instOffsetUndoTimeMs = juce::Time::getMillisecondCounter();
    };

    // Only what a level can be written with gets into the two values.
    const auto restrictEditor = [] (juce::Label& label, int maxLength)
    {
        if (auto* editor = label.getCurrentTextEditor())
        {
            styleInlineValueEditor (label, *editor);
            editor->setInputRestrictions (maxLength, "0123456789.+-");
        }
    };
    targetLufsValue.onEditorShow = [this, restrictEditor] { restrictEditor (targetLufsValue, 7); };
    targetLufsValue.onTextChange = [this] { commitTargetLufsText(); };
    instOffsetValue.onEditorShow = [this, restrictEditor] { restrictEditor (instOffsetValue, 6); };
    instOffsetValue.onTextChange = [this] { commitInstOffsetText(); };

    instChart.onTrimChanged = [this] (float start, float end) { instTrimChanged (start, end); };
}

void QuorvaneEditor::clickInstMeasureButton()
{
    // Every press is one undo step, taken before its change.
    if (proc.instMeasuring.load() || proc.armedInstStart.load())
    {
        proc.pushUndoSnapshot();
        proc.armedInstStart.store (false);

        // The end of playback may stop the run on the audio thread at the same
        // moment: whichever clears instMeasuring first makes the one stop.
        if (proc.instMeasuring.load())
        {
            if (proc.instMeasuring.exchange (false))
                proc.stopInstMeasurement();
            proc.instFinalizeWaitTicks = 0;
        }
        return;
    }

    proc.pushUndoSnapshot();

    if (proc.linkMeasurementToTransport.load() && proc.playHeadSeen.load() && ! proc.hostPlaying.load())
    {
        proc.armedInstStart.store (true);
        return;
    }

    proc.startInstMeasurement();
}

void QuorvaneEditor::commitTargetLufsText()
{
    const auto v = typedNumber (targetLufsValue.getText());

    // The label shows the value in force afterwards: the refresh rewrites it
    // only when a value moves, so an ignored or clamped entry would stay.
    const juce::ScopeGuard showValue { [this]
    {
        if (auto* raw = proc.parameters.getRawParameterValue (ids::targetLufs))
            targetLufsValue.setText (fmtOneDecimal (raw->load()), juce::dontSendNotification);
    } };

    if (! v.has_value())
        return;

    auto* param = proc.parameters.getParameter (ids::targetLufs);

    if (param == nullptr)
        return;

    param->setValueNotifyingHost (param->convertTo0to1 (juce::jlimit (-36.0f, -6.0f, *v)));
}

void QuorvaneEditor::commitInstOffsetText()
{
    const auto v = typedNumber (instOffsetValue.getText());

    const juce::ScopeGuard showValue { [this]
    {
        if (auto* raw = proc.parameters.getRawParameterValue (ids::instOffset))
            instOffsetValue.setText (fmtSigned (raw->load()), juce::dontSendNotification);
    } };

    if (! v.has_value())
        return;

    auto* param = proc.parameters.getParameter (ids::instOffset);

    if (param == nullptr)
        return;

    param->beginChangeGesture();
    param->setValueNotifyingHost (param->convertTo0to1 (juce::jlimit (-6.0f, 6.0f, *v)));
    param->endChangeGesture();
}

void QuorvaneEditor::instTrimChanged (float start, float end)
{
    if (proc.instFrozen.load())
    {
        std::unique_lock<std::mutex> lock (proc.analysisMutex);
        const auto n = proc.instHistory.size();

        if (n > 0)
        {
            auto trim = qvn::historyChart::draggedTrim (start, end, n);

            if (std::abs (proc.instTrimStart.load() - trim.getStart()) >= 0.0001f
                || std::abs (proc.instTrimEnd.load() - trim.getEnd()) >= 0.0001f)
            {
                // Taking the undo snapshot locks the same mutex.
                lock.unlock();
                proc.pushUndoSnapshot();
                lock.lock();

                proc.instTrimStart.store (trim.getStart());
                proc.instTrimEnd.store (trim.getEnd());

                // The history may have been replaced while the lock was open.
                const auto& history = proc.instHistory;

                if (! history.empty())
                {
                    trim = qvn::historyChart::draggedTrim (trim.getStart(), trim.getEnd(), history.size());
                    proc.instTrimStart.store (trim.getStart());
                    proc.instTrimEnd.store (trim.getEnd());
                    const auto level = LoudnessMeter::computeLUFSFromRange (history, trim.getStart(), trim.getEnd());
                    proc.instMeasuredLufs.store (level);

                    if (level > -119.5f)
                    {
                        auto* raw = proc.parameters.getRawParameterValue (ids::targetLufs);
                        const float target = raw != nullptr ? raw->load() : -18.0f;
                        proc.instMatchGain.store (juce::jlimit (-24.0f, 24.0f, target - level));
                    }

                    proc.historyRevision[(std::size_t) QuorvaneProcessor::numSectionSlots].store (
                        proc.revisionCounter.fetch_add (1) + 1);
                }
            }
        }
    }

    // The handles go where the processor now keeps the range: a drag that
    // changed nothing springs back.
    qvn::historyChart::syncTrim (instChart, proc.getInstLearnHistorySnapshot());
}
