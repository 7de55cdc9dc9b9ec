#include "Filters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

using namespace kestrune;

namespace
{
// |H(e^jw)| of a first-order design (b0, b1, a1).
double firstOrderGain(const float d[3], double frequency, double sampleRate)
{
    const std::complex<double> z1 = std::polar(1.0, -2.0 * M_PI * frequency / sampleRate);
    return std::abs((double(d[0]) + double(d[1]) * z1) / (1.0 + double(d[2]) * z1));
}
} // namespace

TEST(FirstOrderDesign, ToneAt25HzMatchesClosedForm)
{
    float d[3];
    designFirstOrderTone(d, 25.0f, 48000.0f);
    EXPECT_NEAR(d[0], -0.9967329f, 1e-7f);
    EXPECT_EQ(d[1], 1.0f);
    EXPECT_EQ(d[0], d[2]);
}
