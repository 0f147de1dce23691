#include "PortArgument.h"

#include <algorithm>

namespace {

bool SameIgnoringAsciiCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
           return upper(x) == upper(y);
         });
}

bool AllDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

NamedPort ResolvePortArgument(const std::string& argument, const std::vector<SerialDeviceEntry>& map) {
  // The window's port box shows bare numbers: 34 is COM34.
  const std::string name = AllDigits(argument) ? "COM" + argument : argument;
  for (const SerialDeviceEntry& entry : map) {
    if (SameIgnoringAsciiCase(entry.Data, name)) return {entry.Data, entry.ValueName};
  }
  for (const SerialDeviceEntry& entry : map) {
    if (entry.ValueName == argument) return {entry.Data, entry.ValueName};
  }
  // A path the map does not list is still opened as given; a name is not a path.
  if (argument.find('/') != std::string::npos || argument.find('\\') != std::string::npos) return {argument, argument};
  return {name, ""};
}
