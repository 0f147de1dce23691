// A --port argument to the port it names: a device path, or a port name as
// the window shows it (COM34, or the bare 34) looked up in the serial device map.
#pragma once

#include <string>
#include <vector>

#include "SerialDeviceMap.h"

struct NamedPort {
  std::string Name;    // as the user knows it: the map's name, or the argument
  std::string Device;  // empty: a port name the map does not know
};

NamedPort ResolvePortArgument(const std::string& argument, const std::vector<SerialDeviceEntry>& map);
