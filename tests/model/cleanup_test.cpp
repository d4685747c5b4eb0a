#include "model/cleanup.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "model/model.h"
#include "platform/scripted/scripted_ui.h"
#include "reference/literal_passes.h"
#include "render/progress_box.h"
#include "render/qlt.h"
#include "support/model_builder.h"

namespace {

void AddFlat(int material) { AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, material); }

class CleanUpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgressHide();
    ClearModel();
  }
  void TearDown() override { ClearModel(); }
  ScopedScriptedUI scripted;
};

TEST_F(CleanUpTest, NothingToCleanOrImpossibleCountsTouchNothing) {
  const int32_t counts[][2] = {{0, 1}, {3, 0}, {-3, 1}, {3, -1}, {MaxVertices + 3, 1}, {3, MaxMaterials + 1}};
  qlt_FreeMaterials();
  for (const auto& c : counts) {
    gModel.vertexCount = c[0];
    gModel.materialCount = c[1];
    auto before = std::make_unique<Model>();
    std::memcpy(before.get(), &gModel, sizeof(Model));  // padding too
    CleanUpModel();
    EXPECT_EQ(std::memcmp(before.get(), &gModel, sizeof(Model)), 0) << c[0] << " vertices " << c[1];
  }
  EXPECT_EQ(qlt_MaterialCount(), 1);  // the background alone: nothing rebuilt
}

TEST_F(CleanUpTest, RebuildsTheLibraryMaterialsInItsOwnProgressBox) {
  viewportBackground[0] = 0.25f;
  SetMaterial(0, 0.3f, 0, 0, 0.5f);
  SetMaterial(1, 0.7f, 0, 0, 1.0f);
  gModel.materials[0].hasTexture = 1;
  std::strcpy(gModel.materials[0].textureFile, "wood.bmp");
  gModel.materials[0].emissiveBlue = 0.125f;
  AddFlat(0);
  AddFlat(1);
  CleanUpModel();
  viewportBackground[0] = 0.1f;
  EXPECT_EQ(scripted.ui.progressDestroyed, 1);
  std::string texts;
  for (const std::string& t : scripted.ui.progressTexts) texts += t + "\n";
  // Each step's first line shows only when its percentage differs from the
  // last one shown; these always do.
  for (const char* text : {"Removing redundant materials...", "Creating materials...", "Please Wait..."})
    EXPECT_NE(texts.find(text), std::string::npos) << text;

  // In declaration order: the background, the three fixed ones, then the
  // Model's own in their new order. Diffuse and alpha, then emissive.
  ASSERT_EQ(qlt_MaterialCount(), 1 + 3 + 2);
  // clang-format off
  const int32_t handles[6] = {0, normalMaterial, hoverMaterial, polyListMaterial,
                              gModel.materials[0].renderMaterial, gModel.materials[1].renderMaterial};
  const float colours[6][7] = {{.25f, .2f, .1f, 1, .25f, .2f, .1f}, {.5f, .5f, .5f, 1, 0, 0, 0},
                               {1, 0, 0, 1, .3f, 0, 0},             {0, 1, 0, 1, 0, .3f, 0},
                               {.7f, 0, 0, 1, 0, 0, 0},             {.3f, 0, 0, .5f, 0, 0, .125f}};
  // clang-format on
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(handles[i], i);
    const QltMaterial& m = *qlt_GetMaterial(i);
    const float got[7] = {m.diffuse.r,  m.diffuse.g,  m.diffuse.b, m.diffuse.a,
                          m.emissive.r, m.emissive.g, m.emissive.b};
    for (int c = 0; c < 7; ++c) EXPECT_EQ(got[c], colours[i][c]) << "material " << i << " value " << c;
  }
  EXPECT_STREQ(qlt_GetMaterial(5)->textureName, "wood.bmp");

  ProgressShow();  // a box already showing is the caller's: used, not closed
  CleanUpModel();
  EXPECT_TRUE(ProgressIsShowing());
  EXPECT_EQ(scripted.ui.progressCreated, 2);
  EXPECT_EQ(scripted.ui.progressDestroyed, 1);
  ProgressHide();
}

TEST_F(CleanUpTest, ThinPolygonsAreSelectedAndDeletedOnlyOnYes) {
  SetMaterial(0, 0, 0, 0, 1.0f);
  SetMaterial(1, 0, 0, 0, 0.5f);
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 0, 0, 1);         // first and third coincide
  AddTriangle(0, 0, 0, 1, 0, 0, 2, 0, 0, 0);         // collinear but distinct
  AddTriangle(5, 5, 5, 0.0f, 1, 2, -0.0f, 1, 2, 1);  // -0 equals 0
  AddTriangle(NAN, 0, 0, NAN, 0, 0, 1, 1, 1, 0);     // NaN equals nothing
  gModel.vertices[4].selected = 1;                   // an old PolyList entry is cleared
  scripted.ui.Answer(IDNO);
  EXPECT_EQ(FindThinPolygons(), 2);
  for (int k = 0; k < 12; ++k) EXPECT_EQ(gModel.vertices[k].selected, int(k / 3 % 2 == 0)) << k;
  ASSERT_EQ(scripted.ui.messages.size(), 1u);
  EXPECT_EQ(scripted.ui.messages[0].caption, "WARNING !!!");
  EXPECT_EQ(scripted.ui.messages[0].type & MB_TYPEMASK, unsigned(MB_YESNO));
  EXPECT_EQ(scripted.ui.messages[0].text,
            "2 infinitely thin polygon(s) were found in this model. To avoid potential errors, these "
            "polygons need to be deleted.\n\nWould you like to delete these polygons now?");

  scripted.ui.Answer(IDYES);
  EXPECT_EQ(FindThinPolygons(), 2);  // No kept them
  EXPECT_EQ(gModel.vertexCount, 6);
  EXPECT_EQ(gModel.materialCount, 1);  // material 1 lost all its polygons
  EXPECT_EQ(gModel.vertices[2].x, 2.0f);
  EXPECT_EQ(FindThinPolygons(), 0);
  EXPECT_EQ(scripted.ui.messages.size(), 2u);  // nothing thin, nothing asked
}

TEST_F(CleanUpTest, ProjectionAndPolyListFollowTheirPolygonThroughTheSort) {
  SetMaterial(0, 0, 0, 0, 0.5f);
  SetMaterial(1, 0, 0, 0, 1.0f);  // sorts first, so its polygon moves to the front
  AddTriangle(10, 0, 0, 11, 0, 0, 12, 0, 0, 0);
  AddTriangle(20, 0, 0, 21, 0, 0, 22, 0, 0, 1);
  AddTriangle(30, 0, 0, 31, 0, 0, 32, 0, 0, 0);
  const int32_t flags[3][3] = {{1, 0, 0}, {1, 2, 1}, {0, 0, 0}};  // projected, projection, selected
  for (int k = 0; k < 9; ++k) {
    gModel.vertices[k].projected = flags[k / 3][0];
    gModel.vertices[k].projection = flags[k / 3][1];
    gModel.vertices[k].selected = flags[k / 3][2];
  }
  CleanUpModel();
  const int order[3] = {1, 0, 2};  // the polygons' new order, as before
  for (int k = 0; k < 9; ++k) {
    const int from = order[k / 3];
    EXPECT_EQ(gModel.vertices[k].x, float(10 * (from + 1) + k % 3)) << k;
    EXPECT_EQ(gModel.vertices[k].material, from == 1 ? 0 : 1) << k;
    EXPECT_EQ(gModel.vertices[k].projected, flags[from][0]) << k;
    EXPECT_EQ(gModel.vertices[k].projection, flags[from][1]) << k;
    EXPECT_EQ(gModel.vertices[k].selected, flags[from][2]) << k;
  }
}

// ---- Differential test against the classic passes ------------------------

// Random materials for each polygon, or Hostile: with out-of-range and mixed
// per-vertex materials, NaN alphas and a partial polygon; or patterns 0 to 5:
// keys in descending blocks (the classic sort's longest exchange chains),
// sorted, all alike, alternating high and low, then keys of any size as a
// hostile file holds them: random 32-bit and strictly falling.
constexpr int Random = -1, Hostile = -2;
struct Shape {
  int materials, polygons, pattern;
};

void FillRandomModel(std::mt19937& rng, const Shape& s) {
  // Every record, including those past the counts, gets recognisable bytes.
  for (size_t i = 0; i < offsetof(Model, vertexCount); i += 4) {
    const uint32_t r = rng();
    std::memcpy(reinterpret_cast<unsigned char*>(&gModel) + i, &r, 4);
  }
  gModel.materialCount = s.materials;
  for (ModelMaterial& m : gModel.materials) {
    m.alpha = s.pattern == Hostile && rng() % 11 == 0 ? NAN : (rng() % 13 ? float(rng() % 4) / 4.0f : -0.0f);
    m.hidden = int32_t(rng() % 2);
  }
  gModel.vertexCount = 3 * s.polygons;
  for (int k = 0; k < gModel.vertexCount; ++k) {
    const int p = k / 3;
    const int32_t keys[] = {49 - p * 50 / s.polygons,     p * 50 / s.polygons, 7,
                            p % 2 ? 49 - p % 50 : p % 50, int32_t(rng()),      1000000 - 997 * k};
    const int32_t odd[] = {-1 - int32_t(rng() % 3), s.materials + int32_t(rng() % 4),
                           int32_t(rng() % unsigned(s.materials)), INT32_MIN, INT32_MAX};
    int32_t& material = gModel.vertices[k].material;
    material = k % 3 ? gModel.vertices[k - k % 3].material : int32_t(rng() % unsigned(s.materials));
    if (s.pattern >= 0) material = keys[s.pattern];
    if (s.pattern == Hostile && rng() % 3 == 0) material = odd[rng() % 5];  // odd[2]: mixed materials
  }
  if (s.pattern == Hostile && rng() % 2) gModel.vertexCount -= 1 + int(rng() % 2);
}

TEST_F(CleanUpTest, MatchesClassicPassesBitForBit) {
  const Shape shapes[] = {{1, 40, Random},    {2, 1, Random},      {5, 200, Random},  {20, 300, Random},
                          {60, 400, Random},  {200, 500, Random},  {200, 60, Random}, {8, 300, Hostile},
                          {40, 400, Hostile}, {200, 450, Hostile}, {50, 600, 0},      {50, 600, 1},
                          {50, 600, 2},       {50, 600, 3},        {50, 600, 4},      {50, 600, 5}};
  for (unsigned seed = 1; seed <= 4; ++seed) {
    for (const Shape& s : shapes) {
      SCOPED_TRACE(testing::Message() << "seed " << seed << " shape " << &s - shapes);
      std::mt19937 rng(seed * 7919u + unsigned(s.materials * 31 + s.polygons + s.pattern));
      FillRandomModel(rng, s);
      auto expected = std::make_unique<Model>();
      std::memcpy(expected.get(), &gModel, sizeof(Model));  // padding too
      // The classic passes leave projected, projection and selected at their
      // positions; a record number in x tells where each record went, and
      // those three fields then go with it.
      auto traced = std::make_unique<Model>();
      std::memcpy(traced.get(), &gModel, sizeof(Model));
      for (int32_t k = 0; k < gModel.vertexCount; ++k) std::memcpy(&traced->vertices[k].x, &k, 4);
      literal::CleanUpModel(*expected);
      literal::CleanUpModel(*traced);
      for (int k = 0; k < gModel.vertexCount; ++k) {
        int32_t from;
        std::memcpy(&from, &traced->vertices[k].x, 4);
        const ModelVertex& source = gModel.vertices[from];
        expected->vertices[k].projected = source.projected;
        expected->vertices[k].projection = source.projection;
        expected->vertices[k].selected = source.selected;
      }
      CleanUpModel();
      // Library handles are not the classic passes' business.
      for (int i = 0; i < gModel.materialCount; ++i)
        expected->materials[i].renderMaterial = gModel.materials[i].renderMaterial;
      ASSERT_EQ(std::memcmp(&gModel, expected.get(), sizeof(Model)), 0);
    }
  }
}

}  // namespace
