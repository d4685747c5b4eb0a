// Writes 3DS chunk trees for tests and benchmarks: a chunk holds its own
// data bytes, then its children; lengths are computed when the bytes are
// taken (or forced, to write damaged files).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <fstream>
#include <string>
#include <vector>

class StudioChunk {
 public:
  explicit StudioChunk(uint16_t id) : id_(id) {}

  StudioChunk& U8(uint8_t value) {
    data_ += char(value);
    return *this;
  }
  StudioChunk& U16(uint16_t value) { return U8(uint8_t(value)).U8(uint8_t(value >> 8)); }
  StudioChunk& U32(uint32_t value) { return U16(uint16_t(value)).U16(uint16_t(value >> 16)); }
  StudioChunk& F32(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return U32(bits);
  }
  // The text and its NUL.
  StudioChunk& Str(const std::string& text) { return Raw(text).U8(0); }
  StudioChunk& Raw(const std::string& bytes) {
    data_ += bytes;
    return *this;
  }
  // Writes this length instead of the true one.
  StudioChunk& ForceLength(uint32_t length) {
    forced_ = true;
    forcedLength_ = length;
    return *this;
  }
  // Appends a child chunk and returns it (references stay valid).
  StudioChunk& Child(uint16_t id) {
    children_.emplace_back(id);
    return children_.back();
  }

  std::string Bytes() const {
    std::string body = data_;
    for (const StudioChunk& child : children_) body += child.Bytes();
    StudioChunk header(0);
    header.U16(id_).U32(forced_ ? forcedLength_ : uint32_t(body.size() + 6));
    return header.data_ + body;
  }

 private:
  uint16_t id_;
  std::string data_;
  std::deque<StudioChunk> children_;
  bool forced_ = false;
  uint32_t forcedLength_ = 0;
};

struct StudioFace {
  uint16_t a, b, c;
};

// A material chunk (0xAFFF) with a name, a byte diffuse colour and, when
// `texture` is not empty, a texture map with that file name.
inline StudioChunk& AddStudioMaterial(StudioChunk& objectMesh, const std::string& name, uint8_t red,
                                      uint8_t green, uint8_t blue, const std::string& texture = "") {
  StudioChunk& material = objectMesh.Child(0xAFFF);
  material.Child(0xA000).Str(name);
  material.Child(0xA020).Child(0x0011).U8(red).U8(green).U8(blue);
  if (!texture.empty()) material.Child(0xA200).Child(0xA300).Str(texture);
  return material;
}

// An object block with one triangle mesh: vertices as file x, y, z triples,
// texture coordinates as u, v pairs (none: no mapping list). Returns the face
// list, to which face-material chunks can be added.
inline StudioChunk& AddStudioMesh(StudioChunk& objectMesh, const std::string& name,
                                  const std::vector<float>& xyz, const std::vector<StudioFace>& faces,
                                  const std::vector<float>& uv = {}) {
  StudioChunk& mesh = objectMesh.Child(0x4000).Str(name).Child(0x4100);
  StudioChunk& vertices = mesh.Child(0x4110).U16(uint16_t(xyz.size() / 3));
  for (float f : xyz) vertices.F32(f);
  if (!uv.empty()) {
    StudioChunk& mapping = mesh.Child(0x4140).U16(uint16_t(uv.size() / 2));
    for (float f : uv) mapping.F32(f);
  }
  StudioChunk& list = mesh.Child(0x4120).U16(uint16_t(faces.size()));
  for (const StudioFace& f : faces) list.U16(f.a).U16(f.b).U16(f.c).U16(7);
  return list;
}

// Assigns faces to a material by name.
inline void AddStudioFaceMaterial(StudioChunk& faceList, const std::string& material,
                                  const std::vector<uint16_t>& faces) {
  StudioChunk& chunk = faceList.Child(0x4130).Str(material).U16(uint16_t(faces.size()));
  for (uint16_t f : faces) chunk.U16(f);
}

// Writes a gently waving grid of `triangles` triangles split over `meshes`
// meshes, with `materials` materials (every second one textured) assigned
// in bands of rows, and texture coordinates from the grid position. Each
// mesh holds at most 65535 triangles (its counts are 16-bit).
inline bool WriteStudioGrid(const std::string& path, int triangles, int meshes = 1, int materials = 4) {
  StudioChunk main(0x4D4D);
  StudioChunk& objects = main.Child(0x3D3D);
  for (int m = 0; m < materials; ++m)
    AddStudioMaterial(objects, "Grid" + std::to_string(m), uint8_t(40 * m), uint8_t(255 - 30 * m), 128,
                      m % 2 ? "grid" + std::to_string(m) + ".bmp" : "");
  int done = 0;
  for (int mesh = 0; mesh < meshes; ++mesh) {
    const int count = (triangles - done) / (meshes - mesh);
    done += count;
    const int quads = (count + 1) / 2;
    const int columns = std::max(1, int(std::ceil(std::sqrt(double(quads)))));
    const int rows = (quads + columns - 1) / columns;
    std::vector<float> xyz, uv;
    for (int r = 0; r <= rows; ++r) {
      for (int c = 0; c <= columns; ++c) {
        const float height = 0.3f * std::sin(0.5f * float(c)) * std::cos(0.3f * float(r));
        xyz.insert(xyz.end(), {float(c) + float(100 * mesh), float(r), height});
        uv.insert(uv.end(), {float(c) / float(columns), float(r) / float(rows)});
      }
    }
    std::vector<StudioFace> faces;
    std::vector<std::vector<uint16_t>> byMaterial(size_t(std::max(materials, 1)));
    for (int f = 0; f < count; ++f) {
      const int q = f / 2, r = q / columns, c = q % columns;
      const uint16_t a = uint16_t(r * (columns + 1) + c), b = uint16_t(a + 1), d = uint16_t(a + columns + 1),
                     e = uint16_t(d + 1);
      faces.push_back(f % 2 ? StudioFace{b, e, d} : StudioFace{a, b, d});
      byMaterial[size_t(r * std::max(materials, 1) / std::max(rows, 1))].push_back(uint16_t(f));
    }
    StudioChunk& list = AddStudioMesh(objects, "Mesh" + std::to_string(mesh), xyz, faces, uv);
    for (int m = 0; m < materials; ++m) {
      if (!byMaterial[size_t(m)].empty())
        AddStudioFaceMaterial(list, "GRID" + std::to_string(m), byMaterial[size_t(m)]);
    }
  }
  const std::string bytes = main.Bytes();
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), std::streamsize(bytes.size()));
  return bool(out);
}
