#include <windows.h>
#include <shellapi.h>

#include <mutex>
#include <string>

#include "ConsolePlatform.h"
#include "WinText.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  SetConsoleOutputCP(CP_UTF8);
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return {argv, argv + argc};
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(Narrow(wide[i]));
  LocalFree(wide);
  return arguments;
}

// A console that redraws lines in place: one whose escape sequences can be
// switched on (Windows 10 and later).
bool OutputIsTerminal() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode)) return false;
  if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
  return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::string ExecutableFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);  // cut off: try a longer buffer
  }
  const size_t cut = path.find_last_of(L"\\/:");
  return cut == std::wstring::npos ? std::string() : Narrow(path.substr(0, cut));
}

// The console calls its control handler on a thread of its own. It takes a
// plain function, so the one watch that lives is reached through this.
namespace {
std::mutex watchLock;
std::function<void(int)>* watching = nullptr;

BOOL WINAPI OnControl(DWORD event) {
  std::lock_guard<std::mutex> hold(watchLock);
  if (!watching) return FALSE;
  (*watching)(event == CTRL_C_EVENT ? 130 : 143);
  return TRUE;  // the front end ends its jobs and exits by itself
}
}  // namespace

struct InterruptWatch::State {
  std::function<void(int)> onSignal;
};

InterruptWatch::InterruptWatch(std::function<void(int)> onSignal) : state_(std::make_unique<State>()) {
  state_->onSignal = std::move(onSignal);
  {
    std::lock_guard<std::mutex> hold(watchLock);
    watching = &state_->onSignal;
  }
  SetConsoleCtrlHandler(OnControl, TRUE);
}

InterruptWatch::~InterruptWatch() {
  std::lock_guard<std::mutex> hold(watchLock);
  watching = nullptr;
  // The handler stays: a key pressed now, with every port closed, must not
  // end the process before it has said how its jobs ended.
}
