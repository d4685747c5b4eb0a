// The Quelt 3D! model file: deduplicated vertices grouped by material with
// 16-bit indices, and the materials with their bitmap names. Version 2 is
// written; versions 1 and 2 are read.
#pragma once

#include <cstdint>

// Writes ExportTables (filled by PrepareExport) and the Model's materials.
// A material without texture (alpha) bitmap has its texture (alpha) name
// cleared in the Model first. Returns 1 when the file was written, 0 after a
// message; an existing file is replaced only by a complete one.
int ExportQLT(const char* path);

// Replaces the Model (and ExportTables, its staging area) with the file's
// contents. The library's materials are freed first in every case. Returns 1
// when the Model was replaced; 0 with the reason in the library's error text
// (operation "ImportQLT") and the Model untouched. The whole file is checked
// before anything is replaced.
int ImportQLT(const char* path);

// Sizes of the format.
constexpr int QltMagicSize = 10;
constexpr int QltHeaderSize = 32;
constexpr int QltVertexSize = 32;
constexpr int QltIndexSize = 2;
constexpr int QltNameFieldSize = 129;
constexpr int QltColorBytes = 11 * 4;
constexpr int QltMaterialSize1 = QltColorBytes + QltNameFieldSize;
constexpr int QltMaterialSize2 = QltColorBytes + 2 * QltNameFieldSize;
