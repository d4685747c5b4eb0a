// The clean-up and smoothing passes written the classic way: a removal loop,
// two quadratic exchange sorts and the all-pairs normal pass. They are slow
// on purpose; the tests and the benchmark hold the fast passes against them.
// They change only the tables of the Model they are given (no library
// materials, no progress box).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "model/model.h"

namespace literal {

// Every field of a material moves except `hidden`, which stays with its slot.
inline void CopyMaterialKeepHidden(ModelMaterial& to, const ModelMaterial& from) {
  const int32_t hidden = to.hidden;
  std::memcpy(&to, &from, sizeof to);
  to.hidden = hidden;
}

inline void ExchangeMaterials(ModelMaterial& a, ModelMaterial& b) {
  ModelMaterial t;
  std::memcpy(&t, &a, sizeof t);
  CopyMaterialKeepHidden(a, b);
  CopyMaterialKeepHidden(b, t);
}

inline void RemoveRedundantMaterials(Model& model) {
  for (int i = 0; i < model.materialCount;) {
    bool used = false;
    for (int k = 0; k < model.vertexCount; ++k) {
      if (model.vertices[k].material == i) used = true;
    }
    if (used) {
      ++i;
      continue;
    }
    for (int s = i; s + 1 < model.materialCount; ++s)
      CopyMaterialKeepHidden(model.materials[s], model.materials[s + 1]);
    for (int k = 0; k < model.vertexCount; ++k) {
      if (model.vertices[k].material >= i) --model.vertices[k].material;
    }
    --model.materialCount;
  }
}

inline void SortMaterialsByAlpha(Model& model) {
  if (model.materialCount < 2) return;
  for (int a = 0; a <= model.materialCount - 2; ++a) {
    for (int j = a + 1; j <= model.materialCount - 1; ++j) {
      if (model.materials[a].alpha < model.materials[j].alpha) {
        ExchangeMaterials(model.materials[a], model.materials[j]);
        for (int k = 0; k < model.vertexCount; ++k) {
          int32_t& m = model.vertices[k].material;
          if (m == a) {
            m = j;
          } else if (m == j) {
            m = a;
          }
        }
      }
    }
  }
}

// Exchanges x .. material; projected, projection and selected stay.
inline void ExchangeVertexPayload(ModelVertex& a, ModelVertex& b) {
  constexpr size_t size = offsetof(ModelVertex, projected);
  unsigned char t[size];
  std::memcpy(t, &a, size);
  std::memcpy(&a, &b, size);
  std::memcpy(&b, t, size);
}

inline void SortPolygonList(Model& model) {
  if (model.vertexCount < 2) return;
  for (int i = 0; i <= model.vertexCount - 2; ++i) {
    for (int j = i + 1; j <= model.vertexCount - 1; ++j) {
      if (model.vertices[j].material < model.vertices[i].material) {
        ExchangeVertexPayload(model.vertices[i], model.vertices[j]);
      }
    }
  }
}

// The table changes of CleanUpModel (renderMaterial is left to the caller).
inline void CleanUpModel(Model& model) {
  if (model.vertexCount == 0 || model.materialCount == 0) return;
  RemoveRedundantMaterials(model);
  SortMaterialsByAlpha(model);
  SortPolygonList(model);
}

inline void FaceNormal(const Model& model, int polygon, float n[3]) {
  const ModelVertex* p = &model.vertices[3 * polygon];
  const float ax = p[1].x - p[0].x, ay = p[1].y - p[0].y, az = p[1].z - p[0].z;
  const float bx = p[2].x - p[0].x, by = p[2].y - p[0].y, bz = p[2].z - p[0].z;
  const float x = ay * bz - az * by;
  const float y = az * bx - ax * bz;
  const float z = ax * by - ay * bx;
  const float length = std::sqrt(x * x + y * y + z * z);
  n[0] = x / length;
  n[1] = y / length;
  n[2] = z / length;
}

inline void CalculateNormals(Model& model, float maxAngle, int averageAcrossMaterials) {
  for (int k = 0; k < model.vertexCount; ++k) {
    ModelVertex& vertex = model.vertices[k];
    if (vertex.selected == 0) continue;
    const int t = k / 3;
    float n[3];
    FaceNormal(model, t, n);
    // A polygon of zero area has no direction to give: keep the old normal.
    if (!std::isfinite(n[0]) || !std::isfinite(n[1]) || !std::isfinite(n[2])) continue;
    float s[3] = {0, 0, 0};
    int count = 0;
    for (int j = 0; j < model.vertexCount; ++j) {
      const ModelVertex& other = model.vertices[j];
      const int t2 = j / 3;
      float m[3] = {n[0], n[1], n[2]};  // the own polygon is summed in its place in the table
      if (j != 3 * t) {
        if (t2 == t) continue;
        if (other.x != vertex.x || other.y != vertex.y || other.z != vertex.z) continue;
        if (averageAcrossMaterials == 0 && other.material != vertex.material) continue;
        FaceNormal(model, t2, m);
        const float dot = n[0] * m[0] + n[1] * m[1] + n[2] * m[2];
        const float angle = std::acos(dot) * 180.0f / 3.14159265358979f;
        if (!(-maxAngle < angle && angle < maxAngle)) continue;
      }
      for (int d = 0; d < 3; ++d) s[d] += m[d];
      ++count;
    }
    const float x = s[0] / float(count);
    const float y = s[1] / float(count);
    const float z = s[2] / float(count);
    const float length = std::sqrt(x * x + y * y + z * z);
    // Corners so far apart that the squares overflow: keep the old normal.
    if (!(length > 0.0f) || !std::isfinite(length)) continue;
    vertex.nx = x / length;
    vertex.ny = y / length;
    vertex.nz = z / length;
  }
}

}  // namespace literal
