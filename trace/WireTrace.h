// The wire trace: every byte between the tool and the unit, both ways, in a
// text file that a technician attaches to a fault report. A front end makes
// one with a path, hands it to a TracingPortFactory (TracingPort.h) around
// its port seam, and closes it (or lets it go) when done.
//
// The file, one line each:
//
//   # Lumo_DownloadTool wire trace, begun 2025-03-04T10:11:12Z
//   #      0.000000  port /dev/ttyUSB0 opened
//        0.104211  tool>unit    9600  command     81 01 04 75 BB CC DD FF
//        0.125032  unit>tool    9600  reply       90 41 FF 90 51 FF
//        ...
//       12.400120  tool>unit  115200  SEND_DATA   4F 2A 24 00 01 ... 4B
//       12.407981  unit>tool  115200  ACK         00 CC
//        ...
//   #     31.002117  port closed
//
// A frame line holds, separated by blanks:
//   time       seconds since the trace began, six decimals (microseconds),
//              of the frame's first byte: for the tool's bytes when the write
//              that took them began, for the unit's when the read that stored
//              them returned; so a reply never stands before what it answers,
//              however late the sender's write call comes back
//   direction  tool>unit or unit>tool
//   rate       the line rate the port was set to then (0: none set yet)
//   frame      one word: command, reply, block, PING, DOWNLOAD, GET_STATUS,
//              SEND_DATA, RESET, ACK, NAK, status, resync, or noise for bytes
//              that fit no frame (WireFrameParser.h has the shapes)
//   bytes      the frame's bytes, two upper-case hex digits each
//   cut        only on a frame that the end of the port (or of the trace)
//              cut short
// Lines are in the order of their times, both directions merged. Lines that
// begin with '#' are notes: the heading, and each port opened (or that could
// not be opened) and closed, with its time. Concatenating the bytes of one
// direction's lines gives exactly what went that way.
//
// Cost to the job: a sender or the receive thread only appends its bytes to
// a buffer under a short lock. The trace's own thread takes the buffer every
// 100 ms, cuts it into frames, formats and writes them, and flushes once per
// round: a job never waits on the file or on formatting, and a tool that is
// killed leaves a trace that lacks only its last moments.
//
// No Qt, nothing of the platform: the standard library only.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "WireFrameParser.h"

class WireTrace {
 public:
  // Starts the file at path afresh (what was there is replaced). Whether
  // that worked: IsOpen(). Throws nothing.
  explicit WireTrace(const std::string& path);
  ~WireTrace();  // Close()
  WireTrace(const WireTrace&) = delete;
  WireTrace& operator=(const WireTrace&) = delete;

  const std::string& Path() const { return path_; }
  // False when the file could not be made; the trace then records nothing.
  bool IsOpen() const { return opened_; }
  // Writes out everything recorded, unfinished frames marked cut, and closes
  // the file. True when every line reached the file. Later records are
  // dropped; closing again returns the same answer.
  bool Close();

  // Recording, from any thread; each returns at once.
  void Sent(const uint8_t* bytes, size_t count, uint32_t rate);      // tool to unit, timed now
  void Received(const uint8_t* bytes, size_t count, uint32_t rate);  // unit to tool, timed now
  // A write in two steps, timed at its start: SendBegins before the device
  // is given the bytes, SendEnds with what it took (nothing included).
  // Meanwhile no line of a later time is written. One write of a port at a
  // time (the job's senders take turns).
  uint64_t SendBegins();
  void SendEnds(uint64_t began, const uint8_t* bytes, size_t count, uint32_t rate);
  // A port begins or ends: the frames of the one before are complete, and
  // a note says so.
  void PortOpened(const std::string& device);
  void PortNotOpened(const std::string& device);
  void PortClosed();

 private:
  using Clock = std::chrono::steady_clock;
  enum class Kind : uint8_t { ToUnit, SendBegun, SendEnded, ToTool, Opened, NotOpened, Closed };
  // Bytes (or a note's device name) live in the batch's byte store.
  struct Event {
    Kind What;
    uint64_t Micros;
    uint32_t Rate;
    size_t Offset;
    size_t Length;
  };
  struct Batch {
    std::vector<Event> Events;
    std::vector<uint8_t> Bytes;
  };

  // Returns the event's time: now, or began for a write that ends.
  uint64_t Append(Kind what, const uint8_t* bytes, size_t count, uint32_t rate, uint64_t began = 0);
  void Feed(TraceDirection direction, const Event& e, const uint8_t* bytes);
  // The trace's own thread: a round every WRITE_PERIOD, the last at Close.
  void Run();
  void Process(const Batch& batch);
  // Ends both directions' streams: unfinished frames come out cut.
  void EndStreams();
  // Writes the held frames in time order, those that no unfinished frame
  // can come before (all: every one).
  void Release(bool all);
  void WriteFrame(const WireFrame& frame, TraceDirection direction);
  void WriteNote(uint64_t micros, const std::string& text);
  void Put(const std::string& text);

  const std::string path_;
  const Clock::time_point begun_;
  bool opened_ = false;

  std::mutex lock_;
  std::condition_variable wake_;
  Batch pending_;         // under lock_
  bool closing_ = false;  // under lock_: records are dropped, the writer ends
  bool written_ = false;  // under lock_: the writer's verdict once it ended

  std::mutex closeLock_;  // one Close at a time

  // The trace's own thread only (and the constructor before it starts).
  std::FILE* file_ = nullptr;
  std::vector<char> fileBuffer_;
  bool writeFailed_ = false;
  bool wroteThisRound_ = false;
  Batch spare_;  // the batch being processed; swapped with pending_ each round
  WireFrameParser toUnit_{TraceDirection::ToUnit};
  WireFrameParser toTool_{TraceDirection::ToTool};
  // Frames cut out but not written yet: one direction's frame waits while
  // the other direction holds an unfinished frame that began earlier.
  std::deque<WireFrame> heldToUnit_;
  std::deque<WireFrame> heldToTool_;
  std::multiset<uint64_t> writing_;  // the start of each write not ended yet
  std::string line_;

  std::thread writer_;
};
