#pragma once

#include <juce_data_structures/juce_data_structures.h>
#include <juce_events/juce_events.h>

#include "dsp/CustomWeightedRmsSettings.h"
#include "settings/OffsetTarget.h"
#include "settings/SettingsFile.h"

#include <memory>
#include <vector>

namespace qvn
{

// Keys of the user settings file. Keys are case-sensitive.
namespace settingsKeys
{
    inline constexpr const char* updateChecksEnabled        = "updateChecksEnabled";
    inline constexpr const char* sidebarVisible             = "sidebarVisible";
    inline constexpr const char* editorZoom                 = "editorZoom";
    inline constexpr const char* zoomLinked                 = "zoomLinked";
    inline constexpr const char* linkMeasurementToTransport = "linkMeasurementToTransport";
    inline constexpr const char* meterRangeMin              = "meterRangeMin";
    inline constexpr const char* meterRangeMax              = "meterRangeMax";
    inline constexpr const char* learnRangeMin              = "learnRangeMin";
    inline constexpr const char* learnRangeMax              = "learnRangeMax";
    inline constexpr const char* offsetTargets              = "offsetTargets";
    inline constexpr const char* customWeightedRmsPresets   = "customWeightedRmsPresets";
    inline constexpr const char* lastUpdateCheckUnix        = "lastUpdateCheckUnix";
    inline constexpr const char* latestSeenVersion          = "latestSeenVersion";
    inline constexpr const char* latestSeenUrl              = "latestSeenUrl";
    inline constexpr const char* lastFetchStatus            = "lastFetchStatus";
    inline constexpr const char* lastFetchBodySnippet       = "lastFetchBodySnippet";
    inline constexpr const char* lastFetchAttemptUnix       = "lastFetchAttemptUnix";
}

inline constexpr float kDefaultMeterRangeMin = -36.0f;
inline constexpr float kDefaultMeterRangeMax = 0.0f;
inline constexpr float kDefaultLearnRangeMin = -30.0f;
inline constexpr float kDefaultLearnRangeMax = -6.0f;
inline constexpr double kDefaultEditorZoom = 1.0;
inline constexpr int kMaxCustomPresetNameLength = 48;

// A display range in dB (meter bars or Learn History charts).
struct DisplayRange
{
    float low = 0.0f;
    float high = 0.0f;
};

// The rule every reader and writer of a display range applies: non-finite
// ends take their defaults, the ends are ordered, low lies in -100..-3 and
// high in low+3..0.
DisplayRange sanitiseDisplayRange (float low, float high, float defaultLow, float defaultHigh);

// A stored zoom factor limited to 0.5..2.0 (a value that is not a number
// reads as the default 1.0).
double sanitiseEditorZoom (double zoom);

} // namespace qvn

// A user preset of the custom weighting.
struct NamedCustomWeightedRmsPreset
{
    juce::String name;                    // trimmed, at most 48 characters
    CustomWeightedRmsSettings settings;   // always normalized
};

// The one per-user settings store of the process, shared by every instance,
// every editor and the update check. Every write is saved to disk at once.
//
// Readers on this class apply the defaults and the sanitising rules of each
// key, so callers should prefer them over raw reads through `properties`.
class AppSettings : public juce::DeletedAtShutdown
{
public:
    // The single store; created (and its file opened) on first use. Safe to
    // call from any thread except the audio thread.
    static AppSettings& get();

    ~AppSettings() override;

    // The owner of the settings file, opened when the store is created (so
    // it is never opened lazily from two threads at once). Reads go through
    // getUserSettings() and the typed getters of juce::PropertySet; a direct
    // write is setValue() followed by saveIfNeeded().
    class Properties
    {
    public:
        SettingsFile* getUserSettings() const noexcept { return file.get(); }

    private:
        friend class AppSettings;
        std::unique_ptr<SettingsFile> file;
    };

    Properties properties;

    // Where the settings file lives for the current user.
    static juce::File settingsFileLocation();

    //==========================================================================
    // Typed readers (defaults and sanitising rules applied).
    bool updateChecksEnabled();
    bool sidebarVisible();
    double editorZoom();
    bool zoomLinked();
    bool linkMeasurementToTransport();
    qvn::DisplayRange meterRange();
    qvn::DisplayRange learnRange();
    std::vector<qvn::OffsetTarget> offsetTargets();
    juce::int64 lastUpdateCheckUnix();
    juce::String latestSeenVersion();
    juce::String latestSeenUrl();

    //==========================================================================
    // Writers; each saves the file at once.
    void setUpdateChecksEnabled (bool enabled);
    void setSidebarVisible (bool visible);
    void setEditorZoom (double zoom);
    void setZoomLinked (bool linked);
    void setLinkMeasurementToTransport (bool linked);
    void setMeterRange (float low, float high);
    void setLearnRange (float low, float high);
    void setLastUpdateCheckUnix (juce::int64 secondsSince1970);
    void setLatestSeen (const juce::String& version, const juce::String& url);
    void setLastFetchStatus (const juce::String& status);
    void setOffsetTargets (const std::vector<qvn::OffsetTarget>& targets);

    //==========================================================================
    // Custom-weighting user presets.
    std::vector<NamedCustomWeightedRmsPreset> customWeightedRmsPresets();
    bool saveCustomWeightedRmsPreset (const juce::String& name, CustomWeightedRmsSettings settings);
    void deleteCustomWeightedRmsPreset (const juce::String& name);

    // Writes one key and saves the file at once.
    void writeValue (const juce::String& key, const juce::var& value);

private:
    AppSettings();

    SettingsFile& userSettings();

    JUCE_DECLARE_NON_COPYABLE (AppSettings)
};
