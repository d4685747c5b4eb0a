// libFuzzer target: converting any bytes as a bitmap into a square 24-bit
// bitmap either fails or writes a square of 32 to 256 pixels a side, and
// leaves no bitmap entry taken.
//   fuzz_square_bmp corpus_dir ../shared/corpus/x ../shared/corpus/3ds
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "input_file.h"
#include "platform/bmp.h"
#include "render/library_state.h"
#include "render/qlt.h"

namespace {

int ChooseFirstMode(int, char (*)[128], int32_t (*)[8], int* device, int* mode) {
  *device = 0;
  *mode = 6;
  return 1;
}

// The conversion stretches through the display's surfaces.
bool StartDisplay() {
  if (!qlt_Enumerate(nullptr, "fuzz", ChooseFirstMode) || !qlt_Initialize(nullptr, 1000.0f, 60.0f))
    std::abort();
  return true;
}

bool IsSquareSide(int side) { return side == 32 || side == 64 || side == 128 || side == 256; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = StartDisplay();
  static const std::string source = InputPath(".bmp"), target = InputPath("_square.bmp");
  (void)started;
  if (!WriteInput(source, data, size)) return 0;
  const int taken = _qlt_BitmapIndex;
  const int converted = _qlt_AnyBMPtoSquare24BitBMP(source.c_str(), target.c_str());
  if (_qlt_BitmapIndex != taken) std::abort();
  if (!converted) return 0;
  BmpImage image;
  if (ReadBmpFile(target.c_str(), &image) != BmpResult::Ok || image.width != image.height ||
      !IsSquareSide(image.width))
    std::abort();
  return 0;
}
