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

int WriteFileSafely(const char* path, const std::string& bytes, const char* createFailure,
                    const char* writeFailure) {
  const std::string temporary = std::string(path) + ".vxtmp";
  const int handle = qlt_FileOpen(temporary.c_str(), QLT_FILE_WRITE | QLT_FILE_CREATE | QLT_FILE_TRUNCATE);
  if (handle == -1) {
    ShowPathMessage(createFailure, path, "Error");
    return 0;
  }
  const bool written = WriteExactly(handle, bytes);
  const bool closed = qlt_FileClose(handle) == 1;
  const char* failure = nullptr;
  if (!written) {
    failure = "Could not write file: %s";
  } else if (!closed) {
    failure = "Could not close file: %s";
  } else if (std::rename(temporary.c_str(), path) != 0) {
    failure = "Could not write file: %s";
  }
  if (failure) {
    if (writeFailure) failure = writeFailure;
    std::remove(temporary.c_str());
    ShowPathMessage(failure, path, "Error");
    return 0;
  }
  return 1;
}
