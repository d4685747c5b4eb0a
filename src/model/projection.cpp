#include "model/projection.h"

#include <cmath>

#include "model/model.h"
#include "platform/ui.h"
#include "render/qlt.h"

// Everything here is single precision, as the box it maps through was
// measured: the extents come from the same f32 dot products.

namespace {

const char* const NoFreeSlotText =
    "Can not store another texture projection: all 200 projection\n"
    "slots are in use.\n\n"
    "The texture coordinates have not been changed.\n";

float Dot(const ModelVertex& v, const float axis[3]) {
  return v.x * axis[0] + v.y * axis[1] + v.z * axis[2];
}

// ---- Slot allocation ------------------------------------------------------

// A slot is in use while some vertex is linked to it. The selected vertices
// still count with their old slot here, so projecting the same polygons
// again takes a new slot and only then frees the old one. An index outside
// the table (possible in a file) links to nothing and is ignored.
void MarkSlotsInUse(bool inUse[MaxProjections]) {
  for (int i = 0; i < MaxProjections; ++i) inUse[i] = false;
  for (int i = 0; i < gModel.vertexCount; ++i) {
    const ModelVertex& v = gModel.vertices[i];
    if (v.projected == 1 && v.projection >= 0 && v.projection < MaxProjections) {
      inUse[v.projection] = true;
    }
  }
}

int LowestFreeSlot(const bool inUse[MaxProjections]) {
  for (int k = 0; k < MaxProjections; ++k) {
    if (!inUse[k]) return k;
  }
  return -1;
}

// ---- Mapping ----------------------------------------------------------------

// u runs from minU at the low U end of the box to maxU at the high end; a
// box without extent along U has no such span, and every vertex gets minU
// instead of the infinity or NaN the division would give.
float MapU(float s, const ProjectionBox& box) {
  const float extent = box.sMax - box.sMin;
  if (extent == 0.0f) return box.minU;
  return box.minU + (s - box.sMin) * (box.maxU - box.minU) / extent;
}

// v runs from maxV at the low V end (the bottom of the bitmap) to minV at
// the high end; without extent along V every vertex gets maxV.
float MapV(float t, const ProjectionBox& box) {
  const float extent = box.tMax - box.tMin;
  if (extent == 0.0f) return box.maxV;
  return box.maxV + (box.minV - box.maxV) * (t - box.tMin) / extent;
}

void MapSelectedVertices(const ProjectionBox& box) {
  for (int i = 0; i < gModel.vertexCount; ++i) {
    ModelVertex& v = gModel.vertices[i];
    if (v.selected != 1) continue;
    v.u = MapU(Dot(v, box.uAxis), box);
    v.v = MapV(Dot(v, box.vAxis), box);
  }
}

// ---- The stored record ------------------------------------------------------

// Box length per unit of texture coordinate. An empty texture range (the
// dialog allows minU = maxU) would store an infinity or NaN that the POV
// export writes out; the box length itself is stored instead.
float LengthPerUnit(float boxLength, float range) {
  const float extent = std::fabs(boxLength);
  const float span = std::fabs(range);
  return span == 0.0f ? extent : extent / span;
}

void StoreRecord(const ProjectionBox& box, TextureProjection& record) {
  float* f = record.value;
  for (int i = 0; i < 3; ++i) {
    f[i] = box.uAxis[i];
    f[3 + i] = box.vAxis[i];
    f[6 + i] = box.tAxis[i];
  }
  f[9] = box.sMin;
  f[10] = box.tMin;
  f[11] = box.wMin;
  f[12] = LengthPerUnit(box.sMax - box.sMin, box.maxU - box.minU);
  f[13] = LengthPerUnit(box.tMax - box.tMin, box.maxV - box.minV);
  f[14] = box.minU;
  f[15] = 1.0f - box.maxV;
}

void LinkSelectedVertices(int slot) {
  for (int i = 0; i < gModel.vertexCount; ++i) {
    ModelVertex& v = gModel.vertices[i];
    if (v.selected != 1) continue;
    v.projected = 1;
    v.projection = slot;
  }
}

}  // namespace

int ApplyTextureProjection(const ProjectionBox& box) {
  // The slot is found before anything changes, so that a full table leaves
  // the Model exactly as it was.
  bool inUse[MaxProjections];
  MarkSlotsInUse(inUse);
  const int k = LowestFreeSlot(inUse);
  if (k < 0) {
    MessageBoxSafe(NoFreeSlotText, "Error", MB_OK);
    return -1;
  }

  MapSelectedVertices(box);

  // The count is one more than the highest slot handed out. A file may link
  // vertices to slots at or above its stored count; a slot found above the
  // count then raises it too, so that the record is saved with the model.
  if (k >= gModel.projectionCount) gModel.projectionCount = k + 1;
  StoreRecord(box, gModel.projections[k]);
  LinkSelectedVertices(k);
  return k;
}
