// The sample model written by the build: it must load cleanly and be fit to
// show at start-up without the thin-polygon question or dark, inside-out
// faces.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "model/cleanup.h"
#include "model/model.h"
#include "model/native_file.h"
#include "model/normals.h"
#include "platform/bmp.h"
#include "platform/scripted/scripted_ui.h"

namespace {

class IndyCarTest : public ::testing::Test {
 protected:
  void TearDown() override { ClearModel(); }
  ScopedScriptedUI scripted;
};

// Loads without a message or the thin-polygon question. A car about five
// units long, nose along Z, symmetric about X = 0 and standing on Y = 0, so
// that the viewer's camera frames it. Every material used by whole polygons,
// exactly one of them half transparent and exactly one textured, by a bitmap
// beside the model that its texture coordinates span; vertex normals of
// unit length on the side of their face (all but 1%, where smoothing bends
// them), and the closed parts wound outward: a positive signed volume, summed
// as centroid x times the x part of twice the area vector.
TEST_F(IndyCarTest, IsFitToShowAtStartUp) {
  ASSERT_EQ(1, LoadNativeModel(VORNIX_SAMPLE_MODEL));
  EXPECT_EQ(0, FindThinPolygons());
  EXPECT_TRUE(scripted.ui.messages.empty());
  EXPECT_STREQ("", CheckModelInvariants());
  EXPECT_EQ(2, gModel.projectionCount) << "one projection box per decal flank";
  EXPECT_TRUE(gModel.vertexCount >= 3 * 2000 && gModel.vertexCount <= 3 * 6000) << gModel.vertexCount;
  const float length = gModel.maxZ - gModel.minZ;
  EXPECT_TRUE(length > 4.0f && length < 6.0f) << length;
  EXPECT_LT(std::fmax(gModel.maxX - gModel.minX, gModel.maxY - gModel.minY), 0.5f * length);
  EXPECT_NEAR(0.0f, gModel.minY, 1e-3f);
  EXPECT_NEAR(gModel.minX, -gModel.maxX, 1e-3f);

  int used[MaxMaterials] = {}, nonUnit = 0, disagreeing = 0, halfTransparent = 0, textured = -1;
  float minU = 1, maxU = 0, minV = 1, maxV = 0;
  double volume = 0.0;
  for (int t = 0; t < gModel.vertexCount / 3; ++t) {
    const ModelVertex* v = &gModel.vertices[3 * t];
    ASSERT_TRUE(v[0].material >= 0 && v[0].material < gModel.materialCount) << "polygon " << t;
    ASSERT_TRUE(v[1].material == v[0].material && v[2].material == v[0].material) << "polygon " << t;
    ++used[v[0].material];
    float n[3];
    FaceNormal(t, n);
    for (int k = 0; k < 3; ++k) {
      nonUnit += std::fabs(std::hypot(v[k].nx, v[k].ny, v[k].nz) - 1.0f) > 1e-4f;
      disagreeing += v[k].nx * n[0] + v[k].ny * n[1] + v[k].nz * n[2] <= 0.0f;
      if (gModel.materials[v[k].material].hasTexture) {
        minU = std::fmin(minU, v[k].u), maxU = std::fmax(maxU, v[k].u);
        minV = std::fmin(minV, v[k].v), maxV = std::fmax(maxV, v[k].v);
      }
    }
    volume += (double(v[0].x) + v[1].x + v[2].x) / 6.0 *
              ((double(v[1].y) - v[0].y) * (double(v[2].z) - v[0].z) -
               (double(v[1].z) - v[0].z) * (double(v[2].y) - v[0].y));
  }
  EXPECT_EQ(0, nonUnit);
  EXPECT_LE(disagreeing, gModel.vertexCount / 100);
  EXPECT_GT(volume, 0.5);
  ASSERT_GE(gModel.materialCount, 6);
  for (int i = 0; i < gModel.materialCount; ++i) {
    const ModelMaterial& m = gModel.materials[i];
    EXPECT_TRUE(used[i] > 0 && m.hasAlpha == 0 && (m.alpha == 1.0f || m.alpha == 0.5f))
        << "material " << i << " used " << used[i] << " alpha " << m.alpha;
    halfTransparent += m.alpha == 0.5f;
    if (m.hasTexture) {
      EXPECT_EQ(-1, textured) << "a second textured material " << i;
      textured = i;
    }
  }
  EXPECT_EQ(1, halfTransparent);
  ASSERT_NE(-1, textured);
  const std::string model = VORNIX_SAMPLE_MODEL;
  const std::string bitmap = model.substr(0, model.rfind('/') + 1) + gModel.materials[textured].textureFile;
  BmpImage image;
  EXPECT_EQ(BmpResult::Ok, ReadBmpFile(bitmap.c_str(), &image)) << bitmap;
  EXPECT_TRUE(minU == 0.0f && maxU == 1.0f && minV == 0.0f && maxV == 1.0f)
      << minU << " " << maxU << " " << minV << " " << maxV;
}

}  // namespace
