#pragma once

#include <juce_gui_basics/juce_gui_basics.h>
#include <functional>

// Loudness meter bars: a horizontal row on a fixed -36..0 LUFS scale and a
// vertical column on an adjustable scale. The bars compute nothing; their
// owner writes plain dB values through the setters, and a bar repaints only
// when a setter sees a changed value.

namespace qvn_meter
{
enum class MeasureState : int
{
    Normal = 0,
    Measuring = 1,
    Skipped = 2
};

void drawBarRow (juce::Graphics& g, juce::Rectangle<float> bounds, const juce::String& label,
                 float value, float alpha, MeasureState state, float compare, float integrated,
                 float target, bool showTarget);

void drawBarColumn (juce::Graphics& g, juce::Rectangle<float> bounds, float value, float alpha,
                    MeasureState state, float compare, float integrated, float target,
                    float peakLeft, bool showTarget, bool showScale, const juce::String& markerText,
                    const juce::Colour* fillColour, const juce::Colour* compareAboveColour,
                    const juce::Colour* targetColour, const juce::Colour* markerColour,
                    bool scaleOnRight, float peakRight, float columnWidth, float rangeMin,
                    float rangeMax);

// The scale labels a column with a scale strip shows, in drawing order, for a
// bar of the given height (exposed for checking the label thinning).
juce::StringArray columnScaleLabels (float barTop, float barHeight, float rangeMin, float rangeMax);

// Header text and font size of a column's value for a given full width.
struct ColumnValueText
{
    juce::String text;
    float fontSize = 15.0f;
};
ColumnValueText columnValueText (float value, float fullWidth);

// "-inf" below -100, else the level with one decimal.
juce::String levelText (float value);
} // namespace qvn_meter

class MeterBarBase : public juce::Component
{
public:
    MeterBarBase();
    ~MeterBarBase() override = default;

    std::function<void (bool shiftDown)> onClick;
    std::function<void (bool entered)> onHover;

    float integratedLufs = -200.0f;
    float targetLineLufs = -200.0f;
    float peakLeftDb = -120.0f;
    float peakRightDb = -120.0f;
    float columnWidth = 0.0f;
    float rangeMinLufs = -36.0f;
    float rangeMaxLufs = 0.0f;
    int hitInset = 0;
    juce::String label;
    juce::String markerText;
    qvn_meter::MeasureState measureState = qvn_meter::MeasureState::Normal;
    int layout = 0;
    bool showScale = false;

    // Each setter returns true when the value changed and the bar repaints.
    bool setIntegratedLufs (float v);
    bool setTargetLineLufs (float v);
    bool setPeaks (float leftDb, float rightDb);
    bool setColumnWidth (float w);
    bool setRange (float minLufs, float maxLufs);
    bool setLabel (const juce::String& text);
    bool setMarkerText (const juce::String& text);
    bool setMeasureState (qvn_meter::MeasureState s);
    bool setLayout (int newLayout);
    bool setShowScale (bool show);

    void mouseEnter (const juce::MouseEvent&) override;
    void mouseExit (const juce::MouseEvent&) override;
    void mouseDown (const juce::MouseEvent&) override;
    bool hitTest (int x, int y) override;

protected:
    static bool differs (float a, float b) noexcept { return ! (a == b); }

    // Stores a new value; true when it differs from the old one (for levels a
    // NaN counts as a change, so it is never kept stale).
    static bool store (float& field, float v) noexcept
    {
        const bool c = differs (field, v);
        field = v;
        return c;
    }

    template <typename T>
    static bool store (T& field, const T& v)
    {
        const bool c = field != v;
        field = v;
        return c;
    }

    bool changed (bool didChange);
    void paintRowFrame (juce::Graphics& g);

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MeterBarBase)
};

class InstMeterBar : public MeterBarBase
{
public:
    float valueLufs = -120.0f;
    juce::Colour fillColour { 0xff8f9994 };

    bool setValueLufs (float v);
    bool setFillColour (juce::Colour c);

    void paint (juce::Graphics& g) override;
};

class VocalMeterBar : public MeterBarBase
{
public:
    float compareLufs = -120.0f;
    float valueLufs = -120.0f;
    juce::Colour markerColour { 0xffffffff };
    juce::Colour customFillColour { 0x00000000 };
    bool useCustomFill = false;

    bool setLevels (float compare, float value);
    bool setMarkerColour (juce::Colour c);
    bool setCustomFill (juce::Colour c, bool use = true);

    void paint (juce::Graphics& g) override;
};
