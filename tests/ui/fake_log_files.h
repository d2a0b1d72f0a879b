// An in-memory file system for the log export: records what the export hands
// the file seam (before text mode), and fails where told.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ui/log_file.h"

namespace mfu::test {

class FakeLogFiles : public LogFileSystem {
 public:
  std::unique_ptr<LogFile> OpenForAppend(const char* path) override;

  std::map<std::string, std::string> contents;  // path -> bytes written
  std::vector<std::string> opened;              // every path asked for
  std::set<std::string> unopenable;             // OpenForAppend gives nullptr
  // Bytes the next file accepts in all before its writes fail (a full disk);
  // a negative value never fails.
  long capacity = -1;
  bool fail_close = false;
  int writes = 0;
  int closes = 0;
  int open_files = 0;  // open now: a file must not outlive the export
};

}  // namespace mfu::test
