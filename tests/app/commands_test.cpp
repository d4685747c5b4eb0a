#include "app/commands.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/shell_state.h"
#include "model/model.h"
#include "model/native_file.h"
#include "platform/scripted/scripted_ui.h"
#include "support/model_builder.h"

namespace {

class CommandsTest : public ::testing::Test {
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

TEST_F(CommandsTest, FileKindComesFromTheExtensionsFirstCharacter) {
  EXPECT_EQ(ReadKindOf("a/b.VNX"), FileKind::Native);
  EXPECT_EQ(ReadKindOf("car.Xyz"), FileKind::DirectX);
  EXPECT_EQ(ReadKindOf("plan.dwg"), FileKind::Dxf);
  EXPECT_EQ(ReadKindOf("ship.3ds"), FileKind::Studio3D);
  EXPECT_EQ(ReadKindOf("dir.vnx/noextension"), FileKind::Unknown);
  EXPECT_EQ(ReadKindOf("scene.pov"), FileKind::Unknown) << "scenes are written, never read";
  EXPECT_EQ(WriteKindOf("scene.pov"), FileKind::Pov);
  EXPECT_EQ(WriteKindOf("ship.3ds"), FileKind::Unknown) << "3D Studio files are read only";
}

// Open leaves the model unchanged in the viewer's view and asks about the
// polygon whose first and third corners coincide; No keeps exactly that one
// in the PolyList.
TEST_F(CommandsTest, OpenOffersToDeleteThinPolygons) {
  ClearModel();
  SetMaterial(0, 1, 0, 0);
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 0);
  AddTriangle(5, 5, 5, 6, 5, 5, 5, 5, 5, 0);
  AddTriangle(0, 0, 1, 1, 0, 1, 0, 1, 1, 0);
  const std::string path = Temp("thin.vnx");
  ASSERT_EQ(SaveNativeModel(path.c_str()), 1);
  for (int answer : {IDNO, IDYES}) {
    ClearModel();
    gShell.modelChanged = 1;
    ui_.ui.messages.clear();
    ui_.ui.Answer(answer);
    ASSERT_EQ(OpenModelFile(path.c_str()), 1);
    EXPECT_EQ(gShell.modelChanged, 0);
    EXPECT_EQ(gShell.viewpoint, 6);
    EXPECT_FLOAT_EQ(gShell.cameraZ, -2.0f * gModel.modelRadius);
    ASSERT_EQ(ui_.ui.messages.size(), 1u);
    EXPECT_EQ(ui_.ui.messages[0].text.rfind("1 infinitely thin polygon(s)", 0), 0u);
    EXPECT_EQ(ui_.ui.progressCreated, ui_.ui.progressDestroyed);
    ASSERT_EQ(gModel.vertexCount, answer == IDYES ? 6 : 9);
    for (int p = 0; p < gModel.vertexCount / 3; ++p)
      EXPECT_EQ(gModel.vertices[3 * p].selected == 1, answer == IDNO && p == 1) << answer << " " << p;
  }
}

TEST_F(CommandsTest, OpenOfAnUnknownExtensionLoadsNothingButTidiesTheModel) {
  ClearModel();
  SetMaterial(0, 1, 0, 0, 0.5f);
  SetMaterial(1, 0, 1, 0, 1.0f);
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 0);
  AddTriangle(0, 0, 1, 1, 0, 1, 0, 1, 1, 1);
  gModel.vertices[0].selected = gModel.vertices[1].selected = gModel.vertices[2].selected = 1;
  EXPECT_EQ(OpenModelFile("model.obj"), 0);
  EXPECT_EQ(gModel.vertexCount, 6);
  EXPECT_EQ(gModel.materials[0].alpha, 1.0f) << "the clean-up sorted materials by alpha";
  EXPECT_TRUE(PolyListIsEmpty());
}

TEST_F(CommandsTest, SaveRefusesTinyModelsAndThirtyMaterials) {
  ClearModel();
  EXPECT_EQ(SaveModelFile(Temp("tiny.vnx").c_str(), 1), 0);
  ASSERT_EQ(ui_.ui.messages.size(), 1u);
  EXPECT_EQ(ui_.ui.messages[0].text, "Nothing to save...");

  for (int i = 0; i < 30; ++i) {
    SetMaterial(i, 1, 1, 1);
    AddTriangle(float(i), 0, 0, float(i) + 1, 0, 0, float(i), 1, 0, i);
  }
  gShell.modelChanged = 1;
  const std::string thirty = Temp("thirty.vnx");
  for (const std::string& path : {thirty, Temp("thirty.x"), Temp("thirty.dxf"), Temp("thirty.qlt")}) {
    ui_.ui.messages.clear();
    EXPECT_EQ(SaveModelFile(path.c_str(), 1), 0);
    ASSERT_EQ(ui_.ui.messages.size(), 1u) << "no reminder or question before the refusal";
    EXPECT_EQ(ui_.ui.messages[0].text, TooManyMaterialsText);
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(gShell.modelChanged, 1);
  }

  gModel.materialCount = 29;
  gModel.vertexCount = 29 * 3;
  EXPECT_EQ(SaveModelFile(thirty.c_str(), 1), 1);
  EXPECT_TRUE(FileExists(thirty));
  EXPECT_EQ(gShell.modelChanged, 0);
}

// A name without an extension takes the filter's; a cancelled dialog (an
// empty name) writes nothing and drops the Open that was to follow.
TEST_F(CommandsTest, SaveNamesTakeTheFiltersExtension) {
  ClearModel();
  SetMaterial(0, 1, 1, 1);
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 0);
  const std::string base = Temp("noext");
  EXPECT_EQ(SaveModelFile(base.c_str(), 1), 1);
  EXPECT_TRUE(FileExists(Temp("noext.vnx")));
  EXPECT_EQ(SaveModelFile(base.c_str(), 2), 1);
  EXPECT_TRUE(FileExists(Temp("noext.x")));
  EXPECT_FALSE(FileExists(base));

  gShell.openAfterSave = 1;
  gShell.commandPending = 0;
  EXPECT_EQ(SaveModelFile("", 1), 0);
  EXPECT_EQ(gShell.openAfterSave, 0);
  EXPECT_EQ(gShell.commandPending, 1);
  EXPECT_EQ(gShell.pendingCommand, 0);
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

// The questions come after the reminder, in order. Inverting V changes only
// the file: the Model keeps its V values exactly. Stripping clears the
// coordinates of textureless polygons, in the Model too. DXF answered No
// writes nothing, yet the model counts as saved. Reading a foreign file back
// drops every projection link (DXF keeps each polygon with a zero-area twin).
TEST_F(CommandsTest, SaveAsForeignFormatsAsksItsQuestionsInOrder) {
  struct Case {
    const char* name;
    int filter;
    std::vector<int> answers;
    std::vector<const char*> questions;
    int fileVertices;  // 0: nothing written
    bool stripped;
    float fileV0;  // below 0: no texture coordinates in the file
  } cases[] = {
      {"keep.x", 2, {IDYES, IDNO}, {InvertVQuestionText, StripUVQuestionText}, 6, false, 0.9f},
      {"strip.x", 2, {IDYES, IDYES}, {InvertVQuestionText, StripUVQuestionText}, 6, true, 0.9f},
      {"model.qlt", 1, {IDYES}, {StripUVQuestionText}, 6, true, 0.1f},
      {"plan.dxf", 1, {IDYES}, {DxfQuestionText}, 12, false, -1},
      {"none.dxf", 1, {IDNO}, {DxfQuestionText}, 0, false, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BuildTexturedModel();
    const ModelVertex before = gModel.vertices[4];
    const std::string path = Temp(c.name);
    ui_.ui.messages.clear();
    for (int answer : c.answers) ui_.ui.Answer(answer);
    gShell.modelChanged = 1;
    EXPECT_EQ(SaveModelFile(path.c_str(), c.filter), int(c.fileVertices > 0));
    ASSERT_EQ(ui_.ui.messages.size(), 1 + c.questions.size());
    EXPECT_EQ(ui_.ui.messages[0].text, ReminderText);
    EXPECT_EQ(ui_.ui.messages[0].caption, "Vornix 3D! Reminder");
    for (size_t q = 0; q < c.questions.size(); ++q) EXPECT_EQ(ui_.ui.messages[1 + q].text, c.questions[q]);
    EXPECT_EQ(gShell.modelChanged, 0);
    EXPECT_TRUE(PolyListIsEmpty());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(gModel.vertices[i].v, 0.1f * float(i + 1)) << "vertex " << i;
    EXPECT_EQ(gModel.vertices[4].u, c.stripped ? 0.0f : before.u);
    EXPECT_EQ(gModel.vertices[4].v, c.stripped ? 0.0f : before.v);
    EXPECT_EQ(FileExists(path), c.fileVertices > 0);
    if (c.fileVertices == 0) continue;
    gModel.projectionCount = 3;
    for (int i = 0; i < gModel.vertexCount; ++i) gModel.vertices[i].projected = 1;
    ASSERT_EQ(OpenModelFile(path.c_str()), 1);
    ASSERT_EQ(gModel.vertexCount, c.fileVertices);
    EXPECT_EQ(gModel.projectionCount, 0);
    for (int i = 0; i < gModel.vertexCount; ++i) EXPECT_EQ(gModel.vertices[i].projected, 0);
    EXPECT_STREQ(CheckModelInvariants(), "");
    if (c.fileV0 < 0) continue;
    EXPECT_STREQ(gModel.materials[0].textureFile, "skin.bmp");
    EXPECT_NEAR(gModel.vertices[0].v, c.fileV0, 1e-6f);
    EXPECT_EQ(gModel.vertices[4].u, c.stripped ? 0.0f : before.u);
  }
}

// The scene shows the viewer's camera, background and light; the clean-up
// drops the unused material first, so the letters close up.
TEST_F(CommandsTest, SaveAsPovRemindsCleansUpAndUsesTheViewersCamera) {
  ClearModel();
  SetMaterial(0, 1, 0, 0);
  SetMaterial(1, 0, 1, 0);
  SetMaterial(2, 0, 0, 1);
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 2);
  AddTriangle(0, 0, 1, 1, 0, 1, 0, 1, 1, 0);
  RecomputeBounds();
  gShell.panX = 1.5f, gShell.panY = -2, gShell.cameraZ = -7;
  const std::string base = Temp("scene");
  const std::string path = Temp("scene.pov");
  ASSERT_EQ(SaveModelFile(base.c_str(), 5), 1);
  ASSERT_EQ(ui_.ui.messages.size(), 1u);
  EXPECT_EQ(ui_.ui.messages[0].text, ReminderText);
  const std::string scene = ReadAll(path);
  for (const char* part : {"    location <1.500000,-2.000000,-7.000000>\r\n",
                           "background\r\n{\r\n    color red 0.100000 green 0.200000 blue 0.100000\r\n",
                           "    <0, 1000000, 0>\r\n    color red 1.000000 green 0.950000 blue 0.900000\r\n",
                           "#declare Material_B = texture\r\n{\r\n    pigment\r\n        {\r\n"
                           "        color red 0.000000 green 0.000000 blue 1.000000\r\n"})
    EXPECT_NE(scene.find(part), std::string::npos) << part;
  EXPECT_EQ(scene.find("Material_C"), std::string::npos);
  EXPECT_LT(scene.find("is for Material_A"), scene.find("is for Material_B"))
      << "polygons ordered by material";
}

// The Quelt reader reports only through the library's error text; Open shows it.
TEST_F(CommandsTest, FailedQueltOpenShowsTheLibraryError) {
  const std::string path = Temp("short.qlt");
  std::ofstream(path, std::ios::binary) << "ORVANEX 2";
  ClearModel();
  EXPECT_EQ(OpenModelFile(path.c_str()), 0);
  ASSERT_FALSE(ui_.ui.messages.empty());
  EXPECT_EQ(ui_.ui.messages[0].caption, "Error");
  EXPECT_NE(ui_.ui.messages[0].text.find("ImportQLT"), std::string::npos) << ui_.ui.messages[0].text;
}

}  // namespace
