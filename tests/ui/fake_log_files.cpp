#include "tests/ui/fake_log_files.h"

namespace mfu::test {
namespace {

class FakeLogFile final : public LogFile {
 public:
  FakeLogFile(FakeLogFiles& files, std::string path) : files_(files), path_(std::move(path)) { ++files_.open_files; }
  ~FakeLogFile() override { Close(); }

  bool Write(const char* data, std::size_t size) override {
    ++files_.writes;
    if (closed_) return false;
    std::string& target = files_.contents[path_];
    std::size_t accepted = size;
    if (files_.capacity >= 0) {
      const std::size_t room = static_cast<std::size_t>(files_.capacity);
      if (accepted > room) accepted = room;
      files_.capacity -= static_cast<long>(accepted);
    }
    target.append(data, accepted);
    return accepted == size;
  }

  bool Close() override {
    if (closed_) return true;
    closed_ = true;
    ++files_.closes;
    --files_.open_files;
    return !files_.fail_close;
  }

 private:
  FakeLogFiles& files_;
  std::string path_;
  bool closed_ = false;
};

}  // namespace

std::unique_ptr<LogFile> FakeLogFiles::OpenForAppend(const char* path) {
  opened.emplace_back(path);
  if (unopenable.count(path) != 0) return nullptr;
  contents[path];  // exists from now on, even if nothing is written
  return std::make_unique<FakeLogFile>(*this, path);
}

}  // namespace mfu::test
