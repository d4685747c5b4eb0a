// The 3DS importer reads the whole file into memory once and walks its chunk
// tree with a cursor that can never leave the chunk it was given: every
// count and length in the file is checked against the bytes that are really
// there and against the tables it would fill. Damage ends the list or level
// it is found in; whatever was left out is listed in one warning per import.
#include "formats/studio_import.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "formats/file_output.h"
#include "model/model.h"
#include "model/normals.h"
#include "platform/ui.h"
#include "render/progress_box.h"
#include "render/qlt.h"

namespace {

// Mesh vertex indices are 16-bit, so a mesh can name no more vertices.
constexpr int MaxMeshVertices = 65536;
// A mesh with more faces could not fit into the Model anyway.
constexpr int MaxMeshFaces = MaxVertices / 3;
// Deeper nesting is no real file; the limit keeps a hostile one off the stack.
constexpr int MaxNesting = 32;
// Far above any model the tables can hold; keeps a wrong file from eating memory.
constexpr uint32_t MaxFileBytes = 256u << 20;
constexpr uint32_t HeaderBytes = 6;
constexpr float ByteColorScale = 0.003921569f;  // 1 / 255

const char* const NormalsText = "Creating vertex normals...";

enum ChunkId : uint16_t {
  RgbFloat = 0x0010,
  RgbByte = 0x0011,
  Main = 0x4D4D,
  ObjectMesh = 0x3D3D,
  BackgroundColor = 0x1200,
  AmbientLight = 0x2100,
  ObjectBlock = 0x4000,
  TriMesh = 0x4100,
  VertexList = 0x4110,
  FaceList = 0x4120,
  FaceMaterial = 0x4130,
  MappingList = 0x4140,
  Smoothings = 0x4150,
  MeshMatrix = 0x4160,
  Light = 0x4600,
  Spotlight = 0x4610,
  Camera = 0x4700,
  Material = 0xAFFF,
  MaterialName = 0xA000,
  AmbientColor = 0xA010,
  DiffuseColor = 0xA020,
  SpecularColor = 0xA030,
  TextureMap = 0xA200,
  BumpMap = 0xA230,
  MapFilename = 0xA300,
  KeyframerData = 0xB000,
  Frames = 0xB008,
};

constexpr uint32_t LightPositionBytes = 12;

struct MeshVertex {
  float x, y, z, u, v;
};

struct MeshFace {
  uint16_t corner[3];
  uint16_t material;
};

// What an import had to leave out or repair, for its one warning.
struct Losses {
  int facesBeyondModel = 0;
  int materialsBeyondModel = 0;
  int facesWithBadCorner = 0;
  int facesNotANumber = 0;
  int badFaceMaterialEntries = 0;
  int valuesNotANumber = 0;
  bool damagedChunks = false;

  bool Any() const {
    return facesBeyondModel || materialsBeyondModel || facesWithBadCorner || facesNotANumber ||
           badFaceMaterialEntries || valuesNotANumber || damagedChunks;
  }
};

// The importer's state between chunks; reset at the start of every import.
struct Importer {
  char materialNames[MaxMaterials][FileNameSize];
  MeshVertex vertices[MaxMeshVertices];
  int vertexCount;
  int mappingCount;  // vertices 0 .. mappingCount-1 have texture coordinates
  MeshFace faces[MaxMeshFaces];
  int faceCount;
  bool diffusePending;
  int current;  // the material being read; -1 when none or left out
  Losses losses;
};

Importer state;
std::vector<uint8_t> fileBytes;

// A read position inside one chunk; reads never pass `end`.
struct Cursor {
  const uint8_t* data;
  uint32_t pos;
  uint32_t end;

  uint32_t Left() const { return end - pos; }
  bool Has(uint32_t n) const { return Left() >= n; }
  uint8_t U8() { return data[pos++]; }
  uint16_t U16() {
    const uint16_t value = uint16_t(data[pos] | data[pos + 1] << 8);
    pos += 2;
    return value;
  }
  uint32_t U32() {
    const uint32_t value = uint32_t(data[pos]) | uint32_t(data[pos + 1]) << 8 |
                           uint32_t(data[pos + 2]) << 16 | uint32_t(data[pos + 3]) << 24;
    pos += 4;
    return value;
  }
  float F32() {
    const uint32_t bits = U32();
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  // A NUL-terminated name: keeps at most 128 characters, always terminates
  // `out`, and moves past the NUL (or to the end when there is none).
  void Name(char out[FileNameSize]) {
    int length = 0;
    while (pos < end && data[pos] != 0) {
      if (length < FileNameSize - 1) out[length++] = char(data[pos]);
      ++pos;
    }
    out[length] = '\0';
    if (pos < end) ++pos;
  }
};

// Non-numbers would poison the bounds and the renderer; they become 0.
float Finite(float value) {
  if (std::isfinite(value)) return value;
  ++state.losses.valuesNotANumber;
  return 0.0f;
}

bool SameNameIgnoringCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const unsigned char x = (unsigned char)*a, y = (unsigned char)*b;
    const int lx = x >= 'A' && x <= 'Z' ? x + 32 : x;
    const int ly = y >= 'A' && y <= 'Z' ? y + 32 : y;
    if (lx != ly) return false;
    if (x == 0) return true;
  }
}

ModelMaterial* CurrentMaterial() { return state.current >= 0 ? &gModel.materials[state.current] : nullptr; }

// ---- Materials -------------------------------------------------------------

void StartMaterial() {
  if (gModel.materialCount >= MaxMaterials) {
    ++state.losses.materialsBeyondModel;
    state.current = -1;  // its chunks must not change the last material kept
    return;
  }
  state.current = gModel.materialCount++;
  state.materialNames[state.current][0] = '\0';
  ModelMaterial& m = gModel.materials[state.current];
  std::memset(&m, 0, sizeof m);
  m.alpha = 1.0f;
}

void SetDiffuse(float red, float green, float blue) {
  ModelMaterial* m = CurrentMaterial();
  if (!state.diffusePending || m == nullptr) return;
  m->red = Finite(red);
  m->green = Finite(green);
  m->blue = Finite(blue);
  state.diffusePending = false;
}

void ReadFloatColor(Cursor& c) {
  if (!c.Has(12)) {
    state.losses.damagedChunks = true;
    return;
  }
  const float red = c.F32(), green = c.F32(), blue = c.F32();
  SetDiffuse(red, green, blue);
}

void ReadByteColor(Cursor& c) {
  if (!c.Has(3)) {
    state.losses.damagedChunks = true;
    return;
  }
  const uint8_t red = c.U8(), green = c.U8(), blue = c.U8();
  SetDiffuse(float(red) * ByteColorScale, float(green) * ByteColorScale, float(blue) * ByteColorScale);
}

void ReadMaterialName(Cursor& c) {
  if (state.current < 0) return;
  c.Name(state.materialNames[state.current]);
}

void ReadMapFilename(Cursor& c) {
  ModelMaterial* m = CurrentMaterial();
  if (m == nullptr) return;
  m->hasTexture = 1;
  c.Name(m->textureFile);
}

// The index of the first material read so far with this name, else 0.
int MaterialNamed(const char* name) {
  for (int i = 0; i < gModel.materialCount; ++i) {
    if (SameNameIgnoringCase(state.materialNames[i], name)) return i;
  }
  return 0;
}

// ---- Meshes -----------------------------------------------------------------

// Reads a u16 count and reports when the chunk holds fewer records than it
// promises; the caller reads the records that are there.
int RecordsPresent(Cursor& c, uint32_t recordBytes) {
  if (!c.Has(2)) {
    state.losses.damagedChunks = true;
    return 0;
  }
  const int count = c.U16();
  const int present = int(c.Left() / recordBytes);
  if (present < count) {
    state.losses.damagedChunks = true;
    return present;
  }
  return count;
}

void ReadVertexList(Cursor& c) {
  const int count = RecordsPresent(c, 12);  // at most 65535: fits the table
  for (int i = 0; i < count; ++i) {
    const float x = c.F32(), y = c.F32(), z = c.F32();
    MeshVertex& v = state.vertices[i];
    v.x = x;
    v.y = z;
    v.z = -y;
  }
  state.vertexCount = count;
}

void ReadMappingList(Cursor& c) {
  const int count = RecordsPresent(c, 8);
  for (int i = 0; i < count; ++i) {
    const float u = c.F32(), v = c.F32();
    state.vertices[i].u = Finite(u);
    state.vertices[i].v = Finite(v);
  }
  state.mappingCount = count;
}

// Reads the face records and leaves the cursor after them, where the face
// list's sub-chunks begin.
void ReadFaceList(Cursor& c) {
  const int count = RecordsPresent(c, 8);
  const int kept = count < MaxMeshFaces ? count : MaxMeshFaces;
  state.losses.facesBeyondModel += count - kept;  // the table holds a full Model
  for (int i = 0; i < count; ++i) {
    const uint16_t a = c.U16(), b = c.U16(), d = c.U16();
    c.U16();  // flags
    if (i < kept) state.faces[i] = MeshFace{{a, b, d}, 0};
  }
  state.faceCount = kept;
}

void ReadFaceMaterial(Cursor& c) {
  char name[FileNameSize];
  c.Name(name);
  const int material = MaterialNamed(name);
  const int count = RecordsPresent(c, 2);
  for (int i = 0; i < count; ++i) {
    const int face = c.U16();
    if (face < state.faceCount) {
      state.faces[face].material = uint16_t(material);
    } else {
      ++state.losses.badFaceMaterialEntries;
    }
  }
}

bool CornersAreNumbers(const MeshFace& face) {
  for (int k = 0; k < 3; ++k) {
    const MeshVertex& v = state.vertices[face.corner[k]];
    if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) return false;
  }
  return true;
}

void AppendCorner(const MeshFace& face, int k) {
  const int index = face.corner[k];
  const MeshVertex& source = state.vertices[index];
  ModelVertex& v = gModel.vertices[gModel.vertexCount++];
  std::memset(&v, 0, sizeof v);
  v.x = source.x;
  v.y = source.y;
  v.z = source.z;
  // A mesh without a mapping list gets 0, 0 rather than a previous mesh's.
  if (index < state.mappingCount) {
    v.u = source.u;
    v.v = source.v;
  }
  v.material = face.material;
}

// Appends the collected mesh's faces to the Model, then empties the mesh.
void FlushMesh() {
  for (int f = 0; f < state.faceCount; ++f) {
    const MeshFace& face = state.faces[f];
    if (face.corner[0] >= state.vertexCount || face.corner[1] >= state.vertexCount ||
        face.corner[2] >= state.vertexCount) {
      ++state.losses.facesWithBadCorner;
      continue;
    }
    if (!CornersAreNumbers(face)) {
      ++state.losses.facesNotANumber;
      continue;
    }
    if (gModel.vertexCount > MaxVertices - 3) {
      state.losses.facesBeyondModel += state.faceCount - f;
      break;
    }
    for (int k = 0; k < 3; ++k) AppendCorner(face, k);
  }
  state.vertexCount = 0;
  state.mappingCount = 0;
  state.faceCount = 0;
}

// ---- The chunk walk ------------------------------------------------------------

void Walk(uint32_t begin, uint32_t end, int depth);

void Descend(const Cursor& c, int depth) {
  if (depth + 1 > MaxNesting) {
    state.losses.damagedChunks = true;
    return;
  }
  Walk(c.pos, c.end, depth + 1);
}

void SkipBytes(Cursor& c, uint32_t n) {
  if (!c.Has(n)) {
    state.losses.damagedChunks = true;
    c.pos = c.end;
    return;
  }
  c.pos += n;
}

// Performs one chunk's handling; `c` spans the chunk's data and sub-chunks.
void Handle(uint16_t id, Cursor& c, int depth) {
  switch (id) {
    case RgbFloat:
      return ReadFloatColor(c);
    case RgbByte:
      return ReadByteColor(c);
    case Main:
    case ObjectMesh:
    case BackgroundColor:
    case AmbientLight:
    case AmbientColor:
    case SpecularColor:
    case TextureMap:
    case BumpMap:
    case KeyframerData:
      return Descend(c, depth);
    case ObjectBlock: {
      char ignored[FileNameSize];
      c.Name(ignored);
      return Descend(c, depth);
    }
    case TriMesh:
      FlushMesh();
      return Descend(c, depth);
    case VertexList:
      return ReadVertexList(c);
    case FaceList:
      ReadFaceList(c);
      return Descend(c, depth);
    case FaceMaterial:
      return ReadFaceMaterial(c);
    case MappingList:
      return ReadMappingList(c);
    case Light:
      SkipBytes(c, LightPositionBytes);
      return Descend(c, depth);
    case Material:
      StartMaterial();
      return Descend(c, depth);
    case MaterialName:
      return ReadMaterialName(c);
    case DiffuseColor:
      state.diffusePending = true;
      Descend(c, depth);
      // A diffuse chunk without a colour must not hand its flag to the
      // colour of an ambient, specular or background chunk after it.
      state.diffusePending = false;
      return;
    case MapFilename:
      return ReadMapFilename(c);
    case Smoothings:
    case MeshMatrix:
    case Spotlight:
    case Camera:
    case Frames:
    default:
      return;  // nothing in them is kept
  }
}

void Walk(uint32_t begin, uint32_t end, int depth) {
  uint32_t pos = begin;
  while (pos < end) {
    Cursor c{fileBytes.data(), pos, end};
    if (!c.Has(HeaderBytes)) {
      state.losses.damagedChunks = true;
      return;
    }
    const uint16_t id = c.U16();
    const uint32_t length = c.U32();
    if (length < HeaderBytes) {  // would never move on
      state.losses.damagedChunks = true;
      return;
    }
    // A chunk reaching past its parent is read up to the parent's end (a cut
    // file keeps what it holds); nothing after it can belong to this level.
    const bool overruns = length > end - pos;
    if (overruns) state.losses.damagedChunks = true;
    c.end = overruns ? end : pos + length;
    Handle(id, c, depth);
    pos = c.end;
  }
}

// ---- File and messages ---------------------------------------------------------

void ShowError(const char* format, const char* path) { ShowPathMessage(format, path, "Error"); }

// Reads the whole file into fileBytes; false after a message.
bool ReadWholeFile(const char* path) {
  const int handle = qlt_FileOpen(path, QLT_FILE_READ);
  if (handle < 0) {
    ShowError("Could not open file: %s", path);
    return false;
  }
  const uint32_t size = qlt_FileSize(handle);
  bool ok = size <= MaxFileBytes;
  if (ok) {
    fileBytes.resize(size);
    uint32_t got = 0;
    while (ok && got < size) {
      const int32_t piece = int32_t(size - got < (1u << 20) ? size - got : (1u << 20));
      int32_t done = 0;
      ok = qlt_FileRead(handle, fileBytes.data() + got, piece, &done) == 1 && done > 0;
      got += uint32_t(done > 0 ? done : 0);
    }
    // The size is only 32 bits wide: a byte past it means a larger file.
    uint8_t extra;
    int32_t more = 0;
    if (ok && qlt_FileRead(handle, &extra, 1, &more) == 1 && more > 0) ok = false;
    if (!ok && got == size) ShowError("The file is too large to be a model: %s", path);
    if (!ok && got != size) ShowError("Could not read file: %s", path);
  } else {
    ShowError("The file is too large to be a model: %s", path);
  }
  qlt_FileClose(handle);
  if (!ok) std::vector<uint8_t>().swap(fileBytes);
  return ok;
}

bool LooksLikeStudioFile() {
  return fileBytes.size() >= HeaderBytes && fileBytes[0] == (Main & 0xFF) && fileBytes[1] == (Main >> 8);
}

void AddLine(std::string& text, int count, const char* format) {
  if (count <= 0) return;
  char line[256];
  std::snprintf(line, sizeof line, format, count);
  text += line;
}

void ShowLosses(const char* path) {
  const Losses& l = state.losses;
  if (!l.Any()) return;
  std::string text = std::string(path) + ": Parts of the file could not be imported.\n";
  AddLine(text, l.facesBeyondModel, "\n%d polygon(s) beyond the capacity of a model (32768) were left out.");
  AddLine(text, l.materialsBeyondModel,
          "\n%d material(s) beyond the capacity of a model (200) were left out; their polygons use "
          "material 0.");
  AddLine(text, l.facesWithBadCorner,
          "\n%d polygon(s) that refer to vertices their mesh does not have were left out.");
  AddLine(text, l.facesNotANumber, "\n%d polygon(s) with corners that are not numbers were left out.");
  AddLine(text, l.badFaceMaterialEntries,
          "\n%d face material entries that refer to polygons their mesh does not have were ignored.");
  AddLine(text, l.valuesNotANumber,
          "\n%d colour or texture coordinate value(s) that are not numbers were set to 0.");
  if (l.damagedChunks)
    text +=
        "\nSome chunks are damaged (cut short, or with lengths outside their parent); what lay "
        "past the damage was left out.";
  MessageBoxSafe(text.c_str(), "Warning", MB_OK);
}

// Polygons whose file names no material still need a valid index.
void EnsureAMaterial() {
  if (gModel.materialCount > 0 || gModel.vertexCount == 0) return;
  ModelMaterial& m = gModel.materials[0];
  std::memset(&m, 0, sizeof m);
  m.red = m.green = m.blue = m.alpha = 1.0f;
  gModel.materialCount = 1;
}

void ComputeNormals(const char* path) {
  SelectAll();
  const int saved = averageAcrossMaterials;
  averageAcrossMaterials = 0;
  CalculateNormals(45.0f, path, NormalsText);
  averageAcrossMaterials = saved;
  SelectNone();
}

// Replaces the Model with the file's contents, under the progress box.
void ReplaceModel(const char* path) {
  ProgressScope progress;
  gModel.materialCount = 0;
  gModel.vertexCount = 0;
  state.vertexCount = state.mappingCount = state.faceCount = 0;
  state.diffusePending = false;
  state.current = -1;
  state.losses = Losses{};

  Walk(0, uint32_t(fileBytes.size()), 0);
  FlushMesh();
  EnsureAMaterial();
  ComputeNormals(path);
  RecomputeBounds();
}

}  // namespace

int Import3DS(const char* path) {
  if (!ReadWholeFile(path)) return 0;
  const bool studio = LooksLikeStudioFile();
  if (studio) ReplaceModel(path);
  std::vector<uint8_t>().swap(fileBytes);  // a large file's bytes are not kept
  if (!studio) {
    ShowError("This is not a 3D Studio file: %s", path);
    return 0;
  }
  ShowLosses(path);
  return 1;
}
