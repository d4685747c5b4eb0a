// A ray-tracer scene of a model at capacity: the 128 x 128 grid of quads
// (32,768 triangles) of capacity_grid.h, whose fourth material is textured
// with a 256 x 256 bitmap and whose texture coordinates there came from a
// projection box, so a quarter of the polygons carry the box's
// transformation.
//
//   bench_pov_export --benchmark_repetitions=5
//
// BM_ConvertToScene times `vornix convert cap.vnx out.pov` (open, clean-up,
// scene and texture); BM_ExportPOV times the export alone in this process.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "capacity_grid.h"
#include "formats/pov_export.h"
#include "model/model.h"
#include "model/native_file.h"
#include "platform/bmp.h"
#include "platform/ui.h"
#include "render/qlt.h"

namespace {

const std::string& TextureFile() {
  static const std::string path = bench::TempFile("cap_texture.bmp");
  return path;
}

bool WriteTexture() {
  BmpImage image;
  image.width = image.height = 256;
  image.rgba.resize(256 * 256 * 4);
  for (size_t i = 0; i < image.rgba.size(); i += 4) {
    const size_t pixel = i / 4;
    image.rgba[i] = uint8_t(pixel % 256);
    image.rgba[i + 1] = uint8_t(pixel / 256);
    image.rgba[i + 2] = 128;
    image.rgba[i + 3] = 255;
  }
  return WriteBmp24File(TextureFile().c_str(), image);
}

void BuildScenery() {
  BuildCapacityModel();
  ModelMaterial& textured = gModel.materials[3];
  textured.hasTexture = 1;
  std::snprintf(textured.textureFile, FileNameSize, "%s", TextureFile().c_str());
  const float box[16] = {1, 0, 0, 0, 0, 1, 0, 1, 0, 16, 0, 16, 16, 16, 0.5f, 0.5f};
  std::copy(box, box + 16, gModel.projections[0].value);
  gModel.projectionCount = 1;
  for (int i = 0; i < gModel.vertexCount; ++i)
    if (gModel.vertices[i].material == 3) gModel.vertices[i].projected = 1;
}

const std::string& CapacityModel() {
  static std::string path;
  if (path.empty()) {
    path = bench::TempFile("cap.vnx");
    BuildScenery();
    if (!WriteTexture() || !SaveNativeModel(path.c_str())) std::abort();
  }
  return path;
}

void BM_ConvertToScene(benchmark::State& state) {
  const std::string out = bench::TempFile("out.pov");
  for (auto _ : state) {
    const double seconds =
        bench::SecondsToRun(std::string(VORNIX_BINARY) + " convert " + CapacityModel() + " " + out + " >/dev/null 2>&1");
    if (seconds < 0) {
      state.SkipWithError("vornix convert failed");
      break;
    }
    state.SetIterationTime(seconds);
  }
  std::remove(out.c_str());
  std::remove(bench::TempFile("out_pov_D.ppm").c_str());
}
BENCHMARK(BM_ConvertToScene)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

int ChooseFirstMode(int, char (*)[128], int32_t (*)[8], int* device, int* mode) {
  *device = 0;
  *mode = 6;
  return 1;
}

// The library starts once per process; repetitions share it.
bool LibraryStarted() {
  static const bool started =
      qlt_Enumerate(nullptr, "Vornix 3D!", ChooseFirstMode) && qlt_Initialize(nullptr, 10000.0f, 60.0f);
  return started;
}

void BM_ExportPOV(benchmark::State& state) {
  CapacityModel();
  BuildScenery();
  if (!LibraryStarted()) {
    state.SkipWithError("the library did not start");
    return;
  }
  const std::string out = bench::TempFile("inproc.pov");
  const PovScene scene{{0, 0, -100}, {0.1f, 0.2f, 0.1f}, {1, 0.95f, 0.9f}, SceneBaseName(out.c_str())};
  for (auto _ : state)
    if (!ExportPOV(out.c_str(), scene)) state.SkipWithError("ExportPOV failed");
  std::remove(out.c_str());
  std::remove(bench::TempFile("inproc_pov_D.ppm").c_str());
}
BENCHMARK(BM_ExportPOV)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  SetUi(nullptr);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  qlt_Shutdown();
  std::remove(CapacityModel().c_str());
  std::remove(TextureFile().c_str());
  return 0;
}
