// Common set-up of the session tests: a fake port on COM1 with a scripted
// modem, a recording window, the time seam at 1/100, and images of any size.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/clock.h"
#include "resources/resources.h"
#include "serial/comm_port.h"
#include "session/monitor.h"
#include "tests/session/scripted_modem.h"
#include "tests/support/diag_recorder.h"
#include "tests/support/fake_serial.h"
#include "tests/support/recording_window.h"

namespace mfu::test {

// Texts from the compiled-in table, the image the test chooses.
class TestResources : public ResourceSource {
 public:
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

// The session's outlet for a sender started without a monitor: the rest
// sets an event of its own.
class RestingOutlet : public SessionOutlet {
 public:
  void Rests() override { rested.Set(); }
  Event rested{Event::Reset::kAutomatic};
};

class SessionFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    SetTimeDivisor(100);
    device_ = backend_.Add("COM1");
    modem_ = std::make_unique<ScriptedModem>(device_);
    SetSerialBackend(&backend_);
    SetResourceSource(&resources_);
    SetMainDialog(&window_);
    UseImageOfSize(1500);
  }
  void TearDown() override {
    SetMainDialog(nullptr);
    SetResourceSource(nullptr);
    SetSerialBackend(nullptr);
    ResetCommPortForTest();
    SetTimeDivisor(1);
  }
  void UseImageOfSize(std::size_t size) {
    resources_.bytes.resize(size);
    for (std::size_t i = 0; i < size; ++i) resources_.bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 512);
  }

  DiagRecorder diags_;
  FakeSerialBackend backend_;
  std::shared_ptr<FakeSerialDevice> device_;
  std::unique_ptr<ScriptedModem> modem_;
  TestResources resources_;
  RecordingWindow window_;
};

}  // namespace mfu::test
