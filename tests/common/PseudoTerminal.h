// Test support: a pseudo-terminal as another program would find a port:
// cooked, echo on, the slave open nowhere; reached through a link in a COM
// folder, as the serial device map lists it.
#pragma once

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "OtherProgram.h"

namespace lumo_test {

class PseudoTerminal {
 public:
  enum SlaveLock {
    Unlocked,  // the slave opens as a port does
    Locked,    // unlockpt not called: opening the slave fails with EIO
  };

  explicit PseudoTerminal(const std::string& folder, const std::string& name = "COM5", SlaveLock lock = Unlocked) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char path[PATH_MAX] = {};
    if (master_ < 0 || grantpt(master_) != 0 || (lock == Unlocked && unlockpt(master_) != 0) ||
        ptsname_r(master_, path, sizeof path) != 0)
      return;
    slave_ = path;
    link_ = folder + "/" + name;
    unlink(link_.c_str());
    if (symlink(slave_.c_str(), link_.c_str()) != 0) link_.clear();
  }
  ~PseudoTerminal() {
    if (!link_.empty()) unlink(link_.c_str());
    if (master_ >= 0) close(master_);
  }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  bool Ok() const { return master_ >= 0 && !link_.empty(); }
  const std::string& Slave() const { return slave_; }
  const std::string& Link() const { return link_; }
  TerminalSettings Settings() const { return TerminalSettings::Of(master_); }
  int Master() const { return master_; }

 private:
  int master_ = -1;
  std::string slave_;
  std::string link_;
};

}  // namespace lumo_test
