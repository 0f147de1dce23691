// What the download routines and the loader's reply waits give back.
#pragma once

#include <cstdint>

// A download routine's result to the job.
enum JobResult : int32_t {
  RESULT_DONE = 0,
  // Done, but the board did not confirm its restart: its loader may still listen.
  RESULT_DONE_RESTART_UNCONFIRMED = 1,
  RESULT_FAILED = -1,    // the job adds "Download Error !!"
  RESULT_RELOAD = -2,    // load the same target again
  RESULT_REPORTED = -3,  // failed, and the user has been told: the job adds nothing
};

// A loader reply wait's result; a status reply other than success gives its
// status byte (0 to 255) instead.
enum LoaderReply : int32_t {
  REPLY_NONE = -1,  // nothing recognised before the wait ran out
  REPLY_NAK = 51,
  REPLY_SUCCESS = 64,
  REPLY_ACK = 204,
};
