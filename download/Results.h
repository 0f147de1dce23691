// What the download routines and the loader's reply waits give back.
#pragma once

#include <cstdint>

// A download routine's result to the job, and the job's own.
enum class JobResult {
  Done,
  // Done, but the board did not confirm its restart: its loader may still listen.
  DoneRestartUnconfirmed,
  Failed,    // the job adds "Download Error !!"
  Reload,    // load the same target again
  Reported,  // failed, and the user has been told: the job adds nothing
  // As Reported, and no loader answered at all: nothing was entered.
  NoLoader,
};

// How a board's loader came to listen on the line, or why it did not.
enum class LoaderEntry {
  AlreadyListening,  // the loader the record names answered: no entry command
  Entered,           // the entry command went out and the line is at 115200
  BaudRefused,       // the change to 115200 was refused (the thread that served it reported it)
  NotRestarted,      // a loader that no record explains answered and did not restart
  NotRecorded,       // the loader to be entered could not be recorded: nothing was entered
};

// A loader's answer to a packet.
enum class LoaderAck { Ack, Nak };

// A loader's status reply: success, or the status byte it gave instead.
enum class StatusReply { Success, Failure };
struct LoaderStatus {
  StatusReply Reply;
  uint8_t Status;  // the status byte, 0 to 255 (0x40 on success)
  bool operator==(const LoaderStatus&) const = default;
};
