#include "formats/text_values.h"

#include <cmath>
#include <string>

#include "platform/ui.h"
#include "render/qlt.h"

double FiniteValues::operator()(double value) {
  if (std::isfinite(value)) return value;
  ++replaced_;
  return 0.0;
}

void WarnOfReplacedValues(const FiniteValues& values, const char* path) {
  const int n = values.replaced();
  if (n == 0) return;
  const std::string text =
      std::to_string(n) +
      (n == 1 ? " value that was not a number (infinite or undefined) was"
              : " values that were not numbers (infinite or undefined) were") +
      " written as 0 in " + path + ".";
  MessageBoxSafe(text.c_str(), "Warning", MB_OK);
}

bool QuotableTextureName(int material, const std::string& name) {
  if (name.find('"') == std::string::npos) return true;
  const std::string text = "Material " + std::to_string(material) + "'s texture name " + name +
                           " contains a double quote, which the file format cannot hold. Nothing was written.";
  MessageBoxSafe(text.c_str(), "Error", MB_OK);
  return false;
}
