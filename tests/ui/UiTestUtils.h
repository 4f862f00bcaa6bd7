#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <algorithm>
#include <functional>

namespace qvn::uitest
{
/** Renders a component into an ARGB image at the given scale, the way the
    window would paint it. */
inline juce::Image render (juce::Component& c, float scale = 1.0f)
{
    return c.createComponentSnapshot (c.getLocalBounds(), true, scale);
}

/** Paints with a callback into a fresh image filled with a background. */
inline juce::Image paintInto (int w, int h, std::function<void (juce::Graphics&)> paint,
                              juce::Colour background = juce::Colour (0xff000000))
{
    juce::Image img (juce::Image::ARGB, w, h, true);
    juce::Graphics g (img);
    g.fillAll (background);
    paint (g);
    return img;
}

inline juce::uint32 argb (const juce::Image& img, int x, int y)
{
    return img.getPixelAt (x, y).getARGB();
}

/** The largest difference of the red, green and blue channels. */
inline int channelDistance (juce::Colour a, juce::Colour b)
{
    return std::max ({ std::abs (a.getRed() - b.getRed()), std::abs (a.getGreen() - b.getGreen()),
                       std::abs (a.getBlue() - b.getBlue()) });
}

/** Number of pixels in the area (clipped to the image) whose colour passes the test. */
template <typename Test>
int countPixels (const juce::Image& img, juce::Rectangle<int> area, Test&& test)
{
    int n = 0;
    area = area.getIntersection (img.getBounds());

    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            if (test (img.getPixelAt (x, y)))
                ++n;

    return n;
}

/** Number of pixels in the area whose colour differs from the reference by
    more than the tolerance in any channel. */
inline int countDiffering (const juce::Image& img, juce::Rectangle<int> area, juce::Colour ref, int tolerance = 8)
{
    return countPixels (img, area, [&] (juce::Colour c) { return channelDistance (c, ref) > tolerance; });
}

/** Number of pixels within tolerance of the colour. */
inline int countNear (const juce::Image& img, juce::Rectangle<int> area, juce::Colour ref, int tolerance = 6)
{
    return countPixels (img, area, [&] (juce::Colour c) { return channelDistance (c, ref) <= tolerance; });
}

/** Counts the pixels drawn in the colour fg over bg: pixels that differ
    clearly from bg and lie on the blend from bg to fg (anti-aliased text
    rarely reaches its full colour). Pixels off that blend count in others. */
inline int countBlendsOf (const juce::Image& img, juce::Rectangle<int> area, juce::Colour bg, juce::Colour fg,
                          int* others = nullptr, int minContrast = 24)
{
    int n = 0, off = 0;
    area = area.getIntersection (img.getBounds());
    const int d[3] = { fg.getRed() - bg.getRed(), fg.getGreen() - bg.getGreen(), fg.getBlue() - bg.getBlue() };
    int k = 0;
    for (int i = 1; i < 3; ++i)
        if (std::abs (d[i]) > std::abs (d[k]))
            k = i;

    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
        {
            const auto c = img.getPixelAt (x, y);
            const int p[3] = { c.getRed() - bg.getRed(), c.getGreen() - bg.getGreen(), c.getBlue() - bg.getBlue() };

            if (std::max ({ std::abs (p[0]), std::abs (p[1]), std::abs (p[2]) }) <= minContrast)
                continue;

            const float t = d[k] != 0 ? (float) p[k] / (float) d[k] : 0.0f;
            bool onBlend = t > 0.0f && t <= 1.05f;
            for (int i = 0; i < 3; ++i)
                onBlend = onBlend && std::abs ((float) p[i] - t * (float) d[i]) <= 8.0f;

            if (onBlend)
                ++n;
            else
                ++off;
        }

    if (others != nullptr)
        *others = off;
    return n;
}

//==============================================================================
/** Builds mouse events for a component as a real mouse would deliver them:
    position in the component, button and key modifiers, the press position
    carried through the drag. */
struct MouseSim
{
    explicit MouseSim (juce::Component& c) : comp (c) {}

    juce::MouseEvent make (juce::Point<float> pos, juce::ModifierKeys mods, int clicks = 1, bool dragged = false) const
    {
        return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), pos, mods,
                                 juce::MouseInputSource::defaultPressure, 0.0f, 0.0f, 0.0f, 0.0f,
                                 &comp, &comp, juce::Time::getCurrentTime(), downPos, downTime, clicks, dragged);
    }

    void down (float x, float y, juce::ModifierKeys mods)
    {
        downPos = { x, y };
        downTime = juce::Time::getCurrentTime();
        buttons = mods;
        comp.mouseDown (make (downPos, mods));
    }

    void drag (float x, float y, juce::ModifierKeys keys = {})
    {
        comp.mouseDrag (make ({ x, y }, withButtons (keys), 1, true));
    }

    void up (float x, float y, juce::ModifierKeys keys = {})
    {
        comp.mouseUp (make ({ x, y }, withButtons (keys).withoutMouseButtons().withFlags (buttonFlags()), 1, true));
    }

    juce::ModifierKeys withButtons (juce::ModifierKeys keys) const
    {
        return juce::ModifierKeys (keys.getRawFlags() | buttonFlags());
    }

    int buttonFlags() const { return buttons.getRawFlags() & juce::ModifierKeys::allMouseButtonModifiers; }

    juce::Component& comp;
    juce::Point<float> downPos;
    juce::Time downTime;
    juce::ModifierKeys buttons;
};

inline const juce::ModifierKeys kLeft  { juce::ModifierKeys::leftButtonModifier };
inline const juce::ModifierKeys kRight { juce::ModifierKeys::rightButtonModifier };
inline const juce::ModifierKeys kShift { juce::ModifierKeys::shiftModifier };
inline const juce::ModifierKeys kCtrl  { juce::ModifierKeys::ctrlModifier };
} // namespace qvn::uitest
