#pragma once

#include "ui/UiTheme.h"

#include <juce_gui_basics/juce_gui_basics.h>
#include <functional>
#include <optional>

// Edits a display range in LUFS (low and high end) inside a call-out box.
// The popup neither orders nor limits the pair; its owner does.
class RangeEditPopup : public juce::Component
{
public:
    struct Strings
    {
        juce::String title { "LUFS Display Range" };
        juce::String minLabel { "Min" };
        juce::String maxLabel { "Max" };
        juce::String resetLabel { "Reset" };
        juce::String cancelLabel { "Cancel" };
        juce::String okLabel { "OK" };
    };

    // Button look shared by both call-out popups.
    class PopupBtnLF : public FlatLookAndFeel
    {
    public:
        ~PopupBtnLF() override = default;
        void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour&, bool isOver, bool isDown) override;
        juce::Font getTextButtonFont (juce::TextButton&, int buttonHeight) override;
        void drawButtonText (juce::Graphics&, juce::TextButton&, bool isOver, bool isDown) override;
    };

    RangeEditPopup (float initialMin, float initialMax, float defaultMin, float defaultMax, Strings strings);
    ~RangeEditPopup() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    // The leading number of a field's text, or nothing when the text holds no
    // readable number.
    static std::optional<float> parseLufsField (const juce::String& text);

    int titlePx() const;

    std::function<void (float, float)> onCommit;

private:
    Strings strings;
    float initialMin, initialMax, defaultMin, defaultMax;
    PopupBtnLF buttonLF;

public:
    // The fields and buttons are reachable so that an owner or a test can drive
    // the popup as a user would.
    juce::TextEditor minField, maxField;
    juce::TextButton resetButton, cancelButton, okButton;

private:
    juce::Rectangle<int> titleRect, minLabelRect, maxLabelRect, minUnitRect, maxUnitRect;

    void resetToDefaults();
    void commitAndClose();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RangeEditPopup)
};
