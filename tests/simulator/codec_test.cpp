// The simulator's own codec against known bytes of the ZMODEM protocol, so
// that the model judges the tool by the protocol and not by itself.
#include <gtest/gtest.h>

#include <string>

#include "simulator/zm_codec.h"

namespace mfu::sim {
namespace {

Bytes Of(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(SimCodec, Crc16IsXmodem) {
  const Bytes digits = Of("123456789");
  EXPECT_EQ(Crc16(digits.data(), digits.size()), 0x31C3);
}

TEST(SimCodec, HexHeadersAreByteExact) {
  EXPECT_EQ(EncodeHexHeader(Header::WithPosition(zm::kRqinit, 0)),
            Cat(Cat({0x2A, 0x2A, 0x18, 0x42}, Of("00000000000000")), {0x0D, 0x8A, 0x11}));
  EXPECT_EQ(EncodeHexHeader(Header::WithPosition(zm::kFin, 0)),
            Cat(Cat({0x2A, 0x2A, 0x18, 0x42}, Of("0800000000022d")), {0x0D, 0x8A}));
  // ZACK for 512: 20 bytes, no XON.
  EXPECT_EQ(EncodeHexHeader(Header::WithPosition(zm::kAck, 512)),
            Cat(Cat({0x2A, 0x2A, 0x18, 0x42}, Of("030002000080b2")), {0x0D, 0x8A}));
  EXPECT_EQ(EncodeHexHeader(Header::WithPosition(zm::kRpos, 0)),
            Cat(Cat({0x2A, 0x2A, 0x18, 0x42}, Of("0900000000a87c")), {0x0D, 0x8A, 0x11}));
}

TEST(SimCodec, BinaryHeaderAndSubpacketAreByteExact) {
  EXPECT_EQ(EncodeBinaryHeader(Header::WithPosition(zm::kData, 512)),
            (Bytes{0x2A, 0x18, 0x41, 0x0A, 0x00, 0x02, 0x00, 0x00, 0x28, 0xCE}));
  const Bytes abc = Of("abc");
  EXPECT_EQ(EncodeSubpacket(abc.data(), abc.size(), zm::kCrcW), (Bytes{0x61, 0x62, 0x63, 0x18, 0x6B, 0x59, 0xD9, 0x11}));
  EXPECT_EQ(EncodeSubpacket(nullptr, 0, zm::kCrcW), (Bytes{0x18, 0x6B, 0xDD, 0xCD, 0x11}));
}

TEST(SimCodec, ParsesEscapedDataBack) {
  Bytes data;
  for (int i = 0; i < 256; ++i) data.push_back(static_cast<std::uint8_t>(i));
  data.push_back(0x40);
  data.push_back(0x0D);
  const Bytes frame = Cat(EncodeBinaryHeader(Header::WithPosition(zm::kData, 0x11131800)),
                          EncodeSubpacket(data.data(), data.size(), zm::kCrcW));
  std::size_t consumed = 0;
  ParsedFrame parsed;
  ASSERT_EQ(FrameParser::Parse(frame.data(), frame.size(), consumed, parsed), FrameParser::Result::kFrame);
  EXPECT_EQ(consumed, frame.size());
  EXPECT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.header.type, zm::kData);
  EXPECT_EQ(parsed.header.Position(), 0x11131800u);
  EXPECT_EQ(parsed.data, data);
  EXPECT_EQ(parsed.frame_end, zm::kCrcW);
  // Every prefix is incomplete, never a frame or an error.
  for (std::size_t n = 1; n < frame.size() - 1; ++n) {
    ASSERT_EQ(FrameParser::Parse(frame.data(), n, consumed, parsed), FrameParser::Result::kNeedMore) << n;
  }
}

TEST(SimCodec, RejectsDamage) {
  const Bytes abc = Of("abc");
  Bytes frame = Cat(EncodeBinaryHeader(Header::WithPosition(zm::kData, 0)), EncodeSubpacket(abc.data(), 3, zm::kCrcW));
  frame[11] ^= 0x01;  // 'b' -> 'c'
  std::size_t consumed = 0;
  ParsedFrame parsed;
  ASSERT_EQ(FrameParser::Parse(frame.data(), frame.size(), consumed, parsed), FrameParser::Result::kFrame);
  EXPECT_EQ(parsed.error, "data subpacket CRC wrong");

  Bytes header = EncodeBinaryHeader(Header::WithPosition(zm::kEof, 3));
  header[5] ^= 0x01;
  ASSERT_EQ(FrameParser::Parse(header.data(), header.size(), consumed, parsed), FrameParser::Result::kFrame);
  EXPECT_EQ(parsed.error, "binary header CRC wrong");

  Bytes hex = EncodeHexHeader(Header::WithPosition(zm::kFin, 0));
  hex[4] = 'A';  // uppercase is not what the tool sends
  hex[5] = '8';
  ASSERT_EQ(FrameParser::Parse(hex.data(), hex.size(), consumed, parsed), FrameParser::Result::kFrame);
  EXPECT_NE(parsed.error, "");
}

TEST(SimCodec, SkipsNoiseBeforeAPad) {
  const Bytes bytes = Cat(Of("OOxy"), EncodeHexHeader(Header::WithPosition(zm::kFin, 0)));
  std::size_t consumed = 0;
  ParsedFrame parsed;
  ASSERT_EQ(FrameParser::Parse(bytes.data(), bytes.size(), consumed, parsed), FrameParser::Result::kSkipped);
  EXPECT_EQ(consumed, 4u);
}

}  // namespace
}  // namespace mfu::sim
