// The flash loader's verdict, written out a second way for the fuzz targets
// to hold the sender's test against: a success needs a line with
// "erfolgreich" and no "nicht" or "kein" before it in that line, and no line
// may say "fehlgeschlagen" or "error"; letter case does not count; nothing
// after the first zero byte counts.
#pragma once

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mfu::fuzz {

inline bool ReferenceVerdict(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> lines(1);
  for (std::size_t i = 0; i < size && data[i] != 0; ++i) {
    const char c = static_cast<char>(std::tolower(data[i]));
    if (c == '\r' || c == '\n') {
      lines.emplace_back();
    } else {
      lines.back() += c;
    }
  }
  bool success = false;
  for (const std::string& line : lines) {
    if (line.find("fehlgeschlagen") != std::string::npos || line.find("error") != std::string::npos) return false;
    const std::size_t word = line.find("erfolgreich");
    if (word == std::string::npos) continue;
    const std::string before = line.substr(0, word);
    success = success || (before.find("nicht") == std::string::npos && before.find("kein") == std::string::npos);
  }
  return success;
}

}  // namespace mfu::fuzz
