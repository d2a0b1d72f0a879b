// The program's own resources on Windows: the string table through
// LoadStringA and the firmware image through FindResourceA / LoadResource /
// SizeofResource / LockResource, all on the program's module.
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "resources/resources.h"
#include "resources/win32/module_instance.h"

namespace mfu {
namespace {

std::atomic<HINSTANCE> g_module{nullptr};

// The firmware's resource id and its type, a type name given as text (not the
// predefined numeric raw-data type).
constexpr WORD kFirmwareId = 1005;
constexpr const char* kFirmwareType = "RT_RCDATA";

}  // namespace
}  // namespace mfu

extern const bool mfu_firmware_is_standin;

namespace mfu {
namespace {

class ModuleResources final : public ResourceSource {
 public:
  int LoadText(unsigned id, char* buffer, int limit) override {
    // A limit of 0 would make LoadStringA hand out a pointer into the
    // resource instead of copying; the seam promises to copy nothing.
    if (buffer == nullptr || limit < 1) return 0;
    buffer[0] = '\0';
    const int copied = ::LoadStringA(ModuleInstance(), id, buffer, limit);
    if (copied <= 0) buffer[0] = '\0';
    return copied > 0 ? copied : 0;
  }

  FirmwareLookup FindFirmwareImage(FirmwareImage& image) override {
    HMODULE module = ModuleInstance();
    HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(kFirmwareId), kFirmwareType);
    if (found == nullptr) return FirmwareLookup::kNotFound;
    HGLOBAL loaded = ::LoadResource(module, found);
    if (loaded == nullptr) return FirmwareLookup::kNotLoadable;
    const DWORD size = ::SizeofResource(module, found);
    const void* data = ::LockResource(loaded);
    if (data == nullptr) return FirmwareLookup::kNotLoadable;
    // The mapped resource lives as long as the module; nothing frees it.
    image.data = static_cast<const std::uint8_t*>(data);
    image.size = static_cast<std::uint32_t>(size);
    return FirmwareLookup::kFound;
  }

  bool ImageIsStandIn() override { return mfu_firmware_is_standin; }
};

}  // namespace

HINSTANCE ModuleInstance() {
  HINSTANCE module = g_module.load();
  return module != nullptr ? module : ::GetModuleHandleA(nullptr);
}

void SetModuleInstance(HINSTANCE instance) { g_module.store(instance); }

ResourceSource& BuiltInResources() {
  static ModuleResources resources;
  return resources;
}

}  // namespace mfu
