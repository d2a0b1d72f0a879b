#include <algorithm>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "tests/zmodem/zmodem_reference.h"
#include "zmodem/zmodem.h"

namespace mfu {
namespace {

using test::Bytes;

// A fresh record of its own per test, pointed at its buffer the way the
// sender's initialisation does it.
class Encode : public ::testing::Test {
 protected:
  Encode() { zm_.FramePointer = zm_.FrameBuffer; }

  Bytes Frame() const { return Bytes(zm_.FrameBuffer, zm_.FrameBuffer + zm_.FrameLength); }

  void Header(std::uint8_t type, std::int32_t position) {
    zm_.TxHeader[0] = type;
    StorePosition(zm_, position);
  }

  // Puts a known byte first, so that the escaping memory is set up, and
  // empties the frame again.
  void SetLastSent(std::uint8_t placed) {
    PutEscaped(zm_, placed);
    ASSERT_EQ(LastSentByte, placed);
    zm_.FrameLength = 0;
  }

  Bytes Escaped(std::uint8_t b) {
    zm_.FrameLength = 0;
    PutEscaped(zm_, b);
    return Frame();
  }

  ZMSender zm_{};
};

Bytes Text(const char* s) { return Bytes(s, s + std::strlen(s)); }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST_F(Encode, StorePositionWritesLittleEndianAndLeavesTheType) {
  zm_.TxHeader[0] = 0xA5;
  StorePosition(zm_, 0x12345678);
  EXPECT_EQ(Bytes(zm_.TxHeader, zm_.TxHeader + 5), (Bytes{0xA5, 0x78, 0x56, 0x34, 0x12}));
  StorePosition(zm_, -2);
  EXPECT_EQ(Bytes(zm_.TxHeader, zm_.TxHeader + 5), (Bytes{0xA5, 0xFE, 0xFF, 0xFF, 0xFF}));
}

TEST_F(Encode, ToHexDigitsIsLowercaseUpperNibbleFirst) {
  char d[2];
  ToHexDigits(0x00, d);
  EXPECT_EQ(std::string(d, 2), "00");
  ToHexDigits(0x2D, d);
  EXPECT_EQ(std::string(d, 2), "2d");
  ToHexDigits(0xAF, d);
  EXPECT_EQ(std::string(d, 2), "af");
  ToHexDigits(0xF0, d);
  EXPECT_EQ(std::string(d, 2), "f0");
  ToHexDigits(0x9B, d);
  EXPECT_EQ(std::string(d, 2), "9b");
}

TEST_F(Encode, AppendFrameByteDoesNothingBeforeInitialisation) {
  ZMSender raw{};
  AppendFrameByte(raw, 0x41);
  PutHexHeader(raw);
  EXPECT_EQ(raw.FrameLength, 0);
  for (const std::uint8_t b : raw.FrameBuffer) ASSERT_EQ(b, 0);
}

TEST_F(Encode, AppendFrameByteStopsAtTheEndOfTheBuffer) {
  for (int i = 0; i < kFrameBufferSize; ++i) AppendFrameByte(zm_, static_cast<std::uint8_t>(i));
  EXPECT_EQ(zm_.FrameLength, kFrameBufferSize);
  AppendFrameByte(zm_, 0xEE);
  AppendFrameByte(zm_, 0xEE);
  EXPECT_EQ(zm_.FrameLength, kFrameBufferSize);
  EXPECT_EQ(zm_.FrameBuffer[kFrameBufferSize - 1], static_cast<std::uint8_t>(kFrameBufferSize - 1));
}

TEST_F(Encode, AppendFrameByteNeverWritesInFrontOfTheBuffer) {
  zm_.FrameLength = -1;
  AppendFrameByte(zm_, 0xEE);
  EXPECT_EQ(zm_.FrameLength, -1);
  for (const std::uint8_t b : zm_.FrameBuffer) ASSERT_EQ(b, 0);
}

TEST_F(Encode, ZrqinitHexHeaderIsByteExact) {
  Header(ZRQINIT, 0);
  PutHexHeader(zm_);
  EXPECT_EQ(Frame(), Concat({{0x2A, 0x2A, 0x18, 0x42}, Text("00000000000000"), {0x0D, 0x8A, 0x11}}));
  EXPECT_EQ(zm_.FrameLength, 21);
}

TEST_F(Encode, ZfinHexHeaderHasNoXon) {
  Header(ZFIN, 0);
  PutHexHeader(zm_);
  EXPECT_EQ(Frame(), Concat({{0x2A, 0x2A, 0x18, 0x42}, Text("0800000000022d"), {0x0D, 0x8A}}));
  EXPECT_EQ(zm_.FrameLength, 20);
}

TEST_F(Encode, ZackHexHeaderHasNoXonAndOthersDo) {
  Header(ZACK, 512);
  PutHexHeader(zm_);
  EXPECT_EQ(Frame(), Concat({{0x2A, 0x2A, 0x18, 0x42}, Text("030002000080b2"), {0x0D, 0x8A}}));
  for (const std::uint8_t type : {ZRINIT, ZABORT, ZRPOS, ZEOF, ZDATA, ZFILE}) {
    zm_.FrameLength = 0;
    Header(type, 0);
    PutHexHeader(zm_);
    EXPECT_EQ(zm_.FrameLength, 21) << int(type);
    EXPECT_EQ(zm_.FrameBuffer[20], XON) << int(type);
  }
}

TEST_F(Encode, HexHeaderNeverEscapesAndIgnoresTheEscapingMemory) {
  SetLastSent(0x40);
  Header(0x11, 0x18131140);
  PutHexHeader(zm_);
  const Bytes expected = test::RefHexHeader({0x11, 0x40, 0x11, 0x13, 0x18}, {0x0D, 0x8A, 0x11});
  EXPECT_EQ(Frame(), expected);
  EXPECT_EQ(LastSentByte, 0x40);  // raw bytes do not touch it
}

TEST_F(Encode, ZdataHeaderForPosition512IsByteExact) {
  Header(ZDATA, 512);
  PutBinaryHeader(zm_);
  EXPECT_EQ(Frame(), (Bytes{0x2A, 0x18, 0x41, 0x0A, 0x00, 0x02, 0x00, 0x00, 0x28, 0xCE}));
  EXPECT_EQ(LastSentByte, 0xCE);
}

TEST_F(Encode, BinaryHeaderEscapesTypeAndPositionBytes) {
  SetLastSent(0x41);
  Header(0x11, 0x0D401318);
  PutBinaryHeader(zm_);
  std::uint8_t last = 0x41;
  const Bytes expected = test::RefBinaryHeader({0x11, 0x18, 0x13, 0x40, 0x0D}, last);
  EXPECT_EQ(Frame(), expected);
  // 11 -> 18 51, 18 -> 18 58, 13 -> 18 53, 40, then 0D after @ -> 18 4D.
  EXPECT_EQ(Bytes(expected.begin() + 3, expected.begin() + 12),
            (Bytes{0x18, 0x51, 0x18, 0x58, 0x18, 0x53, 0x40, 0x18, 0x4D}));
  EXPECT_EQ(LastSentByte, last);
}

TEST_F(Encode, AbcSubpacketEndingZcrcwIsByteExact) {
  const std::uint8_t abc[] = {0x61, 0x62, 0x63};
  PutDataSubpacket(zm_, abc, 3, ZCRCW);
  EXPECT_EQ(Frame(), (Bytes{0x61, 0x62, 0x63, 0x18, 0x6B, 0x59, 0xD9, 0x11}));
}

TEST_F(Encode, EmptyAndNegativeSubpacketsCarryOnlyTheEnd) {
  const std::uint8_t data[] = {0x55};
  PutDataSubpacket(zm_, data, 0, ZCRCW);
  EXPECT_EQ(Frame(), (Bytes{0x18, 0x6B, 0xDD, 0xCD, 0x11}));
  zm_.FrameLength = 0;
  PutDataSubpacket(zm_, data, -5, ZCRCW);
  EXPECT_EQ(Frame(), (Bytes{0x18, 0x6B, 0xDD, 0xCD, 0x11}));
}

TEST_F(Encode, OnlyZcrcwIsFollowedByXon) {
  const std::uint8_t abc[] = {0x61, 0x62, 0x63};
  for (const std::uint8_t end : {ZCRCE, ZCRCG, ZCRCQ}) {
    zm_.FrameLength = 0;
    SetLastSent(0x61);
    PutDataSubpacket(zm_, abc, 3, end);
    std::uint8_t last = 0x61;
    const Bytes frame = Frame();
    EXPECT_EQ(frame, test::RefSubpacket({0x61, 0x62, 0x63}, end, last)) << int(end);
    EXPECT_EQ(std::count(frame.begin(), frame.end(), XON), 0) << int(end);
  }
}

// The escaping table, row by row.
TEST_F(Encode, BytesWithBit5Or6AreSentAsTheyAre) {
  for (int b = 0; b < 256; ++b) {
    if ((b & 0x60) == 0) continue;
    SetLastSent(0x40);  // even after "@"
    EXPECT_EQ(Escaped(static_cast<std::uint8_t>(b)), Bytes{static_cast<std::uint8_t>(b)}) << b;
    EXPECT_EQ(LastSentByte, b);
  }
}

TEST_F(Encode, ZdleIsSentAs1858AndLeaves58) {
  EXPECT_EQ(Escaped(0x18), (Bytes{0x18, 0x58}));
  EXPECT_EQ(LastSentByte, 0x58);
  // 0x58 is not "@", so a CR right after it goes raw.
  EXPECT_EQ(Escaped(0x0D), Bytes{0x0D});
}

TEST_F(Encode, FlowControlBytesAreEscapedWithAndWithoutBit7) {
  const std::uint8_t in[] = {0x11, 0x13, 0x91, 0x93};
  const std::uint8_t out[] = {0x51, 0x53, 0xD1, 0xD3};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(Escaped(in[i]), (Bytes{0x18, out[i]})) << int(in[i]);
    EXPECT_EQ(LastSentByte, out[i]);
  }
}

TEST_F(Encode, CrIsEscapedOnlyAfterAnAtSign) {
  SetLastSent(0x40);
  EXPECT_EQ(Escaped(0x0D), (Bytes{0x18, 0x4D}));
  EXPECT_EQ(LastSentByte, 0x4D);
  SetLastSent(0xC0);
  EXPECT_EQ(Escaped(0x0D), (Bytes{0x18, 0x4D}));
  SetLastSent(0x40);
  EXPECT_EQ(Escaped(0x8D), (Bytes{0x18, 0xCD}));
  EXPECT_EQ(LastSentByte, 0xCD);
  SetLastSent(0xC0);
  EXPECT_EQ(Escaped(0x8D), (Bytes{0x18, 0xCD}));
  // After anything else, and after an escaped CR, it goes raw.
  for (const std::uint8_t before : {0x41, 0x00, 0x60, 0x3F, 0x4D, 0xCD}) {
    SetLastSent(before);
    EXPECT_EQ(Escaped(0x0D), Bytes{0x0D}) << int(before);
    EXPECT_EQ(LastSentByte, 0x0D);
    SetLastSent(before);
    EXPECT_EQ(Escaped(0x8D), Bytes{0x8D}) << int(before);
  }
  // Two CRs after "@": the first is escaped, the second is not.
  SetLastSent(0x40);
  PutEscaped(zm_, 0x0D);
  PutEscaped(zm_, 0x0D);
  EXPECT_EQ(Frame(), (Bytes{0x18, 0x4D, 0x0D}));
}

TEST_F(Encode, OtherControlBytesAreSentAsTheyAre) {
  for (int b = 0; b < 256; ++b) {
    if ((b & 0x60) != 0 || b == 0x18 || b == 0x11 || b == 0x13 || b == 0x91 || b == 0x93) continue;
    SetLastSent(0x41);
    EXPECT_EQ(Escaped(static_cast<std::uint8_t>(b)), Bytes{static_cast<std::uint8_t>(b)}) << b;
    EXPECT_EQ(LastSentByte, b);
  }
  for (const std::uint8_t b : {0x00, 0x10, 0x7F, 0x90, 0xFF}) {
    SetLastSent(0x40);
    EXPECT_EQ(Escaped(b), Bytes{b}) << int(b);
  }
}

TEST_F(Encode, RawBytesInBetweenDoNotCountForTheCrRule) {
  SetLastSent(0x41);
  AppendFrameByte(zm_, 0x40);
  PutEscaped(zm_, 0x0D);
  EXPECT_EQ(Frame(), (Bytes{0x40, 0x0D}));
  SetLastSent(0x40);
  AppendFrameByte(zm_, 0x41);
  AppendFrameByte(zm_, 0x2A);
  PutEscaped(zm_, 0x0D);
  EXPECT_EQ(Frame(), (Bytes{0x41, 0x2A, 0x18, 0x4D}));
}

// Finds a position whose binary ZDATA header has the CRC low byte 0x40 and a
// high byte that is sent unescaped, so the frame ends in a placed "@".
std::int32_t PositionWithCrcLow40() {
  for (std::int32_t pos = 0; pos < 1 << 20; ++pos) {
    const auto p = static_cast<std::uint32_t>(pos);
    const Bytes h{ZDATA, static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(p >> 8),
                  static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 24)};
    const std::uint16_t crc = test::RefCrc16(h);
    if ((crc & 0xFF) == 0x40 && ((crc >> 8) & 0x60) != 0) return pos;
  }
  return -1;
}

TEST_F(Encode, CrRuleLooksAcrossFrames) {
  const std::int32_t pos = PositionWithCrcLow40();
  ASSERT_GE(pos, 0);
  Header(ZDATA, pos);
  PutBinaryHeader(zm_);
  ASSERT_EQ(Frame().back(), 0x40);
  EXPECT_EQ(LastSentByte, 0x40);
  // The frame is written and the buffer emptied; the next frame starts with
  // its raw introducer, then a header type 0x0D that is escaped.
  zm_.FrameLength = 0;
  Header(0x0D, 0);
  PutBinaryHeader(zm_);
  const Bytes next = Frame();
  ASSERT_GE(next.size(), 5u);
  EXPECT_EQ(Bytes(next.begin(), next.begin() + 5), (Bytes{0x2A, 0x18, 0x41, 0x18, 0x4D}));
  // Same across a subpacket: the header ends in "@", a block starting with
  // CR has that CR escaped.
  zm_.FrameLength = 0;
  Header(ZDATA, pos);
  PutBinaryHeader(zm_);
  const std::uint8_t cr[] = {0x0D, 0x0D};
  PutDataSubpacket(zm_, cr, 2, ZCRCW);
  const Bytes frame = Frame();
  EXPECT_EQ(Bytes(frame.begin() + 10, frame.begin() + 15), (Bytes{0x18, 0x4D, 0x0D, 0x18, 0x6B}));
}

TEST_F(Encode, SubpacketCrcFollowsTheEscapingMemoryOfTheData) {
  // A block ending in "@" makes a CR-valued CRC high byte escaped; the
  // reference encoder knows the rule independently.
  for (int v = 0; v < 256; ++v) {
    Bytes block{0x40, static_cast<std::uint8_t>(v)};
    zm_.FrameLength = 0;
    SetLastSent(0x41);
    PutDataSubpacket(zm_, block.data(), static_cast<std::int32_t>(block.size()), ZCRCW);
    std::uint8_t last = 0x41;
    ASSERT_EQ(Frame(), test::RefSubpacket(block, ZCRCW, last)) << v;
    ASSERT_EQ(LastSentByte, last);
  }
}

// A 512-byte block of bytes that all need escaping makes the largest frame;
// it has to come out whole.
void ExpectWholeWorstCaseFrame(ZMSender& zm, std::uint8_t fill) {
  zm.FrameLength = 0;
  PutEscaped(zm, 0x41);
  zm.FrameLength = 0;
  zm.TxHeader[0] = ZDATA;
  StorePosition(zm, 0x13111813);  // every position byte needs escaping too
  const Bytes block(kMaxBlock, fill);
  PutBinaryHeader(zm);
  PutDataSubpacket(zm, block.data(), kMaxBlock, ZCRCW);
  std::uint8_t last = 0x41;
  Bytes expected = test::RefBinaryHeader({ZDATA, 0x13, 0x18, 0x11, 0x13}, last);
  const Bytes sub = test::RefSubpacket(block, ZCRCW, last);
  expected.insert(expected.end(), sub.begin(), sub.end());
  // Header: introducer 3, type 1, four escaped position bytes 8, CRC 2 to 4;
  // block 1024, ZDLE and end 2, CRC 2 to 4, XON 1.
  ASSERT_GT(expected.size(), 1024u);
  ASSERT_LE(expected.size(), static_cast<std::size_t>(kFrameBufferSize));
  ASSERT_EQ(zm.FrameLength, static_cast<std::int32_t>(expected.size()));
  EXPECT_EQ(Bytes(zm.FrameBuffer, zm.FrameBuffer + zm.FrameLength), expected);
  const test::RefFrame decoded = test::RefDecodeBinaryFrame(expected, 0x41, true);
  ASSERT_EQ(decoded.error, "");
  EXPECT_EQ(decoded.data, block);
  EXPECT_EQ(decoded.header, (Bytes{ZDATA, 0x13, 0x18, 0x11, 0x13}));
  EXPECT_EQ(decoded.consumed, expected.size());
}

TEST_F(Encode, FullBlockOfZdleBytesIsBuiltWhole) { ExpectWholeWorstCaseFrame(zm_, 0x18); }
TEST_F(Encode, FullBlockOfXonBytesIsBuiltWhole) { ExpectWholeWorstCaseFrame(zm_, 0x11); }

TEST_F(Encode, TheLargestPossibleFrameFillsTheBufferExactly) {
  // Header 11 91 18 13 93 and a block of 506 x 18 then 13 91 18 13 91 13:
  // every header byte, every data byte and all four CRC bytes need escaping.
  const Bytes header{0x11, 0x91, 0x18, 0x13, 0x93};
  Bytes block(506, 0x18);
  for (const std::uint8_t b : {0x13, 0x91, 0x18, 0x13, 0x91, 0x13}) block.push_back(b);
  ASSERT_EQ(test::RefCrc16(header), 0x1118);
  Bytes covered = block;
  covered.push_back(ZCRCW);
  ASSERT_EQ(test::RefCrc16(covered), 0x1313);
  std::memcpy(zm_.TxHeader, header.data(), 5);
  PutBinaryHeader(zm_);
  PutDataSubpacket(zm_, block.data(), kMaxBlock, ZCRCW);
  EXPECT_EQ(zm_.FrameLength, kFrameBufferSize);
  EXPECT_EQ(kFrameBufferSize, 3 + 2 * 7 + 2 * kMaxBlock + 2 + 2 * 2 + 1);
  EXPECT_EQ(zm_.FrameBuffer[kFrameBufferSize - 1], XON);
  const test::RefFrame decoded = test::RefDecodeBinaryFrame(Frame(), 0x00, true);
  ASSERT_EQ(decoded.error, "");
  EXPECT_EQ(decoded.header, header);
  EXPECT_EQ(decoded.data, block);
}

}  // namespace
}  // namespace mfu
