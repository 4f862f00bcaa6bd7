#pragma once

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "settings/AppSettings.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <functional>
#include <map>

// The Linux message loop's single-step dispatcher; plug-in builds disallow
// modal loops, so tests pump the queue through it.
namespace juce { bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages); }

namespace qvntest
{

// Runs queued messages on this (the message) thread until `done` holds or
// the time is up. Returns whether `done` held.
inline bool pumpMessagesUntil (const std::function<bool()>& done, int timeoutMs)
{
    const auto end = juce::Time::getMillisecondCounterHiRes() + timeoutMs;

    for (;;)
    {
        if (done())
            return true;

        if (juce::Time::getMillisecondCounterHiRes() > end)
            return false;

        if (! juce::dispatchNextMessageOnSystemQueue (true))
            juce::Thread::sleep (2);
    }
}

inline void pumpMessagesFor (int milliseconds)
{
    pumpMessagesUntil ([] { return false; }, milliseconds);
}

// Closes the process-wide store so that the next use opens the settings file
// again from the current environment.
inline void closeSettingsStore()
{
    delete &AppSettings::get();
}

// The settings file as the framework wrote it: key -> stored text. A value
// that holds XML is kept by the framework as a child element; it is turned
// back into the single-line text the store reads.
inline bool readSettingsFile (const juce::File& file, std::map<juce::String, juce::String>& values)
{
    values.clear();

    // Read through one open descriptor to its end: the framework's own file
    // reader takes the length from the path, which can belong to a newer
    // file by then.
    std::ifstream in (file.getFullPathName().toStdString(), std::ios::binary);
    const std::string text ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char>());
    auto xml = juce::parseXML (juce::String::fromUTF8 (text.data(), (int) text.size()));

    if (xml == nullptr || ! xml->hasTagName ("PROPERTIES"))
        return false;

    for (auto* e : xml->getChildWithTagNameIterator ("VALUE"))
    {
        auto text = e->getFirstChildElement() != nullptr
                      ? e->getFirstChildElement()->toString (juce::XmlElement::TextFormat().singleLine().withoutHeader())
                      : e->getStringAttribute ("val");
        values[e->getStringAttribute ("name")] = text;
    }

    return true;
}

// Writes a settings file in the framework's format with the given raw texts.
inline void writeSettingsFile (const juce::File& file, const std::map<juce::String, juce::String>& values)
{
    juce::XmlElement doc ("PROPERTIES");

    for (const auto& [key, text] : values)
    {
        auto* e = doc.createNewChildElement ("VALUE");
        e->setAttribute ("name", key);
        e->setAttribute ("val", text);
    }

    file.getParentDirectory().createDirectory();
    ASSERT_TRUE (doc.writeTo (file));
}

// Each test runs with a home folder of its own (HOME set, XDG_CONFIG_HOME
// unset) and a message manager on the test thread; the store is reopened
// at that location.
class SettingsFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Created atomically: test programs run side by side.
        auto pattern = juce::File::getSpecialLocation (juce::File::tempDirectory)
                           .getChildFile ("qvn-settings-home-XXXXXX").getFullPathName().toStdString();
        ASSERT_NE (mkdtemp (pattern.data()), nullptr);
        home = juce::File (pattern);
        setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
        unsetenv ("XDG_CONFIG_HOME");
        closeSettingsStore();
    }

    void TearDown() override
    {
        closeSettingsStore();
        home.deleteRecursively();
    }

    juce::File settingsFile() const
    {
        return home.getChildFile (".config/Quorvane/Quorvane.settings");
    }

    std::map<juce::String, juce::String> fileValues() const
    {
        std::map<juce::String, juce::String> values;
        EXPECT_TRUE (readSettingsFile (settingsFile(), values)) << settingsFile().loadFileAsString();
        return values;
    }

    juce::ScopedJuceInitialiser_GUI juceInit;
    juce::File home;
};

} // namespace qvntest
