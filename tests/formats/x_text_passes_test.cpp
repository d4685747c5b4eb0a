#include "formats/x_text_passes.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cfloat>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "formats/xtext.h"
#include "platform/scripted/scripted_ui.h"
#include "reference/literal_x_text.h"
#include "render/progress_box.h"
#include "support/model_builder.h"

namespace {

const char* const Path = "t.x";
const char* const OutOfMemory = "Out of memory! - Use a smaller X file!|Fatal Error";
const char* const Unbalanced =
    "t.x: An object's braces are not balanced - Fix the X File!|Fatal Error - Fix the X File!";

void Set(const std::string& text) { SetXText(text.data(), int(text.size())); }
std::string Text() { return std::string(XText, size_t(XTextLength)); }

std::string Messages(const ScriptedUI& ui) {
  std::string all;
  for (const auto& m : ui.messages) all += (all.empty() ? "" : "\n") + m.text + "|" + m.caption;
  return all;
}

// Every pass after reading as the one-scan pass, with its plain form beside
// it (for references and material lists the product's step-by-step pass).
struct Step {
  const char* name;
  int (*fast)();
  int (*literal)();
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
  std::string text;  // after the last step that ran
  std::string messages;
};

Outcome RunStep(ScriptedUI& ui, const std::string& input, int (*step)()) {
  ui.messages.clear();
  ui.progressTexts.clear();
  Set(input);
  const int result = step();
  return {result, result ? Text() : std::string(), Messages(ui)};
}

// Runs both versions of every step on the same input, each step starting from
// the text both gave for the step before, and reports the first difference.
Outcome CompareSteps(ScriptedUI& ui, std::string text, const std::string& label) {
  for (const Step& step : Steps) {
    const Outcome fast = RunStep(ui, text, step.fast);
    const Outcome slow = RunStep(ui, text, step.literal);
    EXPECT_EQ(fast.result, slow.result) << label << " at step " << step.name << "\n" << slow.messages;
    EXPECT_EQ(fast.messages, slow.messages) << label << " at step " << step.name;
    if (fast.text != slow.text) {
      size_t at = 0;
      while (at < fast.text.size() && at < slow.text.size() && fast.text[at] == slow.text[at]) ++at;
      ADD_FAILURE() << label << " at step " << step.name << ": texts differ from " << at
                    << "\ninput:  " << text.substr(0, 3000)
                    << "\nfast:   " << fast.text.substr(at > 60 ? at - 60 : 0, 200)
                    << "\nstep by step: " << slow.text.substr(at > 60 ? at - 60 : 0, 200);
      return slow;
    }
    if (!slow.result || fast.result != slow.result) return slow;
    text = slow.text;
  }
  return {1, text, ""};
}

// Every pass after reading, one-scan passes only.
int FastSteps() {
  for (const Step& step : Steps) {
    if (!step.fast()) return 0;
  }
  return 1;
}

// ---- X-like texts at random ---------------------------------------------------

// Small X files with the shapes the passes have to get right: named and
// unnamed objects, references before and after their definitions, to
// themselves and to each other, names defined twice or in different case,
// nested objects, templates, comments holding keywords, words that almost
// are keywords, doubled separators and counts that overrun their data.
class XLikeText {
 public:
  explicit XLikeText(uint32_t seed) : rng_(seed) {}

  std::string Make() {
    std::string s = Chance(50) ? "xof 0302txt 0064\n" : "xof 0303txt 0032\r\n";
    for (int n = 2 + Pick(5); n > 0; --n) s += TopObject();
    return s;
  }

 private:
  int Pick(int n) { return int(rng_() % uint32_t(n)); }
  bool Chance(int percent) { return Pick(100) < percent; }
  template <size_t N>
  const char* From(const char* const (&list)[N]) {
    return list[Pick(int(N))];
  }

  std::string Space() { return From({"", " ", "\n", "\r\n ", "\t", "  "}); }
  std::string Close() { return Chance(1) ? "" : Space() + "}" + Space(); }
  std::string Name() {
    return From({"red", "Red", "box", "Hull", "mat_1", "m2", "MyMesh", "Mesh_2", "x", "templateA"});
  }
  std::string Number() { return From({"0", "1", "2", "-1", "0.5", "1.000000", "-0.25", "3e1", "7"}); }
  std::string Items(int count, const char* last = ";") {
    std::string s;
    for (int i = 0; i < count; ++i)
      s += Number() + (i + 1 < count ? From({";", ";", ",", ";;", "; "}) : last);
    return s;
  }
  // A keyword as files write it, or now and then a word that is not one.
  std::string Keyword(const std::string& word) {
    if (Chance(6)) return From({"My", "_", "3", "x"}) + word + " ";
    if (Chance(4)) return word + "{";
    if (Chance(3)) return Chance(50) ? "MESH " : "material ";
    return word + " ";
  }
  std::string Reference() { return "{" + Space() + Name() + Space() + "}" + Space(); }
  std::string Comment() {
    return std::string(From({"# ", "// ", "#Mesh ", "//template "})) +
           From({"Mesh a {", "Material ;;", "x,y"}) + (Chance(90) ? "\n" : "");
  }
  std::string Header(const std::string& keyword, bool named) {
    return Keyword(keyword) + (named ? Name() + Space() : "") + "{" + Space();
  }

  std::string Material(int depth) {
    std::string s = Header("Material", Chance(70)) + Items(4, ";;") + Space() + Number() + ";" +
                    Items(3, ";;") + Items(3, ";;");
    if (Chance(30)) s += Header("TextureFilename", Chance(20)) + "\"" + Name() + ".bmp\";" + Close();
    if (depth < 3 && Chance(12)) s += Reference();
    if (depth < 2 && Chance(4)) s += Mesh(depth + 1);
    return s + Close();
  }

  std::string Mesh(int depth) {
    const int vertices = Pick(5), faces = Pick(4);
    const int stated = Chance(12) ? vertices + 1 + Pick(40) : vertices;
    std::string s = Header("Mesh", Chance(60)) + std::to_string(stated) + ";" + Space();
    for (int v = 0; v < vertices; ++v) s += Items(3, v + 1 < vertices ? ";," : ";;") + Space();
    s += std::to_string(faces) + ";";
    for (int f = 0; f < faces; ++f) s += Chance(80) ? "3;0,1,2;," : "4;0;1;2;3;;";
    for (int n = Pick(4); n > 0; --n) s += SubObject(depth, faces);
    return s + Close();
  }

  std::string SubObject(int depth, int faces) {
    switch (Pick(7)) {
      case 0: {
        std::string s =
            Header("MeshMaterialList", Chance(10)) + "1;" + std::to_string(faces) + ";" + Items(faces, ";;");
        for (int m = Pick(3); m > 0; --m) s += Chance(50) ? Reference() : Material(depth + 1);
        return s + Close();
      }
      case 1:
        return Header("MeshNormals", false) + "1;" + Items(3, ";;") + "1;3;0,0,0;;" + Close();
      case 2:
        return Header("MeshTextureCoords", false) + "1;" + Items(2, ";;") + Close();
      case 3:
        return Material(depth + 1);
      case 4:
        return Reference();
      case 5:
        return depth < 2 ? Mesh(depth + 1) : Comment();
      default:
        return Comment();
    }
  }

  std::string Frame(int depth) {
    std::string s = Keyword("Frame") + Name() + Space() + "{" + Space();
    if (Chance(50)) s += "FrameTransformMatrix {" + Items(16, ";;") + "}";
    for (int n = Pick(3); n > 0; --n) {
      s += depth < 3 && Chance(30) ? Frame(depth + 1) : (Chance(50) ? Mesh(depth + 1) : Reference());
    }
    return s + Close();
  }

  std::string Template() {
    std::string s = Keyword("template") + Name() + Space() + "{" + Space() +
                    "<3D82AB44-62DA-11CF-AB39-0020AF71E433>" + Space() + "DWORD nVertices;" + Space();
    if (Chance(10)) s += "[Material <3D82AB4D-62DA-11CF-AB39-0020AF71E433>]";
    if (Chance(30)) s += "[...]";
    return s + Close();
  }

  std::string TopObject() {
    switch (Pick(10)) {
      case 0:
        return Template();
      case 1:
      case 2:
        return Material(0);
      case 3:
      case 4:
      case 5:
        return Mesh(0);
      case 6:
      case 7:
        return Frame(0);
      case 8:
        return Comment();
      default:
        return Chance(50) ? Reference() : std::string(From({"Header {1;0;1;}", "Mesh;", "mesh ", "} "}));
    }
  }

  std::mt19937 rng_;
};

// The shapes the random texts must reach, written out once each.
const char* const Shapes[] = {
    // a reference to a material before and after its definition, and twice
    "xof 0302txt 0064\nMesh {0;0; MeshMaterialList {1;0;; {red}}}\nMaterial red {1;0;0;1;;5;1;1;1;;0;0;0;;}\n"
    "Mesh m {3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;;; MeshMaterialList {1;1;0;; {red} {red}}}",
    // an object that refers to itself, directly and through another
    "xof 0302txt 0064\nMaterial a {1;1;1;1;;0;0;0;0;;0;0;0;; {a}}\nMesh {0;0;}",
    "xof 0302txt 0064\nMaterial a {1;1;1;1;;0;0;0;0;;0;0;0;; {b}}\nMaterial b {0;0;0;1;;0;0;0;0;;0;0;0;; "
    "{a}}\nMesh {0;0; {b}}",
    // an object whose body is just a reference, and one whose body is its own name
    "xof 0302txt 0064\nMaterial r {1;0;0;1;;0;0;0;0;;0;0;0;;}\nMaterial q {r}\nMesh {0;0; {q} {q}}",
    "xof 0302txt 0064\nMaterial q {q}\nMesh {0;0;}",
    // two definitions of one name (in different case), the first one wins
    "xof 0302txt 0064\nMaterial Red {1;0;0;1;;0;0;0;0;;0;0;0;;}\nMaterial red {0;1;0;1;;0;0;0;0;;0;0;0;;}\n"
    "Mesh {0;0; {RED}}",
    // a named material inside a mesh, used by a later mesh; nested named objects
    "xof 0302txt 0064\nMesh one {0;0; MeshMaterialList {1;0;; Material inner {0;0;1;1;;0;0;0;0;;0;0;0;; "
    "TextureFilename tex {\"a b.bmp\";}}}}\nMesh two {0;0; {inner}}\nFrame f {Frame g {Mesh {0;0;}} {two}}",
    // a mesh inside a mesh that lacks a list, whose vertex count runs past its data
    "xof 0302txt 0064\nMesh inner {9; 1;2;3;, 4;5;6;; 1; 3;0,1,2;;}\nMesh outer {1; 0;0;0;; 2; 3;0,0,0;, "
    "3;0,0,0;; {inner} 5;6;7; Material {0.5;0.5;0.5;1;;0;0;0;0;;0;0;0;;}}",
    // a copied material that holds a mesh
    "xof 0302txt 0064\nMesh outer {0;1; Material holder {1;1;1;1;;0;0;0;0;;0;0;0;; Mesh "
    "{1;1;2;3;;1;3;0,0,0;;}}}",
    // a name that holds a closing brace, and a token inside a name
    "xof 0302txt 0064\nMesh {1;} Material a}b {2;} Mesh {0;0; {a}b}}",
    "xof 0302txt 0064\nMaterial a Material b {1;1;1;1;;0;0;0;0;;0;0;0;;}\nMesh {0;0; {b} {aMaterial b}}",
};

class XTextPassesTest : public ::testing::Test {
 protected:
  void SetUp() override { ProgressHide(); }
  ScopedScriptedUI scripted;
};

TEST_F(XTextPassesTest, ShapesAndRandomTextsGiveTheStepByStepText) {
  int succeeded = 0, overflowed = 0, unbalanced = 0, other = 0;
  auto tally = [&](const Outcome& o) {
    if (o.result) {
      ++succeeded;
    } else if (o.messages == OutOfMemory) {
      ++overflowed;
    } else if (o.messages == Unbalanced) {
      ++unbalanced;
    } else {
      ++other;
    }
  };
  for (const char* shape : Shapes) tally(CompareSteps(scripted.ui, shape, shape));
  for (uint32_t seed = 1; seed <= 400; ++seed) {
    const std::string text = XLikeText(seed).Make();
    tally(CompareSteps(scripted.ui, text, "seed " + std::to_string(seed)));
    if (HasFailure()) break;
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
  for (int stated = 0; stated < 1200; stated += 7) {
    const std::string text = "xof 0302txt 0064\nMesh a {" + std::to_string(stated) + ";1;2;3;;" + faces(2) +
                             "}\nMesh b {1;4;5;6;;" + faces(150) +
                             " {a} Material {0.5;0.5;0.5;1;;0;0;0;;0;0;0;;} 7;8;}\nMesh c {1;7;7;7;;" +
                             faces(90) + " {b} 9;}\nFrame {{c}} Mesh {1;0;0;0;;1;3;0,0,0;;}";
    succeeded += CompareSteps(scripted.ui, text, "stated " + std::to_string(stated)).result;
    if (HasFailure()) break;
  }
  EXPECT_EQ(succeeded, 172);
}

TEST_F(XTextPassesTest, CorpusFilesGiveTheStepByStepText) {
  const std::string folder = std::string(VORNIX_CORPUS_DIR) + "/x/";
  DIR* dir = opendir(folder.c_str());
  ASSERT_NE(dir, nullptr) << folder;
  int files = 0, canonical = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() < 2 || (name.substr(name.size() - 2) != ".x" && name.substr(name.size() - 2) != ".X"))
      continue;
    const std::string path = folder + name;
    ++files;
    scripted.ui.messages.clear();
    const int whole = MakeCanonicalXText(path.c_str());
    const Outcome made{whole, whole ? Text() : "", Messages(scripted.ui)};
    scripted.ui.messages.clear();
    if (!ReadXFile(path.c_str())) {
      EXPECT_EQ(whole, 0) << name;
      EXPECT_EQ(made.messages, Messages(scripted.ui)) << name;
      continue;
    }
    // The passes print Path; the whole import prints the file's path.
    const Outcome steps = CompareSteps(scripted.ui, Text(), name);
    EXPECT_EQ(made.result, steps.result) << name;
    if (made.result && steps.result) {
      ++canonical;
      EXPECT_TRUE(made.text == steps.text) << name;
    }
  }
  closedir(dir);
  EXPECT_GE(files, 20);
  EXPECT_GE(canonical, 15);
}

// ---- Reading the file -----------------------------------------------------------

TEST_F(XTextPassesTest, FileHeadersAndFileErrorsGiveTheirMessages) {
  const std::string path = TempPath("header.x");
  const std::string binary = path +
                             " is a valid X file but is in binary format!\nUse the CONVX.EXE converter from "
                             "the DirectX SDK\nto convert " +
                             path + " to an ascii text X file:\n\nCONVX -t " + path;
  const struct {
    const char* content;
    std::string message;  // empty when the file is accepted
  } cases[] = {
      {"xof 0302txt 0064\n", ""},
      {"XoF 0303TxT 0032", ""},
      {"xof 0302bin 0064", binary},
      {"xof 0302BIN 0064", binary},
      {"xof 0303bzip0032", path + " is not a valid ascii text X file!"},
      {"xof 0302tx", path + " is not a valid ascii text X file!"},
      {"xof", path + " is not a valid ascii text X file!"},
      {"xo", path + " is not a valid X file!"},
      {"", path + " is not a valid X file!"},
      {"xog 0302txt 0064", path + " is not a valid X file!"},
  };
  for (const auto& c : cases) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.content;
    scripted.ui.messages.clear();
    EXPECT_EQ(ReadXFile(path.c_str()), c.message.empty() ? 1 : 0) << c.content;
    EXPECT_EQ(Messages(scripted.ui), c.message.empty() ? "" : c.message + "|Error") << c.content;
    if (c.message.empty()) {
      EXPECT_EQ(Text(), c.content);
    }
  }
  std::remove(path.c_str());
  scripted.ui.messages.clear();
  EXPECT_EQ(ReadXFile(path.c_str()), 0);
  EXPECT_EQ(Messages(scripted.ui), "Could not open X file: " + path + "|Error");
}

TEST_F(XTextPassesTest, AFileBeyondTheBufferIsRefusedBeforeReading) {
  const std::string path = TempPath("large.x");
  for (const int size : {MaxXText, MaxXText + 1}) {
    { std::ofstream(path, std::ios::binary | std::ios::trunc) << "xof 0302txt 0064"; }
    ASSERT_EQ(truncate(path.c_str(), size), 0);  // the rest reads as zero bytes
    Set("before");
    scripted.ui.messages.clear();
    const int result = ReadXFile(path.c_str());
    if (size == MaxXText) {
      EXPECT_EQ(result, 1);
      EXPECT_EQ(XTextLength, MaxXText);
      EXPECT_EQ(Messages(scripted.ui), "");
    } else {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(Text(), "before");
      EXPECT_EQ(Messages(scripted.ui),
                path + " is too large to import: an X file may hold at most 20000000 characters.|Error");
    }
  }
  std::remove(path.c_str());
}

TEST_F(XTextPassesTest, TheWholeImportShowsEveryStepInOrder) {
  const std::string path = TempPath("steps.x");
  std::ofstream(path, std::ios::binary | std::ios::trunc) << "xof 0302txt 0064\nMesh {1;0;0;0;;1;3;0,0,0;;}";
  ASSERT_EQ(MakeCanonicalXText(path.c_str()), 1);
  std::remove(path.c_str());
  std::vector<std::string> shown;
  for (const std::string& t : scripted.ui.progressTexts) {
    const std::string line = t.rfind("1043:", 0) == 0 ? t.substr(5) : "";
    if (!line.empty() && (shown.empty() || shown.back() != line)) shown.push_back(line);
  }
  const std::vector<std::string> expected = {
      "Opening file...",           "Loading file...",       "Determining file type...",
      "Creating better tokens...", "Removing garbage...",   "Removing templates...",
      "Checking for Mesh...",      "Adjusting file...",     "Resolving references...",
      "Removing token names...",   "Deleting obsoletes...", "Verifying MeshMaterialList..."};
  EXPECT_EQ(shown, expected);
  EXPECT_EQ(scripted.ui.progressCreated, 1);
  EXPECT_FALSE(scripted.ui.progressOpen);
  EXPECT_EQ(Text(),
            "__qlt_token_mesh:{1;0;0;0;1;3;0;0;0;__qlt_token_meshmateriallist:{1;1;0;__qlt_token_material:"
            "{1.0;1.0;1.0;1.000000;0;0.000000;0.000000;0.000000;0.000000;0.000000;0.000000;}}}");
}

// ---- Single steps -------------------------------------------------------------

TEST_F(XTextPassesTest, KeywordsCountOnlyAfterNonWordCharacters) {
  const struct {
    const char* text;
    const char* tokens;
  } cases[] = {
      {"Mesh Mesh x", "__qlt_token_mesh:__qlt_token_mesh:x"},
      {"MyMesh _Mesh 3Mesh Mesh{ mesh MESH ", "MyMesh _Mesh 3Mesh Mesh{ mesh MESH "},
      {":Mesh {Material ,template ", ":__qlt_token_mesh:{__qlt_token_material:,__qlt_token_template:"},
      {"MeshMaterialList MeshNormals MeshTextureCoords TextureFilename ",
       "__qlt_token_meshmateriallist:__qlt_token_meshnormals:__qlt_token_meshtexturecoords:"
       "__qlt_token_texturefilename:"},
      {"Mesh", "Mesh"},
  };
  for (const auto& c : cases) {
    Set(c.text);
    ASSERT_EQ(ReplaceKeywords(Path), 1);
    EXPECT_EQ(Text(), c.tokens) << c.text;
  }
}

TEST_F(XTextPassesTest, GarbageRemovalLeavesUniformSeparators) {
  const struct {
    const char* text;
    const char* kept;
  } cases[] = {
      {"3;0,1,2;,\r\n", "3;0;1;2;"}, {"1;;2;,3; ;4", "1;2;3;;4"},  // the character before is the input's
      {"a// x;y\nb#c\r\nd", "abd"},  {"a/b,#end", "a/b;"},        {";;;,,", ";;"},
  };
  for (const auto& c : cases) {
    Set(c.text);
    RemoveGarbage(Path);
    EXPECT_EQ(Text(), c.kept) << c.text;
  }
}

// Texts that stop in one of the later passes, with one message each.
TEST_F(XTextPassesTest, FailingTextsStopWithOneMessage) {
  const std::string templates =
      "t.x: Error in templates! - Check them. Also, you can even leave them out as they aren't used...|Fatal "
      "Error";
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      {"xof 0302txt 0064 template T { <1> Mesh x; } Mesh {0;0;}", templates},
      {"xof 0302txt 0064 template T { <1> }\nMesh{0;0;} mesh {0;0;}",
       "t.x: Mesh definition not found!|Fatal Error - Fix the X File!"},
      {"xof 0302txt 0064 Mesh {0;0;} template T", Unbalanced},
      {"xof 0302txt 0064 Mesh {0;0;} template T {", Unbalanced},
      {"xof 0302txt 0064 Mesh {0;0; Material {1;}", Unbalanced},
      {"xof 0302txt 0064 Mesh {0;0;} } Material m", Unbalanced},
      {"xof 0302txt 0064 Material a {{a}} Mesh {0;0;}", OutOfMemory},
      {"xof 0302txt 0064 Mesh {0;2000000000;}", OutOfMemory},
  };
  for (const auto& c : cases) {
    scripted.ui.messages.clear();
    Set(c.text);
    EXPECT_EQ(FastSteps(), 0) << c.text;
    EXPECT_EQ(Messages(scripted.ui), c.message) << c.text;
  }
}

TEST_F(XTextPassesTest, GrowthBeyondTheBufferFailsInEveryGrowingStep) {
  // Keywords: one too many for the room left.
  std::string text(MaxXText - 12, ' ');
  text.replace(100, 5, "Mesh ");
  Set(text);
  EXPECT_EQ(ReplaceKeywords(Path), 1);
  text.replace(200, 5, "Mesh ");
  Set(text);
  scripted.ui.messages.clear();
  EXPECT_EQ(ReplaceKeywords(Path), 0);
  EXPECT_EQ(Messages(scripted.ui), OutOfMemory);

  // References: two copies that fill the buffer exactly, and one character more.
  const std::string object = "__qlt_token_material:r{" + std::string(6666666 - 24, 'p') + "}";
  for (const std::string tail : {"xx", "xxx"}) {
    for (int (*step)(const char*) : {ResolveReferences, ResolveReferencesStepByStep}) {
      Set(object + "{r}{r}" + tail);
      scripted.ui.messages.clear();
      const bool fits = tail.size() == 2;
      ASSERT_EQ(step(Path), fits ? 1 : 0);
      EXPECT_EQ(Messages(scripted.ui), fits ? "" : OutOfMemory);
      if (fits) {
        EXPECT_TRUE(Text() == object + object + object + tail);
      }
    }
  }

  // Material lists: a list that fills the buffer exactly, and one character more.
  const std::string head = "__qlt_token_mesh:{0;9000000;";
  const std::string list = "__qlt_token_meshmateriallist:{1;9000000;";
  const std::string white =
      "__qlt_token_material:{1.0;1.0;1.0;1.000000;0;0.000000;0.000000;0.000000;0.000000;0.000000;0.000000;}";
  const size_t fixed = head.size() + 1 + list.size() + 2 * 9000000 + white.size() + 1;
  for (const size_t padding : {MaxXText - fixed, MaxXText - fixed + 1}) {
    const std::string mesh = head + std::string(padding, 'p') + "}";
    for (int (*step)(const char*) : {VerifyMaterialLists, VerifyMaterialListsStepByStep}) {
      Set(mesh);
      scripted.ui.messages.clear();
      const bool fits = padding == MaxXText - fixed;
      ASSERT_EQ(step(Path), fits ? 1 : 0);
      EXPECT_EQ(Messages(scripted.ui), fits ? "" : OutOfMemory);
      if (fits) {
        EXPECT_EQ(XTextLength, MaxXText);
        EXPECT_EQ(std::string(XText + XTextLength - white.size() - 2, white.size() + 2), white + "}}");
      }
    }
  }
}

TEST_F(XTextPassesTest, MeshesWithoutAListGetOneWithTheirFirstMaterialOrWhite) {
  const std::string white =
      "__qlt_token_material:{1.0;1.0;1.0;1.000000;0;0.000000;0.000000;0.000000;0.000000;0.000000;0.000000;}";
  const std::string blue =
      "__qlt_token_material:{0;0;1;1;0;0;0;0;0;0;0;__qlt_token_texturefilename:{\"a.bmp\";}}";
  const std::string green = "__qlt_token_material:{0;1;0;1;0;0;0;0;0;0;0;}";
  const std::string quad = "__qlt_token_mesh:{4;0;0;0;1;0;0;1;1;0;0;1;0;2;3;0;1;2;3;0;2;3;";
  const std::string listed = "__qlt_token_mesh:{0;0;__qlt_token_meshmateriallist:{1;0;" + green + "}}";
  const struct {
    std::string text;
    std::string canonical;
  } cases[] = {
      {quad + "}", quad + "__qlt_token_meshmateriallist:{1;2;0;0;" + white + "}}"},
      {quad + blue + green + "}",
       quad + blue + green + "__qlt_token_meshmateriallist:{1;2;0;0;" + blue + "}}"},
      {"__qlt_token_mesh:{-5;", "__qlt_token_mesh:{-5;"},  // never closed: refused below
      {listed, listed},
      {"__qlt_token_mesh:{0;-3;}",
       "__qlt_token_mesh:{0;-3;__qlt_token_meshmateriallist:{1;-3;" + white + "}}"},
      {"__qlt_token_mesh:{2;1;2;3;}",
       "__qlt_token_mesh:{2;1;2;3;__qlt_token_meshmateriallist:{1;0;" + white + "}}"},
      // only the first 255 characters of an item count
      {"__qlt_token_mesh:{" + std::string(300, '0') + "1;5;}",
       "__qlt_token_mesh:{" + std::string(300, '0') + "1;5;__qlt_token_meshmateriallist:{1;5;0;0;0;0;0;" +
           white + "}}"},
  };
  for (const auto& c : cases) {
    Set(c.text);
    scripted.ui.messages.clear();
    const int result = VerifyMaterialLists(Path);
    if (c.text.back() != '}') {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(Messages(scripted.ui), Unbalanced);
      continue;
    }
    EXPECT_EQ(result, 1) << c.text;
    EXPECT_EQ(Text(), c.canonical);
  }
}

TEST_F(XTextPassesTest, ReferencesAfterTheirDefinitionBecomeCopies) {
  const struct {
    const char* text;
    const char* resolved;
  } cases[] = {
      {"__qlt_token_material:r{1;}__qlt_token_mesh:{{r}{s}}__qlt_token_material:s{2;}",
       "__qlt_token_material:r{1;}__qlt_token_mesh:{__qlt_token_material:r{1;}{s}}__qlt_token_material:s{2;"
       "}"},
      {"__qlt_token_mesh:{1;}__qlt_token_material:a}b{2;}{a}b}",
       "__qlt_token_mesh:{1;}__qlt_token_material:a}b{2;}__qlt_token_material:a}b{2;}"},
      {"__qlt_token_material:q{r}", "__qlt_token_material:q{r}"},
  };
  for (const auto& c : cases) {
    Set(c.text);
    ASSERT_EQ(ResolveReferences(Path), 1) << c.text;
    EXPECT_EQ(Text(), c.resolved);
  }
}

// ---- The text operations and number items -------------------------------------------

TEST_F(XTextPassesTest, NumberItemsAreReadWithinTheTextAndSaturated) {
  const std::string longItem = std::string(300, '9') + ";5;";
  Set(longItem);
  int position = 0;
  EXPECT_EQ(ReadXItemInt(position), INT_MAX);
  EXPECT_EQ(position, 301);
  EXPECT_EQ(ReadXItemInt(position), 5);

  Set("-99999999999;1e39;-1e39;nan;inf;0x10;-.5;12abc;7");
  position = 0;
  EXPECT_EQ(ReadXItemInt(position), INT_MIN);
  EXPECT_EQ(ReadXItemFloat(position), FLT_MAX);
  EXPECT_EQ(ReadXItemFloat(position), -FLT_MAX);
  EXPECT_EQ(ReadXItemFloat(position), 0.0f);
  EXPECT_EQ(ReadXItemFloat(position), 0.0f);
  EXPECT_EQ(ReadXItemFloat(position), 0.0f);
  EXPECT_EQ(ReadXItemFloat(position), -0.5f);
  EXPECT_EQ(ReadXItemInt(position), 12);
  EXPECT_EQ(ReadXItemInt(position), 7);  // the rest of the text, no ";" after it
  EXPECT_EQ(position, XTextLength);
  EXPECT_EQ(ReadXItemInt(position), 0);
  EXPECT_EQ(position, XTextLength);

  Set("2;1;2;3;4;5;6;8;");
  EXPECT_EQ(SkipItems(2, 6), 8);
  EXPECT_EQ(SkipItems(2, -4), 1);
  EXPECT_EQ(SkipItems(2, INT_MAX), 0);

  const struct {
    float value;
    int count;
  } counts[] = {{3.9f, 3}, {-3.9f, -3}, {3e9f, INT_MAX}, {-3e9f, INT_MIN}, {NAN, 0}};
  for (const auto& c : counts) EXPECT_EQ(TruncateCount(c.value), c.count) << c.value;
}

TEST_F(XTextPassesTest, TextOperationsStayWithinTheText) {
  Set("abcdef");
  ASSERT_TRUE(TextInsertCopy(3, 1, 4));  // a copy of "bcde" taken before it goes in
  EXPECT_EQ(Text(), "abcbcdedef");
  TextDelete(8, 100);
  EXPECT_EQ(Text(), "abcbcded");
  EXPECT_EQ(TextFind(0, "cd"), 4);
  EXPECT_EQ(TextFindWithin(0, 3, "cd"), -1);
  EXPECT_EQ(TextFind(7, "dx"), -1);
  EXPECT_FALSE(TextMatchAt(7, "de"));
  int open = 0, close = 0;
  Set("x{a{b}c}{");
  EXPECT_TRUE(TextBlockExtent(0, open, close));
  EXPECT_EQ(open, 1);
  EXPECT_EQ(close, 7);
  EXPECT_FALSE(TextBlockExtent(2 + 6, open, close));
  Set(std::string(MaxXText - 1, 'a'));
  EXPECT_FALSE(TextInsert(0, "bb"));
  EXPECT_TRUE(TextInsert(0, "b"));
  EXPECT_EQ(XTextLength, MaxXText);
}

}  // namespace
