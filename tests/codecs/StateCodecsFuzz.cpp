// Seeded mutation fuzzing of the value codecs. Valid encodings are damaged
// (bit flips, truncation, extension, insertion, length-field corruption,
// character replacement, ...) and fed to every decoder, checking that:
// - nothing crashes, hangs or shows undefined behaviour (sanitizer build),
// - a decoder allocates no more than a small multiple of its input,
// - a decoder accepts exactly the well-formed texts, and what it accepts
//   agrees byte for byte with the framework's own base-64 reader,
// - unusable input gives no value (empty history, no series, the default
//   weighting) and a decoded weighting is always normalized.

#include "processor/StateCodecs.h"

#include "AllocationProbe.h"
#include "MutationFuzzer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using namespace qvn::fuzz;

namespace
{
    constexpr char kAlphabet[] = ".ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+";

    // Budgets: about 25 s for the whole program.
    FuzzBudget budget (double seconds) { return { 5000000, seconds, 10.0 }; }

    // Values reach the decoders as XML attribute text, which is always valid
    // UTF-8 without NUL: cut at a NUL and read stray bytes as Latin-1.
    juce::String toJuceString (const std::string& bytes)
    {
        const auto s = bytes.substr (0, bytes.find ('\0'));

        if (juce::CharPointer_UTF8::isValidString (s.data(), (int) s.size()))
            return juce::String::fromUTF8 (s.data(), (int) s.size());

        std::string utf8;
        for (unsigned char c : s)
        {
            if (c < 0x80)
            {
                utf8 += (char) c;
            }
            else
            {
                utf8 += (char) (0xc0 | (c >> 6));
                utf8 += (char) (0x80 | (c & 0x3f));
            }
        }

        return juce::String::fromUTF8 (utf8.data(), (int) utf8.size());
    }

    // Mostly text; now and then another kind of var, as an in-memory tree
    // might hold.
    juce::var makeVar (const juce::String& text, Rng& rng)
    {
        switch (rng.below (40))
        {
            case 0:  return juce::var ((int) rng.next());
            case 1:  return juce::var ((double) (int64_t) rng.next() * 1.0e-3);
            case 2:  return juce::var (rng.chance (50));
            case 3:  return juce::var();
            case 4:  return juce::var (juce::MemoryBlock (text.toRawUTF8(), text.getNumBytesAsUTF8()));
            default: return juce::var (text);
        }
    }

    // An independent statement of a well-formed text: "<decimal count>.<exactly
    // ceil(8n/6) alphabet characters>", count a positive multiple of the
    // record size. Returns the count, or 0 when not well-formed.
    size_t wellFormedCount (const juce::String& text, size_t recordSize)
    {
        const std::string s = text.toStdString();
        const auto point = s.find ('.');

        if (point == std::string::npos || point == 0)
            return 0;

        for (size_t i = 0; i < point; ++i)
            if (s[i] < '0' || s[i] > '9')
                return 0;

        const auto digits = s.substr (0, point);
        const auto significant = digits.find_first_not_of ('0');

        if (significant == std::string::npos || point - significant > 9)
            return 0;

        const auto count = (size_t) std::stoull (digits);
        const auto body = s.substr (point + 1);

        if (count == 0 || count % recordSize != 0 || body.size() != (count * 8 + 5) / 6)
            return 0;

        if (body.find_first_not_of (kAlphabet) != std::string::npos)
            return 0;

        return count;
    }

    // The framework's reader on text already known to be bounded.
    std::vector<uint8_t> frameworkBytes (const juce::String& text)
    {
        juce::MemoryBlock block;
        EXPECT_TRUE (block.fromBase64Encoding (text));
        const auto* p = static_cast<const uint8_t*> (block.getData());
        return { p, p + block.getSize() };
    }

    uint64_t le (const uint8_t* p, int n)
    {
        uint64_t v = 0;
        for (int i = 0; i < n; ++i)
            v |= (uint64_t) p[i] << (8 * i);
        return v;
    }

    uint64_t bitsOf (double d)
    {
        uint64_t b;
        std::memcpy (&b, &d, sizeof (b));
        return b;
    }

    double doubleAt (const uint8_t* p)
    {
        const auto b = le (p, 8);
        double d;
        std::memcpy (&d, &b, sizeof (d));
        return d;
    }

    // What a decoder may allocate for a text of this size: its output and one
    // copy of the decoded bytes, both below the text's own size.
    size_t allocationBound (const juce::var& v)
    {
        return 2 * (size_t) v.toString().getNumBytesAsUTF8() + 1024;
    }

    MutationFuzzer::Options textOptions()
    {
        MutationFuzzer::Options o;
        o.alphabet = kAlphabet;
        o.dictionary = { ".", "..", "0.", "8.", "36.", "20.", "-", "+", "=", "==", "/", " ", "\t", "\n",
                         "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x8e\xb5", "A", "+++++++++++", "...........",
                         "99999999999999999999.", "2147483648.", "4294967296.", "-1." };
        o.maxLength = 1u << 18;
        return o;
    }

    // Runs a decoder and reports the largest single allocation it made.
    template <typename Decode>
    auto decodeMeasured (Decode&& decode, size_t& largest)
    {
        AllocationScope scope;
        auto decoded = decode();
        largest = scope.largestRequest();
        return decoded;
    }

    // Inputs that a decoder accepted, to see that the mutations still reach
    // the paths behind the format checks.
    uint64_t accepted = 0;

    template <typename Check>
    void expectFailureFree (const char* name, uint64_t seed, double seconds, Check&& check)
    {
        accepted = 0;
        const auto stats = runFuzzLoop (name, seed, budget (seconds),
                                        [&] (uint64_t, Rng& rng) { check (rng); },
                                        [] { return ::testing::Test::HasFailure(); });
        std::printf ("%s: %llu inputs accepted\n", name, (unsigned long long) accepted);
        ::testing::Test::RecordProperty ("iterations", (int) stats.iterations);
        EXPECT_GT (stats.iterations, 0u);
        EXPECT_GT (accepted, 0u);
    }
} // namespace

//==============================================================================
TEST (CodecFuzz, History)
{
    std::vector<std::string> seeds;
    seeds.push_back (qvn::encodeHistory ({ 1.0 }).toStdString());
    seeds.push_back (qvn::encodeHistory ({ -23.5, 0.0, std::numeric_limits<double>::quiet_NaN() }).toStdString());
    {
        std::vector<double> v;
        for (int i = 0; i < 200; ++i)
            v.push_back (std::pow (10.0, -i * 0.05));
        seeds.push_back (qvn::encodeHistory (v).toStdString());
    }

    const MutationFuzzer fuzzer (textOptions());

    expectFailureFree ("history", 0x51ce0001, 5.0, [&] (Rng& rng) {
        const auto v = makeVar (toJuceString (fuzzer.mutate (rng.pick (seeds), rng)), rng);

        size_t largest = 0;
        const std::vector<double> decoded = decodeMeasured ([&] { return qvn::decodeHistory (v); }, largest);

        const auto text = v.toString();
        ASSERT_LE (largest, allocationBound (v)) << text;

        const auto count = wellFormedCount (text, 8);
        ASSERT_EQ (decoded.size(), count / 8) << text;

        if (count == 0)
            return;

        ++accepted;
        const auto ref = frameworkBytes (text);
        ASSERT_EQ (ref.size(), count);

        for (size_t i = 0; i < decoded.size(); ++i)
            ASSERT_EQ (bitsOf (decoded[i]), le (ref.data() + 8 * i, 8)) << text;

        const auto again = qvn::decodeHistory (qvn::encodeHistory (decoded));
        ASSERT_EQ (again.size(), decoded.size());
        ASSERT_EQ (std::memcmp (again.data(), decoded.data(), decoded.size() * 8), 0);
    });
}

TEST (CodecFuzz, Frames)
{
    std::vector<std::string> seeds;
    for (int n : { 1, 2, 9 })
    {
        std::vector<AnalysisFrame> f;
        for (int i = 0; i < n; ++i)
            f.push_back ({ 0.25 * i + 1.0e-4, 4800 - i });
        seeds.push_back (qvn::encodeFrames (std::make_shared<const std::vector<AnalysisFrame>> (f)).toStdString());
    }

    const MutationFuzzer fuzzer (textOptions());

    expectFailureFree ("frames", 0x51ce0002, 5.0, [&] (Rng& rng) {
        const auto v = makeVar (toJuceString (fuzzer.mutate (rng.pick (seeds), rng)), rng);

        size_t largest = 0;
        const qvn::AnalysisFrameList decoded = decodeMeasured ([&] { return qvn::decodeFrames (v); }, largest);

        const auto text = v.toString();
        ASSERT_LE (largest, allocationBound (v)) << text;

        const auto count = wellFormedCount (text, 36);
        ASSERT_EQ (decoded != nullptr, count != 0) << text;

        if (decoded == nullptr)
            return;

        ++accepted;
        const auto ref = frameworkBytes (text);
        ASSERT_EQ (decoded->size(), ref.size() / 36);

        for (size_t i = 0; i < decoded->size(); ++i)
        {
            const auto* rec = ref.data() + 36 * i;
            ASSERT_EQ (bitsOf ((*decoded)[i].energy), le (rec, 8)) << text;
            ASSERT_EQ ((uint32_t) (*decoded)[i].numSamples, (uint32_t) le (rec + 32, 4)) << text;
        }

        const auto again = qvn::decodeFrames (qvn::encodeFrames (decoded));
        ASSERT_NE (again, nullptr);
        ASSERT_EQ (again->size(), decoded->size());
    });
}

TEST (CodecFuzz, CustomFrames)
{
    std::vector<std::string> seeds;
    for (int n : { 1, 3, 12 })
    {
        std::vector<CustomRmsFrame> f;
        for (int i = 0; i < n; ++i)
            f.push_back ({ 0.5 * i, i % 4 == 1 ? 0 : 4410, (uint64_t) (i / 2 + 1) });
        seeds.push_back (qvn::encodeCustomFrames (std::make_shared<const std::vector<CustomRmsFrame>> (f)).toStdString());
    }

    const MutationFuzzer fuzzer (textOptions());

    expectFailureFree ("custom frames", 0x51ce0003, 5.0, [&] (Rng& rng) {
        const auto v = makeVar (toJuceString (fuzzer.mutate (rng.pick (seeds), rng)), rng);

        size_t largest = 0;
        const qvn::CustomRmsFrameList decoded = decodeMeasured ([&] { return qvn::decodeCustomFrames (v); }, largest);

        const auto text = v.toString();
        ASSERT_LE (largest, allocationBound (v)) << text;

        bool expectAccepted = wellFormedCount (text, 20) != 0;
        std::vector<uint8_t> ref;

        if (expectAccepted)
        {
            ref = frameworkBytes (text);

            for (size_t i = 0; i < ref.size() / 20 && expectAccepted; ++i)
            {
                const auto energy = doubleAt (ref.data() + 20 * i);
                const auto numSamples = (int32_t) (uint32_t) le (ref.data() + 20 * i + 8, 4);
                expectAccepted = std::isfinite (energy) && energy >= 0.0 && numSamples >= 0;
            }
        }

        ASSERT_EQ (decoded != nullptr, expectAccepted) << text;

        if (decoded == nullptr)
            return;

        ++accepted;
        ASSERT_EQ (decoded->size(), ref.size() / 20);

        for (size_t i = 0; i < decoded->size(); ++i)
        {
            const auto* rec = ref.data() + 20 * i;
            ASSERT_EQ (bitsOf ((*decoded)[i].energy), le (rec, 8)) << text;
            ASSERT_EQ ((uint32_t) (*decoded)[i].numSamples, (uint32_t) le (rec + 8, 4)) << text;
            ASSERT_EQ ((*decoded)[i].generation, le (rec + 12, 8)) << text;
        }

        // whatever loads must load again after saving
        const auto again = qvn::decodeCustomFrames (qvn::encodeCustomFrames (decoded));
        ASSERT_NE (again, nullptr);
        ASSERT_EQ (again->size(), decoded->size());
    });
}

//==============================================================================
namespace
{
    bool isNormalized (const CustomWeightedRmsSettings& s)
    {
        auto copy = s;
        copy.normalize();
        return copy == s;
    }

    bool expectDefault (const juce::ValueTree& node)
    {
        if (! node.isValid() || ! node.hasType ("customWeightedRms"))
            return true;

        auto* version = node.getPropertyPointer ("schemaVersion");
        return version != nullptr && qvn::varToInt (*version) != 1;
    }

    void checkWeightingDecode (const juce::ValueTree& node)
    {
        size_t largest = 0;
        const CustomWeightedRmsSettings decoded = decodeMeasured ([&] { return qvn::decodeCustomWeightedRmsSettings (node); }, largest);

        ASSERT_LE (largest, (size_t) 65536);
        ASSERT_TRUE (isNormalized (decoded)) << node.toXmlString();

        if (expectDefault (node))
            ASSERT_TRUE (decoded == CustomWeightedRmsSettings {}) << node.toXmlString();
        else
            ++accepted;

        // a decoded weighting is stored again unchanged
        ASSERT_TRUE (qvn::decodeCustomWeightedRmsSettings (qvn::encodeCustomWeightedRmsSettings (decoded)) == decoded);
    }

    CustomWeightedRmsSettings fuzzSeedSettings()
    {
        CustomWeightedRmsSettings s;
        s.slots[1] = { true, 1, 150.0, -3.5, 0.9, 12.0 };
        s.slots[2] = { true, 5, 750.25, 4.75, 0.7071067811865476, 12.0 };
        s.slots[5] = { true, 4, 15000.0, 0.0, 0.5, 36.4 };
        return s;
    }
} // namespace

TEST (CodecFuzz, WeightingNodeFromXmlText)
{
    std::vector<std::string> seeds;
    seeds.push_back (qvn::encodeCustomWeightedRmsSettings ({}).toXmlString().toStdString());
    seeds.push_back (qvn::encodeCustomWeightedRmsSettings (fuzzSeedSettings()).toXmlString().toStdString());
    {
        auto node = qvn::encodeCustomWeightedRmsSettings (fuzzSeedSettings());
        node.removeProperty ("schemaVersion", nullptr);
        node.appendChild (node.getChild (2).createCopy().setProperty ("gainDb", "-1e99999999999", nullptr), nullptr);
        seeds.push_back (node.toXmlString().toStdString());
    }

    auto options = textOptions();
    options.alphabet = "<>/=\" slotindexenabledtypefrequencyHzgainDbqslopeDbPerOctschemaVersioncustomWeightedRms0123456789.-+e";
    options.dictionary.insert (options.dictionary.end(), {
        "<slot index=\"3\" gainDb=\"6\"/>", "<slot/>", "</slot>", "</customWeightedRms>", "<customWeightedRms>",
        " schemaVersion=\"1\"", " schemaVersion=\"2\"", " index=\"-2147483648\"", " index=\"4294967299\"",
        " enabled=\"true\"", " type=\"99999999999999999999\"", " frequencyHz=\"1e99999999999\"",
        " gainDb=\"nan\"", " q=\"-inf\"", " slopeDbPerOct=\"1e-99999999999\"", "&amp;", "&#0;", "&#x10FFFF;",
        "&lt;", "&unknown;", "<!--", "-->", "<![CDATA[", "]]>", "<?xml version=\"1.0\"?>", "<!DOCTYPE x>" });

    const MutationFuzzer fuzzer (options);

    expectFailureFree ("weighting xml", 0x51ce0004, 6.0, [&] (Rng& rng) {
        const auto input = fuzzer.mutate (rng.pick (seeds), rng);
        if (isReplay())
            dumpInput (input);

        const auto text = toJuceString (input);
        const auto xml = qvn::parseStoredXml (text);
        checkWeightingDecode (xml != nullptr ? juce::ValueTree::fromXml (*xml) : juce::ValueTree());
    });
}

TEST (CodecFuzz, WeightingNodeFromHostileValues)
{
    const std::vector<juce::var> values {
        juce::var(), juce::var (0), juce::var (1), juce::var (2), juce::var (-1), juce::var (3), juce::var (5), juce::var (6),
        juce::var (std::numeric_limits<int>::min()), juce::var (std::numeric_limits<int>::max()),
        juce::var (std::numeric_limits<juce::int64>::min()), juce::var ((juce::int64) 1 << 33),
        juce::var (std::numeric_limits<double>::quiet_NaN()), juce::var (std::numeric_limits<double>::infinity()),
        juce::var (-std::numeric_limits<double>::infinity()), juce::var (1.0e300), juce::var (-1.0e300),
        juce::var (4.9e-324), juce::var (-0.0), juce::var (0.05), juce::var (20.0), juce::var (20000.0), juce::var (2.5),
        juce::var (true), juce::var (false), juce::var (""), juce::var ("true"), juce::var ("nan"), juce::var ("-inf"),
        juce::var ("-2147483648"), juce::var ("-9223372036854775808"), juce::var ("4294967296"),
        juce::var ("1e99999999999"), juce::var ("-1e-99999999999"), juce::var ("  3"), juce::var ("12.34abc"),
        juce::var ("99999999999999999999999999999999999999"), juce::var (juce::Array<juce::var> { 1, 2 }),
        juce::var (juce::MemoryBlock ("\x01\x02", 2))
    };

    const std::vector<juce::Identifier> slotProps { "index", "enabled", "type", "frequencyHz", "gainDb", "q", "slopeDbPerOct", "junk" };

    expectFailureFree ("weighting values", 0x51ce0005, 4.0, [&] (Rng& rng) {
        juce::ValueTree node (rng.chance (92) ? "customWeightedRms" : "customWeighting");

        if (rng.chance (60))
            node.setProperty ("schemaVersion", rng.chance (50) ? juce::var (1) : rng.pick (values), nullptr);

        const auto numChildren = rng.below (14);

        for (uint64_t c = 0; c < numChildren; ++c)
        {
            juce::ValueTree child (rng.chance (88) ? "slot" : "band");

            if (rng.chance (80))
                child.setProperty ("index", rng.chance (70) ? juce::var ((int) rng.below (8) - 1) : rng.pick (values), nullptr);

            for (const auto& id : slotProps)
                if (id != juce::Identifier ("index") && rng.chance (45))
                    child.setProperty (id, rng.pick (values), nullptr);

            node.appendChild (child, nullptr);
        }

        checkWeightingDecode (node);
    });
}
