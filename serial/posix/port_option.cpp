#include "serial/posix/port_option.h"

#include <cstring>

#include "serial/discovery.h"

namespace mfu {

bool PortOptionFits(const char* device) {
  return device != nullptr && device[0] != '\0' && std::strlen(device) < kPortNameSize;
}

std::string PortListText(const std::vector<PortEntry>& ports, const std::vector<bool>* modems) {
  if (ports.empty()) return "No serial ports found.\n";
  std::string text;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const PortEntry& port = ports[i];
    text += port.path;
    if (!port.stable.empty()) text += "  " + port.stable;
    if (!port.driver.empty()) text += "  driver " + port.driver;
    if (!port.vendor_id.empty() || !port.product_id.empty()) text += "  usb " + port.vendor_id + ":" + port.product_id;
    if (!port.vendor.empty()) text += "  " + port.vendor;
    if (!port.product.empty()) text += "  " + port.product;
    if (modems != nullptr && i < modems->size() && (*modems)[i]) text += "  [KELVORA-Modem]";
    text += "\n";
  }
  return text;
}

}  // namespace mfu
