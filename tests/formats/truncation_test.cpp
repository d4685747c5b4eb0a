// Every reader fed every prefix of one valid file of its format: no crash,
// no read outside a table, the Model's invariants hold, and the reader
// either refuses with a message or keeps a prefix of the model.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "formats/dxf_export.h"
#include "formats/dxf_import.h"
#include "formats/export_tables.h"
#include "formats/qlt_file.h"
#include "formats/studio_import.h"
#include "formats/x_export.h"
#include "formats/x_import.h"
#include "model/model.h"
#include "model/native_file.h"
#include "platform/bmp.h"
#include "platform/display.h"
#include "platform/scripted/scripted_ui.h"
#include "render/library_state.h"
#include "render/progress_box.h"
#include "render/qlt.h"
#include "support/model_builder.h"
#include "support/studio_writer.h"

namespace {

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Every length below the full one for small files; for larger ones 2,000
// spread evenly, always including 0 and the last byte cut.
std::vector<size_t> PrefixLengths(size_t size) {
  std::vector<size_t> lengths;
  if (size < 4096) {
    for (size_t n = 0; n < size; ++n) lengths.push_back(n);
  } else {
    const size_t count = 2000;
    for (size_t i = 0; i < count; ++i) lengths.push_back(i * (size - 1) / (count - 1));
  }
  return lengths;
}

// Two materials (one textured), a projection, and enough triangles that the
// text formats pass 4 KB.
void BuildModel() {
  ClearModel();
  for (int i = 0; i < 14; ++i) {
    const float x = float(i);
    AddTriangle(x, 0, 0, x + 1, 0, 0, x, 1, 0.5f, i % 2);
  }
  SetMaterial(0, 0.25f, 0.5f, 0.75f);
  SetMaterial(1, 1, 0, 0, 0.5f);
  ModelMaterial& m = gModel.materials[1];
  m.specularPower = 12;
  m.hasTexture = 1;
  std::snprintf(m.textureFile, FileNameSize, "wood.bmp");
  gModel.vertices[4].projected = 1;
  gModel.vertices[4].projection = 0;
  gModel.projectionCount = 1;
  for (int k = 0; k < 16; ++k) gModel.projections[0].value[k] = float(k) * 0.5f;
  RecomputeBounds();
}

// The version 1 layout of a version 2 file: no magic, and materials without
// the alpha flag and name at their end.
std::string NativeVersion1(const std::string& v2) {
  int32_t counts[3];
  std::memcpy(counts, v2.data() + 10, sizeof counts);
  const size_t vertexEnd = NativeHeaderSize2 + size_t(counts[0]) * NativeVertexSize;
  std::string v1 = v2.substr(10, vertexEnd - 10);
  for (int i = 0; i < counts[1]; ++i)
    v1 += v2.substr(vertexEnd + size_t(i) * NativeMaterialSize2, NativeMaterialSize1);
  v1 += v2.substr(vertexEnd + size_t(counts[1]) * NativeMaterialSize2);
  return v1;
}

class Truncation : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgressHide();
    ClearModel();
  }
  void TearDown() override {
    for (const std::string& p : {path_, path_ + ".vxtmp"}) std::remove(p.c_str());
    ClearModel();
  }

  // Writes the model with a writer and returns the file; the native writer
  // needs no export tables.
  std::string Written(int (*write)(const char*)) {
    BuildModel();
    if (write != SaveNativeModel) {
      EXPECT_EQ(PrepareExport(0, path_.c_str()), 1);
    }
    EXPECT_EQ(write(path_.c_str()), 1);
    return ReadAll(path_);
  }

  // Reads the full file, then every prefix, over whatever the previous read
  // left. A refusal must come with a message (a message box, or the library's
  // error text when `libraryText`); a success keeps at most the full file's
  // vertices and materials, their positions unchanged.
  void CheckPrefixes(const std::string& file, int (*read)(const char*), bool libraryText = false) {
    ASSERT_FALSE(file.empty());
    WriteAll(path_, file);
    ClearModel();
    ASSERT_EQ(read(path_.c_str()), 1);
    ASSERT_STREQ(CheckModelInvariants(), "");
    const int fullVertices = gModel.vertexCount, fullMaterials = gModel.materialCount;
    ASSERT_GT(fullVertices, 0);
    const std::vector<ModelVertex> full(gModel.vertices, gModel.vertices + fullVertices);

    for (size_t length : PrefixLengths(file.size())) {
      SCOPED_TRACE("prefix of " + std::to_string(length) + " bytes");
      WriteAll(path_, file.substr(0, length));
      const size_t messagesBefore = scripted.ui.messages.size();
      _qlt_SetError("Truncation", "pending", 0);
      const int result = read(path_.c_str());
      ASSERT_STREQ(CheckModelInvariants(), "");
      if (result == 0) {
        if (libraryText)
          ASSERT_EQ(std::string(qlt_GetErrorString()).find("Truncation"), std::string::npos);
        else
          ASSERT_GT(scripted.ui.messages.size(), messagesBefore);
        continue;
      }
      ASSERT_EQ(result, 1);
      ASSERT_LE(gModel.vertexCount, fullVertices);
      ASSERT_LE(gModel.materialCount, fullMaterials);
      for (int i = 0; i < gModel.vertexCount; ++i) {
        const ModelVertex &v = gModel.vertices[i], &w = full[size_t(i)];
        ASSERT_TRUE(v.x == w.x && v.y == w.y && v.z == w.z) << "vertex " << i;
      }
    }
  }

  ScopedScriptedUI scripted;
  const std::string path_ = TempPath("truncated");
};

TEST_F(Truncation, ModelFilesOfTheProgramsOwnWriters) {
  // Version 2 native prefixes are refused outright, which the native file's own test holds.
  const struct {
    const char* name;
    int (*write)(const char*), (*read)(const char*);
    bool libraryText;
  } formats[] = {{"native version 1", SaveNativeModel, LoadNativeModel, false},
                 {"X text", ExportX, ImportX, false},
                 {"DXF", ExportDXF, ImportDXF, false},
                 {"Quelt", ExportQLT, ImportQLT, true}};
  for (const auto& f : formats) {
    SCOPED_TRACE(f.name);
    const std::string file = Written(f.write);
    CheckPrefixes(f.write == SaveNativeModel ? NativeVersion1(file) : file, f.read, f.libraryText);
  }
}

TEST_F(Truncation, StudioFiles) {
  {
    SCOPED_TRACE("written");
    StudioChunk main(0x4D4D);
    StudioChunk& objects = main.Child(0x3D3D);
    AddStudioMaterial(objects, "Red", 255, 0, 0);
    AddStudioMaterial(objects, "Wood", 128, 96, 0, "wood.bmp");
    StudioChunk& list = AddStudioMesh(objects, "Quad", {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0},
                                      {{0, 1, 2}, {0, 2, 3}}, {0, 0, 1, 0, 1, 1, 0, 1});
    AddStudioFaceMaterial(list, "Red", {0});
    AddStudioFaceMaterial(list, "Wood", {1});
    CheckPrefixes(main.Bytes(), Import3DS);
  }
  const std::string corpus = ReadAll(VORNIX_CORPUS_DIR "/3ds/cube_with_materials.3ds");
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  SCOPED_TRACE("corpus");
  CheckPrefixes(corpus, Import3DS);
}

int Choose(int, char (*)[128], int32_t (*)[8], int* device, int* mode) {
  *device = 0, *mode = 6;
  return 1;
}

// Both conversions of binary and text images, in a folder of their own
// because they leave "temp_ppm.bmp" in the current one.
TEST_F(Truncation, PpmImages) {
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  const std::string folder = TempPath("ppm_dir");
  mkdir(folder.c_str(), 0700);
  ASSERT_EQ(chdir(folder.c_str()), 0);
  _qlt_ResetLibraryForTests();
  ASSERT_TRUE(qlt_Enumerate(nullptr, "Vornix 3D!", Choose) && qlt_Initialize(nullptr, 10000.0f, 60.0f))
      << qlt_GetErrorString();

  std::string binary = "P6\n# binary\n4 3\n255\n", text = "P3\n# text\n4 3 # size\n255\n";
  for (int i = 0; i < 12; ++i) {
    const int sample[3] = {20 * i, 255 - 9 * i, (37 * i) % 256};
    for (int s : sample) binary += char(s), text += std::to_string(s) + (s % 2 ? "\n" : " ");
  }
  for (const std::string& file : {binary, text}) {
    SCOPED_TRACE(file.substr(0, 2));
    WriteAll("in.ppm", file);
    ASSERT_EQ(_qlt_AnyPPMtoSquare24BitBMP("in.ppm", "out.bmp"), 1) << qlt_GetErrorString();
    for (size_t length : PrefixLengths(file.size())) {
      SCOPED_TRACE("prefix of " + std::to_string(length) + " bytes");
      WriteAll("in.ppm", file.substr(0, length));
      for (int square = 0; square < 2; ++square) {
        _qlt_SetError("Truncation", "pending", 0);
        const int result = square ? _qlt_AnyPPMtoSquare24BitBMP("in.ppm", "out.bmp")
                                  : _qlt_PPMto24BitBMP("in.ppm", "PPMto24BitBMP");
        BmpImage image;
        if (result == 1)
          EXPECT_EQ(ReadBmpFile(square ? "out.bmp" : "temp_ppm.bmp", &image), BmpResult::Ok);
        else
          EXPECT_EQ(std::string(qlt_GetErrorString()).find("Truncation"), std::string::npos) << square;
      }
    }
  }
  for (const char* name : {"temp_ppm.bmp", "in.ppm", "out.bmp"}) unlink(name);
  _qlt_ResetLibraryForTests();
  ResetDisplaySettings();
  ASSERT_EQ(chdir(previous), 0);
  rmdir(folder.c_str());
}

}  // namespace
