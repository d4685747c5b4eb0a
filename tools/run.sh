#!/usr/bin/env bash
# Sets up, builds and starts the desktop program on the sample model. On a
# machine without a display it says so and shows the sample on the command
# line instead: its counts, and one frame of the viewer in build/IndyCar.png.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/vornix "$@"
fi
echo "No display here: the desktop program needs one. Showing the sample model on the command line."
build/vornix info build/IndyCar.vnx
build/vornix render build/IndyCar.vnx -o build/IndyCar.png --size 1024x768 --view 3d
echo "picture: build/IndyCar.png"
