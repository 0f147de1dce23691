// The Win32 port backend: CreateFileW on "\\.\COMn", the line through
// GetCommState/SetCommState, ClearCommError for the bytes waiting, and
// overlapped ReadFile/WriteFile so that waits are bounded and can be ended.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "SerialPort.h"

// Opens the port for exclusive use (no sharing); null when that fails, with
// the Win32 error left for GetLastError.
std::unique_ptr<SerialPort> OpenWinSerialPort(const std::string& devicePath);

// Whether the port opens now: opened exclusively and closed at once, without
// a setting changed.
bool ProbeWinSerialPort(const std::string& devicePath);

// The Windows factory: the registry's port list, the probe and the open
// above. Its config is kept for those who ask; Windows needs none of it.
class WinPortFactory : public PortFactory {
 public:
  explicit WinPortFactory(PortConfig config) : config_(std::move(config)) {}
  std::optional<std::vector<SerialDeviceEntry>> ListPorts() override;
  bool Probe(const std::string& devicePath) override;
  std::unique_ptr<SerialPort> Open(const std::string& devicePath) override;
  const PortConfig& Config() const override { return config_; }

 private:
  const PortConfig config_;
};
