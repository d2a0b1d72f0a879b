#include "tests/support/recording_window.h"

#include <chrono>
#include <utility>

namespace mfu::test {

RecordingWindow::RecordingWindow() = default;

void RecordingWindow::AppendLog(const char* text) {
  std::function<void(const std::string&)> hook;
  {
    std::lock_guard<std::mutex> guard(lock_);
    log_ += text;
    appends_.emplace_back(text);
    hook = append_hook_;
  }
  if (hook) hook(text);
}

void RecordingWindow::SetAppendHook(std::function<void(const std::string&)> hook) {
  std::lock_guard<std::mutex> guard(lock_);
  append_hook_ = std::move(hook);
}

std::string RecordingWindow::LogText() {
  std::lock_guard<std::mutex> guard(lock_);
  return log_;
}

void RecordingWindow::EnableButton(int id, bool enable) {
  std::lock_guard<std::mutex> guard(lock_);
  buttons_[id] = enable;
  button_history_.emplace_back(id, enable);
}

void RecordingWindow::SessionRests() {
  std::lock_guard<std::mutex> guard(lock_);
  ++rests_;
  rested_.notify_all();
}

bool RecordingWindow::WaitForRest(long limit_ms) {
  std::unique_lock<std::mutex> guard(lock_);
  if (!rested_.wait_for(guard, std::chrono::milliseconds(limit_ms), [this] { return rests_ > rests_taken_; }))
    return false;
  rests_taken_ = rests_;
  return true;
}

int RecordingWindow::Rests() const {
  std::lock_guard<std::mutex> guard(lock_);
  return rests_;
}

void RecordingWindow::SetProgressRange(std::uint16_t upper) {
  std::lock_guard<std::mutex> guard(lock_);
  progress_upper_ = upper;
}

void RecordingWindow::SetProgressStep(int step) {
  std::lock_guard<std::mutex> guard(lock_);
  progress_step_ = step;
}

void RecordingWindow::StepProgress() {
  std::lock_guard<std::mutex> guard(lock_);
  ++progress_steps_;
}

bool RecordingWindow::AskYesNo(const char* text) {
  std::lock_guard<std::mutex> guard(lock_);
  questions_.emplace_back(text);
  questions_default_no_.push_back(false);
  return answer_;
}

bool RecordingWindow::AskYesNoDefaultNo(const char* text) {
  std::lock_guard<std::mutex> guard(lock_);
  questions_.emplace_back(text);
  questions_default_no_.push_back(true);
  return answer_;
}

std::vector<bool> RecordingWindow::QuestionsDefaultNo() const {
  std::lock_guard<std::mutex> guard(lock_);
  return questions_default_no_;
}

void RecordingWindow::ShowNotice(const char* text) {
  std::lock_guard<std::mutex> guard(lock_);
  notices_.emplace_back(text);
}

bool RecordingWindow::ChooseFile(FileDialogRequest& request) {
  std::function<bool(FileDialogRequest&)> chooser;
  {
    std::lock_guard<std::mutex> guard(lock_);
    chooser = chooser_;
  }
  return chooser ? chooser(request) : false;
}

void RecordingWindow::SetAnswer(bool yes) {
  std::lock_guard<std::mutex> guard(lock_);
  answer_ = yes;
}

void RecordingWindow::SetFileChooser(std::function<bool(FileDialogRequest&)> chooser) {
  std::lock_guard<std::mutex> guard(lock_);
  chooser_ = std::move(chooser);
}

bool RecordingWindow::ButtonEnabled(int id) const {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = buttons_.find(id);
  return it != buttons_.end() && it->second;
}

std::vector<std::pair<int, bool>> RecordingWindow::ButtonHistory() const {
  std::lock_guard<std::mutex> guard(lock_);
  return button_history_;
}

std::vector<std::string> RecordingWindow::Questions() const {
  std::lock_guard<std::mutex> guard(lock_);
  return questions_;
}

std::vector<std::string> RecordingWindow::Notices() const {
  std::lock_guard<std::mutex> guard(lock_);
  return notices_;
}

std::vector<std::string> RecordingWindow::Appends() const {
  std::lock_guard<std::mutex> guard(lock_);
  return appends_;
}

std::uint16_t RecordingWindow::ProgressUpper() const {
  std::lock_guard<std::mutex> guard(lock_);
  return progress_upper_;
}

int RecordingWindow::ProgressStep() const {
  std::lock_guard<std::mutex> guard(lock_);
  return progress_step_;
}

int RecordingWindow::ProgressSteps() const {
  std::lock_guard<std::mutex> guard(lock_);
  return progress_steps_;
}

}  // namespace mfu::test
