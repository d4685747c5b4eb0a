// Export of the Model as a minimal AutoCAD DXF file: one layer per material,
// one 3DFACE per polygon.
#pragma once

// Writes ExportTables (filled by PrepareExport). Returns 1 when the file was
// written, 0 after a message; an existing file is replaced only by a
// complete one.
int ExportDXF(const char* path);
