#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/diag_recorder.h"
#include "tests/zmodem/zmodem_reference.h"
#include "zmodem/zmodem.h"

namespace mfu {
namespace {

using test::Bytes;

Bytes Text(const char* s) { return Bytes(s, s + std::strlen(s)); }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const Bytes kHexIntro{0x2A, 0x2A, 0x18, 0x42};
const Bytes kZackHeader{0x03, 0x00, 0x02, 0x00, 0x00};
const Bytes kPreviousHeader{0xA1, 0xB2, 0xC3, 0xD4, 0xE5};

// Parses one answer the way the sender does: the cursor set afresh over
// exactly the bytes of the answer, which live in a buffer of their own size
// (so a read past them shows up under the address sanitizer).
class Receive : public ::testing::Test {
 protected:
  Receive() { std::memcpy(zm_.RxHeader, kPreviousHeader.data(), 5); }

  void Load(const Bytes& bytes) {
    buffer_ = bytes;
    zm_.RxBuffer = buffer_.empty() ? nullptr : buffer_.data();
    zm_.RxPosition = 0;
    zm_.RxLength = static_cast<std::int32_t>(buffer_.size());
  }

  int Parse(const Bytes& bytes) {
    Load(bytes);
    const int result = GetHeader(zm_);
    EXPECT_LE(zm_.RxPosition, zm_.RxLength);
    return result;
  }

  Bytes RxHeader() const { return Bytes(zm_.RxHeader, zm_.RxHeader + 5); }

  ZMSender zm_{};
  Bytes buffer_;
};

// --- Byte readers ----------------------------------------------------------

TEST_F(Receive, NextRxByteEndsAtLengthAndOnNullBuffer) {
  Load({0x00, 0xFF});
  EXPECT_EQ(NextRxByte(zm_), 0x00);
  EXPECT_EQ(NextRxByte(zm_), 0xFF);
  EXPECT_EQ(NextRxByte(zm_), EndOfData);
  EXPECT_EQ(zm_.RxPosition, 2);
  Load({0x41});
  zm_.RxBuffer = nullptr;
  EXPECT_EQ(NextRxByte(zm_), EndOfData);
  EXPECT_EQ(zm_.RxPosition, 0);
  Load({0x41});
  zm_.RxPosition = -1;
  EXPECT_EQ(NextRxByte(zm_), EndOfData);
}

TEST_F(Receive, Get7BitByteClearsBit7AndSkipsFlowControl) {
  Load({0x11, 0x13, 0x91, 0x93, 0xB0, 0x8A, 0x18, 0x0D});
  EXPECT_EQ(Get7BitByte(zm_), 0x30);
  EXPECT_EQ(zm_.RxPosition, 5);
  EXPECT_EQ(Get7BitByte(zm_), 0x0A);
  EXPECT_EQ(Get7BitByte(zm_), 0x18);
  EXPECT_EQ(Get7BitByte(zm_), 0x0D);
  EXPECT_EQ(Get7BitByte(zm_), EndOfData);
}

TEST_F(Receive, GetHexByteTakesOnlyLowercaseDigits) {
  Load(Text("09af"));
  EXPECT_EQ(GetHexByte(zm_), 0x09);
  EXPECT_EQ(GetHexByte(zm_), 0xAF);
  EXPECT_EQ(GetHexByte(zm_), EndOfData);
  // Only true lowercase digits: the punctuation between "Z" and "a" must not
  // pass for the digits 0 to 9.
  for (const char* bad : {"0A", "F0", ":0", "0@", "g0", "/0", "0`", "W0", "0Z", "_0", "0[", " 0"}) {
    Load(Text(bad));
    EXPECT_EQ(GetHexByte(zm_), -1) << bad;
  }
  Load({0x30, 0x0D});
  EXPECT_EQ(GetHexByte(zm_), -1);
  Load({0x30, 0x18});
  EXPECT_EQ(GetHexByte(zm_), -1);
  Load({0x30});
  EXPECT_EQ(GetHexByte(zm_), EndOfData);
  Load({0xB1, 0x11, 0xB2});  // bit 7 set, XON between the digits
  EXPECT_EQ(GetHexByte(zm_), 0x12);
}

TEST_F(Receive, GetEscapedByteUndoesEscapes) {
  Load({0x41, 0x00, 0x11, 0x93, 0x0D, 0x18, 0x58, 0x18, 0x4D, 0x18, 0xD1, 0x18, 0x6C, 0x18, 0x6D});
  EXPECT_EQ(GetEscapedByte(zm_), 0x41);
  EXPECT_EQ(GetEscapedByte(zm_), 0x00);
  EXPECT_EQ(GetEscapedByte(zm_), 0x0D);  // raw XON and XOFF skipped
  EXPECT_EQ(zm_.RxPosition, 5);
  EXPECT_EQ(GetEscapedByte(zm_), 0x18);
  EXPECT_EQ(GetEscapedByte(zm_), 0x0D);
  EXPECT_EQ(GetEscapedByte(zm_), 0x91);
  EXPECT_EQ(GetEscapedByte(zm_), 0x7F);
  EXPECT_EQ(GetEscapedByte(zm_), 0xFF);
  EXPECT_EQ(GetEscapedByte(zm_), EndOfData);
}

TEST_F(Receive, GetEscapedByteFrameEndsCancelAndBadEscapes) {
  for (const std::uint8_t code : {ZCRCE, ZCRCG, ZCRCQ, ZCRCW}) {
    Load({0x18, code});
    EXPECT_EQ(GetEscapedByte(zm_), code | FrameEndFlag);
  }
  Load({0x18, 0x18, 0x18, 0x18, 0x18});
  EXPECT_EQ(GetEscapedByte(zm_), GotCancel);
  EXPECT_EQ(zm_.RxPosition, 5);
  Load({0x18, 0x18, 0x58});  // an extra ZDLE is dropped
  EXPECT_EQ(GetEscapedByte(zm_), 0x18);
  Load({0x18, 0x18, 0x18, 0x18, 0x41});  // three dropped, the fourth take decides
  EXPECT_EQ(GetEscapedByte(zm_), 0x01);
  Load({0x18, 0x11, 0x93, 0x4D});  // flow control after ZDLE skipped
  EXPECT_EQ(GetEscapedByte(zm_), 0x0D);
  Load({0x18, 0x11, 0x18, 0x18, 0x18, 0x18});  // the count starts again after a skip
  EXPECT_EQ(GetEscapedByte(zm_), GotCancel);
  for (const std::uint8_t bad : {0x00, 0x0D, 0x30, 0x60, 0x6E, 0x7F, 0x80, 0xE0, 0xFF}) {
    Load({0x18, bad});
    EXPECT_EQ(GetEscapedByte(zm_), -1) << int(bad);
  }
  Load({0x18});
  EXPECT_EQ(GetEscapedByte(zm_), EndOfData);
  Load({0x18, 0x18, 0x18});
  EXPECT_EQ(GetEscapedByte(zm_), EndOfData);
}

// --- GetHeader: worked examples ------------------------------------------

TEST_F(Receive, HexZackWithoutXon) {
  EXPECT_EQ(Parse(Concat({kHexIntro, Text("0300020000"), Text("80b2"), {0x0D, 0x8A}})), HeaderHex);
  EXPECT_EQ(RxHeader(), kZackHeader);
  EXPECT_EQ(zm_.RxPosition, 20);
}

TEST_F(Receive, HexZrposNeedsItsXon) {
  const Bytes zrpos = Concat({kHexIntro, Text("0900000000"), Text("a87c"), {0x0D, 0x8A}});
  EXPECT_EQ(Parse(Concat({zrpos, {0x11}})), HeaderHex);
  EXPECT_EQ(RxHeader(), (Bytes{0x09, 0, 0, 0, 0}));
  EXPECT_EQ(zm_.RxPosition, 21);
  EXPECT_EQ(Parse(zrpos), HeaderError);
}

TEST_F(Receive, BinaryCrc32Header) {
  EXPECT_EQ(Parse({0x2A, 0x18, 0x43, 0x03, 0x00, 0x02, 0x00, 0x00, 0xA3, 0x59, 0x06, 0x82}), HeaderBinary32);
  EXPECT_EQ(RxHeader(), kZackHeader);
  EXPECT_EQ(zm_.RxPosition, 12);
}

TEST_F(Receive, BinaryCrc32HeaderFromTheReferenceCrc) {
  const Bytes header{0x0A, 0x11, 0x18, 0x7F, 0xFF};
  const std::uint32_t crc = test::RefCrc32(header);
  Bytes in{0x2A, 0x18, 0x43, 0x0A, 0x18, 0x51, 0x18, 0x58, 0x18, 0x6C, 0x18, 0x6D};
  for (int i = 0; i < 4; ++i) {
    std::uint8_t last = 0;
    test::RefEscape(in, static_cast<std::uint8_t>(crc >> (8 * i)), last);
  }
  EXPECT_EQ(Parse(in), HeaderBinary32);
  EXPECT_EQ(RxHeader(), header);
  in[in.size() - 1] ^= 0x01;
  if ((in.back() & 0x60) == 0) in.back() = 0x41;  // keep it a plain byte
  EXPECT_EQ(Parse(in), HeaderError);
}

TEST_F(Receive, BinaryCrc16HeaderAsTheSenderBuildsIt) {
  EXPECT_EQ(Parse({0x2A, 0x18, 0x41, 0x0A, 0x00, 0x02, 0x00, 0x00, 0x28, 0xCE}), HeaderBinary16);
  EXPECT_EQ(RxHeader(), (Bytes{0x0A, 0x00, 0x02, 0x00, 0x00}));
  EXPECT_EQ(Parse({0x2A, 0x18, 0x41, 0x0A, 0x00, 0x02, 0x00, 0x00, 0x28, 0xCF}), HeaderError);
  EXPECT_EQ(RxHeader(), (Bytes{0x0A, 0x00, 0x02, 0x00, 0x00}));
}

// --- GetHeader: finding the introducer -------------------------------------

TEST_F(Receive, NoBytesOrNoPadGiveNoneAndLeaveRxHeader) {
  EXPECT_EQ(Parse({}), HeaderNone);
  EXPECT_EQ(RxHeader(), kPreviousHeader);
  EXPECT_EQ(Parse(Text("OK\r\n0300020000")), HeaderNone);
  EXPECT_EQ(RxHeader(), kPreviousHeader);
  EXPECT_EQ(zm_.RxPosition, zm_.RxLength);
  Load(Concat({kHexIntro, Text("0300020000"), Text("80b2"), {0x0D, 0x8A}}));
  zm_.RxBuffer = nullptr;
  EXPECT_EQ(GetHeader(zm_), HeaderNone);
  EXPECT_EQ(RxHeader(), kPreviousHeader);
}

TEST_F(Receive, BytesBeforeTheFirstPadAreSkipped) {
  EXPECT_EQ(Parse(Concat({{0x72, 0x7A, 0x0D}, kHexIntro, Text("030002000080b2"), {0x0D, 0x8A}})), HeaderHex);
  EXPECT_EQ(RxHeader(), kZackHeader);
}

TEST_F(Receive, WrongIntroducersGiveNone) {
  const Bytes tail = Concat({Text("030002000080b2"), {0x0D, 0x8A}});
  EXPECT_EQ(Parse(Concat({{0x2A, 0x2A, 0x2A, 0x18, 0x42}, tail})), HeaderNone);  // three pads
  EXPECT_EQ(zm_.RxPosition, 3);
  EXPECT_EQ(Parse(Concat({{0x2A, 0x18, 0x42}, tail})), HeaderNone);  // hex after one pad
  EXPECT_EQ(Parse(Concat({{0x2A, 0x2A, 0x18, 0x41}, tail})), HeaderNone);  // binary after two
  EXPECT_EQ(Parse(Concat({{0x2A, 0x2A, 0x18, 0x43}, tail})), HeaderNone);
  EXPECT_EQ(Parse({0x2A}), HeaderNone);
  EXPECT_EQ(Parse({0x2A, 0x2A}), HeaderNone);
  EXPECT_EQ(Parse({0x2A, 0x2A, 0x18}), HeaderNone);
  EXPECT_EQ(Parse({0x2A, 0x18}), HeaderNone);
  EXPECT_EQ(Parse({0x2A, 0x41}), HeaderNone);
  EXPECT_EQ(RxHeader(), kPreviousHeader);
}

TEST_F(Receive, OnlyTheFirstPadIsTried) {
  const Bytes good = Concat({kHexIntro, Text("030002000080b2"), {0x0D, 0x8A}});
  EXPECT_EQ(Parse(Concat({{0x2A, 0x41}, good})), HeaderNone);
  EXPECT_EQ(Parse(Concat({{0x2A, 0x18, 0x42}, good})), HeaderNone);
  EXPECT_EQ(RxHeader(), kPreviousHeader);
}

// --- GetHeader: hex header digits and trailer ------------------------------

TEST_F(Receive, UppercaseHexDigitsAreAnError) {
  const Bytes lower = test::RefHexHeader({0x0A, 0, 0, 0, 0}, {0x0D, 0x8A, 0x11});
  EXPECT_EQ(Parse(lower), HeaderHex);
  Bytes upper = lower;
  upper[5] = 'A';
  EXPECT_EQ(Parse(upper), HeaderError);
}

TEST_F(Receive, HexDigitsWithBit7SetCount) {
  Bytes in = test::RefHexHeader(kZackHeader, {0x0D, 0x8A});
  for (std::size_t i = 4; i < 18; ++i) in[i] |= 0x80;
  EXPECT_EQ(Parse(in), HeaderHex);
  EXPECT_EQ(RxHeader(), kZackHeader);
}

TEST_F(Receive, XonAndXoffBetweenHexDigitsAreSkipped) {
  const Bytes plain = test::RefHexHeader(kZackHeader, {0x0D, 0x8A});
  Bytes in(plain.begin(), plain.begin() + 4);
  const std::uint8_t flow[] = {0x11, 0x13, 0x91, 0x93};
  for (std::size_t i = 4; i < 18; ++i) {
    in.push_back(flow[i % 4]);
    in.push_back(plain[i]);
  }
  in.push_back(0x0D);
  in.push_back(0x8A);
  EXPECT_EQ(Parse(in), HeaderHex);
  EXPECT_EQ(RxHeader(), kZackHeader);
  EXPECT_EQ(zm_.RxPosition, zm_.RxLength);
}

TEST_F(Receive, TrailerRules) {
  const Bytes zrinit{ZRINIT, 0, 0, 0, 0x23};
  EXPECT_EQ(Parse(test::RefHexHeader(zrinit, {0x0D, 0x0A})), HeaderHex);  // plain LF: done
  EXPECT_EQ(zm_.RxPosition, 20);
  EXPECT_EQ(Parse(test::RefHexHeader(zrinit, {0x0D, 0x8A, 0x11})), HeaderHex);
  EXPECT_EQ(RxHeader(), zrinit);
  EXPECT_EQ(Parse(test::RefHexHeader(zrinit, {0x0D, 0x8A, 0x00})), HeaderHex);  // third byte not examined
  EXPECT_EQ(Parse(test::RefHexHeader(zrinit, {0x0D, 0x8A})), HeaderError);
  EXPECT_EQ(Parse(test::RefHexHeader({ZRPOS, 0, 2, 0, 0}, {0x0D, 0x8A})), HeaderError);
  EXPECT_EQ(Parse(test::RefHexHeader({ZFIN, 0, 0, 0, 0}, {0x0D, 0x8A})), HeaderHex);
  EXPECT_EQ(Parse(test::RefHexHeader(kZackHeader, {0x0D, 0x8A})), HeaderHex);
  EXPECT_EQ(Parse(test::RefHexHeader(kZackHeader, {0x41, 0x8A})), HeaderHex);  // CR not examined
  EXPECT_EQ(Parse(test::RefHexHeader(kZackHeader, {})), HeaderError);  // stops after the CRC digits
  EXPECT_EQ(RxHeader(), kZackHeader);
  EXPECT_EQ(Parse(test::RefHexHeader(kZackHeader, {0x0D})), HeaderError);
}

TEST_F(Receive, CutShortHexHeaderIsAnErrorWithTheBytesDecodedSoFar) {
  const Bytes full = test::RefHexHeader({0x01, 0x02, 0x03, 0x04, 0x05}, {0x0D, 0x8A, 0x11});
  // Three header bytes and half of the fourth arrive.
  EXPECT_EQ(Parse(Bytes(full.begin(), full.begin() + 4 + 7)), HeaderError);
  EXPECT_EQ(RxHeader(), (Bytes{0x01, 0x02, 0x03, 0xD4, 0xE5}));
}

TEST_F(Receive, WrongHexCrcIsAnErrorLeavesTheHeaderAndIsReported) {
  test::DiagRecorder diag;
  Bytes in = test::RefHexHeader(kZackHeader, {0x0D, 0x8A});
  in[17] = '3';  // 80b2 becomes 80b3
  EXPECT_EQ(Parse(in), HeaderError);
  EXPECT_EQ(RxHeader(), kZackHeader);
  // The register over header and received CRC is the true CRC XOR the one received.
  char expected[32];
  std::snprintf(expected, sizeof expected, "crc = %02x\n", 0x80b2u ^ 0x80b3u);
  EXPECT_EQ(diag.Count(expected), 1);
  EXPECT_EQ(std::string(expected), "crc = 01\n");
  diag.Clear();
  in[14] = '0';  // 80b3 becomes 00b3
  EXPECT_EQ(Parse(in), HeaderError);
  EXPECT_EQ(diag.Count("crc = 8001\n"), 1);
}

TEST_F(Receive, BadDigitInTheHeaderIsAnError) {
  Bytes in = test::RefHexHeader(kZackHeader, {0x0D, 0x8A});
  in[8] = 0x0D;
  EXPECT_EQ(Parse(in), HeaderError);
  EXPECT_EQ(RxHeader(), (Bytes{0x03, 0x00, 0xC3, 0xD4, 0xE5}));
}

// --- GetHeader: binary headers ---------------------------------------------

// A binary CRC-16 header as the receiver would escape it.
Bytes BinaryHeader(const Bytes& header) {
  std::uint8_t last = 0;
  return test::RefBinaryHeader(header, last);
}

TEST_F(Receive, BinaryHeaderDecodesRubouts) {
  const Bytes header{ZRPOS, 0x7F, 0xFF, 0x00, 0x01};
  Bytes in{0x2A, 0x18, 0x41, ZRPOS, 0x18, 0x6C, 0x18, 0x6D, 0x00, 0x01};
  const std::uint16_t crc = test::RefCrc16(header);
  std::uint8_t last = 0x01;
  test::RefEscape(in, static_cast<std::uint8_t>(crc >> 8), last);
  test::RefEscape(in, static_cast<std::uint8_t>(crc), last);
  EXPECT_EQ(Parse(in), HeaderBinary16);
  EXPECT_EQ(RxHeader(), header);
}

TEST_F(Receive, FrameEndOrCancelInsideABinaryHeaderIsAnError) {
  EXPECT_EQ(Parse({0x2A, 0x18, 0x41, 0x03, 0x00, 0x18, 0x6B, 0x00, 0x00, 0x00, 0x00}), HeaderError);
  EXPECT_EQ(RxHeader(), (Bytes{0x03, 0x00, 0xC3, 0xD4, 0xE5}));
  EXPECT_EQ(zm_.RxPosition, 7);
  EXPECT_EQ(Parse({0x2A, 0x18, 0x41, 0x03, 0x18, 0x18, 0x18, 0x18, 0x18, 0x00, 0x00, 0x00}), HeaderError);
  EXPECT_EQ(zm_.RxPosition, 9);
  EXPECT_EQ(Parse({0x2A, 0x18, 0x43, 0x03, 0x18, 0x68}), HeaderError);
  EXPECT_EQ(Parse({0x2A, 0x18, 0x43, 0x18, 0x18, 0x18, 0x18, 0x18}), HeaderError);
  // And in the CRC bytes.
  Bytes in = BinaryHeader(kZackHeader);
  in.resize(8);
  in.push_back(0x18);
  in.push_back(0x69);
  EXPECT_EQ(Parse(in), HeaderError);
}

TEST_F(Receive, BadEscapeOrCutShortBinaryHeaderIsAnError) {
  EXPECT_EQ(Parse({0x2A, 0x18, 0x41, 0x03, 0x18, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00}), HeaderError);
  const Bytes full = BinaryHeader(kZackHeader);
  for (std::size_t n = 3; n < full.size(); ++n) {
    EXPECT_EQ(Parse(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n))), HeaderError) << n;
  }
  EXPECT_EQ(Parse(full), HeaderBinary16);
}

TEST_F(Receive, RxPositionStopsAfterTheHeader) {
  const Bytes in = Concat({BinaryHeader(kZackHeader), Text("trailing")});
  EXPECT_EQ(Parse(in), HeaderBinary16);
  EXPECT_EQ(zm_.RxPosition, static_cast<std::int32_t>(BinaryHeader(kZackHeader).size()));
}

}  // namespace
}  // namespace mfu
