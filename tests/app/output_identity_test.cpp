// What the program writes, held to recorded bytes: every conversion of the
// capacity models, the sample and the third-party models into every format
// it writes, and the frames of the capacity model and the sample in each
// layout. Work that should change no output (speed, above all) must leave
// every line of tests/data/golden/*.txt as it is. VORNIX_RECORD_GOLDEN=1
// writes the lists anew from the present program instead of comparing.
#include <dirent.h>
#include <gtest/gtest.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "model/native_file.h"
#include "platform/display.h"
#include "render/library_state.h"
#include "support/capacity_model.h"
#include "support/model_builder.h"
#include "support/studio_writer.h"

namespace {

uint64_t Fnv1a(const std::string& bytes) {
  uint64_t hash = 1469598103934665603ull;
  for (const unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

std::string Hex(uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') names.push_back(entry->d_name);
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

int RunVornix(std::vector<std::string> words) {
  _qlt_ResetLibraryForTests();
  ResetDisplaySettings();
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  return RunCommandLine(int(argv.size()), argv.data());
}

// Every file a command left in the folder, as "name=hash" in name order.
std::string HashesOf(const std::string& folder) {
  std::string hashes;
  for (const std::string& name : Names(folder))
    hashes += " " + name + "=" + Hex(Fnv1a(ReadAll(folder + "/" + name)));
  return hashes;
}

class OutputIdentity : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = TempPath("identity");
    std::system(("rm -rf '" + folder_ + "' && mkdir -p '" + folder_ + "/in'").c_str());
  }
  void TearDown() override {
    ASSERT_EQ(0, chdir("/"));
    std::system(("rm -rf '" + folder_ + "'").c_str());
  }

  // The capacity model as .vnx (with its texture), the other formats
  // converted from it, and a 3DS grid at capacity.
  std::vector<std::string> CapacityInputs() {
    const std::string in = folder_ + "/in/";
    BuildCapacityModel();
    EXPECT_TRUE(WriteCapacityTexture(in + CapacityTexture));
    EXPECT_EQ(1, SaveNativeModel((in + "capacity.vnx").c_str()));
    for (const char* kind : {"x", "dxf", "qlt"})
      EXPECT_EQ(0, RunVornix({"vornix", "convert", in + "capacity.vnx", in + "capacity." + kind}));
    EXPECT_TRUE(WriteStudioGrid(in + "capacity.3ds", 32768, 2, 4));
    return {in + "capacity.vnx", in + "capacity.x", in + "capacity.dxf", in + "capacity.qlt",
            in + "capacity.3ds"};
  }

  // One line per input and written kind: the exit status and the files.
  std::string Conversions(const std::vector<std::string>& inputs, const std::string& shownFrom) {
    std::string lines;
    for (const std::string& input : inputs) {
      for (const char* kind : {"vnx", "x", "dxf", "qlt", "pov"}) {
        const std::string out = folder_ + "/out";
        std::system(("rm -rf '" + out + "' && mkdir '" + out + "'").c_str());
        const int status = RunVornix({"vornix", "convert", input, out + "/model." + kind});
        lines +=
            input.substr(shownFrom.size()) + " " + kind + " " + std::to_string(status) + HashesOf(out) + "\n";
      }
    }
    return lines;
  }

  std::string folder_;
};

// Every third-party model, by the extension of its folder in any case.
std::vector<std::string> CorpusModels() {
  std::vector<std::string> models;
  for (const std::string kind : {"3ds", "dxf", "x"}) {
    const std::string folder = std::string(VORNIX_CORPUS_DIR) + "/" + kind;
    for (const std::string& name : Names(folder)) {
      const size_t dot = name.rfind('.');
      if (dot != std::string::npos && strcasecmp(name.c_str() + dot + 1, kind.c_str()) == 0)
        models.push_back(folder + "/" + name);
    }
  }
  return models;
}

// The conversions at capacity take a minute under the sanitizers, whose
// build is there for memory faults; the bytes are held by the plain build.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool SlowBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool SlowBuild = true;
#else
constexpr bool SlowBuild = false;
#endif
#else
constexpr bool SlowBuild = false;
#endif

// Compares with the recorded list, or records it. Lines of inputs that are
// missing here (the third-party models) are not compared.
void Compare(const std::string& name, const std::string& lines, bool partial) {
  const std::string path = std::string(VORNIX_TEST_DATA_DIR) + "/golden/" + name;
  if (std::getenv("VORNIX_RECORD_GOLDEN")) {
    std::ofstream(path, std::ios::binary) << lines;
    return;
  }
  std::istringstream recorded(ReadAll(path)), present(lines);
  std::vector<std::string> want, got;
  for (std::string line; std::getline(recorded, line);) want.push_back(line);
  for (std::string line; std::getline(present, line);) got.push_back(line);
  ASSERT_FALSE(want.empty()) << path << " holds nothing";
  for (const std::string& line : got) {
    EXPECT_NE(std::find(want.begin(), want.end(), line), want.end()) << "not as recorded: " << line;
  }
  if (!partial) {
    EXPECT_EQ(want.size(), got.size());
  }
}

TEST_F(OutputIdentity, EveryConversionWritesTheRecordedBytes) {
  if (SlowBuild) GTEST_SKIP() << "held by the build without sanitizers";
  Compare("conversions.txt",
          Conversions(CapacityInputs(), folder_ + "/in/") +
              Conversions({VORNIX_SAMPLE_MODEL}, VORNIX_BUILD_DIR "/"),
          false);
}

TEST_F(OutputIdentity, EveryThirdPartyModelConvertsToTheRecordedBytes) {
  if (SlowBuild) GTEST_SKIP() << "held by the build without sanitizers";
  const std::vector<std::string> models = CorpusModels();
  if (models.empty()) GTEST_SKIP() << "no third-party models in " << VORNIX_CORPUS_DIR;
  Compare("corpus_conversions.txt", Conversions(models, std::string(VORNIX_CORPUS_DIR) + "/"), true);
}

TEST_F(OutputIdentity, EveryFrameHasTheRecordedPixels) {
  CapacityInputs();
  const std::string capacity = folder_ + "/in/capacity.vnx", frame = folder_ + "/frame.png";
  std::string lines;
  const auto render = [&](const std::string& model, const std::string& shown, const char* size,
                          const char* layout) {
    const int status = RunVornix(
        {"vornix", "render", model, "-o", frame, "--size", size, "--layout", layout, "--view", "3d"});
    lines += shown + " " + size + " " + layout + " " + std::to_string(status) + " " +
             Hex(Fnv1a(ReadAll(frame))) + "\n";
  };
  for (const char* layout : {"both", "render", "select"}) {
    render(capacity, "capacity.vnx", "1024x768", layout);
    render(VORNIX_SAMPLE_MODEL, "IndyCar.vnx", "640x480", layout);
  }
  Compare("frames.txt", lines, false);
}

}  // namespace
