// Import of binary 3D Studio (.3ds) scene files: triangle meshes with their
// texture coordinates and per-face materials, and the materials' names,
// diffuse colours and texture file names. Everything else is walked over.
#pragma once

// Replaces the Model with the file's meshes and materials, then computes
// vertex normals (45 degrees, same material only) and the bounding box.
// Returns 1 when the Model was replaced (after one warning listing what was
// left out, if anything was), 0 after an error message with the Model
// unchanged (file cannot be opened or read, or is no 3D Studio file).
int Import3DS(const char* path);
