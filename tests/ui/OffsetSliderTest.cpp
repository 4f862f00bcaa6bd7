#include <gtest/gtest.h>

#include "ui/UiComponents.h"
#include "UiTestUtils.h"

#include <string>
#include <vector>

using namespace qvn::uitest;

namespace
{
// A slider as the editor builds it: -12..+12 dB in 0.1 dB steps, 432 px wide
// so that its track is 400 px long (16 px kept free at each end).
struct SliderFixture : ::testing::Test
{
    SliderFixture()
    {
        slider.setLookAndFeel (&lf);
        slider.setSliderStyle (juce::Slider::LinearHorizontal);
        slider.setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);
        slider.setRange (-12.0, 12.0, 0.1);
        slider.setValue (0.0, juce::dontSendNotification);
        slider.setBounds (0, 0, 432, 40);
        slider.setVisible (true);

        slider.onDragStart = [this] { log.push_back ("start"); };
        slider.onDragEnd = [this] { log.push_back ("end"); };
        slider.onAllSectionsDrag = [this] (bool on) { log.push_back (on ? "all on" : "all off"); };
    }

    ~SliderFixture() override { slider.setLookAndFeel (nullptr); }

    float xOf (double value) { return slider.getPositionOfValue (value); }

    juce::ScopedJuceInitialiser_GUI gui;
    OffsetSliderLF lf;
    OffsetSlider slider;
    std::vector<std::string> log;
};

using Log = std::vector<std::string>;
} // namespace

//==============================================================================
TEST_F (SliderFixture, ThreeZoneMappingBothWays)
{
    const struct { double proportion, value; } table[] = {
        { 0.0, -12.0 },
        { 1.0 / 12.0, -9.0 },
        { 1.0 / 6.0, -6.0 },
        { 1.0 / 3.0, -3.0 },
        { 0.5, 0.0 },
        { 2.0 / 3.0, 3.0 },
        { 5.0 / 6.0, 6.0 },
        { 11.0 / 12.0, 9.0 },
        { 1.0, 12.0 },
    };

    for (auto& row : table)
    {
        SCOPED_TRACE (row.value);
        EXPECT_NEAR (slider.proportionOfLengthToValue (row.proportion), row.value, 1e-12);
        EXPECT_NEAR (slider.valueToProportionOfLength (row.value), row.proportion, 1e-12);
    }

    // Out-of-range input is clamped.
    EXPECT_DOUBLE_EQ (slider.proportionOfLengthToValue (-0.5), -12.0);
    EXPECT_DOUBLE_EQ (slider.proportionOfLengthToValue (1.5), 12.0);
    EXPECT_DOUBLE_EQ (slider.valueToProportionOfLength (-30.0), 0.0);
    EXPECT_DOUBLE_EQ (slider.valueToProportionOfLength (30.0), 1.0);

    // Another range strictly beyond +-6: the outer sixths stretch.
    slider.setRange (-24.0, 18.0, 0.1);
    EXPECT_NEAR (slider.proportionOfLengthToValue (1.0 / 12.0), -15.0, 1e-12);
    EXPECT_NEAR (slider.proportionOfLengthToValue (11.0 / 12.0), 12.0, 1e-12);
    EXPECT_NEAR (slider.valueToProportionOfLength (0.0), 0.5, 1e-12);
}

TEST_F (SliderFixture, RangesNotStrictlyBeyondSixAreLinear)
{
    for (auto [lo, hi] : { std::pair { -6.0, 6.0 }, { -12.0, 6.0 }, { -6.0, 12.0 }, { 0.0, 10.0 } })
    {
        SCOPED_TRACE (juce::String (lo) + ".." + juce::String (hi));
        slider.setRange (lo, hi, 0.0);
        EXPECT_NEAR (slider.proportionOfLengthToValue (0.25), lo + 0.25 * (hi - lo), 1e-12);
        EXPECT_NEAR (slider.valueToProportionOfLength (lo + 0.75 * (hi - lo)), 0.75, 1e-12);
    }
}

TEST_F (SliderFixture, TrackPositionsFollowTheMapping)
{
    // The track starts 16 px in; the scale marks sit at the zone edges.
    EXPECT_FLOAT_EQ (xOf (-12.0), 16.0f);
    EXPECT_FLOAT_EQ (xOf (-6.0), 16.0f + 400.0f / 6.0f);
    EXPECT_FLOAT_EQ (xOf (0.0), 216.0f);
    EXPECT_FLOAT_EQ (xOf (6.0), 16.0f + 400.0f * 5.0f / 6.0f);
    EXPECT_FLOAT_EQ (xOf (12.0), 416.0f);

    // A 200 x 40 slider: track from x = 16, 168 px long, 14 px kept for the labels.
    slider.setSize (200, 40);
    const auto layout = lf.getSliderLayout (slider);
    EXPECT_EQ (layout.sliderBounds, juce::Rectangle<int> (16, 0, 168, 26));
    EXPECT_TRUE (layout.textBoxBounds.isEmpty());
    EXPECT_FLOAT_EQ (xOf (-12.0), 16.0f);
    EXPECT_FLOAT_EQ (xOf (12.0), 184.0f);

    slider.setSize (20, 10);
    EXPECT_EQ (lf.getSliderLayout (slider).sliderBounds, juce::Rectangle<int> (16, 0, 0, 0));
}

//==============================================================================
// Relative dragging: the proportion moves by dx / track length, a tenth of
// that while Shift is held at the drag event, and stops at 0 and 1.
TEST_F (SliderFixture, DragDistancesWithAndWithoutShift)
{
    const struct { const char* what; juce::ModifierKeys pressKeys, dragKeys; float dx; double proportion; double value; } table[] = {
        { "100 px right", {}, {}, 100.0f, 0.75, 4.5 },
        { "100 px left", {}, {}, -100.0f, 0.25, -4.5 },
        { "Shift: 100 px right", kShift, kShift, 100.0f, 0.525, 0.45 },
        { "Shift released before the drag", kShift, {}, 100.0f, 0.75, 4.5 },
        { "Shift pressed during the drag", {}, kShift, 100.0f, 0.525, 0.45 },
        { "far right stops at 1", {}, {}, 1000.0f, 1.0, 12.0 },
        { "far left stops at 0", {}, {}, -1000.0f, 0.0, -12.0 },
    };

    for (auto& row : table)
    {
        SCOPED_TRACE (row.what);
        slider.setValue (0.0, juce::dontSendNotification);
        MouseSim mouse (slider);
        const float x0 = xOf (0.0);

        mouse.down (x0, 13.0f, juce::ModifierKeys (kLeft.getRawFlags() | row.pressKeys.getRawFlags()));
        EXPECT_DOUBLE_EQ (slider.getValue(), 0.0);
        mouse.drag (x0 + row.dx, 13.0f, row.dragKeys);
        EXPECT_NEAR (slider.dragProportion, row.proportion, 1e-9);
        // The value is the mapped proportion on the 0.1 dB grid.
        EXPECT_NEAR (slider.getValue(), row.value, 0.05 + 1e-9);
        mouse.up (x0 + row.dx, 13.0f);
    }
}

TEST_F (SliderFixture, DragIsRelativeToWhereTheMouseWas)
{
    MouseSim mouse (slider);
    const float x0 = xOf (0.0);

    // Past the end: the proportion stops at 1, and coming back moves it from
    // there, not from where the mouse is.
    mouse.down (x0, 13.0f, kLeft);
    mouse.drag (x0 + 300.0f, 13.0f);
    EXPECT_DOUBLE_EQ (slider.dragProportion, 1.0);
    mouse.drag (x0 + 200.0f, 13.0f);
    EXPECT_NEAR (slider.dragProportion, 0.75, 1e-9);

    // Vertical movement changes nothing.
    const auto before = slider.getValue();
    mouse.drag (x0 + 200.0f, 90.0f);
    EXPECT_DOUBLE_EQ (slider.getValue(), before);
    mouse.up (x0 + 200.0f, 90.0f);
}

TEST_F (SliderFixture, PlainPressJumpsToTheMouseAShiftPressDoesNot)
{
    const float x = 16.0f + 400.0f / 12.0f; // proportion 1/12: -9 dB

    {
        slider.setValue (2.0, juce::dontSendNotification);
        MouseSim mouse (slider);
        mouse.down (x, 13.0f, kLeft);
        EXPECT_NEAR (slider.getValue(), -9.0, 1e-9);
        EXPECT_NEAR (slider.dragProportion, 1.0 / 12.0, 1e-9);
        mouse.drag (x + 40.0f, 13.0f);
        EXPECT_NEAR (slider.dragProportion, 1.0 / 12.0 + 0.1, 1e-6);
        mouse.up (x + 40.0f, 13.0f);
    }
    {
        slider.setValue (2.0, juce::dontSendNotification);
        MouseSim mouse (slider);
        mouse.down (x, 13.0f, juce::ModifierKeys (kLeft.getRawFlags() | kShift.getRawFlags()));
        EXPECT_NEAR (slider.getValue(), 2.0, 1e-9);
        EXPECT_TRUE (slider.getSliderSnapsToMousePosition()) << "snapping is back on after the press";
        mouse.up (x, 13.0f);
    }
}

TEST_F (SliderFixture, ZeroLengthTrackLeavesTheValue)
{
    slider.setSize (32, 40);
    slider.setValue (3.0, juce::dontSendNotification);
    MouseSim mouse (slider);
    mouse.down (16.0f, 13.0f, juce::ModifierKeys (kLeft.getRawFlags() | kShift.getRawFlags()));
    mouse.drag (30.0f, 13.0f);
    EXPECT_DOUBLE_EQ (slider.getValue(), 3.0);
    mouse.up (30.0f, 13.0f);
}

//==============================================================================
// Callback order per press: start first; a right-button or Control press
// turns all-sections on after start and off before end.
TEST_F (SliderFixture, CallbackOrderPerPress)
{
    const struct { const char* what; juce::ModifierKeys press; juce::ModifierKeys dragKeys; Log onPress, onRelease; bool all; } table[] = {
        { "left", kLeft, {}, { "start" }, { "end" }, false },
        { "right", kRight, {}, { "start", "all on" }, { "all off", "end" }, true },
        { "Control + left", juce::ModifierKeys (kLeft.getRawFlags() | kCtrl.getRawFlags()), kCtrl, { "start", "all on" }, { "all off", "end" }, true },
        { "Control released during the drag", juce::ModifierKeys (kLeft.getRawFlags() | kCtrl.getRawFlags()), {}, { "start", "all on" }, { "all off", "end" }, true },
        { "Control pressed during the drag", kLeft, kCtrl, { "start" }, { "end" }, false },
        { "Shift + right", juce::ModifierKeys (kRight.getRawFlags() | kShift.getRawFlags()), kShift, { "start", "all on" }, { "all off", "end" }, true },
    };

    for (auto& row : table)
    {
        SCOPED_TRACE (row.what);
        log.clear();
        MouseSim mouse (slider);
        mouse.down (200.0f, 13.0f, row.press);
        EXPECT_EQ (log, row.onPress);
        EXPECT_TRUE (slider.dragging);
        EXPECT_EQ (slider.allSectionsDrag, row.all);

        log.clear();
        mouse.drag (230.0f, 13.0f, row.dragKeys);
        EXPECT_TRUE (log.empty());
        EXPECT_EQ (slider.allSectionsDrag, row.all) << "keys during the drag do not change it";

        mouse.up (230.0f, 13.0f, row.dragKeys);
        EXPECT_EQ (log, row.onRelease);
        EXPECT_FALSE (slider.dragging);
        EXPECT_FALSE (slider.allSectionsDrag);
    }
}

TEST_F (SliderFixture, BaseDragNotificationsAndValueChangesReachListeners)
{
    struct Listener : juce::Slider::Listener
    {
        Log& out;
        explicit Listener (Log& l) : out (l) {}
        void sliderValueChanged (juce::Slider*) override { out.push_back ("value"); }
        void sliderDragStarted (juce::Slider*) override { out.push_back ("base start"); }
        void sliderDragEnded (juce::Slider*) override { out.push_back ("base end"); }
    } listener (log);

    slider.addListener (&listener);
    MouseSim mouse (slider);
    mouse.down (xOf (0.0), 13.0f, kRight);
    mouse.drag (xOf (0.0) + 40.0f, 13.0f);
    mouse.up (xOf (0.0) + 40.0f, 13.0f);
    slider.removeListener (&listener);

    EXPECT_EQ (log, (Log { "start", "all on", "base start", "value", "base end", "all off", "end" }));
}

TEST_F (SliderFixture, DisabledSliderIgnoresPresses)
{
    juce::Component parent;
    parent.addAndMakeVisible (slider);
    parent.setEnabled (false);
    slider.setValue (1.0, juce::dontSendNotification);

    MouseSim mouse (slider);
    mouse.down (50.0f, 13.0f, kRight);
    mouse.drag (150.0f, 13.0f);
    mouse.up (150.0f, 13.0f);

    EXPECT_TRUE (log.empty());
    EXPECT_FALSE (slider.dragging);
    EXPECT_DOUBLE_EQ (slider.getValue(), 1.0);
    parent.removeChildComponent (&slider);
}

TEST_F (SliderFixture, EmptyCallbacksAreSkipped)
{
    slider.onDragStart = nullptr;
    slider.onDragEnd = nullptr;
    slider.onAllSectionsDrag = nullptr;
    MouseSim mouse (slider);
    mouse.down (200.0f, 13.0f, kRight);
    mouse.drag (260.0f, 13.0f);
    mouse.up (260.0f, 13.0f);
    EXPECT_FALSE (slider.dragging);
}

//==============================================================================
namespace
{
juce::Colour over (juce::Colour background, juce::Colour top)
{
    return background.overlaidWith (top);
}
} // namespace

TEST_F (SliderFixture, DrawingThumbSpanTrackAndBand)
{
    using namespace qvn::theme;
    const juce::Colour bg (0xff000000);

    slider.setValue (-9.0, juce::dontSendNotification);
    slider.showTargetBand = true;
    slider.targetBandLo = 3.0f;
    slider.targetBandHi = 20.0f; // beyond the range: up to the track end

    auto img = paintInto (432, 40, [this] (juce::Graphics& g) { slider.paintEntireComponent (g, false); }, bg);
    const int cy = 13;

    EXPECT_EQ (argb (img, (int) xOf (-9.0), cy), kAccentCol.getARGB()) << "thumb";
    EXPECT_EQ (argb (img, (int) xOf (-3.0), cy), kAccentCol.getARGB()) << "span from 0 dB to the thumb";
    EXPECT_EQ (argb (img, (int) xOf (-11.0), cy), kMutedCol.getARGB()) << "track outside the span";
    EXPECT_EQ (argb (img, (int) xOf (1.0), cy), kMutedCol.getARGB()) << "track between 0 dB and the band";
    EXPECT_NE (argb (img, 412, cy - 4), bg.getARGB()) << "band reaches the track end";
    EXPECT_NE (argb (img, (int) xOf (4.0), cy - 3), bg.getARGB()) << "band";
    EXPECT_EQ (argb (img, (int) xOf (-1.0), cy - 3), bg.getARGB()) << "no band below its low end";
    EXPECT_NE (argb (img, (int) xOf (6.0), 34), bg.getARGB()) << "label under the +6 mark";

    // A band narrower than half a pixel is not drawn.
    slider.targetBandLo = 4.0f;
    slider.targetBandHi = 4.01f;
    img = paintInto (432, 40, [this] (juce::Graphics& g) { slider.paintEntireComponent (g, false); }, bg);
    EXPECT_EQ (countDiffering (img, { (int) xOf (4.0) - 12, cy - 8, 24, 5 }, bg, 0), 0);
}

TEST_F (SliderFixture, DisabledSliderDrawsAtAlpha035)
{
    using namespace qvn::theme;
    const juce::Colour bg (0xff000000);
    slider.setValue (-9.0, juce::dontSendNotification);
    slider.setEnabled (false);

    auto img = paintInto (432, 40, [this] (juce::Graphics& g) { slider.paintEntireComponent (g, false); }, bg);
    const auto thumb = img.getPixelAt ((int) xOf (-9.0) + 2, 13);
    // Track, span and thumb each at alpha 89 over black.
    auto expected = over (over (over (bg, kMutedCol.withAlpha ((juce::uint8) 89)), kAccentCol.withAlpha ((juce::uint8) 89)),
                          kAccentCol.withAlpha ((juce::uint8) 89));
    EXPECT_NEAR (thumb.getRed(), expected.getRed(), 2);
    EXPECT_NEAR (thumb.getGreen(), expected.getGreen(), 2);
    EXPECT_NEAR (thumb.getBlue(), expected.getBlue(), 2);

    const auto track = img.getPixelAt ((int) xOf (6.0) + 20, 13);
    expected = over (bg, kMutedCol.withAlpha ((juce::uint8) 89));
    EXPECT_NEAR (track.getRed(), expected.getRed(), 2);
    EXPECT_NEAR (track.getGreen(), expected.getGreen(), 2);
}
