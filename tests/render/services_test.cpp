#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <tuple>

#include "render/qlt.h"
#include "support/model_builder.h"

namespace {

// The current text may itself be passed as the message; a text too long
// for the buffer is cut short and still terminated.
TEST(ErrorString, HoldsOperationMessageAndCodeTextOnThreeLines) {
  _qlt_SetError("qlt_PageFlip", "Flip failed", static_cast<int32_t>(0x80004005u));
  EXPECT_STREQ("qlt_PageFlip\nFlip failed\nGeneric failure.\n", qlt_GetErrorString());
  _qlt_SetError("outer", qlt_GetErrorString(), 0);
  EXPECT_STREQ("outer\nqlt_PageFlip\nFlip failed\nGeneric failure.\n\n\n", qlt_GetErrorString());
  const std::string overlong(3 * QltErrorStringSize, 'x');
  _qlt_SetError(nullptr, overlong.c_str(), 0);
  EXPECT_EQ("\n" + overlong.substr(0, QltErrorStringSize - 2), qlt_GetErrorString());
}

// Create alone makes only new files, truncate alone only empties existing
// ones, both together always give an empty file; read access wins over
// write access, neither means both, and a read-only open never empties.
// Each file is then written "X" and read one byte (0: none read); a file
// that would not open keeps its content.
TEST(QltFile, FlagsDecideCreationTruncationAndAccessAndOriginsDecideSeeks) {
  const int R = 0x02, W = 0x04, C = 0x08, T = 0x10, A = 0x20;  // the QLT_FILE_ flags
  // Flags, whether the file exists, the byte read, the content after.
  const std::tuple<int, bool, char, const char*> cases[] = {
      {C, true, 0, "abc"},       {W | C, true, 0, "abc"},     {W | C, false, 0, "X"},
      {W | C | T, true, 0, "X"}, {W | C | T, false, 0, "X"},  {W | T, false, 0, "-"},
      {W | T, true, 0, "X"},     {R | W | T, true, 0, "abc"}, {W | A, true, 0, "abcX"},
      {R | W, true, 'a', "abc"}, {W, true, 0, "Xbc"},         {0, true, 'b', "Xbc"},
  };
  const std::string path = TempPath("flags");
  for (const auto& [flags, exists, read, after] : cases) {
    unlink(path.c_str());
    if (exists) std::ofstream(path, std::ios::binary) << "abc";
    const int handle = qlt_FileOpen(path.c_str(), flags);
    char byte = 0;
    qlt_FileWrite(handle, "X", 1);
    qlt_FileRead(handle, &byte, 1);
    qlt_FileClose(handle);
    EXPECT_EQ(std::string(1, read) + after, std::string(1, byte) + (FileExists(path) ? ReadAll(path) : "-"))
        << "flags 0x" << std::hex << flags << (exists ? ", existing" : "");
  }
  EXPECT_EQ(-1, qlt_FileOpen(".", R));  // a folder is no file
  EXPECT_EQ(-1, qlt_FileOpen(nullptr, R));

  // Seek origins are set, current and end; any other counts from the
  // current position. A short read succeeds with the bytes moved; a negative
  // count and a failed write fail.
  std::ofstream(path, std::ios::binary) << "0123456789";
  const int h = qlt_FileOpen(path.c_str(), R);
  unlink(path.c_str());
  EXPECT_EQ(10u, qlt_FileSize(h));
  char buffer[16] = {};
  int32_t done = -1;
  // Distance, origin, the digit then read.
  const int seeks[][3] = {
      {3, QLT_SEEK_SET, '3'}, {2, QLT_SEEK_CURRENT, '6'}, {-1, QLT_SEEK_END, '9'}, {-9, 0, '1'}, {1, 3, '3'}};
  for (const auto& s : seeks)
    EXPECT_TRUE(qlt_FileSeek(h, s[0], s[1]) && qlt_FileRead(h, buffer, 1) && buffer[0] == s[2]) << s[0];
  EXPECT_EQ(0, qlt_FileSeek(h, -1, QLT_SEEK_SET));
  EXPECT_TRUE(qlt_FileRead(h, buffer, 16, &done) && done == 6);
  EXPECT_EQ(0, qlt_FileRead(h, buffer, -1, &done));
  EXPECT_EQ(1, qlt_FileClose(h));
  const int full = qlt_FileOpen("/dev/full", QLT_FILE_WRITE);
  if (full < 0) GTEST_SKIP() << "no /dev/full here";
  EXPECT_EQ(0, qlt_FileWrite(full, "data", 4));
  qlt_FileClose(full);
}

// 1024 units per second of counter time, from 1 after a start (so the first
// reading is 2) or from the value set; a carry into the counter's high half
// continues after the last value (the low half alone would read 0x110000
// ticks since the base), and long spans are scaled in 64 bits.
TEST(QltTimer, CountsIn1024thsOfASecond) {
  const uint64_t second = 1000000, start = 0xFFF00000ull, carried = 0x100010000ull;
  ASSERT_EQ(1, _qlt_StartTimer(start, second));
  // Counter, reading, value set before it (0: none).
  const uint64_t readings[][3] = {{start, 2, 0},
                                  {start + 977, 3, 0},
                                  {start + 0x80000, 538, 0},
                                  {carried, 539, 0},
                                  {carried + second, 1563, 0},
                                  {carried + 3 * second, 101, 100},
                                  {carried + 3 * second + second / 2, 613, 0},
                                  {0x1FFFFFFFFull, 4395008, 0}};
  for (const auto& r : readings) {
    if (r[2] != 0) _qlt_SetTime(static_cast<uint32_t>(r[2]));
    EXPECT_EQ(r[1], _qlt_TimeAt(r[0])) << "counter 0x" << std::hex << r[0];
  }
  EXPECT_EQ(0, _qlt_StartTimer(0, 1ull << 32));
  EXPECT_STREQ("_qlt_InitTimer\nHigh-resolution performance counter too fast!\n\n", qlt_GetErrorString());
  EXPECT_EQ(0, _qlt_StartTimer(0, 0));
  EXPECT_STREQ("_qlt_InitTimer\nHigh-resolution performance freq = 0!\n\n", qlt_GetErrorString());
  EXPECT_EQ(2u, _qlt_TimeAt(0));
  EXPECT_EQ(2u + 1024u, _qlt_TimeAt(1));  // no division by zero
  // The real clock: 100 ms are 102.4 units; a loaded machine may oversleep.
  ASSERT_EQ(1, _qlt_InitTimer());
  const uint32_t before = _qlt_GetTime();
  usleep(100000);
  const uint32_t elapsed = _qlt_GetTime() - before;
  EXPECT_TRUE(elapsed >= 101 && elapsed <= 502) << elapsed;
}

}  // namespace
