#include "zmodem/sender.h"

#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/diag.h"
#include "resources/text_ids.h"

namespace mfu {

bool SenderThread::WriteFrame(ZMSender& zm) {
  const bool written = port_.WriteToComm(zm.FrameBuffer, zm.FrameLength);
  zm.FrameLength = 0;
  return written;
}

bool SenderThread::SendHexFrame(ZMSender& zm, std::uint8_t type) {
  StorePosition(zm, 0);
  zm.FrameLength = 0;
  zm.TxHeader[0] = type;
  PutHexHeader(zm);
  return WriteFrame(zm);
}

void SenderThread::Fail(const FailureCause& cause) {
  cause_ = cause;
  SenderErrorEvent->Set();
}

void SenderThread::GiveUp(ZMSender& zm, const FailureCause& cause) {
  SendZABORT(zm);
  Fail(cause);
}

FailureCause AwaitedIn(const ZMSender& zm) {
  FailureCause awaited;
  switch (zm.State) {
    case kAwaitZrpos: awaited.awaited = AwaitedAnswer::kFileInformation; break;
    case kAwaitBlockAck:
    case kAwaitLastBlockAck:
      awaited.awaited = AwaitedAnswer::kBlock;
      awaited.block = static_cast<std::uint32_t>((zm.FilePosition + kMaxBlock - 1) / kMaxBlock);
      awaited.blocks = static_cast<std::uint32_t>((zm.ImageSize + kMaxBlock - 1) / kMaxBlock);
      break;
    case kAwaitEofZrinit: awaited.awaited = AwaitedAnswer::kEndOfFile; break;
    case kAwaitZfin: awaited.awaited = AwaitedAnswer::kFinish; break;
    default: awaited.awaited = AwaitedAnswer::kStart; break;
  }
  return awaited;
}

void SenderThread::AwaitAnswer(const ZMSender& zm) {
  awaiting_ = AwaitedIn(zm);
  WaitForModemRsp(static_cast<Millis>(zm.StepTimeout), kHexHeaderRead);
}

FailureCause SenderThread::ReadFailureCause(int read_result, Millis limit) const {
  FailureCause cause = awaiting_;
  const CommPort::ReadFailure failure = port_.LastReadFailure();
  if (read_result == 0 && failure.error != kErrorSuccess) {
    cause.kind = FailureKind::kLineBroken;
    cause.error = failure.error;
    cause.system_error = failure.system_error;
  } else {
    cause.kind = FailureKind::kNoAnswer;
    cause.limit = limit;
  }
  return cause;
}

// The next block from FilePosition; the block that sends the last byte moves
// on to the wait for its ZACK before ZEOF.
void SenderThread::SendNextBlock(ZMSender& zm, SenderOutlet& outlet) {
  const std::int32_t remainder = zm.ImageSize - zm.FilePosition;
  const bool last = remainder <= kMaxBlock;
  SendZDATA(zm, outlet, zm.ImageData + zm.FilePosition, last ? remainder : kMaxBlock, ZCRCW);
  zm.State = last ? kAwaitLastBlockAck : kAwaitBlockAck;
  AwaitAnswer(zm);
}

void SenderThread::Run(SenderOutlet& outlet) {
  Event* const waits[] = {QuitSenderEvent.get(), SenderErrorEvent.get(), SenderDataEvent.get()};
  // The record is ready before anything goes out: a cancel while the answer
  // to "b" is awaited must still be able to frame its ZABORT.
  ZMSenderInit(SenderRecord);
  port_.WriteToComm("b");
  SleepMs(100);
  // The answer to "b" is not looked at: its absence is no failure (the
  // answer to ZRQINIT decides), so it raises no error.
  WaitForModemRsp(kAnswerToBTimeout, kModemResponseBufferSize, /*silence_fails=*/false);
  if (!abort_requested_) {
    SendZRQINIT(SenderRecord);
    SenderRecord.State = kAwaitZrinit;
    awaiting_ = AwaitedIn(SenderRecord);
    WaitForModemRsp(kAnswerToZrqinitTimeout, kHexHeaderRead);
  }
  // After the first failure the sender sends nothing more: a late answer
  // (an answer to "b" behind a silent ZRQINIT) must not drive the flash on
  // after the user was told it failed. One failure, one report.
  bool failed = false;
  for (;;) {
    const int slot = WaitForAny(waits, 3, kInfinite);
    rests_ = false;
    if (slot == 0) {
      // A cancelled update tells the modem's receiver so before the port
      // closes; a plain stop (the session is over) does not.
      if (abort_requested_) SendZABORT(SenderRecord);
      break;
    }
    if (slot == 1) {
      if (!failed) outlet.Failed(cause_);
      failed = true;
    } else if (slot == 2) {
      if (!failed) ZMSenderStep(SenderRecord, outlet);
    } else {
      continue;
    }
    // Only this thread raises an error or data, each from a read it armed or
    // from giving up: with neither pending, nothing will come but a quit.
    if (!SenderErrorEvent->IsSet() && !SenderDataEvent->IsSet()) {
      rests_ = true;
      outlet.Rests();
    }
  }
}

bool FinalAnswerReportsSuccess(const std::uint8_t* answer, std::uint32_t length) {
  // No answer (a cancel came first, or the read was cut): an empty span may
  // carry no pointer at all, which the byte search must not be given.
  if (answer == nullptr || length == 0) return false;
  const void* zero = std::memchr(answer, 0, length);
  if (zero != nullptr) length = static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(zero) - answer);
  // Letter case does not matter; the loader's lines end in CR, LF or both.
  std::string text(reinterpret_cast<const char*>(answer), length);
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  bool success = false;
  std::size_t begin = 0;
  while (begin <= text.size()) {
    std::size_t end = text.find_first_of("\r\n", begin);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + begin, end - begin);
    // A line that reports an error spoils any success elsewhere.
    if (line.find("fehlgeschlagen") != std::string_view::npos || line.find("error") != std::string_view::npos)
      return false;
    const std::size_t word = line.find("erfolgreich");
    if (word != std::string_view::npos) {
      const std::string_view before = line.substr(0, word);
      // "nicht erfolgreich", "kein Erfolg ... erfolgreich": negated; a "keine
      // Fehler" behind the word is not.
      if (before.find("nicht") == std::string_view::npos && before.find("kein") == std::string_view::npos)
        success = true;
    }
    begin = end + 1;
  }
  return success;
}

void SenderThread::WaitForModemRsp(Millis limit, std::uint32_t max, bool silence_fails) {
  // After a cancel no answer is awaited: the quit is pending.
  if (abort_requested_) return;
  if (port_.ReadCompleteEvent) port_.ReadCompleteEvent->ResetEvent();
  const int read = port_.ReadFromComm(ModemResponseBuffer, max, limit);
  if (read > 0) {
    SenderDataEvent->Set();
  } else {
    Diag("WaitForModemRsp() failed!\n");
    if (silence_fails) Fail(ReadFailureCause(read, limit));
  }
}

void ZMSenderInit(ZMSender& zm) {
  std::memset(zm.RxHeader, 0, sizeof zm.RxHeader);
  std::memset(zm.TxHeader, 0, sizeof zm.TxHeader);
  zm.State = 0;
  zm.FileManagement = 0;
  zm.FileConversion = 0;
  zm.FileTransport = 0;
  zm.EscapeControl = 0;
  zm.ImageData = nullptr;
  zm.ImageSize = 0;
  zm.FileDate = 0;
  zm.FramePointer = zm.FrameBuffer;
  zm.FrameLength = 0;
  zm.FilePosition = 0;
  zm.RxBuffer = nullptr;
  zm.RxPosition = 0;
  zm.RxLength = 0;
  zm.StepTimeout = static_cast<std::int32_t>(kStepTimeout);
}

bool SenderThread::SendZRQINIT(ZMSender& zm) {
  const bool written = SendHexFrame(zm, ZRQINIT);
  SleepMs(500);
  return written;
}

bool SenderThread::SendZDATA(ZMSender& zm, SenderOutlet& outlet, const std::uint8_t* block, std::int32_t length,
               std::uint8_t frame_end) {
  outlet.StepProgress();
  StorePosition(zm, zm.FilePosition);
  zm.FrameLength = 0;
  zm.TxHeader[0] = ZDATA;
  PutBinaryHeader(zm);
  PutDataSubpacket(zm, block, length, frame_end);
  zm.FilePosition += length;
  return WriteFrame(zm);
}

std::int32_t SenderThread::SendZFILE(ZMSender& zm, SenderOutlet& outlet) {
  AnnouncedFile file;
  if (!outlet.FindFile(file)) return 0;
  zm.ImageSize = file.size;
  zm.ImageData = file.data;

  const std::int32_t blocks = (zm.ImageSize + kMaxBlock - 1) / kMaxBlock;
  outlet.SetProgressRange(static_cast<std::uint16_t>(blocks));
  zm.FileDate = file.date;

  zm.TxHeader[0] = ZFILE;
  zm.TxHeader[1] = 0;
  zm.TxHeader[2] = zm.FileTransport;
  zm.TxHeader[3] = zm.FileManagement;
  zm.TxHeader[4] = zm.FileConversion;
  zm.FrameLength = 0;
  PutBinaryHeader(zm);
  PutDataSubpacket(zm, file.information, kZfileInformationSize, ZCRCW);
  // The write's result is not looked at: a frame that does not arrive shows
  // as the missing ZRPOS.
  (void)WriteFrame(zm);
  zm.FilePosition = 0;
  return 1;
}

bool SenderThread::SendZEOF(ZMSender& zm) {
  StorePosition(zm, zm.FilePosition);
  zm.FrameLength = 0;
  zm.TxHeader[0] = ZEOF;
  PutBinaryHeader(zm);
  return WriteFrame(zm);
}

bool SenderThread::SendZFIN(ZMSender& zm) { return SendHexFrame(zm, ZFIN); }

bool SenderThread::SendZABORT(ZMSender& zm) { return SendHexFrame(zm, ZABORT); }

std::span<const std::uint8_t> SenderThread::SendOverAndOut(SenderOutlet& outlet) {
  // Only what the loader says after "OO" is its verdict: text it sent behind
  // its ZFIN ("Datei erfolgreich empfangen") must not be taken for it.
  port_.PurgeCommInput();
  port_.WriteToComm("OO");
  SleepMs(500);
  return outlet.ReadFinalAnswer(kFinalAnswerTimeout);
}

void SenderThread::ZMSenderStep(ZMSender& zm, SenderOutlet& outlet) {
  if (port_.LastReadCount() == 0) {
    // The data event belongs to a read that had not delivered when it was
    // served (an answer later than its limit): ask the port for it now.
    std::uint32_t error = 0;
    if (!port_.GetOverlappedReadResult(error)) {
      DiagF("GetOverLappedResult() failed (%d)\n", static_cast<int>(error));
      FailureCause cause = AwaitedIn(zm);
      if (error == kErrorIoIncomplete) {
        cause.limit = static_cast<Millis>(zm.StepTimeout);
      } else {
        cause.kind = FailureKind::kLineBroken;
        cause.error = error;
      }
      GiveUp(zm, cause);
      return;
    }
  }
  zm.RxBuffer = ModemResponseBuffer;
  zm.RxPosition = 0;
  zm.RxLength = static_cast<std::int32_t>(port_.LastReadCount());

  // What each state waits for.
  static constexpr std::uint8_t kExpected[7] = {0, ZRINIT, ZRPOS, ZACK, ZACK, ZRINIT, ZFIN};
  const std::int32_t state = zm.State;
  if (state < kAwaitZrinit || state > kAwaitZfin) {
    Diag("ZMSender: wrong state\n");
    Diag("TO DO!!!!!!\n");
    return;
  }
  if (const int header = GetHeader(zm); header != HeaderHex || zm.RxHeader[0] != kExpected[state]) {
    FailureCause cause = AwaitedIn(zm);
    cause.kind = FailureKind::kRefused;
    cause.header = header;
    cause.header_type = zm.RxHeader[0];
    GiveUp(zm, cause);
    return;
  }
  switch (state) {
    case kAwaitZrinit:
      if (SendZFILE(zm, outlet) == 0) {
        Diag("TO DO!!!!!!\n");
        return;
      }
      zm.State = kAwaitZrpos;
      AwaitAnswer(zm);
      return;
    case kAwaitZrpos:
      outlet.Log(kTextSendingFirmware);
      // The position the ZRPOS carries is not looked at: the data always
      // starts at offset 0.
      if (zm.FilePosition < zm.ImageSize) SendNextBlock(zm, outlet);
      return;
    case kAwaitBlockAck:
      if (zm.FilePosition < zm.ImageSize) SendNextBlock(zm, outlet);
      return;
    case kAwaitLastBlockAck:
      SendZEOF(zm);
      zm.State = kAwaitEofZrinit;
      AwaitAnswer(zm);
      return;
    case kAwaitEofZrinit:
      SendZFIN(zm);
      zm.State = kAwaitZfin;
      AwaitAnswer(zm);
      return;
    case kAwaitZfin:
      outlet.Log(kTextCheckingFlash);
      if (const std::span<const std::uint8_t> answer = SendOverAndOut(outlet);
          FinalAnswerReportsSuccess(answer.data(), static_cast<std::uint32_t>(answer.size()))) {
        outlet.Succeeded();
      } else if (!answer.empty()) {
        FailureCause cause;
        cause.kind = FailureKind::kNotConfirmed;
        cause.awaited = AwaitedAnswer::kFlashCheck;
        Fail(cause);
      } else {
        // Nothing came (or the read failed): the outlet read it on our port.
        awaiting_ = FailureCause{};
        awaiting_.awaited = AwaitedAnswer::kFlashCheck;
        Fail(ReadFailureCause(port_.LastReadFailure().error != kErrorSuccess ? 0 : -1, kFinalAnswerTimeout));
      }
      return;
    default:
      return;
  }
}

int SenderThread::StartSender(SenderOutlet& outlet) {
  QuitSenderEvent = MakeEvent(Event::Reset::kAutomatic);
  SenderErrorEvent = MakeEvent(Event::Reset::kAutomatic);
  SenderDataEvent = MakeEvent(Event::Reset::kAutomatic);
  rests_ = false;
  abort_requested_ = false;
  // The outlet goes to the thread by capture: it is the thread's only way up.
  auto thread = std::make_unique<Worker>();
  if (!thread->Start([this, &outlet] { Run(outlet); })) {
    QuitSenderEvent.reset();
    SenderErrorEvent.reset();
    SenderDataEvent.reset();
    return 0;
  }
  thread_ = std::move(thread);
  exists_ = true;
  return 1;
}

void SenderThread::StopSender() {
  if (!exists_) return;
  QuitSenderEvent->Set();
  if (!thread_->Join(5000)) Diag("SenderThread did not end within 5000 ms\n");
  exists_ = false;
  thread_.reset();
  QuitSenderEvent.reset();
  SenderErrorEvent.reset();
  SenderDataEvent.reset();
}

bool SenderThread::AbortSender(Millis grace, Millis limit) {
  if (!exists_) return false;
  abort_requested_ = true;
  QuitSenderEvent->Set();
  // A write under way is finished and the step returns without a new read;
  // only a read already waiting for a silent modem needs cutting.
  if (thread_->WaitEnded(grace)) return true;
  port_.PurgeCommInput();
  return thread_->WaitEnded(limit);
}

}  // namespace mfu
