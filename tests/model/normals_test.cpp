#include "model/normals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>

#include "model/model.h"
#include "platform/scripted/scripted_ui.h"
#include "reference/literal_passes.h"
#include "render/progress_box.h"

namespace {

struct Point {
  float x, y, z;
};

void AddPolygon(Point a, Point b, Point c, int material = 0, int selected = 1) {
  const Point corners[3] = {a, b, c};
  for (const Point& p : corners) {
    ModelVertex& v = gModel.vertices[gModel.vertexCount++];
    v = ModelVertex{};
    v.x = p.x;
    v.y = p.y;
    v.z = p.z;
    v.nx = v.ny = v.nz = 7.0f;  // a value the pass never produces
    v.material = material;
    v.selected = selected;
  }
}

void ExpectNormal(int vertex, float x, float y, float z) {
  const ModelVertex& v = gModel.vertices[vertex];
  EXPECT_NEAR(v.nx, x, 1e-6f) << "vertex " << vertex;
  EXPECT_NEAR(v.ny, y, 1e-6f) << "vertex " << vertex;
  EXPECT_NEAR(v.nz, z, 1e-6f) << "vertex " << vertex;
}

class NormalsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgressHide();
    ClearModel();
    averageAcrossMaterials = 0;
  }
  void TearDown() override {
    ClearModel();
    averageAcrossMaterials = 0;
  }
  ScopedScriptedUI scripted;
};

TEST_F(NormalsTest, FaceNormalIsTheNormalisedCrossProductInWindingOrder) {
  AddPolygon({0, 0, 0}, {2, 0, 0}, {0, 3, 0});
  AddPolygon({0, 0, 0}, {0, 3, 0}, {2, 0, 0});
  AddPolygon({1, 1, 1}, {1, 1, 1}, {2, 0, 0});
  float n[3];
  FaceNormal(0, n);
  EXPECT_EQ(n[0], 0.0f);
  EXPECT_EQ(n[1], 0.0f);
  EXPECT_EQ(n[2], 1.0f);
  FaceNormal(1, n);
  EXPECT_EQ(n[2], -1.0f);
  FaceNormal(2, n);  // coincident corners have no normal
  EXPECT_TRUE(std::isnan(n[0]));
}

TEST_F(NormalsTest, CoplanarNeighboursShareTheirNormalAndZeroKeepsFacesFlat) {
  // Two triangles folded along the y axis by a small angle.
  const float lift = 0.1f;
  AddPolygon({0, 0, 0}, {1, 0, lift}, {0, 1, 0});
  AddPolygon({0, 0, 0}, {0, 1, 0}, {-1, 0, lift});
  float a[3], b[3];
  FaceNormal(0, a);
  FaceNormal(1, b);
  CalculateNormals(45.0f);
  const float sx = (a[0] + b[0]) / 2, sy = (a[1] + b[1]) / 2, sz = (a[2] + b[2]) / 2;
  const float length = std::sqrt(sx * sx + sy * sy + sz * sz);
  ExpectNormal(0, sx / length, sy / length, sz / length);  // on the shared edge
  ExpectNormal(2, sx / length, sy / length, sz / length);
  ExpectNormal(1, a[0], a[1], a[2]);  // not shared
  ExpectNormal(5, b[0], b[1], b[2]);

  CalculateNormals(0.0f);
  for (int k = 0; k < 3; ++k) ExpectNormal(k, a[0], a[1], a[2]);
  for (int k = 3; k < 6; ++k) ExpectNormal(k, b[0], b[1], b[2]);
}

// A unit cube of twelve triangles, each face's vertices of its own.
void AddCube() {
  const Point c[8] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
  const int faces[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4},
                           {2, 3, 7, 6}, {1, 2, 6, 5}, {0, 4, 7, 3}};
  for (const auto& f : faces) {
    AddPolygon(c[f[0]], c[f[1]], c[f[2]]);
    AddPolygon(c[f[0]], c[f[2]], c[f[3]]);
  }
}

TEST_F(NormalsTest, CubeCornersAverageOnlyAboveNinetyDegrees) {
  AddCube();
  CalculateNormals(89.0f);
  for (int k = 0; k < gModel.vertexCount; ++k) {
    float n[3];
    FaceNormal(k / 3, n);
    ExpectNormal(k, n[0], n[1], n[2]);
  }
  CalculateNormals(91.0f);
  // Corner (0,0,0) touches faces -z (two triangles), -y (two) and -x (two):
  // normal (-2,-2,-2) before normalising, with the own face counted too.
  const float d = 1.0f / std::sqrt(3.0f);
  for (int k = 0; k < gModel.vertexCount; ++k) {
    const ModelVertex& v = gModel.vertices[k];
    if (v.x == 0 && v.y == 0 && v.z == 0) ExpectNormal(k, -d, -d, -d);
  }
  // Corner (1,0,0) is touched by one triangle of -z, one of -y and both of
  // +x; vertex 5 (of the -z triangle) sums its own normal and those three.
  const float e = 1.0f / std::sqrt(6.0f);
  ExpectNormal(5, 2 * e, -e, -e);
}

TEST_F(NormalsTest, MaterialsSeparateNeighboursUnlessAveragingAcrossThem) {
  AddPolygon({0, 0, 0}, {1, 0, 0.5f}, {0, 1, 0}, 0);
  AddPolygon({0, 0, 0}, {0, 1, 0}, {-1, 0, 0.5f}, 1);
  float a[3];
  FaceNormal(0, a);
  CalculateNormals(60.0f);
  ExpectNormal(0, a[0], a[1], a[2]);
  averageAcrossMaterials = 1;
  CalculateNormals(60.0f);
  EXPECT_NEAR(gModel.vertices[0].nx, 0.0f, 1e-6f);
  EXPECT_GT(gModel.vertices[0].nz, a[2]);
}

TEST_F(NormalsTest, OnlySelectedVerticesChangeAndNeighboursCountOncePerVertex) {
  AddPolygon({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 0, 1);
  AddPolygon({0, 0, 0}, {0, 1, 0}, {-1, 0, 1}, 0, 0);  // not selected, still a neighbour
  CalculateNormals(179.0f);
  for (int k = 3; k < 6; ++k) EXPECT_EQ(gModel.vertices[k].nx, 7.0f);
  EXPECT_NE(gModel.vertices[0].nz, 1.0f);

  // A polygon with two corners at the shared point counts twice there.
  ClearModel();
  AddPolygon({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  AddPolygon({0, 0, 0}, {0, 0, 0}, {0, 0, 1});  // no normal: NaN angle, never added
  AddPolygon({0, 0, 0}, {0, 1, 0}, {-1, 0, 1});
  CalculateNormals(179.0f);
  float a[3], b[3];
  FaceNormal(0, a);
  FaceNormal(2, b);
  const float sx = (a[0] + b[0]) / 2, sy = (a[1] + b[1]) / 2, sz = (a[2] + b[2]) / 2;
  const float length = std::sqrt(sx * sx + sy * sy + sz * sz);
  ExpectNormal(0, sx / length, sy / length, sz / length);
  EXPECT_TRUE(std::isnan(gModel.vertices[3].nx));
}

TEST_F(NormalsTest, ReportsProgressInItsOwnBox) {
  AddPolygon({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  CalculateNormals(45.0f);
  EXPECT_EQ(scripted.ui.progressCreated, 1);
  EXPECT_EQ(scripted.ui.progressDestroyed, 1);
  bool shown = false;
  for (const std::string& t : scripted.ui.progressTexts)
    shown |= t.find("Calculating Normals...") != std::string::npos;
  EXPECT_TRUE(shown);
}

// ---- Differential tests against the all-pairs pass ------------------------

// A bumpy triangulated grid with shared positions (about six polygons per
// inner point), written in shuffled polygon order, with the awkward cases
// mixed in: -0.0 against 0.0, NaN positions, collapsed polygons, polygons
// laid twice, mixed materials and a partial selection.
void FillRandomMesh(std::mt19937& rng, int side, int materials, int selectPercent) {
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  // A flat strip gives exactly coplanar neighbours (angle exactly 0).
  auto height = [&](int i, int j) {
    return i < side / 4 ? 0.0f : std::sin(0.7f * float(i)) * std::cos(0.45f * float(j)) * 2.0f;
  };
  auto corner = [&](int i, int j) {
    Point p{float(i - side / 2), float(j - side / 2), height(i, j)};
    if (i == side / 2 && rng() % 2) p.x = -0.0f;
    if (j == side / 2 && rng() % 2) p.y = -0.0f;
    return p;
  };
  gModel.vertexCount = 0;
  for (int i = 0; i < side; ++i) {
    for (int j = 0; j < side; ++j) {
      const int material = int(rng() % unsigned(materials));
      const int roll = int(rng() % 100);
      Point a = corner(i, j), b = corner(i + 1, j), c = corner(i + 1, j + 1), d = corner(i, j + 1);
      if (roll < 3) b = a;                                           // collapsed
      if (roll == 3) c.z = std::numeric_limits<float>::quiet_NaN();  // NaN position
      if (roll == 4) d.z += unit(rng) * 1e-3f;                       // almost coplanar
      // Any non-zero flag selects.
      auto selected = [&] { return int(rng() % 100) < selectPercent ? (roll == 7 ? 2 : 1) : 0; };
      AddPolygon(a, b, c, material, selected());
      AddPolygon(a, c, d, roll == 5 ? material + 1 : material, selected());
      if (roll == 6) AddPolygon(a, c, d, material, 1);  // the same polygon twice
    }
  }
  // Shuffle whole polygons so that table order is not grid order.
  const int polygons = gModel.vertexCount / 3;
  for (int p = polygons - 1; p > 0; --p) {
    const int q = int(rng() % unsigned(p + 1));
    for (int k = 0; k < 3; ++k) std::swap(gModel.vertices[3 * p + k], gModel.vertices[3 * q + k]);
  }
}

TEST_F(NormalsTest, MatchesAllPairsPassBitForBit) {
  const float angles[] = {0.0f, 45.0f, 179.0f, 91.0f, 12.5f};
  for (unsigned seed = 1; seed <= 3; ++seed) {
    for (float angle : angles) {
      for (int across = 0; across <= 1; ++across) {
        std::mt19937 rng(seed * 1000u + unsigned(angle) + unsigned(across));
        FillRandomMesh(rng, 18, 1 + int(seed), seed == 1 ? 100 : 60);
        averageAcrossMaterials = across;
        auto expected = std::make_unique<Model>();
        std::memcpy(expected.get(), &gModel, sizeof(Model));
        literal::CalculateNormals(*expected, angle, across);
        CalculateNormals(angle);
        for (int k = 0; k < MaxVertices; ++k) {
          ASSERT_EQ(std::memcmp(&gModel.vertices[k], &expected->vertices[k], sizeof(ModelVertex)), 0)
              << "seed " << seed << " angle " << angle << " across " << across << " vertex " << k << ": "
              << gModel.vertices[k].nx << " " << gModel.vertices[k].ny << " " << gModel.vertices[k].nz
              << " expected " << expected->vertices[k].nx << " " << expected->vertices[k].ny << " "
              << expected->vertices[k].nz;
        }
      }
    }
  }
}

}  // namespace
