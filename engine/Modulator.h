#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>

namespace kestrune
{

// Slow triangle stepped once per block whose direction is reversed at random moments.
struct Modulator
{
    enum class Draw
    {
        Rand,     // the process-wide rand(): about one reversal in two draws
        Generator // the modulator's own sequence: about one in four, the same every run
    };
    enum class Shape
    {
        Bouncing, // output = phase, turning at +-1
        Folded    // phase wraps in 0..4, output |phase - 2| - 1
    };

    float phase = 0.0f;
    float stepSize = 0.001f;
    float step = 0.001f;
    int32_t period = 20869;    // blocks between draws
    int32_t countdown = 20869; // the first draw comes only after this many steps
    uint32_t generator = 0;

    Modulator()
    {
        std::srand(static_cast<unsigned>(std::time(nullptr)));
        generator = 1235u;
        advanceGenerator();
    }

    void setRate(float rate, float blockRate)
    {
        stepSize = 2.0f * rate / blockRate;
        step = step >= 0.0f ? stepSize : -stepSize;
    }

    void setRandomPeriod(float drawRate, float blockRate)
    {
        period = static_cast<int32_t>(std::floor(blockRate / drawRate));
    }

    // One block step; returns the output of the given shape.
    float advance(Draw draw, Shape shape)
    {
        if (countdown < 1)
        {
            if (drawSaysReverse(draw))
                step = -step;
            countdown = period;
        }
        phase += step;
        if (shape == Shape::Bouncing)
        {
            if (phase >= 1.0f)
                step = -stepSize;
            if (phase <= -1.0f)
                step = stepSize;
        }
        else
        {
            if (phase >= 4.0f)
                phase -= 4.0f;
            if (phase <= 0.0f)
                phase += 4.0f;
        }
        countdown -= 1;
        return output(shape);
    }

    float output(Shape shape) const { return shape == Shape::Bouncing ? phase : std::fabs(phase - 2.0f) - 1.0f; }

private:
    void advanceGenerator() { generator = generator * 214013u + 2531011u; }

    bool drawSaysReverse(Draw draw)
    {
        if (draw == Draw::Rand)
            return static_cast<float>(std::rand()) * 4.656613e-10f - 0.5f > 0.0f;
        advanceGenerator();
        return static_cast<float>(static_cast<int32_t>(generator)) * 4.656613e-10f - 0.5f > 0.0f;
    }
};

} // namespace kestrune
