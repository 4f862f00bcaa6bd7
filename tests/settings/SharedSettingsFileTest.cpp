// One settings file, several stores: every plug-in host process keeps a store
// of its own on the same file. Two SettingsFile objects on one path share no
// state, exactly as two processes would; one case runs two real processes.

#include "SettingsTestSupport.h"

#include <sys/wait.h>
#include <unistd.h>

#include <vector>

using qvntest::SettingsFixture;
namespace keys = qvn::settingsKeys;

namespace
{
    // One write in one of two stores, saved at once; an empty value removes
    // the key.
    struct Step
    {
        char store;   // 'A' or 'B'
        const char* key;
        const char* value;
    };

    struct SharedFileCase
    {
        const char* name;
        std::map<juce::String, juce::String> before;   // the file both stores open
        std::vector<Step> steps;
        std::map<juce::String, juce::String> after;    // the file after every step
    };

    void PrintTo (const SharedFileCase& c, std::ostream* os) { *os << c.name; }

    std::unique_ptr<SettingsFile> openStore (const juce::File& f)
    {
        return std::make_unique<SettingsFile> (f, juce::StringArray { keys::offsetTargets, keys::customWeightedRmsPresets });
    }
}

class SharedFileTest : public SettingsFixture,
                       public ::testing::WithParamInterface<SharedFileCase> {};

TEST_P (SharedFileTest, EachSaveKeepsWhatTheOtherStoreWrote)
{
    const auto& c = GetParam();

    if (! c.before.empty())
        qvntest::writeSettingsFile (settingsFile(), c.before);

    // Both opened before either writes, as two hosts running side by side.
    auto a = openStore (settingsFile());
    auto b = openStore (settingsFile());

    for (const auto& step : c.steps)
    {
        auto& s = step.store == 'A' ? *a : *b;

        if (juce::String (step.value).isEmpty())
            s.removeValue (step.key);
        else
            s.setValue (step.key, juce::String (step.value));

        ASSERT_TRUE (s.saveIfNeeded()) << step.store << " " << step.key;
    }

    EXPECT_EQ (fileValues(), c.after);

    // Each store took over the other's values at its last save, and a save
    // without changes of its own writes the same file again.
    for (auto* s : { a.get(), b.get() })
    {
        ASSERT_TRUE (s->save());
        EXPECT_EQ (fileValues(), c.after);
    }

    for (const auto& [key, value] : c.after)
    {
        EXPECT_EQ (a->getValue (key), value) << key;
        EXPECT_EQ (b->getValue (key), value) << key;
    }

    // And so does a host started afterwards.
    a.reset();
    b.reset();
    auto later = openStore (settingsFile());
    EXPECT_EQ (later->getAllProperties().size(), (int) c.after.size());

    for (const auto& [key, value] : c.after)
        EXPECT_EQ (later->getValue (key), value) << key;
}

INSTANTIATE_TEST_SUITE_P (Settings, SharedFileTest, ::testing::Values (
    SharedFileCase { "DifferentKeysInTurn", { { keys::editorZoom, "1.5" } },
                     { { 'B', keys::lastFetchAttemptUnix, "1765432110" },
                       { 'A', keys::sidebarVisible, "0" },
                       { 'B', keys::zoomLinked, "0" } },
                     { { keys::editorZoom, "1.5" }, { keys::lastFetchAttemptUnix, "1765432110" },
                       { keys::sidebarVisible, "0" }, { keys::zoomLinked, "0" } } },
    SharedFileCase { "SameKeyLastWriterWins", { { keys::editorZoom, "1.5" } },
                     { { 'B', keys::editorZoom, "0.75" },
                       { 'A', keys::editorZoom, "1.25" },
                       // B's own older value must not come back with B's next save.
                       { 'B', keys::sidebarVisible, "0" } },
                     { { keys::editorZoom, "1.25" }, { keys::sidebarVisible, "0" } } },
    SharedFileCase { "RemovalIsNotUndone", { { keys::editorZoom, "1.5" }, { keys::latestSeenVersion, "1.0.2" } },
                     { { 'A', keys::latestSeenVersion, "" },
                       { 'B', keys::sidebarVisible, "0" } },
                     { { keys::editorZoom, "1.5" }, { keys::sidebarVisible, "0" } } },
    SharedFileCase { "KeySetAgainAfterTheOtherRemovedIt", { { keys::latestSeenVersion, "1.0.2" } },
                     { { 'A', keys::latestSeenVersion, "" },
                       { 'B', keys::latestSeenVersion, "1.0.3" },
                       { 'A', keys::zoomLinked, "0" } },
                     { { keys::latestSeenVersion, "1.0.3" }, { keys::zoomLinked, "0" } } },
    SharedFileCase { "FirstFileWrittenByBoth", {},
                     { { 'A', keys::sidebarVisible, "0" },
                       { 'B', keys::zoomLinked, "0" } },
                     { { keys::sidebarVisible, "0" }, { keys::zoomLinked, "0" } } }),
    [] (const auto& info) { return std::string (info.param.name); });

//==============================================================================
TEST_F (SettingsFixture, PresetsAndOffsetTargetsSurviveAnotherHostsUpdateCheck)
{
    // The other host's store is open before anything is saved here; its
    // update check then writes its attempt time.
    auto other = openStore (settingsFile());

    auto& s = AppSettings::get();
    CustomWeightedRmsSettings bright;
    bright.slots[3].enabled = true;
    bright.slots[3].gainDb = 4.5;
    ASSERT_TRUE (s.saveCustomWeightedRmsPreset ("Bright", bright));
    s.setOffsetTargets ({ { "Lead", -3.5f, 1.25f } });

    other->setValue (keys::lastFetchAttemptUnix, (juce::int64) 1765432110);
    ASSERT_TRUE (other->saveIfNeeded());

    // Saved here again for something else: the other host's key stays too.
    s.setSidebarVisible (false);
    EXPECT_EQ (s.properties.getUserSettings()->getValue (keys::lastFetchAttemptUnix), "1765432110");
    other.reset();

    qvntest::closeSettingsStore();
    auto& reopened = AppSettings::get();
    const auto presets = reopened.customWeightedRmsPresets();
    ASSERT_EQ (presets.size(), 1u);
    EXPECT_EQ (presets[0].name, "Bright");
    EXPECT_EQ (presets[0].settings.slots[3].gainDb, 4.5);
    const auto targets = reopened.offsetTargets();
    ASSERT_EQ (targets.size(), 1u);
    EXPECT_EQ (targets[0].name, "Lead");
    EXPECT_FLOAT_EQ (targets[0].lo, -3.5f);
    EXPECT_FLOAT_EQ (targets[0].hi, 1.25f);
    EXPECT_FALSE (reopened.sidebarVisible());
    EXPECT_EQ (reopened.properties.getUserSettings()->getValue (keys::lastFetchAttemptUnix), "1765432110");
}

TEST_F (SettingsFixture, FileDamagedByAnotherWriterIsReplacedWithTheStoresOwnValues)
{
    // Between this store's open and its save, something left the file
    // unreadable. The save neither builds on it nor moves it aside (its
    // writer may still be at work): it writes this store's values whole.
    qvntest::writeSettingsFile (settingsFile(), { { keys::editorZoom, "1.5" } });
    auto store = openStore (settingsFile());
    ASSERT_TRUE (settingsFile().replaceWithText ("<PROPERTIES><VALUE name=\"half"));

    store->setValue (keys::sidebarVisible, "0");
    ASSERT_TRUE (store->saveIfNeeded());

    const std::map<juce::String, juce::String> expected { { keys::editorZoom, "1.5" }, { keys::sidebarVisible, "0" } };
    EXPECT_EQ (fileValues(), expected);
    EXPECT_EQ (settingsFile().getParentDirectory().getNumberOfChildFiles (juce::File::findFiles), 1);
}

TEST_F (SettingsFixture, FileGoneOrEmptiedMeanwhileKeepsTheStoresValues)
{
    // A missing or emptied file says nothing about other stores' values: the
    // save writes this store's values whole rather than building on nothing.
    for (const bool removed : { true, false })
    {
        SCOPED_TRACE (removed ? "file removed" : "file emptied");
        qvntest::writeSettingsFile (settingsFile(), { { keys::editorZoom, "1.5" } });
        auto store = openStore (settingsFile());

        if (removed)
            ASSERT_TRUE (settingsFile().deleteFile());
        else
            ASSERT_TRUE (settingsFile().replaceWithText (""));

        store->setValue (keys::sidebarVisible, "0");
        ASSERT_TRUE (store->saveIfNeeded());

        const std::map<juce::String, juce::String> expected { { keys::editorZoom, "1.5" }, { keys::sidebarVisible, "0" } };
        EXPECT_EQ (fileValues(), expected);
        EXPECT_EQ (store->getValue (keys::editorZoom), "1.5");
    }
}

TEST_F (SettingsFixture, TwoHostProcessesWritingInTurnKeepBothKeys)
{
    qvntest::writeSettingsFile (settingsFile(), { { keys::editorZoom, "1.5" } });
    qvntest::closeSettingsStore();

    // Each child opens its store, reports that on its pipe, then waits for
    // the word to write one key.
    struct Child { pid_t pid; int go; int opened; };

    const auto start = [&] (const char* key, const char* value) -> Child
    {
        int go[2], opened[2];
        EXPECT_EQ (::pipe (go), 0);
        EXPECT_EQ (::pipe (opened), 0);
        const auto pid = ::fork();

        if (pid == 0)
        {
            ::close (go[1]);
            ::close (opened[0]);
            SettingsFile store (settingsFile(), {});
            char c = 0;
            const bool ok = ::write (opened[1], "o", 1) == 1 && ::read (go[0], &c, 1) == 1;
            store.setValue (key, juce::String (value));
            ::_exit (ok && store.saveIfNeeded() ? 0 : 1);
        }

        ::close (go[0]);
        ::close (opened[1]);
        return { pid, go[1], opened[0] };
    };

    const auto finish = [] (const Child& child)
    {
        EXPECT_EQ (::write (child.go, "g", 1), 1);
        int status = 0;
        EXPECT_EQ (::waitpid (child.pid, &status, 0), child.pid);
        EXPECT_TRUE (WIFEXITED (status) && WEXITSTATUS (status) == 0);
        ::close (child.go);
        ::close (child.opened);
    };

    const auto a = start (keys::sidebarVisible, "0");
    const auto b = start (keys::lastFetchAttemptUnix, "1765432110");
    ASSERT_GT (a.pid, 0);
    ASSERT_GT (b.pid, 0);

    char c = 0;
    ASSERT_EQ (::read (a.opened, &c, 1), 1);
    ASSERT_EQ (::read (b.opened, &c, 1), 1);

    finish (b);   // B writes first; A, opened before that, saves after it
    finish (a);

    const std::map<juce::String, juce::String> expected { { keys::editorZoom, "1.5" },
                                                          { keys::lastFetchAttemptUnix, "1765432110" },
                                                          { keys::sidebarVisible, "0" } };
    EXPECT_EQ (fileValues(), expected);
}

TEST_F (SettingsFixture, PresetSavedHereKeepsThePresetAnotherHostSavedMeanwhile)
{
    // Both hosts have the file open; the other one saves its preset list
    // first, then a preset is saved and one deleted here.
    auto& s = AppSettings::get();
    ASSERT_TRUE (s.saveCustomWeightedRmsPreset ("Old", CustomWeightedRmsSettings()));
    auto other = openStore (settingsFile());

    // Its list: the one it read, with a copy of "Old" saved as "Theirs".
    auto list = juce::parseXML (other->getValue (keys::customWeightedRmsPresets));
    ASSERT_NE (list, nullptr);
    ASSERT_EQ (list->getNumChildElements(), 1);
    auto* theirs = new juce::XmlElement (*list->getChildElement (0));
    theirs->setAttribute ("name", "Theirs");
    list->addChildElement (theirs);
    other->setValue (keys::customWeightedRmsPresets, list->toString (juce::XmlElement::TextFormat().singleLine().withoutHeader()));
    ASSERT_TRUE (other->saveIfNeeded());

    ASSERT_TRUE (s.saveCustomWeightedRmsPreset ("Mine", CustomWeightedRmsSettings()));
    s.deleteCustomWeightedRmsPreset ("Mine");
    ASSERT_TRUE (s.saveCustomWeightedRmsPreset ("Mine too", CustomWeightedRmsSettings()));

    qvntest::closeSettingsStore();
    std::vector<juce::String> names;

    for (const auto& p : AppSettings::get().customWeightedRmsPresets())
        names.push_back (p.name);

    EXPECT_EQ (names, (std::vector<juce::String> { "Mine too", "Old", "Theirs" }));
}
