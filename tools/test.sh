#!/usr/bin/env bash
# Sets up, builds, and runs every test: once as built, once under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh --test
jobs="$(nproc)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVORNIX_SANITIZE=ON -DVORNIX_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j"$jobs")
# The device's shared draw calls under ThreadSanitizer.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNIX_TSAN=ON -DVORNIX_BENCH=OFF >/dev/null
# The bitmap tool the build runs draws its text through the (uninstrumented)
# font libraries, whose own threads the sanitizer cannot follow.
TSAN_OPTIONS=report_bugs=0 cmake --build build-tsan -j"$jobs" --target vornix_tests
TSAN_OPTIONS=halt_on_error=1 build-tsan/vornix_tests --gtest_filter='DeviceThreads.*:OutputIdentity.EveryFrame*'
