#include "ui/UiTheme.h"

#include "ui/JuceCompat.h"

#include <BinaryData.h>

#include <array>
#include <cmath>

namespace qvn
{
namespace
{
// Fallback order for characters a face lacks: the monospace faces cover the
// symbols (bullets, arrows, minus), the Japanese faces the CJK ranges.
enum FallbackPriority { kMonoFirst = 0, kJapaneseNext = 1, kDinLast = 2 };

enum FaceIndex { kRegular, kBold, kDinRegular, kDinBold, kDinExp, kJp, kJpBold, kNumFaces };

juce::Typeface::Ptr makeTypeface (const char* data, int size, bool bold, int priority)
{
    if (data == nullptr || size <= 0)
        return {};

    auto face = juce::Typeface::createSystemTypefaceFor (data, (size_t) size);
    compat::FaceRegistry::get().add (face, data, (size_t) size, bold, priority);
    return face;
}

// The seven faces are made together on first use and released when the
// framework shuts down (the last GUI initialiser, or the last plug-in instance
// of a loaded bundle, goes): a face parsed from memory keeps every glyph outline
// it has drawn, and those must not outlive the framework's leak checks.
class EmbeddedFaces : private juce::DeletedAtShutdown
{
public:
    EmbeddedFaces()
    {
        struct Source
        {
            const char* data;
            int size;
            bool bold;
            int priority;
        };

        // In fallback order within each priority.
        const Source sources[kNumFaces] = {
            { BinaryData::JetBrainsMonoRegular_ttf, BinaryData::JetBrainsMonoRegular_ttfSize, false, kMonoFirst },
            { BinaryData::JetBrainsMonoBold_ttf, BinaryData::JetBrainsMonoBold_ttfSize, true, kMonoFirst },
            { BinaryData::DDIN_otf, BinaryData::DDIN_otfSize, false, kDinLast },
            { BinaryData::DDINBold_otf, BinaryData::DDINBold_otfSize, true, kDinLast },
            { BinaryData::DDINExp_otf, BinaryData::DDINExp_otfSize, false, kDinLast },
            { BinaryData::IBMPlexSansJPRegular_ttf, BinaryData::IBMPlexSansJPRegular_ttfSize, false, kJapaneseNext },
            { BinaryData::IBMPlexSansJPBold_ttf, BinaryData::IBMPlexSansJPBold_ttfSize, true, kJapaneseNext },
        };

        for (int i = 0; i < kNumFaces; ++i)
            faces[(size_t) i] = makeTypeface (sources[i].data, sources[i].size, sources[i].bold, sources[i].priority);
    }

    ~EmbeddedFaces() override
    {
        for (auto& face : faces)
            compat::FaceRegistry::get().remove (face.get());

        clearSingletonInstance();
    }

    static juce::Typeface::Ptr face (FaceIndex index) { return getInstance()->faces[(size_t) index]; }

    JUCE_DECLARE_SINGLETON (EmbeddedFaces, false)

private:
    std::array<juce::Typeface::Ptr, kNumFaces> faces;

    JUCE_DECLARE_NON_COPYABLE (EmbeddedFaces)
};

JUCE_IMPLEMENT_SINGLETON (EmbeddedFaces)
} // namespace

juce::Typeface::Ptr regularTypeface()    { return EmbeddedFaces::face (kRegular); }
juce::Typeface::Ptr boldTypeface()       { return EmbeddedFaces::face (kBold); }
juce::Typeface::Ptr dinRegularTypeface() { return EmbeddedFaces::face (kDinRegular); }
juce::Typeface::Ptr dinBoldTypeface()    { return EmbeddedFaces::face (kDinBold); }
juce::Typeface::Ptr dinExpTypeface()     { return EmbeddedFaces::face (kDinExp); }
juce::Typeface::Ptr jpTypeface()         { return EmbeddedFaces::face (kJp); }
juce::Typeface::Ptr jpBoldTypeface()     { return EmbeddedFaces::face (kJpBold); }

void loadAllTypefaces()
{
    EmbeddedFaces::getInstance();
}

float enabledAlpha (const juce::Component& c)
{
    return c.isEnabled() ? 1.0f : 0.35f;
}

juce::uint8 alphaByte (float v) noexcept
{
    if (! (v > 0.0f))
        return 0;
    if (v >= 1.0f)
        return 255;
    return (juce::uint8) juce::roundToInt (v * 255.0f);
}

juce::Colour withAlphaFactor (juce::Colour c, float v) noexcept
{
    return c.withAlpha (alphaByte (v));
}
} // namespace qvn

//==============================================================================
FlatLookAndFeel::FlatLookAndFeel()
{
    // A character missing from one face is drawn from another, so every face
    // has to exist before the first text is drawn.
    qvn::loadAllTypefaces();

    regularTypefacePtr = qvn::regularTypeface();
    boldTypefacePtr = qvn::boldTypeface();

    using namespace qvn::theme;
    setColour (juce::TextButton::buttonColourId, kButtonCol);
    setColour (juce::TextButton::buttonOnColourId, kAccentCol);
    setColour (juce::TextButton::textColourOffId, kTextCol);
    setColour (juce::TextButton::textColourOnId, kTextCol);
    setColour (juce::Slider::thumbColourId, kAccentCol);
    setColour (juce::Slider::trackColourId, juce::Colour (0x667cf2c8));
    setColour (juce::Slider::backgroundColourId, kDeepCol);
    setColour (juce::Slider::textBoxBackgroundColourId, kPanelCol);
    setColour (juce::Slider::textBoxTextColourId, kTextCol);
    setColour (juce::Slider::textBoxOutlineColourId, kLineCol);
    setColour (juce::Label::textColourId, kTextCol);
    setColour (juce::TooltipWindow::backgroundColourId, juce::Colours::white);
    setColour (juce::TooltipWindow::textColourId, juce::Colours::black);
    setColour (juce::TooltipWindow::outlineColourId, kLineCol);
}

FlatLookAndFeel::~FlatLookAndFeel() = default;

juce::Typeface::Ptr FlatLookAndFeel::getTypefaceForFont (const juce::Font& f)
{
    auto face = f.isBold() ? boldTypefacePtr : regularTypefacePtr;

    if (face == nullptr)
        return juce::LookAndFeel_V4::getTypefaceForFont (f);

    return face;
}

void FlatLookAndFeel::drawButtonBackground (juce::Graphics& g, juce::Button& button, const juce::Colour&,
                                            bool highlighted, bool down)
{
    using namespace qvn::theme;
    const auto base = button.findColour (juce::TextButton::buttonColourId);
    const bool themeFace = base == kButtonCol;
    const bool on = button.getToggleState();
    juce::Colour fill;

    if (themeFace || on)
    {
        if (on)
            fill = themeFace ? kAccentCol : base;
        else
            fill = down ? kButtonDownCol : (highlighted ? kButtonHoverCol : kButtonCol);
    }
    else
    {
        fill = down ? base.darker (0.15f) : (highlighted ? base.brighter (0.15f) : base);
    }

    const auto r = juce::Rectangle<float> (0.5f, 0.5f,
                                           juce::jmax (0.0f, (float) button.getWidth() - 1.0f),
                                           juce::jmax (0.0f, (float) button.getHeight() - 1.0f));
    g.setColour (fill);
    g.fillRoundedRectangle (r, 4.0f);
    g.setColour (kButtonOutlineCol);
    g.drawRoundedRectangle (r, 4.0f, 1.0f);
}

juce::Font FlatLookAndFeel::getTextButtonFont (juce::TextButton&, int buttonHeight)
{
    return font (juce::jmin (0.6f * (float) buttonHeight, 15.0f), juce::Font::bold);
}

void FlatLookAndFeel::drawButtonText (juce::Graphics& g, juce::TextButton& button, bool, bool)
{
    const auto h = button.getHeight();
    g.setFont (font (juce::jmin (0.6f * (float) h, 15.0f), button.getToggleState() ? juce::Font::bold : juce::Font::plain));
    g.setColour (qvn::theme::kTextCol);
    qvn::compat::drawFittedText (g, button.getButtonText(),
                                 { 2, 0, juce::jmax (0, button.getWidth() - 4), h },
                                 juce::Justification::centred, 1);
}

juce::Font FlatLookAndFeel::getLabelFont (juce::Label& l)
{
    return l.getFont();
}

juce::TextLayout FlatLookAndFeel::layoutTooltipText (const juce::String& text, float maxWidth) const
{
    juce::AttributedString s;
    s.setLineSpacing (3.0f);
    s.setJustification (juce::Justification::centredLeft);
    s.setWordWrap (juce::AttributedString::byWord);
    s.setReadingDirection (juce::AttributedString::natural);
    qvn::compat::appendText (s, text, tooltipJapanese ? jpFont (14.0f) : dinExpFont (12.0f),
                             findColour (juce::TooltipWindow::textColourId));

    juce::TextLayout layout;
    qvn::compat::createLayout (layout, s, maxWidth);
    return layout;
}

juce::Rectangle<int> FlatLookAndFeel::getTooltipBounds (const juce::String& tip, juce::Point<int> mouse,
                                                        juce::Rectangle<int> parent)
{
    int w = juce::jmin (parent.getWidth(), 404);
    if (w < 38)
        w = 37;

    const auto layout = layoutTooltipText (tip, (float) (w - 36));
    const int t = (int) std::ceil (layout.getHeight());

    const int boxW = w - 12;
    const int boxH = t + 20;

    const int x = mouse.x <= parent.getX() + parent.getWidth() / 2 ? mouse.x + 24 : mouse.x - w;
    int y;

    if (mouse.y + t + 56 <= parent.getBottom())
        y = mouse.y + 6;
    else if (mouse.y - t - 26 >= parent.getY())
        y = mouse.y - t - 26;
    else
        y = mouse.y + 6;

    // Keep the box inside the parent, 6 px from its edges; where it is larger
    // than that area it is cut to it and sits at its left or top edge.
    const auto area = parent.reduced (6);
    auto clampAxis = [] (int pos, int size, int areaPos, int areaSize)
    {
        if (size >= areaSize)
            return std::pair<int, int> (areaPos, areaSize);
        return std::pair<int, int> (juce::jlimit (areaPos, areaPos + areaSize - size, pos), size);
    };

    const auto [bx, bw] = clampAxis (x, boxW, area.getX(), area.getWidth());
    const auto [by, bh] = clampAxis (y, boxH, area.getY(), area.getHeight());
    return { bx, by, bw, bh };
}

void FlatLookAndFeel::drawTooltip (juce::Graphics& g, const juce::String& text, int width, int height)
{
    g.setColour (findColour (juce::TooltipWindow::backgroundColourId));
    g.fillRect (0, 0, width, height);
    g.setColour (findColour (juce::TooltipWindow::outlineColourId));
    g.drawRect (0, 0, width, height, 1);

    const auto layout = layoutTooltipText (text, (float) juce::jmax (1, width - 24));
    layout.draw (g, juce::Rectangle<float> (12.0f, 8.0f, (float) (width - 24), (float) (height - 16)));
}

//==============================================================================
juce::Font FlatLookAndFeel::font (float size, int style)
{
    return qvn::compat::makeFont ((style & juce::Font::bold) != 0 ? qvn::boldTypeface() : qvn::regularTypeface(), size);
}

juce::Font FlatLookAndFeel::dinFont (float size, int style)
{
    return qvn::compat::makeFont ((style & juce::Font::bold) != 0 ? qvn::dinBoldTypeface() : qvn::dinRegularTypeface(), size);
}

juce::Font FlatLookAndFeel::dinExpFont (float size)
{
    return qvn::compat::makeFont (qvn::dinExpTypeface(), size);
}

juce::Font FlatLookAndFeel::jpFont (float size, int)
{
    return qvn::compat::makeFont (qvn::jpTypeface(), size);
}

juce::Font FlatLookAndFeel::jpBoldFont (float size)
{
    return qvn::compat::makeFont (qvn::jpBoldTypeface(), size);
}

juce::Font FlatLookAndFeel::roleTabFontFor (const juce::String& text, float height, float kerning)
{
    const float s = juce::jmin (height * 0.5f, 15.0f);

    if (needsJapaneseFace (text))
        return jpBoldFont (s + 3.0f);

    return dinFont (s, juce::Font::bold).withExtraKerningFactor (kerning);
}

bool FlatLookAndFeel::needsJapaneseFace (const juce::String& text)
{
    for (auto p = text.getCharPointer(); ! p.isEmpty();)
        if ((juce::uint32) p.getAndAdvance() > 0x2fff)
            return true;

    return false;
}

//==============================================================================
namespace
{
juce::Rectangle<float> buttonRect (const juce::Component& c)
{
    return { 0.5f, 0.5f, juce::jmax (0.0f, (float) c.getWidth() - 1.0f), juce::jmax (0.0f, (float) c.getHeight() - 1.0f) };
}

juce::Rectangle<int> textArea (const juce::Component& c)
{
    return { 2, 0, juce::jmax (0, c.getWidth() - 4), c.getHeight() };
}

juce::Colour tabTextColour (bool toggled, bool highlighted)
{
    using namespace qvn::theme;
    return toggled ? kTextCol : (highlighted ? kMutedCol.brighter (0.3f) : kMutedCol);
}

void fillUnderline (juce::Graphics& g, const juce::Component& c, float textWidth, float bottomGap)
{
    const float w = (float) c.getWidth();
    const float u = juce::jmin (w - 4.0f, textWidth + 2.0f);

    if (u <= 0.0f)
        return;

    g.setColour (qvn::theme::kAccentCol);
    g.fillRoundedRectangle (w / 2.0f - u / 2.0f, (float) c.getHeight() - bottomGap, u, 2.0f, 1.0f);
}

void drawOutlineOnlyBackground (juce::Graphics& g, juce::Button& b, bool highlighted, bool down)
{
    g.setColour (down ? juce::Colour (0xcceaefe9) : (highlighted ? qvn::theme::kButtonHoverCol : qvn::theme::kButtonOutlineCol));
    g.drawRoundedRectangle (buttonRect (b), 4.0f, 1.2f);
}
} // namespace

//==============================================================================
void RoleTabLF::drawButtonBackground (juce::Graphics& g, juce::Button& b, const juce::Colour&, bool, bool)
{
    if (! b.getToggleState())
        return;

    const auto f = roleTabFontFor (b.getButtonText(), (float) b.getHeight(), 0.07f);
    fillUnderline (g, b, qvn::compat::stringWidth (f, b.getButtonText()), 7.0f);
}

void RoleTabLF::drawButtonText (juce::Graphics& g, juce::TextButton& b, bool highlighted, bool)
{
    g.setFont (roleTabFontFor (b.getButtonText(), (float) b.getHeight(), 0.07f));
    g.setColour (tabTextColour (b.getToggleState(), highlighted));
    qvn::compat::drawFittedText (g, b.getButtonText(), textArea (b), juce::Justification::centred, 1);
}

//==============================================================================
void LangToggleLF::drawButtonBackground (juce::Graphics& g, juce::Button& b, const juce::Colour&, bool, bool)
{
    if (! b.getToggleState())
        return;

    fillUnderline (g, b, qvn::compat::stringWidth (dinFont (13.5f), b.getButtonText()), 4.0f);
}

void LangToggleLF::drawButtonText (juce::Graphics& g, juce::TextButton& b, bool highlighted, bool)
{
    g.setFont (dinFont (13.5f));
    g.setColour (tabTextColour (b.getToggleState(), highlighted));
    qvn::compat::drawFittedText (g, b.getButtonText(), textArea (b), juce::Justification::centred, 1);
}

//==============================================================================
void SectionCellLF::drawButtonBackground (juce::Graphics& g, juce::Button& b, const juce::Colour&, bool highlighted, bool down)
{
    using namespace qvn::theme;
    const auto base = b.findColour (juce::TextButton::buttonColourId);
    const bool themeFace = base == kButtonCol;
    const auto face = themeFace ? juce::Colour (0xff1e241f) : base;
    juce::Colour fill;

    if (b.getToggleState())
        fill = themeFace ? kAccentCol : base;
    else
        fill = down ? face.darker (0.15f) : (highlighted ? face.brighter (0.15f) : face);

    const auto r = buttonRect (b);
    g.setColour (fill);
    g.fillRoundedRectangle (r, 4.0f);
    g.setColour (kButtonOutlineCol);
    g.drawRoundedRectangle (r, 4.0f, 1.0f);
}

void SectionCellLF::drawButtonText (juce::Graphics& g, juce::TextButton& b, bool, bool)
{
    g.setFont (font (juce::jmin (0.68f * (float) b.getHeight(), 12.5f), b.getToggleState() ? juce::Font::bold : juce::Font::plain));
    g.setColour (qvn::theme::kTextCol);
    qvn::compat::drawFittedText (g, b.getButtonText(), textArea (b), juce::Justification::centred, 1);
}

//==============================================================================
void BellLookAndFeel::drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour&, bool, bool) {}

void BellLookAndFeel::drawButtonText (juce::Graphics& g, juce::TextButton& b, bool highlighted, bool)
{
    const auto colour = b.findColour (juce::TextButton::textColourOffId);
    g.setFont (dinFont (11.5f).withExtraKerningFactor (0.03f));
    g.setColour (highlighted ? colour.brighter (0.2f) : colour);
    qvn::compat::drawFittedText (g, b.getButtonText(), b.getLocalBounds(), juce::Justification::centredRight, 1);
}

//==============================================================================
void LinkAllLF::drawButtonText (juce::Graphics& g, juce::TextButton& b, bool highlighted, bool down)
{
    FlatLookAndFeel::drawButtonText (g, b, highlighted, down);
}

//==============================================================================
void TitleBtnLF::drawButtonBackground (juce::Graphics& g, juce::Button& b, const juce::Colour&, bool highlighted, bool down)
{
    drawOutlineOnlyBackground (g, b, highlighted, down);
}

void TitleBtnLF::drawButtonText (juce::Graphics& g, juce::TextButton& b, bool, bool)
{
    g.setFont (font (juce::jmin (0.6f * (float) b.getHeight(), 18.0f), juce::Font::bold));
    g.setColour (qvn::theme::kTextCol);
    qvn::compat::drawFittedText (g, b.getButtonText(), textArea (b), juce::Justification::centred, 1);
}

//==============================================================================
void ABToggleLF::drawButtonBackground (juce::Graphics& g, juce::Button& b, const juce::Colour&, bool highlighted, bool down)
{
    drawOutlineOnlyBackground (g, b, highlighted, down);
}

void ABToggleLF::drawButtonText (juce::Graphics& g, juce::TextButton& b, bool, bool)
{
    using namespace qvn::theme;
    const float h = (float) b.getHeight();
    const float t = (float) b.getWidth() / 3.0f;
    const bool on = b.getToggleState();

    g.setFont (font (juce::jmin (0.6f * h, 18.0f), juce::Font::bold));
    g.setColour (on ? kMutedCol : kTextCol);
    g.drawText ("A", juce::Rectangle<float> (0.0f, 0.0f, t, h), juce::Justification::centredRight, false);
    g.setColour (kMutedCol);
    g.drawText ("/", juce::Rectangle<float> (t, 0.0f, t, h), juce::Justification::centred, false);
    g.setColour (on ? kTextCol : kMutedCol);
    g.drawText ("B", juce::Rectangle<float> (2.0f * t, 0.0f, t, h), juce::Justification::centredLeft, false);
}

//==============================================================================
void OffsetTargetButtonLF::drawButtonBackground (juce::Graphics& g, juce::Button& b, const juce::Colour&, bool highlighted, bool down)
{
    const float m = qvn::enabledAlpha (b);
    const auto r = buttonRect (b);

    if (b.getToggleState())
    {
        const float a = down ? 0.2f : (highlighted ? 0.16f : 0.12f);
        g.setColour (qvn::withAlphaFactor (qvn::theme::kAccentCol, a * m));
        g.fillRoundedRectangle (r, 4.0f);
        g.setColour (qvn::withAlphaFactor (qvn::theme::kAccentCol, m));
        g.drawRoundedRectangle (r, 4.0f, 1.0f);
    }
    else
    {
        const auto fill = down ? qvn::theme::kButtonDownCol : (highlighted ? qvn::theme::kButtonHoverCol : juce::Colour (0xff12171c));
        g.setColour (qvn::withAlphaFactor (fill, m));
        g.fillRoundedRectangle (r, 4.0f);
        g.setColour (qvn::withAlphaFactor (qvn::theme::kLineCol, m));
        g.drawRoundedRectangle (r, 4.0f, 1.0f);
    }
}

void OffsetTargetButtonLF::drawButtonText (juce::Graphics& g, juce::TextButton& b, bool, bool)
{
    const int w = b.getWidth(), h = b.getHeight();
    const int iw = juce::jmax (0, w - 12);
    const int cw = juce::jmin (12, iw);
    const juce::Rectangle<int> caretBox (6 + iw - cw, 0, cw, h);
    const juce::Rectangle<int> text (6, 0, iw - cw, h);

    const auto base = b.getToggleState() ? qvn::theme::kAccentCol : qvn::theme::kCaptionCol;
    const auto colour = base.withAlpha ((juce::uint8) (b.isEnabled() ? 255 : 89));

    const auto c = caretBox.toFloat().getCentre();
    juce::Path caret;
    caret.startNewSubPath (c.x - 3.0f, c.y - 1.5f);
    caret.lineTo (c.x, c.y + 1.5f);
    caret.lineTo (c.x + 3.0f, c.y - 1.5f);
    g.setColour (colour);
    g.strokePath (caret, juce::PathStrokeType (1.4f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));

    const auto& s = b.getButtonText();
    g.setFont (needsJapaneseFace (s) ? jpBoldFont (12.0f) : dinFont (11.0f));
    qvn::compat::drawFittedText (g, s, text, juce::Justification::centred, 1, 0.7f);
}

//==============================================================================
void SettingsMenuLF::drawPopupMenuBackground (juce::Graphics& g, int width, int height)
{
    g.fillAll (qvn::theme::kPanelCol);
    g.setColour (qvn::theme::kLineCol);
    g.drawRect (0, 0, width, height, 1);
}

juce::Font SettingsMenuLF::getPopupMenuFont()
{
    return dinExpFont (12.0f);
}

int SettingsMenuLF::getPopupMenuBorderSize()
{
    return 6;
}

void SettingsMenuLF::getIdealPopupMenuItemSize (const juce::String& text, bool isSeparator, int standardMenuItemHeight,
                                                int& idealWidth, int& idealHeight)
{
    juce::LookAndFeel_V4::getIdealPopupMenuItemSize (text, isSeparator, standardMenuItemHeight, idealWidth, idealHeight);

    if (isSeparator)
    {
        idealHeight = 9;
        return;
    }

    // The framework measured the text with the menu font alone; characters
    // that font lacks are drawn from another face and have other widths.
    auto measured = getPopupMenuFont();
    if (standardMenuItemHeight > 0 && measured.getHeight() > (float) standardMenuItemHeight / 1.3f)
        measured = measured.withHeight ((float) standardMenuItemHeight / 1.3f);
    idealWidth += qvn::compat::fallbackWidthCorrection (measured, text);

    idealHeight = juce::jmax (idealHeight, 28);
    idealWidth += 28;
}

void SettingsMenuLF::drawPopupMenuSectionHeader (juce::Graphics& g, const juce::Rectangle<int>& area, const juce::String& name)
{
    const juce::Rectangle<int> r (area.getX() + 13, area.getY() + 1,
                                  juce::jmax (0, area.getWidth() - 26), juce::jmax (0, area.getHeight() - 2));
    const auto f = needsJapaneseFace (name) ? jpFont (13.0f) : dinExpFont (11.0f);
    const int indent = juce::jmin (r.getWidth(), juce::roundToInt (f.getHeight()) + 4);
    const int strip = juce::jmin (r.getHeight(), 6);
    const juce::Rectangle<int> text (r.getX() + indent, r.getY(), r.getWidth() - indent, r.getHeight() - strip);

    g.setFont (f);
    g.setColour (qvn::theme::kCaptionCol);
    qvn::compat::drawFittedText (g, name, text, juce::Justification::centredLeft, 1);

    g.setColour (qvn::theme::kLineCol);
    g.fillRect (text.getX(), text.getBottom(), text.getWidth(), r.getHeight() > 0 ? 1 : 0);
}

void SettingsMenuLF::drawPopupMenuItem (juce::Graphics& g, const juce::Rectangle<int>& area, bool isSeparator, bool isActive,
                                        bool isHighlighted, bool isTicked, bool hasSubMenu, const juce::String& text,
                                        const juce::String& shortcutKeyText, const juce::Drawable*, const juce::Colour*)
{
    using namespace qvn::theme;

    if (isSeparator)
    {
        g.setColour (kLineCol);
        g.fillRect (area.getX() + 8, area.getY() + area.getHeight() / 2, juce::jmax (0, area.getWidth() - 16),
                    area.getHeight() > 0 ? 1 : 0);
        return;
    }

    const bool hl = isHighlighted && isActive;
    juce::Colour textColour;

    if (hl)
    {
        g.setColour (kAccentCol);
        g.fillRoundedRectangle ((float) (area.getX() + 3), (float) (area.getY() + 1),
                                (float) juce::jmax (0, area.getWidth() - 6), (float) juce::jmax (0, area.getHeight() - 2), 4.0f);
        textColour = kWindowCol;
    }
    else
    {
        textColour = isActive ? kTextCol : kMutedCol;
    }

    const juce::Rectangle<int> inner (area.getX() + 13, area.getY() + 1,
                                      juce::jmax (0, area.getWidth() - 26), juce::jmax (0, area.getHeight() - 2));
    const int iw = inner.getWidth(), ih = inner.getHeight();
    const auto f = needsJapaneseFace (text) ? jpFont (14.0f) : dinExpFont (12.0f);

    const int tw = juce::jmin (iw, juce::roundToInt (f.getHeight()));

    if (isTicked)
    {
        const auto tick = getTickShape (1.0f);
        const juce::Rectangle<float> box ((float) (inner.getX() + tw / 5), (float) (inner.getY() + ih / 4),
                                          (float) (tw - 2 * tw / 5), (float) (ih - ih / 2));
        g.setColour (hl ? kWindowCol : kAccentCol);
        g.fillPath (tick, tick.getTransformToScaleToFit (box, true));
    }

    const int g1 = juce::jmin (4, iw - tw);
    const int tx = inner.getX() + tw + g1;
    int rw = iw - tw - g1;

    if (hasSubMenu)
    {
        const float a = f.getAscent() * 0.55f;
        const int aw = juce::jmin (rw, (int) a + 6);
        const auto c = juce::Rectangle<int> (inner.getRight() - aw, inner.getY(), aw, ih).toFloat().getCentre();
        juce::Path arrow;
        arrow.startNewSubPath (c.x - 0.25f * a, c.y - 0.5f * a);
        arrow.lineTo (c.x + 0.35f * a, c.y);
        arrow.lineTo (c.x - 0.25f * a, c.y + 0.5f * a);
        g.setColour (textColour);
        g.strokePath (arrow, juce::PathStrokeType (1.6f, juce::PathStrokeType::mitered, juce::PathStrokeType::butt));
        rw -= aw;
    }

    if (shortcutKeyText.isNotEmpty())
    {
        const auto sf = needsJapaneseFace (shortcutKeyText) ? jpFont (12.0f) : font (11.0f, juce::Font::plain);
        const int sw = juce::jmin (rw, juce::jmin (rw / 2, juce::roundToInt (qvn::compat::stringWidth (sf, shortcutKeyText)) + 4));
        g.setFont (sf);
        g.setColour (hl ? juce::Colour (0xbf0e1217) : juce::Colour (0xff5e6a63));
        qvn::compat::drawText (g, shortcutKeyText, juce::Rectangle<int> (tx + rw - sw, inner.getY(), sw, ih),
                               juce::Justification::centredRight, false);
        rw -= sw;
        rw -= juce::jmin (8, rw);
    }

    g.setFont (f);
    g.setColour (textColour);
    qvn::compat::drawFittedText (g, text, { tx, inner.getY(), rw, ih }, juce::Justification::centredLeft, 1);
}

//==============================================================================
void SquareCallOutBoxLF::drawTextEditorOutline (juce::Graphics& g, int width, int height, juce::TextEditor& editor)
{
    if (! editor.isEnabled())
        return;

    const bool focused = editor.hasKeyboardFocus (true) && ! editor.isReadOnly();
    g.setColour (editor.findColour (focused ? juce::TextEditor::focusedOutlineColourId : juce::TextEditor::outlineColourId));
    g.drawRect (0, 0, width, height, 1);
}

void SquareCallOutBoxLF::drawCallOutBoxBackground (juce::CallOutBox& box, juce::Graphics& g, const juce::Path&, juce::Image&)
{
    g.setColour (qvn::theme::kPanelCol);
    g.fillRect (box.getLocalBounds());
    g.setColour (qvn::theme::kLineCol);
    g.drawRect (box.getLocalBounds(), 1);
}

int SquareCallOutBoxLF::getCallOutBoxBorderSize (const juce::CallOutBox&)
{
    return 0;
}
