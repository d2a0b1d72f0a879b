// Records the program's diagnostics for a test, and restores the stderr sink
// when the test ends.
#pragma once

#include <string>
#include <vector>

namespace mfu::test {

class DiagRecorder {
 public:
  DiagRecorder();
  ~DiagRecorder();
  DiagRecorder(const DiagRecorder&) = delete;
  DiagRecorder& operator=(const DiagRecorder&) = delete;

  std::vector<std::string> Lines() const;
  // How many diagnostics equal `text` exactly.
  int Count(const std::string& text) const;
  void Clear();
};

}  // namespace mfu::test
