// The serial device map: the list of serial ports. On Windows it is the
// registry's SERIALCOMM key (WinSerialDeviceMap.cpp); on Linux it stands in
// for it (LinuxSerialDeviceMap.cpp; see README for LUMO_COMPORT_DIR).
// Pairs of (value name, data): the value name is the path that opens the
// port, the data the port's name text (COM3 ...).
#pragma once

#include <optional>
#include <string>
#include <vector>

struct SerialDeviceEntry {
  std::string ValueName;  // device path
  std::string Data;       // COM<n> by convention, any text in a COM folder
};

// nullopt when the map cannot be opened (a LUMO_COMPORT_DIR that does not exist).
std::optional<std::vector<SerialDeviceEntry>> ReadSerialDeviceMap();

// "\\.\COM12" (or any "\\.\<data>") to the device path of the entry whose data
// matches; nullopt when no entry does.
std::optional<std::string> ResolveDevicePath(const std::string& windowsPath);

// The same against a map read earlier (a port list and the job it starts
// resolve through one reading).
std::optional<std::string> ResolveDevicePath(const std::string& windowsPath,
                                             const std::vector<SerialDeviceEntry>& map);
