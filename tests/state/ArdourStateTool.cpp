// Helper of the Ardour session test. Ardour keeps a VST3 plug-in's state in
// its session file as a base-64 VST3 preset ("VST3" header, component data,
// chunk list). This tool
//   inject <session.ardour>   puts a rich processor state into the session's
//                             QUORVANE chunk (the wrapper's own data after it
//                             is kept);
//   check <session.ardour>    exits 0 when the chunk holds that state again,
//                             compared as the document the processor writes;
//   params                    prints the normalised host parameters of that
//                             state, one per line, as the Lua side prints them.

#include "StateTestUtils.h"

#include <cstdio>
#include <iostream>

namespace
{
std::string richState()
{
    QuorvaneProcessor p;
    qvn::test::fillRichState (p);
    qvn::test::setParam (p, ids::role, 2.0f);
    p.handleUpdateNowIfNeeded();
    return qvn::test::blobOf (p);
}

struct Chunk
{
    int start = -1, end = -1;   // of the base-64 text in the file
    juce::MemoryBlock preset;
};

Chunk findChunk (const juce::String& session)
{
    Chunk c;
    const auto at = session.indexOf ("name=\"QUORVANE\" active=");
    const auto open = session.indexOf (at < 0 ? 0 : at, "<chunk>");

    if (at < 0 || open < 0)
        return c;

    c.start = open + 7;
    c.end = session.indexOf (c.start, "</chunk>");

    bool ok = false;

    if (c.end >= 0)
    {
        juce::MemoryOutputStream decoded;
        ok = juce::Base64::convertFromBase64 (decoded, session.substring (c.start, c.end).trim());
        c.preset = decoded.getMemoryBlock();
    }

    if (! ok)
        c.start = -1;

    return c;
}

std::uint64_t readLe (const char* p, int bytes)
{
    std::uint64_t v = 0;

    for (int k = bytes; --k >= 0;)
        v = (v << 8) | (unsigned char) p[k];

    return v;
}

void writeLe (std::string& s, std::uint64_t v, int bytes)
{
    for (int k = 0; k < bytes; ++k)
        s.push_back ((char) ((v >> (8 * k)) & 0xff));
}

/** The component data of a VST3 preset ("Comp" in its chunk list). */
bool componentOf (const juce::MemoryBlock& preset, std::string& header, std::string& component)
{
    const auto* d = (const char*) preset.getData();
    const auto size = preset.getSize();

    if (size < 48 || std::string (d, 4) != "VST3")
        return false;

    const auto listAt = readLe (d + 40, 8);

    if (listAt + 8 > size || std::string (d + listAt, 4) != "List")
        return false;

    const auto count = readLe (d + listAt + 4, 4);

    for (std::uint64_t e = 0; e < count; ++e)
    {
        const auto* entry = d + listAt + 8 + 20 * e;

        if ((size_t) (entry - d) + 20 > size)
            return false;

        if (std::string (entry, 4) == "Comp")
        {
            const auto offset = readLe (entry + 4, 8), length = readLe (entry + 12, 8);

            if (offset + length > size)
                return false;

            header.assign (d, 40);
            component.assign (d + offset, (size_t) length);
            return true;
        }
    }

    return false;
}

/** The processor's blob at the start of the component data. */
std::string processorBlob (const std::string& component)
{
    if (component.size() < 9)
        return {};

    const auto length = readLe (component.data() + 4, 4);
    return length + 9 <= component.size() ? component.substr (0, (size_t) length + 9) : std::string();
}

int inject (const juce::File& file)
{
    auto text = file.loadFileAsString();
    const auto chunk = findChunk (text);
    std::string header, component;

    if (chunk.start < 0 || ! componentOf (chunk.preset, header, component))
    {
        std::cerr << "no QUORVANE chunk in " << file.getFullPathName() << "\n";
        return 1;
    }

    const auto tail = component.substr (processorBlob (component).size());
    const auto newComponent = richState() + tail;

    std::string preset = header;
    writeLe (preset, 48 + newComponent.size(), 8);
    preset += newComponent;
    preset += "List";
    writeLe (preset, 1, 4);
    preset += "Comp";
    writeLe (preset, 48, 8);
    writeLe (preset, newComponent.size(), 8);

    text = text.substring (0, chunk.start) + juce::Base64::toBase64 (preset.data(), preset.size()) + text.substring (chunk.end);
    return file.replaceWithText (text) ? 0 : 1;
}

int check (const juce::File& file)
{
    const auto chunk = findChunk (file.loadFileAsString());
    std::string header, component;

    if (chunk.start < 0 || ! componentOf (chunk.preset, header, component))
    {
        std::cerr << "no QUORVANE chunk in " << file.getFullPathName() << "\n";
        return 1;
    }

    const auto stored = qvn::test::xmlOf (processorBlob (component));
    const auto expected = qvn::test::xmlOf (richState());

    if (stored == expected)
        return 0;

    size_t k = 0;

    while (k < stored.size() && k < expected.size() && stored[k] == expected[k])
        ++k;

    std::cerr << "state differs at character " << k << ":\n  stored:   " << stored.substr (k > 60 ? k - 60 : 0, 160)
              << "\n  expected: " << expected.substr (k > 60 ? k - 60 : 0, 160) << "\n";
    return 1;
}

int params()
{
    QuorvaneProcessor p;
    qvn::test::restore (p, richState());

    for (int i = 0; i < 20; ++i)
        std::printf ("PARAM %d %.4f\n", i, p.getParameters()[i]->getValue());

    return 0;
}
} // namespace

int main (int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI juce;
    const std::string mode = argc > 1 ? argv[1] : "";

    if (mode == "inject" && argc > 2)
        return inject (juce::File (juce::CharPointer_UTF8 (argv[2])));

    if (mode == "check" && argc > 2)
        return check (juce::File (juce::CharPointer_UTF8 (argv[2])));

    if (mode == "params")
        return params();

    std::cerr << "usage: " << argv[0] << " inject|check <session.ardour> | params\n";
    return 2;
}
