// The running percentage of a job, across its segments (0 DSP, 1 camera
// board, 2 control board).
#pragma once

#include <cstdint>

#include "JobContext.h"

// Shows the percentage after item index (from 0) of count in segment, whose
// share of the job is weight per cent. The previous call's segment is kept in
// the job's session, so it carries over from one job to the next.
void ShowProgress(JobContext* job, int32_t segment, double weight, int32_t count, int32_t index);

// Tells the front end, after a ShowProgress, how many of the segment's bytes
// are written, with the percentage that call showed.
void ReportProgress(JobContext* job, int32_t segment, int32_t bytesDone);
