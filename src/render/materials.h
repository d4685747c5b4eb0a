// The library's material table and its textures as the device holds them:
// one record per created material, the video-memory texture slots of a
// hardware device (eight classes by size and alpha, reused round-robin) and
// the operations that fill them.
#pragma once

#include <cstdint>

#include "render/library_state.h"
#include "render/qlt.h"

// ---- Texture classes ----------------------------------------------------------
// Class = 2 x sizeIndex + (0 with alpha, 1 without); sizeIndex 0 .. 3 is
// 256, 128, 64 and 32 pixels square.
constexpr int QltTextureClasses = 8;
constexpr int QltMaxSlotsPerClass = 100;

constexpr int QltTextureClassSize(int textureClass) { return 256 >> (textureClass / 2); }
constexpr bool QltTextureClassHasAlpha(int textureClass) { return textureClass % 2 == 0; }

// ---- Material records ----------------------------------------------------------
struct QltMaterialRecord {
  QltMaterial values;           // colours, names and flags as declared
  D3DMATERIALHANDLE hMaterial;  // the material on _qlt_Device; 0 = none
  D3DMATERIAL Material;
  D3DMATERIALHANDLE lpMaterial;     // the device's material object; 0 = none
  D3DTEXTUREHANDLE hSystemTexture;  // 0: the material draws untextured
  DisplaySurface* lptmpSystemTextureSurface;
  D3DTEXTUREHANDLE lpSystemTexture;
  int32_t textureSize;  // width of the system texture, 0 without one
  int32_t resident;     // the texture sits in a video slot
  int32_t sharesTexture;
  int32_t sharedMaterial;
  int32_t slot;  // index of the video slot within its class
};

struct QltTextureSlot {
  D3DTEXTUREHANDLE hTexture;  // 0 when the slot failed
  DisplaySurface* lpTextureSurface;
  D3DTEXTUREHANDLE lpTexture;
  int32_t size;
  int32_t owner;  // material whose texture is loaded, -1 when none
};

struct QltTextureClassSlots {
  QltTextureSlot slots[QltMaxSlotsPerClass];
  int32_t count;  // slots created
  int32_t next;   // round-robin index of the slot to load next
};

extern QltMaterialRecord _qlt_Material[QltMaxMaterials];
extern int32_t _qlt_MaterialCount;
extern QltTextureClassSlots _qlt_TextureSlots[QltTextureClasses];
// Per class, the textures the queued declarations need.
extern int32_t _qlt_TexturesNeeded[QltTextureClasses];

// ---- Operations -----------------------------------------------------------------
// Fills *pMaterial (and, on a device, creates its material and texture).
// Returns 1, or 0 when the texture files could not be read or disagree.
int _qlt_MakeMaterial(QltMaterialRecord* pMaterial, float diffuseR, float diffuseG, float diffuseB,
                      float alpha, float power, float specularR, float specularG, float specularB,
                      float emissiveR, float emissiveG, float emissiveB, int hasTexture,
                      const char* textureName, int hasAlpha, const char* alphaName);
// Creates one video texture slot of the texture format (an index into
// _qlt_TextureFormat) and size; returns 1, or 0 when it did not land in
// video memory.
int _qlt_CreateNonSystemTexture(int format, int size, QltTextureSlot* slot);
// The texture class the file will need, or -1 when the file is of an
// unknown kind (after a message box) or its header cannot be read.
int _qlt_DetermineTextureSize(const char* fileName, int hasAlpha);
// After lost surfaces: restores the slot surfaces and marks every texture
// not resident, so that the next selection loads it again.
void _qlt_RestoreTextureSlots();
