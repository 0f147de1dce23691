#include "ExitCodes.h"

int UnitExitCode(const JobOutcome& outcome) {
  switch (outcome.End) {
    case JobEnd::Done: return outcome.Notice.empty() ? EXIT_ALL_DONE : EXIT_RESTART_UNCONFIRMED;
    case JobEnd::PortNotOpened: return EXIT_PORT_NOT_OPENED;
    case JobEnd::Refused: return EXIT_REFUSED;
    case JobEnd::LineFailure: return EXIT_LINE_FAILURE;
    case JobEnd::Stopped: return EXIT_LINE_FAILURE;  // the signal's code overrides it
  }
  return EXIT_LINE_FAILURE;
}

int ToolExitCode(int signalCode, const std::vector<int>& unitCodes, bool outputNotWritten) {
  if (signalCode != 0) return signalCode;
  // A unit that was loaded but wants its power cycled is not a failure: a
  // unit that really failed, wherever it stands, says more.
  for (int code : unitCodes) {
    if (code != EXIT_ALL_DONE && code != EXIT_RESTART_UNCONFIRMED) return code;
  }
  for (int code : unitCodes) {
    if (code == EXIT_RESTART_UNCONFIRMED) return code;
  }
  return outputNotWritten ? EXIT_OUTPUT_NOT_WRITTEN : EXIT_ALL_DONE;
}
