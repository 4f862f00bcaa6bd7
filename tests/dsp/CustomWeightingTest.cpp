#include <gtest/gtest.h>
#include "dsp/CustomWeightedRmsSettings.h"
#include "dsp/CustomWeightingDesigner.h"

TEST (CustomWeighting, DefaultReproducesKWeightingAt997Hz)
{
    const auto d = CustomWeightingDesigner::design (CustomWeightedRmsSettings(), 48000.0);
    EXPECT_NEAR (CustomWeightingDesigner::magnitudeDb (d, 997.0), 0.648, 0.0005);
}
