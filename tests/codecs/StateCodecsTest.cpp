// Value codecs of the plug-in state: exact bytes, round trips and every way a
// stored text or node can be unusable.
//
// The expected texts below were worked out independently of the encoder from
// the record layouts (little-endian fields, 6 bits per character, least
// significant bit first, alphabet ".A-Za-z0-9+"), e.g. 1.0 is the bytes
// 00 00 00 00 00 00 F0 3F; the framework's own example "abc" -> "3.gI1X"
// pins the alphabet and the bit order.

#include "processor/StateCodecs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace
{
    uint64_t bitsOf (double d)
    {
        uint64_t b;
        std::memcpy (&b, &d, sizeof (b));
        return b;
    }

    double fromBits (uint64_t b)
    {
        double d;
        std::memcpy (&d, &b, sizeof (d));
        return d;
    }

    qvn::AnalysisFrameList frameList (std::vector<AnalysisFrame> v)
    {
        return std::make_shared<const std::vector<AnalysisFrame>> (std::move (v));
    }

    qvn::CustomRmsFrameList customList (std::vector<CustomRmsFrame> v)
    {
        return std::make_shared<const std::vector<CustomRmsFrame>> (std::move (v));
    }

    const double kNaN = std::numeric_limits<double>::quiet_NaN();
    const double kInf = std::numeric_limits<double>::infinity();
} // namespace

//==============================================================================
TEST (TextForm, FrameworkEncodingUsesTheDocumentedAlphabetAndBitOrder)
{
    EXPECT_EQ (juce::MemoryBlock ("abc", 3).toBase64Encoding(), "3.gI1X");
}

//==============================================================================
TEST (HistoryCodec, GoldenBytes)
{
    const std::vector<double> values { 1.0, -2.5, 0.1 };
    const juce::String golden = "24.........v+C........A.qYlYlYlYl6O";

    EXPECT_EQ (qvn::encodeHistory (values), golden);

    const auto decoded = qvn::decodeHistory (golden);
    ASSERT_EQ (decoded.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ (bitsOf (decoded[i]), bitsOf (values[i]));
}

TEST (HistoryCodec, NaNAndNegativeValuesComeBackBitForBit)
{
    const auto payloadNaN = fromBits (0x7ff8000000000123ull);
    const juce::String golden = "16.iD......3+G..........B";

    EXPECT_EQ (qvn::encodeHistory ({ payloadNaN, -0.0 }), golden);

    const auto decoded = qvn::decodeHistory (golden);
    ASSERT_EQ (decoded.size(), 2u);
    EXPECT_EQ (bitsOf (decoded[0]), 0x7ff8000000000123ull);
    EXPECT_EQ (bitsOf (decoded[1]), bitsOf (-0.0));
}

TEST (HistoryCodec, EmptyHistoryIsTheEmptyStringAndBack)
{
    EXPECT_TRUE (qvn::encodeHistory ({}).isEmpty());
    EXPECT_TRUE (qvn::decodeHistory (juce::var()).empty());
    EXPECT_TRUE (qvn::decodeHistory (juce::String()).empty());
}

TEST (HistoryCodec, RoundTripOfALongHistory)
{
    std::vector<double> values;
    for (int i = 0; i < 4500; ++i)   // 30 minutes of 400 ms blocks
        values.push_back (std::sin (i * 0.37) * 1.0e-3 + (i % 7 == 0 ? -1.0 : 0.0));

    const auto decoded = qvn::decodeHistory (qvn::encodeHistory (values));
    ASSERT_EQ (decoded.size(), values.size());
    EXPECT_EQ (std::memcmp (decoded.data(), values.data(), values.size() * sizeof (double)), 0);
}

//==============================================================================
TEST (FrameCodec, GoldenBytes)
{
    const auto frames = frameList ({ { 0.5, 4800 }, { 1234.25, -3 } });
    const juce::String golden = "72.........f+C................................vR.........PRSBD...............................P+++++";

    EXPECT_EQ (qvn::encodeFrames (frames), golden);

    const auto decoded = qvn::decodeFrames (golden);
    ASSERT_NE (decoded, nullptr);
    ASSERT_EQ (decoded->size(), 2u);   // 72 bytes: two records
    EXPECT_EQ ((*decoded)[0].energy, 0.5);
    EXPECT_EQ ((*decoded)[0].numSamples, 4800);
    EXPECT_EQ ((*decoded)[1].energy, 1234.25);
    EXPECT_EQ ((*decoded)[1].numSamples, -3);   // taken as stored
}

TEST (FrameCodec, ReservedBytesAreIgnoredOnReadingAndZeroOnWriting)
{
    // energy 0.5, reserved bytes 01..18 (hex), numSamples 4800
    const juce::String withReserved = "36.........f+S.BL.AEXvAHjfBKvPCN7.DQHwDTTgEWfAvR...";
    const juce::String clean = "36.........f+C................................vR...";

    const auto decoded = qvn::decodeFrames (withReserved);
    ASSERT_NE (decoded, nullptr);
    ASSERT_EQ (decoded->size(), 1u);
    EXPECT_EQ ((*decoded)[0].energy, 0.5);
    EXPECT_EQ ((*decoded)[0].numSamples, 4800);
    EXPECT_EQ (qvn::encodeFrames (decoded), clean);
}

TEST (FrameCodec, NullOrEmptyListIsTheEmptyString)
{
    EXPECT_TRUE (qvn::encodeFrames (nullptr).isEmpty());
    EXPECT_TRUE (qvn::encodeFrames (frameList ({})).isEmpty());
    EXPECT_TRUE (qvn::encodeCustomFrames (nullptr).isEmpty());
    EXPECT_TRUE (qvn::encodeCustomFrames (customList ({})).isEmpty());
    EXPECT_EQ (qvn::decodeFrames (juce::var()), nullptr);
    EXPECT_EQ (qvn::decodeCustomFrames (juce::var()), nullptr);
}

TEST (FrameCodec, ValuesAreNotCheckedAndRoundTrip)
{
    const auto frames = frameList ({ { kNaN, 0 }, { -kInf, std::numeric_limits<int32_t>::min() }, { 3.0e300, std::numeric_limits<int32_t>::max() } });
    const auto decoded = qvn::decodeFrames (qvn::encodeFrames (frames));
    ASSERT_NE (decoded, nullptr);
    ASSERT_EQ (decoded->size(), 3u);

    for (size_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ (bitsOf ((*decoded)[i].energy), bitsOf ((*frames)[i].energy));
        EXPECT_EQ ((*decoded)[i].numSamples, (*frames)[i].numSamples);
    }
}

//==============================================================================
TEST (CustomFrameCodec, GoldenBytes)
{
    const auto frames = customList ({ { 2.0, 4410, 7 }, { 0.125, 4800, ~0ull } });
    const juce::String golden = "40...........jNQ...G..................v+.rD..v++++++++++C";

    EXPECT_EQ (qvn::encodeCustomFrames (frames), golden);

    const auto decoded = qvn::decodeCustomFrames (golden);
    ASSERT_NE (decoded, nullptr);
    ASSERT_EQ (decoded->size(), 2u);
    EXPECT_EQ ((*decoded)[0].energy, 2.0);
    EXPECT_EQ ((*decoded)[0].numSamples, 4410);
    EXPECT_EQ ((*decoded)[0].generation, 7u);
    EXPECT_EQ ((*decoded)[1].energy, 0.125);
    EXPECT_EQ ((*decoded)[1].numSamples, 4800);
    EXPECT_EQ ((*decoded)[1].generation, ~0ull);
}

TEST (CustomFrameCodec, UnusableEnergiesAreWrittenAsZeroAndReadBack)
{
    for (double bad : { kNaN, kInf, -kInf, -1.0 })
    {
        const auto text = qvn::encodeCustomFrames (customList ({ { 1.0, 4800, 3 }, { bad, 4800, 3 } }));
        const auto decoded = qvn::decodeCustomFrames (text);
        ASSERT_NE (decoded, nullptr) << bad;
        ASSERT_EQ (decoded->size(), 2u);
        EXPECT_EQ ((*decoded)[1].energy, 0.0);
        EXPECT_EQ ((*decoded)[1].numSamples, 4800);
    }
}

// A frame that holds no samples used to be written with a count of 0 that the
// reader then refused, losing the whole series on reload.
TEST (CustomFrameCodec, FramesWithoutSamplesSurviveAReload)
{
    const auto frames = customList ({ { 3.0, 4800, 5 }, { 0.0, 0, 5 }, { 0.0, -7, 5 }, { 1.5, 4800, 0 } });
    const auto decoded = qvn::decodeCustomFrames (qvn::encodeCustomFrames (frames));

    ASSERT_NE (decoded, nullptr);
    ASSERT_EQ (decoded->size(), 4u);
    EXPECT_EQ ((*decoded)[1].numSamples, 0);
    EXPECT_EQ ((*decoded)[2].numSamples, 0);   // negative counts are written as 0
    EXPECT_EQ ((*decoded)[2].generation, 5u);
    EXPECT_EQ ((*decoded)[3].energy, 1.5);
    EXPECT_EQ ((*decoded)[3].generation, 0u);  // generation 0 is kept as stored
}

TEST (CustomFrameCodec, SeriesSavedByEarlierVersionsWithAZeroCountLoads)
{
    // {3.0, 4800, 5} then {0.0, 0, 5}: what every earlier save wrote for a
    // frame without samples.
    const juce::String saved = "40.........H.DvR...E.........................PA..........";
    const auto decoded = qvn::decodeCustomFrames (saved);

    ASSERT_NE (decoded, nullptr);
    ASSERT_EQ (decoded->size(), 2u);
    EXPECT_EQ ((*decoded)[0].energy, 3.0);
    EXPECT_EQ ((*decoded)[0].numSamples, 4800);
    EXPECT_EQ ((*decoded)[1].numSamples, 0);
    EXPECT_EQ ((*decoded)[1].generation, 5u);
}

TEST (CustomFrameCodec, ARecordNoEncoderWritesDropsTheWholeSeries)
{
    struct Case { const char* what; const char* text; };
    const Case cases[] = {
        { "numSamples -1",   "20.........H.z+++++E.........." },
        { "energy NaN",      "20.........3+mB....E.........." },
        { "energy -1.0",     "20.........v+qB....E.........." },
        { "energy infinite", "20.........v+mB....E.........." },
    };

    for (const auto& c : cases)
    {
        EXPECT_EQ (qvn::decodeCustomFrames (juce::String (c.text)), nullptr) << c.what;

        // ...also when it follows valid records
        const auto good = qvn::encodeCustomFrames (customList ({ { 1.0, 4800, 5 } }));
        std::vector<uint8_t> combined;
        juce::MemoryBlock a, b;
        ASSERT_TRUE (a.fromBase64Encoding (good));
        ASSERT_TRUE (b.fromBase64Encoding (c.text));
        a.append (b.getData(), b.getSize());
        EXPECT_EQ (qvn::decodeCustomFrames (a.toBase64Encoding()), nullptr) << c.what;
    }
}

//==============================================================================
// Every text shape a decoder must refuse, for each of the three binary codecs.
TEST (BinaryDecoders, UnusableTextGivesNoValue)
{
    const auto history = qvn::encodeHistory ({ 1.0, 2.0, 3.0 });                         // "24.<32 chars>"
    const auto frames  = qvn::encodeFrames (frameList ({ { 1.0, 10 } }));                 // "36.<48 chars>"
    const auto custom  = qvn::encodeCustomFrames (customList ({ { 1.0, 10, 1 } }));       // "20.<27 chars>"

    struct Codec { const char* name; juce::String valid; size_t recordSize; };
    const Codec codecs[] = { { "history", history, 8 }, { "frames", frames, 36 }, { "custom", custom, 20 } };

    for (const auto& codec : codecs)
    {
        const auto body = codec.valid.fromFirstOccurrenceOf (".", false, false);
        const auto count = (int) codec.recordSize;
        const auto charsFor = [] (int n) { return (n * 8 + 5) / 6; };

        const std::vector<std::pair<const char*, juce::String>> bad {
            { "empty",                         "" },
            { "no point",                      body },
            { "point only",                    "." },
            { "count without characters",      juce::String (count) + "." },
            { "count 0",                       "0." },
            { "count 0 with characters",       "0." + body },
            { "negative count",                "-" + codec.valid },
            { "plus sign",                     "+" + codec.valid },
            { "leading blank",                 " " + codec.valid },
            { "count with letters",            juce::String (count) + "x." + body },
            { "count not a multiple",          juce::String (count - 1) + "." + body.substring (0, charsFor (count - 1)) },
            { "count one above",               juce::String (count + 1) + "." + body + "." },
            { "count beyond the data",         juce::String (count * 2) + "." + body },
            { "huge count",                    "99999999999999999999999999." + body },
            { "count near 2^32",               "4294967296." + body },
            { "truncated characters",          codec.valid.dropLastCharacters (1) },
            { "extra character",               codec.valid + "A" },
            { "bad character =",               codec.valid.replaceSection (codec.valid.length() - 2, 1, "=") },
            { "bad character /",               codec.valid.replaceSection (codec.valid.length() - 2, 1, "/") },
            { "blank inside",                  codec.valid.replaceSection (codec.valid.length() - 2, 1, " ") },
            { "non-ASCII character",           codec.valid.replaceSection (codec.valid.length() - 2, 1, juce::String::fromUTF8 ("\xc3\xa9")) },
            { "second point in count",         "1.2." + body },
        };

        for (const auto& [what, text] : bad)
        {
            SCOPED_TRACE (juce::String (codec.name) + ": " + what + " [" + text + "]");

            if (codec.recordSize == 8)
                EXPECT_TRUE (qvn::decodeHistory (text).empty());
            else if (codec.recordSize == 36)
                EXPECT_EQ (qvn::decodeFrames (text), nullptr);
            else
                EXPECT_EQ (qvn::decodeCustomFrames (text), nullptr);
        }

        // Numbers and other non-text values are converted to text first.
        EXPECT_TRUE (qvn::decodeHistory (juce::var (24)).empty());
        EXPECT_EQ (qvn::decodeFrames (juce::var (36.0)), nullptr);
        EXPECT_EQ (qvn::decodeCustomFrames (juce::var (true)), nullptr);
    }
}

TEST (BinaryDecoders, AHistoryOfTwelveBytesIsEmptyAndSeventyFrameBytesAreNoSeries)
{
    juce::MemoryBlock twelve (12, true), seventy (70, true), forty (40, true);
    EXPECT_TRUE (qvn::decodeHistory (twelve.toBase64Encoding()).empty());
    EXPECT_EQ (qvn::decodeFrames (seventy.toBase64Encoding()), nullptr);
    EXPECT_EQ (qvn::decodeFrames (juce::String ("72.") + juce::String::repeatedString ("A", 95)), nullptr);
    EXPECT_EQ (qvn::decodeCustomFrames (juce::MemoryBlock (30, true).toBase64Encoding()), nullptr);
    EXPECT_NE (qvn::decodeCustomFrames (forty.toBase64Encoding()), nullptr);   // two all-zero records are valid
}

TEST (BinaryDecoders, UnusedBitsOfTheLastCharacterAreIgnored)
{
    // 8 bytes take 11 characters = 66 bits; the last character's top two bits
    // carry nothing.
    const auto valid = qvn::encodeHistory ({ 1.0 });
    ASSERT_EQ (valid, "8.........v+C");   // 'C' = 3: bits 60 and 61 (0x3F's high nibble)
    const auto decoded = qvn::decodeHistory (valid.dropLastCharacters (1) + "y"); // 'y' = 51 = 3 | 16 | 32
    ASSERT_EQ (decoded.size(), 1u);
    EXPECT_EQ (decoded[0], 1.0);
}

//==============================================================================
namespace
{
    CustomWeightedRmsSettings someSettings()
    {
        CustomWeightedRmsSettings s;
        s.slots[1] = { true, 1, 150.0, -3.5, 0.9, 12.0 };
        s.slots[2] = { true, 5, 750.25, 4.75, 0.7071067811865476, 12.0 };
        s.slots[3] = { false, 2, 2345.678, 6.0, 2.5, 12.0 };
        s.slots[5] = { true, 4, 15000.0, 0.0, 0.5, 36.4 };
        return s;
    }

    juce::ValueTree viaXmlText (const juce::ValueTree& node)
    {
        const auto text = node.toXmlString();
        auto xml = juce::parseXML (text);
        return xml != nullptr ? juce::ValueTree::fromXml (*xml) : juce::ValueTree();
    }
} // namespace

TEST (WeightingCodec, NodeLayout)
{
    auto input = someSettings();
    input.schemaVersion = 4;
    input.slots[0].type = 9;
    input.slots[0].frequencyHz = kNaN;
    input.slots[3].slopeDbPerOct = 12.34;

    const auto node = qvn::encodeCustomWeightedRmsSettings (input);

    EXPECT_EQ (node.getType().toString(), "customWeightedRms");
    EXPECT_FALSE (node.getParent().isValid());
    ASSERT_EQ (node.getNumProperties(), 1);
    EXPECT_EQ (node.getPropertyName (0).toString(), "schemaVersion");
    EXPECT_TRUE (node["schemaVersion"].isInt());
    EXPECT_EQ ((int) node["schemaVersion"], 1);
    ASSERT_EQ (node.getNumChildren(), 6);

    const char* names[] = { "index", "enabled", "type", "frequencyHz", "gainDb", "q", "slopeDbPerOct" };

    for (int i = 0; i < 6; ++i)
    {
        const auto slot = node.getChild (i);
        EXPECT_EQ (slot.getType().toString(), "slot");
        ASSERT_EQ (slot.getNumProperties(), 7);
        for (int p = 0; p < 7; ++p)
            EXPECT_EQ (slot.getPropertyName (p).toString(), names[p]) << i;

        EXPECT_EQ ((int) slot["index"], i);
        EXPECT_TRUE (slot["index"].isInt() && slot["enabled"].isInt() && slot["type"].isInt());
        EXPECT_TRUE (slot["frequencyHz"].isDouble() && slot["gainDb"].isDouble() && slot["q"].isDouble() && slot["slopeDbPerOct"].isDouble());
    }

    // normalized before writing
    EXPECT_EQ ((int) node.getChild (0)["type"], 5);
    EXPECT_EQ ((double) node.getChild (0)["frequencyHz"], 1000.0);
    EXPECT_DOUBLE_EQ ((double) node.getChild (3)["slopeDbPerOct"], 12.3);
    EXPECT_EQ ((int) node.getChild (3)["enabled"], 0);
    EXPECT_EQ ((int) node.getChild (5)["enabled"], 1);
}

TEST (WeightingCodec, RoundTripThroughXmlText)
{
    for (const auto& settings : { CustomWeightedRmsSettings {}, someSettings() })
    {
        auto expected = settings;
        expected.normalize();
        EXPECT_TRUE (qvn::decodeCustomWeightedRmsSettings (viaXmlText (qvn::encodeCustomWeightedRmsSettings (settings))) == expected);
        EXPECT_TRUE (qvn::decodeCustomWeightedRmsSettings (qvn::encodeCustomWeightedRmsSettings (settings)) == expected);
    }
}

TEST (WeightingCodec, UnusableNodesGiveTheDefault)
{
    const CustomWeightedRmsSettings defaults;
    auto valid = viaXmlText (qvn::encodeCustomWeightedRmsSettings (someSettings()));

    EXPECT_TRUE (qvn::decodeCustomWeightedRmsSettings (juce::ValueTree()) == defaults);

    juce::ValueTree otherType ("customWeighting");
    for (const auto& child : valid)
        otherType.appendChild (child.createCopy(), nullptr);
    EXPECT_TRUE (qvn::decodeCustomWeightedRmsSettings (otherType) == defaults);

    for (const char* version : { "2", "0", "-1", "x", "" })
    {
        auto node = valid.createCopy();
        node.setProperty ("schemaVersion", version, nullptr);
        EXPECT_TRUE (qvn::decodeCustomWeightedRmsSettings (node) == defaults) << version;
    }
}

TEST (WeightingCodec, MissingSchemaVersionReadsAsVersionOne)
{
    auto node = viaXmlText (qvn::encodeCustomWeightedRmsSettings (someSettings()));
    node.removeProperty ("schemaVersion", nullptr);
    auto expected = someSettings();
    expected.normalize();
    EXPECT_TRUE (qvn::decodeCustomWeightedRmsSettings (node) == expected);
}

TEST (WeightingCodec, SlotChildrenAreReadByIndexWithFieldFallbacks)
{
    const CustomWeightedRmsSettings defaults;

    juce::ValueTree node ("customWeightedRms");
    auto addSlot = [&node] (std::initializer_list<std::pair<const char*, juce::var>> props) {
        juce::ValueTree slot ("slot");
        for (const auto& [k, v] : props)
            slot.setProperty (k, v, nullptr);
        node.appendChild (slot, nullptr);
    };

    addSlot ({ { "index", 6 }, { "gainDb", 9.0 } });            // out of range
    addSlot ({ { "index", -1 }, { "gainDb", 9.0 } });
    addSlot ({ { "gainDb", 9.0 } });                            // no index
    addSlot ({ { "index", "abc" }, { "gainDb", 9.0 } });        // reads as 0 ...
    node.appendChild (juce::ValueTree ("band").setProperty ("index", 1, nullptr).setProperty ("gainDb", 5.0, nullptr), nullptr);
    addSlot ({ { "index", 3 }, { "enabled", 1 }, { "gainDb", 6.0 }, { "q", 2.0 } });
    addSlot ({ { "index", 3 }, { "gainDb", -4.0 } });           // later child overwrites only what it carries
    addSlot ({ { "index", 2 }, { "enabled", "true" } });         // text "true" reads as 0
    addSlot ({ { "index", 4 }, { "enabled", 2 } });
    addSlot ({ { "index", 5 }, { "enabled", 0 }, { "type", 17 }, { "frequencyHz", "1e99999999999" }, { "slopeDbPerOct", "nan" } });

    const auto s = qvn::decodeCustomWeightedRmsSettings (node);

    // ... so "abc" overwrote slot 0's gain only
    EXPECT_EQ (s.slots[0].gainDb, 9.0);
    EXPECT_EQ (s.slots[0].frequencyHz, defaults.slots[0].frequencyHz);
    EXPECT_EQ (s.slots[0].q, defaults.slots[0].q);

    EXPECT_TRUE (s.slots[1].enabled == defaults.slots[1].enabled && s.slots[1].gainDb == defaults.slots[1].gainDb);

    EXPECT_FALSE (s.slots[2].enabled);

    EXPECT_TRUE (s.slots[3].enabled);
    EXPECT_EQ (s.slots[3].gainDb, -4.0);
    EXPECT_EQ (s.slots[3].q, 2.0);
    EXPECT_EQ (s.slots[3].type, defaults.slots[3].type);
    EXPECT_EQ (s.slots[3].frequencyHz, defaults.slots[3].frequencyHz);

    EXPECT_TRUE (s.slots[4].enabled);
    EXPECT_EQ (s.slots[4].gainDb, defaults.slots[4].gainDb);

    EXPECT_FALSE (s.slots[5].enabled);
    EXPECT_EQ (s.slots[5].type, 5);                 // clamped
    EXPECT_EQ (s.slots[5].frequencyHz, 1000.0);     // infinite: replaced
    EXPECT_EQ (s.slots[5].slopeDbPerOct, 12.0);     // NaN: replaced
    EXPECT_EQ (s.schemaVersion, 1);
}

//==============================================================================
TEST (StoredNumbers, AgreeWithTheFrameworkOnOrdinaryText)
{
    for (const char* text : { "12", "12abc", "  7", "-3", "+5", "", "true", "2.9", "-2.9", "1e3", "0x10", "007",
                              "2147483647", "4294967297", "-4294967297", "99999999999999999999", "3.25", "-0.0",
                              "1e308", "1e309", "-1e-320", "nan", "-inf", ".5", "5.", "1.5e-7", "12345678901234567890123" })
    {
        const juce::var v (text);
        EXPECT_EQ (qvn::varToInt (v), (int) v) << text;
        const auto d = qvn::varToDouble (v), fw = (double) v;
        EXPECT_TRUE (bitsOf (d) == bitsOf (fw) || (std::isnan (d) && std::isnan (fw))) << text;
    }

    for (const juce::var v : { juce::var(), juce::var (42), juce::var ((juce::int64) 1 << 40), juce::var (true), juce::var (-7.75) })
    {
        EXPECT_EQ (qvn::varToInt (v), (int) v);
        EXPECT_EQ (qvn::varToInt64 (v), (juce::int64) v);
        EXPECT_EQ (qvn::varToDouble (v), (double) v);
    }
}

// Texts and values on which a plain conversion would overflow.
TEST (StoredNumbers, HostileTextIsDefined)
{
    EXPECT_EQ (qvn::varToInt (juce::var ("-2147483648")), std::numeric_limits<int>::min());
    EXPECT_EQ (qvn::varToInt64 (juce::var ("-9223372036854775808")), std::numeric_limits<juce::int64>::min());
    EXPECT_EQ (qvn::varToDouble (juce::var ("1e99999999999")), kInf);
    EXPECT_EQ (qvn::varToDouble (juce::var ("-1e+000000000000099999999999")), -kInf);
    EXPECT_EQ (qvn::varToDouble (juce::var ("1e-99999999999")), 0.0);
    EXPECT_EQ (qvn::varToDouble (juce::var ("2.5e00003")), 2500.0);
    EXPECT_EQ (qvn::varToInt (juce::var (1.0e300)), std::numeric_limits<int>::max());
    EXPECT_EQ (qvn::varToInt (juce::var (-1.0e300)), std::numeric_limits<int>::min());
    EXPECT_EQ (qvn::varToInt (juce::var (kNaN)), 0);
    EXPECT_EQ (qvn::varToInt64 (juce::var (1.0e300)), std::numeric_limits<juce::int64>::max());
}

//==============================================================================
namespace
{
    // A tree shaped like a saved state: nested nodes, escaped and non-ASCII
    // attribute text, binary values.
    juce::ValueTree stateLikeTree()
    {
        juce::ValueTree root ("params");
        root.appendChild (juce::ValueTree ("PARAM").setProperty ("id", "role", nullptr).setProperty ("value", 2.0, nullptr), nullptr);
        juce::ValueTree applied ("applied");
        applied.setProperty ("instanceName", juce::String::fromUTF8 ("Vox <lead> & \"dbl\" 'x' \xe3\x83\x9c\xe3\x83\xbc\xe3\x82\xab\xe3\x83\xab\n2"), nullptr);
        applied.appendChild (qvn::encodeCustomWeightedRmsSettings ({}), nullptr);
        juce::ValueTree slot ("abSlotA");
        for (int i = 0; i < 16; ++i)
            slot.appendChild (juce::ValueTree ("section").setProperty ("idx", i, nullptr)
                                  .setProperty ("selfHistory", qvn::encodeHistory ({ -20.0 - i, -21.0 }), nullptr), nullptr);
        applied.appendChild (slot, nullptr);
        root.appendChild (applied, nullptr);
        return root;
    }
} // namespace

TEST (StoredXml, ReadsWhatTheFrameworkWrites)
{
    const auto tree = stateLikeTree();

    for (const auto& text : { tree.toXmlString(), tree.createXml()->toString (juce::XmlElement::TextFormat().singleLine()) })
    {
        const auto xml = qvn::parseStoredXml (text);
        ASSERT_NE (xml, nullptr) << text;
        EXPECT_TRUE (juce::ValueTree::fromXml (*xml).isEquivalentTo (tree));
    }

    EXPECT_NE (qvn::parseStoredXml ("<a><!-- note --><b x='1'/><![CDATA[t]]></a>"), nullptr);
}

TEST (StoredXml, RefusesWhatTheParserCannotTakeSafely)
{
    juce::String deep;
    for (int i = 0; i < 65; ++i)
        deep << "<n>";
    for (int i = 0; i < 65; ++i)
        deep << "</n>";

    const std::pair<const char*, juce::String> cases[] = {
        // the framework's parser never returns from this one
        { "instruction then text in an element", "<?xml version=\"1.0\"?><a><?pi?>text</a>" },
        { "instruction inside a value",          "<a x=\"<?pi?>\">t</a>" },
        { "second declaration",                  "<?xml version=\"1.0\"?>\n<?xml version=\"1.0\"?><a/>" },
        { "entity declarations",                 "<!DOCTYPE a [<!ENTITY e \"&e;&e;\">]><a x=\"&e;\"/>" },
        { "doctype inside the document",         "<a><!DOCTYPE b></a>" },
        { "tag start inside a value",            "<a x=\"<b>\"/>" },
        { "tag end inside a value",              "<a x=\"/>\"><a x=\"/>\"></a></a>" },
        { "tag start inside a tag",              "<a <b>/>" },
        { "nesting deeper than 64",              deep },
        { "200000 levels (overflows the stack)", juce::String::repeatedString ("<a>", 200000) },
        { "not XML",                             "hello" },
        { "empty",                               "" },
    };

    for (const auto& [what, text] : cases)
        EXPECT_EQ (qvn::parseStoredXml (text), nullptr) << what;

    EXPECT_NE (qvn::parseStoredXml (deep.substring (3, deep.length() - 4)), nullptr);   // 64 levels
}
