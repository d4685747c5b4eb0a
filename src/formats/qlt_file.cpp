#include "formats/qlt_file.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "formats/export_tables.h"
#include "formats/file_output.h"
#include "model/model.h"
#include "platform/ui.h"
#include "render/qlt.h"

static_assert(QltNameFieldSize == FileNameSize, "name fields are copied whole into the Model");

namespace {

const char QltMagic[QltMagicSize] = {'O', 'R', 'V', 'A', 'N', 'E', 'X', ' ', '2', '\0'};
// Only these first bytes of the magic decide the version; the digit is not read.
constexpr int QltMagicTestSize = 8;

// The largest file that can hold a model: everything at its limit. Bytes
// beyond it can never belong to the model.
constexpr int32_t MaxQltFileSize = QltMagicSize + QltHeaderSize + 8 * MaxExportMaterials +
                                   QltVertexSize * MaxExportVertices + QltIndexSize * MaxVertices +
                                   QltMaterialSize2 * MaxExportMaterials;

// The file being imported; like every table of the program it lives for the
// whole run.
uint8_t fileBytes[MaxQltFileSize];

const char* const OpImport = "ImportQLT";
const char* const ShortFileFormat = "Could not read 3D Model file: %s";

// ---- Little-endian packing ------------------------------------------------

void Put16(std::string& out, uint16_t value) {
  out += char(value & 0xFF);
  out += char(value >> 8);
}

void Put32(std::string& out, uint32_t value) {
  Put16(out, uint16_t(value & 0xFFFF));
  Put16(out, uint16_t(value >> 16));
}

void PutFloat(std::string& out, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  Put32(out, bits);
}

// The name up to its NUL (at most 128 characters), then NULs to fill the
// field, so no stale bytes of the Model reach the file.
void PutName(std::string& out, const char* name) {
  const size_t length = strnlen(name, QltNameFieldSize - 1);
  out.append(name, length);
  out.append(QltNameFieldSize - length, '\0');
}

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

uint32_t Get32(const uint8_t* p) { return uint32_t(Get16(p)) | (uint32_t(Get16(p + 2)) << 16); }

float GetFloat(const uint8_t* p) {
  const uint32_t bits = Get32(p);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// ---- Export -------------------------------------------------------------

void AddHeader(std::string& out) {
  const ExportTableSet& t = ExportTables;
  const ExportHeaderRecord& h = t.ExportHeader;
  out.append(QltMagic, QltMagicSize);
  for (float value : {h.minX, h.minY, h.minZ, h.maxX, h.maxY, h.maxZ, h.modelRadius}) PutFloat(out, value);
  Put32(out, uint32_t(h.materialCount));
  for (int m = 0; m < h.materialCount; ++m) Put32(out, uint32_t(t.vertexCounts[m]));
  for (int m = 0; m < h.materialCount; ++m) Put32(out, uint32_t(t.indexCounts[m]));
}

void AddBlocks(std::string& out) {
  const ExportTableSet& t = ExportTables;
  const int materials = t.ExportHeader.materialCount;
  for (int m = 0; m < materials; ++m) {
    for (int32_t k = 0; k < t.vertexCounts[m]; ++k) {
      const ExportVertex& v = t.vertices[t.vertexStart[m] + k];
      for (float value : {v.x, v.y, v.z, v.nx, v.ny, v.nz, v.u, v.v}) PutFloat(out, value);
    }
  }
  for (int m = 0; m < materials; ++m) {
    for (int32_t k = 0; k < t.indexCounts[m]; ++k) Put16(out, t.indices[t.indexStart[m] + k]);
  }
}

// A name whose flag is off is cleared in the Model itself, so the file and
// the Model agree afterwards.
void AddMaterials(std::string& out) {
  for (int i = 0; i < gModel.materialCount; ++i) {
    ModelMaterial& m = gModel.materials[i];
    for (float value : {m.red, m.green, m.blue, m.alpha, m.specularPower, m.specularRed, m.specularGreen,
                        m.specularBlue, m.emissiveRed, m.emissiveGreen, m.emissiveBlue})
      PutFloat(out, value);
    if (m.hasTexture == 0) std::memset(m.textureFile, 0, FileNameSize);
    PutName(out, m.textureFile);
    if (m.hasAlpha == 0) std::memset(m.alphaFile, 0, FileNameSize);
    PutName(out, m.alphaFile);
  }
}

size_t ExpectedSize() {
  const ExportTableSet& t = ExportTables;
  return size_t(QltMagicSize + QltHeaderSize) + 8u * size_t(t.ExportHeader.materialCount) +
         size_t(QltVertexSize) * size_t(t.vertexTotal) + size_t(QltIndexSize) * size_t(t.indexTotal) +
         size_t(QltMaterialSize2) * size_t(t.ExportHeader.materialCount);
}

// ---- Import: layout and checks --------------------------------------------

// The shape of one file, decided from its first bytes and its counts.
struct QltLayout {
  int version;
  int materialSize;
  ExportHeaderRecord header;
  int32_t vertexCounts[MaxExportMaterials];
  int32_t indexCounts[MaxExportMaterials];
  int32_t vertexTotal, indexTotal;
  int64_t vertexAt, indexAt, materialAt;  // file offsets of the three parts
};

// The reason given when the data stops early; it is reported with the read
// failure's own text.
const char* const EndsEarly = "it ends before the end of its data";

const char* ReadHeader(const uint8_t* data, int64_t size, QltLayout& l, int64_t& at) {
  const bool version2 = size >= QltMagicSize && std::memcmp(data, QltMagic, QltMagicTestSize) == 0;
  l.version = version2 ? 2 : 1;
  l.materialSize = version2 ? QltMaterialSize2 : QltMaterialSize1;
  at = version2 ? QltMagicSize : 0;
  if (size < at + QltHeaderSize) return EndsEarly;
  const uint8_t* p = data + at;
  ExportHeaderRecord& h = l.header;
  float* const fields[7] = {&h.minX, &h.minY, &h.minZ, &h.maxX, &h.maxY, &h.maxZ, &h.modelRadius};
  for (int k = 0; k < 7; ++k) *fields[k] = GetFloat(p + 4 * k);
  h.materialCount = int32_t(Get32(p + 28));
  at += QltHeaderSize;
  if (h.materialCount < 0 || h.materialCount > MaxExportMaterials)
    return "its material count is not between 0 and 30";
  return nullptr;
}

const char* ReadCounts(const uint8_t* data, int64_t size, QltLayout& l, int64_t at) {
  const int materials = l.header.materialCount;
  if (size < at + 8 * materials) return EndsEarly;
  int64_t vertexTotal = 0, indexTotal = 0;
  for (int m = 0; m < materials; ++m) {
    l.vertexCounts[m] = int32_t(Get32(data + at + 4 * m));
    l.indexCounts[m] = int32_t(Get32(data + at + 4 * (materials + m)));
    if (l.vertexCounts[m] < 0 || l.indexCounts[m] < 0) return "it stores a negative count";
    // Every three indices of a material are one of its triangles.
    if (l.indexCounts[m] % 3 != 0) return "an index count is not a multiple of 3";
    vertexTotal += l.vertexCounts[m];
    indexTotal += l.indexCounts[m];
  }
  if (vertexTotal > MaxExportVertices) return "it holds more than 32768 vertices";
  if (indexTotal > MaxVertices) return "it holds more than 98304 indices";
  l.vertexTotal = int32_t(vertexTotal);
  l.indexTotal = int32_t(indexTotal);
  l.vertexAt = at + 8 * materials;
  l.indexAt = l.vertexAt + int64_t(QltVertexSize) * vertexTotal;
  l.materialAt = l.indexAt + int64_t(QltIndexSize) * indexTotal;
  if (size < l.materialAt + int64_t(l.materialSize) * materials) return EndsEarly;
  return nullptr;
}

const char* CheckIndices(const uint8_t* data, const QltLayout& l) {
  const uint8_t* p = data + l.indexAt;
  for (int m = 0; m < l.header.materialCount; ++m) {
    for (int32_t k = 0; k < l.indexCounts[m]; ++k, p += QltIndexSize) {
      if (Get16(p) >= l.vertexCounts[m]) return "an index points beyond its material's vertices";
    }
  }
  return nullptr;
}

// Why the file cannot be imported, or null when it can.
const char* ReadLayout(const uint8_t* data, int64_t size, QltLayout& l) {
  int64_t at = 0;
  const char* problem = ReadHeader(data, size, l, at);
  if (!problem) problem = ReadCounts(data, size, l, at);
  if (!problem) problem = CheckIndices(data, l);
  return problem;
}

// ---- Import: replacing the Model ------------------------------------------

void FillExportTables(const uint8_t* data, const QltLayout& l) {
  ExportTableSet& t = ExportTables;
  t.ExportHeader = l.header;
  int32_t vertexStart = 0, indexStart = 0;
  for (int m = 0; m < l.header.materialCount; ++m) {
    t.vertexCounts[m] = l.vertexCounts[m];
    t.indexCounts[m] = l.indexCounts[m];
    t.vertexStart[m] = vertexStart;
    t.indexStart[m] = indexStart;
    vertexStart += l.vertexCounts[m];
    indexStart += l.indexCounts[m];
  }
  const uint8_t* p = data + l.vertexAt;
  for (int32_t r = 0; r < l.vertexTotal; ++r, p += QltVertexSize) {
    float f[8];
    for (int k = 0; k < 8; ++k) f[k] = GetFloat(p + 4 * k);
    t.vertices[r] = ExportVertex{f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7]};
  }
  p = data + l.indexAt;
  for (int32_t i = 0; i < l.indexTotal; ++i, p += QltIndexSize) t.indices[i] = Get16(p);
  t.vertexTotal = l.vertexTotal;
  t.indexTotal = l.indexTotal;
}

// Only the bytes before the first NUL count; a field without one gives its
// first 128 characters.
void CopyName(const uint8_t* field, char* name) {
  std::memset(name, 0, FileNameSize);
  const void* nul = std::memchr(field, 0, FileNameSize - 1);
  const size_t length = nul ? size_t(static_cast<const uint8_t*>(nul) - field) : size_t(FileNameSize - 1);
  std::memcpy(name, field, length);
}

void ReadMaterial(const uint8_t* record, int version, ModelMaterial& m) {
  std::memset(&m, 0, sizeof m);  // also hidden, newlyAssigned and renderMaterial
  float* const colours[11] = {&m.red,           &m.green,         &m.blue,          &m.alpha,
                              &m.specularPower, &m.specularRed,   &m.specularGreen, &m.specularBlue,
                              &m.emissiveRed,   &m.emissiveGreen, &m.emissiveBlue};
  for (int k = 0; k < 11; ++k) *colours[k] = GetFloat(record + 4 * k);
  CopyName(record + QltColorBytes, m.textureFile);
  m.hasTexture = m.textureFile[0] != '\0' ? 1 : 0;
  if (version == 2) {
    CopyName(record + QltColorBytes + QltNameFieldSize, m.alphaFile);
    m.hasAlpha = m.alphaFile[0] != '\0' ? 1 : 0;
  }
}

void ReplaceMaterials(const uint8_t* data, const QltLayout& l) {
  for (int i = 0; i < l.header.materialCount; ++i)
    ReadMaterial(data + l.materialAt + int64_t(l.materialSize) * i, l.version, gModel.materials[i]);
  gModel.materialCount = l.header.materialCount;
}

// One Model vertex per index, material by material, in file order.
void BuildPolygons() {
  const ExportTableSet& t = ExportTables;
  int32_t n = 0;
  for (int m = 0; m < t.ExportHeader.materialCount; ++m) {
    for (int32_t k = 0; k < t.indexCounts[m]; ++k) {
      const ExportVertex& e = t.vertices[t.vertexStart[m] + t.indices[t.indexStart[m] + k]];
      // No texture projection refers to an imported vertex.
      gModel.vertices[n++] = ModelVertex{e.x, e.y, e.z, e.nx, e.ny, e.nz, e.u, e.v, m, 0, 0, 0};
    }
  }
  gModel.vertexCount = n;
}

// The header's box is taken as stored; one that is not a number throughout
// would place the camera nowhere, so it is computed from the vertices.
void TakeBounds(const ExportHeaderRecord& h) {
  for (float value : {h.minX, h.minY, h.minZ, h.maxX, h.maxY, h.maxZ, h.modelRadius}) {
    if (!std::isfinite(value)) {
      RecomputeBounds();
      return;
    }
  }
  gModel.minX = h.minX;
  gModel.minY = h.minY;
  gModel.minZ = h.minZ;
  gModel.maxX = h.maxX;
  gModel.maxY = h.maxY;
  gModel.maxZ = h.maxZ;
  gModel.modelRadius = h.modelRadius;
}

int Refuse(const char* format, const char* path, const char* detail = nullptr) {
  char message[1600];
  std::snprintf(message, sizeof message, format, path);
  if (detail) {
    const size_t used = std::strlen(message);
    std::snprintf(message + used, sizeof message - used, " (%s)", detail);
  }
  _qlt_SetError(OpImport, message, 0);
  return 0;
}

}  // namespace

int ExportQLT(const char* path) {
  if (!ReadyToWriteExportTables(path, "Could not open .QLT file: no file name was given.")) return 0;
  std::string bytes;
  bytes.reserve(ExpectedSize());
  AddHeader(bytes);
  AddBlocks(bytes);
  AddMaterials(bytes);
  return WriteFileSafely(path, bytes, "Could not open .QLT file: %s");
}

int ImportQLT(const char* path) {
  qlt_FreeMaterials();
  if (!path) path = "";
  const int handle = qlt_FileOpen(path, QLT_FILE_READ);
  if (handle == -1) return Refuse("Could not open 3D Model file: %s", path);
  int32_t size = 0;
  const bool read = qlt_FileRead(handle, fileBytes, MaxQltFileSize, &size) == 1;
  const bool closed = qlt_FileClose(handle) == 1;
  if (!read) return Refuse(ShortFileFormat, path);
  if (!closed) return Refuse("Could not close file: %s", path);

  QltLayout layout{};
  const char* problem = ReadLayout(fileBytes, size, layout);
  if (problem == EndsEarly) return Refuse(ShortFileFormat, path);
  if (problem) return Refuse("Not a valid Quelt 3D! model: %s", path, problem);

  FillExportTables(fileBytes, layout);
  ReplaceMaterials(fileBytes, layout);
  BuildPolygons();
  TakeBounds(layout.header);
  return 1;
}
