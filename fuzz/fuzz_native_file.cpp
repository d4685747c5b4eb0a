// libFuzzer target: any bytes given to the native reader leave a valid Model.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "input_file.h"
#include "model/model.h"
#include "model/native_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = InputPath(".vnx");
  if (!WriteInput(path, data, size)) return 0;
  LoadNativeModel(path.c_str());
  if (*CheckModelInvariants() != '\0') std::abort();
  return 0;
}
