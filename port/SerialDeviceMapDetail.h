// Internals of the serial device map, open to tests.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "SerialDeviceMap.h"

// The default map from the names of a device folder's entries, devDir being
// the folder's path: the rules of ReadDefaultSerialDeviceMap, without the folder.
std::vector<SerialDeviceEntry> DefaultSerialDeviceMap(const std::string& devDir,
                                                     const std::vector<std::string>& names);

// The map of a COM folder from the names of its entries.
std::vector<SerialDeviceEntry> SerialDeviceFolderMap(const std::string& folder, std::vector<std::string> names);

// The default map from the device nodes of devDir ("/dev" in the product):
// ttyS<k> is COM<k+1>, ttyUSB<k> COM<k+33>, ttyACM<k> COM<k+65>; ttyS, then
// ttyUSB, then ttyACM, each by number.
std::vector<SerialDeviceEntry> ReadDefaultSerialDeviceMap(const std::string& devDir);

// The map of a COM folder: one pair per entry, value name = entry path, data =
// entry name, in byte order of the names. nullopt when the folder cannot be read.
std::optional<std::vector<SerialDeviceEntry>> ReadSerialDeviceFolder(const std::string& folder);
