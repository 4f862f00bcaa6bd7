#include <gtest/gtest.h>

#include "ui/JuceCompat.h"
#include "ui/UiComponents.h"
#include "UiTestUtils.h"

using namespace qvn::uitest;

namespace
{
struct LookFixture : ::testing::Test
{
    juce::ScopedJuceInitialiser_GUI gui;
};

/** Paints a text button through a look in a given state on transparent. */
juce::Image paintButton (juce::LookAndFeel& lf, juce::TextButton& b, bool highlighted, bool down,
                         juce::Colour background = juce::Colours::transparentBlack)
{
    return paintInto (b.getWidth(), b.getHeight(), [&] (juce::Graphics& g)
    {
        lf.drawButtonBackground (g, b, b.findColour (juce::TextButton::buttonColourId), highlighted, down);
        lf.drawButtonText (g, b, highlighted, down);
    }, background);
}

} // namespace

//==============================================================================
// The tab underline: u = min(w - 4, text width + 2), centred, 2 px high,
// 7 px (role tabs) or 4 px (language buttons) above the bottom.
TEST_F (LookFixture, TabUnderlineWidthAndPlace)
{
    RoleTabLF role;
    LangToggleLF lang;
    const juce::String longText ("VOCAL VOCAL VOCAL VOCAL");

    const struct { const char* what; juce::LookAndFeel* lf; juce::String text; int w, h, gapToBottom; juce::Font font; } table[] = {
        { "role tab INST", &role, "INST", 100, 34, 7, FlatLookAndFeel::roleTabFontFor ("INST", 34.0f, 0.07f) },
        { "role tab VOCAL", &role, "VOCAL", 120, 30, 7, FlatLookAndFeel::roleTabFontFor ("VOCAL", 30.0f, 0.07f) },
        { "role tab, text wider than the tab", &role, longText, 100, 34, 7, FlatLookAndFeel::roleTabFontFor (longText, 34.0f, 0.07f) },
        { "language button", &lang, "English", 80, 24, 4, FlatLookAndFeel::dinFont (13.5f) },
    };

    for (auto& row : table)
    {
        SCOPED_TRACE (row.what);
        juce::TextButton b (row.text);
        b.setSize (row.w, row.h);
        b.setToggleState (true, juce::dontSendNotification);

        const float u = juce::jmin ((float) row.w - 4.0f, qvn::compat::stringWidth (row.font, row.text) + 2.0f);
        const float left = (float) row.w / 2.0f - u / 2.0f;

        auto img = paintInto (row.w, row.h, [&] (juce::Graphics& g) { row.lf->drawButtonBackground (g, b, {}, false, false); },
                              juce::Colours::transparentBlack);
        const int y = row.h - row.gapToBottom;

        // Coverage across the row adds up to the underline's width (less
        // the rounded corners), centred on the button, and nothing lies
        // outside [left, left + u).
        auto coverage = [&img] (int yy)
        {
            float sum = 0.0f, moment = 0.0f;
            int first = -1, last = -1;
            for (int x = 0; x < img.getWidth(); ++x)
            {
                const float a = img.getPixelAt (x, yy).getFloatAlpha();
                if (a > 0.0f)
                {
                    if (first < 0)
                        first = x;
                    last = x;
                }
                sum += a;
                moment += a * ((float) x + 0.5f);
            }
            return std::tuple { sum, sum > 0.0f ? moment / sum : 0.0f, first, last };
        };

        for (int yy : { y, y + 1 })
        {
            auto [sum, centre, first, last] = coverage (yy);
            EXPECT_NEAR (sum, u, 0.6f);
            EXPECT_NEAR (centre, (float) row.w / 2.0f, 0.05f);
            EXPECT_EQ (first, (int) std::floor (left));
            EXPECT_EQ (last, (int) std::ceil (left + u) - 1);
        }

        EXPECT_FLOAT_EQ (std::get<0> (coverage (y - 1)), 0.0f);
        EXPECT_FLOAT_EQ (std::get<0> (coverage (y + 2)), 0.0f);

        if (row.text == longText)
        {
            EXPECT_FLOAT_EQ (u, 96.0f);
            EXPECT_EQ (std::get<2> (coverage (y)), 2);
            EXPECT_EQ (std::get<3> (coverage (y)), 97);
        }
    }
}

TEST_F (LookFixture, UntoggledTabsDrawNoBackgroundInAnyState)
{
    RoleTabLF role;
    LangToggleLF lang;
    juce::TextButton b ("VOCAL");
    b.setSize (100, 34);

    for (juce::LookAndFeel* lf : { (juce::LookAndFeel*) &role, (juce::LookAndFeel*) &lang })
        for (auto [hl, down] : { std::pair { false, false }, { true, false }, { true, true } })
        {
            auto img = paintInto (100, 34, [&] (juce::Graphics& g) { lf->drawButtonBackground (g, b, {}, hl, down); },
                                  juce::Colours::transparentBlack);
            EXPECT_EQ (countDiffering (img, img.getBounds(), juce::Colours::transparentBlack, 0), 0);
        }
}

TEST_F (LookFixture, TabTextColourByState)
{
    RoleTabLF role;
    juce::TextButton b ("VOCAL");
    b.setSize (100, 34);

    const struct { bool on, hl; juce::uint32 colour; } table[] = {
        { true, false, 0xffeaefe9 }, { true, true, 0xffeaefe9 }, { false, true, 0xff9b9c9f }, { false, false, 0xff7e7f83 },
    };

    for (auto& row : table)
    {
        b.setToggleState (row.on, juce::dontSendNotification);
        auto img = paintInto (100, 34, [&] (juce::Graphics& g) { role.drawButtonText (g, b, row.hl, false); }, juce::Colours::black);
        EXPECT_GT (countNear (img, { 0, 0, 100, 24 }, juce::Colour (row.colour), 1), 15) << std::hex << row.colour;
    }
}

//==============================================================================
TEST_F (LookFixture, SectionCellFacesByState)
{
    SectionCellLF lf;
    const juce::Colour own (0xff4a3b63);
    const struct { juce::Colour base; bool on, hl, down; juce::uint32 expected; } table[] = {
        { qvn::theme::kButtonCol, false, false, false, 0xff1e241f },
        { qvn::theme::kButtonCol, false, true, false, 0xff3b403c },
        { qvn::theme::kButtonCol, false, false, true, 0xff1a1f1a },
        { qvn::theme::kButtonCol, true, false, true, 0xff7cf2c8 },
        { own, false, false, false, own.getARGB() },
        { own, true, true, false, own.getARGB() },
        { own, false, false, true, own.darker (0.15f).getARGB() },
    };

    for (auto& row : table)
    {
        juce::TextButton b;
        b.setSize (30, 26);
        b.setColour (juce::TextButton::buttonColourId, row.base);
        b.setToggleState (row.on, juce::dontSendNotification);
        auto img = paintInto (30, 26, [&] (juce::Graphics& g) { lf.drawButtonBackground (g, b, {}, row.hl, row.down); });
        EXPECT_EQ (argb (img, 15, 13), row.expected) << std::hex << row.expected;
    }
}

TEST_F (LookFixture, ABToggleShowsTheActiveSlotBright)
{
    ABToggleLF lf;
    juce::TextButton b ("ignored caption");
    b.setSize (60, 26);

    for (bool on : { false, true })
    {
        b.setToggleState (on, juce::dontSendNotification);
        auto img = paintInto (60, 26, [&] (juce::Graphics& g) { lf.drawButtonText (g, b, false, false); }, juce::Colours::black);
        const juce::Rectangle<int> a (0, 0, 20, 26), slash (20, 0, 20, 26), bb (40, 0, 20, 26);
        const auto bright = qvn::theme::kTextCol, muted = qvn::theme::kMutedCol;

        EXPECT_GT (countNear (img, on ? a : bb, muted, 1), 5);
        EXPECT_EQ (countNear (img, on ? a : bb, bright, 1), 0);
        EXPECT_GT (countNear (img, on ? bb : a, bright, 1), 5);
        EXPECT_GT (countNear (img, slash, muted, 1), 3);
        EXPECT_EQ (countNear (img, slash, bright, 1), 0);
    }
}

TEST_F (LookFixture, TitleButtonIsOutlineOnly)
{
    TitleBtnLF lf;
    juce::TextButton b;
    b.setSize (70, 26);

    for (auto [hl, down, outline] : { std::tuple { false, false, 0x99242b26u }, { true, false, 0xff343d36u }, { true, true, 0xcceaefe9u } })
    {
        auto img = paintInto (70, 26, [&] (juce::Graphics& g) { lf.drawButtonBackground (g, b, juce::Colours::red, hl, down); },
                              juce::Colours::transparentBlack);
        EXPECT_EQ (img.getPixelAt (35, 13).getAlpha(), 0) << "no fill";
        const auto edge = img.getPixelAt (35, 0);
        EXPECT_NEAR (edge.getRed(), juce::Colour (outline).getRed(), 3);
        EXPECT_GT (edge.getAlpha(), 0);
    }
}

// m = 0.35 when disabled: fill 0.12 x 0.35 (alpha 11), outline and text 89.
TEST_F (LookFixture, OffsetTargetButtonAlphasWhenDisabled)
{
    OffsetTargetButtonLF lf;
    juce::Component parent;
    juce::TextButton b ("TARGET");
    parent.addAndMakeVisible (b);
    b.setBounds (0, 0, 96, 24);
    b.setToggleState (true, juce::dontSendNotification);

    auto paintAll = [&] (bool hl, bool down)
    {
        return paintInto (96, 24, [&] (juce::Graphics& g)
        {
            lf.drawButtonBackground (g, b, {}, hl, down);
            lf.drawButtonText (g, b, hl, down);
        }, juce::Colours::transparentBlack);
    };

    auto enabled = paintAll (false, false);
    EXPECT_EQ (enabled.getPixelAt (10, 12).getAlpha(), qvn::alphaByte (0.12f));
    EXPECT_EQ (paintAll (true, false).getPixelAt (10, 12).getAlpha(), qvn::alphaByte (0.16f));
    EXPECT_EQ (paintAll (false, true).getPixelAt (10, 12).getAlpha(), qvn::alphaByte (0.2f));

    parent.setEnabled (false);
    auto disabled = paintAll (false, false);
    EXPECT_EQ (disabled.getPixelAt (10, 12).getAlpha(), 11);
    // The outline (alpha 89) covers row 0 over half a pixel of the fill.
    EXPECT_NEAR (disabled.getPixelAt (48, 0).getAlpha(), 89 + (255 - 89) * 5.5 / 255.0, 1.5);

    // Untoggled and disabled: fill 0x12171c at alpha 89.
    b.setToggleState (false, juce::dontSendNotification);
    auto plain = paintAll (false, false);
    EXPECT_EQ (plain.getPixelAt (10, 12).getAlpha(), 89);
}

TEST_F (LookFixture, OffsetTargetButtonOfAtMost24PxShowsOnlyTheCaret)
{
    OffsetTargetButtonLF lf;

    for (int w : { 24, 20 })
    {
        juce::TextButton b ("TARGET");
        b.setBounds (0, 0, w, 24);
        b.setVisible (true);
        auto img = paintInto (w, 24, [&] (juce::Graphics& g) { lf.drawButtonText (g, b, false, false); }, juce::Colours::black);

        // Everything drawn lies in the caret box (x 6..6 + max(0, w - 12)).
        const int iw = juce::jmax (0, w - 12);
        EXPECT_EQ (countDiffering (img, { 0, 0, 5, 24 }, juce::Colours::black, 10), 0);
        EXPECT_EQ (countDiffering (img, { 6 + iw + 1, 0, w, 24 }, juce::Colours::black, 10), 0);
        if (iw >= 8)
            EXPECT_GT (countDiffering (img, { 6, 0, iw, 24 }, juce::Colours::black, 10), 3);
    }
}

//==============================================================================
namespace
{
struct MenuLF : SettingsMenuLF
{
    void baseIdealSize (const juce::String& text, bool sep, int std, int& w, int& h)
    {
        juce::LookAndFeel_V4::getIdealPopupMenuItemSize (text, sep, std, w, h);
    }
};
} // namespace

TEST_F (LookFixture, MenuItemSizes)
{
    MenuLF lf;
    EXPECT_EQ (lf.getPopupMenuBorderSize(), 6);
    EXPECT_EQ (lf.getPopupMenuFont().getTypefacePtr(), qvn::dinExpTypeface());
    EXPECT_FLOAT_EQ (lf.getPopupMenuFont().getHeight(), 12.0f);

    for (auto [text, stdHeight] : { std::pair { "Show tooltips", 17 }, { "Link measurement to transport", 30 }, { "", 22 } })
    {
        SCOPED_TRACE (text);
        int bw = 0, bh = 0, w = 0, h = 0;
        lf.baseIdealSize (text, false, stdHeight, bw, bh);
        lf.getIdealPopupMenuItemSize (text, false, stdHeight, w, h);
        EXPECT_EQ (w, bw + 28);
        EXPECT_EQ (h, juce::jmax (bh, 28));

        EXPECT_EQ (qvn::compat::fallbackWidthCorrection (lf.getPopupMenuFont(), text), 0);
        lf.baseIdealSize (text, true, stdHeight, bw, bh);
        lf.getIdealPopupMenuItemSize (text, true, stdHeight, w, h);
        EXPECT_EQ (h, 9);
        EXPECT_EQ (w, bw);
    }
}

// JUCE 7 measures characters the menu font lacks with its empty box; the
// ideal width uses the widths of the faces that draw them.
TEST_F (LookFixture, MenuItemWidthOfTextTheMenuFontLacks)
{
    MenuLF lf;
    const auto text = juce::String::fromUTF8 ("\xe3\x82\xba\xe3\x83\xbc\xe3\x83\xa0 Zoom");
    int w = 0, h = 0;
    lf.getIdealPopupMenuItemSize (text, false, 0, w, h);

    const auto f = lf.getPopupMenuFont();
    const int baseHeight = juce::roundToInt (f.getHeight() * 1.3f);
    EXPECT_NEAR ((float) (w - 28 - 2 * baseHeight), qvn::compat::stringWidth (f, text), 1.0f);
    EXPECT_NE (juce::roundToInt (qvn::compat::stringWidth (f, text)), f.getStringWidth (text));
}

TEST_F (LookFixture, MenuItemHighlightOnlyWhenActive)
{
    SettingsMenuLF lf;
    const juce::Rectangle<int> area (0, 0, 240, 28);
    const struct { bool active, hl, ticked; juce::uint32 fill; juce::uint32 text; } table[] = {
        { true, true, true, 0xff7cf2c8, 0xff0e1217 },
        { false, true, false, 0xff171c22, 0xff7e7f83 },
        { true, false, false, 0xff171c22, 0xffeaefe9 },
        { false, false, false, 0xff171c22, 0xff7e7f83 },
    };

    for (auto& row : table)
    {
        auto img = paintInto (240, 28, [&] (juce::Graphics& g)
        {
            lf.drawPopupMenuItem (g, area, false, row.active, row.hl, row.ticked, false, "Zoom", "Ctrl+Z", nullptr, nullptr);
        }, qvn::theme::kPanelCol);

        EXPECT_EQ (argb (img, 120, 2), row.fill);
        int others = 0;
        EXPECT_GT (countBlendsOf (img, { 30, 4, 100, 20 }, juce::Colour (row.fill), juce::Colour (row.text), &others), 10) << std::hex << row.text;
        EXPECT_EQ (others, 0);

        if (row.ticked)
        {
            // The tick is drawn in the dark text colour on the highlight.
            EXPECT_GT (countNear (img, { 13, 0, 14, 28 }, qvn::theme::kWindowCol, 2), 3);
        }
    }
}

TEST_F (LookFixture, MenuSeparatorAndHeader)
{
    SettingsMenuLF lf;
    auto img = paintInto (200, 9, [&] (juce::Graphics& g)
    {
        lf.drawPopupMenuItem (g, { 0, 0, 200, 9 }, true, true, true, true, true, "x", "y", nullptr, nullptr);
    });
    EXPECT_EQ (argb (img, 8, 4), qvn::theme::kLineCol.getARGB());
    EXPECT_EQ (argb (img, 191, 4), qvn::theme::kLineCol.getARGB());
    EXPECT_EQ (argb (img, 7, 4), 0xff000000u);
    EXPECT_EQ (argb (img, 192, 4), 0xff000000u);
    EXPECT_EQ (countDiffering (img, { 0, 0, 200, 4 }, juce::Colours::black, 0), 0);

    // Header: caption-coloured text and a rule under it across the text rectangle.
    img = paintInto (200, 28, [&] (juce::Graphics& g) { lf.drawPopupMenuSectionHeader (g, { 0, 0, 200, 28 }, "DISPLAY"); });
    const int indent = juce::roundToInt (FlatLookAndFeel::dinExpFont (11.0f).getHeight()) + 4;
    const int lineY = 1 + 26 - 6;
    EXPECT_EQ (argb (img, 13 + indent, lineY), qvn::theme::kLineCol.getARGB());
    EXPECT_EQ (argb (img, 186, lineY), qvn::theme::kLineCol.getARGB());
    EXPECT_EQ (argb (img, 13 + indent - 1, lineY), 0xff000000u);
    int others = 0;
    EXPECT_GT (countBlendsOf (img, { 13 + indent, 0, 120, lineY }, juce::Colours::black, qvn::theme::kCaptionCol, &others), 10);
    EXPECT_EQ (others, 0);
}

//==============================================================================
TEST_F (LookFixture, CallOutBoxIsSquareWithoutArrow)
{
    SquareCallOutBoxLF lf;
    juce::Component parent, content;
    parent.setSize (300, 200);
    content.setSize (120, 60);
    juce::CallOutBox box (content, { 140, 10, 10, 10 }, &parent);
    box.setLookAndFeel (&lf);

    EXPECT_EQ (lf.getCallOutBoxBorderSize (box), 0);

    juce::Image cache;
    auto img = paintInto (box.getWidth(), box.getHeight(), [&] (juce::Graphics& g)
    {
        juce::Path arrow;
        arrow.addTriangle (0.0f, 0.0f, 30.0f, 0.0f, 15.0f, 15.0f);
        lf.drawCallOutBoxBackground (box, g, arrow, cache);
    }, juce::Colours::red);

    EXPECT_EQ (countNear (img, img.getBounds(), juce::Colours::red, 10), 0) << "the whole box is filled, no arrow shape";
    EXPECT_EQ (argb (img, 0, 0), qvn::theme::kLineCol.getARGB());
    EXPECT_EQ (argb (img, box.getWidth() / 2, box.getHeight() / 2), qvn::theme::kPanelCol.getARGB());
    box.setLookAndFeel (nullptr);
}

TEST_F (LookFixture, TextEditorOutlineFollowsFocusAndEnablement)
{
    SquareCallOutBoxLF lf;
    juce::TextEditor editor;
    editor.setSize (100, 22);
    editor.setColour (juce::TextEditor::outlineColourId, juce::Colour (0xff112233));
    editor.setColour (juce::TextEditor::focusedOutlineColourId, juce::Colour (0xff445566));

    auto img = paintInto (100, 22, [&] (juce::Graphics& g) { lf.drawTextEditorOutline (g, 100, 22, editor); });
    EXPECT_EQ (argb (img, 0, 0), 0xff112233u);
    EXPECT_EQ (argb (img, 99, 21), 0xff112233u);
    EXPECT_EQ (argb (img, 50, 11), 0xff000000u);

    editor.setEnabled (false);
    img = paintInto (100, 22, [&] (juce::Graphics& g) { lf.drawTextEditorOutline (g, 100, 22, editor); });
    EXPECT_EQ (countDiffering (img, img.getBounds(), juce::Colours::black, 0), 0);
}

TEST_F (LookFixture, BellTextBrightensUnderTheMouse)
{
    BellLookAndFeel lf;
    juce::TextButton b ("Update");
    b.setSize (90, 22);
    b.setLookAndFeel (&lf); // the text colour comes from the button, which takes it from its look

    auto normal = paintButton (lf, b, false, false, juce::Colours::black);
    auto hover = paintButton (lf, b, true, false, juce::Colours::black);
    // Both colours are near white: compare the brightest pixels.
    auto brightest = [] (const juce::Image& img)
    {
        juce::Colour best (0xff000000);
        for (int y = 0; y < img.getHeight(); ++y)
            for (int x = 0; x < img.getWidth(); ++x)
                if (img.getPixelAt (x, y).getPerceivedBrightness() > best.getPerceivedBrightness())
                    best = img.getPixelAt (x, y);
        return best;
    };
    EXPECT_EQ (brightest (normal).getARGB(), qvn::theme::kTextCol.getARGB());
    EXPECT_EQ (brightest (hover).getARGB(), 0xffedf1ecu);
    // Right-aligned: nothing in the left half for a short caption.
    EXPECT_EQ (countDiffering (normal, { 0, 0, 40, 22 }, juce::Colours::black, 10), 0);
    b.setLookAndFeel (nullptr);
}
