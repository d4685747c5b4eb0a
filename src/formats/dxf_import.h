// Import of AutoCAD DXF files in their text form: 3DFACE entities and
// polyface meshes become triangles, each layer met on a face a material.
#pragma once

// The layer table: a layer's position is its material index.
constexpr int MaxDxfLayers = 100;
constexpr int MaxDxfLayerName = 255;

// Replaces the Model with the faces of the file. Returns 1 when the Model was
// replaced (also by an empty one, after a warning), 0 after a message when
// the file could not be read; the Model is then untouched.
//
// Where the file exceeds a table the import keeps what fits and says so once
// in a warning: faces of layers beyond the 100th go to the 100th layer's
// material, layer names are cut to 255 characters, polyface vertices beyond
// 32,768 and faces naming vertices their mesh lacks are left out, and faces
// beyond the Model's capacity are left out. The zero-area second triangles of
// four-corner faces whose fourth corner repeats the third or the first (as
// every triangle written to DXF does) are kept while there is room and
// dropped, all of them, when the real triangles need it.
int ImportDXF(const char* path);

// The importer's first step on the file's text in XText (after a byte order
// mark is gone): groups codes and values, each ending in ";".
void ReduceDxfText(const char* path);
