#include "formats/dxf_export.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "formats/export_tables.h"
#include "formats/file_output.h"
#include "formats/number_text.h"
#include "formats/text_values.h"
#include "model/model.h"
#include "platform/ui.h"
#include "render/qlt.h"

namespace {

const char* const CreateFailureText = "Could not open file: %s";

// The file's text: group pairs, each a code line and a value line.
class DxfText {
 public:
  explicit DxfText(SafeFile& file) : file_(file), text_(file.text()) {}

  void Pair(int code, const char* value) {
    Code(code);
    text_ += value;
    text_ += "\r\n";
    file_.Spill();
  }
  void Pair(int code, int value) {
    char line[2 * IntRoom + 4];
    char* end = WriteInt(WriteCode(line, code), value);
    Append(line, LineEnd(end));
    file_.Spill();
  }
  void Pair(int code, float value) {
    char line[IntRoom + FixedRoom + 4];
    char* end = WriteFixed(WriteCode(line, code), finite(value));
    Append(line, LineEnd(end));
    file_.Spill();
  }
  // Every coordinate goes through this, so that the file holds no "nan" or "inf".
  FiniteValues finite;

 private:
  static char* LineEnd(char* end) {
    end[0] = '\r';
    end[1] = '\n';
    return end + 2;
  }
  static char* WriteCode(char* line, int code) { return LineEnd(WriteInt(line, code)); }
  void Append(const char* line, const char* end) { text_.append(line, size_t(end - line)); }
  void Code(int code) {
    char line[IntRoom + 2];
    Append(line, WriteCode(line, code));
  }
  SafeFile& file_;
  std::string& text_;
};

// A material's layer: one letter, A for material 0.
std::string LayerName(int material) { return std::string(1, char(65 + material)); }
int LayerColour(int material) { return (65 + material) % 16; }

void AddLineTypeTable(DxfText& out) {
  out.Pair(0, "TABLE");
  out.Pair(2, "LTYPE");
  out.Pair(70, 1);
  out.Pair(0, "LTYPE");
  out.Pair(2, "SOLIDLINE");
  out.Pair(70, 64);
  out.Pair(3, "Solid line");
  out.Pair(72, 65);
  out.Pair(73, 0);
  out.Pair(40, "0.0");
  out.Pair(0, "ENDTAB");
}

void AddLayerTable(DxfText& out, int materials) {
  out.Pair(0, "TABLE");
  out.Pair(2, "LAYER");
  out.Pair(70, 2 * materials + 2);
  for (int m = 0; m < materials; ++m) {
    out.Pair(0, "LAYER");
    out.Pair(2, LayerName(m).c_str());
    out.Pair(70, 0);
    out.Pair(62, LayerColour(m));
    out.Pair(6, "SOLIDLINE");
  }
  out.Pair(0, "ENDTAB");
}

// Corner `corner` (0 .. 3) as the groups 1c, 2c, 3c.
void AddCorner(DxfText& out, int corner, const ExportVertex& v) {
  out.Pair(10 + corner, v.x);
  out.Pair(20 + corner, v.y);
  out.Pair(30 + corner, v.z);
}

// One 3DFACE per polygon; a triangle repeats its third corner as the fourth.
void AddFaces(DxfText& out, int materials) {
  const ExportTableSet& t = ExportTables;
  for (int m = 0; m < materials; ++m) {
    const std::string layer = LayerName(m);
    const ExportVertex* block = &t.vertices[t.vertexStart[m]];
    const uint16_t* index = &t.indices[t.indexStart[m]];
    for (int32_t f = 0; f < t.indexCounts[m] / 3; ++f, index += 3) {
      out.Pair(0, "3DFACE");
      out.Pair(8, layer.c_str());
      AddCorner(out, 0, block[index[0]]);
      AddCorner(out, 1, block[index[1]]);
      AddCorner(out, 2, block[index[2]]);
      AddCorner(out, 3, block[index[2]]);
    }
  }
}

int CountFaces(int materials) {
  int faces = 0;
  for (int m = 0; m < materials; ++m) faces += ExportTables.indexCounts[m] / 3;
  return faces;
}

}  // namespace

int ExportDXF(const char* path) {
  if (!ReadyToWriteExportTables(path, "Could not open file: no file name was given.")) return 0;
  const int materials = ExportTables.ExportHeader.materialCount;
  const int faces = CountFaces(materials);
  if (faces == 0) {
    MessageBoxSafe("Nothing to save...", "Vornix 3D!", MB_OK);
    return 0;
  }
  SafeFile file(path, CreateFailureText);
  if (!file.opened()) return 0;
  DxfText out(file);
  out.Pair(0, "SECTION");
  out.Pair(2, "TABLES");
  AddLineTypeTable(out);
  AddLayerTable(out, materials);
  out.Pair(0, "ENDSEC");
  out.Pair(0, "SECTION");
  out.Pair(2, "ENTITIES");
  AddFaces(out, materials);
  out.Pair(0, "ENDSEC");
  out.Pair(0, "EOF");
  if (!file.Finish()) return 0;
  WarnOfReplacedValues(out.finite, path);
  return 1;
}
