// The Linux stand-ins for the installed-modem list: none at all, or the port
// of --port; the --list-ports text; and why the termios backend could not
// open a port, on pseudo-terminals and plain files (never a real port).
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "serial/discovery.h"
#include "serial/modem_list.h"
#include "serial/posix/port_option.h"
#include "serial/posix/posix_ports.h"
#include "serial/serial_device.h"
#include "tests/serial/pty.h"
#include "tests/support/fake_serial.h"

namespace mfu {
namespace {

using test::Pty;

class PosixListTest : public ::testing::Test {
 protected:
  // COM1 to COM4 go to fake ports only, should a probe ever run here.
  void SetUp() override { SetSerialBackend(&backend_); }
  void TearDown() override {
    SetModemList(nullptr);
    SetSerialBackend(nullptr);
    EXPECT_TRUE(backend_.Opened().empty());
  }
  test::FakeSerialBackend backend_;
  char port_[kPortNameSize] = {'X', 'X', '\0'};
};

TEST_F(PosixListTest, LinuxHasNoInstalledModems) {
  SetModemList(nullptr);
  KeyHandle key = 0;
  EXPECT_FALSE(TheModemList().OpenList(key));
  FindModemInRegistry(port_);
  EXPECT_STREQ(port_, "");
}

TEST_F(PosixListTest, PortOptionTakesAnyPathUpToThePathLimit) {
  EXPECT_TRUE(PortOptionFits("/dev/pts/3"));
  EXPECT_TRUE(PortOptionFits(std::string(kPortNameSize - 1, 'p').c_str()));
  EXPECT_FALSE(PortOptionFits(std::string(kPortNameSize, 'p').c_str()));
  EXPECT_FALSE(PortOptionFits(""));
  EXPECT_FALSE(PortOptionFits(nullptr));
}

TEST_F(PosixListTest, PortOptionIsTakenAsItIsWithoutAProbe) {
  const std::string by_id = "/dev/serial/by-id/usb-KELVORA_56000_Modem_A1B2C3-if00-port0";
  CommPort comm;
  EXPECT_TRUE(FindModemPort(comm, by_id.c_str(), port_));  // a probe would open COM1 and fail here
  EXPECT_EQ(std::string(port_), by_id);

  const std::string longest(kPortNameSize - 1, 'q');
  EXPECT_TRUE(FindModemPort(comm, longest.c_str(), port_));
  EXPECT_EQ(std::string(port_), longest);
}

TEST_F(PosixListTest, PortListHasOneLineAPortAndSaysWhenThereIsNone) {
  EXPECT_EQ(PortListText({}), "No serial ports found.\n");
  const std::vector<PortEntry> ports = {
      {"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0", "ftdi_sio", "0403", "6001", "FTDI",
       "FT232R USB UART"},
      {"/dev/ttyS0", "", "serial", "", "", "", ""}};
  EXPECT_EQ(PortListText(ports),
            "/dev/ttyUSB0  /dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0  driver ftdi_sio  usb 0403:6001  FTDI  "
            "FT232R USB UART\n"
            "/dev/ttyS0  driver serial\n");
}


struct Fd {
  int fd;
  ~Fd() { ::close(fd); }
};

// Another process that keeps `fds` open (and, with `lock`, the first one
// locked) as "sleep", until the test ends it.
class Holder {
 public:
  Holder(std::vector<int> fds, bool lock) {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      for (int fd : fds) ::fcntl(fd, F_SETFD, 0);  // kept across the exec
      if (lock && ::flock(fds.front(), LOCK_EX | LOCK_NB) != 0) ::_exit(3);
      ::execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
      ::_exit(4);
    }
    ::close(ready[1]);
    char byte = 0;
    (void)!::read(ready[0], &byte, 1);  // end of file once the exec is done
    ::close(ready[0]);
  }
  ~Holder() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;
  int Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// The open of `path` as an unprivileged user (in a child when we are root).
OpenFailureKind OpenAsUser(const std::string& path) {
  if (::geteuid() != 0) {
    OpenFailure failure;
    (void)PlatformSerialBackend().OpenPort(path.c_str(), failure);
    return failure.kind;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(100);
    OpenFailure failure;
    (void)PlatformSerialBackend().OpenPort(path.c_str(), failure);
    ::_exit(static_cast<int>(failure.kind));
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? static_cast<OpenFailureKind>(WEXITSTATUS(status)) : OpenFailureKind::kOther;
}

TEST(TermiosOpenFailure, EachFailureSaysWhyAndABusyPortNamesItsHolder) {
  char dir[] = "/tmp/mfu-ports.XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/regular";
  std::ofstream(file) << "no port";
  Pty locked, unlocked, no_access, far_end;
  ASSERT_FALSE(far_end.path.empty());
  ASSERT_EQ(::chmod(no_access.path.c_str(), 0), 0);
  const Fd locked_fd{::open(locked.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)};
  const Fd unlocked_fd{::open(unlocked.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)};
  const Holder locker({locked_fd.fd}, true);
  const Holder sharer({unlocked_fd.fd}, false);
  // modem-sim's way: one process holds both ends; it is the modem, no rival.
  const Holder modem({far_end.master, far_end.slave}, false);

  struct Case {
    std::string path;
    OpenFailureKind kind;
  };
  for (const Case& c : {Case{std::string(dir) + "/missing", OpenFailureKind::kMissing},
                        Case{file, OpenFailureKind::kNotSerial}, Case{dir, OpenFailureKind::kNotSerial},
                        Case{locked.path, OpenFailureKind::kBusy}, Case{unlocked.path, OpenFailureKind::kNone},
                        Case{far_end.path, OpenFailureKind::kNone}}) {
    OpenFailure failure;
    SerialHandle port = PlatformSerialBackend().OpenPort(c.path.c_str(), failure);
    EXPECT_EQ(failure.kind, c.kind) << c.path;
    EXPECT_EQ(port != nullptr, c.kind == OpenFailureKind::kNone) << c.path;
  }
  EXPECT_EQ(OpenAsUser(no_access.path), OpenFailureKind::kNoPermission);

  const auto holders = PlatformSerialBackend().OtherHolders(locked.path.c_str());
  ASSERT_EQ(holders.size(), 1u);
  EXPECT_EQ(holders[0].name, "sleep");
  EXPECT_EQ(holders[0].pid, locker.Pid());
  const std::string link = std::string(dir) + "/usb-KELVORA_56000-if00-port0";  // a by-id style name
  ASSERT_EQ(::symlink(unlocked.path.c_str(), link.c_str()), 0);
  ASSERT_EQ(PlatformSerialBackend().OtherHolders(link.c_str()).size(), 1u);
  EXPECT_EQ(PlatformSerialBackend().OtherHolders(link.c_str())[0].pid, sharer.Pid());
  EXPECT_TRUE(PlatformSerialBackend().OtherHolders(far_end.path.c_str()).empty());
  ::unlink(link.c_str());
  ::unlink(file.c_str());
  ::rmdir(dir);
}

// A /proc tree of our own: ModemManager runs as another user (its fd list
// unreadable), minicom holds the port. Read as an unprivileged user (in a
// child when we are root, as the permissions do not bind root).
TEST(PortHolders, AnotherUsersProcessesAreCountedAndModemManagerIsSeenByName) {
  char dir[] = "/tmp/mfu-proc.XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  ASSERT_EQ(::chmod(dir, 0755), 0);
  const std::string root = dir;
  Pty port, other;
  ASSERT_FALSE(port.path.empty());
  const auto process = [&](const std::string& pid, const std::string& comm) {
    ::mkdir((root + "/" + pid).c_str(), 0755);
    ::mkdir((root + "/" + pid + "/fd").c_str(), 0755);
    std::ofstream(root + "/" + pid + "/comm") << comm << "\n";
  };
  process("812", "ModemManager");
  process("4242", "minicom");
  process("4300", "bash");
  ASSERT_EQ(::symlink(port.path.c_str(), (root + "/4242/fd/3").c_str()), 0);
  ASSERT_EQ(::symlink(other.path.c_str(), (root + "/4300/fd/0").c_str()), 0);
  ::mkdir((root + "/self").c_str(), 0755);  // not a process: no number
  ASSERT_EQ(::chmod((root + "/812/fd").c_str(), 0), 0);

  // Bit 0: ModemManager runs; 1: exactly minicom holds the port; 2: the
  // other pty has no holder besides bash; 3: hidden processes are told;
  // 4: a name is matched whole.
  const auto look = [&] {
    int seen = 0;
    if (ProcessRuns("ModemManager", root)) seen |= 1;
    bool hidden = false;
    const auto holders = FindOtherHolders(port.path, root, &hidden);
    if (holders.size() == 1 && holders[0].name == "minicom" && holders[0].pid == 4242) seen |= 2;
    const auto others = FindOtherHolders(other.path, root);
    if (others.size() == 1 && others[0].name == "bash") seen |= 4;
    if (hidden) seen |= 8;
    if (!ProcessRuns("ModemManage", root) && !ProcessRuns("modemmanager", root)) seen |= 16;
    return seen;
  };
  int seen = -1;
  if (::geteuid() != 0) {
    seen = look();
  } else {
    const pid_t child = ::fork();
    if (child == 0) {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(100);
      ::_exit(look());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    seen = WEXITSTATUS(status);
  }
  EXPECT_EQ(seen, 31);
  // Readable by us all along: nothing hidden.
  ASSERT_EQ(::chmod((root + "/812/fd").c_str(), 0755), 0);
  bool hidden = true;
  EXPECT_EQ(FindOtherHolders(port.path, root, &hidden).size(), 1u);
  EXPECT_FALSE(hidden);
  EXPECT_FALSE(ProcessRuns("ModemManager", root + "/missing"));
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace mfu
