// The X importer's working text: one fixed buffer that the import rewrites
// step by step, and the small set of operations every step is written in.
#pragma once

// Room for the largest file our own X exporter writes for a model within
// capacity (32,768 export vertices with every number at full float width is
// about 16 million characters), with margin for the tokens that grow it.
constexpr int MaxXText = 20000000;

// The text (not NUL-terminated; positions 0 .. XTextLength-1 are valid).
extern char* XText;
extern int XTextLength;

// The second buffer of the same capacity that whole-text passes write into;
// SwapXText makes it the text. Its contents are undefined after a swap.
char* XTextScratch();
void SwapXText(int newLength);

// Replaces the text (truncated to MaxXText); for tests and the reader.
void SetXText(const char* text, int length);

bool TextMatchAt(int position, const char* string);
bool TextMatchBytesAt(int position, const char* bytes, int length);
// First position at or after start where the string begins, else -1.
int TextFind(int start, const char* string);
// As TextFind for bytes that may hold NUL (names taken from the text).
int TextFindBytes(int start, const char* bytes, int length);
// As TextFind, counting only positions start .. last (inclusive).
int TextFindWithin(int start, int last, const char* string);
// The first "{" at or after start and the "}" that closes it, with brace
// depth counted. Returns false (open and close -1) when either is missing.
bool TextBlockExtent(int start, int& open, int& close);
// The first of the characters a, b and c in from .. end-1, or end. Every
// pass spends most of its time here, passing over numbers.
const char* FindAny(const char* from, const char* end, char a, char b, char c);
// Removes first .. last inclusive.
void TextDelete(int first, int last);
// Insert before position; false (nothing changed) when the text would grow
// beyond MaxXText.
bool TextInsert(int position, const char* string);
// As TextInsert for bytes that may hold NUL; they must not lie in XText.
bool TextInsertBytes(int position, const char* bytes, int length);

// Reads the whole file into XText, with "Opening file..." and "Loading
// file..." in the progress box. Returns 1, or 0 after a message under "Error":
// openFailure (with %s for the path) when the file cannot be opened, the
// too-large text for a file beyond MaxXText (before any of it is read), "Could
// not read file: %s" for a short read, "Could not close file: %s".
int ReadFileIntoXText(const char* path, const char* openFailure);
extern const char* const XTooLargeText;

// Number items of the canonical text: the characters from position up to the
// next ";" (at most 255 of them are converted). Position moves past that ";",
// or to the end of the text when there is none; at the end items read as 0.
float ReadXItemFloat(int& position);
// Decimal-to-integer conversion of an item, saturated to the int range.
int ReadXItemInt(int& position);
// A count read as a float, truncated toward zero and saturated; NaN gives 0.
int TruncateCount(float value);
