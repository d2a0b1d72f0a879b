#include "simulator/faults.h"

#include <string>
#include <vector>

namespace mfu::sim {
namespace {

struct Named {
  const char* name;
  int value;
};

constexpr Named kSteps[] = {
    {"start", static_cast<int>(Step::kStart)},     {"probe", static_cast<int>(Step::kProbe)},
    {"atd", static_cast<int>(Step::kAtD)},         {"a", static_cast<int>(Step::kA)},
    {"b", static_cast<int>(Step::kB)},             {"zrqinit", static_cast<int>(Step::kZrqinit)},
    {"zfile", static_cast<int>(Step::kZfile)},     {"zdata", static_cast<int>(Step::kZdata)},
    {"zeof", static_cast<int>(Step::kZeof)},       {"zfin", static_cast<int>(Step::kZfin)},
    {"final", static_cast<int>(Step::kFinal)},
};

constexpr Named kKinds[] = {
    {"silence", static_cast<int>(FaultKind::kSilence)},
    {"late", static_cast<int>(FaultKind::kLate)},
    {"garbage", static_cast<int>(FaultKind::kGarbage)},
    {"znak", static_cast<int>(FaultKind::kZnak)},
    {"zrpos", static_cast<int>(FaultKind::kZrpos)},
    {"binary", static_cast<int>(FaultKind::kBinary)},
    {"crc", static_cast<int>(FaultKind::kCrc)},
    {"dsr-off", static_cast<int>(FaultKind::kDsrOff)},
    {"lines-off", static_cast<int>(FaultKind::kLinesOff)},
    {"status-fails", static_cast<int>(FaultKind::kStatusFails)},
    {"hangup", static_cast<int>(FaultKind::kHangUp)},
    {"no-success", static_cast<int>(FaultKind::kNoSuccess)},
    {"nul", static_cast<int>(FaultKind::kNulBeforeSuccess)},
    {"negative", static_cast<int>(FaultKind::kNegative)},
    {"early", static_cast<int>(FaultKind::kEarly)},
    {"dribble", static_cast<int>(FaultKind::kDribble)},
    {"escape", static_cast<int>(FaultKind::kEscape)},
};

bool IsZmodemStep(Step s) {
  return s == Step::kZrqinit || s == Step::kZfile || s == Step::kZdata || s == Step::kZeof || s == Step::kZfin;
}

bool IsLineKind(FaultKind k) {
  return k == FaultKind::kDsrOff || k == FaultKind::kLinesOff || k == FaultKind::kStatusFails ||
         k == FaultKind::kHangUp;
}

}  // namespace

const char* StepOptionName(Step s) {
  for (const auto& n : kSteps)
    if (n.value == static_cast<int>(s)) return n.name;
  return "?";
}
namespace {

const char* KindName(FaultKind k) {
  for (const auto& n : kKinds)
    if (n.value == static_cast<int>(k)) return n.name;
  return "?";
}

}  // namespace

bool ParseFault(const std::string& text, Fault& fault, std::string& error) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = text.find(':', start);
    parts.push_back(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (parts.size() < 2 || parts.size() > 3) {
    error = "fault '" + text + "': expected STEP:KIND[:BLOCK]";
    return false;
  }
  Fault f;
  bool found = false;
  for (const auto& n : kSteps)
    if (parts[0] == n.name) { f.step = static_cast<Step>(n.value); found = true; }
  if (!found) { error = "fault '" + text + "': unknown step '" + parts[0] + "'"; return false; }
  found = false;
  for (const auto& n : kKinds)
    if (parts[1] == n.name) { f.kind = static_cast<FaultKind>(n.value); found = true; }
  if (!found) { error = "fault '" + text + "': unknown kind '" + parts[1] + "'"; return false; }
  if (parts.size() == 3) {
    if (f.step != Step::kZdata) { error = "fault '" + text + "': only zdata takes a block number"; return false; }
    char* end = nullptr;
    const unsigned long block = std::strtoul(parts[2].c_str(), &end, 10);
    if (parts[2].empty() || *end != '\0' || block < 1 || block > 0xFFFFFFul) {
      error = "fault '" + text + "': block must be a number from 1";
      return false;
    }
    f.block = static_cast<std::uint32_t>(block);
  }
  const bool header_kind = f.kind == FaultKind::kZnak || f.kind == FaultKind::kZrpos ||
                           f.kind == FaultKind::kBinary || f.kind == FaultKind::kCrc;
  const bool final_kind = f.kind == FaultKind::kNoSuccess || f.kind == FaultKind::kNulBeforeSuccess ||
                          f.kind == FaultKind::kNegative || f.kind == FaultKind::kEarly ||
                          f.kind == FaultKind::kDribble || f.kind == FaultKind::kEscape;
  if (header_kind && !IsZmodemStep(f.step)) {
    error = "fault '" + text + "': " + parts[1] + " needs a ZMODEM step (zrqinit, zfile, zdata, zeof, zfin)";
    return false;
  }
  if (final_kind && f.step != Step::kFinal) {
    error = "fault '" + text + "': " + parts[1] + " is for the step final only";
    return false;
  }
  if (f.step == Step::kStart && !IsLineKind(f.kind)) {
    error = "fault '" + text + "': start takes dsr-off, lines-off, status-fails or hangup only";
    return false;
  }
  fault = f;
  return true;
}

std::string FaultToString(const Fault& fault) {
  std::string s = std::string(StepOptionName(fault.step)) + ":" + KindName(fault.kind);
  if (fault.step == Step::kZdata) {
    s += ':';
    s += std::to_string(fault.block);
  }
  return s;
}

std::string FaultHelp() {
  return "  STEP is the input whose answer the fault changes:\n"
         "    start    before anything (status-line faults only)\n"
         "    probe    \"ati4\\r\\n\"          atd   \"at@d\\r\\n\"       a   \"a\\r\\n\"\n"
         "    b        the byte \"b\"         zrqinit  ZRQINIT (answer ZRINIT)\n"
         "    zfile    ZFILE (ZRPOS)       zdata    ZDATA block BLOCK, from 1, default 1 (ZACK)\n"
         "    zeof     ZEOF (ZRINIT)       zfin     ZFIN (ZFIN)     final   \"OO\" (final answer)\n"
         "  KIND:\n"
         "    silence       no answer\n"
         "    late          the answer 5000 ms after the tool's time limit for it\n"
         "    garbage       noise without a ZPAD before the good answer\n"
         "    znak          a hex ZNAK in place of the due header (ZMODEM steps)\n"
         "    zrpos         a hex ZRPOS in place of the due header (ZMODEM steps)\n"
         "    binary        the due header, correct, as a binary CRC-16 header (ZMODEM steps)\n"
         "    crc           the due hex header with a wrong CRC (ZMODEM steps)\n"
         "    dsr-off       DSR off, CTS on, from this step on\n"
         "    lines-off     CTS and DSR off, from this step on\n"
         "    status-fails  the status query fails from this step on\n"
         "    hangup        the modem hangs up at this step (no answer; the line is dead)\n"
         "    no-success    final answer without \"erfolgreich\" (final only)\n"
         "    nul           a zero byte before \"erfolgreich\" (final only)\n"
         "    negative      final answer \"... NICHT erfolgreich\" (final only)\n"
         "    early         \"Datei erfolgreich empfangen\" right behind the ZFIN, then no\n"
         "                  final answer (final only)\n"
         "    dribble       the success text one byte every 200 ms, longer than the\n"
         "                  tool waits for it (final only)\n"
         "    escape        terminal escape sequences before the success text (final only)\n";
}

}  // namespace mfu::sim
