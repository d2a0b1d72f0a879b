// libFuzzer target: any answer of the modem through the answer reader and the
// test of the final answer. First byte: bit 0 shows the answer, bit 1 leaves
// the answer as two bursts (split at the second byte's value times 17, at
// least 1), so the read sees only the first. The rest is the answer: zero bytes, 4096 and
// more bytes, with or without the marker. The buffer is filled with a stale
// "Modem-Update erfolgreich" pattern before each read, so that a reader that
// looks past the bytes of this read shows or finds words that are not part
// of the answer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/diag.h"
#include "resources/resources.h"
#include "serial/comm_port.h"
#include "session/answer_reader.h"
#include "tests/fuzz/fuzz_device.h"
#include "tests/fuzz/verdict_reference.h"
#include "tests/support/recording_window.h"
#include "ui/window.h"
#include "zmodem/sender.h"

namespace {

void QuietSink(const char*) {}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_answer_reader: %s\n", what);
  std::abort();
}

std::string Text(unsigned id) {
  char buffer[256];
  const int n = mfu::LoadCompiledInText(id, buffer, sizeof buffer);
  return std::string(buffer, static_cast<std::size_t>(n));
}

bool ReferenceSuccess(const std::uint8_t* data, std::size_t size) { return mfu::fuzz::ReferenceVerdict(data, size); }

void FillStale() {
  static constexpr char kStale[] = "Modem-Update erfolgreich ";
  for (std::uint32_t i = 0; i < mfu::kModemResponseBufferSize; ++i) {
    mfu::ModemResponseBuffer[i] = static_cast<std::uint8_t>(kStale[i % (sizeof kStale - 1)]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = [] {
    mfu::SetDiagSink(&QuietSink);
    mfu::SetTimeDivisor(1000);
    return true;
  }();
  (void)ready;
  if (size == 0 || size > (1u << 16)) return 0;
  const bool show = (data[0] & 1) != 0;
  const bool split = (data[0] & 2) != 0;
  const std::uint8_t* answer = data + 1;
  const std::size_t answer_size = size - 1;

  // The final-answer test on a copy of exactly the answer's size, so that a
  // look one byte too far trips the address sanitizer.
  {
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[answer_size == 0 ? 1 : answer_size]);
    if (answer_size != 0) std::memcpy(copy.get(), answer, answer_size);
    if (mfu::FinalAnswerReportsSuccess(copy.get(), static_cast<std::uint32_t>(answer_size)) !=
        ReferenceSuccess(answer, answer_size)) {
      Fail("FinalAnswerReportsSuccess differs from the reference");
    }
  }

  auto device = std::make_shared<mfu::fuzz::FuzzDevice>();
  std::size_t first = answer_size;
  if (split && answer_size > 1) {
    first = std::clamp<std::size_t>(std::size_t{data[1]} * 17, 1, answer_size - 1);
  }
  device->Queue(answer, first);
  device->Queue(answer + first, answer_size - first);

  mfu::test::RecordingWindow window;
  mfu::SetMainDialog(&window);
  mfu::CommPort port;
  port.SetPortHandle(device);
  FillStale();
  mfu::ReadModemAnswer(port, show, 50000);
  port.SetPortHandle(nullptr);
  mfu::SetMainDialog(nullptr);

  // What the read handed over: at most 4096 bytes of the first burst.
  const std::size_t delivered = std::min<std::size_t>(first, mfu::kModemResponseBufferSize);
  if (port.LastReadCount() != delivered) Fail("LastReadCount is not the count the read delivered");
  if (std::memcmp(mfu::ModemResponseBuffer, answer, delivered) != 0) Fail("the buffer does not hold the answer");

  const std::vector<std::string> appends = window.Appends();
  if (delivered == 0) {
    if (appends.size() != 1 || appends[0] != Text(2004)) Fail("no answer must append text 2004 alone");
  } else if (!show) {
    if (!appends.empty()) Fail("a silent answer appended something");
  } else {
    if (appends.size() != 2) Fail("a shown answer must append the answer and text 2003");
    const std::string& shown = appends[0];
    if (shown.find("Modem-Update") != std::string::npos) Fail("the shown text contains the marker");
    if (shown.size() > delivered) Fail("the shown text is longer than the answer");
    if (std::memcmp(shown.data(), answer, shown.size()) != 0) Fail("the shown text is not the answer's start");
    // Exactly the answer up to the marker, as far as a text reaches (its
    // first zero byte).
    std::string_view expected(reinterpret_cast<const char*>(answer), delivered);
    const std::size_t marker = expected.find("Modem-Update");
    if (marker != std::string_view::npos) expected = expected.substr(0, marker);
    const std::size_t zero = expected.find('\0');
    if (zero != std::string_view::npos) expected = expected.substr(0, zero);
    if (shown != expected) Fail("the shown text is not the answer cut at the marker");
    if (appends[1] != Text(2003)) Fail("text 2003 does not follow the shown answer");
  }

  // The sender's use of the same read: success exactly when the delivered
  // bytes hold the word before their first zero byte.
  if (mfu::FinalAnswerReportsSuccess(mfu::ModemResponseBuffer, port.LastReadCount()) !=
      ReferenceSuccess(answer, delivered)) {
    Fail("the final answer in the buffer is judged against bytes outside the read");
  }
  return 0;
}
