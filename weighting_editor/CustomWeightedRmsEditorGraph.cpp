#include "weighting_editor/CustomWeightedRmsEditor.h"

#include "ui/JuceCompat.h"

#include "dsp/CustomWeightingDesigner.h"
#include "processor/PluginProcessor.h"

#include <cmath>

//==============================================================================
namespace qvn::cwrms
{
namespace
{
constexpr double kLn1000 = 6.907755278982137;
constexpr float kHitRadius = 14.0f;
} // namespace

PlotMap PlotMap::forSize (int w, int h, float rangeDb) noexcept
{
    PlotMap m;
    m.left = 53.0f;
    m.top = 14.0f;
    m.width = (float) juce::jmax (0, w - 62);
    m.height = (float) juce::jmax (0, h - 49);
    m.range = rangeDb;
    return m;
}

float PlotMap::xForFrequency (double hz) const noexcept
{
    const double f = juce::jlimit (20.0, 20000.0, std::isfinite (hz) ? hz : 20.0);
    return left + (float) ((double) width * std::log (f / 20.0) / kLn1000);
}

float PlotMap::yForLevel (double db) const noexcept
{
    const double v = juce::jlimit (-400.0, 400.0, std::isfinite (db) ? db : (db > 0 ? 400.0 : -400.0));
    return (float) ((double) bottom() + (v + range) * (double) (top - bottom()) / (2.0 * range));
}

bool PlotMap::operator== (const PlotMap& o) const noexcept
{
    return left == o.left && top == o.top && width == o.width && height == o.height && range == o.range;
}

bool typeUsesGain (int type) noexcept
{
    return type != (int) CustomSlotType::HighPass && type != (int) CustomSlotType::LowPass;
}
} // namespace qvn::cwrms

namespace
{
juce::Colour withAlphaByte (juce::Colour c, int alpha)
{
    return c.withAlpha ((juce::uint8) alpha);
}

/** A number as a whole number when within 0.05 of one, else with one decimal. */
juce::String compactNumber (double v)
{
    const double r = v < 0 ? -std::floor (-v + 0.5) : std::floor (v + 0.5);
    if (std::abs (v - r) <= 0.05)
        return juce::String ((juce::int64) r);
    return juce::String (v, 1);
}

juce::String rangeCaption (float rangeDb)
{
    return juce::String ((int) rangeDb) + " dB";
}
} // namespace

//==============================================================================
void CustomWeightedRmsEditor::RangeButtonLF::drawButtonBackground (juce::Graphics& g, juce::Button& b,
                                                                  const juce::Colour&, bool over, bool down)
{
    using namespace qvn::cwrms;
    if (! over && ! down)
        return;
    const auto r = juce::Rectangle<float> (0.5f, 0.5f, (float) b.getWidth() - 1.0f, (float) b.getHeight() - 1.0f);
    g.setColour (withAlphaByte (kSunkenCol, 0xcc));
    g.fillRoundedRectangle (r, 3.0f);
    g.setColour (down ? kAccentCol : kStrongCol);
    g.drawRoundedRectangle (r, 3.0f, 1.0f);
}

void CustomWeightedRmsEditor::RangeButtonLF::drawButtonText (juce::Graphics& g, juce::TextButton& b, bool over, bool)
{
    using namespace qvn::cwrms;
    g.setColour (over ? kTextCol : withAlphaByte (kText2Col, 0xbf));
    g.setFont (FlatLookAndFeel::dinFont (10.0f));
    qvn::compat::drawFittedText (g, b.getButtonText(), { 4, 0, b.getWidth() - 8, b.getHeight() },
                                 juce::Justification::centredLeft, 1, 0.0f);
}

//==============================================================================
CustomWeightedRmsEditor::ResponseGraph::ResponseGraph (CustomWeightedRmsEditor& owner) : panel (owner)
{
    addAndMakeVisible (rangeButton);
    rangeButton.setLookAndFeel (&rangeLook);
    rangeButton.onClick = [this] { showRangeMenu(); };
    rangeButton.setButtonText (rangeCaption (panel.displayRangeDb));
}

CustomWeightedRmsEditor::ResponseGraph::~ResponseGraph()
{
    rangeButton.setLookAndFeel (nullptr);
}

qvn::cwrms::PlotMap CustomWeightedRmsEditor::ResponseGraph::currentMap() const noexcept
{
    return qvn::cwrms::PlotMap::forSize (getWidth(), getHeight(), panel.displayRangeDb);
}

juce::Point<float> CustomWeightedRmsEditor::ResponseGraph::nodePosition (int band, const qvn::cwrms::PlotMap& map) const noexcept
{
    const auto& s = panel.workingCopy.slots[(size_t) juce::jlimit (0, 5, band)];
    const double level = qvn::cwrms::typeUsesGain (s.type)
                             ? juce::jlimit (-(double) map.range, (double) map.range, s.gainDb)
                             : 0.0;
    return { map.xForFrequency (s.frequencyHz), map.yForLevel (level) };
}

int CustomWeightedRmsEditor::ResponseGraph::nodeAt (juce::Point<float> p, const qvn::cwrms::PlotMap& map,
                                                    bool includeBypassed) const noexcept
{
    int best = -1;
    float bestDistance = qvn::cwrms::kHitRadius;
    for (int b = 0; b < 6; ++b)
    {
        if (! includeBypassed && ! panel.workingCopy.slots[(size_t) b].enabled)
            continue;
        const float d = p.getDistanceFrom (nodePosition (b, map));
        if (d <= bestDistance)
        {
            best = b;
            bestDistance = d;
        }
    }
    return best;
}

//==============================================================================
void CustomWeightedRmsEditor::ResponseGraph::mouseMove (const juce::MouseEvent& e)
{
    const auto map = currentMap();
    if (nodeAt (e.position, map, false) >= 0)
        setMouseCursor (juce::MouseCursor::DraggingHandCursor);
    else if (nodeAt (e.position, map, true) >= 0)
        setMouseCursor (juce::MouseCursor::PointingHandCursor);
    else
        setMouseCursor (juce::MouseCursor::NormalCursor);
}

void CustomWeightedRmsEditor::ResponseGraph::mouseExit (const juce::MouseEvent&)
{
    setMouseCursor (juce::MouseCursor::NormalCursor);
}

void CustomWeightedRmsEditor::ResponseGraph::mouseDown (const juce::MouseEvent& e)
{
    const auto map = currentMap();
    const int band = nodeAt (e.position, map, false);
    if (band < 0)
        return;

    dragging = true;
    panel.dragBand = band;
    // The node follows the pointer relative to where it was grabbed: a press
    // alone must not move a band (a click would otherwise round it to the
    // pixel under the pointer).
    grabOffset = e.position - nodePosition (band, map);
    panel.selectBand (band);
    repaint();
}

void CustomWeightedRmsEditor::ResponseGraph::mouseDrag (const juce::MouseEvent& e)
{
    const int band = panel.dragBand;
    if (! dragging || band < 0 || band > 5)
        return;
    const auto map = currentMap();
    const auto p = e.position - grabOffset;
    auto& s = panel.workingCopy.slots[(size_t) band];

    if (map.width > 0.0f)
    {
        const double t = juce::jlimit (0.0, 1.0, (double) (p.x - map.left) / (double) map.width);
        s.frequencyHz = std::round (20.0 * std::pow (1000.0, t));
    }
    else
        s.frequencyHz = 20.0;

    if (qvn::cwrms::typeUsesGain (s.type) && map.height > 0.0f)
    {
        const float y = juce::jlimit (map.top, map.bottom(), p.y);
        s.gainDb = (double) (y - map.bottom()) * 2.0 * (double) map.range / (double) (map.top - map.bottom())
                   - (double) map.range;
    }

    panel.workingCopyChanged (true);
}

void CustomWeightedRmsEditor::ResponseGraph::mouseUp (const juce::MouseEvent&)
{
    dragging = false;
    panel.dragBand = -1;
    repaint();
}

void CustomWeightedRmsEditor::ResponseGraph::mouseDoubleClick (const juce::MouseEvent& e)
{
    const int band = nodeAt (e.position, currentMap(), true);
    if (band < 0 || panel.workingCopy.slots[(size_t) band].enabled)
        return;
    panel.workingCopy.slots[(size_t) band].enabled = true;
    panel.selectBand (band);
    panel.workingCopyChanged (true);
}

void CustomWeightedRmsEditor::ResponseGraph::mouseWheelMove (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    // Away from the nodes the wheel is swallowed: the panel has nothing to scroll.
    const int band = nodeAt (e.position, currentMap(), false);
    if (band < 0)
        return;
    panel.selectBand (band);
    auto& s = panel.workingCopy.slots[(size_t) band];
    s.q *= std::pow (1.18, 5.0 * (double) wheel.deltaY);
    panel.workingCopyChanged (true);
}

void CustomWeightedRmsEditor::ResponseGraph::resized()
{
    curvesDirty = true;
    rangeButton.setBounds (56, 16, 54, 17);
}

//==============================================================================
void CustomWeightedRmsEditor::ResponseGraph::setRange (float rangeDb)
{
    panel.displayRangeDb = rangeDb;
    rangeButton.setButtonText (rangeCaption (rangeDb));
    curvesDirty = true;
    repaint();
}

void CustomWeightedRmsEditor::ResponseGraph::showRangeMenu()
{
    juce::PopupMenu menu;
    menu.setLookAndFeel (&panel.menuLook);
    for (int i = 0; i < (int) qvn::cwrms::kDisplayRanges.size(); ++i)
    {
        const float r = qvn::cwrms::kDisplayRanges[(size_t) i];
        menu.addItem (i + 1, rangeCaption (r), true, std::abs (r - panel.displayRangeDb) < 0.01f);
    }

    juce::Component::SafePointer<ResponseGraph> safe (this);
    menu.showMenuAsync (juce::PopupMenu::Options().withTargetComponent (&rangeButton).withDeletionCheck (*this),
                        [safe] (int id)
                        {
                            if (safe == nullptr || id < 1 || id > (int) qvn::cwrms::kDisplayRanges.size())
                                return;
                            safe->setRange (qvn::cwrms::kDisplayRanges[(size_t) (id - 1)]);
                        });
}

//==============================================================================
void CustomWeightedRmsEditor::ResponseGraph::rebuildCurves (const qvn::cwrms::PlotMap& map)
{
    const double processorRate = panel.processor.getSampleRate();
    const double rate = (std::isfinite (processorRate) && processorRate > 1000.0) ? processorRate : 48000.0;
    const int n = juce::jlimit (200, 1600, (int) std::ceil (1.5 * (double) map.width));

    auto trace = [&] (juce::Path& path, const DesignedCustomWeighting& designed)
    {
        path.clear();
        path.preallocateSpace (3 * n + 3);
        for (int k = 0; k < n; ++k)
        {
            const double t = juce::jlimit (0.0, 1.0, (double) k / (double) (n - 1));
            const double hz = 20.0 * std::pow (1000.0, t);
            const juce::Point<float> pt (map.left + (float) t * map.width,
                                         map.yForLevel (CustomWeightingDesigner::magnitudeDb (designed, hz)));
            if (k == 0)
                path.startNewSubPath (pt);
            else
                path.lineTo (pt);
        }
    };

    trace (totalCurve, CustomWeightingDesigner::design (panel.workingCopy, rate));
    for (int i = 0; i < 6; ++i)
    {
        auto single = panel.workingCopy;
        for (int j = 0; j < 6; ++j)
            single.slots[(size_t) j].enabled = (i == j);
        trace (bandCurves[(size_t) i], CustomWeightingDesigner::design (single, rate));
    }
}

juce::String CustomWeightedRmsEditor::ResponseGraph::valueReadout (const CustomSlotSettings& s)
{
    if (qvn::cwrms::typeUsesGain (s.type))
        return (s.gainDb >= 0.0 ? "+" : "") + juce::String (s.gainDb, 1) + " dB";
    return "Q " + juce::String (s.q, 2);
}

juce::String CustomWeightedRmsEditor::ResponseGraph::frequencyReadout (double hz)
{
    if (hz < 1000.0)
        return compactNumber (hz) + " Hz";
    return juce::String (hz / 1000.0, 2) + " kHz";
}

void CustomWeightedRmsEditor::ResponseGraph::paint (juce::Graphics& g)
{
    using namespace qvn::cwrms;
    const float W = (float) getWidth(), H = (float) getHeight();

    g.setColour (kSunkenCol);
    g.fillRoundedRectangle ({ 1.0f, 1.0f, W - 2.0f, H - 2.0f }, 7.0f);
    g.setColour (kDividerCol);
    g.drawRoundedRectangle ({ 1.5f, 1.5f, W - 3.0f, H - 3.0f }, 7.0f, 1.0f);

    const auto map = currentMap();
    if (map.width < 8.0f || map.height < 8.0f)
        return;

    if (curvesDirty || ! (map == cachedMap))
    {
        rebuildCurves (map);
        cachedMap = map;
        curvesDirty = false;
    }

    const auto gridCol = withAlphaByte (kDividerCol, 0x99);
    const auto labelCol = withAlphaByte (kText2Col, 0xbf);
    g.setFont (FlatLookAndFeel::dinFont (10.0f));

    // Level grid: seven lines inside the plot, the edges have none.
    const double r = map.range / 4.0;
    for (int i = 3; i >= -3; --i)
    {
        const double v = r * i;
        const int y = (int) map.yForLevel (v);
        g.setColour (gridCol);
        g.fillRect ((float) map.left, (float) y, map.width, 1.0f);
        g.setColour (labelCol);
        qvn::compat::drawText (g, (v > 0 ? "+" : "") + compactNumber (v), juce::Rectangle<int> (9, y - 6, 36, 12),
                               juce::Justification::centredRight, true);
    }

    // Frequency grid.
    const int plotLeft = (int) map.left, plotRight = (int) map.right(), plotBottom = (int) map.bottom();
    for (const auto& tick : kFreqTicks)
    {
        const int x = (int) map.xForFrequency (tick.hz);
        g.setColour (gridCol);
        g.fillRect ((float) x, map.top, 1.0f, map.height);
        g.setColour (labelCol);
        juce::Rectangle<int> box;
        auto just = juce::Justification::centred;
        if (tick.hz <= 20.0)
        {
            box = { plotLeft, plotBottom + 6, 30, 12 };
            just = juce::Justification::centredLeft;
        }
        else if (tick.hz >= 20000.0)
        {
            box = { plotRight - 30, plotBottom + 6, 30, 12 };
            just = juce::Justification::centredRight;
        }
        else
            box = { x - 15, plotBottom + 6, 30, 12 };
        qvn::compat::drawText (g, tick.label, box, just, true);
    }
    qvn::compat::drawText (g, "Hz", juce::Rectangle<int> (plotRight - 32, plotBottom - 15, 28, 12),
                           juce::Justification::centredRight, true);

    // Curves.
    {
        juce::Graphics::ScopedSaveState clip (g);
        g.reduceClipRegion (juce::Rectangle<float> (map.left, map.top, map.width, map.height).getSmallestIntegerContainer());
        const float zeroY = map.yForLevel (0.0);
        const juce::PathStrokeType thin (1.3f, juce::PathStrokeType::curved, juce::PathStrokeType::butt);

        for (int b = 0; b < 6; ++b)
        {
            const auto& s = panel.workingCopy.slots[(size_t) b];
            const bool selected = b == panel.selectedBand;
            const auto c = FlatUI::bandColour (b);
            if (s.enabled)
            {
                auto fill = bandCurves[(size_t) b];
                fill.lineTo (map.right(), zeroY);
                fill.lineTo (map.left, zeroY);
                fill.closeSubPath();
                g.setColour (withAlphaByte (c, selected ? 0x21 : 0x12));
                g.fillPath (fill);
            }
            g.setColour (withAlphaByte (c, ! s.enabled ? 0x1f : (selected ? 0xb2 : 0x4c)));
            g.strokePath (bandCurves[(size_t) b], thin);
        }

        g.setColour (kAccentCol);
        g.strokePath (totalCurve, juce::PathStrokeType (2.4f, juce::PathStrokeType::curved, juce::PathStrokeType::butt));
    }

    // Nodes: later bands on top.
    for (int b = 0; b < 6; ++b)
    {
        const auto& s = panel.workingCopy.slots[(size_t) b];
        const auto c = FlatUI::bandColour (b);
        const auto centre = nodePosition (b, map);
        juce::Rectangle<float> disc;
        juce::Colour ringCol;
        if (b == panel.selectedBand)
        {
            g.setColour (withAlphaByte (c, 0x33));
            g.fillEllipse (juce::Rectangle<float> (28.0f, 28.0f).withCentre (centre));
            disc = juce::Rectangle<float> (17.0f, 17.0f).withCentre (centre);
            g.setColour (kSunkenCol);
            g.fillEllipse (disc);
            ringCol = c;
            g.setColour (ringCol);
            g.drawEllipse (disc.reduced (1.0f), 2.0f);
        }
        else
        {
            disc = juce::Rectangle<float> (14.0f, 14.0f).withCentre (centre);
            g.setColour (s.enabled ? c : juce::Colour (0x667e7f83));
            g.fillEllipse (disc);
            ringCol = kSunkenCol;
            g.setColour (ringCol);
            g.drawEllipse (disc.reduced (0.5f), 1.0f);
        }
        g.setColour (ringCol);
        g.setFont (FlatLookAndFeel::dinFont (10.0f, juce::Font::bold));
        qvn::compat::drawText (g, juce::String (b + 1), disc.getSmallestIntegerContainer(),
                               juce::Justification::centred, true);
    }

    // Readout of the dragged band.
    const int d = panel.dragBand;
    if (d >= 0 && d <= 5)
    {
        const auto& s = panel.workingCopy.slots[(size_t) d];
        const auto node = nodePosition (d, map);
        const bool leftSide = node.x > map.left + 0.837f * map.width;
        const int X = (int) node.x + (leftSide ? -146 : 16);
        const int Y = (int) node.y;
        const auto just = leftSide ? juce::Justification::centredRight : juce::Justification::centredLeft;
        g.setFont (FlatLookAndFeel::dinFont (12.0f));
        g.setColour (kText2Col);
        qvn::compat::drawText (g, valueReadout (s), juce::Rectangle<int> (X, Y - 14, 130, 16), just, true);
        g.setColour (kTextCol);
        qvn::compat::drawText (g, frequencyReadout (s.frequencyHz), juce::Rectangle<int> (X, Y + 1, 130, 18), just, true);
    }
}
