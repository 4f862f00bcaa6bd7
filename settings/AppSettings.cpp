#include "settings/AppSettings.h"
#include "settings/StoredXml.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <optional>

namespace
{
    std::mutex instanceMutex;
    AppSettings* instancePtr = nullptr;

    constexpr const char* kFactoryPresetNames[] = { "Standard K", "Flat" };

    //==========================================================================
    // The per-user configuration folder. On Linux and the BSDs this follows
    // the XDG convention ($XDG_CONFIG_HOME, else ~/.config); a relative
    // $XDG_CONFIG_HOME is invalid by that convention and is ignored.
    // The framework parses the settings file with an XML reader that hangs or
    // overflows its stack on some malformed text (and reads a file of any
    // size whole). A file like that is moved aside, keeping it for the user
    // to inspect, so the store starts from defaults instead of taking the
    // host down; the next write then produces a valid file.
    void setAsideUnreadableFile (const juce::File& file)
    {
        constexpr juce::int64 maxSettingsBytes = 8 * 1024 * 1024;

        if (! file.existsAsFile())
            return;

        if (file.getSize() <= maxSettingsBytes && qvn::isSafeStoredMarkup (file.loadFileAsString()))
            return;

        const auto aside = file.getSiblingFile (file.getFileName() + ".unreadable");
        aside.deleteFile();

        if (! file.moveFileTo (aside))
            file.deleteFile();
    }

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

    double attributeNumber (const juce::XmlElement& e, const char* name, double defaultValue)
    {
        double v = 0.0;

        if (e.hasAttribute (name) && parseNumber (e.getStringAttribute (name), v))
            return v;

        return defaultValue;
    }

    // An integer attribute; a missing, non-numeric, fractional or out-of-range
    // value reads as the default.
    int attributeInt (const juce::XmlElement& e, const char* name, int defaultValue)
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
    properties.setStorageParameters (makeFileOptions());
    setAsideUnreadableFile (settingsFileLocation());

    // Open the file now, under the creation lock: the framework opens it
    // lazily in getUserSettings(), which is not safe when a host thread, the
    // message thread and the update check reach it at the same moment.
    auto* user = properties.getUserSettings();

    // Another process replacing the file at this very moment can make the
    // framework read it short (it takes the length from the path, not from
    // the file it opened). Read again before settling for defaults, which
    // the next write would otherwise make permanent.
    for (int attempt = 0; attempt < 5 && user != nullptr && ! user->isValidFile(); ++attempt)
    {
        juce::Thread::sleep (2);
        user->reload();
    }

   #if JUCE_LINUX || JUCE_BSD
    // The framework pairs the user file with an all-users file; with an
    // absolute folder name both resolve to the same path, so reads must not
    // fall back to that second (stale) copy.
    if (user != nullptr)
        user->setFallbackPropertySet (nullptr);
   #else
    juce::ignoreUnused (user);
   #endif
}

AppSettings::~AppSettings()
{
    {
        std::lock_guard<std::mutex> lock (instanceMutex);

        if (instancePtr == this)
            instancePtr = nullptr;
    }

    properties.closeFiles();
}

juce::File AppSettings::settingsFileLocation()
{
    return makeFileOptions().getDefaultFile();
}

juce::PropertiesFile& AppSettings::userSettings()
{
    return *properties.getUserSettings();
}

//==============================================================================
namespace
{
    // A stored value, or nothing when the key is absent.
    std::optional<juce::String> readText (juce::PropertiesFile& s, const char* key)
    {
        const juce::ScopedLock sl (s.getLock());

        if (! s.containsKey (key))
            return std::nullopt;

        return s.getValue (key);
    }

    double readNumber (juce::PropertiesFile& s, const char* key, double defaultValue)
    {
        double v = 0.0;

        if (auto text = readText (s, key); text.has_value() && parseNumber (*text, v))
            return v;

        return defaultValue;
    }

    bool readFlag (juce::PropertiesFile& s, const char* key, bool defaultValue)
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

    qvn::DisplayRange readRange (juce::PropertiesFile& s, const char* minKey, const char* maxKey,
                                 float defaultLow, float defaultHigh)
    {
        return qvn::sanitiseDisplayRange ((float) readNumber (s, minKey, defaultLow),
                                          (float) readNumber (s, maxKey, defaultHigh),
                                          defaultLow, defaultHigh);
    }

    // Sets two keys that belong together and writes the file once.
    void writePair (juce::PropertiesFile& s, const char* keyA, const juce::var& a, const char* keyB, const juce::var& b)
    {
        s.setValue (keyA, a);
        s.setValue (keyB, b);
        s.saveIfNeeded();
    }

    void writeRange (juce::PropertiesFile& s, const char* minKey, const char* maxKey, float low, float high,
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
    const auto xml = juce::parseXML (*text);

    if (xml == nullptr || ! xml->hasTagName ("offsetTargets"))
        return targets;

    for (auto* child : xml->getChildWithTagNameIterator ("target"))
    {
        qvn::OffsetTarget t;
        t.name = qvn::normaliseOffsetTargetName (child->getStringAttribute ("name"));

        if (! qvn::isValidOffsetTargetName (t.name, targets, -1))
            continue;

        t.lo = (float) attributeNumber (*child, "lo", 0.0);
        t.hi = (float) attributeNumber (*child, "hi", 0.0);
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

    const auto xml = juce::parseXML (text);

    if (xml == nullptr || ! xml->hasTagName ("customWeightedRmsPresets"))
        return presets;

    for (auto* child : xml->getChildIterator())
    {
        if (! child->hasTagName ("preset"))
            continue;

        NamedCustomWeightedRmsPreset preset;
        preset.settings = presetBaseSettings();
        preset.name = presetName (child->getStringAttribute ("name"));

        for (auto* slotElement : child->getChildIterator())
        {
            const auto index = attributeInt (*slotElement, "index", -1);

            if (! slotElement->hasTagName ("slot") || index < 0 || index >= CustomWeightedRmsSettings::numSlots)
                continue;

            auto& slot = preset.settings.slots[(size_t) index];
            slot.enabled       = attributeInt (*slotElement, "enabled", 0) != 0;
            slot.type          = (int32_t) attributeInt (*slotElement, "type", 2);
            slot.frequencyHz   = attributeNumber (*slotElement, "frequencyHz", 1000.0);
            slot.gainDb        = attributeNumber (*slotElement, "gainDb", 0.0);
            slot.q             = attributeNumber (*slotElement, "q", 0.70710678);
            slot.slopeDbPerOct = attributeNumber (*slotElement, "slopeDbPerOct", 12.0);
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
    s.setValue (qvn::settingsKeys::customWeightedRmsPresets, encodeCustomPresets (presets));
    return s.saveIfNeeded();
}

void AppSettings::deleteCustomWeightedRmsPreset (const juce::String& name)
{
    const auto trimmed = name.trim();
    auto presets = customWeightedRmsPresets();
    const auto before = presets.size();

    presets.erase (std::remove_if (presets.begin(), presets.end(),
                                   [&] (const auto& p) { return p.name.equalsIgnoreCase (trimmed); }),
                   presets.end());

    if (presets.size() != before)
        writeValue (qvn::settingsKeys::customWeightedRmsPresets, encodeCustomPresets (presets));
}
