// The working line settings: the link's fields are set whatever the port had,
// and every other field is the port's own.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "serial/win32/working_dcb.h"

namespace mfu {
namespace {

static_assert(sizeof(DCB) == 28, "the device-control block the port saves and restores");

void ExpectLinkFields(const DCB& dcb) {
  EXPECT_EQ(dcb.BaudRate, 57600u);
  EXPECT_EQ(dcb.fBinary, 1u);
  EXPECT_EQ(dcb.fParity, 0u);
  EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
  EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
  EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
  EXPECT_EQ(dcb.fOutX, 0u);
  EXPECT_EQ(dcb.fInX, 0u);
  EXPECT_EQ(dcb.fNull, 0u);
  EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
  EXPECT_EQ(dcb.fAbortOnError, 0u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(dcb.EvtChar, 0);
}

TEST(Win32WorkingDcb, AllBitsSetKeepsThePortsOtherFields) {
  DCB saved;
  std::memset(&saved, 0xFF, sizeof saved);
  saved.DCBlength = sizeof(DCB);
  const DCB working = BuildWorkingDcb(saved);
  ExpectLinkFields(working);
  EXPECT_EQ(working.DCBlength, 28u);
  EXPECT_EQ(working.fDsrSensitivity, 1u);
  EXPECT_EQ(working.fTXContinueOnXoff, 1u);
  EXPECT_EQ(working.fErrorChar, 1u);
  EXPECT_EQ(working.fDummy2, 0x1FFFFu);
  EXPECT_EQ(working.wReserved, 0xFFFF);
  EXPECT_EQ(working.XonLim, 0xFFFF);
  EXPECT_EQ(working.XoffLim, 0xFFFF);
  EXPECT_EQ(working.XonChar, '\xFF');
  EXPECT_EQ(working.XoffChar, '\xFF');
  EXPECT_EQ(working.ErrorChar, '\xFF');
  EXPECT_EQ(working.EofChar, '\xFF');
  EXPECT_EQ(working.wReserved1, 0xFFFF);
}

TEST(Win32WorkingDcb, AllZeroGetsOnlyTheLinkFields) {
  DCB saved;
  std::memset(&saved, 0, sizeof saved);
  const DCB working = BuildWorkingDcb(saved);
  ExpectLinkFields(working);
  EXPECT_EQ(working.DCBlength, 0u);
  EXPECT_EQ(working.fDsrSensitivity, 0u);
  EXPECT_EQ(working.fTXContinueOnXoff, 0u);
  EXPECT_EQ(working.fErrorChar, 0u);
  EXPECT_EQ(working.XonLim, 0);
  EXPECT_EQ(working.XonChar, 0);
  EXPECT_EQ(working.EofChar, 0);
}

TEST(Win32WorkingDcb, TypicalPortSettingsChangeOnlyTheLinkFields) {
  DCB saved{};
  saved.DCBlength = sizeof(DCB);
  saved.BaudRate = 9600;
  saved.fBinary = 1;
  saved.fParity = 1;
  saved.Parity = EVENPARITY;
  saved.ByteSize = 7;
  saved.StopBits = TWOSTOPBITS;
  saved.fOutX = 1;
  saved.fInX = 1;
  saved.fOutxCtsFlow = 1;
  saved.fDtrControl = DTR_CONTROL_HANDSHAKE;
  saved.fRtsControl = RTS_CONTROL_TOGGLE;
  saved.XonChar = 0x11;
  saved.XoffChar = 0x13;
  saved.XonLim = 2048;
  saved.XoffLim = 512;
  saved.EvtChar = 0x7E;
  saved.fDsrSensitivity = 1;
  const DCB working = BuildWorkingDcb(saved);
  ExpectLinkFields(working);
  EXPECT_EQ(working.XonChar, 0x11);
  EXPECT_EQ(working.XoffChar, 0x13);
  EXPECT_EQ(working.XonLim, 2048);
  EXPECT_EQ(working.XoffLim, 512);
  EXPECT_EQ(working.fDsrSensitivity, 1u);
  // Setting a field must not disturb its neighbours in the bit field word.
  DCB expected = saved;
  expected.BaudRate = working.BaudRate;
  expected.fParity = 0;
  expected.fOutxCtsFlow = 0;
  expected.fOutX = 0;
  expected.fInX = 0;
  expected.fDtrControl = DTR_CONTROL_ENABLE;
  expected.fRtsControl = RTS_CONTROL_HANDSHAKE;
  expected.ByteSize = 8;
  expected.Parity = NOPARITY;
  expected.StopBits = ONESTOPBIT;
  expected.EvtChar = 0;
  EXPECT_EQ(std::memcmp(&expected, &working, sizeof(DCB)), 0);
}

}  // namespace
}  // namespace mfu
