// A window for tests: records every operation, answers questions as told.
// Thread-safe; operations run on the calling thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ui/window.h"

namespace mfu::test {

class RecordingWindow : public Window {
 public:
  RecordingWindow();

  void AppendLog(const char* text) override;
  std::string LogText() override;
  void EnableButton(int id, bool enable) override;
  void SetProgressRange(std::uint16_t upper) override;
  void SetProgressStep(int step) override;
  void StepProgress() override;
  bool AskYesNo(const char* text) override;
  bool AskYesNoDefaultNo(const char* text) override;
  void ShowNotice(const char* text) override;
  bool ChooseFile(FileDialogRequest& request) override;
  void SessionRests() override;

  // Answers to AskYesNo (default: Yes) and ChooseFile (default: cancel).
  void SetAnswer(bool yes);
  // Called after each append, on the appending thread, without the window's
  // lock: a test can act at the moment a line is logged.
  void SetAppendHook(std::function<void(const std::string&)> hook);
  // Called with the request; return true and fill request.file for a choice.
  void SetFileChooser(std::function<bool(FileDialogRequest&)> chooser);

  bool ButtonEnabled(int id) const;  // buttons start disabled until set
  std::vector<std::pair<int, bool>> ButtonHistory() const;
  std::vector<std::string> Questions() const;
  std::vector<bool> QuestionsDefaultNo() const;  // per question: asked with "Nein" the default
  std::vector<std::string> Notices() const;
  std::vector<std::string> Appends() const;  // each AppendLog text
  std::uint16_t ProgressUpper() const;
  int ProgressStep() const;
  int ProgressSteps() const;  // StepProgress calls

  // Waits (real ms) until the session has come to rest since the last call;
  // false when `limit_ms` passed first.
  bool WaitForRest(long limit_ms);
  int Rests() const;  // SessionRests calls

 private:
  mutable std::mutex lock_;
  std::string log_;
  std::vector<std::string> appends_;
  std::map<int, bool> buttons_;
  std::vector<std::pair<int, bool>> button_history_;
  std::vector<std::string> questions_;
  std::vector<bool> questions_default_no_;
  std::vector<std::string> notices_;
  bool answer_ = true;
  std::function<bool(FileDialogRequest&)> chooser_;
  std::function<void(const std::string&)> append_hook_;
  std::uint16_t progress_upper_ = 100;
  int progress_step_ = 10;
  int progress_steps_ = 0;
  int rests_ = 0;
  int rests_taken_ = 0;
  std::condition_variable rested_;
};

}  // namespace mfu::test
