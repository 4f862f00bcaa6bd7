#include "weighting_editor/CustomWeightedRmsEditor.h"

#include "ui/JuceCompat.h"

#include "processor/LinkRegistry.h"
#include "processor/PluginProcessor.h"

#include <algorithm>
#include <mutex>

//==============================================================================
CustomWeightedRmsEditor::~CustomWeightedRmsEditor()
{
    // Every look must be off its controls before the looks (declared first)
    // are destroyed with the members.
    for (auto& b : typeButtons)
        b.setLookAndFeel (nullptr);
    for (auto* c : { &standardKChip, &flatChip, &saveButton, &deleteButton, &cancelButton, &applyButton })
        c->setLookAndFeel (nullptr);
    for (auto& chip : userChips)
        chip->setLookAndFeel (nullptr);
    for (auto* cell : { &freqCell, &gainCell, &qCell, &slopeCell })
        cell->knob.setLookAndFeel (nullptr);
    confirmDialog.cancelButton.setLookAndFeel (nullptr);
    confirmDialog.confirmButton.setLookAndFeel (nullptr);
    setLookAndFeel (nullptr);
}

int CustomWeightedRmsEditor::lang() const noexcept
{
    return processor.tooltipLang.load() == 1 ? 1 : 0;
}

bool CustomWeightedRmsEditor::keyPressed (const juce::KeyPress& key)
{
    if (key.getKeyCode() == juce::KeyPress::escapeKey
        && ! key.getModifiers().isAnyModifierKeyDown())
    {
        setVisible (false);
        return true;
    }
    return false;
}

CustomWeightedRmsSettings CustomWeightedRmsEditor::defaultWorkingCopy()
{
    CustomWeightedRmsSettings s;
    s.schemaVersion = 1;
    for (auto& band : s.slots)
        band = CustomSlotSettings {};
    return s;
}

CustomWeightedRmsSettings CustomWeightedRmsEditor::factoryLayout (int index)
{
    CustomWeightedRmsSettings s;   // the default is the K-weighting layout
    if (index == 1)
        for (auto& band : s.slots)
            band.enabled = false;
    return s;
}

//==============================================================================
void CustomWeightedRmsEditor::selectBand (int band)
{
    selectedBand = juce::jlimit (0, 5, band);
    syncControlsFromWorkingCopy();
    responseGraph.repaint();
    repaint();
}

void CustomWeightedRmsEditor::syncControlsFromWorkingCopy()
{
    workingCopy.normalize();
    selectedBand = juce::jlimit (0, 5, selectedBand);

    for (auto& row : bandRows)
        row->refresh();

    const auto& b = workingCopy.slots[(size_t) selectedBand];
    for (int i = 0; i < 6; ++i)
        typeButtons[(size_t) i].setToggleState (b.type == i, juce::dontSendNotification);

    freqCell.setValue (b.frequencyHz);
    gainCell.setValue (b.gainDb);
    qCell.setValue (b.q);
    slopeCell.setValue (b.slopeDbPerOct);

    updateControlAvailability();
    responseGraph.markDirty();
    responseGraph.repaint();
}

void CustomWeightedRmsEditor::updateControlAvailability()
{
    const int sel = juce::jlimit (0, 5, selectedBand);
    const auto colour = FlatUI::bandColour (sel);
    const auto& b = workingCopy.slots[(size_t) sel];
    const bool on = b.enabled;

    for (auto& t : typeButtons)
    {
        t.getProperties().set ("bandColour", (juce::int64) colour.getARGB());
        t.setEnabled (on);
        t.repaint();
    }

    for (auto* cell : { &freqCell, &gainCell, &qCell, &slopeCell })
        cell->setBandColour (colour);

    const bool pass = b.type == (int) CustomSlotType::HighPass || b.type == (int) CustomSlotType::LowPass;
    freqCell.setInUse (on);
    gainCell.setInUse (on && ! pass);
    qCell.setInUse (on && b.type != (int) CustomSlotType::FlatTilt);
    slopeCell.setInUse (on && pass);
}

void CustomWeightedRmsEditor::workingCopyChanged (bool resyncControls)
{
    workingCopy.normalize();

    if (resyncControls)
    {
        syncControlsFromWorkingCopy();
    }
    else
    {
        updateControlAvailability();
        for (auto& row : bandRows)
            row->refresh();
        responseGraph.markDirty();
        responseGraph.repaint();
    }

    clearPresetSelection();
    repaint();
}

void CustomWeightedRmsEditor::clearPresetSelection()
{
    presetSelection = 0;
    standardKChip.setToggleState (false, juce::dontSendNotification);
    flatChip.setToggleState (false, juce::dontSendNotification);
    for (auto& chip : userChips)
        chip->setToggleState (false, juce::dontSendNotification);
    deleteButton.setEnabled (false);
}

//==============================================================================
void CustomWeightedRmsEditor::confirm (const juce::String& title, const juce::String& message,
                                       const juce::String& confirmText, std::function<void()> onConfirm)
{
    const bool ja = isJapanese();

    confirmDialog.setBounds (getLocalBounds());
    confirmDialog.onConfirm = std::move (onConfirm);

    confirmDialog.titleLabel.setFont (ja ? FlatLookAndFeel::jpBoldFont (15.0f)
                                         : FlatLookAndFeel::dinFont (15.0f, juce::Font::bold));
    confirmDialog.titleLabel.setText (title, juce::dontSendNotification);
    confirmDialog.messageLabel.setFont (ja ? FlatLookAndFeel::jpFont (13.0f) : FlatLookAndFeel::dinExpFont (12.0f));
    confirmDialog.messageLabel.setText (message, juce::dontSendNotification);

    confirmDialog.confirmButton.setButtonText (confirmText);
    confirmDialog.cancelButton.setButtonText (ja ? juce::String::fromUTF8 ("キャンセル") : juce::String ("Cancel"));

    if (auto* parent = confirmDialog.getParentComponent())
        confirmDialog.setBounds (0, 0, parent->getWidth(), parent->getHeight());

    confirmDialog.setVisible (true);
    confirmDialog.toFront (true);
    if (confirmDialog.isShowing())
        confirmDialog.grabKeyboardFocus();
}

void CustomWeightedRmsEditor::applyWorkingCopy()
{
    workingCopy.normalize();

    const auto applied = [this]
    {
        const std::lock_guard<std::mutex> lock (processor.settingsMutex);
        return processor.customSettings;
    }();

    if (workingCopy == applied)
    {
        setVisible (false);
        return;
    }

    bool resultsExist = processor.hasAnyCustomMeasurementResults();
    if (! resultsExist)
    {
        auto& registry = LinkRegistry::get();
        const std::lock_guard<std::mutex> lock (registry.mutex);
        for (auto* p : registry.instances)
        {
            if (p == nullptr || p->getRole() == 0 || p->roleConflict.load())
                continue;
            if (p->hasAnyCustomMeasurementResults())
            {
                resultsExist = true;
                break;
            }
        }
    }

    const bool measuring = LinkRegistry::get().anyMeasurementActive();

    if (! resultsExist && ! measuring)
    {
        applyNow();
        return;
    }

    const bool ja = isJapanese();
    auto text = [ja] (const char* en, const char* jp) { return ja ? juce::String::fromUTF8 (jp) : juce::String (en); };

    juce::String message;
    if (resultsExist)
        message << text ("Existing Custom RMS results will be cleared.", "既存のCustom RMS測定結果を消去します。");
    if (measuring)
    {
        if (message.isNotEmpty())
            message << "\n";
        message << text ("A measurement in progress will stop.", "進行中の測定を停止します。");
    }
    message << "\n" << text ("This can be undone.", "この操作は元に戻せます。");

    juce::Component::SafePointer<CustomWeightedRmsEditor> safe (this);
    confirm (text ("Apply Custom RMS settings?", "Custom RMS設定を適用しますか？"), message, text ("Apply", "適用"),
             [safe]
             {
                 if (safe != nullptr)
                     safe->applyNow();
             });
}

void CustomWeightedRmsEditor::applyNow()
{
    if (LinkRegistry::get().anyMeasurementActive())
        LinkRegistry::get().cancelMeasurementsForSettingsChange();

    processor.setCustomWeightedRmsSettingsFromUi (workingCopy, processor.rmsTimeSec.load());
    setVisible (false);
}
