// The rendering library's services that work without a display device:
// result-code texts, the last-error text, message boxes, file access, the
// timer and the material declarations.
#pragma once

#include <cstdint>

// ---- Result-code texts --------------------------------------------------
// Text of a DirectDraw/Direct3D result code; never null.
const char* qlt_ErrorText(int32_t result);

// ---- Last-error text ----------------------------------------------------
// Room for the text with its terminating NUL; a longer text is cut short.
constexpr int QltErrorStringSize = 2048;

// Replaces the error text with "%s\n%s\n%s\n" of operation, message and
// qlt_ErrorText(result).
void _qlt_SetError(const char* operation, const char* message, int32_t result);
const char* qlt_GetErrorString();

// ---- Message box --------------------------------------------------------
// Every message and question of the program; returns the button pressed.
int MessageBoxSafe(const char* text, const char* caption, unsigned type);

// ---- Files --------------------------------------------------------------
enum QltFileFlags : int {
  QLT_FILE_READ = 0x02,
  QLT_FILE_WRITE = 0x04,
  QLT_FILE_CREATE = 0x08,
  QLT_FILE_TRUNCATE = 0x10,
  QLT_FILE_APPEND = 0x20,
};
enum QltSeekOrigin : int { QLT_SEEK_CURRENT = 1, QLT_SEEK_SET = 2, QLT_SEEK_END = 4 };

// The largest file opened for reading: above what any reader can hold (a
// 3DS file up to 256 MB, the others far less), so each reader still gives
// its own "too large" message, and below 4 GB, where qlt_FileSize wraps.
constexpr int64_t QltMaxReadFileSize = int64_t(1) << 30;

// Returns a handle, or -1 on failure. For reading, only a regular file of
// at most QltMaxReadFileSize bytes opens; a FIFO is refused without waiting.
int qlt_FileOpen(const char* name, int flags);
// 1 when the call succeeds (a short read still gives 1), else 0. The number
// of bytes moved is stored in *done when done is not null.
int qlt_FileRead(int handle, void* buffer, int32_t count, int32_t* done = nullptr);
int qlt_FileWrite(int handle, const void* buffer, int32_t count, int32_t* done = nullptr);
int qlt_FileClose(int handle);
int qlt_FileSeek(int handle, int32_t distance, int origin);
uint32_t qlt_FileSize(int handle);

// ---- Timer (1/1024 second) ----------------------------------------------
int _qlt_InitTimer();
uint32_t _qlt_GetTime();
void _qlt_SetTime(uint32_t value);
// The same two steps over a given counter reading and frequency, so that the
// arithmetic can be checked without waiting on the clock.
int _qlt_StartTimer(uint64_t counter, uint64_t frequency);
uint32_t _qlt_TimeAt(uint64_t counter);

// ---- Materials ----------------------------------------------------------
constexpr int QltMaxMaterials = 3000;
constexpr int QltNameSize = 129;
// Material 0 is the background, so one declaration fewer than the table
// holds can become a material.
constexpr int QltMaxDeclarations = QltMaxMaterials - 1;

struct QltColorValue {
  float r, g, b, a;
};

// A created material as the library holds it (the device fields come later).
struct QltMaterial {
  QltColorValue diffuse;   // a = 0.996 for a texture with an alpha bitmap
  QltColorValue ambient;   // the diffuse colour and alpha
  QltColorValue specular;  // a = 0
  QltColorValue emissive;  // a = 0
  float power;
  char textureName[QltNameSize];  // empty when none
  char alphaName[QltNameSize];    // empty when none
  int32_t hasTexture;
  int32_t hasAlpha;
};

// Appends a declaration; returns 1, or 0 when the queue is full.
int qlt_AddMaterial(float diffuseR, float diffuseG, float diffuseB, float alpha, float power,
                    float specularR, float specularG, float specularB, float emissiveR,
                    float emissiveG, float emissiveB, int hasTexture, const char* textureName,
                    int hasAlpha, const char* alphaName);
// Creates the declared materials and writes their handles, in declaration
// order, into outHandles (may be null). Returns 1, or 2 when a textured
// material could not be placed in video memory.
int qlt_CreateMaterials(int32_t* outHandles);
int qlt_FreeMaterials();
int qlt_SetBackgroundMaterialColor(float r, float g, float b);
int qlt_SetMaterial(int32_t handle);

// Read access for the viewer and the tests.
int qlt_MaterialCount();
int qlt_DeclarationCount();
// The created material with this handle, or null outside 0 .. count - 1.
const QltMaterial* qlt_GetMaterial(int32_t handle);
// The selected material, or -1 when none is (after the materials were
// rebuilt, so that the next selection takes effect in full).
int32_t qlt_CurrentMaterial();

// ---- Device enumeration, initialization and display modes -----------------
// The application's choice of device and display mode: gets the device
// count, names and mode table, writes the device index and the mode number
// (1 .. 8). Returns 1 when chosen, 0 when cancelled, -1 when the dialog
// itself failed.
using QltSelectCallback = int (*)(int deviceCount, char (*deviceNames)[128], int32_t (*deviceModes)[8],
                                  int* outDevice, int* outMode);

// Once, before qlt_Initialize. Returns 1 or 0 (reason in the error text).
int qlt_Enumerate(void* instance, const char* title, QltSelectCallback selectCallback);
// Once, after qlt_Enumerate: full-screen, 16-bit, double-buffered and
// z-buffered device with one viewport and one directional light.
int qlt_Initialize(void* window, float worldSize, float fieldOfViewDegrees);
// Each output may be null; returns the current display mode number.
int qlt_ScreenSize(int* outWidth, int* outHeight, int* outBitsPerPixel);
// Releases everything; only the first call does anything.
void qlt_Shutdown();

// ---- Frames -------------------------------------------------------------------
// Orientation of the camera or of an object: a 3 x 3 rotation row by row,
// then the position in world units.
struct QltOrientation {
  float rotation[9];
  float position[3];
};

// Opens the frame with this camera; the view holds only the camera's
// rotation, its position is taken off every object's position.
int qlt_RenderBegin(const QltOrientation* camera);
// Draws the queued translucent triangles back to front and closes the
// frame; *outCount (may be null) gets the triangles the library drew in it.
int qlt_RenderEnd(int32_t* outCount = nullptr);
// The transform of the triangles that follow; inside a frame only.
int qlt_SetMatrix(const QltOrientation* object);
// Shows the back buffer, then clears the render area of the new one: the
// z-buffer when clearZ is 1, the colour when clearTarget is 1.
int qlt_PageFlip(int clearZ, int clearTarget);
// The rectangle that is rendered and cleared, in pixels (right and bottom
// inclusive); rebuilds the viewport and its light.
int qlt_SetRenderArea(int clearZ, int clearTarget, float left, float right, float top, float bottom);
// (x, y, z) points towards the light and must not be the zero vector.
int qlt_SetLightLocationColor(float x, float y, float z, float r, float g, float b);

// Render options: kept, applied at every qlt_RenderBegin and at once inside
// a frame.
int qlt_SetSpecular(int on);
int qlt_SetBilinearFiltering(int on);
int qlt_SetDithering(int on);
// A D3DCULL value; the one the device accepts is kept.
int qlt_SetCullMode(uint32_t mode);
int qlt_SetFog(int on, float r, float g, float b, float start, float end);

// Triangle lists inside a frame, with the current material and transform.
struct D3DVERTEX;
// Draws count / 3 triangles at once.
int qlt_DrawTriangles(const D3DVERTEX* vertices, int count);
// Keeps one triangle (three vertices) for the end of the frame, where the
// queue is drawn farthest first; at most QltMaxTranslucentTriangles a frame.
constexpr int QltMaxTranslucentTriangles = 1499;
int qlt_QueueTranslucentTriangle(const D3DVERTEX* vertices);

// ---- Bitmaps, blits, lines and colour ---------------------------------------
// Index -1 stands for the back buffer in qlt_BitmapBlit.
constexpr int QltBackBufferIndex = -1;

int qlt_BitmapLoad(int* outIndex, const char* fileName, int colourKeyed, int keyX, int keyY);
// Rectangles with right and bottom exclusive; the source is stretched.
int qlt_BitmapBlit(int source, int destination, int srcLeft, int srcRight, int srcTop, int srcBottom,
                   int dstLeft, int dstRight, int dstTop, int dstBottom);
int qlt_BitmapFree(int index);
int qlt_BitmapWidth(int index);
int qlt_BitmapHeight(int index);
class DisplaySurface;
DisplaySurface* qlt_BitmapSurface(int index);
int qlt_DrawLine(int x1, int y1, int x2, int y2, uint16_t colour);
uint16_t qlt_MakeCompatible16bppColor(float r, float g, float b);

// ---- Conversion to square 24-bit bitmaps ----------------------------------------
// The extension of a texture file name with its dot, "" when it has none.
const char* _qlt_FileExtension(const char* name);
int _qlt_AnyBMPtoSquare24BitBMP(const char* sourceFile, const char* targetFile);
// Leaves "temp_ppm.bmp" in the current directory.
int _qlt_AnyPPMtoSquare24BitBMP(const char* sourceFile, const char* targetFile);
// The first half of the above: the PPM image unchanged in size as the 24-bit
// bitmap "temp_ppm.bmp", failures reported under the given operation name.
int _qlt_PPMto24BitBMP(const char* sourceFile, const char* operation);
