#include "ReverbEngine.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <xmmintrin.h>
#define KESTRUNE_SSE 1
#endif

namespace kestrune
{

namespace
{
// Early lengths per unit of earlySize × rate / 2.997e6: E[0..7] left, E[8..15] right.
constexpr float kEarlyRatios[16] = {118.00702f, 155.41524f, 204.68187f, 269.56604f, 355.01846f, 467.5593f,
                                    615.77563f, 810.9765f,  143.81697f, 181.68245f, 229.51752f, 289.94702f,
                                    366.287f,   462.72647f, 584.55743f, 738.46515f};
} // namespace

float ReverbEngine::decayGain(float length, float seconds, float rate)
{
    const float exponent = -6.9077554f * length / (seconds * rate);
    return static_cast<float>(std::exp(static_cast<double>(exponent)));
}

void ReverbEngine::computeMidGains(float normalisationFactor)
{
    for (int n = 0; n < 32; ++n)
        midGains[n] = decayGain(lateLengths[n], decay, internalRate);
    midNormalisation = normalisationFactor * std::sqrt(sizeTotal / (decay * internalRate));
}

void ReverbEngine::computeBassGains(float normalisationFactor)
{
    for (int n = 0; n < 32; ++n)
        bassGains[n] = decayGain(lateLengths[n], bassDecay, internalRate);
    bassNormalisation = normalisationFactor * std::sqrt(sizeTotal / (bassDecay * internalRate));
}

void ReverbEngine::computeHighRatios()
{
    for (int n = 0; n < 32; ++n)
        highRatios[n] =
            static_cast<float>(static_cast<double>(decayGain(lateLengths[n], highDecay, internalRate)) /
                               static_cast<double>(midGains[n]));
}

void ReverbEngine::setEarlySizeShared()
{
    const float e = earlySize * internalRate / 2.997e6f;
    for (int k = 0; k < 16; ++k)
    {
        earlyLengths[k] = kEarlyRatios[k] * e;
        earlyFloors[k] = static_cast<int64_t>(std::floor(earlyLengths[k]));
    }
}

void ReverbEngine::runSetUp(const ModeSetUp& setUp)
{
    sizeConstant = setUp.sizeConstant;
    lineCount = setUp.lineCount;
    outputGain = setUp.outputGain;
    reset();
    const bool halfRate = isHalfRateMode(modeIndex);
    internalRate = halfRate ? hostRate * 0.5f : hostRate;
    blockLength = halfRate ? 32.0f : 64.0f;

    toneCutoff = setUp.toneCutoff;
    float tone[3];
    designFirstOrderTone(tone, toneCutoff, internalRate);
    for (int ch = 0; ch < 2; ++ch)
    {
        // The allpass (a + z^-1) / (1 + a z^-1), split around the network.
        toneIn[ch].setCoefficients(0.0f, tone[0], 1.0f);
        toneOut[ch].setCoefficients(tone[0], 1.0f, 0.0f);
    }

    const ModeRoutines& mode = routines();
    (this->*mode.setLateSize)(lateSize);
    (this->*mode.setEarlySize)();
    (this->*mode.updateDecayMid)();
    (this->*mode.updateDecayBass)();
    (this->*mode.updateDecayHigh)();

    for (int k : {kRTXover, kRTHighXover, kEarlyModRate, kEarlyModDepth, kLateModRate, kLateModDepth,
                  kHighCut, kPredelay, kLateCross})
        applyParameter(k);

    if (setUp.signTable != nullptr)
        for (int i = 0; i < 16; ++i)
        {
            signMatrix[0][i] = setUp.signTable[i];
            signMatrix[1][i] = setUp.signTable[i];
        }
}

void ReverbEngine::threeBandDecay(int first, int count, int n)
{
    const float cb = bassCrossoverCoefficient, keepB = 1.0f - cb;
    const float ch = highCrossoverCoefficient, keepH = 1.0f - ch;
    int done = 0;
#ifdef KESTRUNE_SSE
    // Four lines side by side in one vector, four samples at a time through a 4 x 4 transpose: the
    // lines' recursions run in parallel. Every lane does the scalar path's operations in its order.
    if (n % 4 == 0)
    {
        constexpr int kMaxGroups = 8;
        const int groups = std::min(count / 4, kMaxGroups);
        __m128 sb[kMaxGroups], sh[kMaxGroups];
        for (int g = 0; g < groups; ++g)
        {
            const int l = first + 4 * g;
            sb[g] = _mm_setr_ps(bassCrossover[l].state, bassCrossover[l + 1].state,
                                bassCrossover[l + 2].state, bassCrossover[l + 3].state);
            sh[g] = _mm_setr_ps(highCrossover[l].state, highCrossover[l + 1].state,
                                highCrossover[l + 2].state, highCrossover[l + 3].state);
        }
        const __m128 vcb = _mm_set1_ps(cb), vkeepB = _mm_set1_ps(keepB);
        const __m128 vch = _mm_set1_ps(ch), vkeepH = _mm_set1_ps(keepH);
        for (int j = 0; j < n; j += 4)
            for (int g = 0; g < groups; ++g)
            {
                const int l = first + 4 * g;
                const __m128 mid = _mm_loadu_ps(midGains + l);
                const __m128 bass = _mm_loadu_ps(bassGains + l);
                const __m128 ratio = _mm_loadu_ps(highRatios + l);
                __m128 t0 = _mm_loadu_ps(lineBuffer[l] + j), t1 = _mm_loadu_ps(lineBuffer[l + 1] + j);
                __m128 t2 = _mm_loadu_ps(lineBuffer[l + 2] + j), t3 = _mm_loadu_ps(lineBuffer[l + 3] + j);
                _MM_TRANSPOSE4_PS(t0, t1, t2, t3); // t_k: sample j + k of the four lines
                __m128 b = sb[g], h = sh[g];
                for (__m128* t : {&t0, &t1, &t2, &t3})
                {
                    const __m128 in = *t;
                    b = _mm_add_ps(_mm_mul_ps(b, vkeepB), _mm_mul_ps(vcb, in));
                    const __m128 y = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(in, b), mid), _mm_mul_ps(b, bass));
                    h = _mm_add_ps(_mm_mul_ps(h, vkeepH), _mm_mul_ps(vch, y));
                    *t = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(y, h), ratio), h);
                }
                sb[g] = b;
                sh[g] = h;
                _MM_TRANSPOSE4_PS(t0, t1, t2, t3);
                _mm_storeu_ps(lineBuffer[l] + j, t0);
                _mm_storeu_ps(lineBuffer[l + 1] + j, t1);
                _mm_storeu_ps(lineBuffer[l + 2] + j, t2);
                _mm_storeu_ps(lineBuffer[l + 3] + j, t3);
            }
        for (int g = 0; g < groups; ++g)
        {
            alignas(16) float b[4], h[4];
            _mm_store_ps(b, sb[g]);
            _mm_store_ps(h, sh[g]);
            for (int i = 0; i < 4; ++i)
            {
                bassCrossover[first + 4 * g + i].state = b[i];
                highCrossover[first + 4 * g + i].state = h[i];
            }
        }
        done = 4 * groups;
    }
#endif
    for (int l = first + done; l < first + count; ++l)
    {
        // The same operations, in the same order, as OnePole::process over the block.
        float b = bassCrossover[l].state, h = highCrossover[l].state;
        const float mid = midGains[l], bass = bassGains[l], ratio = highRatios[l];
        float* x = lineBuffer[l];
        for (int j = 0; j < n; ++j)
        {
            const float in = x[j];
            b = b * keepB + cb * in;
            const float y = (in - b) * mid + b * bass;
            h = h * keepH + ch * y;
            x[j] = (y - h) * ratio + h;
        }
        bassCrossover[l].state = b;
        highCrossover[l].state = h;
    }
}

void ReverbEngine::processFrame(const float* const* in, float* const* out, int numSamples,
                                const FrameConfig& config)
{
    if (numSamples < 1)
        return;
    const float c = mixSmoothingCoefficient;
    const float* inL = in[0];
    const float* inR = in[1];
    float* outL = out[0];
    float* outR = out[1];
    int p = framePosition;
    for (int i = 0; i < numSamples; ++i)
    {
        const float wet = wetSmoother.smooth(wetTarget, c);
        const float dry = drySmoother.smooth(dryTarget, c);
        // Both inputs are read before the outputs are written: in and out may be the same arrays.
        const float l = inL[i];
        const float r = inR[i];
        outL[i] = l * dry + frame[0][p] * wet;
        outR[i] = r * dry + frame[1][p] * wet;
        // A NaN or infinity would stay in the feedback network for good: the wet path hears silence.
        frame[0][p] = std::isfinite(l) ? l : 0.0f;
        frame[1][p] = std::isfinite(r) ? r : 0.0f;
        if (++p == kFrame)
        {
            p = 0;
            framePosition = 0;
            runFrame(config);
        }
    }
    framePosition = p;
}

void ReverbEngine::runFrame(const FrameConfig& config)
{
    const int B = static_cast<int>(blockLength);
    const bool halfRate = B != kFrame;
    const float rampFactor = 1.0f / blockLength;

    // 1. Early modulators: folded triangle, own generator.
    const float De = config.earlyDepthFactor * earlyModDepth;
    float u[2], v[2];
    for (int e = 0; e < 2; ++e)
    {
        const float t = earlyModulators[e].advance(Modulator::Draw::Generator, Modulator::Shape::Folded);
        u[e] = (t + 1.0f) * De;
        v[e] = (1.0f - t) * De;
    }

    // 2-4. Frame copy with the denormal offset, decimation, tone input section.
    for (int ch = 0; ch < 2; ++ch)
    {
        if (!halfRate)
        {
            for (int j = 0; j < kFrame; j += 2)
            {
                copy[ch][j] = frame[ch][j] + 1e-20f;
                copy[ch][j + 1] = frame[ch][j + 1];
            }
            toneIn[ch].process(copy[ch], kFrame);
        }
        else
        {
            const float delta = denormal[ch].value;
            for (int j = 0; j < kFrame; ++j)
                copy[ch][j] = frame[ch][j] + delta;
            denormal[ch].value = -delta;
            decimators[ch].decimate(copy[ch], scratch[ch], B);
            vec::copy(scratch[ch], copy[ch], B);
            toneIn[ch].process(copy[ch], B);
        }
    }

    // 5. Clear the outputs of the early and late sections.
    for (int ch = 0; ch < 2; ++ch)
    {
        vec::clear(early[ch], kFrame);
        vec::clear(late[ch], kFrame);
    }

    // 6-9. Predelay: write, four ramped taps, 45-degree mix of the taps, late input.
    const float P = predelayLength;
    lines[0].write(copy[0], B);
    lines[1].write(copy[1], B);
    constexpr auto kAllpass = ModulatedDelayLine::Interpolation::FirstOrderAllpass;
    lines[0].readRamped(branchA[0], B, 0, P + u[0], rampFactor, kAllpass);
    lines[0].readRamped(branchB[0], B, 1, P + earlyLengths[7] + v[0], rampFactor, kAllpass);
    lines[1].readRamped(branchA[1], B, 0, P + u[1], rampFactor, kAllpass);
    lines[1].readRamped(branchB[1], B, 1, P + earlyLengths[15] + v[1], rampFactor, kAllpass);
    rotators[46].rotate(branchA[0], branchB[0], B);
    rotators[47].rotate(branchA[1], branchB[1], B);
    for (int ch = 0; ch < 2; ++ch)
    {
        lines[ch].readInteger(copy[ch], B, P);
        vec::scale(copy[ch], earlySendCosine, copy[ch], B);
    }

    // 10. Seven early diffusion stages, then the cross between channels.
    for (int s = 0; s < 7; ++s)
    {
        for (int ch = 0; ch < 2; ++ch)
        {
            ModulatedDelayLine& line = lines[kFirstEarlyLine + 8 * ch + s];
            line.write(branchA[ch], B);
            line.readInteger(branchA[ch], B, earlyFloors[s + 8 * ch]);
            rotators[32 + ch + 2 * s].rotate(branchA[ch], branchB[ch], B);
        }
        rotators[s].rotate(branchA[0], branchA[1], B);
    }

    // 11-12. Early output and the early-send blend into the late inputs.
    for (int ch = 0; ch < 2; ++ch)
    {
        vec::scale(branchB[ch], earlyGain, early[ch], B);
        vec::scaleAdd(branchA[ch], earlySendSine, copy[ch], branchA[ch], B);
        vec::scaleAdd(branchB[ch], earlySendSine, copy[ch], branchB[ch], B);
    }

    // 13. The mode's late network.
    if (config.lateNetwork != nullptr)
        (this->*config.lateNetwork)();

    // 14-15. Late-output normalisation and the early/late mix.
    for (int ch = 0; ch < 2; ++ch)
    {
        switch (config.normalisation)
        {
        case FrameConfig::Normalisation::TwoBand:
        {
            float lo[kFrame];
            auxiliary[ch].process(late[ch], lo, B, bassCrossoverCoefficient);
            for (int j = 0; j < B; ++j)
                late[ch][j] = (late[ch][j] - lo[j]) * midNormalisation + lo[j] * bassNormalisation;
            break;
        }
        case FrameConfig::Normalisation::Single:
            vec::scale(late[ch], midNormalisation, late[ch], B);
            break;
        case FrameConfig::Normalisation::None:
            break;
        }
        vec::scaleAdd(late[ch], lateGain, early[ch], frame[ch], B);
    }

    // 16. Output filters; the half-rate modes return to the host rate first.
    for (int ch = 0; ch < 2; ++ch)
    {
        if (halfRate)
        {
            toneOut[ch].process(frame[ch], B);
            upsample(interpolators[ch], frame[ch], frame[ch], kFrame, static_cast<uint32_t>(B));
        }
        switch (config.highCut)
        {
        case FrameConfig::HighCut::Direct:
            highCut[ch].processDirect(frame[ch], kFrame);
            break;
        case FrameConfig::HighCut::Smoothed:
            highCut[ch].processSmoothed(frame[ch], kFrame);
            break;
        case FrameConfig::HighCut::Shelf:
            highCutShelf[ch].process(frame[ch], kFrame);
            break;
        }
        if (!halfRate)
            toneOut[ch].process(frame[ch], kFrame);
    }

    // 17. Ring advance of every line the frame and the network wrote.
    for (int i = 0; i < 2 + 16; ++i)
        lines[i].advance(B);
    for (int n = 0; n < config.lateLineCount; ++n)
        lines[kFirstLateLine + n].advance(B);
}

} // namespace kestrune
