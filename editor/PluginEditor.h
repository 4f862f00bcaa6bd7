#pragma once

#include "processor/PluginProcessor.h"
#include "settings/OffsetTarget.h"
#include "settings/UpdateChecker.h"
#include "ui/LearnHistoryChart.h"
#include "ui/MeterComponents.h"
#include "ui/UiComponents.h"
#include "ui/UiTheme.h"
#include "weighting_editor/CustomWeightedRmsEditor.h"

#include <array>
#include <functional>
#include <cstdint>
#include <memory>
#include <vector>

namespace qvn::uiText
{
/** The texts of the INST placeholder card and of the role-conflict card. */
struct InstPlaceholderCopy
{
    juce::String title;       // first part of the title line, or the whole title
    juce::String roleAccent;  // the role word, drawn in the accent colour (may be empty)
    juce::String roleTail;    // the rest of the title line (may be empty)
    juce::String body;        // the paragraph below the title
};

/** Texts for the given language, conflict state and number of connected Vocal instances. */
InstPlaceholderCopy instPlaceholderCopy (bool japanese, bool conflict, int connectedVocals);

/** The TARGET button's tooltip: the selection (empty name: none) and how to use it. */
juce::String offsetTargetButtonTooltip (int language, const juce::String& name, const juce::String& rangeText);
} // namespace qvn::uiText

/** Makes the inline editor of an editable value label type over the label's
    big number: same place, font and justification, no visible box. */
void styleInlineValueEditor (juce::Label& label, juce::TextEditor& editor);

/** Copies a Learn History snapshot into a chart: the series replaced, the
    length, trim range (ordered, at least one block wide) and finalised flag
    taken when they differ. */
void applyHistorySnapshot (LearnHistoryChart& chart, const QuorvaneProcessor::LearnHistorySnapshot& snapshot);

/** What the trim handlers and the Learn History refresh both do to a chart. */
namespace qvn::historyChart
{
/** The trim range a chart can show: ordered, inside 0..1 and at least one
    block (1 / points) wide, moved back from the end rather than past it. */
juce::Range<float> shownTrim (float start, float end, std::size_t points);

/** A dragged trim as the processor keeps it: ordered, inside 0..1 and never
    narrower than one block, widened towards the end of the series unless
    that passes it. */
juce::Range<float> draggedTrim (float start, float end, std::size_t blocks);

/** The longer of the chart's two series. */
std::size_t points (const LearnHistoryChart& chart);

/** Empties the series and resets the trim range; length, gain curve and
    reference line stay. */
void clear (LearnHistoryChart& chart);

void hideGainCurve (LearnHistoryChart& chart);

/** Takes a snapshot's length, trim range and finalised flag, keeping the
    chart's own series: the handles go where the processor keeps the range. */
void syncTrim (LearnHistoryChart& chart, const QuorvaneProcessor::LearnHistorySnapshot& snapshot);
} // namespace qvn::historyChart

//==============================================================================
/** The plug-in window of one instance.

    The component tree is fixed for the editor's lifetime: every widget, look
    and display cache is a member, built in declaration order. Components that
    the current role does not show are parked (given empty bounds) by the
    layout rather than removed. The looks are declared after the widgets and
    detached from everything before they are destroyed.
*/
class QuorvaneEditor : public juce::AudioProcessorEditor,
                       public juce::Timer,
                       public juce::ChangeListener
{
public:
    explicit QuorvaneEditor (QuorvaneProcessor&);
    ~QuorvaneEditor() override;

    void paint (juce::Graphics&) override;
    void resized() override;
    void setScaleFactor (float newScale) override;
    void timerCallback() override;
    void changeListenerCallback (juce::ChangeBroadcaster*) override;

    /** The open editors of the process, in construction order (message thread only). */
    static std::vector<QuorvaneEditor*>& liveEditors();

    //==============================================================================
    /** An invisible surface that reports a mouse press (ends the rename). */
    class ClickCatcher : public juce::Component
    {
    public:
        ~ClickCatcher() override = default;
        void mouseDown (const juce::MouseEvent&) override;

        std::function<void()> onMouseDown;
    };

    /** A click-to-edit value that shows a faint highlight under the mouse. */
    class HoverEditLabel : public juce::Label
    {
    public:
        HoverEditLabel();
        ~HoverEditLabel() override = default;

        void mouseEnter (const juce::MouseEvent&) override;
        void mouseExit (const juce::MouseEvent&) override;
        void paint (juce::Graphics&) override;

        bool hovered = false;
    };

    /** The call-to-action buttons of the INST card: a green gradient face with
        an arrow at the right (style 0), at the left (style 1) or none (2). */
    class PrimaryCtaButton : public juce::Button
    {
    public:
        explicit PrimaryCtaButton (const juce::String& text, int buttonStyle = 0) : juce::Button (text), style (buttonStyle) {}
        void paintButton (juce::Graphics&, bool highlighted, bool down) override;

        int style = 0;
    };

    /** The display record of one section row (filled by the periodic refresh). */
    struct SectionRowView
    {
        int section = -1;
        float selfLufs = -120.0f;
        float partnerLufs = -120.0f;
        float gainDb = 0.0f;
        float offsetDb = 0.0f;
        float matchDb = 0.0f;
        float seconds = 0.0f;
        float elapsed = 0.0f;
        int linkGroup = 0;
        bool measuring = false;
        bool isShown = false;
        bool hasBoth = false;
        bool frozen = false;
        bool bypass = false;
        bool locked = false;
        bool needsRemeasure = false;
        bool hasVocal = false;
        bool hasInst = false;
        float shownSeconds = 0.0f;

        bool operator== (const SectionRowView&) const = default;
    };

    /** Geometry of the INST placeholder card. */
    struct InstGateGeom
    {
        float centreX = 0.0f;
        juce::Rectangle<float> iconBox;
        juce::TextLayout titleLayout;
        juce::TextLayout bodyLayout;
        juce::Rectangle<int> titleRect, bodyRect, buttonRect;
    };

    //==============================================================================
    // Layout, window size and zoom
    void applyLayoutForNumSections (int numSectionsToShow);
    void layoutMeterRail (juce::Rectangle<int>& area);
    void parkInstComponents();
    void parkSectionRow (int index);
    InstGateGeom computeInstGateGeom (juce::Rectangle<int> area) const;
    void applyUserZoomLocal (float zoom);
    void applyUserZoom (float zoom);

    /** Logical window width for a number of other-Vocal meter columns. */
    static int windowWidthFor (int otherVocalMeters) noexcept;
    /** Horizontal step of one other-Vocal meter column. */
    static int meterColumnStep (int otherVocalMeters) noexcept;
    static constexpr int kWindowHeight = 612;
    static constexpr int kBaseWidth = 972;

    // Role views and texts
    void updateRoleVisibility();
    void refreshRoleTabText();
    juce::String ownVocalTitle() const;
    int currentRole() const;

    // Painting helpers
    void drawSectionBadge (juce::Graphics&, juce::Rectangle<int>, int index, float size) const;
    void paintQuickStart (juce::Graphics&, juce::Rectangle<int> area) const;

    // Other-Vocal meter column bookkeeping
    std::vector<std::shared_ptr<LinkSlot>> visibleOtherVocalSlots() const;
    void rebuildOtherVocalMeters (int count);

    // Operations whose content belongs to the section, menu and refresh code
    void applyMeterRange();
    void applyLearnRange();
    void reloadOffsetTargets();
    void refreshMeterModeUi();
    void rebindOffsetSlider (int section);
    void applyTooltips (int lang);
    void refreshUpdateUI();
    void rebuildSectionViews();

    // Section rows, cards and section actions
    /** Number texts of the window: one decimal, a point whatever the locale. */
    static juce::String fmtOneDecimal (double value);
    /** The same with "+" for 0 and up. */
    static juce::String fmtSigned (double value);
    /** A signed gain followed by " dB". */
    static juce::String fmtGain (float value);
    /** A value rounded to the nearest tenth, ties to the even tenth. */
    static float round1 (float value);
    static const juce::String kEmDash;

    void refreshSectionRows();
    void refreshSectionTexts (int numShown, int shown, bool anyMeasuring);
    void refreshSectionControls (int numShown, int shown, bool anyMeasuring);
    void paintSectionRows (juce::Graphics&);
    void refreshInstView();
    void refreshInstTexts();
    void refreshInstButton();

    // The INST card's handlers and the INST Learn History refresh.
    void initInstHandlers();
    void clickInstMeasureButton();
    void commitTargetLufsText();
    void commitInstOffsetText();
    void instTrimChanged (float start, float end);
    void refreshInstChart();
    bool instLayoutMeasuring = false;
    void initSectionActions();
    void requestSection (int target);

    // The Vocal view's MATCH button, typed Offset Gain, chart trim and chart refresh
    /** The section the Vocal view shows: the measuring one, else the committed one. */
    int displayedSection() const;
    void initVocalGainActions();
    void handleMatchClick();
    void commitTypedOffset();
    void handleSectionTrim (float start, float end);
    void refreshSectionChart();
    int currentSectionParam() const;
    bool sectionsChangedThisTick = false;

    /** Everything the texts of the rows and the detail card are made from; a
        tick whose key equals the last one builds no text. */
    struct RowsTextKey
    {
        std::array<SectionRowView, 16> views {};
        std::array<int, 16> learning {};
        std::array<int, 16> holdTicks {};
        std::array<float, 16> holdValues {};
        std::array<bool, 16> holdActive {};
        int learnHoldTicks = 0, learnHoldSection = -1;
        float learnHoldSeconds = 0.0f;
        int shown = -1, count = -1, mode = -1, lang = -1;
        bool anyMeasuring = false, offsetEditing = false, valid = false;
        bool operator== (const RowsTextKey&) const = default;
    };
    RowsTextKey lastRowsTextKey;

    struct InstTextKey
    {
        float target = 0.0f, measured = 0.0f, matchGain = 0.0f, instOffset = 0.0f;
        bool measuring = false, frozen = false, armed = false, transport = false;
        bool targetEditing = false, offsetEditing = false, valid = false;
        bool operator== (const InstTextKey&) const = default;
    };
    InstTextKey lastInstTextKey;

    //==============================================================================
    // Menus, popups, the update bell and the tooltips. Each menu is built by a
    // function of its own so that its items can be read without showing it;
    // the matching handler acts on a chosen item id (0 = dismissed).
    juce::PopupMenu buildMeasurementModeMenu() const;
    void showMeasurementModePopupMenu();
    void handleMeasurementModeMenuResult (int itemId);
    juce::PopupMenu buildMeterModeMenu() const;
    void showMeterModeMenu();
    void handleMeterModeMenuResult (int itemId);
    void showRmsTimePopup (juce::Rectangle<int> anchorScreenBounds);
    void openCustomWeightingPanel();

    juce::PopupMenu buildOffsetTargetMenu();
    void showOffsetTargetMenu();
    void handleOffsetTargetMenuResult (int itemId);
    void applyOffsetTargetSelection();
    void showOffsetTargetEditPopup (int index, juce::Rectangle<int> anchorScreenBounds);
    bool commitOffsetTargetEdit (const juce::String& oldName, bool editing, const juce::String& name, float lo, float hi);
    void deleteOffsetTarget (const juce::String& oldName);
    juce::String offsetTargetButtonTooltipText (int language) const;
    static juce::String offsetTargetRangeText (const qvn::OffsetTarget&);
    void showRangeEditPopup (bool meterRange, juce::Rectangle<int> anchorScreenBounds);
    void commitRangeEdit (bool meterRange, float lo, float hi);

    juce::PopupMenu buildSettingsMenu() const;
    void showSettingsPopupMenu();
    void handleSettingsMenuResult (int itemId);
    juce::PopupMenu buildBellMenu() const;
    void showBellPopupMenu();
    void handleBellMenuResult (int itemId, const juce::String& releaseUrl);
    void toggleUpdateChecks();
    void initMenuAndPopupHandlers();

    /** Puts a popup in a call-out box inside this editor, closing the one before. */
    juce::CallOutBox* launchCallOut (std::unique_ptr<juce::Component> content, juce::Rectangle<int> anchorScreenBounds);

    static constexpr float kZoomPresets[8] = { 0.5f, 0.75f, 0.9f, 1.0f, 1.1f, 1.25f, 1.5f, 2.0f };

    /** Every web page the editor opens goes through this launcher (by default
        the desktop's opener, xdg-open); tests replace it to see the address. */
    static std::function<void (const juce::String&)>& browserLauncher();
    /** The manual's address from the build settings, empty when none is set. */
    static juce::String manualUrl();

    //==============================================================================
    // Members, in construction order.
    QuorvaneProcessor& proc;
    std::unique_ptr<CustomWeightedRmsEditor> customWeightingPanel;   // created on first opening, destroyed last
    OffsetSlider offsetSlider;

    // Header
    RoleTabButton instTab { "INST" };
    RoleTabButton vocalTab { "VOCAL" };
    juce::TextButton englishToggle { "English" };
    juce::TextButton japaneseToggle { "Japanese" };
    juce::TextEditor renameEditor;
    juce::String renameStartText;
    ClickCatcher clickCatcher;

    // Section list (sidebar)
    std::array<SectionRowButton, 16> sectionRows;
    juce::Viewport sectionListViewport;
    CallbackComponent sectionListContent;
    ChevronNavButton prevSectionButton { false };
    ChevronNavButton nextSectionButton { true };
    juce::Label allCaption { {}, "ALL" };
    SvgIconButton allBypassButton, allResetButton, allLinkButton, allLockButton;

    // Section display state
    struct LearnTimeHold
    {
        int ticks = 0;
        int section = -1;
        float seconds = 0.0f;
    };
    struct MatchHold
    {
        int ticks = 0;
        bool active = false;
        float value = 0.0f;
    };
    int allLinkGroupCycle = 0;
    std::array<SectionRowView, 16> sectionRowViews;
    std::array<SectionRowView, 16> shownRowViewCache;
    LearnTimeHold learnTimeHold;
    std::array<MatchHold, 16> matchHolds {};
    std::array<int, 16> learningTicks {};

    // Action and meter-rail controls
    juce::TextButton linkAllButton { "Link All" };
    ProgressButton matchButton;
    juce::TextButton abToggle { "A/B" };
    juce::TextButton abCopyButton { "A > B" };
    juce::Label sectionCaption { {}, "Section" };
    juce::Label sectionsHeader { {}, "SECTIONS" };
    RailModeButton railModeButton;
    struct MeterModeCache
    {
        int display = -1;
        int mode = -1;
        float rmsTime = -1.0f;
    } meterModeCache;
    struct SectionChartKey
    {
        bool valid = false;
        int section = -1;
        std::uint64_t revision = 0;
        bool locked = false;
        int mode = 0;
        float rmsTime = 0.0f;
        std::uint64_t settingsGeneration = 0;
    } sectionChartKey;
    bool sectionChartWasMeasuring = false;   // a section measurement ran at the chart's last refresh
    juce::Label statusLabel;

    // Section grid: 7 columns x 16 rows of cells, column-major
    enum CellColumn { cellMatch = 0, cellOffset, cellInst, cellLearnTime, cellMatchGain, cellOffsetGain, cellTotal };
    std::array<std::array<juce::Label, 16>, 7> sectionCells;
    std::array<SvgIconButton, 16> rowBypassButtons;
    std::array<SvgIconButton, 16> rowResetButtons;
    std::array<SvgIconButton, 16> rowLinkButtons;
    std::array<SvgIconButton, 16> rowLockButtons;
    juce::Rectangle<int> sidebarHeaderRect, sidebarListRect;
    std::array<juce::Rectangle<int>, 16> rowHighlightRects {}, rowBadgeRects {}, rowBarRects {};
    juce::Rectangle<int> stepperBadgeRect;
    bool lastFollowState = false;
    int lastBlockCount = 0;
    std::unique_ptr<juce::DrawableButton> undoButton, redoButton, sidebarButton;
    bool sidebarVisible = true;
    std::unique_ptr<juce::Drawable> logoDrawable;
    std::unique_ptr<juce::Drawable> titleDrawable;

    // Column captions of the section list
    std::array<juce::Label, 10> columnCaptions;

    // Vocal area
    juce::Label sectionTitle, sectionStatusBadge, learnStatus;
    juce::Label vocalLufsCaption, instLufsCaption;
    juce::Label vocalLufsValue, instLufsValue;
    juce::Label vocalLufsUnit { {}, "LUFS" }, instLufsUnit { {}, "LUFS" };
    juce::Label gainDetailCaption, matchGainCaption;
    juce::Label matchValue;
    juce::Label matchUnit { {}, "dB" };
    juce::Label offsetGainCaption;
    juce::Label offsetUnit { {}, "dB" };
    HoverEditLabel offsetValue;
    juce::Label totalGainCaption;
    juce::Label totalValue;
    juce::Label totalUnit { {}, "dB" };
    juce::Rectangle<int> vocalCardsRect, vocalGainCardRect, vocalChartRect;
    juce::TextButton offsetTargetButton { "TARGET" };
    std::vector<qvn::OffsetTarget> offsetTargets;
    juce::String selectedOffsetTarget;
    bool offsetTargetSelected = false;
    juce::Rectangle<int> offsetTargetAnchor;
    int offsetTargetIndex = 0;
    LearnHistoryChart sectionChart;

    // INST card
    PrimaryCtaButton setInstTargetButton { juce::String::fromUTF8 ("SET INST TARGET LUFS\xe2\x80\xa6") };
    PrimaryCtaButton backToInstStatusButton { "BACK TO INST STATUS", 1 };
    ProgressButton instMeasureButton;
    juce::Label instTargetCaption, instLufsCardCaption;
    HoverEditLabel targetLufsValue;
    juce::Label targetLufsUnit { {}, "LUFS" };
    juce::Label instCardLufsUnit { {}, "LUFS" };
    juce::Label instCardLufsValue;
    juce::Label instMatchCaption, instMatchValue;
    juce::Label instMatchUnit { {}, "dB" };
    juce::Label instOffsetCaption;
    juce::Label instOffsetUnit { {}, "dB" };
    HoverEditLabel instOffsetValue;
    juce::Label instTotalCaption, instTotalValue;
    juce::Label instTotalUnit { {}, "dB" };
    OffsetSlider instOffsetSlider;
    LearnHistoryChart instChart;
    juce::Rectangle<int> instCardsRect, instGainCardRect, instChartRect, instLeftCardRect, instRightCardRect, instSliderRect;
    bool wasInstMeasuring = false;
    std::uint64_t instChartRevision = 0;
    bool instChartValid = false;

    // Meters, zoom and utility controls
    VocalMeterBar ownMeter;
    InstMeterBar partnerMeter;
    std::vector<std::unique_ptr<VocalMeterBar>> otherVocalMeters;
    std::vector<juce::String> otherVocalNames;
    std::vector<int> otherVocalNumbers;
    std::vector<juce::String> shownOtherVocalNames;
    std::vector<int> shownOtherVocalNumbers;
    int otherVocalMeterCount = 0;
    int shownOwnVocalNumber = -1;
    bool layoutFixActive = false;
    int layoutFixCount = 0;
    ResizeGrip zoomGrip;
    float zoomDragStartZoom = 1.0f;
    float zoomDragStartWidth = 0.0f;
    float zoomDragStartHeight = 0.0f;
    float hostScale = 1.0f;
    float userZoom = 1.0f;
    std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment> offsetAttachment;
    std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment> instOffsetAttachment;
    std::unique_ptr<juce::ParameterAttachment> roleAttachment;
    std::unique_ptr<juce::ParameterAttachment> sectionAttachment;
    std::unique_ptr<juce::TooltipWindow> tooltipWindow;
    IconButton settingsButton { "Settings" };
    RClickButton updateBell { "Update" };
    std::shared_ptr<UpdateChecker> updateChecker;

    // Looks, after every widget so that they go first
    FlatLookAndFeel baseLook;
    BellLookAndFeel bellLook;
    OffsetSliderLF sliderLook;
    OffsetTargetButtonLF targetButtonLook;
    LinkAllLF linkAllLook;
    ABToggleLF abLook;
    TitleBtnLF titleButtonLook;
    RoleTabLF roleTabLook;
    LangToggleLF langLook;
    SettingsMenuLF menuLook;
    SquareCallOutBoxLF callOutLook;

    // Last members
    juce::Component::SafePointer<juce::Component> openCallOut;
    int railWidth = 0;
    int railColumnStep = 0;
    juce::Rectangle<int> railRect;
    int railCaptionY = 0;
    int lastRole = -1, lastConflict = -1, lastInstView = -1, lastNumSections = -1, boundOffsetSection = -1;
    int shownSection = 0;
    int lastAB = -1;
    bool wasMeasuring = false;
    int chartSection = -1;

    // Tick caches: what the tick last read from the processor's lists, so that
    // a tick where nothing changed takes no lock and allocates nothing.
    std::vector<std::shared_ptr<LinkSlot>> linkedOtherVocals;
    std::uint64_t linkedOtherVocalsGeneration = ~std::uint64_t {};
    std::vector<std::shared_ptr<LinkSlot>> tickVisibleOthers;
    std::shared_ptr<LinkSlot> linkedInstSlot;
    std::uint64_t linkedInstGeneration = ~std::uint64_t {};
    std::vector<std::shared_ptr<const std::string>> otherVocalNameSources;
    struct TitleKey
    {
        bool valid = false;
        int role = -1;
        const std::string* name = nullptr;
        int number = -1;
        std::uint64_t others = 0;
        bool operator== (const TitleKey&) const = default;
    } titleKey;
    std::shared_ptr<const std::string> titleNameSource;
    int statusKind = -1, statusCount = -1;
    juce::RangedAudioParameter* roleParameter = nullptr;

    // Header actions
    void startInstanceRename();
    void commitInstanceRename (bool commit);
    void updateRenameEditorFont();
    void selectLanguage (int lang);
    void toggleSidebar();

    // Periodic refresh steps
    const std::vector<std::shared_ptr<LinkSlot>>& tickOtherVocalSlots();
    void refreshLinkedInstSlot();
    void refreshABControls();
    void refreshVocalMeters();
    void refreshOtherVocalBars();
    void refreshMeasureStates();
    void runInstDuties();
    void refreshInstMeters();
    void resetAllMeters();
    void resetOwnMeterOnly();
    void resetInstPartnerMeter();
    void resetOtherVocalMeter (int index);

private:
    void initCaptionLabel (juce::Label&, const juce::String& text, bool makeVisible);
    void initOffsetAndRoleControls();
    void initMeterBars();
    void initSectionListAndStepper();
    void initMatchAndMeterLabels();
    void initSectionLabels();
    void initDetailCard();
    void initOffsetTargetButton();
    void initInstCard();
    void initSectionIconsAndFooter();
    void initHeaderButtons();
    void initStatusAndUtility();
    void initHeaderActions();

    void layoutVocalColumn (juce::Rectangle<int> body);
    void layoutSidebar (juce::Rectangle<int>& body);
    void layoutInstTargetView (juce::Rectangle<int> body);
    void parkVocalComponents();
    void refreshStatusLine();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuorvaneEditor)
};
