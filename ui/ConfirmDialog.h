#pragma once

#include "ui/UiTheme.h"

#include <juce_gui_basics/juce_gui_basics.h>
#include <functional>

// An in-panel confirmation card over a dimmed backdrop, reused by its owner:
// either hidden, or visible with one pending onConfirm. Hiding always drops
// the pending callback, so a later Confirm cannot run an old one.
class ConfirmDialog : public juce::Component
{
public:
    class ButtonLF : public FlatLookAndFeel
    {
    public:
        ~ButtonLF() override = default;
        void drawButtonText (juce::Graphics&, juce::TextButton&, bool isOver, bool isDown) override;
    };

    ConfirmDialog();
    ~ConfirmDialog() override;

    void mouseDown (const juce::MouseEvent& e) override;
    void paint (juce::Graphics& g) override;
    bool keyPressed (const juce::KeyPress& key) override;
    void resized() override;

private:
    ButtonLF buttonLF;

public:
    // Set by the owner before it shows the dialog.
    juce::Label titleLabel, messageLabel;
    juce::TextButton cancelButton, confirmButton;

private:
    juce::Rectangle<int> card;

public:
    std::function<void()> onConfirm;

    juce::Rectangle<int> getCardBounds() const noexcept { return card; }

private:
    void cancel();
    void confirm();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ConfirmDialog)
};
