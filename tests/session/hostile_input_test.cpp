// Inputs from outside that are too long, hold zero bytes, or vanish: a
// registry value longer than the port name, modem answers beyond the
// 4096-byte buffer, a log pane of more than 1 MiB, a log path of 300
// characters, and a modem that hangs up in the middle of the data.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/local_time.h"
#include "resources/resources.h"
#include "serial/comm_port.h"
#include "serial/serial_device.h"
#include "serial/discovery.h"
#include "serial/modem_list.h"
#include "session/answer_reader.h"
#include "session/connection.h"
#include "session/monitor.h"
#include "session/session.h"
#include "tests/session/session_fixture.h"
#include "tests/support/diag_recorder.h"
#include "tests/support/fake_serial.h"
#include "tests/support/recording_window.h"
#include "simulator/simulated_modem.h"
#include "ui/log_export.h"
#include "zmodem/sender.h"

namespace mfu::test {
namespace {

std::string Text(unsigned id) {
  char buffer[256];
  LoadText(id, buffer, sizeof buffer);
  return buffer;
}

// One installed modem whose values the test chooses. `honest` lists follow
// RegQueryValueExA (a value that does not fit fails); a dishonest one fills
// the caller's buffer to the last byte without a NUL and says it fit, or
// claims to have stored more than the buffer holds.
class HostileModemList : public InstalledModemList {
 public:
  enum class Mode { kHonest, kFillsWithoutNul, kClaimsMore };
  std::string model = "Kelvora 56000 V.90";
  std::string attached_to = "COM1";
  Mode mode = Mode::kHonest;
  std::vector<std::uint32_t> sizes_asked;

  bool OpenList(KeyHandle& list) override { return list = 1, true; }
  bool EnumSubkey(KeyHandle, std::uint32_t index, char* name, std::uint32_t& size) override {
    if (index > 0 || size < 5) return false;
    std::memcpy(name, "0000", 5);
    size = 4;
    return true;
  }
  bool OpenSubkey(KeyHandle, const char*, KeyHandle& subkey) override { return subkey = 2, true; }
  bool QueryValue(KeyHandle, const char* value, char* buffer, std::uint32_t& size) override {
    sizes_asked.push_back(size);
    const std::string& text = std::strcmp(value, "Model") == 0 ? model : attached_to;
    const std::uint32_t needed = static_cast<std::uint32_t>(text.size() + 1);
    if (needed <= size) {
      std::memcpy(buffer, text.c_str(), needed);
      size = needed;
      return true;
    }
    switch (mode) {
      case Mode::kHonest:
        size = needed;  // ERROR_MORE_DATA: the size it would need
        return false;
      case Mode::kFillsWithoutNul:
        std::memcpy(buffer, text.data(), size);
        return true;
      case Mode::kClaimsMore:
        std::memcpy(buffer, text.data(), size);
        size = needed;
        return true;
    }
    return false;
  }
  void CloseKey(KeyHandle) override {}
};

sim::Bytes SmallImage(std::size_t size) {
  sim::Bytes image(size);
  for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(i ^ (i >> 9));
  return image;
}

// The in-process modem on COM1, a recording window, time at 1/100.
class SimulatedRun : public ::testing::Test {
 protected:
  explicit SimulatedRun(std::size_t image_size = 20 * 512 + 7) : resources_(SmallImage(image_size)) {}
  void SetUp() override {
    sim::ModemOptions options;
    options.expected_image = resources_.bytes;
    modem_ = std::make_unique<sim::SimulatedModemBackend>(options);
    seams_.Begin(*modem_, resources_, window_, &list_);
  }
  void TearDown() override { seams_.End(); }
  Session& session() { return *seams_.session; }
  CommPort& port() { return seams_.session->Port(); }
  SessionMonitor& monitor() { return seams_.session->Monitor(); }
  void Update() {
    for (int id : {1006, 1007, 1012, 1}) window_.EnableButton(id, false);
    session().SignalStartUpdate();
    ASSERT_TRUE(window_.WaitForRest(300000));
  }
  void ExpectCleanStop() {
    const auto start = std::chrono::steady_clock::now();
    session().StopSessionMonitor();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(session().SessionMonitorExists());
    EXPECT_FALSE(session().SenderThreadHandle());
    EXPECT_FALSE(port().PortHandle());
    EXPECT_FALSE(modem_->IsOpen());
  }

  DiagRecorder diags_;
  HostileModemList list_;
  TestResources resources_;
  RecordingWindow window_;
  std::unique_ptr<sim::SimulatedModemBackend> modem_;
  SessionSeams seams_;
};

// --- Registry values -------------------------------------------------------

class RegistryValueTest : public SimulatedRun {};

TEST_F(RegistryValueTest, AttachedToLongerThanItsBufferIsNotFoundAndTheProbeFindsTheModem) {
  list_.attached_to = "\\\\.\\" + std::string(300, 'X');
  char name[kPortNameSize + 16];
  std::memset(name, '#', sizeof name);
  ASSERT_TRUE(FindModemPort(port(), nullptr, name));
  EXPECT_STREQ(name, "COM1");
  for (std::size_t i = kPortNameSize; i < sizeof name; ++i) ASSERT_EQ(name[i], '#') << i;
  // Every value read asked for the 32-byte value buffer, never more.
  ASSERT_FALSE(list_.sizes_asked.empty());
  for (std::uint32_t size : list_.sizes_asked) EXPECT_EQ(size, 32u);
}

TEST_F(RegistryValueTest, AListThatFillsTheBufferWithoutNulOrClaimsMoreIsNotBelieved) {
  for (auto mode : {HostileModemList::Mode::kFillsWithoutNul, HostileModemList::Mode::kClaimsMore}) {
    list_.mode = mode;
    list_.attached_to = std::string(200, 'Y');
    char name[kPortNameSize];
    std::memset(name, '#', sizeof name);
    FindModemInRegistry(name);
    EXPECT_STREQ(name, "") << static_cast<int>(mode);
    // A model name longer than the buffer is no match, even when it holds
    // the supported name at its start.
    list_.attached_to = "COM1";
    list_.model = "Kelvora 56000" + std::string(100, ' ');
    FindModemInRegistry(name);
    EXPECT_STREQ(name, "") << static_cast<int>(mode);
    list_.model = "Kelvora 56000 V.90";
  }
}

TEST_F(RegistryValueTest, ThirtyOneCharacterPortNameIsKeptWholeAndTheOpenFailureReported) {
  list_.attached_to = std::string(31, 'P');
  session().SetupCommPort();
  EXPECT_EQ(std::string(PortName), list_.attached_to);
  // The failure names its reason: the simulator serves no such port.
  EXPECT_EQ(window_.LogText(), Text(2009) + Text(2010) + Text(2016) + "Die Schnittstelle " + list_.attached_to +
                                   " gibt es nicht. Ist das Modem oder der USB-Adapter angeschlossen?\r\n");
  EXPECT_EQ(diags_.Count("SetupCommPort() failed\n"), 1);
  EXPECT_FALSE(session().SessionMonitorExists());
  EXPECT_EQ(modem_->OpenCount(), 0);  // the registry's port is taken without a probe
}

TEST_F(RegistryValueTest, WholeRunWithAnOverlongRegistryValueUpdatesThroughTheProbedPort) {
  list_.attached_to = std::string(4000, 'Z');
  session().SetupCommPort();
  ASSERT_TRUE(session().SessionMonitorExists());
  EXPECT_STREQ(PortName, "COM1");
  Update();
  EXPECT_EQ(monitor().LastOutcome(), Outcome::kSucceeded);
  EXPECT_EQ(modem_->ReceivedImage(), resources_.bytes);
  ExpectCleanStop();
}

// --- Answers beyond the buffer, and with zero bytes ------------------------

class LongAnswerTest : public SessionFixture {
 protected:
  void Open() {
    port().ReadCompleteEvent = MakeEvent(Event::Reset::kManual);
    port().WriteCompleteEvent = MakeEvent(Event::Reset::kManual);
    port().SetPortHandle(port().OpenCommPort("COM1"));
    ASSERT_TRUE(port().PortHandle());
  }

};

TEST_F(LongAnswerTest, ShownAnswerOfMoreThan4096BytesShowsItsFirst4096AndTheRestComesNext) {
  Open();
  std::string answer(5000, 'x');
  for (std::size_t i = 0; i < answer.size(); ++i) answer[i] = static_cast<char>('a' + i % 26);
  device_->QueueAnswer(answer);
  ReadModemAnswer(port(), true, 1000);
  EXPECT_EQ(window_.LogText(), answer.substr(0, 4096) + Text(2003));
  EXPECT_EQ(port().LastReadCount(), 4096u);
  // The 904 bytes behind the buffer's end are the next read's.
  ReadModemAnswer(port(), true, 1000);
  EXPECT_EQ(window_.LogText(), answer.substr(0, 4096) + Text(2003) + answer.substr(4096) + Text(2003));
  EXPECT_EQ(port().LastReadCount(), 904u);
}

TEST_F(LongAnswerTest, MarkerSplitAtTheBufferEndDoesNotCutAndZeroBytesEndTheShownText) {
  Open();
  std::string answer(4090, '.');
  answer += "Modem-Update";  // crosses the 4096th byte
  device_->QueueAnswer(answer);
  ReadModemAnswer(port(), true, 1000);
  EXPECT_EQ(window_.LogText(), answer.substr(0, 4096) + Text(2003));

  // The 6 bytes behind the buffer's end are the next read's.
  ReadModemAnswer(port(), false, 1000);
  EXPECT_EQ(port().LastReadCount(), 6u);
  EXPECT_EQ(std::memcmp(ModemResponseBuffer, "Update", 6), 0);

  RecordingWindow second;
  SetMainDialog(&second);
  std::string with_nul(4096, 'n');
  with_nul[10] = '\0';
  with_nul[4000] = '\0';
  device_->QueueAnswer(with_nul + "tail");
  ReadModemAnswer(port(), true, 1000);
  EXPECT_EQ(second.LogText(), std::string(10, 'n') + Text(2003));
  SetMainDialog(&window_);
}

TEST_F(LongAnswerTest, ProbeLooksOnlyAtTheFirst4096BytesAndSeesPastZeroBytes) {
  std::weak_ptr<FakeSerialDevice> weak = device_;
  std::string answer;
  device_->SetResponder([weak, &answer](const FakeSerialDevice::Bytes&) {
    if (auto d = weak.lock()) d->QueueAnswer(FakeSerialDevice::Bytes(answer.begin(), answer.end()));
  });
  char name[kPortNameSize];
  // The identifier behind zero bytes, inside the buffer: found.
  answer = std::string("ati4\r\n\0\0\0", 9) + std::string(4000, '\0') + "QVRLMAZZ\r\nOK\r\n";
  ASSERT_LT(answer.size(), 4096u);
  EXPECT_TRUE(ProbeCommPorts(port(), name));
  EXPECT_STREQ(name, "COM1");
  // The identifier past the 4096th byte: not found, and the port is closed.
  device_->Reopen();
  answer = std::string(4092, '\0') + "QVRLMAZZ";
  EXPECT_FALSE(ProbeCommPorts(port(), name));
  EXPECT_STREQ(name, "");
  EXPECT_FALSE(port().PortHandle());
  EXPECT_EQ(device_->State(), "original");
}

TEST(HostileFinalAnswer, SuccessWordAtTheBufferEndCountsAndOneCutByItDoesNot) {
  std::vector<std::uint8_t> answer(4096, 'z');
  const char word[] = "erfolgreich";
  std::memcpy(answer.data() + 4096 - 11, word, 11);
  EXPECT_TRUE(FinalAnswerReportsSuccess(answer.data(), 4096));
  EXPECT_FALSE(FinalAnswerReportsSuccess(answer.data(), 4095));
  answer[100] = 0;  // a zero byte before it ends the text
  EXPECT_FALSE(FinalAnswerReportsSuccess(answer.data(), 4096));
  EXPECT_FALSE(FinalAnswerReportsSuccess(answer.data(), 0));
}

// --- The log export: a large pane, a long path ------------------------------

class HostileLogExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const LocalTime fixed{2026, 7, 12, 7, 5, 9};
    SetLocalTimeForTest(&fixed);
    dir_ = std::filesystem::temp_directory_path() /
           ("mfu_hostile_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    SetLocalTimeForTest(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  static std::string OnDisk(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char c : text) {
      if (c == '\n') out += '\r';
      out += c;
    }
    return out;
  }
  static std::string Block(const std::string& pane) {
    return OnDisk(LogHeader(LocalTime{2026, 7, 12, 7, 5, 9}) + pane + kLogTrailer);
  }
  static std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::filesystem::path dir_;
};

TEST_F(HostileLogExportTest, PaneBeyondOneMebibyteIsWrittenByteForByteTwice) {
  std::string pane;
  const std::string line = "Neue Firmware wird zum Modem geschickt ... \xE4\xF6\xFC\xDF gepr\xFC" "ft\r\n";
  while (pane.size() < (1u << 20) + 12345) pane += line;
  pane += "letzte Zeile ohne Zeilenende";
  const auto path = dir_ / "update.log";
  std::string error = "unchanged";
  ASSERT_TRUE(AppendLogBlock(path.string().c_str(), pane, &error));
  EXPECT_EQ(error, "unchanged");
  const std::string one = Block(pane);
  const std::string disk = Read(path);
  ASSERT_EQ(disk.size(), one.size());
  EXPECT_TRUE(disk == one);
  // Appending never truncates: the second block follows the first.
  ASSERT_TRUE(AppendLogBlock(path.string().c_str(), pane, nullptr));
  const std::string twice = Read(path);
  ASSERT_EQ(twice.size(), 2 * one.size());
  EXPECT_TRUE(twice == one + one);
  EXPECT_EQ(twice.find('\0'), std::string::npos);
}

TEST_F(HostileLogExportTest, PathOfThreeHundredCharactersIsUsedWholeNeverCut) {
  // Nested folders make a valid path of exactly 300 characters.
  std::filesystem::path path = dir_;
  while (path.string().size() < 300 - 60) path /= std::string(50, 'd');
  std::filesystem::create_directories(path);
  const std::size_t rest = 300 - path.string().size() - 1;
  path /= std::string(rest - 4, 'f') + ".log";
  ASSERT_EQ(path.string().size(), 300u);
  ASSERT_TRUE(AppendLogBlock(path.string().c_str(), "Zeile\r\n", nullptr));
  EXPECT_EQ(Read(path), Block("Zeile\r\n"));
  // Nothing went to the path cut at 255 characters.
  EXPECT_FALSE(std::filesystem::exists(path.string().substr(0, 255)));
}

TEST_F(HostileLogExportTest, PathWhoseNameIsTooLongForTheFileSystemReportsText19) {
  const std::string path = (dir_ / (std::string(295 - dir_.string().size(), 'n') + ".log")).string();
  ASSERT_EQ(path.size(), 300u);
  std::string error;
  EXPECT_FALSE(AppendLogBlock(path.c_str(), "Zeile\r\n", &error));
  EXPECT_EQ(error, Text(19));
  EXPECT_TRUE(std::filesystem::is_empty(dir_));
}

TEST_F(HostileLogExportTest, ADialogThatFillsItsWholeFieldWithoutNulOpensNothing) {
  LogExport export_;
  RecordingWindow window;
  window.SetFileChooser([](FileDialogRequest& request) {
    std::memset(request.file, 'q', request.file_capacity);
    return true;
  });
  SetMainDialog(&window);
  EXPECT_EQ(export_.ChooseLogFile(window), nullptr);
  EXPECT_STREQ(export_.LastLogPath(), "");
  export_.OnSaveLog();
  EXPECT_TRUE(window.Notices().empty());
  SetMainDialog(nullptr);
}

// --- A port that vanishes during the data ----------------------------------

class VanishingPortTest : public SimulatedRun {};

TEST_F(VanishingPortTest, HangUpDuringTheDataIsAFailureWithoutHangAndStopsClean) {
  list_.attached_to = "COM1";
  session().SetupCommPort();
  ASSERT_TRUE(session().SessionMonitorExists());
  for (int id : {1006, 1007, 1012, 1}) window_.EnableButton(id, false);
  session().SignalStartUpdate();
  const auto zdata = [this] {
    int n = 0;
    for (const auto& f : modem_->Frames()) n += f.type == 10 ? 1 : 0;
    return n;
  };
  const auto wait_start = std::chrono::steady_clock::now();
  while (zdata() < 4) {
    ASSERT_LT(std::chrono::steady_clock::now() - wait_start, std::chrono::seconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  modem_->HangUp();
  ASSERT_TRUE(window_.WaitForRest(300000));
  EXPECT_EQ(monitor().LastOutcome(), Outcome::kFailed);
  const std::string log = window_.LogText();
  // The line that says why carries the system's words for the lost device.
  const std::string failure = Text(2008) + "Ursache: Die Verbindung zum Modem ist abgebrochen (" +
                              SystemErrorText(kErrorDeviceRemoved, 0) + "). Pr\xFC" "fen Sie Kabel und " +
                              "Stromversorgung des Modems.\r\n" + Text(2001) + Text(2002);
  ASSERT_GE(log.size(), failure.size());
  EXPECT_EQ(log.substr(log.size() - failure.size()), failure);
  EXPECT_EQ(log.find(Text(2007)), std::string::npos);
  EXPECT_EQ(modem_->AbortCount(), 0);  // a missing answer gives up without ZABORT
  EXPECT_LT(zdata(), 21);
  EXPECT_TRUE(window_.ButtonEnabled(1));
  EXPECT_FALSE(window_.ButtonEnabled(1006));
  ExpectCleanStop();
  // The port cannot be opened again: the modem is gone.
  EXPECT_EQ(modem_->Open("COM1"), nullptr);
}

}  // namespace
}  // namespace mfu::test
