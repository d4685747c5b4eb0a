#include "formats/export_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "model/model.h"
#include "platform/scripted/scripted_ui.h"
#include "reference/literal_prepare_export.h"
#include "render/progress_box.h"
#include "support/model_builder.h"

namespace {

struct Values {
  float x, y, z, nx, ny, nz, u, v;
};

void Put(const Values& a, int material) {
  ModelVertex& vertex = gModel.vertices[gModel.vertexCount++];
  vertex = ModelVertex{a.x, a.y, a.z, a.nx, a.ny, a.nz, a.u, a.v, material, 0, 0, 0};
}

// Every exported vertex, read back through its material's index list,
// gives the values of the Model vertex it stands for, in Model order.
void ExpectTablesReproduceModel() {
  const ExportTableSet& t = ExportTables;
  for (int m = 0; m < gModel.materialCount; ++m) {
    int32_t n = 0;
    for (int i = 0; i < gModel.vertexCount; ++i) {
      const ModelVertex& v = gModel.vertices[i];
      if (v.material != m) continue;
      ASSERT_LT(n, t.indexCounts[m]) << "material " << m;
      const int k = t.indices[t.indexStart[m] + n++];
      ASSERT_LT(k, t.vertexCounts[m]);
      const ExportVertex& r = t.vertices[t.vertexStart[m] + k];
      const float got[8] = {r.x, r.y, r.z, r.nx, r.ny, r.nz, r.u, r.v};
      const float want[8] = {v.x, v.y, v.z, v.nx, v.ny, v.nz, v.u, v.v};
      for (int f = 0; f < 8; ++f) EXPECT_EQ(got[f], want[f]) << "vertex " << i << " field " << f;
    }
    EXPECT_EQ(n, t.indexCounts[m]) << "material " << m;
  }
}

class PrepareExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgressHide();
    ClearModel();
  }
  void TearDown() override { ClearModel(); }
  ScopedScriptedUI scripted;
};

TEST_F(PrepareExportTest, CubeOfTwelvePolygonsGivesFourRecordsPerSide) {
  SetMaterial(0, 1, 1, 1);
  // Each side: two triangles sharing a diagonal, one normal for the side.
  for (int axis = 0; axis < 3; ++axis) {
    for (float side : {-1.0f, 1.0f}) {
      auto corner = [&](float a, float b) {
        float p[3];
        p[axis] = side;
        p[(axis + 1) % 3] = a;
        p[(axis + 2) % 3] = b;
        float n[3] = {0, 0, 0};
        n[axis] = side;
        return Values{p[0], p[1], p[2], n[0], n[1], n[2], 0, 0};
      };
      const Values q[4] = {corner(-1, -1), corner(1, -1), corner(1, 1), corner(-1, 1)};
      for (int k : {0, 1, 2, 0, 2, 3}) Put(q[k], 0);
    }
  }
  ASSERT_EQ(PrepareExport(0, "cube.x"), 1);
  EXPECT_EQ(ExportTables.vertexCounts[0], 24);
  EXPECT_EQ(ExportTables.indexCounts[0], 36);
  EXPECT_EQ(ExportTables.vertexTotal, 24);
  EXPECT_EQ(ExportTables.indexTotal, 36);
  ExpectTablesReproduceModel();
  EXPECT_TRUE(scripted.ui.messages.empty());
}

TEST_F(PrepareExportTest, ClearingTextureCoordinatesMergesOnlyTexturelessVertices) {
  struct Case {
    int clearUV;
    int hasTexture;
    int records;
    float firstU;  // of the Model's second triangle afterwards
  };
  const Case cases[] = {{1, 0, 3, 0.0f}, {0, 0, 6, 0.5f}, {1, 1, 6, 0.5f}};
  for (const Case& c : cases) {
    ClearModel();
    SetMaterial(0, 1, 1, 1);
    gModel.materials[0].hasTexture = c.hasTexture;
    // The same triangle twice, differing only in u and v.
    for (float uv : {0.25f, 0.5f}) {
      Put({0, 0, 0, 0, 0, 1, uv, uv}, 0);
      Put({1, 0, 0, 0, 0, 1, uv, 1}, 0);
      Put({0, 1, 0, 0, 0, 1, 1, uv}, 0);
    }
    ASSERT_EQ(PrepareExport(c.clearUV, "uv.x"), 1);
    EXPECT_EQ(ExportTables.vertexCounts[0], c.records) << c.clearUV << " " << c.hasTexture;
    EXPECT_EQ(ExportTables.indexCounts[0], 6);
    EXPECT_EQ(gModel.vertices[3].u, c.firstU) << "the Model itself keeps the change";
    ExpectTablesReproduceModel();
  }
}

TEST_F(PrepareExportTest, MaterialWithoutPolygonsKeepsItsSlotWithEmptyBlocks) {
  for (int m = 0; m < 3; ++m) SetMaterial(m, 1, 1, 1);
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 0);
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 2);
  AddTriangle(5, 0, 0, 1, 0, 0, 0, 1, 0, 0);
  gModel.minX = -3;
  gModel.maxZ = 7;
  gModel.modelRadius = 9;
  ASSERT_EQ(PrepareExport(0, "gap.x"), 1);
  const ExportTableSet& t = ExportTables;
  // The third polygon shares two corners with the first.
  const int32_t vertexCounts[3] = {4, 0, 3}, indexCounts[3] = {6, 0, 3};
  const int32_t vertexStart[3] = {0, 4, 4}, indexStart[3] = {0, 6, 6};
  for (int m = 0; m < 3; ++m) {
    EXPECT_EQ(t.vertexCounts[m], vertexCounts[m]) << m;
    EXPECT_EQ(t.indexCounts[m], indexCounts[m]) << m;
    EXPECT_EQ(t.vertexStart[m], vertexStart[m]) << m;
    EXPECT_EQ(t.indexStart[m], indexStart[m]) << m;
  }
  EXPECT_EQ(t.ExportHeader.materialCount, 3);
  EXPECT_EQ(t.ExportHeader.minX, -3.0f);
  EXPECT_EQ(t.ExportHeader.maxZ, 7.0f);
  EXPECT_EQ(t.ExportHeader.modelRadius, 9.0f);
  ExpectTablesReproduceModel();
}

TEST_F(PrepareExportTest, MoreThanThirtyMaterialsIsRefusedBeforeAnythingChanges) {
  for (int m = 0; m <= MaxExportMaterials; ++m) SetMaterial(m, 1, 1, 1);
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 0);
  auto before = std::make_unique<Model>();
  std::memcpy(before.get(), &gModel, sizeof(Model));
  ExportTables.vertexTotal = 1234;
  EXPECT_EQ(PrepareExport(1, "many.x"), 0);
  ASSERT_EQ(scripted.ui.messages.size(), 1u);
  EXPECT_EQ(scripted.ui.messages[0].text, "This model has more than 30 materials and can not be exported.");
  EXPECT_EQ(scripted.ui.messages[0].caption, "Vornix 3D!");
  EXPECT_EQ(std::memcmp(before.get(), &gModel, sizeof(Model)), 0);
  EXPECT_EQ(ExportTables.vertexTotal, 1234);
}

TEST_F(PrepareExportTest, DistinctVerticesAreLimitedOverAllMaterials) {
  // Two materials share the records: the limit is on their sum.
  SetMaterial(0, 1, 1, 1);
  SetMaterial(1, 1, 1, 1);
  for (int accepted : {1, 0}) {
    gModel.vertexCount = 0;
    scripted.ui.messages.clear();
    const int polygons = (MaxExportVertices + 2) / 3;  // 32,769 vertices
    for (int i = 0; i < 3 * polygons; ++i) Put({float(i), 0, 0, 0, 0, 1, 0, 0}, i < 3 * polygons / 2 ? 0 : 1);
    // The last vertex repeating the one before leaves exactly 32,768 distinct.
    if (accepted) gModel.vertices[gModel.vertexCount - 1] = gModel.vertices[gModel.vertexCount - 2];
    EXPECT_EQ(PrepareExport(0, "/tmp/big.x"), accepted);
    if (accepted) {
      EXPECT_EQ(ExportTables.vertexTotal, MaxExportVertices);
      EXPECT_TRUE(scripted.ui.messages.empty());
      ExpectTablesReproduceModel();
      continue;
    }
    ASSERT_EQ(scripted.ui.messages.size(), 1u);
    EXPECT_EQ(scripted.ui.messages[0].text,
              "/tmp/big.x can not be written: the model has more than 32768 different vertices.\n\n"
              "Delete or merge polygons, or save it as a Vornix 3D! model.");
    EXPECT_EQ(scripted.ui.messages[0].caption, "Vornix 3D!");
  }
}

TEST_F(PrepareExportTest, ReportsEachStepUnderThePath) {
  SetMaterial(0, 1, 1, 1);
  AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 0);
  ASSERT_EQ(PrepareExport(0, "out/model.x"), 1);
  const auto& texts = scripted.ui.progressTexts;
  auto count = [&](const std::string& entry) { return std::count(texts.begin(), texts.end(), entry); };
  for (const char* step : {"Creating face index list...", "Preparing for texture optimizations...",
                           "Removing redundant vertices...", "Exporting Model..."})
    EXPECT_GE(count(std::to_string(ProgressLine2) + ":" + step), 1) << step;
  // The path stands as the box's title over every step (the new box
  // starts with its lines emptied).
  const std::string title = std::to_string(ProgressLine1) + ":";
  int titles = 0;
  for (const std::string& entry : texts) {
    if (entry.compare(0, title.size(), title) != 0 || entry == title) continue;
    EXPECT_EQ(entry, title + "out/model.x");
    ++titles;
  }
  EXPECT_GE(titles, 4);
  EXPECT_EQ(count(std::to_string(ProgressPercentLine) + ":0% Complete"), 1);
  EXPECT_EQ(scripted.ui.progressCreated, 1);
  EXPECT_EQ(scripted.ui.progressDestroyed, 1);
}

// Random models built from a small pool of vertices, so that duplicates,
// -0 against +0, NaNs, textureless materials, polygons with mixed materials
// and material indexes out of range all occur.
void BuildRandomModel(std::mt19937& random, int polygons, int poolSize, int materials) {
  ClearModel();
  auto pick = [&](int n) { return int(random() % uint32_t(n)); };
  const float choices[] = {0.0f, -0.0f, 1.0f, 0.5f, -2.0f, 3.25f};
  for (int m = 0; m < materials; ++m) {
    SetMaterial(m, 1, 1, 1);
    gModel.materials[m].hasTexture = pick(2);
  }
  gModel.materialCount = materials;
  std::vector<std::array<float, 8>> pool(static_cast<size_t>(poolSize));
  for (auto& p : pool) {
    for (float& f : p) f = pick(4) == 0 ? choices[pick(6)] : float(pick(1000)) / 8.0f;
  }
  for (int p = 0; p < polygons; ++p) {
    int material = pick(materials);
    if (pick(20) == 0) material = std::vector<int>{-1, materials, 5000}[size_t(pick(3))];
    for (int k = 0; k < 3; ++k) {
      std::array<float, 8> f = pool[size_t(pick(poolSize))];
      const int field = pick(8);
      if (f[field] == 0.0f && pick(2)) f[field] = -f[field];
      if (pick(200) == 0) f[pick(8)] = std::numeric_limits<float>::quiet_NaN();
      Put({f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7]}, pick(50) == 0 ? pick(materials) : material);
    }
  }
  gModel.minX = float(pick(100));
  gModel.maxY = float(pick(100));
  gModel.modelRadius = float(pick(100));
}

TEST_F(PrepareExportTest, MatchesTheLiteralPassOnRandomModels) {
  struct Case {
    int seeds, polygons, pool, materials;
  };
  const Case cases[] = {{30, 60, 12, 1}, {30, 400, 40, 30}, {10, 1500, 300, 7}, {1, 10000, 2500, 3}};
  auto reference = std::make_unique<literal::ExportState>();
  auto referenceModel = std::make_unique<Model>();
  uint32_t seed = 0;
  for (const Case& c : cases) {
    for (int s = 0; s < c.seeds; ++s) {
      std::mt19937 random(++seed);
      BuildRandomModel(random, c.polygons, c.pool, 1 + int(random() % uint32_t(c.materials)));
      const int clearUV = int(random() % 2);
      // Both start from the same leftovers, so untouched entries compare too.
      std::memset(&ExportTables, 0x5A, sizeof ExportTables);
      std::memcpy(&reference->tables, &ExportTables, sizeof ExportTables);
      std::memcpy(referenceModel.get(), &gModel, sizeof(Model));

      ASSERT_EQ(literal::PrepareExport(*referenceModel, *reference, clearUV), 1);
      ASSERT_EQ(PrepareExport(clearUV, "random.x"), 1) << "seed " << seed;
      EXPECT_EQ(std::memcmp(&reference->tables, &ExportTables, sizeof ExportTables), 0) << "seed " << seed;
      EXPECT_EQ(std::memcmp(referenceModel.get(), &gModel, sizeof(Model)), 0) << "seed " << seed;
      ASSERT_EQ(faceIndexCount, reference->faceIndexCount);
      EXPECT_EQ(
          std::memcmp(faceIndexList, reference->faceIndexList, sizeof(int32_t) * size_t(faceIndexCount)), 0);
    }
  }
}

}  // namespace
