// Renders every registered gallery page in English and Japanese at 100 % and
// 200 % into PNG files, with a JSON file of the page's probes beside each.
//
//   qvn_ui_gallery <output folder> [page name filter]

#include "Gallery.h"

#include <algorithm>
#include <iostream>

namespace
{
juce::var probeToVar (const qvn::gallery::Probe& p, float scale)
{
    auto* o = new juce::DynamicObject();
    const auto r = p.area.toFloat() * scale;
    o->setProperty ("name", p.name);
    o->setProperty ("kind", p.kind == qvn::gallery::Probe::colour ? "colour" : (p.kind == qvn::gallery::Probe::ink ? "ink" : "face"));
    o->setProperty ("x", juce::roundToInt (r.getX()));
    o->setProperty ("y", juce::roundToInt (r.getY()));
    o->setProperty ("w", juce::roundToInt (r.getWidth()));
    o->setProperty ("h", juce::roundToInt (r.getHeight()));
    o->setProperty ("colour", juce::String::toHexString ((juce::int64) p.expected.getARGB()).paddedLeft ('0', 8));
    o->setProperty ("text", p.text);
    o->setProperty ("face", p.faceName);
    o->setProperty ("bold", p.bold);
    o->setProperty ("fontHeight", p.fontHeight * scale);
    return juce::var (o);
}
} // namespace

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI gui;

    const juce::File outDir = juce::File::getCurrentWorkingDirectory().getChildFile (argc > 1 ? argv[1] : "gallery");
    const juce::String filter = argc > 2 ? juce::String (argv[2]) : juce::String();

    if (! outDir.createDirectory())
    {
        std::cerr << "cannot create " << outDir.getFullPathName() << "\n";
        return 1;
    }

    // The editor makes its plain look the default, so fonts without a face of
    // their own draw in the monospace face; the gallery does the same.
    FlatLookAndFeel defaultLook;
    juce::LookAndFeel::setDefaultLookAndFeel (&defaultLook);
    juce::Typeface::clearTypefaceCache();

    auto pages = qvn::gallery::registry();
    std::sort (pages.begin(), pages.end(), [] (auto& a, auto& b) { return a.name < b.name; });

    int written = 0, failed = 0;
    juce::PNGImageFormat png;

    for (auto& page : pages)
    {
        if (filter.isNotEmpty() && ! page.name.contains (filter))
            continue;

        for (bool japanese : { false, true })
        {
            qvn::gallery::PageContext ctx;
            ctx.japanese = japanese;
            defaultLook.tooltipJapanese = japanese;
            // A plug-in window makes its own look the default and clears it
            // when it closes; every page starts from the gallery's.
            juce::LookAndFeel::setDefaultLookAndFeel (&defaultLook);

            auto component = page.build (ctx);

            if (component == nullptr || component->getWidth() <= 0 || component->getHeight() <= 0)
            {
                std::cerr << "page " << page.name << " built nothing\n";
                ++failed;
                continue;
            }

            for (float scale : { 1.0f, 2.0f })
            {
                const auto base = page.name + (japanese ? "_ja_" : "_en_") + (scale > 1.5f ? "200" : "100");
                const auto image = component->createComponentSnapshot (component->getLocalBounds(), true, scale);
                const auto file = outDir.getChildFile (base + ".png");
                file.deleteFile();

                juce::FileOutputStream out (file);
                if (! out.openedOk() || ! png.writeImageToStream (image, out))
                {
                    std::cerr << "cannot write " << file.getFullPathName() << "\n";
                    ++failed;
                    continue;
                }

                juce::Array<juce::var> probes;
                for (auto& p : component->probes)
                    probes.add (probeToVar (p, scale));

                auto* meta = new juce::DynamicObject();
                meta->setProperty ("page", page.name);
                meta->setProperty ("language", japanese ? "ja" : "en");
                meta->setProperty ("scale", scale);
                meta->setProperty ("image", file.getFileName());
                meta->setProperty ("probes", probes);
                outDir.getChildFile (base + ".json").replaceWithText (juce::JSON::toString (juce::var (meta)));
                ++written;
            }
        }
    }

    juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
    std::cout << written << " gallery images written to " << outDir.getFullPathName() << "\n";
    return (failed == 0 && written > 0) ? 0 : 1;
}
