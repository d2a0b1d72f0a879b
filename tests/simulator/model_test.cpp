// The pure modem model: the dialogue, the receiver's checks and the faults,
// driven by a test-side sender built from the frames the protocol defines.
#include <gtest/gtest.h>

#include <string>

#include "simulator/modem_model.h"

namespace mfu::sim {
namespace {

Bytes Of(const std::string& s) { return Bytes(s.begin(), s.end()); }
std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }
Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes TestImage(std::size_t size) {
  Bytes image(size);
  for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>((i * 7 + i / 256) & 0xFF);
  return image;
}

Bytes FileInfo(std::size_t size, const std::string& name = "bc2780ix.bin", const std::string& date = "6610700432") {
  Bytes block(128, 0);
  const std::string text = std::to_string(size) + " " + date + " 100666 ";
  std::copy(name.begin(), name.end(), block.begin());
  std::copy(text.begin(), text.end(), block.begin() + static_cast<std::ptrdiff_t>(name.size()) + 1);
  return block;
}

Bytes ZFile(const Bytes& info) {
  return Cat(EncodeBinaryHeader(Header::WithPosition(zm::kFile, 0)), EncodeSubpacket(info.data(), info.size(), zm::kCrcW));
}
Bytes ZData(std::uint32_t pos, const Bytes& image, std::size_t len) {
  return Cat(EncodeBinaryHeader(Header::WithPosition(zm::kData, pos)), EncodeSubpacket(image.data() + pos, len, zm::kCrcW));
}
Bytes Hex(std::uint8_t type, std::uint32_t pos = 0) { return EncodeHexHeader(Header::WithPosition(type, pos)); }

struct Driver {
  explicit Driver(ModemOptions options) : model(std::move(options)) {}
  // Sends `bytes` and returns all the modem answered, with the time of its
  // first byte in `first_at`.
  Bytes Send(const Bytes& bytes) {
    now = model.Receive(bytes.data(), bytes.size(), now);
    Bytes out;
    for (const Action& a : model.TakeActions()) {
      actions.push_back(a);
      if (a.kind != Action::Kind::kSend) continue;
      if (out.empty()) first_at = a.at;
      out.insert(out.end(), a.bytes.begin(), a.bytes.end());
      now = std::max(now, a.at + static_cast<Micros>(a.bytes.size()) * model.ByteMicros());
    }
    return out;
  }
  ModemModel model;
  Micros now = 0;
  Micros first_at = 0;
  std::vector<Action> actions;
};

ModemOptions Options(const Bytes& image) {
  ModemOptions o;
  o.expected_image = image;
  return o;
}

void EnterDownload(Driver& d) {
  EXPECT_NE(Str(d.Send(Of("at@d\r\n"))), "");
  EXPECT_NE(Str(d.Send(Of("a\r\n"))).find("Modem-Update"), std::string::npos);
  EXPECT_FALSE(d.Send(Of("b")).empty());
  EXPECT_EQ(d.Send(Hex(zm::kRqinit)), EncodeHexHeader(ModemModel::RinitHeader()));
}

TEST(SimModel, ProbeAnswerHoldsTheIdentifierAndOk) {
  Driver d(Options({}));
  const std::string answer = Str(d.Send(Of("ati4\r\n")));
  EXPECT_EQ(answer.rfind("ati4\r", 0), 0u);
  EXPECT_NE(answer.find("QVRLMAZZ"), std::string::npos);
  EXPECT_EQ(answer.substr(answer.size() - 6), "\r\nOK\r\n");
  EXPECT_EQ(Str(d.Send(Of("a\r\n"))).find("Modem-Update"), std::string::npos);  // not before at@d
}

TEST(SimModel, WholeSessionAnswersHexHeadersAndSucceeds) {
  const Bytes image = TestImage(1300);
  Driver d(Options(image));
  EnterDownload(d);
  EXPECT_EQ(d.Send(ZFile(FileInfo(image.size()))), Hex(zm::kRpos, 0));
  const Bytes ack1 = d.Send(ZData(0, image, 512));
  EXPECT_EQ(ack1.size(), 20u);  // ZACK without XON
  EXPECT_EQ(ack1, Hex(zm::kAck, 512));
  EXPECT_EQ(d.Send(ZData(512, image, 512)), Hex(zm::kAck, 1024));
  EXPECT_EQ(d.Send(ZData(1024, image, 276)), Hex(zm::kAck, 1300));
  EXPECT_EQ(d.Send(EncodeBinaryHeader(Header::WithPosition(zm::kEof, 1300))), EncodeHexHeader(ModemModel::RinitHeader()));
  EXPECT_EQ(d.Send(Hex(zm::kFin)), Hex(zm::kFin));
  EXPECT_EQ(Str(d.Send(Of("OO"))), ModemModel::SuccessText());
  EXPECT_EQ(d.model.observations().image, image);
  EXPECT_EQ(d.model.observations().image_matched, true);
  EXPECT_TRUE(d.model.observations().errors.empty());
  ASSERT_EQ(d.model.observations().frames.size(), 7u);
  EXPECT_EQ(d.model.observations().frames[2].type, zm::kData);
  EXPECT_EQ(d.model.observations().frames[3].position, 512u);
}

TEST(SimModel, RejectsABlockWithABadCrc) {
  const Bytes image = TestImage(600);
  Driver d(Options(image));
  EnterDownload(d);
  d.Send(ZFile(FileInfo(image.size())));
  Bytes frame = ZData(0, image, 512);
  frame[20] ^= 0x04;  // one data bit
  EXPECT_EQ(d.Send(frame), Hex(zm::kNak));
  EXPECT_TRUE(d.model.observations().image.empty());
  ASSERT_EQ(d.model.observations().errors.size(), 1u);
  EXPECT_NE(d.model.observations().errors[0].find("CRC"), std::string::npos);
}

TEST(SimModel, RejectsAWrongOffsetAndAWrongEof) {
  const Bytes image = TestImage(1024);
  Driver d(Options(image));
  EnterDownload(d);
  d.Send(ZFile(FileInfo(image.size())));
  EXPECT_EQ(d.Send(ZData(0, image, 512)), Hex(zm::kAck, 512));
  EXPECT_EQ(d.Send(ZData(0, image, 512)), Hex(zm::kNak));  // the same block again
  EXPECT_EQ(d.model.observations().image.size(), 512u);
  EXPECT_EQ(d.Send(ZData(512, image, 512)), Hex(zm::kAck, 1024));
  EXPECT_EQ(d.Send(EncodeBinaryHeader(Header::WithPosition(zm::kEof, 1000))), Hex(zm::kNak));
  EXPECT_EQ(d.model.observations().errors.size(), 2u);
}

TEST(SimModel, ChecksTheFileInformation) {
  const Bytes image = TestImage(100);
  for (const Bytes& info : {FileInfo(100, "other.bin"), FileInfo(100, "bc2780ix.bin", "6610700433"),
                            FileInfo(100, "bc2780ix.bin", "908296474x")}) {
    Driver d(Options(image));
    EnterDownload(d);
    EXPECT_EQ(d.Send(ZFile(info)), Hex(zm::kNak));
  }
  Bytes no_space = FileInfo(100);
  no_space[13 + std::string("100 6610700432 100666 ").size() - 1] = 0;  // the space after the mode
  Driver d(Options(image));
  EnterDownload(d);
  EXPECT_EQ(d.Send(ZFile(no_space)), Hex(zm::kNak));
}

TEST(SimModel, FinalAnswerFailsForAnotherImage) {
  const Bytes image = TestImage(100);
  Bytes other = image;
  other[50] ^= 1;
  Driver d(Options(image));
  EnterDownload(d);
  d.Send(ZFile(FileInfo(100)));
  d.Send(ZData(0, other, 100));
  d.Send(EncodeBinaryHeader(Header::WithPosition(zm::kEof, 100)));
  d.Send(Hex(zm::kFin));
  const std::string final_answer = Str(d.Send(Of("OO")));
  EXPECT_EQ(final_answer.find("erfolgreich"), std::string::npos);
  EXPECT_EQ(d.model.observations().image_matched, false);
}

TEST(SimModel, AbortIsRecordedAndAnsweredWithZfin) {
  Driver d(Options(TestImage(100)));
  EnterDownload(d);
  EXPECT_EQ(d.Send(Hex(zm::kAbort)), Hex(zm::kFin));
  EXPECT_EQ(d.model.observations().aborts, 1);
  d.Send(Of("c"));
  EXPECT_TRUE(d.model.observations().exit_byte);
}

TEST(SimModel, HeaderFaultsReplaceTheDueAnswer) {
  const Bytes image = TestImage(1536);
  ModemOptions o = Options(image);
  Fault f;
  std::string error;
  ASSERT_TRUE(ParseFault("zdata:zrpos:2", f, error));
  o.faults.push_back(f);
  ASSERT_TRUE(ParseFault("zdata:binary:1", f, error));
  o.faults.push_back(f);
  ASSERT_TRUE(ParseFault("zdata:crc:3", f, error));
  o.faults.push_back(f);
  Driver d(o);
  EnterDownload(d);
  d.Send(ZFile(FileInfo(image.size())));
  EXPECT_EQ(d.Send(ZData(0, image, 512)), EncodeBinaryHeader(Header::WithPosition(zm::kAck, 512)));
  EXPECT_EQ(d.Send(ZData(512, image, 512)), Hex(zm::kRpos, 1024));
  const Bytes bad = d.Send(ZData(1024, image, 512));
  ASSERT_EQ(bad.size(), 20u);
  EXPECT_NE(bad, Hex(zm::kAck, 1536));
  const Bytes good = Hex(zm::kAck, 1536);
  EXPECT_EQ(Bytes(bad.begin(), bad.begin() + 14), Bytes(good.begin(), good.begin() + 14));
}

TEST(SimModel, TimingFaultsAndGarbage) {
  ModemOptions o = Options(TestImage(10));
  std::string error;
  Fault f;
  ASSERT_TRUE(ParseFault("zrqinit:late", f, error));
  o.faults.push_back(f);
  ASSERT_TRUE(ParseFault("atd:garbage", f, error));
  o.faults.push_back(f);
  ASSERT_TRUE(ParseFault("a:silence", f, error));
  o.faults.push_back(f);
  Driver d(o);
  const Bytes atd = d.Send(Of("at@d\r\n"));
  EXPECT_EQ(std::find(atd.begin(), atd.end(), zm::kPad), atd.end());
  EXPECT_EQ(Str(atd).find("at@d\r"), 11u);  // after the noise
  EXPECT_TRUE(d.Send(Of("a\r\n")).empty());
  d.Send(Of("b"));
  const Micros sent = d.now;
  EXPECT_EQ(d.Send(Hex(zm::kRqinit)), EncodeHexHeader(ModemModel::RinitHeader()));
  EXPECT_GE(d.first_at - sent, 11'000'000);  // past the tool's 6000 ms
}

TEST(SimModel, FinalFaults) {
  for (const char* fault_text : {"final:nul", "final:no-success"}) {
    const Bytes image = TestImage(10);
    ModemOptions o = Options(image);
    Fault f;
    std::string error;
    ASSERT_TRUE(ParseFault(fault_text, f, error));
    o.faults.push_back(f);
    Driver d(o);
    EnterDownload(d);
    d.Send(ZFile(FileInfo(10)));
    d.Send(ZData(0, image, 10));
    d.Send(EncodeBinaryHeader(Header::WithPosition(zm::kEof, 10)));
    d.Send(Hex(zm::kFin));
    const Bytes answer = d.Send(Of("OO"));
    const std::string text = Str(answer);
    const auto nul = text.find('\0');
    const auto word = text.find("erfolgreich");
    EXPECT_TRUE(word == std::string::npos || (nul != std::string::npos && nul < word)) << fault_text;
    EXPECT_EQ(d.model.observations().image_matched, true);  // the image itself was good
  }
}

TEST(SimModel, LineFaultsAndHangUp) {
  ModemOptions o = Options(TestImage(2048));
  std::string error;
  Fault f;
  ASSERT_TRUE(ParseFault("start:dsr-off", f, error));
  o.faults.push_back(f);
  ASSERT_TRUE(ParseFault("zdata:hangup:2", f, error));
  o.faults.push_back(f);
  Driver d(o);
  auto initial = d.model.TakeActions();
  ASSERT_EQ(initial.size(), 1u);
  EXPECT_EQ(initial[0].kind, Action::Kind::kLines);
  EXPECT_TRUE(initial[0].cts);
  EXPECT_FALSE(initial[0].dsr);
  EnterDownload(d);
  const Bytes image = TestImage(2048);
  d.Send(ZFile(FileInfo(2048)));
  EXPECT_FALSE(d.Send(ZData(0, image, 512)).empty());
  EXPECT_TRUE(d.Send(ZData(512, image, 512)).empty());
  EXPECT_TRUE(d.model.observations().hung_up);
  bool hung = false;
  for (const Action& a : d.actions) hung |= a.kind == Action::Kind::kHangUp;
  EXPECT_TRUE(hung);
  EXPECT_TRUE(d.Send(ZData(1024, image, 512)).empty());  // dead line
}

TEST(SimModel, PacesAt57600BitsPerSecond) {
  ModemOptions o = Options({});
  o.real_line_rate = true;
  ModemModel m(o);
  const Bytes block(5760, 'x');
  // 5760 bytes of 10 bit times at 57600 bit/s take one second.
  const Micros arrived = m.Receive(block.data(), block.size(), 0);
  EXPECT_NEAR(static_cast<double>(arrived), 1e6, 1e6 * 0.01);
  // A write right behind it queues behind the first.
  EXPECT_NEAR(static_cast<double>(m.Receive(block.data(), 576, 0)), 1.1e6, 1.1e6 * 0.01);
}

TEST(SimModel, PacesItsAnswersAndTheFlashTime) {
  const Bytes image = TestImage(512);
  ModemOptions o = Options(image);
  o.real_line_rate = true;
  o.flash_ms_per_block = 30;
  Driver d(o);
  const Bytes answer = d.Send(Of("ati4\r\n"));
  // 6 bytes in, 20 ms latency, then the answer takes its bytes' line time.
  EXPECT_EQ(d.first_at, 6 * 173 + 20'000);
  EXPECT_EQ(d.model.TxFreeAt() - d.first_at, static_cast<Micros>(answer.size()) * 173);
  EnterDownload(d);
  d.Send(ZFile(FileInfo(image.size())));
  const Bytes block = ZData(0, image, 512);
  const Micros before = d.now;
  d.Send(block);
  // The ZACK waits for the block's line time, the header latency and the flash time.
  EXPECT_EQ(d.first_at - before, static_cast<Micros>(block.size()) * 173 + 2'000 + 30'000);
}

TEST(SimModel, ParsesEveryFaultOfTheHelpAndRefusesNonsense) {
  Fault f;
  std::string error;
  EXPECT_TRUE(ParseFault("zdata:crc:728", f, error));
  EXPECT_EQ(f.block, 728u);
  EXPECT_EQ(FaultToString(f), "zdata:crc:728");
  EXPECT_FALSE(ParseFault("probe:znak", f, error));
  EXPECT_FALSE(ParseFault("zfin:nul", f, error));
  EXPECT_FALSE(ParseFault("zfile:silence:2", f, error));
  EXPECT_FALSE(ParseFault("zdata:crc:0", f, error));
  EXPECT_FALSE(ParseFault("start:silence", f, error));
  EXPECT_FALSE(ParseFault("nothing", f, error));
  EXPECT_NE(error, "");
}

}  // namespace
}  // namespace mfu::sim
