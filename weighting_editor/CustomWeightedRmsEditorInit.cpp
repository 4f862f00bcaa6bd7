#include "weighting_editor/CustomWeightedRmsEditor.h"

#include "ui/JuceCompat.h"

#include "processor/PluginProcessor.h"

#include <cmath>
#include <mutex>

namespace
{
juce::String utf8 (const char* s) { return juce::String::fromUTF8 (s); }

juce::String pick (int lang, const char* en, const char* ja)
{
    return utf8 (lang == 1 ? ja : en);
}
} // namespace

//==============================================================================
qvn::uiText::CwrmsTooltips qvn::uiText::cwrmsTooltips (int lang)
{
    CwrmsTooltips t;
    t.graph = pick (lang,
        "Drag a band's node to move it. The wheel over a node changes its Q. Double-click a bypassed node to enable that band. Clicking away from a node does nothing.",
        "ノードをドラッグするとそのバンドを動かせます。ノード上でホイールを回すとQが変わります。バイパス中のノードはダブルクリックで有効になります。ノードから離れた場所のクリックでは何も起きません。");
    t.filterType = pick (lang,
        "Filter shape for the selected band. High Pass and Low Pass use Slope; the others use Gain.",
        "選択中バンドのフィルタ形状。ハイパスとローパスはスロープを、それ以外はゲインを使います。");
    t.flatTilt = pick (lang,
        "Flat Tilt: one straight line across 20 Hz to 20 kHz, passing through 0 dB at the frequency. Gain is the total tilt from end to end; moving the frequency slides the line. Q and Slope are not used.",
        "フラットチルト: 20Hz〜20kHzを貫く一直線の傾きです。指定周波数で0 dBを通り、ゲインの値が低域端から高域端までの総傾きになります。周波数を動かすと直線が上下に滑ります。QとスロープはFlat Tiltでは使いません。");
    t.freq = pick (lang,
        "Corner or centre frequency for the band. Type a value or turn the knob.",
        "バンドのコーナー周波数（ベルは中心周波数）。数値の直接入力もできます。");
    t.gain = pick (lang,
        "Boost or cut. Not used by High Pass / Low Pass.",
        "ブースト／カット量。ハイパスとローパスでは使いません。");
    t.q = pick (lang,
        "Resonance at the corner, or bandwidth for a Bell. Not used by Flat Tilt.",
        "コーナーの共振の鋭さ。ベルでは帯域幅になります。Flat Tiltでは使いません。");
    t.slope = pick (lang,
        "Roll-off for High Pass / Low Pass, continuously variable from 0 to 96 dB/oct. 0 is transparent. Multiples of 12 are exact Butterworth; other values are approximated over the audible band.",
        "ハイパス／ローパスの傾き。0〜96 dB/oct を連続で設定できます。0 は素通し。12の倍数は厳密なButterworthで、それ以外は可聴帯域内での近似です。");
    t.bandPower = pick (lang, "Enable or bypass this band.", "このバンドを有効／バイパスします。");
    t.factoryPreset = pick (lang, "Recall a built-in weighting.", "組み込みの重み付けを呼び出します。");
    t.presetName = pick (lang, "Name for a new saved preset.", "新しく保存するプリセットの名前。");
    t.save = pick (lang, "Save the current settings under the typed name.", "入力した名前で現在の設定を保存します。");
    t.deletePreset = pick (lang, "Delete the selected saved preset.", "選択中の保存プリセットを削除します。");
    t.apply = pick (lang,
        "Apply these settings. Changing the weighting curve clears existing Custom RMS results and needs a re-measure.",
        "設定を適用します。重み付けカーブを変えると既存のCustom RMS結果を消去して再測定が必要になります。");
    t.cancel = pick (lang, "Close without applying anything.", "何も適用せずに閉じます。");
    return t;
}

//==============================================================================
CustomWeightedRmsEditor::CustomWeightedRmsEditor (QuorvaneProcessor& p)
    : processor (p)
{
    setOpaque (false);
    setLookAndFeel (&panelLook);
    setWantsKeyboardFocus (true);
    // The dialog's own button look is already on its buttons.

    nameField.setMultiLine (false);
    nameField.setReturnKeyStartsNewLine (false);
    nameField.setFont (FlatLookAndFeel::dinFont (12.0f));
    nameField.setJustification (juce::Justification::centredLeft);
    nameField.setIndents (8, 0);
    nameField.setBorder (juce::BorderSize<int> (0, 0, 0, 0));
    nameField.setColour (juce::TextEditor::backgroundColourId, juce::Colours::transparentBlack);
    nameField.setColour (juce::TextEditor::outlineColourId, juce::Colours::transparentBlack);
    nameField.setColour (juce::TextEditor::focusedOutlineColourId, juce::Colours::transparentBlack);
    nameField.setColour (juce::TextEditor::textColourId, qvn::cwrms::kTextCol);
    nameField.setColour (juce::TextEditor::highlightColourId, qvn::cwrms::kAccentCol.withAlpha ((juce::uint8) 0x4c));
    nameField.setColour (juce::TextEditor::highlightedTextColourId, qvn::cwrms::kTextCol);
    nameField.setColour (juce::CaretComponent::caretColourId, qvn::cwrms::kAccentCol);

    addAndMakeVisible (responseGraph);
    addAndMakeVisible (cancelButton);
    addAndMakeVisible (applyButton);
    addChildComponent (confirmDialog);
    addAndMakeVisible (nameField);
    addAndMakeVisible (saveButton);
    addAndMakeVisible (deleteButton);

    initPresetControls();

    saveButton.setLookAndFeel (&saveLook);
    deleteButton.setLookAndFeel (&secondaryLook);
    cancelButton.setLookAndFeel (&secondaryLook);
    applyButton.setLookAndFeel (&applyLook);

    initTypeButtons();

    for (int i = 0; i < 6; ++i)
    {
        bandRows.push_back (std::make_unique<BandRow> (*this, i));
        addAndMakeVisible (*bandRows.back());
    }

    initKnobColumns();
    configureControls();

    setVisible (false);
}

void CustomWeightedRmsEditor::initPresetControls()
{
    for (auto* chip : { &standardKChip, &flatChip })
    {
        addAndMakeVisible (*chip);
        chip->setLookAndFeel (&chipLook);
        chip->setClickingTogglesState (false);
    }

    addAndMakeVisible (userChipViewport);
    userChipViewport.setViewedComponent (&userChipStrip, false);
    userChipViewport.setScrollBarsShown (false, false, false, true);
    userChipViewport.setScrollBarThickness (5);
    userChipViewport.getHorizontalScrollBar().setColour (juce::ScrollBar::thumbColourId, qvn::cwrms::kStrongCol);
}

void CustomWeightedRmsEditor::initTypeButtons()
{
    for (int i = 0; i < 6; ++i)
    {
        auto& b = typeButtons[(size_t) i];
        addAndMakeVisible (b);
        b.setRadioGroupId (7411);
        b.setClickingTogglesState (true);
        b.setLookAndFeel (&typeLook);
        b.onClick = [this, i]
        {
            workingCopy.slots[(size_t) juce::jlimit (0, 5, selectedBand)].type = i;
            workingCopyChanged (true);
        };
    }
}

void CustomWeightedRmsEditor::initKnobColumns()
{
    struct Column
    {
        KnobCell* cell;
        const char* unit;
        double lo, hi, step;
        int decimals;   // -1: whole number, half away from zero
        double CustomSlotSettings::* field;
    };

    const Column columns[] = {
        { &freqCell,  "Hz",     20.0,   20000.0, 1.0,  -1, &CustomSlotSettings::frequencyHz },
        { &gainCell,  "dB",     -24.0,  24.0,    0.1,  1,  &CustomSlotSettings::gainDb },
        { &qCell,     "",       0.1,    10.0,    0.01, 2,  &CustomSlotSettings::q },
        { &slopeCell, "dB/oct", 0.0,    96.0,    0.1,  1,  &CustomSlotSettings::slopeDbPerOct },
    };

    for (const auto& c : columns)
    {
        auto& cell = *c.cell;
        addAndMakeVisible (cell);
        cell.knob.setLookAndFeel (&knobLook);
        cell.unit = c.unit;

        juce::NormalisableRange<double> range (c.lo, c.hi, c.step);
        if (c.cell == &freqCell)
            // 632 Hz sits at the middle of the knob's travel.
            range.skew = std::log (0.5) / std::log ((632.0 - 20.0) / (20000.0 - 20.0));
        cell.knob.setNormalisableRange (range);

        const int decimals = c.decimals;
        cell.valueToText = [decimals] (double v)
        {
            if (decimals < 0)
                return juce::String ((juce::int64) std::round (v));   // half away from zero
            return juce::String (v, decimals);
        };

        const auto field = c.field;
        cell.onValueChange = [this, field] (double v)
        {
            workingCopy.slots[(size_t) juce::jlimit (0, 5, selectedBand)].*field = v;
            workingCopyChanged (false);
        };
    }
}

void CustomWeightedRmsEditor::configureControls()
{
    nameField.onTextChange = [this]
    {
        applyNameFieldFont();
        updateSaveAvailability();
    };
    nameField.onReturnKey = [this] { updateSaveAvailability(); };
    updateSaveAvailability();

    cancelButton.onClick = [this] { setVisible (false); };
    applyButton.onClick = [this] { applyWorkingCopy(); };
}

//==============================================================================
CustomWeightedRmsEditor& CustomWeightedRmsEditor::openOver (juce::Component& mainEditor,
                                                            std::unique_ptr<CustomWeightedRmsEditor>& holder,
                                                            QuorvaneProcessor& processor)
{
    if (holder == nullptr)
    {
        holder = std::make_unique<CustomWeightedRmsEditor> (processor);
        holder->setVisible (true);
        mainEditor.addAndMakeVisible (*holder);
    }

    holder->open (qvn::uiText::cwrmsTooltips (processor.tooltipLang.load() == 1 ? 1 : 0));
    return *holder;
}

void CustomWeightedRmsEditor::open (const qvn::uiText::CwrmsTooltips& tips)
{
    if (auto* parent = getParentComponent())
        setBounds (0, 0, parent->getWidth(), parent->getHeight());

    {
        const std::lock_guard<std::mutex> lock (processor.settingsMutex);
        workingCopy = processor.customSettings;
    }
    selectedBand = 0;
    dragBand = -1;
    presetSelection = 0;

    applyCaptions();
    applyTooltips (tips);

    resized();
    repaint();

    refreshPresetList();
    derivePresetSelection();
    updateSaveAvailability();
    syncControlsFromWorkingCopy();

    setVisible (true);
    toFront (true);
    if (isShowing())   // a window not on screen (yet) cannot take the focus
        grabKeyboardFocus();
}

void CustomWeightedRmsEditor::applyCaptions()
{
    const int l = lang();
    for (int i = 0; i < 6; ++i)
        typeButtons[(size_t) i].setButtonText (qvn::cwrms::typeName (i, l));

    standardKChip.setButtonText ("Standard K");
    flatChip.setButtonText (pick (l, "Flat", "フラット"));
    saveButton.setButtonText (pick (l, "Save", "保存"));
    deleteButton.setButtonText (pick (l, "Delete", "削除"));
    cancelButton.setButtonText (pick (l, "Cancel", "キャンセル"));
    applyButton.setButtonText (pick (l, "Apply", "適用"));
    nameField.setTextToShowWhenEmpty (pick (l, "name…", "名前…"), juce::Colour (0xff5e6a63));
    applyNameFieldFont();

    freqCell.title = pick (l, "FREQ", "周波数");
    gainCell.title = pick (l, "GAIN", "ゲイン");
    qCell.title = "Q";
    slopeCell.title = pick (l, "SLOPE", "スロープ");
    for (auto* cell : { &freqCell, &gainCell, &qCell, &slopeCell })
        cell->repaint();
}

void CustomWeightedRmsEditor::applyTooltips (const qvn::uiText::CwrmsTooltips& t)
{
    responseGraph.setTooltip (t.graph);
    for (auto& b : typeButtons)
        b.setTooltip (t.filterType);
    typeButtons[5].setTooltip (t.flatTilt);   // the Flat Tilt button explains itself
    freqCell.setTooltip (t.freq);
    gainCell.setTooltip (t.gain);
    qCell.setTooltip (t.q);
    slopeCell.setTooltip (t.slope);
    for (auto& row : bandRows)
        row->powerSwitch.setTooltip (t.bandPower);
    standardKChip.setTooltip (t.factoryPreset);
    flatChip.setTooltip (t.factoryPreset);
    nameField.setTooltip (t.presetName);
    saveButton.setTooltip (t.save);
    deleteButton.setTooltip (t.deletePreset);
    applyButton.setTooltip (t.apply);
    cancelButton.setTooltip (t.cancel);
}

void CustomWeightedRmsEditor::derivePresetSelection()
{
    auto copy = workingCopy;
    copy.normalize();

    presetSelection = 0;
    if (copy == factoryLayout (0))
        presetSelection = 1;
    else if (copy == factoryLayout (1))
        presetSelection = 2;
    else
        for (size_t i = 0; i < userPresets.size(); ++i)
            if (copy == userPresets[i].settings)
            {
                presetSelection = 100 + (int) i;
                break;
            }

    standardKChip.setToggleState (presetSelection == 1, juce::dontSendNotification);
    flatChip.setToggleState (presetSelection == 2, juce::dontSendNotification);
    for (size_t i = 0; i < userChips.size(); ++i)
        userChips[i]->setToggleState (presetSelection == 100 + (int) i, juce::dontSendNotification);
    deleteButton.setEnabled (presetSelection >= 100);
}

void CustomWeightedRmsEditor::applyNameFieldFont()
{
    // The field draws its text and placeholder in one face without fallback:
    // D-DIN has no kana or kanji, so Japanese text takes IBM Plex Sans JP.
    const bool japanese = isJapanese() || FlatLookAndFeel::needsJapaneseFace (nameField.getText());
    const auto font = japanese ? FlatLookAndFeel::jpFont (12.0f) : FlatLookAndFeel::dinFont (12.0f);
    if (nameField.getFont().getTypefacePtr() == font.getTypefacePtr())
        return;
    nameField.setFont (font);
    nameField.applyFontToAllText (font);
}
