#include "serial/win32/working_dcb.h"

namespace mfu {

DCB BuildWorkingDcb(const DCB& saved) {
  DCB dcb = saved;
  dcb.BaudRate = 57600;
  dcb.fBinary = 1;
  dcb.fParity = 0;
  dcb.fOutxCtsFlow = 0;  // the modem's CTS never holds back what we send
  dcb.fOutxDsrFlow = 0;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fNull = 0;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  dcb.fAbortOnError = 0;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.EvtChar = 0;
  return dcb;
}

}  // namespace mfu
