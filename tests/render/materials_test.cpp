#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "render/qlt.h"

namespace {

// Declares an untextured material whose colours all derive from one value.
int AddPlain(float v) {
  return qlt_AddMaterial(v, v / 2, v / 4, 1, 10 * v, 1, 2, 3, 4, 5, 6, 0, nullptr, 0, nullptr);
}

class QltMaterials : public ::testing::Test {
 protected:
  void SetUp() override {
    qlt_SetBackgroundMaterialColor(0, 0, 0);
    qlt_FreeMaterials();
  }
  void TearDown() override { SetUp(); }
};

// Handles follow the declaration order from 1; material 0 is the background,
// lit only by its own colour. Texture names are cut to the field; a texture
// needs a name, an alpha bitmap needs a texture, and a texture with its own
// alpha makes the material translucent. A selection must name a material,
// and rebuilding the materials forgets it (-1, which is no handle either).
TEST_F(QltMaterials, DeclarationsBecomeMaterialsNumberedFromOne) {
  AddPlain(0.4f);
  const std::string longName(300, 'n');
  qlt_AddMaterial(1, 1, 1, .5f, 0, 0, 0, 0, 0, 0, 0, 1, longName.c_str(), 1, "a.bmp");
  qlt_AddMaterial(1, 1, 1, .5f, 0, 0, 0, 0, 0, 0, 0, 1, "w.bmp", 0, "x.bmp");
  qlt_AddMaterial(1, 1, 1, .5f, 0, 0, 0, 0, 0, 0, 0, 0, "x.bmp", 1, "x.bmp");
  qlt_AddMaterial(1, 1, 1, .5f, 0, 0, 0, 0, 0, 0, 0, 1, nullptr, 1, "x.bmp");
  EXPECT_EQ(1, qlt_MaterialCount());  // nothing is created before the call
  int32_t handles[5] = {};
  ASSERT_EQ(1, qlt_CreateMaterials(handles));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(i + 1, handles[i]);
  // Diffuse, ambient, specular and emissive colour and power, as stored.
  const float plain[17] = {.4f, .2f, .1f, 1, .4f, .2f, .1f, 1, 1, 2, 3, 0, 4, 5, 6, 0, 4};
  EXPECT_EQ(0, std::memcmp(plain, qlt_GetMaterial(1), sizeof plain));
  const std::string texture[4] = {longName.substr(0, QltNameSize - 1), "w.bmp", "", ""};
  const std::string alpha[4] = {"a.bmp", "", "", ""};
  const float opacity[4] = {.996f, .5f, .5f, .5f};
  for (int i = 0; i < 4; ++i) {
    const QltMaterial* m = qlt_GetMaterial(2 + i);
    EXPECT_EQ(texture[i], m->textureName) << i;
    EXPECT_EQ(alpha[i], m->alphaName) << i;
    EXPECT_FLOAT_EQ(opacity[i], m->ambient.a) << i;
  }
  EXPECT_EQ(1, qlt_SetMaterial(5));
  EXPECT_EQ(0, qlt_SetMaterial(6));
  EXPECT_STREQ("qlt_SetMaterial\nInvalid Material Handle\n\n", qlt_GetErrorString());
  EXPECT_EQ(5, qlt_CurrentMaterial());
  qlt_CreateMaterials(nullptr);
  EXPECT_EQ(-1, qlt_CurrentMaterial());
  EXPECT_EQ(0, qlt_SetMaterial(-1));

  qlt_SetBackgroundMaterialColor(1, 2, 3);
  EXPECT_EQ(1, qlt_FreeMaterials());
  EXPECT_EQ(1, qlt_MaterialCount());
  EXPECT_EQ(0, qlt_DeclarationCount());
  const float background[17] = {1, 2, 3, 1, 1, 2, 3, 1, 0, 0, 0, 0, 1, 2, 3, 0, 0};
  EXPECT_EQ(0, std::memcmp(background, qlt_GetMaterial(0), sizeof background));
}

TEST_F(QltMaterials, AFullQueueRefusesFurtherDeclarations) {
  for (int i = 0; i < QltMaxDeclarations; ++i) ASSERT_EQ(1, AddPlain(0.5f)) << i;
  EXPECT_EQ(0, AddPlain(0.9f));
  EXPECT_STREQ("qlt_AddMaterial\nToo many materials declared\n\n", qlt_GetErrorString());
  ASSERT_EQ(1, qlt_CreateMaterials(nullptr));
  EXPECT_EQ(QltMaxMaterials, qlt_MaterialCount());
}

}  // namespace
