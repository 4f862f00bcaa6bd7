// The plug-in state: round trips into fresh instances, the stored defaults and
// clamps, and blobs that must leave the state untouched.

#include "StateTestUtils.h"

using namespace qvn::test;

namespace
{
class StateTest : public ProcessorTest
{
};

juce::String offsetId (int i)
{
    return "offset_" + juce::String::charToString ((juce::juce_wchar) ('A' + i));
}

/** A minimal parameter tree around a given "applied" element. */
std::string stateXml (const std::string& applied, const std::string& params = {})
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?> <params>" + params + applied + "</params>";
}
} // namespace

TEST_F (StateTest, RoundTripIntoAFreshInstanceKeepsEveryField)
{
    QuorvaneProcessor original;
    fillRichState (original);
    const auto blob = blobOf (original);
    ASSERT_GT (blob.size(), 9u);

    QuorvaneProcessor restored;
    restore (restored, blob);
    restored.handleUpdateNowIfNeeded();

    expectSnapshotsEqual (original.captureSnapshot(), restored.captureSnapshot());

    for (int i = 0; i < 16; ++i)
        EXPECT_EQ (restored.storedOffsets[(size_t) i].load(), restored.getSectionOffset (i)) << i;

    EXPECT_EQ (restored.showTooltips.load(), true);
    EXPECT_EQ (restored.tooltipLang.load(), 0);
    EXPECT_EQ (restored.meterDispMode.load(), 2);
    EXPECT_EQ (restored.hiddenVocalMask.load(), 5);
    EXPECT_EQ (restored.instTargetUiOpen.load(), false);
    EXPECT_EQ (restored.linkOffsets.load(), true);
    EXPECT_EQ (restored.instanceName, original.instanceName);
    EXPECT_EQ (restored.offsetTarget, "Pop ballad");
    EXPECT_EQ (restored.currentAB.load(), 1);
    EXPECT_EQ (restored.customSettingsGeneration.load(), 7u);

    // Slot A comes back as stored; slot B, active at the save, as the live
    // state of that moment.
    expectSnapshotsEqual (restored.getABSlot (0), original.getABSlot (0), false);
    expectSnapshotsEqual (restored.getABSlot (1), original.captureSnapshot(), false);

    // A restore records no undo step and no edit is passed on.
    EXPECT_TRUE (restored.undoStack.empty());

    // Saved again, the state is the same document.
    EXPECT_EQ (xmlOf (blobOf (restored)), xmlOf (blob));
}

TEST_F (StateTest, BlobHasTheFrameworkFramingAndNodeOrder)
{
    QuorvaneProcessor p;
    fillRichState (p);
    const auto blob = blobOf (p);

    ASSERT_GT (blob.size(), 9u);
    EXPECT_EQ (blob.substr (0, 4), std::string ("\x56\x43\x32\x21", 4));
    std::uint32_t length = 0;
    std::memcpy (&length, blob.data() + 4, 4);
    EXPECT_EQ (length, blob.size() - 9);
    EXPECT_EQ (blob.back(), '\0');
    EXPECT_EQ (xmlOf (blob).rfind ("<?xml version=\"1.0\" encoding=\"UTF-8\"?> <params>", 0), 0u);

    auto xml = juce::parseXML (juce::String::fromUTF8 (xmlOf (blob).c_str()));
    ASSERT_NE (xml, nullptr);
    const auto tree = juce::ValueTree::fromXml (*xml);
    const auto applied = tree.getChild (tree.getNumChildren() - 1);
    ASSERT_TRUE (applied.hasType ("applied"));
    ASSERT_EQ (applied.getNumChildren(), 19);
    EXPECT_TRUE (applied.getChild (0).hasType ("customWeightedRms"));

    for (int i = 0; i < 16; ++i)
    {
        EXPECT_TRUE (applied.getChild (1 + i).hasType ("section"));
        EXPECT_EQ ((int) applied.getChild (1 + i)["idx"], i);
        EXPECT_FALSE (applied.getChild (1 + i).hasProperty ("offset"));
    }

    EXPECT_TRUE (applied.getChild (17).hasType ("abSlotA"));
    EXPECT_TRUE (applied.getChild (18).hasType ("abSlotB"));
    EXPECT_TRUE (applied.getChild (17).getChild (1).hasProperty ("offset"));

    const juce::StringArray order { "linkOffsets", "numSections", "showTooltips", "tooltipLang", "meterDispMode",
                                    "measMode", "rmsTimeSec", "customSettingsGeneration", "hiddenVocalMask",
                                    "instanceName", "instFrozen", "instMatchGain", "instMeasuredLufs",
                                    "instTrimStart", "instTrimEnd", "instAnalysisSeconds", "instTargetUiOpen",
                                    "instHistory", "offsetTarget", "currentAB" };
    ASSERT_EQ (applied.getNumProperties(), order.size());

    for (int k = 0; k < order.size(); ++k)
        EXPECT_EQ (applied.getPropertyName (k).toString(), order[k]);
}

TEST_F (StateTest, ReadDefaultsAndClampsOfStoredValues)
{
    struct Case
    {
        const char* applied;
        std::function<void (QuorvaneProcessor&)> check;
    };

    const std::vector<Case> cases {
        { "<applied tooltipLang=\"5\" measMode=\"7\" meterDispMode=\"-3\" rmsTimeSec=\"0.1\"/>",
          [] (QuorvaneProcessor& p) {
              EXPECT_EQ (p.tooltipLang.load(), 1);
              EXPECT_EQ (p.measMode.load(), 2);
              EXPECT_EQ (p.meterDispMode.load(), 0);
              EXPECT_EQ (p.rmsTimeSec.load(), 0.5f);
          } },
        { "<applied tooltipLang=\"-1\" rmsTimeSec=\"60\" customSettingsGeneration=\"0\"/>",
          [] (QuorvaneProcessor& p) {
              EXPECT_EQ (p.tooltipLang.load(), 0);
              EXPECT_EQ (p.rmsTimeSec.load(), 10.0f);
              EXPECT_EQ (p.customSettingsGeneration.load(), 1u);
          } },
        { "<applied/>",
          [] (QuorvaneProcessor& p) {
              EXPECT_EQ (p.tooltipLang.load(), 1);
              EXPECT_EQ (p.meterDispMode.load(), 1);
              EXPECT_EQ (p.rmsTimeSec.load(), 3.0f);
              EXPECT_EQ (p.currentAB.load(), 0);
              EXPECT_EQ (p.instMeasuredLufs.load(), -120.0f);
              EXPECT_EQ (p.instTrimEnd.load(), 1.0f);
              // Missing slots become the restored live state.
              expectSnapshotsEqual (p.getABSlot (0), p.captureSnapshot());
              expectSnapshotsEqual (p.getABSlot (1), p.captureSnapshot());
          } },
        { "<applied><section idx=\"2\" trimStart=\"0.8\" trimEnd=\"0.2\" linkGroup=\"9\" offset=\"20\"/></applied>",
          [] (QuorvaneProcessor& p) {
              EXPECT_EQ (p.sections[2].trimStart.load(), 0.2f);
              EXPECT_EQ (p.sections[2].trimEnd.load(), 0.8f);
              EXPECT_EQ (p.sections[2].linkGroup.load(), 3);
              EXPECT_EQ (p.getSectionOffset (2), 12.0f);
              EXPECT_EQ (p.storedOffsets[2].load(), 12.0f);
          } },
        { "<applied instTrimStart=\"0.8\" instTrimEnd=\"0.2\" instFrozen=\"1\"/>",
          [] (QuorvaneProcessor& p) {
              EXPECT_EQ (p.instTrimStart.load(), 0.8f);
              EXPECT_EQ (p.instTrimEnd.load(), 0.2f);
              EXPECT_TRUE (p.instTargetUiOpen.load());
          } },
        { "<applied><section idx=\"16\" frozen=\"1\"/><section frozen=\"1\"/><section idx=\"x\" frozen=\"1\"/>"
          "<section idx=\"5\" gainDb=\"1\"/><section idx=\"5\" gainDb=\"2\"/></applied>",
          [] (QuorvaneProcessor& p) {
              for (int i = 0; i < 16; ++i)
                  EXPECT_EQ (p.sections[(size_t) i].frozen.load(), i < 5) << i; // only section 5 was read
              EXPECT_EQ (p.sections[5].gainDb.load(), 2.0f); // the last node of an index wins
          } },
        { "<applied measMode=\"1\"><section idx=\"0\" frozen=\"1\" selfLufs=\"-20\"/></applied>",
          [] (QuorvaneProcessor& p) {
              // K-weighted RMS without frame series: flagged, levels kept.
              EXPECT_TRUE (p.sections[0].needsRemeasure.load());
              EXPECT_EQ (p.sections[0].selfLufs.load(), -20.0f);
          } },
        { "<applied abSlotIgnored=\"1\"><abSlotB rmsTimeSec=\"9\" customSettingsGeneration=\"0\" targetLufs=\"-99\" instOffset=\"nan\">"
          "<section idx=\"3\" offset=\"40\" frozen=\"1\"/></abSlotB></applied>",
          [] (QuorvaneProcessor& p) {
              const auto b = p.getABSlot (1);
              EXPECT_EQ (b.rmsTime, p.rmsTimeSec.load()); // "rmsTimeSec" is not a slot key
              EXPECT_EQ (b.customSettingsGeneration, 0u);  // 0 stays 0 in a slot
              EXPECT_EQ (b.targetLufs, -36.0f);
              EXPECT_EQ (b.instOffset, 0.0f);
              EXPECT_EQ (b.offsets[3], 40.0f); // clamped only when applied
              EXPECT_TRUE (b.sections[3].frozen.load());
          } },
        { "<applied gen=\"1\" instMatchGain=\"1e99999999999\" instMeasuredLufs=\"-inf\" hiddenVocalMask=\"99999999999999\">"
          "<section idx=\"1\" gainDb=\"nan\" selfLufs=\"abc\" seconds=\"-1e400\" linkGroup=\"-5\"/></applied>",
          [] (QuorvaneProcessor& p) {
              EXPECT_EQ (p.instMatchGain.load(), 0.0f); // too large to read: the default
              EXPECT_EQ (p.instMeasuredLufs.load(), -120.0f);
              EXPECT_EQ (p.sections[1].gainDb.load(), 0.0f);
              EXPECT_EQ (p.sections[1].selfLufs.load(), 0.0f); // no leading number reads as 0
              EXPECT_TRUE (std::isfinite (p.sections[1].seconds.load()));
              EXPECT_EQ (p.sections[1].linkGroup.load(), 0);
          } },
    };

    for (size_t k = 0; k < cases.size(); ++k)
    {
        SCOPED_TRACE (cases[k].applied);
        QuorvaneProcessor p;
        fillRichState (p);
        restore (p, frame (stateXml (cases[k].applied)));
        cases[k].check (p);
    }
}

TEST_F (StateTest, CustomModeFlagsSectionsMeasuredWithAnotherWeighting)
{
    QuorvaneProcessor p;
    fillRichState (p);
    auto xml = xmlOf (blobOf (p));

    // Same state, but the instance's generation moves to 8: every measured
    // section's custom frames are now stale.
    const auto at = xml.find ("customSettingsGeneration=\"7\"");
    ASSERT_NE (at, std::string::npos);
    xml.replace (at, 28, "customSettingsGeneration=\"8\"");

    QuorvaneProcessor q;
    restore (q, frame (xml));

    for (int i = 0; i < 16; ++i)
    {
        SCOPED_TRACE (i);
        EXPECT_EQ (q.sections[(size_t) i].needsRemeasure.load(), i < 6);
        EXPECT_EQ (q.sections[(size_t) i].frozen.load(), i < 6);

        if (i < 6)
        {
            EXPECT_EQ (q.sections[(size_t) i].selfLufs.load(), -120.0f);
            EXPECT_EQ (q.sections[(size_t) i].gainDb.load(), 0.0f);
        }
    }
}

TEST_F (StateTest, WithoutAppliedTheParametersAndSettingsResetAndSectionsStay)
{
    QuorvaneProcessor p;
    fillRichState (p);
    const auto before = p.captureSnapshot();
    const auto steps = p.undoStack.size();

    restore (p, frame (stateXml ("", "<PARAM id=\"offset_A\" value=\"4.5\"/><PARAM id=\"role\" value=\"2\"/>")));

    EXPECT_EQ (p.measMode.load(), 0);
    EXPECT_EQ (p.rmsTimeSec.load(), 3.0f);
    EXPECT_EQ (p.customSettingsGeneration.load(), 1u);
    EXPECT_EQ (p.getSectionOffset (0), 4.5f);
    EXPECT_EQ (p.storedOffsets[0].load(), 4.5f);
    EXPECT_EQ (p.getRole(), 2);
    EXPECT_EQ (p.getSectionOffset (1), 0.0f); // no PARAM: the framework's default
    EXPECT_EQ (p.storedOffsets[1].load(), 0.0f);

    {
        const std::lock_guard<std::mutex> lock (p.settingsMutex);
        EXPECT_TRUE (p.customSettings == CustomWeightedRmsSettings {});
    }

    EXPECT_TRUE (p.sections[0].frozen.load());
    EXPECT_EQ (p.sections[0].selfHistory, before.sections[0].selfHistory);
    EXPECT_EQ (p.instanceName, juce::String (juce::CharPointer_UTF8 ("Lead vocal \xe3\x83\x9c\xe3\x83\xbc\xe3\x82\xab\xe3\x83\xab")));
    EXPECT_EQ (p.currentAB.load(), 1);

    // The restored offset is no edit: nothing is passed on, no undo step.
    p.handleUpdateNowIfNeeded();
    EXPECT_EQ (p.undoStack.size(), steps);
    EXPECT_EQ (p.getSectionOffset (1), 0.0f);
    EXPECT_EQ (p.getSectionOffset (0), 4.5f);
}

TEST_F (StateTest, BlobsThatFailFramingOrParsingChangeNothing)
{
    QuorvaneProcessor reference;
    fillRichState (reference);
    const auto good = blobOf (reference);
    const auto goodXml = xmlOf (good);

    const auto withLength = [&good] (std::int32_t length)
    {
        auto b = good;
        std::memcpy (b.data() + 4, &length, 4);
        return b;
    };

    std::string deep = "<?xml version=\"1.0\" encoding=\"UTF-8\"?> ";

    for (int i = 0; i < 100000; ++i)
        deep += "<a>";

    const std::vector<std::pair<std::string, std::string>> cases {
        { "empty", std::string() },
        { "eight bytes", good.substr (0, 8) },
        { "magic reversed", std::string ("\x21\x32\x43\x56", 4) + good.substr (4) },
        { "length zero", withLength (0) },
        { "length negative", withLength (-5) },
        { "text not XML", frame ("this is not a state") },
        { "empty text", frame ("") },
        { "NUL first", frame (std::string ("\0", 1) + goodXml) },
        { "truncated XML", good.substr (0, good.size() / 2) },
        { "entity expansion", frame ("<?xml version=\"1.0\"?><!DOCTYPE p [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]><params>&b;</params>") },
        { "deep nesting", frame (deep) },
        { "processing instruction", frame ("<?xml version=\"1.0\"?><params><?pi x?>text</params>") },
    };

    for (const auto& [name, blob] : cases)
    {
        SCOPED_TRACE (name);
        QuorvaneProcessor p;
        fillRichState (p);
        const auto before = blobOf (p);
        const auto steps = p.undoStack.size();
        restore (p, blob);
        p.handleUpdateNowIfNeeded();
        EXPECT_EQ (xmlOf (blobOf (p)), xmlOf (before));
        EXPECT_EQ (p.undoStack.size(), steps);
    }
}

TEST_F (StateTest, LengthBeyondTheDataReadsWhatIsThere)
{
    QuorvaneProcessor original;
    fillRichState (original);
    auto blob = blobOf (original);
    const std::int32_t huge = 0x7fffffff;
    std::memcpy (blob.data() + 4, &huge, 4);
    blob.pop_back(); // no NUL either

    QuorvaneProcessor restored;
    restore (restored, blob);
    expectSnapshotsEqual (original.captureSnapshot(), restored.captureSnapshot());
}

// Levels and gains out of every range a measurement can give: the restored
// instance must still put finite, bounded audio out, as a Vocal and as an Inst
// with its Target view open.
TEST_F (StateTest, HostileLevelsAndGainsKeepTheOutputFiniteAndBounded)
{
    struct Case { const char* name; int role; const char* applied; float maxGainDb; };
    const Case cases[] {
        { "vocal", 2, "<applied><section idx=\"0\" frozen=\"1\" selfLufs=\"-200\" partnerLufs=\"250\" gainDb=\"450\"/></applied>",
          40.0f + 120.0f + 12.0f },
        { "inst", 1, "<applied instFrozen=\"1\" instTargetUiOpen=\"1\" instMatchGain=\"300\" instMeasuredLufs=\"-300\"/>",
          24.0f + 6.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        QuorvaneProcessor p;
        restore (p, frame (stateXml (c.applied)));
        auto* role = p.parameters.getParameter (ids::role);
        role->setValueNotifyingHost (role->convertTo0to1 ((float) c.role));
        p.handleUpdateNowIfNeeded();
        p.prepareToPlay (48000.0, 512);

        EXPECT_LE (std::abs (p.sections[0].gainDb.load()), 200.0f);
        EXPECT_LE (p.sections[0].partnerLufs.load(), 40.0f);
        EXPECT_GE (p.sections[0].selfLufs.load(), -120.0f);

        juce::AudioBuffer<float> buffer (2, 512);
        juce::MidiBuffer midi;
        const float level = 1.0e-6f;

        for (int block = 0; block < 20; ++block)
        {
            for (int ch = 0; ch < 2; ++ch)
                juce::FloatVectorOperations::fill (buffer.getWritePointer (ch), level, 512);

            p.processBlock (buffer, midi);

            for (int ch = 0; ch < 2; ++ch)
                for (int i = 0; i < 512; ++i)
                {
                    const auto y = buffer.getSample (ch, i);
                    ASSERT_TRUE (std::isfinite (y)) << "block " << block << " sample " << i;
                    ASSERT_LE (std::abs (y), level * juce::Decibels::decibelsToGain (c.maxGainDb) * 1.001f);
                }
        }
    }
}

TEST_F (StateTest, HostileParameterValuesGetSafeNumbers)
{
    QuorvaneProcessor p;
    restore (p, frame (stateXml ("<applied/>", "<PARAM id=\"offset_A\" value=\"nan\"/><PARAM id=\"offset_B\" value=\"1e99999999999\"/>"
                                                 "<PARAM id=\"targetLufs\" value=\"-inf\"/><PARAM id=\"instOffset\" value=\"3.04\"/>"
                                                 "<PARAM id=\"offset_C\" value=\"2\"/><PARAM id=\"offset_C\" value=\"-2\"/>"
                                                 "<PARAM id=\"unknown\" value=\"1e400\"/>")));
    // Values that are no finite number give the parameter's default.
    EXPECT_EQ (p.getSectionOffset (0), 0.0f);
    EXPECT_EQ (p.getSectionOffset (1), 0.0f);
    EXPECT_EQ (p.getTargetLufs(), -18.0f);
    EXPECT_NEAR (p.getInstOffsetDb(), 3.0f, 1.0e-5);
    EXPECT_EQ (p.getSectionOffset (2), -2.0f);
    EXPECT_EQ (p.storedInstOffset.load(), p.getInstOffsetDb());

    for (int i = 0; i < 16; ++i)
        EXPECT_EQ (p.storedOffsets[(size_t) i].load(), p.getSectionOffset (i)) << offsetId (i);

    p.handleUpdateNowIfNeeded();
    EXPECT_TRUE (p.undoStack.empty());
}

TEST_F (StateTest, BytesThatAreNotUtf8BecomeReplacementCharacters)
{
    QuorvaneProcessor p;
    // A lone continuation byte, a cut three-byte sequence and an overlong
    // encoding inside the name; the rest of the state is read as usual.
    restore (p, frame (stateXml ("<applied measMode=\"1\" instanceName=\"a\x80z\xe3\x83 \xc0\xafq\"/>")));
    EXPECT_EQ (p.measMode.load(), 1);
    EXPECT_EQ (p.instanceName, juce::String (juce::CharPointer_UTF8 ("a\xef\xbf\xbdz\xef\xbf\xbd\xef\xbf\xbd \xef\xbf\xbd\xef\xbf\xbdq")));

    // A multi-byte sequence cut by the end of the data is never read past.
    QuorvaneProcessor q;
    auto blob = frame (stateXml ("<applied measMode=\"2\"/>") + "\xf0\x9f");
    blob.pop_back();
    restore (q, blob);
    EXPECT_EQ (q.measMode.load(), 2);
}

TEST_F (StateTest, NamesWithMarkupRoundTripAsText)
{
    for (const juce::String name : { "<b>Lead</b><?x?>text", "]]>&amp; <!-- -->", "<!DOCTYPE a>&x; \"q'" })
    {
        QuorvaneProcessor original;
        original.setInstanceName (name);
        original.setOffsetTargetName (name);

        QuorvaneProcessor restored;
        restore (restored, blobOf (original));
        EXPECT_EQ (restored.instanceName, name);
        EXPECT_EQ (restored.offsetTarget, name.substring (0, 24));
    }
}
