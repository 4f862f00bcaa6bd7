// Damaged and hostile settings files opened by the built bundle in a child
// process with a time limit: the host must survive, and no file may be lost,
// neither at opening nor at the next write.

#include "settings/AppSettings.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <thread>

namespace
{
    std::string bytesOf (const juce::File& f)
    {
        std::ifstream in (f.getFullPathName().toStdString(), std::ios::binary);
        return { std::istreambuf_iterator<char> (in), std::istreambuf_iterator<char>() };
    }

    void writeBytes (const juce::File& f, const std::string& bytes)
    {
        std::ofstream out (f.getFullPathName().toStdString(), std::ios::binary | std::ios::trunc);
        out << bytes;
    }

    // How the path looks without following a link: "file", "link -> target",
    // "fifo", "folder" or "none".
    std::string kindOf (const juce::File& f)
    {
        const auto path = f.getFullPathName().toStdString();
        struct stat st {};

        if (::lstat (path.c_str(), &st) != 0)
            return "none";

        if (S_ISLNK (st.st_mode))
        {
            char target[512] {};
            const auto n = ::readlink (path.c_str(), target, sizeof (target) - 1);
            return "link -> " + std::string (target, (size_t) std::max<ssize_t> (n, 0));
        }

        if (S_ISFIFO (st.st_mode)) return "fifo";
        if (S_ISDIR (st.st_mode))  return "folder";
        return "file";
    }

    juce::File asideCopy (const juce::File& settings, int n = 1)
    {
        return settings.getSiblingFile (settings.getFileName() + ".unreadable"
                                        + (n > 1 ? "-" + juce::String (n) : juce::String()));
    }

    struct ProbeResult
    {
        bool finished = false;
        int exitCode = -1;
        juce::String user;
        juce::StringArray lines;
    };

    // Runs the probe on the folders; a child still running after the time
    // limit is killed and counts as hung.
    ProbeResult runProbe (const char* mode, const juce::StringArray& folders, int timeoutMs)
    {
        juce::StringArray args { QVN_SETTINGS_PROBE, QVN_VST3_BUNDLE, mode };
        args.addArray (folders);

        ProbeResult r;
        juce::ChildProcess child;

        if (! child.start (args, juce::ChildProcess::wantStdOut))
            return r;

        r.finished = child.waitForProcessToFinish (timeoutMs);

        if (! r.finished)
        {
            child.kill();
            return r;
        }

        r.exitCode = (int) child.getExitCode();

        for (const auto& line : juce::StringArray::fromLines (child.readAllProcessOutput()))
        {
            if (line.startsWith ("#user "))
                r.user = line.fromFirstOccurrenceOf (" ", false, false);
            else if (line.isNotEmpty())
                r.lines.add (line);
        }

        return r;
    }

    // A folder tree of its own, open to the probe (which runs as "nobody"
    // when the tests run as root).
    struct ScratchFolder
    {
        ScratchFolder()
        {
            auto pattern = juce::File::getSpecialLocation (juce::File::tempDirectory)
                               .getChildFile ("qvn-hostile-XXXXXX").getFullPathName().toStdString();
            EXPECT_NE (::mkdtemp (pattern.data()), nullptr);
            root = juce::File (pattern);
            ::chmod (pattern.c_str(), 0755);
        }

        ~ScratchFolder()
        {
            makeWritable (root);
            root.deleteRecursively();
        }

        static void makeWritable (const juce::File& f)
        {
            if (kindOf (f) != "folder")
                return;

            ::chmod (f.getFullPathName().toRawUTF8(), 0777);

            for (const auto& child : f.findChildFiles (juce::File::findDirectories, false))
                makeWritable (child);
        }

        // "<root>/<name>", with the store's folder inside it.
        juce::File newCase (const juce::String& name) const
        {
            const auto folder = root.getChildFile (name);
            folder.getChildFile ("Quorvane").createDirectory();
            ::chmod (folder.getFullPathName().toRawUTF8(), 0777);
            ::chmod (folder.getChildFile ("Quorvane").getFullPathName().toRawUTF8(), 0777);
            return folder;
        }

        juce::File root;
    };

    juce::File settingsIn (const juce::File& folder)
    {
        return folder.getChildFile ("Quorvane/Quorvane.settings");
    }

    std::string properties (const std::string& values)
    {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n\n<PROPERTIES>\n" + values + "</PROPERTIES>\n";
    }

    // A settings file as the store writes it, with every kind of value.
    std::string fileWrittenByTheStore (const juce::File& folder)
    {
        setenv ("XDG_CONFIG_HOME", folder.getFullPathName().toRawUTF8(), 1);
        delete &AppSettings::get();

        auto& s = AppSettings::get();
        s.setEditorZoom (1.25);
        s.setSidebarVisible (false);
        s.setMeterRange (-48.0f, -6.0f);
        s.setOffsetTargets ({ { "Lead <b>", -3.0f, 1.0f }, { "Back & \"up\"", -9.0f, -4.0f } });
        s.saveCustomWeightedRmsPreset ("Air <?x?>", CustomWeightedRmsSettings {});
        s.setLatestSeen ("1.0.2", "https://example.invalid/r?a=1&b=<2>");
        s.setLastFetchStatus ("ok 200");
        s.writeValue (qvn::settingsKeys::lastFetchBodySnippet, "{\"version\":\"1.0.2\"}");
        delete &s;
        unsetenv ("XDG_CONFIG_HOME");

        return bytesOf (settingsIn (folder));
    }
} // namespace

//==============================================================================
// The table of hostile files

enum class Outcome
{
    kept,        // read (or found empty); the file stays as it is until a write
    setAside,    // moved to "<name>.unreadable" whole; the store starts from defaults
    leftInPlace  // could not be moved; never written over
};

struct HostileCase
{
    const char* label;
    std::function<void (const juce::File& settings)> make;
    Outcome outcome;
    const char* storeAfterwards;   // how the program's own store then opens it
};

void PrintTo (const HostileCase& c, std::ostream* os) { *os << c.label; }

class HostileSettingsFileTest : public ::testing::TestWithParam<HostileCase>
{
protected:
    ScratchFolder scratch;
};

TEST_P (HostileSettingsFileTest, BundleSurvivesAndTheNextWriteLosesNothing)
{
    const auto& c = GetParam();

    // Root may write into any folder; the probe runs as "nobody" when the
    // bundle is readable for that user.
    if (c.outcome == Outcome::leftInPlace && ::geteuid() == 0
        && runProbe ("load", {}, 60000).user != "nobody")
        GTEST_SKIP() << "running as root, and the user nobody cannot read the bundle";

    const auto folder = scratch.newCase (c.label);
    const auto settings = settingsIn (folder);
    c.make (settings);

    const auto kindBefore = kindOf (settings);
    const auto bytesBefore = kindBefore == "file" ? bytesOf (settings) : std::string();
    const auto earlier = asideCopy (settings).existsAsFile() ? bytesOf (asideCopy (settings)) : std::string();
    const auto aside = earlier.empty() ? asideCopy (settings) : asideCopy (settings, 2);

    // Opened by the bundle in a host process.
    const auto load = runProbe ("load", { folder.getFullPathName() }, 60000);
    ASSERT_TRUE (load.finished) << "the host hung";
    ASSERT_EQ (load.exitCode, 0) << "the host crashed";
    ASSERT_EQ (load.lines.size(), 1);
    EXPECT_FALSE (load.lines[0].contains ("LOST")) << load.lines[0];

    if (c.outcome == Outcome::setAside)
    {
        EXPECT_EQ (kindOf (settings), "none");
        EXPECT_EQ (kindOf (aside), kindBefore);

        if (kindBefore == "file")
            EXPECT_EQ (bytesOf (aside), bytesBefore);
    }
    else
    {
        EXPECT_EQ (kindOf (settings), kindBefore);
        EXPECT_EQ (kindOf (aside), "none");

        if (kindBefore == "file")
            EXPECT_EQ (bytesOf (settings), bytesBefore);
    }

    if (! earlier.empty())
        EXPECT_EQ (bytesOf (asideCopy (settings)), earlier) << "an earlier copy was replaced";

    // The next write keeps every value read and leaves the copy alone.
    const auto write = runProbe ("write", { folder.getFullPathName() }, 60000);
    ASSERT_TRUE (write.finished) << "the host hung";
    ASSERT_EQ (write.exitCode, 0) << "the host crashed";
    ASSERT_EQ (write.lines.size(), 1);
    EXPECT_EQ (write.lines[0], folder.getFullPathName() + "\t" + c.storeAfterwards + "\tok");

    if (c.outcome == Outcome::setAside && kindBefore == "file")
        EXPECT_EQ (bytesOf (aside), bytesBefore);

    if (c.outcome == Outcome::leftInPlace)
        EXPECT_EQ (bytesOf (settings), bytesBefore);

    if (c.outcome == Outcome::kept)
        EXPECT_EQ (kindOf (settings), kindBefore) << "the write replaced what was there";
}

namespace
{
    auto text (std::string s)
    {
        return [s] (const juce::File& f) { writeBytes (f, s); };
    }

    std::string nested (int depth)
    {
        std::string s;
        s.reserve ((size_t) depth * 7 + 200);
        s = "<?xml version=\"1.0\"?><PROPERTIES><VALUE name=\"editorZoom\" val=\"2\"/>";
        for (int i = 0; i < depth; ++i) s += "<a>";
        for (int i = 0; i < depth; ++i) s += "</a>";
        return s + "</PROPERTIES>";
    }

    // The framework's compressed binary properties form: a count of some
    // 268 million entries and the zero bytes that make them empty.
    std::string compressedBinaryForm()
    {
        juce::MemoryOutputStream out;
        out.writeInt (juce::ByteOrder::littleEndianInt ("CPRP"));
        {
            juce::GZIPCompressorOutputStream gz (out, 9);
            gz.writeInt (268435456);
            const std::string zeros (1 << 20, '\0');
            for (int i = 0; i < 16; ++i)
                gz.write (zeros.data(), zeros.size());
        }
        return { static_cast<const char*> (out.getData()), out.getDataSize() };
    }

    // The text as a text editor saves it in UTF-16 (little-endian, with
    // its byte-order mark).
    std::string utf16 (const std::string& utf8)
    {
        std::string out ("\xff\xfe", 2);

        for (auto p = juce::String::fromUTF8 (utf8.data(), (int) utf8.size()).toUTF16(); ! p.isEmpty();)
        {
            const auto unit = (uint16_t) *reinterpret_cast<const juce::CharPointer_UTF16::CharType*> (p.getAddress());
            ++p;
            out += (char) (unit & 0xff);
            out += (char) (unit >> 8);
        }

        return out;
    }

    std::string junk (size_t size, unsigned seed)
    {
        std::mt19937 rng (seed);
        std::string s (size, '\0');
        for (auto& c : s) c = (char) (rng() & 0xff);
        return s;
    }
} // namespace

INSTANTIATE_TEST_SUITE_P (SettingsFile, HostileSettingsFileTest, ::testing::Values (
    HostileCase { "Empty", text (""), Outcome::kept, "absent" },
    HostileCase { "Blank", text ("  \n\t\n"), Outcome::kept, "absent" },
    HostileCase { "Truncated", text (properties ("  <VALUE name=\"editorZoom\" val=\"1.5\"/>\n  <VALUE name=\"sideb")),
                  Outcome::setAside, "absent" },
    HostileCase { "BinaryJunk", text (junk (3000, 7)), Outcome::setAside, "absent" },
    HostileCase { "NotXml", text ("{\"editorZoom\": 2}"), Outcome::setAside, "absent" },
    HostileCase { "OtherRoot", text ("<?xml version=\"1.0\"?><SOMETHING><VALUE name=\"editorZoom\" val=\"2\"/></SOMETHING>"),
                  Outcome::setAside, "absent" },
    // Text followed by an element inside a stored list crashed the
    // framework's reader when it turned the list back into text.
    HostileCase { "TextThenElement",
                  text ("<?xml version=\"1.0\" encoding=\"UTF-8\"?><PROPERTIES><VALUE name=\"offsetTargets\"><offsetTargets>"
                        "text<target name=\"Main\"><note/></target></offsetTargets></VALUE></PROPERTIES>"),
                  Outcome::kept, "read" },
    HostileCase { "CompressedBinaryForm", text (compressedBinaryForm()), Outcome::setAside, "absent" },
    HostileCase { "DeepNesting", text (nested (200000)), Outcome::setAside, "absent" },
    HostileCase { "DeepNestingInAReadOnlyFolder",
                  [] (const juce::File& f)
                  {
                      writeBytes (f, nested (200000));
                      ::chmod (f.getParentDirectory().getFullPathName().toRawUTF8(), 0555);
                  },
                  Outcome::leftInPlace, "leftInPlace" },
    HostileCase { "LinkToDevZero",
                  [] (const juce::File& f) { ASSERT_EQ (::symlink ("/dev/zero", f.getFullPathName().toRawUTF8()), 0); },
                  Outcome::setAside, "absent" },
    HostileCase { "NamedPipe",
                  [] (const juce::File& f) { ASSERT_EQ (::mkfifo (f.getFullPathName().toRawUTF8(), 0666), 0); },
                  Outcome::setAside, "absent" },
    HostileCase { "FolderInTheWay",
                  [] (const juce::File& f) { ASSERT_TRUE (f.getChildFile ("inside").createDirectory()); },
                  Outcome::setAside, "absent" },
    HostileCase { "TooLarge", text (properties ("<VALUE name=\"pad\" val=\"" + std::string (9 << 20, 'x') + "\"/>")),
                  Outcome::setAside, "absent" },
    HostileCase { "HugeValues",
                  text (properties ("<VALUE name=\"latestSeenVersion\" val=\"" + std::string (6 << 20, '9') + "\"/>"
                                    "<VALUE name=\"editorZoom\" val=\"1e999999\"/>"
                                    "<VALUE name=\"lastUpdateCheckUnix\" val=\"-99999999999999999999999999\"/>")),
                  Outcome::kept, "read" },
    HostileCase { "WrongTypes",
                  text (properties ("<VALUE name=\"editorZoom\" val=\"big\"/><VALUE name=\"sidebarVisible\" val=\"maybe\"/>"
                                    "<VALUE name=\"offsetTargets\" val=\"12\"/><VALUE name=\"customWeightedRmsPresets\">"
                                    "<offsetTargets/></VALUE><VALUE val=\"no name\"/><VALUE name=\"meterRangeMin\" val=\"nan\"/>")),
                  Outcome::kept, "read" },
    HostileCase { "InstructionThenText",
                  text (properties ("<VALUE name=\"editorZoom\"><?x?>text</VALUE><VALUE name=\"s\"><p><?x?>text</p></VALUE>")),
                  Outcome::kept, "read" },
    HostileCase { "EntityExpansion",
                  text ("<?xml version=\"1.0\"?><!DOCTYPE p [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">"
                        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]>"
                        "<PROPERTIES><VALUE name=\"editorZoom\" val=\"&d;&d;&d;&d;&d;&d;&d;\"/></PROPERTIES>"),
                  Outcome::kept, "read" },
    HostileCase { "InvalidUtf8", text (properties ("<VALUE name=\"latestSeenUrl\" val=\"a\xff\xfe\xc3\"/><VALUE name=\"\xed\xa0\x80\" val=\"1\"/>")),
                  Outcome::kept, "read" },
    HostileCase { "DeepMarkupInAValue",
                  [] (const juce::File& f)
                  {
                      std::string v;
                      for (int i = 0; i < 100; ++i) v += "<v>";
                      for (int i = 0; i < 100; ++i) v += "</v>";
                      writeBytes (f, properties ("<VALUE name=\"latestSeenVersion\">" + v + "</VALUE>"));
                  },
                  Outcome::setAside, "absent" },
    HostileCase { "ManyKeys",
                  [] (const juce::File& f)
                  {
                      std::string v;
                      for (int i = 0; i < 5000; ++i) v += "<VALUE name=\"k" + std::to_string (i) + "\" val=\"1\"/>";
                      writeBytes (f, properties (v));
                  },
                  Outcome::setAside, "absent" },
    HostileCase { "ManyRepeatsOfOneKey",
                  [] (const juce::File& f)
                  {
                      std::string v;
                      for (int i = 0; i < 4000; ++i) v += "<VALUE name=\"editorZoom\" val=\"" + std::to_string (i) + "\"/>";
                      writeBytes (f, properties (v));
                  },
                  Outcome::kept, "read" },
    // A user's own setups: the file kept in a dotfiles folder behind a link,
    // and the file saved again by a text editor as UTF-16.
    HostileCase { "LinkIntoDotfiles",
                  [] (const juce::File& f)
                  {
                      const auto kept = f.getParentDirectory().getSiblingFile ("dotfiles").getChildFile ("quorvane.settings");
                      kept.getParentDirectory().createDirectory();
                      ::chmod (kept.getParentDirectory().getFullPathName().toRawUTF8(), 0777);
                      writeBytes (kept, properties ("  <VALUE name=\"editorZoom\" val=\"1.5\"/>\n"));
                      ::chmod (kept.getFullPathName().toRawUTF8(), 0666);
                      ASSERT_EQ (::symlink (kept.getFullPathName().toRawUTF8(), f.getFullPathName().toRawUTF8()), 0);
                  },
                  Outcome::kept, "read" },
    HostileCase { "Utf16FromATextEditor",
                  text (utf16 (properties ("  <VALUE name=\"editorZoom\" val=\"1.5\"/>\n"
                                           "  <VALUE name=\"latestSeenVersion\" val=\"\xe6\x97\xa5\xe6\x9c\xac\"/>\n"))),
                  Outcome::kept, "read" },
    HostileCase { "EarlierCopyIsKept",
                  [] (const juce::File& f)
                  {
                      writeBytes (asideCopy (f), "the copy set aside last time");
                      writeBytes (f, "junk this time");
                  },
                  Outcome::setAside, "absent" }),
    [] (const auto& info) { return std::string (info.param.label); });

//==============================================================================
// One-byte mutations of a file the store wrote

TEST (SettingsFileMutations, NoMutantCrashesOrHangsTheHostOrGetsLost)
{
    ScratchFolder scratch;
    const auto original = fileWrittenByTheStore (scratch.newCase ("original"));
    ASSERT_GT (original.size(), 500u);

    constexpr int numMutants = 3000;
    constexpr int perChild = 250;
    std::mt19937 rng (20261211);
    juce::StringArray folders;

    for (int i = 0; i < numMutants; ++i)
    {
        auto m = original;
        const auto at = rng() % m.size();
        m[at] = (char) (m[at] ^ (char) (1 + rng() % 255));

        const auto folder = scratch.newCase ("m" + juce::String (i));
        writeBytes (settingsIn (folder), m);
        folders.add (folder.getFullPathName());
    }

    // Every file is opened in a child process by the same store code the
    // bundle holds, and one in six by the bundle itself in a host (which
    // costs far more per file); batches run side by side, and every child
    // must end in time and report each of its files.
    constexpr int viaBundleEvery = 6;
    std::vector<std::pair<const char*, juce::StringArray>> batches;

    for (int first = 0; first < numMutants; first += perChild)
    {
        juce::StringArray viaBundle, direct;

        for (int i = first; i < std::min (numMutants, first + perChild); ++i)
            (i % viaBundleEvery == 0 ? viaBundle : direct).add (folders[i]);

        batches.emplace_back ("both", viaBundle);
        batches.emplace_back ("write", direct);
    }

    std::vector<ProbeResult> results (batches.size());
    std::vector<std::thread> children;
    const auto parallel = (size_t) std::max (2u, std::thread::hardware_concurrency() / 2);

    for (size_t first = 0; first < batches.size(); first += parallel)
    {
        for (size_t b = first; b < std::min (batches.size(), first + parallel); ++b)
            children.emplace_back ([&, b] { results[b] = runProbe (batches[b].first, batches[b].second, 120000); });

        for (auto& t : children)
            t.join();

        children.clear();
    }

    std::map<juce::String, int> seen;
    int reported = 0;

    for (size_t b = 0; b < results.size(); ++b)
    {
        ASSERT_TRUE (results[b].finished) << "batch " << b << " hung";
        ASSERT_EQ (results[b].exitCode, 0) << "batch " << b << " crashed";

        for (const auto& line : results[b].lines)
        {
            ++reported;
            EXPECT_FALSE (line.contains ("LOST")) << line;
            ++seen[line.fromFirstOccurrenceOf ("\t", false, false)];
        }
    }

    EXPECT_EQ (reported, numMutants);

    // How the store found the files (after the bundle, a file it set
    // aside is absent for the store).
    for (const auto& [how, count] : seen)
        std::printf ("  %-20s %d\n", how.replace ("\t", " ").toRawUTF8(), count);
}
