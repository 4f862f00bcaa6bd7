#include <gtest/gtest.h>

#include "ui/UiComponents.h"
#include "UiTestUtils.h"

#include <BinaryData.h>

#include <string>
#include <vector>

using namespace qvn::uitest;

namespace
{
struct WidgetFixture : ::testing::Test
{
    juce::ScopedJuceInitialiser_GUI gui;
    std::vector<std::string> log;
};

std::unique_ptr<juce::Drawable> resource (const char* name)
{
    int size = 0;
    const char* data = BinaryData::getNamedResource (name, size);
    return juce::Drawable::createFromImageData (data, (size_t) size);
}

juce::ModifierKeys ctrlLeft() { return juce::ModifierKeys (kLeft.getRawFlags() | kCtrl.getRawFlags()); }
} // namespace

//==============================================================================
// A popup-menu click (right button, or Control with the left) is reported
// instead of pressing the button; its release delivers no click.
TEST_F (WidgetFixture, RightClicksOnTheThreeRightClickButtons)
{
    enum Kind { icon, rclick, svg };
    const struct { const char* what; Kind kind; bool withCallback; juce::ModifierKeys press; bool pressed, clicked, reported; } table[] = {
        { "IconButton right, callback", icon, true, kRight, false, false, true },
        { "IconButton Control+left, callback", icon, true, ctrlLeft(), false, false, true },
        { "IconButton right, no callback: a normal press", icon, false, kRight, true, true, false },
        { "IconButton left", icon, true, kLeft, true, true, false },
        { "RClickButton right, callback", rclick, true, kRight, false, false, true },
        { "RClickButton right, no callback: nothing", rclick, false, kRight, false, false, false },
        { "RClickButton Control+left, no callback: nothing", rclick, false, ctrlLeft(), false, false, false },
        { "RClickButton left", rclick, true, kLeft, true, true, false },
        { "SvgIconButton right, callback", svg, true, kRight, false, false, true },
        { "SvgIconButton right, no callback: a normal press", svg, false, kRight, true, true, false },
        { "SvgIconButton Control+left, callback", svg, true, ctrlLeft(), false, false, true },
    };

    for (auto& row : table)
    {
        SCOPED_TRACE (row.what);
        std::unique_ptr<juce::Button> button;
        bool* rightPressed = nullptr;
        int reported = 0, clicked = 0;

        if (row.kind == icon)
        {
            auto b = std::make_unique<IconButton> ("icon");
            if (row.withCallback)
                b->onRightClick = [&] { ++reported; };
            rightPressed = &b->rightPressed;
            button = std::move (b);
        }
        else if (row.kind == rclick)
        {
            auto b = std::make_unique<RClickButton> ("Update");
            if (row.withCallback)
                b->onRightClick = [&] { ++reported; };
            rightPressed = &b->rightPressed;
            button = std::move (b);
        }
        else
        {
            auto b = std::make_unique<SvgIconButton> ("lock");
            if (row.withCallback)
                b->onRightClick = [&] { ++reported; };
            rightPressed = &b->rightPressed;
            button = std::move (b);
        }

        button->setBounds (0, 0, 24, 24);
        button->setVisible (true);
        button->onClick = [&] { ++clicked; };

        MouseSim mouse (*button);
        mouse.down (12.0f, 12.0f, row.press);
        EXPECT_EQ (button->getState() == juce::Button::buttonDown, row.pressed);
        EXPECT_EQ (reported, row.reported ? 1 : 0);
        EXPECT_EQ (*rightPressed, row.reported || (row.kind == rclick && ! row.pressed));

        mouse.up (12.0f, 12.0f);
        EXPECT_EQ (clicked, row.clicked ? 1 : 0);
        EXPECT_FALSE (*rightPressed);
        EXPECT_EQ (reported, row.reported ? 1 : 0);
    }
}

TEST_F (WidgetFixture, RoleTabDoubleClickCallsOnlyItsCallback)
{
    RoleTabButton tab ("VOCAL");
    tab.setBounds (0, 0, 100, 34);
    tab.setVisible (true);
    int doubles = 0, clicks = 0;
    tab.onClick = [&] { ++clicks; };

    MouseSim mouse (tab);
    tab.mouseDoubleClick (mouse.make ({ 50.0f, 17.0f }, kLeft, 2));
    EXPECT_EQ (clicks, 0) << "an empty callback is skipped";

    tab.onDoubleClick = [&] { ++doubles; };
    tab.mouseDoubleClick (mouse.make ({ 50.0f, 17.0f }, kLeft, 2));
    EXPECT_EQ (doubles, 1);
    EXPECT_EQ (clicks, 0);
}

//==============================================================================
// IconButton 24 x 24: S = 20, R = 10, T = 3, centre (12.5, 12.5). The ring
// icon's bar is 3 px wide from y = 2.5 to y = 11.5 on x = 12.5.
TEST_F (WidgetFixture, IconButtonGeometry)
{
    IconButton b ("Settings");
    b.kind = 0;
    b.setBounds (0, 0, 24, 24);
    b.setVisible (true);

    auto img = render (b);
    const juce::Colour icon (0xffc7c7c7);

    for (int y = 4; y <= 10; ++y)
        EXPECT_EQ (argb (img, 12, y), icon.getARGB()) << "bar at y " << y;
    EXPECT_EQ (argb (img, 11, 7), icon.getARGB());
    EXPECT_EQ (argb (img, 13, 7), icon.getARGB());
    EXPECT_EQ (img.getPixelAt (10, 9).getAlpha(), 0) << "bar is 3 px wide";
    EXPECT_EQ (img.getPixelAt (12, 13).getAlpha(), 0) << "the bar stops above the centre";
    EXPECT_EQ (img.getPixelAt (12, 19).getAlpha(), 0) << "the ring is open at the bottom";
    EXPECT_EQ (argb (img, 12 - 8, 12), icon.getARGB()) << "ring radius 0.8 R = 8";

    // The frame: 0x99242b26 stroked 1.2 px on the half-pixel rectangle.
    EXPECT_GT (img.getPixelAt (12, 0).getAlpha(), 0);

    // Toggled: accent frame, orange icon.
    b.setToggleState (true, juce::dontSendNotification);
    img = render (b);
    EXPECT_EQ (argb (img, 12, 6), qvn::theme::kOrangeCol.getARGB());
}

TEST_F (WidgetFixture, IconButtonTooSmallOrUnknownKindDrawsOnlyTheFrame)
{
    for (auto [w, kind] : { std::pair { 6, 6 }, { 24, 7 }, { 24, -1 } })
    {
        IconButton b ("icon");
        b.kind = kind;
        b.setBounds (0, 0, w, w);
        b.setVisible (true);
        auto img = render (b);
        EXPECT_EQ (countDiffering (img, img.getBounds().reduced (2), juce::Colours::transparentBlack, 0), 0) << w << " " << kind;
        EXPECT_GT (img.getPixelAt (w / 2, 0).getAlpha(), 0);
    }
}

TEST_F (WidgetFixture, IconButtonColourByState)
{
    juce::Component parent;
    IconButton b ("Settings");
    parent.addAndMakeVisible (b);
    b.setBounds (0, 0, 32, 32);

    // Gear (kind 6): the centre has a hole, its teeth ring is solid at radius ~0.6 R.
    const int x = 16 + 8, y = 16; // on the gear body right of the hole
    const struct { juce::Button::ButtonState state; bool enabled; juce::uint32 colour; } table[] = {
        { juce::Button::buttonNormal, true, 0xffd1d1d1 },
        { juce::Button::buttonOver, true, juce::Colour (0xffd1d1d1).brighter (0.12f).getARGB() },
        { juce::Button::buttonDown, true, 0xffdadada },
        { juce::Button::buttonDown, false, 0x59d1d1d1 },
    };

    for (auto& row : table)
    {
        parent.setEnabled (row.enabled);
        b.setState (row.state);
        auto img = render (b);
        const auto c = img.getPixelAt (x, y);
        EXPECT_EQ (c.getARGB(), row.colour) << std::hex << c.getARGB();
    }

    EXPECT_EQ (juce::Colour (0xffd1d1d1).brighter (0.12f).getARGB(), 0xffd5d5d5u);
    parent.setEnabled (true);
    b.iconColour = qvn::theme::kTargetCol;
    b.setState (juce::Button::buttonNormal);
    EXPECT_EQ (render (b).getPixelAt (x, y).getARGB(), qvn::theme::kTargetCol.getARGB());
}

//==============================================================================
TEST_F (WidgetFixture, SvgIconButtonRecoloursItsIconByState)
{
    juce::Component parent;
    SvgIconButton b ("lock");
    parent.addAndMakeVisible (b);
    b.setBounds (0, 0, 26, 26);

    // Without a drawable nothing is drawn at all, not even the box.
    b.boxed = true;
    EXPECT_EQ (countDiffering (render (b), { 0, 0, 26, 26 }, juce::Colours::transparentBlack, 0), 0);

    b.boxed = false;
    b.setOffDrawable (resource ("icon_unlock_svg"));
    b.setOnDrawable (resource ("icon_lock_svg"));
    b.setOffColour (qvn::theme::kCaptionCol);

    auto strongest = [] (const juce::Image& img)
    {
        juce::Colour best (0x00000000);
        for (int y = 0; y < img.getHeight(); ++y)
            for (int x = 0; x < img.getWidth(); ++x)
                if (img.getPixelAt (x, y).getAlpha() > best.getAlpha())
                    best = img.getPixelAt (x, y);
        return best;
    };

    const struct { bool on; juce::Button::ButtonState state; bool enabled; juce::uint32 colour; } table[] = {
        { false, juce::Button::buttonNormal, true, 0xff828d85 },
        { false, juce::Button::buttonDown, true, 0xff6c756e },
        { false, juce::Button::buttonOver, true, 0xff929b94 },
        { true, juce::Button::buttonNormal, true, 0xffe0922f },
        { true, juce::Button::buttonNormal, false, 0x59e0922f },
    };

    for (auto& row : table)
    {
        parent.setEnabled (row.enabled);
        b.setToggleState (row.on, juce::dontSendNotification);
        b.setState (row.state);
        const auto c = strongest (render (b));
        // Translucent pixels are stored premultiplied: a few levels of rounding.
        const juce::Colour want (row.colour);
        EXPECT_NEAR (c.getRed(), want.getRed(), 3) << std::hex << row.colour;
        EXPECT_NEAR (c.getGreen(), want.getGreen(), 3);
        EXPECT_NEAR (c.getBlue(), want.getBlue(), 3);

        // Overlapping strokes of the drawing compound a translucent colour.
        if (row.enabled)
            EXPECT_EQ (c.getAlpha(), 255);
        else
            EXPECT_TRUE (c.getAlpha() >= 0x59 && c.getAlpha() < 0xa0) << (int) c.getAlpha();
    }

    // The open and the closed padlock differ (the on-icon is used when toggled).
    parent.setEnabled (true);
    b.setState (juce::Button::buttonNormal);
    b.setOnColour (qvn::theme::kCaptionCol);
    b.setToggleState (false, juce::dontSendNotification);
    auto open = render (b);
    b.setToggleState (true, juce::dontSendNotification);
    auto closed = render (b);
    int changed = 0;
    for (int y = 0; y < 26; ++y)
        for (int x = 0; x < 26; ++x)
            changed += open.getPixelAt (x, y) != closed.getPixelAt (x, y) ? 1 : 0;
    EXPECT_GT (changed, 10);

    // Boxed and hovered: white icon on the hover box.
    b.boxed = true;
    b.setToggleState (false, juce::dontSendNotification);
    b.setState (juce::Button::buttonOver);
    auto boxed = render (b);
    EXPECT_EQ (argb (boxed, 2, 13), 0xff303235u);
    EXPECT_GT (countNear (boxed, boxed.getBounds().reduced (3), juce::Colours::white, 1), 10);
}

//==============================================================================
// ResizeGrip 16 x 16: s = 12; strokes (10,14)-(14,10), (6,14)-(14,6), (2,14)-(14,2).
TEST_F (WidgetFixture, ResizeGripStrokesAndColours)
{
    ResizeGrip grip;
    grip.setBounds (0, 0, 16, 16);
    grip.setVisible (true);

    const struct { bool hover, dragging; juce::uint32 colour; } table[] = {
        { false, false, 0xcc7e7f83 }, { true, false, 0xff828d85 }, { false, true, 0xff7cf2c8 }, { true, true, 0xff7cf2c8 },
    };

    for (auto& row : table)
    {
        grip.hover = row.hover;
        grip.dragging = row.dragging;
        auto img = render (grip);

        // On each stroke (x + y = 24, 20, 16) the pixel centres carry the colour;
        // between them there is nothing.
        for (auto [x, y] : { std::pair { 12, 11 }, { 10, 9 }, { 8, 7 }, { 13, 10 }, { 3, 12 } })
        {
            const auto c = img.getPixelAt (x, y);
            EXPECT_GT (c.getAlpha(), 0) << x << "," << y;
            EXPECT_NEAR (c.getRed(), juce::Colour (row.colour).getRed(), 2);
            EXPECT_NEAR (c.getGreen(), juce::Colour (row.colour).getGreen(), 2);
        }

        for (auto [x, y] : { std::pair { 11, 10 }, { 7, 6 }, { 5, 5 }, { 1, 1 }, { 15, 15 } })
            EXPECT_EQ (img.getPixelAt (x, y).getAlpha(), 0) << x << "," << y;
    }
}

TEST_F (WidgetFixture, ResizeGripReportsDragsInScreenPixels)
{
    juce::Component window;
    window.setBounds (40, 30, 300, 200);
    ResizeGrip grip;
    window.addAndMakeVisible (grip);
    grip.setBounds (284, 184, 16, 16);

    grip.onDragStart = [this] { log.push_back ("start"); };
    grip.onDrag = [this] (int dx, int dy) { log.push_back ("drag " + std::to_string (dx) + "," + std::to_string (dy)); };
    grip.onDragEnd = [this] { log.push_back ("end"); };

    MouseSim mouse (grip);
    grip.mouseEnter (mouse.make ({ 8.0f, 8.0f }, {}));
    EXPECT_TRUE (grip.hover);
    mouse.down (8.4f, 8.6f, kLeft);
    EXPECT_TRUE (grip.dragging);
    mouse.drag (28.0f, 23.0f);
    mouse.drag (3.0f, -2.0f);
    mouse.up (3.0f, -2.0f);
    EXPECT_FALSE (grip.dragging);
    grip.mouseExit (mouse.make ({ 3.0f, -2.0f }, {}));
    EXPECT_FALSE (grip.hover);

    EXPECT_EQ (log, (std::vector<std::string> { "start", "drag 20,14", "drag -5,-11", "end" }));

    // Without a drag callback, a drag reports nothing.
    log.clear();
    grip.onDrag = nullptr;
    mouse.down (8.0f, 8.0f, kLeft);
    mouse.drag (20.0f, 20.0f);
    mouse.up (20.0f, 20.0f);
    EXPECT_EQ (log, (std::vector<std::string> { "start", "end" }));
    EXPECT_EQ (grip.getMouseCursor(), juce::MouseCursor (juce::MouseCursor::BottomRightCornerResizeCursor));
}

//==============================================================================
TEST_F (WidgetFixture, ChevronColoursAndDirection)
{
    juce::Component parent;
    ChevronNavButton next (true), previous (false);
    for (auto* b : { &next, &previous })
    {
        parent.addAndMakeVisible (*b);
        b->setBounds (0, 0, 20, 24);
    }

    auto inkCentre = [] (const juce::Image& img)
    {
        float sum = 0.0f, moment = 0.0f;
        for (int y = 0; y < img.getHeight(); ++y)
            for (int x = 0; x < img.getWidth(); ++x)
            {
                const float a = img.getPixelAt (x, y).getFloatAlpha();
                sum += a;
                moment += a * ((float) x + 0.5f);
            }
        return moment / sum;
    };

    // The tip (cx + 3.06) lies right of the ends (cx - 2.04) when pointing right.
    EXPECT_GT (render (next).getPixelAt (13, 12).getAlpha(), 200);
    EXPECT_EQ (render (previous).getPixelAt (13, 12).getAlpha(), 0);
    EXPECT_NEAR (inkCentre (render (next)) - inkCentre (render (previous)), 1.0f, 0.6f);

    const struct { juce::Button::ButtonState state; bool enabled; juce::uint32 colour; } table[] = {
        { juce::Button::buttonNormal, true, 0xffeaefe9 },
        { juce::Button::buttonOver, true, 0xff7cf2c8 },
        { juce::Button::buttonDown, true, 0xff7cf2c8 },
        { juce::Button::buttonOver, false, 0x4c7e7f83 },
        { juce::Button::buttonDown, false, 0x4c7e7f83 },
    };

    for (auto& row : table)
    {
        parent.setEnabled (row.enabled);
        next.setState (row.state);
        const auto c = render (next).getPixelAt (12, 12);
        const juce::Colour want (row.colour);
        EXPECT_NEAR (c.getRed(), want.getRed(), 3) << std::hex << row.colour;
        EXPECT_NEAR (c.getGreen(), want.getGreen(), 3);
        EXPECT_NEAR (c.getBlue(), want.getBlue(), 3);
        EXPECT_NEAR (c.getAlpha(), juce::Colour (row.colour).getAlpha(), 24);
    }
}

//==============================================================================
namespace
{
juce::Colour dotCentre (ProgressButton& b)
{
    // The dot's centre: group of dot (D), gap 7 and text centred in the face.
    const float w = (float) b.getWidth() - 1.0f, h = (float) b.getHeight() - 1.0f;
    const float D = juce::jmin ((float) b.getHeight() * 0.22f, 9.0f);
    const auto f = FlatLookAndFeel::dinFont (juce::jmin ((float) b.getHeight() * 0.5f, 15.0f), juce::Font::bold).withExtraKerningFactor (0.12f);
    const float tw = f.getStringWidthFloat (b.getButtonText());
    const float x0 = w / 2.0f + 0.5f - (D + 7.0f + tw) / 2.0f;
    const auto img = render (b);
    return img.getPixelAt ((int) (x0 + D / 2.0f), (int) (h / 2.0f + 0.5f));
}
} // namespace

TEST_F (WidgetFixture, MeasureButtonDotFollowsThePulse)
{
    ProgressButton b;
    b.setButtonText ("STOP");
    b.setBounds (0, 0, 150, 34);
    b.setVisible (true);
    b.isMeasuring = true;

    // Pulse 1: opaque black dot of diameter D.
    b.pulse = 1.0f;
    EXPECT_EQ (dotCentre (b).getARGB(), 0xff000000u);

    // Pulse 0: diameter 0.6 D at alpha 51 over the orange face.
    b.pulse = 0.0f;
    const auto expected = qvn::theme::kOrangeCol.overlaidWith (juce::Colours::black.withAlpha ((juce::uint8) 51));
    const auto c = dotCentre (b);
    EXPECT_NEAR (c.getRed(), expected.getRed(), 1);
    EXPECT_NEAR (c.getGreen(), expected.getGreen(), 1);

    // The face is orange wherever the dot and the text are not.
    EXPECT_EQ (argb (render (b), 4, 17), qvn::theme::kOrangeCol.getARGB());
}

// 40 px wide with a long caption: avail = 39 - D - 15; the font shrinks in
// proportion but not below 8 px (the caption then overflows).
TEST_F (WidgetFixture, MeasureButtonShrinksALongCaptionToAtLeast8Px)
{
    ProgressButton b;
    b.setButtonText ("STOPS WITH PLAYBACK");
    b.setBounds (0, 0, 40, 34);
    b.setVisible (true);
    b.isMeasuring = true;
    b.pulse = 1.0f;

    auto capHeight = [] (float fontHeight)
    {
        juce::GlyphArrangement ga;
        ga.addLineOfText (FlatLookAndFeel::dinFont (fontHeight, juce::Font::bold), "H", 0.0f, 0.0f);
        juce::Path p;
        ga.createPath (p);
        return p.getBounds().getHeight();
    };

    // Ink of the black text between the rows the dot cannot reach.
    auto img = render (b);
    int top = -1, bottom = -1;
    for (int y = 0; y < 34; ++y)
        for (int x = 0; x < 40; ++x)
            if (img.getPixelAt (x, y).getAlpha() == 255 && img.getPixelAt (x, y).getPerceivedBrightness() < 0.25f)
            {
                if (top < 0)
                    top = y;
                bottom = y;
            }

    ASSERT_GE (top, 0);
    EXPECT_NEAR ((float) (bottom - top + 1), capHeight (8.0f), 1.5f);
    EXPECT_LT ((float) (bottom - top + 1), capHeight (15.0f) - 3.0f);
}

TEST_F (WidgetFixture, MeasureButtonIdleFaceAndProgressOverlay)
{
    ProgressButton b;
    b.setButtonText ("MATCH TO INST");
    b.setBounds (0, 0, 100, 34);
    b.setVisible (true);

    // Vertical gradient from the base brighter by 0.12 to darker by 0.2.
    auto img = render (b);
    const auto top = img.getPixelAt (4, 2), bottom = img.getPixelAt (4, 31);
    EXPECT_GT (top.getRed(), bottom.getRed());

    // Progress not clamped: 1.5 covers the face and runs to the bounds.
    b.progress = 0.5f;
    auto half = render (b);
    EXPECT_GT (half.getPixelAt (25, 4).getRed(), img.getPixelAt (25, 4).getRed()) << "overlay on the left half";
    EXPECT_EQ (half.getPixelAt (75, 4).getARGB(), img.getPixelAt (75, 4).getARGB()) << "nothing on the right half";

    b.progress = 1.5f;
    auto over = render (b);
    EXPECT_GT (over.getPixelAt (95, 4).getRed(), img.getPixelAt (95, 4).getRed());
}

TEST_F (WidgetFixture, CallbackComponentPaintsThroughItsCallback)
{
    CallbackComponent c;
    c.setBounds (0, 0, 10, 10);
    c.setVisible (true);
    EXPECT_EQ (countDiffering (render (c), { 0, 0, 10, 10 }, juce::Colours::transparentBlack, 0), 0);
    c.onPaint = [] (juce::Graphics& g) { g.fillAll (qvn::theme::kCardCol); };
    EXPECT_EQ (argb (render (c), 5, 5), qvn::theme::kCardCol.getARGB());

    SectionRowButton row ("row");
    row.setBounds (0, 0, 10, 10);
    row.setVisible (true);
    EXPECT_EQ (countDiffering (render (row), { 0, 0, 10, 10 }, juce::Colours::transparentBlack, 0), 0);
}
