// Finding the display drivers and 3D devices, bringing up the full-screen
// device with its viewport and light, display modes, surface restore and
// the orderly shutdown.

#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/ui.h"
#include "render/library_state.h"
#include "render/materials.h"
#include "render/qlt.h"

// ---- State ----------------------------------------------------------------------

QltDeviceListEntry _qlt_DeviceList[QltMaxDevices];
int32_t _qlt_DeviceListIndex;
char _qlt_DeviceName[QltMaxDevices][QltDeviceNameSize];
int32_t _qlt_DeviceModes[QltMaxDevices][QltModeNumbers];
QltModeEntry _qlt_ModeList[QltMaxModes];
int32_t _qlt_ModeCount;
int32_t _qlt_CurrentMode;
const int32_t QltModeSizes[QltModeNumbers][2] = {{320, 200}, {320, 240}, {400, 300}, {512, 384},
                                                 {640, 400}, {640, 480}, {800, 600}, {1024, 768}};

QltD3DDriverEntry _qlt_DriverList[2];
int32_t _qlt_CurrentDriver;
QltDirect3DOffer _qlt_Direct3DOffer;
const QltGuid IID_IDirect3DRGBDevice = {
    {0x60, 0x06, 0x8E, 0xA8, 0xA4, 0xE2, 0xCF, 0x11, 0x9C, 0x69, 0x00, 0xAA, 0x00, 0x62, 0x75, 0xFA}};
const QltGuid IID_IDirect3DHALDevice = {
    {0xE0, 0xC3, 0xA3, 0x84, 0xA4, 0xE2, 0xCF, 0x11, 0x9C, 0x69, 0x00, 0xAA, 0x00, 0x62, 0x75, 0xFA}};

QltTextureFormatEntry _qlt_TextureFormat[4];
int32_t _qlt_OpaqueTextureFormat;
int32_t _qlt_AlphaTextureFormat;
int32_t _qlt_GreenBits;

Display* _qlt_DirectDraw;
Display* _qlt_DirectDraw2;
Display* _qlt_Direct3D;
DisplaySurface* _qlt_FrontBuffer;
DisplaySurface* _qlt_BackBuffer;
DisplaySurface* _qlt_ZBuffer;
DisplaySurface* _qlt_FrontBuffer3;
DisplaySurface* _qlt_BackBuffer3;
DisplaySurface* _qlt_ZBuffer3;
Direct3DDevice* _qlt_Device;
D3DVIEWPORTHANDLE _qlt_Viewport;
D3DLIGHTHANDLE _qlt_Light;
int32_t _qlt_LightCreated;
D3DMATERIALHANDLE _qlt_BackgroundMaterialHandle;
void* _qlt_ghWnd;
void* _qlt_hInstance;
const char* _qlt_Title;

float _qlt_WorldSize;
float _qlt_FogStart, _qlt_FogEnd;
D3DCOLOR _qlt_FogColor;
int32_t _qlt_FogEnable, _qlt_SpecularEnable, _qlt_BilinearFilter, _qlt_DitherEnable;
uint32_t _qlt_CullMode;
D3DMATRIX _qlt_WorldMatrix, _qlt_ViewMatrix, _qlt_ProjectionMatrix;
float _qlt_NearPlane, _qlt_FarPlane, _qlt_FieldOfView;
D3DVECTOR _qlt_LightDirection;
D3DCOLORVALUE _qlt_LightColor;
float _qlt_AmbientR, _qlt_AmbientG, _qlt_AmbientB;

int32_t _qlt_Enumerated;
int32_t _qlt_EnumerateCalled, _qlt_InitializeCalled, _qlt_ShutdownCalled;
int32_t _qlt_CooperativeLevelSet;
int32_t _qlt_HardwareDevice;
int32_t _qlt_Initialized;
int32_t _qlt_RenderActive;

namespace {

QltSelectCallback _qlt_SelectCallback;
int _qlt_ChosenDevice;
int _qlt_ChosenMode;
int _qlt_EmulationFound;
int _qlt_EnumerationPass;  // 1: emulation pass, 2: hardware pass
int _qlt_HardwarePresent, _qlt_EmulationPresent;
// Row of _qlt_DeviceModes that the mode callback marks; null when none.
int32_t* _qlt_ModeRow;

constexpr uint32_t DefaultVideoMemory = 4718592;

// Operation names.
const char* const OpEnumerate = "_qlt_Enumerate";
const char* const OpInitialize = "qlt_Initialize";
const char* const OpInitD3D = "_qlt_InitializeD3D";
const char* const OpSetMode = "_qlt_SetDisplayMode";

// ---- Direct3D device enumeration ----------------------------------------------

struct D3DDeviceOffer {
  QltGuid guid;
  const char* description;
  const char* name;
  D3DDEVICEDESC hardware;   // all zero for a software device
  D3DDEVICEDESC emulation;  // all zero for a hardware device
};

constexpr D3DDEVICEDESC RgbDepth16 = {sizeof(D3DDEVICEDESC), D3DDD_COLORMODEL | D3DDD_DEVICEZBUFFERBITDEPTH,
                                      D3DCOLOR_RGB, DDBD_16};

// The devices of this machine, as IDirect3D2::EnumDevices lists them.
int Direct3DDevices(D3DDeviceOffer* out) {
  int count = 0;
  if (_qlt_Direct3DOffer.rgbDevice)
    out[count++] = {IID_IDirect3DRGBDevice, "Software RGB rasteriser", "RGB Emulation", {}, RgbDepth16};
  if (_qlt_Direct3DOffer.halDevice)
    out[count++] = {IID_IDirect3DHALDevice, "3D hardware rasteriser", "Direct3D HAL", RgbDepth16, {}};
  return count;
}

bool SameGuid(const QltGuid& a, const QltGuid& b) { return memcmp(a.bytes, b.bytes, sizeof a.bytes) == 0; }

// The acceptance test shared by enumeration and initialization: the
// hardware description when its flags are set, else the emulation one,
// with an RGB colour model and 16-bit z-buffer depth.
const D3DDEVICEDESC* AcceptedDescription(const D3DDeviceOffer& d, bool* isHardware) {
  *isHardware = d.hardware.dwFlags != 0;
  const D3DDEVICEDESC& desc = *isHardware ? d.hardware : d.emulation;
  if (!(desc.dwFlags & D3DDD_COLORMODEL) || !(desc.dcmColorModel & D3DCOLOR_RGB)) return nullptr;
  if (!(desc.dwFlags & D3DDD_DEVICEZBUFFERBITDEPTH) || !(desc.dwDeviceZBufferBitDepth & DDBD_16))
    return nullptr;
  return &desc;
}

void EnumDevicesCallback(const D3DDeviceOffer& d) {
  bool isHardware;
  if (!AcceptedDescription(d, &isHardware)) return;
  if (isHardware && SameGuid(d.guid, IID_IDirect3DHALDevice)) _qlt_HardwarePresent = 1;
  if (!isHardware && SameGuid(d.guid, IID_IDirect3DRGBDevice)) _qlt_EmulationPresent = 1;
}

int _qlt_EnumD3DDriversCallback(const D3DDeviceOffer& d, int* accepted) {
  bool isHardware;
  const D3DDEVICEDESC* desc = AcceptedDescription(d, &isHardware);
  if (!desc || *accepted >= QltMaxDevices) return 1;
  int entry = -1;
  if (isHardware && SameGuid(d.guid, IID_IDirect3DHALDevice)) entry = 1;
  if (!isHardware && SameGuid(d.guid, IID_IDirect3DRGBDevice)) entry = 0;
  if (entry < 0) return 1;
  _qlt_DriverList[entry] = {d.guid, entry, d.description, d.name, *desc};
  ++*accepted;
  return 1;
}

// ---- Display modes ----------------------------------------------------------------

int ModeNumberOf(int width, int height) {
  for (int i = 0; i < QltModeNumbers; ++i)
    if (QltModeSizes[i][0] == width && QltModeSizes[i][1] == height) return i + 1;
  return 0;
}

// The place for a kept mode: the next free entry, or, once the list is full,
// the last entry without a mode number when the new one has one, so that a
// mode offered to the user can always be set. -1 when there is none.
int ModeSlot(int modeNumber) {
  if (_qlt_ModeCount < QltMaxModes) return _qlt_ModeCount++;
  if (modeNumber == 0) return -1;
  for (int i = QltMaxModes - 1; i > 0; --i)
    if (_qlt_ModeList[i].modeNumber == 0) return i;
  return -1;
}

void _qlt_EnumModesCallback(const DisplayModeDesc& mode) {
  int bits;
  if (mode.bitsPerPixel > 0)
    bits = mode.bitsPerPixel;
  else if (mode.pitch > 0 && mode.width > 0)
    bits = mode.pitch / mode.width * 8;
  else
    return;
  if (bits != 16 || mode.width <= 0 || mode.height <= 0) return;
  const int number = ModeNumberOf(mode.width, mode.height);
  if (number != 0 && _qlt_ModeRow) _qlt_ModeRow[number - 1] = QltModeOffered;
  const int slot = ModeSlot(number);
  if (slot >= 0) _qlt_ModeList[slot] = {number, mode.width, mode.height, 16};
}

void EnumDisplayModes(const Display& display, int32_t* row) {
  _qlt_ModeRow = row;
  for (const DisplayModeDesc& mode : display.EnumDisplayModes()) _qlt_EnumModesCallback(mode);
  _qlt_ModeRow = nullptr;
}

void MarkMemoryConstraints(const Display& display, int32_t* row) {
  uint32_t total = 0;
  if (display.GetAvailableVidMem(&total, nullptr) != DD_OK) total = DefaultVideoMemory;
  for (int i = 0; i < QltModeNumbers; ++i) {
    const uint64_t threshold = uint64_t(QltModeSizes[i][0]) * uint64_t(QltModeSizes[i][1]) * 6;
    if (row[i] == QltModeOffered && threshold > total) row[i] = QltModeMemoryConstrained;
  }
}

// ---- Enumeration of display drivers -------------------------------------------------

void NameDevice(int index, const char* format, const DisplayDriver& driver) {
  snprintf(_qlt_DeviceName[index], QltDeviceNameSize, format, driver.description.c_str(),
           driver.name.c_str());
  _qlt_DeviceName[index][QltDeviceNameSize - 1] = '\0';
}

// Returns 0 to stop the enumeration.
int _qlt_EnumDevicesCallback(const DisplayDriver& driver) {
  if (_qlt_DeviceListIndex >= QltMaxDevices) return 0;
  const int count = _qlt_DeviceListIndex;
  // Pass 1 always looks at the primary driver; pass 2 at the one listed.
  Display* display = new Display(CurrentDisplaySettings());

  _qlt_HardwarePresent = 0;
  _qlt_EmulationPresent = 0;
  D3DDeviceOffer offers[QltMaxDevices];
  const int offerCount = Direct3DDevices(offers);
  for (int i = 0; i < offerCount; ++i) EnumDevicesCallback(offers[i]);

  memset(_qlt_DeviceModes[count], 0, sizeof _qlt_DeviceModes[count]);
  EnumDisplayModes(*display, _qlt_DeviceModes[count]);
  if (_qlt_EnumerationPass == 1)
    memcpy(_qlt_DeviceModes[0], _qlt_DeviceModes[count], sizeof _qlt_DeviceModes[0]);
  MarkMemoryConstraints(*display, _qlt_DeviceModes[count]);
  delete display;

  if (_qlt_EnumerationPass == 1 && _qlt_EmulationPresent && !_qlt_EmulationFound) {
    NameDevice(0, "3D Emulation through %s (%s)", driver);
    _qlt_DeviceList[0].lpGuid = nullptr;
    _qlt_EmulationFound = 1;
  }
  if (_qlt_EnumerationPass == 2 && _qlt_HardwarePresent) {
    QltDeviceListEntry& entry = _qlt_DeviceList[count];
    memcpy(entry.Guid.bytes, driver.guid, sizeof entry.Guid.bytes);
    entry.lpGuid = driver.primary ? nullptr : &entry.Guid;
    NameDevice(count, "3D Acceleration through %s (%s)", driver);
    ++_qlt_DeviceListIndex;
  }
  return 1;
}

void EnumeratePass(int pass) {
  _qlt_EnumerationPass = pass;
  for (const DisplayDriver& driver : EnumerateDisplayDrivers())
    if (!_qlt_EnumDevicesCallback(driver)) break;
}

int _qlt_Enumerate() {
  _qlt_DeviceListIndex = 1;  // entry 0 is kept for the emulation device
  _qlt_EmulationFound = 0;
  _qlt_ChosenDevice = 0;
  _qlt_ChosenMode = 0;
  EnumeratePass(1);
  EnumeratePass(2);
  if (!_qlt_EmulationFound) {
    _qlt_SetError(OpEnumerate, "No DirectX 5 or later display drivers were found on this system.", 0);
    return 0;
  }
  const int chosen = _qlt_SelectCallback(_qlt_DeviceListIndex, _qlt_DeviceName, _qlt_DeviceModes,
                                         &_qlt_ChosenDevice, &_qlt_ChosenMode);
  // A device index outside the list is the dialog's failure too: it would
  // index past the table.
  const bool deviceValid = _qlt_ChosenDevice >= 0 && _qlt_ChosenDevice < _qlt_DeviceListIndex;
  if (chosen == -1 || (chosen != 0 && !deviceValid)) {
    _qlt_SetError(OpEnumerate,
                  "Failure or _qlt_Enumerate() Dialog Box not implemented properly\n\nContact Developer.", 0);
    return 0;
  }
  if (chosen == 0) {
    _qlt_SetError(OpEnumerate, "Application Cancelled", 0);
    return 0;
  }
  _qlt_Enumerated = 1;
  return 1;
}

// ---- Initialization ---------------------------------------------------------------

int Fail(const char* operation, const char* message, int32_t result) {
  _qlt_SetError(operation, message, result);
  return 0;
}

void ResetObjects() {
  _qlt_DirectDraw = _qlt_DirectDraw2 = _qlt_Direct3D = nullptr;
  _qlt_FrontBuffer = _qlt_BackBuffer = _qlt_ZBuffer = nullptr;
  _qlt_FrontBuffer3 = _qlt_BackBuffer3 = _qlt_ZBuffer3 = nullptr;
  _qlt_Device = nullptr;
  _qlt_Viewport = 0;
  _qlt_Light = 0;
  _qlt_LightCreated = 0;
  _qlt_BackgroundMaterialHandle = 0;
}

void ResetState() {
  ResetObjects();
  _qlt_RenderActive = 0;
  _qlt_ModeCount = 0;
  _qlt_CurrentMode = 0;
  memset(_qlt_Bitmap, 0, sizeof _qlt_Bitmap);
  _qlt_BitmapIndex = 0;
  memset(_qlt_TextureFormat, 0, sizeof _qlt_TextureFormat);
  memset(_qlt_DriverList, 0, sizeof _qlt_DriverList);
  qlt_SetBackgroundMaterialColor(0.0f, 0.0f, 0.0f);
  qlt_FreeMaterials();
}

void SetSceneDefaults(float worldSize, float fieldOfViewDegrees) {
  _qlt_WorldSize = worldSize;
  _qlt_FogEnd = worldSize;
  _qlt_FogStart = 0.5f * worldSize;
  _qlt_FogColor = 0xFF000000u;
  _qlt_FogEnable = _qlt_SpecularEnable = _qlt_BilinearFilter = _qlt_DitherEnable = 0;
  _qlt_WorldMatrix = _qlt_ViewMatrix = D3DIdentityMatrix();
  _qlt_NearPlane = 1.0f;
  _qlt_FarPlane = 1.01f * std::sqrt(3.0f) * worldSize;
  _qlt_FieldOfView = float(fieldOfViewDegrees * 0.017453292519943295);
  const float c = std::cos(_qlt_FieldOfView / 2), s = std::sin(_qlt_FieldOfView / 2);
  const float q = s / (1.0f - _qlt_NearPlane / _qlt_FarPlane);
  _qlt_ProjectionMatrix = D3DMATRIX{};
  _qlt_ProjectionMatrix._11 = c;
  _qlt_ProjectionMatrix._22 = c;
  _qlt_ProjectionMatrix._33 = q;
  _qlt_ProjectionMatrix._34 = s;
  _qlt_ProjectionMatrix._43 = -q * _qlt_NearPlane;
  _qlt_LightDirection = {0.0f, 1.0f, 0.0f};
  _qlt_LightColor = {1.0f, 0.95f, 0.9f, 1.0f};
  _qlt_AmbientR = _qlt_AmbientG = _qlt_AmbientB = 0.5f;
}

int MatchTextureFormat(const QltTextureFormatDesc& d) {
  const bool alpha = d.alphaPixels != 0;
  if (d.bitCount == 16 && !alpha && d.redMask == 0xF800 && d.greenMask == 0x07E0 && d.blueMask == 0x001F)
    return QltTex565;
  if (d.bitCount == 16 && alpha && d.alphaMask == 0x8000 && d.redMask == 0x7C00 && d.greenMask == 0x03E0 &&
      d.blueMask == 0x001F)
    return QltTex1555;
  if (d.bitCount == 16 && alpha && d.alphaMask == 0xF000 && d.redMask == 0x0F00 && d.greenMask == 0x00F0 &&
      d.blueMask == 0x000F)
    return QltTex4444;
  if (d.bitCount == 32 && d.alphaMask == 0xFF000000u && d.redMask == 0x00FF0000 &&
      d.greenMask == 0x0000FF00 && d.blueMask == 0x000000FF)
    return QltTex8888;
  return -1;
}

void EnumTextureFormats() {
  for (PixelFormat format : _qlt_DirectDraw2->TextureFormats()) {
    const PixelMasks m = MasksOf(format);
    const QltTextureFormatDesc desc{m.bitCount, m.alpha != 0, m.alpha, m.red, m.green, m.blue, format};
    const int entry = MatchTextureFormat(desc);
    if (entry >= 0) _qlt_TextureFormat[entry] = {1, desc};
  }
}

int ChooseTextureFormats() {
  const bool f565 = _qlt_TextureFormat[QltTex565].supported, f1555 = _qlt_TextureFormat[QltTex1555].supported;
  const bool f4444 = _qlt_TextureFormat[QltTex4444].supported,
             f8888 = _qlt_TextureFormat[QltTex8888].supported;
  if (!f565 && !f1555 && !f4444 && !f8888)
    return Fail(OpInitialize, "No Compatible Texture Formats Are Supported!!!", 0);
  if (f565 && !f1555 && !f4444 && !f8888)
    MessageBoxSafe("qlt_Initialize", "Texture translucency and transparency not supported!!!", MB_OK);
  else if (f1555 && !f4444 && !f8888)
    MessageBoxSafe("qlt_Initialize", "Texture translucency not supported!!!", MB_OK);
  _qlt_AlphaTextureFormat = f4444 ? 2 : f8888 ? 3 : f1555 ? 1 : 0;
  _qlt_OpaqueTextureFormat = f565 ? 0 : f1555 ? 1 : f4444 ? 2 : 3;
  return 1;
}

int CountBits(uint32_t value) {
  int bits = 0;
  for (; value != 0; value &= value - 1) ++bits;
  return bits;
}

int ReadGreenBits() {
  LockedSurface locked;
  const int32_t result = _qlt_BackBuffer3->Lock(&locked);
  if (result != DD_OK) return Fail(OpInitialize, "_qlt_BackBuffer3->Lock()", result);
  _qlt_GreenBits = CountBits(MasksOf(locked.format).green);
  _qlt_BackBuffer3->Unlock();
  return 1;
}

int PaintBackBuffer(uint16_t colour) {
  LockedSurface locked;
  const int32_t result = _qlt_BackBuffer3->Lock(&locked);
  if (result != DD_OK) return Fail(OpInitialize, "_qlt_BackBuffer3->Lock()", result);
  for (int y = 0; y < locked.height; ++y) {
    uint8_t* row = locked.bits + size_t(y) * size_t(locked.pitch);
    for (int x = 0; x < locked.width; ++x) {
      row[2 * x] = uint8_t(colour);
      row[2 * x + 1] = uint8_t(colour >> 8);
    }
  }
  _qlt_BackBuffer3->Unlock();
  return 1;
}

// ---- The 3D device ------------------------------------------------------------------

int CreateFlipChain(bool emulation, const QltModeEntry& mode) {
  SurfaceRequest front;
  front.caps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE |
               (emulation ? unsigned(DDSCAPS_SYSTEMMEMORY) : 0u);
  front.backBufferCount = 1;
  int32_t r = _qlt_DirectDraw2->CreateSurface(front, &_qlt_FrontBuffer);
  if (r != DD_OK)
    return Fail(OpInitD3D, "_qlt_DirectDraw2->CreateSurface(&ddsd, &_qlt_FrontBuffer, NULL)", r);
  r = _qlt_FrontBuffer->GetAttachedSurface(DDSCAPS_BACKBUFFER, &_qlt_BackBuffer);
  if (r != DD_OK)
    return Fail(OpInitD3D, "_qlt_FrontBuffer->GetAttachedSurface(&ddscaps, &_qlt_BackBuffer)", r);
  SurfaceRequest z;
  z.caps = DDSCAPS_ZBUFFER | (emulation ? unsigned(DDSCAPS_SYSTEMMEMORY) : 0u);
  z.width = mode.width;
  z.height = mode.height;
  z.zBufferBitDepth = 16;
  r = _qlt_DirectDraw2->CreateSurface(z, &_qlt_ZBuffer);
  if (r != DD_OK) return Fail(OpInitD3D, "_qlt_DirectDraw2->CreateSurface( &ddsd, &_qlt_ZBuffer, NULL )", r);
  _qlt_FrontBuffer3 = _qlt_FrontBuffer;
  _qlt_BackBuffer3 = _qlt_BackBuffer;
  _qlt_ZBuffer3 = _qlt_ZBuffer;
  r = _qlt_BackBuffer3->AddAttachedSurface(_qlt_ZBuffer3);
  if (r != DD_OK) return Fail(OpInitD3D, "_qlt_BackBuffer3->AddAttachedSurface( _qlt_ZBuffer3 )", r);
  return 1;
}

int CreateDevice() {
  const char* call =
      "_qlt_Direct3D->CreateDevice(_qlt_DriverList[_qlt_CurrentDriver].Guid, _qlt_BackBuffer, &_qlt_Device)";
  // Only a device that Direct3D listed can be created.
  const QltD3DDriverEntry& driver = _qlt_DriverList[_qlt_CurrentDriver];
  const QltGuid& wanted = _qlt_CurrentDriver ? IID_IDirect3DHALDevice : IID_IDirect3DRGBDevice;
  if (!SameGuid(driver.Guid, wanted)) return Fail(OpInitD3D, call, DDERR_INVALIDPARAMS);
  _qlt_Device = new Direct3DDevice();
  const int32_t r = _qlt_Device->SetRenderTarget(&_qlt_BackBuffer->Pixels(), &_qlt_ZBuffer->Pixels());
  if (r != D3D_OK) return Fail(OpInitD3D, call, r);
  if (_qlt_Device == nullptr) return Fail(OpInitD3D, "_qlt_Device==NULL", 0);
  return 1;
}

int CreateViewport(int width, int height) {
  int32_t r = _qlt_Device->CreateViewport(&_qlt_Viewport);
  if (r != D3D_OK) return Fail(OpInitD3D, "_qlt_Direct3D->CreateViewport(&_qlt_Viewport, NULL)", r);
  r = _qlt_Device->AddViewport(_qlt_Viewport);
  if (r != D3D_OK) return Fail(OpInitD3D, "_qlt_Device->AddViewport(_qlt_Viewport)", r);
  D3DVIEWPORT2 viewport{};
  viewport.dwSize = sizeof viewport;
  viewport.dwWidth = uint32_t(width);
  viewport.dwHeight = uint32_t(height);
  viewport.dvClipX = -1.0f;
  viewport.dvClipWidth = 2.0f;
  viewport.dvClipY = 0.75f * (float(width) / float(height)) * (float(height) / float(width));
  viewport.dvClipHeight = 2.0f * viewport.dvClipY;
  viewport.dvMinZ = 0.0f;
  viewport.dvMaxZ = 1.0f;
  r = _qlt_Device->SetViewport2(_qlt_Viewport, &viewport);
  if (r != D3D_OK) return Fail(OpInitD3D, "_qlt_Viewport->SetViewport2(&viewport)", r);
  r = _qlt_Device->SetCurrentViewport(_qlt_Viewport);
  if (r != D3D_OK) return Fail(OpInitD3D, "_qlt_Device->SetCurrentViewport(_qlt_Viewport)", r);
  return 1;
}

D3DCOLORVALUE Colour(const QltColorValue& c) { return {c.r, c.g, c.b, c.a}; }

int CreateBackground() {
  const char* call = "_qlt_Viewport->SetBackground(_qlt_Material[0].hMaterial)";
  const QltMaterial* background = qlt_GetMaterial(0);
  int32_t r = _qlt_Device->CreateMaterial(&_qlt_BackgroundMaterialHandle);
  if (r != D3D_OK) return Fail(OpInitD3D, call, r);
  D3DMATERIAL data{};
  data.dwSize = sizeof data;
  data.diffuse = Colour(background->diffuse);
  data.ambient = Colour(background->ambient);
  data.specular = Colour(background->specular);
  data.emissive = Colour(background->emissive);
  data.power = background->power;
  r = _qlt_Device->SetMaterial(_qlt_BackgroundMaterialHandle, &data);
  if (r == D3D_OK) r = _qlt_Device->SetBackground(_qlt_Viewport, _qlt_BackgroundMaterialHandle);
  if (r != D3D_OK) return Fail(OpInitD3D, call, r);
  return 1;
}

uint32_t FloatBits(float value) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  return bits;
}

void SetRenderStates() {
  Direct3DDevice& d = *_qlt_Device;
  d.SetRenderState(D3DRENDERSTATE_ANTIALIAS, D3DANTIALIAS_NONE);
  d.SetRenderState(D3DRENDERSTATE_FILLMODE, D3DFILL_SOLID);
  d.SetRenderState(D3DRENDERSTATE_SHADEMODE, D3DSHADE_GOURAUD);
  d.SetRenderState(D3DRENDERSTATE_TEXTUREMAG, D3DFILTER_NEAREST);
  d.SetRenderState(D3DRENDERSTATE_TEXTUREPERSPECTIVE, 1);
  d.GetRenderState(D3DRENDERSTATE_CULLMODE, &_qlt_CullMode);
  d.SetRenderState(D3DRENDERSTATE_ZENABLE, 1);
  d.SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, 1);
  d.SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_LESSEQUAL);
  d.SetRenderState(D3DRENDERSTATE_ZVISIBLE, 0);
  d.SetRenderState(D3DRENDERSTATE_FOGENABLE, uint32_t(_qlt_FogEnable));
  d.SetRenderState(D3DRENDERSTATE_FOGCOLOR, _qlt_FogColor);
  d.SetLightState(D3DLIGHTSTATE_FOGMODE, _qlt_FogEnable ? D3DFOG_LINEAR : D3DFOG_NONE);
  d.SetLightState(D3DLIGHTSTATE_FOGSTART, FloatBits(_qlt_FogStart));
  d.SetLightState(D3DLIGHTSTATE_FOGEND, FloatBits(_qlt_FogEnd));
  d.SetRenderState(D3DRENDERSTATE_SPECULARENABLE, uint32_t(_qlt_SpecularEnable));
  const uint32_t filter = _qlt_BilinearFilter ? D3DFILTER_LINEAR : D3DFILTER_NEAREST;
  d.SetRenderState(D3DRENDERSTATE_TEXTUREMAG, filter);
  d.SetRenderState(D3DRENDERSTATE_TEXTUREMIN, filter);
  d.SetRenderState(D3DRENDERSTATE_DITHERENABLE, uint32_t(_qlt_DitherEnable));
  d.SetRenderState(D3DRENDERSTATE_SHADEMODE, D3DSHADE_GOURAUD);
  d.SetRenderState(D3DRENDERSTATE_WRAPU, 0);
  d.SetRenderState(D3DRENDERSTATE_WRAPV, 0);
  d.SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, 1);
  d.SetRenderState(D3DRENDERSTATE_TEXTUREMAPBLEND, D3DTBLEND_MODULATE);
  d.SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA);
}

// The whole screen as the render area, its z-buffer and colour cleared.
int SetFullScreenRenderArea() {
  int width = 0, height = 0;
  qlt_ScreenSize(&width, &height, nullptr);
  return qlt_SetRenderArea(1, 1, 0.0f, float(width - 1), 0.0f, float(height - 1));
}

}  // namespace

// ---- Public operations ------------------------------------------------------------------

int qlt_Enumerate(void* instance, const char* title, QltSelectCallback selectCallback) {
  if (_qlt_EnumerateCalled)
    return Fail("qlt_Enumerate", "This application has already called qlt_Enumerate() at least once!", 0);
  _qlt_EnumerateCalled = 1;
  _qlt_hInstance = instance;
  _qlt_Title = title;
  _qlt_SelectCallback = selectCallback;
  if (selectCallback == nullptr)
    return Fail(OpEnumerate,
                "Failure or _qlt_Enumerate() Dialog Box not implemented properly\n\nContact Developer.", 0);
  return _qlt_Enumerate();
}

int _qlt_SetDisplayMode(int modeNumber) {
  if (modeNumber < 0 || modeNumber > QltModeNumbers)
    return Fail(OpSetMode, "Unsupported Video Mode - The passed mode was <0 or >8", 0);
  int index = -1;
  if (modeNumber == 0 && _qlt_ModeCount > 0) index = 0;
  for (int i = 0; modeNumber != 0 && i < _qlt_ModeCount && index < 0; ++i)
    if (_qlt_ModeList[i].modeNumber == modeNumber) index = i;
  if (index < 0) {
    char message[64];
    snprintf(message, sizeof message, "Unsupported Video Mode - %d", modeNumber);
    return Fail(OpSetMode, message, 0);
  }
  if (_qlt_DirectDraw2 == nullptr)
    return Fail(OpSetMode, "_qlt_DirectDraw2->SetDisplayMode()", DDERR_GENERIC);
  const QltModeEntry& mode = _qlt_ModeList[index];
  const int32_t r = _qlt_DirectDraw2->SetDisplayMode(mode.width, mode.height, 16);
  if (r != DD_OK) return Fail(OpSetMode, "_qlt_DirectDraw2->SetDisplayMode()", r);
  _qlt_CurrentMode = index;
  return 1;
}

int _qlt_InitializeD3D() {
  _qlt_Direct3D = _qlt_DirectDraw2;
  D3DDeviceOffer offers[QltMaxDevices];
  const int offerCount = Direct3DDevices(offers);
  int accepted = 0;
  for (int i = 0; i < offerCount; ++i) _qlt_EnumD3DDriversCallback(offers[i], &accepted);

  const QltModeEntry& mode = _qlt_ModeList[_qlt_CurrentMode];
  if (!CreateFlipChain(!_qlt_HardwareDevice, mode) || !CreateDevice() ||
      !CreateViewport(mode.width, mode.height) || !CreateBackground() || !_qlt_CreateLight(OpInitD3D))
    return 0;
  if (!_qlt_ApplyAmbient(OpInitD3D)) return 0;
  _qlt_Device->BeginScene();
  _qlt_Device->SetTransform(D3DTRANSFORMSTATE_WORLD, &_qlt_WorldMatrix);
  _qlt_Device->SetTransform(D3DTRANSFORMSTATE_VIEW, &_qlt_ViewMatrix);
  _qlt_Device->SetTransform(D3DTRANSFORMSTATE_PROJECTION, &_qlt_ProjectionMatrix);
  _qlt_Device->EndScene();
  SetRenderStates();
  return SetFullScreenRenderArea();
}

int qlt_Initialize(void* window, float worldSize, float fieldOfViewDegrees) {
  _qlt_ghWnd = window;
  _qlt_CooperativeLevelSet = 0;
  if (_qlt_InitializeCalled) return Fail(OpInitialize, "This application has already been initailized!", 0);
  _qlt_InitializeCalled = 1;
  ResetState();
  if (!_qlt_Enumerated)
    return Fail(OpInitialize, "Error:\n\nApplication did not call qlt_Enumerate()\nprior to qlt_Initialize()",
                0);
  _qlt_DeviceListIndex = _qlt_ChosenDevice;
  _qlt_HardwareDevice = _qlt_CurrentDriver = _qlt_ChosenDevice != 0 ? 1 : 0;
  if (!_qlt_InitTimer()) return 0;
  SetSceneDefaults(worldSize, fieldOfViewDegrees);

  _qlt_DirectDraw = new Display(CurrentDisplaySettings());
  _qlt_DirectDraw2 = _qlt_DirectDraw;
  _qlt_CooperativeLevelSet = 1;
  int32_t r = _qlt_DirectDraw2->SetCooperativeLevel(window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE);
  if (r != DD_OK)
    return Fail(OpInitialize,
                "_qlt_DirectDraw2->SetCooperativeLevel(_qlt_ghWnd, DDSCL_FULLSCREEN|DDSCL_EXCLUSIVE)", r);
  _qlt_ModeCount = 0;
  EnumDisplayModes(*_qlt_DirectDraw2, nullptr);
  if (_qlt_ModeCount == 0)
    return Fail(OpInitialize, "No 16 Bit-Per-Pixel Modes Supported on this system!", 0);
  if (!_qlt_SetDisplayMode(_qlt_ChosenMode) && !_qlt_SetDisplayMode(0))
    return Fail(OpInitialize, "FATAL ERROR: Can't set display mode !!!", 0);
  if (!_qlt_InitializeD3D()) return 0;

  EnumTextureFormats();
  if (!ChooseTextureFormats()) return 0;
  if (!qlt_PageFlip(1, 1)) return 0;
  if (_qlt_ModeList[_qlt_CurrentMode].bitsPerPixel == 16 && !ReadGreenBits()) return 0;
  int width = 0, height = 0;
  qlt_ScreenSize(&width, &height, nullptr);
  if (!SetFullScreenRenderArea()) return 0;
  const uint16_t black = qlt_MakeCompatible16bppColor(0.0f, 0.0f, 0.0f);
  if (!PaintBackBuffer(black)) return 0;
  if (!qlt_PageFlip(1, 1)) return 0;
  if (!PaintBackBuffer(black)) return 0;
  _qlt_LineClip = {0, 0, width - 1, height - 1};
  _qlt_Initialized = 1;
  return 1;
}

int qlt_ScreenSize(int* outWidth, int* outHeight, int* outBitsPerPixel) {
  // Before a mode is set there is no screen: all zero.
  const bool known = _qlt_ModeCount > 0 && _qlt_CurrentMode >= 0 && _qlt_CurrentMode < _qlt_ModeCount;
  const QltModeEntry mode = known ? _qlt_ModeList[_qlt_CurrentMode] : QltModeEntry{};
  if (outWidth) *outWidth = mode.width;
  if (outHeight) *outHeight = mode.height;
  if (outBitsPerPixel) *outBitsPerPixel = mode.bitsPerPixel;
  return mode.modeNumber;
}

int _qlt_RestoreSurfaces() {
  if (!_qlt_Initialized) return 1;
  for (DisplaySurface* s : {_qlt_FrontBuffer3, _qlt_BackBuffer3, _qlt_ZBuffer3})
    if (s && s->IsLost() != DD_OK) s->Restore();
  _qlt_RestoreTextureSlots();
  _qlt_SetTime(_qlt_GetTime());
  return 1;
}

void qlt_Shutdown() {
  if (_qlt_ShutdownCalled || !_qlt_CooperativeLevelSet) return;
  _qlt_ShutdownCalled = 1;
  if (_qlt_RenderActive && _qlt_Device) qlt_RenderEnd();
  _qlt_RenderActive = 0;
  _qlt_ghWnd = nullptr;
  qlt_FreeMaterials();
  _qlt_FreeAllBitmaps();
  if (_qlt_Device) {
    if (_qlt_BackgroundMaterialHandle) _qlt_Device->ReleaseMaterial(_qlt_BackgroundMaterialHandle);
    if (_qlt_Light) {
      if (_qlt_Viewport) _qlt_Device->DeleteLight(_qlt_Viewport, _qlt_Light);
      _qlt_Device->ReleaseLight(_qlt_Light);
    }
    if (_qlt_Viewport) {
      _qlt_Device->DeleteViewport(_qlt_Viewport);
      _qlt_Device->ReleaseViewport(_qlt_Viewport);
    }
    delete _qlt_Device;
  }
  if (_qlt_DirectDraw2) {
    if (_qlt_ZBuffer3) {
      if (_qlt_BackBuffer3) _qlt_BackBuffer3->DeleteAttachedSurface(_qlt_ZBuffer3);
      _qlt_DirectDraw2->Release(_qlt_ZBuffer3);
    }
    // The back buffer goes with the front surface it was made with.
    if (_qlt_FrontBuffer3) _qlt_DirectDraw2->Release(_qlt_FrontBuffer3);
    delete _qlt_DirectDraw2;
  }
  ResetObjects();
  _qlt_Initialized = 0;
}

void _qlt_ResetLibraryForTests() {
  if (_qlt_CooperativeLevelSet) qlt_Shutdown();
  _qlt_FreeAllBitmaps();
  delete _qlt_Device;
  delete _qlt_DirectDraw2;
  ResetObjects();
  memset(_qlt_DeviceList, 0, sizeof _qlt_DeviceList);
  memset(_qlt_DeviceName, 0, sizeof _qlt_DeviceName);
  memset(_qlt_DeviceModes, 0, sizeof _qlt_DeviceModes);
  _qlt_DeviceListIndex = 0;
  _qlt_ModeCount = _qlt_CurrentMode = 0;
  _qlt_Enumerated = _qlt_EnumerateCalled = _qlt_InitializeCalled = _qlt_ShutdownCalled = 0;
  _qlt_CooperativeLevelSet = _qlt_HardwareDevice = _qlt_Initialized = _qlt_RenderActive = 0;
  _qlt_GreenBits = 0;
  _qlt_Direct3DOffer = QltDirect3DOffer();
  memset(_qlt_TextureFormat, 0, sizeof _qlt_TextureFormat);
}
