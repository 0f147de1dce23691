#include "Progress.h"

#include <cstdio>

int32_t ShowProgress(TDownloadJob* form, int32_t segment, double weight, int32_t count, int32_t index) {
  uint8_t& lastSegment = form->Session.Progress_LastSegment;
  if (static_cast<uint32_t>(segment) != lastSegment) {
    // The base grows by the last value shown of the previous segment, not by
    // its full weight; the fraction is dropped once, here.
    form->Progress_Base = static_cast<int32_t>(form->Progress_Base + form->Progress_Segment);
    lastSegment = static_cast<uint8_t>(segment);
  }
  form->Progress_Segment = (index * weight) / count;
  const int32_t percent = static_cast<int32_t>(form->Progress_Segment) + form->Progress_Base;
  char text[32];
  std::snprintf(text, sizeof text, "%d %%", percent);
  form->SetStatusText(text);
  return 1;
}

void ReportProgress(TDownloadJob* form, int32_t segment, int32_t bytesDone) {
  if (!form->UI || segment < DSP_PATH || segment > MOTOR_PATH) return;
  const int32_t percent = static_cast<int32_t>(form->Progress_Segment) + form->Progress_Base;
  form->UI->ProgressMade(static_cast<PathIndex>(segment), percent, bytesDone);
}
