#include "formats/x_import.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "formats/export_tables.h"
#include "formats/x_text_passes.h"
#include "formats/xtext.h"
#include "model/model.h"
#include "platform/scripted/scripted_ui.h"
#include "reference/literal_x_import.h"
#include "render/progress_box.h"
#include "support/model_builder.h"

namespace {

const char* const Path = "t.x";
const std::string White = "__qlt_token_material:{1;1;1;1;0;0;0;0;0;0;0;}";
const std::string Fix = "[Fatal Error - Fix the X File!] ";

// The vertex list of a mesh whose vertex i lies at (i, i * i % 7, z).
std::string Vertices(int count, int z = 0) {
  std::string s = std::to_string(count) + ";";
  for (int i = 0; i < count; ++i)
    s += std::to_string(i) + ";" + std::to_string(int64_t(i) * i % 7) + ";" + std::to_string(z) + ";";
  return s;
}

std::string Mesh(const std::string& body) { return "__qlt_token_mesh:{" + body + "}"; }

std::string List(const std::string& items, const std::string& materials = White) {
  return "__qlt_token_meshmateriallist:{" + items + materials + "}";
}

std::string Repeat(const std::string& piece, int count) {
  std::string s;
  while (count-- > 0) s += piece;
  return s;
}

// The Model in short: per polygon the x of its corners (the mesh vertex
// index in these texts), each followed by "n" and its normal and "t" and its
// texture coordinate where they are not zero, then "/" and its material;
// after the "|" ten times the red of every material.
std::string Summary() {
  std::string s;
  char item[128];
  for (int k = 0; k < gModel.vertexCount; ++k) {
    const ModelVertex& v = gModel.vertices[k];
    int n = std::snprintf(item, sizeof item, "%s%g", k % 3 ? " " : k ? ", " : "", v.x);
    if (v.nx != 0 || v.ny != 0 || v.nz != 0) n += std::sprintf(item + n, "n%g,%g,%g", v.nx, v.ny, v.nz);
    if (v.u != 0 || v.v != 0) n += std::sprintf(item + n, "t%g,%g", v.u, v.v);
    if (k % 3 == 2) std::sprintf(item + n, "/%d", v.material);
    s += item;
  }
  s += " |";
  for (int m = 0; m < gModel.materialCount; ++m) s += " " + std::to_string(int(gModel.materials[m].red * 10));
  return s;
}

ModelVertex At(float x, float y, float z) { return ModelVertex{x, y, z, 0, 0, 0, 0, 0, 0, 0, 0, 0}; }

// Runs the normal pass on the Model and the literal one on a copy of it;
// true when they agree bit for bit.
bool NormalsMatchTheLiteralPass() {
  static Model expected;
  std::memcpy(expected.vertices, gModel.vertices, sizeof(ModelVertex) * gModel.vertexCount);
  expected.vertexCount = gModel.vertexCount;
  literal::VerifyNormals(expected);
  VerifyNormals(Path);
  return std::memcmp(gModel.vertices, expected.vertices, sizeof(ModelVertex) * gModel.vertexCount) == 0;
}

class XImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgressHide();
    ClearModel();
  }
  void TearDown() override { ClearModel(); }

  int Interpret(const std::string& text) {
    ClearModel();
    scripted.ui.messages.clear();
    SetXText(text.data(), int(text.size()));
    return InterpretMeshes(Path);
  }
  std::string Messages() const {
    std::string all;
    for (const auto& m : scripted.ui.messages) all += "[" + m.caption + "] " + m.text + "\n";
    return all;
  }

  ScopedScriptedUI scripted;
};

// ---- Interpretation of canonical text -------------------------------------

TEST_F(XImportTest, InterpretsMeshesAndRepairsWhatTheyLack) {
  const std::string badIndex =
      "[Warning] t.x: Some faces refer to vertices, normals or materials that their mesh does not have.\n\n"
      "Faces with missing vertices were left out, missing normals are calculated and missing materials "
      "become the mesh's first material.\n";
  const std::string red = "__qlt_token_material:{0.5;0;0;1;0;0;0;0;0;0;0;}";
  // Vertices 0..3, faces (0 1 2) and (1 3 2); normal 0 is (0, 0, 1).
  const std::string square = Vertices(4) + "2;3;0;1;2;3;1;3;2;";
  // Vertices 0..3, faces (0 1 x) and (1 2 3); every mesh comes twice, so a
  // message must come once and the second copy's faces are duplicates.
  auto twice = [](const std::string& faces, const std::string& rest) {
    return Repeat(Mesh(Vertices(4) + "2;" + faces + "3;1;2;3;" + rest), 2);
  };
  // Normal n is (n + 1, 0, 0), so that its index shows.
  const std::string normals = List("1;2;0;0;") + "__qlt_token_meshnormals:{4;1;0;0;2;0;0;3;0;0;4;0;0;2;";
  const std::string twin = "4;0;0;0;1;0;0;0;1;0;0.000001;0;0;";
  const struct {
    const char* what;
    std::string text;
    int result;
    std::string summary, messages;
  } cases[] = {
      {"a quad, a pentagon and a triangle fan out from their first corner",
       Mesh(Vertices(12) + "3;4;0;1;2;3;5;4;5;6;7;8;3;9;10;11;" + List("1;3;0;0;0;")), 1,
       "0 1 2/0, 0 2 3/0, 4 5 6/0, 4 6 7/0, 4 7 8/0, 9 10 11/0 | 10", ""},
      {"normals and texture coordinates follow the corners",
       Mesh(Vertices(4) + "1;4;0;1;2;3;" + List("1;1;0;") +
            "__qlt_token_meshnormals:{4;1;0;0;2;0;0;3;0;0;4;0;0;1;4;3;2;1;0;}"
            "__qlt_token_meshtexturecoords:{4;0;0.5;1;1.5;2;2.5;3;3.5;}"),
       1, "0n4,0,0t0,0.5 1n3,0,0t1,1.5 2n2,0,0t2,2.5/0, 0n4,0,0t0,0.5 2n2,0,0t2,2.5 3n1,0,0t3,3.5/0 | 10",
       ""},
      {"materials are numbered after those of earlier meshes",
       Mesh(Vertices(4) + "2;3;0;1;2;3;0;2;3;" + List("2;2;1;0;", White + red)) +
           Mesh(Vertices(3, 5) + "1;3;0;1;2;" + List("1;1;0;")),
       1, "0 1 2/1, 0 2 3/0, 0 1 2/2 | 10 5 10", ""},
      // Rotated corners keep the facing: dropped, also from a later mesh and
      // 0.000001 away. Reversed corners face the other way: kept.
      {"only twins of the same facing are dropped",
       Mesh(twin + "4;3;0;1;2;3;1;2;0;3;2;1;0;3;3;1;2;" + List("1;4;0;0;0;0;")) +
           Mesh(twin + "1;3;2;0;1;" + List("1;1;0;")),
       1, "0 1 0/0, 0 1 0/0 | 10 10", ""},
      {"counts are truncated and negative ones are none",
       Mesh("3.9;0;0;0;1;0;0;0;1;0;1.5;3.7;0;1;2;" + List("1;1;0;")) +
           Mesh("0;-2;" + List("2;0;", White + White)),
       1, "0 1 0/0 | 10 10 10", ""},
      {"a face of two corners stops, keeping the faces before it",
       Mesh(Vertices(4) + "2;3;0;1;2;2;1;3;" + List("1;2;0;0;")), 0, "0 1 2/0 |",
       Fix + "Faces must have >=3 verticies\n"},
      {"too few material indexes", Mesh(square + List("1;1;0;")), 1, "0 1 2/0, 1 3 2/0 | 10",
       Fix +
           "MeshMaterialList:nFaceIndexes does not equal Mesh:nFaces\n\nFaces with unassigned materials will "
           "be assigned to material zero if possible.\n"},
      {"too few normal records",
       Mesh(square + List("1;2;0;0;") + "__qlt_token_meshnormals:{1;0;0;1;1;3;0;0;0;}"), 1,
       "0n0,0,1 1n0,0,1 2n0,0,1/0, 1 3 2/0 | 10",
       Fix + "MeshNormals:nFaceNormals != Mesh:nFaces  (Not equal!)\n"},
      {"too few texture coordinates",
       Mesh(square + List("1;2;0;0;") + "__qlt_token_meshtexturecoords:{3;0;0;1;1;2;2;}"), 1,
       "0 1t1,1 2t2,2/0, 1t1,1 3 2t2,2/0 | 10",
       Fix + "MeshTextureCoords:nTextureCoords != Mesh:nVertices  (Not equal!)\n"},
      {"no material list", Mesh(square), 1, "0 1 2/0, 1 3 2/0 | 10",
       Fix + "MeshMaterialList does not exist\n"},
      {"corner beyond the vertices", twice("3;0;1;4;", List("1;2;0;0;")), 1, "1 2 3/0 | 10 10", badIndex},
      {"negative corner", twice("3;0;-1;2;", List("1;2;0;0;")), 1, "1 2 3/0 | 10 10", badIndex},
      {"normal beyond the list", twice("3;0;1;2;", normals + "3;0;0;0;3;0;0;9;}"), 1,
       "0n1,0,0 1n1,0,0 2n1,0,0/0, 1n1,0,0 2n1,0,0 3/0 | 10 10", badIndex},
      // The item after the short record names a normal the mesh has.
      {"normal record shorter than its face", twice("3;0;1;2;", normals + "2;0;0;3;0;0;0;}"), 1,
       "0n1,0,0 1n1,0,0 2/0, 1n1,0,0 2n1,0,0 3n1,0,0/0 | 10 10", badIndex},
      {"material beyond the list", twice("3;0;1;2;", List("1;2;0;5;")), 1, "0 1 2/0, 1 2 3/0 | 10 10",
       badIndex},
      {"list without materials", twice("3;0;1;2;", List("0;2;0;0;", "")), 1, "0 1 2/0, 1 2 3/0 | 10 10",
       badIndex},
      // The k-th material is looked for in the rest of the text: the first
      // mesh's second one is the next mesh's first; the last mesh gets the
      // default for the one the text no longer holds.
      {"missing material object", twice("3;0;1;2;", List("2;2;1;1;", red)), 1, "0 1 2/1, 1 2 3/1 | 5 5 5 10",
       ""},
      {"material table full",
       Mesh(Vertices(3) + "1;3;0;1;2;" + List("150;1;149;", Repeat(White, 150))) +
           Mesh(Vertices(3, 1) + "1;3;0;1;2;" + List("50;1;49;", Repeat(White, 50))) +
           Mesh(Vertices(3, 2) + "1;3;0;1;2;" + List("1;1;0;")),
       1, "0 1 2/149, 0 1 2/199 |" + Repeat(" 10", 200),
       "[Warning] t.x: The file holds more materials than a model can (200). The remaining meshes were left "
       "out.\n"},
      // The items past the end of the text read as 0 until the list is full.
      {"more numbers than the scratch list holds",
       Mesh(Vertices(3) + "1;3;0;1;2;" + List("1;1;0;")) + Mesh("400000;1;2;3;") +
           Mesh(Vertices(3, 2) + "1;3;0;1;2;" + List("1;1;0;")),
       1, "0 1 2/0 | 10",
       "[Warning] t.x: A mesh holds more numbers than the importer can take (at most " +
           std::to_string(MaxMeshNumbers) + "). That mesh and the rest of the file were left out.\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Interpret(c.text), c.result) << c.what;
    EXPECT_EQ(Summary(), c.summary) << c.what;
    EXPECT_EQ(Messages(), c.messages) << c.what;
    EXPECT_STREQ(CheckModelInvariants(), "") << c.what;
  }
}

TEST_F(XImportTest, MaterialsCarryTheirFieldsAndTheNameBetweenTheNextTwoQuotes) {
  const std::string longName(200, 'a');
  // What follows the eleven items of a material, and the name it gives.
  const std::pair<std::string, std::string> cases[] = {
      {"__qlt_token_texturefilename:{\"wood.bmp\";}", "wood.bmp"},
      {"__qlt_token_texturefilename:{\"" + longName + "\";}", longName.substr(0, 128)},
      {"__qlt_token_texturefilename:{\"\";}", ""},
      {"__qlt_token_texturefilename:{nothing;}", ""},
      {"__qlt_token_texturefilename:{\"open;}", ""},
      {"\"outside.bmp\";", ""},  // quotes, but no texture file name object
  };
  const float fields[11] = {0.5f, 0.25f, 0.125f, 0.75f, 8, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f};
  for (const auto& [tail, name] : cases) {
    const std::string material =
        "__qlt_token_material:{0.5;0.25;0.125;0.75;8;0.1;0.2;0.3;0.4;0.5;0.6;" + tail;
    ASSERT_EQ(Interpret(Mesh(Vertices(3) + "1;3;0;1;2;" + List("1;1;0;", material + "}")) + "\"x\""), 1);
    const ModelMaterial& m = gModel.materials[0];
    EXPECT_EQ(std::memcmp(&m.red, fields, sizeof fields), 0) << tail;
    EXPECT_EQ(m.textureFile, name) << tail;
    EXPECT_EQ(m.hasTexture, name.empty() ? 0 : 1) << tail;
    EXPECT_EQ(m.hasAlpha, 0) << tail;  // the format has no alpha bitmaps
  }
}

TEST_F(XImportTest, FullModelKeepsWhatFitsAndTheMeshMaterials) {
  const int triangles = MaxVertices / 3 + 5;  // on vertices of their own: 32768 fit, the rest is cut
  std::string faces = std::to_string(triangles) + ";";
  for (int i = 0; i < 3 * triangles; i += 3)
    faces += "3;" + std::to_string(i) + ";" + std::to_string(i + 1) + ";" + std::to_string(i + 2) + ";";
  ASSERT_EQ(Interpret(Mesh(Vertices(3 * triangles) + faces + List("2;1;0;", White + White)) +
                      Mesh(Vertices(3, 9) + "1;3;0;1;2;" + List("1;1;0;"))),
            1);
  EXPECT_EQ(gModel.vertexCount, MaxVertices);
  EXPECT_EQ(gModel.materialCount, 2);  // the second mesh is left out
  EXPECT_EQ(gModel.vertices[MaxVertices - 1].x, float(MaxVertices - 1));
  EXPECT_EQ(Messages(),
            Fix +
                "MeshMaterialList:nFaceIndexes does not equal Mesh:nFaces\n\nFaces with unassigned "
                "materials will be assigned to material zero if possible.\n"
                "[Warning] t.x: The file holds more polygons than a model can (32768). The "
                "remaining polygons were left out.\n");
}

// ---- Duplicate index and normal pass against the literal ones ---------------

using Triangle = std::array<ModelVertex, 3>;

// Triangles over a small lattice (shared corners meeting at every angle, 0
// as -0.0 or +0.0) or anywhere in -1..1, with twins of earlier ones (exact
// or moved by up to a few 0.000001 per coordinate, in any corner order,
// reversed ones too), zero-area ones, far-out ones where floats lie far
// apart, a few NaNs, and given normals (some NaN or infinite).
std::vector<Triangle> RandomTriangles(std::mt19937& rng, int count) {
  auto lattice = [&] {
    const int i = int(rng() % 5) - 2;
    return i == 0 && rng() % 2 ? -0.0f : 0.5f * float(i);
  };
  const float nudges[] = {0, 0, 1e-7f, -4e-7f, 9e-7f, 1e-6f, -1e-6f, 1.1e-6f, 3e-6f};
  const int order[6][3] = {{0, 1, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}, {1, 0, 2}, {0, 2, 1}};
  std::vector<Triangle> out;
  while (int(out.size()) < count) {
    const int roll = int(rng() % 100), material = int(rng() % 3);
    Triangle t;
    if (roll < 40 && !out.empty()) {
      const Triangle& earlier = out[rng() % out.size()];
      const int* o = order[rng() % 6];
      for (int c = 0; c < 3; ++c) {
        t[c] = earlier[o[c]];
        t[c].x += roll < 25 ? nudges[rng() % 9] : 0;
        t[c].y -= roll < 25 ? nudges[rng() % 9] : 0;
      }
    } else if (roll < 48) {
      const ModelVertex a = At(lattice(), lattice(), lattice());
      t = {a, rng() % 2 ? a : At(2 * a.x, 2 * a.y, 2 * a.z), At(3 * a.x, 3 * a.y, 3 * a.z)};
    } else {
      auto anywhere = [&] {
        return roll < 55   ? 524288.0f * float(1 + rng() % 2) + lattice() / 8
               : roll < 70 ? lattice()
               : roll < 85 ? float(int(rng() % 2000001) - 1000000) * 1e-6f
                           : float(rng()) / 2147483648.0f - 1;
      };
      for (auto& c : t) c = At(anywhere(), anywhere(), roll == 99 ? NAN : anywhere());
      // A tiny triangle whose normal turns when a corner moves by 0.000001.
      if (roll == 98) t = {At(0, 0, 0), At(2e-6f, 0, 0), At(0, 2e-6f, 0)};
    }
    for (auto& c : t) c.material = material;
    if (roll % 8 == 1) t[rng() % 3].nz = float(int(rng() % 5) - 2);  // given, or 0: missing
    if (roll == 96) t[1].nx = NAN;
    if (roll == 97) t[1].ny = INFINITY;
    out.push_back(t);
  }
  return out;
}

// The kept triangles of random ones and their normals, as the import makes
// them, against the all-pairs passes. Then twins moved by just within and
// just beyond the tolerance along each axis, from bases swept through many
// hash cells, so that pairs straddle every kind of cell side. Where those
// coordinates lie floats are 2^-30 apart: a shift of 1073 steps is within
// the tolerance and 1074 is not.
TEST_F(XImportTest, DuplicatesAndNormalsMatchTheAllPairsPasses) {
  auto index = std::make_unique<DuplicateTriangleIndex>();
  auto keep = [&](const Triangle& t) {
    std::memcpy(&gModel.vertices[gModel.vertexCount], t.data(), sizeof t);
    gModel.vertexCount += 3;
    index->Add(gModel.vertexCount / 3 - 1);
  };
  // The all-pairs answer, after checking that the index gives it.
  auto twin = [&](const Triangle& t) {
    const bool expected = literal::HasEarlierTwin(gModel, gModel.vertexCount / 3, t.data());
    EXPECT_EQ(index->IsDuplicate(t.data()), expected) << t[0].x << " " << t[0].y << " " << t[0].z;
    return expected;
  };
  for (unsigned seed = 0; seed < 6 && !HasFailure(); ++seed) {
    std::mt19937 rng{seed};
    ClearModel();
    index->Clear();
    int dropped = 0;
    for (const Triangle& t : RandomTriangles(rng, 1500)) twin(t) ? ++dropped : (keep(t), 0);
    EXPECT_GT(dropped, 150) << seed;  // both outcomes come plentifully
    EXPECT_GT(gModel.vertexCount / 3, 500) << seed;
    EXPECT_TRUE(NormalsMatchTheLiteralPass()) << seed;
  }
  ClearModel();
  index->Clear();
  const float step = std::ldexp(1.0f, -30);
  int found = 0;
  for (int i = 0; i < 3000 && !HasFailure(); ++i) {
    float base[3] = {0.01f, -0.011f, 0.012f};
    base[i % 3] += float(i) * 7e-8f;
    const Triangle t = {At(base[0], base[1], base[2]), At(base[0] + 0.001f, base[1], base[2]),
                        At(base[0], base[1] + 0.001f, base[2])};
    keep(t);
    for (const float shift : {1073 * step, -1073 * step, 1074 * step, -1074 * step}) {
      Triangle moved = t;
      for (ModelVertex& c : moved) (i % 3 == 0 ? c.x : i % 3 == 1 ? c.y : c.z) += shift;
      found += twin(moved);
    }
  }
  EXPECT_GT(found, 7000);  // all within the tolerance, and the farther ones through earlier bases
}

TEST_F(XImportTest, TwinsNeedNearCornersAndAgreeingNormals) {
  float n[3];
  const ModelVertex tiny[3] = {At(0, 0, 0), At(1e-30f, 0, 0), At(0, 1e-30f, 0)};
  TriangleUnitNormal(tiny, n);
  EXPECT_EQ(n[2], 1.0f);  // no underflow to "no direction"
  const ModelVertex flat[3] = {At(0, 0, 0), At(1, 0, 0), At(2, 0, 0)};
  EXPECT_TRUE(TrianglesAreDuplicates(flat, flat));  // no direction equals no direction
  const ModelVertex a[3] = {At(0, 0, 0), At(1e-6f, 0, 0), At(0, 1e-6f, 0)};
  const std::pair<Triangle, bool> cases[] = {
      {{At(1e-6f, 0, 0), At(0, 1e-6f, 0), At(0, 0, 0)}, true},      // rotated
      {{At(0, 0, 0), At(1e-6f, 0, 0), At(1e-6f, 1e-6f, 0)}, true},  // a corner 0.000001 away
      {{At(0, 0, 0), At(1e-6f, 0, 0), At(0, 2.1e-6f, 0)}, false},   // 0.0000011 away
      {{At(0, 0, 0), At(0, 1e-6f, 0), At(1e-6f, 0, 0)}, false},     // reversed
      {{At(0, 0, 0), At(1e-6f, 0, 0), At(5e-7f, 0, 0)}, false},     // near corners, but no area
      {{At(-0.0f, 0, 0), At(1e-6f, -0.0f, 0), At(0, 1e-6f, -0.0f)}, true},
  };
  for (const auto& [b, twins] : cases) {
    EXPECT_EQ(TrianglesAreDuplicates(a, b.data()), twins) << b[2].x << " " << b[2].y;
    EXPECT_EQ(TrianglesAreDuplicates(b.data(), a), twins);
  }
}

TEST_F(XImportTest, NormalsSmoothOnlyAcrossSameMaterialWithin45Degrees) {
  // Two triangles share the edge (0,0,0)-(0,1,0), the second folded up by
  // `fold` degrees. Vertex 0 averages with it only when the fold is below
  // 45 degrees and both have one material; a given normal is only scaled.
  const float pi = 3.14159265f, s = std::sin(pi / 12), c = std::cos(pi / 12);  // half of 30 degrees
  // The fold, the second triangle's material, the given nz of vertex 0 (0:
  // none) and the nx and nz vertex 0 gets.
  const float cases[][5] = {
      {30, 0, 0, s, c}, {30, 1, 0, 0, 1}, {60, 0, 0, 0, 1}, {30, 0, -3, 0, -1}, {0, 0, 0, 0, 1}};
  for (const auto& t : cases) {
    ClearModel();
    AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 0);
    AddTriangle(0, 0, 0, 0, 1, 0, -std::cos(t[0] * pi / 180), 0, std::sin(t[0] * pi / 180), int(t[1]));
    for (int k = 0; k < 6; ++k) gModel.vertices[k].nz = k ? 0 : t[2];
    VerifyNormals(Path);
    const ModelVertex& v = gModel.vertices[0];
    EXPECT_TRUE(std::fabs(v.nx - t[3]) <= 2e-6f && std::fabs(v.ny) <= 2e-6f &&
                std::fabs(v.nz - t[4]) <= 2e-6f)
        << t[0] << " " << t[1] << " " << t[2] << ": " << v.nx << " " << v.ny << " " << v.nz;
    EXPECT_EQ(gModel.vertices[1].nz, 1.0f);  // not shared with the second triangle
  }
}

// The test answers as the angle itself does, also for unit normals whose
// angle lies within a few rounding steps of 45 degrees.
TEST_F(XImportTest, SmoothingAngleTestIsTheAngleNearFortyFiveDegrees) {
  const double pi = 3.14159265358979323846, step = std::ldexp(1.0, -33);  // about 1e-10 radians
  for (int i = -200000; i <= 200000; ++i) {
    // Both normals turn, so that their dot products lie closer together
    // than the floats near cos 45 degrees.
    const double a = pi / 8 + i * 1e-7, b = a + pi / 4 + (i % 1000) * step;
    const float f[3] = {float(std::cos(a)), float(std::sin(a)), 0};
    const float g[3] = {float(std::cos(b)), float(std::sin(b)), 0};
    const double dot = std::min(1.0, std::max(-1.0, double(f[0]) * g[0] + double(f[1]) * g[1]));
    const double degrees = std::acos(dot) * 180.0 / 3.14159265358979323846;
    ASSERT_EQ(WithinSmoothingAngle(f, g), degrees > -45.0 && degrees < 45.0) << i;
  }
}

// Every vertex of a point where the same polygons meet gets the same bits,
// whatever its own polygon, so that export shares it: a bumpy fan of eight
// triangles around an apex exports nine vertices.
TEST_F(XImportTest, VerticesOfOnePointGetIdenticalComputedNormals) {
  SetMaterial(0, 1, 1, 1);
  auto rim = [](int i, int axis) {
    const float angle = 2 * 3.14159265f * float(i % 8) / 8;
    return axis == 0 ? std::cos(angle) : axis == 1 ? std::sin(angle) : 0.05f * float(i % 8 % 3);
  };
  for (int i = 0; i < 8; ++i)
    AddTriangle(0, 0, 0.3f, rim(i, 0), rim(i, 1), rim(i, 2), rim(i + 1, 0), rim(i + 1, 1), rim(i + 1, 2), 0);
  for (int k = 0; k < gModel.vertexCount; ++k) {
    ModelVertex& v = gModel.vertices[k];
    v.nx = v.ny = v.nz = v.u = v.v = 0;
  }
  VerifyNormals(Path);
  ASSERT_EQ(PrepareExport(0, Path), 1);
  EXPECT_EQ(ExportTables.vertexCounts[0], 9);
}

// ---- Whole files -----------------------------------------------------------

TEST_F(XImportTest, FailuresLeaveOrMatchTheModel) {
  AddTriangle(5, 5, 5, 6, 5, 5, 5, 6, 5, 0);
  SetMaterial(0, 1, 0, 0);
  RecomputeBounds();
  const std::string path = TempPath("fail.x");
  // Refused by the text passes: the model stays as it was.
  std::ofstream(path, std::ios::binary | std::ios::trunc) << "xof 0302txt 0064\nFrame {}\n";
  EXPECT_EQ(ImportX(path.c_str()), 0);
  EXPECT_EQ(gModel.vertexCount, 3);
  EXPECT_EQ(gModel.maxX, 6.0f);
  // A face of two corners stops the interpretation: the faces before it
  // stay, with their own box and no material yet.
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      << "xof 0302txt 0064\nMesh {\n 3;\n 0;0;0;, 1;0;0;, 0;1;0;;\n 2;\n 3;0,1,2;, 2;0,1;;\n}\n";
  EXPECT_EQ(ImportX(path.c_str()), 0);
  std::remove(path.c_str());
  EXPECT_EQ(gModel.vertexCount, 3);
  EXPECT_EQ(gModel.materialCount, 0);
  EXPECT_EQ(gModel.maxX, 1.0f);
  EXPECT_EQ(gModel.minX, 0.0f);
}

// Every corpus file the text passes accept imports with the Model's
// invariants kept, and its interpretation keeps no triangle that duplicates
// an earlier one and gets the literal pass's normals bit for bit. Some are
// counted by hand: every face in them is a triangle and no two lie on the
// same corners. room.x: 24 faces, 3 materials, box (-6,-3,-6)..(6,3,6).
// supplies.x: meshes of 8 and 4 faces, one material each. crate.x: two
// boxes of 12 faces, one material each. test_cube_text.x: a cube of 12
// faces, corners at +-1 (one z at -1.000001).
TEST_F(XImportTest, CorpusFilesMatchTheLiteralPassesAndTheirHandCounts) {
  const struct {
    const char* name;
    int polygons, materials;
    float radius;         // 0: not checked
    const char* texture;  // of material 0
  } counted[] = {
      {"room.x", 24, 3, 9.0f, "misc\\\\ground2.bmp"},
      {"supplies.x", 12, 2, std::sqrt(2 * 6.25f * 6.25f + 6.125f * 6.125f), "supplies_0.bmp"},
      {"crate.x", 24, 2, 0, "crate.png"},
      {"test_cube_text.x", 12, 1, std::sqrt(3.0f), ""},
  };
  const std::string folder = std::string(VORNIX_CORPUS_DIR) + "/x/";
  DIR* dir = opendir(folder.c_str());
  if (!dir) GTEST_SKIP() << "no model corpus at " << folder;
  int files = 0, imported = 0, hand = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name, path = folder + name;
    if (name.size() < 2 || (name.substr(name.size() - 2) != ".x" && name.substr(name.size() - 2) != ".X"))
      continue;
    SCOPED_TRACE(name);
    ++files;
    scripted.ui.messages.clear();
    if (!ImportX(path.c_str())) continue;
    ++imported;
    EXPECT_STREQ(CheckModelInvariants(), "");
    for (const auto& c : counted) {
      if (name != c.name) continue;
      ++hand;
      EXPECT_EQ(Messages(), "");
      EXPECT_EQ(gModel.vertexCount, 3 * c.polygons);
      EXPECT_EQ(gModel.materialCount, c.materials);
      EXPECT_TRUE(c.radius == 0 || std::fabs(gModel.modelRadius - c.radius) <= 2e-6f) << gModel.modelRadius;
      EXPECT_STREQ(gModel.materials[0].textureFile, c.texture);
      EXPECT_EQ(gModel.materials[0].hasTexture, c.texture[0] != '\0');
    }
    ASSERT_TRUE(MakeCanonicalXText(path.c_str()) && InterpretMeshes(path.c_str()));
    for (int p = 1; p < gModel.vertexCount / 3; ++p)
      ASSERT_FALSE(literal::HasEarlierTwin(gModel, p, &gModel.vertices[3 * p])) << p;
    ASSERT_TRUE(NormalsMatchTheLiteralPass());
  }
  closedir(dir);
  EXPECT_GE(files, 20);
  EXPECT_GE(imported, 15);  // the text files whose templates hold no keyword
  EXPECT_EQ(hand, 4);
}

}  // namespace
