#include "formats/dxf_import.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "formats/xtext.h"
#include "model/model.h"
#include "platform/scripted/scripted_ui.h"
#include "render/progress_box.h"
#include "support/model_builder.h"

namespace {

using Point = std::array<float, 3>;
const Point P0{0, 0, 0}, P1{1, 0, 0}, P2{1, 1, 0}, P3{0, 1, 0};

std::string Number(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", double(value));
  return text;
}

// A 3DFACE on `layer` (none when null) with the given corners.
std::string Face(const char* layer, const std::vector<Point>& corners) {
  std::string s = "0|3DFACE|";
  if (layer) s += std::string("8|") + layer + "|";
  for (size_t c = 0; c < corners.size(); ++c)
    for (int axis = 0; axis < 3; ++axis)
      s += std::to_string(10 * (axis + 1) + int(c)) + "|" + Number(corners[c][axis]) + "|";
  return s;
}
std::string Polyline() { return "0|POLYLINE|8|IGNORED|66|1|70|64|"; }
std::string Vertex(const Point& p) { return "0|VERTEX|70|192" + Face(nullptr, {p}).substr(8); }
std::string Record(int a, int b, int c, int d) {
  return "0|VERTEX|70|128|71|" + std::to_string(a) + "|72|" + std::to_string(b) + "|73|" + std::to_string(c) +
         "|74|" + std::to_string(d) + "|";
}
std::string Square() { return Polyline() + Vertex(P0) + Vertex(P1) + Vertex(P2) + Vertex(P3); }
std::string Entities(const std::string& body) { return "0|SECTION|2|ENTITIES|" + body + "0|ENDSEC|0|EOF|"; }

// The text with each "|" a line end.
std::string Lines(const std::string& text, const std::string& lineEnd = "\n") {
  std::string s;
  for (char c : text) s += c == '|' ? lineEnd : std::string(1, c);
  return s;
}

// Per polygon its corners and material, then the colour of every material.
std::string Summary() {
  std::string s;
  for (int k = 0; k < gModel.vertexCount; ++k) {
    const ModelVertex& v = gModel.vertices[k];
    s += (k % 3 ? " " : k ? ", " : "") + Number(v.x) + "," + Number(v.y) + "," + Number(v.z);
    if (k % 3 == 2) s += "/" + std::to_string(v.material);
  }
  s += " |";
  for (int m = 0; m < gModel.materialCount; ++m) {
    const ModelMaterial& c = gModel.materials[m];
    s += " " + Number(c.red) + "," + Number(c.green) + "," + Number(c.blue);
  }
  return s;
}

const std::string NoFaces = "The file holds no 3D faces: only 3DFACE entities and polyface meshes are read.";

class DxfImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgressHide();
    ClearModel();
  }
  void TearDown() override {
    std::remove(path_.c_str());
    ClearModel();
  }
  int Import(const std::string& text) {
    std::ofstream(path_, std::ios::binary) << text;
    return ImportFile(path_);
  }
  int ImportFile(const std::string& path) {
    read_ = path;
    scripted.ui.messages.clear();
    const int result = ImportDXF(path.c_str());
    EXPECT_STREQ(CheckModelInvariants(), "");
    for (int k = 0; k < gModel.vertexCount; ++k)
      EXPECT_TRUE(gModel.vertices[k].material >= 0 && gModel.vertices[k].material < gModel.materialCount)
          << k;
    return result;
  }
  // The warning texts after the path, or "" without a warning.
  std::string Warning() const {
    std::string all;
    const std::string head = read_ + ":\n\n";
    for (const auto& m : scripted.ui.messages) {
      EXPECT_EQ(m.caption, "Warning");
      all += m.text.compare(0, head.size(), head) == 0 ? m.text.substr(head.size()) : m.text;
    }
    return all;
  }
  ScopedScriptedUI scripted;
  const std::string path_ = TempPath("import.dxf");
  std::string read_;  // the file last imported
};

TEST_F(DxfImportTest, FacesMeshesAndLayersBecomePolygonsAndMaterials) {
  const std::string header = "0|SECTION|2|HEADER|9|$ACADVER|1|AC1009|9|$MENU|1||9|$DIMPOST|1|   |0|ENDSEC|";
  const std::string name(MaxDxfLayerName, 'N'), text(5000, 't');
  std::string mesh = Polyline();
  for (int k = 0; k <= 32768; ++k) mesh += Vertex({float(k), 0, 0});
  const struct {
    const char* what;
    std::string text;
    std::string summary, warning;
  } cases[] = {
      {"a repeated third corner gives a zero-area twin", Entities(Face("A", {P0, P1, P2, P2})),
       "0,0,0 1,0,0 1,1,0/0, 0,0,0 1,1,0 1,1,0/0 | 1,0,0", ""},
      {"a face without group 32 gives nothing",
       Entities("0|3DFACE|8|A|10|0|20|0|30|0|11|1|21|0|31|0|12|1|22|1|"), " | 1,0,0", NoFaces},
      {"face records: a sign marks an edge, a zero names none, four numbers give two triangles",
       Entities(Square() + Record(1, -2, 3, 0) + Record(1, 2, 3, 4) + Record(0, 2, 3, 4)),
       "0,0,0 1,0,0 1,1,0/0, 0,0,0 1,0,0 1,1,0/0, 0,0,0 1,1,0 0,1,0/0, 1,0,0 1,1,0 0,1,0/0 | 1,0,0", ""},
      {"a second mesh numbers its own vertices",
       Entities(Square() + Record(1, 2, 3, 0) + Polyline() + Vertex(P3) + Vertex(P2) + Vertex(P1) +
                Record(1, 2, 3, 0)),
       "0,0,0 1,0,0 1,1,0/0, 0,1,0 1,1,0 1,0,0/0 | 1,0,0", ""},
      {"faces naming vertices the mesh lacks are left out, with one warning",
       Entities(Square() + Record(1, 2, 5, 0) + Record(2, 3, 4, 0) + Record(1, 2, -2147483647 - 1, 0) +
                Record(-5, 1, 2, 0)),
       "1,0,0 1,1,0 0,1,0/0 | 1,0,0",
       "Some polyface faces name vertices that their mesh does not have. Those faces were left out."},
      {"vertex flags hold until the next group 70",
       Entities(Polyline() + Vertex(P1) + "0|VERTEX|10|0|20|1|30|2|" + Record(1, 1, 2, 0)),
       "1,0,0 1,0,0 0,1,2/0 | 1,0,0", ""},
      {"layers differing in case are one, blanks in names vanish; the palette runs by layer order",
       Entities(Face("0", {P0, P1, P2}) + Face("WALLS", {P1, P2, P3}) + Face("wal ls", {P2, P3, P0})),
       "0,0,0 1,0,0 1,1,0/0, 1,0,0 1,1,0 0,1,0/1, 1,1,0 0,1,0 0,0,0/1 | 1,0,0 1,1,0", ""},
      // Only a face or vertex names a layer; without one, material 0 is made.
      {"faces before any layer use material 0",
       Entities("0|LINE|8|X|" + Face(nullptr, {P0, P1, P2}) + Polyline() + Vertex(P0) + Vertex(P1) +
                Vertex(P3) + Record(1, 2, 3, 0)),
       "0,0,0 1,0,0 1,1,0/0, 0,0,0 1,0,0 0,1,0/0 | 1,0,0", ""},
      {"a file without 0/EOF loses its last entity",
       "0|SECTION|2|ENTITIES|" + Face("A", {P0, P1, P2}) + Face("B", {P1, P2, P3}),
       "0,0,0 1,0,0 1,1,0/0 | 1,0,0 1,1,0", ""},
      {"reading stops at a code that is no number",
       Entities(Face("A", {P0, P1, P2}) + "0|LINE|X1|0|" + Face("A", {P1, P2, P3})),
       "0,0,0 1,0,0 1,1,0/0 | 1,0,0", ""},
      // Empty and blank values stay values, so the groups after them keep
      // their places; a semicolon in a value is no line end.
      {"empty values and semicolons", header + Entities("0|TEXT|8|A|1|x;y;|" + Face("A", {P0, P1, P2})),
       "0,0,0 1,0,0 1,1,0/0 | 1,0,0", ""},
      {"not a drawing", "hello|world|", " |", NoFaces},
      {"names alike in their first 255 characters are one layer; long strings are read past",
       Entities("0|MTEXT|1|" + text + "|0|" + text + "|" + Face((name + "1").c_str(), {P0, P1, P2}) +
                Face((name + "2").c_str(), {P1, P2, P3}) + Face(name.c_str(), {P2, P3, P0})),
       "0,0,0 1,0,0 1,1,0/0, 1,0,0 1,1,0 0,1,0/0, 1,1,0 0,1,0 0,0,0/0 | 1,0,0",
       "Layer names longer than 255 characters were cut to their first 255 characters."},
      {"a mesh keeps 32768 vertices; faces using the others go without another warning",
       Entities(mesh + Record(1, 2, 3, 0) + Record(32767, 32768, 32769, 0) + Record(2, 3, 4, 0)),
       "0,0,0 1,0,0 2,0,0/0, 1,0,0 2,0,0 3,0,0/0 | 1,0,0",
       "A polyface mesh has more than 32768 vertices. The faces that use the further vertices were left "
       "out."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Import(Lines(c.text)), 1);
    EXPECT_EQ(Summary(), c.summary);
    EXPECT_EQ(Warning(), c.warning);
    // Every line end reads alike.
    for (const char* lineEnd : {"\r\n", "\r"}) {
      EXPECT_EQ(Import(Lines(c.text, lineEnd)), 1);
      EXPECT_EQ(Summary(), c.summary) << (lineEnd[1] ? "CR LF" : "CR");
    }
  }
}

// The clean-up in its two plain passes: blanks and ";" out, upper case, each
// line feed a ";"; then a run of carriage returns before a line feed's ";"
// vanishes and one elsewhere becomes a ";" per carriage return.
std::string TwoPassCleanUp(const std::string& file) {
  std::string first;
  for (char c : file) {
    if (c == ' ' || c == '\t' || c == ';') continue;
    first += c == '\n' ? ';' : (c >= 'a' && c <= 'z') ? char(c - 32) : c;
  }
  std::string second;
  for (size_t p = 0; p < first.size();) {
    size_t run = p;
    while (run < first.size() && first[run] == '\r') ++run;
    if (run == p) {
      second += first[p++];
    } else {
      if (run == first.size() || first[run] != ';') second.append(run - p, ';');
      p = run;
    }
  }
  return second;
}

TEST_F(DxfImportTest, CleanUpIsTheTwoPlainPasses) {
  std::mt19937 random(11);
  const char* const pieces[] = {"\r\n", "\n", " ", "\t", ";", "a", "Z", "7", "-1.5", "\xe1z`{@[", "\r"};
  for (int i = 0; i < 20000; ++i) {
    // Most texts have no carriage return of their own, as most files.
    const unsigned kinds = random() % 4 ? 10 : 11;
    std::string file;
    for (int k = int(random() % 40); k > 0; --k) file += pieces[random() % kinds];
    // A line feed just past the end must not end a last carriage return's line.
    SetXText((file + "\n").data(), int(file.size()) + 1);
    XTextLength = int(file.size());
    ReduceDxfText(path_.c_str());
    ASSERT_EQ(std::string(XText, size_t(XTextLength)), TwoPassCleanUp(file)) << i;
  }
}

TEST_F(DxfImportTest, FailuresLeaveTheModelAsItWas) {
  const std::string missing = TempPath("missing.dxf");
  for (const bool binary : {false, true}) {
    ClearModel();
    SetMaterial(0, 0.25f, 0.5f, 1);
    AddTriangle(0, 0, 0, 1, 0, 0, 0, 1, 0, 0);
    EXPECT_EQ(binary ? Import(std::string("AutoCAD Binary DXF\r\n\x1a\0", 22) + "0") : ImportFile(missing),
              0);
    ASSERT_EQ(scripted.ui.messages.size(), 1u);
    EXPECT_EQ(scripted.ui.messages[0].caption + ": " + scripted.ui.messages[0].text,
              binary ? "Error: " + path_ + " is a binary DXF file. Only DXF files in text form can be read."
                     : "Error: Could not open file: " + missing);
    EXPECT_EQ(Summary(), "0,0,0 1,0,0 0,1,0/0 | 0.25,0.5,1");
  }
}

// Tables that a file outgrows keep what fits, with one warning per kind.
TEST_F(DxfImportTest, LayerTableLimits) {
  std::string body;
  for (int k = 0; k <= MaxDxfLayers; ++k)
    body += Face(("L" + std::to_string(k)).c_str(), {P0, P1, {0, 0, float(k)}});
  ASSERT_EQ(Import(Lines(Entities(body + Face("L3", {P0, P1, P3})))), 1);
  EXPECT_EQ(gModel.materialCount, MaxDxfLayers);
  EXPECT_EQ(gModel.vertices[3 * 100].material, 99);  // the 101st layer
  EXPECT_EQ(gModel.vertices[3 * 101].material, 3);
  // Normals are computed: layer L1's face stands upright, alone on its layer.
  EXPECT_EQ(gModel.vertices[3].ny, -1.0f);
  EXPECT_EQ(
      Warning(),
      "The file uses more than 100 layers. The faces of the further layers were put on the 100th layer's "
      "material.");
  // The eighth layer on at half intensity.
  const std::string palette = "| 1,0,0 1,1,0 0,1,0 0,1,1 0,0,1 1,0,1 1,1,1 0.5,0,0 0.5,0.5,0 ";
  EXPECT_EQ(Summary().substr(Summary().find('|'), palette.size()), palette);
}

// A model at capacity written as one face per polygon reads whole: the
// zero-area twins of fourth corners repeating the third or the first make
// room for real polygons.
TEST_F(DxfImportTest, ModelCapacity) {
  const int maxPolygons = MaxVertices / 3, quads = 100;
  std::string body;
  for (int k = 0; k < maxPolygons - quads; ++k) {
    const float x = float(k);
    const Point fourth = k < quads ? Point{x, 0, 2} : k % 2 ? Point{x, 0, 0} : Point{x, 1, 1};
    body += Face("A", {{x, 0, 0}, {x, 1, 0}, {x, 1, 1}, fourth});
  }
  for (const bool extra : {false, true}) {
    SCOPED_TRACE(extra);
    ASSERT_EQ(Import(Lines(Entities(body + (extra ? Face("A", {P0, P1, P2, P2}) : "")))), 1);
    ASSERT_EQ(gModel.vertexCount, MaxVertices);
    for (int p = 0; p < maxPolygons; ++p) {
      const ModelVertex* v = &gModel.vertices[3 * p];
      ASSERT_EQ(v[0].x, float(p < 2 * quads ? p / 2 : p - quads)) << p;
      ASSERT_NE(v[2].z, v[1].z) << p;  // not a twin
    }
    EXPECT_EQ(Warning(), extra ? "The file holds more polygons than a model can (32768). The remaining faces "
                                 "were left out."
                               : "");
  }
}

// Every corpus file reads with the invariants kept. Counted by hand:
// threeDFaces.dxf has 12 faces whose fourth corner repeats the third, on
// layer "0"; lineTest.dxf a quad and a face with a repeated corner on layer
// "1"; 3dface.dxf 46 four-corner faces (two inside blocks), all on layer "0".
TEST_F(DxfImportTest, CorpusFilesAndTheirHandCounts) {
  const struct {
    const char* name;
    int polygons;
  } counted[] = {{"threeDFaces.dxf", 24}, {"lineTest.dxf", 4}, {"3dface.dxf", 92}};
  const std::string folder = std::string(VORNIX_CORPUS_DIR) + "/dxf/";
  DIR* dir = opendir(folder.c_str());
  if (!dir) GTEST_SKIP() << "no model corpus at " << folder;
  int files = 0, hand = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name[0] == '.') continue;
    SCOPED_TRACE(name);
    ++files;
    EXPECT_EQ(ImportFile(folder + name), name == "bin_dxf_r12.dxf" ? 0 : 1);
    EXPECT_TRUE(gModel.vertexCount == 0 || gModel.materialCount >= 1);
    for (const auto& c : counted) {
      if (name != c.name) continue;
      ++hand;
      EXPECT_EQ(Warning(), "");
      EXPECT_EQ(gModel.vertexCount, 3 * c.polygons);
      EXPECT_EQ(gModel.materialCount, 1);
    }
  }
  closedir(dir);
  EXPECT_GE(files, 3);
  EXPECT_EQ(hand, 3);
}

}  // namespace
