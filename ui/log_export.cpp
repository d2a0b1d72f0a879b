#include "ui/log_export.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "resources/resources.h"
#include "ui/log_file.h"

namespace mfu {
namespace {

// Buffers of one dialog: the filter list and the limits of its texts.
constexpr std::size_t kFilterListSize = 64;
constexpr int kTitleLimit = 64;
constexpr int kFilterNameLimit = 40;

// Copies at most capacity - 1 bytes of `text` and a NUL.
void CopyBounded(char* target, std::size_t capacity, const char* text, std::size_t length) {
  if (capacity == 0) return;
  const std::size_t n = length < capacity - 1 ? length : capacity - 1;
  std::memcpy(target, text, n);
  target[n] = '\0';
}

void CopyBounded(char* target, std::size_t capacity, const char* text) {
  CopyBounded(target, capacity, text, std::strlen(text));
}

// Builds the filter list: pairs of NUL-terminated texts (name, pattern),
// ended by an empty text. A pair goes in whole or not at all, and a name is
// cut to what fits, so that the list always ends within its 64 bytes.
class FilterList {
 public:
  FilterList() { std::memset(bytes_, 0, sizeof bytes_); }

  // An empty name ends the list: nothing after it is offered.
  void AddPair(const char* name, const char* pattern) {
    if (ended_ || *name == '\0') {
      ended_ = true;
      return;
    }
    const std::size_t pattern_bytes = std::strlen(pattern) + 1;
    // Room for the name's characters, leaving its NUL, the pattern and the
    // list's final NUL.
    const std::size_t free_bytes = sizeof bytes_ - used_;
    if (free_bytes < pattern_bytes + 3) {
      ended_ = true;
      return;
    }
    std::size_t name_length = std::strlen(name);
    const std::size_t name_room = free_bytes - pattern_bytes - 2;
    if (name_length > name_room) name_length = name_room;
    std::memcpy(bytes_ + used_, name, name_length);
    used_ += name_length + 1;
    std::memcpy(bytes_ + used_, pattern, pattern_bytes);
    used_ += pattern_bytes;
  }

  // The final NUL is there already: the list was cleared and never filled
  // to its last byte.
  const char* bytes() const { return bytes_; }

 private:
  char bytes_[kFilterListSize];
  std::size_t used_ = 0;
  bool ended_ = false;
};

// Splits the last chosen path into the folder the dialog opens in and the
// name it proposes. Paths that start with '/' are POSIX paths, where only '/'
// separates (a colon or a backslash is part of a name there), and a file in
// the root gives the folder "/". Other paths are Windows paths: the last
// backslash, slash or colon separates; a backslash or slash is dropped, a
// colon is kept, so that D:\update.txt and D:update.txt both give "D:".
// Without any separator the name is the whole path and the folder stays as
// it was.
void ProposeFrom(const char* path, char* directory, std::size_t directory_capacity, char* name,
                 std::size_t name_capacity) {
  const std::size_t length = std::strlen(path);
  const bool posix = path[0] == '/';
  std::size_t separator = length;
  for (std::size_t i = length; i-- > 0;) {
    const char c = path[i];
    if (c == '/' || (!posix && (c == '\\' || c == ':'))) {
      separator = i;
      break;
    }
  }
  if (separator == length) {
    CopyBounded(name, name_capacity, path, length);
    return;
  }
  std::size_t directory_length = separator;
  if (path[separator] == ':') directory_length = separator + 1;
  if (posix && separator == 0) directory_length = 1;
  CopyBounded(directory, directory_capacity, path, directory_length);
  CopyBounded(name, name_capacity, path + separator + 1, length - separator - 1);
}

void ShowText(Window& window, unsigned id) {
  char text[256];
  LoadText(id, text, static_cast<int>(sizeof text));
  window.ShowNotice(text);
}

enum class BlockResult { kWritten, kCannotOpen, kWriteFailed };

// Writes header, text and trailer to an open file and closes it. A failed
// write stops the block: what reached the file stays there.
BlockResult WriteBlockTo(LogFile& file, const LocalTime& time, const std::string& pane) {
  const std::string header = LogHeader(time);
  bool written = file.Write(header.data(), header.size()) && file.Write(pane.data(), pane.size()) &&
                 file.Write(kLogTrailer, sizeof kLogTrailer - 1);
  // Closed even after a failed write; a failed close counts as a failed
  // write, since data still buffered by the system may be lost.
  written = file.Close() && written;
  return written ? BlockResult::kWritten : BlockResult::kWriteFailed;
}

// Opens `path`, takes the pane's text only then (one snapshot, as the window
// thread is busy here and no append can come between) and writes the block.
template <typename PaneText>
BlockResult WriteBlock(const char* path, const LocalTime& time, PaneText pane_text) {
  if (path == nullptr || *path == '\0') return BlockResult::kCannotOpen;
  std::unique_ptr<LogFile> file = LogFiles().OpenForAppend(path);
  if (!file) return BlockResult::kCannotOpen;
  return WriteBlockTo(*file, time, pane_text());
}

// true when written; else the text to tell (19 cannot open, 20 incomplete).
bool Report(BlockResult result, std::string* error_text) {
  if (result == BlockResult::kWritten) return true;
  if (error_text != nullptr) {
    char text[256];
    LoadText(result == BlockResult::kCannotOpen ? kTextLogCannotOpen : kTextLogWriteFailed, text,
             static_cast<int>(sizeof text));
    *error_text = text;
  }
  return false;
}

}  // namespace

std::string LogHeader(const LocalTime& time) {
  char header[128];
  const int n = std::snprintf(header, sizeof header, "\r\n%s %02d.%02d.%02d %02d:%02d:%02d  >>>>\n",
                              "Norda Modem-Update-Log", time.month, time.day, time.year, time.hour, time.minute,
                              time.second);
  if (n < 0) return std::string();
  return std::string(header, static_cast<std::size_t>(n) < sizeof header ? static_cast<std::size_t>(n)
                                                                         : sizeof header - 1);
}

const char* LogExport::ChooseLogFile(Window& owner) {
  // The first pattern is "*.hlg", although the name field proposes "*.log".
  // Without text 18 only the first filter is offered.
  FilterList filter;
  char name[kFilterNameLimit];
  LoadText(kTextLogFilterName, name, kFilterNameLimit);
  filter.AddPair(name, "*.hlg");
  LoadText(kTextAllFilesFilterName, name, kFilterNameLimit);
  filter.AddPair(name, "*.*");

  char file[kLogPathSize];
  CopyBounded(file, sizeof file, "*.log");
  if (last_path_[0] != '\0') ProposeFrom(last_path_, last_directory_, sizeof last_directory_, file, sizeof file);

  char title[kTitleLimit];
  LoadText(kTextLogDialogTitle, title, kTitleLimit);

  FileDialogRequest request;
  request.filter = filter.bytes();
  request.filter_index = 1;
  request.file = file;
  request.file_capacity = sizeof file;
  request.initial_dir = last_directory_[0] != '\0' ? last_directory_ : nullptr;
  request.title = title;
  request.flags = kLogDialogFlags;

  // A dialog that claims a choice but leaves no terminated, non-empty path
  // in the field has failed: never read past the field or open "".
  const bool chosen = owner.ChooseFile(request) && std::memchr(file, '\0', sizeof file) != nullptr && file[0] != '\0';
  if (!chosen) {
    last_path_[0] = '\0';
    return nullptr;
  }
  CopyBounded(last_path_, sizeof last_path_, file);
  return last_path_;
}

void LogExport::OnSaveLog() {
  Window* window = MainDialog();
  if (window == nullptr) return;
  const char* path = ChooseLogFile(*window);
  if (path == nullptr) return;
  switch (WriteBlock(path, GetLocalTime(), [window] { return window->LogText(); })) {
    case BlockResult::kWritten:
      break;
    case BlockResult::kCannotOpen:
      ShowText(*window, kTextLogCannotOpen);
      break;
    case BlockResult::kWriteFailed:
      // A full disk must not pass for a saved log: the user is told, and
      // what reached the file stays there.
      ShowText(*window, kTextLogWriteFailed);
      break;
  }
}

bool AppendLogBlock(const char* path, const std::string& pane, std::string* error_text) {
  return Report(WriteBlock(path, GetLocalTime(), [&pane] { return pane; }), error_text);
}

std::unique_ptr<LogFile> OpenLogBlockFile(const char* path) {
  if (path == nullptr || *path == '\0') return nullptr;
  return LogFiles().OpenForAppend(path);
}

bool AppendLogBlock(LogFile& file, const std::string& pane, std::string* error_text) {
  return Report(WriteBlockTo(file, GetLocalTime(), pane), error_text);
}

}  // namespace mfu
