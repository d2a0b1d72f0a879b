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

void ReportFailure(const char* text) { ReportFailure(text, nullptr); }

void ReportFailure(const char* text, const char* cause) {
  AppendLog(text);
  if (cause != nullptr) AppendLog(cause);
  AppendLogString(kTextRetryHint);
  AppendLogString(kTextRetryHintEnd);
}

void AppendLogFormatted(unsigned id, const char* argument) { AppendLogFormatted(id, {argument}); }

void AppendLogFormatted(unsigned id, std::initializer_list<const char*> arguments) {
  AppendLog(FormatLogText(id, arguments).c_str());
}

std::string FormatLogText(unsigned id, std::initializer_list<const char*> arguments) {
  char format[kMessageBufferSize];
  LoadText(id, format, kMessageBufferSize);
  // Only "%s", "%d" and "%u" are marks; any other conversion is written as it
  // stands, never acted on, so a text can never read an argument it lacks.
  std::string message;
  const char* const* next = arguments.begin();
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && (p[1] == 's' || p[1] == 'd' || p[1] == 'u')) {
      if (next != arguments.end()) {
        if (*next != nullptr) message += *next;
        ++next;
      }
      ++p;
      continue;
    }
    message += *p;
  }
  return message;
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
