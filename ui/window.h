// The update window as the rest of the program sees it: a short list of
// operations on its controls. The Qt window, the plain Win32 dialog, the
// console front-end and the tests' recording window implement it.
//
// Threads: every operation may be called from any thread. Called from a worker
// thread, an operation returns only after the window's own thread has carried
// it out (the worker waits, as with a synchronous window message), except once
// the window is closing: then every call returns at once without effect (a
// question answers No, a file choice answers "none"), so that a stop procedure
// waiting for a worker can never be held up by the window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mfu {

// Control ids of dialog template 102; the core names its buttons by them.
enum ControlId : int {
  kIdBeenden = 1,          // "Beenden" (IDOK), default push button
  kIdStartUpdate = 1006,   // "Update Starten"
  kIdHelp = 1007,          // "Hilfe"
  kIdStatusGroup = 1008,   // group box "Ablauf-Zustand..."
  kIdLogPane = 1009,       // the log pane (multi-line, read-only edit)
  kIdLogGroup = 1010,      // group box "Update Log"
  kIdProgressBar = 1011,   // progress bar
  kIdSaveLog = 1012,       // "Log Speichern"
};

// The file dialog of the log export, in the terms of the Win32 open-file
// dialog that the export was built for.
struct FileDialogRequest {
  // Pairs of NUL-terminated texts (filter name, pattern), ended by an empty
  // text: "Firmware Update Log-Dateien\0*.hlg\0Alle Dateien\0*.*\0\0".
  const char* filter = nullptr;
  int filter_index = 1;              // 1-based: the filter selected at first
  char* file = nullptr;              // in: name proposed; out: full path chosen
  std::size_t file_capacity = 0;     // bytes of `file`, NUL included
  const char* initial_dir = nullptr; // nullptr: none of its own
  const char* title = nullptr;       // dialog title
  std::uint32_t flags = 0;           // OFN_* flags, 0x82804 for the export
};

// Open-file dialog flags the export asks for.
inline constexpr std::uint32_t kOfnHideReadOnly = 0x00000004;
inline constexpr std::uint32_t kOfnPathMustExist = 0x00000800;
inline constexpr std::uint32_t kOfnCreatePrompt = 0x00002000;
inline constexpr std::uint32_t kOfnExplorer = 0x00080000;

class Window {
 public:
  virtual ~Window() = default;

  // Adds `text` (NUL-terminated, Windows-1252) at the end of the log pane,
  // unchanged; the caret goes to the end first, any selection is given up,
  // and the end stays in view.
  virtual void AppendLog(const char* text) = 0;

  // The pane's whole text, Windows-1252, as one consistent snapshot.
  virtual std::string LogText() = 0;

  // Enables or disables button 1006, 1007, 1012 or 1.
  virtual void EnableButton(int id, bool enable) = 0;

  // Progress bar: range 0..upper, step size, one step.
  virtual void SetProgressRange(std::uint16_t upper) = 0;
  virtual void SetProgressStep(int step) = 0;
  virtual void StepProgress() = 0;

  // Modal question with Yes and No and the question icon, caption the
  // program's base name; true only for Yes.
  virtual bool AskYesNo(const char* text) = 0;
  // The same question with "Nein" as its default button: Enter (or Space on
  // the focused button, or an empty answer) says No. For a question whose
  // Yes cuts something under way short. The default asks as AskYesNo does,
  // for front-ends whose questions default to No anyway (the console).
  virtual bool AskYesNoDefaultNo(const char* text) { return AskYesNo(text); }

  // Modal notice with an OK button, caption the program's base name.
  virtual void ShowNotice(const char* text) = 0;

  // Runs the file dialog; true with the full path in request.file on a
  // choice, false on cancel or failure.
  virtual bool ChooseFile(FileDialogRequest& request) = 0;

  // A wait for the modem counts down: `what` (the port or command waited
  // for, no translation needed) has `seconds_left` whole seconds left; 0 ends
  // the countdown. Called about once a second by the waiting thread; must
  // not block. The default shows nothing (the log pane says what is asked).
  virtual void ShowWaiting(const char* what, int seconds_left) {
    (void)what;
    (void)seconds_left;
  }

  // The update has nothing left to do: its outcome (if any) is in the log and
  // no answer of the modem is awaited. Called on the session monitor thread;
  // must not block. A window the user closes ignores it; a front-end that
  // ends by itself (the console) closes on it.
  virtual void SessionRests() {}
};

// The one update window, through which every thread reaches it. Set before
// the session's threads start, cleared after they have ended.
Window* MainDialog();
void SetMainDialog(Window* window);

}  // namespace mfu
