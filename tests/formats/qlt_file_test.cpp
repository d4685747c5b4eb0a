#include "formats/qlt_file.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "formats/export_tables.h"
#include "model/model.h"
#include "platform/scripted/scripted_ui.h"
#include "render/progress_box.h"
#include "render/qlt.h"
#include "support/model_builder.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the expected bytes are packed from host values");

namespace {

// Little-endian bytes packed by hand, independently of the code under test.
struct Bytes {
  std::string s;
  Bytes& Raw(const void* p, size_t n) { return s.append(static_cast<const char*>(p), n), *this; }
  Bytes& I32(int32_t v) { return Raw(&v, 4); }
  Bytes& U16(uint16_t v) { return Raw(&v, 2); }
  Bytes& F32(std::initializer_list<float> values) {
    for (float v : values) Raw(&v, 4);
    return *this;
  }
  // A 129-byte name field; `name` may fill it without a NUL.
  Bytes& Name(const std::string& name) { return s.append(name), s.append(129 - name.size(), '\0'), *this; }
};

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Two materials: three vertices and one triangle, then three vertices and
// two triangles. Version 2 files carry the alpha names; `digit` is the
// magic's version digit.
std::string TwoMaterialFile(int version, char digit, float radius, const std::string& textureName) {
  Bytes b;
  if (version == 2) b.Raw("ORVANEX ", 8).Raw(&digit, 1).Raw("", 1);
  b.F32({-1, -2, -3, 4, 5, 6, radius}).I32(2).I32(3).I32(3).I32(3).I32(6);
  for (int r = 0; r < 6; ++r) b.F32({float(r), float(r % 2), -float(r), 0, 0, 1, 0.25f * r, 1 - 0.25f * r});
  for (uint16_t i : {0, 1, 2, 0, 1, 2, 2, 1, 0}) b.U16(i);
  for (int m = 0; m < 2; ++m) {
    b.F32({0.5f, 0.25f, 0.125f, 1, 8, 0.1f, 0.2f, 0.3f, 0, 0, float(m)});
    b.Name(m == 0 ? textureName : std::string("\0junk", 5));
    if (version == 2) b.Name(m == 0 ? "alf.bmp" : "");
  }
  return b.s;
}

class QltModelFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgressHide();
    ClearModel();
  }
  void TearDown() override {
    std::remove(path_.c_str());
    ClearModel();
  }
  ScopedScriptedUI scripted;
  std::string path_ = TempPath("model.qlt");
};

TEST_F(QltModelFileTest, ExportWritesTheExactBytes) {
  SetMaterial(0, 1.0f, 0.5f, 0.25f);
  ModelMaterial& textured = gModel.materials[0];
  textured.specularPower = 8, textured.specularRed = 0.1f, textured.emissiveBlue = 0.75f;
  textured.hasTexture = 1, textured.hasAlpha = 1;
  std::memset(textured.textureFile, 'x', FileNameSize);  // stale bytes after the name stay out of the file
  std::snprintf(textured.textureFile, FileNameSize, "wood.bmp");
  std::snprintf(textured.alphaFile, FileNameSize, "mask.bmp");
  SetMaterial(1, 0.2f, 0.4f, 0.6f, 0.5f);
  std::snprintf(gModel.materials[1].textureFile, FileNameSize, "stale.bmp");  // hasTexture stays 0
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 0);
  AddTriangle(1, 0, 0, 1, 1, 0, 0, 1, 0, 0);
  AddTriangle(2, 2, 2, 3, 2, 2, 2, 3, 2, 1);
  gModel.minX = -1, gModel.minY = -2, gModel.minZ = -3, gModel.maxX = 4, gModel.maxY = 5, gModel.maxZ = 6;
  gModel.modelRadius = 9;
  ASSERT_EQ(PrepareExport(0, path_.c_str()), 1);
  ASSERT_EQ(ExportQLT(path_.c_str()), 1);

  Bytes b;
  b.Raw("ORVANEX 2", 10).F32({-1, -2, -3, 4, 5, 6, 9}).I32(2).I32(5).I32(3).I32(6).I32(3);
  // x, y, z and the corner number k, which gives u = k / 2 and v = 1 - k / 4.
  // The second triangle's first two corners differ from the first's in u, v;
  // its third corner equals the first triangle's and is stored once.
  const float records[8][4] = {{0, 0, 0, 0}, {1, 0, 0, 1}, {0, 1, 0, 2}, {1, 0, 0, 0},
                               {1, 1, 0, 1}, {2, 2, 2, 0}, {3, 2, 2, 1}, {2, 3, 2, 2}};
  for (const auto& r : records) b.F32({r[0], r[1], r[2], 0, 0, 1, 0.5f * r[3], 1 - 0.25f * r[3]});
  for (uint16_t i : {0, 1, 2, 3, 4, 2, 0, 1, 2}) b.U16(i);
  b.F32({1, 0.5f, 0.25f, 1, 8, 0.1f, 0, 0, 0, 0, 0.75f}).Name("wood.bmp").Name("mask.bmp");
  b.F32({0.2f, 0.4f, 0.6f, 0.5f, 0, 0, 0, 0, 0, 0, 0}).Name("").Name("");
  EXPECT_EQ(ReadAll(path_), b.s);
  EXPECT_EQ(gModel.materials[1].textureFile[0], '\0');  // the clearing stays in the Model
  EXPECT_TRUE(scripted.ui.messages.empty());
}

// Reading replaces the library's materials and everything of the old Model.
TEST_F(QltModelFileTest, ReadsBothVersionsNamesAndBounds) {
  const std::string longName(129, 'n');  // no NUL in the field
  const struct {
    int version;
    float radius;
    std::string name, expectedName;
  } cases[] = {
      {2, 7, std::string("tex.bmp\0old", 11), "tex.bmp"},  // the magic's version digit is 7
      {1, NAN, longName, longName.substr(0, 128)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    WriteAll(path_, TwoMaterialFile(c.version, '7', c.radius, c.name));
    SetMaterial(1, 1, 1, 1);
    gModel.materials[1].hidden = 1;
    qlt_AddMaterial(1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, "", 0, "");
    ASSERT_EQ(ImportQLT(path_.c_str()), 1) << qlt_GetErrorString();
    EXPECT_EQ(qlt_DeclarationCount(), 0);
    EXPECT_STREQ(CheckModelInvariants(), "");
    ASSERT_EQ(gModel.materialCount, 2);
    const ModelMaterial &m = gModel.materials[0], &plain = gModel.materials[1];
    EXPECT_EQ(m.textureFile, c.expectedName);
    EXPECT_EQ(m.hasTexture, 1);
    EXPECT_EQ(m.alphaFile, std::string(c.version == 2 ? "alf.bmp" : ""));
    EXPECT_EQ(m.hasAlpha, c.version == 2 ? 1 : 0);
    EXPECT_TRUE(plain.hasTexture == 0 && plain.hidden == 0 && plain.emissiveBlue == 1.0f);
    // Material 1's indices 2, 1, 0 address its own block: records 5, 4, 3.
    ASSERT_EQ(gModel.vertexCount, 9);
    const int expectedRecord[9] = {0, 1, 2, 3, 4, 5, 5, 4, 3};
    for (int i = 0; i < 9; ++i) {
      const ModelVertex& v = gModel.vertices[i];
      EXPECT_TRUE(v.x == expectedRecord[i] && v.v == 1 - 0.25f * expectedRecord[i] && v.material == (i >= 3))
          << i;
    }
    // A header that is not a number gives the box of the vertices.
    const bool stored = !std::isnan(c.radius);
    EXPECT_EQ(gModel.minX, stored ? -1.0f : 0.0f);
    EXPECT_EQ(gModel.maxZ, stored ? 6.0f : 0.0f);
    EXPECT_EQ(gModel.modelRadius, stored ? 7.0f : float(std::sqrt(26.0)));
  }
}

TEST_F(QltModelFileTest, RefusedFilesLeaveTheModelAndSayWhy) {
  const std::string valid = TwoMaterialFile(2, '2', 7, "tex.bmp");
  ASSERT_EQ(valid.size(), 872u);
  const size_t none = std::string::npos;
  const struct {
    std::vector<std::array<int32_t, 3>> patches;  // offset, value, width
    size_t keep;                                  // bytes kept of the file; 0 = all, npos = no file
    const char* detail;                           // null: a read failure
  } cases[] = {
      {{{38, 31, 4}}, 0, "its material count is not between 0 and 30"},
      {{{38, -1, 4}}, 0, "its material count is not between 0 and 30"},
      {{{46, -3, 4}}, 0, "it stores a negative count"},
      {{{54, 4, 4}}, 0, "an index count is not a multiple of 3"},
      {{{42, 16384, 4}, {46, 16385, 4}}, 0, "it holds more than 32768 vertices"},
      {{{50, 98307, 4}}, 0, "it holds more than 98304 indices"},
      {{{256, 3, 2}}, 0, "an index points beyond its material's vertices"},
      {{}, 871, nullptr},
      {{}, 9, nullptr},
      {{}, none, nullptr},
  };
  SetMaterial(0, 0.3f, 0.3f, 0.3f);
  SetMaterial(1, 0.6f, 0.6f, 0.6f);
  AddTriangle(5, 5, 5, 6, 5, 5, 5, 6, 5, 1);
  RecomputeBounds();
  const std::vector<ModelVertex> vertices(gModel.vertices, gModel.vertices + 3);
  const std::vector<ModelMaterial> materials(gModel.materials, gModel.materials + 2);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.detail ? c.detail : std::to_string(c.keep));
    std::string file = valid;
    for (const auto& p : c.patches) file.replace(p[0], p[2], reinterpret_cast<const char*>(&p[1]), p[2]);
    if (c.keep != 0 && c.keep != none) file.resize(c.keep);
    std::remove(path_.c_str());
    if (c.keep != none) WriteAll(path_, file);
    EXPECT_EQ(ImportQLT(path_.c_str()), 0);
    std::string message =
        (c.keep == none ? "Could not open 3D Model file: " : "Could not read 3D Model file: ") + path_;
    if (c.detail) message = "Not a valid Quelt 3D! model: " + path_ + " (" + c.detail + ")";
    EXPECT_EQ(qlt_GetErrorString(), "ImportQLT\n" + message + "\n\n");
    ASSERT_TRUE(gModel.vertexCount == 3 && gModel.materialCount == 2 && gModel.minX == 5.0f);
    EXPECT_EQ(std::memcmp(gModel.vertices, vertices.data(), 3 * sizeof(ModelVertex)), 0);
    EXPECT_EQ(std::memcmp(gModel.materials, materials.data(), 2 * sizeof(ModelMaterial)), 0);
  }
  EXPECT_TRUE(scripted.ui.messages.empty());
}

}  // namespace
