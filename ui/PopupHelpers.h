#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// Pieces shared by the call-out popups: the number format of their fields,
// fonts, frame painting, the top-down row layout and closing the enclosing
// call-out box.
namespace qvn::popup
{
// The value rounded half away from zero as a whole number when within 0.05
// of it, else with one decimal place ("-36", "-23.5").
juce::String formatNumber (float value);

// IBM Plex Sans JP 14 when the text needs the Japanese face, else D-DIN 12.
juce::Font labelFont (const juce::String& text);

// Font of a field whose content may be Japanese (a target name).
juce::Font fieldFont (const juce::String& text);

int titlePx (const juce::String& title);

void paintFrame (juce::Graphics& g, int width, int height);

// Gives each row the height asked for, or what is left of the popup.
struct RowCutter
{
    int y = 0;
    int left = 0;

    explicit RowCutter (int height) : left (std::max (0, height)) {}

    juce::Range<int> take (int n)
    {
        const int h = std::min (std::max (0, n), left);
        const juce::Range<int> r (y, y + h);
        y += h;
        left -= h;
        return r;
    }
};

// The three columns (label, field, unit) of a popup of width W.
struct Columns
{
    int t, labelX, fieldX, unitX, unitW;

    explicit Columns (int W)
    {
        const int iw = std::max (0, W - 24);
        t = std::max (0, (iw - 12) / 3);
        labelX = 12;
        fieldX = 18 + t;
        unitX = 2 * t + 24;
        unitW = std::max (0, W - 36 - 2 * t);
    }
};

// The title row between its 12 px margins, across the popup's inner width.
juce::Rectangle<int> takeTitleRow (RowCutter& rows, int width, int titleHeight);

// A label, its field and the unit after it, in the three columns.
void placeFieldRow (const Columns& col, juce::Range<int> row, juce::Rectangle<int>& label,
                    juce::Component& field, juce::Rectangle<int>& unit);

// The three buttons of the bottom row, one per column.
void placeButtonRow (const Columns& col, juce::Range<int> row, juce::Component& left,
                     juce::Component& middle, juce::Component& right);

void paintTitle (juce::Graphics& g, const juce::String& title, juce::Rectangle<int> area);
void paintLabel (juce::Graphics& g, const juce::String& text, juce::Rectangle<int> area);
void paintUnits (juce::Graphics& g, const juce::String& unit, juce::Rectangle<int> first, juce::Rectangle<int> second);

void setUpField (juce::TextEditor& field, const juce::String& text, juce::Justification just,
                 int maxChars, const juce::String& allowed);

// Restores a field's normal outline colours (after a refused value).
void setFieldOutline (juce::TextEditor& field, juce::Colour outline, juce::Colour focused);

// Posts the dismiss command of the nearest enclosing call-out box; the box then
// deletes itself and its content asynchronously.
void closeEnclosingCallOutBox (juce::Component& content);
} // namespace qvn::popup
