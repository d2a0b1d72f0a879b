// A second, deliberately plain ZMODEM encoder and decoder for the tests:
// bit-by-bit CRCs, no tables, no sharing with the code under test. The tests
// compare the production encoder against it and decode its frames with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mfu::test {

using Bytes = std::vector<std::uint8_t>;

// CRC-16/XMODEM, bit by bit.
inline std::uint16_t RefCrc16(const Bytes& data) {
  std::uint16_t crc = 0;
  for (const std::uint8_t b : data) {
    crc = static_cast<std::uint16_t>(crc ^ (b << 8));
    for (int i = 0; i < 8; ++i) {
      crc = (crc & 0x8000) != 0 ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021) : static_cast<std::uint16_t>(crc << 1);
    }
  }
  return crc;
}

// The standard CRC-32 (reflected, all ones in and out), bit by bit.
inline std::uint32_t RefCrc32(const Bytes& data) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const std::uint8_t b : data) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1u) != 0 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return ~crc;
}

// Escapes one byte the way the line needs it; `last` is the byte placed
// before (in its placed form) and is updated.
inline void RefEscape(Bytes& out, std::uint8_t b, std::uint8_t& last) {
  const bool flow = b == 0x11 || b == 0x13 || b == 0x91 || b == 0x93;
  const bool at_cr = (b == 0x0D || b == 0x8D) && (last & 0x7F) == 0x40;
  if (b == 0x18) {
    out.push_back(0x18);
    out.push_back(0x58);
    last = 0x58;
  } else if ((b & 0x60) == 0 && (flow || at_cr)) {
    out.push_back(0x18);
    last = static_cast<std::uint8_t>(b ^ 0x40);
    out.push_back(last);
  } else {
    out.push_back(b);
    last = b;
  }
}

inline Bytes RefBinaryHeader(const Bytes& header, std::uint8_t& last) {
  Bytes out{0x2A, 0x18, 0x41};
  for (const std::uint8_t b : header) RefEscape(out, b, last);
  const std::uint16_t crc = RefCrc16(header);
  RefEscape(out, static_cast<std::uint8_t>(crc >> 8), last);
  RefEscape(out, static_cast<std::uint8_t>(crc & 0xFF), last);
  return out;
}

inline Bytes RefSubpacket(const Bytes& data, std::uint8_t frame_end, std::uint8_t& last) {
  Bytes out;
  for (const std::uint8_t b : data) RefEscape(out, b, last);
  out.push_back(0x18);
  out.push_back(frame_end);
  Bytes covered = data;
  covered.push_back(frame_end);
  const std::uint16_t crc = RefCrc16(covered);
  RefEscape(out, static_cast<std::uint8_t>(crc >> 8), last);
  RefEscape(out, static_cast<std::uint8_t>(crc & 0xFF), last);
  if (frame_end == 0x6B) out.push_back(0x11);
  return out;
}

inline std::string RefHexDigits(std::uint8_t b) {
  static const char* const kDigits = "0123456789abcdef";
  return std::string{kDigits[b >> 4], kDigits[b & 0x0F]};
}

// A hex header as the receiver sends it: introducer, digits, CRC digits,
// then whatever trailer the test asks for.
inline Bytes RefHexHeader(const Bytes& header, const Bytes& trailer) {
  Bytes out{0x2A, 0x2A, 0x18, 0x42};
  std::string text;
  for (const std::uint8_t b : header) text += RefHexDigits(b);
  const std::uint16_t crc = RefCrc16(header);
  text += RefHexDigits(static_cast<std::uint8_t>(crc >> 8));
  text += RefHexDigits(static_cast<std::uint8_t>(crc & 0xFF));
  out.insert(out.end(), text.begin(), text.end());
  out.insert(out.end(), trailer.begin(), trailer.end());
  return out;
}

// What the decoder found in one frame.
struct RefFrame {
  std::string error;  // empty when the frame is good
  Bytes header;
  bool has_data = false;
  Bytes data;
  std::uint8_t frame_end = 0;
  std::size_t consumed = 0;
};

// Decodes a binary CRC-16 header, optionally followed by one data subpacket,
// and checks both CRCs. It also checks that the bytes are escaped exactly as
// the line needs: no raw flow control, no raw ZDLE, and no raw CR after "@".
// `last` is the placed byte before the frame.
inline RefFrame RefDecodeBinaryFrame(const Bytes& in, std::uint8_t last, bool expect_data) {
  RefFrame f;
  std::size_t i = 0;
  auto fail = [&f](const std::string& why) {
    f.error = why;
    return f;
  };
  // Takes one escaped byte; returns -1 on an error, 0x100 | code on ZDLE+frame end.
  auto take = [&](std::string& why) -> int {
    if (i >= in.size()) {
      why = "ran out";
      return -1;
    }
    const std::uint8_t c = in[i++];
    if (c == 0x11 || c == 0x13 || c == 0x91 || c == 0x93) {
      why = "raw flow control";
      return -1;
    }
    if ((c == 0x0D || c == 0x8D) && (last & 0x7F) == 0x40) {
      why = "raw CR after @";
      return -1;
    }
    if (c != 0x18) {
      last = c;
      return c;
    }
    if (i >= in.size()) {
      why = "ran out after ZDLE";
      return -1;
    }
    const std::uint8_t e = in[i++];
    if (e >= 0x68 && e <= 0x6B) return 0x100 | e;  // raw bytes: `last` unchanged
    if ((e & 0x60) != 0x40) {
      why = "bad escape";
      return -1;
    }
    last = e;
    return e ^ 0x40;
  };
  if (in.size() < 3 || in[0] != 0x2A || in[1] != 0x18 || in[2] != 0x41) return fail("no binary introducer");
  i = 3;
  std::string why;
  Bytes hdr_and_crc;
  for (int k = 0; k < 7; ++k) {
    const int c = take(why);
    if (c < 0) return fail(why);
    if (c > 0xFF) return fail("frame end in header");
    hdr_and_crc.push_back(static_cast<std::uint8_t>(c));
  }
  f.header.assign(hdr_and_crc.begin(), hdr_and_crc.begin() + 5);
  const std::uint16_t hcrc = RefCrc16(f.header);
  if (hdr_and_crc[5] != (hcrc >> 8) || hdr_and_crc[6] != (hcrc & 0xFF)) return fail("header crc");
  if (expect_data) {
    f.has_data = true;
    for (;;) {
      const int c = take(why);
      if (c < 0) return fail(why);
      if (c > 0xFF) {
        f.frame_end = static_cast<std::uint8_t>(c & 0xFF);
        break;
      }
      f.data.push_back(static_cast<std::uint8_t>(c));
    }
    Bytes crc_bytes;
    for (int k = 0; k < 2; ++k) {
      const int c = take(why);
      if (c < 0) return fail(why);
      if (c > 0xFF) return fail("frame end in crc");
      crc_bytes.push_back(static_cast<std::uint8_t>(c));
    }
    Bytes covered = f.data;
    covered.push_back(f.frame_end);
    const std::uint16_t dcrc = RefCrc16(covered);
    if (crc_bytes[0] != (dcrc >> 8) || crc_bytes[1] != (dcrc & 0xFF)) return fail("data crc");
    if (f.frame_end == 0x6B) {
      if (i >= in.size() || in[i] != 0x11) return fail("no XON after ZCRCW");
      ++i;
    }
  }
  f.consumed = i;
  return f;
}

}  // namespace mfu::test
