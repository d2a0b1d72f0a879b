// The one stand-in for the session in the window's tests: it answers what
// the test sets, counts the calls and, when the test gives it a journal,
// writes each call there in order (so that the order across the session and
// the view can be checked). Hooks let a test act inside the connection
// procedure or the stop. The counters are atomic: a toolkit may call from
// another thread than the test's.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "app/update_dialog.h"

namespace mfu::test {

class FakeSession : public SessionControl {
 public:
  FakeSession() = default;
  explicit FakeSession(std::vector<std::string>& journal) : journal_(&journal) {}

  void SetupCommPort() override {
    Note("setup");
    ++setups;
    if (on_setup) on_setup();
  }
  bool MonitorExists() override { return monitor; }
  bool DownloadModeAnswered() override { return true; }
  // Any thread: the window may cut a procedure short that runs on a worker.
  // Not written to the journal, which is the window thread's.
  void InterruptConnection() override {
    ++interrupts;
    if (on_interrupt) on_interrupt();
  }
  bool SenderThreadHandle() override { return sender; }
  bool UpdateUnderWay() override { return under_way; }
  bool UpdateSucceeded() override { return succeeded; }
  void SignalStartUpdate() override {
    Note("start");
    ++starts;
  }
  void CancelUpdate() override { Note("cancel"); }
  void StopSessionMonitor() override {
    Note("stop");
    ++stops;
    if (on_stop) on_stop();
  }
  void WriteExitByte() override {
    Note("write c");
    ++exit_bytes;
  }

  std::function<void()> on_setup;
  std::function<void()> on_stop;
  std::function<void()> on_interrupt;
  bool monitor = false;
  bool sender = false;
  bool under_way = false;
  bool succeeded = false;
  std::atomic<int> setups{0}, starts{0}, stops{0}, exit_bytes{0}, interrupts{0};

 private:
  void Note(const char* call) {
    if (journal_ != nullptr) journal_->push_back(call);
  }
  std::vector<std::string>* journal_ = nullptr;
};

// A session that finds no modem: the start lines and "no modem found", and
// nothing else. Lets the window run before the real session is linked in.
class PlaceholderSession : public FakeSession {
 public:
  PlaceholderSession() {
    on_setup = [] { AppendPlaceholderLines(); };
  }
  static void AppendPlaceholderLines();
};

}  // namespace mfu::test
