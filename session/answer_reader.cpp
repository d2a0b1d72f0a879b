#include "session/answer_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "resources/text_ids.h"
#include "serial/comm_port.h"
#include "ui/log.h"

namespace mfu {
namespace {

constexpr char kMarker[] = "Modem-Update";

}  // namespace

void ReadModemAnswer(bool show, Millis limit) {
  const int read = ReadFromComm(ModemResponseBuffer, kModemResponseBufferSize, limit);
  if (read <= 0) {
    AppendLogString(kTextNoAnswer);
    return;
  }
  if (!show) return;

  // Only this read's bytes are the answer: what lies behind them in the
  // buffer is left from an earlier, longer answer.
  const std::uint32_t count = std::min<std::uint32_t>(static_cast<std::uint32_t>(read), kModemResponseBufferSize);
  const std::uint8_t* begin = ModemResponseBuffer;
  const std::uint8_t* end = begin + count;
  const std::uint8_t* marker = reinterpret_cast<const std::uint8_t*>(kMarker);
  const std::uint8_t* cut = std::search(begin, end, marker, marker + sizeof kMarker - 1);

  // The log takes text: the copy ends at the cut (or at a NUL the modem sent
  // before it, where the pane would stop as well).
  char text[kModemResponseBufferSize + 1];
  const auto length = static_cast<std::size_t>(cut - begin);
  std::memcpy(text, begin, length);
  text[length] = '\0';
  AppendLog(text);
  AppendLogString(kTextPressStart);
}

}  // namespace mfu
