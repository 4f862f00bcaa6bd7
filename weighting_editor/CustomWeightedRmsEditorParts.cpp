#include "weighting_editor/CustomWeightedRmsEditor.h"

#include "ui/JuceCompat.h"

#include "processor/PluginProcessor.h"

#include <BinaryData.h>

#include <charconv>
#include <cmath>

namespace
{
const juce::Colour kChipIdle      { 0xff1b2225 };
const juce::Colour kChipHover     { 0xff1f282a };
const juce::Colour kKnobDeadThumb { 0xff6b6f6d };
const juce::Colour kApplyHover    { 0xff4ade91 };

/** The "bandColour" property of a component, or the fallback without one. */
juce::Colour propertyColour (const juce::Component& c, juce::Colour fallback)
{
    const auto* v = c.getProperties().getVarPointer ("bandColour");
    if (v == nullptr)
        return fallback;
    return juce::Colour ((juce::uint32) (juce::int64) *v);
}

/** A fixed colour at the enabled factor: alpha 255 × f, rounded. */
juce::Colour atFactor (juce::Colour c, float f)
{
    return c.withAlpha ((juce::uint8) juce::jlimit (0, 255, (int) std::lround (255.0f * f)));
}

void drawFittedButtonText (juce::Graphics& g, juce::TextButton& b, juce::Font font, juce::Colour colour, int margin)
{
    g.setFont (font);
    g.setColour (colour);
    qvn::compat::drawFittedText (g, b.getButtonText(),
                      juce::Rectangle<int> (margin, 0, juce::jmax (0, b.getWidth() - 2 * margin), b.getHeight()),
                      juce::Justification::centred, 1, 0.0f);
}

juce::Rectangle<float> buttonRect (const juce::Component& b)
{
    return { 0.5f, 0.5f, (float) b.getWidth() - 1.0f, (float) b.getHeight() - 1.0f };
}

juce::Colour dimmedHue (juce::Colour c)
{
    return c.withMultipliedBrightness (0.4f).withMultipliedSaturation (0.7f);
}
} // namespace

//==============================================================================
float qvn::cwrms::enabledFactor (const juce::Component& c)
{
    for (auto* p = &c; p != nullptr; p = p->getParentComponent())
        if (! p->isEnabled())
            return kDisabledAlpha;
    return 1.0f;
}

juce::Colour qvn::cwrms::withAlphaFactor (juce::Colour c, float f) noexcept
{
    const auto a = (int) std::lround ((float) c.getAlpha() * f);
    return c.withAlpha ((juce::uint8) juce::jlimit (0, 255, a));
}

void qvn::cwrms::drawDashedRoundedRect (juce::Graphics& g, juce::Rectangle<float> area, juce::Colour colour)
{
    const auto r = juce::Rectangle<float> (area.getX() + 0.5f, area.getY() + 0.5f,
                                           juce::jmax (0.0f, area.getWidth() - 1.0f),
                                           juce::jmax (0.0f, area.getHeight() - 1.0f));
    juce::Path outline;
    outline.addRoundedRectangle (r, 5.0f);

    const float dashes[] = { 4.0f, 3.0f };
    juce::Path dashed;
    juce::PathStrokeType stroke (1.0f, juce::PathStrokeType::mitered, juce::PathStrokeType::butt);
    stroke.createDashedStroke (dashed, outline, dashes, 2);
    g.setColour (colour);
    g.fillPath (dashed);
}

juce::String qvn::cwrms::typeName (int type, int lang)
{
    static const char* const en[] = { "High Pass", "Low Shelf", "Bell", "High Shelf", "Low Pass", "Flat Tilt" };
    static const char* const ja[] = { "ハイパス", "ローシェルフ", "ベル", "ハイシェルフ", "ローパス", "フラットチルト" };
    const int t = juce::jlimit (0, 5, type);
    return lang == 1 ? juce::String::fromUTF8 (ja[t]) : juce::String (en[t]);
}

juce::Colour FlatUI::bandColour (int bandIndex) noexcept
{
    return kBandPalette[(size_t) juce::jlimit (0, 5, bandIndex)];
}

//==============================================================================
// Band rows

CustomWeightedRmsEditor::BandRow::BandRow (CustomWeightedRmsEditor& owner, int bandIndex)
    : panel (owner), band (juce::jlimit (0, 5, bandIndex))
{
    addAndMakeVisible (powerSwitch);
    powerSwitch.setOffDrawable (juce::Drawable::createFromImageData (BinaryData::icon_bypass_svg,
                                                                     (size_t) BinaryData::icon_bypass_svgSize));
    powerSwitch.setClickingTogglesState (true);
    powerSwitch.boxed = false;
    powerSwitch.hoverBrighten = true;
    powerSwitch.onClick = [this]
    {
        panel.workingCopy.slots[(size_t) band].enabled = powerSwitch.getToggleState();
        panel.workingCopyChanged (true);
    };
    refresh();
}

CustomWeightedRmsEditor::BandRow::~BandRow() = default;

void CustomWeightedRmsEditor::BandRow::refresh()
{
    using namespace qvn::cwrms;
    const bool selected = panel.selectedBand == band;
    const auto P = FlatUI::bandColour (band);

    powerSwitch.setOnColour (selected ? kOnAccentCol : P);
    powerSwitch.setOffColour (selected ? kOnAccentCol.withAlpha ((juce::uint8) 0x66) : kPowerOff);
    powerSwitch.setToggleState (panel.workingCopy.slots[(size_t) band].enabled, juce::dontSendNotification);
    repaint();
}

void CustomWeightedRmsEditor::BandRow::resized()
{
    powerSwitch.setBounds (9, (getHeight() - 13) / 2, 12, 13);
}

void CustomWeightedRmsEditor::BandRow::mouseDown (const juce::MouseEvent&)
{
    // The switch takes its own clicks; anywhere else selects the band.
    panel.selectBand (band);
}

void CustomWeightedRmsEditor::BandRow::paint (juce::Graphics& g)
{
    using namespace qvn::cwrms;
    const bool selected = panel.selectedBand == band;
    const auto& s = panel.workingCopy.slots[(size_t) band];
    const bool on = s.enabled;
    const auto P = FlatUI::bandColour (band);
    const float W = (float) getWidth(), H = (float) getHeight();

    juce::Colour fill, outline, disc, number, name;
    if (selected && on)
    {
        fill = P; outline = P; disc = kOnAccentCol; number = P; name = kOnAccentCol;
    }
    else if (selected)
    {
        fill = dimmedHue (P); outline = fill;
        disc = withAlphaFactor (kOnAccentCol, 0.35f);
        number = withAlphaFactor (P, 0.35f);
        name = withAlphaFactor (kOnAccentCol, 0.6f);
    }
    else if (on)
    {
        fill = kRowEnabled; outline = kDividerCol; disc = P; number = kSunkenCol; name = kTextCol;
    }
    else
    {
        fill = kRowDisabled; outline = kDividerCol;
        disc = withAlphaFactor (P, 0.35f);
        number = withAlphaFactor (kSunkenCol, 0.35f);
        name = kText3Col;
    }

    const juce::Rectangle<float> r (0.5f, 0.5f, W - 1.0f, H - 1.0f);
    g.setColour (fill);
    g.fillRoundedRectangle (r, 5.0f);
    g.setColour (outline);
    g.drawRoundedRectangle (r, 5.0f, 1.0f);

    const juce::Rectangle<float> discArea (28.0f, H / 2.0f - 7.5f, 15.0f, 15.0f);
    g.setColour (disc);
    g.fillEllipse (discArea);
    g.setColour (number);
    g.setFont (FlatLookAndFeel::dinFont (9.5f, juce::Font::bold));
    const auto numberBox = discArea.getSmallestIntegerContainer();
    qvn::compat::drawText (g, juce::String (band + 1), juce::Rectangle<int> (28, numberBox.getY(), 15, numberBox.getHeight()),
                juce::Justification::centred, true);

    if (getWidth() >= 65)
    {
        g.setColour (name);
        g.setFont (FlatLookAndFeel::dinFont (12.0f));
        qvn::compat::drawFittedText (g, typeName (s.type, panel.lang()), juce::Rectangle<int> (50, 0, getWidth() - 57, getHeight()),
                          juce::Justification::centredLeft, 1, 0.0f);
    }
}

//==============================================================================
// Value field

CustomWeightedRmsEditor::ValueField::~ValueField() = default;

void CustomWeightedRmsEditor::ValueField::mouseEnter (const juce::MouseEvent& e)
{
    juce::Label::mouseEnter (e);
    hovered = true;
    repaint();
}

void CustomWeightedRmsEditor::ValueField::mouseExit (const juce::MouseEvent& e)
{
    juce::Label::mouseExit (e);
    hovered = false;
    repaint();
}

void CustomWeightedRmsEditor::ValueField::paint (juce::Graphics& g)
{
    using namespace qvn::cwrms;
    const juce::Rectangle<float> r (0.5f, 0.5f, (float) getWidth() - 1.0f, (float) getHeight() - 1.0f);

    if (isBeingEdited())
    {
        g.setColour (kSunkenCol);
        g.fillRoundedRectangle (r, 4.0f);
        g.setColour (kAccentCol);
        g.drawRoundedRectangle (r, 4.0f, 1.0f);
        return;
    }

    const float f = enabledFactor (*this);
    if (hovered && f >= 1.0f)
    {
        g.setColour (kDividerCol);
        g.drawRoundedRectangle (r, 4.0f, 1.0f);
    }

    g.setColour (withAlphaFactor (kTextCol, f));
    g.setFont (getFont());
    qvn::compat::drawText (g, getText(), getLocalBounds(), getJustificationType(), true);
}

void CustomWeightedRmsEditor::ValueField::editorShown (juce::TextEditor* ed)
{
    using namespace qvn::cwrms;
    if (ed == nullptr)
        return;
    ed->setJustification (juce::Justification::centred);
    ed->applyFontToAllText (getFont());
    ed->setBorder (juce::BorderSize<int> (0));
    ed->setColour (juce::TextEditor::backgroundColourId, juce::Colours::transparentBlack);
    ed->setColour (juce::TextEditor::outlineColourId, juce::Colours::transparentBlack);
    ed->setColour (juce::TextEditor::focusedOutlineColourId, juce::Colours::transparentBlack);
    ed->setColour (juce::TextEditor::textColourId, kTextCol);
    ed->setColour (juce::TextEditor::highlightColourId, kAccentCol.withAlpha ((juce::uint8) 0x4c));
    ed->setColour (juce::TextEditor::highlightedTextColourId, kTextCol);
    ed->setColour (juce::CaretComponent::caretColourId, kAccentCol);
    ed->applyColourToAllText (kTextCol);
    ed->selectAll();
    repaint();
}

void CustomWeightedRmsEditor::ValueField::editorAboutToBeHidden (juce::TextEditor*)
{
    repaint();
}

//==============================================================================
// Knob cells

CustomWeightedRmsEditor::KnobCell::KnobCell()
{
    using namespace qvn::cwrms;
    knob.setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
    knob.setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);
    knob.setRotaryParameters (juce::MathConstants<float>::pi * 1.25f, juce::MathConstants<float>::pi * 2.75f, true);
    knob.onValueChange = [this] { knobMoved(); };

    valueField.setEditable (true, true, false);
    valueField.setJustificationType (juce::Justification::centred);
    valueField.setFont (FlatLookAndFeel::dinFont (14.0f));
    valueField.setColour (juce::Label::textColourId, kTextCol);
    valueField.setColour (juce::Label::textWhenEditingColourId, kTextCol);
    for (auto id : { juce::Label::backgroundColourId, juce::Label::outlineColourId,
                     juce::Label::backgroundWhenEditingColourId, juce::Label::outlineWhenEditingColourId })
        valueField.setColour (id, juce::Colours::transparentBlack);
    valueField.onTextChange = [this] { valueTyped(); };

    addAndMakeVisible (knob);
    addAndMakeVisible (valueField);
}

CustomWeightedRmsEditor::KnobCell::~KnobCell() = default;

juce::String CustomWeightedRmsEditor::KnobCell::textFor (double v) const
{
    return valueToText ? valueToText (v) : juce::String (v);
}

double CustomWeightedRmsEditor::KnobCell::parseTypedValue (const juce::String& text)
{
    std::string kept;
    for (auto c : text)
        if (juce::String ("0123456789.+-").containsChar (c))
            kept.push_back ((char) c);

    // The number at the start of what is left; a lone leading '+' is allowed.
    const char* first = kept.data();
    const char* last = kept.data() + kept.size();
    if (first != last && *first == '+')
        ++first;

    double v = 0.0;
    const auto res = std::from_chars (first, last, v, std::chars_format::fixed);
    if (res.ec != std::errc() || ! std::isfinite (v))
        v = 0.0;
    return v;
}

void CustomWeightedRmsEditor::KnobCell::knobMoved()
{
    const double v = knob.getValue();
    if (! valueField.isBeingEdited())
        valueField.setText (textFor (v), juce::dontSendNotification);
    if (onValueChange)
        onValueChange (v);
}

void CustomWeightedRmsEditor::KnobCell::valueTyped()
{
    const double typed = parseTypedValue (valueField.getText());
    knob.setValue (juce::jlimit (knob.getMinimum(), knob.getMaximum(), typed), juce::dontSendNotification);
    valueField.setText (textFor (knob.getValue()), juce::dontSendNotification);
    if (onValueChange)
        onValueChange (knob.getValue());
}

void CustomWeightedRmsEditor::KnobCell::setValue (double v)
{
    knob.setValue (v, juce::dontSendNotification);
    if (! valueField.isBeingEdited())
        valueField.setText (textFor (knob.getValue()), juce::dontSendNotification);
}

void CustomWeightedRmsEditor::KnobCell::setBandColour (juce::Colour c)
{
    knob.getProperties().set ("bandColour", (juce::int64) c.getARGB());
    knob.repaint();
}

void CustomWeightedRmsEditor::KnobCell::setInUse (bool inUse)
{
    if (dimmed == ! inUse)
        return;
    dimmed = ! inUse;
    knob.setEnabled (inUse);
    valueField.setEnabled (inUse);
    valueField.setInterceptsMouseClicks (inUse, inUse);
    repaint();
}

void CustomWeightedRmsEditor::KnobCell::resized()
{
    auto area = getLocalBounds();
    const int W = getWidth();

    titleArea = area.removeFromTop (juce::jmin (15, area.getHeight()));
    area.removeFromTop (juce::jmin (3, area.getHeight()));

    const auto row = area.removeFromBottom (juce::jmin (17, area.getHeight()));
    area.removeFromBottom (juce::jmin (3, area.getHeight()));

    const int side = juce::jmin (60, W, area.getHeight());
    knob.setBounds ((W - side) / 2, area.getY() + (area.getHeight() - side) / 2, side, side);

    const int u = unit.isEmpty() ? 0
                                 : juce::roundToInt (qvn::compat::stringWidth (FlatLookAndFeel::dinFont (10.0f), unit)) + 5;
    const int G = juce::jmin (W, juce::jmin (56, juce::jmax (0, W - u)) + u);
    const int x0 = (W - G) / 2;
    const int fieldW = juce::jmin (G, juce::jmax (0, G - u));
    valueField.setBounds (x0, row.getY(), fieldW, row.getHeight());
    unitArea = juce::Rectangle<int> (x0 + fieldW, row.getY(), G - fieldW, row.getHeight());
    valueField.setJustificationType (juce::Justification::centredBottom);
}

void CustomWeightedRmsEditor::KnobCell::paint (juce::Graphics& g)
{
    using namespace qvn::cwrms;
    const auto colour = dimmed ? withAlphaFactor (kText2Col, kDisabledAlpha) : kText2Col;
    g.setColour (colour);
    g.setFont (FlatLookAndFeel::dinFont (12.0f).withExtraKerningFactor (0.14f));
    qvn::compat::drawFittedText (g, title, titleArea, juce::Justification::centred, 1, 0.0f);

    if (unit.isNotEmpty())
    {
        g.setFont (FlatLookAndFeel::dinFont (10.0f));
        qvn::compat::drawText (g, unit, unitArea, juce::Justification::bottomLeft, true);
    }
}

//==============================================================================
// Name field

CustomWeightedRmsEditor::NameEditor::~NameEditor() = default;

void CustomWeightedRmsEditor::NameEditor::paint (juce::Graphics& g)
{
    g.setColour (qvn::cwrms::kFieldCol);
    g.fillRoundedRectangle (getLocalBounds().toFloat(), 5.0f);
    juce::TextEditor::paint (g);
}

void CustomWeightedRmsEditor::NameEditor::paintOverChildren (juce::Graphics& g)
{
    juce::TextEditor::paintOverChildren (g);
    qvn::cwrms::drawDashedRoundedRect (g, getLocalBounds().toFloat(), juce::Colour (0xff2e383a));
}

//==============================================================================
// Looks

void CustomWeightedRmsEditor::KnobLF::drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height,
                                                        float sliderPos, float startAngle, float endAngle,
                                                        juce::Slider& slider)
{
    using namespace qvn::cwrms;
    const float s = (float) juce::jmin (width, height);
    if (s < 8.0f)
        return;

    const float cx = (float) x + (float) width / 2.0f;
    const float cy = (float) y + (float) height / 2.0f;
    const float R = 0.38983049988746643f * s;
    const float T = 0.11864406615495682f * s;
    const float D = 0.06779661029577255f * s;
    const juce::PathStrokeType stroke (T, juce::PathStrokeType::curved, juce::PathStrokeType::rounded);

    juce::Path track;
    track.addCentredArc (cx, cy, R, R, 0.0f, startAngle, endAngle, true);
    g.setColour (kSunkenCol);
    g.strokePath (track, stroke);

    const bool enabled = enabledFactor (slider) >= 1.0f;
    const float a = startAngle + sliderPos * (endAngle - startAngle);
    if (a > startAngle + 0.0001f)
    {
        auto c = propertyColour (slider, kAccentCol);
        if (! enabled)
            c = dimmedHue (c);
        juce::Path value;
        value.addCentredArc (cx, cy, R, R, 0.0f, startAngle, a, true);
        g.setColour (c);
        g.strokePath (value, stroke);
    }

    g.setColour (enabled ? kTextCol : kKnobDeadThumb);
    g.fillEllipse (cx + R * std::sin (a) - D, cy - R * std::cos (a) - D, 2.0f * D, 2.0f * D);
}

void CustomWeightedRmsEditor::TypeButtonLF::drawButtonBackground (juce::Graphics& g, juce::Button& b,
                                                                  const juce::Colour&, bool over, bool down)
{
    using namespace qvn::cwrms;
    const float f = enabledFactor (b);
    const auto c = propertyColour (b, kAccentCol);
    const auto r = buttonRect (b);

    juce::Colour fill, outline;
    float thickness = 1.0f;
    if (b.getToggleState())
    {
        fill = c.withAlpha ((juce::uint8) juce::jlimit (0, 255, (int) std::lround (0.12f * f * 255.0f)));
        outline = withAlphaFactor (c, f);
        thickness = 1.2f;
    }
    else if (down)
    {
        fill = atFactor (juce::Colour (0xff1c211d), f);
        outline = withAlphaFactor (kStrongCol, f);
    }
    else if (over)
    {
        fill = withAlphaFactor (kStrongCol, f);
        outline = fill;
    }
    else
    {
        fill = atFactor (juce::Colour (0xff2a322c), f);
        outline = withAlphaFactor (kStrongCol, f);
    }

    g.setColour (fill);
    g.fillRoundedRectangle (r, 5.0f);
    g.setColour (outline);
    g.drawRoundedRectangle (r, 5.0f, thickness);
}

void CustomWeightedRmsEditor::TypeButtonLF::drawButtonText (juce::Graphics& g, juce::TextButton& b, bool, bool)
{
    using namespace qvn::cwrms;
    const float f = enabledFactor (b);
    const auto c = b.getToggleState() ? propertyColour (b, kAccentCol) : kTextCol;
    drawFittedButtonText (g, b, FlatLookAndFeel::dinFont (12.0f), withAlphaFactor (c, f), 3);
}

void CustomWeightedRmsEditor::ChipLF::drawButtonBackground (juce::Graphics& g, juce::Button& b,
                                                            const juce::Colour&, bool over, bool down)
{
    using namespace qvn::cwrms;
    juce::Colour fill, outline = kDividerCol;
    if (b.getToggleState())
    {
        fill = kAccentCol.withAlpha ((juce::uint8) 0x1f);
        outline = kAccentCol;
    }
    else if (down)
        fill = juce::Colour (0xff1c211d);
    else if (over)
        fill = kChipHover;
    else
        fill = kChipIdle;

    const auto r = buttonRect (b);
    g.setColour (fill);
    g.fillRoundedRectangle (r, 5.0f);
    g.setColour (outline);
    g.drawRoundedRectangle (r, 5.0f, 1.0f);
}

void CustomWeightedRmsEditor::ChipLF::drawButtonText (juce::Graphics& g, juce::TextButton& b, bool, bool)
{
    using namespace qvn::cwrms;
    drawFittedButtonText (g, b, FlatLookAndFeel::dinFont (12.0f), b.getToggleState() ? kAccentCol : kTextCol, 8);
}

void CustomWeightedRmsEditor::PanelButtonLF::drawButtonBackground (juce::Graphics& g, juce::Button& b,
                                                                   const juce::Colour&, bool over, bool down)
{
    using namespace qvn::cwrms;
    const float f = enabledFactor (b);
    const auto r = buttonRect (b);

    if (style == 0)
    {
        const auto fill = down ? atFactor (juce::Colour (0xff35b471), f)
                        : over ? withAlphaFactor (kApplyHover, f)
                               : atFactor (juce::Colour (0xff3ecf82), f);
        g.setColour (fill);
        g.fillRoundedRectangle (r, 5.0f);
    }
    else if (style == 1)
    {
        g.setColour (withAlphaFactor (down || over ? kText3Col : kStrongCol, f));
        g.drawRoundedRectangle (r, 5.0f, 1.0f);
    }
    else if (style == 2)
    {
        const auto fill = down ? atFactor (juce::Colour (0xff1c211d), f)
                        : over ? withAlphaFactor (kStrongCol, f)
                               : atFactor (juce::Colour (0xff2a322c), f);
        g.setColour (fill);
        g.fillRoundedRectangle (r, 5.0f);
        g.setColour (withAlphaFactor (kStrongCol, f));
        g.drawRoundedRectangle (r, 5.0f, 1.0f);
    }
}

void CustomWeightedRmsEditor::PanelButtonLF::drawButtonText (juce::Graphics& g, juce::TextButton& b, bool over, bool)
{
    using namespace qvn::cwrms;
    const float f = enabledFactor (b);
    juce::Colour c = kTextCol;
    auto font = FlatLookAndFeel::dinFont (12.0f);
    if (style == 0)
    {
        c = kOnAccentCol;
        font = FlatLookAndFeel::dinFont (12.0f, juce::Font::bold);
    }
    else if (style == 1)
        c = over ? kTextCol : kText2Col;

    drawFittedButtonText (g, b, font, withAlphaFactor (c, f), 6);
}
