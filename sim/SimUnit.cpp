// The unit's core. Only <asm/termbits.h> is used for the terminal settings
// (termios2 reads any rate); it clashes with <termios.h>.
#include "SimUnit.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "CameraModel.h"
#include "PortHolders.h"

namespace sim {

namespace {

void MakeRaw(struct termios2& t) {
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | CREAD | CLOCAL;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
}

// The rate as its standard constant where it has one, else as a rate of its
// own. A Windows program under Wine cannot read back a port whose rate was
// set the second way: its GetCommState fails.
void SetRate(struct termios2& t, unsigned rate) {
  static const struct {
    unsigned rate;
    tcflag_t constant;
  } standard[] = {{1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
                  {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
                  {230400, B230400}, {460800, B460800}, {921600, B921600}};
  tcflag_t constant = BOTHER;
  for (const auto& s : standard) {
    if (s.rate == rate) constant = s.constant;
  }
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= constant | (constant << IBSHIFT);
  t.c_ispeed = t.c_ospeed = rate;
}

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// The message that carries one descriptor: one byte of data and room for
// the descriptor's rights.
struct RightsMessage {
  RightsMessage() {
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
  }
  RightsMessage(const RightsMessage&) = delete;
  RightsMessage& operator=(const RightsMessage&) = delete;

  char byte = 0;
  iovec data{&byte, 1};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};
};

// A descriptor sent into a socket waits there, open, in no process's table.
bool Park(int socket, int fd) {
  RightsMessage m;
  cmsghdr* rights = CMSG_FIRSTHDR(&m.message);
  rights->cmsg_level = SOL_SOCKET;
  rights->cmsg_type = SCM_RIGHTS;
  rights->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(rights), &fd, sizeof fd);
  return sendmsg(socket, &m.message, MSG_DONTWAIT | MSG_NOSIGNAL) == 1;
}

// The parked descriptor, taken out of the socket; -1 when none waits there.
int Unpark(int socket) {
  RightsMessage m;
  if (recvmsg(socket, &m.message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC) != 1) return -1;
  const cmsghdr* rights = CMSG_FIRSTHDR(&m.message);
  if (!rights || rights->cmsg_type != SCM_RIGHTS || rights->cmsg_len != CMSG_LEN(sizeof(int))) return -1;
  int fd = -1;
  std::memcpy(&fd, CMSG_DATA(rights), sizeof fd);
  return fd;
}

// How long a hang-up waits, after the last answer went out, for the host to
// take it before the line goes dead.
constexpr auto HANG_UP_GRACE = std::chrono::milliseconds(500);

}  // namespace

int TerminalRate(int fd) {
  struct termios2 t {};
  if (fd < 0 || ioctl(fd, TCGETS2, &t) != 0) return 0;
  return static_cast<int>(t.c_ospeed);
}

SimUnit::SimUnit(const SimOptions& options)
    : options_(options), parts_(*this, options.CameraRate, options.ListeningAtStart) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) throw std::runtime_error(Errno("posix_openpt"));
  char name[PATH_MAX] = {};
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    close(master);
    throw std::runtime_error(Errno("pseudo-terminal"));
  }
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  master_ = master;
  slavePath_ = name;
  // The unit keeps no descriptor of the slave in its table (the one it
  // parks is in none), so port discovery sees nobody on it. Terminal settings asked or set on the master are the slave's: the
  // unit sets the slave raw at once, so nothing is echoed before the tool
  // has set it up, and reads the host's rate there.
  struct termios2 t {};
  if (ioctl(master, TCGETS2, &t) != 0) {
    close(master);
    throw std::runtime_error(Errno("terminal settings"));
  }
  MakeRaw(t);
  SetRate(t, static_cast<unsigned>(options_.CameraRate > 0 ? options_.CameraRate : 9600));
  if (ioctl(master, TCSETS2, &t) != 0) {
    close(master);
    throw std::runtime_error(Errno("terminal settings"));
  }

  if (!options_.ComDir.empty()) {
    const std::string link = options_.ComDir + "/COM" + std::to_string(options_.ComNumber);
    char target[PATH_MAX] = {};
    if (readlink(link.c_str(), target, sizeof target - 1) >= 0) unlink(link.c_str());  // a stale link of ours
    if (symlink(slavePath_.c_str(), link.c_str()) != 0) {
      const std::string why = Errno(("symlink " + link).c_str());
      close(master);
      throw std::runtime_error(why);
    }
    comLink_ = link;
  }

  ParkSlave();
  for (const Fault& f : options_.Faults) faults_.Add(f);
  thread_ = std::thread(&SimUnit::Run, this);
}

SimUnit::~SimUnit() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
  if (!comLink_.empty()) {
    char target[PATH_MAX] = {};
    const ssize_t n = readlink(comLink_.c_str(), target, sizeof target - 1);
    if (n >= 0 && slavePath_ == std::string(target, static_cast<size_t>(n))) unlink(comLink_.c_str());
  }
  if (master_.load() >= 0) close(master_.load());
  ReleaseParkedSlave();
}

// The unit works without it: then only a tool that ends in order clears its mark.
void SimUnit::ParkSlave() {
  if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, parking_) != 0) {
    parking_[0] = parking_[1] = -1;
    return;
  }
  slaveCloses_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  const int slave = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  const bool parked = slave >= 0 && slaveCloses_ >= 0 &&
                      inotify_add_watch(slaveCloses_, slavePath_.c_str(), IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) >= 0 &&
                      Park(parking_[0], slave);
  if (slave >= 0) close(slave);  // parked, it stays open in the socket
  if (!parked) ReleaseParkedSlave();
}

void SimUnit::ReleaseParkedSlave() {
  for (int* fd : {&parking_[0], &parking_[1], &slaveCloses_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

void SimUnit::ClearExclusiveLeftBehind() {
  if (slaveCloses_ < 0) return;
  alignas(inotify_event) char events[4096];
  bool closed = false;
  while (read(slaveCloses_, events, sizeof events) > 0) closed = true;
  if (!closed) return;
  // The mark is asked for through the parked descriptor, which goes back at
  // once: while it is out, a scan of this process would find it.
  const int slave = Unpark(parking_[1]);
  if (slave < 0) return;
  int exclusive = 0;
  const bool marked = ioctl(slave, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
  struct stat st {};
  const bool known = fstat(slave, &st) == 0;
  const bool back = Park(parking_[0], slave);
  close(slave);
  if (!back) {
    ReleaseParkedSlave();
    return;
  }
  // Set by a tool that still has the port: its own.
  if (!marked || !known || !ProcessesHolding(st.st_rdev).empty() || OpenInThisProcess(st.st_rdev)) return;
  const int again = Unpark(parking_[1]);
  if (again < 0) return;
  ioctl(again, TIOCNXCL);
  const bool parked = Park(parking_[0], again);
  close(again);
  if (!parked) ReleaseParkedSlave();
}

int SimUnit::HostRate() const {
  std::lock_guard<std::mutex> hold(masterLock_);
  return TerminalRate(master_.load());
}

void SimUnit::Record(WireDirection direction, uint8_t byte, int rate) { RecordAt(Clock::now(), direction, byte, rate); }

void SimUnit::RecordAt(Clock::time_point time, WireDirection direction, uint8_t byte, int rate) {
  std::lock_guard<std::mutex> hold(wireLock_);
  wire_.push_back({time, direction, byte, rate});
}

void SimUnit::Queue(const std::vector<uint8_t>& bytes, int rate, Clock::time_point due) {
  std::lock_guard<std::mutex> hold(outLock_);
  for (uint8_t b : bytes) {
    Clock::time_point at = std::max(due, outNextFree_);
    outNextFree_ = options_.Pacing ? at + ByteTime(rate > 0 ? rate : HostRate()) : at;
    outgoing_.push_back({at, b, rate});
  }
}

// Sent at the rate the sending part (the one that hears the line) works at.
void SimUnit::Send(const std::vector<uint8_t>& bytes) {
  Queue(bytes, parts_.SendRate(), Clock::now());
}

void SimUnit::SendAfter(std::chrono::milliseconds delay, const std::vector<uint8_t>& bytes) {
  Queue(bytes, parts_.SendRate(), Clock::now() + delay);
}

void SimUnit::SendNoise(size_t count) {
  std::vector<uint8_t> noise(count);
  NoiseSource source;
  for (uint8_t& b : noise) b = source.Next();
  Queue(noise, 0, Clock::now());
}

void SimUnit::SendRawToHost(const std::vector<uint8_t>& bytes) { Queue(bytes, 0, Clock::now()); }

void SimUnit::Route(UnitPart part) { parts_.Route(part); }

void SimUnit::Busy(std::chrono::milliseconds duration) {
  std::lock_guard<std::mutex> hold(outLock_);
  busyUntil_ = std::max(busyUntil_, Clock::now() + duration);
}

void SimUnit::HangUp() { hangUpRequested_.store(true); }

void SimUnit::SetReading(bool reading) { reading_.store(reading); }

bool SimUnit::FlushOutgoing(Clock::time_point now) {
  std::lock_guard<std::mutex> hold(outLock_);
  const int hostRate = TerminalRate(master_.load());
  while (!outgoing_.empty() && outgoing_.front().Due <= now) {
    const Outgoing& o = outgoing_.front();
    const uint8_t onLine = AsHostReads(o.Byte, o.Rate, hostRate);
    const ssize_t n = write(master_.load(), &onLine, 1);
    if (n != 1) return errno == EAGAIN || errno == EINTR;
    {
      std::lock_guard<std::mutex> w(wireLock_);
      // Paced, the wire record keeps the byte's own time on the line.
      wire_.push_back({options_.Pacing ? o.Due : now, WireDirection::ToHost, o.Byte, o.Rate != 0 ? o.Rate : hostRate});
    }
    outgoing_.pop_front();
  }
  return false;
}

void SimUnit::Hear(uint8_t byte, int rate) {
  bool busy;
  {
    std::lock_guard<std::mutex> hold(outLock_);
    busy = Clock::now() < busyUntil_;
  }
  std::lock_guard<std::mutex> hold(partsLock_);
  parts_.Hear(byte, rate, busy);
}

void SimUnit::Run() {
  // Bytes taken off the line, each with the time its last bit arrives when
  // the line is paced: one byte time after the later of its arrival and the
  // previous byte's due time, so a late wake-up never delays the bytes after it.
  struct Incoming {
    uint8_t Byte;
    int Rate;
    Clock::time_point Due;
  };
  std::deque<Incoming> in;
  LinePace pace;
  uint8_t buffer[4096];
  while (!stop_.load()) {
    if (hungUp_.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      continue;
    }
    const bool hangingUp = hangUpRequested_.load();
    if (hangingUp) {
      bool drained;
      {
        std::lock_guard<std::mutex> hold(outLock_);
        drained = outgoing_.empty();
      }
      // Let the host take what was sent before the line goes dead. What the
      // host has not read yet cannot be seen from this side; the host's next
      // bytes show that it has moved on (they are never heard), else a bound.
      int hostSent = 0;
      ioctl(master_.load(), FIONREAD, &hostSent);
      if (!drained) hangUpSince_ = Clock::time_point{};
      if (drained && hangUpSince_ == Clock::time_point{}) hangUpSince_ = Clock::now();
      if (drained && hostSent == 0 && Clock::now() - hangUpSince_ < HANG_UP_GRACE) drained = false;
      if (drained) {
        // Closing the master hangs up the slave: the host's reads and writes fail from now on.
        {
          std::lock_guard<std::mutex> hold(masterLock_);
          close(master_.exchange(-1));
        }
        ReleaseParkedSlave();
        hungUp_.store(true);
        pendingInput_.store(0);
        continue;
      }
    }
    ClearExclusiveLeftBehind();
    Clock::time_point now = Clock::now();
    const bool waitingForRoom = FlushOutgoing(now);

    if (reading_.load() && in.empty() && !hangingUp) {
      pendingInput_.store(1);  // before the read, so WaitIdle never sees the bytes nowhere
      // EIO here means only that no host has the slave open now (the tool
      // has closed the port, and the unit could park no descriptor of the
      // slave); bytes come again once it opens the port.
      const ssize_t n = read(master_.load(), buffer, sizeof buffer);
      if (n > 0) {
        // The host's rate is read when the bytes arrive: that is the rate they were sent at.
        const int rate = TerminalRate(master_.load());
        const Clock::time_point arrived = Clock::now();
        for (ssize_t i = 0; i < n; ++i) {
          in.push_back({buffer[i], rate, options_.Pacing ? pace.Next(arrived, rate) : arrived});
        }
      }
    }
    while (!in.empty()) {
      now = Clock::now();
      if (now < in.front().Due) break;
      const Incoming next = in.front();
      in.pop_front();
      // Paced, the wire record keeps the byte's time on the line.
      RecordAt(options_.Pacing ? next.Due : now, WireDirection::ToUnit, next.Byte, next.Rate);
      Hear(next.Byte, next.Rate);
    }
    pendingInput_.store(static_cast<int>(in.size()));

    // Sleep until the next byte is due in either direction, or new bytes come.
    auto wake = now + std::chrono::milliseconds(2);
    if (!in.empty()) wake = std::min(wake, in.front().Due);
    {
      std::lock_guard<std::mutex> hold(outLock_);
      if (!outgoing_.empty() && !waitingForRoom) wake = std::min(wake, outgoing_.front().Due);
    }
    const auto wait = std::max<Clock::duration>(wake - Clock::now(), Clock::duration::zero());
    struct pollfd p {master_.load(), 0, 0};
    if (reading_.load() && in.empty() && !hangingUp) p.events |= POLLIN;
    if (waitingForRoom) p.events |= POLLOUT;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    struct timespec ts {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    bool slept = false;
    if (p.events != 0) {
      // With nothing open on the slave (no parked descriptor either), poll
      // reports a hang-up at once: sleep instead.
      slept = ppoll(&p, 1, &ts, nullptr) >= 0 && !(p.revents & POLLHUP);
    }
    if (!slept) nanosleep(&ts, nullptr);
  }
}

std::vector<WireByte> SimUnit::Wire() const {
  std::lock_guard<std::mutex> hold(wireLock_);
  return wire_;
}

std::vector<uint8_t> SimUnit::WireBytes(WireDirection direction) const {
  std::lock_guard<std::mutex> hold(wireLock_);
  std::vector<uint8_t> bytes;
  for (const WireByte& w : wire_) {
    if (w.Direction == direction) bytes.push_back(w.Byte);
  }
  return bytes;
}

void SimUnit::ClearWire() {
  std::lock_guard<std::mutex> hold(wireLock_);
  wire_.clear();
}

std::vector<uint8_t> SimUnit::DspMemory() const {
  std::lock_guard<std::mutex> hold(partsLock_);
  return parts_.Camera().Dsp().Memory();
}

uint16_t SimUnit::DspVersion(int pair) const {
  std::lock_guard<std::mutex> hold(partsLock_);
  return parts_.Camera().Dsp().Version(pair);
}

std::vector<uint8_t> SimUnit::Flash(UnitPart board) const {
  std::lock_guard<std::mutex> hold(partsLock_);
  return parts_.Flash(board);
}

bool SimUnit::CameraInDownloadMode() const {
  std::lock_guard<std::mutex> hold(partsLock_);
  return parts_.Camera().InDownloadMode();
}

bool SimUnit::WaitIdle(std::chrono::milliseconds bound) const {
  // The terminal hands written bytes to the master side asynchronously, so
  // quiet must last a little while before it counts.
  constexpr auto QUIET = std::chrono::milliseconds(10);
  const auto deadline = Clock::now() + bound;
  auto quietSince = Clock::now();
  while (Clock::now() < deadline) {
    int queued = 0;
    {
      std::lock_guard<std::mutex> hold(masterLock_);
      const int master = master_.load();
      if (master >= 0) ioctl(master, FIONREAD, &queued);
    }
    const int pending = pendingInput_.load();
    bool outEmpty;
    {
      std::lock_guard<std::mutex> hold(outLock_);
      outEmpty = outgoing_.empty();
    }
    if ((queued == 0 || !reading_.load()) && pending == 0 && outEmpty) {
      if (Clock::now() - quietSince >= QUIET) return true;
    } else {
      quietSince = Clock::now();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

}  // namespace sim
