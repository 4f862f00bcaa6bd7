#pragma once

#include "CustomWeightedRmsSettings.h"

// Turns a custom weighting into cascades of second-order stages for one sample
// rate, and evaluates the magnitude response of such a design. Pure functions:
// no state, no locks, no allocation, safe on any thread.
class CustomWeightingDesigner
{
public:
    static DesignedCustomWeighting design (CustomWeightedRmsSettings settings, double sampleRate);

    // Magnitude of the whole design at one frequency in dB (negative
    // frequencies give the DC response).
    static double magnitudeDb (const DesignedCustomWeighting& design, double frequencyHz);
};
