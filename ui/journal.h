// The journal: every run of the program keeps its whole log in a file of its
// own, written as the run goes, so that a crash or a kill loses at most the
// last line. The file holds, in the log export's frame, the start time, the
// program's version, the image's name and CRC-32, the whole log, and at the
// end the end time, the port, the outcome and its cause. `--history` lists the
// runs from these files.
//
// The log reaches the journal through JournalWindow, which stands in front of
// the front-end's window as MainDialog: every text appended to the pane is
// handed to the journal first. The journal never holds up the caller: a text
// is queued under a short lock and a writer thread of the journal's own hands
// it to the file, so a slow or hanging disk cannot stall the sender or the
// monitor. A journal that cannot be written is said once in the log (text 46)
// and otherwise ignored.
//
// Owner: the front-end's run function (through app/journal_run.h). Begin,
// Attach and Finish on the thread that runs the front-end, before the session
// starts and after it has ended; Add and the JournalWindow from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ui/journal_store.h"
#include "ui/window.h"

namespace mfu {

// What a run tells of itself before its log.
struct JournalRunInfo {
  std::string version;     // the program's version
  std::string image_name;  // the image's file name as the modem is told
  std::uint32_t image_crc = 0;
  bool image_found = false;
  std::string port_option;  // the port the user named (empty: the search)
};

// How a run ended, from the front-end's exit status and the log.
enum class JournalOutcome { kSucceeded, kFailed, kCancelled, kNoModem, kDeclined, kUnfinished };

// The German word for `outcome` as the journal and --history write it
// (Windows-1252).
const char* OutcomeWord(JournalOutcome outcome);

class Journal;

// The front-end's window with the journal in front: forwards every call, and
// hands every appended text to the journal first. When the session rests,
// text 42 (where the journal is) ends the log before the window hears of it.
class JournalWindow final : public Window {
 public:
  JournalWindow(Journal& journal, Window& inner) : journal_(journal), inner_(inner) {}
  Window& Inner() { return inner_; }

  void AppendLog(const char* text) override;
  std::string LogText() override { return inner_.LogText(); }
  void EnableButton(int id, bool enable) override { inner_.EnableButton(id, enable); }
  void SetProgressRange(std::uint16_t upper) override { inner_.SetProgressRange(upper); }
  void SetProgressStep(int step) override { inner_.SetProgressStep(step); }
  void StepProgress() override { inner_.StepProgress(); }
  bool AskYesNo(const char* text) override { return inner_.AskYesNo(text); }
  bool AskYesNoDefaultNo(const char* text) override { return inner_.AskYesNoDefaultNo(text); }
  void ShowNotice(const char* text) override { inner_.ShowNotice(text); }
  bool ChooseFile(FileDialogRequest& request) override { return inner_.ChooseFile(request); }
  void SessionRests() override;

 private:
  Journal& journal_;
  Window& inner_;
};

class Journal {
 public:
  Journal() = default;
  // Finishes the writer (see Finish) if Finish was not called.
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Creates the run's file in `store` (named by the local start time and the
  // process id) and writes the head. False when the journal cannot be
  // written; the log then says so once, with the next text appended.
  bool Begin(JournalStore& store, const JournalRunInfo& info);

  // The window to install as MainDialog: `window` with the journal in front.
  // Valid as long as the journal.
  Window* Attach(Window& window);

  // Hands one log text (Windows-1252, as appended to the pane) to the file.
  // Any thread; never waits for the disk.
  void Add(const char* text);

  // Text 42 with the file's path, once per run, into the journal and into
  // `window` if given (text 46 instead when the journal cannot be written).
  void TellWhere(Window* window);

  // Ends the run: text 42 if it was not told yet (into the attached window
  // while it is still MainDialog), then the tail with end time, port,
  // outcome and cause. Waits at most `limit` ms for the disk; a writer still
  // blocked then is left to end with the process. Once.
  // `outcome` as the front-end knows it; a failure whose log holds the
  // cancel ("Update wurde unterbrochen!") is written as cancelled.
  void Finish(JournalOutcome outcome, int limit_ms = 5000);

  // The file's full path (Windows-1252); empty without a file.
  std::string Path() const;
  // The outcome Finish wrote (kUnfinished before).
  JournalOutcome Outcome() const;

  // Tests: waits until every text added so far has been handed to the file.
  bool WaitWritten(int limit_ms);

  // Text 46 into `window`, once per run, when the journal cannot be written
  // (its file could not be created, or a write failed).
  void TellFailureOnce(Window* window);

 private:
  struct Shared;  // what the writer thread shares with the journal
  void Queue(const std::string& cp1252);
  void TakeLine(const std::string& line);
  void StopWriter(int limit_ms);

  std::shared_ptr<Shared> shared_;
  std::thread writer_;
  std::unique_ptr<JournalWindow> window_;
  bool utf8_ = true;
  std::string path_;
  std::string port_;
  std::string begin_time_;
  std::atomic<bool> where_told_{false};
  std::atomic<bool> failure_told_{false};
  bool finished_ = false;
  JournalOutcome outcome_ = JournalOutcome::kUnfinished;

  // The stream's state: under Shared's lock.
  int pending_cr_ = 0;
  bool line_open_ = false;
  std::string line_;
  std::string cause_;
  std::string found_port_;
  bool cancelled_ = false;
  std::string found_prefix_, found_suffix_, cancel_line_;
};

// The journal installed for this run (nullptr: none). The window front-ends
// wrap their window with AttachJournal before installing it as MainDialog.
void SetJournal(Journal* journal);
Journal* CurrentJournal();
Window* AttachJournal(Window& window);

// The --history text: one line per run, oldest first, "DD.MM.YYYY hh:mm:ss
// PORT OUTCOME[  Ursache: ...]"; a German sentence when there is none.
// Windows-1252.
std::string HistoryText(JournalStore& store);

}  // namespace mfu
