// The Linux port backend (termios2, flock, TIOCEXCL, UUCP lock files, /proc).
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "SerialPort.h"

// Opens a device node for exclusive use and marks it held the way other
// serial programs look for: flock, TIOCEXCL and a UUCP lock file (when the
// lock folder is writable), all released on destruction. Null when the device
// is no terminal, cannot be opened, or another program holds it by one of
// those marks. The lock files are looked for and made where config says.
std::unique_ptr<SerialPort> OpenLinuxSerialPort(const std::string& devicePath, const PortConfig& config);

// Whether a device is a terminal that is free to open now: no other program
// holds it by flock, TIOCEXCL or the UUCP lock file of a running process, and
// no other process has it open as far as /proc shows. Changes no setting of
// the device and leaves no mark on it. Lock files count in the folders of config.
bool ProbeLinuxSerialPort(const std::string& devicePath, const PortConfig& config);

// The Linux factory: the device map of /dev (or of the COM folder), the probe
// and the open above, all with the folders of its config.
class LinuxPortFactory : public PortFactory {
 public:
  explicit LinuxPortFactory(PortConfig config) : config_(std::move(config)) {}
  std::optional<std::vector<SerialDeviceEntry>> ListPorts() override;
  bool Probe(const std::string& devicePath) override;
  std::unique_ptr<SerialPort> Open(const std::string& devicePath) override;
  const PortConfig& Config() const override { return config_; }

 private:
  const PortConfig config_;
};
