// The Help command: its messages, where it finds the manual, how the viewer
// is started, and the manual the build puts beside the program.
#include "app/help.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/scripted/scripted_ui.h"
#include "support/model_builder.h"

namespace {

const char* const Intro =
    "Since help files can not be displayed over a DirectX full screen application, Vornix 3D! will be "
    "minimized on the taskbar. To return to Vornix 3D!, click on the appropriate taskbar icon...";

std::vector<std::string> handed;
bool viewerStarts = true;

bool RecordingOpener(const std::string& path) {
  handed.push_back(path);
  return viewerStarts;
}

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? resolved : "";
}

// The Open dialog may have moved the current folder: the manual is still the
// one beside the program, by its absolute path. Without the file, or with
// no viewer, the missing-file message follows the intro.
TEST(HelpTest, IntroThenTheManualBesideTheProgramOrTheMissingMessage) {
  ScopedScriptedUI scripted;
  const std::vector<ScriptedUI::Message>& messages = scripted.ui.messages;
  gHelpOpener = RecordingOpener;
  char here[PATH_MAX];
  ASSERT_TRUE(getcwd(here, sizeof here));
  std::string folder = TempPath("help_XXXXXX");
  ASSERT_TRUE(mkdtemp(folder.data()));
  ASSERT_EQ(chdir(folder.c_str()), 0);

  ShowHelp();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "Vornix 3D!");
  EXPECT_EQ(messages[0].type & MB_TYPEMASK, unsigned(MB_OK));
  ASSERT_EQ(handed.size(), 1u);
  EXPECT_EQ(handed[0], RealPath(VORNIX_BUILD_DIR) + "/vornix.html");

  ShowHelpFrom(".");  // an empty folder
  std::ofstream("vornix.html") << "<!DOCTYPE html>";
  viewerStarts = false;
  ShowHelpFrom(".");
  ASSERT_EQ(chdir(here), 0);
  gHelpOpener = OpenWithDesktopViewer;
  ASSERT_EQ(messages.size(), 5u);
  for (int i : {0, 1, 3}) EXPECT_EQ(messages[i].text, Intro) << i;
  for (int i : {2, 4}) EXPECT_EQ(messages[i].text, "Can not find help file!") << i;
  EXPECT_EQ(messages[4].caption, "Vornix 3D!");
  ASSERT_EQ(handed.size(), 2u);
  EXPECT_EQ(handed[1], RealPath(folder) + "/vornix.html");
  std::remove((folder + "/vornix.html").c_str());
  rmdir(folder.c_str());
}

// The real opener: the named program gets the path as one argument (no
// shell splits it), the call does not wait for a viewer that keeps running,
// one that fails at once is a failure, and no child of ours is left behind
// to become a zombie.
TEST(HelpViewerTest, StartsTheViewerDetachedWithThePathAsOneArgument) {
  const std::string script = TempPath("viewer.sh"), seen = TempPath("viewer.seen");
  std::ofstream(script) << "#!/bin/sh\nsleep 4\nprintf '%s|%s' \"$#\" \"$1\" > " << seen << ".part\nmv "
                        << seen << ".part " << seen << "\n";
  ASSERT_EQ(chmod(script.c_str(), 0700), 0);
  ASSERT_EQ(setenv("VORNIX_HELP_OPENER", script.c_str(), 1), 0);
  const std::string path = "/tmp/a folder/$(echo x)/vornix.html";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(OpenWithDesktopViewer(path));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000))
      << "waited for the viewer";
  int status = 0;
  EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  for (int i = 0; i < 200 && !FileExists(seen); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(ReadAll(seen), "1|" + path);

  ASSERT_EQ(setenv("VORNIX_HELP_OPENER", "/nonexistent/viewer", 1), 0);
  EXPECT_FALSE(OpenWithDesktopViewer(path));
  ASSERT_EQ(setenv("VORNIX_HELP_OPENER", "false", 1), 0);
  EXPECT_FALSE(OpenWithDesktopViewer(path)) << "an opener that finds no browser";
  unsetenv("VORNIX_HELP_OPENER");
  std::remove(script.c_str());
  std::remove(seen.c_str());
}

std::string Output(const std::string& command) {
  std::string text;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, got);
    pclose(pipe);
  }
  return text;
}

// The manual beside the program carries the usage exactly as --help prints
// it, explains every option once more outside it, names every panel item,
// and stands alone.
TEST(HelpManualTest, BuiltManualCoversThePanelAndTheCommandLine) {
  const std::string manual = ReadAll(std::string(VORNIX_BUILD_DIR) + "/vornix.html");
  ASSERT_EQ(manual.rfind("<!DOCTYPE html>", 0), 0u);
  const std::string usage = Output(std::string(VORNIX_BINARY) + " --help");
  ASSERT_EQ(usage.rfind("usage: vornix", 0), 0u);
  EXPECT_NE(manual.find("<pre>\n" + usage + "</pre>"), std::string::npos) << "the usage differs from --help";

  std::set<std::string> options;
  const std::regex option(R"((?:^|[\s\[|])(--?[a-z][a-z-]*))");
  for (std::sregex_iterator it(usage.begin(), usage.end(), option), end; it != end; ++it)
    options.insert((*it)[1]);
  EXPECT_TRUE(options.count("--scale-y") && options.count("-o")) << "the usage was not read";
  const std::string prose = manual.substr(0, manual.find("<pre>")) + manual.substr(manual.find("</pre>"));
  for (const std::string& o : options)
    EXPECT_TRUE(std::regex_search(prose, std::regex("(^|[^a-z-])" + o + "($|[^a-z-])")))
        << o << " is not explained";

  for (const char* item :
       {"Open", "Save", "Center", "Orientation", "Scale", "Edit Materials", "Polygon Mode", "Material Mode",
        "Rectangle Mode", "Select All", "Clear PolyList", "Project Texture Coords", "Smooth Normals",
        "Reverse", "New Material", "Delete", "Options", "Viewpoint", "Help"})
    EXPECT_NE(manual.find("<dt>" + std::string(item) + "</dt>"), std::string::npos) << item;

  for (const char* outside : {"<script", "src=", "<link", "http:", "https:", "@import"})
    EXPECT_EQ(manual.find(outside), std::string::npos) << outside;
}

}  // namespace
