// The simulated modem as a pure model: bytes from the tool go in with the
// program time at which they arrived, and the model answers with actions
// scheduled at program times (bytes to send, status line changes, a
// hang-up). No threads, no OS calls, no clock of its own: the adapters (the
// in-process serial device and the pty program) own time and I/O.
//
// The modem: a command interpreter ("ati4", "at@d", "a"), the download mode
// ("b" starts the flash loader's ZMODEM receiver, "c" leaves), a ZMODEM
// receiver that answers only with hex headers and checks every CRC, offset
// and the file information, and the flash loader's verdict after "OO".
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "simulator/faults.h"
#include "simulator/zm_codec.h"

namespace mfu::sim {

// Program time in microseconds (program milliseconds * 1000). The adapters
// map it to real time through the time seam.
using Micros = std::int64_t;

struct ModemOptions {
  // Port names the in-process backend opens (all lead to this one modem).
  std::vector<std::string> port_names = {"COM1"};
  // Pace both directions at bit_rate (10 bit times per byte); off = fast
  // mode, bytes move at once.
  bool real_line_rate = false;
  std::uint32_t bit_rate = 57600;
  Millis flash_ms_per_block = 0;   // the loader's flash time before each ZACK
  Millis command_latency_ms = 20;  // before an answer of the command interpreter
  Millis header_latency_ms = 2;    // before a ZMODEM header answer
  Millis final_pause_ms = 2000;    // after "OO", before the final answer
  // How long after the tool's time limit a "late" answer comes (and a
  // dribbled one ends), counted from the tool's write. The tool starts its
  // wait a moment after that write, so this must outlast any delay of its
  // thread (sped-up tests set more).
  Millis late_ms = 5000;
  std::vector<Fault> faults;
  // The image the loader accepts; unset: the program's built-in image.
  std::optional<Bytes> expected_image;
  // The file name and octal date the file information must carry; empty
  // accepts any.
  std::string expected_name = "bc2780ix.bin";
  std::string expected_date = "6610700432";
  bool cts = true;  // initial status lines
  bool dsr = true;
  // A real receiver (lrzsz rz) answers from "b" to "OO"; the model then only
  // watches the ZMODEM phase (modem-sim --rz).
  bool external_receiver = false;
  // Each log line (without a line end), as it is written.
  std::function<void(const std::string&)> log;
};

// What the modem saw.
struct FrameRecord {
  int type = 0;
  std::uint32_t position = 0;  // the header's position (or flags as a number)
  std::size_t data_size = 0;   // subpacket bytes (ZFILE, ZDATA)
  bool binary = false;
  std::string error;           // empty when the frame passed every check
};

struct Observations {
  Bytes raw_received;
  Bytes image;                         // data received in this session
  std::optional<bool> image_matched;   // set when the loader gave its verdict
  std::vector<FrameRecord> frames;
  int aborts = 0;                      // ZABORT frames received
  bool exit_byte = false;              // "c" received in download mode
  std::vector<std::string> errors;     // every check that failed
  int final_answers = 0;               // verdicts sent
  bool hung_up = false;
};

struct Action {
  enum class Kind {
    kSend,           // bytes; byte i is on the tool's side at at + (i + 1) * ByteMicros()
    kLines,          // cts, dsr
    kStatusFails,    // the status query fails from now on
    kHangUp,         // the line is dead from now on
    kStartReceiver,  // rz mode: start the real receiver, hand it the line
    kEndReceiver,    // rz mode: take the line back; expect_file tells whether a file is due
    kSessionEnd      // an update session has ended (verdict sent, abort, hang-up)
  };
  Kind kind = Kind::kSend;
  Micros at = 0;
  Bytes bytes;
  bool cts = false;
  bool dsr = false;
  bool expect_file = false;
};

class ModemModel {
 public:
  // `expected_image` must be set (the adapters resolve the built-in one).
  explicit ModemModel(ModemOptions options);

  // Bytes written by the tool at program time `now`. Returns the time their
  // last byte has arrived (later than `now` when the line is paced).
  Micros Receive(const std::uint8_t* data, std::size_t size, Micros now);
  // rz mode: bytes the real receiver sent, to go out paced like the model's.
  void SendExternal(const Bytes& bytes, Micros now);
  // rz mode: the receiver has ended; `image` is the file it wrote (nullopt
  // when none). After "OO" this gives the verdict.
  void ExternalReceiverEnded(const std::optional<Bytes>& image, const std::string& note, Micros now);
  // Hangs up at `now` (the API's trigger).
  void HangUp(Micros now);

  // Takes the actions scheduled so far, in the order they were scheduled
  // (kSend actions in time order).
  std::vector<Action> TakeActions();

  const Observations& observations() const { return obs_; }
  const ModemOptions& options() const { return options_; }
  Micros ByteMicros() const { return byte_us_; }
  // Program time at which the last scheduled byte is out.
  Micros TxFreeAt() const { return tx_free_; }

  // Texts of the interpreter and the loader, for tests.
  static const char* SuccessText();
  static const char* FailureText();

  // Bytes of a ZRINIT as this receiver sends it (flags of a standard receiver).
  static Header RinitHeader();

 private:
  enum class Phase { kCommand, kDownload, kZmodem, kAfterFin, kAwaitVerdict, kDead };

  void Log(Micros at, const std::string& text);
  void OnLine(const std::string& line, Micros now);
  void OnZmodemBytes(Micros now);
  void OnFrame(const ParsedFrame& frame, Micros now);
  void OnOverAndOut(Micros now);
  void Verdict(bool matched, Micros now);
  std::vector<const Fault*> FaultsFor(Step step, std::uint32_t block) const;
  // Sends `answer` for `step` after `latency`, with the step's faults.
  void Answer(Step step, std::uint32_t block, Micros now, Millis latency, Bytes answer,
              const Header* header = nullptr);
  void Send(Bytes bytes, Micros at, const char* what, bool text = false);
  void RejectFrame(const ParsedFrame& frame, const std::string& why, Micros now);
  void EndSession(Micros at);

  ModemOptions options_;
  Observations obs_;
  std::vector<Action> actions_;
  Phase phase_ = Phase::kCommand;
  Micros byte_us_ = 0;
  Micros rx_free_ = 0;
  Micros tx_free_ = 0;
  std::string line_;
  bool download_armed_ = false;  // "at@d" seen, "a" may follow
  Bytes zbuf_;
  // Receiver state of one session.
  bool got_rqinit_ = false;
  bool got_file_ = false;
  bool got_eof_ = false;
  bool file_ok_ = false;
  std::uint32_t announced_size_ = 0;
  std::uint32_t blocks_ = 0;
  int o_count_ = 0;
};

}  // namespace mfu::sim
