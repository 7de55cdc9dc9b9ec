// Reads the quantities of the worked-example table from the reference engine.
#pragma once

#include "Engine.h"
#include "WorkedExamples.h"

namespace kestrune::reference
{

using examples::Quantity;

// Reads one quantity from the reference engine.
inline double readQuantity(const Engine& e, Quantity q, int item)
{
    using Q = Quantity;
    switch (q)
    {
    case Q::DefaultNormalised:
        return Engine::defaultNormalised(item);
    case Q::ParameterValue:
        return e.parameterValue(item);
    case Q::Mode:
        return e.mode;
    case Q::InternalRate:
        return e.internalRate;
    case Q::BlockLength:
        return e.blockLength;
    case Q::SizeTotal:
        return e.sizeTotal;
    case Q::LateLength:
        return e.lateLength[item];
    case Q::LateFloor:
        return static_cast<double>(e.lateFloor[item]);
    case Q::MidGain:
        return e.midGain[item];
    case Q::BassGain:
        return e.bassGain[item];
    case Q::HighRatio:
        return e.highRatio[item];
    case Q::MidNorm:
        return e.midNorm;
    case Q::BassNorm:
        return e.bassNorm;
    case Q::EarlyLength:
        return e.earlyLength[item];
    case Q::EarlyFloor:
        return static_cast<double>(e.earlyFloor[item]);
    case Q::TapPositionL:
        return e.tapPositionL[item];
    case Q::TapPositionR:
        return e.tapPositionR[item];
    case Q::TapGainL:
        return e.tapGainL[item];
    case Q::TapGainR:
        return e.tapGainR[item];
    case Q::SignLeft:
        return e.signs[0][item];
    case Q::SignRight:
        return e.signs[1][item];
    case Q::OutputGain:
        return e.outputGain;
    case Q::PredelayLength:
        return e.predelay;
    case Q::LateDepth:
        return e.lateDepth;
    case Q::EarlyDepth:
        return e.earlyDepth;
    case Q::WetTarget:
        return e.wetTarget;
    case Q::DryTarget:
        return e.dryTarget;
    case Q::EarlyGain:
        return e.earlyGain;
    case Q::LateGain:
        return e.lateGain;
    case Q::EarlySendCos:
        return e.earlySendCos;
    case Q::MixCoefficient:
        return e.mixCoefficient;
    case Q::BassCoefficient:
        return e.bassTarget;
    case Q::HighCoefficient:
        return e.highTarget;
    case Q::HighCutSmoothing:
        return e.highCut[0].smoothing;
    case Q::HighCutGainAtCutoff:
        return examples::stateSpaceGain(e.highCut[0].coefficients(e.highCut[0].target), e.highCutFrequency, e.hostRate);
    case Q::HighCutGain:
        return examples::stateSpaceGain(e.highCut[0].coefficients(e.highCut[0].target), item, e.hostRate);
    case Q::ToneCoefficient:
        return e.toneIn[0].c1;
    case Q::ShelfGainDC:
        return examples::shelfGain(e.shelf[0].G, e.shelf[0].gainDC, e.shelf[0].gainHF, 1.0);
    case Q::ShelfGainNyquist:
        return examples::shelfGain(e.shelf[0].G, e.shelf[0].gainDC, e.shelf[0].gainHF, -1.0);
    case Q::CrossoverGlide:
        return e.crossoverGlide;
    case Q::LateModStepSize:
        return e.lateModulators[item].stepSize;
    case Q::LateModPeriod:
        return e.lateModulators[item].period;
    case Q::EarlyModStepSize:
        return e.earlyModulators[item].stepSize;
    case Q::EarlyModPeriod:
        return e.earlyModulators[item].period;
    case Q::RotatorSine:
        return e.rotators[item].sine;
    case Q::RotatorCosine:
        return e.rotators[item].cosine;
    case Q::AllpassTable:
        return allpassTable()[item];
    case Q::RingSize:
        return static_cast<double>(e.ringSize(item));
    }
    return 0.0;
}

} // namespace kestrune::reference
