// Common set-up of the session tests: a fresh Session per test on a fake port
// COM1 with a scripted modem, a recording window, the time seam at 1/100, and
// images of any size. The session is destroyed (its threads stopped, its port
// closed) before the seams are put back.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "platform/clock.h"
#include "resources/resources.h"
#include "serial/modem_list.h"
#include "serial/comm_port.h"
#include "session/monitor.h"
#include "session/session.h"
#include "tests/session/scripted_modem.h"
#include "tests/support/diag_recorder.h"
#include "tests/support/fake_serial.h"
#include "tests/support/recording_window.h"

namespace mfu::test {

// Texts from the compiled-in table, the image the test chooses.
class TestResources : public ResourceSource {
 public:
  explicit TestResources(std::vector<std::uint8_t> image = {}) : bytes(std::move(image)) {}
  int LoadText(unsigned id, char* buffer, int limit) override { return LoadCompiledInText(id, buffer, limit); }
  FirmwareLookup FindFirmwareImage(FirmwareImage& image) override {
    if (lookup != FirmwareLookup::kFound) return lookup;
    image.data = bytes.data();
    image.size = static_cast<std::uint32_t>(bytes.size());
    return FirmwareLookup::kFound;
  }
  std::vector<std::uint8_t> bytes;
  bool ImageIsStandIn() override { return standin; }
  FirmwareLookup lookup = FirmwareLookup::kFound;
  bool standin = false;
};

// The outcome a RestingOutlet decides; a base so that it exists before the
// outlet that refers to it.
struct OutletOutcome {
  std::atomic<Outcome> outcome{Outcome::kNone};
};

// The session's outlet for a sender started without a monitor: the outcome
// is decided in its own `outcome` (open at first) and goes to the monitor's
// events of `session` (which the test creates), the rest to an event of its
// own.
class RestingOutlet : public OutletOutcome, public SessionOutlet {
 public:
  explicit RestingOutlet(Session& session)
      : SessionOutlet(session.Port(), outcome, session.Monitor().UpdateSucceededEvent,
                      session.Monitor().UpdateFailedEvent, no_rest_event_) {}
  void Rests() override { rested.Set(); }
  Event rested{Event::Reset::kAutomatic};

 private:
  EventHandle no_rest_event_;
};

// No installed modem: the port comes from the scan or the probe.
class NoInstalledModems : public InstalledModemList {
 public:
  bool OpenList(KeyHandle&) override { return false; }
  bool EnumSubkey(KeyHandle, std::uint32_t, char*, std::uint32_t&) override { return false; }
  bool OpenSubkey(KeyHandle, const char*, KeyHandle&) override { return false; }
  bool QueryValue(KeyHandle, const char*, char*, std::uint32_t&) override { return false; }
  void CloseKey(KeyHandle) override {}
};

// Program time runs this many times faster in every session test.
inline constexpr std::uint32_t kSessionTimeDivisor = 100;

// The seams every session test installs and puts back, and the Session it
// makes: time at 1/100, the serial backend, the resources, the window and,
// when given, the installed-modem list. End destroys the session (threads
// stopped, port closed) before any seam goes back.
class SessionSeams {
 public:
  void Begin(SerialBackend& backend, ResourceSource& resources, Window& window, InstalledModemList* list = nullptr) {
    SetTimeDivisor(kSessionTimeDivisor);
    SetSerialBackend(&backend);
    if (list != nullptr) SetModemList(list);
    SetResourceSource(&resources);
    SetMainDialog(&window);
    session = std::make_unique<Session>();
  }
  void End() {
    session.reset();
    SetMainDialog(nullptr);
    SetResourceSource(nullptr);
    SetModemList(nullptr);
    SetSerialBackend(nullptr);
    SetTimeDivisor(1);
  }
  std::unique_ptr<Session> session;
};

// A fake port COM1 with a scripted modem, and images of any size.
class SessionFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    device_ = backend_.Add("COM1");
    modem_ = std::make_unique<ScriptedModem>(device_);
    UseImageOfSize(1500);
    seams_.Begin(backend_, resources_, window_);
  }
  void TearDown() override { seams_.End(); }
  void UseImageOfSize(std::size_t size) {
    resources_.bytes.resize(size);
    for (std::size_t i = 0; i < size; ++i) resources_.bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 512);
  }
  Session& session() { return *seams_.session; }
  CommPort& port() { return seams_.session->Port(); }
  SenderThread& sender() { return seams_.session->Sender(); }
  SessionMonitor& monitor() { return seams_.session->Monitor(); }

  DiagRecorder diags_;
  FakeSerialBackend backend_;
  std::shared_ptr<FakeSerialDevice> device_;
  std::unique_ptr<ScriptedModem> modem_;
  TestResources resources_;
  RecordingWindow window_;
  SessionSeams seams_;
};

}  // namespace mfu::test
