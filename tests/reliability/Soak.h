// How much longer than in CI a run goes: KX_SOAK=N in the environment
// multiplies every round and iteration count of the suite by N (1 when unset
// or not a positive number). Read once; any thread.
#pragma once

#include <cstdint>

uint32_t SoakFactor();
// base rounds, multiplied by the soak factor.
uint32_t Rounds(uint32_t base);
