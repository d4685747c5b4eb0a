// Plumbing every reader and writer of the interchange formats shares: path
// messages and whole-file writes that never leave a half-written file.
#pragma once

#include <cstddef>
#include <string>

// Formats a message whose %s (up to three of them) are the path and shows it.
void ShowPathMessage(const char* format, const char* path, const char* caption);

// A file written beside its target and moved into place only when it is
// complete, so a failure leaves an existing file as it was. Its text is
// written out block by block as it grows: a writer at capacity never holds
// the whole file in memory. Messages go under "Error": createFailure (with %s
// for the path) when the file cannot be created, "Could not write file: %s" or
// "Could not close file: %s" otherwise; a writeFailure, when given, stands for
// both of those.
class SafeFile {
 public:
  // Creates the file beside the target; shows createFailure if it cannot.
  SafeFile(const char* path, const char* createFailure, const char* writeFailure = nullptr);
  ~SafeFile();  // an unfinished file is removed
  SafeFile(const SafeFile&) = delete;
  SafeFile& operator=(const SafeFile&) = delete;

  bool opened() const { return handle_ != -1; }
  // The block being filled; Spill after adding to it.
  std::string& text() { return text_; }
  void Spill() {
    if (text_.size() >= BlockSize) WriteBlock();
  }
  // Bytes already in memory, written straight after the block.
  void Write(const std::string& bytes);
  // Writes the rest, closes and moves the file into place. Returns 1, or 0
  // after a message.
  int Finish();

 private:
  static constexpr size_t BlockSize = size_t(256) << 10;
  void Put(const std::string& bytes);
  void WriteBlock();
  std::string path_;
  std::string temporary_;
  const char* writeFailure_;
  int handle_ = -1;
  bool writeFailed_ = false;
  std::string text_;
};

// The whole of bytes as a SafeFile: 1, or 0 after a message.
int WriteFileSafely(const char* path, const std::string& bytes, const char* createFailure,
                    const char* writeFailure = nullptr);
