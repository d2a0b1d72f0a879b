// The console's output, written by a thread of its own: the session's
// threads only queue their text, so a terminal that stops reading (Ctrl-S, a
// stalled ssh link, a full pipe) never holds up the flash. Items are written
// in the order queued, each whole; a progress redraw queued behind another
// that has not been written yet replaces it. Write errors (a closed pipe, a
// hung-up terminal) are ignored: the update goes on without its audience.
//
// Threads: any thread may queue; the writer thread is owned here. Destroying
// the output writes what is queued, waiting up to a few seconds for a
// terminal that has stopped; past that the writer is left to finish alone
// with its own copy of the queue.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "platform/clock.h"

namespace mfu {

class ConsoleOutput {
 public:
  ConsoleOutput();
  ~ConsoleOutput();
  ConsoleOutput(const ConsoleOutput&) = delete;
  ConsoleOutput& operator=(const ConsoleOutput&) = delete;

  // Queues `text` for `stream` (written through its descriptor, or with
  // fwrite when it has none). A `redraw` replaces a redraw queued last for
  // the same stream and not yet written.
  void Write(std::FILE* stream, std::string text, bool redraw = false);

  // Waits up to `limit` real ms until everything queued so far is written.
  bool Flush(Millis limit);

  // The queue, shared by this object and its writer thread.
  struct State;

 private:
  std::shared_ptr<State> state_;
  std::thread writer_;
};

// The text as a terminal may show it: control characters other than CR, LF
// and TAB (escape sequences, bell, and in `latin1` mode the C1 range that
// such terminals obey) become visible as ^X or <XX>, so an answer of the
// modem can neither clear the screen nor hide the verdict.
std::string Printable(const std::string& text, bool latin1);

}  // namespace mfu
