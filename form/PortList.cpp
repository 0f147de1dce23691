#include "PortList.h"

#include <filesystem>
#include <system_error>

#include "ImageFile.h"
#include "SerialPort.h"

namespace {
// The device path buffer holds 256 characters: "\\.\", the data and a zero.
constexpr size_t kMaxDataLength = 256 - 4 - 1;
}  // namespace

int FourthCharacterNumber(const std::string& data) {
  if (data.size() < 4) return 0;
  const char c = data[3];
  return (c >= '0' && c <= '9') ? c - '0' : 0;
}

std::string DeviceToolTip(const std::string& devicePath) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path path = PathFromUtf8(devicePath);
  if (!fs::is_symlink(path, ec)) return devicePath;
  fs::path target = fs::read_symlink(path, ec);
  if (ec) return devicePath;
  if (target.is_relative()) target = path.parent_path() / target;
  target = fs::absolute(target, ec).lexically_normal();
  return devicePath + " -> " + Utf8FromPath(target);
}

std::vector<PortItem> ListFreePorts(const std::optional<std::vector<SerialDeviceEntry>>& map, PortFactory& ports) {
  std::vector<PortItem> items;
  if (!map) return items;
  for (const SerialDeviceEntry& entry : *map) {
    const int number = FourthCharacterNumber(entry.Data);
    if (number < 1 || number > 255) continue;
    if (entry.Data.size() > kMaxDataLength) continue;
    const auto device = ResolveDevicePath("\\\\.\\" + entry.Data, *map);
    if (!device) continue;
    if (!ports.Probe(*device)) continue;  // absent, held elsewhere or refused; left as it was
    items.push_back({entry.Data.substr(3), DeviceToolTip(*device)});
  }
  return items;
}
