// What the text writers share so that every file they write reads back:
// numbers that are not finite become 0, and names that a quoted string
// cannot hold are refused.
#pragma once

#include <string>

// Passes finite values through and turns the others into 0, counting them
// for the one warning after the file is written.
class FiniteValues {
 public:
  double operator()(float value) { return (*this)(double(value)); }
  double operator()(double value);
  int replaced() const { return replaced_; }

 private:
  int replaced_ = 0;
};

// After a written file: one warning under "Warning" naming the file and how
// many values were written as 0; nothing when there were none.
void WarnOfReplacedValues(const FiniteValues& values, const char* path);

// False, after a message under "Error" naming the material, when the name
// holds a double quote; the caller then writes nothing.
bool QuotableTextureName(int material, const std::string& name);
