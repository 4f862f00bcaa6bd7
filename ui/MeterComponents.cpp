#include "ui/MeterComponents.h"
#include "ui/ChartHelpers.h"
#include "ui/JuceCompat.h"
#include "ui/UiTheme.h"

#include <cmath>
#include <vector>

namespace qvn_meter
{
namespace
{
constexpr juce::uint32 kAccent = 0xff7cf2c8;
constexpr juce::uint32 kMeterGreen = 0xff3ecf82;
constexpr juce::uint32 kMuted = 0xff7e7f83;
constexpr juce::uint32 kCaption = 0xff828d85;
constexpr juce::uint32 kText = 0xffeaefe9;
constexpr juce::uint32 kTickCol = 0x73242b26;

// Levels arrive from atomics and settings; a non-finite one is shown as absent
// rather than propagated into the geometry.
float finiteOr (float v, float absent) noexcept { return std::isfinite (v) ? v : absent; }

using qvn::chart::clamp01;
using qvn::chart::clampf;
using qvn::chart::monoFont;
using qvn::chart::multiplesOfSixBetween;
using qvn::withAlphaFactor;

float snap (float v) noexcept { return std::round (v); }

// The nearest whole number, halves away from zero ("-24").
juce::String wholeText (double v)
{
    const double r = std::round (v);
    return std::abs (r) < 1.0e15 ? juce::String ((juce::int64) r) : juce::String (r, 0);
}

juce::String wholeOrOneDecimal (float v)
{
    const double r = std::round ((double) v);
    if (std::abs ((double) v - r) < 0.05)
        return wholeText (r);
    return juce::String (v, 1);
}

juce::Colour fillColourFor (MeasureState state, juce::Colour normalFill, float alpha)
{
    switch (state)
    {
        case MeasureState::Measuring: return withAlphaFactor (juce::Colour (kAccent), alpha);
        case MeasureState::Skipped: return juce::Colour (0x4c7e7f83);
        case MeasureState::Normal:
        default: return withAlphaFactor (normalFill, alpha);
    }
}

void fillBarBackground (juce::Graphics& g, juce::Rectangle<float> rect)
{
    if (rect.isEmpty())
        return;
    g.setGradientFill (juce::ColourGradient (juce::Colour (0xff121519), 0.0f, rect.getY(),
                                             juce::Colour (0xff090c10), 0.0f, rect.getBottom(), false));
    g.fillRect (rect);
}

bool compareShown (float compare, float value, MeasureState state) noexcept
{
    return compare > -150.0f && state != MeasureState::Measuring && state != MeasureState::Skipped
           && std::abs (compare - value) > 0.1f;
}

struct ColumnScale
{
    float lo = -36.0f, hi = 0.0f;

    ColumnScale (float rangeMin, float rangeMax)
    {
        if (std::isfinite (rangeMin) && std::isfinite (rangeMax) && rangeMax - rangeMin >= 1.0f)
        {
            lo = rangeMin;
            hi = rangeMax;
        }
    }

    float norm (float v) const noexcept { return clamp01 ((v - lo) / (hi - lo)); }
};

struct ScaleLabel
{
    float value;
    float y;
};

std::vector<ScaleLabel> computeScaleLabels (float barTop, float barHeight, const ColumnScale& sc)
{
    auto yOf = [&] (float v) { return barTop + barHeight - barHeight * sc.norm (v); };

    std::vector<float> candidates { sc.hi, sc.lo };
    const bool with18 = sc.lo + 0.25f < -18.0f && -18.0f < sc.hi - 0.25f;
    if (with18)
        candidates.push_back (-18.0f);
    for (auto v : multiplesOfSixBetween (sc.lo + 0.5f, sc.hi - 0.001f, 4096))
        if (! (with18 && std::abs (v + 18.0f) <= 0.5f))
            candidates.push_back (v);

    std::vector<ScaleLabel> drawn;
    for (auto v : candidates)
    {
        const float y = yOf (v);
        bool clear = true;
        for (auto& d : drawn)
            if (std::abs (d.y - y) < 11.0f)
            {
                clear = false;
                break;
            }
        if (clear)
            drawn.push_back ({ v, y });
    }
    return drawn;
}
} // namespace

juce::String levelText (float value)
{
    if (! std::isfinite (value) || value < -100.0f)
        return "-inf";
    return juce::String (value, 1);
}

ColumnValueText columnValueText (float value, float fullWidth)
{
    ColumnValueText r;
    r.text = levelText (value);
    const float W = std::max (0.0f, finiteOr (fullWidth, 0.0f));
    const float need15 = monoFont (15.0f, true).getStringWidthFloat (r.text) + 4.0f;
    float size = 15.0f;
    if (need15 > W)
    {
        size = 15.0f * W / need15;
        if (std::isfinite (value) && value >= -100.0f && size < 11.0f)
        {
            r.text = wholeText ((double) value);
            size = 15.0f * W / (monoFont (15.0f, true).getStringWidthFloat (r.text) + 4.0f);
        }
    }
    r.fontSize = clampf (size, 10.0f, 15.0f);
    return r;
}

juce::StringArray columnScaleLabels (float barTop, float barHeight, float rangeMin, float rangeMax)
{
    juce::StringArray out;
    for (auto& l : computeScaleLabels (barTop, std::max (0.0f, barHeight), ColumnScale (rangeMin, rangeMax)))
        out.add (wholeOrOneDecimal (l.value));
    return out;
}

void drawBarRow (juce::Graphics& g, juce::Rectangle<float> b, const juce::String& label, float value,
                 float alpha, MeasureState state, float compare, float integrated, float target,
                 bool showTarget)
{
    value = finiteOr (value, -120.0f);
    compare = finiteOr (compare, -200.0f);
    integrated = finiteOr (integrated, -200.0f);
    target = finiteOr (target, -200.0f);

    const float lw = label.isNotEmpty() ? std::min (b.getWidth(), 80.0f) : 0.0f;
    auto bar = b.withTrimmedLeft (lw);
    if (b.getHeight() > 22.0f)
        bar = bar.withTrimmedTop (9.0f);

    auto xOf = [&] (float v) { return bar.getX() + bar.getWidth() * clamp01 ((v + 36.0f) / 36.0f); };
    const bool measuring = state == MeasureState::Measuring;
    const bool skipped = state == MeasureState::Skipped;
    const bool labelsAbove = bar.getY() >= 9.0f;

    if (label.isNotEmpty())
    {
        g.setColour (juce::Colour (measuring ? kAccent : kCaption));
        g.setFont (monoFont (10.5f, measuring));
        // Captions may name an instance; characters the monospace face lacks
        // come from another embedded face.
        qvn::compat::drawText (g, label, juce::Rectangle<float> (b.getX() + 4.0f, b.getY(), std::max (lw - 8.0f, 0.0f), b.getHeight()),
                               juce::Justification::centredLeft, true);
    }

    fillBarBackground (g, bar);

    const float fillW = bar.getWidth() * clamp01 ((value + 36.0f) / 36.0f);
    if (fillW > 0.5f)
    {
        g.setColour (fillColourFor (state, juce::Colour (kMeterGreen), alpha));
        g.fillRect (juce::Rectangle<float> (bar.getX(), bar.getY(), fillW, bar.getHeight()));
    }

    if (compareShown (compare, value, state))
    {
        const bool above = value > compare;
        const float xc = xOf (compare), xv = xOf (value);
        g.setColour (juce::Colour (above ? 0xcc82e0aeu : 0x8c7e7f83u));
        g.fillRect (juce::Rectangle<float> (std::min (xc, xv), bar.getY(), std::abs (xv - xc), bar.getHeight()));
        if (bar.getHeight() > 0.0f)
        {
            g.setColour (juce::Colour (above ? 0xf28de2b5u : 0xf27e7f83u));
            g.fillRect (juce::Rectangle<float> (snap (xc), bar.getY(), 1.0f, bar.getHeight()));
        }
    }

    static constexpr float ticks[] = { -36.0f, -30.0f, -24.0f, -18.0f, -12.0f, -6.0f, 0.0f };
    const float tickTop = bar.getY() + 2.0f, tickBottom = bar.getBottom() - 2.0f;
    for (auto v : ticks)
    {
        const float x = snap (xOf (v));
        if (tickBottom > tickTop)
        {
            g.setColour (juce::Colour (kTickCol));
            g.fillRect (juce::Rectangle<float> (x, tickTop, 1.0f, tickBottom - tickTop));
        }
        if (labelsAbove && v != -18.0f)
        {
            g.setColour (juce::Colour (0xe67e7f83));
            g.setFont (monoFont (8.0f, false));
            const float top = bar.getY() - 9.0f;
            if (v == -36.0f)
                g.drawText ("-36", juce::Rectangle<float> (xOf (v), top, 24.0f, 9.0f), juce::Justification::centredLeft, false);
            else if (v == 0.0f)
                g.drawText ("0", juce::Rectangle<float> (xOf (v) - 24.0f, top, 24.0f, 9.0f), juce::Justification::centredRight, false);
            else
                g.drawText (juce::String ((int) v), juce::Rectangle<float> (xOf (v) - 12.0f, top, 24.0f, 9.0f), juce::Justification::centred, false);
        }
    }

    const float mid = bar.getX() + bar.getWidth() / 2.0f;
    g.setColour (juce::Colour (0xcc7cf2c8));
    g.fillRect (juce::Rectangle<float> (mid - 0.75f, bar.getY(), 1.5f, bar.getHeight()));
    if (labelsAbove)
    {
        g.setColour (juce::Colour (0xe67cf2c8));
        g.setFont (monoFont (8.0f, true));
        g.drawText ("-18", juce::Rectangle<float> (mid - 12.0f, bar.getY() - 9.0f, 24.0f, 9.0f), juce::Justification::centred, false);
    }

    if (showTarget && target > -119.0f && std::abs (target - integrated) > 0.1f)
    {
        g.setColour (juce::Colour (0xfff5d54a));
        g.drawLine (xOf (target), bar.getY(), xOf (target), bar.getBottom(), 1.5f);
    }

    if (integrated > -119.0f)
    {
        const float xi = xOf (integrated);
        g.setColour (juce::Colours::white.withAlpha ((juce::uint8) 0xe6));
        g.fillRect (juce::Rectangle<float> (xi - 1.0f, bar.getY(), 2.0f, bar.getHeight()));
        if (labelsAbove)
        {
            g.setColour (juce::Colours::white.withAlpha ((juce::uint8) 0xf2));
            g.setFont (monoFont (9.0f, true));
            g.drawText ("I " + juce::String (integrated, 1), juce::Rectangle<float> (xi + 3.0f, bar.getY() - 9.0f, 60.0f, 9.0f),
                        juce::Justification::centredLeft, false);
        }
    }

    if (measuring)
    {
        g.setColour (juce::Colour (0xe67cf2c8));
        g.drawRect (bar, 1.0f);
    }
    else if (skipped)
    {
        g.setColour (juce::Colour (kCaption));
        g.setFont (monoFont (10.5f, true));
        g.drawText ("Skip", juce::Rectangle<float> (bar.getX(), bar.getY(), bar.getWidth() / 6.0f, bar.getHeight()),
                    juce::Justification::centred, false);
    }

    const juce::Rectangle<float> textArea (bar.getX() + 4.0f, bar.getY(), std::max (bar.getWidth() - 8.0f, 0.0f), bar.getHeight());
    g.setColour (juce::Colour (skipped ? kMuted : kCaption));
    g.setFont (monoFont (9.5f, false));
    g.drawText (" LUFS", textArea, juce::Justification::centredRight, true);
    g.setColour (juce::Colour (skipped ? kMuted : kText));
    g.setFont (monoFont (11.5f, false));
    g.drawText (levelText (value), textArea.withTrimmedRight (std::min (textArea.getWidth(), 34.0f)),
                juce::Justification::centredRight, true);
}

void drawBarColumn (juce::Graphics& g, juce::Rectangle<float> b, float value, float alpha,
                    MeasureState state, float compare, float integrated, float target,
                    float peakLeft, bool showTarget, bool showScale, const juce::String& markerText,
                    const juce::Colour* fillColour, const juce::Colour* compareAboveColour,
                    const juce::Colour* targetColour, const juce::Colour* markerColour,
                    bool scaleOnRight, float peakRight, float columnWidth, float rangeMin, float rangeMax)
{
    value = finiteOr (value, -120.0f);
    compare = finiteOr (compare, -200.0f);
    integrated = finiteOr (integrated, -200.0f);
    target = finiteOr (target, -200.0f);
    peakLeft = finiteOr (peakLeft, -120.0f);
    peakRight = finiteOr (peakRight, -120.0f);

    const ColumnScale sc (rangeMin, rangeMax);

    const float sw = showScale ? std::min (b.getWidth(), 22.0f) : 0.0f;
    juce::Rectangle<float> strip, area;
    if (scaleOnRight)
    {
        strip = { b.getRight() - sw, b.getY(), sw, b.getHeight() };
        area = b.withTrimmedRight (sw);
    }
    else
    {
        strip = { b.getX(), b.getY(), sw, b.getHeight() };
        area = b.withTrimmedLeft (sw);
    }

    const float hh = std::min (area.getHeight(), 20.0f);
    float cw = (std::isfinite (columnWidth) && columnWidth > 0.0f) ? columnWidth : 30.0f;
    cw = std::min (cw, area.getWidth());
    const juce::Rectangle<float> column (area.getCentreX() - cw / 2.0f, area.getY() + hh, cw, area.getHeight() - hh);
    const juce::Rectangle<float> bar (column.getX() + 1.0f, column.getY() + 2.0f,
                                      std::max (cw - 2.0f, 0.0f), std::max (column.getHeight() - 4.0f, 0.0f));

    auto yOf = [&] (float v) { return bar.getY() + bar.getHeight() - bar.getHeight() * sc.norm (v); };

    fillBarBackground (g, bar);

    const float fillH = bar.getHeight() * sc.norm (value);
    if (fillH > 0.5f)
    {
        g.setColour (fillColourFor (state, fillColour != nullptr ? *fillColour : juce::Colour (kMeterGreen), alpha));
        g.fillRect (juce::Rectangle<float> (bar.getX(), bar.getBottom() - fillH, bar.getWidth(), fillH));
    }

    if (compareShown (compare, value, state))
    {
        const bool above = value > compare;
        const float yc = yOf (compare), yv = yOf (value);
        juce::Colour band = above ? (compareAboveColour != nullptr ? *compareAboveColour : juce::Colour (0xcc82e0ae))
                                  : juce::Colour (0x8c7e7f83);
        g.setColour (band);
        g.fillRect (juce::Rectangle<float> (bar.getX(), std::min (yc, yv), bar.getWidth(), std::abs (yv - yc)));
        if (bar.getWidth() > 0.0f)
        {
            juce::Colour line = above ? (compareAboveColour != nullptr ? *compareAboveColour : juce::Colour (0xff8de2b5))
                                      : juce::Colour (0xff7e7f83);
            g.setColour (line.withAlpha ((juce::uint8) 0xf2));
            g.fillRect (juce::Rectangle<float> (bar.getX(), snap (yc), bar.getWidth(), 1.0f));
        }
    }

    {
        const float x0 = bar.getX() + 2.0f, x1 = bar.getRight() - 2.0f;
        if (x1 > x0)
        {
            g.setColour (juce::Colour (kTickCol));
            // A tick per pixel or more would only paint the bar solid.
            for (auto v : multiplesOfSixBetween (sc.lo + 0.001f, sc.hi - 0.001f, std::max (64, (int) bar.getHeight())))
                g.fillRect (juce::Rectangle<float> (x0, snap (yOf (v)), x1 - x0, 1.0f));
        }
    }

    if (showScale && sw > 0.0f)
    {
        g.setColour (juce::Colour (0xe67e7f83));
        g.setFont (monoFont (10.0f, true));
        for (auto& l : computeScaleLabels (bar.getY(), bar.getHeight(), sc))
        {
            const float top = std::max (strip.getY(), std::min (l.y - 6.0f, strip.getBottom() - 12.0f));
            g.drawText (wholeOrOneDecimal (l.value), juce::Rectangle<float> (strip.getX(), top, strip.getWidth(), 12.0f),
                        scaleOnRight ? juce::Justification::centred : juce::Justification::centredRight, false);
        }
    }

    auto drawMarkerText = [&] (float y)
    {
        g.setColour (juce::Colours::white.withAlpha ((juce::uint8) 0xf2));
        g.setFont (monoFont (10.0f, true));
        qvn::compat::drawText (g, markerText, juce::Rectangle<float> (bar.getRight() + 3.0f, y - 7.0f, 44.0f, 14.0f),
                               juce::Justification::centredLeft, true);
    };

    if (showTarget && target > -119.0f && std::abs (target - integrated) > 0.1f)
    {
        const float yt = yOf (target);
        g.setColour (juce::Colour (0x99000000));
        g.drawLine (bar.getX(), yt, bar.getRight(), yt, 2.5f);
        g.setColour ((targetColour != nullptr ? *targetColour : juce::Colours::white).withAlpha ((juce::uint8) 0xe6));
        g.drawLine (bar.getX(), yt, bar.getRight(), yt, 1.5f);
        if (markerText.isNotEmpty())
            drawMarkerText (yt);
    }

    if (integrated > -119.0f)
    {
        const float yi = yOf (integrated);
        g.setColour ((markerColour != nullptr ? *markerColour : juce::Colours::white).withAlpha ((juce::uint8) 0xf2));
        g.fillRect (juce::Rectangle<float> (bar.getX(), yi - 1.0f, bar.getWidth(), 2.0f));
        if (markerText.isNotEmpty() && ! showTarget)
            drawMarkerText (yi);
    }

    if (state == MeasureState::Measuring)
    {
        g.setColour (juce::Colour (0xe67cf2c8));
        g.drawRect (bar, 1.0f);
    }
    else if (state == MeasureState::Skipped)
    {
        const float band = std::min (bar.getHeight(), bar.getHeight() * 6.0f / (sc.hi - sc.lo));
        g.setColour (juce::Colour (kCaption));
        g.setFont (monoFont (8.0f, true));
        g.drawText ("Skip", juce::Rectangle<float> (bar.getX(), bar.getBottom() - band, bar.getWidth(), band),
                    juce::Justification::centred, false);
    }

    {
        const auto vt = columnValueText (value, b.getWidth());
        const auto f = monoFont (vt.fontSize, true);
        const float W = std::max (0.0f, b.getWidth());
        const float need = f.getStringWidthFloat (vt.text) + 4.0f;
        const float boxW = std::min (need, W);
        float boxX = column.getCentreX() - boxW / 2.0f;
        boxX = std::max (b.getX(), std::min (boxX, b.getX() + W - boxW));
        g.setColour (juce::Colour (state == MeasureState::Skipped ? kMuted : kText));
        g.setFont (f);
        g.drawText (vt.text, juce::Rectangle<float> (boxX, area.getY(), boxW, hh), juce::Justification::centred, false);
    }

    g.setColour (juce::Colours::white.withAlpha ((juce::uint8) 0x21));
    const float halfW = bar.getWidth() / 2.0f;
    if (peakLeft > -119.0f)
    {
        const float h = bar.getHeight() * clamp01 ((peakLeft + 48.0f) / 48.0f);
        g.fillRect (juce::Rectangle<float> (bar.getX(), bar.getBottom() - h, halfW, h));
    }
    if (peakRight > -119.0f)
    {
        const float h = bar.getHeight() * clamp01 ((peakRight + 48.0f) / 48.0f);
        g.fillRect (juce::Rectangle<float> (bar.getX() + halfW, bar.getBottom() - h, halfW, h));
    }
}
} // namespace qvn_meter

//==============================================================================
MeterBarBase::MeterBarBase()
{
    // Captions fall back to other embedded faces for missing characters; that
    // needs every face known before the first paint.
    qvn::loadAllTypefaces();
}

bool MeterBarBase::changed (bool didChange)
{
    if (didChange)
        repaint();
    return didChange;
}

bool MeterBarBase::setIntegratedLufs (float v)
{
    return changed (store (integratedLufs, v));
}

bool MeterBarBase::setTargetLineLufs (float v)
{
    return changed (store (targetLineLufs, v));
}

bool MeterBarBase::setPeaks (float leftDb, float rightDb)
{
    const bool first = store (peakLeftDb, leftDb);
    const bool second = store (peakRightDb, rightDb);
    return changed (first || second);
}

bool MeterBarBase::setColumnWidth (float w)
{
    return changed (store (columnWidth, w));
}

bool MeterBarBase::setRange (float minLufs, float maxLufs)
{
    const bool first = store (rangeMinLufs, minLufs);
    const bool second = store (rangeMaxLufs, maxLufs);
    return changed (first || second);
}

bool MeterBarBase::setLabel (const juce::String& text)
{
    return changed (store (label, text));
}

bool MeterBarBase::setMarkerText (const juce::String& text)
{
    return changed (store (markerText, text));
}

bool MeterBarBase::setMeasureState (qvn_meter::MeasureState s)
{
    return changed (store (measureState, s));
}

bool MeterBarBase::setLayout (int newLayout)
{
    return changed (store (layout, newLayout));
}

bool MeterBarBase::setShowScale (bool show)
{
    return changed (store (showScale, show));
}

void MeterBarBase::mouseEnter (const juce::MouseEvent&)
{
    if (onHover)
        onHover (true);
}

void MeterBarBase::mouseExit (const juce::MouseEvent&)
{
    if (onHover)
        onHover (false);
}

void MeterBarBase::mouseDown (const juce::MouseEvent& e)
{
    if (onClick)
        onClick (e.mods.isShiftDown());
}

bool MeterBarBase::hitTest (int x, int)
{
    return x >= hitInset && x < getWidth() - hitInset;
}

void MeterBarBase::paintRowFrame (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xff171c22));
    if (getWidth() > 0)
    {
        g.setColour (juce::Colour (0xff242b26));
        g.fillRect (0, 0, getWidth(), 1);
    }
}

//==============================================================================
bool InstMeterBar::setValueLufs (float v)
{
    return changed (store (valueLufs, v));
}

bool InstMeterBar::setFillColour (juce::Colour c)
{
    return changed (store (fillColour, c));
}

void InstMeterBar::paint (juce::Graphics& g)
{
    const auto bounds = getLocalBounds().toFloat();
    if (layout == 1)
    {
        const juce::Colour target (0xffe0922f);
        qvn_meter::drawBarColumn (g, bounds, valueLufs, 0.85f, measureState, -200.0f, integratedLufs,
                                  targetLineLufs, peakLeftDb, true, showScale, markerText, &fillColour,
                                  nullptr, &target, nullptr, false, peakRightDb, columnWidth,
                                  rangeMinLufs, rangeMaxLufs);
        return;
    }
    paintRowFrame (g);
    qvn_meter::drawBarRow (g, bounds, label, valueLufs, 0.85f, measureState, -200.0f, integratedLufs,
                           targetLineLufs, true);
}

//==============================================================================
bool VocalMeterBar::setLevels (float compare, float value)
{
    const bool first = store (compareLufs, compare);
    const bool second = store (valueLufs, value);
    return changed (first || second);
}

bool VocalMeterBar::setMarkerColour (juce::Colour c)
{
    return changed (store (markerColour, c));
}

bool VocalMeterBar::setCustomFill (juce::Colour c, bool use)
{
    const bool first = store (customFillColour, c);
    const bool second = store (useCustomFill, use);
    return changed (first || second);
}

void VocalMeterBar::paint (juce::Graphics& g)
{
    const auto bounds = getLocalBounds().toFloat();
    if (layout == 1)
    {
        const juce::Colour fill = useCustomFill ? customFillColour : juce::Colour (0xff7cf2c8);
        const juce::Colour compareAbove (0xffd7fbec);
        qvn_meter::drawBarColumn (g, bounds, valueLufs, 0.95f, measureState, compareLufs, integratedLufs,
                                  targetLineLufs, peakLeftDb, false, showScale, markerText, &fill,
                                  &compareAbove, nullptr, &markerColour, true, peakRightDb, columnWidth,
                                  rangeMinLufs, rangeMaxLufs);
        return;
    }
    paintRowFrame (g);
    qvn_meter::drawBarRow (g, bounds, label, valueLufs, 0.95f, measureState, compareLufs, integratedLufs,
                           targetLineLufs, false);
}
