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

    g.setColour (juce::Colour (0xffeaefe9));
    g.setFont (qvn::popup::labelFont (strings.title));
    g.drawText (strings.title, titleRect, juce::Justification::centred, true);

    g.setColour (juce::Colour (0xff7e7f83));
    const std::pair<const juce::String*, juce::Rectangle<int>> labels[] = {
        { &strings.nameLabel, nameLabelRect }, { &strings.minLabel, minLabelRect }, { &strings.maxLabel, maxLabelRect }
    };
    for (auto& [text, rect] : labels)
    {
        g.setFont (qvn::popup::labelFont (*text));
        g.drawText (*text, rect, juce::Justification::centred, true);
    }

    g.setColour (juce::Colour (0xff828d85));
    g.setFont (FlatLookAndFeel::dinFont (12.0f, juce::Font::plain));
    g.drawText ("dB", minUnitRect, juce::Justification::centred, true);
    g.drawText ("dB", maxUnitRect, juce::Justification::centred, true);
}

void OffsetTargetEditPopup::resized()
{
    const int W = getWidth();
    const qvn::popup::Columns col (W);
    const int iw = std::max (0, W - 24);
    qvn::popup::RowCutter rows (getHeight());

    rows.take (12);
    auto row = rows.take (titlePx());
    titleRect = { 12, row.getStart(), iw, row.getLength() };
    rows.take (12);

    row = rows.take (26);
    nameLabelRect = { col.labelX, row.getStart(), col.t, row.getLength() };
    nameField.setBounds (col.fieldX, row.getStart(), std::max (0, W - 30 - col.t), row.getLength());
    rows.take (6);

    auto place = [&] (juce::Range<int> r, juce::Rectangle<int>& label, juce::Component& field, juce::Rectangle<int>& unit)
    {
        label = { col.labelX, r.getStart(), col.t, r.getLength() };
        field.setBounds (col.fieldX, r.getStart(), col.t, r.getLength());
        unit = { col.unitX, r.getStart(), col.unitW, r.getLength() };
    };
    place (rows.take (26), minLabelRect, minField, minUnitRect);
    rows.take (6);
    place (rows.take (26), maxLabelRect, maxField, maxUnitRect);
    rows.take (12);

    row = rows.take (28);
    deleteButton.setBounds (col.labelX, row.getStart(), col.t, row.getLength());
    cancelButton.setBounds (col.fieldX, row.getStart(), col.t, row.getLength());
    okButton.setBounds (col.unitX, row.getStart(), col.unitW, row.getLength());
}
