// Where the tool keeps what it remembers (SavePath/: the saved image paths
// and the records of loaders left listening).
#pragma once

#include <string>

// The executable's own folder while this user may write there (a tool run
// from its build folder, an unpacked copy); otherwise, for an installed tool,
// the user's configuration folder for it (see UserConfigFolder). Creates
// nothing.
std::string SettingsFolder(const std::string& executableFolder);

// The rule, with what the platform found: executableFolder when writable,
// else userConfigFolder.
std::string ChooseSettingsFolder(const std::string& executableFolder, bool executableFolderWritable,
                                 const std::string& userConfigFolder);

// The user's folder for this tool's configuration on a freedesktop system:
// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config, followed
// by "/Lumo_DownloadTool". Empty when neither is usable.
std::string XdgConfigFolder(const char* xdgConfigHome, const char* home);
