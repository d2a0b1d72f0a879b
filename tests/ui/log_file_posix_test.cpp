// The export through the POSIX file seam: the bytes on disk, appending,
// permissions, and the failures of real files (no parent, a directory, a
// reader-less FIFO, a full device).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/local_time.h"
#include "tests/support/recording_window.h"
#include "ui/log_export.h"
#include "ui/journal.h"
#include "ui/journal_store.h"
#include "ui/log_file.h"
#include "ui/window.h"

namespace mfu {
namespace {

using namespace std::string_literals;

int OpenDescriptors() {
  int n = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (::readdir(dir) != nullptr) ++n;
  ::closedir(dir);
  return n;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

class PosixLogFileTest : public ::testing::Test {
 protected:
  LogExport export_;
  void SetUp() override {
    char pattern[] = "/tmp/mfu_log_export_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    SetLogFileSystem(nullptr);
    SetMainDialog(&window_);
    SetLocalTimeForTest(&kTime);
  }
  void TearDown() override {
    SetMainDialog(nullptr);
    SetLocalTimeForTest(nullptr);
    const std::string command = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }

  // The next dialog chooses `path` as the user typed it.
  void NextChoice(const std::string& path) {
    window_.SetFileChooser([path](FileDialogRequest& request) {
      if (path.size() + 1 > request.file_capacity) return false;
      std::memcpy(request.file, path.c_str(), path.size() + 1);
      return true;
    });
  }

  static constexpr LocalTime kTime{2026, 12, 7, 7, 5, 9};
  std::string dir_;
  test::RecordingWindow window_;
};

// The first block of a file, as it must stand on disk byte for byte.
const std::string kFirstBlock =
    "\r\r\nNorda Modem-Update-Log 12.07.2026 07:05:09  >>>>\r\n"
    "Modem-Update Tool startet.\r\r\n"
    "\r\r\nUpdate l\xE4uft ...\r\r\n"
    "\r\n ------ <<<<\r\n"s;

TEST_F(PosixLogFileTest, WholeFileByteForByte) {
  window_.AppendLog("Modem-Update Tool startet.\r\n");
  window_.AppendLog("\r\nUpdate l\xE4uft ...\r\n");
  const std::string path = dir_ + "/update.hlg";
  NextChoice(path);
  export_.OnSaveLog();
  const std::string bytes = ReadFile(path);
  EXPECT_EQ(bytes, kFirstBlock);
  EXPECT_TRUE(window_.Notices().empty());
  // No byte-order mark, no NUL; the umlaut is its single ANSI byte.
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0x0Du);
  EXPECT_EQ(bytes.find('\0'), std::string::npos);
  const std::size_t umlaut = bytes.find("Update l") + 8;
  EXPECT_EQ(static_cast<unsigned char>(bytes[umlaut]), 0xE4u);
  EXPECT_NE(bytes.find("startet.\x0D\x0D\x0A"), std::string::npos);
}

TEST_F(PosixLogFileTest, TwoExportsAppendTwoBlocks) {
  window_.AppendLog("Modem-Update Tool startet.\r\n");
  window_.AppendLog("\r\nUpdate l\xE4uft ...\r\n");
  const std::string path = dir_ + "/update.hlg";
  NextChoice(path);
  export_.OnSaveLog();
  window_.AppendLog("\r\nUpdate ist erfolgreich abgeschlossen!\r\n");
  NextChoice(path);
  export_.OnSaveLog();
  const std::string second =
      "\r\r\nNorda Modem-Update-Log 12.07.2026 07:05:09  >>>>\r\n"
      "Modem-Update Tool startet.\r\r\n"
      "\r\r\nUpdate l\xE4uft ...\r\r\n"
      "\r\r\nUpdate ist erfolgreich abgeschlossen!\r\r\n"
      "\r\n ------ <<<<\r\n"s;
  EXPECT_EQ(ReadFile(path), kFirstBlock + second);
}

TEST_F(PosixLogFileTest, ExistingFileIsExtendedNeverTruncated) {
  const std::string path = dir_ + "/old.hlg";
  {
    std::ofstream out(path, std::ios::binary);
    out << "earlier run\r\n";
  }
  ::chmod(path.c_str(), 0644);
  window_.AppendLog("Modem-Update Tool startet.\r\n");
  window_.AppendLog("\r\nUpdate l\xE4uft ...\r\n");
  NextChoice(path);
  export_.OnSaveLog();
  EXPECT_EQ(ReadFile(path), "earlier run\r\n" + kFirstBlock);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);  // an existing file keeps its mode
}

TEST_F(PosixLogFileTest, NewFileIsOwnerReadWriteOnly) {
  const mode_t old = ::umask(0);
  const std::string path = dir_ + "/new.hlg";
  NextChoice(path);
  export_.OnSaveLog();
  ::umask(old);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(PosixLogFileTest, NameWithoutExtensionCreatesExactlyThatFile) {
  NextChoice(dir_ + "/mylog");
  export_.OnSaveLog();
  EXPECT_TRUE(Exists(dir_ + "/mylog"));
  EXPECT_FALSE(Exists(dir_ + "/mylog.hlg"));
  EXPECT_FALSE(Exists(dir_ + "/mylog.log"));
  DIR* dir = ::opendir(dir_.c_str());
  ASSERT_NE(dir, nullptr);
  std::vector<std::string> names;
  while (dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  EXPECT_EQ(names, std::vector<std::string>{"mylog"});
}

TEST_F(PosixLogFileTest, MissingParentShowsNotice19AndCreatesNothing) {
  const std::string path = dir_ + "/no/such/folder/update.hlg";
  NextChoice(path);
  export_.OnSaveLog();
  EXPECT_EQ(window_.Notices(), std::vector<std::string>{"Diese Log-Datei kann nicht ge\xF6" "ffnet werden"});
  EXPECT_FALSE(Exists(dir_ + "/no"));
  EXPECT_EQ(std::string(export_.LastLogPath()), path);
}

TEST_F(PosixLogFileTest, DirectoryAsPathShowsNotice19) {
  NextChoice(dir_);
  export_.OnSaveLog();
  EXPECT_EQ(window_.Notices(), std::vector<std::string>{"Diese Log-Datei kann nicht ge\xF6" "ffnet werden"});
  EXPECT_EQ(std::string(export_.LastLogPath()), dir_);
}

TEST_F(PosixLogFileTest, FifoWithoutReaderDoesNotHoldTheWindow) {
  const std::string path = dir_ + "/fifo";
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  NextChoice(path);
  const auto start = std::chrono::steady_clock::now();
  export_.OnSaveLog();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(window_.Notices(), std::vector<std::string>{"Diese Log-Datei kann nicht ge\xF6" "ffnet werden"});
}

TEST_F(PosixLogFileTest, FullDeviceShowsNotice20) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  window_.AppendLog("Modem-Update Tool startet.\r\n");
  NextChoice("/dev/full");
  export_.OnSaveLog();
  EXPECT_EQ(window_.Notices(), std::vector<std::string>{"Die Log-Datei konnte nicht vollst\xE4ndig geschrieben werden"});
  EXPECT_STREQ(export_.LastLogPath(), "/dev/full");
}

TEST_F(PosixLogFileTest, NoDescriptorOutlivesAnExport) {
  const int before = OpenDescriptors();
  ASSERT_GT(before, 0);
  NextChoice(dir_ + "/a.hlg");
  export_.OnSaveLog();
  NextChoice(dir_ + "/missing/a.hlg");
  export_.OnSaveLog();
  if (::access("/dev/full", W_OK) == 0) {
    NextChoice("/dev/full");
    export_.OnSaveLog();
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(PosixLogFileTest, LargePaneConvertsEveryLineFeedAcrossChunks) {
  // Line feeds on both sides of the sink's 4096-byte chunks, runs of them.
  std::string pane;
  std::string expected_pane;
  for (int i = 0; i < 3000; ++i) {
    const std::string piece = (i % 7 == 0) ? "\n\n\n" : (i % 3 == 0 ? "ab\r\n" : "xyz\xE4\n");
    pane += piece;
  }
  for (char c : pane) {
    if (c == '\n') expected_pane += '\r';
    expected_pane += c;
  }
  std::string error;
  const std::string path = dir_ + "/big.hlg";
  ASSERT_TRUE(AppendLogBlock(path.c_str(), pane, &error)) << error;
  EXPECT_EQ(ReadFile(path),
            "\r\r\nNorda Modem-Update-Log 12.07.2026 07:05:09  >>>>\r\n" + expected_pane + "\r\n ------ <<<<\r\n");
}

TEST_F(PosixLogFileTest, ThreeHundredCharacterPathThroughTheConsoleCall) {
  // Components below NAME_MAX, the whole path 300 characters: longer than
  // the dialog's field, fine for the console front-end's own path.
  std::string path = dir_;
  while (path.size() < 300 - 101) {
    path += "/" + std::string(99, 'd');
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0) << path;
  }
  path += "/" + std::string(300 - path.size() - 1, 'f');
  ASSERT_EQ(path.size(), 300u);
  std::string error;
  ASSERT_TRUE(AppendLogBlock(path.c_str(), "x\r\n", &error)) << error;
  EXPECT_EQ(ReadFile(path),
            "\r\r\nNorda Modem-Update-Log 12.07.2026 07:05:09  >>>>\r\nx\r\r\n\r\n ------ <<<<\r\n"s);
  // The dialog cannot hand back such a path (its field holds 255): the
  // export treats that as no choice and stays within its buffers.
  NextChoice(path);
  export_.OnSaveLog();
  EXPECT_STREQ(export_.LastLogPath(), "");
  EXPECT_TRUE(window_.Notices().empty());
}

TEST_F(PosixLogFileTest, SinkConvertsAndReportsEachStep) {
  const std::string path = dir_ + "/direct.txt";
  std::unique_ptr<LogFile> file = SystemLogFiles().OpenForAppend(path.c_str());
  ASSERT_TRUE(file);
  EXPECT_TRUE(file->Write("a\nb\r\n", 5));
  EXPECT_TRUE(file->Write("", 0));
  EXPECT_TRUE(file->Close());
  EXPECT_TRUE(file->Close());            // a second close does nothing
  EXPECT_FALSE(file->Write("c", 1));     // closed: nothing more reaches it
  EXPECT_EQ(ReadFile(path), "a\r\nb\r\r\n");
  EXPECT_EQ(SystemLogFiles().OpenForAppend(""), nullptr);
  EXPECT_EQ(SystemLogFiles().OpenForAppend(nullptr), nullptr);
}


// The journal's folder on POSIX: created for the owner alone, files 0600 and
// never shared, each append on disk at once; a folder that cannot be made is
// a reason, not a crash. XDG_STATE_HOME points into the test's own folder.
class PosixJournalStoreTest : public PosixLogFileTest {
 protected:
  void SetUp() override {
    PosixLogFileTest::SetUp();
    const char* old = std::getenv("XDG_STATE_HOME");
    had_ = old != nullptr;
    if (had_) old_ = old;
  }
  void TearDown() override {
    if (had_) {
      ::setenv("XDG_STATE_HOME", old_.c_str(), 1);
    } else {
      ::unsetenv("XDG_STATE_HOME");
    }
    PosixLogFileTest::TearDown();
  }
  bool had_ = false;
  std::string old_;
};

TEST_F(PosixJournalStoreTest, CreatesPrivateFoldersAndFilesAndWritesThrough) {
  ASSERT_EQ(::setenv("XDG_STATE_HOME", (dir_ + "/a/b").c_str(), 1), 0);
  JournalStore& store = SystemJournalStore();
  std::string path, why;
  std::unique_ptr<JournalFile> file = store.Create("run.log", path, why);
  ASSERT_NE(file, nullptr) << why;
  EXPECT_EQ(path, dir_ + "/a/b/modem-update/run.log");
  struct stat st {};
  ASSERT_EQ(::stat((dir_ + "/a/b/modem-update").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(::stat((dir_ + "/a").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_TRUE(file->Append("eins\n", 5));
  EXPECT_EQ(ReadFile(path), "eins\n");  // on disk while the file is open
  std::string other_path, other_why;
  EXPECT_EQ(store.Create("run.log", other_path, other_why), nullptr);  // never another run's file
  EXPECT_NE(other_why.find(path), std::string::npos) << other_why;
  std::string content;
  ASSERT_TRUE(store.Read("run.log", content));
  EXPECT_EQ(content, "eins\n");
  EXPECT_EQ(store.List(), std::vector<std::string>{"run.log"});
}

TEST_F(PosixJournalStoreTest, AFolderThatCannotBeMadeGivesItsReason) {
  const std::string blocker = dir_ + "/datei";
  { std::ofstream(blocker) << "x"; }
  ASSERT_EQ(::setenv("XDG_STATE_HOME", blocker.c_str(), 1), 0);
  JournalStore& store = SystemJournalStore();
  std::string path, why;
  EXPECT_EQ(store.Create("run.log", path, why), nullptr);
  EXPECT_EQ(why.rfind(blocker + "/modem-update: ", 0), 0u) << why;
  EXPECT_TRUE(store.List().empty());
  EXPECT_EQ(HistoryText(store), "Es sind noch keine L\xE4ufe protokolliert (" + blocker + "/modem-update).\n");
}

}  // namespace
}  // namespace mfu
