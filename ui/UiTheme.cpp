#include "ui/UiTheme.h"

#include "ui/JuceCompat.h"

#include <BinaryData.h>

#include <cmath>

namespace qvn
{
namespace
{
// Fallback order for characters a face lacks: the monospace faces cover the
// symbols (bullets, arrows, minus), the Japanese faces the CJK ranges.
enum FallbackPriority { kMonoFirst = 0, kJapaneseNext = 1, kDinLast = 2 };

juce::Typeface::Ptr makeTypeface (const char* data, int size, bool bold, int priority)
{
    if (data == nullptr || size <= 0)
        return {};

    auto face = juce::Typeface::createSystemTypefaceFor (data, (size_t) size);
    compat::FaceRegistry::get().add (face, data, (size_t) size, bold, priority);
    return face;
}
} // namespace

juce::Typeface::Ptr regularTypeface()
{
    static const juce::Typeface::Ptr face = makeTypeface (BinaryData::JetBrainsMonoRegular_ttf, BinaryData::JetBrainsMonoRegular_ttfSize, false, kMonoFirst);
    return face;
}

juce::Typeface::Ptr boldTypeface()
{
    static const juce::Typeface::Ptr face = makeTypeface (BinaryData::JetBrainsMonoBold_ttf, BinaryData::JetBrainsMonoBold_ttfSize, true, kMonoFirst);
    return face;
}

juce::Typeface::Ptr dinRegularTypeface()
{
    static const juce::Typeface::Ptr face = makeTypeface (BinaryData::DDIN_otf, BinaryData::DDIN_otfSize, false, kDinLast);
    return face;
}

juce::Typeface::Ptr dinBoldTypeface()
{
    static const juce::Typeface::Ptr face = makeTypeface (BinaryData::DDINBold_otf, BinaryData::DDINBold_otfSize, true, kDinLast);
    return face;
}

juce::Typeface::Ptr dinExpTypeface()
{
    static const juce::Typeface::Ptr face = makeTypeface (BinaryData::DDINExp_otf, BinaryData::DDINExp_otfSize, false, kDinLast);
    return face;
}

juce::Typeface::Ptr jpTypeface()
{
    static const juce::Typeface::Ptr face = makeTypeface (BinaryData::IBMPlexSansJPRegular_ttf, BinaryData::IBMPlexSansJPRegular_ttfSize, false, kJapaneseNext);
    return face;
}

juce::Typeface::Ptr jpBoldTypeface()
{
    static const juce::Typeface::Ptr face = makeTypeface (BinaryData::IBMPlexSansJPBold_ttf, BinaryData::IBMPlexSansJPBold_ttfSize, true, kJapaneseNext);
    return face;
}

void loadAllTypefaces()
{
    regularTypeface();
    boldTypeface();
    dinRegularTypeface();
    dinBoldTypeface();
    dinExpTypeface();
    jpTypeface();
    jpBoldTypeface();
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
    layout.createLayout (s, maxWidth);
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
