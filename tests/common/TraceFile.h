// A wire trace file read back as the tests check it: its notes and its frame
// lines, each field as the line format in WireTrace.h gives it. A line that
// does not keep to the format is kept as malformed.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace lumo_test {

struct TraceLine {
  uint64_t Micros = 0;
  bool ToUnit = false;
  uint32_t Rate = 0;
  std::string Name;
  std::vector<uint8_t> Bytes;
  bool Cut = false;
};

struct TraceFile {
  bool Read = false;                   // the file could be opened
  std::vector<std::string> Notes;      // the text after "# "
  std::vector<TraceLine> Frames;       // in file order
  std::vector<std::string> Malformed;  // lines that are neither

  std::vector<uint8_t> BytesOf(bool toUnit) const {
    std::vector<uint8_t> all;
    for (const TraceLine& f : Frames) {
      if (f.ToUnit == toUnit) all.insert(all.end(), f.Bytes.begin(), f.Bytes.end());
    }
    return all;
  }
  size_t Count(const std::string& name, bool toUnit) const {
    size_t n = 0;
    for (const TraceLine& f : Frames) n += f.Name == name && f.ToUnit == toUnit ? 1 : 0;
    return n;
  }
};

inline bool ParseHexByte(const std::string& token, uint8_t& byte) {
  const auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (token.size() != 2 || digit(token[0]) < 0 || digit(token[1]) < 0) return false;
  byte = static_cast<uint8_t>(digit(token[0]) << 4 | digit(token[1]));
  return true;
}

// "S.UUUUUU": seconds, a point, six digits.
inline bool ParseTime(const std::string& token, uint64_t& micros) {
  const size_t point = token.find('.');
  if (point == std::string::npos || point == 0 || token.size() - point - 1 != 6) return false;
  for (size_t k = 0; k < token.size(); ++k) {
    if (k != point && (token[k] < '0' || token[k] > '9')) return false;
  }
  micros = std::stoull(token.substr(0, point)) * 1000000 + std::stoull(token.substr(point + 1));
  return true;
}

inline bool ParseFrameLine(const std::string& line, TraceLine& frame) {
  std::istringstream in(line);
  std::string time, direction, rate;
  if (!(in >> time >> direction >> rate >> frame.Name)) return false;
  if (!ParseTime(time, frame.Micros)) return false;
  if (direction != "tool>unit" && direction != "unit>tool") return false;
  frame.ToUnit = direction == "tool>unit";
  if (rate.empty() || rate.find_first_not_of("0123456789") != std::string::npos) return false;
  frame.Rate = static_cast<uint32_t>(std::stoul(rate));
  std::string token;
  while (in >> token) {
    if (frame.Cut) return false;  // "cut" comes last
    uint8_t byte = 0;
    if (token == "cut") {
      frame.Cut = true;
    } else if (ParseHexByte(token, byte)) {
      frame.Bytes.push_back(byte);
    } else {
      return false;
    }
  }
  return !frame.Bytes.empty();
}

inline TraceFile ReadTraceFile(const std::string& path) {
  TraceFile trace;
  std::ifstream in(path);
  trace.Read = static_cast<bool>(in);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("# ", 0) == 0) {
      trace.Notes.push_back(line.substr(2));
      continue;
    }
    TraceLine frame;
    if (ParseFrameLine(line, frame)) {
      trace.Frames.push_back(frame);
    } else {
      trace.Malformed.push_back(line);
    }
  }
  return trace;
}

}  // namespace lumo_test
