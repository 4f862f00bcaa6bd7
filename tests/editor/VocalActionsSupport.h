#pragma once

// Shared pieces of the Vocal view tests: synthesized mouse input, typing into
// the OFFSET value, stored results, audio threads and the libebur128 reference.

#include "EditorTestSupport.h"

#include <ebur128.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <thread>

using namespace qvn::test;

namespace
{
/** Types into the OFFSET value as the user does: double-click, text, then
    the keyboard focus leaves the editor. */
void typeOffset (QuorvaneEditor& e, const juce::String& text)
{
    auto& label = e.offsetValue;
    static_cast<juce::Component&> (label).mouseDoubleClick (mouseEvent (label, label.getLocalBounds().getCentre().toFloat(),
                                        juce::ModifierKeys::leftButtonModifier, 2));
    auto* ed = label.getCurrentTextEditor();
    ASSERT_NE (ed, nullptr) << "double-click opens the inline editor";
    ed->setText (text, true);
    ed->focusLost (juce::Component::focusChangedByMouseClick);
    pump();
}

double energyOf (float lufs) { return std::pow (10.0, ((double) lufs + 0.691) / 10.0); }

/** A stored result of n gating blocks at constant levels, as a finished
    measurement leaves it. */
void storeResult (QuorvaneProcessor& p, int section, size_t n, float self, float partner)
{
    auto& s = p.sections[(size_t) section];
    {
        std::lock_guard<std::mutex> lock (p.analysisMutex);
        s.selfHistory.assign (n, energyOf (self));
        s.partnerHistory.assign (n, energyOf (partner));
        s.analysisSeconds = (float) (n - 1) * 0.1f + 0.4f;
        p.recomputeSectionFromTrim (section);
    }
    p.historyRevision[(size_t) section] = p.revisionCounter.fetch_add (1) + 1;
}

/** Counts the gestures and value changes of one parameter. */
struct GestureCounter : juce::AudioProcessorParameter::Listener
{
    explicit GestureCounter (juce::AudioProcessorParameter& p) : param (p) { param.addListener (this); }
    ~GestureCounter() override { param.removeListener (this); }
    void parameterValueChanged (int, float) override { ++changes; }
    void parameterGestureChanged (int, bool starting) override { starting ? ++begins : ++ends; }
    juce::AudioProcessorParameter& param;
    int changes = 0, begins = 0, ends = 0;
};

/** Integrated loudness of a stereo 997 Hz sine at the given peak levels, one
    (dBFS, seconds) entry after the other, as libebur128 measures it. */
double referenceLufs (std::initializer_list<std::pair<float, double>> parts)
{
    auto* st = ebur128_init (2, 48000, EBUR128_MODE_I);
    std::vector<float> frames (2 * 480);
    double phase = 0.0;
    for (const auto& [db, seconds] : parts)
    {
        const float a = std::pow (10.0f, db / 20.0f);
        for (int b = 0; b < (int) std::lround (seconds * 100.0); ++b)
        {
            for (int n = 0; n < 480; ++n)
            {
                const float v = a * (float) std::sin (phase);
                phase += 2.0 * juce::MathConstants<double>::pi * 997.0 / 48000.0;
                frames[(size_t) (2 * n)] = v;
                frames[(size_t) (2 * n + 1)] = v;
            }
            ebur128_add_frames_float (st, frames.data(), 480);
        }
    }
    double out = 0.0;
    ebur128_loudness_global (st, &out);
    ebur128_destroy (&st);
    return out;
}

/** One audio thread per processor, each playing a 997 Hz sine whose level a
    function gives before every 10 ms block (-120 or below: the thread holds
    and processes nothing). Output against input RMS of the last block is kept
    as a gain in dB. */
class AudioThreads
{
public:
    using Level = std::function<float()>;

    AudioThreads (const std::vector<QuorvaneProcessor*>& procs, std::vector<Level> levelFns)
    {
        for (size_t i = 0; i < procs.size(); ++i)
        {
            procs[i]->setPlayConfigDetails (2, 2, 48000.0, 480);
            procs[i]->prepareToPlay (48000.0, 480);
            gains.push_back (std::make_unique<std::atomic<float>> (-200.0f));
        }
        for (size_t i = 0; i < procs.size(); ++i)
            threads.emplace_back ([this, p = procs[i], level = levelFns[i], gain = gains[i].get()]
            {
                juce::AudioBuffer<float> buffer (2, 480);
                juce::MidiBuffer midi;
                double phase = 0.0;
                while (running.load())
                {
                    const float db = level();
                    if (db <= -120.0f)
                    {
                        std::this_thread::sleep_for (std::chrono::microseconds (500));
                        continue;
                    }
                    const float a = std::pow (10.0f, db / 20.0f);
                    fillSine (buffer, a, phase);
                    const double in = a / std::sqrt (2.0);
                    p->processBlock (buffer, midi);
                    gain->store ((float) (20.0 * std::log10 (std::max (1.0e-12, (double) buffer.getRMSLevel (0, 0, 480)) / in)));
                    std::this_thread::sleep_for (std::chrono::microseconds (2000));
                }
            });
    }

    ~AudioThreads() { stop(); }

    void stop()
    {
        running = false;
        for (auto& t : threads)
            if (t.joinable())
                t.join();
    }

    float gainDb (size_t i) const { return gains[i]->load(); }

private:
    std::atomic<bool> running { true };
    std::vector<std::unique_ptr<std::atomic<float>>> gains;
    std::vector<std::thread> threads;
};

/** Ticks the windows until the condition holds. The bound only catches a
    hang: under a sanitizer on a busy machine the audio threads are slow. */
template <typename Condition>
bool tickUntil (std::initializer_list<QuorvaneEditor*> editors, Condition done, int maxTicks = 12000)
{
    for (int i = 0; i < maxTicks; ++i)
    {
        for (auto* e : editors)
            e->timerCallback();
        if (done())
            return true;
        std::this_thread::sleep_for (std::chrono::milliseconds (10));
    }
    return false;
}

/** Blocks of a sine run on the test's thread through every given processor. */
void runBlocks (std::initializer_list<QuorvaneProcessor*> procs, int blocks)
{
    juce::AudioBuffer<float> buffer (2, 480);
    juce::MidiBuffer midi;
    for (int b = 0; b < blocks; ++b)
        for (auto* p : procs)
        {
            for (int n = 0; n < 480; ++n)
            {
                const float s = 0.1f * (float) std::sin (2.0 * juce::MathConstants<double>::pi * 997.0 * (b * 480 + n) / 48000.0);
                buffer.setSample (0, n, s);
                buffer.setSample (1, n, s);
            }
            p->processBlock (buffer, midi);
        }
}

/** A picture of the window for a person to look at (the build's gallery). */
void saveSnapshot (juce::Component& c, const char* name)
{
#ifdef QVN_SCREENSHOT_DIR
    const auto dir = juce::File (QVN_SCREENSHOT_DIR);
    dir.createDirectory();
    const auto file = dir.getChildFile (name);
    file.deleteFile();
    juce::FileOutputStream out (file);
    juce::PNGImageFormat().writeImageToStream (c.createComponentSnapshot (c.getLocalBounds()), out);
#else
    juce::ignoreUnused (c, name);
#endif
}

class EditorVocalActions : public EditorFixture
{
protected:
    /** An Inst and a Vocal, prepared, the window open on the Vocal. */
    QuorvaneEditor& openVocal()
    {
        inst = &addProcessor (1);
        vocal = &addProcessor (2);
        for (auto* p : { inst, vocal })
        {
            p->setPlayConfigDetails (2, 2, 48000.0, 480);
            p->prepareToPlay (48000.0, 480);
        }
        auto& e = open (*vocal);
        e.setSize (1092, 612);
        e.timerCallback();
        return e;
    }

    QuorvaneProcessor* inst = nullptr;
    QuorvaneProcessor* vocal = nullptr;
};
} // namespace
