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

HANDLE OpenExclusive(const std::string& devicePath, DWORD flags) {
  // No sharing: a port that another program holds fails to open.
  return CreateFileW(Widen(devicePath).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags,
                     nullptr);
}

// Errors after which nothing written can reach the unit: the device went away
// (a USB adapter pulled out) or its handle is no longer any use.
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

  // Reads return at once with what is queued (see READ_WAIT_MS); writes have
  // no time-out of the driver's, Write bounds them itself.
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
  // would do on Windows, but not on every driver: Wine's ends at once with an
  // error on a pseudo-terminal.)
  void WaitForInput(std::chrono::milliseconds bound) override {
    const Clock::time_point end = Clock::now() + bound;
    if (gone_.load()) {
      WaitForSingleObject(wake_, MillisecondsUntil(end));
      return;
    }
    uint32_t queued = 0;
    if (QueuedInput(queued) && queued > 0) {
      ResetEvent(wake_);  // as a wait that ends at once would take it
      return;
    }
    std::lock_guard<std::mutex> hold(readLock_);
    for (;;) {
      OVERLAPPED overlapped{};
      overlapped.hEvent = readEvent_;
      ResetEvent(readEvent_);
      DWORD got = 0;
      DWORD woken = WAIT_OBJECT_0;
      if (!ReadFile(handle_, &stash_, 1, &got, &overlapped)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
          if (MarkIfGone(error)) WaitForSingleObject(wake_, MillisecondsUntil(end));
          return;
        }
        const HANDLE events[2] = {readEvent_, wake_};
        woken = WaitForMultipleObjects(2, events, FALSE, MillisecondsUntil(end));
        if (woken != WAIT_OBJECT_0) CancelIoEx(handle_, &overlapped);
        // Bounded: the read has completed or has just been cancelled.
        if (!GetOverlappedResult(handle_, &overlapped, &got, TRUE)) {
          const DWORD error = GetLastError();
          got = 0;
          if (error != ERROR_OPERATION_ABORTED && MarkIfGone(error)) {
            if (woken == WAIT_OBJECT_0) WaitForSingleObject(wake_, MillisecondsUntil(end));
            return;
          }
        }
      }
      if (got > 0) stashed_ = true;
      if (got > 0 || woken != WAIT_OBJECT_0 || Clock::now() >= end) return;
      // The driver's own read time-out passed without a byte: wait on, but
      // never spin on a driver that ends such reads at once.
      if (WaitForSingleObject(wake_, std::min<DWORD>(1, MillisecondsUntil(end))) == WAIT_OBJECT_0) return;
    }
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
    if (settings.BaudRate == 0 || settings.BaudRate > 0x7FFFFFFFu) return false;
    if (settings.ByteSize != 8 || settings.Parity != NOPARITY || settings.StopBits != ONESTOPBIT) return false;
    // The members not set here (flow control, special characters) keep what
    // the port has; a port whose state cannot be read gets none of them.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(handle_, &dcb)) {
      dcb = DCB{};
      dcb.DCBlength = sizeof dcb;
    }
    dcb.BaudRate = settings.BaudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    if (!::SetCommState(handle_, &dcb)) return Failed();
    // A driver may round or refuse silently: only a rate that reads back counts.
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
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle_, &errors, &status)) return Failed();
    std::lock_guard<std::mutex> hold(readLock_);
    count = status.cbInQue + (stashed_ ? 1 : 0);
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
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle_, &errors, &status)) return Failed() || got > 0;
    const DWORD want = std::min<DWORD>(size - got, status.cbInQue);
    if (want == 0) return true;
    OVERLAPPED overlapped{};
    overlapped.hEvent = readEvent_;
    ResetEvent(readEvent_);
    DWORD n = 0;
    if (!ReadFile(handle_, buffer + got, want, &n, &overlapped)) {
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) return Failed(error) || got > 0;
      // The bytes are queued, so the read completes at once; bounded all the same.
      if (WaitForSingleObject(readEvent_, READ_WAIT_MS) != WAIT_OBJECT_0) CancelIoEx(handle_, &overlapped);
      if (!GetOverlappedResult(handle_, &overlapped, &n, TRUE)) {
        const DWORD failed = GetLastError();
        got += n;
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
      if (!WriteFile(handle_, buffer + written, size - written, &n, &overlapped)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) return Failed(error);
        const bool done = WaitForSingleObject(writeEvent_, MillisecondsUntil(end)) == WAIT_OBJECT_0;
        if (!done) CancelIoEx(handle_, &overlapped);
        const bool ok = GetOverlappedResult(handle_, &overlapped, &n, TRUE);
        const DWORD failed = ok ? ERROR_SUCCESS : GetLastError();
        written += n;
        if (!ok) return failed == ERROR_OPERATION_ABORTED ? false : Failed(failed);  // a stall: the count tells how far
        if (!done && written < size) return false;
        continue;
      }
      written += n;
      if (n == 0) {
        // Taken nothing and failed nothing: try again until the bound.
        if (Clock::now() >= end) return false;
        Sleep(1);
      }
    }
    return true;
  }

 private:
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
  std::atomic<bool> gone_{false};
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
  if (!port->Prepare()) {
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

std::optional<std::vector<SerialDeviceEntry>> WinPortFactory::ListPorts() { return ReadSerialDeviceMap(); }

bool WinPortFactory::Probe(const std::string& devicePath) { return ProbeWinSerialPort(devicePath); }

std::unique_ptr<SerialPort> WinPortFactory::Open(const std::string& devicePath) {
  return OpenWinSerialPort(devicePath);
}

std::unique_ptr<PortFactory> MakePlatformPortFactory() { return std::make_unique<WinPortFactory>(); }
