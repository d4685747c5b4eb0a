#include "formats/export_tables.h"

#include <gtest/gtest.h>

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

void Put(const std::array<float, 8>& f, int material) {
  gModel.vertices[gModel.vertexCount++] =
      ModelVertex{f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], material, 0, 0, 0};
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

TEST_F(PrepareExportTest, LimitsOnMaterialsAndDistinctVertices) {
  struct Case {
    int materials, vertices;
    bool repeatLast;      // the last vertex repeats the one before
    const char* refusal;  // empty when accepted
  };
  // The vertex limit is on the sum over all materials.
  const Case cases[] = {
      {30, 3, false, ""},
      {31, 3, false, "This model has more than 30 materials and can not be exported."},
      {2, MaxExportVertices + 1, true, ""},
      {2, MaxExportVertices + 1, false,
       "/tmp/big.x can not be written: the model has more than 32768 different vertices.\n\n"
       "Delete or merge polygons, or save it as a Vornix 3D! model."},
  };
  auto before = std::make_unique<Model>();
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.materials << " " << c.vertices << " " << c.repeatLast);
    ClearModel();
    scripted.ui.messages.clear();
    for (int m = 0; m < c.materials; ++m) SetMaterial(m, 1, 1, 1);
    for (int i = 0; i < c.vertices; ++i)
      Put({float(i), 0, 0, 0, 0, 1, 0.5f, 0.5f}, i * c.materials / c.vertices);
    if (c.repeatLast) gModel.vertices[c.vertices - 1] = gModel.vertices[c.vertices - 2];
    std::memcpy(before.get(), &gModel, sizeof(Model));
    ExportTables.vertexTotal = -1;
    const bool accepted = *c.refusal == 0;
    EXPECT_EQ(PrepareExport(1, "/tmp/big.x"), int(accepted));
    EXPECT_FALSE(scripted.ui.progressOpen);
    std::string shown;
    for (const auto& m : scripted.ui.messages) shown += m.text + "|" + m.caption + "\n";
    EXPECT_EQ(shown, accepted ? "" : std::string(c.refusal) + "|Vornix 3D!\n");
    // What accepted tables hold is compared with the literal pass below. Too
    // many materials are refused before anything changes.
    if (accepted) {
      EXPECT_EQ(ExportTables.vertexTotal, c.vertices - int(c.repeatLast));
    } else if (c.materials > MaxExportMaterials) {
      EXPECT_EQ(std::memcmp(before.get(), &gModel, sizeof(Model)), 0);
      EXPECT_EQ(ExportTables.vertexTotal, -1);
    }
  }
}

// Random models drawn from a small pool of vertices, so that duplicates,
// -0 against +0, NaNs, textureless, empty and out-of-range materials all
// occur, against the literal pass.
TEST_F(PrepareExportTest, MatchesTheLiteralPassOnRandomModels) {
  struct Case {
    int seeds, vertices, poolSize, materials;
  };
  const Case cases[] = {{20, 30, 6, 30}, {20, 200, 12, 1}, {20, 1200, 40, 30}, {2, 30000, 2500, 3}};
  auto reference = std::make_unique<literal::ExportState>();
  auto referenceModel = std::make_unique<Model>();
  uint32_t seed = 0;
  for (const Case& c : cases) {
    for (int s = 0; s < c.seeds; ++s) {
      std::mt19937 random(++seed);
      auto pick = [&](int n) { return int(random() % uint32_t(n)); };
      ClearModel();
      const int materials = 1 + pick(c.materials);
      for (int m = 0; m < materials; ++m) {
        SetMaterial(m, 1, 1, 1);
        gModel.materials[m].hasTexture = pick(2);
      }
      for (float* b : {&gModel.minX, &gModel.minY, &gModel.minZ, &gModel.maxX, &gModel.maxY, &gModel.maxZ,
                       &gModel.modelRadius})
        *b = float(pick(100));
      const float choices[] = {0.0f, -0.0f, 1.0f, -2.0f};
      std::vector<std::array<float, 8>> pool(static_cast<size_t>(c.poolSize));
      for (auto& p : pool)
        for (float& f : p) f = pick(4) == 0 ? choices[pick(4)] : float(pick(1000)) / 8.0f;
      for (int i = 0; i < c.vertices; ++i) {
        std::array<float, 8> f = pool[size_t(pick(c.poolSize))];
        const int field = pick(8);
        if (f[field] == 0.0f && pick(2)) f[field] = -f[field];
        if (pick(200) == 0) f[pick(8)] = std::numeric_limits<float>::quiet_NaN();
        const int outOfRange[] = {-1, materials, 5000};
        Put(f, pick(20) == 0 ? outOfRange[pick(3)] : pick(materials));
      }
      const int clearUV = pick(2);
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
