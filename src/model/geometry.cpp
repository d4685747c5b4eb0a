#include "model/geometry.h"

#include <cmath>
#include <utility>

#include "model/model.h"
#include "render/progress_box.h"

// ---- Whole-model transforms ----------------------------------------------
// Translation and scaling work in single precision on the f32 fields; they
// never touch the normals, so a negative factor mirrors the model without
// turning its winding or its normals over.

void TranslateX(float d) {
  for (int i = 0; i < gModel.vertexCount; ++i) gModel.vertices[i].x += d;
  RecomputeBounds();
}

void TranslateY(float d) {
  for (int i = 0; i < gModel.vertexCount; ++i) gModel.vertices[i].y += d;
  RecomputeBounds();
}

void TranslateZ(float d) {
  for (int i = 0; i < gModel.vertexCount; ++i) gModel.vertices[i].z += d;
  RecomputeBounds();
}

void ScaleX(float f) {
  for (int i = 0; i < gModel.vertexCount; ++i) gModel.vertices[i].x *= f;
  RecomputeBounds();
}

void ScaleY(float f) {
  for (int i = 0; i < gModel.vertexCount; ++i) gModel.vertices[i].y *= f;
  RecomputeBounds();
}

void ScaleZ(float f) {
  for (int i = 0; i < gModel.vertexCount; ++i) gModel.vertices[i].z *= f;
  RecomputeBounds();
}

// ---- Rotations -------------------------------------------------------------
// The angle, its sine and cosine and every product are double; each new
// coordinate is rounded to f32 once, when it is stored. Working in single
// precision would add a rounding per product, and repeated turns of a model
// (the orientation dialog is used again and again) would let it drift.

namespace {

struct Turn {
  double s, q;  // sine and cosine of the angle
};

Turn MakeTurn(float degrees) {
  const double r = degrees * 3.141592653589793 * 0.005555555555555556;
  return Turn{std::sin(r), std::cos(r)};
}

// Turns the pair (a, b) counter-clockwise in its plane:
// a' = q a - s b, b' = s a + q b.
void TurnPair(float& a, float& b, const Turn& t) {
  const double a0 = a;
  const double b0 = b;
  a = static_cast<float>(t.q * a0 - t.s * b0);
  b = static_cast<float>(t.s * a0 + t.q * b0);
}

// Turns the pair (a, b) of every position and of every normal.
void TurnAll(float degrees, float ModelVertex::*a, float ModelVertex::*b, float ModelVertex::*na,
             float ModelVertex::*nb) {
  const Turn t = MakeTurn(degrees);
  for (int i = 0; i < gModel.vertexCount; ++i) {
    ModelVertex& v = gModel.vertices[i];
    TurnPair(v.*a, v.*b, t);
    TurnPair(v.*na, v.*nb, t);
  }
  RecomputeBounds();
}

}  // namespace

void RotateX(float degrees) {
  TurnAll(degrees, &ModelVertex::y, &ModelVertex::z, &ModelVertex::ny, &ModelVertex::nz);
}

// About Y the turn takes Z towards X: x' = q x + s z, z' = -s x + q z.
void RotateY(float degrees) {
  TurnAll(degrees, &ModelVertex::z, &ModelVertex::x, &ModelVertex::nz, &ModelVertex::nx);
}

void RotateZ(float degrees) {
  TurnAll(degrees, &ModelVertex::x, &ModelVertex::y, &ModelVertex::nx, &ModelVertex::ny);
}

// ---- PolyList operations ---------------------------------------------------
// The reversals take a polygon as selected when its first vertex is; the
// three vertices agree on the flag in every model the program builds.

namespace {

int PolygonCount() { return gModel.vertexCount / 3; }

bool FirstVertexSelected(int polygon) { return gModel.vertices[3 * polygon].selected == 1; }

template <typename Fn>
void ForEachSelectedVertex(Fn fn) {
  for (int p = 0; p < PolygonCount(); ++p) {
    if (!FirstVertexSelected(p)) continue;
    for (int k = 0; k < 3; ++k) fn(gModel.vertices[3 * p + k]);
  }
}

// Exchanges position, normal and texture coordinates; material and the
// flags belong to the polygon and stay.
void ExchangeCorners(ModelVertex& a, ModelVertex& b) {
  std::swap(a.x, b.x);
  std::swap(a.y, b.y);
  std::swap(a.z, b.z);
  std::swap(a.nx, b.nx);
  std::swap(a.ny, b.ny);
  std::swap(a.nz, b.nz);
  std::swap(a.u, b.u);
  std::swap(a.v, b.v);
}

}  // namespace

void ReversePolygonOrder() {
  ProgressScope progress;
  const int polygons = PolygonCount();
  for (int p = 0; p < polygons; ++p) {
    ProgressUpdate("Reversing Polygon Order...", "Please Wait...", p * 100 / polygons);
    if (!FirstVertexSelected(p)) continue;
    ExchangeCorners(gModel.vertices[3 * p + 1], gModel.vertices[3 * p + 2]);
  }
}

void ReverseNormals() {
  ForEachSelectedVertex([](ModelVertex& v) {
    v.nx = -v.nx;
    v.ny = -v.ny;
    v.nz = -v.nz;
  });
}

void ReverseU() {
  ForEachSelectedVertex([](ModelVertex& v) { v.u = 1.0f - v.u; });
}

void ReverseV() {
  ForEachSelectedVertex([](ModelVertex& v) { v.v = 1.0f - v.v; });
}

// ---- Deletion --------------------------------------------------------------
// Walks the table polygon by polygon rather than vertex by vertex: a polygon
// goes as a whole when any of its vertices is selected. Where the three
// vertices agree, as the program always leaves them, that is the same as
// dropping every selected vertex; a file whose vertices disagree can no
// longer leave a vertex count that is not a multiple of three.

namespace {

bool AnyVertexSelected(int polygon) {
  const ModelVertex* v = &gModel.vertices[3 * polygon];
  return v[0].selected != 0 || v[1].selected != 0 || v[2].selected != 0;
}

// Copies x through material into the write slot; projected and projection
// belong to the slot and stay.
void MoveVertex(const ModelVertex& from, ModelVertex& to) {
  to.x = from.x;
  to.y = from.y;
  to.z = from.z;
  to.nx = from.nx;
  to.ny = from.ny;
  to.nz = from.nz;
  to.u = from.u;
  to.v = from.v;
  to.material = from.material;
  to.selected = 0;
}

}  // namespace

void DeleteSelectedPolygons() {
  ProgressScope progress;
  const int count = gModel.vertexCount;
  int write = 0;
  for (int p = 0; p < count / 3; ++p) {
    const int read = 3 * p;
    for (int k = 0; k < 3; ++k) {
      ProgressUpdate("Deleting Polygon(s)...", "Please Wait...", (read + k) * 100 / count);
    }
    if (AnyVertexSelected(p)) continue;
    for (int k = 0; k < 3; ++k) MoveVertex(gModel.vertices[read + k], gModel.vertices[write + k]);
    write += 3;
  }
  // The bounds are left as they were: the command runs the clean-up next.
  gModel.vertexCount = write;
}
