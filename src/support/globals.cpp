#include "support/globals.h"

int32_t processRank = 0;
int32_t processCount = 1;
int32_t tauClockNumber = -1;
