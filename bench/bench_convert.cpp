// Every conversion at capacity, whole process: the model of capacity_model.h
// (32,768 triangles, 20 materials, one textured) saved as .vnx and converted
// by the program to .x, .dxf and .qlt, and a 3DS scene of the same size
// (two meshes of a waving grid with four materials), each converted to every
// format the program writes.
//
//   bench_convert --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
//
// Each benchmark runs `vornix convert IN OUT`; into .x from a format the
// general-purpose converter reads (.x, .dxf, .3ds) it also runs `assimp
// export` in the same iteration when that is installed, and the counter
// `ratio` is our time over theirs.
#include <benchmark/benchmark.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "capacity_grid.h"
#include "model/native_file.h"
#include "platform/ui.h"
#include "support/studio_writer.h"

namespace {

const char* const kInputs[] = {"vnx", "x", "dxf", "3ds", "qlt"};
const char* const kOutputs[] = {"vnx", "x", "dxf", "qlt", "pov"};

std::string Folder() {
  static const std::string folder = bench::TempFile("convert");
  return folder;
}

std::string Input(const std::string& kind) { return Folder() + "/cap." + kind; }

// The inputs, written once; false when one could not be made.
bool WriteInputs() {
  if (mkdir(Folder().c_str(), 0700) != 0) return false;
  BuildCapacityModel();
  if (!WriteCapacityTexture(Folder() + "/" + CapacityTexture) || !SaveNativeModel(Input("vnx").c_str()))
    return false;
  for (const char* kind : {"x", "dxf", "qlt"}) {
    const std::string command =
        std::string(VORNIX_BINARY) + " convert " + Input("vnx") + " " + Input(kind) + " 2>/dev/null";
    if (std::system(command.c_str()) != 0) return false;
  }
  // The odd materials of the 3DS scene name grid1.bmp, grid3.bmp ...
  for (const char* texture : {"/grid1.bmp", "/grid3.bmp"})
    if (!WriteCapacityTexture(Folder() + texture)) return false;
  return WriteStudioGrid(Input("3ds"), gModel.vertexCount / 3, 2, 4);
}

}  // namespace

int main(int argc, char** argv) {
  SetUi(nullptr);
  if (!WriteInputs()) {
    std::fprintf(stderr, "bench_convert: could not write the inputs in %s\n", Folder().c_str());
    return 1;
  }
  for (const char* in : kInputs)
    for (const char* out : kOutputs) {
      const std::string name = std::string("BM_Convert/") + in + "_to_" + out;
      const std::string path = Input(in), to = out;
      benchmark::RegisterBenchmark(name.c_str(), [path, to](benchmark::State& state) {
        bench::CompareConverters(state, path, to);
      })->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
    }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  std::system(("rm -rf '" + Folder() + "'").c_str());
  return 0;
}
