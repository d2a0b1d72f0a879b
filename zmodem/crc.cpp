// CRC tables and update steps of the ZMODEM frames. Both tables are computed
// by the compiler, so there is no start-up work and nothing to get wrong by
// hand; the static_asserts pin a few known entries.
#include <cstdint>

#include "zmodem/zmodem.h"

namespace mfu {
namespace {

// Entry i of the non-reflected CRC-16 table of 0x1021: i in the upper byte,
// shifted out eight times.
constexpr std::uint16_t Crc16Entry(unsigned i) {
  std::uint32_t r = i << 8;
  for (int bit = 0; bit < 8; ++bit) {
    r <<= 1;
    if ((r & 0x10000u) != 0) r ^= 0x1021u;
  }
  return static_cast<std::uint16_t>(r & 0xFFFFu);
}

// Entry i of the reflected CRC-32 table of 0xEDB88320.
constexpr std::uint32_t Crc32Entry(unsigned i) {
  std::uint32_t r = i;
  for (int bit = 0; bit < 8; ++bit) r = (r & 1u) != 0 ? (r >> 1) ^ 0xEDB88320u : r >> 1;
  return r;
}

static_assert(Crc16Entry(0) == 0x0000 && Crc16Entry(1) == 0x1021 && Crc16Entry(255) == 0x1EF0);
static_assert(Crc32Entry(0) == 0 && Crc32Entry(1) == 0x77073096u && Crc32Entry(255) == 0x2D02EF8Du);

}  // namespace

// The tables are plain arrays (their declaration is shared with C-style
// callers), filled from the constexpr entries above by macro expansion.
#define MFU_T4(F, n) (F)(n), (F)((n) + 1), (F)((n) + 2), (F)((n) + 3)
#define MFU_T16(F, n) MFU_T4(F, n), MFU_T4(F, (n) + 4), MFU_T4(F, (n) + 8), MFU_T4(F, (n) + 12)
#define MFU_T64(F, n) MFU_T16(F, n), MFU_T16(F, (n) + 16), MFU_T16(F, (n) + 32), MFU_T16(F, (n) + 48)
#define MFU_T256(F) MFU_T64(F, 0u), MFU_T64(F, 64u), MFU_T64(F, 128u), MFU_T64(F, 192u)

extern const std::uint16_t kCrc16Table[256] = {MFU_T256(Crc16Entry)};
extern const std::uint32_t kCrc32Table[256] = {MFU_T256(Crc32Entry)};

#undef MFU_T256
#undef MFU_T64
#undef MFU_T16
#undef MFU_T4

std::uint16_t UpdateCrc16(std::uint16_t crc, std::uint8_t byte) {
  return static_cast<std::uint16_t>(kCrc16Table[crc >> 8] ^ static_cast<std::uint16_t>(crc << 8) ^ byte);
}

std::uint32_t UpdateCrc32(std::uint32_t crc, std::uint8_t byte) {
  return kCrc32Table[(crc ^ byte) & 0xFFu] ^ (crc >> 8);
}

}  // namespace mfu
