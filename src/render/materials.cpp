// The library's material table: declarations are queued one by one, then
// created together; handles index the table and material 0 is always the
// background. Textures are converted into square 24-bit bitmaps, kept in
// system memory and, on a hardware device, copied into a small pool of
// video-memory slots only when a material that needs them is selected.
// Without a device (before initialization) the records hold the values and
// names alone.

#include "render/materials.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "render/texture_files.h"

namespace {
QltMaterialRecord OpaqueBlack() {
  QltMaterialRecord m{};
  m.values.diffuse.a = m.values.ambient.a = 1.0f;
  return m;
}
}  // namespace

// The table starts as after initialization: only the black background.
QltMaterialRecord _qlt_Material[QltMaxMaterials] = {OpaqueBlack()};
int32_t _qlt_MaterialCount = 1;
QltTextureClassSlots _qlt_TextureSlots[QltTextureClasses];
int32_t _qlt_TexturesNeeded[QltTextureClasses];

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

QltMaterialDeclaration _qlt_Declaration[QltMaxDeclarations];
int _qlt_DeclarationCount = 0;

// Selection state. A material of -1, a kind of -1 and a texture handle no
// texture has mean "unknown": the next selection then sets everything.
constexpr D3DTEXTUREHANDLE UnknownTexture = 0xFFFFFFFFu;
int32_t _qlt_CurrentMaterial = -1;
D3DMATERIALHANDLE _qlt_CurrentMaterialHandle = 0;
D3DTEXTUREHANDLE _qlt_CurrentTextureHandle = UnknownTexture;
int _qlt_LastOpaque = -1;

QltColorValue _qlt_BackgroundColor = {0.0f, 0.0f, 0.0f, 1.0f};

// Diffuse alpha of a material whose texture carries its own alpha bitmap:
// just below 1, so that the material counts as translucent.
constexpr float TexturedAlpha = 0.996f;
const char* const OpMake = "_qlt_MakeMaterial";
const char* const OpSlot = "_qlt_CreateNonSystemTexture";
const char* const OpSet = "qlt_SetMaterial";
constexpr int BmpHeaderSize = 54;

int Fail(const char* operation, const char* message, int32_t result) {
  _qlt_SetError(operation, message, result);
  return 0;
}

// Copies at most QltNameSize - 1 characters and always terminates; a null
// name gives the empty one.
void CopyName(char* target, const char* name) {
  target[0] = '\0';
  if (!name) return;
  size_t length = strnlen(name, QltNameSize - 1);
  memcpy(target, name, length);
  target[length] = '\0';
}

void ForgetSelection() {
  _qlt_CurrentMaterial = -1;
  _qlt_CurrentMaterialHandle = 0;
  _qlt_CurrentTextureHandle = UnknownTexture;
  _qlt_LastOpaque = -1;
}

// ---- File kinds and headers ---------------------------------------------------

enum class TextureFileKind { Bmp, Ppm, Picture, Unknown };

// Compared over the extension's own length, so that no extension or a
// leading part such as ".bm" counts as a bitmap. Picture extensions must be
// whole.
TextureFileKind KindOf(const char* extension) {
  const size_t length = strlen(extension);
  if (strncasecmp(extension, ".BmP", length) == 0) return TextureFileKind::Bmp;
  if (strncasecmp(extension, ".PpM", length) == 0) return TextureFileKind::Ppm;
  if (_qlt_IsPictureExtension(extension)) return TextureFileKind::Picture;
  return TextureFileKind::Unknown;
}

uint32_t Read32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Read16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// Up to `limit` bytes from the start of the file; false when it cannot be
// opened or read.
bool ReadStart(const char* fileName, size_t limit, std::vector<uint8_t>* data) {
  const int handle = qlt_FileOpen(fileName, QLT_FILE_READ);
  if (handle < 0) return false;
  const uint32_t size = qlt_FileSize(handle);
  data->resize(size < limit ? size : limit);
  int32_t done = 0;
  const bool read = qlt_FileRead(handle, data->data(), int32_t(data->size()), &done) == 1;
  qlt_FileClose(handle);
  data->resize(read ? size_t(done) : 0);
  return read;
}

// Width and height from the file and information headers (or the small
// core header); false for anything that is not a bitmap with a size.
bool BmpSize(const std::vector<uint8_t>& data, int64_t* width, int64_t* height) {
  if (data.size() < 26 || data[0] != 'B' || data[1] != 'M') return false;
  const uint32_t headerSize = Read32(&data[14]);
  if (headerSize == 12) {
    *width = Read16(&data[18]);
    *height = Read16(&data[20]);
  } else {
    *width = int32_t(Read32(&data[18]));
    *height = int32_t(Read32(&data[22]));
    if (*height < 0) *height = -*height;  // rows stored top-down
  }
  return *width > 0 && *height > 0;
}

// The PPM header's width and height: "P6" or "P3", then numbers separated
// by whitespace and "#" comments.
bool PpmSize(const std::vector<uint8_t>& data, int64_t* width, int64_t* height) {
  if (data.size() < 2 || data[0] != 'P' || (data[1] != '6' && data[1] != '3')) return false;
  size_t pos = 2;
  int64_t numbers[2];
  for (int64_t& number : numbers) {
    while (pos < data.size() && (isspace(data[pos]) || data[pos] == '#')) {
      if (data[pos] == '#')
        while (pos < data.size() && data[pos] != '\n' && data[pos] != '\r') ++pos;
      else
        ++pos;
    }
    number = 0;
    int digits = 0;
    for (; pos < data.size() && isdigit(data[pos]) && digits < 10; ++pos, ++digits)
      number = number * 10 + (data[pos] - '0');
    if (digits == 0 || pos >= data.size()) return false;
  }
  *width = numbers[0];
  *height = numbers[1];
  return *width > 0 && *height > 0;
}

int SizeIndex(int64_t width, int64_t height) {
  if (width > 128 || height > 128) return 0;
  if (width > 64 || height > 64) return 1;
  if (width > 32 || height > 32) return 2;
  return 3;
}

// ---- Device objects ---------------------------------------------------------------

void ReleaseSurface(DisplaySurface* surface) {
  if (surface && _qlt_DirectDraw2) _qlt_DirectDraw2->Release(surface);
}

void ReleaseTexture(D3DTEXTUREHANDLE texture) {
  if (texture && _qlt_Device) _qlt_Device->ReleaseTexture(texture);
}

// Without a device the handles belong to one that is gone: they are only
// forgotten. The viewport's background material goes with material 0,
// also when initialization made it before material 0 had a device.
void ReleaseRecord(QltMaterialRecord& m) {
  ReleaseTexture(m.lpSystemTexture);
  ReleaseSurface(m.lptmpSystemTextureSurface);
  if (m.lpMaterial && _qlt_Device) _qlt_Device->ReleaseMaterial(m.lpMaterial);
  if (&m == &_qlt_Material[0]) {
    if (_qlt_Device && _qlt_BackgroundMaterialHandle && _qlt_BackgroundMaterialHandle != m.lpMaterial)
      _qlt_Device->ReleaseMaterial(_qlt_BackgroundMaterialHandle);
    _qlt_BackgroundMaterialHandle = 0;
  }
  m = QltMaterialRecord{};
}

void ReleaseSlots() {
  for (QltTextureClassSlots& c : _qlt_TextureSlots) {
    for (int i = 0; i < c.count; ++i) {
      ReleaseTexture(c.slots[i].lpTexture);
      ReleaseSurface(c.slots[i].lpTextureSurface);
    }
    c = QltTextureClassSlots{};
    for (QltTextureSlot& s : c.slots) s.owner = -1;
  }
}

// Materials from `first` on, last to first.
void ReleaseMaterials(int first) {
  for (int i = _qlt_MaterialCount - 1; i >= first; --i) ReleaseRecord(_qlt_Material[i]);
}

int FormatIndexOfClass(int textureClass) {
  return QltTextureClassHasAlpha(textureClass) ? _qlt_AlphaTextureFormat : _qlt_OpaqueTextureFormat;
}

// A texture surface of the format; DDERR_INVALIDPIXELFORMAT when it is not offered.
int32_t CreateTextureSurface(unsigned caps, int formatIndex, int size, DisplaySurface** out) {
  *out = nullptr;
  if (!_qlt_DirectDraw2) return DDERR_NOCOOPERATIVELEVELSET;
  if (formatIndex < 0 || formatIndex > QltTex8888 || !_qlt_TextureFormat[formatIndex].supported)
    return DDERR_INVALIDPIXELFORMAT;
  SurfaceRequest request;
  request.caps = caps;
  request.width = size;
  request.height = size;
  request.hasPixelFormat = true;
  request.format = _qlt_TextureFormat[formatIndex].ddsd.format;
  return _qlt_DirectDraw2->CreateSurface(request, out);
}

// ---- Texture images ------------------------------------------------------------------

// A square 24-bit bitmap as the converters write it: S x S pixels, rows
// bottom-up, blue-green-red.
struct SquareImage {
  int size = 0;
  std::vector<uint8_t> bgr;
};

// Converts the texture or alpha file into the temporary square bitmap.
// False (after a warning) when the file is of an unknown kind or the
// conversion failed.
bool ConvertTexture(const char* name, const char* target, const char* unsupportedFormat) {
  const char* extension = _qlt_FileExtension(name);
  const TextureFileKind kind = KindOf(extension);
  if (kind == TextureFileKind::Unknown) {
    char message[QltErrorStringSize];
    snprintf(message, sizeof message, unsupportedFormat, extension, name);
    _qlt_SetError(OpMake, message, 0);
    MessageBoxSafe(message, "Warning:", MB_OK);
    return false;
  }
  const std::string path = _qlt_TexturePath(name);
  int (*const convert)(const char*, const char*) = kind == TextureFileKind::Bmp ? _qlt_AnyBMPtoSquare24BitBMP
                                                   : kind == TextureFileKind::Ppm
                                                       ? _qlt_AnyPPMtoSquare24BitBMP
                                                       : _qlt_AnyPictureToSquare24BitBMP;
  const int converted = convert(path.c_str(), target);
  if (!converted) {
    _qlt_ErrorNamesFileAs(path, name);
    MessageBoxSafe(qlt_GetErrorString(), "Warning:", MB_OK);
  }
  return converted != 0;
}

// Reads a temporary square bitmap back; its size and pixel count are
// checked before a pixel is used.
int ReadSquare(const char* fileName, const char* cannotLoad, SquareImage* image) {
  std::vector<uint8_t> data;
  if (!ReadStart(fileName, BmpHeaderSize + 256 * 256 * 3, &data)) return Fail(OpMake, cannotLoad, 0);
  const int size =
      data.size() >= BmpHeaderSize && data[0] == 'B' && data[1] == 'M' ? int32_t(Read32(&data[18])) : 0;
  const bool square = (size == 32 || size == 64 || size == 128 || size == 256) &&
                      int32_t(Read32(&data[22])) == size && Read16(&data[28]) == 24 &&
                      data.size() >= BmpHeaderSize + size_t(size) * size * 3;
  if (!square) {
    char message[QltErrorStringSize];
    snprintf(message, sizeof message, "%s is not a square 24-bit bitmap of 32, 64, 128 or 256 pixels",
             fileName);
    return Fail(OpMake, message, 0);
  }
  image->size = size;
  image->bgr.assign(data.begin() + BmpHeaderSize, data.begin() + BmpHeaderSize + size_t(size) * size * 3);
  return 1;
}

bool ClassHasSlot(int size, bool alpha) {
  const int sizeIndex = size == 256 ? 0 : size == 128 ? 1 : size == 64 ? 2 : 3;
  return _qlt_TextureSlots[2 * sizeIndex + (alpha ? 0 : 1)].count > 0;
}

// On a hardware device a texture whose class has no slot grows to the next
// larger size whose class has one, so that it can still be shown.
int TargetSize(int size, bool alpha) {
  if (!_qlt_HardwareDevice || ClassHasSlot(size, alpha)) return size;
  for (int larger = size * 2; larger <= 256; larger *= 2)
    if (ClassHasSlot(larger, alpha)) return larger;
  return size;
}

// One texel's channels, 0 .. 255.
struct Texel {
  uint8_t r, g, b, a;
};

// Alpha from the alpha bitmap: nearly opaque becomes opaque, nearly
// transparent becomes transparent black.
Texel MakeTexel(const uint8_t* bgr, const uint8_t* alphaBgr) {
  Texel t{bgr[2], bgr[1], bgr[0], 255};
  if (!alphaBgr) return t;
  t.a = alphaBgr[0];
  if (t.a > 246) t.a = 255;
  if (t.a < 9) t = Texel{0, 0, 0, 0};
  return t;
}

uint32_t Scaled(uint8_t value, int maximum) { return uint32_t(int(value * 0.003921569 * maximum)); }

uint32_t PackTexel(const PixelMasks& masks, const Texel& t) {
  if (masks.bitCount == 32) return uint32_t(t.a) << 24 | uint32_t(t.r) << 16 | uint32_t(t.g) << 8 | t.b;
  if (masks.green == 0x00F0)
    return Scaled(t.a, 15) << 12 | Scaled(t.r, 15) << 8 | Scaled(t.g, 15) << 4 | Scaled(t.b, 15);
  if (masks.green == 0x03E0)
    return (t.a == 255 ? 0x8000u : 0u) | Scaled(t.r, 31) << 10 | Scaled(t.g, 31) << 5 | Scaled(t.b, 31);
  return Scaled(t.r, 31) << 11 | Scaled(t.g, 63) << 5 | Scaled(t.b, 31);
}

// Writes the T x T texture, top row first, replicating each source pixel
// T / S times each way; the files store their rows bottom-up.
int WriteTexels(DisplaySurface* surface, int target, const SquareImage& texture, const SquareImage* alpha) {
  LockedSurface locked;
  const int32_t r = surface->Lock(&locked);
  if (r != DD_OK)
    return Fail(OpMake, "pMaterial->lptmpSystemTextureSurface->Lock(NULL, &ddsd, DDLOCK_WAIT, NULL)", r);
  const PixelMasks masks = MasksOf(locked.format);
  const int bytes = BytesPerPixel(locked.format);
  const int factor = target / texture.size;
  for (int y = 0; y < target; ++y) {
    const size_t sourceRow = size_t(texture.size - 1 - y / factor) * size_t(texture.size);
    uint8_t* row = locked.bits + size_t(y) * size_t(locked.pitch);
    for (int x = 0; x < target; ++x) {
      const size_t source = (sourceRow + size_t(x / factor)) * 3;
      const uint32_t pixel =
          PackTexel(masks, MakeTexel(&texture.bgr[source], alpha ? &alpha->bgr[source] : nullptr));
      for (int b = 0; b < bytes; ++b) row[size_t(x) * bytes + b] = uint8_t(pixel >> (8 * b));
    }
  }
  surface->Unlock();
  return 1;
}

int CreateSystemTexture(QltMaterialRecord* m, const SquareImage& texture, const SquareImage* alpha) {
  const int target = TargetSize(texture.size, alpha != nullptr);
  const int format = alpha ? _qlt_AlphaTextureFormat : _qlt_OpaqueTextureFormat;
  int32_t r = CreateTextureSurface(DDSCAPS_TEXTURE | DDSCAPS_SYSTEMMEMORY, format, target,
                                   &m->lptmpSystemTextureSurface);
  if (r != DD_OK)
    return Fail(OpMake, "_qlt_DirectDraw2->CreateSurface(&ddsd, &pMaterial->lptmpSystemTextureSurface, NULL)",
                r);
  m->textureSize = m->lptmpSystemTextureSurface->Width();
  if (!WriteTexels(m->lptmpSystemTextureSurface, target, texture, alpha)) return 0;
  r = _qlt_Device->CreateTexture(m->lptmpSystemTextureSurface->Pixels(), &m->lpSystemTexture);
  if (r != D3D_OK)
    return Fail(OpMake,
                "pMaterial->lpSystemTextureSurface->QueryInterface(IID_IDirect3DTexture2, "
                "(LPVOID*)&pMaterial->lpSystemTexture)",
                r);
  m->hSystemTexture = m->lpSystemTexture;
  return 1;
}

// The first existing material with the same texture and alpha files. The
// names must match in full and the alpha kinds agree: a shorter name or a
// texture with an alpha bitmap is another texture.
int SharedTextureSource(const QltMaterial& v) {
  for (int i = 0; i < _qlt_MaterialCount; ++i) {
    const QltMaterialRecord& other = _qlt_Material[i];
    if (&other.values == &v || !other.values.hasTexture || other.sharesTexture) continue;
    if (strcmp(other.values.textureName, v.textureName) != 0 || other.values.hasAlpha != v.hasAlpha) continue;
    if (v.hasAlpha && strcmp(other.values.alphaName, v.alphaName) != 0) continue;
    return i;
  }
  return -1;
}

// Steps from the files to the system-memory texture. Returns 1 also when
// the material ends up untextured after a warning.
int LoadTexture(QltMaterialRecord* m) {
  QltMaterial& v = m->values;
  // The model's folder may be read-only or not the user's (an installed
  // sample, a file manager's thumbnail): the squares are made elsewhere.
  const QltTemporaryFile textureSquare, alphaSquare;
  const char* textureTemp = textureSquare.path().c_str();
  const char* alphaTemp = alphaSquare.path().c_str();
  if (!ConvertTexture(v.textureName, textureTemp,
                      "*.%s texture bitmap files are not supported\n%s ignored!")) {
    v.textureName[0] = '\0';
    v.hasTexture = 0;
    return 1;
  }
  if (v.hasAlpha && !ConvertTexture(v.alphaName, alphaTemp,
                                    "*.%s alpha texture bitmap files are not supported\n%s ignored!")) {
    v.alphaName[0] = '\0';
    v.hasAlpha = 0;
    return 1;
  }
  SquareImage texture, alpha;
  if (v.hasAlpha && !ReadSquare(alphaTemp, "Can not load Temp_Alf_bmp", &alpha)) return 0;
  if (!ReadSquare(textureTemp, "Can not load Temp_bmp", &texture)) return 0;
  if (v.hasAlpha && alpha.size != texture.size) {
    const char* message = "Alpha texture size is not the same size as the texture bitmap";
    _qlt_SetError(OpMake, message, 0);
    MessageBoxSafe(message, "Warning", MB_OK);
    return 0;
  }
  return CreateSystemTexture(m, texture, v.hasAlpha ? &alpha : nullptr);
}

int FinishMaterial(QltMaterialRecord* m) {
  m->Material.dwRampSize = 1;
  m->Material.hTexture = m->hSystemTexture;
  if (!_qlt_Device) return 1;
  int32_t r = _qlt_Device->SetMaterial(m->lpMaterial, &m->Material);
  if (r != D3D_OK)
    return Fail(OpMake, "pMaterial->lpMaterial->SetMaterial((D3DMATERIAL *)&pMaterial->Material)", r);
  m->hMaterial = m->lpMaterial;
  return 1;
}

D3DCOLORVALUE Colour(const QltColorValue& c) { return {c.r, c.g, c.b, c.a}; }

// Material 0: the background colour, opaque, lit only by its own emission.
int MakeBackgroundMaterial() {
  const QltColorValue& c = _qlt_BackgroundColor;
  const int made = _qlt_MakeMaterial(&_qlt_Material[0], c.r, c.g, c.b, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, c.r, c.g,
                                     c.b, 0, nullptr, 0, nullptr);
  _qlt_BackgroundMaterialHandle = _qlt_Device ? _qlt_Material[0].hMaterial : 0;
  return made;
}

int SetViewportBackground(const char* operation) {
  if (!_qlt_Device || !_qlt_Viewport) return 1;
  const int32_t r = _qlt_Device->SetBackground(_qlt_Viewport, _qlt_Material[0].hMaterial);
  if (r != D3D_OK) return Fail(operation, "_qlt_Viewport->SetBackground(_qlt_Material[0].hMaterial)", r);
  return 1;
}

// ---- Video slots -------------------------------------------------------------------

bool CreateSlot(int textureClass) {
  QltTextureClassSlots& c = _qlt_TextureSlots[textureClass];
  if (c.count >= QltMaxSlotsPerClass) return false;
  QltTextureSlot& slot = c.slots[c.count];
  if (!_qlt_CreateNonSystemTexture(FormatIndexOfClass(textureClass), QltTextureClassSize(textureClass),
                                   &slot))
    return false;
  slot.owner = -1;
  ++c.count;
  return true;
}

// One slot for every class that needs any, while they fit; then as many
// more as each class needs.
void CreateSlots() {
  for (int c = 0; c < QltTextureClasses; ++c) {
    if (_qlt_TexturesNeeded[c] <= 0) continue;
    if (!CreateSlot(c)) break;
    --_qlt_TexturesNeeded[c];
  }
  for (int c = 0; c < QltTextureClasses; ++c) {
    while (_qlt_TexturesNeeded[c] > 0 && CreateSlot(c)) --_qlt_TexturesNeeded[c];
  }
}

int TextureOwner(int handle) {
  const QltMaterialRecord& m = _qlt_Material[handle];
  return m.sharesTexture ? m.sharedMaterial : handle;
}

bool AnyTextureNotResident() {
  for (int i = 1; i < _qlt_MaterialCount; ++i) {
    const QltMaterialRecord& owner = _qlt_Material[TextureOwner(i)];
    if (owner.hSystemTexture && !owner.resident) return true;
  }
  return false;
}

// Loads every texture once, inside a frame as drawing would.
int LoadTexturesIntoSlots() {
  const QltOrientation identity = {{1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 0}};
  const bool opened = qlt_RenderBegin(&identity) == 1;
  for (int i = 1; i < _qlt_MaterialCount; ++i) qlt_SetMaterial(i);
  const bool notResident = AnyTextureNotResident();
  if (opened) qlt_RenderEnd(nullptr);
  return notResident ? 2 : 1;
}

// ---- Selection ---------------------------------------------------------------------

void SetState(D3DRENDERSTATETYPE state, uint32_t value) { _qlt_Device->SetRenderState(state, value); }

void ApplyOpaque() {
  SetState(D3DRENDERSTATE_ALPHABLENDENABLE, 0);
  SetState(D3DRENDERSTATE_ALPHABLENDENABLE, 0);
  SetState(D3DRENDERSTATE_COLORKEYENABLE, 0);
  SetState(D3DRENDERSTATE_TEXTUREMAPBLEND, D3DTBLEND_MODULATE);
  SetState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_ONE);
  SetState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_ZERO);
  if (!_qlt_HardwareDevice) {
    const uint32_t filter = _qlt_BilinearFilter ? D3DFILTER_LINEAR : D3DFILTER_NEAREST;
    SetState(D3DRENDERSTATE_TEXTUREMIN, filter);
    SetState(D3DRENDERSTATE_TEXTUREMAG, filter);
  }
  SetState(D3DRENDERSTATE_SPECULARENABLE, uint32_t(_qlt_SpecularEnable));
}

// Translucent surfaces take no highlight.
void ApplyTranslucent() {
  qlt_SetSpecular(0);
  if (!_qlt_HardwareDevice) {
    SetState(D3DRENDERSTATE_TEXTUREMIN, D3DFILTER_LINEAR);
    SetState(D3DRENDERSTATE_TEXTUREMAG, D3DFILTER_LINEAR);
  }
  SetState(D3DRENDERSTATE_ALPHABLENDENABLE, 1);
  SetState(D3DRENDERSTATE_ALPHABLENDENABLE, 1);
  SetState(D3DRENDERSTATE_COLORKEYENABLE, 1);
  SetState(D3DRENDERSTATE_TEXTUREMAPBLEND, D3DTBLEND_MODULATEALPHA);
  SetState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_ONE);
  SetState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA);
}

void UseTexture(D3DTEXTUREHANDLE texture) {
  if (texture == _qlt_CurrentTextureHandle) return;
  SetState(D3DRENDERSTATE_TEXTUREHANDLE, texture);
  _qlt_CurrentTextureHandle = texture;
}

// Copies the texture into its slot; a scene is closed around the copy.
int LoadSlot(const QltTextureSlot& slot, D3DTEXTUREHANDLE source) {
  if (!_qlt_RenderActive) {
    _qlt_Device->Load(slot.lpTexture, source);
    return 1;
  }
  int32_t r = _qlt_Device->EndScene();
  if (r != D3D_OK) return Fail(OpSet, "_qlt_Device->EndScene()", r);
  _qlt_RenderActive = 0;
  r = _qlt_Device->Load(slot.lpTexture, source);
  if (r != D3D_OK) return Fail(OpSet, "Texture->Load failed.", r);
  r = _qlt_Device->BeginScene();
  if (r != D3D_OK) return Fail(OpSet, "_qlt_Device->BeginScene()", r);
  _qlt_RenderActive = 1;
  return 1;
}

int TextureClassOf(const QltMaterialRecord& owner) {
  const int size = owner.textureSize;
  const int base = size == 256 ? 0 : size == 128 ? 2 : size == 64 ? 4 : size == 32 ? 6 : -1;
  return base < 0 ? -1 : base + (owner.values.hasAlpha ? 0 : 1);
}

// Hardware device: the texture must sit in a video slot of its class. A
// class without any slot draws untextured.
int UseSlotTexture(int ownerIndex) {
  QltMaterialRecord& owner = _qlt_Material[ownerIndex];
  const int textureClass = TextureClassOf(owner);
  if (textureClass < 0) {
    _qlt_SetError(OpSet, "Unsupported Texture Size", 0);
    MessageBoxSafe(qlt_GetErrorString(), "Fatal Error!", MB_OK);
    UseTexture(0);
    return 0;
  }
  QltTextureClassSlots& c = _qlt_TextureSlots[textureClass];
  if (owner.resident) {
    UseTexture(c.slots[owner.slot].hTexture);
    return 1;
  }
  if (c.count == 0) {
    UseTexture(0);
    return 1;
  }
  QltTextureSlot& slot = c.slots[c.next];
  if (slot.owner >= 0 && slot.owner != ownerIndex) _qlt_Material[slot.owner].resident = 0;
  slot.owner = ownerIndex;
  owner.slot = c.next;
  if (!LoadSlot(slot, owner.lpSystemTexture)) return 0;
  owner.resident = 1;
  SetState(D3DRENDERSTATE_TEXTUREHANDLE, slot.hTexture);
  _qlt_CurrentTextureHandle = slot.hTexture;
  c.next = (c.next + 1) % c.count;
  return 1;
}

}  // namespace

// ---- Public operations ------------------------------------------------------------

int _qlt_DetermineTextureSize(const char* fileName, int hasAlpha) {
  if (!fileName) return -1;
  const TextureFileKind kind = KindOf(_qlt_FileExtension(fileName));
  if (kind == TextureFileKind::Unknown) {
    MessageBoxSafe("_qlt_DetermineTextureSize", "Not a known texture filename extension", MB_OK);
    return -1;
  }
  const std::string path = _qlt_TexturePath(fileName);
  if (kind == TextureFileKind::Picture) {
    int width = 0, height = 0;
    if (!_qlt_PictureSize(path.c_str(), &width, &height)) return -1;
    return 2 * SizeIndex(width, height) + (hasAlpha == 1 ? 0 : 1);
  }
  // PPM comments may run long; the header fits in the first few kilobytes.
  std::vector<uint8_t> data;
  int64_t width = 0, height = 0;
  if (!ReadStart(path.c_str(), kind == TextureFileKind::Bmp ? BmpHeaderSize : 4096, &data)) return -1;
  const bool known =
      kind == TextureFileKind::Bmp ? BmpSize(data, &width, &height) : PpmSize(data, &width, &height);
  if (!known) return -1;
  return 2 * SizeIndex(width, height) + (hasAlpha == 1 ? 0 : 1);
}

int _qlt_MakeMaterial(QltMaterialRecord* pMaterial, float diffuseR, float diffuseG, float diffuseB,
                      float alpha, float power, float specularR, float specularG, float specularB,
                      float emissiveR, float emissiveG, float emissiveB, int hasTexture,
                      const char* textureName, int hasAlpha, const char* alphaName) {
  ReleaseRecord(*pMaterial);
  QltMaterialRecord* m = pMaterial;
  if (_qlt_Device) {
    const int32_t r = _qlt_Device->CreateMaterial(&m->lpMaterial);
    if (r != D3D_OK) return Fail(OpMake, "_qlt_Direct3D->CreateMaterial(&pMaterial->lpMaterial,NULL)", r);
  }
  QltMaterial& v = m->values;
  const bool textured = hasTexture == 1 && textureName && textureName[0];
  const bool withAlpha = textured && hasAlpha == 1 && alphaName;
  const float a = hasTexture == 1 && hasAlpha == 1 ? TexturedAlpha : alpha;
  v.diffuse = {diffuseR, diffuseG, diffuseB, a};
  v.ambient = v.diffuse;
  v.specular = {specularR, specularG, specularB, 0.0f};
  v.emissive = {emissiveR, emissiveG, emissiveB, 0.0f};
  v.power = power;
  m->Material.dwSize = sizeof(D3DMATERIAL);
  m->Material.diffuse = Colour(v.diffuse);
  m->Material.ambient = Colour(v.ambient);
  m->Material.specular = Colour(v.specular);
  m->Material.emissive = Colour(v.emissive);
  m->Material.power = power;
  if (textured) {
    CopyName(v.textureName, textureName);
    v.hasTexture = 1;
    if (withAlpha) {
      CopyName(v.alphaName, alphaName);
      v.hasAlpha = 1;
    }
    const int source = SharedTextureSource(v);
    if (source >= 0) {
      m->sharesTexture = 1;
      m->sharedMaterial = source;
    } else if (_qlt_Device && _qlt_DirectDraw2 && !LoadTexture(m)) {
      // Still a usable, untextured material; the failure stays reported.
      FinishMaterial(m);
      return 0;
    }
  }
  return FinishMaterial(m);
}

int _qlt_CreateNonSystemTexture(int format, int size, QltTextureSlot* slot) {
  *slot = QltTextureSlot{0, nullptr, 0, size, -1};
  if (!_qlt_Device) return Fail(OpSlot, "_qlt_Device==NULL", 0);
  DisplaySurface* temp = nullptr;
  D3DTEXTUREHANDLE tempTexture = 0;
  int32_t r = CreateTextureSurface(DDSCAPS_TEXTURE | DDSCAPS_SYSTEMMEMORY, format, size, &temp);
  if (r != DD_OK)
    return Fail(OpSlot, "_qlt_DirectDraw2->CreateSurface(&ddsd, &lpTempTextureSurface, NULL)", r);
  r = _qlt_Device->CreateTexture(temp->Pixels(), &tempTexture);
  const char* failure = "lpTempTextureSurface->QueryInterface(IID_IDirect3DTexture2,(LPVOID*)&lpTempTexture)";
  if (r == D3D_OK) {
    failure = "_qlt_DirectDraw2->CreateSurface(&ddsd, &ptr->lpTextureSurface, NULL)";
    r = CreateTextureSurface(DDSCAPS_TEXTURE | DDSCAPS_ALLOCONLOAD, format, size, &slot->lpTextureSurface);
  }
  if (r == D3D_OK) {
    failure = "ptr->lpTextureSurface->QueryInterface(IID_IDirect3DTexture2,(LPVOID*)&ptr->lpTexture)";
    r = _qlt_Device->CreateTexture(slot->lpTextureSurface->Pixels(), &slot->lpTexture);
  }
  if (r == D3D_OK) {
    failure = "_qlt_DirectDraw2->CreateSurface(&ddsd, &ptr->lpTextureSurface, NULL)";
    r = _qlt_Device->Load(slot->lpTexture, tempTexture);
  }
  ReleaseTexture(tempTexture);
  ReleaseSurface(temp);
  if (r == D3D_OK && !slot->lpTextureSurface->InVideoMemory()) {
    failure = "No room left in video or AGP memory for texture... Attempted to load to system memory.";
    r = DDERR_OUTOFVIDEOMEMORY;
  }
  if (r != D3D_OK) {
    _qlt_SetError(OpSlot, failure, r == DDERR_OUTOFVIDEOMEMORY ? 0 : r);
    ReleaseTexture(slot->lpTexture);
    ReleaseSurface(slot->lpTextureSurface);
    *slot = QltTextureSlot{0, nullptr, 0, size, -1};
    return 0;
  }
  slot->hTexture = slot->lpTexture;
  return 1;
}

void _qlt_RestoreTextureSlots() {
  if (_qlt_HardwareDevice) {
    for (QltTextureClassSlots& c : _qlt_TextureSlots)
      for (int i = 0; i < c.count; ++i)
        if (c.slots[i].lpTextureSurface && c.slots[i].lpTextureSurface->IsLost() != DD_OK)
          c.slots[i].lpTextureSurface->Restore();
  }
  for (int i = 0; i < _qlt_MaterialCount; ++i) _qlt_Material[i].resident = 0;
  // The selected material's texture must be loaded again too.
  ForgetSelection();
}

int qlt_AddMaterial(float diffuseR, float diffuseG, float diffuseB, float alpha, float power, float specularR,
                    float specularG, float specularB, float emissiveR, float emissiveG, float emissiveB,
                    int hasTexture, const char* textureName, int hasAlpha, const char* alphaName) {
  if (_qlt_DeclarationCount >= QltMaxDeclarations) {
    _qlt_SetError("qlt_AddMaterial", "Too many materials declared", 0);
    return 0;
  }
  QltMaterialDeclaration& d = _qlt_Declaration[_qlt_DeclarationCount++];
  d = QltMaterialDeclaration{diffuseR,  diffuseG,  diffuseB,  alpha, power, specularR, specularG, specularB,
                             emissiveR, emissiveG, emissiveB, 0,     0,     "",        ""};
  // A texture without a name is no texture; an alpha bitmap only counts
  // together with a texture.
  if (hasTexture == 1 && textureName) {
    d.hasTexture = 1;
    CopyName(d.textureName, textureName);
    if (hasAlpha == 1 && alphaName) {
      d.hasAlpha = 1;
      CopyName(d.alphaName, alphaName);
    }
    const int textureClass = _qlt_DetermineTextureSize(d.textureName, d.hasAlpha);
    if (textureClass >= 0) ++_qlt_TexturesNeeded[textureClass];
  }
  return 1;
}

int qlt_CreateMaterials(int32_t* outHandles) {
  // Materials and slots of an earlier call would otherwise stay on the
  // device with nothing pointing to them.
  ReleaseSlots();
  ReleaseMaterials(1);
  ForgetSelection();
  _qlt_MaterialCount = 1;
  const bool hardware = _qlt_HardwareDevice && _qlt_Device;
  if (hardware) CreateSlots();
  for (int i = 0; i < _qlt_DeclarationCount; ++i) {
    const int32_t handle = _qlt_MaterialCount;
    if (handle >= QltMaxMaterials) return Fail("qlt_CreateMaterials", "Too many materials", 0);
    const QltMaterialDeclaration& d = _qlt_Declaration[i];
    _qlt_MakeMaterial(&_qlt_Material[handle], d.diffuseR, d.diffuseG, d.diffuseB, d.alpha, d.power,
                      d.specularR, d.specularG, d.specularB, d.emissiveR, d.emissiveG, d.emissiveB,
                      d.hasTexture, d.textureName, d.hasAlpha, d.alphaName);
    ++_qlt_MaterialCount;
    if (outHandles) outHandles[i] = handle;
  }
  return hardware ? LoadTexturesIntoSlots() : 1;
}

int qlt_FreeMaterials() {
  if (_qlt_RenderActive && _qlt_Device) {
    _qlt_Device->EndScene();
    _qlt_RenderActive = 0;
  }
  ReleaseSlots();
  ReleaseMaterials(0);
  memset(_qlt_TexturesNeeded, 0, sizeof _qlt_TexturesNeeded);
  _qlt_DeclarationCount = 0;
  // A new material may get the handle selected last; it must take effect.
  ForgetSelection();
  MakeBackgroundMaterial();
  _qlt_MaterialCount = 1;
  // The viewport must not clear with the material just released.
  SetViewportBackground("qlt_FreeMaterials");
  return 1;
}

int qlt_SetBackgroundMaterialColor(float r, float g, float b) {
  _qlt_BackgroundColor = {r, g, b, 1.0f};
  if (_qlt_CurrentMaterial == 0) ForgetSelection();
  if (!MakeBackgroundMaterial()) return 0;
  return SetViewportBackground("qlt_SetBackgroundMaterialColor");
}

int qlt_SetMaterial(int32_t handle) {
  // Range first: with no material selected the current one is -1.
  if (handle < 0 || handle >= _qlt_MaterialCount) return Fail(OpSet, "Invalid Material Handle", 0);
  if (handle == _qlt_CurrentMaterial) return 1;
  _qlt_CurrentMaterial = handle;
  if (!_qlt_Device) return 1;
  const QltMaterialRecord& m = _qlt_Material[handle];
  const int opaque = m.values.diffuse.a >= 1.0f ? 1 : 0;
  if (opaque != _qlt_LastOpaque) {
    if (opaque)
      ApplyOpaque();
    else
      ApplyTranslucent();
    _qlt_LastOpaque = opaque;
  }
  if (m.hMaterial != _qlt_CurrentMaterialHandle) {
    _qlt_Device->SetLightState(D3DLIGHTSTATE_MATERIAL, m.hMaterial);
    _qlt_CurrentMaterialHandle = m.hMaterial;
  }
  const int ownerIndex = TextureOwner(handle);
  const QltMaterialRecord& owner = _qlt_Material[ownerIndex];
  if (!_qlt_HardwareDevice) {
    UseTexture(owner.hSystemTexture);
    return 1;
  }
  if (!owner.hSystemTexture) {
    UseTexture(0);
    return 1;
  }
  return UseSlotTexture(ownerIndex);
}

int qlt_MaterialCount() { return _qlt_MaterialCount; }

int qlt_DeclarationCount() { return _qlt_DeclarationCount; }

const QltMaterial* qlt_GetMaterial(int32_t handle) {
  if (handle < 0 || handle >= _qlt_MaterialCount) return nullptr;
  return &_qlt_Material[handle].values;
}

int32_t qlt_CurrentMaterial() { return _qlt_CurrentMaterial; }

const char* _qlt_FileExtension(const char* name) {
  const char* base = name;
  for (const char* p = name; *p; ++p)
    if (*p == '/' || *p == '\\') base = p + 1;
  const char* dot = strrchr(base, '.');
  return dot ? dot : "";
}
