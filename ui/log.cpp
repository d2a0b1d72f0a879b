#include "ui/log.h"

#include <cstdio>
#include <cstring>

#include "resources/resources.h"
#include "resources/text_ids.h"
#include "ui/window.h"

namespace mfu {

void AppendLog(const char* text) {
  if (Window* window = MainDialog(); window != nullptr) window->AppendLog(text);
}

void AppendLogString(unsigned id) {
  char message[kMessageBufferSize];
  LoadText(id, message, kMessageBufferSize);
  AppendLog(message);
}

void ReportFailure(const char* text) {
  AppendLog(text);
  AppendLogString(kTextRetryHint);
  AppendLogString(kTextRetryHintEnd);
}

void AppendLogFormatted(unsigned id, const char* argument) {
  char format[kMessageBufferSize];
  LoadText(id, format, kMessageBufferSize);
  char message[kMessageBufferSize];
  // The texts hold at most one "%s"; one that holds none (2012) comes out
  // unchanged. Any other conversion is written as it stands, never acted on.
  std::size_t out = 0;
  bool placed = false;
  for (const char* p = format; *p != '\0' && out + 1 < sizeof message; ++p) {
    if (!placed && p[0] == '%' && p[1] == 's') {
      for (const char* a = argument; a != nullptr && *a != '\0' && out + 1 < sizeof message; ++a) {
        message[out++] = *a;
      }
      placed = true;
      ++p;
      continue;
    }
    message[out++] = *p;
  }
  message[out] = '\0';
  AppendLog(message);
}

std::string HelpText() {
  char help[2048] = {};
  for (unsigned id = kTextHelpFirst; id <= kTextHelpLast; ++id) {
    char piece[128];
    LoadText(id, piece, sizeof piece);
    std::strncat(help, piece, sizeof help - std::strlen(help) - 1);
  }
  return help;
}

}  // namespace mfu
