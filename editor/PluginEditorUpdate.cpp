#include "editor/PluginEditor.h"

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

    // The Learn History chart of the shown section is refreshed here.

    if (role == 2)
    {
        refreshVocalMeters();
        refreshOtherVocalBars();
        refreshMeasureStates();

        // The section cells, the shown view, the detail card, the controls and
        // the MATCH TO INST button are refreshed here, in that order.
        return;
    }

    if (role == 1)
    {
        runInstDuties();
        if (conflict != 0 || instView == 0)
            return;

        // The INST Learn History chart and the INST view's labels are refreshed here.

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
    // The per-section display records the badges are drawn from.
    bool changed = false;
    for (int i = 0; i < 16; ++i)
    {
        const auto& s = proc.sections[(size_t) i];
        SectionRowView v;
        v.section = i;
        v.selfLufs = s.selfLufs.load();
        v.partnerLufs = s.partnerLufs.load();
        v.frozen = s.frozen.load();
        v.hasBoth = v.frozen && v.selfLufs > -119.5f && v.partnerLufs > -119.5f;
        v.linkGroup = s.linkGroup.load();
        v.bypass = s.bypass.load();
        v.locked = s.locked.load();
        v.measuring = proc.ownSlot != nullptr && proc.ownSlot->ownSections[(size_t) i].measuring.load();
        v.isShown = i == shownSection;
        if (! (v == sectionRowViews[(size_t) i]))
        {
            sectionRowViews[(size_t) i] = v;
            changed = true;
        }
    }

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
