// The journal of one run of a front-end (ui/journal.h): begun when the run
// function starts, installed so that the window front-ends can put it in
// front of their window (AttachJournal), finished with the run's exit status
// before anything else reads the log (the console's --save-log). Owned by the
// front-end's run function; its thread only.
#pragma once

#include <string>

#include "ui/journal.h"
#include "ui/journal_store.h"

namespace mfu {

class RunJournal {
 public:
  // Begins the journal in `store` for a run on `port_option` (empty: the
  // search finds the port) and installs it (SetJournal).
  explicit RunJournal(const std::string& port_option, JournalStore& store = SystemJournalStore());
  // Finishes as a failure if Finish was not called, and uninstalls it.
  ~RunJournal();
  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;

  // The window to install as MainDialog.
  Window* Attach(Window& window) { return journal_.Attach(window); }
  // Ends the journal with the run's exit status (kExit*).
  void Finish(int exit_status);

  Journal& Get() { return journal_; }

 private:
  Journal journal_;
};

// The journal's outcome for an exit status (kExit*).
JournalOutcome OutcomeOfExitStatus(int exit_status);

}  // namespace mfu
