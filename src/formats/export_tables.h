// Export preparation: per material, the deduplicated vertices and 16-bit
// indices that the X, DXF and Quelt exporters write.
#pragma once

#include <cstdint>

#include "model/model.h"

constexpr int MaxExportMaterials = 30;
constexpr int MaxExportVertices = 32768;

// Also the 32-byte vertex record of the Quelt model file.
struct ExportVertex {
  float x, y, z, nx, ny, nz, u, v;
};
static_assert(sizeof(ExportVertex) == 32, "ExportVertex is the file record");

// Bytes 10-41 of a Quelt model file, in this order.
struct ExportHeaderRecord {
  float minX, minY, minZ, maxX, maxY, maxZ, modelRadius;
  int32_t materialCount;
};
static_assert(sizeof(ExportHeaderRecord) == 32, "ExportHeader is the file record");

struct ExportTableSet {
  ExportHeaderRecord ExportHeader;
  int32_t vertexCounts[MaxExportMaterials];
  int32_t indexCounts[MaxExportMaterials];
  int32_t vertexStart[MaxExportMaterials];
  int32_t indexStart[MaxExportMaterials];
  ExportVertex vertices[MaxExportVertices];
  uint16_t indices[MaxVertices];
  int32_t vertexTotal;  // running vertex count
  int32_t indexTotal;   // running index count
};

extern ExportTableSet& ExportTables;
// The vertex numbers in visiting order (32-bit: a Model holds more than 65,536
// vertices).
extern int32_t (&faceIndexList)[MaxVertices];
extern int32_t faceIndexCount;

// Fills ExportTables from the Model. clearUV = 1 first sets u = v = 0 on
// every vertex of a textureless material (in the Model itself). Returns 1,
// or 0 after a message when the model has more than MaxExportMaterials
// materials or more than MaxExportVertices distinct vertices; the tables
// are then not to be written.
int PrepareExport(int clearUV, const char* path);

// True when ExportTables describe the Model's materials and every index lies
// inside its material's block; writers check this before using an index.
bool ExportTablesMatchModel();

// What every writer of the tables checks first: a file name (else
// noNameMessage under "Error") and tables that match the Model. Returns true
// when both hold, else false after the message.
bool ReadyToWriteExportTables(const char* path, const char* noNameMessage);
