// The serial device map without the real /dev: the default map and the COM
// folder map built from any entry names, and "\\.\<data>" resolved against them.
//
// Input: one byte of switches (bit 0: the default map of /dev, else a COM
// folder; bit 1: the query gets the "\\.\" prefix), then pieces separated by
// zero bytes: the query, then the folder's entry names. As in a real folder,
// names are unique, hold no "/" and are neither empty, "." nor "..".
//
// Properties: every entry comes from a listed name and the folder's path; the
// default map holds exactly the ttyS, ttyUSB and ttyACM nodes with a plain
// number (beyond six digits it may leave one out), gives each the COM number
// of its kind, and orders them by kind and number; a COM folder's map is its
// names in byte order; resolution gives the first entry whose data equals the
// query's, else the first that equals it without regard to ASCII case, else
// nothing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "SerialDeviceMap.h"
#include "SerialDeviceMapDetail.h"

namespace {

const std::string kPrefix = "\\\\.\\";

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

struct Node {
  int kind = -1;      // 0 ttyS, 1 ttyUSB, 2 ttyACM
  long number = -1;   // the node's number; -1 when the digits are not plain
  size_t digits = 0;  // how many
};

// What a name says as a device node, read the plain way.
Node ParseNode(const std::string& name) {
  static const char* const prefixes[] = {"ttyS", "ttyUSB", "ttyACM"};
  for (int k = 0; k < 3; ++k) {
    const std::string prefix = prefixes[k];
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string rest = name.substr(prefix.size());
    if (!std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
    Node node{k, -1, rest.size()};
    if ((rest.size() == 1 || rest[0] != '0') && rest.size() <= 9) node.number = std::stol(rest);
    return node;
  }
  return {};
}

void CheckResolution(const std::string& query, const std::vector<SerialDeviceEntry>& map) {
  const std::optional<std::string> resolved = ResolveDevicePath(query, map);
  if (query.compare(0, kPrefix.size(), kPrefix) != 0 || query.size() == kPrefix.size()) {
    FUZZ_CHECK(!resolved);
    return;
  }
  const std::string data = query.substr(kPrefix.size());
  const auto exact = std::find_if(map.begin(), map.end(), [&](const auto& e) { return e.Data == data; });
  const auto folded =
      std::find_if(map.begin(), map.end(), [&](const auto& e) { return Upper(e.Data) == Upper(data); });
  if (exact != map.end()) {
    FUZZ_CHECK(resolved == exact->ValueName);
  } else if (folded != map.end()) {
    FUZZ_CHECK(resolved == folded->ValueName);
  } else {
    FUZZ_CHECK(!resolved);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool defaultMap = (data[0] & 1) != 0;
  const bool prefixed = (data[0] & 2) != 0;
  std::vector<std::string> pieces(1);
  for (size_t i = 1; i < size; ++i) {
    if (data[i] == 0) {
      pieces.emplace_back();
    } else {
      pieces.back() += static_cast<char>(data[i]);
    }
  }
  const std::string query = (prefixed ? kPrefix : std::string()) + pieces[0];
  std::set<std::string> unique;
  for (size_t i = 1; i < pieces.size(); ++i) {
    const std::string& name = pieces[i];
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) continue;
    unique.insert(name);
  }
  std::vector<std::string> names(unique.begin(), unique.end());
  std::reverse(names.begin(), names.end());  // a folder lists in no particular order

  const std::string folder = defaultMap ? "/dev" : "/tmp/com";
  const std::vector<SerialDeviceEntry> map =
      defaultMap ? DefaultSerialDeviceMap(folder, names) : SerialDeviceFolderMap(folder, names);

  FUZZ_CHECK(map.size() <= names.size());
  std::set<std::string> seen;
  for (const SerialDeviceEntry& entry : map) {
    FUZZ_CHECK(entry.ValueName.compare(0, folder.size() + 1, folder + "/") == 0);
    const std::string name = entry.ValueName.substr(folder.size() + 1);
    FUZZ_CHECK(unique.count(name) == 1);
    FUZZ_CHECK(seen.insert(name).second);
    if (!defaultMap) FUZZ_CHECK(entry.Data == name);
  }
  if (defaultMap) {
    static const long firstCom[] = {1, 33, 65};
    size_t listed = 0;
    for (auto it = unique.begin(); it != unique.end(); ++it) {
      const Node node = ParseNode(*it);
      if (node.number < 0 || seen.count(*it) == 0) {
        // Only a name with more than six digits may be left out.
        FUZZ_CHECK(seen.count(*it) == 0 && (node.number < 0 || node.digits > 6));
        continue;
      }
      ++listed;
    }
    FUZZ_CHECK(listed == map.size());
    for (size_t i = 0; i < map.size(); ++i) {
      const Node node = ParseNode(map[i].ValueName.substr(folder.size() + 1));
      FUZZ_CHECK(node.number >= 0);
      FUZZ_CHECK(map[i].Data == "COM" + std::to_string(node.number + firstCom[node.kind]));
      FUZZ_CHECK(map[i].Data.size() <= 3 + 10);
      if (i > 0) {
        const Node previous = ParseNode(map[i - 1].ValueName.substr(folder.size() + 1));
        FUZZ_CHECK(previous.kind < node.kind || (previous.kind == node.kind && previous.number < node.number));
      }
    }
  } else {
    FUZZ_CHECK(map.size() == unique.size());
    FUZZ_CHECK(std::is_sorted(map.begin(), map.end(), [](const auto& a, const auto& b) { return a.Data < b.Data; }));
  }

  CheckResolution(query, map);
  // Each listed entry's own data, and in lower case, as port discovery and a
  // typed "\\.\com3" ask for it.
  for (size_t i = 0; i < map.size() && i < 32; ++i) {
    CheckResolution(kPrefix + map[i].Data, map);
    std::string lower = map[i].Data;
    for (char& c : lower) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    CheckResolution(kPrefix + lower, map);
  }
  return 0;
}
