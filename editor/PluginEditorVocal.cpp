#include "editor/PluginEditor.h"

#include <cmath>

//==============================================================================
void styleInlineValueEditor (juce::Label& label, juce::TextEditor& editor)
{
    editor.setJustification (juce::Justification::bottomRight);
    if (editor.getLeftIndent() != 0 || editor.getTopIndent() != 0)
        editor.setIndents (0, 0);

    const auto border = label.getBorderSize();
    editor.setBorder (juce::BorderSize<int> (border.getTop(), border.getLeft(), border.getBottom(),
                                             juce::jmax (0, border.getRight() - 2)));

    const auto font = label.getFont();
    editor.applyFontToAllText (font);

    const int h = juce::jmin (label.getHeight(),
                              border.getTop() + border.getBottom() + (int) std::ceil (font.getHeight()));
    editor.setBounds (0, label.getHeight() - h, label.getWidth(), h);

    for (auto id : { juce::TextEditor::backgroundColourId, juce::TextEditor::outlineColourId,
                     juce::TextEditor::focusedOutlineColourId })
        editor.setColour (id, juce::Colour (0x00000000));
}

namespace
{
// The trim range a chart can show: ordered, inside 0..1 and at least one
// block (1 / points) wide, moved back from the end rather than past it.
juce::Range<float> chartTrimRange (float start, float end, size_t points)
{
    float lo = juce::jlimit (0.0f, 1.0f, std::min (start, end));
    float hi = juce::jlimit (0.0f, 1.0f, std::max (start, end));
    const float span = points > 0 ? 1.0f / (float) points : 1.0f;
    if (lo + span > 1.0f)
        return { std::max (0.0f, 1.0f - span), 1.0f };
    return { lo, std::max (hi, lo + span) };
}

size_t chartPoints (const LearnHistoryChart& chart)
{
    return std::max (chart.historyData.selfSeries.size(), chart.historyData.partnerSeries.size());
}

bool takeTrim (LearnHistoryChart& chart, juce::Range<float> r, bool finalised)
{
    if (r.getStart() == chart.trimStart && r.getEnd() == chart.trimEnd && finalised == chart.trimEditable)
        return false;
    chart.trimStart = r.getStart();
    chart.trimEnd = r.getEnd();
    chart.trimEditable = finalised;
    return true;
}

void takeLength (LearnHistoryChart& chart, float seconds)
{
    if (std::abs (chart.lengthSeconds - seconds) > 0.05f)
    {
        chart.lengthSeconds = seconds;
        chart.repaint();
    }
}

void clearChart (LearnHistoryChart& chart)
{
    // clear() keeps the capacity, so a new measurement's live points do not
    // reallocate on every tick.
    chart.historyData.selfSeries.clear();
    chart.historyData.partnerSeries.clear();
    chart.historyData.belowGate.clear();
    chart.trimStart = 0.0f;
    chart.trimEnd = 1.0f;
    chart.trimEditable = false;
    chart.repaint();
}

void hideGainCurve (LearnHistoryChart& chart)
{
    if (chart.showGainCurve)
    {
        chart.showGainCurve = false;
        chart.totalGainDb = 0.0f;
        chart.repaint();
    }
}
} // namespace

void applyHistorySnapshot (LearnHistoryChart& chart, const QuorvaneProcessor::LearnHistorySnapshot& snapshot)
{
    chart.historyData.selfSeries = snapshot.selfSeries;
    chart.historyData.partnerSeries = snapshot.partnerSeries;
    chart.historyData.belowGate = snapshot.belowGate;
    chart.repaint();

    takeLength (chart, snapshot.lengthSeconds);

    const auto n = std::max (snapshot.selfSeries.size(), snapshot.partnerSeries.size());
    if (takeTrim (chart, chartTrimRange (snapshot.trimStart, snapshot.trimEnd, n), snapshot.finalised))
        chart.repaint();
}

//==============================================================================
int QuorvaneEditor::displayedSection() const
{
    // The same rule the refresh uses for what the Vocal view shows, so that
    // the buttons, the typed value and the chart act on the section on screen
    // and not on a host value the processor has not committed yet.
    const int measuring = proc.measuringSectionIndex();
    return measuring >= 0 ? juce::jlimit (0, 15, measuring) : juce::jlimit (0, 15, proc.committedSection.load());
}

void QuorvaneEditor::initVocalGainActions()
{
    matchButton.onClick = [this] { handleMatchClick(); };

    offsetValue.setEditable (false, true, false);
    offsetValue.onEditorShow = [this]
    {
        if (auto* ed = offsetValue.getCurrentTextEditor())
        {
            styleInlineValueEditor (offsetValue, *ed);
            ed->setTooltip (offsetValue.getTooltip());
        }
    };
    offsetValue.onTextChange = [this] { commitTypedOffset(); };

    sectionChart.onTrimChanged = [this] (float start, float end) { handleSectionTrim (start, end); };
}

void QuorvaneEditor::handleMatchClick()
{
    auto& slot = *proc.ownSlot;
    const int s = displayedSection();
    auto& section = proc.sections[(size_t) s];
    auto& own = slot.ownSections[(size_t) s];

    // A locked section only holds the run open (or lets it go): the run then
    // moves on to the next unlocked section that becomes current.
    if (section.locked.load())
    {
        proc.runHeldOpen.store (! proc.runHeldOpen.load());
        return;
    }

    if (own.measuring.load() || proc.runHeldOpen.load() || proc.armedSectionStart.load())
    {
        proc.pushUndoSnapshot();
        proc.runHeldOpen.store (false);
        proc.armedSectionStart.store (false);
        proc.deferredSectionIndex.store (-1);
        own.measuring.store (false);
        own.elapsedSeconds.store (0.0f);
        slot.signalStop();   // both audio threads publish what they measured
        return;
    }

    proc.pushUndoSnapshot();

    // Stopped with the transport link on: the start waits for playback. The
    // section goes in before the flag that the audio thread tests.
    if (proc.linkMeasurementToTransport.load() && proc.playHeadSeen.load() && ! proc.hostPlaying.load())
    {
        proc.deferredSectionIndex.store (s);
        proc.armedSectionStart.store (true);
        return;
    }

    // The result goes before the analysis reset and the start counter, in
    // the order the audio thread and the asynchronous update read them.
    section.frozen.store (false);
    section.selfLufs.store (-120.0f);
    section.partnerLufs.store (-120.0f);
    section.gainDb.store (0.0f);
    section.seconds.store (0.0f);
    proc.resetSectionAnalysis (s, false);
    proc.kickSectionMeasurement (s);
}

void QuorvaneEditor::commitTypedOffset()
{
    // Read as the framework reads a number (leading number, rest ignored,
    // letters give 0), but never let a non-finite value through: "nan",
    // "inf" or an overflowing exponent leave the parameter as it is.
    const double typed = offsetValue.getText().getDoubleValue();
    const int s = displayedSection();

    // Whatever was typed, the label shows the section's value afterwards: the
    // refresh rewrites it only when the value moves, and a refused or clamped
    // entry would otherwise stay on screen.
    const juce::ScopeGuard showValue { [this, s] { offsetValue.setText (fmtSigned (proc.getSectionOffset (s)), juce::dontSendNotification); } };

    if (! std::isfinite (typed) || proc.sections[(size_t) s].locked.load())
        return;

    auto* param = proc.parameters.getParameter (QuorvaneProcessor::offsetParameterId (s));
    if (param == nullptr)
        return;

    const float v = (float) juce::jlimit (-12.0, 12.0, typed);
    param->beginChangeGesture();
    param->setValueNotifyingHost (param->convertTo0to1 (v));
    param->endChangeGesture();
}

void QuorvaneEditor::handleSectionTrim (float start, float end)
{
    const int r = displayedSection();
    auto& section = proc.sections[(size_t) r];

    if (! section.locked.load() && section.frozen.load())
    {
        std::unique_lock<std::mutex> lock (proc.analysisMutex);
        const auto n = std::min (section.selfHistory.size(), section.partnerHistory.size());
        if (n > 0)
        {
            start = juce::jlimit (0.0f, 1.0f, start);
            end = juce::jlimit (0.0f, 1.0f, end);
            float lo = std::min (start, end), hi = std::max (start, end);
            const float g = 1.0f / (float) n;
            if (hi - lo < g)
            {
                hi = std::min (lo + g, 1.0f);
                if (hi - lo < g)
                    lo = std::max (hi - g, 0.0f);
            }

            if (std::abs (section.trimStart.load() - lo) >= 0.0001f || std::abs (section.trimEnd.load() - hi) >= 0.0001f)
            {
                // The undo snapshot takes the same (non-recursive) mutex.
                lock.unlock();
                proc.pushUndoSnapshot();
                lock.lock();
                section.trimStart.store (lo);
                section.trimEnd.store (hi);
                if (proc.recomputeSectionFromTrim (r))
                    proc.historyRevision[(size_t) r].store (proc.revisionCounter.fetch_add (1) + 1);
            }
        }
    }

    // Also for a locked section or one without a result: the handles go back
    // to what the processor holds.
    syncSectionChartTrim (r);
}

void QuorvaneEditor::syncSectionChartTrim (int section)
{
    const auto snap = proc.getLearnHistorySnapshot (section);
    if (! snap.valid)
        return;

    takeLength (sectionChart, snap.lengthSeconds);
    if (takeTrim (sectionChart, chartTrimRange (snap.trimStart, snap.trimEnd, chartPoints (sectionChart)), snap.finalised))
        sectionChart.repaint();
}

//==============================================================================
void QuorvaneEditor::refreshSectionChart()
{
    auto& chart = sectionChart;

    if (currentRole() != 2)
    {
        chartSection = -1;
        sectionChartWasMeasuring = false;
        sectionChartKey.valid = false;
        hideGainCurve (chart);
        return;
    }

    const int s = juce::jlimit (0, 15, shownSection);
    if (s != chartSection)
    {
        chartSection = s;
        sectionChartWasMeasuring = false;
        sectionChartKey.valid = false;
        clearChart (chart);
    }

    const bool measuring = proc.measuringSectionIndex() >= 0;
    if (measuring)
    {
        if (! sectionChartWasMeasuring)
        {
            clearChart (chart);
            // About a minute of ticks ahead, so that a running measurement
            // grows the series without reallocating every few ticks.
            for (auto* series : { &chart.historyData.selfSeries, &chart.historyData.partnerSeries })
                series->reserve (1200);
            chart.historyData.belowGate.reserve (1200);
        }

        const bool rms = juce::jlimit (0, 2, proc.measMode.load()) > 0;
        const float after = rms ? proc.meterVocalRmsPostGain.load() : proc.meterVocalMomentaryPostGain.load();
        const float inst = rms ? proc.meterInstRms.load() : proc.meterInstMomentary.load();
        const float before = rms ? proc.meterVocalRms.load() : proc.meterVocalMomentary.load();
        chart.push (after, inst, before < -70.0f);
        hideGainCurve (chart);
        sectionChartWasMeasuring = true;
        return;
    }

    const auto& section = proc.sections[(size_t) chartSection];
    if (chart.dragMode == 0)
    {
        SectionChartKey key;
        key.valid = true;
        key.section = chartSection;
        key.revision = proc.historyRevision[(size_t) chartSection].load();
        key.mode = juce::jlimit (0, 2, proc.measMode.load());
        key.rmsTime = proc.rmsTimeSec.load();
        key.settingsGeneration = proc.customSettingsGeneration.load();
        key.locked = section.locked.load();

        const auto& old = sectionChartKey;
        const bool same = old.valid && old.section == key.section && old.revision == key.revision && old.mode == key.mode
                          && std::abs (old.rmsTime - key.rmsTime) <= 0.001f
                          && old.settingsGeneration == key.settingsGeneration && old.locked == key.locked;

        if (! same || sectionChartWasMeasuring)
        {
            const auto snap = proc.getLearnHistorySnapshot (chartSection);
            if (snap.valid)
            {
                applyHistorySnapshot (chart, snap);
                sectionChartKey = key;
            }
            else if (sectionChartWasMeasuring)
            {
                // Just stopped and not stored yet: the live points stay and
                // the next tick tries again.
                sectionChartKey.valid = false;
            }
            else
            {
                clearChart (chart);
                sectionChartKey = key;
            }
        }
    }

    if (section.frozen.load() && chartPoints (chart) > 0)
    {
        const float self = section.selfLufs.load(), partner = section.partnerLufs.load();
        const float offset = section.locked.load() ? proc.storedOffsets[(size_t) chartSection].load()
                                                   : proc.getSectionOffset (chartSection);
        const float gain = self <= -119.5f || partner <= -119.5f ? 0.0f : offset + partner - self;
        if (! chart.showGainCurve || std::abs (chart.totalGainDb - gain) > 0.01f)
        {
            chart.totalGainDb = gain;
            chart.showGainCurve = true;
            chart.repaint();
        }
    }
    else
    {
        hideGainCurve (chart);
    }

    sectionChartWasMeasuring = false;
}
