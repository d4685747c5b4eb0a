// The sample model written by the build: it must load cleanly and be fit to
// show at start-up without the thin-polygon question or dark, inside-out
// faces.

#include <gtest/gtest.h>

#include <cmath>

#include "model/model.h"
#include "model/native_file.h"
#include "model/normals.h"
#include "platform/scripted/scripted_ui.h"

namespace {

class IndyCarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearModel();
    loaded = LoadNativeModel(VORNIX_SAMPLE_MODEL);
  }
  void TearDown() override { ClearModel(); }

  int Polygons() const { return gModel.vertexCount / 3; }

  ScopedScriptedUI scripted;
  int loaded = 0;
};

bool SamePosition(const ModelVertex& a, const ModelVertex& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z;
}

TEST_F(IndyCarTest, LoadsWithoutMessagesAndWithinTheExpectedSize) {
  ASSERT_EQ(1, loaded);
  EXPECT_TRUE(scripted.ui.messages.empty());
  EXPECT_STREQ("", CheckModelInvariants());
  EXPECT_EQ(0, gModel.projectionCount);
  EXPECT_GE(Polygons(), 2000);
  EXPECT_LE(Polygons(), 6000);
}

TEST_F(IndyCarTest, MaterialsAreUntexturedAllUsedAndOneIsHalfTransparent) {
  ASSERT_EQ(1, loaded);
  ASSERT_GE(gModel.materialCount, 6);
  int used[MaxMaterials] = {};
  for (int t = 0; t < Polygons(); ++t) {
    const int m = gModel.vertices[3 * t].material;
    ASSERT_TRUE(m >= 0 && m < gModel.materialCount) << "polygon " << t;
    ASSERT_EQ(m, gModel.vertices[3 * t + 1].material) << "polygon " << t;
    ASSERT_EQ(m, gModel.vertices[3 * t + 2].material) << "polygon " << t;
    ++used[m];
  }
  int halfTransparent = 0;
  for (int i = 0; i < gModel.materialCount; ++i) {
    const ModelMaterial& m = gModel.materials[i];
    EXPECT_GT(used[i], 0) << "material " << i << " is unused";
    EXPECT_EQ(0, m.hasTexture);
    EXPECT_EQ(0, m.hasAlpha);
    EXPECT_STREQ("", m.textureFile);
    EXPECT_STREQ("", m.alphaFile);
    if (m.alpha == 0.5f) ++halfTransparent;
    else EXPECT_EQ(1.0f, m.alpha) << "material " << i;
  }
  EXPECT_EQ(1, halfTransparent);
}

TEST_F(IndyCarTest, PolygonsAreNotThinAndNormalsAreUnitAndOutward) {
  ASSERT_EQ(1, loaded);
  int thin = 0, nonUnit = 0, disagreeing = 0;
  double signedVolume = 0.0;  // positive when the closed parts wind outward
  for (int t = 0; t < Polygons(); ++t) {
    const ModelVertex* v = &gModel.vertices[3 * t];
    if (SamePosition(v[0], v[1]) || SamePosition(v[0], v[2]) || SamePosition(v[1], v[2])) {
      ++thin;
      continue;
    }
    float face[3];
    FaceNormal(t, face);
    int facing = 0;
    for (int k = 0; k < 3; ++k) {
      const float length = std::sqrt(v[k].nx * v[k].nx + v[k].ny * v[k].ny + v[k].nz * v[k].nz);
      if (std::fabs(length - 1.0f) > 1e-4f) ++nonUnit;
      if (v[k].nx * face[0] + v[k].ny * face[1] + v[k].nz * face[2] > 0.0f) ++facing;
    }
    if (facing < 3) ++disagreeing;
    signedVolume += (double(v[0].x) * (double(v[1].y) * v[2].z - double(v[1].z) * v[2].y) -
                     double(v[0].y) * (double(v[1].x) * v[2].z - double(v[1].z) * v[2].x) +
                     double(v[0].z) * (double(v[1].x) * v[2].y - double(v[1].y) * v[2].x)) /
                    6.0;
  }
  EXPECT_EQ(0, thin);
  EXPECT_EQ(0, nonUnit);
  EXPECT_LE(disagreeing, Polygons() / 100);
  EXPECT_GT(signedVolume, 0.5);
}

// A car about five units long, nose along Z, symmetric about X = 0 and
// standing on Y = 0, so that the viewer's camera frames it.
TEST_F(IndyCarTest, StandsOnTheGroundAlongZ) {
  ASSERT_EQ(1, loaded);
  const float length = gModel.maxZ - gModel.minZ;
  EXPECT_GT(length, 4.0f);
  EXPECT_LT(length, 6.0f);
  EXPECT_LT(gModel.maxX - gModel.minX, 0.5f * length);
  EXPECT_LT(gModel.maxY - gModel.minY, 0.5f * length);
  EXPECT_NEAR(0.0f, gModel.minY, 1e-3f);
  EXPECT_NEAR(gModel.minX, -gModel.maxX, 1e-3f);
}

}  // namespace
