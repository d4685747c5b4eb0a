// The clean-up and the smoothing pass on a model at capacity, against the
// classic quadratic passes they replace. The classic ones take seconds and
// run once.
//
//   bench_passes --benchmark_filter=Fast --benchmark_repetitions=5
//   bench_passes --benchmark_filter=Classic
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>

#include "model/cleanup.h"
#include "model/model.h"
#include "model/normals.h"
#include "reference/literal_passes.h"

namespace {

constexpr int GridSide = 128;  // 128 x 128 quads = 32768 triangles = 98304 vertices
static_assert(GridSide * GridSide * 6 == MaxVertices, "the grid fills the vertex table");

enum class MaterialOrder { Random, DescendingBlocks };

// A bumpy triangulated grid: every inner grid point is a corner of six
// triangles. Polygons are shuffled, so materials come in random order.
std::unique_ptr<Model> MakeCapacityModel(int materials, MaterialOrder order) {
  auto model = std::make_unique<Model>();
  std::mt19937 rng(42);
  for (int i = 0; i < materials; ++i) {
    ModelMaterial& m = model->materials[i];
    m.red = float(i) / float(materials);
    m.green = 0.5f;
    m.alpha = float(rng() % 4 + 1) / 4.0f;  // many equal alphas
  }
  model->materialCount = materials;
  auto put = [&](int vertex, int i, int j, int material) {
    ModelVertex& v = model->vertices[vertex];
    v.x = float(i);
    v.y = float(j);
    v.z = std::sin(0.2f * float(i)) * std::cos(0.15f * float(j)) * 3.0f;
    v.material = material;
    v.selected = 1;
  };
  int vertex = 0;
  for (int i = 0; i < GridSide; ++i) {
    for (int j = 0; j < GridSide; ++j) {
      for (int half = 0; half < 2; ++half) {
        const int material = int(rng() % unsigned(materials));
        put(vertex++, i, j, material);
        put(vertex++, i + 1, half ? j + 1 : j, material);
        put(vertex++, half ? i : i + 1, half ? j + 1 : j + 1, material);
      }
    }
  }
  model->vertexCount = vertex;
  const int polygons = vertex / 3;
  for (int p = polygons - 1; p > 0; --p) {
    const int q = int(rng() % unsigned(p + 1));
    for (int k = 0; k < 3; ++k) std::swap(model->vertices[3 * p + k], model->vertices[3 * q + k]);
  }
  if (order == MaterialOrder::DescendingBlocks) {
    // One block per material, highest material first: the order that
    // makes the classic exchange sort move the most records.
    for (int p = 0; p < polygons; ++p) {
      const int material = materials - 1 - int(int64_t(p) * materials / polygons);
      for (int k = 0; k < 3; ++k) model->vertices[3 * p + k].material = material;
    }
  }
  return model;
}

const Model& RandomOrderModel() {
  static const std::unique_ptr<Model> model = MakeCapacityModel(20, MaterialOrder::Random);
  return *model;
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void FastCleanUp(benchmark::State& state, const Model& source) {
  for (auto _ : state) {
    std::memcpy(&gModel, &source, sizeof(Model));
    const auto start = std::chrono::steady_clock::now();
    CleanUpModel();
    state.SetIterationTime(Seconds(start));
  }
}

void BM_FastCleanUpModel(benchmark::State& state) { FastCleanUp(state, RandomOrderModel()); }
BENCHMARK(BM_FastCleanUpModel)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FastCleanUpModel200DescendingMaterials(benchmark::State& state) {
  static const std::unique_ptr<Model> model = MakeCapacityModel(200, MaterialOrder::DescendingBlocks);
  FastCleanUp(state, *model);
}
BENCHMARK(BM_FastCleanUpModel200DescendingMaterials)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FastCalculateNormals45(benchmark::State& state) {
  std::memcpy(&gModel, &RandomOrderModel(), sizeof(Model));
  averageAcrossMaterials = 0;
  for (auto _ : state) CalculateNormals(45.0f);
}
BENCHMARK(BM_FastCalculateNormals45)->Unit(benchmark::kMillisecond);

void BM_ClassicCleanUpModel(benchmark::State& state) {
  auto model = std::make_unique<Model>();
  for (auto _ : state) {
    std::memcpy(model.get(), &RandomOrderModel(), sizeof(Model));
    const auto start = std::chrono::steady_clock::now();
    literal::CleanUpModel(*model);
    state.SetIterationTime(Seconds(start));
  }
}
BENCHMARK(BM_ClassicCleanUpModel)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ClassicCalculateNormals45(benchmark::State& state) {
  auto model = std::make_unique<Model>();
  std::memcpy(model.get(), &RandomOrderModel(), sizeof(Model));
  for (auto _ : state) literal::CalculateNormals(*model, 45.0f, 0);
}
BENCHMARK(BM_ClassicCalculateNormals45)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
