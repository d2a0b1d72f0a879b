// modem-update on Linux: the Qt window by default, the console front-end with
// --console; a real serial port (found by the probe, or named by --port) or
// the built-in simulated modem (--simulate).
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/console/console_window.h"
#include "app/console/parallel_run.h"
#include "app/console/run_console.h"
#include "app/options.h"
#include "platform/diag.h"
#include "app/window_front_end.h"
#include "resources/resources.h"
#include "serial/comm_port.h"
#include "serial/discovery.h"
#include "serial/posix/port_option.h"
#include "serial/serial_device.h"
#include "ui/cp1252.h"
#include "ui/journal.h"
#include "ui/journal_store.h"
#include "simulator/simulated_modem.h"

int main(int argc, char** argv) {
  // A closed stdout or stderr (a pipe whose reader went away) must not end
  // the program mid-flash: writes to it fail instead, and are ignored.
  std::signal(SIGPIPE, SIG_IGN);
  mfu::Options options;
  std::string error;
  if (!mfu::ParseOptions(argc, argv, options, error)) {
    // The messages are German, in the text table's character set, like --help.
    const std::string text = "modem-update: " + error + "\nMehr mit 'modem-update --help'.\n";
    std::fputs((mfu::TerminalWantsUtf8() ? mfu::Cp1252ToUtf8(text) : text).c_str(), stderr);
    return mfu::kExitUsage;
  }
  // The developer diagnostics ("READ TIMEOUT", ...) are not the user's: only
  // --verbose shows them.
  if (!options.verbose) mfu::SetDiagSink([](const char*) {});
  if (options.help) {
    const std::string text = mfu::UsageText();
    std::fputs((mfu::TerminalWantsUtf8() ? mfu::Cp1252ToUtf8(text) : text).c_str(), stdout);
    return 0;
  }
  if (options.version) {
    mfu::SetResourceSource(&mfu::BuiltInResources());
    const std::string text = mfu::VersionText();
    std::fputs((mfu::TerminalWantsUtf8() ? mfu::Cp1252ToUtf8(text) : text).c_str(), stdout);
    return 0;
  }
  if (options.list_ports) {
    const std::vector<mfu::PortEntry> ports = mfu::PlatformSerialBackend().ListPorts();
    std::vector<bool> modems;
    if (options.probe) {
      // Which ports this build may open depends on its image.
      mfu::SetResourceSource(&mfu::BuiltInResources());
      mfu::CommPort comm;
      modems = mfu::ProbePortList(comm, ports);
    }
    std::fputs(mfu::PortListText(ports, options.probe ? &modems : nullptr).c_str(), stdout);
    return 0;
  }
  if (options.history) {
    const std::string text = mfu::HistoryText(mfu::SystemJournalStore());
    std::fputs((mfu::TerminalWantsUtf8() ? mfu::Cp1252ToUtf8(text) : text).c_str(), stdout);
    return 0;
  }
  for (const std::string& port : options.ports) {
    if (!mfu::PortOptionFits(port.c_str())) {
      const std::string text = "modem-update: --port: der Pfad ist l\xE4nger, als das System erlaubt\n";
      std::fputs((mfu::TerminalWantsUtf8() ? mfu::Cp1252ToUtf8(text) : text).c_str(), stderr);
      return mfu::kExitUsage;
    }
  }
  if (options.ports.size() > 1) {
    // Several modems: one run of this program per port, started before any
    // thread of this process is.
    mfu::SetResourceSource(&mfu::BuiltInResources());
    return mfu::RunParallel(options);
  }

  if (options.console) mfu::BlockInterruptSignals();
  mfu::SetResourceSource(&mfu::BuiltInResources());
  std::unique_ptr<mfu::sim::SimulatedModemBackend> simulator;
  if (options.simulate) {
    simulator = mfu::sim::MakeDefaultSimulator(/*real_line_rate=*/true);
    mfu::SetSerialBackend(simulator.get());
  }

  int status = 0;
  if (options.console) {
    status = mfu::RunConsole(options);
  } else {
    status = mfu::RunWindowFrontEnd(argc, argv, options.port);
  }
  mfu::SetSerialBackend(nullptr);
  return status;
}
