// lumo-download: loads firmware into camera units from the command line,
// several units at once, on the same job engine as the window.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "Console.h"
#include "ConsolePlatform.h"
#include "DownloadJob.h"
#include "ExitCodes.h"
#include "ImageFile.h"
#include "LoaderRecords.h"
#include "MessageTexts.h"
#include "Options.h"
#include "PortArgument.h"
#include "PortDetails.h"
#include "PortDiagnosis.h"
#include "SerialPort.h"
#include "SettingsFolder.h"
#include "TracingPort.h"
#include "UnitReport.h"
#include "WireTrace.h"

namespace {

// One unit's job, and what the job tells the console.
class UnitRun {
 public:
  // trace: the unit's wire trace, or null.
  UnitRun(UnitState& state, Console& console, PortFactory& ports, LoaderRecords& records,
          std::unique_ptr<WireTrace> trace)
      : observer_(state, console),
        trace_(std::move(trace)),
        tracing_(trace_ ? std::make_unique<TracingPortFactory>(ports, *trace_) : nullptr),
        session_(tracing_ ? *tracing_ : ports, &records),
        job_(session_, &observer_) {}

  TDownloadJob& Job() { return job_; }
  UnitState& State() { return observer_.State(); }
  int32_t Total() const { return observer_.Total(); }

  // Ends the unit's trace once its job is over: false when one was asked
  // for and did not reach its file whole.
  bool CloseTrace() { return !trace_ || trace_->Close(); }
  std::string TracePath() const { return trace_ ? trace_->Path() : std::string(); }

 private:
  ConsoleJobObserver observer_;
  std::unique_ptr<WireTrace> trace_;
  std::unique_ptr<TracingPortFactory> tracing_;  // gone before the trace: its ports record into it
  JobSession session_;
  TDownloadJob job_;
};

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = text.find('\n', start);
    const std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty()) lines.push_back(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

// The records of loaders left listening, shared with the window: the same
// file in the same settings folder. Made when there is a first record.
std::string LoaderStateFile() {
  const std::string folder = ExecutableFolder();
  if (folder.empty()) return {};
  return Utf8FromPath(PathFromUtf8(SettingsFolder(folder, UserConfigFolder())) / "SavePath" / "LoaderState.txt");
}

// Where the ports and their lock files are: LUMO_COMPORT_DIR names a COM
// folder to list instead of the system's ports, LUMO_LOCK_DIR the one lock
// folder (the simulated unit, tests, a bench of its own).
PortConfig PortConfigFromEnvironment() {
  return {FolderSetting(std::getenv("LUMO_COMPORT_DIR")), FolderSetting(std::getenv("LUMO_LOCK_DIR"))};
}

int ListPorts(PortFactory& ports, bool json) {
  const std::optional<std::vector<PortDetails>> found = DescribePorts(ports);
  if (!found) {
    std::cerr << "lumo-download: the serial device map cannot be read\n";
    return EXIT_PORT_NOT_OPENED;
  }
  if (json) {
    for (const PortDetails& p : *found) {
      std::cout << nlohmann::json{{"port", p.ComName},           {"device", p.Device},
                                  {"free", p.Free},              {"vendor_id", p.VendorId},
                                  {"product_id", p.ProductId},   {"manufacturer", p.Manufacturer},
                                  {"product", p.Product},        {"serial_number", p.SerialNumber}}
                       .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                << "\n";
    }
    return EXIT_ALL_DONE;
  }
  if (found->empty()) {
    std::cout << "No serial ports found.\n";
    return EXIT_ALL_DONE;
  }
  // Columns as wide as their longest entry; no blanks at the ends of lines.
  std::vector<std::vector<std::string>> rows{{"PORT", "DEVICE", "STATE", "USB ID", "MANUFACTURER", "PRODUCT", "SERIAL"}};
  for (const PortDetails& p : *found) {
    const std::string id = p.VendorId.empty() && p.ProductId.empty() ? "" : p.VendorId + ":" + p.ProductId;
    rows.push_back({p.ComName, p.Device, p.Free ? "free" : "busy", id, p.Manufacturer, p.Product, p.SerialNumber});
  }
  std::vector<size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  for (const auto& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line += std::string(widths[c] - row[c].size() + 2, ' ');
    }
    line.erase(line.find_last_not_of(' ') + 1);
    std::cout << line << "\n";
  }
  return EXIT_ALL_DONE;
}

// With several ports, one trace per port: "fault.trace" becomes
// "fault-COM34.trace".
std::string TraceFileFor(const std::string& trace, const std::string& port, bool several) {
  if (!several) return trace;
  std::string name = port.substr(port.find_last_of("/\\") == std::string::npos ? 0 : port.find_last_of("/\\") + 1);
  const std::filesystem::path path = PathFromUtf8(trace);
  const std::string stem = Utf8FromPath(path.stem()), extension = Utf8FromPath(path.extension());
  return Utf8FromPath(path.parent_path() / PathFromUtf8(stem + "-" + name + extension));
}

// The given image that path is, by identity (device and inode, whatever the
// path's spelling or links); null when it is none of them.
const std::string* ImageThatIs(const std::string& path, const CliOptions& options) {
  for (const std::string& image : options.Images) {
    std::error_code ec;  // a path that does not exist is no image
    if (!image.empty() && std::filesystem::equivalent(PathFromUtf8(path), PathFromUtf8(image), ec)) return &image;
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  PrepareProcessSignals();  // before anything can start a thread
  std::vector<std::string> arguments = CommandLineArguments(argc, argv);
  std::vector<char*> rawArguments;
  for (std::string& argument : arguments) rawArguments.push_back(argument.data());
  rawArguments.push_back(nullptr);
  CliOptions options;
  switch (ParseCommandLine(static_cast<int>(arguments.size()), rawArguments.data(), options, std::cout, std::cerr)) {
    case ParseResult::Exit: return EXIT_ALL_DONE;
    case ParseResult::UsageError: return EXIT_USAGE;
    case ParseResult::Run: break;
  }
  std::unique_ptr<PortFactory> ports = MakePlatformPortFactory(PortConfigFromEnvironment());
  if (options.ListPorts) return ListPorts(*ports, options.Json);

  const std::vector<SerialDeviceEntry> map = ports->ListPorts().value_or(std::vector<SerialDeviceEntry>{});
  std::vector<UnitState> states(options.Ports.size());
  std::set<std::string> devices;
  for (size_t i = 0; i < options.Ports.size(); ++i) {
    const NamedPort port = ResolvePortArgument(options.Ports[i], map);
    if (!port.Device.empty() && !devices.insert(port.Device).second) {
      UsageError(std::cerr, "--port: " + options.Ports[i] + " names a port given before");
      return EXIT_USAGE;
    }
    states[i].Port = port.Name;
    states[i].Device = port.Device;
    for (PathIndex t : {DSP_PATH, CM_PATH, MOTOR_PATH}) {
      if (!options.Images[t].empty()) states[i].Targets[t] = TargetState::Waiting;
    }
  }

  // A trace replaces its file: one that is an image would destroy it before
  // the job reads it. Refused before any file is made or port opened.
  std::vector<std::string> traceFiles(states.size());
  for (size_t i = 0; i < states.size() && !options.Trace.empty(); ++i) {
    traceFiles[i] = TraceFileFor(options.Trace, states[i].Port, states.size() > 1);
    if (const std::string* image = ImageThatIs(traceFiles[i], options)) {
      UsageError(std::cerr, "--trace: " + traceFiles[i] + " is the image " + *image +
                                "; the trace would overwrite it: give the trace a file of its own");
      return EXIT_USAGE;
    }
  }

  const Console::Mode mode = options.Json                                 ? Console::Mode::Json
                             : options.Quiet || !OutputIsTerminal() ? Console::Mode::Plain
                                                                          : Console::Mode::Terminal;
  Console console(mode, stdout);
  LoaderRecords records(LoaderStateFile());
  std::vector<std::unique_ptr<UnitRun>> units;
  for (size_t i = 0; i < states.size(); ++i) {
    UnitState& state = states[i];
    std::unique_ptr<WireTrace> trace;
    if (!options.Trace.empty()) {
      trace = std::make_unique<WireTrace>(traceFiles[i]);
      if (!trace->IsOpen()) {
        std::cerr << "lumo-download: --trace: cannot write " << trace->Path() << "\n";
        return EXIT_USAGE;
      }
    }
    units.push_back(std::make_unique<UnitRun>(state, console, *ports, records, std::move(trace)));
  }

  // Before any job thread starts, so that every thread keeps the signals blocked.
  std::mutex signalLock;
  int signalCode = 0;
  InterruptWatch watch([&](int code) {
    {
      std::lock_guard<std::mutex> hold(signalLock);
      if (signalCode == 0) signalCode = code;
    }
    for (auto& unit : units) unit->Job().RequestStop();
    console.Note("Stopping: each unit ends after its current exchange and closes its port.");
  });

  console.Begin(states);
  std::vector<std::thread> threads;
  // By unit: the trace that did not reach its file, each written by its unit's thread only.
  std::vector<std::string> traceErrors(units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    threads.emplace_back([&, i, run = units[i].get()] {
      UnitState& state = run->State();
      JobRequest request;
      request.Device = state.Device;
      request.User_BaudRate = options.Baud;
      for (PathIndex t : {DSP_PATH, CM_PATH, MOTOR_PATH}) {
        request.Targets[t] = {!options.Images[t].empty(), options.Images[t]};
      }
      console.JobStarted(state, options.Baud);
      JobOutcome outcome;
      std::vector<std::string> notes;
      if (state.Device.empty()) {
        // A port name the map does not know: the window could not offer it either.
        outcome.End = JobEnd::PortNotOpened;
        outcome.Message = TEXT_COMPORT_CANNOT_OPEN;
        outcome.Messages = {outcome.Message};
        console.Message(state, outcome.Message);
        notes.push_back("cause: no port named " + state.Port + " is known");
        std::string known;
        for (const SerialDeviceEntry& e : map) known += (known.empty() ? "" : ", ") + e.Data + " (" + e.ValueName + ")";
        notes.push_back(known.empty() ? "hint: no serial ports were found; is the adapter plugged in?"
                                      : "hint: the ports that exist: " + known);
      } else {
        outcome = RunDownloadJob(&run->Job(), request);
        if (outcome.End == JobEnd::PortNotOpened && !run->Job().StopRequested()) {
          const OpenFailure why = DiagnoseOpenFailure(state.Device, *ports);
          notes.push_back("cause: " + why.Detail);
          for (const std::string& line : SplitLines(why.Hint)) notes.push_back("hint: " + line);
        }
        for (const std::string& hint : JobHints(outcome)) notes.push_back("hint: " + hint);
      }
      // The port is closed: the trace holds all it will.
      if (!run->CloseTrace()) traceErrors[i] = "the wire trace " + run->TracePath() + " could not be written";
      console.JobEnded(state, outcome, UnitExitCode(outcome), notes, run->Total(), traceErrors[i]);
    });
  }
  for (std::thread& t : threads) t.join();
  console.Finish();

  // A closed output cuts no load: every job went on to its end (a stop
  // would leave units half loaded for a reader that merely went away).
  bool notWritten = false;
  for (const std::string& error : traceErrors) {
    if (error.empty()) continue;
    std::cerr << "lumo-download: --trace: " << error << "\n";
    notWritten = true;
  }
  if (const std::string error = console.OutputError(); !error.empty()) {
    std::cerr << "lumo-download: standard output could not be written (" << error
              << "); every job went on to its end\n";
    notWritten = true;
  }
  std::vector<int> codes;
  for (const UnitState& state : states) codes.push_back(state.ExitCode);
  std::lock_guard<std::mutex> hold(signalLock);
  return ToolExitCode(signalCode, codes, notWritten);
}
