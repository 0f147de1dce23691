#include "PortDetails.h"

// The USB fields stay empty: Windows keeps them with the device's driver,
// not with the port's name.
std::optional<std::vector<PortDetails>> DescribePorts(PortFactory& ports) { return DescribePortsWith(ports, {}); }
