#include "model/native_file.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "model/model.h"
#include "platform/ui.h"
#include "render/qlt.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "vertex records are read and written as they lie in memory");

namespace {

const char NativeMagic[10] = {'O', 'R', 'V', 'A', 'N', 'E', 'X', ' ', '2', '\0'};

void ShowFileError(const char* format, const char* path) {
  char text[1200];
  std::snprintf(text, sizeof text, format, path);
  MessageBoxSafe(text, "Error", MB_OK);
}

// The layout of one file, decided from its first bytes and counts and
// checked against the file's size before any table is touched.
struct NativeLayout {
  int version;
  int32_t counts[3];  // vertices, materials, projections
  int64_t dataOffset;
  int materialSize;
};

// Why the counts cannot be loaded, or null when they can.
const char* CheckCounts(const NativeLayout& layout, int64_t fileSize) {
  const int32_t vertices = layout.counts[0], materials = layout.counts[1],
                projections = layout.counts[2];
  if (vertices < 0 || materials < 0 || projections < 0) return "it stores a negative count";
  if (vertices > MaxVertices) return "it holds more than 98304 vertices";
  if (materials > MaxMaterials) return "it holds more than 200 materials";
  if (projections > MaxProjections) return "it holds more than 200 texture projections";
  if (vertices % 3 != 0) return "its vertex count is not a multiple of 3";
  const int64_t needed = layout.dataOffset + int64_t(vertices) * NativeVertexSize +
                         int64_t(materials) * layout.materialSize +
                         int64_t(projections) * NativeProjectionSize;
  if (fileSize < needed) return "it ends before the end of its data";
  return nullptr;
}

bool ReadExactly(int handle, void* buffer, int32_t count) {
  int32_t done = 0;
  return qlt_FileRead(handle, buffer, count, &done) == 1 && done == count;
}

bool WriteExactly(int handle, const void* buffer, int32_t count) {
  int32_t done = 0;
  return qlt_FileWrite(handle, buffer, count, &done) == 1 && done == count;
}

// Reads the magic (version 2) or falls back to counts at offset 0 (version 1).
bool ReadLayout(int handle, int64_t fileSize, NativeLayout& layout) {
  unsigned char head[22] = {};
  const int32_t headSize = fileSize < 22 ? static_cast<int32_t>(fileSize) : 22;
  if (!ReadExactly(handle, head, headSize)) return false;
  const bool version2 = headSize >= 10 && std::memcmp(head, NativeMagic, 8) == 0;
  layout.version = version2 ? 2 : 1;
  layout.dataOffset = version2 ? NativeHeaderSize2 : 12;
  layout.materialSize = version2 ? NativeMaterialSize2 : NativeMaterialSize1;
  if (fileSize < layout.dataOffset) return false;
  std::memcpy(layout.counts, head + layout.dataOffset - 12, 12);
  return true;
}

void UnpackMaterial(const unsigned char* record, int version, ModelMaterial& m) {
  std::memset(&m, 0, sizeof m);
  std::memcpy(&m.red, record, 11 * sizeof(float));
  std::memcpy(&m.hasTexture, record + 44, 4);
  std::memcpy(m.textureFile, record + 48, FileNameSize);
  m.textureFile[FileNameSize - 1] = '\0';
  if (version == 2) {
    std::memcpy(&m.hasAlpha, record + 177, 4);
    std::memcpy(m.alphaFile, record + 181, FileNameSize);
    m.alphaFile[FileNameSize - 1] = '\0';
  }
}

void PackMaterial(const ModelMaterial& m, unsigned char* record) {
  std::memcpy(record, &m.red, 11 * sizeof(float));
  std::memcpy(record + 44, &m.hasTexture, 4);
  std::memcpy(record + 48, m.textureFile, FileNameSize);
  std::memcpy(record + 177, &m.hasAlpha, 4);
  std::memcpy(record + 181, m.alphaFile, FileNameSize);
}

// Reads the three tables, whose counts are already checked. Returns false on
// a read error; the counts then cover only what was read.
bool ReadTables(int handle, const NativeLayout& layout) {
  gModel.vertexCount = 0;
  gModel.materialCount = 0;
  gModel.projectionCount = 0;
  const int32_t vertexBytes = layout.counts[0] * NativeVertexSize;
  int32_t done = 0;
  const bool vertsOk = qlt_FileRead(handle, gModel.vertices, vertexBytes, &done) == 1 && done == vertexBytes;
  gModel.vertexCount = (done / NativeVertexSize) / 3 * 3;
  ResetBounds();
  for (int i = 0; i < gModel.vertexCount; ++i) {
    gModel.vertices[i].selected = 0;
    FoldIntoBounds(gModel.vertices[i]);
  }
  ComputeRadius();
  if (!vertsOk) return false;

  unsigned char record[NativeMaterialSize2];
  for (int i = 0; i < layout.counts[1]; ++i) {
    if (!ReadExactly(handle, record, layout.materialSize)) return false;
    UnpackMaterial(record, layout.version, gModel.materials[i]);
    gModel.materialCount = i + 1;
  }
  for (int i = 0; i < layout.counts[2]; ++i) {
    if (!ReadExactly(handle, &gModel.projections[i], NativeProjectionSize)) return false;
    gModel.projectionCount = i + 1;
  }
  return true;
}

bool WriteTables(int handle) {
  if (!WriteExactly(handle, NativeMagic, sizeof NativeMagic)) return false;
  const int32_t counts[3] = {gModel.vertexCount, gModel.materialCount, gModel.projectionCount};
  if (!WriteExactly(handle, counts, sizeof counts)) return false;
  if (!WriteExactly(handle, gModel.vertices, gModel.vertexCount * NativeVertexSize)) return false;
  unsigned char record[NativeMaterialSize2];
  for (int i = 0; i < gModel.materialCount; ++i) {
    PackMaterial(gModel.materials[i], record);
    if (!WriteExactly(handle, record, sizeof record)) return false;
  }
  return WriteExactly(handle, gModel.projections, gModel.projectionCount * NativeProjectionSize);
}

}  // namespace

int LoadNativeModel(const char* path) {
  const int handle = qlt_FileOpen(path, QLT_FILE_READ);
  if (handle == -1) {
    ShowFileError("Could not open file: %s", path);
    return 0;
  }
  const int64_t fileSize = qlt_FileSize(handle);
  NativeLayout layout{};
  const char* problem = "it is too short";
  if (ReadLayout(handle, fileSize, layout)) problem = CheckCounts(layout, fileSize);
  if (problem) {
    qlt_FileClose(handle);
    char text[1400];
    std::snprintf(text, sizeof text, "Could not read file: %s\n\nThis is not a Vornix 3D! model: %s.",
                  path, problem);
    MessageBoxSafe(text, "Error", MB_OK);
    return 0;
  }
  const bool complete = qlt_FileSeek(handle, static_cast<int32_t>(layout.dataOffset), QLT_SEEK_SET) == 1 &&
                        ReadTables(handle, layout);
  qlt_FileClose(handle);
  if (!complete) {
    ShowFileError("Could not read file: %s\n\nOnly the part read before the error was loaded.", path);
    return 0;
  }
  return 1;
}

int SaveNativeModel(const char* path) {
  char temporary[1100];
  if (std::snprintf(temporary, sizeof temporary, "%s.vnxtmp", path) >= int(sizeof temporary)) {
    ShowFileError("Could not open file: %s", path);
    return 0;
  }
  const int handle = qlt_FileOpen(temporary, QLT_FILE_WRITE | QLT_FILE_CREATE | QLT_FILE_TRUNCATE);
  if (handle == -1) {
    ShowFileError("Could not open file: %s", path);
    return 0;
  }
  const bool written = WriteTables(handle);
  const bool closed = qlt_FileClose(handle) == 1;
  if (!written || !closed || std::rename(temporary, path) != 0) {
    unlink(temporary);
    ShowFileError("Could not write file: %s", path);
    return 0;
  }
  return 1;
}
