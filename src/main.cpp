#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/cli.h"
#include "platform/paths.h"
#include "platform/ui.h"
#ifdef VORNIX_HAVE_GTK
#include "platform/gtk/gtk_ui.h"
#endif

namespace {

#ifdef VORNIX_HAVE_GTK
// The build passes the installed layout's path from the program's folder to
// the module's; in the build tree the module lies beside the program.
#ifndef VORNIX_MODULE_FROM_BIN
#define VORNIX_MODULE_FROM_BIN "../lib/vornix"
#endif

CreateGtkUIFunction LoadDesktopBackend(std::string* reason) {
  const std::string folder = ExecutableFolder();
  for (const std::string& path :
       {folder + "/" + GtkModuleFile, folder + "/" VORNIX_MODULE_FROM_BIN "/" + GtkModuleFile}) {
    if (access(path.c_str(), F_OK) != 0) continue;
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    void* entry = module ? dlsym(module, GtkModuleEntry) : nullptr;
    if (entry) return reinterpret_cast<CreateGtkUIFunction>(entry);
    const char* error = dlerror();
    *reason = error ? error : "its entry point is missing";
    return nullptr;
  }
  *reason = std::string("its desktop module ") + GtkModuleFile + " is not installed beside it";
  return nullptr;
}
#endif

int StartDesktop(const DesktopArguments& arguments) {
#ifdef VORNIX_HAVE_GTK
  std::string reason;
  const CreateGtkUIFunction createUi = LoadDesktopBackend(&reason);
  if (!createUi) {
    std::fprintf(stderr, "vornix: the desktop program cannot start: %s\n", reason.c_str());
    return 1;
  }
  PlatformUI* desktop = createUi(arguments.windowed, &reason);
  if (!desktop) {
    std::fprintf(stderr,
                 "vornix: the desktop program needs a display (%s); without one, use "
                 "'vornix render FILE -o OUT.png' (see vornix --help)\n",
                 reason.c_str());
    return 1;
  }
  SetUi(desktop);
  const int code = RunDesktopProgram(arguments);
  SetUi(nullptr);
  delete desktop;
  return code;
#else
  (void)arguments;
  std::fputs(
      "vornix: this build has no desktop program (GTK 3 was not found when it was built); "
      "use 'vornix info', 'vornix convert' or 'vornix render' (see vornix --help)\n",
      stderr);
  return 1;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  DesktopArguments arguments;
  if (IsDesktopCommandLine(argc, argv, &arguments)) return StartDesktop(arguments);
  return RunCommandLine(argc, argv);
}
