#include <gtest/gtest.h>

#include "ui/UiTheme.h"
#include "UiTestUtils.h"

// Reads the images the gallery wrote and the probes each page left beside
// them: exact colours where the theme fixes them, ink where text or strokes
// must be, and Japanese text drawn in the Japanese face at its size.

namespace
{
struct Shot
{
    juce::File json;
    juce::var meta;
    juce::Image image;
};

std::vector<Shot> loadShots()
{
    std::vector<Shot> shots;
    const juce::File dir (QVN_GALLERY_DIR);

    for (auto& f : dir.findChildFiles (juce::File::findFiles, false, "*.json"))
    {
        Shot s;
        s.json = f;
        s.meta = juce::JSON::parse (f);
        s.image = juce::ImageFileFormat::loadFrom (dir.getChildFile (s.meta["image"].toString()));
        shots.push_back (s);
    }

    std::sort (shots.begin(), shots.end(), [] (auto& a, auto& b) { return a.json.getFileName() < b.json.getFileName(); });
    return shots;
}

juce::Rectangle<int> probeArea (const juce::var& p)
{
    return { (int) p["x"], (int) p["y"], (int) p["w"], (int) p["h"] };
}

juce::Colour probeColour (const juce::var& p)
{
    return juce::Colour ((juce::uint32) p["colour"].toString().getHexValue64());
}

using qvn::uitest::channelDistance;

/** Bounding box of the pixels that differ clearly from the background. */
juce::Rectangle<int> inkBounds (const juce::Image& img, juce::Rectangle<int> area, juce::Colour background, int threshold, int& count)
{
    area = area.getIntersection (img.getBounds());
    int x0 = INT_MAX, y0 = INT_MAX, x1 = INT_MIN, y1 = INT_MIN;
    count = 0;

    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            if (channelDistance (img.getPixelAt (x, y), background) > threshold)
            {
                ++count;
                x0 = juce::jmin (x0, x); x1 = juce::jmax (x1, x);
                y0 = juce::jmin (y0, y); y1 = juce::jmax (y1, y);
            }

    return count == 0 ? juce::Rectangle<int>() : juce::Rectangle<int> (x0, y0, x1 - x0 + 1, y1 - y0 + 1);
}

juce::Font faceFont (const juce::String& face, bool bold, float height)
{
    if (face == "IBM Plex Sans JP")
        return bold ? FlatLookAndFeel::jpBoldFont (height) : FlatLookAndFeel::jpFont (height);
    if (face == "D-DIN Exp")
        return FlatLookAndFeel::dinExpFont (height);
    if (face == "D-DIN")
        return FlatLookAndFeel::dinFont (height, bold ? juce::Font::bold : juce::Font::plain);
    return FlatLookAndFeel::font (height, bold ? juce::Font::bold : juce::Font::plain);
}

juce::Rectangle<float> glyphBounds (const juce::Font& f, const juce::String& text)
{
    juce::GlyphArrangement ga;
    ga.addLineOfText (f, text, 0.0f, 0.0f);
    juce::Path outlines;
    ga.createPath (outlines);
    return outlines.getBounds();
}

struct GalleryChecks : ::testing::Test
{
    juce::ScopedJuceInitialiser_GUI gui;
    std::vector<Shot> shots = loadShots();

    // Calls check (shot, probe) for every probe of the kind in every shot, up
    // to the first fatal failure; returns how many it checked.
    template <typename Check>
    int forEachProbe (const juce::String& kind, Check&& check)
    {
        int checked = 0;

        for (auto& s : shots)
            for (auto& p : *s.meta["probes"].getArray())
            {
                if (p["kind"].toString() != kind)
                    continue;

                check (s, p);
                ++checked;

                if (HasFatalFailure())
                    return checked;
            }

        return checked;
    }
};
} // namespace

TEST_F (GalleryChecks, EveryPageIsWrittenInBothLanguagesAtBothScales)
{
    ASSERT_FALSE (shots.empty()) << "no gallery output in " << QVN_GALLERY_DIR;
    std::map<juce::String, std::map<juce::String, juce::Image>> byPage;

    for (auto& s : shots)
    {
        SCOPED_TRACE (s.json.getFileName());
        ASSERT_TRUE (s.image.isValid());
        byPage[s.meta["page"].toString()][s.meta["language"].toString() + juce::String ((double) s.meta["scale"], 0)] = s.image;
    }

    for (auto& [page, images] : byPage)
    {
        SCOPED_TRACE (page);
        ASSERT_EQ (images.size(), 4u);
        for (auto lang : { "en", "ja" })
        {
            const auto& one = images[juce::String (lang) + "1"];
            const auto& two = images[juce::String (lang) + "2"];
            EXPECT_EQ (two.getWidth(), 2 * one.getWidth());
            EXPECT_EQ (two.getHeight(), 2 * one.getHeight());
        }
    }
}

TEST_F (GalleryChecks, ColourProbesShowTheThemeColours)
{
    const int checked = forEachProbe ("colour", [] (const Shot& s, const juce::var& p)
    {
        const auto area = probeArea (p);
        const auto centre = area.getCentre();
        const auto actual = s.image.getPixelAt (centre.x, centre.y);
        const auto expected = probeColour (p);
        EXPECT_LE (channelDistance (actual, expected), 1)
            << s.json.getFileName() << ": " << p["name"].toString() << " at " << centre.x << "," << centre.y
            << " is " << actual.toDisplayString (true) << ", expected " << expected.toDisplayString (true);
    });

    EXPECT_GT (checked, 40);
}

TEST_F (GalleryChecks, TextAndStrokesLeaveInk)
{
    const int checked = forEachProbe ("ink", [] (const Shot& s, const juce::var& p)
    {
        const float scale = (float) (double) s.meta["scale"];
        int count = 0;
        inkBounds (s.image, probeArea (p), probeColour (p), 40, count);
        EXPECT_GT (count, (int) (6 * scale * scale)) << s.json.getFileName() << ": " << p["name"].toString();
    });

    EXPECT_GT (checked, 20);
}

// Japanese text drawn in the Japanese face at its size: the inked extent
// matches the glyph outlines of that face, and not of the Latin face at the
// size it would replace.
TEST_F (GalleryChecks, JapaneseTextIsDrawnWithTheJapaneseFace)
{
    const int checked = forEachProbe ("face", [] (const Shot& s, const juce::var& p)
    {
        SCOPED_TRACE (s.json.getFileName() + ": " + p["name"].toString());
        const auto text = p["text"].toString();
        const float height = (float) (double) p["fontHeight"];
        const auto expected = glyphBounds (faceFont (p["face"].toString(), (bool) p["bold"], height), text);

        int count = 0;
        const auto ink = inkBounds (s.image, probeArea (p), probeColour (p), 60, count);
        ASSERT_GT (count, 0);

        EXPECT_NEAR ((float) ink.getWidth(), expected.getWidth(), 2.0f + 0.04f * expected.getWidth());
        EXPECT_NEAR ((float) ink.getHeight(), expected.getHeight(), 2.0f + 0.08f * expected.getHeight());
    });

    if (HasFatalFailure())
        return;

    EXPECT_GE (checked, 8);
}
