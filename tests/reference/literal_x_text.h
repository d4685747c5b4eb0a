// The X importer's text passes written the plain way: every position in turn,
// with deletions and insertions made in place by the text operations. Slow on
// purpose; the tests hold the one-scan passes against them. Reference
// resolution and the material lists have their plain forms in the product
// (the fast passes hand over to them in rare cases), so they are not repeated.
#pragma once

#include <cstdio>
#include <cstring>

#include "formats/x_text_passes.h"
#include "formats/xtext.h"
#include "platform/ui.h"
#include "render/qlt.h"

namespace literal {

// The texts are the product's; the tests check them written out.
inline int ShowPathMessage(const char* format, const char* path, const char* caption) {
  char text[8192];
  std::snprintf(text, sizeof text, format, path);
  MessageBoxSafe(text, caption, MB_OK);
  return 0;
}

inline int OutOfMemory() { return MessageBoxSafe(XOutOfMemoryText, XFatalCaption, MB_OK), 0; }
inline int Unbalanced(const char* path) { return ShowPathMessage(XUnbalancedText, path, XFixFileCaption); }

inline bool IsWordCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

inline int ReplaceKeywords() {
  for (int p = 0; p < XTextLength; ++p) {
    for (int k = 0; k < XTokenCount; ++k) {
      if (!TextMatchAt(p, XKeywords[k]) || (p > 0 && IsWordCharacter(XText[p - 1]))) continue;
      TextDelete(p, p + int(std::strlen(XKeywords[k])) - 1);
      if (!TextInsert(p, XTokens[k])) return OutOfMemory();
    }
  }
  return 1;
}

inline void LowerCaseText() {
  for (int p = 0; p < XTextLength; ++p) {
    if (XText[p] >= 'A' && XText[p] <= 'Z') XText[p] = char(XText[p] - 'A' + 'a');
  }
}

inline void RemoveGarbage() {
  int kept = 0;
  char before = 0;  // the preceding input character
  for (int p = 0; p < XTextLength; ++p) {
    const char c = XText[p];
    if (c == '#' || (c == '/' && p + 1 < XTextLength && XText[p + 1] == '/')) {
      while (p < XTextLength && XText[p] != '\n') ++p;
      before = '\n';
      continue;
    }
    const bool white = c == ' ' || c == '\t' || c == '\n' || c == '\r';
    const bool repeated = (c == ',' || c == ';') && before == ';';
    before = c;
    if (white || repeated) continue;
    XText[kept++] = c == ',' ? ';' : c;
  }
  XTextLength = kept;
}

inline int RemoveTemplates(const char* path) {
  for (int p = 0; p < XTextLength; ++p) {
    while (TextMatchAt(p, "__qlt_token_template:")) {
      const int open = TextFind(p, "{");
      const int close = open < 0 ? -1 : TextFind(open, "}");
      if (close < 0) return Unbalanced(path);
      if (TextFindWithin(open, close, "__qlt_token_") >= 0)
        return ShowPathMessage(XTemplateErrorText, path, XFatalCaption);
      TextDelete(p, close);
    }
  }
  return 1;
}

inline int CheckForMesh(const char* path) {
  if (TextFind(0, "__qlt_token_mesh:") >= 0) return 1;
  return ShowPathMessage(XNoMeshText, path, XFixFileCaption);
}

inline void DropHeader() {
  const int first = TextFind(0, "__qlt_token_");
  if (first > 0) TextDelete(0, first - 1);
}

inline void RemoveTokenNames() {
  for (int p = 0; p < XTextLength; ++p) {
    int kind = 0;
    while (kind < XTokenCount && !TextMatchAt(p, XTokens[kind])) ++kind;
    if (kind == XTokenCount) continue;
    const int e = p + int(std::strlen(XTokens[kind]));
    if (e >= XTextLength || XText[e] == '{') continue;
    const int brace = TextFind(e, "{");
    TextDelete(e, (brace < 0 ? XTextLength : brace) - 1);
  }
}

inline int DeleteObsoletes(const char* path) {
  int keptEnd = 0;
  for (int p = 0; p < XTextLength;) {
    if (!TextMatchAt(p, "__qlt_token_mesh:")) {
      ++p;
      continue;
    }
    if (p > keptEnd) TextDelete(keptEnd, p - 1);
    int open = 0, close = 0;
    if (!TextBlockExtent(keptEnd, open, close)) return Unbalanced(path);
    keptEnd = close + 1;
    p = keptEnd;
  }
  TextDelete(keptEnd, XTextLength - 1);
  return 1;
}

// Every pass after reading, on the text as it is (the benchmark's reference).
inline int MakeCanonicalText(const char* path) {
  if (!ReplaceKeywords()) return 0;
  LowerCaseText();
  RemoveGarbage();
  if (!RemoveTemplates(path) || !CheckForMesh(path)) return 0;
  DropHeader();
  if (!ResolveReferencesStepByStep(path)) return 0;
  RemoveTokenNames();
  return DeleteObsoletes(path) && VerifyMaterialListsStepByStep(path);
}

}  // namespace literal
