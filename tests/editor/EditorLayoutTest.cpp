#include "EditorTestSupport.h"

#include "ui/JuceCompat.h"

using qvn::test::EditorFixture;
using R = juce::Rectangle<int>;

namespace
{
class EditorLayout : public EditorFixture
{
protected:
    QuorvaneEditor& vocalEditor()
    {
        addProcessor (1);
        auto& vocal = addProcessor (2);
        auto& e = open (vocal);
        e.timerCallback();
        return e;
    }
};

/** Sends a press, a drag to (dx, dy) and, unless told otherwise, the release
    to a component, as the mouse would. */
struct GripDrag
{
    explicit GripDrag (juce::Component& c) : target (c) {}

    juce::MouseEvent event (juce::Point<float> pos) const
    {
        auto source = juce::Desktop::getInstance().getMainMouseSource();
        return juce::MouseEvent (source, pos, juce::ModifierKeys::leftButtonModifier, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f,
                                 &target, &target, juce::Time::getCurrentTime(), { 7.0f, 7.0f },
                                 juce::Time::getCurrentTime(), 1, false);
    }

    void press() { target.mouseDown (event ({ 7.0f, 7.0f })); }
    void dragBy (int dx, int dy) { target.mouseDrag (event ({ 7.0f + (float) dx, 7.0f + (float) dy })); }
    void release() { target.mouseUp (event ({ 7.0f, 7.0f })); }

    juce::Component& target;
};

double storedZoom()
{
    return AppSettings::get().properties.getUserSettings()->getDoubleValue ("editorZoom", -1.0);
}
} // namespace

TEST_F (EditorLayout, WindowWidthFollowsTheOtherVocalMetersAndTheRailStaysAt796)
{
    const std::pair<int, int> table[] = { { 0, 972 },   { 8, 1292 },  { 9, 1296 },  { 10, 1312 },
                                          { 11, 1313 }, { 12, 1332 }, { 13, 1336 }, { 14, 1350 },
                                          { 15, 1362 }, { 16, 1388 }, { 20, 1492 } };
    auto& e = vocalEditor();

    for (auto [k, width] : table)
    {
        SCOPED_TRACE (k);
        EXPECT_EQ (QuorvaneEditor::windowWidthFor (k), width);
        e.rebuildOtherVocalMeters (k);
        EXPECT_EQ (e.getWidth(), width);
        EXPECT_EQ (e.getHeight(), 612);
        EXPECT_EQ (e.railModeButton.getX(), 806);   // rail at 796, button 10 in
        EXPECT_EQ (e.ownMeter.getBounds(), R (796 + 39, 112, 60, 466));
        EXPECT_EQ (e.partnerMeter.getBounds(), R (796 + 99, 112, 38, 466));
        EXPECT_EQ (e.sectionChart.getBounds(), R (308, 348, 476, 226));
        if (k > 0)
        {
            const int cw = k >= 16 ? 16 : std::min (240 / k, 30);
            auto& last = *e.otherVocalMeters.back();
            EXPECT_EQ (last.getWidth(), cw + 10);
            EXPECT_EQ (last.getRight(), width - 29 - 5) << "columns centred in the rail";
            EXPECT_EQ (last.hitInset, 5);
        }
    }

    // Every value from 0 to 20 obeys the step rule.
    for (int k = 0; k <= 20; ++k)
        EXPECT_EQ (QuorvaneEditor::windowWidthFor (k), 972 + k * (k == 0 ? 0 : (k >= 16 ? 26 : std::min (240 / k, 30) + 10)));
}

TEST_F (EditorLayout, VocalViewRectanglesWithAndWithoutTheSidebar)
{
    auto& e = vocalEditor();

    struct Case
    {
        bool sidebar;
        int bx, bw;
    };

    for (auto c : { Case { true, 308, 476 }, Case { false, 12, 772 } })
    {
        SCOPED_TRACE (c.sidebar);
        e.sidebarVisible = c.sidebar;
        e.updateRoleVisibility();
        const int hw = (c.bw - 10) / 2;

        EXPECT_EQ (e.prevSectionButton.getBounds(), R (c.bx, 63, 18, 38));
        EXPECT_EQ (e.stepperBadgeRect, R (c.bx + 18, 63, 38, 38));
        EXPECT_EQ (e.nextSectionButton.getBounds(), R (c.bx + 56, 63, 18, 38));
        EXPECT_EQ (e.matchButton.getBounds(), R (c.bx + c.bw - hw, 62, hw, 40));
        EXPECT_EQ (e.matchButton.getWidth(), c.sidebar ? 233 : 381);
        EXPECT_EQ (e.sectionTitle.getBounds(), R (c.bx + 82, 60, c.bw - 82 - hw, 22));
        EXPECT_EQ (e.vocalCardsRect, R (c.bx, 116, c.bw, 90));
        EXPECT_EQ (e.vocalLufsCaption.getBounds(), R (c.bx + 14, 128, hw - 28, 20));
        EXPECT_EQ (e.vocalGainCardRect, R (c.bx, 218, c.bw, 118));
        EXPECT_EQ (e.matchGainCaption.getBounds(), R (c.bx + 24, 226, 106, 20));
        EXPECT_EQ (e.totalGainCaption.getBounds(), R (c.bx + 14 + (c.bw - 28) - 126 + 10, 226, 106, 20));
        EXPECT_EQ (e.offsetSlider.getBounds(), R (c.bx + 24, 294, c.bw - 28 - 20, 34));
        EXPECT_EQ (e.sectionChart.getBounds(), R (c.bx, 348, c.bw, 226));
        EXPECT_TRUE (e.gainDetailCaption.getBounds().isEmpty());
        EXPECT_TRUE (e.linkAllButton.getBounds().isEmpty());
        EXPECT_TRUE (e.setInstTargetButton.getBounds().isEmpty());
        EXPECT_TRUE (e.instChart.getBounds().isEmpty());

        if (c.sidebar)
        {
            EXPECT_EQ (e.sidebarHeaderRect, R (0, 60, 296, 28));
            EXPECT_EQ (e.sidebarListRect, R (0, 89, 296, 497));
            EXPECT_EQ (e.sectionListViewport.getBounds(), R (0, 89, 296, 497));
            EXPECT_EQ (e.sectionsHeader.getBounds(), R (12, 62, 72, 24));
            EXPECT_EQ (e.allCaption.getBounds(), R (168, 62, 28, 24));
            EXPECT_EQ (e.allBypassButton.getBounds(), R (202, 66, 16, 16));
            EXPECT_EQ (e.allLockButton.getBounds(), R (256, 66, 16, 16));
            EXPECT_EQ (e.rowHighlightRects[3], R (12, 151, 264, 48));
            EXPECT_EQ (e.rowBadgeRects[3], R (16, 161, 28, 28));
            EXPECT_EQ (e.rowBarRects[3], R (52, 184, 144, 3));
            EXPECT_EQ (e.rowLinkButtons[3].getBounds(), R (238, 167, 16, 16));
            EXPECT_EQ (e.sectionCells[QuorvaneEditor::cellMatch][3].getBounds(), R (52, 164, 34, 20));
            EXPECT_EQ (e.sectionCells[QuorvaneEditor::cellOffset][3].getBounds(), R (96, 164, 34, 20));
            EXPECT_EQ (e.sectionCells[QuorvaneEditor::cellTotal][3].getBounds(), R (140, 164, 56, 20));
            EXPECT_TRUE (e.sectionCells[QuorvaneEditor::cellMatchGain][3].getBounds().isEmpty());
        }
        else
        {
            EXPECT_TRUE (e.sidebarHeaderRect.isEmpty());
            EXPECT_TRUE (e.sidebarListRect.isEmpty());
            EXPECT_TRUE (e.sectionListViewport.getBounds().isEmpty());
            EXPECT_TRUE (e.sectionsHeader.getBounds().isEmpty());
            EXPECT_TRUE (e.allLockButton.getBounds().isEmpty());
        }
    }
}

TEST_F (EditorLayout, SectionListScrollIsKeptWithinTheContent)
{
    auto& e = vocalEditor();
    auto& p = *processors.back();

    e.applyLayoutForNumSections (16);
    e.resized();
    EXPECT_EQ (e.sectionListContent.getHeight(), 806);
    e.sectionListViewport.setViewPosition (0, 1000);
    EXPECT_EQ (e.sectionListViewport.getViewPositionY(), 309);

    e.resized();
    EXPECT_EQ (e.sectionListViewport.getViewPositionY(), 309) << "a layout keeps a valid scroll position";

    p.numSections = 3;
    e.timerCallback();   // the refresh notices the new count
    EXPECT_EQ (e.lastNumSections, 3);
    EXPECT_EQ (e.sectionListContent.getHeight(), 497);
    EXPECT_EQ (e.sectionListViewport.getViewPositionY(), 0) << "pulled back into the shorter content";
    EXPECT_TRUE (e.rowHighlightRects[3].isEmpty());
    EXPECT_TRUE (e.sectionRows[15].getBounds().isEmpty());
    EXPECT_EQ (e.getWidth(), 972) << "the section count never changes the size";

    e.applyLayoutForNumSections (0);
    EXPECT_EQ (e.lastNumSections, 1);
    e.applyLayoutForNumSections (40);
    EXPECT_EQ (e.lastNumSections, 16);
}

TEST_F (EditorLayout, GripDragZoomsInSnappedStepsAndStoresOnRelease)
{
    auto& e = vocalEditor();
    auto& other = open (*processors.front());
    GripDrag drag (e.zoomGrip);

    struct Case
    {
        int dx, dy;
        float zoom;
    };
    const Case cases[] = { { 50, 50, 1.065f }, { -2000, -2000, 0.5f }, { 5000, 5000, 2.0f }, { 0, 0, 1.0f } };

    for (auto c : cases)
    {
        SCOPED_TRACE (juce::String (c.dx) + "," + juce::String (c.dy));
        AppSettings::get().setEditorZoom (1.0);
        e.applyUserZoom (1.0f);
        const double before = storedZoom();

        drag.press();
        EXPECT_FLOAT_EQ (e.zoomDragStartWidth, 972.0f);
        EXPECT_FLOAT_EQ (e.zoomDragStartHeight, 612.0f);
        drag.dragBy (c.dx, c.dy);
        EXPECT_NEAR (e.userZoom, c.zoom, 1.0e-5f);
        EXPECT_NEAR (e.getTransform().getScaleFactor(), c.zoom, 1.0e-5f);
        EXPECT_EQ (e.getWidth(), 972) << "zoom scales the window, it does not resize its layout";
        EXPECT_EQ (storedZoom(), before) << "nothing is stored during the drag";
        EXPECT_FLOAT_EQ (other.userZoom, 1.0f) << "only the dragged window follows the drag";

        drag.release();
        EXPECT_NEAR (storedZoom(), c.zoom, 1.0e-5);
        EXPECT_NEAR (other.userZoom, c.zoom, 1.0e-5f) << "linked windows follow at release";
    }

    // Unlinked: the zoom stays in its window but is still stored.
    AppSettings::get().setZoomLinked (false);
    e.applyUserZoom (1.0f);
    other.applyUserZoomLocal (1.0f);
    drag.press();
    drag.dragBy (50, 50);
    drag.release();
    EXPECT_NEAR (storedZoom(), 1.065, 1.0e-5);
    EXPECT_FLOAT_EQ (other.userZoom, 1.0f);

    // A new window opens at the stored zoom.
    auto& third = open (*processors.back());
    EXPECT_NEAR (third.userZoom, 1.065f, 1.0e-5f);
}

TEST_F (EditorLayout, ConstructionTakesTheStoredZoomClampedAndTheSectionParameter)
{
    auto& p = addProcessor (2);
    qvn::test::setParameter (p, "section", 3.0f);
    qvn::test::setParameter (p, "offset_D", 5.0f);

    const std::pair<double, float> zooms[] = { { 0.3, 0.5f }, { 3.0, 2.0f }, { 1.25, 1.25f }, { 1.0, 1.0f } };
    for (auto [stored, expected] : zooms)
    {
        AppSettings::get().setEditorZoom (stored);
        auto& e = open (p);
        EXPECT_FLOAT_EQ (e.userZoom, expected);
        EXPECT_NEAR (e.getTransform().getScaleFactor(), expected, 1.0e-6f);
        EXPECT_EQ (e.shownSection, 3);
        EXPECT_EQ (e.boundOffsetSection, 3);
        EXPECT_DOUBLE_EQ (e.offsetSlider.getValue(), 5.0) << "bound to the Offset Gain of section D";
        editors.pop_back();
    }
    AppSettings::get().setEditorZoom (1.0);
}

TEST_F (EditorLayout, RoleViewsPlaceOrParkTheirControls)
{
    auto& inst = addProcessor (1);
    auto& vocals = addProcessor (2);
    addProcessor (2);
    addProcessor (2);
    juce::ignoreUnused (vocals);

    auto& e = open (inst);
    // INST status: only the call-to-action button, 420 x 40 under the 520 wide body text.
    EXPECT_EQ (e.setInstTargetButton.getWidth(), 420);
    EXPECT_EQ (e.setInstTargetButton.getHeight(), 40);
    const auto g = e.computeInstGateGeom ({ 0, 46, 972, 540 });
    EXPECT_EQ (g.bodyRect.getWidth(), 520);
    EXPECT_EQ (e.setInstTargetButton.getY(), g.bodyRect.getBottom() + 26);
    EXPECT_NEAR ((float) (g.iconBox.getY() + e.setInstTargetButton.getBottom()) / 2.0f, 316.0f, 1.5f) << "centred in the body";
    EXPECT_TRUE (e.ownMeter.getBounds().isEmpty());
    EXPECT_TRUE (e.sectionListViewport.getBounds().isEmpty());
    EXPECT_FALSE (e.englishToggle.getBounds().isEmpty());

    // Target LUFS view.
    inst.instTargetUiOpen = true;
    e.updateRoleVisibility();
    EXPECT_EQ (e.instCardsRect, R (12, 116, 772, 90));
    EXPECT_EQ (e.instGainCardRect, R (12, 218, 772, 118));
    EXPECT_EQ (e.backToInstStatusButton.getBounds(), R (12, 62, 381, 40));
    EXPECT_EQ (e.instChart.getBounds(), R (12, 348, 772, 226));
    EXPECT_TRUE (e.setInstTargetButton.getBounds().isEmpty());
    EXPECT_EQ (e.ownMeter.getX(), 796 + 39);

    // Conflict: a second Inst shows no INST control at all.
    auto& second = addProcessor (1);
    ASSERT_TRUE (second.roleConflict.load());
    auto& c = open (second);
    EXPECT_TRUE (c.setInstTargetButton.getBounds().isEmpty());
    EXPECT_TRUE (c.instChart.getBounds().isEmpty());
    EXPECT_TRUE (c.instCardsRect.isEmpty());
}

TEST (JapaneseTextLayout, EveryLineFitsItsWidthAndBreaksBetweenCharacters)
{
    juce::ScopedJuceInitialiser_GUI gui;

    const auto texts = { qvn::uiText::instPlaceholderCopy (true, false, 0).body,
                         qvn::uiText::instPlaceholderCopy (true, false, 12).body,
                         qvn::uiText::instPlaceholderCopy (true, true, 0).body,
                         qvn::uiText::instPlaceholderCopy (false, false, 2).body };

    for (const auto& text : texts)
        for (float width : { 120.0f, 260.0f, 492.0f, 520.0f })
        {
            SCOPED_TRACE (text + " @ " + juce::String (width));
            juce::AttributedString s;
            s.setWordWrap (juce::AttributedString::byWord);
            s.setJustification (juce::Justification::centred);
            qvn::compat::appendText (s, text, FlatLookAndFeel::jpFont (15.5f).withExtraKerningFactor (0.03f), juce::Colours::white);

            juce::TextLayout layout;
            qvn::compat::createLayout (layout, s, width);
            const float full = qvn::compat::stringWidth (FlatLookAndFeel::jpFont (15.5f).withExtraKerningFactor (0.03f), text);

            ASSERT_GT (layout.getNumLines(), 0);
            EXPECT_GE (layout.getNumLines(), (int) std::ceil (full / width) ) << "the text wraps";
            for (int i = 0; i < layout.getNumLines(); ++i)
                EXPECT_LE (layout.getLine (i).getLineBoundsX().getLength(), width + 0.5f) << "line " << i;
        }

    // Tooltips in Japanese wrap the same way.
    FlatLookAndFeel lf;
    lf.tooltipJapanese = true;
    const auto tip = qvn::uiText::instPlaceholderCopy (true, false, 0).body;
    const auto layout = lf.layoutTooltipText (tip, 200.0f);
    EXPECT_GT (layout.getNumLines(), 2);
    for (int i = 0; i < layout.getNumLines(); ++i)
        EXPECT_LE (layout.getLine (i).getLineBoundsX().getLength(), 200.5f) << "tooltip line " << i;
}
