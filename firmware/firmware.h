// The firmware image carried inside the program and the file name and date
// under which it is announced to the modem: data only. The sender frames and
// writes the announcement itself; nothing here knows the protocol, the port
// or the window.
#pragma once

#include <cstdint>

namespace mfu {

inline constexpr int kFileInformationSize = 128;

// Builds the 128-byte file information: the name, NUL, "%lu %s 100666 " with
// the size and the octal date, zeros to the end.
void BuildFileInformation(std::uint8_t (&block)[kFileInformationSize], std::int32_t image_size);

// What announces the image: where it lies (read-only, as long as the program
// lives), its size, its date (seconds since 1970, UTC) and the file
// information that goes out in the ZFILE frame.
struct FirmwareFile {
  const std::uint8_t* data = nullptr;
  std::int32_t size = 0;
  std::int32_t date = 0;
  std::uint8_t information[kFileInformationSize] = {};
};

// Finds the image and fills `file`. false when the image cannot be found or
// loaded ("Can't FindResource", "Can't LoadResource" on the diagnostic
// channel); `file` is then left as it was. Any thread.
bool FindFirmwareFile(FirmwareFile& file);

}  // namespace mfu
