#include <gtest/gtest.h>

#include <string>

#include "session/answer_reader.h"
#include "tests/session/session_fixture.h"

namespace mfu::test {
namespace {

class AnswerReaderTest : public SessionFixture {
 protected:
  void SetUp() override {
    SessionFixture::SetUp();
    device_->SetResponder(nullptr);
    port().SetPortHandle(port().OpenCommPort("COM1"));
    ASSERT_TRUE(port().PortHandle());
  }
  void TearDown() override {
    port().CloseCommPort();
    SessionFixture::TearDown();
  }
  std::string Text(unsigned id) {
    char buffer[256];
    LoadText(id, buffer, sizeof buffer);
    return buffer;
  }
};

TEST_F(AnswerReaderTest, ShownAnswerIsCutAtTheMarker) {
  device_->QueueAnswer("a\r\nDownload bereit\r\nModem-Update 2.1\r\n");
  ReadModemAnswer(port(), true, 1000);
  EXPECT_EQ(window_.LogText(), "a\r\nDownload bereit\r\n" + Text(2003));
}

TEST_F(AnswerReaderTest, AnswerStartingWithTheMarkerShowsAsEmpty) {
  device_->QueueAnswer("Modem-Update");
  ReadModemAnswer(port(), true, 1000);
  EXPECT_EQ(window_.LogText(), Text(2003));
}

TEST_F(AnswerReaderTest, ShownAnswerNeverHoldsBytesOfTheSilentOneBefore) {
  device_->QueueAnswer("at@d\r\nOK, a long silent answer\r\n");
  ReadModemAnswer(port(), false, 1000);
  EXPECT_EQ(window_.LogText(), "");
  device_->QueueAnswer("short");
  ReadModemAnswer(port(), true, 1000);
  EXPECT_EQ(window_.LogText(), "short" + Text(2003));
}

TEST_F(AnswerReaderTest, NoAnswerIsReportedShownOrNot) {
  ReadModemAnswer(port(), false, 100);
  EXPECT_EQ(window_.LogText(), Text(2004));
  ReadModemAnswer(port(), true, 100);
  EXPECT_EQ(window_.LogText(), Text(2004) + Text(2004));
  EXPECT_EQ(diags_.Count("READ TIMEOUT\n"), 2);
}

TEST_F(AnswerReaderTest, NulInsideAnAnswerEndsTheShownText) {
  device_->QueueAnswer(std::string("vor\0nach", 8));
  ReadModemAnswer(port(), true, 1000);
  EXPECT_EQ(window_.LogText(), "vor" + Text(2003));
  EXPECT_EQ(port().LastReadCount(), 8u);
}

TEST_F(AnswerReaderTest, AnswerOfTheWholeBufferIsShownWhole) {
  const std::string big(4096, 'x');
  device_->QueueAnswer(big + "rest");
  ReadModemAnswer(port(), true, 1000);
  EXPECT_EQ(window_.LogText(), big + Text(2003));
}

}  // namespace
}  // namespace mfu::test
