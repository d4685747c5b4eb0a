#include "formats/export_tables.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "formats/file_output.h"
#include "model/float_hash.h"
#include "platform/large_pages.h"
#include "platform/ui.h"
#include "render/progress_box.h"
#include "render/qlt.h"

namespace {

// Open addressing over (material, eight values): twice the most records the
// tables can hold, so a probe chain stays short.
constexpr int HashBits = 16;
constexpr int HashSlots = 1 << HashBits;
static_assert(HashSlots >= 2 * MaxExportVertices, "the hash must stay at most half full");

// Scratch of one preparation; like every table of the program it lives for
// the whole run.
struct Deduplication {
  int32_t slots[HashSlots];                 // walk position of a record's first vertex, -1 when free
  int32_t blockPosition[MaxVertices];       // per walk position; -1 when the vertex is not exported
  int32_t recordSource[MaxExportVertices];  // per new record in walk order: its vertex number
  int32_t recordCount;
  int32_t vertexCounts[MaxExportMaterials];
  int32_t indexCounts[MaxExportMaterials];
};

// A model at capacity touches most of these, so they lie on two large pages
// rather than faulting in some 450 small ones.
struct alignas(LargePageSize) ExportStorage {
  ExportTableSet tables;
  Deduplication scratch;
  int32_t faceIndexList[MaxVertices];
};
ExportStorage storage;
[[maybe_unused]] const bool storageAdvised = (AdviseLargePages(&storage, sizeof storage), true);
Deduplication& scratch = storage.scratch;

}  // namespace

ExportTableSet& ExportTables = storage.tables;
int32_t (&faceIndexList)[MaxVertices] = storage.faceIndexList;
int32_t faceIndexCount;

namespace {

const char* const TooManyMaterialsText = "This model has more than 30 materials and can not be exported.";
const char* const TooManyVerticesFormat =
    "%s can not be written: the model has more than 32768 different vertices.\n\n"
    "Delete or merge polygons, or save it as a Vornix 3D! model.";

bool HasNaN(const ModelVertex& v) {
  const float values[8] = {v.x, v.y, v.z, v.nx, v.ny, v.nz, v.u, v.v};
  for (float value : values) {
    if (value != value) return true;
  }
  return false;
}

// The eight values in four pairs, each multiplied on its own, so that the
// mix is not one long chain of multiplications.
uint32_t SlotOf(const ModelVertex& v) {
  const auto pair = [](float low, float high) {
    return EqualityBits(low) | uint64_t(EqualityBits(high)) << 32;
  };
  uint64_t h = pair(v.x, v.y) * 0x9E3779B97F4A7C15ull ^ pair(v.z, v.nx) * 0xC2B2AE3D27D4EB4Full ^
               pair(v.ny, v.nz) * 0x165667B19E3779F9ull ^ pair(v.u, v.v) * 0x27D4EB2F165667C5ull ^
               uint32_t(v.material) * 0x94D049BB133111EBull;
  h ^= h >> 29;
  h *= 0xD6E8FEB86659FD93ull;
  return uint32_t(h >> (64 - HashBits));
}

// The test that decides whether a vertex is already in its material's block.
bool SameRecord(const ModelVertex& a, const ModelVertex& b) {
  return a.material == b.material && a.x == b.x && a.y == b.y && a.z == b.z && a.nx == b.nx && a.ny == b.ny &&
         a.nz == b.nz && a.u == b.u && a.v == b.v;
}

int32_t ValidCount(int32_t count, int32_t capacity) { return std::clamp(count, 0, capacity); }

void ClearTextureCoordinates() {
  const int32_t materials = ValidCount(gModel.materialCount, MaxMaterials);
  for (int i = 0; i < faceIndexCount; ++i) {
    ModelVertex& v = gModel.vertices[i];
    if (v.material < 0 || v.material >= materials || gModel.materials[v.material].hasTexture != 0) continue;
    v.u = 0.0f;
    v.v = 0.0f;
  }
}

void FillHeader() {
  ExportHeaderRecord& h = ExportTables.ExportHeader;
  h.minX = gModel.minX;
  h.minY = gModel.minY;
  h.minZ = gModel.minZ;
  h.maxX = gModel.maxX;
  h.maxY = gModel.maxY;
  h.maxZ = gModel.maxZ;
  h.modelRadius = gModel.modelRadius;
  h.materialCount = gModel.materialCount;
}

// The block position of the vertex at walk position j, appending a new
// record when its material has none equal to it. -1 when a new record would
// exceed MaxExportVertices.
int32_t FindOrAddRecord(int32_t j) {
  const ModelVertex& v = gModel.vertices[faceIndexList[j]];
  // A NaN equals nothing, so such a vertex is always a record of its own
  // and never needs to be found again.
  const bool findable = !HasNaN(v);
  uint32_t slot = findable ? SlotOf(v) : 0;
  if (findable) {
    for (; scratch.slots[slot] != -1; slot = (slot + 1) & (HashSlots - 1)) {
      const int32_t first = scratch.slots[slot];
      if (SameRecord(gModel.vertices[faceIndexList[first]], v)) return scratch.blockPosition[first];
    }
  }
  if (scratch.recordCount == MaxExportVertices) return -1;
  scratch.recordSource[scratch.recordCount++] = faceIndexList[j];
  if (findable) scratch.slots[slot] = j;
  return scratch.vertexCounts[v.material]++;
}

// One walk over the face index list gives every exported vertex its block
// position in its own material, in the order a walk per material would.
// False when the records do not fit the tables.
bool AssignBlockPositions(const char* path, int32_t materials) {
  std::fill(std::begin(scratch.slots), std::end(scratch.slots), -1);
  std::fill(std::begin(scratch.vertexCounts), std::end(scratch.vertexCounts), 0);
  std::fill(std::begin(scratch.indexCounts), std::end(scratch.indexCounts), 0);
  scratch.recordCount = 0;
  PercentReporter report(path, "Removing redundant vertices...", faceIndexCount);
  for (int32_t j = 0; j < faceIndexCount; ++j) {
    report.At(j);
    const int32_t m = gModel.vertices[faceIndexList[j]].material;
    scratch.blockPosition[j] = -1;
    if (m < 0 || m >= materials) continue;  // such vertices are never exported
    const int32_t k = FindOrAddRecord(j);
    if (k < 0) return false;
    scratch.blockPosition[j] = k;
    ++scratch.indexCounts[m];
  }
  return true;
}

// Lays the materials' blocks out one after the other and copies records and
// indices into them.
void FillBlocks(int32_t materials) {
  ExportTableSet& t = ExportTables;
  int32_t vertexCursor[MaxExportMaterials];
  int32_t indexCursor[MaxExportMaterials];
  for (int m = 0; m < materials; ++m) {
    t.vertexStart[m] = vertexCursor[m] = t.vertexTotal;
    t.indexStart[m] = indexCursor[m] = t.indexTotal;
    t.vertexCounts[m] = scratch.vertexCounts[m];
    t.indexCounts[m] = scratch.indexCounts[m];
    t.vertexTotal += t.vertexCounts[m];
    t.indexTotal += t.indexCounts[m];
  }
  for (int32_t r = 0; r < scratch.recordCount; ++r) {
    const ModelVertex& v = gModel.vertices[scratch.recordSource[r]];
    t.vertices[vertexCursor[v.material]++] = ExportVertex{v.x, v.y, v.z, v.nx, v.ny, v.nz, v.u, v.v};
  }
  // Block positions are below MaxExportVertices, so they fit the 16-bit
  // indices; that total limit also keeps every material under 65,536.
  for (int32_t j = 0; j < faceIndexCount; ++j) {
    if (scratch.blockPosition[j] < 0) continue;
    const int32_t m = gModel.vertices[faceIndexList[j]].material;
    t.indices[indexCursor[m]++] = uint16_t(scratch.blockPosition[j]);
  }
}

// The preparation proper, inside the progress box; false when refused.
bool BuildTables(int clearUV, const char* path) {
  ExportTables.vertexTotal = 0;
  ExportTables.indexTotal = 0;
  ProgressUpdate(path, "Creating face index list...", -1);
  faceIndexCount = ValidCount(gModel.vertexCount, MaxVertices);
  for (int32_t i = 0; i < faceIndexCount; ++i) faceIndexList[i] = i;

  ProgressUpdate(path, "Preparing for texture optimizations...", -1);
  if (clearUV == 1) ClearTextureCoordinates();
  FillHeader();

  const int32_t materials = ValidCount(gModel.materialCount, MaxExportMaterials);
  if (!AssignBlockPositions(path, materials)) return false;
  FillBlocks(materials);
  ProgressUpdate(path, "Exporting Model...", -1);
  return true;
}

}  // namespace

int PrepareExport(int clearUV, const char* path) {
  if (gModel.materialCount > MaxExportMaterials) {
    MessageBoxSafe(TooManyMaterialsText, "Vornix 3D!", MB_OK);
    return 0;
  }
  bool built;
  {
    ProgressScope progress;
    built = BuildTables(clearUV, path);
  }
  if (!built) {
    char text[1400];
    std::snprintf(text, sizeof text, TooManyVerticesFormat, path ? path : "");
    MessageBoxSafe(text, "Vornix 3D!", MB_OK);
    return 0;
  }
  return 1;
}

bool ExportTablesMatchModel() {
  const ExportTableSet& t = ExportTables;
  const int32_t materials = gModel.materialCount;
  if (materials < 0 || materials > MaxExportMaterials || t.ExportHeader.materialCount != materials)
    return false;
  int64_t vertexEnd = 0, indexEnd = 0;
  for (int m = 0; m < materials; ++m) {
    if (t.vertexCounts[m] < 0 || t.indexCounts[m] < 0) return false;
    if (t.vertexStart[m] != vertexEnd || t.indexStart[m] != indexEnd) return false;
    vertexEnd += t.vertexCounts[m];
    indexEnd += t.indexCounts[m];
    if (vertexEnd > MaxExportVertices || indexEnd > MaxVertices) return false;
    for (int32_t i = t.indexStart[m]; i < indexEnd; ++i) {
      if (t.indices[i] >= t.vertexCounts[m]) return false;
    }
  }
  return true;
}

bool ReadyToWriteExportTables(const char* path, const char* noNameMessage) {
  if (!path || !*path) {
    MessageBoxSafe(noNameMessage, "Error", MB_OK);
    return false;
  }
  if (!ExportTablesMatchModel()) {
    ShowPathMessage("%s can not be written: the export tables do not match the model.", path, "Error");
    return false;
  }
  return true;
}
