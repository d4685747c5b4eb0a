#include "model/geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "model/model.h"
#include "platform/scripted/scripted_ui.h"
#include "render/progress_box.h"

namespace {

// Appends the polygon (x,0,0) (x+1,0,0.5) (x,1,1); corner k is selected when
// bit k of `selected` is set. Normals, texture coordinates and projection
// links differ per corner so that a test can see where each one went.
void AddPolygon(float x, int material, int selected) {
  for (int k = 0; k < 3; ++k) {
    const int i = gModel.vertexCount++;
    const float f = 0.125f * (k + 1);
    gModel.vertices[i] = {x + (k == 1), float(k == 2),    0.5f * k, f, -f, 2 * f, f, 0.5f + f, material, 1,
                          10 + i,       selected >> k & 1};
  }
}

ModelVertex& Vertex(int polygon, int corner) { return gModel.vertices[3 * polygon + corner]; }

class GeometryTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearModel(); }
  bool Shown(const char* text) const {
    return std::count(scripted.ui.progressTexts.begin(), scripted.ui.progressTexts.end(), text) > 0;
  }
  ScopedScriptedUI scripted;
};

// Each coordinate is computed in double and rounded to f32 once; a
// single-precision pass would be an ulp off here and there and drift over
// repeated turns. The turn takes axis a towards axis b (counter-clockwise),
// positions and normals alike; a wrong pair or direction shows in a and b.
TEST_F(GeometryTest, RotationsTurnCounterClockwiseRoundingEachCoordinateOnce) {
  void (*const rotate[3])(float) = {RotateX, RotateY, RotateZ};
  const float p[3] = {0.6f, 0.8f, -0.25f};
  const ModelVertex& v = gModel.vertices[0];
  gModel.vertexCount = 1;
  for (int axis = 0; axis < 3; ++axis) {
    for (float degrees : {90.0f, 1.0f, 47.5f, 123.0f, -200.0f}) {
      SCOPED_TRACE(testing::Message() << "axis " << axis << ", " << degrees << " degrees");
      gModel.vertices[0] = ModelVertex{p[0], p[1], p[2], p[0], p[1], p[2], 0, 0, 0, 0, 0, 0};
      rotate[axis](degrees);
      const double r = degrees * 3.141592653589793 * 0.005555555555555556, s = std::sin(r), q = std::cos(r);
      const int a = (axis + 1) % 3, b = (axis + 2) % 3;
      const float c[3] = {v.x, v.y, v.z};
      EXPECT_EQ(c[a], static_cast<float>(q * p[a] - s * p[b]));
      EXPECT_EQ(c[b], static_cast<float>(s * p[a] + q * p[b]));
      EXPECT_EQ(0, std::memcmp(&v.nx, &v.x, 3 * sizeof(float)));  // the normal turned alike
      EXPECT_EQ(gModel.minX, v.x);                                // the bounds recomputed
    }
  }
}

// Translation and scaling touch only their axis and never the normals, so a
// negative factor mirrors without turning a polygon over.
TEST_F(GeometryTest, TranslateAndScaleMoveOneAxisAndRecomputeTheBounds) {
  AddPolygon(2, 0, 0);
  TranslateX(10);
  ScaleY(-2);
  ScaleZ(2);
  const ModelVertex& v = Vertex(0, 2);
  const float got[12] = {v.x,         v.y,         v.z,         v.nx,        v.ny,        v.nz,
                         gModel.minX, gModel.maxX, gModel.minY, gModel.maxY, gModel.minZ, gModel.maxZ};
  const float expected[12] = {12, -2, 2, 0.375f, -0.375f, 0.75f, 12, 13, -2, 0, 0, 2};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(got[i], expected[i]) << "value " << i;
}

// `now` holds what `was` held, reversed, in the record `slot` held: the
// material and the flags stay with the record.
void ExpectReversed(const ModelVertex& now, const ModelVertex& was, const ModelVertex& slot) {
  EXPECT_EQ(0, std::memcmp(&now.x, &was.x, 3 * sizeof(float)));
  EXPECT_EQ(now.nx, -was.nx);
  EXPECT_EQ(now.u, 1.0f - was.u);
  EXPECT_EQ(now.v, 1.0f - was.v);
  EXPECT_EQ(0, std::memcmp(&now.material, &slot.material, 4 * sizeof(int32_t)));
}

// Polygon 1 has only its last two corners selected (a file can hold that):
// the reversals go by the first vertex and skip it, deletion drops a polygon
// with any selected corner. Deletion keeps the order and leaves the
// projection links with the records.
TEST_F(GeometryTest, PolyListOperationsPickTheirPolygonsAndMoveWholeCorners) {
  for (int p = 0; p < 5; ++p) AddPolygon(float(p), p, p == 1 ? 6 : p % 4 == 0 ? 7 : 0);
  const ModelVertex a = Vertex(0, 0), b = Vertex(0, 1), c = Vertex(0, 2), skipped = Vertex(1, 1);
  ReversePolygonOrder();
  ReverseNormals();
  ReverseU();
  ReverseV();
  ExpectReversed(Vertex(0, 0), a, a);
  ExpectReversed(Vertex(0, 1), c, b);
  ExpectReversed(Vertex(0, 2), b, c);
  EXPECT_EQ(0, std::memcmp(&Vertex(1, 1), &skipped, sizeof skipped));
  EXPECT_EQ(scripted.ui.progressDestroyed, 1);  // a progress box of its own
  EXPECT_TRUE(Shown("1042:Reversing Polygon Order..."));

  const ModelVertex kept = Vertex(3, 2);
  ProgressShow();
  DeleteSelectedPolygons();
  EXPECT_EQ(scripted.ui.progressDestroyed, 1);  // only writes into the command's box
  EXPECT_TRUE(Shown("1042:Deleting Polygon(s)..."));
  ProgressHide();
  ASSERT_EQ(gModel.vertexCount, 6);
  EXPECT_EQ(0, std::memcmp(&Vertex(1, 2), &kept, offsetof(ModelVertex, projected)));
  EXPECT_EQ(Vertex(1, 2).projection, 15);
  EXPECT_EQ(Vertex(1, 2).selected, 0);
}

}  // namespace
