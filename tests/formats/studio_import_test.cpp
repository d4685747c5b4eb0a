#include "formats/studio_import.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "model/model.h"
#include "model/normals.h"
#include "platform/scripted/scripted_ui.h"
#include "render/progress_box.h"
#include "support/model_builder.h"
#include "support/studio_writer.h"

namespace {

class StudioImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgressHide();
    ClearModel();
    averageAcrossMaterials = 0;
  }
  void TearDown() override {
    ClearModel();
    averageAcrossMaterials = 0;
    std::remove(path.c_str());
  }

  int Import(const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return ImportPath(path);
  }
  int Import(const StudioChunk& main) { return Import(main.Bytes()); }
  int ImportPath(const std::string& file) {
    scripted.ui.messages.clear();
    return Import3DS(file.c_str());
  }
  std::string Messages() const {
    std::string all;
    for (const auto& m : scripted.ui.messages) all += "[" + m.caption + "] " + m.text + "\n";
    return all;
  }

  ScopedScriptedUI scripted;
  const std::string path = TempPath("import.3ds");
};

// Per polygon its corners as "x,y,z:u,v" and "/material", then per material
// its colour, alpha, texture name and flag.
std::string Summary() {
  std::string s;
  char item[200];
  for (int k = 0; k < gModel.vertexCount; ++k) {
    const ModelVertex& v = gModel.vertices[k];
    const char* gap = k % 3 ? " " : k ? ", " : "";
    std::snprintf(item, sizeof item, "%s%g,%g,%g:%g,%g", gap, v.x, v.y, v.z, v.u, v.v);
    s += item;
    if (k % 3 == 2) s += "/" + std::to_string(v.material);
  }
  for (int i = 0; i < gModel.materialCount; ++i) {
    const ModelMaterial& m = gModel.materials[i];
    std::snprintf(item, sizeof item, " |%g,%g,%g,%g'%s'%d", m.red, m.green, m.blue, m.alpha, m.textureFile,
                  m.hasTexture);
    s += item;
  }
  return s;
}

// Materials after "Late": ambient and specular colours, light colours and
// unknown chunks (with their children) are skipped; a diffuse chunk without
// a colour hands its turn to no later colour.
TEST_F(StudioImportTest, MeshesKeepTheirOwnNumberingAndFindMaterialsByName) {
  StudioChunk main(0x4D4D);
  StudioChunk& objects = main.Child(0x3D3D);
  AddStudioMaterial(objects, "Red", 255, 0, 0);
  AddStudioMaterial(objects, "Blue", 0, 0, 255);
  AddStudioMaterial(objects, "blue", 0, 0, 128);  // a later twin is never chosen
  StudioChunk& faces = AddStudioMesh(objects, "a", {1, 2, 3, 4, 2, 3, 1, 5, 3, 9, 9, 9},
                                     {{0, 1, 2}, {1, 3, 2}}, {0.25f, 0.75f, 1, 0, 0, 1, 0.5f, -2});
  AddStudioFaceMaterial(faces, "Late", {0});  // not read yet: material 0
  AddStudioFaceMaterial(faces, "bLUE", {1});
  // Its own vertices 0..2, no mapping list and no face materials.
  AddStudioMesh(objects, "b", {2, 1, 7, 3, 1, 7, 2, 2, 7}, {{2, 1, 0}});
  AddStudioMaterial(objects, "Late", 0, 255, 0);
  StudioChunk& diffuse = objects.Child(0xAFFF).Child(0xA020);
  diffuse.Child(0x0012).U8(1).U8(2).U8(3);
  diffuse.Child(0x0010).F32(0.25f).F32(0.5f).F32(0.75f);
  StudioChunk& plain = objects.Child(0xAFFF);
  plain.Child(0xA010).Child(0x0011).U8(9).U8(9).U8(9);
  plain.Child(0xA020);
  plain.Child(0xA030).Child(0x0010).F32(0.5f).F32(0.5f).F32(0.5f);
  objects.Child(0x4000).Str("lamp").Child(0x4600).F32(1).F32(2).F32(3).Child(0x0010).F32(1).F32(1).F32(1);
  StudioChunk& mapped = objects.Child(0xAFFF);
  mapped.Child(0xA200).Child(0xA300).Str("tex.bmp");
  mapped.Child(0xA230).Child(0xA300).Str("bump.bmp");
  mapped.Child(0xA040).Child(0xA300).Str("hidden.bmp");
  ASSERT_EQ(Import(main), 1);
  EXPECT_EQ(Summary(),
            "1,3,-2:0.25,0.75 4,3,-2:1,0 1,3,-5:0,1/0, "
            "4,3,-2:1,0 9,9,-9:0.5,-2 1,3,-5:0,1/1, "
            "2,7,-2:0,0 3,7,-1:0,0 2,7,-1:0,0/0 |1,0,0,1''0 |0,0,1,1''0 |0,0,0.501961,1''0 |0,1,0,1''0 "
            "|0.25,0.5,0.75,1''0 |0,0,0,1''0 |0,0,0,1'bump.bmp'1");
  EXPECT_EQ(Messages(), "");
  EXPECT_FLOAT_EQ(gModel.modelRadius, std::sqrt(9.0f * 9 + 9 * 9 + 1));
}

// The importer smooths at 45 degrees and never across materials, whatever
// the user's option (which it leaves as it was): two faces meeting along the
// edge (0,0,0)-(1,0,0) average their shared corners at 44 degrees only, and
// only on one material.
TEST_F(StudioImportTest, NormalsAverageNeighboursOfOneMaterialBelowFortyFiveDegrees) {
  const struct {
    float degrees;
    bool twoMaterials, averaged;
  } cases[] = {{44, false, true}, {46, false, false}, {44, true, false}};
  averageAcrossMaterials = 1;
  for (const auto& c : cases) {
    const float a = c.degrees * 3.14159265f / 180;
    StudioChunk main(0x4D4D);
    StudioChunk& objects = main.Child(0x3D3D);
    AddStudioMaterial(objects, "A", 1, 1, 1);
    AddStudioMaterial(objects, "B", 1, 1, 1);
    // Model (x, y, z) is file (x, -z, y).
    StudioChunk& faces = AddStudioMesh(
        objects, "hinge", {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, -std::cos(a), -std::sin(a)}, {{0, 1, 2}, {1, 0, 3}});
    if (c.twoMaterials) AddStudioFaceMaterial(faces, "B", {1});
    ASSERT_EQ(Import(main), 1);
    SCOPED_TRACE(&c - cases);
    EXPECT_NEAR(gModel.vertices[0].ny, c.averaged ? std::cos(a / 2) : 1, 1e-6f);
    EXPECT_NEAR(gModel.vertices[0].nz, c.averaged ? std::sin(a / 2) : 0, 1e-6f);
    EXPECT_EQ(averageAcrossMaterials, 1);
  }
}

// ---- Damaged and hostile files ------------------------------------------------

constexpr float Nan = NAN, Inf = INFINITY;
const std::vector<float> Square = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
const std::vector<StudioFace> TwoFaces = {{0, 1, 2}, {0, 2, 3}};
using Edit = void (*)(StudioChunk& objects, StudioChunk& faceList);

// A file of materials "M0" .. (textured from M199 on) and then a mesh "m";
// `edit` may add chunks after the mesh and to its face list.
std::string OneMesh(const std::vector<float>& xyz, const std::vector<StudioFace>& faces, Edit edit = nullptr,
                    const std::vector<float>& uv = {}, int materials = 1) {
  StudioChunk main(0x4D4D);
  StudioChunk& objects = main.Child(0x3D3D);
  for (int i = 0; i < materials; ++i)
    AddStudioMaterial(objects, "M" + std::to_string(i), uint8_t(i), 0, 0,
                      i >= 199 ? "t" + std::to_string(i) : "");
  StudioChunk& list = AddStudioMesh(objects, "m", xyz, faces, uv);
  if (edit) edit(objects, list);
  return main.Bytes();
}

// Chunks nested `depth` deep around a valid object mesh.
std::string DeeplyNested(int depth) {
  const std::string inner = OneMesh(Square, TwoFaces).substr(6);
  std::string bytes;
  for (int i = 0; i < depth; ++i)
    bytes += StudioChunk(0x4D4D).ForceLength(uint32_t(6 * (depth - i) + inner.size())).Bytes();
  return bytes + inner;
}

std::string Grid(const std::string& path, int triangles, int meshes) {
  return WriteStudioGrid(path, triangles, meshes, 2) ? ReadAll(path) : "";
}

// Every count and index in range and every number a later pass reads finite.
bool ModelIsSound() {
  bool sound = *CheckModelInvariants() == '\0';
  for (int k = 0; k < gModel.vertexCount; ++k) {
    const ModelVertex& v = gModel.vertices[k];
    sound &= v.material >= 0 && v.material < gModel.materialCount;
    for (float f : {v.x, v.y, v.z, v.nx, v.ny, v.nz, v.u, v.v}) sound &= std::isfinite(f);
  }
  for (int m = 0; m < gModel.materialCount; ++m) {
    const ModelMaterial& x = gModel.materials[m];
    for (float f : {x.red, x.green, x.blue, x.alpha}) sound &= std::isfinite(f);
  }
  return sound;
}

TEST_F(StudioImportTest, DamagedFilesKeepWhatIsIntactAndSayWhatWasLost) {
  const std::string damaged = "Some chunks are damaged";
  const std::string valid = OneMesh(Square, TwoFaces);
  // Its vertex list promises 10 vertices but holds 3; face (0 1 3).
  std::string shortList = OneMesh({0, 0, 0, 1, 0, 0, 0, 1, 0}, {{0, 1, 2}, {0, 1, 3}}, nullptr, {}, 0);
  shortList[32] = 10;
  const struct {
    const char* what;
    std::string bytes;
    int polygons, materials;
    std::string message;  // a part of the one warning; empty: none
  } cases[] = {
      {"a chunk length below 6 ends its level",
       OneMesh(Square, TwoFaces,
               [](StudioChunk& o, StudioChunk&) { o.Child(0x1234).ForceLength(3).Child(0xAFFF); }),
       2, 1, damaged},
      {"a chunk reaching past its parent is read up to the parent's end",
       OneMesh(Square, TwoFaces, [](StudioChunk&, StudioChunk& f) { f.ForceLength(0x7FFFFFFF); }), 2, 1,
       damaged},
      {"a file cut inside the face list keeps the whole faces", valid.substr(0, valid.size() - 3), 1, 1,
       damaged},
      {"a vertex list cut short ends there", shortList, 1, 1, "1 polygon(s) that refer to vertices"},
      {"faces naming vertices the mesh lacks are dropped", OneMesh(Square, {{0, 1, 2}, {0, 4, 3}, {9, 1, 2}}),
       1, 1, "2 polygon(s) that refer to vertices their mesh does not have were left out."},
      {"face material entries beyond the faces are ignored",
       OneMesh(Square, TwoFaces,
               [](StudioChunk&, StudioChunk& f) {
                 AddStudioFaceMaterial(f, "m0", {1, 2});
               }),
       2, 1, "1 face material entries"},
      {"faces without any material get a default one", OneMesh(Square, TwoFaces, nullptr, {}, 0), 2, 1, ""},
      {"faces with corners that are not numbers are dropped, other values become 0",
       OneMesh({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, Inf, 0}, TwoFaces,
               [](StudioChunk& o, StudioChunk&) {
                 o.Child(0xAFFF).Child(0xA020).Child(0x0010).F32(Nan).F32(1).F32(0);
               },
               {Nan, 0, 0, Inf, 0, 0, 0, 0}),
       1, 2,
       "1 polygon(s) with corners that are not numbers were left out.\n"
       "3 colour or texture coordinate value(s) that are not numbers were set to 0."},
      {"corners so far apart that a normal's squares overflow leave no NaN",
       OneMesh({0, 0, 0, 1e13f, 0, 0, 1e13f, 1e13f, 0, 0, 1e13f, 0}, TwoFaces), 2, 1, ""},
      {"nesting far too deep is not followed", DeeplyNested(100000), 0, 0, damaged},
      {"nesting of a plausible depth is followed", DeeplyNested(20), 2, 1, ""},
      {"32770 polygons in one mesh", Grid(path, 32770, 1), 32768, 2,
       "2 polygon(s) beyond the capacity of a model (32768)"},
      {"32770 polygons in three meshes", Grid(path, 32770, 3), 32768, 2,
       "2 polygon(s) beyond the capacity of a model (32768)"},
      {"201 materials: the last is left out and changes nothing",
       OneMesh(
           Square, TwoFaces,
           [](StudioChunk&, StudioChunk& f) {
             AddStudioFaceMaterial(f, "M199", {0});
             AddStudioFaceMaterial(f, "M200", {1});
           },
           {}, 201),
       2, 200, "1 material(s) beyond the capacity of a model (200) were left out"},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.what);
    ASSERT_EQ(Import(t.bytes), 1);
    EXPECT_EQ(gModel.vertexCount, 3 * t.polygons);
    EXPECT_EQ(gModel.materialCount, t.materials);
    EXPECT_TRUE(ModelIsSound());
    if (t.message.empty()) {
      EXPECT_EQ(Messages(), "");
    } else {
      ASSERT_EQ(scripted.ui.messages.size(), 1u) << Messages();
      EXPECT_EQ(scripted.ui.messages[0].caption, "Warning");
      EXPECT_NE(scripted.ui.messages[0].text.find(t.message), std::string::npos) << Messages();
    }
  }
  // The last case: material 199 kept its colour and texture, and the face
  // naming the left-out material has material 0.
  EXPECT_NEAR(gModel.materials[199].red, 199 * 0.003921569f, 1e-6f);
  EXPECT_STREQ(gModel.materials[199].textureFile, "t199");
  EXPECT_EQ(gModel.vertices[0].material, 199);
  EXPECT_EQ(gModel.vertices[3].material, 0);
}

// Names without a NUL stop at 128 characters and at their chunk's end; a
// face-material name is cut the same way, so it still finds its material.
TEST_F(StudioImportTest, LongNamesWithoutTerminatorAreCut) {
  StudioChunk main(0x4D4D);
  StudioChunk& objects = main.Child(0x3D3D);
  objects.Child(0xAFFF).Child(0xA000).Str("first");
  StudioChunk& material = objects.Child(0xAFFF);
  material.Child(0xA000).Raw(std::string(300, 'a'));
  material.Child(0xA200).Child(0xA300).Raw(std::string(200, 'b'));
  objects.Child(0xAFFF).Child(0xA000).Str(std::string(128, 'a'));
  AddStudioFaceMaterial(AddStudioMesh(objects, "m", Square, TwoFaces), std::string(150, 'A'), {1});
  ASSERT_EQ(Import(main), 1);
  EXPECT_EQ(std::string(gModel.materials[1].textureFile), std::string(128, 'b'));
  EXPECT_EQ(gModel.vertices[3].material, 1);
  EXPECT_TRUE(ModelIsSound());
}

TEST_F(StudioImportTest, FilesThatCannotBeReadLeaveTheModelAlone) {
  const std::string missing = TempPath("missing.3ds");
  for (const char* bytes : {static_cast<const char*>(nullptr), "invalid 3ds file", ""}) {
    ClearModel();
    AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 0);
    SetMaterial(0, 1, 1, 1);
    EXPECT_EQ(bytes ? Import(bytes) : ImportPath(missing), 0);
    EXPECT_EQ(Messages(), bytes ? "[Error] This is not a 3D Studio file: " + path + "\n"
                                : "[Error] Could not open file: " + missing + "\n");
    EXPECT_TRUE(gModel.vertexCount == 3 && gModel.materialCount == 1);
  }
}

// Hand counts, read with a small script of their own from the chunks:
// cube_with_materials.3ds: one mesh of 12 faces, materials tex (texture.png),
// red, green, blue, white with 2, 2, 2, 2 and 4 faces. test1.3ds: 9 meshes of
// 12 faces, 3 materials (IMAGE1.JPG first) with 24, 48 and 36 faces.
// house.3ds: 24 meshes (some without mapping list), 1187 faces, 13 materials.
TEST_F(StudioImportTest, CorpusFilesImportWithTheirHandCounts) {
  const struct {
    const char* name;
    int polygons, materials;
    const char* texture;                // of material 0
    std::vector<int> facesPerMaterial;  // empty: not counted
  } counted[] = {{"cube_with_materials.3ds", 12, 5, "texture.png", {2, 2, 2, 2, 4}},
                 {"test1.3ds", 108, 3, "IMAGE1.JPG", {24, 48, 36}},
                 {"house.3ds", 1187, 13, "", {}}};
  const std::string folder = std::string(VORNIX_CORPUS_DIR) + "/3ds/";
  DIR* dir = opendir(folder.c_str());
  if (!dir) GTEST_SKIP() << "no model corpus at " << folder;
  int files = 0, imported = 0, hand = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.find(".3ds") == std::string::npos && name.find(".3DS") == std::string::npos) continue;
    SCOPED_TRACE(name);
    ++files;
    if (ImportPath(folder + name) != 1) {
      EXPECT_EQ(name, "wrong.3ds") << Messages();
      continue;
    }
    ++imported;
    EXPECT_TRUE(ModelIsSound());
    for (const auto& c : counted) {
      if (name != c.name) continue;
      ++hand;
      EXPECT_EQ(Messages(), "");
      EXPECT_EQ(gModel.vertexCount, 3 * c.polygons);
      EXPECT_EQ(gModel.materialCount, c.materials);
      EXPECT_STREQ(gModel.materials[0].textureFile, c.texture);
      if (c.facesPerMaterial.empty()) continue;
      std::vector<int> perMaterial(size_t(gModel.materialCount), 0);
      for (int k = 0; k < gModel.vertexCount; k += 3) ++perMaterial[size_t(gModel.vertices[k].material)];
      EXPECT_EQ(perMaterial, c.facesPerMaterial);
    }
  }
  closedir(dir);
  EXPECT_GE(files, 16);
  EXPECT_EQ(imported, files - 1);
  EXPECT_EQ(hand, 3);
}

}  // namespace
