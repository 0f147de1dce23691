// A lock on a small file beside shared data, which other processes honour
// when they take it the same way: flock on POSIX, LockFileEx on Windows. The
// data's readers and writers in every process (the window, each run of the
// command line) go through it, so a read-modify-write is never interleaved.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class FileLock {
 public:
  enum class Mode { Shared, Exclusive };

  // Tries without blocking, again and again, until the lock is taken or wait
  // has passed: a process that hangs while it holds the lock never hangs us.
  // create: make the lock file when it is missing (a reader that finds none
  // needs no lock: nobody has written the data under one yet).
  FileLock(const std::string& path, Mode mode, bool create, std::chrono::milliseconds wait);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool Held() const { return held_; }

 private:
  intptr_t handle_ = -1;  // the descriptor, or the Windows HANDLE
  bool held_ = false;
};

// Text no other writer, in this process or another, puts into a file name at
// the same time: the process id and a count of this process's calls.
std::string UniqueFileNamePart();
