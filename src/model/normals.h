// Vertex normals of the PolyList, smoothed across adjacent polygons (those
// with a vertex at exactly the same position) up to a maximum angle.
#pragma once

// Smoothing across materials: 1 = average adjacent polygons even if their
// materials differ. Reset by the smoothing dialog each time it opens.
extern int averageAcrossMaterials;

// Recomputes nx, ny, nz of every selected vertex.
void CalculateNormals(float maxAngle);
// The same pass under other progress lines (an importer names its file).
void CalculateNormals(float maxAngle, const char* progressLine1, const char* progressLine2);

// Unit face normal of polygon `polygon`, in single precision exactly as the
// smoothing pass computes it (NaN for a polygon with coincident vertices).
void FaceNormal(int polygon, float out[3]);
