#include "platform/diag.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace mfu {
namespace {

void StderrSink(const char* text) {
  std::fputs(text, stderr);
  std::fflush(stderr);
}

std::atomic<DiagSink> g_sink{&StderrSink};

}  // namespace

void Diag(const char* text) { g_sink.load()(text); }

// printf-style on purpose: the diagnostics are formatted like the
// platform's debugger texts ("... failed (%d)\n").
void DiagF(const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  Diag(buffer);
}

void SetDiagSink(DiagSink sink) { g_sink.store(sink != nullptr ? sink : &StderrSink); }

}  // namespace mfu
