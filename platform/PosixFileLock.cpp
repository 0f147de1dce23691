#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "FileLock.h"

namespace {
// How long a try waits before the next: short against the few milliseconds
// a writer holds the lock.
constexpr auto RETRY_PAUSE = std::chrono::milliseconds(5);
}  // namespace

FileLock::FileLock(const std::string& path, Mode mode, bool create, std::chrono::milliseconds wait) {
  // Read access is enough for flock, and works on a lock file that another
  // user made.
  const int fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
  if (fd < 0) return;
  handle_ = fd;
  const int operation = (mode == Mode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (flock(fd, operation) == 0) {
      held_ = true;
      return;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) return;
    if (std::chrono::steady_clock::now() >= deadline) return;
    std::this_thread::sleep_for(RETRY_PAUSE);
  }
}

FileLock::~FileLock() {
  if (handle_ >= 0) close(static_cast<int>(handle_));  // gives the lock back
}

std::string UniqueFileNamePart() {
  static std::atomic<unsigned> count{0};
  return std::to_string(getpid()) + "-" + std::to_string(count.fetch_add(1));
}
