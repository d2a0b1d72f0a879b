#include "serial/win32/win32_error.h"

#include <windows.h>

#include "serial/serial_device.h"

namespace mfu {

std::uint32_t MapWin32Error(std::uint32_t win32_error) {
  switch (win32_error) {
    case ERROR_PATH_NOT_FOUND:   // \\.\COM9 on a machine without it
      return kErrorFileNotFound;
    case ERROR_NOT_FOUND:        // CancelIoEx found nothing left to cancel
    case ERROR_CANCELLED:
      return kErrorOperationAborted;
    case ERROR_BAD_COMMAND:      // the device is gone (USB adapter pulled)
    case ERROR_DEVICE_NOT_CONNECTED:
      return kErrorDeviceRemoved;
    default:
      return win32_error;
  }
}

}  // namespace mfu
