#include "editor/PluginEditor.h"

#include "settings/AppSettings.h"

#include <BinaryData.h>

#include <cmath>

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
    initSectionIconsAndFooter();
    initHeaderButtons();
    initStatusAndUtility();
    initSectionActions();

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

    if (auto* roleParam = proc.parameters.getParameter (ids::role))
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
    // The tooltip texts of the controls come with the menus; the chart's range
    // pill already has its text in both languages.
    sectionChart.rangePillTooltip = lang == 1
                                        ? juce::String::fromUTF8 ("\xe8\xa1\xa8\xe7\xa4\xba\xe3\x81\x99\xe3\x82\x8b" "LUFS"
                                                                  "\xe7\xaf\x84\xe5\x9b\xb2\xe3\x82\x92\xe5\xa4\x89\xe6\x9b\xb4")
                                        : juce::String ("Change the displayed LUFS range");
    instChart.rangePillTooltip = sectionChart.rangePillTooltip;
}

void QuorvaneEditor::refreshUpdateUI()
{
    const bool show = updateChecker != nullptr && updateChecker->hasNewVersion()
                      && AppSettings::get().updateChecksEnabled();
    if (updateBell.isVisible() != show)
        updateBell.setVisible (show);
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
