// Derived values at worked settings: lengths, taps, gains, normalisations, filter designs, modulator steps.
// Each row names a mode (0-11), a host rate, up to three settings in real units (applied after the twenty
// defaults and the mode, before the rate), the quantity and its expected value with an absolute tolerance.
// The rows are independent of any implementation and this header includes none: each engine that runs them
// brings its own reader of the quantities (the reference's is in ReferenceQuantities.h).
//
// Tolerances: exact for integers and designed constants; a few float ulps plus the rounding of the
// normalised parameter value for values given as formulas; the printed digits for values given rounded.
#pragma once

#include <array>
#include <cmath>
#include <complex>
#include <cstdint>

namespace kestrune::examples
{

enum Parameter : int
{
    kMix = 0,
    kPredelay,
    kDecay,
    kHighCut,
    kEarlyLateMix,
    kLateSize,
    kLateCross,
    kLateModRate,
    kLateModDepth,
    kBassMultiply,
    kBassCrossover,
    kHighMultiply,
    kHighCrossover,
    kEarlySize,
    kEarlyCross,
    kEarlyModRate,
    kEarlyModDepth,
    kEarlySend,
    kDiffusion,
    kType,
    kNone = -1
};

// Published ranges and defaults, index by index.
struct Range
{
    float minimum, maximum, defaultValue;
};
inline constexpr Range kRanges[20] = {
    {0, 100, 100},      {0, 500, 10},    {0.1f, 100, 2},     {100, 15000, 8000}, {0, 100, 50},
    {0, 1, 0.5f},       {0, 1, 1},       {0.05f, 5, 0.5f},   {0, 1, 0.5f},       {0.5f, 2, 1},
    {100, 10000, 1000}, {0.1f, 1, 0.5f}, {100, 15000, 8000}, {1, 1000, 30},      {0, 1, 0.1f},
    {0.05f, 5, 0.5f},   {0, 1, 0},       {0, 1, 0},          {0, 1, 1},          {0, 12, 1},
};

inline float normalisedFor(int index, double value)
{
    const Range& r = kRanges[index];
    return (static_cast<float>(value) - r.minimum) / (r.maximum - r.minimum);
}

enum class Quantity
{
    DefaultNormalised, // item: parameter
    ParameterValue,    // item: parameter
    Mode,
    InternalRate,
    BlockLength,
    SizeTotal,
    LateLength, // item: late line
    LateFloor,
    MidGain,
    BassGain, // per line or per loop, as the mode keeps them
    HighRatio,
    MidNorm,
    BassNorm,
    EarlyLength, // item: 0-15
    EarlyFloor,
    TapPositionL, // item: tap 0-14
    TapPositionR,
    TapGainL,
    TapGainR,
    SignLeft, // item: 0-15, the first sign copy (left tap gains)
    SignRight,
    OutputGain,
    PredelayLength,
    LateDepth,
    EarlyDepth,
    WetTarget,
    DryTarget,
    EarlyGain,
    LateGain,
    EarlySendCos,
    MixCoefficient,
    BassCoefficient,
    HighCoefficient,
    HighCutSmoothing,    // per-frame smoothing coefficient of the smoothed high cut
    HighCutGainAtCutoff, // magnitude of the HighCut low-pass at its own frequency
    HighCutGain,         // item: frequency in Hz
    ToneCoefficient,     // a of the tone allpass
    ShelfGainDC,         // the "Dense Room" high-cut shelf
    ShelfGainNyquist,
    CrossoverGlide,  // per-frame step of the crossover coefficients towards their targets
    LateModStepSize, // item: late modulator
    LateModPeriod,
    EarlyModStepSize, // item: early modulator
    EarlyModPeriod,
    RotatorSine, // item: rotator 0-49
    RotatorCosine,
    AllpassTable, // item: entry 0-255
    RingSize,     // item: delay line number
};

struct Setting
{
    int index = kNone;
    double value = 0.0;
};

struct WorkedExample
{
    int mode;
    int hostRate;
    std::array<Setting, 3> settings;
    Quantity quantity;
    int item;
    double expected;
    double tolerance;
};

// The road every test takes: defaults in index order, the mode, the settings, then the host rate.
template <class EngineType> void prepare(EngineType& engine, const WorkedExample& row)
{
    for (int k = 0; k < 20; ++k)
        engine.setParameterNormalised(k, normalisedFor(k, kRanges[k].defaultValue));
    engine.setParameterNormalised(kType, static_cast<float>(row.mode + 1) / 12.0f);
    for (const Setting& s : row.settings)
        if (s.index != kNone)
            engine.setParameterNormalised(s.index, s.index == kType ? static_cast<float>(s.value) / 12.0f
                                                                    : normalisedFor(s.index, s.value));
    engine.setSampleRate(row.hostRate);
}

namespace detail
{
constexpr double kPi = 3.14159265358979323846;
constexpr double kLn0001 = -6.9077554;
inline double rt60(double length, double decaySeconds, double rate)
{
    return std::exp(kLn0001 * length / (decaySeconds * rate));
}
inline double sine(double amount)
{
    return std::sin(amount * kPi / 2.0);
}
// a of the first-order tone allpass, bilinear without prewarping
inline double tone(double hz, double rate)
{
    const double k = 2.0 * rate / (hz * 6.28318);
    return (1.0 - k) / (1.0 + k);
}
} // namespace detail

// |H| at hz of a filter in state-space form, x' = M x + N u, y = C x + D u, from its coefficients
// (members m11, m12, n1, m21, m22, n2, c1, c2, d): H(z) = C (zI - M)^-1 N + D.
template <class Coefficients> double stateSpaceGain(const Coefficients& c, double hz, double rate)
{
    using Complex = std::complex<double>;
    const Complex z = std::polar(1.0, 2.0 * detail::kPi * hz / rate);
    const auto v = [](float x) { return static_cast<double>(x); };
    const Complex det = (z - v(c.m11)) * (z - v(c.m22)) - v(c.m12) * v(c.m21);
    const Complex u1 = ((z - v(c.m22)) * v(c.n1) + v(c.m12) * v(c.n2)) / det;
    const Complex u2 = (v(c.m21) * v(c.n1) + (z - v(c.m11)) * v(c.n2)) / det;
    return std::abs(v(c.c1) * u1 + v(c.c2) * u2 + v(c.d));
}

// |H| at z = 1 (DC) or -1 (Nyquist) of a shelf that blends the trapezoidal one-pole low-pass of gain G,
// G + (1 - G) 2G / (z - (1 - 2G)), with its input: gainHF x + (gainDC - gainHF) lp.
inline double shelfGain(double G, double gainDC, double gainHF, double z)
{
    const double lp = G + (1.0 - G) * 2.0 * G / (z - (1.0 - 2.0 * G));
    return std::abs(gainHF + (gainDC - gainHF) * lp);
}

using Q = Quantity;
using detail::rt60;
using detail::sine;
using detail::tone;

// clang-format off
inline const WorkedExample kWorkedExamples[] = {
    // Parameter records and the mode selector
    {0, 48000, {}, Q::DefaultNormalised, kType, 1.0 / 12.0, 1e-8},
    {0, 48000, {}, Q::DefaultNormalised, kMix, 1.0, 0.0},
    {0, 48000, {}, Q::DefaultNormalised, kEarlyModDepth, 0.0, 0.0},
    {0, 48000, {}, Q::DefaultNormalised, kEarlySend, 0.0, 0.0},
    {0, 48000, {}, Q::DefaultNormalised, kDecay, 0.01901902, 1e-8},
    {0, 48000, {}, Q::DefaultNormalised, kHighCut, 0.5302013, 1e-7},
    {0, 48000, {}, Q::ParameterValue, kType, 1.0, 1e-6},
    {0, 48000, {}, Q::ParameterValue, kHighCut, 8000.0, 1e-3},
    {0, 48000, {}, Q::Mode, 0, 0.0, 0.0},
    {5, 48000, {}, Q::ParameterValue, kType, 6.0, 0.0},
    {5, 48000, {}, Q::Mode, 0, 5.0, 0.0},
    {0, 48000, {{{kType, 12}}}, Q::Mode, 0, 11.0, 0.0},
    {3, 48000, {{{kType, 0}}}, Q::Mode, 0, 0.0, 0.0},
    {3, 48000, {{{kType, 1}}}, Q::Mode, 0, 0.0, 0.0},
    {3, 48000, {{{kType, 2}}}, Q::Mode, 0, 1.0, 0.0},

    // Mix, early/late balance, early send
    {0, 48000, {{{kMix, 100}}}, Q::WetTarget, 0, 1.0, 0.0},
    {0, 48000, {{{kMix, 100}}}, Q::DryTarget, 0, -4.371139e-8, 1e-10},
    {0, 48000, {{{kEarlyLateMix, 0}}}, Q::EarlyGain, 0, 1.0, 1e-7},
    {0, 48000, {{{kEarlyLateMix, 0}}}, Q::LateGain, 0, 1.5707963e-5, 1e-10},
    {0, 48000, {{{kEarlyLateMix, 100}}}, Q::EarlyGain, 0, 0.0031258796, 1e-6},
    {0, 48000, {{{kEarlyLateMix, 100}}}, Q::LateGain, 0, 0.99999511, 1e-6},
    {0, 48000, {{{kEarlySend, 1}}}, Q::EarlySendCos, 0, -4.371139e-8, 1e-10},

    // Rates, block lengths, depths, predelay, early lengths
    {4, 44100, {{{kLateModDepth, 1}}}, Q::InternalRate, 0, 22050.0, 0.0},
    {4, 44100, {{{kLateModDepth, 1}}}, Q::BlockLength, 0, 32.0, 0.0},
    {4, 44100, {{{kLateModDepth, 1}}}, Q::LateDepth, 0, 64.0, 1e-5},
    {0, 48000, {{{kLateModDepth, 1}}}, Q::LateDepth, 0, 128.0, 1e-5},
    {0, 48000, {{{kEarlyModDepth, 0.5}}}, Q::EarlyDepth, 0, 64.0, 1e-5},
    {0, 48000, {}, Q::PredelayLength, 0, 482.0, 1e-4},
    {4, 48000, {}, Q::PredelayLength, 0, 242.0, 1e-4},
    {0, 48000, {{{kPredelay, 500}}}, Q::PredelayLength, 0, 24002.0, 2e-3},
    {0, 48000, {}, Q::EarlyLength, 7, 810.9765 * 30 * 48000 / 2.997e6, 1e-3},
    {0, 48000, {}, Q::EarlyLength, 15, 738.46515 * 30 * 48000 / 2.997e6, 1e-3},
    {0, 48000, {}, Q::EarlyFloor, 0, 56.0, 0.0},
    // every ratio at the largest early size, where a wrong digit moves the length furthest
    {0, 48000, {{{kEarlySize, 1000}}}, Q::EarlyLength, 0, 118.00702 * 1000 * 48000 / 2.997e6, 2e-3},
    {0, 48000, {{{kEarlySize, 1000}}}, Q::EarlyLength, 1, 155.41524 * 1000 * 48000 / 2.997e6, 2e-3},
    {0, 48000, {{{kEarlySize, 1000}}}, Q::EarlyLength, 2, 204.68187 * 1000 * 48000 / 2.997e6, 2e-3},
    {0, 48000, {{{kEarlySize, 1000}}}, Q::EarlyLength, 3, 269.56604 * 1000 * 48000 / 2.997e6, 2e-3},
    {0, 48000, {{{kEarlySize, 1000}}}, Q::EarlyLength, 4, 355.01846 * 1000 * 48000 / 2.997e6, 2e-3},
    {0, 48000, {{{kEarlySize, 1000}}}, Q::EarlyLength, 5, 467.5593 * 1000 * 48000 / 2.997e6, 2e-3},
    {0, 48000, {{{kEarlySize, 1000}}}, Q::EarlyLength, 6, 615.77563 * 1000 * 48000 / 2.997e6, 2e-3},
    {0, 48000, {{{kEarlySize, 1000}}}, Q::EarlyLength, 7, 810.9765 * 1000 * 48000 / 2.997e6, 2e-3},
    {0, 48000, {{{kEarlySize, 1000}}}, Q::EarlyLength, 8, 143.81697 * 1000 * 48000 / 2.997e6, 2e-3},
    {0, 48000, {{{kEarlySize, 1000}}}, Q::EarlyLength, 9, 181.68245 * 1000 * 48000 / 2.997e6, 2e-3},
    {0, 48000, {{{kEarlySize, 1000}}}, Q::EarlyLength, 10, 229.51752 * 1000 * 48000 / 2.997e6, 2e-3},
    {0, 48000, {{{kEarlySize, 1000}}}, Q::EarlyLength, 11, 289.94702 * 1000 * 48000 / 2.997e6, 2e-3},
    {0, 48000, {{{kEarlySize, 1000}}}, Q::EarlyLength, 12, 366.287 * 1000 * 48000 / 2.997e6, 2e-3},
    {0, 48000, {{{kEarlySize, 1000}}}, Q::EarlyLength, 13, 462.72647 * 1000 * 48000 / 2.997e6, 2e-3},
    {0, 48000, {{{kEarlySize, 1000}}}, Q::EarlyLength, 14, 584.55743 * 1000 * 48000 / 2.997e6, 2e-3},
    {0, 48000, {{{kEarlySize, 1000}}}, Q::EarlyLength, 15, 738.46515 * 1000 * 48000 / 2.997e6, 2e-3},
    {4, 44100, {}, Q::EarlyLength, 0, 118.00702 * 30 * 22050 / 2.997e6, 1e-3},
    {4, 44100, {{{kEarlySize, 1}}}, Q::EarlyFloor, 0, 0.0, 0.0},
    {0, 48000, {}, Q::BassCoefficient, 0, 1.0 - std::exp(-6.2831855 * 1000 / 48000), 1e-7},
    {4, 48000, {}, Q::HighCoefficient, 0, 1.0 - std::exp(-6.2831855 * 8000 / 24000), 1e-6},

    // Filter designs and smoothers
    {0, 48000, {}, Q::ToneCoefficient, 0, -0.9967329, 2e-7},
    {2, 48000, {}, Q::ToneCoefficient, 0, -0.7561044, 1e-6},
    {4, 48000, {}, Q::ToneCoefficient, 0, -0.4117780, 1e-6},
    {9, 48000, {}, Q::ToneCoefficient, 0, -0.5642667, 1e-6},
    {10, 48000, {}, Q::ToneCoefficient, 0, -0.9489760, 1e-6},
    {11, 44100, {}, Q::ToneCoefficient, 0, -0.3759887, 1e-6},
    {0, 48000, {}, Q::MixCoefficient, 0, 1.0 - std::exp(-1.0 / 2400.0), 1e-9},
    {0, 48000, {}, Q::HighCutSmoothing, 0, 1.0 - std::exp(-1000.0 / (50.0 * 750.0)), 1e-8},
    {0, 48000, {{{kHighCut, 1000}}}, Q::HighCutGainAtCutoff, 0, 0.7071, 1e-3},
    {11, 48000, {}, Q::ShelfGainDC, 0, 1.0, 1e-6},
    {11, 48000, {}, Q::ShelfGainNyquist, 0, 0.01, 1e-6},

    // Modulators and rotators
    {0, 48000, {}, Q::LateModStepSize, 0, 2 * 0.5 / 750.0, 1e-9},
    {0, 48000, {}, Q::LateModPeriod, 0, 321.0, 0.0},
    {0, 48000, {}, Q::LateModStepSize, 31, 2 * (0.5 + 0.9641) / 750.0, 1e-9},
    {0, 48000, {}, Q::LateModPeriod, 31, 187.0, 0.0},
    {0, 48000, {}, Q::EarlyModStepSize, 1, 2 * 0.5311 / 750.0, 1e-9},
    {0, 48000, {}, Q::EarlyModPeriod, 1, 313.0, 0.0},
    {4, 44100, {}, Q::LateModPeriod, 0, 295.0, 0.0},
    {0, 48000, {}, Q::RotatorSine, 40, 0.70710678, 1e-7},
    {0, 48000, {}, Q::RotatorSine, 16, 0.70710678, 1e-7},
    {0, 48000, {}, Q::RotatorSine, 0, sine(0.05045), 1e-7},
    {0, 48000, {}, Q::RotatorSine, 1, -sine(0.05045), 1e-7},
    {0, 48000, {{{kDiffusion, 0}}}, Q::RotatorSine, 32, sine(0.0005), 1e-9},
    {4, 48000, {{{kLateCross, 0}}}, Q::RotatorSine, 16, sine(0.0005), 1e-9},
    {11, 48000, {{{kLateCross, 1}}}, Q::RotatorSine, 16, 1.0, 1e-7},
    {11, 48000, {{{kLateCross, 1}}}, Q::RotatorCosine, 16, -4.371139e-8, 1e-10},
    {11, 48000, {{{kLateCross, 0.5}}}, Q::RotatorSine, 31, sine(0.5005), 1e-7},

    // Delay lines
    {0, 48000, {}, Q::AllpassTable, 0, 0.99, 1e-7},
    {0, 48000, {}, Q::AllpassTable, 1, 0.99, 1e-7},
    {0, 48000, {}, Q::AllpassTable, 2, 0.9844961, 1e-7},
    {0, 48000, {}, Q::AllpassTable, 128, 1.0 / 3.0, 1e-7},
    {0, 48000, {}, Q::AllpassTable, 255, 0.0019569, 1e-7},
    {0, 48000, {}, Q::RingSize, 0, 65536.0, 0.0},
    {0, 48000, {}, Q::RingSize, 2, 16384.0, 0.0},
    {0, 48000, {}, Q::RingSize, 52, 16384.0, 0.0},
    {0, 48000, {}, Q::RingSize, 68, 32768.0, 0.0},
    {0, 44100, {}, Q::RingSize, 52, 16384.0, 0.0},
    {0, 96000, {}, Q::RingSize, 52, 32768.0, 0.0},
    {0, 96000, {}, Q::RingSize, 83, 32768.0, 0.0},

    // "Large Room"
    {0, 48000, {{{kLateSize, 0.5}}}, Q::SizeTotal, 0, 241920 * 0.55, 0.02},
    {0, 48000, {{{kLateSize, 0.5}}}, Q::LateLength, 0, 2728.53687 * 0.55 - 64, 2e-3},
    {0, 48000, {{{kLateSize, 0.5}}}, Q::LateLength, 31, 15989.8047 * 0.55 - 64, 2e-3},
    {0, 48000, {{{kLateSize, 0}}}, Q::LateLength, 0, 2728.53687 * 0.1 - 64, 1e-3},
    {0, 48000, {{{kLateSize, 0}}}, Q::LateLength, 31, 15989.8047 * 0.1 - 64, 1e-3},
    {0, 48000, {{{kLateSize, 0}}}, Q::LateFloor, 31, 1534.0, 0.0},
    {0, 48000, {{{kDecay, 2}, {kLateSize, 0.5}}}, Q::MidGain, 31, rt60(15989.8047 * 0.55 - 64, 2, 48000), 1e-6},
    {0, 48000, {{{kDecay, 2}, {kLateSize, 0.5}}}, Q::MidGain, 31, 0.534, 1e-3},
    {0, 48000, {{{kDecay, 2}, {kLateSize, 0.5}}}, Q::MidNorm, 0, std::sqrt(241920 * 0.55 / 96000), 1e-6},
    {0, 48000, {{{kBassMultiply, 1}, {kHighMultiply, 1}}}, Q::BassGain, 31, rt60(15989.8047 * 0.55 - 64, 2, 48000), 1e-6},
    {0, 48000, {{{kBassMultiply, 1}, {kHighMultiply, 1}}}, Q::HighRatio, 5, 1.0, 1e-6},
    {0, 48000, {{{kBassMultiply, 2}}}, Q::BassNorm, 0, std::sqrt(241920 * 0.55 / (4 * 48000.0)), 1e-6},
    {0, 48000, {}, Q::HighRatio, 0, rt60(2728.53687 * 0.55 - 64, 1, 48000) / rt60(2728.53687 * 0.55 - 64, 2, 48000), 1e-6},
    {0, 48000, {}, Q::SignLeft, 4, -0.25, 0.0},
    {0, 48000, {}, Q::SignLeft, 12, 0.25, 0.0},
    {0, 48000, {}, Q::OutputGain, 0, 0.25, 0.0},

    // "Medium Room": lengths 0-15 are the first segments F, 16-31 the delay segments S
    {1, 48000, {{{kLateSize, 0.5}}}, Q::SizeTotal, 0, 287697 * 0.55, 0.02},
    {1, 48000, {{{kLateSize, 0.5}}}, Q::LateLength, 0, 4547.5615 * 0.55, 2e-3},
    {1, 48000, {{{kLateSize, 0.5}}}, Q::LateLength, 16, 11327.157 * 0.55 - 64 - 4547.5615 * 0.55, 2e-3},
    {1, 48000, {{{kLateSize, 0.5}}}, Q::LateLength, 31, 26649.676 * 0.55 - 64 - 10699.156 * 0.55, 2e-3},
    {1, 48000, {{{kLateSize, 0.5}}}, Q::LateFloor, 16, 3664.0, 0.0},
    {1, 44100, {{{kLateSize, 0}}}, Q::LateLength, 0, 4547.5615 * 0.091875, 1e-3},
    {1, 44100, {{{kLateSize, 0}}}, Q::LateLength, 16, 11327.157 * 0.091875 - 64 - 4547.5615 * 0.091875, 1e-3},
    {1, 48000, {{{kHighMultiply, 1}}}, Q::HighRatio, 0, rt60(11327.157 * 0.55 - 64 - 4547.5615 * 0.55, 2, 48000), 1e-6},
    {1, 48000, {}, Q::BassGain, 0, rt60(11327.157 * 0.55 - 64, 2, 48000), 1e-6},
    {1, 48000, {}, Q::MidGain, 0, rt60(4547.5615 * 0.55, 2, 48000), 1e-6},
    {1, 48000, {}, Q::MidNorm, 0, std::sqrt(287697 * 0.55 / 96000), 1e-6},
    {1, 48000, {}, Q::SignLeft, 0, 0.3535, 1e-7},
    {1, 48000, {}, Q::SignLeft, 4, -0.3535, 1e-7},
    {1, 48000, {}, Q::SignLeft, 12, 0.3535, 1e-7},
    {1, 48000, {}, Q::SignRight, 1, -0.3535, 1e-7},
    {1, 48000, {}, Q::SignRight, 5, 0.3535, 1e-7},
    {1, 48000, {}, Q::SignRight, 14, 0.3535, 1e-7},
    {1, 48000, {}, Q::OutputGain, 0, 0.35355339, 1e-8},

    // "Bright Room"
    {2, 48000, {{{kLateSize, 0}}}, Q::LateLength, 0, 208.8537, 1e-3},
    {2, 48000, {{{kLateSize, 1}}}, Q::LateLength, 31, 15989.805 - 64, 2e-3},
    {2, 48000, {{{kLateSize, 1}}}, Q::LateFloor, 31, 15925.0, 0.0},
    {2, 48000, {{{kHighMultiply, 1}}}, Q::HighRatio, 3, 1.0, 1e-6},
    {2, 48000, {}, Q::BassGain, 0, rt60((2728.5369 + 4306.2676 + 6796.2944 + 10726.138) * 0.55 - 256, 2, 48000), 1e-6},
    {2, 48000, {}, Q::HighRatio, 0, rt60((2728.5369 + 4306.2676 + 6796.2944 + 10726.138) * 0.55 - 256, 1, 48000) / rt60((2728.5369 + 4306.2676 + 6796.2944 + 10726.138) * 0.55 - 256, 2, 48000), 1e-6},
    {2, 48000, {}, Q::MidGain, 24, rt60(10726.138 * 0.55 - 64, 2, 48000), 1e-6},
    {2, 48000, {}, Q::MidNorm, 0, std::sqrt(241920 * 0.55 / 96000), 1e-6},
    {2, 48000, {}, Q::SignLeft, 1, 1.0, 0.0},
    {2, 48000, {}, Q::SignLeft, 2, -1.0, 0.0},
    {2, 48000, {}, Q::SignRight, 3, -1.0, 0.0},
    {2, 48000, {}, Q::OutputGain, 0, 0.5, 0.0},

    // "Large Chamber"
    {3, 48000, {{{kLateSize, 0.5}}}, Q::SizeTotal, 0, 115200.0, 0.02},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::LateLength, 0, 1624.12903 * 0.8 - 64, 1e-3},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::LateLength, 31, 9517.74121 * 0.8 - 64, 2e-3},
    {3, 48000, {{{kDecay, 2}, {kLateSize, 0.5}}}, Q::MidNorm, 0, 1.0954452, 1e-6},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionL, 0, 172, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionL, 1, 510, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionL, 2, 833, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionL, 3, 1196, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionL, 4, 1641, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionL, 5, 1972, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionL, 6, 2419, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionL, 7, 2794, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionL, 8, 3180, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionL, 9, 3577, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionL, 10, 3894, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionL, 11, 4286, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionL, 12, 4688, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionL, 13, 5032, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionL, 14, 5437, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionR, 0, 376, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionR, 1, 673, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionR, 2, 1024, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionR, 3, 1368, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionR, 4, 1884, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionR, 5, 2207, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionR, 6, 2619, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionR, 7, 2948, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionR, 8, 3354, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionR, 9, 3776, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionR, 10, 4093, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionR, 11, 4495, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionR, 12, 4846, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionR, 13, 5239, 0.0},
    {3, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionR, 14, 5602, 0.0},
    {3, 48000, {{{kDecay, 2}, {kLateSize, 0.5}}}, Q::TapGainL, 0, -0.3466, 6e-5},
    {3, 48000, {{{kDecay, 2}, {kLateSize, 0.5}}}, Q::TapGainL, 1, 0.3399, 6e-5},
    {3, 48000, {{{kDecay, 2}, {kLateSize, 0.5}}}, Q::TapGainL, 2, 0.3269, 6e-5},
    {3, 48000, {{{kDecay, 2}, {kLateSize, 0.5}}}, Q::TapGainL, 3, -0.3023, 6e-5},
    {3, 48000, {{{kDecay, 2}, {kLateSize, 0.5}}}, Q::TapGainL, 4, 0.2585, 6e-5},
    {3, 48000, {{{kDecay, 2}, {kLateSize, 0.5}}}, Q::TapGainL, 5, -0.1890, 6e-5},
    {3, 48000, {{{kDecay, 2}, {kLateSize, 0.5}}}, Q::TapGainL, 6, 0.1010, 6e-5},
    {3, 48000, {{{kDecay, 2}, {kLateSize, 0.5}}}, Q::TapGainL, 7, 0.0289, 6e-5},
    {3, 48000, {{{kDecay, 2}, {kLateSize, 0.5}}}, Q::TapGainL, 13, 0.0, 0.0},
    {3, 48000, {{{kDecay, 2}, {kLateSize, 0.5}}}, Q::TapGainL, 14, 0.0, 0.0},
    {3, 48000, {{{kDecay, 2}, {kLateSize, 0.5}}}, Q::TapGainR, 0, 0.3466, 6e-5},
    {3, 48000, {{{kDecay, 2}, {kLateSize, 0.5}}}, Q::TapGainR, 1, -0.3399, 6e-5},
    {3, 44100, {{{kDecay, 2}, {kLateSize, 0.5}}}, Q::TapGainL, 1, 0.3399, 6e-5},
    {3, 48000, {{{kBassMultiply, 2}, {kHighMultiply, 1}}}, Q::TapGainL, 1, 0.3399, 6e-5},
    {3, 48000, {{{kLateSize, 0}}}, Q::LateLength, 0, 98.4129, 1e-3},
    {3, 48000, {{{kLateSize, 0}}}, Q::TapPositionL, 0, 21, 0.0},
    {3, 48000, {{{kLateSize, 1}}}, Q::LateLength, 31, 9517.74121 * 1.5 - 64, 2e-3},
    {3, 48000, {{{kLateSize, 1}}}, Q::TapPositionR, 14, 10504, 0.0},

    // "Dark Room"
    {4, 44100, {{{kLateSize, 0}}}, Q::LateLength, 0, 2728.5369 * 0.0459375 - 32, 1e-3},
    {4, 44100, {{{kLateSize, 0}}}, Q::LateLength, 0, 93.34, 5e-3},
    {4, 44100, {{{kLateSize, 0}}}, Q::LateLength, 8, 165.82, 5e-3},
    {4, 44100, {{{kLateSize, 0}}}, Q::LateFloor, 8, 165, 0.0},
    {4, 48000, {{{kDecay, 0.1}, {kBassMultiply, 2}}}, Q::BassGain, 0, 50.0, 0.0},
    {4, 48000, {{{kHighMultiply, 1}}}, Q::HighRatio, 0, 1.0, 1e-6},
    {4, 48000, {{{kDecay, 2}}}, Q::MidNorm, 0, 2 * std::sqrt(241920 * 0.275 / 48000), 1e-6},
    {4, 48000, {}, Q::MidGain, 8, rt60(4306.2676 * 0.275 - 32, 2, 24000), 1e-6},
    {4, 48000, {}, Q::SizeTotal, 0, 241920 * 0.275, 0.01},
    {4, 48000, {}, Q::OutputGain, 0, 0.5, 0.0},

    // "Dark Chamber"
    {5, 48000, {{{kLateSize, 0.5}}}, Q::InternalRate, 0, 24000.0, 0.0},
    {5, 48000, {{{kLateSize, 0.5}}}, Q::LateLength, 0, 1624.12903 * 0.8 - 32, 1e-3},
    {5, 48000, {{{kLateSize, 0.5}}}, Q::LateLength, 31, 9517.74121 * 0.8 - 32, 2e-3},
    {5, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionL, 0, 172, 0.0},
    {5, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionL, 14, 5437, 0.0},
    {5, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionR, 0, 376, 0.0},
    {5, 48000, {{{kLateSize, 0.5}}}, Q::TapPositionR, 14, 5602, 0.0},
    {5, 48000, {{{kDecay, 2}, {kLateSize, 0.5}}}, Q::MidNorm, 0, 1.5491934, 1e-6},
    {5, 48000, {{{kDecay, 2}, {kLateSize, 0.5}}}, Q::TapGainL, 1, 0.3399, 6e-5},
    {5, 48000, {{{kLateSize, 1}}}, Q::LateLength, 31, 9517.74121 * 1.5 - 32, 2e-3},
    {5, 48000, {{{kLateSize, 1}}}, Q::TapPositionR, 14, 10504, 0.0},
    {5, 96000, {{{kLateSize, 1}}}, Q::LateLength, 31, 9517.74121 * 3 - 32, 4e-3},

    // "Dark Space"
    {6, 48000, {{{kLateSize, 0.5}}}, Q::SizeTotal, 0, 241920 * 0.5225, 0.02},
    {6, 48000, {{{kLateSize, 0.5}}}, Q::LateLength, 0, 2728.5369 * 0.5225 - 32, 1e-3},
    {6, 48000, {{{kLateSize, 0.5}}}, Q::LateLength, 31, 15989.805 * 0.5225 - 32, 2e-3},
    {6, 48000, {{{kLateSize, 1}}}, Q::LateLength, 31, 15989.805 * 0.95 - 32, 2e-3},
    {6, 96000, {{{kLateSize, 1}}}, Q::LateLength, 31, 15989.805 * 1.9 - 32, 4e-3},
    {6, 44100, {{{kLateSize, 0}}}, Q::LateLength, 0, 206.1501, 1e-3},
    {6, 48000, {{{kHighMultiply, 1}}}, Q::HighRatio, 7, 1.0, 1e-6},
    {6, 48000, {}, Q::BassGain, 7, rt60(4067.5193 * 0.5225 - 32, 2, 24000), 1e-6},
    {6, 48000, {{{kBassMultiply, 2}}}, Q::BassNorm, 0, std::sqrt(241920 * 0.5225 / (4 * 24000.0)), 1e-6},
    {6, 48000, {}, Q::SignLeft, 8, -0.25, 0.0},
    {6, 48000, {}, Q::SignLeft, 15, 0.25, 0.0},

    // "Nostromo"
    {7, 48000, {{{kLateSize, 1}}}, Q::LateLength, 31, 15989.805 - 32, 2e-3},
    {7, 48000, {{{kLateSize, 1}}}, Q::LateLength, 15, 6419.4941 - 32, 1e-3},
    {7, 48000, {{{kLateSize, 0}}}, Q::LateLength, 0, 2728.5369 * 0.1 - 32, 1e-3},
    {7, 48000, {{{kDecay, 2}, {kLateSize, 1}}}, Q::MidNorm, 0, 2 * std::sqrt(241920.0 / 48000), 1e-6},

    // "Narcissus"
    {8, 48000, {{{kLateSize, 1}}}, Q::LateLength, 0, 2728.5369 * 0.5 - 32, 1e-3},
    {8, 48000, {{{kLateSize, 1}}}, Q::LateLength, 27, 12727.924 * 0.5 - 32, 1e-3},
    {8, 192000, {{{kLateSize, 1}}}, Q::LateLength, 27, 12727.924 * 2 - 32, 4e-3},
    {8, 48000, {{{kLateSize, 1}}}, Q::SizeTotal, 0, 69301.766 * 0.5, 5e-3},
    {8, 48000, {{{kDecay, 2}, {kLateSize, 1}}}, Q::MidNorm, 0, 4 * std::sqrt(69301.766 * 0.5 / 48000), 1e-6},
    {8, 48000, {{{kDecay, 0.1}, {kBassMultiply, 2}}}, Q::BassGain, 3, 50.0, 0.0},

    // "Sulaco"
    {9, 48000, {{{kLateSize, 0.5}}}, Q::LateLength, 0, 0.17065071 * 15989 * 0.5 - 32, 1e-3},
    {9, 48000, {{{kLateSize, 0.5}}}, Q::SizeTotal, 0, 60480.130, 0.02},
    {9, 48000, {{{kDecay, 2}, {kLateSize, 0.5}}}, Q::MidNorm, 0, 1.414 * std::sqrt(60480.130 / 48000), 1e-6},
    {9, 48000, {{{kLateSize, 1}}}, Q::LateLength, 15, 15989 * 0.95 - 32, 2e-3},
    {9, 96000, {{{kLateSize, 1}}}, Q::LateLength, 15, 15989 * 1.9 - 32, 4e-3},
    {9, 44100, {{{kLateSize, 0}}}, Q::LateLength, 0, 93.342041, 1e-4},
    {9, 44100, {{{kLateSize, 0}}}, Q::LateLength, 15, 702.49469, 1e-4},
    {9, 48000, {{{kHighMultiply, 1}}}, Q::HighRatio, 3, 1.0, 1e-6},
    {9, 48000, {}, Q::BassGain, 3, rt60(0.24304488 * 15989 * 0.5 - 32, 2, 24000), 1e-6},
    {9, 48000, {}, Q::OutputGain, 0, 0.35355339, 1e-8},

    // "LV-426"
    {10, 48000, {{{kLateSize, 0}}}, Q::LateLength, 0, 35.06022, 1e-4},
    {10, 48000, {{{kLateSize, 0}}}, Q::LateLength, 27, 767.35004, 1e-4},
    {10, 48000, {{{kLateSize, 1}}}, Q::LateLength, 27, 15987 * 0.95 - 32, 2e-3},
    {10, 48000, {{{kBassMultiply, 1}, {kHighMultiply, 1}}}, Q::BassGain, 0, 1.0, 1e-6},
    {10, 48000, {{{kBassMultiply, 1}, {kHighMultiply, 1}}}, Q::HighRatio, 3, 1.0, 1e-6},
    {10, 48000, {{{kBassMultiply, 2}, {kLateSize, 0}}}, Q::BassGain, 0, 1.0697672, 1e-5},
    {10, 48000, {{{kBassMultiply, 2}, {kLateSize, 0.5}}}, Q::BassGain, 0, 2.0, 0.0},

    // "Dense Room"
    {11, 44100, {{{kLateSize, 0.5}}}, Q::LateLength, 0, 1127.12781 * 0.5236875 - 32, 1e-3},
    {11, 44100, {{{kLateSize, 0.5}}}, Q::LateLength, 0, 558.27, 1e-2},
    {11, 44100, {{{kLateSize, 0.5}}}, Q::LateLength, 31, 15989.8047 * 0.5236875 - 32, 2e-3},
    {11, 44100, {{{kLateSize, 0.5}}}, Q::SizeTotal, 0, 182380 * 0.5236875, 0.02},
    {11, 48000, {{{kHighMultiply, 1}}}, Q::HighRatio, 31, 1.0, 1e-6},
    {11, 48000, {}, Q::SignLeft, 4, -0.25, 0.0},
};

// The engine's deliberate departures, where they show in a derived value: the crossover glide, and below
// 44.1 kHz the depths that shrink with the rate, the cut-offs kept below Nyquist and the late lengths held at
// their least working value (a section no shorter than its block, a plain delay no shorter than 0), with the
// gains and size totals formed from the held lengths.
inline const WorkedExample kDepartureExamples[] = {
    {0, 48000, {}, Q::CrossoverGlide, 0, 1.0 - std::exp(-1000.0 / (50.0 * 750.0)), 1e-8},
    {4, 44100, {}, Q::CrossoverGlide, 0, 1.0 - std::exp(-1000.0 / (50.0 * 44100.0 / 64.0)), 1e-8},

    {0, 22050, {{{kLateModDepth, 1}}}, Q::LateDepth, 0, 64.0, 1e-5},
    {4, 22050, {{{kLateModDepth, 1}}}, Q::LateDepth, 0, 32.0, 1e-5},
    {0, 8000, {{{kEarlyModDepth, 1}}}, Q::EarlyDepth, 0, 128.0 * 8000.0 / 44100.0, 1e-4},

    {4, 8000, {}, Q::ToneCoefficient, 0, tone(1800, 4000), 1e-6},
    {2, 8000, {}, Q::ToneCoefficient, 0, tone(2122, 8000), 1e-6},
    {0, 8000, {{{kHighCut, 8000}}}, Q::HighCutGain, 3600, 0.7071, 1e-3},
    {0, 8000, {{{kHighCut, 3000}}}, Q::HighCutGain, 3000, 0.7071, 1e-3},

    // "Large Room": plain lines held at 0, the gain of a held-at-0 line exactly 1
    {0, 8000, {{{kLateSize, 0}}}, Q::LateLength, 0, 0.0, 0.0},
    {0, 8000, {{{kLateSize, 0}}}, Q::LateLength, 5, 0.0, 0.0},
    {0, 8000, {{{kLateSize, 0}}}, Q::LateLength, 6, 3842.00757 / 60 - 64, 1e-4},
    {0, 8000, {{{kLateSize, 0}}}, Q::MidGain, 0, 1.0, 0.0},
    // "Medium Room": the section held at the block, the delay segment formed from the held section
    {1, 6000, {{{kLateSize, 0}}}, Q::LateLength, 0, 64.0, 0.0},
    {1, 6000, {{{kLateSize, 0}}}, Q::LateLength, 16, 11327.157 / 80 - 128, 1e-3},
    // "Bright Room": sections held at the block, the loop's bass gain over the held lengths
    {2, 8000, {{{kLateSize, 0}}}, Q::LateLength, 0, 64.0, 0.0},
    {2, 8000, {{{kLateSize, 0}}}, Q::LateLength, 18, 64.0, 0.0},
    {2, 8000, {{{kLateSize, 0}}}, Q::LateLength, 19, 8064.666 / 60 - 64, 1e-4},
    {2, 8000, {{{kLateSize, 0}}}, Q::LateLength, 24, 10726.138 / 60 - 64, 1e-4},
    {2, 8000, {{{kLateSize, 0}}}, Q::BassGain, 0, rt60(3 * 64 + 10726.138 / 60 - 64, 2, 8000), 1e-6},
    // the chambers: lines held at 0
    {3, 8000, {{{kLateSize, 0}}}, Q::LateLength, 0, 0.0, 0.0},
    {3, 8000, {{{kLateSize, 0}}}, Q::LateLength, 31, 9517.74121 / 60 - 64, 1e-4},
    {5, 8000, {{{kLateSize, 0}}}, Q::LateLength, 0, 0.0, 0.0},
    {5, 8000, {{{kLateSize, 0}}}, Q::LateLength, 31, 9517.74121 / 60 - 32, 1e-4},
    // the half-rate loops: the modulated section at the block, the fixed sections at two blocks
    {4, 8000, {{{kLateSize, 0}}}, Q::LateLength, 0, 32.0, 0.0},
    {4, 8000, {{{kLateSize, 0}}}, Q::LateLength, 7, 32.0, 0.0},
    {4, 8000, {{{kLateSize, 0}}}, Q::LateLength, 8, 64.0, 0.0},
    {4, 8000, {{{kLateSize, 0}}}, Q::LateLength, 23, 64.0, 0.0},
    {4, 8000, {{{kLateSize, 0}}}, Q::LateLength, 24, 10726.138 / 120 - 32, 1e-4},
    {4, 8000, {{{kLateSize, 0}}}, Q::LateFloor, 8, 64.0, 0.0},
    {4, 8000, {{{kLateSize, 0}}}, Q::LateFloor, 24, 57.0, 0.0},
    {4, 8000, {{{kLateSize, 0}}}, Q::HighRatio, 0, rt60(160 + 10726.138 / 120 - 32, 1, 4000) / rt60(160 + 10726.138 / 120 - 32, 2, 4000), 1e-6},
    {7, 8000, {{{kLateSize, 0}}}, Q::LateLength, 0, 32.0, 0.0},
    {7, 8000, {{{kLateSize, 0}}}, Q::LateLength, 8, 64.0, 0.0},
    {7, 8000, {{{kLateSize, 0}}}, Q::LateLength, 24, 10726.138 / 60 - 32, 1e-4},
    {8, 8000, {{{kLateSize, 0}}}, Q::LateLength, 0, 32.0, 0.0},
    {8, 8000, {{{kLateSize, 0}}}, Q::LateLength, 27, 12727.924 / 120 - 32, 1e-4},
    {8, 8000, {{{kLateSize, 0}}}, Q::SizeTotal, 0, 69301.766 / 120, 1e-3},
    // "Sulaco": lines held at 0, the size total the sum of the held lengths
    {9, 8000, {{{kLateSize, 0}}}, Q::LateLength, 0, 0.0, 0.0},
    {9, 8000, {{{kLateSize, 0}}}, Q::LateLength, 3, 0.38371, 1e-3},
    {9, 8000, {{{kLateSize, 0}}}, Q::LateLength, 15, 15989.0 / 120 - 32, 1e-4},
    {9, 8000, {{{kLateSize, 0}}}, Q::SizeTotal, 0, 523.4325, 1e-2},
    // "LV-426": sections held at the block, plain delays not; the size total over the held lengths
    {10, 8000, {{{kLateSize, 0}}}, Q::LateLength, 0, 32.0, 0.0},
    {10, 8000, {{{kLateSize, 0}}}, Q::LateLength, 23, 60.28648, 1e-3},
    {10, 8000, {{{kLateSize, 0}}}, Q::LateLength, 24, 69.15794, 1e-3},
    {10, 8000, {{{kLateSize, 0}}}, Q::SizeTotal, 0, 1174.169, 1e-2},
    {10, 8000, {{{kDecay, 2}, {kLateSize, 0}}}, Q::MidNorm, 0, 4 * std::sqrt(1174.169 / 8000), 1e-5},
    // "Dense Room": positive at 8 kHz as designed, held at 0 below about 7.2 kHz
    {11, 8000, {{{kLateSize, 0}}}, Q::LateLength, 0, 1127.12781 * 0.2 * 4000 * 1.9 / 48000 - 32, 1e-4},
    {11, 6000, {{{kLateSize, 0}}}, Q::LateLength, 0, 0.0, 0.0},
};
// clang-format on

} // namespace kestrune::examples
