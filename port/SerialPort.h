// The port backend: what the link needs of an open serial device, and the
// factory that lists and opens ports. One implementation per platform, chosen
// at build time: LinuxSerialPort.cpp, and WinSerialPort.cpp, which maps each
// call onto GetCommState/SetCommState, ClearCommError, ReadFile and WriteFile.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PortConfig.h"
#include "SerialDeviceMap.h"

// The line settings the link sets, named after what they hold (not after
// the Win32 record, which a Windows backend fills from it).
struct LineSettings {
  uint32_t BaudRate = 0;
  uint8_t ByteSize = 8;
  uint8_t Parity = 0;    // 0: no parity
  uint8_t StopBits = 0;  // 0: one stop bit
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;
  virtual bool GetCommState(LineSettings& settings) = 0;
  // False when the device refuses the settings (a rate of zero or below included).
  virtual bool SetCommState(const LineSettings& settings) = 0;
  // Number of bytes queued for input; false when the query fails.
  virtual bool QueuedInput(uint32_t& count) = 0;
  // Never blocks. False on a read error; got holds what was stored.
  virtual bool Read(uint8_t* buffer, uint32_t size, uint32_t& got) = 0;
  // Bounded by WriteBound: false on an error or a stall; written holds what
  // the device took.
  virtual bool Write(const uint8_t* buffer, uint32_t size, uint32_t& written) = 0;
  // True once the device has gone away (hang-up, I/O error), as opposed to a
  // write that stalled: nothing written afterwards can reach the unit.
  virtual bool Gone() const { return false; }
  // Blocks until input is queued, Wake is called or bound passes. A port
  // that cannot wait for input waits one INPUT_POLL_PERIOD.
  virtual void WaitForInput(std::chrono::milliseconds bound);
  // Ends a WaitForInput at once (from any thread).
  virtual void Wake() {}
};

// The platform's port seam: lists the ports (the serial device map), asks
// whether one is free without changing it, and opens one for a job.
class PortFactory {
 public:
  virtual ~PortFactory() = default;
  // nullopt when the map cannot be read.
  virtual std::optional<std::vector<SerialDeviceEntry>> ListPorts() = 0;
  // Whether the device is a port that is free now: no other program holds
  // it. Changes no setting of the device and leaves no mark on it.
  virtual bool Probe(const std::string& devicePath) = 0;
  // Opens the device for exclusive use, marked as held the way other serial
  // programs of the platform look for; null when that fails.
  virtual std::unique_ptr<SerialPort> Open(const std::string& devicePath) = 0;
  // Where the ports and the lock files are, for whoever looks at a port
  // beside the factory (the open-failure diagnosis). A factory that wraps
  // another passes the other's on.
  virtual const PortConfig& Config() const;
};

// The factory of the platform this was built for, listing and locking ports
// where config says.
std::unique_ptr<PortFactory> MakePlatformPortFactory(const PortConfig& config);

// How long a write of size bytes at rate may take before it counts as
// stalled: its line time (ten bit times a byte) with half again as slack,
// plus a margin for scheduling and a driver queue that drains at line rate.
// A rate of 0 (not set yet) counts as 9600.
std::chrono::milliseconds WriteBound(uint32_t size, uint32_t rate);

// How often a port that cannot wait for input, or a driver that ends its
// reads at once, looks again: the link's poll period.
constexpr std::chrono::milliseconds INPUT_POLL_PERIOD{2};
