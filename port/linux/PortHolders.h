// Who else holds a serial device, by the conventions serial programs follow
// on Linux besides flock and TIOCEXCL: UUCP lock files (LCK..<name>, the
// holder's PID inside) and open descriptors as /proc shows them. Internal to
// the POSIX port backend.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

// The folder our lock files go to: lockFolder when set, else /run/lock.
std::string UucpLockFolder(const std::optional<std::string>& lockFolder);

// The folders whose lock files count: lockFolder alone when set, else
// /run/lock and /var/lock (once when one links to the other).
std::vector<std::string> UucpLockFolders(const std::optional<std::string>& lockFolder);

// "LCK..<file name of the device after resolving links>"; empty when the
// device path does not resolve.
std::string UucpLockName(const std::string& devicePath);

// The PID a lock file names: 10 ASCII digits and a newline (leading blanks
// allowed) or a 4-byte binary int; 0 when the file is unreadable or names none.
pid_t UucpLockOwner(const std::string& lockPath);

// A lock file that holds a port: its path and the PID it names (0 for a
// file that names none yet and was made a moment ago).
struct UucpLockHolder {
  std::string Path;
  pid_t Pid = 0;
};

// The first lock file in the lock folders (see UucpLockFolders) that holds the device: one that
// names a running process (this one included), or names none yet and was made
// a moment ago. A lock of a process that has ended does not count.
std::optional<UucpLockHolder> UucpLockHolding(const std::string& devicePath,
                                              const std::optional<std::string>& lockFolder);

// Whether UucpLockHolding finds a lock file.
bool HeldByUucpLock(const std::string& devicePath, const std::optional<std::string>& lockFolder);

// Our lock file while we hold a port. Removed on destruction if it still
// names this process.
class UucpLock {
 public:
  enum class Result {
    Taken,        // the file names this process now
    Held,         // a running process holds the port by its lock file
    NotWritable,  // no lock folder we can write to: go on without a file
  };

  UucpLock() = default;
  ~UucpLock();
  UucpLock(UucpLock&& other) noexcept;
  UucpLock& operator=(UucpLock&& other) noexcept;
  UucpLock(const UucpLock&) = delete;
  UucpLock& operator=(const UucpLock&) = delete;

  // In UucpLockFolder(lockFolder), unless a file in one of the other
  // folders that count holds the port.
  Result Take(const std::string& devicePath, const std::optional<std::string>& lockFolder);
  void Release();

 private:
  std::string path_;  // empty: no file of ours
};

// Whether a process other than this one has the character device rdev open,
// as far as this process may read /proc (other users' processes are not
// readable to an ordinary user).
bool OpenInAnotherProcess(dev_t rdev);

// Every process other than this one that has rdev open, as far as /proc
// shows, in the order /proc lists them.
std::vector<pid_t> ProcessesHolding(dev_t rdev);

// Whether this process may read every other process's descriptors in /proc,
// so that a scan that finds no holder means there is none (false for an
// ordinary user while another user's process runs).
bool SeesEveryProcess();

// Whether a descriptor of this process is open on rdev.
bool OpenInThisProcess(dev_t rdev);

// A process's command name (/proc/<pid>/comm, at most 15 bytes); empty when
// it cannot be read.
std::string ProcessName(pid_t pid);
