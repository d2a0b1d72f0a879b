#include "ui/log_file.h"

#include <atomic>

namespace mfu {
namespace {
std::atomic<LogFileSystem*> g_files{nullptr};
}  // namespace

LogFileSystem& LogFiles() {
  LogFileSystem* files = g_files.load(std::memory_order_acquire);
  return files != nullptr ? *files : SystemLogFiles();
}

void SetLogFileSystem(LogFileSystem* files) { g_files.store(files, std::memory_order_release); }

}  // namespace mfu
