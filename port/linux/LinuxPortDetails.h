// Internals of the Linux port details, open to tests: the sysfs root is a
// parameter so that a fake tree can stand in for /sys.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "PortDetails.h"

// Fills the USB fields of port from the sysfs tree at sysfsRoot ("/sys" in
// the product): port.Device is resolved to its device node, whose tty entry
// leads to the USB device above it. Fields stay empty when there is no such
// device or it lacks the attribute.
void ReadUsbAttributes(PortDetails& port, const std::string& sysfsRoot);

// DescribePorts with the USB attributes read from sysfsRoot.
std::optional<std::vector<PortDetails>> DescribePorts(PortFactory& ports, const std::string& sysfsRoot);
