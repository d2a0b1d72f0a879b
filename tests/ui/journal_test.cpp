// The journal: the file's bytes in both forms, the outcome and its cause taken
// from the log, a journal that cannot be written (said once, never twice), a
// disk that hangs (the log never waits for it), and --history's lines.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "platform/local_time.h"
#include "resources/resources.h"
#include "resources/text_ids.h"
#include "tests/support/recording_window.h"
#include "ui/journal.h"
#include "ui/log.h"
#include "ui/log_export.h"
#include "ui/window.h"

namespace mfu {
namespace {

// A journal folder in memory: fails or hangs where told.
class MemoryStore final : public JournalStore {
 public:
  bool utf8 = true;
  bool refuse = false;     // Create fails, "kein Platz"
  long capacity = -1;      // bytes a file accepts in all before Append fails
  Event* gate = nullptr;   // Append waits for it (a hanging disk)
  Event* appended = nullptr;  // set after each Append

  bool Utf8() const override { return utf8; }
  std::string Folder() override { return "/mem"; }
  std::unique_ptr<JournalFile> Create(const std::string& name, std::string& path, std::string& why) override {
    const std::lock_guard<std::mutex> guard(lock_);
    if (refuse || files_.count(name) != 0) {
      why = "/mem: kein Platz";
      return nullptr;
    }
    files_[name];
    path = "/mem/" + name;
    return std::make_unique<File>(*this, name);
  }
  std::vector<std::string> List() override {
    const std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::string> names;
    for (const auto& entry : files_) names.push_back(entry.first);
    return names;
  }
  bool Read(const std::string& name, std::string& content) override {
    const std::lock_guard<std::mutex> guard(lock_);
    const auto found = files_.find(name);
    if (found == files_.end()) return false;
    content = found->second;
    return true;
  }
  unsigned long ProcessId() override { return 4242; }

  void Put(const std::string& name, const std::string& content) {
    const std::lock_guard<std::mutex> guard(lock_);
    files_[name] = content;
  }
  std::string Only() {
    const std::lock_guard<std::mutex> guard(lock_);
    return files_.size() == 1 ? files_.begin()->second : "<" + std::to_string(files_.size()) + " files>";
  }

 private:
  class File final : public JournalFile {
   public:
    File(MemoryStore& store, std::string name) : store_(store), name_(std::move(name)) {}
    bool Append(const char* data, std::size_t size) override {
      if (store_.gate != nullptr) store_.gate->Wait(kInfinite);
      bool ok = true;
      {
        const std::lock_guard<std::mutex> guard(store_.lock_);
        std::string& file = store_.files_[name_];
        if (store_.capacity >= 0 && file.size() + size > static_cast<std::size_t>(store_.capacity)) {
          size = static_cast<std::size_t>(store_.capacity) - file.size();
          ok = false;
        }
        file.append(data, size);
      }
      if (store_.appended != nullptr) store_.appended->Set();
      return ok;
    }

   private:
    MemoryStore& store_;
    const std::string name_;
  };

  std::mutex lock_;
  std::map<std::string, std::string> files_;
};

constexpr LocalTime kStart{2026, 12, 7, 7, 5, 9};

JournalRunInfo Info() {
  JournalRunInfo info;
  info.version = "9.8.7";
  info.image_name = "bc2780ix.bin";
  info.image_crc = 0x0badcafe;
  info.image_found = true;
  info.port_option = "COM3";
  return info;
}

// "s17" and the like; appended piece by piece (GCC 12 warns falsely,
// -Wrestrict, on a chain of + here).
std::string Numbered(const char* before, char who, int i, const char* after) {
  std::string text = before;
  text += who;
  text += std::to_string(i);
  text += after;
  return text;
}

int Count(const std::vector<std::string>& appends, const std::string& prefix) {
  int n = 0;
  for (const std::string& text : appends) n += text.rfind(prefix, 0) == 0 ? 1 : 0;
  return n;
}

class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override { SetLocalTimeForTest(&kStart); }
  void TearDown() override {
    SetMainDialog(nullptr);
    SetLocalTimeForTest(nullptr);
  }
  // One run's log through the program's own append calls.
  void Run(Journal& journal) {
    SetMainDialog(journal.Attach(window_));
    AppendLogString(kTextToolStarts);
    AppendLogFormatted(kTextModemFound, "/dev/ttyUSB0");
    AppendLog("a\r\r\nOK\r");  // the modem's own line ends, the last LF in the next text
    AppendLog("\nFlash l\xE4uft\r");
    AppendLog("bereit\r\n");
    AppendLog("Ursache: erste\r\n");
    AppendLog("Ursache: Das Modem hat Block 3 von 728 nicht angenommen (ZNAK).\r\n");
    MainDialog()->SessionRests();
  }
  test::RecordingWindow window_;
};

const std::string kHeadUtf8 =
    "\nNorda Modem-Update-Log 12.07.2026 07:05:09  >>>>\n"
    "Beginn: 07.12.2026 07:05:09\nVersion: modem-update 9.8.7\nFirmware: bc2780ix.bin, CRC-32 0badcafe\n"
    "Prozess: 4242\n";

TEST_F(JournalTest, Utf8FormHoldsHeadWholeLogAndTailByteForByte) {
  MemoryStore store;
  Journal journal;
  ASSERT_TRUE(journal.Begin(store, Info()));
  EXPECT_EQ(journal.Path(), "/mem/2026-12-07_07-05-09_4242.log");
  Run(journal);
  journal.Finish(JournalOutcome::kFailed);
  const std::string where = "Das Protokoll dieses Laufs steht in /mem/2026-12-07_07-05-09_4242.log.";
  EXPECT_EQ(store.Only(), kHeadUtf8 +
                              "Modem-Update Tool startet.\nEin KELVORA-Modem wurde an /dev/ttyUSB0 gefunden.\n"
                              "a\nOK\nFlash l\xC3\xA4uft\nbereit\nUrsache: erste\n"
                              "Ursache: Das Modem hat Block 3 von 728 nicht angenommen (ZNAK).\n" +
                              where +
                              "\nEnde: 07.12.2026 07:05:09\nSchnittstelle: /dev/ttyUSB0\nErgebnis: fehlgeschlagen\n"
                              "Ursache: Das Modem hat Block 3 von 728 nicht angenommen (ZNAK).\n\n ------ <<<<\n");
  // Text 42 ends the pane at the rest, and only once: Finish adds no second.
  const std::vector<std::string> appends = window_.Appends();
  ASSERT_FALSE(appends.empty());
  EXPECT_EQ(appends.back(), where + "\r\n");
  EXPECT_EQ(Count(appends, "Das Protokoll"), 1);
  EXPECT_EQ(journal.Outcome(), JournalOutcome::kFailed);
}

TEST_F(JournalTest, Cp1252FormKeepsTheLogsOwnBytesForTheTextModeFile) {
  MemoryStore store;
  store.utf8 = false;
  Journal journal;
  ASSERT_TRUE(journal.Begin(store, Info()));
  SetMainDialog(journal.Attach(window_));
  AppendLog("Update l\xE4uft ...\r\n");
  AppendLog("a\r\r\nOK\r");
  SetMainDialog(nullptr);  // the window is gone: text 42 goes to the journal alone
  journal.Finish(JournalOutcome::kSucceeded);
  EXPECT_EQ(store.Only(),
            "\r\nNorda Modem-Update-Log 12.07.2026 07:05:09  >>>>\nBeginn: 07.12.2026 07:05:09\n"
            "Version: modem-update 9.8.7\nFirmware: bc2780ix.bin, CRC-32 0badcafe\nProzess: 4242\n"
            "Update l\xE4uft ...\r\na\r\r\nOK\r"
            "Das Protokoll dieses Laufs steht in /mem/2026-12-07_07-05-09_4242.log.\r\n"
            "Ende: 07.12.2026 07:05:09\nSchnittstelle: COM3\nErgebnis: erfolgreich\n\n ------ <<<<\n");
  EXPECT_EQ(Count(window_.Appends(), "Das Protokoll"), 0);
}

TEST_F(JournalTest, OutcomeComesFromTheStatusAndACancelFromTheLog) {
  const struct {
    JournalOutcome given;
    bool cancel_in_log;
    const char* written;
  } kCases[] = {
      {JournalOutcome::kSucceeded, false, "Ergebnis: erfolgreich\n"},
      {JournalOutcome::kFailed, false, "Ergebnis: fehlgeschlagen\n"},
      {JournalOutcome::kFailed, true, "Ergebnis: abgebrochen\n"},
      {JournalOutcome::kNoModem, false, "Ergebnis: kein Modem\n"},
      {JournalOutcome::kDeclined, false, "Ergebnis: nicht gestartet\n"},
  };
  for (const auto& c : kCases) {
    MemoryStore store;
    Journal journal;
    ASSERT_TRUE(journal.Begin(store, Info()));
    SetMainDialog(journal.Attach(window_));
    if (c.cancel_in_log) ReportFailure("\r\nUpdate wurde unterbrochen!\r\n");
    journal.Finish(c.given);
    SetMainDialog(nullptr);
    const std::string file = store.Only();
    EXPECT_NE(file.find(c.written), std::string::npos) << c.written << file;
    // No port found in the log: the one the user named.
    EXPECT_NE(file.find("Schnittstelle: COM3\n"), std::string::npos);
  }
}

TEST_F(JournalTest, AJournalThatCannotBeCreatedIsSaidOnceAndNeverPointedTo) {
  MemoryStore store;
  store.refuse = true;
  Journal journal;
  EXPECT_FALSE(journal.Begin(store, Info()));
  Run(journal);
  journal.Finish(JournalOutcome::kFailed);
  const std::vector<std::string> appends = window_.Appends();
  ASSERT_GE(appends.size(), 2u);
  EXPECT_EQ(appends[1], "Das Protokoll dieses Laufs kann nicht gespeichert werden: /mem: kein Platz.\r\n");
  EXPECT_EQ(Count(appends, "Das Protokoll dieses Laufs kann nicht"), 1);
  EXPECT_EQ(Count(appends, "Das Protokoll dieses Laufs steht"), 0);
  EXPECT_TRUE(store.List().empty());
}

TEST_F(JournalTest, AFullDiskMidRunIsSaidOnceAndTheLogGoesOn) {
  MemoryStore store;
  store.capacity = static_cast<long>(kHeadUtf8.size()) + 10;
  Journal journal;
  ASSERT_TRUE(journal.Begin(store, Info()));
  SetMainDialog(journal.Attach(window_));
  AppendLog("Modem-Update Tool startet.\r\n");
  ASSERT_TRUE(journal.WaitWritten(10000));  // the writer has met the full disk
  AppendLog("zwei\r\n");
  AppendLog("drei\r\n");
  MainDialog()->SessionRests();
  journal.Finish(JournalOutcome::kSucceeded);
  const std::vector<std::string> appends = window_.Appends();
  const std::vector<std::string> expected = {
      "Modem-Update Tool startet.\r\n", "zwei\r\n",
      "Das Protokoll dieses Laufs kann nicht gespeichert werden: /mem/2026-12-07_07-05-09_4242.log.\r\n",
      "drei\r\n"};
  EXPECT_EQ(appends, expected);
  EXPECT_EQ(store.Only(), kHeadUtf8 + "Modem-Upda");
}

TEST_F(JournalTest, AHangingDiskNeverHoldsTheLogNorTheEnd) {
  // Static: a writer left blocked at the end outlives this test's frame.
  static Event gate(Event::Reset::kManual);
  static Event appended(Event::Reset::kAutomatic);
  static MemoryStore store;
  store.gate = &gate;
  store.appended = &appended;
  Journal journal;
  ASSERT_TRUE(journal.Begin(store, Info()));  // the writer now hangs in the head's write
  SetMainDialog(journal.Attach(window_));
  Event done(Event::Reset::kManual);
  // Two threads log as the sender and the monitor do.
  std::thread sender([&done] {
    for (int i = 0; i < 1000; ++i) AppendLog(Numbered("", 's', i, "\r\n").c_str());
    done.Set();
  });
  for (int i = 0; i < 1000; ++i) AppendLog(Numbered("", 'm', i, "\r\n").c_str());
  const bool returned = done.Wait(20000);
  if (!returned) gate.Set();
  sender.join();
  ASSERT_TRUE(returned) << "a log call waited for the disk";
  EXPECT_EQ(window_.Appends().size(), 2000u);
  // The end does not wait for the disk beyond its limit.
  SetMainDialog(nullptr);
  journal.Finish(JournalOutcome::kSucceeded, 50);  // returns with the writer still blocked
  gate.Set();
  ASSERT_TRUE(appended.Wait(20000));  // the head's write returns; the rest follows
  for (int tries = 0; tries < 2000 && store.Only().find(" ------ <<<<\n") == std::string::npos; ++tries)
    (void)appended.Wait(10);
  const std::string file = store.Only();
  // Every line, each thread's in its order.
  std::size_t s = 0, m = 0;
  for (int i = 0; i < 1000; ++i) {
    s = file.find(Numbered("\n", 's', i, "\n"), s);
    m = file.find(Numbered("\n", 'm', i, "\n"), m);
    ASSERT_NE(s, std::string::npos) << i;
    ASSERT_NE(m, std::string::npos) << i;
  }
  EXPECT_NE(file.find("Ergebnis: erfolgreich\n\n ------ <<<<\n"), std::string::npos);
}

TEST_F(JournalTest, HistoryListsTheRunsOldestFirstWithPortOutcomeAndCause) {
  MemoryStore store;
  EXPECT_EQ(HistoryText(store), "Es sind noch keine L\xE4ufe protokolliert (/mem).\n");
  const LocalTime later{2026, 12, 8, 9, 0, 0};
  SetLocalTimeForTest(&later);
  {
    Journal journal;
    ASSERT_TRUE(journal.Begin(store, Info()));
    SetMainDialog(journal.Attach(window_));
    AppendLogFormatted(kTextModemFound, "/dev/ttyUSB1");
    journal.Finish(JournalOutcome::kSucceeded);
  }
  SetLocalTimeForTest(&kStart);
  {
    Journal journal;
    ASSERT_TRUE(journal.Begin(store, Info()));
    Run(journal);
    journal.Finish(JournalOutcome::kFailed);
  }
  SetMainDialog(nullptr);
  // A run that was killed: its head and log, no tail. And files of others.
  store.Put("2026-12-07_08-00-00_7.log", "\nBeginn: 07.12.2026 08:00:00\nUpdate l\xC3\xA4uft ...\n");
  store.Put("notizen.txt", "Beginn: 01.01.2000 00:00:00\n");
  store.Put("fremd.log", "nichts\n");
  EXPECT_EQ(HistoryText(store),
            "07.12.2026 07:05:09  /dev/ttyUSB0  fehlgeschlagen  "
            "Ursache: Das Modem hat Block 3 von 728 nicht angenommen (ZNAK).\n"
            "07.12.2026 08:00:00  -  nicht beendet\n"
            "08.12.2026 09:00:00  /dev/ttyUSB1  erfolgreich\n");
}

}  // namespace
}  // namespace mfu
