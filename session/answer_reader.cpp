#include "session/answer_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

#include "resources/text_ids.h"
#include "serial/comm_port.h"
#include "ui/log.h"

namespace mfu {
namespace {

constexpr char kMarker[] = "Modem-Update";

}  // namespace

namespace {

// Reads one answer. Returns the count, 0 when none came. An answer still
// coming in at the limit (a modem that dribbles) is what came by then: it is
// shown and judged, not taken for no answer.
std::uint32_t ReadAnswer(CommPort& port, Millis limit) {
  const int read = port.ReadFromComm(ModemResponseBuffer, kModemResponseBufferSize, limit);
  if (read < 0) return port.CollectTimedOutRead(ModemResponseBuffer, kModemResponseBufferSize);
  if (read == 0) return 0;
  return std::min<std::uint32_t>(static_cast<std::uint32_t>(read), kModemResponseBufferSize);
}

void TellNoAnswer(const CommPort& port) {
  // A read the user cut short proves nothing of the modem.
  if (!port.CommWaitsInterrupted()) AppendLogString(kTextNoAnswer);
}

// Appends the answer (at most kModemResponseBufferSize bytes), cut at
// "Modem-Update".
void ShowAnswer(std::span<const std::uint8_t> answer) {
  // Only this read's bytes are the answer: what lies behind them in the
  // buffer is left from an earlier, longer answer.
  const std::uint8_t* begin = answer.data();
  const std::uint8_t* end = begin + std::min<std::size_t>(answer.size(), kModemResponseBufferSize);
  const std::uint8_t* marker = reinterpret_cast<const std::uint8_t*>(kMarker);
  const std::uint8_t* cut = std::search(begin, end, marker, marker + sizeof kMarker - 1);

  // The log takes text: the copy ends at the cut (or at a NUL the modem sent
  // before it, where the pane would stop as well).
  char text[kModemResponseBufferSize + 1];
  const auto length = static_cast<std::size_t>(cut - begin);
  std::memcpy(text, begin, length);
  text[length] = '\0';
  AppendLog(text);
}

}  // namespace

bool ReadModemAnswer(CommPort& port, bool show, Millis limit) {
  const std::uint32_t count = ReadAnswer(port, limit);
  if (count == 0) {
    TellNoAnswer(port);
    return false;
  }
  if (!show) return true;
  ShowAnswer({ModemResponseBuffer, count});
  AppendLogString(kTextPressStart);
  return true;
}

std::span<const std::uint8_t> ReadFinalAnswer(CommPort& port, Millis limit) {
  return {ModemResponseBuffer, ReadAnswer(port, limit)};
}

void ShowFinalAnswer(const CommPort& port, std::span<const std::uint8_t> answer) {
  if (answer.empty()) {
    TellNoAnswer(port);
  } else {
    ShowAnswer(answer);
  }
}

}  // namespace mfu
