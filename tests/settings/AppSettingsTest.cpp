#include "SettingsTestSupport.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

using qvntest::SettingsFixture;
using qvntest::writeSettingsFile;
namespace keys = qvn::settingsKeys;

namespace
{
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    constexpr float kInf = std::numeric_limits<float>::infinity();
}

//==============================================================================
// Where the file lives

TEST_F (SettingsFixture, FileLivesInTheXdgConfigFolderUnderHome)
{
    AppSettings::get().setSidebarVisible (false);

    EXPECT_EQ (AppSettings::settingsFileLocation(), settingsFile());
    EXPECT_TRUE (settingsFile().existsAsFile());
    EXPECT_FALSE (home.getChildFile ("Quorvane").exists());
    EXPECT_EQ (fileValues()[keys::sidebarVisible], "0");
}

TEST_F (SettingsFixture, AbsoluteXdgConfigHomeIsUsedAndARelativeOneIgnored)
{
    const auto xdg = home.getChildFile ("elsewhere/config");
    setenv ("XDG_CONFIG_HOME", xdg.getFullPathName().toRawUTF8(), 1);
    qvntest::closeSettingsStore();

    AppSettings::get().setZoomLinked (false);
    const auto expected = xdg.getChildFile ("Quorvane/Quorvane.settings");
    EXPECT_EQ (AppSettings::settingsFileLocation(), expected);
    EXPECT_TRUE (expected.existsAsFile());
    EXPECT_FALSE (settingsFile().exists());

    // A relative XDG_CONFIG_HOME is invalid and falls back to ~/.config.
    setenv ("XDG_CONFIG_HOME", "relative/config", 1);
    qvntest::closeSettingsStore();
    AppSettings::get().setZoomLinked (true);
    EXPECT_TRUE (settingsFile().existsAsFile());
    EXPECT_EQ (fileValues()[keys::zoomLinked], "1");
}

TEST_F (SettingsFixture, ReopenedStoreReadsWhatThePreviousOneWrote)
{
    auto& s = AppSettings::get();
    s.setEditorZoom (1.5);
    s.setMeterRange (-48.0f, -6.0f);
    s.setLatestSeen ("1.2.3", "https://example.invalid/r");
    qvntest::closeSettingsStore();

    auto& reopened = AppSettings::get();
    EXPECT_DOUBLE_EQ (reopened.editorZoom(), 1.5);
    EXPECT_FLOAT_EQ (reopened.meterRange().low, -48.0f);
    EXPECT_FLOAT_EQ (reopened.meterRange().high, -6.0f);
    EXPECT_EQ (reopened.latestSeenVersion(), "1.2.3");
    EXPECT_EQ (reopened.latestSeenUrl(), "https://example.invalid/r");
}

//==============================================================================
// Defaults and writes

TEST_F (SettingsFixture, FreshUserReadsEveryDefaultAndReadingWritesNothing)
{
    auto& s = AppSettings::get();
    EXPECT_TRUE (s.updateChecksEnabled());
    EXPECT_TRUE (s.sidebarVisible());
    EXPECT_TRUE (s.zoomLinked());
    EXPECT_FALSE (s.linkMeasurementToTransport());
    EXPECT_DOUBLE_EQ (s.editorZoom(), 1.0);
    EXPECT_FLOAT_EQ (s.meterRange().low, -36.0f);
    EXPECT_FLOAT_EQ (s.meterRange().high, 0.0f);
    EXPECT_FLOAT_EQ (s.learnRange().low, -30.0f);
    EXPECT_FLOAT_EQ (s.learnRange().high, -6.0f);
    EXPECT_EQ (s.lastUpdateCheckUnix(), 0);
    EXPECT_TRUE (s.latestSeenVersion().isEmpty());
    EXPECT_TRUE (s.latestSeenUrl().isEmpty());
    EXPECT_TRUE (s.customWeightedRmsPresets().empty());

    const auto targets = s.offsetTargets();
    ASSERT_EQ (targets.size(), 2u);
    EXPECT_EQ (targets[0].name, "Main");
    EXPECT_FLOAT_EQ (targets[0].lo, -2.0f);
    EXPECT_FLOAT_EQ (targets[0].hi, 2.0f);
    EXPECT_EQ (targets[1].name, "Harmony");
    EXPECT_FLOAT_EQ (targets[1].lo, -10.0f);
    EXPECT_FLOAT_EQ (targets[1].hi, -5.0f);

    EXPECT_FALSE (settingsFile().exists());
}

TEST_F (SettingsFixture, EveryWriterSavesToDiskAtOnce)
{
    auto& s = AppSettings::get();

    struct Step { std::function<void()> write; const char* key; juce::String expected; };
    const std::vector<Step> steps {
        { [&] { s.setUpdateChecksEnabled (false); },          keys::updateChecksEnabled,        "0" },
        { [&] { s.setSidebarVisible (false); },               keys::sidebarVisible,             "0" },
        { [&] { s.setZoomLinked (false); },                   keys::zoomLinked,                 "0" },
        { [&] { s.setLinkMeasurementToTransport (true); },    keys::linkMeasurementToTransport, "1" },
        { [&] { s.setEditorZoom (3.5); },                     keys::editorZoom,                 "2.0" },
        { [&] { s.setLastFetchStatus ("http 404"); },         keys::lastFetchStatus,            "http 404" },
        { [&] { s.writeValue (keys::lastFetchBodySnippet, "<b>not found"); }, keys::lastFetchBodySnippet, "<b>not found" },
    };

    for (const auto& step : steps)
    {
        step.write();
        // Read the file straight from disk, not through the store.
        EXPECT_EQ (fileValues()[step.key], step.expected) << step.key;
    }

    s.setLastUpdateCheckUnix (1765411234);
    EXPECT_EQ (fileValues()[keys::lastUpdateCheckUnix].getDoubleValue(), 1765411234.0);

    s.setLatestSeen ("1.0.2", "https://example.invalid/release");
    auto values = fileValues();
    EXPECT_EQ (values[keys::latestSeenVersion], "1.0.2");
    EXPECT_EQ (values[keys::latestSeenUrl], "https://example.invalid/release");
    EXPECT_EQ (juce::parseXML (settingsFile())->getTagName(), "PROPERTIES");
}

TEST_F (SettingsFixture, DisplayRangeWritersApplyTheRangeRuleBeforeStoring)
{
    auto& s = AppSettings::get();
    s.setMeterRange (-200.0f, -190.0f);
    s.setLearnRange (-2.0f, -1.0f);

    auto values = fileValues();
    EXPECT_DOUBLE_EQ (values[keys::meterRangeMin].getDoubleValue(), -100.0);
    EXPECT_DOUBLE_EQ (values[keys::meterRangeMax].getDoubleValue(), -97.0);
    EXPECT_DOUBLE_EQ (values[keys::learnRangeMin].getDoubleValue(), -3.0);
    EXPECT_DOUBLE_EQ (values[keys::learnRangeMax].getDoubleValue(), 0.0);
}

//==============================================================================
// Sanitising on read, from values placed in the file on disk

struct StoredValueCase
{
    const char* key;
    const char* stored;
    std::function<double (AppSettings&)> read;
    double expected;
};

void PrintTo (const StoredValueCase& c, std::ostream* os) { *os << c.key << "='" << c.stored << "'"; }

class StoredValueTest : public SettingsFixture,
                        public ::testing::WithParamInterface<StoredValueCase> {};

TEST_P (StoredValueTest, ReaderSanitisesTheStoredText)
{
    const auto& c = GetParam();
    writeSettingsFile (settingsFile(), { { c.key, c.stored } });

    EXPECT_DOUBLE_EQ (c.read (AppSettings::get()), c.expected) << c.key << " = '" << c.stored << "'";
}

namespace
{
    double zoom (AppSettings& s)      { return s.editorZoom(); }
    double meterLow (AppSettings& s)  { return s.meterRange().low; }
    double meterHigh (AppSettings& s) { return s.meterRange().high; }
    double learnLow (AppSettings& s)  { return s.learnRange().low; }
    double learnHigh (AppSettings& s) { return s.learnRange().high; }
    double lastCheck (AppSettings& s) { return (double) s.lastUpdateCheckUnix(); }
    double updates (AppSettings& s)   { return s.updateChecksEnabled() ? 1 : 0; }
    double sidebar (AppSettings& s)   { return s.sidebarVisible() ? 1 : 0; }
    double transport (AppSettings& s) { return s.linkMeasurementToTransport() ? 1 : 0; }
}

INSTANTIATE_TEST_SUITE_P (Settings, StoredValueTest, ::testing::Values (
    StoredValueCase { keys::editorZoom, "3.5", zoom, 2.0 },
    StoredValueCase { keys::editorZoom, "0.1", zoom, 0.5 },
    StoredValueCase { keys::editorZoom, "1.25", zoom, 1.25 },
    StoredValueCase { keys::editorZoom, "-inf", zoom, 0.5 },
    StoredValueCase { keys::editorZoom, "nan", zoom, 1.0 },
    StoredValueCase { keys::editorZoom, "huge", zoom, 1.0 },
    StoredValueCase { keys::editorZoom, "", zoom, 1.0 },
    StoredValueCase { keys::editorZoom, "1.5x", zoom, 1.0 },
    StoredValueCase { keys::meterRangeMax, "nan", meterHigh, 0.0 },
    StoredValueCase { keys::meterRangeMax, "abc", meterHigh, 0.0 },
    StoredValueCase { keys::meterRangeMin, "-1e400", meterLow, -36.0 },
    StoredValueCase { keys::learnRangeMin, "inf", learnLow, -30.0 },
    StoredValueCase { keys::learnRangeMax, "-29", learnHigh, -27.0 },
    StoredValueCase { keys::lastUpdateCheckUnix, "1700000000.9", lastCheck, 1700000000.0 },
    StoredValueCase { keys::lastUpdateCheckUnix, "-5.5", lastCheck, -5.0 },
    StoredValueCase { keys::lastUpdateCheckUnix, "yesterday", lastCheck, 0.0 },
    StoredValueCase { keys::lastUpdateCheckUnix, "nan", lastCheck, 0.0 },
    StoredValueCase { keys::lastUpdateCheckUnix, "1e300", lastCheck, 9.0e18 },
    StoredValueCase { keys::updateChecksEnabled, "0", updates, 0.0 },
    StoredValueCase { keys::updateChecksEnabled, "maybe", updates, 1.0 },
    StoredValueCase { keys::updateChecksEnabled, "false", updates, 0.0 },
    StoredValueCase { keys::sidebarVisible, "", sidebar, 1.0 },
    StoredValueCase { keys::linkMeasurementToTransport, "1", transport, 1.0 },
    StoredValueCase { keys::linkMeasurementToTransport, "yes please", transport, 0.0 }));

struct RangeCase { float storedMin, storedMax, low, high; };

void PrintTo (const RangeCase& c, std::ostream* os) { *os << c.storedMin << "/" << c.storedMax; }

class MeterRangeTest : public SettingsFixture,
                       public ::testing::WithParamInterface<RangeCase> {};

TEST_P (MeterRangeTest, StoredPairReadsThroughTheRangeRule)
{
    const auto& c = GetParam();
    writeSettingsFile (settingsFile(), { { keys::meterRangeMin, juce::String (c.storedMin) },
                                         { keys::meterRangeMax, juce::String (c.storedMax) } });
    const auto r = AppSettings::get().meterRange();
    EXPECT_FLOAT_EQ (r.low, c.low);
    EXPECT_FLOAT_EQ (r.high, c.high);
}

INSTANTIATE_TEST_SUITE_P (Settings, MeterRangeTest, ::testing::Values (
    RangeCase { -200.0f, -190.0f, -100.0f, -97.0f },
    RangeCase { -10.0f, -50.0f, -50.0f, -10.0f },
    RangeCase { -2.0f, -1.0f, -3.0f, 0.0f },
    RangeCase { -20.0f, 12.0f, -20.0f, 0.0f },
    RangeCase { -20.0f, -20.0f, -20.0f, -17.0f },
    RangeCase { kNaN, kNaN, -36.0f, 0.0f },
    RangeCase { kInf, -kInf, -36.0f, 0.0f }));

TEST (DisplayRangeRule, NonFiniteEndsTakeTheirDefaults)
{
    const auto r = qvn::sanitiseDisplayRange (-20.0f, kNaN, -30.0f, -6.0f);
    EXPECT_FLOAT_EQ (r.low, -20.0f);
    EXPECT_FLOAT_EQ (r.high, -6.0f);
}

//==============================================================================
// Broken files

class BrokenFileTest : public SettingsFixture,
                       public ::testing::WithParamInterface<const char*> {};

TEST_P (BrokenFileTest, ReadersGetDefaultsAndTheNextWriteMakesAValidFile)
{
    settingsFile().getParentDirectory().createDirectory();
    ASSERT_TRUE (settingsFile().replaceWithData (GetParam(), std::strlen (GetParam())));

    auto& s = AppSettings::get();
    EXPECT_TRUE (s.updateChecksEnabled());
    EXPECT_DOUBLE_EQ (s.editorZoom(), 1.0);
    EXPECT_FLOAT_EQ (s.meterRange().low, -36.0f);
    EXPECT_EQ (s.offsetTargets().size(), 2u);
    EXPECT_TRUE (s.customWeightedRmsPresets().empty());
    EXPECT_EQ (s.lastUpdateCheckUnix(), 0);

    // Nothing is lost: a file that could not be read is kept whole beside
    // the new one.
    const auto* file = s.properties.getUserSettings();
    if (file->howOpened() == SettingsFile::Opened::setAside)
    {
        juce::MemoryBlock kept;
        ASSERT_TRUE (file->setAsideCopy().loadFileAsData (kept));
        EXPECT_EQ (kept.toString(), juce::String::fromUTF8 (GetParam(), (int) std::strlen (GetParam())));
    }

    s.setEditorZoom (1.5);
    const auto values = fileValues();
    ASSERT_EQ (values.size(), 1u);
    EXPECT_EQ (values.at (keys::editorZoom), "1.5");

    qvntest::closeSettingsStore();
    EXPECT_DOUBLE_EQ (AppSettings::get().editorZoom(), 1.5);
}

INSTANTIATE_TEST_SUITE_P (Settings, BrokenFileTest, ::testing::Values (
    "",
    "this is not XML at all",
    "<?xml version=\"1.0\"?><PROPERTIES><VALUE name=\"editorZoom\" val=\"2\"",
    "<?xml version=\"1.0\"?><SOMETHING><VALUE name=\"editorZoom\" val=\"2\"/></SOMETHING>",
    "\x01\x02\x03\x04 binary garbage \xff\xfe",
    "{\"editorZoom\": 2}",
    // Text the framework's own XML reader cannot take safely: a processing
    // instruction followed by text inside an element (it never returns) and
    // an entity-expanding DOCTYPE.
    "<?xml version=\"1.0\"?><PROPERTIES><VALUE name=\"editorZoom\"><?x?>text</VALUE></PROPERTIES>",
    "<?xml version=\"1.0\"?><!DOCTYPE p [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
    "<PROPERTIES><VALUE name=\"editorZoom\" val=\"&b;\"/></PROPERTIES>"));

TEST_F (SettingsFixture, DeeplyNestedFileIsSetAsideWholeAndTheStoreStartsFromDefaults)
{
    // Nesting this deep overflows the stack of the framework's recursive
    // XML reader; the store must not hand it the file.
    std::string raw ("<?xml version=\"1.0\"?><PROPERTIES><VALUE name=\"editorZoom\" val=\"2\"/>");
    constexpr int depth = 200000;
    raw.reserve (raw.size() + (size_t) depth * 7 + 16);
    for (int i = 0; i < depth; ++i) raw += "<a>";
    for (int i = 0; i < depth; ++i) raw += "</a>";
    raw += "</PROPERTIES>";
    const juce::String text (raw.data(), raw.size());

    settingsFile().getParentDirectory().createDirectory();
    ASSERT_TRUE (settingsFile().replaceWithText (text));

    auto& s = AppSettings::get();
    EXPECT_DOUBLE_EQ (s.editorZoom(), 1.0);

    const auto aside = settingsFile().getSiblingFile (settingsFile().getFileName() + ".unreadable");
    EXPECT_EQ (aside.loadFileAsString(), text);

    s.setEditorZoom (1.25);
    EXPECT_EQ (fileValues().at (keys::editorZoom), "1.25");
}

TEST_F (SettingsFixture, UnwritableLocationDoesNotCrashAndKeepsValuesInMemory)
{
    // A plain file where the folder should be: nothing can be saved.
    home.getChildFile (".config").createDirectory();
    ASSERT_TRUE (home.getChildFile (".config/Quorvane").replaceWithText ("in the way"));

    auto& s = AppSettings::get();
    s.setEditorZoom (0.75);
    EXPECT_DOUBLE_EQ (s.editorZoom(), 0.75);
    EXPECT_FALSE (s.saveCustomWeightedRmsPreset ("Mine", {}));
}

TEST_F (SettingsFixture, FileRewrittenByAnotherProcessDoesNotUpsetTheStore)
{
    auto& s = AppSettings::get();
    s.setEditorZoom (1.25);

    // Someone else replaces the file with junk while the store is open.
    ASSERT_TRUE (settingsFile().replaceWithText ("<PROPERTIES><VALUE name=\"editorZoom\" val=\"junk\""));
    EXPECT_DOUBLE_EQ (s.editorZoom(), 1.25);

    // The next write puts a complete, valid file back.
    s.setSidebarVisible (false);
    auto values = fileValues();
    EXPECT_EQ (values[keys::editorZoom], "1.25");
    EXPECT_EQ (values[keys::sidebarVisible], "0");
}

TEST_F (SettingsFixture, ConcurrentWritersNeverLeaveAHalfWrittenFile)
{
    // The store and a second writer of the same file (another process in the
    // field) save in a loop while a reader keeps parsing the file from disk.
    auto& s = AppSettings::get();
    s.setEditorZoom (1.0);

    std::atomic<bool> stop { false };
    std::atomic<int> unreadable { 0 }, reads { 0 };

    std::thread other ([&]
    {
        juce::PropertiesFile::Options o;
        o.applicationName = "Quorvane";
        o.millisecondsBeforeSaving = -1;
        juce::PropertiesFile foreign (settingsFile(), o);

        for (int i = 0; ! stop; ++i)
        {
            foreign.setValue ("foreignCounter", i);
            foreign.saveIfNeeded();
        }
    });

    std::thread reader ([&]
    {
        while (! stop)
        {
            std::map<juce::String, juce::String> values;

            if (! qvntest::readSettingsFile (settingsFile(), values))
                ++unreadable;

            ++reads;
        }
    });

    for (int i = 0; i < 300; ++i)
        s.setEditorZoom (0.5 + (i % 100) / 100.0);

    stop = true;
    other.join();
    reader.join();

    EXPECT_GT (reads.load(), 0);
    EXPECT_EQ (unreadable.load(), 0);
    EXPECT_DOUBLE_EQ (s.editorZoom(), 0.5 + 99 / 100.0);
}

TEST_F (SettingsFixture, OpeningWhileAnotherProcessReplacesTheFileStillReadsIt)
{
    // Another writer keeps replacing the file with a long and a short
    // version; every opening must see one of them whole.
    writeSettingsFile (settingsFile(), { { keys::editorZoom, "1.5" } });

    std::atomic<bool> stop { false };
    std::thread other ([&]
    {
        // Written the way most programs replace a file: a complete copy
        // beside it, then a rename over it.
        const std::string shortText = "<?xml version=\"1.0\"?><PROPERTIES><VALUE name=\"editorZoom\" val=\"1.5\"/></PROPERTIES>";
        const std::string longText = "<?xml version=\"1.0\"?><PROPERTIES><VALUE name=\"editorZoom\" val=\"1.5\"/><VALUE name=\"padding\" val=\""
                                     + std::string (4000, 'x') + "\"/></PROPERTIES>";
        const auto target = settingsFile().getFullPathName().toStdString();
        const auto temp = target + ".tmp";

        for (int i = 0; ! stop; ++i)
        {
            {
                std::ofstream out (temp, std::ios::binary | std::ios::trunc);
                out << (i % 2 == 0 ? longText : shortText);
            }

            std::rename (temp.c_str(), target.c_str());
        }
    });

    int misreads = 0;
    int opens = 0;
    const auto end = juce::Time::getMillisecondCounterHiRes() + 2500;

    while (juce::Time::getMillisecondCounterHiRes() < end)
    {
        ++opens;
        qvntest::closeSettingsStore();

        if (AppSettings::get().editorZoom() != 1.5)
            ++misreads;
    }

    stop = true;
    other.join();
    EXPECT_EQ (misreads, 0) << "of " << opens;
}

TEST_F (SettingsFixture, FirstUseFromManyThreadsCreatesOneStore)
{
    constexpr int numThreads = 8;
    std::vector<AppSettings*> seen (numThreads, nullptr);
    std::vector<std::thread> threads;
    std::atomic<bool> go { false };

    for (int t = 0; t < numThreads; ++t)
    {
        threads.emplace_back ([&, t]
        {
            while (! go) {}

            auto& store = AppSettings::get();
            seen[(size_t) t] = &store;

            for (int i = 0; i < 20; ++i)
            {
                if (t % 2 == 0)
                    store.writeValue ("thread" + juce::String (t), i);
                else
                    (void) store.linkMeasurementToTransport();

                (void) store.properties.getUserSettings()->getValue (keys::latestSeenVersion);
            }
        });
    }

    go = true;

    for (auto& t : threads)
        t.join();

    for (auto* p : seen)
        EXPECT_EQ (p, &AppSettings::get());

    const auto values = fileValues();
    for (int t = 0; t < numThreads; t += 2)
        EXPECT_EQ (values.at ("thread" + juce::String (t)), "19");
}

//==============================================================================
// Offset Targets

TEST (OffsetTargetName, RuleRefusesEmptyNoneAndDuplicates)
{
    const std::vector<qvn::OffsetTarget> targets { { "Main", -2, 2 }, { "Harmony", -10, -5 } };

    struct Case { const char* name; int skip; bool valid; };
    const Case cases[] = {
        { "Lead", -1, true },
        { "   ", -1, false },
        { "", -1, false },
        { "none", -1, false },
        { " NONE ", -1, false },
        { "None of these", -1, true },
        { "main", -1, false },
        { "  HARMONY  ", -1, false },
        { "main", 0, true },     // editing "Main" itself
        { "main", 1, false },
        { "Harmony and then some more", -1, true },
    };

    for (const auto& c : cases)
        EXPECT_EQ (qvn::isValidOffsetTargetName (c.name, targets, c.skip), c.valid) << "'" << c.name << "' skip " << c.skip;

    // Only the first 24 characters count.
    const std::vector<qvn::OffsetTarget> longOne { { "ABCDEFGHIJKLMNOPQRSTUVWX", 0, 1 } };
    EXPECT_FALSE (qvn::isValidOffsetTargetName ("abcdefghijklmnopqrstuvwxYZ", longOne, -1));
}

TEST_F (SettingsFixture, OffsetTargetWriterSanitisesAndTheReaderReadsBack)
{
    auto& s = AppSettings::get();
    s.setOffsetTargets ({
        { "Same", 5.0f, 5.0f },
        { "High", 20.0f, 30.0f },
        { "NaNs", kNaN, kNaN },
        { "Reversed", 3.0f, -4.0f },
        { "Low", -40.0f, -30.0f },
        { "  ", 1.0f, 2.0f },
        { "  A name of thirty characters!", -1.0f, 1.0f },
    });

    const auto text = fileValues()[keys::offsetTargets];
    EXPECT_FALSE (text.containsChar ('\n'));
    const auto xml = juce::parseXML (text);
    ASSERT_NE (xml, nullptr);
    EXPECT_TRUE (xml->hasTagName ("offsetTargets"));
    EXPECT_EQ (xml->getNumChildElements(), 6);

    struct Expect { const char* name; float lo, hi; };
    const Expect expected[] = {
        { "Same", 5.0f, 5.5f },
        { "High", 11.5f, 12.0f },
        { "NaNs", -2.0f, 2.0f },
        { "Reversed", -4.0f, 3.0f },
        { "Low", -12.0f, -11.5f },
        { "A name of thirty charact", -1.0f, 1.0f },
    };

    // Read back from the file itself by a fresh store.
    qvntest::closeSettingsStore();
    const auto targets = AppSettings::get().offsetTargets();
    ASSERT_EQ (targets.size(), std::size (expected));

    for (size_t i = 0; i < targets.size(); ++i)
    {
        EXPECT_EQ (targets[i].name, expected[i].name);
        EXPECT_FLOAT_EQ (targets[i].lo, expected[i].lo) << expected[i].name;
        EXPECT_FLOAT_EQ (targets[i].hi, expected[i].hi) << expected[i].name;
    }
}

TEST_F (SettingsFixture, EmptyOffsetTargetListIsStoredAsTheBareRootAndStaysEmpty)
{
    AppSettings::get().setOffsetTargets ({});
    const auto xml = juce::parseXML (fileValues()[keys::offsetTargets]);
    ASSERT_NE (xml, nullptr);
    EXPECT_TRUE (xml->hasTagName ("offsetTargets"));
    EXPECT_EQ (xml->getNumChildElements(), 0);

    qvntest::closeSettingsStore();
    EXPECT_TRUE (AppSettings::get().offsetTargets().empty());
}

TEST_F (SettingsFixture, OffsetTargetReaderDropsBadEntriesAndSanitisesEnds)
{
    writeSettingsFile (settingsFile(), { { keys::offsetTargets,
        "<offsetTargets>"
          "<target name=' Lead ' lo='-3' hi='1'/>"
          "<target name='lead' lo='0' hi='1'/>"            // duplicate ignoring case
          "<target name='None' lo='0' hi='1'/>"
          "<target name='' lo='0' hi='1'/>"
          "<other name='Stray' lo='0' hi='1'/>"
          "<target name='NoEnds'/>"                         // both ends read as 0
          "<target name='Bad' lo='nan' hi='x'/>"
          "<target name='Wide' lo='-50' hi='50'/>"
        "</offsetTargets>" } });

    const auto targets = AppSettings::get().offsetTargets();
    ASSERT_EQ (targets.size(), 4u);
    EXPECT_EQ (targets[0].name, "Lead");
    EXPECT_FLOAT_EQ (targets[0].lo, -3.0f);
    EXPECT_FLOAT_EQ (targets[0].hi, 1.0f);
    EXPECT_EQ (targets[1].name, "NoEnds");
    EXPECT_FLOAT_EQ (targets[1].lo, 0.0f);
    EXPECT_FLOAT_EQ (targets[1].hi, 0.5f);
    EXPECT_EQ (targets[2].name, "Bad");
    EXPECT_FLOAT_EQ (targets[2].lo, -2.0f);
    EXPECT_FLOAT_EQ (targets[2].hi, 0.0f);
    EXPECT_EQ (targets[3].name, "Wide");
    EXPECT_FLOAT_EQ (targets[3].lo, -12.0f);
    EXPECT_FLOAT_EQ (targets[3].hi, 12.0f);
}

TEST_F (SettingsFixture, OffsetTargetTextThatIsNotTheListReadsEmpty)
{
    for (const char* text : { "garbage <<", "<presets/>", "" })
    {
        qvntest::closeSettingsStore();
        writeSettingsFile (settingsFile(), { { keys::offsetTargets, text } });
        EXPECT_TRUE (AppSettings::get().offsetTargets().empty()) << text;
    }
}

//==============================================================================
// The file format and text values

TEST_F (SettingsFixture, FileInTheFrameworksPropertiesFormatLoadsWithEveryValue)
{
    // Every key, written the way the framework's properties writer does it
    // (the two lists as child elements, everything else as "val" text).
    {
        auto& s = AppSettings::get();
        s.setEditorZoom (1.75);
        s.setSidebarVisible (false);
        s.setZoomLinked (false);
        s.setLinkMeasurementToTransport (true);
        s.setMeterRange (-48.0f, -6.0f);
        s.setLearnRange (-40.0f, -10.0f);
        s.setOffsetTargets ({ { "Lead", -3.0f, 1.5f }, { "Pad & <Air>", -9.0f, -4.0f } });
        CustomWeightedRmsSettings custom;
        custom.slots[3].gainDb = 4.5;
        ASSERT_TRUE (s.saveCustomWeightedRmsPreset ("Bright \"mix\"", custom));
        s.setLastUpdateCheckUnix (1700000000);
        s.setLatestSeen ("1.2.3", "https://example.invalid/r?a=1&b=2");
        s.setLastFetchStatus ("ok 200");
        s.writeValue (keys::lastFetchBodySnippet, "{\"version\":\"1.2.3\"}");
    }

    const auto stored = AppSettings::get().properties.getUserSettings()->getAllProperties();
    const auto targets = AppSettings::get().offsetTargets();
    const auto presets = AppSettings::get().customWeightedRmsPresets();
    qvntest::closeSettingsStore();
    settingsFile().deleteFile();

    juce::PropertiesFile::Options o;
    o.applicationName = "Quorvane";
    o.millisecondsBeforeSaving = -1;
    o.storageFormat = juce::PropertiesFile::storeAsXML;

    {
        juce::PropertiesFile framework (settingsFile(), o);
        for (int i = 0; i < stored.size(); ++i)
            framework.setValue (stored.getAllKeys()[i], stored.getAllValues()[i]);
        ASSERT_TRUE (framework.save());
    }

    ASSERT_TRUE (settingsFile().loadFileAsString().contains ("<offsetTargets>"));

    auto& s = AppSettings::get();
    auto* file = s.properties.getUserSettings();
    EXPECT_EQ (file->howOpened(), SettingsFile::Opened::read);
    EXPECT_EQ (file->getAllProperties().size(), stored.size());

    for (int i = 0; i < stored.size(); ++i)
    {
        const auto key = stored.getAllKeys()[i];
        if (key != keys::offsetTargets && key != keys::customWeightedRmsPresets)
            EXPECT_EQ (file->getValue (key), stored.getAllValues()[i]) << key;
    }

    EXPECT_DOUBLE_EQ (s.editorZoom(), 1.75);
    EXPECT_FALSE (s.sidebarVisible());
    EXPECT_TRUE (s.linkMeasurementToTransport());
    EXPECT_FLOAT_EQ (s.learnRange().low, -40.0f);
    EXPECT_EQ (s.lastUpdateCheckUnix(), 1700000000);

    const auto reread = s.offsetTargets();
    ASSERT_EQ (reread.size(), targets.size());
    for (size_t i = 0; i < targets.size(); ++i)
    {
        EXPECT_EQ (reread[i].name, targets[i].name);
        EXPECT_EQ (reread[i].lo, targets[i].lo);
        EXPECT_EQ (reread[i].hi, targets[i].hi);
    }

    const auto rereadPresets = s.customWeightedRmsPresets();
    ASSERT_EQ (rereadPresets.size(), 1u);
    EXPECT_EQ (rereadPresets[0].name, presets[0].name);
    EXPECT_EQ (rereadPresets[0].settings.slots[3].gainDb, 4.5);

    // Written by the store again, the framework's reader (an earlier build)
    // still finds every value, with the lists as elements.
    s.setZoomLinked (true);
    qvntest::closeSettingsStore();
    juce::PropertiesFile framework (settingsFile(), o);
    EXPECT_TRUE (framework.getXmlValue (keys::offsetTargets) != nullptr);
    EXPECT_EQ (framework.getValue (keys::latestSeenUrl), "https://example.invalid/r?a=1&b=2");
    EXPECT_EQ (framework.getValue (keys::editorZoom), "1.75");
    EXPECT_EQ (framework.getValue (keys::zoomLinked), "1");
}

TEST_F (SettingsFixture, UserTypedNamesWithMarkupRoundTripAsText)
{
    const juce::String names[] = { "<b>Lead</b>", "<?x?>text", "]]>&amp; <!--", "\"q' <a x='1'/>",
                                   "<!DOCTYPE p [<!ENTITY", "&lt;tag&gt;", "a\tb\nc" };

    {
        auto& s = AppSettings::get();
        std::vector<qvn::OffsetTarget> targets;

        for (const auto& name : names)
        {
            targets.push_back ({ name, -1.0f, 1.0f });
            ASSERT_TRUE (s.saveCustomWeightedRmsPreset (name, {})) << name;
        }

        s.setOffsetTargets (targets);
        s.setLatestSeen ("<v><?x?>1.0.2</v>", "<?x?>text");
    }

    qvntest::closeSettingsStore();
    auto& s = AppSettings::get();
    EXPECT_EQ (s.properties.getUserSettings()->howOpened(), SettingsFile::Opened::read);

    const auto targets = s.offsetTargets();
    ASSERT_EQ (targets.size(), std::size (names));
    for (size_t i = 0; i < targets.size(); ++i)
        EXPECT_EQ (targets[i].name, qvn::normaliseOffsetTargetName (names[i]));

    juce::StringArray presetNames;
    for (const auto& p : s.customWeightedRmsPresets())
        presetNames.add (p.name);

    for (const auto& name : names)
        EXPECT_TRUE (presetNames.contains (name.trim())) << name;

    EXPECT_EQ (presetNames.size(), (int) std::size (names));
    EXPECT_EQ (s.latestSeenVersion(), "<v><?x?>1.0.2</v>");
    EXPECT_EQ (s.latestSeenUrl(), "<?x?>text");

    // Only the two lists are elements in the file; the version is text.
    const auto text = settingsFile().loadFileAsString();
    EXPECT_FALSE (text.contains ("<v>"));
    EXPECT_FALSE (text.contains ("<?x?>"));
}

TEST_F (SettingsFixture, TextFollowedByAnElementInAStoredListStillReadsTheList)
{
    // The framework's own reader crashed turning this list back into text.
    settingsFile().getParentDirectory().createDirectory();
    ASSERT_TRUE (settingsFile().replaceWithText (
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><PROPERTIES><VALUE name=\"offsetTargets\"><offsetTargets>"
        "text<target name=\"Main\" lo=\"-1\" hi=\"3\"><note/></target></offsetTargets></VALUE></PROPERTIES>"));

    const auto targets = AppSettings::get().offsetTargets();
    ASSERT_EQ (targets.size(), 1u);
    EXPECT_EQ (targets[0].name, "Main");
    EXPECT_FLOAT_EQ (targets[0].hi, 3.0f);
}
