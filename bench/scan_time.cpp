// The search for the modem among silent ports, timed: modem-sim (paced at
// 57600 bit/s, as a real modem answers) on one pseudo-terminal and two
// pseudo-terminals that never answer. The quick scan opens all three at once
// with the modem listed last, and takes the modem as soon as its answer is
// complete, without waiting out the silent ones' 3000 ms; the
// sequential probe of COM1 to COM4 waits 50 s on each silent port before it
// tries the next (measured with one silent port as COM1 and the modem as
// COM2; pass --no-probe to skip those 50 s).
//   scan_time_bench [--no-probe]
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "serial/discovery.h"
#include "serial/serial_device.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// A pseudo-terminal nobody answers on: what a port without a modem is.
struct SilentPort {
  int master = -1, slave = -1;
  std::string path;
  SilentPort() {
    char name[128] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) path = name;
  }
  ~SilentPort() {
    ::close(master);
    ::close(slave);
  }
};

// modem-sim on a pty of its own, reached through a link; ended with the bench.
struct ModemSim {
  pid_t pid = -1;
  std::string link;
  explicit ModemSim(const std::string& at) : link(at) {
    std::vector<std::string> args = {MFU_MODEM_SIM, "--link", link};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;  // its path line and log stay out of the figures
    ::posix_spawn_file_actions_init(&quiet);
    ::posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    if (::posix_spawn(&pid, MFU_MODEM_SIM, &quiet, nullptr, argv.data(), environ) != 0) pid = -1;
    ::posix_spawn_file_actions_destroy(&quiet);
    for (int i = 0; i < 100 && ::access(link.c_str(), F_OK) != 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~ModemSim() {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
};

// The platform's backend over the bench's ports: the scan lists them in the
// given order, and the probe's COM names lead to them (COM3 and COM4 to
// nothing), so that no real serial port is ever touched.
class BenchBackend final : public mfu::SerialBackend {
 public:
  BenchBackend(std::vector<std::string> listed, std::vector<std::string> com) : listed_(listed), com_(com) {}
  mfu::SerialHandle Open(const char* name) override {
    mfu::OpenFailure failure;
    return OpenPort(name, failure);
  }
  mfu::SerialHandle OpenPort(const char* name, mfu::OpenFailure& failure) override {
    std::string path = name;
    if (path.size() == 4 && path.rfind("COM", 0) == 0) {
      const std::size_t n = static_cast<std::size_t>(path[3] - '1');
      path = n < com_.size() ? com_[n] : "/nonexistent/" + path;
    }
    return mfu::PlatformSerialBackend().OpenPort(path.c_str(), failure);
  }
  std::vector<mfu::PortEntry> ListPorts() override {
    std::vector<mfu::PortEntry> ports;
    for (const std::string& path : listed_) ports.push_back(mfu::PortEntry{path, "", "", "", "", "", ""});
    return ports;
  }

 private:
  std::vector<std::string> listed_;
  std::vector<std::string> com_;
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  const bool probe = !(argc > 1 && std::strcmp(argv[1], "--no-probe") == 0);
  const std::string link = "/tmp/mfu-scan-bench-" + std::to_string(::getpid());
  SilentPort silent1, silent2;
  ModemSim modem(link);
  if (silent1.path.empty() || silent2.path.empty() || modem.pid <= 0 || ::access(link.c_str(), F_OK) != 0) {
    std::fprintf(stderr, "scan_time_bench: cannot set up the pseudo-terminals or modem-sim (%s)\n", MFU_MODEM_SIM);
    return 1;
  }

  static char port[mfu::kPortNameSize];
  mfu::CommPort comm;
  BenchBackend scan_ports({silent1.path, silent2.path, link}, {});
  mfu::SetSerialBackend(&scan_ports);
  auto start = Clock::now();
  const bool scan_found = mfu::FindModemPort(comm, nullptr, port);
  const double scan = Seconds(Clock::now() - start);
  std::printf("quick scan, modem listed after two silent ports: %s in %.2f s (goal: under 1 s)\n",
              scan_found ? port : "not found", scan);
  std::fflush(stdout);

  int status = scan_found && std::string(port) == link && scan < 1.0 ? 0 : 1;

  BenchBackend modem_first({link, silent1.path, silent2.path}, {});
  mfu::SetSerialBackend(&modem_first);
  start = Clock::now();
  const bool first_found = mfu::FindModemPort(comm, nullptr, port);
  std::printf("quick scan, modem listed first: %s in %.2f s\n", first_found ? port : "not found",
              Seconds(Clock::now() - start));
  std::fflush(stdout);
  if (probe) {
    BenchBackend probe_ports({}, {silent1.path, link});
    mfu::SetSerialBackend(&probe_ports);
    start = Clock::now();
    const bool probe_found = mfu::ProbeCommPorts(comm, port);
    const double sequential = Seconds(Clock::now() - start);
    std::printf("sequential probe, one silent port (COM1) before the modem (COM2): %s in %.2f s;\n"
                "  with two silent ports before it: about %.0f s\n",
                probe_found ? port : "not found", sequential, sequential + 50.0);
    if (!probe_found) status = 1;
  }
  mfu::SetSerialBackend(nullptr);
  return status;
}
