#include "model/cleanup.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "model/model.h"
#include "platform/scripted/scripted_ui.h"
#include "reference/literal_passes.h"
#include "render/progress_box.h"
#include "render/qlt.h"

namespace {

struct Point {
  float x, y, z;
};

void AddPolygon(int material, Point a = {0, 0, 0}, Point b = {1, 0, 0}, Point c = {0, 1, 0}) {
  const Point corners[3] = {a, b, c};
  for (const Point& p : corners) {
    ModelVertex& v = gModel.vertices[gModel.vertexCount++];
    v = ModelVertex{};
    v.x = p.x;
    v.y = p.y;
    v.z = p.z;
    v.material = material;
  }
}

void SetMaterial(int slot, float alpha, float red = 0.0f) {
  ModelMaterial& m = gModel.materials[slot];
  m = ModelMaterial{};
  m.red = red;
  m.alpha = alpha;
  if (gModel.materialCount <= slot) gModel.materialCount = slot + 1;
}

std::unique_ptr<Model> CopyOfModel() {
  auto copy = std::make_unique<Model>();
  std::memcpy(copy.get(), &gModel, sizeof(Model));
  return copy;
}

// The new polygon order as the first vertex's x of each polygon.
std::vector<float> PolygonTags() {
  std::vector<float> tags;
  for (int i = 0; i < gModel.vertexCount; i += 3) tags.push_back(gModel.vertices[i].x);
  return tags;
}

class CleanUpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgressHide();
    ClearModel();
  }
  void TearDown() override { ClearModel(); }
  ScopedScriptedUI scripted;
};

TEST_F(CleanUpTest, MaterialsEndByDecreasingAlphaAndVerticesFollow) {
  SetMaterial(0, 0.5f, 0.1f);
  SetMaterial(1, 1.0f, 0.2f);
  SetMaterial(2, 0.2f, 0.3f);
  AddPolygon(0);
  AddPolygon(1);
  AddPolygon(2);
  CleanUpModel();
  ASSERT_EQ(gModel.materialCount, 3);
  EXPECT_EQ(gModel.materials[0].alpha, 1.0f);
  EXPECT_EQ(gModel.materials[1].alpha, 0.5f);
  EXPECT_EQ(gModel.materials[2].alpha, 0.2f);
  // Each vertex still points at the material it had, wherever it moved.
  for (int k = 0; k < gModel.vertexCount; ++k) {
    const ModelVertex& v = gModel.vertices[k];
    const float red = gModel.materials[v.material].red;
    EXPECT_EQ(v.material, k / 3) << "polygons are ordered by material";
    EXPECT_TRUE(red == 0.2f || red == 0.1f || red == 0.3f);
  }
  EXPECT_EQ(gModel.materials[gModel.vertices[0].material].red, 0.2f);
  EXPECT_EQ(gModel.materials[gModel.vertices[3].material].red, 0.1f);
  EXPECT_EQ(gModel.materials[gModel.vertices[6].material].red, 0.3f);
}

TEST_F(CleanUpTest, UnusedMaterialsGoAndHiddenStaysWithItsSlot) {
  for (int i = 0; i < 4; ++i) SetMaterial(i, 1.0f, 0.1f * float(i + 1));
  gModel.materials[1].hidden = 1;
  AddPolygon(3);
  AddPolygon(1);
  CleanUpModel();
  ASSERT_EQ(gModel.materialCount, 2);
  EXPECT_EQ(gModel.materials[0].red, 0.2f);  // old material 1
  EXPECT_EQ(gModel.materials[1].red, 0.4f);  // old material 3
  EXPECT_EQ(gModel.materials[0].hidden, 0);
  EXPECT_EQ(gModel.materials[1].hidden, 1);
  EXPECT_EQ(gModel.vertices[0].material, 0);
  EXPECT_EQ(gModel.vertices[3].material, 1);
}

TEST_F(CleanUpTest, EqualMaterialPolygonsEndInExchangeSortOrder) {
  SetMaterial(0, 1.0f);
  SetMaterial(1, 1.0f);
  AddPolygon(1, {1, 0, 0});
  AddPolygon(1, {2, 0, 0});
  AddPolygon(0, {3, 0, 0});
  // The PolyList flags stay where they were; only the geometry moves.
  gModel.vertices[0].selected = gModel.vertices[1].selected = gModel.vertices[2].selected = 1;
  CleanUpModel();
  EXPECT_EQ(PolygonTags(), (std::vector<float>{3, 2, 1}));
  for (int k = 0; k < 9; ++k) EXPECT_EQ(gModel.vertices[k].material, k < 3 ? 0 : 1);
  EXPECT_EQ(gModel.vertices[0].selected, 1);
  EXPECT_EQ(gModel.vertices[3].selected, 0);
}

TEST_F(CleanUpTest, EmptyModelOrNoMaterialsIsLeftAloneAndNothingIsRebuilt) {
  qlt_FreeMaterials();
  SetMaterial(0, 0.5f);
  SetMaterial(1, 1.0f);
  const auto before = CopyOfModel();
  CleanUpModel();  // no vertices
  EXPECT_EQ(std::memcmp(before.get(), &gModel, sizeof(Model)), 0);

  gModel.materialCount = 0;
  AddPolygon(1);
  const auto before2 = CopyOfModel();
  CleanUpModel();  // no materials
  EXPECT_EQ(std::memcmp(before2.get(), &gModel, sizeof(Model)), 0);
  EXPECT_EQ(qlt_DeclarationCount(), 0);
  EXPECT_EQ(qlt_MaterialCount(), 1);
  EXPECT_EQ(scripted.ui.progressCreated, 0);
}

TEST_F(CleanUpTest, LibraryMaterialsAreTheFixedThreeThenTheModelsInOrder) {
  viewportBackground[0] = 0.25f;
  SetMaterial(0, 1.0f, 0.7f);
  SetMaterial(1, 0.5f, 0.3f);
  ModelMaterial& textured = gModel.materials[1];
  textured.hasTexture = 1;
  std::strcpy(textured.textureFile, "wood.bmp");
  textured.emissiveBlue = 0.125f;
  AddPolygon(1);
  AddPolygon(0);
  CleanUpModel();
  viewportBackground[0] = 0.1f;

  ASSERT_EQ(qlt_MaterialCount(), 1 + 3 + 2);
  const QltMaterial* background = qlt_GetMaterial(0);
  ASSERT_NE(background, nullptr);
  EXPECT_EQ(background->diffuse.r, 0.25f);

  const QltMaterial* normal = qlt_GetMaterial(normalMaterial);
  const QltMaterial* hover = qlt_GetMaterial(hoverMaterial);
  const QltMaterial* polyList = qlt_GetMaterial(polyListMaterial);
  ASSERT_TRUE(normal && hover && polyList);
  EXPECT_EQ(normal->diffuse.r, 0.5f);
  EXPECT_EQ(normal->diffuse.g, 0.5f);
  EXPECT_EQ(normal->emissive.r, 0.0f);
  EXPECT_EQ(hover->diffuse.r, 1.0f);
  EXPECT_EQ(hover->emissive.r, 0.3f);
  EXPECT_EQ(polyList->diffuse.g, 1.0f);
  EXPECT_EQ(polyList->emissive.g, 0.3f);
  EXPECT_EQ(polyList->diffuse.a, 1.0f);

  for (int i = 0; i < gModel.materialCount; ++i) {
    const QltMaterial* created = qlt_GetMaterial(gModel.materials[i].renderMaterial);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->diffuse.r, gModel.materials[i].red);
    EXPECT_EQ(created->diffuse.a, gModel.materials[i].alpha);
  }
  const QltMaterial* wood = qlt_GetMaterial(gModel.materials[1].renderMaterial);
  EXPECT_STREQ(wood->textureName, "wood.bmp");
  EXPECT_EQ(wood->emissive.b, 0.125f);
  EXPECT_EQ(gModel.materials[0].renderMaterial, polyListMaterial + 1);
}

TEST_F(CleanUpTest, OpensItsOwnProgressBoxOnlyWhenNoneIsShowing) {
  SetMaterial(0, 1.0f);
  AddPolygon(0);
  AddPolygon(0);
  CleanUpModel();
  EXPECT_EQ(scripted.ui.progressCreated, 1);
  EXPECT_EQ(scripted.ui.progressDestroyed, 1);
  EXPECT_FALSE(ProgressIsShowing());
  const auto& texts = scripted.ui.progressTexts;
  auto shown = [&](const std::string& text) {
    for (const std::string& t : texts) {
      if (t.find(text) != std::string::npos) return true;
    }
    return false;
  };
  EXPECT_TRUE(shown("Removing redundant materials..."));
  EXPECT_TRUE(shown("Creating materials..."));
  EXPECT_TRUE(shown("Please Wait..."));

  ProgressShow();
  CleanUpModel();
  EXPECT_TRUE(ProgressIsShowing());
  EXPECT_EQ(scripted.ui.progressCreated, 2);
  EXPECT_EQ(scripted.ui.progressDestroyed, 1);
  ProgressHide();
}

// ---- Thin polygons ------------------------------------------------------

TEST_F(CleanUpTest, ThinPolygonsAreThoseWithTwoCoincidentCorners) {
  SetMaterial(0, 1.0f);
  AddPolygon(0, {0, 0, 0}, {1, 0, 0}, {0, 0, 0});         // first and third coincide
  AddPolygon(0, {0, 0, 0}, {1, 0, 0}, {2, 0, 0});         // collinear but distinct
  AddPolygon(0, {5, 5, 5}, {0.0f, 1, 2}, {-0.0f, 1, 2});  // -0 equals 0
  AddPolygon(0, {NAN, 0, 0}, {NAN, 0, 0}, {1, 1, 1});     // NaN equals nothing
  AddPolygon(0, {0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  gModel.vertices[13].selected = 1;  // an old PolyList entry is cleared
  scripted.ui.Answer(IDNO);
  EXPECT_EQ(FindThinPolygons(), 2);
  const int expected[5] = {1, 0, 1, 0, 0};
  for (int k = 0; k < gModel.vertexCount; ++k) EXPECT_EQ(gModel.vertices[k].selected, expected[k / 3]) << k;
  ASSERT_EQ(scripted.ui.messages.size(), 1u);
  EXPECT_EQ(scripted.ui.messages[0].caption, "WARNING !!!");
  EXPECT_EQ(scripted.ui.messages[0].type & MB_TYPEMASK, unsigned(MB_YESNO));
  EXPECT_EQ(scripted.ui.messages[0].text,
            "2 infinitely thin polygon(s) were found in this model. To avoid potential errors, these "
            "polygons need to be deleted.\n\nWould you like to delete these polygons now?");
  EXPECT_EQ(gModel.vertexCount, 15);  // No keeps them
}

TEST_F(CleanUpTest, AnsweringYesDeletesThinPolygonsAndCleansUp) {
  SetMaterial(0, 1.0f);
  SetMaterial(1, 0.5f);
  AddPolygon(1, {0, 0, 0}, {0, 0, 0}, {1, 0, 0});
  AddPolygon(0, {0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  scripted.ui.Answer(IDYES);
  EXPECT_EQ(FindThinPolygons(), 1);
  EXPECT_EQ(gModel.vertexCount, 3);
  EXPECT_EQ(gModel.materialCount, 1);  // material 1 lost its only polygon
  EXPECT_EQ(gModel.vertices[1].x, 1.0f);
}

TEST_F(CleanUpTest, NoThinPolygonsAsksNothing) {
  SetMaterial(0, 1.0f);
  AddPolygon(0);
  EXPECT_EQ(FindThinPolygons(), 0);
  EXPECT_TRUE(scripted.ui.messages.empty());
}

// ---- Differential tests against the classic passes -----------------------

struct RandomModelShape {
  int materials;  // materialCount
  int polygons;
  int usedMaterials;  // polygons draw from this many materials (some unused)
  int distinctAlphas;
  bool hostile;  // out-of-range and mixed per-vertex materials, NaN alphas
};

float RandomAlpha(std::mt19937& rng, int distinct, bool hostile) {
  if (hostile && rng() % 11 == 0) return std::numeric_limits<float>::quiet_NaN();
  if (rng() % 13 == 0) return -0.0f;
  return float(rng() % unsigned(distinct)) / float(distinct);
}

void FillRandomModel(std::mt19937& rng, const RandomModelShape& shape) {
  // Every record, including those past the counts, gets recognisable bytes.
  auto* bytes = reinterpret_cast<unsigned char*>(&gModel);
  for (size_t i = 0; i < offsetof(Model, vertexCount); i += 4) {
    const uint32_t r = rng();
    std::memcpy(bytes + i, &r, 4);
  }
  gModel.materialCount = shape.materials;
  for (int i = 0; i < MaxMaterials; ++i) {
    ModelMaterial& m = gModel.materials[i];
    m.alpha = RandomAlpha(rng, shape.distinctAlphas, shape.hostile);
    m.hidden = int32_t(rng() % 2);
  }
  std::vector<int> pool;
  for (int i = 0; i < shape.usedMaterials; ++i) pool.push_back(int(rng() % unsigned(shape.materials)));
  gModel.vertexCount = 3 * shape.polygons;
  for (int k = 0; k < gModel.vertexCount; ++k) {
    ModelVertex& v = gModel.vertices[k];
    int32_t material = k % 3 == 0 ? pool[rng() % pool.size()] : gModel.vertices[k - k % 3].material;
    if (shape.hostile) {
      switch (rng() % 16) {
        case 0:
          material = -1 - int32_t(rng() % 3);
          break;
        case 1:
          material = shape.materials + int32_t(rng() % 4);
          break;
        case 2:
          material = pool[rng() % pool.size()];
          break;  // polygon of mixed materials
        case 3:
          material = std::numeric_limits<int32_t>::min();
          break;
        case 4:
          material = std::numeric_limits<int32_t>::max();
          break;
        default:
          break;
      }
    }
    v.material = material;
  }
  if (shape.hostile && rng() % 2) gModel.vertexCount -= 1 + int(rng() % 2);
}

void ExpectSameAsClassicClean(const char* what) {
  const auto expected = CopyOfModel();
  literal::CleanUpModel(*expected);
  CleanUpModel();
  // Library handles are not the classic passes' business.
  for (int i = 0; i < gModel.materialCount; ++i) {
    expected->materials[i].renderMaterial = gModel.materials[i].renderMaterial;
  }
  ASSERT_EQ(gModel.vertexCount, expected->vertexCount) << what;
  ASSERT_EQ(gModel.materialCount, expected->materialCount) << what;
  for (int k = 0; k < MaxVertices; ++k) {
    ASSERT_EQ(std::memcmp(&gModel.vertices[k], &expected->vertices[k], sizeof(ModelVertex)), 0)
        << what << ": vertex " << k << " material " << gModel.vertices[k].material << " expected "
        << expected->vertices[k].material;
  }
  for (int i = 0; i < MaxMaterials; ++i) {
    ASSERT_EQ(std::memcmp(&gModel.materials[i], &expected->materials[i], sizeof(ModelMaterial)), 0)
        << what << ": material slot " << i;
  }
  EXPECT_EQ(std::memcmp(&gModel, expected.get(), sizeof(Model)), 0) << what;
}

TEST_F(CleanUpTest, MatchesClassicPassesOnRandomModels) {
  const RandomModelShape shapes[] = {
      {1, 40, 1, 1, false},    {2, 1, 2, 2, false},       {5, 200, 3, 2, false},     {20, 300, 20, 4, false},
      {60, 400, 40, 3, false}, {200, 500, 150, 5, false}, {200, 400, 200, 1, false}, {8, 300, 8, 8, true},
      {40, 400, 25, 3, true},  {200, 450, 120, 2, true},
  };
  for (unsigned seed = 1; seed <= 4; ++seed) {
    for (const RandomModelShape& shape : shapes) {
      std::mt19937 rng(seed * 7919u + unsigned(shape.materials * 31 + shape.polygons));
      FillRandomModel(rng, shape);
      const std::string what = "seed " + std::to_string(seed) + " materials " +
                               std::to_string(shape.materials) + (shape.hostile ? " hostile" : "");
      ExpectSameAsClassicClean(what.c_str());
      if (HasFatalFailure()) return;
    }
  }
}

TEST_F(CleanUpTest, MatchesClassicPassesOnAdversarialOrders) {
  // Blocks of descending material (the classic sort's longest exchange
  // chains); already sorted; one material everywhere; alternating high and
  // low; then per-vertex keys of any size (hostile files): random 32-bit
  // values and strictly descending ones.
  const int polygons = 600;
  for (int pattern = 0; pattern < 6; ++pattern) {
    std::mt19937 rng(100u + unsigned(pattern));
    FillRandomModel(rng, {50, polygons, 50, 5, false});
    for (int k = 0; k < 3 * polygons; ++k) {
      const int p = k / 3;
      int32_t material = 0;
      switch (pattern) {
        case 0:
          material = 49 - p * 50 / polygons;
          break;
        case 1:
          material = p * 50 / polygons;
          break;
        case 2:
          material = 7;
          break;
        case 3:
          material = p % 2 ? 49 - p % 50 : p % 50;
          break;
        case 4:
          material = int32_t(rng());
          break;
        case 5:
          material = 1000000 - 997 * k;
          break;
      }
      gModel.vertices[k].material = material;
    }
    ExpectSameAsClassicClean(("pattern " + std::to_string(pattern)).c_str());
    if (HasFatalFailure()) return;
  }
}

TEST_F(CleanUpTest, SecondCleanUpChangesNothing) {
  std::mt19937 rng(5);
  FillRandomModel(rng, {30, 300, 20, 3, false});
  CleanUpModel();
  const auto once = CopyOfModel();
  CleanUpModel();
  // The polygon sort is not stable, but on sorted input no pass exchanges.
  EXPECT_EQ(std::memcmp(once->vertices, gModel.vertices, sizeof gModel.vertices), 0);
  EXPECT_EQ(gModel.materialCount, once->materialCount);
  for (int k = 1; k < gModel.vertexCount; ++k) {
    ASSERT_LE(gModel.vertices[k - 1].material, gModel.vertices[k].material);
  }
  for (int i = 1; i < gModel.materialCount; ++i) {
    ASSERT_GE(gModel.materials[i - 1].alpha, gModel.materials[i].alpha);
  }
}

}  // namespace
