#include "SettingsTestSupport.h"

#include <cmath>
#include <limits>

using qvntest::SettingsFixture;
using qvntest::writeSettingsFile;
namespace keys = qvn::settingsKeys;

namespace
{
    CustomWeightedRmsSettings bellAt (double frequencyHz, double gainDb)
    {
        CustomWeightedRmsSettings s;
        s.slots[3].enabled = true;
        s.slots[3].frequencyHz = frequencyHz;
        s.slots[3].gainDb = gainDb;
        return s;
    }

    std::vector<juce::String> names (const std::vector<NamedCustomWeightedRmsPreset>& presets)
    {
        std::vector<juce::String> result;
        for (const auto& p : presets)
            result.push_back (p.name);
        return result;
    }

    void expectSameSettings (const CustomWeightedRmsSettings& a, const CustomWeightedRmsSettings& b)
    {
        EXPECT_EQ (a.schemaVersion, b.schemaVersion);

        for (size_t i = 0; i < a.slots.size(); ++i)
        {
            EXPECT_EQ (a.slots[i].enabled, b.slots[i].enabled) << "band " << i;
            EXPECT_EQ (a.slots[i].type, b.slots[i].type) << "band " << i;
            EXPECT_EQ (a.slots[i].frequencyHz, b.slots[i].frequencyHz) << "band " << i;
            EXPECT_EQ (a.slots[i].gainDb, b.slots[i].gainDb) << "band " << i;
            EXPECT_EQ (a.slots[i].q, b.slots[i].q) << "band " << i;
            EXPECT_EQ (a.slots[i].slopeDbPerOct, b.slots[i].slopeDbPerOct) << "band " << i;
        }
    }
}

TEST_F (SettingsFixture, PresetRoundTripsExactlyThroughTheFile)
{
    CustomWeightedRmsSettings defaults;   // full-precision K-weighting constants
    ASSERT_TRUE (AppSettings::get().saveCustomWeightedRmsPreset ("K copy", defaults));

    auto text = fileValues()[keys::customWeightedRmsPresets];
    EXPECT_FALSE (text.containsChar ('\n'));
    const auto xml = juce::parseXML (text);
    ASSERT_NE (xml, nullptr);
    EXPECT_TRUE (xml->hasTagName ("customWeightedRmsPresets"));
    ASSERT_EQ (xml->getNumChildElements(), 1);
    const auto* preset = xml->getChildElement (0);
    EXPECT_EQ (preset->getStringAttribute ("name"), "K copy");
    ASSERT_EQ (preset->getNumChildElements(), 6);

    for (int i = 0; i < 6; ++i)
    {
        const auto* slot = preset->getChildElement (i);
        EXPECT_TRUE (slot->hasTagName ("slot"));
        EXPECT_EQ (slot->getIntAttribute ("index"), i);
        EXPECT_EQ (slot->getStringAttribute ("enabled"), defaults.slots[(size_t) i].enabled ? "1" : "0");
        EXPECT_EQ (slot->getIntAttribute ("type"), defaults.slots[(size_t) i].type);
    }

    qvntest::closeSettingsStore();
    const auto presets = AppSettings::get().customWeightedRmsPresets();
    ASSERT_EQ (presets.size(), 1u);
    EXPECT_EQ (presets[0].name, "K copy");
    expectSameSettings (presets[0].settings, defaults);
}

TEST_F (SettingsFixture, PresetSettingsAreNormalizedBeforeStoring)
{
    CustomWeightedRmsSettings wild;
    wild.slots[0].type = 9;
    wild.slots[1].frequencyHz = 5.0;
    wild.slots[2].gainDb = std::numeric_limits<double>::quiet_NaN();
    wild.slots[3].q = 1000.0;
    wild.slots[4].slopeDbPerOct = 12.34;
    wild.slots[5].slopeDbPerOct = -5.0;
    ASSERT_TRUE (AppSettings::get().saveCustomWeightedRmsPreset ("Wild", wild));

    auto expected = wild;
    expected.normalize();
    const auto presets = AppSettings::get().customWeightedRmsPresets();
    ASSERT_EQ (presets.size(), 1u);
    expectSameSettings (presets[0].settings, expected);
    EXPECT_EQ (presets[0].settings.slots[0].type, 5);
    EXPECT_EQ (presets[0].settings.slots[1].frequencyHz, 20.0);
    EXPECT_EQ (presets[0].settings.slots[2].gainDb, 0.0);
    EXPECT_DOUBLE_EQ (presets[0].settings.slots[4].slopeDbPerOct, 12.3);
}

TEST_F (SettingsFixture, PresetNamesAreCheckedBeforeSaving)
{
    auto& s = AppSettings::get();
    const juce::String name48 = juce::String::repeatedString ("n", 48);
    const juce::String name49 = juce::String::repeatedString ("n", 49);

    struct Case { juce::String name; bool accepted; };
    const Case cases[] = {
        { "Flat", false }, { "fLaT", false }, { "  FLAT  ", false },
        { "Standard K", false }, { " standard k", false },
        { "", false }, { "    ", false },
        { name49, false }, { "  " + name48 + "  ", true },
        { "Flat-ish", true }, { "Standard K2", true },
    };

    for (const auto& c : cases)
        EXPECT_EQ (s.saveCustomWeightedRmsPreset (c.name, {}), c.accepted) << "'" << c.name << "'";

    EXPECT_EQ (names (s.customWeightedRmsPresets()), (std::vector<juce::String> { "Flat-ish", name48, "Standard K2" }));
}

TEST_F (SettingsFixture, SavingUnderAnExistingNameIgnoringCaseReplacesItAndKeepsTheListSorted)
{
    auto& s = AppSettings::get();
    ASSERT_TRUE (s.saveCustomWeightedRmsPreset ("vocal air", bellAt (8000.0, 3.0)));
    ASSERT_TRUE (s.saveCustomWeightedRmsPreset ("Bass", bellAt (80.0, 2.0)));
    ASSERT_TRUE (s.saveCustomWeightedRmsPreset ("mid", bellAt (1000.0, 1.0)));
    EXPECT_EQ (names (s.customWeightedRmsPresets()), (std::vector<juce::String> { "Bass", "mid", "vocal air" }));

    ASSERT_TRUE (s.saveCustomWeightedRmsPreset ("  Vocal AIR ", bellAt (9000.0, -4.0)));

    const auto presets = s.customWeightedRmsPresets();
    EXPECT_EQ (names (presets), (std::vector<juce::String> { "Bass", "mid", "Vocal AIR" }));
    EXPECT_EQ (presets[2].settings.slots[3].frequencyHz, 9000.0);
    EXPECT_EQ (presets[2].settings.slots[3].gainDb, -4.0);
}

TEST_F (SettingsFixture, DeletingRemovesEveryMatchAndWritesOnlyWhenSomethingWentAway)
{
    // Two stored entries with the same name (only a hand-edited file has them).
    writeSettingsFile (settingsFile(), { { keys::customWeightedRmsPresets,
        "<customWeightedRmsPresets>"
          "<preset name='Keep'/>"
          "<preset name='Drop'/>"
          "<preset name='DROP'/>"
        "</customWeightedRmsPresets>" } });
    // Any rewrite by the store would change the file's bytes (formatting).
    const auto original = settingsFile().loadFileAsString();

    auto& s = AppSettings::get();
    s.deleteCustomWeightedRmsPreset ("not there");
    EXPECT_EQ (settingsFile().loadFileAsString(), original);

    s.deleteCustomWeightedRmsPreset (" drop ");
    EXPECT_EQ (names (s.customWeightedRmsPresets()), (std::vector<juce::String> { "Keep" }));

    const auto xml = juce::parseXML (fileValues()[keys::customWeightedRmsPresets]);
    ASSERT_NE (xml, nullptr);
    ASSERT_EQ (xml->getNumChildElements(), 1);
    EXPECT_EQ (xml->getChildElement (0)->getStringAttribute ("name"), "Keep");
}

TEST_F (SettingsFixture, PresetReaderSkipsBadSlotsAndNamesAndUsesAttributeDefaults)
{
    const juce::String name60 = juce::String::repeatedString ("L", 60);

    writeSettingsFile (settingsFile(), { { keys::customWeightedRmsPresets,
        "<customWeightedRmsPresets>"
          "<preset name='  Partial  '>"
            "<slot index='7' enabled='1' type='0' frequencyHz='100'/>"     // out of range: skipped
            "<slot enabled='1' type='0' frequencyHz='100'/>"               // no index: skipped
            "<slot index='zero' enabled='1'/>"                             // not a number: skipped
            "<slot index='2' enabled='1'/>"                                // every other attribute defaulted
            "<slot index='4' enabled='1' gainDb='6' q='2'/>"
            "<slot index='4' enabled='0' gainDb='-6'/>"                    // the last one wins
            "<band index='1' enabled='1'/>"                                // not a slot
          "</preset>"
          "<preset name=''><slot index='0' enabled='1'/></preset>"         // empty name: dropped
          "<preset name='   '/>"
          "<preset name='" + name60 + "'/>"
          "<notAPreset name='Stray'/>"
        "</customWeightedRmsPresets>" } });

    const auto presets = AppSettings::get().customWeightedRmsPresets();
    ASSERT_EQ (presets.size(), 2u);
    EXPECT_EQ (presets[0].name, "Partial");
    EXPECT_EQ (presets[1].name, name60.substring (0, 48));

    // The base layout is the default weighting with every band off.
    CustomWeightedRmsSettings base;
    for (auto& slot : base.slots)
        slot.enabled = false;

    const auto& p = presets[0].settings;
    EXPECT_EQ (p.schemaVersion, 1);

    for (size_t i : { 0u, 1u, 3u, 5u })
    {
        EXPECT_FALSE (p.slots[i].enabled) << i;
        EXPECT_EQ (p.slots[i].type, base.slots[i].type) << i;
        EXPECT_EQ (p.slots[i].frequencyHz, base.slots[i].frequencyHz) << i;
        EXPECT_EQ (p.slots[i].q, base.slots[i].q) << i;
    }

    EXPECT_TRUE (p.slots[2].enabled);
    EXPECT_EQ (p.slots[2].type, 2);
    EXPECT_EQ (p.slots[2].frequencyHz, 1000.0);
    EXPECT_EQ (p.slots[2].gainDb, 0.0);
    EXPECT_EQ (p.slots[2].q, 0.70710678);              // not 0.7071067811865476
    EXPECT_NE (p.slots[2].q, 0.7071067811865476);
    EXPECT_EQ (p.slots[2].slopeDbPerOct, 12.0);

    // Second slot with index 4 replaced the first one entirely.
    EXPECT_FALSE (p.slots[4].enabled);
    EXPECT_EQ (p.slots[4].gainDb, -6.0);
    EXPECT_EQ (p.slots[4].q, 0.70710678);

    EXPECT_TRUE (presets[1].settings == base);
}

TEST_F (SettingsFixture, PresetAttributesOutOfRangeAreNormalizedOnRead)
{
    writeSettingsFile (settingsFile(), { { keys::customWeightedRmsPresets,
        "<customWeightedRmsPresets><preset name='Odd'>"
          "<slot index='0' enabled='3' type='-4' frequencyHz='1e9' gainDb='nan' q='0' slopeDbPerOct='12.35'/>"
          "<slot index='1' enabled='x' type='x' frequencyHz='x' gainDb='x' q='x' slopeDbPerOct='x'/>"
        "</preset></customWeightedRmsPresets>" } });

    const auto presets = AppSettings::get().customWeightedRmsPresets();
    ASSERT_EQ (presets.size(), 1u);
    const auto& s0 = presets[0].settings.slots[0];
    EXPECT_TRUE (s0.enabled);
    EXPECT_EQ (s0.type, 0);
    EXPECT_EQ (s0.frequencyHz, 20000.0);
    EXPECT_EQ (s0.gainDb, 0.0);
    EXPECT_EQ (s0.q, 0.1);
    EXPECT_DOUBLE_EQ (s0.slopeDbPerOct, 12.4);

    // Text that is not a number takes the attribute's default.
    const auto& s1 = presets[0].settings.slots[1];
    EXPECT_FALSE (s1.enabled);
    EXPECT_EQ (s1.type, 2);
    EXPECT_EQ (s1.frequencyHz, 1000.0);
    EXPECT_EQ (s1.gainDb, 0.0);
    EXPECT_EQ (s1.q, 0.70710678);
    EXPECT_EQ (s1.slopeDbPerOct, 12.0);
}

TEST_F (SettingsFixture, PresetTextThatIsNotTheListReadsEmptyAndASaveReplacesIt)
{
    for (const char* text : { "definitely <not> xml", "<offsetTargets/>", "" })
    {
        qvntest::closeSettingsStore();
        writeSettingsFile (settingsFile(), { { keys::customWeightedRmsPresets, text } });

        auto& s = AppSettings::get();
        EXPECT_TRUE (s.customWeightedRmsPresets().empty()) << text;

        ASSERT_TRUE (s.saveCustomWeightedRmsPreset ("Fresh", bellAt (500.0, 1.5)));
        qvntest::closeSettingsStore();

        const auto presets = AppSettings::get().customWeightedRmsPresets();
        ASSERT_EQ (presets.size(), 1u) << text;
        EXPECT_EQ (presets[0].name, "Fresh");
        EXPECT_EQ (presets[0].settings.slots[3].gainDb, 1.5);
    }
}
