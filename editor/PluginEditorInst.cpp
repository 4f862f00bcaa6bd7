// The Target LUFS view of the Inst instance: its buttons, inline edits, slider
// undo marks, the INST chart's trim handles and the INST Learn History refresh.

#include "editor/PluginEditor.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace
{
/** Orders a trim range, keeps it within 0..1 and at least one block (1 / n)
    wide, moving it back to end at 1 when widening would pass the end. */
void fitTrimToBlocks (float& lo, float& hi, std::size_t n)
{
    const float a = juce::jlimit (0.0f, 1.0f, std::min (lo, hi));
    const float b = juce::jlimit (0.0f, 1.0f, std::max (lo, hi));
    const float span = n > 0 ? 1.0f / (float) n : 1.0f;

    if (a + span > 1.0f)
    {
        lo = std::max (0.0f, 1.0f - span);
        hi = 1.0f;
    }
    else
    {
        lo = a;
        hi = std::max (b, a + span);
    }
}

/** The trim the user dragged, as the processor keeps it: ordered, within 0..1
    and never narrower than one block, widened towards the end of the series
    unless that passes it. */
void normaliseDraggedTrim (float start, float end, std::size_t n, float& lo, float& hi)
{
    const auto clamp01 = [] (float v) { return std::isfinite (v) ? juce::jlimit (0.0f, 1.0f, v) : 0.0f; };
    start = clamp01 (start);
    end = clamp01 (end);
    lo = std::min (start, end);
    hi = std::max (start, end);
    const float g = 1.0f / (float) std::max<std::size_t> (n, 1);

    if (hi - lo < g)
        hi = std::min (lo + g, 1.0f);

    if (hi - lo < g)
        lo = std::max (hi - g, 0.0f);
}

void clearChart (LearnHistoryChart& chart)
{
    chart.historyData.selfSeries.clear();
    chart.historyData.partnerSeries.clear();
    chart.historyData.belowGate.clear();
    chart.trimStart = 0.0f;
    chart.trimEnd = 1.0f;
    chart.trimEditable = false;
    chart.repaint();
}

bool chartHasPoints (const LearnHistoryChart& chart)
{
    return ! chart.historyData.selfSeries.empty() || ! chart.historyData.partnerSeries.empty();
}

std::size_t chartBlocks (const LearnHistoryChart& chart)
{
    return std::max (chart.historyData.selfSeries.size(), chart.historyData.partnerSeries.size());
}

/** The decimal number at the start of a typed text, or nothing when the text
    holds no digit or reads as a number that is not finite. */
std::optional<float> typedNumber (const juce::String& text)
{
    const auto t = text.trim();

    if (! t.containsAnyOf ("0123456789"))
        return std::nullopt;

    const auto v = (float) t.getDoubleValue();

    if (! std::isfinite (v))
        return std::nullopt;

    return v;
}
} // namespace

//==============================================================================
void styleInlineValueEditor (juce::Label& label, juce::TextEditor& editor)
{
    editor.setJustification (juce::Justification::bottomRight);

    if (editor.getLeftIndent() != 0 || editor.getTopIndent() != 0)
        editor.setIndents (0, 0);

    const auto border = label.getBorderSize();
    editor.setBorder ({ border.getTop(), border.getLeft(), border.getBottom(), std::max (0, border.getRight() - 2) });

    const auto font = label.getFont();
    editor.applyFontToAllText (font);

    const int h = std::min (label.getHeight(), border.getTop() + border.getBottom() + (int) std::ceil (font.getHeight()));
    editor.setBounds (0, label.getHeight() - h, label.getWidth(), h);

    const juce::Colour none (0x00000000);
    editor.setColour (juce::TextEditor::backgroundColourId, none);
    editor.setColour (juce::TextEditor::outlineColourId, none);
    editor.setColour (juce::TextEditor::focusedOutlineColourId, none);
}

void applyHistorySnapshot (LearnHistoryChart& chart, const QuorvaneProcessor::LearnHistorySnapshot& snapshot)
{
    chart.historyData.selfSeries = snapshot.selfSeries;
    chart.historyData.partnerSeries = snapshot.partnerSeries;
    chart.historyData.belowGate = snapshot.belowGate;
    chart.repaint();

    if (std::abs (chart.lengthSeconds - snapshot.lengthSeconds) > 0.05f)
    {
        chart.lengthSeconds = snapshot.lengthSeconds;
        chart.repaint();
    }

    float lo = snapshot.trimStart, hi = snapshot.trimEnd;
    fitTrimToBlocks (lo, hi, std::max (snapshot.selfSeries.size(), snapshot.partnerSeries.size()));

    if (lo != chart.trimStart || hi != chart.trimEnd || snapshot.finalised != chart.trimEditable)
    {
        chart.trimStart = lo;
        chart.trimEnd = hi;
        chart.trimEditable = snapshot.finalised;
        chart.repaint();
    }
}

//==============================================================================
void QuorvaneEditor::initInstHandlers()
{
    setInstTargetButton.onClick = [this]
    {
        proc.instTargetUiOpen.store (true);
        updateRoleVisibility();
    };
    backToInstStatusButton.onClick = [this]
    {
        proc.instTargetUiOpen.store (false);
        updateRoleVisibility();
    };

    instMeasureButton.onClick = [this] { clickInstMeasureButton(); };

    instOffsetSlider.onDragStart = [this]
    {
        const auto now = juce::Time::getMillisecondCounter();
        if (proc.instOffsetDragActive)
            return;
        proc.instOffsetDragActive = true;
        proc.instOffsetUndoTimeMs = now;
        proc.pushUndoSnapshot();
    };
    instOffsetSlider.onDragEnd = [this]
    {
        proc.instOffsetDragActive = false;
        proc.instOffsetUndoTimeMs = juce::Time::getMillisecondCounter();
    };

    // Only what a level can be written with gets into the two values.
    const auto restrictEditor = [] (juce::Label& label, int maxLength)
    {
        if (auto* editor = label.getCurrentTextEditor())
        {
            styleInlineValueEditor (label, *editor);
            editor->setInputRestrictions (maxLength, "0123456789.+-");
        }
    };
    targetLufsValue.onEditorShow = [this, restrictEditor] { restrictEditor (targetLufsValue, 7); };
    targetLufsValue.onTextChange = [this] { commitTargetLufsText(); };
    instOffsetValue.onEditorShow = [this, restrictEditor] { restrictEditor (instOffsetValue, 6); };
    instOffsetValue.onTextChange = [this] { commitInstOffsetText(); };

    instChart.onTrimChanged = [this] (float start, float end) { instTrimChanged (start, end); };
}

void QuorvaneEditor::clickInstMeasureButton()
{
    // Every press is one undo step, taken before its change.
    if (proc.instMeasuring.load() || proc.armedInstStart.load())
    {
        proc.pushUndoSnapshot();
        proc.armedInstStart.store (false);

        // The end of playback may stop the run on the audio thread at the same
        // moment: whichever clears instMeasuring first makes the one stop.
        if (proc.instMeasuring.load())
        {
            if (proc.instMeasuring.exchange (false))
                proc.stopInstMeasurement();
            proc.instFinalizeWaitTicks = 0;
        }
        return;
    }

    proc.pushUndoSnapshot();

    if (proc.linkMeasurementToTransport.load() && proc.playHeadSeen.load() && ! proc.hostPlaying.load())
    {
        proc.armedInstStart.store (true);
        return;
    }

    proc.startInstMeasurement();
}

void QuorvaneEditor::commitTargetLufsText()
{
    const auto v = typedNumber (targetLufsValue.getText());

    if (! v.has_value())
        return;

    auto* param = proc.parameters.getParameter (ids::targetLufs);

    if (param == nullptr)
        return;

    param->setValueNotifyingHost (param->convertTo0to1 (juce::jlimit (-36.0f, -6.0f, *v)));
}

void QuorvaneEditor::commitInstOffsetText()
{
    const auto v = typedNumber (instOffsetValue.getText());

    if (! v.has_value())
        return;

    auto* param = proc.parameters.getParameter (ids::instOffset);

    if (param == nullptr)
        return;

    param->beginChangeGesture();
    param->setValueNotifyingHost (param->convertTo0to1 (juce::jlimit (-6.0f, 6.0f, *v)));
    param->endChangeGesture();
}

void QuorvaneEditor::instTrimChanged (float start, float end)
{
    if (proc.instFrozen.load())
    {
        std::unique_lock<std::mutex> lock (proc.analysisMutex);
        const auto n = proc.instHistory.size();

        if (n > 0)
        {
            float lo = 0.0f, hi = 1.0f;
            normaliseDraggedTrim (start, end, n, lo, hi);

            if (std::abs (proc.instTrimStart.load() - lo) >= 0.0001f || std::abs (proc.instTrimEnd.load() - hi) >= 0.0001f)
            {
                // Taking the undo snapshot locks the same mutex.
                lock.unlock();
                proc.pushUndoSnapshot();
                lock.lock();

                proc.instTrimStart.store (lo);
                proc.instTrimEnd.store (hi);

                // The history may have been replaced while the lock was open.
                const auto& history = proc.instHistory;

                if (! history.empty())
                {
                    normaliseDraggedTrim (lo, hi, history.size(), lo, hi);
                    proc.instTrimStart.store (lo);
                    proc.instTrimEnd.store (hi);
                    const auto level = LoudnessMeter::computeLUFSFromRange (history, lo, hi);
                    proc.instMeasuredLufs.store (level);

                    if (level > -119.5f)
                    {
                        auto* raw = proc.parameters.getRawParameterValue (ids::targetLufs);
                        const float target = raw != nullptr ? raw->load() : -18.0f;
                        proc.instMatchGain.store (juce::jlimit (-24.0f, 24.0f, target - level));
                    }

                    proc.historyRevision[(std::size_t) QuorvaneProcessor::numSectionSlots].store (
                        proc.revisionCounter.fetch_add (1) + 1);
                }
            }
        }
    }

    // The handles go where the processor now keeps the range: a drag that
    // changed nothing springs back.
    const auto snapshot = proc.getInstLearnHistorySnapshot();

    if (std::abs (instChart.lengthSeconds - snapshot.lengthSeconds) > 0.05f)
    {
        instChart.lengthSeconds = snapshot.lengthSeconds;
        instChart.repaint();
    }

    float lo = snapshot.trimStart, hi = snapshot.trimEnd;
    fitTrimToBlocks (lo, hi, chartBlocks (instChart));

    if (lo != instChart.trimStart || hi != instChart.trimEnd || snapshot.finalised != instChart.trimEditable)
    {
        instChart.trimStart = lo;
        instChart.trimEnd = hi;
        instChart.trimEditable = snapshot.finalised;
        instChart.repaint();
    }
}

//==============================================================================
void QuorvaneEditor::refreshInstChart()
{
    const auto revisionNow = [this]
    {
        return proc.historyRevision[(std::size_t) QuorvaneProcessor::numSectionSlots].load();
    };
    bool showCurve = false;

    if (proc.instMeasuring.load())
    {
        if (! wasInstMeasuring)
        {
            clearChart (instChart);
            if (std::abs (instChart.lengthSeconds) > 0.05f)
            {
                instChart.lengthSeconds = 0.0f;
                instChart.repaint();
            }
            instChartValid = false;
        }

        const float live = proc.instLiveMomentary.load();
        instChart.push (live, 0.0f, live < -70.0f);
        wasInstMeasuring = true;
    }
    else
    {
        if (wasInstMeasuring)
        {
            // The run has just stopped: its result replaces the live points
            // once the processor has stored it, even under a dragged handle.
            const auto revision = revisionNow();
            const auto snapshot = proc.getInstLearnHistorySnapshot();

            if (snapshot.valid)
            {
                applyHistorySnapshot (instChart, snapshot);
                instChartRevision = revision;
                instChartValid = true;
            }
            else
            {
                instChartValid = false;
            }
        }
        else if (instChart.dragMode == 0 && (! instChartValid || revisionNow() != instChartRevision))
        {
            const auto revision = revisionNow();
            const auto snapshot = proc.getInstLearnHistorySnapshot();

            if (snapshot.valid)
                applyHistorySnapshot (instChart, snapshot);
            else if (chartHasPoints (instChart))
                clearChart (instChart);

            instChartRevision = revision;
            instChartValid = true;
        }

        wasInstMeasuring = false;
        showCurve = proc.instFrozen.load() && chartHasPoints (instChart);
    }

    auto paramValue = [this] (const char* id, float fallback)
    {
        auto* raw = proc.parameters.getRawParameterValue (id);
        return raw != nullptr ? raw->load() : fallback;
    };

    const float offset = proc.instMatchGain.load() + paramValue (ids::instOffset, 0.0f);
    if (instChart.showGainCurve != showCurve || (showCurve && std::abs (instChart.totalGainDb - offset) > 0.01f))
    {
        instChart.totalGainDb = offset;
        instChart.showGainCurve = showCurve;
        instChart.repaint();
    }

    const float target = paramValue (ids::targetLufs, -18.0f);
    if (! instChart.showTargetLine || std::abs (instChart.targetLineLufs - target) > 0.01f)
    {
        instChart.targetLineLufs = target;
        instChart.showTargetLine = true;
        instChart.repaint();
    }
}
