#include "model/vertex_groups.h"

#include <cmath>

#include "model/float_hash.h"

int32_t groupHead[MaxVertices];
int32_t groupNext[MaxVertices];

namespace {

constexpr int GroupSlots = 1 << 18;
static_assert(GroupSlots >= 2 * MaxVertices, "group table too small");

int32_t slotHead[GroupSlots];    // first vertex of the group in the slot, or NoVertex
int32_t groupTail[MaxVertices];  // indexed by a group's first vertex

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

}  // namespace

void GroupVertices(int count, GroupKey key) {
  for (int s = 0; s < GroupSlots; ++s) slotHead[s] = NoVertex;
  for (int j = 0; j < count; ++j) {
    const ModelVertex& v = gModel.vertices[j];
    groupNext[j] = NoVertex;
    groupHead[j] = NoVertex;
    if (std::isnan(v.x) || std::isnan(v.y) || std::isnan(v.z)) continue;
    uint32_t slot = GroupHash(v, key) & (GroupSlots - 1);
    while (slotHead[slot] != NoVertex && !SameGroup(gModel.vertices[slotHead[slot]], v, key))
      slot = (slot + 1) & (GroupSlots - 1);
    const int32_t head = slotHead[slot];
    if (head == NoVertex) {
      slotHead[slot] = j;
      groupHead[j] = j;
      groupTail[j] = j;
    } else {
      groupHead[j] = head;
      groupNext[groupTail[head]] = j;
      groupTail[head] = j;
    }
  }
}
