// Test support: the built lumo-download as a child process, its output
// collected while it runs, with a bounded wait for it to end.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "TempFolder.h"

extern char** environ;

namespace lumo_test {

// The lumo-download of this build, when the test knows it.
inline std::string BuiltLumoDownload() {
#ifdef LUMO_DOWNLOAD
  return LUMO_DOWNLOAD;
#else
  return {};
#endif
}

// lumo-download linked into a folder of its own for one run: the tool keeps
// its record of loaders left listening beside its executable, and pseudo-
// terminal paths come back from one test case to the next.
class PrivateLumoDownload {
 public:
  explicit PrivateLumoDownload(const std::string& tool) : path_(tool) {
    if (folder_.Path().empty()) return;
    path_ = folder_.File(std::filesystem::path(tool).filename().string());
    std::error_code linked;
    std::filesystem::create_hard_link(tool, path_, linked);
    if (linked) std::filesystem::copy_file(tool, path_);
    // Open to a test that runs it as another user.
    std::filesystem::permissions(folder_.Path(), std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                                     std::filesystem::perms::group_exec |
                                                     std::filesystem::perms::others_read |
                                                     std::filesystem::perms::others_exec);
  }
  PrivateLumoDownload(const PrivateLumoDownload&) = delete;
  PrivateLumoDownload& operator=(const PrivateLumoDownload&) = delete;
  const std::string& Path() const { return path_; }

 private:
  TempFolder folder_;
  std::string path_;
};

// How a CliProcess runs the tool.
struct CliRun {
  bool terminal = false;                 // standard output is a pseudo-terminal
  bool closedOutput = false;             // standard output is a pipe that nobody reads: writes fail (EPIPE)
  std::string tool = BuiltLumoDownload();  // the executable, copied for the run
  std::vector<std::string> prefix;       // a command that runs the tool (setpriv ..., wine)
  std::vector<std::string> environment;  // NAME=value added to the test's own

  static CliRun OnTerminal() {
    CliRun run;
    run.terminal = true;
    return run;
  }
  static CliRun WithEnvironment(std::vector<std::string> settings) {
    CliRun run;
    run.environment = std::move(settings);
    return run;
  }
};

class CliProcess {
 public:
  using Clock = std::chrono::steady_clock;
  using Options = CliRun;

  explicit CliProcess(const std::vector<std::string>& args, const CliRun& options = CliRun()) : tool_(options.tool) {
    std::vector<std::string> argv = options.prefix;
    argv.push_back(tool_.Path());
    argv.insert(argv.end(), args.begin(), args.end());
    int out[2], err[2];
    if (options.terminal) {
      if (openpty(&out[0], &out[1], nullptr, nullptr, nullptr) != 0) return;
      termios settings{};
      tcgetattr(out[1], &settings);
      terminalBefore_ = settings;
      terminal_ = out[1];
    } else if (pipe(out) != 0) {
      return;
    }
    if (options.closedOutput) {
      // The only read end closed before the fork: the tool's first write already fails.
      close(out[0]);
      out[0] = -1;
    }
    if (pipe(err) != 0) return;
    // Everything the child needs is made before the fork: only system calls after it.
    // Ours first: a name given twice takes its first value.
    std::vector<std::string> environment = options.environment;
    for (char** e = environ; *e; ++e) environment.emplace_back(*e);
    std::vector<char*> rawEnvironment;
    for (std::string& e : environment) rawEnvironment.push_back(e.data());
    rawEnvironment.push_back(nullptr);
    std::vector<char*> raw;
    for (std::string& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      dup2(err[1], 2);
      for (int fd : {out[0], err[0], err[1]}) {
        if (fd >= 0) close(fd);
      }
      if (out[1] != 1) close(out[1]);
      execvpe(raw[0], raw.data(), rawEnvironment.data());
      _exit(127);
    }
    close(err[1]);
    if (!options.terminal) close(out[1]);
    if (out[0] >= 0) readers_.emplace_back([this, fd = out[0]] { Drain(fd, out_); });
    readers_.emplace_back([this, fd = err[0]] { Drain(fd, err_); });
  }

  ~CliProcess() {
    if (pid_ > 0 && !ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    stop_ = true;
    for (std::thread& t : readers_) t.join();
    if (terminal_ >= 0) close(terminal_);
  }

  // Waits for the exit: its code, 128 + signal when a signal ended it, -1
  // when it did not end within bound.
  int Wait(std::chrono::seconds bound = std::chrono::seconds(300)) {
    if (ended_) return code_;
    const auto deadline = Clock::now() + bound;
    // A descriptor that becomes readable when the child ends: the wait
    // wakes at the exit itself.
    const int exited = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    int status = 0;
    pid_t reaped = 0;
    while ((reaped = waitpid(pid_, &status, WNOHANG)) == 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) break;
      if (exited >= 0) {
        pollfd p{exited, POLLIN, 0};
        poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
      } else {
        // A kernel without pidfd: looks again for the child's exit every 10 ms.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    if (exited >= 0) close(exited);
    if (reaped != pid_) return -1;
    ended_ = true;
    code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    // Whatever is still in the pipes arrives before the readers see their end.
    if (terminal_ >= 0) {
      tcgetattr(terminal_, &terminalAfter_);
      close(terminal_);
      terminal_ = -1;
    }
    for (std::thread& t : readers_) t.join();
    readers_.clear();
    return code_;
  }

  // Until the standard output holds text, or bound passes.
  bool WaitForOutput(const std::string& text, std::chrono::seconds bound = std::chrono::seconds(120)) {
    std::unique_lock<std::mutex> hold(lock_);
    return arrived_.wait_for(hold, bound, [&] { return out_.find(text) != std::string::npos; });
  }

  void Signal(int signal) { kill(pid_, signal); }
  pid_t Pid() const { return pid_; }

  std::string Out() const {
    std::lock_guard<std::mutex> hold(lock_);
    return out_;
  }
  std::string Err() const {
    std::lock_guard<std::mutex> hold(lock_);
    return err_;
  }
  // After Wait: the output terminal's settings are as they were before the run.
  bool TerminalUnchanged() const {
    const termios& now = terminalAfter_;
    return now.c_iflag == terminalBefore_.c_iflag && now.c_oflag == terminalBefore_.c_oflag &&
           now.c_cflag == terminalBefore_.c_cflag && now.c_lflag == terminalBefore_.c_lflag;
  }

 private:
  void Drain(int fd, std::string& into) {
    char buffer[4096];
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      const int ready = poll(&p, 1, 50);
      if (ready <= 0) {
        if (stop_) break;
        continue;
      }
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n <= 0) break;  // the writer's end closed (EIO for a terminal)
      {
        std::lock_guard<std::mutex> hold(lock_);
        into.append(buffer, static_cast<size_t>(n));
      }
      arrived_.notify_all();
    }
    close(fd);
  }

  PrivateLumoDownload tool_;
  pid_t pid_ = -1;
  bool ended_ = false;
  int code_ = -1;
  int terminal_ = -1;  // the output terminal's slave side, kept to read its settings
  termios terminalBefore_{};
  termios terminalAfter_{};
  std::atomic<bool> stop_{false};
  mutable std::mutex lock_;
  std::condition_variable arrived_;  // output came in
  std::string out_, err_;
  std::vector<std::thread> readers_;
};

}  // namespace lumo_test
