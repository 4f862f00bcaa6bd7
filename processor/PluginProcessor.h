#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "dsp/CustomWeightedRmsMeter.h"
#include "dsp/CustomWeightedRmsSettings.h"
#include "dsp/LoudnessMeter.h"
#include "processor/LinkSlot.h"
#include "processor/SectionAutomationSink.h"
#include "processor/Vst3ControllerExtensions.h"

#include <array>
#include <cmath>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

/** True when resetting would change what a section slot holds. */
bool slotMeasurementWouldChange (const SectionSlot& slot);

/** Identifiers of the host parameters that are not per section. The Offset
    ids ("offset_A" .. "offset_P") are built where they are needed. */
namespace ids
{
inline constexpr const char* role = "role";
inline constexpr const char* section = "section";
inline constexpr const char* targetLufs = "targetLufs";
inline constexpr const char* instOffset = "instOffset";
} // namespace ids

/** The audio processor of one plug-in instance and the owner of all its state.

    Most members are public: the editor polls and writes many of them directly,
    and the link registry works on them under its own mutex. Members marked
    "audio thread" are touched only by processBlock, the automation sink calls
    of the same thread and prepareToPlay.
*/
class QuorvaneProcessor : public juce::AudioProcessor,
                          public qvn::SectionAutomationSink,
                          public juce::AudioProcessorValueTreeState::Listener,
                          public juce::AsyncUpdater,
                          public qvn::Vst3ControllerExtensions // the VST3 controller's IAutomationState
{
public:
    static constexpr int numSectionSlots = 16;
    static constexpr int automationQueueSize = 64;

    //==============================================================================
    /** One section (A..P). Scalars are atomics, the lists are guarded by
        analysisMutex. Copyable so that undo snapshots can hold sections. */
    struct SectionState
    {
        SectionState() = default;
        SectionState (const SectionState& other);
        SectionState& operator= (const SectionState& other);

        std::atomic<bool> frozen { false };
        std::atomic<float> selfLufs { -120.0f };
        std::atomic<float> partnerLufs { -120.0f };
        std::atomic<float> gainDb { 0.0f };
        std::atomic<float> seconds { 0.0f };
        std::atomic<float> analysisSeconds { 0.0f };
        std::atomic<float> trimStart { 0.0f };
        std::atomic<float> trimEnd { 1.0f };
        std::vector<double> selfHistory;
        std::vector<double> partnerHistory;
        std::shared_ptr<const std::vector<AnalysisFrame>> selfFrames;
        std::shared_ptr<const std::vector<AnalysisFrame>> partnerFrames;
        std::shared_ptr<const std::vector<CustomRmsFrame>> customSelfFrames;
        std::shared_ptr<const std::vector<CustomRmsFrame>> customPartnerFrames;
        std::atomic<bool> needsRemeasure { false };
        std::atomic<bool> bypass { false };
        std::atomic<bool> locked { false };
        std::atomic<int> linkGroup { 0 };
    };

    /** The measuring state an instance keeps for one entry of its partner
        list; only the Inst instance feeds it. */
    struct PerVocalState
    {
        std::shared_ptr<LinkSlot> slot;
        std::array<LoudnessMeter, numSectionSlots> meters;
        int seenStartCounter = 0;
        std::array<CustomWeightedRmsMeter, numSectionSlots> customMeters;
        int seenStopCounter = 0;
        int measuringSection = -1;
        std::uint64_t settingsSerial = 0;       // weighting hand-over the custom meters were given
    };

    /** A complete copy of the user-visible state of one instance, used by undo,
        redo and the A/B slots. The default is the state of a fresh instance. */
    struct UndoSnapshot
    {
        std::array<SectionState, numSectionSlots> sections;
        bool linkOffsets = false;
        int sectionIdx = 0;
        int measMode = 0;
        float rmsTime = 3.0f;
        CustomWeightedRmsSettings customSettings;
        std::uint64_t customSettingsGeneration = 1;
        std::array<float, numSectionSlots> offsets {};
        float targetLufs = -18.0f;
        float instOffset = 0.0f;
        float instMatchGain = 0.0f;
        bool instFrozen = false;
        float instMeasuredLufs = -120.0f;
        float instTrimStart = 0.0f;
        float instTrimEnd = 1.0f;
        float instAnalysisSeconds = 0.0f;
        std::vector<double> instHistory;
    };

    /** Chart data of one Learn History view, built by value for the editor. */
    struct LearnHistorySnapshot
    {
        bool valid = false;
        bool finalised = false;
        float trimStart = 0.0f;
        float trimEnd = 1.0f;
        float lengthSeconds = 0.0f;
        std::vector<float> selfSeries;
        std::vector<float> partnerSeries;
        std::vector<bool> belowGate;
    };

    /** The run of a section measurement that follows the current section. */
    struct SectionRun
    {
        int runSection = -1;
        int candidate = -1;
        int candidateSamples = 0;
        bool candidateFromEditor = false;
    };

    /** The machine that turns the section parameter and the editor's requests
        into the committed section. */
    struct SectionCommit
    {
        bool initialised = false;
        int committed = 0;
        int pendingSection = -1;
        int pendingSamples = 0;
        std::int64_t lastPosition = -1;
        int preWrapSection = -1;
        std::int64_t wrapPosition = -1;
        int firstPostWrapSection = -1;
        int wrapCandidate = -1;
        int wrapCandidateSamples = 0;
        int seenRequestSerial = 0;
        int requestTimeout = 0;
        bool requestMatched = false;
        int requestHeldSamples = 0;
    };

    /** A gain ramp that may run over several blocks: linear gains `from` ->
        `to` over `length` samples beginning at `start`, counted from the first
        sample of the next block to process (negative once it has begun,
        beyond the block while it waits for a point at the block's end). */
    struct GainRamp
    {
        float from = 1.0f;
        float to = 1.0f;
        int start = 0;
        int length = 0;

        /** Linear gain of a dB value: 0 at or below -100 dB, 1 when not finite. */
        static float linear (float db) noexcept
        {
            const auto g = db > -100.0f ? std::pow (10.0f, db / 20.0f) : 0.0f;
            return std::isfinite (g) ? g : 1.0f;
        }

        /** The linear gain the ramp gives at sample i of the coming block. */
        float gainAt (int i) const noexcept
        {
            if (i < start)
                return from;

            if (i >= start + length || length <= 0)
                return to;

            return from + (float) (i - start) * (to - from) / (float) length;
        }
    };

    struct SectionPoint
    {
        int sampleOffset = 0;
        int section = 0;
    };

    struct OffsetPoint
    {
        int sampleOffset = 0;
        int section = 0;
        float offsetDb = 0.0f;
    };

    template <typename Point>
    struct PointQueue
    {
        std::array<Point, automationQueueSize> points {};
        int count = 0;

        void clear() noexcept { count = 0; }

        /** A point at the offset of the last one replaces it; a full queue keeps
            overwriting its last entry. */
        void push (const Point& p) noexcept
        {
            if (count > 0 && points[(size_t) count - 1].sampleOffset == p.sampleOffset)
                points[(size_t) count - 1] = p;
            else if (count < automationQueueSize)
                points[(size_t) count++] = p;
            else
                points[automationQueueSize - 1] = p;
        }
    };

    //==============================================================================
    QuorvaneProcessor();
    ~QuorvaneProcessor() override;

    const juce::String getName() const override { return "QUORVANE"; }
    void prepareToPlay (double sampleRate, int samplesPerBlock) override;
    void releaseResources() override;
    void processBlockBypassed (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    using juce::AudioProcessor::processBlockBypassed;
    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    double getTailLengthSeconds() const override { return 0.0; }
    bool acceptsMidi() const override { return false; }
    bool producesMidi() const override { return false; }
    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override { return true; }
    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int) override {}
    const juce::String getProgramName (int) override { return {}; }
    void changeProgramName (int, const juce::String&) override {}
    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;
    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;

    void beginSectionAutomationBlock() override;
    void pushSectionAutomationPoint (int sampleOffset, float normalisedValue) override;
    void pushOffsetAutomationPoint (int section, int sampleOffset, float normalisedValue) override;
    void setHostAutomationState (int state) override;

    void parameterChanged (const juce::String& parameterID, float newValue) override;
    void handleAsyncUpdate() override;

    //==============================================================================
    /** The role as the raw "role" value truncated: 0 none, 1 Inst, 2 Vocal. */
    int getRole() const noexcept;

    /** Offset Gain of a section in dB (section clamped to 0..15; 0 when the
        parameter does not exist). Any thread. */
    float getSectionOffset (int section) const;

    /** Lowest section whose own-side slot is measuring, else -1. Any thread. */
    int measuringSectionIndex() const;

    /** Stores the selected Offset Target's name, trimmed and cut to 24 characters. */
    void setOffsetTargetName (const juce::String& name);

    /** Installs a new partner list; called only by the link registry. */
    void setPartnerSlots (std::vector<std::shared_ptr<LinkSlot>> slots);

    /** Stores the trimmed instance name and publishes it in ownSlot. */
    void setInstanceName (const juce::String& name);

    /** Inst Offset in dB (0 when the parameter is missing). */
    float getInstOffsetDb() const noexcept;

    /** Target LUFS (-18 when the parameter is missing). */
    float getTargetLufs() const noexcept;

    //==============================================================================
    // Section measurement control, INST result and Learn History

    /** Starts measuring a section (0..15, checked by the caller): other sections
        stop measuring without a stop, both slots of the section are cleared and
        the start counter moves last. Message or audio thread. */
    void kickSectionMeasurement (int section);

    /** Starts measuring an unlocked section from no result: drops its result
        and analysis (the trim stays), then kicks the run. Message thread (the
        MATCH button, or the asynchronous update once playback began). */
    void beginSectionMeasurement (int section);

    /** Resets one unlocked section: result, analysis, trim, link group and
        Offset Gain; a measurement of it that is running is cancelled. */
    void resetSectionMeasurementNoUndo (int section);

    /** Sets the link group (clamped to 0..3) of every unlocked section, with
        one undo step when anything changes. */
    void setAllSectionLinkGroup (int group);

    /** Finishes the INST measurement of the last stop count once. */
    void finalizeInst();

    /** Stops the INST measurement: clears instMeasuring, records which start
        the stop ends, then moves the stop counter. Any thread. */
    void stopInstMeasurement() noexcept;

    /** Starts an INST measurement at once: drops the earlier result (with its
        level and Match Gain) and its history, moves the start counter and sets
        instMeasuring. Message thread (the editor, or the asynchronous update
        after playback began). */
    void startInstMeasurement();

    /** Clears a section's stored analysis under analysisMutex. */
    void resetSectionAnalysis (int section, bool resetTrim);

    /** Computes a section's levels, length and gain over its trim range in the
        current measurement mode. The caller holds analysisMutex. */
    bool recomputeSectionFromTrim (int section);

    LearnHistorySnapshot getLearnHistorySnapshot (int section) const;
    LearnHistorySnapshot getInstLearnHistorySnapshot() const;

    //==============================================================================
    // Measurement settings
    void applyMeasurementSettings (int mode, float rmsTime);
    void applyCustomWeightedRmsSettings (const CustomWeightedRmsSettings& settings, float rmsTime, std::uint64_t generation);
    void cancelActiveMeasurementsForSettingsChange();

    /** The editors' changes: an undo step, a cancel of running section
        measurements on every active instance, the local apply and a broadcast
        to the others. An unchanged value does nothing. Message thread. */
    void setRmsTimeSecFromUi (float seconds);
    void setCustomWeightedRmsSettingsFromUi (const CustomWeightedRmsSettings& settings, float rmsTime);

    /** True when any section holds a Custom RMS frame list of either side. */
    bool hasAnyCustomMeasurementResults() const;

    //==============================================================================
    // Undo snapshots
    UndoSnapshot captureSnapshot() const;
    void pushUndoSnapshot();

    /** Puts a snapshot back as the live state (message thread). Every value is
        clamped to its legal range first; role, names, UI settings, the A/B
        slots and the stacks are left alone. */
    void restoreSnapshot (const UndoSnapshot& snap);

    /** The editor's undo and redo: one entry moves between the two stacks.
        Nothing happens when the stack to take from is empty. Message thread. */
    void undo();
    void redo();

    /** A/B: selecting the other slot records an undo step, keeps the live state
        in the active slot and restores the chosen one; copying records an undo
        step and puts the live state into the inactive slot. Message thread;
        the slots are shared with the state reader and writer under abMutex. */
    void selectABSlot (int slot);
    void copyToOtherABSlot();
    UndoSnapshot getABSlot (int slot) const;

    /** Sets another section's Offset Gain for a linked edit (clamped to
        -12..12); a locked section is left alone. The caller holds
        internalParamWrite. */
    void applyLinkedOffset (int section, float offsetDb);

    //==============================================================================
    juce::AudioProcessorValueTreeState parameters;

    std::atomic<bool> linkOffsets { false };
    std::atomic<bool> offsetDragAllSections { false };
    std::atomic<int> numSections { 16 };
    std::atomic<bool> showTooltips { false };
    std::atomic<int> tooltipLang { 1 };
    std::atomic<int> meterDispMode { 1 };
    std::atomic<int> measMode { 0 };
    std::atomic<float> rmsTimeSec { 3.0f };
    std::atomic<int> hiddenVocalMask { 0 };

    std::atomic<float> meterVocalShortTerm { -120.0f };
    std::atomic<float> meterVocalShortTermPostGain { -120.0f };
    std::atomic<float> meterVocalMomentary { -120.0f };
    std::atomic<float> meterInstMomentary { -120.0f };
    std::atomic<float> meterVocalMomentaryPostGain { -120.0f };
    std::atomic<float> meterVocalRms { -120.0f };
    std::atomic<float> meterInstRms { -120.0f };
    std::atomic<float> meterVocalRmsPostGain { -120.0f };
    std::atomic<float> meterVocalIntegratedPostGain { -120.0f };
    std::atomic<float> meterInstIntegrated { -120.0f };
    std::atomic<float> meterTargetLevel { -120.0f };
    std::atomic<float> meterVocalHistogramPostGain { -120.0f };
    std::atomic<float> meterVocalHistogram { -120.0f };

    std::atomic<float> vocalPeakLeftDb { -120.0f };
    std::atomic<float> vocalPeakRightDb { -120.0f };
    std::atomic<float> instPeakLeftDb { -120.0f };
    std::atomic<float> instPeakRightDb { -120.0f };

    std::atomic<bool> hasPartner { false };
    std::atomic<int> partnerCount { 0 };
    std::atomic<bool> roleConflict { false };

    std::array<LoudnessMeter, numSectionSlots> sectionMeters;
    LoudnessMeter liveShortTermMeter;
    std::array<CustomWeightedRmsMeter, numSectionSlots> sectionCustomMeters;
    CustomWeightedRmsMeter liveCustomMeter;
    LoudnessMeter liveMomentaryMeter;
    int liveIntegratedSection = -1;                       // audio thread

    std::array<SectionState, numSectionSlots> sections;

    LoudnessMeter instMeter;
    std::atomic<bool> instMeasuring { false };
    std::atomic<bool> instFrozen { false };
    std::atomic<float> instMeasuredLufs { -120.0f };
    std::atomic<float> instMatchGain { 0.0f };
    std::atomic<float> instAnalysisSeconds { 0.0f };
    std::atomic<float> instTrimStart { 0.0f };
    std::atomic<float> instTrimEnd { 1.0f };
    std::vector<double> instHistory;                      // guarded by analysisMutex
    std::atomic<float> instLiveMomentary { -120.0f };
    std::atomic<int> instStartCounter { 0 };
    std::atomic<int> instStopCounter { 0 };
    std::atomic<int> instStopEndsStart { 0 };             // the INST start count the last stop ends
    std::atomic<int> instFinalizedStop { 0 };
    std::atomic<bool> instFinalizeBusy { false };
    std::atomic<bool> targetLufsChanged { false };
    int seenInstStartCounter = 0;                         // audio thread
    int seenInstStopCounter = 0;                          // audio thread
    bool instMeterActive = false;                         // audio thread
    float instGainDb = 0.0f;                              // audio thread
    GainRamp instGainRamp;                                // audio thread
    bool instMeasuringLastBlock = false;                  // audio thread
    int instFinalizeWaitTicks = 0;                        // editor only
    std::atomic<bool> instTargetUiOpen { false };
    std::atomic<float>* instOffsetValue = nullptr;
    std::atomic<float>* targetLufsValue = nullptr;

    int seenStartCounter = 0;                             // audio thread
    int seenStopCounter = 0;                              // audio thread
    int seenMeterResetCounter = 0;                        // audio thread
    int ownMeasuringSection = -1;                         // audio thread
    std::array<float, numSectionSlots> stoppedRunSeconds {}; // audio thread: length of each section's last published run
    SectionRun sectionRun;                                // audio thread
    std::atomic<bool> runHeldOpen { false };
    std::atomic<bool> linkMeasurementToTransport { false };
    std::atomic<bool> armedSectionStart { false };
    std::atomic<int> deferredSectionIndex { -1 };
    std::atomic<bool> armedInstStart { false };
    std::atomic<bool> playHeadSeen { false };
    std::atomic<bool> deferredSectionStart { false };
    std::atomic<bool> deferredInstStart { false };

    bool uiCommitThisBlock = false;                       // audio thread
    SectionCommit sectionCommit;                          // audio thread
    std::atomic<int> committedSection { 0 };
    std::atomic<int> hostAutomationState { 0 };
    std::atomic<bool> followAutomation { false };
    std::atomic<int> followAutomationTicks { 0 };
    std::int64_t playbackSamples = 0;                     // audio thread
    bool pointFollow = false;                             // audio thread
    std::atomic<int> editorSectionEcho { -1 };
    int sectionChangeCount = 0;                           // audio thread
    std::atomic<int> hostStateReports { 0 };
    std::atomic<int> uiSectionRequest { -1 };
    std::atomic<int> uiSectionRequestSerial { 0 };

    std::atomic<bool> internalParamWrite { false };
    std::array<std::atomic<float>, numSectionSlots> storedOffsets {};
    std::atomic<std::uint32_t> offsetChangedMask { 0 };
    std::atomic<std::uint32_t> offsetRevertMask { 0 };
    std::atomic<bool> roleChangePending { false };
    std::atomic<bool> instOffsetChangePending { false };
    std::atomic<bool> hostPlaying { false };
    std::atomic<std::thread::id> processCallThread {};    // the thread inside a process call, else none
    std::atomic<bool> asyncUpdateDeferred { false };      // a listener request waits for the end of the call
    int samplesSinceAsyncUpdate = 0;                      // audio thread
    std::array<std::uint32_t, numSectionSlots> lastRevertTimeMs {};

    std::atomic<std::uint64_t> revisionCounter { 0 };
    std::array<std::atomic<std::uint64_t>, numSectionSlots + 1> historyRevision {};

    float sectionGainDb = 0.0f;                           // audio thread
    GainRamp sectionGainRamp;                             // audio thread
    int gainSection = -1;                                 // audio thread
    bool gainSectionWasMeasured = false;                  // audio thread
    PointQueue<SectionPoint> sectionAutomationQueue;      // audio thread
    bool blockAnnounced = false;                          // audio thread
    PointQueue<OffsetPoint> offsetAutomationQueue;        // audio thread
    std::array<float, 4> peakHold {};                     // audio thread

    std::shared_ptr<LinkSlot> ownSlot;
    std::vector<std::shared_ptr<LinkSlot>> partnerSlots;  // guarded by partnerMutex
    std::atomic<std::uint64_t> partnerGeneration { 0 };
    std::vector<std::shared_ptr<LinkSlot>> otherVocalSlots; // guarded by partnerMutex
    std::atomic<std::uint64_t> otherVocalGeneration { 0 };  // moves (under partnerMutex) whenever otherVocalSlots is rewritten
    juce::String instanceName;                            // guarded by partnerMutex
    juce::String offsetTarget;                            // guarded by partnerMutex
    mutable std::mutex partnerMutex;
    std::vector<std::shared_ptr<LinkSlot>> audioPartnerSlots; // audio thread
    std::uint64_t seenPartnerGeneration = ~std::uint64_t {};  // audio thread
    std::uint64_t seenSettingsSerial = ~std::uint64_t {};     // audio thread
    mutable std::mutex analysisMutex;
    mutable std::mutex settingsMutex;
    CustomWeightedRmsSettings customSettings;             // guarded by settingsMutex
    std::atomic<std::uint64_t> customSettingsGeneration { 1 };
    std::atomic<std::uint64_t> customSettingsSerial { 0 };  // moves on every change of the two above, under settingsMutex
    std::vector<std::unique_ptr<PerVocalState>> perVocalStates; // audio thread
    double preparedSampleRate = 44100.0;                  // written under partnerMutex

    std::vector<UndoSnapshot> undoStack;
    std::vector<UndoSnapshot> redoStack;
    bool offsetDragActive = false;
    bool instOffsetDragActive = false;
    std::uint32_t offsetUndoTimeMs = 0;
    std::uint32_t instOffsetUndoTimeMs = 0;
    std::atomic<bool> rmsTimeDragActive { false };
    std::atomic<bool> rmsTimeDragUndoPending { false };
    std::array<UndoSnapshot, 2> abSlots;                  // guarded by abMutex
    std::atomic<int> currentAB { 0 };                     // written under abMutex
    mutable std::mutex abMutex;
    std::atomic<float> storedInstOffset { 0.0f };         // last accepted Inst Offset
    std::atomic<int> stateRestoresInFlight { 0 };         // setStateInformation calls running

    static juce::String offsetParameterId (int section);

private:
    static juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout();

    void renewHistoryRevision (int index) noexcept;
    void endRunsBeforeRestore();

    // Undo steps, link propagation and put-backs of Offset Gain and Inst
    // Offset edits; the message-thread part of handleAsyncUpdate.
    void handleOffsetEdits();
    UndoSnapshot captureSnapshotBefore (std::uint32_t heldOffsetMask, bool holdInstOffset) const;
    void pushUndoStep (UndoSnapshot snap);
    void setParameterNotifying (const juce::String& id, float value);
    // Stages of processBlock (audio thread)
    void runTransportLink (bool playing, bool wasPlaying);
    int runSectionCommit (int target, bool playing, bool wasPlaying, bool looping, std::int64_t position, int numSamples);
    void runVocalRunSwitch (int committed, int numSamples, bool playing);
    void runInstMeasurement (const juce::AudioBuffer<float>& view);
    void finishInstStop();
    void startInstRun (int start);
    void syncPartnersAndSettings();
    void measureOwnSide (const juce::AudioBuffer<float>& view, double sampleRate);
    void beginOwnRun (int start, bool endedAlready);
    void handleOwnStop();
    void measureInstSide (const juce::AudioBuffer<float>& view, double sampleRate);
    void beginInstSideRun (PerVocalState& e, int start, bool endedAlready);
    void handleInstSideStop (PerVocalState& e);
    void pickUpSectionResults();
    // Drops a section's result (levels, gain, length, frozen) with anything a
    // finished run left in its two slots: once the section is no longer
    // frozen, that run must not be taken over again. analysisMutex held.
    void dropSectionResultLocked (int section);
    void resetSectionAnalysisLocked (int section, bool resetTrim); // analysisMutex held

    // Gain application and live metering stages (audio thread)
    void resetLiveMeters() noexcept;
    void runInstGainStage (juce::AudioBuffer<float>& view);
    float currentMatchGainDb() const noexcept;
    float instGainTargetDb (bool measuring) const noexcept;
    void runLiveMeters (const juce::AudioBuffer<float>& view);
    const LinkSlot* chooseReferencePartner (int role) const noexcept;
    void runLiveIntegrated (const juce::AudioBuffer<float>& view, int role, const LinkSlot* reference);
    void refreshSectionGains();
    float offsetInForce (int section) const noexcept;
    void runSectionGainStage (juce::AudioBuffer<float>& view, int role, int committed);
    void publishDisplayValues (const juce::AudioBuffer<float>& view, int role, int committed, const LinkSlot* reference);
    void requestUpdateFromListener();
    void postDeferredUpdate (int numSamples, bool playing);

    std::unique_ptr<PerVocalState> makePerVocalState (std::shared_ptr<LinkSlot> slot, double sampleRate,
                                                      const CustomWeightedRmsSettings& settings,
                                                      std::uint64_t generation) const;
    void cancelRunningMeasurementsForRestart();
    void releaseRetiredPartnerState();

    // Per-partner measuring state is built off the audio thread when a partner
    // is linked and adopted by the audio thread; states it drops are handed back
    // to be freed off the audio thread too. Both lists are guarded by partnerMutex.
    std::vector<std::unique_ptr<PerVocalState>> preparedVocalStates;
    std::vector<std::unique_ptr<PerVocalState>> retiredVocalStates;
    std::vector<std::shared_ptr<LinkSlot>> retiredPartnerSlots;
    std::uint64_t preparedSettingsGeneration = 0;           // guarded by partnerMutex

    std::atomic<float>* roleValue = nullptr;
    std::atomic<float>* sectionValue = nullptr;
    std::array<std::atomic<float>*, numSectionSlots> offsetValues {};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuorvaneProcessor)
};
