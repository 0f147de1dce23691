#include "SerialDeviceMap.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "SerialDeviceMapDetail.h"

namespace {

// "ttyUSB12" with prefix "ttyUSB" gives 12; -1 when the rest is not a plain number.
long NodeNumber(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return -1;
  long number = 0;
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    const char c = name[i];
    if (c < '0' || c > '9') return -1;
    if (i > prefix.size() && name[prefix.size()] == '0') return -1;  // "ttyS01" is no node name
    number = number * 10 + (c - '0');
    if (number > 1000000) return -1;
  }
  return number;
}

bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

std::vector<SerialDeviceEntry> DefaultSerialDeviceMap(const std::string& devDir,
                                                     const std::vector<std::string>& names) {
  struct Kind {
    const char* prefix;
    long firstCom;
  };
  static const Kind kinds[] = {{"ttyS", 1}, {"ttyUSB", 33}, {"ttyACM", 65}};
  std::vector<std::tuple<int, long, std::string>> found;  // kind, number, name
  for (const std::string& name : names) {
    for (int k = 0; k < 3; ++k) {
      const long number = NodeNumber(name, kinds[k].prefix);
      if (number >= 0) found.emplace_back(k, number, name);
    }
  }
  std::sort(found.begin(), found.end());
  std::vector<SerialDeviceEntry> map;
  for (const auto& [k, number, name] : found) {
    map.push_back({devDir + "/" + name, "COM" + std::to_string(number + kinds[k].firstCom)});
  }
  return map;
}

std::vector<SerialDeviceEntry> SerialDeviceFolderMap(const std::string& folder, std::vector<std::string> names) {
  std::sort(names.begin(), names.end());  // byte order
  std::vector<SerialDeviceEntry> map;
  for (const std::string& name : names) map.push_back({folder + "/" + name, name});
  return map;
}

std::optional<std::string> ResolveDevicePath(const std::string& windowsPath,
                                             const std::vector<SerialDeviceEntry>& map) {
  static const std::string prefix = "\\\\.\\";
  if (windowsPath.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  const std::string data = windowsPath.substr(prefix.size());
  if (data.empty()) return std::nullopt;
  for (const SerialDeviceEntry& entry : map) {
    if (entry.Data == data) return entry.ValueName;
  }
  // Device names are matched without regard to case, as Windows does ("\\.\com3").
  for (const SerialDeviceEntry& entry : map) {
    if (EqualsIgnoringAsciiCase(entry.Data, data)) return entry.ValueName;
  }
  return std::nullopt;
}
