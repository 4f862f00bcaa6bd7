#include "ui/ConfirmDialog.h"

void ConfirmDialog::ButtonLF::drawButtonText (juce::Graphics& g, juce::TextButton& button, bool, bool)
{
    const float size = std::min (0.5f * (float) button.getHeight(), 15.0f);
    const auto& text = button.getButtonText();
    // The Latin face has no Japanese glyphs and nothing falls back to another
    // face, so a Japanese caption is drawn in the Japanese face.
    g.setFont (FlatLookAndFeel::needsJapaneseFace (text) ? FlatLookAndFeel::jpBoldFont (size)
                                                         : FlatLookAndFeel::dinFont (size, juce::Font::bold));
    g.setColour (juce::Colour (0xffeaefe9));
    g.drawFittedText (text, juce::Rectangle<int> (2, 0, std::max (0, button.getWidth() - 4), std::max (0, button.getHeight())),
                      juce::Justification::centred, 1);
}

ConfirmDialog::ConfirmDialog()
{
    setWantsKeyboardFocus (true);
    setVisible (false);

    titleLabel.setJustificationType (juce::Justification::centred);
    titleLabel.setColour (juce::Label::textColourId, juce::Colour (0xffeaefe9));
    messageLabel.setJustificationType (juce::Justification::centred);
    messageLabel.setColour (juce::Label::textColourId, juce::Colour (0xff828d85));
    addAndMakeVisible (titleLabel);
    addAndMakeVisible (messageLabel);

    cancelButton.setButtonText ("Cancel");
    for (auto* b : { &cancelButton, &confirmButton })
    {
        b->setLookAndFeel (&buttonLF);
        addAndMakeVisible (b);
    }
    cancelButton.onClick = [this] { cancel(); };
    confirmButton.onClick = [this] { confirm(); };
}

ConfirmDialog::~ConfirmDialog()
{
    cancelButton.setLookAndFeel (nullptr);
    confirmButton.setLookAndFeel (nullptr);
}

void ConfirmDialog::cancel()
{
    onConfirm = nullptr;
    setVisible (false);
}

void ConfirmDialog::confirm()
{
    auto pending = std::move (onConfirm);
    onConfirm = nullptr;
    setVisible (false);
    if (pending)
        pending();
}

void ConfirmDialog::mouseDown (const juce::MouseEvent& e)
{
    if (! card.contains (e.getPosition()))
        cancel();
}

bool ConfirmDialog::keyPressed (const juce::KeyPress& key)
{
    const auto mods = key.getModifiers();
    const bool plain = ! (mods.isShiftDown() || mods.isCtrlDown() || mods.isAltDown() || mods.isCommandDown());
    if (! plain)
        return false;
    if (key.getKeyCode() == juce::KeyPress::returnKey)
    {
        confirmButton.triggerClick();
        return true;
    }
    if (key.getKeyCode() == juce::KeyPress::escapeKey)
    {
        cancel();
        return true;
    }
    return false;
}

void ConfirmDialog::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xeb0e1217));
    const auto c = card.toFloat();
    g.setColour (juce::Colour (0xff171c22));
    g.fillRoundedRectangle (c, 8.0f);
    g.setColour (juce::Colour (0xff242b26));
    g.drawRoundedRectangle (c, 8.0f, 1.0f);
}

void ConfirmDialog::resized()
{
    const int W = getWidth(), H = getHeight();
    const int cw = juce::jlimit (280, 460, W) - 40;
    const int x = (W - cw) / 2, y = (H - 172) / 2;
    card = { x, y, cw, 172 };

    titleLabel.setBounds (x + 24, y + 22, cw - 48, 22);
    messageLabel.setBounds (x + 24, y + 54, cw - 48, 52);

    const int bw = std::min (cw - 48, (cw - 60) / 2);
    cancelButton.setBounds (x + 24, y + 124, bw, 30);
    const int gap = std::min (cw - 48 - bw, 12);
    confirmButton.setBounds (x + 24 + bw + gap, y + 124, cw - 48 - bw - gap, 30);
}
