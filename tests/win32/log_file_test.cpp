// The log file on Windows: opened for appending in text mode, every "\n"
// reaches the disk as "\r\n" (the pane's "\r\n" as "\r\r\n"), other bytes
// unchanged, never truncated.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "ui/log_file.h"

namespace mfu {
namespace {

std::string TempPath(const char* name) {
  char dir[MAX_PATH];
  ::GetTempPathA(MAX_PATH, dir);
  return std::string(dir) + name;
}

std::string ReadBytes(const std::string& path) {
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  ::CloseHandle(file);
  return bytes;
}

TEST(Win32LogFile, TextModeTurnsEveryLineFeedIntoCrLfOnce) {
  const std::string path = TempPath("mfu_log_file_test.hlg");
  ::DeleteFileA(path.c_str());
  auto file = SystemLogFiles().OpenForAppend(path.c_str());
  ASSERT_NE(file, nullptr);
  const std::string block = "\r\nHeader  >>>>\nModem-Update Tool startet.\r\nl\xE4uft\n ------ <<<<\n";
  EXPECT_TRUE(file->Write(block.data(), block.size()));
  EXPECT_TRUE(file->Close());
  EXPECT_TRUE(file->Close());
  EXPECT_EQ(ReadBytes(path),
            "\r\r\nHeader  >>>>\r\nModem-Update Tool startet.\r\r\nl\xE4uft\r\n ------ <<<<\r\n");
  ::DeleteFileA(path.c_str());
}

TEST(Win32LogFile, SecondExportAppends) {
  const std::string path = TempPath("mfu_log_file_append.hlg");
  ::DeleteFileA(path.c_str());
  for (const char* text : {"eins\n", "zwei\n"}) {
    auto file = SystemLogFiles().OpenForAppend(path.c_str());
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->Write(text, 5));
    EXPECT_TRUE(file->Close());
  }
  EXPECT_EQ(ReadBytes(path), "eins\r\nzwei\r\n");
  ::DeleteFileA(path.c_str());
}

TEST(Win32LogFile, LargeWriteArrivesWhole) {
  const std::string path = TempPath("mfu_log_file_large.hlg");
  ::DeleteFileA(path.c_str());
  std::string pane;
  for (int i = 0; i < 2000; ++i) pane += "Zeile mit Text\n";
  auto file = SystemLogFiles().OpenForAppend(path.c_str());
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->Write(pane.data(), pane.size()));
  file.reset();  // the destructor closes
  const std::string bytes = ReadBytes(path);
  EXPECT_EQ(bytes.size(), pane.size() + 2000);
  EXPECT_EQ(bytes.substr(0, 16), "Zeile mit Text\r\n");
  ::DeleteFileA(path.c_str());
}

TEST(Win32LogFile, FolderOrMissingDirectoryCannotBeOpened) {
  char dir[MAX_PATH];
  ::GetTempPathA(MAX_PATH, dir);
  EXPECT_EQ(SystemLogFiles().OpenForAppend(dir), nullptr);
  EXPECT_EQ(SystemLogFiles().OpenForAppend(TempPath("no_such_dir_mfu\\x.hlg").c_str()), nullptr);
  EXPECT_EQ(SystemLogFiles().OpenForAppend(""), nullptr);
}

}  // namespace
}  // namespace mfu
