#include <cstdio>
#include <string>

#include "app/console/console_window.h"
#include "app/journal_run.h"
#include "app/qt/qt_app.h"
#include "app/real_session.h"
#include "app/window_front_end.h"
#include "resources/resources.h"
#include "resources/text_ids.h"
#include "ui/cp1252.h"

namespace mfu {
namespace {

// Text 33 on stderr, in the terminal's character set. May run inside the
// toolkit's fatal-error path, so it uses nothing of the toolkit.
void ReportNoDisplay() {
  char text[256];
  LoadText(kTextNoDisplay, text, static_cast<int>(sizeof text));
  const std::string shown = TerminalWantsUtf8() ? Cp1252ToUtf8(text) : std::string(text);
  std::fprintf(stderr, "%s\n", shown.c_str());
}

}  // namespace

int RunWindowFrontEnd(int argc, char** argv, const std::string& port_option) {
  RunJournal journal(port_option);  // the window puts it in front of itself (AttachJournal)
  RealSession session(port_option);
  const int status = RunQtApplication(argc, argv, session, &ReportNoDisplay);
  journal.Finish(status);
  return status;
}

}  // namespace mfu
