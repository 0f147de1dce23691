// lumo-download's exit codes, as --help and docs/command-line.md list them.
#pragma once

#include <vector>

#include "DownloadJob.h"

enum ExitCode : int {
  EXIT_ALL_DONE = 0,         // every unit loaded
  EXIT_LINE_FAILURE = 1,     // the unit stopped answering, refused a block, a loader error, the line failed
  EXIT_USAGE = 2,            // wrong usage; no port was opened
  EXIT_PORT_NOT_OPENED = 3,  // a port could not be opened or set to the rate
  EXIT_REFUSED = 4,          // refused before any image byte went out (image unreadable, wrong size, not a DSP image, a board's loader left listening)
  EXIT_RESTART_UNCONFIRMED = 5,  // loaded, but a board did not confirm its restart: switch the unit off and on
  EXIT_OUTPUT_NOT_WRITTEN = 6,   // the jobs ended as they did, but the wire trace or standard output could not be written
  EXIT_HANGUP = 129,         // SIGHUP: the terminal or the session closed
  EXIT_INTERRUPTED = 130,    // Ctrl+C
  EXIT_TERMINATED = 143,     // SIGTERM
};

// A unit's own code, from how its job ended (a stopped job: the line
// failure's; the signal's code is the tool's).
int UnitExitCode(const JobOutcome& outcome);

// The tool's code: a signal's first; else the first unit in --port order
// that failed; else 5 when a unit's board did not confirm its restart; else
// 6 when a trace or the output was lost; else 0.
int ToolExitCode(int signalCode, const std::vector<int>& unitCodes, bool outputNotWritten);
