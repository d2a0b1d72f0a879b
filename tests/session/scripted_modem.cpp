#include "tests/session/scripted_modem.h"

#include "zmodem/zmodem.h"

namespace mfu::test {

std::string HexHeader(std::uint8_t type, std::uint32_t position) {
  ZMSender zm{};
  zm.FramePointer = zm.FrameBuffer;
  zm.TxHeader[0] = type;
  StorePosition(zm, static_cast<std::int32_t>(position));
  PutHexHeader(zm);
  return std::string(reinterpret_cast<const char*>(zm.FrameBuffer), static_cast<std::size_t>(zm.FrameLength));
}

std::string BinaryHeader(std::uint8_t type, std::uint32_t position) {
  ZMSender zm{};
  zm.FramePointer = zm.FrameBuffer;
  zm.TxHeader[0] = type;
  StorePosition(zm, static_cast<std::int32_t>(position));
  PutBinaryHeader(zm);
  return std::string(reinterpret_cast<const char*>(zm.FrameBuffer), static_cast<std::size_t>(zm.FrameLength));
}

namespace {

SeenFrame Classify(const std::vector<std::uint8_t>& w) {
  SeenFrame seen{Frame::kOther, 0, w.size()};
  auto hex_type = [&]() -> int {
    if (w.size() < 6 || w[0] != 0x2A || w[1] != 0x2A || w[2] != 0x18 || w[3] != 0x42) return -1;
    return std::stoi(std::string(w.begin() + 4, w.begin() + 6), nullptr, 16);
  };
  const std::string text(w.begin(), w.end());
  if (text == "ati4\r\n") seen.frame = Frame::kAti4;
  else if (text == "at@d\r\n") seen.frame = Frame::kAtD;
  else if (text == "a\r\n") seen.frame = Frame::kA;
  else if (w.size() == 1 && w[0] == 'b') seen.frame = Frame::kB;
  else if (w.size() == 1 && w[0] == 'c') seen.frame = Frame::kC;
  else if (w.size() == 2 && w[0] == 'O' && w[1] == 'O') seen.frame = Frame::kOverAndOut;
  else if (hex_type() == ZRQINIT) seen.frame = Frame::kZrqinit;
  else if (hex_type() == ZFIN) seen.frame = Frame::kZfin;
  else if (hex_type() == ZABORT) seen.frame = Frame::kZabort;
  else if (w.size() >= 8 && w[0] == 0x2A && w[1] == 0x18 && w[2] == 0x41) {
    // Offsets of the test images never need escaping in their low bytes
    // beyond what this reads back: take the header bytes unescaped.
    std::vector<std::uint8_t> header;
    for (std::size_t i = 3; i < w.size() && header.size() < 5; ++i) {
      if (w[i] == 0x18 && i + 1 < w.size()) {
        header.push_back(w[i + 1] == 0x58 ? 0x18 : static_cast<std::uint8_t>(w[i + 1] ^ 0x40));
        ++i;
      } else {
        header.push_back(w[i]);
      }
    }
    seen.position = header[1] | header[2] << 8 | header[3] << 16 | static_cast<std::uint32_t>(header[4]) << 24;
    if (header[0] == ZFILE) seen.frame = Frame::kZfile;
    if (header[0] == ZDATA) seen.frame = Frame::kZdata;
    if (header[0] == ZEOF) seen.frame = Frame::kZeof;
  }
  return seen;
}

}  // namespace

ScriptedModem::ScriptedModem(std::shared_ptr<FakeSerialDevice> device) : device_(std::move(device)) {
  device_->SetResponder([this](const std::vector<std::uint8_t>& written) { OnWrite(written); });
}

void ScriptedModem::SetAnswer(Answer answer) {
  std::lock_guard<std::mutex> guard(lock_);
  answer_ = std::move(answer);
}

std::string ScriptedModem::GoodAnswer(const SeenFrame& frame) {
  switch (frame.frame) {
    case Frame::kAti4: return "ati4\r\nKELVORA 56000 QVRLMAZZ\r\nOK\r\n";
    case Frame::kAtD: return "at@d\r\nOK\r\n";
    case Frame::kA: return kBanner;
    case Frame::kB: return "\r\nLoader bereit\r\n";
    case Frame::kZrqinit: return HexHeader(ZRINIT);
    case Frame::kZfile: return HexHeader(ZRPOS, 0);
    case Frame::kZdata: return HexHeader(ZACK, frame.position);
    case Frame::kZeof: return HexHeader(ZRINIT);
    case Frame::kZfin: return HexHeader(ZFIN);
    case Frame::kOverAndOut: return "\r\nFlash-Update erfolgreich.\r\n";
    default: return "";
  }
}

void ScriptedModem::OnWrite(const std::vector<std::uint8_t>& written) {
  SeenFrame seen = Classify(written);
  Answer answer;
  int index = 0;
  {
    std::lock_guard<std::mutex> guard(lock_);
    frames_.push_back(seen);
    if (seen.frame == Frame::kZdata) index = data_index_++;
    answer = answer_;
  }
  const std::string reply = answer ? answer(seen, index) : GoodAnswer(seen);
  if (!reply.empty()) device_->QueueAnswer(reply);
}

std::vector<SeenFrame> ScriptedModem::Frames() const {
  std::lock_guard<std::mutex> guard(lock_);
  return frames_;
}

int ScriptedModem::Count(Frame frame) const {
  std::lock_guard<std::mutex> guard(lock_);
  int n = 0;
  for (const SeenFrame& f : frames_) n += f.frame == frame ? 1 : 0;
  return n;
}

}  // namespace mfu::test
