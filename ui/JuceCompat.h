#pragma once

// Everything the UI kit does differently because it is built on JUCE 7 lives
// here, so that moving to a newer framework touches one file:
//  - fonts are made straight from a typeface (there is no font-options type);
//  - a popup-menu click is tested as "right button or Control" explicitly,
//    because on Linux the framework's popup-menu modifier is the right button
//    only;
//  - JUCE 7 draws text with the one typeface of its font and has no glyph
//    fallback: a character the face does not have draws as nothing (or as the
//    face's empty box). The embedded faces register their character maps
//    here, and the text helpers below split a text into runs so that each
//    character is drawn with the first embedded face that has it.

#include <juce_gui_basics/juce_gui_basics.h>

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace qvn::compat
{

//==============================================================================
inline juce::Font makeFont (const juce::Typeface::Ptr& typeface, float height)
{
    if (typeface == nullptr)
        return juce::Font (height);

    return juce::Font (typeface).withHeight (height);
}

/** Right button, or any button with Control held. */
inline bool isPopupMenuClick (const juce::ModifierKeys& mods) noexcept
{
    return mods.isRightButtonDown() || mods.isCtrlDown();
}

inline bool isPopupMenuClick (const juce::MouseEvent& e) noexcept
{
    return isPopupMenuClick (e.mods);
}

//==============================================================================
/** The Unicode code points a font file maps to glyphs, read from its 'cmap'
    table (formats 4 and 12). */
class CharacterMap
{
public:
    CharacterMap() = default;

    CharacterMap (const void* fontData, size_t size)
    {
        auto* d = static_cast<const juce::uint8*> (fontData);

        if (d == nullptr || size < 12)
            return;

        auto u16 = [d, size] (size_t o) -> juce::uint32 { return o + 2 <= size ? (juce::uint32) ((d[o] << 8) | d[o + 1]) : 0u; };
        auto u32 = [d, size] (size_t o) -> juce::uint32
        {
            return o + 4 <= size ? ((juce::uint32) d[o] << 24) | ((juce::uint32) d[o + 1] << 16) | ((juce::uint32) d[o + 2] << 8) | d[o + 3] : 0u;
        };

        const auto numTables = u16 (4);
        size_t cmap = 0;

        for (juce::uint32 i = 0; i < numTables; ++i)
        {
            const size_t rec = 12 + 16 * (size_t) i;

            if (rec + 16 > size)
                break;

            if (d[rec] == 'c' && d[rec + 1] == 'm' && d[rec + 2] == 'a' && d[rec + 3] == 'p')
                cmap = u32 (rec + 8);
        }

        if (cmap == 0 || cmap + 4 > size)
            return;

        // Prefer the full-repertoire subtable (format 12), else the BMP one.
        size_t best = 0;
        juce::uint32 bestFormat = 0;
        const auto numSub = u16 (cmap + 2);

        for (juce::uint32 i = 0; i < numSub; ++i)
        {
            const size_t rec = cmap + 4 + 8 * (size_t) i;
            const auto platform = u16 (rec), encoding = u16 (rec + 2);
            const size_t sub = cmap + u32 (rec + 4);
            const auto format = u16 (sub);
            const bool unicode = platform == 0 || (platform == 3 && (encoding == 1 || encoding == 10));

            if (unicode && (format == 12 || (format == 4 && bestFormat != 12)))
            {
                best = sub;
                bestFormat = format;
            }
        }

        if (bestFormat == 12)
        {
            const auto numGroups = u32 (best + 12);

            for (juce::uint32 g = 0; g < numGroups && best + 16 + 12 * (size_t) g + 12 <= size; ++g)
            {
                const size_t o = best + 16 + 12 * (size_t) g;
                if (u32 (o + 8) != 0 || u32 (o) != u32 (o + 4))
                    ranges.push_back ({ u32 (o), u32 (o + 4) });
            }
        }
        else if (bestFormat == 4)
        {
            const auto segCount = u16 (best + 6) / 2;
            const size_t ends = best + 14, starts = ends + 2 * (size_t) segCount + 2;
            const size_t deltas = starts + 2 * (size_t) segCount, offsets = deltas + 2 * (size_t) segCount;

            for (juce::uint32 s = 0; s < segCount; ++s)
            {
                const auto end = u16 (ends + 2 * s), start = u16 (starts + 2 * s);
                const auto delta = u16 (deltas + 2 * s), rangeOffset = u16 (offsets + 2 * s);

                if (start > end || start == 0xffff)
                    continue;

                for (juce::uint32 c = start; c <= end; ++c)
                {
                    juce::uint32 glyph;

                    if (rangeOffset == 0)
                        glyph = (c + delta) & 0xffff;
                    else
                    {
                        const size_t at = offsets + 2 * s + rangeOffset + 2 * (c - start);
                        glyph = u16 (at);
                        if (glyph != 0)
                            glyph = (glyph + delta) & 0xffff;
                    }

                    if (glyph != 0)
                    {
                        if (! ranges.empty() && ranges.back().second + 1 == c)
                            ranges.back().second = c;
                        else
                            ranges.push_back ({ c, c });
                    }
                }
            }
        }

        std::sort (ranges.begin(), ranges.end());
    }

    bool contains (juce::juce_wchar c) const noexcept
    {
        const auto cp = (juce::uint32) c;
        auto it = std::upper_bound (ranges.begin(), ranges.end(), std::make_pair (cp, 0xffffffffu));

        if (it == ranges.begin())
            return false;

        --it;
        return cp >= it->first && cp <= it->second;
    }

    bool isEmpty() const noexcept { return ranges.empty(); }

private:
    std::vector<std::pair<juce::uint32, juce::uint32>> ranges;
};

//==============================================================================
/** The embedded faces with their character maps, in the order in which they
    are tried for a character the chosen face lacks. */
class FaceRegistry
{
public:
    static FaceRegistry& get()
    {
        static FaceRegistry registry;
        return registry;
    }

    /** Lower priority values are tried first as fallback. */
    void add (const juce::Typeface::Ptr& face, const void* data, size_t size, bool bold, int fallbackPriority)
    {
        if (face == nullptr)
            return;

        const std::lock_guard<std::mutex> lock (mutex);
        entries.push_back ({ face.get(), CharacterMap (data, size), bold, fallbackPriority });
        std::stable_sort (entries.begin(), entries.end(),
                          [] (const Entry& a, const Entry& b) { return a.priority < b.priority; });
    }

    /** Forgets a face that is being released. */
    void remove (const juce::Typeface* face)
    {
        const std::lock_guard<std::mutex> lock (mutex);
        entries.erase (std::remove_if (entries.begin(), entries.end(), [face] (const Entry& e) { return e.face == face; }),
                       entries.end());
    }

    /** True when the face is not an embedded one (nothing known, nothing to do)
        or when it has the character. */
    bool faceHas (const juce::Typeface* face, juce::juce_wchar c) const
    {
        if (c < 0x20)
            return true;

        const std::lock_guard<std::mutex> lock (mutex);

        for (auto& e : entries)
            if (e.face == face)
                return e.map.isEmpty() || e.map.contains (c);

        return true;
    }

    /** The embedded face to draw c with when the given face lacks it: the
        first that has it, preferring the same weight; null when none has it. */
    juce::Typeface* fallbackFor (const juce::Typeface* face, juce::juce_wchar c) const
    {
        const std::lock_guard<std::mutex> lock (mutex);
        bool bold = false;
        bool known = false;

        for (auto& e : entries)
            if (e.face == face)
            {
                bold = e.bold;
                known = true;
            }

        if (! known)
            return nullptr;

        for (int pass = 0; pass < 2; ++pass)
            for (auto& e : entries)
                if (e.face != face && (pass == 1 || e.bold == bold) && e.map.contains (c))
                    return e.face;

        return nullptr;
    }

private:
    struct Entry
    {
        juce::Typeface* face;
        CharacterMap map;
        bool bold;
        int priority;
    };

    mutable std::mutex mutex;
    std::vector<Entry> entries;
};

//==============================================================================
struct TextRun
{
    juce::Font font;
    juce::String text;
};

/** Splits text into runs that each draw with a face having all their
    characters; a text the font's face covers stays one run. */
inline juce::Array<TextRun> splitIntoRuns (const juce::Font& font, const juce::String& text)
{
    juce::Array<TextRun> runs;
    auto* primary = font.getTypefacePtr().get();
    auto& registry = FaceRegistry::get();

    juce::Typeface* currentFace = primary;
    juce::String current;

    auto fontFor = [&font, primary] (juce::Typeface* face)
    {
        if (face == primary)
            return font;

        return juce::Font (juce::Typeface::Ptr (face))
                   .withHeight (font.getHeight())
                   .withHorizontalScale (font.getHorizontalScale())
                   .withExtraKerningFactor (font.getExtraKerningFactor());
    };

    for (auto p = text.getCharPointer(); ! p.isEmpty();)
    {
        const auto c = p.getAndAdvance();
        juce::Typeface* face = primary;

        if (! registry.faceHas (primary, c))
            if (auto* alt = registry.fallbackFor (primary, c))
                face = alt;

        if (face != currentFace && current.isNotEmpty())
        {
            runs.add ({ fontFor (currentFace), current });
            current.clear();
        }

        currentFace = face;
        current += juce::String::charToString (c);
    }

    if (current.isNotEmpty() || runs.isEmpty())
        runs.add ({ fontFor (currentFace), current });

    return runs;
}

inline bool needsFallback (const juce::Font& font, const juce::String& text)
{
    auto* primary = font.getTypefacePtr().get();
    auto& registry = FaceRegistry::get();

    for (auto p = text.getCharPointer(); ! p.isEmpty();)
        if (! registry.faceHas (primary, p.getAndAdvance()))
            return true;

    return false;
}

inline float stringWidth (const juce::Font& font, const juce::String& text)
{
    if (! needsFallback (font, text))
        return font.getStringWidthFloat (text);

    float w = 0.0f;

    for (auto& r : splitIntoRuns (font, text))
        w += r.font.getStringWidthFloat (r.text);

    return w;
}

/** What a framework measurement of text in this font misses because it
    measures missing characters with the face's empty box: add it to a
    width the framework computed with Font::getStringWidth. */
inline int fallbackWidthCorrection (const juce::Font& font, const juce::String& text)
{
    if (! needsFallback (font, text))
        return 0;

    return juce::roundToInt (stringWidth (font, text)) - font.getStringWidth (text);
}

/** Lays the runs out on one line at baseline 0 starting at x 0. */
inline void addRunsAsLine (juce::GlyphArrangement& ga, const juce::Array<TextRun>& runs)
{
    float x = 0.0f;

    for (auto& r : runs)
    {
        ga.addLineOfText (r.font, r.text, x, 0.0f);
        x += r.font.getStringWidthFloat (r.text);
    }
}

/** Adds text with per-character fallback faces to an attributed string. */
inline void appendText (juce::AttributedString& s, const juce::String& text, const juce::Font& font, juce::Colour colour)
{
    if (! needsFallback (font, text))
    {
        s.append (text, font, colour);
        return;
    }

    for (auto& r : splitIntoRuns (font, text))
        s.append (r.text, r.font, colour);
}

/** Graphics::drawText with the current font, with fallback faces. */
inline void drawText (juce::Graphics& g, const juce::String& text, juce::Rectangle<float> area,
                      juce::Justification justification, bool useEllipses = true)
{
    const auto font = g.getCurrentFont();

    if (! needsFallback (font, text))
    {
        g.drawText (text, area, justification, useEllipses);
        return;
    }

    juce::GlyphArrangement ga;
    addRunsAsLine (ga, splitIntoRuns (font, text));

    if (ga.getNumGlyphs() > 0)
    {
        ga.justifyGlyphs (0, ga.getNumGlyphs(), area.getX(), area.getY(), area.getWidth(), area.getHeight(), justification);
        ga.draw (g);
    }
}

inline void drawText (juce::Graphics& g, const juce::String& text, juce::Rectangle<int> area,
                      juce::Justification justification, bool useEllipses = true)
{
    drawText (g, text, area.toFloat(), justification, useEllipses);
}

/** Graphics::drawFittedText with the current font, with fallback faces. */
inline void drawFittedText (juce::Graphics& g, const juce::String& text, juce::Rectangle<int> area,
                            juce::Justification justification, int maximumLines,
                            float minimumHorizontalScale = 0.0f)
{
    const auto font = g.getCurrentFont();

    if (! needsFallback (font, text))
    {
        g.drawFittedText (text, area, justification, maximumLines, minimumHorizontalScale);
        return;
    }

    if (area.isEmpty())
        return;

    if (minimumHorizontalScale == 0.0f)
        minimumHorizontalScale = juce::Font::getDefaultMinimumHorizontalScaleFactor();

    const auto trimmed = text.trim();
    const auto runs = splitIntoRuns (font, trimmed);
    juce::GlyphArrangement ga;
    addRunsAsLine (ga, runs);

    const int n = ga.getNumGlyphs();
    if (n == 0)
        return;

    const float lineWidth = ga.getGlyph (n - 1).getRight() - ga.getGlyph (0).getLeft();
    const auto w = (float) area.getWidth();

    if (lineWidth * minimumHorizontalScale >= w && maximumLines > 1)
    {
        // Word-wrap into at most maximumLines lines, each justified on its own.
        juce::StringArray words;
        words.addTokens (trimmed, " ", {});
        juce::StringArray lines;

        for (auto& word : words)
        {
            if (lines.isEmpty() || lines.size() >= maximumLines
                || stringWidth (font, lines[lines.size() - 1] + " " + word) > w)
            {
                if (lines.size() < maximumLines)
                    lines.add (word);
                else
                    lines.set (lines.size() - 1, lines[lines.size() - 1] + " " + word);
            }
            else
            {
                lines.set (lines.size() - 1, lines[lines.size() - 1] + " " + word);
            }
        }

        const float lineHeight = font.getHeight();
        const float blockHeight = lineHeight * (float) lines.size();
        float top = (float) area.getY();

        if (justification.testFlags (juce::Justification::verticallyCentred))
            top += ((float) area.getHeight() - blockHeight) * 0.5f;
        else if (justification.testFlags (juce::Justification::bottom))
            top += (float) area.getHeight() - blockHeight;

        const auto horizontal = juce::Justification (justification.getOnlyHorizontalFlags() | juce::Justification::top);

        for (int i = 0; i < lines.size(); ++i)
        {
            juce::GlyphArrangement line;
            addRunsAsLine (line, splitIntoRuns (font, lines[i]));
            const int count = line.getNumGlyphs();

            if (count == 0)
                continue;

            const float width = line.getGlyph (count - 1).getRight() - line.getGlyph (0).getLeft();
            if (width > w && width > 0.0f)
                line.stretchRangeOfGlyphs (0, count, juce::jmax (minimumHorizontalScale, w / width));

            line.justifyGlyphs (0, count, (float) area.getX(), top + lineHeight * (float) i, w, lineHeight, horizontal);
            line.draw (g);
        }

        return;
    }

    if (lineWidth > w && lineWidth > 0.0f)
        ga.stretchRangeOfGlyphs (0, n, juce::jmax (minimumHorizontalScale, w / lineWidth));

    ga.justifyGlyphs (0, n, (float) area.getX(), (float) area.getY(), w, (float) area.getHeight(), justification);
    ga.draw (g);
}

//==============================================================================
/** True for a code point at which East Asian text may break a line: each
    character at or above U+3000 is a unit of its own. */
inline bool isWideBreakChar (juce::juce_wchar c) noexcept
{
    return c >= 0x3000;
}

/** Characters that must not begin a line (closing marks, small kana, the
    prolonged sound mark) and that must not end one (opening brackets). */
inline bool noBreakBefore (juce::juce_wchar c) noexcept
{
    static const char32_t closing[] = U"\u3001\u3002\uff0c\uff0e\u300d\u300f\u3011\uff09\uff01\uff1f\uff1a\uff1b"
                                      U"\u30fc\u3041\u3043\u3045\u3047\u3049\u3063\u3083\u3085\u3087\u30a1\u30a3\u30a5"
                                      U"\u30a7\u30a9\u30c3\u30e3\u30e5\u30e7\u30fb\u309b\u309c\u300b\u3009)]}.,:;!?";
    for (auto* p = closing; *p != 0; ++p)
        if ((juce::juce_wchar) *p == c)
            return true;
    return false;
}

inline bool noBreakAfter (juce::juce_wchar c) noexcept
{
    return c == 0x300c || c == 0x300e || c == 0x3010 || c == 0xff08 || c == 0x300a || c == 0x3008
           || c == '(' || c == '[' || c == '{';
}

/** TextLayout::createLayout, except that the framework's text layout on Linux
    breaks lines only at white space, so Japanese (which has none) would run
    past the width: here every wide character is also a break opportunity.
    Lines are broken here, by the framework's own rule and measurement, and
    handed to the framework as explicit line ends; text without wide
    characters goes to the framework unchanged. */
inline void createLayout (juce::TextLayout& layout, const juce::AttributedString& text, float maxWidth)
{
    const auto& all = text.getText();
    bool hasWide = false;
    for (auto p = all.getCharPointer(); ! p.isEmpty();)
        if (isWideBreakChar (p.getAndAdvance()))
        {
            hasWide = true;
            break;
        }

    if (! hasWide || text.getWordWrap() == juce::AttributedString::none)
    {
        layout.createLayout (text, maxWidth);
        return;
    }

    // The units between break opportunities, in order, each within one attribute.
    struct Unit
    {
        juce::String text;
        int attribute = 0;
        bool whitespace = false, newline = false;
        bool joinsPrevious = false;   // no break opportunity before it
    };

    std::vector<Unit> units;
    const int numAttributes = text.getNumAttributes();

    for (int a = 0; a < numAttributes; ++a)
    {
        const auto& attr = text.getAttribute (a);
        const auto part = all.substring (attr.range.getStart(), attr.range.getEnd());
        juce::juce_wchar prev = 0;
        bool first = true;

        for (auto p = part.getCharPointer(); ! p.isEmpty();)
        {
            const auto c = p.getAndAdvance();
            const bool nl = c == '\n' || c == '\r';
            const bool ws = ! nl && juce::CharacterFunctions::isWhitespace (c);

            bool startNew = first || nl || units.back().newline || ws != units.back().whitespace;
            bool joins = false;

            if (! startNew && ! ws)
            {
                const bool wideBoundary = isWideBreakChar (c) || isWideBreakChar (prev);
                if (wideBoundary && ! noBreakBefore (c) && ! noBreakAfter (prev))
                    startNew = true;
                else if (wideBoundary)
                    startNew = joins = true;
            }

            if (startNew)
                units.push_back ({ juce::String::charToString (c), a, ws, nl, joins });
            else
                units.back().text += c;

            prev = c;
            first = false;
        }
    }

    // The framework measures each maximal run of one kind within an attribute
    // (its token) as a whole; a line ends before a non-white token that would
    // pass the width.
    std::vector<bool> breakBefore (units.size(), false);
    size_t lineStart = 0;
    float lineX = 0.0f;       // width of the finished tokens of the line
    juce::String token;       // the token being built
    int tokenAttr = -1;
    bool tokenWhite = false;

    auto widthOf = [&text] (int attr, const juce::String& s) { return text.getAttribute (attr).font.getStringWidthFloat (s); };

    auto addUnit = [&] (const Unit& u)
    {
        if (tokenAttr == u.attribute && tokenWhite == u.whitespace && token.isNotEmpty())
        {
            token += u.text;
            return;
        }
        if (token.isNotEmpty())
            lineX += widthOf (tokenAttr, token);
        token = u.text;
        tokenAttr = u.attribute;
        tokenWhite = u.whitespace;
    };

    auto lineWidthWith = [&] (const Unit& u)
    {
        if (tokenAttr == u.attribute && tokenWhite == u.whitespace && token.isNotEmpty())
            return lineX + widthOf (u.attribute, token + u.text);
        return lineX + (token.isNotEmpty() ? widthOf (tokenAttr, token) : 0.0f) + widthOf (u.attribute, u.text);
    };

    auto restartLine = [&] (size_t from)
    {
        lineStart = from;
        lineX = 0.0f;
        token.clear();
        tokenAttr = -1;
    };

    for (size_t i = 0; i < units.size(); ++i)
    {
        const auto& u = units[i];

        if (u.newline)
        {
            restartLine (i + 1);
            continue;
        }

        if (! u.whitespace && i > lineStart && lineWidthWith (u) > maxWidth)
        {
            // Break before this unit, or further back before the units it is glued to.
            size_t b = i;
            while (b > lineStart && units[b].joinsPrevious)
                --b;

            if (b > lineStart)
            {
                breakBefore[b] = true;
                restartLine (b);
                for (size_t j = b; j < i; ++j)
                    addUnit (units[j]);
            }
        }

        addUnit (u);
    }

    // Rebuild the string with a line end at each break; white space just
    // before a break is dropped, as the framework drops it at line ends.
    juce::AttributedString broken (text);
    broken.clear();
    for (size_t i = 0; i < units.size(); ++i)
    {
        const auto& attr = text.getAttribute (units[i].attribute);
        const bool whiteBeforeBreak = units[i].whitespace && i + 1 < units.size() && breakBefore[i + 1];

        if (breakBefore[i])
            broken.append ("\n", attr.font, attr.colour);
        if (! whiteBeforeBreak)
            broken.append (units[i].text, attr.font, attr.colour);
    }

    layout.createLayout (broken, maxWidth);
}

} // namespace qvn::compat
