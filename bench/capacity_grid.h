// The model at capacity the conversion benchmarks share (a 128 x 128 grid of
// quads, 32,768 triangles, in 20 materials) and the helpers that time a
// converter run.
#pragma once

#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "model/model.h"
#include "support/capacity_model.h"

namespace bench {

inline std::string TempFile(const char* name) {
  return std::string("/tmp/vornix_bench_") + std::to_string(getpid()) + "_" + name;
}

// Wall-clock seconds of a shell command, or -1 when it failed.
inline double SecondsToRun(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  const int status = std::system(command.c_str());
  const auto end = std::chrono::steady_clock::now();
  if (status != 0) return -1;
  return std::chrono::duration<double>(end - start).count();
}

// Runs `vornix convert IN OUT` (OUT of the given extension) and, when it is
// installed and the output is .x, the general-purpose converter `assimp
// export IN out.x` in each iteration; the counter `ratio` is our time over
// theirs.
inline void CompareConverters(benchmark::State& state, const std::string& in, const std::string& to = "x") {
  const std::string ours = TempFile(("out_vornix." + to).c_str());
  const std::string theirs = TempFile("out_assimp.x");
  const std::string from = in.substr(in.rfind('.') + 1);
  const bool compare = to == "x" && from != "vnx" && from != "qlt" &&
                       std::system("command -v assimp >/dev/null 2>&1") == 0;
  double ourTotal = 0, theirTotal = 0;
  for (auto _ : state) {
    const double a = SecondsToRun(std::string(VORNIX_BINARY) + " convert " + in + " " + ours + " 2>/dev/null");
    const double b = compare ? SecondsToRun("assimp export " + in + " " + theirs + " >/dev/null 2>&1") : 0;
    if (a < 0 || b < 0) {
      state.SkipWithError(a < 0 ? "vornix convert failed" : "assimp export failed");
      break;
    }
    state.SetIterationTime(a);
    ourTotal += a;
    theirTotal += b;
  }
  state.counters["vornix_ms"] = benchmark::Counter(1000 * ourTotal, benchmark::Counter::kAvgIterations);
  if (compare && theirTotal > 0) {
    state.counters["assimp_ms"] = benchmark::Counter(1000 * theirTotal, benchmark::Counter::kAvgIterations);
    state.counters["ratio"] = ourTotal / theirTotal;
  }
  // With the textures a scene writes beside it.
  std::system(("rm -f '" + TempFile("out_vornix") + "'*").c_str());
  std::remove(theirs.c_str());
}

}  // namespace bench
