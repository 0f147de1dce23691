#include "LoaderRecords.h"

#include <filesystem>
#include <fstream>

#include "FileLock.h"
#include "ImageFile.h"

// The file holds one line per port, "<board> <device path>", so that a person
// can read it; a device path with a line break cannot be kept there. The
// window and every run of the command line share it: each change is a whole
// read-modify-write under the lock file beside it, written to a file of the
// writer's own and renamed over the record, so a reader sees the old records
// or the new ones, never half of them, and no writer undoes another's change.

namespace {

// How long a writer waits for another to finish. A write takes milliseconds;
// one that waits this long meets a process that hangs while it holds the lock.
constexpr auto WRITE_LOCK_WAIT = std::chrono::seconds(3);
// A reader that cannot have the lock reads anyway: the rename keeps the file whole.
constexpr auto READ_LOCK_WAIT = std::chrono::seconds(1);

// The device's own path, so that every name of the port (a COM link, the
// device path) finds one record. A name that leads nowhere now stays as
// given; so does a Windows device name ("\\.\COM3"), which is the port
// itself and which resolving would open.
std::string DeviceKey(const std::string& device) {
  if (device.empty() || device.rfind("\\\\.\\", 0) == 0 || device.rfind("\\\\?\\", 0) == 0) return device;
  std::error_code error;
  const std::filesystem::path path = PathFromUtf8(device);
  if (!std::filesystem::exists(path, error) || error) return device;
  const std::filesystem::path real = std::filesystem::canonical(path, error);
  return error ? device : Utf8FromPath(real);
}

}  // namespace

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
  std::error_code error;
  const std::filesystem::path target = PathFromUtf8(file_);
  // A name of this writer's own: another process may be writing its own
  // file beside the record at the same time, and a crash leaves the record whole.
  const std::filesystem::path temporary = PathFromUtf8(file_ + "." + UniqueFileNamePart() + ".new");
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
  std::filesystem::remove(temporary, error);
  return false;
}

int32_t LoaderRecords::Get(const std::string& device) const {
  const std::string key = DeviceKey(device);
  std::lock_guard<std::mutex> hold(lock_);
  const auto unsaved = unsaved_.find(key);
  if (unsaved != unsaved_.end()) return unsaved->second;
  Map records;
  if (!file_.empty()) {
    // No lock file: nobody has written under the lock yet, and asking creates nothing.
    const FileLock shared(LockFile(), FileLock::Mode::Shared, false, READ_LOCK_WAIT);
    records = Read();
  }
  auto found = records.find(key);
  // A record that an earlier version kept under the name the job was given.
  if (found == records.end()) found = records.find(device);
  return found == records.end() ? NO_BOARD : found->second;
}

bool LoaderRecords::Set(const std::string& device, int32_t board) {
  const std::string key = DeviceKey(device);
  std::lock_guard<std::mutex> hold(lock_);
  unsaved_[key] = board;  // until the file has it
  if (file_.empty()) return true;  // kept in memory by design
  if (key.find_first_of("\r\n") != std::string::npos || device.find_first_of("\r\n") != std::string::npos) return false;

  std::error_code error;
  const std::filesystem::path target = PathFromUtf8(file_);
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), error);
  const FileLock exclusive(LockFile(), FileLock::Mode::Exclusive, true, WRITE_LOCK_WAIT);
  if (!exclusive.Held()) return false;
  Map records = Read();
  records.erase(device);  // a record under another name of the port gives way to the key's
  if (board == NO_BOARD) {
    records.erase(key);
  } else {
    records[key] = board;
  }
  if (!Write(records)) return false;
  unsaved_.erase(key);
  return true;
}
