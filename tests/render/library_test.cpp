#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/bmp.h"
#include "platform/scripted/scripted_ui.h"
#include "render/library_state.h"
#include "render/qlt.h"
#include "support/model_builder.h"

namespace {

int gChooseDevice = 0, gChooseMode = 6, gChooseResult = 1;
std::vector<std::string> gSeenNames;
std::vector<std::vector<int>> gSeenModes;

int Choose(int count, char (*names)[128], int32_t (*modes)[8], int* device, int* mode) {
  gSeenNames.assign(names, names + count);
  gSeenModes.clear();
  for (int i = 0; i < count; ++i) gSeenModes.emplace_back(modes[i], modes[i] + 8);
  *device = gChooseDevice, *mode = gChooseMode;
  return gChooseResult;
}

std::string ErrorMessage() {
  const std::string text = qlt_GetErrorString();
  const size_t first = text.find('\n');
  return text.substr(first + 1, text.rfind('\n', text.size() - 2) - first - 1);
}

class Library : public testing::Test {
 protected:
  void SetUp() override {
    TearDown();
    gChooseDevice = 0, gChooseMode = 6, gChooseResult = 1;
  }
  void TearDown() override {
    _qlt_ResetLibraryForTests();
    ResetDisplaySettings();
  }
  bool Start() {
    return qlt_Enumerate(nullptr, "Vornix 3D!", Choose) && qlt_Initialize(nullptr, 10000.0f, 60.0f);
  }
  ScopedScriptedUI scripted;
};

TEST_F(Library, CallOrderAndOnceOnlyErrorsKeepTheirTexts) {
  EXPECT_EQ(0, qlt_Initialize(nullptr, 10000.0f, 60.0f));
  EXPECT_EQ("Error:\n\nApplication did not call qlt_Enumerate()\nprior to qlt_Initialize()", ErrorMessage());
  EXPECT_EQ(1, qlt_Enumerate(nullptr, "t", Choose));
  EXPECT_EQ(0, qlt_Enumerate(nullptr, "t", Choose));
  EXPECT_EQ("qlt_Enumerate\nThis application has already called qlt_Enumerate() at least once!\n\n",
            std::string(qlt_GetErrorString()));
  EXPECT_EQ(0, qlt_Initialize(nullptr, 10000.0f, 60.0f));
  EXPECT_EQ("This application has already been initailized!", ErrorMessage());
  qlt_Shutdown();  // nothing was brought up: nothing to release
}

// A device index outside the list is refused like a broken dialog.
TEST_F(Library, SelectionResultsDecideEnumeration) {
  const char* broken =
      "Failure or _qlt_Enumerate() Dialog Box not implemented properly\n\nContact Developer.";
  const std::tuple<int, int, const char*> cases[] = {
      {0, 0, "Application Cancelled"}, {-1, 0, broken}, {1, 5, broken}};
  for (const auto& [result, device, text] : cases) {
    _qlt_ResetLibraryForTests();
    gChooseResult = result, gChooseDevice = device;
    EXPECT_EQ(0, qlt_Enumerate(nullptr, "t", Choose));
    EXPECT_EQ(text, ErrorMessage());
  }
}

// Without 3D hardware only the emulation entry exists. With it, 4 MB of
// video memory marks 1024 x 768 (4,718,592 bytes needed) but not 800 x 600,
// and never the emulation row.
TEST_F(Library, DevicesAndMemoryConstraints) {
  ASSERT_EQ(1, qlt_Enumerate(nullptr, "t", Choose));
  EXPECT_EQ(std::vector<std::string>{"3D Emulation through Primary Display Driver (display)"}, gSeenNames);
  EXPECT_EQ(std::vector<std::vector<int>>{std::vector<int>(8, 1)}, gSeenModes);

  _qlt_ResetLibraryForTests();
  _qlt_Direct3DOffer.halDevice = true;
  CurrentDisplaySettings().videoMemoryBytes = 4u * 1024 * 1024;
  CurrentDisplaySettings().modes.erase(CurrentDisplaySettings().modes.begin());  // no 320 x 200
  ASSERT_EQ(1, qlt_Enumerate(nullptr, "t", Choose));
  ASSERT_EQ(2u, gSeenNames.size());
  EXPECT_EQ("3D Acceleration through Primary Display Driver (display)", gSeenNames[1]);
  EXPECT_EQ((std::vector<std::vector<int>>{{0, 1, 1, 1, 1, 1, 1, 1}, {0, 1, 1, 1, 1, 1, 1, 2}}), gSeenModes);
}

TEST_F(Library, InitializationSetsTheModeAndBlackBuffers) {
  CurrentDisplaySettings().backBufferFormat = PixelFormat::Argb1555;
  gChooseMode = 7;
  ASSERT_TRUE(Start()) << qlt_GetErrorString();
  int w = 0, h = 0, bpp = 0;
  const int mode = qlt_ScreenSize(&w, &h, &bpp);
  EXPECT_EQ((std::vector<int>{7, 800, 600, 16, 5}), (std::vector<int>{mode, w, h, bpp, _qlt_GreenBits}));
  // Black in 1555 has the top bit set, in both buffers.
  EXPECT_EQ(0x8000u, _qlt_BackBuffer3->Pixels().Get(799, 599));
  EXPECT_EQ(0x8000u, _qlt_FrontBuffer3->Pixels().Get(0, 0));
  qlt_Shutdown();
  EXPECT_EQ(nullptr, _qlt_DirectDraw2);
  qlt_Shutdown();
}

TEST_F(Library, ModeFallbackAndSetDisplayModeErrors) {
  CurrentDisplaySettings().modes = {{700, 500, 16, 1400}, {640, 480, 16, 1280}, {800, 600, 32, 3200}};
  CurrentDisplaySettings().refusedModes = {{640, 480, 16, 1280}};
  ASSERT_TRUE(Start()) << qlt_GetErrorString();
  int w = 0;
  // Mode 0: the first listed, whatever its size.
  EXPECT_TRUE(qlt_ScreenSize(&w, nullptr, nullptr) == 0 && w == 700);
  EXPECT_EQ(2, _qlt_ModeCount);  // the 32-bit mode is not listed
  const char* range = "Unsupported Video Mode - The passed mode was <0 or >8";
  const std::pair<int, const char*> cases[] = {{9, range}, {-1, range}, {7, "Unsupported Video Mode - 7"}};
  for (const auto& [mode, text] : cases) {
    EXPECT_EQ(0, _qlt_SetDisplayMode(mode));
    EXPECT_EQ(text, ErrorMessage());
  }
  _qlt_ModeCount = 0;  // mode 0 with nothing listed is refused, not read
  EXPECT_EQ(0, _qlt_SetDisplayMode(0));
  EXPECT_EQ("Unsupported Video Mode - 0", ErrorMessage());
}

// Lost surfaces come back, and the library's clock carries on instead of
// jumping back to where it was last set.
TEST_F(Library, RestoredSurfacesKeepTheClockRunning) {
  ASSERT_TRUE(Start()) << qlt_GetErrorString();
  _qlt_BackBuffer3->MarkLost();
  _qlt_FrontBuffer3->MarkLost();
  _qlt_GetTime();  // the first reading starts the count
  usleep(60 * 1000);
  const uint32_t before = _qlt_GetTime();
  ASSERT_GE(before, 40u) << "about 60 ms in 1/1024 s";
  EXPECT_EQ(1, _qlt_RestoreSurfaces());
  EXPECT_TRUE(_qlt_BackBuffer3->IsLost() == DD_OK && _qlt_FrontBuffer3->IsLost() == DD_OK);
  EXPECT_GE(_qlt_GetTime(), before);
}

// Offered texture formats and the caption of the warning shown (none when
// null); without any format initialization fails.
TEST_F(Library, TextureFormatWarnings) {
  const std::pair<unsigned, const char*> cases[] = {
      {TextureRgb565, "Texture translucency and transparency not supported!!!"},
      {TextureRgb565 | TextureArgb1555, "Texture translucency not supported!!!"},
      {TextureArgb8888, nullptr},
      {0, nullptr}};
  for (const auto& [formats, warning] : cases) {
    _qlt_ResetLibraryForTests();
    scripted.ui.messages.clear();
    CurrentDisplaySettings().textureFormats = formats;
    EXPECT_EQ(formats != 0, Start()) << formats;
    ASSERT_EQ(warning ? 1u : 0u, scripted.ui.messages.size()) << formats;
    if (warning) {
      EXPECT_EQ("qlt_Initialize|" + std::string(warning),
                scripted.ui.messages[0].text + "|" + scripted.ui.messages[0].caption);
    }
  }
  EXPECT_EQ("No Compatible Texture Formats Are Supported!!!", ErrorMessage());
}

// Per green bit count: white and anything beyond it, black and anything
// below it, and (1, 0.5, 0); a channel out of range must not spill.
TEST(Colour, PacksByGreenBitsAndClamps) {
  const int cases[][4] = {{6, 0xFFFF, 0x0000, 0xF800 | 31 << 5},
                          {5, 0xFFFF, 0x8000, 0xFC00 | 15 << 5},
                          {4, 0xFFFF, 0xF000, 0xFF00 | 7 << 4}};
  const auto pack = qlt_MakeCompatible16bppColor;
  for (const auto& c : cases) {
    _qlt_GreenBits = c[0];
    EXPECT_EQ((std::vector<int>{c[1], c[1], c[2], c[2], c[3]}),
              (std::vector<int>{pack(1, 1, 1), pack(7, 2, 1.5f), pack(0, 0, 0), pack(-1, -0.5f, -3),
                                pack(1, 0.5f, 0)}))
        << c[0];
  }
  _qlt_GreenBits = 8;
  EXPECT_EQ(0, qlt_MakeCompatible16bppColor(1, 1, 1));
  EXPECT_EQ("BackBuffer 16 Bit Color Format Is Not 565, 1555, or 4444", ErrorMessage());
  _qlt_GreenBits = 0;
}

int CountPixels(uint32_t colour) {
  const Surface& s = _qlt_BackBuffer3->Pixels();
  int n = 0;
  for (int i = 0; i < s.width * s.height; ++i) n += s.Get(i % s.width, i / s.width) == colour;
  return n;
}

// Lines far outside, through corners and across the whole screen: every
// pixel drawn lies inside, and an on-screen stretch is drawn in full.
TEST_F(Library, LinesAreClippedToTheBackBuffer) {
  gChooseMode = 1;  // 320 x 200
  ASSERT_TRUE(Start());
  const Surface& s = _qlt_BackBuffer3->Pixels();
  ASSERT_EQ(1, qlt_DrawLine(10, 0, 0, 3, 0x1234));
  EXPECT_TRUE(s.Get(0, 3) == 0x1234 && s.Get(10, 0) == 0x1234);
  EXPECT_EQ(11, CountPixels(0x1234));
  const int lines[][4] = {{-5000, -7000, 9000, 8000},
                          {-100000, 100, 100000, 100},
                          {319, -1000000, 319, 1000000},
                          {-2147483647, -2147483647, 2147483647, 2147483647},
                          {0, 0, 10, -1},
                          {400, 300, 500, 900}};
  for (const auto& l : lines) EXPECT_EQ(1, qlt_DrawLine(l[0], l[1], l[2], l[3], 0xABCD));
  const int drawn[][2] = {{0, 100}, {319, 100}, {319, 0}, {319, 199}, {0, 0}};
  for (const auto& p : drawn) EXPECT_EQ(0xABCDu, s.Get(p[0], p[1])) << p[0] << ", " << p[1];
  EXPECT_EQ(1, qlt_DrawLine(-10, 5, 5, -10, 0x0BAD));
  EXPECT_EQ(1, qlt_DrawLine(330, 190, 310, 210, 0x0BAD));
  EXPECT_EQ(0, CountPixels(0x0BAD)) << "lines passing outside a corner draw nothing";

  _qlt_RenderActive = 1;
  EXPECT_EQ(0, qlt_DrawLine(0, 0, 5, 5, 1));
  EXPECT_EQ(
      "qlt_DrawLine\nDrawing lines are not allowed between an qlt_RenderBegin() & qlt_RenderEnd() pair.\n" +
          std::string(qlt_ErrorText(DDERR_SURFACEBUSY)) + "\n",
      qlt_GetErrorString());
  EXPECT_EQ(0, qlt_BitmapBlit(-1, -1, 0, 1, 0, 1, 1, 2, 1, 2));
  EXPECT_EQ("Standard blitting is not allowed between an\nqlt_RenderBegin() & qlt_RenderEnd() pair.",
            ErrorMessage());
  _qlt_RenderActive = 0;
}

std::string WriteBmp(const std::string& name, int w, int h, uint8_t r, uint8_t g, uint8_t b) {
  BmpImage image{w, h, false, std::vector<uint8_t>(size_t(w) * h * 4, 255)};
  for (size_t i = 0; i < image.rgba.size(); i += 4)
    image.rgba[i] = r, image.rgba[i + 1] = g, image.rgba[i + 2] = b;
  const std::string path = TempPath(name);
  WriteBmp24File(path.c_str(), image);
  return path;
}

TEST_F(Library, BitmapsLoadBlitReuseAndRefuse) {
  ASSERT_TRUE(Start());
  const std::string red = WriteBmp("red.bmp", 4, 3, 255, 0, 0);
  int a = -1, b = -1, c = -1, again = -1;
  ASSERT_TRUE(qlt_BitmapLoad(&a, red.c_str(), 1, 0, 0) && qlt_BitmapLoad(&b, red.c_str(), 0, 0, 0) &&
              qlt_BitmapLoad(&c, red.c_str(), 0, 0, 0));
  ASSERT_TRUE(qlt_BitmapFree(b) && qlt_BitmapLoad(&again, red.c_str(), 0, 0, 0));
  EXPECT_EQ(b, again) << "a freed entry is reused";
  // The keyed bitmap's only colour is its key: nothing arrives; unkeyed it does.
  const Surface& s = _qlt_BackBuffer3->Pixels();
  EXPECT_EQ(1, qlt_BitmapBlit(a, -1, 0, 4, 0, 3, 10, 18, 10, 16));
  EXPECT_EQ(0u, s.Get(12, 12));
  EXPECT_EQ(1, qlt_BitmapBlit(c, -1, 0, 4, 0, 3, 10, 18, 10, 16));
  EXPECT_EQ(0xF800u, s.Get(17, 15));
  EXPECT_EQ(0u, s.Get(18, 16));
  // Indices that name no entry, the count itself included.
  EXPECT_EQ(0, qlt_BitmapBlit(77, -1, 0, 4, 0, 3, 0, 4, 0, 3));
  EXPECT_EQ(0, qlt_BitmapFree(_qlt_BitmapIndex));
  EXPECT_EQ(0, qlt_BitmapWidth(-1));

  std::string bytes = ReadAll(red);
  bytes[30] = 1;  // run-length compression
  const std::string rle = TempPath("rle.bmp");
  std::ofstream(rle, std::ios::binary) << bytes;
  EXPECT_EQ(0, qlt_BitmapLoad(&a, rle.c_str(), 0, 0, 0));
  EXPECT_EQ(rle + "\n\nCan not process compressed windows bitmaps!\nManual conversion required.",
            ErrorMessage());
  EXPECT_EQ(0, qlt_BitmapLoad(&a, "/nonexistent.bmp", 0, 0, 0));
  EXPECT_EQ("Can not load windows bitmap file: /nonexistent.bmp ", ErrorMessage());
  EXPECT_EQ(0, qlt_BitmapLoad(&a, red.c_str(), 1, 4, 0)) << "key pixel outside";

  // The table holds 256 entries; the 257th load is refused with a message.
  int loaded = _qlt_BitmapIndex, last = -1;
  while (loaded < QltMaxBitmaps && qlt_BitmapLoad(&last, red.c_str(), 0, 0, 0)) ++loaded;
  EXPECT_EQ(QltMaxBitmaps, loaded);
  EXPECT_EQ(0, qlt_BitmapLoad(&last, red.c_str(), 0, 0, 0));
  EXPECT_NE(std::string::npos, ErrorMessage().find("256"));
  for (const std::string& p : {red, rle}) unlink(p.c_str());
}

uint32_t Le32(const std::string& s, size_t at) {
  return uint8_t(s[at]) | uint8_t(s[at + 1]) << 8 | uint8_t(s[at + 2]) << 16 |
         uint32_t(uint8_t(s[at + 3])) << 24;
}

// Source width and height, the square's side.
TEST_F(Library, SquareConversionSizesAndReadBack) {
  ASSERT_TRUE(Start());
  const uint32_t cases[][3] = {{300, 20, 256}, {20, 20, 32}, {128, 128, 128}, {129, 1, 256}, {33, 2, 64}};
  const std::string target = TempPath("square.bmp");
  for (const auto& [width, height, side] : cases) {
    const std::string source = WriteBmp("source.bmp", int(width), int(height), 255, 255, 255);
    ASSERT_EQ(1, _qlt_AnyBMPtoSquare24BitBMP(source.c_str(), target.c_str())) << qlt_GetErrorString();
    const std::string out = ReadAll(target);
    ASSERT_EQ(54 + side * side * 3, out.size());
    EXPECT_EQ((std::vector<uint32_t>{uint32_t(out.size()), side, side, 3937}),
              (std::vector<uint32_t>{Le32(out, 2), Le32(out, 18), Le32(out, 22), Le32(out, 38)}));
    // 0xFFFF on 565, in the first and the last pixel.
    EXPECT_EQ("\xF8\xFC\xF8\xF8\xFC\xF8", out.substr(54, 3) + out.substr(out.size() - 3));
    unlink(source.c_str());
  }
  EXPECT_EQ(0, _qlt_BitmapIndex) << "both work bitmaps freed";
  unlink(target.c_str());
}

// Converted: binary 1 x 2, top row (32, 7, 0), bottom row (0, 0, 15), whose
// first data byte equals a space and is still a pixel, and 32 > 15 is
// clamped; text 2 x 1, (15, 7, 0) then (0, 0, 15). Rows are stored bottom
// row first, blue-green-red, padded to four bytes.
TEST_F(Library, PpmScalesSamplesKeepsTheTopRowOnTopAndRefusesBadFiles) {
  const std::string folder = TempPath("ppm_dir");
  mkdir(folder.c_str(), 0700);
  ASSERT_EQ(0, chdir(folder.c_str()));  // the plain conversion's bitmap lands here
  ASSERT_TRUE(Start());
  auto convert = [](const std::string& content) {
    std::ofstream("in.ppm", std::ios::binary) << content;
    return _qlt_AnyPPMtoSquare24BitBMP("in.ppm", "out.bmp");
  };
  const std::pair<std::string, std::string> converted[] = {
      {std::string("P6\n# c\n1 2\n15\n") + std::string("\x20\x07\x00\x00\x00\x0F", 6),
       std::string("\xFF\x00\x00\x00\x00\x77\xFF\x00", 8)},
      {"P3\n# comment\n2 1 # more\n15\n15 7 0\n0 0 15", std::string("\x00\x77\xFF\xFF\x00\x00\x00\x00", 8)}};
  for (const auto& [content, pixels] : converted) {
    ASSERT_EQ(1, convert(content)) << qlt_GetErrorString();
    EXPECT_EQ(32u * 32 * 3 + 54, ReadAll("out.bmp").size());
    EXPECT_FALSE(FileExists("temp_ppm.bmp")) << "the square is made outside the current folder";
    ASSERT_EQ(1, _qlt_PPMto24BitBMP("in.ppm", "PPMto24BitBMP")) << qlt_GetErrorString();
    EXPECT_EQ(pixels, ReadAll("temp_ppm.bmp").substr(54));
    unlink("temp_ppm.bmp");
  }
  const std::string invalid = "Not a valid PPM file!",
                    shortData = "The PPM pixel data is shorter than its header announces!";
  const std::pair<std::string, std::string> refused[] = {
      {"P5\n1 1\n255\n\x01", invalid},
      {"P6\n1 1\n255", invalid},
      {"P6\n0 1\n255\n", invalid},
      {"P6\n1 1\n0\n\x01\x01\x01", "The maximum sample value of a PPM file must lie between 1 and 65535!"},
      {"P6\n2 2\n255\n\x01\x01\x01", shortData},
      {"P3\n1 2\n255\n1 2 3 4", shortData},
      {"P6\n100000 100000\n255\n", "The PPM image is too large!"},
  };
  for (const auto& [content, text] : refused) {
    EXPECT_EQ(0, convert(content)) << text;
    EXPECT_EQ("in.ppm : " + text, ErrorMessage());
  }
  for (const char* name : {"temp_ppm.bmp", "in.ppm", "out.bmp"}) unlink(name);
  EXPECT_EQ(0, _qlt_AnyPPMtoSquare24BitBMP("in.ppm", "out.bmp"));
  EXPECT_EQ("Could not open PPM file: in.ppm", ErrorMessage());
  chdir("/");
  rmdir(folder.c_str());
}

// Found by fuzzing: a few bytes claiming 8192 x 8192 pixels made a 200 MB
// bitmap before the missing pixels were noticed. The peak memory of the
// process (VmHWM, reset through clear_refs) shows what the refusal cost.
TEST_F(Library, PpmClaimsMorePixelsThanItHolds) {
  std::ofstream clear("/proc/self/clear_refs");
  if (!(clear << "5" << std::flush)) GTEST_SKIP() << "the peak memory cannot be reset here";
  const auto peakKb = [] {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return 0L;
  };
  const long before = peakKb();
  const std::string input = VORNIX_TEST_DATA_DIR "/regressions/ppm_claims_more_pixels_than_it_holds.ppm";
  const std::string bitmap = TempPath("claims.bmp");
  EXPECT_EQ(0, _qlt_AnyPPMtoSquare24BitBMP(input.c_str(), bitmap.c_str()));
  EXPECT_NE(std::string::npos, std::string(qlt_GetErrorString()).find("shorter than its header announces"));
  EXPECT_LT(peakKb() - before, 16 * 1024) << "kB more at the peak";
}

}  // namespace
