#include "CustomWeightedRmsMeter.h"
#include "CustomWeightingDesigner.h"
#include "FrameWindow.h"

#include <algorithm>
#include <cmath>

namespace
{
    constexpr float noLevel = -120.0f;
    constexpr size_t recordCapacity = 18000;   // 30 minutes of 100 ms frames
    constexpr int chunkSize = 256;

    inline bool notFinite (double x) noexcept
    {
        return ! (x - x == 0.0);
    }

    inline double flushTiny (double x) noexcept
    {
        return std::abs (x) < 1e-30 ? 0.0 : x;
    }

    double clampRmsSeconds (double seconds)
    {
        return std::clamp (std::isfinite (seconds) ? seconds : 3.0, 0.5, 10.0);
    }

    int64_t windowLength (double samples)
    {
        return std::max ((int64_t) 1, (int64_t) std::llround (samples));
    }
}

//==============================================================================
CustomWeightedRmsMeter::ConfigMailbox::ConfigMailbox()
{
    for (auto& e : entries)
    {
        e.design = DesignedCustomWeighting();
        e.generation = 1;
        e.state.store (stateFree, std::memory_order_relaxed);
    }
}

CustomWeightedRmsMeter::CustomWeightedRmsMeter() = default;

//==============================================================================
void CustomWeightedRmsMeter::prepare (double newSampleRate, int, const CustomWeightedRmsSettings& settings, uint64_t generation)
{
    sampleRate = std::clamp (std::isfinite (newSampleRate) ? newSampleRate : 48000.0, 8000.0, 768000.0);
    numChannels = 2;
    frameSamples = (int32_t) std::max (1L, std::lround (0.1 * sampleRate));

    activeDesign = CustomWeightingDesigner::design (settings, sampleRate);
    incomingDesign = activeDesign;
    activeGeneration.store (generation, std::memory_order_release);
    incomingGeneration = generation;

    transitionSamples = (int32_t) std::max (1L, std::lround (0.02 * sampleRate));
    transitionRemaining = 0;

    mailbox.latest.store (-1, std::memory_order_release);
    mailbox.cursor = 0;
    for (auto& e : mailbox.entries)
        e.state.store (ConfigMailbox::stateFree, std::memory_order_release);

    activeStates = {};
    incomingStates = {};
    frameRing = {};
    frameRingWrite = 0;
    frameRingCount = 0;
    currentFrame = { 0.0, 0, generation };
    recordedFrames.clear();
    if (recordedFrames.capacity() < recordCapacity)
        recordedFrames.reserve (recordCapacity);
}

void CustomWeightedRmsMeter::publishSettings (const CustomWeightedRmsSettings& settings, uint64_t generation)
{
    auto normalized = settings;
    normalized.normalize();
    const auto design = CustomWeightingDesigner::design (normalized, sampleRate);

    int index = -1;

    for (int k = 0; k < 3; ++k)
    {
        const auto candidate = (mailbox.cursor + k) % 3;
        auto expected = (uint8_t) ConfigMailbox::stateFree;

        if (mailbox.entries[(size_t) candidate].state.compare_exchange_strong (expected, (uint8_t) ConfigMailbox::stateWriting,
                                                                                std::memory_order_acq_rel))
        {
            index = candidate;
            break;
        }
    }

    // Only possible with concurrent publishers, which are not supported.
    if (index < 0)
        return;

    auto& entry = mailbox.entries[(size_t) index];
    entry.design = design;
    entry.generation = generation;
    entry.state.store (ConfigMailbox::statePublished, std::memory_order_release);

    const auto old = mailbox.latest.exchange (index, std::memory_order_acq_rel);

    if (old >= 0)
    {
        // Free the superseded publication unless the reader already took it.
        auto expected = (uint8_t) ConfigMailbox::statePublished;
        mailbox.entries[(size_t) old].state.compare_exchange_strong (expected, (uint8_t) ConfigMailbox::stateFree,
                                                                      std::memory_order_acq_rel);
    }

    mailbox.cursor = (index + 1) % 3;
}

void CustomWeightedRmsMeter::takePublishedDesign()
{
    const auto index = mailbox.latest.exchange (-1, std::memory_order_acq_rel);

    if (index < 0)
        return;

    auto& entry = mailbox.entries[(size_t) index];
    auto expected = (uint8_t) ConfigMailbox::statePublished;

    if (! entry.state.compare_exchange_strong (expected, (uint8_t) ConfigMailbox::stateReading, std::memory_order_acq_rel))
        return;

    incomingDesign = entry.design;
    incomingGeneration = entry.generation;
    entry.state.store (ConfigMailbox::stateFree, std::memory_order_release);

    incomingStates = {};
    transitionRemaining = transitionSamples;
    frameRing = {};
    frameRingWrite = 0;
    frameRingCount = 0;
    currentFrame = { 0.0, 0, 0 };
    recordedFrames.clear();
}

//==============================================================================
namespace
{
    using Stage = CustomSlotCoefficients::Stage;

    // Both channels side by side in one register; each lane does exactly the
    // scalar arithmetic.
    using StereoDouble = double __attribute__ ((vector_size (16)));
    using StereoMask = decltype (StereoDouble {} == StereoDouble {});

    inline StereoDouble keepWhere (StereoDouble v, StereoMask mask) noexcept
    {
        return (StereoDouble) ((StereoMask) v & mask);
    }

    inline StereoDouble flushTiny (StereoDouble x) noexcept
    {
        const StereoDouble threshold = { 1e-30, 1e-30 };
        const StereoMask absBits = { 0x7fffffffffffffff, 0x7fffffffffffffff };
        const auto magnitude = (StereoDouble) ((StereoMask) x & absBits);
        return keepWhere (x, magnitude >= threshold);
    }

    inline bool allZero (double x) noexcept        { return x == 0.0; }
    inline bool allZero (StereoDouble x) noexcept  { return x[0] == 0.0 && x[1] == 0.0; }

    inline double broadcast (double v, double)              { return v; }
    inline StereoDouble broadcast (double v, StereoDouble)  { return StereoDouble { v, v }; }

    // The careful step: a stage that stops being finite restarts from rest
    // and outputs 0; otherwise tiny states are flushed.
    inline double carefulStep (const Stage& c, double& s1, double& s2, double x) noexcept
    {
        const auto y = c.b0 * x + s1;
        const auto n1 = (c.b1 * x - c.a1 * y) + s2;
        const auto n2 = c.b2 * x - c.a2 * y;

        if (notFinite (y) || notFinite (n1) || notFinite (n2))
        {
            s1 = s2 = 0.0;
            return 0.0;
        }

        s1 = flushTiny (n1);
        s2 = flushTiny (n2);
        return y;
    }

    inline StereoDouble carefulStep (const Stage& c, StereoDouble& s1, StereoDouble& s2, StereoDouble x) noexcept
    {
        const auto b0 = broadcast (c.b0, x), b1 = broadcast (c.b1, x), b2 = broadcast (c.b2, x);
        const auto a1 = broadcast (c.a1, x), a2 = broadcast (c.a2, x);
        const auto y = b0 * x + s1;
        const auto n1 = (b1 * x - a1 * y) + s2;
        const auto n2 = b2 * x - a2 * y;
        const StereoDouble zero = { 0.0, 0.0 };
        const auto ok = ((y - y) + (n1 - n1) + (n2 - n2)) == zero;
        s1 = keepWhere (flushTiny (n1), ok);
        s2 = keepWhere (flushTiny (n2), ok);
        return keepWhere (y, ok);
    }

    // Per channel, the state pairs of the stages in use, in cascade order.
    struct StageList
    {
        const Stage* coefficients[CustomWeightedRmsSettings::numSlots * CustomSlotCoefficients::maxStages];
        int slot[CustomWeightedRmsSettings::numSlots * CustomSlotCoefficients::maxStages];
        int stage[CustomWeightedRmsSettings::numSlots * CustomSlotCoefficients::maxStages];
        int size = 0;

        explicit StageList (const DesignedCustomWeighting& design) noexcept
        {
            for (size_t k = 0; k < design.slots.size(); ++k)
            {
                const auto& c = design.slots[k];

                if (! c.enabled || c.numStages <= 0)
                    continue;

                const auto n = std::min (c.numStages, (int32_t) CustomSlotCoefficients::maxStages);

                for (int i = 0; i < n; ++i)
                {
                    coefficients[size] = &c.stages[(size_t) i];
                    slot[size] = (int) k;
                    stage[size] = i;
                    ++size;
                }
            }
        }
    };

    // Runs G consecutive stages over a run of samples, sample by sample, so
    // that the stages' recursions overlap. The finiteness test is kept off
    // the recursions: while everything stays finite one branch per sample
    // suffices, otherwise the sample is redone with the careful step.
    template <int G, typename V, typename LoadState, typename StoreState>
    void runGroup (const StageList& list, int first, V* data, int num, LoadState&& load, StoreState&& store) noexcept
    {
        V b0[G], b1[G], b2[G], a1[G], a2[G], s1[G], s2[G];
        const V proto {};

        for (int j = 0; j < G; ++j)
        {
            const auto& c = *list.coefficients[first + j];
            b0[j] = broadcast (c.b0, proto);
            b1[j] = broadcast (c.b1, proto);
            b2[j] = broadcast (c.b2, proto);
            a1[j] = broadcast (c.a1, proto);
            a2[j] = broadcast (c.a2, proto);
            load (first + j, s1[j], s2[j]);
        }

        for (int i = 0; i < num; ++i)
        {
            auto x = data[i];
            V n1[G], n2[G];
            V check {};

            for (int j = 0; j < G; ++j)
            {
                const auto y = b0[j] * x + s1[j];
                n1[j] = (b1[j] * x - a1[j] * y) + s2[j];
                n2[j] = b2[j] * x - a2[j] * y;
                check += (y - y) + (n1[j] - n1[j]) + (n2[j] - n2[j]);
                x = y;
            }

            if (allZero (check))
            {
                for (int j = 0; j < G; ++j)
                {
                    s1[j] = flushTiny (n1[j]);
                    s2[j] = flushTiny (n2[j]);
                }
            }
            else
            {
                x = data[i];

                for (int j = 0; j < G; ++j)
                    x = carefulStep (*list.coefficients[first + j], s1[j], s2[j], x);
            }

            data[i] = x;
        }

        for (int j = 0; j < G; ++j)
            store (first + j, s1[j], s2[j]);
    }

    template <typename V, typename LoadState, typename StoreState>
    void runCascade (const StageList& list, V* data, int num, LoadState&& load, StoreState&& store) noexcept
    {
        int first = 0;

        for (; first + 4 <= list.size; first += 4)
            runGroup<4> (list, first, data, num, load, store);

        switch (list.size - first)
        {
            case 3: runGroup<3> (list, first, data, num, load, store); break;
            case 2: runGroup<2> (list, first, data, num, load, store); break;
            case 1: runGroup<1> (list, first, data, num, load, store); break;
            default: break;
        }
    }
}

void CustomWeightedRmsMeter::processBlock (const juce::AudioBuffer<float>& buffer)
{
    takePublishedDesign();

    const auto nc = std::min (buffer.getNumChannels(), 2);
    const auto numSamples = buffer.getNumSamples();

    if (nc < 1 || numSamples <= 0)
        return;

    const float* in0 = buffer.getReadPointer (0);
    const float* in1 = nc > 1 ? buffer.getReadPointer (1) : nullptr;

    StereoDouble stereo[chunkSize];
    double mono[chunkSize];

    int pos = 0;

    while (pos < numSamples)
    {
        // While settling only the incoming cascade matters: the active one's
        // states are replaced when the incoming one takes over.
        const auto settling = transitionRemaining > 0;
        const auto& design = settling ? incomingDesign : activeDesign;
        auto& states = settling ? incomingStates : activeStates;
        const StageList list (design);

        auto num = std::min (chunkSize, numSamples - pos);

        if (settling)
            num = std::min (num, (int) transitionRemaining);

        if (in1 != nullptr)
        {
            const StereoDouble zero = { 0.0, 0.0 };

            for (int i = 0; i < num; ++i)
            {
                StereoDouble x = { (double) in0[pos + i], (double) in1[pos + i] };
                stereo[i] = keepWhere (x, (x - x) == zero);
            }

            runCascade (list, stereo, num,
                        [&] (int index, StereoDouble& s1, StereoDouble& s2)
                        {
                            const auto& l = states[0][(size_t) list.slot[index]][(size_t) list.stage[index]];
                            const auto& r = states[1][(size_t) list.slot[index]][(size_t) list.stage[index]];
                            s1 = StereoDouble { l.s1, r.s1 };
                            s2 = StereoDouble { l.s2, r.s2 };
                        },
                        [&] (int index, StereoDouble s1, StereoDouble s2)
                        {
                            auto& l = states[0][(size_t) list.slot[index]][(size_t) list.stage[index]];
                            auto& r = states[1][(size_t) list.slot[index]][(size_t) list.stage[index]];
                            l.s1 = s1[0]; l.s2 = s2[0];
                            r.s1 = s1[1]; r.s2 = s2[1];
                        });
        }
        else
        {
            for (int i = 0; i < num; ++i)
            {
                const auto x = (double) in0[pos + i];
                mono[i] = notFinite (x) ? 0.0 : x;
            }

            runCascade (list, mono, num,
                        [&] (int index, double& s1, double& s2)
                        {
                            const auto& st = states[0][(size_t) list.slot[index]][(size_t) list.stage[index]];
                            s1 = st.s1;
                            s2 = st.s2;
                        },
                        [&] (int index, double s1, double s2)
                        {
                            auto& st = states[0][(size_t) list.slot[index]][(size_t) list.stage[index]];
                            st.s1 = s1;
                            st.s2 = s2;
                        });
        }

        if (settling)
        {
            transitionRemaining -= num;

            if (transitionRemaining <= 0)
            {
                transitionRemaining = 0;
                activeDesign = incomingDesign;
                activeStates = incomingStates;
                activeGeneration.store (incomingGeneration, std::memory_order_release);
                currentFrame = { 0.0, 0, incomingGeneration };
            }
        }
        else
        {
            for (int i = 0; i < num; ++i)
            {
                double e;

                if (in1 != nullptr)
                    e = 0.0 + stereo[i][0] * stereo[i][0] + stereo[i][1] * stereo[i][1];
                else
                    e = 0.0 + mono[i] * mono[i];

                if (notFinite (e))
                    e = 0.0;

                currentFrame.energy += e;

                if (++currentFrame.numSamples >= frameSamples)
                {
                    frameRing[(size_t) frameRingWrite] = currentFrame;
                    frameRingWrite = frameRingWrite >= frameRingSize - 1 ? 0 : frameRingWrite + 1;

                    if (frameRingCount < frameRingSize)
                        ++frameRingCount;

                    if (recordFrames && recordedFrames.size() < recordedFrames.capacity())
                        recordedFrames.push_back (currentFrame);

                    currentFrame = { 0.0, 0, activeGeneration.load (std::memory_order_relaxed) };
                }
            }
        }

        pos += num;
    }
}

void CustomWeightedRmsMeter::resetMeasurement()
{
    // A weighting that is still settling takes over now: the states restart
    // from rest anyway, and dropping it would keep measuring with the old
    // weighting until yet another one is published.
    if (transitionRemaining > 0)
    {
        activeDesign = incomingDesign;
        activeGeneration.store (incomingGeneration, std::memory_order_release);
    }

    activeStates = {};
    incomingStates = {};
    frameRing = {};
    frameRingWrite = 0;
    frameRingCount = 0;
    currentFrame = { 0.0, 0, activeGeneration.load (std::memory_order_relaxed) };
    recordedFrames.clear();
    transitionRemaining = 0;
}

//==============================================================================
float CustomWeightedRmsMeter::getLiveRmsDb (double rmsSeconds) const
{
    const auto W = windowLength (clampRmsSeconds (rmsSeconds) * sampleRate);

    const auto [E, S] = qvn::newestFrameSamples (currentFrame, frameRing, frameRingWrite, frameRingCount, W);

    if (S <= 0)
        return noLevel;

    const auto m = E / (double) S;

    if (! std::isfinite (m) || m < 1e-12)
        return noLevel;

    return (float) (10.0 * std::log10 (m));
}

std::vector<float> CustomWeightedRmsMeter::windowedRmsDbSeries (const std::vector<CustomRmsFrame>& frames, double rmsSeconds)
{
    std::vector<float> result;

    int64_t F = 0;
    for (const auto& f : frames)
        F = std::max (F, (int64_t) f.numSamples);

    if (frames.empty() || F <= 0)
        return result;

    const auto W = windowLength ((double) F * clampRmsSeconds (rmsSeconds) * 10.0);
    result.reserve (frames.size());

    auto count = [] (const CustomRmsFrame& f) { return (int64_t) std::max (f.numSamples, (int32_t) 0); };

    size_t k = 0;
    int64_t S = 0;
    double E = 0.0;

    for (size_t i = 0; i < frames.size(); ++i)
    {
        E += frames[i].energy;
        S += count (frames[i]);

        while (k < i && S - count (frames[k]) >= W)
        {
            S -= count (frames[k]);
            E -= frames[k].energy;
            ++k;
        }

        double energy = E;
        int64_t samples = S;

        if (S > W && frames[k].numSamples > 0)
        {
            energy = E - ((double) (S - W) / (double) frames[k].numSamples) * frames[k].energy;
            samples = W;
        }

        if (samples <= 0)
        {
            result.push_back (noLevel);
            continue;
        }

        const auto m = std::max (energy, 0.0) / (double) samples;
        result.push_back ((! std::isfinite (m) || m < 1e-12) ? noLevel : (float) (10.0 * std::log10 (m)));
    }

    return result;
}

float CustomWeightedRmsMeter::computeWindowedRmsDbFromFrames (const std::vector<CustomRmsFrame>& frames,
                                                              float start, float end, double rmsSeconds, uint64_t count)
{
    const auto n = (size_t) std::min ((uint64_t) frames.size(), count);

    if (n == 0)
        return noLevel;

    const auto s = std::clamp (std::isfinite (start) ? start : 0.0f, 0.0f, 1.0f);
    const auto e = std::clamp (std::isfinite (end) ? end : 1.0f, 0.0f, 1.0f);
    const auto lo = std::min (s, e);
    const auto hi = std::max (s, e);

    const auto i0 = std::min ((size_t) std::floor (lo * (float) n), n - 1);
    const auto i1 = std::min ((size_t) std::ceil (hi * (float) n), n);
    const auto iEnd = std::max (i0 + 1, i1);

    int64_t F = 0;
    for (auto i = i0; i < iEnd; ++i)
        F = std::max (F, (int64_t) frames[i].numSamples);

    const auto W = windowLength (clampRmsSeconds (rmsSeconds) * (double) (F * 10));

    double sumDb = 0.0;
    int64_t counted = 0;

    for (auto p = i0; p < iEnd; ++p)
    {
        double E = 0.0;
        int64_t S = 0;

        for (auto j = p + 1; j-- > i0 && S < W;)
        {
            const auto f = (int64_t) frames[j].numSamples;

            if (f <= 0)
                continue;

            const auto take = std::min (W - S, f);
            E += frames[j].energy * ((double) take / (double) f);
            S += take;
        }

        if (S <= 0)
            continue;

        const auto m = E / (double) S;

        if (! (m >= 1e-7) || std::isinf (m))
            continue;

        sumDb += 10.0 * std::log10 (m);
        ++counted;
    }

    return counted > 0 ? (float) (sumDb / (double) counted) : noLevel;
}
