// The custom weighting panel's response graph and presets, over a plain
// parent on a real processor: hit testing, drags, wheel and double-click
// through mouse events on the graph itself, the drawn curve against the
// designer and against the loudness meter's own K filters, the panel's layout
// rectangles, and presets saved, overwritten, loaded and deleted through the
// panel's widgets into a real settings file (also across processes).

#include "../ui/UiTestUtils.h"
#include "../ui2/Ui2TestSupport.h"

#include "dsp/CustomWeightingDesigner.h"
#include "dsp/LoudnessMeter.h"
#include "processor/PluginProcessor.h"
#include "settings/AppSettings.h"
#include "ui/JuceCompat.h"
#include "weighting_editor/CustomWeightedRmsEditor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdlib>

struct LoudnessMeterInspector
{
    static const LoudnessMeter::Biquad& shelf (const LoudnessMeter& m)    { return m.shelfFilters[0]; }
    static const LoudnessMeter::Biquad& highPass (const LoudnessMeter& m) { return m.highPassFilters[0]; }
};

namespace
{
// Each process gets its own settings folder; the cross-process test hands
// its children a folder of its own.
const juce::File processConfigHome = []
{
    const auto dir = juce::File::getSpecialLocation (juce::File::tempDirectory)
                         .getChildFile ("qvn_cwrms_graph_" + juce::String (juce::Time::currentTimeMillis())
                                        + "_" + juce::String (juce::Random::getSystemRandom().nextInt (1 << 30)));
    const auto child = juce::SystemStats::getEnvironmentVariable ("QVN_PRESET_CHILD_CONFIG", {});
    const auto home = child.isNotEmpty() ? juce::File (child) : dir;
    home.createDirectory();
    ::setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
    ::setenv ("XDG_CONFIG_HOME", home.getChildFile ("config").getFullPathName().toRawUTF8(), 1);
    return home;
}();

using qvn::cwrms::PlotMap;
using Graph = CustomWeightedRmsEditor::ResponseGraph;

const juce::ModifierKeys kLeft (juce::ModifierKeys::leftButtonModifier);

juce::MouseEvent eventAt (juce::Component& c, juce::Point<float> p, juce::ModifierKeys mods = kLeft)
{
    return qvn::ui2test::mouseEvent (c, p, mods, p);
}

/** A click as the window delivers it: to the component under the point. */
juce::Component* clickAt (juce::Component& root, juce::Component& control)
{
    const auto pointInRoot = root.getLocalPoint (&control, control.getLocalBounds().getCentre());
    auto* target = root.getComponentAt (pointInRoot);
    if (target == nullptr)
        return nullptr;
    const auto local = target->getLocalPoint (&root, pointInRoot).toFloat();
    juce::Component::SafePointer<juce::Component> alive (target);
    target->mouseDown (eventAt (*target, local));
    if (alive != nullptr)
        target->mouseUp (eventAt (*target, local, {}));
    qvn::ui2test::pump();
    return target;
}

CustomWeightedRmsSettings allOff()
{
    CustomWeightedRmsSettings s;
    for (auto& slot : s.slots)
        slot.enabled = false;
    return s;
}

/** The magnitude in dB of one of the meter's own biquads at a frequency. */
double biquadDb (const LoudnessMeter::Biquad& b, double hz, double rate)
{
    const auto z = std::polar (1.0, -2.0 * juce::MathConstants<double>::pi * hz / rate);
    const auto h = (b.b0 + b.b1 * z + b.b2 * z * z) / (1.0 + b.a1 * z + b.a2 * z * z);
    return 20.0 * std::log10 (std::abs (h));
}

/** Every vertex of a path. */
std::vector<juce::Point<float>> verticesOf (const juce::Path& path)
{
    std::vector<juce::Point<float>> points;
    for (juce::Path::Iterator it (path); it.next();)
        if (it.elementType == juce::Path::Iterator::startNewSubPath || it.elementType == juce::Path::Iterator::lineTo)
            points.emplace_back (it.x1, it.y1);
    return points;
}

/** The level a y position of the plot stands for (the inverse of the map). */
double levelAt (const PlotMap& m, float y)
{
    return (double) (y - m.bottom()) * 2.0 * m.range / (double) (m.top - m.bottom()) - m.range;
}

class PanelFixture : public ::testing::Test
{
public:
    explicit PanelFixture (int width = 972, int height = 612)
    {
        host.setBounds (0, 0, width, height);
        host.setVisible (true);
        processor.tooltipLang = 0;
        panel = &CustomWeightedRmsEditor::openOver (host, holder, processor);
    }

    ~PanelFixture() override { holder.reset(); }

    Graph& graph() { return panel->responseGraph; }
    PlotMap map() { return graph().currentMap(); }
    juce::Point<float> node (int band) { return graph().nodePosition (band, map()); }

    void setCopy (const CustomWeightedRmsSettings& s)
    {
        panel->workingCopy = s;
        panel->workingCopyChanged (true);
    }

    void press (juce::Point<float> p)   { graph().mouseDown (eventAt (graph(), p)); }
    void dragTo (juce::Point<float> p)  { graph().mouseDrag (eventAt (graph(), p)); }
    void release (juce::Point<float> p) { graph().mouseUp (eventAt (graph(), p, {})); }
    void wheel (juce::Point<float> p, float deltaY)
    {
        juce::MouseWheelDetails w {};
        w.deltaY = deltaY;
        graph().mouseWheelMove (eventAt (graph(), p, {}), w);
    }
    void doubleClick (juce::Point<float> p) { graph().mouseDoubleClick (eventAt (graph(), p)); }

    /** Types into the name field key by key. */
    void typeName (const juce::String& text)
    {
        panel->nameField.setText ({}, true);
        qvn::ui2test::type (panel->nameField, text);
        qvn::ui2test::pump();   // the field reports its changes through queued messages
    }

    juce::ScopedJuceInitialiser_GUI gui;
    QuorvaneProcessor processor;
    juce::Component host;
    std::unique_ptr<CustomWeightedRmsEditor> holder;
    CustomWeightedRmsEditor* panel = nullptr;
};

using GraphTest = PanelFixture;

//==============================================================================
TEST_F (GraphTest, PlotMapAtTheDefaultWindow)
{
    EXPECT_EQ (graph().getBounds(), juce::Rectangle<int> (62, 148, 848, 268));
    const auto m = map();
    EXPECT_EQ (m.left, 53.0f);
    EXPECT_EQ (m.top, 14.0f);
    EXPECT_EQ (m.width, 786.0f);
    EXPECT_EQ (m.height, 219.0f);
    EXPECT_EQ (m.range, 24.0f);
    // 1 kHz sits at ln 50 / ln 1000 of the width; 0 dB in the middle, +12 dB a quarter down.
    EXPECT_NEAR (m.xForFrequency (1000.0), 53.0 + 786.0 * 0.566323, 1e-3);
    EXPECT_NEAR (m.xForFrequency (5.0), 53.0, 1e-4);
    EXPECT_NEAR (m.xForFrequency (1e6), 839.0, 1e-3);
    EXPECT_NEAR (m.yForLevel (0.0), 123.5, 1e-4);
    EXPECT_NEAR (m.yForLevel (12.0), 68.75, 1e-4);
    EXPECT_NEAR (m.yForLevel (-24.0), 233.0, 1e-4);
    EXPECT_EQ (graph().rangeButton.getBounds(), juce::Rectangle<int> (56, 16, 54, 17));
    EXPECT_EQ (graph().rangeButton.getButtonText(), "24 dB");
}

TEST_F (GraphTest, HitTestTableNearestWinsTiesGoToTheHigherBand)
{
    auto s = allOff();
    s.slots[0] = { true, (int32_t) CustomSlotType::HighPass, 100.0, 0.0, 0.7071067811865476, 12.0 };
    // Bands 2 and 4 on the same spot.
    s.slots[1] = { true, (int32_t) CustomSlotType::Bell, 1000.0, 6.0, 1.0, 12.0 };
    s.slots[3] = { true, (int32_t) CustomSlotType::Bell, 1000.0, 6.0, 1.0, 12.0 };
    s.slots[2] = { false, (int32_t) CustomSlotType::Bell, 5000.0, -6.0, 1.0, 12.0 };   // bypassed
    s.slots[4] = { true, (int32_t) CustomSlotType::HighShelf, 300.0, -12.0, 0.7, 12.0 };
    // Band 6 exactly 20 px right of band 5, on the same level line.
    const auto m = map();
    const double x5 = m.xForFrequency (300.0) + 20.0;
    s.slots[5] = { true, (int32_t) CustomSlotType::LowShelf, 20.0 * std::pow (1000.0, (x5 - 53.0) / 786.0), -12.0, 0.7, 12.0 };
    setCopy (s);
    ASSERT_NEAR (node (5).x - node (4).x, 20.0f, 1e-3f);

    struct Row { int nodeBand; float dx, dy; int expected; };
    const Row rows[] = {
        { 0, 14.0f, 0.0f, 0 },    // at the hit radius
        { 0, 14.01f, 0.0f, -1 },  // just outside
        { 0, 0.0f, -14.0f, 0 },
        { 0, 9.89f, 9.89f, 0 },   // 13.99 px
        { 0, 9.9f, 9.9f, -1 },    // 14.0007 px
        { 1, 0.0f, 0.0f, 3 },     // same spot: the node drawn on top
        { 1, 0.0f, 14.0f, 3 },
        { 1, 0.0f, 14.01f, -1 },
        { 2, 0.0f, 0.0f, -1 },    // bypassed: not pressed
        { 4, 9.0f, 0.0f, 4 },
        { 4, 10.0f, 0.0f, 5 },    // equal distance: the higher band
        { 4, 11.0f, 0.0f, 5 },
        { 5, 14.0f, 0.0f, 5 },
    };

    for (const auto& r : rows)
    {
        SCOPED_TRACE ("node " + std::to_string (r.nodeBand + 1) + " +(" + std::to_string (r.dx) + ", " + std::to_string (r.dy) + ")");
        const auto before = panel->workingCopy;
        panel->selectBand (2);
        const auto p = node (r.nodeBand) + juce::Point<float> (r.dx, r.dy);
        EXPECT_EQ (graph().nodeAt (p, map(), false), r.expected);
        press (p);
        EXPECT_EQ (panel->dragBand, r.expected);
        EXPECT_EQ (panel->selectedBand, r.expected >= 0 ? r.expected : 2);
        release (p);
        EXPECT_EQ (panel->dragBand, -1);
        EXPECT_TRUE (panel->workingCopy == before) << "a press without movement changes nothing";
    }

    // The bypassed node is found with bypassed nodes included, and a double-click switches it on.
    EXPECT_EQ (graph().nodeAt (node (2), map(), true), 2);
    doubleClick (node (0));   // enabled node: nothing
    EXPECT_TRUE (panel->workingCopy.slots[0].enabled);
    doubleClick (node (2) + juce::Point<float> (0.0f, 14.01f));
    EXPECT_FALSE (panel->workingCopy.slots[2].enabled);
    panel->selectBand (0);
    doubleClick (node (2) + juce::Point<float> (14.0f, 0.0f));
    EXPECT_TRUE (panel->workingCopy.slots[2].enabled);
    EXPECT_EQ (panel->selectedBand, 2);
    EXPECT_EQ (panel->presetSelection, 0);

    // Cursor: dragging hand on an enabled node, pointing hand on a bypassed one.
    panel->workingCopy.slots[2].enabled = false;
    panel->workingCopyChanged (true);
    graph().mouseMove (eventAt (graph(), node (0), {}));
    EXPECT_EQ (graph().getMouseCursor(), juce::MouseCursor (juce::MouseCursor::DraggingHandCursor));
    graph().mouseMove (eventAt (graph(), node (2), {}));
    EXPECT_EQ (graph().getMouseCursor(), juce::MouseCursor (juce::MouseCursor::PointingHandCursor));
    graph().mouseMove (eventAt (graph(), { 60.0f, 200.0f }, {}));
    EXPECT_EQ (graph().getMouseCursor(), juce::MouseCursor (juce::MouseCursor::NormalCursor));
}

TEST_F (GraphTest, DragsMoveTheNodeByThePointersTravelWithinTheLimits)
{
    auto s = allOff();
    s.slots[1] = { true, (int32_t) CustomSlotType::Bell, 1000.0, 0.0, 1.0, 12.0 };
    s.slots[0] = { true, (int32_t) CustomSlotType::HighPass, 38.13547087602444, 0.0, 0.5003270373238773, 12.0 };
    setCopy (s);
    const auto m = map();

    // Grabbed 3 px right of and 2 px below the centre, moved by (+100, -50).
    const auto start = node (1);
    const juce::Point<float> grab (3.0f, 2.0f);
    press (start + grab);
    EXPECT_EQ (panel->dragBand, 1);
    dragTo (start + grab + juce::Point<float> (100.0f, -50.0f));
    const double t = (start.x + 100.0 - 53.0) / 786.0;
    EXPECT_EQ (panel->workingCopy.slots[1].frequencyHz, std::round (20.0 * std::pow (1000.0, t)));
    EXPECT_NEAR (panel->workingCopy.slots[1].gainDb, 50.0 * 48.0 / 219.0, 1e-4);
    EXPECT_EQ (panel->dragBand, 1) << "the readout shows while dragging";

    struct Limit { float dx, dy; double hz, gainDb; };
    const Limit limits[] = {
        { -5000.0f, 0.0f, 20.0, std::nan ("") },
        { 5000.0f, 0.0f, 20000.0, std::nan ("") },
        { 0.0f, -5000.0f, std::nan (""), 24.0 },
        { 0.0f, 5000.0f, std::nan (""), -24.0 },
    };
    for (const auto& l : limits)
    {
        dragTo (start + grab + juce::Point<float> (l.dx, l.dy));
        if (! std::isnan (l.hz))
            EXPECT_EQ (panel->workingCopy.slots[1].frequencyHz, l.hz);
        if (! std::isnan (l.gainDb))
            EXPECT_EQ (panel->workingCopy.slots[1].gainDb, l.gainDb);
    }
    release (start);
    EXPECT_EQ (panel->dragBand, -1);

    // At a range of 48 dB the top edge asks for +48 dB; the settings stop it at +24.
    graph().setRange (48.0f);
    EXPECT_EQ (graph().rangeButton.getButtonText(), "48 dB");
    const auto n48 = node (1);
    press (n48);
    dragTo ({ n48.x, -300.0f });
    EXPECT_EQ (panel->workingCopy.slots[1].gainDb, 24.0);
    release ({ n48.x, -300.0f });
    graph().setRange (24.0f);

    // A High Pass node moves only in frequency and stays on the 0 dB line.
    const auto hp = node (0);
    EXPECT_NEAR (hp.y, m.yForLevel (0.0), 1e-4);
    press (hp);
    dragTo (hp + juce::Point<float> (40.0f, -80.0f));
    EXPECT_EQ (panel->workingCopy.slots[0].gainDb, 0.0);
    EXPECT_EQ (panel->workingCopy.slots[0].frequencyHz, std::round (20.0 * std::pow (1000.0, (hp.x + 40.0 - 53.0) / 786.0)));
    EXPECT_NEAR (node (0).y, m.yForLevel (0.0), 1e-4);
    release (hp);

    // A drag without a press on a node changes nothing.
    const auto before = panel->workingCopy;
    dragTo ({ 400.0f, 100.0f });
    EXPECT_TRUE (panel->workingCopy == before);
}

TEST (GraphReadout, Texts)
{
    struct Row { double hz; const char* text; };
    for (const auto& r : { Row { 999.0, "999 Hz" }, Row { 20.0, "20 Hz" }, Row { 38.13547, "38.1 Hz" },
                           Row { 999.96, "1000 Hz" }, Row { 1000.0, "1.00 kHz" }, Row { 12500.0, "12.50 kHz" } })
        EXPECT_EQ (Graph::frequencyReadout (r.hz), r.text) << r.hz;

    CustomSlotSettings bell { true, (int32_t) CustomSlotType::Bell, 1000.0, 3.5, 1.0, 12.0 };
    EXPECT_EQ (Graph::valueReadout (bell), "+3.5 dB");
    bell.gainDb = -6.0;
    EXPECT_EQ (Graph::valueReadout (bell), "-6.0 dB");
    bell.gainDb = 0.0;
    EXPECT_EQ (Graph::valueReadout (bell), "+0.0 dB");
    CustomSlotSettings lp { true, (int32_t) CustomSlotType::LowPass, 1000.0, 5.0, 0.7071, 12.0 };
    EXPECT_EQ (Graph::valueReadout (lp), "Q 0.71");
}

TEST_F (GraphTest, WheelStepsQOverEnabledNodesOnly)
{
    auto s = allOff();
    s.slots[1] = { true, (int32_t) CustomSlotType::Bell, 1000.0, 0.0, 1.0, 12.0 };
    s.slots[3] = { false, (int32_t) CustomSlotType::Bell, 100.0, 0.0, 1.0, 12.0 };
    s.slots[5] = { true, (int32_t) CustomSlotType::LowPass, 10000.0, 0.0, 0.7071067811865476, 12.0 };
    setCopy (s);

    wheel (node (1), 0.1f);   // one notch of a typical wheel
    EXPECT_NEAR (panel->workingCopy.slots[1].q, std::pow (1.18, 0.5), 1e-6);
    EXPECT_EQ (panel->selectedBand, 1);
    wheel (node (1), -0.1f);
    EXPECT_NEAR (panel->workingCopy.slots[1].q, 1.0, 1e-6);
    for (int i = 0; i < 40; ++i)
        wheel (node (1), 1.0f);
    EXPECT_EQ (panel->workingCopy.slots[1].q, 10.0);
    for (int i = 0; i < 80; ++i)
        wheel (node (1), -1.0f);
    EXPECT_EQ (panel->workingCopy.slots[1].q, 0.1);

    // A pass filter takes the wheel too; bypassed nodes and empty plot do not.
    wheel (node (5), 0.2f);
    EXPECT_NEAR (panel->workingCopy.slots[5].q, 0.7071067811865476 * 1.18, 1e-6);
    const auto before = panel->workingCopy;
    wheel (node (3), 1.0f);
    wheel ({ 600.0f, 40.0f }, 1.0f);
    EXPECT_TRUE (panel->workingCopy == before);
}

//==============================================================================
TEST_F (GraphTest, TheDrawnCurvesAreTheDesignersMagnitude)
{
    auto s = allOff();
    s.slots[0] = { true, (int32_t) CustomSlotType::HighPass, 60.0, 0.0, 0.7071067811865476, 24.0 };
    s.slots[1] = { true, (int32_t) CustomSlotType::LowShelf, 150.0, 4.0, 0.7071067811865476, 12.0 };
    s.slots[2] = { true, (int32_t) CustomSlotType::FlatTilt, 800.0, -3.0, 0.7071067811865476, 12.0 };
    s.slots[3] = { true, (int32_t) CustomSlotType::Bell, 2500.0, -7.5, 2.0, 12.0 };
    s.slots[4] = { true, (int32_t) CustomSlotType::HighShelf, 6000.0, 5.0, 0.7071067811865476, 12.0 };
    s.slots[5] = { false, (int32_t) CustomSlotType::LowPass, 14000.0, 0.0, 0.7071067811865476, 36.0 };
    setCopy (s);
    auto image = graph().createComponentSnapshot (graph().getLocalBounds(), true, 1.0f);
    const auto m = map();

    const auto designed = CustomWeightingDesigner::design (panel->workingCopy, 48000.0);   // unprepared: 48 kHz
    const auto points = verticesOf (graph().totalCurve);
    ASSERT_EQ ((int) points.size(), (int) std::ceil (1.5 * 786.0));
    for (size_t k = 0; k < points.size(); k += 37)
    {
        const double t = (double) k / (double) (points.size() - 1);
        const double hz = 20.0 * std::pow (1000.0, t);
        EXPECT_NEAR (points[k].x, 53.0 + t * 786.0, 1e-3);
        EXPECT_NEAR (levelAt (m, points[k].y), CustomWeightingDesigner::magnitudeDb (designed, hz), 2e-4) << hz << " Hz";
    }

    // The bypassed band's own curve keeps its shape (not a flat line).
    auto lowPassOnly = allOff();
    lowPassOnly.slots[5] = panel->workingCopy.slots[5];
    lowPassOnly.slots[5].enabled = true;
    const auto lp = CustomWeightingDesigner::design (lowPassOnly, 48000.0);
    const auto lpPoints = verticesOf (graph().bandCurves[5]);
    EXPECT_NEAR (levelAt (m, lpPoints.back().y), CustomWeightingDesigner::magnitudeDb (lp, 20000.0), 2e-4);
    EXPECT_LT (levelAt (m, lpPoints.back().y), -10.0);

    // On screen: the accent colour sits on the curve at sampled columns away from the nodes.
    for (double hz : { 30.0, 100.0, 400.0, 1500.0, 4000.0, 12000.0 })
    {
        const int x = juce::roundToInt (m.xForFrequency (hz));
        const float y = m.yForLevel (CustomWeightingDesigner::magnitudeDb (designed, hz));
        bool found = false;
        for (int dy = -2; dy <= 2 && ! found; ++dy)
        {
            const auto px = image.getPixelAt (x, juce::roundToInt (y) + dy);
            found = std::abs (px.getRed() - 0x7c) < 24 && std::abs (px.getGreen() - 0xf2) < 24 && std::abs (px.getBlue() - 0xc8) < 24;
        }
        EXPECT_TRUE (found) << "curve pixel at " << hz << " Hz (" << x << ", " << y << ")";
    }
}

TEST_F (GraphTest, StandardKIsTheLoudnessMetersKWeighting)
{
    setCopy (allOff());
    ASSERT_NE (clickAt (host, panel->standardKChip), nullptr);
    EXPECT_EQ (panel->presetSelection, 1);
    EXPECT_TRUE (panel->standardKChip.getToggleState());
    graph().setRange (48.0f);   // nothing of 20 Hz..20 kHz cut off
    (void) graph().createComponentSnapshot (graph().getLocalBounds(), true, 1.0f);

    LoudnessMeter meter;
    meter.prepare (48000.0, 2, 0.4);
    const auto& hp = LoudnessMeterInspector::highPass (meter);
    const auto& shelf = LoudnessMeterInspector::shelf (meter);

    const auto m = map();
    const auto points = verticesOf (graph().totalCurve);
    double worst = 0.0;
    for (size_t k = 0; k < points.size(); ++k)
    {
        const double hz = 20.0 * std::pow (1000.0, (double) k / (double) (points.size() - 1));
        const double k_dB = biquadDb (hp, hz, 48000.0) + biquadDb (shelf, hz, 48000.0);
        worst = std::max (worst, std::abs (levelAt (m, points[k].y) - k_dB));
    }
    EXPECT_LT (worst, 1e-3) << "largest difference in dB over 20 Hz..20 kHz";
    // Landmarks of the K curve: about -0.7 dB at 100 Hz... +4 dB high shelf.
    EXPECT_NEAR (levelAt (m, points.back().y), biquadDb (hp, 20000.0, 48000.0) + biquadDb (shelf, 20000.0, 48000.0), 1e-3);
    EXPECT_GT (levelAt (m, points.back().y), 3.9);
}

//==============================================================================
struct RectRow { const char* name; juce::Rectangle<int> actual, expected; };

void expectRects (std::initializer_list<RectRow> rows)
{
    for (const auto& r : rows)
        EXPECT_EQ (r.actual, r.expected) << r.name;
}

TEST_F (GraphTest, LayoutAtTheDefaultWindow)
{
    auto& p = *panel;
    ASSERT_EQ (p.cards.size(), 2u);
    expectRects ({
        { "frame", p.frameBounds, { 44, 12, 884, 588 } },
        { "header", p.headerBounds, { 62, 26, 848, 40 } },
        { "cancel", p.cancelButton.getBounds(), { 686, 32, 100, 28 } },
        { "apply", p.applyButton.getBounds(), { 794, 32, 116, 28 } },
        { "factory card", p.cards[0].bounds, { 62, 76, 180, 62 } },
        { "user card", p.cards[1].bounds, { 256, 76, 654, 62 } },
        { "graph", p.responseGraph.getBounds(), { 62, 148, 848, 268 } },
        { "band card", p.bandCardBounds, { 62, 466, 848, 120 } },
        { "row 1", p.bandRows[0]->getBounds(), { 62, 426, 136, 30 } },
        { "row 5", p.bandRows[4]->getBounds(), { 62 + 4 * 142, 426, 136, 30 } },
        { "row 6", p.bandRows[5]->getBounds(), { 62 + 5 * 142, 426, 138, 30 } },
        { "High Pass", p.typeButtons[0].getBounds(), { 74, 505, 79, 28 } },
        { "Bell", p.typeButtons[2].getBounds(), { 244, 505, 79, 28 } },
        { "Flat Tilt", p.typeButtons[5].getBounds(), { 244, 539, 79, 28 } },
        { "FREQ", p.freqCell.getBounds(), { 342, 476, 131, 100 } },
        { "GAIN", p.gainCell.getBounds(), { 483, 476, 131, 100 } },
        { "Q", p.qCell.getBounds(), { 624, 476, 131, 100 } },
        { "SLOPE", p.slopeCell.getBounds(), { 765, 476, 131, 100 } },
    });
    EXPECT_EQ (p.standardKChip.getX(), 74);
    EXPECT_EQ (p.standardKChip.getY(), 103);
    EXPECT_EQ (p.standardKChip.getHeight(), 26);
    EXPECT_EQ (p.cards[0].title, "FACTORY");
    EXPECT_EQ (p.cards[1].title, "USER PRESETS");
    EXPECT_EQ (p.cards[1].subtitle, "0 saved");
    EXPECT_EQ (p.userChipStrip.getWidth(), 0) << "no user presets";
    EXPECT_EQ (p.userChipViewport.getWidth(), 0);
    EXPECT_EQ (p.nameField.getBounds(), juce::Rectangle<int> (268, 103, 300, 26));
}

class WidestWindow : public PanelFixture
{
public:
    WidestWindow() : PanelFixture (1492, 612) {}
};

TEST_F (WidestWindow, Layout)
{
    auto& p = *panel;
    expectRects ({
        { "frame", p.frameBounds, { 67, 12, 1358, 588 } },
        { "header", p.headerBounds, { 85, 26, 1322, 40 } },
        { "cancel", p.cancelButton.getBounds(), { 1183, 32, 100, 28 } },
        { "apply", p.applyButton.getBounds(), { 1291, 32, 116, 28 } },
        { "factory card", p.cards[0].bounds, { 85, 76, 180, 62 } },
        { "user card", p.cards[1].bounds, { 279, 76, 1128, 62 } },
        { "graph", p.responseGraph.getBounds(), { 85, 148, 1322, 268 } },
        { "band card", p.bandCardBounds, { 85, 466, 1322, 120 } },
        { "row 1", p.bandRows[0]->getBounds(), { 85, 426, 215, 30 } },
        { "row 6", p.bandRows[5]->getBounds(), { 85 + 5 * 221, 426, 217, 30 } },
        { "High Pass", p.typeButtons[0].getBounds(), { 97, 505, 79, 28 } },
        { "Low Shelf", p.typeButtons[1].getBounds(), { 182, 505, 79, 28 } },
        { "Flat Tilt", p.typeButtons[5].getBounds(), { 267, 539, 79, 28 } },
        { "FREQ", p.freqCell.getBounds(), { 365, 476, 250, 100 } },
        { "SLOPE", p.slopeCell.getBounds(), { 1145, 476, 250, 100 } },
    });
    EXPECT_EQ (graph().currentMap().width, 1322.0f - 62.0f);
}

//==============================================================================
class PresetTest : public PanelFixture
{
public:
    PresetTest()
    {
        AppSettings::get().setUpdateChecksEnabled (false);
        for (const auto& p : AppSettings::get().customWeightedRmsPresets())
            AppSettings::get().deleteCustomWeightedRmsPreset (p.name);
        panel->refreshPresetList();
    }

    juce::StringArray storedNames()
    {
        juce::StringArray names;
        for (const auto& p : AppSettings::get().customWeightedRmsPresets())
            names.add (p.name);
        return names;
    }

    juce::StringArray chipNames()
    {
        juce::StringArray names;
        for (auto& c : panel->userChips)
            names.add (c->getButtonText());
        return names;
    }

    juce::String fileText() { return AppSettings::settingsFileLocation().loadFileAsString(); }
};

TEST_F (PresetTest, NameTable)
{
    const juce::String kana48 = juce::String::repeatedString (juce::String::fromUTF8 ("あ"), 48);
    struct Row { juce::String name; bool savable; };
    const Row rows[] = {
        { "", false }, { "   ", false }, { "Standard K", false }, { "  standard k  ", false }, { "STANDARD K", false },
        { "Flat", false }, { " fLAT ", false }, { "Standard K2", true }, { "Flat ", false }, { "Flat1", true },
        { "x", true }, { "  Vocal bright  ", true }, { juce::String::repeatedString ("a", 48), true },
        { juce::String::repeatedString ("a", 49), false }, { "  " + juce::String::repeatedString ("b", 48) + "  ", true },
        { kana48, true }, { kana48 + juce::String::fromUTF8 ("い"), false },
    };
    for (const auto& r : rows)
    {
        typeName (r.name);
        EXPECT_EQ (panel->saveButton.isEnabled(), r.savable) << "\"" << r.name << "\"";
    }

    // Return with a refused name stores nothing.
    typeName ("flat");
    panel->nameField.keyPressed (juce::KeyPress (juce::KeyPress::returnKey));
    qvn::ui2test::pump();
    EXPECT_TRUE (storedNames().isEmpty());
}

TEST_F (PresetTest, SaveOverwriteLoadAndDeleteThroughTheWidgets)
{
    auto warm = allOff();
    warm.slots[1] = { true, (int32_t) CustomSlotType::LowShelf, 200.0, 3.0, 0.7071067811865476, 12.0 };
    setCopy (warm);

    // Return in the name field saves.
    typeName ("Warm");
    panel->nameField.keyPressed (juce::KeyPress (juce::KeyPress::returnKey));
    qvn::ui2test::pump();
    EXPECT_EQ (storedNames(), juce::StringArray ("Warm"));
    EXPECT_EQ (chipNames(), juce::StringArray ("Warm"));
    EXPECT_EQ (panel->presetSelection, 100);
    EXPECT_TRUE (panel->userChips[0]->getToggleState());
    EXPECT_TRUE (panel->nameField.getText().isEmpty());
    EXPECT_FALSE (panel->saveButton.isEnabled());
    EXPECT_TRUE (panel->deleteButton.isEnabled());
    EXPECT_EQ (panel->cards[1].subtitle, "1 saved");
    EXPECT_TRUE (fileText().contains ("Warm")) << "saved to disk at once";
    EXPECT_EQ (panel->userChips[0]->getWidth(),
               juce::roundToInt (qvn::compat::stringWidth (FlatLookAndFeel::dinFont (12.0f), "Warm")) + 32);

    // A second name goes to its sorted place (case ignored) and is lit.
    auto bright = allOff();
    bright.slots[4] = { true, (int32_t) CustomSlotType::HighShelf, 4000.0, 6.0, 0.7071067811865476, 12.0 };
    setCopy (bright);
    EXPECT_EQ (panel->presetSelection, 0);
    typeName ("airy");
    ASSERT_NE (clickAt (host, panel->saveButton), nullptr);
    EXPECT_EQ (storedNames(), juce::StringArray ("airy", "Warm"));
    EXPECT_EQ (chipNames(), juce::StringArray ("airy", "Warm"));
    EXPECT_EQ (panel->presetSelection, 100);
    EXPECT_EQ (panel->userChipStrip.getWidth(), panel->userChips[0]->getWidth() + 8 + panel->userChips[1]->getWidth());
    EXPECT_EQ (panel->userChips[1]->getX(), panel->userChips[0]->getWidth() + 8);

    // Same name in another case: asked first; Cancel stores nothing and keeps the name.
    auto warmer = warm;
    warmer.slots[1].gainDb = 5.0;
    setCopy (warmer);
    typeName ("WARM");
    ASSERT_NE (clickAt (host, panel->saveButton), nullptr);
    ASSERT_TRUE (panel->confirmDialog.isVisible());
    EXPECT_EQ (panel->confirmDialog.titleLabel.getText(), "Overwrite preset?");
    EXPECT_EQ (panel->confirmDialog.messageLabel.getText(), "A preset with this name already exists.");
    EXPECT_EQ (panel->confirmDialog.confirmButton.getButtonText(), "Overwrite");
    ASSERT_NE (clickAt (host, panel->confirmDialog.cancelButton), nullptr);
    EXPECT_FALSE (panel->confirmDialog.isVisible());
    EXPECT_EQ (panel->nameField.getText(), "WARM");
    EXPECT_EQ (storedNames(), juce::StringArray ("airy", "Warm"));
    EXPECT_EQ (AppSettings::get().customWeightedRmsPresets()[1].settings.slots[1].gainDb, 3.0);

    // Confirmed: one entry with the new case and values, lit.
    ASSERT_NE (clickAt (host, panel->saveButton), nullptr);
    ASSERT_NE (clickAt (host, panel->confirmDialog.confirmButton), nullptr);
    EXPECT_EQ (storedNames(), juce::StringArray ("airy", "WARM"));
    EXPECT_EQ (AppSettings::get().customWeightedRmsPresets()[1].settings.slots[1].gainDb, 5.0);
    EXPECT_EQ (panel->presetSelection, 101);
    EXPECT_TRUE (panel->userChips[1]->getToggleState());

    // Loading: factory chips, then a user chip.
    ASSERT_NE (clickAt (host, panel->flatChip), nullptr);
    EXPECT_TRUE (panel->workingCopy == allOff());
    EXPECT_EQ (panel->presetSelection, 2);
    EXPECT_FALSE (panel->deleteButton.isEnabled());
    EXPECT_FALSE (panel->freqCell.isInUse()) << "all bands off: the selected band's cells are dimmed";
    ASSERT_NE (clickAt (host, panel->standardKChip), nullptr);
    EXPECT_TRUE (panel->workingCopy == CustomWeightedRmsSettings {});
    panel->workingCopy.slots[3].enabled = true;
    panel->workingCopyChanged (true);
    EXPECT_FALSE (panel->standardKChip.getToggleState()) << "an edit unlights the chip";
    ASSERT_NE (clickAt (host, panel->standardKChip), nullptr);
    EXPECT_TRUE (panel->workingCopy == CustomWeightedRmsSettings {}) << "the layout restored exactly";

    panel->userChipViewport.setViewPosition (0, 0);
    ASSERT_EQ (clickAt (host, *panel->userChips[0]), panel->userChips[0].get());
    auto expectedBright = bright;
    expectedBright.normalize();
    EXPECT_TRUE (panel->workingCopy == expectedBright);
    EXPECT_EQ (panel->presetSelection, 100);
    EXPECT_FALSE (panel->standardKChip.getToggleState());
    EXPECT_TRUE (panel->deleteButton.isEnabled());

    // Delete asks with the name, removes it, lights nothing, keeps the values.
    ASSERT_NE (clickAt (host, panel->deleteButton), nullptr);
    ASSERT_TRUE (panel->confirmDialog.isVisible());
    EXPECT_EQ (panel->confirmDialog.titleLabel.getText(), "Delete preset?");
    EXPECT_EQ (panel->confirmDialog.messageLabel.getText(), "airy");
    EXPECT_EQ (panel->confirmDialog.confirmButton.getButtonText(), "Delete");
    ASSERT_NE (clickAt (host, panel->confirmDialog.confirmButton), nullptr);
    EXPECT_EQ (storedNames(), juce::StringArray ("WARM"));
    EXPECT_EQ (chipNames(), juce::StringArray ("WARM"));
    EXPECT_EQ (panel->presetSelection, 0);
    EXPECT_FALSE (panel->deleteButton.isEnabled());
    EXPECT_TRUE (panel->workingCopy == expectedBright);
    EXPECT_FALSE (fileText().contains ("airy"));
}

TEST_F (PresetTest, DeleteRemovesEveryStoredEntryOfThatNameInAnyCase)
{
    // Another writer left two entries that differ only in case.
    auto& settings = AppSettings::get();
    ASSERT_TRUE (settings.saveCustomWeightedRmsPreset ("dup", allOff()));
    ASSERT_TRUE (settings.saveCustomWeightedRmsPreset ("keep", allOff()));
    auto* file = settings.properties.getUserSettings();
    auto xml = juce::parseXML (file->getValue (qvn::settingsKeys::customWeightedRmsPresets));
    ASSERT_NE (xml, nullptr);
    auto* copy = new juce::XmlElement (*xml->getChildElement (0));
    copy->setAttribute ("name", "DUP");
    xml->insertChildElement (copy, 1);
    file->setValue (qvn::settingsKeys::customWeightedRmsPresets, xml->toString (juce::XmlElement::TextFormat().singleLine().withoutHeader()));
    ASSERT_TRUE (file->saveIfNeeded());
    panel->refreshPresetList();
    ASSERT_EQ (chipNames(), juce::StringArray ("dup", "DUP", "keep"));

    ASSERT_NE (clickAt (host, *panel->userChips[0]), nullptr);
    ASSERT_NE (clickAt (host, panel->deleteButton), nullptr);
    ASSERT_NE (clickAt (host, panel->confirmDialog.confirmButton), nullptr);
    EXPECT_EQ (storedNames(), juce::StringArray ("keep"));
    EXPECT_EQ (chipNames(), juce::StringArray ("keep"));
}

TEST_F (PresetTest, AFailedSaveLeavesPanelAndStoreAsTheyWere)
{
    typeName ("kept");
    ASSERT_NE (clickAt (host, panel->saveButton), nullptr);
    ASSERT_EQ (storedNames(), juce::StringArray ("kept"));

    // The settings folder becomes a plain file: nothing can be written.
    const auto folder = AppSettings::settingsFileLocation().getParentDirectory();
    const auto aside = folder.getSiblingFile (folder.getFileName() + "_aside");
    ASSERT_TRUE (folder.moveFileTo (aside));
    ASSERT_TRUE (folder.replaceWithText ("not a folder"));

    setCopy (allOff());
    typeName ("lost");
    ASSERT_NE (clickAt (host, panel->saveButton), nullptr);
    EXPECT_EQ (panel->nameField.getText(), "lost") << "the name stays for another try";
    EXPECT_TRUE (panel->saveButton.isEnabled());
    EXPECT_EQ (chipNames(), juce::StringArray ("kept"));
    EXPECT_EQ (storedNames(), juce::StringArray ("kept")) << "the store does not keep what it reported unsaved";

    // Once the folder is back, the next write of another setting does not smuggle it in.
    ASSERT_TRUE (folder.deleteFile());
    ASSERT_TRUE (aside.moveFileTo (folder));
    AppSettings::get().setSidebarVisible (false);
    EXPECT_FALSE (fileText().contains ("lost"));
    EXPECT_TRUE (fileText().contains ("kept"));
}

//==============================================================================
// Presets across processes: one child saves through the panel, the next
// finds, loads and deletes it, a third sees it gone. Each child reads the
// real file in a settings folder of this test's own.
TEST (PresetChild, Step)
{
    const auto step = juce::SystemStats::getEnvironmentVariable ("QVN_PRESET_STEP", {});
    if (step.isEmpty())
        GTEST_SKIP() << "run by PresetProcesses only";

    juce::ScopedJuceInitialiser_GUI gui;
    QuorvaneProcessor processor;
    juce::Component host;
    host.setBounds (0, 0, 972, 612);
    host.setVisible (true);
    std::unique_ptr<CustomWeightedRmsEditor> holder;
    auto& panel = CustomWeightedRmsEditor::openOver (host, holder, processor);

    auto design = allOff();
    design.slots[3] = { true, (int32_t) CustomSlotType::Bell, 2345.0, -4.5, 3.0, 12.0 };

    if (step == "save")
    {
        EXPECT_TRUE (panel.userChips.empty());
        panel.workingCopy = design;
        panel.workingCopyChanged (true);
        qvn::ui2test::type (panel.nameField, juce::String::fromUTF8 ("Night Mix ナイト"));
        qvn::ui2test::pump();
        clickAt (host, panel.saveButton);
        EXPECT_EQ (panel.presetSelection, 100);
    }
    else if (step == "load")
    {
        ASSERT_EQ (panel.userChips.size(), 1u);
        EXPECT_EQ (panel.userChips[0]->getButtonText(), juce::String::fromUTF8 ("Night Mix ナイト"));
        clickAt (host, *panel.userChips[0]);
        design.normalize();
        EXPECT_TRUE (panel.workingCopy == design);
        clickAt (host, panel.deleteButton);
        clickAt (host, panel.confirmDialog.confirmButton);
        EXPECT_TRUE (panel.userChips.empty());
    }
    else if (step == "gone")
    {
        EXPECT_TRUE (panel.userChips.empty());
        EXPECT_TRUE (AppSettings::get().customWeightedRmsPresets().empty());
    }
    holder.reset();
}

TEST (PresetProcesses, SurviveANewProcess)
{
    const auto folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                            .getChildFile ("qvn_cwrms_children_" + juce::String (juce::Time::currentTimeMillis()));
    ASSERT_TRUE (folder.createDirectory());
    const auto exe = juce::File::getSpecialLocation (juce::File::currentExecutableFile);

    for (const char* step : { "save", "load", "gone" })
    {
        ::setenv ("QVN_PRESET_CHILD_CONFIG", folder.getFullPathName().toRawUTF8(), 1);
        ::setenv ("QVN_PRESET_STEP", step, 1);
        juce::ChildProcess child;
        ASSERT_TRUE (child.start (juce::StringArray { exe.getFullPathName(), "--gtest_filter=PresetChild.Step" }));
        const auto output = child.readAllProcessOutput();
        ::unsetenv ("QVN_PRESET_STEP");
        ::unsetenv ("QVN_PRESET_CHILD_CONFIG");
        EXPECT_EQ (child.getExitCode(), 0u) << step << "\n" << output;
        EXPECT_TRUE (output.contains ("[  PASSED  ] 1 test")) << step << "\n" << output;
        if (juce::String (step) == "save")
            EXPECT_TRUE (folder.getChildFile ("config/Quorvane").findChildFiles (juce::File::findFiles, false).size() > 0);
    }
    folder.deleteRecursively();
}
} // namespace

namespace
{
class SmallWindow : public PanelFixture
{
public:
    SmallWindow() : PanelFixture (200, 300) {}
};

TEST_F (SmallWindow, NoSizeGoesNegativeAndTheGraphKeeps120Pixels)
{
    auto& p = *panel;
    EXPECT_EQ (p.frameBounds, juce::Rectangle<int> (12, 12, 176, 276)) << "margin 12 below W / 22";
    EXPECT_EQ (p.responseGraph.getHeight(), 120) << "overlaps the rows rather than shrinking";
    for (auto* c : p.getChildren())
    {
        EXPECT_GE (c->getWidth(), 0);
        EXPECT_GE (c->getHeight(), 0);
    }
    EXPECT_EQ (p.nameField.getWidth(), 0) << "136 px or less left for name, Save and Delete";
    EXPECT_EQ (p.userChipViewport.getWidth(), 0);

    // The confirmation card keeps covering the panel through a resize.
    p.confirm ("t", "m", "ok", [] {});
    host.setSize (640, 420);
    p.setBounds (host.getLocalBounds());
    EXPECT_EQ (p.confirmDialog.getBounds(), juce::Rectangle<int> (0, 0, 640, 420));

    // Many user presets: the viewport scrolls and the chips take its visible height.
    p.userPresets.clear();
    for (int i = 0; i < 12; ++i)
        p.userPresets.push_back ({ "Preset number " + juce::String (i), CustomWeightedRmsSettings {} });
    host.setSize (1492, 612);
    p.setBounds (host.getLocalBounds());
    p.rebuildUserChips();
    p.resized();
    EXPECT_GT (p.userChipViewport.getWidth(), 0);
    EXPECT_LT (p.userChipViewport.getWidth(), p.userChipStrip.getWidth());
    EXPECT_EQ (p.userChipStrip.getHeight(), p.userChipViewport.getMaximumVisibleHeight());
    EXPECT_EQ (p.userChips[5]->getHeight(), p.userChipStrip.getHeight());
    EXPECT_EQ (p.cards[1].subtitle, "12 saved");
}
} // namespace
