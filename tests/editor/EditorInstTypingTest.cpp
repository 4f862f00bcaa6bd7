// Typing into the Target LUFS view's values. The framework's label takes the
// keyboard focus for its inline editor, which a window that is not on screen
// cannot have (a debug-build assertion), so these run in the release build only.

#include "InstViewSupport.h"

TEST_F (EditorInstView, TypedTargetAndOffsetAreFilteredClampedOrIgnored)
{
    QuorvaneProcessor* pp = nullptr;
    auto& e = openTargetView (pp);
    auto& p = *pp;

    struct Gestures : juce::AudioProcessorListener
    {
        void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override {}
        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
        void audioProcessorParameterChangeGestureBegin (juce::AudioProcessor*, int i) override { ++begins[i]; }
        void audioProcessorParameterChangeGestureEnd (juce::AudioProcessor*, int i) override { ++ends[i]; }
        std::map<int, int> begins, ends;
    } gestures;
    p.addListener (&gestures);

    struct Case
    {
        bool target;
        const char* keys;
        const char* editorText;   // what the inline editor kept of the keys
        float expected;           // NAN: the parameter stays where it was
    };
    const Case cases[] = {
        { true, "-40", "-40", -36.0f },
        { true, "-3", "-3", -6.0f },
        { true, "-20.5", "-20.5", -20.5f },
        { true, "-2x1.5dB", "-21.5", -21.5f },
        { true, "-12.34567", "-12.345", -12.345f },
        { true, "-.-+", "-.-+", NAN },
        { true, "abc", "", NAN },
        { false, "7", "7", 6.0f },
        { false, "-9", "-9", -6.0f },
        { false, "+2.5", "+2.5", 2.5f },
        { false, "-1.2345", "-1.234", -1.234f },
        { false, "1,5", "15", 6.0f },
        { false, "+.", "+.", NAN },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.target ? "Target LUFS " : "Inst Offset ") + c.keys);
        auto& label = c.target ? e.targetLufsValue : e.instOffsetValue;
        const char* id = c.target ? ids::targetLufs : ids::instOffset;
        auto* param = p.parameters.getParameter (id);
        const int index = param->getParameterIndex();
        const float before = p.parameters.getRawParameterValue (id)->load();
        const auto gestureCount = gestures.begins[index];

        const auto centre = label.getLocalBounds().getCentre().toFloat();
        static_cast<juce::Component&> (label).mouseDoubleClick (mouseEvent (label, centre, juce::ModifierKeys::leftButtonModifier, 2));
        auto* editor = label.getCurrentTextEditor();
        ASSERT_NE (editor, nullptr);
        EXPECT_EQ (editor->getFont().getHeight(), label.getFont().getHeight()) << "typed in the value's own font";
        EXPECT_EQ (editor->getBottom(), label.getHeight());
        editor->selectAll();
        for (const char* k = c.keys; *k != 0; ++k)
            editor->keyPressed (juce::KeyPress (*k, juce::ModifierKeys(), (juce::juce_wchar) *k));
        EXPECT_EQ (editor->getText(), c.editorText);
        editor->keyPressed (juce::KeyPress (juce::KeyPress::returnKey));
        pump();
        EXPECT_EQ (label.getCurrentTextEditor(), nullptr);

        const float now = p.parameters.getRawParameterValue (id)->load();
        if (std::isnan (c.expected))
            EXPECT_EQ (now, before);
        else
            EXPECT_NEAR (now, c.expected, 0.051f);   // both parameters move in steps of 0.1
        EXPECT_TRUE (std::isfinite (now));

        const bool changed = ! std::isnan (c.expected);
        EXPECT_EQ (gestures.begins[index] - gestureCount, (! c.target && changed) ? 1 : 0);
        EXPECT_EQ (gestures.begins[index], gestures.ends[index]);
        tick (e);
    }

    // The Match Gain follows a typed Target.
    p.instMeasuredLufs = -21.0f;
    p.instFrozen = true;
    typeInto (e.targetLufsValue, "-15");
    tick (e);
    EXPECT_NEAR (p.instMatchGain.load(), 6.0f, 1.0e-4f);
    EXPECT_EQ (e.instMatchValue.getText(), "+6.0");
    p.removeListener (&gestures);
}
