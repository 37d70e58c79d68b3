#include "tools/support/json_text.h"

#include <cstdio>

namespace fx60::tool {

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned char>(c));
      out += code;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string jsonScore(float score) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(score));
  return text;
}

std::string jsonFixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

}  // namespace fx60::tool
