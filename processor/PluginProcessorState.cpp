// The plug-in state the host stores in its project: the parameter tree with
// one extra "applied" child holding everything else, as UTF-8 XML in the
// framework's binary framing.
//
// Reading treats the blob as hostile: the framing is checked by hand, the text
// goes through the guarded XML reader, numbers are read with saturating
// conversions, and a value that is not a number at all falls back to the
// property's default instead of reaching the audio path.

#include "processor/PluginProcessor.h"

#include "processor/LinkRegistry.h"
#include "processor/StateCodecs.h"

#include <cmath>
#include <cstring>

namespace
{
constexpr std::uint32_t stateMagic = 0x21324356;

using SectionState = QuorvaneProcessor::SectionState;
using UndoSnapshot = QuorvaneProcessor::UndoSnapshot;

//==============================================================================
// Reading single properties

bool readFlag (const juce::ValueTree& node, const juce::Identifier& key, bool fallback)
{
    if (const auto* v = node.getPropertyPointer (key))
        return qvn::varToInt64 (*v) != 0;

    return fallback;
}

int readInt (const juce::ValueTree& node, const juce::Identifier& key, int fallback)
{
    if (const auto* v = node.getPropertyPointer (key))
        return qvn::varToInt (*v);

    return fallback;
}

/** A float property; a missing value or one that is not finite gives the fallback. */
float readFloat (const juce::ValueTree& node, const juce::Identifier& key, float fallback)
{
    if (const auto* v = node.getPropertyPointer (key))
    {
        const auto d = qvn::varToDouble (*v);

        if (std::isfinite (d))
            return (float) juce::jlimit (-1.0e30, 1.0e30, d);
    }

    return fallback;
}

float readClamped (const juce::ValueTree& node, const juce::Identifier& key, float fallback, float lo, float hi)
{
    return juce::jlimit (lo, hi, readFloat (node, key, fallback));
}

// Measured levels and gains feed the audio gain directly. A meter never
// reports a level above a few dB over full scale, and the Match Gain is
// limited to +-24 dB when it is computed, so a stored value far outside
// those ranges can only come from a damaged or hostile state: it is limited
// on reading, or it would drive the output to huge or infinite values.
constexpr float kMaxStoredLevel = 40.0f;
constexpr float kMaxStoredGain = 200.0f;

float readLevel (const juce::ValueTree& node, const juce::Identifier& key)
{
    return readClamped (node, key, -120.0f, -120.0f, kMaxStoredLevel);
}

void setFloat (juce::ValueTree& node, const juce::Identifier& key, float value)
{
    node.setProperty (key, (double) value, nullptr);
}

void setFlag (juce::ValueTree& node, const juce::Identifier& key, bool value)
{
    node.setProperty (key, value ? 1 : 0, nullptr);
}

//==============================================================================
// Section nodes

void writeSectionAnalysisState (juce::ValueTree& node, const SectionState& s)
{
    setFloat (node, "analysisSeconds", s.analysisSeconds.load());
    setFloat (node, "trimStart", s.trimStart.load());
    setFloat (node, "trimEnd", s.trimEnd.load());

    const auto setText = [&node] (const char* key, const juce::String& text)
    {
        if (text.isNotEmpty())
            node.setProperty (key, text, nullptr);
    };

    setText ("selfHistory", qvn::encodeHistory (s.selfHistory));
    setText ("partnerHistory", qvn::encodeHistory (s.partnerHistory));
    setText ("selfFrames", qvn::encodeFrames (s.selfFrames));
    setText ("partnerFrames", qvn::encodeFrames (s.partnerFrames));
    setText ("customSelfFrames", qvn::encodeCustomFrames (s.customSelfFrames));
    setText ("customPartnerFrames", qvn::encodeCustomFrames (s.customPartnerFrames));
}

void writeSectionNode (juce::ValueTree& parent, int index, const SectionState& s, const float* offset, std::mutex* lock)
{
    juce::ValueTree node ("section");
    node.setProperty ("idx", index, nullptr);
    setFlag (node, "frozen", s.frozen.load());
    setFloat (node, "gainDb", s.gainDb.load());
    setFloat (node, "selfLufs", s.selfLufs.load());
    setFloat (node, "partnerLufs", s.partnerLufs.load());
    setFloat (node, "seconds", s.seconds.load());

    if (lock != nullptr)
    {
        const std::lock_guard<std::mutex> guard (*lock);
        writeSectionAnalysisState (node, s);
    }
    else
    {
        writeSectionAnalysisState (node, s);
    }

    if (offset != nullptr)
        setFloat (node, "offset", *offset);

    setFlag (node, "bypass", s.bypass.load());
    setFlag (node, "locked", s.locked.load());
    node.setProperty ("linkGroup", s.linkGroup.load(), nullptr);
    parent.appendChild (node, nullptr);
}

void readSectionScalars (const juce::ValueTree& node, SectionState& s)
{
    s.frozen.store (readFlag (node, "frozen", false));
    s.gainDb.store (readClamped (node, "gainDb", 0.0f, -kMaxStoredGain, kMaxStoredGain));
    s.selfLufs.store (readLevel (node, "selfLufs"));
    s.partnerLufs.store (readLevel (node, "partnerLufs"));
    s.seconds.store (readFloat (node, "seconds", 0.0f));
}

void readSectionAnalysisState (const juce::ValueTree& node, SectionState& s)
{
    s.analysisSeconds.store (readFloat (node, "analysisSeconds", s.seconds.load()));

    const auto a = readClamped (node, "trimStart", 0.0f, 0.0f, 1.0f);
    const auto b = readClamped (node, "trimEnd", 1.0f, 0.0f, 1.0f);
    s.trimStart.store (std::min (a, b));
    s.trimEnd.store (std::max (a, b));

    s.selfHistory = qvn::decodeHistory (node.getProperty ("selfHistory"));
    s.partnerHistory = qvn::decodeHistory (node.getProperty ("partnerHistory"));
    s.selfFrames = qvn::decodeFrames (node.getProperty ("selfFrames"));
    s.partnerFrames = qvn::decodeFrames (node.getProperty ("partnerFrames"));
    s.customSelfFrames = qvn::decodeCustomFrames (node.getProperty ("customSelfFrames"));
    s.customPartnerFrames = qvn::decodeCustomFrames (node.getProperty ("customPartnerFrames"));
}

void readSectionFlags (const juce::ValueTree& node, SectionState& s)
{
    s.bypass.store (readFlag (node, "bypass", false));
    s.locked.store (readFlag (node, "locked", false));
    s.linkGroup.store (juce::jlimit (0, 3, readInt (node, "linkGroup", 0)));
}

/** The section index of a "section" node, or -1 when it has none in range. */
int sectionIndexOf (const juce::ValueTree& node)
{
    const auto idx = readInt (node, "idx", -1);
    return idx >= 0 && idx < QuorvaneProcessor::numSectionSlots ? idx : -1;
}

//==============================================================================
// A/B slot nodes

void writeSlotNode (juce::ValueTree& applied, const juce::Identifier& type, const UndoSnapshot& snap)
{
    juce::ValueTree node (type);
    setFlag (node, "linkOffsets", snap.linkOffsets);
    node.setProperty ("sectionIdx", snap.sectionIdx, nullptr);
    node.setProperty ("measMode", snap.measMode, nullptr);
    setFloat (node, "rmsTime", snap.rmsTime);
    node.setProperty ("customSettingsGeneration", (juce::int64) snap.customSettingsGeneration, nullptr);
    node.appendChild (qvn::encodeCustomWeightedRmsSettings (snap.customSettings), nullptr);
    setFloat (node, "targetLufs", snap.targetLufs);
    setFloat (node, "instOffset", snap.instOffset);
    setFlag (node, "instFrozen", snap.instFrozen);
    setFloat (node, "instMatchGain", snap.instMatchGain);
    setFloat (node, "instMeasuredLufs", snap.instMeasuredLufs);
    setFloat (node, "instTrimStart", snap.instTrimStart);
    setFloat (node, "instTrimEnd", snap.instTrimEnd);
    setFloat (node, "instAnalysisSeconds", snap.instAnalysisSeconds);

    if (const auto history = qvn::encodeHistory (snap.instHistory); history.isNotEmpty())
        node.setProperty ("instHistory", history, nullptr);

    for (int i = 0; i < QuorvaneProcessor::numSectionSlots; ++i)
        writeSectionNode (node, i, snap.sections[(size_t) i], &snap.offsets[(size_t) i], nullptr);

    applied.appendChild (node, nullptr);
}

/** What a slot node falls back to where it lacks a value: the instance's
    settings as just restored. */
struct SlotDefaults
{
    int measMode = 0;
    float rmsTime = 3.0f;
    std::uint64_t generation = 1;
    CustomWeightedRmsSettings settings;
};

void readSlotNode (const juce::ValueTree& node, UndoSnapshot& snap, const SlotDefaults& defaults)
{
    snap.linkOffsets = readFlag (node, "linkOffsets", false);
    snap.sectionIdx = readInt (node, "sectionIdx", 0);
    snap.measMode = juce::jlimit (0, 2, readInt (node, "measMode", defaults.measMode));
    snap.rmsTime = readClamped (node, "rmsTime", defaults.rmsTime, 0.5f, 10.0f);

    if (const auto* v = node.getPropertyPointer ("customSettingsGeneration"))
        snap.customSettingsGeneration = (std::uint64_t) qvn::varToInt64 (*v);
    else
        snap.customSettingsGeneration = defaults.generation;

    const auto weighting = node.getChildWithName ("customWeightedRms");
    snap.customSettings = weighting.isValid() ? qvn::decodeCustomWeightedRmsSettings (weighting) : defaults.settings;

    snap.targetLufs = readClamped (node, "targetLufs", -18.0f, -36.0f, -6.0f);
    snap.instOffset = readClamped (node, "instOffset", 0.0f, -6.0f, 6.0f);
    snap.instFrozen = readFlag (node, "instFrozen", false);
    snap.instMatchGain = readClamped (node, "instMatchGain", 0.0f, -24.0f, 24.0f);
    snap.instMeasuredLufs = readLevel (node, "instMeasuredLufs");
    snap.instTrimStart = readClamped (node, "instTrimStart", 0.0f, 0.0f, 1.0f);
    snap.instTrimEnd = readClamped (node, "instTrimEnd", 1.0f, 0.0f, 1.0f);
    snap.instAnalysisSeconds = readFloat (node, "instAnalysisSeconds", 0.0f);
    snap.instHistory = qvn::decodeHistory (node.getProperty ("instHistory"));

    for (const auto& child : node)
    {
        if (! child.hasType ("section"))
            continue;

        const auto idx = sectionIndexOf (child);

        if (idx < 0)
            continue;

        auto& s = snap.sections[(size_t) idx];
        readSectionScalars (child, s);
        readSectionAnalysisState (child, s);
        snap.offsets[(size_t) idx] = readFloat (child, "offset", 0.0f);
        readSectionFlags (child, s);
    }
}

//==============================================================================
// Framing

/** Copies UTF-8 text, replacing every byte that does not start a well-formed
    sequence with U+FFFD, so the framework's decoder never reads past the end. */
std::string sanitiseUtf8 (const unsigned char* data, size_t size)
{
    std::string out;
    out.reserve (size);

    for (size_t i = 0; i < size;)
    {
        // Runs of ASCII, nearly all of a stored state, are copied whole.
        auto run = i;

        while (run < size && data[run] < 0x80)
            ++run;

        out.append (reinterpret_cast<const char*> (data + i), run - i);
        i = run;

        if (i >= size)
            break;

        const auto c = data[i];
        size_t extra = 0;
        std::uint32_t cp = 0;

        if (c < 0x80)             { out.push_back ((char) c); ++i; continue; }
        else if ((c & 0xe0) == 0xc0) { extra = 1; cp = c & 0x1fu; }
        else if ((c & 0xf0) == 0xe0) { extra = 2; cp = c & 0x0fu; }
        else if ((c & 0xf8) == 0xf0) { extra = 3; cp = c & 0x07u; }
        else                      { out += "\xef\xbf\xbd"; ++i; continue; }

        bool ok = i + extra < size;

        for (size_t k = 1; ok && k <= extra; ++k)
        {
            if ((data[i + k] & 0xc0) != 0x80)
                ok = false;
            else
                cp = (cp << 6) | (data[i + k] & 0x3fu);
        }

        static constexpr std::uint32_t minimum[] = { 0, 0x80, 0x800, 0x10000 };
        ok = ok && cp >= minimum[extra] && cp <= 0x10ffff && (cp < 0xd800 || cp > 0xdfff);

        if (! ok)
        {
            out += "\xef\xbf\xbd";
            ++i;
            continue;
        }

        out.append (reinterpret_cast<const char*> (data + i), extra + 1);
        i += extra + 1;
    }

    return out;
}

/** The tree stored in a blob, or an invalid tree when the blob fails the
    framing or the parse. */
juce::ValueTree treeFromBlob (const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes < 9)
        return {};

    const auto* bytes = static_cast<const unsigned char*> (data);

    if (juce::ByteOrder::littleEndianInt (bytes) != stateMagic)
        return {};

    const auto length = (std::int32_t) juce::ByteOrder::littleEndianInt (bytes + 4);

    if (length <= 0)
        return {};

    auto n = std::min ((size_t) length, (size_t) sizeInBytes - 8);

    if (const auto* nul = std::memchr (bytes + 8, 0, n))
        n = (size_t) (static_cast<const unsigned char*> (nul) - (bytes + 8));

    if (n == 0)
        return {};

    const auto text = sanitiseUtf8 (bytes + 8, n);
    const auto xml = qvn::parseStoredXml (juce::String::fromUTF8 (text.data(), (int) text.size()));

    if (xml == nullptr)
        return {};

    return juce::ValueTree::fromXml (*xml);
}
} // namespace

//==============================================================================
void QuorvaneProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    auto state = parameters.copyState();

    if (! state.isValid())
        return;

    juce::ValueTree applied ("applied");
    setFlag (applied, "linkOffsets", linkOffsets.load());
    applied.setProperty ("numSections", numSections.load(), nullptr);
    setFlag (applied, "showTooltips", showTooltips.load());
    applied.setProperty ("tooltipLang", tooltipLang.load(), nullptr);
    applied.setProperty ("meterDispMode", meterDispMode.load(), nullptr);
    applied.setProperty ("measMode", juce::jlimit (0, 2, measMode.load()), nullptr);
    setFloat (applied, "rmsTimeSec", rmsTimeSec.load());

    CustomWeightedRmsSettings weighting;

    {
        const std::lock_guard<std::mutex> lock (settingsMutex);
        weighting = customSettings;
    }

    applied.appendChild (qvn::encodeCustomWeightedRmsSettings (weighting), nullptr);
    applied.setProperty ("customSettingsGeneration", (juce::int64) customSettingsGeneration.load(), nullptr);
    applied.setProperty ("hiddenVocalMask", hiddenVocalMask.load(), nullptr);

    juce::String name, target;

    {
        const std::lock_guard<std::mutex> lock (partnerMutex);
        name = instanceName;
        target = offsetTarget;
    }

    applied.setProperty ("instanceName", name, nullptr);

    for (int i = 0; i < numSectionSlots; ++i)
        writeSectionNode (applied, i, sections[(size_t) i], nullptr, &analysisMutex);

    setFlag (applied, "instFrozen", instFrozen.load());
    setFloat (applied, "instMatchGain", instMatchGain.load());
    setFloat (applied, "instMeasuredLufs", instMeasuredLufs.load());
    setFloat (applied, "instTrimStart", instTrimStart.load());
    setFloat (applied, "instTrimEnd", instTrimEnd.load());
    setFloat (applied, "instAnalysisSeconds", instAnalysisSeconds.load());
    setFlag (applied, "instTargetUiOpen", instTargetUiOpen.load());

    juce::String history;

    {
        const std::lock_guard<std::mutex> lock (analysisMutex);
        history = qvn::encodeHistory (instHistory);
    }

    if (history.isNotEmpty())
        applied.setProperty ("instHistory", history, nullptr);

    applied.setProperty ("offsetTarget", target, nullptr);

    // The active slot is saved as the state of the moment.
    const auto live = captureSnapshot();
    int active = 0;
    UndoSnapshot other;

    {
        const std::lock_guard<std::mutex> lock (abMutex);
        active = currentAB.load();
        other = abSlots[(size_t) (1 - active)];
    }

    applied.setProperty ("currentAB", active, nullptr);
    writeSlotNode (applied, "abSlotA", active == 0 ? live : other);
    writeSlotNode (applied, "abSlotB", active == 1 ? live : other);

    state.appendChild (applied, nullptr);

    if (auto xml = state.createXml())
        copyXmlToBinary (*xml, destData);
}

//==============================================================================
void QuorvaneProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    auto tree = treeFromBlob (data, sizeInBytes);

    if (! tree.isValid())
        return;

    // Offset Gain and Inst Offset edits seen meanwhile wait until the restore
    // is complete; any left then are looked at by one more update.
    struct RestoreScope
    {
        explicit RestoreScope (QuorvaneProcessor& p) : owner (p) { owner.stateRestoresInFlight.fetch_add (1); }

        ~RestoreScope()
        {
            if (owner.stateRestoresInFlight.fetch_sub (1) == 1
                && (owner.offsetChangedMask.load() != 0 || owner.offsetRevertMask.load() != 0
                    || owner.instOffsetChangePending.load()))
                owner.triggerAsyncUpdate();
        }

        QuorvaneProcessor& owner;
    } restoreScope (*this);

    const auto applied = tree.getChildWithName ("applied");

    if (applied.isValid())
        tree.removeChild (applied, nullptr);

    // Parameter values go to the framework as plain numbers in range: its own
    // text conversion does not survive every hostile text, and a value that is
    // not a number would reach the audio path.
    for (auto child : tree)
    {
        if (! child.hasType ("PARAM") || ! child.hasProperty ("value"))
            continue;

        auto v = qvn::varToDouble (child.getProperty ("value"));

        if (auto* param = parameters.getParameter (child.getProperty ("id").toString()))
        {
            const auto& range = param->getNormalisableRange();
            v = std::isfinite (v) ? juce::jlimit ((double) range.start, (double) range.end, v)
                                  : (double) param->convertFrom0to1 (param->getDefaultValue());
        }
        else if (! std::isfinite (v) || std::abs (v) > 1.0e30)
        {
            v = 0.0;
        }

        child.setProperty ("value", v, nullptr);
    }

    // The accepted Offset Gains and Inst Offset move to the incoming values
    // before the parameters do, so that the parameter listener and a concurrent
    // update see the restored values as no edit: nothing is passed on to linked
    // sections, no undo step is recorded and no locked section is put back.
    // The framework takes the last "PARAM" child of an id, and gives a
    // parameter without one (or without a value) its default.
    const auto incomingValue = [&tree, this] (const juce::String& id, float& out)
    {
        auto* param = parameters.getParameter (id);

        if (param == nullptr)
            return false;

        auto v = param->convertFrom0to1 (param->getDefaultValue());

        for (const auto& child : tree)
            if (child.hasType ("PARAM") && child.getProperty ("id").toString() == id)
                v = child.hasProperty ("value") ? (float) (double) child.getProperty ("value")
                                                : param->convertFrom0to1 (param->getDefaultValue());

        out = param->convertFrom0to1 (param->convertTo0to1 (v));
        return true;
    };

    for (int i = 0; i < numSectionSlots; ++i)
        if (float v = 0.0f; incomingValue (offsetParameterId (i), v))
            storedOffsets[(size_t) i].store (v);

    if (float v = 0.0f; incomingValue (ids::instOffset, v))
        storedInstOffset.store (v);

    parameters.replaceState (tree);

    if (! applied.isValid())
    {
        cancelActiveMeasurementsForSettingsChange();
        measMode.store (0);
        applyCustomWeightedRmsSettings (CustomWeightedRmsSettings {}, 3.0f, 1);
        return;
    }

    linkOffsets.store (readFlag (applied, "linkOffsets", false));
    numSections.store (numSectionSlots);
    showTooltips.store (readFlag (applied, "showTooltips", false));
    tooltipLang.store (readInt (applied, "tooltipLang", 1) > 0 ? 1 : 0);
    meterDispMode.store (juce::jlimit (0, 2, readInt (applied, "meterDispMode", 1)));
    measMode.store (juce::jlimit (0, 2, readInt (applied, "measMode", 0)));

    cancelActiveMeasurementsForSettingsChange();
    LinkRegistry::get().cancelMeasurementsForSettingsChange();

    rmsTimeSec.store (readClamped (applied, "rmsTimeSec", 3.0f, 0.5f, 10.0f));

    const auto weightingNode = applied.getChildWithName ("customWeightedRms");
    const auto weighting = weightingNode.isValid() ? qvn::decodeCustomWeightedRmsSettings (weightingNode)
                                                   : CustomWeightedRmsSettings {};
    std::uint64_t generation = 1;

    if (const auto* v = applied.getPropertyPointer ("customSettingsGeneration"))
        generation = std::max<std::uint64_t> ((std::uint64_t) qvn::varToInt64 (*v), 1);

    applyCustomWeightedRmsSettings (weighting, rmsTimeSec.load(), generation);

    hiddenVocalMask.store (readInt (applied, "hiddenVocalMask", 0));
    setInstanceName (applied.getProperty ("instanceName").toString());
    setOffsetTargetName (applied.getProperty ("offsetTarget").toString());

    for (const auto& child : applied)
    {
        if (! child.hasType ("section"))
            continue;

        const auto idx = sectionIndexOf (child);

        if (idx < 0)
            continue;

        auto& s = sections[(size_t) idx];
        readSectionScalars (child, s);

        {
            const std::lock_guard<std::mutex> lock (analysisMutex);
            readSectionAnalysisState (child, s);
        }

        if (child.hasProperty ("offset"))
        {
            const auto id = offsetParameterId (idx);

            if (auto* param = parameters.getParameter (id))
            {
                const auto v = readClamped (child, "offset", 0.0f, -12.0f, 12.0f);
                storedOffsets[(size_t) idx].store (param->convertFrom0to1 (param->convertTo0to1 (v)));
                param->setValueNotifyingHost (param->convertTo0to1 (v));
            }
        }

        readSectionFlags (child, s);
    }

    const auto mode = measMode.load();
    const auto restoredGeneration = customSettingsGeneration.load();

    {
        const std::lock_guard<std::mutex> lock (analysisMutex);

        const auto empty = [] (const auto& list) { return list == nullptr || list->empty(); };
        const auto stale = [restoredGeneration] (const std::shared_ptr<const std::vector<CustomRmsFrame>>& list)
        {
            for (const auto& f : *list)
                if (f.generation != restoredGeneration)
                    return true;

            return false;
        };

        for (auto& s : sections)
        {
            bool remeasure = false;

            if (s.frozen.load() && mode == 1)
            {
                remeasure = empty (s.selfFrames) || empty (s.partnerFrames);
            }
            else if (s.frozen.load() && mode == 2)
            {
                remeasure = empty (s.customSelfFrames) || empty (s.customPartnerFrames)
                            || stale (s.customSelfFrames) || stale (s.customPartnerFrames);

                if (remeasure)
                {
                    s.selfLufs.store (-120.0f);
                    s.partnerLufs.store (-120.0f);
                    s.gainDb.store (0.0f);
                }
            }

            s.needsRemeasure.store (remeasure);
        }
    }

    const auto frozen = readFlag (applied, "instFrozen", false);
    instFrozen.store (frozen);
    instMatchGain.store (readClamped (applied, "instMatchGain", 0.0f, -24.0f, 24.0f));
    instMeasuredLufs.store (readLevel (applied, "instMeasuredLufs"));

    {
        const std::lock_guard<std::mutex> lock (analysisMutex);
        instTrimStart.store (readClamped (applied, "instTrimStart", 0.0f, 0.0f, 1.0f));
        instTrimEnd.store (readClamped (applied, "instTrimEnd", 1.0f, 0.0f, 1.0f));
        instAnalysisSeconds.store (readFloat (applied, "instAnalysisSeconds", 0.0f));
        instHistory = qvn::decodeHistory (applied.getProperty ("instHistory"));
    }

    instTargetUiOpen.store (readFlag (applied, "instTargetUiOpen", frozen));

    {
        const std::lock_guard<std::mutex> lock (abMutex);
        currentAB.store (readInt (applied, "currentAB", 0) > 0 ? 1 : 0);
    }

    SlotDefaults defaults;
    defaults.measMode = mode;
    defaults.rmsTime = rmsTimeSec.load();
    defaults.generation = restoredGeneration;

    {
        const std::lock_guard<std::mutex> lock (settingsMutex);
        defaults.settings = customSettings;
    }

    const char* slotTypes[] = { "abSlotA", "abSlotB" };

    for (int k = 0; k < 2; ++k)
    {
        const auto node = applied.getChildWithName (slotTypes[k]);
        UndoSnapshot slot;

        if (node.isValid())
        {
            slot = getABSlot (k);
            readSlotNode (node, slot, defaults);
        }
        else
        {
            slot = captureSnapshot();
        }

        const std::lock_guard<std::mutex> lock (abMutex);
        abSlots[(size_t) k] = std::move (slot);
    }

    for (int i = 0; i < numSectionSlots; ++i)
        storedOffsets[(size_t) i].store (getSectionOffset (i));

    storedInstOffset.store (getInstOffsetDb());

    for (int i = 0; i <= numSectionSlots; ++i)
        renewHistoryRevision (i);
}
