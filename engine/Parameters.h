#pragma once

#include <array>
#include <cstdint>

namespace kestrune
{

// The one parameter table: the engine's mapping, the host names and display suffixes, the state
// attribute names and the editor's controls all read it. Index = host parameter index.
struct ParameterInfo
{
    const char* name;   // host name and state attribute ("mix", "HighCut", ...)
    const char* label;  // descriptive label of the engine record (not displayed)
    const char* unit;   // descriptive unit of the engine record (not displayed)
    float minimum;
    float maximum;
    float defaultValue;
    uint32_t curve;     // 0 linear, 3 scaled (the mode selector)
    const char* suffix; // display suffix after the two-decimal value; "" for none
};

inline constexpr int kNumParameters = 20;

enum ParameterIndex : int
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
    kRTBassMultiply,
    kRTXover,
    kRTHighMultiply,
    kRTHighXover,
    kEarlySize,
    kEarlyCross,
    kEarlyModRate,
    kEarlyModDepth,
    kEarlySend,
    kDiffusion,
    kType
};

inline constexpr std::array<ParameterInfo, kNumParameters> kParameterTable{{
    {"mix", " Mix ", " ", 0.0f, 100.0f, 100.0f, 0, " % "},
    {"predelay", " PreDelay ", " ms ", 0.0f, 500.0f, 10.0f, 0, " ms "},
    {"decay", " Decay ", " s ", 0.1f, 100.0f, 2.0f, 0, " s "},
    {"HighCut", " HFCutoff ", " Hz ", 100.0f, 15000.0f, 8000.0f, 0, " Hz "},
    {"earlyLateMix", " EarlyLateMix ", " ", 0.0f, 100.0f, 50.0f, 0, " % "},
    {"lateSize", " Late Size ", " ", 0.0f, 1.0f, 0.5f, 0, ""},
    {"lateCross", " Late Cross ", " ", 0.0f, 1.0f, 1.0f, 0, ""},
    {"lateModRate", " ModRate ", " ", 0.05f, 5.0f, 0.5f, 0, " Hz "},
    {"lateModDepth", " ModDepth ", " ", 0.0f, 1.0f, 0.5f, 0, ""},
    {"RTBassMultiply", " RTBassMultiply ", " X ", 0.5f, 2.0f, 1.0f, 0, " X "},
    {"RTXover", " RTXover ", " Hz ", 100.0f, 10000.0f, 1000.0f, 0, " Hz "},
    {"RTHighMultiply", " RTHighMultiply ", " X ", 0.1f, 1.0f, 0.5f, 0, " X "},
    {"RTHighXover", " RTHighXover ", " Hz ", 100.0f, 15000.0f, 8000.0f, 0, " Hz "},
    {"earlySize", " Early Size ", " ms ", 1.0f, 1000.0f, 30.0f, 0, " ms "},
    {"earlyCross", " Early Cross ", " ", 0.0f, 1.0f, 0.1f, 0, ""},
    {"earlyModRate", " ModRate ", " ", 0.05f, 5.0f, 0.5f, 0, " Hz "},
    {"earlyModDepth", " ModDepth ", " ", 0.0f, 1.0f, 0.0f, 0, ""},
    {"earlySend", " Early Send ", " ", 0.0f, 1.0f, 0.0f, 0, ""},
    {"diffusion", " Diffusion ", " ", 0.0f, 1.0f, 1.0f, 0, ""},
    {"type", " Type ", " ", 0.0f, 12.0f, 1.0f, 3, ""},
}};
static_assert(kParameterTable.size() == kNumParameters);

inline constexpr int kNumModes = 12;

enum class ReverbMode : uint32_t
{
    LargeRoom = 0,
    MediumRoom,
    BrightRoom,
    LargeChamber,
    DarkRoom,
    DarkChamber,
    DarkSpace,
    Nostromo,
    Narcissus,
    Sulaco,
    LV426,
    DenseRoom
};

inline constexpr std::array<const char*, kNumModes> kModeNames{
    "Large Room", "Medium Room", "Bright Room", "Large Chamber", "Dark Room", "Dark Chamber",
    "Dark Space", "Nostromo",    "Narcissus",   "Sulaco",        "LV-426",    "Dense Room"};
static_assert(kModeNames.size() == kNumModes);

// Modes 4 to 11 run at half the host rate.
inline constexpr bool isHalfRateMode(uint32_t mode) { return mode >= 4 && mode <= 11; }

// max(0, floor(type value) - 1); 12 or more (and NaN) select mode 0, as the mode switch does.
uint32_t modeFromTypeValue(float typeValue);

// The real value of a normalised one: linear over the range, or for curve 3 (the mode selector)
// (maximum - minimum) x normalised.
inline float mapNormalised(float minimum, float maximum, uint32_t curve, float normalised)
{
    return curve == 3 ? (maximum - minimum) * normalised : minimum + (maximum - minimum) * normalised;
}

// One parameter record of the engine: range, default and the curve from normalised to real units.
struct EngineParameter
{
    float minimum = 0.0f;
    float maximum = 1.0f;
    float defaultValue = 0.0f;
    float value = -10000.0f;    // never set
    float normalised = -1.0f;   // never set
    uint32_t curve = 0;
    const char* label = "";
    const char* unit = "";

    void valueFromNormalised();
    float defaultNormalised() const { return (defaultValue - minimum) / (maximum - minimum); }
};

} // namespace kestrune
