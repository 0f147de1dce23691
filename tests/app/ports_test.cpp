// Port discovery on real pseudo-terminals through a
// COM folder, and the serial device map behind it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "Lumo_Q31NTX_DownloadAP.h"
#include "OtherProgram.h"
#include "SerialDeviceMap.h"
#include "SerialDeviceMapDetail.h"  // the default map from a folder of device nodes
#include "LinuxSerialPort.h"
#include "SerialPort.h"

namespace {

// A pseudo-terminal whose slave side nobody holds open.
class Pty {
 public:
  Pty() {
    char name[256] = {};
    int slave = -1;
    if (openpty(&master_, &slave, name, nullptr, nullptr) == 0) {
      slaveName_ = name;
      close(slave);
    }
  }
  ~Pty() {
    if (holder_ >= 0) close(holder_);
    if (master_ >= 0) close(master_);
  }
  bool ok() const { return master_ >= 0 && !slaveName_.empty(); }
  const std::string& slave() const { return slaveName_; }
  lumo_test::TerminalSettings Settings() const { return lumo_test::TerminalSettings::Of(master_); }
  // Another program holds the port: open and exclusive, as the tool holds it.
  bool Hold() {
    holder_ = open(slaveName_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    return holder_ >= 0 && flock(holder_, LOCK_EX | LOCK_NB) == 0 && ioctl(holder_, TIOCEXCL) == 0;
  }

 private:
  int master_ = -1;
  int holder_ = -1;
  std::string slaveName_;
};

enum EntryKind {
  FreePort,
  HeldPort,       // open and exclusive elsewhere
  OpenElsewhere,  // another program has it open, as it found it, with no lock
  LockedByFile,   // a UUCP lock file of a running program names it
  StaleLock,      // a lock file of a program that has ended names it
  Dangling,
};

// What other programs do to a port besides holding it in this process.
std::shared_ptr<lumo_test::OtherProgram> UseElsewhere(EntryKind kind, const std::string& slave,
                                                     const QString& lockFolder) {
  using lumo_test::OtherProgram;
  const QString lockFile = lockFolder + QStringLiteral("/LCK..") + QFileInfo(QString::fromStdString(slave)).fileName();
  auto writeLock = [&](pid_t pid) {
    QFile f(lockFile);
    if (f.open(QIODevice::WriteOnly)) f.write(QByteArray::number(pid).rightJustified(10, ' ') + '\n');
  };
  switch (kind) {
    case OpenElsewhere:
      return std::make_shared<OtherProgram>(slave, OtherProgram::Open);
    case LockedByFile: {
      auto other = std::make_shared<OtherProgram>(slave, OtherProgram::Runs);
      writeLock(other->Pid());
      return other;
    }
    case StaleLock:
      writeLock(lumo_test::EndedProcessId());
      return nullptr;
    default:
      return nullptr;
  }
}

struct Entry {
  std::string name;
  EntryKind kind;
};

struct Case {
  const char* title;
  bool folderExists;
  std::vector<Entry> entries;
  std::vector<std::string> items;  // in box order
  const char* shown;
};

std::string Repeat(char c, size_t n) { return std::string(n, c); }

const std::vector<Case> kCases = {
    {"COM3: item 3, shown", true, {{"COM3", FreePort}}, {"3"}, "3"},
    {"COM12: the test sees 1, the item is 12", true, {{"COM12", FreePort}}, {"12"}, "12"},
    {"COM300: probed and listed as 300", true, {{"COM300", FreePort}}, {"300"}, "300"},
    {"COM0: no probe, no item", true, {{"COM0", FreePort}}, {}, "Com Port"},
    {"COMx: no probe, no item", true, {{"COMx", FreePort}}, {}, "Com Port"},
    {"CO: shorter than 4 characters", true, {{"CO", FreePort}}, {}, "Com Port"},
    {"a port held open elsewhere is left out", true, {{"COM4", HeldPort}}, {}, "Com Port"},
    {"a port another program has open without a lock is left out", true, {{"COM4", OpenElsewhere}}, {},
     "Com Port"},
    {"a port a running program's lock file names is left out", true, {{"COM4", LockedByFile}}, {}, "Com Port"},
    {"a lock file of a program that has ended does not hide the port", true, {{"COM4", StaleLock}}, {"4"}, "4"},
    {"an entry without a device", true, {{"COM6", Dangling}}, {}, "Com Port"},
    {"several ports: map order (names' byte order), the first selected",
     true,
     {{"COM7", FreePort}, {"COM10", FreePort}, {"COM2", FreePort}, {"COM5", HeldPort}, {"COM0", FreePort},
      {"COM9", Dangling}, {"ttyX", FreePort}},
     {"10", "2", "7"},
     "10"},
    {"data of 251 characters is probed, 252 is skipped",
     true,
     {{"COM8" + Repeat('7', 247), FreePort}, {"COM9" + Repeat('8', 248), FreePort}},
     {"8" + Repeat('7', 247)},
     nullptr},
    {"an empty folder: no port", true, {}, {}, "Com Port"},
    {"a missing folder stands for a key that cannot be opened", false, {}, {}, "Com Port"},
};

}  // namespace

TEST(PortDiscovery, TableOfCases) {
  QTemporaryDir exeFolder;
  ASSERT_TRUE(exeFolder.isValid());
  QTemporaryDir locks;
  ASSERT_TRUE(locks.isValid());
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.title);
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    std::vector<std::shared_ptr<lumo_test::OtherProgram>> others;
    const QString folder = root.path() + QStringLiteral("/com");
    if (c.folderExists) {
      ASSERT_TRUE(QDir().mkdir(folder));
    }
    std::vector<std::unique_ptr<Pty>> ptys;
    std::vector<std::string> devices;  // slave of each listed entry, by name
    for (const Entry& e : c.entries) {
      const std::string link = folder.toStdString() + "/" + e.name;
      std::string target = root.path().toStdString() + "/absent";
      if (e.kind != Dangling) {
        ptys.push_back(std::make_unique<Pty>());
        ASSERT_TRUE(ptys.back()->ok());
        if (e.kind == HeldPort) {
          ASSERT_TRUE(ptys.back()->Hold());
        }
        others.push_back(UseElsewhere(e.kind, ptys.back()->slave(), locks.path()));
        if (e.kind == OpenElsewhere || e.kind == LockedByFile) {
          ASSERT_TRUE(others.back()->Holding());
        }
        target = ptys.back()->slave();
      }
      ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0) << link;
    }
    std::vector<lumo_test::TerminalSettings> settingsBefore;
    for (const auto& pty : ptys) settingsBefore.push_back(pty->Settings());
    const PortConfig config{folder.toStdString(), locks.path().toStdString()};
    const std::unique_ptr<PortFactory> ports = MakePlatformPortFactory(config);
    auto form = std::make_unique<TLumo_Q31NTX_DownloadAP>(exeFolder.path(), ports.get());
    // Discovery changed no port's settings, listed or not: still cooked, echo on.
    for (size_t k = 0; k < ptys.size(); ++k) {
      const lumo_test::TerminalSettings after = ptys[k]->Settings();
      EXPECT_TRUE(after == settingsBefore[k]) << ptys[k]->slave();
      EXPECT_TRUE(after.Echo() && after.Canonical()) << ptys[k]->slave();
    }
    std::vector<std::string> items;
    for (int i = 0; i < form->ComPort_ComboBox->count(); ++i) {
      items.push_back(form->ComPort_ComboBox->itemText(i).toStdString());
      // The tooltip names the device behind the item.
      const QString tip = form->ComPort_ComboBox->itemData(i, Qt::ToolTipRole).toString();
      EXPECT_TRUE(tip.startsWith(folder + QStringLiteral("/COM"))) << tip.toStdString();
      EXPECT_TRUE(tip.contains(QStringLiteral("/dev/pts/"))) << tip.toStdString();
    }
    EXPECT_EQ(items, c.items);
    const std::string shown = c.shown ? c.shown : c.items.front();
    EXPECT_EQ(form->ComPort_ComboBox->currentText().toStdString(), shown);
    EXPECT_EQ(form->ComPort_ComboBox->currentIndex(), c.items.empty() ? -1 : 0);
    // The probe closed every port again: each listed one opens now.
    const auto map = ports->ListPorts().value_or(std::vector<SerialDeviceEntry>{});
    for (int i = 0; i < form->ComPort_ComboBox->count(); ++i) {
      const auto device = ResolveDevicePath("\\\\.\\COM" + items[i], map);
      ASSERT_TRUE(device.has_value());
      EXPECT_NE(OpenLinuxSerialPort(*device, config), nullptr) << *device;
    }
    form.reset();
  }
}

TEST(SerialDeviceMap, DefaultMapFromDeviceNodes) {
  QTemporaryDir dev;
  ASSERT_TRUE(dev.isValid());
  for (const char* name : {"ttyS10", "ttyACM1", "ttyS0", "ttyUSB0", "ttyS2", "ttyUSB12", "ttyS01", "ttySx",
                           "tty", "ttyS", "console", "ttyACM0"}) {
    QFile f(dev.path() + QLatin1Char('/') + QLatin1String(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  const std::string d = dev.path().toStdString();
  const std::vector<SerialDeviceEntry> map = ReadDefaultSerialDeviceMap(d);
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const auto& e : map) pairs.emplace_back(e.ValueName, e.Data);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {d + "/ttyS0", "COM1"},    {d + "/ttyS2", "COM3"},    {d + "/ttyS10", "COM11"},
      {d + "/ttyUSB0", "COM33"}, {d + "/ttyUSB12", "COM45"}, {d + "/ttyACM0", "COM65"},
      {d + "/ttyACM1", "COM66"},
  };
  EXPECT_EQ(pairs, expected);
}

TEST(SerialDeviceMap, FolderAndResolution) {
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  const std::string folder = root.path().toStdString();
  for (const char* name : {"COM3", "COM12", "CO"}) {
    ASSERT_EQ(symlink("/dev/null", (folder + "/" + name).c_str()), 0);
  }
  const auto map = ReadSerialDeviceMap(PortConfig{folder, std::nullopt});
  ASSERT_TRUE(map.has_value());
  std::vector<std::string> data;
  for (const auto& e : *map) data.push_back(e.Data);
  EXPECT_EQ(data, (std::vector<std::string>{"CO", "COM12", "COM3"}));
  EXPECT_EQ(ResolveDevicePath("\\\\.\\COM3", *map), folder + "/COM3");
  EXPECT_EQ(ResolveDevicePath("\\\\.\\com12", *map), folder + "/COM12");
  EXPECT_EQ(ResolveDevicePath("\\\\.\\COM4", *map), std::nullopt);
  EXPECT_EQ(ResolveDevicePath("COM3", *map), std::nullopt);
  EXPECT_EQ(ResolveDevicePath("\\\\.\\", *map), std::nullopt);
  EXPECT_FALSE(ReadSerialDeviceMap(PortConfig{folder + "/missing", std::nullopt}).has_value());
}
