// The X importer's duplicate test and normal pass written the classic way:
// a triangle against every earlier one, each vertex against every other
// vertex. Quadratic on purpose; the tests hold the hashed versions of the
// importer against them. They work on the Model they are given and share
// only the predicates (duplicate test, angle test, unit-length store) with
// the importer, so that both round alike.
#pragma once

#include <cmath>

#include "formats/x_import.h"
#include "model/model.h"

namespace literal {

// Whether one of the Model's first `polygons` triangles duplicates `corners`.
inline bool HasEarlierTwin(const Model& model, int polygons, const ModelVertex* corners) {
  for (int q = 0; q < polygons; ++q)
    if (TrianglesAreDuplicates(corners, &model.vertices[3 * q])) return true;
  return false;
}

inline void VerifyNormals(Model& model) {
  for (int k = 0; k < model.vertexCount; ++k) {
    ModelVertex& v = model.vertices[k];
    const bool given = (v.nx != 0 || v.ny != 0 || v.nz != 0) && std::isfinite(v.nx) && std::isfinite(v.ny) &&
                       std::isfinite(v.nz);
    if (given) {
      StoreUnitNormal(v, v.nx, v.ny, v.nz);
      continue;
    }
    float f[3], sum[3] = {0, 0, 0};
    TriangleUnitNormal(&model.vertices[3 * (k / 3)], f);
    int count = 0;
    for (int j = 0; j < model.vertexCount; ++j) {
      // The own polygon is summed in its place in the table.
      const ModelVertex& w = model.vertices[j];
      float g[3];
      if (j == 3 * (k / 3)) {
        g[0] = f[0], g[1] = f[1], g[2] = f[2];
      } else if (j / 3 == k / 3 || w.x != v.x || w.y != v.y || w.z != v.z || w.material != v.material) {
        continue;
      } else {
        TriangleUnitNormal(&model.vertices[3 * (j / 3)], g);
        if (!WithinSmoothingAngle(f, g)) continue;
      }
      for (int d = 0; d < 3; ++d) sum[d] += g[d];
      ++count;
    }
    StoreUnitNormal(v, sum[0] / float(count), sum[1] / float(count), sum[2] / float(count));
  }
}

}  // namespace literal
