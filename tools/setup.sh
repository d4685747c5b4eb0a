#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (as root, or
# through sudo when not root). Does nothing when they are all present.
set -euo pipefail
packages=(g++ cmake make libgtest-dev libbenchmark-dev povray)
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
