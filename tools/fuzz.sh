#!/usr/bin/env bash
# Sets up and builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and fuzzes each for SECONDS (default 60), as
# many at a time as there are cores. Seeds: fuzz/seeds, the regression
# inputs, the test files and the third-party models where present. Inputs
# that add coverage stay in build-fuzz/corpus for the next run. Fails when a
# target finds a fault; the input is left in build-fuzz/findings/TARGET/.
#   tools/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
tools/setup.sh --fuzz >/dev/null
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNIX_FUZZ=ON \
  -DVORNIX_SANITIZE=ON -DVORNIX_TESTS=OFF -DVORNIX_BENCH=OFF >/dev/null
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_native_file fuzz_x_import fuzz_dxf_import fuzz_3ds_import
  fuzz_qlt_import fuzz_bmp_decode fuzz_ppm_decode fuzz_square_bmp)
mkdir -p build-fuzz/logs
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}" >build-fuzz/logs/build.log 2>&1 ||
  { tail -30 build-fuzz/logs/build.log; exit 1; }
models=../shared/corpus

# The seed folders and options of one target.
arguments() {
  local seeds=() options=()
  case "$1" in
    fuzz_native_file) seeds=(fuzz/seeds/native) ;;
    fuzz_qlt_import) seeds=(fuzz/seeds/qlt) ;;
    # The large text models cost milliseconds each; inputs stay below
    # 128 KB so that most of the time goes to new variations.
    fuzz_x_import) seeds=(tests/data "$models/x") options=(-dict=$PWD/fuzz/x.dict -max_len=131072) ;;
    fuzz_dxf_import) seeds=(tests/data "$models/dxf") options=(-dict=$PWD/fuzz/dxf.dict -max_len=131072) ;;
    fuzz_3ds_import) seeds=("$models/3ds") options=(-dict=$PWD/fuzz/3ds.dict) ;;
    fuzz_bmp_decode | fuzz_square_bmp) seeds=(fuzz/seeds/bmp "$models/x" "$models/3ds") ;;
    fuzz_ppm_decode) seeds=(fuzz/seeds/ppm) ;;
  esac
  seeds+=(tests/data/regressions)
  for s in "${seeds[@]}"; do [ -d "$s" ] && realpath "$s"; done
  [ ${#options[@]} -eq 0 ] || printf '%s\n' "${options[@]}"
}

run_one() {
  local target="$1" build="$PWD/build-fuzz"
  local log="$build/logs/$1.log"
  mkdir -p "$build/corpus/$target" "$build/findings/$target" "$build/logs"
  mapfile -t args < <(arguments "$target")
  # Absolute paths: a target may change its current folder. No input is
  # larger than a few hundred KB, so a single allocation above 256 MB means
  # a size was taken from the input unchecked.
  if "$build/$target" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 -malloc_limit_mb=256 \
    -print_final_stats=1 \
    -artifact_prefix="$build/findings/$target/" "$build/corpus/$target" "${args[@]}" >"$log" 2>&1; then
    echo "$target: $(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$') inputs in ${seconds} s," \
      "$(grep -E '^#[0-9]+' "$log" | tail -1 | grep -oE 'cov: [0-9]+ ft: [0-9]+')"
  else
    echo "$target: FAULT FOUND, see $log and build-fuzz/findings/$target/"
    tail -40 "$log"
    return 1
  fi
}
export -f run_one arguments
export seconds models

printf '%s\n' "${targets[@]}" | xargs -P "$(nproc)" -I{} bash -c 'run_one {}'
