// Header reception from the bytes of one read. Nothing here waits or reads
// the port: running out of bytes is an ordinary result, so a header has to
// arrive whole within the one answer being parsed.
#include <cstdint>

#include "platform/diag.h"
#include "zmodem/zmodem.h"

namespace mfu {
namespace {

bool IsFlowControl(int c) { return c == 0x11 || c == 0x13 || c == 0x91 || c == 0x93; }

// One hex digit: 0-9 and lowercase a-f only; anything else gives -1. The
// range test on the letters matters: "value minus 0x27" alone would let the
// punctuation from "W" to "`" pass for the digits 0 to 9.
int HexDigitValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

int NextRxByte(ZMSender& zm) {
  // A negative cursor is treated like an exhausted one so that a bad cursor
  // can never read in front of the buffer.
  if (zm.RxBuffer == nullptr || zm.RxPosition < 0 || zm.RxPosition >= zm.RxLength) return EndOfData;
  return zm.RxBuffer[zm.RxPosition++];
}

int Get7BitByte(ZMSender& zm) {
  for (;;) {
    const int c = NextRxByte(zm);
    if (c < 0) return c;
    const int b = c & 0x7F;
    if (b == XON || b == XOFF) continue;  // flow control between digits
    return b;
  }
}

int GetHexByte(ZMSender& zm) {
  int c = Get7BitByte(zm);
  if (c < 0) return c;
  const int high = HexDigitValue(c);
  if (high < 0) return -1;
  c = Get7BitByte(zm);
  if (c < 0) return c;
  const int low = HexDigitValue(c);
  if (low < 0) return -1;
  return high * 16 + low;
}

int GetEscapedByte(ZMSender& zm) {
  for (;;) {
    const int c = NextRxByte(zm);
    if (c < 0) return c;
    if ((c & 0x60) != 0) return c;
    if (IsFlowControl(c)) continue;
    if (c == ZDLE) break;
    return c;
  }
  for (;;) {
    int c = NextRxByte(zm);
    if (c < 0) return c;
    // Up to three further ZDLEs are dropped; the fifth in a row (the first
    // ZDLE counted) is the cancel sequence.
    for (int dropped = 0; dropped < 3 && c == ZDLE; ++dropped) {
      c = NextRxByte(zm);
      if (c < 0) return c;
    }
    if (c == ZDLE) return GotCancel;
    if (c >= ZCRCE && c <= ZCRCW) return c | FrameEndFlag;
    if (c == ZRUB0) return 0x7F;
    if (c == ZRUB1) return 0xFF;
    if (IsFlowControl(c)) continue;
    if ((c & 0x60) == 0x40) return c ^ 0x40;
    return -1;
  }
}

int GetHexHeader(ZMSender& zm) {
  std::uint16_t crc = 0;
  for (std::uint8_t& slot : zm.RxHeader) {
    const int c = GetHexByte(zm);
    if (c < 0) return HeaderError;
    slot = static_cast<std::uint8_t>(c);
    crc = UpdateCrc16(crc, slot);
  }
  for (int i = 0; i < 2; ++i) {
    const int c = GetHexByte(zm);
    if (c < 0) return HeaderError;
    crc = UpdateCrc16(crc, static_cast<std::uint8_t>(c));
  }
  if (crc != 0) {
    DiagF("crc = %02x\n", static_cast<unsigned>(crc));
    return HeaderError;
  }
  // Trailer: CR (not examined), then LF with bit 7 set, then the XON that
  // follows every hex header but ZFIN and ZACK.
  if (NextRxByte(zm) < 0) return HeaderError;
  const int lf = NextRxByte(zm);
  if (lf < 0) return HeaderError;
  if (lf != 0x8A) return HeaderHex;
  if (zm.RxHeader[0] == ZFIN || zm.RxHeader[0] == ZACK) return HeaderHex;
  return NextRxByte(zm) < 0 ? HeaderError : HeaderHex;
}

int GetBinaryHeader(ZMSender& zm) {
  std::uint16_t crc = 0;
  for (std::uint8_t& slot : zm.RxHeader) {
    const int c = GetEscapedByte(zm);
    if (c < 0 || c > 0xFF) return HeaderError;
    slot = static_cast<std::uint8_t>(c);
    crc = UpdateCrc16(crc, slot);
  }
  for (int i = 0; i < 2; ++i) {
    const int c = GetEscapedByte(zm);
    if (c < 0 || c > 0xFF) return HeaderError;
    crc = UpdateCrc16(crc, static_cast<std::uint8_t>(c));
  }
  return crc == 0 ? HeaderBinary16 : HeaderError;
}

int GetBinaryHeader32(ZMSender& zm) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::uint8_t& slot : zm.RxHeader) {
    const int c = GetEscapedByte(zm);
    if (c < 0 || c > 0xFF) return HeaderError;
    slot = static_cast<std::uint8_t>(c);
    crc = UpdateCrc32(crc, slot);
  }
  for (int i = 0; i < 4; ++i) {
    const int c = GetEscapedByte(zm);
    if (c < 0 || c > 0xFF) return HeaderError;
    crc = UpdateCrc32(crc, static_cast<std::uint8_t>(c));
  }
  // The residue of a CRC-32 run over data and its own check value.
  return crc == 0xDEBB20E3u ? HeaderBinary32 : HeaderError;
}

int GetHeader(ZMSender& zm) {
  // Anything before the first ZPAD (an echo, line noise) is skipped.
  for (;;) {
    const int c = NextRxByte(zm);
    if (c < 0) return HeaderNone;
    if (c == ZPAD) break;
  }
  // Only this first ZPAD is tried; a broken introducer ends the search.
  enum class Introducer { kOnePad, kTwoPads, kPadZdle, kTwoPadsZdle };
  Introducer state = Introducer::kOnePad;
  for (;;) {
    const int c = NextRxByte(zm);
    switch (state) {
      case Introducer::kOnePad:
        if (c == ZPAD) {
          state = Introducer::kTwoPads;
        } else if (c == ZDLE) {
          state = Introducer::kPadZdle;
        } else {
          return HeaderNone;
        }
        break;
      case Introducer::kTwoPads:
        if (c != ZDLE) return HeaderNone;
        state = Introducer::kTwoPadsZdle;
        break;
      case Introducer::kPadZdle:
        if (c == ZBIN) return GetBinaryHeader(zm);
        if (c == ZBIN32) return GetBinaryHeader32(zm);
        return HeaderNone;
      case Introducer::kTwoPadsZdle:
        if (c == ZHEX) return GetHexHeader(zm);
        return HeaderNone;
    }
  }
}

}  // namespace mfu
