// The export against the in-memory file seam: the dialog it asks for, the
// block it composes, the path it remembers, and every failure it reports.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/local_time.h"
#include "resources/resources.h"
#include "tests/support/recording_window.h"
#include "tests/ui/fake_log_files.h"
#include "ui/log_export.h"
#include "ui/log_file.h"
#include "ui/window.h"

namespace mfu {
namespace {

using namespace std::string_literals;

// What one dialog was asked for, copied while the request was alive.
struct SeenRequest {
  std::string filter;  // up to and including the empty text that ends it
  int filter_index = 0;
  std::string file;
  std::size_t file_capacity = 0;
  bool has_initial_dir = false;
  std::string initial_dir;
  std::string title;
  std::uint32_t flags = 0;
};

std::string FilterBytes(const char* filter) {
  // Pairs of texts, ended by an empty one; never past the 64-byte list.
  std::size_t n = 0;
  while (n + 1 < 64 && !(filter[n] == '\0' && filter[n + 1] == '\0')) ++n;
  return std::string(filter, n + 2);
}

// A window that counts the pane snapshots the export takes.
class CountingWindow : public test::RecordingWindow {
 public:
  std::string LogText() override {
    ++log_text_calls;
    return RecordingWindow::LogText();
  }
  int log_text_calls = 0;
};

class LogExportTest : public ::testing::Test {
 protected:
  LogExport export_;
  void SetUp() override {
    SetLogFileSystem(&files_);
    SetMainDialog(&window_);
    SetLocalTimeForTest(&kTime);
  }
  void TearDown() override {
    SetMainDialog(nullptr);
    SetLogFileSystem(nullptr);
    SetLocalTimeForTest(nullptr);
    SetResourceSource(nullptr);
  }

  // The next dialog records its request and chooses `path` (nullptr: cancel).
  void NextChoice(const char* path) {
    const std::string chosen = path != nullptr ? path : "";
    const bool choose = path != nullptr;
    window_.SetFileChooser([this, chosen, choose](FileDialogRequest& request) {
      SeenRequest seen;
      seen.filter = FilterBytes(request.filter);
      seen.filter_index = request.filter_index;
      seen.file = request.file;
      seen.file_capacity = request.file_capacity;
      seen.has_initial_dir = request.initial_dir != nullptr;
      if (request.initial_dir != nullptr) seen.initial_dir = request.initial_dir;
      seen.title = request.title;
      seen.flags = request.flags;
      requests_.push_back(seen);
      if (!choose) return false;
      if (chosen.size() + 1 > request.file_capacity) return false;
      std::memcpy(request.file, chosen.c_str(), chosen.size() + 1);
      return true;
    });
  }

  static std::string Block(const std::string& pane) { return LogHeader(kTime) + pane + kLogTrailer; }

  static constexpr LocalTime kTime{2026, 12, 7, 7, 5, 9};
  test::FakeLogFiles files_;
  CountingWindow window_;
  std::vector<SeenRequest> requests_;
};

TEST(LogHeader, MonthDayYearAndTimeWithLeadingZeros) {
  EXPECT_EQ(LogHeader(LocalTime{2026, 12, 7, 7, 5, 9}), "\r\nNorda Modem-Update-Log 12.07.2026 07:05:09  >>>>\n");
  EXPECT_EQ(LogHeader(LocalTime{1999, 1, 31, 0, 0, 0}), "\r\nNorda Modem-Update-Log 01.31.1999 00:00:00  >>>>\n");
  EXPECT_EQ(LogHeader(LocalTime{2030, 10, 1, 23, 59, 58}), "\r\nNorda Modem-Update-Log 10.01.2030 23:59:58  >>>>\n");
}

TEST(LogHeader, TrailerIsFourteenBytes) {
  EXPECT_EQ(sizeof kLogTrailer - 1, 14u);
  EXPECT_EQ(std::string(kLogTrailer), "\n ------ <<<<\n");
}

TEST_F(LogExportTest, FirstDialogProposesStarDotLogWithTheHlgFilterAndNoFolder) {
  NextChoice(nullptr);
  export_.OnSaveLog();
  ASSERT_EQ(requests_.size(), 1u);
  const SeenRequest& r = requests_[0];
  EXPECT_EQ(r.filter, "Firmware Update Log-Dateien\0*.hlg\0Alle Dateien\0*.*\0\0"s);
  EXPECT_EQ(r.filter.size(), 52u);
  EXPECT_EQ(r.filter_index, 1);
  EXPECT_EQ(r.file, "*.log");
  EXPECT_EQ(r.file_capacity, 256u);
  EXPECT_FALSE(r.has_initial_dir);
  EXPECT_EQ(r.title, "Speichern Update-Log unter ...");
  EXPECT_EQ(r.flags, 0x82804u);
  EXPECT_EQ(kLogDialogFlags, 0x82804u);
}

TEST_F(LogExportTest, CancelledDialogWritesAndReportsNothing) {
  window_.AppendLog("Modem-Update Tool startet.\r\n");
  NextChoice(nullptr);
  export_.OnSaveLog();
  EXPECT_TRUE(files_.opened.empty());
  EXPECT_TRUE(window_.Notices().empty());
  EXPECT_STREQ(export_.LastLogPath(), "");
  EXPECT_EQ(window_.log_text_calls, 0);
}

TEST_F(LogExportTest, ExportWritesHeaderPaneAndTrailerOnceAndCloses) {
  const std::string pane = "Modem-Update Tool startet.\r\n\r\nUpdate l\xE4uft ...\r\n";
  window_.AppendLog(pane.c_str());
  NextChoice("/var/log/modem/update.hlg");
  export_.OnSaveLog();
  ASSERT_EQ(files_.opened, std::vector<std::string>{"/var/log/modem/update.hlg"});
  EXPECT_EQ(files_.contents["/var/log/modem/update.hlg"], Block(pane));
  EXPECT_EQ(files_.writes, 3);
  EXPECT_EQ(files_.closes, 1);
  EXPECT_EQ(files_.open_files, 0);
  EXPECT_EQ(window_.log_text_calls, 1);  // one snapshot
  EXPECT_TRUE(window_.Notices().empty());
  EXPECT_STREQ(export_.LastLogPath(), "/var/log/modem/update.hlg");
}

TEST_F(LogExportTest, SecondExportProposesTheFirstFileAndAppendsTheGrownPane) {
  window_.AppendLog("Modem-Update Tool startet.\r\n");
  NextChoice("/home/user/logs/update.txt");
  export_.OnSaveLog();
  const std::string first = window_.LogText();
  window_.AppendLog("\r\nUpdate l\xE4uft ...\r\n");
  NextChoice("/home/user/logs/update.txt");
  export_.OnSaveLog();
  ASSERT_EQ(requests_.size(), 2u);
  EXPECT_EQ(requests_[1].file, "update.txt");
  ASSERT_TRUE(requests_[1].has_initial_dir);
  EXPECT_EQ(requests_[1].initial_dir, "/home/user/logs");
  EXPECT_EQ(files_.contents["/home/user/logs/update.txt"],
            Block(first) + Block("Modem-Update Tool startet.\r\n\r\nUpdate l\xE4uft ...\r\n"));
}

struct Proposal {
  const char* chosen;
  const char* directory;
  const char* name;
};

TEST_F(LogExportTest, NextDialogProposesTheNameInItsFolder) {
  const Proposal cases[] = {
      {"/home/user/logs/update.txt", "/home/user/logs", "update.txt"},
      {"/update.txt", "/", "update.txt"},
      {"D:\\update.txt", "D:", "update.txt"},
      {"D:\\logs\\update.txt", "D:\\logs", "update.txt"},
      {"D:update.txt", "D:", "update.txt"},
      {"C:/Users/x/modem.log", "C:/Users/x", "modem.log"},
      // On POSIX a colon or backslash is part of a name.
      {"/home/user/a:b\\c.txt", "/home/user", "a:b\\c.txt"},
      {"/tmp/dir/", "/tmp/dir", ""},
  };
  for (const Proposal& c : cases) {
    SCOPED_TRACE(c.chosen);
    requests_.clear();
    NextChoice(c.chosen);
    export_.OnSaveLog();
    NextChoice(nullptr);
    export_.OnSaveLog();
    ASSERT_EQ(requests_.size(), 2u);
    EXPECT_EQ(requests_[1].file, c.name);
    ASSERT_TRUE(requests_[1].has_initial_dir);
    EXPECT_EQ(requests_[1].initial_dir, c.directory);
    EXPECT_STREQ(export_.LastLogDirectory(), c.directory);
  }
}

TEST_F(LogExportTest, AfterACancelStarDotLogInTheOldFolder) {
  NextChoice("D:\\logs\\update.txt");
  export_.OnSaveLog();
  NextChoice(nullptr);  // proposes update.txt, the user cancels
  export_.OnSaveLog();
  EXPECT_STREQ(export_.LastLogPath(), "");
  EXPECT_STREQ(export_.LastLogDirectory(), "D:\\logs");
  NextChoice(nullptr);
  export_.OnSaveLog();
  ASSERT_EQ(requests_.size(), 3u);
  EXPECT_EQ(requests_[2].file, "*.log");
  ASSERT_TRUE(requests_[2].has_initial_dir);
  EXPECT_EQ(requests_[2].initial_dir, "D:\\logs");
  EXPECT_EQ(files_.opened.size(), 1u);
}

TEST_F(LogExportTest, RelativeNameKeepsTheOldFolder) {
  NextChoice("/srv/logs/a.hlg");
  export_.OnSaveLog();
  NextChoice("plain.hlg");
  export_.OnSaveLog();
  NextChoice(nullptr);
  export_.OnSaveLog();
  ASSERT_EQ(requests_.size(), 3u);
  EXPECT_EQ(requests_[2].file, "plain.hlg");
  EXPECT_EQ(requests_[2].initial_dir, "/srv/logs");
}

TEST_F(LogExportTest, FileThatCannotBeOpenedShowsNotice19AndKeepsThePath) {
  window_.AppendLog("Modem-Update Tool startet.\r\n");
  files_.unopenable.insert("/locked/update.hlg");
  NextChoice("/locked/update.hlg");
  export_.OnSaveLog();
  EXPECT_EQ(window_.Notices(), std::vector<std::string>{"Diese Log-Datei kann nicht ge\xF6" "ffnet werden"});
  EXPECT_TRUE(files_.contents.empty());
  EXPECT_EQ(files_.writes, 0);
  EXPECT_EQ(window_.log_text_calls, 0);
  EXPECT_STREQ(export_.LastLogPath(), "/locked/update.hlg");
  NextChoice(nullptr);
  export_.OnSaveLog();
  EXPECT_EQ(requests_.back().file, "update.hlg");
  EXPECT_EQ(requests_.back().initial_dir, "/locked");
}

TEST_F(LogExportTest, FullDiskShowsNotice20AndKeepsWhatReachedTheFile) {
  const std::string pane = "Modem-Update Tool startet.\r\n";
  window_.AppendLog(pane.c_str());
  files_.capacity = 20;  // the header does not fit
  NextChoice("/full/update.hlg");
  export_.OnSaveLog();
  EXPECT_EQ(window_.Notices(), std::vector<std::string>{"Die Log-Datei konnte nicht vollst\xE4ndig geschrieben werden"});
  EXPECT_EQ(files_.contents["/full/update.hlg"], Block(pane).substr(0, 20));
  EXPECT_EQ(files_.writes, 1);  // nothing more after the failed write
  EXPECT_EQ(files_.closes, 1);
  EXPECT_EQ(files_.open_files, 0);
  EXPECT_STREQ(export_.LastLogPath(), "/full/update.hlg");
}

TEST_F(LogExportTest, FailedTrailerIsReportedToo) {
  const std::string pane = "Modem-Update Tool startet.\r\n";
  window_.AppendLog(pane.c_str());
  files_.capacity = static_cast<long>(LogHeader(kTime).size() + pane.size() + 13);
  NextChoice("/full/update.hlg");
  export_.OnSaveLog();
  EXPECT_EQ(window_.Notices().size(), 1u);
  EXPECT_EQ(files_.contents["/full/update.hlg"], Block(pane).substr(0, Block(pane).size() - 1));
}

TEST_F(LogExportTest, FailedCloseIsReportedAsIncompleteWrite) {
  window_.AppendLog("x\r\n");
  files_.fail_close = true;
  NextChoice("/nfs/update.hlg");
  export_.OnSaveLog();
  EXPECT_EQ(window_.Notices(), std::vector<std::string>{"Die Log-Datei konnte nicht vollst\xE4ndig geschrieben werden"});
  EXPECT_EQ(files_.contents["/nfs/update.hlg"], Block("x\r\n"));
}

TEST_F(LogExportTest, EmptyPaneStillWritesHeaderAndTrailer) {
  NextChoice("/tmp/empty.hlg");
  export_.OnSaveLog();
  EXPECT_EQ(files_.contents["/tmp/empty.hlg"], LogHeader(kTime) + kLogTrailer);
  EXPECT_TRUE(window_.Notices().empty());
}

TEST_F(LogExportTest, LongestPathThatFitsIsTakenWhole) {
  std::string path = "/" + std::string(200, 'd') + "/" + std::string(53, 'n');
  ASSERT_EQ(path.size(), 255u);
  NextChoice(path.c_str());
  export_.OnSaveLog();
  EXPECT_EQ(std::string(export_.LastLogPath()), path);
  EXPECT_EQ(files_.opened, std::vector<std::string>{path});
  NextChoice(nullptr);
  export_.OnSaveLog();
  EXPECT_EQ(requests_.back().file, std::string(53, 'n'));
  EXPECT_EQ(requests_.back().initial_dir, "/" + std::string(200, 'd'));
}

TEST_F(LogExportTest, DialogThatFillsTheFieldWithoutEndCountsAsNoChoice) {
  NextChoice("/tmp/ok.hlg");
  export_.OnSaveLog();
  ASSERT_STREQ(export_.LastLogPath(), "/tmp/ok.hlg");
  // A broken dialog: 300 characters cut to the field, no NUL anywhere.
  const std::string path(300, 'p');
  window_.SetFileChooser([&path](FileDialogRequest& request) {
    std::memcpy(request.file, path.data(), request.file_capacity);
    return true;
  });
  export_.OnSaveLog();
  EXPECT_STREQ(export_.LastLogPath(), "");
  EXPECT_EQ(files_.opened.size(), 1u);
  EXPECT_STREQ(export_.LastLogDirectory(), "/tmp");
}

TEST_F(LogExportTest, DialogThatChoosesAnEmptyNameCountsAsNoChoice) {
  window_.SetFileChooser([](FileDialogRequest& request) {
    request.file[0] = '\0';
    return true;
  });
  export_.OnSaveLog();
  EXPECT_TRUE(files_.opened.empty());
  EXPECT_STREQ(export_.LastLogPath(), "");
}

TEST_F(LogExportTest, NoWindowNoExport) {
  SetMainDialog(nullptr);
  export_.OnSaveLog();
  EXPECT_TRUE(files_.opened.empty());
}

// Texts the export loads, changed to test the bounds of its buffers.
class ChangedTexts : public ResourceSource {
 public:
  std::string name17 = "Firmware Update Log-Dateien";
  std::string name18 = "Alle Dateien";
  int LoadText(unsigned id, char* buffer, int limit) override {
    if (id == 17) return CopyText(name17.data(), static_cast<int>(name17.size()), buffer, limit);
    if (id == 18) return CopyText(name18.data(), static_cast<int>(name18.size()), buffer, limit);
    return LoadCompiledInText(id, buffer, limit);
  }
  FirmwareLookup FindFirmwareImage(FirmwareImage&) override { return FirmwareLookup::kNotFound; }
};

TEST_F(LogExportTest, WithoutText18OnlyTheFirstFilterIsOffered) {
  ChangedTexts texts;
  texts.name18.clear();
  SetResourceSource(&texts);
  NextChoice(nullptr);
  export_.OnSaveLog();
  ASSERT_EQ(requests_.size(), 1u);
  EXPECT_EQ(requests_[0].filter, "Firmware Update Log-Dateien\0*.hlg\0\0"s);
}

TEST_F(LogExportTest, LongFilterNamesAreCutAndTheListStaysEnded) {
  ChangedTexts texts;
  texts.name17 = std::string(60, 'A');  // loaded with a limit of 40: 39 kept
  texts.name18 = std::string(60, 'B');
  SetResourceSource(&texts);
  std::string raw;
  window_.SetFileChooser([&raw](FileDialogRequest& request) {
    raw.assign(request.filter, 64);
    return false;
  });
  export_.OnSaveLog();
  ASSERT_EQ(raw.size(), 64u);
  EXPECT_EQ(raw.substr(0, 40), std::string(39, 'A') + '\0');
  EXPECT_EQ(raw.substr(40, 6), "*.hlg"s + '\0');
  // The second name is cut so that its pattern and the final NUL still fit.
  EXPECT_EQ(raw.substr(46, 18), std::string(12, 'B') + '\0' + "*.*"s + '\0' + '\0');
  EXPECT_EQ(FilterBytes(raw.data()).size(), 64u);
}

TEST_F(LogExportTest, AppendLogBlockWritesTheSameBlockWithoutDialog) {
  std::string error = "untouched";
  EXPECT_TRUE(AppendLogBlock("/tmp/console.hlg", "Modem-Update Tool startet.\r\n", &error));
  EXPECT_EQ(error, "untouched");
  EXPECT_EQ(files_.contents["/tmp/console.hlg"], Block("Modem-Update Tool startet.\r\n"));
  EXPECT_TRUE(requests_.empty());
  EXPECT_TRUE(window_.Notices().empty());
  EXPECT_STREQ(export_.LastLogPath(), "");
}

TEST_F(LogExportTest, AppendLogBlockReportsTheGermanTexts) {
  std::string error;
  files_.unopenable.insert("/nope");
  EXPECT_FALSE(AppendLogBlock("/nope", "x", &error));
  EXPECT_EQ(error, "Diese Log-Datei kann nicht ge\xF6" "ffnet werden");
  files_.capacity = 3;
  EXPECT_FALSE(AppendLogBlock("/full", "x", &error));
  EXPECT_EQ(error, "Die Log-Datei konnte nicht vollst\xE4ndig geschrieben werden");
  EXPECT_FALSE(AppendLogBlock(nullptr, "x", nullptr));
  EXPECT_FALSE(AppendLogBlock("", "x", &error));
  EXPECT_EQ(error, "Diese Log-Datei kann nicht ge\xF6" "ffnet werden");
  EXPECT_TRUE(window_.Notices().empty());
}

TEST(LocalTimeSeam, FixedTimeAndBackToTheClock) {
  const LocalTime fixed{2026, 12, 7, 7, 5, 9};
  SetLocalTimeForTest(&fixed);
  const LocalTime got = GetLocalTime();
  EXPECT_EQ(got.year, 2026);
  EXPECT_EQ(got.month, 12);
  EXPECT_EQ(got.day, 7);
  EXPECT_EQ(got.hour, 7);
  EXPECT_EQ(got.minute, 5);
  EXPECT_EQ(got.second, 9);
  SetLocalTimeForTest(nullptr);
  const LocalTime now = GetLocalTime();
  EXPECT_GE(now.year, 2024);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_GE(now.day, 1);
  EXPECT_LE(now.day, 31);
  EXPECT_LE(now.hour, 23);
  EXPECT_LE(now.minute, 59);
  EXPECT_LE(now.second, 60);
}

}  // namespace
}  // namespace mfu
