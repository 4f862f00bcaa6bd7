#include <gtest/gtest.h>

#include "tests/ui2/Ui2TestSupport.h"
#include "ui/LearnHistoryChart.h"
#include "ui/UiTheme.h"

#include <cmath>
#include <limits>
#include <set>

using namespace qvn::ui2test;

namespace
{
struct LearnHistory : ::testing::Test
{
    juce::ScopedJuceInitialiser_GUI juceInit;
};

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// A chart whose plot spans x 16..316 (pw 300), with an n-point series.
struct Chart
{
    LearnHistoryChart chart;
    std::vector<std::pair<float, float>> trims;
    int pillClicks = 0;

    explicit Chart (int n = 100)
    {
        chart.setSize (332, 200);
        for (int i = 0; i < n; ++i)
            chart.push (-20.0f + 4.0f * std::sin ((float) i * 0.3f), -18.0f, i % 10 == 0);
        chart.lengthSeconds = (float) n * 0.4f;
        chart.trimEditable = true;
        chart.onTrimChanged = [this] (float s, float e) { trims.push_back ({ s, e }); };
        chart.onRangePillClicked = [this] { ++pillClicks; };
    }
};

constexpr float plotMidY = 100.0f;
} // namespace

TEST_F (LearnHistory, PressBetweenHandlesPicksByDistance)
{
    Chart c;
    Mouse m (c.chart);
    c.chart.trimStart = 0.5f; // xS = 166
    c.chart.trimEnd = 0.52f;  // xE = 172, 6 px apart

    m.down (169.0f, plotMidY); // exactly halfway: the start handle
    EXPECT_EQ (c.chart.dragMode, 1);
    m.up (169.0f, plotMidY);
    m.down (169.5f, plotMidY); // end handle strictly nearer
    EXPECT_EQ (c.chart.dragMode, 2);
    m.up (169.5f, plotMidY);
    m.down (158.0f, plotMidY); // 8 px from the start handle: near
    EXPECT_EQ (c.chart.dragMode, 1);
    m.up (158.0f, plotMidY);

    c.chart.trimEnd = 0.56f; // xE = 184
    c.trims.clear();
    m.down (175.0f, plotMidY); // 9 px from both
    EXPECT_EQ (c.chart.dragMode, 0);
    m.drag (250.0f, plotMidY);
    m.up (250.0f, plotMidY);
    EXPECT_TRUE (c.trims.empty());
    EXPECT_FLOAT_EQ (c.chart.trimStart, 0.5f);
    EXPECT_FLOAT_EQ (c.chart.trimEnd, 0.56f);
}

TEST_F (LearnHistory, HandlesIgnoredWhenNotEditableOrEmpty)
{
    Chart c;
    Mouse m (c.chart);
    c.chart.trimEditable = false;
    m.down (16.0f, plotMidY);
    EXPECT_EQ (c.chart.dragMode, 0);

    Chart empty (0);
    Mouse e (empty.chart);
    e.down (16.0f, plotMidY);
    EXPECT_EQ (empty.chart.dragMode, 0);
    e.up (16.0f, plotMidY);
    EXPECT_TRUE (empty.trims.empty());
}

TEST_F (LearnHistory, DragLimitsAndReportOnRelease)
{
    Chart c; // N = 100: a handle stops 0.01 before the other
    Mouse m (c.chart);
    c.chart.trimStart = 0.25f; // xS = 91
    c.chart.trimEnd = 0.75f;   // xE = 241

    m.down (91.0f, plotMidY);
    ASSERT_EQ (c.chart.dragMode, 1);
    m.drag (400.0f, plotMidY); // past the end handle and beyond the plot
    EXPECT_FLOAT_EQ (c.chart.trimStart, 0.74f);
    EXPECT_TRUE (c.trims.empty()) << "no callback during the drag";
    m.drag (-50.0f, plotMidY); // beyond the left edge
    EXPECT_FLOAT_EQ (c.chart.trimStart, 0.0f);
    m.drag (46.0f, plotMidY); // (46 - 16) / 300 = 0.1
    m.up (46.0f, plotMidY);
    ASSERT_EQ (c.trims.size(), 1u);
    EXPECT_FLOAT_EQ (c.trims[0].first, 0.1f);
    EXPECT_FLOAT_EQ (c.trims[0].second, 0.75f);
    EXPECT_EQ (c.chart.dragMode, 0);

    m.down (241.0f, plotMidY);
    ASSERT_EQ (c.chart.dragMode, 2);
    m.drag (0.0f, plotMidY);
    EXPECT_FLOAT_EQ (c.chart.trimEnd, 0.11f);
    m.drag (999.0f, plotMidY);
    EXPECT_FLOAT_EQ (c.chart.trimEnd, 1.0f);
    m.up (999.0f, plotMidY);
    ASSERT_EQ (c.trims.size(), 2u);
    EXPECT_FLOAT_EQ (c.trims[1].second, 1.0f);

    // The longer of the two series sets the step.
    c.chart.historyData.partnerSeries.resize (1000, -20.0f);
    m.down (316.0f, plotMidY);
    m.drag (0.0f, plotMidY);
    EXPECT_FLOAT_EQ (c.chart.trimEnd, 0.101f);
    m.up (0.0f, plotMidY);
}

TEST_F (LearnHistory, PressAndReleaseWithoutMovingStillReports)
{
    Chart c;
    Mouse m (c.chart);
    c.chart.trimStart = 0.2f;
    c.chart.trimEnd = 0.8f;
    m.down (76.0f, plotMidY);
    m.up (76.0f, plotMidY);
    ASSERT_EQ (c.trims.size(), 1u);
    EXPECT_FLOAT_EQ (c.trims[0].first, 0.2f);
    EXPECT_FLOAT_EQ (c.trims[0].second, 0.8f);
}

TEST_F (LearnHistory, RangePillClickRules)
{
    Chart c;
    Mouse m (c.chart);
    const auto pill = c.chart.computeHeaderLayout().pill;
    ASSERT_FALSE (pill.isEmpty());
    const auto centre = pill.getCentre().toFloat();

    m.down (centre.x, centre.y);
    EXPECT_EQ (c.chart.dragMode, 0);
    m.up (centre.x, centre.y);
    EXPECT_EQ (c.pillClicks, 1);

    m.down (150.0f, plotMidY); // not near a handle, ends on the pill
    m.up (centre.x, centre.y);
    EXPECT_EQ (c.pillClicks, 2);

    m.down (centre.x, centre.y); // starts on the pill, ends elsewhere
    m.up (150.0f, plotMidY);
    EXPECT_EQ (c.pillClicks, 2);

    // Hover follows the pill, right and bottom edges excluded.
    m.move (centre.x, centre.y);
    EXPECT_TRUE (c.chart.pillHover);
    EXPECT_EQ (c.chart.getTooltip(), "Change the displayed LUFS range");
    m.move ((float) pill.getRight(), centre.y);
    EXPECT_FALSE (c.chart.pillHover);
    EXPECT_TRUE (c.chart.getTooltip().isEmpty());
    m.move (centre.x, centre.y);
    c.chart.mouseExit (mouseEvent (c.chart, { 0, 0 }, {}, { 0, 0 }));
    EXPECT_FALSE (c.chart.pillHover);
}

TEST_F (LearnHistory, FooterTexts)
{
    LearnHistoryChart chart;
    chart.lengthSeconds = 12.0f;
    chart.trimStart = 0.25f;
    chart.trimEnd = 0.75f;
    EXPECT_EQ (chart.footerTexts(), juce::StringArray ({ "Start 3.0s", "Length 6.0s", "End 9.0s" }));

    chart.trimStart = 0.9f; // out of order: the length does not go negative
    chart.trimEnd = 0.5f;
    EXPECT_EQ (chart.footerTexts()[1], "Length 0.0s");
    chart.trimStart = -1.0f;
    chart.trimEnd = 2.0f;
    EXPECT_EQ (chart.footerTexts(), juce::StringArray ({ "Start 0.0s", "Length 12.0s", "End 12.0s" }));
    chart.lengthSeconds = kNaN;
    EXPECT_EQ (chart.footerTexts()[2], "End 0.0s");
}

TEST_F (LearnHistory, RangeStrings)
{
    LearnHistoryChart chart;
    EXPECT_EQ (chart.rangeStringFull(), "RANGE -30 TO -6");
    EXPECT_EQ (chart.rangeStringMin(), "RANGE -30..-6");
    chart.displayMinLufs = -29.5f;
    EXPECT_EQ (chart.rangeStringMin(), "RANGE -29.5..-6");
    chart.displayMinLufs = -35.97f;
    chart.displayMaxLufs = -0.04f;
    EXPECT_EQ (chart.rangeStringFull(), "RANGE -36 TO 0");
}

TEST_F (LearnHistory, HeaderFallsBackOnNarrowCharts)
{
    LearnHistoryChart chart;
    chart.showGainCurve = true;

    // Walking from wide to narrow, the candidates appear in order and never come back.
    juce::StringArray seen;
    for (int w = 900; w >= 100; --w)
    {
        chart.setSize (w, 200);
        const auto hl = chart.computeHeaderLayout();
        const auto key = hl.gainLabel + "|" + hl.rangeText;
        if (seen.isEmpty() || seen[seen.size() - 1] != key)
            seen.add (key);
        EXPECT_LE (std::abs (hl.pill.getRight() - (w - 16)), 1) << w;
        EXPECT_EQ (hl.pill.getY(), 8);
        EXPECT_EQ (hl.pill.getHeight(), 16);
    }
    EXPECT_EQ (seen, juce::StringArray ({ "VOCAL+TOTAL GAIN|RANGE -30 TO -6", "VOCAL+TOTAL|RANGE -30 TO -6",
                                          "VOCAL+TOTAL|RANGE -30..-6" }));

    // Where the first candidate stops fitting, its legend would reach into the title.
    const float titleEnd = FlatLookAndFeel::font (16.0f, juce::Font::bold).getStringWidthFloat ("LEARN HISTORY") + 28.0f;
    for (int w = 900; w >= 100; --w)
    {
        chart.setSize (w, 200);
        const auto hl = chart.computeHeaderLayout();
        if (hl.gainLabel == "VOCAL+TOTAL GAIN")
            EXPECT_GE (hl.legendX, titleEnd) << w;
    }

    // The INST view without the gain curve always shows the full range text.
    chart.instView = true;
    chart.showGainCurve = false;
    chart.showTargetLine = true;
    for (int w : { 900, 300, 120, 0 })
    {
        chart.setSize (w, 200);
        EXPECT_EQ (chart.computeHeaderLayout().rangeText, "RANGE -30 TO -6") << w;
        EXPECT_TRUE (chart.computeHeaderLayout().gainLabel.isEmpty());
    }
}

TEST_F (LearnHistory, PushClampsLevels)
{
    LearnHistoryChart chart;
    chart.push (-130.0f, 3.0f, true);
    chart.push (kNaN, -50.0f, false);
    EXPECT_EQ (chart.historyData.selfSeries, (std::vector<float> { -100.0f, -100.0f }));
    EXPECT_EQ (chart.historyData.partnerSeries, (std::vector<float> { 0.0f, -50.0f }));
    EXPECT_EQ (chart.historyData.belowGate, (std::vector<bool> { true, false }));
}

TEST_F (LearnHistory, MakePathPlacesPointsOnThePlot)
{
    LearnHistoryChart chart; // range -30..-6
    const juce::Rectangle<float> r (16.0f, 34.0f, 300.0f, 120.0f);
    EXPECT_TRUE (chart.makePath ({}, r).isEmpty());
    const auto p = chart.makePath ({ -30.0f, -18.0f, -6.0f, 10.0f }, r);
    const auto b = p.getBounds();
    EXPECT_FLOAT_EQ (b.getX(), 16.0f);
    EXPECT_FLOAT_EQ (b.getRight(), 316.0f);
    EXPECT_FLOAT_EQ (b.getY(), 34.0f) << "clamped to the top";
    EXPECT_FLOAT_EQ (b.getBottom(), 154.0f);
}

TEST_F (LearnHistory, DrawingRules)
{
    auto draw = [] (std::function<void (LearnHistoryChart&)> setup)
    {
        LearnHistoryChart chart;
        chart.setSize (400, 220);
        setup (chart);
        return render (chart);
    };

    // A target line at exactly the top of the range is not drawn.
    const auto plain = draw ([] (LearnHistoryChart&) {});
    EXPECT_TRUE (sameImage (draw ([] (LearnHistoryChart& c) { c.showTargetLine = true; c.targetLineLufs = -6.0f; }), plain));
    EXPECT_FALSE (sameImage (draw ([] (LearnHistoryChart& c) { c.showTargetLine = true; c.targetLineLufs = -18.0f; }), plain));

    // A single point draws no curve and no fill: away from the handles and the
    // footer, the plot looks as it does without data.
    const auto one = draw ([] (LearnHistoryChart& c) { c.push (-12.0f, -14.0f, false); c.lengthSeconds = 0.4f; });
    const juce::Rectangle<int> plotInterior (40, 40, 320, 130);
    EXPECT_EQ (countDiffering (one, plain, plotInterior), 0);
    EXPECT_GT (countDiffering (one, plain, { 0, 196, 400, 24 }), 0) << "footer shown";
    EXPECT_GT (countDiffering (one, plain, { 12, 30, 8, 150 }), 0) << "start handle shown";

    // Two points do draw a curve.
    const auto two = draw ([] (LearnHistoryChart& c) { c.push (-12.0f, -14.0f, false); c.push (-13.0f, -14.0f, false); });
    EXPECT_GT (countDiffering (two, plain, plotInterior), 0);

    // A Japanese placeholder is drawn with real glyphs: two different
    // characters in swapped order give different images (missing glyphs would
    // draw as identical boxes or not at all).
    const auto ab = draw ([] (LearnHistoryChart& c) { c.emptyText = juce::String::fromUTF8 ("測定"); });
    const auto ba = draw ([] (LearnHistoryChart& c) { c.emptyText = juce::String::fromUTF8 ("定測"); });
    EXPECT_GT (countDiffering (ab, ba, plotInterior), 20);

    // The empty text shows only while there is no data.
    const auto withText = draw ([] (LearnHistoryChart& c) { c.emptyText = "No measurement yet"; });
    EXPECT_GT (countDiffering (withText, plain, plotInterior), 0);
}

namespace
{
// Columns (or rows) of the plot interior where two renders differ.
std::set<int> differingLines (const juce::Image& a, const juce::Image& b, juce::Rectangle<int> area, bool columns)
{
    std::set<int> lines;
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            if (a.getPixelAt (x, y) != b.getPixelAt (x, y))
                lines.insert (columns ? x : y);
    return lines;
}

std::set<int> differingColumns (const juce::Image& a, const juce::Image& b, juce::Rectangle<int> area)
{
    return differingLines (a, b, area, true);
}

std::set<int> differingRows (const juce::Image& a, const juce::Image& b, juce::Rectangle<int> area)
{
    return differingLines (a, b, area, false);
}

bool allNear (const std::set<int>& got, std::initializer_list<int> centres)
{
    for (int v : got)
    {
        bool near = false;
        for (int c : centres)
            near = near || std::abs (v - c) <= 1;
        if (! near)
            return false;
    }
    for (int c : centres)
        if (got.count (c - 1) + got.count (c) + got.count (c + 1) == 0)
            return false;
    return true;
}
} // namespace

TEST_F (LearnHistory, TimeGridEveryFiveSeconds)
{
    // Plot x 16..316; a flat series at the bottom keeps the interior clear.
    // The odd lines are very faint (white at alpha 0x06, 0.6 px): rendered at
    // four times the size so that they change whole pixels.
    auto draw = [] (float length)
    {
        LearnHistoryChart chart;
        chart.setSize (332, 200);
        chart.push (-100.0f, -100.0f, false);
        chart.push (-100.0f, -100.0f, false);
        chart.lengthSeconds = length;
        return chart.createComponentSnapshot (chart.getLocalBounds(), true, 4.0f);
    };
    const auto none = draw (0.05f);
    const juce::Rectangle<int> interior (80, 160, 1168, 440);
    EXPECT_TRUE (allNear (differingColumns (draw (12.0f), none, interior), { 4 * 141 - 1, 4 * 141, 4 * 266 - 1, 4 * 266 }))
        << "lines at 5 s and 10 s";
    EXPECT_TRUE (differingColumns (draw (4.9f), none, interior).empty());
}

TEST_F (LearnHistory, LevelGridOnMultiplesOfSix)
{
    // Range -30..-6 on a plot from y 34 to 166: lines at -24, -18 and -12 only.
    auto draw = [] (float lo, float hi)
    {
        LearnHistoryChart chart;
        chart.setSize (332, 200);
        chart.displayMinLufs = lo;
        chart.displayMaxLufs = hi;
        return render (chart);
    };
    const auto noGrid = draw (-29.0f, -25.0f);
    const juce::Rectangle<int> interior (20, 36, 292, 128);
    EXPECT_TRUE (allNear (differingRows (draw (-30.0f, -6.0f), noGrid, interior), { 67, 100, 133 }));
}

TEST_F (LearnHistory, DenseHistoryLooksLikeItsSparseTwin)
{
    // A flat series drawn point by point (200 points) and per pixel column
    // (20,000 points): the same line, kept and excluded parts, gated stretch.
    auto draw = [] (int n)
    {
        LearnHistoryChart chart;
        chart.setSize (332, 200); // plot x 16..316, y 34..166; -18 lies at y 100
        for (int i = 0; i < n; ++i)
            chart.push (-18.0f, -100.0f, i >= n * 9 / 10);
        chart.trimStart = 0.25f;
        chart.trimEnd = 0.75f;
        return render (chart);
    };
    const auto sparse = draw (200), dense = draw (20000);
    auto near = [] (juce::Colour a, juce::uint32 expected)
    {
        const juce::Colour e (expected);
        return std::abs (a.getRed() - e.getRed()) < 40 && std::abs (a.getGreen() - e.getGreen()) < 40
               && std::abs (a.getBlue() - e.getBlue()) < 40;
    };
    for (auto* img : { &sparse, &dense })
    {
        EXPECT_TRUE (near (img->getPixelAt (166, 100), 0xff78ffd6)) << "kept";
        EXPECT_TRUE (near (img->getPixelAt (46, 100), 0xff3e846f)) << "excluded";
        EXPECT_FALSE (near (img->getPixelAt (166, 110), 0xff78ffd6)) << "a thin line, not a band";
    }
    // The gated tail (last tenth, x > 286) is drawn faint in both.
    EXPECT_LT (sparse.getPixelAt (300, 100).getGreen(), 200);
    EXPECT_LT (dense.getPixelAt (300, 100).getGreen(), 200);
    EXPECT_LT (countDiffering (sparse, dense, { 20, 36, 292, 128 }), 292 * 6) << "same picture up to anti-aliasing";
}

TEST_F (LearnHistory, BadInputAndHugeHistoriesDrawSafely)
{
    for (auto size : { juce::Point<int> (0, 0), { 1, 1 }, { 20, 10 }, { 40, 300 }, { 600, 20 } })
    {
        LearnHistoryChart chart;
        chart.setSize (size.x, size.y);
        chart.push (-20.0f, -20.0f, false);
        chart.push (-10.0f, -20.0f, false);
        chart.trimEditable = true;
        juce::Image img (juce::Image::ARGB, std::max (1, size.x), std::max (1, size.y), true);
        juce::Graphics g (img);
        chart.paint (g);
        Mouse m (chart);
        m.move (0.0f, 0.0f);
        m.down (0.0f, 0.0f);
        m.drag (5.0f, 0.0f);
        m.up (5.0f, 0.0f);
    }

    LearnHistoryChart chart;
    chart.setSize (600, 240);
    chart.historyData.selfSeries = { kNaN, std::numeric_limits<float>::infinity(), -1.0e30f, -20.0f };
    chart.historyData.partnerSeries = { -20.0f }; // lengths need not match
    chart.historyData.belowGate = {};
    chart.lengthSeconds = 1.0e30f;
    chart.trimStart = kNaN;
    chart.trimEnd = -3.0f;
    chart.displayMinLufs = -6.0f; // inverted range
    chart.displayMaxLufs = -30.0f;
    chart.totalGainDb = kNaN;
    chart.showGainCurve = true;
    chart.showTargetLine = true;
    render (chart);
    chart.displayMinLufs = -1.0e30f;
    chart.displayMaxLufs = 1.0e30f;
    render (chart);

    // Ten hours of 100 ms blocks with gate flags and a trim range.
    LearnHistoryChart big;
    big.setSize (700, 260);
    const int n = 10 * 3600 * 10;
    big.historyData.selfSeries.reserve ((size_t) n);
    for (int i = 0; i < n; ++i)
    {
        big.historyData.selfSeries.push_back (-20.0f + 6.0f * std::sin ((float) i * 0.01f));
        big.historyData.partnerSeries.push_back (-18.0f);
        big.historyData.belowGate.push_back ((i / 50) % 7 == 0);
    }
    big.lengthSeconds = (float) n * 0.1f;
    big.trimStart = 0.1f;
    big.trimEnd = 0.9f;
    big.showGainCurve = true;
    big.totalGainDb = 3.0f;
    const auto img = render (big);
    EXPECT_EQ (img.getWidth(), 700);
}
