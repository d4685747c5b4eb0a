// A working session as a user has it, through the real program: a model
// from the corpus, a material of its own with a texture, a projection with
// a turned box, saved, opened again and exported as a scene for POV-Ray.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/desktop_fixture.h"
#include "app/picking.h"
#include "dialogs/material_editor.h"
#include "dialogs/projection_settings_dialog.h"
#include "platform/bmp.h"

namespace {

// Panel rows of the commands used here.
constexpr int OpenRow = 61, SaveRow = 74, MaterialModeRow = 178, ProjectRow = 256, NewMaterialRow = 295;

// The material that carries the texture, or -1.
int TexturedMaterial(const char* name) {
  for (int i = 0; i < gModel.materialCount; ++i)
    if (gModel.materials[i].hasTexture && std::strcmp(gModel.materials[i].textureFile, name) == 0) return i;
  return -1;
}

// A pointer position in the Select viewport over a front-facing polygon.
bool FindHoverPoint(int* x, int* y) {
  for (int p = 0; p < gModel.vertexCount / 3; ++p) {
    float c[3] = {0, 0, 0};
    for (int k = 0; k < 3; ++k) {
      c[0] += gModel.vertices[3 * p + k].x / 3;
      c[1] += gModel.vertices[3 * p + k].y / 3;
      c[2] += gModel.vertices[3 * p + k].z / 3;
    }
    float sx, sy;
    if (!ProjectToScreen(c[0], c[1], c[2], &sx, &sy)) continue;
    gShell.pointerX = uint16_t(sx);
    gShell.pointerY = uint16_t(sy + 120);
    UpdateHoverPolygon();
    if (gView.hoverPolygon != p) continue;
    *x = gShell.pointerX;
    *y = gShell.pointerY;
    return true;
  }
  return false;
}

// Magenta pixels in the Render viewport: the texture on screen.
int MagentaPixels() {
  int n = 0;
  for (int y = 1; y < 239; ++y)
    for (int x = 130; x < 638; ++x) {
      const Rgb p = BackBufferAt(x, y);
      n += p.r > 2 * p.g + 40 && p.b > 2 * p.g + 40;
    }
  return n;
}

class Scenario : public Desktop {};

TEST_F(Scenario, WorkingSessionFromCorpusModelToRenderedScene) {
  // A crate of two textured materials, copied with its bitmaps to where
  // the user works.
  const std::string corpus = std::string(VORNIX_CORPUS_DIR) + "/x/";
  if (!FileExists(corpus + "supplies.x")) GTEST_SKIP() << "no model corpus at " << corpus;
  for (const char* name : {"supplies.x", "supplies_0.bmp", "supplies_1.bmp"})
    ASSERT_EQ(0, std::system(("cp '" + corpus + name + "' '" + folder_ + "'").c_str()));
  const std::string crate = folder_ + "/supplies.x";
  mkdir((folder_ + "/pics").c_str(), 0755);
  BmpImage magenta;
  magenta.width = magenta.height = 32;
  for (int i = 0; i < 32 * 32; ++i) magenta.rgba.insert(magenta.rgba.end(), {255, 0, 255, 255});
  ASSERT_TRUE(WriteBmp24File((folder_ + "/pics/magenta.bmp").c_str(), magenta));

  PassTitle();
  ui().ChooseFile(crate);
  ui().Click(20, OpenRow);
  ui().Frame();
  ui().Click(20, MaterialModeRow);
  ui().Frame();
  // One click in material mode takes a whole material into the PolyList.
  int x = 0, y = 0, picked = -1;
  ui().Inspect([&] {
    ASSERT_EQ(12, gModel.vertexCount / 3);
    ASSERT_TRUE(FindHoverPoint(&x, &y));
    picked = gModel.vertices[3 * gView.hoverPolygon].material;
    ui().Move(x, y);
    ui().Click(x, y);
  });
  ui().Frame();
  ui().Inspect([&] {
    for (int i = 0; i < gModel.vertexCount; ++i)
      ASSERT_EQ(gModel.vertices[i].material == picked, gModel.vertices[i].selected == 1) << i;
    ui().Click(20, NewMaterialRow);
  });
  ui().Frame();
  // The editor opens in the next frame on the new material.
  std::string shown;
  ui().ScriptDialog(MaterialEditorResource,
                    {Action::Look([&shown](Dialog& d) { shown = d.ItemText(MaterialIndexText); }),
                     Action::Press(ChooseTexture), Action::Press(IDC_OK)});
  ui().ChooseFile(folder_ + "/pics/magenta.bmp");
  ui().Frame();
  ui().Inspect([&] {
    EXPECT_EQ(1, CountMessages(ui(), ("The selected polygons have been assigned to material #" + shown).c_str()));
    ASSERT_GE(TexturedMaterial("magenta.bmp"), 0);
    EXPECT_TRUE(FileExists(folder_ + "/magenta.bmp")) << "copied beside the model";
    ui().Click(x, y);
    ui().Click(20, ProjectRow);
  });
  ui().Frame();
  // The settings as they come, the instructions, one turn, Enter.
  ui().ScriptDialog(ProjectionSettingsResource, {Action::Press(IDC_OK)});
  ui().Frame();
  ui().Inspect([] { EXPECT_EQ(1, gShell.projecting); });
  ui().Key('X', true);
  ui().Frame();
  ui().Key(VK_RETURN);
  ui().Frame();
  ui().Inspect([&] {
    EXPECT_EQ(0, gShell.projecting);
    ASSERT_EQ(1, gModel.projectionCount);
    EXPECT_NEAR(std::cos(11.25 * 3.141592653589793 / 180), gModel.projections[0].value[0], 1e-5)
        << "the turned box is the one stored";
    const int m = TexturedMaterial("magenta.bmp");
    for (int i = 0; i < gModel.vertexCount; ++i)
      if (gModel.vertices[i].material == m) {
        EXPECT_EQ(1, gModel.vertices[i].projected) << i;
      }
  });
  const std::string saved = folder_ + "/worked.vnx";
  ui().ChooseFile(saved, 1);
  ui().Click(20, SaveRow);
  ui().Frame();
  ui().ChooseFile(saved);
  ui().Click(20, OpenRow);
  ui().Frame(3);
  ui().Inspect([] {
    EXPECT_EQ(1, gModel.projectionCount) << "the projection is stored";
    ASSERT_GE(TexturedMaterial("magenta.bmp"), 0);
    EXPECT_GT(MagentaPixels(), 200) << "the texture shows in the Render viewport";
  });
  ui().ChooseFile(folder_ + "/worked.pov", 5);
  ui().Click(20, SaveRow);
  ui().Frame();
  EXPECT_EQ(ScriptedUI::ScriptEndCode, Run());
  EXPECT_EQ(0, ui().unanswered);
  for (const auto& m : ui().messages) EXPECT_NE("Error", m.caption) << m.text;

  const std::string scene = ReadAll(folder_ + "/worked.pov");
  ASSERT_FALSE(scene.empty());

  if (std::system("command -v povray >/dev/null 2>&1") != 0) GTEST_SKIP() << "povray is not installed";
  const std::string render = "cd '" + folder_ + "' && povray +Iworked.pov +Oimage.png +W80 +H60 -D -V -GA " +
                             ">povray.log 2>&1";
  EXPECT_EQ(0, std::system(render.c_str())) << ReadAll(folder_ + "/povray.log");
  EXPECT_TRUE(FileExists(folder_ + "/image.png"));
}

}  // namespace
