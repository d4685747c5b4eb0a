#include "app/help.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <climits>
#include <cstdlib>
#include <vector>

#include "platform/paths.h"
#include "platform/ui.h"
#include "render/qlt.h"

const char* const HelpIntroText =
    "Since help files can not be displayed over a DirectX full screen application, Vornix 3D! will be "
    "minimized on the taskbar. To return to Vornix 3D!, click on the appropriate taskbar icon...";
const char* const HelpMissingText = "Can not find help file!";
HelpOpener gHelpOpener = OpenWithDesktopViewer;

namespace {

const char* const HelpFileName = "vornix.html";
// 50 ms each: the opener's own failure takes most of a second on a slow
// machine.
constexpr int ViewerWaitSteps = 30;

// A folder of that name would open, but shows no manual.
bool IsReadableFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info;
  const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  close(fd);
  return regular;
}

// The desktop's opener hands the page to a browser and ends; one that ends
// with a failure soon after starting found no way to show it (no browser).
// One still running after the wait is taken to be showing it. Runs in a
// forked child: only calls that are safe there.
void WatchViewer(pid_t viewer, int report) {
  const timespec step = {0, 50 * 1000 * 1000};
  for (int i = 0; i < ViewerWaitSteps; ++i) {
    int status = 0;
    const pid_t done = waitpid(viewer, &status, WNOHANG);
    if (done == viewer) {
      if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
        const int failed = -1;
        const ssize_t sent = write(report, &failed, sizeof failed);
        (void)sent;
      }
      return;
    }
    if (done < 0 && errno != EINTR) return;
    nanosleep(&step, nullptr);
  }
}

}  // namespace

bool OpenWithDesktopViewer(const std::string& path) {
  const char* chosen = std::getenv("VORNIX_HELP_OPENER");
  const std::string program = chosen && *chosen ? chosen : "xdg-open";
  // Everything the children need is made before fork: between fork and exec
  // they only call what is safe there.
  std::vector<char*> argv = {const_cast<char*>(program.c_str()), const_cast<char*>(path.c_str()), nullptr};
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return false;
  const pid_t middle = fork();
  if (middle < 0) {
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (middle == 0) {
    // The viewer's parent ends at once, so the viewer is handed to init,
    // which reaps it: no zombie stays beside the program however long the
    // viewer runs.
    close(report[0]);
    const pid_t viewer = fork();
    if (viewer == 0) {
      setsid();
      execvp(argv[0], argv.data());
      const int error = errno;
      const ssize_t sent = write(report[1], &error, sizeof error);
      (void)sent;
      _exit(127);
    }
    if (viewer < 0) _exit(1);
    WatchViewer(viewer, report[1]);
    _exit(0);
  }
  close(report[1]);
  int status = 0;
  while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  // A successful exec closes the pipe without a word; a failed one sends
  // its errno.
  int error = 0;
  ssize_t got;
  do {
    got = read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  return got == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string ProgramFolder() {
  const std::string folder = ProgramDataFolder();
  if (!folder.empty()) return folder;
  char here[PATH_MAX];
  return getcwd(here, sizeof here) ? here : ".";
}

void ShowHelpFrom(const std::string& folder) {
  MessageBoxSafe(HelpIntroText, "Vornix 3D!", MB_OK);
  // The viewer runs in a folder of its own choosing, so it gets the whole
  // path.
  char resolved[PATH_MAX];
  std::string path;
  if (realpath(folder.empty() ? "." : folder.c_str(), resolved)) {
    path = resolved;
    if (path.back() != '/') path += '/';
    path += HelpFileName;
  }
  if (path.empty() || !IsReadableFile(path) || !gHelpOpener || !gHelpOpener(path))
    MessageBoxSafe(HelpMissingText, "Vornix 3D!", MB_OK);
}

void ShowHelp() { ShowHelpFrom(ProgramFolder()); }
