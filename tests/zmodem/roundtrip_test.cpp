// Random headers and blocks built by the encoder, read back by the test's own
// decoder and by the header reader, must give back exactly what went in.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>

#include "tests/zmodem/zmodem_reference.h"
#include "zmodem/zmodem.h"

namespace mfu {
namespace {

using test::Bytes;

// Bytes that the escaping treats specially come up far more often than in
// uniform noise, so every rule is crossed many times.
std::uint8_t NastyByte(std::mt19937& rng) {
  static const std::uint8_t kSpecial[] = {0x18, 0x11, 0x13, 0x91, 0x93, 0x0D, 0x8D, 0x40,
                                          0xC0, 0x7F, 0xFF, 0x00, 0x10, 0x90, 0x6B, 0x58};
  if (rng() % 2 == 0) return kSpecial[rng() % sizeof kSpecial];
  return static_cast<std::uint8_t>(rng());
}

class RoundTrip : public ::testing::Test {
 protected:
  RoundTrip() { zm_.FramePointer = zm_.FrameBuffer; }
  Bytes Frame() const { return Bytes(zm_.FrameBuffer, zm_.FrameBuffer + zm_.FrameLength); }
  ZMSender zm_{};
  std::mt19937 rng_{20240611};
};

TEST_F(RoundTrip, DataFramesDecodeToTheSameBytes) {
  for (int n = 0; n < 400; ++n) {
    // Set up the escaping memory with a known byte, "@" half of the time.
    const std::uint8_t before = (n % 2 == 0) ? 0x40 : 0x41;
    PutEscaped(zm_, before);
    zm_.FrameLength = 0;

    Bytes header{ZDATA, 0, 0, 0, 0};
    for (int i = 0; i < 5; ++i) header[static_cast<std::size_t>(i)] = NastyByte(rng_);
    const int length = (n < 4) ? n : static_cast<int>(rng_() % (kMaxBlock + 1));
    Bytes block(static_cast<std::size_t>(length));
    for (auto& b : block) b = NastyByte(rng_);

    std::memcpy(zm_.TxHeader, header.data(), 5);
    PutBinaryHeader(zm_);
    PutDataSubpacket(zm_, block.data(), length, ZCRCW);
    const Bytes frame = Frame();

    std::uint8_t last = before;
    Bytes expected = test::RefBinaryHeader(header, last);
    const Bytes sub = test::RefSubpacket(block, ZCRCW, last);
    expected.insert(expected.end(), sub.begin(), sub.end());
    ASSERT_EQ(frame, expected) << "frame " << n;
    ASSERT_EQ(LastSentByte, last);

    const test::RefFrame decoded = test::RefDecodeBinaryFrame(frame, before, true);
    ASSERT_EQ(decoded.error, "") << "frame " << n;
    EXPECT_EQ(decoded.header, header);
    EXPECT_EQ(decoded.data, block);
    EXPECT_EQ(decoded.frame_end, ZCRCW);
    EXPECT_EQ(decoded.consumed, frame.size());

    // The header part also reads back through the header reader.
    zm_.RxBuffer = frame.data();
    zm_.RxPosition = 0;
    zm_.RxLength = static_cast<std::int32_t>(frame.size());
    ASSERT_EQ(GetHeader(zm_), HeaderBinary16) << "frame " << n;
    EXPECT_EQ(Bytes(zm_.RxHeader, zm_.RxHeader + 5), header);
  }
}

TEST_F(RoundTrip, HexHeadersReadBack) {
  for (int n = 0; n < 400; ++n) {
    Bytes header(5);
    for (auto& b : header) b = static_cast<std::uint8_t>(rng_());
    if (n < 12) header[0] = static_cast<std::uint8_t>(n);  // every real type once
    zm_.FrameLength = 0;
    std::memcpy(zm_.TxHeader, header.data(), 5);
    PutHexHeader(zm_);
    const bool no_xon = header[0] == ZFIN || header[0] == ZACK;
    const Bytes frame = Frame();
    ASSERT_EQ(frame, test::RefHexHeader(header, no_xon ? Bytes{0x0D, 0x8A} : Bytes{0x0D, 0x8A, 0x11}));
    zm_.RxBuffer = frame.data();
    zm_.RxPosition = 0;
    zm_.RxLength = static_cast<std::int32_t>(frame.size());
    ASSERT_EQ(GetHeader(zm_), HeaderHex) << "header " << n;
    EXPECT_EQ(Bytes(zm_.RxHeader, zm_.RxHeader + 5), header);
    EXPECT_EQ(zm_.RxPosition, zm_.RxLength);
  }
}

TEST_F(RoundTrip, ConsecutiveFramesKeepTheEscapingRuleAcrossWrites) {
  // A run of frames as the sender builds them, one after the other; the
  // decoder follows the placed bytes across frames just as the line does.
  PutEscaped(zm_, 0x41);
  std::uint8_t last = 0x41;
  std::int32_t position = 0;
  for (int n = 0; n < 100; ++n) {
    zm_.FrameLength = 0;
    zm_.TxHeader[0] = ZDATA;
    StorePosition(zm_, position);
    Bytes block(static_cast<std::size_t>(1 + rng_() % kMaxBlock));
    for (auto& b : block) b = NastyByte(rng_);
    PutBinaryHeader(zm_);
    PutDataSubpacket(zm_, block.data(), static_cast<std::int32_t>(block.size()), ZCRCW);
    const test::RefFrame decoded = test::RefDecodeBinaryFrame(Frame(), last, true);
    ASSERT_EQ(decoded.error, "") << "frame " << n;
    EXPECT_EQ(decoded.data, block);
    EXPECT_EQ(decoded.header[1] | decoded.header[2] << 8 | decoded.header[3] << 16 | decoded.header[4] << 24, position);
    last = LastSentByte;
    position += static_cast<std::int32_t>(block.size());
  }
}

}  // namespace
}  // namespace mfu
