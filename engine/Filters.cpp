#include "Filters.h"

namespace kestrune
{

namespace
{
// K = 2*sr/omega with 2*pi taken as 6.28318 in double, then everything in single precision.
float bilinearK(float frequencyHz, float sampleRate)
{
    const float w = static_cast<float>(1.0 / (static_cast<double>(frequencyHz) * 6.28318));
    return (sampleRate + sampleRate) * w;
}
} // namespace

void designFirstOrderShelf(float out[3], float frequencyHz, float gainDC, float gainHF, float sampleRate)
{
    const float K = bilinearK(frequencyHz, sampleRate);
    out[0] = (gainDC + gainHF * K) / (1.0f + K);
    out[1] = (gainDC - gainHF * K) / (1.0f + K);
    out[2] = (1.0f - K) / (1.0f + K);
}

void ShelfFilter::setDesign(float frequencyHz, float dcGain, float hfGain, float sampleRate)
{
    // The bilinear one-pole of the shelf's pole, 1 / (1 + s/w) with s = K (1 - z^-1) / (1 + z^-1).
    const float K = bilinearK(frequencyHz, sampleRate);
    gain = 1.0f / (1.0f + K);
    gainDC = dcGain;
    gainHF = hfGain;
}

void designFirstOrderTone(float out[3], float frequencyHz, float sampleRate)
{
    const float K = bilinearK(frequencyHz, sampleRate);
    const float a = (1.0f - K) / (K + 1.0f);
    out[0] = a;
    out[1] = 1.0f;
    out[2] = a;
}

void designBiquadLowpass(float out[5], float frequencyHz, float q, float sampleRate)
{
    const float omega = frequencyHz * 6.28318f / sampleRate;
    const double sn = std::sin(static_cast<double>(omega));
    const double cs = std::cos(static_cast<double>(omega));
    const float alpha = static_cast<float>(sn / (2.0 * static_cast<double>(q)));
    const float norm = 1.0f + alpha;
    out[0] = static_cast<float>(-2.0 * cs) / norm;
    out[1] = (1.0f - alpha) / norm;
    out[2] = static_cast<float>((1.0 - cs) / 2.0) / norm;
    out[3] = static_cast<float>(1.0 - cs) / norm;
    out[4] = static_cast<float>((1.0 - cs) / 2.0) / norm;
}

} // namespace kestrune
