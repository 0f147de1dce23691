// Test support: bytes as hex digits, two a byte, no blanks ("0A1B").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumo_test {

inline std::string HexText(const std::vector<uint8_t>& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t b : bytes) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

}  // namespace lumo_test
