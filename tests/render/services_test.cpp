#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "platform/ui.h"
#include "render/qlt.h"

namespace {

// ---- Last-error text ----------------------------------------------------

TEST(ErrorString, HoldsOperationMessageAndCodeTextOnThreeLines) {
  _qlt_SetError("qlt_PageFlip", "_qlt_FrontBuffer->Flip(NULL, DDFLIP_WAIT)", static_cast<int32_t>(0x887601C2u));
  EXPECT_STREQ(
      "qlt_PageFlip\n_qlt_FrontBuffer->Flip(NULL, DDFLIP_WAIT)\nAccess to this surface is being refused "
      "because the surface memory is gone. The DirectDrawSurface object representing this surface should "
      "have Restore called on it.\n",
      qlt_GetErrorString());

  _qlt_SetError("ImportQLT", "Not a model file", 0);
  EXPECT_STREQ("ImportQLT\nNot a model file\n\n", qlt_GetErrorString());
}

TEST(ErrorString, NullPartsAndTheCurrentTextAsMessageAreSafe) {
  _qlt_SetError(nullptr, nullptr, 0);
  EXPECT_STREQ("\n\n\n", qlt_GetErrorString());

  _qlt_SetError("inner", "cause", 0);
  _qlt_SetError("outer", qlt_GetErrorString(), 0);
  EXPECT_STREQ("outer\ninner\ncause\n\n\n\n", qlt_GetErrorString());
}

TEST(ErrorString, OverlongTextIsCutAndTerminated) {
  const std::string message(3 * QltErrorStringSize, 'x');
  _qlt_SetError("op", message.c_str(), 0);
  const std::string text = qlt_GetErrorString();
  EXPECT_EQ(static_cast<size_t>(QltErrorStringSize - 1), text.size());
  EXPECT_EQ("op\nxxx", text.substr(0, 6));
}

// ---- Message box --------------------------------------------------------

class RecordingUI final : public PlatformUI {
 public:
  int MessageBox(const char* text, const char* caption, unsigned type) override {
    lastText = text;
    lastCaption = caption;
    lastType = type;
    ++calls;
    return answer;
  }
  void ProgressCreate() override {}
  void ProgressSetText(int, const char*) override {}
  void ProgressDestroy() override {}
  void SetCursor(CursorShape) override {}

  std::string lastText, lastCaption;
  unsigned lastType = 0;
  int calls = 0;
  int answer = IDYES;
};

TEST(MessageBoxSafe, ShowsASystemModalBoxAndReturnsTheAnswer) {
  RecordingUI ui;
  SetUi(&ui);
  const int answer = MessageBoxSafe("Save changes?", "Vornix 3D!", MB_YESNO | MB_ICONEXCLAMATION);
  SetUi(nullptr);

  EXPECT_EQ(IDYES, answer);
  EXPECT_EQ(1, ui.calls);
  EXPECT_EQ("Save changes?", ui.lastText);
  EXPECT_EQ("Vornix 3D!", ui.lastCaption);
  EXPECT_EQ(static_cast<unsigned>(MB_YESNO | MB_ICONEXCLAMATION | MB_SYSTEMMODAL), ui.lastType);
}

// ---- Files --------------------------------------------------------------

class QltFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vornix_files_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
  }
  void TearDown() override {
    for (const char* name : {"a", "b"}) unlink(Path(name).c_str());
    rmdir(dir_.c_str());
  }
  std::string Path(const char* name) const { return dir_ + "/" + name; }

  void WriteFile(const char* name, const std::string& content) {
    FILE* f = fopen(Path(name).c_str(), "wb");
    ASSERT_NE(nullptr, f);
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
  }
  std::string ReadFile(const char* name) {
    std::string content;
    FILE* f = fopen(Path(name).c_str(), "rb");
    if (!f) return "<missing>";
    char buffer[256];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, f)) > 0) content.append(buffer, got);
    fclose(f);
    return content;
  }

  std::string dir_;
};

TEST_F(QltFile, CreateAloneOnlyMakesNewFiles) {
  WriteFile("a", "keep");
  EXPECT_EQ(-1, qlt_FileOpen(Path("a").c_str(), QLT_FILE_CREATE));
  EXPECT_EQ(-1, qlt_FileOpen(Path("a").c_str(), QLT_FILE_WRITE | QLT_FILE_CREATE));
  EXPECT_EQ("keep", ReadFile("a"));

  const int handle = qlt_FileOpen(Path("b").c_str(), QLT_FILE_WRITE | QLT_FILE_CREATE);
  ASSERT_GE(handle, 0);
  EXPECT_EQ(1, qlt_FileClose(handle));
  EXPECT_EQ("", ReadFile("b"));
}

TEST_F(QltFile, FoldersAreNotFiles) {
  EXPECT_EQ(-1, qlt_FileOpen(dir_.c_str(), QLT_FILE_READ));
  EXPECT_EQ(-1, qlt_FileOpen(dir_.c_str(), QLT_FILE_READ | QLT_FILE_WRITE));
}

TEST_F(QltFile, WritingFlags28TruncateOrCreate) {
  WriteFile("a", "old content");
  int handle = qlt_FileOpen(Path("a").c_str(), 28);
  ASSERT_GE(handle, 0);
  EXPECT_EQ(0u, qlt_FileSize(handle));
  int32_t done = -1;
  EXPECT_EQ(1, qlt_FileWrite(handle, "new", 3, &done));
  EXPECT_EQ(3, done);
  EXPECT_EQ(1, qlt_FileClose(handle));
  EXPECT_EQ("new", ReadFile("a"));

  handle = qlt_FileOpen(Path("b").c_str(), 28);
  ASSERT_GE(handle, 0);
  EXPECT_EQ(1, qlt_FileClose(handle));
  EXPECT_EQ("", ReadFile("b"));
}

TEST_F(QltFile, TruncateAloneNeedsAnExistingFileAndWriteAccess) {
  EXPECT_EQ(-1, qlt_FileOpen(Path("a").c_str(), QLT_FILE_WRITE | QLT_FILE_TRUNCATE));
  EXPECT_EQ("<missing>", ReadFile("a"));

  WriteFile("a", "data");
  // Read access wins, and a read-only open never empties the file.
  EXPECT_EQ(-1, qlt_FileOpen(Path("a").c_str(), QLT_FILE_READ | QLT_FILE_WRITE | QLT_FILE_TRUNCATE));
  EXPECT_EQ("data", ReadFile("a"));

  const int handle = qlt_FileOpen(Path("a").c_str(), QLT_FILE_WRITE | QLT_FILE_TRUNCATE);
  ASSERT_GE(handle, 0);
  qlt_FileClose(handle);
  EXPECT_EQ("", ReadFile("a"));
}

TEST_F(QltFile, AppendFlagStartsAtTheEnd) {
  WriteFile("a", "abc");
  const int handle = qlt_FileOpen(Path("a").c_str(), QLT_FILE_WRITE | QLT_FILE_APPEND);
  ASSERT_GE(handle, 0);
  EXPECT_EQ(1, qlt_FileWrite(handle, "de", 2));
  qlt_FileClose(handle);
  EXPECT_EQ("abcde", ReadFile("a"));
}

TEST_F(QltFile, AccessFollowsTheFlags) {
  WriteFile("a", "abc");
  char c = 0;
  // 0x06: read wins, so writing fails.
  int handle = qlt_FileOpen(Path("a").c_str(), QLT_FILE_READ | QLT_FILE_WRITE);
  ASSERT_GE(handle, 0);
  EXPECT_EQ(0, qlt_FileWrite(handle, "x", 1));
  EXPECT_EQ(1, qlt_FileRead(handle, &c, 1));
  EXPECT_EQ('a', c);
  qlt_FileClose(handle);

  handle = qlt_FileOpen(Path("a").c_str(), QLT_FILE_WRITE);
  ASSERT_GE(handle, 0);
  EXPECT_EQ(0, qlt_FileRead(handle, &c, 1));
  qlt_FileClose(handle);

  // Neither bit: read and write.
  handle = qlt_FileOpen(Path("a").c_str(), 0);
  ASSERT_GE(handle, 0);
  EXPECT_EQ(1, qlt_FileWrite(handle, "X", 1));
  EXPECT_EQ(1, qlt_FileRead(handle, &c, 1));
  EXPECT_EQ('b', c);
  qlt_FileClose(handle);
  EXPECT_EQ("Xbc", ReadFile("a"));

  EXPECT_EQ(-1, qlt_FileOpen(Path("missing").c_str(), QLT_FILE_READ));
  EXPECT_EQ(-1, qlt_FileOpen(nullptr, QLT_FILE_READ));
}

TEST_F(QltFile, ShortReadSucceedsAndReportsTheBytesMoved) {
  WriteFile("a", "12345");
  const int handle = qlt_FileOpen(Path("a").c_str(), QLT_FILE_READ);
  ASSERT_GE(handle, 0);
  char buffer[16] = {};
  int32_t done = -1;
  EXPECT_EQ(1, qlt_FileRead(handle, buffer, 10, &done));
  EXPECT_EQ(5, done);
  EXPECT_STREQ("12345", buffer);
  EXPECT_EQ(1, qlt_FileRead(handle, buffer, 10, &done));
  EXPECT_EQ(0, done);

  // A count of 0 moves nothing; a negative count is refused untouched.
  EXPECT_EQ(1, qlt_FileRead(handle, nullptr, 0, &done));
  EXPECT_EQ(0, done);
  done = -1;
  EXPECT_EQ(0, qlt_FileRead(handle, buffer, -1, &done));
  EXPECT_EQ(0, done);
  EXPECT_EQ(0, qlt_FileWrite(handle, buffer, -5, &done));
  EXPECT_EQ(0, done);
  EXPECT_EQ(1, qlt_FileClose(handle));

  // A closed handle fails everything.
  EXPECT_EQ(0, qlt_FileRead(handle, buffer, 1, &done));
  EXPECT_EQ(0, qlt_FileSeek(handle, 0, QLT_SEEK_SET));
  EXPECT_EQ(0u, qlt_FileSize(handle));
  EXPECT_EQ(0, qlt_FileClose(-1));
}

TEST(QltFileWrite, AFailedWriteIsReported) {
  const int handle = qlt_FileOpen("/dev/full", QLT_FILE_WRITE);
  if (handle < 0) GTEST_SKIP() << "no /dev/full here";
  int32_t done = -1;
  EXPECT_EQ(0, qlt_FileWrite(handle, "data", 4, &done));
  EXPECT_EQ(0, done);
  qlt_FileClose(handle);
}

TEST_F(QltFile, SeekOriginsAreStartEndAndOtherwiseCurrent) {
  WriteFile("a", "0123456789");
  const int handle = qlt_FileOpen(Path("a").c_str(), QLT_FILE_READ);
  ASSERT_GE(handle, 0);
  EXPECT_EQ(10u, qlt_FileSize(handle));
  auto next = [&] {
    char c = '?';
    qlt_FileRead(handle, &c, 1);
    return c;
  };
  EXPECT_EQ(1, qlt_FileSeek(handle, 3, QLT_SEEK_SET));
  EXPECT_EQ('3', next());
  EXPECT_EQ(1, qlt_FileSeek(handle, 2, QLT_SEEK_CURRENT));
  EXPECT_EQ('6', next());
  EXPECT_EQ(1, qlt_FileSeek(handle, -1, QLT_SEEK_END));
  EXPECT_EQ('9', next());
  EXPECT_EQ(1, qlt_FileSeek(handle, 1, QLT_SEEK_SET));
  EXPECT_EQ(1, qlt_FileSeek(handle, 1, 0));  // not 2 or 4: from the current position
  EXPECT_EQ('2', next());
  EXPECT_EQ(1, qlt_FileSeek(handle, 1, 3));
  EXPECT_EQ('4', next());
  EXPECT_EQ(0, qlt_FileSeek(handle, -1, QLT_SEEK_SET));
  qlt_FileClose(handle);
}

// ---- Timer --------------------------------------------------------------

constexpr uint64_t Microseconds = 1000000;

TEST(QltTimer, CountsInUnitsOf1024PerSecondFromTheSetValue) {
  const uint64_t start = 5 * Microseconds;
  ASSERT_EQ(1, _qlt_StartTimer(start, Microseconds));
  // The start sets the time to 1, so the first reading is 2.
  EXPECT_EQ(2u, _qlt_TimeAt(start));
  EXPECT_EQ(2u + 512u, _qlt_TimeAt(start + Microseconds / 2));
  EXPECT_EQ(2u + 1024u, _qlt_TimeAt(start + Microseconds));
  EXPECT_EQ(2u + 1u, _qlt_TimeAt(start + 977));  // 977 us = 1.0004 units

  _qlt_SetTime(100);
  const uint64_t later = start + 3 * Microseconds;
  EXPECT_EQ(101u, _qlt_TimeAt(later));
  EXPECT_EQ(101u + 1024u, _qlt_TimeAt(later + Microseconds));
  _qlt_InitTimer();
}

TEST(QltTimer, LongSpansAreScaledIn64Bits) {
  ASSERT_EQ(1, _qlt_StartTimer(0, Microseconds));
  EXPECT_EQ(2u, _qlt_TimeAt(0));
  // 0xFFFFFFFF ticks * 1024 overflows 32 bits; the reading must not.
  EXPECT_EQ(2u + 4398046u, _qlt_TimeAt(0xFFFFFFFFull));
  _qlt_InitTimer();
}

TEST(QltTimer, ACarryIntoTheHighHalfContinuesAfterTheLastValue) {
  const uint64_t start = 0xFFF00000ull;
  ASSERT_EQ(1, _qlt_StartTimer(start, Microseconds));
  EXPECT_EQ(2u, _qlt_TimeAt(start));
  const uint32_t last = _qlt_TimeAt(start + 0x80000);
  EXPECT_EQ(2u + 536u, last);
  // The low half alone would read 0x110000 ticks since the base here.
  const uint64_t carried = 0x100010000ull;
  EXPECT_EQ(last + 1, _qlt_TimeAt(carried));
  EXPECT_EQ(last + 1 + 1024, _qlt_TimeAt(carried + Microseconds));
  _qlt_InitTimer();
}

TEST(QltTimer, StartRefusesUnusableFrequencies) {
  EXPECT_EQ(0, _qlt_StartTimer(0, 0));
  EXPECT_STREQ("_qlt_InitTimer\nHigh-resolution performance freq = 0!\n\n", qlt_GetErrorString());
  EXPECT_EQ(0, _qlt_StartTimer(0, 1ull << 32));
  EXPECT_STREQ("_qlt_InitTimer\nHigh-resolution performance counter too fast!\n\n", qlt_GetErrorString());
  // Frequency 0 still gives readings instead of dividing by zero.
  _qlt_StartTimer(0, 0);
  EXPECT_EQ(2u, _qlt_TimeAt(0));
  EXPECT_EQ(2u + 1024u, _qlt_TimeAt(1));
  _qlt_InitTimer();
}

TEST(QltTimer, FollowsTheRealClock) {
  ASSERT_EQ(1, _qlt_InitTimer());
  const uint32_t before = _qlt_GetTime();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const uint32_t after = _qlt_GetTime();
  // 100 ms is 102.4 units; allow the sleep to overrun on a loaded machine.
  EXPECT_GE(after - before, 101u);
  EXPECT_LE(after - before, 102u + 400u);
}

}  // namespace
