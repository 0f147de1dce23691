// lumo-download's exit codes, as --help and the README list them.
#pragma once

enum ExitCode : int {
  EXIT_ALL_DONE = 0,         // every unit loaded
  EXIT_LINE_FAILURE = 1,     // the unit stopped answering, refused a block, a loader error, the line failed
  EXIT_USAGE = 2,            // wrong usage; no port was opened
  EXIT_PORT_NOT_OPENED = 3,  // a port could not be opened or set to the rate
  EXIT_REFUSED = 4,          // refused before any image byte went out (image unreadable, wrong size, not a DSP image, a board's loader left listening)
  EXIT_HANGUP = 129,         // SIGHUP: the terminal or the session closed
  EXIT_INTERRUPTED = 130,    // Ctrl+C
  EXIT_TERMINATED = 143,     // SIGTERM
};
