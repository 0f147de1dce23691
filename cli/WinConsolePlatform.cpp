// The console on Windows: UTF-16 arguments and a UTF-8 console, escape
// sequences switched on where the console has them, and the console's
// control events for the interrupt keys.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <mutex>
#include <string>

#include "ConsolePlatform.h"
#include "SettingsFolder.h"
#include "WinProgramPath.h"
#include "WinText.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace {

UINT consoleOutputCodePage = 0;  // the console's own, given back at exit

void RestoreConsoleOutputCodePage() { SetConsoleOutputCP(consoleOutputCodePage); }

// The console shows what the program writes as UTF-8, for as long as it
// runs: the console window is the user's shell's too.
void UseUtf8Console() {
  const UINT current = GetConsoleOutputCP();
  if (current == 0 || current == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8)) return;
  consoleOutputCodePage = current;
  std::atexit(RestoreConsoleOutputCodePage);
}

}  // namespace

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  UseUtf8Console();
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return {argv, argv + argc};
  std::vector<std::string> arguments;
  arguments.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) arguments.push_back(Narrow(wide[i]));
  LocalFree(wide);
  return arguments;
}

// A console that redraws lines in place: one whose escape sequences can be
// switched on (Windows 10 and later).
bool OutputIsTerminal() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (out == nullptr || out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode)) return false;
  if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
  return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::string UserConfigFolder() { return AppDataConfigFolder(_wgetenv(L"APPDATA")); }

std::string ExecutableFolder() { return ProgramFolder(); }

// The console's control handler below stands in for the signals; no pipe
// raises a signal here.
void PrepareProcessSignals() {}

// The console calls its control handler on a thread of its own. It takes a
// plain function, so the one watch that lives is reached through this.
namespace {

std::mutex watchLock;
std::function<void(int)>* watching = nullptr;
// Set when the watch ends: the front end has ended its jobs and said how.
HANDLE watchEnded = nullptr;

// How long a closing console waits for the jobs to end; Windows itself ends
// the process a few seconds after the window was closed anyway.
constexpr DWORD CLOSE_WAIT_MS = 10000;

BOOL WINAPI OnControl(DWORD event) {
  {
    std::lock_guard<std::mutex> hold(watchLock);
    if (!watching) return FALSE;
    (*watching)(event == CTRL_C_EVENT ? 130 : 143);
  }
  // Windows ends the process as soon as the handler of these returns: let
  // the jobs end and close their ports first.
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    WaitForSingleObject(watchEnded, CLOSE_WAIT_MS);
  }
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
    if (!watchEnded) watchEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // kept for the process's life
    ResetEvent(watchEnded);
    watching = &state_->onSignal;
  }
  SetConsoleCtrlHandler(OnControl, TRUE);
}

InterruptWatch::~InterruptWatch() {
  // The jobs have ended and said how: the keys act as usual again.
  SetConsoleCtrlHandler(OnControl, FALSE);
  std::lock_guard<std::mutex> hold(watchLock);
  watching = nullptr;
  SetEvent(watchEnded);
}
