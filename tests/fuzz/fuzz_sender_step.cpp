// libFuzzer target: one step of the sender's state machine on any answer in
// any state. Input:
//   byte 0     State (low three bits, 0..7)
//   byte 1     bits 0-1 the image size (1, 512, 513 or 1500 bytes), bits 2-4
//              the file position in blocks (clamped to the image), bit 5 no
//              firmware image to be found
//   bytes 2-3  length N of the answer in the buffer (little-endian, clamped)
//   the rest   N bytes of that answer, then what the port delivers to every
//              later read (at most the read's count per read; a read with
//              nothing left times out at once)
// N = 0 stands for a data event whose read had not delivered: a read is left
// armed on the port, and the step's completion check takes its bytes (up to
// 21) from the rest, or fails when there are none.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/diag.h"
#include "platform/event.h"
#include "resources/resources.h"
#include "serial/comm_port.h"
#include "session/monitor.h"
#include "session/session.h"
#include "tests/fuzz/fuzz_device.h"
#include "tests/fuzz/verdict_reference.h"
#include "tests/support/recording_window.h"
#include "ui/window.h"
#include "zmodem/sender.h"
#include "zmodem/zmodem.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void QuietSink(const char*) {}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_sender_step: %s\n", what);
  std::abort();
}

class FuzzResources : public mfu::ResourceSource {
 public:
  int LoadText(unsigned id, char* buffer, int limit) override { return mfu::LoadCompiledInText(id, buffer, limit); }
  mfu::FirmwareLookup FindFirmwareImage(mfu::FirmwareImage& image) override {
    if (!found) return mfu::FirmwareLookup::kNotFound;
    image.data = data;
    image.size = size;
    return mfu::FirmwareLookup::kFound;
  }
  bool found = true;
  const std::uint8_t* data = nullptr;
  std::uint32_t size = 0;
};

// The hex ZABORT frame: ZPAD ZPAD ZDLE 'B', type 07 and four zero bytes in
// hex, CRC-16 67d4, CR, LF with bit 7, XON.
const Bytes kZabort = [] {
  const char text[] = "**\x18" "B0700000000" "67d4\r";
  Bytes frame(text, text + sizeof text - 1);
  frame.push_back(0x8A);
  frame.push_back(0x11);
  return frame;
}();

bool ReferenceSuccess(const Bytes& answer) { return mfu::fuzz::ReferenceVerdict(answer.data(), answer.size()); }

void FreshEvents(mfu::Session& session) {
  session.Sender().SenderErrorEvent = mfu::MakeEvent(mfu::Event::Reset::kAutomatic);
  session.Sender().SenderDataEvent = mfu::MakeEvent(mfu::Event::Reset::kAutomatic);
  session.Monitor().UpdateSucceededEvent = mfu::MakeEvent(mfu::Event::Reset::kAutomatic);
  session.Monitor().UpdateFailedEvent = mfu::MakeEvent(mfu::Event::Reset::kAutomatic);
  session.Port().ReadCompleteEvent = mfu::MakeEvent(mfu::Event::Reset::kManual);
  session.Port().WriteCompleteEvent = mfu::MakeEvent(mfu::Event::Reset::kManual);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = [] {
    mfu::SetDiagSink(&QuietSink);
    mfu::SetTimeDivisor(1000);  // the 500 ms pauses and every limit pass at once
    return true;
  }();
  (void)ready;
  if (size < 4 || size > (1u << 16)) return 0;

  const std::int32_t state = data[0] & 7;
  static constexpr std::uint32_t kSizes[4] = {1, 512, 513, 1500};
  const std::uint32_t image_size = kSizes[data[1] & 3];
  const std::int32_t position =
      std::min<std::int32_t>(static_cast<std::int32_t>((data[1] >> 2) & 7) * mfu::kMaxBlock,
                             static_cast<std::int32_t>(image_size));
  const bool image_found = (data[1] & 0x20) == 0;
  const std::uint8_t* rest = data + 4;
  const std::size_t rest_size = size - 4;
  const std::size_t n = std::min<std::size_t>({static_cast<std::size_t>(data[2] | (data[3] << 8)), rest_size,
                                               mfu::kModemResponseBufferSize});

  // The image on the heap at exactly its size: a block read past its end
  // trips the address sanitizer.
  std::unique_ptr<std::uint8_t[]> image(new std::uint8_t[image_size]);
  for (std::uint32_t i = 0; i < image_size; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + i / 512);
  FuzzResources resources;
  resources.found = image_found;
  resources.data = image.get();
  resources.size = image_size;

  // The answer the step examines comes from a read of its own first; what
  // follows it is the later reads'.
  auto device = std::make_shared<mfu::fuzz::FuzzDevice>();
  device->Queue(rest, n);
  device->Queue(rest + n, rest_size - n);
  mfu::test::RecordingWindow window;
  mfu::SetResourceSource(&resources);
  mfu::SetMainDialog(&window);
  mfu::Session session;
  FreshEvents(session);
  mfu::CommPort& port = session.Port();
  port.SetPortHandle(device);
  if (n > 0 && port.ReadFromComm(mfu::ModemResponseBuffer, static_cast<std::uint32_t>(n), 1000) != static_cast<int>(n)) {
    Fail("the answer's own read did not deliver it");
  }
  const std::size_t answer_reads = n > 0 ? 1 : 0;

  mfu::ZMSender& zm = mfu::SenderRecord;
  mfu::ZMSenderInit(zm);
  zm.State = state;
  zm.ImageData = image.get();
  zm.ImageSize = static_cast<std::int32_t>(image_size);
  zm.FilePosition = position;
  if (n == 0) (void)device->StartRead(mfu::ModemResponseBuffer, mfu::kHexHeaderRead);

  mfu::EventHandle no_rest_event;
  std::atomic<mfu::Outcome> outcome{mfu::Outcome::kNone};
  mfu::SessionOutlet outlet(port, outcome, session.Monitor().UpdateSucceededEvent,
                            session.Monitor().UpdateFailedEvent, no_rest_event);
  session.Sender().ZMSenderStep(zm, outlet);

  const bool error = session.Sender().SenderErrorEvent->IsSet();
  const bool succeeded = session.Monitor().UpdateSucceededEvent->IsSet();
  const bool failed = session.Monitor().UpdateFailedEvent->IsSet();
  const std::int32_t new_state = zm.State;
  const std::int32_t new_position = zm.FilePosition;
  const std::vector<Bytes> writes = device->Writes();
  const std::vector<Bytes> deliveries(device->Deliveries().begin() + static_cast<std::ptrdiff_t>(answer_reads),
                                      device->Deliveries().end());
  port.SetPortHandle(nullptr);
  mfu::SetMainDialog(nullptr);
  mfu::SetResourceSource(nullptr);

  if (failed) Fail("the step set UpdateFailedEvent (the thread's job)");
  if (succeeded && state != 6) Fail("UpdateSucceededEvent outside state 6");
  if (new_position < 0 || new_position > zm.ImageSize) Fail("FilePosition left the image");

  // The answer the step examined: the buffer's, or the late read's bytes.
  std::size_t next_delivery = 0;
  Bytes answer(rest, rest + n);
  if (n == 0) {
    if (deliveries.empty()) {
      // Nothing for the completion check: GetOverlappedResult fails, in any
      // state.
      if (!error || writes.size() != 1 || writes[0] != kZabort) Fail("a failed completion check must send ZABORT and fail");
      if (new_state != state || succeeded) Fail("a failed completion check changed the session");
      return 0;
    }
    answer = deliveries[0];
    next_delivery = 1;
  }

  if (state < 1 || state > 6) {
    if (!writes.empty() || error || succeeded || new_state != state) Fail("a wrong state did something");
    return 0;
  }

  // Independent read of the header on a copy of exactly the answer's size.
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[answer.empty() ? 1 : answer.size()]);
  if (!answer.empty()) std::memcpy(copy.get(), answer.data(), answer.size());
  static mfu::ZMSender reference{};
  reference.RxBuffer = copy.get();
  reference.RxPosition = 0;
  reference.RxLength = static_cast<std::int32_t>(answer.size());
  const int kind = mfu::GetHeader(reference);
  static constexpr std::uint8_t kExpected[7] = {0, mfu::ZRINIT, mfu::ZRPOS, mfu::ZACK, mfu::ZACK, mfu::ZRINIT, mfu::ZFIN};
  const bool right = kind == mfu::HeaderHex && reference.RxHeader[0] == kExpected[state];

  if (!right) {
    if (!error) Fail("a wrong answer did not set the error event");
    if (writes.size() != 1 || writes[0] != kZabort) Fail("a wrong answer did not send exactly one ZABORT");
    if (new_state != state || succeeded) Fail("a wrong answer changed the session");
    return 0;
  }
  for (const Bytes& w : writes) {
    if (w == kZabort) Fail("ZABORT after a right answer");
  }

  const bool next_read_came = deliveries.size() > next_delivery;
  switch (state) {
    case 1:
      if (!image_found) {
        if (!writes.empty() || error || new_state != 1) Fail("a missing image did more than stop");
      } else {
        if (writes.size() != 1 || writes[0].size() < 4 || writes[0][3] != mfu::ZFILE) Fail("state 1 sent no ZFILE");
        if (new_state != 2) Fail("state 1 did not move to 2");
        if (error == next_read_came) Fail("the next read's outcome is not signalled");
      }
      break;
    case 2:
    case 3:
      if (position < zm.ImageSize) {
        const std::int32_t remainder = zm.ImageSize - position;
        const std::int32_t length = std::min(remainder, mfu::kMaxBlock);
        if (writes.size() != 1 || writes[0].size() < 4 || writes[0][3] != mfu::ZDATA) Fail("no ZDATA for the block");
        if (new_position != position + length) Fail("FilePosition did not move by the block");
        if (new_state != (remainder <= mfu::kMaxBlock ? 4 : 3)) Fail("wrong state after a block");
        if (error == next_read_came) Fail("the next read's outcome is not signalled");
      } else if (!writes.empty() || new_state != state || error) {
        Fail("a block past the image");
      }
      break;
    case 4:
    case 5:
      if (writes.size() != 1 || new_state != state + 1) Fail("ZEOF or ZFIN step");
      if (writes[0].size() < 4 || writes[0][3] != (state == 4 ? mfu::ZEOF : 'B')) Fail("ZEOF or ZFIN frame");
      if (error == next_read_came) Fail("the next read's outcome is not signalled");
      break;
    case 6: {
      const Bytes final_answer = next_read_came ? deliveries[next_delivery] : Bytes{};
      const bool expect = ReferenceSuccess(final_answer);
      if (writes.size() != 1 || writes[0] != Bytes{'O', 'O'}) Fail("state 6 did not send OO alone");
      if (succeeded != expect) Fail("success differs from the final answer's word");
      if (error == expect) Fail("failure differs from the final answer's word");
      if (new_state != 6) Fail("state 6 moved");
      break;
    }
    default:
      break;
  }
  return 0;
}
