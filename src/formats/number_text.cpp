#include "formats/number_text.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Below this magnitude a value times 10^6 fits 60 bits, and the exact
// product of its significand and 10^6 fits 128.
constexpr double SmallFixedLimit = 1e12;

// Two digits per entry, 00 to 99.
constexpr char DigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The six decimals of 0 .. 999999, with leading zeros.
char* WriteSixDigits(char* out, uint32_t value) {
  std::memcpy(out, &DigitPairs[2 * (value / 10000)], 2);
  std::memcpy(out + 2, &DigitPairs[2 * (value / 100 % 100)], 2);
  std::memcpy(out + 4, &DigitPairs[2 * (value % 100)], 2);
  return out + 6;
}

// value x 10^6 rounded half to even, as printf rounds it, for a value of
// significand / 2^shift: exact in 64 bits when both factors fit, in 128
// otherwise.
uint64_t Millionths(uint64_t significand, int shift) {
  // Values that came from floats have 29 trailing zero bits.
  const int zeros = significand ? __builtin_ctzll(significand) : 0;
  const int dropped = zeros < shift ? zeros : shift - 1;
  significand >>= dropped;
  shift -= dropped;
  if (significand < (uint64_t(1) << 44) && shift < 64) {
    const uint64_t exact = significand * 1000000u;
    const uint64_t whole = exact >> shift, rest = exact & ((uint64_t(1) << shift) - 1);
    const uint64_t half = uint64_t(1) << (shift - 1);
    return whole + ((rest > half || (rest == half && (whole & 1))) ? 1 : 0);
  }
  if (shift >= 128) return 0;  // below 2^-54: far from half a millionth
  const unsigned __int128 exact = static_cast<unsigned __int128>(significand) * 1000000u;
  const unsigned __int128 whole = exact >> shift;
  const unsigned __int128 rest = exact - (whole << shift);
  const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
  return uint64_t(whole) + ((rest > half || (rest == half && (whole & 1))) ? 1 : 0);
}

// "%f" of a finite value below SmallFixedLimit in magnitude: the exact binary
// value in millionths, split at the point.
char* WriteSmallFixed(char* out, double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const int biased = int(bits >> 52) & 0x7FF;
  const uint64_t significand = (bits & ((uint64_t(1) << 52) - 1)) | (biased ? uint64_t(1) << 52 : 0);
  // value = significand / 2^shift; below the limit the shift is always positive.
  const uint64_t millionths = Millionths(significand, 1075 - (biased ? biased : 1));
  if (bits >> 63) *out++ = '-';
  out = std::to_chars(out, out + 20, millionths / 1000000).ptr;
  *out++ = '.';
  return WriteSixDigits(out, uint32_t(millionths % 1000000));
}

}  // namespace

char* WriteFixed(char* out, double value) {
  if (value > -SmallFixedLimit && value < SmallFixedLimit) return WriteSmallFixed(out, value);
  // Infinities and NaNs in printf's spelling, which to_chars does not share.
  if (value != value || value - value != 0) return out + std::snprintf(out, FixedRoom, "%f", value);
  return std::to_chars(out, out + FixedRoom, value, std::chars_format::fixed, 6).ptr;
}

char* WriteInt(char* out, int value) { return std::to_chars(out, out + IntRoom, value).ptr; }

void AppendFixed(std::string& text, double value) {
  char digits[FixedRoom];
  text.append(digits, size_t(WriteFixed(digits, value) - digits));
}

void AppendInt(std::string& text, int value) {
  char digits[IntRoom];
  text.append(digits, size_t(WriteInt(digits, value) - digits));
}

namespace {

// Text composed on the stack and appended to the string in large pieces.
class Composer {
 public:
  explicit Composer(std::string& text) : text_(text) {}
  ~Composer() { Flush(); }
  Composer(const Composer&) = delete;
  Composer& operator=(const Composer&) = delete;

  // Where `room` more characters may be written; Advance(end) keeps them.
  char* Room(size_t room) {
    if (used_ + room > sizeof buffer_) Flush();
    return buffer_ + used_;
  }
  void Advance(const char* end) { used_ = size_t(end - buffer_); }
  void Put(const char* text, size_t length) {
    if (length > sizeof buffer_ / 2) {
      Flush();
      text_.append(text, length);
      return;
    }
    char* out = Room(length);
    std::memcpy(out, text, length);
    Advance(out + length);
  }

 private:
  void Flush() {
    text_.append(buffer_, used_);
    used_ = 0;
  }
  std::string& text_;
  char buffer_[2048];
  size_t used_ = 0;
};

static_assert(FixedRoom < 2048, "a number must fit the composer");

// Whether every conversion in the format is one AppendFormattedList writes itself.
bool PlainConversions(const char* format) {
  for (const char* p = format; *p; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p != 'f' && *p != 'd' && *p != 'c' && *p != 's' && *p != '%') return false;
  }
  return true;
}

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsLetter(char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

// The powers of ten a double holds exactly.
constexpr double ExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The value of the six digits at p, when the eight bytes from p are there
// and the first six are digits: "%f" writes six decimals, and reading them
// at once saves the branch per digit.
bool ReadSixDigits(const char* p, const char* end, uint64_t& value) {
  // The first character is the lowest byte only on little-endian machines.
  if (__BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__ || end - p < 8) return false;
  uint64_t bytes;
  std::memcpy(&bytes, p, sizeof bytes);
  constexpr uint64_t Six = 0x0000FFFFFFFFFFFFull;
  // Each byte 0x30 .. 0x39: high nibble 3, and adding 6 keeps it 3.
  if ((bytes & 0xF0F0F0F0F0F0F0F0ull & Six) != (0x3030303030303030ull & Six) ||
      ((bytes + 0x0606060606060606ull) & 0xF0F0F0F0F0F0F0F0ull & Six) != (0x3030303030303030ull & Six))
    return false;
  // The digits in the top six bytes, the first the most significant, below
  // two zeros; then pairs, fours and eights are joined.
  uint64_t d = ((bytes - 0x3030303030303030ull) & Six) << 16;
  d = (d * 10 + (d >> 8)) & 0x00FF00FF00FF00FFull;
  d = (d * 100 + (d >> 16)) & 0x0000FFFF0000FFFFull;
  value = (d * 10000 + (d >> 32)) & 0xFFFFFFFFull;
  return true;
}

}  // namespace

const char* ReadShortDecimal(const char* text, const char* end, double& value) {
  const char* p = text;
  const bool negative = p < end && *p == '-';
  if (p < end && (*p == '-' || *p == '+')) ++p;
  uint64_t digits = 0;
  int count = 0, decimals = 0;
  for (; p < end && IsDigit(*p); ++p, ++count) digits = digits * 10 + uint64_t(*p - '0');
  if (p < end && *p == '.') {
    uint64_t six;
    if (ReadSixDigits(++p, end, six)) {
      digits = digits * 1000000 + six;
      p += 6, count += 6, decimals += 6;
    }
    for (; p < end && IsDigit(*p); ++p, ++count, ++decimals) digits = digits * 10 + uint64_t(*p - '0');
  }
  // Up to 19 digits the integer is exact; up to 2^53 the double is too, and
  // one division by an exact power of ten rounds once, as strtod does.
  if (count == 0 || count > 19 || digits > (uint64_t(1) << 53)) return nullptr;
  // An exponent, a hexadecimal prefix or a word after the digits: not short.
  if (p < end && IsLetter(*p)) return nullptr;
  const double magnitude = double(digits) / ExactPowersOfTen[decimals];
  value = negative ? -magnitude : magnitude;
  return p;
}

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
  Composer out(text);
  for (const char* p = format; *p;) {
    const char* percent = p;
    while (*percent && *percent != '%') ++percent;
    out.Put(p, size_t(percent - p));
    if (!*percent) return;
    switch (percent[1]) {
      case 'f': {
        const double value = va_arg(args, double);
        out.Advance(WriteFixed(out.Room(FixedRoom), value));
        break;
      }
      case 'd': {
        const int value = va_arg(args, int);
        out.Advance(WriteInt(out.Room(IntRoom), value));
        break;
      }
      case 'c': {
        const char c = char(va_arg(args, int));
        out.Put(&c, 1);
        break;
      }
      case 's': {
        const char* string = va_arg(args, const char*);
        out.Put(string, std::strlen(string));
        break;
      }
      default:
        out.Put("%", 1);
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
  double shortValue;
  // The terminating NUL stops the digits; 24 characters hold any short decimal.
  if (ReadShortDecimal(p, p + strnlen(p, 24), shortValue)) return shortValue;
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
