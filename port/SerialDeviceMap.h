// The serial device map: the list of serial ports. On Windows it is the
// registry's SERIALCOMM key (WinSerialDeviceMap.cpp); on Linux it stands in
// for it (LinuxSerialDeviceMap.cpp: /dev, or the COM folder of PortConfig).
// Pairs of (value name, data): the value name is the path that opens the
// port, the data the port's name text (COM3 ...).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "PortConfig.h"

struct SerialDeviceEntry {
  std::string ValueName;  // device path
  std::string Data;       // COM<n> by convention, any text in a COM folder
};

// The map as config places it; nullopt when it cannot be opened (a COM
// folder that does not exist).
std::optional<std::vector<SerialDeviceEntry>> ReadSerialDeviceMap(const PortConfig& config);

// "\\.\COM12" (or any "\\.\<data>") to the device path of the entry of map
// whose data matches; nullopt when no entry does.
std::optional<std::string> ResolveDevicePath(const std::string& windowsPath,
                                             const std::vector<SerialDeviceEntry>& map);
