#!/usr/bin/env bash
# Sets up, builds, and shows the sample model: its counts and materials, and
# one frame of the viewer written to build/IndyCar.png.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
build/vornix info build/IndyCar.vnx
build/vornix render build/IndyCar.vnx -o build/IndyCar.png --size 1024x768 --view 3d
echo "picture: build/IndyCar.png"
