// Vertices at exactly the same position (float equality: -0 equals +0, NaN
// equals nothing), optionally also of the same material, linked into lists in
// table order. The smoothing passes walk these lists instead of comparing
// every pair of vertices, and so add their sums in the same order.
#pragma once

#include <cstdint>

#include "model/model.h"

constexpr int NoVertex = -1;

enum class GroupKey { Position, PositionAndMaterial };

// Groups vertices 0 .. count-1 of the Model.
void GroupVertices(int count, GroupKey key);

// The first vertex of vertex j's group (NoVertex for a NaN position), and the
// vertex after j in its group (NoVertex at the end).
extern int32_t (&groupHead)[MaxVertices];
extern int32_t (&groupNext)[MaxVertices];
