// The X importer's text passes. Each pass gives exactly the text of its plain
// form (every position in turn, with deletions and insertions made in place),
// but in one forward scan: a pass that only shrinks the text compacts it in
// place, a pass that grows it writes the new text into the scratch buffer and
// swaps. Why each scan equals the plain form is noted beside it.
#include "formats/x_text_passes.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "formats/file_output.h"
#include "formats/kept_bytes.h"
#include "formats/xtext.h"
#include "platform/ui.h"
#include "render/progress_box.h"
#include "render/qlt.h"

const char* const XKeywords[XTokenCount] = {"template ",         "Material ",    "TextureFilename ",  "Mesh ",
                                            "MeshMaterialList ", "MeshNormals ", "MeshTextureCoords "};
const char* const XTokens[XTokenCount] = {"__qlt_token_template:",         "__qlt_token_material:",
                                          "__qlt_token_texturefilename:",  "__qlt_token_mesh:",
                                          "__qlt_token_meshmateriallist:", "__qlt_token_meshnormals:",
                                          "__qlt_token_meshtexturecoords:"};
const char* const XTokenPrefix = "__qlt_token_";

const char* const XOutOfMemoryText = "Out of memory! - Use a smaller X file!";
const char* const XUnbalancedText = "%s: An object's braces are not balanced - Fix the X File!";
const char* const XTemplateErrorText =
    "%s: Error in templates! - Check them. Also, you can even leave them out as they aren't used...";
const char* const XNoMeshText = "%s: Mesh definition not found!";
const char* const XFatalCaption = "Fatal Error";
const char* const XFixFileCaption = "Fatal Error - Fix the X File!";

namespace {

constexpr int PrefixLength = 12;
constexpr int ShortestToken = 17;  // "__qlt_token_mesh:"

const char* const FileTypeText = "Determining file type...";
const char* const TokensText = "Creating better tokens...";
const char* const GarbageText = "Removing garbage...";
const char* const TemplatesText = "Removing templates...";
const char* const MeshCheckText = "Checking for Mesh...";
const char* const AdjustingText = "Adjusting file...";
const char* const ReferencesText = "Resolving references...";
const char* const TokenNamesText = "Removing token names...";
const char* const ObsoletesText = "Deleting obsoletes...";
const char* const MaterialListsText = "Verifying MeshMaterialList...";

struct TokenLengths {
  int keyword[XTokenCount];
  int token[XTokenCount];
  TokenLengths() {
    for (int k = 0; k < XTokenCount; ++k) {
      keyword[k] = int(std::strlen(XKeywords[k]));
      token[k] = int(std::strlen(XTokens[k]));
    }
  }
};
const TokenLengths lengths;

// ---- Messages ---------------------------------------------------------------

int FailUnbalanced(const char* path) {
  ShowPathMessage(XUnbalancedText, path, XFixFileCaption);
  return 0;
}

int FailOutOfMemory() {
  MessageBoxSafe(XOutOfMemoryText, XFatalCaption, MB_OK);
  return 0;
}

// Names the step at once: the box leaves its lines alone when a percentage
// equals the last one shown, which the previous step may have ended on.
PercentReporter BeginStep(const char* path, const char* text, int total) {
  ProgressUpdate(path, text, -1);
  return PercentReporter(path, text, total);
}

// ---- Scanning helpers -------------------------------------------------------

// The token that starts at s and fits before end, else -1.
int TokenAt(const char* s, const char* end) {
  if (end - s < ShortestToken || std::memcmp(s, XTokenPrefix, PrefixLength) != 0) return -1;
  for (int k = 0; k < XTokenCount; ++k) {
    const int length = lengths.token[k];
    if (end - s >= length &&
        std::memcmp(s + PrefixLength, XTokens[k] + PrefixLength, size_t(length - PrefixLength)) == 0) {
      return k;
    }
  }
  return -1;
}

// How often c occurs in from .. end-1.
int64_t CountChar(const char* from, const char* end, char c) {
  int64_t count = 0;
#if defined(__SSE2__)
  const __m128i vc = _mm_set1_epi8(c), zero = _mm_setzero_si128();
  while (end - from >= 16) {
    // Byte counters, summed before any can pass 255.
    __m128i counters = zero;
    for (int i = 0; i < 255 && end - from >= 16; ++i, from += 16) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
      counters = _mm_sub_epi8(counters, _mm_cmpeq_epi8(x, vc));
    }
    const __m128i sums = _mm_sad_epu8(counters, zero);
    count += _mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4);
  }
#endif
  for (; from < end; ++from) count += *from == c;
  return count;
}

const char* FindChar(const char* from, const char* end, char c) {
  if (from >= end) return end;
  const void* hit = std::memchr(from, c, size_t(end - from));
  return hit ? static_cast<const char*>(hit) : end;
}

// The next token at or after from (end when none); its kind in `kind`.
const char* FindToken(const char* from, const char* end, int& kind) {
  for (const char* p = FindChar(from, end, '_'); p < end; p = FindChar(p + 1, end, '_')) {
    kind = TokenAt(p, end);
    if (kind >= 0) return p;
  }
  kind = -1;
  return end;
}

// The next token prefix at or after from (end when none).
const char* FindPrefix(const char* from, const char* end) {
  for (const char* p = FindChar(from, end, '_'); p < end; p = FindChar(p + 1, end, '_')) {
    if (end - p >= PrefixLength && std::memcmp(p, XTokenPrefix, PrefixLength) == 0) return p;
  }
  return end;
}

// The next occurrence of one token kind at or after from (end when none).
const char* FindTokenOf(const char* from, const char* end, int kind) {
  const int length = lengths.token[kind];
  for (const char* p = FindChar(from, end, '_'); p < end; p = FindChar(p + 1, end, '_')) {
    if (end - p >= length && std::memcmp(p, XTokens[kind], size_t(length)) == 0) return p;
  }
  return end;
}

// The "}" that closes the "{" at open, or end when it is never closed.
const char* MatchingClose(const char* open, const char* end) {
  int64_t depth = 0;
  for (const char* p = FindAny(open, end, '{', '}', '}'); p < end; p = FindAny(p + 1, end, '{', '}', '}')) {
    if (*p == '{') {
      ++depth;
    } else if (--depth == 0) {
      return p;
    }
  }
  return end;
}

bool IsWordCharacter(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

int ItemTextToInt(const char* item) {
  const long value = std::strtol(item, nullptr, 10);
  return value > INT_MAX ? INT_MAX : (value < INT_MIN ? INT_MIN : int(value));
}

// Every "{" has its "}" (a "}" with nothing open is harmless).
bool BracesBalanced() {
  int64_t depth = 0;
  const char* end = XText + XTextLength;
  for (const char* p = FindAny(XText, end, '{', '}', '}'); p < end; p = FindAny(p + 1, end, '{', '}', '}')) {
    if (*p == '{') {
      ++depth;
    } else if (depth > 0) {
      --depth;
    }
  }
  return depth == 0;
}

// True when some token's name (the text after its colon up to the next "{")
// holds a "}"; the linear reference resolution needs names without one.
bool SomeNameHoldsCloseBrace() {
  const char* end = XText + XTextLength;
  bool inName = false;
  for (const char* p = FindAny(XText, end, '{', '}', '_'); p < end; p = FindAny(p + 1, end, '{', '}', '_')) {
    const char c = *p;
    if (c == '{') {
      inName = false;
    } else if (c == '}') {
      if (inName) return true;
    } else if (c == '_') {
      const int kind = TokenAt(p, end);
      if (kind >= 0) {
        p += lengths.token[kind] - 1;
        inName = true;
      }
    }
  }
  return false;
}

// ---- Reference resolution in one scan -----------------------------------------
//
// The output is written front to back and never changes once written; the
// unprocessed rest is a stack of segments: the rest of the input at the
// bottom, above it the copies still being read (they point into the output,
// whose text is stable). A named object becomes a rule when the scan passes
// its first "{" (only then is its name, the text up to that brace, final);
// the first object of a name wins, because in the plain form the first
// object has replaced every later reference before a second one is reached. The
// rule is pending until the output passes the brace that closes it; its
// content is then the output from its token through that brace. A reference
// to an active rule is replaced by a segment of its content and the scan
// goes on at the same place, so the copy is rescanned with the rules active
// by then, as the plain form's scan runs through each inserted copy. A
// reference to a pending rule lies inside its own object: the plain form
// copies that object into itself without end, which can only overflow.
class ReferenceResolver {
 public:
  explicit ReferenceResolver(const char* path)
      : path_(path),
        input_(XText),
        inputLength_(XTextLength),
        out_(XTextScratch()),
        remaining_(XTextLength),
        progress_(BeginStep(path, ReferencesText, XTextLength)) {}

  int Run() {
    segments_.push_back({input_, input_ + inputLength_});
    while (!segments_.empty()) {
      progress_.At(int(segments_.front().cur - input_));
      Segment& top = segments_.back();
      if (top.cur == top.end) {
        segments_.pop_back();
        continue;
      }
      CopyPlainRun(top);
      if (top.cur == top.end) continue;
      if (*top.cur == '_') {
        TakeUnderscore(top);
      } else if (*top.cur == '}') {
        TakeClose(top);
      } else if (!TakeOpen()) {
        return 0;
      }
    }
    // A token that no "{" follows, or an object never closed.
    if (!pendingNames_.empty() || !pendingRules_.empty()) return FailUnbalanced(path_);
    SwapXText(outLength_);
    return 1;
  }

 private:
  struct Segment {
    const char* cur;
    const char* end;
  };
  struct Rule {
    int nameBegin;  // in the output
    int nameLength;
    uint64_t hash;
    int contentBegin;
    int contentEnd;  // the closing brace, once active
    bool active;
  };
  struct PendingName {
    int token;
    int nameBegin;
    uint64_t hash;
  };
  struct PendingRule {
    int rule;
    int64_t depth;  // the brace depth outside the object
  };

  void Append(Segment& top, int count) {
    std::memcpy(out_ + outLength_, top.cur, size_t(count));
    outLength_ += count;
    remaining_ -= count;
    top.cur += count;
  }

  void CopyPlainRun(Segment& top) { Append(top, int(FindAny(top.cur, top.end, '_', '{', '}') - top.cur)); }

  void TakeUnderscore(Segment& top) {
    const int kind = TokenAt(top.cur, top.end);
    if (kind < 0) {
      Append(top, 1);
      return;
    }
    const int length = lengths.token[kind];
    pendingNames_.push_back({outLength_, outLength_ + length, 0});
    Append(top, length);
  }

  void TakeClose(Segment& top) {
    Append(top, 1);
    if (depth_ == 0) return;
    --depth_;
    while (!pendingRules_.empty() && pendingRules_.back().depth == depth_) {
      Rule& rule = rules_[size_t(pendingRules_.back().rule)];
      rule.contentEnd = outLength_ - 1;
      rule.active = true;
      pendingRules_.pop_back();
    }
  }

  // At a "{": a reference to an active rule is expanded; otherwise the brace
  // ends the names of the tokens before it and is written.
  int TakeOpen() {
    Segment& top = segments_.back();
    const char* close = FindAny(top.cur + 1, top.end, '{', '}', '}');
    const bool isPattern = close < top.end && *close == '}';
    const char* name = top.cur + 1;
    const int nameLength = int(close - name);
    // Object bodies are candidates too; most are far longer than any name.
    const bool candidate = isPattern && nameLength <= longestName_;
    const uint64_t hash = candidate ? Hash(name, nameLength) : 0;
    const int found = candidate ? Find(name, nameLength, hash) : -1;
    if (found >= 0 && rules_[size_t(found)].active) return Expand(found, int(close + 1 - top.cur));
    RegisterPendingNames();
    // A pending rule, perhaps one whose name ends at this very brace.
    if (isPattern && nameLength <= longestName_ && Find(name, nameLength, Hash(name, nameLength)) >= 0) {
      return FailOutOfMemory();
    }
    Append(top, 1);
    ++depth_;
    return 1;
  }

  int Expand(int ruleIndex, int patternLength) {
    const Rule& rule = rules_[size_t(ruleIndex)];
    const int contentLength = rule.contentEnd - rule.contentBegin + 1;
    if (outLength_ + remaining_ - patternLength + contentLength > MaxXText) return FailOutOfMemory();
    remaining_ += contentLength - patternLength;
    Segment& top = segments_.back();
    top.cur += patternLength;
    // The input stays at the bottom, so that progress can be read from it.
    if (top.cur == top.end && segments_.size() > 1) segments_.pop_back();
    const char* content = out_ + rule.contentBegin;
    segments_.push_back({content, content + contentLength});
    return 1;
  }

  // The names all end here, each a suffix of the one before it (a name may
  // hold tokens), so one backward pass hashes them all.
  void RegisterPendingNames() {
    uint64_t hash = 0;
    int at = outLength_;
    for (auto pending = pendingNames_.rbegin(); pending != pendingNames_.rend(); ++pending) {
      while (at > pending->nameBegin) hash = HashStep(hash, out_[--at]);
      pending->hash = hash;
    }
    for (const PendingName& pending : pendingNames_) {
      const int nameLength = outLength_ - pending.nameBegin;
      if (nameLength == 0) continue;
      longestName_ = std::max(longestName_, nameLength);
      if (Find(out_ + pending.nameBegin, nameLength, pending.hash) >= 0) continue;
      const int index = int(rules_.size());
      rules_.push_back({pending.nameBegin, nameLength, pending.hash, pending.token, -1, false});
      Insert(index);
      pendingRules_.push_back({index, depth_});
    }
    pendingNames_.clear();
  }

  // ---- Names: open addressing over rule indexes ----

  // A polynomial hash taken from the last character backwards.
  static uint64_t HashStep(uint64_t hash, char c) { return hash * 1099511628211ull + uint8_t(c) + 1; }
  static uint64_t Hash(const char* name, int length) {
    uint64_t hash = 0;
    for (int i = length - 1; i >= 0; --i) hash = HashStep(hash, name[i]);
    return hash;
  }
  static size_t Slot(uint64_t hash) { return size_t(hash ^ (hash >> 29)); }

  int Find(const char* name, int length, uint64_t hash) const {
    if (slots_.empty()) return -1;
    const size_t mask = slots_.size() - 1;
    for (size_t i = Slot(hash) & mask;; i = (i + 1) & mask) {
      const int index = slots_[i];
      if (index < 0) return -1;
      const Rule& rule = rules_[size_t(index)];
      if (rule.hash == hash && rule.nameLength == length &&
          std::memcmp(out_ + rule.nameBegin, name, size_t(length)) == 0) {
        return index;
      }
    }
  }

  void Insert(int index) {
    if (size_t(index + 1) * 2 > slots_.size()) {
      slots_.assign(slots_.empty() ? 1024 : slots_.size() * 2, -1);
      for (int r = 0; r < index; ++r) Place(r);
    }
    Place(index);
  }

  void Place(int index) {
    const Rule& rule = rules_[size_t(index)];
    const size_t mask = slots_.size() - 1;
    size_t i = Slot(rule.hash) & mask;
    while (slots_[i] >= 0) i = (i + 1) & mask;
    slots_[i] = index;
  }

  const char* path_;
  const char* input_;
  int inputLength_;
  char* out_;
  int outLength_ = 0;
  int64_t remaining_;
  int64_t depth_ = 0;
  int longestName_ = -1;
  std::vector<Segment> segments_;
  std::vector<Rule> rules_;
  std::vector<int> slots_;
  std::vector<PendingName> pendingNames_;
  std::vector<PendingRule> pendingRules_;
  PercentReporter progress_;
};

// ---- Material lists in one scan ----------------------------------------------

// White, opaque, power 0, black specular and emissive.
int FormatDefaultMaterial(char* text, size_t size) {
  return std::snprintf(text, size,
                       "%s{1.0;1.0;1.0;1.000000;0;0.000000;0.000000;0.000000;0.000000;0.000000;0.000000;}",
                       XTokens[TokenMaterial]);
}

// Counts of ";" per block of the text, so that the n-th item after a position
// is found without reading every character in between.
class SemicolonIndex {
 public:
  void Build() {
    const int blocks = (XTextLength + Block - 1) / Block;
    prefix_.assign(size_t(blocks) + 1, 0);
    for (int b = 0; b < blocks; ++b) {
      const int end = std::min(XTextLength, (b + 1) * Block);
      prefix_[size_t(b) + 1] = prefix_[size_t(b)] + CountChar(XText + b * Block, XText + end, ';');
    }
  }

  // Semicolons in 0 .. position-1.
  int64_t CountBefore(int position) const {
    const int block = position / Block;
    return prefix_[size_t(block)] + CountChar(XText + block * Block, XText + position, ';');
  }

  int64_t Count(int first, int end) const { return first >= end ? 0 : CountBefore(end) - CountBefore(first); }

  // The position just after the n-th (n >= 1) ";" in first .. end-1, which
  // must hold at least n of them.
  int After(int first, int end, int64_t n) const {
    for (int p = first; p < end && p < first + Block; ++p) {
      if (XText[p] == ';' && --n == 0) return p + 1;
    }
    const int64_t target = CountBefore(std::min(end, first + Block)) + n;
    // The block holding the target-th ";" of the text.
    const auto above = std::lower_bound(prefix_.begin(), prefix_.end(), target);
    int p = int(above - prefix_.begin() - 1) * Block;
    int64_t count = prefix_[size_t(p / Block)];
    for (;; ++p) {
      if (XText[p] == ';' && ++count == target) return p + 1;
    }
  }

 private:
  static constexpr int Block = 256;
  std::vector<int64_t> prefix_;
};

// The list given to a mesh that has none.
struct ListInsertion {
  int position;  // the mesh's closing brace
  char header[64];
  int headerLength;
  int zeros;          // "0;" once per face
  int materialBegin;  // the copied material in the text, or -1 for the default
  int materialEnd;    // exclusive
  int64_t Length(int defaultLength) const {
    const int64_t material = materialBegin < 0 ? defaultLength : materialEnd - materialBegin;
    return headerLength + 2 * int64_t(zeros) + material + 1;
  }
};

struct ObjectBlock {
  int token;
  int open = -1;
  int close = -1;
};

// Decides and builds the missing material lists. The plain form inserts them
// mesh by mesh; an insertion goes just before its mesh's closing brace, so it
// can be seen only by the meshes nested inside that mesh (examined later).
// Such a mesh reads its face count from the text as it lies then: the
// unchanged text with the lists of its enclosing meshes in place. `levels_`
// holds those lists (outermost first), and Tail reads items across them.
class MaterialListBuilder {
 public:
  explicit MaterialListBuilder(const char* path) : path_(path) {
    defaultLength_ = FormatDefaultMaterial(defaultMaterial_, sizeof defaultMaterial_);
  }

  int Run() {
    if (!FindBlocks()) return FailUnbalanced(path_);
    index_.Build();
    const Outcome outcome = DecideInsertions();
    if (outcome == Failed) return 0;
    if (outcome == StepByStep) return VerifyMaterialListsStepByStep(path_);
    BuildText();
    return 1;
  }

 private:
  // A copied material that holds a mesh brings a mesh the unchanged text does
  // not have (the plain form examines it, and may give it a list, when its
  // scan reaches the copy); such files are left to the step-by-step pass.
  enum Outcome { Decided, Failed, StepByStep };

  struct Level {
    int insertion;
    int restEnd;         // the unchanged text after the list runs to here
    int64_t semicolons;  // in this level and every outer one
  };

  // Every mesh and material block and every list token, in one scan.
  bool FindBlocks() {
    struct Open {
      bool mesh;
      int index;
      int64_t depth;
    };
    std::vector<Open> awaiting, open;
    int64_t depth = 0;
    const char* end = XText + XTextLength;
    for (const char* p = FindAny(XText, end, '_', '{', '}'); p < end;
         p = FindAny(p + 1, end, '_', '{', '}')) {
      if (*p == '_') {
        const int kind = TokenAt(p, end);
        if (kind == TokenMesh || kind == TokenMaterial) {
          std::vector<ObjectBlock>& blocks = kind == TokenMesh ? meshes_ : materials_;
          awaiting.push_back({kind == TokenMesh, int(blocks.size()), 0});
          blocks.push_back({int(p - XText)});
        } else if (kind == TokenMeshMaterialList) {
          lists_.push_back(int(p - XText));
        }
        if (kind >= 0) p += lengths.token[kind] - 1;
      } else if (*p == '{') {
        for (Open& a : awaiting) {
          (a.mesh ? meshes_ : materials_)[size_t(a.index)].open = int(p - XText);
          a.depth = depth;
          open.push_back(a);
        }
        awaiting.clear();
        ++depth;
      } else if (depth > 0) {
        --depth;
        while (!open.empty() && open.back().depth == depth) {
          (open.back().mesh ? meshes_ : materials_)[size_t(open.back().index)].close = int(p - XText);
          if (open.back().mesh) closeOrder_.push_back(open.back().index);
          open.pop_back();
        }
      }
    }
    for (const ObjectBlock& mesh : meshes_) {
      if (mesh.close < 0) return false;
    }
    return true;
  }

  // The first block whose token lies in first .. last, or null.
  static const ObjectBlock* FirstWithin(const std::vector<ObjectBlock>& blocks, int first, int last) {
    const auto at = std::partition_point(blocks.begin(), blocks.end(),
                                         [&](const ObjectBlock& block) { return block.token < first; });
    return at != blocks.end() && at->token <= last ? &*at : nullptr;
  }

  bool HasList(const ObjectBlock& mesh) const {
    const auto at = std::lower_bound(lists_.begin(), lists_.end(), mesh.open);
    return at != lists_.end() && *at <= mesh.close;
  }

  Outcome DecideInsertions() {
    PercentReporter progress = BeginStep(path_, MaterialListsText, XTextLength);
    std::vector<int> nest;  // the meshes enclosing the current one
    int64_t length = XTextLength;
    insertionOf_.assign(meshes_.size(), -1);
    for (size_t m = 0; m < meshes_.size(); ++m) {
      const ObjectBlock& mesh = meshes_[m];
      progress.At(mesh.token);
      while (!nest.empty() && meshes_[size_t(nest.back())].close < mesh.token) {
        if (insertionOf_[size_t(nest.back())] >= 0) levels_.pop_back();
        nest.pop_back();
      }
      nest.push_back(int(m));
      if (HasList(mesh)) continue;
      ListInsertion insertion{};
      insertion.position = mesh.close;
      const int faces = ReadFaceCount(mesh.open + 1);
      insertion.headerLength = std::snprintf(insertion.header, sizeof insertion.header, "%s{1;%d;",
                                             XTokens[TokenMeshMaterialList], faces);
      insertion.zeros = std::max(faces, 0);
      const Outcome material = ChooseMaterial(mesh, insertion);
      if (material != Decided) return material;
      length += insertion.Length(defaultLength_);
      if (length > MaxXText) {
        FailOutOfMemory();
        return Failed;
      }
      insertionOf_[m] = int(insertions_.size());
      insertions_.push_back(insertion);
      PushLevel(int(insertions_.size()) - 1);
    }
    return Decided;
  }

  // The first material within the mesh, or the default one.
  Outcome ChooseMaterial(const ObjectBlock& mesh, ListInsertion& insertion) {
    insertion.materialBegin = -1;
    const ObjectBlock* material = FirstWithin(materials_, mesh.open, mesh.close);
    if (!material) return Decided;
    if (material->close < 0) {
      FailUnbalanced(path_);
      return Failed;
    }
    if (FirstWithin(meshes_, material->token, material->close)) return StepByStep;
    insertion.materialBegin = material->token;
    insertion.materialEnd = material->close + 1;
    return Decided;
  }

  void PushLevel(int insertion) {
    const int position = insertions_[size_t(insertion)].position;
    const int restEnd =
        levels_.empty() ? XTextLength : insertions_[size_t(levels_.back().insertion)].position;
    const int64_t outer = levels_.empty() ? 0 : levels_.back().semicolons;
    levels_.push_back(
        {insertion, restEnd, outer + InsertionSemicolons(insertion) + index_.Count(position, restEnd)});
  }

  int64_t InsertionSemicolons(int insertion) const {
    const ListInsertion& list = insertions_[size_t(insertion)];
    const int64_t material = list.materialBegin < 0
                                 ? CountChar(defaultMaterial_, defaultMaterial_ + defaultLength_, ';')
                                 : index_.Count(list.materialBegin, list.materialEnd);
    return CountChar(list.header, list.header + list.headerLength, ';') + list.zeros + material;
  }

  // ---- Reading items across the lists of the enclosing meshes ----

  // A view of the text a nested mesh sees: the unchanged text from its body
  // up to the innermost enclosing list, then each enclosing level (its list
  // and the unchanged text after it) from the innermost outwards.
  class Tail {
   public:
    Tail(const MaterialListBuilder& builder, int first)
        : b_(builder), level_(int(builder.levels_.size())), piece_(Rest), first_(first) {
      if (PieceLength() == 0) NextPiece();
    }

    int ReadInt() {
      char item[256];
      int length = 0;
      while (length < 255 && !AtEnd()) {
        const char c = Char();
        Advance();
        if (c == ';') {
          item[length] = '\0';
          return ItemTextToInt(item);
        }
        item[length++] = c;
      }
      item[length] = '\0';
      if (!AtEnd()) Skip(1);  // the rest of a long item
      return ItemTextToInt(item);
    }

    // Passes n items (n ";"), or runs to the end when fewer follow.
    void Skip(int64_t n) {
      while (n > 0 && !AtEnd()) {
        if (piece_ == Header && offset_ == 0 && level_ < int(b_.levels_.size())) {
          JumpToLevelOf(n);
          if (AtEnd()) return;
        }
        const int64_t inPiece = PieceSemicolons();
        if (n > inPiece) {
          n -= inPiece;
          NextPiece();
          continue;
        }
        LocateInPiece(n);
        return;
      }
    }

   private:
    enum Piece { Header, Zeros, Material, Close, Rest };

    bool AtEnd() const { return level_ < 0; }

    const ListInsertion& List() const { return b_.insertions_[size_t(b_.levels_[size_t(level_)].insertion)]; }

    // The current piece as bytes (all but the zeros).
    const char* Bytes(int64_t& length) const {
      if (piece_ == Rest) {
        const int first = RestFirst(), end = RestEnd();
        length = end - first;
        return XText + first;
      }
      const ListInsertion& list = List();
      if (piece_ == Header) {
        length = list.headerLength;
        return list.header;
      }
      if (piece_ == Material) {
        if (list.materialBegin < 0) {
          length = b_.defaultLength_;
          return b_.defaultMaterial_;
        }
        length = list.materialEnd - list.materialBegin;
        return XText + list.materialBegin;
      }
      length = 1;
      return "}";
    }

    int RestFirst() const { return level_ == int(b_.levels_.size()) ? first_ : List().position; }
    int RestEnd() const {
      if (level_ == int(b_.levels_.size())) {
        return b_.levels_.empty() ? XTextLength
                                  : b_.insertions_[size_t(b_.levels_.back().insertion)].position;
      }
      return b_.levels_[size_t(level_)].restEnd;
    }
    bool InText() const { return piece_ == Rest || (piece_ == Material && List().materialBegin >= 0); }

    int64_t PieceLength() const {
      if (piece_ == Zeros) return 2 * int64_t(List().zeros);
      int64_t length = 0;
      Bytes(length);
      return length;
    }

    char Char() const {
      if (piece_ == Zeros) return offset_ % 2 == 0 ? '0' : ';';
      int64_t length = 0;
      return Bytes(length)[offset_];
    }

    void Advance() {
      if (++offset_ >= PieceLength()) NextPiece();
    }

    void NextPiece() {
      offset_ = 0;
      if (piece_ == Rest) {
        --level_;
        piece_ = Header;
      } else {
        piece_ = Piece(piece_ + 1);
      }
      if (!AtEnd() && PieceLength() == 0) NextPiece();
    }

    int64_t PieceSemicolons() const {
      if (piece_ == Zeros) return List().zeros - offset_ / 2;
      int64_t length = 0;
      const char* bytes = Bytes(length);
      if (InText()) {
        const int first = int(bytes - XText);
        return b_.index_.Count(first + int(offset_), first + int(length));
      }
      int64_t count = 0;
      for (int64_t i = offset_; i < length; ++i) count += bytes[i] == ';';
      return count;
    }

    void LocateInPiece(int64_t n) {
      if (piece_ == Zeros) {
        offset_ = (offset_ / 2 + n) * 2;
      } else {
        int64_t length = 0;
        const char* bytes = Bytes(length);
        if (InText()) {
          const int first = int(bytes - XText);
          offset_ = b_.index_.After(first + int(offset_), first + int(length), n) - first;
        } else {
          while (n > 0) n -= bytes[offset_++] == ';';
        }
      }
      if (offset_ >= PieceLength()) NextPiece();
    }

    // At the start of a level: moves straight to the level that holds the
    // n-th ";" from here (or to the end), so deep nesting costs no walk.
    void JumpToLevelOf(int64_t& n) {
      const auto& levels = b_.levels_;
      const int64_t here = levels[size_t(level_)].semicolons;
      if (n > here) {
        level_ = -1;
        n = 0;
        return;
      }
      // Levels from here outwards hold `here` semicolons; the target lies in
      // the outermost level j whose own and outer count exceeds here - n.
      int low = 0, high = level_;
      while (low < high) {
        const int mid = (low + high) / 2;
        if (levels[size_t(mid)].semicolons > here - n) {
          high = mid;
        } else {
          low = mid + 1;
        }
      }
      n -= here - levels[size_t(low)].semicolons;
      level_ = low;
      offset_ = 0;
    }

    const MaterialListBuilder& b_;
    int level_;  // levels_.size() for the mesh's own part, -1 at the end
    Piece piece_;
    int first_;
    int64_t offset_ = 0;
  };

  int ReadFaceCount(int first) const {
    Tail tail(*this, first);
    const int vertices = tail.ReadInt();
    tail.Skip(vertices > 0 ? 3 * int64_t(vertices) : 0);
    return tail.ReadInt();
  }

  // ---- The new text ----

  void BuildText() {
    char* out = XTextScratch();
    int length = 0;
    int copied = 0;
    auto put = [&](const char* bytes, int count) {
      std::memcpy(out + length, bytes, size_t(count));
      length += count;
    };
    for (int m : closeOrder_) {
      const int index = insertionOf_[size_t(m)];
      if (index < 0) continue;
      const ListInsertion& list = insertions_[size_t(index)];
      put(XText + copied, list.position - copied);
      copied = list.position;
      put(list.header, list.headerLength);
      for (int z = 0; z < list.zeros; ++z) {
        out[length++] = '0';
        out[length++] = ';';
      }
      if (list.materialBegin < 0) {
        put(defaultMaterial_, defaultLength_);
      } else {
        put(XText + list.materialBegin, list.materialEnd - list.materialBegin);
      }
      put("}", 1);
    }
    put(XText + copied, XTextLength - copied);
    SwapXText(length);
  }

  const char* path_;
  char defaultMaterial_[160];
  int defaultLength_;
  std::vector<ObjectBlock> meshes_;     // in token order
  std::vector<ObjectBlock> materials_;  // in token order
  std::vector<int> lists_;              // list token positions
  std::vector<int> closeOrder_;         // meshes in the order of their closing braces
  std::vector<int> insertionOf_;        // per mesh, -1 when it has a list
  std::vector<ListInsertion> insertions_;
  std::vector<Level> levels_;
  SemicolonIndex index_;
};

}  // namespace

// ---- Reading the file -----------------------------------------------------------

namespace {

bool EqualsIgnoringCase(const char* text, const char* lower) {
  for (; *lower; ++text, ++lower) {
    const char c = (*text >= 'A' && *text <= 'Z') ? char(*text + 32) : *text;
    if (c != *lower) return false;
  }
  return true;
}

int CheckXHeader(const char* path) {
  ProgressUpdate(path, FileTypeText, -1);
  if (XTextLength < 3 || !EqualsIgnoringCase(XText, "xof")) {
    ShowPathMessage("%s is not a valid X file!", path, "Error");
    return 0;
  }
  if (XTextLength >= 11 && EqualsIgnoringCase(XText + 8, "bin")) {
    ShowPathMessage(
        "%s is a valid X file but is in binary format!\nUse the CONVX.EXE converter from the DirectX "
        "SDK\nto convert %s to an ascii text X file:\n\nCONVX -t %s",
        path, "Error");
    return 0;
  }
  if (XTextLength < 11 || !EqualsIgnoringCase(XText + 8, "txt")) {
    ShowPathMessage("%s is not a valid ascii text X file!", path, "Error");
    return 0;
  }
  return 1;
}

}  // namespace

int ReadXFile(const char* path) {
  return ReadFileIntoXText(path, "Could not open X file: %s") && CheckXHeader(path);
}

// ---- From keywords to the objects ------------------------------------------------

namespace {

// The keyword that starts at p and fits before end, else -1 (table order).
int KeywordAt(const char* p, const char* end) {
  for (int k = 0; k < XTokenCount; ++k) {
    const int length = lengths.keyword[k];
    if (end - p >= length && std::memcmp(p, XKeywords[k], size_t(length)) == 0) return k;
  }
  return -1;
}

}  // namespace

// One scan into the scratch buffer. The character before a position is the
// one already written, as the plain form tests the text it has rewritten so
// far; after a replacement that is the token's colon, so a keyword right after
// another keyword counts. A token holds no keyword, so the plain form's
// re-examination of the positions inside it finds nothing.
int ReplaceKeywords(const char* path) {
  const char* in = XText;
  const char* end = XText + XTextLength;
  char* out = XTextScratch();
  int length = 0;
  PercentReporter progress = BeginStep(path, TokensText, XTextLength);
  const char* p = in;
  while (p < end) {
    const char* run = FindAny(p, end, 't', 'M', 'T');
    std::memcpy(out + length, p, size_t(run - p));
    length += int(run - p);
    p = run;
    progress.At(int(p - in));
    if (p == end) break;
    const int kind = KeywordAt(p, end);
    if (kind < 0 || (length > 0 && IsWordCharacter(uint8_t(out[length - 1])))) {
      out[length++] = *p++;
      continue;
    }
    const int tokenLength = lengths.token[kind];
    const int64_t after = int64_t(length) + tokenLength + (end - p - lengths.keyword[kind]);
    if (after > MaxXText) return FailOutOfMemory();
    std::memcpy(out + length, XTokens[kind], size_t(tokenLength));
    length += tokenLength;
    p += lengths.keyword[kind];
  }
  SwapXText(length);
  return 1;
}

void LowerCaseText() {
  char* p = XText;
  char* end = XText + XTextLength;
#if defined(__SSE2__)
  const __m128i beforeA = _mm_set1_epi8('A' - 1), afterZ = _mm_set1_epi8('Z' + 1), bit = _mm_set1_epi8(32);
  for (; end - p >= 16; p += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(x, beforeA), _mm_cmplt_epi8(x, afterZ));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_add_epi8(x, _mm_and_si128(upper, bit)));
  }
#endif
  for (; p < end; ++p) {
    if (*p >= 'A' && *p <= 'Z') *p = char(*p + 32);
  }
}

namespace {

// Whether a character is kept (1), dropped (0) or may start a comment
// (Slash), with and without a ";" before it, and what a kept one becomes.
struct GarbageTables {
  static constexpr uint8_t Slash = 3;
  uint8_t keep[512];
  char map[256];
  GarbageTables() {
    for (int semicolonBefore = 0; semicolonBefore < 2; ++semicolonBefore) {
      for (int c = 0; c < 256; ++c) {
        const bool white = c == ' ' || c == '\t' || c == '\n' || c == '\r';
        const bool repeated = (c == ',' || c == ';') && semicolonBefore;
        keep[semicolonBefore * 256 + c] = (c == '#' || c == '/') ? Slash : (white || repeated) ? 0 : 1;
      }
    }
    for (int c = 0; c < 256; ++c) map[c] = c == ',' ? ';' : char(c);
  }
};

// A scan of RemoveGarbage, in place: the write position never passes the read
// position, and the character before a read position is taken from the input
// (afterSemicolon), not from what has been written there.
struct GarbageScan {
  char* text;
  int length;
  int read;
  int write;
  unsigned afterSemicolon;  // 256 when the preceding input character is ";"
};

// One character at a time up to stop, or beyond it to the end of a comment.
void RemoveGarbageBytes(GarbageScan& s, int stop) {
  static const GarbageTables tables;
  char* text = s.text;
  for (; s.read < stop; ++s.read) {
    const unsigned c = uint8_t(text[s.read]);
    const unsigned keep = tables.keep[s.afterSemicolon + c];
    if (keep == GarbageTables::Slash && (c == '#' || (s.read + 1 < s.length && text[s.read + 1] == '/'))) {
      // A comment; the line feed that ends it is white space.
      s.read = int(FindChar(text + s.read, text + s.length, '\n') - text) - 1;
      s.afterSemicolon = 0;
      continue;
    }
    text[s.write] = tables.map[c];
    s.write += keep & 1;
    s.afterSemicolon = c == ';' ? 256 : 0;
  }
}

constexpr int GarbageBlock = 16;

#if defined(__x86_64__)
// Sixteen characters at a time up to limit, as long as none of them may
// start a comment; stops before the first block that may.
__attribute__((target("ssse3,popcnt"))) void RemoveGarbageBlocks(GarbageScan& s, int limit) {
  char* text = s.text;
  int read = s.read, write = s.write;
  bool afterSemicolon = s.afterSemicolon != 0;
  for (; read + GarbageBlock <= limit; read += GarbageBlock) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + read));
    const auto is = [&bytes](char c) { return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)); };
    if (_mm_movemask_epi8(_mm_or_si128(is('#'), is('/'))) != 0) break;
    const __m128i semicolon = is(';'), comma = is(',');
    const __m128i semicolonBefore =
        _mm_or_si128(_mm_slli_si128(semicolon, 1), _mm_cvtsi32_si128(afterSemicolon ? 0xFF : 0));
    const __m128i repeated = _mm_and_si128(_mm_or_si128(semicolon, comma), semicolonBefore);
    const __m128i white = _mm_or_si128(_mm_or_si128(is(' '), is('\t')), _mm_or_si128(is('\n'), is('\r')));
    const unsigned keep = ~unsigned(_mm_movemask_epi8(_mm_or_si128(white, repeated))) & 0xFFFFu;
    const __m128i written =
        _mm_or_si128(_mm_andnot_si128(comma, bytes), _mm_and_si128(comma, _mm_set1_epi8(';')));
    afterSemicolon = text[read + GarbageBlock - 1] == ';';
    write += StoreKeptBytes(text + write, written, keep);
  }
  s.read = read;
  s.write = write;
  s.afterSemicolon = afterSemicolon ? 256 : 0;
}
#else
void RemoveGarbageBlocks(GarbageScan&, int) {}
#endif

}  // namespace

void RemoveGarbage(const char* path) {
  static const bool blocks = CanKeepBytes();
  GarbageScan s{XText, XTextLength, 0, 0, 0};
  PercentReporter progress = BeginStep(path, GarbageText, s.length);
  while (s.read < s.length) {
    progress.At(s.read);
    const int limit = std::min(s.length, s.read + 65536);
    while (s.read < limit) {
      if (blocks) RemoveGarbageBlocks(s, limit);
      RemoveGarbageBytes(s, std::min(limit, s.read + GarbageBlock));
    }
  }
  XTextLength = s.write;
}

// In place; a deleted template leaves the text after it at the same position,
// which is examined next, as in the plain form.
int RemoveTemplates(const char* path) {
  char* text = XText;
  const char* end = text + XTextLength;
  const int tokenLength = lengths.token[TokenTemplate];
  PercentReporter progress = BeginStep(path, TemplatesText, XTextLength);
  int write = 0;
  const char* p = text;
  for (;;) {
    const char* token = FindTokenOf(p, end, TokenTemplate);
    std::memmove(text + write, p, size_t(token - p));
    write += int(token - p);
    if (token == end) break;
    progress.At(int(token - text));
    const char* open = FindChar(token + tokenLength, end, '{');
    const char* close = FindChar(open, end, '}');
    if (open == end || close == end) return FailUnbalanced(path);
    if (FindPrefix(open, close) != close) {
      ShowPathMessage(XTemplateErrorText, path, XFatalCaption);
      return 0;
    }
    p = close + 1;
  }
  XTextLength = write;
  return 1;
}

int CheckForMesh(const char* path) {
  ProgressUpdate(path, MeshCheckText, -1);
  if (TextFind(0, XTokens[TokenMesh]) >= 0) return 1;
  ShowPathMessage(XNoMeshText, path, XFixFileCaption);
  return 0;
}

void DropHeader(const char* path) {
  ProgressUpdate(path, AdjustingText, -1);
  const int first = TextFind(0, XTokenPrefix);
  if (first > 0) TextDelete(0, first - 1);
}

// ---- From the objects to the canonical text ----------------------------------------

int ResolveReferences(const char* path) {
  if (!BracesBalanced()) return FailUnbalanced(path);
  if (SomeNameHoldsCloseBrace()) return ResolveReferencesStepByStep(path);
  ReferenceResolver resolver(path);
  return resolver.Run();
}

int ResolveReferencesStepByStep(const char* path) {
  if (!BracesBalanced()) return FailUnbalanced(path);
  ProgressUpdate(path, ReferencesText, -1);
  std::string pattern;
  for (int p = 0; p < XTextLength; ++p) {
    if ((p & 4095) == 0) ProgressUpdate(path, ReferencesText, int(int64_t(p) * 100 / XTextLength));
    const int kind = TokenAt(XText + p, XText + XTextLength);
    if (kind < 0) continue;
    const int e = p + lengths.token[kind];
    if (e < XTextLength && XText[e] == '{') continue;
    const int brace = TextFind(e, "{");
    if (brace < 0) return FailUnbalanced(path);
    pattern.assign("{").append(XText + e, size_t(brace - e)).append("}");
    const int patternLength = int(pattern.size());
    for (int q = e + 1; (q = TextFindBytes(q, pattern.data(), patternLength)) >= 0; ++q) {
      int open = 0, close = 0;
      if (!TextBlockExtent(p, open, close)) return FailUnbalanced(path);
      // The copy is taken before the reference is removed: it may lie inside.
      char* copy = XTextScratch();
      const int copyLength = close - p + 1;
      std::memcpy(copy, XText + p, size_t(copyLength));
      TextDelete(q, q + patternLength - 1);
      if (!TextInsertBytes(q, copy, copyLength)) return FailOutOfMemory();
    }
  }
  return 1;
}

// In place; a name is deleted whole, so tokens inside it are never examined,
// as in the plain form.
void RemoveTokenNames(const char* path) {
  char* text = XText;
  const char* end = text + XTextLength;
  PercentReporter progress = BeginStep(path, TokenNamesText, XTextLength);
  int write = 0;
  const char* p = text;
  for (;;) {
    int kind = -1;
    const char* token = FindToken(p, end, kind);
    const char* afterToken = token == end ? end : token + lengths.token[kind];
    std::memmove(text + write, p, size_t(afterToken - p));
    write += int(afterToken - p);
    if (token == end) break;
    progress.At(int(token - text));
    p = (afterToken < end && *afterToken != '{') ? FindChar(afterToken, end, '{') : afterToken;
  }
  XTextLength = write;
}

int DeleteObsoletes(const char* path) {
  char* text = XText;
  const char* end = text + XTextLength;
  PercentReporter progress = BeginStep(path, ObsoletesText, XTextLength);
  int write = 0;
  for (const char* p = text;;) {
    const char* mesh = FindTokenOf(p, end, TokenMesh);
    if (mesh == end) break;
    progress.At(int(mesh - text));
    const char* close = MatchingClose(FindChar(mesh, end, '{'), end);
    if (close == end) return FailUnbalanced(path);
    std::memmove(text + write, mesh, size_t(close + 1 - mesh));
    write += int(close + 1 - mesh);
    p = close + 1;
  }
  XTextLength = write;
  return 1;
}

int VerifyMaterialLists(const char* path) {
  MaterialListBuilder builder(path);
  return builder.Run();
}

int VerifyMaterialListsStepByStep(const char* path) {
  char defaultMaterial[160];
  const int defaultLength = FormatDefaultMaterial(defaultMaterial, sizeof defaultMaterial);
  ProgressUpdate(path, MaterialListsText, -1);
  for (int p = 0; p < XTextLength; ++p) {
    if ((p & 4095) == 0) ProgressUpdate(path, MaterialListsText, int(int64_t(p) * 100 / XTextLength));
    if (!TextMatchAt(p, XTokens[TokenMesh])) continue;
    int open = 0, close = 0;
    if (!TextBlockExtent(p, open, close)) return FailUnbalanced(path);
    if (TextFindWithin(open, close, XTokens[TokenMeshMaterialList]) >= 0) continue;
    int position = open + 1;
    const int vertices = ReadXItemInt(position);
    const int64_t coordinates = vertices > 0 ? 3 * int64_t(vertices) : 0;
    const int faces = SkipItems(position, int(std::min<int64_t>(coordinates, INT_MAX)));
    const int material = TextFindWithin(open, close, XTokens[TokenMaterial]);
    int materialOpen = 0, materialClose = 0;
    if (material >= 0 && !TextBlockExtent(material, materialOpen, materialClose)) return FailUnbalanced(path);
    // The list is built in the scratch buffer, after checking that it fits.
    char* list = XTextScratch();
    int length = std::snprintf(list, 64, "%s{1;%d;", XTokens[TokenMeshMaterialList], faces);
    const int zeros = std::max(faces, 0);
    const int materialLength = material >= 0 ? materialClose - material + 1 : defaultLength;
    if (int64_t(XTextLength) + length + 2 * int64_t(zeros) + materialLength + 1 > MaxXText) {
      return FailOutOfMemory();
    }
    for (int z = 0; z < zeros; ++z, length += 2) std::memcpy(list + length, "0;", 2);
    std::memcpy(list + length, material >= 0 ? XText + material : defaultMaterial, size_t(materialLength));
    length += materialLength;
    list[length++] = '}';
    TextInsertBytes(close, list, length);
  }
  return 1;
}

int MakeCanonicalXText(const char* path) {
  ProgressScope scope;
  if (!ReadXFile(path) || !ReplaceKeywords(path)) return 0;
  LowerCaseText();
  RemoveGarbage(path);
  if (!RemoveTemplates(path) || !CheckForMesh(path)) return 0;
  DropHeader(path);
  if (!ResolveReferences(path)) return 0;
  RemoveTokenNames(path);
  return DeleteObsoletes(path) && VerifyMaterialLists(path);
}

int SkipItems(int position, int count) {
  if (position < 0) position = 0;
  for (; count > 0 && position < XTextLength; --count) {
    const char* semicolon = FindChar(XText + position, XText + XTextLength, ';');
    position = semicolon == XText + XTextLength ? XTextLength : int(semicolon - XText) + 1;
  }
  return ReadXItemInt(position);
}
