#pragma once

// What the gallery pages of the plug-in window share: their own settings file
// and a role given the way a host gives it.

#include "processor/PluginProcessor.h"

#include <juce_core/juce_core.h>

#include <cstdlib>

namespace qvn::gallery
{
// The editor reads and writes the per-user settings file; the gallery keeps
// its own, so a developer's zoom or sidebar choice never changes the images.
inline const bool editorGalleryHome = []
{
    const auto home = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("qvn_gallery_home");
    home.createDirectory();
    ::setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
    return true;
}();

// Sets the role parameter and lets the processor relink at once.
inline void setRole (QuorvaneProcessor& p, int role)
{
    auto* param = p.parameters.getParameter (ids::role);
    param->setValueNotifyingHost (param->convertTo0to1 ((float) role));
    p.handleUpdateNowIfNeeded();
}
} // namespace qvn::gallery
