#include "formats/xtext.h"

#include <cfloat>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "formats/file_output.h"
#include "formats/number_text.h"
#include "platform/large_pages.h"
#include "render/progress_box.h"
#include "render/qlt.h"

namespace {

// Both buffers live for the whole run; passes that rewrite the whole text
// write into the one that is not the text and swap.
alignas(LargePageSize) char bufferA[MaxXText];
alignas(LargePageSize) char bufferB[MaxXText];
[[maybe_unused]] const bool buffersAdvised =
    (AdviseLargePages(bufferA, sizeof bufferA), AdviseLargePages(bufferB, sizeof bufferB), true);

int ClampLength(int length) { return length < 0 ? 0 : (length > MaxXText ? MaxXText : length); }

// First position in start .. last (inclusive) where the bytes begin and fit
// before the end of the text, else -1.
int FindBytesWithin(int start, int last, const char* bytes, int length) {
  if (start < 0) start = 0;
  if (length <= 0) return start <= XTextLength ? start : -1;
  const int lastFit = XTextLength - length;
  if (last > lastFit) last = lastFit;
  const char first = bytes[0];
  for (int p = start; p <= last;) {
    const void* hit = std::memchr(XText + p, first, size_t(last - p + 1));
    if (!hit) return -1;
    p = int(static_cast<const char*>(hit) - XText);
    if (std::memcmp(XText + p + 1, bytes + 1, size_t(length - 1)) == 0) return p;
    ++p;
  }
  return -1;
}

// Copies the item at position (up to the next ";", at most 255 characters)
// into `item` and moves position past the ";" or to the end of the text.
void TakeItem(int& position, char (&item)[256]) {
  if (position < 0) position = 0;
  if (position >= XTextLength) {
    position = XTextLength;
    item[0] = '\0';
    return;
  }
  const char* start = XText + position;
  const size_t rest = size_t(XTextLength - position);
  const void* semicolon = std::memchr(start, ';', rest);
  const size_t length = semicolon ? size_t(static_cast<const char*>(semicolon) - start) : rest;
  const size_t copied = length < sizeof item - 1 ? length : sizeof item - 1;
  std::memcpy(item, start, copied);
  item[copied] = '\0';
  position = semicolon ? position + int(length) + 1 : XTextLength;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A value past the float range reads as the largest float of its sign.
float ClampToFloat(double value) {
  if (value > double(FLT_MAX)) return FLT_MAX;
  if (value < -double(FLT_MAX)) return -FLT_MAX;
  return float(value);
}

// Decimal notation only: "inf", "nan" and hexadecimal forms read as the
// decimal prefix they start with (0), as the file format's numbers are
// always decimal.
float DecimalToFloat(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  const char* digits = (*p == '+' || *p == '-') ? p + 1 : p;
  if (!IsDigit(*digits) && !(*digits == '.' && IsDigit(digits[1]))) return 0.0f;
  if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) return 0.0f;
  return ClampToFloat(ReadDouble(text));
}

// An item that is one short decimal, read where it lies; false (position
// unchanged) for any other item.
bool ReadShortItem(int& position, float& value) {
  if (position < 0 || position >= XTextLength) return false;
  const char* start = XText + position;
  const char* end = XText + XTextLength;
  double number;
  const char* stop = ReadShortDecimal(start, end, number);
  if (!stop || (stop != end && *stop != ';')) return false;
  position = stop == end ? XTextLength : int(stop - XText) + 1;
  value = ClampToFloat(number);
  return true;
}

}  // namespace

char* XText = bufferA;
int XTextLength = 0;

char* XTextScratch() { return XText == bufferA ? bufferB : bufferA; }

void SwapXText(int newLength) {
  XText = XTextScratch();
  XTextLength = ClampLength(newLength);
}

void SetXText(const char* text, int length) {
  XTextLength = text ? ClampLength(length) : 0;
  if (XTextLength > 0) std::memmove(XText, text, size_t(XTextLength));
}

bool TextMatchAt(int position, const char* string) {
  return string && TextMatchBytesAt(position, string, int(std::strlen(string)));
}

bool TextMatchBytesAt(int position, const char* bytes, int length) {
  if (position < 0 || length < 0 || position > XTextLength - length) return false;
  return std::memcmp(XText + position, bytes, size_t(length)) == 0;
}

int TextFind(int start, const char* string) {
  return string ? TextFindBytes(start, string, int(std::strlen(string))) : -1;
}

int TextFindBytes(int start, const char* bytes, int length) {
  return FindBytesWithin(start, XTextLength - 1, bytes, length);
}

int TextFindWithin(int start, int last, const char* string) {
  if (!string) return -1;
  return FindBytesWithin(start, last, string, int(std::strlen(string)));
}

bool TextBlockExtent(int start, int& open, int& close) {
  open = -1;
  close = -1;
  if (start < 0) start = 0;
  if (start >= XTextLength) return false;
  const char* end = XText + XTextLength;
  const char* first = static_cast<const char*>(std::memchr(XText + start, '{', size_t(XTextLength - start)));
  if (!first) return false;
  int depth = 0;
  for (const char* p = first; p < end; p = FindAny(p + 1, end, '{', '}', '}')) {
    if (*p == '{') {
      ++depth;
    } else if (--depth == 0) {
      open = int(first - XText);
      close = int(p - XText);
      return true;
    }
  }
  return false;
}

// The first of the characters a, b and c in from .. end-1, or end. Every
// pass spends most of its time here, passing over numbers.
const char* FindAny(const char* from, const char* end, char a, char b, char c) {
#if defined(__SSE2__)
  const __m128i va = _mm_set1_epi8(a), vb = _mm_set1_epi8(b), vc = _mm_set1_epi8(c);
  for (; end - from >= 16; from += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    const __m128i hit =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, va), _mm_cmpeq_epi8(x, vb)), _mm_cmpeq_epi8(x, vc));
    const int mask = _mm_movemask_epi8(hit);
    if (mask != 0) return from + __builtin_ctz(unsigned(mask));
  }
#endif
  for (; from < end; ++from) {
    if (*from == a || *from == b || *from == c) return from;
  }
  return end;
}

void TextDelete(int first, int last) {
  if (first < 0) first = 0;
  if (last > XTextLength - 1) last = XTextLength - 1;
  if (first > last) return;
  std::memmove(XText + first, XText + last + 1, size_t(XTextLength - last - 1));
  XTextLength -= last - first + 1;
}

bool TextInsert(int position, const char* string) {
  return string && TextInsertBytes(position, string, int(std::strlen(string)));
}

bool TextInsertBytes(int position, const char* bytes, int length) {
  if (length <= 0) return length == 0;
  if (int64_t(XTextLength) + length > MaxXText) return false;
  if (position < 0) position = 0;
  if (position > XTextLength) position = XTextLength;
  std::memmove(XText + position + length, XText + position, size_t(XTextLength - position));
  std::memcpy(XText + position, bytes, size_t(length));
  XTextLength += length;
  return true;
}

float ReadXItemFloat(int& position) {
  float value;
  if (ReadShortItem(position, value)) return value;
  char item[256];
  TakeItem(position, item);
  return DecimalToFloat(item);
}

int ReadXItemInt(int& position) {
  char item[256];
  TakeItem(position, item);
  const long value = std::strtol(item, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return int(value);
}

int TruncateCount(float value) {
  if (value != value) return 0;
  if (value >= 2147483648.0f) return INT_MAX;
  if (value <= -2147483648.0f) return INT_MIN;
  return int(value);
}

const char* const XTooLargeText =
    "%s is too large to import: a text model file may hold at most 20000000 characters.";
static_assert(MaxXText == 20000000, "XTooLargeText names the capacity");

namespace {

int FailFile(const char* format, const char* path, int handle) {
  if (handle >= 0) qlt_FileClose(handle);
  ShowPathMessage(format, path, "Error");
  return 0;
}

}  // namespace

int ReadFileIntoXText(const char* path, const char* openFailure) {
  ProgressUpdate(path, "Opening file...", -1);
  const int handle = qlt_FileOpen(path, QLT_FILE_READ);
  if (handle < 0) return FailFile(openFailure, path, -1);
  ProgressUpdate(path, "Loading file...", -1);
  const uint32_t size = qlt_FileSize(handle);
  if (size > uint32_t(MaxXText)) return FailFile(XTooLargeText, path, handle);
  XTextLength = 0;
  int32_t done = 0;
  if (!qlt_FileRead(handle, XText, int32_t(size), &done) || done != int32_t(size)) {
    return FailFile("Could not read file: %s", path, handle);
  }
  // More data than the size said: a file beyond what the size can express.
  char extra;
  int32_t more = 0;
  if (qlt_FileRead(handle, &extra, 1, &more) && more > 0) return FailFile(XTooLargeText, path, handle);
  if (!qlt_FileClose(handle)) return FailFile("Could not close file: %s", path, -1);
  XTextLength = int(size);
  return 1;
}
