#include "PortHolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

namespace {

constexpr const char* DEFAULT_LOCK_FOLDER = "/run/lock";
constexpr const char* OLD_LOCK_FOLDER = "/var/lock";
// A lock file that names no PID yet may be one its writer has just created;
// it is respected for this long before it counts as left over.
constexpr time_t FRESH_LOCK_SECONDS = 5;
// Tries at replacing a stale lock before giving up on a file of our own.
constexpr int LOCK_ATTEMPTS = 3;

bool Running(pid_t pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

bool SameFolder(const std::string& a, const std::string& b) {
  struct stat x {}, y {};
  if (stat(a.c_str(), &x) != 0 || stat(b.c_str(), &y) != 0) return a == b;
  return x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

bool Fresh(const std::string& lockPath) {
  struct stat st {};
  if (stat(lockPath.c_str(), &st) != 0) return false;
  const time_t age = time(nullptr) - st.st_mtime;
  return age >= 0 && age < FRESH_LOCK_SECONDS;
}

// A lock file holds its port while it names a running process, or names none
// yet and is fresh. The PID it names when it holds (0: none yet).
std::optional<pid_t> HoldingPid(const std::string& lockPath) {
  const pid_t owner = UucpLockOwner(lockPath);
  if (Running(owner) || (owner == 0 && Fresh(lockPath))) return owner;
  return std::nullopt;
}

bool LockHolds(const std::string& lockPath) { return HoldingPid(lockPath).has_value(); }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\0'; }

// Whether /proc/<process>/fd holds a descriptor on the character device
// rdev; false for a process whose descriptors we may not read (another
// user's) or that has just ended.
bool HasOpen(const std::string& process, dev_t rdev) {
  const std::string fdFolder = "/proc/" + process + "/fd";
  const int dirFd = open(fdFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return false;
  DIR* fds = fdopendir(dirFd);
  if (!fds) {
    close(dirFd);
    return false;
  }
  bool found = false;
  while (const dirent* fdEntry = readdir(fds)) {
    if (fdEntry->d_name[0] == '.') continue;
    // The open file itself, by its device number; cached attributes only,
    // so a descriptor on a network file system never stalls the scan.
    struct statx st {};
    if (statx(dirFd, fdEntry->d_name, AT_STATX_DONT_SYNC, STATX_TYPE, &st) != 0) continue;
    if (S_ISCHR(st.stx_mode) && makedev(st.stx_rdev_major, st.stx_rdev_minor) == rdev) {
      found = true;
      break;
    }
  }
  closedir(fds);  // closes dirFd too
  return found;
}

// Calls visit with the PID of every process but this one until it returns false.
template <typename Visit>
void ForEachOtherProcess(Visit visit) {
  DIR* proc = opendir("/proc");
  if (!proc) return;
  const pid_t self = getpid();
  while (const dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0' || pid == self) continue;
    if (!visit(static_cast<pid_t>(pid))) break;
  }
  closedir(proc);
}

}  // namespace

std::string UucpLockFolder(const std::optional<std::string>& lockFolder) {
  return lockFolder ? *lockFolder : DEFAULT_LOCK_FOLDER;
}

std::vector<std::string> UucpLockFolders(const std::optional<std::string>& lockFolder) {
  if (lockFolder) return {*lockFolder};
  std::vector<std::string> folders{DEFAULT_LOCK_FOLDER};
  if (!SameFolder(DEFAULT_LOCK_FOLDER, OLD_LOCK_FOLDER)) folders.emplace_back(OLD_LOCK_FOLDER);
  return folders;
}

std::string UucpLockName(const std::string& devicePath) {
  char resolved[PATH_MAX];
  if (!realpath(devicePath.c_str(), resolved)) return {};
  const char* name = std::strrchr(resolved, '/');
  name = name ? name + 1 : resolved;
  if (!*name) return {};
  return std::string("LCK..") + name;
}

pid_t UucpLockOwner(const std::string& lockPath) {
  const int fd = open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[64];
  const ssize_t n = read(fd, text, sizeof text);
  close(fd);
  if (n <= 0) return 0;
  // ASCII: blanks, digits, then the end or a blank.
  ssize_t i = 0;
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  int64_t pid = 0;
  ssize_t digits = 0;
  while (i < n && text[i] >= '0' && text[i] <= '9' && digits < 10) {
    pid = pid * 10 + (text[i] - '0');
    ++i;
    ++digits;
  }
  if (digits > 0 && (i == n || IsBlank(text[i]))) return pid <= INT32_MAX ? static_cast<pid_t>(pid) : 0;
  // The older binary form: the PID as the machine's int.
  if (n == static_cast<ssize_t>(sizeof(int32_t))) {
    int32_t binary = 0;
    std::memcpy(&binary, text, sizeof binary);
    return binary > 0 ? binary : 0;
  }
  return 0;
}

std::optional<UucpLockHolder> UucpLockHolding(const std::string& devicePath,
                                              const std::optional<std::string>& lockFolder) {
  const std::string name = UucpLockName(devicePath);
  if (name.empty()) return std::nullopt;
  for (const std::string& folder : UucpLockFolders(lockFolder)) {
    const std::string path = folder + "/" + name;
    if (const auto pid = HoldingPid(path)) return UucpLockHolder{path, *pid};
  }
  return std::nullopt;
}

bool HeldByUucpLock(const std::string& devicePath, const std::optional<std::string>& lockFolder) {
  return UucpLockHolding(devicePath, lockFolder).has_value();
}

UucpLock::~UucpLock() { Release(); }

UucpLock::UucpLock(UucpLock&& other) noexcept : path_(std::exchange(other.path_, {})) {}

UucpLock& UucpLock::operator=(UucpLock&& other) noexcept {
  if (this != &other) {
    Release();
    path_ = std::exchange(other.path_, {});
  }
  return *this;
}

UucpLock::Result UucpLock::Take(const std::string& devicePath, const std::optional<std::string>& lockFolder) {
  Release();
  const std::string name = UucpLockName(devicePath);
  if (name.empty()) return Result::NotWritable;  // no such device: its open fails anyway
  const std::string primary = UucpLockFolder(lockFolder);
  for (const std::string& folder : UucpLockFolders(lockFolder)) {
    if (!SameFolder(folder, primary) && LockHolds(folder + "/" + name)) return Result::Held;
  }
  const std::string path = primary + "/" + name;
  for (int attempt = 0; attempt < LOCK_ATTEMPTS; ++attempt) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) {
      char text[16];
      const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(getpid()));
      const bool written = write(fd, text, static_cast<size_t>(length)) == length;
      close(fd);
      if (!written) {
        unlink(path.c_str());
        return Result::NotWritable;
      }
      path_ = path;
      return Result::Taken;
    }
    if (errno != EEXIST) return Result::NotWritable;
    if (LockHolds(path)) return Result::Held;
    // Left over by a process that has ended: replace it.
    if (unlink(path.c_str()) != 0 && errno != ENOENT) return Result::NotWritable;
  }
  return Result::Held;  // others keep making the file: someone wants the port
}

void UucpLock::Release() {
  if (path_.empty()) return;
  // Only our own: a file that names another process is no longer ours.
  if (UucpLockOwner(path_) == getpid()) unlink(path_.c_str());
  path_.clear();
}

bool OpenInAnotherProcess(dev_t rdev) {
  bool found = false;
  ForEachOtherProcess([&](pid_t pid) {
    found = HasOpen(std::to_string(pid), rdev);
    return !found;
  });
  return found;
}

std::vector<pid_t> ProcessesHolding(dev_t rdev) {
  std::vector<pid_t> holders;
  ForEachOtherProcess([&](pid_t pid) {
    if (HasOpen(std::to_string(pid), rdev)) holders.push_back(pid);
    return true;
  });
  return holders;
}

bool SeesEveryProcess() {
  bool every = true;
  ForEachOtherProcess([&](pid_t pid) {
    const std::string fdFolder = "/proc/" + std::to_string(pid) + "/fd";
    const int dirFd = open(fdFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      close(dirFd);
    } else if (errno != ENOENT) {  // one that has just ended holds nothing
      every = false;
    }
    return every;
  });
  return every;
}

bool OpenInThisProcess(dev_t rdev) { return HasOpen("self", rdev); }

std::string ProcessName(pid_t pid) {
  if (pid <= 0) return {};
  const std::string path = "/proc/" + std::to_string(pid) + "/comm";
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  char text[64];
  const ssize_t n = read(fd, text, sizeof text);
  close(fd);
  if (n <= 0) return {};
  std::string name(text, static_cast<size_t>(n));
  while (!name.empty() && name.back() == '\n') name.pop_back();
  return name;
}
