// The rendering library's global state: the display driver and mode tables
// filled by enumeration, the core display and 3D objects, the texture
// formats, the scene defaults and the flags of the library's life cycle.
// Every table is fixed in size; only the platform objects themselves (the
// display and the 3D device) are allocated, by the platform layer.
#pragma once

#include <cstdint>

#include "platform/device3d.h"
#include "platform/display.h"

// ---- Identifiers ------------------------------------------------------------
struct QltGuid {
  uint8_t bytes[16];
};

// ---- Display drivers and their modes ---------------------------------------
constexpr int QltMaxDevices = 16;
constexpr int QltDeviceNameSize = 128;
constexpr int QltModeNumbers = 8;  // display mode numbers 1 .. 8
constexpr int QltMaxModes = 40;

struct QltDeviceListEntry {
  QltGuid* lpGuid;  // null for the primary display driver, else &Guid
  QltGuid Guid;
};

// Values of _qlt_DeviceModes.
enum QltModeOffer : int32_t { QltModeAbsent = 0, QltModeOffered = 1, QltModeMemoryConstrained = 2 };

extern QltDeviceListEntry _qlt_DeviceList[QltMaxDevices];
// The number of entries during enumeration, the chosen entry afterwards.
extern int32_t _qlt_DeviceListIndex;
extern char _qlt_DeviceName[QltMaxDevices][QltDeviceNameSize];
extern int32_t _qlt_DeviceModes[QltMaxDevices][QltModeNumbers];

struct QltModeEntry {
  int32_t modeNumber;  // 1 .. 8, 0 for a size outside the mode table
  int32_t width;
  int32_t height;
  int32_t bitsPerPixel;
};
extern QltModeEntry _qlt_ModeList[QltMaxModes];
extern int32_t _qlt_ModeCount;
extern int32_t _qlt_CurrentMode;  // index into _qlt_ModeList

// Width and height of mode number n at index n - 1.
extern const int32_t QltModeSizes[QltModeNumbers][2];

// ---- Direct3D devices -------------------------------------------------------
// What Direct3D says of one of its devices; only the fields the library reads.
constexpr uint32_t D3DDD_COLORMODEL = 0x1;
constexpr uint32_t D3DDD_DEVICEZBUFFERBITDEPTH = 0x100;
constexpr uint32_t DDBD_16 = 0x400;

struct D3DDEVICEDESC {
  uint32_t dwSize;
  uint32_t dwFlags;
  uint32_t dcmColorModel;  // D3DCOLOR_RGB ...
  uint32_t dwDeviceZBufferBitDepth;
};

struct QltD3DDriverEntry {
  QltGuid Guid;
  int32_t hardware;
  const char* description;
  const char* name;
  D3DDEVICEDESC deviceDesc;
};
extern QltD3DDriverEntry _qlt_DriverList[2];  // 0: RGB emulation, 1: HAL
extern int32_t _qlt_CurrentDriver;

// The devices Direct3D reports: the software (RGB) device always, and a
// hardware (HAL) device on machines that have 3D hardware. The software
// rasteriser can stand in for such hardware so that every branch that
// depends on it can be exercised.
struct QltDirect3DOffer {
  bool rgbDevice = true;
  bool halDevice = false;
};
extern QltDirect3DOffer _qlt_Direct3DOffer;

extern const QltGuid IID_IDirect3DRGBDevice;
extern const QltGuid IID_IDirect3DHALDevice;

// ---- Texture formats ----------------------------------------------------------
enum QltTextureFormatIndex : int { QltTex565 = 0, QltTex1555 = 1, QltTex4444 = 2, QltTex8888 = 3 };

// The parts of the surface description a texture format is judged by.
struct QltTextureFormatDesc {
  int32_t bitCount;
  int32_t alphaPixels;  // the format has alpha pixels
  uint32_t alphaMask, redMask, greenMask, blueMask;
  PixelFormat format;
};
struct QltTextureFormatEntry {
  int32_t supported;
  QltTextureFormatDesc ddsd;
};
extern QltTextureFormatEntry _qlt_TextureFormat[4];
extern int32_t _qlt_OpaqueTextureFormat;  // 0 = 565, 1 = 1555, 2 = 4444, 3 = 8888
extern int32_t _qlt_AlphaTextureFormat;   // 0 = none, 1 = 1555, 2 = 4444, 3 = 8888
extern int32_t _qlt_GreenBits;            // bits of the back buffer's green mask

// ---- Core objects (null / 0 when absent) ---------------------------------------
// IDirectDraw, IDirectDraw2 and IDirect3D2 are all views of one display.
extern Display* _qlt_DirectDraw;
extern Display* _qlt_DirectDraw2;
extern Display* _qlt_Direct3D;
extern DisplaySurface* _qlt_FrontBuffer;
extern DisplaySurface* _qlt_BackBuffer;
extern DisplaySurface* _qlt_ZBuffer;
extern DisplaySurface* _qlt_FrontBuffer3;
extern DisplaySurface* _qlt_BackBuffer3;
extern DisplaySurface* _qlt_ZBuffer3;
extern Direct3DDevice* _qlt_Device;
extern D3DVIEWPORTHANDLE _qlt_Viewport;
extern D3DLIGHTHANDLE _qlt_Light;
extern int32_t _qlt_LightCreated;
// The background material (material 0) as the device knows it.
extern D3DMATERIALHANDLE _qlt_BackgroundMaterialHandle;
extern void* _qlt_ghWnd;
extern void* _qlt_hInstance;
extern const char* _qlt_Title;

// ---- Scene defaults -----------------------------------------------------------
extern float _qlt_WorldSize;
extern float _qlt_FogStart, _qlt_FogEnd;
extern D3DCOLOR _qlt_FogColor;
extern int32_t _qlt_FogEnable, _qlt_SpecularEnable, _qlt_BilinearFilter, _qlt_DitherEnable;
extern uint32_t _qlt_CullMode;
extern D3DMATRIX _qlt_WorldMatrix, _qlt_ViewMatrix, _qlt_ProjectionMatrix;
extern float _qlt_NearPlane, _qlt_FarPlane, _qlt_FieldOfView;  // field of view in radians
extern D3DVECTOR _qlt_LightDirection;  // unit vector towards the light
extern D3DCOLORVALUE _qlt_LightColor;
extern float _qlt_AmbientR, _qlt_AmbientG, _qlt_AmbientB;

// ---- Frame --------------------------------------------------------------------------
// Left, right, top, bottom in pixels, as given to qlt_SetRenderArea.
struct QltRenderArea {
  float left, right, top, bottom;
};
extern QltRenderArea _qlt_RenderArea;
extern D3DVECTOR _qlt_CameraPosition;  // of the last qlt_RenderBegin

// Sets the ambient light state from _qlt_AmbientR/G/B; a failure is
// reported under `operation`.
int _qlt_ApplyAmbient(const char* operation);
// Creates the directional light from the stored direction and colour and
// adds it to the viewport; failures are reported under `operation`.
int _qlt_CreateLight(const char* operation);

// ---- Flags ----------------------------------------------------------------------
extern int32_t _qlt_Enumerated;
extern int32_t _qlt_EnumerateCalled, _qlt_InitializeCalled, _qlt_ShutdownCalled;
extern int32_t _qlt_CooperativeLevelSet;
extern int32_t _qlt_HardwareDevice;
extern int32_t _qlt_Initialized;
extern int32_t _qlt_RenderActive;

// ---- Bitmaps --------------------------------------------------------------------
constexpr int QltMaxBitmaps = 256;

struct QltBitmap {
  int32_t width;
  int32_t height;
  DisplaySurface* lpTMPSurface;
  DisplaySurface* lpSurface;  // free entry when null
  int32_t colorKeyed;
  int32_t keyLow;
  int32_t keyHigh;
};
extern QltBitmap _qlt_Bitmap[QltMaxBitmaps];
extern int32_t _qlt_BitmapIndex;  // count: highest used index + 1

struct QltClipRect {
  int32_t xmin, ymin, xmax, ymax;
};
extern QltClipRect _qlt_LineClip;

// ---- Internal operations ------------------------------------------------------------
int _qlt_SetDisplayMode(int modeNumber);
int _qlt_InitializeD3D();
int _qlt_RestoreSurfaces();
// Appends an empty, unkeyed size x size bitmap; returns 1 and its index.
int _qlt_MakeSquareBitmap(int size, int* outIndex);
// Releases every bitmap surface (shutdown).
void _qlt_FreeAllBitmaps();
// Puts every piece of library state back as at program start (tests only:
// the library itself runs through its life cycle once per process).
void _qlt_ResetLibraryForTests();
