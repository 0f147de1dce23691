// Where an installed tool keeps what it remembers.
#include <gtest/gtest.h>

#include <string>

#include "SettingsFolder.h"

namespace {

TEST(SettingsFolder, BesideTheExecutableWhenWritableElseTheUsersConfigurationFolder) {
  struct Case {
    const char* name;
    bool writable;
    const char* xdgConfigHome;
    const char* home;
    std::string expected;
  } cases[] = {
      {"a writable folder keeps its place", true, "/cfg", "/home/tech", "/opt/tool"},
      {"XDG_CONFIG_HOME first", false, "/cfg", "/home/tech", "/cfg/Lumo_DownloadTool"},
      {"else ~/.config", false, nullptr, "/home/tech", "/home/tech/.config/Lumo_DownloadTool"},
      {"an empty XDG_CONFIG_HOME counts as unset", false, "", "/home/tech", "/home/tech/.config/Lumo_DownloadTool"},
      {"a relative XDG_CONFIG_HOME is ignored", false, "cfg", "/home/tech", "/home/tech/.config/Lumo_DownloadTool"},
      {"nowhere else to go: the executable's folder", false, nullptr, nullptr, "/opt/tool"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ChooseSettingsFolder("/opt/tool", c.writable, XdgConfigFolder(c.xdgConfigHome, c.home)), c.expected);
  }
}

}  // namespace
