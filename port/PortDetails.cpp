#include "PortDetails.h"

std::optional<std::vector<PortDetails>> DescribePortsWith(PortFactory& ports,
                                                          const std::function<void(PortDetails&)>& addDetails) {
  const auto map = ports.ListPorts();
  if (!map) return std::nullopt;
  std::vector<PortDetails> described;
  described.reserve(map->size());
  for (const SerialDeviceEntry& entry : *map) {
    PortDetails port;
    port.ComName = entry.Data;
    port.Device = entry.ValueName;
    port.Free = ports.Probe(entry.ValueName);
    if (addDetails) addDetails(port);
    described.push_back(std::move(port));
  }
  return described;
}
