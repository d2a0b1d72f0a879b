// File seam of the journal: the folder where every run keeps its log, one new
// file per run, appended to as the run goes, and read back by --history. The
// POSIX build and the Windows build each supply the system's own store
// (ui/posix, ui/win32); tests use one in memory.
//
// Form of the files: the POSIX store keeps UTF-8 with LF line ends (the
// journal converts before it hands bytes over); the Windows store keeps the
// log export's form, Windows-1252 with every "\n" stored as "\r\n" by the
// runtime's text mode, so that the log's own "\r\n" reach the disk as CR CR LF.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace mfu {

// One journal file being written. Owned by the journal's writer; one thread
// at a time. Destroying it closes it.
class JournalFile {
 public:
  virtual ~JournalFile() = default;
  // Appends `size` bytes and hands them to the system at once (no buffer of
  // the program's own: a crash or a kill loses nothing that was appended).
  // False on any failure (a full disk); what reached the file stays.
  virtual bool Append(const char* data, std::size_t size) = 0;
};

class JournalStore {
 public:
  virtual ~JournalStore() = default;

  // True: files are UTF-8 with LF; false: Windows-1252 in text mode.
  virtual bool Utf8() const = 0;

  // The folder as the user is told of it (Windows-1252), also when it does
  // not exist yet.
  virtual std::string Folder() = 0;

  // Creates the folder if it is missing (owner only), then the new file
  // `name` in it, never an existing one. nullptr with the system's reason in
  // `why` on failure; `path` receives the file's full path (Windows-1252).
  virtual std::unique_ptr<JournalFile> Create(const std::string& name, std::string& path, std::string& why) = 0;

  // The names of the files in the folder, in any order; none when the folder
  // is missing.
  virtual std::vector<std::string> List() = 0;

  // The whole content of file `name`; false when it cannot be read.
  virtual bool Read(const std::string& name, std::string& content) = 0;

  // This process's id, which keeps the files of parallel runs apart.
  virtual unsigned long ProcessId() = 0;
};

// The operating system's store. One per OS (ui/posix, ui/win32). Any thread.
JournalStore& SystemJournalStore();

}  // namespace mfu
