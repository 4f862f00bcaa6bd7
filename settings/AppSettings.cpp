#include "settings/AppSettings.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <unordered_set>

namespace
{
    std::mutex instanceMutex;
    AppSettings* instancePtr = nullptr;

    constexpr const char* kFactoryPresetNames[] = { "Standard K", "Flat" };

    //==========================================================================
    // The per-user configuration folder. On Linux and the BSDs this follows
    // the XDG convention ($XDG_CONFIG_HOME, else ~/.config); a relative
    // $XDG_CONFIG_HOME is invalid by that convention and is ignored. Only the
    // file's location is taken from the framework's options; the store reads
    // and writes the file itself (SettingsFile).
    juce::PropertiesFile::Options makeFileOptions()
    {
        juce::PropertiesFile::Options o;
        o.applicationName = "Quorvane";
        o.filenameSuffix = "settings";
        o.folderName = "Quorvane";
        o.osxLibrarySubFolder = "Application Support";
        o.commonToAllUsers = false;
        o.ignoreCaseOfKeyNames = false;
        o.doNotSave = false;
        o.millisecondsBeforeSaving = 3000;
        o.storageFormat = juce::PropertiesFile::storeAsXML;
        o.processLock = nullptr;

       #if JUCE_LINUX || JUCE_BSD
        auto configHome = juce::SystemStats::getEnvironmentVariable ("XDG_CONFIG_HOME", {});
        const auto base = configHome.startsWithChar ('/') ? juce::File (configHome)
                                                          : juce::File ("~").getChildFile (".config");
        // The framework resolves a per-user folder name against the home
        // folder; an absolute name is taken as it stands.
        o.folderName = base.getChildFile ("Quorvane").getFullPathName();
       #endif

        return o;
    }

    //==========================================================================
    // Strict number parsing: text that is not a number (after trimming) is
    // reported as such so the reader can fall back to the key's default,
    // instead of silently reading 0.
    bool parseNumber (const juce::String& text, double& result)
    {
        const auto trimmed = text.trim();

        if (trimmed.isEmpty())
            return false;

        auto p = trimmed.getCharPointer();
        const auto start = p;
        const auto value = juce::CharacterFunctions::readDoubleValue (p);

        if (p == start || ! p.findEndOfWhitespace().isEmpty())
            return false;

        if (std::isfinite (value) && ! trimmed.containsAnyOf ("0123456789"))
            return false;

        result = value;
        return true;
    }

    juce::String attributeText (const pugi::xml_node& e, const char* name)
    {
        const auto* v = e.attribute (name).value();
        return qvn::textFromUtf8 (v, std::strlen (v));
    }

    double attributeNumber (const pugi::xml_node& e, const char* name, double defaultValue)
    {
        double v = 0.0;

        if (e.attribute (name) && parseNumber (attributeText (e, name), v))
            return v;

        return defaultValue;
    }

    // An integer attribute; a missing, non-numeric, fractional or out-of-range
    // value reads as the default.
    int attributeInt (const pugi::xml_node& e, const char* name, int defaultValue)
    {
        const auto v = attributeNumber (e, name, std::numeric_limits<double>::quiet_NaN());

        if (! std::isfinite (v) || v != std::floor (v)
            || v < (double) std::numeric_limits<int>::min()
            || v > (double) std::numeric_limits<int>::max())
            return defaultValue;

        return (int) v;
    }

    juce::String singleLineXml (const juce::XmlElement& e)
    {
        return e.toString (juce::XmlElement::TextFormat().singleLine());
    }

    // Parses one of the store's XML lists with the same reader as the file
    // (no recursion, no entities); false when it is not XML with that root.
    bool parseList (const juce::String& text, const char* rootName, pugi::xml_document& doc)
    {
        const auto* utf8 = text.toRawUTF8();
        constexpr auto options = pugi::parse_default & ~(pugi::parse_wconv_attribute | pugi::parse_eol);

        return doc.load_buffer (utf8, std::strlen (utf8), options, pugi::encoding_utf8)
            && std::strcmp (doc.document_element().name(), rootName) == 0;
    }

    //==========================================================================
    void sanitiseOffsetTargetEnds (float& lo, float& hi)
    {
        if (! std::isfinite (lo)) lo = -2.0f;
        if (! std::isfinite (hi)) hi = 2.0f;

        auto low = std::min (lo, hi);
        low = low < -12.0f ? -12.0f : std::min (low, 11.5f);

        auto high = std::max (lo, hi);
        high = high < low + 0.5f ? low + 0.5f : std::min (high, 12.0f);

        lo = low;
        hi = high;
    }

    std::vector<qvn::OffsetTarget> defaultOffsetTargets()
    {
        return { { "Main", -2.0f, 2.0f }, { "Harmony", -10.0f, -5.0f } };
    }

    //==========================================================================
    CustomWeightedRmsSettings presetBaseSettings()
    {
        CustomWeightedRmsSettings s;
        s.schemaVersion = 1;

        for (auto& slot : s.slots)
            slot.enabled = false;

        return s;
    }

    juce::String presetName (const juce::String& name)
    {
        return name.trim().substring (0, qvn::kMaxCustomPresetNameLength);
    }

    juce::String encodeCustomPresets (const std::vector<NamedCustomWeightedRmsPreset>& presets)
    {
        juce::XmlElement root ("customWeightedRmsPresets");

        for (const auto& preset : presets)
        {
            auto settings = preset.settings;
            settings.normalize();

            auto* p = root.createNewChildElement ("preset");
            p->setAttribute ("name", presetName (preset.name));

            for (int i = 0; i < CustomWeightedRmsSettings::numSlots; ++i)
            {
                const auto& slot = settings.slots[(size_t) i];
                auto* s = p->createNewChildElement ("slot");
                s->setAttribute ("index", i);
                s->setAttribute ("enabled", slot.enabled ? 1 : 0);
                s->setAttribute ("type", (int) slot.type);
                s->setAttribute ("frequencyHz", slot.frequencyHz);
                s->setAttribute ("gainDb", slot.gainDb);
                s->setAttribute ("q", slot.q);
                s->setAttribute ("slopeDbPerOct", slot.slopeDbPerOct);
            }
        }

        return singleLineXml (root);
    }
} // namespace

//==============================================================================
namespace qvn
{

DisplayRange sanitiseDisplayRange (float low, float high, float defaultLow, float defaultHigh)
{
    if (! std::isfinite (low))  low = defaultLow;
    if (! std::isfinite (high)) high = defaultHigh;

    auto lo = std::min (low, high);
    auto hi = std::max (low, high);

    lo = lo < -100.0f ? -100.0f : std::min (lo, -3.0f);
    hi = hi < lo + 3.0f ? lo + 3.0f : std::min (hi, 0.0f);

    return { lo, hi };
}

double sanitiseEditorZoom (double zoom)
{
    if (std::isnan (zoom))
        return kDefaultEditorZoom;

    zoom = std::min (zoom, 2.0);
    return zoom < 0.5 ? 0.5 : zoom;
}

} // namespace qvn

//==============================================================================
AppSettings& AppSettings::get()
{
    std::lock_guard<std::mutex> lock (instanceMutex);

    if (instancePtr == nullptr)
        instancePtr = new AppSettings();

    return *instancePtr;
}

AppSettings::AppSettings()
{
    // Opened now, under the creation lock, so that a host thread, the
    // message thread and the update check never open it at the same moment.
    properties.file = std::make_unique<SettingsFile> (settingsFileLocation(),
                                                      juce::StringArray { qvn::settingsKeys::offsetTargets,
                                                                          qvn::settingsKeys::customWeightedRmsPresets });
}

AppSettings::~AppSettings()
{
    {
        std::lock_guard<std::mutex> lock (instanceMutex);

        if (instancePtr == this)
            instancePtr = nullptr;
    }

    properties.file.reset();
}

juce::File AppSettings::settingsFileLocation()
{
    return makeFileOptions().getDefaultFile();
}

SettingsFile& AppSettings::userSettings()
{
    return *properties.getUserSettings();
}

//==============================================================================
namespace
{
    // A stored value, or nothing when the key is absent.
    std::optional<juce::String> readText (juce::PropertySet& s, const char* key)
    {
        const juce::ScopedLock sl (s.getLock());

        if (! s.containsKey (key))
            return std::nullopt;

        return s.getValue (key);
    }

    double readNumber (juce::PropertySet& s, const char* key, double defaultValue)
    {
        double v = 0.0;

        if (auto text = readText (s, key); text.has_value() && parseNumber (*text, v))
            return v;

        return defaultValue;
    }

    bool readFlag (juce::PropertySet& s, const char* key, bool defaultValue)
    {
        auto text = readText (s, key);

        if (! text.has_value())
            return defaultValue;

        double v = 0.0;

        if (parseNumber (*text, v))
            return std::isnan (v) ? defaultValue : v != 0.0;

        const auto t = text->trim();

        if (t.equalsIgnoreCase ("true"))  return true;
        if (t.equalsIgnoreCase ("false")) return false;

        return defaultValue;
    }

    qvn::DisplayRange readRange (juce::PropertySet& s, const char* minKey, const char* maxKey,
                                 float defaultLow, float defaultHigh)
    {
        return qvn::sanitiseDisplayRange ((float) readNumber (s, minKey, defaultLow),
                                          (float) readNumber (s, maxKey, defaultHigh),
                                          defaultLow, defaultHigh);
    }

    // Sets two keys that belong together and writes the file once.
    void writePair (SettingsFile& s, const char* keyA, const juce::var& a, const char* keyB, const juce::var& b)
    {
        s.setValue (keyA, a);
        s.setValue (keyB, b);
        s.saveIfNeeded();
    }

    void writeRange (SettingsFile& s, const char* minKey, const char* maxKey, float low, float high,
                     float defaultLow, float defaultHigh)
    {
        const auto r = qvn::sanitiseDisplayRange (low, high, defaultLow, defaultHigh);
        writePair (s, minKey, (double) r.low, maxKey, (double) r.high);
    }
}

bool AppSettings::updateChecksEnabled()        { return readFlag (userSettings(), qvn::settingsKeys::updateChecksEnabled, true); }
bool AppSettings::sidebarVisible()             { return readFlag (userSettings(), qvn::settingsKeys::sidebarVisible, true); }
bool AppSettings::zoomLinked()                 { return readFlag (userSettings(), qvn::settingsKeys::zoomLinked, true); }
bool AppSettings::linkMeasurementToTransport() { return readFlag (userSettings(), qvn::settingsKeys::linkMeasurementToTransport, false); }

double AppSettings::editorZoom()
{
    return qvn::sanitiseEditorZoom (readNumber (userSettings(), qvn::settingsKeys::editorZoom, qvn::kDefaultEditorZoom));
}

qvn::DisplayRange AppSettings::meterRange()
{
    return readRange (userSettings(), qvn::settingsKeys::meterRangeMin, qvn::settingsKeys::meterRangeMax,
                      qvn::kDefaultMeterRangeMin, qvn::kDefaultMeterRangeMax);
}

qvn::DisplayRange AppSettings::learnRange()
{
    return readRange (userSettings(), qvn::settingsKeys::learnRangeMin, qvn::settingsKeys::learnRangeMax,
                      qvn::kDefaultLearnRangeMin, qvn::kDefaultLearnRangeMax);
}

juce::int64 AppSettings::lastUpdateCheckUnix()
{
    const auto v = readNumber (userSettings(), qvn::settingsKeys::lastUpdateCheckUnix, 0.0);

    if (! std::isfinite (v))
        return 0;

    // Kept inside the 64-bit range so the truncation is defined.
    constexpr double limit = 9.0e18;
    return (juce::int64) std::trunc (juce::jlimit (-limit, limit, v));
}

juce::String AppSettings::latestSeenVersion()
{
    return userSettings().getValue (qvn::settingsKeys::latestSeenVersion, {});
}

juce::String AppSettings::latestSeenUrl()
{
    return userSettings().getValue (qvn::settingsKeys::latestSeenUrl, {});
}

std::vector<qvn::OffsetTarget> AppSettings::offsetTargets()
{
    const auto text = readText (userSettings(), qvn::settingsKeys::offsetTargets);

    if (! text.has_value())
        return defaultOffsetTargets();

    std::vector<qvn::OffsetTarget> targets;
    pugi::xml_document doc;

    if (! parseList (*text, "offsetTargets", doc))
        return targets;

    // The names taken so far, in the case-blind form the name rule compares
    // (a set, so that a long stored list reads in linear time).
    std::unordered_set<juce::String> taken;

    for (const auto& child : doc.document_element().children ("target"))
    {
        qvn::OffsetTarget t;
        t.name = qvn::normaliseOffsetTargetName (attributeText (child, "name"));

        if (! qvn::isValidOffsetTargetName (t.name, {}, -1) || ! taken.insert (t.name.toUpperCase()).second)
            continue;

        t.lo = (float) attributeNumber (child, "lo", 0.0);
        t.hi = (float) attributeNumber (child, "hi", 0.0);
        sanitiseOffsetTargetEnds (t.lo, t.hi);
        targets.push_back (t);
    }

    return targets;
}

//==============================================================================
void AppSettings::writeValue (const juce::String& key, const juce::var& value)
{
    auto& s = userSettings();
    s.setValue (key, value);
    s.saveIfNeeded();
}

void AppSettings::setUpdateChecksEnabled (bool enabled)        { writeValue (qvn::settingsKeys::updateChecksEnabled, enabled); }
void AppSettings::setSidebarVisible (bool visible)             { writeValue (qvn::settingsKeys::sidebarVisible, visible); }
void AppSettings::setZoomLinked (bool linked)                  { writeValue (qvn::settingsKeys::zoomLinked, linked); }
void AppSettings::setLinkMeasurementToTransport (bool linked)  { writeValue (qvn::settingsKeys::linkMeasurementToTransport, linked); }
void AppSettings::setEditorZoom (double zoom)                  { writeValue (qvn::settingsKeys::editorZoom, qvn::sanitiseEditorZoom (zoom)); }
void AppSettings::setLastFetchStatus (const juce::String& status) { writeValue (qvn::settingsKeys::lastFetchStatus, status); }

void AppSettings::setLastUpdateCheckUnix (juce::int64 secondsSince1970)
{
    writeValue (qvn::settingsKeys::lastUpdateCheckUnix, (double) secondsSince1970);
}

void AppSettings::setLatestSeen (const juce::String& version, const juce::String& url)
{
    writePair (userSettings(), qvn::settingsKeys::latestSeenVersion, version, qvn::settingsKeys::latestSeenUrl, url);
}

void AppSettings::setMeterRange (float low, float high)
{
    writeRange (userSettings(), qvn::settingsKeys::meterRangeMin, qvn::settingsKeys::meterRangeMax, low, high,
                qvn::kDefaultMeterRangeMin, qvn::kDefaultMeterRangeMax);
}

void AppSettings::setLearnRange (float low, float high)
{
    writeRange (userSettings(), qvn::settingsKeys::learnRangeMin, qvn::settingsKeys::learnRangeMax, low, high,
                qvn::kDefaultLearnRangeMin, qvn::kDefaultLearnRangeMax);
}

void AppSettings::setOffsetTargets (const std::vector<qvn::OffsetTarget>& targets)
{
    juce::XmlElement root ("offsetTargets");

    for (const auto& target : targets)
    {
        const auto name = qvn::normaliseOffsetTargetName (target.name);

        if (name.isEmpty())
            continue;

        auto lo = target.lo, hi = target.hi;
        sanitiseOffsetTargetEnds (lo, hi);

        auto* e = root.createNewChildElement ("target");
        e->setAttribute ("name", name);
        e->setAttribute ("lo", (double) lo);
        e->setAttribute ("hi", (double) hi);
    }

    writeValue (qvn::settingsKeys::offsetTargets, singleLineXml (root));
}

//==============================================================================
std::vector<NamedCustomWeightedRmsPreset> AppSettings::customWeightedRmsPresets()
{
    std::vector<NamedCustomWeightedRmsPreset> presets;
    const auto text = userSettings().getValue (qvn::settingsKeys::customWeightedRmsPresets, {});

    if (text.isEmpty())
        return presets;

    pugi::xml_document doc;

    if (! parseList (text, "customWeightedRmsPresets", doc))
        return presets;

    for (const auto& child : doc.document_element().children ("preset"))
    {
        NamedCustomWeightedRmsPreset preset;
        preset.settings = presetBaseSettings();
        preset.name = presetName (attributeText (child, "name"));

        for (const auto& slotElement : child.children ("slot"))
        {
            const auto index = attributeInt (slotElement, "index", -1);

            if (index < 0 || index >= CustomWeightedRmsSettings::numSlots)
                continue;

            auto& slot = preset.settings.slots[(size_t) index];
            slot.enabled       = attributeInt (slotElement, "enabled", 0) != 0;
            slot.type          = (int32_t) attributeInt (slotElement, "type", 2);
            slot.frequencyHz   = attributeNumber (slotElement, "frequencyHz", 1000.0);
            slot.gainDb        = attributeNumber (slotElement, "gainDb", 0.0);
            slot.q             = attributeNumber (slotElement, "q", 0.70710678);
            slot.slopeDbPerOct = attributeNumber (slotElement, "slopeDbPerOct", 12.0);
        }

        preset.settings.normalize();

        if (preset.name.isNotEmpty())
            presets.push_back (std::move (preset));
    }

    return presets;
}

bool AppSettings::saveCustomWeightedRmsPreset (const juce::String& name, CustomWeightedRmsSettings settings)
{
    const auto trimmed = name.trim();

    if (trimmed.isEmpty() || trimmed.length() > qvn::kMaxCustomPresetNameLength)
        return false;

    for (auto* factoryName : kFactoryPresetNames)
        if (trimmed.equalsIgnoreCase (factoryName))
            return false;

    settings.normalize();

    // Another host process may have saved a preset since this one last read
    // the list; the list written back must hold it too.
    userSettings().takeOverValuesOnDisk();
    auto presets = customWeightedRmsPresets();
    auto existing = std::find_if (presets.begin(), presets.end(),
                                  [&] (const auto& p) { return p.name.equalsIgnoreCase (trimmed); });

    if (existing != presets.end())
    {
        existing->name = trimmed;
        existing->settings = settings;
    }
    else
    {
        presets.push_back ({ trimmed, settings });
    }

    std::stable_sort (presets.begin(), presets.end(),
                      [] (const auto& a, const auto& b) { return a.name.compareIgnoreCase (b.name) < 0; });

    auto& s = userSettings();
    const auto key = juce::String (qvn::settingsKeys::customWeightedRmsPresets);
    const bool hadList = s.containsKey (key);
    const auto previous = s.getValue (key);

    s.setValue (key, encodeCustomPresets (presets));
    if (s.saveIfNeeded())
        return true;

    // Reported as not saved, so it must not be saved later either (by the
    // next write of any other setting): the store gets its old list back.
    if (hadList)
        s.setValue (key, previous);
    else
        s.removeValue (key);
    return false;
}

void AppSettings::deleteCustomWeightedRmsPreset (const juce::String& name)
{
    const auto trimmed = name.trim();
    userSettings().takeOverValuesOnDisk();
    auto presets = customWeightedRmsPresets();
    const auto before = presets.size();

    presets.erase (std::remove_if (presets.begin(), presets.end(),
                                   [&] (const auto& p) { return p.name.equalsIgnoreCase (trimmed); }),
                   presets.end());

    if (presets.size() != before)
        writeValue (qvn::settingsKeys::customWeightedRmsPresets, encodeCustomPresets (presets));
}
