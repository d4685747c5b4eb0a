// The one Model held by the program: fixed-capacity tables with counts beside
// them. Polygon i is vertices 3i, 3i+1, 3i+2; vertices are never shared.
#pragma once

#include <cstdint>

constexpr int MaxVertices = 98304;
constexpr int MaxMaterials = 200;
constexpr int MaxProjections = 200;
constexpr int FileNameSize = 129;  // 128 characters and the NUL

// Also the 48-byte vertex record of the native file, field for field.
struct ModelVertex {
  float x, y, z;
  float nx, ny, nz;
  float u, v;
  int32_t material;
  int32_t projected;
  int32_t projection;
  int32_t selected;
};
static_assert(sizeof(ModelVertex) == 48, "ModelVertex is the file record");

struct ModelMaterial {
  float red, green, blue, alpha;
  float specularPower;
  float specularRed, specularGreen, specularBlue;
  float emissiveRed, emissiveGreen, emissiveBlue;
  char textureFile[FileNameSize];
  char alphaFile[FileNameSize];
  int32_t hasTexture;
  int32_t hasAlpha;
  int32_t hidden;         // run-time only
  int32_t newlyAssigned;  // run-time only
  int32_t renderMaterial; // library handle, rebuilt by every clean-up
};

// Sixteen values: U, V and T axes, sMin, tMin, wMin, the two box lengths per
// texture unit, minU and 1 - maxV.
struct TextureProjection {
  float value[16];
};
static_assert(sizeof(TextureProjection) == 64, "TextureProjection is the file record");

struct Model {
  ModelVertex vertices[MaxVertices];
  ModelMaterial materials[MaxMaterials];
  TextureProjection projections[MaxProjections];
  int32_t vertexCount;
  int32_t materialCount;
  int32_t projectionCount;
  float minX, maxX, minY, maxY, minZ, maxZ;
  float modelRadius;
};

extern Model gModel;

// Start and empty values of the bounding box.
constexpr float BoundsStart = 2999999.0f;

void SelectAll();
void SelectNone();
bool PolyListIsEmpty();
void ClampMaterialIndexes();
void RecomputeBounds();

// Folds one position into the box exactly as RecomputeBounds does; the
// native loader shares it so both produce the same box.
void ResetBounds();
void FoldIntoBounds(const ModelVertex& vertex);
void ComputeRadius();

// Gives the PolyList a material of its own and runs the clean-up. Returns
// 0 (after a message) when the material table is full; nothing changes then.
int AssignPolyListToNewMaterial();

// Empties the Model (counts 0, bounds reset). Used at start and by tests.
void ClearModel();

// The invariants every reader and operation must leave behind. Returns an
// empty text when they hold, otherwise what is wrong.
const char* CheckModelInvariants();

// The texts of the Model's messages.
extern const char* const NothingToProcessText;
extern const char* const TooManyPolygonsText;
