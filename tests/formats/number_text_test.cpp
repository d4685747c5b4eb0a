#include "formats/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

std::string Printf(const char* format, double value) {
  char text[400];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Ours(double value) {
  std::string text;
  AppendFormatted(text, "%f", value);
  return text;
}

float FloatFromBits(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

// Random float bit patterns (every exponent, NaNs and infinities among
// them), dyadic fractions whose sixth decimal is a tie, and doubles around
// the seventh decimal's halfway points.
TEST(NumberText, FixedIsPrintfsForEveryKindOfValue) {
  std::mt19937 random(20261207);
  for (int i = 0; i < 400000; ++i) {
    const double value = FloatFromBits(uint32_t(random()));
    ASSERT_EQ(Printf("%f", value), Ours(value)) << "bits " << std::hexfloat << value;
  }
  for (int n = 1; n <= 40; ++n)
    for (int k = -300; k <= 300; ++k) {
      const double value = std::ldexp(double(k), -n);
      ASSERT_EQ(Printf("%f", value), Ours(value)) << std::hexfloat << value;
    }
  for (int i = 0; i < 100000; ++i) {
    const double halfway = (double(random() % 20000000) + 0.5) * 1e-6 * (i % 2 ? 1 : -1000);
    const double value = std::nextafter(halfway, (i / 2) % 2 ? 1e30 : -1e30);
    ASSERT_EQ(Printf("%f", value), Ours(value)) << std::hexfloat << value;
  }
  for (const double value :
       {0.0, -0.0, 1e308, -1e308, 5e-324, 0.0000005, 0.0000015, 2.5e-6, 3.4028234663852886e38})
    ASSERT_EQ(Printf("%f", value), Ours(value));
}

TEST(NumberText, FormatsMixConversionsAsPrintfDoes) {
  std::string text = "head ";
  AppendFormatted(text, "%d;%f,%c %s 100%% %d", -2147483647 - 1, -0.5, 'Q', "name", 2147483647);
  EXPECT_EQ("head -2147483648;-0.500000,Q name 100% 2147483647", text);
  // Anything beyond the plain conversions is printf's own.
  text.clear();
  AppendFormatted(text, "<%5.2f|%03d|%x>", 3.14159, 7, 255u);
  EXPECT_EQ("< 3.14|007|ff>", text);
}

// Texts as the readers meet them: blanks before, signs, points at either
// end, exponents complete or cut short, more digits than a double holds,
// halfway cases, out-of-range values, words strtod knows, and the
// characters on either side of the digits.
TEST(NumberText, ReadDoubleIsStrtodForEveryKindOfText) {
  std::mt19937 random(7);
  const char* const pieces[] = {"0",     "1",    "5",  "9",   "12345678901234567890",
                                ".",     "e",    "E",  "+",   "-",
                                " ",     "\t",   "e-", "e+3", "e400",
                                "e-400", "0000", "x",  ";",   "99999999",
                                ":",     "/"};
  for (int i = 0; i < 300000; ++i) {
    std::string text;
    const int count = 1 + int(random() % 7);
    for (int k = 0; k < count; ++k) text += pieces[random() % (sizeof pieces / sizeof *pieces)];
    const double want = std::strtod(text.c_str(), nullptr), got = ReadDouble(text.c_str());
    ASSERT_TRUE(std::memcmp(&want, &got, sizeof want) == 0 || (want != want && got != got))
        << '"' << text << '"';
  }
  for (int i = 0; i < 200000; ++i) {
    const char* const formats[] = {"%.9g", "%.17g", "%f;"};
    const std::string text = Printf(formats[i % 3], FloatFromBits(uint32_t(random())));
    const double want = std::strtod(text.c_str(), nullptr), got = ReadDouble(text.c_str());
    ASSERT_TRUE(std::memcmp(&want, &got, sizeof want) == 0 || (want != want && got != got)) << text;
  }
  for (const char* text : {"  -12.5e-1;", "+.5", "-.5e", "1.", "0x1p3", "inf", "-nan", "+-1",
                           "2.2250738585072011e-308", "9007199254740993", "1e-320", "  \n7"}) {
    const double want = std::strtod(text, nullptr), got = ReadDouble(text);
    EXPECT_TRUE(std::memcmp(&want, &got, sizeof want) == 0 || (want != want && got != got)) << text;
  }
}

}  // namespace
