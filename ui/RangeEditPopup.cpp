#include "ui/RangeEditPopup.h"
#include "ui/PopupHelpers.h"

#include <cmath>

namespace
{
const juce::String kNumberChars { "0123456789.-" };
}

//==============================================================================
void RangeEditPopup::PopupBtnLF::drawButtonBackground (juce::Graphics& g, juce::Button& button, const juce::Colour&,
                                                       bool isOver, bool isDown)
{
    const auto face = isDown ? juce::Colour (0xff1c211d) : isOver ? juce::Colour (0xff343d36) : juce::Colour (0xff2a322c);
    const juce::Rectangle<float> r (0.5f, 0.5f, std::max (0.0f, (float) button.getWidth() - 1.0f),
                                    std::max (0.0f, (float) button.getHeight() - 1.0f));
    g.setColour (face);
    g.fillRect (r);
    g.setColour (juce::Colour (0xff242b26));
    g.drawRect (r, 1.0f);
}

juce::Font RangeEditPopup::PopupBtnLF::getTextButtonFont (juce::TextButton& button, int buttonHeight)
{
    const float s = std::min (0.7f * (float) buttonHeight, 12.0f);
    if (FlatLookAndFeel::needsJapaneseFace (button.getButtonText()))
        return FlatLookAndFeel::jpFont (s + 2.0f, juce::Font::plain);
    return FlatLookAndFeel::dinFont (s, juce::Font::plain);
}

void RangeEditPopup::PopupBtnLF::drawButtonText (juce::Graphics& g, juce::TextButton& button, bool, bool)
{
    g.setColour (button.findColour (juce::TextButton::textColourOffId));
    g.setFont (getTextButtonFont (button, button.getHeight()));
    g.drawFittedText (button.getButtonText(),
                      juce::Rectangle<int> (2, 2, std::max (0, button.getWidth() - 4), std::max (0, button.getHeight() - 4)),
                      juce::Justification::centred, 1);
}

//==============================================================================
RangeEditPopup::RangeEditPopup (float iMin, float iMax, float dMin, float dMax, Strings s)
    : strings (std::move (s)), initialMin (iMin), initialMax (iMax), defaultMin (dMin), defaultMax (dMax)
{
    qvn::popup::setUpField (minField, qvn::popup::formatNumber (initialMin), juce::Justification::centred, 6, kNumberChars);
    qvn::popup::setUpField (maxField, qvn::popup::formatNumber (initialMax), juce::Justification::centred, 6, kNumberChars);
    addAndMakeVisible (minField);
    addAndMakeVisible (maxField);

    resetButton.setButtonText (strings.resetLabel);
    cancelButton.setButtonText (strings.cancelLabel);
    okButton.setButtonText (strings.okLabel);
    for (auto* b : { &resetButton, &cancelButton, &okButton })
    {
        b->setLookAndFeel (&buttonLF);
        addAndMakeVisible (b);
    }

    resetButton.onClick = [this] { resetToDefaults(); };
    cancelButton.onClick = [this] { qvn::popup::closeEnclosingCallOutBox (*this); };
    okButton.onClick = [this] { commitAndClose(); };
}

RangeEditPopup::~RangeEditPopup()
{
    for (auto* b : { &resetButton, &cancelButton, &okButton })
        b->setLookAndFeel (nullptr);
}

std::optional<float> RangeEditPopup::parseLufsField (const juce::String& text)
{
    const auto t = text.trim();
    if (t.isEmpty() || t == "-" || t == "." || t == "-." || t == "+")
        return std::nullopt;
    if (! t.containsOnly ("0123456789.-+"))
        return std::nullopt;

    // The leading number: an optional sign, digits and one decimal point.
    auto p = t.getCharPointer();
    juce::String number;
    if (*p == '+' || *p == '-')
        number << (juce::juce_wchar) p.getAndAdvance();
    bool seenPoint = false, seenDigit = false;
    for (;;)
    {
        const auto c = *p;
        if (c >= '0' && c <= '9')
            seenDigit = true;
        else if (c == '.' && ! seenPoint)
            seenPoint = true;
        else
            break;
        number << (juce::juce_wchar) p.getAndAdvance();
    }
    if (! seenDigit)
        return std::nullopt;

    const auto v = (float) number.getDoubleValue();
    if (! std::isfinite (v))
        return std::nullopt;
    return v;
}

int RangeEditPopup::titlePx() const
{
    return qvn::popup::titlePx (strings.title);
}

void RangeEditPopup::resetToDefaults()
{
    minField.setText (qvn::popup::formatNumber (defaultMin), false);
    maxField.setText (qvn::popup::formatNumber (defaultMax), false);
}

void RangeEditPopup::commitAndClose()
{
    const float lo = parseLufsField (minField.getText()).value_or (initialMin);
    const float hi = parseLufsField (maxField.getText()).value_or (initialMax);
    if (onCommit)
        onCommit (lo, hi);
    qvn::popup::closeEnclosingCallOutBox (*this);
}

void RangeEditPopup::paint (juce::Graphics& g)
{
    qvn::popup::paintFrame (g, getWidth(), getHeight());
    qvn::popup::paintTitle (g, strings.title, titleRect);
    qvn::popup::paintLabel (g, strings.minLabel, minLabelRect);
    qvn::popup::paintLabel (g, strings.maxLabel, maxLabelRect);
    qvn::popup::paintUnits (g, "LUFS", minUnitRect, maxUnitRect);
}

void RangeEditPopup::resized()
{
    const qvn::popup::Columns col (getWidth());
    qvn::popup::RowCutter rows (getHeight());

    titleRect = qvn::popup::takeTitleRow (rows, getWidth(), titlePx());
    qvn::popup::placeFieldRow (col, rows.take (26), minLabelRect, minField, minUnitRect);
    rows.take (6);
    qvn::popup::placeFieldRow (col, rows.take (26), maxLabelRect, maxField, maxUnitRect);
    rows.take (12);
    qvn::popup::placeButtonRow (col, rows.take (28), resetButton, cancelButton, okButton);
}
