#pragma once

#include "ui/RangeEditPopup.h"

#include <juce_gui_basics/juce_gui_basics.h>
#include <functional>

// Creates, edits or deletes a named Offset Target inside a call-out box. It
// validates nothing itself: the owner's onCommit accepts or refuses the values,
// and a refusal marks the name field and keeps the popup open.
class OffsetTargetEditPopup : public juce::Component
{
public:
    struct Strings
    {
        juce::String title { "Offset Target" };
        juce::String nameLabel { "Name" };
        juce::String minLabel { "Min" };
        juce::String maxLabel { "Max" };
        juce::String deleteLabel { "Delete" };
        juce::String cancelLabel { "Cancel" };
        juce::String okLabel { "OK" };
    };

    OffsetTargetEditPopup (const juce::String& name, float initialMin, float initialMax, bool existing,
                           Strings strings);
    ~OffsetTargetEditPopup() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    // Validates through onCommit; closes when accepted, else marks the name field.
    void commit();
    int titlePx() const;

    std::function<bool (const juce::String&, float, float)> onCommit;
    std::function<void()> onDelete;

private:
    Strings strings;
    float initialMin, initialMax;
    bool existing;
    RangeEditPopup::PopupBtnLF buttonLF;

public:
    juce::TextEditor nameField, minField, maxField;
    juce::TextButton deleteButton, cancelButton, okButton;

private:
    juce::Rectangle<int> titleRect, nameLabelRect, minLabelRect, maxLabelRect, minUnitRect, maxUnitRect;

    void close();
    void deleteAndClose();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OffsetTargetEditPopup)
};
