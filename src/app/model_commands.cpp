#include "app/model_commands.h"

#include "model/geometry.h"

void ApplyScale(ScaleMode mode, float factor) {
  switch (mode) {
    case ScaleMode::Uniform:
      ScaleX(factor);
      ScaleY(factor);
      ScaleZ(factor);
      break;
    case ScaleMode::WidthX: ScaleX(factor); break;
    case ScaleMode::HeightY: ScaleY(factor); break;
    case ScaleMode::LengthZ: ScaleZ(factor); break;
  }
}

void ApplyReverse(const ReverseChoice& choice) {
  if (choice.polygonOrder) ReversePolygonOrder();
  if (choice.normals) ReverseNormals();
  if (choice.u) ReverseU();
  if (choice.v) ReverseV();
}
