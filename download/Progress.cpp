#include "Progress.h"

#include <cstdio>

uint8_t Progress_LastSegment = 255;

int32_t ShowProgress(TDownloadJobContext* form, int32_t segment, double weight, int32_t count,
                     int32_t index) {
  if (static_cast<uint32_t>(segment) != Progress_LastSegment) {
    // The base grows by the last value shown of the previous segment, not by
    // its full weight; the fraction is dropped once, here.
    form->Progress_Base = static_cast<int32_t>(form->Progress_Base + form->Progress_Segment);
    Progress_LastSegment = static_cast<uint8_t>(segment);
  }
  form->Progress_Segment = (index * weight) / count;
  const int32_t percent = static_cast<int32_t>(form->Progress_Segment) + form->Progress_Base;
  char text[32];
  std::snprintf(text, sizeof text, "%d %%", percent);
  if (form->UI) form->UI->SetStatusText(text);
  return 1;
}
