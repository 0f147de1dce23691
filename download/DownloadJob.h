// The download job: the worker, and the window thread's part of a job as a
// routine that any front end can run.
#pragma once

#include <cstdint>
#include <functional>

#include "JobContext.h"

int32_t DownloadThread(TDownloadJobContext* form);

// What a front end does around the job on its window thread.
struct JobFrontEnd {
  std::function<void(bool enabled)> SetJobControlsEnabled;  // start button, both combo boxes
  std::function<void()> ProcessMessages;                    // one pass of the event loop
  std::function<void(int32_t& dsp, int32_t& cm, int32_t& motor)> ReadSelection;  // check boxes
  // Applies status texts that the worker handed over and that are not shown
  // yet, so that nothing the worker wrote lands after "Ready". May be empty.
  std::function<void()> ApplyPendingStatus;
};

// The click handler after the conversions: ComPort_Number and User_BaudRate
// are set. Opens the port, runs both threads, pumps until the job has ended,
// closes the port and shows "Ready".
void RunDownloadJob(TDownloadJobContext* form, const JobFrontEnd& frontEnd);
