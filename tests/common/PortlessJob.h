// A job without a port, for tests of what the core does with the receive
// buffer, the selection and the files alone.
#pragma once

#include "DownloadJob.h"
#include "JobContext.h"
#include "RefusingPort.h"

namespace lumo_test {

struct PortlessJob {
  explicit PortlessJob(JobObserver* ui = nullptr) : entry(session, ui), form(ContextOf(entry)) {}
  TestPortFactory ports;  // nothing is opened through it
  JobSession session{ports};
  TDownloadJob entry;
  JobContext& form;  // entry's
};

}  // namespace lumo_test
