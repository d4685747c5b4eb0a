// Every text export reads back: numbers that are not finite are written as 0
// with one warning, and texture names a quoted string cannot hold are refused.
// Every model writer refuses what it cannot write the same way.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <regex>
#include <string>

#include "formats/dxf_export.h"
#include "formats/dxf_import.h"
#include "formats/export_tables.h"
#include "formats/pov_export.h"
#include "formats/qlt_file.h"
#include "formats/x_export.h"
#include "formats/x_import.h"
#include "model/model.h"
#include "platform/scripted/scripted_ui.h"
#include "render/progress_box.h"
#include "support/model_builder.h"

namespace {

const float NaN = std::numeric_limits<float>::quiet_NaN();
const float Inf = std::numeric_limits<float>::infinity();

// One textured triangle away from the origin: corner 0 has a NaN x,
// corner 1 an infinite nx, corner 2 a NaN u.
void BuildModelWithBadValues() {
  ClearModel();
  SetMaterial(0, 1, 1, 1);
  gModel.materials[0].hasTexture = 1;
  std::snprintf(gModel.materials[0].textureFile, FileNameSize, "wood.bmp");
  AddTriangle(5, 1, 1, 6, 1, 1, 5, 2, 1, 0);
  gModel.vertices[0].x = NaN;
  gModel.vertices[1].nx = Inf;
  gModel.vertices[2].u = NaN;
}

void SetTextureName(const char* name) {
  std::snprintf(gModel.materials[0].textureFile, FileNameSize, "%s", name);
}

class ExportValues : public ::testing::Test {
 protected:
  void SetUp() override { ProgressHide(); }
  void TearDown() override {
    for (const std::string& p : {path_, path_ + ".vxtmp", path_ + "_pov_A.ppm"}) std::remove(p.c_str());
    ClearModel();
  }
  // The only message of the last call, which must be the only one.
  void ExpectOneMessage(const std::string& caption, const std::string& text) {
    ASSERT_EQ(scripted.ui.messages.size(), 1u);
    EXPECT_EQ(scripted.ui.messages[0].caption, caption);
    EXPECT_EQ(scripted.ui.messages[0].text, text);
    scripted.ui.messages.clear();
  }
  std::string Replaced(int n) const {
    return (n == 1 ? "1 value that was not a number (infinite or undefined) was"
                   : std::to_string(n) + " values that were not numbers (infinite or undefined) were") +
           " written as 0 in " + path_ + ".";
  }
  // The Model read back holds only finite numbers and the replaced x.
  static void ExpectFiniteWithZeroX() {
    ASSERT_GE(gModel.vertexCount, 3);
    bool zeroX = false;
    for (int k = 0; k < gModel.vertexCount; ++k) {
      const ModelVertex& v = gModel.vertices[k];
      for (float value : {v.x, v.y, v.z, v.nx, v.ny, v.nz, v.u, v.v}) EXPECT_TRUE(std::isfinite(value)) << k;
      zeroX = zeroX || (v.x == 0 && v.y == 1);
    }
    EXPECT_TRUE(zeroX);
  }
  // A refused export creates no file and leaves an existing one as it was.
  template <typename Export>
  void ExpectRefused(Export exportFile, const std::string& message) {
    for (bool existing : {false, true}) {
      SCOPED_TRACE(existing);
      std::remove(path_.c_str());
      if (existing) std::ofstream(path_) << "old contents";
      scripted.ui.messages.clear();
      EXPECT_EQ(exportFile(), 0);
      ExpectOneMessage("Error", message);
      EXPECT_EQ(FileExists(path_), existing);
      if (existing) {
        EXPECT_EQ(ReadAll(path_), "old contents");
      }
      EXPECT_FALSE(FileExists(path_ + ".vxtmp"));
    }
  }
  ScopedScriptedUI scripted;
  std::string path_;
};

const char* const QuoteRefusal =
    "Material 0's texture name wood\"1.bmp contains a double quote, which the file format cannot hold. "
    "Nothing was written.";

// DXF writes only positions, and corner 0 once per face.
TEST_F(ExportValues, XAndDxfReadBack) {
  const struct {
    const char* file;
    int (*write)(const char*), (*read)(const char*);
    int replaced;
  } cases[] = {{"values.dxf", ExportDXF, ImportDXF, 1}, {"values.x", ExportX, ImportX, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    path_ = TempPath(c.file);
    BuildModelWithBadValues();
    ASSERT_EQ(PrepareExport(0, path_.c_str()), 1);
    scripted.ui.messages.clear();
    ASSERT_EQ(c.write(path_.c_str()), 1);
    ExpectOneMessage("Warning", Replaced(c.replaced));
    ASSERT_EQ(c.read(path_.c_str()), 1);
    ExpectFiniteWithZeroX();
    std::remove(path_.c_str());
  }
  // The X file names its textures; DXF has none.
  BuildModelWithBadValues();
  SetTextureName("wood\"1.bmp");
  ASSERT_EQ(PrepareExport(0, path_.c_str()), 1);
  ExpectRefused([&] { return ExportX(path_.c_str()); }, QuoteRefusal);
}

TEST_F(ExportValues, Pov) {
  path_ = TempPath("values.pov");
  BuildModelWithBadValues();
  gModel.materials[0].hasTexture = 0;  // the texture's conversion is not at issue here
  PovScene scene{{0, 0, -6}, {0, 0, NaN}, {1, 1, 1}, "values"};
  ASSERT_EQ(ExportPOV(path_.c_str(), scene), 1);
  // The x, the nx and the background's blue; u is not part of the scene.
  ExpectOneMessage("Warning", Replaced(3));
  const std::string text = ReadAll(path_);
  // As "%f" would print them; words such as "information" do not count.
  EXPECT_FALSE(std::regex_search(text, std::regex("[^A-Za-z](nan|inf)[^A-Za-z]", std::regex::icase)));
  EXPECT_NE(text.find("smooth_triangle { <0.000000,1.000000,1.000000>,"), std::string::npos);
  EXPECT_NE(text.find("<6.000000,1.000000,1.000000>,<0.000000,0.000000,1.000000>"), std::string::npos);
  EXPECT_NE(text.find("color red 0.000000 green 0.000000 blue 0.000000"), std::string::npos);

  BuildModelWithBadValues();
  SetTextureName("wood\"1.bmp");
  ExpectRefused([&] { return ExportPOV(path_.c_str(), scene); }, QuoteRefusal);
  // The scene's own name goes into every texture name it holds.
  SetTextureName("wood.bmp");
  scene.baseName = "my\"values";
  ExpectRefused([&] { return ExportPOV(path_.c_str(), scene); },
                "Material 0's texture name my\"values_pov_A.ppm contains a double quote, which the file format "
                "cannot hold. Nothing was written.");
}

// A refused or failed export leaves an existing file as it was and no
// temporary beside it. The Quelt writer writes an empty model as it is.
TEST_F(ExportValues, EveryWriterRefusesWhatItCannotWrite) {
  path_ = TempPath("refused");
  const std::string missing = "/nonexistent_vornix_folder/out";
  const struct {
    const char* name;
    int (*write)(const char*);
    const char* create;  // the writer's failure to create, before the path
  } writers[] = {{"X", ExportX, "Could not create .X file: "},
                 {"DXF", ExportDXF, "Could not open file: "},
                 {"QLT", ExportQLT, "Could not open .QLT file: "}};
  struct Case {
    const char* name;
    bool faces, staleTables;
    std::string target, text;  // an empty text: the writer's create failure with the target
  };
  const Case cases[] = {
      {"no faces", false, false, path_, "Nothing to save..."},
      {"no name", true, false, "", ""},
      {"missing folder", true, false, missing, ""},
      {"tables of another model", true, true, path_,
       path_ + " can not be written: the export tables do not match the model."},
      // The temporary file is a device on which every write fails.
      {"failed write", true, false, path_, "Could not write file: " + path_},
  };
  for (const auto& w : writers) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(w.name) + ", " + c.name);
      const bool fullDisk = c.text.rfind("Could not write", 0) == 0;
      if ((w.write == ExportQLT && !c.faces) || (fullDisk && !FileExists("/dev/full"))) continue;
      std::ofstream(c.target) << "old contents";
      if (fullDisk) {
        ASSERT_EQ(symlink("/dev/full", (c.target + ".vxtmp").c_str()), 0);
      }
      ClearModel();
      SetMaterial(0, 1, 1, 1);
      if (c.faces) AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 0);
      PrepareExport(0, c.target.c_str());
      if (c.staleTables) SetMaterial(1, 1, 1, 1);
      scripted.ui.messages.clear();
      EXPECT_EQ(w.write(c.target.c_str()), 0);
      const std::string text =
          !c.text.empty() ? c.text : w.create + (c.target.empty() ? "no file name was given." : c.target);
      ASSERT_EQ(scripted.ui.messages.size(), 1u);
      EXPECT_EQ(scripted.ui.messages[0].text, text);
      EXPECT_EQ(scripted.ui.messages[0].caption, c.faces ? "Error" : "Vornix 3D!");
      EXPECT_EQ(ReadAll(c.target), c.target == path_ ? "old contents" : "");
      EXPECT_FALSE(FileExists(c.target + ".vxtmp"));
      std::remove((c.target + ".vxtmp").c_str());
    }
  }
}

}  // namespace
