#include "Filters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

using namespace kestrune;

namespace
{
// |H(e^jw)| of a first-order design (b0, b1, a1).
double firstOrderGain(const float d[3], double frequency, double sampleRate)
{
    const std::complex<double> z1 = std::polar(1.0, -2.0 * M_PI * frequency / sampleRate);
    return std::abs((double(d[0]) + double(d[1]) * z1) / (1.0 + double(d[2]) * z1));
}

double biquadGainDb(const float c[5], double frequency, double sampleRate)
{
    const std::complex<double> z1 = std::polar(1.0, -2.0 * M_PI * frequency / sampleRate);
    const std::complex<double> z2 = z1 * z1;
    const auto h = (double(c[2]) + double(c[3]) * z1 + double(c[4]) * z2) / (1.0 + double(c[0]) * z1 + double(c[1]) * z2);
    return 20.0 * std::log10(std::abs(h));
}
} // namespace

TEST(FirstOrderDesign, ToneAt25HzMatchesClosedForm)
{
    float d[3];
    designFirstOrderTone(d, 25.0f, 48000.0f);
    EXPECT_NEAR(d[0], -0.9967329f, 1e-7f);
    EXPECT_EQ(d[1], 1.0f);
    EXPECT_EQ(d[0], d[2]);
    // An allpass: unit gain everywhere.
    for (double f : {10.0, 25.0, 1000.0, 20000.0})
        EXPECT_NEAR(firstOrderGain(d, f, 48000.0), 1.0, 1e-6) << f;
}

TEST(FirstOrderDesign, ShelfHasItsGainsAtDcAndNyquist)
{
    struct Case { float frequency, sampleRate; };
    for (const Case c : {Case{100.0f, 44100.0f}, Case{8000.0f, 48000.0f}, Case{15000.0f, 96000.0f}, Case{1000.0f, 32000.0f}})
    {
        float d[3];
        designFirstOrderShelf(d, c.frequency, 1.0f, 0.01f, c.sampleRate);
        EXPECT_NEAR(firstOrderGain(d, 0.0, c.sampleRate), 1.0, 1e-5) << c.frequency;
        EXPECT_NEAR(firstOrderGain(d, c.sampleRate / 2.0, c.sampleRate), 0.01, 1e-5) << c.frequency;

        // The section runs the same design: a constant settles at 1, the alternating signal at 0.01.
        FirstOrderSection s;
        s.loadDesign(d);
        std::vector<float> dc(4096, 1.0f), nyquist(4096);
        for (size_t j = 0; j < nyquist.size(); ++j)
            nyquist[j] = (j & 1) ? -1.0f : 1.0f;
        s.process(dc.data(), int(dc.size()));
        s.reset();
        s.process(nyquist.data(), int(nyquist.size()));
        EXPECT_NEAR(dc.back(), 1.0f, 1e-4f);
        EXPECT_NEAR(std::fabs(nyquist.back()), 0.01f, 1e-4f);
    }
}

TEST(FirstOrderSection, ConstructedSectionPassesSignalUnchanged)
{
    FirstOrderSection s;
    float x[5] = {1.0f, -2.0f, 0.5f, 0.0f, 3.0f};
    const std::vector<float> before(x, x + 5);
    s.process(x, 5);
    EXPECT_EQ(std::vector<float>(x, x + 5), before);
}

TEST(BiquadDesign, LowpassIsThreeDecibelsDownAtItsCutoff)
{
    for (float sampleRate : {44100.0f, 48000.0f, 96000.0f})
        for (float cutoff : {100.0f, 1000.0f, 8000.0f, 15000.0f})
        {
            float c[5];
            designBiquadLowpass(c, cutoff, 0.7071f, sampleRate);
            EXPECT_NEAR(biquadGainDb(c, 0.0, sampleRate), 0.0, 0.01); // float coefficients at low cut-offs
            EXPECT_NEAR(biquadGainDb(c, cutoff, sampleRate), -3.0103, 0.01) << cutoff << " @ " << sampleRate;
            EXPECT_LT(biquadGainDb(c, sampleRate * 0.499, sampleRate), biquadGainDb(c, cutoff, sampleRate) - 3.0);
        }
}

// The state-variable high cut and the trapezoidal shelf compute the designs' responses: their impulse
// responses match the direct-form filters of designBiquadLowpass and designFirstOrderShelf.
TEST(HighCutFilters, ImpulseResponsesMatchTheDesigns)
{
    struct Case
    {
        float frequency, sampleRate;
    };
    for (const Case c : {Case{100.0f, 44100.0f}, Case{1000.0f, 48000.0f}, Case{8000.0f, 48000.0f},
                         Case{15000.0f, 44100.0f}, Case{15000.0f, 96000.0f}, Case{3600.0f, 8000.0f}})
    {
        // The cookbook design in double precision, so that only the filter's own rounding is measured.
        const double omega = double(c.frequency * 6.28318f / c.sampleRate), cs = std::cos(omega);
        const double alpha = std::sin(omega) / (2.0 * double(0.7071f)), norm = 1.0 + alpha;
        const double biquad[5] = {-2.0 * cs / norm, (1.0 - alpha) / norm, (1.0 - cs) / 2.0 / norm, (1.0 - cs) / norm,
                                  (1.0 - cs) / 2.0 / norm};
        float shelfDesign[3];
        designFirstOrderShelf(shelfDesign, c.frequency, 1.0f, 0.01f, c.sampleRate);
        SmoothedBiquad svf;
        svf.setDesign(c.frequency, 0.7071f, c.sampleRate);
        ShelfFilter shelf;
        shelf.setDesign(c.frequency, 1.0f, 0.01f, c.sampleRate);
        FirstOrderSection section;
        section.loadDesign(shelfDesign);
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0, peak = 0, worst = 0, worstShelf = 0;
        for (int j = 0; j < 4096; ++j)
        {
            const float x = j == 0 ? 1.0f : 0.0f;
            const double reference = biquad[2] * x + biquad[3] * x1 + biquad[4] * x2 - biquad[0] * y1 - biquad[1] * y2;
            x2 = x1;
            x1 = x;
            y2 = y1;
            y1 = reference;
            float s = x;
            svf.processDirect(&s, 1);
            peak = std::max(peak, std::fabs(reference));
            worst = std::max(worst, std::fabs(s - reference));
            float h = x;
            shelf.process(&h, 1);
            worstShelf = std::max(worstShelf, double(std::fabs(h - section.processSample(x))));
        }
        EXPECT_LT(worst, 1e-4 * peak) << c.frequency << " Hz at " << c.sampleRate;
        EXPECT_LT(worstShelf, 1e-5) << c.frequency << " Hz at " << c.sampleRate;
    }
}

// Settle at one cut-off on full-scale noise, jump to the other in one step: the output never rises
// above the input's level, in either direction, for both high-cut forms.
TEST(HighCutFilters, CutoffJumpsGiveNoTransient)
{
    for (const auto& [from, to] : {std::pair{100.0f, 15000.0f}, std::pair{15000.0f, 100.0f}, std::pair{8000.0f, 1000.0f}})
    {
        SmoothedBiquad b;
        ShelfFilter shelf;
        b.setDesign(from, 0.7071f, 48000.0f);
        shelf.setDesign(from, 1.0f, 0.01f, 48000.0f);
        uint32_t seed = 1;
        auto noise = [&seed] {
            seed = seed * 1664525u + 1013904223u;
            return float(int32_t(seed)) * 4.656613e-10f;
        };
        float x[64], h[64];
        float peak = 0.0f, shelfPeak = 0.0f;
        for (int block = 0; block < 400; ++block)
        {
            if (block == 200)
            {
                b.setDesign(to, 0.7071f, 48000.0f);
                shelf.setDesign(to, 1.0f, 0.01f, 48000.0f);
            }
            for (int j = 0; j < 64; ++j)
                h[j] = x[j] = noise();
            b.processDirect(x, 64);
            shelf.process(h, 64);
            for (int j = 0; j < 64; ++j)
            {
                peak = std::max(peak, std::fabs(x[j]));
                shelfPeak = std::max(shelfPeak, std::fabs(h[j]));
            }
        }
        EXPECT_LT(peak, 2.0f) << from << " -> " << to;
        EXPECT_LT(shelfPeak, 2.0f) << from << " -> " << to;
    }
}

TEST(Smoothing, CoefficientsFollowTheirTimeConstants)
{
    EXPECT_FLOAT_EQ(OnePole::coefficientFromTime(50.0f, 48000.0f), float(1.0 - std::exp(-1.0 / 2400.0)));
    SmoothedBiquad b;
    b.setSmoothing(64, 50.0f, 48000.0f);
    EXPECT_FLOAT_EQ(b.smoothingCoefficient, float(1.0 - std::exp(-1000.0 / (50.0 * 750.0))));
    EXPECT_FLOAT_EQ(OnePole::coefficientFromFrequency(1000.0f, 48000.0f),
                    float(1.0 - std::exp(-2.0 * M_PI * 1000.0 / 48000.0)));
}

TEST(OnePole, BlockStateCarriesAcrossCalls)
{
    std::vector<float> x(128);
    for (size_t j = 0; j < x.size(); ++j)
        x[j] = std::sin(0.1f * float(j)) + 0.5f;
    const float c = 0.2f;
    OnePole whole, split;
    std::vector<float> a(128), b(128);
    whole.process(x.data(), a.data(), 128, c);
    split.process(x.data(), b.data(), 64, c);
    split.process(x.data() + 64, b.data() + 64, 64, c);
    EXPECT_EQ(a, b);

    std::vector<float> dc(128, 1.0f), y(128);
    OnePole p;
    for (int i = 0; i < 10; ++i)
        p.process(dc.data(), y.data(), 128, c);
    EXPECT_NEAR(y.back(), 1.0f, 1e-6f);
}

TEST(SmoothedBiquad, DirectPassesThroughAndSmoothedStartsFromSilence)
{
    SmoothedBiquad b;
    std::vector<float> x(64, 1.0f);
    b.processDirect(x.data(), 64);
    EXPECT_EQ(x, std::vector<float>(64, 1.0f));

    // Run smoothed from construction: silent at first, then approaches the designed low-pass (DC gain 1).
    SmoothedBiquad s;
    s.setDesign(8000.0f, 0.7071f, 48000.0f);
    s.setSmoothing(64, 50.0f, 48000.0f);
    std::vector<float> block(64, 1.0f);
    s.processSmoothed(block.data(), 64);
    EXPECT_LT(std::fabs(block[0]), 0.01f);
    for (int i = 0; i < 750; ++i) // one second of 64-sample blocks
    {
        std::fill(block.begin(), block.end(), 1.0f);
        s.processSmoothed(block.data(), 64);
    }
    EXPECT_NEAR(block.back(), 1.0f, 1e-3f);

    // A reset clears the filter state but keeps the smoothed cut-off.
    const float before = s.smoothedGain.state;
    s.reset();
    EXPECT_EQ(s.ic1, 0.0f);
    EXPECT_EQ(s.ic2, 0.0f);
    EXPECT_EQ(s.smoothedGain.state, before);
}
