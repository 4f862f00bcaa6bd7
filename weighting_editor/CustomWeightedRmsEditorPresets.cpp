#include "weighting_editor/CustomWeightedRmsEditor.h"

#include "ui/JuceCompat.h"

#include "processor/PluginProcessor.h"
#include "settings/AppSettings.h"

namespace
{
/** The rule for a user preset name, on an already trimmed name: 1 to 48 code
    points and not the name of a factory preset in any case. */
bool isSavablePresetName (const juce::String& name)
{
    const int length = name.length();   // code points, not bytes
    return length >= 1 && length <= 48
           && ! name.equalsIgnoreCase ("Standard K") && ! name.equalsIgnoreCase ("Flat");
}
} // namespace

void CustomWeightedRmsEditor::lightPresetChips()
{
    standardKChip.setToggleState (presetSelection == 1, juce::dontSendNotification);
    flatChip.setToggleState (presetSelection == 2, juce::dontSendNotification);
    for (size_t i = 0; i < userChips.size(); ++i)
        userChips[i]->setToggleState (presetSelection == 100 + (int) i, juce::dontSendNotification);
    deleteButton.setEnabled (presetSelection >= 100);
}

void CustomWeightedRmsEditor::applyFactoryPreset (int index)
{
    workingCopy = factoryLayout (index == 0 ? 0 : 1);
    workingCopyChanged (true);
    presetSelection = (index == 0 ? 0 : 1) + 1;
    lightPresetChips();
}

void CustomWeightedRmsEditor::applyUserPreset (int index)
{
    if (index < 0 || index >= (int) userPresets.size())
        return;
    workingCopy = userPresets[(size_t) index].settings;
    workingCopyChanged (true);
    presetSelection = 100 + index;
    lightPresetChips();
}

void CustomWeightedRmsEditor::refreshPresetList()
{
    userPresets = AppSettings::get().customWeightedRmsPresets();
    rebuildUserChips();
    lightPresetChips();
    resized();
    repaint();
}

void CustomWeightedRmsEditor::rebuildUserChips()
{
    for (auto& chip : userChips)
        chip->setLookAndFeel (nullptr);
    userChips.clear();

    const auto font = FlatLookAndFeel::dinFont (12.0f);
    int x = 0;
    for (size_t i = 0; i < userPresets.size(); ++i)
    {
        auto chip = std::make_unique<juce::TextButton> (userPresets[i].name);
        chip->setLookAndFeel (&chipLook);
        chip->setClickingTogglesState (false);
        chip->onClick = [this, i] { applyUserPreset ((int) i); };
        const int w = juce::roundToInt (qvn::compat::stringWidth (font, userPresets[i].name)) + 32;
        chip->setBounds (x, 0, w, 26);
        x += w + 8;
        userChipStrip.addAndMakeVisible (*chip);
        userChips.push_back (std::move (chip));
    }
    userChipStrip.setSize (userChips.empty() ? 0 : x - 8, 26);
}

void CustomWeightedRmsEditor::updateSaveAvailability()
{
    saveButton.setEnabled (isSavablePresetName (nameField.getText().trim()));
}

void CustomWeightedRmsEditor::saveUserPreset()
{
    const auto name = nameField.getText().trim();
    if (! isSavablePresetName (name))
        return;

    auto store = [this, name]
    {
        if (! AppSettings::get().saveCustomWeightedRmsPreset (name, workingCopy))
            return;   // the panel stays as it was: the name remains for another try

        nameField.setText ({}, true);   // also drops the field's undo history
        nameField.repaint();
        updateSaveAvailability();
        userPresets = AppSettings::get().customWeightedRmsPresets();
        rebuildUserChips();
        presetSelection = 0;
        for (size_t i = 0; i < userPresets.size(); ++i)
            if (userPresets[i].name.equalsIgnoreCase (name))
            {
                presetSelection = 100 + (int) i;
                break;
            }
        lightPresetChips();
        resized();
        repaint();
    };

    const bool exists = std::any_of (userPresets.begin(), userPresets.end(),
                                     [&] (const auto& p) { return p.name.equalsIgnoreCase (name); });
    if (! exists)
    {
        store();
        return;
    }

    const bool ja = isJapanese();
    juce::Component::SafePointer<CustomWeightedRmsEditor> safe (this);
    confirm (ja ? juce::String::fromUTF8 ("プリセットを上書きしますか？") : juce::String ("Overwrite preset?"),
             ja ? juce::String::fromUTF8 ("同じ名前のプリセットが存在します。") : juce::String ("A preset with this name already exists."),
             ja ? juce::String::fromUTF8 ("上書き") : juce::String ("Overwrite"),
             [safe, store]
             {
                 if (safe != nullptr)
                     store();
             });
}

void CustomWeightedRmsEditor::deleteUserPreset()
{
    const int index = presetSelection - 100;
    if (presetSelection < 100 || index >= (int) userPresets.size())
        return;

    const auto name = userPresets[(size_t) index].name;
    const bool ja = isJapanese();
    juce::Component::SafePointer<CustomWeightedRmsEditor> safe (this);
    confirm (ja ? juce::String::fromUTF8 ("プリセットを削除しますか？") : juce::String ("Delete preset?"),
             name,
             ja ? juce::String::fromUTF8 ("削除") : juce::String ("Delete"),
             [safe, name]
             {
                 if (safe == nullptr)
                     return;
                 // The store reads its list afresh and writes only when an entry went.
                 AppSettings::get().deleteCustomWeightedRmsPreset (name);
                 safe->presetSelection = 0;
                 safe->refreshPresetList();
             });
}
