// How the tool tells a free port from one another program holds, without
// touching it, and how it marks the port it holds during a job so that other
// serial programs see it busy: flock, exclusive mode, UUCP lock files, /proc.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "OtherProgram.h"
#include "PortHolders.h"
#include "PseudoTerminal.h"
#include "SerialLink.h"
#include "LinuxSerialPort.h"
#include "SerialPort.h"
#include "TestContext.h"

namespace {

using lumo_test::ComFolder;
using lumo_test::EndedProcessId;
using lumo_test::OtherProgram;
using Port = lumo_test::PseudoTerminal;
using lumo_test::TerminalSettings;
using lumo_test::TestJob;
using Strings = std::vector<std::string>;

// A lock folder of the test's own, for the ports' config.
class LockFolder {
 public:
  const std::string& Path() const { return folder_.Path(); }
  // The config that puts lock files here.
  PortConfig Config() const { return {std::nullopt, Path()}; }

  // LCK..<name of the device node the path leads to>
  std::string FileOf(const std::string& device) const {
    char resolved[PATH_MAX] = {};
    if (!realpath(device.c_str(), resolved)) return Path() + "/LCK..?";
    return Path() + "/LCK.." + std::string(std::strrchr(resolved, '/') + 1);
  }
  void Write(const std::string& file, const std::string& content) const {
    std::ofstream(file, std::ios::binary) << content;
  }
  std::optional<std::string> Read(const std::string& file) const {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  Strings Files() const {
    Strings names;
    if (DIR* dir = opendir(Path().c_str())) {
      while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] != '.') names.emplace_back(e->d_name);
      }
      closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  ComFolder folder_;
};

std::string AsciiPid(pid_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return text;
}

std::string BinaryPid(pid_t pid) {
  const int32_t value = pid;
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

// Exclusive mode set through a descriptor of this process, which the /proc
// scan passes over.
struct OwnExclusiveDescriptor {
  explicit OwnExclusiveDescriptor(const std::string& path)
      : fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    set = fd >= 0 && ioctl(fd, TIOCEXCL) == 0;
  }
  ~OwnExclusiveDescriptor() {
    if (fd >= 0) {
      ioctl(fd, TIOCNXCL);
      close(fd);
    }
  }
  int fd;
  bool set = false;
};

template <typename T>
std::shared_ptr<void> Keep(std::shared_ptr<T> thing) {
  return std::static_pointer_cast<void>(thing);
}

std::shared_ptr<void> Other(const Port& port, OtherProgram::Use use) {
  auto other = std::make_shared<OtherProgram>(port.Slave(), use);
  EXPECT_TRUE(other->Holding());
  return Keep(other);
}

// A running program whose PID a lock file names, in the given form.
std::shared_ptr<void> LockOfRunning(const LockFolder& locks, const std::string& file,
                                    std::string (*form)(pid_t)) {
  auto other = std::make_shared<OtherProgram>("", OtherProgram::Runs);
  EXPECT_TRUE(other->Holding());
  locks.Write(file, form(other->Pid()));
  return Keep(other);
}

struct ProbeCase {
  const char* name;
  std::function<std::shared_ptr<void>(const Port&, const LockFolder&)> setUp;
  bool free;
};

const ProbeCase kProbeCases[] = {
    {"nobody uses it", nullptr, true},
    {"another program has it open, with no lock of any kind",
     [](const Port& port, const LockFolder&) { return Other(port, OtherProgram::Open); }, false},
    {"another program holds an flock on it",
     [](const Port& port, const LockFolder&) { return Other(port, OtherProgram::Flock); }, false},
    {"another program set exclusive mode",
     [](const Port& port, const LockFolder&) { return Other(port, OtherProgram::Exclusive); }, false},
    {"exclusive mode, whoever set it",
     [](const Port& port, const LockFolder&) {
       auto own = std::make_shared<OwnExclusiveDescriptor>(port.Slave());
       EXPECT_TRUE(own->set);
       return Keep(own);
     },
     false},
    {"a lock file of a running program, ten ASCII digits",
     [](const Port& port, const LockFolder& locks) {
       return LockOfRunning(locks, locks.FileOf(port.Link()), AsciiPid);
     },
     false},
    {"a lock file of a running program, ASCII without padding",
     [](const Port& port, const LockFolder& locks) {
       return LockOfRunning(locks, locks.FileOf(port.Link()),
                            [](pid_t pid) { return std::to_string(pid) + "\n"; });
     },
     false},
    {"a lock file of a running program, binary",
     [](const Port& port, const LockFolder& locks) {
       return LockOfRunning(locks, locks.FileOf(port.Link()), BinaryPid);
     },
     false},
    {"a lock file just made, with no PID in it yet",
     [](const Port& port, const LockFolder& locks) {
       locks.Write(locks.FileOf(port.Link()), "");
       return std::shared_ptr<void>();
     },
     false},
    {"a lock file of a program that has ended",
     [](const Port& port, const LockFolder& locks) {
       locks.Write(locks.FileOf(port.Link()), AsciiPid(EndedProcessId()));
       return std::shared_ptr<void>();
     },
     true},
    {"a lock file of another port",
     [](const Port&, const LockFolder& locks) {
       return LockOfRunning(locks, locks.Path() + "/LCK..ttyS99", AsciiPid);
     },
     true},
};

}  // namespace

// The probe decides from what others have left on the port and leaves it as
// it found it: the same settings, no lock file, no flock, no exclusive mode.
TEST(PortProbe, FreeOnlyWhenNoOtherProgramHoldsIt) {
  for (const ProbeCase& c : kProbeCases) {
    SCOPED_TRACE(c.name);
    LockFolder locks;
    ComFolder com;
    Port port(com.Path());
    ASSERT_TRUE(port.Ok());
    const TerminalSettings before = port.Settings();
    ASSERT_TRUE(before.valid);
    ASSERT_TRUE(before.Echo() && before.Canonical());
    std::shared_ptr<void> held = c.setUp ? c.setUp(port, locks) : nullptr;
    const Strings lockFiles = locks.Files();

    EXPECT_EQ(ProbeLinuxSerialPort(port.Link(), locks.Config()), c.free);

    EXPECT_TRUE(port.Settings() == before) << "the probe changed the port's settings";
    EXPECT_EQ(locks.Files(), lockFiles);
    held.reset();
    if (c.free) {
      // No mark of the probe's is left: the port opens for exclusive use.
      EXPECT_NE(OpenLinuxSerialPort(port.Link(), locks.Config()), nullptr);
    }
  }
}

TEST(PortProbe, OnlyTerminalsAreFree) {
  for (const char* path : {"/nonexistent/ttyS0", "/dev/null", "/proc/self/status"}) {
    EXPECT_FALSE(ProbeLinuxSerialPort(path, lumo_test::TestPortConfig())) << path;
  }
}

// While the job holds its port, other programs see it busy by every mark;
// when the job lets it go, no mark is left.
TEST(PortMarks, JobMarksItsPortWhileItHoldsIt) {
  LockFolder locks;
  ComFolder com;
  sim::SimOptions options;
  options.ComDir = com.Path();
  options.ComNumber = 7;
  const std::unique_ptr<PortFactory> ports = MakePlatformPortFactory(locks.Config());
  TestJob job(options, 9600, ports.get());
  const std::string file = locks.FileOf(job.unit.SlavePath());
  ASSERT_EQ(job.OpenThroughComFolder(com.Path()), 0);

  EXPECT_EQ(locks.Read(file), AsciiPid(getpid()));
  EXPECT_FALSE(OtherProgram(job.unit.SlavePath(), OtherProgram::Flock).Holding());
  EXPECT_FALSE(ProbeLinuxSerialPort(job.unit.ComLinkPath(), locks.Config()));

  EXPECT_EQ((ComPortClose(&job.form.Link), 0), 0);
  EXPECT_EQ(locks.Read(file), std::nullopt);
  EXPECT_TRUE(OtherProgram(job.unit.SlavePath(), OtherProgram::Flock).Holding());
  EXPECT_TRUE(ProbeLinuxSerialPort(job.unit.ComLinkPath(), locks.Config()));
}

// The job's open against the lock files other programs leave.
TEST(PortMarks, JobOpenHonoursLockFiles) {
  enum After { Untouched, Gone };
  struct Case {
    const char* name;
    std::function<std::shared_ptr<void>(const LockFolder&, const std::string& file)> setUp;
    int32_t result;
    Strings messages;
    After fileAfterwards;  // the port's lock file once the job has let the port go
  } cases[] = {
      {"a lock file of a running program", [](const LockFolder& l, const std::string& f) {
         return LockOfRunning(l, f, AsciiPid);
       },
       -1, {"Comport cannot open!!"}, Untouched},
      {"the same in binary form", [](const LockFolder& l, const std::string& f) {
         return LockOfRunning(l, f, BinaryPid);
       },
       -1, {"Comport cannot open!!"}, Untouched},
      {"a lock file of a program that has ended: replaced by ours",
       [](const LockFolder& l, const std::string& f) {
         l.Write(f, AsciiPid(EndedProcessId()));
         return std::shared_ptr<void>();
       },
       0, {}, Gone},
      {"a lock file of another port", [](const LockFolder& l, const std::string&) {
         return LockOfRunning(l, l.Path() + "/LCK..ttyS99", AsciiPid);
       },
       0, {}, Gone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LockFolder locks;
    ComFolder com;
    sim::SimOptions options;
    options.ComDir = com.Path();
    options.ComNumber = 7;
    const std::unique_ptr<PortFactory> ports = MakePlatformPortFactory(locks.Config());
    TestJob job(options, 9600, ports.get());
    const std::string file = locks.FileOf(job.unit.SlavePath());
    std::shared_ptr<void> other = c.setUp(locks, file);
    const std::optional<std::string> before = locks.Read(file);

    EXPECT_EQ(job.OpenThroughComFolder(com.Path()), c.result);
    EXPECT_EQ(job.ui.Messages(), c.messages);
    if (c.result == 0) {
      EXPECT_EQ(locks.Read(file), AsciiPid(getpid()));
    }
    EXPECT_EQ((ComPortClose(&job.form.Link), 0), 0);
    EXPECT_EQ(locks.Read(file), c.fileAfterwards == Untouched ? before : std::nullopt);
  }
}

// No lock folder to write to is no reason to fail the job; the port is
// still held by flock and exclusive mode.
TEST(PortMarks, JobGoesOnWithoutALockFolder) {
  LockFolder locks;
  const std::unique_ptr<PortFactory> ports = MakePlatformPortFactory({std::nullopt, locks.Path() + "/missing"});
  ComFolder com;
  sim::SimOptions options;
  options.ComDir = com.Path();
  options.ComNumber = 7;
  TestJob job(options, 9600, ports.get());
  ASSERT_EQ(job.OpenThroughComFolder(com.Path()), 0);
  EXPECT_TRUE(job.ui.Messages().empty());
  EXPECT_FALSE(OtherProgram(job.unit.SlavePath(), OtherProgram::Flock).Holding());
  EXPECT_EQ((ComPortClose(&job.form.Link), 0), 0);
  EXPECT_TRUE(locks.Files().empty());
}

// Who has a port open, as /proc shows it: every other process with a
// descriptor on it, not only the first one found, and this process only
// through its own question.
TEST(PortHolders, EveryOtherProcessThatHasThePortOpen) {
  ComFolder com;
  Port port(com.Path());
  ASSERT_TRUE(port.Ok());
  struct stat device {};
  ASSERT_EQ(stat(port.Slave().c_str(), &device), 0);
  EXPECT_TRUE(ProcessesHolding(device.st_rdev).empty());

  OtherProgram plain(port.Slave(), OtherProgram::Open);
  OtherProgram locking(port.Slave(), OtherProgram::Flock);
  OtherProgram bystander("", OtherProgram::Runs);
  ASSERT_TRUE(plain.Holding() && locking.Holding() && bystander.Holding());
  std::vector<pid_t> expected{plain.Pid(), locking.Pid()};
  std::sort(expected.begin(), expected.end());
  std::vector<pid_t> holders = ProcessesHolding(device.st_rdev);
  std::sort(holders.begin(), holders.end());
  EXPECT_EQ(holders, expected);
  EXPECT_FALSE(OpenInThisProcess(device.st_rdev));

  OwnExclusiveDescriptor own(port.Slave());
  ASSERT_TRUE(own.set);
  EXPECT_TRUE(OpenInThisProcess(device.st_rdev));
  holders = ProcessesHolding(device.st_rdev);
  std::sort(holders.begin(), holders.end());
  EXPECT_EQ(holders, expected);
}
