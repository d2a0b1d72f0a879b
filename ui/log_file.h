// File seam of the log export: a file opened for appending, written and
// closed, each step with its result. The POSIX build and the Windows build
// each supply the system's own implementation (ui/posix, ui/win32); tests
// install fakes.
//
// Text mode is the sink's business: Write() takes the block as the program
// composes it, lines ended by "\n" (the pane's own "\r\n" included), and the
// file receives every 0x0A as 0x0D 0x0A, every other byte unchanged. The
// Windows sink gets that from the runtime's text mode (_O_TEXT); the POSIX
// sink, having no text mode, converts by itself. The export never converts,
// so the conversion happens exactly once.
#pragma once

#include <cstddef>
#include <memory>

namespace mfu {

// One open log file. Destroying it closes it if Close() was not called (the
// result is then lost: call Close() to learn it).
class LogFile {
 public:
  virtual ~LogFile() = default;

  // Appends `size` bytes at the end of the file, in text mode (see above).
  // True when every byte reached the file; false on any failure (a full disk),
  // after which the file keeps whatever reached it.
  virtual bool Write(const char* data, std::size_t size) = 0;

  // Closes the file; false when the system reports an error (data that had
  // not yet reached the disk may be lost). Later calls return true and do
  // nothing.
  virtual bool Close() = 0;
};

class LogFileSystem {
 public:
  virtual ~LogFileSystem() = default;

  // Opens `path` for appending, creating it with owner read and write (0600)
  // if it does not exist; never truncates. nullptr when it cannot be opened.
  virtual std::unique_ptr<LogFile> OpenForAppend(const char* path) = 0;
};

// The operating system's files. One per OS (ui/posix, ui/win32).
LogFileSystem& SystemLogFiles();

// The file system the export uses: SystemLogFiles() unless a test has
// installed another one. Window thread.
LogFileSystem& LogFiles();

// Tests only: installs `files` for the export; nullptr goes back to the
// system's files.
void SetLogFileSystem(LogFileSystem* files);

}  // namespace mfu
