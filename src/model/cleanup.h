// The model-wide passes that keep the Model consistent and renderable.
#pragma once

#include <cstdint>

// The viewport background colour option, handed to the library whenever the
// materials are rebuilt.
extern float viewportBackground[3];

// Library handles of the viewer's three fixed marking materials.
extern int32_t normalMaterial;
extern int32_t hoverMaterial;
extern int32_t polyListMaterial;

// Removes unused materials, orders materials by decreasing alpha and polygons
// by material, and rebuilds the library's materials.
void CleanUpModel();

// Puts polygons with two coincident vertices into the PolyList and offers to
// delete them. Returns the number found.
int FindThinPolygons();

// Declares the three fixed materials and then every Model material, creates
// them and stores the handles. Shared by the clean-up and the Open command.
void RebuildLibraryMaterials();
