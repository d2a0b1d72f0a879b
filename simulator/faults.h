// The simulator's fault catalogue: the steps of the exchange, the faults the
// modem can show at each, and their names on modem-sim's command line.
#pragma once

#include <cstdint>
#include <string>

namespace mfu::sim {

// The steps of the exchange at which a fault can be placed. kStart places a
// status-line fault before anything happens.
enum class Step { kStart, kProbe, kAtD, kA, kB, kZrqinit, kZfile, kZdata, kZeof, kZfin, kFinal };

enum class FaultKind {
  kSilence,        // no answer
  kLate,           // the answer comes late_ms (5000 ms) after the tool's time limit
  kGarbage,        // noise (no ZPAD in it) before the good answer
  kZnak,           // a hex ZNAK in place of the due header
  kZrpos,          // a hex ZRPOS in place of the due header
  kBinary,         // the due header, correct, but as a binary CRC-16 header
  kCrc,            // the due hex header with a wrong CRC
  kDsrOff,         // DSR goes off, CTS stays on (from this step on)
  kLinesOff,       // CTS and DSR go off
  kStatusFails,    // the status query fails (from this step on)
  kHangUp,         // the modem hangs up: the line is dead
  kNoSuccess,      // final answer without "erfolgreich"
  kNulBeforeSuccess, // final answer with a zero byte before "erfolgreich"
  kNegative,       // final answer "... NICHT erfolgreich"
  kEarly,          // "Datei erfolgreich empfangen" right behind the ZFIN, then no final answer
  kDribble,        // the success text one byte every 200 ms, ending late_ms past the tool's limit
  kEscape          // terminal escape sequences before the success text
};

struct Fault {
  Step step = Step::kStart;
  FaultKind kind = FaultKind::kSilence;
  std::uint32_t block = 1;  // kZdata only: the data block, counted from 1
};

// Parses "STEP:KIND[:BLOCK]" (as on modem-sim's command line). False with
// `error` set for an unknown step or kind, or a kind that the step cannot
// have.
bool ParseFault(const std::string& text, Fault& fault, std::string& error);
std::string FaultToString(const Fault& fault);
// The help text for --fault: every step and every kind.
std::string FaultHelp();

// The command-line name of a step ("zdata") or "?".
const char* StepOptionName(Step step);

}  // namespace mfu::sim
