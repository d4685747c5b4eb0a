// Import of DirectX X files in their text encoding.
#pragma once

#include <cstdint>

#include "model/model.h"

// Replaces the Model with the triangles and materials of every mesh in the
// file. Returns 1 when the Model was replaced, 0 after a message.
int ImportX(const char* path);

// The largest count of numbers one mesh may hold: a mesh that fills the Model
// with unshared vertices, normals and texture coordinates.
constexpr int MaxMeshNumbers = 8 * MaxVertices + 9 * (MaxVertices / 3) + 7;

// Reads every mesh of the canonical text into the Model. Returns 0
// (after its message) for a face with fewer than three corners, else 1, also
// when a capacity cut the file short (after a warning).
int InterpretMeshes(const char* path);

// The duplicate test for two triangles given by their first vertices: equal
// corners (to 0.000001, in one of six correspondences) and unit normals whose
// components differ by at most 0.7. A zero-area triangle's normal is 0, 0, 0.
bool TrianglesAreDuplicates(const ModelVertex* a, const ModelVertex* b);
void TriangleUnitNormal(const ModelVertex* corners, float out[3]);

// Remembers the triangles kept so far and finds duplicates among them in
// near-constant time per triangle. Holds about 5 MB: keep instances static
// or value-initialised on the heap, where they start empty (all zero) without
// touching the tables.
class DuplicateTriangleIndex {
 public:
  // Empties the index at the cost of the cells used.
  void Clear();
  // True when polygon `polygon` of the Model duplicates one added earlier.
  bool IsDuplicate(int polygon) const { return IsDuplicate(&gModel.vertices[3 * polygon]); }
  // The same for three corners that are not (yet) in the Model.
  bool IsDuplicate(const ModelVertex* corners) const;
  // Enters polygon `polygon` of the Model; the index reads the Model's
  // vertices when it compares, so they must stay in place.
  void Add(int polygon);

 private:
  // Corners are hashed by cells of 0.00001 per axis, so a corner within
  // 0.000001 of another lies in the same or a neighbouring cell (at most 27
  // of them, usually one).
  struct CellKey {
    int64_t c[3];
  };
  struct Cell {
    CellKey key;
    int32_t head;   // first entry, or -1
    int32_t count;  // entries in the cell
    int32_t slot;   // the slot naming it
  };
  static constexpr int SlotCount = 1 << 18;  // at least twice the cells
  static constexpr int Neighbours = 27;

  static CellKey KeyOf(const ModelVertex& corner);
  int FindCell(const CellKey& key) const;  // cell index, or -1
  int FindOrAddCell(const CellKey& key);
  // The cells around a corner that hold entries; returns how many entries.
  int Neighbourhood(const ModelVertex& corner, int cells[Neighbours], int& cellCount) const;

  int32_t slot_[SlotCount];  // cell index + 1; 0 = empty
  Cell cell_[MaxVertices];
  int32_t cellCount_;
  int32_t entryTriangle_[MaxVertices];
  int32_t entryNext_[MaxVertices];
  int32_t entryCount_;
};

// Normalises given normals and computes the missing ones from
// neighbouring polygons of the same material within 45 degrees. A normal
// with a NaN or infinite component counts as missing.
// `progressText` is the second line of the progress box.
extern const char* const VerifyingNormalsText;  // "Verifying normals..."
void VerifyNormals(const char* path, const char* progressText = VerifyingNormalsText);

// The pieces of the normal pass that every implementation of it shares, so that they
// round alike: the angle test between two unit face normals (acos of their
// dot product, in degrees, strictly between -45 and 45), and the store of a
// normal scaled to unit length (length in double; a zero or non-finite
// length stores 0, 0, 0).
bool WithinSmoothingAngle(const float f[3], const float g[3]);
void StoreUnitNormal(ModelVertex& vertex, float x, float y, float z);
