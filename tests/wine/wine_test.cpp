// The Windows build under Wine, seen from the Linux side of the line: the
// Win32 port backend against a pseudo-terminal peer, and lumo-download.exe
// against the simulated unit. Wine serves COM5 to COM8 from links in one
// folder (./run test writes them into the Wine prefix before its server
// starts); each case points the link it uses at a fresh pseudo-terminal.
//
// Needs, from the environment: LUMO_WINE (the Wine loader), LUMO_WINDOWS_BIN
// (the cross build's bin folder), LUMO_WINE_COM_DIR (the folder of the links),
// and WINEPREFIX. The cases carry the label "wine" and run one at a time.
#include <gtest/gtest.h>

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CliProcess.h"
#include "HexText.h"
#include "Layout.h"
#include "MessageTexts.h"
#include "PseudoTerminal.h"
#include "SampleImageFiles.h"
#include "SampleImages.h"
#include "SimUnit.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using lumo_test::CliProcess;
using lumo_test::CliRun;
using lumo_test::DspBody;
using lumo_test::Erased;
using sim::UnitPart;

struct WineSetup {
  std::string wine = Get("LUMO_WINE");
  std::string bin = Get("LUMO_WINDOWS_BIN");
  std::string comDir = Get("LUMO_WINE_COM_DIR");

  static std::string Get(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
  }
  bool Ok() const { return !wine.empty() && !bin.empty() && !comDir.empty() && std::getenv("WINEPREFIX"); }
  // A run of one of the cross build's executables under Wine.
  CliRun Run(const std::string& exe) const {
    CliRun run;
    run.tool = bin + "/" + exe;
    run.prefix = {wine};
    run.environment = {"WINEDEBUG=-all"};
    return run;
  }
};

#define REQUIRE_WINE(setup)                                                                              \
  ASSERT_TRUE((setup).Ok()) << "run under ./run test's Wine stage: LUMO_WINE, LUMO_WINDOWS_BIN, "        \
                               "LUMO_WINE_COM_DIR and WINEPREFIX must be set"

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // a Windows console line
    lines.push_back(line);
  }
  return lines;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool HasLine(const std::string& text, const std::string& line) {
  const std::vector<std::string> lines = Lines(text);
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The first whole line of the output that starts with prefix, once it is
// there (bounded); empty when none comes.
std::string WaitForLine(const CliProcess& run, const std::string& prefix,
                        std::chrono::seconds bound = std::chrono::seconds(60)) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string out = run.Out();
    const size_t end = out.rfind('\n');
    for (const std::string& line : Lines(out.substr(0, end == std::string::npos ? 0 : end + 1))) {
      if (line.rfind(prefix, 0) == 0) return line;
    }
    // Real time: the program under Wine writes the line; polled to the deadline.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return {};
}

// The rate the Windows side set, as the pseudo-terminal's own settings hold it.
int LinuxSideRate(const lumo_test::PseudoTerminal& pty) {
  static const struct {
    speed_t constant;
    int rate;
  } rates[] = {{B1200, 1200},   {B2400, 2400},   {B4800, 4800},     {B9600, 9600},
               {B19200, 19200}, {B38400, 38400}, {B57600, 57600},   {B115200, 115200}};
  const lumo_test::TerminalSettings settings = pty.Settings();
  if (!settings.valid) return -1;
  for (const auto& r : rates) {
    if (cfgetospeed(&settings.t) == r.constant) return r.rate;
  }
  return 0;
}

// The line as a unit's port would have it: raw, nothing echoed.
void MakeRaw(const lumo_test::PseudoTerminal& pty) {
  termios t{};
  ASSERT_EQ(tcgetattr(pty.Master(), &t), 0);
  cfmakeraw(&t);
  ASSERT_EQ(tcsetattr(pty.Master(), TCSANOW, &t), 0);
}

// Reads count bytes off the master side, within bound.
Bytes ReadMaster(const lumo_test::PseudoTerminal& pty, size_t count, std::chrono::seconds bound) {
  Bytes got;
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
    uint8_t buffer[512];
    pollfd p{pty.Master(), POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    const ssize_t n = read(pty.Master(), buffer, std::min(sizeof buffer, count - got.size()));
    if (n > 0) got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

void WriteMaster(const lumo_test::PseudoTerminal& pty, const Bytes& bytes) {
  ASSERT_EQ(write(pty.Master(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

Bytes Pattern(size_t count, int factor, int offset) {
  Bytes bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>((i * factor + offset) & 0xFF);
  return bytes;
}

// ---------------------------------------------------------------------------
// The Win32 backend against a pseudo-terminal peer (COM5).

constexpr const char* PORT_CHECK = "win-port-check.exe";
const std::string COM5 = "\\\\.\\COM5";

TEST(WinePort, EachStandardRateReadsBackOnBothSidesAndOthersAreRefused) {
  const WineSetup wine;
  REQUIRE_WINE(wine);
  lumo_test::PseudoTerminal pty(wine.comDir, "COM5");
  ASSERT_TRUE(pty.Ok());
  MakeRaw(pty);
  const int standard[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
  std::vector<std::string> args{COM5, "rates"};
  for (int rate : standard) args.push_back(std::to_string(rate));
  // 14400 has no constant on Linux (Wine sets another rate); 0 is no rate.
  args.insert(args.end(), {"14400", "0"});
  CliProcess run(args, wine.Run(PORT_CHECK));
  ASSERT_EQ(WaitForLine(run, "open "), "open ok") << run.Out() << run.Err();
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string rate = args[i];
    SCOPED_TRACE("rate " + rate);
    const std::string line = WaitForLine(run, "rate " + rate + " ");
    ASSERT_FALSE(line.empty()) << run.Out() << run.Err();
    const bool standardRate = i - 2 < std::size(standard);
    if (standardRate) {
      EXPECT_EQ(line, "rate " + rate + " set=ok readback=" + rate);
      EXPECT_EQ(LinuxSideRate(pty), std::stoi(rate));
    } else {
      EXPECT_TRUE(Contains(line, " set=refused")) << line;
    }
    const uint8_t go = static_cast<uint8_t>(0xA0 + i);
    WriteMaster(pty, {go});
    ASSERT_EQ(WaitForLine(run, "go " + lumo_test::HexText({go})), "go " + lumo_test::HexText({go})) << run.Out();
  }
  EXPECT_EQ(run.Wait(), 0) << run.Out() << run.Err();
  EXPECT_TRUE(HasLine(run.Out(), "done")) << run.Out();
}

TEST(WinePort, BytesGoBothWaysAndTheQueuedCountIsTheirs) {
  const WineSetup wine;
  REQUIRE_WINE(wine);
  struct Case {
    int rate;
    size_t count;
  } cases[] = {{9600, 40}, {115200, 700}};
  for (const Case& c : cases) {
    SCOPED_TRACE("rate " + std::to_string(c.rate));
    lumo_test::PseudoTerminal pty(wine.comDir, "COM5");
    ASSERT_TRUE(pty.Ok());
    MakeRaw(pty);
    CliProcess run({COM5, "exchange", std::to_string(c.rate), std::to_string(c.count)}, wine.Run(PORT_CHECK));
    ASSERT_EQ(WaitForLine(run, "wrote "), "wrote " + std::to_string(c.count) + " ok") << run.Out() << run.Err();
    EXPECT_EQ(ReadMaster(pty, c.count, std::chrono::seconds(60)), Pattern(c.count, 7, 1));
    EXPECT_EQ(LinuxSideRate(pty), c.rate);
    const Bytes answer = Pattern(c.count, 13, 5);
    WriteMaster(pty, answer);
    EXPECT_EQ(run.Wait(), 0) << run.Out() << run.Err();
    const std::string out = run.Out();
    EXPECT_TRUE(HasLine(out, "queued " + std::to_string(c.count))) << out;
    EXPECT_TRUE(HasLine(out, "read " + std::to_string(c.count) + " " + lumo_test::HexText(answer))) << out;
  }
}

TEST(WinePort, AWriteIntoATerminalNobodyReadsEndsShort) {
  const WineSetup wine;
  REQUIRE_WINE(wine);
  lumo_test::PseudoTerminal pty(wine.comDir, "COM5");
  ASSERT_TRUE(pty.Ok());
  MakeRaw(pty);
  // More than a pseudo-terminal takes without a reader.
  constexpr int SIZE = 48 * 1024;
  CliProcess run({COM5, "stall", "115200", std::to_string(SIZE)}, wine.Run(PORT_CHECK));
  EXPECT_EQ(run.Wait(), 0) << run.Out() << run.Err();
  const std::string out = run.Out();
  const size_t at = out.find("write ok=0 written=");
  ASSERT_NE(at, std::string::npos) << out;
  const int written = std::atoi(out.c_str() + at + std::string("write ok=0 written=").size());
  EXPECT_LT(written, SIZE);
  EXPECT_TRUE(Contains(out, " of " + std::to_string(SIZE))) << out;
}

TEST(WinePort, WakeEndsAWaitForInput) {
  const WineSetup wine;
  REQUIRE_WINE(wine);
  lumo_test::PseudoTerminal pty(wine.comDir, "COM5");
  ASSERT_TRUE(pty.Ok());
  MakeRaw(pty);
  // The wait is for ten minutes; only the wake can end it before the run's bound.
  CliProcess run({COM5, "wake"}, wine.Run(PORT_CHECK));
  EXPECT_EQ(run.Wait(std::chrono::seconds(120)), 0) << run.Out() << run.Err();
  EXPECT_EQ(Lines(run.Out()), (std::vector<std::string>{"open ok", "waiting", "woke", "done"}));
}

// ---------------------------------------------------------------------------
// lumo-download.exe against the simulated unit (COM6).

// The sample images, named as a Windows program names them: Wine's drive Z:
// is the root.
struct Images : lumo_test::SampleImageFiles {
  Images() {
    for (std::string* path : {&dspPath, &cmPath, &motorPath}) *path = "Z:" + *path;
  }
};

sim::SimOptions UnitOnCom6(const WineSetup& wine, int cameraRate = 9600) {
  sim::SimOptions options;
  options.ComDir = wine.comDir;
  options.ComNumber = 6;
  options.CameraRate = cameraRate;
  return options;
}

// One job of all three at a rate other than the default: the camera
// commands at the user's rate, the loads at 115200, through the Win32
// backend. Each rate of the backend is shown by WinePort above; the job's
// orders, faults and rates in virtual time (tests/e2e/job_table_test.cpp).
TEST(WineDownload, LoadsAllThreeTargets) {
  const WineSetup wine;
  REQUIRE_WINE(wine);
  const Images images;
  {
    const int rate = 19200;
    sim::SimUnit unit(UnitOnCom6(wine, rate));
    CliProcess run({"--port", "COM6", "--baud", std::to_string(rate), "--dsp", images.dspPath, "--cm",
                    images.cmPath, "--motor", images.motorPath},
                   wine.Run("lumo-download.exe"));
    ASSERT_EQ(run.Wait(), 0) << run.Out() << run.Err();
    EXPECT_EQ(unit.DspMemory(), DspBody(images.dsp));
    EXPECT_EQ(unit.Flash(UnitPart::CameraBoardLoader), images.cm);
    EXPECT_EQ(unit.Flash(UnitPart::ControlBoardLoader), images.motor);
    const std::vector<std::string> lines = Lines(run.Out());
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(Contains(lines.back(), "COM6 (\\\\.\\COM6): done, ")) << run.Out();
    std::cout << run.Out();  // what a Windows job prints, for the record
  }
}

// A camera that never answers: the Win32 backend's reads come back empty
// until the job's time-outs end it, and the exit status and message say so.
// The faults within a job (a lost reply and its recovery among them) are
// shown in virtual time.
TEST(WineDownload, ReportsASilentCamera) {
  const WineSetup wine;
  REQUIRE_WINE(wine);
  const Images images;
  struct Case {
    const char* name;
    sim::Fault fault;
    std::vector<std::string> targets;
    int exitCode;
    const char* message;  // a line of the output, empty for none
  } cases[] = {
      {"a silent camera", {sim::FaultKind::Silence, UnitPart::Camera, -1, 0, -1},
       {"--dsp", images.dspPath}, 1, "DSP: It's communication Error !!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimOptions options = UnitOnCom6(wine);
    options.Faults = {c.fault};
    sim::SimUnit unit(options);
    std::vector<std::string> args{"--port", "6"};
    args.insert(args.end(), c.targets.begin(), c.targets.end());
    CliProcess run(args, wine.Run("lumo-download.exe"));
    EXPECT_EQ(run.Wait(), c.exitCode) << run.Out() << run.Err();
    if (c.exitCode == 0) {
      EXPECT_EQ(unit.Flash(UnitPart::CameraBoardLoader), images.cm);
    } else {
      EXPECT_TRUE(Erased(unit.DspMemory()));
      EXPECT_TRUE(Contains(run.Out(), c.message)) << run.Out();
    }
  }
}

TEST(WineDownload, ListsThePortsOfTheRegistry) {
  const WineSetup wine;
  REQUIRE_WINE(wine);
  sim::SimUnit unit(UnitOnCom6(wine));
  CliProcess run({"--list-ports"}, wine.Run("lumo-download.exe"));
  ASSERT_EQ(run.Wait(), 0) << run.Out() << run.Err();
  bool listed = false;
  for (const std::string& line : Lines(run.Out())) {
    if (line.rfind("COM6 ", 0) == 0) {
      listed = true;
      EXPECT_TRUE(Contains(line, "\\\\.\\COM6")) << line;
      EXPECT_TRUE(Contains(line, " free")) << line;
    }
  }
  EXPECT_TRUE(listed) << run.Out();
}

// The window on Windows (Lumo_DownloadTool.exe), read from inside the Wine
// server by win-window-probe: one line per finding.
namespace window {

constexpr int kFirstControlId = 100;  // win/WinForm.h: the base of the controls' identifiers

struct Child {
  int id = 0, parentId = 0;
  std::string cls;
  int left = 0, top = 0, width = 0, height = 0;
  std::string flags, text;
  std::vector<std::string> items;  // a combo box's
};

struct Seen {
  int clientWidth = 0, clientHeight = 0;
  unsigned long style = 0, exStyle = 0;
  std::vector<Child> children;  // in the window's order
  const Child* ById(int id) const {
    for (const Child& c : children) {
      if (c.id == id) return &c;
    }
    return nullptr;
  }
};

std::string Unescaped(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
  }
  return out;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
    fields.push_back(line.substr(start, tab - start));
  fields.push_back(line.substr(start));
  return fields;
}

Seen Parse(const std::string& out) {
  Seen seen;
  for (const std::string& line : Lines(out)) {
    const std::vector<std::string> f = Fields(line);
    if (f[0] == "WINDOW" && f.size() == 6) {
      seen.clientWidth = std::stoi(f[2]);
      seen.clientHeight = std::stoi(f[3]);
      seen.style = static_cast<unsigned long>(std::stol(f[4]));
      seen.exStyle = static_cast<unsigned long>(std::stol(f[5]));
    } else if (f[0] == "CHILD" && f.size() == 10) {
      seen.children.push_back({std::stoi(f[1]), std::stoi(f[2]), f[3], std::stoi(f[4]), std::stoi(f[5]),
                               std::stoi(f[6]), std::stoi(f[7]), f[8], Unescaped(f[9]), {}});
    } else if (f[0] == "ITEM" && f.size() == 3) {
      for (Child& c : seen.children) {
        if (c.id == std::stoi(f[1])) c.items.push_back(Unescaped(f[2]));
      }
    }
  }
  return seen;
}

const char* ClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::Label: return "Static";
    case ControlKind::Edit: return "Edit";
    case ControlKind::Button:
    case ControlKind::CheckBox: return "Button";
    case ControlKind::ComboBox: return "ComboBox";
    case ControlKind::Panel: return "LumoPanel";
  }
  return "";
}

std::string FlagsOf(const ControlLayout& c) {
  std::string flags;
  if (c.TabOrder >= 0) flags += 'T';
  if (!c.Enabled) flags += 'D';
  if (c.Checked) flags += 'C';
  if (c.Kind == ControlKind::Edit && c.ReadOnly) flags += 'R';
  return flags.empty() ? "-" : flags;
}

int IdOf(FormControl control) { return kFirstControlId + static_cast<int>(control); }

// The window under Wine, with a folder of its own (no saved paths: the edits show "0").
struct RunningWindow {
  const WineSetup& wine;
  CliProcess process;
  explicit RunningWindow(const WineSetup& setup) : wine(setup), process({}, setup.Run("Lumo_DownloadTool.exe")) {}
  CliProcess Probe(std::vector<std::string> args) const {
    args.insert(args.begin() + 1, WindowLayout().Caption);
    return CliProcess(args, wine.Run("win-window-probe.exe"));
  }
  Seen Show() const {
    CliProcess probe = Probe({"show"});
    EXPECT_EQ(probe.Wait(std::chrono::seconds(60)), 0) << probe.Out() << probe.Err();
    return Parse(probe.Out());
  }
};

}  // namespace window

// Every control at its place with its text, state and tab order, as the
// layout table has them, the texts that the form shows at start (the saved
// paths, "Ready", the ports of the registry, the baud rate chosen) in place
// of the table's; then the window closes and the program ends.
TEST(WineWindow, ShowsTheLayoutTableAndCloses) {
  const WineSetup wine;
  REQUIRE_WINE(wine);
  sim::SimUnit unit(UnitOnCom6(wine));  // COM6 is free, so the port box lists it
  window::RunningWindow running(wine);
  const window::Seen seen = running.Show();
  const FormLayout& layout = WindowLayout();
  EXPECT_EQ(seen.clientWidth, layout.ClientWidth);
  EXPECT_EQ(seen.clientHeight, layout.ClientHeight);
  // A dialog frame with a caption and a system menu; no minimise or maximise box, no sizing border.
  constexpr unsigned long kCaption = 0x00C00000, kSysMenu = 0x00080000, kThickFrame = 0x00040000,
                          kMinimizeBox = 0x00020000, kMaximizeBox = 0x00010000, kExDlgModalFrame = 0x00000001;
  EXPECT_EQ(seen.style & (kCaption | kSysMenu | kThickFrame | kMinimizeBox | kMaximizeBox), kCaption | kSysMenu);
  EXPECT_TRUE(seen.exStyle & kExDlgModalFrame);

  for (const ControlLayout& c : layout.Controls) {
    SCOPED_TRACE(c.Name);
    const window::Child* seenChild = seen.ById(window::IdOf(c.Id));
    ASSERT_NE(seenChild, nullptr) << "not in the window";
    EXPECT_EQ(seenChild->parentId, c.Parent < 0 ? 0 : window::kFirstControlId + c.Parent);
    EXPECT_EQ(seenChild->cls, window::ClassOf(c.Kind));
    EXPECT_EQ((std::vector<int>{seenChild->left, seenChild->top, seenChild->width, seenChild->height}),
              (std::vector<int>{c.Left, c.Top, c.Width, c.Height}));
    EXPECT_EQ(seenChild->flags, window::FlagsOf(c));
    std::string text = c.Text;
    switch (c.Id) {
      case FormControl::DSP_PATH_Edit:
      case FormControl::CM_PATH_Edit:
      case FormControl::Motor_PATH_Edit:
        text = "0";  // no path saved
        break;
      case FormControl::Processing_States:
        text = "Ready";
        break;
      case FormControl::ComPort_ComboBox:
        ASSERT_FALSE(seenChild->items.empty());
        EXPECT_NE(std::find(seenChild->items.begin(), seenChild->items.end(), "6"), seenChild->items.end());
        text = seenChild->items.front();
        break;
      case FormControl::BaudRate_ComboBox:
        EXPECT_EQ(seenChild->items, std::vector<std::string>(layout.BaudRates.begin(), layout.BaudRates.end()));
        text = layout.BaudRates[static_cast<size_t>(layout.BaudRateIndex)];
        break;
      default:
        break;
    }
    EXPECT_EQ(seenChild->text, text);
  }

  // The keyboard's order is the window's children's order.
  std::vector<const ControlLayout*> stops;
  for (const ControlLayout& c : layout.Controls) {
    if (c.TabOrder >= 0) stops.push_back(&c);
  }
  std::sort(stops.begin(), stops.end(), [](auto* a, auto* b) { return a->TabOrder < b->TabOrder; });
  std::vector<int> expected, order;
  for (const ControlLayout* c : stops) expected.push_back(window::IdOf(c->Id));
  for (const window::Child& c : seen.children) {
    if (c.parentId == 0 && c.flags.find('T') != std::string::npos) order.push_back(c.id);
  }
  EXPECT_EQ(order, expected);

  CliProcess close = running.Probe({"close"});
  EXPECT_EQ(close.Wait(std::chrono::seconds(60)), 0) << close.Out();
  EXPECT_EQ(running.process.Wait(std::chrono::seconds(60)), 0) << running.process.Err();
}

// A job that fails, started by a click: the message comes in an owner-less
// box captioned "Error" with one OK, and once it is closed the window is
// ready for the next job.
TEST(WineWindow, AFailingJobsMessageComesInAnOwnerlessErrorBox) {
  const WineSetup wine;
  REQUIRE_WINE(wine);
  std::optional<sim::SimUnit> unit(std::in_place, UnitOnCom6(wine));
  window::RunningWindow running(wine);
  const window::Child* ports = nullptr;
  const window::Seen before = running.Show();
  ports = before.ById(window::IdOf(FormControl::ComPort_ComboBox));
  ASSERT_NE(ports, nullptr);
  const auto six = std::find(ports->items.begin(), ports->items.end(), "6");
  ASSERT_NE(six, ports->items.end());
  unit.reset();  // COM6 is listed, and now nobody is there: the port does not open

  const std::string portsId = std::to_string(window::IdOf(FormControl::ComPort_ComboBox));
  CliProcess select = running.Probe({"select", portsId, std::to_string(six - ports->items.begin())});
  ASSERT_EQ(select.Wait(std::chrono::seconds(60)), 0) << select.Out();
  CliProcess click = running.Probe({"click", std::to_string(window::IdOf(FormControl::DownLoadAP))});
  ASSERT_EQ(click.Wait(std::chrono::seconds(60)), 0) << click.Out();

  CliProcess box = CliProcess({"box", "Error"}, wine.Run("win-window-probe.exe"));
  ASSERT_EQ(box.Wait(std::chrono::seconds(60)), 0) << box.Out();
  std::vector<std::string> texts, buttons;
  bool owned = true;
  for (const std::string& line : Lines(box.Out())) {
    const std::vector<std::string> f = window::Fields(line);
    if (f.size() != 2) continue;
    if (f[0] == "OWNER") owned = f[1] != "0";
    if (f[0] == "TEXT") texts.push_back(window::Unescaped(f[1]));
    if (f[0] == "BUTTON") buttons.push_back(f[1]);
  }
  EXPECT_FALSE(owned);
  EXPECT_EQ(buttons, std::vector<std::string>{"OK"});
  ASSERT_EQ(texts.size(), 1u) << box.Out();
  // The message, then what was found and what to do.
  EXPECT_EQ(texts[0].rfind(std::string(TEXT_COMPORT_CANNOT_OPEN) + "\n\n", 0), 0u) << texts[0];

  // Real time: the window ends its job once the box is closed; looked at until then (bounded).
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  std::string flags, status;
  while (std::chrono::steady_clock::now() < deadline) {
    const window::Seen after = running.Show();
    const window::Child* button = after.ById(window::IdOf(FormControl::DownLoadAP));
    const window::Child* states = after.ById(window::IdOf(FormControl::Processing_States));
    ASSERT_TRUE(button && states);
    flags = button->flags;
    status = states->text;
    if (flags == "T" && status == "Ready") break;
  }
  EXPECT_EQ(flags, "T");  // enabled again
  EXPECT_EQ(status, "Ready");

  CliProcess close = running.Probe({"close"});
  EXPECT_EQ(close.Wait(std::chrono::seconds(60)), 0) << close.Out();
  EXPECT_EQ(running.process.Wait(std::chrono::seconds(60)), 0) << running.process.Err();
}

}  // namespace
