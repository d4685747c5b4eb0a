// The clean-up: unused materials out, materials by decreasing alpha, polygons
// by material, library materials rebuilt. The resulting order is that of the
// classic passes (a removal loop and two exchange sorts) down to the order
// among equal keys and the stale records past the counts; only the cost
// differs, near-linear instead of quadratic. Vertex records move whole, so
// projection links and the PolyList follow their polygon.
#include "model/cleanup.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "model/geometry.h"
#include "model/model.h"
#include "platform/ui.h"
#include "render/progress_box.h"
#include "render/qlt.h"

float viewportBackground[3] = {0.1f, 0.2f, 0.1f};

int32_t normalMaterial = 0;
int32_t hoverMaterial = 0;
int32_t polyListMaterial = 0;

namespace {

const char* const PleaseWait = "Please Wait...";

// ---- Scratch tables (fixed, like every table of the program) -------------

ModelMaterial savedMaterials[MaxMaterials];
int32_t materialRemap[MaxMaterials];
bool materialUsed[MaxMaterials];

// Polygon sort (see below). Ranks and runs are indexed by key rank, of
// which there are at most as many as vertices.
int32_t keyRank[MaxVertices];
int32_t distinctKeys[MaxVertices];
int32_t rankTree[MaxVertices + 1];  // Fenwick tree: records inserted per rank
int32_t runSize[MaxVertices];
int32_t runHead[MaxVertices];
int32_t runSeenBelow[MaxVertices];  // smaller records inserted before the run's last record
int32_t runStart[MaxVertices + 1];
int32_t runFill[MaxVertices];
int32_t runMember[MaxVertices];     // vertices grouped by rank, in table order
int32_t insertIndex[MaxVertices];   // per vertex: where it joined its run
int32_t slotTree[MaxVertices + 1];  // Fenwick tree over one run's free slots
int32_t sortedRecord[MaxVertices];  // the record that ends at each position

// ---- Material records ---------------------------------------------------

// Copies a material into a slot; `hidden` belongs to the slot, not to the
// material, and stays.
void MoveMaterialIntoSlot(ModelMaterial& slot, const ModelMaterial& material) {
  const int32_t hidden = slot.hidden;
  std::memcpy(&slot, &material, sizeof slot);
  slot.hidden = hidden;
}

// New index of a vertex's material once the unused slots are gone: every
// removal below it shifts it down by one. Indexes below 0 are never shifted
// and indexes past the table are shifted by every removal.
int32_t RemovedIndex(int32_t m, int count, int removed) {
  if (m < 0) return m;
  if (m >= count) return m - removed;
  return materialRemap[m];
}

// Removes the materials no vertex uses. Returns the number removed.
int RemoveUnusedMaterials() {
  const int count = gModel.materialCount;
  const int vertexCount = gModel.vertexCount;
  ProgressUpdate("Removing redundant materials...", PleaseWait, 0);

  for (int i = 0; i < count; ++i) materialUsed[i] = false;
  for (int k = 0; k < vertexCount; ++k) {
    const int32_t m = gModel.vertices[k].material;
    if (m >= 0 && m < count) materialUsed[m] = true;
  }
  int kept = 0;
  for (int i = 0; i < count; ++i) {
    materialRemap[i] = kept;
    if (materialUsed[i]) ++kept;
  }
  const int removed = count - kept;
  if (removed == 0) return 0;

  // Kept materials slide down in order. Each removal used to shift the
  // slots above it down by one and leave the last slot as it was; the last
  // material is removed last if at all, so every slot that drops out of use
  // keeps a copy of it.
  std::memcpy(savedMaterials, gModel.materials, sizeof(ModelMaterial) * count);
  for (int i = 0; i < count; ++i) {
    if (materialUsed[i]) MoveMaterialIntoSlot(gModel.materials[materialRemap[i]], savedMaterials[i]);
  }
  for (int slot = kept; slot < count; ++slot) {
    MoveMaterialIntoSlot(gModel.materials[slot], savedMaterials[count - 1]);
  }

  for (int k = 0; k < vertexCount; ++k) {
    int32_t& m = gModel.vertices[k].material;
    m = RemovedIndex(m, count, removed);
  }
  gModel.materialCount = kept;
  return removed;
}

// Orders materials by decreasing alpha with the classic exchange sort. The
// sort runs on the alphas alone (at most 200), then the records move and the
// vertices are renumbered once.
void SortMaterialsByAlpha() {
  const int count = gModel.materialCount;
  if (count < 2) return;
  ProgressUpdate("Sorting materials by alpha...", PleaseWait, 0);
  float alpha[MaxMaterials];
  int32_t origin[MaxMaterials];  // the pre-sort slot of the material now in each slot
  for (int i = 0; i < count; ++i) {
    alpha[i] = gModel.materials[i].alpha;
    origin[i] = i;
  }
  bool moved = false;
  for (int a = 0; a < count - 1; ++a) {
    for (int j = a + 1; j < count; ++j) {
      if (alpha[a] < alpha[j]) {
        const float f = alpha[a];
        alpha[a] = alpha[j];
        alpha[j] = f;
        const int32_t o = origin[a];
        origin[a] = origin[j];
        origin[j] = o;
        moved = true;
      }
    }
  }
  if (!moved) return;

  std::memcpy(savedMaterials, gModel.materials, sizeof(ModelMaterial) * count);
  for (int i = 0; i < count; ++i) {
    MoveMaterialIntoSlot(gModel.materials[i], savedMaterials[origin[i]]);
    materialRemap[origin[i]] = i;
  }
  for (int k = 0; k < gModel.vertexCount; ++k) {
    int32_t& m = gModel.vertices[k].material;
    if (m >= 0 && m < count) m = materialRemap[m];
  }
}

// ---- Polygon sort -------------------------------------------------------
//
// The classic sort runs, for i = 0, 1, ...: "for every j > i, if key[j] <
// key[i], exchange records i and j". Pass i is a carrier at position i that
// holds one record while the rest streams past; it keeps each strictly
// smaller record and passes on the one it held. What a pass emits depends
// only on what streamed in before, so the passes can run as a pipeline:
// record j streams through carriers 0 .. j-1 and then becomes carrier j.
// The carriers' keys stay non-decreasing, so a record with key x passes
// every carrier with key <= x, takes the place of the first carrier of the
// first run of equal keys above x, and the displaced record does the same
// one run further on, and so on to the end. Seen per run of equal keys: the
// record joins the end of its own run, and every run with a larger key
// turns by one (its first record moves to its end).
//
// Each run is therefore a cyclic list in which new records go in just
// before the head, and whose head advances once for every later record with
// a smaller key. A Fenwick tree over the keys counts those advances; the
// final order inside a run then follows offline from the insertion indexes
// (the last insertion keeps its index, earlier ones take the free slots
// left), with a Fenwick tree over the run's slots. O(n log n) for any keys.

void FenwickAdd(int32_t* tree, int size, int index, int32_t delta) {
  for (; index <= size; index += index & -index) tree[index] += delta;
}

// Sum of entries 1 .. index.
int32_t FenwickPrefix(const int32_t* tree, int index) {
  int32_t sum = 0;
  for (; index > 0; index -= index & -index) sum += tree[index];
  return sum;
}

// Smallest index whose prefix sum reaches `count` (entries are 0 or 1).
int FenwickFindCount(const int32_t* tree, int size, int32_t count) {
  int step = 1;
  while (step * 2 <= size) step *= 2;
  int index = 0;
  for (; step > 0; step /= 2) {
    if (index + step <= size && tree[index + step] < count) {
      index += step;
      count -= tree[index];
    }
  }
  return index + 1;
}

// Gives every vertex a rank 0 .. ranks-1 that orders like its material
// index; returns the number of ranks. Indexes normally span a few hundred
// values and are used directly; any other spread is compressed.
int RankKeys(int count) {
  int32_t lo = INT32_MAX;
  int32_t hi = INT32_MIN;
  for (int k = 0; k < count; ++k) {
    const int32_t key = gModel.vertices[k].material;
    if (key < lo) lo = key;
    if (key > hi) hi = key;
  }
  if (int64_t(hi) - lo < MaxVertices) {
    for (int k = 0; k < count; ++k) keyRank[k] = int32_t(int64_t(gModel.vertices[k].material) - lo);
    return int(int64_t(hi) - lo + 1);
  }
  for (int k = 0; k < count; ++k) distinctKeys[k] = gModel.vertices[k].material;
  std::sort(distinctKeys, distinctKeys + count);
  const int ranks = int(std::unique(distinctKeys, distinctKeys + count) - distinctKeys);
  for (int k = 0; k < count; ++k) {
    const int32_t key = gModel.vertices[k].material;
    keyRank[k] = int32_t(std::lower_bound(distinctKeys, distinctKeys + ranks, key) - distinctKeys);
  }
  return ranks;
}

// Streams the records in table order into their runs, noting where each
// one goes in and where each run's head ends.
void PlanInsertions(int count, int ranks, PercentReporter& report) {
  for (int r = 0; r < ranks; ++r) runSize[r] = runHead[r] = runSeenBelow[r] = 0;
  for (int r = 1; r <= ranks; ++r) rankTree[r] = 0;
  for (int t = 0; t < count; ++t) {
    report.At(t);
    const int r = keyRank[t];
    const int32_t below = FenwickPrefix(rankTree, r);
    int32_t size = runSize[r];
    int32_t head = runHead[r];
    if (size > 0) head = (head + (below - runSeenBelow[r]) % size) % size;
    insertIndex[t] = head;
    ++size;
    head = (head + 1) % size;
    runSize[r] = size;
    runHead[r] = head;
    runSeenBelow[r] = below;
    FenwickAdd(rankTree, ranks, r + 1, 1);
  }
  // Runs keep turning for the smaller records that come after their last.
  runStart[0] = 0;
  for (int r = 0; r < ranks; ++r) {
    runStart[r + 1] = runStart[r] + runSize[r];
    if (runSize[r] > 0) runHead[r] = (runHead[r] + (runStart[r] - runSeenBelow[r]) % runSize[r]) % runSize[r];
  }
}

// Puts each run's records in their final order, runs in key order.
void PlaceRuns(int count, int ranks, PercentReporter& report) {
  for (int r = 0; r < ranks; ++r) runFill[r] = runStart[r];
  for (int t = 0; t < count; ++t) runMember[runFill[keyRank[t]]++] = t;
  for (int r = 0; r < ranks; ++r) {
    const int size = runSize[r];
    if (size == 0) continue;
    const int base = runStart[r];
    report.At(count + base);
    for (int i = 1; i <= size; ++i) slotTree[i] = i & -i;  // every slot free
    for (int i = size - 1; i >= 0; --i) {
      const int32_t vertex = runMember[base + i];
      const int slot = FenwickFindCount(slotTree, size, insertIndex[vertex] + 1) - 1;
      FenwickAdd(slotTree, size, slot + 1, -1);
      int offset = slot - runHead[r];
      if (offset < 0) offset += size;
      sortedRecord[base + offset] = vertex;
    }
  }
}

// Moves the record sortedRecord[k] to position k for every k, in place:
// each cycle of the permutation turns once through one spare record, and
// its positions are marked done by pointing them at themselves. Whole
// records move: projected, projection and selected belong to the polygon,
// not to its table position.
void PermuteRecords(int count) {
  ModelVertex* v = gModel.vertices;
  for (int start = 0; start < count; ++start) {
    if (sortedRecord[start] == start) continue;
    const ModelVertex spare = v[start];
    int k = start;
    for (int from = sortedRecord[k]; from != start; k = from, from = sortedRecord[k]) {
      v[k] = v[from];
      sortedRecord[k] = k;
    }
    v[k] = spare;
    sortedRecord[k] = k;
  }
}

// Keys already in order, as after every clean-up: the classic passes
// exchange nothing.
bool KeysInOrder(int count) {
  for (int k = 1; k < count; ++k)
    if (gModel.vertices[k].material < gModel.vertices[k - 1].material) return false;
  return true;
}

void SortPolygonsByMaterial() {
  const int count = gModel.vertexCount;
  if (count < 2 || KeysInOrder(count)) return;
  PercentReporter report("Sorting polygon list...", PleaseWait, 2 * count);
  const int ranks = RankKeys(count);
  PlanInsertions(count, ranks, report);
  PlaceRuns(count, ranks, report);
  PermuteRecords(count);
}

// ---- Library materials -------------------------------------------------

void AddFixedMaterial(float r, float g, float b, float er, float eg, float eb) {
  qlt_AddMaterial(r, g, b, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, er, eg, eb, 0, "", 0, "");
}

void AddModelMaterial(const ModelMaterial& m) {
  qlt_AddMaterial(m.red, m.green, m.blue, m.alpha, m.specularPower, m.specularRed, m.specularGreen,
                  m.specularBlue, m.emissiveRed, m.emissiveGreen, m.emissiveBlue, m.hasTexture, m.textureFile,
                  m.hasAlpha, m.alphaFile);
}

}  // namespace

void RebuildLibraryMaterials() {
  qlt_SetBackgroundMaterialColor(viewportBackground[0], viewportBackground[1], viewportBackground[2]);
  qlt_FreeMaterials();
  AddFixedMaterial(0.5f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f);  // normalMaterial
  AddFixedMaterial(1.0f, 0.0f, 0.0f, 0.3f, 0.0f, 0.0f);  // hoverMaterial
  AddFixedMaterial(0.0f, 1.0f, 0.0f, 0.0f, 0.3f, 0.0f);  // polyListMaterial
  int count = gModel.materialCount;
  if (count < 0) count = 0;
  if (count > MaxMaterials) count = MaxMaterials;
  for (int i = 0; i < count; ++i) AddModelMaterial(gModel.materials[i]);

  int32_t handles[3 + MaxMaterials] = {};
  // The library writes one handle per declaration; never more than fit here.
  if (qlt_DeclarationCount() > 3 + MaxMaterials) return;
  qlt_CreateMaterials(handles);
  normalMaterial = handles[0];
  hoverMaterial = handles[1];
  polyListMaterial = handles[2];
  for (int i = 0; i < count; ++i) gModel.materials[i].renderMaterial = handles[3 + i];
}

void CleanUpModel() {
  if (gModel.vertexCount <= 0 || gModel.materialCount <= 0) return;
  // Counts past the tables cannot come from a valid Model; touch nothing.
  if (gModel.vertexCount > MaxVertices || gModel.materialCount > MaxMaterials) return;
  ProgressScope progress;
  RemoveUnusedMaterials();
  SortMaterialsByAlpha();
  SortPolygonsByMaterial();
  ProgressUpdate("Creating materials...", PleaseWait, -1);
  RebuildLibraryMaterials();
}

int FindThinPolygons() {
  int found = 0;
  for (int p = 0; p < gModel.vertexCount / 3; ++p) {
    ModelVertex* v = &gModel.vertices[3 * p];
    const bool thin = (v[0].x == v[1].x && v[0].y == v[1].y && v[0].z == v[1].z) ||
                      (v[0].x == v[2].x && v[0].y == v[2].y && v[0].z == v[2].z) ||
                      (v[1].x == v[2].x && v[1].y == v[2].y && v[1].z == v[2].z);
    v[0].selected = v[1].selected = v[2].selected = thin ? 1 : 0;
    if (thin) ++found;
  }
  if (found == 0) return 0;
  char text[256];
  std::snprintf(text, sizeof text,
                "%d infinitely thin polygon(s) were found in this model. To avoid potential errors, "
                "these polygons need to be deleted.\n\nWould you like to delete these polygons now?",
                found);
  if (MessageBoxSafe(text, "WARNING !!!", MB_YESNO) == IDYES) {
    DeleteSelectedPolygons();
    CleanUpModel();
  }
  return found;
}
