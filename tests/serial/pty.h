// A pseudo-terminal pair owned by a test: the slave side is the port under
// test, the master side the modem's end of the line.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace mfu::test {

struct Pty {
  int master = -1;
  int slave = -1;
  std::string path;

  Pty() {
    char name[128] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
    path = name;
    // Another process a test starts keeps only what it is given.
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
  }
  ~Pty() {
    if (master >= 0) ::close(master);
    if (slave >= 0) ::close(slave);
  }
  void CloseMaster() {
    ::close(master);
    master = -1;
  }
  bool Exclusive() const {
    int flag = -1;
    EXPECT_EQ(::ioctl(slave, TIOCGEXCL, &flag), 0);
    return flag != 0;
  }
  void Send(const std::string& bytes) const {
    ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // What the port wrote, waiting up to `wait` for the first byte.
  std::string Received(std::chrono::milliseconds wait = std::chrono::milliseconds(500)) const {
    std::string all;
    pollfd fd{master, POLLIN, 0};
    int timeout = static_cast<int>(wait.count());
    while (::poll(&fd, 1, timeout) > 0) {
      char chunk[4096];
      const ssize_t n = ::read(master, chunk, sizeof chunk);
      if (n <= 0) break;
      all.append(chunk, static_cast<std::size_t>(n));
      timeout = 20;
    }
    return all;
  }
  // Bytes the modem's end has sent that the port has not taken yet (a write
  // to the master reaches the slave's queue a moment later, not at once).
  int Unread() const {
    int n = 0;
    return ::ioctl(slave, FIONREAD, &n) == 0 ? n : -1;
  }
  // Waits until `done(Unread())` holds; false when it still does not after 10 s.
  template <typename Done>
  bool AwaitUnread(Done done) const {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done(Unread())) {
      if (std::chrono::steady_clock::now() > give_up) return false;
      ::usleep(1000);
    }
    return true;
  }
  termios Settings() const {
    termios tio{};
    EXPECT_EQ(::tcgetattr(master, &tio), 0);
    return tio;
  }
};

}  // namespace mfu::test
