#include "ui/PopupHelpers.h"
#include "ui/UiTheme.h"

#include <cmath>

namespace qvn::popup
{
juce::String formatNumber (float value)
{
    if (! std::isfinite (value))
        return {};
    const double r = std::round ((double) value);
    if (std::abs ((double) value - r) < 0.05 && std::abs (r) < 1.0e15)
        return juce::String ((juce::int64) r);
    return juce::String (value, 1);
}

juce::Font labelFont (const juce::String& text)
{
    return FlatLookAndFeel::needsJapaneseFace (text) ? FlatLookAndFeel::jpFont (14.0f, juce::Font::plain)
                                                     : FlatLookAndFeel::dinFont (12.0f, juce::Font::plain);
}

juce::Font fieldFont (const juce::String& text)
{
    // Without glyph fallback a Japanese name in the Latin face would draw nothing.
    return FlatLookAndFeel::needsJapaneseFace (text) ? FlatLookAndFeel::jpFont (13.0f, juce::Font::plain)
                                                     : FlatLookAndFeel::dinFont (12.0f, juce::Font::plain);
}

int titlePx (const juce::String& title)
{
    return (int) std::ceil (labelFont (title).getHeight());
}

void paintFrame (juce::Graphics& g, int width, int height)
{
    g.fillAll (juce::Colour (0xff171c22));
    g.setColour (juce::Colour (0xff242b26));
    g.drawRect (0, 0, width, height, 1);
}

juce::Rectangle<int> takeTitleRow (RowCutter& rows, int width, int titleHeight)
{
    rows.take (12);
    const auto row = rows.take (titleHeight);
    rows.take (12);
    return { 12, row.getStart(), std::max (0, width - 24), row.getLength() };
}

void placeFieldRow (const Columns& col, juce::Range<int> row, juce::Rectangle<int>& label,
                    juce::Component& field, juce::Rectangle<int>& unit)
{
    label = { col.labelX, row.getStart(), col.t, row.getLength() };
    field.setBounds (col.fieldX, row.getStart(), col.t, row.getLength());
    unit = { col.unitX, row.getStart(), col.unitW, row.getLength() };
}

void placeButtonRow (const Columns& col, juce::Range<int> row, juce::Component& left,
                     juce::Component& middle, juce::Component& right)
{
    left.setBounds (col.labelX, row.getStart(), col.t, row.getLength());
    middle.setBounds (col.fieldX, row.getStart(), col.t, row.getLength());
    right.setBounds (col.unitX, row.getStart(), col.unitW, row.getLength());
}

void paintTitle (juce::Graphics& g, const juce::String& title, juce::Rectangle<int> area)
{
    g.setColour (juce::Colour (0xffeaefe9));
    g.setFont (labelFont (title));
    g.drawText (title, area, juce::Justification::centred, true);
}

void paintLabel (juce::Graphics& g, const juce::String& text, juce::Rectangle<int> area)
{
    g.setColour (juce::Colour (0xff7e7f83));
    g.setFont (labelFont (text));
    g.drawText (text, area, juce::Justification::centred, true);
}

void paintUnits (juce::Graphics& g, const juce::String& unit, juce::Rectangle<int> first, juce::Rectangle<int> second)
{
    g.setColour (juce::Colour (0xff828d85));
    g.setFont (FlatLookAndFeel::dinFont (12.0f, juce::Font::plain));
    g.drawText (unit, first, juce::Justification::centred, true);
    g.drawText (unit, second, juce::Justification::centred, true);
}

void setUpField (juce::TextEditor& field, const juce::String& text, juce::Justification just,
                 int maxChars, const juce::String& allowed)
{
    field.setJustification (just);
    field.setInputRestrictions (maxChars, allowed);
    field.setColour (juce::TextEditor::backgroundColourId, juce::Colour (0xff181a1d));
    field.setColour (juce::TextEditor::textColourId, juce::Colour (0xffeaefe9));
    setFieldOutline (field, juce::Colour (0xff242b26), juce::Colour (0xff7cf2c8));
    field.setFont (fieldFont (text));
    field.setText (text, false);
}

void setFieldOutline (juce::TextEditor& field, juce::Colour outline, juce::Colour focused)
{
    field.setColour (juce::TextEditor::outlineColourId, outline);
    field.setColour (juce::TextEditor::focusedOutlineColourId, focused);
}

void closeEnclosingCallOutBox (juce::Component& content)
{
    if (auto* box = content.findParentComponentOfClass<juce::CallOutBox>())
        box->dismiss();
}
} // namespace qvn::popup
