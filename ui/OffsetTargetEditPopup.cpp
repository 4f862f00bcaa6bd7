#include "ui/OffsetTargetEditPopup.h"
#include "ui/PopupHelpers.h"

namespace
{
const juce::Colour kOutline { 0xff242b26 };
const juce::Colour kFocusOutline { 0xff7cf2c8 };
const juce::Colour kRefused { 0xffcc4444 };
} // namespace

OffsetTargetEditPopup::OffsetTargetEditPopup (const juce::String& name, float iMin, float iMax, bool isExisting, Strings s)
    : strings (std::move (s)), initialMin (iMin), initialMax (iMax), existing (isExisting)
{
    qvn::popup::setUpField (nameField, name, juce::Justification::centredLeft, 24, {});
    qvn::popup::setUpField (minField, qvn::popup::formatNumber (initialMin), juce::Justification::centred, 6, "0123456789.-+");
    qvn::popup::setUpField (maxField, qvn::popup::formatNumber (initialMax), juce::Justification::centred, 6, "0123456789.-+");
    nameField.setIndents (6, 0);
    minField.setIndents (0, 0);
    maxField.setIndents (0, 0);

    for (auto* f : { &nameField, &minField, &maxField })
    {
        f->setSelectAllWhenFocused (true);
        f->onReturnKey = [this] { commit(); };
        f->onEscapeKey = [this] { close(); };
        addAndMakeVisible (f);
    }

    nameField.onTextChange = [this]
    {
        qvn::popup::setFieldOutline (nameField, kOutline, kFocusOutline);
        nameField.applyFontToAllText (qvn::popup::fieldFont (nameField.getText()));
        nameField.repaint();
    };

    deleteButton.setButtonText (strings.deleteLabel);
    cancelButton.setButtonText (strings.cancelLabel);
    okButton.setButtonText (strings.okLabel);
    for (auto* b : { &deleteButton, &cancelButton, &okButton })
    {
        b->setLookAndFeel (&buttonLF);
        addChildComponent (b);
    }
    deleteButton.setVisible (existing);
    cancelButton.setVisible (true);
    okButton.setVisible (true);

    deleteButton.onClick = [this] { deleteAndClose(); };
    cancelButton.onClick = [this] { close(); };
    okButton.onClick = [this] { commit(); };
}

OffsetTargetEditPopup::~OffsetTargetEditPopup()
{
    for (auto* b : { &deleteButton, &cancelButton, &okButton })
        b->setLookAndFeel (nullptr);
}

int OffsetTargetEditPopup::titlePx() const
{
    return qvn::popup::titlePx (strings.title);
}

void OffsetTargetEditPopup::close()
{
    qvn::popup::closeEnclosingCallOutBox (*this);
}

void OffsetTargetEditPopup::commit()
{
    const float lo = RangeEditPopup::parseLufsField (minField.getText()).value_or (initialMin);
    const float hi = RangeEditPopup::parseLufsField (maxField.getText()).value_or (initialMax);
    if (onCommit && ! onCommit (nameField.getText(), lo, hi))
    {
        qvn::popup::setFieldOutline (nameField, kRefused, kRefused);
        nameField.repaint();
        if (nameField.isShowing())
            nameField.grabKeyboardFocus();
        return;
    }
    close();
}

void OffsetTargetEditPopup::deleteAndClose()
{
    auto callback = onDelete;
    close();
    if (callback)
        callback();
}

void OffsetTargetEditPopup::paint (juce::Graphics& g)
{
    qvn::popup::paintFrame (g, getWidth(), getHeight());
    qvn::popup::paintTitle (g, strings.title, titleRect);
    qvn::popup::paintLabel (g, strings.nameLabel, nameLabelRect);
    qvn::popup::paintLabel (g, strings.minLabel, minLabelRect);
    qvn::popup::paintLabel (g, strings.maxLabel, maxLabelRect);
    qvn::popup::paintUnits (g, "dB", minUnitRect, maxUnitRect);
}

void OffsetTargetEditPopup::resized()
{
    const int W = getWidth();
    const qvn::popup::Columns col (W);
    qvn::popup::RowCutter rows (getHeight());

    titleRect = qvn::popup::takeTitleRow (rows, W, titlePx());

    const auto nameRow = rows.take (26);
    nameLabelRect = { col.labelX, nameRow.getStart(), col.t, nameRow.getLength() };
    nameField.setBounds (col.fieldX, nameRow.getStart(), std::max (0, W - 30 - col.t), nameRow.getLength());
    rows.take (6);

    qvn::popup::placeFieldRow (col, rows.take (26), minLabelRect, minField, minUnitRect);
    rows.take (6);
    qvn::popup::placeFieldRow (col, rows.take (26), maxLabelRect, maxField, maxUnitRect);
    rows.take (12);
    qvn::popup::placeButtonRow (col, rows.take (28), deleteButton, cancelButton, okButton);
}
