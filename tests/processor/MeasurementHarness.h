#pragma once

#include "ProcessorTestUtils.h"

#include <barrier>
#include <cmath>
#include <thread>

namespace qvn::test
{
/** A play head the test moves by hand. */
class TestPlayHead : public juce::AudioPlayHead
{
public:
    juce::Optional<PositionInfo> getPosition() const override
    {
        if (! hasPosition)
            return {};

        PositionInfo info;
        info.setIsPlaying (playing);
        info.setIsLooping (looping);
        info.setTimeInSamples (position);
        return info;
    }

    bool hasPosition = true;
    bool playing = true;
    bool looping = false;
    std::int64_t position = 0;
};

/** Fills a buffer with a 1 kHz sine of the given peak level in both channels.
    At one frequency the K-weighting is a constant gain, so two such signals
    differ in loudness exactly by their level difference. */
inline void fillSine (juce::AudioBuffer<float>& buffer, std::int64_t startSample, double sampleRate, float levelDb)
{
    const auto amp = juce::Decibels::decibelsToGain (levelDb);

    for (int i = 0; i < buffer.getNumSamples(); ++i)
    {
        const auto v = amp * (float) std::sin (2.0 * juce::MathConstants<double>::pi * 1000.0 * (double) (startSample + i) / sampleRate);

        for (int c = 0; c < buffer.getNumChannels(); ++c)
            buffer.setSample (c, i, v);
    }
}

/** What the editor does for MATCH on a section that is not locked. */
inline void startMeasuring (QuorvaneProcessor& v, int section)
{
    auto& s = v.sections[(size_t) section];
    s.frozen = false;
    s.selfLufs = -120.0f;
    s.partnerLufs = -120.0f;
    s.gainDb = 0.0f;
    s.seconds = 0.0f;
    v.resetSectionAnalysis (section, false);
    v.kickSectionMeasurement (section);
}

/** What the editor does for STOP: the run's flag goes, then the stop. */
inline void stopMeasuring (QuorvaneProcessor& v)
{
    if (const auto s = v.measuringSectionIndex(); s >= 0)
    {
        v.ownSlot->ownSections[(size_t) s].measuring.store (false);
        v.ownSlot->ownSections[(size_t) s].elapsedSeconds.store (0.0f);
    }
    v.ownSlot->signalStop();
}
/** One Inst and any number of Vocal instances driven block by block over the
    same stretch of time, each with its own play head. */
struct Session
{
    explicit Session (int numVocals, double rate = 48000.0, int block = 480)
        : sampleRate (rate), blockSize (block)
    {
        inst = std::make_unique<QuorvaneProcessor>();
        for (int i = 0; i < numVocals; ++i)
            vocals.push_back (std::make_unique<QuorvaneProcessor>());

        setRole (*inst, 1);
        for (auto& v : vocals)
            setRole (*v, 2);

        heads.resize (vocals.size() + 1);
        inst->setPlayHead (&heads[0]);
        for (size_t i = 0; i < vocals.size(); ++i)
            vocals[i]->setPlayHead (&heads[i + 1]);

        for (auto* p : all())
            p->prepareToPlay (sampleRate, blockSize);
    }

    std::vector<QuorvaneProcessor*> all()
    {
        std::vector<QuorvaneProcessor*> list { inst.get() };
        for (auto& v : vocals)
            list.push_back (v.get());
        return list;
    }

    QuorvaneProcessor& vocal (size_t i = 0) { return *vocals[i]; }

    void setPlaying (bool playing)
    {
        for (auto& h : heads)
            h.playing = playing;
    }

    /** Processes the given number of blocks: the Vocals first, then the Inst,
        the way one host thread might run them. */
    void run (int blocks)
    {
        juce::AudioBuffer<float> buffer (2, blockSize);
        juce::MidiBuffer midi;

        for (int b = 0; b < blocks; ++b)
        {
            for (auto& v : vocals)
            {
                fillSine (buffer, samplePosition, sampleRate, vocalLevelDb);
                v->processBlock (buffer, midi);
            }

            fillSine (buffer, samplePosition, sampleRate, instLevelDb);
            inst->processBlock (buffer, midi);
            advance();
        }
    }

    /** The same on one thread per instance, in lockstep. */
    void runThreaded (int blocks, std::function<void (int)> betweenBlocks = {})
    {
        const auto count = (std::ptrdiff_t) vocals.size() + 1;
        std::barrier sync (count, [&]() noexcept
        {
            advance();
            if (betweenBlocks)
                betweenBlocks (++blockIndex);
        });
        std::vector<std::thread> threads;

        for (auto* p : all())
        {
            threads.emplace_back ([&, p]
            {
                juce::AudioBuffer<float> buffer (2, blockSize);
                juce::MidiBuffer midi;

                for (int b = 0; b < blocks; ++b)
                {
                    fillSine (buffer, samplePosition, sampleRate, p == inst.get() ? instLevelDb : vocalLevelDb);
                    p->processBlock (buffer, midi);
                    sync.arrive_and_wait();
                }
            });
        }

        for (auto& t : threads)
            t.join();
    }

    int blocksFor (double seconds) const { return (int) std::ceil (seconds * sampleRate / blockSize); }

    /** MATCH on a section of one Vocal, then the given stretch of audio. */
    void startAndRun (QuorvaneProcessor& v, int section, double seconds)
    {
        startMeasuring (v, section);
        run (blocksFor (seconds));
    }

    /** STOP on one Vocal, then the few blocks in which both sides hand in
        their part of the result. */
    void stopAndSettle (QuorvaneProcessor& v)
    {
        stopMeasuring (v);
        run (3);
    }

    void advance()
    {
        samplePosition += blockSize;
        for (auto& h : heads)
            if (h.playing)
                h.position += blockSize;
    }

    double sampleRate;
    int blockSize;
    std::int64_t samplePosition = 0;
    int blockIndex = 0;
    float vocalLevelDb = -26.0f;
    float instLevelDb = -20.0f;
    std::unique_ptr<QuorvaneProcessor> inst;
    std::vector<std::unique_ptr<QuorvaneProcessor>> vocals;
    std::vector<TestPlayHead> heads;
};

} // namespace qvn::test
