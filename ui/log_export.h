// "Log Speichern": appends the log pane's whole text to a file the user picks,
// between a dated header and a trailer. A file collects the logs of many runs:
// it is never truncated. The chosen path is remembered for the rest of the run
// (nothing is stored between runs), so that the next export proposes it.
//
// A block on disk: "\r\nNorda Modem-Update-Log MM.DD.YYYY hh:mm:ss  >>>>\n",
// the pane's text (Windows-1252), "\n ------ <<<<\n", with every line feed
// stored as CR LF by the file seam (ui/log_file.h), so that the pane's own
// "\r\n" reaches the disk as CR CR LF. No byte-order mark, no NUL.
//
// Window thread (a LogExport and its state); the console front-end uses
// AppendLogBlock from its one thread.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/local_time.h"
#include "resources/text_ids.h"
#include "ui/log_file.h"
#include "ui/window.h"

namespace mfu {

// Capacity of the remembered path and folder and the dialog's name field:
// 255 characters and the NUL.
inline constexpr std::size_t kLogPathSize = 256;

// The flags the export's file dialog runs with: read-only box hidden, the
// folder must exist, ask before creating a file, explorer look (0x82804).
inline constexpr std::uint32_t kLogDialogFlags = kOfnHideReadOnly | kOfnPathMustExist | kOfnCreatePrompt | kOfnExplorer;

// The export as one window runs it, with what it remembers for the rest of
// the run. Owned by the window's controller (UpdateDialog). Window thread.
class LogExport {
 public:
  // Handler of button 1012: the file dialog over MainDialog, then one block
  // appended to the chosen file. Notice 19 when the file cannot be opened
  // (nothing written), notice 20 when a write or the close fails (the file
  // keeps what reached it). Cancelling the dialog writes and reports nothing.
  void OnSaveLog();

  // Runs the export's file dialog over `owner`. On a choice the full path is
  // stored in LastLogPath and returned; otherwise LastLogPath is emptied and
  // nullptr returned.
  const char* ChooseLogFile(Window& owner);

  // The path chosen last (empty at start and after a cancelled dialog), and
  // the folder of the last choice (taken when the next dialog is prepared;
  // empty at start; never emptied). NUL-terminated, at most kLogPathSize
  // bytes.
  const char* LastLogPath() const { return last_path_; }
  const char* LastLogDirectory() const { return last_directory_; }

 private:
  char last_path_[kLogPathSize] = {};
  char last_directory_[kLogPathSize] = {};
};

// The header line for `time`, as composed before the file's text mode:
// "\r\nNorda Modem-Update-Log 12.07.2026 07:05:09  >>>>\n".
std::string LogHeader(const LocalTime& time);

// The trailer line, 14 bytes before text mode: "\n ------ <<<<\n".
inline constexpr char kLogTrailer[] = "\n ------ <<<<\n";

// Appends one block holding `pane` (Windows-1252) to `path`, stamped with the
// local time now, without any dialog. False on failure, with text 19 (cannot
// be opened) or 20 (not completely written) in *error_text if given.
bool AppendLogBlock(const char* path, const std::string& pane, std::string* error_text);

// The same in two steps, for a file that must be known to open before
// anything happens (the console's --save-log): opened for appending now
// (nullptr when it cannot be), the block appended to it and the file closed
// at the end.
std::unique_ptr<LogFile> OpenLogBlockFile(const char* path);
bool AppendLogBlock(LogFile& file, const std::string& pane, std::string* error_text);

}  // namespace mfu
