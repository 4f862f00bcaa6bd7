#pragma once

#include "dsp/CustomWeightedRmsSettings.h"
#include "settings/AppSettings.h"
#include "ui/ConfirmDialog.h"
#include "ui/UiComponents.h"
#include "ui/UiTheme.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <functional>
#include <memory>
#include <vector>

class QuorvaneProcessor;

//==============================================================================
// The palette of the custom weighting panel, shared by all of its files.
namespace qvn::cwrms
{
inline const juce::Colour kPanelCol     { 0xff171c22 };
inline const juce::Colour kCardCol      { 0xff12171c };
inline const juce::Colour kSunkenCol    { 0xff090c10 };
inline const juce::Colour kFieldCol     { 0xff181a1d };
inline const juce::Colour kAccentCol    { 0xff7cf2c8 };
inline const juce::Colour kDividerCol   { 0xff242b26 };
inline const juce::Colour kStrongCol    { 0xff343d36 };
inline const juce::Colour kTextCol      { 0xffeaefe9 };
inline const juce::Colour kText2Col     { 0xff828d85 };
inline const juce::Colour kText3Col     { 0xff5e6a63 };
inline const juce::Colour kOnAccentCol  { 0xff0d1a13 };
inline const juce::Colour kRowEnabled   { 0xff1b2225 };
inline const juce::Colour kRowDisabled  { 0xff151a1e };
inline const juce::Colour kPowerOff     { 0xff4a5350 };

/** Alpha of a control that is disabled, itself or through a parent. */
inline constexpr float kDisabledAlpha = 0.45f;

/** 1, or kDisabledAlpha when the component or one of its parents is disabled. */
float enabledFactor (const juce::Component&);

/** The colour with its own alpha multiplied by f (rounded, limited to 255). */
juce::Colour withAlphaFactor (juce::Colour, float f) noexcept;

/** The dashed, rounded outline of the preset name field. */
void drawDashedRoundedRect (juce::Graphics&, juce::Rectangle<float> area, juce::Colour);

/** Type names by filter type (limited to 0..5) and language (1 Japanese). */
juce::String typeName (int type, int lang);
} // namespace qvn::cwrms

namespace FlatUI
{
/** The six band colours, band 1 first. */
inline const std::array<juce::Colour, 6> kBandPalette {
    juce::Colour (0xff7cf2c8), juce::Colour (0xff5ab4f0), juce::Colour (0xfff5d54a),
    juce::Colour (0xffe0922f), juce::Colour (0xff3ecf82), juce::Colour (0xffc08ae8)
};

/** The palette colour of a band index, limited to 0..5. */
juce::Colour bandColour (int bandIndex) noexcept;
} // namespace FlatUI

namespace qvn::uiText
{
/** The tooltips of the custom weighting panel, in one language. */
struct CwrmsTooltips
{
    juce::String graph, filterType, flatTilt, freq, gain, q, slope, bandPower,
                 factoryPreset, presetName, save, deletePreset, apply, cancel;
};

/** The tooltip record in English, or Japanese for lang 1. */
CwrmsTooltips cwrmsTooltips (int lang);
} // namespace qvn::uiText

//==============================================================================
/** The overlay in which the user designs the six-band Custom Weighted RMS
    weighting. It edits a private working copy; only Apply hands it to the
    processor, which gives it to every linked instance. Message thread only. */
class CustomWeightedRmsEditor : public juce::Component
{
public:
    //==============================================================================
    struct Card
    {
        juce::Rectangle<int> bounds;
        juce::String title, subtitle;
    };

    class KnobLF : public FlatLookAndFeel
    {
    public:
        ~KnobLF() override = default;
        void drawRotarySlider (juce::Graphics&, int x, int y, int width, int height, float sliderPos,
                               float rotaryStartAngle, float rotaryEndAngle, juce::Slider&) override;
    };

    class TypeButtonLF : public FlatLookAndFeel
    {
    public:
        ~TypeButtonLF() override = default;
        void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour&, bool over, bool down) override;
        void drawButtonText (juce::Graphics&, juce::TextButton&, bool over, bool down) override;
    };

    class ChipLF : public FlatLookAndFeel
    {
    public:
        ~ChipLF() override = default;
        void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour&, bool over, bool down) override;
        void drawButtonText (juce::Graphics&, juce::TextButton&, bool over, bool down) override;
    };

    class PanelButtonLF : public FlatLookAndFeel
    {
    public:
        explicit PanelButtonLF (int styleToUse) : style (styleToUse) {}
        ~PanelButtonLF() override = default;
        void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour&, bool over, bool down) override;
        void drawButtonText (juce::Graphics&, juce::TextButton&, bool over, bool down) override;

        const int style;   // 0 Apply, 1 Delete and Cancel, 2 Save
    };

    /** The response plot of the working copy. */
    class ResponseGraph : public juce::Component, public juce::SettableTooltipClient
    {
    public:
        explicit ResponseGraph (CustomWeightedRmsEditor& owner);
        ~ResponseGraph() override;
        void paint (juce::Graphics&) override;

        /** The curves are rebuilt from the working copy before the next paint. */
        void markDirty() noexcept { dirty = true; }

        CustomWeightedRmsEditor& panel;
        bool dirty = true;
        juce::Path curve;
        juce::Rectangle<float> curveArea;
    };

    class BandRow : public juce::Component
    {
    public:
        BandRow (CustomWeightedRmsEditor& owner, int bandIndex);
        ~BandRow() override;
        void mouseDown (const juce::MouseEvent&) override;
        void paint (juce::Graphics&) override;
        void resized() override;

        void refresh();

        SvgIconButton powerSwitch;
        CustomWeightedRmsEditor& panel;
        const int band;
    };

    class ValueField : public juce::Label
    {
    public:
        ~ValueField() override;
        void mouseEnter (const juce::MouseEvent&) override;
        void mouseExit (const juce::MouseEvent&) override;
        void paint (juce::Graphics&) override;
        void editorShown (juce::TextEditor*) override;
        void editorAboutToBeHidden (juce::TextEditor*) override;

        bool hovered = false;
    };

    class KnobCell : public juce::Component, public juce::SettableTooltipClient
    {
    public:
        KnobCell();
        ~KnobCell() override;
        void paint (juce::Graphics&) override;
        void resized() override;

        void setValue (double v);
        void setBandColour (juce::Colour);
        void setInUse (bool inUse);
        bool isInUse() const noexcept { return ! dimmed; }

        /** The value as the field shows it. */
        juce::String textFor (double v) const;

        /** Reads a committed text: only digits, point and signs count, the
            leading number is taken (none reads 0) and limited to the range. */
        static double parseTypedValue (const juce::String& text);

        std::function<void (double)> onValueChange;
        std::function<juce::String (double)> valueToText;
        juce::Slider knob;
        ValueField valueField;
        juce::String title, unit;
        juce::Rectangle<int> titleArea, unitArea;
        bool dimmed = false;

    private:
        void knobMoved();
        void valueTyped();
    };

    class NameEditor : public juce::TextEditor
    {
    public:
        ~NameEditor() override;
        void paint (juce::Graphics&) override;
        void paintOverChildren (juce::Graphics&) override;
    };

    //==============================================================================
    explicit CustomWeightedRmsEditor (QuorvaneProcessor&);
    ~CustomWeightedRmsEditor() override;

    void paint (juce::Graphics&) override;
    bool keyPressed (const juce::KeyPress&) override;
    void resized() override;

    /** The main editor's entry: creates the panel over the editor on first use
        (held by `holder`, added as the editor's top child) and runs the opening
        sequence. Returns the panel. */
    static CustomWeightedRmsEditor& openOver (juce::Component& mainEditor,
                                              std::unique_ptr<CustomWeightedRmsEditor>& holder,
                                              QuorvaneProcessor& processor);

    /** The opening sequence on an existing panel that has a parent: bounds
        over the parent, working copy from the applied weighting, captions and
        the given tooltips, layout, presets, controls, then shown with focus. */
    void open (const qvn::uiText::CwrmsTooltips&);

    void syncControlsFromWorkingCopy();
    void updateControlAvailability();
    void workingCopyChanged (bool resyncControls);
    void confirm (const juce::String& title, const juce::String& message, const juce::String& confirmText,
                  std::function<void()> onConfirm);
    void applyWorkingCopy();

    /** Selects a band (limited to 0..5) and shows its controls. */
    void selectBand (int band);

    // Presets (list, chips and Save availability).
    void refreshPresetList();
    void rebuildUserChips();
    void updateSaveAvailability();

    int lang() const noexcept;
    bool isJapanese() const noexcept { return lang() == 1; }

    //==============================================================================
    std::vector<Card> cards;
    juce::Rectangle<int> frameBounds, headerBounds, bandCardBounds;

    FlatLookAndFeel panelLook;
    SettingsMenuLF menuLook;
    KnobLF knobLook;
    ChipLF chipLook;
    TypeButtonLF typeLook;
    PanelButtonLF applyLook { 0 };
    PanelButtonLF secondaryLook { 1 };
    PanelButtonLF saveLook { 2 };

    ConfirmDialog confirmDialog;
    QuorvaneProcessor& processor;

    CustomWeightedRmsSettings workingCopy = defaultWorkingCopy();
    int selectedBand = 0;
    int dragBand = -1;
    int presetSelection = 0;
    float displayRangeDb = 24.0f;
    std::vector<NamedCustomWeightedRmsPreset> userPresets;

    ResponseGraph responseGraph { *this };
    std::array<juce::TextButton, 6> typeButtons;
    std::vector<std::unique_ptr<BandRow>> bandRows;
    juce::TextButton standardKChip { "Standard K" }, flatChip { "Flat" };
    juce::Viewport userChipViewport;
    juce::Component userChipStrip;
    std::vector<std::unique_ptr<juce::TextButton>> userChips;
    NameEditor nameField;
    juce::TextButton saveButton { "Save" }, deleteButton { "Delete" }, cancelButton { "Cancel" }, applyButton { "Apply" };
    KnobCell freqCell, gainCell, qCell, slopeCell;

    /** All six bands off, Bell, 1 kHz, 0 dB, Q 1/sqrt 2, 12 dB/oct. */
    static CustomWeightedRmsSettings defaultWorkingCopy();

    /** The factory layouts: "Standard K" (0) and "Flat" (1). */
    static CustomWeightedRmsSettings factoryLayout (int index);

private:
    void initPresetControls();
    void initTypeButtons();
    void initKnobColumns();
    void configureControls();
    void applyCaptions();
    void applyNameFieldFont();
    void applyTooltips (const qvn::uiText::CwrmsTooltips&);
    void derivePresetSelection();
    void clearPresetSelection();
    void applyNow();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CustomWeightedRmsEditor)
};
