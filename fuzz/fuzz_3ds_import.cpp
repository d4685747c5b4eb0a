// libFuzzer target: any bytes given to the 3DS importer leave a valid Model
// with finite coordinates and normals.
//   fuzz_3ds_import -dict=fuzz/3ds.dict corpus_dir ../shared/corpus/3ds
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "input_file.h"
#include "formats/studio_import.h"
#include "model/model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = InputPath(".3ds");
  if (!WriteInput(path, data, size)) return 0;
  Import3DS(path.c_str());
  if (*CheckModelInvariants() != '\0') std::abort();
  for (int k = 0; k < gModel.vertexCount; ++k) {
    const ModelVertex& v = gModel.vertices[k];
    if (v.material < 0 || v.material >= gModel.materialCount) std::abort();
    for (float f : {v.x, v.y, v.z, v.nx, v.ny, v.nz, v.u, v.v})
      if (!std::isfinite(f)) std::abort();
  }
  return 0;
}
