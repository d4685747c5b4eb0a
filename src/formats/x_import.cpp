// The X importer after its text passes: the canonical text is read mesh by
// mesh into the Model, duplicate triangles are dropped as they arrive,
// missing normals are computed and the bounding box is taken.
//
// The duplicate test and the normal pass compare every triangle or vertex
// with every other one by definition; both are answered here from hash
// tables instead, visiting the candidates in table order so that the results
// (down to the rounding of the normal sums) are those of the full scans.
#include "formats/x_import.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "formats/x_text_passes.h"
#include "formats/xtext.h"
#include "model/float_hash.h"
#include "model/model.h"
#include "model/vertex_groups.h"
#include "platform/large_pages.h"
#include "platform/ui.h"
#include "render/progress_box.h"
#include "render/qlt.h"

const char* const VerifyingNormalsText = "Verifying normals...";

namespace {

constexpr int MaxPolygons = MaxVertices / 3;
constexpr float CornerTolerance = 0.000001f;
constexpr float NormalTolerance = 0.7f;

const char* const InterpretingText = "Interpreting data...";
const char* const TriangulatingText = "Triangulating...";
const char* const BoundingBoxText = "Determining bounding box size...";

const char* const FixFileCaption = "Fatal Error - Fix the X File!";
const char* const FaceIndexesMismatchText =
    "MeshMaterialList:nFaceIndexes does not equal Mesh:nFaces\n\nFaces with unassigned materials will be "
    "assigned to material zero if possible.";
const char* const FaceNormalsMismatchText = "MeshNormals:nFaceNormals != Mesh:nFaces  (Not equal!)";
const char* const TextureCoordsMismatchText =
    "MeshTextureCoords:nTextureCoords != Mesh:nVertices  (Not equal!)";
const char* const NoMaterialListText = "MeshMaterialList does not exist";
const char* const ShortFaceText = "Faces must have >=3 verticies";
const char* const ScratchFullText =
    "%s: A mesh holds more numbers than the importer can take (at most %d). That mesh and the rest of the "
    "file were left out.";
const char* const ModelFullText =
    "%s: The file holds more polygons than a model can (32768). The remaining polygons were left out.";
const char* const TooManyMaterialsText =
    "%s: The file holds more materials than a model can (200). The remaining meshes were left out.";
const char* const BadIndexText =
    "%s: Some faces refer to vertices, normals or materials that their mesh does not have.\n\nFaces with "
    "missing vertices were left out, missing normals are calculated and missing materials become the "
    "mesh's first material.";

void ShowWarning(const char* format, const char* path, int number = 0) {
  char text[2048];
  std::snprintf(text, sizeof text, format, path, number);
  MessageBoxSafe(text, "Warning", MB_OK);
}

int Percent(int64_t step, int64_t total) { return total > 0 ? int(step * 100 / total) : 0; }

// ---- The numbers of one mesh ---------------------------------------------

// The scratch list: every number of the mesh being read, counts included.
alignas(LargePageSize) float meshNumbers[MaxMeshNumbers];

// Where the parts of one mesh lie in the scratch list, with their counts.
struct MeshLayout {
  int used = 0;
  int nVertices = 0, vertices = 0;
  int nFaces = 0, faces = 0;
  bool hasMaterialList = false;
  int nMaterials = 0;     // materials the list names, as the material loop counts them
  int faceMaterials = 0;  // exactly nFaces entries
  int nNormals = 0, normals = 0;
  int nFaceNormals = 0, faceNormals = 0;
  int nTextureCoords = 0, textureCoords = 0;
};

// The object's items begin after its first "{"; without one there are none.
int ItemsStart(int tokenPosition) {
  const int brace = TextFind(tokenPosition, "{");
  return brace < 0 ? XTextLength : brace + 1;
}

// Reads `count` items into the list; false when the list is full.
bool ReadItems(MeshLayout& mesh, int& position, int64_t count) {
  if (count > int64_t(MaxMeshNumbers) - mesh.used) return false;
  for (int64_t i = 0; i < count; ++i) meshNumbers[mesh.used++] = ReadXItemFloat(position);
  return true;
}

// A count: read as a float and kept in the list, truncated, below 0 as 0.
bool ReadCount(MeshLayout& mesh, int& position, int& count) {
  if (mesh.used >= MaxMeshNumbers) return false;
  const float value = ReadXItemFloat(position);
  meshNumbers[mesh.used++] = value;
  count = std::max(TruncateCount(value), 0);
  return true;
}

bool PushZeros(MeshLayout& mesh, int64_t count) {
  if (count > int64_t(MaxMeshNumbers) - mesh.used) return false;
  std::fill(meshNumbers + mesh.used, meshNumbers + mesh.used + count, 0.0f);
  mesh.used += int(count);
  return true;
}

// An index item: truncated toward zero; anything below 0 (NaN included) is -1,
// which no table has.
int IndexAt(int entry) {
  const float value = meshNumbers[entry];
  if (!(value > -1.0f)) return -1;
  if (value >= 2147483648.0f) return INT32_MAX;
  return int(value);
}

int CountAt(int entry) { return std::max(TruncateCount(meshNumbers[entry]), 0); }

// The vertices and faces, the items after the mesh's "{".
bool ReadMeshBody(MeshLayout& mesh, int meshPosition) {
  int position = ItemsStart(meshPosition);
  if (!ReadCount(mesh, position, mesh.nVertices)) return false;
  mesh.vertices = mesh.used;
  if (!ReadItems(mesh, position, 3 * int64_t(mesh.nVertices))) return false;
  if (!ReadCount(mesh, position, mesh.nFaces)) return false;
  mesh.faces = mesh.used;
  for (int f = 0; f < mesh.nFaces; ++f) {
    int corners;
    if (!ReadCount(mesh, position, corners) || !ReadItems(mesh, position, corners)) return false;
  }
  return true;
}

bool ReadMaterialList(MeshLayout& mesh, int listPosition) {
  int position = ItemsStart(listPosition);
  int listed, nFaceIndexes;
  if (!ReadCount(mesh, position, listed) || !ReadCount(mesh, position, nFaceIndexes)) return false;
  if (nFaceIndexes != mesh.nFaces) MessageBoxSafe(FaceIndexesMismatchText, FixFileCaption, MB_OK);
  mesh.faceMaterials = mesh.used;
  const int taken = std::min(nFaceIndexes, mesh.nFaces);
  return ReadItems(mesh, position, taken) && PushZeros(mesh, mesh.nFaces - taken);
}

bool ReadNormals(MeshLayout& mesh, int normalsPosition) {
  int position = ItemsStart(normalsPosition);
  if (!ReadCount(mesh, position, mesh.nNormals)) return false;
  mesh.normals = mesh.used;
  if (!ReadItems(mesh, position, 3 * int64_t(mesh.nNormals))) return false;
  if (!ReadCount(mesh, position, mesh.nFaceNormals)) return false;
  if (mesh.nFaceNormals != mesh.nFaces) MessageBoxSafe(FaceNormalsMismatchText, FixFileCaption, MB_OK);
  mesh.faceNormals = mesh.used;
  for (int r = 0; r < mesh.nFaceNormals; ++r) {
    int corners;
    if (!ReadCount(mesh, position, corners) || !ReadItems(mesh, position, corners)) return false;
  }
  return true;
}

bool ReadTextureCoords(MeshLayout& mesh, int coordsPosition) {
  int position = ItemsStart(coordsPosition);
  if (!ReadCount(mesh, position, mesh.nTextureCoords)) return false;
  if (mesh.nTextureCoords != mesh.nVertices) MessageBoxSafe(TextureCoordsMismatchText, FixFileCaption, MB_OK);
  mesh.textureCoords = mesh.used;
  return ReadItems(mesh, position, 2 * int64_t(mesh.nTextureCoords));
}

// The sub-objects of one mesh, each found by its token within the mesh.
struct SubObjects {
  int materialList = -1, normals = -1, textureCoords = -1;
};

SubObjects FindSubObjects(int open, int close) {
  SubObjects found;
  if (open < 0) return found;
  found.materialList = TextFindWithin(open, close, XTokens[TokenMeshMaterialList]);
  found.normals = TextFindWithin(open, close, XTokens[TokenMeshNormals]);
  found.textureCoords = TextFindWithin(open, close, XTokens[TokenMeshTextureCoords]);
  return found;
}

bool ReadSubObjects(MeshLayout& mesh, const SubObjects& found) {
  if (found.materialList >= 0) {
    if (!ReadMaterialList(mesh, found.materialList)) return false;
  } else {
    MessageBoxSafe(NoMaterialListText, FixFileCaption, MB_OK);
    mesh.faceMaterials = mesh.used;
    if (!PushZeros(mesh, mesh.nFaces)) return false;
  }
  if (found.normals >= 0 && !ReadNormals(mesh, found.normals)) return false;
  return found.textureCoords < 0 || ReadTextureCoords(mesh, found.textureCoords);
}

// ---- Triangles -------------------------------------------------------------

alignas(LargePageSize) DuplicateTriangleIndex duplicateIndex;
// A file at capacity fills much of the index and the numbers' table.
[[maybe_unused]] const bool tablesAdvised = (AdviseLargePages(meshNumbers, sizeof meshNumbers),
                                             AdviseLargePages(&duplicateIndex, sizeof duplicateIndex),
                                             true);

struct Interpretation {
  const char* path;
  bool badIndex = false;
  bool modelFull = false;
};

// One corner: position and texture coordinate of mesh vertex `vertex`, the
// normal named by `normal` (-1: none).
void FillCorner(const MeshLayout& mesh, int vertex, int normal, int material, ModelVertex& out) {
  std::memset(&out, 0, sizeof out);
  const float* p = &meshNumbers[mesh.vertices + 3 * vertex];
  out.x = p[0];
  out.y = p[1];
  out.z = p[2];
  if (normal >= 0) {
    const float* n = &meshNumbers[mesh.normals + 3 * normal];
    out.nx = n[0];
    out.ny = n[1];
    out.nz = n[2];
  }
  if (vertex < mesh.nTextureCoords) {
    out.u = meshNumbers[mesh.textureCoords + 2 * vertex];
    out.v = meshNumbers[mesh.textureCoords + 2 * vertex + 1];
  }
  out.material = material;
}

// Appends the triangle unless it duplicates one kept earlier. False once the
// Model is full (after the warning).
bool AppendTriangle(Interpretation& state, const ModelVertex* corners) {
  if (duplicateIndex.IsDuplicate(corners)) return true;
  if (gModel.vertexCount + 3 > MaxVertices) {
    ShowWarning(ModelFullText, state.path);
    state.modelFull = true;
    return false;
  }
  std::memcpy(&gModel.vertices[gModel.vertexCount], corners, 3 * sizeof(ModelVertex));
  gModel.vertexCount += 3;
  duplicateIndex.Add(gModel.vertexCount / 3 - 1);
  return true;
}

// The normal for corner `corner` of a face: -1 when the mesh has none or the
// face's record does not name a valid one.
int CornerNormal(Interpretation& state, const MeshLayout& mesh, int record, int corner) {
  if (mesh.nNormals == 0 || record < 0) return -1;
  if (corner >= CountAt(record)) {
    state.badIndex = true;
    return -1;
  }
  const int normal = IndexAt(record + 1 + corner);
  if (normal < 0 || normal >= mesh.nNormals) {
    state.badIndex = true;
    return -1;
  }
  return normal;
}

// A mesh without a list has every face on its first material; a list's
// index it does not have counts as 0.
int FaceMaterial(Interpretation& state, const MeshLayout& mesh, int face) {
  if (!mesh.hasMaterialList) return 0;
  const int material = IndexAt(mesh.faceMaterials + face);
  if (material < 0 || material >= mesh.nMaterials) {
    state.badIndex = true;
    return 0;
  }
  return material;
}

// Splits the mesh's faces into fans of triangles and appends them. Returns 0
// after the message for a face with fewer than three corners.
int Triangulate(Interpretation& state, const MeshLayout& mesh, int materialBase) {
  PercentReporter report(state.path, TriangulatingText, mesh.nFaces);
  int face = mesh.faces;
  int record = mesh.nNormals != 0 && mesh.nFaceNormals > 0 ? mesh.faceNormals : -1;
  for (int f = 0; f < mesh.nFaces; ++f) {
    report.At(f);
    const int n = CountAt(face);
    if (n < 3) {
      MessageBoxSafe(ShortFaceText, FixFileCaption, MB_OK);
      return 0;
    }
    const int material = materialBase + FaceMaterial(state, mesh, f);
    bool inside = true;
    for (int c = 0; c < n; ++c) {
      const int vertex = IndexAt(face + 1 + c);
      inside = inside && vertex >= 0 && vertex < mesh.nVertices;
    }
    if (!inside) state.badIndex = true;
    for (int k = 2; inside && k < n; ++k) {
      const int corner[3] = {0, k - 1, k};
      ModelVertex triangle[3];
      for (int c = 0; c < 3; ++c)
        FillCorner(mesh, IndexAt(face + 1 + corner[c]), CornerNormal(state, mesh, record, corner[c]),
                   material, triangle[c]);
      if (!AppendTriangle(state, triangle)) return 1;
    }
    face += 1 + n;
    if (record >= 0) record = f + 1 < mesh.nFaceNormals ? record + 1 + CountAt(record) : -1;
  }
  return 1;
}

// ---- Materials -------------------------------------------------------------

void SetDefaultMaterial(ModelMaterial& material) {
  std::memset(&material, 0, sizeof material);
  material.red = material.green = material.blue = material.alpha = 1.0f;
}

// The texture name between the next two double quotes after `position`,
// within the material's texture file name object.
void ReadTextureName(ModelMaterial& material, int materialPosition, int position) {
  int open, close;
  if (!TextBlockExtent(materialPosition, open, close)) return;
  const int token = TextFindWithin(open, close, XTokens[TokenTextureFilename]);
  if (token < 0) return;
  int nameOpen, nameClose;
  if (!TextBlockExtent(token, nameOpen, nameClose)) return;
  const int start = std::max(position, nameOpen + 1);
  if (start > nameClose) return;
  const int first = TextFindWithin(start, nameClose, "\"");
  if (first < 0 || first + 1 > nameClose) return;
  const int last = TextFindWithin(first + 1, nameClose, "\"");
  if (last < 0) return;
  const int length = std::min(last - first - 1, FileNameSize - 1);
  std::memcpy(material.textureFile, XText + first + 1, size_t(length));
  material.textureFile[length] = '\0';
  // A name that ends at once (empty, or a NUL byte) is no name.
  material.hasTexture = material.textureFile[0] != '\0';
}

void ReadMaterial(ModelMaterial& material, int materialPosition) {
  std::memset(&material, 0, sizeof material);
  int position = ItemsStart(materialPosition);
  float* fields[11] = {&material.red,           &material.green,         &material.blue,
                       &material.alpha,         &material.specularPower, &material.specularRed,
                       &material.specularGreen, &material.specularBlue,  &material.emissiveRed,
                       &material.emissiveGreen, &material.emissiveBlue};
  for (float* field : fields) *field = ReadXItemFloat(position);
  ReadTextureName(material, materialPosition, position);
}

// The k-th material token after the list token becomes material k of the
// mesh; one the text does not have becomes the default material.
void AppendMaterials(int listPosition, int count) {
  int search = listPosition;
  for (int k = 0; k < count; ++k) {
    const int found = search < 0 ? -1 : TextFind(search, XTokens[TokenMaterial]);
    ModelMaterial& material = gModel.materials[gModel.materialCount++];
    if (found < 0 || TextFind(found, "{") < 0) {
      SetDefaultMaterial(material);
    } else {
      ReadMaterial(material, found);
    }
    search = found < 0 ? -1 : found + 1;
  }
}

// The materials the mesh's list names, as the material loop counts them.
int ListedMaterials(int listPosition) {
  if (listPosition < 0) return 0;
  int position = ItemsStart(listPosition);
  return std::max(ReadXItemInt(position), 0);
}

enum class MeshResult { Read, Failed, Stop };

MeshResult InterpretMesh(Interpretation& state, int meshPosition) {
  MeshLayout mesh;
  int open, close;
  if (!TextBlockExtent(meshPosition, open, close)) {
    // An unclosed mesh runs to the end of the text.
    open = TextFind(meshPosition, "{");
    close = XTextLength - 1;
  }
  const SubObjects found = FindSubObjects(open, close);
  mesh.hasMaterialList = found.materialList >= 0;
  if (!ReadMeshBody(mesh, meshPosition)) {
    ShowWarning(ScratchFullText, state.path, MaxMeshNumbers);
    return MeshResult::Stop;
  }
  // A mesh with faces but no material gets the default one, so that every
  // face has a material.
  mesh.nMaterials = ListedMaterials(found.materialList);
  const int appended = mesh.nMaterials < 1 && mesh.nFaces > 0 ? 1 : mesh.nMaterials;
  if (appended > MaxMaterials - gModel.materialCount) {
    ShowWarning(TooManyMaterialsText, state.path);
    return MeshResult::Stop;
  }
  if (!ReadSubObjects(mesh, found)) {
    ShowWarning(ScratchFullText, state.path, MaxMeshNumbers);
    return MeshResult::Stop;
  }
  if (!Triangulate(state, mesh, gModel.materialCount)) return MeshResult::Failed;
  AppendMaterials(mesh.nMaterials > 0 ? found.materialList : -1, appended);
  return state.modelFull ? MeshResult::Stop : MeshResult::Read;
}

// ---- Normals ----------------------------------------------------------------

// On a large page of its own: a model at capacity fills it, which would
// otherwise cost some 100 small page faults.
struct alignas(LargePageSize) FaceNormals {
  float of[MaxPolygons][3];
};
FaceNormals faceNormals;
[[maybe_unused]] const bool normalsAdvised = (AdviseLargePages(&faceNormals, sizeof faceNormals), true);
float (&faceNormal)[MaxPolygons][3] = faceNormals.of;

bool HasGivenNormal(const ModelVertex& v) {
  const bool any = v.nx != 0.0f || v.ny != 0.0f || v.nz != 0.0f;
  return any && std::isfinite(v.nx) && std::isfinite(v.ny) && std::isfinite(v.nz);
}

// The face normals are summed in table order, the vertex's own polygon in
// its place among them, so that every vertex of a point that smooths over
// the same polygons gets the same bits and exports as one shared vertex.
void ComputeVertexNormal(int k) {
  ModelVertex& vertex = gModel.vertices[k];
  const int polygon = k / 3;
  const float* f = faceNormal[polygon];
  float sum[3] = {0, 0, 0};
  int count = 0;
  bool ownAdded = false;
  for (int j = groupHead[k]; j != NoVertex; j = groupNext[j]) {
    const float* g = faceNormal[j / 3];
    if (j / 3 == polygon) {
      if (ownAdded) continue;
      ownAdded = true;
    } else if (!WithinSmoothingAngle(f, g)) {
      continue;
    }
    sum[0] += g[0];
    sum[1] += g[1];
    sum[2] += g[2];
    ++count;
  }
  StoreUnitNormal(vertex, sum[0] / float(count), sum[1] / float(count), sum[2] / float(count));
}

}  // namespace

// ---- Duplicate triangles ------------------------------------------------------

void TriangleUnitNormal(const ModelVertex* p, float out[3]) {
  // In double, so that small triangles neither underflow to no direction
  // nor lose their direction to cancellation.
  const double ax = double(p[1].x) - p[0].x, ay = double(p[1].y) - p[0].y, az = double(p[1].z) - p[0].z;
  const double bx = double(p[2].x) - p[0].x, by = double(p[2].y) - p[0].y, bz = double(p[2].z) - p[0].z;
  const double x = ay * bz - az * by;
  const double y = az * bx - ax * bz;
  const double z = ax * by - ay * bx;
  const double length = std::sqrt(x * x + y * y + z * z);
  if (!(length > 0.0) || !std::isfinite(length)) {
    out[0] = out[1] = out[2] = 0.0f;
    return;
  }
  out[0] = float(x / length);
  out[1] = float(y / length);
  out[2] = float(z / length);
}

namespace {

bool CornersNear(const ModelVertex& p, const ModelVertex& q) {
  return std::fabs(p.x - q.x) <= CornerTolerance && std::fabs(p.y - q.y) <= CornerTolerance &&
         std::fabs(p.z - q.z) <= CornerTolerance;
}

bool CornersCorrespond(const ModelVertex* p, const ModelVertex* q) {
  static const int order[6][3] = {{0, 1, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}, {1, 0, 2}, {0, 2, 1}};
  for (const auto& o : order) {
    if (CornersNear(q[0], p[o[0]]) && CornersNear(q[1], p[o[1]]) && CornersNear(q[2], p[o[2]])) return true;
  }
  return false;
}

}  // namespace

bool TrianglesAreDuplicates(const ModelVertex* a, const ModelVertex* b) {
  if (!CornersCorrespond(a, b)) return false;
  float n[3], m[3];
  TriangleUnitNormal(a, n);
  TriangleUnitNormal(b, m);
  for (int i = 0; i < 3; ++i) {
    const float d = n[i] - m[i];
    if (!(d >= -NormalTolerance && d <= NormalTolerance)) return false;
  }
  return true;
}

static_assert(MaxVertices < (1 << 18) / 2, "the index's slot table must stay at most half full");

void DuplicateTriangleIndex::Clear() {
  for (int c = 0; c < cellCount_; ++c) slot_[cell_[c].slot] = 0;
  cellCount_ = 0;
  entryCount_ = 0;
}

namespace {

// Cells are 0.00001 wide, ten times the tolerance: a coordinate's near
// values lie in its own cell or, when it is within 0.000001 of a cell's
// side, also in the next cell on that side. `low` and `high` (-1 or 0, 0 or
// 1) name the cells to search; the margin of 0.15 cell widths covers the
// rounding of the scaled coordinate with room to spare. Cells are centred
// on multiples of 0.00001, where modelled coordinates tend to lie, so that
// those need one cell.
int64_t CoordinateCell(float f, int& low, int& high) {
  low = high = 0;
  if (std::fabs(f) < 524288.0f) {
    const double scaled = double(f) * 1e5 + 0.5;
    const double cell = std::floor(scaled);
    low = scaled - cell < 0.15 ? -1 : 0;
    high = scaled - cell > 0.85 ? 1 : 0;
    return int64_t(cell);
  }
  // From 2^19 on floats lie more than 0.000001 apart, so only equal
  // coordinates are near; their bits are the cell (apart from the range
  // above, so the cells never meet).
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return (int64_t(1) << 40) + bits;
}

}  // namespace

DuplicateTriangleIndex::CellKey DuplicateTriangleIndex::KeyOf(const ModelVertex& corner) {
  int low, high;
  return CellKey{{CoordinateCell(corner.x, low, high), CoordinateCell(corner.y, low, high),
                  CoordinateCell(corner.z, low, high)}};
}

namespace {

uint32_t CellHash(const int64_t c[3]) {
  return HashFinish(HashStep(HashStep(uint64_t(c[0]), uint64_t(c[1])), uint64_t(c[2])));
}

}  // namespace

int DuplicateTriangleIndex::FindCell(const CellKey& key) const {
  for (uint32_t s = CellHash(key.c) & (SlotCount - 1);; s = (s + 1) & (SlotCount - 1)) {
    const int cell = slot_[s] - 1;
    if (cell < 0) return -1;
    if (std::memcmp(cell_[cell].key.c, key.c, sizeof key.c) == 0) return cell;
  }
}

int DuplicateTriangleIndex::FindOrAddCell(const CellKey& key) {
  uint32_t s = CellHash(key.c) & (SlotCount - 1);
  for (;; s = (s + 1) & (SlotCount - 1)) {
    const int cell = slot_[s] - 1;
    if (cell < 0) break;
    if (std::memcmp(cell_[cell].key.c, key.c, sizeof key.c) == 0) return cell;
  }
  const int cell = cellCount_++;
  cell_[cell] = Cell{key, -1, 0, int32_t(s)};
  slot_[s] = cell + 1;
  return cell;
}

int DuplicateTriangleIndex::Neighbourhood(const ModelVertex& corner, int cells[Neighbours],
                                          int& cellCount) const {
  int low[3], high[3];
  const CellKey centre{{CoordinateCell(corner.x, low[0], high[0]), CoordinateCell(corner.y, low[1], high[1]),
                        CoordinateCell(corner.z, low[2], high[2])}};
  int entries = 0;
  cellCount = 0;
  for (int dx = low[0]; dx <= high[0]; ++dx) {
    for (int dy = low[1]; dy <= high[1]; ++dy) {
      for (int dz = low[2]; dz <= high[2]; ++dz) {
        const CellKey key{{centre.c[0] + dx, centre.c[1] + dy, centre.c[2] + dz}};
        const int cell = FindCell(key);
        if (cell < 0) continue;
        cells[cellCount++] = cell;
        entries += cell_[cell].count;
      }
    }
  }
  return entries;
}

bool DuplicateTriangleIndex::IsDuplicate(const ModelVertex* corners) const {
  if (entryCount_ == 0) return false;
  // Every corner of a duplicate lies near some corner of the new triangle,
  // so the cells near any one corner hold all duplicates; the corner whose
  // cells hold the fewest entries is searched.
  int cells[3][Neighbours], cellCounts[3], best = 0, bestEntries = 0;
  for (int c = 0; c < 3; ++c) {
    const int entries = Neighbourhood(corners[c], cells[c], cellCounts[c]);
    if (c == 0 || entries < bestEntries) {
      best = c;
      bestEntries = entries;
    }
  }
  for (int i = 0; i < cellCounts[best]; ++i) {
    for (int e = cell_[cells[best][i]].head; e >= 0; e = entryNext_[e]) {
      if (TrianglesAreDuplicates(corners, &gModel.vertices[3 * entryTriangle_[e]])) return true;
    }
  }
  return false;
}

void DuplicateTriangleIndex::Add(int polygon) {
  if (polygon < 0 || polygon >= MaxPolygons || entryCount_ + 3 > MaxVertices) return;
  const ModelVertex* corners = &gModel.vertices[3 * polygon];
  int entered[3];
  for (int c = 0; c < 3; ++c) {
    const int cell = FindOrAddCell(KeyOf(corners[c]));
    entered[c] = cell;
    // Corners sharing a cell enter the triangle there once.
    if ((c > 0 && entered[0] == cell) || (c > 1 && entered[1] == cell)) continue;
    const int e = entryCount_++;
    entryTriangle_[e] = polygon;
    entryNext_[e] = cell_[cell].head;
    cell_[cell].head = e;
    ++cell_[cell].count;
  }
}

// ---- Interpretation -------------------------------------------------------------

int InterpretMeshes(const char* path) {
  gModel.vertexCount = 0;
  gModel.materialCount = 0;
  duplicateIndex.Clear();
  Interpretation state{path};
  // The pass's name first without a percentage, which the box would not
  // show when it equals the previous pass's last one.
  ProgressUpdate(path, InterpretingText, -1);
  for (int p = TextFind(0, XTokens[TokenMesh]); p >= 0; p = TextFind(p + 1, XTokens[TokenMesh])) {
    ProgressUpdate(path, InterpretingText, Percent(p, XTextLength));
    const MeshResult mesh = InterpretMesh(state, p);
    if (mesh == MeshResult::Failed) return 0;
    if (mesh == MeshResult::Stop) break;
  }
  if (state.badIndex) ShowWarning(BadIndexText, path);
  return 1;
}

// ---- Normals and the whole import ------------------------------------------------

namespace {

bool WithinSmoothingAngleByAcos(double dot) {
  const double degrees = std::acos(dot) * 180.0 / 3.14159265358979323846;
  return degrees > -45.0 && degrees < 45.0;
}

}  // namespace

bool WithinSmoothingAngle(const float f[3], const float g[3]) {
  // Rounding can carry the dot product of two equal unit normals past 1,
  // where acos has no answer; such normals are 0 degrees apart.
  double dot = double(f[0]) * g[0] + double(f[1]) * g[1] + double(f[2]) * g[2];
  dot = std::min(1.0, std::max(-1.0, dot));
  // cos 45 degrees. A dot product 1e-9 away from it is some 1e-7 degrees
  // from 45, far beyond the rounding of the angle, so only the products
  // between these bounds need the angle itself.
  constexpr double Cos45 = 0.70710678118654752440;
  if (dot > Cos45 + 1e-9) return true;
  if (dot < Cos45 - 1e-9) return false;
  return WithinSmoothingAngleByAcos(dot);
}

void StoreUnitNormal(ModelVertex& vertex, float x, float y, float z) {
  const double length = std::sqrt(double(x) * x + double(y) * y + double(z) * z);
  if (!(length > 0.0) || !std::isfinite(length)) {
    vertex.nx = vertex.ny = vertex.nz = 0.0f;
    return;
  }
  vertex.nx = float(x / length);
  vertex.ny = float(y / length);
  vertex.nz = float(z / length);
}

void VerifyNormals(const char* path, const char* progressText) {
  const int count = gModel.vertexCount;
  ProgressUpdate(path, progressText, -1);
  if (count <= 0 || count > MaxVertices) return;
  // A file that gives every normal needs neither the groups nor the face
  // normals.
  const ModelVertex* vertices = gModel.vertices;
  if (!std::all_of(vertices, vertices + count, HasGivenNormal)) {
    GroupVertices(count, GroupKey::PositionAndMaterial);
    // A trailing partial polygon has a face normal too (from the records
    // after the count), as a scan of the whole table would take it.
    for (int t = 0; t < (count + 2) / 3; ++t) TriangleUnitNormal(&vertices[3 * t], faceNormal[t]);
  }
  PercentReporter report(path, progressText, count);
  for (int k = 0; k < count; ++k) {
    report.At(k);
    ModelVertex& v = gModel.vertices[k];
    if (HasGivenNormal(v)) {
      StoreUnitNormal(v, v.nx, v.ny, v.nz);
    } else {
      ComputeVertexNormal(k);
    }
  }
}

int ImportX(const char* path) {
  ProgressScope progress;
  if (!MakeCanonicalXText(path)) return 0;
  const int interpreted = InterpretMeshes(path);
  // A failed interpretation keeps what it read, with a box that fits it.
  if (interpreted) VerifyNormals(path);
  ProgressUpdate(path, BoundingBoxText, -1);
  RecomputeBounds();
  return interpreted;
}
