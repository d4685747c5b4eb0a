// Frame time of `vornix render` at 1024x768 with both viewports, on a model
// at capacity: a 128 x 128 grid of quads (32,768 triangles) filling most of
// the view, in one textured material and, for a quarter of it, one
// translucent material.
//
//   bench_render --benchmark_repetitions=3
//
// The counter frame_ms is the median frame time that `vornix render
// --repeat` reports.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "model/model.h"
#include "model/native_file.h"
#include "platform/bmp.h"
#include "platform/ui.h"

namespace {

constexpr int GridSide = 128;

std::string TempFile(const char* name) {
  return std::string("/tmp/vornix_bench_render_") + std::to_string(getpid()) + "_" + name;
}

bool WriteCheckerTexture(const std::string& path) {
  BmpImage image;
  image.width = image.height = 64;
  image.rgba.resize(64 * 64 * 4);
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      uint8_t* p = &image.rgba[size_t(4 * (y * 64 + x))];
      const bool light = ((x / 8) + (y / 8)) % 2 == 0;
      p[0] = light ? 230 : 40;
      p[1] = light ? 200 : 90;
      p[2] = light ? 60 : 160;
      p[3] = 255;
    }
  }
  return WriteBmp24File(path.c_str(), image);
}

// A gently curved sheet facing the viewer of the default view ("Back").
bool WriteCapacityModel(const std::string& path, const std::string& texture) {
  ClearModel();
  ModelMaterial& textured = gModel.materials[0];
  textured.red = textured.green = textured.blue = textured.alpha = 1.0f;
  textured.specularPower = 16;
  std::snprintf(textured.textureFile, FileNameSize, "%s", texture.c_str());
  textured.hasTexture = 1;
  ModelMaterial& glass = gModel.materials[1];
  glass.red = 0.3f, glass.green = 0.6f, glass.blue = 1.0f, glass.alpha = 0.5f;
  gModel.materialCount = 2;
  auto put = [](int i, int j, int material) {
    ModelVertex& v = gModel.vertices[gModel.vertexCount++];
    v = ModelVertex{};
    const float x = float(i) / GridSide * 2.0f - 1.0f, y = float(j) / GridSide * 1.5f - 0.75f;
    v.x = x;
    v.y = y;
    v.z = 0.1f * (x * x + y * y);
    v.nz = -1.0f;
    v.u = float(i) / 16.0f;
    v.v = float(j) / 16.0f;
    v.material = material;
  };
  for (int i = 0; i < GridSide; ++i) {
    for (int j = 0; j < GridSide; ++j) {
      const int material = i >= GridSide / 2 && j >= GridSide / 2 ? 1 : 0;
      put(i, j, material), put(i + 1, j + 1, material), put(i + 1, j, material);
      put(i, j, material), put(i, j + 1, material), put(i + 1, j + 1, material);
    }
  }
  RecomputeBounds();
  return SaveNativeModel(path.c_str()) == 1;
}

void BM_RenderBothViewports1024(benchmark::State& state) {
  const std::string texture = TempFile("checker.bmp"), model = TempFile("cap.vnx"), png = TempFile("cap.png");
  const std::string err = TempFile("stderr.txt");
  if (!WriteCheckerTexture(texture) || !WriteCapacityModel(model, texture)) {
    state.SkipWithError("could not write the model");
    return;
  }
  double frameMs = 0;
  for (auto _ : state) {
    const std::string command = std::string(VORNIX_BINARY) + " render " + model + " -o " + png +
                                " --size 1024x768 --layout both --repeat 25 2>" + err;
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("vornix render failed");
      break;
    }
    FILE* f = std::fopen(err.c_str(), "r");
    char line[256];
    while (f && std::fgets(line, sizeof line, f)) std::sscanf(line, "frame ms: %lf", &frameMs);
    if (f) std::fclose(f);
  }
  state.counters["frame_ms"] = frameMs;
  for (const std::string& p : {texture, model, err}) std::remove(p.c_str());
  std::printf("picture: %s\n", png.c_str());
}
BENCHMARK(BM_RenderBothViewports1024)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  SetUi(nullptr);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
