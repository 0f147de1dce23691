// Why a port could not be opened, on Windows: the open tried once more and
// what the system says of it. Windows does not tell who holds a port.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "PortDiagnosis.h"
#include "WinText.h"

namespace {

// The ports of the registry's list (Windows lists only those present), one
// line each.
std::string PortList(PortFactory& ports, const std::string& except) {
  const auto map = ports.ListPorts();
  if (!map) return "The list of ports cannot be read.";
  std::vector<const SerialDeviceEntry*> present;
  size_t width = 0;
  for (const SerialDeviceEntry& entry : *map) {
    if (entry.ValueName == except) continue;
    present.push_back(&entry);
    width = std::max(width, entry.Data.size());
  }
  if (present.empty()) return "No serial port exists now.";
  std::string text = "Ports that exist now:";
  for (const SerialDeviceEntry* entry : present) {
    text += "\n  " + entry->Data + std::string(width - entry->Data.size() + 2, ' ') + entry->ValueName;
  }
  return text;
}

}  // namespace

OpenFailure DiagnoseOpenFailure(const std::string& devicePath, PortFactory& ports) {
  const std::string checkName = "Check the port's name, and that its adapter is plugged in (a USB adapter's port is "
                                "there only while it is).\n";
  if (devicePath.empty()) {
    return {OpenFailureCause::NoSuchDevice, "No device was named for the port", checkName + PortList(ports, "")};
  }
  // As the job opens it: exclusively. Tried only, and closed at once.
  const HANDLE handle = CreateFileW(Widen(devicePath).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    // Reading the line's state changes nothing; only a serial port has one.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const bool serial = GetCommState(handle, &dcb) != 0;
    CloseHandle(handle);
    if (!serial) {
      return {OpenFailureCause::Other, devicePath + " is not a serial port",
              "Choose a serial port that is there and works.\n" + PortList(ports, devicePath)};
    }
    return {OpenFailureCause::Other, devicePath + " opens now and nothing holds it",
            "Whatever held the port has let it go: try again."};
  }
  const DWORD error = GetLastError();
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
      return {OpenFailureCause::NoSuchDevice, devicePath + " does not exist", checkName + PortList(ports, devicePath)};
    // Windows answers a port that another program has open with "access
    // denied"; it does not say which program that is.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return {OpenFailureCause::HeldByAnotherProcess, devicePath + " is held by another program",
              "Close the program that uses the port (a terminal program, or another download on this port) or "
              "wait until it is done, then try again."};
    default:
      return {OpenFailureCause::Other, "opening " + devicePath + " failed: " + SystemErrorText(error),
              "Choose a serial port that is there and works.\n" + PortList(ports, devicePath)};
  }
}
