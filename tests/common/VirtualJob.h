// Test support: whole jobs in virtual time. The real worker runs on the
// test's thread against the simulated unit on an in-process line, so a job
// of 2000 ms pauses and 12 s time-outs takes milliseconds, and every wait's
// length is exact. Jobs run one after the other on the same unit and the
// same loader records, as on a bench.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DownloadJob.h"
#include "JobContext.h"
#include "LoaderRecords.h"
#include "SampleImageFiles.h"
#include "VirtualLine.h"
#include "VirtualRoutine.h"
#include "WireMessages.h"

namespace lumo_test {

class VirtualBench {
 public:
  // records: kept by the caller; null keeps the bench's own, in memory.
  explicit VirtualBench(const sim::VirtualUnitOptions& options, LoaderRecords* records = nullptr)
      : line(options), records_(records ? records : &own_), session_(line.Ports(), records_) {}

  // A new job on the line (as a front end makes one per click), run with
  // the targets given (an empty path: not ticked) at the user's rate.
  JobOutcome Run(const std::string& dsp, const std::string& cm, const std::string& motor, int32_t rate = 9600) {
    return Run(Request(dsp, cm, motor, rate));
  }
  // The same with a request of the test's own (another device, say).
  JobOutcome Run(const JobRequest& request) {
    job_ = std::make_unique<TDownloadJob>(session_, &ui);
    return RunAgain(request);
  }
  // The request Run makes of its arguments.
  static JobRequest Request(const std::string& dsp, const std::string& cm, const std::string& motor,
                            int32_t rate = 9600) {
    JobRequest request;
    request.Device = sim::VirtualLine::DEVICE;
    request.User_BaudRate = rate;
    const std::string* paths[] = {&dsp, &cm, &motor};
    for (int t = 0; t < 3; ++t) request.Targets[t] = {!paths[t]->empty(), *paths[t]};
    return request;
  }
  // Another job on the job object of the last Run, as a front end that
  // keeps its object does (one that was stopped stays stopped).
  JobOutcome RunAgain(const JobRequest& request) {
    ui.messages.clear();  // the progress hook stays
    ui.statuses.clear();
    ui.targets.clear();
    line.Attach(ContextOf(*job_).Link);
    wireBefore_ = line.unit.Wire().size();
    return RunDownloadJobOnThisThread(job_.get(), request);
  }

  JobContext& Job() { return ContextOf(*job_); }
  // The front end's job object of the last Run (to stop it from a callback).
  TDownloadJob& Entry() { return *job_; }
  LoaderRecords& Records() { return *records_; }
  int32_t Recorded() const { return records_->Get(sim::VirtualLine::DEVICE); }

  // The host's messages of the last job, "NAME@rate".
  std::vector<std::string> Sent() const {
    const std::vector<sim::WireByte> wire = line.unit.Wire();
    return Labels(SentMessages(std::vector<sim::WireByte>(wire.begin() + static_cast<long>(wireBefore_), wire.end())));
  }
  // Those up to the first erase (DOWNLOAD): how the job reached a loader.
  std::vector<std::string> SentBeforeErase() const {
    std::vector<std::string> sent = Sent();
    for (size_t i = 0; i < sent.size(); ++i) {
      if (sent[i].rfind("DOWNLOAD@", 0) == 0) return std::vector<std::string>(sent.begin(), sent.begin() + static_cast<long>(i));
    }
    return sent;
  }

  sim::VirtualLine line;
  VirtualUI ui;
  SampleImageFiles images;

 private:
  LoaderRecords own_;
  LoaderRecords* records_;
  JobSession session_;
  std::unique_ptr<TDownloadJob> job_;
  size_t wireBefore_ = 0;
};

}  // namespace lumo_test
