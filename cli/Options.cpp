#include "Options.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "DownloadJob.h"
#include "ImageFile.h"

#ifndef LUMO_VERSION
#define LUMO_VERSION "unknown"
#endif

namespace {

const char* const USAGE =
    "Usage: lumo-download --port PORT [--port PORT ...] [--baud RATE]\n"
    "                     [--dsp FILE] [--cm FILE] [--motor FILE]\n"
    "                     [--trace FILE] [--json] [--quiet]\n"
    "       lumo-download --list-ports | --help | --version\n";

const char* const HELP_BODY = R"(
Loads firmware into camera units over RS-232: the DSP image, the camera
board (CM) image and the control board (Motor) image, in that order, each
one that is given. With --port given several times, one unit per port is
loaded, all at the same time.

Options:
  --port PORT     the unit's serial port: a device path (/dev/ttyUSB0) or a
                  port name as the window shows it (COM34, or 34). Repeat it
                  to load several units at once.
  --baud RATE     the camera's own line rate (default 9600), as the window's
                  baud rate box; the loaders always run at 115200.
  --dsp FILE      load FILE into the DSP
  --cm FILE       load FILE into the camera board
  --motor FILE    load FILE into the control board
  --trace FILE    write every byte of the line both ways, one line per frame
                  with a timestamp, the line rate and the frame's name; with
                  several ports, one file per port (FILE with the port's name
                  added before its extension). A trace file that is one of
                  the images (by any name or link) is refused.
  --json          one JSON object per line on standard output instead of
                  text: job_start, target_start, progress (at most every
                  250 ms), message, target_end, job_end (with "notice" when
                  a board did not confirm its restart, and "trace_error"
                  when the unit's trace could not be written)
  --quiet         no progress bars: one line per target started and ended,
                  and the result (also the output when standard output is
                  not a terminal)
  --list-ports    list the serial ports with their COM names, whether they
                  are free, and what USB adapter they are
  --help          this text
  --version       the version

Exit status:
  0    every unit was loaded
  1    a failure on the line: the unit stopped answering, refused a block,
       a loader reported an error, or the port went away
  2    wrong usage, or a trace file that cannot be made or is one of the
       images (nothing was opened)
  3    a port could not be opened or set to the line rate
  4    a job was refused before any image byte went out: an image that
       cannot be read or has the wrong size, a file that is not a DSP image,
       or a board's loader that an unfinished job left listening
  5    loaded, but a board did not confirm its restart:
       switch the unit off and on
  6    the jobs ended, but the wire trace or standard output could not be
       written (a reader that went away does not cut a load: every job goes
       on to its end)
  130  stopped by Ctrl+C (143 by SIGTERM, 129 by SIGHUP when the terminal or
       the session closed): each unit ended after its current exchange, and
       a unit that was being written must be loaded again
  With several units, the code of the first failed unit in --port order;
  5 only when no unit failed otherwise, 6 only when no other code applies.

Messages:
  Each message is the window's own text, with the port and target:
    COM34 (/dev/ttyUSB1) CM: Erase Flash Error !!
  When a port cannot be opened, the cause and what to do follow it.

Examples:
  Load all three images into the unit on COM34:
    lumo-download --port COM34 --dsp dsp.bin --cm cm.bin --motor motor.bin
  Load the camera board of four units at once:
    lumo-download --port 34 --port 35 --port 36 --port 37 --cm cm.bin
  A JSON log for a line controller:
    lumo-download --port /dev/ttyUSB0 --dsp dsp.bin --json >> units.log
  A wire trace for a fault report:
    lumo-download --port COM34 --motor motor.bin --trace fault.trace

Files:
  SavePath/LoaderState.txt beside the executable, or, when this user may
  not write there (an installed tool), under $XDG_CONFIG_HOME (else
  ~/.config) in Lumo_DownloadTool/: the boards whose loaders an unfinished
  job may have left listening, per port, shared with the window. A job that would reach such a loader with anything but that
  board's image is refused (exit status 4).
)";

// A rate is a plain positive decimal that fits the 32-bit rate the link carries.
bool ParseRate(const std::string& text, int32_t& rate) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value <= 0 || value > INT32_MAX) return false;
  rate = static_cast<int32_t>(value);
  return true;
}

}  // namespace

ParseResult UsageError(std::ostream& err, const std::string& line) {
  err << "lumo-download: " << line << "\n" << USAGE << "Try 'lumo-download --help' for more.\n";
  return ParseResult::UsageError;
}

ParseResult ParseCommandLine(int argc, const char* const* argv, CliOptions& options, std::ostream& out,
                             std::ostream& err) {
  CLI::App app{"", "lumo-download"};
  app.set_help_flag();  // our own text
  bool help = false, version = false;
  std::string baud = "9600";
  app.add_flag("--help", help);
  app.add_flag("--version", version);
  app.add_option("--port", options.Ports)->take_all();
  app.add_option("--baud", baud);
  app.add_option("--dsp", options.Images[DSP_PATH]);
  app.add_option("--cm", options.Images[CM_PATH]);
  app.add_option("--motor", options.Images[MOTOR_PATH]);
  app.add_option("--trace", options.Trace);
  app.add_flag("--json", options.Json);
  app.add_flag("--quiet", options.Quiet);
  app.add_flag("--list-ports", options.ListPorts);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return UsageError(err, e.what());
  }
  if (help) {
    out << USAGE << HELP_BODY;
    return ParseResult::Exit;
  }
  if (version) {
    out << "lumo-download " << LUMO_VERSION << "\n";
    return ParseResult::Exit;
  }
  if (options.ListPorts) return ParseResult::Run;

  if (!ParseRate(baud, options.Baud)) return UsageError(err, "--baud: '" + baud + "' is not a positive number");
  if (options.Ports.empty()) return UsageError(err, "no port: give --port PORT");
  for (const std::string& port : options.Ports) {
    if (port.empty()) return UsageError(err, "--port: an empty port name");
  }
  bool any = false;
  static const char* const names[] = {"--dsp", "--cm", "--motor"};
  for (int i = 0; i < 3; ++i) {
    const std::string& image = options.Images[i];
    if (image.empty()) continue;
    any = true;
    std::error_code ec;
    if (!std::filesystem::exists(PathFromUtf8(image), ec)) {
      // A folder on the way that may not be searched is not a missing file.
      return UsageError(err, std::string(names[i]) + (ec ? ": cannot look at " + image + ": " + ec.message()
                                                         : ": no such file: " + image));
    }
  }
  if (!any) return UsageError(err, "no image: give --dsp, --cm or --motor");
  return ParseResult::Run;
}
