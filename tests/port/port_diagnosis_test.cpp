// Why a port could not be opened and what to do, found on real devices:
// pseudo-terminals held by other processes in every way serial programs
// hold a port, paths that lead nowhere, devices this user may not open, and
// things that are no port. The diagnosis only looks: the port keeps its
// settings, nothing of it stays open, no lock file comes or goes.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "LinuxPortDiagnosis.h"
#include "OtherProgram.h"
#include "PortDiagnosis.h"
#include "PortHolders.h"
#include "PseudoTerminal.h"
#include "TestContext.h"

namespace {

using lumo_test::ComFolder;
using lumo_test::EndedProcessId;
using lumo_test::OtherProgram;
using lumo_test::PseudoTerminal;
using lumo_test::TerminalSettings;
using Strings = std::vector<std::string>;

const char* CauseName(OpenFailureCause cause) {
  switch (cause) {
    case OpenFailureCause::NoSuchDevice: return "NoSuchDevice";
    case OpenFailureCause::PermissionDenied: return "PermissionDenied";
    case OpenFailureCause::HeldByAnotherProcess: return "HeldByAnotherProcess";
    case OpenFailureCause::ExclusiveLeftBehind: return "ExclusiveLeftBehind";
    case OpenFailureCause::Other: return "Other";
  }
  return "?";
}

std::string Shown(const OpenFailure& f) {
  return std::string(CauseName(f.Cause)) + "\n  Detail: " + f.Detail + "\n  Hint: " + f.Hint;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Every part is in the text.
void ExpectAll(const std::string& text, const Strings& parts, const char* what) {
  for (const std::string& part : parts) {
    EXPECT_TRUE(Contains(text, part)) << what << " lacks '" << part << "':\n" << text;
  }
}

// A lock folder of the test's own and a COM folder, the ports' config.
class Diagnosis : public ::testing::Test {
 protected:
  OpenFailure Diagnose(const std::string& path) { return DiagnoseOpenFailure(path, *ports); }

  // LCK..<name of the node the path leads to>
  std::string LockFileOf(const std::string& device) const {
    char resolved[PATH_MAX] = {};
    if (!realpath(device.c_str(), resolved)) return locks.Path() + "/LCK..?";
    return locks.Path() + "/LCK.." + std::string(std::strrchr(resolved, '/') + 1);
  }
  Strings LockFiles() const {
    Strings names;
    if (DIR* dir = opendir(locks.Path().c_str())) {
      while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] != '.') names.emplace_back(e->d_name);
      }
      closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  ComFolder locks;
  ComFolder com;
  std::unique_ptr<PortFactory> ports = MakePlatformPortFactory({com.Path(), locks.Path()});
};

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string Ascii(pid_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return text;
}

// The command name this test's processes run under; a forked child has it too.
std::string OwnProcessName() {
  std::ifstream in("/proc/self/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

std::string Holder(pid_t pid) { return OwnProcessName() + " (pid " + std::to_string(pid) + ")"; }

// How many descriptors of this process are open on the device.
int OwnDescriptorsOn(const std::string& device) {
  struct stat target {};
  if (stat(device.c_str(), &target) != 0) return -1;
  int count = 0;
  DIR* fds = opendir("/proc/self/fd");
  if (!fds) return -1;
  while (const dirent* e = readdir(fds)) {
    struct stat st {};
    const std::string path = std::string("/proc/self/fd/") + e->d_name;
    if (e->d_name[0] != '.' && stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == target.st_rdev)
      ++count;
  }
  closedir(fds);
  return count;
}

// An flock taken through a descriptor of this process.
struct OwnLock {
  explicit OwnLock(const std::string& path) : fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    locked = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
  }
  ~OwnLock() {
    if (fd >= 0) close(fd);
  }
  int fd;
  bool locked = false;
};

std::shared_ptr<void> Other(const std::string& path, OtherProgram::Use use, pid_t& pid) {
  auto other = std::make_shared<OtherProgram>(path, use);
  EXPECT_TRUE(other->Holding());
  pid = other->Pid();
  return other;
}

struct Holding {
  std::shared_ptr<void> keep;  // what holds the port while the case runs
  Strings detail;              // parts the Detail names
  Strings hint;                // parts the Hint names
};

struct HeldCase {
  const char* name;
  std::function<Holding(const PseudoTerminal&, const std::string& lockFile)> setUp;
};

const HeldCase kHeldCases[] = {
    {"another program holds an flock on it",
     [](const PseudoTerminal& port, const std::string&) {
       pid_t pid = 0;
       auto keep = Other(port.Slave(), OtherProgram::Flock, pid);
       return Holding{keep, {port.Link() + " is held by ", Holder(pid)}, {"Close that program"}};
     }},
    {"another program set exclusive mode",
     [](const PseudoTerminal& port, const std::string&) {
       pid_t pid = 0;
       auto keep = Other(port.Slave(), OtherProgram::Exclusive, pid);
       return Holding{keep, {Holder(pid)}, {"Close that program"}};
     }},
    {"another program has it open, with no lock of any kind",
     [](const PseudoTerminal& port, const std::string&) {
       pid_t pid = 0;
       auto keep = Other(port.Slave(), OtherProgram::Open, pid);
       return Holding{keep, {Holder(pid)}, {"Close that program"}};
     }},
    {"the lock file of a running program that does not have the port open",
     [](const PseudoTerminal&, const std::string& lockFile) {
       pid_t pid = 0;
       auto keep = Other("", OtherProgram::Runs, pid);
       WriteFile(lockFile, Ascii(pid));
       return Holding{keep, {Holder(pid) + ", named by the lock file " + lockFile},
                    {"Close that program", "remove " + lockFile}};
     }},
    {"the lock file of the program that has the port open: named once",
     [](const PseudoTerminal& port, const std::string& lockFile) {
       pid_t pid = 0;
       auto keep = Other(port.Slave(), OtherProgram::Flock, pid);
       WriteFile(lockFile, Ascii(pid));
       return Holding{keep, {port.Link() + " is held by " + Holder(pid) + "\n"}, {"Close that program"}};
     }},
    {"a lock file just made, with no PID in it yet",
     [](const PseudoTerminal&, const std::string& lockFile) {
       WriteFile(lockFile, "");
       return Holding{nullptr, {"the lock file " + lockFile + ", which names no process yet"}, {"wait a moment"}};
     }},
    {"this program holds an flock through another descriptor",
     [](const PseudoTerminal& port, const std::string&) {
       auto own = std::make_shared<OwnLock>(port.Slave());
       EXPECT_TRUE(own->locked);
       return Holding{own, {"this program (pid " + std::to_string(getpid()) + ")"}, {"open already"}};
     }},
};

}  // namespace

TEST_F(Diagnosis, HeldPortNamesEachHolder) {
  for (const HeldCase& c : kHeldCases) {
    SCOPED_TRACE(c.name);
    PseudoTerminal port(com.Path());
    ASSERT_TRUE(port.Ok());
    const TerminalSettings before = port.Settings();
    Holding holding = c.setUp(port, LockFileOf(port.Link()));
    const Strings lockFiles = LockFiles();
    const int ownDescriptors = OwnDescriptorsOn(port.Slave());

    const OpenFailure failure = Diagnose(port.Link());

    EXPECT_EQ(failure.Cause, OpenFailureCause::HeldByAnotherProcess) << Shown(failure);
    // "\n" in a part marks the end of the Detail: nothing more is named.
    ExpectAll(failure.Detail + "\n", holding.detail, "Detail");
    ExpectAll(failure.Hint, holding.hint, "Hint");
    EXPECT_EQ(failure.Detail.find('\n'), std::string::npos) << "the Detail is one line";
    EXPECT_TRUE(port.Settings() == before) << "the diagnosis changed the port's settings";
    EXPECT_EQ(LockFiles(), lockFiles);
    EXPECT_EQ(OwnDescriptorsOn(port.Slave()), ownDescriptors) << "the diagnosis kept the port open";
  }
}

// A port that nothing holds, or only the lock file of a program that has
// ended: the diagnosis finds no cause, and the left-over file stays (only a
// job that takes the port replaces it).
TEST_F(Diagnosis, NothingHoldsThePortNow) {
  for (bool staleLockFile : {false, true}) {
    SCOPED_TRACE(staleLockFile ? "a lock file of a program that has ended" : "no lock file");
    PseudoTerminal port(com.Path());
    ASSERT_TRUE(port.Ok());
    const std::string lockFile = LockFileOf(port.Link());
    if (staleLockFile) WriteFile(lockFile, Ascii(EndedProcessId()));
    const Strings lockFiles = LockFiles();

    const OpenFailure failure = Diagnose(port.Link());

    EXPECT_EQ(failure.Cause, OpenFailureCause::Other) << Shown(failure);
    EXPECT_EQ(failure.Detail, port.Link() + " opens now and nothing holds it");
    EXPECT_EQ(LockFiles(), lockFiles);
    EXPECT_EQ(OwnDescriptorsOn(port.Slave()), 0);
    if (staleLockFile) unlink(lockFile.c_str());
  }
}

// A path that leads nowhere: the hint lists the ports that are there, with
// their names and devices, and leaves out an entry whose device is gone.
TEST_F(Diagnosis, NoSuchDeviceListsThePortsThatExist) {
  PseudoTerminal com5(com.Path(), "COM5"), com6(com.Path(), "COM6");
  ASSERT_TRUE(com5.Ok() && com6.Ok());
  const std::string gone = com.Path() + "/COM12";
  ASSERT_EQ(symlink("/dev/pts/lumo-gone", gone.c_str()), 0);
  const Strings listed{"Ports that exist now:\n  COM5 ", com5.Link() + " (" + com5.Slave() + ")\n  COM6 ",
                       com6.Link() + " (" + com6.Slave() + ")"};
  const struct {
    const char* name;
    std::string path;
    std::string detail;
  } cases[] = {
      {"a port the map does not have", com.Path() + "/COM7", com.Path() + "/COM7 does not exist"},
      {"a device path that does not exist", "/dev/ttyUSB-lumo-none", "/dev/ttyUSB-lumo-none does not exist"},
      {"a folder in the path that is a file", com5.Slave() + "/x", com5.Slave() + "/x: Not a directory"},
      {"a link whose device has gone", gone, gone + " is a link to /dev/pts/lumo-gone, which does not exist"},
      {"no path at all", "", "No device was named for the port"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const OpenFailure failure = Diagnose(c.path);
    EXPECT_EQ(failure.Cause, OpenFailureCause::NoSuchDevice) << Shown(failure);
    EXPECT_EQ(failure.Detail, c.detail);
    ExpectAll(failure.Hint, listed, "Hint");
    EXPECT_FALSE(Contains(failure.Hint, "COM12")) << failure.Hint;
  }
}

TEST_F(Diagnosis, NoSuchDeviceWhenThereAreNoPorts) {
  const struct {
    const char* name;
    std::string comFolder;
    std::string hint;
  } cases[] = {
      {"an empty map", com.Path(), "No serial port exists now."},
      {"a map that cannot be read", com.Path() + "/missing", "The list of ports cannot be read."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const OpenFailure failure =
        DiagnoseOpenFailure(com.Path() + "/COM3", *MakePlatformPortFactory({c.comFolder, locks.Path()}));
    EXPECT_EQ(failure.Cause, OpenFailureCause::NoSuchDevice) << Shown(failure);
    ExpectAll(failure.Hint, {c.hint}, "Hint");
  }
}

// Things that are there but are no port, or a port that fails to open for
// a reason of its own: the Detail says what and where.
TEST_F(Diagnosis, OtherCausesNameThePathAndWhatWasFound) {
  PseudoTerminal locked(com.Path(), "COM8", PseudoTerminal::Locked);
  ASSERT_TRUE(locked.Ok());
  const std::string file = com.Path() + "/notes.txt";
  WriteFile(file, "not a port");
  ASSERT_EQ(chmod(file.c_str(), 0644), 0);
  const struct {
    const char* name;
    std::string path;
    std::string detail;
  } cases[] = {
      {"a device that is no terminal", "/dev/null", "/dev/null is not a serial port (no terminal)"},
      {"a plain file", file, file + " is no device (-rw-r--r--)"},
      {"a device that fails with an I/O error", locked.Link(),
       "opening " + locked.Link() + " failed: Input/output error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const OpenFailure failure = Diagnose(c.path);
    EXPECT_EQ(failure.Cause, OpenFailureCause::Other) << Shown(failure);
    EXPECT_EQ(failure.Detail, c.detail);
  }
}

namespace {

// Runs the diagnosis where file permissions bind: as root, in a child that
// has become the user nobody (root opens any device whatever its mode);
// else in this process. The user it ran as goes to user.
std::optional<OpenFailure> DiagnoseUnprivileged(const std::string& path, PortFactory& ports, std::string& user) {
  if (geteuid() != 0) {
    user = getpwuid(geteuid())->pw_name;
    return DiagnoseOpenFailure(path, ports);
  }
  const passwd* nobody = getpwnam("nobody");
  if (!nobody) return std::nullopt;
  user = nobody->pw_name;
  const uid_t uid = nobody->pw_uid;
  const gid_t gid = nobody->pw_gid;
  int result[2];
  if (pipe2(result, O_CLOEXEC) != 0) return std::nullopt;
  const pid_t child = fork();
  if (child == 0) {
    close(result[0]);
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) _exit(1);
    const OpenFailure f = DiagnoseOpenFailure(path, ports);
    const std::string text = std::to_string(static_cast<int>(f.Cause)) + '\0' + f.Detail + '\0' + f.Hint;
    const bool sent = write(result[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
    _exit(sent ? 0 : 1);
  }
  close(result[1]);
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(result[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  close(result[0]);
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return std::nullopt;
  const size_t first = text.find('\0');
  const size_t second = text.find('\0', first + 1);
  if (first == std::string::npos || second == std::string::npos) return std::nullopt;
  return OpenFailure{static_cast<OpenFailureCause>(std::stoi(text.substr(0, first))),
                     text.substr(first + 1, second - first - 1), text.substr(second + 1)};
}

std::string GroupOf(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  const group* g = getgrgid(st.st_gid);
  return g ? g->gr_name : std::to_string(st.st_gid);
}

}  // namespace

// A device this user may not open: the Detail names its owner, group and
// mode; the Hint names the user. As root the check runs as nobody on a port
// of group dialout that the group may use, as a USB adapter's port is; as
// an ordinary user the port's mode shuts its owner out.
TEST_F(Diagnosis, PermissionDeniedNamesGroupModeAndUser) {
  ASSERT_EQ(chmod(com.Path().c_str(), 0755), 0);  // the COM folder, to the user the check runs as
  PseudoTerminal port(com.Path());
  ASSERT_TRUE(port.Ok());
  const bool root = geteuid() == 0;
  if (root) {
    const group* dialout = getgrnam("dialout");
    // Debian's base-passwd always defines it: the group a serial port belongs to.
    ASSERT_NE(dialout, nullptr) << "no group dialout";
    ASSERT_EQ(chown(port.Slave().c_str(), static_cast<uid_t>(-1), dialout->gr_gid), 0);
  }
  ASSERT_EQ(chmod(port.Slave().c_str(), root ? 0660 : 0000), 0);
  std::string user;

  const auto failure = DiagnoseUnprivileged(port.Link(), *ports, user);

  ASSERT_TRUE(failure.has_value()) << "the check did not run";
  EXPECT_EQ(failure->Cause, OpenFailureCause::PermissionDenied) << Shown(*failure);
  ExpectAll(failure->Detail,
            {"Permission denied opening " + port.Link() + " (" + port.Slave() + ")", "group " + GroupOf(port.Slave()),
             root ? "crw-rw----" : "c---------"},
            "Detail");
  ExpectAll(failure->Hint, {"User " + user}, "Hint");
  if (root) ExpectAll(failure->Hint, {"sudo usermod -aG dialout nobody", "log out and in again"}, "Hint");
}

// A holder this user cannot see in /proc (another user's program): the port
// is still found held, by its lock or its exclusive mode, and the hint says
// how to find out who. Needs another user: runs as root only.
TEST_F(Diagnosis, HolderThisUserMayNotSee) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to hold a port as one user and look as another";
  ASSERT_EQ(chmod(com.Path().c_str(), 0755), 0);
  for (OtherProgram::Use use : {OtherProgram::Flock, OtherProgram::Exclusive}) {
    SCOPED_TRACE(use == OtherProgram::Flock ? "by an flock" : "in exclusive mode");
    PseudoTerminal port(com.Path());
    ASSERT_TRUE(port.Ok());
    ASSERT_EQ(chmod(port.Slave().c_str(), 0666), 0);
    OtherProgram other(port.Slave(), use);
    ASSERT_TRUE(other.Holding());
    std::string user;

    const auto failure = DiagnoseUnprivileged(port.Link(), *ports, user);

    ASSERT_TRUE(failure.has_value()) << "the check did not run";
    EXPECT_EQ(failure->Cause, OpenFailureCause::HeldByAnotherProcess) << Shown(*failure);
    EXPECT_EQ(failure->Detail, port.Link() + " is held by another process that this user may not see");
    ExpectAll(failure->Hint, {"sudo fuser -v " + port.Link()}, "Hint");
  }
}

// A program that set exclusive mode and ended without clearing it (killed)
// leaves the mark on a pseudo-terminal whose master lives on. Nobody holds
// the port: the diagnosis says so and names no holder, where it can see
// every process; a user who cannot is told to look, and what the mark means
// if nobody is found. The diagnosis leaves the mark as it found it.
TEST_F(Diagnosis, ExclusiveMarkThatNobodyHolds) {
  ASSERT_EQ(chmod(com.Path().c_str(), 0755), 0);
  PseudoTerminal port(com.Path());
  ASSERT_TRUE(port.Ok());
  ASSERT_EQ(chmod(port.Slave().c_str(), 0666), 0);  // for the check as another user
  {
    OtherProgram marker(port.Slave(), OtherProgram::Exclusive);
    ASSERT_TRUE(marker.Holding());
  }  // it has ended, its descriptor closed, the mark not cleared
  const Strings leftBehind{"A program that ended without clearing the mark left it so",
                           "pseudo-terminal: restart the program that provides it", "termios.TIOCNXCL",
                           "os.open(\"" + port.Slave() + "\""};

  const OpenFailure failure = Diagnose(port.Link());

  if (SeesEveryProcess()) {
    EXPECT_EQ(failure.Cause, OpenFailureCause::ExclusiveLeftBehind) << Shown(failure);
    EXPECT_EQ(failure.Detail, port.Link() + " is marked exclusive (TIOCEXCL) but no process holds it");
    ExpectAll(failure.Hint, leftBehind, "Hint");
    EXPECT_FALSE(Contains(failure.Hint, "Close")) << failure.Hint;
  }
  if (geteuid() == 0) {
    const int fd = open(port.Slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    int mark = 0;
    EXPECT_EQ(ioctl(fd, TIOCGEXCL, &mark), 0);
    close(fd);
    EXPECT_NE(mark, 0) << "the diagnosis cleared the mark";
  }

  std::string user;
  const auto unprivileged = DiagnoseUnprivileged(port.Link(), *ports, user);
  ASSERT_TRUE(unprivileged.has_value()) << "the check did not run";
  if (geteuid() == 0) {  // nobody cannot see root's processes
    EXPECT_EQ(unprivileged->Cause, OpenFailureCause::HeldByAnotherProcess) << Shown(*unprivileged);
    EXPECT_EQ(unprivileged->Detail, port.Link() + " is held by another process that this user may not see");
    ExpectAll(unprivileged->Hint, Strings{"sudo fuser -v " + port.Link(), "If it shows none"}, "Hint");
    ExpectAll(unprivileged->Hint, leftBehind, "Hint");
  }
}

// What to do about a mark nobody holds depends on what keeps the device.
TEST(ExclusiveLeftHint, PseudoTerminalOrRealPort) {
  const struct {
    const char* name;
    bool pseudoTerminal;
    Strings says;
    Strings saysNot;
  } cases[] = {
      {"a pseudo-terminal", true, {"restart the program that provides it"}, {"adapter"}},
      {"a real port", false, {"Unplug the port's adapter and plug it in again, or restart the computer"}, {"pseudo"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string hint = ExclusiveLeftHint("/dev/ttyUSB0", c.pseudoTerminal);
    ExpectAll(hint, c.says, "Hint");
    ExpectAll(hint, {"clear the mark as root", "os.open(\"/dev/ttyUSB0\"", "termios.TIOCNXCL"}, "Hint");
    for (const std::string& part : c.saysNot) EXPECT_FALSE(Contains(hint, part)) << "'" << part << "' in:\n" << hint;
  }
}

// The advice for a refused open, by what the user and the device's mode allow.
TEST(PermissionHint, AdviceFollowsOwnerGroupAndMembership) {
  struct Case {
    const char* name;
    DeviceAccess access;
    Strings says;
    Strings saysNot;
  };
  auto access = [](auto change) {
    DeviceAccess a;
    a.Device = "/dev/ttyUSB0";
    a.User = "alice";
    a.Owner = "root";
    a.Group = "dialout";
    a.OwnerMayReadWrite = true;
    a.GroupMayReadWrite = true;
    change(a);
    return a;
  };
  const Case cases[] = {
      {"not in the group",
       access([](DeviceAccess&) {}),
       {"User alice is not in group dialout", "sudo usermod -aG dialout alice", "log out and in again",
        "newgrp dialout"},
       {}},
      {"in the group since this session began",
       access([](DeviceAccess& a) { a.InGroupAtLogin = true; }),
       {"User alice is in group dialout", "log out and in again", "newgrp dialout"},
       {"usermod"}},
      {"in the group already: something else refuses",
       access([](DeviceAccess& a) { a.InGroupAtLogin = a.InGroupNow = true; }),
       {"User alice is in group dialout", "access control list"},
       {"usermod", "newgrp"}},
      {"the group may not read and write: joining it does not help",
       access([](DeviceAccess& a) {
         a.Group = "tty";
         a.Owner = "bob";
         a.GroupMayReadWrite = false;
       }),
       {"Group tty may not read and write /dev/ttyUSB0", "only user bob and root may open it"},
       {"usermod", "newgrp"}},
      {"owned by root, the group may not",
       access([](DeviceAccess& a) { a.GroupMayReadWrite = false; }),
       {"only root may open it"},
       {"usermod", "user root"}},
      {"the group is root's: no advice to join it",
       access([](DeviceAccess& a) { a.Group = "root"; }),
       {"User alice may not open /dev/ttyUSB0, which belongs to group root", "udev rule"},
       {"usermod", "newgrp"}},
      {"the user's own device with a mode that shuts the owner out",
       access([](DeviceAccess& a) {
         a.Owner = "alice";
         a.UserIsOwner = true;
         a.OwnerMayReadWrite = false;
       }),
       {"User alice owns /dev/ttyUSB0", "chmod u+rw /dev/ttyUSB0"},
       {"usermod"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string hint = PermissionHint(c.access);
    ExpectAll(hint, c.says, "Hint");
    for (const std::string& part : c.saysNot) EXPECT_FALSE(Contains(hint, part)) << "'" << part << "' in:\n" << hint;
  }
}
