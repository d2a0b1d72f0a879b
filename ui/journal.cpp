#include "ui/journal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/local_time.h"
#include "resources/resources.h"
#include "resources/text_ids.h"
#include "ui/cp1252.h"
#include "ui/log.h"
#include "ui/log_export.h"

namespace mfu {

// The head's and the tail's labels; --history reads the files by them.
namespace {
constexpr char kBeginLabel[] = "Beginn: ";
constexpr char kVersionLabel[] = "Version: ";
constexpr char kImageLabel[] = "Firmware: ";
constexpr char kProcessLabel[] = "Prozess: ";
constexpr char kEndLabel[] = "Ende: ";
constexpr char kPortLabel[] = "Schnittstelle: ";
constexpr char kOutcomeLabel[] = "Ergebnis: ";
constexpr char kCauseStart[] = "Ursache:";
constexpr char kNoPort[] = "-";

std::string Text(unsigned id) {
  char text[kMessageBufferSize];
  LoadText(id, text, kMessageBufferSize);
  return text;
}

// Text `id` with `argument` in place of its "%s".
std::string Formatted(unsigned id, const std::string& argument) {
  std::string text = Text(id);
  const std::size_t mark = text.find("%s");
  if (mark != std::string::npos) text.replace(mark, 2, argument);
  return text;
}

// A text without its line ends.
std::string Bare(std::string text) {
  text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }), text.end());
  return text;
}

bool StartsWith(const std::string& text, const char* start) { return text.rfind(start, 0) == 0; }

std::string TimeText(const LocalTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", t.day % 100, t.month % 100, t.year % 10000,
                t.hour % 100, t.minute % 100, t.second % 100);
  return text;
}

// Sorts by start time: the year first, then the process id and the retry.
std::string FileName(const LocalTime& t, unsigned long pid, int attempt) {
  char name[96];
  if (attempt == 0) {
    std::snprintf(name, sizeof name, "%04d-%02d-%02d_%02d-%02d-%02d_%lu.log", t.year % 10000, t.month % 100,
                  t.day % 100, t.hour % 100, t.minute % 100, t.second % 100, pid);
  } else {
    std::snprintf(name, sizeof name, "%04d-%02d-%02d_%02d-%02d-%02d_%lu-%d.log", t.year % 10000, t.month % 100,
                  t.day % 100, t.hour % 100, t.minute % 100, t.second % 100, pid, attempt + 1);
  }
  return name;
}

std::atomic<Journal*> g_journal{nullptr};

}  // namespace

// The journal's side and the writer's side of the file: the bytes not yet
// written, and the file itself, which the writer owns while it runs. Shared,
// so that a writer left blocked in a hung disk at the end outlives nothing
// it uses.
struct Journal::Shared {
  std::mutex lock;
  std::condition_variable wake;     // the writer: bytes to write, or stop
  std::condition_variable written;  // WaitWritten: all handed to the file
  std::string pending;
  bool writing = false;
  bool stop = false;
  bool ended = false;
  std::unique_ptr<JournalFile> file;
  std::atomic<bool> failed{false};
  std::string why;  // under lock

  void Run() {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
      wake.wait(guard, [this] { return !pending.empty() || stop; });
      if (pending.empty()) break;
      std::string bytes;
      bytes.swap(pending);
      writing = true;
      guard.unlock();
      const bool ok = failed.load() || file->Append(bytes.data(), bytes.size());
      guard.lock();
      writing = false;
      if (!ok && !failed.load()) failed.store(true);
      written.notify_all();
    }
    file.reset();
    ended = true;
    written.notify_all();
  }
};

const char* OutcomeWord(JournalOutcome outcome) {
  switch (outcome) {
    case JournalOutcome::kSucceeded:
      return "erfolgreich";
    case JournalOutcome::kFailed:
      return "fehlgeschlagen";
    case JournalOutcome::kCancelled:
      return "abgebrochen";
    case JournalOutcome::kNoModem:
      return "kein Modem";
    case JournalOutcome::kDeclined:
      return "nicht gestartet";
    case JournalOutcome::kUnfinished:
      break;
  }
  return "nicht beendet";
}

void JournalWindow::AppendLog(const char* text) {
  // The journal first: a crash inside the window's call loses nothing.
  journal_.Add(text);
  inner_.AppendLog(text);
  journal_.TellFailureOnce(&inner_);
}

void JournalWindow::SessionRests() {
  journal_.TellWhere(&inner_);
  inner_.SessionRests();
}

Journal::~Journal() { StopWriter(5000); }

bool Journal::Begin(JournalStore& store, const JournalRunInfo& info) {
  if (shared_) return false;
  shared_ = std::make_shared<Shared>();
  utf8_ = store.Utf8();
  port_ = info.port_option;
  const std::string found = Bare(Text(kTextModemFound));
  const std::size_t mark = found.find("%s");
  if (mark != std::string::npos) {
    found_prefix_ = found.substr(0, mark);
    found_suffix_ = found.substr(mark + 2);
  }
  cancel_line_ = Bare(Text(kTextUpdateInterrupted));

  const LocalTime start = GetLocalTime();
  begin_time_ = TimeText(start);
  const unsigned long pid = store.ProcessId();
  std::unique_ptr<JournalFile> file;
  std::string why;
  // Two runs of one process in one second (tests) get names of their own.
  for (int attempt = 0; attempt < 10 && !file; ++attempt) {
    std::string reason;
    file = store.Create(FileName(start, pid, attempt), path_, reason);
    if (attempt == 0) why = reason;
  }
  if (!file) {
    path_.clear();
    shared_->why = why;
    shared_->failed.store(true);
    return false;
  }
  shared_->file = std::move(file);

  char crc[16];
  std::snprintf(crc, sizeof crc, "%08lx", static_cast<unsigned long>(info.image_crc));
  std::string head = LogHeader(start);
  head += std::string(kBeginLabel) + begin_time_ + "\n";
  head += std::string(kVersionLabel) + "modem-update " + info.version + "\n";
  head += std::string(kImageLabel) + info.image_name +
          (info.image_found ? std::string(", CRC-32 ") + crc : std::string(" (nicht gefunden)")) + "\n";
  head += std::string(kProcessLabel) + std::to_string(pid) + "\n";
  {
    const std::lock_guard<std::mutex> guard(shared_->lock);
    Queue(head);
  }
  try {
    writer_ = std::thread([shared = shared_] { shared->Run(); });
  } catch (const std::system_error&) {
    const std::lock_guard<std::mutex> guard(shared_->lock);
    shared_->why = path_;
    shared_->failed.store(true);
    shared_->file.reset();
    return false;
  }
  return true;
}

Window* Journal::Attach(Window& window) {
  window_ = std::make_unique<JournalWindow>(*this, window);
  return window_.get();
}

// The head, the tail and text 42 in the file's form. Under the lock.
void Journal::Queue(const std::string& cp1252) {
  if (shared_->failed.load()) return;
  if (utf8_) {
    std::string lines;
    for (std::size_t i = 0; i < cp1252.size(); ++i)
      if (!(cp1252[i] == '\r' && i + 1 < cp1252.size() && cp1252[i + 1] == '\n')) lines += cp1252[i];
    shared_->pending += Cp1252ToUtf8(lines);
  } else {
    shared_->pending += cp1252;
  }
  shared_->wake.notify_one();
}

// A whole line of the log, without its end: the cause, the port found, the
// cancel.
void Journal::TakeLine(const std::string& line) {
  if (StartsWith(line, kCauseStart)) cause_ = line;
  if (line == cancel_line_) cancelled_ = true;
  if (!found_prefix_.empty() && line.size() >= found_prefix_.size() + found_suffix_.size() &&
      StartsWith(line, found_prefix_.c_str()) &&
      line.compare(line.size() - found_suffix_.size(), found_suffix_.size(), found_suffix_) == 0) {
    found_port_ = line.substr(found_prefix_.size(), line.size() - found_prefix_.size() - found_suffix_.size());
  }
}

void Journal::Add(const char* text) {
  if (!shared_ || text == nullptr) return;
  const std::lock_guard<std::mutex> guard(shared_->lock);
  if (finished_) return;
  // The log's line ends are "\r\n" (and the modem's own, which may end in
  // CRs alone); in the UTF-8 form each becomes one LF, CRs split over two
  // texts included. A text's bytes go out as they came otherwise.
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    const char c = *p;
    if (c == '\r') {
      ++pending_cr_;
      if (!utf8_) out += c;
      continue;
    }
    if (c == '\n' || pending_cr_ > 0) {
      TakeLine(line_);
      line_.clear();
      if (utf8_) out += '\n';
      pending_cr_ = 0;
      if (c == '\n') {
        if (!utf8_) out += c;
        line_open_ = false;
        continue;
      }
    }
    line_ += c;
    line_open_ = true;
    out += c;
  }
  if (shared_->failed.load() || out.empty()) return;
  shared_->pending += utf8_ ? Cp1252ToUtf8(out) : out;
  shared_->wake.notify_one();
}

void Journal::TellFailureOnce(Window* window) {
  if (!shared_ || !shared_->failed.load() || failure_told_.exchange(true)) return;
  std::string why;
  {
    const std::lock_guard<std::mutex> guard(shared_->lock);
    why = shared_->why.empty() ? path_ : shared_->why;
  }
  if (window != nullptr) window->AppendLog(Formatted(kTextJournalNotWritten, why).c_str());
}

void Journal::TellWhere(Window* window) {
  if (!shared_ || where_told_.exchange(true)) return;
  if (shared_->failed.load()) {
    TellFailureOnce(window);
    return;
  }
  const std::string text = Formatted(kTextJournalWhere, path_);
  Add(text.c_str());
  if (window != nullptr) window->AppendLog(text.c_str());
  TellFailureOnce(window);
}

void Journal::Finish(JournalOutcome outcome, int limit_ms) {
  if (!shared_ || finished_) return;
  // Still the window of the run: text 42 ends what the user sees as well.
  Window* shown = window_ && MainDialog() == window_.get() ? &window_->Inner() : nullptr;
  TellWhere(shown);
  {
    const std::lock_guard<std::mutex> guard(shared_->lock);
    if (pending_cr_ > 0 || line_open_) TakeLine(line_);
    if (outcome == JournalOutcome::kFailed && cancelled_) outcome = JournalOutcome::kCancelled;
    outcome_ = outcome;
    std::string tail = line_open_ || pending_cr_ > 0 ? "\n" : "";
    tail += std::string(kEndLabel) + TimeText(GetLocalTime()) + "\n";
    tail += std::string(kPortLabel) + (!found_port_.empty() ? found_port_ : !port_.empty() ? port_ : kNoPort) + "\n";
    tail += std::string(kOutcomeLabel) + OutcomeWord(outcome) + "\n";
    if (!cause_.empty()) tail += cause_ + "\n";
    tail += kLogTrailer;
    Queue(tail);
    finished_ = true;
  }
  StopWriter(limit_ms);
}

void Journal::StopWriter(int limit_ms) {
  if (!writer_.joinable()) return;
  bool ended;
  {
    std::unique_lock<std::mutex> guard(shared_->lock);
    shared_->stop = true;
    shared_->wake.notify_one();
    ended = shared_->written.wait_for(guard, std::chrono::milliseconds(limit_ms), [this] { return shared_->ended; });
  }
  if (ended) {
    writer_.join();
  } else {
    // A disk that hangs must not hold the program's end: the writer keeps
    // only the shared part alive and ends with the process.
    writer_.detach();
  }
}

bool Journal::WaitWritten(int limit_ms) {
  if (!shared_) return true;
  std::unique_lock<std::mutex> guard(shared_->lock);
  return shared_->written.wait_for(guard, std::chrono::milliseconds(limit_ms), [this] {
    return (shared_->pending.empty() && !shared_->writing) || shared_->ended || !writer_.joinable();
  });
}

std::string Journal::Path() const { return path_; }
JournalOutcome Journal::Outcome() const { return outcome_; }

void SetJournal(Journal* journal) { g_journal.store(journal, std::memory_order_release); }
Journal* CurrentJournal() { return g_journal.load(std::memory_order_acquire); }

Window* AttachJournal(Window& window) {
  Journal* journal = CurrentJournal();
  return journal != nullptr ? journal->Attach(window) : &window;
}

std::string HistoryText(JournalStore& store) {
  std::vector<std::string> names = store.List();
  names.erase(std::remove_if(names.begin(), names.end(),
                             [](const std::string& name) {
                               return name.size() < 4 || name.compare(name.size() - 4, 4, ".log") != 0;
                             }),
              names.end());
  // The names begin with the start time, year first.
  std::sort(names.begin(), names.end());
  std::string history;
  for (const std::string& name : names) {
    std::string content;
    if (!store.Read(name, content)) continue;
    if (store.Utf8()) content = Utf8ToCp1252(content);
    std::vector<std::string> lines;
    std::string line;
    for (const char c : content) {
      if (c == '\n') {
        lines.push_back(line);
        line.clear();
      } else if (c != '\r') {
        line += c;
      }
    }
    lines.push_back(line);
    std::string begin;
    for (const std::string& l : lines) {
      if (StartsWith(l, kBeginLabel)) {
        begin = l.substr(std::strlen(kBeginLabel));
        break;
      }
    }
    if (begin.empty()) continue;  // not a journal of this program
    // The tail follows the last "Ende:"; a run without it did not finish
    // (killed, crashed, or running still).
    std::string port = kNoPort;
    std::string outcome = OutcomeWord(JournalOutcome::kUnfinished);
    std::string cause;
    for (std::size_t i = lines.size(); i-- > 0;) {
      if (!StartsWith(lines[i], kEndLabel)) continue;
      for (std::size_t j = i + 1; j < lines.size(); ++j) {
        if (StartsWith(lines[j], kPortLabel)) port = lines[j].substr(std::strlen(kPortLabel));
        if (StartsWith(lines[j], kOutcomeLabel)) outcome = lines[j].substr(std::strlen(kOutcomeLabel));
        if (StartsWith(lines[j], kCauseStart)) cause = lines[j];
      }
      break;
    }
    history.append(begin).append("  ").append(port).append("  ").append(outcome);
    if (!cause.empty()) history.append("  ").append(cause);
    history += '\n';
  }
  if (history.empty()) history = "Es sind noch keine L\xE4ufe protokolliert (" + store.Folder() + ").\n";
  return history;
}

}  // namespace mfu
