#include "weighting_editor/CustomWeightedRmsEditor.h"

#include "ui/JuceCompat.h"

#include "dsp/CustomWeightingDesigner.h"

#include <cmath>

CustomWeightedRmsEditor::ResponseGraph::ResponseGraph (CustomWeightedRmsEditor& owner) : panel (owner) {}

CustomWeightedRmsEditor::ResponseGraph::~ResponseGraph() = default;

void CustomWeightedRmsEditor::ResponseGraph::paint (juce::Graphics& g)
{
    using namespace qvn::cwrms;
    const auto area = getLocalBounds().toFloat();
    g.setColour (kSunkenCol);
    g.fillRoundedRectangle (area, 6.0f);
    g.setColour (kDividerCol);
    g.drawRoundedRectangle (area.reduced (0.5f), 6.0f, 1.0f);

    const auto plot = area.reduced (10.0f, 10.0f);
    const float range = juce::jmax (1.0f, panel.displayRangeDb);
    auto yFor = [&] (double db)
    {
        const auto d = juce::jlimit (-(double) range, (double) range, db);
        return plot.getCentreY() - (float) (d / range) * plot.getHeight() * 0.5f;
    };
    auto xFor = [&] (double hz)
    {
        return plot.getX() + (float) (std::log (hz / 20.0) / std::log (1000.0)) * plot.getWidth();
    };

    g.setColour (kDividerCol);
    for (double hz : { 100.0, 1000.0, 10000.0 })
        g.fillRect (xFor (hz), plot.getY(), 1.0f, plot.getHeight());
    g.fillRect (plot.getX(), yFor (0.0), plot.getWidth(), 1.0f);

    if (dirty || curveArea != plot)
    {
        const auto design = CustomWeightingDesigner::design (panel.workingCopy, 48000.0);
        curve.clear();
        const int n = juce::jmax (2, (int) plot.getWidth());
        for (int i = 0; i < n; ++i)
        {
            const double hz = 20.0 * std::pow (1000.0, (double) i / (double) (n - 1));
            const auto pt = juce::Point<float> (xFor (hz), yFor (CustomWeightingDesigner::magnitudeDb (design, hz)));
            if (i == 0)
                curve.startNewSubPath (pt);
            else
                curve.lineTo (pt);
        }
        curveArea = plot;
        dirty = false;
    }

    g.setColour (kAccentCol);
    g.strokePath (curve, juce::PathStrokeType (1.6f));

    for (int b = 0; b < 6; ++b)
    {
        const auto& s = panel.workingCopy.slots[(size_t) b];
        const auto c = FlatUI::bandColour (b);
        const juce::Point<float> node (xFor (s.frequencyHz), yFor (0.0));
        g.setColour (s.enabled ? c : withAlphaFactor (c, 0.35f));
        g.fillEllipse (juce::Rectangle<float> (9.0f, 9.0f).withCentre (node));
    }
}
