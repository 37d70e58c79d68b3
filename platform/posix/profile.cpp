#include "platform/profile.h"

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>

namespace fx60::platform {

namespace {

std::string_view trim(std::string_view text) {
  constexpr std::string_view blanks = " \t\r\n";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The raw value of the first matching key of the first matching section.
std::optional<std::string> findValue(const std::filesystem::path& file, std::string_view section,
                                     std::string_view key) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  bool inSection = false;
  std::string line;
  while (std::getline(in, line)) {
    const std::string_view text = trim(line);
    if (text.empty() || text.front() == ';') continue;
    if (text.front() == '[') {
      const size_t close = text.find(']');
      inSection = close != std::string_view::npos && equalIgnoringCase(trim(text.substr(1, close - 1)), section);
      continue;
    }
    if (!inSection) continue;
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos || !equalIgnoringCase(trim(text.substr(0, equals)), key)) continue;
    std::string_view value = trim(text.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return std::string(value);
  }
  return std::nullopt;
}

}  // namespace

int readProfileInt(const std::filesystem::path& file, std::string_view section, std::string_view key,
                   int defaultValue) {
  const std::optional<std::string> value = findValue(file, section, key);
  if (!value || value->empty()) return defaultValue;

  size_t at = 0;
  while (at < value->size() && ((*value)[at] == ' ' || (*value)[at] == '\t')) ++at;
  bool negative = false;
  if (at < value->size() && ((*value)[at] == '+' || (*value)[at] == '-')) negative = (*value)[at++] == '-';
  uint32_t magnitude = 0;  // wraps around, as the Windows reader does
  for (; at < value->size() && (*value)[at] >= '0' && (*value)[at] <= '9'; ++at)
    magnitude = magnitude * 10u + static_cast<uint32_t>((*value)[at] - '0');
  if (negative) magnitude = 0u - magnitude;
  return static_cast<int>(magnitude);
}

}  // namespace fx60::platform
