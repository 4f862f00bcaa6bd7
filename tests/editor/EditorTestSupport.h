#pragma once

#include "editor/PluginEditor.h"
#include "processor/LinkRegistry.h"
#include "settings/AppSettings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

namespace juce
{
// The platform's one-message dispatcher: widgets post some notifications
// (a text editor's Return or focus loss) as messages.
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
} // namespace juce

namespace qvn::test
{
/** The editor reads and writes the per-user settings file: the tests use one
    of their own in a fresh home folder. */
inline const bool editorTestHome = []
{
    const auto home = juce::File::getSpecialLocation (juce::File::tempDirectory)
                          .getChildFile ("qvn_editor_test_home_" + juce::String (juce::Time::currentTimeMillis()));
    home.createDirectory();
    ::setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
    return true;
}();

inline void setParameter (QuorvaneProcessor& p, const juce::String& id, float value)
{
    auto* param = p.parameters.getParameter (id);
    ASSERT_NE (param, nullptr) << id;
    param->setValueNotifyingHost (param->convertTo0to1 (value));
    p.handleUpdateNowIfNeeded();
}

/** A mouse event at a point of a component, as the mouse source sends it. */
inline juce::MouseEvent mouseEvent (juce::Component& c, juce::Point<float> pos, juce::ModifierKeys mods, int clicks = 1)
{
    auto source = juce::Desktop::getInstance().getMainMouseSource();
    return juce::MouseEvent (source, pos, mods, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, &c, &c, juce::Time::getCurrentTime(), pos,
                             juce::Time::getCurrentTime(), clicks, false);
}

/** A press and release in the middle of a component. */
inline void click (juce::Component& c, juce::ModifierKeys mods = juce::ModifierKeys::leftButtonModifier)
{
    const auto centre = c.getLocalBounds().getCentre().toFloat();
    c.mouseDown (mouseEvent (c, centre, mods));
    c.mouseUp (mouseEvent (c, centre, mods));
}

/** Delivers what the widgets posted. */
inline void pump()
{
    for (int i = 0; i < 1000; ++i)
        if (! juce::dispatchNextMessageOnSystemQueue (true))
            break;
}

/** Fills every channel of a block with a 997 Hz sine of the given peak
    amplitude, going on from the phase the last block left. */
inline void fillSine (juce::AudioBuffer<float>& buffer, float amplitude, double& phase, double sampleRate = 48000.0)
{
    for (int n = 0; n < buffer.getNumSamples(); ++n)
    {
        const float v = amplitude * (float) std::sin (phase);
        phase += 2.0 * juce::MathConstants<double>::pi * 997.0 / sampleRate;
        for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
            buffer.setSample (ch, n, v);
    }
}

/** A trim handle of a Learn History chart pressed at one fraction of the
    plot, dragged to another and released. */
inline void dragTrim (LearnHistoryChart& chart, float from, float to, float heightFraction = 0.5f)
{
    auto x = [&] (float f) { return 16.0f + (float) (chart.getWidth() - 32) * f; };
    const float y = (float) chart.getHeight() * heightFraction;
    const auto mods = juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier);
    chart.mouseDown (mouseEvent (chart, { x (from), y }, mods));
    chart.mouseDrag (mouseEvent (chart, { x ((from + to) * 0.5f), y }, mods));
    chart.mouseDrag (mouseEvent (chart, { x (to), y }, mods));
    chart.mouseUp (mouseEvent (chart, { x (to), y }, mods));
}

/** Processors of one host session and the windows opened on them. */
class EditorFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto& s = AppSettings::get();
        s.setUpdateChecksEnabled (false);
        s.setEditorZoom (1.0);
        s.setZoomLinked (true);
        s.setSidebarVisible (true);
    }

    void TearDown() override
    {
        editors.clear();
        processors.clear();
    }

    QuorvaneProcessor& addProcessor (int role)
    {
        processors.push_back (std::make_unique<QuorvaneProcessor>());
        auto& p = *processors.back();
        p.tooltipLang = 0;
        setParameter (p, ids::role, (float) role);
        return p;
    }

    QuorvaneEditor& open (QuorvaneProcessor& p)
    {
        editors.push_back (std::make_unique<QuorvaneEditor> (p));
        return *editors.back();
    }

    juce::ScopedJuceInitialiser_GUI gui;
    std::vector<std::unique_ptr<QuorvaneProcessor>> processors;
    std::vector<std::unique_ptr<QuorvaneEditor>> editors;  // destroyed before the processors
};
} // namespace qvn::test
