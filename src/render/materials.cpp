// The library's material table: declarations are queued one by one, then
// created together; handles index the table and material 0 is always the
// background. Nothing here touches a device yet: the records hold the
// values and names that the device and the texture loading will use.

#include <cassert>
#include <cstring>

#include "render/qlt.h"

namespace {

// One qlt_AddMaterial call, kept until qlt_CreateMaterials.
struct QltMaterialDeclaration {
  float diffuseR, diffuseG, diffuseB, alpha, power;
  float specularR, specularG, specularB;
  float emissiveR, emissiveG, emissiveB;
  int32_t hasTexture;
  int32_t hasAlpha;
  char textureName[QltNameSize];
  char alphaName[QltNameSize];
};

// Diffuse alpha of a material whose texture carries its own alpha bitmap:
// just below 1, so that the material counts as translucent.
constexpr float TexturedAlpha = 0.996f;

// The table starts as after initialization: only the black background.
QltMaterial _qlt_Material[QltMaxMaterials] = {
    {{0.0f, 0.0f, 0.0f, 1.0f}, {0.0f, 0.0f, 0.0f, 1.0f}, {0.0f, 0.0f, 0.0f, 0.0f},
     {0.0f, 0.0f, 0.0f, 0.0f}, 0.0f, "", "", 0, 0}};
int _qlt_MaterialCount = 1;

QltMaterialDeclaration _qlt_Declaration[QltMaxDeclarations];
int _qlt_DeclarationCount = 0;

int32_t _qlt_CurrentMaterial = 0;
QltColorValue _qlt_BackgroundColor = {0.0f, 0.0f, 0.0f, 1.0f};

// Copies at most QltNameSize - 1 characters and always terminates; a null
// name gives the empty one.
void CopyName(char* target, const char* name) {
  target[0] = '\0';
  if (!name) return;
  size_t length = strnlen(name, QltNameSize - 1);
  memcpy(target, name, length);
  target[length] = '\0';
}

int _qlt_MakeMaterial(QltMaterial* pMaterial, const QltMaterialDeclaration& d) {
  *pMaterial = QltMaterial{};
  const bool textured = d.hasTexture == 1;
  const bool withAlpha = textured && d.hasAlpha == 1;
  const float alpha = withAlpha ? TexturedAlpha : d.alpha;
  pMaterial->diffuse = {d.diffuseR, d.diffuseG, d.diffuseB, alpha};
  pMaterial->ambient = pMaterial->diffuse;
  pMaterial->specular = {d.specularR, d.specularG, d.specularB, 0.0f};
  pMaterial->emissive = {d.emissiveR, d.emissiveG, d.emissiveB, 0.0f};
  pMaterial->power = d.power;
  if (textured) {
    CopyName(pMaterial->textureName, d.textureName);
    pMaterial->hasTexture = 1;
  }
  if (withAlpha) {
    CopyName(pMaterial->alphaName, d.alphaName);
    pMaterial->hasAlpha = 1;
  }
  return 1;
}

// Material 0: the background colour, opaque, lit only by its own emission.
void MakeBackgroundMaterial() {
  const QltColorValue& c = _qlt_BackgroundColor;
  QltMaterialDeclaration background{};
  background.diffuseR = c.r;
  background.diffuseG = c.g;
  background.diffuseB = c.b;
  background.alpha = 1.0f;
  background.emissiveR = c.r;
  background.emissiveG = c.g;
  background.emissiveB = c.b;
  _qlt_MakeMaterial(&_qlt_Material[0], background);
}

}  // namespace

int qlt_AddMaterial(float diffuseR, float diffuseG, float diffuseB, float alpha, float power,
                    float specularR, float specularG, float specularB, float emissiveR,
                    float emissiveG, float emissiveB, int hasTexture, const char* textureName,
                    int hasAlpha, const char* alphaName) {
  if (_qlt_DeclarationCount >= QltMaxDeclarations) {
    _qlt_SetError("qlt_AddMaterial", "Too many materials declared", 0);
    return 0;
  }
  QltMaterialDeclaration& d = _qlt_Declaration[_qlt_DeclarationCount++];
  d = QltMaterialDeclaration{diffuseR,  diffuseG,  diffuseB,  alpha,     power,     specularR,
                             specularG, specularB, emissiveR, emissiveG, emissiveB, 0,
                             0,         "",        ""};
  // A texture without a name is no texture; an alpha bitmap only counts
  // together with a texture.
  if (hasTexture == 1 && textureName) {
    d.hasTexture = 1;
    CopyName(d.textureName, textureName);
    if (hasAlpha == 1 && alphaName) {
      d.hasAlpha = 1;
      CopyName(d.alphaName, alphaName);
    }
  }
  return 1;
}

int qlt_CreateMaterials(int32_t* outHandles) {
  // Every record from 1 on is rewritten; a selection of one would be stale.
  _qlt_CurrentMaterial = -1;
  _qlt_MaterialCount = 1;
  for (int i = 0; i < _qlt_DeclarationCount; ++i) {
    const int32_t handle = _qlt_MaterialCount;
    assert(handle < QltMaxMaterials && "the queue holds one declaration fewer than the table");
    _qlt_MakeMaterial(&_qlt_Material[handle], _qlt_Declaration[i]);
    ++_qlt_MaterialCount;
    if (outHandles) outHandles[i] = handle;
  }
  return 1;
}

int qlt_FreeMaterials() {
  memset(_qlt_Material, 0, sizeof _qlt_Material);
  _qlt_DeclarationCount = 0;
  _qlt_CurrentMaterial = -1;
  MakeBackgroundMaterial();
  _qlt_MaterialCount = 1;
  return 1;
}

int qlt_SetBackgroundMaterialColor(float r, float g, float b) {
  _qlt_BackgroundColor = {r, g, b, 1.0f};
  MakeBackgroundMaterial();
  if (_qlt_CurrentMaterial == 0) _qlt_CurrentMaterial = -1;
  return 1;
}

int qlt_SetMaterial(int32_t handle) {
  // Range first: with no material selected the current one is -1.
  if (handle < 0 || handle >= _qlt_MaterialCount) {
    _qlt_SetError("qlt_SetMaterial", "Invalid Material Handle", 0);
    return 0;
  }
  if (handle == _qlt_CurrentMaterial) return 1;
  _qlt_CurrentMaterial = handle;
  return 1;
}

int qlt_MaterialCount() { return _qlt_MaterialCount; }

int qlt_DeclarationCount() { return _qlt_DeclarationCount; }

const QltMaterial* qlt_GetMaterial(int32_t handle) {
  if (handle < 0 || handle >= _qlt_MaterialCount) return nullptr;
  return &_qlt_Material[handle];
}

int32_t qlt_CurrentMaterial() { return _qlt_CurrentMaterial; }
