// libFuzzer target: any bytes given to the native reader leave a valid Model.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "model/model.h"
#include "model/native_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/vornix_fuzz_" + std::to_string(getpid()) + ".vnx";
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  LoadNativeModel(path.c_str());
  if (*CheckModelInvariants() != '\0') std::abort();
  return 0;
}
