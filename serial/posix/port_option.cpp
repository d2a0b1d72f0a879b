#include "serial/posix/port_option.h"

#include <cstring>

#include "serial/discovery.h"

namespace mfu {

bool PortOptionFits(const char* device) {
  return device != nullptr && device[0] != '\0' && std::strlen(device) < kPortNameSize;
}

std::string PortListText(const std::vector<PortEntry>& ports) {
  if (ports.empty()) return "No serial ports found.\n";
  std::string text;
  for (const PortEntry& port : ports) {
    text += port.path;
    if (!port.stable.empty()) text += "  " + port.stable;
    if (!port.driver.empty()) text += "  driver " + port.driver;
    if (!port.vendor_id.empty() || !port.product_id.empty()) text += "  usb " + port.vendor_id + ":" + port.product_id;
    if (!port.vendor.empty()) text += "  " + port.vendor;
    if (!port.product.empty()) text += "  " + port.product;
    text += "\n";
  }
  return text;
}

}  // namespace mfu
