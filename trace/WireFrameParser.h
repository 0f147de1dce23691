// Cuts one direction of the line into the frames the tool and the unit
// exchange, for the wire trace. Pure: bytes in, frames out; no clock, no
// file, no lock. Bytes come in chunks of any size (a read may split a frame
// or hold several), each chunk with its time and the line rate in force.
//
// The encoders in download/ and the unit model in sim/ are the truth for the
// shapes below.
//
// Tool to unit:
//   command    0x8X, up to 14 bytes, 0xFF (at most 16 bytes in all)
//   block      after the block announce (81 01 04 99 AB FF): nibbles (each
//              byte 0x00..0x0F): 4 of the address, 2 per data byte, 4 of the
//              checksum, then 0xFF; the checksum must hold
//   PING, DOWNLOAD, GET_STATUS, SEND_DATA, RESET
//              a loader packet: size (3..79), checksum (the sum of the bytes
//              after it), command 0x20 0x21 0x23 0x24 0x25, data
//   ACK        0xCC, the tool's acknowledge of a status packet (it goes out
//              right behind GET_STATUS)
//   resync     a lone 0x03 that does not begin one of the three-byte packets
// Unit to tool:
//   reply      a camera reply: 0x80..0xFE, bytes below 0x80, 0xFF (3 to 16 bytes)
//   ACK, NAK   00 CC, 00 33
//   status     the status packet after a GET_STATUS's ACK: 03 s s
// Either way, bytes that fit no frame are "noise" (one frame per run of them,
// at most 64 bytes a frame).
//
// The same values mean different things in the camera phase and the loader
// phase (a DSP block for the address 0x3xxx begins with 0x03 like a PING; a
// camera reply never begins with 0x00 or 0x03). The phase is not taken from
// the line rate: the camera may run at 115200 itself, and the DSP blocks go
// at 115200 like the loader packets. What tells is what the tool sent last: a
// block packet only ever follows the block announce, and every other frame of
// the tool begins with a byte that only one shape starts with (0x8X is no
// loader size, the loader's sizes are no command header). The unit's frames
// differ by their first byte in both phases. So the parser needs no phase at
// all beyond "the block announce went last", which it sees itself.
//
// A lone 0x03 is told from the start of a PING, GET_STATUS or RESET by the
// byte after it, so it is held until that byte comes (or the stream ends).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

enum class TraceDirection { ToUnit, ToTool };

struct WireFrame {
  const char* Name = "";  // one word, as listed above
  std::vector<uint8_t> Bytes;
  uint64_t Micros = 0;  // the time given with its first byte
  uint32_t Rate = 0;    // the line rate given with its first byte
  bool Cut = false;     // the stream ended before the frame was whole
};

class WireFrameParser {
 public:
  explicit WireFrameParser(TraceDirection direction) : direction_(direction) {}

  // Appends to out the frames that these bytes complete.
  void Feed(const uint8_t* bytes, size_t count, uint64_t micros, uint32_t rate, std::vector<WireFrame>& out);
  // Ends the stream: what is still pending comes out, an unfinished frame
  // marked Cut, bytes that begin no frame as noise. The parser starts afresh.
  void Finish(std::vector<WireFrame>& out);
  // The time of the oldest byte not yet in a frame; nullopt when none waits.
  std::optional<uint64_t> PendingSince() const;

 private:
  struct Byte {
    uint8_t Value;
    uint64_t Micros;
    uint32_t Rate;
  };
  enum class Verdict { Partial, Whole, NoFrame };
  struct Match {
    Verdict Kind;
    const char* Name;  // Partial: what the bytes so far would become (null: not known yet)
    size_t Length;     // Whole: the frame's bytes
  };

  // What the bytes p[0..n) begin; ended: no byte follows them.
  Match Classify(const Byte* p, size_t n, bool ended) const;
  Match FromTool(const Byte* p, size_t n, bool ended) const;
  void Drain(std::vector<WireFrame>& out);
  // Whether p[0..n), ended there, holds a whole frame of two bytes or more.
  bool HoldsAFrame(const Byte* p, size_t n) const;
  void Emit(const char* name, const Byte* p, size_t n, bool cut, std::vector<WireFrame>& out);
  void AddNoise(const Byte& byte, std::vector<WireFrame>& out);
  void EmitNoise(std::vector<WireFrame>& out);

  TraceDirection direction_;
  std::vector<Byte> pending_;  // not in a frame yet: the start of one
  std::vector<Byte> noise_;    // a run of noise that may go on
  bool afterAnnounce_ = false;  // the tool's last frame was the block announce
};
