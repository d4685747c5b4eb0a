// libFuzzer target: any bytes given to the X importer leave a valid Model.
//   fuzz_x_import -dict=fuzz/x.dict corpus_dir ../shared/corpus/x
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "input_file.h"
#include "formats/x_import.h"
#include "model/model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = InputPath(".x");
  if (!WriteInput(path, data, size)) return 0;
  ImportX(path.c_str());
  if (*CheckModelInvariants() != '\0') std::abort();
  return 0;
}
