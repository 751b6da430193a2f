#include "smc/window_decorator.h"

bool CSDecorator::constrain(const dbm::clock_constraint_t* constraints, size_t n)
{
    for (size_t k = 0; k < n; ++k) {
        const dbm::clock_constraint_t& c = constraints[k];
        if (!satisfies(c.i, c.j, dbm::isStrict(c.bound), static_cast<double>(dbm::boundValue(c.bound)))) {
            return false;
        }
    }
    return true;
}

bool CSDecorator::satisfies(uint32_t i, uint32_t j, bool strict, double bound)
{
    if (j == 0) {
        return upperBound(i, strict, bound);
    }
    if (i == 0) {
        return lowerBound(j, strict, bound);
    }
    return difference(i, j, strict, bound);
}

// x_i <= c (or < c).
bool CSDecorator::upperBound(uint32_t i, bool strict, double c)
{
    const double v = concrete->getClocks().values[i];
    const double r = rates[i];
    if (r >= 0) {
        if (strict ? v >= c : v > c + tolerance) {
            return false;
        }
        if (r == 0) {
            return v <= c;
        }
        if (!strict && v + tolerance >= c) {
            // At the limit now: the clock may not advance at all.
            hit = true;
            return true;
        }
    }
    double d = (c - v) / r;
    if (d < -tolerance) {
        return r <= 0;
    }
    if (d < 0) {
        hit = true;
        d = 0;
    }
    if (r > 0) {
        // Holds now, and until d.
        if (d > upper) {
            return true;
        }
        upper = strict ? d - strictMargin : d;
        return upper >= 0;
    }
    // A clock running backwards comes down to the limit after d.
    if (d < lower) {
        return false;
    }
    lower = strict ? d + strictMargin : d;
    return false;
}

// x_j >= -c (or > -c): the constraint 0 - x_j <= c.
bool CSDecorator::lowerBound(uint32_t j, bool strict, double c)
{
    const double v = concrete->getClocks().values[j];
    const double r = rates[j];
    if (r <= 0) {
        if (strict ? v <= -c : v < -c - tolerance) {
            return false;
        }
        if (r == 0) {
            return c + v >= 0;
        }
        if (!strict && v - tolerance <= -c) {
            hit = true;
            return true;
        }
    }
    const double e = (c + v) / r;
    if (e > tolerance) {
        return true;
    }
    double t;
    if (e > 0) {
        hit = true;
        t = 0;
    } else {
        t = -e;
    }
    if (r > 0) {
        // The bound is reached at t.
        const bool now = t <= tolerance;
        if (t < lower) {
            return now;
        }
        lower = strict ? t + strictMargin : t;
        return now;
    }
    // A clock running backwards leaves the bound at t.
    if (upper < t) {
        return true;
    }
    upper = strict ? t - strictMargin : t;
    return upper >= 0;
}

// x_i - x_j <= c (or < c), without tolerance.
bool CSDecorator::difference(uint32_t i, uint32_t j, bool strict, double c)
{
    const double vi = concrete->getClocks().values[i];
    const double vj = concrete->getClocks().values[j];
    const bool holds = strict ? vi - vj < c : vi - vj <= c;
    if (rates[i] == rates[j]) {
        return holds;
    }
    const double t = (c - vi + vj) / (rates[i] - rates[j]);
    if (holds) {
        if (0 < t && t < upper) {
            upper = t;
        }
        return true;
    }
    if (t > 0 && t > lower) {
        lower = t;
    }
    return false;
}
