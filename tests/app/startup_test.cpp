// What the tool takes from its command line (--trace FILE, and nothing else)
// and from its environment (the folders of the ports, the lock files and the
// user's configuration).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "Startup.h"
#include "TempFolder.h"
#include "TestPortConfig.h"

namespace {

struct ArgumentsCase {
  const char* Name;
  std::vector<std::string> Arguments;  // after the program's name
  std::string TracePath;
};

const ArgumentsCase CASES[] = {
    {"no argument", {}, ""},
    {"a trace", {"--trace", "wire.txt"}, "wire.txt"},
    {"a trace among arguments of Qt and unknown ones",
     {"-platform", "offscreen", "--trace", "/tmp/a trace.txt", "--verbose", "COM3"},
     "/tmp/a trace.txt"},
    {"the last trace counts", {"--trace", "first.txt", "--trace", "second.txt"}, "second.txt"},
    {"a trace without its file", {"--trace"}, ""},
    {"another spelling is just unknown", {"--trace=wire.txt", "-trace", "wire.txt", "--TRACE", "wire.txt"}, ""},
    {"unknown arguments", {"--help", "x"}, ""},
};

TEST(Startup, ReadsTheTraceFileAndIgnoresEverythingElse) {
  for (const ArgumentsCase& c : CASES) {
    SCOPED_TRACE(c.Name);
    std::vector<std::string> storage = {"/opt/lumo/Lumo_DownloadTool"};
    storage.insert(storage.end(), c.Arguments.begin(), c.Arguments.end());
    std::vector<char*> argv;
    for (std::string& s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);
    const std::vector<std::string> before = storage;
    EXPECT_EQ(ReadStartupOptions(static_cast<int>(storage.size()), argv.data()).TracePath, c.TracePath);
    EXPECT_EQ(storage, before) << "the arguments were changed";
  }
}

// Without a trace the form takes the platform's ports as it always did; with
// one it gets the tracing seam, and a file that cannot be made is told.
StartupOptions TraceTo(const std::string& path) {
  StartupOptions options;
  options.TracePath = path;
  options.Ports = lumo_test::TestPortConfig();
  return options;
}

TEST(Startup, TheWindowsPortsFollowTheOptions) {
  WindowPorts plain(TraceTo(""));
  EXPECT_FALSE(plain.Traced());
  EXPECT_FALSE(plain.TraceFailed());
  EXPECT_TRUE(plain.CloseTrace());

  WindowPorts unwritable(TraceTo("/nonexistent-folder/wire.txt"));
  EXPECT_TRUE(unwritable.TraceFailed());
  EXPECT_TRUE(unwritable.Traced());
}

// A trace replaces its file: one that is an image the window offers (by a
// link or the same name) is not made, and the image keeps its bytes.
TEST(Startup, ATraceThatIsAnImageIsNotMade) {
  lumo_test::TempFolder folder;
  const std::string image = folder.File("cm.bin"), other = folder.File("motor.bin");
  std::ofstream(image) << "the camera board's image";
  std::ofstream(other) << "the control board's image";
  const std::string link = folder.File("wire.txt");
  std::filesystem::create_symlink(image, link);
  {
    WindowPorts ports(TraceTo(link), {"", other, image});
    EXPECT_EQ(ports.TraceIsImage(), image);
    EXPECT_FALSE(ports.Traced()) << "the window runs without a trace";
    EXPECT_FALSE(ports.TraceFailed());
    EXPECT_TRUE(ports.CloseTrace());
  }
  std::ifstream in(image);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
            "the camera board's image");

  WindowPorts elsewhere(TraceTo(folder.File("trace.txt")), {image, other});
  EXPECT_EQ(elsewhere.TraceIsImage(), "");
  EXPECT_TRUE(elsewhere.Traced());
}

// The window's start-up is the one reader of the environment: a variable that
// is missing or empty leaves its folder unset (the system's own).
TEST(Startup, FoldersFromTheEnvironment) {
  const char* const names[] = {"LUMO_COMPORT_DIR", "LUMO_LOCK_DIR", "XDG_CONFIG_HOME", "HOME"};
  std::vector<std::optional<std::string>> saved;
  for (const char* name : names) {
    const char* value = std::getenv(name);
    saved.push_back(value ? std::optional<std::string>(value) : std::nullopt);
  }
  struct Case {
    const char* Name;
    std::optional<std::string> Values[4];  // as names; nullopt: not set
    std::optional<std::string> ComFolder, LockFolder;
    std::string UserConfigFolder;
  } cases[] = {
      {"nothing set", {std::nullopt, std::nullopt, std::nullopt, std::nullopt}, std::nullopt, std::nullopt, ""},
      {"empty values count as unset", {"", "", "", "/home/tech"}, std::nullopt, std::nullopt,
       "/home/tech/.config/Lumo_DownloadTool"},
      {"every folder given", {"/tmp/com", "/tmp/locks", "/cfg", "/home/tech"}, "/tmp/com", "/tmp/locks",
       "/cfg/Lumo_DownloadTool"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    for (size_t i = 0; i < 4; ++i) {
      if (c.Values[i]) {
        setenv(names[i], c.Values[i]->c_str(), 1);
      } else {
        unsetenv(names[i]);
      }
    }
    StartupOptions options;
    options.TracePath = "wire.txt";
    ReadStartupEnvironment(options);
    EXPECT_EQ(options.Ports.ComFolder, c.ComFolder);
    EXPECT_EQ(options.Ports.LockFolder, c.LockFolder);
    EXPECT_EQ(options.UserConfigFolder, c.UserConfigFolder);
    EXPECT_EQ(options.TracePath, "wire.txt") << "the command line's part was changed";
  }
  for (size_t i = 0; i < 4; ++i) {
    if (saved[i]) {
      setenv(names[i], saved[i]->c_str(), 1);
    } else {
      unsetenv(names[i]);
    }
  }
}

}  // namespace
