// What the window takes from a form framework and that no toolkit gives it,
// without a toolkit: the framework's exception class, its integer conversion
// of a text and the text rule of its exception display. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

// The framework's exception class: a message text.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// The framework's integer conversion (StrToInt): optional leading blanks, an
// optional sign, decimal digits or a hex number ($1F, 0x1F); the whole text
// must be used and the value must fit 32 bits. Otherwise throws
// Exception("'<text>' is not a valid integer value").
int32_t StrToInt(const std::string& text);

// The exception display's text: the message, with "." appended when the
// message is not empty and its last character's code is above that of ".".
std::string ExceptionDisplayText(const std::string& message);
