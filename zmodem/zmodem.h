// ZMODEM as the sender speaks it: frame encoding (hex headers, binary headers
// with CRC-16, data subpackets, ZDLE escaping) and header reception (hex,
// binary CRC-16 and CRC-32 headers), all on the one sender record.
//
// Threads: only the sender thread encodes and parses. The record's `State`
// is atomic because the window's cancel path reads it.
#pragma once

#include <atomic>
#include <cstdint>

namespace mfu {

// Control bytes and codes, under their ZMODEM names.
inline constexpr std::uint8_t ZPAD = 0x2A;
inline constexpr std::uint8_t ZDLE = 0x18;
inline constexpr std::uint8_t ZDLEE = 0x58;  // ZDLE escaped
inline constexpr std::uint8_t ZBIN = 0x41;
inline constexpr std::uint8_t ZHEX = 0x42;
inline constexpr std::uint8_t ZBIN32 = 0x43;
inline constexpr std::uint8_t ZCRCE = 0x68;
inline constexpr std::uint8_t ZCRCG = 0x69;
inline constexpr std::uint8_t ZCRCQ = 0x6A;
inline constexpr std::uint8_t ZCRCW = 0x6B;
inline constexpr std::uint8_t ZRUB0 = 0x6C;
inline constexpr std::uint8_t ZRUB1 = 0x6D;
inline constexpr std::uint8_t XON = 0x11;
inline constexpr std::uint8_t XOFF = 0x13;

// Header types.
inline constexpr std::uint8_t ZRQINIT = 0;
inline constexpr std::uint8_t ZRINIT = 1;
inline constexpr std::uint8_t ZSINIT = 2;
inline constexpr std::uint8_t ZACK = 3;
inline constexpr std::uint8_t ZFILE = 4;
inline constexpr std::uint8_t ZSKIP = 5;
inline constexpr std::uint8_t ZNAK = 6;
inline constexpr std::uint8_t ZABORT = 7;
inline constexpr std::uint8_t ZFIN = 8;
inline constexpr std::uint8_t ZRPOS = 9;
inline constexpr std::uint8_t ZDATA = 10;
inline constexpr std::uint8_t ZEOF = 11;

// Results of GetHeader.
inline constexpr int HeaderNone = 0;
inline constexpr int HeaderHex = 1;
inline constexpr int HeaderBinary16 = 2;
inline constexpr int HeaderBinary32 = 3;
inline constexpr int HeaderError = -1;

// Results of the byte readers besides 0..255 and -1.
inline constexpr int EndOfData = -2;
inline constexpr int GotCancel = 0x118;
inline constexpr int FrameEndFlag = 0x100;

// The largest frame the sender builds: a binary header whose five bytes and
// CRC all need escaping (3 + 2 * 7 = 17 bytes) and a subpacket of 512 data
// bytes that all need escaping, with its end, escaped CRC and XON
// (1024 + 2 + 4 + 1 = 1031). The frame buffer holds exactly that, so no frame
// the sender builds is ever cut.
inline constexpr int kMaxBlock = 512;
inline constexpr int kFrameBufferSize = 17 + 2 * kMaxBlock + 7;  // 1048

// The sender's record; one instance, all zero at program start.
struct ZMSender {
  std::uint8_t RxHeader[5];
  std::uint8_t TxHeader[5];
  std::uint8_t FrameBuffer[kFrameBufferSize];
  std::atomic<std::int32_t> State;
  std::uint8_t FileManagement;
  std::uint8_t FileConversion;
  std::uint8_t FileTransport;
  std::uint32_t EscapeControl;
  const std::uint8_t* ImageData;
  std::int32_t ImageSize;
  std::atomic<std::int32_t> FileDate;
  std::uint8_t* FramePointer;
  std::int32_t FrameLength;
  std::int32_t FilePosition;
  const std::uint8_t* RxBuffer;
  std::int32_t RxPosition;
  std::int32_t RxLength;
  std::int32_t StepTimeout;
};

// The one record (zero-initialised as a static object).
extern ZMSender SenderRecord;

// The byte PutEscaped placed last, as placed. 0 at start; never reset.
extern std::uint8_t LastSentByte;

// --- CRC -------------------------------------------------------------------
extern const std::uint16_t kCrc16Table[256];  // non-reflected, polynomial 0x1021
extern const std::uint32_t kCrc32Table[256];  // reflected, polynomial 0xEDB88320
// One step of the CRC-16 rule: register = table[register >> 8] ^ (register << 8) ^ b.
std::uint16_t UpdateCrc16(std::uint16_t crc, std::uint8_t byte);
// One step of the CRC-32 rule: register = table[(register ^ b) & 0xFF] ^ (register >> 8).
std::uint32_t UpdateCrc32(std::uint32_t crc, std::uint8_t byte);

// --- Encoding (frame buffer of the record) -----------------------------------
void StorePosition(ZMSender& zm, std::int32_t value);
void AppendFrameByte(ZMSender& zm, std::uint8_t byte);
void ToHexDigits(std::uint8_t byte, char digits[2]);
void PutEscaped(ZMSender& zm, std::uint8_t byte);
void PutHexHeader(ZMSender& zm);
void PutBinaryHeader(ZMSender& zm);
void PutDataSubpacket(ZMSender& zm, const std::uint8_t* data, std::int32_t length, std::uint8_t frame_end);

// --- Reception (RxBuffer/RxPosition/RxLength of the record) ------------------
int NextRxByte(ZMSender& zm);
int Get7BitByte(ZMSender& zm);
int GetHexByte(ZMSender& zm);
int GetEscapedByte(ZMSender& zm);
int GetHexHeader(ZMSender& zm);
int GetBinaryHeader(ZMSender& zm);
int GetBinaryHeader32(ZMSender& zm);
int GetHeader(ZMSender& zm);

}  // namespace mfu
