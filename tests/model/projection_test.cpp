#include "model/projection.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/scripted/scripted_ui.h"
#include "support/model_builder.h"

namespace {

// The unturned box with extents s0..s1 along U and t0..t1 along V.
ProjectionBox Box(float s0, float s1, float t0, float t1, float u0 = 0, float u1 = 1, float v0 = 0,
                  float v1 = 1) {
  return ProjectionBox{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, s0, s1, t0, t1, 0, u0, u1, v0, v1};
}

// u runs from minU to maxU along the box's U axis, v from maxV at its low V
// end to minV at the high end. A box or texture range without extent (the
// dialog allows both) must still give finite coordinates and records.
TEST(Projection, MapsTheSelectedCornersAndStoresTheBox) {
  struct Case {
    float corners[9];
    ProjectionBox box;
    float u[3], v[3], length[2];  // length: box length per unit of u and v, as stored
  };
  // clang-format off
  const Case cases[] = {
      {0, 0, 0, 2, 0, 0, 0, 2, 0, Box(0, 2, 0, 2, .25, .75, .1, .6), .25, .75, .25, .6, .6, .1, 4, 4},
      {7, 0, 0, 7, 0, 2, 7, 2, 2, {{0, 0, 1}, {0, 1, 0}, {-1, 0, 0}, 0, 2, 0, 2, -7, 0, 1, 0, 1},  // turned
       0, 1, 1, 1, 1, 0, 2, 2},
      {0, 3, 0, 4, 3, 0, 2, 3, 1, Box(0, 4, 3, 3), 0, 1, .5, 1, 1, 1, 4, 0},                 // flat along V
      {2, 3, 0, 2, 3, 1, 2, 3, 2, Box(2, 2, 3, 3, .2, .8, .1, .9), .2, .2, .2, .9, .9, .9, 0, 0},  // a line
      {0, 0, 0, 2, 0, 0, 0, 2, 0, Box(0, 2, 0, 2, .3, .3, .4, .4), .3, .3, .3, .4, .4, .4, 2, 2},  // no range
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    ClearModel();
    const float* p = c.corners;
    AddTriangle(p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8], 0);
    SelectAll();
    ASSERT_EQ(ApplyTextureProjection(c.box), 0);
    for (int k = 0; k < 3; ++k) {
      EXPECT_FLOAT_EQ(gModel.vertices[k].u, c.u[k]) << "corner " << k;
      EXPECT_FLOAT_EQ(gModel.vertices[k].v, c.v[k]) << "corner " << k;
    }
    const float* f = gModel.projections[0].value;
    EXPECT_EQ(0, std::memcmp(f, &c.box, 9 * sizeof(float)));  // the axes
    const ProjectionBox& b = c.box;
    const float rest[7] = {b.sMin, b.tMin, b.wMin, c.length[0], c.length[1], b.minU, 1 - b.maxV};
    for (int i = 0; i < 7; ++i) EXPECT_FLOAT_EQ(f[9 + i], rest[i]) << "value " << 9 + i;
  }
}

// A slot is in use while a vertex links to it; the selected vertices still
// hold their old slot while a free one is sought. Links from a file may lie
// outside the table (ignored) or above the stored count (the count rises).
TEST(Projection, TakesTheLowestFreeSlot) {
  ClearModel();
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 0);
  SelectAll();
  AddTriangle(0, 0, 0, 2, 0, 0, 0, 2, 0, 0);
  for (int i = 3; i < 6; ++i) gModel.vertices[i].projected = 1;  // slot 0, then two outside the table
  gModel.vertices[4].projection = MaxProjections;
  gModel.vertices[5].projection = -7;
  EXPECT_EQ(ApplyTextureProjection(Box(0, 1, 0, 1)), 1);
  EXPECT_EQ(gModel.projectionCount, 2);
  EXPECT_EQ(ApplyTextureProjection(Box(0, 1, 0, 1)), 2);
  for (int i = 0; i < 6; ++i) gModel.vertices[i].selected ^= 1;
  EXPECT_EQ(ApplyTextureProjection(Box(0, 2, 0, 2)), 1);  // freed by the second projection
  EXPECT_EQ(gModel.projectionCount, 3);
  // With nothing selected the extents keep their start values; a slot is
  // still filled and no coordinate changes (mapped, this corner's u = 0
  // would become 0.5).
  SelectNone();
  EXPECT_EQ(ApplyTextureProjection(Box(BoundsStart, -BoundsStart, BoundsStart, -BoundsStart)), 0);
  EXPECT_EQ(gModel.vertices[5].u, 0.0f);
}

// 200 polygons, each linked to its own slot: nothing may be written beyond
// the table, so the projection is refused and nothing changes.
TEST(Projection, AFullTableRefusesUntilASlotIsFreed) {
  ScopedScriptedUI scripted;
  ClearModel();
  for (int p = 0; p < MaxProjections; ++p) AddTriangle(float(p), 0, 0, p + 1.0f, 0, 0, float(p), 1, 0, 0);
  for (int i = 0; i < 3 * MaxProjections; ++i) gModel.vertices[i].projection = i / 3;
  for (int i = 0; i < 3 * MaxProjections; ++i) gModel.vertices[i].projected = 1;
  gModel.vertices[0].selected = 1;
  gModel.projectionCount = MaxProjections;
  static Model before;
  std::memcpy(&before, &gModel, sizeof(Model));
  EXPECT_EQ(ApplyTextureProjection(Box(0, 1, 0, 1)), -1);
  ASSERT_EQ(scripted.ui.messages.size(), 1u);
  EXPECT_EQ(scripted.ui.messages[0].caption, "Error");
  EXPECT_EQ(std::memcmp(&before, &gModel, sizeof(Model)), 0);

  for (int i = 3 * 57; i < 3 * 58; ++i) gModel.vertices[i].projected = 0;
  EXPECT_EQ(ApplyTextureProjection(Box(0, 1, 0, 1)), 57);
  EXPECT_EQ(gModel.projectionCount, MaxProjections);
  EXPECT_EQ(gModel.vertices[0].projection, 57);
}

}  // namespace
