#include "session/answer_reader.h"

#include <cstring>

#include "serial/comm_port.h"
#include "ui/log.h"

namespace mfu {

void ReadModemAnswer(bool show, Millis limit) {
  const int count = ReadFromComm(ModemResponseBuffer, kModemResponseBufferSize, limit);
  if (count <= 0) {
    AppendLogString(2004);
    return;
  }
  if (!show) return;
  // The answer is exactly this read's bytes: cut it at the marker, and make
  // a text of it that ends there (the buffer has no terminator of its own,
  // and the pane takes a text up to its first NUL).
  static constexpr char kMarker[] = "Modem-Update";
  constexpr std::size_t kMarkerLength = sizeof kMarker - 1;
  std::size_t length = static_cast<std::size_t>(count);
  for (std::size_t at = 0; at + kMarkerLength <= static_cast<std::size_t>(count); ++at) {
    if (std::memcmp(ModemResponseBuffer + at, kMarker, kMarkerLength) == 0) {
      length = at;
      break;
    }
  }
  char answer[kModemResponseBufferSize + 1];
  std::memcpy(answer, ModemResponseBuffer, length);
  answer[length] = '\0';
  AppendLog(answer);
  AppendLogString(2003);
}

}  // namespace mfu
