// Port details on Linux: a USB serial adapter's attributes from sysfs.
// /sys/class/tty/<name>/device leads to the adapter's interface (ttyACM) or
// to the port below it (ttyUSB); the USB device is the first folder above
// that holds idVendor.
#include "LinuxPortDetails.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <utility>

namespace {

constexpr const char* SYSFS_ROOT = "/sys";
// Longer than any USB string descriptor (126 UTF-16 units) in UTF-8.
constexpr size_t MAX_ATTRIBUTE_BYTES = 1024;

std::optional<std::string> RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  if (!realpath(path.c_str(), resolved)) return std::nullopt;
  return std::string(resolved);
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// A sysfs attribute without the newline sysfs ends it with; empty when the
// file is not there or cannot be read.
std::string ReadAttribute(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return {};
  char text[MAX_ATTRIBUTE_BYTES];
  const ssize_t n = read(fd, text, sizeof text);
  close(fd);
  if (n <= 0) return {};
  std::string value(text, static_cast<size_t>(n));
  while (!value.empty() && value.back() == '\n') value.pop_back();
  return value;
}

// The USB device folder above the tty's device; nullopt for a tty that is no
// USB device (a built-in port, a pseudo-terminal) or that sysfs does not know.
std::optional<std::string> UsbDeviceFolder(const std::string& device, const std::string& sysfsRoot) {
  const auto node = RealPath(device);
  const auto root = RealPath(sysfsRoot);
  if (!node || !root) return std::nullopt;
  const std::string name = node->substr(node->rfind('/') + 1);
  if (name.empty()) return std::nullopt;
  auto folder = RealPath(*root + "/class/tty/" + name + "/device");
  if (!folder) return std::nullopt;
  // Never above the sysfs root: a folder there is no part of the tree.
  const std::string inside = *root + "/";
  while (folder->compare(0, inside.size(), inside) == 0) {
    if (Exists(*folder + "/idVendor")) return folder;
    folder->erase(folder->rfind('/'));
  }
  return std::nullopt;
}

}  // namespace

void ReadUsbAttributes(PortDetails& port, const std::string& sysfsRoot) {
  const auto usb = UsbDeviceFolder(port.Device, sysfsRoot);
  if (!usb) return;
  port.VendorId = ReadAttribute(*usb + "/idVendor");
  port.ProductId = ReadAttribute(*usb + "/idProduct");
  port.Manufacturer = ReadAttribute(*usb + "/manufacturer");
  port.Product = ReadAttribute(*usb + "/product");
  port.SerialNumber = ReadAttribute(*usb + "/serial");
}

std::optional<std::vector<PortDetails>> DescribePorts(PortFactory& ports, const std::string& sysfsRoot) {
  return DescribePortsWith(ports, [&](PortDetails& port) { ReadUsbAttributes(port, sysfsRoot); });
}

std::optional<std::vector<PortDetails>> DescribePorts(PortFactory& ports) { return DescribePorts(ports, SYSFS_ROOT); }
