#include "ui/LearnHistoryChart.h"
#include "ui/ChartHelpers.h"
#include "ui/JuceCompat.h"
#include "ui/UiTheme.h"

#include <array>
#include <cmath>
#include <limits>

namespace
{
constexpr juce::uint32 kMuted = 0xff7e7f83;

using qvn::chart::clamp01;
using qvn::chart::clampf;
using qvn::chart::monoFont;
using qvn::chart::multiplesOfSixBetween;

// The legend's full-width brackets are not in the monospace face; the
// framework draws nothing for a missing glyph, so they come from the Japanese
// face, which has them.
juce::Font bracketFont() { return FlatLookAndFeel::jpBoldFont (11.0f); }

const juce::String& openBracket()
{
    static const juce::String s = juce::String::charToString ((juce::juce_wchar) 0xff08);
    return s;
}

const juce::String& closeBracket()
{
    static const juce::String s = juce::String::charToString ((juce::juce_wchar) 0xff09);
    return s;
}

juce::String wholeOrOneDecimal (float v)
{
    const double r = std::round ((double) v);
    if (std::isfinite (r) && std::abs ((double) v - r) < 0.05 && std::abs (r) < 1.0e15)
        return juce::String ((juce::int64) r);
    return juce::String (v, 1);
}

juce::Rectangle<int> roundedRect (float x, float y, float w, float h)
{
    return { juce::roundToInt (x), juce::roundToInt (y), juce::roundToInt (w), juce::roundToInt (h) };
}

// A series with more points than twice the plot's pixel columns is drawn as
// an envelope: per pixel column and point class the lowest and highest level,
// filled as a band as wide as the line would be. Stroking every point (or a
// min/max zigzag) would cost time in proportion to hours of history for
// nothing that a pixel can show.
struct DenseColumns
{
    static constexpr int kClasses = 3;
    std::vector<float> x;
    std::vector<std::array<float, kClasses>> lo, hi; // levels; lo > hi where the class is absent
};

bool isDense (size_t n, float pw) noexcept
{
    return (double) n > 2.0 * std::max (1.0, std::ceil ((double) pw));
}

template <typename ClassOf>
DenseColumns denseColumns (const std::vector<float>& series, float plotX, float pw, float offset, ClassOf&& classOf)
{
    DenseColumns d;
    const int n = (int) series.size();
    const int columns = std::max (1, (int) std::ceil (pw));
    d.x.resize ((size_t) columns);
    std::array<float, DenseColumns::kClasses> none;
    none.fill (std::numeric_limits<float>::infinity());
    d.lo.assign ((size_t) columns, none);
    none.fill (-std::numeric_limits<float>::infinity());
    d.hi.assign ((size_t) columns, none);
    for (int c = 0; c < columns; ++c)
        d.x[(size_t) c] = plotX + std::min (pw, (float) c + 0.5f);
    d.x.front() = plotX;
    d.x.back() = plotX + pw;

    const double scale = (double) columns / (double) std::max (n - 1, 1);
    for (int i = 0; i < n; ++i)
    {
        const int c = std::min (columns - 1, (int) ((double) i * scale));
        const float v = series[(size_t) i] + offset;
        const int k = classOf (i);
        auto& lo = d.lo[(size_t) c][(size_t) k];
        auto& hi = d.hi[(size_t) c][(size_t) k];
        if (! std::isnan (v))
        {
            lo = std::min (lo, v);
            hi = std::max (hi, v);
        }
        else
        {
            // Drawn at the bottom, as a single point would be.
            lo = std::min (lo, -std::numeric_limits<float>::max());
            hi = std::max (hi, -std::numeric_limits<float>::max());
        }
    }
    return d;
}

// The band of one point class: upper edge along the highest levels, lower edge
// back along the lowest, widened by the line thickness; one closed piece per
// stretch of columns holding that class.
template <typename LevelToY>
juce::Path envelopePath (const DenseColumns& d, int k, float thickness, LevelToY&& yOf)
{
    juce::Path p;
    const int columns = (int) d.x.size();
    const float half = thickness * 0.5f;
    int c = 0;
    while (c < columns)
    {
        if (d.lo[(size_t) c][(size_t) k] > d.hi[(size_t) c][(size_t) k])
        {
            ++c;
            continue;
        }
        int e = c;
        while (e + 1 < columns && d.lo[(size_t) e + 1][(size_t) k] <= d.hi[(size_t) e + 1][(size_t) k])
            ++e;
        const float x0 = d.x[(size_t) c] - (c == e ? half : 0.0f);
        const float x1 = d.x[(size_t) e] + (c == e ? half : 0.0f);
        p.startNewSubPath (x0, yOf (d.hi[(size_t) c][(size_t) k]) - half);
        for (int j = c; j <= e; ++j)
            p.lineTo (j == c ? x0 : (j == e ? x1 : d.x[(size_t) j]), yOf (d.hi[(size_t) j][(size_t) k]) - half);
        for (int j = e; j >= c; --j)
            p.lineTo (j == c ? x0 : (j == e ? x1 : d.x[(size_t) j]), yOf (d.lo[(size_t) j][(size_t) k]) + half);
        p.closeSubPath();
        c = e + 1;
    }
    return p;
}

juce::Path pathThrough (const std::vector<float>& series, juce::Rectangle<float> rect, float offset,
                        float displayMin, float displayMax)
{
    juce::Path p;
    const int n = (int) series.size();
    if (n == 0)
        return p;
    const float span = std::max (displayMax - displayMin, 0.000001f);
    const float denom = (float) std::max (n - 1, 1);
    bool first = true;
    for (int i = 0; i < n; ++i)
    {
        const float x = rect.getX() + rect.getWidth() * (float) i / denom;
        const float y = rect.getBottom() - rect.getHeight() * clamp01 ((series[(size_t) i] + offset - displayMin) / span);
        if (first)
            p.startNewSubPath (x, y);
        else
            p.lineTo (x, y);
        first = false;
    }
    return p;
}

enum PointClass
{
    kept = 0,
    excluded = 1,
    gated = 2
};

juce::Colour classColour (int c)
{
    switch (c)
    {
        case gated: return juce::Colour (0x739ca5b8);
        case excluded: return juce::Colour (0xff3e846f);
        default: return juce::Colour (0xff78ffd6);
    }
}

float classThickness (int c)
{
    switch (c)
    {
        case gated: return 1.2f;
        case excluded: return 1.5f;
        default: return 1.8f;
    }
}

struct LegendEntry
{
    juce::String label;
    juce::Colour colour;
    float swatch;
};

std::vector<LegendEntry> legendEntries (bool instView, bool showTargetLine, const juce::String& gainLabel)
{
    std::vector<LegendEntry> e;
    if (instView)
    {
        e.push_back ({ "INST", juce::Colour (0xe678ffd6), 1.8f });
        if (gainLabel.isNotEmpty())
            e.push_back ({ gainLabel, juce::Colour (0xf2e0922f), 1.6f });
        if (showTargetLine)
            e.push_back ({ "TARGET LUFS", juce::Colour (0xd9c7ceda), 1.2f });
    }
    else
    {
        e.push_back ({ "VOCAL", juce::Colour (0xe678ffd6), 1.8f });
        if (gainLabel.isNotEmpty())
            e.push_back ({ gainLabel, juce::Colour (0xf2e0922f), 1.6f });
        e.push_back ({ "INST", juce::Colour (0xb2c7ceda), 1.2f });
    }
    return e;
}
} // namespace

//==============================================================================
LearnHistoryChart::LearnHistoryChart()
{
    // Texts fall back to other embedded faces for missing characters; that
    // needs every face known before the first paint.
    qvn::loadAllTypefaces();
}

void LearnHistoryChart::pushValue (std::vector<float>& series, float value)
{
    series.push_back (std::isnan (value) ? -100.0f : clampf (value, -100.0f, 0.0f));
}

void LearnHistoryChart::push (float level, float partnerLevel, bool belowGate)
{
    pushValue (historyData.selfSeries, level);
    pushValue (historyData.partnerSeries, partnerLevel);
    historyData.belowGate.push_back (belowGate);
    repaint();
}

juce::Path LearnHistoryChart::makePath (const std::vector<float>& series, juce::Rectangle<float> rect) const
{
    return pathThrough (series, rect, 0.0f, displayMinLufs, displayMaxLufs);
}

void LearnHistoryChart::strokePathKeptExcl (juce::Graphics& g, const juce::Path& path,
                                            const juce::RectangleList<int>& excluded, juce::Rectangle<int> kept,
                                            juce::Colour keptColour, juce::Colour excludedColour, float thickness)
{
    if (path.isEmpty())
        return;
    const juce::PathStrokeType stroke (thickness, juce::PathStrokeType::mitered, juce::PathStrokeType::butt);
    if (! excluded.isEmpty())
    {
        juce::Graphics::ScopedSaveState s (g);
        g.reduceClipRegion (excluded);
        g.setColour (excludedColour);
        g.strokePath (path, stroke);
    }
    juce::Graphics::ScopedSaveState s (g);
    g.reduceClipRegion (kept);
    g.setColour (keptColour);
    g.strokePath (path, stroke);
}

juce::String LearnHistoryChart::rangeStringFull() const
{
    return "RANGE " + wholeOrOneDecimal (displayMinLufs) + " TO " + wholeOrOneDecimal (displayMaxLufs);
}

juce::String LearnHistoryChart::rangeStringMin() const
{
    return "RANGE " + wholeOrOneDecimal (displayMinLufs) + ".." + wholeOrOneDecimal (displayMaxLufs);
}

LearnHistoryChart::HeaderLayout LearnHistoryChart::computeHeaderLayout() const
{
    const auto legendFont = monoFont (11.0f, true);
    const auto rangeFont = monoFont (10.0f, true);
    const float titleW = monoFont (16.0f, true).getStringWidthFloat ("LEARN HISTORY");
    const float W = (float) getWidth();

    auto legendWidth = [&] (const juce::String& gainLabel)
    {
        auto entries = legendEntries (instView, showTargetLine, gainLabel);
        const auto bf = bracketFont();
        float w = bf.getStringWidthFloat (openBracket()) + bf.getStringWidthFloat (closeBracket());
        for (size_t i = 0; i < entries.size(); ++i)
            w += 20.0f + legendFont.getStringWidthFloat (entries[i].label) + (i > 0 ? legendFont.getStringWidthFloat (" ") : 0.0f);
        return w;
    };

    struct Candidate
    {
        const char* gain;
        bool full;
    };
    std::vector<Candidate> candidates;
    if (! instView && showGainCurve)
        candidates = { { "VOCAL+TOTAL GAIN", true }, { "VOCAL+TOTAL", true }, { "VOCAL+TOTAL", false } };
    else if (! instView)
        candidates = { { "", true }, { "", false } };
    else if (showGainCurve)
        candidates = { { "INST+TOTAL GAIN", true }, { "INST+TOTAL", true }, { "INST+TOTAL", false } };
    else
        candidates = { { "", true } };

    HeaderLayout hl;
    for (auto& c : candidates)
    {
        hl.gainLabel = c.gain;
        hl.rangeText = c.full ? rangeStringFull() : rangeStringMin();
        const float pillW = rangeFont.getStringWidthFloat (hl.rangeText) + 14.0f;
        hl.pill = roundedRect (W - 16.0f - pillW, 8.0f, pillW, 16.0f);
        hl.legendX = (W - 16.0f) - (legendWidth (hl.gainLabel) + 12.0f + pillW);
        if (hl.legendX >= titleW + 28.0f)
            break;
    }
    return hl;
}

juce::Rectangle<int> LearnHistoryChart::rangePillScreenBounds() const
{
    const auto pill = computeHeaderLayout().pill;
    return { localPointToGlobal (pill.getPosition()), localPointToGlobal (pill.getPosition()) + juce::Point<int> (pill.getWidth(), pill.getHeight()) };
}

LearnHistoryChart::Geometry LearnHistoryChart::geometry() const
{
    Geometry geo;
    const int W = getWidth(), H = getHeight();
    geo.pw = (float) std::max (W - 32, 0);
    const int a = std::max (H - 20, 0);
    const int hh = std::min (a, 24);
    const int fh = std::min (a - hh, 24);
    geo.plotTop = (float) (10 + hh);
    geo.ph = (float) (a - hh - fh);
    geo.xS = geo.plotX + geo.pw * clamp01 (trimStart);
    geo.xE = geo.plotX + geo.pw * clamp01 (trimEnd);
    return geo;
}

float LearnHistoryChart::levelY (float v, const Geometry& geo) const
{
    const float span = std::max (displayMaxLufs - displayMinLufs, 0.000001f);
    return geo.plotBottom() - geo.ph * clamp01 ((v - displayMinLufs) / span);
}

juce::StringArray LearnHistoryChart::footerTexts() const
{
    const float len = std::isfinite (lengthSeconds) ? lengthSeconds : 0.0f;
    const float s = len * clamp01 (trimStart);
    const float e = len * clamp01 (trimEnd);
    return { "Start " + juce::String (s, 1) + "s",
             "Length " + juce::String (std::max (e - s, 0.0f), 1) + "s",
             "End " + juce::String (e, 1) + "s" };
}

//==============================================================================
void LearnHistoryChart::paintMainCurve (juce::Graphics& g, const Geometry& geo, const juce::RectangleList<int>& excludedRegion,
                                        juce::Rectangle<int> keptRect) const
{
    const auto& series = historyData.selfSeries;
    const auto& gate = historyData.belowGate;
    const int n = (int) series.size();
    const float denom = (float) std::max (n - 1, 1);
    auto xOf = [&] (int i) { return geo.plotX + geo.pw * (float) i / denom; };
    auto classOf = [&] (int i)
    {
        if ((size_t) i < gate.size() && gate[(size_t) i])
            return (int) gated;
        const float x = xOf (i);
        return (x < geo.xS || x > geo.xE) ? (int) excluded : (int) kept;
    };

    if (n < 2)
        return;

    const bool dense = isDense (series.size(), geo.pw);
    auto yOf = [&] (float v) { return levelY (v, geo); };
    DenseColumns cols;
    juce::Path area;
    if (dense)
    {
        // The area under the highest level of each column.
        cols = denseColumns (series, geo.plotX, geo.pw, 0.0f, classOf);
        area.startNewSubPath (cols.x.front(), geo.plotBottom());
        for (size_t c = 0; c < cols.x.size(); ++c)
        {
            float top = -std::numeric_limits<float>::infinity();
            for (auto v : cols.hi[c])
                top = std::max (top, v);
            area.lineTo (cols.x[c], std::isfinite (top) ? yOf (top) : geo.plotBottom());
        }
        area.lineTo (geo.plotRight(), geo.plotBottom());
        area.closeSubPath();
    }
    else
    {
        area = makePath (series, { geo.plotX, geo.plotTop, geo.pw, geo.ph });
        area.lineTo (geo.plotRight(), geo.plotBottom());
        area.lineTo (geo.plotX, geo.plotBottom());
        area.closeSubPath();
    }

    if (! excludedRegion.isEmpty())
    {
        juce::Graphics::ScopedSaveState s (g);
        g.reduceClipRegion (excludedRegion);
        g.setGradientFill (juce::ColourGradient (juce::Colour (0x2e3e846f), 0.0f, geo.plotTop,
                                                 juce::Colour (0x033e846f), 0.0f, geo.plotBottom(), false));
        g.fillPath (area);
    }
    {
        juce::Graphics::ScopedSaveState s (g);
        g.reduceClipRegion (keptRect);
        g.setGradientFill (juce::ColourGradient (juce::Colour (0x3378ffd6), 0.0f, geo.plotTop,
                                                 juce::Colour (0x0578ffd6), 0.0f, geo.plotBottom(), false));
        g.fillPath (area);
    }

    if (dense)
    {
        for (int k : { (int) gated, (int) excluded, (int) kept })
        {
            g.setColour (classColour (k));
            g.fillPath (envelopePath (cols, k, classThickness (k), yOf));
        }
        return;
    }

    // The curve in runs of one colour; a run ends where the colour changes.
    juce::Path run;
    int runClass = -1;
    juce::Point<float> prev;
    auto flush = [&]
    {
        if (runClass >= 0 && ! run.isEmpty())
        {
            g.setColour (classColour (runClass));
            g.strokePath (run, juce::PathStrokeType (classThickness (runClass), juce::PathStrokeType::mitered,
                                                     juce::PathStrokeType::butt));
        }
        run.clear();
    };

    for (int i = 0; i < n; ++i)
    {
        const juce::Point<float> p (xOf (i), levelY (series[(size_t) i], geo));
        const int c = classOf (i);
        if (runClass < 0)
        {
            run.startNewSubPath (p);
            runClass = c;
        }
        else if (c == runClass)
        {
            run.lineTo (p);
        }
        else if ((runClass == kept && c == excluded) || (runClass == excluded && c == kept))
        {
            const float xd = (runClass == kept) ? geo.xE : geo.xS;
            const float t = (p.x != prev.x) ? clamp01 ((xd - prev.x) / (p.x - prev.x)) : 1.0f;
            const juce::Point<float> split (prev.x + (p.x - prev.x) * t, prev.y + (p.y - prev.y) * t);
            run.lineTo (split);
            flush();
            run.startNewSubPath (split);
            run.lineTo (p);
            runClass = c;
        }
        else
        {
            run.lineTo (p);
            flush();
            run.startNewSubPath (p);
            runClass = c;
        }
        prev = p;
    }
    flush();
}

void LearnHistoryChart::paintHeader (juce::Graphics& g, const HeaderLayout& hl) const
{
    g.setColour (juce::Colour (kMuted));
    g.setFont (monoFont (16.0f, true));
    g.drawText ("LEARN HISTORY", juce::Rectangle<int> (16, 7, 200, 18), juce::Justification::centredLeft, true);

    const auto legendFont = monoFont (11.0f, true);
    const auto bf = bracketFont();
    float x = hl.legendX;
    auto piece = [&] (const juce::String& text, const juce::Font& f, juce::Colour c)
    {
        const float w = f.getStringWidthFloat (text);
        g.setFont (f);
        g.setColour (c);
        g.drawText (text, juce::Rectangle<float> (x, 7.0f, w + 3.0f, 18.0f).toNearestInt(), juce::Justification::centredLeft, false);
        x += w;
    };

    piece (openBracket(), bf, juce::Colour (kMuted));
    const auto entries = legendEntries (instView, showTargetLine, hl.gainLabel);
    for (size_t i = 0; i < entries.size(); ++i)
    {
        if (i > 0)
            piece (" ", legendFont, juce::Colour (kMuted));
        g.setColour (entries[i].colour);
        g.drawLine (x + 3.0f, 16.0f, x + 17.0f, 16.0f, entries[i].swatch);
        x += 20.0f;
        piece (entries[i].label, legendFont, entries[i].colour);
    }
    piece (closeBracket(), bf, juce::Colour (kMuted));

    const auto pill = hl.pill.toFloat();
    g.setColour (juce::Colour (pillHover ? 0xf2171c22u : 0xbf171c22u));
    g.fillRoundedRectangle (pill, 4.0f);
    g.setColour (juce::Colours::white.withAlpha ((juce::uint8) (pillHover ? 0x8c : 0x38)));
    g.drawRoundedRectangle (pill.reduced (0.5f), 4.0f, 1.0f);
    g.setColour (juce::Colour (pillHover ? 0xff7e7f83u : 0xe07e7f83u));
    g.setFont (monoFont (10.0f, true));
    g.drawText (hl.rangeText, hl.pill, juce::Justification::centred, false);
}

void LearnHistoryChart::paint (juce::Graphics& g)
{
    const int W = getWidth(), H = getHeight();
    if (W <= 0 || H <= 0)
        return;

    const auto geo = geometry();
    const auto& series = historyData.selfSeries;
    const juce::Rectangle<float> plot (geo.plotX, geo.plotTop, geo.pw, geo.ph);

    g.setColour (juce::Colour (0xff181a1d));
    g.fillRoundedRectangle (getLocalBounds().toFloat(), 6.0f);
    g.setColour (juce::Colours::white.withAlpha ((juce::uint8) 0x14));
    g.drawRoundedRectangle (0.5f, 0.5f, (float) std::max (W - 1, 0), (float) std::max (H - 1, 0), 6.0f, 1.0f);

    juce::RectangleList<int> excludedRegion;
    if (geo.xS > geo.plotX)
        excludedRegion.addWithoutMerging (roundedRect (geo.plotX, geo.plotTop, geo.xS - geo.plotX, geo.ph));
    if (geo.xE < geo.plotRight())
        excludedRegion.addWithoutMerging (roundedRect (geo.xE, geo.plotTop, geo.plotRight() - geo.xE, geo.ph));
    const auto keptRect = roundedRect (geo.xS, geo.plotTop, std::max (geo.xE - geo.xS, 1.0f), geo.ph);

    if (! excludedRegion.isEmpty())
    {
        juce::Graphics::ScopedSaveState s (g);
        g.reduceClipRegion (excludedRegion);
        g.setColour (juce::Colour (0x85000000));
        g.fillRect (plot);
    }

    auto secondaryCurve = [&] (const std::vector<float>& s, float offset, juce::Colour keptColour, juce::Colour exclColour, float thickness)
    {
        if (! isDense (s.size(), geo.pw))
        {
            strokePathKeptExcl (g, pathThrough (s, plot, offset, displayMinLufs, displayMaxLufs), excludedRegion, keptRect,
                                keptColour, exclColour, thickness);
            return;
        }
        const auto cols = denseColumns (s, geo.plotX, geo.pw, offset, [] (int) { return 0; });
        const auto band = envelopePath (cols, 0, thickness, [&] (float v) { return levelY (v, geo); });
        if (! excludedRegion.isEmpty())
        {
            juce::Graphics::ScopedSaveState st (g);
            g.reduceClipRegion (excludedRegion);
            g.setColour (exclColour);
            g.fillPath (band);
        }
        juce::Graphics::ScopedSaveState st (g);
        g.reduceClipRegion (keptRect);
        g.setColour (keptColour);
        g.fillPath (band);
    };

    if (! instView)
        secondaryCurve (historyData.partnerSeries, 0.0f, juce::Colour (0x73c7ceda), juce::Colour (0x47676b71), 1.2f);

    if (! series.empty())
        paintMainCurve (g, geo, excludedRegion, keptRect);

    if (showGainCurve && ! series.empty())
        secondaryCurve (series, std::isfinite (totalGainDb) ? totalGainDb : 0.0f, juce::Colour (0xffe0922f),
                        juce::Colour (0x738c5b1d), 1.6f);

    if (! series.empty() && std::isfinite (lengthSeconds) && lengthSeconds > 0.05f)
    {
        const double lines = std::floor ((double) lengthSeconds / 5.0);
        // Beyond a few lines per pixel the grid says nothing more; skip it
        // rather than spend unbounded time on an absurd length.
        if (lines <= (double) std::max (1.0f, geo.pw) * 8.0)
            for (int k = 1; k <= (int) lines; ++k)
            {
                const float x = geo.plotX + geo.pw * clamp01 (5.0f * (float) k / lengthSeconds);
                const bool odd = (k % 2) == 1;
                g.setColour (juce::Colours::white.withAlpha ((juce::uint8) (odd ? 0x06 : 0x0f)));
                g.drawLine (x, geo.plotTop, x, geo.plotBottom(), odd ? 0.6f : 0.8f);
            }
    }

    g.setColour (juce::Colours::white.withAlpha ((juce::uint8) 0x0f));
    for (auto v : multiplesOfSixBetween (displayMinLufs + 0.001f, displayMaxLufs - 0.001f, std::max (64, (int) geo.ph)))
    {
        const float y = levelY (v, geo);
        g.drawLine (geo.plotX, y, geo.plotRight(), y, 0.8f);
    }

    if (series.empty() && emptyText.isNotEmpty())
    {
        g.setColour (juce::Colour (kMuted));
        g.setFont (monoFont (16.0f, true));
        // The placeholder is in the user's language; characters the monospace
        // face lacks come from the embedded Japanese face.
        qvn::compat::drawFittedText (g, emptyText, roundedRect (geo.plotX + 12.0f, geo.plotTop, std::max (geo.pw - 24.0f, 0.0f), std::max (geo.ph, 0.0f)),
                          juce::Justification::centred, 2);
    }

    if (showTargetLine && displayMinLufs + 0.01f < targetLineLufs && targetLineLufs < displayMaxLufs - 0.01f)
    {
        const float y = levelY (targetLineLufs, geo);
        g.setColour (juce::Colour (0x8cc7ceda));
        g.drawLine (geo.plotX, y, geo.plotRight(), y, 1.2f);
    }

    paintHeader (g, computeHeaderLayout());

    if (series.empty())
        return;

    const auto footer = footerTexts();
    g.setColour (juce::Colour (kMuted));
    g.setFont (monoFont (14.0f, true));
    g.drawText (footer[0], juce::Rectangle<int> (16, H - 24, 130, 18), juce::Justification::centredLeft, true);
    g.drawText (footer[1], juce::Rectangle<int> (W / 2 - 70, H - 24, 140, 18), juce::Justification::centred, true);
    g.drawText (footer[2], juce::Rectangle<int> (W - 146, H - 24, 130, 18), juce::Justification::centredRight, true);

    auto drawHandle = [&] (float x, bool dragged)
    {
        auto c = juce::Colour (dragged ? 0xffe0922fu : 0xff7cf2c8u);
        if (! trimEditable)
            c = c.withAlpha ((juce::uint8) 0x59);
        g.setColour (c);
        g.drawLine (x, geo.plotTop, x, geo.plotBottom(), 2.0f);
        g.fillRoundedRectangle (x - 3.0f, geo.plotTop - 3.0f, 6.0f, 8.0f, 2.5f);
        g.fillRoundedRectangle (x - 3.0f, geo.plotBottom() - 5.0f, 6.0f, 8.0f, 2.5f);
    };
    drawHandle (geo.xS, dragMode == 1);
    drawHandle (geo.xE, dragMode == 2);
}

//==============================================================================
bool LearnHistoryChart::nearHandle (float x, float handleX) const noexcept
{
    return std::abs (x - handleX) <= 8.0f;
}

void LearnHistoryChart::mouseMove (const juce::MouseEvent& e)
{
    const auto hl = computeHeaderLayout();
    const bool over = hl.pill.toFloat().contains (e.position);
    if (over != pillHover)
    {
        pillHover = over;
        repaint();
    }
    setTooltip (over ? rangePillTooltip : juce::String());

    const auto geo = geometry();
    if (over)
        setMouseCursor (juce::MouseCursor::PointingHandCursor);
    else if (trimEditable && ! historyData.selfSeries.empty()
             && (nearHandle (e.position.x, geo.xS) || nearHandle (e.position.x, geo.xE)))
        setMouseCursor (juce::MouseCursor::LeftRightResizeCursor);
    else
        setMouseCursor (juce::MouseCursor::NormalCursor);
}

void LearnHistoryChart::mouseExit (const juce::MouseEvent&)
{
    if (pillHover)
    {
        pillHover = false;
        repaint();
    }
}

void LearnHistoryChart::mouseDown (const juce::MouseEvent& e)
{
    dragMode = 0;
    if (computeHeaderLayout().pill.contains (e.getPosition()))
        return;
    if (! trimEditable || historyData.selfSeries.empty())
        return;
    const auto geo = geometry();
    const float x = e.position.x;
    if (! nearHandle (x, geo.xS) && ! nearHandle (x, geo.xE))
        return;
    dragMode = std::abs (x - geo.xE) < std::abs (x - geo.xS) ? 2 : 1;
}

void LearnHistoryChart::mouseDrag (const juce::MouseEvent& e)
{
    if (dragMode == 0)
        return;
    const auto geo = geometry();
    const float f = geo.pw > 0.0f ? clamp01 ((e.position.x - geo.plotX) / geo.pw) : 0.0f;
    const size_t longest = std::max (historyData.selfSeries.size(), historyData.partnerSeries.size());
    const float gap = 1.0f / (float) std::max<size_t> (longest, 1);
    if (dragMode == 1)
        trimStart = std::min (trimEnd - gap, f);
    else
        trimEnd = std::max (trimStart + gap, f);
    repaint();
}

void LearnHistoryChart::mouseUp (const juce::MouseEvent& e)
{
    if (dragMode == 1 || dragMode == 2)
    {
        dragMode = 0;
        repaint();
        if (onTrimChanged)
            onTrimChanged (trimStart, trimEnd);
        return;
    }
    if (computeHeaderLayout().pill.contains (e.getPosition()) && onRangePillClicked)
        onRangePillClicked();
}
