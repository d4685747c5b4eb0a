#include "formats/number_text.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// "%f" of any double: up to 309 integer digits, sign, point and six decimals.
constexpr int FixedRoom = 330;

void AppendFixed(std::string& text, double value) {
  char digits[FixedRoom];
  // Infinities and NaNs in printf's spelling, which to_chars does not share.
  if (value != value || value - value != 0) {
    const int n = std::snprintf(digits, sizeof digits, "%f", value);
    text.append(digits, size_t(n));
    return;
  }
  const std::to_chars_result r =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 6);
  text.append(digits, r.ptr);
}

void AppendInt(std::string& text, int value) {
  char digits[16];
  const std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, value);
  text.append(digits, r.ptr);
}

// Whether every conversion in the format is one AppendFormattedList writes itself.
bool PlainConversions(const char* format) {
  for (const char* p = std::strchr(format, '%'); p; p = std::strchr(p + 2, '%'))
    if (!std::strchr("fdcs%", p[1]) || p[1] == '\0') return false;
  return true;
}

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

void AppendFormattedList(std::string& text, const char* format, va_list args) {
  if (!PlainConversions(format)) {
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, again);
    va_end(again);
    if (n <= 0) return;
    const size_t start = text.size();
    text.resize(start + size_t(n) + 1);
    std::vsnprintf(&text[start], size_t(n) + 1, format, args);
    text.resize(start + size_t(n));
    return;
  }
  for (const char* p = format; *p;) {
    const char* percent = std::strchr(p, '%');
    if (!percent) {
      text += p;
      return;
    }
    text.append(p, percent);
    switch (percent[1]) {
      case 'f':
        AppendFixed(text, va_arg(args, double));
        break;
      case 'd':
        AppendInt(text, va_arg(args, int));
        break;
      case 'c':
        text += char(va_arg(args, int));
        break;
      case 's':
        text += va_arg(args, const char*);
        break;
      default:
        text += '%';
    }
    p = percent + 2;
  }
}

void AppendFormatted(std::string& text, const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendFormattedList(text, format, args);
  va_end(args);
}

double ReadDouble(const char* text) {
  const char* p = text;
  while (IsSpace(*p)) ++p;
  const bool plus = *p == '+';
  const char* number = plus ? p + 1 : p;
  const char* digits = *number == '-' && !plus ? number + 1 : number;
  // Hexadecimal, infinities and NaNs, and a second sign: the library's own
  // reading, as rare as they are.
  const bool decimal =
      (*digits >= '0' && *digits <= '9' && !(digits[0] == '0' && (digits[1] | 0x20) == 'x')) ||
      (*digits == '.' && digits[1] >= '0' && digits[1] <= '9');
  if (!decimal) return std::strtod(text, nullptr);
  double value = 0;
  const std::from_chars_result r = std::from_chars(number, number + std::strlen(number), value);
  // Beyond the range of a double, strtod's infinity or its rounding toward 0.
  if (r.ec != std::errc()) return std::strtod(text, nullptr);
  return value;
}
