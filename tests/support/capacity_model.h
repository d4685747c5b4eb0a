// The model at capacity that the output-identity tests and the benchmarks
// share: a 128 x 128 grid of quads (32,768 triangles) on a wavy surface, in
// 20 materials of bands across the grid, with smooth normals (corners of
// one point share them) and texture coordinates. Material 3 carries a
// texture, and the last quarter of the rows is translucent.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "model/model.h"
#include "platform/bmp.h"

constexpr int CapacityGridSide = 128;
constexpr int CapacityMaterials = 20;
constexpr const char* CapacityTexture = "capacity.bmp";

inline void BuildCapacityModel() {
  ClearModel();
  for (int m = 0; m < CapacityMaterials; ++m) {
    ModelMaterial& material = gModel.materials[m];
    std::memset(&material, 0, sizeof material);
    material.red = 0.1f + 0.045f * float(m);
    material.green = 0.5f + 0.02f * float(m % 5);
    material.blue = 1.0f - 0.04f * float(m);
    material.alpha = m >= 15 ? 0.5f : 1.0f;
    material.specularPower = float(4 + m);
    material.specularRed = material.specularGreen = material.specularBlue = 0.25f;
  }
  gModel.materials[3].hasTexture = 1;
  std::snprintf(gModel.materials[3].textureFile, FileNameSize, "%s", CapacityTexture);
  gModel.materialCount = CapacityMaterials;
  const auto put = [](int i, int j) {
    const float a = 0.2f * float(i), b = 0.15f * float(j);
    ModelVertex& v = gModel.vertices[gModel.vertexCount++];
    std::memset(&v, 0, sizeof v);
    v.x = float(i) * 0.25f;
    v.y = std::sin(a) * std::cos(b);
    v.z = float(j) * 0.25f;
    const float gx = 0.8f * std::cos(a) * std::cos(b), gz = -0.6f * std::sin(a) * std::sin(b);
    const float length = std::sqrt(gx * gx + 1.0f + gz * gz);
    v.nx = -gx / length;
    v.ny = 1.0f / length;
    v.nz = -gz / length;
    v.u = float(i) / CapacityGridSide;
    v.v = float(j) / CapacityGridSide;
  };
  for (int i = 0; i < CapacityGridSide; ++i) {
    for (int j = 0; j < CapacityGridSide; ++j) {
      // Fifteen opaque bands across the grid, five translucent ones along
      // its last quarter.
      const int material =
          j >= CapacityGridSide * 3 / 4 ? 15 + i * 5 / CapacityGridSide : i * 15 / CapacityGridSide;
      const int first = gModel.vertexCount;
      put(i, j), put(i, j + 1), put(i + 1, j + 1);
      put(i, j), put(i + 1, j + 1), put(i + 1, j);
      for (int k = first; k < gModel.vertexCount; ++k) gModel.vertices[k].material = material;
    }
  }
  RecomputeBounds();
}

// The texture of material 3: a 64 x 64 checker of two colours.
inline bool WriteCapacityTexture(const std::string& path) {
  BmpImage image;
  image.width = image.height = 64;
  image.rgba.resize(64 * 64 * 4);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      uint8_t* p = &image.rgba[size_t(y * 64 + x) * 4];
      const bool light = ((x / 8) + (y / 8)) % 2 == 0;
      p[0] = light ? 230 : 40, p[1] = light ? 200 : 90, p[2] = light ? 60 : 160, p[3] = 255;
    }
  return WriteBmp24File(path.c_str(), image);
}
