#include "formats/x_import.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "formats/x_text_passes.h"
#include "formats/xtext.h"
#include "model/model.h"
#include "platform/scripted/scripted_ui.h"
#include "reference/literal_x_import.h"
#include "render/progress_box.h"
#include "support/model_builder.h"

namespace {

const char* const Path = "t.x";
const char* const White = "__qlt_token_material:{1;1;1;1;0;0;0;0;0;0;0;}";
const char* const BadIndexText =
    "t.x: Some faces refer to vertices, normals or materials that their mesh does not have.\n\nFaces with "
    "missing vertices were left out, missing normals are calculated and missing materials become the "
    "mesh's first material.";

// The vertex list of a mesh whose vertex i lies at (i, i * i % 7, z).
std::string Vertices(int count, int z = 0) {
  std::string s = std::to_string(count) + ";";
  for (int i = 0; i < count; ++i)
    s += std::to_string(i) + ";" + std::to_string(i * i % 7) + ";" + std::to_string(z) + ";";
  return s;
}

std::string Mesh(const std::string& body) { return "__qlt_token_mesh:{" + body + "}"; }

std::string List(const std::string& items, const std::string& materials = White) {
  return "__qlt_token_meshmateriallist:{" + items + materials + "}";
}

class XImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgressHide();
    ClearModel();
  }
  void TearDown() override { ClearModel(); }

  int Interpret(const std::string& text) {
    SetXText(text.data(), int(text.size()));
    return InterpretMeshes(Path);
  }
  std::string Messages() const {
    std::string all;
    for (const auto& m : scripted.ui.messages) all += "[" + m.caption + "] " + m.text + "\n";
    return all;
  }
  // The mesh vertex a Model vertex came from (its x is the index).
  static int Source(int k) { return int(gModel.vertices[k].x); }

  ScopedScriptedUI scripted;
};

// ---- Interpretation of canonical text -------------------------------------

TEST_F(XImportTest, FacesFanOutFromTheirFirstCorner) {
  // A quad, a pentagon and a triangle over vertices of their own.
  ASSERT_EQ(Interpret(Mesh(Vertices(12) + "3;4;0;1;2;3;5;4;5;6;7;8;3;9;10;11;" + List("1;3;0;0;0;"))), 1);
  const int expected[] = {0, 1, 2, 0, 2, 3, 4, 5, 6, 4, 6, 7, 4, 7, 8, 9, 10, 11};
  ASSERT_EQ(gModel.vertexCount, 18);
  for (int k = 0; k < 18; ++k) EXPECT_EQ(Source(k), expected[k]) << "vertex " << k;
  EXPECT_EQ(gModel.vertices[4].y, 4.0f);  // vertex 2 at (2, 4, 0)
  EXPECT_EQ(Messages(), "");
}

TEST_F(XImportTest, MaterialsFollowTheirMeshAndCarryTheirTexture) {
  const std::string textured =
      "__qlt_token_material:{0.5;0.25;0.125;0.75;8;0.1;0.2;0.3;0.4;0.5;0.6;"
      "__qlt_token_texturefilename:{\"wood.bmp\";}}";
  ASSERT_EQ(Interpret(Mesh(Vertices(4) + "2;3;0;1;2;3;0;2;3;" + List("2;2;1;0;", White + textured)) +
                      Mesh(Vertices(3, 5) + "1;3;0;1;2;" + List("1;1;0;"))),
            1);
  ASSERT_EQ(gModel.materialCount, 3);
  ASSERT_EQ(gModel.vertexCount, 9);
  const int materials[] = {1, 0, 2};
  for (int t = 0; t < 3; ++t) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(gModel.vertices[3 * t + c].material, materials[t]) << t;
  }
  const ModelMaterial& m = gModel.materials[1];
  const float want[11] = {0.5f, 0.25f, 0.125f, 0.75f, 8, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f};
  const float got[11] = {m.red,           m.green,         m.blue,          m.alpha,
                         m.specularPower, m.specularRed,   m.specularGreen, m.specularBlue,
                         m.emissiveRed,   m.emissiveGreen, m.emissiveBlue};
  for (int i = 0; i < 11; ++i) EXPECT_EQ(got[i], want[i]) << "field " << i;
  EXPECT_STREQ(m.textureFile, "wood.bmp");
  EXPECT_EQ(m.hasTexture, 1);
  EXPECT_EQ(m.hasAlpha, 0);
  EXPECT_EQ(gModel.materials[0].hasTexture, 0);
  EXPECT_EQ(gModel.materials[0].red, 1.0f);
}

TEST_F(XImportTest, TextureNamesAreTakenBetweenTheNextTwoQuotesOfTheirObject) {
  const std::string longName(200, 'a');
  struct Case {
    std::string object;  // what follows the eleven items of a material
    std::string name;
  };
  const Case cases[] = {
      {"__qlt_token_texturefilename:{\"" + longName + "\";}", longName.substr(0, 128)},
      {"__qlt_token_texturefilename:{\"\";}", ""},
      {"__qlt_token_texturefilename:{nothing;}", ""},
      {"__qlt_token_texturefilename:{\"open;}", ""},
      {"\"outside.bmp\";", ""},  // quotes, but no texture file name object
  };
  for (const Case& c : cases) {
    ClearModel();
    const std::string material = "__qlt_token_material:{1;1;1;1;0;0;0;0;0;0;0;" + c.object + "}";
    ASSERT_EQ(Interpret(Mesh(Vertices(3) + "1;3;0;1;2;" + List("1;1;0;", material)) + "\"x\""), 1)
        << c.object;
    EXPECT_EQ(std::string(gModel.materials[0].textureFile), c.name) << c.object;
    EXPECT_EQ(gModel.materials[0].hasTexture, c.name.empty() ? 0 : 1) << c.object;
  }
}

TEST_F(XImportTest, OnlyTwinsOfTheSameFacingAreDropped) {
  // Rotated corners keep the facing: dropped, also from a later mesh and
  // 0.000001 away. Reversed corners face the other way: kept.
  const std::string twin = "4;0;0;0;1;0;0;0;1;0;0.000001;0;0;";
  ASSERT_EQ(Interpret(Mesh(twin + "4;3;0;1;2;3;1;2;0;3;2;1;0;3;3;1;2;" + List("1;4;0;0;0;0;")) +
                      Mesh(twin + "1;3;2;0;1;" + List("1;1;0;"))),
            1);
  ASSERT_EQ(gModel.vertexCount, 6);
  const int expected[] = {0, 1, 0, 0, 1, 0};  // x of the kept corners: faces (0 1 2) and (2 1 0)
  for (int k = 0; k < 6; ++k) EXPECT_EQ(gModel.vertices[k].x, float(expected[k])) << k;
  EXPECT_EQ(gModel.vertices[3].y, 1.0f);
  EXPECT_EQ(gModel.materialCount, 2);  // the dropped mesh still brings its material
}

TEST_F(XImportTest, NormalsAndTextureCoordinatesFollowTheCorners) {
  // Normal n is (n + 1, 0, 0) so its index shows; the record names them per
  // corner and the fan takes entries 0, k-1, k.
  const std::string normals = "__qlt_token_meshnormals:{4;1;0;0;2;0;0;3;0;0;4;0;0;1;4;3;2;1;0;}";
  const std::string coords = "__qlt_token_meshtexturecoords:{4;0;0.5;1;1.5;2;2.5;3;3.5;}";
  ASSERT_EQ(Interpret(Mesh(Vertices(4) + "1;4;0;1;2;3;" + List("1;1;0;") + normals + coords)), 1);
  ASSERT_EQ(gModel.vertexCount, 6);
  const int normal[] = {3, 2, 1, 3, 1, 0};
  for (int k = 0; k < 6; ++k) {
    const ModelVertex& v = gModel.vertices[k];
    EXPECT_EQ(v.nx, float(normal[k] + 1)) << k;
    EXPECT_EQ(v.u, float(Source(k))) << k;
    EXPECT_EQ(v.v, float(Source(k)) + 0.5f) << k;
    EXPECT_EQ(v.selected, 0);
  }
  EXPECT_EQ(Messages(), "");
}

TEST_F(XImportTest, CountMismatchesAreReportedAndFilledIn) {
  // Faces (0 1 2) and (1 3 2); normal 0 is (0, 0, 1).
  struct Case {
    std::string subObjects;
    std::string message;
  };
  const Case cases[] = {
      {List("1;1;0;"),
       "MeshMaterialList:nFaceIndexes does not equal Mesh:nFaces\n\nFaces with unassigned materials will be "
       "assigned to material zero if possible."},
      {List("1;2;0;0;") + "__qlt_token_meshnormals:{1;0;0;1;1;3;0;0;0;}",
       "MeshNormals:nFaceNormals != Mesh:nFaces  (Not equal!)"},
      {List("1;2;0;0;") + "__qlt_token_meshtexturecoords:{3;0;0;1;1;2;2;}",
       "MeshTextureCoords:nTextureCoords != Mesh:nVertices  (Not equal!)"},
      {"", "MeshMaterialList does not exist"},
  };
  for (const Case& c : cases) {
    ClearModel();
    scripted.ui.messages.clear();
    ASSERT_EQ(Interpret(Mesh(Vertices(4) + "2;3;0;1;2;3;1;3;2;" + c.subObjects)), 1) << c.message;
    EXPECT_EQ(Messages(), "[Fatal Error - Fix the X File!] " + c.message + "\n");
    ASSERT_EQ(gModel.vertexCount, 6) << c.message;
    ASSERT_EQ(gModel.materialCount, 1) << c.message;
    EXPECT_EQ(gModel.materials[0].red, 1.0f);
    const bool normals = c.subObjects.find("normals") != std::string::npos;
    const bool coords = c.subObjects.find("texture") != std::string::npos;
    for (int k = 0; k < 6; ++k) {
      const ModelVertex& v = gModel.vertices[k];
      EXPECT_EQ(v.material, 0) << c.message;
      // The second face has no normal record; vertex 3 has no coordinates.
      EXPECT_EQ(v.nz, normals && k < 3 ? 1.0f : 0.0f) << c.message << " vertex " << k;
      EXPECT_EQ(v.u, coords && Source(k) < 3 ? float(Source(k)) : 0.0f) << c.message << " vertex " << k;
    }
  }
}

TEST_F(XImportTest, FacesNamingWhatTheirMeshLacksAreRepairedAndReportedOnce) {
  // Vertices 0..3, faces (0 1 x) and (1 2 3); every mesh comes twice, so the
  // message must come once and the second copy's faces are duplicates.
  auto mesh = [](const std::string& faces, const std::string& rest) {
    const std::string one = Mesh(Vertices(4) + "2;" + faces + "3;1;2;3;" + rest);
    return one + one;
  };
  const std::string black = "__qlt_token_material:{0;0;0;1;0;0;0;0;0;0;0;}";
  struct Case {
    const char* what;
    std::string text;
    int polygons;
    int materials;
    bool reported;
    std::function<void()> check;
  };
  const Case cases[] = {
      {"corner beyond the vertices", mesh("3;0;1;4;", List("1;2;0;0;")), 1, 2, true,
       [] { EXPECT_EQ(Source(0), 1); }},
      {"negative corner", mesh("3;0;-1;2;", List("1;2;0;0;")), 1, 2, true, [] { EXPECT_EQ(Source(0), 1); }},
      {"normal beyond the list",
       mesh("3;0;1;2;", List("1;2;0;0;") + "__qlt_token_meshnormals:{1;1;0;0;2;3;0;0;0;3;0;0;9;}"), 2, 2,
       true,
       [] {
         for (int k = 0; k < 6; ++k) EXPECT_EQ(gModel.vertices[k].nx, k == 5 ? 0.0f : 1.0f) << k;
       }},
      {"record shorter than its face",
       mesh("3;0;1;2;", List("1;2;0;0;") + "__qlt_token_meshnormals:{1;1;0;0;2;3;0;0;0;2;0;0;}"), 2, 2, true,
       [] { EXPECT_EQ(gModel.vertices[5].nx, 0.0f); }},
      {"material beyond the list", mesh("3;0;1;2;", List("1;2;0;5;")), 2, 2, true,
       [] { EXPECT_EQ(gModel.vertices[5].material, 0); }},
      {"list without materials", mesh("3;0;1;2;", List("0;2;0;0;", "")), 2, 2, true,
       [] { EXPECT_EQ(gModel.materials[1].red, 1.0f); }},
      // The k-th material is looked for in the rest of the text: the first
      // mesh's second one is the next mesh's first; the last mesh gets the
      // default for the one the text no longer holds.
      {"missing material object", mesh("3;0;1;2;", List("2;2;1;1;", black)), 2, 4, false,
       [] {
         EXPECT_EQ(gModel.vertices[0].material, 1);
         const float red[4] = {0, 0, 0, 1};
         for (int m = 0; m < 4; ++m) EXPECT_EQ(gModel.materials[m].red, red[m]) << m;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearModel();
    scripted.ui.messages.clear();
    ASSERT_EQ(Interpret(c.text), 1);
    EXPECT_EQ(Messages(), c.reported ? "[Warning] " + std::string(BadIndexText) + "\n" : "");
    EXPECT_EQ(gModel.vertexCount, 3 * c.polygons);
    EXPECT_EQ(gModel.materialCount, c.materials);
    EXPECT_STREQ(CheckModelInvariants(), "");
    c.check();
  }
}

TEST_F(XImportTest, FaceWithTooFewCornersStopsTheImport) {
  ASSERT_EQ(Interpret(Mesh(Vertices(4) + "2;3;0;1;2;2;1;3;" + List("1;2;0;0;"))), 0);
  EXPECT_EQ(Messages(), "[Fatal Error - Fix the X File!] Faces must have >=3 verticies\n");
  EXPECT_EQ(gModel.vertexCount, 3);  // the faces before it stay
  EXPECT_EQ(gModel.materialCount, 0);
}

TEST_F(XImportTest, CountsAreTruncatedAndNegativeOnesAreEmpty) {
  // 3.9 vertices are 3; -2 faces are none; an empty mesh brings its materials.
  ASSERT_EQ(Interpret(Mesh("3.9;0;0;0;1;0;0;0;1;0;1.5;3.7;0;1;2;" + List("1;1;0;")) +
                      Mesh("0;-2;" + List("2;0;", std::string(White) + White))),
            1);
  EXPECT_EQ(gModel.vertexCount, 3);
  EXPECT_EQ(gModel.materialCount, 3);
  EXPECT_EQ(Messages(), "");
}

TEST_F(XImportTest, MaterialTableFullLeavesTheRemainingMeshesOut) {
  std::string many;
  for (int i = 0; i < 150; ++i) many += White;
  const std::string first = Mesh(Vertices(3) + "1;3;0;1;2;" + List("150;1;149;", many));
  const std::string second = Mesh(Vertices(3, 1) + "1;3;0;1;2;" + List("60;1;0;", many));
  ASSERT_EQ(Interpret(first + second + first), 1);
  EXPECT_EQ(Messages(),
            "[Warning] t.x: The file holds more materials than a model can (200). The remaining meshes "
            "were left out.\n");
  EXPECT_EQ(gModel.materialCount, 150);
  EXPECT_EQ(gModel.vertexCount, 3);
  EXPECT_EQ(gModel.vertices[0].material, 149);
}

TEST_F(XImportTest, FullModelKeepsWhatFitsAndTheMeshMaterials) {
  // Triangles (i, 0, 0) (i, 1, 0) (i, 0, 1): 32768 fit, the rest is cut.
  const int triangles = MaxVertices / 3 + 5;
  std::string text = "__qlt_token_mesh:{" + std::to_string(3 * triangles) + ";";
  for (int i = 0; i < triangles; ++i) {
    const std::string x = std::to_string(i);
    text += x + ";0;0;" + x + ";1;0;" + x + ";0;1;";
  }
  text += std::to_string(triangles) + ";";
  for (int i = 0; i < triangles; ++i)
    text += "3;" + std::to_string(3 * i) + ";" + std::to_string(3 * i + 1) + ";" + std::to_string(3 * i + 2) +
            ";";
  text += List("2;1;0;", std::string(White) + White) + "}";
  ASSERT_EQ(Interpret(text + Mesh(Vertices(3, 9) + "1;3;0;1;2;" + List("1;1;0;"))), 1);
  EXPECT_EQ(gModel.vertexCount, MaxVertices);
  EXPECT_EQ(gModel.materialCount, 2);  // the second mesh is left out
  EXPECT_EQ(gModel.vertices[MaxVertices - 1].x, float(MaxVertices / 3 - 1));
  EXPECT_EQ(
      Messages(),
      "[Fatal Error - Fix the X File!] MeshMaterialList:nFaceIndexes does not equal Mesh:nFaces\n\nFaces "
      "with unassigned materials will be assigned to material zero if possible.\n"
      "[Warning] t.x: The file holds more polygons than a model can (32768). The remaining polygons were "
      "left out.\n");
}

TEST_F(XImportTest, MeshBeyondTheScratchListIsLeftOut) {
  // The vertex count promises more numbers than any mesh may hold; the
  // items past the end of the text read as 0 until the list is full.
  ASSERT_EQ(Interpret(Mesh(Vertices(3) + "1;3;0;1;2;" + List("1;1;0;")) + Mesh("400000;1;2;3;") +
                      Mesh(Vertices(3, 2) + "1;3;0;1;2;" + List("1;1;0;"))),
            1);
  EXPECT_EQ(gModel.vertexCount, 3);
  EXPECT_EQ(gModel.materialCount, 1);
  EXPECT_EQ(Messages(), "[Warning] t.x: A mesh holds more numbers than the importer can take (at most " +
                            std::to_string(MaxMeshNumbers) +
                            "). That mesh and the rest of the file were left out.\n");
}

// A sound file's canonical text with a few random spans replaced by tokens,
// braces, quotes or numbers of every kind (negative, fractional, huge).
// Whatever it then says, the Model keeps its invariants and a completed
// interpretation leaves every polygon on a material it has.
TEST_F(XImportTest, DamagedTextNeverBreaksTheModel) {
  const std::string sound =
      Mesh(Vertices(6) + "3;3;0;1;2;4;1;2;3;4;3;3;4;5;" +
           List("2;3;0;1;1;",
                std::string(White) +
                    "__qlt_token_material:{1;0;0;1;0;0;0;0;0;0;0;__qlt_token_texturefilename:{\"a\";}}") +
           "__qlt_token_meshnormals:{2;0;0;1;0;1;0;3;3;0;1;0;4;1;1;1;1;3;0;0;1;}" +
           "__qlt_token_meshtexturecoords:{6;0;0;1;0;1;1;0;1;0.5;0.5;1;1;}");
  const char* const pieces[] = {"__qlt_token_mesh:{",
                                "__qlt_token_meshmateriallist:{",
                                "__qlt_token_material:{",
                                "__qlt_token_meshnormals:{",
                                "{",
                                "}",
                                "\"",
                                "",
                                "3;",
                                "0;",
                                "7;",
                                "-1;",
                                "2.5;",
                                "1e9;",
                                "99999;",
                                ";",
                                "-0;"};
  std::mt19937 rng{7};
  int polygons = 0;
  for (int run = 0; run < 500; ++run) {
    std::string text = sound + sound;
    for (int m = 1 + int(rng() % 4); m > 0; --m) {
      const size_t at = rng() % text.size();
      text.replace(at, std::min<size_t>(rng() % 6, text.size() - at),
                   pieces[rng() % (sizeof pieces / sizeof *pieces)]);
    }
    const int result = Interpret(text);
    ASSERT_STREQ(CheckModelInvariants(), "") << text;
    if (result != 1) continue;
    polygons += gModel.vertexCount > 0;
    VerifyNormals(Path);
    for (int k = 0; k < gModel.vertexCount; ++k)
      ASSERT_TRUE(gModel.vertices[k].material >= 0 && gModel.vertices[k].material < gModel.materialCount)
          << text;
  }
  EXPECT_GT(polygons, 250);
}

// ---- Duplicate index and normal pass against the literal ones ---------------

using Triangle = std::array<ModelVertex, 3>;

ModelVertex At(float x, float y, float z, int material = 0) {
  return ModelVertex{x, y, z, 0, 0, 0, 0, 0, material, 0, 0, 0};
}

// Triangles over a small lattice (shared corners, 0 as -0.0 or +0.0) or
// anywhere near it, with twins of earlier ones: exact, moved by up to a few
// 0.000001 per coordinate, rotated or reversed; zero-area ones; far-out
// coordinates where floats lie far apart; and a few NaNs.
std::vector<Triangle> RandomTriangles(std::mt19937& rng, int count) {
  auto lattice = [&] {
    const int i = int(rng() % 5) - 2;
    return i == 0 && rng() % 2 ? -0.0f : 0.5f * float(i);
  };
  const float nudges[] = {0, 0, 1e-7f, -4e-7f, 9e-7f, 1e-6f, -1e-6f, 1.1e-6f, 3e-6f};
  std::vector<Triangle> out;
  while (int(out.size()) < count) {
    const int roll = int(rng() % 100);
    Triangle t;
    const int material = int(rng() % 3);
    if (roll < 40 && !out.empty()) {
      const Triangle& earlier = out[rng() % out.size()];
      const int order[6][3] = {{0, 1, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}, {1, 0, 2}, {0, 2, 1}};
      const int* o = order[rng() % 6];
      for (int c = 0; c < 3; ++c) {
        t[c] = earlier[o[c]];
        if (roll < 25) {
          t[c].x += nudges[rng() % 9];
          t[c].y += nudges[rng() % 9];
          t[c].z -= nudges[rng() % 9];
        }
      }
    } else if (roll < 48) {
      const ModelVertex a = At(lattice(), lattice(), lattice());
      t = {a, rng() % 2 ? a : At(2 * a.x, 2 * a.y, 2 * a.z), At(lattice(), lattice(), lattice())};
      if (roll % 2) t[2] = At(3 * a.x, 3 * a.y, 3 * a.z);
    } else if (roll < 55) {
      const float far = 524288.0f * float(1 + rng() % 2);
      for (auto& c : t) c = At(far + float(rng() % 3) * 0.0625f, -far, lattice());
    } else {
      // Lattice corners, or anywhere in -1..1 (on multiples of 0.000001 or not).
      auto anywhere = [&] {
        return roll < 70   ? lattice()
               : roll < 85 ? float(int(rng() % 2000001) - 1000000) * 1e-6f
                           : float(rng()) / 2147483648.0f - 1;
      };
      for (auto& c : t) c = At(anywhere(), anywhere(), anywhere());
      if (roll == 99) t[1].y = NAN;
      // A tiny triangle whose normal turns when a corner moves by 0.000001.
      if (roll == 98) t = {At(0, 0, 0), At(2e-6f, 0, 0), At(0, 2e-6f, 0)};
    }
    for (auto& c : t) c.material = material;
    out.push_back(t);
  }
  return out;
}

TEST(XDuplicateIndexTest, KeepsExactlyWhatTheAllPairsTestKeeps) {
  auto index = std::make_unique<DuplicateTriangleIndex>();
  auto expected = std::make_unique<Model>();
  for (unsigned seed = 0; seed < 12; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng{seed};
    const std::vector<Triangle> stream = RandomTriangles(rng, 1500);
    ClearModel();
    index->Clear();
    expected->vertexCount = 0;
    int dropped = 0;
    for (const Triangle& t : stream) {
      const bool kept = literal::AppendUnlessDuplicate(*expected, t.data());
      ASSERT_EQ(index->IsDuplicate(t.data()), !kept) << "triangle " << &t - stream.data();
      if (!kept) {
        ++dropped;
        continue;
      }
      std::memcpy(&gModel.vertices[gModel.vertexCount], t.data(), sizeof t);
      gModel.vertexCount += 3;
      index->Add(gModel.vertexCount / 3 - 1);
    }
    ASSERT_EQ(gModel.vertexCount, expected->vertexCount);
    EXPECT_EQ(std::memcmp(gModel.vertices, expected->vertices, sizeof(ModelVertex) * gModel.vertexCount), 0);
    // The stream must exercise both outcomes plentifully.
    EXPECT_GT(dropped, 150);
    EXPECT_GT(gModel.vertexCount / 3, 500);
  }
  ClearModel();
}

// Twins moved by just within and just beyond the tolerance along each axis,
// from bases swept in steps of 0.00000021 through many hash cells, so that
// pairs straddle every kind of cell side: the index finds exactly what a
// scan of all kept triangles finds. The coordinates lie where floats are
// 2^-30 apart, so that a shift of 1073 steps (0.00000099931) is exact and
// within the tolerance and one of 1074 steps is not.
TEST(XDuplicateIndexTest, FindsTwinsAcrossEveryCellSide) {
  auto index = std::make_unique<DuplicateTriangleIndex>();
  ClearModel();
  float ModelVertex::*const coordinate[3] = {&ModelVertex::x, &ModelVertex::y, &ModelVertex::z};
  const float step = std::ldexp(1.0f, -30);
  int found = 0;
  for (int i = 0; i < 3000; ++i) {
    const int axis = i % 3;
    float base[3] = {0.01f, -0.011f, 0.012f};
    base[axis] += float(i) * 7e-8f;
    const Triangle t = {At(base[0], base[1], base[2]), At(base[0] + 0.001f, base[1], base[2]),
                        At(base[0], base[1] + 0.001f, base[2])};
    std::memcpy(&gModel.vertices[gModel.vertexCount], t.data(), sizeof t);
    gModel.vertexCount += 3;
    index->Add(gModel.vertexCount / 3 - 1);
    for (const float shift : {1073 * step, -1073 * step, 1074 * step, -1074 * step}) {
      Triangle twin = t;
      for (ModelVertex& c : twin) c.*coordinate[axis] += shift;
      bool expected = false;
      for (int q = 0; q < gModel.vertexCount / 3 && !expected; ++q)
        expected = TrianglesAreDuplicates(twin.data(), &gModel.vertices[3 * q]);
      ASSERT_EQ(index->IsDuplicate(twin.data()), expected) << i << " " << shift;
      found += expected;
    }
  }
  EXPECT_GT(found, 7000);  // all within the tolerance, and the farther ones through earlier bases
  ClearModel();
}

TEST(XDuplicateTest, TwinsNeedNearCornersAndAgreeingNormals) {
  float n[3];
  const ModelVertex flat[3] = {At(0, 0, 0), At(1, 0, 0), At(2, 0, 0)};
  TriangleUnitNormal(flat, n);
  EXPECT_TRUE(n[0] == 0 && n[1] == 0 && n[2] == 0);
  const ModelVertex tiny[3] = {At(0, 0, 0), At(1e-30f, 0, 0), At(0, 1e-30f, 0)};
  TriangleUnitNormal(tiny, n);
  EXPECT_EQ(n[2], 1.0f);  // no underflow to "no direction"
  const ModelVertex a[3] = {At(0, 0, 0), At(1e-6f, 0, 0), At(0, 1e-6f, 0)};
  struct Case {
    ModelVertex b[3];
    bool twin;
  };
  const Case cases[] = {
      {{At(1e-6f, 0, 0), At(0, 1e-6f, 0), At(0, 0, 0)}, true},      // rotated
      {{At(0, 0, 0), At(1e-6f, 0, 0), At(1e-6f, 1e-6f, 0)}, true},  // a corner 0.000001 away
      {{At(0, 0, 0), At(1e-6f, 0, 0), At(0, 2.5e-6f, 0)}, false},   // 0.0000015 away
      {{At(0, 0, 0), At(0, 1e-6f, 0), At(1e-6f, 0, 0)}, false},     // reversed
      {{At(0, 0, 0), At(1e-6f, 0, 0), At(5e-7f, 0, 0)}, false},     // near corners, but no area
      {{At(-0.0f, 0, 0), At(1e-6f, -0.0f, 0), At(0, 1e-6f, -0.0f)}, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TrianglesAreDuplicates(a, c.b), c.twin) << c.b[2].x << " " << c.b[2].y;
    EXPECT_EQ(TrianglesAreDuplicates(c.b, a), c.twin);
  }
  EXPECT_TRUE(TrianglesAreDuplicates(flat, flat));
}

// A bumpy grid of triangles with the awkward cases mixed in: positions
// shared between materials, folds steeper and flatter than 45 degrees,
// -0.0 against 0.0, NaN positions, zero-area triangles, given normals
// (some NaN or infinite), and triangles laid twice in opposite windings.
void FillRandomModel(Model& model, std::mt19937& rng, int side) {
  model.vertexCount = 0;
  auto coordinate = [&](int i) { return i == side / 2 && rng() % 2 ? -0.0f : float(i - side / 2); };
  auto height = [&](int i, int j) { return float((i * 7 + j * 3) % 5) * (i < side / 2 ? 0.2f : 1.5f); };
  auto add = [&](ModelVertex a, ModelVertex b, ModelVertex c, int material) {
    for (ModelVertex v : {a, b, c}) {
      v.material = material;
      model.vertices[model.vertexCount++] = v;
    }
  };
  for (int cell = 0; cell < side * side; ++cell) {
    const int i = cell / side, j = cell % side, roll = int(rng() % 100), material = int(rng() % 3);
    ModelVertex p[4] = {At(coordinate(i), coordinate(j), height(i, j)),
                        At(coordinate(i + 1), coordinate(j), height(i + 1, j)),
                        At(coordinate(i + 1), coordinate(j + 1), height(i + 1, j + 1)),
                        At(coordinate(i), coordinate(j + 1), height(i, j + 1))};
    if (roll < 3) p[1] = p[0];
    if (roll == 3) p[2].z = NAN;
    if (roll >= 4 && roll < 14) p[0].nz = float(roll - 8);  // given, or 0 (missing) at roll 8
    if (roll == 14) p[1].nx = NAN;
    if (roll == 15) p[1].ny = INFINITY;
    add(p[0], p[1], p[2], material);
    add(p[0], p[2], p[3], roll < 60 ? material : (material + 1) % 3);
    if (roll == 16) add(p[2], p[0], p[3], material);
  }
}

TEST(XVerifyNormalsTest, MatchesTheAllPairsPassBitForBit) {
  ScopedScriptedUI scripted;
  auto expected = std::make_unique<Model>();
  for (unsigned seed = 0; seed < 8; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng{seed};
    FillRandomModel(gModel, rng, 20);
    std::memcpy(expected->vertices, gModel.vertices, sizeof(ModelVertex) * gModel.vertexCount);
    expected->vertexCount = gModel.vertexCount;
    literal::VerifyNormals(*expected);
    VerifyNormals(Path);
    ASSERT_EQ(std::memcmp(gModel.vertices, expected->vertices, sizeof(ModelVertex) * gModel.vertexCount), 0);
  }
  ClearModel();
}

TEST(XVerifyNormalsTest, SmoothsOnlyAcrossSameMaterialWithin45Degrees) {
  ScopedScriptedUI scripted;
  // Two triangles sharing the edge (0,0,0)-(0,1,0): the second one is folded
  // up by `fold` degrees. Vertex 0 averages with it only when the fold is
  // below 45 degrees and both have one material.
  struct Case {
    float fold;
    int otherMaterial;
    float given;   // nz of vertex 0, 0 = none
    float nx, nz;  // expected normal of vertex 0
  };
  const float pi = 3.14159265f, s = std::sin(pi / 12), c = std::cos(pi / 12);  // half of 30 degrees
  const Case cases[] = {
      {30, 0, 0, s, c}, {30, 1, 0, 0, 1}, {60, 0, 0, 0, 1}, {30, 0, -3, 0, -1}, {0, 0, 0, 0, 1},
  };
  for (const Case& t : cases) {
    ClearModel();
    const float a = t.fold * pi / 180;
    AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 0);
    AddTriangle(0, 0, 0, 0, 1, 0, -std::cos(a), 0, std::sin(a), t.otherMaterial);
    for (int k = 0; k < 6; ++k) gModel.vertices[k].nz = 0;
    gModel.vertices[0].nz = t.given;
    VerifyNormals(Path);
    const ModelVertex& v = gModel.vertices[0];
    EXPECT_NEAR(v.nx, t.nx, 2e-6f) << t.fold << " " << t.otherMaterial;
    EXPECT_NEAR(v.ny, 0, 2e-6f);
    EXPECT_NEAR(v.nz, t.nz, 2e-6f) << t.fold << " " << t.otherMaterial;
    EXPECT_EQ(gModel.vertices[1].nz, 1.0f);  // not shared with the second triangle
  }
  // A zero-area triangle has no direction to give and keeps 0, 0, 0.
  ClearModel();
  AddTriangle(0, 0, 0, 1, 0, 0, 2, 0, 0, 0);
  for (int k = 0; k < 3; ++k) gModel.vertices[k].nz = 0;
  VerifyNormals(Path);
  EXPECT_TRUE(gModel.vertices[0].nx == 0 && gModel.vertices[0].ny == 0 && gModel.vertices[0].nz == 0);
  ClearModel();
}

// ---- Whole files -----------------------------------------------------------

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

TEST_F(XImportTest, ImportsAFileWithNormalsAndBox) {
  const std::string path = TempPath("pyramid.x");
  WriteFile(path,
            "xof 0302txt 0064\n"
            "template Header {\n <3D82AB43-62DA-11cf-AB39-0020AF71E433>\n WORD major;\n}\n"
            "Header {\n 1;\n 0;\n 1;\n}\n"
            "Material Red {\n 1.0;0.0;0.0;1.0;;\n 5.0;\n 0.0;0.0;0.0;;\n 0.0;0.0;0.0;;\n"
            " TextureFilename {\n  \"My Bricks.BMP\";\n }\n}\n"
            "Frame Root {\n FrameTransformMatrix {\n  1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;;\n }\n"
            " Mesh Pyramid {\n  4;\n  0;0;0;, 2;0;0;, 0;2;0;, 0;0;-3;;\n"
            "  3;\n  3;0,2,1;, 3;0,1,3;, 3;0,3,2;;\n"
            "  MeshMaterialList {\n   1;\n   3;\n   0,0,0;;\n   {Red}\n  }\n }\n}\n");
  ASSERT_EQ(ImportX(path.c_str()), 1) << Messages();
  std::remove(path.c_str());
  EXPECT_EQ(Messages(), "");
  ASSERT_EQ(gModel.vertexCount, 9);
  ASSERT_EQ(gModel.materialCount, 1);
  EXPECT_EQ(gModel.materials[0].red, 1.0f);
  EXPECT_EQ(gModel.materials[0].specularPower, 5.0f);
  EXPECT_STREQ(gModel.materials[0].textureFile, "mybricks.bmp");
  // The faces meet at 90 degrees: every corner keeps its own face normal.
  const float normals[3][3] = {{0, 0, -1}, {0, 1, 0}, {1, 0, 0}};
  for (int k = 0; k < 9; ++k) {
    const ModelVertex& v = gModel.vertices[k];
    EXPECT_TRUE(v.nx == normals[k / 3][0] && v.ny == normals[k / 3][1] && v.nz == normals[k / 3][2]) << k;
  }
  std::string progress;
  for (const std::string& line : scripted.ui.progressTexts) progress += line + "\n";
  for (const char* step :
       {"Interpreting data...", "Verifying normals...", "Determining bounding box size..."})
    EXPECT_NE(progress.find(step), std::string::npos) << step << " in\n" << progress;
  const float box[7] = {gModel.minX, gModel.maxX, gModel.minY,       gModel.maxY,
                        gModel.minZ, gModel.maxZ, gModel.modelRadius};
  const float want[7] = {0, 2, 0, 2, -3, 0, 3};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(box[i], want[i]) << i;
}

TEST_F(XImportTest, FailuresLeaveOrMatchTheModel) {
  AddTriangle(5, 5, 5, 6, 5, 5, 5, 6, 5, 0);
  SetMaterial(0, 1, 0, 0);
  RecomputeBounds();
  const std::string path = TempPath("fail.x");
  // Refused by the text passes: the model stays as it was.
  WriteFile(path, "xof 0302txt 0064\nFrame {}\n");
  EXPECT_EQ(ImportX(path.c_str()), 0);
  EXPECT_EQ(gModel.vertexCount, 3);
  EXPECT_EQ(gModel.maxX, 6.0f);
  // Refused while interpreting: what was read stays, with its own box.
  WriteFile(path, "xof 0302txt 0064\nMesh {\n 3;\n 0;0;0;, 1;0;0;, 0;1;0;;\n 2;\n 3;0,1,2;, 2;0,1;;\n}\n");
  EXPECT_EQ(ImportX(path.c_str()), 0);
  std::remove(path.c_str());
  EXPECT_EQ(gModel.vertexCount, 3);
  EXPECT_EQ(gModel.maxX, 1.0f);
  EXPECT_EQ(gModel.minX, 0.0f);
  EXPECT_NE(Messages().find("Faces must have >=3 verticies"), std::string::npos) << Messages();
}

// ---- The corpus --------------------------------------------------------------

std::string CorpusX(const std::string& name) { return std::string(VORNIX_CORPUS_DIR) + "/x/" + name; }

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> names;
  if (DIR* dir = opendir(CorpusX("").c_str())) {
    while (dirent* e = readdir(dir)) {
      const std::string name = e->d_name;
      if (name.size() > 2 && (name.substr(name.size() - 2) == ".x" || name.substr(name.size() - 2) == ".X"))
        names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

TEST_F(XImportTest, EveryCorpusFileImportsOrIsRefusedCleanly) {
  const std::vector<std::string> names = CorpusFiles();
  ASSERT_GE(names.size(), 20u);
  int imported = 0;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    ClearModel();
    scripted.ui.messages.clear();
    const std::string path = CorpusX(name);
    const int result = ImportX(path.c_str());
    EXPECT_STREQ(CheckModelInvariants(), "");
    const std::string first = scripted.ui.messages.empty() ? "" : scripted.ui.messages[0].text;
    if (name == "test_cube_binary.x" || name == "sphere0.x") {
      EXPECT_EQ(first.find(path + " is a valid X file but is in binary format!"), 0u) << first;
    } else if (name == "test_cube_compressed.x") {
      EXPECT_EQ(first, path + " is not a valid ascii text X file!");
    } else if (name == "scene.x") {
      EXPECT_EQ(first, path + ": Mesh definition not found!");
    }
    if (result == 1) {
      ++imported;
      EXPECT_GT(gModel.vertexCount, 0);
      for (int k = 0; k < gModel.vertexCount; ++k) {
        const ModelVertex& v = gModel.vertices[k];
        ASSERT_TRUE(v.material >= 0 && v.material < gModel.materialCount) << k;
        ASSERT_FALSE(std::isnan(v.nx) || std::isnan(v.ny) || std::isnan(v.nz)) << k;
      }
    }
  }
  EXPECT_GE(imported, 15);  // the text files whose templates hold no keyword
}

// Counted by hand from the files: every face in them is a triangle and no
// two faces lie on the same corners, so each face is one polygon. room.x:
// one mesh of 24 faces (floor, four walls, two wall strips, five ceiling
// pieces of two faces each, all in different places) and a list of 3
// materials; box (-6,-3,-6)..(6,3,6). supplies.x: meshes of 8 faces (sides)
// and 4 (top and bottom), one material each. crate.x: two boxes of 12
// faces, one material each. test_cube_text.x: a cube of 12 faces with one
// material referenced by name, corners at +-1 (one z at -1.000001).
TEST_F(XImportTest, HandCountedCorpusFiles) {
  struct Case {
    const char* name;
    int polygons, materials;
    float radius;
    const char* texture;  // of material 0
  };
  const Case cases[] = {
      {"room.x", 24, 3, 9.0f, "misc\\\\ground2.bmp"},
      {"supplies.x", 12, 2, std::sqrt(2 * 6.25f * 6.25f + 6.125f * 6.125f), "supplies_0.bmp"},
      {"crate.x", 24, 2, 0, "crate.png"},
      {"test_cube_text.x", 12, 1, std::sqrt(3.0f), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    scripted.ui.messages.clear();
    ASSERT_EQ(ImportX(CorpusX(c.name).c_str()), 1);
    EXPECT_EQ(Messages(), "");
    EXPECT_EQ(gModel.vertexCount, 3 * c.polygons);
    EXPECT_EQ(gModel.materialCount, c.materials);
    if (c.radius > 0) {
      EXPECT_NEAR(gModel.modelRadius, c.radius, 2e-6f);
    }
    EXPECT_STREQ(gModel.materials[0].textureFile, c.texture);
    EXPECT_EQ(gModel.materials[0].hasTexture, c.texture[0] != '\0');
    for (int k = 0; k < gModel.vertexCount; ++k) {
      const ModelVertex& v = gModel.vertices[k];
      ASSERT_NEAR(v.nx * v.nx + v.ny * v.ny + v.nz * v.nz, 1.0f, 1e-5f) << "vertex " << k;
    }
  }
}

// The hashed duplicate test and normal pass against the literal ones on the
// models of the corpus: no kept triangle duplicates an earlier one (the
// index never misses; what it drops it has tested with the exact
// predicate), and the normals agree bit for bit.
TEST_F(XImportTest, CorpusModelsMatchTheLiteralPasses) {
  auto expected = std::make_unique<Model>();
  int checked = 0;
  for (const std::string& name : CorpusFiles()) {
    SCOPED_TRACE(name);
    ClearModel();
    const std::string path = CorpusX(name);
    if (!MakeCanonicalXText(path.c_str()) || !InterpretMeshes(path.c_str())) continue;
    ++checked;
    for (int p = 1; p < gModel.vertexCount / 3; ++p) {
      for (int q = 0; q < p; ++q)
        ASSERT_FALSE(TrianglesAreDuplicates(&gModel.vertices[3 * p], &gModel.vertices[3 * q]))
            << p << " " << q;
    }
    std::memcpy(expected->vertices, gModel.vertices, sizeof(ModelVertex) * gModel.vertexCount);
    expected->vertexCount = gModel.vertexCount;
    literal::VerifyNormals(*expected);
    VerifyNormals(path.c_str());
    ASSERT_EQ(std::memcmp(gModel.vertices, expected->vertices, sizeof(ModelVertex) * gModel.vertexCount), 0);
  }
  EXPECT_GE(checked, 5);
}

}  // namespace
