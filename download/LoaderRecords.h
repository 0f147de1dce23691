// Which board's boot loader a job may have left listening on a port. The two
// boards' loaders answer alike, so a loader left listening by an unfinished
// job would take the other board's image; the record, kept across jobs and
// across runs of the tool, lets a job refuse to start instead.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

// Boards as the boot-loader download numbers them.
constexpr int32_t NO_BOARD = 0;
constexpr int32_t CAMERA_BOARD = 1;
constexpr int32_t CONTROL_BOARD = 2;

class LoaderRecords {
 public:
  // file: where the records are kept; empty keeps them in memory only.
  explicit LoaderRecords(std::string file = {});

  // The board whose loader may be listening on the device, or NO_BOARD. Any
  // name of the device finds its record (a COM link or the device path).
  int32_t Get(const std::string& device) const;
  // Records the board (NO_BOARD clears). True when the record is where later
  // runs will see it (in the file; always for an object without a file).
  // What cannot be written to the file is still kept for the life of this
  // object, and false tells that later runs will not know it.
  [[nodiscard]] bool Set(const std::string& device, int32_t board);

  const std::string& File() const { return file_; }

 private:
  using Map = std::map<std::string, int32_t>;
  Map Read() const;
  bool Write(const Map& records) const;
  std::string LockFile() const { return file_ + ".lock"; }

  std::string file_;
  mutable std::mutex lock_;
  Map unsaved_;  // by device key: changes the file did not take, board NO_BOARD meaning cleared
};
