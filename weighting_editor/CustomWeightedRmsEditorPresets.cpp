#include "weighting_editor/CustomWeightedRmsEditor.h"

#include "ui/JuceCompat.h"

#include "settings/AppSettings.h"

void CustomWeightedRmsEditor::refreshPresetList()
{
    userPresets = AppSettings::get().customWeightedRmsPresets();
    rebuildUserChips();
}

void CustomWeightedRmsEditor::rebuildUserChips()
{
    for (auto& chip : userChips)
        chip->setLookAndFeel (nullptr);
    userChips.clear();

    int x = 0;
    const int h = juce::jmax (1, userChipViewport.getHeight());
    for (const auto& preset : userPresets)
    {
        auto chip = std::make_unique<juce::TextButton> (preset.name);
        chip->setLookAndFeel (&chipLook);
        chip->setClickingTogglesState (false);
        const int w = juce::roundToInt (qvn::compat::stringWidth (FlatLookAndFeel::dinFont (12.0f), preset.name)) + 26;
        chip->setBounds (x, 0, w, h);
        x += w + 6;
        userChipStrip.addAndMakeVisible (*chip);
        userChips.push_back (std::move (chip));
    }
    userChipStrip.setSize (juce::jmax (0, x - 6), h);
}

void CustomWeightedRmsEditor::updateSaveAvailability()
{
    const auto name = nameField.getText().trim();
    const int length = name.length();
    const bool savable = length >= 1 && length <= 48
                         && ! name.equalsIgnoreCase ("Standard K") && ! name.equalsIgnoreCase ("Flat");
    saveButton.setEnabled (savable);
}
