// Vertex normals of the PolyList. Adjacency is "a vertex at exactly the same
// position", so instead of comparing every selected vertex with the whole
// table, vertices are grouped by position once; each selected vertex then
// walks only its own group, in table order, so that its sum of face normals
// is added in exactly the order of a full-table scan and rounds identically.
#include "model/normals.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "model/model.h"
#include "model/vertex_groups.h"
#include "render/progress_box.h"

int averageAcrossMaterials = 0;

namespace {

constexpr int MaxPolygons = MaxVertices / 3;
float faceNormal[MaxPolygons][3];

const char* const NormalsLine1 = "Calculating Normals...";
const char* const NormalsLine2 = "Please Wait...";

// Angle between two unit normals in degrees; NaN when rounding pushed the
// dot product outside -1..1 or a normal is NaN.
float AngleDegrees(const float n[3], const float m[3]) {
  const float dot = n[0] * m[0] + n[1] * m[1] + n[2] * m[2];
  return std::acos(dot) * 180.0f / 3.14159265358979f;
}

// The smoothed normal of selected vertex k.
void SmoothVertex(int k, float maxAngle) {
  ModelVertex& vertex = gModel.vertices[k];
  const int polygon = k / 3;
  const float* n = faceNormal[polygon];
  // A polygon of zero area (coincident or collinear corners) has no
  // direction to give; its vertices keep the normals they had rather than
  // taking NaN into the model.
  if (!std::isfinite(n[0]) || !std::isfinite(n[1]) || !std::isfinite(n[2])) return;
  // Summed in table order, the own polygon in its place among them, so that
  // every vertex of a point that smooths over the same polygons gets the
  // same bits and exports as one shared vertex.
  float sum[3] = {0, 0, 0};
  int count = 0;
  bool ownAdded = false;
  const bool anyMaterial = averageAcrossMaterials != 0;
  for (int j = groupHead[k]; j != NoVertex; j = groupNext[j]) {
    const int other = j / 3;
    const float* m = faceNormal[other];
    if (other == polygon) {
      if (ownAdded) continue;
      ownAdded = true;
      sum[0] += n[0];
      sum[1] += n[1];
      sum[2] += n[2];
      ++count;
      continue;
    }
    if (!anyMaterial && gModel.vertices[j].material != vertex.material) continue;
    const float angle = AngleDegrees(n, m);
    if (-maxAngle < angle && angle < maxAngle) {
      sum[0] += m[0];
      sum[1] += m[1];
      sum[2] += m[2];
      ++count;
    }
  }
  const float x = sum[0] / float(count);
  const float y = sum[1] / float(count);
  const float z = sum[2] / float(count);
  const float length = std::sqrt(x * x + y * y + z * z);
  // Corners so far apart that the squares overflow give a face normal of
  // length 0; such a vertex keeps its normal too instead of storing NaN.
  if (!(length > 0.0f) || !std::isfinite(length)) return;
  vertex.nx = x / length;
  vertex.ny = y / length;
  vertex.nz = z / length;
}

}  // namespace

void FaceNormal(int polygon, float out[3]) {
  const ModelVertex* p = &gModel.vertices[3 * polygon];
  const float ax = p[1].x - p[0].x, ay = p[1].y - p[0].y, az = p[1].z - p[0].z;
  const float bx = p[2].x - p[0].x, by = p[2].y - p[0].y, bz = p[2].z - p[0].z;
  const float x = ay * bz - az * by;
  const float y = az * bx - ax * bz;
  const float z = ax * by - ay * bx;
  const float length = std::sqrt(x * x + y * y + z * z);
  out[0] = x / length;
  out[1] = y / length;
  out[2] = z / length;
}

void CalculateNormals(float maxAngle) { CalculateNormals(maxAngle, NormalsLine1, NormalsLine2); }

void CalculateNormals(float maxAngle, const char* progressLine1, const char* progressLine2) {
  const int count = gModel.vertexCount;
  if (count <= 0 || count > MaxVertices) return;
  ProgressScope progress;
  ProgressUpdate(progressLine1, progressLine2, 0);

  GroupVertices(count, GroupKey::Position);
  // A trailing partial polygon still has a face normal (from the records
  // after the count), as a full-table scan would compute it.
  const int polygons = (count + 2) / 3;
  for (int t = 0; t < polygons; ++t) FaceNormal(t, faceNormal[t]);

  PercentReporter report(progressLine1, progressLine2, count);
  for (int k = 0; k < count; ++k) {
    report.At(k);
    if (gModel.vertices[k].selected != 0) SmoothVertex(k, maxAngle);
  }
}
