#include "session/monitor.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "firmware/firmware.h"
#include "platform/diag.h"
#include "platform/utc_time.h"
#include "resources/resources.h"
#include "resources/text_ids.h"
#include "session/answer_reader.h"
#include "ui/log.h"
#include "ui/window.h"
#include "zmodem/zmodem.h"

namespace mfu {

namespace {

void EnableButton(int id) {
  if (Window* window = MainDialog(); window != nullptr) window->EnableButton(id, true);
}

}  // namespace

void SessionMonitor::ReportSuccess() {
  AppendLogString(kTextUpdateSucceeded);

  char name[32];
  LoadText(kTextFirmwareName, name, sizeof name);
  AppendLogFormatted(kTextNewFirmwareName, name);

  char date[64];
  FormatFirmwareDate(SenderRecord.FileDate.load(), date, sizeof date);
  AppendLogFormatted(kTextNewFirmwareDate, date);

  EnableButton(kIdHelp);
  EnableButton(kIdSaveLog);
  EnableButton(kIdBeenden);
}

void SessionMonitor::ReportFailureOutcome() {
  char format[64];
  LoadText(kTextUpdateFailed, format, sizeof format);
  ReportFailure(format, FailureCauseLine(outlet_.Cause()).c_str());
  // The log of a failed flash is what the user needs to keep: "Hilfe" and
  // "Log Speichern" come back with "Beenden", as after a success.
  EnableButton(kIdHelp);
  EnableButton(kIdSaveLog);
  EnableButton(kIdBeenden);
}

namespace {

// What the modem was to answer, as the cause texts name it (CP1252).
const char* AwaitedPhrase(AwaitedAnswer awaited) {
  switch (awaited) {
    case AwaitedAnswer::kStart: return "den Start der \xDC" "bertragung";
    case AwaitedAnswer::kFileInformation: return "die Dateiangaben";
    case AwaitedAnswer::kBlock: return "";  // "Block N von M", formatted
    case AwaitedAnswer::kEndOfFile: return "das Dateiende";
    case AwaitedAnswer::kFinish: return "den Abschluss";
    case AwaitedAnswer::kFlashCheck: return "die Pr\xFC" "fung des Flash";
  }
  return "";
}

const char* HeaderTypeName(std::uint8_t type) {
  static const char* const kNames[] = {"ZRQINIT", "ZRINIT", "ZSINIT", "ZACK",  "ZFILE", "ZSKIP", "ZNAK",
                                       "ZABORT",  "ZFIN",   "ZRPOS",  "ZDATA", "ZEOF",  "ZFERR", "ZCRC",
                                       "ZCHALLENGE", "ZCOMPL", "ZCAN", "ZFREECNT", "ZCOMMAND", "ZSTDERR"};
  return type < sizeof kNames / sizeof kNames[0] ? kNames[type] : nullptr;
}

// What came instead of the due header: its type when a hex header came
// whole, else what was wrong with it.
std::string RefusedAnswer(const FailureCause& cause) {
  const char* name = HeaderTypeName(cause.header_type);
  std::string type = name != nullptr ? name : "Typ " + std::to_string(cause.header_type);
  switch (cause.header) {
    case HeaderHex: return type;
    case HeaderBinary16: return "ZBIN " + type;
    case HeaderBinary32: return "ZBIN32 " + type;
    case HeaderNone: return "kein Header";
    default: return "Header besch\xE4" "digt";
  }
}

}  // namespace

std::string FailureCauseLine(const FailureCause& cause) {
  const std::string block = std::to_string(cause.block);
  const std::string blocks = std::to_string(cause.blocks);
  const bool is_block = cause.awaited == AwaitedAnswer::kBlock;
  const std::string awaited = is_block ? "Block " + block + " von " + blocks : AwaitedPhrase(cause.awaited);
  switch (cause.kind) {
    case FailureKind::kRefused: {
      const std::string answer = RefusedAnswer(cause);
      if (is_block) return FormatLogText(kTextCauseBlockRefused, {block.c_str(), blocks.c_str(), answer.c_str()});
      return FormatLogText(kTextCauseStepRefused, {awaited.c_str(), answer.c_str()});
    }
    case FailureKind::kNoAnswer: {
      // Whole seconds of program time, rounded up: a limit of 6000 ms is "6".
      const std::string seconds = std::to_string((cause.limit + 999) / 1000);
      return FormatLogText(kTextCauseNoAnswer, {awaited.c_str(), seconds.c_str()});
    }
    case FailureKind::kLineBroken: {
      const std::string reason = SystemErrorText(cause.error, cause.system_error);
      return FormatLogText(kTextCauseLineBroken, {reason.c_str()});
    }
    case FailureKind::kNotConfirmed: return FormatLogText(kTextCauseNotConfirmed, {});
  }
  return {};
}

void SessionMonitor::ReportOutcome(bool& reported) {
  if (reported) return;
  switch (last_outcome_.load()) {
    case Outcome::kSucceeded:
      ReportSuccess();
      reported = true;
      break;
    case Outcome::kFailed:
      ReportFailureOutcome();
      reported = true;
      break;
    default:
      break;
  }
}

namespace {

void TellWindowSessionRests() {
  if (Window* window = MainDialog(); window != nullptr) window->SessionRests();
}

}  // namespace

void SessionMonitor::Run() {
  Event* const waits[] = {QuitMonitorEvent.get(), StartUpdateEvent.get(), UpdateSucceededEvent.get(),
                          UpdateFailedEvent.get(), sender_rests_.get()};
  bool reported = false;
  for (;;) {
    switch (WaitForAny(waits, 5, kInfinite)) {
      case 0:
        // A verdict decided before the quit is the run's, even when its event
        // still waits behind the quit's lower slot: the log must tell it.
        ReportOutcome(reported);
        port_.CloseCommPort();
        return;
      case 1: {
        const std::lock_guard<std::mutex> lock(start_lock_);
        // A cancel that came before the start was served leaves nothing to
        // start: the modem has heard nothing of the transfer yet.
        if (last_outcome_ == Outcome::kNone && sender_.StartSender(outlet_) != 0) {
          AppendLogString(kTextUpdateRunning);
        } else {
          // No sender will ever report: the session has nothing left to do.
          TellWindowSessionRests();
        }
        break;
      }
      case 2:
      case 3:
        ReportOutcome(reported);
        break;
      case 4:
        TellWindowSessionRests();
        break;
      default:
        break;
    }
  }
}

void SessionMonitor::CloseSessionEvents() {
  QuitMonitorEvent.reset();
  StartUpdateEvent.reset();
  UpdateSucceededEvent.reset();
  UpdateFailedEvent.reset();
  port_.ReadCompleteEvent.reset();
  port_.WriteCompleteEvent.reset();
  sender_rests_.reset();
}

void SessionOutlet::Log(unsigned text_id) { AppendLogString(text_id); }

void SessionOutlet::SetProgressRange(std::uint16_t blocks) {
  if (Window* window = MainDialog(); window != nullptr) {
    window->SetProgressRange(blocks);
    window->SetProgressStep(1);
  }
}

void SessionOutlet::StepProgress() {
  if (Window* window = MainDialog(); window != nullptr) window->StepProgress();
}

bool SessionOutlet::FindFile(AnnouncedFile& file) {
  static_assert(kZfileInformationSize == kFileInformationSize);
  FirmwareFile firmware;
  if (!FindFirmwareFile(firmware)) return false;
  file.data = firmware.data;
  file.size = firmware.size;
  file.date = firmware.date;
  std::memcpy(file.information, firmware.information, sizeof file.information);
  return true;
}

std::span<const std::uint8_t> SessionOutlet::ReadFinalAnswer(Millis limit) {
  // After a cancel nothing more is awaited; the sender is on its way out.
  if (outcome_ == Outcome::kCancelled) return {};
  const std::span<const std::uint8_t> answer = mfu::ReadFinalAnswer(port_, limit);
  // The answer is in: from here on its verdict is the run's, unless the
  // user's cancel came first, and then it is neither shown nor judged.
  Outcome open = Outcome::kNone;
  if (!outcome_.compare_exchange_strong(open, Outcome::kJudging)) return {};
  ShowFinalAnswer(port_, answer);
  return answer;
}

bool SessionOutlet::DecideVerdict(Outcome verdict) {
  Outcome open = Outcome::kNone;
  if (outcome_.compare_exchange_strong(open, verdict)) return true;
  // Only the sender thread, which calls this, moves the outcome on from
  // kJudging: the second try cannot race with another verdict.
  open = Outcome::kJudging;
  return outcome_.compare_exchange_strong(open, verdict);
}

void SessionOutlet::Succeeded() {
  if (DecideVerdict(Outcome::kSucceeded) && succeeded_) succeeded_->Set();
}

void SessionOutlet::Failed(const FailureCause& cause) {
  // The cause is in before the outcome says failed: a monitor that finds the
  // outcome decided (also as it quits) reads the cause of that failure.
  {
    const std::lock_guard<std::mutex> lock(cause_lock_);
    if (outcome_ == Outcome::kFailed) return;
    cause_ = cause;
  }
  if (DecideVerdict(Outcome::kFailed) && failed_) failed_->Set();
}

FailureCause SessionOutlet::Cause() const {
  const std::lock_guard<std::mutex> lock(cause_lock_);
  return cause_;
}

void SessionOutlet::Rests() {
  if (rests_) rests_->Set();
}

void FormatFirmwareDate(std::int64_t seconds, char* text, std::size_t capacity) {
  if (capacity == 0) return;
  const std::string date = AscTimeUtc(seconds);
  std::size_t length = date.size() < capacity - 1 ? date.size() : capacity - 1;
  std::memcpy(text, date.data(), length);
  // asctime ends in a newline: trim back to the year's last digit.
  while (length > 0 && (text[length - 1] < '0' || text[length - 1] > '9')) --length;
  text[length] = '\0';
}

bool SessionMonitor::StartSessionMonitor() {
  std::uint32_t bits = 0;
  if (!port_.GetCommModemStatus(bits) || (bits & (kMsCtsOn | kMsDsrOn)) == 0) {
    port_.CloseCommPort();
    return false;
  }
  port_.ResetReadRecord();
  QuitMonitorEvent = MakeEvent(Event::Reset::kAutomatic);
  StartUpdateEvent = MakeEvent(Event::Reset::kAutomatic);
  UpdateSucceededEvent = MakeEvent(Event::Reset::kAutomatic);
  UpdateFailedEvent = MakeEvent(Event::Reset::kAutomatic);
  port_.ReadCompleteEvent = MakeEvent(Event::Reset::kManual);
  port_.WriteCompleteEvent = MakeEvent(Event::Reset::kManual);
  sender_rests_ = MakeEvent(Event::Reset::kAutomatic);
  last_outcome_ = Outcome::kNone;

  auto thread = std::make_unique<Worker>();
  if (!thread->Start([this] { Run(); })) {
    Diag("CreateThread() failed\n");
    // Nothing would ever close the port or the events: the stop procedure
    // finds no monitor. Give them back now.
    CloseSessionEvents();
    port_.CloseCommPort();
    return false;
  }
  thread_ = std::move(thread);
  exists_ = true;
  return true;
}

void SessionMonitor::StopSessionMonitor() {
  if (!exists_) return;
  // A final answer under judgement: the sender has no read armed and comes to
  // rest with its verdict at once; stopping it first lets the monitor report
  // that verdict as it quits.
  if (last_outcome_ == Outcome::kJudging && sender_.SenderThreadHandle()) sender_.StopSender();
  QuitMonitorEvent->Set();
  if (!thread_->Join(5000)) Diag("SessionMonitorThread did not end within 5000 ms\n");
  exists_ = false;
  thread_.reset();
  // The monitor has closed the port as it quit, which ended a read the sender
  // may be waiting in.
  if (sender_.SenderThreadHandle()) sender_.StopSender();
  CloseSessionEvents();
}

bool SessionMonitor::DecideCancelled() {
  const std::lock_guard<std::mutex> lock(start_lock_);
  Outcome open = Outcome::kNone;
  return last_outcome_.compare_exchange_strong(open, Outcome::kCancelled);
}

}  // namespace mfu
