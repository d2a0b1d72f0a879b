// The working line settings, built from the settings the port had before the
// program touched it: the fields the modem link needs are set, every other
// field is kept as the port had it.
#pragma once

#include <windows.h>

namespace mfu {

// 57600 bit/s, 8 data bits, no parity, 1 stop bit, binary, no parity check,
// CTS and DSR not watched for output, DTR on, RTS handshake, no XON/XOFF
// either way, no NUL stripping, no abort on error, event character 0. Kept
// from `saved`: DCBlength, fDsrSensitivity, fTXContinueOnXoff, fErrorChar,
// fDummy2, wReserved, XonLim, XoffLim, XonChar, XoffChar, ErrorChar, EofChar,
// wReserved1.
DCB BuildWorkingDcb(const DCB& saved);

}  // namespace mfu
