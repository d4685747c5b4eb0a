#!/usr/bin/env bash
# Sets up, builds, and shows the sample model.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
exec build/vornix info build/IndyCar.vnx
