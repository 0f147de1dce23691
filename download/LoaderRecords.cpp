#include "LoaderRecords.h"

#include <filesystem>
#include <fstream>

#include "ImageFile.h"

// The file holds one line per port, "<board> <device path>", so that a person
// can read it; a device path with a line break cannot be kept there.

LoaderRecords::LoaderRecords(std::string file) : file_(std::move(file)) {}

LoaderRecords::Map LoaderRecords::Read() const {
  Map records;
  if (file_.empty()) return records;
  std::ifstream in(PathFromUtf8(file_), std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() < 3 || line[1] != ' ') continue;
    const int32_t board = line[0] - '0';
    if (board != CAMERA_BOARD && board != CONTROL_BOARD) continue;
    records[line.substr(2)] = board;
  }
  return records;
}

bool LoaderRecords::Write(const Map& records) const {
  if (file_.empty()) return false;
  std::error_code error;
  const std::filesystem::path target = PathFromUtf8(file_);
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), error);
  // A whole new file renamed over the old one: a crash in between leaves
  // the old records, never half of them.
  const std::filesystem::path temporary = PathFromUtf8(file_ + ".new");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    for (const auto& [device, board] : records) out << board << ' ' << device << '\n';
    out.flush();
    if (!out) {
      std::filesystem::remove(temporary, error);
      return false;
    }
  }
  std::filesystem::rename(temporary, target, error);
  if (!error) return true;
  std::error_code ignored;  // the rename's failure is what counts
  std::filesystem::remove(temporary, ignored);
  return false;
}

int32_t LoaderRecords::Get(const std::string& device) const {
  std::lock_guard<std::mutex> hold(lock_);
  Map records = Read();
  for (const auto& [d, board] : unsaved_) records[d] = board;
  const auto found = records.find(device);
  return found == records.end() ? NO_BOARD : found->second;
}

bool LoaderRecords::Set(const std::string& device, int32_t board) {
  std::lock_guard<std::mutex> hold(lock_);
  Map records = Read();
  if (board == NO_BOARD) {
    records.erase(device);
  } else {
    records[device] = board;
  }
  const bool storable = device.find_first_of("\r\n") == std::string::npos;
  if (file_.empty()) {
    unsaved_[device] = board;
    return true;
  }
  if (storable && Write(records)) {
    unsaved_.erase(device);
    return true;
  }
  unsaved_[device] = board;
  return false;
}
