#pragma once

// The widget gallery: every page is a component built by a registered
// function, rendered in English and Japanese at 100 % and 200 % into PNG
// files. A page source file registers itself with QVN_GALLERY_PAGE; adding
// the file to tests/ui/gallery/ is all it takes.
//
// Pages may also leave probes: named rectangles with what the checks expect
// to find there (an exact colour, some ink, text in a given face). The
// gallery writes them next to each image; qvn_ui_gallery_checks reads them.

#include "ui/JuceCompat.h"
#include "ui/UiTheme.h"

#include <functional>
#include <memory>
#include <vector>

namespace qvn::gallery
{
struct PageContext
{
    bool japanese = false;

    juce::String text (const char* english, const char* japaneseUtf8) const
    {
        return japanese ? juce::String::fromUTF8 (japaneseUtf8) : juce::String (english);
    }
};

struct Probe
{
    enum Kind { colour, ink, face };

    juce::String name;
    Kind kind = colour;
    juce::Rectangle<int> area;   // in page coordinates at 100 %
    juce::Colour expected;       // colour: the exact pixel colour at the centre; ink/face: the background
    juce::String text;           // face: the text drawn there
    juce::String faceName;       // face: the typeface family expected
    bool bold = false;
    float fontHeight = 0.0f;
};

/** A page: a window-coloured surface with captioned cells laid out in rows.
    Look-and-feels added with lookAndFeel<T>() outlive the cells. */
class GalleryPage : public juce::Component
{
public:
    explicit GalleryPage (int pageWidth = 760) : width (pageWidth) {}

    ~GalleryPage() override
    {
        for (auto& c : cells)
            c.component->setLookAndFeel (nullptr);
        cells.clear();
    }

    template <typename LF>
    LF& lookAndFeel()
    {
        auto lf = std::make_unique<LF>();
        auto& ref = *lf;
        looks.push_back (std::move (lf));
        return ref;
    }

    /** Starts a new row with a section heading. */
    void heading (const juce::String& text)
    {
        newRow();
        headings.push_back ({ text, juce::Rectangle<int> (margin, cursorY, width - 2 * margin, 18) });
        cursorY += 22;
    }

    /** Adds a component in a captioned cell; returns it. */
    template <typename C>
    C& add (const juce::String& caption, std::unique_ptr<C> component, int w, int h, int cellWidth = 0)
    {
        const int cw = juce::jmax (cellWidth, w);

        if (cursorX + cw > width - margin)
            newRow();

        auto& ref = *component;
        auto* button = dynamic_cast<juce::Button*> (component.get());
        const auto state = button != nullptr ? button->getState() : juce::Button::buttonNormal;

        component->setBounds (cursorX, cursorY, w, h);
        component->setVisible (true);
        addChildComponent (*component);

        // Showing a button resets its state from the (absent) mouse; the page
        // shows the state it was given.
        if (button != nullptr)
            button->setState (state);
        cells.push_back ({ std::move (component), caption, juce::Rectangle<int> (cursorX, cursorY + h + 2, cw, 14) });

        cursorX += cw + gap;
        rowHeight = juce::jmax (rowHeight, h + 18);
        return ref;
    }

    void probe (Probe p) { probes.push_back (std::move (p)); }

    /** A probe rectangle given in a child's coordinates. */
    juce::Rectangle<int> inPage (const juce::Component& c, juce::Rectangle<int> local) const
    {
        return local + c.getPosition();
    }

    void finish()
    {
        newRow();
        setSize (width, cursorY + margin);
    }

    void paint (juce::Graphics& g) override
    {
        g.fillAll (qvn::theme::kWindowCol);

        for (auto& h : headings)
        {
            g.setColour (qvn::theme::kCaptionCol);
            g.setFont (FlatLookAndFeel::needsJapaneseFace (h.first) ? FlatLookAndFeel::jpFont (13.0f) : FlatLookAndFeel::dinExpFont (12.0f));
            qvn::compat::drawText (g, h.first, h.second, juce::Justification::centredLeft, false);
            g.setColour (qvn::theme::kLineCol);
            g.fillRect (h.second.getX(), h.second.getBottom(), h.second.getWidth(), 1);
        }

        g.setFont (FlatLookAndFeel::font (9.5f));
        g.setColour (qvn::theme::kMutedCol);

        for (auto& c : cells)
            g.drawText (c.caption, c.captionArea, juce::Justification::centredLeft, true);
    }

    std::vector<Probe> probes;

private:
    void newRow()
    {
        if (cursorX > margin)
            cursorY += rowHeight + gap;

        cursorX = margin;
        rowHeight = 0;
    }

    struct Cell
    {
        std::unique_ptr<juce::Component> component;
        juce::String caption;
        juce::Rectangle<int> captionArea;
    };

    static constexpr int margin = 14, gap = 12;
    int width;
    int cursorX = margin, cursorY = margin, rowHeight = 0;

    std::vector<std::unique_ptr<juce::LookAndFeel>> looks;  // destroyed after the cells
    std::vector<std::pair<juce::String, juce::Rectangle<int>>> headings;
    std::vector<Cell> cells;
};

using PageBuilder = std::function<std::unique_ptr<GalleryPage> (const PageContext&)>;

struct PageEntry
{
    juce::String name;
    PageBuilder build;
};

inline std::vector<PageEntry>& registry()
{
    static std::vector<PageEntry> pages;
    return pages;
}

struct PageRegistrar
{
    PageRegistrar (const char* name, PageBuilder build) { registry().push_back ({ name, std::move (build) }); }
};

/** A component that paints through a function (for drawing look-and-feel
    operations directly, e.g. menu items, in a chosen state). */
class Painter : public juce::Component
{
public:
    explicit Painter (std::function<void (juce::Graphics&, juce::Component&)> f) : fn (std::move (f)) {}
    void paint (juce::Graphics& g) override { fn (g, *this); }

private:
    std::function<void (juce::Graphics&, juce::Component&)> fn;
};
} // namespace qvn::gallery

#define QVN_GALLERY_JOIN2(a, b) a##b
#define QVN_GALLERY_JOIN(a, b) QVN_GALLERY_JOIN2 (a, b)

/** Registers a page: QVN_GALLERY_PAGE ("name", [] (const PageContext& ctx) { ... }); */
#define QVN_GALLERY_PAGE(name, ...) \
    static const qvn::gallery::PageRegistrar QVN_GALLERY_JOIN (qvnGalleryPage_, __LINE__) { name, __VA_ARGS__ }
