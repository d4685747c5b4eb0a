// libFuzzer target: the PPM conversion either refuses the bytes with a reason
// or writes a bitmap that decodes.
//   fuzz_ppm_decode corpus_dir
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "input_file.h"
#include "platform/bmp.h"
#include "render/qlt.h"

namespace {

// The conversion writes its bitmap into the current folder: one of our own.
std::string EnterScratchFolder() {
  char folder[] = "/tmp/vornix_fuzz_ppm_XXXXXX";
  if (!mkdtemp(folder) || chdir(folder) != 0) std::abort();
  return std::string(folder) + "/in.ppm";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = EnterScratchFolder();
  if (!WriteInput(path, data, size)) return 0;
  _qlt_SetError("", "", 0);
  const std::string cleared = qlt_GetErrorString();
  if (!_qlt_PPMto24BitBMP(path.c_str(), "fuzz")) {
    if (cleared == qlt_GetErrorString()) std::abort();  // refused without a reason
    return 0;
  }
  BmpImage image;
  if (ReadBmpFile("temp_ppm.bmp", &image) != BmpResult::Ok || image.width <= 0 || image.height <= 0)
    std::abort();
  return 0;
}
