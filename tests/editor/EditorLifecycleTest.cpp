#include "EditorTestSupport.h"

using qvn::test::EditorFixture;

namespace
{
class EditorLifecycle : public EditorFixture
{
protected:
    static void paintOnce (QuorvaneEditor& e)
    {
        auto image = e.createComponentSnapshot (e.getLocalBounds(), true, 1.0f);
        EXPECT_TRUE (image.isValid());
    }
};
} // namespace

TEST_F (EditorLifecycle, TwoWindowsOnOneProcessorCloseInEitherOrder)
{
    auto& p = addProcessor (2);
    addProcessor (1);

    for (bool firstClosesFirst : { true, false })
    {
        auto& a = open (p);
        auto& b = open (p);
        paintOnce (a);
        paintOnce (b);
        ASSERT_EQ (QuorvaneEditor::liveEditors().size(), 2u);
        EXPECT_EQ (QuorvaneEditor::liveEditors()[0], &a);
        EXPECT_EQ (&juce::LookAndFeel::getDefaultLookAndFeel(), &b.baseLook) << "the last window's look is the default";

        editors.erase (editors.begin() + (firstClosesFirst ? 0 : 1));
        ASSERT_EQ (QuorvaneEditor::liveEditors().size(), 1u);
        auto& left = *editors.front();
        EXPECT_EQ (QuorvaneEditor::liveEditors()[0], &left);

        // The window left open still draws and zooms alone.
        paintOnce (left);
        left.applyUserZoom (1.5f);
        EXPECT_FLOAT_EQ (left.userZoom, 1.5f);
        left.timerCallback();
        editors.clear();
        EXPECT_TRUE (QuorvaneEditor::liveEditors().empty());
        AppSettings::get().setEditorZoom (1.0);
    }
}

TEST_F (EditorLifecycle, LinkedInstancesOpenAndCloseWindowsInAnyOrder)
{
    addProcessor (1);
    addProcessor (2);
    addProcessor (2);
    addProcessor (0);

    std::vector<int> order { 0, 1, 2, 3 };
    int rounds = 0;
    do
    {
        for (int i : order)
        {
            auto& e = open (*processors[(size_t) i]);
            e.timerCallback();
            paintOnce (e);
        }

        // Close in the reverse of a rotated order, so each round closes differently.
        const auto rot = (size_t) (rounds % 4);
        while (! editors.empty())
        {
            const auto idx = std::min (rot, editors.size() - 1);
            editors.erase (editors.begin() + (std::ptrdiff_t) idx);
            for (auto& left : editors)
                left->timerCallback();
        }
        EXPECT_TRUE (QuorvaneEditor::liveEditors().empty());
        ++rounds;
    } while (std::next_permutation (order.begin(), order.end()) && rounds < 8);
}

TEST_F (EditorLifecycle, WindowFollowsRoleChangesAndLinkChangesWhileOpen)
{
    auto& inst = addProcessor (1);
    auto& vocal = addProcessor (2);
    auto& e = open (vocal);
    e.timerCallback();
    EXPECT_FALSE (e.sectionListViewport.getBounds().isEmpty());

    // Another instance joins and leaves while the window is open.
    auto& other = addProcessor (2);
    e.timerCallback();
    EXPECT_EQ (e.otherVocalMeterCount, 1);
    EXPECT_EQ (e.getWidth(), 1012);
    processors.pop_back();
    juce::ignoreUnused (other);
    e.timerCallback();
    EXPECT_EQ (e.otherVocalMeterCount, 0);
    EXPECT_EQ (e.getWidth(), 972);

    // The role changes to none and the Inst goes away.
    qvn::test::setParameter (vocal, ids::role, 0.0f);
    e.timerCallback();
    EXPECT_TRUE (e.sectionListViewport.getBounds().isEmpty());
    EXPECT_TRUE (e.ownMeter.getBounds().isEmpty());
    juce::ignoreUnused (inst);
    processors.erase (processors.begin());
    e.timerCallback();
    paintOnce (e);
}
