// The engine's derived values at the worked settings of tests/reference/WorkedExamples.h: the same rows
// the reference is held to, read here from the engine's own members.

#include "ReverbEngine.h"

#include "WorkedExamples.h"

#include <gtest/gtest.h>

#include <iterator>
#include <memory>

using namespace kestrune;

namespace
{
using Q = examples::Quantity;

double readQuantity(const ReverbEngine& e, Q q, int item)
{
    switch (q)
    {
    case Q::DefaultNormalised:
        return e.getDefaultNormalised(item);
    case Q::ParameterValue:
        return e.getParameterValue(item);
    case Q::Mode:
        return e.modeIndex;
    case Q::InternalRate:
        return e.internalRate;
    case Q::BlockLength:
        return e.blockLength;
    case Q::SizeTotal:
        return e.sizeTotal;
    case Q::LateLength:
        return e.lateLengths[item];
    case Q::LateFloor:
        return static_cast<double>(e.lateFloors[item]);
    case Q::MidGain:
        return e.midGains[item];
    case Q::BassGain:
        return e.bassGains[item];
    case Q::HighRatio:
        return e.highRatios[item];
    case Q::MidNorm:
        return e.midNormalisation;
    case Q::BassNorm:
        return e.bassNormalisation;
    case Q::EarlyLength:
        return e.earlyLengths[item];
    case Q::EarlyFloor:
        return static_cast<double>(e.earlyFloors[item]);
    case Q::TapPositionL:
        return e.tapPositions[item];
    case Q::TapPositionR:
        return e.tapPositions[15 + item];
    case Q::TapGainL:
        return e.tapGains[item];
    case Q::TapGainR:
        return e.tapGains[15 + item];
    case Q::SignLeft:
        return e.signMatrix[0][item];
    case Q::SignRight:
        return e.signMatrix[1][item];
    case Q::OutputGain:
        return e.outputGain;
    case Q::PredelayLength:
        return e.predelayLength;
    case Q::LateDepth:
        return e.lateModDepth;
    case Q::EarlyDepth:
        return e.earlyModDepth;
    case Q::WetTarget:
        return e.wetTarget;
    case Q::DryTarget:
        return e.dryTarget;
    case Q::EarlyGain:
        return e.earlyGain;
    case Q::LateGain:
        return e.lateGain;
    case Q::EarlySendCos:
        return e.earlySendCosine;
    case Q::MixCoefficient:
        return e.mixSmoothingCoefficient;
    case Q::BassCoefficient:
        return e.bassCrossoverTarget;
    case Q::HighCoefficient:
        return e.highCrossoverTarget;
    case Q::HighCutSmoothing:
        return e.highCut[0].smoothingCoefficient;
    case Q::HighCutGainAtCutoff:
        return examples::stateSpaceGain(e.highCut[0].direct(), e.highCutFrequency, e.hostRate);
    case Q::HighCutGain:
        return examples::stateSpaceGain(e.highCut[0].direct(), item, e.hostRate);
    case Q::ToneCoefficient:
        return e.toneIn[0].c1;
    case Q::ShelfGainDC:
        return examples::shelfGain(e.highCutShelf[0].gain, e.highCutShelf[0].gainDC, e.highCutShelf[0].gainHF, 1.0);
    case Q::ShelfGainNyquist:
        return examples::shelfGain(e.highCutShelf[0].gain, e.highCutShelf[0].gainDC, e.highCutShelf[0].gainHF, -1.0);
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
        return ModulatedDelayLine::allpassTable()[item];
    case Q::RingSize:
        return static_cast<double>(e.lines[item].size());
    }
    return 0.0;
}

// Worked values of the description (first) and of the engine's deliberate departures from it.
struct Table
{
    const examples::WorkedExample* rows;
    size_t count;
};
const Table kTables[] = {{examples::kWorkedExamples, std::size(examples::kWorkedExamples)},
                         {examples::kDepartureExamples, std::size(examples::kDepartureExamples)}};
} // namespace

TEST(WorkedExampleTable, EngineGivesEveryValue)
{
    for (const Table& table : kTables)
        for (size_t r = 0; r < table.count; ++r)
        {
            const examples::WorkedExample& row = table.rows[r];
            auto engine = std::make_unique<ReverbEngine>();
            examples::prepare(*engine, row);
            const double actual = readQuantity(*engine, row.quantity, row.item);
            // The engine's rings may be shorter than the description's: only as long as their longest
            // reads (the comparisons with the reference pin every read).
            if (row.quantity == examples::Quantity::RingSize)
                EXPECT_LE(actual, row.expected) << "row " << r << ": mode " << row.mode << ", line " << row.item;
            else
                EXPECT_NEAR(actual, row.expected, row.tolerance)
                    << (&table == kTables ? "worked" : "departure") << " row " << r << ": mode " << row.mode
                    << ", " << row.hostRate << " Hz, quantity " << static_cast<int>(row.quantity) << ", item "
                    << row.item;
        }
}
