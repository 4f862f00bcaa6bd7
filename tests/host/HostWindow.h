#pragma once

// The test host's window around a plug-in view, the desktop tools a user's
// session would drive it with (xdotool for the pointer, xwd for a picture of
// the screen) and the window pictures kept as PNG.

#include "../support/XServerSupport.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <set>

namespace juce
{
// Runs one pending message of this process's message queue.
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

namespace qvn::test
{
/** Runs a desktop tool to its end and returns what it printed. */
inline juce::String runTool (const juce::StringArray& args, int timeoutMs = 10000)
{
    juce::ChildProcess p;
    if (! p.start (args))
        return {};
    auto out = p.readAllProcessOutput();
    p.waitForProcessToFinish (timeoutMs);
    return out;
}

/** A real pointer, moved and clicked by xdotool at screen coordinates. */
inline void xdotool (juce::StringArray args)
{
    args.insert (0, "xdotool");
    runTool (args);
}

inline void movePointerTo (juce::Point<int> screen)
{
    xdotool ({ "mousemove", juce::String (screen.x), juce::String (screen.y) });
}

inline void clickAt (juce::Point<int> screen)
{
    movePointerTo (screen);
    xdotool ({ "click", "1" });
}

//==============================================================================
/** The host's window holding the plug-in's view. */
class HostWindow : public juce::DocumentWindow
{
public:
    explicit HostWindow (juce::AudioProcessorEditor* editor, juce::Point<int> topLeft = { 40, 40 })
        : juce::DocumentWindow ("QUORVANE", juce::Colours::black, juce::DocumentWindow::closeButton)
    {
        setUsingNativeTitleBar (true);
        setContentOwned (editor, true);
        setTopLeftPosition (topLeft.x, topLeft.y);
        setVisible (true);
    }

    ~HostWindow() override { settleThenClear(); }

    // The framework's embedding answers a size change of the plug-in's window
    // with a message that still points at the embedding; it must run before
    // the view goes, so pending messages are handled first.
    void settleThenClear()
    {
        if (getContentComponent() == nullptr)
            return;

        const auto end = juce::Time::getMillisecondCounter() + 400;
        while (juce::Time::getMillisecondCounter() < end)
            if (! juce::dispatchNextMessageOnSystemQueue (true))
                juce::Thread::sleep (1);

        clearContentComponent();
    }

    void closeButtonPressed() override {}

    /** The X window id of this window, as the desktop tools take it. */
    juce::String xWindowId() const
    {
        auto* peer = getPeer();
        return peer != nullptr ? juce::String ((juce::uint64) (juce::pointer_sized_uint) peer->getNativeHandle()) : juce::String();
    }

    /** Where a point of the plug-in's view (its own coordinates) is on the screen. */
    juce::Point<int> screenPointOfView (juce::Point<int> viewPoint) const
    {
        auto* view = getContentComponent();
        return view != nullptr ? view->localPointToGlobal (viewPoint) : viewPoint;
    }

    /** Where the plug-in's view sits in a picture of this window. */
    juce::Point<int> viewOriginInWindow() const
    {
        auto* view = getContentComponent();
        return view != nullptr ? getLocalPoint (view, juce::Point<int>()) : juce::Point<int>();
    }
};

//==============================================================================
/** More than a fill: a window that has been painted shows many colours. */
inline bool looksPainted (const juce::Image& img)
{
    if (! img.isValid())
        return false;
    std::set<juce::uint32> seen;
    for (int y = 0; y < img.getHeight() && seen.size() <= 30; y += 7)
        for (int x = 0; x < img.getWidth() && seen.size() <= 30; x += 7)
            seen.insert (img.getPixelAt (x, y).getARGB());
    return seen.size() > 30;
}

/** One picture of a window as the X server shows it (xwd), or an invalid image. */
inline juce::Image dumpWindow (const juce::String& windowId, const juce::File& xwd)
{
    xwd.deleteFile();
    runTool ({ "xwd", "-silent", "-id", windowId, "-out", xwd.getFullPathName() });
    return readXwd (xwd);
}

/** A picture of the window once it has been painted: a loaded machine (or a
    sanitizer build) may not have painted a window yet when it first shows,
    so it is dumped again, with messages handled in between, until it holds
    more than a fill or about ten seconds have passed. */
inline juce::Image dumpPaintedWindow (const juce::String& windowId, const juce::File& xwd)
{
    auto shot = dumpWindow (windowId, xwd);
    for (int attempt = 0; attempt < 40 && ! looksPainted (shot); ++attempt)
    {
        const auto end = juce::Time::getMillisecondCounter() + 250;
        while (juce::Time::getMillisecondCounter() < end)
            if (! juce::dispatchNextMessageOnSystemQueue (true))
                juce::Thread::sleep (1);
        shot = dumpWindow (windowId, xwd);
    }
    return shot;
}

inline bool savePng (const juce::Image& image, const juce::File& file)
{
    file.getParentDirectory().createDirectory();
    file.deleteFile();
    juce::FileOutputStream out (file);
    return out.openedOk() && juce::PNGImageFormat().writeImageToStream (image, out);
}
} // namespace qvn::test
