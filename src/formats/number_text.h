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

// strtod(text, nullptr).
double ReadDouble(const char* text);
