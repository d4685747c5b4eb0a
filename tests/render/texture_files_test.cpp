#include "render/texture_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/bmp.h"
#include "platform/png.h"
#include "platform/scripted/scripted_ui.h"
#include "render/materials.h"
#include "render/qlt.h"
#include "support/model_builder.h"
#include "support/picture_writer.h"

// Without gdk-pixbuf there are no picture textures to test.
#ifdef VORNIX_HAVE_PIXBUF

namespace {

int AddTexture(const char* texture, const char* alpha = nullptr) {
  return qlt_AddMaterial(1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1, texture, alpha ? 1 : 0, alpha);
}

const QltMaterialRecord& Record(int handle) { return _qlt_Material[handle]; }
const std::vector<uint32_t>& Texels(int handle) {
  return _qlt_Device->Texture(Record(handle).hSystemTexture)->texels;
}

void Append32(std::string* out, uint32_t v) { *out += {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }
void AppendChunk(std::string* out, const std::string& chunk) {
  Append32(out, uint32_t(chunk.size() - 4));
  *out += chunk;
  Append32(out, Crc32(reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size()));
}

// A PNG whose header claims this size, with one row of pixels: the decoder
// tells the size once the pixels begin.
std::string TinyPngClaiming(uint32_t width, uint32_t height) {
  std::string png = "\x89PNG\r\n\x1a\n", header = "IHDR";
  Append32(&header, width);
  Append32(&header, height);
  header += std::string("\x08\x02\0\0\0", 5);
  AppendChunk(&png, header);
  const std::vector<uint8_t> row(1 + size_t(width) * 3, 0);
  const std::vector<uint8_t> data = ZlibStore(row.data(), row.size());
  AppendChunk(&png, "IDAT" + std::string(data.begin(), data.end()));
  return png;
}

// The emulation device in 640 x 480, in a folder of its own where the
// temporary bitmaps land.
class PictureTextures : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset();
    folder_ = TempPath("pictures");
    std::system(("rm -rf '" + folder_ + "'").c_str());
    mkdir(folder_.c_str(), 0700);
    ASSERT_EQ(0, chdir(folder_.c_str()));
    auto choose = [](int, char(*)[128], int32_t(*)[8], int* device, int* mode) {
      *device = 0, *mode = 6;
      return 1;
    };
    ASSERT_TRUE(qlt_Enumerate(nullptr, "t", choose) && qlt_Initialize(nullptr, 1000.0f, 60.0f));
    scripted.ui.messages.clear();
  }
  void TearDown() override {
    Reset();
    ASSERT_EQ(0, chdir("/"));
    std::system(("rm -rf '" + folder_ + "'").c_str());
  }
  void Reset() {
    _qlt_ResetLibraryForTests();
    ResetDisplaySettings();
    qlt_FreeMaterials();
  }
  std::string folder_;
  ScopedScriptedUI scripted;
};

// A 50 x 40 gradient is stretched into a 64-pixel texture the same way from
// every lossless format; JPEG stays close. The alpha bitmap is a PNG whose
// own alpha channel is clear: its grey colour is what counts.
TEST_F(PictureTextures, EveryFormatGivesTheTexelsOfTheBitmap) {
  const BmpImage image = MakeImage(
      50, 40, [](int x, int y) { return uint32_t(x * 5) << 16 | uint32_t(y * 6) << 8 | (x + y) * 2; });
  ASSERT_TRUE(WriteBmp24File("pic.bmp", image));
  ASSERT_TRUE(SavePicture(image, "pic.png", "png"));
  ASSERT_TRUE(SaveTga(image, "pic.tga"));
  ASSERT_TRUE(SavePicture(image, "pic.jpg", "jpeg"));
  BmpImage mask = MakeImage(50, 40, [](int, int) { return 0x808080u; });
  mask.hasAlpha = true;
  for (size_t i = 3; i < mask.rgba.size(); i += 4) mask.rgba[i] = 0;
  ASSERT_TRUE(SavePicture(mask, "mask.png", "png"));
  for (const char* name : {"pic.bmp", "pic.png", "pic.tga", "pic.jpg"}) AddTexture(name);
  AddTexture("pic.png", "mask.png");
  EXPECT_EQ(4, _qlt_TexturesNeeded[5]);  // sized from the headers alone
  EXPECT_EQ(1, _qlt_TexturesNeeded[4]);
  ASSERT_EQ(1, qlt_CreateMaterials(nullptr));
  EXPECT_TRUE(scripted.ui.messages.empty()) << scripted.ui.messages[0].text;
  for (int handle = 1; handle <= 5; ++handle) ASSERT_NE(0u, Record(handle).hSystemTexture) << handle;
  const std::vector<uint32_t>& bmp = Texels(1);
  ASSERT_EQ(64u * 64u, bmp.size());
  EXPECT_EQ(bmp, Texels(2));
  EXPECT_EQ(bmp, Texels(3));
  // Texels are kept as 8 bits a channel: the mean distance stays under half
  // the display's 5-bit step.
  double distance = 0;
  for (size_t i = 0; i < bmp.size(); ++i)
    for (int shift : {16, 8, 0})
      distance += std::abs(int(bmp[i] >> shift & 255) - int(Texels(4)[i] >> shift & 255));
  EXPECT_LT(distance / (3.0 * bmp.size()), 4.0);
  EXPECT_EQ(0x77u, Texels(5)[0] >> 24);  // grey 128 as alpha, through 4-4-4-4
}

// Each file gets the texture warning with its name and the reason, and the
// material stays untextured. The huge header is refused from the header
// alone (decoding it would mean 1.2 GB of pixels), and so is a picture of a
// kind not taken, whatever its extension says.
TEST_F(PictureTextures, UnusablePicturesAreRefusedWithTheWarning) {
  std::ofstream("huge.png", std::ios::binary) << TinyPngClaiming(20000, 20000);
  // Damaged pixel data the decoder gives up on (merely bad zlib data it
  // would decode as far as it goes).
  std::string broken = TinyPngClaiming(8, 8);
  broken.back() ^= 1;  // the pixel chunk's checksum
  std::ofstream("broken.png", std::ios::binary) << broken;
  std::ofstream("vector.png") << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"32\" height=\"32\"/>";
  const struct {
    const char* file;
    int textureClass;
    std::string message;  // after the operation
  } cases[] = {
      {"huge.png", -1, "huge.png : The picture is too large (20000 x 20000 pixels)!\n\n"},
      {"broken.png", 7, "broken.png : "},
      {"vector.png", -1, "vector.png : Not a PNG, JPEG, TGA or GIF picture!\n\n"},
      {"missing.gif", -1, "Could not open picture file: missing.gif\n\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.textureClass, _qlt_DetermineTextureSize(c.file, 0)) << c.file;
    AddTexture(c.file);
  }
  ASSERT_EQ(1, qlt_CreateMaterials(nullptr));
  ASSERT_EQ(4u, scripted.ui.messages.size());
  for (int i = 0; i < 4; ++i) {
    const std::string expected = "_qlt_AnyPictureToSquare24BitBMP\n" + cases[i].message;
    const std::string& text = scripted.ui.messages[i].text;
    // The decoder's own words follow the file name.
    EXPECT_EQ(expected, expected.back() == '\n' ? text : text.substr(0, expected.size()));
    EXPECT_GT(text.size(), expected.back() == '\n' ? 0 : expected.size() + 4) << text;
    EXPECT_EQ("Warning:", scripted.ui.messages[i].caption);
    EXPECT_EQ(0u, Record(1 + i).hSystemTexture) << cases[i].file;
  }
}

// Names as another system wrote them are found in any case, backslashes
// being folders; the material keeps the name, and so do the messages.
TEST_F(PictureTextures, NamesFromAnotherSystemAreFoundInAnyCase) {
  ASSERT_EQ(0, mkdir("misc", 0700));
  const BmpImage wood = MakeImage(32, 32, [](int x, int y) { return (x ^ y) & 1 ? 0xA0522Du : 0x402010u; });
  ASSERT_TRUE(WriteBmp24File("misc/wood.bmp", wood));
  ASSERT_TRUE(SavePicture(wood, "misc/Wood.png", "png"));
  std::ofstream("misc/bad.png") << "not a picture";
  for (const char* name : {"MISC\\WOOD.BMP", "misc\\\\wood.PNG", "MISC\\BAD.PNG"}) AddTexture(name);
  EXPECT_EQ(2, _qlt_TexturesNeeded[7]);
  ASSERT_EQ(1, qlt_CreateMaterials(nullptr));
  ASSERT_NE(0u, Record(1).hSystemTexture);
  EXPECT_STREQ("MISC\\WOOD.BMP", Record(1).values.textureName);
  EXPECT_EQ(Texels(1), Texels(2));
  ASSERT_EQ(1u, scripted.ui.messages.size());
  EXPECT_EQ("_qlt_AnyPictureToSquare24BitBMP\nMISC\\BAD.PNG : Not a PNG, JPEG, TGA or GIF picture!\n\n",
            scripted.ui.messages[0].text);
}

}  // namespace

#endif
