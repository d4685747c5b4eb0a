// Numbers as text exactly as the C library writes and reads them ("%f",
// "%d" and strtod), without the cost of its general machinery: the text
// writers put out millions of numbers, the readers take in as many.
#pragma once

#include <cstdarg>
#include <string>

// Appends printf's output for a format of plain "%f", "%d", "%c", "%s" and
// "%%" conversions (no flags, widths or precisions; any other format goes
// through vsnprintf itself).
__attribute__((format(printf, 2, 3))) void AppendFormatted(std::string& text, const char* format, ...);
void AppendFormattedList(std::string& text, const char* format, va_list args);

// The most characters of one "%f" (309 integer digits, sign, point and six
// decimals) and of one "%d".
constexpr int FixedRoom = 330;
constexpr int IntRoom = 12;

// printf's "%f" and "%d" of one value written at out, which has room for
// FixedRoom or IntRoom characters; they return the end of the text.
char* WriteFixed(char* out, double value);
char* WriteInt(char* out, int value);

// The same, appended.
void AppendFixed(std::string& text, double value);
void AppendInt(std::string& text, int value);

// strtod(text, nullptr).
double ReadDouble(const char* text);

// The common case of reading a number, without the library: a decimal of at
// most 19 digits, with an optional sign and point, at the start of
// text .. end-1 and not followed by a letter (an exponent, "x" or a word).
// Returns the end of the number with its value (as strtod reads it) in value,
// or null for any other text.
const char* ReadShortDecimal(const char* text, const char* end, double& value);
