// The port backend: what the link needs of an open serial device. The POSIX
// implementation lives in PosixSerialPort.cpp; a Win32 one would map each call
// onto GetCommState/SetCommState, ClearCommError, ReadFile and WriteFile.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Stand-in for the Win32 line-settings record; only what the link sets.
struct DCB {
  uint32_t BaudRate = 0;
  uint8_t ByteSize = 8;
  uint8_t Parity = 0;    // 0: no parity
  uint8_t StopBits = 0;  // 0: one stop bit
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;
  virtual bool GetCommState(DCB& dcb) = 0;
  // False when the device refuses the settings (a rate of zero or below included).
  virtual bool SetCommState(const DCB& dcb) = 0;
  // Number of bytes queued for input; false when the query fails.
  virtual bool QueuedInput(uint32_t& count) = 0;
  // Never blocks. False on a read error; got holds what was stored.
  virtual bool Read(uint8_t* buffer, uint32_t size, uint32_t& got) = 0;
  // Bounded: gives up after a deadline that follows from size and line rate.
  // False on an error; written holds what the device took (short on a stall).
  virtual bool Write(const uint8_t* buffer, uint32_t size, uint32_t& written) = 0;
  // True once the device has gone away (hang-up, I/O error), as opposed to a
  // write that stalled: nothing written afterwards can reach the unit.
  virtual bool Gone() const { return false; }
};

// Opens a device path (a Linux device node) for exclusive use and marks it
// held the way other serial programs look for: flock, TIOCEXCL and a UUCP lock
// file (when the lock folder is writable), all released on destruction. Null
// when the device is no terminal, cannot be opened, or another program holds
// it by one of those marks.
std::unique_ptr<SerialPort> OpenPosixSerialPort(const std::string& devicePath);

// Whether a device is a terminal that is free to open now: no other program
// holds it by flock, TIOCEXCL or the UUCP lock file of a running process, and
// no other process has it open as far as /proc shows. Changes no setting of
// the device and leaves no mark on it.
bool ProbePosixSerialPort(const std::string& devicePath);

// How the link opens ports. Tests replace it to wrap or refuse the real backend.
using SerialPortOpener = std::function<std::unique_ptr<SerialPort>(const std::string& devicePath)>;
void SetSerialPortOpener(SerialPortOpener opener);  // empty: the POSIX backend
std::unique_ptr<SerialPort> OpenSerialPort(const std::string& devicePath);

// How port discovery asks whether a port is free. Tests may replace it.
using SerialPortProbe = std::function<bool(const std::string& devicePath)>;
void SetSerialPortProbe(SerialPortProbe probe);  // empty: the POSIX probe
bool ProbeSerialPort(const std::string& devicePath);
