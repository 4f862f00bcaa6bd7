#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

// Synthesised test material shared by the loudness tests.
namespace testsig
{
    inline double dbToGain (double db) { return std::pow (10.0, db / 20.0); }

    // A planar multi-channel signal built from stretches of tones or noise.
    struct Signal
    {
        double sampleRate = 48000.0;
        std::vector<std::vector<float>> channels;

        int numSamples() const { return channels.empty() ? 0 : (int) channels[0].size(); }
    };

    inline Signal makeSignal (double fs, int numChannels)
    {
        Signal s;
        s.sampleRate = fs;
        s.channels.resize ((size_t) numChannels);
        return s;
    }

    // Appends a sine of the given frequency and peak level (dBFS) to the
    // listed channels; the other channels get silence.
    inline void addTone (Signal& s, double seconds, double hz, double peakDb, std::vector<int> activeChannels = { 0, 1 })
    {
        const auto n = (int) std::lround (seconds * s.sampleRate);
        const auto a = dbToGain (peakDb);
        const auto start = s.numSamples();

        for (size_t c = 0; c < s.channels.size(); ++c)
        {
            const bool active = std::find (activeChannels.begin(), activeChannels.end(), (int) c) != activeChannels.end();

            for (int i = 0; i < n; ++i)
            {
                const auto t = (double) (start + i) / s.sampleRate;
                s.channels[c].push_back (active ? (float) (a * std::sin (2.0 * juce::MathConstants<double>::pi * hz * t)) : 0.0f);
            }
        }
    }

    // Appends uniform white noise with the given RMS level (dBFS), independent per channel.
    inline void addNoise (Signal& s, double seconds, double rmsDb, uint32_t seed)
    {
        const auto n = (int) std::lround (seconds * s.sampleRate);
        const auto a = dbToGain (rmsDb) * std::sqrt (3.0);
        std::mt19937 rng (seed);
        std::uniform_real_distribution<double> dist (-1.0, 1.0);

        for (auto& ch : s.channels)
            for (int i = 0; i < n; ++i)
                ch.push_back ((float) (a * dist (rng)));
    }

    // Copies samples [start, start + num) into a buffer of the signal's channel count.
    inline void fillBuffer (const Signal& s, int start, int num, juce::AudioBuffer<float>& b)
    {
        b.setSize ((int) s.channels.size(), num, false, false, true);

        for (size_t c = 0; c < s.channels.size(); ++c)
            b.copyFrom ((int) c, 0, s.channels[c].data() + start, num);
    }

    // Feeds the whole signal to a meter in blocks of blockSize samples.
    template <typename Meter>
    void feed (Meter& m, const Signal& s, int blockSize)
    {
        juce::AudioBuffer<float> b;

        for (int pos = 0; pos < s.numSamples(); pos += blockSize)
        {
            const auto num = std::min (blockSize, s.numSamples() - pos);
            fillBuffer (s, pos, num, b);
            m.processBlock (b);
        }
    }
}
