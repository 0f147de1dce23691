// Where the port seam finds the ports and puts its lock files. The front end
// (the window's start-up, lumo-download, the bench) fills it in, from the
// environment, and hands it to the platform's factory; nothing below the
// front ends reads the environment for it.
#pragma once

#include <optional>
#include <string>

struct PortConfig {
  // A folder whose entries are the serial device map: each entry (a link to a
  // device node, or a node) is a port, named by the entry's file name. Unset:
  // the device nodes of /dev. Windows always lists the registry's ports.
  std::optional<std::string> ComFolder;
  // The one folder of UUCP lock files, ours and other programs'. Unset:
  // /run/lock, and /var/lock as well when it is another folder. Not used on
  // Windows, which has no lock files.
  std::optional<std::string> LockFolder;
};

// A folder setting from an environment variable's value as the front end
// read it: unset when the variable is missing or empty.
inline std::optional<std::string> FolderSetting(const char* value) {
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}
