// Runs the vornix program itself, as a user or a script would.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "model/cleanup.h"
#include "model/model.h"
#include "model/native_file.h"
#include "platform/scripted/scripted_ui.h"
#include "support/model_builder.h"

namespace {

struct RunResult {
  int status;
  std::string out;
  std::string err;
};

// Runs the program in `folder` when one is given.
RunResult RunVornix(const std::string& arguments, const std::string& folder = "") {
  const std::string out = TempPath("cli.out"), err = TempPath("cli.err");
  const std::string enter = folder.empty() ? "" : "cd " + folder + " && ";
  const std::string command = enter + VORNIX_BINARY + " " + arguments + " >" + out + " 2>" + err;
  const int raw = std::system(command.c_str());
  RunResult result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadAll(out), ReadAll(err)};
  std::remove(out.c_str());
  std::remove(err.c_str());
  return result;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearModel();
    SetMaterial(0, 0.5f, 0.25f, 1.0f, 0.5f);
    gModel.materials[0].specularPower = 8;
    std::snprintf(gModel.materials[0].textureFile, FileNameSize, "skin.bmp");
    gModel.materials[0].hasTexture = 1;
    SetMaterial(1, 1, 1, 1);
    AddTriangle(2, 0, 0, 6, 0, 0, 2, 1, 0, 1);
    AddTriangle(2, 0, 1, 6, 0, 1, 2, 1, 1, 0);
    // A thin polygon: its first two corners coincide.
    AddTriangle(3, 0, 0, 3, 0, 0, 4, 1, 0, 1);
    RecomputeBounds();
    input_ = TempPath("in.vnx");
    output_ = TempPath("out.vnx");
    ASSERT_EQ(SaveNativeModel(input_.c_str()), 1);
  }
  void TearDown() override {
    std::remove(input_.c_str());
    std::remove(output_.c_str());
  }
  ScopedScriptedUI ui_;
  std::string input_, output_;
};

TEST_F(CliTest, InfoPrintsCountsBoundsAndMaterialsAfterTheCleanUp) {
  const RunResult r = RunVornix("info " + input_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "vertices: 9\n"
            "polygons: 3\n"
            "materials: 2\n"
            "projections: 0\n"
            "bounds: 2.000000 0.000000 0.000000 6.000000 1.000000 1.000000\n"
            "radius: 6.164414\n"
            "material 0: 1.000000 1.000000 1.000000 1.000000 0.000000 texture=\"\" alpha=\"\"\n"
            "material 1: 0.500000 0.250000 1.000000 0.500000 8.000000 texture=\"skin.bmp\" (missing) alpha=\"\"\n");
  // The thin-polygon question was asked and answered No by default.
  EXPECT_NE(r.err.find("WARNING !!!: 1 infinitely thin polygon(s)"), std::string::npos) << r.err;

  // Bitmaps are looked for as the program looks for them: a name written on
  // Windows finds misc/skin.bmp beside the model.
  const std::string folder = TempPath("info_textures");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((folder + "/misc").c_str(), 0755), 0);
  std::ofstream(folder + "/misc/skin.bmp") << "BM";
  std::snprintf(gModel.materials[1].textureFile, FileNameSize, "MISC\\SKIN.BMP");
  std::snprintf(gModel.materials[1].alphaFile, FileNameSize, "gone.bmp");
  gModel.materials[1].hasAlpha = 1;
  ASSERT_EQ(SaveNativeModel((folder + "/m.vnx").c_str()), 1);
  const RunResult found = RunVornix("info " + folder + "/m.vnx");
  EXPECT_NE(found.out.find("texture=\"MISC\\SKIN.BMP\" (found) alpha=\"gone.bmp\" (missing)\n"), std::string::npos)
      << found.out;
  ASSERT_EQ(std::system(("rm -rf '" + folder + "'").c_str()), 0);
}

// A scene whose texture cannot be made is written all the same; the last
// line says which texture it lacks.
TEST_F(CliTest, SceneWithoutItsTextureSaysWhatItLacks) {
  const std::string scene = TempPath("lacking.pov");
  const RunResult r = RunVornix("convert " + input_ + " " + scene);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(FileExists(scene));
  const std::string base = scene.substr(scene.rfind('/') + 1, scene.size() - scene.rfind('/') - 5);
  const std::string last = r.err.substr(r.err.rfind("vornix: "));
  EXPECT_EQ(last, "vornix: wrote '" + scene + "', but not these of its textures: " + base +
                      "_pov_B.ppm (skin.bmp)\n");
  std::remove(scene.c_str());
}

// Options apply to the loaded model before it is written; info reads the
// result back. Every format's bytes without options are held by the
// identity test.
TEST_F(CliTest, ConvertAppliesOptionsBeforeWriting) {
  const std::pair<const char*, const char*> cases[] = {
      {" --center --scale 2", "bounds: -4.000000 -1.000000 -1.000000 4.000000 1.000000 1.000000\n"},
      {" --rotate 0,0,90 --smooth 0", "bounds: -1.000000 2.000000 0.000000 0.000000 6.000000 1.000000\n"},
  };
  for (const auto& [options, bounds] : cases) {
    SCOPED_TRACE(options);
    RunResult r = RunVornix("convert " + input_ + " " + output_ + " --delete-thin" + options);
    ASSERT_EQ(r.status, 0) << r.err;
    r = RunVornix("info " + output_);
    EXPECT_EQ(
        r.out.rfind(std::string("vertices: 6\npolygons: 2\nmaterials: 2\nprojections: 0\n") + bounds, 0), 0u)
        << r.out;
    EXPECT_NE(r.out.find("material 0: 1.000000 1.000000 1.000000 1.000000"), std::string::npos) << r.out;
  }
}

// The reversals act on every polygon and come after smoothing, so reversed
// normals survive it. Each axis scale changes its axis alone, on top of the
// uniform one.
TEST_F(CliTest, ConvertReversesEveryPolygonAndScalesSingleAxes) {
  static Model plain;
  ASSERT_EQ(RunVornix("convert " + input_ + " " + output_ + " --delete-thin").status, 0);
  ASSERT_EQ(LoadNativeModel(output_.c_str()), 1);
  plain = gModel;
  ASSERT_EQ(plain.vertexCount, 6);
  using Check = void (*)(const ModelVertex& before, const ModelVertex& after, const ModelVertex& twin);
  using V = const ModelVertex&;
  const struct {
    const char* options;
    Check check;
  } cases[] = {
      {"--reverse u",
       [](V a, V b, V) {
         EXPECT_FLOAT_EQ(b.u, 1.0f - a.u);
         EXPECT_TRUE(b.v == a.v && b.x == a.x && b.nz == a.nz);
       }},
      // The second and third corners change places with their normals and
      // u,v; then every normal turns round.
      {"--reverse order,normals",
       [](V, V b, V t) {
         EXPECT_TRUE(b.x == t.x && b.y == t.y && b.u == t.u && b.v == t.v && b.nz == -t.nz);
       }},
      {"--smooth 0 --reverse normals,v",
       [](V a, V b, V) {
         EXPECT_FLOAT_EQ(b.nz, -1.0f);
         EXPECT_FLOAT_EQ(b.v, 1.0f - a.v);
         EXPECT_EQ(b.u, a.u);
       }},
      {"--scale-y 2", [](V a, V b, V) { EXPECT_TRUE(b.x == a.x && b.y == 2 * a.y && b.z == a.z); }},
      {"--scale 2 --scale-x 3 --scale-z -1",
       [](V a, V b, V) { EXPECT_TRUE(b.x == 6 * a.x && b.y == 2 * a.y && b.z == -2 * a.z); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    const RunResult r = RunVornix("convert " + input_ + " " + output_ + " --delete-thin " + c.options);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(LoadNativeModel(output_.c_str()), 1);
    ASSERT_EQ(gModel.vertexCount, plain.vertexCount);
    for (int i = 0; i < gModel.vertexCount; ++i) {
      SCOPED_TRACE(i);
      // The corner a reversed winding puts here: 0 stays, 1 and 2 swap.
      const int twin = i % 3 == 0 ? i : i % 3 == 1 ? i + 1 : i - 1;
      c.check(plain.vertices[i], gModel.vertices[i], plain.vertices[twin]);
    }
  }
}

// Each failure ends with one "vornix: " line naming the reason (a loader may
// report its own failure before it); usage errors exit 2, failures 1.
TEST_F(CliTest, BadArgumentsFailWithOneLineReasons) {
  const std::string junk = TempPath("junk.vnx"), sample = VORNIX_SAMPLE_MODEL, png = TempPath("bad.png");
  const std::string faceless = TempPath("faceless.dxf");
  const std::string convert = "convert " + input_ + " " + output_, render = "render " + sample + " -o " + png;
  struct Case {
    std::string arguments;
    int status;
    std::string reason;
  } cases[] = {
      {convert + " --smooth 179.5", 1, "Angle must be in range of 0 to 179"},
      {convert + " --rotate 1,2", 1, "--rotate needs three angles"},
      {convert + " --scale abc", 1, "--scale needs a number"},
      {convert + " --frobnicate", 1, "unknown option '--frobnicate'"},
      {convert + " --scale-y abc", 1, "--scale-y needs a number"},
      {convert + " --reverse u,w", 1, "--reverse: 'w' is not one of order, normals, u, v"},
      {convert + " --reverse order,", 1, "--reverse: '' is not one of"},
      {convert + " --reverse", 1, "--reverse needs a comma-separated list"},
      {"convert " + input_ + " " + TempPath("out.obj"), 1, "unsupported file type"},
      {"info /nonexistent/model.vnx", 1, "could not read '/nonexistent/model.vnx'"},
      // Named as given, although the command reads it from its own folder.
      {"convert " + junk + " " + TempPath("out.pov"), 1, "could not read '" + junk + "'"},
      {"render " + sample, 2, "render needs -o OUT.png"},
      {render + " --size 700x500", 2, "--size must be"},
      {render + " --view side", 2, "--view must be"},
      {render + " --layout", 2, "--layout must be"},
      {render + " --repeat 0", 2, "--repeat needs a whole number"},
      {render + " --zoom 2", 2, "unknown option '--zoom'"},
      {"render model.obj -o " + png, 1, "unsupported file type"},
      {render + " --thumbnail 15", 2, "--thumbnail needs a size from 16 to 1024"},
      {render + " --thumbnail 1025", 2, "--thumbnail needs a size from 16 to 1024"},
      {render + " --thumbnail 64 --layout both", 2, "--thumbnail shows no --layout"},
      // What a file manager may hand the thumbnailer: a file that only looks
      // like a model, or a drawing without a face.
      {"render " + junk + " -o " + png + " --thumbnail 64", 1, "could not read '" + junk + "'"},
      {"render " + faceless + " -o " + png + " --thumbnail 64", 1, "nothing to draw in '" + faceless + "'"},
      {"render " + sample + " -o /nonexistent/dir/out.png", 1, "could not write '/nonexistent/dir/out.png'"},
  };
  std::ofstream(junk) << "not a model";
  std::ofstream(faceless) << "0\nSECTION\n2\nENTITIES\n0\nENDSEC\n0\nEOF\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const RunResult r = RunVornix(c.arguments);
    EXPECT_EQ(r.status, c.status);
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.back(), '\n');
    const std::string last = r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1);
    EXPECT_EQ(last.rfind("vornix: ", 0), 0u) << r.err;
    EXPECT_NE(last.find(c.reason), std::string::npos) << r.err;
  }
  EXPECT_EQ(RunVornix("--frobnicate").status, 2) << "an unknown word prints the usage";
  EXPECT_EQ(ReadAll(png), "") << "nothing written";
  EXPECT_FALSE(FileExists(output_)) << "nothing written";

  // The desktop program without a display says so and points to render.
  const RunResult headless = RunVornix("", "/tmp && env -u DISPLAY -u WAYLAND_DISPLAY");
  EXPECT_EQ(headless.status, 1);
  EXPECT_NE(headless.err.find("vornix render"), std::string::npos) << headless.err;
  EXPECT_EQ(std::count(headless.err.begin(), headless.err.end(), '\n'), 1) << headless.err;

  const RunResult help = RunVornix("--help"), version = RunVornix("--version");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: vornix", 0), 0u) << help.out;
  EXPECT_EQ(version.status, 0);
  EXPECT_NE(version.out.find("Vornix 3D!"), std::string::npos);
  std::remove(junk.c_str());
  std::remove(faceless.c_str());
}

// The sample model through X and back keeps every polygon, material, normal
// and texture coordinate to the six decimals the X text carries; --flip-v
// writes 1 - v. The reminder is printed once, and is no error.
TEST(CliXTest, SampleRoundTripsThroughXText) {
  const std::string x = TempPath("round.x"), back = TempPath("round.vnx"), flipped = TempPath("flipped.vnx");
  const std::string sample = VORNIX_SAMPLE_MODEL;
  RunResult r = RunVornix("convert " + sample + " " + x);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string reminder = "Vornix 3D! Reminder: Reminder - It is recommended";
  const size_t first = r.err.find(reminder);
  EXPECT_NE(first, std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(reminder, first + 1), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("vornix:"), std::string::npos) << r.err;
  ASSERT_EQ(RunVornix("convert " + x + " " + back).status, 0);
  ASSERT_EQ(RunVornix("convert " + sample + " " + x + " --flip-v").status, 0);
  ASSERT_EQ(RunVornix("convert " + x + " " + flipped).status, 0);

  ScopedScriptedUI ui;
  static Model original, inverted;
  ASSERT_EQ(LoadNativeModel(flipped.c_str()), 1);
  inverted = gModel;
  ASSERT_EQ(LoadNativeModel(sample.c_str()), 1);
  CleanUpModel();  // as saving does: polygons in material order
  original = gModel;
  ASSERT_EQ(LoadNativeModel(back.c_str()), 1);
  ASSERT_EQ(gModel.vertexCount, original.vertexCount);
  ASSERT_EQ(gModel.materialCount, original.materialCount);
  for (int i = 0; i < gModel.materialCount; ++i) {
    const ModelMaterial &a = original.materials[i], &b = gModel.materials[i];
    EXPECT_TRUE(std::fabs(a.red - b.red) <= 1e-6f && std::fabs(a.alpha - b.alpha) <= 1e-6f &&
                a.specularPower == b.specularPower && a.hasTexture == b.hasTexture)
        << "material " << i;
  }
  auto near = [](float a, float b) { return std::fabs(a - b) <= 1e-6f * std::max(1.0f, std::fabs(a)); };
  int differing = 0;
  for (int i = 0; i < gModel.vertexCount; ++i) {
    const ModelVertex &a = original.vertices[i], &b = gModel.vertices[i], &f = inverted.vertices[i];
    const bool same = near(a.x, b.x) && near(a.y, b.y) && near(a.z, b.z) && near(a.nx, b.nx) &&
                      near(a.ny, b.ny) && near(a.nz, b.nz) && near(a.u, b.u) && near(a.v, b.v) &&
                      a.material == b.material && near(1.0f - a.v, f.v);
    if (!same && ++differing <= 3) ADD_FAILURE() << "vertex " << i << " differs";
  }
  EXPECT_EQ(differing, 0);
  for (const std::string& p : {x, back, flipped}) std::remove(p.c_str());
}

// The pixels of a PNG as the program writes it (8-bit RGB in stored deflate
// blocks), row after row without the filter bytes; empty when it is not one.
std::vector<uint8_t> PngPixels(const std::string& file, int* width, int* height) {
  auto be32 = [&](size_t at) {
    return uint32_t(uint8_t(file[at])) << 24 | uint8_t(file[at + 1]) << 16 | uint8_t(file[at + 2]) << 8 |
           uint8_t(file[at + 3]);
  };
  const size_t idat = file.find("IDAT");
  if (file.size() < 33 || file.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || file.compare(12, 4, "IHDR") != 0 ||
      idat == std::string::npos)
    return {};
  *width = int(be32(16)), *height = int(be32(20));
  std::string raw;
  for (size_t at = idat + 6, end = idat + 4 + be32(idat - 4); at + 5 <= end;) {
    const size_t length = uint8_t(file[at + 1]) | uint8_t(file[at + 2]) << 8;
    raw += file.substr(at + 5, length);
    at += 5 + length;
  }
  const size_t row = size_t(*width) * 3 + 1;
  if (raw.size() != row * size_t(*height)) return {};
  std::vector<uint8_t> pixels;
  for (size_t y = 0; y < size_t(*height); ++y)
    pixels.insert(pixels.end(), raw.begin() + long(y * row + 1), raw.begin() + long((y + 1) * row));
  return pixels;
}

// Renders from the temporary folder to a relative name there, so that the
// model's texture must be found beside the model; the picture's pixels.
std::vector<uint8_t> RenderElsewhere(const std::string& arguments, RunResult* r, int* width, int* height) {
  const std::string png = TempPath("render.png");
  const size_t slash = png.rfind('/');
  std::remove(png.c_str());
  *r = RunVornix("render " + arguments + " -o " + png.substr(slash + 1), png.substr(0, slash));
  const std::vector<uint8_t> pixels = PngPixels(ReadAll(png), width, height);
  std::remove(png.c_str());
  return pixels;
}

// Nothing but the frame time on standard error.
TEST(CliRenderTest, SampleRendersToAPngOfTheRequestedSize) {
  RunResult r;
  int width = 0, height = 0;
  const std::vector<uint8_t> pixels =
      RenderElsewhere(std::string(VORNIX_SAMPLE_MODEL) + " --size 800x600 --view 3d --layout both --repeat 3",
                      &r, &width, &height);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.rfind("frame ms: ", 0), 0u) << r.err;
  EXPECT_EQ(width, 800);
  EXPECT_EQ(height, 600);
  EXPECT_EQ(pixels.size(), 800u * 600u * 3u);
}

// A thumbnail is the model alone on the viewport background, filling the
// square with a narrow margin and centred, whatever the model's size and
// place: the sample, and a strip far off the origin at its own size, tiny
// (in front of the near plane at the start-up distance) and huge (beyond
// the far plane).
TEST_F(CliTest, ThumbnailFramesAnyModelInTheSquare) {
  const std::string sample = VORNIX_SAMPLE_MODEL;
  const std::string tiny = TempPath("tiny.vnx"), huge = TempPath("huge.vnx");
  ASSERT_EQ(RunVornix("convert " + input_ + " " + tiny + " --scale 0.001").status, 0);
  ASSERT_EQ(RunVornix("convert " + input_ + " " + huge + " --scale 100000").status, 0);
  for (const std::string& model : {sample, input_, tiny, huge}) {
    SCOPED_TRACE(model);
    RunResult r;
    int width = 0, height = 0;
    const std::vector<uint8_t> pixels = RenderElsewhere(model + " --thumbnail 96", &r, &width, &height);
    ASSERT_EQ(r.status, 0) << r.err;
    if (model == sample) {
      EXPECT_EQ(r.err, "") << "the texture is found beside the model";
    }
    ASSERT_EQ(width, 96);
    ASSERT_EQ(height, 96);
    ASSERT_EQ(pixels.size(), 96u * 96u * 3u);
    // The bounds of what differs from the background in the top-left corner.
    int left = 96, right = -1, top = 96, bottom = -1;
    for (int y = 0; y < 96; ++y)
      for (int x = 0; x < 96; ++x) {
        const uint8_t* p = &pixels[size_t(y * 96 + x) * 3];
        if (std::abs(p[0] - pixels[0]) + std::abs(p[1] - pixels[1]) + std::abs(p[2] - pixels[2]) <= 6)
          continue;
        left = std::min(left, x), right = std::max(right, x), top = std::min(top, y),
        bottom = std::max(bottom, y);
      }
    EXPECT_EQ(pixels[1] > pixels[0] && pixels[1] > pixels[2], true) << "the green viewport background";
    EXPECT_GE(std::max(right - left, bottom - top), 84)
        << left << " " << right << " " << top << " " << bottom;
    EXPECT_TRUE(left >= 1 && top >= 1 && right <= 94 && bottom <= 94)
        << left << " " << right << " " << top << " " << bottom;
    EXPECT_LE(std::abs(left + right - 95), 2) << left << " " << right;
    EXPECT_LE(std::abs(top + bottom - 95), 2) << top << " " << bottom;
  }
  for (const std::string& p : {tiny, huge}) std::remove(p.c_str());
}

// Run from another folder: the scene and its tinted texture land beside the
// output name, and the decal is found beside the model and mapped through its
// projection boxes. The scene's bytes, camera and mapping included, are
// held by the identity test.
TEST(CliPovTest, SampleConvertsToASceneWithItsTexture) {
  std::string folder = TempPath("scene_XXXXXX");
  ASSERT_TRUE(mkdtemp(folder.data()));
  ASSERT_EQ(0, mkdir((folder + "/out").c_str(), 0700));
  const RunResult r = RunVornix(std::string("convert ") + VORNIX_SAMPLE_MODEL + " out/car.pov", folder);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("Error"), std::string::npos) << r.err;
  const std::string scene = ReadAll(folder + "/out/car.pov");
  const size_t ppm = scene.find("ppm \"car_pov_");
  ASSERT_NE(ppm, std::string::npos);
  const std::string texture =
      ReadAll(folder + "/out/" + scene.substr(ppm + 5, scene.find('"', ppm + 5) - ppm - 5));
  const std::string header = "P6\n# Exported by Vornix 3D!(tm) - https://vornix.invalid\n128 64\n255\n";
  EXPECT_EQ(texture.substr(0, header.size()), header);
  EXPECT_EQ(texture.size(), header.size() + 128 * 64 * 3);
  std::system(("rm -rf '" + folder + "'").c_str());
}

}  // namespace
