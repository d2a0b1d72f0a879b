// The serial ports of the machine, from libudev. libudev reads /sys itself,
// so the list is complete even where no udev daemon runs (a container); only
// the /dev/serial/by-id names come from the daemon's database, and are looked
// up in /dev/serial/by-id directly where it has none.
#include <libudev.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "serial/posix/posix_ports.h"

namespace mfu {
namespace {

struct UdevUnref {
  void operator()(udev* u) const { ::udev_unref(u); }
  void operator()(udev_enumerate* e) const { ::udev_enumerate_unref(e); }
  void operator()(udev_device* d) const { ::udev_device_unref(d); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevUnref>;

constexpr const char* kByIdFolder = "/dev/serial/by-id/";

std::string Text(const char* text) { return text != nullptr ? text : ""; }

// The device a port sits on: its parent, past the serial core's own "port"
// and "ctrl" devices (subsystem serial-base) of newer kernels. Owned by
// `device`.
udev_device* HardwareParent(udev_device* device) {
  udev_device* parent = ::udev_device_get_parent(device);
  while (parent != nullptr && Text(::udev_device_get_subsystem(parent)) == "serial-base") {
    parent = ::udev_device_get_parent(parent);
  }
  return parent;
}

// 0: a USB adapter (listed first), 1: a UART, -1: no serial port we list.
int KindOf(const std::string& sysname, udev_device* parent) {
  if (sysname.rfind("ttyUSB", 0) == 0 || sysname.rfind("ttyACM", 0) == 0) return 0;
  if (sysname.rfind("ttyS", 0) != 0 || parent == nullptr) return -1;
  // The 8250 driver registers placeholder ports without a UART under its
  // own platform device; a real UART sits on pnp, PCI or its own platform
  // device.
  return Text(::udev_device_get_sysname(parent)) == "serial8250" ? -1 : 1;
}

std::string ResolvedPath(const std::filesystem::path& path) {
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::canonical(path, error);
  return error ? std::string() : resolved.string();
}

std::string StableName(udev_device* device, const std::string& node) {
  for (udev_list_entry* link = ::udev_device_get_devlinks_list_entry(device); link != nullptr;
       link = ::udev_list_entry_get_next(link)) {
    std::string name = Text(::udev_list_entry_get_name(link));
    if (name.rfind(kByIdFolder, 0) == 0) return name;
  }
  std::error_code error;
  for (std::filesystem::directory_iterator entry(kByIdFolder, error), end; !error && entry != end;
       entry.increment(error)) {
    if (ResolvedPath(entry->path()) == node) return entry->path().string();
  }
  return std::string();
}

// "ttyUSB10" after "ttyUSB9": by name, then by number.
bool NumberOrder(const std::string& a, const std::string& b) {
  const auto digits = [](const std::string& s) { return s.find_first_of("0123456789"); };
  const std::string prefix_a = a.substr(0, digits(a)), prefix_b = b.substr(0, digits(b));
  if (prefix_a != prefix_b) return prefix_a < prefix_b;
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

}  // namespace

std::vector<PortEntry> ListSerialPorts() {
  struct Found {
    int kind;
    std::string sysname;
    PortEntry entry;
  };
  std::vector<Found> found;
  UdevPtr<udev> context(::udev_new());
  if (!context) return {};
  UdevPtr<udev_enumerate> enumerate(::udev_enumerate_new(context.get()));
  if (!enumerate || ::udev_enumerate_add_match_subsystem(enumerate.get(), "tty") < 0 ||
      ::udev_enumerate_scan_devices(enumerate.get()) < 0) {
    return {};
  }
  for (udev_list_entry* item = ::udev_enumerate_get_list_entry(enumerate.get()); item != nullptr;
       item = ::udev_list_entry_get_next(item)) {
    UdevPtr<udev_device> device(::udev_device_new_from_syspath(context.get(), ::udev_list_entry_get_name(item)));
    if (!device) continue;
    const std::string sysname = Text(::udev_device_get_sysname(device.get()));
    udev_device* parent = HardwareParent(device.get());
    const int kind = KindOf(sysname, parent);
    if (kind < 0) continue;
    PortEntry entry;
    entry.path = Text(::udev_device_get_devnode(device.get()));
    if (entry.path.empty()) entry.path = "/dev/" + sysname;
    entry.stable = StableName(device.get(), entry.path);
    if (parent != nullptr) entry.driver = Text(::udev_device_get_driver(parent));
    if (udev_device* usb = ::udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_device")) {
      entry.vendor_id = Text(::udev_device_get_sysattr_value(usb, "idVendor"));
      entry.product_id = Text(::udev_device_get_sysattr_value(usb, "idProduct"));
      entry.vendor = Text(::udev_device_get_sysattr_value(usb, "manufacturer"));
      entry.product = Text(::udev_device_get_sysattr_value(usb, "product"));
    }
    found.push_back(Found{kind, sysname, std::move(entry)});
  }
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    return a.kind != b.kind ? a.kind < b.kind : NumberOrder(a.sysname, b.sysname);
  });
  std::vector<PortEntry> ports;
  ports.reserve(found.size());
  for (Found& f : found) ports.push_back(std::move(f.entry));
  return ports;
}

}  // namespace mfu
