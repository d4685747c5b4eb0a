// The panel's model commands run as the main loop runs them, with their
// dialogs played by the scripted user interface.
#include "app/menu_commands.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "app/shell_state.h"
#include "app/viewports.h"
#include "dialogs/centre_dialog.h"
#include "dialogs/options_dialog.h"
#include "dialogs/orientation_dialog.h"
#include "dialogs/projection_settings_dialog.h"
#include "dialogs/reverse_dialog.h"
#include "dialogs/scale_dialog.h"
#include "dialogs/smoothing_dialog.h"
#include "dialogs/viewpoint_dialog.h"
#include "model/cleanup.h"
#include "model/geometry.h"
#include "model/model.h"
#include "model/normals.h"
#include "platform/scripted/scripted_ui.h"
#include "render/library_state.h"
#include "support/model_builder.h"

namespace {

using Action = DialogAction;

class MenuCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    gShell = ShellState();
    gView = ViewState();
    ClearModel();
    SetMaterial(0, 1, 0, 0);
    // Spans X 2..6, Y -1.5..1, Z 0..1.
    AddTriangle(2, -1.5f, 0, 6, -1.5f, 0, 4, 1, 1, 0);
    AddTriangle(2, 0, 0, 3, 0, 0, 2, 1, 0, 0);
    RecomputeBounds();
    std::memcpy(background_, viewportBackground, sizeof background_);
  }
  // The Options dialog sets the background, which later scenes and frames use.
  void TearDown() override {
    ClearModel();
    std::memcpy(viewportBackground, background_, sizeof background_);
  }

  ScriptedUI& ui() { return scripted_.ui; }
  const ScriptedUI::DialogRun& LastDialog() { return ui().dialogs.back(); }
  const std::string& LastMessage() { return ui().messages.back().text; }

 private:
  float background_[3];
  ScopedScriptedUI scripted_;
};

TEST_F(MenuCommands, CentreFillsTheFieldsFromTheExtentsAndTranslatesOnOk) {
  ui().ScriptDialog(CentreDialogResource, {Action::Press(CalcCentreX), Action::Press(CalcCentreFloor),
                                           Action::Type(CentreZField, "  -0.5xyz"), Action::Press(IDC_OK)});
  RunCommand(2);
  ASSERT_EQ(1u, ui().dialogs.size());
  EXPECT_EQ("-4.000000", LastDialog().texts.at(CentreXField));
  EXPECT_EQ("1.500000", LastDialog().texts.at(CentreYField));
  EXPECT_NE(std::string::npos, LastDialog().texts.at(CentreExtents).find("X extents range from 2.000000 to 6.000000"));
  EXPECT_FLOAT_EQ(-2, gModel.minX);
  EXPECT_FLOAT_EQ(2, gModel.maxX);
  EXPECT_FLOAT_EQ(0, gModel.minY);
  EXPECT_FLOAT_EQ(-0.5f, gModel.minZ) << "the number at the start of the text counts";
  EXPECT_EQ(1, gShell.modelChanged);

  gShell.modelChanged = 0;
  ui().ScriptDialog(CentreDialogResource, {Action::Press(CalcCentreY), Action::Press(IDC_CANCEL)});
  RunCommand(2);
  EXPECT_FLOAT_EQ(-2, gModel.minX);
  EXPECT_EQ(0, gShell.modelChanged);
}

TEST_F(MenuCommands, OrientationButtonsRotateAtOnce) {
  Model* expected = new Model;
  RotateY(90);
  *expected = gModel;
  SetUp();
  ui().ScriptDialog(OrientationDialogResource,
                    {Action::Type(OrientationXField, "30"), Action::Press(OrientationPlusY)});
  RequestRotationStep(RotationStep::Left);
  RunCommand(3);
  EXPECT_EQ(1, LastDialog().result);
  EXPECT_EQ("0.0", LastDialog().texts.at(OrientationXField));
  EXPECT_EQ("90.0", LastDialog().texts.at(OrientationYField));
  for (int i = 0; i < gModel.vertexCount; ++i) {
    EXPECT_FLOAT_EQ(expected->vertices[i].x, gModel.vertices[i].x);
    EXPECT_FLOAT_EQ(expected->vertices[i].z, gModel.vertices[i].z);
  }
  delete expected;
  ApplyRotationSteps();
  EXPECT_FLOAT_EQ(1, gShell.viewRotation[0][0]) << "the pending view step was dropped";

  // The top view button shows the Model from the top and turns nothing.
  const float x0 = gModel.vertices[0].x;
  ui().ScriptDialog(OrientationDialogResource, {Action::Press(OrientationTopView)});
  RunCommand(3);
  EXPECT_EQ(1, gShell.viewpoint);
  EXPECT_FLOAT_EQ(x0, gModel.vertices[0].x);
  EXPECT_NEAR(1.0f, std::fabs(gShell.viewRotation[1][2]), 1e-6f);
}

TEST_F(MenuCommands, ScaleHeightOnlyDoublesYAndTheSizesShowIt) {
  ui().ScriptDialog(ScaleDialogResource, {Action::Press(ScaleHeightOnly), Action::Type(ScaleFactorField, "2"),
                                          Action::Press(IDC_OK)});
  RunCommand(4);
  EXPECT_FLOAT_EQ(-3, gModel.minY);
  EXPECT_FLOAT_EQ(2, gModel.maxY);
  EXPECT_FLOAT_EQ(2, gModel.minX);
  EXPECT_FLOAT_EQ(1, gModel.maxZ);
  ui().ScriptDialog(ScaleDialogResource, {});
  RunCommand(4);
  EXPECT_EQ("Width of Model (X) = 4.000000\nHeight of Model (Y) = 5.000000\nLength of Model (Z) = 1.000000",
            LastDialog().texts.at(ScaleSizes));
  EXPECT_EQ("1.0", LastDialog().texts.at(ScaleFactorField));
  EXPECT_EQ(1, LastDialog().checks.at(ScaleUniform)) << "the mode starts uniform every time";
}

TEST_F(MenuCommands, SmoothingChecksTheAngleRange) {
  SelectAll();
  for (const char* angle : {"0", "179", "", "-1", "179.5", "180"}) {
    for (int i = 0; i < gModel.vertexCount; ++i) gModel.vertices[i].nx = gModel.vertices[i].ny = gModel.vertices[i].nz = 0;
    gShell.modelChanged = 0;
    ui().messages.clear();
    ui().ScriptDialog(SmoothingDialogResource, {Action::Type(SmoothingAngleField, angle), Action::Press(IDC_OK)});
    RunCommand(12);
    const bool accepted = ui().messages.empty();
    const bool expected = std::strcmp(angle, "-1") != 0 && std::strcmp(angle, "179.5") != 0 &&
                          std::strcmp(angle, "180") != 0;
    EXPECT_EQ(expected, accepted) << angle;
    if (!accepted) {
      EXPECT_STREQ(AngleRangeText, LastMessage().c_str());
    }
    EXPECT_EQ(expected ? 1 : 0, gShell.modelChanged) << angle;
    const ModelVertex& v = gModel.vertices[0];
    EXPECT_NEAR(expected ? 1.0f : 0.0f, v.nx * v.nx + v.ny * v.ny + v.nz * v.nz, 1e-5f) << angle;
  }
  ui().ScriptDialog(SmoothingDialogResource, {});
  RunCommand(12);
  EXPECT_EQ("45", LastDialog().texts.at(SmoothingAngleField));
}

TEST_F(MenuCommands, OptionsLayoutActsAtOnceTheRestAfterOk) {
  _qlt_CullMode = 3;
  ui().ScriptDialog(OptionsDialogResource, {Action::Press(LayoutSelect), Action::Press(CullNone),
                                            Action::Press(ShowSpecular), Action::Press(IDC_CANCEL)});
  RunCommand(16);
  EXPECT_EQ(2, gShell.viewLayout);
  EXPECT_EQ(3u, _qlt_CullMode);
  EXPECT_EQ(0, gView.specular);
  EXPECT_EQ("0.100000", LastDialog().texts.at(BackgroundRed));
  EXPECT_EQ("0.950000", LastDialog().texts.at(LightGreen));
  EXPECT_EQ(1, LastDialog().checks.at(LayoutSelect));

  ui().ScriptDialog(OptionsDialogResource, {Action::Press(CullClockwise), Action::Press(ShowSpecular),
                                            Action::Type(BackgroundBlue, "0.75"), Action::Press(IDC_OK)});
  RunCommand(16);
  EXPECT_EQ(1, LastDialog().checks.at(CullClockwise)) << "the staged choice shows in the dialog";
  EXPECT_EQ(2u, _qlt_CullMode);
  EXPECT_EQ(1, gView.specular);
  EXPECT_FLOAT_EQ(0.75f, viewportBackground[2]);
  EXPECT_EQ(0, gShell.modelChanged);
}

TEST_F(MenuCommands, ReverseMarksTheModelChangedAndRunsTheTickedOperations) {
  SelectAll();
  const Model before = gModel;
  ui().ScriptDialog(ReverseDialogResource, {Action::Press(IDC_OK)});
  RunCommand(13);
  EXPECT_EQ(0, std::memcmp(before.vertices, gModel.vertices, sizeof(ModelVertex) * 6));
  EXPECT_EQ(1, gShell.modelChanged) << "marked before the dialog";

  ui().ScriptDialog(ReverseDialogResource, {Action::Press(ReverseUBox), Action::Press(ReverseVBox),
                                            Action::Press(ReverseVBox), Action::Press(IDC_OK)});
  RunCommand(13);
  for (int i = 0; i < 6; ++i) {
    EXPECT_FLOAT_EQ(1 - before.vertices[i].u, gModel.vertices[i].u);
    EXPECT_FLOAT_EQ(before.vertices[i].v, gModel.vertices[i].v) << "ticked twice is unticked";
  }
}

TEST_F(MenuCommands, PolyListCommandsAreGuarded) {
  for (int command = 11; command <= 15; ++command) {
    ui().messages.clear();
    gShell.projecting = 1;
    SelectAll();
    RunCommand(command);
    ASSERT_EQ(1u, ui().messages.size());
    EXPECT_STREQ(ProjectingText, LastMessage().c_str());
    gShell.projecting = 0;
    SelectNone();
    RunCommand(command);
    ASSERT_EQ(2u, ui().messages.size());
    EXPECT_STREQ(NothingToProcessText, LastMessage().c_str());
  }
  EXPECT_TRUE(ui().dialogs.empty());
  EXPECT_EQ(2, gModel.vertexCount / 3);
  EXPECT_EQ(0, gShell.modelChanged);
}

TEST_F(MenuCommands, DeleteAsksAndNewMaterialChainsToTheEditor) {
  gModel.vertices[3].selected = gModel.vertices[4].selected = gModel.vertices[5].selected = 1;
  ui().Answer(IDNO);
  RunCommand(15);
  EXPECT_EQ(6, gModel.vertexCount);
  EXPECT_STREQ(DeleteQuestion, LastMessage().c_str());
  ui().Answer(IDYES);
  RunCommand(15);
  EXPECT_EQ(3, gModel.vertexCount);
  EXPECT_EQ(1, gShell.modelChanged);

  SelectAll();
  RunCommand(14);
  EXPECT_EQ(1, gModel.materials[gModel.vertices[0].material].newlyAssigned);
  EXPECT_TRUE(PolyListIsEmpty());
  EXPECT_EQ(1, gShell.editorRequest);

  // With a full table nothing is assigned and there is nothing to edit.
  gShell.editorRequest = 0;
  for (int i = gModel.materialCount; i < MaxMaterials; ++i) SetMaterial(i, 0, 0, 1);
  SelectAll();
  const size_t shown = ui().messages.size();
  RunCommand(14);
  EXPECT_EQ(0, gShell.editorRequest);
  EXPECT_EQ(shown + 1, ui().messages.size());
  EXPECT_FALSE(PolyListIsEmpty());
}

TEST_F(MenuCommands, ViewpointButtonsNameTheViewAndCancelKeepsIt) {
  gShell.viewRotation[0][1] = 0.5f;
  ui().ScriptDialog(ViewpointDialogResource, {Action::Press(IDC_CANCEL)});
  RunCommand(17);
  EXPECT_EQ(0, gShell.viewpoint);
  EXPECT_FLOAT_EQ(0.5f, gShell.viewRotation[0][1]) << "a free view stays as it was";
  ui().ScriptDialog(ViewpointDialogResource, {Action::Press(ViewFront)});
  RunCommand(17);
  EXPECT_EQ(5, gShell.viewpoint);
  EXPECT_NEAR(-1, gShell.viewRotation[0][0], 1e-6);
  EXPECT_NEAR(-1, gShell.viewRotation[2][2], 1e-6);
}

TEST_F(MenuCommands, ProjectionWarnsAboutItsPolyListThenAsksForTheRanges) {
  SetMaterial(1, 0, 1, 0);
  gModel.materials[1].hasTexture = 1;
  std::strcpy(gModel.materials[1].textureFile, "wood.bmp");
  gModel.vertices[3].material = gModel.vertices[4].material = gModel.vertices[5].material = 1;
  // Polygon 0 (untextured material 0) and 1 (textured material 1).
  SelectAll();
  ui().Answer(IDCANCEL);
  RunCommand(11);
  ASSERT_EQ(1u, ui().messages.size());
  const std::string warning = LastMessage();
  EXPECT_EQ(0u, warning.find("Although you may continue with the u,v texture\ncoordinate projection"));
  EXPECT_EQ(std::string::npos, warning.find("does not include all polygons"));
  EXPECT_NE(std::string::npos, warning.find("* Your PolyList contains polygons of more than\n\tjust one material\n"));
  EXPECT_NE(std::string::npos, warning.find("\tfiles assigned to them\n\nClick OK if you know"));
  EXPECT_TRUE(ui().dialogs.empty());

  // Only the textured polygon: nothing to warn about.
  SelectNone();
  gModel.vertices[3].selected = gModel.vertices[4].selected = gModel.vertices[5].selected = 1;
  ui().ScriptDialog(ProjectionSettingsResource, {Action::Type(MaxUField, "0.5"), Action::Press(IDC_OK)});
  ui().Answer(IDOK);  // the box's instructions
  RunCommand(11);
  EXPECT_EQ("11.25", LastDialog().texts.at(IncrementField));
  EXPECT_EQ(1, gShell.projecting);
  EXPECT_EQ(1, gShell.modelChanged);
  EXPECT_EQ(6, gShell.viewpoint);
}

}  // namespace
