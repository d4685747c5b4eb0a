// Small helpers for building Models in tests.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "model/model.h"

// Appends a triangle with the given corners and material; normals point +Z.
inline void AddTriangle(float ax, float ay, float az, float bx, float by, float bz, float cx, float cy,
                        float cz, int material) {
  const float p[3][3] = {{ax, ay, az}, {bx, by, bz}, {cx, cy, cz}};
  for (int k = 0; k < 3; ++k) {
    ModelVertex& v = gModel.vertices[gModel.vertexCount++];
    std::memset(&v, 0, sizeof v);
    v.x = p[k][0];
    v.y = p[k][1];
    v.z = p[k][2];
    v.nz = 1.0f;
    v.u = float(k) * 0.5f;
    v.v = 1.0f - float(k) * 0.25f;
    v.material = material;
  }
}

// Sets material i to an opaque colour with no texture.
inline void SetMaterial(int i, float red, float green, float blue, float alpha = 1.0f) {
  ModelMaterial& m = gModel.materials[i];
  std::memset(&m, 0, sizeof m);
  m.red = red;
  m.green = green;
  m.blue = blue;
  m.alpha = alpha;
  if (gModel.materialCount <= i) gModel.materialCount = i + 1;
}

// A path in the temporary folder, unique to this test process (the tests
// run in parallel).
inline std::string TempPath(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/vornix_test_" + std::to_string(getpid()) + "_" + name;
}

// The whole file, or an empty text when it cannot be read.
inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// True when the name exists, also as a link to nothing.
inline bool FileExists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}
