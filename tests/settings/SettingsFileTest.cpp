// The settings file as users and their machines leave it: saved again by a
// text editor, reached through a link, written by the previous build, on a
// full disk, beside a folder full of earlier set-aside copies.

#include "SettingsTestSupport.h"

#include <atomic>
#include <csignal>
#include <memory>
#include <thread>
#include <vector>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using qvntest::SettingsFixture;
namespace keys = qvn::settingsKeys;

namespace
{
    // "日本" and "メインボーカル" as UTF-8.
    const juce::String japanese = juce::String::fromUTF8 ("\xe6\x97\xa5\xe6\x9c\xac");
    const juce::String leadVocal = juce::String::fromUTF8 ("\xe3\x83\xa1\xe3\x82\xa4\xe3\x83\xb3\xe3\x83\x9c\xe3\x83\xbc\xe3\x82\xab\xe3\x83\xab");

    std::string utf16 (const juce::String& text, bool littleEndian)
    {
        std::string out = littleEndian ? std::string ("\xff\xfe", 2) : std::string ("\xfe\xff", 2);

        for (auto p = text.toUTF16(); ! p.isEmpty();)
        {
            const auto unit = (uint16_t) *reinterpret_cast<const juce::CharPointer_UTF16::CharType*> (p.getAddress());
            ++p;
            // One code unit at a time (a pair for characters beyond the BMP).
            const auto put = [&] (uint16_t u)
            {
                const char lo = (char) (u & 0xff), hi = (char) (u >> 8);
                out += littleEndian ? lo : hi;
                out += littleEndian ? hi : lo;
            };
            put (unit);
        }

        return out;
    }

    std::string bytesOf (const juce::File& f)
    {
        juce::MemoryBlock data;
        f.loadFileAsData (data);
        return { static_cast<const char*> (data.getData()), data.getSize() };
    }

    bool isLink (const juce::File& f)
    {
        struct stat st {};
        return ::lstat (f.getFullPathName().toRawUTF8(), &st) == 0 && S_ISLNK (st.st_mode);
    }

    juce::File asideCopy (const juce::File& settings, int n)
    {
        return settings.getSiblingFile (settings.getFileName() + ".unreadable"
                                        + (n > 1 ? "-" + juce::String (n) : juce::String()));
    }
}

//==============================================================================
struct EncodedFile
{
    const char* name;
    std::function<std::string (const juce::String&)> encode;
};

void PrintTo (const EncodedFile& f, std::ostream* os) { *os << f.name; }

class EncodedFileTest : public SettingsFixture,
                        public ::testing::WithParamInterface<EncodedFile> {};

TEST_P (EncodedFileTest, FileSavedAgainByATextEditorLoadsEveryValue)
{
    // A file the user opened and saved again: line ends, comments, a
    // byte-order mark or another Unicode form, names typed in as characters.
    const auto text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n<PROPERTIES>\r\n"
                      "  <!-- my settings -->\r\n"
                      "  <VALUE name=\"editorZoom\" val=\"1.5\"/>\r\n"
                      "  <VALUE name=\"latestSeenVersion\" val=\"" + japanese + "\"/>\r\n"
                      "  <VALUE name=\"offsetTargets\">\r\n    <offsetTargets>\r\n"
                      "      <target name=\"" + leadVocal + "\" lo=\"-3.5\" hi=\"1.25\"/>\r\n"
                      "    </offsetTargets>\r\n  </VALUE>\r\n</PROPERTIES>\r\n";
    const auto bytes = GetParam().encode (text);

    settingsFile().getParentDirectory().createDirectory();
    ASSERT_TRUE (settingsFile().replaceWithData (bytes.data(), bytes.size()));

    auto& s = AppSettings::get();
    EXPECT_EQ (s.properties.getUserSettings()->howOpened(), SettingsFile::Opened::read);
    EXPECT_DOUBLE_EQ (s.editorZoom(), 1.5);
    EXPECT_EQ (s.latestSeenVersion(), japanese);
    const auto targets = s.offsetTargets();
    ASSERT_EQ (targets.size(), 1u);
    EXPECT_EQ (targets[0].name, leadVocal);
    EXPECT_FLOAT_EQ (targets[0].lo, -3.5f);
    EXPECT_FLOAT_EQ (targets[0].hi, 1.25f);
}

INSTANTIATE_TEST_SUITE_P (Settings, EncodedFileTest, ::testing::Values (
    EncodedFile { "Utf8WithCrLf",  [] (const juce::String& t) { return t.toStdString(); } },
    EncodedFile { "Utf8WithBom",   [] (const juce::String& t) { return "\xef\xbb\xbf" + t.toStdString(); } },
    EncodedFile { "Utf16LeWithBom", [] (const juce::String& t) { return utf16 (t.replace ("UTF-8", "UTF-16"), true); } },
    EncodedFile { "Utf16BeWithBom", [] (const juce::String& t) { return utf16 (t.replace ("UTF-8", "UTF-16"), false); } }),
    [] (const auto& info) { return std::string (info.param.name); });

//==============================================================================
TEST_F (SettingsFixture, SettingsFileThatIsALinkIsWrittenWhereTheLinkPoints)
{
    // A dotfiles setup: the settings file is a link into the user's own
    // folder of configuration files.
    const auto kept = home.getChildFile ("dotfiles/quorvane.settings");
    kept.getParentDirectory().createDirectory();
    qvntest::writeSettingsFile (kept, { { keys::editorZoom, "1.5" } });
    settingsFile().getParentDirectory().createDirectory();
    ASSERT_EQ (::symlink (kept.getFullPathName().toRawUTF8(), settingsFile().getFullPathName().toRawUTF8()), 0);

    auto& s = AppSettings::get();
    EXPECT_DOUBLE_EQ (s.editorZoom(), 1.5);
    s.setSidebarVisible (false);

    EXPECT_TRUE (isLink (settingsFile()));
    std::map<juce::String, juce::String> values;
    ASSERT_TRUE (qvntest::readSettingsFile (kept, values));
    EXPECT_EQ (values[keys::editorZoom], "1.5");
    EXPECT_EQ (values[keys::sidebarVisible], "0");

    // Nothing but the file itself is left in either folder.
    EXPECT_EQ (kept.getParentDirectory().getNumberOfChildFiles (juce::File::findFiles), 1);
    EXPECT_EQ (settingsFile().getParentDirectory().getNumberOfChildFiles (juce::File::findFiles), 1);

    qvntest::closeSettingsStore();
    EXPECT_FALSE (AppSettings::get().sidebarVisible());
}

//==============================================================================
TEST_F (SettingsFixture, FileOfThePreviousBuildWithJapaneseNamesLoadsEveryValue)
{
    // The previous build kept the file with the framework's properties class:
    // the two lists as one-line XML with the framework's declaration, turned
    // into child elements on save, and every character outside ASCII written
    // as a numeric reference.
    juce::XmlElement targets ("offsetTargets");
    auto* lead = targets.createNewChildElement ("target");
    lead->setAttribute ("name", leadVocal);
    lead->setAttribute ("lo", -3.5);
    lead->setAttribute ("hi", 1.25);
    auto* harmony = targets.createNewChildElement ("target");
    harmony->setAttribute ("name", japanese + " & <x>");
    harmony->setAttribute ("lo", -11.0);
    harmony->setAttribute ("hi", -7.0);

    juce::XmlElement presets ("customWeightedRmsPresets");
    auto* preset = presets.createNewChildElement ("preset");
    const auto presetName = japanese + "\"mix\"";
    preset->setAttribute ("name", presetName);

    for (int i = 0; i < CustomWeightedRmsSettings::numSlots; ++i)
    {
        auto* slot = preset->createNewChildElement ("slot");
        slot->setAttribute ("index", i);
        slot->setAttribute ("enabled", 1);
        slot->setAttribute ("type", 3);
        slot->setAttribute ("frequencyHz", 250.0 * (i + 1));
        slot->setAttribute ("gainDb", 1.5 * i);
        slot->setAttribute ("q", 0.9);
        slot->setAttribute ("slopeDbPerOct", 24.0);
    }

    const auto oneLine = juce::XmlElement::TextFormat().singleLine();
    const auto snippet = "{\"version\":\"1.0.2\",\"n\":\"" + japanese + "\"}\n<tail>";

    juce::PropertiesFile::Options o;
    o.applicationName = "Quorvane";
    o.millisecondsBeforeSaving = -1;

    {
        juce::PropertiesFile previous (settingsFile(), o);
        previous.setValue (keys::updateChecksEnabled, false);
        previous.setValue (keys::sidebarVisible, false);
        previous.setValue (keys::editorZoom, 0.75);
        previous.setValue (keys::zoomLinked, false);
        previous.setValue (keys::linkMeasurementToTransport, true);
        previous.setValue (keys::meterRangeMin, -60.0);
        previous.setValue (keys::meterRangeMax, -3.0);
        previous.setValue (keys::learnRangeMin, -50.0);
        previous.setValue (keys::learnRangeMax, -20.0);
        previous.setValue (keys::offsetTargets, targets.toString (oneLine));
        previous.setValue (keys::customWeightedRmsPresets, presets.toString (oneLine));
        previous.setValue (keys::lastUpdateCheckUnix, (double) 1765432109);
        previous.setValue (keys::latestSeenVersion, "1.0.2");
        previous.setValue (keys::latestSeenUrl, "https://example.invalid/r?a=1&b=2");
        previous.setValue (keys::lastFetchStatus, "ok 200");
        previous.setValue (keys::lastFetchBodySnippet, snippet);
        previous.setValue (keys::lastFetchAttemptUnix, (juce::int64) 1765432110);
        ASSERT_TRUE (previous.save());
    }

    ASSERT_TRUE (settingsFile().loadFileAsString().contains ("&#12513;"));

    const auto check = [&]
    {
        auto& s = AppSettings::get();
        EXPECT_FALSE (s.updateChecksEnabled());
        EXPECT_FALSE (s.sidebarVisible());
        EXPECT_DOUBLE_EQ (s.editorZoom(), 0.75);
        EXPECT_FALSE (s.zoomLinked());
        EXPECT_TRUE (s.linkMeasurementToTransport());
        EXPECT_FLOAT_EQ (s.meterRange().low, -60.0f);
        EXPECT_FLOAT_EQ (s.meterRange().high, -3.0f);
        EXPECT_FLOAT_EQ (s.learnRange().low, -50.0f);
        EXPECT_FLOAT_EQ (s.learnRange().high, -20.0f);
        EXPECT_EQ (s.lastUpdateCheckUnix(), 1765432109);
        EXPECT_EQ (s.latestSeenVersion(), "1.0.2");
        EXPECT_EQ (s.latestSeenUrl(), "https://example.invalid/r?a=1&b=2");

        const auto* file = s.properties.getUserSettings();
        EXPECT_EQ (file->getValue (keys::lastFetchStatus), "ok 200");
        EXPECT_EQ (file->getValue (keys::lastFetchBodySnippet), snippet);
        EXPECT_EQ (file->getValue (keys::lastFetchAttemptUnix), "1765432110");

        const auto t = s.offsetTargets();
        ASSERT_EQ (t.size(), 2u);
        EXPECT_EQ (t[0].name, leadVocal);
        EXPECT_FLOAT_EQ (t[0].lo, -3.5f);
        EXPECT_FLOAT_EQ (t[0].hi, 1.25f);
        EXPECT_EQ (t[1].name, japanese + " & <x>");
        EXPECT_FLOAT_EQ (t[1].lo, -11.0f);
        EXPECT_FLOAT_EQ (t[1].hi, -7.0f);

        const auto p = s.customWeightedRmsPresets();
        ASSERT_EQ (p.size(), 1u);
        EXPECT_EQ (p[0].name, presetName);

        for (int i = 0; i < CustomWeightedRmsSettings::numSlots; ++i)
        {
            const auto& slot = p[0].settings.slots[(size_t) i];
            EXPECT_TRUE (slot.enabled);
            EXPECT_EQ (slot.type, 3);
            EXPECT_DOUBLE_EQ (slot.frequencyHz, 250.0 * (i + 1));
            EXPECT_DOUBLE_EQ (slot.gainDb, 1.5 * i);
            EXPECT_DOUBLE_EQ (slot.q, 0.9);
            EXPECT_DOUBLE_EQ (slot.slopeDbPerOct, 24.0);
        }
    };

    check();

    // Saved by the store and opened again: still every value.
    AppSettings::get().writeValue ("unrelated", 1);
    qvntest::closeSettingsStore();
    check();
}

//==============================================================================
TEST_F (SettingsFixture, SaveOnAFullDiskFailsAndLeavesTheFileWhole)
{
    qvntest::writeSettingsFile (settingsFile(), { { keys::editorZoom, "1.5" },
                                                  { "padding", juce::String::repeatedString ("x", 5000) } });
    const auto before = settingsFile().loadFileAsString();
    qvntest::closeSettingsStore();

    // A child process whose files cannot grow past 1 KiB: every write of the
    // new copy fails as it would on a full disk.
    const auto child = ::fork();
    ASSERT_GE (child, 0);

    if (child == 0)
    {
        ::signal (SIGXFSZ, SIG_IGN);
        const rlimit limit { 1024, 1024 };
        ::setrlimit (RLIMIT_FSIZE, &limit);
        SettingsFile file (settingsFile(), {});
        file.setValue (keys::sidebarVisible, false);
        const bool saved = file.saveIfNeeded();
        ::_exit (! saved && file.needsToBeSaved() ? 0 : 1);
    }

    int status = 0;
    ASSERT_EQ (::waitpid (child, &status, 0), child);
    EXPECT_TRUE (WIFEXITED (status) && WEXITSTATUS (status) == 0);
    EXPECT_EQ (settingsFile().loadFileAsString(), before);
    EXPECT_EQ (settingsFile().getParentDirectory().getNumberOfChildFiles (juce::File::findFiles), 1);
}

TEST_F (SettingsFixture, WhenEveryNameForASetAsideCopyIsTakenTheStoreRunsFromMemory)
{
    settingsFile().getParentDirectory().createDirectory();

    for (int n = 1; n < 1000; ++n)
        ASSERT_TRUE (asideCopy (settingsFile(), n).replaceWithText ("copy " + juce::String (n)));

    ASSERT_TRUE (settingsFile().replaceWithText ("not a settings file"));

    auto& s = AppSettings::get();
    EXPECT_EQ (s.properties.getUserSettings()->howOpened(), SettingsFile::Opened::leftInPlace);
    s.setEditorZoom (1.25);
    EXPECT_DOUBLE_EQ (s.editorZoom(), 1.25);

    EXPECT_EQ (settingsFile().loadFileAsString(), "not a settings file");
    EXPECT_EQ (asideCopy (settingsFile(), 999).loadFileAsString(), "copy 999");
    EXPECT_EQ (asideCopy (settingsFile(), 1).loadFileAsString(), "copy 1");
}

//==============================================================================
TEST_F (SettingsFixture, FileAtTheSizeLimitIsReadAndOneByteMoreIsSetAsideWhole)
{
    // A file of exactly the largest size the store reads, made of one
    // value padded to fit, and the same file one byte longer.
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PROPERTIES>\n  <VALUE name=\"editorZoom\" val=\"1.5\"/>\n"
                             "  <VALUE name=\"padding\" val=\"";
    const std::string tail = "\"/>\n</PROPERTIES>\n";

    for (const auto extra : { 0, 1 })
    {
        qvntest::closeSettingsStore();
        settingsFile().getParentDirectory().deleteRecursively();
        settingsFile().getParentDirectory().createDirectory();

        const auto size = (size_t) SettingsFile::maxFileBytes + (size_t) extra;
        const auto bytes = head + std::string (size - head.size() - tail.size(), 'x') + tail;
        ASSERT_EQ (bytes.size(), size);
        ASSERT_TRUE (settingsFile().replaceWithData (bytes.data(), bytes.size()));

        auto& s = AppSettings::get();
        const auto* file = s.properties.getUserSettings();

        if (extra == 0)
        {
            EXPECT_EQ (file->howOpened(), SettingsFile::Opened::read);
            EXPECT_DOUBLE_EQ (s.editorZoom(), 1.5);
        }
        else
        {
            EXPECT_EQ (file->howOpened(), SettingsFile::Opened::setAside);
            EXPECT_DOUBLE_EQ (s.editorZoom(), 1.0);
            EXPECT_EQ (bytesOf (file->setAsideCopy()), bytes);
        }
    }
}

//==============================================================================
TEST_F (SettingsFixture, HostsOpeningAnUnreadableFileAtOnceAllKeepSaving)
{
    // Several hosts start together and find the same damaged file; each has
    // a store of its own. One of them sets the file aside; the others must
    // see that it is gone rather than give up saving for the whole session.
    constexpr int hosts = 8;

    for (int round = 0; round < 40; ++round)
    {
        settingsFile().getParentDirectory().deleteRecursively();
        settingsFile().getParentDirectory().createDirectory();
        ASSERT_TRUE (settingsFile().replaceWithText ("damaged"));

        std::atomic<int> waiting { hosts };
        std::vector<std::unique_ptr<SettingsFile>> stores ((size_t) hosts);
        std::vector<std::thread> threads;

        for (int i = 0; i < hosts; ++i)
            threads.emplace_back ([&, i]
            {
                for (--waiting; waiting > 0;)
                    std::this_thread::yield();
                stores[(size_t) i] = std::make_unique<SettingsFile> (settingsFile(), juce::StringArray());
            });

        for (auto& t : threads)
            t.join();

        int setAside = 0;

        for (auto& store : stores)
        {
            EXPECT_NE (store->howOpened(), SettingsFile::Opened::leftInPlace) << "round " << round;
            setAside += store->howOpened() == SettingsFile::Opened::setAside ? 1 : 0;
            store->setValue (keys::sidebarVisible, false);
            EXPECT_TRUE (store->saveIfNeeded()) << "round " << round;
        }

        EXPECT_EQ (setAside, 1);
        EXPECT_EQ (asideCopy (settingsFile(), 1).loadFileAsString(), "damaged");
        EXPECT_FALSE (asideCopy (settingsFile(), 2).exists());
        stores.clear();

        if (HasFailure())
            break;
    }
}
