#include "FrameworkRules.h"

int32_t StrToInt(const std::string& text) {
  const auto invalid = [&text]() { return Exception("'" + text + "' is not a valid integer value"); };
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < n && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= n) throw invalid();
  uint64_t value = 0;
  for (; i < n; ++i) {
    // Bytes of a multi-byte character are no digits: the text is refused.
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      throw invalid();
    }
    value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFull) throw invalid();
  }
  if (hex) {
    // A hex number is the 32-bit pattern: $FFFFFFFF is -1.
    const auto bits = static_cast<int32_t>(static_cast<uint32_t>(value));
    return negative ? static_cast<int32_t>(0u - static_cast<uint32_t>(bits)) : bits;
  }
  if (negative) {
    if (value > 2147483648ull) throw invalid();
    return static_cast<int32_t>(-static_cast<int64_t>(value));
  }
  if (value > 2147483647ull) throw invalid();
  return static_cast<int32_t>(value);
}

std::string ExceptionDisplayText(const std::string& message) {
  // The last byte of a multi-byte UTF-8 character is above "." as well as
  // the character's code.
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + '.';
  return message;
}
