// The library's services that need no display device: the last-error text,
// the message box, the file wrappers and the 1/1024-second timer.

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/ui.h"
#include "render/library_state.h"
#include "render/qlt.h"

// ---- Last-error text ----------------------------------------------------

char _qlt_ErrorString[QltErrorStringSize];

void _qlt_SetError(const char* operation, const char* message, int32_t result) {
  // Put together aside first, so that a caller may pass the current text
  // as the message; by hand, as some callers fail thousands of times a
  // frame.
  char text[QltErrorStringSize];
  size_t length = 0;
  for (const char* part : {operation ? operation : "", "\n", message ? message : "", "\n", qlt_ErrorText(result), "\n"}) {
    const size_t n = std::min(strlen(part), sizeof text - 1 - length);
    memcpy(text + length, part, n);
    length += n;
  }
  text[length] = '\0';
  memcpy(_qlt_ErrorString, text, length + 1);
}

const char* qlt_GetErrorString() { return _qlt_ErrorString; }

// ---- Message box --------------------------------------------------------

int MessageBoxSafe(const char* text, const char* caption, unsigned type) {
  // The box must be seen over the full-screen display: an open scene is
  // closed and the desktop surface flipped to the front first. Before the
  // display device exists the box is simply shown. The frame stays open for
  // the library (_qlt_RenderActive unchanged), and only a scene that was
  // really closed is begun again.
  const bool sceneClosed = _qlt_RenderActive && _qlt_Device && _qlt_Device->EndScene() == D3D_OK;
  if (_qlt_DirectDraw2) _qlt_DirectDraw2->FlipToGDISurface();
  const int answer = Ui().MessageBox(text, caption, type | MB_SYSTEMMODAL);
  if (sceneClosed) _qlt_Device->BeginScene();
  return answer;
}

// ---- Files --------------------------------------------------------------

namespace {

// Read only wins over write only; neither means both.
int AccessMode(int flags) {
  if (flags & QLT_FILE_READ) return O_RDONLY;
  if (flags & QLT_FILE_WRITE) return O_WRONLY;
  return O_RDWR;
}

// Create and truncate: always a fresh empty file; create alone: only a new
// file; truncate alone: an existing file emptied; neither: an existing file.
int CreationMode(int flags) {
  const bool create = (flags & QLT_FILE_CREATE) != 0;
  const bool truncate = (flags & QLT_FILE_TRUNCATE) != 0;
  if (create && truncate) return O_CREAT | O_TRUNC;
  if (create) return O_CREAT | O_EXCL;
  if (truncate) return O_TRUNC;
  return 0;
}

}  // namespace

int qlt_FileOpen(const char* name, int flags) {
  if (!name) return -1;
  const int access = AccessMode(flags);
  const int creation = CreationMode(flags);
  // Emptying an existing file needs write access; a read-only open must
  // never destroy the file it was asked to read.
  if (creation == O_TRUNC && access == O_RDONLY) return -1;
  // Opening a FIFO for reading would wait for a writer: opened without
  // waiting, refused below, and regular files read as before.
  const bool reading = access == O_RDONLY;
  int handle;
  do {
    handle = open(name, access | creation | O_CLOEXEC | (reading ? O_NONBLOCK : 0), 0666);
  } while (handle < 0 && errno == EINTR);
  if (handle < 0) return -1;
  // A folder is no file to read or write, as on the system this library
  // was first written for. Only a regular file of a bounded size is read:
  // a FIFO or a device never ends, and a huge file only exhausts memory.
  struct stat info {};
  const bool refused = fstat(handle, &info) != 0 || S_ISDIR(info.st_mode) ||
                       (reading && (!S_ISREG(info.st_mode) || info.st_size > QltMaxReadFileSize));
  if (refused || (reading && fcntl(handle, F_SETFL, fcntl(handle, F_GETFL) & ~O_NONBLOCK) != 0)) {
    close(handle);
    return -1;
  }
  if (flags & QLT_FILE_APPEND) lseek(handle, 0, SEEK_END);
  return handle;
}

namespace {

// Moves up to count bytes with repeated calls of `move` (read or write)
// until all are moved, the end of the file is reached or a call fails;
// *done gets the bytes moved.
template <typename Move>
int MoveBytes(int handle, bool hasBuffer, int32_t count, int32_t* done, Move move) {
  int32_t total = 0;
  int result = 1;
  if (handle < 0 || count < 0 || (count > 0 && !hasBuffer)) result = 0;
  while (result && total < count) {
    const ssize_t moved = move(total, static_cast<size_t>(count - total));
    if (moved < 0 && errno == EINTR) continue;
    if (moved < 0) result = 0;
    if (moved <= 0) break;
    total += static_cast<int32_t>(moved);
  }
  if (done) *done = total;
  return result;
}

}  // namespace

int qlt_FileRead(int handle, void* buffer, int32_t count, int32_t* done) {
  char* bytes = static_cast<char*>(buffer);
  return MoveBytes(handle, buffer != nullptr, count, done,
                   [&](int32_t at, size_t n) { return read(handle, bytes + at, n); });
}

int qlt_FileWrite(int handle, const void* buffer, int32_t count, int32_t* done) {
  const char* bytes = static_cast<const char*>(buffer);
  return MoveBytes(handle, buffer != nullptr, count, done,
                   [&](int32_t at, size_t n) { return write(handle, bytes + at, n); });
}

int qlt_FileClose(int handle) {
  if (handle < 0) return 0;
  // Not retried on EINTR: the descriptor is released either way.
  return close(handle) == 0 ? 1 : 0;
}

int qlt_FileSeek(int handle, int32_t distance, int origin) {
  int whence = SEEK_CUR;
  if (origin == QLT_SEEK_SET) whence = SEEK_SET;
  if (origin == QLT_SEEK_END) whence = SEEK_END;
  return lseek(handle, distance, whence) < 0 ? 0 : 1;
}

// 0 when the size cannot be read, so that a reader sees an empty file
// rather than a huge one.
uint32_t qlt_FileSize(int handle) {
  struct stat status;
  if (fstat(handle, &status) != 0) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(status.st_size));
}

// ---- Timer --------------------------------------------------------------

namespace {

struct QltTimer {
  uint64_t frequency;
  uint32_t baseLow;
  uint32_t baseHigh;
  uint32_t offset;
  uint32_t lastValue;
  int setPending;
  uint32_t setValue;
};

QltTimer _qlt_Timer;

uint32_t LowHalf(uint64_t value) { return static_cast<uint32_t>(value); }
uint32_t HighHalf(uint64_t value) { return static_cast<uint32_t>(value >> 32); }

void Rebase(uint64_t counter, uint32_t offset) {
  _qlt_Timer.baseLow = LowHalf(counter);
  _qlt_Timer.baseHigh = HighHalf(counter);
  _qlt_Timer.offset = offset;
}

}  // namespace

int _qlt_StartTimer(uint64_t counter, uint64_t frequency) {
  _qlt_Timer = QltTimer{};
  _qlt_SetTime(1);
  Rebase(counter, 0);
  _qlt_Timer.frequency = frequency;
  if (HighHalf(frequency) != 0) {
    _qlt_SetError("_qlt_InitTimer", "High-resolution performance counter too fast!", 0);
    return 0;
  }
  if (LowHalf(frequency) == 0) {
    _qlt_SetError("_qlt_InitTimer", "High-resolution performance freq = 0!", 0);
    return 0;
  }
  return 1;
}

uint32_t _qlt_TimeAt(uint64_t counter) {
  // A carry into the high half starts a new base, continuing after the last
  // value returned.
  if (HighHalf(counter) != _qlt_Timer.baseHigh) Rebase(counter, _qlt_Timer.lastValue + 1);
  if (_qlt_Timer.setPending) {
    Rebase(counter, _qlt_Timer.setValue + 1);
    _qlt_Timer.setPending = 0;
  }
  const uint32_t elapsed = LowHalf(counter) - _qlt_Timer.baseLow;
  const uint64_t scaled = static_cast<uint64_t>(elapsed) * 1024u;
  const uint32_t frequency = LowHalf(_qlt_Timer.frequency);
  const uint64_t units = frequency != 0 ? scaled / frequency : scaled;
  _qlt_Timer.lastValue = static_cast<uint32_t>(units) + _qlt_Timer.offset;
  return _qlt_Timer.lastValue;
}

int _qlt_InitTimer() { return _qlt_StartTimer(PlatformCounter(), PlatformCounterFrequency()); }

uint32_t _qlt_GetTime() { return _qlt_TimeAt(PlatformCounter()); }

void _qlt_SetTime(uint32_t value) {
  _qlt_Timer.setValue = value;
  _qlt_Timer.setPending = 1;
}
