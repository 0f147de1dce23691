// lumo-download's command line.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

struct CliOptions {
  std::vector<std::string> Ports;  // as given: a device path, COM34 or 34
  int32_t Baud = 9600;
  std::string Images[3];           // by PathIndex; empty: the target is not loaded
  std::string Trace;               // empty: no trace
  bool Json = false;
  bool Quiet = false;
  bool ListPorts = false;
};

enum class ParseResult {
  Run,         // load the images, or list the ports
  Exit,        // --help or --version was printed: exit 0
  UsageError,  // one line and the usage went to err: exit 2
};

// One line and the usage to err: what every wrong usage gets.
ParseResult UsageError(std::ostream& err, const std::string& line);

ParseResult ParseCommandLine(int argc, const char* const* argv, CliOptions& options, std::ostream& out,
                             std::ostream& err);
