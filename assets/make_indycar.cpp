// make_indycar: writes the sample model the program opens at start-up, an
// open-wheel race car, to the path given as the only argument.
//
// Everything is computed from the tables below, so every build writes the
// same file. The car is assembled from closed solids of three kinds:
//   lofts     rings swept along Z: the tub and nose, sidepods, engine cover
//   hexahedra eight corners: wings, endplates, pylons, suspension, windscreen
//   lathes    a profile turned about an axis: wheels and the helmet
// Each solid is wound counter-clockwise seen from outside, so the viewer can
// cull back faces. Units are metres: X right, Y up, Z forward, the nose
// towards +Z and the tyres standing on Y = 0.

#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "model/model.h"
#include "model/cleanup.h"
#include "model/native_file.h"
#include "model/projection.h"
#include "platform/bmp.h"
#include "platform/console/console_ui.h"

namespace {

// [SECTION] Vectors

struct Vec3 {
  float x, y, z;
};

Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 operator*(Vec3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
float Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 Cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float Length(Vec3 a) { return std::sqrt(Dot(a, a)); }
Vec3 Normalize(Vec3 a) { return a * (1.0f / Length(a)); }

const float Pi = 3.14159265f;

// [SECTION] Materials

enum CarMaterial {
  BodyRed,
  LiveryWhite,
  LiveryBlue,
  Carbon,
  TyreBlack,
  RimSilver,
  HelmetYellow,
  OpeningBlack,
  WindscreenGlass,
  SidepodDecal,
  CarMaterialCount
};

struct MaterialLook {
  float red, green, blue, alpha;
  float specularPower;  // 0 = matte
  float specular;       // grey level of the highlight
};

const MaterialLook Looks[CarMaterialCount] = {
    {0.82f, 0.04f, 0.05f, 1.0f, 24.0f, 0.6f},  // BodyRed: glossy paint
    {0.95f, 0.95f, 0.95f, 1.0f, 24.0f, 0.6f},  // LiveryWhite
    {0.08f, 0.22f, 0.75f, 1.0f, 24.0f, 0.6f},  // LiveryBlue
    {0.13f, 0.13f, 0.15f, 1.0f, 12.0f, 0.3f},  // Carbon: wings, floor, arms
    {0.06f, 0.06f, 0.06f, 1.0f, 4.0f, 0.1f},   // TyreBlack: broad dull sheen
    {0.78f, 0.78f, 0.82f, 1.0f, 48.0f, 0.9f},  // RimSilver: tight bright highlight
    {1.00f, 0.82f, 0.05f, 1.0f, 32.0f, 0.7f},  // HelmetYellow
    {0.03f, 0.03f, 0.03f, 1.0f, 0.0f, 0.0f},   // OpeningBlack: cockpit, inlets, visor
    {0.55f, 0.70f, 0.85f, 0.5f, 64.0f, 1.0f},  // WindscreenGlass: the one translucent
    {1.00f, 1.00f, 1.00f, 1.0f, 24.0f, 0.6f},  // SidepodDecal: white, so the texture shows as drawn
};

// The decal's bitmap, written beside the model; the model names it relative
// to its own folder.
const char* const DecalFile = "indycar_decal.bmp";

void FillMaterials() {
  for (int i = 0; i < CarMaterialCount; ++i) {
    const MaterialLook& look = Looks[i];
    ModelMaterial& m = gModel.materials[i];
    m = ModelMaterial{};  // no texture, no alpha bitmap, empty names
    m.red = look.red;
    m.green = look.green;
    m.blue = look.blue;
    m.alpha = look.alpha;
    m.specularPower = look.specularPower;
    m.specularRed = m.specularGreen = m.specularBlue = look.specular;
    m.emissiveRed = m.emissiveGreen = m.emissiveBlue = 0.0f;
  }
  ModelMaterial& decal = gModel.materials[SidepodDecal];
  decal.hasTexture = 1;
  std::snprintf(decal.textureFile, sizeof decal.textureFile, "%s", DecalFile);
  gModel.materialCount = CarMaterialCount;
}

// [SECTION] Emitting polygons

// While set, every emitted polygon is reflected in X (and its winding
// reversed to stay outward): the left side is the right side built again.
bool mirrorX = false;
bool tableFull = false;

bool Coincide(Vec3 a, Vec3 b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

void StoreVertex(Vec3 p, Vec3 n, int material) {
  ModelVertex& v = gModel.vertices[gModel.vertexCount++];
  v = ModelVertex{};
  v.x = mirrorX ? -p.x : p.x;
  v.y = p.y;
  v.z = p.z;
  v.nx = mirrorX ? -n.x : n.x;
  v.ny = n.y;
  v.nz = n.z;
  v.material = material;
}

// Appends one polygon with the given unit normals. Polygons that collapse
// (a solid's apex, a lathe's axis) are dropped: coincident corners would
// count as infinitely thin and have no face normal.
void AddTriangle(Vec3 p0, Vec3 p1, Vec3 p2, Vec3 n0, Vec3 n1, Vec3 n2, int material) {
  if (Coincide(p0, p1) || Coincide(p0, p2) || Coincide(p1, p2)) return;
  if (Length(Cross(p1 - p0, p2 - p0)) < 1e-7f) return;
  if (gModel.vertexCount + 3 > MaxVertices) {
    tableFull = true;
    return;
  }
  StoreVertex(p0, n0, material);
  StoreVertex(mirrorX ? p2 : p1, mirrorX ? n2 : n1, material);
  StoreVertex(mirrorX ? p1 : p2, mirrorX ? n1 : n2, material);
}

// A flat polygon: its own face normal at every corner.
void AddFlat(Vec3 p0, Vec3 p1, Vec3 p2, int material) {
  const Vec3 cross = Cross(p1 - p0, p2 - p0);
  if (Length(cross) < 1e-7f) return;
  const Vec3 n = Normalize(cross);
  AddTriangle(p0, p1, p2, n, n, n, material);
}

// A flat quad a-b-c-d, wound so that its face normal points along `outward`.
void AddQuadFacing(Vec3 a, Vec3 b, Vec3 c, Vec3 d, Vec3 outward, int material) {
  if (Dot(Cross(b - a, c - a) + Cross(c - a, d - a), outward) < 0.0f) {
    AddFlat(a, d, c, material);
    AddFlat(a, c, b, material);
  } else {
    AddFlat(a, b, c, material);
    AddFlat(a, c, d, material);
  }
}

// [SECTION] Hexahedra

// Corner k has bit 0 for +X, bit 1 for +Y and bit 2 for +Z of the box it
// was bent from. The solid must stay convex (faces may be slightly twisted),
// so that each face points away from the centre.
struct Hexahedron {
  Vec3 corner[8];
};

enum HexFace : unsigned {
  FaceLeft = 1u << 0,    // -X
  FaceRight = 1u << 1,   // +X
  FaceBottom = 1u << 2,  // -Y
  FaceTop = 1u << 3,     // +Y
  FaceBack = 1u << 4,    // -Z
  FaceFront = 1u << 5,   // +Z
  FaceAll = 63u
};

const int HexFaceCorners[6][4] = {{0, 2, 6, 4}, {1, 3, 7, 5}, {0, 1, 5, 4},
                                  {2, 3, 7, 6}, {0, 1, 3, 2}, {4, 5, 7, 6}};

// Emits the faces in `faces`; several hexahedra side by side leave out the
// faces they share so that no hidden walls show through a translucent part.
void AddHexahedron(const Hexahedron& h, int material, unsigned faces = FaceAll) {
  Vec3 centre{0, 0, 0};
  for (const Vec3& c : h.corner) centre = centre + c * 0.125f;
  for (int f = 0; f < 6; ++f) {
    if (!(faces & (1u << f))) continue;
    const Vec3& a = h.corner[HexFaceCorners[f][0]];
    const Vec3& b = h.corner[HexFaceCorners[f][1]];
    const Vec3& c = h.corner[HexFaceCorners[f][2]];
    const Vec3& d = h.corner[HexFaceCorners[f][3]];
    AddQuadFacing(a, b, c, d, (a + b + c + d) * 0.25f - centre, material);
  }
}

void AddBox(Vec3 low, Vec3 high, int material) {
  Hexahedron h;
  for (int k = 0; k < 8; ++k) {
    h.corner[k] = {(k & 1) ? high.x : low.x, (k & 2) ? high.y : low.y, (k & 4) ? high.z : low.z};
  }
  AddHexahedron(h, material);
}

// A plate in the XZ plane whose front edge (z = front) and back edge
// (z = back) sit at their own heights: wing elements with an angle of attack.
void AddWingPlate(float halfSpan, float back, float front, float backY, float frontY, float thickness,
                  int material) {
  Hexahedron h;
  for (int k = 0; k < 8; ++k) {
    const bool atFront = (k & 4) != 0;
    h.corner[k] = {(k & 1) ? halfSpan : -halfSpan,
                   (atFront ? frontY : backY) + ((k & 2) ? thickness : 0.0f), atFront ? front : back};
  }
  AddHexahedron(h, material);
}

// A slim bar from `from` to `to` with a rectangular section: suspension arms
// and pylons.
void AddBeam(Vec3 from, Vec3 to, float halfWidth, float halfHeight, int material) {
  const Vec3 along = Normalize(to - from);
  const Vec3 up0 = std::fabs(along.y) > 0.9f ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
  const Vec3 side = Normalize(Cross(along, up0)) * halfWidth;
  const Vec3 up = Normalize(Cross(side, along)) * halfHeight;
  Hexahedron h;
  for (int k = 0; k < 8; ++k) {
    const Vec3 base = (k & 4) ? to : from;
    h.corner[k] = base + side * ((k & 1) ? 1.0f : -1.0f) + up * ((k & 2) ? 1.0f : -1.0f);
  }
  AddHexahedron(h, material);
}

// [SECTION] Lofts

// One cross-section of a loft: a rounded rectangle (superellipse) centred on
// (centreX, centreY) at height z, with a flat-bottomed well pressed into its
// top to `wellFloor` (none when wellFloor is above the section).
struct Section {
  float z;
  float centreX, centreY;
  float halfWidth, halfHeight;
  float wellFloor;
};

constexpr int MaxRing = 24;
constexpr int MaxSections = 64;

// Decides the material of the quad between ring points j and j+1 of
// sections s and s+1 from its centre and whether it lies in the well.
using LoftPaint = int (*)(Vec3 centre, const Section& section, bool inWell);

float SignedPower(float value, float exponent) {
  const float magnitude = std::pow(std::fabs(value), exponent);
  return value < 0.0f ? -magnitude : magnitude;
}

// Ring points counter-clockwise in the XY plane (seen from +Z), starting
// half a step above +X so that the ring is symmetric about its vertical
// axis. Returns, per point, whether the well lowered it.
void BuildRing(const Section& s, int count, Vec3* ring, bool* lowered) {
  const float squareness = 2.0f / 3.0f;  // between an ellipse (1) and a box (0)
  for (int j = 0; j < count; ++j) {
    const float angle = 2.0f * Pi * (j + 0.5f) / count;
    const float cx = SignedPower(std::cos(angle), squareness);
    const float sy = SignedPower(std::sin(angle), squareness);
    Vec3 p{s.centreX + s.halfWidth * cx, s.centreY + s.halfHeight * sy, s.z};
    lowered[j] = sy > 0.0f && std::fabs(cx) < 0.7f && p.y > s.wellFloor;
    if (lowered[j]) p.y = s.wellFloor;
    ring[j] = p;
  }
}

// A fan over the end ring, facing -Z at the back and +Z at the front.
void AddLoftCap(const Section& s, const Vec3* ring, int count, bool front, int material) {
  const Vec3 centre{s.centreX, s.centreY, s.z};
  for (int j = 0; j < count; ++j) {
    const Vec3& a = ring[j];
    const Vec3& b = ring[(j + 1) % count];
    if (front) AddFlat(centre, a, b, material);
    else AddFlat(centre, b, a, material);
  }
}

// Sweeps rings through the sections, which must be ordered by increasing z.
// With rings counter-clockwise seen from +Z and z increasing, the quad
// (ring k point j, ring k point j+1, ring k+1 point j+1, ring k+1 point j)
// faces outward even where the well makes the ring concave.
void AddLoft(const Section* sections, int sectionCount, int ringCount, LoftPaint paint, int backCap,
             int frontCap) {
  static Vec3 rings[MaxSections][MaxRing];
  static bool lowered[MaxSections][MaxRing];
  assert(sectionCount >= 2 && sectionCount <= MaxSections && "loft section table too small");
  assert(ringCount >= 3 && ringCount <= MaxRing && "loft ring table too small");
  for (int s = 0; s < sectionCount; ++s) BuildRing(sections[s], ringCount, rings[s], lowered[s]);
  for (int s = 0; s + 1 < sectionCount; ++s) {
    for (int j = 0; j < ringCount; ++j) {
      const int next = (j + 1) % ringCount;
      const Vec3 a = rings[s][j], b = rings[s][next], c = rings[s + 1][next], d = rings[s + 1][j];
      const bool inWell = lowered[s][j] || lowered[s][next] || lowered[s + 1][j] || lowered[s + 1][next];
      const int material = paint((a + b + c + d) * 0.25f, sections[s], inWell);
      AddFlat(a, b, c, material);
      AddFlat(a, c, d, material);
    }
  }
  AddLoftCap(sections[0], rings[0], ringCount, false, backCap);
  AddLoftCap(sections[sectionCount - 1], rings[sectionCount - 1], ringCount, true, frontCap);
}

// [SECTION] Lathes

// A profile point: `axial` along the lathe's axis and `radius` from it.
struct ProfilePoint {
  float axial, radius;
};

struct Lathe {
  Vec3 centre;
  Vec3 axis;            // unit
  Vec3 start, quarter;  // unit, perpendicular: the directions at 0 and 90 degrees
  int steps;            // around the axis
  bool smoothProfile;   // average the normals where profile segments meet
};

// Material of profile segment `segment` at step `step` around the axis.
using LathePaint = int (*)(int segment, int step, int steps);

// The outward normal of a profile segment in (axial, radial) terms: the
// profile runs with the solid on its left, from the axis out and back.
ProfilePoint SegmentNormal(ProfilePoint a, ProfilePoint b) {
  const float da = b.axial - a.axial, dr = b.radius - a.radius;
  const float length = std::sqrt(da * da + dr * dr);
  return {dr / length, -da / length};
}

ProfilePoint PointNormal(const ProfilePoint* profile, int count, int i, int segment, bool smooth) {
  if (!smooth) return SegmentNormal(profile[segment], profile[segment + 1]);
  ProfilePoint sum{0, 0};
  if (i > 0) {
    const ProfilePoint n = SegmentNormal(profile[i - 1], profile[i]);
    sum = {sum.axial + n.axial, sum.radius + n.radius};
  }
  if (i + 1 < count) {
    const ProfilePoint n = SegmentNormal(profile[i], profile[i + 1]);
    sum = {sum.axial + n.axial, sum.radius + n.radius};
  }
  const float length = std::sqrt(sum.axial * sum.axial + sum.radius * sum.radius);
  return {sum.axial / length, sum.radius / length};
}

Vec3 LatheDirection(const Lathe& l, int step) {
  const float angle = 2.0f * Pi * step / l.steps;
  return l.start * std::cos(angle) + l.quarter * std::sin(angle);
}

Vec3 LathePoint(const Lathe& l, ProfilePoint p, Vec3 direction) {
  return l.centre + l.axis * p.axial + direction * p.radius;
}

Vec3 LatheNormal(const Lathe& l, ProfilePoint n, Vec3 direction) {
  return Normalize(l.axis * n.axial + direction * n.radius);
}

// Turns the profile about the axis. Normals are smooth around the axis;
// along the profile they are flat per segment unless smoothProfile is set.
void AddLathe(const Lathe& l, const ProfilePoint* profile, int count, LathePaint paint) {
  for (int seg = 0; seg + 1 < count; ++seg) {
    const ProfilePoint p0 = profile[seg], p1 = profile[seg + 1];
    const ProfilePoint n0 = PointNormal(profile, count, seg, seg, l.smoothProfile);
    const ProfilePoint n1 = PointNormal(profile, count, seg + 1, seg, l.smoothProfile);
    const ProfilePoint flat = SegmentNormal(p0, p1);
    for (int k = 0; k < l.steps; ++k) {
      const Vec3 d0 = LatheDirection(l, k), d1 = LatheDirection(l, k + 1);
      const Vec3 a = LathePoint(l, p0, d0), b = LathePoint(l, p0, d1);
      const Vec3 c = LathePoint(l, p1, d1), d = LathePoint(l, p1, d0);
      const Vec3 na = LatheNormal(l, n0, d0), nb = LatheNormal(l, n0, d1);
      const Vec3 nc = LatheNormal(l, n1, d1), nd = LatheNormal(l, n1, d0);
      const Vec3 outward = LatheNormal(l, flat, LatheDirection(l, k) + LatheDirection(l, k + 1));
      const int material = paint(seg, k, l.steps);
      // The axis frame may be left- or right-handed; wind by the known normal.
      if (Dot(Cross(b - a, c - a) + Cross(c - a, d - a), outward) < 0.0f) {
        AddTriangle(a, d, c, na, nd, nc, material);
        AddTriangle(a, c, b, na, nc, nb, material);
      } else {
        AddTriangle(a, b, c, na, nb, nc, material);
        AddTriangle(a, c, d, na, nc, nd, material);
      }
    }
  }
}

// [SECTION] Body: tub, nose and cockpit

// Key sections of the tub from the gearbox (back) to the nose tip: z, half
// width, bottom and top. Sections between them are interpolated smoothly.
struct BodyKey {
  float z, halfWidth, bottom, top;
};

const BodyKey TubKeys[] = {
    {-1.95f, 0.15f, 0.16f, 0.46f}, {-1.60f, 0.22f, 0.14f, 0.54f}, {-1.20f, 0.30f, 0.12f, 0.62f},
    {-0.80f, 0.36f, 0.10f, 0.68f}, {-0.40f, 0.40f, 0.10f, 0.70f}, {0.20f, 0.40f, 0.10f, 0.70f},
    {0.50f, 0.37f, 0.10f, 0.70f},  {0.80f, 0.33f, 0.10f, 0.67f},  {1.10f, 0.28f, 0.10f, 0.62f},
    {1.50f, 0.22f, 0.11f, 0.55f},  {1.90f, 0.17f, 0.13f, 0.47f},  {2.20f, 0.13f, 0.15f, 0.40f},
    {2.40f, 0.09f, 0.17f, 0.34f},  {2.50f, 0.05f, 0.20f, 0.29f},
};
const int TubKeyCount = sizeof TubKeys / sizeof TubKeys[0];

const float CockpitBack = -0.30f, CockpitFront = 0.42f;
const float CockpitFloor = 0.36f;

float Smooth(float t) { return t * t * (3.0f - 2.0f * t); }

BodyKey TubAt(float z) {
  int i = 0;
  while (i + 2 < TubKeyCount && TubKeys[i + 1].z < z) ++i;
  const BodyKey& a = TubKeys[i];
  const BodyKey& b = TubKeys[i + 1];
  const float t = Smooth((z - a.z) / (b.z - a.z));
  return {z, a.halfWidth + (b.halfWidth - a.halfWidth) * t, a.bottom + (b.bottom - a.bottom) * t,
          a.top + (b.top - a.top) * t};
}

// Red paint with a white stripe along the spine and black inside the cockpit.
int PaintTub(Vec3 centre, const Section& section, bool inWell) {
  if (inWell) return OpeningBlack;
  const bool onTop = centre.y > section.centreY + 0.5f * section.halfHeight;
  if (onTop && std::fabs(centre.x) < 0.3f * section.halfWidth) return LiveryWhite;
  return BodyRed;
}

void AddTub() {
  const int sectionCount = 32;
  Section sections[sectionCount];
  const float back = TubKeys[0].z, front = TubKeys[TubKeyCount - 1].z;
  for (int s = 0; s < sectionCount; ++s) {
    const float z = back + (front - back) * s / (sectionCount - 1);
    const BodyKey k = TubAt(z);
    const bool cockpit = z > CockpitBack && z < CockpitFront;
    sections[s] = {z, 0.0f, 0.5f * (k.bottom + k.top), k.halfWidth, 0.5f * (k.top - k.bottom),
                   cockpit ? CockpitFloor : 10.0f};
  }
  AddLoft(sections, sectionCount, 16, PaintTub, BodyRed, BodyRed);
}

// The driver: shoulders in a blue suit filling the cockpit, and the helmet.
const int HelmetSegments = 10;

int PaintHelmet(int segment, int step, int steps) {
  // The lathe starts at +Z, so the middle of a step tells where it faces.
  const float angle = 2.0f * Pi * (step + 0.5f) / steps;
  if (segment >= 3 && segment <= 4 && std::cos(angle) > 0.5f) return OpeningBlack;  // visor
  if (segment <= 2 && std::fabs(std::sin(angle)) < 0.25f) return LiveryBlue;         // crown stripe
  return HelmetYellow;
}

void AddDriver() {
  AddBox({-0.20f, CockpitFloor, -0.28f}, {0.20f, 0.58f, -0.02f}, LiveryBlue);
  AddBox({-0.05f, 0.55f, -0.16f}, {0.05f, 0.66f, -0.06f}, OpeningBlack);  // neck

  // A sphere traced from the crown down, so that its normals face outward.
  ProfilePoint sphere[HelmetSegments + 1];
  const float radius = 0.13f;
  for (int i = 0; i <= HelmetSegments; ++i) {
    const float polar = Pi * i / HelmetSegments;
    sphere[i] = {radius * std::cos(polar), radius * std::sin(polar)};
  }
  const Lathe helmet{{0.0f, 0.73f, -0.10f}, {0, 1, 0}, {0, 0, 1}, {1, 0, 0}, 14, true};
  AddLathe(helmet, sphere, HelmetSegments + 1, PaintHelmet);
}

// A curved screen ahead of the cockpit, leaning back: segments of a thin
// shell, each a hexahedron, with the faces between segments left out.
void AddWindscreen() {
  const int segments = 8;
  const float centreZ = 0.12f, baseY = 0.60f, topY = 0.82f;
  const float baseRadius = 0.34f, topRadius = 0.27f, thickness = 0.012f;
  const float spread = 65.0f * Pi / 180.0f;
  for (int i = 0; i < segments; ++i) {
    Hexahedron h;  // corner bits: next angle, top edge, outer surface
    for (int k = 0; k < 8; ++k) {
      const float angle = -spread + 2.0f * spread * (i + ((k & 1) ? 1 : 0)) / segments;
      const float radius = ((k & 2) ? topRadius : baseRadius) + ((k & 4) ? thickness : 0.0f);
      h.corner[k] = {radius * std::sin(angle), (k & 2) ? topY : baseY, centreZ + radius * std::cos(angle)};
    }
    unsigned faces = FaceBottom | FaceTop | FaceBack | FaceFront;
    if (i == 0) faces |= FaceLeft;
    if (i == segments - 1) faces |= FaceRight;
    AddHexahedron(h, WindscreenGlass, faces);
  }
}

// [SECTION] Engine cover, sidepods, floor

int PaintCover(Vec3 centre, const Section& section, bool) {
  const bool onTop = centre.y > section.centreY + 0.5f * section.halfHeight;
  return onTop && std::fabs(centre.x) < 0.3f * section.halfWidth ? LiveryWhite : BodyRed;
}

// The engine cover rises into the airbox over the driver's head; its front
// end is the black intake.
void AddEngineCover() {
  const BodyKey keys[] = {{-2.05f, 0.08f, 0.40f, 0.50f}, {-1.80f, 0.12f, 0.42f, 0.58f},
                          {-1.40f, 0.18f, 0.46f, 0.70f}, {-1.00f, 0.20f, 0.50f, 0.84f},
                          {-0.65f, 0.17f, 0.54f, 0.96f}, {-0.45f, 0.14f, 0.58f, 1.02f},
                          {-0.33f, 0.11f, 0.60f, 1.01f}};
  const int count = sizeof keys / sizeof keys[0];
  Section sections[count];
  for (int s = 0; s < count; ++s) {
    const BodyKey& k = keys[s];
    sections[s] = {k.z, 0.0f, 0.5f * (k.bottom + k.top), k.halfWidth, 0.5f * (k.top - k.bottom), 10.0f};
  }
  AddLoft(sections, count, 16, PaintCover, BodyRed, OpeningBlack);
}

// The outer flank carries the decal; the rest is white with a blue band.
int PaintSidepod(Vec3 centre, const Section& section, bool) {
  const float height = (centre.y - section.centreY) / section.halfHeight;
  const float side = (centre.x - section.centreX) / section.halfWidth;
  if (side > 0.6f && std::fabs(height) < 0.7f) return SidepodDecal;
  return height > 0.15f && height < 0.55f ? LiveryBlue : LiveryWhite;
}

// The right sidepod; the left one is its mirror image. The open front is
// the radiator intake.
void AddSidepod() {
  // z, inner x, outer x, bottom, top
  const float keys[][5] = {{-1.30f, 0.30f, 0.42f, 0.12f, 0.26f}, {-1.05f, 0.32f, 0.56f, 0.12f, 0.34f},
                           {-0.75f, 0.34f, 0.68f, 0.12f, 0.42f}, {-0.35f, 0.36f, 0.76f, 0.12f, 0.49f},
                           {0.10f, 0.37f, 0.78f, 0.12f, 0.52f},  {0.40f, 0.38f, 0.78f, 0.13f, 0.52f},
                           {0.55f, 0.38f, 0.77f, 0.14f, 0.50f}};
  const int count = sizeof keys / sizeof keys[0];
  Section sections[count];
  for (int s = 0; s < count; ++s) {
    const float* k = keys[s];
    sections[s] = {k[0], 0.5f * (k[1] + k[2]), 0.5f * (k[3] + k[4]), 0.5f * (k[2] - k[1]),
                   0.5f * (k[4] - k[3]), 10.0f};
  }
  AddLoft(sections, count, 16, PaintSidepod, LiveryWhite, OpeningBlack);
}

void AddFloor() { AddBox({-0.78f, 0.04f, -1.05f}, {0.78f, 0.09f, 1.05f}, Carbon); }

// [SECTION] Wings

void AddFrontWing() {
  AddWingPlate(0.93f, 2.12f, 2.48f, 0.07f, 0.06f, 0.03f, Carbon);  // main plane
  AddWingPlate(0.93f, 1.93f, 2.14f, 0.17f, 0.10f, 0.02f, Carbon);  // flap, steeper
  for (float side : {-1.0f, 1.0f}) {
    AddBox({side > 0 ? 0.93f : -0.96f, 0.03f, 1.90f}, {side > 0 ? 0.96f : -0.93f, 0.27f, 2.52f},
           LiveryBlue);  // endplates
    AddBeam({0.06f * side, 0.10f, 2.20f}, {0.06f * side, 0.18f, 2.26f}, 0.012f, 0.03f, Carbon);
  }
}

void AddRearWing() {
  AddWingPlate(0.50f, -2.45f, -2.12f, 0.80f, 0.84f, 0.03f, Carbon);  // main plane
  AddWingPlate(0.50f, -2.60f, -2.40f, 0.99f, 0.88f, 0.02f, Carbon);  // flap
  for (float side : {-1.0f, 1.0f}) {
    AddBox({side > 0 ? 0.50f : -0.53f, 0.50f, -2.65f}, {side > 0 ? 0.53f : -0.50f, 1.04f, -2.05f},
           LiveryBlue);  // endplates
    AddBeam({0.07f * side, 0.40f, -2.10f}, {0.09f * side, 0.81f, -2.30f}, 0.012f, 0.04f, Carbon);  // pylons
  }
  AddBox({-0.13f, 0.16f, -2.35f}, {0.13f, 0.42f, -1.90f}, Carbon);  // gearbox
}

// [SECTION] Wheels and suspension

struct WheelSpec {
  float x, z;    // centre; the centre height equals the radius
  float radius;  // of the tyre
  float width;
};

const WheelSpec FrontWheel = {0.86f, 1.55f, 0.32f, 0.26f};
const WheelSpec RearWheel = {0.83f, -1.45f, 0.345f, 0.36f};

// The tyre and wheel as one closed profile, outboard face first: hub nut,
// dished rim, rim lip, sidewall, a tread with two grooves, the inboard
// sidewall and the inboard rim back to the axis. `axial` is outboard-positive.
const int WheelProfileCount = 24;
const int WheelTyreFirst = 6, WheelTyreLast = 21;  // segments painted as tyre

int BuildWheelProfile(const WheelSpec& w, ProfilePoint* p) {
  const float h = 0.5f * w.width, R = w.radius, rim = 0.62f * w.radius, groove = 0.012f;
  const float g1 = -0.25f * h, g2 = 0.25f * h, gw = 0.018f;
  const ProfilePoint points[WheelProfileCount] = {
      {h - 0.01f, 0.0f},          {h - 0.01f, 0.04f},        {h - 0.04f, 0.05f},
      {h - 0.05f, 0.07f},         {h - 0.03f, rim - 0.02f},  {h - 0.01f, rim},
      {h, rim},                   {h, rim + 0.015f},         {h, R - 0.035f},
      {h - 0.025f, R},            {g2 + gw, R},              {g2 + gw, R - groove},
      {g2 - gw, R - groove},      {g2 - gw, R},              {g1 + gw, R},
      {g1 + gw, R - groove},      {g1 - gw, R - groove},     {g1 - gw, R},
      {-h + 0.025f, R},           {-h, R - 0.035f},          {-h, rim + 0.015f},
      {-h + 0.01f, rim},          {-h + 0.05f, rim - 0.03f}, {-h + 0.05f, 0.0f},
  };
  for (int i = 0; i < WheelProfileCount; ++i) p[i] = points[i];
  return WheelProfileCount;
}

int PaintWheel(int segment, int, int) {
  return segment >= WheelTyreFirst && segment < WheelTyreLast ? TyreBlack : RimSilver;
}

// The right wheel; mirrored for the left. The profile turns about +X,
// starting straight down so that a ring of vertices touches Y = 0.
void AddWheel(const WheelSpec& w) {
  ProfilePoint profile[WheelProfileCount];
  const int count = BuildWheelProfile(w, profile);
  const Lathe lathe{{w.x, w.radius, w.z}, {1, 0, 0}, {0, -1, 0}, {0, 0, 1}, 18, false};
  AddLathe(lathe, profile, count, PaintWheel);
}

// Upper and lower wishbones from the chassis to the upright, and a track
// rod: each arm is two beams meeting at the wheel.
void AddSuspension(const WheelSpec& w, float chassisX, float spread) {
  const float hubX = w.x - 0.5f * w.width + 0.05f;
  for (float height : {0.55f, 1.25f}) {
    const float y = w.radius * height * 0.9f;
    const Vec3 hub{hubX, y, w.z};
    AddBeam({chassisX, y + 0.03f, w.z + spread}, hub, 0.014f, 0.010f, Carbon);
    AddBeam({chassisX, y + 0.03f, w.z - spread}, hub, 0.014f, 0.010f, Carbon);
  }
  AddBeam({chassisX, w.radius, w.z + 0.12f}, {hubX, w.radius, w.z + 0.10f}, 0.010f, 0.010f, Carbon);
}

void AddCornerAssemblies() {
  AddWheel(FrontWheel);
  AddWheel(RearWheel);
  AddSuspension(FrontWheel, 0.14f, 0.22f);
  AddSuspension(RearWheel, 0.12f, 0.25f);
}

// [SECTION] The decal

constexpr int DecalWidth = 128;
constexpr int DecalHeight = 64;

// White with a blue band along the middle and a chequered flag toward the
// front; u runs from the back of the sidepod to its front, v from top down.
void DecalColour(int x, int y, uint8_t rgb[3]) {
  const bool inBand = y >= 22 && y < 42;
  const bool inFlag = x >= 80 && x < 112 && y >= 8 && y < 56;
  const bool darkSquare = ((x - 80) / 8 + (y - 8) / 8) % 2 == 1;
  uint8_t r = 245, g = 245, b = 245;
  if (inBand) r = 20, g = 56, b = 190;
  if (inFlag) r = g = b = darkSquare ? 16 : 250;
  rgb[0] = r, rgb[1] = g, rgb[2] = b;
}

bool WriteDecal(const std::string& path) {
  BmpImage image;
  image.width = DecalWidth;
  image.height = DecalHeight;
  image.rgba.resize(size_t(DecalWidth) * DecalHeight * 4);
  for (int y = 0; y < DecalHeight; ++y) {
    for (int x = 0; x < DecalWidth; ++x) {
      uint8_t* pixel = &image.rgba[(size_t(y) * DecalWidth + x) * 4];
      DecalColour(x, y, pixel);
      pixel[3] = 255;
    }
  }
  return WriteBmp24File(path.c_str(), image);
}

// A side-on projection box over each of the decal's flanks: u from the back
// to the front, v from the top down. The mirrored flank runs u the other way
// so that both read front to the right when seen from their own side. The
// boxes are kept with the model, so a ray-tracer scene maps the decal alike.
void MapDecalFlank(int decal, bool right) {
  float minY = BoundsStart, maxY = -BoundsStart, minZ = BoundsStart, maxZ = -BoundsStart;
  float nearX = BoundsStart;
  for (int i = 0; i < gModel.vertexCount; ++i) {
    ModelVertex& v = gModel.vertices[i];
    v.selected = v.material == decal && (v.x >= 0.0f) == right;
    if (!v.selected) continue;
    minY = std::fmin(minY, v.y), maxY = std::fmax(maxY, v.y);
    minZ = std::fmin(minZ, v.z), maxZ = std::fmax(maxZ, v.z);
    nearX = std::fmin(nearX, right ? v.x : -v.x);
  }
  const float side = right ? 1.0f : -1.0f;
  ProjectionBox box{};
  box.uAxis[2] = side;
  box.vAxis[1] = 1.0f;
  box.tAxis[0] = side;
  box.sMin = right ? minZ : -maxZ;
  box.sMax = right ? maxZ : -minZ;
  box.tMin = minY, box.tMax = maxY;
  box.wMin = nearX;
  box.minU = 0, box.maxU = 1, box.minV = 0, box.maxV = 1;
  ApplyTextureProjection(box);
  SelectNone();
}

// [SECTION] Assembly

void BuildCar() {
  ClearModel();
  FillMaterials();
  AddTub();
  AddDriver();
  AddWindscreen();
  AddEngineCover();
  AddFloor();
  AddFrontWing();
  AddRearWing();
  for (bool mirrored : {false, true}) {
    mirrorX = mirrored;
    AddSidepod();
    AddCornerAssemblies();
  }
  mirrorX = false;
  // Projection links stay with vertex positions when the clean-up reorders
  // polygons, so the model is put in the clean-up's order before they are
  // made; Open's clean-up then moves nothing.
  CleanUpModel();
  int decal = 0;
  while (gModel.materials[decal].hasTexture != 1) ++decal;
  MapDecalFlank(decal, true);
  MapDecalFlank(decal, false);
  RecomputeBounds();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_indycar <output.vnx>\n");
    return 2;
  }
  ConsoleUI console;  // a failed save is reported on standard error
  SetUi(&console);
  BuildCar();
  if (tableFull) {
    std::fprintf(stderr, "make_indycar: the car does not fit in %d vertices\n", MaxVertices);
    return 1;
  }
  if (!SaveNativeModel(argv[1])) return 1;
  const std::string model = argv[1];
  const size_t slash = model.rfind('/');
  const std::string decal = (slash == std::string::npos ? "" : model.substr(0, slash + 1)) + DecalFile;
  if (!WriteDecal(decal)) {
    std::fprintf(stderr, "make_indycar: could not write %s\n", decal.c_str());
    return 1;
  }
  std::printf("%s: %d polygons, %d materials\n", argv[1], gModel.vertexCount / 3, gModel.materialCount);
  return 0;
}
