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

bool WriteExactly(int handle, const std::string& bytes) {
  if (bytes.size() > size_t(INT32_MAX)) return false;
  const int32_t count = int32_t(bytes.size());
  int32_t done = 0;
  return qlt_FileWrite(handle, bytes.data(), count, &done) == 1 && done == count;
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

void SafeFile::Put(const std::string& bytes) {
  // After a failed write the rest is dropped; Finish reports it.
  if (!writeFailed_) writeFailed_ = !WriteExactly(handle_, bytes);
}

void SafeFile::WriteBlock() {
  Put(text_);
  text_.clear();
}

void SafeFile::Write(const std::string& bytes) {
  WriteBlock();
  Put(bytes);
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
