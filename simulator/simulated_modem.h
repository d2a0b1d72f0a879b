// The simulated modem in-process: a SerialBackend whose ports lead to one
// ModemModel, for the core's tests and for the --simulate option. Every
// delay (answer latency, flash time, line pacing, the 250 ms read gap) is
// program time and goes through the time seam, so SetTimeDivisor speeds the
// modem up together with the tool.
//
// Threads: the devices honour serial/serial_device.h (one reader and one
// writer at a time, Close/Purge from any thread). The observation calls are
// thread-safe and may be made while a session runs. The options' log
// callback is called with the backend's lock held: it must not call back
// into the backend.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "serial/serial_device.h"
#include "simulator/modem_model.h"

namespace mfu::sim {

// The program's built-in firmware image (BuiltInResources()), empty when the
// program has none.
Bytes BuiltInImage();

class SimulatedModemBackend : public SerialBackend {
 public:
  // An unset expected_image means the built-in image. The rz mode is not
  // available in-process (external_receiver is ignored).
  explicit SimulatedModemBackend(ModemOptions options = {});
  ~SimulatedModemBackend() override;
  SimulatedModemBackend(const SimulatedModemBackend&) = delete;
  SimulatedModemBackend& operator=(const SimulatedModemBackend&) = delete;

  // Opens one of the port names of the options (exclusively: one open
  // device at a time); other names, a held port and a hung-up modem give
  // nullptr.
  SerialHandle Open(const char* port_name) override;
  // The same, saying why: a name it does not serve or a hung-up modem is a
  // port that is not there; a port already open is busy.
  SerialHandle OpenPort(const char* port_name, OpenFailure& failure) override;

  // What the modem saw.
  Bytes ReceivedImage() const;
  std::optional<bool> ImageMatched() const;  // set once the loader has judged
  std::vector<FrameRecord> Frames() const;
  int AbortCount() const;
  bool ExitByteReceived() const;
  Bytes RawReceived() const;
  std::vector<std::string> Errors() const;
  int FinalAnswers() const;
  int SessionsEnded() const;
  std::vector<std::string> LogLines() const;
  Observations Snapshot() const;

  // The port's state as the tool left it.
  bool IsOpen() const;
  int OpenCount() const;  // successful opens
  PortSettings LineState() const;
  PortSettings TimeoutState() const;
  static PortSettings InitialLineState();
  static PortSettings InitialTimeouts();
  bool Dtr() const;

  // Status lines and faults, at any time.
  void SetLines(bool cts, bool dsr);
  void SetStatusQueryFails(bool fails);
  void HangUp();

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
};

// The simulator that --simulate installs: port "COM1", found by the probe,
// the built-in image expected; real_line_rate paces the line at 57600 bit/s
// with a flash time of 20 ms per block, as long as a real update takes.
std::unique_ptr<SimulatedModemBackend> MakeDefaultSimulator(bool real_line_rate);

}  // namespace mfu::sim
