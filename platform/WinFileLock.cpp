// The lock file on Windows: a byte-range lock on its first byte, which every
// process that takes it the same way honours.
#include <windows.h>

#include <atomic>
#include <thread>

#include "FileLock.h"
#include "WinText.h"

namespace {
constexpr auto RETRY_PAUSE = std::chrono::milliseconds(5);
}  // namespace

FileLock::FileLock(const std::string& path, Mode mode, bool create, std::chrono::milliseconds wait) {
  const std::wstring wide = Widen(path);
  if (wide.empty()) return;
  const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  handle_ = reinterpret_cast<intptr_t>(file);
  const DWORD flags = (mode == Mode::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) | LOCKFILE_FAIL_IMMEDIATELY;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    OVERLAPPED at{};
    if (LockFileEx(file, flags, 0, 1, 0, &at)) {
      held_ = true;
      return;
    }
    if (GetLastError() != ERROR_LOCK_VIOLATION) return;
    if (std::chrono::steady_clock::now() >= deadline) return;
    std::this_thread::sleep_for(RETRY_PAUSE);
  }
}

FileLock::~FileLock() {
  if (handle_ == -1) return;
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  if (held_) {
    OVERLAPPED at{};
    UnlockFileEx(file, 0, 1, 0, &at);
  }
  CloseHandle(file);
}

std::string UniqueFileNamePart() {
  static std::atomic<unsigned> count{0};
  return std::to_string(GetCurrentProcessId()) + "-" + std::to_string(count.fetch_add(1));
}
