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

    const auto others = role == 2 ? visibleOtherVocalSlots() : std::vector<std::shared_ptr<LinkSlot>>();
    const int k = (int) others.size();
    if (k != otherVocalMeterCount)
        rebuildOtherVocalMeters (k);

    refreshStatusLine();

    if (undoButton != nullptr)
        undoButton->setEnabled (! proc.undoStack.empty());
    if (redoButton != nullptr)
        redoButton->setEnabled (! proc.redoStack.empty());

    if (role == 2)
    {
        // Names and numbers of the other Vocal instances, for the rail captions.
        otherVocalNames.resize ((size_t) otherVocalMeterCount);
        otherVocalNumbers.resize ((size_t) otherVocalMeterCount);
        for (int i = 0; i < juce::jmin (k, otherVocalMeterCount); ++i)
        {
            const auto& slot = others[(size_t) i];
            auto name = slot->name.load();
            otherVocalNames[(size_t) i] = name != nullptr ? juce::String::fromUTF8 (name->c_str()) : juce::String();
            otherVocalNumbers[(size_t) i] = slot->vocalNumber.load();
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
}

void QuorvaneEditor::refreshStatusLine()
{
    const int role = currentRole();
    juce::Colour colour;
    juce::String text;

    if (proc.roleConflict.load())
    {
        colour = qvn::theme::kErrorCol;
        text = "another instance already uses " + juce::String (role == 1 ? "Inst" : "this role");
    }
    else if (proc.hasPartner.load() && role == 1)
    {
        const int n = proc.partnerCount.load();
        colour = qvn::theme::kGreenCol;
        text = "Connected to " + juce::String (n) + " Vocal" + (n == 1 ? "" : "s");
    }
    else if (proc.hasPartner.load())
    {
        colour = qvn::theme::kGreenCol;
        text = "Connected to partner instance";
    }
    else
    {
        colour = qvn::theme::kOrangeCol;
        text = "Not connected (set roles on both sides)";
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
