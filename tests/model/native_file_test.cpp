#include "model/native_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "model/model.h"
#include "platform/scripted/scripted_ui.h"
#include "support/model_builder.h"

namespace {

const std::string Magic("ORVANEX 2\0", 10);

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Appends a 4-byte value as it lies in memory (little-endian).
template <typename T>
void Put(std::string& b, T value) {
  b.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// A model touching every stored field: two polygons, two materials (one
// with texture and alpha names), one projection linked from a vertex.
void BuildSampleModel() {
  ClearModel();
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 0);
  AddTriangle(0, 0, 1, 2, 0, 1, 0, -3, 1, 1);
  gModel.vertices[4].projected = 1;
  gModel.vertices[4].projection = 0;
  SetMaterial(0, 0.25f, 0.5f, 0.75f);
  SetMaterial(1, 1, 0, 0, 0.5f);
  ModelMaterial& m = gModel.materials[1];
  m.specularPower = 12;
  m.emissiveBlue = 0.125f;
  m.hasTexture = 1;
  std::snprintf(m.textureFile, FileNameSize, "wood.bmp");
  m.hasAlpha = 1;
  std::snprintf(m.alphaFile, FileNameSize, "mask.bmp");
  gModel.projectionCount = 1;
  for (int i = 0; i < 16; ++i) gModel.projections[0].value[i] = float(i) * 0.5f;
  RecomputeBounds();
}

class NativeFileTest : public ::testing::Test {
 protected:
  void SetUp() override { path_ = TempPath("model.vnx"); }
  void TearDown() override { std::remove(path_.c_str()); }
  ScopedScriptedUI ui_;
  std::string path_;
};

// The empty model is the magic and three zero counts; a full one
// round-trips byte for byte, keeping every stored field.
TEST_F(NativeFileTest, SaveLoadSaveIsByteIdenticalAndKeepsEveryStoredField) {
  ClearModel();
  ASSERT_EQ(SaveNativeModel(path_.c_str()), 1);
  EXPECT_EQ(ReadAll(path_), Magic + std::string(12, '\0'));

  BuildSampleModel();
  ASSERT_EQ(SaveNativeModel(path_.c_str()), 1);
  const std::string first = ReadAll(path_);
  ASSERT_EQ(first.size(), size_t(22 + 6 * 48 + 2 * 310 + 64));
  gModel.materials[0].hidden = 1;
  ClearModel();
  ASSERT_EQ(LoadNativeModel(path_.c_str()), 1);
  EXPECT_EQ(gModel.projectionCount, 1);
  EXPECT_EQ(gModel.vertices[4].projected, 1);
  EXPECT_STREQ(gModel.materials[1].alphaFile, "mask.bmp");
  EXPECT_EQ(gModel.materials[0].hidden, 0);
  EXPECT_FLOAT_EQ(gModel.modelRadius, 3.0f) << "the min corner (0, -3, 0) is the farther one";
  ASSERT_EQ(SaveNativeModel(path_.c_str()), 1);
  EXPECT_EQ(ReadAll(path_), first);
  EXPECT_TRUE(ui_.ui.messages.empty());

  // The selection is stored as it is in memory but never restored, and
  // bytes 8 and 9 of the magic are not examined.
  gModel.vertices[1].selected = 1;
  ASSERT_EQ(SaveNativeModel(path_.c_str()), 1);
  std::string bytes = ReadAll(path_);
  EXPECT_EQ(bytes[22 + 48 + 44], 1);
  bytes[8] = '7';
  bytes[9] = 'x';
  WriteAll(path_, bytes);
  ASSERT_EQ(LoadNativeModel(path_.c_str()), 1);
  EXPECT_EQ(gModel.vertexCount, 6);
  EXPECT_EQ(gModel.vertices[1].selected, 0);
}

TEST_F(NativeFileTest, VersionOneLoadsWithoutAlphaNames) {
  // Counts at offset 0, then one polygon and one 177-byte material.
  std::string b;
  for (int32_t count : {3, 1, 0}) Put<int32_t>(b, count);
  for (int k = 0; k < 3; ++k) {
    for (float f : {float(k), float(k == 2), 0.f, 0.f, 0.f, 1.f, 0.f, 0.f}) Put<float>(b, f);
    for (int32_t i : {0, 0, 0, 1}) Put<int32_t>(b, i);
  }
  for (int i = 0; i < 11; ++i) Put<float>(b, 0.5f);
  Put<int32_t>(b, 1);
  b += "brick.bmp" + std::string(120, '\0');
  WriteAll(path_, b);

  // Stale alpha data in the slot must not survive the load.
  gModel.materials[0].hasAlpha = 1;
  std::snprintf(gModel.materials[0].alphaFile, FileNameSize, "stale.bmp");
  ASSERT_EQ(LoadNativeModel(path_.c_str()), 1);
  EXPECT_EQ(gModel.vertexCount, 3);
  EXPECT_EQ(gModel.materialCount, 1);
  EXPECT_STREQ(gModel.materials[0].textureFile, "brick.bmp");
  EXPECT_EQ(gModel.materials[0].hasAlpha, 0);
  EXPECT_STREQ(gModel.materials[0].alphaFile, "");
  EXPECT_FLOAT_EQ(gModel.maxY, 1.0f);
}

// A missing file, every prefix of a valid file, and files with hostile
// counts must be refused with a message and leave the loaded Model as it was.
TEST_F(NativeFileTest, TruncatedAndHostileFilesAreRefusedWithoutTouchingTheModel) {
  BuildSampleModel();
  ASSERT_EQ(LoadNativeModel("/nonexistent/dir/model.vnx"), 0);
  ASSERT_EQ(ui_.ui.messages.size(), 1u);
  EXPECT_EQ(ui_.ui.messages[0].text, "Could not open file: /nonexistent/dir/model.vnx");
  EXPECT_EQ(ui_.ui.messages[0].caption, "Error");
  EXPECT_EQ(gModel.vertexCount, 6);

  ASSERT_EQ(SaveNativeModel(path_.c_str()), 1);
  const std::string valid = ReadAll(path_);
  std::vector<std::string> hostile;
  for (size_t n = 0; n < valid.size(); ++n) hostile.push_back(valid.substr(0, n));
  const int32_t badCounts[][3] = {{-3, 0, 0},        {3, -1, 0},    {3, 0, -1}, {98307, 0, 0},
                                  {3, 201, 0},       {3, 0, 201},   {4, 0, 0},  {0x7FFFFFFF, 1, 1},
                                  {INT32_MIN, 0, 0}, {3, 2, 100000}};
  for (const auto& counts : badCounts) {
    std::string b = Magic;
    for (int32_t count : counts) Put<int32_t>(b, count);
    hostile.push_back(b + valid.substr(22));
  }
  for (size_t i = 0; i < hostile.size(); ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    BuildSampleModel();
    ui_.ui.messages.clear();
    WriteAll(path_, hostile[i]);
    EXPECT_EQ(LoadNativeModel(path_.c_str()), 0);
    ASSERT_EQ(ui_.ui.messages.size(), 1u);
    EXPECT_EQ(ui_.ui.messages[0].caption, "Error");
    EXPECT_EQ(ui_.ui.messages[0].text.rfind("Could not read file: " + path_, 0), 0u);
    EXPECT_EQ(gModel.vertexCount, 6);
    EXPECT_EQ(gModel.materialCount, 2);
    EXPECT_STREQ(CheckModelInvariants(), "");
  }
}

TEST_F(NativeFileTest, RandomBytesNeverBreakTheModel) {
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    // Every third file has a valid magic and small counts, so that the
    // random bytes reach the record readers.
    std::string b;
    if (round % 3 == 0) {
      b = Magic;
      for (uint32_t limit : {40u, 4u, 3u}) Put<int32_t>(b, int32_t(random() % limit));
    }
    for (size_t n = random() % 2000; n > 0; --n) b.push_back(char(random()));
    WriteAll(path_, b);
    LoadNativeModel(path_.c_str());
    ASSERT_STREQ(CheckModelInvariants(), "") << "round " << round;
  }
}

TEST_F(NativeFileTest, UnterminatedNamesAreCutAtTheBuffer) {
  BuildSampleModel();
  ASSERT_EQ(SaveNativeModel(path_.c_str()), 1);
  std::string b = ReadAll(path_);
  b.replace(22 + 6 * 48 + 48, 129, 129, 'a');  // material 0's texture name
  WriteAll(path_, b);
  ASSERT_EQ(LoadNativeModel(path_.c_str()), 1);
  EXPECT_EQ(std::strlen(gModel.materials[0].textureFile), 128u);
}

TEST_F(NativeFileTest, FailedSaveReportsAndKeepsTheExistingFile) {
  BuildSampleModel();
  WriteAll(path_, "old");

  // Writing into a folder that does not exist cannot even start.
  EXPECT_EQ(SaveNativeModel("/nonexistent/dir/out.vnx"), 0);
  ASSERT_EQ(ui_.ui.messages.size(), 1u);
  EXPECT_EQ(ui_.ui.messages[0].text, "Could not open file: /nonexistent/dir/out.vnx");

  // A write that fails part-way (the file size limit stands in for a full
  // disk) leaves the old file as it was.
  signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 100;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int result = SaveNativeModel(path_.c_str());
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(result, 0);
  ASSERT_EQ(ui_.ui.messages.size(), 2u);
  EXPECT_EQ(ui_.ui.messages[1].text, "Could not write file: " + path_);
  EXPECT_FALSE(FileExists(path_ + ".vnxtmp")) << "the temporary file is removed";
  EXPECT_EQ(ReadAll(path_), "old");
}

}  // namespace
