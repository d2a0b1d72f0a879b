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

namespace {

// Reads one answer. Returns the count, 0 when none came.
std::uint32_t ReadAnswer(Millis limit) {
  const int read = ReadFromComm(ModemResponseBuffer, kModemResponseBufferSize, limit);
  if (read <= 0) return 0;
  return std::min<std::uint32_t>(static_cast<std::uint32_t>(read), kModemResponseBufferSize);
}

void TellNoAnswer() {
  // A read the user cut short proves nothing of the modem.
  if (!CommWaitsInterrupted()) AppendLogString(kTextNoAnswer);
}

// Appends the answer's first `count` bytes, cut at "Modem-Update".
void ShowAnswer(std::uint32_t count) {
  // Only this read's bytes are the answer: what lies behind them in the
  // buffer is left from an earlier, longer answer.
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
}

}  // namespace

bool ReadModemAnswer(bool show, Millis limit) {
  const std::uint32_t count = ReadAnswer(limit);
  if (count == 0) {
    TellNoAnswer();
    return false;
  }
  if (!show) return true;
  ShowAnswer(count);
  AppendLogString(kTextPressStart);
  return true;
}

std::uint32_t ReadFinalAnswer(Millis limit) { return ReadAnswer(limit); }

void ShowFinalAnswer(std::uint32_t count) {
  if (count == 0) {
    TellNoAnswer();
  } else {
    ShowAnswer(count);
  }
}

}  // namespace mfu
