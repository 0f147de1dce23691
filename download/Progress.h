// The running percentage of a job, across its segments (0 DSP, 1 camera
// board, 2 control board).
#pragma once

#include <cstdint>

#include "JobContext.h"

// Segment of the previous call; 255 at program start, never reset by a job.
extern uint8_t Progress_LastSegment;

int32_t ShowProgress(TDownloadJobContext* form, int32_t segment, double weight, int32_t count,
                     int32_t index);
