// libFuzzer target: any bytes given to the DXF importer leave a valid Model
// whose polygons all name an existing material.
//   fuzz_dxf_import corpus_dir ../shared/corpus/dxf
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "input_file.h"
#include "formats/dxf_import.h"
#include "model/model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = InputPath(".dxf");
  if (!WriteInput(path, data, size)) return 0;
  ImportDXF(path.c_str());
  if (*CheckModelInvariants() != '\0') std::abort();
  for (int k = 0; k < gModel.vertexCount; ++k) {
    const ModelVertex& v = gModel.vertices[k];
    if (v.material < 0 || v.material >= gModel.materialCount) std::abort();
    if (v.x != v.x || v.y != v.y || v.z != v.z) std::abort();
  }
  return 0;
}
