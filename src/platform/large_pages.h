// Advice that a large table be backed by 2 MB pages: a file at capacity
// touches thousands of fresh 4 KB pages of the program's tables on its first
// use, and each first touch costs a page fault. Only advice; the tables work
// the same without it.
#pragma once

#include <cstddef>

constexpr size_t LargePageSize = size_t(2) << 20;

// For the whole 2 MB pages inside [begin, begin + bytes).
void AdviseLargePages(void* begin, size_t bytes);
