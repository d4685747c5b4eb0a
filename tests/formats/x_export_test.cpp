#include "formats/x_export.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "formats/export_tables.h"
#include "formats/x_import.h"
#include "model/model.h"
#include "platform/scripted/scripted_ui.h"
#include "render/progress_box.h"
#include "support/model_builder.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

bool Exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

void Put(float x, float y, float z, float nz, float u, float v, int material) {
  ModelVertex& vertex = gModel.vertices[gModel.vertexCount++];
  vertex = ModelVertex{x, y, z, 0, 0, nz, u, v, material, 0, 0, 0};
}

// Two materials, the first textured; two polygons of material 0 share an
// edge, the polygon of material 1 touches them only in position.
void BuildSmallModel() {
  ClearModel();
  SetMaterial(0, 1.0f, 0.5f, 0.25f);
  ModelMaterial& a = gModel.materials[0];
  a.specularPower = 8;
  a.specularRed = 0.1f;
  a.specularGreen = 0.2f;
  a.specularBlue = 0.3f;
  a.hasTexture = 1;
  std::snprintf(a.textureFile, FileNameSize, "wood.bmp");
  SetMaterial(1, 0.2f, 0.4f, 0.6f, 0.75f);
  ModelMaterial& b = gModel.materials[1];
  b.emissiveRed = 0.5f;
  b.hasAlpha = 1;  // alpha bitmaps are not part of the format
  std::snprintf(b.alphaFile, FileNameSize, "mask.bmp");

  Put(-1.25f, 0, 0.5f, 1, 0, 1, 0);
  Put(1, 0, 0.5f, 1, 1, 1, 0);
  Put(-1.25f, 2, 0.5f, 1, 0, 0, 0);
  Put(1, 0, 0.5f, 1, 1, 1, 0);
  Put(1, 2, 0.5f, 1, 1, 0, 0);
  Put(-1.25f, 2, 0.5f, 1, 0, 0, 0);
  // Texture coordinates of the textureless material are cleared on export.
  Put(1, 0, 0.5f, -1, 0.5f, 0.5f, 1);
  Put(3, 0, 0.5f, -1, 0.25f, 0.5f, 1);
  Put(1, 2, 0.5f, -1, 0.5f, 0.75f, 1);
  RecomputeBounds();
}

class ExportXTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgressHide();
    path_ = TempPath("export.x");
  }
  void TearDown() override {
    std::remove(path_.c_str());
    std::remove((path_ + ".xtmp").c_str());
    ClearModel();
  }
  ScopedScriptedUI scripted;
  std::string path_;
};

TEST_F(ExportXTest, WritesTheDescribedTextOverAnExistingFile) {
  BuildSmallModel();
  WriteAll(path_, "old contents");
  ASSERT_EQ(PrepareExport(1, path_.c_str()), 1);
  ASSERT_EQ(ExportX(path_.c_str()), 1);
  const std::string expected = ReadAll(VORNIX_TEST_DATA_DIR "/x_export_small.x");
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(ReadAll(path_), expected);
  EXPECT_FALSE(Exists(path_ + ".xtmp"));
  EXPECT_TRUE(scripted.ui.messages.empty());
}

TEST_F(ExportXTest, LettersRunPastZAndFacesAreNumberedAfterEarlierBlocks) {
  ClearModel();
  for (int m = 0; m < 27; ++m) SetMaterial(m, 1, 1, 1);
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 0);
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 1);
  AddTriangle(0, 0, 0, 1, 0, 0, 2, 1, 0, 1);  // shares two records with the one above
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 26);
  ASSERT_EQ(PrepareExport(0, path_.c_str()), 1);
  ASSERT_EQ(ExportX(path_.c_str()), 1);
  const std::string text = ReadAll(path_);
  for (const char* part :
       {"Material Z {\r\n", "Material [ {\r\n", "        {[}\r\n    }\r\n", "    10;\r\n", "    4;\r\n",
        "    3;0,1,2;,\r\n    3;3,4,5;,\r\n    3;3,4,6;,\r\n    3;7,8,9;;\r\n\r\n",
        "        27;\r\n        4;\r\n        0,\r\n        1,\r\n        1,\r\n        26;;\r\n",
        "        3;0,1,2;,\r\n        3;3,4,5;,\r\n        3;3,4,6;,\r\n        3;7,8,9;;\r\n    }\r\n"})
    EXPECT_NE(text.find(part), std::string::npos) << part;
  EXPECT_EQ(text.find("TextureFilename {\r\n        "), std::string::npos) << "no material has a texture";
}

TEST_F(ExportXTest, RefusesWhatCannotBeWritten) {
  struct Case {
    const char* name;
    void (*prepare)(const std::string& path);
    std::string target;  // empty: the test's own path
    std::string text;
    const char* caption;
  };
  const std::string missing = "/nonexistent_vornix_folder/out.x";
  const Case cases[] = {
      {"no faces",
       [](const std::string& path) {
         ClearModel();
         SetMaterial(0, 1, 1, 1);
         PrepareExport(0, path.c_str());
       },
       "", "Nothing to save...", "Vornix 3D!"},
      {"missing folder",
       [](const std::string& path) {
         BuildSmallModel();
         PrepareExport(0, path.c_str());
       },
       missing, "Could not create .X file: " + missing, "Error"},
      {"tables of another model",
       [](const std::string& path) {
         BuildSmallModel();
         PrepareExport(0, path.c_str());
         SetMaterial(2, 1, 1, 1);
       },
       "", "%s can not be written: the export tables do not match the model.", "Error"},
  };
  for (const Case& c : cases) {
    const std::string target = c.target.empty() ? path_ : c.target;
    c.prepare(target);
    scripted.ui.messages.clear();
    EXPECT_EQ(ExportX(target.c_str()), 0) << c.name;
    std::string text = c.text;
    if (text.compare(0, 2, "%s") == 0) text = target + text.substr(2);
    ASSERT_EQ(scripted.ui.messages.size(), 1u) << c.name;
    EXPECT_EQ(scripted.ui.messages[0].text, text) << c.name;
    EXPECT_EQ(scripted.ui.messages[0].caption, c.caption) << c.name;
    EXPECT_FALSE(Exists(target)) << c.name;
    EXPECT_FALSE(Exists(target + ".xtmp")) << c.name;
  }
}

TEST_F(ExportXTest, FailedWriteLeavesTheExistingFileAndNoTemporary) {
  if (!Exists("/dev/full")) GTEST_SKIP() << "needs /dev/full";
  BuildSmallModel();
  WriteAll(path_, "old contents");
  // The temporary file is a device on which every write fails.
  ASSERT_EQ(symlink("/dev/full", (path_ + ".xtmp").c_str()), 0);
  ASSERT_EQ(PrepareExport(0, path_.c_str()), 1);
  EXPECT_EQ(ExportX(path_.c_str()), 0);
  ASSERT_EQ(scripted.ui.messages.size(), 1u);
  EXPECT_EQ(scripted.ui.messages[0].text, "Could not write file: " + path_);
  EXPECT_EQ(scripted.ui.messages[0].caption, "Error");
  EXPECT_EQ(ReadAll(path_), "old contents");
  EXPECT_FALSE(Exists(path_ + ".xtmp"));
}

TEST_F(ExportXTest, ImportReadsBackTheSamePolygonsMaterialsAndNormals) {
  BuildSmallModel();
  ASSERT_EQ(PrepareExport(1, path_.c_str()), 1);
  ASSERT_EQ(ExportX(path_.c_str()), 1);
  auto exported = std::make_unique<Model>();
  std::memcpy(exported.get(), &gModel, sizeof(Model));
  ClearModel();
  ASSERT_EQ(ImportX(path_.c_str()), 1);
  ASSERT_EQ(gModel.vertexCount, exported->vertexCount);
  ASSERT_EQ(gModel.materialCount, exported->materialCount);
  for (int i = 0; i < gModel.vertexCount; ++i) {
    const ModelVertex &a = exported->vertices[i], &b = gModel.vertices[i];
    const float want[9] = {a.x, a.y, a.z, a.nx, a.ny, a.nz, a.u, a.v, float(a.material)};
    const float got[9] = {b.x, b.y, b.z, b.nx, b.ny, b.nz, b.u, b.v, float(b.material)};
    for (int f = 0; f < 9; ++f) EXPECT_EQ(got[f], want[f]) << "vertex " << i << " field " << f;
  }
  for (int m = 0; m < gModel.materialCount; ++m) {
    const ModelMaterial &a = exported->materials[m], &b = gModel.materials[m];
    EXPECT_EQ(std::memcmp(&a.red, &b.red, 11 * sizeof(float)), 0) << m;
    EXPECT_EQ(b.hasTexture, a.hasTexture) << m;
    EXPECT_STREQ(b.textureFile, a.textureFile) << m;
  }
}

}  // namespace
