// What a front end shows of each port when it lists them: the map's name for
// it, its device, whether it is free, and for a USB serial adapter what the
// adapter says of itself. The platform's backend fills it in.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "SerialPort.h"

struct PortDetails {
  std::string ComName;  // the map's data: COM34
  std::string Device;   // the map's value name: the device path
  bool Free = false;    // PortFactory::Probe
  // A USB adapter's own attributes as the system reports them; empty when
  // the port is no USB device or the attribute is not there.
  std::string VendorId;   // four hex digits: 0403
  std::string ProductId;  // four hex digits: 6001
  std::string Manufacturer;
  std::string Product;
  std::string SerialNumber;
};

// Every port the map lists, in its order. nullopt when the map cannot be
// read. Probes each port (see PortFactory::Probe) and changes nothing.
std::optional<std::vector<PortDetails>> DescribePorts(PortFactory& ports);

// The map's ports, each probed, with what the platform adds to each (a USB
// adapter's attributes); the platforms' DescribePorts are made of it.
std::optional<std::vector<PortDetails>> DescribePortsWith(PortFactory& ports,
                                                          const std::function<void(PortDetails&)>& addDetails);
