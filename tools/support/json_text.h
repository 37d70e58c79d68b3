// Pieces of the JSON the tools print.
#pragma once

#include <string>

namespace fx60::tool {

// `text` as a JSON string, quotes included: quotes, backslashes and control
// bytes escaped, so that any file or folder name gives valid output.
std::string jsonString(const std::string& text);

// A single-precision score with every digit it has (nine significant digits
// read back to the same float).
std::string jsonScore(float score);

// A rate or time with fixed decimals.
std::string jsonFixed(double value, int decimals);

}  // namespace fx60::tool
