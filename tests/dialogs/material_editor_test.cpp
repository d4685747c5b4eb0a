#include "dialogs/material_editor.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "model/model.h"
#include "platform/display.h"
#include "platform/scripted/scripted_ui.h"
#include "render/library_state.h"
#include "render/qlt.h"
#include "support/model_builder.h"
#include "support/picture_writer.h"

namespace {

using Action = DialogAction;

int ChooseEmulation(int, char (*)[128], int32_t (*)[8], int* device, int* mode) {
  *device = 0, *mode = 6;
  return 1;
}

void Write(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

// Every test works in a folder of its own, which is the current folder.
class MaterialEditor : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(nullptr, getcwd(start_, sizeof start_));
    folder_ =
        TempPath(std::string("material_") + testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    ASSERT_TRUE(std::filesystem::create_directories(folder_ + "/pics"));
    ASSERT_EQ(0, chdir(folder_.c_str()));
    ClearModel();
    SetMaterial(0, 0.1f, 0.2f, 0.3f);
    SetMaterial(1, 0.4f, 0.5f, 0.6f);
  }
  void TearDown() override {
    ASSERT_EQ(0, chdir(start_));
    std::filesystem::remove_all(folder_);
    ClearModel();
    _qlt_ResetLibraryForTests();
    ResetDisplaySettings();
  }
  int Run(std::vector<DialogAction> actions) {
    ui.ScriptDialog(MaterialEditorResource, std::move(actions));
    return RunMaterialEditor();
  }
  char start_[PATH_MAX];
  std::string folder_;
  ScopedScriptedUI scripted;
  ScriptedUI& ui = scripted.ui;
};

TEST_F(MaterialEditor, OpensOnTheRightMaterialAndStaysWithinTheTable) {
  for (int k = 0; k < 3; ++k) AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, float(k), k % 2);
  for (int i = 3; i < 6; ++i) gModel.vertices[i].selected = 1;
  ASSERT_EQ(1, AssignPolyListToNewMaterial());
  int fresh = 0;
  while (gModel.materials[fresh].newlyAssigned != 1) ++fresh;
  const int last = gModel.materialCount - 1;
  std::vector<Action> script = {Action::Look([&](Dialog& d) {
    EXPECT_EQ(std::to_string(fresh), d.ItemText(MaterialIndexText));
    for (int id : {SurfaceRedField, SurfaceGreenField, SurfaceBlueField, SurfaceAlphaField})
      EXPECT_EQ("1.000000", d.ItemText(id));
    for (int id : {SpecularPowerField, SpecularRedField, SpecularGreenField, SpecularBlueField,
                   EmissiveRedField, EmissiveGreenField, EmissiveBlueField})
      EXPECT_EQ("0.000000", d.ItemText(id));
  })};
  script.push_back(Action::Type(SurfaceRedField, "abc"));
  script.push_back(Action::Type(SurfaceGreenField, "1.5"));
  for (int k = 0; k <= last; ++k) script.push_back(Action::Press(NextMaterial));
  script.push_back(
      Action::Look([&](Dialog& d) { EXPECT_EQ(std::to_string(last), d.ItemText(MaterialIndexText)); }));
  for (int k = 0; k <= last; ++k) script.push_back(Action::Press(PreviousMaterial));
  script.push_back(Action::Look([](Dialog& d) { EXPECT_EQ("0", d.ItemText(MaterialIndexText)); }));
  script.push_back(Action::Press(IDC_OK));
  EXPECT_EQ(1, Run(script));
  ASSERT_EQ(1u, ui.messages.size());
  EXPECT_EQ("The selected polygons have been assigned to material #" + std::to_string(fresh),
            ui.messages[0].text);
  EXPECT_EQ("Vornix 3D!", ui.messages[0].caption);
  EXPECT_EQ(0, gModel.materials[fresh].newlyAssigned);
  EXPECT_EQ(0.0f, gModel.materials[fresh].red);
  EXPECT_EQ(1.5f, gModel.materials[fresh].green);

  // A selected polygon naming a material past the table opens on the last.
  gModel.vertices[0].selected = 1;
  gModel.vertices[0].material = 50;
  EXPECT_EQ(0, Run({}));
  EXPECT_EQ(std::to_string(last), ui.dialogs.back().texts[MaterialIndexText]);

  gModel.materialCount = 0;
  const size_t runs = ui.dialogs.size();
  EXPECT_EQ(0, RunMaterialEditor());
  EXPECT_EQ(runs, ui.dialogs.size());
  EXPECT_EQ(NoMaterialsMessage, ui.messages.back().text);
}

TEST_F(MaterialEditor, ChosenBitmapsAreUsedFromTheCurrentFolder) {
  const std::string tooLong = std::string(125, 'a') + ".bmp";
  Write("pics/wood.bmp", "wood source");
  Write("pics/stone.ppm", "stone source");
  Write("pics/" + tooLong, "long");
  Write("stone.ppm", "mine");
  Write("local.bmp", "local");
  for (const char* chosen : {"/pics/wood.bmp", "/pics/stone.ppm", "/local.bmp"})
    ui.ChooseFile(folder_ + chosen);
  ui.ChooseFile(folder_ + "/pics/" + tooLong);
  ui.ChooseFile(folder_ + "/pics/missing.bmp");
  const ModelMaterial& m = gModel.materials[0];
  EXPECT_EQ(0, Run({Action::Press(ChooseTexture), Action::Look([&](Dialog& d) {
                      EXPECT_EQ("wood.bmp", d.ItemText(TextureNameText));
                      EXPECT_STREQ("wood.bmp", m.textureFile);
                      EXPECT_EQ("wood source", ReadAll("wood.bmp"));
                    }),
                    Action::Press(ChooseAlpha), Action::Press(ChooseTexture), Action::Press(ChooseTexture),
                    Action::Press(ChooseTexture)}));
  EXPECT_EQ(folder_, std::filesystem::current_path().string());
  EXPECT_EQ("mine", ReadAll("stone.ppm"));
  EXPECT_EQ("local", ReadAll("local.bmp"));
  EXPECT_STREQ("stone.ppm", m.alphaFile);
  // Neither refused choice replaced the name.
  EXPECT_STREQ("local.bmp", m.textureFile);
  EXPECT_EQ(0, m.hasTexture);
  EXPECT_FALSE(FileExists(tooLong) || FileExists("missing.bmp"));
  ASSERT_EQ(2u, ui.messages.size());
  EXPECT_NE(std::string::npos, ui.messages[0].text.find("too long"));
  EXPECT_NE(std::string::npos, ui.messages[1].text.find("Could not copy"));
  EXPECT_EQ("Error", ui.messages[1].caption);

  const FileDialogRequest& request = ui.fileRequests[0];
  EXPECT_FALSE(request.save);
#ifdef VORNIX_HAVE_PIXBUF
  ASSERT_EQ(4u, request.filters.size());
  EXPECT_STREQ("*.bmp;*.ppm;*.png;*.jpg;*.jpeg;*.tga;*.gif", request.filters[0].pattern);
#else
  ASSERT_EQ(3u, request.filters.size());
  EXPECT_STREQ("*.bmp;*.ppm", request.filters[0].pattern);
#endif
  EXPECT_STREQ(" PPM Bitmap (*.ppm)", request.filters[2].description);
}

TEST_F(MaterialEditor, ClearingAndHidingActAtOnceStoringWaitsForOk) {
  ModelMaterial& m = gModel.materials[0];
  std::strcpy(m.textureFile, "wood.bmp");
  std::strcpy(m.alphaFile, "wood_alpha.bmp");
  m.hasTexture = m.hasAlpha = 1;
  EXPECT_EQ(0, Run({Action::Press(NoTexture), Action::Press(HideMaterial), Action::Press(IDC_CANCEL)}));
  EXPECT_STREQ("", m.textureFile);
  EXPECT_EQ(1, m.hasTexture);
  EXPECT_EQ(1, m.hidden);

  EXPECT_EQ(1, Run({Action::Press(NoAlpha), Action::Press(IDC_OK)}));
  EXPECT_EQ(1, ui.dialogs.back().checks[HideMaterial]);
  EXPECT_EQ((std::vector<int>{0, 0}), (std::vector<int>{m.hasTexture, m.hasAlpha}));
  EXPECT_STREQ("", m.alphaFile);
}

TEST_F(MaterialEditor, PreviewShowsTheFieldColourOrTheTexture) {
  ASSERT_TRUE(qlt_Enumerate(nullptr, "t", ChooseEmulation) && qlt_Initialize(nullptr, 10000.0f, 60.0f));
  // 2 x 2: red, green over blue, white.
  Write("wood.PPM", std::string("P6\n2 2\n255\n") + std::string("\xFF\0\0\0\xFF\0\0\0\xFF\xFF\xFF\xFF", 12));
  Write("wood.jpg", "not a bitmap");
  ui.ChooseFile(folder_ + "/wood.PPM");
  ui.ChooseFile(folder_ + "/wood.jpg");
  const uint32_t colour = 0xFF7F00;
  auto square = [](Dialog& d) { return d.PaintedPixels(PreviewSquare); };
  Run({Action::Type(SurfaceRedField, "0.5"), Action::Type(EmissiveRedField, "0.8"),
       Action::Type(SurfaceGreenField, "0.5"), Action::Type(SurfaceBlueField, "0"),
       Action::Press(PreviewMaterial), Action::Look([&](Dialog& d) {
         EXPECT_EQ(std::vector<uint32_t>(48 * 48, colour), square(d));
         EXPECT_EQ(0.1f, gModel.materials[0].red);
       }),
       Action::Press(ChooseTexture), Action::Press(PreviewMaterial), Action::Look([&](Dialog& d) {
         const std::vector<uint32_t> p = square(d);
         EXPECT_EQ((std::vector<uint32_t>{0xF80000, 0x00FC00, 0x0000F8, 0xF8FCF8}),
                   (std::vector<uint32_t>{p[0], p[47], p[47 * 48], p[48 * 48 - 1]}));
       }),
       Action::Press(ChooseTexture), Action::Press(PreviewMaterial),
       Action::Look([&](Dialog& d) { EXPECT_EQ(std::vector<uint32_t>(48 * 48, colour), square(d)); })});
  // The model's folder may be read-only: the preview works elsewhere.
  for (const char* temporary : {"Temp.bmp", "temp_ppm.bmp"}) EXPECT_FALSE(FileExists(temporary)) << temporary;
}

#ifdef VORNIX_HAVE_PIXBUF
// A picture the model names as another system wrote it previews as a bitmap.
TEST_F(MaterialEditor, PreviewFindsPictureTexturesInAnyCase) {
  ASSERT_TRUE(qlt_Enumerate(nullptr, "t", ChooseEmulation) && qlt_Initialize(nullptr, 10000.0f, 60.0f));
  ASSERT_TRUE(SavePicture(BmpImage{1, 1, false, {0, 0, 255, 255}}, "pics/Wood.png", "png"));
  std::strcpy(gModel.materials[0].textureFile, "PICS\\WOOD.PNG");
  Run({Action::Press(PreviewMaterial), Action::Look([&](Dialog& d) {
         EXPECT_EQ(std::vector<uint32_t>(48 * 48, 0x0000F8), d.PaintedPixels(PreviewSquare));
       })});
}
#endif

}  // namespace
