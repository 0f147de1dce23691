// Test support: the host's messages as a job's steps, for expectations that
// read like the job's plan rather than like a packet dump.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "WireMessages.h"

namespace lumo_test {

// A DSP download (announces, blocks and version writes) and a run of loader
// packets each become one step; camera commands stay one by one. "NAME@rate";
// a step whose messages went out at different rates shows up as several steps.
inline std::vector<std::string> Steps(const std::vector<Sent>& sent) {
  const auto group = [](const std::string& name) -> std::string {
    if (name == "ANNOUNCE" || name == "BLOCK" || name == "VERSION") return "DSP";
    if (name == "PING" || name == "GET_STATUS" || name == "RESET" || name == "RESYNC" || name == "DOWNLOAD" ||
        name == "SEND_DATA")
      return "LOADER";
    return name;
  };
  std::vector<std::string> steps;
  std::string last;
  for (const Sent& s : sent) {
    const std::string g = group(s.Name);
    const std::string step = g + "@" + std::to_string(s.Rate);
    if ((g == "DSP" || g == "LOADER") && step == last) continue;
    steps.push_back(step);
    last = step;
  }
  return steps;
}

inline size_t Count(const std::vector<Sent>& sent, const std::string& name) {
  return static_cast<size_t>(std::count_if(sent.begin(), sent.end(), [&](const Sent& s) { return s.Name == name; }));
}

}  // namespace lumo_test
