// libFuzzer target: any bytes given to the X importer leave a valid Model.
//   fuzz_x_import -dict=fuzz/x.dict corpus_dir ../shared/corpus/x
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "formats/x_import.h"
#include "model/model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/vornix_fuzz_" + std::to_string(getpid()) + ".x";
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  ImportX(path.c_str());
  if (*CheckModelInvariants() != '\0') std::abort();
  return 0;
}
