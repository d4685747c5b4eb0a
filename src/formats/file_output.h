// Plumbing every reader and writer of the interchange formats shares: path
// messages and whole-file writes that never leave a half-written file.
#pragma once

#include <string>

// Formats a message whose %s (up to three of them) are the path and shows it.
void ShowPathMessage(const char* format, const char* path, const char* caption);

// Writes the bytes beside the target and moves them into place only when they
// are complete, so a failure leaves an existing file as it was. Returns 1, or 0
// after a message under "Error": createFailure (with %s for the path) when the
// file cannot be created, "Could not write file: %s" or "Could not close file:
// %s" otherwise; a writeFailure, when given, stands for both of those.
int WriteFileSafely(const char* path, const std::string& bytes, const char* createFailure,
                    const char* writeFailure = nullptr);
