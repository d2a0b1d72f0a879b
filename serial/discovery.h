// Finding the port of the supported modem: a port the user named is taken as
// it is; else the installed-modem lists; else a quick scan of every port the
// system lists; else a probe of COM1 to COM4 (and, on Windows, of the other
// ports the system names) with "ati4\r\n" for "QVRLMAZZ".
// Runs on the window thread before any other thread exists. Leaves no port
// open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "serial/comm_port.h"
#include "serial/serial_device.h"

namespace mfu {

// Room for a port name and its NUL: the longest path the system takes (Linux
// PATH_MAX; the Windows names are far shorter).
inline constexpr std::size_t kPortNameSize = 4096;

// How long the quick scan waits for the answers of all ports together.
inline constexpr Millis kScanAnswerLimit = 3000;

// Why the search passed a port over.
enum class PortVerdict {
  kCannotOpen,    // `failure` says why; `holders` who holds it when busy
  kStatusFailed,  // the status-line query failed: nothing was sent
  kNoAnswer,      // silent within the time limit
  kNoIdentifier,  // it answered, without "QVRLMAZZ" in its first burst
  kNotSearched,   // a port this build may not use (PortAllowedInThisBuild): left unopened
};

struct PortAttempt {
  std::string port;
  PortVerdict verdict = PortVerdict::kNoAnswer;
  OpenFailure failure;
  std::vector<PortHolder> holders;
};

// Every port the search tried and passed over, in the order tried.
using SearchReport = std::vector<PortAttempt>;

// Hears the search as it goes, so that it is never silent: the port being
// asked and the time left for its answer (again once a program second while
// it stays silent), and each port as soon as the search passes it over.
// Called on the search's thread (the window thread); must not block.
class SearchListener {
 public:
  virtual ~SearchListener() = default;
  // `what`: the port asked (the scan: the ports still silent, ", "
  // between them); `left`: program ms left for the answer.
  virtual void Asking(const std::string& what, Millis left) = 0;
  virtual void PassedOver(const PortAttempt& attempt) = 0;
};

// Whether this build may open `port_name` at all. A build that carries the
// stand-in image instead of real firmware sends nothing to a real modem: it
// may open only the lines the serial backend does not count as hardware
// (SerialBackend::IsHardwarePort: pseudo-terminals, the simulated modem). The
// search passes every other port over unopened, and the connection procedure
// refuses one that was named or listed (text 24). Any thread; asks the backend.
bool PortAllowedInThisBuild(const char* port_name);

// The search, through `port` (its probe, and its interrupt flag, which cuts
// the search short). `named_port` (--port) is taken as it is, before the
// lists and without a probe (the connection procedure asks it); nullptr or
// "" names none. `port_name` holds kPortNameSize bytes; `report` is null or
// filled with the ports passed over, in the order they were decided;
// `listener` is null or hears the search. A device is asked once: the probe
// passes over a COM name whose device the scan has asked already.
bool FindModemPort(CommPort& port, const char* named_port, char* port_name, SearchReport* report = nullptr,
                   SearchListener* listener = nullptr);
void FindModemInRegistry(char* port_name);                    // kPortNameSize bytes
char* ReadRegistryString(std::uintptr_t key, const char* value_name, char* buffer, std::uint32_t size);

// Opens every port TheSerialBackend() lists and this build may use
// (PortAllowedInThisBuild; the others are recorded as kNotSearched) at once (each with the opening
// steps of OpenCommPort, settings kept per port), sends each "ati4\r\n" and
// waits up to kScanAnswerLimit for the first burst of every answer. The
// first port whose complete burst holds the identifier is the modem, taken
// at once (ports still silent then are left unjudged: not in the report).
// Every port is closed with its settings given back before it returns.
// `asked` (null or filled) gets the DeviceKey of every port it listed.
bool ScanListedPorts(CommPort& port, char* port_name, SearchReport* report = nullptr,
                     SearchListener* listener = nullptr, std::vector<std::string>* asked = nullptr);

// --list-ports --probe: the scan's machinery over `ports` (all at once, each
// sent "ati4\r\n", kScanAnswerLimit for all answers), waiting for every
// answer: one flag per entry, true where the answer holds the identifier.
// Ports this build may not use are left unopened (false).
std::vector<bool> ProbePortList(CommPort& port, const std::vector<PortEntry>& ports);

// The probe of COM1 to COM4 (and the further ports). Names whose DeviceKey
// is in `skip` are passed over unopened and unreported.
bool ProbeCommPorts(CommPort& port, char* port_name, SearchReport* report = nullptr,
                    SearchListener* listener = nullptr, const std::vector<std::string>* skip = nullptr);
bool IsSupportedModemAnswer(CommPort& port, Millis limit);

}  // namespace mfu
