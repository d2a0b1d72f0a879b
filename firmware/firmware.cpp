#include "firmware/firmware.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/diag.h"
#include "resources/resources.h"
#include "resources/text_ids.h"

namespace mfu {

void BuildFileInformation(std::uint8_t (&block)[kFileInformationSize], std::int32_t image_size) {
  std::memset(block, 0, sizeof block);
  char name[64];
  LoadText(kTextFirmwareName, name, sizeof name);
  const std::size_t name_length = std::strlen(name);
  std::memcpy(block, name, name_length);
  char date[16];
  LoadText(kTextFirmwareDateOctal, date, sizeof date);
  // Behind the name's NUL; snprintf keeps the text and its NUL inside the
  // block whatever the lengths.
  char* details = reinterpret_cast<char*>(block) + name_length + 1;
  const std::size_t room = sizeof block - name_length - 1;
  std::snprintf(details, room, "%lu %s 100666 ", static_cast<unsigned long>(image_size), date);
}

bool FindFirmwareFile(FirmwareFile& file) {
  FirmwareImage image;
  switch (FindFirmwareImage(image)) {
    case FirmwareLookup::kNotFound:
      Diag("Can't FindResource\n");
      return false;
    case FirmwareLookup::kNotLoadable:
      Diag("Can't LoadResource\n");
      return false;
    case FirmwareLookup::kFound:
      break;
  }
  file.data = image.data;
  file.size = static_cast<std::int32_t>(image.size);
  BuildFileInformation(file.information, file.size);
  char date[16];
  LoadText(kTextFirmwareDate, date, sizeof date);
  file.date = static_cast<std::int32_t>(std::strtol(date, nullptr, 10));
  return true;
}

}  // namespace mfu
