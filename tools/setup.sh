#!/usr/bin/env bash
# Installs the Debian packages the build needs (as root, or through sudo
# when not root); with --test also those of the tests. Does nothing when
# they are all present. With --fuzz, clang and its sanitizer runtime for
# the fuzz targets.
set -euo pipefail
# xdg-utils opens the manual from the Help command.
packages=(g++ cmake make pkg-config libgtk-3-dev fonts-dejavu-core libgtest-dev libbenchmark-dev povray xdg-utils)
if [ "${1:-}" = "--test" ]; then
  # desktop-file-validate and xmllint check the installed desktop entry and MIME types.
  packages+=(xvfb xdotool imagemagick desktop-file-utils libxml2-utils)
elif [ "${1:-}" = "--fuzz" ]; then
  packages+=(clang libclang-rt-dev)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q "${missing[@]}"
fi
