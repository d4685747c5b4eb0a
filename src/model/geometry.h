// In-place edits of the Model's geometry. Whole-model transforms work on
// every vertex and recompute the bounds; the PolyList operations work on the
// polygons whose first vertex is selected (deletion looks at every vertex).
#pragma once

void TranslateX(float d);
void TranslateY(float d);
void TranslateZ(float d);
void RotateX(float degrees);
void RotateY(float degrees);
void RotateZ(float degrees);
void ScaleX(float f);
void ScaleY(float f);
void ScaleZ(float f);

void ReversePolygonOrder();
void ReverseNormals();
void ReverseU();
void ReverseV();
void DeleteSelectedPolygons();
