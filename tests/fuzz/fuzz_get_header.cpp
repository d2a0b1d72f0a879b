// libFuzzer target: any bytes at all through the header reader. The input is
// copied into a buffer of exactly its size so that a read one byte too far
// is caught by the address sanitizer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/diag.h"
#include "zmodem/zmodem.h"

namespace {

void QuietSink(const char*) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = [] {
    mfu::SetDiagSink(&QuietSink);  // wrong CRCs are common here
    return true;
  }();
  (void)quiet;
  if (size > 1 << 16) return 0;
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[size == 0 ? 1 : size]);
  if (size != 0) std::memcpy(buffer.get(), data, size);

  static mfu::ZMSender zm{};
  zm.RxBuffer = size == 0 ? nullptr : buffer.get();
  zm.RxPosition = 0;
  zm.RxLength = static_cast<std::int32_t>(size);
  const int result = mfu::GetHeader(zm);
  if (result < mfu::HeaderError || result > mfu::HeaderBinary32) std::abort();
  if (zm.RxPosition < 0 || zm.RxPosition > zm.RxLength) std::abort();
  return 0;
}
