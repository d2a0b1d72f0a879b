#include "simulator/modem_model.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace mfu::sim {
namespace {

// The tool's time limit for the answer to each step; "late" answers come
// late_ms after it.
Millis ToolLimit(Step s) {
  switch (s) {
    case Step::kB:
    case Step::kZrqinit: return 6000;
    case Step::kZfile:
    case Step::kZdata:
    case Step::kZeof:
    case Step::kZfin: return 60000;
    case Step::kFinal: return 50500;
    default: return 50000;
  }
}

Micros Ms(Millis ms) { return static_cast<Micros>(ms) * 1000; }

std::string Printable(const std::uint8_t* data, std::size_t size) {
  std::string out = "\"";
  char cell[8];
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t c = data[i];
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c == '"' || c == '\\') { out += '\\'; out += static_cast<char>(c); }
    else if (c >= 0x20 && c < 0x7F) out += static_cast<char>(c);
    else { std::snprintf(cell, sizeof cell, "\\x%02X", c); out += cell; }
  }
  return out + "\"";
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return s;
}

Bytes Text(const char* text) { return Bytes(text, text + std::strlen(text)); }

// Noise that a line or a loader might put before a header: no ZPAD in it,
// so a header parser that skips to the first ZPAD still finds the header.
const Bytes kGarbage = {0x0D, 0x0A, 0x72, 0x7A, 0x0D, 0x00, 0xFE, 0x7F, 0x11, 0x18, 0x0A};

}  // namespace

const char* ModemModel::SuccessText() { return "\r\nFlash-Programmierung erfolgreich beendet.\r\n"; }
const char* ModemModel::FailureText() { return "\r\nFlash-Programmierung fehlgeschlagen: Firmware ungueltig.\r\n"; }

Header ModemModel::RinitHeader() {
  // Full duplex, overlapped I/O, CRC-32 capable, no buffer limit: the flags a
  // standard receiver advertises (lrzsz rz sends the same header).
  return Header::WithBytes(zm::kRinit, 0, 0, 0, 0x23);
}

ModemModel::ModemModel(ModemOptions options) : options_(std::move(options)) {
  if (options_.real_line_rate && options_.bit_rate > 0) byte_us_ = 10'000'000 / options_.bit_rate;
  if (!options_.expected_image) options_.expected_image = Bytes{};
  for (const Fault& f : options_.faults) {
    if (f.step != Step::kStart) continue;
    Action a;
    a.at = 0;
    switch (f.kind) {
      case FaultKind::kDsrOff: a.kind = Action::Kind::kLines; a.cts = true; a.dsr = false; break;
      case FaultKind::kLinesOff: a.kind = Action::Kind::kLines; break;
      case FaultKind::kStatusFails: a.kind = Action::Kind::kStatusFails; break;
      case FaultKind::kHangUp: a.kind = Action::Kind::kHangUp; phase_ = Phase::kDead; obs_.hung_up = true; break;
      default: continue;
    }
    actions_.push_back(a);
  }
}

void ModemModel::Log(Micros at, const std::string& text) {
  if (!options_.log) return;
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%10.3f] ", static_cast<double>(at) / 1000.0);
  options_.log(stamp + text);
}

std::vector<Action> ModemModel::TakeActions() { return std::exchange(actions_, {}); }

Micros ModemModel::Receive(const std::uint8_t* data, std::size_t size, Micros now) {
  rx_free_ = std::max(rx_free_, now) + static_cast<Micros>(size) * byte_us_;
  const Micros at = rx_free_;
  if (size == 0) return at;
  obs_.raw_received.insert(obs_.raw_received.end(), data, data + size);
  if (phase_ == Phase::kDead) {
    Log(at, "tool->modem (line dead, dropped) " + Hex(data, size));
    return at;
  }
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t c = data[i];
    if (phase_ == Phase::kCommand || phase_ == Phase::kDownload) {
      if (phase_ == Phase::kDownload && line_.empty() && (c == 'b' || c == 'c')) {
        Log(at, std::string("tool->modem ") + Printable(&c, 1));
        if (c == 'c') {
          obs_.exit_byte = true;
          phase_ = Phase::kCommand;
          download_armed_ = false;
          Log(at, "download mode left (exit byte \"c\")");
          continue;
        }
        phase_ = Phase::kZmodem;
        zbuf_.clear();
        got_rqinit_ = got_file_ = got_eof_ = file_ok_ = false;
        announced_size_ = 0;
        blocks_ = 0;
        o_count_ = 0;
        obs_.image.clear();
        obs_.image_matched.reset();
        if (options_.external_receiver) {
          Action a;
          a.kind = Action::Kind::kStartReceiver;
          a.at = at;
          actions_.push_back(a);
          Log(at, "flash loader: handing the line to the external receiver");
        } else {
          Answer(Step::kB, 0, at, options_.command_latency_ms, Text("\r\nZMODEM-Empfang bereit\r\n"));
        }
        continue;
      }
      if (c == '\r') {
        OnLine(line_, at);
        line_.clear();
      } else if (c == '\n' && line_.empty()) {
        // the LF of "\r\n"
      } else if (line_.size() < 256) {
        line_ += static_cast<char>(c);
      }
      continue;
    }
    zbuf_.push_back(c);
  }
  if (phase_ == Phase::kZmodem || phase_ == Phase::kAfterFin) OnZmodemBytes(at);
  return at;
}

void ModemModel::OnLine(const std::string& raw, Micros now) {
  std::string cmd = raw;
  while (!cmd.empty() && (cmd.back() == ' ' || cmd.back() == '\n')) cmd.pop_back();
  while (!cmd.empty() && (cmd.front() == ' ' || cmd.front() == '\n')) cmd.erase(cmd.begin());
  const std::string echo = cmd + "\r";
  Log(now, "tool->modem " + Printable(reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size()) + " + CR");
  const std::string lower = Lower(cmd);
  if (lower.empty()) return;
  if (lower == "ati4") {
    Answer(Step::kProbe, 0, now, options_.command_latency_ms,
           Text((echo + "\r\nQVRLMAZZ 56000 Datenmodem\r\nSimulation, Firmware 1.00\r\n\r\nOK\r\n").c_str()));
  } else if (lower == "at@d") {
    download_armed_ = true;
    Answer(Step::kAtD, 0, now, options_.command_latency_ms,
           Text((echo + "\r\nDownload vorbereitet.\r\nOK\r\n").c_str()));
  } else if (lower == "a" && download_armed_) {
    phase_ = Phase::kDownload;
    Answer(Step::kA, 0, now, options_.command_latency_ms,
           Text((echo + "\r\nFlash-Loader V1.00 bereit.\r\nDie neue Firmware kann jetzt gesendet werden.\r\n"
                        "Modem-Update: b = Start, c = Abbruch\r\n")
                    .c_str()));
  } else if (lower.rfind("at", 0) == 0) {
    Answer(Step::kProbe, 0, now, options_.command_latency_ms, Text((echo + "\r\nOK\r\n").c_str()));
  } else {
    Answer(Step::kProbe, 0, now, options_.command_latency_ms, Text((echo + "\r\nERROR\r\n").c_str()));
  }
}

void ModemModel::OnZmodemBytes(Micros now) {
  std::size_t offset = 0;
  for (;;) {
    std::size_t consumed = 0;
    ParsedFrame frame;
    const auto result = FrameParser::Parse(zbuf_.data() + offset, zbuf_.size() - offset, consumed, frame);
    if (result == FrameParser::Result::kNeedMore) break;
    const std::uint8_t* at = zbuf_.data() + offset;
    offset += consumed;
    if (result == FrameParser::Result::kSkipped) {
      Log(now, "tool->modem outside a frame: " + Hex(at, consumed));
      if (phase_ == Phase::kAfterFin) {
        for (std::size_t i = 0; i < consumed && phase_ == Phase::kAfterFin; ++i) {
          if (at[i] == 'O' && ++o_count_ == 2) OnOverAndOut(now);
        }
      }
      if (phase_ != Phase::kZmodem && phase_ != Phase::kAfterFin) {
        offset = zbuf_.size();  // the session is over; what follows is not ZMODEM
        break;
      }
      continue;
    }
    std::string line = "tool->modem " + FrameTypeName(frame.header.type) +
                       (frame.encoding == ParsedFrame::Encoding::kHex ? " (hex)" : " (binary)") + " pos " +
                       std::to_string(frame.header.Position());
    if (frame.has_data) line += " data " + std::to_string(frame.data.size());
    const std::size_t shown = std::min<std::size_t>(consumed, 80);
    line += ": " + Hex(at, shown) + (shown < consumed ? " ... (" + std::to_string(consumed) + " bytes)" : "");
    if (!frame.error.empty()) line += "  ERROR: " + frame.error;
    Log(now, line);
    FrameRecord rec;
    rec.type = frame.header.type;
    rec.position = frame.header.Position();
    rec.data_size = frame.data.size();
    rec.binary = frame.encoding != ParsedFrame::Encoding::kHex;
    rec.error = frame.error;
    obs_.frames.push_back(rec);
    OnFrame(frame, now);
    if (phase_ != Phase::kZmodem && phase_ != Phase::kAfterFin) {
      offset = zbuf_.size();
      break;
    }
  }
  zbuf_.erase(zbuf_.begin(), zbuf_.begin() + static_cast<std::ptrdiff_t>(offset));
}

void ModemModel::RejectFrame(const ParsedFrame& frame, const std::string& why, Micros now) {
  const std::string text = FrameTypeName(frame.header.type) + " pos " + std::to_string(frame.header.Position()) +
                           ": " + why;
  obs_.errors.push_back(text);
  if (!obs_.frames.empty() && obs_.frames.back().error.empty()) obs_.frames.back().error = why;
  Log(now, "receiver rejects " + text);
  if (options_.external_receiver) return;
  // The loader answers every frame it cannot take with a ZNAK; the tool's
  // stop-and-wait sender gives up on it at once.
  Send(EncodeHexHeader(Header::WithPosition(zm::kNak, 0)), now + Ms(options_.header_latency_ms), "ZNAK");
}

void ModemModel::OnFrame(const ParsedFrame& frame, Micros now) {
  if (!frame.error.empty()) {
    obs_.errors.push_back(FrameTypeName(frame.header.type) + ": " + frame.error);
    Log(now, "receiver rejects the frame: " + frame.error);
    if (!options_.external_receiver)
      Send(EncodeHexHeader(Header::WithPosition(zm::kNak, 0)), now + Ms(options_.header_latency_ms), "ZNAK");
    return;
  }
  const Header& h = frame.header;
  const bool ext = options_.external_receiver;
  const Millis lat = options_.header_latency_ms;
  switch (h.type) {
    case zm::kRqinit:
      if (got_file_) return RejectFrame(frame, "ZRQINIT after ZFILE", now);
      got_rqinit_ = true;
      if (!ext) {
        const Header rinit = RinitHeader();
        Answer(Step::kZrqinit, 0, now, lat, EncodeHexHeader(rinit), &rinit);
      }
      return;
    case zm::kFile: {
      if (!got_rqinit_) return RejectFrame(frame, "ZFILE before ZRQINIT", now);
      if (got_file_) return RejectFrame(frame, "second ZFILE", now);
      if (frame.frame_end != zm::kCrcW) return RejectFrame(frame, "file information not ended by ZCRCW", now);
      if (h.data[0] || h.data[1] || h.data[2] || h.data[3])
        Log(now, "note: ZFILE flags " + Hex(h.data, 4) + " (not all zero)");
      // name NUL "size date mode " NUL..., always 128 bytes.
      const Bytes& d = frame.data;
      if (d.size() != 128) return RejectFrame(frame, "file information is " + std::to_string(d.size()) + " bytes, not 128", now);
      const auto nul = std::find(d.begin(), d.end(), 0);
      const std::string name(d.begin(), nul);
      if (name.empty() || nul == d.end()) return RejectFrame(frame, "file information without a name", now);
      const auto text_end = std::find(nul + 1, d.end(), 0);
      const std::string info(nul + 1, text_end);
      for (auto it = text_end; it != d.end(); ++it)
        if (*it != 0) return RejectFrame(frame, "file information has bytes after its text", now);
      unsigned long size = 0;
      char date[32] = {0};
      char mode[32] = {0};
      int used = 0;
      // The count and the %n test reject malformed text; the size digits come
      // from the sender under test, whose images fit in an unsigned long.
      if (std::sscanf(info.c_str(), "%lu %31s %31s%n", &size, date, mode, &used) != 3 ||  // NOLINT(cert-err34-c)
          info.substr(static_cast<std::size_t>(used)) != " ")
        return RejectFrame(frame, "file information text \"" + info + "\" is not \"SIZE DATE MODE \"", now);
      if (std::strspn(date, "01234567") != std::strlen(date))
        return RejectFrame(frame, std::string("file date ") + date + " is not octal", now);
      if (std::string(mode) != "100666") return RejectFrame(frame, std::string("file mode ") + mode + ", not 100666", now);
      if (!options_.expected_name.empty() && name != options_.expected_name)
        return RejectFrame(frame, "file name " + name + ", expected " + options_.expected_name, now);
      if (!options_.expected_date.empty() && std::string(date) != options_.expected_date)
        return RejectFrame(frame, std::string("file date ") + date + ", expected " + options_.expected_date, now);
      got_file_ = true;
      file_ok_ = true;
      announced_size_ = static_cast<std::uint32_t>(size);
      Log(now, "file information: name " + name + ", size " + std::to_string(size) + ", date " + date);
      if (!ext) {
        const Header rpos = Header::WithPosition(zm::kRpos, 0);
        Answer(Step::kZfile, 0, now, lat, EncodeHexHeader(rpos), &rpos);
      }
      return;
    }
    case zm::kData: {
      if (!got_file_ || got_eof_) return RejectFrame(frame, got_eof_ ? "ZDATA after ZEOF" : "ZDATA before ZFILE", now);
      if (h.Position() != obs_.image.size())
        return RejectFrame(frame, "offset " + std::to_string(h.Position()) + ", expected " +
                                      std::to_string(obs_.image.size()), now);
      if (frame.frame_end != zm::kCrcW) return RejectFrame(frame, "data subpacket not ended by ZCRCW", now);
      if (frame.data.empty() || frame.data.size() > 1024)
        return RejectFrame(frame, "block of " + std::to_string(frame.data.size()) + " bytes", now);
      if (obs_.image.size() + frame.data.size() > announced_size_)
        return RejectFrame(frame, "data beyond the announced size " + std::to_string(announced_size_), now);
      obs_.image.insert(obs_.image.end(), frame.data.begin(), frame.data.end());
      ++blocks_;
      if (!ext) {
        const Header ack = Header::WithPosition(zm::kAck, static_cast<std::uint32_t>(obs_.image.size()));
        Answer(Step::kZdata, blocks_, now, lat + options_.flash_ms_per_block, EncodeHexHeader(ack), &ack);
      }
      return;
    }
    case zm::kEof:
      if (!got_file_ || got_eof_) return RejectFrame(frame, got_eof_ ? "second ZEOF" : "ZEOF before ZFILE", now);
      if (h.Position() != obs_.image.size() || h.Position() != announced_size_)
        return RejectFrame(frame, "ZEOF at " + std::to_string(h.Position()) + ", received " +
                                      std::to_string(obs_.image.size()) + " of " + std::to_string(announced_size_),
                           now);
      got_eof_ = true;
      if (!ext) {
        const Header rinit = RinitHeader();
        Answer(Step::kZeof, 0, now, lat, EncodeHexHeader(rinit), &rinit);
      }
      return;
    case zm::kFin:
      if (!got_eof_ && phase_ != Phase::kAfterFin) return RejectFrame(frame, "ZFIN before ZEOF", now);
      phase_ = Phase::kAfterFin;
      o_count_ = 0;
      if (!ext) {
        const Header fin = Header::WithPosition(zm::kFin, 0);
        Bytes fin_answer = EncodeHexHeader(fin);
        for (const Fault* f : FaultsFor(Step::kFinal, 0)) {
          if (f->kind != FaultKind::kEarly) continue;
          // A loader that reports the received file before the tool's "OO".
          const Bytes early = Text("\r\nDatei erfolgreich empfangen.\r\n");
          fin_answer.insert(fin_answer.end(), early.begin(), early.end());
        }
        Answer(Step::kZfin, 0, now, lat, std::move(fin_answer), &fin);
      }
      return;
    case zm::kAbort:
      ++obs_.aborts;
      Log(now, "ZABORT received: the session ends");
      if (!ext) Send(EncodeHexHeader(Header::WithPosition(zm::kFin, 0)), now + Ms(lat), "ZFIN (to ZABORT)");
      phase_ = Phase::kDownload;
      if (ext) {
        Action a;
        a.kind = Action::Kind::kEndReceiver;
        a.at = now;
        actions_.push_back(a);
      }
      EndSession(std::max(now, tx_free_));
      return;
    default:
      return RejectFrame(frame, "unexpected frame", now);
  }
}

void ModemModel::OnOverAndOut(Micros now) {
  Log(now, "\"OO\" received");
  if (options_.external_receiver) {
    phase_ = Phase::kAwaitVerdict;
    Action a;
    a.kind = Action::Kind::kEndReceiver;
    a.at = now;
    a.expect_file = true;
    actions_.push_back(a);
    return;
  }
  const bool matched = file_ok_ && got_eof_ && obs_.errors.empty() && obs_.image == *options_.expected_image;
  Verdict(matched, now);
}

void ModemModel::ExternalReceiverEnded(const std::optional<Bytes>& image, const std::string& note, Micros now) {
  Log(now, "external receiver ended: " + note);
  if (phase_ == Phase::kAwaitVerdict) {
    bool matched = image.has_value() && *image == *options_.expected_image;
    if (image) Log(now, "receiver's file: " + std::to_string(image->size()) + " bytes, " +
                            (matched ? "identical to" : "differs from") + " the expected image");
    Verdict(matched, now);
    return;
  }
  if (phase_ == Phase::kZmodem || phase_ == Phase::kAfterFin) {
    obs_.errors.push_back("external receiver ended in the ZMODEM phase: " + note);
    phase_ = Phase::kDownload;
    EndSession(now);
  }
}

void ModemModel::Verdict(bool matched, Micros now) {
  obs_.image_matched = matched;
  Log(now, std::string("flash loader: image ") + (matched ? "matches" : "does not match") + " the expected image");
  phase_ = Phase::kCommand;
  download_armed_ = false;
  Answer(Step::kFinal, 0, now, options_.final_pause_ms, Text(matched ? SuccessText() : FailureText()));
  ++obs_.final_answers;
  if (phase_ != Phase::kDead) EndSession(std::max(now, tx_free_));
}

void ModemModel::EndSession(Micros at) {
  Action a;
  a.kind = Action::Kind::kSessionEnd;
  a.at = at;
  actions_.push_back(a);
}

void ModemModel::HangUp(Micros now) {
  if (phase_ == Phase::kDead) return;
  const bool in_session = phase_ == Phase::kZmodem || phase_ == Phase::kAfterFin || phase_ == Phase::kAwaitVerdict;
  phase_ = Phase::kDead;
  obs_.hung_up = true;
  Log(now, "modem hangs up");
  Action a;
  a.kind = Action::Kind::kHangUp;
  a.at = now;
  actions_.push_back(a);
  if (in_session) EndSession(now);
}

void ModemModel::SendExternal(const Bytes& bytes, Micros now) {
  if (phase_ == Phase::kDead || bytes.empty()) return;
  Send(bytes, now, "receiver");
}

std::vector<const Fault*> ModemModel::FaultsFor(Step step, std::uint32_t block) const {
  std::vector<const Fault*> found;
  for (const Fault& f : options_.faults)
    if (f.step == step && (step != Step::kZdata || f.block == block)) found.push_back(&f);
  return found;
}

void ModemModel::Answer(Step step, std::uint32_t block, Micros now, Millis latency, Bytes answer,
                        const Header* header) {
  Micros delay = Ms(latency);
  bool silent = false;
  for (const Fault* f : FaultsFor(step, block)) {
    Log(now, "fault " + FaultToString(*f));
    Action a;
    a.at = now;
    switch (f->kind) {
      case FaultKind::kSilence: silent = true; break;
      case FaultKind::kLate: delay = Ms(ToolLimit(step) + options_.late_ms); break;
      case FaultKind::kGarbage: answer.insert(answer.begin(), kGarbage.begin(), kGarbage.end()); break;
      case FaultKind::kZnak: answer = EncodeHexHeader(Header::WithPosition(zm::kNak, 0)); break;
      case FaultKind::kZrpos:
        answer = EncodeHexHeader(Header::WithPosition(zm::kRpos, header ? header->Position() : 0));
        break;
      case FaultKind::kBinary:
        if (header) answer = EncodeBinaryHeader(*header);
        break;
      case FaultKind::kCrc:
        // Flip the last CRC digit to another lowercase hex digit.
        if (answer.size() >= 18) answer[17] = answer[17] == '0' ? '1' : '0';
        break;
      case FaultKind::kDsrOff: a.kind = Action::Kind::kLines; a.cts = true; a.dsr = false; actions_.push_back(a); break;
      case FaultKind::kLinesOff: a.kind = Action::Kind::kLines; actions_.push_back(a); break;
      case FaultKind::kStatusFails: a.kind = Action::Kind::kStatusFails; actions_.push_back(a); break;
      case FaultKind::kHangUp: HangUp(now); return;
      case FaultKind::kNoSuccess: answer = Text(FailureText()); break;
      case FaultKind::kNulBeforeSuccess: {
        const Bytes text = Text(SuccessText());
        answer = text;
        answer.insert(answer.begin() + 2, 0x00);
        break;
      }
      case FaultKind::kNegative: answer = Text("\r\nFlash-Programmierung NICHT erfolgreich.\r\n"); break;
      case FaultKind::kEarly: silent = true; break;
      case FaultKind::kDribble: {
        // One byte every 200 ms, never a 250 ms gap that would end its read,
        // the last one late_ms past the tool's limit: dots, then the success
        // text (269 bytes in all by default).
        const Bytes success = Text(SuccessText());
        const Micros span = Ms(ToolLimit(step) + options_.late_ms) - delay;
        const auto count = static_cast<std::size_t>((span + Ms(200) - 1) / Ms(200)) + 1;
        Bytes text(count > success.size() ? count - success.size() : 0, '.');
        text.insert(text.end(), success.begin(), success.end());
        Micros at = now + delay;
        for (std::uint8_t byte : text) {
          Send(Bytes{byte}, at, "final, dribbled", true);
          at += Ms(200);
        }
        return;
      }
      case FaultKind::kEscape: {
        Bytes text = Text("\x1b[2J\x1b[8m\x1b]0;x\x07");
        text.insert(text.end(), answer.begin(), answer.end());
        answer = text;
        break;
      }
    }
  }
  if (silent) {
    Log(now, std::string("no answer to ") + StepOptionName(step));
    return;
  }
  Send(std::move(answer), now + delay, StepOptionName(step), header == nullptr);
}

void ModemModel::Send(Bytes bytes, Micros at, const char* what, bool text) {
  at = std::max(at, tx_free_);
  tx_free_ = at + static_cast<Micros>(bytes.size()) * byte_us_;
  Log(at, std::string("modem->tool (") + what + ") " + (text ? Printable(bytes.data(), bytes.size()) : Hex(bytes)));
  Action a;
  a.kind = Action::Kind::kSend;
  a.at = at;
  a.bytes = std::move(bytes);
  actions_.push_back(std::move(a));
}

}  // namespace mfu::sim
