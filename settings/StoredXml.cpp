#include "settings/StoredXml.h"

#include <string_view>

namespace qvn
{
namespace
{
    // Walks the markup once the way the framework's parser will, but refuses
    // at once what the framework's writer never produces: a processing
    // instruction after the declaration, a DOCTYPE or other "<!" construct
    // than a comment or CDATA, a raw '<' or '>' inside a quoted value or a
    // '<' inside a tag (where the two readings of the text could differ), and
    // nesting deeper than maxDepth.
    bool isSafeMarkup (std::string_view s, int maxDepth) noexcept
    {
        constexpr auto npos = std::string_view::npos;
        const auto n = s.size();
        size_t i = 0;

        while (i < n && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n'))
            ++i;

        if (s.compare (i, 5, "<?xml") == 0)
        {
            const auto end = s.find ("?>", i);
            if (end == npos)
                return false;
            i = end + 2;
        }

        int depth = 0;

        while (i < n)
        {
            if (s[i] != '<')
            {
                ++i;
                continue;
            }

            if (s.compare (i, 2, "<?") == 0)
                return false;

            if (s.compare (i, 2, "<!") == 0)
            {
                const bool comment = s.compare (i, 4, "<!--") == 0;

                if (! comment && s.compare (i, 9, "<![CDATA[") != 0)
                    return false;

                const auto end = comment ? s.find ("-->", i + 4) : s.find ("]]>", i + 9);

                if (end == npos)
                    return true;   // unterminated: the parser refuses it itself

                i = end + 3;
                continue;
            }

            if (s.compare (i, 2, "</") == 0)
            {
                const auto end = s.find ('>', i);

                if (end == npos)
                    return true;

                depth = std::max (0, depth - 1);
                i = end + 1;
                continue;
            }

            // An opening tag (the parser even allows blanks before the name).
            char quote = 0;
            size_t j = i + 1;

            for (; j < n; ++j)
            {
                const auto c = s[j];

                if (quote != 0)
                {
                    if (c == quote)
                        quote = 0;
                    else if (c == '<' || c == '>')
                        return false;
                }
                else if (c == '"' || c == '\'')
                {
                    quote = c;
                }
                else if (c == '<')
                {
                    return false;
                }
                else if (c == '>')
                {
                    break;
                }
            }

            if (j >= n)
                return true;   // unterminated tag: nothing nests below it

            if (s[j - 1] != '/' && ++depth > maxDepth)
                return false;

            i = j + 1;
        }

        return true;
    }
} // namespace

bool isSafeStoredMarkup (const juce::String& text, int maxDepth) noexcept
{
    return isSafeMarkup (std::string_view (text.toRawUTF8(), text.getNumBytesAsUTF8()), maxDepth);
}

std::unique_ptr<juce::XmlElement> parseStoredXml (const juce::String& text, int maxDepth)
{
    const std::string_view s (text.toRawUTF8(), text.getNumBytesAsUTF8());

    if (! isSafeMarkup (s, maxDepth))
        return {};

    return juce::parseXML (text);
}

} // namespace qvn
