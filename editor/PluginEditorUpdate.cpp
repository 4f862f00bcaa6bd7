#include "editor/PluginEditor.h"

#include <cmath>
#include <iomanip>
#include <locale>
#include <sstream>

//==============================================================================
void QuorvaneEditor::timerCallback()
{
    const int measuringIndex = proc.measuringSectionIndex();
    shownSection = measuringIndex >= 0 ? measuringIndex : juce::jlimit (0, 15, proc.committedSection.load());

    rebuildSectionViews();

    // A state restored by the host may name another Offset Target.
    applyOffsetTargetSelection();

    const int role = currentRole();
    const int conflict = proc.roleConflict.load() ? 1 : 0;
    const int instView = proc.instTargetUiOpen.load() ? 1 : 0;
    if (role != lastRole || conflict != lastConflict || instView != lastInstView)
    {
        lastRole = role;
        lastConflict = conflict;
        lastInstView = instView;
        instTab.setToggleState (role == 1, juce::dontSendNotification);
        vocalTab.setToggleState (role == 2, juce::dontSendNotification);
        updateRoleVisibility();
        repaint();
    }

    refreshRoleTabText();

    if (proc.numSections.load() != lastNumSections)
    {
        applyLayoutForNumSections (proc.numSections.load());
        updateRoleVisibility();
    }

    if (role != 2)
        tickVisibleOthers.clear();
    const auto& others = role == 2 ? tickOtherVocalSlots() : tickVisibleOthers;
    const int k = (int) others.size();
    if (k != otherVocalMeterCount)
        rebuildOtherVocalMeters (k);

    refreshStatusLine();

    if (undoButton != nullptr && undoButton->isEnabled() == proc.undoStack.empty())
        undoButton->setEnabled (! proc.undoStack.empty());
    if (redoButton != nullptr && redoButton->isEnabled() == proc.redoStack.empty())
        redoButton->setEnabled (! proc.redoStack.empty());

    refreshABControls();

    refreshSectionChart();

    if (role == 2)
    {
        refreshVocalMeters();
        refreshOtherVocalBars();
        refreshMeasureStates();

        // The section cells, the shown view, the detail card, the controls and
        // the MATCH TO INST button, in that order.
        refreshSectionRows();
        return;
    }

    if (role == 1)
    {
        runInstDuties();
        if (conflict != 0 || instView == 0)
            return;

        refreshInstChart();
        refreshInstView();

        refreshInstMeters();
    }
}

void QuorvaneEditor::refreshStatusLine()
{
    const int role = currentRole();

    // The text is only built when the link state it describes moved.
    const int kind = proc.roleConflict.load() ? (role == 1 ? 0 : 1)
                                              : (proc.hasPartner.load() ? (role == 1 ? 2 : 3) : 4);
    const int count = kind == 2 ? proc.partnerCount.load() : 0;
    if (kind == statusKind && count == statusCount)
        return;
    statusKind = kind;
    statusCount = count;

    juce::Colour colour;
    juce::String text;
    switch (kind)
    {
        case 0:
        case 1:
            colour = qvn::theme::kErrorCol;
            text = "another instance already uses " + juce::String (kind == 0 ? "Inst" : "this role");
            break;
        case 2:
            colour = qvn::theme::kGreenCol;
            text = "Connected to " + juce::String (count) + " Vocal" + (count == 1 ? "" : "s");
            break;
        case 3:
            colour = qvn::theme::kGreenCol;
            text = "Connected to partner instance";
            break;
        default:
            colour = qvn::theme::kOrangeCol;
            text = "Not connected (set roles on both sides)";
            break;
    }

    statusLabel.setColour (juce::Label::textColourId, colour);
    statusLabel.setText (text, juce::dontSendNotification);
}

void QuorvaneEditor::rebuildSectionViews()
{
    // The per-section display records the rows, cells and badges are drawn
    // from. Only the fields the painters use count as a change.
    bool changed = false;
    const auto slot = proc.ownSlot;
    const int n = juce::jlimit (0, 16, proc.numSections.load());
    for (int i = 0; i < n; ++i)
    {
        const auto& s = proc.sections[(size_t) i];
        SectionRowView v;
        v.section = i;
        v.selfLufs = s.selfLufs.load();
        v.partnerLufs = s.partnerLufs.load();
        v.gainDb = s.gainDb.load();
        v.offsetDb = proc.getSectionOffset (i);
        v.frozen = s.frozen.load();
        v.hasVocal = v.frozen && v.selfLufs > -119.5f;
        v.hasInst = v.frozen && v.partnerLufs > -119.5f;
        v.hasBoth = v.hasVocal && v.hasInst;
        v.linkGroup = s.linkGroup.load();
        v.bypass = s.bypass.load();
        v.locked = s.locked.load();
        v.needsRemeasure = s.needsRemeasure.load();
        v.measuring = slot != nullptr && slot->ownSections[(size_t) i].measuring.load();
        v.elapsed = slot != nullptr ? slot->ownSections[(size_t) i].elapsedSeconds.load() : 0.0f;
        v.isShown = i == shownSection;
        v.seconds = v.measuring ? v.elapsed : s.seconds.load();
        if (v.measuring)
            v.shownSeconds = v.elapsed;
        else if (v.frozen && v.isShown && s.analysisSeconds.load() > 0.05f)
            v.shownSeconds = s.analysisSeconds.load();
        else
            v.shownSeconds = v.frozen ? v.seconds : 0.0f;

        auto& old = sectionRowViews[(size_t) i];
        if (! changed)
            changed = old.section != v.section || old.measuring != v.measuring || old.isShown != v.isShown
                      || old.hasBoth != v.hasBoth || old.linkGroup != v.linkGroup
                      || old.selfLufs != v.selfLufs || old.gainDb != v.gainDb;
        old = v;
    }

    sectionsChangedThisTick = changed;
    if (changed)
    {
        sectionListContent.repaint();
        if (! stepperBadgeRect.isEmpty())
            repaint (stepperBadgeRect);
    }
}

//==============================================================================
const std::vector<std::shared_ptr<LinkSlot>>& QuorvaneEditor::tickOtherVocalSlots()
{
    // The list is copied under the partner lock only when the registry rewrote
    // it; the audio thread takes that lock while links change, so a quiet tick
    // must not.
    if (proc.otherVocalGeneration.load() != linkedOtherVocalsGeneration)
    {
        std::lock_guard<std::mutex> lock (proc.partnerMutex);
        linkedOtherVocals = proc.otherVocalSlots;
        linkedOtherVocalsGeneration = proc.otherVocalGeneration.load();
    }

    const auto mask = (std::uint32_t) proc.hiddenVocalMask.load();
    tickVisibleOthers.clear();
    for (const auto& s : linkedOtherVocals)
    {
        const int n = s != nullptr ? s->vocalNumber.load() : 0;
        if (! (n >= 1 && n <= 32 && (mask & (1u << (n - 1))) != 0))
            tickVisibleOthers.push_back (s);
    }
    return tickVisibleOthers;
}

void QuorvaneEditor::refreshLinkedInstSlot()
{
    if (proc.partnerGeneration.load() == linkedInstGeneration)
        return;

    // A Vocal's only partner is its Inst; the role its audio thread publishes
    // confirms it once audio has run.
    std::lock_guard<std::mutex> lock (proc.partnerMutex);
    linkedInstSlot = proc.partnerSlots.empty() ? nullptr : proc.partnerSlots.front();
    for (const auto& s : proc.partnerSlots)
        if (s != nullptr && s->role.load() == 1)
        {
            linkedInstSlot = s;
            break;
        }
    linkedInstGeneration = proc.partnerGeneration.load();
}

void QuorvaneEditor::refreshABControls()
{
    const int ab = proc.currentAB.load() == 1 ? 1 : 0;
    if (ab == lastAB)
        return;

    lastAB = ab;
    abToggle.setToggleState (ab == 1, juce::dontSendNotification);
    abCopyButton.setButtonText (ab == 1 ? "B > A" : "A > B");
}

namespace
{
struct LiveTriple
{
    float vocal = -120.0f;
    float inst = -120.0f;
    float vocalAfterGain = -120.0f;
};

constexpr juce::uint32 kResultColour = 0xffe0922f;

// The display the meter rail shows: RMS in the RMS modes, else the loudness
// display chosen in the meter menu.
LiveTriple readLiveTriple (const QuorvaneProcessor& p, const LinkSlot* instSource, int mode, int display)
{
    if (mode > 0)
        return { p.meterVocalRms.load(), p.meterInstRms.load(), p.meterVocalRmsPostGain.load() };
    if (display == 2)
        return { p.meterVocalHistogram.load(), p.meterInstIntegrated.load(), p.meterVocalHistogramPostGain.load() };
    if (display == 1)
        return { p.meterVocalMomentary.load(), p.meterInstMomentary.load(), p.meterVocalMomentaryPostGain.load() };
    return { p.meterVocalShortTerm.load(), instSource != nullptr ? instSource->liveShortTerm.load() : -120.0f,
             p.meterVocalShortTermPostGain.load() };
}
} // namespace

void QuorvaneEditor::refreshVocalMeters()
{
    const int mode = juce::jmin (proc.measMode.load(), 2);
    const int display = proc.meterDispMode.load();
    if (display != meterModeCache.display || juce::jmax (mode, 0) != meterModeCache.mode
        || proc.rmsTimeSec.load() != meterModeCache.rmsTime)
        refreshMeterModeUi();

    refreshLinkedInstSlot();
    const auto t = readLiveTriple (proc, linkedInstSlot.get(), mode, display);
    const bool rms = mode > 0;

    ownMeter.setLevels (t.vocal, t.vocalAfterGain);
    ownMeter.setPeaks (proc.vocalPeakLeftDb.load(), proc.vocalPeakRightDb.load());
    ownMeter.setIntegratedLufs (rms ? -120.0f : proc.meterVocalIntegratedPostGain.load());

    const auto& shown = proc.sections[(size_t) juce::jlimit (0, 15, shownSection)];
    const bool result = shown.frozen.load() && shown.selfLufs.load() > -119.5f && shown.partnerLufs.load() > -119.5f;
    ownMeter.setMarkerColour (juce::Colour (result ? kResultColour : 0xffffffffu));

    partnerMeter.setValueLufs (t.inst);
    partnerMeter.setPeaks (proc.instPeakLeftDb.load(), proc.instPeakRightDb.load());
    partnerMeter.setIntegratedLufs (rms ? -120.0f : proc.meterInstIntegrated.load());
    partnerMeter.setTargetLineLufs (rms ? -120.0f : proc.meterTargetLevel.load());
}

void QuorvaneEditor::refreshOtherVocalBars()
{
    const auto& slots = tickVisibleOthers;
    const int mode = juce::jmin (proc.measMode.load(), 2);
    const int display = proc.meterDispMode.load();
    const int bars = (int) otherVocalMeters.size();

    otherVocalNames.resize ((size_t) bars);
    otherVocalNameSources.resize ((size_t) bars);
    otherVocalNumbers.assign ((size_t) bars, 0);

    for (int i = 0; i < juce::jmin ((int) slots.size(), otherVocalMeterCount, bars); ++i)
    {
        const auto& slot = *slots[(size_t) i];
        auto& bar = *otherVocalMeters[(size_t) i];

        float before, value;
        if (mode == 1)
            before = slot.liveKRms.load(), value = slot.liveRmsPostGain.load();
        else if (mode == 2)
            before = slot.liveCustomRms.load(), value = slot.liveRmsPostGain.load();
        else if (display == 2)
            before = slot.liveHistogram.load(), value = slot.liveHistogramPostGain.load();
        else if (display == 1)
            before = slot.liveMomentary.load(), value = slot.liveMomentaryPostGain.load();
        else
            before = slot.liveShortTerm.load(), value = slot.liveShortTermPostGain.load();

        bar.setLevels (before, value);
        bar.setPeaks (slot.peakLeftDb.load(), slot.peakRightDb.load());
        bar.setIntegratedLufs (mode > 0 ? -120.0f : slot.liveIntegratedPostGain.load());
        bar.setMarkerColour (juce::Colour (slot.hasResult.load() ? kResultColour : 0xffffffffu));

        // The name is converted only when the slot published a new one.
        auto name = slot.name.load();
        if (name != otherVocalNameSources[(size_t) i])
        {
            otherVocalNames[(size_t) i] = name != nullptr ? juce::String::fromUTF8 (name->c_str()) : juce::String();
            otherVocalNameSources[(size_t) i] = std::move (name);
        }
        otherVocalNumbers[(size_t) i] = slot.vocalNumber.load();
    }

    const int ownNumber = proc.ownSlot != nullptr ? proc.ownSlot->vocalNumber.load() : 0;
    if (otherVocalNames != shownOtherVocalNames || otherVocalNumbers != shownOtherVocalNumbers || ownNumber != shownOwnVocalNumber)
    {
        shownOtherVocalNames = otherVocalNames;
        shownOtherVocalNumbers = otherVocalNumbers;
        shownOwnVocalNumber = ownNumber;
        repaint();
    }
}

void QuorvaneEditor::refreshMeasureStates()
{
    using qvn_meter::MeasureState;
    const bool measuring = proc.ownSlot != nullptr
                           && proc.ownSlot->ownSections[(size_t) juce::jlimit (0, 15, shownSection)].measuring.load();
    MeasureState state = MeasureState::Normal;
    if (measuring)
        state = proc.meterVocalShortTerm.load() >= -70.0f ? MeasureState::Measuring : MeasureState::Skipped;
    else if (proc.runHeldOpen.load())
        state = MeasureState::Skipped;

    ownMeter.setMeasureState (state);
    partnerMeter.setMeasureState (MeasureState::Normal);
}

void QuorvaneEditor::runInstDuties()
{
    // A Target LUFS change moves the Match Gain of a finished INST measurement,
    // also while the host is stopped and no audio arrives.
    if (proc.targetLufsChanged.exchange (false))
    {
        const float measured = proc.instMeasuredLufs.load();
        if (measured > -119.5f)
            proc.instMatchGain.store (juce::jlimit (-24.0f, 24.0f, proc.getTargetLufs() - measured));
    }

    // The audio thread finishes a stopped INST run; when it has not (the host
    // stopped calling it), the fourth tick that sees the run unfinished does.
    if (proc.instStopCounter.load() != proc.instFinalizedStop.load() && ! proc.instMeasuring.load())
    {
        if (proc.instFinalizeWaitTicks++ >= 3)
        {
            proc.finalizeInst();
            proc.instFinalizeWaitTicks = 0;
        }
    }
    else
    {
        proc.instFinalizeWaitTicks = 0;
    }
}

void QuorvaneEditor::refreshInstMeters()
{
    const int mode = juce::jmin (proc.measMode.load(), 2);
    const int display = proc.meterDispMode.load();
    if (display != meterModeCache.display || juce::jmax (mode, 0) != meterModeCache.mode
        || proc.rmsTimeSec.load() != meterModeCache.rmsTime)
        refreshMeterModeUi();

    // With the Inst role the instrumental level is this instance's own.
    const auto t = readLiveTriple (proc, proc.ownSlot.get(), mode, display);
    const bool rms = mode > 0;
    const float g = proc.instMeasuring.load() ? 0.0f : proc.instMatchGain.load() + proc.getInstOffsetDb();

    ownMeter.setLevels (t.inst <= -119.0f ? -120.0f : t.inst - g, t.inst);
    ownMeter.setPeaks (proc.instPeakLeftDb.load(), proc.instPeakRightDb.load());
    ownMeter.setIntegratedLufs (rms ? -120.0f : proc.meterInstIntegrated.load());
    ownMeter.setMarkerColour (juce::Colours::white);
    ownMeter.setMeasureState (qvn_meter::MeasureState::Normal);

    partnerMeter.setValueLufs (t.vocal);
    partnerMeter.setPeaks (proc.vocalPeakLeftDb.load(), proc.vocalPeakRightDb.load());
    partnerMeter.setIntegratedLufs (rms ? -120.0f : proc.meterVocalIntegratedPostGain.load());
    partnerMeter.setTargetLineLufs (-120.0f);
    partnerMeter.setMeasureState (qvn_meter::MeasureState::Normal);
}

//==============================================================================
void QuorvaneEditor::resetAllMeters()
{
    if (proc.ownSlot != nullptr)
        proc.ownSlot->meterResetCounter.fetch_add (1);

    std::lock_guard<std::mutex> lock (proc.partnerMutex);
    for (const auto& s : proc.partnerSlots)
        if (s != nullptr)
            s->meterResetCounter.fetch_add (1);
    for (const auto& s : proc.otherVocalSlots)
        if (s != nullptr)
            s->meterResetCounter.fetch_add (1);
}

void QuorvaneEditor::resetOwnMeterOnly()
{
    if (proc.ownSlot != nullptr)
        proc.ownSlot->meterResetCounter.fetch_add (1);
    for (auto* peak : { &proc.vocalPeakLeftDb, &proc.vocalPeakRightDb, &proc.instPeakLeftDb, &proc.instPeakRightDb })
        peak->store (-120.0f);
}

void QuorvaneEditor::resetInstPartnerMeter()
{
    std::lock_guard<std::mutex> lock (proc.partnerMutex);
    for (const auto& s : proc.partnerSlots)
        if (s != nullptr && s->role.load() == 1)
        {
            s->meterResetCounter.fetch_add (1);
            return;
        }
}

void QuorvaneEditor::resetOtherVocalMeter (int index)
{
    const auto slots = visibleOtherVocalSlots();
    if (index >= 0 && index < (int) slots.size() && slots[(size_t) index] != nullptr)
        slots[(size_t) index]->meterResetCounter.fetch_add (1);
}

//==============================================================================
// Section rows, cards and section controls.

const juce::String QuorvaneEditor::kEmDash = juce::String::fromUTF8 ("\xe2\x80\x94");

juce::String QuorvaneEditor::fmtOneDecimal (double value)
{
    // The framework's number formatting follows the process-wide C++ locale;
    // the window always writes a point.
    std::ostringstream os;
    os.imbue (std::locale::classic());
    os << std::fixed << std::setprecision (1) << value;
    return juce::String (os.str());
}

juce::String QuorvaneEditor::fmtSigned (double value)
{
    if (value == 0.0)
        value = 0.0;  // a negative zero is zero, and zero is written "+0.0"
    return (value >= 0.0 ? "+" : "") + fmtOneDecimal (value);
}

juce::String QuorvaneEditor::fmtGain (float value)
{
    return fmtSigned ((double) value) + " dB";
}

float QuorvaneEditor::round1 (float value)
{
    const float scaled = value * 10.0f;
    return std::nearbyint (scaled) / 10.0f;
}

namespace
{
// The dot of a measure button pulses once a second while its run lasts.
void pulseOnce (ProgressButton& button)
{
    const auto ms = juce::Time::getMillisecondCounter();
    const float p = juce::jlimit (0.0f, 1.0f, 0.5f + 0.5f * std::cos (juce::MathConstants<float>::twoPi * (float) (ms % 1000) / 1000.0f));
    if (std::abs (button.pulse - p) > 0.001f)
    {
        button.pulse = p;
        button.repaint();
    }
}

void setCell (juce::Label& l, const juce::String& text, juce::Colour colour)
{
    if (l.findColour (juce::Label::textColourId) != colour)
        l.setColour (juce::Label::textColourId, colour);
    l.setText (text, juce::dontSendNotification);
}

juce::Colour linkGroupColour (int group)
{
    switch (group)
    {
        case 1: return juce::Colour (0xffc04a4a);
        case 2: return juce::Colour (0xff3ecf82);
        case 3: return juce::Colour (0xff4a82c0);
        default: return juce::Colour (0xff7e7f83);
    }
}

void setGainCardValue (juce::Label& value, juce::Label& unit, const juce::String& cellText)
{
    if (cellText == QuorvaneEditor::kEmDash || cellText == "Learning")
        value.setText (QuorvaneEditor::kEmDash, juce::dontSendNotification);
    else
    {
        const int cut = cellText.indexOf (" dB");
        value.setText ((cut >= 0 ? cellText.substring (0, cut) : cellText).trim(), juce::dontSendNotification);
    }
    unit.setText ("dB", juce::dontSendNotification);
}
} // namespace

void QuorvaneEditor::refreshSectionRows()
{
    const juce::Colour light (0xffeaefe9), grey (0xff7e7f83), orange (0xffe0922f), teal (0xff7cf2c8);
    const int n = juce::jlimit (0, 16, proc.numSections.load());
    const int s = juce::jlimit (0, juce::jmax (0, n - 1), shownSection);
    const bool anyMeasuring = proc.measuringSectionIndex() >= 0;

    // The texts follow from the records and the holds alone: a tick that sees
    // the same as the last one would write the same texts, so it writes none
    // (and allocates nothing).
    RowsTextKey key;
    key.views = sectionRowViews;
    key.learning = learningTicks;
    for (size_t i = 0; i < 16; ++i)
    {
        key.holdTicks[i] = matchHolds[i].ticks;
        key.holdValues[i] = matchHolds[i].value;
        key.holdActive[i] = matchHolds[i].active;
    }
    key.learnHoldTicks = learnTimeHold.ticks;
    key.learnHoldSection = learnTimeHold.section;
    key.learnHoldSeconds = learnTimeHold.seconds;
    key.shown = shownSection;
    key.count = n;
    key.mode = proc.measMode.load();
    key.lang = proc.tooltipLang.load();
    key.anyMeasuring = anyMeasuring;
    key.offsetEditing = offsetValue.isBeingEdited();
    key.valid = true;
    const bool textsDue = ! (key == lastRowsTextKey);
    lastRowsTextKey = key;

    if (textsDue)
        refreshSectionTexts (n, s, anyMeasuring);

    refreshSectionControls (n, s, anyMeasuring);
}

void QuorvaneEditor::refreshSectionTexts (int n, int s, bool anyMeasuring)
{
    const juce::Colour light (0xffeaefe9), grey (0xff7e7f83), orange (0xffe0922f), teal (0xff7cf2c8);

    // Cells of every section.
    for (int i = 0; i < n; ++i)
    {
        const auto& v = sectionRowViews[(size_t) i];
        auto& hold = matchHolds[(size_t) i];
        const float match = round1 (v.partnerLufs) - round1 (v.selfLufs);
        const float offset = v.offsetDb;

        if (v.measuring)
        {
            hold = {};
            setCell (sectionCells[cellMatch][(size_t) i], kEmDash, grey);
        }
        else if (v.hasVocal && v.hasInst)
        {
            hold = { 3, true, match };
            setCell (sectionCells[cellMatch][(size_t) i], fmtSigned (match), grey);
        }
        else if (v.frozen && hold.active && hold.ticks > 0)
        {
            --hold.ticks;
            setCell (sectionCells[cellMatch][(size_t) i], fmtSigned (hold.value), grey);
        }
        else
        {
            hold = {};
            setCell (sectionCells[cellMatch][(size_t) i], kEmDash, grey);
        }

        setCell (sectionCells[cellOffset][(size_t) i], fmtSigned (offset), linkGroupColour (v.linkGroup));

        if (v.hasInst)
            setCell (sectionCells[cellInst][(size_t) i], fmtOneDecimal (v.partnerLufs), light);
        else
            setCell (sectionCells[cellInst][(size_t) i], kEmDash, grey);

        if (v.measuring)
            setCell (sectionCells[cellLearnTime][(size_t) i], fmtOneDecimal (v.elapsed) + " s", light);
        else if (v.frozen && v.seconds > 0.0f)
            setCell (sectionCells[cellLearnTime][(size_t) i], fmtOneDecimal (v.seconds) + " s", light);
        else
            setCell (sectionCells[cellLearnTime][(size_t) i], "--", grey);

        if (v.measuring)
            setCell (sectionCells[cellMatchGain][(size_t) i], kEmDash, orange);
        else if (v.hasVocal && v.hasInst)
            setCell (sectionCells[cellMatchGain][(size_t) i], fmtGain (match), orange);
        else
            setCell (sectionCells[cellMatchGain][(size_t) i], kEmDash, grey);

        setCell (sectionCells[cellOffsetGain][(size_t) i], fmtGain (offset), std::abs (offset) >= 0.05f ? teal : grey);

        auto& learning = learningTicks[(size_t) i];
        learning = v.measuring ? 10 : (v.frozen ? 0 : juce::jmax (0, learning - 1));

        auto& total = sectionCells[cellTotal][(size_t) i];
        if (v.measuring || learning > 0)
            setCell (total, "Learning", orange);
        else
        {
            const bool complete = v.hasVocal && v.hasInst && v.frozen;
            const float t = match + round1 (offset);
            const bool bigOffset = std::abs (offset) >= 0.05f;
            if (complete)
                setCell (total, fmtSigned (t), v.bypass ? grey : light);
            else if (v.bypass)
                setCell (total, bigOffset ? fmtSigned (offset) : kEmDash, grey);
            else if (v.frozen || ! bigOffset)
                setCell (total, kEmDash, grey);
            else
                setCell (total, fmtSigned (offset), light);
        }

        auto& bypassButton = rowBypassButtons[(size_t) i];
        if (bypassButton.getToggleState() != v.bypass)
            bypassButton.setToggleState (v.bypass, juce::dontSendNotification);
        auto& lockButton = rowLockButtons[(size_t) i];
        if (lockButton.getToggleState() != v.locked)
            lockButton.setToggleState (v.locked, juce::dontSendNotification);
        auto& linkButton = rowLinkButtons[(size_t) i];
        const auto tint = linkGroupColour (v.linkGroup);
        if (linkButton.getProperties()["tint"].toString() != tint.toString())
        {
            linkButton.getProperties().set ("tint", tint.toString());
            linkButton.setOffColour (tint);
            linkButton.repaint();
        }
    }

    // Shown view: the badge area follows the shown section's record.
    {
        const auto& v = sectionRowViews[(size_t) s];
        auto& cache = shownRowViewCache[0];
        if (v.measuring != cache.measuring || v.isShown != cache.isShown || v.hasBoth != cache.hasBoth
            || v.linkGroup != cache.linkGroup || cache.section < 0)
        {
            cache = v;
            if (stepperBadgeRect.getWidth() > 0 && stepperBadgeRect.getHeight() > 0)
                repaint (stepperBadgeRect);
        }
    }

    // Detail card.
    if (anyMeasuring != wasMeasuring)
    {
        // The LUFS values take their whole block while a measurement runs.
        wasMeasuring = anyMeasuring;
        resized();
    }
    if (shownSection < 0 || shownSection >= n)
    {
        for (juce::Label* l : { &vocalLufsValue, &instLufsValue, &matchValue, static_cast<juce::Label*> (&offsetValue), &totalValue })
            l->setText (kEmDash, juce::dontSendNotification);
        for (auto* l : { &totalUnit, &learnStatus, &sectionStatusBadge })
            l->setText ({}, juce::dontSendNotification);
        sectionTitle.setText ("SECTION --", juce::dontSendNotification);
    }
    else
    {
        const auto& v = sectionRowViews[(size_t) s];
        const auto& sec = proc.sections[(size_t) s];
        if (anyMeasuring)
        {
            vocalLufsValue.setText ("Learning", juce::dontSendNotification);
            instLufsValue.setText ("Learning", juce::dontSendNotification);
        }
        else
        {
            vocalLufsValue.setText (v.hasVocal ? fmtOneDecimal (v.selfLufs) : kEmDash, juce::dontSendNotification);
            instLufsValue.setText (sectionCells[cellInst][(size_t) s].getText(), juce::dontSendNotification);
        }

        const auto font = anyMeasuring ? FlatLookAndFeel::font (25.0f, juce::Font::bold) : FlatLookAndFeel::font (39.0f, juce::Font::bold);
        const auto just = anyMeasuring ? juce::Justification::centred : juce::Justification::bottomRight;
        for (auto* l : { &vocalLufsValue, &instLufsValue })
        {
            setCell (*l, l->getText(), anyMeasuring ? orange : light);
            if (l->getFont() != font)
                l->setFont (font);
            if (l->getJustificationType() != just)
                l->setJustificationType (just);
        }

        const int mode = juce::jlimit (0, 2, proc.measMode.load());
        const juce::String unit = anyMeasuring ? juce::String() : (mode == 0 ? "LUFS" : "dB");
        vocalLufsUnit.setText (unit, juce::dontSendNotification);
        instLufsUnit.setText (unit, juce::dontSendNotification);

        setGainCardValue (matchValue, matchUnit, sectionCells[cellMatchGain][(size_t) s].getText());
        if (! offsetValue.isBeingEdited())
            setGainCardValue (offsetValue, offsetUnit, sectionCells[cellOffsetGain][(size_t) s].getText());
        setGainCardValue (totalValue, totalUnit, sectionCells[cellTotal][(size_t) s].getText());
        setCell (matchValue, matchValue.getText(), light);
        setCell (offsetValue, offsetValue.getText(), light);
        setCell (totalValue, totalValue.getText(), v.bypass ? grey : light);

        sectionTitle.setText ("SECTION " + juce::String::charToString ((juce::juce_wchar) ('A' + s)), juce::dontSendNotification);

        const float wantedLength = v.shownSeconds > 0.05f ? v.shownSeconds : 0.0f;
        if (std::abs (sectionChart.lengthSeconds - wantedLength) > 0.05f)
        {
            sectionChart.lengthSeconds = wantedLength;
            sectionChart.repaint();
        }

        float t = v.shownSeconds;
        if (t > 0.05f)
            learnTimeHold = { 3, s, t };
        else if ((v.measuring || v.frozen) && learnTimeHold.section == s && learnTimeHold.ticks > 0)
        {
            --learnTimeHold.ticks;
            t = learnTimeHold.seconds;
        }
        else
            learnTimeHold.ticks = 0;
        const juce::String timeText = t > 0.05f ? fmtOneDecimal (t) + " s" : juce::String ("--");

        juce::String status;
        if (sec.needsRemeasure.load())
        {
            const char* const modeNames[3] = { "LUFS", "K-RMS", "Custom RMS" };
            status = proc.tooltipLang.load() == 1
                         ? juce::String (modeNames[mode]) + juce::String::fromUTF8 (" \xe3\x81\xa7\xe3\x81\xae\xe5\x86\x8d\xe6\xb8\xac\xe5\xae\x9a\xe3\x81\x8c\xe5\xbf\x85\xe8\xa6\x81\xe3\x81\xa7\xe3\x81\x99")
                         : "Re-measure for " + juce::String (modeNames[mode]);
        }
        else
            status = timeText == "--" ? juce::String ("Not learned yet") : "Learned in " + timeText;
        learnStatus.setText (status, juce::dontSendNotification);
        sectionStatusBadge.setText (v.linkGroup > 0 ? juce::String::fromUTF8 ("\xc2\xb7 LINK") : juce::String(), juce::dontSendNotification);
    }

}

void QuorvaneEditor::refreshSectionControls (int n, int s, bool)
{
    // Controls.
    const bool linkOn = proc.linkOffsets.load();
    if (linkAllButton.getToggleState() != linkOn)
        linkAllButton.setToggleState (linkOn, juce::dontSendNotification);
    const juce::Colour linkColour (linkOn ? 0xffe0922f : 0xff2a322c);
    if (linkAllButton.findColour (juce::TextButton::buttonColourId) != linkColour)
        linkAllButton.setColour (juce::TextButton::buttonColourId, linkColour);

    if (shownSection != boundOffsetSection && ! offsetSlider.isMouseButtonDown())
    {
        rebindOffsetSlider (shownSection);
        repaint();
    }
    const bool shownLocked = sectionRowViews[(size_t) s].locked;
    if (offsetSlider.isEnabled() == shownLocked)
        offsetSlider.setEnabled (! shownLocked);
    if (! offsetValue.isBeingEdited())
        offsetValue.setEditable (false, ! shownLocked, false);

    // Section rows, stepper and the measure button.
    bool run = proc.runHeldOpen.load() || proc.armedSectionStart.load();
    for (int i = 0; i < n && ! run; ++i)
        run = sectionRowViews[(size_t) i].measuring;

    const int blocks = proc.followAutomationTicks.load();
    const bool following = blocks != lastBlockCount && proc.followAutomation.load();
    lastBlockCount = blocks;
    for (auto& row : sectionRows)
        if (row.isEnabled() == following)
            row.setEnabled (! following);
    if (sectionsChangedThisTick || following != lastFollowState)
        sectionListContent.repaint();
    lastFollowState = following;

    if (std::abs (matchButton.progress) > 0.001f)
    {
        matchButton.progress = 0.0f;
        matchButton.repaint();
    }
    if (matchButton.isMeasuring != run)
    {
        matchButton.isMeasuring = run;
        matchButton.repaint();
    }

    const bool prevOn = shownSection > 0 && ! following;
    const bool nextOn = shownSection < n - 1 && ! following;
    if (prevSectionButton.isEnabled() != prevOn)
        prevSectionButton.setEnabled (prevOn);
    if (nextSectionButton.isEnabled() != nextOn)
        nextSectionButton.setEnabled (nextOn);

    const char* text = "MATCH TO INST";
    if (run)
    {
        pulseOnce (matchButton);
        text = proc.armedSectionStart.load() ? "WAITING FOR PLAY"
                                             : (proc.linkMeasurementToTransport.load() ? "STOPS WITH PLAYBACK" : "STOP");
    }
    if (matchButton.getButtonText() != text)
        matchButton.setButtonText (text);
}

void QuorvaneEditor::refreshInstView()
{
    const juce::Colour light (0xffeaefe9), orange (0xffe0922f);
    auto paramValue = [this] (const char* id, float fallback)
    {
        auto* raw = proc.parameters.getRawParameterValue (id);
        return raw != nullptr ? raw->load() : fallback;
    };

    // The value and unit rectangles of the measuring and finished states come
    // from the layout.
    const bool measuring = proc.instMeasuring.load();
    if (measuring != instLayoutMeasuring)
    {
        instLayoutMeasuring = measuring;
        resized();
    }

    // Texts only when something they show moved.
    InstTextKey key;
    key.target = paramValue (ids::targetLufs, -18.0f);
    key.measured = proc.instMeasuredLufs.load();
    key.matchGain = proc.instMatchGain.load();
    key.instOffset = paramValue (ids::instOffset, 0.0f);
    key.measuring = measuring;
    key.frozen = proc.instFrozen.load();
    key.targetEditing = targetLufsValue.isBeingEdited();
    key.offsetEditing = instOffsetValue.isBeingEdited();
    key.valid = true;
    if (! (key == lastInstTextKey))
    {
        lastInstTextKey = key;
        refreshInstTexts();
    }
    refreshInstButton();
}

void QuorvaneEditor::refreshInstTexts()
{
    const juce::Colour light (0xffeaefe9), orange (0xffe0922f);
    auto paramValue = [this] (const char* id, float fallback)
    {
        auto* raw = proc.parameters.getRawParameterValue (id);
        return raw != nullptr ? raw->load() : fallback;
    };
    const bool measuring = proc.instMeasuring.load();

    if (! targetLufsValue.isBeingEdited())
        targetLufsValue.setText (fmtOneDecimal (paramValue (ids::targetLufs, -18.0f)), juce::dontSendNotification);
    const auto font = measuring ? FlatLookAndFeel::font (25.0f, juce::Font::bold) : FlatLookAndFeel::font (39.0f, juce::Font::bold);
    const auto just = measuring ? juce::Justification::centred : juce::Justification::bottomRight;
    if (instCardLufsValue.getFont() != font)
        instCardLufsValue.setFont (font);
    if (instCardLufsValue.getJustificationType() != just)
        instCardLufsValue.setJustificationType (just);
    setCell (instCardLufsValue, instCardLufsValue.getText(), measuring ? orange : light);

    const bool frozen = proc.instFrozen.load();
    const float measured = proc.instMeasuredLufs.load();
    if (measuring)
        instCardLufsValue.setText ("Learning", juce::dontSendNotification);
    else if (! frozen)
        instCardLufsValue.setText (kEmDash, juce::dontSendNotification);
    else
        instCardLufsValue.setText (measured > -119.0f ? fmtOneDecimal (measured) : juce::String ("-inf"), juce::dontSendNotification);
    instCardLufsUnit.setText (measuring ? juce::String() : juce::String ("LUFS"), juce::dontSendNotification);

    const float matchGain = proc.instMatchGain.load();
    setCell (instMatchValue, frozen && measured > -119.0f ? fmtSigned (matchGain) : kEmDash, light);
    instMatchUnit.setText ("dB", juce::dontSendNotification);

    const float instOffset = paramValue (ids::instOffset, 0.0f);
    if (! instOffsetValue.isBeingEdited())
        instOffsetValue.setText (fmtSigned (instOffset), juce::dontSendNotification);
    instTotalValue.setText (measuring ? kEmDash : fmtSigned (matchGain + instOffset), juce::dontSendNotification);
}

void QuorvaneEditor::refreshInstButton()
{
    const bool measuring = proc.instMeasuring.load();

    if (std::abs (instMeasureButton.progress) > 0.001f)
    {
        instMeasureButton.progress = 0.0f;
        instMeasureButton.repaint();
    }
    const bool active = measuring || proc.armedInstStart.load();
    if (instMeasureButton.isMeasuring != active)
    {
        instMeasureButton.isMeasuring = active;
        instMeasureButton.repaint();
    }
    const char* text = "MATCH TO TARGET LUFS";
    if (active)
    {
        pulseOnce (instMeasureButton);
        text = proc.armedInstStart.load() ? "WAITING FOR PLAY"
                                          : (proc.linkMeasurementToTransport.load() ? "STOPS WITH PLAYBACK" : "STOP");
    }
    if (instMeasureButton.getButtonText() != text)
        instMeasureButton.setButtonText (text);
}

//==============================================================================
// Learn History charts.

namespace
{
void takeLength (LearnHistoryChart& chart, float seconds)
{
    if (std::abs (chart.lengthSeconds - seconds) > 0.05f)
    {
        chart.lengthSeconds = seconds;
        chart.repaint();
    }
}

void takeTrim (LearnHistoryChart& chart, juce::Range<float> r, bool finalised)
{
    if (r.getStart() == chart.trimStart && r.getEnd() == chart.trimEnd && finalised == chart.trimEditable)
        return;
    chart.trimStart = r.getStart();
    chart.trimEnd = r.getEnd();
    chart.trimEditable = finalised;
    chart.repaint();
}
} // namespace

namespace qvn::historyChart
{
juce::Range<float> shownTrim (float start, float end, std::size_t points)
{
    const float lo = juce::jlimit (0.0f, 1.0f, std::min (start, end));
    const float hi = juce::jlimit (0.0f, 1.0f, std::max (start, end));
    const float span = points > 0 ? 1.0f / (float) points : 1.0f;
    if (lo + span > 1.0f)
        return { std::max (0.0f, 1.0f - span), 1.0f };
    return { lo, std::max (hi, lo + span) };
}

juce::Range<float> draggedTrim (float start, float end, std::size_t blocks)
{
    const auto clamp01 = [] (float v) { return std::isfinite (v) ? juce::jlimit (0.0f, 1.0f, v) : 0.0f; };
    start = clamp01 (start);
    end = clamp01 (end);
    float lo = std::min (start, end), hi = std::max (start, end);
    const float g = 1.0f / (float) std::max<std::size_t> (blocks, 1);
    if (hi - lo < g)
        hi = std::min (lo + g, 1.0f);
    if (hi - lo < g)
        lo = std::max (hi - g, 0.0f);
    return { lo, hi };
}

std::size_t points (const LearnHistoryChart& chart)
{
    return std::max (chart.historyData.selfSeries.size(), chart.historyData.partnerSeries.size());
}

void clear (LearnHistoryChart& chart)
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

void syncTrim (LearnHistoryChart& chart, const QuorvaneProcessor::LearnHistorySnapshot& snapshot)
{
    takeLength (chart, snapshot.lengthSeconds);
    takeTrim (chart, shownTrim (snapshot.trimStart, snapshot.trimEnd, points (chart)), snapshot.finalised);
}
} // namespace qvn::historyChart

void applyHistorySnapshot (LearnHistoryChart& chart, const QuorvaneProcessor::LearnHistorySnapshot& snapshot)
{
    chart.historyData.selfSeries = snapshot.selfSeries;
    chart.historyData.partnerSeries = snapshot.partnerSeries;
    chart.historyData.belowGate = snapshot.belowGate;
    chart.repaint();

    takeLength (chart, snapshot.lengthSeconds);
    const auto n = std::max (snapshot.selfSeries.size(), snapshot.partnerSeries.size());
    takeTrim (chart, qvn::historyChart::shownTrim (snapshot.trimStart, snapshot.trimEnd, n), snapshot.finalised);
}

void QuorvaneEditor::refreshSectionChart()
{
    auto& chart = sectionChart;

    if (currentRole() != 2)
    {
        chartSection = -1;
        sectionChartWasMeasuring = false;
        sectionChartKey.valid = false;
        qvn::historyChart::hideGainCurve (chart);
        return;
    }

    const int s = juce::jlimit (0, 15, shownSection);
    if (s != chartSection)
    {
        chartSection = s;
        sectionChartWasMeasuring = false;
        sectionChartKey.valid = false;
        qvn::historyChart::clear (chart);
    }

    const bool measuring = proc.measuringSectionIndex() >= 0;
    if (measuring)
    {
        if (! sectionChartWasMeasuring)
        {
            qvn::historyChart::clear (chart);
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
        qvn::historyChart::hideGainCurve (chart);
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
                qvn::historyChart::clear (chart);
                sectionChartKey = key;
            }
        }
    }

    if (section.frozen.load() && qvn::historyChart::points (chart) > 0)
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
        qvn::historyChart::hideGainCurve (chart);
    }

    sectionChartWasMeasuring = false;
}

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
            qvn::historyChart::clear (instChart);
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
            else if (qvn::historyChart::points (instChart) > 0)
                qvn::historyChart::clear (instChart);

            instChartRevision = revision;
            instChartValid = true;
        }

        wasInstMeasuring = false;
        showCurve = proc.instFrozen.load() && qvn::historyChart::points (instChart) > 0;
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
