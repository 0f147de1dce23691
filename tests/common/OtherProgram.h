// Test support: another process that uses a port the way some other serial
// program would, until it is destroyed; and the terminal settings of a port
// as a value to compare.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace lumo_test {

class OtherProgram {
 public:
  enum Use {
    Runs,       // only runs: a PID for a lock file
    Open,       // has the port open as it found it, no lock of any kind
    Flock,      // open, with an flock
    Exclusive,  // open, in exclusive mode (TIOCEXCL)
  };

  OtherProgram(const std::string& path, Use use) {
    if (pipe2(ready_, O_CLOEXEC) != 0 || pipe2(release_, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      // Only plain system calls between fork and _exit.
      close(release_[1]);  // else the child never sees its release
      bool ok = true;
      if (use != Runs) {
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ok = fd >= 0;
        if (ok && use == Flock) ok = flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (ok && use == Exclusive) ok = ioctl(fd, TIOCEXCL) == 0;
      }
      const char answer = ok ? 'y' : 'n';
      [[maybe_unused]] ssize_t w = write(ready_[1], &answer, 1);
      char c;
      [[maybe_unused]] ssize_t r = read(release_[0], &c, 1);  // until the parent closes its end
      _exit(0);
    }
    // Only the child writes its answer: should it end without one, the read
    // sees the end of the pipe instead of waiting for ever.
    close(ready_[1]);
    ready_[1] = -1;
    close(release_[0]);
    release_[0] = -1;
    char answer = 'n';
    if (pid_ > 0 && read(ready_[0], &answer, 1) == 1) holding_ = answer == 'y';
  }
  ~OtherProgram() {
    if (release_[1] >= 0) close(release_[1]);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    for (int fd : {ready_[0], ready_[1], release_[0]}) {
      if (fd >= 0) close(fd);
    }
  }
  OtherProgram(const OtherProgram&) = delete;
  OtherProgram& operator=(const OtherProgram&) = delete;

  bool Holding() const { return holding_; }
  pid_t Pid() const { return pid_; }

 private:
  int ready_[2] = {-1, -1};
  int release_[2] = {-1, -1};
  pid_t pid_ = -1;
  bool holding_ = false;
};

// The PID of a process that has ended (and been reaped).
inline pid_t EndedProcessId() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  if (pid > 0) waitpid(pid, nullptr, 0);
  return pid;
}

// A port's terminal settings, read through a descriptor (a pseudo-terminal's
// master reads its slave's), without changing them.
struct TerminalSettings {
  struct termios t {};
  bool valid = false;

  static TerminalSettings Of(int fd) {
    TerminalSettings s;
    s.valid = tcgetattr(fd, &s.t) == 0;
    return s;
  }
  bool Echo() const { return (t.c_lflag & ECHO) != 0; }
  bool Canonical() const { return (t.c_lflag & ICANON) != 0; }
  friend bool operator==(const TerminalSettings& a, const TerminalSettings& b) {
    return a.valid == b.valid && a.t.c_iflag == b.t.c_iflag && a.t.c_oflag == b.t.c_oflag &&
           a.t.c_cflag == b.t.c_cflag && a.t.c_lflag == b.t.c_lflag && a.t.c_line == b.t.c_line &&
           std::memcmp(a.t.c_cc, b.t.c_cc, sizeof a.t.c_cc) == 0 && cfgetispeed(&a.t) == cfgetispeed(&b.t) &&
           cfgetospeed(&a.t) == cfgetospeed(&b.t);
  }
};

}  // namespace lumo_test
