// The serial device map of Linux: the device nodes of /dev, or the COM
// COM folder the front end gave.
#include <dirent.h>

#include <cstring>

#include "SerialDeviceMap.h"
#include "SerialDeviceMapDetail.h"

namespace {

std::optional<std::vector<std::string>> ListFolder(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return std::nullopt;
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    names.emplace_back(entry->d_name);
  }
  closedir(dir);
  return names;
}

}  // namespace

std::vector<SerialDeviceEntry> ReadDefaultSerialDeviceMap(const std::string& devDir) {
  return DefaultSerialDeviceMap(devDir, ListFolder(devDir).value_or(std::vector<std::string>{}));
}

std::optional<std::vector<SerialDeviceEntry>> ReadSerialDeviceFolder(const std::string& folder) {
  auto names = ListFolder(folder);
  if (!names) return std::nullopt;
  return SerialDeviceFolderMap(folder, std::move(*names));
}

std::optional<std::vector<SerialDeviceEntry>> ReadSerialDeviceMap(const PortConfig& config) {
  if (config.ComFolder) return ReadSerialDeviceFolder(*config.ComFolder);
  return ReadDefaultSerialDeviceMap("/dev");
}

