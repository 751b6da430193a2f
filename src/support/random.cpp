#include "support/random.h"

#include <cmath>

#include "support/arith.h"
#include "support/globals.h"

namespace {

// Constant-initialised, so no start-up order can see it unset.
int32_t seedCounter = 42;

constexpr double wideEnd = 4294967295.0;

}  // namespace

void setRandomSeedCounter(int32_t value)
{
    seedCounter = value;
}

int32_t getRandomSeedCounter()
{
    return seedCounter;
}

RandomGenerator::RandomGenerator(uint32_t seed) : seed(seed)
{
    engine.seed(seed);
}

RandomGenerator* RandomGenerator::create()
{
    const int32_t value = base::addWrap(seedCounter, base::mulWrap(processRank, processCount));
    auto* generator = new RandomGenerator(static_cast<uint32_t>(value));
    seedCounter = base::addWrap(seedCounter, 1);
    return generator;
}

void RandomGenerator::create(RandomGenerator** field)
{
    *field = create();
}

void RandomGenerator::destroy(RandomGenerator* generator)
{
    delete generator;
}

void RandomGenerator::destroy(RandomGenerator** field)
{
    delete *field;
    *field = nullptr;
}

double RandomGenerator::uniform01()
{
    return unit(engine);
}

double RandomGenerator::exponential(double rate)
{
    return -std::log(1.0 - unit(engine)) / rate;
}

double RandomGenerator::uniform(double a, double b)
{
    return a + (b - a) * wide(engine) / wideEnd;
}

uint32_t RandomGenerator::randomIndex(uint32_t n)
{
    const uint64_t d = fullRange(engine);
    return static_cast<uint32_t>((d * (static_cast<uint64_t>(n) + 1)) >> 32);
}

uint32_t RandomGenerator::uniformInt(uint32_t a, uint32_t b)
{
    const uint64_t d = fullRange(engine);
    const uint64_t width = static_cast<uint64_t>(b - a) + 1;
    return a + static_cast<uint32_t>((d * width) >> 32);
}

double RandomGenerator::uniformScaled(double x)
{
    return x * wide(engine) / wideEnd;
}
