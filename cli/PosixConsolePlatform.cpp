#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

#include "ConsolePlatform.h"
#include "SettingsFolder.h"

std::vector<std::string> CommandLineArguments(int argc, char** argv) { return {argv, argv + argc}; }

bool OutputIsTerminal() {
  if (!::isatty(STDOUT_FILENO)) return false;
  const char* term = std::getenv("TERM");
  return term == nullptr || std::string(term) != "dumb";
}

std::string ExecutableFolder() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  const std::string exe(path, static_cast<size_t>(n));
  const size_t slash = exe.rfind('/');
  return slash == std::string::npos ? std::string() : exe.substr(0, slash == 0 ? 1 : slash);
}

std::string UserConfigFolder() { return XdgConfigFolder(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")); }

namespace {

sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  return signals;
}

}  // namespace

void PrepareProcessSignals() {
  const sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

// The stop signals are blocked in every thread (PrepareProcessSignals came
// before any thread, and threads inherit the mask), and one thread takes
// them with sigtimedwait: nothing runs in signal context, and a second
// Ctrl+C is heard like the first instead of killing the process with its
// ports open. One that came before the watch stayed pending and is heard now.
struct InterruptWatch::State {
  std::atomic<bool> stop{false};
  sigset_t signals{};
  std::thread watcher;
};

InterruptWatch::InterruptWatch(std::function<void(int)> onSignal) : state_(std::make_unique<State>()) {
  state_->signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &state_->signals, nullptr);
  state_->watcher = std::thread([state = state_.get(), onSignal = std::move(onSignal)] {
    const timespec period{0, 100 * 1000 * 1000};  // to see the watch end
    while (!state->stop.load()) {
      const int taken = sigtimedwait(&state->signals, nullptr, &period);
      if (taken == SIGINT) onSignal(130);
      if (taken == SIGTERM) onSignal(143);
      if (taken == SIGHUP) onSignal(129);
    }
  });
}

InterruptWatch::~InterruptWatch() {
  state_->stop.store(true);
  state_->watcher.join();
  // The signals stay blocked: one that comes now, with every port closed,
  // must not end the process before it has said how its jobs ended.
}
