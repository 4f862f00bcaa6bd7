#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace juce
{
// The platform's one-message dispatcher; modal loops are off in this build, so
// tests run queued messages (button clicks, text-editor notifications, call-out
// box dismissal) through it.
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
} // namespace juce

namespace qvn::ui2test
{
// Runs every message that is queued, including those queued while running.
inline void pump()
{
    for (int i = 0; i < 1000; ++i)
        if (! juce::dispatchNextMessageOnSystemQueue (true))
            break;
}

inline juce::MouseEvent mouseEvent (juce::Component& c, juce::Point<float> pos, juce::ModifierKeys mods,
                                    juce::Point<float> downPos, bool dragged = false)
{
    return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), pos, mods,
                             juce::MouseInputSource::defaultPressure, 0.0f, 0.0f, 0.0f, 0.0f, &c, &c,
                             juce::Time::getCurrentTime(), downPos, juce::Time::getCurrentTime(), 1, dragged);
}

// A press, optional drag steps and a release, delivered as the framework would.
struct Mouse
{
    explicit Mouse (juce::Component& c) : comp (c) {}

    void down (float x, float y, juce::ModifierKeys mods = juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier))
    {
        downPos = { x, y };
        comp.mouseDown (mouseEvent (comp, downPos, mods, downPos));
    }
    void drag (float x, float y)
    {
        comp.mouseDrag (mouseEvent (comp, { x, y }, juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier), downPos, true));
    }
    void up (float x, float y)
    {
        comp.mouseUp (mouseEvent (comp, { x, y }, {}, downPos, x != downPos.x || y != downPos.y));
    }
    void move (float x, float y) { comp.mouseMove (mouseEvent (comp, { x, y }, {}, { x, y })); }

    juce::Component& comp;
    juce::Point<float> downPos;
};

// Types text into an editor key by key, as a keyboard would.
inline void type (juce::TextEditor& ed, const juce::String& text)
{
    for (auto p = text.getCharPointer(); ! p.isEmpty();)
    {
        const auto c = p.getAndAdvance();
        ed.keyPressed (juce::KeyPress ((int) c, juce::ModifierKeys(), c));
    }
}

inline void selectAll (juce::TextEditor& ed)
{
    ed.keyPressed (juce::KeyPress ('a', juce::ModifierKeys::commandModifier, 0));
}

inline void replaceText (juce::TextEditor& ed, const juce::String& text)
{
    selectAll (ed);
    ed.keyPressed (juce::KeyPress (juce::KeyPress::deleteKey));
    type (ed, text);
}

inline void pressKey (juce::TextEditor& ed, int keyCode)
{
    ed.keyPressed (juce::KeyPress (keyCode));
}

inline juce::Image render (juce::Component& c)
{
    return c.createComponentSnapshot (c.getLocalBounds(), true, 1.0f);
}

inline bool sameImage (const juce::Image& a, const juce::Image& b)
{
    if (a.getBounds() != b.getBounds())
        return false;
    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
            if (a.getPixelAt (x, y) != b.getPixelAt (x, y))
                return false;
    return true;
}

inline int countDiffering (const juce::Image& a, const juce::Image& b, juce::Rectangle<int> area)
{
    int n = 0;
    area = area.getIntersection (a.getBounds()).getIntersection (b.getBounds());
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            if (a.getPixelAt (x, y) != b.getPixelAt (x, y))
                ++n;
    return n;
}
} // namespace qvn::ui2test
