// The serial device map of Windows: the values of the registry key
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "SerialDeviceMap.h"

// The map of the key subkey under root, opened read-only: one entry per value
// whose data is text (REG_SZ or REG_EXPAND_SZ), in the registry's enumeration
// order, with Data the value's data ("COM3") and ValueName the path that
// opens the port ("\\.\COM3"). Values that are not text, or whose data is too
// long for a device path, are skipped. nullopt when the key cannot be opened.
std::optional<std::vector<SerialDeviceEntry>> ReadSerialDeviceMapFromKey(HKEY root, const std::wstring& subkey);
