#pragma once

#include <juce_gui_basics/juce_gui_basics.h>
#include <functional>
#include <vector>

// Level history of one measurement with its gate marks, an optional gain curve
// and target line, a range pill, and two trim handles that divide the plot
// into a kept middle part and excluded ends.
class LearnHistoryChart : public juce::Component,
                          public juce::SettableTooltipClient
{
public:
    struct History
    {
        std::vector<float> selfSeries;
        std::vector<float> partnerSeries;
        std::vector<bool> belowGate;
    };

    struct HeaderLayout
    {
        juce::String rangeText;
        juce::String gainLabel;
        juce::Rectangle<int> pill;
        float legendX = 0.0f;
    };

    LearnHistoryChart();
    ~LearnHistoryChart() override = default;

    std::function<void()> onRangePillClicked;
    History historyData;
    juce::String emptyText;
    float lengthSeconds = 0.0f;
    float trimStart = 0.0f;
    float trimEnd = 1.0f;
    bool trimEditable = false;
    int dragMode = 0;
    std::function<void (float, float)> onTrimChanged;
    float displayMinLufs = -30.0f;
    float displayMaxLufs = -6.0f;
    float totalGainDb = 0.0f;
    bool showGainCurve = false;
    bool instView = false;
    float targetLineLufs = -18.0f;
    bool showTargetLine = false;
    bool pillHover = false;
    juce::String rangePillTooltip { "Change the displayed LUFS range" };

    void push (float level, float partnerLevel, bool belowGate);
    static void pushValue (std::vector<float>& series, float value);

    juce::Path makePath (const std::vector<float>& series, juce::Rectangle<float> rect) const;
    static void strokePathKeptExcl (juce::Graphics& g, const juce::Path& path,
                                    const juce::RectangleList<int>& excluded, juce::Rectangle<int> kept,
                                    juce::Colour keptColour, juce::Colour excludedColour, float thickness);

    HeaderLayout computeHeaderLayout() const;
    juce::String rangeStringFull() const;
    juce::String rangeStringMin() const;
    juce::Rectangle<int> rangePillScreenBounds() const;

    // Footer texts for the current length and trim range ("Start 3.0s", ...).
    juce::StringArray footerTexts() const;

    void mouseMove (const juce::MouseEvent& e) override;
    void mouseExit (const juce::MouseEvent& e) override;
    void mouseDown (const juce::MouseEvent& e) override;
    void mouseDrag (const juce::MouseEvent& e) override;
    void mouseUp (const juce::MouseEvent& e) override;
    void paint (juce::Graphics& g) override;

private:
    struct Geometry
    {
        float plotX = 16.0f, pw = 0.0f, plotTop = 0.0f, ph = 0.0f;
        float plotRight() const noexcept { return plotX + pw; }
        float plotBottom() const noexcept { return plotTop + ph; }
        float xS = 16.0f, xE = 16.0f;
    };

    Geometry geometry() const;
    float levelY (float v, const Geometry& geo) const;
    bool nearHandle (float x, float handleX) const noexcept;

    void paintMainCurve (juce::Graphics& g, const Geometry& geo, const juce::RectangleList<int>& excluded,
                         juce::Rectangle<int> kept) const;
    void paintHeader (juce::Graphics& g, const HeaderLayout& hl) const;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LearnHistoryChart)
};
