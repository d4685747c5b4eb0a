#include "platform/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <string>

#include "support/model_builder.h"

namespace {

// Texture names written on Windows, looked up in a folder where the files
// lie in other cases.
TEST(PathsTest, FindFileAnyCaseFollowsBackslashesAndIgnoresCase) {
  char start[PATH_MAX];
  ASSERT_NE(nullptr, getcwd(start, sizeof start));
  const std::string folder = TempPath("anycase");
  ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
  ASSERT_EQ(0, chdir(folder.c_str()));
  ASSERT_EQ(0, mkdir("misc", 0755));
  for (const char* name : {"misc/wood.bmp", "lightmap.bmp", "Stone.bmp", "STONE.BMP"}) std::ofstream(name) << name;

  std::string found;
  EXPECT_TRUE(FindFileAnyCase("MISC\\WOOD.BMP", &found));
  EXPECT_EQ("misc/wood.bmp", found);
  EXPECT_TRUE(FindFileAnyCase("LIGHTMAP.BMP", &found));
  EXPECT_EQ("lightmap.bmp", found);
  EXPECT_TRUE(FindFileAnyCase("STONE.BMP", &found));
  EXPECT_EQ("STONE.BMP", found) << "an exact name is preferred";
  EXPECT_TRUE(FindFileAnyCase("stone.bmp", &found));
  EXPECT_EQ("STONE.BMP", found) << "the first match in name order";
  EXPECT_TRUE(FindFileAnyCase(folder + "/Misc/Wood.bmp", &found));
  EXPECT_EQ(folder + "/misc/wood.bmp", found);
  for (const char* missing : {"misc\\bark.bmp", "C:\\pics\\wood.bmp", "", "misc"}) {
    const bool hit = FindFileAnyCase(missing, &found);
    EXPECT_EQ(std::string(missing) == "misc", hit) << missing;
    EXPECT_EQ(missing, found);
  }

  ASSERT_EQ(0, chdir(start));
  ASSERT_EQ(0, std::system(("rm -rf '" + folder + "'").c_str()));
}

// A build folder holds the bitmaps beside the program; an installed program
// finds them in share/vornix beside its bin, whatever the prefix; with
// neither, the program's own folder stays the answer.
TEST(PathsTest, DataFolderIsTheBuildFolderOrTheInstalledOne) {
  const std::string root = TempPath("layout");
  ASSERT_EQ(0, std::system(("rm -rf '" + root + "' && mkdir -p '" + root + "/build' '" + root +
                            "/prefix/bin' '" + root + "/prefix/share/vornix' '" + root + "/bare/bin'")
                               .c_str()));
  std::ofstream(root + "/build/mater2.bmp") << "panel";
  std::ofstream(root + "/prefix/share/vornix/mater2.bmp") << "panel";
  char resolved[PATH_MAX];
  ASSERT_NE(nullptr, realpath((root + "/prefix/share/vornix").c_str(), resolved));

  EXPECT_EQ(root + "/build", DataFolderFor(root + "/build"));
  EXPECT_EQ(resolved, DataFolderFor(root + "/prefix/bin"));
  EXPECT_EQ(root + "/bare/bin", DataFolderFor(root + "/bare/bin"));
  EXPECT_EQ("", DataFolderFor(""));
  // The test program lies in the build folder, beside the bitmaps.
  EXPECT_EQ(ExecutableFolder(), ProgramDataFolder());
  ASSERT_EQ(0, std::system(("rm -rf '" + root + "'").c_str()));
}

}  // namespace
