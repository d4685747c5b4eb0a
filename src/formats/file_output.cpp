#include "formats/file_output.h"

#include <cstdint>
#include <cstdio>

#include "platform/ui.h"
#include "render/qlt.h"

void ShowPathMessage(const char* format, const char* path, const char* caption) {
  char text[3 * 4096 + 512];
  std::snprintf(text, sizeof text, format, path, path, path);
  MessageBoxSafe(text, caption, MB_OK);
}

namespace {

// qlt_FileWrite counts in 32 bits, so a long text goes in pieces.
bool WriteExactly(int handle, const char* bytes, size_t count) {
  constexpr size_t MaxPiece = size_t(1) << 30;
  while (count > 0) {
    const int32_t piece = int32_t(count < MaxPiece ? count : MaxPiece);
    int32_t done = 0;
    if (qlt_FileWrite(handle, bytes, piece, &done) != 1 || done != piece) return false;
    bytes += piece;
    count -= size_t(piece);
  }
  return true;
}

}  // namespace

SafeFile::SafeFile(const char* path, const char* createFailure, const char* writeFailure)
    : path_(path), temporary_(path_ + ".vxtmp"), writeFailure_(writeFailure) {
  handle_ = qlt_FileOpen(temporary_.c_str(), QLT_FILE_WRITE | QLT_FILE_CREATE | QLT_FILE_TRUNCATE);
  if (handle_ == -1) {
    ShowPathMessage(createFailure, path, "Error");
    return;
  }
  // A line may run past the block's end before the next spill.
  text_.reserve(BlockSize + 4096);
}

SafeFile::~SafeFile() {
  if (handle_ == -1) return;
  qlt_FileClose(handle_);
  std::remove(temporary_.c_str());
}

void SafeFile::WriteBlock() {
  // After a failed write the rest is dropped; Finish reports it.
  if (!writeFailed_) writeFailed_ = !WriteExactly(handle_, text_.data(), text_.size());
  text_.clear();
}

void SafeFile::Write(const std::string& bytes) {
  WriteBlock();
  if (!writeFailed_) writeFailed_ = !WriteExactly(handle_, bytes.data(), bytes.size());
}

int SafeFile::Finish() {
  if (handle_ == -1) return 0;
  WriteBlock();
  const bool closed = qlt_FileClose(handle_) == 1;
  handle_ = -1;
  const char* failure = nullptr;
  if (writeFailed_) {
    failure = "Could not write file: %s";
  } else if (!closed) {
    failure = "Could not close file: %s";
  } else if (std::rename(temporary_.c_str(), path_.c_str()) != 0) {
    failure = "Could not write file: %s";
  }
  if (!failure) return 1;
  if (writeFailure_) failure = writeFailure_;
  std::remove(temporary_.c_str());
  ShowPathMessage(failure, path_.c_str(), "Error");
  return 0;
}

int WriteFileSafely(const char* path, const std::string& bytes, const char* createFailure,
                    const char* writeFailure) {
  SafeFile file(path, createFailure, writeFailure);
  if (!file.opened()) return 0;
  file.Write(bytes);
  return file.Finish();
}
