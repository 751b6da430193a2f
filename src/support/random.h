#pragma once

#include <cstdint>

#include <boost/random/mersenne_twister.hpp>
#include <boost/random/uniform_int_distribution.hpp>
#include <boost/random/uniform_real_distribution.hpp>

// Sets the counter from which every new random generator takes its seed.
void setRandomSeedCounter(int32_t value);
// The seed the next generator will get before the process rank is added in.
int32_t getRandomSeedCounter();

// The random numbers of one component (the byte-code machine, a simulation stage): a Mersenne
// twister with its own uniform distributions. Generators are seeded from a process-wide counter,
// so the generators of one process get different, reproducible seeds, and the processes of a
// distributed run (through their rank) different ones again.
class RandomGenerator
{
public:
    // A new generator seeded with counter + rank x processes (32-bit wrap-around); the counter
    // then advances by one.
    static RandomGenerator* create();
    // The same, stored into the owner's field.
    static void create(RandomGenerator** field);
    // Frees a generator (null is fine).
    static void destroy(RandomGenerator* generator);
    // Frees the owner's generator and clears the field.
    static void destroy(RandomGenerator** field);

    RandomGenerator(const RandomGenerator&) = delete;
    RandomGenerator& operator=(const RandomGenerator&) = delete;

    // The seed the engine was given.
    uint32_t getSeed() const { return seed; }

    // u in [0, 1).
    double uniform01();
    // -ln(1 - u) / rate, an exponentially distributed delay.
    double exponential(double rate);
    // a + (b - a) w / 4294967295 for w in [0, 4294967295): a value in [a, b).
    double uniform(double a, double b);
    // An index in [0, n]: floor(d (n + 1) / 2^32) for one engine output d.
    uint32_t randomIndex(uint32_t n);
    // a + floor(d (b - a + 1) / 2^32) for one engine output d.
    uint32_t uniformInt(uint32_t a, uint32_t b);
    // x w / 4294967295 with w as for uniform.
    double uniformScaled(double x);

private:
    explicit RandomGenerator(uint32_t seed);

    uint32_t seed;
    boost::random::mt19937 engine;
    boost::random::uniform_int_distribution<uint32_t> fullRange{0, 0xffffffffu};
    boost::random::uniform_real_distribution<double> unit{0.0, 1.0};
    boost::random::uniform_real_distribution<double> wide{0.0, 4294967295.0};
};
