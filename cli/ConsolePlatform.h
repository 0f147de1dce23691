// What the command-line front end needs of the platform: whether its output
// is a terminal, where it was started from, the user's configuration folder,
// and the interrupt keys.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The command line's arguments as UTF-8 text, the program's name first.
// Windows hands main() its arguments in the ANSI code page, which cannot
// hold every path; there the console's output is set to UTF-8 as well.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Whether standard output is a terminal that can redraw lines in place.
bool OutputIsTerminal();

// The folder of the running executable; empty when it cannot be told.
std::string ExecutableFolder();

// The user's configuration folder for the tool, as the environment names it
// (XDG_CONFIG_HOME or HOME; APPDATA on Windows); empty when it names none.
std::string UserConfigFolder();

// First thing in main, before anything can start a thread: the signals the
// watch below hears are blocked here, and every thread started later (the
// wire trace's writer, the console's redrawer) inherits that, so none of
// them can take a signal with its default action. A write to a closed pipe
// fails (EPIPE) instead of ending the process mid-load.
void PrepareProcessSignals();

// Hears Ctrl+C, the termination request and a hang-up (the terminal or the
// session closed) while it lives: each one calls onSignal with the exit code
// it asks for (130 for Ctrl+C, 143 for a termination request, 129 for a
// hang-up), on a thread of its own. None ends the process by itself; the
// front end ends its jobs and exits.
class InterruptWatch {
 public:
  explicit InterruptWatch(std::function<void(int exitCode)> onSignal);
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};
