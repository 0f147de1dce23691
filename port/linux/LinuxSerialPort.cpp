// Linux port backend. termios2 so that any rate can be set, 14400
// included, which has no B-constant. <asm/termbits.h> clashes with
// <termios.h>, so only the former is used here.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <utility>

#include "LinuxSerialPort.h"
#include "PortHolders.h"

namespace {

using Clock = std::chrono::steady_clock;

// Longest single poll() while a write waits for room, so a stall is noticed
// promptly and the deadline is checked often.
constexpr int WRITE_SLICE_MS = 20;

void MakeRaw(struct termios2& t) {
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | CREAD | CLOCAL;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
}

// Exclusive mode set on the tty by whoever opened it. Root opens such a tty
// regardless, so the flag is asked for, not only left to open() to refuse.
bool ExclusiveElsewhere(int fd) {
  int exclusive = 0;
  return ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
}

class LinuxSerialPort final : public SerialPort {
 public:
  LinuxSerialPort(int fd, UucpLock lock)
      : fd_(fd), wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), lock_(std::move(lock)) {}
  // The descriptor has one owner, which closes it.
  LinuxSerialPort(const LinuxSerialPort&) = delete;
  LinuxSerialPort& operator=(const LinuxSerialPort&) = delete;
  ~LinuxSerialPort() override {
    // The exclusive flag belongs to the tty, not to our descriptor: clear it,
    // or the next open fails while another descriptor (a pseudo-terminal's
    // master) keeps the tty alive.
    ioctl(fd_, TIOCNXCL);
    close(fd_);
    if (wake_ >= 0) close(wake_);
    lock_.Release();
  }

  bool Gone() const override { return gone_.load(); }

  void WaitForInput(std::chrono::milliseconds bound) override {
    // A port that is gone reports a hang-up at once and for ever: then only
    // the wake-up counts, within the bound.
    struct pollfd p[2] = {{gone_.load() ? -1 : fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
    const int r = poll(p, 2, static_cast<int>(bound.count()));
    if (r > 0 && (p[0].revents & (POLLHUP | POLLERR | POLLNVAL))) {
      gone_.store(true);
      struct pollfd w {wake_, POLLIN, 0};
      poll(&w, 1, static_cast<int>(bound.count()));
    }
    uint64_t ignored;
    if (wake_ >= 0 && read(wake_, &ignored, sizeof ignored) < 0) {
      // Nothing to take: the wait did not end by a wake-up.
    }
  }

  void Wake() override {
    const uint64_t one = 1;
    if (wake_ >= 0 && write(wake_, &one, sizeof one) < 0) {
      // The counter is full: a wake-up is pending anyway.
    }
  }

  bool GetCommState(LineSettings& dcb) override {
    struct termios2 t {};
    if (ioctl(fd_, TCGETS2, &t) != 0) return Failed();
    dcb.BaudRate = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
      case CS5: dcb.ByteSize = 5; break;
      case CS6: dcb.ByteSize = 6; break;
      case CS7: dcb.ByteSize = 7; break;
      default: dcb.ByteSize = 8; break;
    }
    dcb.Parity = (t.c_cflag & PARENB) ? ((t.c_cflag & PARODD) ? 1 : 2) : 0;
    dcb.StopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    return true;
  }

  bool SetCommState(const LineSettings& dcb) override {
    if (dcb.BaudRate == 0 || dcb.BaudRate > 0x7FFFFFFFu) return false;
    if (dcb.ByteSize != 8 || dcb.Parity != 0 || dcb.StopBits != 0) return false;  // only 8N1 is used
    struct termios2 t {};
    if (ioctl(fd_, TCGETS2, &t) != 0) return Failed();
    MakeRaw(t);
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = dcb.BaudRate;
    t.c_ospeed = dcb.BaudRate;
    if (ioctl(fd_, TCSETS2, &t) != 0) return Failed();
    // A driver may round or refuse silently: only a rate that reads back counts.
    struct termios2 back {};
    if (ioctl(fd_, TCGETS2, &back) != 0 || back.c_ospeed != dcb.BaudRate) return false;
    std::lock_guard<std::mutex> hold(rateLock_);
    rate_ = dcb.BaudRate;
    return true;
  }

  bool QueuedInput(uint32_t& count) override {
    count = 0;
    int queued = 0;
    if (ioctl(fd_, FIONREAD, &queued) != 0) return Failed();
    count = queued > 0 ? static_cast<uint32_t>(queued) : 0;
    return true;
  }

  bool Read(uint8_t* buffer, uint32_t size, uint32_t& got) override {
    got = 0;
    while (got < size) {
      const ssize_t n = read(fd_, buffer + got, size - got);
      if (n > 0) {
        got += static_cast<uint32_t>(n);
        continue;
      }
      if (n == 0) {  // hung up: end of file
        gone_.store(true);
        return got > 0;
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return true;
      return Failed();  // EIO after a hang-up and the like
    }
    return true;
  }

  bool Write(const uint8_t* buffer, uint32_t size, uint32_t& written) override {
    written = 0;
    uint32_t rate;
    {
      std::lock_guard<std::mutex> hold(rateLock_);
      rate = rate_;
    }
    const auto deadline = Clock::now() + WriteBound(size, rate);
    while (written < size) {
      const ssize_t n = write(fd_, buffer + written, size - written);
      if (n > 0) {
        written += static_cast<uint32_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) return Failed();
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;  // stalled: the short count tells how far it got
      struct pollfd p {fd_, POLLOUT, 0};
      const int r = poll(&p, 1, static_cast<int>(std::min<int64_t>(left, WRITE_SLICE_MS)));
      if (r < 0 && errno != EINTR) return false;
      if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
        gone_.store(true);
        return false;
      }
    }
    return true;
  }

 private:
  // A failed call; errors that mean the device is no longer there mark it gone.
  bool Failed() {
    if (errno == EIO || errno == ENXIO || errno == ENODEV || errno == EPIPE) gone_.store(true);
    return false;
  }

  int fd_;
  int wake_;  // eventfd that Wake signals
  std::atomic<bool> gone_{false};  // set by the receive thread's reads and the senders' writes
  UucpLock lock_;
  std::mutex rateLock_;
  uint32_t rate_ = 0;
};

}  // namespace

std::unique_ptr<SerialPort> OpenLinuxSerialPort(const std::string& devicePath, const PortConfig& config) {
  // The lock file first, as UUCP programs do: one that holds the port by its
  // lock file alone keeps it.
  UucpLock lock;
  if (lock.Take(devicePath, config.LockFolder) == UucpLock::Result::Held) return nullptr;
  const int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  // TIOCEXCL alone does not stop root; the lock stops every other opener
  // that follows the same rule.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ExclusiveElsewhere(fd) || ioctl(fd, TIOCEXCL) != 0) {
    close(fd);
    return nullptr;
  }
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0 || (MakeRaw(t), ioctl(fd, TCSETS2, &t)) != 0) {  // not a terminal
    ioctl(fd, TIOCNXCL);
    close(fd);
    return nullptr;
  }
  return std::make_unique<LinuxSerialPort>(fd, std::move(lock));
}

bool ProbeLinuxSerialPort(const std::string& devicePath, const PortConfig& config) {
  struct stat device {};
  if (stat(devicePath.c_str(), &device) != 0 || !S_ISCHR(device.st_mode)) return false;
  if (HeldByUucpLock(devicePath, config.LockFolder)) return false;
  // Opening changes no line setting (O_NONBLOCK: no wait for a carrier); it
  // fails for a port without hardware, one we may not use, and, for an
  // ordinary user, one in exclusive mode.
  const int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct termios2 t {};
  bool free = ioctl(fd, TCGETS2, &t) == 0 && !ExclusiveElsewhere(fd);  // a terminal, not exclusive
  // The flock is only tried, and given back at once.
  free = free && flock(fd, LOCK_EX | LOCK_NB) == 0;
  // Our own descriptor is open now; the scan passes over this process.
  free = free && !OpenInAnotherProcess(device.st_rdev);
  close(fd);
  return free;
}

std::optional<std::vector<SerialDeviceEntry>> LinuxPortFactory::ListPorts() { return ReadSerialDeviceMap(config_); }

bool LinuxPortFactory::Probe(const std::string& devicePath) { return ProbeLinuxSerialPort(devicePath, config_); }

std::unique_ptr<SerialPort> LinuxPortFactory::Open(const std::string& devicePath) {
  return OpenLinuxSerialPort(devicePath, config_);
}

std::unique_ptr<PortFactory> MakePlatformPortFactory(const PortConfig& config) {
  return std::make_unique<LinuxPortFactory>(config);
}
