#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "render/qlt.h"

namespace {

// Declares an untextured material whose colours all derive from one value.
int AddPlain(float v) {
  return qlt_AddMaterial(v, v / 2, v / 4, 1.0f, 10 * v, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0, nullptr, 0,
                         nullptr);
}

class QltMaterials : public ::testing::Test {
 protected:
  void SetUp() override {
    qlt_SetBackgroundMaterialColor(0.0f, 0.0f, 0.0f);
    qlt_FreeMaterials();
  }
  void TearDown() override {
    qlt_SetBackgroundMaterialColor(0.0f, 0.0f, 0.0f);
    qlt_FreeMaterials();
  }
};

void ExpectColor(const QltColorValue& c, float r, float g, float b, float a) {
  EXPECT_FLOAT_EQ(r, c.r);
  EXPECT_FLOAT_EQ(g, c.g);
  EXPECT_FLOAT_EQ(b, c.b);
  EXPECT_FLOAT_EQ(a, c.a);
}

TEST_F(QltMaterials, HandlesFollowDeclarationOrderFromOne) {
  EXPECT_EQ(1, qlt_MaterialCount());
  ASSERT_EQ(1, AddPlain(0.2f));
  ASSERT_EQ(1, AddPlain(0.4f));
  ASSERT_EQ(1, AddPlain(0.8f));
  EXPECT_EQ(3, qlt_DeclarationCount());
  EXPECT_EQ(1, qlt_MaterialCount());  // nothing is created before the call

  int32_t handles[3] = {-1, -1, -1};
  EXPECT_EQ(1, qlt_CreateMaterials(handles));
  EXPECT_EQ(1, handles[0]);
  EXPECT_EQ(2, handles[1]);
  EXPECT_EQ(3, handles[2]);
  EXPECT_EQ(4, qlt_MaterialCount());

  const QltMaterial* m = qlt_GetMaterial(handles[1]);
  ASSERT_NE(nullptr, m);
  ExpectColor(m->diffuse, 0.4f, 0.2f, 0.1f, 1.0f);
  ExpectColor(m->ambient, 0.4f, 0.2f, 0.1f, 1.0f);
  ExpectColor(m->specular, 0.1f, 0.2f, 0.3f, 0.0f);
  ExpectColor(m->emissive, 0.4f, 0.5f, 0.6f, 0.0f);
  EXPECT_FLOAT_EQ(4.0f, m->power);
  EXPECT_EQ(0, m->hasTexture);
  EXPECT_STREQ("", m->textureName);
  EXPECT_EQ(nullptr, qlt_GetMaterial(4));
  EXPECT_EQ(nullptr, qlt_GetMaterial(-1));

  // Creating again without freeing rebuilds the same handles, without a
  // place for the handles.
  EXPECT_EQ(1, qlt_CreateMaterials(nullptr));
  EXPECT_EQ(4, qlt_MaterialCount());
}

TEST_F(QltMaterials, FreeEmptiesEverythingButTheBackground) {
  AddPlain(0.5f);
  AddPlain(0.6f);
  qlt_CreateMaterials(nullptr);
  ASSERT_EQ(1, qlt_SetBackgroundMaterialColor(0.1f, 0.2f, 0.3f));  // remakes material 0 only
  ASSERT_EQ(3, qlt_MaterialCount());
  EXPECT_FLOAT_EQ(0.5f, qlt_GetMaterial(1)->diffuse.r);

  EXPECT_EQ(1, qlt_FreeMaterials());
  EXPECT_EQ(1, qlt_MaterialCount());
  EXPECT_EQ(0, qlt_DeclarationCount());
  const QltMaterial* background = qlt_GetMaterial(0);
  ASSERT_NE(nullptr, background);
  ExpectColor(background->diffuse, 0.1f, 0.2f, 0.3f, 1.0f);
  ExpectColor(background->emissive, 0.1f, 0.2f, 0.3f, 0.0f);
  ExpectColor(background->specular, 0.0f, 0.0f, 0.0f, 0.0f);
  EXPECT_FLOAT_EQ(0.0f, background->power);

  // Numbering starts at 1 again.
  AddPlain(0.7f);
  int32_t handle = -1;
  qlt_CreateMaterials(&handle);
  EXPECT_EQ(1, handle);
  EXPECT_FLOAT_EQ(0.7f, qlt_GetMaterial(1)->diffuse.r);
}

TEST_F(QltMaterials, SetMaterialChecksTheHandleRange) {
  AddPlain(0.5f);
  AddPlain(0.6f);
  qlt_CreateMaterials(nullptr);

  EXPECT_EQ(1, qlt_SetMaterial(2));
  EXPECT_EQ(2, qlt_CurrentMaterial());
  EXPECT_EQ(1, qlt_SetMaterial(0));
  EXPECT_EQ(0, qlt_CurrentMaterial());

  _qlt_SetError("", "", 0);
  EXPECT_EQ(0, qlt_SetMaterial(3));
  EXPECT_STREQ("qlt_SetMaterial\nInvalid Material Handle\n\n", qlt_GetErrorString());
  EXPECT_EQ(0, qlt_CurrentMaterial());
  EXPECT_EQ(0, qlt_SetMaterial(-1));
}

TEST_F(QltMaterials, RebuildingForgetsTheSelection) {
  AddPlain(0.5f);
  qlt_CreateMaterials(nullptr);
  ASSERT_EQ(1, qlt_SetMaterial(1));

  qlt_FreeMaterials();
  EXPECT_EQ(-1, qlt_CurrentMaterial());
  EXPECT_EQ(0, qlt_SetMaterial(1));  // the old handle is gone
  EXPECT_EQ(0, qlt_SetMaterial(-1));  // "none selected" is no handle

  AddPlain(0.6f);
  qlt_CreateMaterials(nullptr);
  EXPECT_EQ(1, qlt_SetMaterial(1));
  EXPECT_EQ(1, qlt_CurrentMaterial());
  qlt_CreateMaterials(nullptr);
  EXPECT_EQ(-1, qlt_CurrentMaterial());
}

TEST_F(QltMaterials, TextureNamesAreBoundedAndAlphaNeedsATexture) {
  const std::string longName(300, 'n');
  qlt_AddMaterial(1, 1, 1, 0.5f, 0, 0, 0, 0, 0, 0, 0, 1, longName.c_str(), 1, "alpha.bmp");
  qlt_AddMaterial(1, 1, 1, 0.5f, 0, 0, 0, 0, 0, 0, 0, 1, "wood.bmp", 0, "ignored.bmp");
  qlt_AddMaterial(1, 1, 1, 0.5f, 0, 0, 0, 0, 0, 0, 0, 0, "ignored.bmp", 1, "ignored.bmp");
  qlt_AddMaterial(1, 1, 1, 0.5f, 0, 0, 0, 0, 0, 0, 0, 1, nullptr, 0, nullptr);
  int32_t h[4];
  qlt_CreateMaterials(h);

  const QltMaterial* withAlpha = qlt_GetMaterial(h[0]);
  EXPECT_EQ(static_cast<size_t>(QltNameSize - 1), strlen(withAlpha->textureName));
  EXPECT_EQ(longName.substr(0, QltNameSize - 1), withAlpha->textureName);
  EXPECT_STREQ("alpha.bmp", withAlpha->alphaName);
  EXPECT_EQ(1, withAlpha->hasTexture);
  EXPECT_EQ(1, withAlpha->hasAlpha);
  // A texture with its own alpha makes the material translucent.
  EXPECT_FLOAT_EQ(0.996f, withAlpha->diffuse.a);
  EXPECT_FLOAT_EQ(0.996f, withAlpha->ambient.a);

  const QltMaterial* textured = qlt_GetMaterial(h[1]);
  EXPECT_STREQ("wood.bmp", textured->textureName);
  EXPECT_STREQ("", textured->alphaName);
  EXPECT_EQ(0, textured->hasAlpha);
  EXPECT_FLOAT_EQ(0.5f, textured->diffuse.a);

  for (int32_t handle : {h[2], h[3]}) {
    const QltMaterial* plain = qlt_GetMaterial(handle);
    EXPECT_EQ(0, plain->hasTexture);
    EXPECT_EQ(0, plain->hasAlpha);
    EXPECT_STREQ("", plain->textureName);
    EXPECT_STREQ("", plain->alphaName);
    EXPECT_FLOAT_EQ(0.5f, plain->diffuse.a);
  }
}

TEST_F(QltMaterials, AFullQueueRefusesFurtherDeclarations) {
  for (int i = 0; i < QltMaxDeclarations; ++i) ASSERT_EQ(1, AddPlain(0.5f)) << i;
  EXPECT_EQ(0, AddPlain(0.9f));
  EXPECT_STREQ("qlt_AddMaterial\nToo many materials declared\n\n", qlt_GetErrorString());
  EXPECT_EQ(QltMaxDeclarations, qlt_DeclarationCount());

  static int32_t handles[QltMaxDeclarations];
  EXPECT_EQ(1, qlt_CreateMaterials(handles));
  EXPECT_EQ(QltMaxMaterials, qlt_MaterialCount());
  EXPECT_EQ(QltMaxMaterials - 1, handles[QltMaxDeclarations - 1]);
  EXPECT_FLOAT_EQ(0.5f, qlt_GetMaterial(QltMaxMaterials - 1)->diffuse.r);
}

}  // namespace
