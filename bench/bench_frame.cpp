// Time of one pass of the desktop program's main loop — flip, panel,
// pointer, hover pick over every polygon, both viewports, viewpoint name —
// with the presentation to a window left out: on a model at capacity
// (32,768 triangles) at 1024x768, and on the sample model at 640x480. The
// program runs its real start-up through the scripted interface, then the
// frames are timed from inside its message pump.
//
//   bench_frame --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "app/desktop.h"
#include "app/mode_dialog.h"
#include "app/shell_state.h"
#include "app/viewports.h"
#include "capacity_grid.h"
#include "model/native_file.h"
#include "platform/scripted/scripted_ui.h"
#include "render/library_state.h"
#include "render/qlt.h"

namespace {

std::string ProgramFolder() {
  const std::string binary = VORNIX_BINARY;
  return binary.substr(0, binary.rfind('/'));
}

// Runs the program on the model in the display mode of row `resolution` of
// the mode dialog (0: 640 x 480, 2: 1024 x 768), timing frames with the
// pointer over the Select viewport, the device drawing on `threads`.
void TimeFrames(benchmark::State& state, const std::string& model, int resolution, int threads) {
  _qlt_ResetLibraryForTests();
  ScopedScriptedUI scripted;
  ScriptedUI& ui = scripted.ui;
  ui.ScriptDialog(ModeDialogResource,
                  {DialogAction::Pick(ModeResolutionList, resolution), DialogAction::Press(IDC_OK)});
  WindowEvent activate;
  activate.kind = EventKind::Activate;
  ui.Post(activate);
  ui.Frame();
  ui.Key(VK_SPACE);
  ui.Frame();
  bool timed = false;
  ui.Inspect([&] {
    int width = 0, height = 0;
    qlt_ScreenSize(&width, &height, nullptr);
    ApplyStartupView();
    gShell.pointerX = uint16_t((width + 128) / 2);
    gShell.pointerY = uint16_t(height * 3 / 4);
    gShell.hintVisible = 0;
    if (threads == 1) _qlt_Device->SetDrawThreads(1);
    for (auto _ : state) RunFrame();
    timed = true;
  });
  DesktopOptions options;
  options.programFolder = ProgramFolder();
  options.modelPath = model;
  RunDesktop(options);
  if (!timed) state.SkipWithError("the program did not reach its main loop");
  _qlt_ResetLibraryForTests();
}

void BM_FrameAtCapacity1024(benchmark::State& state) {
  const int threads = int(state.range(0));
  // The model and its texture in a folder of their own.
  const std::string folder = bench::TempFile("frame");
  const std::string model = folder + "/capacity.vnx", texture = folder + "/" + CapacityTexture;
  BuildCapacityModel();
  if (mkdir(folder.c_str(), 0700) != 0 || !WriteCapacityTexture(texture) || !SaveNativeModel(model.c_str())) {
    state.SkipWithError("could not write the model");
    return;
  }
  TimeFrames(state, model, 2, threads);
  std::remove(model.c_str());
  std::remove(texture.c_str());
  rmdir(folder.c_str());
}
// With the device's default threads (two on two cores), and on one.
BENCHMARK(BM_FrameAtCapacity1024)->ArgName("threads")->Arg(2)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_FrameSample640(benchmark::State& state) {
  TimeFrames(state, ProgramFolder() + "/IndyCar.vnx", 0, int(state.range(0)));
}
BENCHMARK(BM_FrameSample640)->ArgName("threads")->Arg(2)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
