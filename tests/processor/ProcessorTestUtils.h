#pragma once

#include "processor/LinkRegistry.h"
#include "processor/PluginProcessor.h"

#include <gtest/gtest.h>

namespace qvn::test
{
/** Sets a parameter in its own units through the host's notifying path. */
inline void setParam (QuorvaneProcessor& p, const juce::String& id, float value)
{
    auto* param = p.parameters.getParameter (id);
    ASSERT_NE (param, nullptr) << id;
    param->setValueNotifyingHost (param->convertTo0to1 (value));
}

/** Sets the role and runs the asynchronous update the change asks for, as the
    message thread would. */
inline void setRole (QuorvaneProcessor& p, int role)
{
    setParam (p, ids::role, (float) role);
    p.handleUpdateNowIfNeeded();
}

inline std::vector<std::shared_ptr<LinkSlot>> partnersOf (QuorvaneProcessor& p)
{
    const std::lock_guard<std::mutex> lock (p.partnerMutex);
    return p.partnerSlots;
}

inline std::vector<std::shared_ptr<LinkSlot>> otherVocalsOf (QuorvaneProcessor& p)
{
    const std::lock_guard<std::mutex> lock (p.partnerMutex);
    return p.otherVocalSlots;
}

/** Marks a section as measuring on the own side, as a started measurement does. */
inline void markMeasuring (QuorvaneProcessor& p, int section)
{
    p.ownSlot->ownSections[(size_t) section].measuring.store (true);
}

/** Message-thread environment for one test. */
class ProcessorTest : public ::testing::Test
{
protected:
    juce::ScopedJuceInitialiser_GUI juce;
};
} // namespace qvn::test
