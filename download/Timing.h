// The download routines' time budgets (the link's own are in LinkTiming.h):
// pauses with their unit, waits as counts of polls (one scan of the receive
// buffer, then one POLL_PERIOD when it found nothing, so a wait that sees no
// reply lasts at least its polls times the period), and retry counts. They are part of what the tool does on
// the wire: keep them exact.
#pragma once

#include <chrono>
#include <cstdint>

#include "LinkTiming.h"

using std::chrono::milliseconds;

// ---- Camera commands ----
constexpr milliseconds COMMAND_PAUSE{2};  // before each command's reply reset
constexpr int32_t CAMERA_REPLY_POLLS = 1000;
constexpr int32_t ADDRESS_SET_POLLS = 30;
constexpr int32_t ADDRESS_SET_ATTEMPTS = 6;

// ---- DSP download ----
constexpr int32_t BLOCK_REPLY_POLLS = 1000;
constexpr int32_t BLOCK_RETRIES = 2;  // after the first attempt of a block
constexpr milliseconds BLOCK_RETRY_PAUSE{200};
constexpr milliseconds BLOCK_PAUSE{2};  // after each block's progress
constexpr int32_t VERSION_ATTEMPTS = 4;

// ---- Boot-loader download ----
constexpr int32_t PING_TRIES = 2;  // the job's ping of a loader that may listen
constexpr int32_t PING_POLLS = 300;
constexpr milliseconds LOADER_START_PAUSE{2000};  // before the connect
constexpr int32_t CONNECT_TRIES = 6;
constexpr int32_t CONNECT_POLLS = 600;
constexpr milliseconds ERASE_PAUSE{2000};  // after each DOWNLOAD packet
constexpr int32_t ERASE_TRIES = 15;
constexpr int32_t ERASE_POLLS = 1200;
constexpr int32_t CONFIRM_TRIES = 15;  // GET_STATUS after the erase and after each chunk
constexpr int32_t CONFIRM_POLLS = 1200;
constexpr int32_t SEND_TRIES = 15;
constexpr int32_t SEND_POLLS = 1200;
constexpr int32_t RESET_TRIES = 6;  // RESET packets before a restart counts as unconfirmed
constexpr int32_t RESET_POLLS = 6000;
constexpr int32_t RESTART_PING_POLLS = 300;  // the PING that tells whether the loader is gone
// Before each RESET the line must have been quiet this long (at most
// RESET_SETTLE_BOUND in all): a reply sent twice, or noise behind a reply,
// must not arrive after the RESET and pass for its acknowledge.
constexpr milliseconds RESET_SETTLE{5};
constexpr milliseconds RESET_SETTLE_BOUND{200};
constexpr int32_t RESYNC_BYTES = 255;
constexpr int32_t RESYNC_POLLS = 4;

// ---- The job ----
constexpr int32_t LOADER_CALLS = 3;  // loads of one board while it asks for a reload
