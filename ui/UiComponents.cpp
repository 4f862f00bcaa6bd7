#include "ui/UiComponents.h"

#include "ui/JuceCompat.h"

#include <cmath>

namespace
{
constexpr double kOneSixth = 1.0 / 6.0;
constexpr double kFiveSixths = 5.0 / 6.0;
constexpr double kTwoThirds = 2.0 / 3.0;

float degreesToRadians (float d) noexcept { return d * juce::MathConstants<float>::pi / 180.0f; }

// A right (or Control) click on a button with a right-click callback goes to
// the callback instead of pressing the button; true when the press was taken.
bool takeRightPress (const juce::MouseEvent& e, const std::function<void()>& onRightClick, bool& rightPressed)
{
    if (! qvn::compat::isPopupMenuClick (e) || ! onRightClick)
        return false;

    rightPressed = true;
    onRightClick();
    return true;
}

// True when the release ends a press that takeRightPress took.
bool takeRightRelease (bool& rightPressed)
{
    if (! rightPressed)
        return false;

    rightPressed = false;
    return true;
}
} // namespace

//==============================================================================
OffsetSlider::~OffsetSlider()
{
    onAllSectionsDrag = nullptr;
    onDragStart = nullptr;
    onDragEnd = nullptr;
}

bool OffsetSlider::usesZoneMapping() const
{
    return getMinimum() < -6.0 && getMaximum() > 6.0;
}

double OffsetSlider::proportionOfLengthToValue (double p)
{
    if (! usesZoneMapping())
        return juce::Slider::proportionOfLengthToValue (p);

    const double lo = getMinimum(), hi = getMaximum();
    p = juce::jlimit (0.0, 1.0, p);

    if (p < kOneSixth)
        return lo + (-6.0 - lo) * p / kOneSixth;

    if (p > kFiveSixths)
        return 6.0 + (hi - 6.0) * (p - kFiveSixths) / (1.0 - kFiveSixths);

    return -6.0 + 12.0 * (p - kOneSixth) / kTwoThirds;
}

double OffsetSlider::valueToProportionOfLength (double v)
{
    if (! usesZoneMapping())
        return juce::Slider::valueToProportionOfLength (v);

    const double lo = getMinimum(), hi = getMaximum();
    v = juce::jlimit (lo, hi, v);

    if (v < -6.0)
        return (v - lo) * kOneSixth / (-6.0 - lo);

    if (v > 6.0)
        return kFiveSixths + (v - 6.0) * (1.0 - kFiveSixths) / (hi - 6.0);

    return kOneSixth + (v + 6.0) * kTwoThirds / 12.0;
}

void OffsetSlider::mouseDown (const juce::MouseEvent& e)
{
    if (! isEnabled())
        return;

    dragging = true;

    if (onDragStart)
        onDragStart();

    allSectionsDrag = qvn::compat::isPopupMenuClick (e);

    if (allSectionsDrag && onAllSectionsDrag)
        onAllSectionsDrag (true);

    // Always an absolute drag in the base class: no modifier may switch it to
    // velocity mode, since Control already means "all sections" here.
    setVelocityBasedMode (false);
    setVelocityModeParameters (1.0, 1, 0.0, false,
                               (juce::ModifierKeys::Flags) (juce::ModifierKeys::ctrlModifier
                                                            | juce::ModifierKeys::altModifier
                                                            | juce::ModifierKeys::commandModifier));

    // A Shift-press starts a fine drag where the thumb is instead of jumping.
    const bool snapped = getSliderSnapsToMousePosition();

    if (e.mods.isShiftDown())
        setSliderSnapsToMousePosition (false);

    juce::Slider::mouseDown (e);

    setSliderSnapsToMousePosition (snapped);
    lastMouseX = e.position.x;
    dragProportion = valueToProportionOfLength (getValue());
}

void OffsetSlider::mouseDrag (const juce::MouseEvent& e)
{
    if (! dragging)
        return;

    const double dx = e.position.x - lastMouseX;
    lastMouseX = e.position.x;

    if (! isEnabled())
        return;

    const double span = (double) getPositionOfValue (getMaximum()) - (double) getPositionOfValue (getMinimum());

    if (span <= 0.0)
        return;

    const double factor = e.mods.isShiftDown() ? 0.1 : 1.0;
    dragProportion = juce::jlimit (0.0, 1.0, dragProportion + dx * factor / span);

    const auto value = snapValue (proportionOfLengthToValue (dragProportion), juce::Slider::absoluteDrag);
    setValue (value, juce::sendNotificationSync);
}

void OffsetSlider::mouseUp (const juce::MouseEvent& e)
{
    if (! dragging)
        return;

    dragging = false;
    juce::Slider::mouseUp (e);

    if (allSectionsDrag)
    {
        allSectionsDrag = false;

        if (onAllSectionsDrag)
            onAllSectionsDrag (false);
    }

    if (onDragEnd)
        onDragEnd();
}

//==============================================================================
juce::Slider::SliderLayout OffsetSliderLF::getSliderLayout (juce::Slider& slider)
{
    juce::Slider::SliderLayout layout;
    layout.sliderBounds = { 16, 0, juce::jmax (0, slider.getWidth() - 32), juce::jmax (0, slider.getHeight() - 14) };
    layout.textBoxBounds = {};
    return layout;
}

void OffsetSliderLF::drawLinearSlider (juce::Graphics& g, int x, int y, int width, int height, float sliderPos,
                                       float, float, juce::Slider::SliderStyle, juce::Slider& slider)
{
    const float alpha = qvn::enabledAlpha (slider);
    const auto grey = qvn::withAlphaFactor (qvn::theme::kMutedCol, alpha);
    const auto accent = qvn::withAlphaFactor (qvn::theme::kAccentCol, alpha);
    const float cy = (float) y + (float) height * 0.5f;
    const double lo = slider.getMinimum(), hi = slider.getMaximum();
    auto pos = [&slider, lo, hi] (double v) { return slider.getPositionOfValue (juce::jlimit (lo, hi, v)); };

    // Track
    g.setColour (grey);
    g.fillRoundedRectangle ((float) x, cy - 1.5f, (float) width, 3.0f, 1.5f);

    // Offset Target band with its glow
    if (auto* os = dynamic_cast<OffsetSlider*> (&slider); os != nullptr && os->showTargetBand)
    {
        const float x0 = pos (os->targetBandLo);
        const float x1 = pos (os->targetBandHi);

        if (x1 > x0 + 0.5f)
        {
            for (int k = 1; k <= 16; ++k)
            {
                const float t = (float) k / 16.0f;
                const float e = (1.0f - t) * 10.0f;
                g.setColour (qvn::withAlphaFactor (qvn::theme::kAccentCol, 0.03f * t * t * alpha));
                g.fillRoundedRectangle (x0 - e, cy - 4.5f - e, x1 - x0 + 2.0f * e, 9.0f + 2.0f * e, (9.0f + 2.0f * e) / 2.0f);
            }

            juce::ColourGradient band (qvn::withAlphaFactor (qvn::theme::kAccentCol, 0.12f * alpha), 0.0f, cy - 4.5f,
                                       qvn::withAlphaFactor (qvn::theme::kAccentCol, 0.12f * alpha), 0.0f, cy + 4.5f, false);
            band.addColour (0.5, qvn::withAlphaFactor (qvn::theme::kAccentCol, 0.36f * alpha));
            g.setGradientFill (band);
            g.fillRoundedRectangle (x0, cy - 4.5f, x1 - x0, 9.0f, 4.5f);
        }
    }

    // Span between 0 dB and the thumb
    if (hi > lo)
    {
        const float z = pos (0.0);
        const float a = juce::jmin (sliderPos, z), b = juce::jmax (sliderPos, z);

        if (b > a + 0.5f)
        {
            g.setColour (accent);
            g.fillRoundedRectangle (a, cy - 1.5f, b - a, 3.0f, 1.5f);
        }
    }

    // Scale
    g.setColour (grey);
    g.setFont (FlatLookAndFeel::font (11.0f, juce::Font::plain));

    const std::pair<double, const char*> marks[] = { { -12.0, "-12" }, { -6.0, "-6" }, { 0.0, "0" }, { 6.0, "+6" }, { 12.0, "+12" } };

    for (auto& [v, label] : marks)
    {
        if (v < lo || v > hi)
            continue;

        const float px = pos (v);
        g.drawLine (px, cy + 4.0f, px, (float) (y + height - 1), 1.0f);
        g.drawText (label, juce::Rectangle<float> (px - 16.0f, (float) (y + height), 32.0f, 14.0f),
                    juce::Justification::centred, false);
    }

    // Thumb
    const float cx = juce::jlimit ((float) x, (float) (x + width), sliderPos);
    g.setColour (accent);
    g.fillEllipse (cx - 7.0f, cy - 7.0f, 14.0f, 14.0f);
    g.setColour (qvn::withAlphaFactor (qvn::theme::kDeepCol, alpha));
    g.drawEllipse (cx - 7.0f, cy - 7.0f, 14.0f, 14.0f, 1.0f);
}

//==============================================================================
void RoleTabButton::mouseDoubleClick (const juce::MouseEvent&)
{
    if (onDoubleClick)
        onDoubleClick();
}

void RoleTabButton::paintButton (juce::Graphics& g, bool highlighted, bool down)
{
    juce::TextButton::paintButton (g, highlighted, down);

    if (hoverHighlight && isMouseOver (false))
    {
        g.setColour (juce::Colour (0x14ffffff));
        g.fillRoundedRectangle (getLocalBounds().toFloat(), 4.0f);
    }
}

//==============================================================================
void CallbackComponent::paint (juce::Graphics& g)
{
    if (onPaint)
        onPaint (g);
}

//==============================================================================
void IconButton::mouseDown (const juce::MouseEvent& e)
{
    if (! takeRightPress (e, onRightClick, rightPressed))
        juce::Button::mouseDown (e);
}

void IconButton::mouseUp (const juce::MouseEvent& e)
{
    if (! takeRightRelease (rightPressed))
        juce::Button::mouseUp (e);
}

void IconButton::paintButton (juce::Graphics& g, bool highlighted, bool down)
{
    const int w = getWidth(), h = getHeight();
    const bool on = getToggleState();

    g.setColour (on ? qvn::theme::kAccentCol
                    : (down ? juce::Colour (0xcceaefe9) : (highlighted ? qvn::theme::kButtonHoverCol : qvn::theme::kButtonOutlineCol)));
    g.drawRoundedRectangle (0.5f, 0.5f, juce::jmax (0.0f, (float) w - 1.0f), juce::jmax (0.0f, (float) h - 1.0f), 4.0f, 1.2f);

    const float S = (float) juce::jmin (w, h) - 4.0f;

    if (S <= 2.0f || kind < 0 || kind > 6)
        return;

    const float R = S / 2.0f;
    const float cx = std::floor ((float) w / 2.0f) + 0.5f;
    const float cy = std::floor ((float) h / 2.0f) + 0.5f;
    const float T = juce::jmax (1.5f, (float) juce::roundToInt (S * 0.16f));

    juce::Colour colour;

    if (iconColour.getAlpha() != 0)
        colour = iconColour;
    else if (kind == 0)
        colour = on ? qvn::theme::kOrangeCol : juce::Colour (0xffc7c7c7);
    else if (kind == 2 || kind == 3)
        colour = on ? qvn::theme::kOrangeCol : juce::Colour (0xffd1d1d1);
    else
        colour = juce::Colour (0xffd1d1d1);

    if (! isEnabled())
        colour = colour.withAlpha ((juce::uint8) 0x59);
    else if (down)
        colour = colour.brighter (0.25f);
    else if (highlighted)
        colour = colour.brighter (0.12f);

    g.setColour (colour);
    const juce::PathStrokeType stroke (T, juce::PathStrokeType::mitered, juce::PathStrokeType::rounded);

    switch (kind)
    {
        case 0: // ring and bar
        {
            juce::Path arc;
            arc.addCentredArc (cx, cy, 0.8f * R, 0.8f * R, 0.0f, degreesToRadians (-140.0f), degreesToRadians (140.0f), true);
            g.strokePath (arc, stroke);

            juce::Path bar;
            bar.startNewSubPath (cx, cy - R);
            bar.lineTo (cx, cy - 0.1f * R);
            g.strokePath (bar, juce::PathStrokeType (T, juce::PathStrokeType::mitered, juce::PathStrokeType::butt));
            break;
        }

        case 1: // circular arrow
        {
            const float r = 0.78f * R;
            juce::Path arc;
            arc.addCentredArc (cx, cy, r, r, 0.0f, degreesToRadians (-20.0f), degreesToRadians (245.0f), true);
            g.strokePath (arc, stroke);

            const juce::Point<float> p (cx - 0.9063f * r, cy + 0.4226f * r);
            const juce::Point<float> d (2.2f * T * -0.4226f, 2.2f * T * -0.9063f);
            const auto tip = p + d * 0.7f;
            const auto base = p - d * 0.7f;
            juce::Path head;
            head.addTriangle (tip, base + juce::Point<float> (-d.y, d.x), base + juce::Point<float> (d.y, -d.x));
            g.fillPath (head);
            break;
        }

        case 2: // link: two capsule rings overlapping in the middle
        {
            const float rw = 1.1f * R, rh = 0.78f * R;

            for (float left : { cx - 0.99f * R, cx - 0.11f * R })
            {
                juce::Path ring;
                ring.addRoundedRectangle (left, cy - 0.39f * R, rw, rh, rh / 2.0f);
                ring.addRoundedRectangle (left + T, cy - 0.39f * R + T, juce::jmax (0.0f, rw - 2.0f * T),
                                          juce::jmax (0.0f, rh - 2.0f * T), juce::jmax (0.5f, 0.39f * R - T));
                ring.setUsingNonZeroWinding (false);
                g.fillPath (ring);
            }
            break;
        }

        case 3: // padlock, closed when toggled
        {
            const float by = cy + 0.05f * R;
            g.fillRoundedRectangle (cx - 0.65f * R, by, 1.3f * R, 0.95f * R, juce::jmin (0.171f * R, 3.0f));

            const float s = 0.55f * R;
            const float arcY = by - 0.055f * R;
            juce::Path shackle;

            if (on)
            {
                shackle.addCentredArc (cx, arcY, s, s, 0.0f, degreesToRadians (-90.0f), degreesToRadians (90.0f), true);
                shackle.lineTo (cx + s, by);
                shackle.startNewSubPath (cx - s, arcY);
                shackle.lineTo (cx - s, by);
            }
            else
            {
                shackle.startNewSubPath (cx - s, by);
                shackle.lineTo (cx - s, arcY);
                shackle.addCentredArc (cx, arcY, s, s, 0.0f, degreesToRadians (-90.0f), degreesToRadians (90.0f), false);
                shackle.lineTo (cx + s, by - 0.45f * s);
            }

            g.strokePath (shackle, juce::PathStrokeType (1.05f * T, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
            break;
        }

        case 4: // curved arrow pointing left
        case 5: // the same, mirrored
        {
            const float r = 0.78f * R;
            const float d = kind == 4 ? 1.0f : -1.0f;
            auto pt = [cx, cy, r, d] (float u, float v) { return juce::Point<float> (cx + d * u * r, cy + v * r); };

            juce::Path arrow;
            arrow.startNewSubPath (pt (-0.4f, -0.65f));
            arrow.lineTo (pt (-0.95f, -0.1f));
            arrow.lineTo (pt (-0.3f, 0.4f));
            arrow.cubicTo (pt (0.05f, 0.05f), pt (0.25f, 0.2f), pt (0.2f, 0.55f));
            arrow.lineTo (pt (0.6f, 0.65f));
            arrow.cubicTo (pt (0.85f, 0.0f), pt (0.2f, -0.75f), pt (-0.4f, -0.65f));
            arrow.closeSubPath();
            g.fillPath (arrow);
            break;
        }

        case 6: // gear
        {
            const float ro = 0.72f * R, ri = 0.53f * R;
            auto at = [cx, cy] (float radius, float deg)
            {
                const float a = degreesToRadians (deg);
                return juce::Point<float> (cx + radius * std::cos (a), cy + radius * std::sin (a));
            };

            juce::Path gear;

            for (int k = 0; k < 8; ++k)
            {
                const float c = 45.0f * (float) k;

                if (k == 0)
                    gear.startNewSubPath (at (ri, c - 20.25f));
                else
                    gear.lineTo (at (ri, c - 20.25f));

                gear.lineTo (at (ro, c - 11.25f));
                gear.lineTo (at (ro, c + 11.25f));
                gear.lineTo (at (ri, c + 20.25f));
            }

            gear.closeSubPath();
            gear.addEllipse (cx - 0.27f * R, cy - 0.27f * R, 0.54f * R, 0.54f * R);
            gear.setUsingNonZeroWinding (false);
            g.fillPath (gear);
            break;
        }

        default:
            break;
    }
}

//==============================================================================
void RClickButton::mouseDown (const juce::MouseEvent& e)
{
    if (qvn::compat::isPopupMenuClick (e))
    {
        rightPressed = true;

        if (onRightClick)
            onRightClick();

        return;
    }

    juce::TextButton::mouseDown (e);
}

void RClickButton::mouseUp (const juce::MouseEvent& e)
{
    if (! takeRightRelease (rightPressed))
        juce::TextButton::mouseUp (e);
}

//==============================================================================
SvgIconButton::~SvgIconButton()
{
    onRightClick = nullptr;
}

void SvgIconButton::setOffDrawable (std::unique_ptr<juce::Drawable> d)
{
    offDrawable = std::move (d);
    repaint();
}

void SvgIconButton::setOnDrawable (std::unique_ptr<juce::Drawable> d)
{
    onDrawable = std::move (d);
    repaint();
}

void SvgIconButton::setOffColour (juce::Colour c)
{
    if (c != offColour)
    {
        offColour = c;
        repaint();
    }
}

void SvgIconButton::setOnColour (juce::Colour c)
{
    if (c != onColour)
    {
        onColour = c;
        repaint();
    }
}

void SvgIconButton::mouseDown (const juce::MouseEvent& e)
{
    if (! takeRightPress (e, onRightClick, rightPressed))
        juce::Button::mouseDown (e);
}

void SvgIconButton::mouseUp (const juce::MouseEvent& e)
{
    if (! takeRightRelease (rightPressed))
        juce::Button::mouseUp (e);
}

void SvgIconButton::paintButton (juce::Graphics& g, bool highlighted, bool down)
{
    const bool on = getToggleState();
    const juce::Drawable* icon = (on && onDrawable != nullptr) ? onDrawable.get() : offDrawable.get();

    if (icon == nullptr)
        return;

    const bool hovered = highlighted && hoverBrighten;
    auto colour = on ? onColour : offColour;

    if (! isEnabled())
        colour = colour.withAlpha ((juce::uint8) 0x59);
    else if (down)
        colour = colour.darker (0.2f);
    else if (hovered)
        colour = boxed ? juce::Colours::white : colour.brighter (0.15f);

    const float w = (float) getWidth(), h = (float) getHeight();

    if (boxed)
    {
        const juce::Rectangle<float> box (1.0f, 1.0f, juce::jmax (0.0f, w - 2.0f), juce::jmax (0.0f, h - 2.0f));
        g.setColour (hovered ? juce::Colour (0xff303235) : qvn::theme::kCardCol);
        g.fillRoundedRectangle (box, 4.0f);
        g.setColour (hovered ? juce::Colour (0xf2242b26) : juce::Colour (0xa6242b26));
        g.drawRoundedRectangle (box, 4.0f, 1.0f);
    }

    const float inset = boxed ? 3.0f : 2.0f;
    auto copy = icon->createCopy();
    copy->replaceColour (juce::Colours::black, colour);
    copy->drawWithin (g, { inset, inset, juce::jmax (0.0f, w - 2.0f * inset), juce::jmax (0.0f, h - 2.0f * inset) },
                      juce::RectanglePlacement::centred, 1.0f);
}

//==============================================================================
void RailModeButton::paintButton (juce::Graphics& g, bool highlighted, bool down)
{
    const int w = getWidth(), h = getHeight();
    const auto colour = (highlighted || down) ? juce::Colour (0xffeef2ed) : qvn::theme::kTextCol;
    const int c = juce::jmin (w, 12);

    g.setColour (colour);
    g.setFont (FlatLookAndFeel::font (18.0f, juce::Font::bold));
    qvn::compat::drawFittedText (g, getButtonText(), { 0, 0, w - c, h }, juce::Justification::centred, 1, 0.9f);

    const float x0 = (float) ((w - c) + c / 2 - 1);
    const float y0 = (float) (h / 2 + 1);
    juce::Path caret;
    caret.startNewSubPath (x0 - 3.5f, y0 - 2.0f);
    caret.lineTo (x0, y0 + 2.0f);
    caret.lineTo (x0 + 3.5f, y0 - 2.0f);
    g.strokePath (caret, juce::PathStrokeType (1.6f, juce::PathStrokeType::mitered, juce::PathStrokeType::butt));
}

//==============================================================================
void ChevronNavButton::paintButton (juce::Graphics& g, bool highlighted, bool down)
{
    const float cx = (float) getWidth() / 2.0f, cy = (float) getHeight() / 2.0f;
    const float s = pointsRight ? 1.0f : -1.0f;

    juce::Path chevron;
    chevron.startNewSubPath (cx - s * 2.04f, cy - 6.2f);
    chevron.lineTo (cx + s * 3.06f, cy);
    chevron.lineTo (cx - s * 2.04f, cy + 6.2f);

    g.setColour (! isEnabled() ? juce::Colour (0x4c7e7f83)
                               : ((highlighted || down) ? qvn::theme::kAccentCol : qvn::theme::kTextCol));
    g.strokePath (chevron, juce::PathStrokeType (2.2f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
}

//==============================================================================
ResizeGrip::ResizeGrip()
{
    setMouseCursor (juce::MouseCursor::BottomRightCornerResizeCursor);
}

void ResizeGrip::mouseEnter (const juce::MouseEvent&)
{
    hover = true;
    repaint();
}

void ResizeGrip::mouseExit (const juce::MouseEvent&)
{
    hover = false;
    repaint();
}

void ResizeGrip::mouseDown (const juce::MouseEvent& e)
{
    dragging = true;
    downScreenPos = e.getMouseDownScreenPosition();
    repaint();

    if (onDragStart)
        onDragStart();
}

void ResizeGrip::mouseDrag (const juce::MouseEvent& e)
{
    if (! onDrag)
        return;

    // Screen coordinates: the owner rescales the window while it is dragged,
    // which would make a delta in local coordinates jump.
    const auto now = e.getScreenPosition();
    onDrag (now.x - downScreenPos.x, now.y - downScreenPos.y);
}

void ResizeGrip::mouseUp (const juce::MouseEvent&)
{
    dragging = false;
    repaint();

    if (onDragEnd)
        onDragEnd();
}

void ResizeGrip::paint (juce::Graphics& g)
{
    g.setColour (dragging ? qvn::theme::kAccentCol : (hover ? qvn::theme::kCaptionCol : juce::Colour (0xcc7e7f83)));

    const float s = (float) juce::jmax (0, juce::jmin (getWidth() - 4, getHeight() - 4));
    const float xr = (float) getWidth() - 2.0f, yb = (float) getHeight() - 2.0f;

    for (int k = 1; k <= 3; ++k)
    {
        const float d = s * (float) k / 3.0f;
        g.drawLine (xr - d, yb, xr, yb - d, 1.2f);
    }
}

//==============================================================================
void ProgressButton::paintButton (juce::Graphics& g, bool highlighted, bool down)
{
    const float w = (float) getWidth(), h = (float) getHeight();
    const juce::Rectangle<float> r (0.5f, 0.5f, juce::jmax (0.0f, w - 1.0f), juce::jmax (0.0f, h - 1.0f));
    const float rw = r.getWidth(), rh = r.getHeight();
    auto f = FlatLookAndFeel::dinFont (juce::jmin (h * 0.5f, 15.0f), juce::Font::bold).withExtraKerningFactor (0.12f);
    const auto text = getButtonText();

    if (! isMeasuring)
    {
        const juce::Colour base = (highlighted && ! down) ? juce::Colour (0xff89733c)
                                                          : (down ? juce::Colour (0xff6e5926) : juce::Colour (0xff80682d));
        g.setGradientFill (juce::ColourGradient (base.brighter (0.12f), rw / 2.0f + 0.5f, 0.5f,
                                                 base.darker (0.2f), rw / 2.0f + 0.5f, rh + 0.5f, false));
        g.fillRoundedRectangle (r, 5.0f);

        if (progress > 0.0f)
        {
            g.setColour (juce::Colour (0x1affffff));
            g.fillRoundedRectangle (0.5f, 0.5f, progress * rw, rh, 5.0f);
        }

        g.setColour (juce::Colour (0x38d1ad51));
        g.drawRoundedRectangle (1.5f, 1.5f, juce::jmax (0.0f, rw - 2.0f), juce::jmax (0.0f, rh - 2.0f), 4.0f, 1.0f);
        g.setColour (juce::Colour (0xffb9973f));
        g.drawRoundedRectangle (r, 5.0f, 1.0f);

        g.setFont (f);
        g.setColour (juce::Colour (0xfffbf0cf));
        qvn::compat::drawText (g, text, r, juce::Justification::centred, false);
        return;
    }

    g.setColour (qvn::theme::kOrangeCol);
    g.fillRoundedRectangle (r, 5.0f);

    if (progress > 0.0f)
    {
        g.setColour (juce::Colour (0x26ffffff));
        g.fillRoundedRectangle (0.5f, 0.5f, progress * rw, rh, 5.0f);
    }

    g.setColour (juce::Colour (0xffb37425));
    g.drawRoundedRectangle (r, 5.0f, 1.2f);

    float tw = qvn::compat::stringWidth (f, text);
    const float D = juce::jmin (h * 0.22f, 9.0f);

    if (tw > 0.0f)
    {
        const float avail = rw - D - 7.0f - 8.0f;

        if (tw > avail && avail > 0.0f)
        {
            f = f.withHeight (juce::jmax (8.0f, f.getHeight() * avail / tw));
            tw = qvn::compat::stringWidth (f, text);
        }
    }

    const float groupWidth = D + 7.0f + tw;
    const float x0 = rw / 2.0f + 0.5f - groupWidth / 2.0f;

    const float d = D * (0.4f * pulse + 0.6f);
    g.setColour (juce::Colours::black.withAlpha (qvn::alphaByte (0.8f * pulse + 0.2f)));
    g.fillEllipse (x0 + D / 2.0f - d / 2.0f, rh / 2.0f + 0.5f - d / 2.0f, d, d);

    g.setFont (f);
    g.setColour (juce::Colours::black);
    qvn::compat::drawText (g, text, juce::Rectangle<float> (x0 + D + 7.0f, 0.5f, tw + 4.0f, rh),
                           juce::Justification::centredLeft, false);
}
