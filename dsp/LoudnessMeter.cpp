#include "LoudnessMeter.h"
#include "FrameWindow.h"

#include <algorithm>
#include <cmath>

namespace
{
    constexpr float noLevel = -120.0f;

    // Rounding to nearest with halves away from zero, as int32.
    int32_t roundToInt32 (double x)
    {
        return (int32_t) std::lround (x);
    }

    // True for NaN and infinities: x - x is 0 only for finite x.
    inline bool notFinite (double x) noexcept
    {
        return ! (x - x == 0.0);
    }

    inline double finiteOrZero (float x) noexcept
    {
        const auto d = (double) x;
        return notFinite (d) ? 0.0 : d;
    }

    // One transposed direct form II step; a stage whose output or state stops
    // being finite restarts from rest and contributes nothing.
    inline double runStage (LoudnessMeter::Biquad& f, double x) noexcept
    {
        const auto y = f.b0 * x + f.z1;
        const auto z1 = (f.b1 * x - f.a1 * y) + f.z2;
        const auto z2 = f.b2 * x - f.a2 * y;

        if (notFinite (y) || notFinite (z1) || notFinite (z2))
        {
            f.z1 = 0.0;
            f.z2 = 0.0;
            return 0.0;
        }

        f.z1 = z1;
        f.z2 = z2;
        return y;
    }

    // Two channels side by side in one register: each lane does exactly the
    // arithmetic of the scalar step, in half the instructions.
    using StereoDouble = double __attribute__ ((vector_size (16)));
    using StereoMask = decltype (StereoDouble {} == StereoDouble {});

    inline StereoDouble keepWhere (StereoDouble v, StereoMask mask) noexcept
    {
        return (StereoDouble) ((StereoMask) v & mask);
    }

    // All-ones in the lanes where a, b and c are all finite.
    inline StereoMask finiteLanes (StereoDouble a, StereoDouble b, StereoDouble c) noexcept
    {
        const StereoDouble zero = { 0.0, 0.0 };
        return ((a - a) + (b - b) + (c - c)) == zero;
    }

    inline bool allFinite (StereoDouble t) noexcept
    {
        const auto d = t - t;
        return d[0] == 0.0 && d[1] == 0.0;
    }

    struct StereoBiquad
    {
        StereoDouble b0, b1, b2, a1, a2, z1, z2;

        StereoBiquad (const LoudnessMeter::Biquad& l, const LoudnessMeter::Biquad& r) noexcept
            : b0 { l.b0, r.b0 }, b1 { l.b1, r.b1 }, b2 { l.b2, r.b2 }, a1 { l.a1, r.a1 }, a2 { l.a2, r.a2 },
              z1 { l.z1, r.z1 }, z2 { l.z2, r.z2 }
        {
        }

        void storeStates (LoudnessMeter::Biquad& l, LoudnessMeter::Biquad& r) const noexcept
        {
            l.z1 = z1[0]; l.z2 = z2[0];
            r.z1 = z1[1]; r.z2 = z2[1];
        }

        // The step without its finiteness test, which the caller makes once
        // per sample off the filter recursion (see processBlock).
        StereoDouble processUnchecked (StereoDouble x) noexcept
        {
            const auto y = b0 * x + z1;
            const auto n1 = (b1 * x - a1 * y) + z2;
            const auto n2 = b2 * x - a2 * y;
            z1 = n1;
            z2 = n2;
            return y;
        }

        // The same step as runStage, per lane.
        StereoDouble process (StereoDouble x) noexcept
        {
            const auto y = b0 * x + z1;
            const auto n1 = (b1 * x - a1 * y) + z2;
            const auto n2 = b2 * x - a2 * y;
            const auto ok = finiteLanes (y, n1, n2);
            z1 = keepWhere (n1, ok);
            z2 = keepWhere (n2, ok);
            return keepWhere (y, ok);
        }
    };

    // Mean gating-block energy that passes the absolute and relative gates of
    // BS.1770, over blocks[begin, end). Returns -120 when nothing passes.
    template <typename Blocks>
    float gatedLoudness (const Blocks& blocks, size_t begin, size_t end)
    {
        if (begin >= end)
            return noLevel;

        const auto absoluteGate = std::pow (10.0, (-70.0 + 0.691) / 10.0);

        double sum1 = 0.0;
        uint64_t count1 = 0;

        for (auto i = begin; i < end; ++i)
        {
            if (blocks[i] >= absoluteGate)
            {
                sum1 += blocks[i];
                ++count1;
            }
        }

        if (count1 == 0)
            return noLevel;

        const auto m1 = sum1 / (double) count1;
        const auto relativeLevel = (m1 > 1e-12 ? 10.0 * std::log10 (m1) - 0.691 : -120.0) - 10.0;
        const auto relativeGate = std::pow (10.0, (relativeLevel + 0.691) / 10.0);
        const auto threshold = std::max (relativeGate, absoluteGate);

        double sum2 = 0.0;
        uint64_t count2 = 0;

        for (auto i = begin; i < end; ++i)
        {
            if (blocks[i] >= threshold)
            {
                sum2 += blocks[i];
                ++count2;
            }
        }

        const auto m = count2 > 0 ? sum2 / (double) count2 : m1;

        if (! (m > 1e-12))
            return noLevel;

        return (float) (10.0 * std::log10 (m) - 0.691);
    }

    // The part of a list of n entries that a trim range [start, end] covers:
    // always at least one entry. A small allowance keeps fractions that were
    // computed from whole indices from slipping to the neighbouring entry.
    void trimmedRange (size_t n, float start, float end, size_t& i0, size_t& iEnd)
    {
        const auto s = std::clamp (std::isfinite (start) ? (double) start : 0.0, 0.0, 1.0);
        const auto e = std::clamp (std::isfinite (end) ? (double) end : 1.0, 0.0, 1.0);
        const auto lo = std::min (s, e);
        const auto hi = std::max (s, e);

        const auto first = std::min ((int64_t) std::floor (lo * (double) n + 1e-5), (int64_t) n - 1);
        const auto last = (int64_t) std::ceil (hi * (double) n - 1e-5);

        i0 = (size_t) std::max ((int64_t) 0, first);

        if ((int64_t) i0 >= last)
            iEnd = i0 + 1;
        else
            iEnd = (size_t) std::min ((int64_t) n, last);
    }

    // Energy and sample count of the RMS window at frame i of a sliding window
    // of W samples over frames[k..i], the oldest frame prorated.
    struct WindowValue
    {
        double energy;
        int64_t samples;
    };

    inline WindowValue windowValue (const std::vector<AnalysisFrame>& frames, size_t k,
                                    double E, int64_t S, int64_t W)
    {
        if (S > W && frames[k].numSamples > 0)
        {
            const auto p = (double) frames[k].numSamples;
            return { E - ((double) (S - W) / p) * frames[k].energy, W };
        }

        return { E, S };
    }

    // The sliding RMS window over analysis frames: ten frames of the longest
    // frame length per second, in samples; 0 when no frame holds samples.
    inline int64_t frameWindowSamples (const std::vector<AnalysisFrame>& frames, size_t i0, size_t iEnd, double seconds)
    {
        int64_t F = 0;
        for (auto i = i0; i < iEnd; ++i)
            F = std::max (F, (int64_t) frames[i].numSamples);

        const auto wanted = (double) F * (seconds * 10.0);

        if (F <= 0 || ! std::isfinite (wanted))
            return 0;

        return std::max ((int64_t) 1, (int64_t) std::llround (std::min (wanted, 9.0e18)));
    }

    // Calls visit with the window ending at each frame of frames[i0..iEnd).
    template <typename Visit>
    void forEachFrameWindow (const std::vector<AnalysisFrame>& frames, size_t i0, size_t iEnd, int64_t W, Visit&& visit)
    {
        auto k = i0;
        int64_t S = 0;
        double E = 0.0;

        for (auto i = i0; i < iEnd; ++i)
        {
            E += frames[i].energy;
            S += frames[i].numSamples;

            while (k < i && S - frames[k].numSamples >= W)
            {
                S -= frames[k].numSamples;
                E -= frames[k].energy;
                ++k;
            }

            visit (windowValue (frames, k, E, S, W));
        }
    }
}

LoudnessMeter::~LoudnessMeter() = default;

//==============================================================================
void LoudnessMeter::prepare (double newSampleRate, int, double windowSeconds)
{
    sampleRate = newSampleRate;
    numChannels = 2;
    const auto fs = sampleRate;

    windowSamples = std::max (1, roundToInt32 (windowSeconds * fs));

    // K-weighting pre-filter: high shelf, then high-pass. The high-pass
    // numerator is divided by a0 as well, which gives it unity gain in its
    // pass band.
    Biquad shelf;
    {
        const auto K = std::tan (5284.078578647628 / fs);
        const auto Q = 0.7071752369554196;
        const auto Vh = std::pow (10.0, 3.999843853973347 / 20.0);
        const auto Vb = std::pow (Vh, 0.4996667741545416);
        const auto a0 = K / Q + 1.0 + K * K;
        shelf.b0 = (Vb * K / Q + Vh + K * K) / a0;
        shelf.b1 = 2.0 * (K * K - Vh) / a0;
        shelf.b2 = (Vh - Vb * K / Q + K * K) / a0;
        shelf.a1 = 2.0 * (K * K - 1.0) / a0;
        shelf.a2 = (1.0 - K / Q + K * K) / a0;
    }

    Biquad highPass;
    {
        const auto K = std::tan (119.8061151453059 / fs);
        const auto Q = 0.5003270373238773;
        const auto a0 = K / Q + 1.0 + K * K;
        highPass.b0 = 1.0 / a0;
        highPass.b1 = -2.0 / a0;
        highPass.b2 = 1.0 / a0;
        highPass.a1 = 2.0 * (K * K - 1.0) / a0;
        highPass.a2 = (1.0 - K / Q + K * K) / a0;
    }

    shelfFilters.assign (2, shelf);
    highPassFilters.assign (2, highPass);

    windowRing.assign ((size_t) windowSamples, 0.0f);
    windowPos = 0;
    windowSum = 0.0;

    blockSamples = std::max (1, roundToInt32 (0.4 * fs));
    hopSamples = std::max (1, roundToInt32 (0.1 * fs));
    blockRing.assign ((size_t) blockSamples, 0.0f);
    blockPos = 0;
    blockSum = 0.0;
    blockFill = 0;
    hopCountdown = blockSamples;

    blockEnergies.clear();
    recordedSignalBlocks = 0;
    clearGatingHistogram();
    if (blockEnergies.capacity() < 6000)
        blockEnergies.reserve (6000);

    histogramEnergy.assign (histogramBins, 0.0);
    histogramCount.assign (histogramBins, 0);
    cachedHistogramLUFS = noLevel;

    blockCount = 0;
    cachedIntegratedKey = 0;
    cachedIntegratedLUFS = noLevel;

    frameSamples = std::max (1, roundToInt32 (0.1 * fs));
    frameRing.assign (frameRingSize, AnalysisFrame {});
    frameRingWrite = 0;
    frameRingCount = 0;
    currentFrame = {};
    recordedFrames.clear();
    // Room for ten minutes of frames, so that a typical measurement does not
    // allocate on the audio thread.
    if (recordedFrames.capacity() < 6000)
        recordedFrames.reserve (6000);
}

//==============================================================================
void LoudnessMeter::processBlock (const juce::AudioBuffer<float>& buffer)
{
    const auto nc = std::min (buffer.getNumChannels(), 2);
    const auto numSamples = buffer.getNumSamples();

    if (nc < 1 || numSamples <= 0 || windowRing.empty())
        return;

    const float* in0 = buffer.getReadPointer (0);
    const float* in1 = nc > 1 ? buffer.getReadPointer (1) : nullptr;

    // Hot state in locals so that the compiler can keep it in registers.
    StereoBiquad shelf (shelfFilters[0], shelfFilters[1]);
    StereoBiquad highPass (highPassFilters[0], highPassFilters[1]);
    Biquad sh0 = shelfFilters[0], hp0 = highPassFilters[0];

    const bool frames = framesEnabled != 0;
    double energies[chunkSize];
    float ringValues[chunkSize];

    for (int start = 0; start < numSamples; start += chunkSize)
    {
        const auto len = std::min (chunkSize, numSamples - start);

        // Pass 1: the K-weighted per-sample energy of the chunk.
        if (in1 != nullptr)
        {
            const StereoDouble zero = { 0.0, 0.0 };

            for (int i = 0; i < len; ++i)
            {
                StereoDouble x = { (double) in0[start + i], (double) in1[start + i] };
                x = keepWhere (x, (x - x) == zero);

                const auto shelfZ1 = shelf.z1, shelfZ2 = shelf.z2, highZ1 = highPass.z1, highZ2 = highPass.z2;
                auto y = highPass.processUnchecked (shelf.processUnchecked (x));

                // One test for the whole sample: a non-finite shelf output
                // always shows in its new states (a2 is never 0), and a sum of
                // finite values that overflows only costs the careful redo.
                const auto t = ((shelf.z1 + shelf.z2) + (highPass.z1 + highPass.z2)) + y;

                if (! allFinite (t))
                {
                    // Something stopped being finite: redo the sample with
                    // the per-stage restart.
                    shelf.z1 = shelfZ1; shelf.z2 = shelfZ2;
                    highPass.z1 = highZ1; highPass.z2 = highZ2;
                    y = highPass.process (shelf.process (x));
                }

                energies[i] = 0.0 + y[0] * y[0] + y[1] * y[1];
            }
        }
        else
        {
            for (int i = 0; i < len; ++i)
            {
                const auto y = runStage (hp0, runStage (sh0, finiteOrZero (in0[start + i])));
                energies[i] = 0.0 + y * y;
            }
        }

        for (int i = 0; i < len; ++i)
        {
            auto e = energies[i];
            if (notFinite (e))
                e = energies[i] = 0.0;

            const auto f = (float) e;
            ringValues[i] = std::isfinite (f) ? f : 0.0f;
        }

        // Pass 2: frames, the two rings and block emission, in runs that end
        // where a frame completes, a ring wraps or a block is due.
        for (int i = 0; i < len;)
        {
            auto run = std::min ({ len - i, windowSamples - windowPos, blockSamples - blockPos, hopCountdown });

            if (frames)
                run = std::min (run, frameSamples - currentFrame.numSamples);

            run = std::max (run, 1);

            if (frames)
            {
                auto energy = currentFrame.energy;
                for (int k = 0; k < run; ++k)
                    energy += energies[i + k];
                currentFrame.energy = energy;
                currentFrame.numSamples += run;
            }

            {
                float* ring = windowRing.data() + windowPos;
                auto sum = windowSum;
                for (int k = 0; k < run; ++k)
                {
                    const auto e = ringValues[i + k];
                    sum = ((double) e - (double) ring[k]) + sum;
                    ring[k] = e;
                }
                windowSum = sum;
                windowPos += run;
                if (windowPos >= windowSamples)
                    windowPos = 0;
            }

            {
                float* ring = blockRing.data() + blockPos;
                auto sum = blockSum;
                for (int k = 0; k < run; ++k)
                {
                    const auto e = ringValues[i + k];
                    sum = ((double) e - (double) ring[k]) + sum;
                    ring[k] = e;
                }
                blockSum = sum;
                blockPos += run;
                if (blockPos >= blockSamples)
                    blockPos = 0;
                blockFill = std::min (blockFill + run, blockSamples);
            }

            if (frames && currentFrame.numSamples >= frameSamples)
                finishFrame();

            hopCountdown -= run;

            if (hopCountdown <= 0)
            {
                hopCountdown = hopSamples;

                if (blockFill == blockSamples)
                    emitBlock();
            }

            i += run;
        }
    }

    if (in1 != nullptr)
    {
        shelf.storeStates (shelfFilters[0], shelfFilters[1]);
        highPass.storeStates (highPassFilters[0], highPassFilters[1]);
    }
    else
    {
        shelfFilters[0] = sh0;
        highPassFilters[0] = hp0;
    }

    samplesProcessed += numSamples;
}

void LoudnessMeter::finishFrame()
{
    frameRing[(size_t) frameRingWrite] = currentFrame;
    frameRingWrite = frameRingWrite >= frameRingSize - 1 ? 0 : frameRingWrite + 1;

    if (frameRingCount < frameRingSize)
        ++frameRingCount;

    if (recordFrames)
        recordedFrames.push_back (currentFrame);

    currentFrame = {};
}

void LoudnessMeter::emitBlock()
{
    const auto b = std::max (blockSum, 0.0) / (double) blockSamples;

    // A silent block keeps its place in the history, so that two meters fed
    // over the same stretch of time keep lists that line up block for block;
    // with no energy it passes no gate and enters no histogram bin.
    if (recordBlocks)
    {
        blockEnergies.push_back (b);

        if (b > 0.0)
            ++recordedSignalBlocks;
    }

    if (! gatingEnergy.empty())
        addToGatingHistogram (b);

    if (b > 1e-12)
    {
        const auto L = 10.0 * std::log10 (b) - 0.691;

        if (L >= -70.0)
        {
            const auto bin = std::min ((int) ((L + 70.0) / 0.1), histogramBins - 1);
            histogramEnergy[(size_t) bin] += b;
            histogramCount[(size_t) bin] += 1;
        }
    }

    ++histogramBlockCount;
    ++blockCount;
}

void LoudnessMeter::setGatingHistogram (bool enabled)
{
    if (enabled)
    {
        gatingEnergy.assign (gatingBins, 0.0);
        gatingCount.assign (gatingBins, 0);
    }
    else
    {
        gatingEnergy = {};
        gatingCount = {};
    }

    gatingTotalEnergy = 0.0;
    gatingTotalCount = 0;
    gatingLowBin = gatingBins;
    gatingHighBin = -1;
    ++blockCount;
}

void LoudnessMeter::addToGatingHistogram (double b)
{
    // The absolute gate, as the list's first pass applies it.
    if (! (b >= std::pow (10.0, (-70.0 + 0.691) / 10.0)))
        return;

    const auto L = 10.0 * std::log10 (b) - 0.691;
    const auto bin = (int32_t) std::clamp (std::floor ((L + 70.0) / gatingBinWidth), 0.0, (double) (gatingBins - 1));

    gatingEnergy[(size_t) bin] += b;
    gatingCount[(size_t) bin] += 1;
    gatingTotalEnergy += b;
    ++gatingTotalCount;
    gatingLowBin = std::min (gatingLowBin, bin);
    gatingHighBin = std::max (gatingHighBin, bin);
}

void LoudnessMeter::clearGatingHistogram()
{
    if (gatingHighBin >= gatingLowBin)
    {
        std::fill (gatingEnergy.begin() + gatingLowBin, gatingEnergy.begin() + gatingHighBin + 1, 0.0);
        std::fill (gatingCount.begin() + gatingLowBin, gatingCount.begin() + gatingHighBin + 1, 0u);
    }

    gatingTotalEnergy = 0.0;
    gatingTotalCount = 0;
    gatingLowBin = gatingBins;
    gatingHighBin = -1;
}

float LoudnessMeter::gatingHistogramLUFS() const
{
    // The first pass is the running total; the second walks the bins from the
    // relative gate up. Every bin above the gate's bin passes whole, with its
    // exact energy sum; of the bin the gate falls in, the part above the gate
    // is taken, as if its blocks were spread evenly over its 0.01 LU.
    if (gatingTotalCount == 0)
        return noLevel;

    const auto m1 = gatingTotalEnergy / (double) gatingTotalCount;
    const auto relativeLevel = (m1 > 1e-12 ? 10.0 * std::log10 (m1) - 0.691 : -120.0) - 10.0;
    const auto position = (relativeLevel + 70.0) / gatingBinWidth;

    double sum2 = 0.0, count2 = 0.0;
    auto first = gatingLowBin;

    if (position > (double) gatingLowBin)
    {
        const auto gateBin = (int32_t) std::min (std::floor (position), (double) gatingBins);

        if (gateBin < gatingBins && gatingCount[(size_t) gateBin] > 0)
        {
            const auto above = std::clamp ((double) gateBin + 1.0 - position, 0.0, 1.0);
            sum2 += above * gatingEnergy[(size_t) gateBin];
            count2 += above * (double) gatingCount[(size_t) gateBin];
        }

        first = gateBin + 1;
    }

    for (auto i = first; i <= gatingHighBin; ++i)
    {
        sum2 += gatingEnergy[(size_t) i];
        count2 += (double) gatingCount[(size_t) i];
    }

    const auto m = count2 > 0.0 ? sum2 / count2 : m1;
    return m > 1e-12 ? (float) (10.0 * std::log10 (m) - 0.691) : noLevel;
}

//==============================================================================
float LoudnessMeter::getIntegratedLUFS() const
{
    if (cachedIntegratedKey == blockCount)
        return cachedIntegratedLUFS;

    cachedIntegratedLUFS = gatingEnergy.empty() ? gatedLoudness (blockEnergies, 0, blockEnergies.size())
                                                : gatingHistogramLUFS();
    cachedIntegratedKey = blockCount;
    return cachedIntegratedLUFS;
}

float LoudnessMeter::getHistogramIntegratedLUFS()
{
    if (cachedHistogramKey == histogramBlockCount)
        return cachedHistogramLUFS;

    auto result = noLevel;

    if (! histogramEnergy.empty() && histogramEnergy.size() == histogramCount.size())
    {
        double e1 = 0.0;
        int64_t n1 = 0;

        for (size_t i = 0; i < histogramEnergy.size(); ++i)
        {
            e1 += histogramEnergy[i];
            n1 += histogramCount[i];
        }

        if (n1 > 0)
        {
            const auto m1 = e1 / (double) n1;
            const auto relativeLevel = m1 > 1e-12 ? 10.0 * std::log10 (m1) - 0.691 - 10.0 : -130.0;

            double e2 = 0.0;
            int64_t n2 = 0;

            for (size_t i = 0; i < histogramEnergy.size(); ++i)
            {
                if (((double) i + 0.5) * 0.1 - 70.0 >= relativeLevel)
                {
                    e2 += histogramEnergy[i];
                    n2 += histogramCount[i];
                }
            }

            const auto m = n2 > 0 ? e2 / (double) n2 : m1;

            if (m > 1e-12)
                result = (float) (10.0 * std::log10 (m) - 0.691);
        }
    }

    cachedHistogramLUFS = result;
    cachedHistogramKey = histogramBlockCount;
    return result;
}

float LoudnessMeter::getWindowLUFS() const
{
    if (windowSamples <= 0)
        return noLevel;

    const auto m = std::max (windowSum, 0.0) / (double) windowSamples;
    return m > 1e-12 ? (float) (10.0 * std::log10 (m) - 0.691) : noLevel;
}

float LoudnessMeter::getMomentaryLUFS() const
{
    if (blockSamples <= 0)
        return noLevel;

    const auto m = std::max (blockSum, 0.0) / (double) blockSamples;
    return m > 1e-12 ? (float) (10.0 * std::log10 (m) - 0.691) : noLevel;
}

float LoudnessMeter::getLiveKRmsDb (double rmsSeconds) const
{
    const auto wanted = rmsSeconds * sampleRate;

    if (! std::isfinite (wanted))
        return noLevel;

    const auto W = (int64_t) std::max (roundToInt32 (std::min (wanted, 2.0e9)), 1);

    const auto [E, S] = qvn::newestFrameSamples (currentFrame, frameRing, frameRingWrite, frameRingCount, W);

    if (S <= 0)
        return noLevel;

    const auto m = E / (double) S;
    return m > 1e-12 ? (float) (10.0 * std::log10 (m)) : noLevel;
}

//==============================================================================
void LoudnessMeter::resetGating()
{
    samplesProcessed = 0;
    std::fill (blockRing.begin(), blockRing.end(), 0.0f);
    blockPos = 0;
    blockSum = 0.0;
    blockFill = 0;
    hopCountdown = blockSamples;
    blockEnergies.clear();
    recordedSignalBlocks = 0;
    clearGatingHistogram();
    cachedIntegratedLUFS = noLevel;
    ++blockCount;
    cachedIntegratedKey = blockCount;
    currentFrame = {};
    recordedFrames.clear();
}

void LoudnessMeter::resetHistogram()
{
    std::fill (histogramEnergy.begin(), histogramEnergy.end(), 0.0);
    std::fill (histogramCount.begin(), histogramCount.end(), 0);
    cachedHistogramLUFS = noLevel;
    ++histogramBlockCount;
    cachedHistogramKey = histogramBlockCount;
}

void LoudnessMeter::reset()
{
    for (auto* filters : { &shelfFilters, &highPassFilters })
        for (auto& f : *filters)
            f.z1 = f.z2 = 0.0;

    std::fill (windowRing.begin(), windowRing.end(), 0.0f);
    windowPos = 0;
    windowSum = 0.0;
    frameRingWrite = 0;
    frameRingCount = 0;
    std::fill (frameRing.begin(), frameRing.end(), AnalysisFrame {});

    resetGating();
    resetHistogram();
}

//==============================================================================
float LoudnessMeter::computeLUFSFromRange (const std::vector<double>& blocks, float start, float end)
{
    if (blocks.empty())
        return noLevel;

    size_t i0 = 0, iEnd = 0;
    trimmedRange (blocks.size(), start, end, i0, iEnd);
    return gatedLoudness (blocks, i0, iEnd);
}

float LoudnessMeter::computeWindowedKRmsDbFromFrames (const std::vector<AnalysisFrame>& frames,
                                                      float start, float end, double rmsSeconds)
{
    if (frames.empty())
        return noLevel;

    size_t i0 = 0, iEnd = 0;
    trimmedRange (frames.size(), start, end, i0, iEnd);

    const auto W = frameWindowSamples (frames, i0, iEnd, rmsSeconds);

    if (W <= 0)
        return noLevel;

    double sumDb = 0.0;
    int64_t counted = 0;

    forEachFrameWindow (frames, i0, iEnd, W, [&] (const WindowValue& v)
    {
        if (v.samples <= 0)
            return;

        const auto m = std::max (v.energy, 0.0) / (double) v.samples;

        if (! (m >= 1e-7))
            return;

        sumDb += 10.0 * std::log10 (m);
        ++counted;
    });

    return counted > 0 ? (float) (sumDb / (double) counted) : noLevel;
}

std::vector<float> LoudnessMeter::windowedKRmsDbSeries (const std::vector<AnalysisFrame>& frames, double seconds)
{
    std::vector<float> result;

    const auto W = frameWindowSamples (frames, 0, frames.size(), seconds);

    if (W <= 0)
        return result;

    result.reserve (frames.size());

    forEachFrameWindow (frames, 0, frames.size(), W, [&] (const WindowValue& v)
    {
        if (v.samples <= 0)
        {
            result.push_back (noLevel);
            return;
        }

        const auto m = std::max (v.energy, 0.0) / (double) v.samples;
        result.push_back (m > 1e-12 ? (float) (10.0 * std::log10 (m)) : noLevel);
    });

    return result;
}
