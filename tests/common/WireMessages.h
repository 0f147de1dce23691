// The host's side of the simulated unit's wire record cut into named
// messages, with the line rate each went out at.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "LineRules.h"
#ifndef _WIN32
#include "SimUnit.h"
#endif

namespace lumo_test {

struct Sent {
  std::string Name;
  int Rate;
};

inline bool StartsWith(const std::vector<sim::WireByte>& wire, size_t i, const std::vector<uint8_t>& prefix) {
  if (i + prefix.size() > wire.size()) return false;
  for (size_t k = 0; k < prefix.size(); ++k) {
    if (wire[i + k].Byte != prefix[k]) return false;
  }
  return true;
}

// The host's bytes cut into named messages: camera commands by their bytes,
// the DSP block packet that follows an announce up to its 0xFF, loader
// packets by their size byte (a GET_STATUS with the host's acknowledge, a
// lone 0x03 as a resync byte); anything else byte by byte in hex.
inline std::vector<Sent> SentMessages(const std::vector<sim::WireByte>& record) {
  struct Known {
    const char* Name;
    std::vector<uint8_t> Prefix;
    size_t Length;
  };
  const Known camera[] = {
      {"ENTER", {0x81, 0x01, 0x04, 0x75, 0xBB, 0xCC, 0xDD, 0xFF}, 8},
      {"ANNOUNCE", {0x81, 0x01, 0x04, 0x99, 0xAB, 0xFF}, 6},
      {"VERSION", {0x81, 0x01, 0x04, 0xAA, 0xEE}, 11},
      {"CAMERA_ENTRY", {0x81, 0x01, 0x04, 0xAA, 0xAA, 0xFF}, 6},
      {"CONTROL_ENTRY", {0x81, 0xAA, 0xBB, 0x00, 0xFF}, 5},
      {"ADDRESS", {0x88, 0x30, 0x01, 0xFF}, 4},
  };
  std::vector<sim::WireByte> wire;
  for (const sim::WireByte& w : record) {
    if (w.Direction == sim::WireDirection::ToUnit) wire.push_back(w);
  }
  std::vector<Sent> sent;
  size_t i = 0;
  while (i < wire.size()) {
    std::string name;
    size_t n = 1;
    for (const Known& k : camera) {
      if (StartsWith(wire, i, k.Prefix) && i + k.Length <= wire.size()) {
        name = k.Name;
        n = k.Length;
        break;
      }
    }
    if (name.empty() && !sent.empty() && sent.back().Name == "ANNOUNCE") {
      name = "BLOCK";
      while (i + n <= wire.size() && wire[i + n - 1].Byte != 0xFF) ++n;
      n = std::min(n, wire.size() - i);
    }
    if (name.empty()) {
      const uint8_t size = wire[i].Byte;
      const uint8_t command = i + 2 < wire.size() ? wire[i + 2].Byte : 0;
      const bool repeated = i + 2 < wire.size() && wire[i + 1].Byte == command;
      if (size == 3 && repeated && command == 0x20) {
        name = "PING", n = 3;
      } else if (size == 3 && repeated && command == 0x23 && StartsWith(wire, i + 3, {0xCC})) {
        name = "GET_STATUS", n = 4;
      } else if (size == 3 && repeated && command == 0x25) {
        name = "RESET", n = 3;
      } else if (size == 3) {
        name = "RESYNC";
      } else if (size == 11 && command == 0x21 && i + 11 <= wire.size()) {
        name = "DOWNLOAD", n = 11;
      } else if (size >= 4 && size <= 79 && command == 0x24 && i + size <= wire.size()) {
        name = "SEND_DATA", n = size;
      } else {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", wire[i].Byte);
        name = hex;
      }
    }
    sent.push_back({name, wire[i].Rate});
    i += n;
  }
  return sent;
}

#ifndef _WIN32
inline std::vector<Sent> SentMessages(const sim::SimUnit& unit) { return SentMessages(unit.Wire()); }
#endif

// "NAME@rate" for each message: a short form for expectations.
inline std::vector<std::string> Labels(const std::vector<Sent>& sent) {
  std::vector<std::string> labels;
  for (const Sent& s : sent) labels.push_back(s.Name + "@" + std::to_string(s.Rate));
  return labels;
}

}  // namespace lumo_test
