// Program start-up.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "PortConfig.h"
#include "SerialPort.h"

class WireTrace;
class TracingPortFactory;

// What the tool takes from its command line and its environment.
struct StartupOptions {
  // --trace FILE: the wire trace of every job of the session, one after the
  // other in FILE, which is started afresh. Empty: no trace.
  std::string TracePath;
  // Where the ports and their lock files are (LUMO_COMPORT_DIR, LUMO_LOCK_DIR).
  PortConfig Ports;
  // The user's configuration folder for the tool (XDG_CONFIG_HOME, HOME),
  // where an installed tool keeps SavePath/; empty: none.
  std::string UserConfigFolder;
};

// Reads --trace FILE (the last one counts); every other argument is ignored,
// as it always was, and a --trace without a file after it too.
StartupOptions ReadStartupOptions(int argc, char** argv);

// Fills in what options take from the environment: the folders of the
// ports, of their lock files and of the user's configuration. The one place
// the window reads them.
void ReadStartupEnvironment(StartupOptions& options);

// The window's port seam: the platform's, behind a wire trace when one was
// asked for. It outlives the form that uses it.
class WindowPorts {
 public:
  // images: the image files the window will offer (its saved paths); a
  // trace that is one of them (by identity, whatever its name) would replace
  // it, and is not made.
  explicit WindowPorts(const StartupOptions& options, const std::vector<std::string>& images = {});
  ~WindowPorts();
  WindowPorts(const WindowPorts&) = delete;
  WindowPorts& operator=(const WindowPorts&) = delete;

  // The seam for the form: the platform's ports with the options' folders,
  // behind the trace when there is one.
  PortFactory* Ports();
  // Whether the form's ports go through a wire trace.
  bool Traced() const { return tracing_ != nullptr; }
  // A trace was asked for and its file could not be made.
  bool TraceFailed() const;
  // The image the trace asked for is, when it was refused for that; else empty.
  const std::string& TraceIsImage() const { return traceIsImage_; }
  // Ends the trace: false when one was asked for and did not reach its file
  // whole. No port may be open.
  bool CloseTrace();

 private:
  std::unique_ptr<PortFactory> platform_;
  std::unique_ptr<WireTrace> trace_;
  std::unique_ptr<TracingPortFactory> tracing_;
  std::string traceIsImage_;
};

// Creates the application object and the one form, runs the message loop,
// guarded as one block (GuardedStartup). argv0 alone goes to the application
// object; options say what else the session does (a wire trace, told about
// on stderr when its file cannot be written). Always returns 0.
int RunLumoDownloadTool(char* argv0, const StartupOptions& options = {});
