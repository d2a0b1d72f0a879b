// The modem-sim program on its pseudo-terminal: with lrzsz's rz as the
// receiver (a receiver no one here wrote), a scripted stop-and-wait sender
// gets a file byte-identical to the one it sent, and rz's answers match the
// header bytes the simulator's own receiver sends.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "mfu/version.h"
#include "simulator/modem_model.h"

namespace mfu::sim {
namespace {

using Clock = std::chrono::steady_clock;

Bytes Of(const std::string& s) { return Bytes(s.begin(), s.end()); }
std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }
Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

bool HaveRz() { return std::system("command -v rz >/dev/null 2>&1") == 0; }

std::string TempDir() {
  char tmpl[] = "/tmp/modem-sim-test-XXXXXX";
  return mkdtemp(tmpl);
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// modem-sim as a child process, its stdout on a pipe.
class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv;
      static std::string program = MFU_MODEM_SIM_PATH;
      argv.push_back(program.data());
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    std::string line;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    path_ = line;
  }
  ~SimProcess() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& path() const { return path_; }
  // The exit status, waiting at most `seconds`; -1 when it did not end.
  int Wait(int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      usleep(50'000);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  std::string path_;
};

// The tool's side of the line: the pty slave, raw.
class Line {
 public:
  explicit Line(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {
    termios t{};
    if (fd_ >= 0 && tcgetattr(fd_, &t) == 0) {
      cfmakeraw(&t);
      tcsetattr(fd_, TCSANOW, &t);
    }
  }
  ~Line() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  void Write(const Bytes& bytes) { ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }
  // Reads until `count` bytes are in, `gap_ms` pass after a byte, or
  // `limit_ms` pass in all. `closed` tells whether the line went away.
  Bytes Read(std::size_t count, int limit_ms, int gap_ms = 250, bool* closed = nullptr) {
    Bytes got;
    const auto end = Clock::now() + std::chrono::milliseconds(limit_ms);
    while (got.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
      if (left <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      const int r = poll(&p, 1, static_cast<int>(got.empty() ? left : std::min<long>(left, gap_ms)));
      if (r <= 0) {
        if (!got.empty()) break;
        continue;
      }
      std::uint8_t buffer[4096];
      const ssize_t n = read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
      if (n <= 0) {
        if (closed) *closed = true;
        break;
      }
      got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }

 private:
  int fd_;
};

Bytes TestImage(std::size_t size) {
  Bytes image(size);
  for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>((i * 13 + i / 256) & 0xFF);
  // The byte pairs whose escaping is easy to get wrong.
  const Bytes tricky = {0x40, 0x0D, 0x18, 0x11, 0x13, 0x91, 0x93, 0xC0, 0x8D, 0x7F, 0xFF, 0x00};
  std::copy(tricky.begin(), tricky.end(), image.begin() + 100);
  return image;
}

Bytes FileInfo(std::size_t size) {
  Bytes block(128, 0);
  const std::string name = "bc2780ix.bin";
  const std::string text = std::to_string(size) + " 6610700432 100666 ";
  std::copy(name.begin(), name.end(), block.begin());
  std::copy(text.begin(), text.end(), block.begin() + static_cast<std::ptrdiff_t>(name.size()) + 1);
  return block;
}

Bytes HexOf(std::uint8_t type, std::uint32_t pos = 0) { return EncodeHexHeader(Header::WithPosition(type, pos)); }

// What modem-sim prints on stdout with `options`; its exit status in `status`.
std::string SimOutput(const std::string& options, int& status) {
  const std::string cmd = std::string(MFU_MODEM_SIM_PATH) + " " + options;
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) {
    status = -1;
    return {};
  }
  std::string text;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, p)) text += buffer;
  status = pclose(p);
  return text;
}

TEST(ModemSimProgram, HelpDocumentsEveryOption) {
  int status = -1;
  const std::string text = SimOutput("--help", status);
  EXPECT_EQ(status, 0);
  for (const char* option : {"--link", "--fast", "--flash-ms", "--final-ms", "--image", "--name", "--date", "--rz",
                             "--rz-dir", "--fault", "--log", "--once", "--help", "--version"}) {
    EXPECT_NE(text.find(std::string("  ") + option), std::string::npos) << option;
  }
  for (const char* kind : {"silence", "late", "garbage", "znak", "zrpos", "binary", "crc", "dsr-off", "lines-off",
                           "status-fails", "hangup", "no-success", "nul"}) {
    EXPECT_NE(text.find(kind), std::string::npos) << kind;
  }
  EXPECT_NE(text.find("no status lines"), std::string::npos);
}

TEST(ModemSimProgram, VersionIsTheProjectsOne) {
  int status = -1;
  EXPECT_EQ(SimOutput("--version", status), std::string("modem-sim ") + kProgramVersion + "\n");
  EXPECT_EQ(status, 0);
}

TEST(ModemSimProgram, RealRzReceivesAByteIdenticalFile) {
  if (!HaveRz()) GTEST_SKIP() << "rz (lrzsz) is not installed";
  const std::string dir = TempDir();
  const Bytes image = TestImage(3000);
  WriteFile(dir + "/image.bin", image);
  const std::string rz_dir = dir + "/rz";
  // Paced at 57600 bit/s, so the paced hand-over to rz is what is tested.
  SimProcess sim({"--rz", "--flash-ms", "0", "--once", "--final-ms", "100", "--image", dir + "/image.bin", "--rz-dir", rz_dir,
                  "--log", dir + "/sim.log"});
  ASSERT_FALSE(sim.path().empty());
  Line line(sim.path());
  ASSERT_TRUE(line.ok());

  line.Write(Of("ati4\r\n"));
  EXPECT_NE(Str(line.Read(4096, 5000)).find("QVRLMAZZ"), std::string::npos);
  line.Write(Of("at@d\r\n"));
  EXPECT_FALSE(line.Read(4096, 5000).empty());
  line.Write(Of("a\r\n"));
  EXPECT_NE(Str(line.Read(4096, 5000)).find("Modem-Update"), std::string::npos);

  const Bytes rinit = EncodeHexHeader(ModemModel::RinitHeader());
  line.Write(Of("b"));
  // rz's unprompted ZRINIT is the answer to "b".
  EXPECT_EQ(line.Read(21, 10000), rinit);
  line.Write(HexOf(zm::kRqinit));
  EXPECT_EQ(line.Read(21, 10000), rinit);
  const Bytes info = FileInfo(image.size());
  line.Write(Cat(EncodeBinaryHeader(Header::WithPosition(zm::kFile, 0)), EncodeSubpacket(info.data(), 128, zm::kCrcW)));
  EXPECT_EQ(line.Read(21, 10000), HexOf(zm::kRpos, 0));
  for (std::uint32_t pos = 0; pos < image.size(); pos += 512) {
    const std::size_t len = std::min<std::size_t>(512, image.size() - pos);
    line.Write(Cat(EncodeBinaryHeader(Header::WithPosition(zm::kData, pos)),
                   EncodeSubpacket(image.data() + pos, len, zm::kCrcW)));
    // rz's ZACK is the simulator's 20 bytes plus an XON.
    EXPECT_EQ(line.Read(21, 10000), Cat(HexOf(zm::kAck, static_cast<std::uint32_t>(pos + len)), {zm::kXon}))
        << "block at " << pos;
  }
  line.Write(EncodeBinaryHeader(Header::WithPosition(zm::kEof, static_cast<std::uint32_t>(image.size()))));
  EXPECT_EQ(line.Read(21, 10000), rinit);
  line.Write(HexOf(zm::kFin));
  EXPECT_EQ(line.Read(21, 10000), HexOf(zm::kFin));  // 20 bytes, as the simulator sends it
  line.Write(Of("OO"));
  const std::string final_answer = Str(line.Read(4096, 20000, 1000));
  EXPECT_NE(final_answer.find("erfolgreich"), std::string::npos) << final_answer;
  EXPECT_EQ(sim.Wait(20), 0);
  EXPECT_EQ(ReadFile(rz_dir + "/bc2780ix.bin"), image);
  std::system(("rm -rf " + dir).c_str());
}

TEST(ModemSimProgram, ModelModeAnswersLikeRzAndHangsUpOnRequest) {
  const std::string dir = TempDir();
  const Bytes image = TestImage(2000);
  WriteFile(dir + "/image.bin", image);
  SimProcess sim({"--fast", "--once", "--image", dir + "/image.bin", "--fault", "zdata:hangup:2", "--log",
                  dir + "/sim.log"});
  Line line(sim.path());
  ASSERT_TRUE(line.ok());
  line.Write(Of("at@d\r\n"));
  line.Read(4096, 5000);
  line.Write(Of("a\r\n"));
  line.Read(4096, 5000);
  line.Write(Of("b"));
  EXPECT_FALSE(line.Read(4096, 5000).empty());
  line.Write(HexOf(zm::kRqinit));
  EXPECT_EQ(line.Read(21, 5000), EncodeHexHeader(ModemModel::RinitHeader()));
  const Bytes info = FileInfo(image.size());
  line.Write(Cat(EncodeBinaryHeader(Header::WithPosition(zm::kFile, 0)), EncodeSubpacket(info.data(), 128, zm::kCrcW)));
  EXPECT_EQ(line.Read(21, 5000), HexOf(zm::kRpos, 0));
  line.Write(Cat(EncodeBinaryHeader(Header::WithPosition(zm::kData, 0)), EncodeSubpacket(image.data(), 512, zm::kCrcW)));
  EXPECT_EQ(line.Read(21, 5000), HexOf(zm::kAck, 512));  // 20 bytes: the read ends on the gap
  line.Write(
      Cat(EncodeBinaryHeader(Header::WithPosition(zm::kData, 512)), EncodeSubpacket(image.data() + 512, 512, zm::kCrcW)));
  bool closed = false;
  EXPECT_TRUE(line.Read(21, 5000, 250, &closed).empty());
  EXPECT_TRUE(closed);
  EXPECT_EQ(sim.Wait(10), 1);
  const std::string log = Str(ReadFile(dir + "/sim.log"));
  EXPECT_NE(log.find("hang"), std::string::npos);
  std::system(("rm -rf " + dir).c_str());
}

}  // namespace
}  // namespace mfu::sim
