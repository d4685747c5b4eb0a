#include <cstdio>
#include <string>

#include "app/cli.h"
#include "platform/ui.h"
#ifdef VORNIX_HAVE_GTK
#include "platform/gtk/gtk_ui.h"
#endif

namespace {

int StartDesktop(const DesktopArguments& arguments) {
#ifdef VORNIX_HAVE_GTK
  std::string reason;
  PlatformUI* desktop = CreateGtkUI(arguments.windowed, &reason);
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
  std::fputs("vornix: this build has no desktop program (GTK 3 was not found when it was built); "
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
