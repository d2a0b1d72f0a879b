#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "session/monitor.h"
#include "tests/session/session_fixture.h"
#include "zmodem/sender.h"

namespace mfu::test {
namespace {

class SenderTest : public SessionFixture {
 protected:
  void SetUp() override {
    SessionFixture::SetUp();
    outlet_ = std::make_unique<RestingOutlet>(session());
    port().SetPortHandle(port().OpenCommPort("COM1"));
    ASSERT_TRUE(port().PortHandle());
    monitor().UpdateSucceededEvent = MakeEvent(Event::Reset::kManual);
    monitor().UpdateFailedEvent = MakeEvent(Event::Reset::kManual);
    port().ReadCompleteEvent = MakeEvent(Event::Reset::kManual);
    port().WriteCompleteEvent = MakeEvent(Event::Reset::kManual);
  }
  // Runs the sender until it has nothing left to do.
  void RunSession() {
    outlet_->outcome = Outcome::kNone;  // a new run: no outcome decided
    ASSERT_EQ(sender().StartSender(*outlet_), 1);
    ASSERT_TRUE(outlet_->rested.Wait(1000000));
  }
  std::unique_ptr<RestingOutlet> outlet_;
  bool Succeeded() { return monitor().UpdateSucceededEvent->IsSet(); }
  bool Failed() { return monitor().UpdateFailedEvent->IsSet(); }
  std::vector<SeenFrame> Of(Frame kind) {
    std::vector<SeenFrame> out;
    for (const SeenFrame& f : modem_->Frames())
      if (f.frame == kind) out.push_back(f);
    return out;
  }
};

TEST_F(SenderTest, ImageOfOneFullBlockGoesOutInOneFrameFromTheZrposStep) {
  UseImageOfSize(512);
  RunSession();
  EXPECT_TRUE(Succeeded());
  EXPECT_FALSE(Failed());
  const auto data = Of(Frame::kZdata);
  ASSERT_EQ(data.size(), 1u);
  EXPECT_EQ(data[0].position, 0u);
  ASSERT_EQ(Of(Frame::kZeof).size(), 1u);
  EXPECT_EQ(Of(Frame::kZeof)[0].position, 512u);
  EXPECT_EQ(window_.ProgressUpper(), 1);
  EXPECT_EQ(window_.ProgressSteps(), 1);
  EXPECT_EQ(SenderRecord.State.load(), 6);
}

TEST_F(SenderTest, ImagesOf513And1024BytesGoOutInTwoBlocks) {
  for (std::size_t size : {513u, 1024u}) {
    UseImageOfSize(size);
    modem_ = std::make_unique<ScriptedModem>(device_);
    RunSession();
    EXPECT_TRUE(Succeeded()) << size;
    const auto data = Of(Frame::kZdata);
    ASSERT_EQ(data.size(), 2u) << size;
    EXPECT_EQ(data[1].position, 512u);
    EXPECT_EQ(Of(Frame::kZeof).at(0).position, size);
    EXPECT_EQ(window_.ProgressUpper(), 2);
    sender().StopSender();
    monitor().UpdateSucceededEvent->ResetEvent();
  }
}

TEST_F(SenderTest, TheLineSequenceOfAWholeSession) {
  RunSession();
  std::vector<Frame> kinds;
  for (const SeenFrame& f : modem_->Frames()) kinds.push_back(f.frame);
  const std::vector<Frame> expected = {Frame::kB,     Frame::kZrqinit, Frame::kZfile, Frame::kZdata, Frame::kZdata,
                                       Frame::kZdata, Frame::kZeof,    Frame::kZfin,  Frame::kOverAndOut};
  EXPECT_EQ(kinds, expected);
  const std::string log = window_.LogText();
  EXPECT_NE(log.find("\r\nNeue Firmware wird zum Modem geschickt ...\r\n"), std::string::npos);
  EXPECT_NE(log.find("\r\nFlash wird gepr\xFC" "ft...\r\n"), std::string::npos);
  EXPECT_TRUE(Succeeded());
}

TEST_F(SenderTest, TheBuiltInImageTakes728FramesAndAZeofOf372528) {
  SetResourceSource(&BuiltInResources());
  RunSession();
  EXPECT_TRUE(Succeeded());
  const auto data = Of(Frame::kZdata);
  ASSERT_EQ(data.size(), 728u);
  for (std::size_t i = 0; i < data.size(); ++i) ASSERT_EQ(data[i].position, i * 512) << i;
  EXPECT_EQ(Of(Frame::kZeof).at(0).position, 372528u);
  EXPECT_EQ(window_.ProgressUpper(), 728);
  EXPECT_EQ(window_.ProgressStep(), 1);
  EXPECT_EQ(window_.ProgressSteps(), 728);
  EXPECT_EQ(SenderRecord.FileDate.load(), 908296474);
}

TEST_F(SenderTest, ZfileCarriesTheFileInformationAndZeroFlags) {
  SetResourceSource(&BuiltInResources());
  RunSession();
  std::vector<std::uint8_t> zfile;
  for (const auto& w : device_->Writes())
    if (w.size() > 4 && w[0] == 0x2A && w[1] == 0x18 && w[2] == 0x41 && w[3] == 0x04) zfile = w;
  ASSERT_FALSE(zfile.empty());
  const std::uint8_t header[] = {0x2A, 0x18, 0x41, 0x04, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(std::memcmp(zfile.data(), header, sizeof header), 0);
  // The firmware's file information goes out in the subpacket (it needs no
  // escaping).
  const std::string information("bc2780ix.bin\0" "372528 6610700432 100666 ", 38);
  EXPECT_NE(std::search(zfile.begin(), zfile.end(), information.begin(), information.end()), zfile.end());
}

TEST_F(SenderTest, NoAnswerToBIsOnlyADiagnosticAndTheSessionSucceeds) {
  modem_->SetAnswer([](const SeenFrame& f, int) { return f.frame == Frame::kB ? "" : ScriptedModem::GoodAnswer(f); });
  RunSession();
  EXPECT_FALSE(Failed());
  EXPECT_TRUE(Succeeded());
  EXPECT_EQ(modem_->Count(Frame::kZabort), 0);
  EXPECT_EQ(diags_.Count("WaitForModemRsp() failed!\n"), 1);
}

TEST_F(SenderTest, WrongAnswersEndTheSessionWithZabort) {
  struct Case {
    const char* name;
    std::string answer;
  };
  const Case cases[] = {
      {"ZNAK", HexHeader(ZNAK)},
      {"ZRPOS for ZACK", HexHeader(ZRPOS, 512)},
      {"binary ZACK", BinaryHeader(ZACK, 1024)},
      {"damaged ZACK", [] {
         std::string s = HexHeader(ZACK, 1024);
         s[6] = 'f';
         return s;
       }()},
      {"text only", "NO CARRIER\r\n"},
  };
  for (const Case& c : cases) {
    modem_ = std::make_unique<ScriptedModem>(device_);
    const std::string wrong = c.answer;
    modem_->SetAnswer([wrong](const SeenFrame& f, int index) {
      return f.frame == Frame::kZdata && index == 1 ? wrong : ScriptedModem::GoodAnswer(f);
    });
    RunSession();
    EXPECT_TRUE(Failed()) << c.name;
    EXPECT_FALSE(Succeeded()) << c.name;
    EXPECT_EQ(modem_->Count(Frame::kZabort), 1) << c.name;
    EXPECT_EQ(Of(Frame::kZdata).size(), 2u) << c.name;
    EXPECT_EQ(modem_->Frames().back().frame, Frame::kZabort) << c.name;
    EXPECT_EQ(SenderRecord.State.load(), 3) << c.name;
    sender().StopSender();
    monitor().UpdateFailedEvent->ResetEvent();
  }
}

TEST_F(SenderTest, SilenceEndsTheSessionWithoutZabort) {
  modem_->SetAnswer([](const SeenFrame& f, int) { return f.frame == Frame::kZeof ? "" : ScriptedModem::GoodAnswer(f); });
  RunSession();
  EXPECT_TRUE(Failed());
  EXPECT_FALSE(Succeeded());
  EXPECT_EQ(modem_->Count(Frame::kZabort), 0);
  EXPECT_EQ(diags_.Count("READ TIMEOUT\n"), 1);
  EXPECT_EQ(diags_.Count("WaitForModemRsp() failed!\n"), 1);
  EXPECT_EQ(SenderRecord.State.load(), 5);
}

TEST_F(SenderTest, FinalAnswerMustHoldErfolgreichBeforeAnyZeroByte) {
  struct Case {
    std::string answer;
    bool success;
  };
  const Case cases[] = {
      {"Flash erfolgreich", true},
      {"erfolgreich", true},
      {std::string("\0erfolgreich", 12), false},
      {std::string("ok\0 erfolgreich", 15), false},
      {"Flash fehlgeschlagen", false},
      {"", false},
  };
  for (const Case& c : cases) {
    modem_ = std::make_unique<ScriptedModem>(device_);
    const std::string last = c.answer;
    modem_->SetAnswer([last](const SeenFrame& f, int) {
      return f.frame == Frame::kOverAndOut ? last : ScriptedModem::GoodAnswer(f);
    });
    RunSession();
    EXPECT_EQ(Succeeded(), c.success) << c.answer;
    EXPECT_EQ(Failed(), !c.success) << c.answer;
    sender().StopSender();
    monitor().UpdateSucceededEvent->ResetEvent();
    monitor().UpdateFailedEvent->ResetEvent();
  }
  EXPECT_NE(window_.LogText().find("\r\nKeine Antwort von Modem!!!\r\n"), std::string::npos);
}

TEST_F(SenderTest, FinalAnswerTestLooksOnlyAtTheBytesTheReadDelivered) {
  const std::uint8_t answer[] = {'e', 'r', 'f', 'o', 'l', 'g', 'r', 'e', 'i', 'c', 'h'};
  EXPECT_TRUE(FinalAnswerReportsSuccess(answer, 11));
  EXPECT_FALSE(FinalAnswerReportsSuccess(answer, 10));
  EXPECT_FALSE(FinalAnswerReportsSuccess(answer, 0));
}

TEST_F(SenderTest, MissingImageLeavesTheSessionRestingInState1) {
  resources_.lookup = FirmwareLookup::kNotFound;
  RunSession();
  EXPECT_EQ(diags_.Count("Can't FindResource\n"), 1);
  EXPECT_EQ(diags_.Count("TO DO!!!!!!\n"), 1);
  EXPECT_EQ(modem_->Count(Frame::kZfile), 0);
  EXPECT_EQ(SenderRecord.State.load(), 1);
  EXPECT_FALSE(Succeeded());
  EXPECT_FALSE(Failed());
  sender().StopSender();
  resources_.lookup = FirmwareLookup::kNotLoadable;
  RunSession();
  EXPECT_EQ(diags_.Count("Can't LoadResource\n"), 1);
}

TEST_F(SenderTest, NoAnswerToZrqinitFailsOnceAndNothingMoreIsSent) {
  // The error is served first; the data event left from the answer to "b"
  // then finds a sender that has given up.
  modem_->SetAnswer([](const SeenFrame& f, int) { return f.frame == Frame::kZrqinit ? "" : ScriptedModem::GoodAnswer(f); });
  RunSession();
  EXPECT_TRUE(Failed());
  EXPECT_EQ(diags_.Count("GetOverLappedResult() failed (996)\n"), 0);
  EXPECT_EQ(modem_->Count(Frame::kZabort), 0);
  EXPECT_EQ(modem_->Count(Frame::kZfile), 0);
}

TEST_F(SenderTest, StateIsZeroUntilTheZrqinitHasGoneOut) {
  ZMSenderInit(SenderRecord);
  EXPECT_EQ(SenderRecord.State.load(), 0);
  EXPECT_EQ(SenderRecord.StepTimeout, 60000);
  EXPECT_EQ(SenderRecord.FramePointer, SenderRecord.FrameBuffer);
  EXPECT_EQ(SenderRecord.ImageData, nullptr);
}

TEST_F(SenderTest, StopEndsASenderWaitingInALongReadWithinTheLimit) {
  SetTimeDivisor(1);  // real time: the sender sits in a 60 s read
  modem_->SetAnswer([](const SeenFrame& f, int index) {
    return f.frame == Frame::kZdata && index == 1 ? "" : ScriptedModem::GoodAnswer(f);
  });
  ASSERT_EQ(sender().StartSender(*outlet_), 1);
  while (Of(Frame::kZdata).size() < 2) SleepMs(10);
  const auto start = std::chrono::steady_clock::now();
  port().CloseCommPort();  // as the monitor does when it quits
  sender().StopSender();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_FALSE(session().SenderThreadHandle());
}

}  // namespace
}  // namespace mfu::test
