#include <gtest/gtest.h>

#include "tests/ui2/Ui2TestSupport.h"
#include "ui/MeterComponents.h"
#include "ui/UiTheme.h"

#include <limits>

using namespace qvn::ui2test;
using qvn_meter::MeasureState;

namespace
{
struct MeterBars : ::testing::Test
{
    juce::ScopedJuceInitialiser_GUI juceInit;
};

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

juce::StringArray labels (std::initializer_list<const char*> l)
{
    juce::StringArray a;
    for (auto* s : l)
        a.add (s);
    return a;
}

// Green channel of the row bar's fill area, sampled away from the texts and marks.
int greenAt (const juce::Image& img, int x, int y) { return img.getPixelAt (x, y).getGreen(); }
} // namespace

TEST (MeterText, ValueTexts)
{
    struct Case
    {
        float value;
        const char* text;
    } cases[] = { { -120.0f, "-inf" }, { -100.5f, "-inf" }, { -100.0f, "-100.0" }, { -18.26f, "-18.3" },
                  { -6.0f, "-6.0" },   { 0.0f, "0.0" },     { kNaN, "-inf" },     { -kInf, "-inf" } };
    for (auto& c : cases)
        EXPECT_EQ (qvn_meter::levelText (c.value), juce::String (c.text)) << c.value;
}

TEST_F (MeterBars, ColumnScaleLabelsOnTallAndShortColumns)
{
    // A 200-px component: the bar is 200 - 20 (header) - 4 = 176 px tall.
    EXPECT_EQ (qvn_meter::columnScaleLabels (22.0f, 176.0f, -36.0f, 0.0f),
               labels ({ "0", "-36", "-18", "-30", "-24", "-12", "-6" }));
    // A 60-px component: bar 36 px, 6 dB = 6 px; max and min first, then -18.
    EXPECT_EQ (qvn_meter::columnScaleLabels (22.0f, 36.0f, -36.0f, 0.0f), labels ({ "0", "-36", "-18" }));
    // A range that is not on whole numbers: ends with one decimal.
    EXPECT_EQ (qvn_meter::columnScaleLabels (22.0f, 300.0f, -29.5f, -6.0f),
               labels ({ "-6", "-29.5", "-18", "-24", "-12" }));
    // -18 close to an end is no candidate of its own.
    EXPECT_EQ (qvn_meter::columnScaleLabels (22.0f, 300.0f, -18.1f, 0.0f), labels ({ "0", "-18.1", "-12", "-6" }));
}

TEST_F (MeterBars, ColumnRangeFallsBackToDefaultScale)
{
    const auto fallback = qvn_meter::columnScaleLabels (22.0f, 176.0f, -36.0f, 0.0f);
    EXPECT_EQ (qvn_meter::columnScaleLabels (22.0f, 176.0f, -20.0f, -19.5f), fallback);
    EXPECT_EQ (qvn_meter::columnScaleLabels (22.0f, 176.0f, -kInf, 0.0f), fallback);
    EXPECT_EQ (qvn_meter::columnScaleLabels (22.0f, 176.0f, -36.0f, kNaN), fallback);
    EXPECT_EQ (qvn_meter::columnScaleLabels (22.0f, 176.0f, 0.0f, -36.0f), fallback) << "inverted";

    // The same holds for the drawing: the image of a broken range equals the default one.
    VocalMeterBar a, b;
    for (auto* bar : { &a, &b })
    {
        bar->setSize (60, 200);
        bar->setLayout (1);
        bar->setShowScale (true);
        bar->setLevels (-24.0f, -12.0f);
        bar->setIntegratedLufs (-14.0f);
    }
    b.setRange (-20.0f, -19.5f);
    EXPECT_TRUE (sameImage (render (a), render (b)));
    b.setRange (-kInf, kInf);
    EXPECT_TRUE (sameImage (render (a), render (b)));
}

TEST_F (MeterBars, ColumnValueTextShrinksThenRounds)
{
    auto wide = qvn_meter::columnValueText (-23.7f, 200.0f);
    EXPECT_EQ (wide.text, "-23.7");
    EXPECT_FLOAT_EQ (wide.fontSize, 15.0f);

    auto narrow = qvn_meter::columnValueText (-23.7f, 14.0f);
    EXPECT_EQ (narrow.text, "-24");
    EXPECT_FLOAT_EQ (narrow.fontSize, 10.0f);

    // Below size 11 the whole number takes over and the size is worked out for it.
    const float need24 = FlatLookAndFeel::font (15.0f, juce::Font::bold).getStringWidthFloat ("-24") + 4.0f;
    auto rounded = qvn_meter::columnValueText (-23.7f, 20.0f);
    EXPECT_EQ (rounded.text, "-24");
    EXPECT_NEAR (rounded.fontSize, 15.0f * 20.0f / need24, 0.001f);

    // Shrinking a little keeps the decimal.
    const float need15 = FlatLookAndFeel::font (15.0f, juce::Font::bold).getStringWidthFloat ("-23.7") + 4.0f;
    auto slight = qvn_meter::columnValueText (-23.7f, need15 * 0.9f);
    EXPECT_EQ (slight.text, "-23.7");
    EXPECT_NEAR (slight.fontSize, 13.5f, 0.01f);

    // "-inf" is never turned into a number.
    EXPECT_EQ (qvn_meter::columnValueText (-120.0f, 10.0f).text, "-inf");
    EXPECT_FLOAT_EQ (qvn_meter::columnValueText (-120.0f, 0.0f).fontSize, 10.0f);
}

TEST_F (MeterBars, HitTestHonoursInsetOnly)
{
    VocalMeterBar bar;
    bar.setSize (20, 100);
    bar.hitInset = 5;
    for (int x = -2; x < 23; ++x)
        for (int y : { -10, 0, 50, 500 })
            EXPECT_EQ (bar.hitTest (x, y), x >= 5 && x <= 14) << x << "," << y;
}

TEST_F (MeterBars, SettersReportChangesOnly)
{
    VocalMeterBar v;
    EXPECT_FALSE (v.setLevels (-120.0f, -120.0f)) << "defaults";
    EXPECT_TRUE (v.setLevels (-24.0f, -18.0f));
    EXPECT_FALSE (v.setLevels (-24.0f, -18.0f));
    EXPECT_TRUE (v.setLevels (-24.0f, -18.1f));
    EXPECT_TRUE (v.setLevels (-24.0f, kNaN));
    EXPECT_TRUE (v.setLevels (-24.0f, kNaN)) << "not-a-number always counts as a change";
    EXPECT_FALSE (v.setPeaks (-120.0f, -120.0f));
    EXPECT_TRUE (v.setPeaks (-120.0f, -3.0f));
    EXPECT_FALSE (v.setRange (-36.0f, 0.0f));
    EXPECT_TRUE (v.setRange (-36.0f, -6.0f));
    EXPECT_FALSE (v.setLabel (""));
    EXPECT_TRUE (v.setLabel ("Vocal"));
    EXPECT_FALSE (v.setLabel (juce::String ("Voc") + "al"));
    EXPECT_TRUE (v.setMeasureState (MeasureState::Measuring));
    EXPECT_FALSE (v.setMeasureState (MeasureState::Measuring));
    EXPECT_TRUE (v.setCustomFill (juce::Colour (0xff3366ff)));
    EXPECT_TRUE (v.useCustomFill) << "setting the custom fill also switches it on";
    EXPECT_FALSE (v.setCustomFill (juce::Colour (0xff3366ff)));

    InstMeterBar i;
    EXPECT_FALSE (i.setValueLufs (-120.0f));
    EXPECT_TRUE (i.setValueLufs (-20.0f));
    EXPECT_FALSE (i.setFillColour (juce::Colour (0xff8f9994)));
    EXPECT_TRUE (i.setTargetLineLufs (-18.0f));
    EXPECT_FALSE (i.setTargetLineLufs (-18.0f));
}

TEST_F (MeterBars, ClickAndHoverCallbacks)
{
    InstMeterBar bar;
    bar.setSize (40, 100);
    std::vector<bool> clicks, hovers;
    bar.onClick = [&] (bool shift) { clicks.push_back (shift); };
    bar.onHover = [&] (bool in) { hovers.push_back (in); };
    Mouse m (bar);
    m.down (10, 10);
    m.down (10, 10, juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier | juce::ModifierKeys::shiftModifier));
    bar.mouseEnter (mouseEvent (bar, { 5, 5 }, {}, { 5, 5 }));
    bar.mouseExit (mouseEvent (bar, { 50, 5 }, {}, { 50, 5 }));
    m.up (10, 10);
    EXPECT_EQ (clicks, (std::vector<bool> { false, true }));
    EXPECT_EQ (hovers, (std::vector<bool> { true, false }));

    VocalMeterBar empty; // no callbacks set
    Mouse e (empty);
    e.down (1, 1);
    empty.mouseEnter (mouseEvent (empty, { 1, 1 }, {}, { 1, 1 }));
}

//==============================================================================
TEST_F (MeterBars, JapaneseCaptionIsDrawnWithRealGlyphs)
{
    auto draw = [] (const char* utf8)
    {
        VocalMeterBar bar;
        bar.setSize (300, 40);
        bar.setLabel (juce::String::fromUTF8 (utf8));
        return render (bar);
    };
    // Swapped characters differ only when their glyphs are really drawn.
    EXPECT_GT (countDiffering (draw ("歌声"), draw ("声歌"), { 0, 0, 80, 40 }), 20);
}

TEST_F (MeterBars, RowFillFollowsLevel)
{
    InstMeterBar bar;
    bar.setSize (300, 40); // caption-free: the bar spans x 0..300, y 9..40
    // x(v) = 300 * (v + 36) / 36; sample at a quarter and at three quarters, mid-height.
    struct Case
    {
        float value;
        bool quarterFilled, threeQuartersFilled;
    } cases[] = { { -36.0f, false, false }, { -40.0f, false, false }, { -18.0f, true, false },
                  { 0.0f, true, true },     { 6.0f, true, true },     { kNaN, false, false } };
    for (auto& c : cases)
    {
        bar.setValueLufs (c.value);
        const auto img = render (bar);
        EXPECT_EQ (greenAt (img, 60, 30) > 120, c.quarterFilled) << c.value;
        EXPECT_EQ (greenAt (img, 160, 30) > 120, c.threeQuartersFilled) << c.value;
    }
}

TEST_F (MeterBars, RowLabelsOnlyAboveTallBars)
{
    InstMeterBar tall, flat;
    tall.setSize (300, 40);
    flat.setSize (300, 22);
    tall.setValueLufs (-120.0f);
    flat.setValueLufs (-120.0f);
    const auto t = render (tall), f = render (flat);
    const juce::Colour panel (0xff171c22);
    auto labelPixels = [&] (const juce::Image& img)
    {
        int n = 0;
        for (int y = 1; y < 9; ++y)
            for (int x = 0; x < img.getWidth(); ++x)
                if (img.getPixelAt (x, y).getBrightness() > panel.getBrightness() + 0.15f)
                    ++n;
        return n;
    };
    EXPECT_GT (labelPixels (t), 20) << "scale labels above a tall bar";
    // The flat bar starts at the top: its rows 1..8 hold the bar, not labels.
    EXPECT_NE (f.getPixelAt (120, 4), panel);
}

TEST_F (MeterBars, CompareBandRules)
{
    auto draw = [] (float compare, float value, MeasureState state)
    {
        VocalMeterBar bar;
        bar.setSize (300, 40);
        bar.setLevels (compare, value);
        bar.setMeasureState (state);
        return render (bar);
    };
    const auto none = draw (-200.0f, -12.0f, MeasureState::Normal);
    EXPECT_FALSE (sameImage (draw (-24.0f, -12.0f, MeasureState::Normal), none)) << "band drawn";
    EXPECT_TRUE (sameImage (draw (-150.0f, -12.0f, MeasureState::Normal), none));
    EXPECT_TRUE (sameImage (draw (-12.05f, -12.0f, MeasureState::Normal), none)) << "within 0.1";
    EXPECT_TRUE (sameImage (draw (kNaN, -12.0f, MeasureState::Normal), none));
    EXPECT_TRUE (sameImage (draw (-24.0f, -12.0f, MeasureState::Measuring), draw (-200.0f, -12.0f, MeasureState::Measuring)));
    EXPECT_TRUE (sameImage (draw (-24.0f, -12.0f, MeasureState::Skipped), draw (-200.0f, -12.0f, MeasureState::Skipped)));
}

TEST_F (MeterBars, TargetLineRules)
{
    auto draw = [] (int layout, float integrated, float target)
    {
        InstMeterBar bar;
        bar.setSize (layout == 1 ? 60 : 300, layout == 1 ? 200 : 40);
        bar.setLayout (layout);
        bar.setValueLufs (-20.0f);
        bar.setIntegratedLufs (integrated);
        bar.setTargetLineLufs (target);
        return render (bar);
    };
    for (int layout : { 0, 1 })
    {
        const auto noTarget = draw (layout, -16.0f, -200.0f);
        EXPECT_FALSE (sameImage (draw (layout, -16.0f, -10.0f), noTarget)) << layout;
        EXPECT_TRUE (sameImage (draw (layout, -16.0f, -16.05f), noTarget)) << layout;
        EXPECT_TRUE (sameImage (draw (layout, -16.0f, -119.5f), noTarget)) << layout;
    }

    // A Vocal bar never shows the target line.
    VocalMeterBar a, b;
    for (auto* bar : { &a, &b })
    {
        bar->setSize (300, 40);
        bar->setLevels (-200.0f, -20.0f);
    }
    b.setTargetLineLufs (-10.0f);
    EXPECT_TRUE (sameImage (render (a), render (b)));
}

TEST_F (MeterBars, ColumnWidthAndFill)
{
    InstMeterBar bar;
    bar.setSize (100, 200);
    bar.setLayout (1);
    bar.setValueLufs (0.0f);
    bar.setFillColour (juce::Colour (0xffff0000));
    auto redColumns = [&]
    {
        const auto img = render (bar);
        int n = 0;
        for (int x = 0; x < img.getWidth(); ++x)
        {
            const auto c = img.getPixelAt (x, 150);
            if (c.getRed() > 150 && c.getGreen() < 80)
                ++n;
        }
        return n;
    };
    EXPECT_EQ (redColumns(), 28) << "columnWidth 0 gives a 30-px column, the bar 2 px narrower";
    bar.setColumnWidth (kNaN);
    EXPECT_EQ (redColumns(), 28);
    bar.setColumnWidth (50.0f);
    EXPECT_EQ (redColumns(), 48);
    bar.setColumnWidth (500.0f);
    EXPECT_EQ (redColumns(), 98) << "cut to the area's width";
    bar.setValueLufs (-36.0f);
    EXPECT_EQ (redColumns(), 0);
}

TEST_F (MeterBars, BadInputDrawsSafely)
{
    const float values[] = { kNaN, kInf, -kInf, -1.0e30f, 1.0e30f, -120.0f, 0.0f };
    for (int layout : { 0, 1 })
        for (auto w : { 0, 1, 3, 40, 300 })
            for (auto h : { 0, 1, 5, 23, 200 })
                for (auto v : values)
                {
                    VocalMeterBar vb;
                    InstMeterBar ib;
                    vb.setSize (w, h);
                    ib.setSize (w, h);
                    vb.setLayout (layout);
                    ib.setLayout (layout);
                    vb.setShowScale (true);
                    ib.setShowScale (true);
                    vb.setLevels (v, v);
                    ib.setValueLufs (v);
                    for (MeterBarBase* b : { (MeterBarBase*) &vb, (MeterBarBase*) &ib })
                    {
                        b->setIntegratedLufs (v);
                        b->setTargetLineLufs (v);
                        b->setPeaks (v, v);
                        b->setColumnWidth (v);
                        b->setRange (-v, v);
                        b->setLabel ("Vocal 2");
                        b->setMarkerText ("T");
                        b->setMeasureState (MeasureState::Skipped);
                        juce::Image img (juce::Image::ARGB, std::max (w, 1), std::max (h, 1), true);
                        juce::Graphics g (img);
                        b->paint (g);
                    }
                }

    // A huge but finite range is bounded work: no tick per 6 dB over 1e30 dB.
    VocalMeterBar huge;
    huge.setSize (60, 300);
    huge.setLayout (1);
    huge.setShowScale (true);
    huge.setRange (-1.0e30f, 1.0e30f);
    huge.setLevels (-10.0f, 0.0f);
    render (huge);
    EXPECT_EQ (qvn_meter::columnScaleLabels (0.0f, 300.0f, -1.0e30f, 1.0e30f).size(), 3) << "max, min and -18 only";
}
