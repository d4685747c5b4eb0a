#include "model/vertex_groups.h"

#include <cmath>

#include "model/float_hash.h"
#include "platform/large_pages.h"

namespace {

constexpr int GroupSlots = 1 << 18;
static_assert(GroupSlots >= 2 * MaxVertices, "group table too small");

// A model at capacity touches every part of these, so they share one large
// page rather than faulting in some 450 small ones.
struct alignas(LargePageSize) GroupTables {
  int32_t head[MaxVertices];
  int32_t next[MaxVertices];
  int32_t slotLast[GroupSlots];  // the latest vertex of the group in the slot, or NoVertex
};
static_assert(3 * sizeof(int32_t) * MaxVertices < LargePageSize, "the lists no longer fit one large page");
GroupTables tables;
[[maybe_unused]] const bool tablesAdvised = (AdviseLargePages(&tables, sizeof tables), true);

uint32_t GroupHash(const ModelVertex& v, GroupKey key) {
  uint64_t h = EqualityBits(v.x);
  h = HashStep(h, EqualityBits(v.y));
  h = HashStep(h, EqualityBits(v.z));
  if (key == GroupKey::PositionAndMaterial) h = HashStep(h, uint32_t(v.material));
  return HashFinish(h);
}

bool SameGroup(const ModelVertex& a, const ModelVertex& b, GroupKey key) {
  return a.x == b.x && a.y == b.y && a.z == b.z && (key == GroupKey::Position || a.material == b.material);
}

// At least twice the count, so probe chains stay short; a small model
// clears only a small table.
uint32_t SlotsFor(int count) {
  uint32_t slots = 1024;
  while (slots < 2 * uint32_t(count) && slots < GroupSlots) slots *= 2;
  return slots;
}

}  // namespace

int32_t (&groupHead)[MaxVertices] = tables.head;
int32_t (&groupNext)[MaxVertices] = tables.next;

void GroupVertices(int count, GroupKey key) {
  const uint32_t slots = SlotsFor(count);
  int32_t* slotLast = tables.slotLast;
  for (uint32_t s = 0; s < slots; ++s) slotLast[s] = NoVertex;
  for (int j = 0; j < count; ++j) {
    const ModelVertex& v = gModel.vertices[j];
    groupNext[j] = NoVertex;
    groupHead[j] = NoVertex;
    if (std::isnan(v.x) || std::isnan(v.y) || std::isnan(v.z)) continue;
    // Every member of a group compares equal to the new vertex alike, so the
    // latest one stands for the group.
    uint32_t slot = GroupHash(v, key) & (slots - 1);
    while (slotLast[slot] != NoVertex && !SameGroup(gModel.vertices[slotLast[slot]], v, key))
      slot = (slot + 1) & (slots - 1);
    const int32_t last = slotLast[slot];
    groupHead[j] = last == NoVertex ? j : groupHead[last];
    if (last != NoVertex) groupNext[last] = j;
    slotLast[slot] = j;
  }
}
