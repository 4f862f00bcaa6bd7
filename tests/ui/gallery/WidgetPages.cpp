// Gallery pages of the Offset Gain slider and the small widgets.

#include "Gallery.h"

#include "ui/UiComponents.h"

#include <BinaryData.h>

using namespace qvn::gallery;

namespace
{
using S = juce::Button::ButtonState;

std::unique_ptr<juce::Drawable> resourceDrawable (const char* name)
{
    int size = 0;
    const char* data = BinaryData::getNamedResource (name, size);
    return juce::Drawable::createFromImageData (data, (size_t) size);
}

std::unique_ptr<OffsetSlider> slider (OffsetSliderLF& lf, double value, double lo = -12.0, double hi = 12.0)
{
    auto s = std::make_unique<OffsetSlider>();
    s->setLookAndFeel (&lf);
    s->setSliderStyle (juce::Slider::LinearHorizontal);
    s->setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);
    s->setRange (lo, hi, 0.1);
    s->setValue (value, juce::dontSendNotification);
    return s;
}

template <typename B>
B& withState (B& b, S state, bool on = false, bool enabled = true)
{
    b.setToggleState (on, juce::dontSendNotification);
    b.setState (state);
    b.setEnabled (enabled);
    return b;
}
} // namespace

QVN_GALLERY_PAGE ("03_offset_slider", [] (const PageContext& ctx)
{
    auto page = std::make_unique<GalleryPage>();
    auto& lf = page->lookAndFeel<OffsetSliderLF>();
    using namespace qvn::theme;

    page->heading (ctx.text ("Offset Gain slider (track 400 px)", "Offset Gain \xe3\x82\xb9\xe3\x83\xa9\xe3\x82\xa4\xe3\x83\x80\xe3\x83\xbc"));

    auto& zero = page->add ("0 dB", slider (lf, 0.0), 432, 40, 700);
    page->probe ({ "slider thumb at 0 dB", Probe::colour, page->inPage (zero, { 216 - 1, 13 - 1, 3, 3 }), kAccentCol });
    page->probe ({ "slider track left end", Probe::colour, page->inPage (zero, { 20, 13, 1, 1 }), kMutedCol });
    page->probe ({ "slider labels", Probe::ink, page->inPage (zero, { 0, 26, 432, 14 }), kWindowCol });

    auto& minus9 = page->add ("-9 dB: span from 0 to the thumb", slider (lf, -9.0), 432, 40, 700);
    page->probe ({ "slider span", Probe::colour, page->inPage (minus9, { 16 + 100, 13, 1, 1 }), kAccentCol });

    auto& band = page->add ("+3 dB with the Offset Target band -3..+1 dB", slider (lf, 3.0), 432, 40, 700);
    band.showTargetBand = true;
    band.targetBandLo = -3.0f;
    band.targetBandHi = 1.0f;

    auto& beyond = page->add ("+12 dB, band 8..20 dB reaches the track end", slider (lf, 12.0), 432, 40, 700);
    beyond.showTargetBand = true;
    beyond.targetBandLo = 8.0f;
    beyond.targetBandHi = 20.0f;

    auto& thin = page->add ("band narrower than half a pixel: not drawn", slider (lf, -4.5), 432, 40, 700);
    thin.showTargetBand = true;
    thin.targetBandLo = 2.0f;
    thin.targetBandHi = 2.01f;

    auto& off = page->add ("disabled (alpha 0.35)", slider (lf, -2.0), 432, 40, 700);
    off.showTargetBand = true;
    off.targetBandLo = -6.0f;
    off.targetBandHi = 0.0f;
    off.setEnabled (false);

    page->add ("range -6..+6: linear", slider (lf, 3.0, -6.0, 6.0), 432, 40, 700);
    page->add ("200 x 40", slider (lf, 1.5), 200, 40, 700);

    page->finish();
    return page;
});

QVN_GALLERY_PAGE ("04_widgets", [] (const PageContext& ctx)
{
    auto page = std::make_unique<GalleryPage>();
    using namespace qvn::theme;

    page->heading (ctx.text ("IconButton kinds 0-6", "IconButton (0-6)"));
    for (int kind = 0; kind <= 6; ++kind)
    {
        auto b = std::make_unique<IconButton> ("icon");
        b->kind = kind;
        page->add (juce::String (kind), std::move (b), 24, 24, 30);
    }
    for (int kind = 0; kind <= 6; ++kind)
    {
        auto b = std::make_unique<IconButton> ("icon");
        b->kind = kind;
        page->add (juce::String (kind) + " x2", std::move (b), 48, 48, 54);
    }
    page->heading (ctx.text ("IconButton states", "IconButton states"));
    for (auto [kind, state, on, enabled, caption] : { std::tuple { 0, S::buttonNormal, true, true, "0 on" },
                                                     { 2, S::buttonNormal, true, true, "2 on" },
                                                     { 3, S::buttonNormal, true, true, "3 locked" },
                                                     { 6, S::buttonOver, false, true, "hover" },
                                                     { 6, S::buttonDown, false, true, "down" },
                                                     { 6, S::buttonNormal, false, false, "disabled" },
                                                     { 9, S::buttonNormal, false, true, "kind 9: frame" } })
    {
        auto b = std::make_unique<IconButton> ("icon");
        b->kind = kind;
        withState (*b, state, on, enabled);
        page->add (caption, std::move (b), 32, 32, 70);
    }
    {
        auto b = std::make_unique<IconButton> ("icon");
        b->kind = 6;
        b->iconColour = kTargetCol;
        page->add ("iconColour", std::move (b), 32, 32, 70);
    }

    page->heading (ctx.text ("SvgIconButton", "SvgIconButton"));
    const char* icons[] = { "icon_bypass_svg", "icon_reset_svg", "icon_link_svg", "icon_unlock_svg", "undo_icon_svg", "redo_icon_svg", "panelleft_svg" };
    for (auto* name : icons)
    {
        auto b = std::make_unique<SvgIconButton> (name);
        b->setOffDrawable (resourceDrawable (name));
        page->add (juce::String (name).upToFirstOccurrenceOf ("_svg", false, false), std::move (b), 26, 26, 70);
    }
    for (auto [state, on, enabled, boxed, caption] : { std::tuple { S::buttonNormal, true, true, false, "on" },
                                                       { S::buttonOver, false, true, false, "hover" },
                                                       { S::buttonDown, false, true, false, "down" },
                                                       { S::buttonNormal, false, false, false, "disabled" },
                                                       { S::buttonNormal, false, true, true, "boxed" },
                                                       { S::buttonOver, false, true, true, "boxed hover" } })
    {
        auto b = std::make_unique<SvgIconButton> ("bypass");
        b->setOffDrawable (resourceDrawable ("icon_bypass_svg"));
        b->boxed = boxed;
        withState (*b, state, on, enabled);
        page->add (caption, std::move (b), 26, 26, 70);
    }
    for (bool locked : { false, true })
    {
        auto b = std::make_unique<SvgIconButton> ("lock");
        b->setOffDrawable (resourceDrawable ("icon_unlock_svg"));
        b->setOnDrawable (resourceDrawable ("icon_lock_svg"));
        b->setOffColour (kMutedCol);
        b->setOnColour (kTextCol);
        withState (*b, S::buttonNormal, locked);
        page->add (locked ? "lock on" : "lock off", std::move (b), 26, 26, 70);
    }

    page->heading (ctx.text ("Measure button", "\xe8\xa8\x88\xe6\xb8\xac\xe3\x83\x9c\xe3\x82\xbf\xe3\x83\xb3"));
    for (auto [state, measuring, progress, pulse, caption] : { std::tuple { S::buttonNormal, false, 0.0f, 1.0f, "idle" },
                                                               { S::buttonOver, false, 0.0f, 1.0f, "idle hover" },
                                                               { S::buttonDown, false, 0.0f, 1.0f, "idle down" },
                                                               { S::buttonNormal, false, 0.4f, 1.0f, "idle progress 0.4" },
                                                               { S::buttonNormal, true, 0.0f, 0.0f, "measuring pulse 0" },
                                                               { S::buttonNormal, true, 0.6f, 1.0f, "measuring 0.6 pulse 1" } })
    {
        auto b = std::make_unique<ProgressButton>();
        b->setButtonText (measuring ? "STOP" : "MATCH TO INST");
        b->isMeasuring = measuring;
        b->progress = progress;
        b->pulse = pulse;
        b->setState (state);
        auto& c = page->add (caption, std::move (b), 150, 34, 160);
        if (measuring && progress == 0.0f)
            page->probe ({ juce::String ("measure button ") + caption, Probe::colour, { c.getX() + 4, c.getY() + 30, 1, 1 }, kOrangeCol });
        page->probe ({ juce::String ("measure button caption ") + caption, Probe::ink, { c.getX() + 30, c.getY() + 8, 90, 18 },
                       measuring ? kOrangeCol : juce::Colour (0xff80682d) });
    }
    {
        auto b = std::make_unique<ProgressButton>();
        b->setButtonText ("STOPS WITH PLAYBACK");
        b->isMeasuring = true;
        b->pulse = 0.5f;
        page->add ("40 px, long caption", std::move (b), 40, 34, 160);
    }

    page->heading (ctx.text ("Small buttons", "\xe5\xb0\x8f\xe3\x81\x95\xe3\x81\xaa\xe3\x83\x9c\xe3\x82\xbf\xe3\x83\xb3"));
    for (auto state : { S::buttonNormal, S::buttonOver })
    {
        auto b = std::make_unique<RailModeButton> ("rail");
        b->setButtonText ("M");
        b->setState (state);
        page->add (state == S::buttonOver ? "rail mode hover" : "rail mode", std::move (b), 34, 24, 90);
    }
    for (auto [right, state, enabled, caption] : { std::tuple { false, S::buttonNormal, true, "previous" },
                                                   { true, S::buttonNormal, true, "next" },
                                                   { true, S::buttonOver, true, "next hover" },
                                                   { true, S::buttonNormal, false, "next disabled" } })
    {
        auto b = std::make_unique<ChevronNavButton> (right);
        withState (*b, state, false, enabled);
        page->add (caption, std::move (b), 20, 24, 80);
    }
    for (auto [hover, dragging, caption] : { std::tuple { false, false, "grip" }, { true, false, "grip hover" }, { false, true, "grip drag" } })
    {
        auto g = std::make_unique<ResizeGrip>();
        g->hover = hover;
        g->dragging = dragging;
        auto& c = page->add (caption, std::move (g), 16, 16, 70);
        if (dragging)
            page->probe ({ "grip dragging stroke", Probe::ink, c.getBounds(), kWindowCol });
    }
    {
        auto bell = std::make_unique<RClickButton> ("Update");
        auto& bellLf = page->lookAndFeel<BellLookAndFeel>();
        bell->setLookAndFeel (&bellLf);
        bell->setButtonText ("Update 1.0.2");
        page->add ("RClickButton (bell)", std::move (bell), 100, 22, 120);
    }
    {
        auto& tabLf = page->lookAndFeel<RoleTabLF>();
        auto tab = std::make_unique<RoleTabButton> ("VOCAL");
        tab->setLookAndFeel (&tabLf);
        tab->setToggleState (true, juce::dontSendNotification);
        tab->hoverHighlight = true;
        page->add ("RoleTabButton", std::move (tab), 100, 34, 120);
    }
    {
        auto list = std::make_unique<CallbackComponent>();
        list->onPaint = [] (juce::Graphics& g)
        {
            g.fillAll (kCardCol);
            g.setColour (kTextCol);
            g.setFont (FlatLookAndFeel::font (12.0f));
            g.drawText ("A  Verse", 8, 2, 150, 18, juce::Justification::centredLeft);
            g.drawText ("B  Chorus", 8, 22, 150, 18, juce::Justification::centredLeft);
        };
        auto& c = page->add ("CallbackComponent", std::move (list), 160, 42, 170);
        page->probe ({ "callback component paints", Probe::colour, { c.getRight() - 4, c.getY() + 2, 1, 1 }, kCardCol });
    }

    page->finish();
    return page;
});
