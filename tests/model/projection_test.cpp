#include "model/projection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "model/model.h"
#include "platform/scripted/scripted_ui.h"

namespace {

struct Point {
  float x, y, z;
};

void AddPolygon(Point a, Point b, Point c, int selected) {
  const Point corners[3] = {a, b, c};
  for (const Point& p : corners) {
    ModelVertex& v = gModel.vertices[gModel.vertexCount++];
    v = ModelVertex{};
    v.x = p.x;
    v.y = p.y;
    v.z = p.z;
    v.u = 0.5f;
    v.v = 0.5f;
    v.selected = selected;
  }
}

// The square from (0, 0) to (size, size) in the plane z = 0, two polygons.
void AddSquare(float size, int selected) {
  AddPolygon({0, 0, 0}, {size, 0, 0}, {size, size, 0}, selected);
  AddPolygon({0, 0, 0}, {size, size, 0}, {0, size, 0}, selected);
}

void SelectPolygons(int first, int count, int selected) {
  for (int i = 3 * first; i < 3 * (first + count); ++i) gModel.vertices[i].selected = selected;
}

void SetAxes(ProjectionBox& box, Point u, Point v, Point t) {
  const Point axes[3] = {u, v, t};
  float* rows[3] = {box.uAxis, box.vAxis, box.tAxis};
  for (int r = 0; r < 3; ++r) {
    rows[r][0] = axes[r].x;
    rows[r][1] = axes[r].y;
    rows[r][2] = axes[r].z;
  }
}

float Dot(const ModelVertex& v, const float axis[3]) {
  return v.x * axis[0] + v.y * axis[1] + v.z * axis[2];
}

// Measures the box around the selected vertices as the projection box does
// every frame; the axes must already be set.
void MeasureExtents(ProjectionBox& box) {
  box.sMin = box.tMin = box.wMin = BoundsStart;
  box.sMax = box.tMax = -BoundsStart;
  for (int i = 0; i < gModel.vertexCount; ++i) {
    const ModelVertex& v = gModel.vertices[i];
    if (v.selected != 1) continue;
    const float s = Dot(v, box.uAxis), t = Dot(v, box.vAxis), w = Dot(v, box.tAxis);
    if (!(s >= box.sMin)) box.sMin = s;
    if (s > box.sMax) box.sMax = s;
    if (!(t >= box.tMin)) box.tMin = t;
    if (t > box.tMax) box.tMax = t;
    if (!(w >= box.wMin)) box.wMin = w;
  }
}

ProjectionBox BoxAroundPolyList(float minU = 0, float maxU = 1, float minV = 0, float maxV = 1) {
  ProjectionBox box{};
  SetAxes(box, {1, 0, 0}, {0, 1, 0}, {0, 0, 1});
  box.minU = minU;
  box.maxU = maxU;
  box.minV = minV;
  box.maxV = maxV;
  MeasureExtents(box);
  return box;
}

const ModelVertex* FindVertex(float x, float y) {
  for (int i = 0; i < gModel.vertexCount; ++i) {
    if (gModel.vertices[i].x == x && gModel.vertices[i].y == y) return &gModel.vertices[i];
  }
  return nullptr;
}

void ExpectUV(float x, float y, float u, float v) {
  const ModelVertex* vertex = FindVertex(x, y);
  ASSERT_NE(vertex, nullptr);
  SCOPED_TRACE(testing::Message() << "corner (" << x << ", " << y << ")");
  EXPECT_FLOAT_EQ(vertex->u, u);
  EXPECT_FLOAT_EQ(vertex->v, v);
}

class ProjectionTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearModel(); }
  void TearDown() override { ClearModel(); }
  ScopedScriptedUI scripted;
};

// ---- Mapping and the stored record ------------------------------------------

TEST_F(ProjectionTest, UnitSquareCornersGetTheBitmapCorners) {
  AddSquare(1, 1);
  AddPolygon({5, 5, 5}, {6, 5, 5}, {5, 6, 5}, 0);  // not in the PolyList

  ASSERT_EQ(ApplyTextureProjection(BoxAroundPolyList()), 0);

  ExpectUV(0, 0, 0, 1);
  ExpectUV(1, 0, 1, 1);
  ExpectUV(0, 1, 0, 0);
  ExpectUV(1, 1, 1, 0);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(gModel.vertices[i].projected, 1);
    EXPECT_EQ(gModel.vertices[i].projection, 0);
    EXPECT_EQ(gModel.vertices[i].selected, 1);  // the PolyList stays
  }
  for (int i = 6; i < 9; ++i) {
    EXPECT_EQ(gModel.vertices[i].u, 0.5f);
    EXPECT_EQ(gModel.vertices[i].v, 0.5f);
    EXPECT_EQ(gModel.vertices[i].projected, 0);
  }
  EXPECT_EQ(gModel.projectionCount, 1);

  const float expected[16] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 0, 0};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(gModel.projections[0].value[i], expected[i]) << "value " << i;
  EXPECT_TRUE(scripted.ui.messages.empty());
}

TEST_F(ProjectionTest, TextureRangesScaleTheMappingAndTheRecord) {
  AddSquare(3, 1);
  const ProjectionBox box = BoxAroundPolyList(0.25f, 0.75f, 0.1f, 0.6f);

  ApplyTextureProjection(box);

  ExpectUV(0, 0, 0.25f, 0.6f);
  ExpectUV(3, 0, 0.75f, 0.6f);
  ExpectUV(0, 3, 0.25f, 0.1f);
  ExpectUV(3, 3, 0.75f, 0.1f);
  const float* f = gModel.projections[0].value;
  EXPECT_EQ(f[12], 2 * (box.sMax - box.sMin));
  EXPECT_FLOAT_EQ(f[13], 3 / 0.5f);
  EXPECT_EQ(f[14], 0.25f);
  EXPECT_EQ(f[15], 1.0f - 0.6f);
}

TEST_F(ProjectionTest, TurnedBoxMapsAlongItsOwnAxes) {
  // A square in the y-z plane, U along Z and V along Y.
  AddPolygon({7, 0, 0}, {7, 0, 2}, {7, 2, 2}, 1);
  ProjectionBox box{};
  SetAxes(box, {0, 0, 1}, {0, 1, 0}, {-1, 0, 0});
  box.maxU = box.maxV = 1;
  MeasureExtents(box);

  ApplyTextureProjection(box);

  EXPECT_FLOAT_EQ(gModel.vertices[1].u, 1);
  EXPECT_FLOAT_EQ(gModel.vertices[1].v, 1);
  EXPECT_FLOAT_EQ(gModel.vertices[2].u, 1);
  EXPECT_FLOAT_EQ(gModel.vertices[2].v, 0);
  EXPECT_EQ(gModel.projections[0].value[11], -7.0f);  // wMin
  EXPECT_EQ(gModel.projections[0].value[6], -1.0f);
}

// ---- Slot allocation ----------------------------------------------------------

TEST_F(ProjectionTest, ReprojectingTakesANewSlotAndFreesTheOldOne) {
  AddSquare(1, 1);  // polygons 0, 1
  AddSquare(2, 0);  // polygons 2, 3
  ASSERT_EQ(ApplyTextureProjection(BoxAroundPolyList()), 0);

  // The first slot is still referenced while the free one is sought.
  ASSERT_EQ(ApplyTextureProjection(BoxAroundPolyList()), 1);
  EXPECT_EQ(gModel.projectionCount, 2);
  EXPECT_EQ(gModel.vertices[0].projection, 1);

  // Now nothing refers to slot 0: the next PolyList reuses it.
  SelectPolygons(0, 2, 0);
  SelectPolygons(2, 2, 1);
  ASSERT_EQ(ApplyTextureProjection(BoxAroundPolyList()), 0);
  EXPECT_EQ(gModel.projectionCount, 2);
  EXPECT_EQ(gModel.vertices[6].projection, 0);
  EXPECT_EQ(gModel.vertices[0].projection, 1);
  EXPECT_EQ(gModel.projections[0].value[12], 2.0f);
}

TEST_F(ProjectionTest, NoSelectionStillFillsASlotAndChangesNoCoordinates) {
  AddSquare(1, 0);
  const ProjectionBox box = BoxAroundPolyList();

  ASSERT_EQ(ApplyTextureProjection(box), 0);

  EXPECT_EQ(gModel.projectionCount, 1);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(gModel.vertices[i].u, 0.5f);
    EXPECT_EQ(gModel.vertices[i].projected, 0);
  }
  EXPECT_EQ(gModel.projections[0].value[9], BoundsStart);
  EXPECT_EQ(gModel.projections[0].value[12], 2 * BoundsStart);
}

// A native file may link vertices to slots at or above its stored count;
// the new slot must still be counted so that it is saved.
TEST_F(ProjectionTest, SlotAboveTheStoredCountRaisesTheCount) {
  AddSquare(1, 0);
  for (int i = 0; i < 6; ++i) {
    gModel.vertices[i].projected = 1;
    gModel.vertices[i].projection = i % 2;  // slots 0 and 1
  }
  AddSquare(1, 1);
  gModel.projectionCount = 0;

  ASSERT_EQ(ApplyTextureProjection(BoxAroundPolyList()), 2);
  EXPECT_EQ(gModel.projectionCount, 3);
}

class FullProjectionTableTest : public ProjectionTest {
 protected:
  // 200 polygons, polygon i linked to slot i, the first one selected.
  void SetUp() override {
    ProjectionTest::SetUp();
    for (int p = 0; p < MaxProjections; ++p) {
      const float f = static_cast<float>(p);
      AddPolygon({f, 0, 0}, {f + 1, 0, 0}, {f, 1, 0}, p == 0 ? 1 : 0);
      for (int k = 0; k < 3; ++k) {
        gModel.vertices[3 * p + k].projected = 1;
        gModel.vertices[3 * p + k].projection = p;
      }
      gModel.projections[p].value[0] = f;
    }
    gModel.projectionCount = MaxProjections;
  }
};

TEST_F(FullProjectionTableTest, RefusesWithAMessageAndChangesNothing) {
  static Model before;
  std::memcpy(&before, &gModel, sizeof(Model));

  EXPECT_EQ(ApplyTextureProjection(BoxAroundPolyList()), -1);

  ASSERT_EQ(scripted.ui.messages.size(), 1u);
  EXPECT_EQ(scripted.ui.messages[0].caption, "Error");
  EXPECT_EQ(std::memcmp(&before, &gModel, sizeof(Model)), 0);
}

TEST_F(FullProjectionTableTest, AFreedSlotIsReusedWithoutGrowingTheCount) {
  for (int k = 0; k < 3; ++k) gModel.vertices[3 * 57 + k].projected = 0;

  EXPECT_EQ(ApplyTextureProjection(BoxAroundPolyList()), 57);

  EXPECT_EQ(gModel.projectionCount, MaxProjections);
  EXPECT_EQ(gModel.vertices[0].projection, 57);
  EXPECT_EQ(gModel.vertices[0].u, 0.0f);
  EXPECT_TRUE(scripted.ui.messages.empty());
}

// ---- Hostile and degenerate input ---------------------------------------------

TEST_F(ProjectionTest, OutOfRangeStoredIndexesAreIgnored) {
  AddSquare(1, 0);
  const int bad[6] = {MaxProjections, -1, -7, 5000, 2147483647, 0};
  for (int i = 0; i < 6; ++i) {
    gModel.vertices[i].projected = 1;
    gModel.vertices[i].projection = bad[i];
  }
  AddSquare(1, 1);

  // Slot 0 is the only real link, so the new projection goes to slot 1.
  EXPECT_EQ(ApplyTextureProjection(BoxAroundPolyList()), 1);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(gModel.vertices[i].projection, bad[i]);
}

TEST_F(ProjectionTest, BoxWithoutExtentGivesFiniteCoordinates) {
  // Every vertex on one line parallel to Z: no extent along U or V.
  AddPolygon({2, 3, 0}, {2, 3, 1}, {2, 3, 2}, 1);
  const ProjectionBox box = BoxAroundPolyList(0.2f, 0.8f, 0.1f, 0.9f);
  ASSERT_EQ(box.sMin, box.sMax);
  ASSERT_EQ(box.tMin, box.tMax);

  ApplyTextureProjection(box);

  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(gModel.vertices[i].u, 0.2f);
    EXPECT_EQ(gModel.vertices[i].v, 0.9f);
  }
  for (float value : gModel.projections[0].value) EXPECT_TRUE(std::isfinite(value));
}

TEST_F(ProjectionTest, ExtentAlongOneAxisOnlyStillMapsTheOther) {
  AddPolygon({0, 3, 0}, {4, 3, 0}, {2, 3, 1}, 1);  // flat in Y
  ApplyTextureProjection(BoxAroundPolyList());
  EXPECT_EQ(gModel.vertices[1].u, 1.0f);
  EXPECT_EQ(gModel.vertices[2].u, 0.5f);
  EXPECT_EQ(gModel.vertices[2].v, 1.0f);
}

TEST_F(ProjectionTest, EmptyTextureRangeStoresAFiniteRecord) {
  AddSquare(2, 1);
  ApplyTextureProjection(BoxAroundPolyList(0.3f, 0.3f, 0.4f, 0.4f));
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(gModel.vertices[i].u, 0.3f);
    EXPECT_EQ(gModel.vertices[i].v, 0.4f);
  }
  EXPECT_EQ(gModel.projections[0].value[12], 2.0f);
  EXPECT_EQ(gModel.projections[0].value[13], 2.0f);
}

}  // namespace
