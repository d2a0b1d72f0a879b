// The --port option on Linux: the named device stands in for the installed-
// modem list, as a list of one supported modem attached to it, so that the
// device is taken as it is, without a probe.
#pragma once

namespace mfu {

// Room for "AttachedTo" in the discovery's value buffer (NUL included).
inline constexpr unsigned kPortOptionValueSize = 32;

// true when `device` is not empty and fits the value buffer (31 characters at
// most); an empty one would make the registry step find nothing, and a longer
// path would be refused by the registry step, so the command line refuses it.
bool PortOptionFits(const char* device);

// Installs, as TheModemList(), one entry: subkey "0000", "Model" "Kelvora
// 56000", "AttachedTo" `device` (copied). Call before threads start.
void UsePortOption(const char* device);

}  // namespace mfu
