// Modems behind terminal servers: the port names "rfc2217://HOST:PORT"
// (Telnet with the COM-PORT-OPTION, which carries the line settings, DTR and
// RTS and the purges to the server's serial port) and "tcp://HOST:PORT" (raw
// bytes, no line control). Both open as a SerialDevice with the read
// contract of a serial line: a read ends 250 ms after its last byte or at
// its count, a limit leaves it pending, Close and Purge end a blocked call.
//
// Ownership: OpenNetworkPort's device owns its socket and its two wake
// descriptors and releases them when the last handle goes. Threads: as every
// SerialDevice (one reader and one writer at a time; Close and Purge from
// any thread). The functions here may be called from any thread.
#pragma once

#include <string>

#include "serial/serial_device.h"

namespace mfu {

// A network port name taken apart. `host` is without the brackets of an
// IPv6 literal; `service` is the port number as written.
struct NetworkPortAddress {
  bool rfc2217 = false;  // Telnet with COM-PORT-OPTION; false: raw TCP
  std::string host;
  std::string service;
};

// True when `name` begins with "rfc2217://" or "tcp://" (letter case as
// written): the name is then a network port, well formed or not.
bool IsNetworkPortName(const char* name);

// Takes "rfc2217://HOST:PORT", "tcp://HOST:PORT" or either with "[IPV6]" as
// HOST apart. false when the name is no network port, HOST is empty, or PORT
// is not a number from 1 to 65535.
bool ParseNetworkPort(const char* name, NetworkPortAddress& address);

// How long the connection may take to come up, over all the host's
// addresses together (program ms).
inline constexpr Millis kNetworkConnectLimit = 10000;

// Resolves the host (getaddrinfo), connects to the first address that
// answers and, for rfc2217, offers BINARY both ways and COM-PORT-OPTION.
// nullptr when it fails: `failure` is then kUnreachable with `reason` set
// (German, CP1252), or kMissing for a malformed name.
SerialHandle OpenNetworkPort(const char* name, OpenFailure& failure);

}  // namespace mfu
