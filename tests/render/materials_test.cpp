#include "render/materials.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/bmp.h"
#include "platform/scripted/scripted_ui.h"
#include "render/qlt.h"
#include "support/model_builder.h"
#include "support/picture_writer.h"

namespace {

// Declares an untextured material whose colours all derive from one value.
int AddPlain(float v) {
  return qlt_AddMaterial(v, v / 2, v / 4, 1, 10 * v, 1, 2, 3, 4, 5, 6, 0, nullptr, 0, nullptr);
}

int AddTexture(const char* texture, const char* alpha = nullptr, float opacity = 1.0f) {
  return qlt_AddMaterial(1, 1, 1, opacity, 0, 0, 0, 0, 0, 0, 0, 1, texture, alpha ? 1 : 0, alpha);
}

// Every pixel from colour(x, y) as red, green, blue.
template <typename Colour>
void WriteBmp(const std::string& name, int width, int height, Colour colour) {
  ASSERT_TRUE(WriteBmp24File(name.c_str(), MakeImage(width, height, colour)));
}
void WriteSolid(const std::string& name, int width, int height, uint32_t rgb) {
  WriteBmp(name, width, height, [rgb](int, int) { return rgb; });
}

const QltMaterialRecord& Record(int handle) { return _qlt_Material[handle]; }
uint32_t RenderState(D3DRENDERSTATETYPE state) {
  uint32_t value = 0;
  _qlt_Device->GetRenderState(state, &value);
  return value;
}

// Works in a folder of its own, where the temporary bitmaps land.
class QltMaterials : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset();
    mkdir(TempPath("textures").c_str(), 0700);
    ASSERT_EQ(0, chdir(TempPath("textures").c_str()));
  }
  void TearDown() override {
    Reset();
    chdir("/");
  }
  void Reset() {
    _qlt_ResetLibraryForTests();
    ResetDisplaySettings();
    qlt_SetBackgroundMaterialColor(0, 0, 0);
    qlt_FreeMaterials();
  }
  // The simulated hardware device in 320 x 200 when asked, else the
  // emulation device in 640 x 480.
  bool Start(bool hardware) {
    _qlt_Direct3DOffer.halDevice = hardware;
    auto choose = [](int, char(*)[128], int32_t(*)[8], int* device, int* mode) {
      *device = _qlt_Direct3DOffer.halDevice ? 1 : 0, *mode = *device ? 1 : 6;
      return 1;
    };
    return qlt_Enumerate(nullptr, "t", choose) && qlt_Initialize(nullptr, 1000.0f, 60.0f);
  }
  // Leaves `room` bytes of video memory once the 320 x 200 flip chain and
  // z-buffer are placed.
  bool StartHardwareWithRoom(uint32_t room) {
    CurrentDisplaySettings().videoMemoryBytes = 3 * 320 * 200 * 2 + room;
    uint32_t total = 0, free = 0;
    return Start(true) && _qlt_DirectDraw2->GetAvailableVidMem(&total, &free) == DD_OK && free == room;
  }
  ScopedScriptedUI scripted;
};

// Handles follow the declaration order from 1; material 0 is the background,
// lit only by its own colour. Texture names are cut to the field; a texture
// needs a name, an alpha bitmap needs a texture, and a texture with its own
// alpha makes the material translucent. A selection must name a material,
// and rebuilding the materials forgets it (-1, which is no handle either).
TEST_F(QltMaterials, DeclarationsBecomeMaterialsNumberedFromOne) {
  AddPlain(0.4f);
  const std::string longName(300, 'n');
  qlt_AddMaterial(1, 1, 1, .5f, 0, 0, 0, 0, 0, 0, 0, 1, longName.c_str(), 1, "a.bmp");
  qlt_AddMaterial(1, 1, 1, .5f, 0, 0, 0, 0, 0, 0, 0, 1, "w.bmp", 0, "x.bmp");
  qlt_AddMaterial(1, 1, 1, .5f, 0, 0, 0, 0, 0, 0, 0, 0, "x.bmp", 1, "x.bmp");
  qlt_AddMaterial(1, 1, 1, .5f, 0, 0, 0, 0, 0, 0, 0, 1, nullptr, 1, "x.bmp");
  EXPECT_EQ(1, qlt_MaterialCount());  // nothing is created before the call
  int32_t handles[5] = {};
  ASSERT_EQ(1, qlt_CreateMaterials(handles));
  EXPECT_EQ((std::vector<int32_t>{1, 2, 3, 4, 5}), std::vector<int32_t>(handles, handles + 5));
  // Diffuse, ambient, specular and emissive colour and power, as stored.
  const float plain[17] = {.4f, .2f, .1f, 1, .4f, .2f, .1f, 1, 1, 2, 3, 0, 4, 5, 6, 0, 4};
  EXPECT_EQ(0, std::memcmp(plain, qlt_GetMaterial(1), sizeof plain));
  const std::string names[4] = {longName.substr(0, QltNameSize - 1) + "|a.bmp", "w.bmp|", "|", "|"};
  const float opacity[4] = {.996f, .5f, .5f, .5f};
  for (int i = 0; i < 4; ++i) {
    const QltMaterial* m = qlt_GetMaterial(2 + i);
    EXPECT_EQ(names[i], std::string(m->textureName) + "|" + m->alphaName) << i;
    EXPECT_FLOAT_EQ(opacity[i], m->ambient.a) << i;
  }
  EXPECT_EQ(1, qlt_SetMaterial(5));
  EXPECT_EQ(0, qlt_SetMaterial(6));
  EXPECT_STREQ("qlt_SetMaterial\nInvalid Material Handle\n\n", qlt_GetErrorString());
  EXPECT_EQ(5, qlt_CurrentMaterial());
  qlt_CreateMaterials(nullptr);
  EXPECT_EQ(-1, qlt_CurrentMaterial());
  EXPECT_EQ(0, qlt_SetMaterial(-1));

  qlt_SetBackgroundMaterialColor(1, 2, 3);
  EXPECT_EQ(1, qlt_FreeMaterials());
  EXPECT_TRUE(qlt_MaterialCount() == 1 && qlt_DeclarationCount() == 0);
  const float background[17] = {1, 2, 3, 1, 1, 2, 3, 1, 0, 0, 0, 0, 1, 2, 3, 0, 0};
  EXPECT_EQ(0, std::memcmp(background, qlt_GetMaterial(0), sizeof background));
}

TEST_F(QltMaterials, AFullQueueRefusesFurtherDeclarations) {
  for (int i = 0; i < QltMaxDeclarations; ++i) ASSERT_EQ(1, AddPlain(0.5f)) << i;
  EXPECT_EQ(0, AddPlain(0.9f));
  EXPECT_STREQ("qlt_AddMaterial\nToo many materials declared\n\n", qlt_GetErrorString());
  ASSERT_EQ(1, qlt_CreateMaterials(nullptr));
  EXPECT_EQ(QltMaxMaterials, qlt_MaterialCount());
}

// Width, height, alpha flag and the class they need.
TEST_F(QltMaterials, TextureClassFollowsTheLargerSideAndTheAlphaFlag) {
  const int cases[][4] = {{100, 40, 0, 3}, {100, 40, 1, 2}, {129, 10, 0, 1}, {32, 32, 0, 7}, {32, 33, 1, 4}};
  for (const auto& [width, height, alpha, textureClass] : cases) {
    WriteSolid("size.bmp", width, height, 0);
    EXPECT_EQ(textureClass, _qlt_DetermineTextureSize("size.bmp", alpha)) << width << "x" << height;
  }
  std::ofstream("size.ppm", std::ios::binary) << "P6\n# comment 300 300\n65 2\n255\n"
                                              << std::string(390, 'x');
  EXPECT_EQ(3, _qlt_DetermineTextureSize("size.ppm", 0));
  // A header that cannot be read has no class and asks for no slot.
  std::ofstream("size.ppm", std::ios::binary) << "P6\n65";
  EXPECT_EQ(-1, _qlt_DetermineTextureSize("size.ppm", 0));
  EXPECT_EQ(-1, _qlt_DetermineTextureSize("missing.bmp", 0));
  EXPECT_TRUE(scripted.ui.messages.empty());
  EXPECT_EQ(-1, _qlt_DetermineTextureSize("rock.pcx", 0));
  ASSERT_EQ(1u, scripted.ui.messages.size());
  EXPECT_EQ("_qlt_DetermineTextureSize", scripted.ui.messages[0].text);
  EXPECT_EQ("Not a known texture filename extension", scripted.ui.messages[0].caption);
}

// The same files make one texture; another spelling, a name that is only a
// prefix, or an added alpha bitmap make their own.
TEST_F(QltMaterials, MaterialsWithTheSameFilesShareOneTexture) {
  ASSERT_TRUE(Start(false));
  WriteSolid("wall.bmp", 32, 32, 0xFF0000);
  WriteSolid("WALL.bmp", 32, 32, 0x00FF00);
  WriteSolid("a.bmp", 32, 32, 0x0000FF);
  const char* textures[] = {"wall.bmp", "wall.bmp", "WALL.bmp", "wall.bmp", "wall.bm"};
  for (int i = 0; i < 5; ++i) AddTexture(textures[i], i == 3 ? "a.bmp" : nullptr);
  EXPECT_EQ(3, _qlt_TexturesNeeded[7]);  // each declaration counts; "wall.bm" cannot be read
  EXPECT_EQ(1, _qlt_TexturesNeeded[6]);
  ASSERT_EQ(1, qlt_CreateMaterials(nullptr));
  EXPECT_NE(0u, Record(1).hSystemTexture);
  EXPECT_TRUE(Record(2).sharesTexture && Record(2).sharedMaterial == 1 && !Record(2).hSystemTexture);
  for (int own : {3, 4})
    EXPECT_TRUE(!Record(own).sharesTexture && Record(own).hSystemTexture &&
                Record(own).hSystemTexture != Record(1).hSystemTexture)
        << own;
  EXPECT_TRUE(!Record(5).sharesTexture && !Record(5).hSystemTexture);
  for (int handle : {2, 3}) {
    ASSERT_EQ(1, qlt_SetMaterial(handle));
    EXPECT_EQ(Record(handle == 2 ? 1 : 3).hSystemTexture, RenderState(D3DRENDERSTATE_TEXTUREHANDLE));
  }
}

// Top half red, bottom half blue; alpha columns 250, 128 and 5, which the
// display's 5-bit blue keeps as 248, 128 and 0. Texels: red opaque, red
// half, transparent, blue opaque.
TEST_F(QltMaterials, AlphaTexturesUseTheAlphaFormatAndClampAlpha) {
  struct Case {
    unsigned formats;
    PixelFormat alphaFormat;
    std::vector<uint32_t> texels;
  };
  const Case cases[] = {
      {TextureAllFormats, PixelFormat::Argb4444, {0xFE00, 0x7E00, 0, 0xF00E}},
      {TextureRgb565 | TextureArgb1555, PixelFormat::Argb1555, {0xF800, 0x7800, 0, 0x801E}},
      {TextureRgb565 | TextureArgb8888, PixelFormat::Argb8888, {0xFFF80000u, 0x80F80000u, 0, 0xFF0000F8u}},
  };
  for (const Case& c : cases) {
    Reset();
    CurrentDisplaySettings().textureFormats = c.formats;
    ASSERT_TRUE(Start(false));
    WriteBmp("t.bmp", 32, 32, [](int, int y) { return y < 16 ? 0xFF0000u : 0x0000FFu; });
    WriteBmp("a.bmp", 32, 32, [](int x, int) { return x < 10 ? 250u : x < 20 ? 128u : 5u; });
    AddTexture("t.bmp", "a.bmp", 0.25f);
    AddTexture("t.bmp");
    ASSERT_EQ(1, qlt_CreateMaterials(nullptr));
    const Surface& alpha = Record(1).lptmpSystemTextureSurface->Pixels();
    EXPECT_EQ(c.alphaFormat, alpha.format);
    EXPECT_EQ(c.texels,
              (std::vector<uint32_t>{alpha.Get(0, 0), alpha.Get(15, 0), alpha.Get(25, 0), alpha.Get(0, 31)}))
        << c.formats;
    const Surface& opaque = Record(2).lptmpSystemTextureSurface->Pixels();
    EXPECT_EQ(PixelFormat::Rgb565, opaque.format);
    EXPECT_EQ(30u << 11, opaque.Get(0, 0));
  }
}

TEST_F(QltMaterials, UnusableFilesLeaveTheMaterialUntexturedWithAWarning) {
  ASSERT_TRUE(Start(false));
  WriteSolid("t.bmp", 32, 32, 0xFF0000);
  WriteSolid("big.bmp", 64, 64, 0);
  AddTexture("rock.pcx");
  AddTexture("t.bmp", "mask.pcx");
  AddTexture("t.bmp", "big.bmp");
  scripted.ui.messages.clear();
  ASSERT_EQ(1, qlt_CreateMaterials(nullptr));
  ASSERT_EQ(3u, scripted.ui.messages.size());
  const char* shown[3] = {"*..pcx texture bitmap files are not supported\nrock.pcx ignored!|Warning:",
                          "*..pcx alpha texture bitmap files are not supported\nmask.pcx ignored!|Warning:",
                          "Alpha texture size is not the same size as the texture bitmap|Warning"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(shown[i], scripted.ui.messages[i].text + "|" + scripted.ui.messages[i].caption);
    EXPECT_EQ(0u, Record(1 + i).hSystemTexture) << i;
    EXPECT_NE(0u, Record(1 + i).hMaterial) << i;  // still a usable material
  }
  EXPECT_STREQ("", Record(1).values.textureName);
  EXPECT_TRUE(Record(2).values.hasTexture && !Record(2).values.hasAlpha);
}

// Blending follows the material's kind, repeated selections change nothing,
// and a rebuilt material with the handle selected last still takes effect.
TEST_F(QltMaterials, SelectionSkipsOnlyWhatIsAlreadySet) {
  ASSERT_TRUE(Start(false));
  AddPlain(0.5f);
  qlt_AddMaterial(1, 1, 1, 0.5f, 0, 0, 0, 0, 0, 0, 0, 0, nullptr, 0, nullptr);
  ASSERT_EQ(1, qlt_CreateMaterials(nullptr));
  ASSERT_EQ(1, qlt_SetMaterial(1));
  EXPECT_EQ(0u, RenderState(D3DRENDERSTATE_ALPHABLENDENABLE));
  ASSERT_EQ(1, qlt_SetMaterial(2));
  EXPECT_EQ(1u, RenderState(D3DRENDERSTATE_ALPHABLENDENABLE));
  EXPECT_EQ(uint32_t(D3DBLEND_INVSRCALPHA), RenderState(D3DRENDERSTATE_DESTBLEND));
  _qlt_Device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, 7);
  ASSERT_EQ(1, qlt_SetMaterial(2));
  EXPECT_EQ(7u, RenderState(D3DRENDERSTATE_ALPHABLENDENABLE));

  qlt_FreeMaterials();
  EXPECT_NE(0u, _qlt_BackgroundMaterialHandle);
  EXPECT_EQ(Record(0).hMaterial, _qlt_BackgroundMaterialHandle);
  AddPlain(0.5f);
  AddPlain(0.5f);
  ASSERT_EQ(1, qlt_CreateMaterials(nullptr));
  ASSERT_EQ(1, qlt_SetMaterial(2));
  uint32_t material = 0;
  _qlt_Device->GetLightState(D3DLIGHTSTATE_MATERIAL, &material);
  EXPECT_EQ(Record(2).hMaterial, material);
  EXPECT_EQ(0u, RenderState(D3DRENDERSTATE_ALPHABLENDENABLE));
}

// Room for two 64-pixel slots and three such textures: the slots are
// reused round-robin, the texture loaded last evicts the oldest.
TEST_F(QltMaterials, VideoSlotsAreReusedRoundRobin) {
  ASSERT_TRUE(StartHardwareWithRoom(2 * 64 * 64 * 2 + 100));
  const char* files[] = {"t1.bmp", "t2.bmp", "t3.bmp"};
  for (int i = 0; i < 3; ++i) {
    WriteSolid(files[i], 50, 64, 0x100000u << (4 * i));
    AddTexture(files[i]);
  }
  EXPECT_EQ(2, qlt_CreateMaterials(nullptr));
  EXPECT_NE(std::string(qlt_GetErrorString()).find("No room left in video or AGP memory"), std::string::npos);
  const QltTextureClassSlots& slots = _qlt_TextureSlots[5];
  ASSERT_EQ(2, slots.count);
  EXPECT_EQ((std::vector<int>{3, 2, 0}),
            (std::vector<int>{slots.slots[0].owner, slots.slots[1].owner, Record(1).resident}));
  ASSERT_EQ(1, qlt_SetMaterial(1));
  EXPECT_EQ((std::vector<int>{1, 1, 0}),
            (std::vector<int>{slots.slots[1].owner, Record(1).resident, Record(2).resident}));
  EXPECT_EQ(slots.slots[1].hTexture, RenderState(D3DRENDERSTATE_TEXTUREHANDLE));
  EXPECT_EQ(_qlt_Device->Texture(Record(1).hSystemTexture)->texels,
            _qlt_Device->Texture(slots.slots[1].hTexture)->texels);
  ASSERT_EQ(1, qlt_SetMaterial(3));  // still resident: no load
  EXPECT_TRUE(slots.slots[0].owner == 3 && slots.next == 0);
}

// Room for one 64-pixel slot: a small texture grows into it, a large one
// with no slot of its size draws untextured.
TEST_F(QltMaterials, AClassWithoutSlotsNeverUsesOne) {
  ASSERT_TRUE(StartHardwareWithRoom(64 * 64 * 2 + 100));
  WriteSolid("big.bmp", 200, 10, 0xFF0000);
  WriteSolid("mid.bmp", 64, 64, 0x00FF00);
  WriteSolid("small.bmp", 20, 20, 0x0000FF);
  for (const char* file : {"big.bmp", "mid.bmp", "small.bmp"}) AddTexture(file);
  EXPECT_EQ(2, qlt_CreateMaterials(nullptr));
  EXPECT_EQ(
      (std::vector<int>{0, 1, 0}),
      (std::vector<int>{_qlt_TextureSlots[1].count, _qlt_TextureSlots[5].count, _qlt_TextureSlots[7].count}));
  EXPECT_EQ((std::vector<int>{256, 64, 1}),
            (std::vector<int>{Record(1).textureSize, Record(3).textureSize, Record(3).resident}));
  ASSERT_EQ(1, qlt_SetMaterial(1));
  EXPECT_EQ(0u, RenderState(D3DRENDERSTATE_TEXTUREHANDLE));
  EXPECT_TRUE(_qlt_TextureSlots[1].slots[0].owner == -1 && !Record(1).resident);
}

TEST_F(QltMaterials, AClassHoldsAtMostOneHundredSlots) {
  ASSERT_TRUE(Start(true));
  WriteSolid("t.bmp", 32, 32, 0xFF0000);
  for (int i = 0; i <= QltMaxSlotsPerClass; ++i) AddTexture("t.bmp");
  EXPECT_EQ(1, qlt_CreateMaterials(nullptr));
  EXPECT_EQ(QltMaxSlotsPerClass, _qlt_TextureSlots[7].count);
  qlt_FreeMaterials();
  EXPECT_EQ(0, _qlt_TextureSlots[7].count);
  EXPECT_EQ(0u, _qlt_DirectDraw2->VideoMemoryUsed() - 3u * 320 * 200 * 2);
}

}  // namespace
