#include "formats/x_text_passes.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "formats/x_import.h"
#include "formats/xtext.h"
#include "model/model.h"
#include "platform/scripted/scripted_ui.h"
#include "reference/literal_x_text.h"
#include "render/progress_box.h"
#include "support/model_builder.h"

namespace {

const char* const Path = "t.x";
const std::string OutOfMemory = "Out of memory! - Use a smaller X file!|Fatal Error";
const std::string Unbalanced =
    "t.x: An object's braces are not balanced - Fix the X File!|Fatal Error - Fix the X File!";
const std::string White =
    "__qlt_token_material:{1.0;1.0;1.0;1.000000;0;0.000000;0.000000;0.000000;0.000000;0.000000;0.000000;}";

void Set(const std::string& text) { SetXText(text.data(), int(text.size())); }
std::string Text() { return std::string(XText, size_t(XTextLength)); }
void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string Messages(const ScriptedUI& ui) {
  std::string all;
  for (const auto& m : ui.messages) all += (all.empty() ? "" : "\n") + m.text + "|" + m.caption;
  return all;
}

// Every pass after reading, with its plain form beside it (for references and
// material lists the product's step-by-step pass).
struct Step {
  const char* name;
  int (*fast)();
  int (*plain)();
};
const Step Steps[] = {
    {"keywords", [] { return ReplaceKeywords(Path); }, [] { return literal::ReplaceKeywords(); }},
    {"lower case", [] { return LowerCaseText(), 1; }, [] { return literal::LowerCaseText(), 1; }},
    {"garbage", [] { return RemoveGarbage(Path), 1; }, [] { return literal::RemoveGarbage(), 1; }},
    {"templates", [] { return RemoveTemplates(Path); }, [] { return literal::RemoveTemplates(Path); }},
    {"mesh check", [] { return CheckForMesh(Path); }, [] { return literal::CheckForMesh(Path); }},
    {"header", [] { return DropHeader(Path), 1; }, [] { return literal::DropHeader(), 1; }},
    {"references", [] { return ResolveReferences(Path); }, [] { return ResolveReferencesStepByStep(Path); }},
    {"token names", [] { return RemoveTokenNames(Path), 1; }, [] { return literal::RemoveTokenNames(), 1; }},
    {"obsoletes", [] { return DeleteObsoletes(Path); }, [] { return literal::DeleteObsoletes(Path); }},
    {"lists", [] { return VerifyMaterialLists(Path); }, [] { return VerifyMaterialListsStepByStep(Path); }},
};

struct Outcome {
  int result;
  std::string text;  // after the last step, when it succeeded
  std::string messages;
};

// Runs both forms of every step on the same input, each step starting from the
// text both gave for the step before; returns the plain form's outcome.
Outcome CompareSteps(ScriptedUI& ui, std::string text, const std::string& label) {
  for (const Step& step : Steps) {
    Outcome fast, plain;
    for (Outcome* o : {&fast, &plain}) {
      ui.messages.clear();
      Set(text);
      o->result = (o == &fast ? step.fast : step.plain)();
      o->text = o->result ? Text() : "";
      o->messages = Messages(ui);
    }
    const std::string at = label + " at step " + step.name;
    EXPECT_EQ(fast.result, plain.result) << at << "\n" << plain.messages;
    EXPECT_EQ(fast.messages, plain.messages) << at;
    EXPECT_TRUE(fast.text == plain.text) << at << "\ninput: " << text.substr(0, 3000);
    if (!plain.result || fast.result != plain.result || fast.text != plain.text) return plain;
    text = plain.text;
  }
  return {1, text, ""};
}

// Small X files with the shapes the passes have to get right: named and
// unnamed objects nested in each other, references, names in different case,
// templates, comments, words that almost are keywords, doubled separators,
// vertex counts that overrun their data and braces never closed.
class XLikeText {
 public:
  explicit XLikeText(uint32_t seed) : rng_(seed) {}
  std::string Make() { return "xof 0302txt 0064\n" + Objects(0, 2 + Pick(5)); }

 private:
  int Pick(int n) { return int(rng_() % uint32_t(n)); }
  template <size_t N>
  std::string From(const char* const (&list)[N]) {
    return list[Pick(int(N))];
  }
  std::string Space() { return From({"", " ", "\n", "\r\n", "\t"}); }
  std::string Items(int count) {
    std::string s;
    while (count-- > 0) s += From({"0", "1", "-1", "0.5", "3e1"}) + From({";", ";", ",", ";;", "; "});
    return s;
  }
  std::string Objects(int depth, int count) {
    return count > 0 ? Object(depth) + Space() + Objects(depth, count - 1) : "";
  }
  std::string Object(int depth) {
    const int kind = Pick(depth < 3 ? 12 : 3);
    if (kind == 0) return "{" + Space() + From({"red", "Red", "box", "Mesh_2"}) + Space() + "}";
    if (kind == 1) return From({"# ", "// ", "//template "}) + From({"Mesh a {\n", "Material ;;\n", ";;"});
    if (kind == 2) return From({"Header {1;0;1;}", "Mesh;", "mesh ", "} ", "[...]"});
    std::string body;
    if (kind < 6) {  // a mesh: vertices, faces and what it holds
      const int vertices = Pick(5), faces = Pick(4);
      body = std::to_string(Pick(8) ? vertices : vertices + 1 + Pick(40)) + ";" + Items(3 * vertices) +
             std::to_string(faces) + ";";
      for (int f = 0; f < faces; ++f) body += "3;0,1,2;,";
    }
    body += kind == 11 ? "<3D82AB44>" + From({"[...]", "[Material <3D82>]", "DWORD n;", ""})
                       : Items(Pick(12)) + Objects(depth + 1, Pick(3));
    const char* const keywords[] = {
        "Mesh",  "Mesh",    "Mesh", "Material", "MeshMaterialList", "MeshNormals", "TextureFilename",
        "Frame", "template"};
    std::string keyword = keywords[kind - 3] + std::string(" ");
    if (Pick(10) == 0) keyword = From({"My", "_", "3"}) + keyword;  // not a keyword
    return keyword + From({"", "", "red ", "Red ", "box ", "hull ", "Mesh_2 "}) + "{" + body +
           (Pick(80) ? "}" : "");
  }

  std::mt19937 rng_;
};

class XTextPassesTest : public ::testing::Test {
 protected:
  void SetUp() override { ProgressHide(); }
  ScopedScriptedUI scripted;
};

TEST_F(XTextPassesTest, ShapesGiveThePlainTextOrTheirMessage) {
  const std::string templates =
      "t.x: Error in templates! - Check them. Also, you can even leave them out as they aren't used...|Fatal "
      "Error";
  const std::string noMesh = "t.x: Mesh definition not found!|Fatal Error - Fix the X File!";
  const struct {
    std::string text;
    std::string message;  // empty when the text becomes canonical
  } cases[] = {
      // references before and after their definition, twice, and in different case (the first one wins)
      {"Mesh {0;0; MeshMaterialList {1;0;; {red}}}\nMaterial red {1;0;0;1;;5;}\n"
       "Mesh m {3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;;; MeshMaterialList {1;1;0;; {red} {red}}}",
       ""},
      {"Material Red {1;}\nMaterial red {2;}\nMesh {0;0; {RED}}", ""},
      // objects that refer to themselves, directly, through another, or as their whole body
      {"Material a {1; {a}}\nMesh {0;0;}", OutOfMemory},
      {"Material a {1; {b}}\nMaterial b {2; {a}}\nMesh {0;0; {b}}", OutOfMemory},
      {"Material q {q}\nMesh {0;0;}", OutOfMemory},
      {"Material a {{a}} Mesh {0;0;}", OutOfMemory},
      {"Material r {1;}\nMaterial q {r}\nMesh {0;0; {q} {q}}", ""},
      // a named material inside a mesh, used by a later mesh; nested named objects
      {"Mesh one {0;0; MeshMaterialList {1;0;; Material inner {1; TextureFilename tex {\"a b.bmp\";}}}}\n"
       "Mesh two {0;0; {inner}}\nFrame f {Frame g {Mesh {0;0;}} {two}}",
       ""},
      // a mesh inside a mesh that lacks a list, whose vertex count runs past its data
      {"Mesh inner {9; 1;2;3;, 4;5;6;; 1; 3;0,1,2;;}\n"
       "Mesh outer {1; 0;0;0;; 2; 3;0,0,0;, 3;0,0,0;; {inner} 5;6;7; Material {0.5;}}",
       ""},
      // a copied material that holds a mesh; a name that holds a "}"; a token inside a name
      {"Mesh outer {0;1; Material holder {1; Mesh {1;1;2;3;;1;3;0,0,0;;}}}", ""},
      {"Mesh {1;} Material a}b {2;} Mesh {0;0; {a}b}}", ""},
      {"Material a Material b {1;}\nMesh {0;0; {b} {aMaterial b}}", ""},
      {"Mesh {0;2000000000;}", OutOfMemory},
      {"template T { <1> Mesh x; } Mesh {0;0;}", templates},
      {"template T { <1> }\nMesh{0;0;} mesh {0;0;}", noMesh},
      {"Mesh {0;0;} template T", Unbalanced},
      {"Mesh {0;0;} template T {", Unbalanced},
      {"Mesh {0;0; Material {1;}", Unbalanced},
      {"Mesh {0;0;} } Material m", Unbalanced},
  };
  for (const auto& c : cases) {
    const Outcome o = CompareSteps(scripted.ui, "xof 0302txt 0064\n" + c.text, c.text);
    EXPECT_EQ(o.result, c.message.empty() ? 1 : 0) << c.text;
    EXPECT_EQ(o.messages, c.message) << c.text;
  }
}

TEST_F(XTextPassesTest, RandomTextsGiveThePlainText) {
  int succeeded = 0, overflowed = 0, unbalanced = 0, other = 0;
  for (uint32_t seed = 1; seed <= 400 && !HasFailure(); ++seed) {
    const Outcome o = CompareSteps(scripted.ui, XLikeText(seed).Make(), "seed " + std::to_string(seed));
    ++(o.result                    ? succeeded
       : o.messages == OutOfMemory ? overflowed
       : o.messages == Unbalanced  ? unbalanced
                                   : other);
  }
  // The texts reach every outcome, most of them the canonical text.
  EXPECT_GT(succeeded, 150);
  EXPECT_GT(overflowed, 5);
  EXPECT_GT(unbalanced, 5);
  EXPECT_GT(other, 20);  // no mesh, templates holding tokens
}

// Meshes nested three deep, none with a list, the innermost with a vertex
// count that runs past its data: its face count is read ever further on,
// through the lists its enclosing meshes were given before it.
TEST_F(XTextPassesTest, NestedMeshesReadTheirFaceCountThroughEarlierLists) {
  auto faces = [](int count) {
    std::string s = std::to_string(count) + ";";
    for (int i = 0; i < count; ++i) s += "3;0,0," + std::to_string(i % 10) + ";,";
    return s;
  };
  int succeeded = 0;
  for (int stated = 0; stated < 1200 && !HasFailure(); stated += 7) {
    const std::string text = "xof 0302txt 0064\nMesh a {" + std::to_string(stated) + ";1;2;3;;" + faces(2) +
                             "}\nMesh b {1;4;5;6;;" + faces(150) +
                             " {a} Material {0.5;0.5;0.5;1;;0;0;0;;0;0;0;;} 7;8;}\nMesh c {1;7;7;7;;" +
                             faces(90) + " {b} 9;}\nFrame {{c}} Mesh {1;0;0;0;;1;3;0,0,0;;}";
    succeeded += CompareSteps(scripted.ui, text, "stated " + std::to_string(stated)).result;
  }
  EXPECT_EQ(succeeded, 172);
}

TEST_F(XTextPassesTest, CorpusFilesGiveThePlainText) {
  const std::string folder = std::string(VORNIX_CORPUS_DIR) + "/x/";
  DIR* dir = opendir(folder.c_str());
  if (!dir) GTEST_SKIP() << "no model corpus at " << folder;
  int canonical = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name, path = folder + name;
    if (name.size() < 2 || (name.substr(name.size() - 2) != ".x" && name.substr(name.size() - 2) != ".X"))
      continue;
    const int whole = MakeCanonicalXText(path.c_str());
    const std::string made = Text();
    if (!ReadXFile(path.c_str())) {
      EXPECT_EQ(whole, 0) << name;
      continue;
    }
    // The passes here name Path in their messages; the whole import the file's path.
    const Outcome steps = CompareSteps(scripted.ui, Text(), name);
    EXPECT_EQ(whole, steps.result) << name;
    if (whole && steps.result) {
      ++canonical;
      EXPECT_TRUE(made == steps.text) << name;
    }
  }
  closedir(dir);
  EXPECT_GE(canonical, 15);
}

TEST_F(XTextPassesTest, ReadingChecksTheHeaderAndTheSizeFirst) {
  const std::string path = TempPath("header.x");
  const std::string binary = path +
                             " is a valid X file but is in binary format!\nUse the CONVX.EXE converter from "
                             "the DirectX SDK\nto convert " +
                             path + " to an ascii text X file:\n\nCONVX -t " + path;
  const std::pair<std::string, std::vector<const char*>> cases[] = {
      {"", {"xof 0302txt 0064\n", "XoF 0303TxT 0032"}},
      {binary, {"xof 0302bin 0064", "xof 0302BIN 0064"}},
      {path + " is not a valid ascii text X file!", {"xof 0303bzip0032", "xof 0302tx", "xof"}},
      {path + " is not a valid X file!", {"xo", "", "xog 0302txt 0064"}}};
  for (const auto& [message, contents] : cases) {
    for (const char* content : contents) {
      WriteFile(path, content);
      scripted.ui.messages.clear();
      EXPECT_EQ(ReadXFile(path.c_str()), message.empty() ? 1 : 0) << content;
      EXPECT_EQ(Messages(scripted.ui), message.empty() ? "" : message + "|Error") << content;
      if (message.empty()) {
        EXPECT_EQ(Text(), content);
      }
    }
  }
  // A file at the capacity is read; one byte more, or a missing file, is
  // refused before reading.
  const std::string tooLarge =
      " is too large to import: a text model file may hold at most 20000000 characters.";
  for (const int size : {MaxXText, MaxXText + 1, -1}) {
    WriteFile(path, "xof 0302txt 0064");
    ASSERT_EQ(size < 0 ? std::remove(path.c_str()) : truncate(path.c_str(), size), 0);  // zero bytes follow
    Set("before");
    scripted.ui.messages.clear();
    EXPECT_EQ(ReadXFile(path.c_str()), size == MaxXText ? 1 : 0);
    EXPECT_EQ(XTextLength, size == MaxXText ? MaxXText : 6);
    EXPECT_EQ(Messages(scripted.ui), size == MaxXText ? ""
                                     : size > 0       ? path + tooLarge + "|Error"
                                                      : "Could not open X file: " + path + "|Error");
  }
}

// The progress box of a whole import: every text pass, then the
// interpretation, in order and in one box.
TEST_F(XTextPassesTest, TheWholeImportShowsEveryStepInOrder) {
  const std::string path = TempPath("steps.x");
  WriteFile(path, "xof 0302txt 0064\nMesh {1;0;0;0;;1;3;0,0,0;;}");
  ASSERT_EQ(ImportX(path.c_str()), 1);
  std::remove(path.c_str());
  ClearModel();
  std::string shown, last;
  for (const std::string& t : scripted.ui.progressTexts) {
    // Triangulating shows or not depending on the percentage before it.
    if (t.rfind("1043:", 0) != 0 || t.size() == 5 || t == last || t == "1043:Triangulating...") continue;
    shown += t.substr(5) + "|";
    last = t;
  }
  EXPECT_EQ(
      shown,
      "Opening file...|Loading file...|Determining file type...|Creating better tokens...|Removing "
      "garbage...|Removing templates...|Checking for Mesh...|Adjusting file...|Resolving references...|"
      "Removing token names...|Deleting obsoletes...|Verifying MeshMaterialList...|Interpreting data...|"
      "Verifying normals...|Determining bounding box size...|");
  EXPECT_EQ(scripted.ui.progressCreated, 1);
  EXPECT_FALSE(scripted.ui.progressOpen);
}

// What single passes make of their input, written out: the plain forms could
// share a fault with the fast ones.
TEST_F(XTextPassesTest, SinglePassesGiveTheirText) {
  const auto keywords = Steps[0].fast, garbage = Steps[2].fast, references = Steps[6].fast,
             lists = Steps[9].fast;
  const std::string blue = "__qlt_token_material:{0;0;1;1;__qlt_token_texturefilename:{\"a.bmp\";}}";
  const std::string green = "__qlt_token_material:{0;1;0;1;}";
  const std::string quad = "__qlt_token_mesh:{4;0;0;0;1;0;0;1;1;0;0;1;0;2;3;0;1;2;3;0;2;3;";
  const std::string listed = "__qlt_token_mesh:{0;0;__qlt_token_meshmateriallist:{1;0;" + green + "}}";
  const std::string list = "__qlt_token_meshmateriallist:{1;", zeros(300, '0');
  const struct {
    int (*pass)();
    std::string text, result;
  } cases[] = {
      // keywords count only after non-word characters, and right after another keyword
      {keywords, "Mesh Mesh x", "__qlt_token_mesh:__qlt_token_mesh:x"},
      {keywords, "MyMesh _Mesh 3Mesh Mesh{ mesh MESH Mesh", "MyMesh _Mesh 3Mesh Mesh{ mesh MESH Mesh"},
      {keywords, ":Mesh {Material ,template ",
       ":__qlt_token_mesh:{__qlt_token_material:,__qlt_token_template:"},
      {keywords, "MeshMaterialList MeshNormals MeshTextureCoords TextureFilename ",
       "__qlt_token_meshmateriallist:__qlt_token_meshnormals:__qlt_token_meshtexturecoords:"
       "__qlt_token_texturefilename:"},
      // the separator before a separator is the input's, not what was kept
      {garbage, "3;0,1,2;,\r\n", "3;0;1;2;"},
      {garbage, "1;;2;,3; ;4,,", "1;2;3;;4;;"},
      {garbage, "a// x;y\nb#c\r\nd/e", "abd/e"},
      // references after their definition become copies
      {references, "__qlt_token_material:r{1;}__qlt_token_mesh:{{r}{s}}__qlt_token_material:s{2;}",
       "__qlt_token_material:r{1;}__qlt_token_mesh:{__qlt_token_material:r{1;}{s}}__qlt_token_material:s{2;"
       "}"},
      {references, "__qlt_token_mesh:{1;}__qlt_token_material:a}b{2;}{a}b}",
       "__qlt_token_mesh:{1;}__qlt_token_material:a}b{2;}__qlt_token_material:a}b{2;}"},
      // a mesh without a list gets one with its first material, or white; only the first 255
      // characters of an item count
      {lists, quad + "}", quad + list + "2;0;0;" + White + "}}"},
      {lists, quad + blue + green + "}", quad + blue + green + list + "2;0;0;" + blue + "}}"},
      {lists, listed, listed},
      {lists, "__qlt_token_mesh:{0;-3;}", "__qlt_token_mesh:{0;-3;" + list + "-3;" + White + "}}"},
      {lists, "__qlt_token_mesh:{2;1;2;3;}", "__qlt_token_mesh:{2;1;2;3;" + list + "0;" + White + "}}"},
      {lists, "__qlt_token_mesh:{" + zeros + "1;5;}",
       "__qlt_token_mesh:{" + zeros + "1;5;" + list + "5;0;0;0;0;0;" + White + "}}"},
  };
  for (const auto& c : cases) {
    Set(c.text);
    ASSERT_EQ(c.pass(), 1) << c.text;
    EXPECT_EQ(Text(), c.result) << c.text;
  }
  Set("__qlt_token_mesh:{-5;");
  EXPECT_EQ(lists(), 0);
  EXPECT_EQ(Messages(scripted.ui), Unbalanced);
}

// Every growing pass, in both forms where it has two: a text that grows to
// fill the buffer exactly, and the same with one character more.
TEST_F(XTextPassesTest, GrowthBeyondTheBufferFailsInEveryGrowingStep) {
  const std::string object = "__qlt_token_material:r{" + std::string(6666666 - 24, 'p') + "}";
  const std::string head = "__qlt_token_mesh:{0;9000000;", list = "__qlt_token_meshmateriallist:{1;9000000;";
  const std::string mesh =
      head + std::string(MaxXText - (head.size() + list.size() + 2 * 9000000 + White.size() + 2), 'p') + "}";
  const struct {
    int (*pass)(const char*);
    std::string text, tail;  // the filled buffer ends with the tail
  } cases[] = {
      {ReplaceKeywords, " Mesh " + std::string(MaxXText - 18, ' '), "  "},
      {ResolveReferences, object + "{r}{r}xx", object + "xx"},
      {ResolveReferencesStepByStep, object + "{r}{r}xx", object + "xx"},
      {VerifyMaterialLists, mesh, White + "}}"},
      {VerifyMaterialListsStepByStep, mesh, White + "}}"},
  };
  for (const auto& c : cases) {
    for (const bool fits : {true, false}) {
      Set(fits ? c.text : "x" + c.text);
      scripted.ui.messages.clear();
      ASSERT_EQ(c.pass(Path), fits ? 1 : 0);
      EXPECT_EQ(Messages(scripted.ui), fits ? "" : OutOfMemory);
      if (fits) {
        EXPECT_EQ(XTextLength, MaxXText);
        EXPECT_TRUE(Text().compare(MaxXText - c.tail.size(), c.tail.size(), c.tail) == 0);
      }
    }
  }
}

TEST_F(XTextPassesTest, TextOperationsAndNumberItemsStayWithinTheText) {
  Set(std::string(300, '9') + ";5;-99999999999;1e39;-1e39;nan;inf;0x10;-.5;12abc;7");
  int position = 0;
  EXPECT_EQ(ReadXItemInt(position), INT_MAX);
  EXPECT_EQ(position, 301);
  EXPECT_EQ(ReadXItemInt(position), 5);
  EXPECT_EQ(ReadXItemInt(position), INT_MIN);
  for (const float value : {FLT_MAX, -FLT_MAX, 0.0f, 0.0f, 0.0f, -0.5f})
    EXPECT_EQ(ReadXItemFloat(position), value);
  EXPECT_EQ(ReadXItemInt(position), 12);
  EXPECT_EQ(ReadXItemInt(position), 7);  // the rest of the text, no ";" after it
  EXPECT_EQ(ReadXItemInt(position), 0);
  EXPECT_EQ(position, XTextLength);

  Set("2;1;2;3;4;5;6;8;");
  EXPECT_EQ(SkipItems(2, 6), 8);
  EXPECT_EQ(SkipItems(2, -4), 1);
  EXPECT_EQ(SkipItems(2, INT_MAX), 0);
  const float values[] = {3.9f, -3.9f, 3e9f, -3e9f, NAN};
  const int counts[] = {3, -3, INT_MAX, INT_MIN, 0};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(TruncateCount(values[i]), counts[i]) << values[i];

  // Deletion, searches and matches end at the end of the text, searches
  // within a range at its last position.
  Set("abcdefbcgh");
  TextDelete(8, 100);
  EXPECT_EQ(Text(), "abcdefbc");
  EXPECT_EQ(TextFindWithin(2, 6, "bc"), 6);
  EXPECT_EQ(TextFindWithin(2, 5, "bc"), -1);
  EXPECT_EQ(TextFind(7, "cx"), -1);
  EXPECT_FALSE(TextMatchAt(7, "cd"));
  int open = 0, close = 0;
  Set("x{a{b}c}{");
  EXPECT_TRUE(TextBlockExtent(0, open, close));
  EXPECT_EQ(open * 10 + close, 17);
  EXPECT_FALSE(TextBlockExtent(8, open, close));
}

}  // namespace
