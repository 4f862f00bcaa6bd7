// Gallery pages of the theme: palette, typefaces, fallback glyphs, the flat
// button in each state, the tooltip box, the embedded artwork.

#include "Gallery.h"

#include "ui/JuceCompat.h"

#include <BinaryData.h>

using namespace qvn::gallery;

namespace
{
struct Swatch
{
    const char* name;
    juce::Colour colour;
};

std::unique_ptr<Painter> fill (juce::Colour c)
{
    return std::make_unique<Painter> ([c] (juce::Graphics& g, juce::Component&) { g.fillAll (c); });
}

/** A line of text in a font, drawn with the fallback-aware helper. */
std::unique_ptr<Painter> textSample (juce::Font f, juce::String text, juce::Colour colour = qvn::theme::kTextCol)
{
    return std::make_unique<Painter> ([f, text, colour] (juce::Graphics& g, juce::Component& c)
    {
        g.setFont (f);
        g.setColour (colour);
        qvn::compat::drawText (g, text, c.getLocalBounds(), juce::Justification::centredLeft, false);
    });
}

std::unique_ptr<juce::TextButton> flatButton (const juce::String& text, juce::Button::ButtonState state, bool on,
                                              std::optional<juce::Colour> face = {}, bool enabled = true)
{
    auto b = std::make_unique<juce::TextButton> (text);
    b->setToggleState (on, juce::dontSendNotification);
    b->setState (state);
    b->setEnabled (enabled);
    if (face)
        b->setColour (juce::TextButton::buttonColourId, *face);
    return b;
}

juce::Rectangle<int> leftOfFace (const juce::Component& c)
{
    return { c.getX() + 3, c.getY() + c.getHeight() / 2 - 1, 3, 3 };
}
} // namespace

QVN_GALLERY_PAGE ("01_theme", [] (const PageContext& ctx)
{
    auto page = std::make_unique<GalleryPage>();
    using namespace qvn::theme;

    page->heading (ctx.text ("Palette", "\xe3\x83\x91\xe3\x83\xac\xe3\x83\x83\xe3\x83\x88 (Palette)"));
    const Swatch swatches[] = {
        { "Accent", kAccentCol }, { "Text", kTextCol }, { "Muted", kMutedCol }, { "Caption", kCaptionCol },
        { "Window", kWindowCol }, { "Deep", kDeepCol }, { "Panel", kPanelCol }, { "Card", kCardCol },
        { "Line", kLineCol }, { "Button", kButtonCol }, { "ButtonHover", kButtonHoverCol }, { "ButtonDown", kButtonDownCol },
        { "Orange", kOrangeCol }, { "Green", kGreenCol }, { "Target", kTargetCol }, { "Error", kErrorCol },
    };

    for (auto& s : swatches)
    {
        auto& c = page->add (s.name, fill (s.colour), 72, 28, 80);
        page->probe ({ juce::String ("palette ") + s.name, Probe::colour, page->inPage (c, { 30, 10, 8, 8 }), s.colour });
    }

    page->heading (ctx.text ("Typefaces", "\xe6\x9b\xb8\xe4\xbd\x93 (Typefaces)"));
    const auto latin = ctx.text ("Offset Gain -3.5 dB  INST / VOCAL", "\xe3\x82\xaa\xe3\x83\x95\xe3\x82\xbb\xe3\x83\x83\xe3\x83\x88 -3.5 dB  INST / VOCAL");
    const auto jp = juce::String::fromUTF8 ("\xe3\x83\x9c\xe3\x83\xbc\xe3\x82\xab\xe3\x83\xab\xe3\x81\xae\xe9\x9f\xb3\xe9\x87\x8f\xe3\x82\x92\xe5\x90\x88\xe3\x82\x8f\xe3\x81\x9b\xe3\x82\x8b");

    page->add ("font(14)", textSample (FlatLookAndFeel::font (14.0f), latin), 360, 20, 360);
    page->add ("font(14, bold)", textSample (FlatLookAndFeel::font (14.0f, juce::Font::bold), latin), 360, 20, 360);
    page->add ("dinFont(14)", textSample (FlatLookAndFeel::dinFont (14.0f), latin), 360, 20, 360);
    page->add ("dinFont(14, bold)", textSample (FlatLookAndFeel::dinFont (14.0f, juce::Font::bold), latin), 360, 20, 360);
    page->add ("dinExpFont(14)", textSample (FlatLookAndFeel::dinExpFont (14.0f), latin), 360, 20, 360);

    auto& jpRegular = page->add ("jpFont(16)", textSample (FlatLookAndFeel::jpFont (16.0f), jp), 360, 24, 360);
    page->probe ({ "jpFont sample", Probe::face, jpRegular.getBounds(), kWindowCol, jp, "IBM Plex Sans JP", false, 16.0f });
    auto& jpBold = page->add ("jpBoldFont(16)", textSample (FlatLookAndFeel::jpBoldFont (16.0f), jp), 360, 24, 360);
    page->probe ({ "jpBoldFont sample", Probe::face, jpBold.getBounds(), kWindowCol, jp, "IBM Plex Sans JP", true, 16.0f });

    page->heading (ctx.text ("Characters missing from a face, drawn from another", "\xe6\x9b\xb8\xe4\xbd\x93\xe3\x81\xab\xe7\x84\xa1\xe3\x81\x84\xe6\x96\x87\xe5\xad\x97"));
    page->add ("D-DIN: bullet from mono", textSample (FlatLookAndFeel::dinFont (16.0f, juce::Font::bold),
                                                       juce::String::fromUTF8 ("VOCAL \xe2\x97\x8f 2  \xe2\x80\xa6 \xc2\xb7 \xe2\x80\xb9 \xe2\x80\xba")), 230, 24, 230);
    page->add ("mono: full-width brackets from JP", textSample (FlatLookAndFeel::font (14.0f),
                                                                 juce::String::fromUTF8 ("\xef\xbc\x88INST\xef\xbc\x89 \xe2\x88\x92" "3.0")), 230, 24, 230);
    page->add ("JP: minus sign from mono", textSample (FlatLookAndFeel::jpFont (15.0f),
                                                       juce::String::fromUTF8 ("\xe3\x82\xb2\xe3\x82\xa4\xe3\x83\xb3 \xe2\x88\x92" "3 dB")), 230, 24, 230);

    page->heading (ctx.text ("Flat button", "\xe3\x83\x95\xe3\x83\xa9\xe3\x83\x83\xe3\x83\x88\xe3\x83\x9c\xe3\x82\xbf\xe3\x83\xb3"));
    const juce::Colour own (0xff35506e);
    const struct { const char* caption; juce::Button::ButtonState state; bool on; std::optional<juce::Colour> face; bool enabled; juce::Colour expected; } buttons[] = {
        { "normal", juce::Button::buttonNormal, false, {}, true, kButtonCol },
        { "hover", juce::Button::buttonOver, false, {}, true, kButtonHoverCol },
        { "down", juce::Button::buttonDown, false, {}, true, kButtonDownCol },
        { "on", juce::Button::buttonNormal, true, {}, true, kAccentCol },
        { "own face", juce::Button::buttonNormal, false, own, true, own },
        { "own face hover", juce::Button::buttonOver, false, own, true, own.brighter (0.15f) },
        { "own face down", juce::Button::buttonDown, false, own, true, own.darker (0.15f) },
        { "own face on", juce::Button::buttonNormal, true, own, true, own },
        { "disabled", juce::Button::buttonNormal, false, {}, false, kButtonCol },
    };

    for (auto& b : buttons)
    {
        auto& c = page->add (b.caption, flatButton (ctx.text ("APPLY", "APPLY"), b.state, b.on, b.face, b.enabled), 72, 26, 76);
        page->probe ({ juce::String ("flat button ") + b.caption, Probe::colour, leftOfFace (c), b.expected });
        page->probe ({ juce::String ("flat button text ") + b.caption, Probe::ink, c.getBounds().reduced (12, 6), b.expected });
    }

    page->heading (ctx.text ("Tooltip", "\xe3\x83\x84\xe3\x83\xbc\xe3\x83\xab\xe3\x83\x81\xe3\x83\x83\xe3\x83\x97"));
    const auto tip = ctx.text ("Drag to set the Offset Gain of this section. Shift: fine. Right button or Control: all sections.",
                               "\xe3\x83\x89\xe3\x83\xa9\xe3\x83\x83\xe3\x82\xb0\xe3\x81\xa7\xe3\x81\x93\xe3\x81\xae\xe3\x82\xbb\xe3\x82\xaf\xe3\x82\xb7\xe3\x83\xa7\xe3\x83\xb3\xe3\x81\xae Offset Gain \xe3\x82\x92\xe8\xa8\xad\xe5\xae\x9a\xe3\x80\x82Shift: \xe5\xbe\xae\xe8\xaa\xbf\xe6\x95\xb4\xe3\x80\x82\xe5\x8f\xb3\xe3\x83\x9c\xe3\x82\xbf\xe3\x83\xb3\xe3\x81\xbe\xe3\x81\x9f\xe3\x81\xaf Control: \xe5\x85\xa8\xe3\x82\xbb\xe3\x82\xaf\xe3\x82\xb7\xe3\x83\xa7\xe3\x83\xb3\xe3\x80\x82");
    auto& tipLook = page->lookAndFeel<FlatLookAndFeel>();
    tipLook.tooltipJapanese = ctx.japanese;
    const auto box = tipLook.getTooltipBounds (tip, { 0, 0 }, { 0, 0, 420, 400 });
    auto& tipCell = page->add ("tooltip box", std::make_unique<Painter> ([&tipLook, tip] (juce::Graphics& g, juce::Component& c)
    {
        tipLook.drawTooltip (g, tip, c.getWidth(), c.getHeight());
    }), box.getWidth(), box.getHeight());
    page->probe ({ "tooltip background", Probe::colour, page->inPage (tipCell, { tipCell.getWidth() - 6, 2, 3, 3 }), juce::Colours::white });
    page->probe ({ "tooltip outline", Probe::colour, page->inPage (tipCell, { tipCell.getWidth() / 2 - 1, -1, 3, 3 }), kLineCol });
    page->probe ({ "tooltip text", Probe::ink, page->inPage (tipCell, tipCell.getLocalBounds().reduced (12, 8)), juce::Colours::white });

    page->heading (ctx.text ("Artwork", "\xe3\x82\xa2\xe3\x83\xbc\xe3\x83\x88\xe3\x83\xaf\xe3\x83\xbc\xe3\x82\xaf"));
    auto artwork = [] (const char* name, juce::Colour background)
    {
        return std::make_unique<Painter> ([name, background] (juce::Graphics& g, juce::Component& c)
        {
            g.fillAll (background);
            int size = 0;
            const char* data = BinaryData::getNamedResource (name, size);
            if (auto d = juce::Drawable::createFromImageData (data, (size_t) size))
                d->drawWithin (g, c.getLocalBounds().reduced (6).toFloat(), juce::RectanglePlacement::centred, 1.0f);
        });
    };
    auto& logo = page->add ("brand_logo_svg (black, on a light card)", artwork ("brand_logo_svg", kTextCol), 300, 70, 320);
    page->probe ({ "brand logo", Probe::ink, logo.getBounds(), kTextCol });
    auto& title = page->add ("title_text_svg (white)", artwork ("title_text_svg", kWindowCol), 400, 56, 400);
    page->probe ({ "title lettering", Probe::ink, title.getBounds(), kWindowCol });

    page->finish();
    return page;
});
