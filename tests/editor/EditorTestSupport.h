#pragma once

#include "editor/PluginEditor.h"
#include "processor/LinkRegistry.h"
#include "settings/AppSettings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

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
