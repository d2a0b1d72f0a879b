#include "simulator/zm_codec.h"

#include <cstdio>

namespace mfu::sim {

std::string FrameTypeName(int type) {
  static const char* const kNames[] = {"ZRQINIT", "ZRINIT", "ZSINIT", "ZACK",   "ZFILE", "ZSKIP", "ZNAK",
                                       "ZABORT",  "ZFIN",   "ZRPOS",  "ZDATA",  "ZEOF",  "ZFERR", "ZCRC",
                                       "ZCHALLENGE", "ZCOMPL", "ZCAN", "ZFREECNT", "ZCOMMAND", "ZSTDERR"};
  if (type >= 0 && type < static_cast<int>(sizeof kNames / sizeof kNames[0])) return kNames[type];
  return "type " + std::to_string(type);
}

std::uint16_t Crc16(const std::uint8_t* data, std::size_t size, std::uint16_t crc) {
  for (std::size_t i = 0; i < size; ++i) {
    crc = static_cast<std::uint16_t>(crc ^ (data[i] << 8));
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021) : static_cast<std::uint16_t>(crc << 1);
    }
  }
  return crc;
}

std::uint32_t Header::Position() const {
  return static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
         static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
}

Header Header::WithPosition(std::uint8_t type, std::uint32_t position) {
  return WithBytes(type, static_cast<std::uint8_t>(position), static_cast<std::uint8_t>(position >> 8),
                   static_cast<std::uint8_t>(position >> 16), static_cast<std::uint8_t>(position >> 24));
}

Header Header::WithBytes(std::uint8_t type, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3, std::uint8_t b4) {
  Header h;
  h.type = type;
  h.data[0] = b1;
  h.data[1] = b2;
  h.data[2] = b3;
  h.data[3] = b4;
  return h;
}

namespace {

void PutHex(Bytes& out, std::uint8_t byte) {
  static const char kDigits[] = "0123456789abcdef";
  out.push_back(static_cast<std::uint8_t>(kDigits[byte >> 4]));
  out.push_back(static_cast<std::uint8_t>(kDigits[byte & 0x0F]));
}

void HeaderBytes(const Header& header, std::uint8_t (&bytes)[5]) {
  bytes[0] = header.type;
  for (int i = 0; i < 4; ++i) bytes[i + 1] = header.data[i];
}

}  // namespace

Bytes EncodeHexHeader(const Header& header) {
  std::uint8_t bytes[5];
  HeaderBytes(header, bytes);
  Bytes out = {zm::kPad, zm::kPad, zm::kDle, zm::kHex};
  for (std::uint8_t b : bytes) PutHex(out, b);
  const std::uint16_t crc = Crc16(bytes, 5);
  PutHex(out, static_cast<std::uint8_t>(crc >> 8));
  PutHex(out, static_cast<std::uint8_t>(crc));
  out.push_back(0x0D);
  out.push_back(0x8A);
  if (header.type != zm::kFin && header.type != zm::kAck) out.push_back(zm::kXon);
  return out;
}

void PutEscaped(Bytes& out, std::uint8_t byte, std::uint8_t& last) {
  const bool needs = byte == zm::kDle || byte == 0x11 || byte == 0x13 || byte == 0x91 || byte == 0x93 ||
                     ((byte == 0x0D || byte == 0x8D) && (last & 0x7F) == 0x40);
  if (needs) {
    out.push_back(zm::kDle);
    byte = static_cast<std::uint8_t>(byte ^ 0x40);
  }
  out.push_back(byte);
  last = byte;
}

Bytes EncodeBinaryHeader(const Header& header) {
  std::uint8_t bytes[5];
  HeaderBytes(header, bytes);
  Bytes out = {zm::kPad, zm::kDle, zm::kBin};
  std::uint8_t last = 0;
  for (std::uint8_t b : bytes) PutEscaped(out, b, last);
  const std::uint16_t crc = Crc16(bytes, 5);
  PutEscaped(out, static_cast<std::uint8_t>(crc >> 8), last);
  PutEscaped(out, static_cast<std::uint8_t>(crc), last);
  return out;
}

Bytes EncodeSubpacket(const std::uint8_t* data, std::size_t size, std::uint8_t frame_end) {
  Bytes out;
  std::uint8_t last = 0;
  for (std::size_t i = 0; i < size; ++i) PutEscaped(out, data[i], last);
  std::uint16_t crc = Crc16(data, size);
  crc = Crc16(&frame_end, 1, crc);
  out.push_back(zm::kDle);
  out.push_back(frame_end);
  PutEscaped(out, static_cast<std::uint8_t>(crc >> 8), last);
  PutEscaped(out, static_cast<std::uint8_t>(crc), last);
  if (frame_end == zm::kCrcW) out.push_back(zm::kXon);
  return out;
}

namespace {

constexpr int kNeedMore = -2;
constexpr int kBadEscape = -1;
constexpr int kCancel = -3;
constexpr int kFrameEnd = 0x100;

// One byte of binary data, escapes undone. Raw XON/XOFF are flow control
// on a ZMODEM line and are dropped, as every receiver does.
int NextEscaped(const std::uint8_t* b, std::size_t size, std::size_t& pos) {
  for (;;) {
    if (pos >= size) return kNeedMore;
    const std::uint8_t c = b[pos++];
    if (c == 0x11 || c == 0x13 || c == 0x91 || c == 0x93) continue;
    if (c != zm::kDle) return c;
    int cans = 1;
    for (;;) {
      if (pos >= size) return kNeedMore;
      const std::uint8_t e = b[pos++];
      if (e == zm::kDle) {
        if (++cans >= 5) return kCancel;
        continue;
      }
      if (e == 0x11 || e == 0x13 || e == 0x91 || e == 0x93) continue;
      if (e >= zm::kCrcE && e <= zm::kCrcW) return kFrameEnd | e;
      if (e == 0x6C) return 0x7F;
      if (e == 0x6D) return 0xFF;
      if ((e & 0x60) == 0x40) return e ^ 0x40;
      return kBadEscape;
    }
  }
}

int HexValue(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string Describe(int code) {
  switch (code) {
    case kBadEscape: return "bad escape sequence";
    case kCancel: return "cancel (five CAN)";
    default: return "frame end inside a header";
  }
}

}  // namespace

FrameParser::Result FrameParser::Parse(const std::uint8_t* b, std::size_t size, std::size_t& consumed,
                                       ParsedFrame& frame) {
  consumed = 0;
  std::size_t pad = 0;
  while (pad < size && b[pad] != zm::kPad) ++pad;
  if (pad > 0) {
    consumed = pad;
    return Result::kSkipped;
  }
  if (size == 0) return Result::kNeedMore;
  std::size_t pos = 0;
  while (pos < size && b[pos] == zm::kPad) ++pos;
  if (pos + 2 > size) return Result::kNeedMore;
  if (b[pos] != zm::kDle || (b[pos + 1] != zm::kHex && b[pos + 1] != zm::kBin && b[pos + 1] != zm::kBin32)) {
    consumed = 1;  // a stray pad: noise
    return Result::kSkipped;
  }
  frame = ParsedFrame{};
  const std::uint8_t kind = b[pos + 1];
  pos += 2;
  std::uint8_t hdr[5];
  if (kind == zm::kHex) {
    frame.encoding = ParsedFrame::Encoding::kHex;
    if (pos + 14 + 2 > size) return Result::kNeedMore;
    std::uint8_t bytes[7];
    for (int i = 0; i < 7; ++i) {
      const int hi = HexValue(b[pos + 2 * static_cast<std::size_t>(i)]);
      const int lo = HexValue(b[pos + 2 * static_cast<std::size_t>(i) + 1]);
      if ((hi < 0 || lo < 0) && frame.error.empty()) frame.error = "not a lowercase hex digit in a hex header";
      bytes[i] = static_cast<std::uint8_t>((hi < 0 ? 0 : hi) << 4 | (lo < 0 ? 0 : lo));
    }
    pos += 14;
    for (int i = 0; i < 5; ++i) hdr[i] = bytes[i];
    const std::uint16_t crc = Crc16(hdr, 5);
    if (frame.error.empty() && crc != (bytes[5] << 8 | bytes[6])) frame.error = "hex header CRC wrong";
    if (frame.error.empty() && ((b[pos] & 0x7F) != 0x0D || (b[pos + 1] & 0x7F) != 0x0A)) {
      frame.error = "hex header trailer is not CR LF";
    }
    pos += 2;
    // The XON that follows most hex headers; taken when it is there, so a
    // pty that splits the write before it does not stall the receiver.
    if (hdr[0] != zm::kFin && hdr[0] != zm::kAck && pos < size && b[pos] == zm::kXon) ++pos;
  } else {
    frame.encoding = kind == zm::kBin ? ParsedFrame::Encoding::kBinary16 : ParsedFrame::Encoding::kBinary32;
    const int n = kind == zm::kBin ? 7 : 9;
    std::uint8_t bytes[9];
    for (int i = 0; i < n; ++i) {
      const int v = NextEscaped(b, size, pos);
      if (v == kNeedMore) return Result::kNeedMore;
      if (v < 0 || v > 0xFF) {
        frame.error = Describe(v);
        consumed = pos;
        frame.raw_size = pos;
        return Result::kFrame;
      }
      bytes[i] = static_cast<std::uint8_t>(v);
    }
    for (int i = 0; i < 5; ++i) hdr[i] = bytes[i];
    if (kind == zm::kBin32) {
      frame.error = "binary header with CRC-32";
    } else if (Crc16(hdr, 5) != (bytes[5] << 8 | bytes[6])) {
      frame.error = "binary header CRC wrong";
    }
  }
  frame.header = Header::WithBytes(hdr[0], hdr[1], hdr[2], hdr[3], hdr[4]);
  if (hdr[0] == zm::kFile || hdr[0] == zm::kData) {
    frame.has_data = true;
    for (;;) {
      const int v = NextEscaped(b, size, pos);
      if (v == kNeedMore) return Result::kNeedMore;
      if (v >= 0 && v <= 0xFF) {
        frame.data.push_back(static_cast<std::uint8_t>(v));
        // A subpacket longer than any block is a runaway, not a slow line.
        if (frame.data.size() > 8192) {
          if (frame.error.empty()) frame.error = "data subpacket without end";
          consumed = pos;
          frame.raw_size = pos;
          return Result::kFrame;
        }
        continue;
      }
      if (v & kFrameEnd) {
        frame.frame_end = static_cast<std::uint8_t>(v & 0xFF);
        break;
      }
      if (frame.error.empty()) frame.error = "data subpacket: " + Describe(v);
      consumed = pos;
      frame.raw_size = pos;
      return Result::kFrame;
    }
    std::uint8_t crc_bytes[2];
    for (auto& c : crc_bytes) {
      const int v = NextEscaped(b, size, pos);
      if (v == kNeedMore) return Result::kNeedMore;
      if (v < 0 || v > 0xFF) {
        if (frame.error.empty()) frame.error = "data subpacket CRC: " + Describe(v);
        consumed = pos;
        frame.raw_size = pos;
        return Result::kFrame;
      }
      c = static_cast<std::uint8_t>(v);
    }
    std::uint16_t crc = Crc16(frame.data.data(), frame.data.size());
    crc = Crc16(&frame.frame_end, 1, crc);
    if (frame.error.empty() && crc != (crc_bytes[0] << 8 | crc_bytes[1])) frame.error = "data subpacket CRC wrong";
    if (frame.frame_end == zm::kCrcW && pos < size && b[pos] == zm::kXon) ++pos;
  }
  consumed = pos;
  frame.raw_size = pos;
  return Result::kFrame;
}

std::string Hex(const std::uint8_t* data, std::size_t size) {
  std::string out;
  out.reserve(size * 3);
  char cell[4];
  for (std::size_t i = 0; i < size; ++i) {
    std::snprintf(cell, sizeof cell, i ? " %02X" : "%02X", data[i]);
    out += cell;
  }
  return out;
}

}  // namespace mfu::sim
