// lumo-unit-sim: the simulated camera unit as a process.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "SampleImages.h"
#include "SimUnit.h"

#ifndef LUMO_VERSION
#define LUMO_VERSION "unknown"
#endif

namespace {

const char* const USAGE = R"(Usage: lumo-unit-sim [options]

Simulates the camera unit (camera with its DSP, camera board and control
board with their serial flash loaders) on a pseudo-terminal and prints the
terminal's path. The tool opens that terminal as its COM port.

To have the tool list the unit in its port box, start the unit on a COM
folder and start the tool with LUMO_COMPORT_DIR set to the same folder:

  mkdir -p /tmp/lumo-com
  lumo-unit-sim --com-dir /tmp/lumo-com --com-number 3 &
  LUMO_COMPORT_DIR=/tmp/lumo-com Lumo_DownloadTool      # port box: 3

Options:
  --com-dir DIR         place COM<n> in DIR as a link to the terminal
  --com-number N        the n of COM<n> (default 1)
  --camera-rate RATE    the camera's own baud rate (default 9600)
  --pace                each byte takes ten bit times at the line rate
  --loader-listening camera-board|control-board
                        that board's loader hears the line from the start
  --fault FAULT         inject a fault; repeatable. FAULT is
                        kind[:part[:match[:occurrence[:times[:param]]]]]
                        with kind one of silence, refuse-block,
                        ignore-version, nak, drop-reply, corrupt-reply,
                        corrupt-incoming, late-reply, noise-flood, hang-up,
                        late-erase, flash-failure, reset-not-taken,
                        late-copy (a loader's reply again param ms later);
                        part one
                        of camera, camera-board, control-board; match a
                        message class in hex (-1: every message); times -1:
                        from occurrence on, every one
  --dump DIR            at exit (SIGINT, SIGTERM) write dsp.bin,
                        camera-board.bin, control-board.bin, versions.txt
                        and wire.csv into DIR
  --write-samples DIR   write sample images dsp.bin, camera-board.bin and
                        control-board.bin into DIR and exit
  --dsp-layout          print the DSP image's header size and body size
                        (the body follows the header) and exit
  --help                this text
  --version             the version
)";

bool ParsePart(const std::string& text, sim::UnitPart& part) {
  if (text == "camera") part = sim::UnitPart::Camera;
  else if (text == "camera-board") part = sim::UnitPart::CameraBoardLoader;
  else if (text == "control-board") part = sim::UnitPart::ControlBoardLoader;
  else return false;
  return true;
}

bool ParseFault(const std::string& text, sim::Fault& fault) {
  static const struct {
    const char* name;
    sim::FaultKind kind;
  } kinds[] = {
      {"silence", sim::FaultKind::Silence},       {"refuse-block", sim::FaultKind::RefuseBlock},
      {"ignore-version", sim::FaultKind::IgnoreVersionWrite}, {"nak", sim::FaultKind::NakPacket},
      {"drop-reply", sim::FaultKind::DropReply},  {"corrupt-reply", sim::FaultKind::CorruptReply},
      {"corrupt-incoming", sim::FaultKind::CorruptIncoming}, {"late-reply", sim::FaultKind::LateReply},
      {"noise-flood", sim::FaultKind::NoiseFlood}, {"hang-up", sim::FaultKind::HangUp},
      {"late-erase", sim::FaultKind::LateErase},   {"flash-failure", sim::FaultKind::FlashFailure},
      {"reset-not-taken", sim::FaultKind::ResetNotTaken}, {"late-copy", sim::FaultKind::LateCopy},
  };
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t colon = text.find(':', start);
    fields.push_back(text.substr(start, colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  bool known = false;
  for (const auto& k : kinds) {
    if (fields[0] == k.name) {
      fault.Kind = k.kind;
      known = true;
    }
  }
  if (!known || fields.size() > 6) return false;
  try {
    if (fields.size() > 1 && !ParsePart(fields[1], fault.Part)) return false;
    if (fields.size() > 2) fault.Match = fields[2] == "-1" ? -1 : std::stoi(fields[2], nullptr, 16);
    if (fields.size() > 3) fault.Occurrence = std::stoi(fields[3]);
    if (fields.size() > 4) fault.Times = std::stoi(fields[4]);
    if (fields.size() > 5) fault.Param = std::stoi(fields[5]);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool Dump(const sim::SimUnit& unit, const std::string& dir) {
  bool ok = WriteFile(dir + "/dsp.bin", unit.DspMemory());
  ok = WriteFile(dir + "/camera-board.bin", unit.Flash(sim::UnitPart::CameraBoardLoader)) && ok;
  ok = WriteFile(dir + "/control-board.bin", unit.Flash(sim::UnitPart::ControlBoardLoader)) && ok;
  {
    std::ofstream versions(dir + "/versions.txt");
    char line[64];
    std::snprintf(line, sizeof line, "%04X %04X\n", unit.DspVersion(0), unit.DspVersion(1));
    versions << line;
    ok = static_cast<bool>(versions) && ok;
  }
  std::ofstream wire(dir + "/wire.csv");
  wire << "microseconds,direction,byte,rate\n";
  const auto wireBytes = unit.Wire();
  const auto origin = wireBytes.empty() ? std::chrono::steady_clock::time_point{} : wireBytes.front().Time;
  for (const sim::WireByte& w : wireBytes) {
    char line[96];
    std::snprintf(line, sizeof line, "%lld,%s,%02X,%d\n",
                  static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(w.Time - origin).count()),
                  w.Direction == sim::WireDirection::ToUnit ? "to-unit" : "to-host", w.Byte, w.Rate);
    wire << line;
  }
  return static_cast<bool>(wire) && ok;
}

}  // namespace

int main(int argc, char** argv) {
  sim::SimOptions options;
  std::string dumpDir;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << "lumo-unit-sim: " << arg << " needs a value\n";
        std::exit(2);
      }
      return argv[++i];
    };
    try {
      if (arg == "--help" || arg == "-h") {
        std::cout << USAGE;
        return 0;
      } else if (arg == "--version") {
        std::cout << "lumo-unit-sim " << LUMO_VERSION << "\n";
        return 0;
      } else if (arg == "--com-dir") {
        options.ComDir = value();
      } else if (arg == "--com-number") {
        options.ComNumber = std::stoi(value());
      } else if (arg == "--camera-rate") {
        options.CameraRate = std::stoi(value());
        if (options.CameraRate <= 0) throw std::invalid_argument("rate");
      } else if (arg == "--pace") {
        options.Pacing = true;
      } else if (arg == "--loader-listening") {
        sim::UnitPart part;
        if (!ParsePart(value(), part) || part == sim::UnitPart::Camera) throw std::invalid_argument("part");
        options.ListeningAtStart = part;
      } else if (arg == "--fault") {
        sim::Fault fault{sim::FaultKind::Silence};
        const std::string text = value();
        if (!ParseFault(text, fault)) throw std::invalid_argument(text);
        options.Faults.push_back(fault);
      } else if (arg == "--dump") {
        dumpDir = value();
      } else if (arg == "--dsp-layout") {
        std::cout << sim::DSP_HEADER_SIZE << " " << sim::DSP_BODY_SIZE << "\n";
        return 0;
      } else if (arg == "--write-samples") {
        const std::string folder = value();
        if (!sim::WriteSampleImages(folder)) {
          std::cerr << "lumo-unit-sim: could not write into " << folder << "\n";
          return 1;
        }
        return 0;
      } else {
        std::cerr << "lumo-unit-sim: unknown option " << arg << "\n" << USAGE;
        return 2;
      }
    } catch (const std::exception&) {
      std::cerr << "lumo-unit-sim: bad value for " << arg << "\n";
      return 2;
    }
  }

  // Wait for the end in sigwait: block the signals before any thread starts.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  try {
    sim::SimUnit unit(options);
    std::cout << unit.SlavePath();
    if (!unit.ComLinkPath().empty()) std::cout << " " << unit.ComLinkPath();
    std::cout << std::endl;
    int signal = 0;
    sigwait(&signals, &signal);
    if (!dumpDir.empty() && !Dump(unit, dumpDir)) {
      std::cerr << "lumo-unit-sim: could not write into " << dumpDir << "\n";
      return 1;
    }
  } catch (const std::exception& e) {
    std::cerr << "lumo-unit-sim: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
