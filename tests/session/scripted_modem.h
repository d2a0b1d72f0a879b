// A scripted modem for the session's unit tests, on the fake serial device:
// it recognises each frame the sender writes by its first bytes and queues
// the answer the test asks for. The full modem model (every CRC and offset
// checked) is the simulator's; this one lets a test put any answer at any
// step.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/fake_serial.h"

namespace mfu::test {

// A lowercase hex header with its CR, LF|0x80 and (but for ZACK and ZFIN) XON,
// as the modem's loader sends it.
std::string HexHeader(std::uint8_t type, std::uint32_t position = 0);
// A correct binary CRC-16 header (which the sender must refuse).
std::string BinaryHeader(std::uint8_t type, std::uint32_t position = 0);

enum class Frame { kAti4, kAtD, kA, kB, kZrqinit, kZfile, kZdata, kZeof, kZfin, kZabort, kOverAndOut, kC, kOther };

// The download-mode banner the good modem answers "a\r\n" with.
inline constexpr char kBanner[] = "\r\nDownload-Modus aktiv\r\nModem-Update bereit\r\n";

struct SeenFrame {
  Frame frame;
  std::uint32_t position = 0;  // ZDATA/ZEOF
  std::size_t bytes = 0;       // length of the write
};

class ScriptedModem {
 public:
  // What to answer: the default is a good modem. Return "" for silence.
  using Answer = std::function<std::string(const SeenFrame& frame, int data_index)>;

  explicit ScriptedModem(std::shared_ptr<FakeSerialDevice> device);
  void SetAnswer(Answer answer);
  static std::string GoodAnswer(const SeenFrame& frame);

  std::vector<SeenFrame> Frames() const;
  int Count(Frame frame) const;

 private:
  void OnWrite(const std::vector<std::uint8_t>& written);

  std::shared_ptr<FakeSerialDevice> device_;
  mutable std::mutex lock_;
  Answer answer_;
  std::vector<SeenFrame> frames_;
  int data_index_ = 0;
};

}  // namespace mfu::test
