#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace qvn::theme
{
inline const juce::Colour kAccentCol      { 0xff7cf2c8 }; // toggled faces, active tab, menu highlight, thumb
inline const juce::Colour kTextCol        { 0xffeaefe9 }; // primary text
inline const juce::Colour kMutedCol       { 0xff7e7f83 }; // secondary text, inactive tabs
inline const juce::Colour kCaptionCol     { 0xff828d85 }; // captions and quiet icons
inline const juce::Colour kWindowCol      { 0xff0e1217 }; // darkest window tone
inline const juce::Colour kDeepCol        { 0xff090c10 }; // deep wells
inline const juce::Colour kPanelCol       { 0xff171c22 }; // panels, menus, call-out boxes
inline const juce::Colour kCardCol        { 0xff181a1d }; // cards, fields, icon boxes
inline const juce::Colour kLineCol        { 0xff242b26 }; // lines, dividers, outlines
inline const juce::Colour kButtonCol      { 0xff2a322c }; // flat button face
inline const juce::Colour kButtonHoverCol { 0xff343d36 }; // flat button face under the mouse
inline const juce::Colour kButtonDownCol  { 0xff1c211d }; // flat button face while pressed
inline const juce::Colour kOrangeCol      { 0xffe0922f }; // measuring and "on"
inline const juce::Colour kGreenCol       { 0xff3ecf82 }; // meter green
inline const juce::Colour kTargetCol      { 0xfff5d54a }; // target line
inline const juce::Colour kErrorCol       { 0xffcc4444 }; // rejected input

/** Outline of flat buttons: the line colour at alpha 0x99. */
inline const juce::Colour kButtonOutlineCol { 0x99242b26 };
} // namespace qvn::theme

namespace qvn
{
// The seven embedded typefaces. They are made from the resource data on first
// use and kept until the framework shuts down; null when its data is missing.
juce::Typeface::Ptr regularTypeface();     // JetBrains Mono Regular
juce::Typeface::Ptr boldTypeface();        // JetBrains Mono Bold
juce::Typeface::Ptr dinRegularTypeface();  // D-DIN
juce::Typeface::Ptr dinBoldTypeface();     // D-DIN Bold
juce::Typeface::Ptr dinExpTypeface();      // D-DIN Exp
juce::Typeface::Ptr jpTypeface();          // IBM Plex Sans JP Regular
juce::Typeface::Ptr jpBoldTypeface();      // IBM Plex Sans JP Bold

/** Makes all seven typefaces (and their fallback maps) at once. */
void loadAllTypefaces();
} // namespace qvn

//==============================================================================
/** The base look of every window, popup and widget: the theme's button,
    label and tooltip drawing, the font functions and the Japanese-text rule. */
class FlatLookAndFeel : public juce::LookAndFeel_V4
{
public:
    FlatLookAndFeel();
    ~FlatLookAndFeel() override;

    juce::Typeface::Ptr getTypefaceForFont (const juce::Font&) override;
    void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour& background,
                               bool highlighted, bool down) override;
    juce::Font getTextButtonFont (juce::TextButton&, int buttonHeight) override;
    void drawButtonText (juce::Graphics&, juce::TextButton&, bool highlighted, bool down) override;
    juce::Font getLabelFont (juce::Label&) override;
    juce::Rectangle<int> getTooltipBounds (const juce::String& tip, juce::Point<int> mouse,
                                           juce::Rectangle<int> parentArea) override;
    void drawTooltip (juce::Graphics&, const juce::String& text, int width, int height) override;

    juce::TextLayout layoutTooltipText (const juce::String& text, float maxWidth) const;

    //==============================================================================
    static juce::Font font (float size, int style = juce::Font::plain);
    static juce::Font dinFont (float size, int style = juce::Font::plain);
    static juce::Font dinExpFont (float size);
    static juce::Font jpFont (float size, int style = juce::Font::plain);
    static juce::Font jpBoldFont (float size);
    static juce::Font roleTabFontFor (const juce::String& text, float height, float kerning);

    /** True when the text holds a code point above U+2FFF. */
    static bool needsJapaneseFace (const juce::String& text);

    //==============================================================================
    juce::Typeface::Ptr regularTypefacePtr;
    juce::Typeface::Ptr boldTypefacePtr;

    /** Tooltips use the Japanese face while this is set (tooltip language 1). */
    bool tooltipJapanese = true;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FlatLookAndFeel)
};

namespace qvn
{
/** 1.0 when the component and all its parents are enabled, else 0.35. */
float enabledAlpha (const juce::Component&);

/** Alpha byte for a 0..1 factor: 0 at or below 0, 255 at or above 1, else rounded. */
juce::uint8 alphaByte (float v) noexcept;

/** The colour with its alpha replaced by the byte for v. */
juce::Colour withAlphaFactor (juce::Colour c, float v) noexcept;
} // namespace qvn

//==============================================================================
// The looks of the control families. Each overrides only its own drawing
// operations and inherits fonts, colours, buttons and tooltips.

/** The role tabs: text only, an accent underline under the active tab. */
class RoleTabLF : public FlatLookAndFeel
{
public:
    void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour&, bool highlighted, bool down) override;
    void drawButtonText (juce::Graphics&, juce::TextButton&, bool highlighted, bool down) override;
};

/** The tooltip-language buttons: like the role tabs, smaller. */
class LangToggleLF : public RoleTabLF
{
public:
    void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour&, bool highlighted, bool down) override;
    void drawButtonText (juce::Graphics&, juce::TextButton&, bool highlighted, bool down) override;
};

/** Section cell buttons: a darker working face than the flat button. */
class SectionCellLF : public FlatLookAndFeel
{
public:
    void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour&, bool highlighted, bool down) override;
    void drawButtonText (juce::Graphics&, juce::TextButton&, bool highlighted, bool down) override;
};

/** The update bell: right-aligned text, no face. */
class BellLookAndFeel : public FlatLookAndFeel
{
public:
    void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour&, bool highlighted, bool down) override;
    void drawButtonText (juce::Graphics&, juce::TextButton&, bool highlighted, bool down) override;
};

/** The "Link All" button. */
class LinkAllLF : public FlatLookAndFeel
{
public:
    void drawButtonText (juce::Graphics&, juce::TextButton&, bool highlighted, bool down) override;
};

/** Outline-only buttons ("A > B", the header's icon buttons). */
class TitleBtnLF : public FlatLookAndFeel
{
public:
    void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour&, bool highlighted, bool down) override;
    void drawButtonText (juce::Graphics&, juce::TextButton&, bool highlighted, bool down) override;
};

/** The A/B toggle: draws "A / B" with the active slot bright. */
class ABToggleLF : public FlatLookAndFeel
{
public:
    void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour&, bool highlighted, bool down) override;
    void drawButtonText (juce::Graphics&, juce::TextButton&, bool highlighted, bool down) override;
};

/** The Offset Target selector: a tinted field with a caret at the right. */
class OffsetTargetButtonLF : public FlatLookAndFeel
{
public:
    void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour&, bool highlighted, bool down) override;
    void drawButtonText (juce::Graphics&, juce::TextButton&, bool highlighted, bool down) override;
};

/** The popup menus. */
class SettingsMenuLF : public FlatLookAndFeel
{
public:
    void drawPopupMenuBackground (juce::Graphics&, int width, int height) override;
    void drawPopupMenuItem (juce::Graphics&, const juce::Rectangle<int>& area, bool isSeparator, bool isActive,
                            bool isHighlighted, bool isTicked, bool hasSubMenu, const juce::String& text,
                            const juce::String& shortcutKeyText, const juce::Drawable* icon,
                            const juce::Colour* textColour) override;
    void drawPopupMenuSectionHeader (juce::Graphics&, const juce::Rectangle<int>& area, const juce::String& name) override;
    juce::Font getPopupMenuFont() override;
    void getIdealPopupMenuItemSize (const juce::String& text, bool isSeparator, int standardMenuItemHeight,
                                    int& idealWidth, int& idealHeight) override;
    int getPopupMenuBorderSize() override;
};

/** Square call-out boxes without an arrow, and the text fields in them. */
class SquareCallOutBoxLF : public FlatLookAndFeel
{
public:
    void drawTextEditorOutline (juce::Graphics&, int width, int height, juce::TextEditor&) override;
    void drawCallOutBoxBackground (juce::CallOutBox&, juce::Graphics&, const juce::Path& arrowPath, juce::Image& cache) override;
    int getCallOutBoxBorderSize (const juce::CallOutBox&) override;
};
