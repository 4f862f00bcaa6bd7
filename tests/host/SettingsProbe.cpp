// A child process for the settings-file tests: for each folder given, it
// points $XDG_CONFIG_HOME there and
//   load   - loads the built bundle and makes an instance, which opens the
//            settings file in the bundle's own store, then lets it go;
//   write  - opens the file with the store of this program, writes one key,
//            reopens it and checks that every value it had read is still
//            there (or, for a file set aside, that the copy is whole).
// One line per folder: "<folder>\t<how the store opened>\t<ok|LOST ...>",
// after a first line "#user nobody" or "#user <uid>".
// Run as root, it first becomes "nobody" (when that user can read the
// bundle), so that a read-only folder is read-only for it.

#include "settings/AppSettings.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace
{
    std::string bytesOf (const juce::File& f)
    {
        std::ifstream in (f.getFullPathName().toStdString(), std::ios::binary);
        return { std::istreambuf_iterator<char> (in), std::istreambuf_iterator<char>() };
    }

    bool isPlainFile (const juce::File& f)
    {
        struct stat st {};
        return ::lstat (f.getFullPathName().toRawUTF8(), &st) == 0 && S_ISREG (st.st_mode);
    }

    const char* describe (SettingsFile::Opened o)
    {
        switch (o)
        {
            case SettingsFile::Opened::absent:      return "absent";
            case SettingsFile::Opened::read:        return "read";
            case SettingsFile::Opened::setAside:    return "setAside";
            case SettingsFile::Opened::leftInPlace: return "leftInPlace";
        }

        return "?";
    }

    juce::File settingsIn (const juce::String& folder)
    {
        return juce::File (folder).getChildFile ("Quorvane/Quorvane.settings");
    }

    // The newest copy set aside, if any.
    juce::File newestAside (const juce::File& settings)
    {
        juce::File newest;

        for (int n = 1; n < 1000; ++n)
        {
            const auto f = settings.getSiblingFile (settings.getFileName() + ".unreadable"
                                                    + (n > 1 ? "-" + juce::String (n) : juce::String()));
            struct stat st {};

            if (::lstat (f.getFullPathName().toRawUTF8(), &st) != 0)
                break;

            newest = f;
        }

        return newest;
    }

    juce::String writeAndCheck (const juce::File& settings)
    {
        const bool plainBefore = isPlainFile (settings);
        const auto bytesBefore = plainBefore ? bytesOf (settings) : std::string();

        // No store is open here: each one is closed before the next folder.
        auto& store = AppSettings::get();
        auto* file = store.properties.getUserSettings();
        const auto opened = file->howOpened();
        auto before = file->getAllProperties();
        before.remove ("probeWrite");

        if (opened == SettingsFile::Opened::setAside && plainBefore && bytesOf (file->setAsideCopy()) != bytesBefore)
            return juce::String ("setAside\tLOST the copy");

        store.writeValue ("probeWrite", "1");
        delete &store;

        if (opened == SettingsFile::Opened::leftInPlace)
        {
            // Nothing may be written over a file that could not be set aside.
            if (plainBefore && bytesOf (settings) != bytesBefore)
                return juce::String ("leftInPlace\tLOST overwritten");

            return juce::String ("leftInPlace\tok");
        }

        auto after = AppSettings::get().properties.getUserSettings()->getAllProperties();
        delete &AppSettings::get();

        if (after["probeWrite"] != "1")
            return juce::String (describe (opened)) + "\tLOST the write";

        after.remove ("probeWrite");

        if (after != before)
            return juce::String (describe (opened)) + "\tLOST values";

        return juce::String (describe (opened)) + "\tok";
    }
} // namespace

int main (int argc, char** argv)
{
    if (argc < 3)
    {
        std::fprintf (stderr, "usage: %s <bundle> load|write|both <folder>...\n", argv[0]);
        return 2;
    }

    const juce::String bundle (argv[1]);

    if (::geteuid() == 0)
    {
        const auto libraries = juce::File (bundle).findChildFiles (juce::File::findFiles, true, "*.so");

        if (libraries.isEmpty() || ::setgroups (0, nullptr) != 0
            || ::setresgid (65534, 65534, 0) != 0 || ::setresuid (65534, 65534, 0) != 0)
            return 3;

        const int fd = ::open (libraries[0].getFullPathName().toRawUTF8(), O_RDONLY | O_CLOEXEC);
        const bool readable = fd >= 0;

        if (readable)
            ::close (fd);

        // Either for good, or back to root when "nobody" cannot reach the bundle.
        const auto id = readable ? 65534 : 0;

        if (::setresuid (id, id, id) != 0 || ::setresgid (id, id, id) != 0)
            return 3;
    }

    std::printf ("#user %s\n", ::geteuid() == 65534 ? "nobody" : juce::String ((int) ::geteuid()).toRawUTF8());
    const juce::String mode (argv[2]);
    juce::ScopedJuceInitialiser_GUI juceInit;

    juce::AudioPluginFormatManager formats;
    formats.addFormat (new juce::VST3PluginFormat());
    juce::OwnedArray<juce::PluginDescription> found;
    formats.getFormat (0)->findAllTypesForFile (found, bundle);

    if (found.size() != 1)
        return 4;

    for (int i = 3; i < argc; ++i)
    {
        const juce::String folder (argv[i]);
        const auto settings = settingsIn (folder);
        setenv ("XDG_CONFIG_HOME", folder.toRawUTF8(), 1);
        setenv ("HOME", folder.toRawUTF8(), 1);

        juce::String line = folder;

        if (mode == "load" || mode == "both")
        {
            const bool plainBefore = isPlainFile (settings);
            const auto bytesBefore = plainBefore ? bytesOf (settings) : std::string();

            juce::String error;
            auto instance = formats.createPluginInstance (*found[0], 48000.0, 512, error);

            if (instance == nullptr)
                return 5;

            instance.reset();

            // The file is either where it was, unchanged, or set aside whole.
            if (plainBefore && ! (isPlainFile (settings) && bytesOf (settings) == bytesBefore))
            {
                const auto aside = newestAside (settings);

                if (aside == juce::File() || bytesOf (aside) != bytesBefore)
                    line << "\tload\tLOST";
            }
        }

        if (mode == "write" || mode == "both")
            line << "\t" << writeAndCheck (settings);

        std::printf ("%s\n", line.toRawUTF8());
        std::fflush (stdout);
    }

    return 0;
}
