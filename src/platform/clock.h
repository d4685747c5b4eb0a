// A monotonic counter and its frequency, standing in for the performance
// counter of the timer services.
#pragma once

#include <cstdint>

// Counter ticks since an arbitrary start; never goes backwards.
uint64_t PlatformCounter();
// Ticks per second of PlatformCounter (microseconds: the low 32 bits wrap
// only every 71 minutes).
uint64_t PlatformCounterFrequency();
