// The worker: checks, loads and runs the targets of a job.
#pragma once

#include "JobContext.h"

// Waits for Download_Active, runs the job, leaves its result in Job_Result
// and ends the job: clears Download_Active and reaches Worker_End.
void DownloadThread(JobContext* job);
