#include "formats/x_export.h"

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "formats/export_tables.h"
#include "formats/file_output.h"
#include "formats/number_text.h"
#include "formats/text_values.h"
#include "model/model.h"
#include "platform/ui.h"
#include "render/qlt.h"

namespace {

struct XTemplate {
  const char* name;
  const char* guid;
  const char* members[6];  // ends with a null
};

// The standard declarations, written ahead of the data so that any reader
// knows every type the file uses.
const XTemplate Templates[] = {
    {"Header", "<3D82AB43-62DA-11cf-AB39-0020AF71E433>", {"WORD major;", "WORD minor;", "DWORD flags;"}},
    {"Vector", "<3D82AB5E-62DA-11cf-AB39-0020AF71E433>", {"FLOAT x;", "FLOAT y;", "FLOAT z;"}},
    {"Coords2d", "<F6F23F44-7686-11cf-8F52-0040333594A3>", {"FLOAT u;", "FLOAT v;"}},
    {"Matrix4x4", "<F6F23F45-7686-11cf-8F52-0040333594A3>", {"array FLOAT matrix[16];"}},
    {"ColorRGBA",
     "<35FF44E0-6C7C-11cf-8F52-0040333594A3>",
     {"FLOAT red;", "FLOAT green;", "FLOAT blue;", "FLOAT alpha;"}},
    {"ColorRGB", "<D3E16E81-7835-11cf-8F52-0040333594A3>", {"FLOAT red;", "FLOAT green;", "FLOAT blue;"}},
    {"IndexedColor", "<1630B820-7842-11cf-8F52-0040333594A3>", {"DWORD index;", "ColorRGBA indexColor;"}},
    {"Boolean", "<4885AE61-78E8-11cf-8F52-0040333594A3>", {"WORD truefalse;"}},
    {"Boolean2d", "<4885AE63-78E8-11cf-8F52-0040333594A3>", {"Boolean u;", "Boolean v;"}},
    {"MaterialWrap", "<4885AE60-78E8-11cf-8F52-0040333594A3>", {"Boolean u;", "Boolean v;"}},
    {"TextureFilename", "<A42790E1-7810-11cf-8F52-0040333594A3>", {"STRING filename;"}},
    {"Material",
     "<3D82AB4D-62DA-11cf-AB39-0020AF71E433>",
     {"ColorRGBA faceColor;", "FLOAT power;", "ColorRGB specularColor;", "ColorRGB emissiveColor;", "[...]"}},
    {"MeshFace",
     "<3D82AB5F-62DA-11cf-AB39-0020AF71E433>",
     {"DWORD nFaceVertexIndices;", "array DWORD faceVertexIndices[nFaceVertexIndices];"}},
    {"MeshFaceWraps",
     "<4885AE62-78E8-11cf-8F52-0040333594A3>",
     {"DWORD nFaceWrapValues;", "Boolean2d faceWrapValues;"}},
    {"MeshTextureCoords",
     "<F6F23F40-7686-11cf-8F52-0040333594A3>",
     {"DWORD nTextureCoords;", "array Coords2d textureCoords[nTextureCoords];"}},
    {"MeshMaterialList",
     "<F6F23F42-7686-11cf-8F52-0040333594A3>",
     {"DWORD nMaterials;", "DWORD nFaceIndexes;", "array DWORD faceIndexes[nFaceIndexes];", "[Material]"}},
    {"MeshNormals",
     "<F6F23F43-7686-11cf-8F52-0040333594A3>",
     {"DWORD nNormals;", "array Vector normals[nNormals];", "DWORD nFaceNormals;",
      "array MeshFace faceNormals[nFaceNormals];"}},
    {"MeshVertexColors",
     "<1630B821-7842-11cf-8F52-0040333594A3>",
     {"DWORD nVertexColors;", "array IndexedColor vertexColors[nVertexColors];"}},
    {"Mesh",
     "<3D82AB44-62DA-11cf-AB39-0020AF71E433>",
     {"DWORD nVertices;", "array Vector vertices[nVertices];", "DWORD nFaces;",
      "array MeshFace faces[nFaces];", "[...]"}},
    {"FrameTransformMatrix", "<F6F23F41-7686-11cf-8F52-0040333594A3>", {"Matrix4x4 frameMatrix;"}},
    {"Frame", "<3D82AB46-62DA-11cf-AB39-0020AF71E433>", {"[...]"}},
};

const char* const CRLF = "\r\n";

// The file's text, written out as it grows.
class XFileText {
 public:
  explicit XFileText(SafeFile& file) : file_(file), text_(file.text()) {}

  // Appends printf-formatted text.
  __attribute__((format(printf, 2, 3))) void Add(const char* format, ...) {
    va_list args;
    va_start(args, format);
    AppendFormattedList(text_, format, args);
    va_end(args);
    file_.Spill();
  }
  // The list items, as Add would write them with "%f;" for each value,
  // "3;%d,%d,%d;" for a face or "%d" for one index, each followed by its
  // ending and a line end: they are most of the file, too many to read a
  // format for each.
  template <size_t N>
  void Reals(const char* indent, const double (&values)[N], const char* ending) {
    char item[kIndentRoom + N * (FixedRoom + 1) + kEndingRoom];
    char* end = Indent(item, indent);
    for (const double value : values) {
      end = WriteFixed(end, value);
      *end++ = ';';
    }
    Put(item, end, ending);
  }
  void Face(const char* indent, int32_t a, int32_t b, int32_t c, const char* ending) {
    char item[kIndentRoom + 2 + 3 * (IntRoom + 1) + kEndingRoom];
    char* end = Indent(item, indent);
    *end++ = '3';
    *end++ = ';';
    end = WriteInt(end, a);
    *end++ = ',';
    end = WriteInt(end, b);
    *end++ = ',';
    end = WriteInt(end, c);
    *end++ = ';';
    Put(item, end, ending);
  }
  void Index(const char* indent, int value, const char* ending) {
    char item[kIndentRoom + IntRoom + kEndingRoom];
    Put(item, WriteInt(Indent(item, indent), value), ending);
  }
  void Line(const char* text) {
    text_ += text;
    text_ += CRLF;
    file_.Spill();
  }
  // Every number goes through this, so that the file holds no "nan" or "inf".
  FiniteValues finite;

 private:
  static constexpr size_t kIndentRoom = 8;  // the lists' indents are 4 or 8 spaces
  static constexpr size_t kEndingRoom = 8;  // an item's ending (up to 3) and the line end
  static char* Indent(char* out, const char* indent) {
    const size_t length = std::min(std::strlen(indent), kIndentRoom);
    std::memcpy(out, indent, length);
    return out + length;
  }
  void Put(const char* begin, char* end, const char* ending) {
    const size_t length = std::min(std::strlen(ending), kEndingRoom - 2);
    std::memcpy(end, ending, length);
    std::memcpy(end + length, CRLF, 2);
    text_.append(begin, size_t(end + length + 2 - begin));
    file_.Spill();
  }
  SafeFile& file_;
  std::string& text_;
};

char MaterialLetter(int material) { return char(65 + material); }

// The face and vertex totals of the prepared tables.
struct MeshCounts {
  int32_t vertices = 0;
  int32_t faces = 0;
};

MeshCounts CountMesh() {
  MeshCounts counts;
  for (int m = 0; m < gModel.materialCount; ++m) {
    counts.vertices += ExportTables.vertexCounts[m];
    counts.faces += ExportTables.indexCounts[m] / 3;
  }
  return counts;
}

void AddTemplates(XFileText& out) {
  for (const XTemplate& x : Templates) {
    out.Add("template %s {\r\n    %s\r\n", x.name, x.guid);
    for (int i = 0; x.members[i]; ++i) out.Add("    %s\r\n", x.members[i]);
    out.Line("}");
    out.Line("");
  }
}

void AddHeader(XFileText& out) {
  out.Line("Header {");
  out.Line("    1;");
  out.Line("    0;");
  out.Line("    1;");
  out.Line("}");
  out.Line("");
}

void AddMaterials(XFileText& out) {
  for (int i = 0; i < gModel.materialCount; ++i) {
    const ModelMaterial& m = gModel.materials[i];
    out.Add("Material %c {\r\n", MaterialLetter(i));
    FiniteValues& f = out.finite;
    out.Add("    %f;%f;%f;%f;;\r\n", f(m.red), f(m.green), f(m.blue), f(m.alpha));
    out.Add("    %f;\r\n", f(m.specularPower));
    out.Add("    %f;%f;%f;;\r\n", f(m.specularRed), f(m.specularGreen), f(m.specularBlue));
    out.Add("    %f;%f;%f;;\r\n", f(m.emissiveRed), f(m.emissiveGreen), f(m.emissiveBlue));
    if (m.hasTexture == 1) {
      out.Line("    TextureFilename {");
      const int length = int(strnlen(m.textureFile, FileNameSize));
      out.Add("        \"%.*s\";\r\n", length, m.textureFile);
      out.Line("    }");
    }
    out.Line("}");
    out.Line("");
  }
}

// Calls visit(vertex, number, isLast) for every record in numbering order.
template <typename Visit>
void ForEachVertex(const MeshCounts& counts, Visit visit) {
  int32_t number = 0;
  for (int m = 0; m < gModel.materialCount; ++m) {
    const ExportVertex* block = &ExportTables.vertices[ExportTables.vertexStart[m]];
    for (int32_t k = 0; k < ExportTables.vertexCounts[m]; ++k, ++number)
      visit(block[k], number + 1 == counts.vertices);
  }
}

// Calls visit(material, a, b, c, isLast) for every face in order, with the
// face's three vertex numbers.
template <typename Visit>
void ForEachFace(const MeshCounts& counts, Visit visit) {
  int32_t offset = 0, face = 0;
  for (int m = 0; m < gModel.materialCount; ++m) {
    const uint16_t* index = &ExportTables.indices[ExportTables.indexStart[m]];
    for (int32_t f = 0; f < ExportTables.indexCounts[m] / 3; ++f, ++face, index += 3)
      visit(m, offset + index[0], offset + index[1], offset + index[2], face + 1 == counts.faces);
    offset += ExportTables.vertexCounts[m];
  }
}

void AddVerticesAndFaces(XFileText& out, const MeshCounts& counts) {
  out.Add("    %d;\r\n", counts.vertices);
  ForEachVertex(counts, [&](const ExportVertex& v, bool last) {
    out.Reals("    ", {out.finite(v.x), out.finite(v.y), out.finite(v.z)}, last ? ";\r\n" : ",");
  });
  out.Add("    %d;\r\n", counts.faces);
  ForEachFace(counts, [&](int, int32_t a, int32_t b, int32_t c, bool last) {
    out.Face("    ", a, b, c, last ? ";\r\n" : ",");
  });
}

void AddMaterialList(XFileText& out, const MeshCounts& counts) {
  out.Line("    MeshMaterialList {");
  out.Add("        %d;\r\n", gModel.materialCount);
  out.Add("        %d;\r\n", counts.faces);
  ForEachFace(counts, [&](int m, int32_t, int32_t, int32_t, bool last) {
    out.Index("        ", m, last ? ";;" : ",");
  });
  for (int m = 0; m < gModel.materialCount; ++m) out.Add("        {%c}\r\n", MaterialLetter(m));
  out.Line("    }");
  out.Line("");
}

void AddNormals(XFileText& out, const MeshCounts& counts) {
  out.Line("    MeshNormals {");
  out.Add("        %d;\r\n", counts.vertices);
  ForEachVertex(counts, [&](const ExportVertex& v, bool last) {
    out.Reals("        ", {out.finite(v.nx), out.finite(v.ny), out.finite(v.nz)}, last ? ";\r\n" : ",");
  });
  out.Add("        %d;\r\n", counts.faces);
  ForEachFace(counts, [&](int, int32_t a, int32_t b, int32_t c, bool last) {
    out.Face("        ", a, b, c, last ? ";" : ",");
  });
  out.Line("    }");
  out.Line("");
}

void AddTextureCoordinates(XFileText& out, const MeshCounts& counts) {
  out.Line("    MeshTextureCoords {");
  out.Add("        %d;\r\n", counts.vertices);
  ForEachVertex(counts, [&](const ExportVertex& v, bool last) {
    out.Reals("        ", {out.finite(v.u), out.finite(v.v)}, last ? ";" : ",");
  });
  out.Line("    }");
  out.Line("");
}

void AddMesh(XFileText& out, const MeshCounts& counts) {
  out.Line("Mesh model {");
  AddVerticesAndFaces(out, counts);
  AddMaterialList(out, counts);
  AddNormals(out, counts);
  AddTextureCoordinates(out, counts);
  out.Line("}");
}

}  // namespace

int ExportX(const char* path) {
  if (!ReadyToWriteExportTables(path, "Could not create .X file: no file name was given.")) return 0;
  const MeshCounts counts = CountMesh();
  if (counts.faces == 0) {
    MessageBoxSafe("Nothing to save...", "Vornix 3D!", MB_OK);
    return 0;
  }
  // A quote would end the file name's string early.
  for (int m = 0; m < gModel.materialCount; ++m) {
    const ModelMaterial& material = gModel.materials[m];
    if (material.hasTexture == 1 &&
        !QuotableTextureName(m,
                             std::string(material.textureFile, strnlen(material.textureFile, FileNameSize))))
      return 0;
  }
  SafeFile file(path, "Could not create .X file: %s");
  if (!file.opened()) return 0;
  XFileText out(file);
  out.Line("xof 0302txt 0064");
  out.Line("");
  AddTemplates(out);
  AddHeader(out);
  AddMaterials(out);
  AddMesh(out, counts);
  if (!file.Finish()) return 0;
  WarnOfReplacedValues(out.finite, path);
  return 1;
}
