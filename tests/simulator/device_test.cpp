// The in-process serial device of the simulated modem against the contracts
// of serial/serial_device.h, with the time seam sped up.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "simulator/simulated_modem.h"

namespace mfu::sim {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kDivisor = 20;
// An upper bound that only a hung call passes: 2 s real. The device keeps its
// schedule in program time, so a loaded machine can only make a call late,
// never early: lower bounds are exact, upper ones must leave room for load.
constexpr double kHungMs = 2000.0 * kDivisor;

class SimDevice : public ::testing::Test {
 protected:
  void SetUp() override { SetTimeDivisor(kDivisor); }
  void TearDown() override { SetTimeDivisor(1); }

  static ModemOptions Fast() {
    ModemOptions o;
    o.expected_image = Bytes(10, 1);
    return o;
  }
  static void Write(SerialDevice& d, const char* text) {
    const auto n = static_cast<std::uint32_t>(std::strlen(text));
    IoResult r = d.StartWrite(reinterpret_cast<const std::uint8_t*>(text), n);
    if (r.state == IoResult::State::kPending) r = d.FinishWrite();
    ASSERT_EQ(r.state, IoResult::State::kCompleted);
    ASSERT_EQ(r.count, n);
  }
  static double ProgramMs(Clock::duration real) {
    return std::chrono::duration<double, std::milli>(real).count() * kDivisor;
  }
};

TEST_F(SimDevice, OpensOnlyItsPortsAndExclusively) {
  SimulatedModemBackend backend(Fast());
  EXPECT_EQ(backend.Open("COM2"), nullptr);
  SerialHandle a = backend.Open("COM1");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(backend.Open("COM1"), nullptr);
  a->Close();
  EXPECT_NE(backend.Open("COM1"), nullptr);
  EXPECT_EQ(backend.OpenCount(), 2);
}

TEST_F(SimDevice, ProbeAnswerIsOneBurstEndingAfterTheGap) {
  SimulatedModemBackend backend(Fast());
  SerialHandle port = backend.Open("COM1");
  ASSERT_TRUE(port);
  std::uint8_t buffer[4096];
  // From before the write that starts the modem's schedule.
  const auto start = Clock::now();
  Write(*port, "ati4\r\n");
  IoResult r = port->StartRead(buffer, sizeof buffer);
  if (r.state == IoResult::State::kPending) {  // not when the gap passed before the read was armed
    ASSERT_TRUE(port->WaitRead(50000));
    r = port->ReadResult();
  }
  const double took = ProgramMs(Clock::now() - start);
  ASSERT_EQ(r.state, IoResult::State::kCompleted);
  const std::string answer(reinterpret_cast<char*>(buffer), r.count);
  EXPECT_NE(answer.find("QVRLMAZZ"), std::string::npos);
  EXPECT_EQ(answer.substr(answer.size() - 4), "OK\r\n");
  // 20 ms latency, then the 250 ms gap after the last byte.
  EXPECT_GE(took, 270.0 - 0.5);
  EXPECT_LT(took, kHungMs);
}

TEST_F(SimDevice, TimedOutReadStaysPendingAndTakesTheLaterBurst) {
  SimulatedModemBackend backend(Fast());
  SerialHandle port = backend.Open("COM1");
  std::uint8_t buffer[4096];
  ASSERT_EQ(port->StartRead(buffer, sizeof buffer).state, IoResult::State::kPending);
  EXPECT_FALSE(port->WaitRead(100));
  const IoResult none = port->ReadResult();
  EXPECT_EQ(none.state, IoResult::State::kFailed);
  EXPECT_EQ(none.error, kErrorIoIncomplete);
  Write(*port, "ati4\r\n");
  SleepMs(40);  // the answer has begun
  const IoResult late = port->ReadResult();
  ASSERT_EQ(late.state, IoResult::State::kCompleted);
  EXPECT_NE(std::string(reinterpret_cast<char*>(buffer), late.count).find("QVRLMAZZ"), std::string::npos);
}

// At 50 bit/s the answer comes a byte every 200 ms: never quiet for the gap,
// so only the limit ends the wait; the completion check then takes it whole.
TEST_F(SimDevice, LimitEndsAReadWhoseBytesKeepComing) {
  ModemOptions slow = Fast();
  slow.real_line_rate = true;
  slow.bit_rate = 50;
  SimulatedModemBackend backend(slow);
  SerialHandle port = backend.Open("COM1");
  std::uint8_t buffer[4096];
  Write(*port, "ati4\r\n");
  ASSERT_EQ(port->StartRead(buffer, sizeof buffer).state, IoResult::State::kPending);
  ASSERT_FALSE(port->WaitRead(1000));  // the answer's first bytes are in by then
  const auto start = Clock::now();
  EXPECT_FALSE(port->WaitRead(1000));  // a wait that ran on to the burst's end would have completed it
  const double took = ProgramMs(Clock::now() - start);
  EXPECT_GE(took, 1000.0 - 0.5);
  EXPECT_LT(took, 1000.0 + kHungMs);
  const IoResult r = port->ReadResult();
  ASSERT_EQ(r.state, IoResult::State::kCompleted);
  EXPECT_NE(std::string(reinterpret_cast<char*>(buffer), r.count).find("QVRLMAZZ"), std::string::npos);
}

TEST_F(SimDevice, BurstLongerThanTheCountIsSplit) {
  SimulatedModemBackend backend(Fast());
  SerialHandle port = backend.Open("COM1");
  Write(*port, "ati4\r\n");
  SleepMs(40);
  std::uint8_t buffer[4096];
  const IoResult first = port->StartRead(buffer, 5);
  ASSERT_EQ(first.state, IoResult::State::kCompleted);  // the count is in at once
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "ati4\r");
  // The rest: at once when the gap has passed by now, else on the gap.
  IoResult rest = port->StartRead(buffer, sizeof buffer);
  if (rest.state == IoResult::State::kPending) {
    ASSERT_TRUE(port->WaitRead(1000));
    rest = port->ReadResult();
  }
  ASSERT_EQ(rest.state, IoResult::State::kCompleted);
  EXPECT_EQ(buffer[0], '\r');
  EXPECT_NE(std::string(reinterpret_cast<char*>(buffer), rest.count).find("QVRLMAZZ"), std::string::npos);
}

TEST_F(SimDevice, RearmingAPendingReadKeepsTheBytes) {
  SimulatedModemBackend backend(Fast());
  SerialHandle port = backend.Open("COM1");
  std::uint8_t first[16];
  std::uint8_t second[4096];
  ASSERT_EQ(port->StartRead(first, sizeof first).state, IoResult::State::kPending);
  EXPECT_FALSE(port->WaitRead(10));
  Write(*port, "ati4\r\n");
  IoResult r = port->StartRead(second, sizeof second);
  if (r.state == IoResult::State::kPending) {  // not when the whole answer is in by now
    ASSERT_TRUE(port->WaitRead(5000));
    r = port->ReadResult();
  }
  ASSERT_EQ(r.state, IoResult::State::kCompleted);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(second), 4), "ati4");
}

TEST_F(SimDevice, CloseFromAnotherThreadEndsABlockedRead) {
  SimulatedModemBackend backend(Fast());
  SerialHandle port = backend.Open("COM1");
  std::uint8_t buffer[64];
  ASSERT_EQ(port->StartRead(buffer, sizeof buffer).state, IoResult::State::kPending);
  std::thread closer([&] {
    SleepMs(200);
    port->Close();
  });
  const auto start = Clock::now();
  EXPECT_TRUE(port->WaitRead(kInfinite));
  EXPECT_LT(ProgramMs(Clock::now() - start), kHungMs);
  closer.join();
  EXPECT_EQ(port->ReadResult().error, kErrorInvalidHandle);
  EXPECT_EQ(port->StartRead(buffer, 1).error, kErrorInvalidHandle);
  EXPECT_EQ(port->StartWrite(buffer, 1).error, kErrorInvalidHandle);
  std::uint32_t bits = 0, error = 0;
  EXPECT_FALSE(port->GetModemStatus(bits, error));
  EXPECT_EQ(error, kErrorInvalidHandle);
  EXPECT_FALSE(backend.IsOpen());
}

TEST_F(SimDevice, PurgeEndsAPendingReadAndDropsBufferedBytes) {
  SimulatedModemBackend backend(Fast());
  SerialHandle port = backend.Open("COM1");
  Write(*port, "ati4\r\n");
  SleepMs(100);
  std::uint8_t buffer[4096];
  ASSERT_TRUE(port->Purge());
  ASSERT_EQ(port->StartRead(buffer, sizeof buffer).state, IoResult::State::kPending);
  // Purged from another thread once the read is armed (a purge before it
  // would leave the endless wait below nothing to end it).
  std::thread purger([&] {
    SleepMs(200);
    port->Purge();
  });
  EXPECT_TRUE(port->WaitRead(kInfinite));
  purger.join();
  const IoResult r = port->ReadResult();
  EXPECT_EQ(r.state, IoResult::State::kFailed);
  EXPECT_EQ(r.error, kErrorOperationAborted);
}

TEST_F(SimDevice, StatusLinesAreSettable) {
  ModemOptions o = Fast();
  o.dsr = false;
  SimulatedModemBackend backend(o);
  SerialHandle port = backend.Open("COM1");
  std::uint32_t bits = 0, error = 0;
  ASSERT_TRUE(port->GetModemStatus(bits, error));
  EXPECT_EQ(bits, kMsCtsOn);
  backend.SetLines(false, false);
  ASSERT_TRUE(port->GetModemStatus(bits, error));
  EXPECT_EQ(bits, 0u);
  backend.SetLines(true, true);
  ASSERT_TRUE(port->GetModemStatus(bits, error));
  EXPECT_EQ(bits, kMsCtsOn | kMsDsrOn);
  backend.SetStatusQueryFails(true);
  EXPECT_FALSE(port->GetModemStatus(bits, error));
  EXPECT_NE(error, kErrorSuccess);
}

TEST_F(SimDevice, StatusFaultAtAStep) {
  ModemOptions o = Fast();
  Fault f;
  std::string error_text;
  ASSERT_TRUE(ParseFault("probe:lines-off", f, error_text));
  o.faults.push_back(f);
  SimulatedModemBackend backend(o);
  SerialHandle port = backend.Open("COM1");
  std::uint32_t bits = 0, error = 0;
  ASSERT_TRUE(port->GetModemStatus(bits, error));
  EXPECT_EQ(bits, kMsCtsOn | kMsDsrOn);
  Write(*port, "ati4\r\n");
  ASSERT_TRUE(port->GetModemStatus(bits, error));
  EXPECT_EQ(bits, 0u);
}

TEST_F(SimDevice, HangUpFailsLikeAnUnpluggedAdapter) {
  SimulatedModemBackend backend(Fast());
  SerialHandle port = backend.Open("COM1");
  std::uint8_t buffer[64];
  ASSERT_EQ(port->StartRead(buffer, sizeof buffer).state, IoResult::State::kPending);
  std::thread hanger([&] {
    SleepMs(100);
    backend.HangUp();
  });
  EXPECT_TRUE(port->WaitRead(kInfinite));
  hanger.join();
  EXPECT_EQ(port->ReadResult().error, kErrorDeviceRemoved);
  EXPECT_EQ(port->StartWrite(buffer, 1).error, kErrorDeviceRemoved);
  port->Close();
  EXPECT_EQ(backend.Open("COM1"), nullptr);
}

TEST_F(SimDevice, KeepsTheSettingsTheToolRestores) {
  SimulatedModemBackend backend(Fast());
  SerialHandle port = backend.Open("COM1");
  PortSettings saved, saved_timeouts;
  ASSERT_TRUE(port->GetState(saved));
  ASSERT_TRUE(port->GetTimeouts(saved_timeouts));
  EXPECT_EQ(saved.bytes, SimulatedModemBackend::InitialLineState().bytes);
  ASSERT_TRUE(port->ApplyWorkingState(saved));
  ASSERT_TRUE(port->ApplyWorkingTimeouts());
  EXPECT_NE(backend.LineState().bytes, saved.bytes);
  EXPECT_NE(backend.TimeoutState().bytes, saved_timeouts.bytes);
  ASSERT_TRUE(port->SetTimeouts(saved_timeouts));
  ASSERT_TRUE(port->SetState(saved));
  port->Close();
  EXPECT_EQ(backend.LineState().bytes, SimulatedModemBackend::InitialLineState().bytes);
  EXPECT_EQ(backend.TimeoutState().bytes, SimulatedModemBackend::InitialTimeouts().bytes);
}

TEST_F(SimDevice, WritesArePacedAtTheLineRate) {
  ModemOptions o = Fast();
  o.real_line_rate = true;
  SimulatedModemBackend backend(o);
  SerialHandle port = backend.Open("COM1");
  const Bytes data(11520, 'x');  // 2000 program ms at 57600 bit/s (173 us a byte: 1993 ms)
  const auto start = Clock::now();
  IoResult r = port->StartWrite(data.data(), static_cast<std::uint32_t>(data.size()));
  ASSERT_EQ(r.state, IoResult::State::kPending);
  r = port->FinishWrite();
  const double took = ProgramMs(Clock::now() - start);
  ASSERT_EQ(r.state, IoResult::State::kCompleted);
  EXPECT_EQ(r.count, data.size());
  // The model's pacing itself is pinned in program time by the model's tests;
  // here the write must wait it out, and a loaded machine only adds to it.
  EXPECT_GE(took, 11520 * 0.173 - 0.5);
  EXPECT_LT(took, 2000.0 + kHungMs);
}

// A whole stop-and-wait session through the device, read as the tool reads:
// at most 21 bytes per answer, so a 20-byte ZACK ends on the 250 ms gap.
TEST_F(SimDevice, WholeSessionThroughTheDevice) {
  Bytes image(1100);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 31);
  ModemOptions o = Fast();
  o.expected_image = image;
  o.real_line_rate = true;
  SimulatedModemBackend backend(o);
  SerialHandle port = backend.Open("COM1");
  std::uint8_t buffer[4096];
  const auto exchange = [&](const Bytes& frame, std::uint32_t max) {
    IoResult w = port->StartWrite(frame.data(), static_cast<std::uint32_t>(frame.size()));
    if (w.state == IoResult::State::kPending) w = port->FinishWrite();
    EXPECT_EQ(w.count, frame.size());
    // At once when the answer and its gap are already over by now (a late
    // thread): then, as on the gap, the read holds the answer's count, not max.
    IoResult r = port->StartRead(buffer, max);
    if (r.state == IoResult::State::kPending) {
      EXPECT_TRUE(port->WaitRead(60000));
      r = port->ReadResult();
    }
    return Bytes(buffer, buffer + (r.state == IoResult::State::kCompleted ? r.count : 0));
  };
  const auto text = [](const char* t) { return Bytes(t, t + std::strlen(t)); };
  const auto cat = [](Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  exchange(text("at@d\r\n"), 4096);
  exchange(text("a\r\n"), 4096);
  exchange(text("b"), 4096);
  EXPECT_EQ(exchange(EncodeHexHeader(Header::WithPosition(zm::kRqinit, 0)), 21).size(), 21u);
  Bytes info(128, 0);
  const std::string fi = std::string("bc2780ix.bin") + '\0' + "1100 6610700432 100666 ";
  std::copy(fi.begin(), fi.end(), info.begin());
  EXPECT_EQ(exchange(cat(EncodeBinaryHeader(Header::WithPosition(zm::kFile, 0)), EncodeSubpacket(info.data(), 128, zm::kCrcW)), 21),
            EncodeHexHeader(Header::WithPosition(zm::kRpos, 0)));
  for (std::uint32_t pos = 0; pos < image.size(); pos += 512) {
    const std::size_t len = std::min<std::size_t>(512, image.size() - pos);
    const auto start = Clock::now();
    EXPECT_EQ(exchange(cat(EncodeBinaryHeader(Header::WithPosition(zm::kData, pos)),
                           EncodeSubpacket(image.data() + pos, len, zm::kCrcW)), 21),
              EncodeHexHeader(Header::WithPosition(zm::kAck, static_cast<std::uint32_t>(pos + len))));
    EXPECT_GE(ProgramMs(Clock::now() - start), 250.0 + len * 0.17);
  }
  EXPECT_EQ(exchange(EncodeBinaryHeader(Header::WithPosition(zm::kEof, 1100)), 21).size(), 21u);
  EXPECT_EQ(exchange(EncodeHexHeader(Header::WithPosition(zm::kFin, 0)), 21),
            EncodeHexHeader(Header::WithPosition(zm::kFin, 0)));
  const Bytes final_answer = exchange(text("OO"), 4096);
  EXPECT_NE(std::string(final_answer.begin(), final_answer.end()).find("erfolgreich"), std::string::npos);
  EXPECT_EQ(backend.ImageMatched(), true);
  EXPECT_EQ(backend.ReceivedImage(), image);
  EXPECT_EQ(backend.Frames().size(), 7u);
  EXPECT_EQ(backend.SessionsEnded(), 1);
  EXPECT_TRUE(backend.Errors().empty());
}

TEST_F(SimDevice, DefaultSimulatorIsFoundByTheProbe) {
  auto sim = MakeDefaultSimulator(false);
  SerialHandle port = sim->Open("COM1");
  ASSERT_TRUE(port);
  Write(*port, "ati4\r\n");
  std::uint8_t buffer[4096];
  IoResult r = port->StartRead(buffer, sizeof buffer);
  if (r.state == IoResult::State::kPending) {  // the answer and its gap take only 255 ms
    ASSERT_TRUE(port->WaitRead(50000));
    r = port->ReadResult();
  }
  ASSERT_EQ(r.state, IoResult::State::kCompleted);
  EXPECT_NE(std::string(reinterpret_cast<char*>(buffer), r.count).find("QVRLMAZZ"), std::string::npos);
  EXPECT_FALSE(sim->Snapshot().image_matched.has_value());
}

}  // namespace
}  // namespace mfu::sim
