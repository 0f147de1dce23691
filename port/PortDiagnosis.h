// Why a port could not be opened and what the user can do about it, for a
// front end that can say more than the window's "Comport cannot open!!".
// The platform's backend looks at the device without changing it.
#pragma once

#include <string>

#include "SerialPort.h"

enum class OpenFailureCause {
  NoSuchDevice,          // nothing at that path, or the device has gone
  PermissionDenied,      // this user may not open it
  HeldByAnotherProcess,  // another program (or another job of this one) has it
  ExclusiveLeftBehind,   // marked exclusive by a program that ended without clearing it; nobody has it
  Other,                 // none of those: not a serial port, an I/O error, ...
};

struct OpenFailure {
  OpenFailureCause Cause = OpenFailureCause::Other;
  std::string Detail;  // one line: what was found
  std::string Hint;    // one or more lines, separated by '\n': what to do
};

// Looks at devicePath after an open of it failed. Changes no setting of the
// device, keeps nothing open and leaves no lock behind. ports lists the ports
// that do exist, for the hint.
OpenFailure DiagnoseOpenFailure(const std::string& devicePath, PortFactory& ports);
