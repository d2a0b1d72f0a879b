// The system's words for a port error on Windows: the message FormatMessage
// has for the Win32 error the backend saw, or for the port's error code
// (numbered as on Win32), in the system's language and ANSI code page.
#include <windows.h>

#include <string>

#include "serial/serial_device.h"

namespace mfu {

std::string SystemErrorText(std::uint32_t error, int system_error) {
  const DWORD code = system_error != 0 ? static_cast<DWORD>(system_error) : static_cast<DWORD>(error);
  char buffer[256] = {};
  const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        buffer, sizeof buffer, nullptr);
  std::string text = length > 0 ? std::string(buffer, length) : "Fehler " + std::to_string(code);
  while (!text.empty() && (text.back() == '.' || text.back() == ' ' || text.back() == '\r' || text.back() == '\n'))
    text.pop_back();
  return text;
}

}  // namespace mfu
