#include "model/model.h"

#include <cmath>
#include <cstring>

#include "model/cleanup.h"
#include "platform/large_pages.h"
#include "platform/ui.h"
#include "render/qlt.h"

alignas(LargePageSize) Model gModel;

namespace {
// A model at capacity fills most of the Model, some thousand small pages.
[[maybe_unused]] const bool modelAdvised = (AdviseLargePages(&gModel, sizeof gModel), true);
}  // namespace

const char* const NothingToProcessText =
    "Nothing to process - There are no polygon(s)\nin the PolyList.\n\nTo create a PolyList, move "
    "the mouse cursor\nover the desired polygon(s) in the 'Select'\nviewport and left-click. "
    "Right-click to\nremove polygon(s).\n";

const char* const TooManyPolygonsText =
    "This model contains too many polygons. You may encounter errors while processing or "
    "exporting this model.";

void SelectAll() {
  for (int i = 0; i < gModel.vertexCount; ++i) gModel.vertices[i].selected = 1;
}

void SelectNone() {
  for (int i = 0; i < gModel.vertexCount; ++i) gModel.vertices[i].selected = 0;
}

bool PolyListIsEmpty() {
  for (int i = 0; i < gModel.vertexCount; ++i) {
    if (gModel.vertices[i].selected == 1) return false;
  }
  return true;
}

static void InitNewMaterial(ModelMaterial& m) {
  std::memset(&m, 0, sizeof m);
  m.red = m.green = m.blue = m.alpha = 1.0f;
}

void ClampMaterialIndexes() {
  // Polygons without any material would index nothing; give them a plain
  // white one so that every index is valid afterwards.
  if (gModel.materialCount <= 0 && gModel.vertexCount > 0) {
    InitNewMaterial(gModel.materials[0]);
    gModel.materialCount = 1;
  }
  const int last = gModel.materialCount - 1;
  for (int i = 0; i < gModel.vertexCount; ++i) {
    int32_t& m = gModel.vertices[i].material;
    if (m < 0) m = 0;
    if (m > last) m = last;
  }
}

void ResetBounds() {
  gModel.minX = gModel.minY = gModel.minZ = BoundsStart;
  gModel.maxX = gModel.maxY = gModel.maxZ = -BoundsStart;
}

void FoldIntoBounds(const ModelVertex& v) {
  // "Not greater than or equal" lets a NaN coordinate through as a minimum,
  // as the box has always been folded.
  if (!(v.x >= gModel.minX)) gModel.minX = v.x;
  if (!(v.y >= gModel.minY)) gModel.minY = v.y;
  if (!(v.z >= gModel.minZ)) gModel.minZ = v.z;
  if (v.x > gModel.maxX) gModel.maxX = v.x;
  if (v.y > gModel.maxY) gModel.maxY = v.y;
  if (v.z > gModel.maxZ) gModel.maxZ = v.z;
}

void ComputeRadius() {
  const double lo = std::sqrt(double(gModel.minX) * gModel.minX + double(gModel.minY) * gModel.minY +
                              double(gModel.minZ) * gModel.minZ);
  const double hi = std::sqrt(double(gModel.maxX) * gModel.maxX + double(gModel.maxY) * gModel.maxY +
                              double(gModel.maxZ) * gModel.maxZ);
  gModel.modelRadius = static_cast<float>(hi > lo ? hi : lo);
}

void RecomputeBounds() {
  ResetBounds();
  for (int i = 0; i < gModel.vertexCount; ++i) FoldIntoBounds(gModel.vertices[i]);
  ComputeRadius();
}

int AssignPolyListToNewMaterial() {
  const int n = gModel.materialCount;
  if (n >= MaxMaterials) {
    MessageBoxSafe(
        "Can not create a new material - this model already uses the maximum of 200 "
        "materials.\n\nAssign the PolyList to one of the existing materials instead.",
        "Vornix 3D!", MB_OK);
    return 0;
  }
  for (int i = 0; i < gModel.vertexCount; ++i) {
    ModelVertex& v = gModel.vertices[i];
    if (v.selected == 1) {
      v.material = n;
      v.selected = 0;
    }
  }
  InitNewMaterial(gModel.materials[n]);
  gModel.materials[n].newlyAssigned = 1;
  gModel.materialCount = n + 1;
  SelectNone();
  CleanUpModel();
  return 1;
}

void ClearModel() {
  gModel.vertexCount = 0;
  gModel.materialCount = 0;
  gModel.projectionCount = 0;
  RecomputeBounds();
}

const char* CheckModelInvariants() {
  if (gModel.vertexCount < 0 || gModel.vertexCount > MaxVertices) return "vertex count out of range";
  if (gModel.vertexCount % 3 != 0) return "vertex count is not a multiple of 3";
  if (gModel.materialCount < 0 || gModel.materialCount > MaxMaterials) return "material count out of range";
  if (gModel.projectionCount < 0 || gModel.projectionCount > MaxProjections)
    return "projection count out of range";
  for (int i = 0; i < gModel.materialCount; ++i) {
    const ModelMaterial& m = gModel.materials[i];
    if (std::memchr(m.textureFile, 0, FileNameSize) == nullptr) return "texture name not terminated";
    if (std::memchr(m.alphaFile, 0, FileNameSize) == nullptr) return "alpha name not terminated";
  }
  return "";
}
