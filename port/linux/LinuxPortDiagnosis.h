// Internals of the Linux open-failure diagnosis, open to tests.
#pragma once

#include <sys/types.h>

#include <string>

#include "PortDiagnosis.h"

// What decides the advice for a device this user may not open.
struct DeviceAccess {
  std::string Device;
  std::string User;   // the user this process runs as: the name, else the uid
  std::string Owner;  // the device's owner: the name, else the uid
  std::string Group;  // the device's group: the name, else the gid
  bool UserIsOwner = false;
  bool OwnerMayReadWrite = false;
  bool GroupMayReadWrite = false;
  bool InGroupNow = false;      // this process has the group
  bool InGroupAtLogin = false;  // the group database lists the user in it
};

// The hint for a device whose open was refused with EACCES or EPERM.
std::string PermissionHint(const DeviceAccess& access);

// The file type and permission bits as ls shows them: "crw-rw----".
std::string ModeText(mode_t mode);

// What to do about a port marked exclusive (TIOCEXCL) that nobody holds: the
// mark outlives the program that set it while the device stays (a
// pseudo-terminal's provider keeps it; a real port until it goes away).
std::string ExclusiveLeftHint(const std::string& device, bool pseudoTerminal);
