// The DXF importer rewrites the file text into group codes and values, each
// ending in ";", then walks the groups once, completing an entity at every
// group 0. Every pass is a single forward scan, so a file at the Model's
// capacity reads in time proportional to its length.
#include "formats/dxf_import.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "formats/export_tables.h"
#include "formats/file_output.h"
#include "formats/kept_bytes.h"
#include "formats/x_import.h"
#include "formats/xtext.h"
#include "model/model.h"
#include "platform/ui.h"
#include "render/progress_box.h"
#include "render/qlt.h"

namespace {

constexpr int MaxPolygons = MaxVertices / 3;

const char* const OpenFailureText = "Could not open file: %s";
const char* const BinaryFileText = "%s is a binary DXF file. Only DXF files in text form can be read.";
const char* const BinarySentinel = "AutoCAD Binary DXF";
const char* const FirstPassText = "Removing garbage... 1st pass";
const char* const SecondPassText = "Removing garbage... 2nd pass";
const char* const ReadingGroupsText = "Reading Data Groups...";
const char* const NormalsText = "Creating vertex normals...";
const char* const BoundingBoxText = "Determining bounding box size...";

// The warnings of one import, each shown at most once, in this order.
enum Warning {
  WarnLayerOverflow,
  WarnLongLayerName,
  WarnPolyfaceOverflow,
  WarnBadFaceIndex,
  WarnModelFull,
  WarnNoFaces,
  WarningCount
};
const char* const WarningTexts[WarningCount] = {
    ("The file uses more than 100 layers. The faces of the further layers were put on the 100th layer's "
     "material."),
    "Layer names longer than 255 characters were cut to their first 255 characters.",
    "A polyface mesh has more than 32768 vertices. The faces that use the further vertices were left out.",
    "Some polyface faces name vertices that their mesh does not have. Those faces were left out.",
    "The file holds more polygons than a model can (32768). The remaining faces were left out.",
    "The file holds no 3D faces: only 3DFACE entities and polyface meshes are read.",
};

// Material colours by layer position mod 7; from the eighth layer on at half
// intensity.
const float Palette[7][3] = {{1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}};

// ---- Text passes -------------------------------------------------------------

PercentReporter BeginStep(const char* path, const char* text, int total) {
  ProgressUpdate(path, text, -1);
  return PercentReporter(path, text, total);
}

// What the clean-up does with one character of the file: the character it
// writes (upper case, ";" for a line end) and how a run of carriage returns
// before it reads. The run's masks are all ones or zero, so that applying
// them takes no branch.
struct CleanUpRule {
  char written;
  uint8_t advance;       // 0 for a space, tab or ";", which are dropped
  uint8_t isReturn;      // a carriage return: a ";" that a line feed may withdraw
  int32_t keepsRun;      // a carriage return or a dropped character leaves the run open
  int32_t withdrawsRun;  // a line feed: the run's carriage returns belong to it
};

struct CleanUpRules {
  CleanUpRule of[256];
  CleanUpRules() {
    for (int c = 0; c < 256; ++c) {
      const char upper = c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : char(c);
      of[c] = CleanUpRule{upper, 1, 0, 0, 0};
    }
    for (const unsigned char dropped : {' ', '\t', ';'}) of[dropped] = CleanUpRule{';', 0, 0, -1, 0};
    of[unsigned('\r')] = CleanUpRule{';', 1, 1, -1, 0};
    of[unsigned('\n')] = CleanUpRule{';', 1, 0, 0, -1};
  }
};

struct CleanUp {
  char* text;
  int length;   // of the text written so far
  int returns;  // the carriage returns of the open run, each written as ";"
};

void CleanUpBytes(CleanUp& s, int p, int stop) {
  static const CleanUpRules rules;
  for (; p < stop; ++p) {
    const CleanUpRule rule = rules.of[uint8_t(s.text[p])];
    s.length -= s.returns & rule.withdrawsRun;
    s.text[s.length] = rule.written;
    s.length += rule.advance;
    s.returns = (s.returns + rule.isReturn) & rule.keepsRun;
  }
}

constexpr int BlockSize = 16;

#if defined(__x86_64__)
// Sixteen bytes at a time from p up to stop, as long as every carriage
// return among them comes just before a line feed, which is how nearly all
// files end their lines: such a return is simply dropped, and the line feed
// writes the ";". Stops before the first block where that fails; needs the
// byte after each block, so it stops before the end. Returns where it stopped.
__attribute__((target("ssse3,popcnt"))) int CleanUpBlocks(CleanUp& s, int p, int stop, int end) {
  char* text = s.text;
  int length = s.length;
  for (; p + BlockSize <= stop && p + BlockSize < end; p += BlockSize) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + p));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + p + 1));
    const auto is = [&bytes](char c) { return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)); };
    const __m128i isReturn = is('\r'), isLineFeed = is('\n');
    const __m128i beforeLineFeed = _mm_cmpeq_epi8(next, _mm_set1_epi8('\n'));
    if (_mm_movemask_epi8(_mm_andnot_si128(beforeLineFeed, isReturn)) != 0) break;
    const __m128i dropped = _mm_or_si128(_mm_or_si128(is(' '), is('\t')), _mm_or_si128(is(';'), isReturn));
    const unsigned keep = ~unsigned(_mm_movemask_epi8(dropped)) & 0xFFFFu;
    // 'a' .. 'z' move to the bottom of the signed range, below every other byte.
    const __m128i biased = _mm_add_epi8(bytes, _mm_set1_epi8(char(0x80 - 'a')));
    const __m128i isLower = _mm_cmplt_epi8(biased, _mm_set1_epi8(char(-128 + 26)));
    const __m128i upper = _mm_sub_epi8(bytes, _mm_and_si128(isLower, _mm_set1_epi8(32)));
    const __m128i written =
        _mm_or_si128(_mm_and_si128(isLineFeed, _mm_set1_epi8(';')), _mm_andnot_si128(isLineFeed, upper));
    length += StoreKeptBytes(text + length, written, keep);
  }
  s.length = length;
  return p;
}
#else
int CleanUpBlocks(CleanUp&, int p, int, int) { return p; }
#endif

// Blocks start only where no run of carriage returns is open, and their
// writes stay behind what they have read.
void CleanUpStretch(CleanUp& s, int p, int stop, int end) {
  static const bool blocks = CanKeepBytes();
  while (p < stop) {
    if (blocks && s.returns == 0) p = CleanUpBlocks(s, p, stop, end);
    const int blockEnd = std::min(stop, p + BlockSize);
    CleanUpBytes(s, p, blockEnd);
    p = blockEnd;
  }
}

}  // namespace

// The text is upper-cased (so layer names differing only in case are one
// layer) and spaces and tabs are dropped. Every line end becomes exactly one
// ";": carriage returns before a line feed belong to it, a carriage return on
// its own ends a line. Empty lines stay empty values, so a value that is empty
// (or held only blanks) keeps the codes after it in their places. A ";" of the
// file itself is dropped: it would split its value in two and shift every
// later code into a value's place.
//
// One scan writes what the two classic passes (whose names the progress box
// shows) do, over what it has read: the text never grows. Each carriage
// return is written as ";" at once, and a line feed after a run of them
// withdraws those. No character takes a branch of its own: line ends come
// every few characters, too often for a branch to guess. Where the processor
// can, sixteen characters at a time go through CleanUpBlocks instead.
void ReduceDxfText(const char* path) {
  PercentReporter report = BeginStep(path, FirstPassText, XTextLength);
  CleanUp s{XText, 0, 0};
  const int end = XTextLength;
  for (int p = 0; p < end;) {
    report.At(p);
    const int stop = std::min(end, p + 65536);
    CleanUpStretch(s, p, stop, end);
    p = stop;
  }
  ProgressUpdate(path, SecondPassText, -1);
  XTextLength = s.length;
}

namespace {

bool IsBinaryDxf() { return TextMatchAt(0, BinarySentinel); }

// A text editor's byte order mark is not part of the first code.
void DropByteOrderMark() {
  if (TextMatchAt(0, "\xEF\xBB\xBF")) TextDelete(0, 2);
}

// ---- Group items -------------------------------------------------------------

struct Item {
  const char* text;
  int length;
  bool Is(const char* word) const {
    return size_t(length) == std::strlen(word) && std::memcmp(text, word, size_t(length)) == 0;
  }
};

// The characters from position up to the next ";" (or the end); position
// moves past it.
Item TakeItem(int& position) {
  const char* start = XText + position;
  const int rest = XTextLength - position;
  const void* semicolon = std::memchr(start, ';', size_t(rest));
  const int length = semicolon ? int(static_cast<const char*>(semicolon) - start) : rest;
  position = semicolon ? position + length + 1 : XTextLength;
  return Item{start, length};
}

// A group code: the whole item a decimal integer (saturated to the int
// range). False at the end of the text or for anything else.
bool ReadGroupCode(int& position, int& code) {
  if (position >= XTextLength) return false;
  const Item item = TakeItem(position);
  int i = 0;
  const bool negative = item.length > 0 && item.text[0] == '-';
  if (item.length > 0 && (item.text[0] == '-' || item.text[0] == '+')) i = 1;
  if (i >= item.length) return false;
  int64_t value = 0;
  for (; i < item.length; ++i) {
    const char c = item.text[i];
    if (c < '0' || c > '9') return false;
    value = std::min<int64_t>(value * 10 + (c - '0'), int64_t(INT_MAX) + 1);
  }
  value = negative ? -value : std::min<int64_t>(value, INT_MAX);
  code = int(value);
  return true;
}

// ---- Import state ------------------------------------------------------------

enum class EntityKind { None, Vertex, Face };

struct Corner {
  float xyz[3];
  int arrived;  // one bit per coordinate group
};

// Cleared at every group 0.
struct EntityState {
  EntityKind kind;
  Corner corners[4];
  int32_t faceRecord[4];  // groups 71 .. 74
};

struct LayerTable {
  char names[MaxDxfLayers][MaxDxfLayerName];
  int lengths[MaxDxfLayers];
  int count;
};
LayerTable layers;

// Per polygon: the second triangle of a four-corner face whose fourth corner
// repeats another, which has no area. At capacity these go first.
bool isTwin[MaxPolygons];

struct Import {
  const char* path;
  EntityState entity;
  int32_t flags = 0;  // group 70; kept until the next group 70
  int currentLayer = 0;
  int polyfaceCount = 0;    // stored in ExportTables.vertices
  int polyfaceOffered = 0;  // the open mesh's vertices, stored or not
  bool dropTwins = false;
  bool warned[WarningCount] = {};
};

void ClearEntity(EntityState& entity) { std::memset(&entity, 0, sizeof entity); }

void StartPolyface(Import& state) {
  state.polyfaceCount = 0;
  state.polyfaceOffered = 0;
}

// ---- Triangles ---------------------------------------------------------------

// Removes the zero-area twins kept so far, keeping the order of the rest.
void RemoveTwins() {
  int kept = 0;
  const int polygons = gModel.vertexCount / 3;
  for (int p = 0; p < polygons; ++p) {
    if (isTwin[p]) continue;
    if (kept != p) std::memmove(&gModel.vertices[3 * kept], &gModel.vertices[3 * p], 3 * sizeof(ModelVertex));
    isTwin[kept++] = false;
  }
  gModel.vertexCount = 3 * kept;
}

// True when the triangle may be stored, making room by dropping the twins
// when the Model is full.
bool MakeRoom(Import& state, bool twin) {
  if (twin && state.dropTwins) return false;
  if (gModel.vertexCount + 3 <= MaxVertices) return true;
  if (!state.dropTwins) {
    state.dropTwins = true;
    RemoveTwins();
    if (twin) return false;
    if (gModel.vertexCount + 3 <= MaxVertices) return true;
  }
  if (!twin) state.warned[WarnModelFull] = true;
  return false;
}

using Position = float[3];

void AppendTriangle(Import& state, const Position& a, const Position& b, const Position& c, bool twin) {
  if (!MakeRoom(state, twin)) return;
  const Position* corners[3] = {&a, &b, &c};
  for (const Position* p : corners) {
    ModelVertex& v = gModel.vertices[gModel.vertexCount++];
    std::memset(&v, 0, sizeof v);
    v.x = (*p)[0];
    v.y = (*p)[1];
    v.z = (*p)[2];
    v.material = state.currentLayer;
  }
  isTwin[gModel.vertexCount / 3 - 1] = twin;
}

bool SamePosition(const Position& a, const Position& b) {
  return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

// Three corners give one triangle, four the triangles (0, 1, 2) and (0, 2, 3).
void AppendFace(Import& state, const Position (&corners)[4], int count) {
  if (count < 3) return;
  AppendTriangle(state, corners[0], corners[1], corners[2], false);
  if (count < 4) return;
  const bool twin = SamePosition(corners[3], corners[2]) || SamePosition(corners[3], corners[0]);
  AppendTriangle(state, corners[0], corners[2], corners[3], twin);
}

bool CornerComplete(const Corner& corner) { return corner.arrived == 7; }

void Complete3DFace(Import& state) {
  const Corner* c = state.entity.corners;
  if (!CornerComplete(c[0]) || !CornerComplete(c[1]) || !CornerComplete(c[2])) return;
  Position corners[4];
  for (int k = 0; k < 4; ++k) std::memcpy(corners[k], c[k].xyz, sizeof(Position));
  AppendFace(state, corners, CornerComplete(c[3]) ? 4 : 3);
}

void AppendPolyfaceVertex(Import& state) {
  ++state.polyfaceOffered;
  if (state.polyfaceCount >= MaxExportVertices) {
    state.warned[WarnPolyfaceOverflow] = true;
    return;
  }
  const float* p = state.entity.corners[0].xyz;
  ExportTables.vertices[state.polyfaceCount++] = ExportVertex{p[0], p[1], p[2], 0, 0, 0, 0, 0};
}

// A face record's values name vertices from 1 on; the sign only marks an
// invisible edge and 0 names none. A face that names a vertex the list does
// not hold is left out: with a vertex the list could not take, under the
// overflow warning, otherwise under its own.
void CompleteFaceRecord(Import& state) {
  Position corners[4];
  int count = 0;
  bool missing = false;
  for (int32_t value : state.entity.faceRecord) {
    if (value == 0) continue;
    const int64_t number = (value < 0 ? -int64_t(value) : int64_t(value)) - 1;
    if (number >= state.polyfaceCount) {
      missing = true;
      if (number >= state.polyfaceOffered) state.warned[WarnBadFaceIndex] = true;
      continue;
    }
    const ExportVertex& v = ExportTables.vertices[number];
    corners[count][0] = v.x;
    corners[count][1] = v.y;
    corners[count][2] = v.z;
    ++count;
  }
  if (!missing) AppendFace(state, corners, count);
}

void CompleteEntity(Import& state) {
  switch (state.entity.kind) {
    case EntityKind::Vertex:
      if (state.flags == 192) AppendPolyfaceVertex(state);
      if (state.flags == 128) CompleteFaceRecord(state);
      break;
    case EntityKind::Face:
      Complete3DFace(state);
      break;
    case EntityKind::None:
      break;
  }
  ClearEntity(state.entity);
}

// ---- Layers ------------------------------------------------------------------

bool LayerIs(int index, const char* name, int length) {
  return layers.lengths[index] == length && std::memcmp(layers.names[index], name, size_t(length)) == 0;
}

// Makes the named layer current, appending it when it is new; beyond the
// table's capacity the last layer stays current.
void SelectLayer(Import& state, const Item& value) {
  int length = value.length;
  if (length > MaxDxfLayerName) {
    length = MaxDxfLayerName;
    state.warned[WarnLongLayerName] = true;
  }
  // Consecutive faces usually share their layer.
  if (state.currentLayer < layers.count && LayerIs(state.currentLayer, value.text, length)) return;
  for (int i = 0; i < layers.count; ++i) {
    if (LayerIs(i, value.text, length)) {
      state.currentLayer = i;
      return;
    }
  }
  if (layers.count == MaxDxfLayers) {
    state.warned[WarnLayerOverflow] = true;
    state.currentLayer = MaxDxfLayers - 1;
    return;
  }
  std::memcpy(layers.names[layers.count], value.text, size_t(length));
  layers.lengths[layers.count] = length;
  state.currentLayer = layers.count++;
}

// ---- Groups ------------------------------------------------------------------

// Group 0: completes the open entity and opens the next. False at "EOF".
bool HandleEntityStart(Import& state, const Item& value) {
  CompleteEntity(state);
  if (value.Is("EOF")) return false;
  if (value.Is("POLYLINE")) StartPolyface(state);
  if (value.Is("VERTEX")) state.entity.kind = EntityKind::Vertex;
  if (value.Is("3DFACE")) state.entity.kind = EntityKind::Face;
  return true;
}

// Groups 10-13, 20-23, 30-33: coordinate axis (code / 10 - 1) of corner
// (code % 10).
bool IsCoordinateCode(int code) { return code >= 10 && code <= 33 && code % 10 <= 3; }

void SetCoordinate(Import& state, int code, float value) {
  Corner& corner = state.entity.corners[code % 10];
  const int axis = code / 10 - 1;
  corner.xyz[axis] = value;
  corner.arrived |= 1 << axis;
}

// Reads the value of one group and acts on it. False when reading ends.
bool HandleGroup(Import& state, int code, int& position) {
  if (IsCoordinateCode(code)) {
    SetCoordinate(state, code, ReadXItemFloat(position));
  } else if (code == 70) {
    state.flags = ReadXItemInt(position);
  } else if (code >= 71 && code <= 74) {
    state.entity.faceRecord[code - 71] = ReadXItemInt(position);
  } else {
    const Item value = TakeItem(position);
    if (code == 0) return HandleEntityStart(state, value);
    if (code == 2 && value.Is("ENTITIES")) {
      StartPolyface(state);
      ClearEntity(state.entity);
    }
    if (code == 8 && state.entity.kind != EntityKind::None) SelectLayer(state, value);
  }
  return true;
}

// Reads code and value pairs until "EOF" or until no code or value can be
// read; an entity still open then is lost.
void ReadGroups(Import& state) {
  ProgressUpdate(state.path, ReadingGroupsText, -1);
  int position = 0;
  int code;
  while (ReadGroupCode(position, code) && position < XTextLength) {
    if (!HandleGroup(state, code, position)) break;
  }
}

// ---- Model -------------------------------------------------------------------

void ResetImport(Import& state) {
  gModel.vertexCount = 0;
  gModel.materialCount = 0;
  layers.count = 0;
  StartPolyface(state);
  ClearEntity(state.entity);
}

// One material per layer; polygons read before any layer was named use
// material 0, which exists even when the file names no layer.
void CreateMaterials() {
  int count = layers.count;
  if (count == 0 && gModel.vertexCount > 0) count = 1;
  for (int k = 0; k < count; ++k) {
    ModelMaterial& m = gModel.materials[k];
    std::memset(&m, 0, sizeof m);
    const float scale = k >= 7 ? 0.5f : 1.0f;
    m.red = Palette[k % 7][0] * scale;
    m.green = Palette[k % 7][1] * scale;
    m.blue = Palette[k % 7][2] * scale;
    m.alpha = 1.0f;
  }
  gModel.materialCount = count;
}

void ShowWarnings(Import& state) {
  if (gModel.vertexCount == 0) state.warned[WarnNoFaces] = true;
  std::string text;
  for (int w = 0; w < WarningCount; ++w) {
    if (!state.warned[w]) continue;
    text += text.empty() ? std::string(state.path) + ":\n\n" : "\n";
    text += WarningTexts[w];
  }
  if (!text.empty()) MessageBoxSafe(text.c_str(), "Warning", MB_OK);
}

// Reads the file and reduces it to groups; false after a message.
bool PrepareText(const char* path) {
  if (!ReadFileIntoXText(path, OpenFailureText)) return false;
  if (IsBinaryDxf()) {
    ShowPathMessage(BinaryFileText, path, "Error");
    return false;
  }
  DropByteOrderMark();
  ReduceDxfText(path);
  return true;
}

}  // namespace

int ImportDXF(const char* path) {
  if (!path) path = "";
  ProgressScope progress;
  if (!PrepareText(path)) return 0;
  Import state;
  state.path = path;
  ResetImport(state);
  ReadGroups(state);
  CreateMaterials();
  VerifyNormals(path, NormalsText);
  ProgressUpdate(path, BoundingBoxText, -1);
  RecomputeBounds();
  ShowWarnings(state);
  return 1;
}
