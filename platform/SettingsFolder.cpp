#include "SettingsFolder.h"

namespace {
constexpr const char* TOOL_FOLDER = "/Lumo_DownloadTool";
}  // namespace

std::string ChooseSettingsFolder(const std::string& executableFolder, bool executableFolderWritable,
                                 const std::string& userConfigFolder) {
  if (executableFolderWritable || userConfigFolder.empty()) return executableFolder;
  return userConfigFolder;
}

std::string XdgConfigFolder(const char* xdgConfigHome, const char* home) {
  // A relative XDG_CONFIG_HOME is invalid and ignored, as the base directory rules say.
  if (xdgConfigHome && xdgConfigHome[0] == '/') return std::string(xdgConfigHome) + TOOL_FOLDER;
  if (home && home[0] == '/') return std::string(home) + "/.config" + TOOL_FOLDER;
  return {};
}
