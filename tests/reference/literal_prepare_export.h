// The export preparation written the classic way: the whole vertex list is
// walked once per material and each vertex is looked for by a linear search
// of its material's block. Quadratic on purpose; the tests hold the fast
// pass against it. It writes only the tables it is given and the Model's
// texture coordinates (no progress box, no messages).
#pragma once

#include <algorithm>
#include <cstdint>

#include "formats/export_tables.h"
#include "model/model.h"

namespace literal {

struct ExportState {
  ExportTableSet tables;
  int32_t faceIndexList[MaxVertices];
  int32_t faceIndexCount;
};

inline bool SameValues(const ExportVertex& r, const ModelVertex& v) {
  return r.x == v.x && r.y == v.y && r.z == v.z && r.nx == v.nx && r.ny == v.ny && r.nz == v.nz &&
         r.u == v.u && r.v == v.v;
}

// Returns 1, or 0 when the model has more than MaxExportMaterials materials
// (nothing touched) or more distinct vertices than the table holds (the
// tables are then left part-way).
inline int PrepareExport(Model& model, ExportState& s, int clearUV) {
  if (model.materialCount > MaxExportMaterials) return 0;
  ExportTableSet& t = s.tables;
  t.vertexTotal = 0;
  t.indexTotal = 0;
  s.faceIndexCount = std::clamp(model.vertexCount, 0, MaxVertices);
  for (int32_t i = 0; i < s.faceIndexCount; ++i) s.faceIndexList[i] = i;

  if (clearUV == 1) {
    for (int32_t i = 0; i < s.faceIndexCount; ++i) {
      ModelVertex& v = model.vertices[i];
      if (v.material >= 0 && v.material < model.materialCount &&
          model.materials[v.material].hasTexture == 0) {
        v.u = 0.0f;
        v.v = 0.0f;
      }
    }
  }

  t.ExportHeader = ExportHeaderRecord{model.minX, model.minY, model.minZ,        model.maxX,
                                      model.maxY, model.maxZ, model.modelRadius, model.materialCount};

  for (int m = 0; m < model.materialCount; ++m) {
    t.vertexStart[m] = t.vertexTotal;
    t.indexStart[m] = t.indexTotal;
    int32_t records = 0, indices = 0;
    for (int32_t j = 0; j < s.faceIndexCount; ++j) {
      const ModelVertex& v = model.vertices[s.faceIndexList[j]];
      if (v.material != m) continue;
      int32_t k = 0;
      while (k < records && !SameValues(t.vertices[t.vertexStart[m] + k], v)) ++k;
      if (k == records) {
        if (t.vertexTotal == MaxExportVertices) return 0;
        t.vertices[t.vertexTotal++] = ExportVertex{v.x, v.y, v.z, v.nx, v.ny, v.nz, v.u, v.v};
        ++records;
      }
      t.indices[t.indexTotal++] = uint16_t(k);
      ++indices;
    }
    t.vertexCounts[m] = records;
    t.indexCounts[m] = indices;
  }
  return 1;
}

}  // namespace literal
