// The built bundle's editor opened the way a VST3 host opens it: the host asks
// the instance for its view and embeds it in a real window on an X server
// (Xvfb with a window manager, started here), while audio runs on a thread of
// its own. The window's size, its zoom through the host's scale factor, many
// close and reopen cycles and a screenshot of the real window are checked.

#include "HostFixture.h"
#include "HostWindow.h"

#include "settings/AppSettings.h"
#include "settings/SettingsFile.h"

#include "BundleFactory.h"

#include <pluginterfaces/gui/iplugview.h>

#include <X11/Xlib.h>

#include <poll.h>

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>
#include <set>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <unistd.h>

namespace
{
using qvn::test::HostWindow;
using qvn::test::XServer;
using qvn::test::runTool;

const auto* const xServer = ::testing::AddGlobalTestEnvironment (new XServer());

//==============================================================================
/** Calls processBlock on its own thread, as a host's audio thread does. */
class AudioThread
{
public:
    explicit AudioThread (juce::AudioPluginInstance& p) : plugin (p)
    {
        plugin.setPlayConfigDetails (2, 2, 48000.0, 512);
        plugin.prepareToPlay (48000.0, 512);
        thread = std::thread ([this]
        {
            juce::AudioBuffer<float> buffer (2, 512);
            juce::MidiBuffer midi;
            juce::Random rng (7);
            while (! stop.load())
            {
                for (int c = 0; c < 2; ++c)
                    for (int i = 0; i < 512; ++i)
                        buffer.setSample (c, i, 0.2f * (rng.nextFloat() - 0.5f));
                plugin.processBlock (buffer, midi);
                blocks.fetch_add (1);
                std::this_thread::sleep_for (std::chrono::milliseconds (5));
            }
        });
    }

    ~AudioThread()
    {
        stop = true;
        thread.join();
        plugin.releaseResources();
    }

    std::atomic<int> blocks { 0 };

private:
    juce::AudioPluginInstance& plugin;
    std::atomic<bool> stop { false };
    std::thread thread;
};

class EditorWindow : public qvn::test::HostTest
{
protected:
    void SetUp() override
    {
        ASSERT_GE (XServer::display, 0) << "no X server";
        HostTest::SetUp();
    }
};
} // namespace

TEST_F (EditorWindow, OpensInARealWindowAtItsSizeAndZoomsWithTheHostScale)
{
    auto plugin = load();
    ASSERT_NE (plugin, nullptr);
    AudioThread audio (*plugin);

    auto* editor = plugin->createEditorIfNeeded();
    ASSERT_NE (editor, nullptr);
    EXPECT_EQ (dynamic_cast<juce::GenericAudioProcessorEditor*> (editor), nullptr) << "the plug-in's own window";
    HostWindow window (editor);
    pumpUntil ([&] { return window.isShowing() && editor->getWidth() == 972; }, 3000);

    EXPECT_EQ (editor->getWidth(), 972);
    EXPECT_EQ (editor->getHeight(), 612);

    // The X window tree holds the plug-in's view at that size.
    auto* peer = window.getPeer();
    ASSERT_NE (peer, nullptr);
    const auto windowId = juce::String ((juce::uint64) (juce::pointer_sized_uint) peer->getNativeHandle());
    const auto tree = runTool ({ "xwininfo", "-tree", "-id", windowId });
    EXPECT_TRUE (tree.contains ("972x612")) << tree;

    // A screenshot of the real window, kept as PNG beside the gallery images.
    // A loaded machine (or a sanitizer build) may not have painted the window
    // yet when it first shows: dump it again until it holds more than a fill.
    pumpMessages (300);
    const auto dir = juce::File (QVN_SCREENSHOT_DIR);
    dir.createDirectory();
    const auto xwd = dir.getChildFile ("editor_window.xwd");
    const auto shot = qvn::test::dumpPaintedWindow (windowId, xwd);
    ASSERT_TRUE (shot.isValid()) << "no window dump";
    EXPECT_GE (shot.getWidth(), 972);
    EXPECT_GE (shot.getHeight(), 612);
    ASSERT_TRUE (qvn::test::savePng (shot, dir.getChildFile ("editor_window.png")));

    // Not empty: the window's own colours cover much of it, and text and lines differ.
    int windowColour = 0, deepBand = 0;
    std::set<juce::uint32> colours;
    for (int y = 0; y < shot.getHeight(); y += 2)
        for (int x = 0; x < shot.getWidth(); x += 2)
        {
            const auto c = shot.getPixelAt (x, y).getARGB();
            colours.insert (c);
            windowColour += c == 0xff0e1217 ? 1 : 0;
            deepBand += c == 0xff090c10 ? 1 : 0;
        }
    EXPECT_GT (windowColour, 50000);
    EXPECT_GT (deepBand, 5000);
    EXPECT_GT (colours.size(), 30u);

    // The host's scale factor of 2 doubles the window.
    editor->setScaleFactor (2.0f);
    pumpUntil ([&] { return editor->getWidth() == 1944; }, 3000);
    EXPECT_EQ (editor->getWidth(), 1944);
    EXPECT_EQ (editor->getHeight(), 1224);
    pumpMessages (200);
    EXPECT_TRUE (runTool ({ "xwininfo", "-tree", "-id", windowId }).contains ("1944x1224"));

    editor->setScaleFactor (1.0f);
    pumpUntil ([&] { return editor->getWidth() == 972; }, 3000);
    EXPECT_EQ (editor->getWidth(), 972);
    EXPECT_GT (audio.blocks.load(), 10);
}

TEST_F (EditorWindow, ClosesAndReopensFiftyTimesWhileAudioRuns)
{
    auto plugin = load();
    ASSERT_NE (plugin, nullptr);
    AudioThread audio (*plugin);

    for (int i = 0; i < 50; ++i)
    {
        SCOPED_TRACE (i);
        auto* editor = plugin->createEditorIfNeeded();
        ASSERT_NE (editor, nullptr);
        {
            HostWindow window (editor);
            pumpUntil ([&] { return window.isShowing() && editor->getWidth() == 972; }, 2000);
            EXPECT_EQ (editor->getWidth(), 972);
            EXPECT_EQ (editor->getHeight(), 612);
            pumpMessages (i % 10 == 0 ? 120 : 15);   // some open long enough for several refresh ticks
        }
        pumpMessages (5);
    }

    const int before = audio.blocks.load();
    pumpMessages (100);
    EXPECT_GT (audio.blocks.load(), before) << "audio kept running";
}

TEST_F (EditorWindow, LinkedInstancesOpenAndCloseTheirWindowsInAnyOrder)
{
    auto inst = load();
    auto vocal = load();
    ASSERT_NE (inst, nullptr);
    ASSERT_NE (vocal, nullptr);
    setParameterValue (*inst, 0, 0.5f);   // role Inst
    setParameterValue (*vocal, 0, 1.0f);  // role Vocal
    AudioThread a (*inst), b (*vocal);
    pumpMessages (100);

    for (int round = 0; round < 4; ++round)
    {
        auto w1 = std::make_unique<HostWindow> (inst->createEditorIfNeeded());
        pumpMessages (60);
        auto w2 = std::make_unique<HostWindow> (vocal->createEditorIfNeeded());
        pumpMessages (120);
        if (round % 2 == 0)
            w1.reset();
        else
            w2.reset();
        pumpMessages (60);
        w1.reset();
        w2.reset();
        pumpMessages (20);
    }
}

//==============================================================================
/** The host's frame around a plug-in view on Linux: it resizes the view on
    request and is the run loop through which the plug-in gets its X events
    and timers on the host's UI thread. */
class RunLoopFrame final : public Steinberg::IPlugFrame, public Steinberg::Linux::IRunLoop
{
public:
    Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID iid, void** obj) override
    {
        if (Steinberg::FUnknownPrivate::iidEqual (iid, Steinberg::IPlugFrame::iid)
            || Steinberg::FUnknownPrivate::iidEqual (iid, Steinberg::FUnknown::iid))
        {
            *obj = static_cast<Steinberg::IPlugFrame*> (this);
            return Steinberg::kResultOk;
        }
        if (Steinberg::FUnknownPrivate::iidEqual (iid, Steinberg::Linux::IRunLoop::iid))
        {
            *obj = static_cast<Steinberg::Linux::IRunLoop*> (this);
            return Steinberg::kResultOk;
        }
        *obj = nullptr;
        return Steinberg::kNoInterface;
    }

    // Owned by the test, which outlives every view it is given to.
    Steinberg::uint32 PLUGIN_API addRef() override { return 1; }
    Steinberg::uint32 PLUGIN_API release() override { return 1; }

    Steinberg::tresult PLUGIN_API resizeView (Steinberg::IPlugView* view, Steinberg::ViewRect* size) override
    {
        return view != nullptr && size != nullptr ? view->onSize (size) : Steinberg::kInvalidArgument;
    }

    Steinberg::tresult PLUGIN_API registerEventHandler (Steinberg::Linux::IEventHandler* h, Steinberg::Linux::FileDescriptor fd) override
    {
        handlers.push_back ({ h, fd });
        return Steinberg::kResultOk;
    }

    Steinberg::tresult PLUGIN_API unregisterEventHandler (Steinberg::Linux::IEventHandler* h) override
    {
        handlers.erase (std::remove_if (handlers.begin(), handlers.end(), [h] (auto& e) { return e.first == h; }), handlers.end());
        return Steinberg::kResultOk;
    }

    Steinberg::tresult PLUGIN_API registerTimer (Steinberg::Linux::ITimerHandler* h, Steinberg::Linux::TimerInterval ms) override
    {
        timers.push_back ({ h, (juce::uint32) ms, juce::Time::getMillisecondCounter() + (juce::uint32) ms });
        return Steinberg::kResultOk;
    }

    Steinberg::tresult PLUGIN_API unregisterTimer (Steinberg::Linux::ITimerHandler* h) override
    {
        timers.erase (std::remove_if (timers.begin(), timers.end(), [h] (auto& t) { return t.handler == h; }), timers.end());
        return Steinberg::kResultOk;
    }

    /** Runs the loop for a while: ready descriptors and due timers, then the host's own messages. */
    void run (int milliseconds)
    {
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) milliseconds;
        while (juce::Time::getMillisecondCounter() < end)
        {
            std::vector<pollfd> fds;
            for (auto& h : handlers)
                fds.push_back ({ h.second, POLLIN, 0 });
            if (! fds.empty())
                ::poll (fds.data(), (nfds_t) fds.size(), 2);
            else
                juce::Thread::sleep (2);

            const auto ready = handlers;
            for (size_t i = 0; i < fds.size() && i < ready.size(); ++i)
                if ((fds[i].revents & POLLIN) != 0)
                    ready[i].first->onFDIsSet (ready[i].second);

            const auto now = juce::Time::getMillisecondCounter();
            const auto due = timers;
            for (auto& t : due)
                if (now >= t.next)
                {
                    for (auto& mine : timers)
                        if (mine.handler == t.handler)
                            mine.next = now + mine.interval;
                    t.handler->onTimer();
                }

            juce::dispatchNextMessageOnSystemQueue (true);
        }
    }

private:
    struct Timer
    {
        Steinberg::Linux::ITimerHandler* handler;
        juce::uint32 interval, next;
    };

    std::vector<std::pair<Steinberg::Linux::IEventHandler*, Steinberg::Linux::FileDescriptor>> handlers;
    std::vector<Timer> timers;
};

//==============================================================================
// The same order through the plug-in's VST3 interfaces alone: a host that
// destroys an instance (stop, disconnect, terminate, release) while the
// instance's view is still attached to its window, and removes the view after.
TEST_F (EditorWindow, ViewOutlivesAnInstanceTheHostDestroysFirst)
{
    auto* factory = qvntest::bundleFactory();
    ASSERT_NE (factory, nullptr);

    auto* display = XOpenDisplay (nullptr);
    ASSERT_NE (display, nullptr);
    const auto parent = XCreateSimpleWindow (display, DefaultRootWindow (display), 0, 0, 1000, 700, 0, 0, 0);
    XMapWindow (display, parent);
    XFlush (display);

    RunLoopFrame frame;

    for (int round = 0; round < 3; ++round)
    {
        SCOPED_TRACE (round);
        auto plugin = std::make_unique<qvntest::RawVst3Plugin> (*factory);
        ASSERT_TRUE (plugin->isValid());
        ASSERT_TRUE (plugin->prepare (48000.0, 512));
        std::vector<std::vector<float>> audio (2, std::vector<float> (512, 0.1f));
        for (int block = 0; block < 20; ++block)
            plugin->process (audio, 512, nullptr, nullptr);

        auto* view = plugin->getController()->createView (Steinberg::Vst::ViewType::kEditor);
        ASSERT_NE (view, nullptr);
        view->setFrame (&frame);
        ASSERT_EQ (view->attached ((void*) parent, Steinberg::kPlatformTypeX11EmbedWindowID), Steinberg::kResultOk);
        Steinberg::ViewRect rect;
        ASSERT_EQ (view->getSize (&rect), Steinberg::kResultOk);
        EXPECT_EQ (rect.getWidth(), 972);
        EXPECT_EQ (rect.getHeight(), 612);
        frame.run (200);

        plugin.reset();       // the instance goes first
        frame.run (200);   // the window stays open, its refresh keeps running

        view->removed();
        view->release();
        frame.run (50);
    }

    XDestroyWindow (display, parent);
    XCloseDisplay (display);
}

// Last of the file: the zoom it stores stays in the bundle's own copy of the
// settings, so every window opened after it would open zoomed.
TEST_F (EditorWindow, DraggingTheCornerGripWithTheMouseZoomsTheWindow)
{
    auto plugin = load();
    ASSERT_NE (plugin, nullptr);
    AudioThread audio (*plugin);

    auto* editor = plugin->createEditorIfNeeded();
    ASSERT_NE (editor, nullptr);
    HostWindow window (editor);
    pumpUntil ([&] { return window.isShowing() && editor->getWidth() == 972; }, 3000);
    ASSERT_EQ (editor->getWidth(), 972);
    pumpMessages (300);

    // The grip is the window's bottom-right 14 x 14 pixels; a real pointer
    // presses it, moves 50 pixels right and down in steps, and lets go.
    const auto corner = editor->localPointToGlobal (juce::Point<int> (972 - 7, 612 - 7));
    auto xdo = [] (juce::StringArray args) { qvn::test::xdotool (args); };
    xdo ({ "mousemove", juce::String (corner.x), juce::String (corner.y) });
    pumpMessages (100);
    xdo ({ "mousedown", "1" });
    pumpMessages (100);
    for (int step = 1; step <= 5; ++step)
    {
        xdo ({ "mousemove", juce::String (corner.x + 10 * step), juce::String (corner.y + 10 * step) });
        pumpMessages (60);
    }
    xdo ({ "mouseup", "1" });

    // The release stores the zoom in the settings file.
    auto storedZoom = []
    {
        // The bundle's own copy of the store wrote it: read the file afresh.
        SettingsFile settings (AppSettings::settingsFileLocation(), {});
        return settings.getDoubleValue ("editorZoom", 0.0);
    };
    pumpUntil ([&] { return std::abs (storedZoom() - 1.065) < 1.0e-4; }, 3000);
    EXPECT_NEAR (storedZoom(), 1.065, 1.0e-4);

    // 0.5 x (1022 / 972 + 662 / 612) = 1.0666, snapped to 1.065: the view grows
    // to 972 x 1.065 by 612 x 1.065 (the framework rounds the host size up).
    pumpUntil ([&] { return editor->getWidth() > 1000; }, 3000);
    EXPECT_NEAR (editor->getWidth(), 972 * 1.065, 1.0);
    EXPECT_NEAR (editor->getHeight(), 612 * 1.065, 1.0);

    // The next window opens at the stored zoom.
    window.settleThenClear();
    pumpMessages (50);
    auto* again = plugin->createEditorIfNeeded();
    HostWindow second (again);
    pumpUntil ([&] { return again->getWidth() > 1000; }, 3000);
    EXPECT_NEAR (again->getWidth(), 972 * 1.065, 1.0);
    EXPECT_NEAR (again->getHeight(), 612 * 1.065, 1.0);
    second.settleThenClear();
}
