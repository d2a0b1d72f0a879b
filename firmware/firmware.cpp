#include "firmware/firmware.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/diag.h"
#include "resources/resources.h"
#include "resources/text_ids.h"
#include "serial/comm_port.h"

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

std::int32_t SendZFILE(ZMSender& zm, SenderOutlet& outlet) {
  FirmwareImage image;
  switch (FindFirmwareImage(image)) {
    case FirmwareLookup::kNotFound:
      Diag("Can't FindResource\n");
      return 0;
    case FirmwareLookup::kNotLoadable:
      Diag("Can't LoadResource\n");
      return 0;
    case FirmwareLookup::kFound:
      break;
  }
  zm.ImageSize = static_cast<std::int32_t>(image.size);
  zm.ImageData = image.data;

  const std::int32_t blocks = (zm.ImageSize + kMaxBlock - 1) / kMaxBlock;
  outlet.SetProgressRange(static_cast<std::uint16_t>(blocks));

  std::uint8_t information[kFileInformationSize];
  BuildFileInformation(information, zm.ImageSize);

  char date[16];
  LoadText(kTextFirmwareDate, date, sizeof date);
  zm.FileDate = static_cast<std::int32_t>(std::strtol(date, nullptr, 10));

  zm.TxHeader[0] = ZFILE;
  zm.TxHeader[1] = 0;
  zm.TxHeader[2] = zm.FileTransport;
  zm.TxHeader[3] = zm.FileManagement;
  zm.TxHeader[4] = zm.FileConversion;
  zm.FrameLength = 0;
  PutBinaryHeader(zm);
  PutDataSubpacket(zm, information, kFileInformationSize, ZCRCW);
  WriteToComm(zm.FrameBuffer, zm.FrameLength);
  zm.FrameLength = 0;
  zm.FilePosition = 0;
  return 1;
}

}  // namespace mfu
