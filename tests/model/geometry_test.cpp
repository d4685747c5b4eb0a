#include "model/geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "model/model.h"
#include "platform/scripted/scripted_ui.h"
#include "render/progress_box.h"

namespace {

struct Point {
  float x, y, z;
};

// Appends one polygon; normals and texture coordinates are made distinct
// per corner so that a test can see where each one went.
int AddPolygon(Point a, Point b, Point c, int material = 0, int selected = 0) {
  const Point corners[3] = {a, b, c};
  const int polygon = gModel.vertexCount / 3;
  for (int k = 0; k < 3; ++k) {
    ModelVertex& v = gModel.vertices[gModel.vertexCount++];
    v = ModelVertex{};
    v.x = corners[k].x;
    v.y = corners[k].y;
    v.z = corners[k].z;
    v.nx = 0.1f * (k + 1);
    v.ny = 0.2f * (k + 1);
    v.nz = 0.3f * (k + 1);
    v.u = 0.1f + 0.25f * k;
    v.v = 0.2f + 0.25f * k;
    v.material = material;
    v.selected = selected;
  }
  return polygon;
}

ModelVertex& Vertex(int polygon, int corner) { return gModel.vertices[3 * polygon + corner]; }

bool Contains(const std::vector<std::string>& texts, const std::string& wanted) {
  return std::find(texts.begin(), texts.end(), wanted) != texts.end();
}

class GeometryTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearModel(); }
  void TearDown() override { ClearModel(); }
  ScopedScriptedUI scripted;
};

// A single vertex whose normal is the same unit vector as its position.
void SetUnitPoint(Point p) {
  ClearModel();
  AddPolygon(p, p, p);
  ModelVertex& v = Vertex(0, 0);
  v.nx = p.x;
  v.ny = p.y;
  v.nz = p.z;
}

void ExpectPoint(const ModelVertex& v, Point p, Point n) {
  constexpr float tolerance = 1e-6f;
  EXPECT_NEAR(v.x, p.x, tolerance);
  EXPECT_NEAR(v.y, p.y, tolerance);
  EXPECT_NEAR(v.z, p.z, tolerance);
  EXPECT_NEAR(v.nx, n.x, tolerance);
  EXPECT_NEAR(v.ny, n.y, tolerance);
  EXPECT_NEAR(v.nz, n.z, tolerance);
}

// ---- Whole-model transforms -------------------------------------------------

TEST_F(GeometryTest, QuarterTurnsMoveUnitPointsCounterClockwise) {
  SetUnitPoint({1, 0, 0});
  RotateY(90);
  ExpectPoint(Vertex(0, 0), {0, 0, -1}, {0, 0, -1});

  SetUnitPoint({0, 0, 1});
  RotateY(90);
  ExpectPoint(Vertex(0, 0), {1, 0, 0}, {1, 0, 0});

  SetUnitPoint({0, 1, 0});
  RotateX(90);
  ExpectPoint(Vertex(0, 0), {0, 0, 1}, {0, 0, 1});

  SetUnitPoint({0, 0, 1});
  RotateX(90);
  ExpectPoint(Vertex(0, 0), {0, -1, 0}, {0, -1, 0});

  SetUnitPoint({1, 0, 0});
  RotateZ(90);
  ExpectPoint(Vertex(0, 0), {0, 1, 0}, {0, 1, 0});

  SetUnitPoint({0, 1, 0});
  RotateZ(90);
  ExpectPoint(Vertex(0, 0), {-1, 0, 0}, {-1, 0, 0});
}

// Each coordinate is computed in double and rounded to f32 once, when it is
// stored; a single-precision pass would be off by an ulp here and there.
TEST_F(GeometryTest, RotationRoundsEachCoordinateOnce) {
  const float x = 0.6f, y = 0.8f;
  for (float degrees : {1.0f, 30.0f, 47.5f, 123.0f, -200.0f}) {
    SetUnitPoint({x, y, 0.25f});
    RotateZ(degrees);
    const double r = degrees * 3.141592653589793 * 0.005555555555555556;
    const double s = std::sin(r), q = std::cos(r);
    SCOPED_TRACE(degrees);
    EXPECT_EQ(Vertex(0, 0).x, static_cast<float>(q * x - s * y));
    EXPECT_EQ(Vertex(0, 0).y, static_cast<float>(s * x + q * y));
    EXPECT_EQ(Vertex(0, 0).nx, static_cast<float>(q * x - s * y));
    EXPECT_EQ(Vertex(0, 0).z, 0.25f);
  }
}

TEST_F(GeometryTest, ManyTurnsKeepPointsAndNormalsOnTheUnitCircle) {
  SetUnitPoint({0.6f, 0, 0.8f});
  for (int i = 0; i < 360; ++i) RotateY(7);
  // 360 turns of 7 degrees are seven full turns.
  ExpectPoint(Vertex(0, 0), {0.6f, 0, 0.8f}, {0.6f, 0, 0.8f});
}

TEST_F(GeometryTest, RotationLeavesTheOtherAxisAndRecomputesBounds) {
  AddPolygon({2, 5, 0}, {2, 5, 0}, {2, 5, 0});
  RotateY(180);
  EXPECT_EQ(Vertex(0, 0).y, 5.0f);
  EXPECT_NEAR(gModel.minX, -2.0f, 1e-6f);
  EXPECT_NEAR(gModel.maxX, -2.0f, 1e-6f);
  EXPECT_FLOAT_EQ(gModel.modelRadius, std::sqrt(29.0f));
}

TEST_F(GeometryTest, TranslationMovesEveryVertexAndTheBounds) {
  AddPolygon({0, 0, 0}, {1, 2, 3}, {-1, -2, -3});
  TranslateX(10);
  TranslateY(-1);
  TranslateZ(0.5f);
  EXPECT_EQ(Vertex(0, 1).x, 11.0f);
  EXPECT_EQ(Vertex(0, 1).y, 1.0f);
  EXPECT_EQ(Vertex(0, 1).z, 3.5f);
  EXPECT_EQ(gModel.minX, 9.0f);
  EXPECT_EQ(gModel.maxY, 1.0f);
  EXPECT_EQ(gModel.minZ, -2.5f);
}

TEST_F(GeometryTest, NegativeScaleMirrorsWithoutTouchingNormalsOrWinding) {
  AddPolygon({0, 1, 0}, {1, 3, 0}, {0, 2, 1});
  RecomputeBounds();
  ASSERT_EQ(gModel.minY, 1.0f);
  ASSERT_EQ(gModel.maxY, 3.0f);
  const ModelVertex second = Vertex(0, 1);

  ScaleY(-1);

  EXPECT_EQ(Vertex(0, 0).y, -1.0f);
  EXPECT_EQ(Vertex(0, 1).y, -3.0f);
  EXPECT_EQ(Vertex(0, 2).y, -2.0f);
  // Same corner in the same place, same normal: no reversal happened.
  EXPECT_EQ(Vertex(0, 1).x, second.x);
  EXPECT_EQ(Vertex(0, 1).ny, second.ny);
  EXPECT_EQ(Vertex(0, 1).u, second.u);
  EXPECT_EQ(gModel.minY, -3.0f);
  EXPECT_EQ(gModel.maxY, -1.0f);
}

TEST_F(GeometryTest, ScaleChangesOnlyItsAxis) {
  AddPolygon({1, 2, 3}, {1, 2, 3}, {1, 2, 3});
  ScaleX(2);
  ScaleZ(0.5f);
  EXPECT_EQ(Vertex(0, 0).x, 2.0f);
  EXPECT_EQ(Vertex(0, 0).y, 2.0f);
  EXPECT_EQ(Vertex(0, 0).z, 1.5f);
  EXPECT_EQ(gModel.maxX, 2.0f);
}

// ---- Reversals --------------------------------------------------------------

TEST_F(GeometryTest, ReversePolygonOrderExchangesTheLastTwoCornersWhole) {
  AddPolygon({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 4, 1);
  Vertex(0, 1).projected = 1;
  Vertex(0, 1).projection = 7;
  Vertex(0, 2).projection = 9;
  const ModelVertex a = Vertex(0, 0), b = Vertex(0, 1), c = Vertex(0, 2);

  ReversePolygonOrder();

  EXPECT_EQ(Vertex(0, 0).x, a.x);
  EXPECT_EQ(Vertex(0, 0).nz, a.nz);
  const ModelVertex& nowB = Vertex(0, 2);
  const ModelVertex& nowC = Vertex(0, 1);
  EXPECT_EQ(nowC.x, c.x);
  EXPECT_EQ(nowC.y, c.y);
  EXPECT_EQ(nowC.nx, c.nx);
  EXPECT_EQ(nowC.nz, c.nz);
  EXPECT_EQ(nowC.u, c.u);
  EXPECT_EQ(nowC.v, c.v);
  EXPECT_EQ(nowB.x, b.x);
  EXPECT_EQ(nowB.ny, b.ny);
  EXPECT_EQ(nowB.u, b.u);
  EXPECT_EQ(nowB.v, b.v);
  // Material and flags stay with the record positions.
  EXPECT_EQ(Vertex(0, 1).projected, 1);
  EXPECT_EQ(Vertex(0, 1).projection, 7);
  EXPECT_EQ(Vertex(0, 2).projection, 9);
  EXPECT_EQ(Vertex(0, 1).material, 4);
  EXPECT_EQ(Vertex(0, 1).selected, 1);
}

TEST_F(GeometryTest, ReversalsLookOnlyAtTheFirstVertex) {
  AddPolygon({0, 0, 0}, {1, 0, 0}, {0, 1, 0});  // only corners 1, 2 selected
  Vertex(0, 1).selected = Vertex(0, 2).selected = 1;
  AddPolygon({0, 0, 0}, {1, 0, 0}, {0, 1, 0});  // only the first corner selected
  Vertex(1, 0).selected = 1;

  const ModelVertex skipped = Vertex(0, 1);
  const ModelVertex moved = Vertex(1, 1);

  ReversePolygonOrder();
  ReverseNormals();
  ReverseU();
  ReverseV();

  EXPECT_EQ(Vertex(0, 1).x, skipped.x);
  EXPECT_EQ(Vertex(0, 1).nx, skipped.nx);
  EXPECT_EQ(Vertex(0, 1).u, skipped.u);
  EXPECT_EQ(Vertex(0, 1).v, skipped.v);
  EXPECT_EQ(Vertex(1, 1).x, 0.0f);
  EXPECT_EQ(Vertex(1, 1).y, 1.0f);
  EXPECT_EQ(Vertex(1, 2).nx, -moved.nx);
  EXPECT_EQ(Vertex(1, 2).u, 1.0f - moved.u);
  EXPECT_EQ(Vertex(1, 2).v, 1.0f - moved.v);
}

TEST_F(GeometryTest, ReverseNormalsUAndVOnSelectedPolygonsOnly) {
  AddPolygon({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 0, 1);
  AddPolygon({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 0, 0);
  for (int k = 0; k < 3; ++k) Vertex(0, k).v = 0.25f;
  const ModelVertex corner = Vertex(0, 2);
  const ModelVertex other = Vertex(1, 2);

  ReverseV();
  for (int k = 0; k < 3; ++k) EXPECT_EQ(Vertex(0, k).v, 0.75f);

  ReverseNormals();
  EXPECT_EQ(Vertex(0, 2).nx, -corner.nx);
  EXPECT_EQ(Vertex(0, 2).ny, -corner.ny);
  EXPECT_EQ(Vertex(0, 2).nz, -corner.nz);

  const float u = Vertex(0, 1).u;
  ReverseU();
  EXPECT_EQ(Vertex(0, 1).u, 1.0f - u);
  ReverseU();
  // 1 - (1 - u) is exact only for u from 0.5 up; below, one rounding remains.
  EXPECT_FLOAT_EQ(Vertex(0, 1).u, u);

  // The unselected polygon is untouched throughout.
  EXPECT_EQ(Vertex(1, 2).nx, other.nx);
  EXPECT_EQ(Vertex(1, 2).u, other.u);
  EXPECT_EQ(Vertex(1, 2).v, other.v);
}

TEST_F(GeometryTest, ReversePolygonOrderOpensItsOwnProgressBox) {
  AddPolygon({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 0, 1);
  ReversePolygonOrder();
  EXPECT_EQ(scripted.ui.progressCreated, 1);
  EXPECT_EQ(scripted.ui.progressDestroyed, 1);
  EXPECT_TRUE(Contains(scripted.ui.progressTexts, "1042:Reversing Polygon Order..."));
  EXPECT_TRUE(Contains(scripted.ui.progressTexts, "1043:Please Wait..."));
}

// ---- Deletion ---------------------------------------------------------------

TEST_F(GeometryTest, DeletingEverythingLeavesNoVerticesAndTheBoundsAlone) {
  AddPolygon({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 0, 1);
  AddPolygon({5, 5, 5}, {6, 5, 5}, {5, 6, 5}, 0, 1);
  RecomputeBounds();
  DeleteSelectedPolygons();
  EXPECT_EQ(gModel.vertexCount, 0);
  EXPECT_EQ(gModel.maxX, 6.0f);
  EXPECT_EQ(gModel.minX, 0.0f);
}

TEST_F(GeometryTest, DeletionKeepsOrderAndLeavesProjectionLinksWithTheSlots) {
  for (int p = 0; p < 4; ++p) {
    const float f = static_cast<float>(p);
    AddPolygon({f, 0, 0}, {f, 1, 0}, {f, 0, 1}, p, p % 2);  // polygons 1, 3 selected
    for (int k = 0; k < 3; ++k) {
      Vertex(p, k).projected = 1;
      Vertex(p, k).projection = 10 + p;
    }
  }
  const ModelVertex third = Vertex(2, 2);
  DeleteSelectedPolygons();

  ASSERT_EQ(gModel.vertexCount, 6);
  EXPECT_EQ(Vertex(0, 0).x, 0.0f);
  EXPECT_EQ(Vertex(1, 0).x, 2.0f);
  EXPECT_EQ(Vertex(1, 2).z, third.z);
  EXPECT_EQ(Vertex(1, 2).nz, third.nz);
  EXPECT_EQ(Vertex(1, 2).u, third.u);
  EXPECT_EQ(Vertex(1, 2).v, third.v);
  EXPECT_EQ(Vertex(1, 0).material, 2);
  EXPECT_EQ(Vertex(1, 0).selected, 0);
  // Polygon 2's records moved into slot 1; the links did not move with them.
  EXPECT_EQ(Vertex(1, 0).projection, 11);
  EXPECT_EQ(Vertex(0, 0).projection, 10);
  EXPECT_STREQ(CheckModelInvariants(), "");
}

// A file can hold a polygon whose corners disagree on the flag; it goes as a
// whole, so the table stays in whole polygons.
TEST_F(GeometryTest, DeletionDropsAPolygonWithAnySelectedCorner) {
  AddPolygon({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  AddPolygon({1, 0, 0}, {2, 0, 0}, {1, 1, 0});
  Vertex(1, 2).selected = 1;
  AddPolygon({2, 0, 0}, {3, 0, 0}, {2, 1, 0});
  Vertex(2, 0).selected = 7;

  DeleteSelectedPolygons();

  ASSERT_EQ(gModel.vertexCount, 3);
  EXPECT_EQ(Vertex(0, 1).x, 1.0f);
  EXPECT_STREQ(CheckModelInvariants(), "");
}

TEST_F(GeometryTest, DeletionUpdatesAnOpenProgressBoxWithoutClosingIt) {
  AddPolygon({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 0, 1);
  ProgressShow();
  DeleteSelectedPolygons();
  EXPECT_EQ(scripted.ui.progressCreated, 1);
  EXPECT_EQ(scripted.ui.progressDestroyed, 0);
  EXPECT_TRUE(Contains(scripted.ui.progressTexts, "1042:Deleting Polygon(s)..."));
  ProgressHide();
}

TEST_F(GeometryTest, PolyListOperationsOnAnEmptyModelDoNothing) {
  ReversePolygonOrder();
  ReverseNormals();
  ReverseU();
  ReverseV();
  DeleteSelectedPolygons();
  EXPECT_EQ(gModel.vertexCount, 0);
  EXPECT_EQ(gModel.minX, BoundsStart);
}

}  // namespace
