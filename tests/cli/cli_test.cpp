// lumo-download as a user runs it: the built executable as a process against
// simulated units on pseudo-terminals.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CliProcess.h"
#include "ConsoleText.h"
#include "OtherProgram.h"
#include "SampleImageFiles.h"
#include "SampleImages.h"
#include "SimUnit.h"
#include "TestContext.h"
#include "TraceFile.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using lumo_test::CliProcess;
using sim::UnitPart;

using Images = lumo_test::SampleImageFiles;
using lumo_test::DspBody;

std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> events;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) continue;
    events.push_back(nlohmann::json::parse(line));  // throws on a line that is not JSON
  }
  return events;
}

using lumo_test::Lines;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// ---------------------------------------------------------------------------

TEST(LumoDownloadUsage, WrongUsageGetsOneLineAndTheUsageAndOpensNoPort) {
  Images images;
  sim::SimUnit unit;
  const std::string port = unit.SlavePath();
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* line;
  } cases[] = {
      {"an unknown option", {"--port", port, "--cm", images.cmPath, "--speed", "9600"}, "--speed"},
      {"a missing value", {"--port", port, "--cm", images.cmPath, "--baud"}, "--baud"},
      {"no image", {"--port", port}, "no image"},
      {"no port", {"--cm", images.cmPath}, "no port"},
      {"a rate that is no number", {"--port", port, "--cm", images.cmPath, "--baud", "fast"}, "'fast' is not a positive number"},
      {"a rate of zero", {"--port", port, "--cm", images.cmPath, "--baud", "0"}, "'0' is not a positive number"},
      {"a negative rate", {"--port", port, "--cm", images.cmPath, "--baud=-9600"}, "'-9600' is not a positive number"},
      {"a rate too big", {"--port", port, "--cm", images.cmPath, "--baud", "99999999999"}, "not a positive number"},
      {"an image that does not exist", {"--port", port, "--dsp", images.folder + "/none.bin"}, "--dsp: no such file"},
      {"a port given twice", {"--port", port, "--port", port, "--cm", images.cmPath}, "given before"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CliProcess run(c.args);
    EXPECT_EQ(run.Wait(), 2);
    const std::vector<std::string> lines = Lines(run.Err());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(Contains(lines[0], c.line)) << lines[0];
    EXPECT_TRUE(Contains(run.Err(), "Usage: lumo-download --port PORT"));
    EXPECT_EQ(run.Out(), "");
  }
  EXPECT_TRUE(unit.Wire().empty());
}

TEST(LumoDownloadUsage, HelpIsCompleteAndVersionIsTheProjects) {
  CliProcess help({"--help"});
  EXPECT_EQ(help.Wait(), 0);
  for (const char* part : {"--port PORT", "--baud RATE", "--dsp FILE", "--cm FILE", "--motor FILE", "--trace FILE",
                           "--json", "--quiet", "--list-ports", "--version", "Exit status:", "130", "129", "switch the unit off and on",
                           "the wire trace or standard output", "Examples:",
                           "LoaderState.txt"}) {
    EXPECT_TRUE(Contains(help.Out(), part)) << part;
  }
  CliProcess version({"--version"});
  EXPECT_EQ(version.Wait(), 0);
  EXPECT_EQ(version.Out(), std::string("lumo-download ") + LUMO_VERSION + "\n");
}

// ---------------------------------------------------------------------------

// Two units, placed as COM3 and COM4 in the folder.
std::vector<std::unique_ptr<sim::SimUnit>> UnitsOnCom3And4(const lumo_test::ComFolder& com) {
  std::vector<std::unique_ptr<sim::SimUnit>> units;
  for (int number : {3, 4}) {
    sim::SimOptions options;
    options.ComDir = com.Path();
    options.ComNumber = number;
    units.push_back(std::make_unique<sim::SimUnit>(options));
  }
  return units;
}

void ExpectAllThreeLoaded(const sim::SimUnit& unit, const Images& images) {
  EXPECT_EQ(unit.DspMemory(), DspBody(images.dsp));
  EXPECT_EQ(unit.Flash(UnitPart::CameraBoardLoader), images.cm);
  EXPECT_EQ(unit.Flash(UnitPart::ControlBoardLoader), images.motor);
}

// The whole job of all three targets, each output told once: plain lines
// with a wire trace per port (the ports named by bare number and by COM
// name), JSON lines, and redrawn lines on a terminal. The three runs go at
// once: each is mostly the loaders' fixed pauses.
TEST(LumoDownload, AJobOfAllThreeInEachOutput) {
  Images images;
  lumo_test::ComFolder com;
  const std::vector<std::unique_ptr<sim::SimUnit>> plainUnits = UnitsOnCom3And4(com);
  const std::string trace = images.folder + "/fault.trace";
  CliProcess plain({"--port", "3", "--port", "com4", "--dsp", images.dspPath, "--cm", images.cmPath, "--motor",
                    images.motorPath, "--trace", trace},
                   lumo_test::CliRun::WithEnvironment({"LUMO_COMPORT_DIR=" + com.Path()}));
  sim::SimUnit jsonUnit;
  CliProcess json({"--port", jsonUnit.SlavePath(), "--json", "--dsp", images.dspPath, "--cm", images.cmPath, "--motor",
                   images.motorPath});
  sim::SimUnit termA, termB;
  CliProcess terminal({"--port", termA.SlavePath(), "--port", termB.SlavePath(), "--dsp", images.dspPath, "--cm",
                       images.cmPath, "--motor", images.motorPath},
                      lumo_test::CliRun::OnTerminal());

  {
    SCOPED_TRACE("plain lines, a trace per port");
    ASSERT_EQ(plain.Wait(), 0) << plain.Out() << plain.Err();
    const std::string out = plain.Out();
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << "no terminal sequences into a pipe";
    const size_t table = out.find("PORT ");
    ASSERT_NE(table, std::string::npos) << out;
    const std::vector<std::string> lines = Lines(out.substr(0, table));
    for (int i = 0; i < 2; ++i) {
      SCOPED_TRACE(i);
      ExpectAllThreeLoaded(*plainUnits[i], images);
      // Not a terminal: plain lines, one per target started and ended, and the result.
      const std::string name = "COM" + std::to_string(3 + i);
      const std::string label = name + " (" + com.Path() + "/" + name + ")";
      std::vector<std::string> own;
      for (const std::string& line : lines) {
        if (line.rfind(label, 0) == 0) own.push_back(line);
      }
      ASSERT_EQ(own.size(), 7u) << out;
      EXPECT_TRUE(Contains(own.back(), label + ": done, ")) << own.back();
      own.pop_back();
      EXPECT_EQ(own, (std::vector<std::string>{
                         label + ": DSP started, " + std::to_string(sim::DSP_BODY_SIZE) + " bytes", label + ": DSP done",
                         label + ": CM started, " + std::to_string(images.cm.size()) + " bytes", label + ": CM done",
                         label + ": Motor started, " + std::to_string(images.motor.size()) + " bytes",
                         label + ": Motor done"}));

      // One trace per port, named after it, holding exactly what its unit
      // heard and sent, in frames.
      ASSERT_TRUE(plainUnits[i]->WaitIdle());
      const lumo_test::TraceFile file = lumo_test::ReadTraceFile(images.folder + "/fault-" + name + ".trace");
      ASSERT_TRUE(file.Read);
      EXPECT_TRUE(file.Malformed.empty());
      EXPECT_EQ(file.BytesOf(true), plainUnits[i]->WireBytes(sim::WireDirection::ToUnit));
      EXPECT_EQ(file.BytesOf(false), plainUnits[i]->WireBytes(sim::WireDirection::ToHost));
      for (const char* frame : {"command", "block", "PING", "DOWNLOAD", "SEND_DATA", "GET_STATUS", "RESET"}) {
        EXPECT_GT(file.Count(frame, true), 0u) << frame;
      }
      for (const char* frame : {"reply", "ACK", "status"}) EXPECT_GT(file.Count(frame, false), 0u) << frame;
      EXPECT_EQ(file.Count("noise", true) + file.Count("noise", false), 0u);
    }
    EXPECT_FALSE(fs::exists(trace)) << "several ports: no file without a port's name";
    const std::vector<std::string> rows = Lines(out.substr(table));
    ASSERT_EQ(rows.size(), 3u) << out;
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(rows[i + 1].rfind("COM" + std::to_string(3 + i) + " ", 0), 0u) << rows[i + 1];
      EXPECT_EQ(rows[i + 1].substr(rows[i + 1].size() - 6), "  done") << rows[i + 1];
    }
  }
  {
    SCOPED_TRACE("JSON lines");
    ASSERT_EQ(json.Wait(), 0) << json.Err();
    ExpectAllThreeLoaded(jsonUnit, images);
    const std::vector<nlohmann::json> events = JsonLines(json.Out());
    ASSERT_GE(events.size(), 8u);
    std::vector<std::string> order;
    double lastProgress = -1.0;
    for (const nlohmann::json& e : events) {
      EXPECT_EQ(e.at("port"), jsonUnit.SlavePath());
      const std::string kind = e.at("event");
      if (kind == "progress") {
        // At most one progress event every 250 ms.
        if (lastProgress >= 0) {
          EXPECT_GE(e.at("seconds").get<double>() - lastProgress, 0.249);
        }
        lastProgress = e.at("seconds").get<double>();
        EXPECT_LE(e.at("bytes_done").get<int>(), e.at("bytes_total").get<int>());
        continue;
      }
      order.push_back(kind + (e.contains("target") ? " " + e.at("target").get<std::string>() : "") +
                      (e.contains("result") ? " " + e.at("result").get<std::string>() : ""));
    }
    EXPECT_GE(lastProgress, 0.0) << "progress was told";
    EXPECT_EQ(order, (std::vector<std::string>{"job_start", "target_start dsp", "target_end dsp done",
                                               "target_start cm", "target_end cm done", "target_start motor",
                                               "target_end motor done", "job_end"}));
    const nlohmann::json& start = events.front();
    EXPECT_EQ(start.at("baud"), 9600);
    EXPECT_EQ(start.at("targets"), (nlohmann::json{"dsp", "cm", "motor"}));
    const nlohmann::json& end = events.back();
    EXPECT_EQ(end.at("outcome"), "done");
    EXPECT_EQ(end.at("message"), "");
    EXPECT_EQ(end.at("exit_code"), 0);
    const int total = static_cast<int>(sim::DSP_BODY_SIZE + images.cm.size() + images.motor.size());
    EXPECT_EQ(end.at("bytes"), total);
    EXPECT_EQ(end.at("bytes_total"), total);
    EXPECT_GT(end.at("seconds").get<double>(), 0.0);
  }
  {
    SCOPED_TRACE("two units on a terminal, each with its own redrawn line");
    ASSERT_EQ(terminal.Wait(), 0) << terminal.Out() << terminal.Err();
    for (const sim::SimUnit* unit : {&termA, &termB}) ExpectAllThreeLoaded(*unit, images);
    const std::string out = terminal.Out();
    EXPECT_TRUE(Contains(out, "\x1b[2A\r\x1b[J")) << "two lines redrawn in place";
    // Each unit's line shows the target, a bar and the window's percentage.
    for (const sim::SimUnit* unit : {&termA, &termB}) {
      const std::string port = unit->SlavePath().size() > 14
                                   ? "..." + unit->SlavePath().substr(unit->SlavePath().size() - 11)
                                   : unit->SlavePath();
      EXPECT_TRUE(Contains(out, port)) << port;
    }
    EXPECT_TRUE(Contains(out, " DSP   [")) << out;
    EXPECT_TRUE(Contains(out, " CM    [")) << out;
    EXPECT_TRUE(Contains(out, " Motor [")) << out;
    EXPECT_TRUE(Contains(out, "] 100 %")) << out;
    EXPECT_TRUE(terminal.TerminalUnchanged());
  }
}

// A unit's own failure: its exit code, the window's message after the port's
// label and the target, and the result line. The engine's faults themselves
// are shown in virtual time; each cause here is one that ends fast.
TEST(LumoDownload, ExitCodesTellWhatFailedWithTheWindowsMessage) {
  Images images;
  const std::string notDsp = images.Write("not-dsp.bin", Bytes(40000, 0x01));
  const std::string empty = images.Write("empty.bin", Bytes{});
  struct Case {
    const char* name;
    std::vector<sim::Fault> faults;
    std::vector<std::string> images;  // options after --port
    bool portMissing;
    int exitCode;
    std::vector<std::string> lines;  // after the port's label
  } cases[] = {
      {"a refused block", {{sim::FaultKind::RefuseBlock, UnitPart::Camera, -1, 3, -1}},
       {"--dsp", images.dspPath}, false, 1, {" DSP: Download Error !!", ": failed on the line: Download Error !!"}},
      {"not a DSP image", {}, {"--dsp", notDsp}, false, 4, {" DSP: This is not DSP File !!", ": refused: This is not DSP File !!"}},
      {"an empty board image", {}, {"--motor", empty}, false, 4,
       {": Control Baord File Size Error !!", ": Download Error !!", ": refused: Download Error !!"}},
      {"a port that does not open", {}, {"--cm", images.cmPath}, true, 3,
       {": Comport cannot open!!", ": port not opened: Comport cannot open!!"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimOptions options;
    options.Faults = c.faults;
    sim::SimUnit unit(options);
    const std::string port = c.portMissing ? "/dev/lumo-no-such-tty" : unit.SlavePath();
    std::vector<std::string> args{"--port", port};
    args.insert(args.end(), c.images.begin(), c.images.end());
    CliProcess run(args);
    EXPECT_EQ(run.Wait(), c.exitCode) << run.Out() << run.Err();
    const std::string out = run.Out();
    size_t at = 0;
    for (const std::string& line : c.lines) {
      const size_t found = out.find(port + line, at);
      ASSERT_NE(found, std::string::npos) << port + line << "\nin:\n" << out;
      at = found + 1;
    }
  }
}

// A failed job's JSON lines end with its outcome and the window's messages.
TEST(LumoDownload, JsonLinesEndAFailedJobWithItsOutcome) {
  Images images;
  sim::SimOptions failing;
  failing.Faults = {{sim::FaultKind::RefuseBlock, UnitPart::Camera, -1, 3, -1}};
  sim::SimUnit bad(failing);
  CliProcess failed({"--port", bad.SlavePath(), "--json", "--dsp", images.dspPath});
  ASSERT_EQ(failed.Wait(), 1) << failed.Out() << failed.Err();
  const std::vector<nlohmann::json> events = JsonLines(failed.Out());
  ASSERT_FALSE(events.empty());
  EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const nlohmann::json& e) {
    return e.at("event") == "message" && e.at("text") == "Download Error !!" && e.at("target") == "dsp";
  })) << failed.Out();
  const nlohmann::json& end = events.back();
  EXPECT_EQ(end.at("event"), "job_end");
  EXPECT_EQ(end.at("outcome"), "line_failure");
  EXPECT_EQ(end.at("message"), "Download Error !!");
  EXPECT_EQ(end.at("exit_code"), 1);
}

// A unit that arrives with the camera board's loader listening, no record
// of it here, and a loader that will not restart: the job ends before any
// image byte, exit 4, with what to do. (The loader that does restart, and
// the board loaded after it, are shown in virtual time.)
TEST(LumoDownload, AnUnknownListeningLoaderThatNeverRestartsIsNeverWrittenTo) {
  Images images;
  sim::SimOptions options;
  options.ListeningAtStart = UnitPart::CameraBoardLoader;
  options.Faults = {{sim::FaultKind::NakPacket, UnitPart::CameraBoardLoader, 0x25, 0, -1}};
  sim::SimUnit unit(options);
  CliProcess run({"--port", unit.SlavePath(), "--motor", images.motorPath});
  EXPECT_EQ(run.Wait(), 4) << run.Out() << run.Err();
  EXPECT_TRUE(unit.Flash(UnitPart::CameraBoardLoader).empty());
  EXPECT_TRUE(unit.Flash(UnitPart::ControlBoardLoader).empty());
  EXPECT_NE(run.Out().find(": A board's loader was already listening and did not restart"), std::string::npos)
      << run.Out();
  EXPECT_NE(run.Out().find("hint: a loader was listening when the job began"), std::string::npos) << run.Out();
}

// ---------------------------------------------------------------------------

// Units loaded at once, each on its own port, one of them failing on the
// line: the others are loaded all the same, each unit's lines carry its own
// port, the summary has a row per unit in --port order, and the exit status
// is the failed unit's.
TEST(LumoDownloadUnits, FourUnitsAtOnceOneFailedTheOthersLoaded) {
  Images images;
  std::vector<std::unique_ptr<sim::SimUnit>> units;
  for (int i = 0; i < 4; ++i) {
    sim::SimOptions options;
    if (i == 2) options.Faults = {{sim::FaultKind::FlashFailure, UnitPart::ControlBoardLoader, 0x21}};
    units.push_back(std::make_unique<sim::SimUnit>(options));
  }
  std::vector<std::string> args{"--motor", images.motorPath};
  for (const auto& unit : units) args.insert(args.end(), {"--port", unit->SlavePath()});
  CliProcess run(args);
  EXPECT_EQ(run.Wait(), 1) << run.Out() << run.Err();
  const std::string out = run.Out();
  const size_t table = out.find("PORT ");
  ASSERT_NE(table, std::string::npos) << out;
  const std::vector<std::string> lines = Lines(out.substr(0, table));
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const std::string port = units[i]->SlavePath();
    std::vector<std::string> own;
    for (const std::string& line : lines) {
      if (line.rfind(port + ":", 0) == 0 || line.rfind(port + " ", 0) == 0) own.push_back(line);
    }
    ASSERT_FALSE(own.empty()) << out;
    EXPECT_EQ(own.front(), port + ": Motor started, " + std::to_string(images.motor.size()) + " bytes");
    if (i == 2) {
      EXPECT_TRUE(units[i]->Flash(UnitPart::ControlBoardLoader).empty());
      EXPECT_TRUE(std::find(own.begin(), own.end(), port + " Motor: Erase Flash Error !!") != own.end()) << out;
      EXPECT_EQ(own.back(), port + ": failed on the line: Erase Flash Error !!");
      continue;
    }
    EXPECT_EQ(units[i]->Flash(UnitPart::ControlBoardLoader), images.motor);
    ASSERT_EQ(own.size(), 3u) << out;
    EXPECT_EQ(own[1], port + ": Motor done");
    EXPECT_TRUE(Contains(own[2], port + ": done, ")) << own[2];
  }
  // The summary: a row per unit in --port order, each target's result.
  const std::vector<std::string> rows = Lines(out.substr(table));
  ASSERT_EQ(rows.size(), 5u) << out;
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(rows[i + 1].rfind(units[i]->SlavePath(), 0), 0u) << rows[i + 1];
    EXPECT_TRUE(Contains(rows[i + 1], i == 2 ? "failed on the line: Erase Flash Error !!" : "done")) << rows[i + 1];
  }
}

// ---------------------------------------------------------------------------

// The window keeps its fixed message; the command line adds why and what to do.
TEST(LumoDownloadPorts, EachCauseOfAPortThatDoesNotOpenGetsItsHint) {
  Images images;
  lumo_test::ComFolder com;
  sim::SimOptions listed;
  listed.ComDir = com.Path();
  listed.ComNumber = 5;
  sim::SimUnit known(listed);  // the port that exists, for the hints that list them
  const std::string environment = "LUMO_COMPORT_DIR=" + com.Path();

  {
    SCOPED_TRACE("no such device");
    CliProcess run({"--port", "/dev/lumo-no-such-tty", "--cm", images.cmPath},
                   lumo_test::CliRun::WithEnvironment({environment}));
    EXPECT_EQ(run.Wait(), 3);
    for (const std::string& part : {std::string("/dev/lumo-no-such-tty: Comport cannot open!!"),
                                    std::string("cause: /dev/lumo-no-such-tty does not exist"), std::string("COM5")}) {
      EXPECT_TRUE(Contains(run.Out(), part)) << part << "\nin:\n" << run.Out();
    }
  }
  {
    SCOPED_TRACE("a port name the map does not know");
    CliProcess run({"--port", "COM77", "--cm", images.cmPath}, lumo_test::CliRun::WithEnvironment({environment}));
    EXPECT_EQ(run.Wait(), 3);
    for (const std::string& part : {std::string("COM77: Comport cannot open!!"), std::string("cause: no port named COM77"),
                                    std::string("hint: the ports that exist: COM5 (" + com.Path() + "/COM5)")}) {
      EXPECT_TRUE(Contains(run.Out(), part)) << part << "\nin:\n" << run.Out();
    }
  }
  {
    SCOPED_TRACE("held by another process");
    sim::SimUnit unit;
    lumo_test::OtherProgram holder(unit.SlavePath(), lumo_test::OtherProgram::Flock);
    CliProcess run({"--port", unit.SlavePath(), "--cm", images.cmPath});
    EXPECT_EQ(run.Wait(), 3);
    for (const std::string& part : {std::string(": Comport cannot open!!"), std::string("(pid " + std::to_string(holder.Pid()) + ")"),
                                    std::string("hint: Close that program")}) {
      EXPECT_TRUE(Contains(run.Out(), part)) << part << "\nin:\n" << run.Out();
    }
    EXPECT_TRUE(unit.Wire().empty());
  }
  {
    SCOPED_TRACE("permission denied");
    sim::SimUnit unit;
    lumo_test::CliRun as;
    // Root opens any device: the tool runs as nobody then, on a port of
    // group dialout that only its group may use.
    if (geteuid() == 0) {
      ASSERT_EQ(chown(unit.SlavePath().c_str(), 0, 20), 0);
      ASSERT_EQ(chmod(unit.SlavePath().c_str(), 0660), 0);
      as.prefix = {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
    } else {
      ASSERT_EQ(chmod(unit.SlavePath().c_str(), 0), 0);
    }
    CliProcess run({"--port", unit.SlavePath(), "--cm", images.cmPath}, as);
    EXPECT_EQ(run.Wait(), 3) << run.Err();
    for (const std::string& part : {std::string(": Comport cannot open!!"), std::string("cause: Permission denied opening"),
                                    std::string("usermod -aG")}) {
      EXPECT_TRUE(Contains(run.Out(), part)) << part << "\nin:\n" << run.Out();
    }
  }
}

TEST(LumoDownloadPorts, ListPortsShowsEachPortFreeOrBusy) {
  lumo_test::ComFolder com;
  std::vector<std::unique_ptr<sim::SimUnit>> units;
  for (int number : {5, 6}) {
    sim::SimOptions options;
    options.ComDir = com.Path();
    options.ComNumber = number;
    units.push_back(std::make_unique<sim::SimUnit>(options));
  }
  lumo_test::OtherProgram holder(units[1]->SlavePath(), lumo_test::OtherProgram::Flock);
  const lumo_test::CliRun environment = lumo_test::CliRun::WithEnvironment({"LUMO_COMPORT_DIR=" + com.Path()});

  CliProcess text({"--list-ports"}, environment);
  ASSERT_EQ(text.Wait(), 0) << text.Err();
  const std::vector<std::string> rows = Lines(text.Out());
  ASSERT_EQ(rows.size(), 3u) << text.Out();
  EXPECT_EQ(rows[0].rfind("PORT", 0), 0u);
  EXPECT_EQ(rows[1], "COM5  " + com.Path() + "/COM5  free");
  EXPECT_EQ(rows[2], "COM6  " + com.Path() + "/COM6  busy");

  CliProcess json({"--list-ports", "--json"}, environment);
  ASSERT_EQ(json.Wait(), 0);
  const std::vector<nlohmann::json> ports = JsonLines(json.Out());
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].at("port"), "COM5");
  EXPECT_EQ(ports[0].at("free"), true);
  EXPECT_EQ(ports[1].at("free"), false);
  // A pseudo-terminal is no USB adapter: nothing is guessed.
  for (const char* field : {"vendor_id", "product_id", "manufacturer", "product", "serial_number"}) {
    EXPECT_EQ(ports[0].at(field), "") << field;
  }
  EXPECT_TRUE(units[0]->Wire().empty()) << "listing changes nothing on the line";
}

// ---------------------------------------------------------------------------

// The lock file of a port the tool opened is gone once the tool closed it.
void ExpectPortClosed(const sim::SimUnit& unit) {
  const char* locks = std::getenv("LUMO_LOCK_DIR");
  if (locks) {
    const std::string lock = std::string(locks) + "/LCK.." + fs::path(unit.SlavePath()).filename().string();
    EXPECT_FALSE(fs::exists(lock)) << lock;
  }
}

// A signal while the DSP's blocks go out: the job ends after the exchange
// under way and closes its port, and the tool says so in each output.
TEST(LumoDownloadInterrupt, SignalEndsEachJobAfterItsExchangeAndClosesItsPort) {
  Images images;
  const Bytes body = DspBody(images.dsp);
  const std::string stopNote = "Stopping: each unit ends after its current exchange and closes its port.";
  enum Output { Terminal, Plain, Json };
  struct Case {
    const char* name;
    Output output;
    bool trace;  // the trace's own thread must not take the signal either
    std::vector<int> signals;
    int exitCode;
  } cases[] = {
      {"Ctrl+C twice on a terminal", Terminal, false, {SIGINT, SIGINT}, 130},
      {"SIGTERM with JSON lines", Json, false, {SIGTERM}, 143},
      {"Ctrl+C with a trace and JSON lines", Json, true, {SIGINT}, 130},
      {"SIGTERM with a trace", Plain, true, {SIGTERM}, 143},
      {"SIGHUP: the terminal or the session closed", Plain, false, {SIGHUP}, 129},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimUnit unit;
    const std::string trace = images.folder + "/stop.trace";
    fs::remove(trace);
    std::vector<std::string> args{"--port", unit.SlavePath(), "--dsp", images.dspPath};
    if (c.output == Json) args.push_back("--json");
    if (c.trace) args.insert(args.end(), {"--trace", trace});
    CliProcess run(args, c.output == Terminal ? lumo_test::CliRun::OnTerminal() : lumo_test::CliRun());
    // Once the DSP's blocks are going out.
    ASSERT_TRUE(run.WaitForOutput(c.output == Terminal ? " DSP   ["
                                  : c.output == Json   ? "\"event\":\"progress\""
                                                       : ": DSP started"))
        << run.Out();
    // The target's start is shown before its camera commands: the signal
    // goes once the unit holds a first block, so that it lands among the blocks.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (lumo_test::Erased(unit.DspMemory())) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no block reached the unit";
      // Real time: the unit hears the first block over the terminal.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (int signal : c.signals) run.Signal(signal);
    // A signal's default action gives the same code: what the tool said tells the two apart.
    ASSERT_EQ(run.Wait(), c.exitCode) << run.Out() << run.Err();

    // Part of the image went in, block by block from its start, and the rest never went out.
    const Bytes memory = unit.DspMemory();
    ASSERT_EQ(memory.size(), body.size());
    const size_t written = static_cast<size_t>(std::mismatch(memory.begin(), memory.end(), body.begin()).first - memory.begin());
    EXPECT_LT(written, body.size());
    EXPECT_TRUE(std::all_of(memory.begin() + static_cast<long>(written), memory.end(), [](uint8_t b) { return b == 0xFF; }));
    // The port was closed as the tool closes it: its lock file is gone.
    ExpectPortClosed(unit);
    if (c.output == Json) {
      const std::vector<nlohmann::json> events = JsonLines(run.Out());
      ASSERT_FALSE(events.empty());
      EXPECT_TRUE(std::any_of(events.begin(), events.end(), [&](const nlohmann::json& e) {
        return e.at("event") == "note" && e.at("text") == stopNote;
      })) << run.Out();
      EXPECT_EQ(events.back().at("event"), "job_end");
      EXPECT_EQ(events.back().at("outcome"), "stopped");
      EXPECT_EQ(events.back().at("cut_short"), "dsp");
      EXPECT_EQ(events.back().at("exit_code"), 1);
    } else {
      EXPECT_TRUE(Contains(run.Out(), stopNote)) << run.Out();
      EXPECT_TRUE(Contains(run.Out(), unit.SlavePath() + ": stopped while writing DSP: load this unit again")) << run.Out();
    }
    if (c.output == Terminal) {
      EXPECT_TRUE(run.TerminalUnchanged());
    }
    if (c.trace) {
      // The trace ends as a closed port ends it, not where the process died.
      const lumo_test::TraceFile file = lumo_test::ReadTraceFile(trace);
      ASSERT_TRUE(file.Read);
      EXPECT_TRUE(file.Malformed.empty());
      ASSERT_FALSE(file.Notes.empty());
      EXPECT_TRUE(Contains(file.Notes.back(), "port closed")) << file.Notes.back();
    }
  }
}

// A reader that went away (`| head -1`, a closed log) must not leave a unit
// half loaded: the job goes on to its end, then the exit status says so.
TEST(LumoDownloadOutput, AClosedOutputNeverCutsALoad) {
  Images images;
  // Plain lines and JSON lines, at once on two units.
  sim::SimUnit units[2];
  std::vector<std::unique_ptr<CliProcess>> runs;
  for (const bool json : {false, true}) {
    lumo_test::CliRun closed;
    closed.closedOutput = true;
    std::vector<std::string> args{"--port", units[json].SlavePath(), "--dsp", images.dspPath};
    if (json) args.push_back("--json");
    runs.push_back(std::make_unique<CliProcess>(args, closed));
  }
  for (const bool json : {false, true}) {
    SCOPED_TRACE(json ? "JSON lines" : "plain lines");
    CliProcess& run = *runs[json];
    EXPECT_EQ(run.Wait(), 6) << run.Err();
    EXPECT_EQ(units[json].DspMemory(), DspBody(images.dsp));
    ExpectPortClosed(units[json]);
    EXPECT_TRUE(Contains(run.Err(), "standard output could not be written")) << run.Err();
  }
}

// ---------------------------------------------------------------------------

// The trace does not change what goes on the wire: the same job with and
// without it, at once on two units, puts the same bytes on the line.
TEST(LumoDownloadTrace, TheWireIsTheSameWithAndWithoutATrace) {
  Images images;
  sim::SimUnit plain, traced;
  CliProcess withoutTrace({"--port", plain.SlavePath(), "--dsp", images.dspPath});
  CliProcess withTrace({"--port", traced.SlavePath(), "--dsp", images.dspPath, "--trace", images.folder + "/one.trace"});
  ASSERT_EQ(withoutTrace.Wait(), 0) << withoutTrace.Out() << withoutTrace.Err();
  ASSERT_EQ(withTrace.Wait(), 0) << withTrace.Out() << withTrace.Err();
  ASSERT_TRUE(plain.WaitIdle());
  ASSERT_TRUE(traced.WaitIdle());
  EXPECT_EQ(plain.WireBytes(sim::WireDirection::ToUnit), traced.WireBytes(sim::WireDirection::ToUnit));
  EXPECT_TRUE(lumo_test::ReadTraceFile(images.folder + "/one.trace").Read);
}

Bytes FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A trace is never one of the job's images, however its path is spelled: the
// tool refuses before it opens or writes anything, and every image keeps its bytes.
TEST(LumoDownloadTrace, ATraceThatIsAnImageIsRefusedBeforeAnythingIsWritten) {
  Images images;
  lumo_test::ComFolder com;
  const std::vector<std::unique_ptr<sim::SimUnit>> units = UnitsOnCom3And4(com);
  const std::string symlink = images.folder + "/link.trace";
  fs::create_symlink(images.cmPath, symlink);
  const std::string hardLink = images.folder + "/hard.trace";
  fs::create_hard_link(images.motorPath, hardLink);
  const std::string folderName = fs::path(images.folder).filename().string();
  const std::string roundabout = images.folder + "/../" + folderName + "/./cm.bin";
  // With several ports "fault.bin" becomes fault-COM3.bin and fault-COM4.bin.
  const std::string portImage = images.Write("fault-COM4.bin", images.cm);
  const std::string portTrace = images.folder + "/fault.bin";
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string trace, image;  // as the message must name them
  } cases[] = {
      {"the image's own path", {"--port", "COM3", "--cm", images.cmPath, "--trace", images.cmPath}, images.cmPath,
       images.cmPath},
      {"a symbolic link to the image", {"--port", "COM3", "--cm", images.cmPath, "--trace", symlink}, symlink, images.cmPath},
      {"a hard link to the second image", {"--port", "COM3", "--cm", images.cmPath, "--motor", images.motorPath, "--trace", hardLink},
       hardLink, images.motorPath},
      {"another spelling of the image's path", {"--port", "COM3", "--cm", images.cmPath, "--trace", roundabout}, roundabout,
       images.cmPath},
      {"the second port's trace", {"--port", "COM3", "--port", "COM4", "--cm", portImage, "--trace", portTrace},
       portImage, portImage},
  };
  const std::vector<std::string> files{images.dspPath, images.cmPath, images.motorPath, portImage};
  std::vector<Bytes> before;
  for (const std::string& f : files) before.push_back(FileBytes(f));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CliProcess run(c.args, lumo_test::CliRun::WithEnvironment({"LUMO_COMPORT_DIR=" + com.Path()}));
    EXPECT_EQ(run.Wait(), 2) << run.Out() << run.Err();
    const std::vector<std::string> lines = Lines(run.Err());
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(Contains(lines[0], "--trace") && Contains(lines[0], c.trace) && Contains(lines[0], c.image)) << lines[0];
    EXPECT_EQ(run.Out(), "");
    for (size_t i = 0; i < files.size(); ++i) EXPECT_EQ(FileBytes(files[i]), before[i]) << files[i];
    EXPECT_TRUE(fs::is_symlink(symlink));
    EXPECT_FALSE(fs::exists(images.folder + "/fault-COM3.bin")) << "no trace made for the other port either";
    for (const auto& unit : units) EXPECT_TRUE(unit->Wire().empty());
  }
}

// A trace that does not reach its file is said, and the exit status tells
// it from a clean run; the job itself is not held up by it.
TEST(LumoDownloadTrace, ATraceThatCannotBeWrittenIsReported) {
  Images images;
  sim::SimUnit unit;
  CliProcess run({"--port", unit.SlavePath(), "--dsp", images.dspPath, "--json", "--trace", "/dev/full"});
  EXPECT_EQ(run.Wait(), 6) << run.Out() << run.Err();
  EXPECT_EQ(unit.DspMemory(), DspBody(images.dsp));
  EXPECT_TRUE(Contains(run.Err(), "/dev/full could not be written")) << run.Err();
  const std::vector<nlohmann::json> events = JsonLines(run.Out());
  ASSERT_FALSE(events.empty());
  const nlohmann::json& end = events.back();
  EXPECT_EQ(end.at("event"), "job_end");
  EXPECT_EQ(end.at("outcome"), "done");
  EXPECT_TRUE(Contains(end.value("trace_error", ""), "/dev/full")) << end.dump();
}

}  // namespace
