// Gallery page of the look-and-feel family: each look on its controls in
// every state, the popup-menu rows and the square call-out box.

#include "Gallery.h"

#include "ui/UiComponents.h"

#include <BinaryData.h>

using namespace qvn::gallery;

namespace
{
template <typename B = juce::TextButton>
std::unique_ptr<B> button (juce::LookAndFeel& lf, const juce::String& text, juce::Button::ButtonState state,
                           bool on = false, bool enabled = true)
{
    auto b = std::make_unique<B> (text);
    b->setLookAndFeel (&lf);
    b->setToggleState (on, juce::dontSendNotification);
    b->setState (state);
    b->setEnabled (enabled);
    return b;
}

juce::String stateName (juce::Button::ButtonState s, bool on, bool enabled = true)
{
    juce::String n = s == juce::Button::buttonOver ? "hover" : (s == juce::Button::buttonDown ? "down" : "normal");
    if (on)
        n << " on";
    if (! enabled)
        n << " disabled";
    return n;
}

/** A menu column drawn with the menu look: header, rows, separator. */
struct MenuRow
{
    juce::String text, shortcut;
    bool separator = false, header = false, active = true, highlighted = false, ticked = false, subMenu = false;
};

std::unique_ptr<Painter> menu (SettingsMenuLF& lf, std::vector<MenuRow> rows, int width)
{
    return std::make_unique<Painter> ([&lf, rows, width] (juce::Graphics& g, juce::Component& c)
    {
        lf.drawPopupMenuBackground (g, c.getWidth(), c.getHeight());
        int y = lf.getPopupMenuBorderSize();

        for (auto& r : rows)
        {
            int w = 0, h = 0;
            lf.getIdealPopupMenuItemSize (r.text, r.separator, 22, w, h);
            const juce::Rectangle<int> area (0, y, width, h);

            if (r.header)
                lf.drawPopupMenuSectionHeader (g, area, r.text);
            else
                lf.drawPopupMenuItem (g, area, r.separator, r.active, r.highlighted, r.ticked, r.subMenu, r.text,
                                      r.shortcut, nullptr, nullptr);
            y += h;
        }
    });
}

int menuHeight (SettingsMenuLF& lf, const std::vector<MenuRow>& rows)
{
    int total = 2 * lf.getPopupMenuBorderSize();
    for (auto& r : rows)
    {
        int w = 0, h = 0;
        lf.getIdealPopupMenuItemSize (r.text, r.separator, 22, w, h);
        total += h;
    }
    return total;
}

/** A square call-out box holding two text fields, as the popups show it. */
class CallOutDemo : public juce::Component
{
public:
    CallOutDemo (SquareCallOutBoxLF& lf, const juce::String& a, const juce::String& b)
    {
        for (auto* e : { &first, &second })
        {
            e->setLookAndFeel (&lf);
            e->setColour (juce::TextEditor::backgroundColourId, qvn::theme::kCardCol);
            e->setColour (juce::TextEditor::textColourId, qvn::theme::kTextCol);
            e->setColour (juce::TextEditor::outlineColourId, qvn::theme::kLineCol);
            e->setColour (juce::TextEditor::focusedOutlineColourId, qvn::theme::kAccentCol);
            e->setFont (FlatLookAndFeel::needsJapaneseFace (a) ? FlatLookAndFeel::jpFont (14.0f) : FlatLookAndFeel::dinFont (14.0f));
            content.addAndMakeVisible (*e);
        }
        first.setText (a, false);
        second.setText (b, false);
        second.setEnabled (false);
        content.setSize (200, 70);
        first.setBounds (10, 10, 180, 22);
        second.setBounds (10, 40, 180, 22);

        box = std::make_unique<juce::CallOutBox> (content, juce::Rectangle<int> (100, 0, 10, 2), this);
        box->setLookAndFeel (&lf);
        box->setArrowSize (0.0f);
        setSize (240, 100);
        box->updatePosition ({ 100, 0, 10, 2 }, getLocalBounds());
    }

    ~CallOutDemo() override
    {
        box->setLookAndFeel (nullptr);
        first.setLookAndFeel (nullptr);
        second.setLookAndFeel (nullptr);
        box.reset();
    }

    juce::Component content;
    juce::TextEditor first, second;
    std::unique_ptr<juce::CallOutBox> box;
};
} // namespace

QVN_GALLERY_PAGE ("02_lookandfeels", [] (const PageContext& ctx)
{
    auto page = std::make_unique<GalleryPage>();
    using namespace qvn::theme;
    using S = juce::Button::ButtonState;

    // Role tabs: the captions are the same in both languages; an instance
    // name may be Japanese whatever the tooltip language.
    auto& roleLf = page->lookAndFeel<RoleTabLF>();
    page->heading ("RoleTabLF");
    auto& inst = page->add ("INST on", button<RoleTabButton> (roleLf, "INST", S::buttonNormal, true), 100, 34, 108);
    page->probe ({ "role tab underline", Probe::colour, page->inPage (inst, { 49, 34 - 7, 1, 2 }), kAccentCol });
    page->add ("VOCAL", button<RoleTabButton> (roleLf, "VOCAL", S::buttonNormal), 100, 34, 108);
    page->add ("VOCAL hover", button<RoleTabButton> (roleLf, "VOCAL", S::buttonOver), 100, 34, 108);
    page->add ("VOCAL down (no face)", button<RoleTabButton> (roleLf, "VOCAL", S::buttonDown), 100, 34, 130);
    const auto jpName = juce::String::fromUTF8 ("\xe6\xad\x8c\xe3\x83\x9c\xe3\x83\xbc\xe3\x82\xab\xe3\x83\xab");
    auto& jpTab = page->add ("Japanese name on", button<RoleTabButton> (roleLf, jpName, S::buttonNormal, true), 130, 34, 140);
    page->probe ({ "role tab Japanese name", Probe::face, page->inPage (jpTab, { 2, 0, 126, 27 }), kWindowCol, jpName, "IBM Plex Sans JP", true, 18.0f });
    page->add ("bullet keeps D-DIN", button<RoleTabButton> (roleLf, juce::String::fromUTF8 ("VOCAL \xe2\x97\x8f"), S::buttonNormal, true), 120, 34, 130);

    auto& langLf = page->lookAndFeel<LangToggleLF>();
    page->heading ("LangToggleLF");
    page->add ("English on", button (langLf, "English", S::buttonNormal, ! ctx.japanese), 80, 24, 90);
    page->add ("Japanese", button (langLf, juce::String::fromUTF8 ("\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e"), S::buttonNormal, ctx.japanese), 80, 24, 90);
    page->add ("hover", button (langLf, "English", S::buttonOver), 80, 24, 90);

    auto& cellLf = page->lookAndFeel<SectionCellLF>();
    page->heading ("SectionCellLF");
    for (auto [state, on] : { std::pair { S::buttonNormal, false }, { S::buttonOver, false }, { S::buttonDown, false }, { S::buttonNormal, true } })
    {
        auto& c = page->add (stateName (state, on), button (cellLf, "B", state, on), 34, 26, 74);
        const auto expected = on ? kAccentCol : (state == S::buttonDown ? juce::Colour (0xff1a1f1a)
                                                  : (state == S::buttonOver ? juce::Colour (0xff3b403c) : juce::Colour (0xff1e241f)));
        page->probe ({ "section cell " + stateName (state, on), Probe::colour, { c.getX() + 3, c.getY() + 12, 3, 3 }, expected });
    }
    {
        auto b = button (cellLf, "C", S::buttonNormal);
        b->setColour (juce::TextButton::buttonColourId, juce::Colour (0xff4a3b63));
        page->add ("own face", std::move (b), 34, 26, 74);
    }

    auto& bellLf = page->lookAndFeel<BellLookAndFeel>();
    page->heading ("BellLookAndFeel");
    page->add ("Update", button (bellLf, ctx.text ("Update 1.0.2", "Update 1.0.2"), S::buttonNormal), 110, 22, 120);
    page->add ("Update hover", button (bellLf, ctx.text ("Update 1.0.2", "Update 1.0.2"), S::buttonOver), 110, 22, 120);

    auto& linkLf = page->lookAndFeel<LinkAllLF>();
    page->heading ("LinkAllLF");
    page->add ("off", button (linkLf, "Link All", S::buttonNormal), 90, 26, 100);
    auto& linkOn = page->add ("on", button (linkLf, "Link All", S::buttonNormal, true), 90, 26, 100);
    page->probe ({ "link all on", Probe::colour, { linkOn.getX() + 3, linkOn.getY() + 12, 3, 3 }, kAccentCol });

    auto& titleLf = page->lookAndFeel<TitleBtnLF>();
    page->heading ("TitleBtnLF");
    for (auto state : { S::buttonNormal, S::buttonOver, S::buttonDown })
        page->add ("A > B " + stateName (state, false), button (titleLf, "A > B", state), 70, 26, 110);
    {
        auto undo = std::make_unique<juce::DrawableButton> ("Undo", juce::DrawableButton::ImageOnButtonBackground);
        int size = 0;
        const char* data = BinaryData::getNamedResource ("undo_icon_svg", size);
        auto icon = juce::Drawable::createFromImageData (data, (size_t) size);
        icon->replaceColour (juce::Colours::black, kTextCol);
        undo->setImages (icon.get());
        undo->setLookAndFeel (&titleLf);
        page->add ("undo icon button", std::move (undo), 30, 26, 110);
    }

    auto& abLf = page->lookAndFeel<ABToggleLF>();
    page->heading ("ABToggleLF");
    page->add ("A active", button (abLf, "A/B", S::buttonNormal, false), 60, 26, 80);
    page->add ("B active", button (abLf, "A/B", S::buttonNormal, true), 60, 26, 80);
    page->add ("hover", button (abLf, "A/B", S::buttonOver, false), 60, 26, 80);

    auto& targetLf = page->lookAndFeel<OffsetTargetButtonLF>();
    page->heading ("OffsetTargetButtonLF");
    for (auto [state, on, enabled] : { std::tuple { S::buttonNormal, false, true }, { S::buttonOver, false, true },
                                       { S::buttonDown, false, true }, { S::buttonNormal, true, true },
                                       { S::buttonOver, true, true }, { S::buttonNormal, true, false }, { S::buttonNormal, false, false } })
        page->add (stateName (state, on, enabled), button (targetLf, "TARGET", state, on, enabled), 96, 24, 110);
    const auto jpTarget = juce::String::fromUTF8 ("\xe3\x83\x90\xe3\x83\xa9\xe3\x83\xbc\xe3\x83\x89");
    auto& jpTargetButton = page->add ("Japanese target name", button (targetLf, jpTarget, S::buttonNormal, true), 96, 24, 130);
    page->probe ({ "Japanese target name", Probe::face, page->inPage (jpTargetButton, { 6, 2, 72, 20 }), juce::Colour (0xff1f3833),
                   jpTarget, "IBM Plex Sans JP", true, 12.0f });
    page->add ("24 px: caret only", button (targetLf, "TARGET", S::buttonNormal), 24, 24, 110);

    auto& menuLf = page->lookAndFeel<SettingsMenuLF>();
    page->heading ("SettingsMenuLF");
    std::vector<MenuRow> rows = {
        { ctx.text ("DISPLAY", "\xe8\xa1\xa8\xe7\xa4\xba"), {}, false, true },
        { ctx.text ("Show tooltips", "\xe3\x83\x84\xe3\x83\xbc\xe3\x83\xab\xe3\x83\x81\xe3\x83\x83\xe3\x83\x97\xe3\x82\x92\xe8\xa1\xa8\xe7\xa4\xba"), {}, false, false, true, false, true },
        { ctx.text ("Link measurement to transport", "\xe5\x86\x8d\xe7\x94\x9f\xe3\x81\xa8\xe9\x80\xa3\xe5\x8b\x95"), {}, false, false, true, true, true },
        { ctx.text ("Zoom", "\xe3\x82\xba\xe3\x83\xbc\xe3\x83\xa0"), {}, false, false, true, false, false, true },
        { ctx.text ("Undo", "\xe5\x85\x83\xe3\x81\xab\xe6\x88\xbb\xe3\x81\x99"), "Ctrl+Z", false, false, true, true },
        { ctx.text ("Redo", "\xe3\x82\x84\xe3\x82\x8a\xe7\x9b\xb4\xe3\x81\x97"), "Ctrl+Shift+Z" },
        { {}, {}, true },
        { ctx.text ("Check for updates (off)", "\xe3\x82\xa2\xe3\x83\x83\xe3\x83\x97\xe3\x83\x87\xe3\x83\xbc\xe3\x83\x88\xe7\xa2\xba\xe8\xaa\x8d (\xe7\x84\xa1\xe5\x8a\xb9)"), {}, false, false, false, true },
        { "Manual", {}, false, false, true, false },
    };
    const int menuWidth = 300;
    auto& menuCell = page->add ("popup menu rows", menu (menuLf, rows, menuWidth), menuWidth, menuHeight (menuLf, rows), 320);
    page->probe ({ "menu background", Probe::colour, { menuCell.getRight() - 5, menuCell.getY() + 3, 2, 2 }, kPanelCol });

    // A Japanese menu row is drawn in IBM Plex Sans JP 14 after a 14 px tick column.
    if (ctx.japanese)
    {
        int y = menuLf.getPopupMenuBorderSize();
        for (size_t i = 0; i < 3; ++i)
        {
            int w = 0, h = 0;
            menuLf.getIdealPopupMenuItemSize (rows[i].text, rows[i].separator, 22, w, h);
            y += h;
        }
        int w = 0, h = 0;
        menuLf.getIdealPopupMenuItemSize (rows[3].text, false, 22, w, h);
        page->probe ({ "Japanese menu row", Probe::face, { menuCell.getX() + 13 + 14 + 4, menuCell.getY() + y + 1, 150, h - 2 },
                       kPanelCol, rows[3].text, "IBM Plex Sans JP", false, 14.0f });
    }

    auto& calloutLf = page->lookAndFeel<SquareCallOutBoxLF>();
    page->add ("square call-out box", std::make_unique<CallOutDemo> (calloutLf, ctx.text ("Chorus", "\xe3\x82\xb5\xe3\x83\x93"), "-24.0"), 240, 100, 260);

    page->finish();
    return page;
});
