// libFuzzer target: any bytes given to the Quelt importer either replace the
// Model with a valid one or leave it exactly as it was.
//   fuzz_qlt_import corpus_dir
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "input_file.h"
#include "formats/qlt_file.h"
#include "model/model.h"

namespace {

// One fixed triangle, so that a refused file can be seen to change nothing.
void PlaceKnownModel() {
  ClearModel();
  std::memset(&gModel.materials[0], 0, sizeof(ModelMaterial));
  gModel.materials[0].red = 0.5f;
  gModel.materialCount = 1;
  for (int k = 0; k < 3; ++k) {
    ModelVertex& v = gModel.vertices[k];
    std::memset(&v, 0, sizeof v);
    v.x = float(k);
    v.y = float(k == 2);
  }
  gModel.vertexCount = 3;
  RecomputeBounds();
}

bool KnownModelIsIntact() {
  return gModel.vertexCount == 3 && gModel.materialCount == 1 && gModel.materials[0].red == 0.5f &&
         gModel.vertices[2].x == 2.0f && gModel.vertices[2].y == 1.0f && gModel.maxX == 2.0f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = InputPath(".qlt");
  if (!WriteInput(path, data, size)) return 0;
  PlaceKnownModel();
  const int imported = ImportQLT(path.c_str());
  if (*CheckModelInvariants() != '\0') std::abort();
  if (!imported && !KnownModelIsIntact()) std::abort();
  return 0;
}
