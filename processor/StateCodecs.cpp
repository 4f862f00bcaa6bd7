#include "processor/StateCodecs.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

namespace qvn
{
namespace
{
    constexpr size_t kFrameRecordBytes = 36;
    constexpr size_t kCustomFrameRecordBytes = 20;

    //==========================================================================
    // Little-endian packing

    void putU32 (uint8_t* dst, uint32_t v) noexcept
    {
        for (int i = 0; i < 4; ++i)
            dst[i] = (uint8_t) (v >> (8 * i));
    }

    void putU64 (uint8_t* dst, uint64_t v) noexcept
    {
        for (int i = 0; i < 8; ++i)
            dst[i] = (uint8_t) (v >> (8 * i));
    }

    void putF64 (uint8_t* dst, double d) noexcept
    {
        uint64_t bits;
        std::memcpy (&bits, &d, sizeof (bits));
        putU64 (dst, bits);
    }

    uint32_t getU32 (const uint8_t* src) noexcept
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= (uint32_t) src[i] << (8 * i);
        return v;
    }

    uint64_t getU64 (const uint8_t* src) noexcept
    {
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i)
            v |= (uint64_t) src[i] << (8 * i);
        return v;
    }

    double getF64 (const uint8_t* src) noexcept
    {
        const auto bits = getU64 (src);
        double d;
        std::memcpy (&d, &bits, sizeof (d));
        return d;
    }

    int32_t getI32 (const uint8_t* src) noexcept
    {
        return (int32_t) getU32 (src);   // two's complement, well defined
    }

    //==========================================================================
    // Base-64 text in the framework's form: "<n>.<ceil(8n/6) characters>",
    // each character carrying the next 6 bits, least significant bit first.

    constexpr char kAlphabet[] = ".ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+";

    constexpr std::array<int8_t, 256> makeDecodeTable()
    {
        std::array<int8_t, 256> table {};
        for (auto& t : table)
            t = -1;
        for (int i = 0; i < 64; ++i)
            table[(uint8_t) kAlphabet[i]] = (int8_t) i;
        return table;
    }

    constexpr auto kDecodeTable = makeDecodeTable();

    juce::String toText (const std::vector<uint8_t>& bytes)
    {
        return juce::MemoryBlock (bytes.data(), bytes.size()).toBase64Encoding();
    }

    // Decodes a block whose byte count is a positive multiple of recordSize.
    // Returns false (and leaves out empty) for anything else, before
    // allocating: the count must be carried by the characters that follow it.
    bool decodeBlock (const juce::var& value, size_t recordSize, std::vector<uint8_t>& out)
    {
        out.clear();

        const auto text = value.toString();
        const auto* chars = text.toRawUTF8();
        const auto length = text.getNumBytesAsUTF8();

        size_t pos = 0;
        uint64_t count = 0;

        while (pos < length && chars[pos] >= '0' && chars[pos] <= '9')
        {
            count = count * 10 + (uint64_t) (chars[pos] - '0');
            ++pos;

            if (count > length)   // more bytes than the whole text could carry
                return false;
        }

        if (pos == 0 || pos >= length || chars[pos] != '.')
            return false;

        ++pos;

        if (count == 0 || count % recordSize != 0)
            return false;

        const size_t numChars = length - pos;

        if (numChars != (size_t) ((count * 8 + 5) / 6))
            return false;

        out.resize ((size_t) count);

        uint32_t bits = 0;
        int numBits = 0;
        size_t written = 0;

        for (size_t i = pos; i < length; ++i)
        {
            const auto v = kDecodeTable[(uint8_t) chars[i]];

            if (v < 0)
            {
                out.clear();
                return false;
            }

            bits |= (uint32_t) v << numBits;
            numBits += 6;

            if (numBits >= 8)
            {
                if (written < out.size())
                    out[written++] = (uint8_t) bits;

                bits >>= 8;
                numBits -= 8;
            }
        }

        // The last character may carry unused high bits; they are ignored.
        jassert (written == out.size());
        return true;
    }

    //==========================================================================
    // Number parsing with the framework's results but no overflow.

    const char* skipWhitespace (const char* s) noexcept
    {
        while (*s != 0 && juce::CharacterFunctions::isWhitespace ((juce::juce_wchar) (uint8_t) *s))
            ++s;
        return s;
    }

    template <typename IntType>
    IntType saturatingCast (double d) noexcept
    {
        if (std::isnan (d))
            return 0;

        constexpr auto lo = (double) std::numeric_limits<IntType>::min();
        constexpr auto hi = (double) std::numeric_limits<IntType>::max();

        if (d <= lo)
            return std::numeric_limits<IntType>::min();

        if (d >= hi)
            return std::numeric_limits<IntType>::max();

        return (IntType) d;
    }

    // The framework accumulates a decimal exponent in an int; hand it at most
    // five significant exponent digits, which saturates to the same result.
    juce::String withBoundedExponent (const juce::String& text)
    {
        const auto* start = text.toRawUTF8();
        auto* s = skipWhitespace (start);

        if (*s == '-' || *s == '+')
            ++s;

        while ((*s >= '0' && *s <= '9') || *s == '.')
            ++s;

        if (*s != 'e' && *s != 'E')
            return text;

        ++s;

        if (*s == '-' || *s == '+')
            ++s;

        while (*s == '0')
            ++s;

        auto* digits = s;

        while (*s >= '0' && *s <= '9')
            ++s;

        if (s - digits <= 5)
            return text;

        return juce::String::fromUTF8 (start, (int) (digits - start)) + "99999" + juce::String::fromUTF8 (s);
    }

    //==========================================================================
    // Properties of the weighting node

    const juce::Identifier& idCustomWeightedRms() { static const juce::Identifier id ("customWeightedRms"); return id; }
    const juce::Identifier& idSchemaVersion()     { static const juce::Identifier id ("schemaVersion");     return id; }
    const juce::Identifier& idSlot()              { static const juce::Identifier id ("slot");              return id; }
    const juce::Identifier& idIndex()             { static const juce::Identifier id ("index");             return id; }
    const juce::Identifier& idEnabled()           { static const juce::Identifier id ("enabled");           return id; }
    const juce::Identifier& idType()              { static const juce::Identifier id ("type");              return id; }
    const juce::Identifier& idFrequencyHz()       { static const juce::Identifier id ("frequencyHz");       return id; }
    const juce::Identifier& idGainDb()            { static const juce::Identifier id ("gainDb");            return id; }
    const juce::Identifier& idQ()                 { static const juce::Identifier id ("q");                 return id; }
    const juce::Identifier& idSlopeDbPerOct()     { static const juce::Identifier id ("slopeDbPerOct");     return id; }

    int readInt (const juce::ValueTree& node, const juce::Identifier& id, int fallback)
    {
        if (auto* v = node.getPropertyPointer (id))
            return varToInt (*v);
        return fallback;
    }

    double readDouble (const juce::ValueTree& node, const juce::Identifier& id, double fallback)
    {
        if (auto* v = node.getPropertyPointer (id))
            return varToDouble (*v);
        return fallback;
    }
} // namespace

//==============================================================================

//==============================================================================
int varToInt (const juce::var& value) noexcept
{
    if (value.isDouble())
        return saturatingCast<int> ((double) value);

    return (int) value;
}

juce::int64 varToInt64 (const juce::var& value) noexcept
{
    if (value.isDouble())
        return saturatingCast<juce::int64> ((double) value);

    return (juce::int64) value;
}

double varToDouble (const juce::var& value)
{
    if (value.isString())
        return withBoundedExponent (value.toString()).getDoubleValue();

    return (double) value;
}

//==============================================================================
juce::String encodeHistory (const std::vector<double>& values)
{
    if (values.empty())
        return {};

    std::vector<uint8_t> bytes (values.size() * 8);

    for (size_t i = 0; i < values.size(); ++i)
        putF64 (bytes.data() + 8 * i, values[i]);

    return toText (bytes);
}

std::vector<double> decodeHistory (const juce::var& value)
{
    std::vector<uint8_t> bytes;

    if (! decodeBlock (value, 8, bytes))
        return {};

    std::vector<double> values (bytes.size() / 8);

    for (size_t i = 0; i < values.size(); ++i)
        values[i] = getF64 (bytes.data() + 8 * i);

    return values;
}

//==============================================================================
juce::String encodeFrames (const AnalysisFrameList& frames)
{
    if (frames == nullptr || frames->empty())
        return {};

    std::vector<uint8_t> bytes (frames->size() * kFrameRecordBytes, 0);   // reserved bytes stay 0

    for (size_t i = 0; i < frames->size(); ++i)
    {
        auto* rec = bytes.data() + kFrameRecordBytes * i;
        const auto& f = (*frames)[i];
        putF64 (rec, f.energy);
        putU32 (rec + 32, (uint32_t) f.numSamples);
    }

    return toText (bytes);
}

AnalysisFrameList decodeFrames (const juce::var& value)
{
    std::vector<uint8_t> bytes;

    if (! decodeBlock (value, kFrameRecordBytes, bytes))
        return {};

    std::vector<AnalysisFrame> frames (bytes.size() / kFrameRecordBytes);

    for (size_t i = 0; i < frames.size(); ++i)
    {
        const auto* rec = bytes.data() + kFrameRecordBytes * i;
        frames[i].energy = getF64 (rec);
        frames[i].numSamples = getI32 (rec + 32);
    }

    return std::make_shared<const std::vector<AnalysisFrame>> (std::move (frames));
}

//==============================================================================
juce::String encodeCustomFrames (const CustomRmsFrameList& frames)
{
    if (frames == nullptr || frames->empty())
        return {};

    std::vector<uint8_t> bytes (frames->size() * kCustomFrameRecordBytes);

    for (size_t i = 0; i < frames->size(); ++i)
    {
        auto* rec = bytes.data() + kCustomFrameRecordBytes * i;
        const auto& f = (*frames)[i];
        const bool usableEnergy = std::isfinite (f.energy) && ! (f.energy < 0.0);
        putF64 (rec, usableEnergy ? f.energy : 0.0);
        putU32 (rec + 8, f.numSamples > 0 ? (uint32_t) f.numSamples : 0u);
        putU64 (rec + 12, (uint64_t) f.generation);
    }

    return toText (bytes);
}

CustomRmsFrameList decodeCustomFrames (const juce::var& value)
{
    std::vector<uint8_t> bytes;

    if (! decodeBlock (value, kCustomFrameRecordBytes, bytes))
        return {};

    std::vector<CustomRmsFrame> frames (bytes.size() / kCustomFrameRecordBytes);

    for (size_t i = 0; i < frames.size(); ++i)
    {
        const auto* rec = bytes.data() + kCustomFrameRecordBytes * i;
        const auto energy = getF64 (rec);
        const auto numSamples = getI32 (rec + 8);

        // The encoder writes 0 for a frame without samples, so 0 must read
        // back; only values the encoder can never write reject the series.
        if (! std::isfinite (energy) || energy < 0.0 || numSamples < 0)
            return {};

        frames[i].energy = energy;
        frames[i].numSamples = numSamples;
        frames[i].generation = getU64 (rec + 12);
    }

    return std::make_shared<const std::vector<CustomRmsFrame>> (std::move (frames));
}

//==============================================================================
juce::ValueTree encodeCustomWeightedRmsSettings (CustomWeightedRmsSettings settings)
{
    settings.normalize();

    juce::ValueTree node (idCustomWeightedRms());
    node.setProperty (idSchemaVersion(), (int) settings.schemaVersion, nullptr);

    for (int i = 0; i < (int) settings.slots.size(); ++i)
    {
        const auto& s = settings.slots[(size_t) i];
        juce::ValueTree slot (idSlot());
        slot.setProperty (idIndex(), i, nullptr);
        slot.setProperty (idEnabled(), s.enabled ? 1 : 0, nullptr);
        slot.setProperty (idType(), (int) s.type, nullptr);
        slot.setProperty (idFrequencyHz(), s.frequencyHz, nullptr);
        slot.setProperty (idGainDb(), s.gainDb, nullptr);
        slot.setProperty (idQ(), s.q, nullptr);
        slot.setProperty (idSlopeDbPerOct(), s.slopeDbPerOct, nullptr);
        node.appendChild (slot, nullptr);
    }

    return node;
}

CustomWeightedRmsSettings decodeCustomWeightedRmsSettings (const juce::ValueTree& node)
{
    CustomWeightedRmsSettings settings;

    if (! node.isValid() || ! node.hasType (idCustomWeightedRms()))
        return settings;

    if (readInt (node, idSchemaVersion(), 1) != 1)
        return settings;

    for (const auto& child : node)
    {
        if (! child.hasType (idSlot()))
            continue;

        const int index = readInt (child, idIndex(), -1);

        if (index < 0 || index >= (int) settings.slots.size())
            continue;

        auto& s = settings.slots[(size_t) index];
        s.enabled = readInt (child, idEnabled(), s.enabled ? 1 : 0) != 0;
        s.type = (decltype (s.type)) readInt (child, idType(), (int) s.type);
        s.frequencyHz = readDouble (child, idFrequencyHz(), s.frequencyHz);
        s.gainDb = readDouble (child, idGainDb(), s.gainDb);
        s.q = readDouble (child, idQ(), s.q);
        s.slopeDbPerOct = readDouble (child, idSlopeDbPerOct(), s.slopeDbPerOct);
    }

    settings.normalize();
    return settings;
}
} // namespace qvn
