#include "CustomWeightingDesigner.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace
{
    constexpr double pi = 3.141592653589793;
    constexpr double butterworthQ = 0.7071067811865476;

    using Stage = CustomSlotCoefficients::Stage;

    double clampSampleRate (double sampleRate)
    {
        return std::clamp (std::isfinite (sampleRate) ? sampleRate : 48000.0, 8000.0, 768000.0);
    }

    // A corner below 1 Hz becomes 1 Hz; anything else stays below Nyquist.
    double limitCorner (double f, double fs)
    {
        return f < 1.0 ? 1.0 : std::min (f, 0.49 * fs);
    }

    // Angle of z^-1 for the magnitude evaluation: DC for negative frequencies.
    double evaluationAngle (double frequencyHz, double fs)
    {
        if (frequencyHz < 0.0)
            return 0.0;

        return -2.0 * pi * std::min (0.499999 * fs, frequencyHz) / fs;
    }

    double stageMagnitude (const Stage& s, double theta)
    {
        const auto u = std::polar (1.0, theta);
        const auto u2 = u * u;
        const auto num = s.b0 + s.b1 * u + s.b2 * u2;
        const auto den = 1.0 + s.a1 * u + s.a2 * u2;
        return std::abs (num / den);
    }

    void addPassStages (CustomSlotCoefficients& c, bool highPass, double slopeDbPerOct,
                        double frequencyHz, double q, double sampleRate)
    {
        c.numStages = 0;

        const auto order = slopeDbPerOct > 0.0 ? slopeDbPerOct / 6.0 : 0.0;

        if (order <= 1e-9)
            return;

        const auto numSections = (int) std::floor (order / 2.0 + 1e-9);
        const auto remainder = (order - 2.0 * numSections) / 2.0;
        const auto q1 = std::clamp (q, 0.1, 40.0);

        int used = 0;

        if (numSections > 0)
        {
            const auto K = std::tan (pi * frequencyHz / sampleRate);
            const auto K2 = K * K;

            for (int k = 0; k < numSections && used < CustomSlotCoefficients::maxStages; ++k)
            {
                const auto qx = k == 0 ? q1
                                       : std::clamp (1.0 / (2.0 * std::sin (std::min (pi / 2.0, (2 * k + 1) * pi / (2.0 * order)))),
                                                     0.1, 40.0);
                const auto n = 1.0 / (K / qx + 1.0 + K2);

                auto& s = c.stages[(size_t) used++];

                if (highPass)
                {
                    s.b0 = n;
                    s.b1 = -2.0 * n;
                    s.b2 = n;
                }
                else
                {
                    s.b0 = K2 * n;
                    s.b1 = 2.0 * K2 * n;
                    s.b2 = K2 * n;
                }

                s.a1 = 2.0 * (K2 - 1.0) * n;
                s.a2 = (1.0 - K / qx + K2) * n;
            }
        }

        if (remainder > 1e-6 && used < CustomSlotCoefficients::maxStages)
        {
            // The fractional part of the slope continues as shelves two octaves
            // apart on the stop-band side, each falling by about 24 * r dB.
            const auto ratio = highPass ? 0.25 : 4.0;

            for (int j = 0; j < 6 && used < CustomSlotCoefficients::maxStages; ++j)
            {
                const auto fcRaw = frequencyHz * std::pow (ratio, (double) j);
                const auto ffRaw = fcRaw * std::pow (ratio, remainder);
                const auto fc = limitCorner (fcRaw, sampleRate);
                const auto ff = limitCorner (ffRaw, sampleRate);

                const auto Ka = std::tan (pi * ff / sampleRate);
                const auto Kb = std::tan (pi * fc / sampleRate);
                const auto qs = (j == 0 && numSections == 0) ? std::clamp (q1 * 0.5 / butterworthQ, 0.1, 40.0) : 0.5;
                const auto g = highPass ? 1.0 : (Kb * Kb) / (Ka * Ka);
                const auto d = 1.0 + Kb / qs + Kb * Kb;

                auto& s = c.stages[(size_t) used++];
                s.b0 = g * (1.0 + 2.0 * Ka + Ka * Ka) / d;
                s.b1 = g * 2.0 * (Ka * Ka - 1.0) / d;
                s.b2 = g * (1.0 - 2.0 * Ka + Ka * Ka) / d;
                s.a1 = 2.0 * (Kb * Kb - 1.0) / d;
                s.a2 = (1.0 - Kb / qs + Kb * Kb) / d;
            }
        }

        c.numStages = used;
    }

    void designLowShelf (Stage& s, double f, double gainDb, double q, double fs)
    {
        const auto A = std::pow (10.0, gainDb / 40.0);
        const auto w0 = 2.0 * pi * f / fs;
        const auto alpha = std::sin (w0) / (2.0 * q);
        const auto c = std::cos (w0);
        const auto sqrtA2alpha = 2.0 * std::sqrt (A) * alpha;

        const auto a0 = (A + 1.0) + (A - 1.0) * c + sqrtA2alpha;
        s.b0 = A * ((A + 1.0) - (A - 1.0) * c + sqrtA2alpha) / a0;
        s.b1 = 2.0 * A * ((A - 1.0) - (A + 1.0) * c) / a0;
        s.b2 = A * ((A + 1.0) - (A - 1.0) * c - sqrtA2alpha) / a0;
        s.a1 = -2.0 * ((A - 1.0) + (A + 1.0) * c) / a0;
        s.a2 = ((A + 1.0) + (A - 1.0) * c - sqrtA2alpha) / a0;
    }

    void designBell (Stage& s, double f, double gainDb, double q, double fs)
    {
        const auto A = std::pow (10.0, gainDb / 40.0);
        const auto w0 = 2.0 * pi * f / fs;
        const auto alpha = std::sin (w0) / (2.0 * q);
        const auto c = std::cos (w0);

        const auto a0 = 1.0 + alpha / A;
        s.b0 = (1.0 + alpha * A) / a0;
        s.b1 = -2.0 * c / a0;
        s.b2 = (1.0 - alpha * A) / a0;
        s.a1 = -2.0 * c / a0;
        s.a2 = (1.0 - alpha / A) / a0;
    }

    // The K-weighting shelf shape with the band's own values.
    void designHighShelf (Stage& s, double f, double gainDb, double q, double fs)
    {
        const auto K = std::tan (pi * f / fs);
        const auto K2 = K * K;
        const auto Vh = std::pow (10.0, gainDb / 20.0);
        const auto Vb = std::pow (Vh, 0.4996667741545416);
        const auto a0 = K / q + 1.0 + K2;

        s.b0 = (Vh + Vb * K / q + K2) / a0;
        s.b1 = 2.0 * (K2 - Vh) / a0;
        s.b2 = (Vh - Vb * K / q + K2) / a0;
        s.a1 = 2.0 * (K2 - 1.0) / a0;
        s.a2 = (1.0 - K / q + K2) / a0;
    }

    // A straight tilt of gainDb across 20 Hz to 20 kHz through 0 dB at f: twelve
    // squared first-order shelves an octave apart plus a make-up gain stage.
    void designFlatTilt (CustomSlotCoefficients& c, double f, double gainDb, double fs)
    {
        if (std::abs (gainDb) < 1e-6)
        {
            c.numStages = 0;
            return;
        }

        const auto s = std::min (1.0, std::abs (gainDb) / 9.965784284662087 / 12.0);
        const auto fTop = std::min (0.23 * fs, 20000.0);

        for (int i = 0; i < 12; ++i)
        {
            const auto fbRaw = fTop * std::pow (2.0, (double) -i);
            const auto faRaw = fbRaw * std::pow (2.0, -s);
            const auto fb = limitCorner (fbRaw, fs);
            const auto fa = limitCorner (faRaw, fs);

            const auto Ka = std::tan (pi * fa / fs);
            const auto Kb = std::tan (pi * fb / fs);
            const auto d = (1.0 + Kb) * (1.0 + Kb);

            Stage st;
            st.b0 = (1.0 + Ka) * (1.0 + Ka) / d;
            st.b1 = 2.0 * (Ka * Ka - 1.0) / d;
            st.b2 = (1.0 - Ka) * (1.0 - Ka) / d;
            st.a1 = 2.0 * (Kb * Kb - 1.0) / d;
            st.a2 = (1.0 - Kb) * (1.0 - Kb) / d;

            if (gainDb < 0.0)
            {
                const Stage pos = st;
                st.b0 = 1.0 / pos.b0;
                st.b1 = pos.a1 / pos.b0;
                st.b2 = pos.a2 / pos.b0;
                st.a1 = pos.b1 / pos.b0;
                st.a2 = pos.b2 / pos.b0;
            }

            c.stages[(size_t) i] = st;
        }

        const auto theta = evaluationAngle (std::min (f, 0.499999 * fs), fs);
        double product = 1.0;
        bool valid = true;

        for (int i = 0; i < 12; ++i)
        {
            const auto m = stageMagnitude (c.stages[(size_t) i], theta);

            if (! std::isfinite (m))
                valid = false;

            product *= m;
        }

        if (! valid || ! std::isfinite (product) || product <= 0.0)
            product = 1.0;

        Stage makeUp;
        makeUp.b0 = 1.0 / product;
        c.stages[12] = makeUp;
        c.numStages = 13;
    }
}

DesignedCustomWeighting CustomWeightingDesigner::design (CustomWeightedRmsSettings settings, double sampleRate)
{
    settings.normalize();

    DesignedCustomWeighting result;
    const auto fs = clampSampleRate (sampleRate);
    result.sampleRate = fs;

    for (size_t k = 0; k < settings.slots.size(); ++k)
    {
        const auto& slot = settings.slots[k];
        auto& c = result.slots[k];
        c.enabled = slot.enabled;

        if (! slot.enabled)
            continue;

        const auto f = std::max (std::min (slot.frequencyHz, 0.49 * fs), 5.0);

        switch ((CustomSlotType) slot.type)
        {
            case CustomSlotType::HighPass:  addPassStages (c, true, slot.slopeDbPerOct, f, slot.q, fs); break;
            case CustomSlotType::LowPass:   addPassStages (c, false, slot.slopeDbPerOct, f, slot.q, fs); break;
            case CustomSlotType::LowShelf:  designLowShelf (c.stages[0], f, slot.gainDb, slot.q, fs); c.numStages = 1; break;
            case CustomSlotType::Bell:      designBell (c.stages[0], f, slot.gainDb, slot.q, fs); c.numStages = 1; break;
            case CustomSlotType::HighShelf: designHighShelf (c.stages[0], f, slot.gainDb, slot.q, fs); c.numStages = 1; break;
            case CustomSlotType::FlatTilt:  designFlatTilt (c, f, slot.gainDb, fs); break;
        }
    }

    return result;
}

double CustomWeightingDesigner::magnitudeDb (const DesignedCustomWeighting& design, double frequencyHz)
{
    const auto fs = clampSampleRate (design.sampleRate);
    const auto f = std::isfinite (frequencyHz) ? frequencyHz : 1000.0;
    const auto theta = evaluationAngle (f, fs);

    double product = 1.0;

    for (const auto& slot : design.slots)
    {
        if (! slot.enabled || slot.numStages <= 0)
            continue;

        const auto n = std::min (slot.numStages, (int32_t) CustomSlotCoefficients::maxStages);

        for (int i = 0; i < n; ++i)
        {
            const auto m = stageMagnitude (slot.stages[(size_t) i], theta);

            // A stage without a finite response (broken coefficients, a pole on
            // the unit circle) has no usable level: report the floor rather
            // than a flat 0 dB that would hide the broken band.
            if (! std::isfinite (m))
                return -240.0;

            product *= m;
        }
    }

    if (! std::isfinite (product) || product <= 0.0)
        return -240.0;

    return std::clamp (20.0 * std::log10 (product), -240.0, 240.0);
}
