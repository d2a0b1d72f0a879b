// A serial device for unit tests: records every byte written, serves reads
// from bursts the test (or a responder called on each write) queues. No
// timing of its own beyond the read's limit: a queued burst is delivered
// whole (up to the read's count) at once.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/serial_device.h"

namespace mfu::test {

class FakeSerialDevice : public SerialDevice {
 public:
  using Bytes = std::vector<std::uint8_t>;

  bool GetState(PortSettings& state) override;
  bool SetState(const PortSettings& state) override;
  bool ApplyWorkingState(const PortSettings& saved) override;
  bool GetTimeouts(PortSettings& timeouts) override;
  bool SetTimeouts(const PortSettings& timeouts) override;
  bool ApplyWorkingTimeouts() override;
  bool SetupQueues(std::uint32_t, std::uint32_t) override { return true; }
  bool SetDtr(bool on) override;
  bool Purge() override;
  bool ClearErrors() override { return true; }
  bool GetModemStatus(std::uint32_t& bits, std::uint32_t& error) override;
  IoResult StartWrite(const std::uint8_t* data, std::uint32_t count) override;
  IoResult FinishWrite() override;
  IoResult StartRead(std::uint8_t* buffer, std::uint32_t max) override;
  bool WaitRead(Millis limit) override;
  IoResult ReadResult() override;
  void Close() override;

  // Test side.
  void QueueAnswer(const Bytes& burst);
  void QueueAnswer(const std::string& burst);
  // Called (without the device's lock) with each write's bytes.
  void SetResponder(std::function<void(const Bytes& written)> responder);
  void SetModemStatus(std::uint32_t bits, bool fails = false);
  Bytes Written() const;
  std::vector<Bytes> Writes() const;
  bool Closed() const;
  std::string State() const;  // the line settings as the port has them now
  void Reopen();               // a new open of the same port

 private:
  bool TakeBurstLocked();

  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Bytes> answers_;
  std::vector<Bytes> writes_;
  std::function<void(const Bytes&)> responder_;
  std::uint32_t status_bits_ = kMsCtsOn | kMsDsrOn;
  bool status_fails_ = false;
  bool closed_ = false;
  std::string state_ = "original";
  std::string timeouts_ = "original-timeouts";
  std::uint8_t* read_buffer_ = nullptr;
  std::uint32_t read_max_ = 0;
  bool read_armed_ = false;
  bool read_done_ = false;
  std::uint32_t read_count_ = 0;
  std::uint32_t read_error_ = 0;  // kErrorOperationAborted after a purge
};

// Opens the devices it holds by name; any other name is a port that does not
// exist, unless the test has made it fail otherwise. Lists the ports and
// names the holders the test gives it.
class FakeSerialBackend : public SerialBackend {
 public:
  std::shared_ptr<FakeSerialDevice> Add(const std::string& name);
  SerialHandle Open(const char* port_name) override;
  bool IsHardwarePort(const char* port_name) override;
  SerialHandle OpenPort(const char* port_name, OpenFailure& failure) override;
  std::vector<PortEntry> ListPorts() override;
  std::vector<PortHolder> OtherHolders(const char* port_name) override;
  std::vector<std::string> FurtherProbePorts() override;
  bool ModemManagerRuns() override;
  std::vector<std::string> Opened() const;
  // Names that count as ports of real hardware (none unless set).
  void SetHardwarePorts(std::vector<std::string> names);

  // Test side.
  void Fail(const std::string& name, OpenFailureKind kind);  // the open of `name` fails so
  void SetHolders(const std::string& name, std::vector<PortHolder> holders);
  void SetListed(const std::vector<std::string>& paths);    // ListPorts, in this order
  void SetFurtherProbePorts(std::vector<std::string> names);
  void SetModemManagerRuns(bool runs);

 private:
  mutable std::mutex lock_;
  std::map<std::string, std::shared_ptr<FakeSerialDevice>> devices_;
  std::map<std::string, OpenFailureKind> failures_;
  std::map<std::string, std::vector<PortHolder>> holders_;
  std::vector<std::string> listed_;
  std::vector<std::string> further_;
  std::vector<std::string> opened_;
  std::vector<std::string> hardware_;
  bool modem_manager_runs_ = false;
};

}  // namespace mfu::test
