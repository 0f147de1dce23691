// Win32 port backend. Every call that could wait is overlapped, so that each
// wait has its bound and the receive thread's wait ends at once on Wake.
#include "WinSerialPort.h"

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>

#include "WinSerialDeviceMap.h"
#include "WinText.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long the driver lets a read with nothing queued wait for its first
// byte. Only WaitForInput issues such a read, and it goes on reading until
// its own bound; Read asks only for what is queued and so returns at once.
constexpr DWORD READ_WAIT_MS = 60000;

// A read of bytes that ClearCommError has counted completes at once; should
// they be gone all the same, Read gives up after this and returns what it has.
constexpr DWORD QUEUED_READ_BOUND_MS = 20;

HANDLE OpenExclusive(const std::string& devicePath, DWORD flags) {
  const std::wstring path = Widen(devicePath);
  if (path.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  // No sharing: a port that another program holds fails to open.
  return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags, nullptr);
}

// Errors after which nothing written can reach the unit: the device went away
// (a USB adapter pulled out, the far end of a pseudo-terminal under Wine
// closed) or its handle is no longer any use.
bool MeansGone(DWORD error) {
  switch (error) {
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_NOT_READY:
    case ERROR_BROKEN_PIPE:
    case ERROR_ACCESS_DENIED:
      return true;
    default:
      return false;
  }
}

DWORD MillisecondsUntil(Clock::time_point end) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<DWORD>(std::min<int64_t>(left, INFINITE - 1));
}

class WinSerialPort final : public SerialPort {
 public:
  explicit WinSerialPort(HANDLE handle)
      : handle_(handle),
        wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
        readEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        writeEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    // A 1 ms timer while a port is open: the job's short pauses would
    // otherwise take Windows' whole 15.6 ms tick.
    finerTimer_ = timeBeginPeriod(1) == TIMERR_NOERROR;
  }
  WinSerialPort(const WinSerialPort&) = delete;
  WinSerialPort& operator=(const WinSerialPort&) = delete;
  ~WinSerialPort() override {
    CloseHandle(handle_);  // no I/O is pending outside a call
    for (HANDLE event : {wake_, readEvent_, writeEvent_}) {
      if (event) CloseHandle(event);
    }
    if (finerTimer_) timeEndPeriod(1);
  }

  // A read returns at once with what is queued, and with nothing queued waits
  // for the first byte (up to READ_WAIT_MS): the wait for input is such a
  // read. Read itself asks only for what is queued. Writes have no time-out
  // of the driver's; Write bounds them itself.
  bool Prepare() {
    if (!wake_ || !readEvent_ || !writeEvent_) return false;
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = READ_WAIT_MS;
    return SetCommTimeouts(handle_, &timeouts) != 0;
  }

  bool Gone() const override { return gone_.load(); }

  // Waits with an overlapped read of one byte, which the driver completes
  // when a byte arrives; the byte is kept for the next Read. (A comm event
  // would do on Windows, but Wine's ends at once, aborted, on a port served
  // by a pseudo-terminal.) The read lock is held throughout: a Read meanwhile
  // would take bytes behind the one this wait is about to take.
  void WaitForInput(std::chrono::milliseconds bound) override {
    const Clock::time_point end = Clock::now() + bound;
    WaitForInputUntil(end);
    // As on Linux, a wait takes every wake-up that came before it ended.
    ResetEvent(wake_);
  }

  void Wake() override {
    if (wake_) SetEvent(wake_);
  }

  bool GetCommState(LineSettings& settings) override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(handle_, &dcb)) return Failed();
    settings.BaudRate = dcb.BaudRate;
    settings.ByteSize = dcb.ByteSize;
    settings.Parity = dcb.Parity;
    settings.StopBits = dcb.StopBits;
    return true;
  }

  bool SetCommState(const LineSettings& settings) override {
    // Some drivers take a rate of 0 and read it back (Wine's does).
    if (settings.BaudRate == 0 || settings.BaudRate > 0x7FFFFFFFu) return false;
    if (settings.ByteSize != 8 || settings.Parity != NOPARITY || settings.StopBits != ONESTOPBIT) return false;
    // The members not set here (flow control, special characters) keep what
    // the port has.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(handle_, &dcb)) return Failed();
    dcb.BaudRate = settings.BaudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    if (!::SetCommState(handle_, &dcb)) return Failed();
    // A driver may round or refuse silently (Wine sets 14400 as 38400): only
    // a rate that reads back counts.
    DCB back{};
    back.DCBlength = sizeof back;
    if (!::GetCommState(handle_, &back)) return Failed();
    if (back.BaudRate != settings.BaudRate || back.ByteSize != 8 || back.Parity != NOPARITY ||
        back.StopBits != ONESTOPBIT)
      return false;
    std::lock_guard<std::mutex> hold(rateLock_);
    rate_ = settings.BaudRate;
    return true;
  }

  bool QueuedInput(uint32_t& count) override {
    count = 0;
    DWORD queued = 0;
    if (!DriverQueue(queued)) return false;
    std::lock_guard<std::mutex> hold(readLock_);
    count = queued + (stashed_ ? 1 : 0);
    return true;
  }

  bool Read(uint8_t* buffer, uint32_t size, uint32_t& got) override {
    got = 0;
    if (size == 0) return true;
    std::lock_guard<std::mutex> hold(readLock_);
    if (stashed_) {
      buffer[got++] = stash_;
      stashed_ = false;
    }
    DWORD queued = 0;
    if (!DriverQueue(queued)) return got > 0;
    const DWORD want = std::min<DWORD>(size - got, queued);
    if (want == 0) return true;
    OVERLAPPED overlapped{};
    overlapped.hEvent = readEvent_;
    ResetEvent(readEvent_);
    DWORD n = 0;
    if (!ReadFile(handle_, buffer + got, want, &n, &overlapped)) {
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) return Failed(error) || got > 0;
      if (WaitForSingleObject(readEvent_, QUEUED_READ_BOUND_MS) != WAIT_OBJECT_0) CancelIoEx(handle_, &overlapped);
      // Bounded: the read has completed or has just been cancelled.
      if (!GetOverlappedResult(handle_, &overlapped, &n, TRUE)) {
        const DWORD failed = GetLastError();
        got += n;
        // Cancelled here, or by the driver after a line error (the next
        // ClearCommError lets reads go on): what came is all there is.
        if (failed == ERROR_OPERATION_ABORTED) return true;
        return Failed(failed) || got > 0;
      }
    }
    got += n;
    return true;
  }

  bool Write(const uint8_t* buffer, uint32_t size, uint32_t& written) override {
    written = 0;
    uint32_t rate;
    {
      std::lock_guard<std::mutex> hold(rateLock_);
      rate = rate_;
    }
    std::lock_guard<std::mutex> hold(writeLock_);
    const Clock::time_point end = Clock::now() + WriteBound(size, rate);
    while (written < size) {
      OVERLAPPED overlapped{};
      overlapped.hEvent = writeEvent_;
      ResetEvent(writeEvent_);
      DWORD n = 0;
      bool cancelled = false;
      DWORD failed = ERROR_SUCCESS;
      if (!WriteFile(handle_, buffer + written, size - written, &n, &overlapped)) {
        failed = GetLastError();
        if (failed == ERROR_IO_PENDING) {
          cancelled = WaitForSingleObject(writeEvent_, MillisecondsUntil(end)) != WAIT_OBJECT_0;
          if (cancelled) CancelIoEx(handle_, &overlapped);
          // Bounded: the write has completed or has just been cancelled.
          failed = GetOverlappedResult(handle_, &overlapped, &n, TRUE) ? ERROR_SUCCESS : GetLastError();
        }
      }
      written += n;
      if (failed != ERROR_SUCCESS && failed != ERROR_OPERATION_ABORTED) return Failed(failed);
      if (cancelled && written < size) return false;  // stalled: the short count tells how far it got
      // Aborted by the driver after a line error (the port's abort-on-error
      // setting): clear it and go on within the bound.
      if (failed == ERROR_OPERATION_ABORTED) ClearLineErrors();
      if (written < size && n == 0) {
        // Taken nothing and failed for good nothing: try again until the bound.
        if (Clock::now() >= end) return false;
        Sleep(1);
      }
    }
    return true;
  }

 private:
  void WaitForInputUntil(Clock::time_point end) {
    if (gone_.load()) {
      WaitForSingleObject(wake_, MillisecondsUntil(end));
      return;
    }
    std::lock_guard<std::mutex> hold(readLock_);
    for (;;) {
      DWORD queued = 0;
      if (stashed_ || (DriverQueue(queued) && queued > 0)) return;
      if (gone_.load()) {
        WaitForSingleObject(wake_, MillisecondsUntil(end));
        return;
      }
      OVERLAPPED overlapped{};
      overlapped.hEvent = readEvent_;
      ResetEvent(readEvent_);
      DWORD got = 0;
      DWORD error = ERROR_SUCCESS;
      bool ended = false;  // by the wake-up or the bound, not by the read
      if (!ReadFile(handle_, &stash_, 1, &got, &overlapped)) {
        error = GetLastError();
        if (error == ERROR_IO_PENDING) {
          const HANDLE events[2] = {readEvent_, wake_};
          ended = WaitForMultipleObjects(2, events, FALSE, MillisecondsUntil(end)) != WAIT_OBJECT_0;
          if (ended) CancelIoEx(handle_, &overlapped);
          // Bounded: the read has completed or has just been cancelled.
          error = GetOverlappedResult(handle_, &overlapped, &got, TRUE) ? ERROR_SUCCESS : GetLastError();
        }
      }
      if (got > 0) {
        stashed_ = true;
        return;
      }
      if (ended) return;
      if (error != ERROR_SUCCESS && MarkIfGone(error)) continue;  // gone: only the wake-up ends the wait now
      // The driver's own read time-out passed, or the read failed without
      // the device being gone (one aborted after a line error goes on once
      // ClearCommError at the top has cleared it): wait on, but never spin on
      // a driver that ends such reads at once.
      const DWORD pause = error == ERROR_SUCCESS ? 1 : static_cast<DWORD>(INPUT_POLL_PERIOD.count());
      if (WaitForSingleObject(wake_, std::min(pause, MillisecondsUntil(end))) == WAIT_OBJECT_0) return;
      if (Clock::now() >= end) return;
    }
  }

  // The bytes the driver holds, not counting the stash.
  bool DriverQueue(DWORD& queued) {
    queued = 0;
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle_, &errors, &status)) return Failed();
    queued = status.cbInQue;
    return true;
  }

  // Lets I/O go on after a driver that aborts it on a line error did so.
  void ClearLineErrors() {
    DWORD errors = 0;
    if (!ClearCommError(handle_, &errors, nullptr)) Failed();
  }

  bool Failed() { return Failed(GetLastError()); }
  bool Failed(DWORD error) {
    MarkIfGone(error);
    return false;
  }
  bool MarkIfGone(DWORD error) {
    if (MeansGone(error)) gone_.store(true);
    return gone_.load();
  }

  HANDLE handle_;
  HANDLE wake_;        // auto-reset: Wake sets it, a wait takes it
  HANDLE readEvent_;   // the receive thread's reads
  HANDLE writeEvent_;  // the senders' writes
  bool finerTimer_ = false;
  std::atomic<bool> gone_{false};  // set by the receive thread's reads and the senders' writes
  std::mutex readLock_;  // the byte a wait took off the line
  uint8_t stash_ = 0;
  bool stashed_ = false;
  std::mutex writeLock_;
  std::mutex rateLock_;
  uint32_t rate_ = 0;
};

}  // namespace

std::unique_ptr<SerialPort> OpenWinSerialPort(const std::string& devicePath) {
  const HANDLE handle = OpenExclusive(devicePath, FILE_FLAG_OVERLAPPED);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  auto port = std::make_unique<WinSerialPort>(handle);
  if (!port->Prepare()) {  // not a serial port
    const DWORD error = GetLastError();
    port.reset();
    SetLastError(error);
    return nullptr;
  }
  return port;
}

bool ProbeWinSerialPort(const std::string& devicePath) {
  const HANDLE handle = OpenExclusive(devicePath, 0);
  if (handle == INVALID_HANDLE_VALUE) return false;
  CloseHandle(handle);
  return true;
}

std::optional<std::vector<SerialDeviceEntry>> WinPortFactory::ListPorts() { return ReadSerialDeviceMap(config_); }

bool WinPortFactory::Probe(const std::string& devicePath) { return ProbeWinSerialPort(devicePath); }

std::unique_ptr<SerialPort> WinPortFactory::Open(const std::string& devicePath) {
  return OpenWinSerialPort(devicePath);
}

std::unique_ptr<PortFactory> MakePlatformPortFactory(const PortConfig& config) {
  return std::make_unique<WinPortFactory>(config);
}
