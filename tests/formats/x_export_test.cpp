#include "formats/x_export.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "formats/export_tables.h"
#include "model/model.h"
#include "platform/scripted/scripted_ui.h"
#include "render/progress_box.h"
#include "support/model_builder.h"

namespace {

// Two materials, the first textured; two polygons of material 0 share an
// edge, the polygon of material 1 touches them only in position.
void BuildSmallModel() {
  ClearModel();
  SetMaterial(0, 1.0f, 0.5f, 0.25f);
  ModelMaterial& a = gModel.materials[0];
  a.specularPower = 8;
  a.specularRed = 0.1f, a.specularGreen = 0.2f, a.specularBlue = 0.3f;
  a.hasTexture = 1;
  std::snprintf(a.textureFile, FileNameSize, "wood.bmp");
  SetMaterial(1, 0.2f, 0.4f, 0.6f, 0.75f);
  ModelMaterial& b = gModel.materials[1];
  b.emissiveRed = 0.5f;
  b.hasAlpha = 1;  // alpha bitmaps are not part of the format
  std::snprintf(b.alphaFile, FileNameSize, "mask.bmp");
  // x, y, nz, u, v, material; texture coordinates of the textureless
  // material are cleared on export.
  const float corners[9][6] = {{-1.25f, 0, 1, 0, 1, 0}, {1, 0, 1, 1, 1, 0},       {-1.25f, 2, 1, 0, 0, 0},
                               {1, 0, 1, 1, 1, 0},      {1, 2, 1, 1, 0, 0},       {-1.25f, 2, 1, 0, 0, 0},
                               {1, 0, -1, .5f, .5f, 1}, {3, 0, -1, .25f, .5f, 1}, {1, 2, -1, .5f, .75f, 1}};
  for (const auto& c : corners)
    gModel.vertices[gModel.vertexCount++] =
        ModelVertex{c[0], c[1], 0.5f, 0, 0, c[2], c[3], c[4], int(c[5]), 0, 0, 0};
  RecomputeBounds();
}

class ExportXTest : public ::testing::Test {
 protected:
  void SetUp() override { ProgressHide(); }
  void TearDown() override {
    std::remove(path_.c_str());
    std::remove((path_ + ".vxtmp").c_str());
    ClearModel();
  }
  ScopedScriptedUI scripted;
  const std::string path_ = TempPath("export.x");
};

TEST_F(ExportXTest, WritesTheDescribedTextOverAnExistingFile) {
  BuildSmallModel();
  std::ofstream(path_) << "old contents";
  ASSERT_EQ(PrepareExport(1, path_.c_str()), 1);
  ASSERT_EQ(ExportX(path_.c_str()), 1);
  const std::string expected = ReadAll(VORNIX_TEST_DATA_DIR "/x_export_small.x");
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(ReadAll(path_), expected);
  EXPECT_FALSE(FileExists(path_ + ".vxtmp"));
  EXPECT_TRUE(scripted.ui.messages.empty());
}

TEST_F(ExportXTest, LettersRunPastZAndFacesAreNumberedAfterEmptyBlocks) {
  ClearModel();
  for (int m = 0; m < 27; ++m) SetMaterial(m, 1, 1, 1);
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 0);
  AddTriangle(0, 0, 0, 1, 0, 0, 2, 1, 0, 26);
  ASSERT_EQ(PrepareExport(0, path_.c_str()), 1);
  ASSERT_EQ(ExportX(path_.c_str()), 1);
  const std::string text = ReadAll(path_);
  for (const char* part :
       {"Material [ {\r\n", "        {Z}\r\n        {[}\r\n    }\r\n", "    3;0,1,2;,\r\n    3;3,4,5;;\r\n",
        "        27;\r\n        2;\r\n        0,\r\n        26;;"})
    EXPECT_NE(text.find(part), std::string::npos) << part;
}

}  // namespace
