#include "formats/dxf_export.h"

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

// A polygon whose corners share normal and texture coordinates, so that
// corners at one position are one export vertex.
void AddPolygon(const float (&p)[3][3], int material) {
  for (const auto& c : p)
    gModel.vertices[gModel.vertexCount++] = ModelVertex{c[0], c[1], c[2], 0, 0, 1, 0, 0, material, 0, 0, 0};
}

class ExportDxfTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgressHide();
    ClearModel();
  }
  void TearDown() override {
    std::remove(path_.c_str());
    std::remove((path_ + ".vxtmp").c_str());
    ClearModel();
  }
  int Export() {
    scripted.ui.messages.clear();
    if (!PrepareExport(0, path_.c_str())) return -1;
    return ExportDXF(path_.c_str());
  }
  ScopedScriptedUI scripted;
  const std::string path_ = TempPath("export.dxf");
};

// Materials in index order, the polygons of each in Model order; two of
// material 0 share an edge.
TEST_F(ExportDxfTest, WritesTheDescribedText) {
  SetMaterial(0, 0.2f, 0.2f, 0.2f);
  SetMaterial(1, 0.4f, 0.4f, 0.4f);
  AddPolygon({{1, 2, 3}, {-1.5f, 0.25f, 0}, {0, 0, -2}}, 1);
  AddPolygon({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, 0);
  AddPolygon({{1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, 0);
  RecomputeBounds();
  std::ofstream(path_) << "old contents";
  ASSERT_EQ(Export(), 1);
  EXPECT_EQ(ReadAll(path_), ReadAll(VORNIX_TEST_DATA_DIR "/dxf_export_small.dxf"));
  EXPECT_FALSE(FileExists(path_ + ".vxtmp"));
  EXPECT_TRUE(scripted.ui.messages.empty());
}

TEST_F(ExportDxfTest, LayerColoursRepeatEverySixteenLetters) {
  for (int m = 0; m < 17; ++m) {
    SetMaterial(m, 1, 1, 1);
    AddPolygon({{float(m), 0, 0}, {1, 0, 0}, {0, 1, 0}}, m);
  }
  ASSERT_EQ(Export(), 1);
  const std::string text = ReadAll(path_);
  for (const char* part :
       {"2\r\nLAYER\r\n70\r\n36\r\n", "2\r\nO\r\n70\r\n0\r\n62\r\n15\r\n", "2\r\nP\r\n70\r\n0\r\n62\r\n0\r\n",
        "2\r\nQ\r\n70\r\n0\r\n62\r\n1\r\n6\r\nSOLIDLINE\r\n0\r\nENDTAB\r\n",
        "3DFACE\r\n8\r\nQ\r\n10\r\n16.000000\r\n"})
    EXPECT_NE(text.find(part), std::string::npos) << part;
}

}  // namespace
