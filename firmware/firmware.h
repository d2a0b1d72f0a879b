// The firmware image carried inside the program, the file name and date under
// which it is announced to the modem, and the ZFILE frame that announces it.
#pragma once

#include <cstdint>

#include "zmodem/sender_outlet.h"
#include "zmodem/zmodem.h"

namespace mfu {

inline constexpr int kFileInformationSize = 128;

// Builds the 128-byte file information: the name, NUL, "%lu %s 100666 " with
// the size and the octal date, zeros to the end.
void BuildFileInformation(std::uint8_t (&block)[kFileInformationSize], std::int32_t image_size);

// Finds the image, records it in the record, sets the progress range through
// `outlet` (one step per 512-byte block), and sends ZFILE with the file
// information. 1 when the frame went to the port, 0 when the image could not
// be found or loaded (nothing sent, the progress bar untouched). Sender thread.
std::int32_t SendZFILE(ZMSender& zm, SenderOutlet& outlet);

}  // namespace mfu
