// Why a port could not be opened, on Linux: the device node, its owner and
// mode, and what other programs hold it by (exclusive mode, flock, UUCP lock
// files, /proc). Looks only: the device is opened without a setting being
// changed and closed again, and the flock tried here is given back at once.
#include "LinuxPortDiagnosis.h"

#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "PortHolders.h"

namespace {

using Lines = std::vector<std::string>;

std::string Join(const Lines& lines, const char* separator) {
  std::string text;
  for (const std::string& line : lines) {
    if (!text.empty()) text += separator;
    text += line;
  }
  return text;
}

std::string ErrorText(int error) {
  char buffer[256];
  return strerror_r(error, buffer, sizeof buffer);  // the GNU form: returns the text
}

bool NoDevice(int error) { return error == ENOENT || error == ENOTDIR || error == ENODEV || error == ENXIO; }

std::optional<std::string> RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  if (!realpath(path.c_str(), resolved)) return std::nullopt;
  return std::string(resolved);
}

std::optional<std::string> LinkTarget(const std::string& path) {
  char target[PATH_MAX];
  const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
  if (n < 0) return std::nullopt;
  return std::string(target, static_cast<size_t>(n));
}

// The passwd and group records, through the reentrant calls: jobs on other
// ports may run in other threads of this process.
std::optional<passwd> UserRecord(uid_t uid, std::vector<char>& buffer) {
  buffer.assign(16384, '\0');
  passwd record {};
  passwd* found = nullptr;
  if (getpwuid_r(uid, &record, buffer.data(), buffer.size(), &found) != 0 || !found) return std::nullopt;
  return record;
}

std::string UserName(uid_t uid) {
  std::vector<char> buffer;
  const auto record = UserRecord(uid, buffer);
  return record ? record->pw_name : std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  std::vector<char> buffer(16384);
  group record {};
  group* found = nullptr;
  if (getgrgid_r(gid, &record, buffer.data(), buffer.size(), &found) != 0 || !found) return std::to_string(gid);
  return record.gr_name;
}

bool InGroupNow(gid_t gid) {
  if (getegid() == gid) return true;
  const int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  const int got = getgroups(count, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// Whether the group database gives the user the group: what a new login
// session would have.
bool InGroupAtLogin(uid_t uid, gid_t gid) {
  std::vector<char> buffer;
  const auto user = UserRecord(uid, buffer);
  if (!user) return false;
  std::vector<gid_t> groups(64);
  for (int attempt = 0; attempt < 4; ++attempt) {
    int count = static_cast<int>(groups.size());
    if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) >= 0) {
      return std::find(groups.begin(), groups.begin() + count, gid) != groups.begin() + count;
    }
    groups.resize(static_cast<size_t>(std::max(count, static_cast<int>(groups.size()) * 2)));
  }
  return false;
}

// The ports of the map whose device is there now, one line each.
std::string PortList(PortFactory& ports, const std::string& except) {
  const auto map = ports.ListPorts();
  if (!map) return "The list of ports cannot be read.";
  std::vector<const SerialDeviceEntry*> present;
  size_t width = 0;
  for (const SerialDeviceEntry& entry : *map) {
    struct stat st {};
    if (entry.ValueName == except || stat(entry.ValueName.c_str(), &st) != 0) continue;
    present.push_back(&entry);
    width = std::max(width, entry.Data.size());
  }
  if (present.empty()) return "No serial port exists now.";
  Lines lines{"Ports that exist now:"};
  for (const SerialDeviceEntry* entry : present) {
    std::string line = "  " + entry->Data + std::string(width - entry->Data.size() + 2, ' ') + entry->ValueName;
    const auto resolved = RealPath(entry->ValueName);
    if (resolved && *resolved != entry->ValueName) line += " (" + *resolved + ")";
    lines.push_back(line);
  }
  return Join(lines, "\n");
}

OpenFailure NoSuchDevice(const std::string& path, int error, PortFactory& ports) {
  OpenFailure failure{OpenFailureCause::NoSuchDevice, {}, {}};
  if (path.empty()) {
    failure.Detail = "No device was named for the port";
  } else if (error == ENOENT && LinkTarget(path)) {
    failure.Detail = path + " is a link to " + *LinkTarget(path) + ", which does not exist";
  } else if (error == ENOENT) {
    failure.Detail = path + " does not exist";
  } else {
    failure.Detail = path + ": " + ErrorText(error);
  }
  failure.Hint = "Check the port's name, and that its adapter is plugged in (a USB adapter's port is there "
                 "only while it is).\n" +
                 PortList(ports, path);
  return failure;
}

OpenFailure Other(const std::string& path, std::string detail, PortFactory& ports) {
  return {OpenFailureCause::Other, std::move(detail),
          "Choose a serial port that is there and works.\n" + PortList(ports, path)};
}

OpenFailure PermissionDenied(const std::string& path, const struct stat& st) {
  // The node, not a link to it: that is what a chmod or a udev rule changes.
  const std::string node = RealPath(path).value_or(path);
  DeviceAccess access;
  access.Device = node;
  const uid_t uid = geteuid();
  access.User = UserName(uid);
  access.Owner = UserName(st.st_uid);
  access.Group = GroupName(st.st_gid);
  access.UserIsOwner = st.st_uid == uid;
  access.OwnerMayReadWrite = (st.st_mode & (S_IRUSR | S_IWUSR)) == (S_IRUSR | S_IWUSR);
  access.GroupMayReadWrite = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  access.InGroupNow = InGroupNow(st.st_gid);
  access.InGroupAtLogin = InGroupAtLogin(uid, st.st_gid);
  return {OpenFailureCause::PermissionDenied,
          "Permission denied opening " + path + (node != path ? " (" + node + ")" : "") + ": it belongs to user " +
              access.Owner + " and group " + access.Group + ", mode " + ModeText(st.st_mode),
          PermissionHint(access)};
}

std::string DescribeProcess(pid_t pid) {
  if (pid == getpid()) return "this program (pid " + std::to_string(pid) + ")";
  const std::string name = ProcessName(pid);
  if (name.empty()) return "pid " + std::to_string(pid) + " (its name cannot be read)";
  return name + " (pid " + std::to_string(pid) + ")";
}

// The majors of the Unix 98 pseudo-terminal slaves (/dev/pts/<n>).
constexpr unsigned PTY_SLAVE_MAJOR_FIRST = 136;
constexpr unsigned PTY_SLAVE_MAJOR_LAST = 143;

bool PseudoTerminal(const struct stat& st) {
  const unsigned m = major(st.st_rdev);
  return m >= PTY_SLAVE_MAJOR_FIRST && m <= PTY_SLAVE_MAJOR_LAST;
}

// locked: the device refused us (exclusive mode, an flock) without saying
// who; exclusive: it is marked exclusive (TIOCEXCL); lockFolder: where lock
// files count. nullopt when nothing holds the device.
std::optional<OpenFailure> Held(const std::string& path, const struct stat& st, bool locked, bool exclusive,
                                const std::optional<std::string>& lockFolder) {
  const std::vector<pid_t> others = ProcessesHolding(st.st_rdev);
  const auto lockFile = UucpLockHolding(path, lockFolder);
  // Only other descriptors of ours are open on the device now.
  const bool self = OpenInThisProcess(st.st_rdev) || (lockFile && lockFile->Pid == getpid());
  const bool lockOfOther =
      lockFile && lockFile->Pid > 0 && lockFile->Pid != getpid() &&
      std::find(others.begin(), others.end(), lockFile->Pid) == others.end();
  if (others.empty() && !lockFile && !self && !locked) return std::nullopt;

  Lines holders;
  for (pid_t pid : others) holders.push_back(DescribeProcess(pid));
  if (lockOfOther) holders.push_back(DescribeProcess(lockFile->Pid) + ", named by the lock file " + lockFile->Path);
  if (lockFile && lockFile->Pid == 0) {
    holders.push_back("the lock file " + lockFile->Path + ", which names no process yet");
  }
  if (self) holders.push_back(DescribeProcess(getpid()));
  const std::string node = RealPath(path).value_or(path);
  if (holders.empty() && exclusive && SeesEveryProcess()) {
    // Nobody at all: an flock, too, needs a descriptor that some process has.
    return OpenFailure{OpenFailureCause::ExclusiveLeftBehind,
                       path + " is marked exclusive (TIOCEXCL) but no process holds it",
                       ExclusiveLeftHint(node, PseudoTerminal(st))};
  }
  if (holders.empty()) holders.push_back("another process that this user may not see");

  Lines hint;
  const size_t named = others.size() + (lockOfOther ? 1 : 0);
  if (named > 0) {
    hint.push_back(std::string(named == 1 ? "Close that program" : "Close those programs") +
                   " (a terminal program, or another download on this port) or wait until it is done, then try "
                   "again.");
  }
  if (lockOfOther) {
    hint.push_back("If pid " + std::to_string(lockFile->Pid) +
                   " does not use the port, its lock file was left behind: remove " + lockFile->Path + ".");
  }
  if (lockFile && lockFile->Pid == 0) {
    hint.push_back("A program is taking the port just now: wait a moment and try again.");
  }
  if (self) hint.push_back("This program has the port open already (another job on it): let that end first.");
  if (hint.empty()) {
    hint.push_back("Close the program that uses the port (a terminal program, another download) or wait until it is "
                   "done; sudo fuser -v " + path + " shows which one it is.");
    // Whoever this user cannot see may be nobody.
    if (exclusive) {
      hint.push_back("If it shows none, the port is marked exclusive (TIOCEXCL) with nobody holding it:");
      hint.push_back(ExclusiveLeftHint(node, PseudoTerminal(st)));
    }
  }
  return OpenFailure{OpenFailureCause::HeldByAnotherProcess, path + " is held by " + Join(holders, ", "),
                     Join(hint, "\n")};
}

}  // namespace

std::string ExclusiveLeftHint(const std::string& device, bool pseudoTerminal) {
  Lines hint{"A program that ended without clearing the mark left it so, and the port refuses every open until it is "
             "cleared."};
  if (pseudoTerminal) {
    hint.push_back("It is a pseudo-terminal: restart the program that provides it (a simulated unit, a serial bridge).");
  } else {
    hint.push_back("Unplug the port's adapter and plug it in again, or restart the computer.");
  }
  hint.push_back("Or clear the mark as root:\n  sudo python3 -c 'import os, fcntl, termios; fcntl.ioctl(os.open(\"" +
                 device + "\", os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK), termios.TIOCNXCL)'");
  return Join(hint, "\n");
}

std::string ModeText(mode_t mode) {
  std::string text = S_ISCHR(mode) ? "c" : S_ISBLK(mode) ? "b" : S_ISDIR(mode) ? "d" : S_ISLNK(mode) ? "l"
                     : S_ISFIFO(mode) ? "p" : S_ISSOCK(mode) ? "s" : "-";
  const char* letters = "rwxrwxrwx";
  for (int bit = 0; bit < 9; ++bit) text += (mode & (0400 >> bit)) ? letters[bit] : '-';
  return text;
}

std::string PermissionHint(const DeviceAccess& a) {
  const std::string newGroup =
      "a new group counts only in a new login session (newgrp " + a.Group + " gives it to one shell at once)";
  if (a.UserIsOwner) {
    if (a.OwnerMayReadWrite) {
      return "User " + a.User + " owns " + a.Device + " and its mode lets the owner read and write it; something "
             "else refuses access (an access control list or a security module): ask the administrator.";
    }
    return "User " + a.User + " owns " + a.Device + " but its mode does not let the owner read and write it: "
           "chmod u+rw " + a.Device;
  }
  const std::string regroup =
      "Ask the administrator to give the device to a group that may read and write it (a udev rule), then join that "
      "group.";
  if (!a.GroupMayReadWrite) {
    const std::string who = a.Owner == "root" ? "root" : "user " + a.Owner + " and root";
    return "Group " + a.Group + " may not read and write " + a.Device + ", so joining it does not help: only " + who +
           " may open it.\n" + regroup;
  }
  // Membership of root's group is no way to reach one device.
  if (a.Group == "root" && !a.InGroupNow) {
    return "User " + a.User + " may not open " + a.Device + ", which belongs to group root.\n" + regroup;
  }
  if (a.InGroupNow) {
    return "User " + a.User + " is in group " + a.Group + ", which may read and write " + a.Device +
           "; something else refuses access (an access control list or a security module): ask the administrator.";
  }
  if (a.InGroupAtLogin) {
    return "User " + a.User + " is in group " + a.Group + ", but this session started before it was added: log out "
           "and in again;\n" + newGroup + ".";
  }
  return "User " + a.User + " is not in group " + a.Group + ". Add it:\n  sudo usermod -aG " + a.Group + " " +
         a.User + "\nthen log out and in again: " + newGroup + ".";
}

OpenFailure DiagnoseOpenFailure(const std::string& devicePath, PortFactory& ports) {
  if (devicePath.empty()) return NoSuchDevice(devicePath, ENOENT, ports);
  struct stat st {};
  if (stat(devicePath.c_str(), &st) != 0) {
    const int error = errno;
    if (NoDevice(error)) return NoSuchDevice(devicePath, error, ports);
    return Other(devicePath, devicePath + ": " + ErrorText(error), ports);
  }
  if (!S_ISCHR(st.st_mode)) {
    return Other(devicePath, devicePath + " is no device (" + ModeText(st.st_mode) + ")", ports);
  }

  // As the job opens it; O_NONBLOCK: no wait for a carrier.
  const int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == EACCES || error == EPERM) return PermissionDenied(devicePath, st);
    if (NoDevice(error)) return NoSuchDevice(devicePath, error, ports);
    // A tty in exclusive mode refuses everyone but root.
    if (error == EBUSY) return *Held(devicePath, st, true, true, ports.Config().LockFolder);
    return Other(devicePath, "opening " + devicePath + " failed: " + ErrorText(error), ports);
  }
  const bool terminal = isatty(fd) == 1;
  int mark = 0;
  const bool exclusive = ioctl(fd, TIOCGEXCL, &mark) == 0 && mark != 0;
  // Tried only; closing the descriptor gives a lock we got back.
  const bool locked = exclusive || (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK);
  close(fd);
  if (!terminal) return Other(devicePath, devicePath + " is not a serial port (no terminal)", ports);
  if (auto held = Held(devicePath, st, locked, exclusive, ports.Config().LockFolder)) return *held;
  return {OpenFailureCause::Other, devicePath + " opens now and nothing holds it",
          "Whatever held the port has let it go: try again."};
}
