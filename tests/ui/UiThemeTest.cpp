#include <gtest/gtest.h>

#include "ui/JuceCompat.h"
#include "ui/UiTheme.h"
#include "UiTestUtils.h"

#include <BinaryData.h>

#include <cmath>
#include <set>

using namespace qvn::uitest;

namespace
{
struct GuiFixture : ::testing::Test
{
    juce::ScopedJuceInitialiser_GUI gui;
    FlatLookAndFeel lf;
};

juce::File sourceFile (const char* relative)
{
    return juce::File (QVN_TEST_SOURCE_ROOT).getChildFile (relative);
}
} // namespace

//==============================================================================
TEST (UiResources, TableListsAllResourcesInOrderWithTheirFileNames)
{
    const char* expected[][2] = {
        { "undo_icon_svg", "undo_icon.svg" },
        { "redo_icon_svg", "redo_icon.svg" },
        { "brand_logo_svg", "brand_logo.svg" },
        { "title_text_svg", "title_text.svg" },
        { "icon_bypass_svg", "icon_bypass.svg" },
        { "icon_reset_svg", "icon_reset.svg" },
        { "icon_link_svg", "icon_link.svg" },
        { "icon_lock_svg", "icon_lock.svg" },
        { "icon_unlock_svg", "icon_unlock.svg" },
        { "panelleft_svg", "panel-left.svg" },
        { "DDIN_otf", "D-DIN.otf" },
        { "DDINBold_otf", "D-DIN-Bold.otf" },
        { "DDINExp_otf", "D-DINExp.otf" },
        { "JetBrainsMonoRegular_ttf", "JetBrainsMono-Regular.ttf" },
        { "JetBrainsMonoBold_ttf", "JetBrainsMono-Bold.ttf" },
        { "IBMPlexSansJPBold_ttf", "IBMPlexSansJP-Bold.ttf" },
        { "IBMPlexSansJPRegular_ttf", "IBMPlexSansJP-Regular.ttf" },
    };

    ASSERT_EQ (BinaryData::namedResourceListSize, 17);
    std::set<juce::uint32> hashes;

    for (int i = 0; i < 17; ++i)
    {
        SCOPED_TRACE (expected[i][0]);
        EXPECT_STREQ (BinaryData::namedResourceList[i], expected[i][0]);
        EXPECT_STREQ (BinaryData::originalFilenames[i], expected[i][1]);
        EXPECT_STREQ (BinaryData::getNamedResourceOriginalFilename (expected[i][0]), expected[i][1]);

        int size = -1;
        const char* data = BinaryData::getNamedResource (expected[i][0], size);
        ASSERT_NE (data, nullptr);
        EXPECT_GT (size, 0);
        EXPECT_EQ (data[size], 0) << "data is followed by an uncounted zero byte";

        juce::uint32 h = 0;
        for (const char* p = expected[i][0]; *p != 0; ++p)
            h = 31 * h + (juce::uint32) (juce::uint8) *p;
        hashes.insert (h);
    }

    EXPECT_EQ (hashes.size(), 17u) << "the name hashes are distinct";
}

TEST (UiResources, UnknownNamesGiveNullAndSizeZero)
{
    for (const char* name : { "icon_lock.svg", "", "ICON_LOCK_SVG", "icon_lock_svg ", "DDIN_ttf" })
    {
        SCOPED_TRACE (name);
        int size = 123;
        EXPECT_EQ (BinaryData::getNamedResource (name, size), nullptr);
        EXPECT_EQ (size, 0);
        EXPECT_EQ (BinaryData::getNamedResourceOriginalFilename (name), nullptr);
    }

    int size = 123;
    EXPECT_EQ (BinaryData::getNamedResource (nullptr, size), nullptr);
    EXPECT_EQ (size, 0);
}

TEST (UiResources, EmbeddedBytesAreTheFilesOnDisk)
{
    const std::pair<const char*, juce::File> files[] = {
        { "icon_lock_svg", sourceFile ("ui/resources/icon_lock.svg") },
        { "panelleft_svg", sourceFile ("ui/resources/panel-left.svg") },
        { "DDIN_otf", juce::File (QVN_TEST_FONT_DIR).getChildFile ("d-din/D-DIN.ttf") },
        { "DDINExp_otf", juce::File (QVN_TEST_FONT_DIR).getChildFile ("d-din/D-DINExp.ttf") },
        { "JetBrainsMonoBold_ttf", juce::File (QVN_TEST_FONT_DIR).getChildFile ("jetbrains-mono/JetBrainsMono-Bold.ttf") },
        { "IBMPlexSansJPRegular_ttf", juce::File (QVN_TEST_FONT_DIR).getChildFile ("ibm-plex-sans-jp/IBMPlexSansJP-Regular.ttf") },
    };

    for (auto& [name, file] : files)
    {
        SCOPED_TRACE (name);
        juce::MemoryBlock onDisk;
        ASSERT_TRUE (file.loadFileAsData (onDisk));
        int size = 0;
        const char* data = BinaryData::getNamedResource (name, size);
        ASSERT_EQ ((size_t) size, onDisk.getSize());
        EXPECT_EQ (std::memcmp (data, onDisk.getData(), onDisk.getSize()), 0);
    }
}

// Icon buttons recolour black to their state colour, so every icon must be
// pure black; the title lettering is white.
TEST (UiResources, IconsDrawInPureBlackAndTheTitleInWhite)
{
    juce::ScopedJuceInitialiser_GUI gui;

    for (int i = 0; i < 10; ++i)
    {
        const char* name = BinaryData::namedResourceList[i];
        SCOPED_TRACE (name);
        int size = 0;
        const char* data = BinaryData::getNamedResource (name, size);
        auto drawable = juce::Drawable::createFromImageData (data, (size_t) size);
        ASSERT_NE (drawable, nullptr);

        const bool title = juce::String (name) == "title_text_svg";
        const auto expected = title ? juce::Colours::white : juce::Colours::black;
        const auto probe = juce::Colour (0xffff00ff);
        drawable->replaceColour (expected, probe);

        // Drawn on grey: every pixel that changed must be a blend of the probe.
        auto img = paintInto (120, 60, [&] (juce::Graphics& g)
        {
            drawable->drawWithin (g, { 0.0f, 0.0f, 120.0f, 60.0f }, juce::RectanglePlacement::centred, 1.0f);
        }, juce::Colour (0xff808080));

        int inked = 0, foreign = 0;
        for (int y = 0; y < img.getHeight(); ++y)
            for (int x = 0; x < img.getWidth(); ++x)
            {
                const auto c = img.getPixelAt (x, y);
                if (c.getARGB() == 0xff808080)
                    continue;
                ++inked;
                // A blend of grey and magenta keeps green at or below 0x80 and red == blue.
                if (std::abs (c.getRed() - c.getBlue()) > 2 || c.getGreen() > 0x80)
                    ++foreign;
            }

        EXPECT_GT (inked, 40);
        EXPECT_EQ (foreign, 0);
    }
}

//==============================================================================
TEST (UiTheme, JapaneseFaceRuleIsACodePointAboveU2FFF)
{
    const struct { const char* utf8; bool japanese; } cases[] = {
        { "", false },
        { "INST", false },
        { "VOCAL", false },
        { "\xe2\x97\x8f", false },                 // U+25CF bullet
        { "\xe2\xbf\xbf", false },                 // U+2FFF, last code point below the rule
        { "\xe3\x80\x80", true },                  // U+3000 ideographic space
        { "Vocal \xe3\x83\x9c", true },            // a katakana after Latin text
        { "\xe3\x83\x9c\xe3\x83\xbc\xe3\x82\xab\xe3\x83\xab", true }, // katakana word
        { "\xf0\x9f\x8e\xa4", true },              // U+1F3A4, outside the BMP
        { "\xef\xbc\x88" "A" "\xef\xbc\x89", true }, // full-width brackets
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.utf8);
        EXPECT_EQ (FlatLookAndFeel::needsJapaneseFace (juce::String::fromUTF8 (c.utf8)), c.japanese);
    }
}

TEST_F (GuiFixture, FontFunctionsPickTheirFaceAndHeight)
{
    const struct { juce::Font font; const char* family; bool bold; float height; } cases[] = {
        { FlatLookAndFeel::font (12.0f, juce::Font::plain), "JetBrains Mono", false, 12.0f },
        { FlatLookAndFeel::font (15.0f, juce::Font::bold), "JetBrains Mono", true, 15.0f },
        { FlatLookAndFeel::font (11.0f, juce::Font::italic), "JetBrains Mono", false, 11.0f },
        { FlatLookAndFeel::font (11.0f, juce::Font::bold | juce::Font::italic), "JetBrains Mono", true, 11.0f },
        { FlatLookAndFeel::dinFont (13.5f, juce::Font::plain), "D-DIN", false, 13.5f },
        { FlatLookAndFeel::dinFont (11.0f, juce::Font::bold), "D-DIN", true, 11.0f },
        { FlatLookAndFeel::dinExpFont (12.0f), "D-DIN Exp", false, 12.0f },
        { FlatLookAndFeel::jpFont (14.0f, juce::Font::bold), "IBM Plex Sans JP", false, 14.0f },
        { FlatLookAndFeel::jpBoldFont (12.0f), "IBM Plex Sans JP", true, 12.0f },
    };

    for (auto& c : cases)
    {
        auto face = c.font.getTypefacePtr();
        ASSERT_NE (face, nullptr);
        SCOPED_TRACE (face->getName() + " " + face->getStyle());
        EXPECT_EQ (face->getName(), c.family);
        EXPECT_EQ (face->getStyle().containsIgnoreCase ("Bold"), c.bold);
        EXPECT_FLOAT_EQ (c.font.getHeight(), c.height);
        EXPECT_FLOAT_EQ (c.font.getExtraKerningFactor(), 0.0f);
        EXPECT_FLOAT_EQ (c.font.getHorizontalScale(), 1.0f);
    }
}

TEST_F (GuiFixture, RoleTabFontFollowsTheTextAndTheHeight)
{
    const struct { const char* utf8; float height; const char* family; float size; float kerning; } cases[] = {
        { "INST", 30.0f, "D-DIN", 15.0f, 0.07f },
        { "VOCAL", 24.0f, "D-DIN", 12.0f, 0.07f },
        { "VOCAL", 40.0f, "D-DIN", 15.0f, 0.07f },
        { "\xe2\x97\x8f", 30.0f, "D-DIN", 15.0f, 0.07f },
        { "\xe6\xad\x8c", 30.0f, "IBM Plex Sans JP", 18.0f, 0.0f },
        { "\xe6\xad\x8c", 20.0f, "IBM Plex Sans JP", 13.0f, 0.0f },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.utf8);
        const auto f = FlatLookAndFeel::roleTabFontFor (juce::String::fromUTF8 (c.utf8), c.height, 0.07f);
        EXPECT_EQ (f.getTypefacePtr()->getName(), c.family);
        EXPECT_TRUE (f.getTypefacePtr()->getStyle().containsIgnoreCase ("Bold"));
        EXPECT_FLOAT_EQ (f.getHeight(), c.size);
        EXPECT_FLOAT_EQ (f.getExtraKerningFactor(), c.kerning);
    }
}

TEST_F (GuiFixture, FontsWithoutTheirOwnTypefaceUseTheMonospaceFaces)
{
    EXPECT_EQ (lf.getTypefaceForFont (juce::Font (12.0f)), lf.regularTypefacePtr);
    EXPECT_EQ (lf.getTypefaceForFont (juce::Font (12.0f, juce::Font::bold)), lf.boldTypefacePtr);
    EXPECT_EQ (lf.regularTypefacePtr, qvn::regularTypeface());
    EXPECT_EQ (lf.boldTypefacePtr->getName(), "JetBrains Mono");

    juce::TextButton b ("x");
    EXPECT_FLOAT_EQ (lf.getTextButtonFont (b, 20).getHeight(), 12.0f);
    EXPECT_FLOAT_EQ (lf.getTextButtonFont (b, 40).getHeight(), 15.0f);
    EXPECT_TRUE (lf.getTextButtonFont (b, 40).isBold());

    juce::Label label;
    label.setFont (FlatLookAndFeel::dinExpFont (17.0f));
    EXPECT_EQ (lf.getLabelFont (label).getTypefacePtr(), qvn::dinExpTypeface());
}

TEST_F (GuiFixture, ConstructorSetsTheThemeColours)
{
    const std::pair<int, juce::uint32> ids[] = {
        { juce::TextButton::buttonColourId, 0xff2a322c },
        { juce::TextButton::buttonOnColourId, 0xff7cf2c8 },
        { juce::TextButton::textColourOffId, 0xffeaefe9 },
        { juce::TextButton::textColourOnId, 0xffeaefe9 },
        { juce::Slider::thumbColourId, 0xff7cf2c8 },
        { juce::Slider::trackColourId, 0x667cf2c8 },
        { juce::Slider::backgroundColourId, 0xff090c10 },
        { juce::Slider::textBoxBackgroundColourId, 0xff171c22 },
        { juce::Slider::textBoxTextColourId, 0xffeaefe9 },
        { juce::Slider::textBoxOutlineColourId, 0xff242b26 },
        { juce::Label::textColourId, 0xffeaefe9 },
        { juce::TooltipWindow::backgroundColourId, 0xffffffff },
        { juce::TooltipWindow::textColourId, 0xff000000 },
        { juce::TooltipWindow::outlineColourId, 0xff242b26 },
    };

    for (auto& [id, colour] : ids)
        EXPECT_EQ (lf.findColour (id).getARGB(), colour) << std::hex << id;

    EXPECT_TRUE (lf.tooltipJapanese);
}

TEST (UiTheme, DerivedShadesTruncate)
{
    using namespace qvn::theme;
    EXPECT_EQ (kMutedCol.brighter (0.3f).getARGB(), 0xff9b9c9fu);
    EXPECT_EQ (kCaptionCol.darker (0.2f).getARGB(), 0xff6c756eu);
    EXPECT_EQ (kCaptionCol.brighter (0.15f).getARGB(), 0xff929b94u);
    EXPECT_EQ (kTextCol.brighter (0.2f).getARGB(), 0xffedf1ecu);
    EXPECT_EQ (qvn::alphaByte (0.35f), 89);
    EXPECT_EQ (qvn::alphaByte (0.12f * 0.35f), 11);
    EXPECT_EQ (qvn::alphaByte (-1.0f), 0);
    EXPECT_EQ (qvn::alphaByte (1.5f), 255);
}

//==============================================================================
// The flat button face for each state: the theme face reacts to hover and
// press, a face of the button's own keeps its colour and shades it by 15 %.
TEST_F (GuiFixture, FlatButtonFaceByState)
{
    const juce::Colour own (0xff3060a0);
    const struct { juce::Colour base; bool on, highlighted, down; juce::Colour expected; } cases[] = {
        { qvn::theme::kButtonCol, false, false, false, juce::Colour (0xff2a322c) },
        { qvn::theme::kButtonCol, false, true, false, juce::Colour (0xff343d36) },
        { qvn::theme::kButtonCol, false, false, true, juce::Colour (0xff1c211d) },
        { qvn::theme::kButtonCol, false, true, true, juce::Colour (0xff1c211d) },
        { qvn::theme::kButtonCol, true, false, false, juce::Colour (0xff7cf2c8) },
        { qvn::theme::kButtonCol, true, true, true, juce::Colour (0xff7cf2c8) },
        { own, false, false, false, own },
        { own, false, true, false, own.brighter (0.15f) },
        { own, false, false, true, own.darker (0.15f) },
        { own, false, true, true, own.darker (0.15f) },
        { own, true, false, true, own },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.expected.toDisplayString (true) + (c.on ? " on" : "") + (c.highlighted ? " hl" : "") + (c.down ? " down" : ""));
        juce::TextButton b;
        b.setSize (60, 24);
        b.setColour (juce::TextButton::buttonColourId, c.base);
        b.setToggleState (c.on, juce::dontSendNotification);

        auto img = paintInto (60, 24, [&] (juce::Graphics& g) { lf.drawButtonBackground (g, b, juce::Colours::red, c.highlighted, c.down); });
        EXPECT_EQ (argb (img, 30, 12), c.expected.getARGB());
        // The 1 px outline at 0x99242b26 over the face (anti-aliased on the 0.5 line).
        EXPECT_NE (argb (img, 30, 0), c.expected.getARGB());
    }
}

TEST_F (GuiFixture, FlatButtonTextIsDrawnInTheTextColourInEveryState)
{
    for (bool enabled : { true, false })
    {
        juce::TextButton b ("APPLY");
        b.setLookAndFeel (&lf);
        b.setBounds (0, 0, 90, 26);
        b.setEnabled (enabled);
        auto img = render (b);
        EXPECT_GT (countNear (img, { 2, 0, 86, 26 }, qvn::theme::kTextCol, 2), 10);
        b.setLookAndFeel (nullptr);
    }
}

//==============================================================================
namespace
{
int tooltipTextHeight (FlatLookAndFeel& lf, const juce::String& tip, int parentWidth)
{
    int w = juce::jmin (parentWidth, 404);
    if (w < 38)
        w = 37;
    return (int) std::ceil (lf.layoutTooltipText (tip, (float) (w - 36)).getHeight());
}
} // namespace

TEST_F (GuiFixture, TooltipPlacementAndFlips)
{
    const juce::String tip ("Offset Gain of this section");
    lf.tooltipJapanese = false;
    const int t = tooltipTextHeight (lf, tip, 800);
    ASSERT_GT (t, 8);

    const juce::Rectangle<int> wide (100, 50, 1200, 600), small (0, 0, 600, 400);
    const struct { const char* what; juce::Rectangle<int> parent; juce::Point<int> mouse; juce::Rectangle<int> expected; } cases[] = {
        { "left half: right of the mouse, below it", wide, { 200, 100 }, { 224, 106, 392, t + 20 } },
        { "exactly at the centre opens to the right", wide, { 700, 100 }, { 724, 106, 392, t + 20 } },
        { "right half: ends 12 px left of the mouse", wide, { 701, 100 }, { 297, 106, 392, t + 20 } },
        { "near the bottom: ends 6 px above the mouse", wide, { 200, 640 - t }, { 224, 614 - 2 * t, 392, t + 20 } },
        { "right half near the centre: pushed in at the left", small, { 301, 100 }, { 6, 106, 392, t + 20 } },
        { "left half near the centre: pushed in at the right", small, { 250, 100 }, { 202, 106, 392, t + 20 } },
        { "pushed up from the bottom edge", small, { 20, 20 }, { 44, 26, 392, t + 20 } },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        EXPECT_EQ (lf.getTooltipBounds (tip, c.mouse, c.parent), c.expected);
    }
}

TEST_F (GuiFixture, TooltipInNarrowAndShortParents)
{
    const juce::String tip ("Resets the section");
    lf.tooltipJapanese = false;

    // 300 px parent: W = 300, box 288 wide = parent less 6 px each side.
    {
        const juce::Rectangle<int> parent (0, 0, 300, 400);
        const int t = tooltipTextHeight (lf, tip, 300);
        for (int mx : { 0, 100, 150, 151, 299 })
        {
            const auto r = lf.getTooltipBounds (tip, { mx, 10 }, parent);
            EXPECT_EQ (r, juce::Rectangle<int> (6, 16, 288, t + 20)) << mx;
        }
    }

    // Narrower than 38 px: W = 37, box 25 wide, cut to the parent less 12.
    {
        const juce::Rectangle<int> parent (10, 0, 30, 400);
        const auto r = lf.getTooltipBounds (tip, { 12, 10 }, parent);
        EXPECT_EQ (r.getX(), 16);
        EXPECT_EQ (r.getWidth(), 18);
    }

    // Too short for above and below: goes below, then the clamp moves it up
    // (and cuts it to the area when it is taller).
    {
        const juce::Rectangle<int> parent (0, 0, 400, 60);
        const int t = tooltipTextHeight (lf, tip, 400);
        const auto r = lf.getTooltipBounds (tip, { 50, 30 }, parent);
        EXPECT_EQ (r.getY(), juce::jmax (6, 54 - (t + 20)));
        EXPECT_EQ (r.getHeight(), juce::jmin (t + 20, 48));
    }
}

TEST_F (GuiFixture, TooltipFontFollowsTheLanguageNotTheText)
{
    for (bool japanese : { false, true })
    {
        lf.tooltipJapanese = japanese;
        const auto layout = lf.layoutTooltipText ("Link All", 300.0f);
        ASSERT_GT (layout.getNumLines(), 0);
        const auto& run = *layout.getLine (0).runs.getFirst();
        EXPECT_EQ (run.font.getTypefacePtr()->getName(), japanese ? "IBM Plex Sans JP" : "D-DIN Exp");
        EXPECT_FLOAT_EQ (run.font.getHeight(), japanese ? 14.0f : 12.0f);
        EXPECT_EQ (run.colour.getARGB(), 0xff000000u);
    }
}

TEST_F (GuiFixture, TooltipDrawingUsesTheLookAndFeelColours)
{
    lf.tooltipJapanese = false;
    auto img = paintInto (200, 40, [&] (juce::Graphics& g) { lf.drawTooltip (g, "Undo", 200, 40); }, juce::Colours::red);
    EXPECT_EQ (argb (img, 0, 0), 0xff242b26u);
    EXPECT_EQ (argb (img, 199, 39), 0xff242b26u);
    EXPECT_EQ (argb (img, 150, 20), 0xffffffffu);
    EXPECT_GT (countNear (img, { 12, 8, 176, 24 }, juce::Colours::black, 60), 5) << "the text is drawn";
    EXPECT_EQ (countNear (img, { 0, 0, 200, 40 }, juce::Colours::red, 10), 0);
}

//==============================================================================
// JUCE 7 has no glyph fallback: characters a face lacks must be drawn from
// another embedded face.
TEST_F (GuiFixture, EmbeddedFacesCoverTheSymbolsDrawnWithThem)
{
    auto& reg = qvn::compat::FaceRegistry::get();
    const juce::juce_wchar bullet = 0x25cf, ellipsis = 0x2026, middleDot = 0xb7, lsaquo = 0x2039, rsaquo = 0x203a,
                           fwOpen = 0xff08, fwClose = 0xff09, minus = 0x2212, kana = 0x30dc;

    EXPECT_FALSE (reg.faceHas (qvn::dinRegularTypeface().get(), bullet));
    EXPECT_TRUE (reg.faceHas (qvn::dinRegularTypeface().get(), ellipsis));
    EXPECT_TRUE (reg.faceHas (qvn::dinExpTypeface().get(), middleDot));
    EXPECT_TRUE (reg.faceHas (qvn::dinExpTypeface().get(), lsaquo));
    EXPECT_TRUE (reg.faceHas (qvn::dinExpTypeface().get(), rsaquo));
    EXPECT_FALSE (reg.faceHas (qvn::regularTypeface().get(), fwOpen));
    EXPECT_TRUE (reg.faceHas (qvn::regularTypeface().get(), bullet));
    EXPECT_TRUE (reg.faceHas (qvn::jpTypeface().get(), fwClose));
    EXPECT_FALSE (reg.faceHas (qvn::jpTypeface().get(), minus));
    EXPECT_FALSE (reg.faceHas (qvn::dinBoldTypeface().get(), kana));

    EXPECT_EQ (reg.fallbackFor (qvn::dinBoldTypeface().get(), bullet), qvn::boldTypeface().get());
    EXPECT_EQ (reg.fallbackFor (qvn::dinRegularTypeface().get(), bullet), qvn::regularTypeface().get());
    EXPECT_EQ (reg.fallbackFor (qvn::regularTypeface().get(), fwOpen), qvn::jpTypeface().get());
    EXPECT_EQ (reg.fallbackFor (qvn::jpBoldTypeface().get(), minus), qvn::boldTypeface().get());
}

// A face keeps the outline of every glyph it has drawn; the faces must go when
// the framework shuts down (a host unloading the bundle), and come back whole,
// fallbacks included, when it starts again.
TEST (EmbeddedFaces, AreReleasedAtShutdownAndMadeAfreshAfterwards)
{
    juce::Typeface::Ptr first;
    {
        juce::ScopedJuceInitialiser_GUI gui;
        FlatLookAndFeel lf;
        first = qvn::regularTypeface();
        ASSERT_NE (first, nullptr);
        juce::Image img (juce::Image::ARGB, 60, 20, true);
        juce::Graphics g (img);
        g.setFont (FlatLookAndFeel::font (12.0f));
        g.drawText ("-24 LUFS", 0, 0, 60, 20, juce::Justification::centred);
    }

    EXPECT_EQ (first->getReferenceCount(), 1) << "only this test still holds the face";
    EXPECT_TRUE (qvn::compat::FaceRegistry::get().faceHas (first.get(), 0xff08)) << "a released face is forgotten";

    juce::ScopedJuceInitialiser_GUI gui;
    auto again = qvn::regularTypeface();
    ASSERT_NE (again, nullptr);
    EXPECT_NE (again, first);
    EXPECT_EQ (qvn::compat::FaceRegistry::get().fallbackFor (again.get(), 0xff08), qvn::jpTypeface().get());
}

TEST_F (GuiFixture, TextIsSplitIntoRunsOfFacesThatHaveTheCharacters)
{
    const auto din = FlatLookAndFeel::dinFont (14.0f, juce::Font::bold);
    const auto runs = qvn::compat::splitIntoRuns (din, juce::String::fromUTF8 ("VOCAL \xe2\x97\x8f 2"));
    ASSERT_EQ (runs.size(), 3);
    EXPECT_EQ (runs[0].text, "VOCAL ");
    EXPECT_EQ (runs[1].text, juce::String::fromUTF8 ("\xe2\x97\x8f"));
    EXPECT_EQ (runs[1].font.getTypefacePtr(), qvn::boldTypeface());
    EXPECT_FLOAT_EQ (runs[1].font.getHeight(), 14.0f);
    EXPECT_EQ (runs[2].text, " 2");
    EXPECT_EQ (runs[2].font.getTypefacePtr(), qvn::dinBoldTypeface());

    EXPECT_EQ (qvn::compat::splitIntoRuns (din, "INST").size(), 1);

    const auto mono = FlatLookAndFeel::font (11.0f);
    const auto legend = qvn::compat::splitIntoRuns (mono, juce::String::fromUTF8 ("\xef\xbc\x88" "INST" "\xef\xbc\x89"));
    ASSERT_EQ (legend.size(), 3);
    EXPECT_EQ (legend[0].font.getTypefacePtr(), qvn::jpTypeface());
    EXPECT_EQ (legend[1].font.getTypefacePtr(), qvn::regularTypeface());
    EXPECT_EQ (legend[2].font.getTypefacePtr(), qvn::jpTypeface());
}

TEST_F (GuiFixture, AMissingGlyphIsDrawnFromAFallbackFace)
{
    const auto bullet = juce::String::fromUTF8 ("\xe2\x97\x8f");
    auto img = paintInto (40, 30, [&] (juce::Graphics& g)
    {
        g.setColour (juce::Colours::white);
        g.setFont (FlatLookAndFeel::dinFont (20.0f, juce::Font::plain));
        qvn::compat::drawFittedText (g, bullet, { 0, 0, 40, 30 }, juce::Justification::centred, 1);
    });
    EXPECT_GT (countNear (img, { 0, 0, 40, 30 }, juce::Colours::white, 30), 20);

    EXPECT_GT (qvn::compat::stringWidth (FlatLookAndFeel::dinFont (20.0f), bullet), 5.0f);
}

TEST_F (GuiFixture, FittedTextWithFallbackWrapsOntoSeveralLines)
{
    const auto text = juce::String::fromUTF8 ("VOCAL \xe2\x97\x8f LEAD \xe2\x97\x8f CHORUS \xe2\x97\x8f HARMONY");
    auto img = paintInto (90, 60, [&] (juce::Graphics& g)
    {
        g.setColour (juce::Colours::white);
        g.setFont (FlatLookAndFeel::dinFont (14.0f, juce::Font::bold));
        qvn::compat::drawFittedText (g, text, { 0, 0, 90, 60 }, juce::Justification::centred, 3);
    });

    // Ink in three bands of rows, all of it inside the area.
    int linesWithInk = 0;
    bool inLine = false;
    for (int y = 0; y < 60; ++y)
    {
        const bool ink = countNear (img, { 0, y, 90, 1 }, juce::Colours::white, 100) > 0;
        if (ink && ! inLine)
            ++linesWithInk;
        inLine = ink;
    }
    EXPECT_EQ (linesWithInk, 3);
}
