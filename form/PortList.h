// The port box's items: the free COM ports of the serial device map, found
// once when the window is made.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "SerialDeviceMap.h"

class PortFactory;

struct PortItem {
  std::string Text;     // the bare number: the data from its 4th character on ("12" for COM12)
  std::string ToolTip;  // the device behind it: its path, and where a link leads
};

// Data of a serial device map entry: the port number is its 4th character,
// converted alone; not a digit, or no 4th character, is 0.
int FourthCharacterNumber(const std::string& data);

// The items in map order: each entry whose 4th character is 1 to 9, whose
// data fits the 256-byte device path with "\\.\" and a zero, that resolves to
// a device and that the probe finds free. No map (the key cannot be opened):
// no items. The probe changes no port.
std::vector<PortItem> ListFreePorts(const std::optional<std::vector<SerialDeviceEntry>>& map, PortFactory& ports);

// The tooltip naming a device: its path, and for a symbolic link " -> " and
// the absolute path it leads to.
std::string DeviceToolTip(const std::string& devicePath);
