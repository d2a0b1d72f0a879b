#include "zmodem/sender.h"

#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/diag.h"
#include "platform/worker.h"
#include "resources/text_ids.h"
#include "serial/comm_port.h"

namespace mfu {

EventHandle& QuitSenderEvent = ProgramLifetime<EventHandle>();
EventHandle& SenderErrorEvent = ProgramLifetime<EventHandle>();
EventHandle& SenderDataEvent = ProgramLifetime<EventHandle>();

namespace {

// Not destroyed at exit(): its destructor would join a thread that may wait
// for good (see ProgramLifetime).
std::unique_ptr<Worker>& g_sender_thread = ProgramLifetime<std::unique_ptr<Worker>>();
std::atomic<bool> g_sender_exists{false};
std::atomic<bool> g_sender_rests{false};
// Set by AbortSender: no further read is armed, and the quit sends ZABORT.
std::atomic<bool> g_abort_requested{false};
// Set by StartSender before the thread starts, read only by that thread.
SenderOutlet* g_outlet = nullptr;

bool WriteFrame(ZMSender& zm) {
  const bool written = WriteToComm(zm.FrameBuffer, zm.FrameLength);
  zm.FrameLength = 0;
  return written;
}

bool SendHexFrame(ZMSender& zm, std::uint8_t type) {
  StorePosition(zm, 0);
  zm.FrameLength = 0;
  zm.TxHeader[0] = type;
  PutHexHeader(zm);
  return WriteFrame(zm);
}

void GiveUp(ZMSender& zm) {
  SendZABORT(zm);
  SenderErrorEvent->Set();
}

// The next block from FilePosition; the block that sends the last byte moves
// on to the wait for its ZACK before ZEOF.
void SendNextBlock(ZMSender& zm, SenderOutlet& outlet) {
  const std::int32_t remainder = zm.ImageSize - zm.FilePosition;
  const bool last = remainder <= kMaxBlock;
  SendZDATA(zm, outlet, zm.ImageData + zm.FilePosition, last ? remainder : kMaxBlock, ZCRCW);
  zm.State = last ? kAwaitLastBlockAck : kAwaitBlockAck;
  WaitForModemRsp(static_cast<Millis>(zm.StepTimeout), kHexHeaderRead);
}

void SenderThread() {
  SenderOutlet& outlet = *g_outlet;
  Event* const waits[] = {QuitSenderEvent.get(), SenderErrorEvent.get(), SenderDataEvent.get()};
  WriteToComm("b");
  SleepMs(100);
  // The answer to "b" is not looked at: its absence is no failure (the
  // answer to ZRQINIT decides), so it raises no error.
  WaitForModemRsp(kAnswerToBTimeout, kModemResponseBufferSize, /*silence_fails=*/false);
  if (!g_abort_requested) {
    ZMSenderInit(SenderRecord);
    SendZRQINIT(SenderRecord);
    SenderRecord.State = kAwaitZrinit;
    WaitForModemRsp(kAnswerToZrqinitTimeout, kHexHeaderRead);
  }
  // After the first failure the sender sends nothing more: a late answer
  // (an answer to "b" behind a silent ZRQINIT) must not drive the flash on
  // after the user was told it failed. One failure, one report.
  bool failed = false;
  for (;;) {
    const int slot = WaitForAny(waits, 3, kInfinite);
    g_sender_rests = false;
    if (slot == 0) {
      // A cancelled update tells the modem's receiver so before the port
      // closes; a plain stop (the session is over) does not.
      if (g_abort_requested) SendZABORT(SenderRecord);
      break;
    }
    if (slot == 1) {
      if (!failed) outlet.Failed();
      failed = true;
    } else if (slot == 2) {
      if (!failed) ZMSenderStep(SenderRecord, outlet);
    } else {
      continue;
    }
    // Only this thread raises an error or data, each from a read it armed or
    // from giving up: with neither pending, nothing will come but a quit.
    if (!SenderErrorEvent->IsSet() && !SenderDataEvent->IsSet()) {
      g_sender_rests = true;
      outlet.Rests();
    }
  }
}

}  // namespace

bool FinalAnswerReportsSuccess(const std::uint8_t* answer, std::uint32_t length) {
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

void WaitForModemRsp(Millis limit, std::uint32_t max, bool silence_fails) {
  // After a cancel no answer is awaited: the quit is pending.
  if (g_abort_requested) return;
  if (ReadCompleteEvent) ReadCompleteEvent->ResetEvent();
  if (ReadFromComm(ModemResponseBuffer, max, limit) > 0) {
    SenderDataEvent->Set();
  } else {
    Diag("WaitForModemRsp() failed!\n");
    if (silence_fails) SenderErrorEvent->Set();
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

bool SendZRQINIT(ZMSender& zm) {
  const bool written = SendHexFrame(zm, ZRQINIT);
  SleepMs(500);
  return written;
}

bool SendZDATA(ZMSender& zm, SenderOutlet& outlet, const std::uint8_t* block, std::int32_t length,
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

std::int32_t SendZFILE(ZMSender& zm, SenderOutlet& outlet) {
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

bool SendZEOF(ZMSender& zm) {
  StorePosition(zm, zm.FilePosition);
  zm.FrameLength = 0;
  zm.TxHeader[0] = ZEOF;
  PutBinaryHeader(zm);
  return WriteFrame(zm);
}

bool SendZFIN(ZMSender& zm) { return SendHexFrame(zm, ZFIN); }

bool SendZABORT(ZMSender& zm) { return SendHexFrame(zm, ZABORT); }

std::span<const std::uint8_t> SendOverAndOut(SenderOutlet& outlet) {
  // Only what the loader says after "OO" is its verdict: text it sent behind
  // its ZFIN ("Datei erfolgreich empfangen") must not be taken for it.
  PurgeCommInput();
  WriteToComm("OO");
  SleepMs(500);
  return outlet.ReadFinalAnswer(kFinalAnswerTimeout);
}

void ZMSenderStep(ZMSender& zm, SenderOutlet& outlet) {
  if (LastReadCount() == 0) {
    // The data event belongs to a read that had not delivered when it was
    // served (an answer later than its limit): ask the port for it now.
    std::uint32_t error = 0;
    if (!GetOverlappedReadResult(error)) {
      DiagF("GetOverLappedResult() failed (%d)\n", static_cast<int>(error));
      GiveUp(zm);
      return;
    }
  }
  zm.RxBuffer = ModemResponseBuffer;
  zm.RxPosition = 0;
  zm.RxLength = static_cast<std::int32_t>(LastReadCount());

  // What each state waits for.
  static constexpr std::uint8_t kExpected[7] = {0, ZRINIT, ZRPOS, ZACK, ZACK, ZRINIT, ZFIN};
  const std::int32_t state = zm.State;
  if (state < kAwaitZrinit || state > kAwaitZfin) {
    Diag("ZMSender: wrong state\n");
    Diag("TO DO!!!!!!\n");
    return;
  }
  if (GetHeader(zm) != HeaderHex || zm.RxHeader[0] != kExpected[state]) {
    GiveUp(zm);
    return;
  }
  switch (state) {
    case kAwaitZrinit:
      if (SendZFILE(zm, outlet) == 0) {
        Diag("TO DO!!!!!!\n");
        return;
      }
      zm.State = kAwaitZrpos;
      WaitForModemRsp(static_cast<Millis>(zm.StepTimeout), kHexHeaderRead);
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
      WaitForModemRsp(static_cast<Millis>(zm.StepTimeout), kHexHeaderRead);
      return;
    case kAwaitEofZrinit:
      SendZFIN(zm);
      zm.State = kAwaitZfin;
      WaitForModemRsp(static_cast<Millis>(zm.StepTimeout), kHexHeaderRead);
      return;
    case kAwaitZfin:
      outlet.Log(kTextCheckingFlash);
      if (const std::span<const std::uint8_t> answer = SendOverAndOut(outlet);
          FinalAnswerReportsSuccess(answer.data(), static_cast<std::uint32_t>(answer.size()))) {
        outlet.Succeeded();
      } else {
        SenderErrorEvent->Set();
      }
      return;
    default:
      return;
  }
}

int StartSender(SenderOutlet& outlet) {
  QuitSenderEvent = MakeEvent(Event::Reset::kAutomatic);
  SenderErrorEvent = MakeEvent(Event::Reset::kAutomatic);
  SenderDataEvent = MakeEvent(Event::Reset::kAutomatic);
  g_outlet = &outlet;
  g_sender_rests = false;
  g_abort_requested = false;
  auto thread = std::make_unique<Worker>();
  if (!thread->Start(&SenderThread)) {
    QuitSenderEvent.reset();
    SenderErrorEvent.reset();
    SenderDataEvent.reset();
    return 0;
  }
  g_sender_thread = std::move(thread);
  g_sender_exists = true;
  return 1;
}

void StopSender() {
  if (!g_sender_exists) return;
  QuitSenderEvent->Set();
  if (!g_sender_thread->Join(5000)) Diag("SenderThread did not end within 5000 ms\n");
  g_sender_exists = false;
  g_sender_thread.reset();
  QuitSenderEvent.reset();
  SenderErrorEvent.reset();
  SenderDataEvent.reset();
}

bool SenderThreadHandle() { return g_sender_exists.load(); }

bool SenderRests() { return g_sender_exists.load() && g_sender_rests.load(); }

bool AbortSender(Millis grace, Millis limit) {
  if (!g_sender_exists) return false;
  g_abort_requested = true;
  QuitSenderEvent->Set();
  // A write under way is finished and the step returns without a new read;
  // only a read already waiting for a silent modem needs cutting.
  if (g_sender_thread->WaitEnded(grace)) return true;
  PurgeCommInput();
  return g_sender_thread->WaitEnded(limit);
}

}  // namespace mfu
