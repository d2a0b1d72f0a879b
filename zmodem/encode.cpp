// Frame encoding: everything is appended to the record's frame buffer, which
// the caller then writes in one piece, so one frame is one write.
#include <cstdint>

#include "zmodem/zmodem.h"

namespace mfu {

// The one sender record and the escaping memory shared by every frame.
ZMSender SenderRecord{};
std::uint8_t LastSentByte = 0;

namespace {

// The CRC-16 of a header or subpacket: the covered bytes, then two zero
// bytes pushed through so that the register holds the check value.
std::uint16_t FinishCrc16(std::uint16_t crc) { return UpdateCrc16(UpdateCrc16(crc, 0), 0); }

void AppendHexByte(ZMSender& zm, std::uint8_t byte) {
  char digits[2];
  ToHexDigits(byte, digits);
  AppendFrameByte(zm, static_cast<std::uint8_t>(digits[0]));
  AppendFrameByte(zm, static_cast<std::uint8_t>(digits[1]));
}

}  // namespace

void StorePosition(ZMSender& zm, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  zm.TxHeader[1] = static_cast<std::uint8_t>(v & 0xFFu);
  zm.TxHeader[2] = static_cast<std::uint8_t>((v >> 8) & 0xFFu);
  zm.TxHeader[3] = static_cast<std::uint8_t>((v >> 16) & 0xFFu);
  zm.TxHeader[4] = static_cast<std::uint8_t>((v >> 24) & 0xFFu);
}

void AppendFrameByte(ZMSender& zm, std::uint8_t byte) {
  // Before the record is initialised there is nowhere to write.
  if (zm.FramePointer == nullptr) return;
  // The buffer is sized for the largest frame the sender builds, so this
  // limit only guards against a caller that forgot to empty the buffer.
  if (zm.FrameLength < 0 || zm.FrameLength >= kFrameBufferSize) return;
  zm.FramePointer[zm.FrameLength] = byte;
  ++zm.FrameLength;
}

void ToHexDigits(std::uint8_t byte, char digits[2]) {
  static constexpr char kDigits[] = "0123456789abcdef";
  digits[0] = kDigits[byte >> 4];
  digits[1] = kDigits[byte & 0x0F];
}

void PutEscaped(ZMSender& zm, std::uint8_t byte) {
  std::uint8_t placed = byte;
  // The raw and the escaping branches repeat each other on purpose: each
  // names one reason for its treatment of the byte.
  if ((byte & 0x60) != 0) {  // NOLINT(bugprone-branch-clone)
    // Printable range, 0x7F and 0xFF included: never escaped.
    AppendFrameByte(zm, byte);
  } else if (byte == ZDLE) {
    AppendFrameByte(zm, ZDLE);
    placed = ZDLEE;
    AppendFrameByte(zm, placed);
  } else if (byte == 0x11 || byte == 0x13 || byte == 0x91 || byte == 0x93) {  // NOLINT(bugprone-branch-clone)
    // Flow control must never appear raw on the line.
    AppendFrameByte(zm, ZDLE);
    placed = static_cast<std::uint8_t>(byte ^ 0x40);
    AppendFrameByte(zm, placed);
  } else if ((byte == 0x0D || byte == 0x8D) && (LastSentByte & 0x7F) == 0x40) {
    // "@" followed by CR would look like a modem escape to the line, so the
    // CR is escaped in that one position.
    AppendFrameByte(zm, ZDLE);
    placed = static_cast<std::uint8_t>(byte ^ 0x40);
    AppendFrameByte(zm, placed);
  } else {
    AppendFrameByte(zm, byte);
  }
  LastSentByte = placed;
}

void PutHexHeader(ZMSender& zm) {
  AppendFrameByte(zm, ZPAD);
  AppendFrameByte(zm, ZPAD);
  AppendFrameByte(zm, ZDLE);
  AppendFrameByte(zm, ZHEX);
  std::uint16_t crc = 0;
  for (const std::uint8_t b : zm.TxHeader) {
    AppendHexByte(zm, b);
    crc = UpdateCrc16(crc, b);
  }
  crc = FinishCrc16(crc);
  AppendHexByte(zm, static_cast<std::uint8_t>(crc >> 8));
  AppendHexByte(zm, static_cast<std::uint8_t>(crc & 0xFF));
  AppendFrameByte(zm, 0x0D);
  AppendFrameByte(zm, 0x8A);
  // The receiver expects no XON after ZFIN and ZACK.
  if (zm.TxHeader[0] != ZFIN && zm.TxHeader[0] != ZACK) AppendFrameByte(zm, XON);
}

void PutBinaryHeader(ZMSender& zm) {
  AppendFrameByte(zm, ZPAD);
  AppendFrameByte(zm, ZDLE);
  AppendFrameByte(zm, ZBIN);
  std::uint16_t crc = 0;
  for (const std::uint8_t b : zm.TxHeader) {
    PutEscaped(zm, b);
    crc = UpdateCrc16(crc, b);
  }
  crc = FinishCrc16(crc);
  PutEscaped(zm, static_cast<std::uint8_t>(crc >> 8));
  PutEscaped(zm, static_cast<std::uint8_t>(crc & 0xFF));
}

void PutDataSubpacket(ZMSender& zm, const std::uint8_t* data, std::int32_t length, std::uint8_t frame_end) {
  std::uint16_t crc = 0;
  if (data != nullptr) {
    for (std::int32_t i = 0; i < length; ++i) {
      PutEscaped(zm, data[i]);
      crc = UpdateCrc16(crc, data[i]);
    }
  }
  AppendFrameByte(zm, ZDLE);
  AppendFrameByte(zm, frame_end);
  crc = FinishCrc16(UpdateCrc16(crc, frame_end));
  PutEscaped(zm, static_cast<std::uint8_t>(crc >> 8));
  PutEscaped(zm, static_cast<std::uint8_t>(crc & 0xFF));
  // ZCRCW asks the receiver to answer; the XON makes sure it may.
  if (frame_end == ZCRCW) AppendFrameByte(zm, XON);
}

}  // namespace mfu
