// The serial-device seam: one open serial port, in the terms of the Win32
// communications calls that the port code was built on (one call here for
// each of GetCommState, SetCommState, SetupComm, EscapeCommFunction, ...).
// Backends: termios (serial/posix), Win32 (serial/win32), and the simulated
// modem that runs in-process (simulator/).
//
// Threads: one thread at a time reads and one at a time writes; a read and a
// write may run at once. Close() and Purge() may be called from any thread
// while another thread is blocked in a read or a write, and end that call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace mfu {

// Error codes, numbered as on Win32. Each backend maps its platform's errors
// onto these in one function of its own.
inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNotReady = 21;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorOperationAborted = 995;
inline constexpr std::uint32_t kErrorIoIncomplete = 996;
inline constexpr std::uint32_t kErrorIoPending = 997;
inline constexpr std::uint32_t kErrorDeviceRemoved = 1617;

// Modem status bits (GetCommModemStatus).
inline constexpr std::uint32_t kMsCtsOn = 0x10;
inline constexpr std::uint32_t kMsDsrOn = 0x20;
inline constexpr std::uint32_t kMsRingOn = 0x40;
inline constexpr std::uint32_t kMsRlsdOn = 0x80;

struct IoResult {
  enum class State { kCompleted, kPending, kFailed };
  State state = State::kFailed;
  std::uint32_t count = 0;  // bytes moved so far
  std::uint32_t error = 0;  // a kError* code when kFailed
  int system_error = 0;     // errno, or the Win32 error, behind `error`; 0 when the backend has none
};

// The system's own words for a failed call, for the user ("Input/output
// error" from strerror, the Win32 message from FormatMessage): those of
// `system_error` when the backend had one, else those the system has for the
// kError* code. No line end, no closing full stop. Any thread.
std::string SystemErrorText(std::uint32_t error, int system_error);

// A port's settings (line settings, or timeouts) as the backend saves them;
// opaque to the port code, which only keeps and hands them back.
struct PortSettings {
  std::vector<std::uint8_t> bytes;
};

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;  // releases the device

  // Line settings (GetCommState / SetCommState).
  virtual bool GetState(PortSettings& state) = 0;
  virtual bool SetState(const PortSettings& state) = 0;
  // Applies the working line settings built from `saved`, field by field:
  // 57600 bit/s, 8 data bits, no parity, 1 stop bit, binary, no parity check,
  // CTS and DSR not watched for output, DTR enabled, RTS handshake, no XON/XOFF
  // in either direction, no NUL stripping, no abort on error, event char 0;
  // every other field as in `saved`.
  virtual bool ApplyWorkingState(const PortSettings& saved) = 0;

  // Timeouts (GetCommTimeouts / SetCommTimeouts).
  virtual bool GetTimeouts(PortSettings& timeouts) = 0;
  virtual bool SetTimeouts(const PortSettings& timeouts) = 0;
  // Read interval 250 ms, all else 0: a read then ends when its count is in
  // or 250 ms pass without a further byte (measured from the last byte);
  // writes have no time limit.
  virtual bool ApplyWorkingTimeouts() = 0;

  virtual bool SetupQueues(std::uint32_t input, std::uint32_t output) = 0;  // SetupComm
  virtual bool SetDtr(bool on) = 0;  // EscapeCommFunction SETDTR / CLRDTR
  // PurgeComm with TXABORT, RXABORT, TXCLEAR, RXCLEAR: drops what the driver
  // holds both ways and ends a pending read or write (kErrorOperationAborted).
  // A write that has completed counts as handed to the line: its bytes must
  // still reach the modem (the exit byte "c" is written just before the
  // close's purge). The termios backend therefore drops output only while a
  // write is pending or before its first write completed.
  virtual bool Purge() = 0;
  virtual bool ClearErrors() = 0;  // ClearCommError
  // GetCommModemStatus: kMsCtsOn, kMsDsrOn, ... in `bits`; false with `error`.
  virtual bool GetModemStatus(std::uint32_t& bits, std::uint32_t& error) = 0;

  // Starts writing `count` bytes: kCompleted when all went at once (count
  // says how many did), kPending when the rest goes in FinishWrite, kFailed
  // with an error.
  virtual IoResult StartWrite(const std::uint8_t* data, std::uint32_t count) = 0;
  // Waits without a time limit for the pending write: kCompleted with the
  // count written, or kFailed (kErrorOperationAborted after Purge or Close)
  // with the count so far.
  virtual IoResult FinishWrite() = 0;

  // The single read record of the port. StartRead arms it for at most `max`
  // bytes into `buffer` (the caller's, which must outlive the read):
  // kCompleted with the count when the read is done at once, kPending, or
  // kFailed with an error. Arming it while an earlier read is still pending
  // first ends that read: bytes it had already taken become the new read's
  // result (kCompleted at once, at most `max` of them), bytes it had not yet
  // taken stay for the new one.
  virtual IoResult StartRead(std::uint8_t* buffer, std::uint32_t max) = 0;
  // Waits up to `limit` program ms for the armed read to end (count in, or
  // the 250 ms gap after its last byte): the limit bounds the whole read, not
  // only the wait for its first byte. true when the read has completed (its
  // result is in ReadResult), false when the limit passed first, also while
  // bytes were still arriving: the read then stays pending with the bytes it
  // has, and bytes that arrive later belong to it.
  virtual bool WaitRead(Millis limit) = 0;
  // The armed read's result without waiting for a first byte (the
  // GetOverlappedResult check): kCompleted with the count (0 when no read is
  // armed), or kFailed with kErrorIoIncomplete while no byte has come, or
  // with the error that ended it. A read whose bytes have begun to arrive is
  // completed here, so its burst is taken whole.
  virtual IoResult ReadResult() = 0;

  // Closes the device: a blocked call ends, every later call fails with
  // kErrorInvalidHandle. Any thread; idempotent.
  virtual void Close() = 0;
};

using SerialHandle = std::shared_ptr<SerialDevice>;

// Why a port could not be opened, as far as the backend can tell; the
// connection procedure and the search turn it into a line for the user.
enum class OpenFailureKind {
  kNone,          // it opened
  kMissing,       // no such port (or no device behind the name)
  kNoPermission,  // the user may not open it
  kBusy,          // another program holds it
  kNotSerial,     // the name leads to something that is no serial port
  kOther,         // any other failure (the backend knows no more)
  kUnreachable,   // a network port whose server cannot be reached: `reason` says why
};

struct OpenFailure {
  OpenFailureKind kind = OpenFailureKind::kNone;
  std::uint32_t error = kErrorSuccess;  // the kError* code
  int system_error = 0;                 // errno, or the Win32 error, for the developer
  const char* reason = "";              // kUnreachable: why, German, CP1252 ("Verbindung abgelehnt"); static text
};

// A serial port the system has, as --list-ports shows it and the quick scan
// opens it. Strings are empty where the system does not know them.
struct PortEntry {
  std::string path;        // the name to open: "/dev/ttyUSB0"
  std::string stable;      // "/dev/serial/by-id/..." where one exists
  std::string driver;      // "ftdi_sio", "cdc_acm", "serial"
  std::string vendor_id;   // USB ids, four hex digits
  std::string product_id;
  std::string vendor;      // USB strings
  std::string product;
};

// A process that has a port open.
struct PortHolder {
  std::string name;  // its command name ("minicom", "ModemManager")
  int pid = 0;
  // Not a process seen holding the port, but another user's whose
  // descriptors cannot be read: the likely holder of a busy port that no
  // visible process holds. `name` and `pid` are unknown (empty, 0).
  bool other_user = false;
};

// Opens serial ports by name (CreateFileA): exclusively, for reading and
// writing. A name that does not exist, or a port another program holds,
// gives nullptr. Besides opening, a backend knows which ports exist and who
// else has one open; the platform's backends ask the system, other backends
// (the simulated modem, tests) know none unless they say so.
//
// Threads: Open and OpenPort from any thread; the look-ups run on the
// window thread (the search and the connection procedure) or in main.
class SerialBackend {
 public:
  virtual ~SerialBackend() = default;
  virtual SerialHandle Open(const char* port_name) = 0;
  // True when the name is a serial port of real hardware, as opposed to a
  // pseudo-terminal or a simulated modem; decided without opening it.
  virtual bool IsHardwarePort(const char* port_name) {
    (void)port_name;
    return false;
  }
  // The same open, saying in `failure` why it failed (kNone when it opened).
  // The default knows no reason.
  virtual SerialHandle OpenPort(const char* port_name, OpenFailure& failure);
  // The serial ports that exist, in the order the quick scan tries them
  // (Linux: USB adapters, then real UARTs). Empty where the platform's
  // search has no quick scan (Windows).
  virtual std::vector<PortEntry> ListPorts() { return {}; }
  // Processes other than this one that have `port_name` open.
  virtual std::vector<PortHolder> OtherHolders(const char*) { return {}; }
  // Who holds `port_name`, which could not be opened because it is busy: the
  // processes OtherHolders names, or, when it names none and processes of
  // other users hide their descriptors, one entry marked other_user.
  virtual std::vector<PortHolder> HoldersOfBusyPort(const char* port_name) { return OtherHolders(port_name); }
  // What tells one device from another, so that the search asks a device
  // once however many names lead to it (COM1 and /dev/ttyS0 on Linux).
  // Decided without opening it. The default takes every name as a device of
  // its own.
  virtual std::string DeviceKey(const char* port_name) { return port_name != nullptr ? port_name : ""; }
  // Whether ModemManager runs, which opens every new serial port to look for
  // modems (seen by every user, whoever runs it).
  virtual bool ModemManagerRuns() { return false; }
  // Ports to probe one by one after COM1 to COM4 (Windows: the other ports
  // the system names), in rising order.
  virtual std::vector<std::string> FurtherProbePorts() { return {}; }
};

// The platform's backend unless a test or the --simulate option has set
// another. Set it before threads start.
SerialBackend& TheSerialBackend();
void SetSerialBackend(SerialBackend* backend);

// The platform's own backend (termios, or Win32).
SerialBackend& PlatformSerialBackend();

}  // namespace mfu
