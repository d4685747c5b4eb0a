// Export of the Model as a ray-tracer scene: camera, background and light as
// the viewer shows them, one declared texture per material and the polygons
// as smooth triangles; textured materials get their bitmap as a tinted PPM.
#pragma once

#include <string>
#include <vector>

// What the scene takes from the viewer rather than from the Model.
struct PovScene {
  float camera[3];      // panX, panY, cameraZ
  float background[3];  // red, green, blue
  float light[3];       // red, green, blue
  std::string baseName; // names the texture files "<baseName>_pov_<letter>.ppm"
};

// The file name of a path without its folder and extension.
std::string SceneBaseName(const char* path);

// The letter that names material m in the scene and in its texture file.
char PovMaterialLetter(int material);

// Writes the scene, then the texture files beside it. Returns 1 when the
// scene and every texture it names were written; failures and warnings are
// shown in message boxes. A scene that cannot be written completely leaves
// an existing file as it was, and no texture file is written then.
int ExportPOV(const char* path, const PovScene& scene);

// What the last ExportPOV left undone although its scene was written: the
// texture files it names that could not be made, each as
// "scene_pov_A.ppm (wood.cel)". Empty when the scene was not written.
const std::vector<std::string>& PovMissingTextures();

// Writes bitmapFile, tinted by the colour and reduced to the display's
// colour depth, as a binary PPM file. Returns 1, or 0 with the reason in the
// library's error text (load failures) or shown (file failures).
int WritePPMTexture(const char* bitmapFile, const char* ppmFile, float red, float green, float blue);

// Converts a PPM image into the 24-bit bitmap "temp_ppm.bmp" in the current
// folder, unchanged in size. Returns 1, or 0 with the reason in the
// library's error text.
int PPMto24BitBMP(const char* ppmFile);

extern const char* const EmissiveWarningText;
extern const char* const SpecularWarningText;
