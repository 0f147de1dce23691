// The Linux port backend (termios2, flock, TIOCEXCL, UUCP lock files, /proc).
#pragma once

#include <memory>
#include <string>

#include "SerialPort.h"

// Opens a device node for exclusive use and marks it held the way other
// serial programs look for: flock, TIOCEXCL and a UUCP lock file (when the
// lock folder is writable), all released on destruction. Null when the device
// is no terminal, cannot be opened, or another program holds it by one of
// those marks.
std::unique_ptr<SerialPort> OpenLinuxSerialPort(const std::string& devicePath);

// Whether a device is a terminal that is free to open now: no other program
// holds it by flock, TIOCEXCL or the UUCP lock file of a running process, and
// no other process has it open as far as /proc shows. Changes no setting of
// the device and leaves no mark on it.
bool ProbeLinuxSerialPort(const std::string& devicePath);

// The Linux factory: the device map of /dev (or LUMO_COMPORT_DIR), the probe
// and the open above.
class LinuxPortFactory : public PortFactory {
 public:
  std::optional<std::vector<SerialDeviceEntry>> ListPorts() override;
  bool Probe(const std::string& devicePath) override;
  std::unique_ptr<SerialPort> Open(const std::string& devicePath) override;
};
