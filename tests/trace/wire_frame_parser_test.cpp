// The wire trace's frame parser: byte streams as the tool's encoders and the
// unit make them, fed whole, split at every point and byte by byte, must come
// out as the same frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "DspDownload.h"
#include "LoaderDownload.h"
#include "PortlessJob.h"
#include "WireFrameParser.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Strings = std::vector<std::string>;

// "name XX XX ..." with " cut" for a cut frame.
std::string Render(const WireFrame& frame) {
  std::string text = frame.Name;
  for (uint8_t b : frame.Bytes) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02X", b);
    text += hex;
  }
  if (frame.Cut) text += " cut";
  return text;
}

std::string Frame(const char* name, const Bytes& bytes, bool cut = false) {
  return Render(WireFrame{name, bytes, 0, 0, cut});
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes Head(const Bytes& bytes, size_t n) { return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(n)); }

// The stream fed in the pieces that begin at the given offsets, then ended.
Strings Parse(TraceDirection direction, const Bytes& stream, const std::vector<size_t>& cuts) {
  WireFrameParser parser(direction);
  std::vector<WireFrame> frames;
  size_t from = 0;
  std::vector<size_t> ends = cuts;
  ends.push_back(stream.size());
  for (size_t to : ends) {
    parser.Feed(stream.data() + from, to - from, from, 0, frames);
    from = to;
  }
  parser.Finish(frames);
  EXPECT_FALSE(parser.PendingSince().has_value()) << "bytes left after the end";
  Strings rendered;
  for (const WireFrame& f : frames) rendered.push_back(Render(f));
  return rendered;
}

struct ParserCase {
  std::string Name;
  TraceDirection Direction;
  Bytes Stream;
  Strings Frames;
};

const Bytes ENTER = {0x81, 0x01, 0x04, 0x75, 0xBB, 0xCC, 0xDD, 0xFF};
const Bytes ANNOUNCE = {0x81, 0x01, 0x04, 0x99, 0xAB, 0xFF};
const Bytes ADDRESS_SET = {0x88, 0x30, 0x01, 0xFF};
const Bytes CAMERA_ENTRY = {0x81, 0x01, 0x04, 0xAA, 0xAA, 0xFF};
const Bytes CONTROL_ENTRY = {0x81, 0xAA, 0xBB, 0x00, 0xFF};
const Bytes VERSION = {0x81, 0x01, 0x04, 0xAA, 0xEE, 0x01, 0x01, 0x02, 0x0A, 0x0B, 0xFF};
const Bytes HOST_ACK = {0xCC};
const Bytes ACK = {0x00, 0xCC};
const Bytes NAK = {0x00, 0x33};

Bytes Block(uint16_t address, uint32_t count, const Bytes& data) {
  uint8_t packet[160];
  const int32_t n = BuildDSPBlockPacket(packet, address, data.data(), count).value_or(0);
  return Bytes(packet, packet + n);
}

Bytes Block(uint16_t address, uint32_t count, uint8_t seed) {
  Bytes data(count);
  for (uint32_t k = 0; k < count; ++k) data[k] = static_cast<uint8_t>(seed + 37 * k);
  return Block(address, count, data);
}

// The loader packets as the tool's own builders make them.
struct LoaderPackets {
  lumo_test::PortlessJob job;
  uint8_t packet[LOADER_PACKET_BUFFER];
  Bytes Take(int32_t n) { return Bytes(packet, packet + n); }
  Bytes Ping() { return Take(BuildPingPacket(&job.form, packet)); }
  Bytes Download(int32_t length) { return Take(BuildDownloadPacket(&job.form, packet, 0x1000, length)); }
  Bytes GetStatus() { return Take(BuildGetStatusPacket(&job.form, packet)); }
  Bytes Reset() { return Take(BuildResetPacket(&job.form, packet)); }
  Bytes SendData(int32_t n, uint8_t seed) {
    Bytes data(static_cast<size_t>(n));
    for (int32_t k = 0; k < n; ++k) data[static_cast<size_t>(k)] = static_cast<uint8_t>(seed + 11 * k);
    return Take(BuildSendDataPacket(&job.form, packet, data.data(), n));
  }
};

std::vector<ParserCase> Cases() {
  LoaderPackets loader;
  const Bytes ping = loader.Ping();
  const Bytes download = loader.Download(300);
  const Bytes getStatus = loader.GetStatus();  // the packet and the tool's acknowledge
  const Bytes statusPacket = Head(getStatus, 3);
  const Bytes reset = loader.Reset();
  const Bytes chunk = loader.SendData(LOADER_CHUNK, 5);
  // The last chunk of an image: its size byte (0x20) is PING's command byte.
  const Bytes lastChunk = loader.SendData(0x20 - 3, 9);
  // A block for 0x3xxx begins with 0x03 like a resync or a PING.
  const Bytes first = Block(0x0080, 64, 1), high = Block(0x3FC0, 64, 2), shortBlock = Block(0x5FC0, 13, 3);
  const Bytes resync = {0x03};
  Bytes badBlock = Block(0x0080, 64, Bytes(64, 0x00));
  badBlock[badBlock.size() - 2] ^= 0x01;
  Bytes badDownload = download;
  badDownload[1] ^= 0x10;
  const Bytes status = {0x03, 0x40, 0x40}, statusFailed = {0x03, 0x44, 0x44};
  const Bytes ack = {0x90, 0x41, 0xFF}, completion = {0x90, 0x51, 0xFF}, written = {0x90, 0x51, 0x01, 0xFF};
  const Bytes refused = {0x90, 0x51, 0x00, 0xFF}, addressSet = {0x88, 0x30, 0x02, 0xFF};
  const Bytes error = {0x90, 0x60, 0x02, 0xFF};
  const TraceDirection toUnit = TraceDirection::ToUnit, toTool = TraceDirection::ToTool;

  return {
      // ---- tool to unit
      {"camera commands", toUnit, Join({ENTER, ADDRESS_SET, VERSION, CAMERA_ENTRY, CONTROL_ENTRY}),
       {Frame("command", ENTER), Frame("command", ADDRESS_SET), Frame("command", VERSION),
        Frame("command", CAMERA_ENTRY), Frame("command", CONTROL_ENTRY)}},
      {"blocks after their announces", toUnit, Join({ANNOUNCE, first, ANNOUNCE, high, ANNOUNCE, shortBlock, VERSION}),
       {Frame("command", ANNOUNCE), Frame("block", first), Frame("command", ANNOUNCE), Frame("block", high),
        Frame("command", ANNOUNCE), Frame("block", shortBlock), Frame("command", VERSION)}},
      // The announce went out again (its completion did not come): no block
      // in between, and the next one is still taken.
      {"an announce repeated", toUnit, Join({ANNOUNCE, ANNOUNCE, high}),
       {Frame("command", ANNOUNCE), Frame("command", ANNOUNCE), Frame("block", high)}},
      // After a loader packet a 0x03 is no block.
      {"a block's bytes without an announce", toUnit, Join({ping, Head(high, 1), ping}),
       {Frame("PING", ping), Frame("resync", resync), Frame("PING", ping)}},
      {"a nibble run too short for a block", toUnit, Join({ANNOUNCE, {0x00, 0x00, 0x08, 0x00, 0xFF}}),
       {Frame("command", ANNOUNCE), Frame("noise", {0x00, 0x00, 0x08, 0x00, 0xFF})}},
      {"a block whose checksum does not hold", toUnit, Join({ANNOUNCE, badBlock}),
       [&] {
         // Nibbles, then 0xFF: none of it begins a frame of the tool.
         Strings frames{Frame("command", ANNOUNCE)};
         for (size_t at = 0; at < badBlock.size(); at += 64) {
           const size_t end = std::min(at + 64, badBlock.size());
           frames.push_back(Frame("noise", Bytes(badBlock.begin() + static_cast<long>(at),
                                                 badBlock.begin() + static_cast<long>(end))));
         }
         return frames;
       }()},
      {"a board's load", toUnit, Join({ping, download, getStatus, chunk, getStatus, lastChunk, getStatus, reset}),
       {Frame("PING", ping), Frame("DOWNLOAD", download), Frame("GET_STATUS", statusPacket), Frame("ACK", HOST_ACK),
        Frame("SEND_DATA", chunk), Frame("GET_STATUS", statusPacket), Frame("ACK", HOST_ACK),
        Frame("SEND_DATA", lastChunk), Frame("GET_STATUS", statusPacket), Frame("ACK", HOST_ACK),
        Frame("RESET", reset)}},
      {"resync bytes before packets", toUnit, Join({resync, resync, resync, ping, resync, lastChunk, resync, download}),
       {Frame("resync", resync), Frame("resync", resync), Frame("resync", resync), Frame("PING", ping),
        Frame("resync", resync), Frame("SEND_DATA", lastChunk), Frame("resync", resync),
        Frame("DOWNLOAD", download)}},
      {"a resync last", toUnit, Join({chunk, resync}), {Frame("SEND_DATA", chunk), Frame("resync", resync)}},
      {"camera commands between loader packets", toUnit, Join({reset, ADDRESS_SET, CONTROL_ENTRY, ping}),
       {Frame("RESET", reset), Frame("command", ADDRESS_SET), Frame("command", CONTROL_ENTRY), Frame("PING", ping)}},
      // Its last byte looks like the size of a packet that the PING after it
      // would begin; the SEND_DATA after that shows it was not one.
      {"a loader packet whose checksum does not hold", toUnit, Join({badDownload, ping, chunk}),
       {Frame("noise", badDownload), Frame("PING", ping), Frame("SEND_DATA", chunk)}},
      {"noise before a command", toUnit, Join({{0x12, 0x34}, ENTER}),
       {Frame("noise", {0x12, 0x34}), Frame("command", ENTER)}},
      {"a long run of noise", toUnit, Bytes(70, 0x01),
       {Frame("noise", Bytes(64, 0x01)), Frame("noise", Bytes(6, 0x01))}},
      {"a command cut short", toUnit, Join({ENTER, Head(VERSION, 4)}),
       {Frame("command", ENTER), Frame("command", Head(VERSION, 4), true)}},
      {"a block cut short", toUnit, Join({ANNOUNCE, Head(first, 40)}),
       {Frame("command", ANNOUNCE), Frame("block", Head(first, 40), true)}},
      {"a PING cut short", toUnit, Join({chunk, Head(ping, 2)}),
       {Frame("SEND_DATA", chunk), Frame("PING", Head(ping, 2), true)}},
      {"a SEND_DATA cut short", toUnit, Head(chunk, 30), {Frame("SEND_DATA", Head(chunk, 30), true)}},
      // Its command byte not in yet: nothing tells what it was.
      {"a loader packet cut after its size", toUnit, Head(chunk, 2), {Frame("noise", Head(chunk, 2))}},

      // ---- unit to tool
      {"camera replies", toTool, Join({ack, completion, ack, completion, written, refused, addressSet, error}),
       {Frame("reply", ack), Frame("reply", completion), Frame("reply", ack), Frame("reply", completion),
        Frame("reply", written), Frame("reply", refused), Frame("reply", addressSet), Frame("reply", error)}},
      {"loader replies", toTool, Join({ACK, NAK, ACK, status, ACK, ACK, statusFailed}),
       {Frame("ACK", ACK), Frame("NAK", NAK), Frame("ACK", ACK), Frame("status", status), Frame("ACK", ACK),
        Frame("ACK", ACK), Frame("status", statusFailed)}},
      {"noise between replies", toTool, Join({{0x55}, ack, {0x7F, 0xFF}, ACK, {0x01}}),
       {Frame("noise", {0x55}), Frame("reply", ack), Frame("noise", {0x7F, 0xFF}), Frame("ACK", ACK),
        Frame("noise", {0x01})}},
      // A reply that lost its terminator: the header of the next one ends it.
      {"a reply without its terminator", toTool, Join({Head(ack, 2), completion}),
       {Frame("noise", Head(ack, 2)), Frame("reply", completion)}},
      {"a status whose checksum does not hold", toTool, Join({ACK, {0x03, 0x40, 0x1A}, ACK}),
       {Frame("ACK", ACK), Frame("noise", {0x03, 0x40, 0x1A}), Frame("ACK", ACK)}},
      {"a zero byte that is no ACK", toTool, Join({{0x00, 0x41}, ACK}),
       {Frame("noise", {0x00, 0x41}), Frame("ACK", ACK)}},
      {"a reply longer than sixteen bytes", toTool, Join({{0x90}, Bytes(16, 0x01), {0xFF}}),
       {Frame("noise", Join({{0x90}, Bytes(16, 0x01), {0xFF}}))}},
      {"a reply cut short", toTool, Join({ack, Head(written, 3)}),
       {Frame("reply", ack), Frame("reply", Head(written, 3), true)}},
      {"a status cut short", toTool, Join({ACK, Head(status, 2)}),
       {Frame("ACK", ACK), Frame("status", Head(status, 2), true)}},
      // A stray byte that could begin a reply, and a status after it, last.
      {"a reply header before the last status", toTool, Join({ACK, {0xA5}, status}),
       {Frame("ACK", ACK), Frame("noise", {0xA5}), Frame("status", status)}},
      {"a lone zero byte last", toTool, Join({ACK, {0x00}}), {Frame("ACK", ACK), Frame("noise", {0x00})}},
  };
}

TEST(WireFrameParser, EveryStreamComesOutTheSameHoweverItIsSplit) {
  for (const ParserCase& c : Cases()) {
    SCOPED_TRACE(c.Name);
    ASSERT_EQ(Parse(c.Direction, c.Stream, {}), c.Frames) << "whole";
    for (size_t at = 1; at < c.Stream.size(); ++at) {
      ASSERT_EQ(Parse(c.Direction, c.Stream, {at}), c.Frames) << "split at " << at;
    }
    std::vector<size_t> everyByte;
    for (size_t at = 1; at < c.Stream.size(); ++at) everyByte.push_back(at);
    ASSERT_EQ(Parse(c.Direction, c.Stream, everyByte), c.Frames) << "byte by byte";
  }
}

// A frame takes the time and the rate its first byte came with; until it is
// whole, that time is what waits.
TEST(WireFrameParser, AFrameHasTheTimeAndRateOfItsFirstByte) {
  WireFrameParser parser(TraceDirection::ToTool);
  std::vector<WireFrame> frames;
  const Bytes head = {0x90, 0x41}, tail = {0xFF, 0x00};
  parser.Feed(head.data(), head.size(), 100, 9600, frames);
  EXPECT_TRUE(frames.empty());
  EXPECT_EQ(parser.PendingSince(), std::optional<uint64_t>(100));
  parser.Feed(tail.data(), tail.size(), 250, 115200, frames);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(Render(frames[0]), "reply 90 41 FF");
  EXPECT_EQ(frames[0].Micros, 100u);
  EXPECT_EQ(frames[0].Rate, 9600u);
  // The lone zero waits for the byte that tells ACK from NAK.
  EXPECT_EQ(parser.PendingSince(), std::optional<uint64_t>(250));
  const Bytes cc = {0xCC};
  parser.Feed(cc.data(), cc.size(), 300, 115200, frames);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(Render(frames[1]), "ACK 00 CC");
  EXPECT_EQ(frames[1].Micros, 250u);
  EXPECT_FALSE(parser.PendingSince().has_value());
}

// The end of a stream (a port closed) forgets the announce: the next port's
// first bytes are not taken for a block.
TEST(WireFrameParser, TheEndOfAStreamForgetsTheAnnounce) {
  WireFrameParser parser(TraceDirection::ToUnit);
  std::vector<WireFrame> frames;
  parser.Feed(ANNOUNCE.data(), ANNOUNCE.size(), 0, 115200, frames);
  parser.Finish(frames);
  const Bytes block = Block(0x3FC0, 64, 2);
  parser.Feed(block.data(), block.size(), 1, 115200, frames);
  parser.Finish(frames);
  ASSERT_GE(frames.size(), 2u);
  EXPECT_EQ(Render(frames[0]), Frame("command", ANNOUNCE));
  for (size_t k = 1; k < frames.size(); ++k) EXPECT_STRNE(frames[k].Name, "block");
}

}  // namespace
