#include <gtest/gtest.h>
#include "processor/PluginProcessor.h"

// The shared library links into a plain program and the processor can be made
// without a host: the minimum every other test relies on.
TEST (BuildSmoke, ProcessorConstructsWithStereoBuses)
{
    juce::ScopedJuceInitialiser_GUI juce;
    QuorvaneProcessor p;
    EXPECT_EQ (p.getTotalNumInputChannels(), 2);
    EXPECT_EQ (p.getTotalNumOutputChannels(), 2);
    EXPECT_EQ (p.getName(), "QUORVANE");
}
