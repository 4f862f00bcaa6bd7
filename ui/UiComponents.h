#pragma once

#include "ui/UiTheme.h"

#include <functional>
#include <memory>

//==============================================================================
/** The Offset Gain slider: two thirds of its length for -6..+6 dB, the outer
    sixths for the rest of the range; relative dragging (ten times finer with
    Shift); a press with the right button or Control moves all sections. */
class OffsetSlider : public juce::Slider
{
public:
    OffsetSlider() = default;
    ~OffsetSlider() override;

    std::function<void (bool)> onAllSectionsDrag;
    std::function<void()> onDragStart;
    std::function<void()> onDragEnd;

    bool allSectionsDrag = false;
    bool dragging = false;
    double lastMouseX = 0.0;
    double dragProportion = 0.5;

    bool showTargetBand = false;
    float targetBandLo = 0.0f;
    float targetBandHi = 0.0f;

    void mouseDown (const juce::MouseEvent&) override;
    void mouseDrag (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;
    double proportionOfLengthToValue (double proportion) override;
    double valueToProportionOfLength (double value) override;

private:
    bool usesZoneMapping() const;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OffsetSlider)
};

/** The look of the Offset Gain slider: track, Offset Target band, value span,
    scale with labels and a round thumb. */
class OffsetSliderLF : public FlatLookAndFeel
{
public:
    void drawLinearSlider (juce::Graphics&, int x, int y, int width, int height, float sliderPos,
                           float minSliderPos, float maxSliderPos, juce::Slider::SliderStyle, juce::Slider&) override;
    juce::Slider::SliderLayout getSliderLayout (juce::Slider&) override;
};

//==============================================================================
/** A role tab ("INST", "VOCAL") with a double-click callback and an optional
    hover highlight. */
class RoleTabButton : public juce::TextButton
{
public:
    using juce::TextButton::TextButton;

    std::function<void()> onDoubleClick;
    bool hoverHighlight = false;

    void mouseDoubleClick (const juce::MouseEvent&) override;
    void paintButton (juce::Graphics&, bool highlighted, bool down) override;
};

/** A component that paints through a callback. */
class CallbackComponent : public juce::Component
{
public:
    std::function<void (juce::Graphics&)> onPaint;

    void paint (juce::Graphics&) override;
};

/** A button drawing one of seven vector icons (kind 0 to 6) in a frame. */
class IconButton : public juce::Button
{
public:
    explicit IconButton (const juce::String& name = {}) : juce::Button (name) {}

    std::function<void()> onRightClick;
    int kind = 6;
    juce::Colour iconColour { 0x00000000 };
    bool rightPressed = false;

    void mouseDown (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;
    void paintButton (juce::Graphics&, bool highlighted, bool down) override;
};

/** A text button that reports right or Control clicks instead of pressing. */
class RClickButton : public juce::TextButton
{
public:
    using juce::TextButton::TextButton;

    std::function<void()> onRightClick;
    bool rightPressed = false;

    void mouseDown (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;
};

/** A button showing an SVG icon recoloured to its state. */
class SvgIconButton : public juce::Button
{
public:
    explicit SvgIconButton (const juce::String& name = {}) : juce::Button (name) {}
    ~SvgIconButton() override;

    std::function<void()> onRightClick;
    std::unique_ptr<juce::Drawable> offDrawable;
    std::unique_ptr<juce::Drawable> onDrawable;
    juce::Colour offColour { 0xff828d85 };
    juce::Colour onColour { 0xffe0922f };
    bool rightPressed = false;
    bool boxed = false;
    bool hoverBrighten = true;

    void setOffDrawable (std::unique_ptr<juce::Drawable>);
    void setOnDrawable (std::unique_ptr<juce::Drawable>);
    void setOffColour (juce::Colour);
    void setOnColour (juce::Colour);

    void mouseDown (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;
    void paintButton (juce::Graphics&, bool highlighted, bool down) override;
};

/** The meter-rail mode selector: its text and a caret, no face. */
class RailModeButton : public juce::Button
{
public:
    explicit RailModeButton (const juce::String& name = {}) : juce::Button (name) {}
    void paintButton (juce::Graphics&, bool highlighted, bool down) override;
};

/** Previous / next chevron. */
class ChevronNavButton : public juce::Button
{
public:
    explicit ChevronNavButton (bool right = false, const juce::String& name = {}) : juce::Button (name), pointsRight (right) {}

    bool pointsRight = false;

    void paintButton (juce::Graphics&, bool highlighted, bool down) override;
};

/** The window's bottom-right resize grip; reports drags in screen pixels. */
class ResizeGrip : public juce::Component, public juce::SettableTooltipClient
{
public:
    ResizeGrip();

    std::function<void()> onDragStart;
    std::function<void (int dx, int dy)> onDrag;
    std::function<void()> onDragEnd;
    bool hover = false;
    bool dragging = false;

    void mouseEnter (const juce::MouseEvent&) override;
    void mouseExit (const juce::MouseEvent&) override;
    void mouseDown (const juce::MouseEvent&) override;
    void mouseDrag (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;
    void paint (juce::Graphics&) override;

private:
    juce::Point<int> downScreenPos;
};

/** The measure button, with a progress overlay and a pulsing dot while it
    measures. The owner animates the members from its refresh timer. */
class ProgressButton : public juce::TextButton
{
public:
    ProgressButton() : juce::TextButton ("Learn") {}

    float progress = 0.0f;
    bool isMeasuring = false;
    float pulse = 1.0f;

    void paintButton (juce::Graphics&, bool highlighted, bool down) override;
};

/** One clickable row of the section list; the list paints the rows itself. */
class SectionRowButton : public juce::Button
{
public:
    explicit SectionRowButton (const juce::String& name = {}) : juce::Button (name) {}
    void paintButton (juce::Graphics&, bool, bool) override {}
};
