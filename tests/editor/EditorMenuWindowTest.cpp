// The window's menus and call-out popups on a real X server (Xvfb with a
// window manager): each is opened on an editor in a desktop window, in English
// and in Japanese, and the screen is saved as PNG for inspection.

#include "EditorTestSupport.h"

#include "../support/XServerSupport.h"
#include "ui/OffsetTargetEditPopup.h"

namespace juce { bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages); }

using qvn::test::EditorFixture;

namespace
{
const auto* const xServer = ::testing::AddGlobalTestEnvironment (new qvn::test::XServer());

void pumpFor (int ms)
{
    const auto end = juce::Time::getMillisecondCounterHiRes() + ms;
    while (juce::Time::getMillisecondCounterHiRes() < end)
        if (! juce::dispatchNextMessageOnSystemQueue (true))
            juce::Thread::sleep (5);
}

class Window : public juce::DocumentWindow
{
public:
    explicit Window (QuorvaneEditor* editor)
        : juce::DocumentWindow ("QUORVANE", juce::Colours::black, juce::DocumentWindow::closeButton)
    {
        setUsingNativeTitleBar (true);
        setContentNonOwned (editor, true);
        setTopLeftPosition (20, 20);
        setVisible (true);
    }
    void closeButtonPressed() override {}
};

/** The menu window currently on the desktop, if any. */
juce::Component* menuWindow()
{
    auto& desktop = juce::Desktop::getInstance();
    for (int i = desktop.getNumComponents(); --i >= 0;)
        if (auto* c = desktop.getComponent (i); c != nullptr && c->isShowing() && dynamic_cast<juce::DocumentWindow*> (c) == nullptr)
            return c;
    return nullptr;
}

class MenuWindows : public EditorFixture
{
protected:
    void SetUp() override
    {
        ASSERT_GE (qvn::test::XServer::display, 0) << "no X server";
        EditorFixture::SetUp();
    }

    void shoot (const juce::String& name)
    {
        pumpFor (400);
        const auto dir = juce::File (QVN_SCREENSHOT_DIR);
        dir.createDirectory();
        const auto xwd = dir.getChildFile (name + ".xwd");
        xwd.deleteFile();
        juce::ChildProcess p;
        ASSERT_TRUE (p.start (juce::StringArray { "xwd", "-silent", "-root", "-out", xwd.getFullPathName() }));
        p.waitForProcessToFinish (10000);
        auto shot = qvn::test::readXwd (xwd);
        xwd.deleteFile();
        ASSERT_TRUE (shot.isValid()) << name;
        shot = shot.getClippedImage ({ 0, 0, juce::jmin (shot.getWidth(), 1500), juce::jmin (shot.getHeight(), 900) });
        juce::FileOutputStream out (dir.getChildFile (name + ".png"));
        out.setPosition (0);
        out.truncate();
        ASSERT_TRUE (juce::PNGImageFormat().writeImageToStream (shot, out));
        shots.add (name);
    }

    /** Menus open asynchronously; the first one of a process takes longest. */
    static void waitForMenu()
    {
        const auto end = juce::Time::getMillisecondCounterHiRes() + 5000;
        while (menuWindow() == nullptr && juce::Time::getMillisecondCounterHiRes() < end)
            pumpFor (20);
    }

    /** Menus close themselves while no window of the process has the input
        focus; the window gets it as after the user's click into it. */
    static void focusWindow (juce::Component& window)
    {
        if (auto* peer = window.getPeer())
            peer->grabFocus();
        const auto end = juce::Time::getMillisecondCounterHiRes() + 3000;
        while (! juce::Process::isForegroundProcess() && juce::Time::getMillisecondCounterHiRes() < end)
            pumpFor (20);
    }

    void closeMenu (const juce::String& name)
    {
        EXPECT_TRUE (juce::PopupMenu::dismissAllActiveMenus()) << name << ": no menu was open";
        pumpFor (150);
        // The bare server keeps the menu's pixels until the window below draws again.
        if (auto* w = juce::Desktop::getInstance().getComponent (0))
            w->repaint();
        pumpFor (100);
    }

    void closeCallOut (QuorvaneEditor& e, const juce::String& name)
    {
        auto* box = dynamic_cast<juce::CallOutBox*> (e.openCallOut.getComponent());
        ASSERT_NE (box, nullptr) << name;
        EXPECT_TRUE (box->isShowing()) << name;
        EXPECT_TRUE (e.getLocalBounds().contains (box->getBounds())) << name << ": inside the window";
        EXPECT_GE (box->getWidth(), 232) << name;
        EXPECT_GE (box->getHeight(), 64) << name;
        box->dismiss();
        pumpFor (150);
    }

    juce::StringArray shots;
};
} // namespace

TEST_F (MenuWindows, EveryMenuAndCallOutOnScreenInBothLanguages)
{
    auto& inst = addProcessor (1);
    auto& v = addProcessor (2);
    addProcessor (2);
    addProcessor (2).setInstanceName ("Lead");
    AppSettings::get().setLatestSeen ("1.2.0", "https://example.invalid/quorvane/1.2.0");
    QuorvaneEditor::browserLauncher() = [] (const juce::String&) {};

    auto& e = open (v);
    Window window (&e);
    // A menu closes at once while its process is not in the foreground: the
    // pointer moves into the window first (the window manager focuses the
    // window under it), as the user's pointer would be.
    {
        juce::ChildProcess pointer;
        ASSERT_TRUE (pointer.start (juce::StringArray { "xdotool", "mousemove", "400", "300" }));
        pointer.waitForProcessToFinish (5000);
    }
    window.toFront (true);
    e.timerCallback();
    pumpFor (2000); // the window settles at the width of its meter columns
    ASSERT_TRUE (e.isShowing());
    ASSERT_TRUE (e.updateBell.isVisible()) << "a newer release is known";

    // The first menu a fresh process shows on this bare X server closes
    // itself before it is drawn (it never gets the pointer's state from a
    // real click); one menu opened and closed first avoids that.
    focusWindow (window);
    e.showMeterModeMenu();
    pumpFor (600);
    juce::PopupMenu::dismissAllActiveMenus();
    pumpFor (200);

    for (int lang : { 0, 1 })
    {
        const juce::String suffix = lang == 1 ? "_ja" : "_en";
        v.tooltipLang = lang;
        e.applyTooltips (lang);
        v.setOffsetTargetName ("Main");
        v.applyMeasurementSettings (0, 3.0f);
        e.timerCallback();

        focusWindow (window);
        EXPECT_TRUE (juce::Process::isForegroundProcess());

        // The settings menu through a real click on its button. On this bare
        // X server the first menu of a pass sometimes closes itself at once
        // (cause not found); it is then opened directly, at most twice, and
        // the attempt is logged.
        for (int attempt = 0; attempt < 3; ++attempt)
        {
            if (attempt == 0)
            {
                // First through a real click on the settings button.
                const auto c = e.settingsButton.getScreenBounds().getCentre();
                juce::ChildProcess click;
                ASSERT_TRUE (click.start (juce::StringArray { "xdotool", "mousemove", juce::String (c.x), juce::String (c.y),
                                                              "sleep", "0.3", "mousedown", "1", "sleep", "0.1", "mouseup", "1",
                                                              "sleep", "0.2", "mousemove", "400", "300" }));
                while (click.isRunning())
                    pumpFor (20);
            }
            else
                e.showSettingsPopupMenu();
            waitForMenu();
            pumpFor (400);
            if (menuWindow() != nullptr)
                break;
            std::cerr << "settings menu not open after attempt " << attempt + 1 << (attempt == 0 ? " (real click)" : "") << "\n";
        }
        shoot ("settings" + suffix);
        // The zoom sub-menu, reached with the keyboard as a user would.
        if (auto* m = menuWindow())
        {
            for (int i = 0; i < 5; ++i)
                m->keyPressed (juce::KeyPress (juce::KeyPress::downKey));
            m->keyPressed (juce::KeyPress (juce::KeyPress::rightKey));
        }
        shoot ("settings_zoom" + suffix);
        closeMenu ("settings" + suffix);

        e.showMeterModeMenu();
        waitForMenu();
        shoot ("meter_lufs" + suffix);
        closeMenu ("meter" + suffix);

        e.showOffsetTargetMenu();
        waitForMenu();
        shoot ("target_menu" + suffix);
        closeMenu ("target" + suffix);

        e.showBellPopupMenu();
        waitForMenu();
        shoot ("bell" + suffix);
        closeMenu ("bell" + suffix);

        v.applyMeasurementSettings (2, 3.0f);
        e.showMeasurementModePopupMenu();
        waitForMenu();
        shoot ("mode_custom" + suffix);
        closeMenu ("mode" + suffix);

        inst.runHeldOpen = true;
        e.showMeasurementModePopupMenu();
        waitForMenu();
        shoot ("mode_measuring" + suffix);
        closeMenu ("mode measuring" + suffix);
        e.showMeterModeMenu();
        waitForMenu();
        shoot ("meter_rms_measuring" + suffix);
        closeMenu ("meter measuring" + suffix);
        inst.runHeldOpen = false;

        e.showRmsTimePopup (e.settingsButton.getScreenBounds());
        shoot ("rms_time" + suffix);
        closeCallOut (e, "rms time" + suffix);

        e.showRangeEditPopup (true, e.railModeButton.getScreenBounds());
        shoot ("range_meter" + suffix);
        closeCallOut (e, "range" + suffix);

        e.sectionChart.onRangePillClicked();
        shoot ("range_learn" + suffix);
        closeCallOut (e, "learn range" + suffix);

        e.showOffsetTargetEditPopup (-1, e.offsetTargetButton.getScreenBounds());
        shoot ("target_new" + suffix);
        closeCallOut (e, "new target" + suffix);

        e.showOffsetTargetEditPopup (0, e.offsetTargetButton.getScreenBounds());
        if (auto* box = dynamic_cast<juce::CallOutBox*> (e.openCallOut.getComponent()))
            for (auto* c : box->getChildren())
                if (auto* p = dynamic_cast<OffsetTargetEditPopup*> (c))
                {
                    p->nameField.setText ("none", false);
                    p->okButton.onClick();
                }
        shoot ("target_edit_refused" + suffix);
        closeCallOut (e, "edit target" + suffix);
    }

    window.clearContentComponent();
    EXPECT_EQ (shots.size(), 26);
}
