#pragma once

// An X server of the test program's own (Xvfb with the evilwm window
// manager) and a reader for the window dumps that xwd writes.

#include "settings/AppSettings.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>
#include <csignal>
#include <unistd.h>

namespace qvn::test
{
//==============================================================================
/** An X server of its own for this test program, with a window manager. */
class XServer : public ::testing::Environment
{
public:
    void SetUp() override
    {
        // The plug-in keeps its zoom and update bookkeeping in the user's
        // settings file: these windows use a home folder of their own.
        const auto home = juce::File::getSpecialLocation (juce::File::tempDirectory)
                              .getChildFile ("qvn_editor_window_home_" + juce::String (::getpid()));
        home.createDirectory();
        ::setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
        AppSettings::get().setUpdateChecksEnabled (false);
        AppSettings::get().setEditorZoom (1.0);

        startServer();

        // A failure here is reported, not thrown: a fatal failure in a test
        // environment makes every test of the program "skipped", which a test
        // runner counts as passed. The window fixtures check `display` instead.
        if (display < 0)
        {
            ADD_FAILURE() << "no X server could be started";
            return;
        }
        ::setenv ("DISPLAY", (":" + juce::String (display)).toRawUTF8(), 1);

        // The framework sets some window properties through atoms it only
        // looks up, which a bare server has not made yet (a desktop session
        // would have): make them, so no request names atom 0.
        juce::ChildProcess atoms;
        atoms.start (juce::StringArray { "xprop", "-root", "-f", "QVN_TEST_ATOMS", "32a", "-set", "QVN_TEST_ATOMS",
                                         "WM_PROTOCOLS,WM_TAKE_FOCUS,WM_DELETE_WINDOW,_NET_WM_PING,WM_CHANGE_STATE,WM_STATE,"
                                         "_NET_WM_WINDOW_TYPE,_NET_WM_STATE,_NET_WM_STATE_HIDDEN,_NET_WM_STATE_FULLSCREEN,"
                                         "_NET_FRAME_EXTENTS,_MOTIF_WM_HINTS,_NET_WM_ALLOWED_ACTIONS,_NET_WM_WINDOW_TYPE_NORMAL,"
                                         "_NET_WM_WINDOW_TYPE_COMBO,_NET_WM_ACTION_MOVE,_NET_WM_ACTION_RESIZE,_NET_WM_ACTION_CLOSE,"
                                         "_NET_WM_ACTION_MINIMIZE,_NET_WM_ACTION_MAXIMIZE_HORZ,_NET_WM_ACTION_MAXIMIZE_VERT,"
                                         "_NET_WM_ACTION_FULLSCREEN,_NET_WM_ICON,_NET_WM_PID,_NET_WM_NAME,UTF8_STRING" });
        atoms.waitForProcessToFinish (5000);

        windowManager = std::make_unique<juce::ChildProcess>();
        if (! windowManager->start ("evilwm", 0))
            ADD_FAILURE() << "no window manager could be started";
        juce::Thread::sleep (300);
    }

    void TearDown() override
    {
        if (windowManager != nullptr)
            windowManager->kill();
        if (xvfb != nullptr)
            stopServer();
        windowManager.reset();
        xvfb.reset();
    }

    static inline int display = -1;

private:
    /** Starts Xvfb on a display it picks itself: it takes the first one whose
        lock is free (or left by a server that has gone) and writes its number
        once it accepts connections, so test programs running side by side
        never race for one. */
    void startServer()
    {
        for (int attempt = 0; attempt < 3 && display < 0; ++attempt)
        {
            auto server = std::make_unique<juce::ChildProcess>();
            if (! server->start (juce::StringArray { "Xvfb", "-displayfd", "1", "-screen", "0", "2400x1600x24",
                                                     "-nolisten", "tcp", "-noreset" }, juce::ChildProcess::wantStdOut))
                continue;

            // One byte at a time: a larger read would wait for more than the
            // server ever writes.
            juce::String number;
            char c = 0;
            while (server->readProcessOutput (&c, 1) == 1 && c != '\n')
                number += juce::String::charToString ((juce::juce_wchar) (juce::uint8) c);

            const int n = number.trim().getIntValue();
            if (number.trim().containsOnly ("0123456789") && number.trim().isNotEmpty() && server->isRunning())
            {
                display = n;
                xvfb = std::move (server);
            }
            else
            {
                server->kill();
            }
        }
    }

    /** Ends the server so that it removes its lock and socket (a killed one
        leaves them behind in /tmp); kills it when it does not end in time. */
    void stopServer()
    {
        const auto lock = juce::File ("/tmp/.X" + juce::String (display) + "-lock");
        const auto pid = lock.loadFileAsString().trim().getIntValue();
        if (pid > 0)
            ::kill ((pid_t) pid, SIGTERM);
        if (! xvfb->waitForProcessToFinish (3000))
            xvfb->kill();
    }

    std::unique_ptr<juce::ChildProcess> xvfb, windowManager;
};


/** Reads an X window dump (ZPixmap, 24 or 32 bits per pixel, either byte order). */
inline juce::Image readXwd (const juce::File& file)
{
    juce::MemoryBlock data;
    if (! file.loadFileAsData (data) || data.getSize() < 100)
        return {};

    const auto* b = static_cast<const juce::uint8*> (data.getData());
    auto u32 = [b] (size_t i) { return (juce::uint32) b[i * 4] << 24 | (juce::uint32) b[i * 4 + 1] << 16 | (juce::uint32) b[i * 4 + 2] << 8 | b[i * 4 + 3]; };

    const auto headerSize = u32 (0), format = u32 (2), width = u32 (4), height = u32 (5);
    const auto byteOrder = u32 (7), bitsPerPixel = u32 (11), bytesPerLine = u32 (12), colourCount = u32 (19);
    if (format != 2 || (bitsPerPixel != 32 && bitsPerPixel != 24) || width == 0 || height == 0 || width > 8000 || height > 8000)
        return {};

    const size_t pixels = headerSize + colourCount * 12;
    if (pixels + (size_t) bytesPerLine * height > data.getSize())
        return {};

    juce::Image img (juce::Image::ARGB, (int) width, (int) height, false);
    const int step = (int) bitsPerPixel / 8;
    for (int y = 0; y < (int) height; ++y)
        for (int x = 0; x < (int) width; ++x)
        {
            const auto* p = b + pixels + (size_t) y * bytesPerLine + (size_t) (x * step);
            juce::uint32 v = 0;
            if (byteOrder == 0)   // least significant byte first
                for (int k = step - 1; k >= 0; --k)
                    v = (v << 8) | p[k];
            else
                for (int k = 0; k < step; ++k)
                    v = (v << 8) | p[k];
            img.setPixelAt (x, y, juce::Colour (0xff000000 | (v & 0xffffff)));
        }
    return img;
}

} // namespace qvn::test
