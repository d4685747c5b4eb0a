// DXF and 3DS files at capacity (32,768 triangles) converted to X: the grid
// of capacity_grid.h written as one three-corner 3DFACE per triangle on four
// layers, and a 3DS scene of two meshes of a waving grid with four materials
// and mapping lists.
//
//   bench_foreign_convert --benchmark_repetitions=5
//
// Each benchmark runs `vornix convert cap.dxf out.x` (or cap.3ds) and, when
// it is installed, `assimp export` of the same file in the same iteration;
// the counter `ratio` is our time over theirs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "capacity_grid.h"
#include "model/model.h"
#include "platform/ui.h"
#include "support/studio_writer.h"

namespace {

// The DXF text of the grid: every triangle one 3DFACE with three corners.
std::string CapacityDxf() {
  std::string text = "0\r\nSECTION\r\n2\r\nENTITIES\r\n";
  char line[256];
  for (int t = 0; t < gModel.vertexCount / 3; ++t) {
    const ModelVertex* v = &gModel.vertices[3 * t];
    std::snprintf(line, sizeof line, "0\r\n3DFACE\r\n8\r\nLAYER%d\r\n", v[0].material);
    text += line;
    for (int k = 0; k < 3; ++k) {
      std::snprintf(line, sizeof line, "1%d\r\n%f\r\n2%d\r\n%f\r\n3%d\r\n%f\r\n", k, v[k].x, k, v[k].y, k, v[k].z);
      text += line;
    }
  }
  return text + "0\r\nENDSEC\r\n0\r\nEOF\r\n";
}

bool WriteText(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && written;
}

const std::string& CapacityFile(const char* extension) {
  static std::string dxf, studio;
  std::string& path = extension[0] == 'd' ? dxf : studio;
  if (path.empty()) {
    BuildCapacityModel();
    path = bench::TempFile(extension[0] == 'd' ? "cap.dxf" : "cap.3ds");
    const int triangles = gModel.vertexCount / 3;
    const bool written =
        extension[0] == 'd' ? WriteText(path, CapacityDxf()) : WriteStudioGrid(path, triangles, 2, 4);
    if (!written) std::abort();
  }
  return path;
}

void BM_ConvertDxf(benchmark::State& state) { bench::CompareConverters(state, CapacityFile("dxf")); }
BENCHMARK(BM_ConvertDxf)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_Convert3ds(benchmark::State& state) { bench::CompareConverters(state, CapacityFile("3ds")); }
BENCHMARK(BM_Convert3ds)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  SetUi(nullptr);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  std::remove(CapacityFile("dxf").c_str());
  std::remove(CapacityFile("3ds").c_str());
  return 0;
}
