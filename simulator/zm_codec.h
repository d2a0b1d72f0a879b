// The simulated modem's own ZMODEM codec: CRC-16, the header and subpacket
// encoders its receiver answers with (and that tests send with), and an
// incremental frame parser for what the tool sends. It shares no code with
// zmodem/ on purpose: the simulator judges the tool's encoder, so a mistake
// there must not be mirrored here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mfu::sim {

using Bytes = std::vector<std::uint8_t>;

namespace zm {
inline constexpr std::uint8_t kPad = 0x2A;
inline constexpr std::uint8_t kDle = 0x18;
inline constexpr std::uint8_t kBin = 0x41;
inline constexpr std::uint8_t kHex = 0x42;
inline constexpr std::uint8_t kBin32 = 0x43;
inline constexpr std::uint8_t kCrcE = 0x68;
inline constexpr std::uint8_t kCrcG = 0x69;
inline constexpr std::uint8_t kCrcQ = 0x6A;
inline constexpr std::uint8_t kCrcW = 0x6B;
inline constexpr std::uint8_t kXon = 0x11;

inline constexpr std::uint8_t kRqinit = 0;
inline constexpr std::uint8_t kRinit = 1;
inline constexpr std::uint8_t kAck = 3;
inline constexpr std::uint8_t kFile = 4;
inline constexpr std::uint8_t kSkip = 5;
inline constexpr std::uint8_t kNak = 6;
inline constexpr std::uint8_t kAbort = 7;
inline constexpr std::uint8_t kFin = 8;
inline constexpr std::uint8_t kRpos = 9;
inline constexpr std::uint8_t kData = 10;
inline constexpr std::uint8_t kEof = 11;
}  // namespace zm

// Name of a header type ("ZDATA"), or "type 42" for an unknown one.
std::string FrameTypeName(int type);

// CRC-16/XMODEM, computed bit by bit (no table) so that it cannot share a
// table error with the tool's own.
std::uint16_t Crc16(const std::uint8_t* data, std::size_t size, std::uint16_t crc = 0);

// A header: type and four data bytes (ZP0..ZP3 / ZF3..ZF0).
struct Header {
  std::uint8_t type = 0;
  std::uint8_t data[4] = {0, 0, 0, 0};
  std::uint32_t Position() const;
  static Header WithPosition(std::uint8_t type, std::uint32_t position);
  static Header WithBytes(std::uint8_t type, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3, std::uint8_t b4);
};

// Hex header as a receiver sends it: ** ZDLE B, 14 lowercase digits, CR,
// LF|0x80, and an XON unless the type is ZFIN or ZACK.
Bytes EncodeHexHeader(const Header& header);
// Binary header with CRC-16 (ZDLE escaping of every control character that
// needs it).
Bytes EncodeBinaryHeader(const Header& header);
// Data subpacket: escaped data, ZDLE, frame end, escaped CRC-16, and an XON
// after ZCRCW.
Bytes EncodeSubpacket(const std::uint8_t* data, std::size_t size, std::uint8_t frame_end);
// Appends `byte` ZDLE-escaped: ZDLE, XON/XOFF (both parities), and CR after
// an at sign, as a sender must.
void PutEscaped(Bytes& out, std::uint8_t byte, std::uint8_t& last);

// A frame the tool sent, as parsed.
struct ParsedFrame {
  enum class Encoding { kHex, kBinary16, kBinary32 };
  Encoding encoding = Encoding::kHex;
  Header header;
  bool has_data = false;         // ZFILE and ZDATA carry one subpacket
  Bytes data;                    // its bytes, escapes undone
  std::uint8_t frame_end = 0;    // ZCRCE..ZCRCW
  std::string error;             // empty when every check passed
  std::size_t raw_size = 0;      // bytes the frame took on the line
};

// Parses frames from the front of a byte stream. Bytes before a ZPAD are
// "skipped" (reported so the model can act on "OO" and log noise).
class FrameParser {
 public:
  enum class Result { kNeedMore, kSkipped, kFrame };
  // Looks at buffer[0..size): kNeedMore when the frame there is not complete
  // yet (consumed is 0), kSkipped when `consumed` bytes before a frame are to
  // be dropped, kFrame when `frame` was parsed from `consumed` bytes (its
  // error is set when a check failed).
  static Result Parse(const std::uint8_t* buffer, std::size_t size, std::size_t& consumed, ParsedFrame& frame);
};

std::string Hex(const std::uint8_t* data, std::size_t size);
inline std::string Hex(const Bytes& bytes) { return Hex(bytes.data(), bytes.size()); }

}  // namespace mfu::sim
