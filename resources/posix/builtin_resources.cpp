// The program's own resources on Linux: the compiled-in text table and the
// firmware image embedded from resources/firmware by the build.
#include <cstdint>

#include "resources/resources.h"

extern const std::uint8_t mfu_firmware_image[];
extern const std::uint32_t mfu_firmware_image_size;
extern const bool mfu_firmware_is_standin;

namespace mfu {
namespace {

class CompiledInResources final : public ResourceSource {
 public:
  int LoadText(unsigned id, char* buffer, int limit) override { return LoadCompiledInText(id, buffer, limit); }

  FirmwareLookup FindFirmwareImage(FirmwareImage& image) override {
    image.data = mfu_firmware_image;
    image.size = mfu_firmware_image_size;
    return FirmwareLookup::kFound;
  }

  bool ImageIsStandIn() override { return mfu_firmware_is_standin; }
};

}  // namespace

ResourceSource& BuiltInResources() {
  static CompiledInResources resources;
  return resources;
}

}  // namespace mfu
