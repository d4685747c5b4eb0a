#include "platform/clock.h"

#include <time.h>

uint64_t PlatformCounter() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000ull + static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

uint64_t PlatformCounterFrequency() { return 1000000ull; }
