#include "model/normals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "model/model.h"
#include "platform/scripted/scripted_ui.h"
#include "reference/literal_passes.h"
#include "render/progress_box.h"

namespace {

using Point = std::array<float, 3>;

void AddPolygon(Point a, Point b, Point c, int material, int selected) {
  // 7 is a normal component the pass never produces.
  for (const Point& p : {a, b, c})
    gModel.vertices[gModel.vertexCount++] =
        ModelVertex{p[0], p[1], p[2], 7, 7, 7, 0, 0, material, 0, 0, selected};
}

class NormalsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgressHide();
    ClearModel();
    averageAcrossMaterials = 0;
  }
  void TearDown() override { SetUp(); }
  ScopedScriptedUI scripted;
};

// Known answers, independent of the all-pairs pass: a unit cube of twelve
// triangles, each with vertices of its own. Up to 90 degrees (exactly the
// angle between the faces, which must be strictly less) every vertex keeps
// its face normal; above, the corners average. Corner (0,0,0) touches
// two triangles each of -z, -y and -x; vertex 1, at (0,1,0), sums its own
// -z and one each of +y and -x; vertex 5, at (1,0,0), its own -z, one -y and
// two +x; vertex 6, at (0,0,1), its own +z, one more +z, one -y and one -x.
TEST_F(NormalsTest, CubeCornersAverageOnlyAboveNinetyDegrees) {
  const Point c[8] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
  const int faces[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4},
                           {2, 3, 7, 6}, {1, 2, 6, 5}, {0, 4, 7, 3}};
  for (int t = 0; t < 12; ++t)  // face corners 0 1 2, then 0 2 3
    AddPolygon(c[faces[t / 2][0]], c[faces[t / 2][1 + t % 2]], c[faces[t / 2][2 + t % 2]], 0, 1);
  const float d = 1.0f / std::sqrt(3.0f), e = 1.0f / std::sqrt(6.0f);
  // Maximum angle, vertex, expected normal.
  const float cases[][5] = {{89, 0, 0, 0, -1},  {90, 6, 0, 0, 1},       {91, 0, -d, -d, -d},
                            {91, 1, -d, d, -d}, {91, 5, 2 * e, -e, -e}, {91, 6, -e, -e, 2 * e}};
  for (const auto& t : cases) {
    CalculateNormals(t[0]);
    const ModelVertex& v = gModel.vertices[int(t[1])];
    EXPECT_LT(std::fabs(v.nx - t[2]) + std::fabs(v.ny - t[3]) + std::fabs(v.nz - t[4]), 3e-6f)
        << "angle " << t[0] << " vertex " << t[1] << ": " << v.nx << " " << v.ny << " " << v.nz;
  }
  EXPECT_EQ(scripted.ui.progressCreated, 6);  // and closed each time, or the next would not open
  std::string texts;
  for (const std::string& t : scripted.ui.progressTexts) texts += t + "\n";
  EXPECT_NE(texts.find("Calculating Normals..."), std::string::npos) << texts;
}

// ---- Differential test against the all-pairs pass -------------------------

// A bumpy triangulated grid with shared positions (about six polygons per
// inner point), written in shuffled polygon order, with the awkward cases
// mixed in: an exactly flat strip (angle exactly 0), -0.0 against 0.0, NaN
// positions, collapsed and almost coplanar polygons, polygons laid twice,
// mixed materials and a partial selection with any non-zero flag selecting.
void FillRandomMesh(std::mt19937& rng, int side, int materials, int selectPercent) {
  // Equal either way; a coordinate of 0 comes as 0.0 or -0.0.
  auto coordinate = [&](int i) { return rng() % 2 ? float(i - side / 2) : -float(side / 2 - i); };
  auto corner = [&](int i, int j) {
    return Point{coordinate(i), coordinate(j),
                 i < side / 4 ? 0.0f : std::sin(0.7f * float(i)) * std::cos(0.45f * float(j)) * 2.0f};
  };
  for (int cell = 0; cell < side * side; ++cell) {
    const int i = cell / side, j = cell % side, material = int(rng() % unsigned(materials)),
              roll = int(rng() % 100);
    Point a = corner(i, j), b = corner(i + 1, j), c = corner(i + 1, j + 1), d = corner(i, j + 1);
    if (roll < 3) b = a;
    if (roll == 3) c[2] = NAN;
    if (roll == 4) d[2] += float(rng() % 1000) * 1e-6f;
    auto selected = [&] { return int(rng() % 100) < selectPercent ? (roll == 7 ? 2 : 1) : 0; };
    AddPolygon(a, b, c, material, selected());
    AddPolygon(a, c, d, roll == 5 ? material + 1 : material, selected());
    if (roll == 6) AddPolygon(a, c, d, material, 1);
  }
  ModelVertex* v = gModel.vertices;
  for (int p = gModel.vertexCount / 3 - 1; p > 0; --p)
    std::swap_ranges(v + 3 * p, v + 3 * p + 3, v + 3 * int(rng() % unsigned(p + 1)));
}

TEST_F(NormalsTest, ZeroAreaPolygonsKeepTheirNormalsAndLeaveNoNaN) {
  AddPolygon({0, 0, 0}, {1, 0, 0}, {2, 0, 0}, 0, 1);  // collinear corners
  AddPolygon({0, 0, 0}, {0, 0, 0}, {0, 1, 0}, 0, 1);  // coincident corners
  AddPolygon({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 0, 1);  // a proper neighbour
  CalculateNormals(179);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(gModel.vertices[k].nx, 7.0f) << "vertex " << k;
  for (int k = 6; k < 9; ++k) {
    EXPECT_EQ(gModel.vertices[k].nz, 1.0f);
    EXPECT_EQ(gModel.vertices[k].nx, 0.0f);
  }
}

// Bit for bit, so every vertex of a shared point that smooths over the same
// polygons gets the same normal, whatever its own polygon.
TEST_F(NormalsTest, MatchesAllPairsPassBitForBit) {
  const float angles[] = {0.0f, 45.0f, 179.0f, 91.0f, 12.5f};
  // Every angle with and without averaging across materials, on three kinds of mesh.
  for (int run = 0; run < 30; ++run) {
    const float angle = angles[run / 2 % 5];
    averageAcrossMaterials = run % 2;
    SCOPED_TRACE(testing::Message() << "run " << run << " angle " << angle << " across " << run % 2);
    std::mt19937 rng{unsigned(run)};
    ClearModel();
    FillRandomMesh(rng, 18, 2 + run / 10, run < 10 ? 100 : 60);
    auto expected = std::make_unique<Model>();
    std::memcpy(expected.get(), &gModel, sizeof(Model));
    literal::CalculateNormals(*expected, angle, averageAcrossMaterials);
    CalculateNormals(angle);
    ASSERT_EQ(std::memcmp(gModel.vertices, expected->vertices, sizeof gModel.vertices), 0);
  }
}

}  // namespace
