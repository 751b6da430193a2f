#pragma once

// The clock rates of a concrete state and the passing of time with them, shared by the delay
// step and the replay of recorded runs so that both advance clocks in exactly the same way.

#include <vector>

class ConcreteState;

// One rate per clock of the state: 1.0, except the rates that the current locations give
// (evaluated on the state, in process-slot order). Returns whether a current location has a
// floating-point guard or a rate that is not constant. `rates` keeps its capacity.
bool computeClockRates(ConcreteState* state, std::vector<double>& rates);

// Every clock after the reference clock advances by its rate times d; when d is the positive
// `grid`, a value that ends within 1e-10 of a multiple of it becomes that multiple; a value within
// 1e-10 of an integer becomes that integer. A stopped clock keeps its value also when d is
// infinite. The grid is the discretisation step: a clock that moves in many fine steps would
// otherwise gather rounding errors step by step and miss a limit that the step divides.
void advanceClocks(ConcreteState* state, const double* rates, double d, double grid = 0.0);
