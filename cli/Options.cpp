#include "Options.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "DownloadJob.h"
#include "HelpText.h"
#include "ImageFile.h"

#ifndef LUMO_VERSION
#define LUMO_VERSION "unknown"
#endif

namespace {

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
