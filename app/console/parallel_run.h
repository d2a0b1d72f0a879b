// Several modems at once (the console program on Linux, --port given more
// than once): one run of this program per port, each a process of its own
// (`--console --yes --port P`), so that a fault in one touches no other.
//
// The parent shows each run's log lines on stdout after the port's short
// name, one progress line per port on stderr (redrawn in place on a
// terminal, a plain line at every tenth otherwise), and at the end one line
// per port on stdout: the port, its outcome, and the run's log line that
// starts with "Ursache:" ("-" when there is none). Each run tells the parent
// its progress as "progress POSITION UPPER" lines on a pipe of its own
// (--progress-fd); its own log and its log file stay as a single run makes
// them.
//
// Ctrl-C asks once (default No) and then sends SIGTERM to every run, which
// cancels without asking (its stdin is no terminal) and sends ZABORT;
// SIGTERM does the same, asking only when a terminal is on stdin; SIGHUP
// changes nothing. The parent waits for every run; a run whose parent dies
// gets SIGTERM.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "app/options.h"
#include "ui/window.h"

namespace mfu {

// Runs every port of `options.ports` at once; returns 0 when every update
// succeeded, the common status when every run ended with the same one (2:
// no modem could be reached), 1 otherwise. Main thread, before any other
// thread is started (it forks). The resources must be installed.
int RunParallel(const Options& options);

// The exit status of the whole from the runs' statuses (as above).
int CombinedExitStatus(const std::vector<int>& statuses);

// The window one run of a parallel run drives: every call goes on to
// `inner`; the progress is also written to `fd` (owned from now on) as
// "progress POSITION UPPER\n", one write per line, never blocking: a line
// the pipe has no room for is dropped, the next one carries the whole state.
// Thread-safe as `inner` is.
class ProgressReportingWindow final : public Window {
 public:
  ProgressReportingWindow(Window& inner, int fd);
  ~ProgressReportingWindow() override;
  ProgressReportingWindow(const ProgressReportingWindow&) = delete;
  ProgressReportingWindow& operator=(const ProgressReportingWindow&) = delete;

  void AppendLog(const char* text) override { inner_.AppendLog(text); }
  std::string LogText() override { return inner_.LogText(); }
  void EnableButton(int id, bool enable) override { inner_.EnableButton(id, enable); }
  void SetProgressRange(std::uint16_t upper) override;
  void SetProgressStep(int step) override;
  void StepProgress() override;
  bool AskYesNo(const char* text) override { return inner_.AskYesNo(text); }
  bool AskYesNoDefaultNo(const char* text) override { return inner_.AskYesNoDefaultNo(text); }
  void ShowNotice(const char* text) override { inner_.ShowNotice(text); }
  bool ChooseFile(FileDialogRequest& request) override { return inner_.ChooseFile(request); }
  void SessionRests() override { inner_.SessionRests(); }

 private:
  void Report();  // lock held

  Window& inner_;
  const int fd_;
  std::mutex lock_;
  int upper_ = 100;  // the range and the wrap at its end, as the progress control has them
  int step_ = 10;
  int position_ = 0;
};

}  // namespace mfu
