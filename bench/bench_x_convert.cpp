// X files at capacity: a 128 x 128 grid of quads (32,768 triangles) in four
// materials, with normals and texture coordinates, as our exporter writes it.
//
//   bench_x_convert --benchmark_filter=InProcess --benchmark_repetitions=5
//   bench_x_convert --benchmark_filter='Fast|Classic'
//
// Fast and Classic compare the importer's text passes, duplicate test and
// normal pass with the step-by-step versions the tests keep as references
// (those take seconds and run once).
//
// The whole conversion, against the general-purpose converter, is
// bench_convert's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "capacity_grid.h"
#include "formats/export_tables.h"
#include "formats/x_export.h"
#include "formats/x_import.h"
#include "formats/x_text_passes.h"
#include "model/cleanup.h"
#include "model/model.h"
#include "platform/ui.h"
#include "reference/literal_x_import.h"
#include "reference/literal_x_text.h"

namespace {

using bench::TempFile;

const std::string& CapacityFile() {
  static const std::string path = [] {
    const std::string p = TempFile("cap.x");
    BuildCapacityModel();
    if (!PrepareExport(0, p.c_str()) || !ExportX(p.c_str())) std::abort();
    return p;
  }();
  return path;
}

void BM_InProcessImportX(benchmark::State& state) {
  const std::string& path = CapacityFile();
  for (auto _ : state) {
    if (!ImportX(path.c_str())) state.SkipWithError("import failed");
  }
  state.counters["triangles"] = gModel.vertexCount / 3;
}
BENCHMARK(BM_InProcessImportX)->Unit(benchmark::kMillisecond);

void BM_InProcessExportX(benchmark::State& state) {
  const std::string out = TempFile("out_inprocess.x");
  BuildCapacityModel();
  for (auto _ : state) {
    if (!PrepareExport(0, out.c_str()) || !ExportX(out.c_str())) state.SkipWithError("export failed");
  }
  state.counters["vertices"] = ExportTables.vertexTotal;
  std::remove(out.c_str());
}
BENCHMARK(BM_InProcessExportX)->Unit(benchmark::kMillisecond);

void BM_FastTextPasses(benchmark::State& state) {
  for (auto _ : state) {
    if (!MakeCanonicalXText(CapacityFile().c_str())) state.SkipWithError("passes failed");
  }
}
BENCHMARK(BM_FastTextPasses)->Unit(benchmark::kMillisecond);

void BM_ClassicTextPasses(benchmark::State& state) {
  for (auto _ : state) {
    if (!ReadXFile(CapacityFile().c_str()) || !literal::MakeCanonicalText(CapacityFile().c_str()))
      state.SkipWithError("passes failed");
  }
}
BENCHMARK(BM_ClassicTextPasses)->Iterations(1)->Unit(benchmark::kMillisecond);

// The imported grid with every normal cleared, as a file without normals.
Model& ImportedWithoutNormals() {
  static Model model;
  static bool ready = false;
  if (!ready) {
    if (!ImportX(CapacityFile().c_str())) std::abort();
    for (int i = 0; i < gModel.vertexCount; ++i)
      gModel.vertices[i].nx = gModel.vertices[i].ny = gModel.vertices[i].nz = 0;
    model = gModel;
    ready = true;
  }
  return model;
}

void BM_FastDuplicateTest(benchmark::State& state) {
  const Model& model = ImportedWithoutNormals();
  static DuplicateTriangleIndex index;
  gModel = model;
  int kept = 0;
  for (auto _ : state) {
    index.Clear();
    kept = 0;
    for (int p = 0; p < model.vertexCount / 3; ++p) {
      if (index.IsDuplicate(p)) continue;
      index.Add(p);
      ++kept;
    }
  }
  state.counters["kept"] = kept;
}
BENCHMARK(BM_FastDuplicateTest)->Unit(benchmark::kMillisecond);

void BM_ClassicDuplicateTest(benchmark::State& state) {
  const Model& model = ImportedWithoutNormals();
  int kept = 0;
  for (auto _ : state) {
    kept = 0;
    for (int p = 0; p < model.vertexCount / 3; ++p)
      kept += !literal::HasEarlierTwin(model, p, &model.vertices[3 * p]);
  }
  state.counters["kept"] = kept;
}
BENCHMARK(BM_ClassicDuplicateTest)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_FastNormalPass(benchmark::State& state) {
  const Model& model = ImportedWithoutNormals();
  for (auto _ : state) {
    state.PauseTiming();
    gModel = model;
    state.ResumeTiming();
    VerifyNormals(CapacityFile().c_str());
  }
}
BENCHMARK(BM_FastNormalPass)->Unit(benchmark::kMillisecond);

void BM_ClassicNormalPass(benchmark::State& state) {
  static Model model;
  for (auto _ : state) {
    state.PauseTiming();
    model = ImportedWithoutNormals();
    state.ResumeTiming();
    literal::VerifyNormals(model);
  }
}
BENCHMARK(BM_ClassicNormalPass)->Iterations(1)->Unit(benchmark::kMillisecond);


}  // namespace

int main(int argc, char** argv) {
  SetUi(nullptr);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  std::remove(CapacityFile().c_str());
  return 0;
}
