#include "Progress.h"

#include <cstdio>

void ShowProgress(JobContext* job, int32_t segment, double weight, int32_t count, int32_t index) {
  uint8_t& lastSegment = job->Session.Progress_LastSegment;
  if (static_cast<uint32_t>(segment) != lastSegment) {
    // The base grows by the last value shown of the previous segment, not by
    // its full weight; the fraction is dropped once, here.
    job->Progress_Base = static_cast<int32_t>(job->Progress_Base + job->Progress_Segment);
    lastSegment = static_cast<uint8_t>(segment);
  }
  job->Progress_Segment = (index * weight) / count;
  const int32_t percent = static_cast<int32_t>(job->Progress_Segment) + job->Progress_Base;
  char text[32];
  std::snprintf(text, sizeof text, "%d %%", percent);
  job->SetStatusText(text);
}

void ReportProgress(JobContext* job, int32_t segment, int32_t bytesDone) {
  if (!job->UI || segment < DSP_PATH || segment > MOTOR_PATH) return;
  const int32_t percent = static_cast<int32_t>(job->Progress_Segment) + job->Progress_Base;
  job->UI->ProgressMade(static_cast<PathIndex>(segment), percent, bytesDone);
}
