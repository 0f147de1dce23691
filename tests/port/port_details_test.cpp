// What a port list shows of each port: its name in the map, its device,
// whether it is free, and a USB adapter's own attributes from sysfs, read
// here from fake trees laid out as the kernel lays them out.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "LinuxPortDetails.h"
#include "OtherProgram.h"
#include "PortDetails.h"
#include "PseudoTerminal.h"
#include "TestPortConfig.h"
#include "TestContext.h"

namespace {

namespace fs = std::filesystem;
using lumo_test::ComFolder;
using lumo_test::OtherProgram;
using lumo_test::PseudoTerminal;

// The parts of the USB devices below, as sysfs has them: every attribute
// ends with a newline.
constexpr const char* HOST = "sys/devices/pci0000:00/0000:00:14.0/usb1";

// A folder that stands for / : sys/ is the fake sysfs, dev/ holds stand-ins
// for the device nodes (plain files: only their names count), com/ links to
// them as a COM folder does.
class FakeSystem {
 public:
  FakeSystem() {
    fs::create_directories(Path("dev"));
    fs::create_directories(Path("com"));
    fs::create_directories(Path("sys/class/tty"));
  }
  std::string Path(const std::string& relative) const { return folder_.Path() + "/" + relative; }
  std::string Sysfs() const { return Path("sys"); }

  void File(const std::string& relative, const std::string& content) const {
    fs::create_directories(fs::path(Path(relative)).parent_path());
    std::ofstream(Path(relative), std::ios::binary) << content;
  }
  void Link(const std::string& relative, const std::string& target) const {
    fs::create_directories(fs::path(Path(relative)).parent_path());
    fs::create_symlink(target, Path(relative));
  }
  // A USB device folder with the given attributes (name, content).
  void UsbDevice(const std::string& folder, const std::vector<std::pair<std::string, std::string>>& attributes) const {
    fs::create_directories(Path(folder));
    for (const auto& [name, content] : attributes) File(folder + "/" + name, content);
  }
  // A tty as sysfs shows it: its class entry, its folder below the device
  // it belongs to, and the device link from there; and its node in dev/.
  void Tty(const std::string& name, const std::string& ttyFolder, const std::string& deviceLink) const {
    fs::create_directories(Path(ttyFolder));
    Link(ttyFolder + "/device", deviceLink);
    Link("sys/class/tty/" + name, "../../" + ttyFolder.substr(std::string("sys/").size()));
    File("dev/" + name, "");
  }

 private:
  ComFolder folder_;
};

// The tree of a machine with a built-in port, an FTDI-like adapter, a
// CDC-ACM board, an adapter that reports no serial number, and a device
// node that sysfs does not know.
void BuildMachine(const FakeSystem& sys) {
  // The root hub is a USB device too: a walk that starts too high finds it.
  sys.UsbDevice(HOST, {{"idVendor", "1d6b\n"}, {"idProduct", "0002\n"}, {"product", "xHCI Host Controller\n"}});

  // ttyUSB: the port is a device of its own below the interface; the tty
  // folder's device link leads to the port.
  const std::string ftdi = std::string(HOST) + "/1-1";
  sys.UsbDevice(ftdi, {{"idVendor", "0403\n"},
                       {"idProduct", "6001\n"},
                       {"manufacturer", "FTDI\n"},
                       {"product", "FT232R USB UART\n"},
                       {"serial", "A50285BI\n"}});
  sys.File(ftdi + "/1-1:1.0/bInterfaceNumber", "00\n");
  sys.Tty("ttyUSB0", ftdi + "/1-1:1.0/ttyUSB0/tty/ttyUSB0", "../../../ttyUSB0");

  // ttyACM: the tty hangs below the interface, and its device link leads there.
  const std::string acm = std::string(HOST) + "/1-2";
  sys.UsbDevice(acm, {{"idVendor", "2341\n"},
                      {"idProduct", "0043\n"},
                      {"manufacturer", "Arduino (www.arduino.cc)\n"},
                      {"serial", "75833353934351B05151\n"}});
  sys.File(acm + "/1-2:1.0/bInterfaceClass", "02\n");
  sys.Tty("ttyACM0", acm + "/1-2:1.0/tty/ttyACM0", "../../../1-2:1.0");

  // An adapter without a serial number; its manufacturer's text keeps its blanks.
  const std::string plain = std::string(HOST) + "/1-3";
  sys.UsbDevice(plain, {{"idVendor", "067b\n"},
                        {"idProduct", "2303\n"},
                        {"manufacturer", "Prolific Technology Inc. \n"},
                        {"product", "USB-Serial Controller\n"}});
  sys.Tty("ttyUSB1", plain + "/1-3:1.0/ttyUSB1/tty/ttyUSB1", "../../../ttyUSB1");

  // A built-in port: no USB device above it. An idVendor above the sysfs
  // root must not be taken for one.
  sys.Tty("ttyS0", "sys/devices/platform/serial8250/tty/ttyS0", "../../../serial8250");
  sys.File("idVendor", "dead\n");

  // A node sysfs has no entry for.
  sys.File("dev/ttyUSB7", "");

  sys.Link("com/COM34", "../dev/ttyUSB0");
  sys.Link("com/COM9", "../dev/ttyUSB5");  // its device is gone
}

struct Usb {
  std::string VendorId, ProductId, Manufacturer, Product, SerialNumber;
  friend bool operator==(const Usb&, const Usb&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Usb& u) {
    return out << "{" << u.VendorId << ", " << u.ProductId << ", '" << u.Manufacturer << "', '" << u.Product
               << "', " << u.SerialNumber << "}";
  }
};

Usb UsbOf(const PortDetails& port) {
  return {port.VendorId, port.ProductId, port.Manufacturer, port.Product, port.SerialNumber};
}

const Usb FTDI{"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI"};
const Usb ARDUINO{"2341", "0043", "Arduino (www.arduino.cc)", "", "75833353934351B05151"};
const Usb PROLIFIC{"067b", "2303", "Prolific Technology Inc. ", "USB-Serial Controller", ""};
const Usb NONE{};

// A port seam over a given map, with the ports that count as free.
class MapPorts : public PortFactory {
 public:
  MapPorts(std::optional<std::vector<SerialDeviceEntry>> map, std::set<std::string> free)
      : map_(std::move(map)), free_(std::move(free)) {}
  std::optional<std::vector<SerialDeviceEntry>> ListPorts() override { return map_; }
  bool Probe(const std::string& devicePath) override { return free_.count(devicePath) != 0; }
  std::unique_ptr<SerialPort> Open(const std::string&) override { return nullptr; }

 private:
  std::optional<std::vector<SerialDeviceEntry>> map_;
  std::set<std::string> free_;
};

}  // namespace

TEST(UsbAttributes, FromTheUsbDeviceAboveTheTty) {
  FakeSystem sys;
  BuildMachine(sys);
  const struct {
    const char* name;
    std::string device;
    Usb usb;
  } cases[] = {
      {"an FTDI-like adapter (ttyUSB)", sys.Path("dev/ttyUSB0"), FTDI},
      {"a CDC-ACM board (ttyACM), no product text", sys.Path("dev/ttyACM0"), ARDUINO},
      {"an adapter without a serial number", sys.Path("dev/ttyUSB1"), PROLIFIC},
      {"a link in a COM folder: the node it leads to counts", sys.Path("com/COM34"), FTDI},
      {"a built-in port: no USB device above it", sys.Path("dev/ttyS0"), NONE},
      {"a node sysfs does not know", sys.Path("dev/ttyUSB7"), NONE},
      {"a link whose node is gone", sys.Path("com/COM9"), NONE},
      {"a path that does not exist", sys.Path("dev/ttyACM3"), NONE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PortDetails port;
    port.Device = c.device;
    ReadUsbAttributes(port, sys.Sysfs());
    EXPECT_EQ(UsbOf(port), c.usb);
  }
}

// A sysfs root reached through a link reads the same.
TEST(UsbAttributes, SysfsRootBehindALink) {
  FakeSystem sys;
  BuildMachine(sys);
  sys.Link("linked-sys", "sys");
  PortDetails port;
  port.Device = sys.Path("dev/ttyACM0");
  ReadUsbAttributes(port, sys.Path("linked-sys"));
  EXPECT_EQ(UsbOf(port), ARDUINO);
}

// Every port of the map, in the map's order, each with its own probe result
// and attributes.
TEST(DescribePorts, EveryPortOfTheMapInItsOrder) {
  FakeSystem sys;
  BuildMachine(sys);
  const std::string usb0 = sys.Path("com/COM34"), acm0 = sys.Path("dev/ttyACM0"), s0 = sys.Path("dev/ttyS0"),
                    gone = sys.Path("com/COM9");
  MapPorts ports(std::vector<SerialDeviceEntry>{{acm0, "COM66"}, {s0, "COM1"}, {usb0, "COM34"}, {gone, "COM9"}},
                 {s0, usb0});

  const auto described = DescribePorts(ports, sys.Sysfs());

  ASSERT_TRUE(described.has_value());
  ASSERT_EQ(described->size(), 4u);
  const struct {
    std::string com, device;
    bool free;
    Usb usb;
  } expected[] = {{"COM66", acm0, false, ARDUINO}, {"COM1", s0, true, NONE}, {"COM34", usb0, true, FTDI},
                  {"COM9", gone, false, NONE}};
  for (size_t i = 0; i < described->size(); ++i) {
    SCOPED_TRACE(expected[i].com);
    const PortDetails& port = (*described)[i];
    EXPECT_EQ(port.ComName, expected[i].com);
    EXPECT_EQ(port.Device, expected[i].device);
    EXPECT_EQ(port.Free, expected[i].free);
    EXPECT_EQ(UsbOf(port), expected[i].usb);
  }
}

TEST(DescribePorts, MapThatCannotBeRead) {
  MapPorts unreadable(std::nullopt, {});
  EXPECT_EQ(DescribePorts(unreadable, "/sys"), std::nullopt);
  MapPorts empty(std::vector<SerialDeviceEntry>{}, {});
  const auto none = DescribePorts(empty, "/sys");
  ASSERT_TRUE(none.has_value());
  EXPECT_TRUE(none->empty());
}

// The platform's ports of a COM folder, against the real /sys: pseudo-
// terminals have no USB attributes, and one that another program holds is
// not free.
TEST(DescribePorts, PseudoTerminalsOfAComFolder) {
  ComFolder com;
  PseudoTerminal free(com.Path(), "COM5"), held(com.Path(), "COM6");
  ASSERT_TRUE(free.Ok() && held.Ok());
  OtherProgram other(held.Slave(), OtherProgram::Flock);
  ASSERT_TRUE(other.Holding());
  const auto ports = lumo_test::MakeTestPortFactory(com.Path());

  const auto described = DescribePorts(*ports);

  ASSERT_TRUE(described.has_value());
  ASSERT_EQ(described->size(), 2u);
  EXPECT_EQ((*described)[0].ComName, "COM5");
  EXPECT_EQ((*described)[0].Device, free.Link());
  EXPECT_TRUE((*described)[0].Free);
  EXPECT_EQ((*described)[1].ComName, "COM6");
  EXPECT_EQ((*described)[1].Device, held.Link());
  EXPECT_FALSE((*described)[1].Free);
  for (const PortDetails& port : *described) EXPECT_EQ(UsbOf(port), NONE) << port.ComName;
}
