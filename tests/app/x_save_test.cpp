// The X branch of the Save command and the X dispatch of Open, through the
// scripted user interface.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "app/commands.h"
#include "app/shell_state.h"
#include "model/model.h"
#include "platform/scripted/scripted_ui.h"
#include "support/model_builder.h"

namespace {

bool FileExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

// Material 0 is textured, material 1 is not; V values are ones that do not
// survive 1 - (1 - v) exactly.
void BuildTexturedModel() {
  ClearModel();
  SetMaterial(0, 1, 0, 0);
  std::snprintf(gModel.materials[0].textureFile, FileNameSize, "skin.bmp");
  gModel.materials[0].hasTexture = 1;
  SetMaterial(1, 0, 1, 0);
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 0);
  AddTriangle(0, 0, 1, 1, 0, 1, 0, 1, 1, 1);
  for (int i = 0; i < gModel.vertexCount; ++i) gModel.vertices[i].v = 0.1f * float(i + 1);
  RecomputeBounds();
}

class XSaveTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const auto& p : cleanup_) std::remove(p.c_str());
  }
  std::string Temp(const std::string& name) {
    cleanup_.push_back(TempPath(name));
    return cleanup_.back();
  }
  ScopedScriptedUI ui_;
  std::vector<std::string> cleanup_;
};

TEST_F(XSaveTest, AsksItsQuestionsInOrderAndRestoresVExactly) {
  BuildTexturedModel();
  float before[6];
  for (int i = 0; i < 6; ++i) before[i] = gModel.vertices[i].v;
  const std::string path = Temp("answers.x");
  ui_.ui.Answer(IDYES);  // invert V
  ui_.ui.Answer(IDNO);   // keep texture coordinates
  gShell.modelChanged = 1;
  ASSERT_EQ(SaveModelFile(path.c_str(), 2), 1);

  ASSERT_EQ(ui_.ui.messages.size(), 3u);
  EXPECT_EQ(ui_.ui.messages[0].text, ReminderText);
  EXPECT_EQ(ui_.ui.messages[0].caption, "Vornix 3D! Reminder");
  EXPECT_EQ(ui_.ui.messages[1].text, InvertVQuestionText);
  EXPECT_EQ(ui_.ui.messages[2].text, StripUVQuestionText);
  EXPECT_EQ(gShell.modelChanged, 0);
  EXPECT_TRUE(PolyListIsEmpty());
  for (int i = 0; i < 6; ++i) EXPECT_EQ(gModel.vertices[i].v, before[i]) << "vertex " << i;

  // The file holds the inverted coordinates: the first textured vertex
  // (v = 0.1) is written as 1 - 0.1.
  ClearModel();
  ASSERT_EQ(OpenModelFile(path.c_str()), 1);
  ASSERT_EQ(gModel.vertexCount, 6);
  EXPECT_NEAR(gModel.vertices[0].v, 0.9f, 1e-6f);
}

TEST_F(XSaveTest, StrippingKeepsTexturedCoordinatesAndClearsTheOthers) {
  BuildTexturedModel();
  const std::string path = Temp("stripped.x");
  ui_.ui.Answer(IDYES);  // invert V
  ui_.ui.Answer(IDYES);  // remove coordinates of textureless polygons
  ASSERT_EQ(SaveModelFile(path.c_str(), 2), 1);
  for (int i = 0; i < 6; ++i) {
    const ModelVertex& v = gModel.vertices[i];
    const bool textured = gModel.materials[v.material].hasTexture == 1;
    EXPECT_EQ(v.v, textured ? 0.1f * float(i + 1) : 0.0f) << "vertex " << i;
    if (!textured) {
      EXPECT_EQ(v.u, 0.0f);
    }
  }
}

TEST_F(XSaveTest, FilterTwoGivesTheXExtensionAndThirtyMaterialsAreRefused) {
  BuildTexturedModel();
  const std::string base = Temp("noext");
  const std::string withX = Temp("noext.x");
  EXPECT_EQ(SaveModelFile(base.c_str(), 2), 1);
  EXPECT_TRUE(FileExists(withX));

  for (int i = 2; i < 30; ++i) {
    SetMaterial(i, 1, 1, 1);
    AddTriangle(float(i), 0, 0, float(i) + 1, 0, 0, float(i), 1, 0, i);
  }
  ui_.ui.messages.clear();
  const std::string thirty = Temp("thirty.x");
  EXPECT_EQ(SaveModelFile(thirty.c_str(), 2), 0);
  ASSERT_EQ(ui_.ui.messages.size(), 1u);
  EXPECT_EQ(ui_.ui.messages[0].text, TooManyMaterialsText);
  EXPECT_FALSE(FileExists(thirty));
}

TEST_F(XSaveTest, OpenClearsProjectionLinksAfterAnXImport) {
  BuildTexturedModel();
  const std::string path = Temp("links.x");
  ASSERT_EQ(SaveModelFile(path.c_str(), 2), 1);
  gModel.projectionCount = 3;
  for (int i = 0; i < gModel.vertexCount; ++i) gModel.vertices[i].projected = 1;
  ASSERT_EQ(OpenModelFile(path.c_str()), 1);
  EXPECT_EQ(gModel.projectionCount, 0);
  for (int i = 0; i < gModel.vertexCount; ++i) EXPECT_EQ(gModel.vertices[i].projected, 0);
  EXPECT_STREQ(CheckModelInvariants(), "");
}

}  // namespace
