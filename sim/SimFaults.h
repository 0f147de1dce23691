// Faults the simulated unit can inject, from a table given at start.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace sim {

enum class UnitPart { Camera = 0, CameraBoardLoader = 1, ControlBoardLoader = 2 };

enum class FaultKind {
  Silence,             // the part hears the matching messages but answers nothing
  RefuseBlock,         // a DSP block packet gets the refused reply
  IgnoreVersionWrite,  // a version write goes unanswered
  NakPacket,           // a loader packet gets a NAK although it was good
  DropReply,           // the reply to a message is not sent (the message itself took effect)
  CorruptReply,        // one byte of the reply to a message is changed on the line
  CorruptIncoming,     // one byte of a message is changed on the line before the part hears it
  LateReply,           // the reply to a message comes Param ms late
  NoiseFlood,          // after a message, Param bytes of noise go to the host
  HangUp,              // the line goes dead after a message
  LateErase,           // an erase takes Param ms more
  FlashFailure,        // a loader command ends with status 0x44
  ResetNotTaken,       // a loader's RESET is neither acknowledged nor acted on: the loader keeps the line
  LateCopy,            // a loader's reply to a message comes again Param ms after it (a relay that repeats it)
};

// A message is one command or packet heard by a part. Match narrows the kind
// of message (a loader command byte such as 0x24, a camera command's first
// payload byte after 0x01 0x04, ...); -1 matches every message of the part.
// Occurrence counts the matching messages from 0; Times says how many
// matching messages from there on are hit (-1: all of them).
struct Fault {
  FaultKind Kind;
  UnitPart Part = UnitPart::Camera;
  int Match = -1;
  int Occurrence = 0;
  int Times = 1;
  int Param = 0;
};

// Match class of the raw DSP block packet that follows a block-write announce.
constexpr int MATCH_DSP_BLOCK = 0x100;

// Counts a part's messages per match class and in all, for Hit.
class MessageCounter {
 public:
  // (index within the match class, index among all messages), both from 0.
  std::pair<int, int> Next(int match) { return {perMatch_[match]++, all_++}; }

 private:
  std::map<int, int> perMatch_;
  int all_ = 0;
};

class FaultTable {
 public:
  void Add(const Fault& fault);
  // As Hit, for a message counted by a MessageCounter: a fault with Match -1
  // counts its occurrences among all messages, one with a Match among the
  // messages of that class.
  std::optional<Fault> HitMessage(FaultKind kind, UnitPart part, int match, std::pair<int, int> index) const;
  // Whether a fault of this kind hits the message that is the index-th
  // (from 0) of its match class; index is counted by the caller.
  std::optional<Fault> Hit(FaultKind kind, UnitPart part, int match, int index) const;

 private:
  mutable std::mutex lock_;
  std::vector<Fault> faults_;
};

}  // namespace sim
