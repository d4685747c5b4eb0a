// The native ".vnx" file: a flat dump of the Model's three tables behind a
// magic and three counts. Version 2 is written; versions 1 and 2 are read.
#pragma once

// Replaces the Model with the file's contents. Returns 1 on success; on
// failure shows a message and returns 0 with the Model unchanged (or, after
// a read error part-way, truncated to the records read).
int LoadNativeModel(const char* path);

// Writes the Model as version 2 through a temporary file beside the target,
// so a failed write leaves an existing file untouched. Returns 1 on success,
// 0 after a message.
int SaveNativeModel(const char* path);

// Record sizes of the format.
constexpr int NativeHeaderSize2 = 22;
constexpr int NativeVertexSize = 48;
constexpr int NativeMaterialSize1 = 177;
constexpr int NativeMaterialSize2 = 310;
constexpr int NativeProjectionSize = 64;
