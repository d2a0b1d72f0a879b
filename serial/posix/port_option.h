// The --port option: on Linux it stands in for the installed-modem list, as
// a list of one supported modem attached to the given device, so that the
// device is taken as it is, without a probe.
#pragma once

namespace mfu {

// The registry step reads the port into a value buffer of 32 bytes; a longer
// device name would be refused there, so the command line refuses it first.
bool PortOptionFits(const char* device);

// Installs the one-entry list as TheModemList(). Before threads start.
void UsePortOption(const char* device);

}  // namespace mfu
