#include "UnitReport.h"

#include <algorithm>

#include "MessageTexts.h"

std::vector<std::string> JobHints(const JobOutcome& outcome) {
  const auto shown = [&](const char* text) {
    return std::find(outcome.Messages.begin(), outcome.Messages.end(), text) != outcome.Messages.end();
  };
  if (shown(TEXT_LOADER_NOT_RESTARTED)) {
    return {"a loader was listening when the job began, and no record of this tool says whose; it did not take "
            "its restart, so nothing was written. Switch the unit off and on, then run the same command again."};
  }
  if (shown(TEXT_UNIT_NOT_ANSWERING)) {
    return {"the unit may still be in download mode from a job that was cut short. Switch it off and on, then "
            "run the same command again."};
  }
  return {};
}
