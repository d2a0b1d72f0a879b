#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "tests/zmodem/zmodem_reference.h"
#include "zmodem/zmodem.h"

namespace mfu {
namespace {

TEST(Crc16, TableHasTheKnownEntries) {
  EXPECT_EQ(kCrc16Table[0], 0x0000);
  EXPECT_EQ(kCrc16Table[1], 0x1021);
  EXPECT_EQ(kCrc16Table[2], 0x2042);
  EXPECT_EQ(kCrc16Table[128], 0x9188);
  EXPECT_EQ(kCrc16Table[255], 0x1EF0);
}

TEST(Crc16, RuleWithTwoZeroBytesGivesTheXmodemCheckValue) {
  std::uint16_t crc = 0;
  for (const char c : std::string("123456789")) crc = UpdateCrc16(crc, static_cast<std::uint8_t>(c));
  crc = UpdateCrc16(UpdateCrc16(crc, 0), 0);
  EXPECT_EQ(crc, 0x31C3);
}

TEST(Crc16, RegisterOverDataAndItsCrcIsZero) {
  std::mt19937 rng(7);
  for (int n = 0; n < 200; ++n) {
    test::Bytes data(rng() % 40);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    const std::uint16_t expected = test::RefCrc16(data);
    std::uint16_t crc = 0;
    for (const std::uint8_t b : data) crc = UpdateCrc16(crc, b);
    EXPECT_EQ(UpdateCrc16(UpdateCrc16(crc, 0), 0), expected);
    crc = UpdateCrc16(UpdateCrc16(crc, static_cast<std::uint8_t>(expected >> 8)), static_cast<std::uint8_t>(expected));
    EXPECT_EQ(crc, 0);
  }
}

TEST(Crc32, TableHasTheKnownEntries) {
  EXPECT_EQ(kCrc32Table[0], 0x00000000u);
  EXPECT_EQ(kCrc32Table[1], 0x77073096u);
  EXPECT_EQ(kCrc32Table[128], 0xEDB88320u);
  EXPECT_EQ(kCrc32Table[255], 0x2D02EF8Du);
}

TEST(Crc32, RuleGivesTheStandardCheckValueAndResidue) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char c : std::string("123456789")) crc = UpdateCrc32(crc, static_cast<std::uint8_t>(c));
  EXPECT_EQ(~crc, 0xCBF43926u);
  const std::uint32_t check = ~crc;
  for (int i = 0; i < 4; ++i) crc = UpdateCrc32(crc, static_cast<std::uint8_t>(check >> (8 * i)));
  EXPECT_EQ(crc, 0xDEBB20E3u);
}

TEST(Crc32, EveryTableEntryMatchesTheBitwiseDefinition) {
  for (unsigned i = 0; i < 256; ++i) {
    std::uint32_t r = i;
    for (int k = 0; k < 8; ++k) r = (r & 1u) != 0 ? (r >> 1) ^ 0xEDB88320u : r >> 1;
    ASSERT_EQ(kCrc32Table[i], r) << i;
  }
}

TEST(Crc16, EveryTableEntryMatchesTheBitwiseDefinition) {
  for (unsigned i = 0; i < 256; ++i) {
    std::uint16_t r = static_cast<std::uint16_t>(i << 8);
    for (int k = 0; k < 8; ++k) r = (r & 0x8000) != 0 ? static_cast<std::uint16_t>((r << 1) ^ 0x1021) : static_cast<std::uint16_t>(r << 1);
    ASSERT_EQ(kCrc16Table[i], r) << i;
  }
}

}  // namespace
}  // namespace mfu
