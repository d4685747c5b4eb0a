#include "app/commands.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/shell_state.h"
#include "model/model.h"
#include "model/native_file.h"
#include "platform/scripted/scripted_ui.h"
#include "support/model_builder.h"

namespace {

// Two good polygons and one whose first and third corners coincide.
void BuildModelWithThinPolygon() {
  ClearModel();
  SetMaterial(0, 1, 0, 0);
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 0);
  AddTriangle(5, 5, 5, 6, 5, 5, 5, 5, 5, 0);
  AddTriangle(0, 0, 1, 1, 0, 1, 0, 1, 1, 0);
  RecomputeBounds();
}

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

TEST_F(CommandsTest, OpenOffersToDeleteThinPolygons) {
  BuildModelWithThinPolygon();
  const std::string path = Temp("thin.vnx");
  ASSERT_EQ(SaveNativeModel(path.c_str()), 1);
  for (int answer : {IDNO, IDYES}) {
    SCOPED_TRACE(answer);
    ClearModel();
    gShell.modelChanged = 1;
    ui_.ui.messages.clear();
    ui_.ui.Answer(answer);
    ASSERT_EQ(OpenModelFile(path.c_str()), 1);
    EXPECT_EQ(gShell.modelChanged, 0);
    EXPECT_EQ(gShell.viewpoint, 6);
    EXPECT_FLOAT_EQ(gShell.cameraZ, -2.0f * gModel.modelRadius);
    ASSERT_EQ(ui_.ui.messages.size(), 1u);
    EXPECT_EQ(ui_.ui.messages[0].caption, "WARNING !!!");
    EXPECT_EQ(ui_.ui.messages[0].text,
              "1 infinitely thin polygon(s) were found in this model. To avoid potential errors, these "
              "polygons need to be deleted.\n\nWould you like to delete these polygons now?");
    EXPECT_EQ(ui_.ui.progressCreated, ui_.ui.progressDestroyed);
    if (answer == IDYES) {
      EXPECT_EQ(gModel.vertexCount, 6);
      EXPECT_TRUE(PolyListIsEmpty());
      continue;
    }
    // Answered No, exactly the thin polygon stays in the PolyList.
    ASSERT_EQ(gModel.vertexCount, 9);
    for (int p = 0; p < 3; ++p) {
      const ModelVertex& v = gModel.vertices[3 * p];
      EXPECT_EQ(v.selected == 1, v.x == 5.0f) << "polygon " << p;
    }
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

TEST_F(CommandsTest, NameWithoutExtensionTakesTheFiltersExtension) {
  ClearModel();
  SetMaterial(0, 1, 1, 1);
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 0);
  const std::string base = Temp("noext");
  EXPECT_EQ(SaveModelFile(base.c_str(), 1), 1);
  EXPECT_TRUE(FileExists(Temp("noext.vnx")));
  EXPECT_EQ(SaveModelFile(base.c_str(), 2), 1);
  EXPECT_TRUE(FileExists(Temp("noext.x")));
  EXPECT_FALSE(FileExists(base));
}

TEST_F(CommandsTest, SaveThenOpenFollowUp) {
  ClearModel();
  SetMaterial(0, 1, 1, 1);
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 0);
  gShell.openAfterSave = 1;
  gShell.commandPending = 0;
  EXPECT_EQ(SaveModelFile("", 1), 0) << "a cancelled dialog writes nothing";
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

TEST_F(CommandsTest, SaveAsXAsksItsQuestionsInOrderAndRestoresVExactly) {
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

TEST_F(CommandsTest, SaveAsXStripsOnlyTexturelessCoordinates) {
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

// Every foreign reader drops the projection links; the Quelt and DXF files
// are written by Save itself (DXF answered Yes after the reminder).
TEST_F(CommandsTest, OpenClearsProjectionLinksAfterEveryForeignImport) {
  for (const char* name : {"links.x", "links.qlt", "links.dxf"}) {
    SCOPED_TRACE(name);
    BuildTexturedModel();
    const std::string path = Temp(name);
    ui_.ui.messages.clear();
    ui_.ui.Answer(IDYES);
    ASSERT_EQ(SaveModelFile(path.c_str(), 1), 1);
    EXPECT_EQ(ui_.ui.messages[0].text, ReminderText);
    gModel.projectionCount = 3;
    for (int i = 0; i < gModel.vertexCount; ++i) gModel.vertices[i].projected = 1;
    ASSERT_EQ(OpenModelFile(path.c_str()), 1);
    EXPECT_GE(gModel.vertexCount, 6);
    EXPECT_EQ(gModel.projectionCount, 0);
    for (int i = 0; i < gModel.vertexCount; ++i) EXPECT_EQ(gModel.vertices[i].projected, 0);
    EXPECT_STREQ(CheckModelInvariants(), "");
  }
}

TEST_F(CommandsTest, SaveAsDxfAsksFirstAndWritesNothingOnNo) {
  BuildTexturedModel();
  const std::string path = Temp("plan.dxf");
  ui_.ui.Answer(IDNO);
  EXPECT_EQ(SaveModelFile(path.c_str(), 1), 0);
  ASSERT_EQ(ui_.ui.messages.size(), 2u);
  EXPECT_EQ(ui_.ui.messages[1].text, DxfQuestionText);
  EXPECT_FALSE(FileExists(path));
  EXPECT_EQ(gShell.modelChanged, 0) << "cleared even when nothing is written";
}

TEST_F(CommandsTest, SaveAsQueltAsksTheCoordinateQuestionAndRoundTrips) {
  BuildTexturedModel();
  const std::string path = Temp("model.qlt");
  ui_.ui.Answer(IDYES);  // remove coordinates of textureless polygons
  ASSERT_EQ(SaveModelFile(path.c_str(), 1), 1);
  ASSERT_EQ(ui_.ui.messages.size(), 2u);
  EXPECT_EQ(ui_.ui.messages[1].text, StripUVQuestionText);
  ClearModel();
  ASSERT_EQ(OpenModelFile(path.c_str()), 1);
  ASSERT_EQ(gModel.vertexCount, 6);
  EXPECT_STREQ(gModel.materials[0].textureFile, "skin.bmp");
  EXPECT_EQ(gModel.vertices[3].u, 0.0f);
  EXPECT_EQ(gModel.vertices[0].v, 0.1f);
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
  EXPECT_LT(scene.find("is for Material_A"), scene.find("is for Material_B")) << "polygons ordered by material";
}

// The Quelt reader reports only through the library's error text; Open shows it.
TEST_F(CommandsTest, FailedQueltOpenShowsTheLibraryError) {
  const std::string path = Temp("short.qlt");
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  std::fputs("ORVANEX 2", f);
  std::fclose(f);
  ClearModel();
  EXPECT_EQ(OpenModelFile(path.c_str()), 0);
  ASSERT_FALSE(ui_.ui.messages.empty());
  EXPECT_EQ(ui_.ui.messages[0].caption, "Error");
  EXPECT_NE(ui_.ui.messages[0].text.find("ImportQLT"), std::string::npos) << ui_.ui.messages[0].text;
}

}  // namespace
