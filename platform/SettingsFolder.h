// Where the tool keeps what it remembers (SavePath/: the saved image paths
// and the records of loaders left listening).
#pragma once

#include <string>

// The executable's own folder while this user may write there (a tool run
// from its build folder, an unpacked copy); otherwise, for an installed tool,
// userConfigFolder, the user's configuration folder for it, which the front
// end found from the environment (XdgConfigFolder, AppDataConfigFolder); the
// executable's folder still when that is empty. Creates nothing.
std::string SettingsFolder(const std::string& executableFolder, const std::string& userConfigFolder);

// The rule, with what the platform found: executableFolder when writable,
// else userConfigFolder.
std::string ChooseSettingsFolder(const std::string& executableFolder, bool executableFolderWritable,
                                 const std::string& userConfigFolder);

// The user's folder for this tool's configuration on a freedesktop system:
// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config, followed
// by "/Lumo_DownloadTool". Empty when neither is usable.
std::string XdgConfigFolder(const char* xdgConfigHome, const char* home);

#ifdef _WIN32
// The user's folder for this tool's configuration on Windows: $APPDATA
// followed by "\\Lumo_DownloadTool". Empty when APPDATA is not set (null).
std::string AppDataConfigFolder(const wchar_t* appData);
#endif
