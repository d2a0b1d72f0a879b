#include "tests/support/diag_recorder.h"

#include <algorithm>
#include <mutex>

#include "platform/diag.h"

namespace mfu::test {
namespace {
std::mutex g_lock;
std::vector<std::string> g_lines;

void Record(const char* text) {
  std::lock_guard<std::mutex> guard(g_lock);
  g_lines.emplace_back(text);
}
}  // namespace

DiagRecorder::DiagRecorder() {
  Clear();
  SetDiagSink(&Record);
}

DiagRecorder::~DiagRecorder() { SetDiagSink(nullptr); }

std::vector<std::string> DiagRecorder::Lines() const {
  std::lock_guard<std::mutex> guard(g_lock);
  return g_lines;
}

int DiagRecorder::Count(const std::string& text) const {
  std::lock_guard<std::mutex> guard(g_lock);
  return static_cast<int>(std::count(g_lines.begin(), g_lines.end(), text));
}

void DiagRecorder::Clear() {
  std::lock_guard<std::mutex> guard(g_lock);
  g_lines.clear();
}

}  // namespace mfu::test
