#include "formats/pov_export.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "model/model.h"
#include "platform/bmp.h"
#include "platform/display.h"
#include "platform/scripted/scripted_ui.h"
#include "render/library_state.h"
#include "render/qlt.h"
#include "support/model_builder.h"
#include "support/picture_writer.h"

namespace {

int Choose640x480(int, char (*)[128], int32_t (*)[8], int* device, int* mode) {
  *device = 0;
  *mode = 6;
  return 1;
}

// A bitmap of w x h pixels, each given as red, green, blue, top row first.
void WriteBitmap(const std::string& path, int w, int h, const std::vector<uint8_t>& rgb) {
  BmpImage image;
  image.width = w;
  image.height = h;
  for (size_t i = 0; i < rgb.size(); i += 3)
    image.rgba.insert(image.rgba.end(), {rgb[i], rgb[i + 1], rgb[i + 2], 255});
  ASSERT_TRUE(WriteBmp24File(path.c_str(), image));
}

void SetTexture(int material, const std::string& file) {
  gModel.materials[material].hasTexture = 1;
  std::snprintf(gModel.materials[material].textureFile, FileNameSize, "%s", file.c_str());
}

// Two white materials with textures, one triangle each.
void BuildTwoTextured(const std::string& first, const std::string& second) {
  ClearModel();
  for (int m = 0; m < 2; ++m) {
    SetMaterial(m, 1, 1, 1);
    SetTexture(m, m ? second : first);
    AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, m);
  }
}

std::string PpmHeader(int w, int h) {
  return "P6\n# Exported by Vornix 3D!(tm) - https://vornix.invalid\n" + std::to_string(w) + " " +
         std::to_string(h) + "\n255\n";
}

// The library runs on a display of the chosen format, in a folder of its
// own: the conversions leave "temp_ppm.bmp" in the current folder.
class PovExport : public ::testing::Test {
 protected:
  void SetUp() override { Start(PixelFormat::Rgb565); }
  void TearDown() override {
    _qlt_ResetLibraryForTests();
    ResetDisplaySettings();
    ClearModel();
    if (!folder_.empty()) {
      EXPECT_EQ(0, chdir(previous_.c_str()));
      std::system(("rm -rf '" + folder_ + "'").c_str());
    }
  }
  void Start(PixelFormat format) {
    _qlt_ResetLibraryForTests();
    ResetDisplaySettings();
    CurrentDisplaySettings().backBufferFormat = format;
    ASSERT_TRUE(qlt_Enumerate(nullptr, "Vornix 3D!", Choose640x480) &&
                qlt_Initialize(nullptr, 10000.0f, 60.0f))
        << qlt_GetErrorString();
    if (folder_.empty()) {
      char cwd[4096];
      ASSERT_TRUE(getcwd(cwd, sizeof cwd));
      previous_ = cwd;
      std::string pattern = TempPath("pov_XXXXXX");
      ASSERT_TRUE(mkdtemp(pattern.data()));
      folder_ = pattern;
      ASSERT_EQ(0, chdir(folder_.c_str()));
    }
    ClearModel();
  }
  std::string In(const std::string& name) const { return folder_ + "/" + name; }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& m : scripted.ui.messages) texts.push_back(m.text);
    return texts;
  }

  PovScene scene_{{0.5f, -0.25f, -6}, {0.1f, 0.2f, 0.1f}, {1, 0.95f, 0.9f}, "small"};
  ScopedScriptedUI scripted;
  std::string folder_, previous_;
};

// One plain, one emissive, one textured and one projected-textured
// material. Polygons alternate between the first two, so each is a group.
void BuildSmallModel(const std::string& plainBitmap, const std::string& decalBitmap) {
  ClearModel();
  SetMaterial(0, 1, 0.5f, 0.25f);
  ModelMaterial& a = gModel.materials[0];
  a.specularPower = 32;
  a.specularRed = a.specularGreen = a.specularBlue = 1;
  SetMaterial(1, 0.2f, 0.4f, 0.6f);
  ModelMaterial& b = gModel.materials[1];
  b.emissiveRed = 0.6f;
  b.specularPower = 8;
  b.specularRed = 0.3f, b.specularGreen = 0.2f, b.specularBlue = 0.1f;
  SetMaterial(2, 1, 1, 1);
  SetTexture(2, plainBitmap);
  SetMaterial(3, 0.5f, 1, 1);
  SetTexture(3, decalBitmap);
  gModel.materials[3].emissiveGreen = gModel.materials[3].emissiveBlue = 0.6f;

  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 0);
  AddTriangle(1, 0, 0, 2, 0, 0, 1, 1, 0.5f, 1);
  AddTriangle(-1, -1, 0, 0, -1, 0, -1, 0, -0.25f, 0);
  AddTriangle(0, 0, 1, 1, 0, 1, 0, 1, 1, 2);
  AddTriangle(0, 1, 1, 1, 0, 1, 1, 1, 1, 2);
  AddTriangle(0, 0, 2, 1, 0, 2, 0, 1, 2, 3);
  AddTriangle(1, 0, 2, 1, 1, 2, 0, 1, 2, 3);
  AddTriangle(0, 0, 3, 1, 0, 3, 0, 1, 3, 3);
  // Polygon 5 came from projection 0; polygon 6 names a slot that holds
  // none; polygon 7 was never projected. Only first vertices count.
  const float box[16] = {0, 0, -1, 0, 1, 0, 1, 0, 0, -1, -0.5f, 2, 4, 2, 0.25f, 0.125f};
  std::copy(box, box + 16, gModel.projections[0].value);
  gModel.projectionCount = 1;
  gModel.vertices[15].projected = 1;
  gModel.vertices[18].projected = 1;
  gModel.vertices[18].projection = 5;
  gModel.vertices[22].projected = 1;
  RecomputeBounds();
}

TEST_F(PovExport, WritesTheSceneTextAndTintedTexturesBesideIt) {
  WriteBitmap(In("plain.bmp"), 2, 1, {255, 255, 255, 255, 255, 255});
  WriteBitmap(In("decal.bmp"), 1, 2, {255, 255, 255, 255, 0, 0});
  BuildSmallModel(In("plain.bmp"), In("decal.bmp"));
  const std::string path = In("small.pov");
  ASSERT_EQ(1, ExportPOV(path.c_str(), scene_))
      << (scripted.ui.messages.empty() ? "" : scripted.ui.messages[0].text);

  EXPECT_EQ(ReadAll(VORNIX_TEST_DATA_DIR "/pov_export_small.pov"), ReadAll(path));
  // Each warning once, although two materials are emissive; a textured
  // emissive material is not warned about.
  EXPECT_EQ((std::vector<std::string>{EmissiveWarningText, SpecularWarningText}), Texts());
  EXPECT_EQ("Vornix 3D!", scripted.ui.messages[0].caption);

  const std::string white565 = "\xF8\xFC\xF8";
  EXPECT_EQ(PpmHeader(2, 1) + white565 + white565, ReadAll(In("small_pov_C.ppm")));
  EXPECT_EQ(PpmHeader(1, 2) + "\x7C\xFC\xF8" + std::string("\x7C\x00\x00", 3),
            ReadAll(In("small_pov_D.ppm")));
}

// Each display depth keeps the bits it holds; the tint multiplies them and
// the product is cut to a whole byte.
TEST_F(PovExport, PpmPixelsAreDecodedByTheDisplaysGreenBitsAndTinted) {
  struct Case {
    PixelFormat format;
    float tint[3];
    uint8_t top[3], bottom[3];
  };
  const Case cases[] = {
      {PixelFormat::Rgb565, {1, 0, 0}, {248, 0, 0}, {248, 0, 0}},
      {PixelFormat::Rgb565, {1, 0.5f, 0.25f}, {248, 64, 16}, {248, 126, 62}},
      {PixelFormat::Rgb555, {1, 0.5f, 0.25f}, {248, 64, 16}, {248, 124, 62}},
      {PixelFormat::Argb4444, {1, 0.5f, 0.25f}, {240, 64, 16}, {240, 120, 60}},
      // Tints beyond 0 .. 1 stay within a byte.
      {PixelFormat::Rgb565, {1.5f, -1, 2}, {255, 0, 128}, {255, 0, 255}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    Start(c.format);
    WriteBitmap(In("two.bmp"), 1, 2, {255, 128, 64, 255, 255, 255});
    ASSERT_EQ(1,
              WritePPMTexture(In("two.bmp").c_str(), In("out.ppm").c_str(), c.tint[0], c.tint[1], c.tint[2]));
    const std::string expected = PpmHeader(1, 2) + std::string(reinterpret_cast<const char*>(c.top), 3) +
                                 std::string(reinterpret_cast<const char*>(c.bottom), 3);
    EXPECT_EQ(expected, ReadAll(In("out.ppm")));
  }
  EXPECT_TRUE(scripted.ui.messages.empty());
}

// A PPM texture is read through "temp_ppm.bmp"; a second one that cannot be
// read must not reuse the picture the first one left there.
TEST_F(PovExport, PpmTexturesPassThroughATemporaryBitmapNeverAStaleOne) {
  BuildTwoTextured(In("good.ppm"), In("bad.ppm"));
  std::ofstream(In("good.ppm")) << "P3\n# two pixels\n2 1\n15\n15 15 15  0 7 15\n";
  std::ofstream(In("bad.ppm")) << "P5\n2 1\n255\nxx";
  EXPECT_EQ(0, ExportPOV(In("small.pov").c_str(), scene_));
  // 0, 119 and 255 on a 5-6-5 display.
  EXPECT_EQ(PpmHeader(2, 1) + "\xF8\xFC\xF8" + std::string("\x00\x74\xF8", 3),
            ReadAll(In("small_pov_A.ppm")));
  EXPECT_FALSE(FileExists(In("small_pov_B.ppm")));
  ASSERT_EQ(1u, scripted.ui.messages.size());
  EXPECT_EQ("Could not write texture PPM file: " + In("small_pov_B.ppm") + "\n\nPPMto24BitBMP\n" +
                In("bad.ppm") + " : Not a valid PPM file!\n\n",
            scripted.ui.messages[0].text);
  EXPECT_EQ("Error", scripted.ui.messages[0].caption);
}

#ifdef VORNIX_HAVE_PIXBUF
// A picture texture, found as another system named it, becomes the same PPM
// as the bitmap it was saved from.
TEST_F(PovExport, PictureTexturesAreWrittenAsTheirBitmapsWouldBe) {
  ASSERT_EQ(0, mkdir(In("pics").c_str(), 0700));
  WriteBitmap(In("pics/decal.bmp"), 3, 2,
              {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0, 0, 255, 255, 40, 80, 120});
  BmpImage image;
  ASSERT_EQ(BmpResult::Ok, ReadBmpFile(In("pics/decal.bmp").c_str(), &image));
  ASSERT_TRUE(SavePicture(image, In("pics/Decal.png"), "png"));
  BuildTwoTextured(In("PICS\\DECAL.PNG"), In("pics/decal.bmp"));
  EXPECT_EQ(1, ExportPOV(In("small.pov").c_str(), scene_));
  EXPECT_TRUE(scripted.ui.messages.empty()) << scripted.ui.messages[0].text;
  const std::string ppm = ReadAll(In("small_pov_A.ppm"));
  EXPECT_EQ(PpmHeader(3, 2).size() + 3 * 2 * 3, ppm.size());
  EXPECT_EQ(ReadAll(In("small_pov_B.ppm")), ppm);
}
#endif

// The scene is written first and completely; textures follow only then.
// Textures that cannot be made are each reported, and the export does not
// claim success, but the scene stays.
TEST_F(PovExport, FailuresAreReportedAndNothingIsClaimed) {
  WriteBitmap(In("plain.bmp"), 1, 1, {255, 255, 255});
  struct Case {
    const char* scene;          // relative to the folder
    const char* secondTexture;  // of material B
    std::string message;        // %s: the scene's, $ the texture's path
  };
  const Case cases[] = {
      {"no/such/small.pov", "plain.bmp", "Could not open file: %s"},
      // The scene's temporary is a device on which every write fails.
      {"small.pov", "plain.bmp", "Could not write file: %s"},
      {"small.pov", "missing.bmp", "Could not write texture PPM file: $\n\nqlt_BitmapLoad\n"},
      {"small.pov", "photo.pcx", "Could not write texture PPM file: $\n\nOnly BMP"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    std::system(("rm -f '" + folder_ + "'/small*").c_str());
    BuildTwoTextured(In("plain.bmp"), In(c.secondTexture));
    const std::string path = In(c.scene);
    // Only a texture failure leaves the scene.
    const bool fullDisk = c.message.rfind("Could not write file", 0) == 0,
               sceneWritten = c.message.find('$') != std::string::npos;
    if (fullDisk && !FileExists("/dev/full")) continue;
    ASSERT_TRUE(!fullDisk || symlink("/dev/full", (path + ".vxtmp").c_str()) == 0);
    scripted.ui.messages.clear();
    EXPECT_EQ(0, ExportPOV(path.c_str(), scene_));
    ASSERT_EQ(1u, scripted.ui.messages.size());
    std::string message = c.message;
    if (message.find("%s") != std::string::npos) message.replace(message.find("%s"), 2, path);
    if (message.find('$') != std::string::npos) message.replace(message.find('$'), 1, In("small_pov_B.ppm"));
    EXPECT_EQ(0u, scripted.ui.messages[0].text.find(message)) << scripted.ui.messages[0].text;
    EXPECT_EQ("Error", scripted.ui.messages[0].caption);
    EXPECT_EQ(sceneWritten, FileExists(path));
    EXPECT_EQ(sceneWritten, FileExists(In("small_pov_A.ppm")));
    EXPECT_FALSE(FileExists(In("small_pov_B.ppm")));
    if (sceneWritten) {
      EXPECT_NE(std::string::npos, ReadAll(path).find("ppm \"small_pov_B.ppm\""));
    }
    std::remove((path + ".vxtmp").c_str());
  }

  // A texture file that cannot be created.
  BuildTwoTextured(In("plain.bmp"), In("plain.bmp"));
  ASSERT_EQ(0, mkdir(In("small_pov_B.ppm.vxtmp").c_str(), 0700));
  scripted.ui.messages.clear();
  EXPECT_EQ(0, ExportPOV(In("small.pov").c_str(), scene_));
  EXPECT_EQ((std::vector<std::string>{"Could not open texture PPM file: " + In("small_pov_B.ppm")}), Texts());
}

// Letters run A-Z, then a-z: the characters after Z cannot stand in a name.
TEST_F(PovExport, MaterialLettersStayValidNames) {
  EXPECT_EQ('Z', PovMaterialLetter(25));
  EXPECT_EQ('a', PovMaterialLetter(26));
  EXPECT_EQ('z', PovMaterialLetter(51));
  ClearModel();
  for (int m = 0; m < 53; ++m) SetMaterial(m, 1, 1, 1);
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 52);
  const std::string path = In("many.pov");
  EXPECT_EQ(0, ExportPOV(path.c_str(), scene_));
  EXPECT_FALSE(FileExists(path));
  EXPECT_EQ((std::vector<std::string>{path + " can not be written: a scene names at most 52 materials."}),
            Texts());
}

// The ray tracer must parse and render what is written: every kind of
// material and polygon, and the letters past Z.
TEST_F(PovExport, RendersInTheRayTracer) {
  if (std::system("command -v povray >/dev/null 2>&1") != 0) GTEST_SKIP() << "povray is not installed";
  WriteBitmap(In("plain.bmp"), 2, 2, {255, 255, 255, 0, 0, 255, 0, 255, 0, 255, 0, 0});
  WriteBitmap(In("decal.bmp"), 1, 1, {255, 255, 0});
  BuildSmallModel(In("plain.bmp"), In("decal.bmp"));
  for (int m = 4; m < 29; ++m) {
    SetMaterial(m, 0.1f * float(m % 10), 0.5f, 1);
    AddTriangle(-2, float(m) * 0.1f, 0, -1.5f, float(m) * 0.1f, 0, -2, float(m) * 0.1f + 0.1f, 0, m);
  }
  RecomputeBounds();
  ASSERT_EQ(1, ExportPOV(In("small.pov").c_str(), scene_)) << Texts().size();

  const int status = std::system(
      ("cd '" + folder_ + "' && povray +Ismall.pov +Oimage.ppm +FP +W64 +H48 -D -V -GA >povray.log 2>&1")
          .c_str());
  const std::string log = ReadAll(In("povray.log"));
  ASSERT_EQ(0, status) << log;
  EXPECT_EQ(std::string::npos, log.find("Error")) << log;
  // The picture is more than the background: its last 64 x 48 pixels are
  // not all alike.
  const std::string image = ReadAll(In("image.ppm"));
  const size_t pixels = 64 * 48 * 3;
  ASSERT_GT(image.size(), pixels);
  const std::string data = image.substr(image.size() - pixels);
  bool varied = false;
  for (size_t i = 3; i < data.size() && !varied; i += 3) varied = data.compare(i, 3, data, 0, 3) != 0;
  EXPECT_TRUE(varied);
}

TEST(SceneBaseName, DropsFolderAndExtension) {
  EXPECT_EQ("car", SceneBaseName("/home/a.b/car.pov"));
  EXPECT_EQ("car.v2", SceneBaseName("car.v2.pov"));
  EXPECT_EQ("car", SceneBaseName("car"));
}

}  // namespace
