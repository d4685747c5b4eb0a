// Export of the Model as a DirectX X file in the text encoding.
#pragma once

// Writes ExportTables (filled by PrepareExport) and the Model's materials.
// Returns 1 when the file was written, 0 after a message; an existing file
// is replaced only by a complete one.
int ExportX(const char* path);
