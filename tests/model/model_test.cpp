#include "model/model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "platform/scripted/scripted_ui.h"
#include "support/model_builder.h"

namespace {

TEST(ModelBoundsTest, RadiusIsTheFartherCornerAndAnEmptyModelKeepsTheStartBox) {
  ClearModel();
  EXPECT_EQ(gModel.minX, 2999999.0f);
  EXPECT_EQ(gModel.maxZ, -2999999.0f);
  EXPECT_FLOAT_EQ(gModel.modelRadius, float(std::sqrt(3.0 * 2999999.0 * 2999999.0)));
  AddTriangle(-1, -1, -1, 3, 0, 0, 0, 0, 0, 0);
  RecomputeBounds();
  EXPECT_EQ(gModel.minX, -1.0f);
  EXPECT_EQ(gModel.maxY, 0.0f);
  EXPECT_FLOAT_EQ(gModel.modelRadius, 3.0f) << "not the half-diagonal";
}

// Indexes clamp into the table at both ends; a Model without materials gets
// one plain material for all.
TEST(ClampMaterialIndexesTest, ClampsBothEndsAndLeavesValidIndexes) {
  ClearModel();
  for (int m : {-3, 5, 9, 0, 4, 2}) AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, m);
  for (int i = 0; i < 5; ++i) SetMaterial(i, 1, 1, 1);
  ClampMaterialIndexes();
  const int expected[] = {0, 4, 4, 0, 4, 2};
  for (int k = 0; k < 18; ++k) EXPECT_EQ(gModel.vertices[k].material, expected[k / 3]) << k;

  ClearModel();
  gModel.materials[0].alpha = 0.5f;  // a stale record in the free slot
  std::snprintf(gModel.materials[0].textureFile, FileNameSize, "stale.bmp");
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 7);
  ClampMaterialIndexes();
  ASSERT_EQ(gModel.materialCount, 1);
  EXPECT_EQ(gModel.vertices[0].material, 0);
  EXPECT_EQ(gModel.materials[0].alpha, 1.0f);
  EXPECT_STREQ(gModel.materials[0].textureFile, "");
}

TEST(AssignPolyListTest, SelectedPolygonsGetTheirOwnNewMaterial) {
  ScopedScriptedUI ui;
  ClearModel();
  SetMaterial(0, 1, 0, 0);
  SetMaterial(1, 0, 1, 0);
  SetMaterial(2, 0, 0, 1);
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 0);
  AddTriangle(0, 0, 1, 1, 0, 1, 0, 1, 1, 1);
  AddTriangle(0, 0, 2, 1, 0, 2, 0, 1, 2, 2);
  for (int p : {0, 2})
    for (int k = 0; k < 3; ++k) gModel.vertices[3 * p + k].selected = 1;

  ASSERT_EQ(AssignPolyListToNewMaterial(), 1);
  EXPECT_TRUE(PolyListIsEmpty());
  // The unused red and blue materials are gone; green and the new white one
  // remain, and the new one is marked for the editor.
  ASSERT_EQ(gModel.materialCount, 2);
  int fresh = -1;
  for (int i = 0; i < 2; ++i)
    if (gModel.materials[i].newlyAssigned) fresh = i;
  ASSERT_NE(fresh, -1);
  EXPECT_EQ(gModel.materials[fresh].red, 1.0f);
  EXPECT_EQ(gModel.materials[fresh].blue, 1.0f);
  int onFresh = 0;
  for (int i = 0; i < gModel.vertexCount; ++i) onFresh += gModel.vertices[i].material == fresh;
  EXPECT_EQ(onFresh, 6);
}

TEST(AssignPolyListTest, FullMaterialTableIsRefusedWithoutChange) {
  ScopedScriptedUI ui;
  ClearModel();
  for (int i = 0; i < MaxMaterials; ++i) SetMaterial(i, 1, 1, 1);
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 17);
  SelectAll();
  EXPECT_EQ(AssignPolyListToNewMaterial(), 0);
  EXPECT_EQ(gModel.materialCount, MaxMaterials);
  EXPECT_EQ(gModel.vertices[0].material, 17);
  EXPECT_EQ(gModel.vertices[0].selected, 1);
  ASSERT_EQ(ui.ui.messages.size(), 1u);
}

}  // namespace
